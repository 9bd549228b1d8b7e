// The commands an operating system sends any CD-ROM drive of its own accord
// (when it finds the drive, opens and closes its device node, or polls it for
// a disc): REQUEST SENSE, MODE SENSE page 0x2A, GET CONFIGURATION, GET EVENT
// STATUS NOTIFICATION, PREVENT ALLOW MEDIUM REMOVAL and the reads of a disc.
// The drive never holds a readable disc: the reads answer from the tray.
#include "virtualdrive/core/VirtualDrive.h"
#include "virtualdrive/core/VirtualDriveCommands.h"

using namespace virtualdrivecommands;

namespace {

constexpr uint8_t kCapabilitiesPage = 0x2A;
constexpr uint8_t kAllPages = 0x3F;
constexpr uint8_t kMediaEventClass = 0x10;
constexpr uint16_t kReadSpeed = 4234; // kB/s, 24x

uint16_t be16(const uint8_t* p)
{
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

void putBe16(uint8_t* p, size_t value)
{
    p[0] = static_cast<uint8_t>(value >> 8);
    p[1] = static_cast<uint8_t>(value);
}

// Page 0x2A, CD capabilities and mechanical status: reads CD-R and CD-RW,
// writes nothing through the host's own commands, a tray that locks and
// ejects.
constexpr size_t kCapabilitiesLength = 22;
void capabilitiesPage(uint8_t* p)
{
    p[0] = kCapabilitiesPage;
    p[1] = kCapabilitiesLength - 2;
    p[2] = 0x03;                 // reads CD-R, CD-RW
    p[6] = 0x20 | 0x08 | 0x01;   // tray loading, eject, lock
    putBe16(p + 8, kReadSpeed);  // maximum read speed
    putBe16(p + 12, 2048);       // buffer size, kB
    putBe16(p + 14, kReadSpeed); // current read speed
}

} // namespace

std::optional<VirtualDrive::Outcome> VirtualDrive::hostCommand(const VirtualRequest& r)
{
    const uint8_t* cdb = r.cdb;
    switch (cdb[0]) {
    case 0x03: // REQUEST SENSE
        return requestSense(r);
    case 0x1A: // MODE SENSE(6)
    case 0x5A: // MODE SENSE(10)
        return modeSense(r);
    case 0x46: // GET CONFIGURATION
        return getConfiguration(r);
    case 0x4A: // GET EVENT STATUS NOTIFICATION
        return eventStatus(r);
    case 0x1E: // PREVENT ALLOW MEDIUM REMOVAL
        return Outcome{};
    case 0x25: // READ CAPACITY
    case 0x28: // READ(10)
    case 0xA8: // READ(12)
    case 0xBE: // READ CD
    case 0x42: // READ SUB-CHANNEL
    case 0x43: // READ TOC/PMA/ATIP
    case 0x44: // READ HEADER
    case 0x51: // READ DISC INFORMATION
    case 0x52: // READ TRACK INFORMATION
    case 0xAD: // READ DISC STRUCTURE
    {
        const Outcome state = stateAnswer();
        if (state.status.any()) return state;
        return Outcome{check(0x05, 0x30, 0x00)}; // a disc, but none this drive can read
    }
    default:
        return std::nullopt;
    }
}

VirtualDrive::Outcome VirtualDrive::requestSense(const VirtualRequest& r)
{
    const uint32_t allocation = r.cdb[4];
    if (!dataInAllowed(r, allocation)) return {phaseFailure()};
    const Outcome state = stateAnswer();
    const auto data = virtualSenseData(state.status.sense.value_or(VirtualSense{}));
    return {{}, deliver(r, data.data(), 18, allocation)};
}

VirtualDrive::Outcome VirtualDrive::modeSense(const VirtualRequest& r)
{
    const uint8_t* cdb = r.cdb;
    const bool ten = cdb[0] == 0x5A;
    const uint8_t page = cdb[2] & 0x3F;
    const uint8_t control = cdb[2] >> 6;
    if (control == 3) return {check(0x05, 0x39, 0x00)}; // no saved values
    if (page != kCapabilitiesPage && page != kAllPages) return {invalidField()};
    const uint32_t allocation = ten ? be16(cdb + 7) : cdb[4];
    if (!dataInAllowed(r, allocation)) return {phaseFailure()};

    // Mode parameter header without block descriptors, then the page.
    const size_t header = ten ? 8 : 4;
    uint8_t data[8 + kCapabilitiesLength] = {};
    const size_t total = header + kCapabilitiesLength;
    if (ten) {
        putBe16(data, total - 2);
    } else {
        data[0] = static_cast<uint8_t>(total - 1);
    }
    if (control == 1) { // changeable values: none
        data[header] = kCapabilitiesPage;
        data[header + 1] = kCapabilitiesLength - 2;
    } else {
        capabilitiesPage(data + header);
    }
    return {{}, deliver(r, data, total, allocation)};
}

VirtualDrive::Outcome VirtualDrive::getConfiguration(const VirtualRequest& r)
{
    // The feature header alone: no current profile (no disc), no features.
    const uint32_t allocation = be16(r.cdb + 7);
    if (!dataInAllowed(r, allocation)) return {phaseFailure()};
    uint8_t data[8] = {};
    data[3] = 4; // data length: the bytes after this field
    return {{}, deliver(r, data, sizeof data, allocation)};
}

VirtualDrive::Outcome VirtualDrive::eventStatus(const VirtualRequest& r)
{
    const uint8_t* cdb = r.cdb;
    if ((cdb[1] & 0x01) == 0) return {invalidField()}; // polled only
    const uint32_t allocation = be16(cdb + 7);
    if (!dataInAllowed(r, allocation)) return {phaseFailure()};

    uint8_t data[8] = {};
    data[3] = kMediaEventClass; // supported event classes
    size_t total = 4;
    if ((cdb[4] & kMediaEventClass) != 0) {
        data[1] = 6;
        data[2] = 0x04; // media class
        // Descriptor: no event; tray open or medium present.
        data[5] = trayOpen_ ? 0x01 : (config_.mediumLoaded ? 0x02 : 0x00);
        total = 8;
    } else {
        data[1] = 2;
        data[2] = 0x80; // no event available
    }
    return {{}, deliver(r, data, total, allocation)};
}
