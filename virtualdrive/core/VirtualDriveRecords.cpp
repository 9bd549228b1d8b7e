// What the drive kept for a test to read, and the text forms of its answers.
#include <algorithm>
#include <cstdio>

#include "virtualdrive/core/VirtualDrive.h"

std::array<uint8_t, 32> virtualSenseData(const VirtualSense& sense)
{
    std::array<uint8_t, 32> data{};
    data[0] = 0x70;
    data[2] = sense.key;
    data[7] = 10;
    data[12] = sense.asc;
    data[13] = sense.ascq;
    return data;
}

std::string virtualSenseText(const VirtualSense& sense)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02X-%02X-%02X", sense.key, sense.asc, sense.ascq);
    return text;
}

VirtualDriveConfig VirtualDrive::config() const
{
    std::lock_guard lock(mutex_);
    return config_;
}

std::vector<VirtualCommandRecord> VirtualDrive::commands() const
{
    std::lock_guard lock(mutex_);
    return commands_;
}

void VirtualDrive::clearCommands()
{
    std::lock_guard lock(mutex_);
    commands_.clear();
}

uint32_t VirtualDrive::ejectCount() const
{
    std::lock_guard lock(mutex_);
    return ejects_;
}

bool VirtualDrive::trayOpen() const
{
    std::lock_guard lock(mutex_);
    return trayOpen_;
}

uint32_t VirtualDrive::flashCount() const
{
    std::lock_guard lock(mutex_);
    return flashes_;
}

std::vector<uint8_t> VirtualDrive::flashedImage() const
{
    std::lock_guard lock(mutex_);
    return flashed_;
}

std::vector<uint8_t> VirtualDrive::receivedImage() const
{
    std::lock_guard lock(mutex_);
    return received_;
}

std::vector<uint8_t> VirtualDrive::epsCommitted() const
{
    std::lock_guard lock(mutex_);
    return epsCommitted_;
}

std::string VirtualDrive::reportedEpsVersion() const
{
    std::lock_guard lock(mutex_);
    return epsReported_;
}

uint32_t VirtualDrive::epsCommitCount() const
{
    std::lock_guard lock(mutex_);
    return epsCommits_;
}

std::optional<VirtualCommandRecord> VirtualDrive::lastCommand() const
{
    std::lock_guard lock(mutex_);
    if (commands_.empty()) return std::nullopt;
    return commands_.back();
}

size_t VirtualDrive::commandCount() const
{
    std::lock_guard lock(mutex_);
    return commands_.size();
}

std::string virtualCommandLine(const VirtualCommandRecord& r)
{
    std::string line;
    char part[64];
    const uint8_t shown = std::min<uint8_t>(r.cdbLength, 16);
    for (uint8_t i = 0; i < shown; ++i) {
        std::snprintf(part, sizeof part, i == 0 ? "%02X" : " %02X", r.cdb[i]);
        line += part;
    }
    const char* direction = r.direction == VirtualDirection::In    ? "in"
                            : r.direction == VirtualDirection::Out ? "out"
                                                                   : "none";
    std::snprintf(part, sizeof part, " | %s %lu | ", direction,
                  static_cast<unsigned long>(r.dataLength));
    line += part;
    if (r.requestFailed) {
        std::snprintf(part, sizeof part, "error %lu ", static_cast<unsigned long>(r.systemError));
        line += part;
    }
    std::snprintf(part, sizeof part, "srb %02X ha %02X scsi %02X sense ", r.srbStatus, r.haStatus,
                  r.scsiStatus);
    line += part + virtualSenseText(r.sense);
    return line;
}

uint32_t VirtualDrive::openCount() const
{
    std::lock_guard lock(mutex_);
    return opens_;
}
