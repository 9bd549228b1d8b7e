// INQUIRY, TEST UNIT READY, START STOP UNIT and the vendor PCB query: what
// the drive says about itself, its tray and its medium.
#include "virtualdrive/core/VirtualDrive.h"
#include "virtualdrive/core/VirtualDriveCommands.h"

using namespace virtualdrivecommands;

namespace {

constexpr uint32_t kPcbParameter = 0x000F8048;
constexpr size_t kInquiryLength = 36;
constexpr size_t kPcbAnswerLength = 16;

} // namespace

VirtualDrive::Outcome VirtualDrive::inquiry(const VirtualRequest& r)
{
    const uint8_t* cdb = r.cdb;
    if ((cdb[1] & 0x01) != 0 || cdb[2] != 0) return {invalidField()};
    const uint32_t allocation = (uint32_t{cdb[3]} << 8) | cdb[4];
    if (!dataInAllowed(r, allocation)) return {phaseFailure()};

    uint8_t data[kInquiryLength] = {};
    data[0] = config_.deviceType;
    data[1] = 0x80; // removable medium
    data[3] = config_.inquiryByte3;
    data[4] = kInquiryLength - 5;
    padCopy(data + 8, config_.vendor, 8, ' ');
    padCopy(data + 16, config_.product, 16, ' ');
    padCopy(data + 32, config_.revision, 4, ' ');
    return {{}, deliver(r, data, sizeof data, allocation)};
}

VirtualDrive::Outcome VirtualDrive::stateAnswer() const
{
    if (trayOpen_) return {check(0x02, 0x3A, 0x02)};
    if (!config_.mediumLoaded) return {check(0x02, 0x3A, 0x01)};
    return {};
}

VirtualDrive::Outcome VirtualDrive::testUnitReady()
{
    if (probing_ && askAgainLeft_ != 0 && probesSinceFlash_ == config_.askAgainProbe) {
        --askAgainLeft_;
        probing_ = false;
        return {check(0x04, 0x40, 0xF7)};
    }
    if (turScriptNext_ < config_.turScript.size()) return {config_.turScript[turScriptNext_++]};
    return stateAnswer();
}

VirtualDrive::Outcome VirtualDrive::startStopUnit(const VirtualRequest& r)
{
    const uint8_t bits = r.cdb[4] & 0x03;
    if ((bits & 0x02) != 0) {
        if ((bits & 0x01) != 0) {
            trayOpen_ = false;
        } else {
            trayOpen_ = true;
            ++ejects_;
        }
    }
    return {};
}

VirtualDrive::Outcome VirtualDrive::vendorQuery(const VirtualRequest& r)
{
    const uint8_t* cdb = r.cdb;
    const uint32_t parameter =
        (uint32_t{cdb[4]} << 24) | (uint32_t{cdb[5]} << 16) | (uint32_t{cdb[6]} << 8) | cdb[7];
    const uint32_t allocation = (uint32_t{cdb[8]} << 8) | cdb[9];
    if (parameter != kPcbParameter) return {invalidField()};
    if (!dataInAllowed(r, allocation)) return {phaseFailure()};
    uint8_t data[kPcbAnswerLength] = {};
    data[0] = config_.pcbVersion;
    return {{}, deliver(r, data, sizeof data, allocation)};
}
