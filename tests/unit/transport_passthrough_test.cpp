#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/unit/transport_fakes.h"
#include "transport/DriveTransport.h"

namespace {

constexpr uint8_t kWriteBufferMode5[12] = {0x3B, 0x05, 0x00, 0x01, 0x20, 0x00,
                                           0x00, 0x20, 0x00, 0,    0,    0};

class PassThroughTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        installPassThroughAccess(&access);
        AllocationWatch::install();
        std::memset(&entry, 0, sizeof entry);
        std::strcpy(entry.driveLetter, "E");
        lastStatus = nullptr;
    }
    void TearDown() override
    {
        AllocationWatch::uninstall();
        installPassThroughAccess(nullptr);
    }
    int run(uint8_t* buffer, uint32_t length, const uint8_t* cdb, uint8_t cdbLength, uint8_t flags)
    {
        return passThroughTransport().execute(entry, buffer, length, cdb, cdbLength, flags);
    }

    FakePassThrough access;
    DriveEntry entry{};
};

TEST_F(PassThroughTest, RequestCarriesTheFixedFieldsAndTheDeviceName)
{
    std::vector<uint8_t> data(0x2000, 0x5A);
    EXPECT_EQ(run(data.data(), 0x2000, kWriteBufferMode5, 10, SRB_DIR_OUT), Ok);
    ASSERT_EQ(access.opens.size(), 1u);
    EXPECT_EQ(access.opens[0].first, "\\\\.\\E:");
    EXPECT_TRUE(access.opens[0].second);
    const PassThroughRequest& r = access.sent;
    EXPECT_EQ(r.length, 44);
    EXPECT_EQ(r.pathId, 0);
    EXPECT_EQ(r.targetId, 1);
    EXPECT_EQ(r.lun, 0);
    EXPECT_EQ(r.cdbLength, 10);
    EXPECT_EQ(r.senseInfoLength, 32);
    EXPECT_EQ(r.senseInfoOffset, 48u);
    EXPECT_EQ(r.dataTransferLength, 0x2000u);
    EXPECT_EQ(0, std::memcmp(r.cdb, kWriteBufferMode5, 10));
    for (int i = 10; i < 16; ++i)
        EXPECT_EQ(r.cdb[i], 0) << i;
    EXPECT_EQ(access.liveHandles, 0);
    EXPECT_EQ(lastStatus->SRB_CDBLen, 10);
}

TEST_F(PassThroughTest, DirectionFollowsTheFlags)
{
    struct Row {
        uint8_t flags;
        uint8_t dataIn;
        bool callerBuffer;
    };
    const Row rows[] = {
        {SRB_DIR_IN, SCSI_IOCTL_DATA_IN_, true},
        {SRB_DIR_OUT, SCSI_IOCTL_DATA_OUT_, false},
        {SRB_EVENT_NOTIFY, SCSI_IOCTL_DATA_UNSPECIFIED_, true},
        {0x00, SCSI_IOCTL_DATA_UNSPECIFIED_, true},
        {SRB_DIR_IN | SRB_DIR_OUT, SCSI_IOCTL_DATA_UNSPECIFIED_, true},
        {SRB_DIR_IN | SRB_EVENT_NOTIFY, SCSI_IOCTL_DATA_IN_, true},
    };
    const uint8_t cdb[12] = {0x12, 0, 0, 0, 36};
    for (const Row& row : rows) {
        uint8_t data[36] = {};
        access.dataToReturn.assign(36, 0x11);
        EXPECT_EQ(run(data, 36, cdb, 6, row.flags), Ok);
        EXPECT_EQ(access.sent.dataIn, row.dataIn) << int(row.flags);
        EXPECT_EQ(access.sent.dataBuffer == data, row.callerBuffer) << int(row.flags);
        EXPECT_EQ(AllocationWatch::live, 0);
    }
}

