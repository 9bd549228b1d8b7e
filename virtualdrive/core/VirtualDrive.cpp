// The drive's entry points: one command at a time through the fault rules
// to its handler, and the device opens and capability queries of the
// pass-through side.
#include "virtualdrive/core/VirtualDrive.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "virtualdrive/core/VirtualDriveCommands.h"

using namespace virtualdrivecommands;

namespace {

constexpr uint8_t kCheckCondition = 0x02;
constexpr uint8_t kSrbComplete = 0x01;
constexpr uint8_t kSrbError = 0x04;
constexpr uint8_t kHaDataOverrun = 0x12;

// Command block length the opcode's group needs.
uint8_t neededLength(uint8_t opcode)
{
    if (opcode < 0x20) return 6;
    if (opcode < 0x60) return 10;
    return 12;
}

bool matches(const VirtualFault& f, const uint8_t* cdb)
{
    if (f.on != VirtualFault::On::Command || f.opcode != cdb[0]) return false;
    if (f.mode && *f.mode != (cdb[1] & 0x1F)) return false;
    if (f.bufferId && *f.bufferId != cdb[2]) return false;
    return true;
}

bool activeNow(VirtualFault& f)
{
    ++f.seen;
    return f.seen >= f.from && (f.to == 0 || f.seen <= f.to);
}

VirtualAnswer answerFor(const VirtualStatus& s, uint32_t transferred)
{
    VirtualAnswer a;
    a.transferred = transferred;
    if (s.sense) a.sense = virtualSenseData(*s.sense);
    const uint8_t target = s.targetStatus.value_or(s.sense ? kCheckCondition : 0);
    a.scsiStatus = target;
    a.targetStatus = target;
    a.haStatus = s.haStatus.value_or(0);
    const bool adapterFails = a.haStatus != 0 && a.haStatus != kHaDataOverrun;
    const bool requestFails =
        s.srbStatus && *s.srbStatus != kSrbComplete && *s.srbStatus != kSrbError;
    if (s.systemError) {
        a.requestOk = false;
        a.systemError = *s.systemError;
    } else if (adapterFails || requestFails) {
        a.requestOk = false;
        a.systemError = kErrorIoDevice;
    }
    a.srbStatus = s.srbStatus.value_or(s.any() ? kSrbError : kSrbComplete);
    return a;
}

} // namespace

VirtualDrive::VirtualDrive(VirtualDriveConfig config)
    : config_(std::move(config)), askAgainLeft_(config_.askAgainTimes),
      epsStaging_(config_.epsSize, 0xFF), epsCommitted_(config_.epsSize, 0xFF),
      epsReported_(config_.epsVersion)
{
}

void VirtualDrive::setLatencySink(LatencySink sink)
{
    std::lock_guard lock(mutex_);
    sink_ = std::move(sink);
}

