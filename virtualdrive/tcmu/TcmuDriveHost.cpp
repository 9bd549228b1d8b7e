#include "virtualdrive/tcmu/TcmuDriveHost.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr uint8_t kCheckCondition = 0x02;
constexpr uint8_t kHaPhaseFailure = 0x14;

bool isDataOut(uint8_t opcode)
{
    switch (opcode) {
    case 0x3B: // WRITE BUFFER
    case 0x15: // MODE SELECT(6)
    case 0x55: // MODE SELECT(10)
    case 0x2A: // WRITE(10)
    case 0xAA: // WRITE(12)
    case 0x2E: // WRITE AND VERIFY(10)
    case 0x04: // FORMAT UNIT
    case 0x54: // SEND OPC INFORMATION
    case 0x5D: // SEND CUE SHEET
    case 0xBF: // SEND DISC STRUCTURE
        return true;
    default:
        return false;
    }
}

TcmuResponse checkCondition(uint8_t key, uint8_t asc, uint8_t ascq)
{
    TcmuResponse r;
    r.status = kCheckCondition;
    r.sense = virtualSenseData(VirtualSense{key, asc, ascq});
    return r;
}

} // namespace

TcmuDriveRequest tcmuDriveRequest(const TcmuCommand& command)
{
    TcmuDriveRequest request;
    request.cdb = command.cdb;
    request.cdbLength = command.cdbLength;
    const uint8_t opcode = command.cdb[0];
    if (opcode >= 0xC0 && request.cdbLength < 12) {
        std::fill(request.cdb.begin() + request.cdbLength, request.cdb.end(), uint8_t{0});
        request.cdbLength = 12;
    }
    if (command.dataLength() != 0)
        request.direction = isDataOut(opcode) ? VirtualDirection::Out : VirtualDirection::In;
    return request;
}

TcmuResponse tcmuResponse(const VirtualAnswer& answer)
{
    if (answer.scsiStatus == 0 && !answer.requestOk)
        return answer.haStatus == kHaPhaseFailure ? checkCondition(0x0B, 0x4B, 0x00)
                                                  : checkCondition(0x0B, 0x00, 0x00);
    TcmuResponse r;
    r.status = answer.scsiStatus;
    if (r.status == kCheckCondition) r.sense = answer.sense;
    r.readLength = answer.transferred;
    return r;
}

TcmuResponse serveOnDrive(VirtualDrive& drive, const TcmuCommand& command)
{
    // A hardware error of the target itself: the entry could not be read.
    if (command.malformed) return checkCondition(0x04, 0x44, 0x00);

    const TcmuDriveRequest own = tcmuDriveRequest(command);
    std::vector<uint8_t> data(command.dataLength());
    if (own.direction == VirtualDirection::Out) {
        size_t at = 0;
        for (const auto& piece : command.data) {
            std::memcpy(data.data() + at, piece.data(), piece.size());
            at += piece.size();
        }
    }
    VirtualRequest request;
    request.cdb = own.cdb.data();
    request.cdbLength = own.cdbLength;
    request.data = data.empty() ? nullptr : data.data();
    request.dataLength = static_cast<uint32_t>(data.size());
    request.direction = own.direction;
    const VirtualAnswer answer = drive.execute(request);

    if (own.direction == VirtualDirection::In) {
        size_t left = std::min<size_t>(answer.transferred, data.size());
        size_t at = 0;
        for (const auto& piece : command.data) {
            const size_t n = std::min(left, piece.size());
            std::memcpy(piece.data(), data.data() + at, n);
            at += n;
            left -= n;
        }
    }
    return tcmuResponse(answer);
}