TEST_F(PassThroughTest, OnlyWriteBufferDownloadAndSaveGetsTheLongTimeout)
{
    struct Row {
        uint8_t byte0;
        uint8_t byte1;
        uint32_t seconds;
    };
    const Row rows[] = {
        {0x3B, 0x05, 600}, {0x3B, 0x04, 10}, {0x3B, 0x25, 10}, {0x3B, 0x07, 10},
        {0x3C, 0x05, 10},  {0x3C, 0x02, 10}, {0x00, 0x05, 10}, {0x3B, 0x00, 10},
    };
    for (const Row& row : rows) {
        uint8_t cdb[12] = {row.byte0, row.byte1};
        uint8_t data[4] = {};
        run(data, sizeof data, cdb, 10, row.byte0 == 0x3C ? SRB_DIR_IN : SRB_DIR_OUT);
        EXPECT_EQ(access.sent.timeOutValue, row.seconds)
            << std::hex << int(row.byte0) << " " << int(row.byte1);
    }
}

TEST_F(PassThroughTest, AtapiDrivesGetTwelveByteBlocks)
{
    entry.atapi = 1;
    const uint8_t cdb[12] = {0x00};
    EXPECT_EQ(run(nullptr, 0, cdb, 6, SRB_EVENT_NOTIFY), Ok);
    EXPECT_EQ(access.sent.cdbLength, 12);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(access.sent.cdb[i], 0) << i;
    EXPECT_EQ(lastStatus->SRB_CDBLen, 12);
}

// One answer of the operating system and the result it must give.
struct AnswerRow {
    const char* what;
    bool callOk;
    uint8_t scsiStatus;
    uint8_t senseKey;
    int result;
};

TEST_F(PassThroughTest, ResultDecisions)
{
    const AnswerRow rows[] = {
        {"good", true, 0x00, 0x00, Ok},
        {"good with stray sense", true, 0x00, 0x05, Ok},
        {"check condition with sense", true, 0x02, 0x05, TargetFailed},
        {"check condition without sense", true, 0x02, 0x00, Ok},
        {"flagged sense key byte", true, 0x02, 0x24, TargetFailed},
        {"failed call with sense", false, 0x02, 0x03, TargetFailed},
        {"failed call with sense, good status", false, 0x00, 0x09, TargetFailed},
        {"failed call without sense", false, 0x00, 0x00, SystemError},
        {"failed call, status without sense", false, 0x02, 0x00, SystemError},
        {"busy without sense", true, 0x08, 0x00, TargetFailed},
        {"reservation conflict without sense", true, 0x18, 0x00, TargetFailed},
        {"task set full without sense", true, 0x28, 0x00, TargetFailed},
        {"task aborted without sense", true, 0x40, 0x00, TargetFailed},
        {"condition met", true, 0x04, 0x00, Ok},
    };
    const uint8_t cdb[12] = {0x00};
    for (const AnswerRow& row : rows) {
        access.callOk = row.callOk;
        access.scsiStatus = row.scsiStatus;
        std::memset(access.sense, 0, sizeof access.sense);
        access.sense[2] = row.senseKey;
        access.error = 1117;
        EXPECT_EQ(run(nullptr, 0, cdb, 6, SRB_EVENT_NOTIFY), row.result) << row.what;
        EXPECT_EQ(lastStatus->SenseArea[2], row.senseKey) << row.what;
        if (row.result != SystemError) {
            EXPECT_EQ(lastStatus->SRB_TargStat, row.scsiStatus);
        }
    }
}

TEST_F(PassThroughTest, SystemErrorPacksTheLowTwentyFourBitsOfTheErrorCode)
{
    struct Row {
        uint32_t error;
        uint8_t status, ha, targ;
    };
    const Row rows[] = {
        {1117, 0x5D, 0x04, 0x00},
        {0x12345678, 0x78, 0x56, 0x34},
        {0xFF000001, 0x01, 0x00, 0x00},
        {5, 0x05, 0x00, 0x00},
    };
    const uint8_t cdb[12] = {0x00};
    access.callOk = false;
    access.scsiStatus = 0x02;
    for (const Row& row : rows) {
        access.error = row.error;
        EXPECT_EQ(run(nullptr, 0, cdb, 6, SRB_EVENT_NOTIFY), SystemError);
        EXPECT_EQ(lastStatus->SRB_Status, row.status) << row.error;
        EXPECT_EQ(lastStatus->SRB_HaStat, row.ha) << row.error;
        EXPECT_EQ(lastStatus->SRB_TargStat, row.targ) << row.error;
    }
}

