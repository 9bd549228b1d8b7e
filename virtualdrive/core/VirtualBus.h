// Several virtual drives at once: at drive letters for the pass-through side
// and at adapter/target addresses for the ASPI side, with the host adapters'
// alignment masks and target counts, and the ASPI library's own answers.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "virtualdrive/core/VirtualDrive.h"

struct VirtualAdapter {
    uint16_t alignmentMask = 0; // HA_Unique bytes 0 and 1
    uint8_t targetCount = 8;    // HA_Unique byte 3
    uint8_t hostId = 7;         // HA_SCSI_ID
};

enum class VirtualAspiLoad : uint8_t { Loaded, Failed, MissingEntry };

class VirtualBus {
public:
    VirtualBus() = default;
    VirtualBus(const VirtualBus&) = delete;
    VirtualBus& operator=(const VirtualBus&) = delete;

    // Adds a drive at the letter and/or address of its configuration. Null
    // when neither is given or one of them is taken already. The drive lives
    // as long as the bus.
    VirtualDrive* addDrive(VirtualDriveConfig config);
    // Sets or replaces a host adapter. Adapters named by a drive address
    // exist with the defaults unless set here.
    void setAdapter(uint8_t number, VirtualAdapter adapter);

    VirtualDrive* driveAtLetter(char letter) const;
    VirtualDrive* driveAt(uint8_t adapter, uint8_t target) const;
    std::vector<VirtualDrive*> drives() const;
    std::optional<VirtualAdapter> adapter(uint8_t number) const;
    // One more than the highest adapter number in use, 0 without adapters.
    unsigned adapterCount() const;

    // Passes each command's latency to `sink`, for the drives present and
    // those added later.
    void setLatencySink(VirtualDrive::LatencySink sink);

    // The ASPI library itself: how loading it goes, and an answer to the
    // support query that replaces the one derived from the adapters.
    VirtualAspiLoad aspiLoad = VirtualAspiLoad::Loaded;
    std::optional<uint32_t> supportInfo;

private:
    struct Slot {
        std::unique_ptr<VirtualDrive> drive;
        char letter;
        bool onAspi;
        uint8_t adapter;
        uint8_t target;
    };
    std::vector<Slot> drives_;
    std::map<uint8_t, VirtualAdapter> adapters_;
    VirtualDrive::LatencySink sink_;
};

// Reads drive descriptions (docs/virtual-drive.md) into `bus`. Every line that
// cannot be used is skipped and reported as "line N: ..."; the rest is used.
std::vector<std::string> parseVirtualDrives(const std::string& text, VirtualBus& bus);
// The same for a file; a file that cannot be read is reported as such.
std::vector<std::string> loadVirtualDrives(const std::string& path, VirtualBus& bus);
