#include "virtualdrive/core/VirtualDrive.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

namespace {

constexpr uint8_t kCheckCondition = 0x02;
constexpr uint8_t kSrbComplete = 0x01;
constexpr uint8_t kSrbError = 0x04;
constexpr uint8_t kHaDataOverrun = 0x12;
constexpr uint8_t kHaPhaseFailure = 0x14;
constexpr uint32_t kPcbParameter = 0x000F8048;
constexpr size_t kInquiryLength = 36;
constexpr size_t kPcbAnswerLength = 16;
constexpr size_t kEpsVersionLength = 7;

VirtualStatus check(uint8_t key, uint8_t asc, uint8_t ascq)
{
    return VirtualStatus::checkCondition(key, asc, ascq);
}

VirtualStatus invalidField()
{
    return check(0x05, 0x24, 0x00);
}
VirtualStatus invalidOpcode()
{
    return check(0x05, 0x20, 0x00);
}
VirtualStatus sequenceError()
{
    return check(0x05, 0x2C, 0x00);
}

// The host moved data the wrong way or too little of it: the adapter sees the
// target change bus phase unexpectedly.
VirtualStatus phaseFailure()
{
    VirtualStatus s;
    s.haStatus = kHaPhaseFailure;
    return s;
}

uint32_t be24(const uint8_t* p)
{
    return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
}

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

void padCopy(uint8_t* out, const std::string& text, size_t width, char pad)
{
    for (size_t i = 0; i < width; ++i)
        out[i] = static_cast<uint8_t>(i < text.size() ? text[i] : pad);
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
        outcome = {invalidOpcode()};
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

namespace {

// Checks that the host offers a data-in buffer for `wanted` bytes and moves
// up to that many bytes of `produced` into it.
bool dataInAllowed(const VirtualRequest& r, uint32_t wanted)
{
    if (wanted == 0) return true;
    return r.direction == VirtualDirection::In && r.data != nullptr && r.dataLength != 0;
}

uint32_t deliver(const VirtualRequest& r, const uint8_t* produced, size_t producedSize,
                 uint32_t wanted)
{
    const uint32_t n = static_cast<uint32_t>(
        std::min<uint64_t>({uint64_t{wanted}, uint64_t{producedSize}, uint64_t{r.dataLength}}));
    if (n != 0) std::memcpy(r.data, produced, n);
    return n;
}

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

VirtualDrive::Outcome VirtualDrive::writeBuffer(const VirtualRequest& r)
{
    const uint8_t* cdb = r.cdb;
    const uint8_t mode = cdb[1] & 0x1F;
    const uint8_t id = cdb[2];
    const uint32_t offset = be24(cdb + 3);
    const uint32_t length = be24(cdb + 6);
    if (length != 0 &&
        (r.direction != VirtualDirection::Out || r.data == nullptr || r.dataLength < length))
        return {phaseFailure()};
    const uint64_t end = uint64_t{offset} + length;

    if (mode == 4 || mode == 5) {
        if (id != 0 || end > config_.flashSize) return {invalidField()};
        const auto last = static_cast<size_t>(end); // at most flashSize
        if (received_.size() < last) {
            received_.resize(last, 0xFF);
            receivedCovered_.resize(last, false);
        }
        std::memcpy(received_.data() + offset, r.data, length);
        for (size_t i = offset; i < last; ++i)
            receivedCovered_[i] = true;
        if (mode == 4) return {};

        // Download and save: program the flash with what has been received,
        // provided the image is whole.
        const bool whole =
            !received_.empty() &&
            std::all_of(receivedCovered_.begin(), receivedCovered_.end(), [](bool b) { return b; });
        std::vector<uint8_t> image = std::move(received_);
        received_.clear();
        receivedCovered_.clear();
        if (!whole) return {check(0x09, 0x88, 0x00)};
        flashed_ = std::move(image);
        ++flashes_;
        probing_ = true;
        probesSinceFlash_ = 0;
        return {};
    }

    if (mode == 0 || mode == 2) {
        switch (id) {
        case 0x80:
            // Readies the buffer for a transfer; data already written stay,
            // so a read-back that failed can be asked again after it.
            epsPrepared_ = true;
            return {};
        case 0x81:
            if (!epsPrepared_) return {sequenceError()};
            if (offset < kEpsDataOffset || end > config_.epsSize) return {invalidField()};
            std::memcpy(epsStaging_.data() + offset, r.data, length);
            epsWritten_ = true;
            return {};
        case 0x82:
            if (!epsPrepared_ || !epsWritten_) return {sequenceError()};
            epsCommitted_ = epsStaging_;
            epsReported_ = config_.epsNewVersion;
            ++epsCommits_;
            epsPrepared_ = false;
            epsWritten_ = false;
            return {};
        default:
            return {invalidField()};
        }
    }
    return {invalidField()};
}

VirtualDrive::Outcome VirtualDrive::readBuffer(const VirtualRequest& r)
{
    const uint8_t* cdb = r.cdb;
    const uint8_t mode = cdb[1] & 0x1F;
    const uint8_t id = cdb[2];
    const uint32_t offset = be24(cdb + 3);
    const uint32_t allocation = be24(cdb + 6);
    if (!dataInAllowed(r, allocation)) return {phaseFailure()};
    const uint64_t end = uint64_t{offset} + allocation;

    if (mode == 3) {
        uint32_t capacity = 0;
        if (id == 0)
            capacity = config_.flashSize;
        else if (id == 0x81)
            capacity = config_.epsSize;
        else if (id == 0x84)
            capacity = kEpsVersionLength;
        else
            return {invalidField()};
        const uint8_t descriptor[4] = {0, static_cast<uint8_t>(capacity >> 16),
                                       static_cast<uint8_t>(capacity >> 8),
                                       static_cast<uint8_t>(capacity)};
        return {{}, deliver(r, descriptor, sizeof descriptor, allocation)};
    }
    if (mode != 0 && mode != 2) return {invalidField()};

    switch (id) {
    case 0x84: {
        if (offset != 0) return {invalidField()};
        uint8_t version[kEpsVersionLength] = {};
        padCopy(version, epsReported_, kEpsVersionLength, '\0');
        return {{}, deliver(r, version, sizeof version, allocation)};
    }
    case 0x81:
        if (offset < kEpsDataOffset || end > config_.epsSize) return {invalidField()};
        return {{}, deliver(r, epsStaging_.data() + offset, allocation, allocation)};
    case 0x00:
        if (end > flashed_.size()) return {invalidField()};
        return {{}, deliver(r, flashed_.data() + offset, allocation, allocation)};
    default:
        return {invalidField()};
    }
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
