#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/unit/transport_fakes.h"
#include "transport/AspiTransport.h"

namespace {

class AspiTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        system.install();
        installAspiLibrary(&aspi);
        AllocationWatch::install();
        std::memset(&entry, 0, sizeof entry);
        entry.hostAdapter = 1;
        entry.target = 3;
        entry.lun = 0;
        lastStatus = nullptr;
    }
    void TearDown() override
    {
        aspi.join();
        AllocationWatch::uninstall();
        installAspiLibrary(nullptr);
    }
    int run(uint8_t* buffer, uint32_t length, const uint8_t* cdb, uint8_t cdbLength, uint8_t flags)
    {
        const int result = aspiTransport().execute(entry, buffer, length, cdb, cdbLength, flags);
        aspi.join();
        return result;
    }

    EventCountingSystem system;
    FakeAspi aspi;
    DriveEntry entry{};
};

TEST_F(AspiTest, RequestBlockCarriesTheEntryAndTheCommand)
{
    const uint8_t cdb[12] = {0x3C, 0x02, 0x80, 0x00, 0x00, 0x10, 0x00, 0x01, 0x00};
    uint8_t data[256] = {};
    EXPECT_EQ(run(data, 256, cdb, 10, SRB_DIR_IN), Ok);
    const CommandStatus& s = aspi.sent;
    EXPECT_EQ(s.SRB_Cmd, SC_EXEC_SCSI_CMD);
    EXPECT_EQ(s.SRB_HaId, 1);
    EXPECT_EQ(s.SRB_Target, 3);
    EXPECT_EQ(s.SRB_Lun, 0);
    EXPECT_EQ(unpacked(s.SRB_Hdr_Rsvd), 0u);
    EXPECT_EQ(unpacked(s.SRB_BufLen), 256u);
    EXPECT_EQ(unpacked(s.SRB_BufPointer), data);
    EXPECT_EQ(s.SRB_SenseLen, 14);
    EXPECT_EQ(s.SRB_CDBLen, 10);
    EXPECT_NE(unpacked(s.SRB_PostProc), nullptr);
    EXPECT_EQ(0, std::memcmp(s.CDBByte, cdb, 10));
    for (int i = 10; i < 16; ++i)
        EXPECT_EQ(s.CDBByte[i], 0);
    for (uint8_t b : s.SRB_Rsvd2)
        EXPECT_EQ(b, 0);
    EXPECT_EQ(system.liveEventCount(), 0);
}

TEST_F(AspiTest, FlagsAlwaysAskForEventNotification)
{
    struct Row {
        uint8_t flags, sent;
    };
    const Row rows[] = {{SRB_DIR_IN, 0x48}, {SRB_EVENT_NOTIFY, 0x40}, {SRB_DIR_OUT, 0x50}};
    const uint8_t cdb[12] = {0x00};
    for (const Row& row : rows) {
        uint8_t data[4] = {};
        run(data, 4, cdb, 6, row.flags);
        EXPECT_EQ(aspi.sent.SRB_Flags, row.sent) << int(row.flags);
    }
}

TEST_F(AspiTest, AtapiDrivesGetTwelveByteBlocks)
{
    entry.atapi = 1;
    const uint8_t cdb[12] = {0x1B, 0, 0, 0, 2};
    EXPECT_EQ(run(nullptr, 0, cdb, 6, SRB_EVENT_NOTIFY), Ok);
    EXPECT_EQ(aspi.sent.SRB_CDBLen, 12);
    EXPECT_EQ(aspi.sent.CDBByte[4], 2);
}

