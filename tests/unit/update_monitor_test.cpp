// The progress monitor on the main window, with scripted workers that hold
// each display as long as a test needs, and with the real worker.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "app/Language.h"
#include "platform/model/ModelWindows.h"
#include "tests/unit/update_fake_drive.h"
#include "ui/MainWindow.h"
#include "update/ProgressMonitor.h"
#include "update/UpdateWorker.h"

using namespace updatetest;

namespace {

constexpr const char* kTransferText = " Wait... (Transferring data)";
constexpr const char* kFlashText = " Wait... (Running Firmware upgrade procedure)";
constexpr const char* kCompletedText = " Firmware update is completed.";
constexpr const char* kPrefix = "Firmware update is failed.\n\n";

// What one repaint showed.
struct Frame {
    std::string status;
    int upper;
    int pos;
};

// The scripted workers below read and move these.
HookedSystem* scriptedSystem = nullptr;
uint32_t scriptedCount = 0;
std::atomic<size_t> waitsAtFailure{0};

size_t monitorWaits()
{
    return scriptedSystem->waits().size();
}

// Lets the monitor poll `polls` more times.
void letMonitorPoll(size_t polls)
{
    const size_t until = monitorWaits() + polls;
    while (monitorWaits() < until)
        std::this_thread::sleep_for(std::chrono::microseconds(50));
}

void publishDone()
{
    updateState.phase.store(PhaseDone, std::memory_order_release);
    updateState.transferCount.store(0, std::memory_order_release);
}

unsigned flashThenDone(void*)
{
    updateState.transferCount.store(scriptedCount, std::memory_order_release);
    letMonitorPoll(400);
    publishDone();
    return 0;
}

unsigned stepThroughTransfer(void*)
{
    for (uint32_t v = 2; v <= scriptedCount; ++v) {
        letMonitorPoll(3);
        updateState.transferCount.store(v, std::memory_order_release);
    }
    letMonitorPoll(3);
    publishDone();
    return 0;
}

unsigned failChunk(void*)
{
    letMonitorPoll(5);
    updateState.errorText = "Erase failure. (Code 09-82-00)";
    updateState.transferCount.store(0, std::memory_order_release);
    waitsAtFailure = monitorWaits();
    return 0;
}

unsigned finishAtOnce(void*)
{
    publishDone();
    return 0;
}

unsigned secondaryThenDone(void*)
{
    updateState.transferCount.store(scriptedCount, std::memory_order_release);
    letMonitorPoll(5);
    updateState.phase.store(PhaseSecondary, std::memory_order_release);
    letMonitorPoll(100);
    publishDone();
    return 0;
}

unsigned failAfterFlash(void*)
{
    updateState.transferCount.store(scriptedCount, std::memory_order_release);
    letMonitorPoll(5);
    updateState.phase.store(PhaseSecondary, std::memory_order_release);
    letMonitorPoll(5);
    updateState.errorText = "Firmware compare failure.";
    updateState.phase.store(PhaseFailed, std::memory_order_release);
    return 0;
}

class MonitorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        system.install();
        scriptedSystem = &system;
        resetUpdateState();
        installDrive(Via::PassThrough, drive);
        scriptedCount = package.firmwareFileSize / package.bufferSize;
        userLcid = 1033;
        setRepaintHook([this](CDialog&) {
            frames.push_back(Frame{window.statusLine.getWindowText(),
                                   window.progressBar.state->rangeUpper,
                                   window.progressBar.state->pos});
        });
    }
    void TearDown() override
    {
        starter.join();
        setRepaintHook({});
        setModelThreadStartFailure(false);
        userLcid = 1033;
        scriptedSystem = nullptr;
    }

    // Runs the monitor inside the main window's modal run.
    int runMonitor()
    {
        int result = -1;
        ScriptedModalDriver driver;
        driver.then([&](CDialog& dialog) {
            result = monitorProgress();
            starter.join();
            finalFrame = Frame{window.statusLine.getWindowText(),
                               window.progressBar.state->rangeUpper, window.progressBar.state->pos};
            dialog.endDialog(IDCANCEL_);
        });
        ModalDriverScope scope(&driver);
        window.doModal();
        return result;
    }

    std::vector<Frame> framesWith(const std::string& status, int upper) const
    {
        std::vector<Frame> out;
        for (const Frame& f : frames)
            if (f.status == status && f.upper == upper) out.push_back(f);
        return out;
    }

    int maxPos(const std::vector<Frame>& of) const
    {
        int best = -1;
        for (const Frame& f : of)
            best = std::max(best, f.pos);
        return best;
    }

    HookedSystem system;
    FakeDrive drive{system};
    PackageFixture pkg{0x8000, 0x2000};
    JoinedStarter starter;
    MainWindow window;
    std::vector<Frame> frames;
    Frame finalFrame{};
};

struct FlashRange {
    const char* name;
    uint8_t waitSeconds;
    uint8_t twice;
    int upper;
    int highestStep;
};

class FlashRangeTest : public MonitorTest, public ::testing::WithParamInterface<FlashRange> {};