TEST_F(PassThroughTest, TargetFailureLeavesThePackedErrorOfAnEarlierCommand)
{
    const uint8_t cdb[12] = {0x00};
    access.callOk = false;
    access.error = 1117;
    ASSERT_EQ(run(nullptr, 0, cdb, 6, SRB_EVENT_NOTIFY), SystemError);
    access.sense[2] = 0x02;
    access.sense[12] = 0x3A;
    access.sense[13] = 0x01;
    access.scsiStatus = 0x02;
    EXPECT_EQ(run(nullptr, 0, cdb, 6, SRB_EVENT_NOTIFY), TargetFailed);
    EXPECT_EQ(lastStatus->SRB_Status, 0x5D);
    EXPECT_EQ(lastStatus->SRB_TargStat, 0x02);
    EXPECT_EQ(lastStatus->SenseArea[12], 0x3A);
    EXPECT_EQ(lastStatus->SenseArea[13], 0x01);
}

TEST_F(PassThroughTest, SenseBeyondFourteenBytesStaysOut)
{
    for (int i = 0; i < 32; ++i)
        access.sense[i] = static_cast<uint8_t>(0x80 + i);
    access.scsiStatus = 0x02;
    const uint8_t cdb[12] = {0x00};
    run(nullptr, 0, cdb, 6, SRB_EVENT_NOTIFY);
    for (int i = 0; i < 14; ++i)
        EXPECT_EQ(lastStatus->SenseArea[i], 0x80 + i);
    EXPECT_EQ(lastStatus->SenseArea[14], 0);
    EXPECT_EQ(lastStatus->SenseArea[15], 0);
}

TEST_F(PassThroughTest, OpenFallsBackToReadOnlyThenGivesUp)
{
    struct Row {
        bool readWrite, readOnly;
        size_t opens;
        int result;
    };
    const Row rows[] = {
        {true, true, 1, Ok},
        {false, true, 2, Ok},
        {false, false, 2, SetupFailed},
    };
    const uint8_t cdb[12] = {0x00};
    for (const Row& row : rows) {
        FakePassThrough fresh;
        fresh.openReadWrite = row.readWrite;
        fresh.openReadOnly = row.readOnly;
        installPassThroughAccess(&fresh);
        lastStatus = nullptr;
        std::vector<uint8_t> data(16, 1);
        EXPECT_EQ(run(data.data(), 16, cdb, 10, SRB_DIR_OUT), row.result);
        ASSERT_EQ(fresh.opens.size(), row.opens);
        if (row.opens == 2) {
            EXPECT_FALSE(fresh.opens[1].second);
        }
        EXPECT_EQ(fresh.sends, row.result == Ok ? 1 : 0);
        EXPECT_EQ(fresh.liveHandles, 0);
        EXPECT_EQ(AllocationWatch::live, 0);
        // The status image is chosen before anything can fail.
        EXPECT_NE(lastStatus, nullptr);
    }
    installPassThroughAccess(&access);
}

TEST_F(PassThroughTest, SetupFailureLeavesTheStatusImageUntouched)
{
    const uint8_t cdb[12] = {0x3C, 0x02};
    access.scsiStatus = 0x02;
    access.sense[2] = 0x09;
    uint8_t data[8];
    ASSERT_EQ(run(data, 8, cdb, 10, SRB_DIR_IN), TargetFailed);
    CommandStatus before;
    std::memcpy(&before, lastStatus, sizeof before);
    access.openReadWrite = access.openReadOnly = false;
    EXPECT_EQ(run(data, 8, cdb, 10, SRB_DIR_IN), SetupFailed);
    EXPECT_EQ(0, std::memcmp(&before, lastStatus, sizeof before));
}