TEST_F(AspiTest, ResultDecisions)
{
    struct Row {
        const char* what;
        AspiAnswer answer;
        int result;
    };
    const Row rows[] = {
        {"complete", {SS_COMP, 0, 0, 0}, Ok},
        {"overrun alone", {SS_COMP, 0x12, 0, 0}, Ok},
        {"request error", {SS_ERR, 0, 0, 0}, SrbFailed},
        {"aborted", {0x02, 0, 0, 0}, SrbFailed},
        {"adapter error", {SS_COMP, 0x11, 0, 0}, AdapterFailed},
        {"adapter over request", {SS_ERR, 0x11, 0, 0}, AdapterFailed},
        {"target over adapter and request", {SS_ERR, 0x11, 0x02, 0x03}, TargetFailed},
        {"overrun, check condition, no sense key", {SS_ERR, 0x12, 0x02, 0x00}, SrbFailed},
        {"overrun, check condition, sense key 5", {SS_ERR, 0x12, 0x02, 0x05}, TargetFailed},
        {"sense key without target status", {SS_ERR, 0, 0x00, 0x05}, SrbFailed},
        {"flagged sense key byte", {SS_COMP, 0, 0x02, 0x24}, TargetFailed},
        {"check condition without sense", {SS_COMP, 0, 0x02, 0x00}, Ok},
        {"busy without sense", {SS_ERR, 0, 0x08, 0x00}, TargetFailed},
        {"reservation conflict reported complete", {SS_COMP, 0, 0x18, 0x00}, TargetFailed},
    };
    const uint8_t cdb[12] = {0x00};
    for (const Row& row : rows) {
        aspi.answer = row.answer;
        EXPECT_EQ(run(nullptr, 0, cdb, 6, SRB_EVENT_NOTIFY), row.result) << row.what;
        EXPECT_EQ(lastStatus->SRB_HaStat, row.answer.haStat) << row.what;
    }
}

TEST_F(AspiTest, WaitsOnlyWhileTheRequestIsPending)
{
    struct Row {
        const char* what;
        bool later;
        uint8_t status;
        int waits;
        int result;
    };
    const Row rows[] = {
        {"done within the call", false, SS_COMP, 0, Ok},
        {"failed within the call", false, SS_ERR, 0, SrbFailed},
        {"completed later", true, SS_COMP, 1, Ok},
        {"failed later", true, 0xE1, 1, SrbFailed},
    };
    const uint8_t cdb[12] = {0x00};
    for (const Row& row : rows) {
        system.eventWaits = 0;
        system.eventResets = 0;
        aspi.completeLater = row.later;
        aspi.answer = AspiAnswer{row.status};
        EXPECT_EQ(run(nullptr, 0, cdb, 6, SRB_EVENT_NOTIFY), row.result) << row.what;
        EXPECT_EQ(system.eventWaits, row.waits) << row.what;
        EXPECT_EQ(system.eventResets, row.waits) << row.what;
        EXPECT_EQ(lastStatus->SRB_Status, row.status) << row.what;
        EXPECT_EQ(system.liveEventCount(), 0) << row.what;
    }
}

TEST_F(AspiTest, LateCompletionCarriesItsSenseData)
{
    aspi.completeLater = true;
    aspi.answer = AspiAnswer{SS_ERR, 0, 0x02, 0x09, 0x86, 0x00};
    std::vector<uint8_t> data(0x2000, 0x33);
    const uint8_t cdb[12] = {0x3B, 0x05, 0, 0, 0, 0, 0x00, 0x20, 0x00};
    EXPECT_EQ(run(data.data(), 0x2000, cdb, 10, SRB_DIR_OUT), TargetFailed);
    EXPECT_EQ(lastStatus->SenseArea[12], 0x86);
    EXPECT_EQ(aspi.sentData, data);
    EXPECT_EQ(data, std::vector<uint8_t>(0x2000, 0x33));
    EXPECT_EQ(AllocationWatch::live, 0);
}

