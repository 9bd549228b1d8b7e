#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/scripted/ScriptedSystem.h"
#include "transport/AspiRecords.h"
#include "transport/DriveRecords.h"
#include "virtualdrive/seams/VirtualDriveSeams.h"

namespace {

constexpr uint32_t kPcbParameter = 0x000F8048;

PassThroughRequest passThroughRequest(std::initializer_list<uint8_t> cdb, uint8_t dataIn,
                                      void* buffer, uint32_t length)
{
    PassThroughRequest r{};
    r.length = 44;
    r.targetId = 1;
    r.cdbLength = static_cast<uint8_t>(cdb.size());
    r.senseInfoLength = 32;
    r.dataIn = dataIn;
    r.dataTransferLength = length;
    r.timeOutValue = 10;
    r.dataBuffer = buffer;
    r.senseInfoOffset = 48;
    std::copy(cdb.begin(), cdb.end(), r.cdb);
    return r;
}

CommandStatus executeBlock(uint8_t adapter, uint8_t target, std::initializer_list<uint8_t> cdb,
                           uint8_t direction, uint8_t* buffer, uint32_t length, Handle event)
{
    CommandStatus b{};
    b.SRB_Cmd = SC_EXEC_SCSI_CMD;
    b.SRB_HaId = adapter;
    b.SRB_Flags = static_cast<uint8_t>(direction | SRB_EVENT_NOTIFY);
    b.SRB_Target = target;
    b.SRB_BufLen = length;
    b.SRB_BufPointer = buffer;
    b.SRB_SenseLen = 14;
    b.SRB_CDBLen = static_cast<uint8_t>(cdb.size());
    b.SRB_PostProc = event;
    std::copy(cdb.begin(), cdb.end(), b.CDBByte);
    return b;
}

class VirtualSeams : public ::testing::Test {
protected:
    void SetUp() override
    {
        system.install();
        VirtualDriveConfig e;
        e.letter = 'E';
        e.onAspi = true;
        e.adapter = 0;
        e.target = 1;
        e.pcbVersion = 4;
        e.passThroughMask = 3;
        VirtualDriveConfig later;
        later.onAspi = true;
        later.adapter = 1;
        later.target = 3;
        later.deferredCompletion = true;
        later.completionDelay = 0;
        VirtualDriveConfig disk;
        disk.letter = 'C';
        disk.driveType = 3;
        drive = bus.addDrive(e);
        deferred = bus.addDrive(later);
        bus.addDrive(disk);
        bus.setAdapter(0, VirtualAdapter{0x01FF, 0, 7});
        installVirtualDrives(bus);
    }
    void TearDown() override { uninstallVirtualDrives(); }

    ScriptedSystem system;
    VirtualBus bus;
    VirtualDrive* drive = nullptr;
    VirtualDrive* deferred = nullptr;
};

} // namespace

TEST_F(VirtualSeams, PassThroughNamesAndOpensDrivesByLetter)
{
    PassThroughAccess& pt = passThroughAccess();
    EXPECT_EQ(pt.driveType("E:\\"), DRIVE_CDROM_);
    EXPECT_EQ(pt.driveType("e:\\"), DRIVE_CDROM_);
    EXPECT_EQ(pt.driveType("C:\\"), 3u);
    EXPECT_EQ(pt.driveType("Q:\\"), kDriveNoRootDir);
    EXPECT_EQ(pt.driveType("E:"), kDriveUnknown);
    EXPECT_EQ(pt.driveRootText('E'), "E:\\");

    struct Case {
        const char* name;
        bool opens;
    };
    const Case names[] = {{"\\\\.\\E:", true},  {"\\\\.\\e:", true},
                          {"\\\\.\\Q:", false}, {"\\\\.\\E", false},
                          {"E:", false},        {"\\\\.\\E:\\", false},
                          {"//./E:", false},    {"\\\\.\\PhysicalDrive0", false}};
    for (const auto& c : names) {
        Handle h = pt.openDevice(c.name, true);
        EXPECT_EQ(h != nullptr, c.opens) << c.name;
        if (h == nullptr) {
            EXPECT_EQ(pt.lastError(), kErrorFileNotFound) << c.name;
        } else {
            pt.closeDevice(h);
        }
    }
    EXPECT_EQ(virtualPassThroughAccess().openHandles(), 0);
}

