#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <vector>

#include "package/UpdatePackage.h"
#include "tests/unit/transport_fakes.h"
#include "transport/DriveCommands.h"

namespace {

// Large enough for every data length the rows send out.
uint8_t scratch[0x2000];

struct CommandRow {
    const char* name;
    std::function<int(const DriveEntry&)> send;
    std::array<uint8_t, 12> block;
    uint8_t shortLength; // with atapi 0
    uint8_t longLength;  // with atapi 1
    uint8_t flags;
    uint32_t dataLength;
    bool hasBuffer;
};

std::vector<CommandRow> commandRows()
{
    return {
        {"inquiry",
         [](const DriveEntry& e) { return inquiry(e, scratch, 36); },
         {0x12, 0, 0, 0, 36},
         6,
         12,
         SRB_DIR_IN,
         36,
         true},
        {"inquiry, allocation wider than its byte",
         [](const DriveEntry& e) { return inquiry(e, scratch, 0x1234); },
         {0x12, 0, 0, 0, 0x34},
         6,
         12,
         SRB_DIR_IN,
         0x1234,
         true},
        {"test unit ready",
         [](const DriveEntry& e) { return testUnitReady(e); },
         {0x00},
         6,
         12,
         SRB_EVENT_NOTIFY,
         0,
         false},
        {"write buffer, mode 4",
         [](const DriveEntry& e) { return writeBuffer(e, scratch, 0x2000, 0x012000, 4, 0); },
         {0x3B, 0x04, 0x00, 0x01, 0x20, 0x00, 0x00, 0x20, 0x00},
         10,
         12,
         SRB_DIR_OUT,
         0x2000,
         false},
        {"write buffer, mode byte unmasked",
         [](const DriveEntry& e) { return writeBuffer(e, scratch, 16, 0x7E000, 0x25, 0x82); },
         {0x3B, 0x25, 0x82, 0x07, 0xE0, 0x00, 0x00, 0x00, 0x10},
         10,
         12,
         SRB_DIR_OUT,
         16,
         false},
        {"read buffer, fields cut to 24 bits",
         [](const DriveEntry& e) {
             return readBuffer(e, scratch, 0x01000010, 0xAB123456, 0x02, 0x84);
         },
         {0x3C, 0x02, 0x84, 0x12, 0x34, 0x56, 0x00, 0x00, 0x10},
         10,
         12,
         SRB_DIR_IN,
         0x01000010,
         true},
        {"start stop unit, eject",
         [](const DriveEntry& e) { return startStopUnit(e, 2, 0); },
         {0x1B, 0x00, 0, 0, 0x02},
         6,
         12,
         SRB_EVENT_NOTIFY,
         0,
         false},
        {"start stop unit, fields cut to their bits",
         [](const DriveEntry& e) { return startStopUnit(e, 0xFF, 0xFE); },
         {0x1B, 0x00, 0, 0, 0x03},
         6,
         12,
         SRB_EVENT_NOTIFY,
         0,
         false},
        {"start stop unit, immediate",
         [](const DriveEntry& e) { return startStopUnit(e, 1, 3); },
         {0x1B, 0x01, 0, 0, 0x01},
         6,
         12,
         SRB_EVENT_NOTIFY,
         0,
         false},
        {"vendor query, PCB",
         [](const DriveEntry& e) { return vendorQuery(e, scratch, 16, 0x000F8048); },
         {0xF5, 0, 0, 0, 0x00, 0x0F, 0x80, 0x48, 0x00, 0x10},
         12,
         12,
         SRB_DIR_IN,
         16,
         true},
        {"vendor query, every parameter byte",
         [](const DriveEntry& e) { return vendorQuery(e, scratch, 0x1234, 0xDEADBEEF); },
         {0xF5, 0, 0, 0, 0xDE, 0xAD, 0xBE, 0xEF, 0x12, 0x34},
         12,
         12,
         SRB_DIR_IN,
         0x1234,
         true},
    };
}

class CommandsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        system.install();
        installPassThroughAccess(&access);
        installAspiLibrary(&aspi);
        std::memset(&entry, 0, sizeof entry);
        std::strcpy(entry.driveLetter, "D");
        package.options.melcoInquiry = 0;
    }
    void TearDown() override
    {
        installPassThroughAccess(nullptr);
        installAspiLibrary(nullptr);
        usePassThrough = 0;
        package.options.melcoInquiry = 0;
    }

    EventCountingSystem system;
    FakePassThrough access;
    FakeAspi aspi;
    DriveEntry entry{};
};

