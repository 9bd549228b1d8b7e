// The secondary (EPS) firmware: written into a vendor buffer of the drive,
// read back and compared, committed, and its version checked.
#include "update/SecondaryFirmware.h"

#include <cstring>
#include <memory>
#include <new>

#include "package/UpdatePackage.h"
#include "platform/Platform.h"
#include "transport/DriveCommands.h"
#include "transport/DriveRecords.h"
#include "update/UpdateState.h"

namespace {

constexpr uint8_t kModeData = 0;
constexpr uint8_t kPrepareBuffer = 0x80;
constexpr uint8_t kDataBuffer = 0x81;
constexpr uint8_t kCommitBuffer = 0x82;
constexpr uint8_t kVersionBuffer = 0x84;
constexpr uint32_t kDataStart = 0x3400; // the image's first bytes are never sent
constexpr uint32_t kVersionLength = 7;
constexpr int kAttempts = 4;
constexpr unsigned kMostDifferingBytes = 3;
constexpr uint32_t kPhasePauseMs = 100;

int readVersion(const DriveEntry& drive, bool& matches)
{
    uint8_t version[kVersionLength] = {};
    const int result = readBuffer(drive, version, kVersionLength, 0, kModeData, kVersionBuffer);
    matches = std::memcmp(version, package.epsVersion, kVersionLength) == 0;
    return result;
}

int prepare(const DriveEntry& drive)
{
    return writeBuffer(drive, nullptr, 0, 0, kModeData, kPrepareBuffer);
}

// Runs `command` up to four times, preparing the buffer again after each
// failure but the last. Answers the last result.
template <typename Command> int withRetries(const DriveEntry& drive, Command command)
{
    int result = Ok;
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        result = command();
        if (result == Ok || attempt == kAttempts) break;
        prepare(drive);
    }
    return result;
}

} // namespace

int updateSecondaryFirmware()
{
    if (package.epsFileSize <= kDataStart) return Ok;
    // A named image that is not in memory cannot be written or verified.
    if (package.epsImage == nullptr) return UpdateFailed;

    const uint32_t length = package.epsFileSize - kDataStart;
    // The length goes to the drive in 24 bits; a longer one would be cut.
    if (length > 0xFFFFFF) return UpdateFailed;
    const uint8_t* image = package.epsImage + kDataStart;
    std::unique_ptr<uint8_t[]> readBack(new (std::nothrow) uint8_t[package.epsFileSize]);
    if (!readBack) return NoMemory;

    const DriveEntry& drive = driveEntries[selectedDrive];

    bool current = false;
    int result = readVersion(drive, current);
    if (result != Ok) return result;
    if (current) return Ok;

    updateState.phase.store(PhaseSecondary, std::memory_order_release);
    sys().waitMilliseconds(kPhasePauseMs);

    result = prepare(drive);
    if (result != Ok) return result;

    unsigned differingBytes = 0;
    for (;;) {
        result = withRetries(drive, [&] {
            return writeBuffer(drive, image, length, kDataStart, kModeData, kDataBuffer);
        });
        if (result != Ok) return result;

        result = withRetries(drive, [&] {
            return readBuffer(drive, readBack.get(), length, kDataStart, kModeData, kDataBuffer);
        });
        if (result != Ok) return result;

        bool differed = false;
        for (uint32_t i = 0; i < length; ++i) {
            if (readBack[i] == image[i]) continue;
            differed = true;
            if (++differingBytes > kMostDifferingBytes) return CompareFailed;
        }
        if (!differed) break;
    }

    result = writeBuffer(drive, nullptr, 0, 0, kModeData, kCommitBuffer);
    if (result != Ok) return result;

    result = readVersion(drive, current);
    if (result != Ok) return result;
    return current ? Ok : UpdateFailed;
}