TEST_F(VirtualSeams, PassThroughCarriesCommandsAndAnswers)
{
    PassThroughAccess& pt = passThroughAccess();
    Handle h = pt.openDevice("\\\\.\\E:", true);
    ASSERT_NE(h, nullptr);
    ScsiCapabilities caps{};
    ASSERT_TRUE(pt.getCapabilities(h, caps));
    EXPECT_EQ(caps.alignmentMask, 3u);

    alignas(16) uint8_t data[16] = {};
    PassThroughRequest query =
        passThroughRequest({0xF5, 0, 0, 0, 0x00, 0x0F, 0x80, 0x48, 0, 16, 0, 0},
                           SCSI_IOCTL_DATA_IN_, data, sizeof data);
    ASSERT_TRUE(pt.passThroughDirect(h, query));
    EXPECT_EQ(query.scsiStatus, 0);
    EXPECT_EQ(data[0], 4);
    EXPECT_EQ(query.dataTransferLength, 16u);

    // A CHECK CONDITION comes back with its sense data; the request went through.
    PassThroughRequest probe =
        passThroughRequest({0, 0, 0, 0, 0, 0}, SCSI_IOCTL_DATA_UNSPECIFIED_, nullptr, 0);
    ASSERT_TRUE(pt.passThroughDirect(h, probe));
    EXPECT_EQ(probe.scsiStatus, 2);
    EXPECT_EQ(probe.sense[0], 0x70);
    EXPECT_EQ(probe.sense[2], 0x02);
    EXPECT_EQ(probe.sense[12], 0x3A);
    EXPECT_EQ(probe.sense[13], 0x01);

    // A buffer off the adapter's alignment is refused by the system.
    PassThroughRequest misaligned =
        passThroughRequest({0x12, 0, 0, 0, 8, 0}, SCSI_IOCTL_DATA_IN_, data + 1, 8);
    EXPECT_FALSE(pt.passThroughDirect(h, misaligned));
    EXPECT_EQ(pt.lastError(), kErrorInvalidParameter);

    const auto log = drive->commands();
    ASSERT_EQ(log.size(), 2u) << "the refused request never reached the drive";
    EXPECT_EQ(log[0].timeoutSeconds, 10u);
    EXPECT_FALSE(log[0].viaAspi);

    pt.closeDevice(h);
    EXPECT_FALSE(pt.passThroughDirect(h, probe)) << "a closed handle";
    EXPECT_EQ(pt.lastError(), kErrorInvalidHandle);
    EXPECT_EQ(virtualPassThroughAccess().openHandles(), 0);
}

TEST_F(VirtualSeams, PassThroughRequestFailuresSetTheLastErrorPerThread)
{
    uninstallVirtualDrives();
    VirtualBus own;
    VirtualDriveConfig c;
    c.letter = 'F';
    VirtualFault fail;
    fail.opcode = 0x00;
    fail.status.systemError = 1117;
    VirtualFault readOnly;
    readOnly.on = VirtualFault::On::Open;
    readOnly.access = VirtualFault::Access::ReadWrite;
    c.faults = {fail, readOnly};
    own.addDrive(c);
    installVirtualDrives(own);
    PassThroughAccess& pt = passThroughAccess();

    EXPECT_EQ(pt.openDevice("\\\\.\\F:", true), nullptr);
    Handle h = pt.openDevice("\\\\.\\F:", false);
    ASSERT_NE(h, nullptr);
    EXPECT_FALSE(virtualPassThroughAccess().openedReadWrite(h));
    PassThroughRequest probe =
        passThroughRequest({0, 0, 0, 0, 0, 0}, SCSI_IOCTL_DATA_UNSPECIFIED_, nullptr, 0);
    EXPECT_FALSE(pt.passThroughDirect(h, probe));
    EXPECT_EQ(pt.lastError(), 1117u);
    uint32_t other = 0;
    std::thread([&] { other = pt.lastError(); }).join();
    EXPECT_EQ(other, 0u) << "another thread has its own last error";
    pt.closeDevice(h);
}

