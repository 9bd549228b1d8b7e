// The update worker, run on the test's own thread against the scripted drive.
#include <gtest/gtest.h>

#include <vector>

#include "tests/unit/update_fake_drive.h"
#include "update/UpdateWorker.h"

using namespace updatetest;

namespace {

constexpr Sense kReady{};
constexpr Sense kNoMediumTrayClosed{0x02, 0x3A, 0x01};
constexpr Sense kTrayOpen{0x02, 0x3A, 0x02};
constexpr Sense kSendAgain{0x04, 0x40, 0xF7};
constexpr Sense kFlashWriteError{0x09, 0x85, 0x00};

class WorkerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        system.install();
        resetUpdateState();
    }
    void TearDown() override { package.firmwareImage = nullptr; }

    // Runs the worker as the monitor would start it.
    void runWorker(Via via = Via::PassThrough)
    {
        installDrive(via, drive);
        updateState.transferCount.store(1);
        updateState.phase.store(PhaseFlashing);
        EXPECT_EQ(updateThreadProc(nullptr), 0u);
    }

    bool succeeded() const
    {
        return updateState.phase.load() == PhaseDone && updateState.transferCount.load() == 0;
    }

    HookedSystem system;
    FakeDrive drive{system};
    PackageFixture pkg{0x8000, 0x2000};
};

struct ChunkPlan {
    const char* name;
    Via via;
    uint32_t size;
    uint32_t chunk;
    uint32_t count;
};

class ChunkPlanTest : public WorkerTest, public ::testing::WithParamInterface<ChunkPlan> {};

TEST_P(ChunkPlanTest, SendsWholeChunksInOrderWithTheFinalOneSaved)
{
    const ChunkPlan& plan = GetParam();
    pkg.set(plan.size, plan.chunk);
    runWorker(plan.via);

    ASSERT_TRUE(succeeded()) << updateState.errorText;
    const std::vector<SentCommand> chunks = drive.chunks();
    ASSERT_EQ(chunks.size(), plan.count);
    for (uint32_t k = 0; k < plan.count; ++k) {
        SCOPED_TRACE(k);
        const SentCommand& c = chunks[k];
        EXPECT_EQ(c.mode(), k + 1 == plan.count ? 5 : 4);
        EXPECT_EQ(c.offset(), k * plan.chunk);
        EXPECT_EQ(c.length, plan.chunk);
        EXPECT_TRUE(c.imageMatches);
        // Every accepted non-final chunk moves the count on by one.
        EXPECT_EQ(c.transferCount, k + 1);
    }
    // Nothing past the last whole chunk is sent.
    EXPECT_EQ(chunks.back().offset() + chunks.back().length, plan.count * plan.chunk);
}

INSTANTIATE_TEST_SUITE_P(
    Plans, ChunkPlanTest,
    ::testing::Values(ChunkPlan{"HalfMegabyte", Via::PassThrough, 0x80000, 0x2000, 64},
                      ChunkPlan{"HalfMegabyteAspi", Via::Aspi, 0x80000, 0x2000, 64},
                      ChunkPlan{"SingleChunk", Via::PassThrough, 0x2000, 0x2000, 1},
                      ChunkPlan{"SingleChunkWithTail", Via::Aspi, 0x3FFF, 0x2000, 1},
                      ChunkPlan{"RemainderNotSent", Via::PassThrough, 0x6005, 0x2000, 3},
                      ChunkPlan{"OddChunk", Via::PassThrough, 10000, 3000, 3}),
    CaseName());

TEST_F(WorkerTest, HalfMegabyteEndsAtOffset7E000)
{
    pkg.set(0x80000, 0x2000);
    runWorker();
    const std::vector<SentCommand> chunks = drive.chunks();
    ASSERT_EQ(chunks.size(), 64u);
    EXPECT_EQ(chunks[62].offset(), 0x7C000u);
    EXPECT_EQ(chunks[63].offset(), 0x7E000u);
    EXPECT_EQ(chunks[63].transferCount, 64u);
}

struct TrayCase {
    const char* name;
    Sense first;
    Sense second;
    bool eject;
};