TEST_P(FlashRangeTest, FillsTheBarOverTheWaitTime)
{
    const FlashRange& c = GetParam();
    package.options.updateWaitTime = c.waitSeconds;
    package.options.twiceUpdate = c.twice;
    starter.replacement = flashThenDone;
    ASSERT_EQ(runMonitor(), 1);

    const std::vector<Frame> flash = framesWith(kFlashText, c.upper);
    ASSERT_FALSE(flash.empty());
    EXPECT_EQ(maxPos(flash), c.highestStep);
    // Success puts the bar at the end of the range shown last.
    EXPECT_EQ(finalFrame.upper, c.upper);
    EXPECT_EQ(finalFrame.pos, c.upper);
    EXPECT_EQ(finalFrame.status, kCompletedText);
    EXPECT_EQ(system.waits().back(), 1000u);
    EXPECT_TRUE(system.messageBoxes().empty());
}

INSTANTIATE_TEST_SUITE_P(Ranges, FlashRangeTest,
                         ::testing::Values(FlashRange{"Fifteen", 15, 0, 150, 147},
                                           FlashRange{"FifteenTwice", 15, 1, 350, 347},
                                           FlashRange{"NoWait", 0, 0, 0, 0},
                                           FlashRange{"NoWaitTwice", 0, 1, 50, 47},
                                           FlashRange{"OneSecond", 1, 0, 10, 7}),
                         CaseName());

TEST_F(MonitorTest, TransferDisplayFollowsTheCount)
{
    pkg.set(0x8000, 0x1000); // 8 chunks
    scriptedCount = 8;
    starter.replacement = stepThroughTransfer;
    ASSERT_EQ(runMonitor(), 1);

    const std::vector<Frame> transfer = framesWith(kTransferText, 8);
    ASSERT_FALSE(transfer.empty());
    std::vector<int> shown;
    for (const Frame& f : transfer)
        if (shown.empty() || shown.back() != f.pos) shown.push_back(f.pos);
    // Position = count - 1 while the chunks go, then the full bar.
    EXPECT_EQ(shown, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 8}));
}

TEST_F(MonitorTest, SingleChunkGoesStraightToTheFlashDisplay)
{
    pkg.set(0x2000, 0x2000);
    scriptedCount = 1;
    starter.replacement = flashThenDone;
    ASSERT_EQ(runMonitor(), 1);
    // The transfer display is only seen with its bar full.
    for (const Frame& f : framesWith(kTransferText, 1))
        EXPECT_EQ(f.pos, 1);
    const std::vector<uint32_t> waits = system.waits();
    EXPECT_EQ(std::count(waits.begin(), waits.end(), 20u), 0);
}

TEST_F(MonitorTest, FailedChunkIsReportedWithinOnePoll)
{
    starter.replacement = failChunk;
    ASSERT_EQ(runMonitor(), 0);
    EXPECT_LE(system.waits().size() - waitsAtFailure, 1u);
    const std::vector<RecordedMessageBox> boxes = system.messageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].owner, &window);
    EXPECT_EQ(boxes[0].text, std::string(kPrefix) + "Erase failure. (Code 09-82-00)");
    EXPECT_EQ(boxes[0].title, "Error - Upgrade Program");
    EXPECT_EQ(boxes[0].flags, 0x10u);
    // The bar and status are left for the caller to reset.
    EXPECT_EQ(finalFrame.status, kTransferText);
}

TEST_F(MonitorTest, WorkerFinishedWithinOnePollIsASuccess)
{
    package.options.updateWaitTime = 0;
    starter.replacement = finishAtOnce;
    EXPECT_EQ(runMonitor(), 1);
    EXPECT_TRUE(system.messageBoxes().empty());
    EXPECT_EQ(finalFrame.status, kCompletedText);
    EXPECT_EQ(system.waits().back(), 1000u);
}

TEST_F(MonitorTest, EpsDisplayHasItsOwnRange)
{
    starter.replacement = secondaryThenDone;
    ASSERT_EQ(runMonitor(), 1);
    const std::vector<Frame> eps = framesWith(kFlashText, 50);
    ASSERT_FALSE(eps.empty());
    EXPECT_EQ(maxPos(eps), 47);
    EXPECT_EQ(finalFrame.upper, 50);
    EXPECT_EQ(finalFrame.pos, 50);
}

TEST_F(MonitorTest, FailureAfterTheFlashDisplayShowsTheWorkersText)
{
    starter.replacement = failAfterFlash;
    ASSERT_EQ(runMonitor(), 0);
    const std::vector<RecordedMessageBox> boxes = system.messageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, std::string(kPrefix) + "Firmware compare failure.");
    EXPECT_EQ(boxes[0].owner, &window);
}

struct StartFailure {
    const char* name;
    uint32_t lcid;
    const char* text;
};

class StartFailureTest : public MonitorTest, public ::testing::WithParamInterface<StartFailure> {};