TEST_F(VirtualSeams, AspiSupportAndAdapterInquiry)
{
    AspiLibrary& aspi = aspiLibrary();
    EXPECT_EQ(aspi.load(), AspiLoadResult::Loaded);
    EXPECT_EQ(aspi.getSupportInfo(), 0x0102u);

    SRB_HAInquiry inquiry;
    std::memset(&inquiry, 0xCC, sizeof inquiry); // nothing but the header is cleared by callers
    inquiry.SRB_Cmd = SC_HA_INQUIRY;
    inquiry.SRB_HaId = 0;
    inquiry.SRB_Flags = 0;
    inquiry.SRB_Hdr_Rsvd = 0;
    EXPECT_EQ(aspi.sendCommand(&inquiry), SS_COMP);
    EXPECT_EQ(inquiry.SRB_Status, SS_COMP);
    EXPECT_EQ(inquiry.HA_Count, 2);
    EXPECT_EQ(inquiry.HA_SCSI_ID, 7);
    EXPECT_EQ(inquiry.HA_Unique[0], 0xFF);
    EXPECT_EQ(inquiry.HA_Unique[1], 0x01);
    EXPECT_EQ(inquiry.HA_Unique[2], 0x00);
    EXPECT_EQ(inquiry.HA_Unique[3], 0) << "0 targets as configured (read as 8)";
    for (size_t i = 4; i < sizeof inquiry.HA_Unique; ++i)
        EXPECT_EQ(inquiry.HA_Unique[i], 0) << i;
    EXPECT_EQ(inquiry.HA_Rsvd1, 0);

    inquiry.SRB_HaId = 1;
    aspi.sendCommand(&inquiry);
    EXPECT_EQ(inquiry.SRB_Status, SS_COMP);
    EXPECT_EQ(inquiry.HA_Unique[3], 8) << "default target count";
    EXPECT_EQ(inquiry.HA_Unique[0], 0);

    inquiry.SRB_HaId = 2;
    EXPECT_EQ(aspi.sendCommand(&inquiry), kSsInvalidAdapter);

    uint8_t unknown[16] = {0x07};
    EXPECT_EQ(aspi.sendCommand(unknown), kSsInvalidCommand);
    EXPECT_EQ(unknown[1], kSsInvalidCommand);
    EXPECT_EQ(virtualAspiLibrary().callsWhileUnloaded(), 0);
}

TEST_F(VirtualSeams, AspiSupportInfoWithoutAdaptersOrOverridden)
{
    uninstallVirtualDrives();
    VirtualBus empty;
    installVirtualDrives(empty);
    EXPECT_EQ(aspiLibrary().getSupportInfo(), 0xE800u);
    empty.supportInfo = 0x0100;
    EXPECT_EQ(aspiLibrary().getSupportInfo(), 0x0100u);
    empty.aspiLoad = VirtualAspiLoad::Failed;
    EXPECT_EQ(aspiLibrary().load(), AspiLoadResult::Failed);
    EXPECT_FALSE(virtualAspiLibrary().isLoaded());
    EXPECT_EQ(virtualAspiLibrary().callsWhileUnloaded(), 2) << "support queries while unloaded";
}

TEST_F(VirtualSeams, AspiDeviceTypes)
{
    struct Case {
        uint8_t adapter, target, lun, status, type;
    };
    const Case cases[] = {
        {0, 1, 0, SS_COMP, 5},
        {1, 3, 0, SS_COMP, 5},
        {0, 2, 0, kSsNoDevice, 0x1F},
        {0, 1, 1, kSsNoDevice, 0x1F},
        {4, 1, 0, kSsInvalidAdapter, 0xAA},
    };
    aspiLibrary().load();
    for (const auto& c : cases) {
        SRB_GDEVBlock block{};
        block.SRB_Cmd = SC_GET_DEV_TYPE;
        block.SRB_HaId = c.adapter;
        block.SRB_Target = c.target;
        block.SRB_Lun = c.lun;
        block.SRB_DeviceType = 0xAA;
        EXPECT_EQ(aspiLibrary().sendCommand(&block), c.status);
        EXPECT_EQ(block.SRB_Status, c.status) << int(c.adapter) << ":" << int(c.target);
        EXPECT_EQ(block.SRB_DeviceType, c.type) << int(c.adapter) << ":" << int(c.target);
    }
}