class TrayTest : public WorkerTest, public ::testing::WithParamInterface<TrayCase> {};

TEST_P(TrayTest, EjectsUnlessTheTrayIsClosedAndEmpty)
{
    drive.turSense = {GetParam().first, GetParam().second};
    runWorker();
    ASSERT_GE(drive.log.size(), 3u);
    EXPECT_TRUE(drive.log[0].isTestUnitReady());
    EXPECT_TRUE(drive.log[1].isTestUnitReady());
    EXPECT_EQ(drive.countOf(0x1B, 0), GetParam().eject ? 1 : 0);
    if (GetParam().eject) {
        EXPECT_EQ(drive.log[2].opcode(), 0x1B);
        EXPECT_EQ(drive.log[2].cdb[4], 0x02); // LoEj, no Start
        EXPECT_EQ(drive.log[2].cdb[1], 0x00); // wait for completion
    }
    EXPECT_TRUE(succeeded());
}

INSTANTIATE_TEST_SUITE_P(
    Probes, TrayTest,
    ::testing::Values(TrayCase{"NoMediumTrayClosed", kReady, kNoMediumTrayClosed, false},
                      TrayCase{"TrayOpen", kReady, kTrayOpen, true},
                      TrayCase{"MediumLoaded", kReady, kReady, true},
                      TrayCase{"OnlyFirstProbeSaysEmpty", kNoMediumTrayClosed, kReady, true},
                      // The sense key is compared as the whole byte.
                      TrayCase{"KeyWithFlagBit", kReady, Sense{0x22, 0x3A, 0x01}, true},
                      TrayCase{"OtherFailure", kReady, kFlashWriteError, true}),
    CaseName());

TEST_F(WorkerTest, StaleSenseOfALocalFailureDoesNotStopTheEject)
{
    // The first probe leaves 02-3A-01 in the status image; the second cannot
    // open the drive, so the image still describes the first.
    drive.turSense = {kNoMediumTrayClosed};
    drive.faults[1] = setupFault();
    runWorker();
    EXPECT_EQ(drive.countOf(0x1B, 0), 1);
    EXPECT_TRUE(succeeded());
}

struct SettleCase {
    const char* name;
    uint32_t latency;
    uint8_t waitSeconds;
    std::vector<uint32_t> waits;
};

class SettleTest : public WorkerTest, public ::testing::WithParamInterface<SettleCase> {};

TEST_P(SettleTest, WaitsByHowLongTheSaveTook)
{
    package.options.updateWaitTime = GetParam().waitSeconds;
    drive.saveLatency = {GetParam().latency};
    runWorker();
    EXPECT_TRUE(succeeded());
    EXPECT_EQ(system.waits(), GetParam().waits);
}

INSTANTIATE_TEST_SUITE_P(Latencies, SettleTest,
                         ::testing::Values(SettleCase{"SlowSave", 1500, 15, {3000}},
                                           SettleCase{"SlowSaveNoWaitTime", 1000, 0, {3000}},
                                           SettleCase{"QuickSave", 200, 15, {15000}},
                                           SettleCase{"JustUnderASecond", 999, 4, {4000}},
                                           SettleCase{"QuickSaveNoWait", 0, 0, {}},
                                           SettleCase{"LongestWaitTime", 10, 255, {255000}}),
                         CaseName());

struct TwiceCase {
    const char* name;
    uint8_t twice;
    std::vector<Sense> probes; // all TEST UNIT READY answers in order
    int transfers;
    std::vector<uint32_t> waits;
};

class TwiceTest : public WorkerTest, public ::testing::WithParamInterface<TwiceCase> {};

TEST_P(TwiceTest, SendsTheImageAgainOnlyWhenTheThirdProbeAsks)
{
    const TwiceCase& c = GetParam();
    pkg.set(0x8000, 0x2000);
    package.options.twiceUpdate = c.twice;
    drive.turSense = c.probes;
    runWorker();
    ASSERT_TRUE(succeeded()) << updateState.errorText;

    const std::vector<SentCommand> chunks = drive.chunks();
    ASSERT_EQ(chunks.size(), 4u * c.transfers);
    for (size_t i = 0; i < chunks.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(chunks[i].offset(), (i % 4) * 0x2000);
        EXPECT_EQ(chunks[i].mode(), i % 4 == 3 ? 5 : 4);
        EXPECT_TRUE(chunks[i].imageMatches);
        // The second transfer leaves the count where the first left it.
        EXPECT_LE(chunks[i].transferCount, 4u);
    }
    EXPECT_EQ(system.waits(), c.waits);
}

