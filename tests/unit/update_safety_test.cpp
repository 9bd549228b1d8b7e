// Every command of an update fails, once each, with every kind of result:
// the drive must never get a saving chunk after a failed chunk, no chunk
// twice in one transfer, and the user exactly one clear failure message.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/Language.h"
#include "platform/model/ModelWindows.h"
#include "tests/unit/update_fake_drive.h"
#include "ui/MainWindow.h"

using namespace updatetest;

namespace {

constexpr uint32_t kChunk = 0x200;
constexpr uint32_t kChunks = 4;

struct FailureKind {
    const char* name;
    Via via;
    Fault fault;
    const char* text; // what describeResult makes of it
};

const std::vector<FailureKind>& failureKinds()
{
    static const std::vector<FailureKind> kinds = {
        {"EraseFailure", Via::PassThrough, targetFault({0x09, 0x82, 0x00}),
         "Erase failure. (Code 09-82-00)"},
        {"NotErased", Via::PassThrough, targetFault({0x09, 0x84, 0x00}),
         "Flash rom not erased. (Code 09-84-00)"},
        {"WriteError", Via::PassThrough, targetFault({0x09, 0x85, 0x00}),
         "Flash rom write error. (Code 09-85-00)"},
        {"CheckSum", Via::PassThrough, targetFault({0x09, 0x86, 0x00}),
         "Flash rom check sum error. (Code 09-86-00)"},
        {"DataError", Via::PassThrough, targetFault({0x09, 0x87, 0x00}),
         "Firmware data error. (Code 09-87-00)"},
        {"TransferDataError", Via::PassThrough, targetFault({0x09, 0x88, 0x00}),
         "Firmware Transfer data error. (Code 09-88-00)"},
        {"WriteErrorF3", Via::PassThrough, targetFault({0x04, 0x40, 0xF3}), ""},
        {"DataErrorF5", Via::PassThrough, targetFault({0x04, 0x40, 0xF5}),
         "Firmware data error. (Code 04-40-f5)"},
        {"TransferDataErrorF6", Via::PassThrough, targetFault({0x04, 0x40, 0xF6}),
         "Firmware Transfer data error. (Code 04-40-f6)"},
        {"AspiCheckSum", Via::Aspi, targetFault({0x09, 0x86, 0x00}),
         "Flash rom check sum error. (Code 09-86-00)"},
        {"AspiRequestWriteErrorF3", Via::Aspi, srbFault(SS_ERR, {0x04, 0x40, 0xF3}),
         "Flash rom write error. (Code 04-40-f3)"},
        {"AspiRequestFailed", Via::Aspi, srbFault(0xE1), "Buffer alignment problem."},
        {"AspiAdapterFailed", Via::Aspi, adapterFault(0x11), "HA_Status: Selection Timeout."},
        {"SetupFailed", Via::PassThrough, setupFault(), "Can not create Event."},
        {"AspiSetupFailed", Via::Aspi, setupFault(), "Can not create Event."},
        {"NoMemory", Via::PassThrough, memoryFault(), "Memory allocation failure."},
        {"AspiNoMemory", Via::Aspi, memoryFault(), "Memory allocation failure."},
        {"SystemError", Via::PassThrough, systemFault(1117), "System error (Win32): Code 1117\n"},
    };
    return kinds;
}

// What one command of the undisturbed update is.
enum class Role { Probe, Eject, Chunk, EpsVersion, EpsPrepare, EpsWrite, EpsReadBack, EpsCommit };

Role roleOf(const SentCommand& c)
{
    if (c.isTestUnitReady()) return Role::Probe;
    if (c.opcode() == 0x1B) return Role::Eject;
    if (c.isChunk()) return Role::Chunk;
    if (c.opcode() == 0x3C) return c.bufferId() == 0x84 ? Role::EpsVersion : Role::EpsReadBack;
    switch (c.bufferId()) {
    case 0x80:
        return Role::EpsPrepare;
    case 0x81:
        return Role::EpsWrite;
    default:
        return Role::EpsCommit;
    }
}

struct Outcome {
    std::vector<SentCommand> log;
    int commandsBegun = 0;
    std::vector<RecordedMessageBox> boxes;
    bool updateEnabled = false;
    bool exitEnabled = false;
    int barPosition = -1;
    uint8_t updated = 0;
    int openHandles = 0;
    int liveEvents = 0;
    bool windowWasOwner = true;
};

// One whole update through the main window's UPDATE button.
Outcome runUpdate(Via via, const std::map<int, Fault>& faults)
{
    HookedSystem system;
    system.install();
    FakeDrive drive(system);
    PackageFixture pkg(kChunk * kChunks, kChunk);
    package.options.twiceUpdate = 1;
    package.options.updateAfterCommand = 1;
    pkg.withEps(0x3400 + 0x100, "EPS0002");
    drive.epsVersion = "EPS0001";
    drive.epsVersionAfterCommit = "EPS0002";
    // The third probe after the first transfer asks for the image again.
    drive.turSense = {{}, {}, {}, {}, {0x04, 0x40, 0xF7}};
    drive.faults = faults;
    resetUpdateState();
    installDrive(via, drive);

    Outcome out;
    {
        JoinedStarter starter;
        MainWindow window;
        ScriptedModalDriver driver;
        driver.then([&](CDialog& dialog) {
            modelClick(dialog, IDOK_);
            starter.join();
            out.updateEnabled = window.updateButton.isWindowEnabled();
            out.exitEnabled = window.exitButton.isWindowEnabled();
            out.barPosition = window.progressBar.state->pos;
            dialog.endDialog(IDCANCEL_);
        });
        ModalDriverScope scope(&driver);
        window.doModal();
        for (const RecordedMessageBox& box : system.messageBoxes())
            out.windowWasOwner = out.windowWasOwner && box.owner == &window;
    }
    out.log = drive.log;
    out.commandsBegun = drive.commandsBegun;
    out.boxes = system.messageBoxes();
    out.updated = driveEntries[0].updated;
    out.openHandles = drive.openHandles;
    out.liveEvents = system.liveEventCount();
    pkg.clear();
    return out;
}

// The transfers of a log, each as its chunks in order.
std::vector<std::vector<SentCommand>> transfersOf(const std::vector<SentCommand>& log)
{
    std::vector<std::vector<SentCommand>> transfers;
    for (const SentCommand& c : log) {
        if (!c.isChunk()) continue;
        if (c.offset() == 0 || transfers.empty()) transfers.emplace_back();
        transfers.back().push_back(c);
    }
    return transfers;
}

// What the drive saw is sound, whatever else happened.
void checkDriveSaw(const Outcome& out)
{
    const std::vector<std::vector<SentCommand>> transfers = transfersOf(out.log);
    EXPECT_LE(transfers.size(), 2u);
    for (const std::vector<SentCommand>& transfer : transfers) {
        bool earlierFailed = false;
        for (size_t k = 0; k < transfer.size(); ++k) {
            const SentCommand& c = transfer[k];
            SCOPED_TRACE(c.index);
            // In order, each chunk once, the image's own bytes.
            EXPECT_EQ(c.offset(), k * kChunk);
            EXPECT_EQ(c.length, kChunk);
            EXPECT_TRUE(c.imageMatches);
            EXPECT_EQ(c.mode(), k + 1 == kChunks ? 5 : 4);
            // Nothing follows a failed chunk, least of all the saving one.
            EXPECT_FALSE(earlierFailed);
            earlierFailed = earlierFailed || c.failed;
        }
    }
    // No command at all reaches the drive after a failed chunk.
    for (size_t i = 0; i < out.log.size(); ++i) {
        if (out.log[i].isChunk() && out.log[i].failed) {
            EXPECT_EQ(i + 1, out.log.size());
        }
    }
}

class SafetySweep : public ::testing::Test {
protected:
    void SetUp() override { userLcid = 1033; }
};

TEST_F(SafetySweep, UndisturbedUpdateRunsEveryStep)
{
    for (Via via : {Via::PassThrough, Via::Aspi}) {
        const Outcome out = runUpdate(via, {});
        EXPECT_EQ(out.log.size(), 22u);
        EXPECT_EQ(transfersOf(out.log).size(), 2u);
        checkDriveSaw(out);
        ASSERT_EQ(out.boxes.size(), 1u);
        EXPECT_EQ(out.boxes[0].text, "Firmware update is completed.");
        EXPECT_EQ(out.boxes[0].flags, 0x1040u);
        EXPECT_EQ(out.updated, 1);
        EXPECT_FALSE(out.updateEnabled);
        EXPECT_TRUE(out.exitEnabled);
    }
}

TEST_F(SafetySweep, EveryCommandFailingEveryWay)
{
    const Outcome clean = runUpdate(Via::PassThrough, {});
    ASSERT_EQ(clean.log.size(), 22u);
    int runs = 0;
    int failures = 0;

    for (const FailureKind& kind : failureKinds()) {
        for (const SentCommand& target : clean.log) {
            const Role role = roleOf(target);
            // Only data-out commands make a copy that can fail to be allocated.
            const bool dataOut = role == Role::Chunk || role == Role::EpsPrepare ||
                                 role == Role::EpsWrite || role == Role::EpsCommit;
            if (kind.fault.kind == Fault::Memory && !dataOut) continue;
            SCOPED_TRACE(std::string(kind.name) + " at command " + std::to_string(target.index));

            const Outcome out = runUpdate(kind.via, {{target.index, kind.fault}});
            ++runs;
            checkDriveSaw(out);

            // Probes, the eject and the retried EPS steps do not end the update.
            const bool fails = role == Role::Chunk || role == Role::EpsVersion ||
                               role == Role::EpsPrepare || role == Role::EpsCommit;
            std::vector<RecordedMessageBox> errors;
            for (const RecordedMessageBox& box : out.boxes)
                if (box.title == "Error - Upgrade Program") errors.push_back(box);

            if (fails) {
                ++failures;
                ASSERT_EQ(errors.size(), 1u);
                EXPECT_EQ(errors[0].text,
                          std::string("Firmware update is failed.\n\n") + kind.text);
                EXPECT_EQ(errors[0].flags, 0x10u);
                EXPECT_EQ(out.boxes.size(), 1u);
                EXPECT_EQ(out.updated, 0);
                EXPECT_TRUE(out.updateEnabled);
                // The failed command was the last one begun.
                EXPECT_EQ(out.commandsBegun, target.index + 1);
            } else {
                EXPECT_TRUE(errors.empty());
                EXPECT_EQ(out.updated, 1);
                EXPECT_FALSE(out.updateEnabled);
            }
            EXPECT_TRUE(out.windowWasOwner);
            EXPECT_TRUE(out.exitEnabled);
            EXPECT_EQ(out.barPosition, 0);
            EXPECT_EQ(out.openHandles, 0);
            EXPECT_EQ(out.liveEvents, 0);
            if (HasFatalFailure()) return;
        }
    }
    EXPECT_GT(runs, 350);
    EXPECT_GT(failures, 150);
}

TEST_F(SafetySweep, TwoFailuresInARowStillEndAtTheFirstFailedChunk)
{
    // The first chunk of the second transfer and the saving one after it.
    const Outcome out = runUpdate(Via::PassThrough, {{10, targetFault({0x09, 0x85, 0x00})},
                                                     {13, targetFault({0x09, 0x86, 0x00})}});
    checkDriveSaw(out);
    EXPECT_EQ(out.commandsBegun, 11);
    ASSERT_EQ(out.boxes.size(), 1u);
    EXPECT_EQ(out.boxes[0].text,
              "Firmware update is failed.\n\nFlash rom write error. (Code 09-85-00)");
}

} // namespace