TEST_F(VirtualSeams, AspiExecuteCompletesAtOnce)
{
    aspiLibrary().load();
    Handle event = system.createEvent();
    alignas(512) uint8_t data[40] = {};
    CommandStatus b = executeBlock(0, 1, {0x12, 0, 0, 0, 36, 0}, SRB_DIR_IN, data, 36, event);
    EXPECT_EQ(aspiLibrary().sendCommand(&b), SS_COMP);
    EXPECT_EQ(b.SRB_Status, SS_COMP);
    EXPECT_EQ(b.SRB_HaStat, 0);
    EXPECT_EQ(b.SRB_TargStat, 0);
    EXPECT_EQ(data[0], 5);
    EXPECT_EQ(std::memcmp(data + 8, "VIRTUAL ", 8), 0);

    // A CHECK CONDITION: error status, target status 2, 14 sense bytes.
    b = executeBlock(0, 1, {0, 0, 0, 0, 0, 0}, 0, nullptr, 0, event);
    std::memset(b.SenseArea, 0xCC, sizeof b.SenseArea);
    EXPECT_EQ(aspiLibrary().sendCommand(&b), SS_ERR);
    EXPECT_EQ(b.SRB_TargStat, 2);
    EXPECT_EQ(b.SenseArea[2], 0x02);
    EXPECT_EQ(b.SenseArea[12], 0x3A);
    EXPECT_EQ(b.SenseArea[13], 0x01);
    EXPECT_EQ(b.SenseArea[14], 0xCC) << "only SRB_SenseLen bytes are written";

    // Blocks the library refuses before the drive sees them.
    struct Case {
        const char* what;
        CommandStatus block;
        uint8_t status;
    };
    Case refused[] = {
        {"misaligned buffer",
         executeBlock(0, 1, {0x12, 0, 0, 0, 8, 0}, SRB_DIR_IN, data + 2, 8, event), kSsBufferAlign},
        {"no device", executeBlock(0, 5, {0, 0, 0, 0, 0, 0}, 0, nullptr, 0, event), kSsNoDevice},
        {"no adapter", executeBlock(9, 1, {0, 0, 0, 0, 0, 0}, 0, nullptr, 0, event),
         kSsInvalidAdapter},
        {"null buffer", executeBlock(0, 1, {0x12, 0, 0, 0, 8, 0}, SRB_DIR_IN, nullptr, 8, event),
         kSsInvalidSrb},
        {"no block length", executeBlock(0, 1, {}, 0, nullptr, 0, event), kSsInvalidSrb},
    };
    const size_t before = drive->commandCount();
    for (auto& c : refused) {
        EXPECT_EQ(aspiLibrary().sendCommand(&c.block), c.status) << c.what;
        EXPECT_EQ(c.block.SRB_Status, c.status) << c.what;
    }
    EXPECT_EQ(drive->commandCount(), before);
    system.closeEvent(event);
}

TEST_F(VirtualSeams, AspiExecuteDataOutReachesTheDrive)
{
    aspiLibrary().load();
    std::vector<uint8_t> chunk(0x800);
    for (size_t i = 0; i < chunk.size(); ++i)
        chunk[i] = static_cast<uint8_t>(i * 13);
    // An adapter-aligned copy, as a transport makes it.
    std::vector<uint8_t> storage(chunk.size() + 0x1FF);
    auto* aligned = reinterpret_cast<uint8_t*>(
        (reinterpret_cast<uintptr_t>(storage.data()) + 0x1FF) & ~uintptr_t{0x1FF});
    std::memcpy(aligned, chunk.data(), chunk.size());
    CommandStatus b = executeBlock(0, 1, {0x3B, 5, 0, 0, 0, 0, 0, 0x08, 0x00, 0}, SRB_DIR_OUT,
                                   aligned, 0x800, nullptr);
    EXPECT_EQ(aspiLibrary().sendCommand(&b), SS_COMP);
    EXPECT_EQ(drive->flashedImage(), chunk);
    EXPECT_TRUE(drive->commands().back().viaAspi);

    // With neither direction bit the command's own direction applies.
    CommandStatus q =
        executeBlock(0, 1, {0xF5, 0, 0, 0, 0, 0x0F, 0x80, 0x48, 0, 16, 0, 0}, 0,
                     reinterpret_cast<uint8_t*>(
                         reinterpret_cast<uintptr_t>(storage.data() + 0x200) & ~uintptr_t{0x1FF}),
                     16, nullptr);
    EXPECT_EQ(aspiLibrary().sendCommand(&q), SS_COMP);
    EXPECT_EQ(q.SRB_BufPointer[0], 4) << "the PCB version";
}