VirtualAnswer VirtualDrive::execute(const VirtualRequest& request)
{
    VirtualAnswer answer;
    uint32_t latency = 0;
    LatencySink sink;
    {
        std::lock_guard lock(mutex_);
        VirtualCommandRecord record;
        const uint8_t copied = std::min<uint8_t>(request.cdbLength, 16);
        if (request.cdb != nullptr) std::memcpy(record.cdb.data(), request.cdb, copied);
        record.cdbLength = request.cdbLength;
        record.direction = request.direction;
        record.dataLength = request.dataLength;
        record.timeoutSeconds = request.timeoutSeconds;
        record.viaAspi = request.viaAspi;
        if (request.direction == VirtualDirection::Out && request.data != nullptr)
            record.data.assign(request.data, request.data + request.dataLength);

        // A block too short to hold the opcode is looked at as zeros past its end.
        const uint8_t* cdb = record.cdb.data();
        if (cdb[0] == 0x00 && probing_) ++probesSinceFlash_;

        VirtualStatus forced;
        std::optional<uint32_t> forcedLatency;
        uint32_t flip = 0;
        for (auto& fault : config_.faults) {
            if (!matches(fault, cdb) || !activeNow(fault)) continue;
            if (!forced.any() && fault.status.any()) forced = fault.status;
            if (!forcedLatency && fault.latency) forcedLatency = fault.latency;
            if (flip == 0) flip = fault.flipBytes;
        }
        latency = forcedLatency.value_or(config_.latency);

        if (request.timeoutSeconds != 0 &&
            uint64_t{latency} > uint64_t{request.timeoutSeconds} * 1000) {
            // The host gives up before the drive answers.
            latency = request.timeoutSeconds * 1000;
            VirtualStatus timedOut;
            timedOut.systemError = kErrorSemTimeout;
            timedOut.srbStatus = kSrbError;
            answer = answerFor(timedOut, 0);
        } else if (forced.any()) {
            answer = answerFor(forced, 0);
        } else {
            VirtualRequest own = request;
            own.cdb = cdb;
            const Outcome outcome = perform(own, flip);
            answer = answerFor(outcome.status, outcome.transferred);
        }

        record.requestFailed = !answer.requestOk;
        record.systemError = answer.systemError;
        record.srbStatus = answer.srbStatus;
        record.haStatus = answer.haStatus;
        record.scsiStatus = answer.scsiStatus;
        record.sense = VirtualSense{answer.sense[2], answer.sense[12], answer.sense[13]};
        commands_.push_back(std::move(record));
        sink = sink_;
    }
    if (latency != 0 && sink) sink(latency);
    return answer;
}

VirtualDrive::Outcome VirtualDrive::perform(const VirtualRequest& request, uint32_t& flip)
{
    const uint8_t* cdb = request.cdb;
    const uint8_t opcode = cdb[0];
    if (request.cdbLength < neededLength(opcode)) return {invalidField()};
    // Bits 5 to 7 of byte 1 address a logical unit; this drive has only unit 0.
    if ((cdb[1] & 0xE0) != 0 && opcode != 0xF5) return {check(0x05, 0x25, 0x00)};

    Outcome outcome;
    switch (opcode) {
    case 0x12:
        outcome = inquiry(request);
        break;
    case 0x13:
        outcome = config_.answersInquiry13 ? inquiry(request) : Outcome{invalidOpcode()};
        break;
    case 0x00:
        outcome = testUnitReady();
        break;
    case 0x1B:
        outcome = startStopUnit(request);
        break;
    case 0x3B:
        outcome = writeBuffer(request);
        break;
    case 0x3C:
        outcome = readBuffer(request);
        break;
    case 0xF5:
        outcome = vendorQuery(request);
        break;
    default:
        outcome = hostCommand(request).value_or(Outcome{invalidOpcode()});
        break;
    }

    if (flip != 0 && outcome.transferred != 0 && request.direction == VirtualDirection::In) {
        const uint32_t n = std::min(flip, outcome.transferred);
        const uint32_t stride = outcome.transferred / n;
        for (uint32_t i = 0; i < n; ++i)
            request.data[i * stride] ^= 0xFF;
    }
    return outcome;
}

bool VirtualDrive::open(bool readWrite)
{
    std::lock_guard lock(mutex_);
    ++opens_;
    for (auto& fault : config_.faults) {
        if (fault.on != VirtualFault::On::Open) continue;
        if (fault.access == VirtualFault::Access::ReadWrite && !readWrite) continue;
        if (fault.access == VirtualFault::Access::ReadOnly && readWrite) continue;
        if (activeNow(fault)) return false;
    }
    return true;
}

bool VirtualDrive::capabilities(uint32_t& mask)
{
    std::lock_guard lock(mutex_);
    bool ok = true;
    for (auto& fault : config_.faults) {
        if (fault.on == VirtualFault::On::Capabilities && activeNow(fault)) ok = false;
    }
    mask = ok ? config_.passThroughMask : 0;
    return ok;
}