TEST_F(PassThroughTest, DataOutCopyIsAlignedAndTheCallersBufferIsNeverTouched)
{
    struct Row {
        bool capabilitiesOk;
        uint32_t mask;
    };
    const Row rows[] = {{true, 0}, {true, 1}, {true, 3}, {true, 0x3F}, {true, 0x1FF}};
    for (const Row& row : rows) {
        access.capabilitiesOk = row.capabilitiesOk;
        access.alignmentMask = row.mask;
        std::vector<uint8_t> data(1000);
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<uint8_t>(i * 7);
        const std::vector<uint8_t> original = data;
        EXPECT_EQ(run(data.data(), 1000, kWriteBufferMode5, 10, SRB_DIR_OUT), Ok);
        EXPECT_NE(access.sent.dataBuffer, data.data());
        EXPECT_EQ(reinterpret_cast<uintptr_t>(access.sent.dataBuffer) & row.mask, 0u) << row.mask;
        EXPECT_EQ(access.sentData, original);
        EXPECT_EQ(data, original);
        EXPECT_TRUE(access.copyWasLiveWhileSent);
        EXPECT_EQ(AllocationWatch::live, 0);
    }
}

// A data-in buffer off the adapter's alignment goes through an aligned copy
// whose data reach the caller; an aligned one is handed over as it is.
TEST_F(PassThroughTest, DataInOffTheAdapterAlignmentIsReadThroughAnAlignedCopy)
{
    struct Row {
        uint32_t mask, offset;
    };
    const Row rows[] = {{0, 1}, {3, 0}, {3, 1}, {0x1F, 4}, {0x3F, 32}};
    const uint8_t cdb[12] = {0x3C, 0x02, 0x84, 0, 0, 0, 0, 0, 7};
    access.dataToReturn = {'E', 'P', 'S', '0', '2', '0', '0'};
    for (const Row& row : rows) {
        access.alignmentMask = row.mask;
        AllocationWatch::made.clear();
        alignas(64) uint8_t storage[128] = {};
        uint8_t* buffer = storage + row.offset;
        EXPECT_EQ(run(buffer, 7, cdb, 10, SRB_DIR_IN), Ok);
        const bool copied = (row.offset & row.mask) != 0;
        EXPECT_EQ(access.sent.dataBuffer == buffer, !copied) << row.mask;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(access.sent.dataBuffer) & row.mask, 0u);
        EXPECT_EQ(AllocationWatch::made.size(), copied ? 1u : 0u);
        EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 7), access.dataToReturn) << row.mask;
        EXPECT_EQ(buffer[7], 0) << "nothing beyond the buffer";
        EXPECT_EQ(AllocationWatch::live, 0);
        EXPECT_EQ(access.liveHandles, 0);
    }
}

TEST_F(PassThroughTest, FailedCapabilitiesQueryMeansNoAlignment)
{
    // The fake leaves a 4 KiB mask in the answer of the failed query; the copy
    // must not be placed by it, so it asks for no more than the data itself.
    access.capabilitiesOk = false;
    std::vector<uint8_t> data(64, 3);
    EXPECT_EQ(run(data.data(), 64, kWriteBufferMode5, 10, SRB_DIR_OUT), Ok);
    ASSERT_EQ(AllocationWatch::made.size(), 1u);
    EXPECT_LT(AllocationWatch::made[0].second, 64u + 0xFFF);
    EXPECT_EQ(access.sentData, std::vector<uint8_t>(64, 3));
}

TEST_F(PassThroughTest, TheCopyIsReleasedOnEveryPath)
{
    const AnswerRow rows[] = {
        {"completed", true, 0, 0, Ok},
        {"target failure", true, 2, 9, TargetFailed},
        {"failed call with sense", false, 2, 4, TargetFailed},
        {"system error", false, 0, 0, SystemError},
        {"status without sense", true, 2, 0, Ok},
    };
    for (const AnswerRow& row : rows) {
        access.callOk = row.callOk;
        access.scsiStatus = row.scsiStatus;
        access.sense[2] = row.senseKey;
        std::vector<uint8_t> data(512, 0x42);
        EXPECT_EQ(run(data.data(), 512, kWriteBufferMode5, 10, SRB_DIR_OUT), row.result)
            << row.what;
        EXPECT_TRUE(access.copyWasLiveWhileSent) << row.what;
        EXPECT_EQ(AllocationWatch::live, 0) << row.what;
        EXPECT_EQ(access.liveHandles, 0) << row.what;
        EXPECT_EQ(data, std::vector<uint8_t>(512, 0x42)) << row.what;
    }
}

