#include "transport/DriveCommands.h"

#include "package/UpdatePackage.h"
#include "transport/DriveTransport.h"

namespace {

constexpr uint8_t kInquiry = 0x12;
constexpr uint8_t kInquiryExternal = 0x13;
constexpr uint8_t kTestUnitReady = 0x00;
constexpr uint8_t kWriteBuffer = 0x3B;
constexpr uint8_t kReadBuffer = 0x3C;
constexpr uint8_t kStartStopUnit = 0x1B;
constexpr uint8_t kVendorQuery = 0xF5;

struct Block {
    uint8_t bytes[12] = {};
};

uint8_t byteOf(uint32_t value, int shift)
{
    return static_cast<uint8_t>((value >> shift) & 0xFF);
}

// Six-byte commands and the ten-byte buffer commands go out as 12 bytes to
// drives that take ATAPI packets.
uint8_t lengthFor(const DriveEntry& entry, uint8_t shortLength)
{
    return entry.atapi == 1 ? uint8_t{12} : shortLength;
}

int send(const DriveEntry& entry, uint8_t* buffer, uint32_t length, const Block& block,
         uint8_t blockLength, uint8_t flags)
{
    DriveTransport& transport = usePassThrough != 0 ? passThroughTransport() : aspiTransport();
    return transport.execute(entry, buffer, length, block.bytes, blockLength, flags);
}

Block bufferBlock(uint8_t opcode, uint32_t length, uint32_t offset, uint8_t mode, uint8_t bufferId)
{
    Block block;
    block.bytes[0] = opcode;
    block.bytes[1] = mode;
    block.bytes[2] = bufferId;
    block.bytes[3] = byteOf(offset, 16);
    block.bytes[4] = byteOf(offset, 8);
    block.bytes[5] = byteOf(offset, 0);
    block.bytes[6] = byteOf(length, 16);
    block.bytes[7] = byteOf(length, 8);
    block.bytes[8] = byteOf(length, 0);
    return block;
}

} // namespace

int inquiry(const DriveEntry& entry, uint8_t* buffer, uint16_t allocationLength)
{
    Block block;
    block.bytes[0] = package.options.melcoInquiry == 1 ? kInquiryExternal : kInquiry;
    block.bytes[4] = byteOf(allocationLength, 0);
    return send(entry, buffer, allocationLength, block, lengthFor(entry, 6), SRB_DIR_IN);
}

int testUnitReady(const DriveEntry& entry)
{
    Block block;
    block.bytes[0] = kTestUnitReady;
    return send(entry, nullptr, 0, block, lengthFor(entry, 6), SRB_EVENT_NOTIFY);
}

int writeBuffer(const DriveEntry& entry, const uint8_t* buffer, uint32_t length, uint32_t offset,
                uint8_t mode, uint8_t bufferId)
{
    const Block block = bufferBlock(kWriteBuffer, length, offset, mode, bufferId);
    // Both transports send a copy of data-out buffers and never write to them.
    auto* data = const_cast<uint8_t*>(buffer);
    return send(entry, data, length, block, lengthFor(entry, 10), SRB_DIR_OUT);
}

int readBuffer(const DriveEntry& entry, uint8_t* buffer, uint32_t length, uint32_t offset,
               uint8_t mode, uint8_t bufferId)
{
    const Block block = bufferBlock(kReadBuffer, length, offset, mode, bufferId);
    return send(entry, buffer, length, block, lengthFor(entry, 10), SRB_DIR_IN);
}

int startStopUnit(const DriveEntry& entry, uint8_t loEjStart, uint8_t immed)
{
    Block block;
    block.bytes[0] = kStartStopUnit;
    block.bytes[1] = static_cast<uint8_t>(immed & 0x01);
    block.bytes[4] = static_cast<uint8_t>(loEjStart & 0x03);
    return send(entry, nullptr, 0, block, lengthFor(entry, 6), SRB_EVENT_NOTIFY);
}

int vendorQuery(const DriveEntry& entry, uint8_t* buffer, uint16_t allocationLength,
                uint32_t parameter)
{
    Block block;
    block.bytes[0] = kVendorQuery;
    block.bytes[4] = byteOf(parameter, 24);
    block.bytes[5] = byteOf(parameter, 16);
    block.bytes[6] = byteOf(parameter, 8);
    block.bytes[7] = byteOf(parameter, 0);
    block.bytes[8] = byteOf(allocationLength, 8);
    block.bytes[9] = byteOf(allocationLength, 0);
    return send(entry, buffer, allocationLength, block, 12, SRB_DIR_IN);
}