TEST_P(StartFailureTest, WorkerThatCannotStartIsAFailedUpdate)
{
    userLcid = GetParam().lcid;
    // The class library's own thread start, made to fail.
    workerThreadStart = beginThread;
    setModelThreadStartFailure(true);
    EXPECT_EQ(runMonitor(), 0);
    const std::vector<RecordedMessageBox> boxes = system.messageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, GetParam().text);
    EXPECT_EQ(boxes[0].title, "Error - Upgrade Program");
    EXPECT_EQ(boxes[0].flags, 0x10u);
    EXPECT_EQ(boxes[0].owner, &window);
    EXPECT_TRUE(system.waits().empty());
    EXPECT_EQ(drive.commandsBegun, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Languages, StartFailureTest,
    ::testing::Values(
        StartFailure{"English", 1033,
                     "Firmware update is failed.\n\nThe update could not be started."},
        // ファームウェア更新に失敗しました。\n\n更新を開始できませんでした。
        StartFailure{"Japanese", 1041,
                     "\x83\x74\x83\x40\x81\x5b\x83\x80\x83\x45\x83\x46\x83\x41\x8d\x58\x90\x56"
                     "\x82\xc9\x8e\xb8\x94\x73\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81\x42\n\n"
                     "\x8d\x58\x90\x56\x82\xf0\x8a\x4a\x8e\x6e\x82\xc5\x82\xab\x82\xdc\x82\xb9"
                     "\x82\xf1\x82\xc5\x82\xb5\x82\xbd\x81\x42"}),
    CaseName());

TEST_F(MonitorTest, UnsoundSizesStartNoWorker)
{
    package.bufferSize = 0;
    EXPECT_EQ(runMonitor(), 0);
    EXPECT_EQ(starter.starts, 0);
    ASSERT_EQ(system.messageBoxes().size(), 1u);
    EXPECT_EQ(system.messageBoxes()[0].text, std::string(kPrefix) + kUnsoundTransferText);
}

TEST_F(MonitorTest, JapaneseDisplays)
{
    userLcid = 1041;
    starter.replacement = stepThroughTransfer;
    ASSERT_EQ(runMonitor(), 1);
    //  しばらくお待ち下さい...(ファームウェアデータ転送中)
    const std::string transfer =
        "\x20\x82\xb5\x82\xce\x82\xe7\x82\xad\x82\xa8\x91\xd2\x82\xbf\x89\xba\x82\xb3\x82\xa2"
        "...(\x83\x74\x83\x40\x81\x5b\x83\x80\x83\x45\x83\x46\x83\x41\x83\x66\x81\x5b\x83\x5e"
        "\x93\x5d\x91\x97\x92\x86)";
    //  しばらくお待ち下さい...(ファームウェア更新中)
    const std::string flash =
        "\x20\x82\xb5\x82\xce\x82\xe7\x82\xad\x82\xa8\x91\xd2\x82\xbf\x89\xba\x82\xb3\x82\xa2"
        "...(\x83\x74\x83\x40\x81\x5b\x83\x80\x83\x45\x83\x46\x83\x41\x8d\x58\x90\x56\x92\x86)";
    //  ファームウェア更新は完了しました。
    const std::string completed = "\x20\x83\x74\x83\x40\x81\x5b\x83\x80\x83\x45\x83\x46\x83\x41"
                                  "\x8d\x58\x90\x56\x82\xcd\x8a\xae\x97\xb9\x82\xb5\x82\xdc\x82"
                                  "\xb5\x82\xbd\x81\x42";
    EXPECT_FALSE(framesWith(transfer, 4).empty());
    EXPECT_FALSE(framesWith(flash, 150).empty());
    EXPECT_EQ(finalFrame.status, completed);
}

TEST_F(MonitorTest, JapaneseFailurePrefixKeepsTheEnglishReason)
{
    userLcid = 1041;
    starter.replacement = failChunk;
    ASSERT_EQ(runMonitor(), 0);
    ASSERT_EQ(system.messageBoxes().size(), 1u);
    // ファームウェア更新に失敗しました。\n\n
    EXPECT_EQ(system.messageBoxes()[0].text,
              "\x83\x74\x83\x40\x81\x5b\x83\x80\x83\x45\x83\x46\x83\x41\x8d\x58\x90\x56\x82\xc9"
              "\x8e\xb8\x94\x73\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81\x42\n\n"
              "Erase failure. (Code 09-82-00)");
}

// The real worker under the monitor.
TEST_F(MonitorTest, RealWorkerFlashesTheImage)
{
    ASSERT_EQ(runMonitor(), 1);
    EXPECT_EQ(drive.chunks().size(), 4u);
    EXPECT_TRUE(system.messageBoxes().empty());
    EXPECT_EQ(drive.openHandles, 0);
}

TEST_F(MonitorTest, CurrentEpsVersionShowsNoEpsDisplay)
{
    pkg.withEps(0x4000, "EPS0002");
    drive.epsVersion = "EPS0002";
    ASSERT_EQ(runMonitor(), 1);
    EXPECT_TRUE(framesWith(kFlashText, 50).empty());
    EXPECT_EQ(drive.countOf(0x3C, 0x84), 1);
}

TEST_F(MonitorTest, ClassLibraryThreadRunsTheWorker)
{
    workerThreadStart = beginThread;
    ASSERT_EQ(runMonitor(), 1);
    EXPECT_EQ(drive.chunks().size(), 4u);
}

} // namespace