TEST_F(PassThroughTest, NoMemoryClosesTheDeviceAndSendsNothing)
{
    const uint8_t cdb[12] = {0x00};
    access.sense[2] = 0x06;
    access.scsiStatus = 2;
    ASSERT_EQ(run(nullptr, 0, cdb, 6, SRB_EVENT_NOTIFY), TargetFailed);
    CommandStatus before;
    std::memcpy(&before, lastStatus, sizeof before);
    AllocationWatch::failNext = 1;
    std::vector<uint8_t> data(32, 1);
    EXPECT_EQ(run(data.data(), 32, kWriteBufferMode5, 10, SRB_DIR_OUT), NoMemory);
    EXPECT_EQ(access.sends, 1);
    EXPECT_EQ(access.liveHandles, 0);
    EXPECT_EQ(0, std::memcmp(&before, lastStatus, sizeof before));
}

TEST_F(PassThroughTest, DataInArrivesInTheCallersBuffer)
{
    access.dataToReturn = {0x05, 0x80, 0x00, 0x32};
    uint8_t data[4] = {};
    const uint8_t cdb[12] = {0x12, 0, 0, 0, 4};
    EXPECT_EQ(run(data, 4, cdb, 6, SRB_DIR_IN), Ok);
    EXPECT_EQ(data[3], 0x32);
    EXPECT_EQ(AllocationWatch::made.size(), 0u);
}

TEST(AlignedBuffer, AddressesHaveTheMaskBitsClearAndTheWholeSizeFits)
{
    AllocationWatch::install();
    const uint32_t masks[] = {0, 1, 3, 7, 15, 0x1FF, 0xFFF, 0xFFFF};
    const uint32_t sizes[] = {0, 1, 100, 4096, 65537};
    for (uint32_t mask : masks) {
        for (uint32_t size : sizes) {
            AllocationWatch::made.clear();
            uint8_t* buffer = allocateAligned(size, mask);
            ASSERT_NE(buffer, nullptr);
            EXPECT_EQ(reinterpret_cast<uintptr_t>(buffer) & mask, 0u);
            ASSERT_EQ(AllocationWatch::made.size(), 1u);
            auto* raw = static_cast<uint8_t*>(AllocationWatch::made[0].first);
            EXPECT_GE(buffer, raw);
            EXPECT_LE(buffer + size, raw + AllocationWatch::made[0].second);
            std::memset(buffer, 0xA5, size);
            releaseAligned(buffer);
            EXPECT_EQ(AllocationWatch::live, 0) << mask << " " << size;
        }
    }
    releaseAligned(nullptr);
    AllocationWatch::uninstall();
}

TEST(AlignedBuffer, SizePlusMaskIsNeverWrapped)
{
    static size_t asked;
    asked = 0;
    setAlignedAllocator(
        [](size_t bytes) -> void* {
            asked = bytes;
            return nullptr;
        },
        nullptr);
    EXPECT_EQ(allocateAligned(0xFFFFFFFFu, 0xFFFFFFFFu), nullptr);
    if (sizeof(size_t) > 4)
        EXPECT_GE(asked, size_t{0x1FFFFFFFEu});
    else
        EXPECT_EQ(asked, 0u); // cannot fit: refused without asking
    EXPECT_EQ(allocateAligned(16, 0), nullptr);
    EXPECT_GE(asked, 16u);
    setAlignedAllocator(nullptr, nullptr);
    uint8_t* buffer = allocateAligned(16, 7);
    ASSERT_NE(buffer, nullptr);
    releaseAligned(buffer);
}

} // namespace
