// Every command of an update fails, once each, with every kind of result,
// against the virtual drive below the real transports: the drive must never
// get a saving chunk after a failed chunk, no chunk twice in one transfer,
// and the user exactly one clear failure message.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/Language.h"
#include "platform/model/ModelWindows.h"
#include "tests/unit/update_fake_drive.h"
#include "transport/AlignedBuffer.h"
#include "ui/MainWindow.h"
#include "virtualdrive/seams/VirtualDriveSeams.h"

using namespace updatetest;

namespace {

constexpr uint32_t kChunk = 0x200;
constexpr uint32_t kChunks = 4;

// How a command is made to fail.
enum class How {
    Answer,     // the drive or adapter answers with `status`
    Open,       // the drive cannot be opened (pass-through)
    Event,      // no completion event can be made (ASPI)
    Allocation, // the data-out copy cannot be allocated
};

struct FailureKind {
    const char* name;
    Via via;
    How how;
    VirtualStatus status;
    const char* text; // what describeResult makes of it
};

VirtualStatus checkCondition(uint8_t key, uint8_t asc, uint8_t ascq)
{
    return VirtualStatus::checkCondition(key, asc, ascq);
}

VirtualStatus requestError(uint8_t srbStatus, VirtualSense sense = {})
{
    VirtualStatus s;
    s.srbStatus = srbStatus;
    s.targetStatus = 0;
    if (sense.key != 0) s.sense = sense;
    return s;
}

VirtualStatus adapterError(uint8_t haStatus)
{
    VirtualStatus s;
    s.haStatus = haStatus;
    return s;
}

VirtualStatus systemError(uint32_t code)
{
    VirtualStatus s;
    s.systemError = code;
    return s;
}

const std::vector<FailureKind>& failureKinds()
{
    static const std::vector<FailureKind> kinds = {
        {"EraseFailure", Via::PassThrough, How::Answer, checkCondition(0x09, 0x82, 0x00),
         "Erase failure. (Code 09-82-00)"},
        {"NotErased", Via::PassThrough, How::Answer, checkCondition(0x09, 0x84, 0x00),
         "Flash rom not erased. (Code 09-84-00)"},
        {"WriteError", Via::PassThrough, How::Answer, checkCondition(0x09, 0x85, 0x00),
         "Flash rom write error. (Code 09-85-00)"},
        {"CheckSum", Via::PassThrough, How::Answer, checkCondition(0x09, 0x86, 0x00),
         "Flash rom check sum error. (Code 09-86-00)"},
        {"DataError", Via::PassThrough, How::Answer, checkCondition(0x09, 0x87, 0x00),
         "Firmware data error. (Code 09-87-00)"},
        {"TransferDataError", Via::PassThrough, How::Answer, checkCondition(0x09, 0x88, 0x00),
         "Firmware Transfer data error. (Code 09-88-00)"},
        {"WriteErrorF3", Via::PassThrough, How::Answer, checkCondition(0x04, 0x40, 0xF3), ""},
        {"DataErrorF5", Via::PassThrough, How::Answer, checkCondition(0x04, 0x40, 0xF5),
         "Firmware data error. (Code 04-40-f5)"},
        {"TransferDataErrorF6", Via::PassThrough, How::Answer, checkCondition(0x04, 0x40, 0xF6),
         "Firmware Transfer data error. (Code 04-40-f6)"},
        {"AspiCheckSum", Via::Aspi, How::Answer, checkCondition(0x09, 0x86, 0x00),
         "Flash rom check sum error. (Code 09-86-00)"},
        {"AspiRequestWriteErrorF3", Via::Aspi, How::Answer,
         requestError(SS_ERR, {0x04, 0x40, 0xF3}), "Flash rom write error. (Code 04-40-f3)"},
        {"AspiRequestFailed", Via::Aspi, How::Answer, requestError(0xE1),
         "Buffer alignment problem."},
        {"AspiAdapterFailed", Via::Aspi, How::Answer, adapterError(0x11),
         "HA_Status: Selection Timeout."},
        {"SetupFailed", Via::PassThrough, How::Open, {}, "Can not create Event."},
        {"AspiSetupFailed", Via::Aspi, How::Event, {}, "Can not create Event."},
        {"NoMemory", Via::PassThrough, How::Allocation, {}, "Memory allocation failure."},
        {"AspiNoMemory", Via::Aspi, How::Allocation, {}, "Memory allocation failure."},
        {"SystemError", Via::PassThrough, How::Answer, systemError(1117),
         "System error (Win32): Code 1117\n"},
    };
    return kinds;
}

uint8_t opcodeOf(const VirtualCommandRecord& c)
{
    return c.cdb[0];
}

bool isChunk(const VirtualCommandRecord& c)
{
    return c.cdb[0] == 0x3B && c.cdb[2] == 0 && (c.cdb[1] == 4 || c.cdb[1] == 5);
}

uint32_t offsetOf(const VirtualCommandRecord& c)
{
    return uint32_t{c.cdb[3]} << 16 | uint32_t{c.cdb[4]} << 8 | c.cdb[5];
}

bool answeredWithFailure(const VirtualCommandRecord& c)
{
    return c.requestFailed || c.scsiStatus != 0 || c.sense.key != 0 || c.haStatus != 0 ||
           (c.viaAspi && c.srbStatus != SS_COMP);
}

// Whether two commands match the same drive fault rule.
bool sameKind(const VirtualCommandRecord& a, const VirtualCommandRecord& b)
{
    if (a.cdb[0] != b.cdb[0]) return false;
    if (a.cdb[0] != 0x3B && a.cdb[0] != 0x3C) return true;
    return (a.cdb[1] & 0x1F) == (b.cdb[1] & 0x1F) && a.cdb[2] == b.cdb[2];
}

// What one command of the undisturbed update is.
enum class Role { Probe, Eject, Chunk, EpsVersion, EpsPrepare, EpsWrite, EpsReadBack, EpsCommit };

Role roleOf(const VirtualCommandRecord& c)
{
    if (opcodeOf(c) == 0x00) return Role::Probe;
    if (opcodeOf(c) == 0x1B) return Role::Eject;
    if (isChunk(c)) return Role::Chunk;
    if (opcodeOf(c) == 0x3C) return c.cdb[2] == 0x84 ? Role::EpsVersion : Role::EpsReadBack;
    switch (c.cdb[2]) {
    case 0x80:
        return Role::EpsPrepare;
    case 0x81:
        return Role::EpsWrite;
    default:
        return Role::EpsCommit;
    }
}

// Counts the data-out copies and fails the chosen one.
int allocationsMade = 0;
int failingAllocation = 0;

void* countedAllocate(size_t bytes)
{
    if (++allocationsMade == failingAllocation) return nullptr;
    return std::malloc(bytes);
}

// Fails the chosen completion event (each ASPI command makes one).
class EventFailingSystem : public ScriptedSystem {
public:
    Handle createEvent() override
    {
        if (++eventsMade == failingEvent) return nullptr;
        return ScriptedSystem::createEvent();
    }
    int eventsMade = 0;
    int failingEvent = 0;
};

struct Injection {
    How how = How::Answer;
    VirtualFault fault;   // How::Answer
    uint32_t ordinal = 0; // open, event or allocation to fail, counted from 1
};

struct Outcome {
    std::vector<VirtualCommandRecord> log;
    std::vector<uint8_t> image;
    std::vector<uint8_t> flashed;
    uint32_t flashes = 0;
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
Outcome runUpdate(Via via, const Injection& injection)
{
    EventFailingSystem system;
    system.install();
    userLcid = 1033;

    PackageFixture pkg(kChunk * kChunks, kChunk);
    package.options.twiceUpdate = 1;
    package.options.updateAfterCommand = 1;
    pkg.withEps(kEpsDataOffset + 0x100, "EPS2000");

    VirtualDriveConfig config;
    if (via == Via::PassThrough) {
        config.letter = 'E';
    } else {
        config.onAspi = true;
        config.target = 1;
        // Completions arrive from the library's own thread.
        config.deferredCompletion = true;
        config.completionDelay = 0;
    }
    config.mediumLoaded = true;
    config.askAgainTimes = 1; // the first transfer is asked for again
    config.epsVersion = "EPS1000";
    config.epsNewVersion = "EPS2000";
    if (injection.how == How::Answer) config.faults.push_back(injection.fault);
    if (injection.how == How::Open) {
        VirtualFault readWrite;
        readWrite.on = VirtualFault::On::Open;
        readWrite.access = VirtualFault::Access::ReadWrite;
        readWrite.from = readWrite.to = injection.ordinal;
        VirtualFault readOnly = readWrite;
        readOnly.access = VirtualFault::Access::ReadOnly;
        readOnly.from = readOnly.to = 1;
        config.faults.push_back(readWrite);
        config.faults.push_back(readOnly);
    }
    system.failingEvent = injection.how == How::Event ? static_cast<int>(injection.ordinal) : 0;
    allocationsMade = 0;
    failingAllocation = injection.how == How::Allocation ? static_cast<int>(injection.ordinal) : 0;
    setAlignedAllocator(countedAllocate, nullptr);

    VirtualBus bus;
    VirtualDrive* drive = bus.addDrive(config);
    bus.setLatencySink([&system](uint32_t ms) { system.advanceClock(ms); });
    installVirtualDrives(bus);

    resetDriveTable();
    DriveEntry& entry = driveEntries[0];
    entry.target = 1;
    if (via == Via::PassThrough) std::strcpy(entry.driveLetter, "E");
    std::strcpy(entry.displayText, "E: VIRTUAL OPTICAL WRITER 1.00");
    std::strcpy(entry.revision, "1.00");
    driveCount = 1;
    usePassThrough = via == Via::PassThrough ? 1 : 0;
    lastStatus = nullptr;
    if (via == Via::Aspi) loadAspi();
    resetUpdateState();

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
    if (via == Via::Aspi) {
        virtualAspiLibrary().waitIdle();
        unloadAspi();
    }
    out.log = drive->commands();
    out.image.assign(package.firmwareImage, package.firmwareImage + package.firmwareFileSize);
    out.flashed = drive->flashedImage();
    out.flashes = drive->flashCount();
    out.boxes = system.messageBoxes();
    out.updated = driveEntries[0].updated;
    out.openHandles = virtualPassThroughAccess().openHandles();
    uninstallVirtualDrives();
    setAlignedAllocator(nullptr, nullptr);
    out.liveEvents = system.liveEventCount();
    pkg.clear();
    return out;
}

// The transfers of a log, each as its chunks in order.
std::vector<std::vector<VirtualCommandRecord>>
transfersOf(const std::vector<VirtualCommandRecord>& log)
{
    std::vector<std::vector<VirtualCommandRecord>> transfers;
    for (const VirtualCommandRecord& c : log) {
        if (!isChunk(c)) continue;
        if (offsetOf(c) == 0 || transfers.empty()) transfers.emplace_back();
        transfers.back().push_back(c);
    }
    return transfers;
}

// What the drive saw is sound, whatever else happened.
void checkDriveSaw(const Outcome& out)
{
    const auto transfers = transfersOf(out.log);
    EXPECT_LE(transfers.size(), 2u);
    for (const auto& transfer : transfers) {
        bool earlierFailed = false;
        for (size_t k = 0; k < transfer.size(); ++k) {
            const VirtualCommandRecord& c = transfer[k];
            SCOPED_TRACE(k);
            // In order, each chunk once, the image's own bytes.
            EXPECT_EQ(offsetOf(c), k * kChunk);
            ASSERT_EQ(c.data.size(), kChunk);
            EXPECT_TRUE(std::equal(c.data.begin(), c.data.end(), out.image.begin() + k * kChunk));
            EXPECT_EQ(c.cdb[1], k + 1 == kChunks ? 5 : 4);
            // Nothing follows a failed chunk, least of all the saving one.
            EXPECT_FALSE(earlierFailed);
            earlierFailed = earlierFailed || answeredWithFailure(c);
        }
    }
    // No command at all reaches the drive after a failed chunk.
    for (size_t i = 0; i < out.log.size(); ++i) {
        if (isChunk(out.log[i]) && answeredWithFailure(out.log[i])) {
            EXPECT_EQ(i + 1, out.log.size());
        }
    }
}

// The fault that makes the drive fail the command at `index` of `clean`.
Injection injectionFor(const FailureKind& kind, const std::vector<VirtualCommandRecord>& clean,
                       size_t index)
{
    Injection injection;
    injection.how = kind.how;
    const VirtualCommandRecord& target = clean[index];
    uint32_t sameBefore = 0;
    uint32_t dataOutBefore = 0;
    for (size_t i = 0; i <= index; ++i) {
        if (sameKind(clean[i], target)) ++sameBefore;
        if (clean[i].direction == VirtualDirection::Out) ++dataOutBefore;
    }
    switch (kind.how) {
    case How::Answer:
        injection.fault.opcode = opcodeOf(target);
        if (opcodeOf(target) == 0x3B || opcodeOf(target) == 0x3C) {
            injection.fault.mode = static_cast<uint8_t>(target.cdb[1] & 0x1F);
            injection.fault.bufferId = target.cdb[2];
        }
        injection.fault.from = injection.fault.to = sameBefore;
        injection.fault.status = kind.status;
        break;
    case How::Open:
    case How::Event:
        // Every command opens the drive, or makes an event, once.
        injection.ordinal = static_cast<uint32_t>(index + 1);
        break;
    case How::Allocation:
        injection.ordinal = dataOutBefore;
        break;
    }
    return injection;
}

class SafetySweep : public ::testing::Test {
protected:
    void TearDown() override { userLcid = 1033; }
};

TEST_F(SafetySweep, UndisturbedUpdateFlashesTwiceAndCommitsTheEpsImage)
{
    for (Via via : {Via::PassThrough, Via::Aspi}) {
        SCOPED_TRACE(via == Via::Aspi ? "ASPI" : "pass-through");
        const Outcome out = runUpdate(via, {});
        EXPECT_EQ(out.log.size(), 22u);
        EXPECT_EQ(transfersOf(out.log).size(), 2u);
        checkDriveSaw(out);
        EXPECT_EQ(out.flashes, 2u);
        EXPECT_EQ(out.flashed, out.image);
        ASSERT_EQ(out.boxes.size(), 1u);
        EXPECT_EQ(out.boxes[0].text, "Firmware update is completed.");
        EXPECT_EQ(out.boxes[0].flags, 0x1040u);
        EXPECT_EQ(out.updated, 1);
        EXPECT_FALSE(out.updateEnabled);
        EXPECT_TRUE(out.exitEnabled);
        EXPECT_EQ(out.liveEvents, 0);
    }
}

TEST_F(SafetySweep, EveryCommandFailingEveryWay)
{
    const std::vector<VirtualCommandRecord> clean = runUpdate(Via::PassThrough, {}).log;
    ASSERT_EQ(clean.size(), 22u);
    int runs = 0;
    int failures = 0;

    for (const FailureKind& kind : failureKinds()) {
        for (size_t index = 0; index < clean.size(); ++index) {
            const Role role = roleOf(clean[index]);
            // Only data-out commands make a copy that can fail to be allocated.
            const bool dataOut = clean[index].direction == VirtualDirection::Out;
            if (kind.how == How::Allocation && !dataOut) continue;
            SCOPED_TRACE(std::string(kind.name) + " at command " + std::to_string(index));

            const Outcome out = runUpdate(kind.via, injectionFor(kind, clean, index));
            ++runs;
            checkDriveSaw(out);

            // Probes, the eject, a retried EPS write and a retried read-back
            // (asked again after a prepare, without writing again) do not end
            // the update.
            const bool fails = role == Role::Chunk || role == Role::EpsVersion ||
                               role == Role::EpsPrepare || role == Role::EpsCommit;
            const std::string text = kind.text;
            std::vector<RecordedMessageBox> errors;
            for (const RecordedMessageBox& box : out.boxes)
                if (box.title == "Error - Upgrade Program") errors.push_back(box);

            if (fails) {
                ++failures;
                ASSERT_EQ(errors.size(), 1u);
                EXPECT_EQ(errors[0].text, "Firmware update is failed.\n\n" + text);
                EXPECT_EQ(errors[0].flags, 0x10u);
                EXPECT_EQ(out.boxes.size(), 1u);
                EXPECT_EQ(out.updated, 0);
                EXPECT_TRUE(out.updateEnabled);
                // Nothing was sent after the failed command.
                EXPECT_LE(out.log.size(), index + 1);
            } else {
                EXPECT_TRUE(errors.empty());
                EXPECT_EQ(out.updated, 1);
                EXPECT_FALSE(out.updateEnabled);
                EXPECT_EQ(out.flashed, out.image);
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

TEST_F(SafetySweep, FailedChunkOfTheSecondTransferStopsBeforeItsSave)
{
    // The first chunk of the second transfer fails: that transfer's saving
    // chunk never reaches the drive, which keeps the first flash.
    Injection injection;
    injection.fault.opcode = 0x3B;
    injection.fault.mode = 4;
    injection.fault.bufferId = 0;
    injection.fault.from = injection.fault.to = 4;
    injection.fault.status = checkCondition(0x09, 0x85, 0x00);
    const Outcome out = runUpdate(Via::PassThrough, injection);
    checkDriveSaw(out);
    EXPECT_EQ(out.flashes, 1u);
    ASSERT_FALSE(out.log.empty());
    EXPECT_EQ(out.log.back().cdb[1], 4);
    ASSERT_EQ(out.boxes.size(), 1u);
    EXPECT_EQ(out.boxes[0].text,
              "Firmware update is failed.\n\nFlash rom write error. (Code 09-85-00)");
}

} // namespace