TEST_F(VirtualSeams, AspiExecuteCompletesLaterThroughTheEvent)
{
    aspiLibrary().load();
    VirtualAspiLibrary& aspi = virtualAspiLibrary();
    aspi.holdCompletions(true);
    Handle event = system.createEvent();
    CommandStatus b = executeBlock(1, 3, {0, 0, 0, 0, 0, 0}, 0, nullptr, 0, event);
    EXPECT_EQ(aspi.sendCommand(&b), SS_PENDING);
    EXPECT_EQ(aspi.heldCount(), 1u);
    EXPECT_EQ(readSrbStatus(b.SRB_Status), SS_PENDING) << "still pending while held";
    EXPECT_EQ(deferred->commandCount(), 0u);

    aspi.holdCompletions(false);
    system.waitEvent(event);
    EXPECT_EQ(readSrbStatus(b.SRB_Status), SS_ERR);
    EXPECT_EQ(b.SRB_TargStat, 2);
    EXPECT_EQ(b.SenseArea[12], 0x3A);
    EXPECT_EQ(deferred->commandCount(), 1u);

    // Without event notification nothing is signalled, but the block completes.
    b = executeBlock(1, 3, {0x12, 0, 0, 0, 0, 0}, 0, nullptr, 0, event);
    b.SRB_Flags = 0;
    EXPECT_EQ(aspi.sendCommand(&b), SS_PENDING);
    aspi.waitIdle();
    EXPECT_EQ(readSrbStatus(b.SRB_Status), SS_COMP);
    system.closeEvent(event);
    EXPECT_EQ(system.liveEventCount(), 0);
}

TEST_F(VirtualSeams, AspiDeferredCompletionUnderConcurrentCallers)
{
    // Commands one after the other from a worker thread, each waited for, as
    // the update worker sends its chunks.
    aspiLibrary().load();
    std::atomic<int> completed{0};
    std::thread worker([&] {
        for (int i = 0; i < 50; ++i) {
            Handle event = system.createEvent();
            CommandStatus b = executeBlock(1, 3, {0, 0, 0, 0, 0, 0}, 0, nullptr, 0, event);
            if (aspiLibrary().sendCommand(&b) == SS_PENDING) system.waitEvent(event);
            if (readSrbStatus(b.SRB_Status) == SS_ERR && b.SRB_TargStat == 2) ++completed;
            system.closeEvent(event);
        }
    });
    worker.join();
    EXPECT_EQ(completed.load(), 50);
    EXPECT_EQ(deferred->commandCount(), 50u);
}

TEST_F(VirtualSeams, LatencyAdvancesTheScriptedClock)
{
    uninstallVirtualDrives();
    VirtualBus own;
    VirtualDriveConfig c;
    c.letter = 'E';
    c.latency = 250;
    own.addDrive(c);
    own.setLatencySink([this](uint32_t ms) { system.advanceClock(ms); });
    installVirtualDrives(own);
    const uint32_t start = system.clockMilliseconds();
    Handle h = passThroughAccess().openDevice("\\\\.\\E:", true);
    PassThroughRequest probe =
        passThroughRequest({0, 0, 0, 0, 0, 0}, SCSI_IOCTL_DATA_UNSPECIFIED_, nullptr, 0);
    passThroughAccess().passThroughDirect(h, probe);
    passThroughAccess().passThroughDirect(h, probe);
    passThroughAccess().closeDevice(h);
    EXPECT_EQ(system.clockMilliseconds() - start, 500u);
    EXPECT_TRUE(system.waits().empty()) << "latency is not a wait of the program";
}