// What reached the seam: the bytes the transport copied are the first
// `length` ones, the rest of its 16-byte field stays zero.
std::array<uint8_t, 16> expectedOnTheWire(const std::array<uint8_t, 12>& block, uint8_t length)
{
    std::array<uint8_t, 16> wire{};
    std::memcpy(wire.data(), block.data(), length);
    return wire;
}

TEST_F(CommandsTest, BlocksLengthsAndDirectionsThroughPassThrough)
{
    usePassThrough = 1;
    for (const CommandRow& row : commandRows()) {
        for (uint8_t atapi : {uint8_t{0}, uint8_t{1}}) {
            entry.atapi = atapi;
            access.sends = 0;
            EXPECT_EQ(row.send(entry), Ok) << row.name;
            ASSERT_EQ(access.sends, 1) << row.name;
            const uint8_t length = atapi == 1 ? row.longLength : row.shortLength;
            EXPECT_EQ(access.sent.cdbLength, length) << row.name << " atapi " << int(atapi);
            std::array<uint8_t, 16> wire{};
            std::memcpy(wire.data(), access.sent.cdb, 16);
            EXPECT_EQ(wire, expectedOnTheWire(row.block, length)) << row.name;
            const uint8_t dataIn = row.flags == SRB_DIR_IN    ? SCSI_IOCTL_DATA_IN_
                                   : row.flags == SRB_DIR_OUT ? SCSI_IOCTL_DATA_OUT_
                                                              : SCSI_IOCTL_DATA_UNSPECIFIED_;
            EXPECT_EQ(access.sent.dataIn, dataIn) << row.name;
            EXPECT_EQ(access.sent.dataTransferLength, row.dataLength) << row.name;
            if (row.hasBuffer) {
                EXPECT_EQ(access.sent.dataBuffer, scratch) << row.name;
            }
            if (row.dataLength == 0) {
                EXPECT_EQ(access.sent.dataBuffer, nullptr) << row.name;
            }
        }
    }
}

TEST_F(CommandsTest, BlocksLengthsAndDirectionsThroughAspi)
{
    usePassThrough = 0;
    for (const CommandRow& row : commandRows()) {
        for (uint8_t atapi : {uint8_t{0}, uint8_t{1}}) {
            entry.atapi = atapi;
            EXPECT_EQ(row.send(entry), Ok) << row.name;
            const uint8_t length = atapi == 1 ? row.longLength : row.shortLength;
            EXPECT_EQ(aspi.sent.SRB_CDBLen, length) << row.name << " atapi " << int(atapi);
            std::array<uint8_t, 16> wire{};
            std::memcpy(wire.data(), aspi.sent.CDBByte, 16);
            EXPECT_EQ(wire, expectedOnTheWire(row.block, length)) << row.name;
            EXPECT_EQ(aspi.sent.SRB_Flags, row.flags | SRB_EVENT_NOTIFY) << row.name;
            EXPECT_EQ(unpacked(aspi.sent.SRB_BufLen), row.dataLength) << row.name;
            if (row.hasBuffer) {
                EXPECT_EQ(unpacked(aspi.sent.SRB_BufPointer), scratch) << row.name;
            }
        }
    }
}

TEST_F(CommandsTest, ExternalDriveInquiryAppliesToEveryDrive)
{
    package.options.melcoInquiry = 1;
    for (uint8_t passThrough : {uint8_t{0}, uint8_t{1}}) {
        usePassThrough = passThrough;
        for (uint8_t atapi : {uint8_t{0}, uint8_t{1}}) {
            entry.atapi = atapi;
            inquiry(entry, scratch, 36);
            const uint8_t opcode = passThrough ? access.sent.cdb[0] : aspi.sent.CDBByte[0];
            EXPECT_EQ(opcode, 0x13);
        }
    }
}

TEST_F(CommandsTest, TransportIsChosenAtEveryCallAndItsResultPassesUnchanged)
{
    access.scsiStatus = 2;
    access.sense[2] = 0x02;
    aspi.answer = AspiAnswer{0x82};
    usePassThrough = 1;
    EXPECT_EQ(testUnitReady(entry), TargetFailed);
    usePassThrough = 0;
    EXPECT_EQ(testUnitReady(entry), SrbFailed);
    usePassThrough = 1;
    access.openReadOnly = access.openReadWrite = false;
    EXPECT_EQ(testUnitReady(entry), SetupFailed);
    EXPECT_EQ(access.sends, 1);
}

} // namespace
