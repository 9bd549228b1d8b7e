// Commands through the operating system's SCSI pass-through interface on a
// drive letter. Each command opens the drive, asks for its buffer alignment,
// sends the request and closes the drive again; the answer is turned into a
// status image in the ASPI layout so that everything above sees the same
// record whichever transport ran.
#include <algorithm>
#include <cstring>
#include <string>

#include "platform/DriveAccess.h"
#include "transport/AlignedBuffer.h"
#include "transport/DriveTransport.h"
#include "transport/TargetStatus.h"

namespace {

constexpr uint16_t kRequestLength = 44;
constexpr uint32_t kSenseOffset = 48;
constexpr uint8_t kSenseLength = 32;
constexpr uint32_t kLongTimeoutSeconds = 600;
constexpr uint32_t kShortTimeoutSeconds = 10;
constexpr uint8_t kWriteBuffer = 0x3B;
constexpr uint8_t kModeDownloadAndSave = 0x05;

// The single request exchanged with the operating system and the single
// status image of this transport: one command at a time.
PassThroughRequest request;
CommandStatus status;

std::string deviceNameFor(const DriveEntry& entry)
{
    const size_t letters = strnlen(entry.driveLetter, sizeof entry.driveLetter);
    return "\\\\.\\" + std::string(entry.driveLetter, letters) + ":";
}

uint32_t timeoutFor(const uint8_t* cdb)
{
    // Only WRITE BUFFER "download and save", with no other bit of byte 1 set,
    // may keep the drive busy while it programs its flash.
    if (cdb[0] == kWriteBuffer && cdb[1] == kModeDownloadAndSave) return kLongTimeoutSeconds;
    return kShortTimeoutSeconds;
}

class PassThroughTransport final : public DriveTransport {
public:
    int execute(const DriveEntry& entry, uint8_t* buffer, uint32_t length, const uint8_t* cdb,
                uint8_t cdbLength, uint8_t flags) override;
};

int PassThroughTransport::execute(const DriveEntry& entry, uint8_t* buffer, uint32_t length,
                                  const uint8_t* cdb, uint8_t cdbLength, uint8_t flags)
{
    lastStatus = &status;
    uint8_t blockLength = entry.atapi == 1 ? uint8_t{12} : cdbLength;
    blockLength = std::min<uint8_t>(blockLength, sizeof request.cdb);

    PassThroughAccess& access = passThroughAccess();
    const std::string name = deviceNameFor(entry);
    Handle device = access.openDevice(name, true);
    if (device == nullptr) device = access.openDevice(name, false);
    if (device == nullptr) return SetupFailed;

    ScsiCapabilities capabilities{};
    if (!access.getCapabilities(device, capabilities)) capabilities = ScsiCapabilities{};

    request = PassThroughRequest{};
    request.length = kRequestLength;
    request.pathId = 0;
    request.targetId = 1;
    request.lun = 0;
    request.cdbLength = blockLength;
    request.senseInfoLength = kSenseLength;

    uint8_t* data = buffer;
    uint8_t* copy = nullptr;
    bool readThroughCopy = false;
    switch (flags & (SRB_DIR_IN | SRB_DIR_OUT)) {
    case SRB_DIR_IN:
        request.dataIn = SCSI_IOCTL_DATA_IN_;
        // A buffer off the adapter's alignment is read through an aligned
        // copy: the system would refuse it.
        if (needsAlignedCopy(buffer, length, capabilities.alignmentMask)) {
            copy = allocateAligned(length, capabilities.alignmentMask);
            if (copy == nullptr) {
                access.closeDevice(device);
                return NoMemory;
            }
            std::memcpy(copy, buffer, length);
            data = copy;
            readThroughCopy = true;
        }
        break;
    case SRB_DIR_OUT:
        request.dataIn = SCSI_IOCTL_DATA_OUT_;
        // The caller's data is never handed to the system itself.
        copy = allocateAligned(length, capabilities.alignmentMask);
        if (copy == nullptr) {
            access.closeDevice(device);
            return NoMemory;
        }
        if (length != 0) std::memcpy(copy, buffer, length);
        data = copy;
        break;
    default:
        request.dataIn = SCSI_IOCTL_DATA_UNSPECIFIED_;
        break;
    }
    request.dataTransferLength = length;
    request.timeOutValue = timeoutFor(cdb);
    request.dataBuffer = data;
    request.senseInfoOffset = kSenseOffset;
    std::memcpy(request.cdb, cdb, blockLength);

    const bool sent = access.passThroughDirect(device, request);

    status.SRB_TargStat = request.scsiStatus;
    std::memcpy(status.SenseArea, request.sense, 14);
    status.SRB_CDBLen = blockLength;
    std::memcpy(status.CDBByte, cdb, blockLength);

    int result = Ok;
    if (request.scsiStatus == 0 && sent) {
        result = Ok;
    } else if (status.SenseArea[2] != 0) {
        result = TargetFailed;
    } else if (sent) {
        // A status without sense data counts as completed, unless the target
        // said it did not carry the command out at all.
        result = commandRefusedByTarget(request.scsiStatus) ? TargetFailed : Ok;
    } else {
        const uint32_t error = access.lastError();
        status.SRB_Status = static_cast<uint8_t>(error & 0xFF);
        status.SRB_HaStat = static_cast<uint8_t>((error >> 8) & 0xFF);
        status.SRB_TargStat = static_cast<uint8_t>((error >> 16) & 0xFF);
        result = SystemError;
    }

    if (readThroughCopy) std::memcpy(buffer, copy, length);
    releaseAligned(copy);
    access.closeDevice(device);
    return result;
}

} // namespace

DriveTransport& passThroughTransport()
{
    static PassThroughTransport transport;
    return transport;
}
