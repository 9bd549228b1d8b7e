// WRITE BUFFER and READ BUFFER: the firmware download into the flash and the
// EPS buffers (prepare, write, commit, version).
#include <algorithm>
#include <cstring>
#include <utility>

#include "virtualdrive/core/VirtualDrive.h"
#include "virtualdrive/core/VirtualDriveCommands.h"

using namespace virtualdrivecommands;

namespace {

constexpr size_t kEpsVersionLength = 7;

} // namespace

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