TEST_F(AspiTest, DataOutCopyFollowsTheAdapterAlignmentAndIsAlwaysReleased)
{
    struct Row {
        uint32_t mask;
        AspiAnswer answer;
        bool later;
    };
    const Row rows[] = {
        {0, {SS_COMP}, false},   {3, {SS_COMP}, false},          {3, {SS_ERR, 0, 2, 4}, true},
        {0xFF, {SS_COMP}, true}, {0x1FF, {SS_ERR, 0x11}, false},
    };
    const uint8_t cdb[12] = {0x3B, 0x04};
    for (const Row& row : rows) {
        entry.alignmentMask = row.mask;
        aspi.answer = row.answer;
        aspi.completeLater = row.later;
        std::vector<uint8_t> data(300);
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<uint8_t>(i);
        const std::vector<uint8_t> original = data;
        run(data.data(), 300, cdb, 10, SRB_DIR_OUT);
        EXPECT_NE(unpacked(aspi.sent.SRB_BufPointer), data.data());
        EXPECT_EQ(reinterpret_cast<uintptr_t>(aspi.sent.SRB_BufPointer) & row.mask, 0u);
        EXPECT_TRUE(aspi.copyWasLiveWhileSent);
        EXPECT_EQ(aspi.sentData, original);
        EXPECT_EQ(data, original);
        EXPECT_EQ(AllocationWatch::live, 0) << row.mask;
        EXPECT_EQ(system.liveEventCount(), 0);
    }
}

// A data-in buffer off the adapter's alignment (a 36-byte array on a 32-bit
// stack, say) goes through an aligned copy whose data reach the caller; an
// aligned one is handed over as it is.
TEST_F(AspiTest, DataInOffTheAdapterAlignmentIsReadThroughAnAlignedCopy)
{
    struct Row {
        uint32_t mask, offset;
        bool later;
    };
    const Row rows[] = {
        {0, 1, false}, {3, 0, false}, {3, 1, true}, {0x1F, 4, false}, {0x1F, 8, true}};
    const uint8_t cdb[12] = {0x12, 0, 0, 0, 36};
    aspi.dataToReturn.assign(36, 0x5A);
    for (const Row& row : rows) {
        entry.alignmentMask = row.mask;
        aspi.completeLater = row.later;
        aspi.answer = AspiAnswer{SS_COMP};
        AllocationWatch::made.clear();
        alignas(64) uint8_t storage[128] = {};
        uint8_t* buffer = storage + row.offset;
        EXPECT_EQ(run(buffer, 36, cdb, 6, SRB_DIR_IN), Ok);
        const bool copied = (row.offset & row.mask) != 0;
        EXPECT_EQ(unpacked(aspi.sent.SRB_BufPointer) == buffer, !copied) << row.mask;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(aspi.sent.SRB_BufPointer) & row.mask, 0u);
        EXPECT_EQ(AllocationWatch::made.size(), copied ? 1u : 0u);
        EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 36), aspi.dataToReturn) << row.mask;
        EXPECT_EQ(buffer[36], 0) << "nothing beyond the buffer";
        EXPECT_EQ(AllocationWatch::live, 0);
    }
    entry.alignmentMask = 3;
    AllocationWatch::failNext = 1;
    alignas(4) uint8_t storage[40] = {};
    EXPECT_EQ(run(storage + 1, 36, cdb, 6, SRB_DIR_IN), NoMemory);
    EXPECT_EQ(system.liveEventCount(), 0);
}

TEST_F(AspiTest, LocalFailuresLeaveThePreviousStatus)
{
    const uint8_t cdb[12] = {0x00};
    aspi.answer = AspiAnswer{SS_ERR, 0, 0x02, 0x02, 0x3A, 0x01};
    ASSERT_EQ(run(nullptr, 0, cdb, 6, SRB_EVENT_NOTIFY), TargetFailed);
    CommandStatus before;
    std::memcpy(&before, lastStatus, sizeof before);

    system.failEventCreation = true;
    std::vector<uint8_t> data(16, 1);
    EXPECT_EQ(run(data.data(), 16, cdb, 10, SRB_DIR_OUT), SetupFailed);
    EXPECT_EQ(0, std::memcmp(&before, lastStatus, sizeof before));
    EXPECT_EQ(AllocationWatch::made.size(), 0u);
    system.failEventCreation = false;

    AllocationWatch::failNext = 1;
    EXPECT_EQ(run(data.data(), 16, cdb, 10, SRB_DIR_OUT), NoMemory);
    EXPECT_EQ(0, std::memcmp(&before, lastStatus, sizeof before));
    EXPECT_EQ(system.liveEventCount(), 0);
}