INSTANTIATE_TEST_SUITE_P(
    Probes, TwiceTest,
    ::testing::Values(
        TwiceCase{"DriveAsksAgain",
                  1,
                  {kReady, kReady, kReady, kReady, kSendAgain},
                  2,
                  {15000, 100, 100, 15000}},
        TwiceCase{
            "DriveIsContent", 1, {kReady, kReady, kReady, kReady, kReady}, 1, {15000, 100, 100}},
        TwiceCase{"OtherSense",
                  1,
                  {kReady, kReady, kReady, kReady, Sense{0x04, 0x40, 0xF6}},
                  1,
                  {15000, 100, 100}},
        TwiceCase{"OnlyAnEarlierProbeAsks",
                  1,
                  {kReady, kReady, kSendAgain, kSendAgain, kReady},
                  1,
                  {15000, 100, 100}},
        TwiceCase{"NotAllowedByThePackage",
                  0,
                  {kReady, kReady, kSendAgain, kSendAgain, kSendAgain},
                  1,
                  {15000}}),
    CaseName());

TEST_F(WorkerTest, ProbesTwiceMoreWhenThePackageAsks)
{
    package.options.updateAfterCommand = 1;
    runWorker();
    ASSERT_TRUE(succeeded());
    ASSERT_GE(drive.log.size(), 2u);
    EXPECT_TRUE(drive.log[drive.log.size() - 1].isTestUnitReady());
    EXPECT_TRUE(drive.log[drive.log.size() - 2].isTestUnitReady());
    EXPECT_EQ(drive.countOf(0x00, 0), 4);
}

// A failed chunk: the text first, then the member that announces it, and
// nothing sent afterwards.
struct ChunkFailure {
    const char* name;
    bool secondTransfer;
    uint32_t chunk; // 0 to 3; 3 is the saving one
    uint32_t transferCount;
    uint8_t phase;
};

class ChunkFailureTest : public WorkerTest, public ::testing::WithParamInterface<ChunkFailure> {};

TEST_P(ChunkFailureTest, StopsAtOnceAndPublishesTheFailure)
{
    const ChunkFailure& c = GetParam();
    pkg.set(0x8000, 0x2000);
    package.options.twiceUpdate = 1;
    drive.turSense = {kReady, kReady, kReady, kReady, kSendAgain};
    // Commands: 2 probes and the eject, 4 chunks, 3 probes, 4 chunks.
    const int index =
        c.secondTransfer ? 10 + static_cast<int>(c.chunk) : 3 + static_cast<int>(c.chunk);
    drive.faults[index] = targetFault(kFlashWriteError);
    runWorker();

    EXPECT_EQ(updateState.errorText, "Flash rom write error. (Code 09-85-00)");
    EXPECT_EQ(updateState.transferCount.load(), c.transferCount);
    EXPECT_EQ(updateState.phase.load(), c.phase);
    ASSERT_FALSE(drive.log.empty());
    EXPECT_EQ(drive.log.back().index, index);
    EXPECT_TRUE(drive.log.back().failed);
    EXPECT_TRUE(system.waits().size() <= (c.secondTransfer ? 3u : 0u));
}

INSTANTIATE_TEST_SUITE_P(
    Chunks, ChunkFailureTest,
    ::testing::Values(ChunkFailure{"FirstChunk", false, 0, 0, PhaseFlashing},
                      ChunkFailure{"LastDownloadChunk", false, 2, 0, PhaseFlashing},
                      ChunkFailure{"SaveChunk", false, 3, 4, PhaseFailed},
                      ChunkFailure{"SecondTransferFirstChunk", true, 0, 0, PhaseFailed},
                      ChunkFailure{"SecondTransferMiddleChunk", true, 1, 0, PhaseFailed},
                      ChunkFailure{"SecondTransferSaveChunk", true, 3, 4, PhaseFailed}),
    CaseName());

