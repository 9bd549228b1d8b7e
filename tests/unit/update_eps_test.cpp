// The secondary (EPS) firmware update against the scripted drive.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "tests/unit/update_fake_drive.h"
#include "update/SecondaryFirmware.h"

using namespace updatetest;

namespace {

constexpr uint8_t kRead = 0x3C;
constexpr uint8_t kWrite = 0x3B;

class EpsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        system.install();
        resetUpdateState();
        updateState.phase.store(PhaseFlashing);
        pkg.withEps(0x4000, "EPS0002");
        drive.epsVersion = "EPS0001";
        drive.epsVersionAfterCommit = "EPS0002";
        installDrive(Via::PassThrough, drive);
    }
    void TearDown() override { pkg.clear(); }

    // The EPS commands in order, as "R84", "W80" and so on.
    std::vector<std::string> trace() const
    {
        std::vector<std::string> out;
        for (const SentCommand& c : drive.log) {
            char text[8];
            std::snprintf(text, sizeof text, "%c%02X%s", c.opcode() == kRead ? 'R' : 'W',
                          c.bufferId(), c.failed ? "!" : "");
            out.emplace_back(text);
        }
        return out;
    }

    HookedSystem system;
    FakeDrive drive{system};
    PackageFixture pkg{0x2000, 0x2000};
};

TEST_F(EpsTest, ImageWithoutDataBeyondTheHeaderSendsNothing)
{
    pkg.withEps(0x3400, "EPS0002");
    EXPECT_EQ(updateSecondaryFirmware(), Ok);
    EXPECT_EQ(drive.commandsBegun, 0);
    EXPECT_EQ(updateState.phase.load(), PhaseFlashing);
}

TEST_F(EpsTest, CurrentVersionIsLeftAlone)
{
    drive.epsVersion = "EPS0002";
    EXPECT_EQ(updateSecondaryFirmware(), Ok);
    EXPECT_EQ(trace(), (std::vector<std::string>{"R84"}));
    EXPECT_EQ(updateState.phase.load(), PhaseFlashing);
    EXPECT_TRUE(system.waits().empty());
}

TEST_F(EpsTest, WritesFromTheHeaderOnAndCommits)
{
    EXPECT_EQ(updateSecondaryFirmware(), Ok);
    EXPECT_EQ(trace(), (std::vector<std::string>{"R84", "W80", "W81", "R81", "W82", "R84"}));
    EXPECT_EQ(updateState.phase.load(), PhaseSecondary);
    EXPECT_EQ(system.waits(), (std::vector<uint32_t>{100}));
    const SentCommand& write = drive.log[2];
    EXPECT_EQ(write.offset(), 0x3400u);
    EXPECT_EQ(write.length, 0x4000u - 0x3400u);
    EXPECT_EQ(write.mode(), 0);
    EXPECT_EQ(drive.log[1].length, 0u);
    EXPECT_EQ(drive.log[3].offset(), 0x3400u);
    EXPECT_EQ(drive.log[5].length, 7u);
}

TEST_F(EpsTest, OneByteBeyondTheHeaderIsSent)
{
    pkg.withEps(0x3401, "EPS0002");
    EXPECT_EQ(updateSecondaryFirmware(), Ok);
    ASSERT_GE(drive.log.size(), 3u);
    EXPECT_EQ(drive.log[2].length, 1u);
}

TEST_F(EpsTest, OnlySevenVersionBytesCount)
{
    // The package keeps at most seven characters; the drive's eighth byte
    // and beyond are not looked at.
    drive.epsVersion = "EPS0002-extra";
    EXPECT_EQ(updateSecondaryFirmware(), Ok);
    EXPECT_EQ(drive.log.size(), 1u);
}

struct CompareCase {
    const char* name;
    std::vector<unsigned> corrupt; // differing bytes in each read-back
    int result;
    int writes;
    bool committed;
};

class CompareTest : public EpsTest, public ::testing::WithParamInterface<CompareCase> {};

TEST_P(CompareTest, CountsDifferingBytesOverTheWholeOperation)
{
    drive.corruptReadBack = GetParam().corrupt;
    EXPECT_EQ(updateSecondaryFirmware(), GetParam().result);
    EXPECT_EQ(drive.countOf(kWrite, 0x81), GetParam().writes);
    EXPECT_EQ(drive.countOf(kWrite, 0x82), GetParam().committed ? 1 : 0);
    // A read-back that differed is followed by a fresh write, not a prepare.
    EXPECT_EQ(drive.countOf(kWrite, 0x80), 1);
}