TEST_F(AspiTest, LoadNeedsBothEntryPoints)
{
    struct Row {
        AspiLoadResult load;
        int result;
        int unloadsAtLoad;
        int unloadsAtUnload;
    };
    const Row rows[] = {
        {AspiLoadResult::Loaded, 1, 0, 1},
        {AspiLoadResult::Failed, 0, 0, 0},
        {AspiLoadResult::MissingEntry, 0, 1, 0},
    };
    for (const Row& row : rows) {
        FakeAspi library;
        library.loadResult = row.load;
        installAspiLibrary(&library);
        EXPECT_EQ(loadAspi(), row.result);
        EXPECT_EQ(library.unloads, row.unloadsAtLoad);
        unloadAspi();
        EXPECT_EQ(library.unloads, row.unloadsAtLoad + row.unloadsAtUnload);
        unloadAspi();
        EXPECT_EQ(library.unloads, row.unloadsAtLoad + row.unloadsAtUnload);
    }
    installAspiLibrary(&aspi);
}

TEST_F(AspiTest, AdapterCountNeedsTheCompletionStatus)
{
    struct Row {
        uint32_t info;
        int count;
    };
    const Row rows[] = {
        {0x0100, 1}, {0x0102, 3}, {0xE802, 0}, {0x0000, 0}, {0x01FF, 256}, {0xFF0101, 2},
    };
    for (const Row& row : rows) {
        aspi.supportInfo = row.info;
        EXPECT_EQ(aspiAdapterCount(), row.count) << std::hex << row.info;
    }
}

TEST_F(AspiTest, AdapterInquirySetsItsFieldsAndKeepsTheAnswer)
{
    aspi.haCount = 2;
    aspi.haUnique[0] = 0x03;
    aspi.haUnique[1] = 0x00;
    aspi.haUnique[3] = 16;
    SRB_HAInquiry* block = nullptr;
    EXPECT_EQ(hostAdapterInquiry(1, block), 0);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(aspi.inquirySent.SRB_Cmd, SC_HA_INQUIRY);
    EXPECT_EQ(aspi.inquirySent.SRB_HaId, 1);
    EXPECT_EQ(aspi.inquirySent.SRB_Flags, 0);
    EXPECT_EQ(unpacked(aspi.inquirySent.SRB_Hdr_Rsvd), 0u);
    EXPECT_EQ(block->HA_Count, 2);
    EXPECT_EQ(block->HA_Unique[0] | block->HA_Unique[1] << 8, 3);
    EXPECT_EQ(block->HA_Unique[3], 16);

    aspi.haInquiryStatus = 0x81;
    EXPECT_EQ(hostAdapterInquiry(7, block), 1);
    aspi.haInquiryStatus = SS_PENDING;
    EXPECT_EQ(hostAdapterInquiry(0, block), 1);
}

TEST_F(AspiTest, DeviceTypeIsAnsweredEvenWhenTheQueryFails)
{
    struct Row {
        uint8_t status, type;
        int result;
    };
    const Row rows[] = {{SS_COMP, 5, 0}, {SS_COMP, 0, 0}, {0x82, 0x1F, 1}, {SS_ERR, 5, 1}};
    entry.lun = 0;
    for (const Row& row : rows) {
        aspi.deviceStatus = row.status;
        aspi.deviceType = row.type;
        uint8_t type = 0xAA;
        EXPECT_EQ(getDeviceType(entry, type), row.result);
        EXPECT_EQ(type, row.type);
        EXPECT_EQ(aspi.deviceSent.SRB_Cmd, SC_GET_DEV_TYPE);
        EXPECT_EQ(aspi.deviceSent.SRB_HaId, 1);
        EXPECT_EQ(aspi.deviceSent.SRB_Target, 3);
        EXPECT_EQ(aspi.deviceSent.SRB_Lun, 0);
    }
}

} // namespace