struct UnsoundCase {
    const char* name;
    uint32_t size;
    uint32_t chunk;
};

class UnsoundTest : public WorkerTest, public ::testing::WithParamInterface<UnsoundCase> {};

TEST_P(UnsoundTest, SendsNothingAndFails)
{
    pkg.set(GetParam().size, GetParam().chunk);
    EXPECT_FALSE(transferIsSound(GetParam().size, GetParam().chunk));
    runWorker();
    EXPECT_TRUE(drive.log.empty());
    EXPECT_EQ(drive.commandsBegun, 0);
    EXPECT_EQ(updateState.transferCount.load(), 0u);
    EXPECT_EQ(updateState.phase.load(), PhaseFailed);
    EXPECT_EQ(updateState.errorText, kUnsoundTransferText);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, UnsoundTest,
    ::testing::Values(UnsoundCase{"ChunkSizeZero", 0x2000, 0},
                      UnsoundCase{"NoWholeChunk", 0x1FFF, 0x2000},
                      UnsoundCase{"EmptyImage", 0, 0x2000},
                      // Offsets past 24 bits would be cut and overwrite the start.
                      UnsoundCase{"OffsetBeyondTheBlock", 0x1001000, 0x1000},
                      UnsoundCase{"ChunkBeyondTheBlock", 0x1000000, 0x1000000}),
    CaseName());

TEST(TransferIsSound, AcceptsTheLargestOffsetTheBlockCarries)
{
    EXPECT_TRUE(transferIsSound(0x1000000, 0x1000)); // last chunk at 0xFFF000
    EXPECT_TRUE(transferIsSound(0x80000, 0x2000));
    EXPECT_TRUE(transferIsSound(0xFFFFFF, 0xFFFFFF));
    EXPECT_FALSE(transferIsSound(0xFFFFFFFF, 1));
}

TEST_F(WorkerTest, MissingImageSendsNothing)
{
    package.firmwareImage = nullptr;
    runWorker();
    EXPECT_TRUE(drive.log.empty());
    EXPECT_EQ(updateState.phase.load(), PhaseFailed);
}

struct EpsOutcome {
    const char* name;
    std::vector<unsigned> corrupt;
    const char* after;
    uint8_t phase;
    const char* text;
};

class WorkerEpsTest : public WorkerTest, public ::testing::WithParamInterface<EpsOutcome> {};

TEST_P(WorkerEpsTest, TurnsTheEpsResultIntoTheOutcome)
{
    pkg.withEps(0x4000, "EPS0002");
    drive.epsVersion = "EPS0001";
    drive.epsVersionAfterCommit = GetParam().after;
    drive.corruptReadBack = GetParam().corrupt;
    runWorker();
    EXPECT_EQ(updateState.phase.load(), GetParam().phase);
    EXPECT_EQ(updateState.errorText, GetParam().text);
    EXPECT_EQ(updateState.transferCount.load(), GetParam().phase == PhaseDone ? 0u : 4u);
}

INSTANTIATE_TEST_SUITE_P(
    Results, WorkerEpsTest,
    ::testing::Values(
        EpsOutcome{"Written", {}, "EPS0002", PhaseDone, ""},
        EpsOutcome{"CompareFails", {4}, "EPS0002", PhaseFailed, "Firmware compare failure."},
        EpsOutcome{"WrongVersionAfter", {}, "EPS0003", PhaseFailed, "Firmware update failure."}),
    CaseName());

TEST_F(WorkerTest, EpsCommandFailureIsDescribed)
{
    pkg.withEps(0x4000, "EPS0002");
    // 3 tray commands, 4 chunks, then the version read of the EPS image.
    drive.faults[7] = systemFault(1117);
    runWorker();
    EXPECT_EQ(updateState.phase.load(), PhaseFailed);
    EXPECT_EQ(updateState.errorText, "System error (Win32): Code 1117\n");
}

} // namespace