INSTANTIATE_TEST_SUITE_P(
    ReadBacks, CompareTest,
    ::testing::Values(CompareCase{"Matches", {}, Ok, 1, true},
                      CompareCase{"OneByteThenMatches", {1, 0}, Ok, 2, true},
                      CompareCase{"OneThenThreeMore", {1, 3}, CompareFailed, 2, false},
                      CompareCase{"FourAtOnce", {4}, CompareFailed, 1, false},
                      CompareCase{"ThreeAtOnceThenMatches", {3, 0}, Ok, 2, true},
                      CompareCase{"ThreeRewrites", {1, 1, 1, 0}, Ok, 4, true},
                      CompareCase{"FourthDifferingPass", {1, 1, 1, 1}, CompareFailed, 4, false}),
    CaseName());

struct RetryCase {
    const char* name;
    int firstFailure; // command index of the first failed attempt
    int failures;     // consecutive failed attempts of that step
    int result;
    std::vector<std::string> trace;
};

class RetryTest : public EpsTest, public ::testing::WithParamInterface<RetryCase> {};

TEST_P(RetryTest, RetriesWithAPrepareBetweenAttempts)
{
    const RetryCase& c = GetParam();
    // Attempts and prepares alternate, so every second command is an attempt.
    for (int i = 0; i < c.failures; ++i)
        drive.faults[c.firstFailure + 2 * i] = targetFault(Sense{0x09, 0x85, 0x00});
    EXPECT_EQ(updateSecondaryFirmware(), c.result);
    EXPECT_EQ(trace(), c.trace);
}

INSTANTIATE_TEST_SUITE_P(
    Attempts, RetryTest,
    ::testing::Values(
        RetryCase{"WriteFailsFourTimes",
                  2,
                  4,
                  TargetFailed,
                  {"R84", "W80", "W81!", "W80", "W81!", "W80", "W81!", "W80", "W81!"}},
        RetryCase{"WriteFailsThreeTimes",
                  2,
                  3,
                  Ok,
                  {"R84", "W80", "W81!", "W80", "W81!", "W80", "W81!", "W80", "W81", "R81", "W82",
                   "R84"}},
        RetryCase{"ReadBackFailsFourTimes",
                  3,
                  4,
                  TargetFailed,
                  {"R84", "W80", "W81", "R81!", "W80", "R81!", "W80", "R81!", "W80", "R81!"}},
        RetryCase{"ReadBackFailsOnce",
                  3,
                  1,
                  Ok,
                  {"R84", "W80", "W81", "R81!", "W80", "R81", "W82", "R84"}}),
    CaseName());

struct StepFailure {
    const char* name;
    int index;
    Fault fault;
    int result;
};

class StepFailureTest : public EpsTest, public ::testing::WithParamInterface<StepFailure> {};

TEST_P(StepFailureTest, ReturnsTheFailedCommandsResult)
{
    drive.faults[GetParam().index] = GetParam().fault;
    EXPECT_EQ(updateSecondaryFirmware(), GetParam().result);
    EXPECT_EQ(drive.commandsBegun, GetParam().index + 1);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, StepFailureTest,
    ::testing::Values(StepFailure{"VersionRead", 0, systemFault(5), SystemError},
                      StepFailure{"Prepare", 1, setupFault(), SetupFailed},
                      StepFailure{"Commit", 4, targetFault(Sense{0x09, 0x82, 0}), TargetFailed},
                      StepFailure{"VersionReRead", 5, targetFault(Sense{0x04, 0x40, 0xF5}),
                                  TargetFailed}),
    CaseName());

TEST_F(EpsTest, OtherVersionAfterTheCommitFails)
{
    drive.epsVersionAfterCommit = "EPS0001";
    EXPECT_EQ(updateSecondaryFirmware(), UpdateFailed);
    EXPECT_EQ(drive.countOf(kWrite, 0x82), 1);
}

TEST_F(EpsTest, AspiPathBehavesTheSame)
{
    installDrive(Via::Aspi, drive);
    drive.corruptReadBack = {2, 0};
    EXPECT_EQ(updateSecondaryFirmware(), Ok);
    EXPECT_EQ(trace(),
              (std::vector<std::string>{"R84", "W80", "W81", "R81", "W81", "R81", "W82", "R84"}));
    EXPECT_EQ(system.liveEventCount(), 0);
}

} // namespace
