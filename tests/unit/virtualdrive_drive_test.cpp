#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <initializer_list>
#include <numeric>
#include <vector>

#include "virtualdrive/core/VirtualDrive.h"

namespace {

using Dir = VirtualDirection;

struct Sent {
    VirtualAnswer answer;
    std::vector<uint8_t> data;
};

// Sends a command block with a data buffer of `length` bytes (filled from
// `out` for data-out commands).
Sent send(VirtualDrive& drive, std::initializer_list<uint8_t> cdb, Dir direction = Dir::None,
          uint32_t length = 0, const std::vector<uint8_t>& out = {}, uint8_t cdbLength = 0)
{
    std::array<uint8_t, 16> block{};
    std::copy(cdb.begin(), cdb.end(), block.begin());
    Sent sent;
    sent.data.assign(length, 0xEE);
    if (!out.empty()) std::copy(out.begin(), out.end(), sent.data.begin());
    VirtualRequest r;
    r.cdb = block.data();
    r.cdbLength = cdbLength != 0 ? cdbLength : static_cast<uint8_t>(cdb.size());
    r.data = length != 0 ? sent.data.data() : nullptr;
    r.dataLength = length;
    r.direction = direction;
    sent.answer = drive.execute(r);
    return sent;
}

VirtualSense senseOf(const VirtualAnswer& a)
{
    return VirtualSense{a.sense[2], a.sense[12], a.sense[13]};
}

// WRITE BUFFER with its 24-bit offset and length.
Sent writeBuffer(VirtualDrive& d, uint8_t mode, uint8_t id, uint32_t offset,
                 const std::vector<uint8_t>& bytes)
{
    const auto n = static_cast<uint32_t>(bytes.size());
    return send(d,
                {0x3B, mode, id, uint8_t(offset >> 16), uint8_t(offset >> 8), uint8_t(offset),
                 uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n), 0},
                n != 0 ? Dir::Out : Dir::None, n, bytes);
}

Sent readBuffer(VirtualDrive& d, uint8_t mode, uint8_t id, uint32_t offset, uint32_t n)
{
    return send(d,
                {0x3C, mode, id, uint8_t(offset >> 16), uint8_t(offset >> 8), uint8_t(offset),
                 uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n), 0},
                Dir::In, n);
}

Sent tur(VirtualDrive& d)
{
    return send(d, {0, 0, 0, 0, 0, 0});
}

std::vector<uint8_t> pattern(size_t n, uint8_t seed)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
    return v;
}

const VirtualSense kGood{0, 0, 0};
const VirtualSense kNoMediumClosed{0x02, 0x3A, 0x01};
const VirtualSense kTrayOpen{0x02, 0x3A, 0x02};
const VirtualSense kInvalidField{0x05, 0x24, 0x00};
const VirtualSense kSendAgain{0x04, 0x40, 0xF7};

} // namespace

TEST(VirtualDriveInquiry, AnswersStandardDataWithinTheAllocationLength)
{
    VirtualDriveConfig c;
    c.deviceType = 0x05;
    c.inquiryByte3 = 0x32;
    c.vendor = "ACME";
    c.product = "WRITER 52X";
    c.revision = "1.0";
    VirtualDrive drive(c);

    const Sent full = send(drive, {0x12, 0, 0, 0, 36, 0}, Dir::In, 40);
    ASSERT_TRUE(full.answer.requestOk);
    EXPECT_EQ(full.answer.scsiStatus, 0);
    EXPECT_EQ(full.answer.srbStatus, 0x01);
    EXPECT_EQ(full.answer.transferred, 36u);
    EXPECT_EQ(full.data[0], 0x05);
    EXPECT_EQ(full.data[1], 0x80);
    EXPECT_EQ(full.data[3], 0x32);
    EXPECT_EQ(full.data[4], 31);
    EXPECT_EQ(std::string(full.data.begin() + 8, full.data.begin() + 36),
              "ACME    WRITER 52X      1.0 ");
    EXPECT_EQ(full.data[36], 0xEE) << "nothing past 36 bytes";

    // A shorter allocation is honoured; so is a shorter host buffer.
    const Sent shortAllocation = send(drive, {0x12, 0, 0, 0, 5, 0}, Dir::In, 40);
    EXPECT_EQ(shortAllocation.answer.transferred, 5u);
    EXPECT_EQ(shortAllocation.data[5], 0xEE);
    const Sent shortBuffer = send(drive, {0x12, 0, 0, 0, 36, 0}, Dir::In, 8);
    EXPECT_EQ(shortBuffer.answer.transferred, 8u);
}

TEST(VirtualDriveInquiry, AnswersTheAlternativeOpcodeOnlyWhenConfigured)
{
    VirtualDriveConfig c;
    VirtualDrive answering(c);
    EXPECT_EQ(send(answering, {0x13, 0, 0, 0, 36, 0}, Dir::In, 36).answer.transferred, 36u);

    c.answersInquiry13 = false;
    VirtualDrive refusing(c);
    const Sent s = send(refusing, {0x13, 0, 0, 0, 36, 0}, Dir::In, 36);
    EXPECT_EQ(senseOf(s.answer), (VirtualSense{0x05, 0x20, 0x00}));
    EXPECT_EQ(s.answer.scsiStatus, 0x02);
    EXPECT_EQ(s.answer.srbStatus, 0x04);
    EXPECT_TRUE(s.answer.requestOk) << "a CHECK CONDITION is a completed request";
}

TEST(VirtualDriveCommands, RefusesMalformedBlocks)
{
    VirtualDrive drive(VirtualDriveConfig{});
    struct Case {
        const char* what;
        std::initializer_list<uint8_t> cdb;
        uint8_t cdbLength;
        VirtualSense sense;
    };
    const Case cases[] = {
        {"vital product data page", {0x12, 0x01, 0x80, 0, 36, 0}, 6, kInvalidField},
        {"WRITE BUFFER in a 6-byte block", {0x3B, 4, 0, 0, 0, 0}, 6, kInvalidField},
        {"vendor query in a 10-byte block",
         {0xF5, 0, 0, 0, 0, 0x0F, 0x80, 0x48, 0, 16},
         10,
         kInvalidField},
        {"logical unit 1", {0x00, 0x20, 0, 0, 0, 0}, 6, {0x05, 0x25, 0x00}},
        {"unknown opcode", {0x2F, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 10, {0x05, 0x20, 0x00}},
        {"vendor query with another parameter",
         {0xF5, 0, 0, 0, 0, 0, 0, 1, 0, 16, 0, 0},
         12,
         kInvalidField},
        {"WRITE BUFFER mode 5 to another buffer",
         {0x3B, 5, 1, 0, 0, 0, 0, 0, 0, 0},
         10,
         kInvalidField},
        {"WRITE BUFFER mode 1", {0x3B, 1, 0, 0, 0, 0, 0, 0, 0, 0}, 10, kInvalidField},
    };
    for (const auto& c : cases) {
        const Sent s = send(drive, c.cdb, Dir::In, 64, {}, c.cdbLength);
        EXPECT_EQ(senseOf(s.answer), c.sense) << c.what;
        EXPECT_EQ(s.answer.scsiStatus, 0x02) << c.what;
    }
}

TEST(VirtualDriveCommands, DataMovedTheWrongWayIsAnAdapterFailure)
{
    VirtualDrive drive(VirtualDriveConfig{});
    // INQUIRY offered a data-out buffer; WRITE BUFFER offered too few bytes.
    const Sent in = send(drive, {0x12, 0, 0, 0, 36, 0}, Dir::Out, 36);
    const Sent out = send(drive, {0x3B, 4, 0, 0, 0, 0, 0, 0x20, 0, 0}, Dir::Out, 0x100);
    for (const Sent* s : {&in, &out}) {
        EXPECT_EQ(s->answer.haStatus, 0x14);
        EXPECT_FALSE(s->answer.requestOk);
        EXPECT_EQ(s->answer.systemError, kErrorIoDevice);
        EXPECT_EQ(s->answer.srbStatus, 0x04);
    }
    EXPECT_TRUE(drive.receivedImage().empty());
}

TEST(VirtualDriveTray, TestUnitReadyFollowsScriptThenTrayState)
{
    VirtualDriveConfig c;
    c.turScript = {VirtualStatus::ready(), VirtualStatus::checkCondition(0x02, 0x04, 0x01)};
    VirtualStatus busy;
    busy.targetStatus = 0x08;
    c.turScript.push_back(busy);
    VirtualDrive drive(c);

    EXPECT_EQ(tur(drive).answer.scsiStatus, 0);
    EXPECT_EQ(senseOf(tur(drive).answer), (VirtualSense{0x02, 0x04, 0x01}));
    const Sent third = tur(drive);
    EXPECT_EQ(third.answer.scsiStatus, 0x08);
    EXPECT_EQ(senseOf(third.answer), kGood);
    EXPECT_EQ(senseOf(tur(drive).answer), kNoMediumClosed) << "script used up: tray state";

    // Eject (LoEj, no Start): the tray opens and stays open until loaded.
    EXPECT_EQ(send(drive, {0x1B, 0, 0, 0, 0x02, 0}).answer.scsiStatus, 0);
    EXPECT_EQ(drive.ejectCount(), 1u);
    EXPECT_TRUE(drive.trayOpen());
    EXPECT_EQ(senseOf(tur(drive).answer), kTrayOpen);
    // Start alone changes nothing; LoEj with Start closes the tray.
    send(drive, {0x1B, 0, 0, 0, 0x01, 0});
    EXPECT_TRUE(drive.trayOpen());
    send(drive, {0x1B, 0, 0, 0, 0x03, 0});
    EXPECT_FALSE(drive.trayOpen());
    EXPECT_EQ(drive.ejectCount(), 1u);
    EXPECT_EQ(senseOf(tur(drive).answer), kNoMediumClosed);
}

TEST(VirtualDriveTray, LoadedMediumIsReady)
{
    VirtualDriveConfig c;
    c.mediumLoaded = true;
    VirtualDrive drive(c);
    EXPECT_EQ(tur(drive).answer.scsiStatus, 0);
    EXPECT_EQ(senseOf(tur(drive).answer), kGood);
}

TEST(VirtualDriveFlash, ChunksBuildTheImageAndTheFinalChunkFlashesIt)
{
    VirtualDrive drive(VirtualDriveConfig{});
    const auto image = pattern(0x6000, 3);
    const uint32_t chunk = 0x2000;
    for (uint32_t k = 0; k < 3; ++k) {
        const std::vector<uint8_t> part(image.begin() + k * chunk, image.begin() + (k + 1) * chunk);
        const Sent s = writeBuffer(drive, k == 2 ? 5 : 4, 0, k * chunk, part);
        ASSERT_EQ(s.answer.scsiStatus, 0) << k;
        if (k < 2) {
            EXPECT_EQ(drive.flashCount(), 0u);
        }
    }
    EXPECT_EQ(drive.flashCount(), 1u);
    EXPECT_EQ(drive.flashedImage(), image);
    EXPECT_TRUE(drive.receivedImage().empty()) << "the next download starts afresh";

    // The flashed image reads back through buffer 0.
    const Sent back = readBuffer(drive, 2, 0, 0x1FF0, 0x20);
    ASSERT_EQ(back.answer.scsiStatus, 0);
    EXPECT_TRUE(std::equal(back.data.begin(), back.data.end(), image.begin() + 0x1FF0));

    // The record keeps each block and the bytes of each data-out command.
    const auto log = drive.commands();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[1].cdb[1], 4);
    EXPECT_EQ(log[1].cdb[4], 0x20);
    EXPECT_EQ(log[1].direction, Dir::Out);
    EXPECT_EQ(log[1].data, std::vector<uint8_t>(image.begin() + chunk, image.begin() + 2 * chunk));
    EXPECT_TRUE(log[3].data.empty()) << "data-in commands keep no data";
}

TEST(VirtualDriveFlash, OutOfOrderChunksStillFlashTheWholeImage)
{
    VirtualDrive drive(VirtualDriveConfig{});
    const auto image = pattern(0x300, 9);
    writeBuffer(drive, 4, 0, 0x200, {image.begin() + 0x200, image.end()});
    writeBuffer(drive, 4, 0, 0x0, {image.begin(), image.begin() + 0x100});
    EXPECT_EQ(writeBuffer(drive, 5, 0, 0x100, {image.begin() + 0x100, image.begin() + 0x200})
                  .answer.scsiStatus,
              0);
    EXPECT_EQ(drive.flashedImage(), image);
}

TEST(VirtualDriveFlash, AnImageWithAHoleIsNotFlashed)
{
    VirtualDrive drive(VirtualDriveConfig{});
    const auto part = pattern(0x100, 1);
    writeBuffer(drive, 4, 0, 0x000, part);
    // 0x100..0x1FF never arrived.
    const Sent last = writeBuffer(drive, 5, 0, 0x200, part);
    EXPECT_EQ(senseOf(last.answer), (VirtualSense{0x09, 0x88, 0x00}));
    EXPECT_EQ(drive.flashCount(), 0u);
    EXPECT_TRUE(drive.flashedImage().empty());
}

TEST(VirtualDriveFlash, ImagesPastTheFlashSizeAreRefused)
{
    VirtualDriveConfig c;
    c.flashSize = 0x1000;
    VirtualDrive drive(c);
    EXPECT_EQ(senseOf(writeBuffer(drive, 4, 0, 0xF00, pattern(0x200, 0)).answer), kInvalidField);
    EXPECT_EQ(senseOf(writeBuffer(drive, 5, 0, 0x0, pattern(0x1000, 0)).answer), kGood);
}

TEST(VirtualDriveFlash, AsksForTheImageAgainOnTheConfiguredProbe)
{
    VirtualDriveConfig c;
    c.askAgainTimes = 1;
    c.askAgainProbe = 3;
    VirtualDrive drive(c);
    const auto image = pattern(0x100, 5);

    EXPECT_EQ(senseOf(tur(drive).answer), kNoMediumClosed) << "no flash yet: no request";
    for (int round = 1; round <= 2; ++round) {
        writeBuffer(drive, 5, 0, 0, image);
        EXPECT_EQ(senseOf(tur(drive).answer), kNoMediumClosed) << round;
        EXPECT_EQ(senseOf(tur(drive).answer), kNoMediumClosed) << round;
        EXPECT_EQ(senseOf(tur(drive).answer), round == 1 ? kSendAgain : kNoMediumClosed)
            << "asked once only, on the third probe; round " << round;
        EXPECT_EQ(senseOf(tur(drive).answer), kNoMediumClosed) << round;
    }
    EXPECT_EQ(drive.flashCount(), 2u);
}

TEST(VirtualDriveVendor, AnswersThePcbVersion)
{
    VirtualDriveConfig c;
    c.pcbVersion = 7;
    VirtualDrive drive(c);
    const Sent s =
        send(drive, {0xF5, 0, 0, 0, 0x00, 0x0F, 0x80, 0x48, 0x00, 0x10, 0, 0}, Dir::In, 20);
    ASSERT_EQ(s.answer.scsiStatus, 0);
    EXPECT_EQ(s.answer.transferred, 16u);
    EXPECT_EQ(s.data[0], 7);
    EXPECT_EQ(std::accumulate(s.data.begin() + 1, s.data.begin() + 16, 0), 0);
    EXPECT_EQ(s.data[16], 0xEE);
}

TEST(VirtualDriveEps, PrepareWriteReadCommitAndVersion)
{
    VirtualDriveConfig c;
    c.epsVersion = "EPS0100";
    c.epsNewVersion = "EPS0200";
    c.epsSize = 0x4000;
    VirtualDrive drive(c);
    const auto version = [&] {
        const Sent s = readBuffer(drive, 0, 0x84, 0, 7);
        return std::string(s.data.begin(), s.data.end());
    };
    EXPECT_EQ(version(), "EPS0100");

    const auto data = pattern(0x4000 - kEpsDataOffset, 11);
    // Writing before the buffer was prepared is out of sequence.
    EXPECT_EQ(senseOf(writeBuffer(drive, 0, 0x81, kEpsDataOffset, data).answer),
              (VirtualSense{0x05, 0x2C, 0x00}));
    EXPECT_EQ(senseOf(writeBuffer(drive, 0, 0x82, 0, {}).answer), (VirtualSense{0x05, 0x2C, 0x00}));

    EXPECT_EQ(senseOf(writeBuffer(drive, 0, 0x80, 0, {}).answer), kGood);
    EXPECT_EQ(senseOf(writeBuffer(drive, 0, 0x81, kEpsDataOffset - 1, {1}).answer), kInvalidField)
        << "the EPS data start at 0x3400";
    EXPECT_EQ(
        senseOf(writeBuffer(drive, 0, 0x81, kEpsDataOffset, pattern(data.size() + 1, 0)).answer),
        kInvalidField)
        << "past the end of the buffer";
    EXPECT_EQ(senseOf(writeBuffer(drive, 0, 0x81, kEpsDataOffset, data).answer), kGood);
    const Sent back =
        readBuffer(drive, 0, 0x81, kEpsDataOffset, static_cast<uint32_t>(data.size()));
    EXPECT_EQ(back.data, data);
    EXPECT_EQ(version(), "EPS0100") << "not committed yet";

    EXPECT_EQ(senseOf(writeBuffer(drive, 0, 0x82, 0, {}).answer), kGood);
    EXPECT_EQ(version(), "EPS0200");
    EXPECT_EQ(drive.epsCommitCount(), 1u);
    const auto committed = drive.epsCommitted();
    EXPECT_TRUE(std::equal(data.begin(), data.end(), committed.begin() + kEpsDataOffset));
    EXPECT_EQ(senseOf(writeBuffer(drive, 0, 0x82, 0, {}).answer), (VirtualSense{0x05, 0x2C, 0x00}))
        << "a second commit needs a new prepare and write";
}

TEST(VirtualDriveEps, ShortVersionsArePaddedWithZeros)
{
    VirtualDriveConfig c;
    c.epsVersion = "E1";
    VirtualDrive drive(c);
    const Sent s = readBuffer(drive, 0, 0x84, 0, 7);
    EXPECT_EQ(s.data, (std::vector<uint8_t>{'E', '1', 0, 0, 0, 0, 0}));
}

TEST(VirtualDriveFaults, SelectedByOpcodeModeBufferAndOccurrence)
{
    VirtualFault flash;
    flash.opcode = 0x3B;
    flash.mode = 5;
    flash.status.sense = VirtualSense{0x09, 0x86, 0x00};
    VirtualFault secondEpsRead;
    secondEpsRead.opcode = 0x3C;
    secondEpsRead.bufferId = 0x84;
    secondEpsRead.from = 2;
    secondEpsRead.to = 3;
    secondEpsRead.status.srbStatus = 0xE1;
    VirtualDriveConfig c;
    c.faults = {flash, secondEpsRead};
    VirtualDrive drive(c);
    const auto part = pattern(0x100, 0);

    EXPECT_EQ(senseOf(writeBuffer(drive, 4, 0, 0, part).answer), kGood) << "mode 4 unaffected";
    const Sent final = writeBuffer(drive, 5, 0, 0x100, part);
    EXPECT_EQ(senseOf(final.answer), (VirtualSense{0x09, 0x86, 0x00}));
    EXPECT_EQ(final.answer.targetStatus, 0x02);
    EXPECT_EQ(drive.flashCount(), 0u) << "a failed command does nothing";

    std::vector<uint8_t> srb;
    for (int i = 0; i < 5; ++i)
        srb.push_back(readBuffer(drive, 0, 0x84, 0, 7).answer.srbStatus);
    EXPECT_EQ(srb, (std::vector<uint8_t>{0x01, 0xE1, 0xE1, 0x01, 0x01}));
    EXPECT_EQ(readBuffer(drive, 0, 0x81, kEpsDataOffset, 4).answer.srbStatus, 0x01)
        << "another buffer does not count";
}

TEST(VirtualDriveFaults, AnswersInBothViews)
{
    struct Case {
        const char* what;
        VirtualStatus status;
        bool requestOk;
        uint32_t error;
        uint8_t scsi;
        uint8_t srb;
        uint8_t ha;
    };
    auto make = [](auto set) {
        VirtualStatus s;
        set(s);
        return s;
    };
    const Case cases[] = {
        {"sense alone", make([](VirtualStatus& s) {
             s.sense = VirtualSense{9, 0x84, 0};
         }),
         true, 0, 2, 4, 0},
        {"busy", make([](VirtualStatus& s) { s.targetStatus = 8; }), true, 0, 8, 4, 0},
        {"selection timeout", make([](VirtualStatus& s) { s.haStatus = 0x11; }), false,
         kErrorIoDevice, 0, 4, 0x11},
        {"overrun alone", make([](VirtualStatus& s) { s.haStatus = 0x12; }), true, 0, 0, 4, 0x12},
        {"system error", make([](VirtualStatus& s) { s.systemError = 1117; }), false, 1117, 0, 4,
         0},
        {"request status only", make([](VirtualStatus& s) { s.srbStatus = 0xE5; }), false,
         kErrorIoDevice, 0, 0xE5, 0},
        {"everything", make([](VirtualStatus& s) {
             s.srbStatus = 4;
             s.haStatus = 0x12;
             s.targetStatus = 2;
             s.sense = VirtualSense{5, 0x24, 0};
             s.systemError = 31;
         }),
         false, 31, 2, 4, 0x12},
    };
    for (const auto& c : cases) {
        VirtualFault f;
        f.opcode = 0x00;
        f.status = c.status;
        VirtualDriveConfig config;
        config.faults = {f};
        VirtualDrive drive(config);
        const VirtualAnswer a = tur(drive).answer;
        EXPECT_EQ(a.requestOk, c.requestOk) << c.what;
        EXPECT_EQ(a.systemError, c.error) << c.what;
        EXPECT_EQ(a.scsiStatus, c.scsi) << c.what;
        EXPECT_EQ(a.targetStatus, c.scsi) << c.what;
        EXPECT_EQ(a.srbStatus, c.srb) << c.what;
        EXPECT_EQ(a.haStatus, c.ha) << c.what;
        if (c.status.sense) {
            EXPECT_EQ(a.sense[0], 0x70) << c.what;
            EXPECT_EQ(senseOf(a), *c.status.sense) << c.what;
        }
    }
}

TEST(VirtualDriveFaults, FlippedBytesReachTheHostCorrupted)
{
    VirtualFault f;
    f.opcode = 0x3C;
    f.bufferId = 0x81;
    f.flipBytes = 3;
    f.from = f.to = 1;
    VirtualDriveConfig c;
    c.faults = {f};
    VirtualDrive drive(c);
    const auto data = pattern(0x100, 2);
    writeBuffer(drive, 0, 0x80, 0, {});
    writeBuffer(drive, 0, 0x81, kEpsDataOffset, data);
    const Sent first = readBuffer(drive, 0, 0x81, kEpsDataOffset, 0x100);
    EXPECT_EQ(first.answer.scsiStatus, 0);
    int differing = 0;
    for (size_t i = 0; i < data.size(); ++i)
        differing += first.data[i] != data[i];
    EXPECT_EQ(differing, 3);
    EXPECT_EQ(readBuffer(drive, 0, 0x81, kEpsDataOffset, 0x100).data, data) << "second read clean";
}

TEST(VirtualDriveFaults, OpenAndCapabilityFaults)
{
    VirtualFault rw;
    rw.on = VirtualFault::On::Open;
    rw.access = VirtualFault::Access::ReadWrite;
    VirtualFault caps;
    caps.on = VirtualFault::On::Capabilities;
    caps.from = caps.to = 2;
    VirtualDriveConfig c;
    c.passThroughMask = 3;
    c.faults = {rw, caps};
    VirtualDrive drive(c);
    EXPECT_FALSE(drive.open(true));
    EXPECT_TRUE(drive.open(false));
    EXPECT_FALSE(drive.open(true));
    EXPECT_EQ(drive.openCount(), 3u);
    uint32_t mask = 99;
    EXPECT_TRUE(drive.capabilities(mask));
    EXPECT_EQ(mask, 3u);
    EXPECT_FALSE(drive.capabilities(mask));
    EXPECT_EQ(mask, 0u);
    EXPECT_TRUE(drive.capabilities(mask));
}

TEST(VirtualDriveLatency, ReportedPerCommandAndLimitedByTheTimeout)
{
    VirtualFault slowFinal;
    slowFinal.opcode = 0x3B;
    slowFinal.mode = 5;
    slowFinal.latency = 1500;
    VirtualDriveConfig c;
    c.latency = 20;
    c.faults = {slowFinal};
    VirtualDrive drive(c);
    std::vector<uint32_t> waits;
    drive.setLatencySink([&](uint32_t ms) { waits.push_back(ms); });

    tur(drive);
    writeBuffer(drive, 5, 0, 0, pattern(16, 0));
    EXPECT_EQ(waits, (std::vector<uint32_t>{20, 1500}));
    EXPECT_EQ(drive.flashCount(), 1u) << "a slow command still works";

    // A host that gives up after one second sees a timed-out request.
    std::array<uint8_t, 16> block{0x3B, 5, 0, 0, 0, 0, 0, 0, 16};
    auto bytes = pattern(16, 0);
    VirtualRequest r{block.data(), 10, bytes.data(), 16, Dir::Out, false, 1};
    const VirtualAnswer a = drive.execute(r);
    EXPECT_FALSE(a.requestOk);
    EXPECT_EQ(a.systemError, kErrorSemTimeout);
    EXPECT_EQ(waits.back(), 1000u);
    EXPECT_EQ(drive.commands().back().timeoutSeconds, 1u);
}

TEST(VirtualDriveRecord, CommandLineShowsBlockDirectionAndAnswer)
{
    VirtualCommandRecord r;
    r.cdb = {0x3B, 0x05, 0x00, 0x01, 0x20, 0x00, 0x00, 0x20, 0x00, 0x00};
    r.cdbLength = 10;
    r.direction = Dir::Out;
    r.dataLength = 8192;
    r.srbStatus = 4;
    r.scsiStatus = 2;
    r.sense = {0x09, 0x86, 0x00};
    EXPECT_EQ(virtualCommandLine(r),
              "3B 05 00 01 20 00 00 20 00 00 | out 8192 | srb 04 ha 00 scsi 02 sense 09-86-00");
    r.requestFailed = true;
    r.systemError = 121;
    r.cdbLength = 1;
    EXPECT_EQ(virtualCommandLine(r),
              "3B | out 8192 | error 121 srb 04 ha 00 scsi 02 sense 09-86-00");
}

TEST(VirtualDriveHostCommands, AnswerWhatAKernelAsksACdRomDrive)
{
    VirtualDrive drive(VirtualDriveConfig{});
    struct Case {
        const char* what;
        std::initializer_list<uint8_t> cdb;
        VirtualSense sense;
        uint32_t transferred;
    };
    const Case cases[] = {
        {"MODE SENSE(10) page 2A", {0x5A, 0, 0x2A, 0, 0, 0, 0, 0, 128, 0}, kGood, 30},
        {"MODE SENSE(6) all pages", {0x1A, 0, 0x3F, 0, 128, 0}, kGood, 26},
        {"MODE SENSE another page", {0x1A, 0, 0x01, 0, 128, 0}, kInvalidField, 0},
        {"MODE SENSE saved values", {0x1A, 0, 0xEA, 0, 128, 0}, {0x05, 0x39, 0x00}, 0},
        {"GET CONFIGURATION", {0x46, 0, 0, 0x28, 0, 0, 0, 0, 16, 0}, kGood, 8},
        {"GET EVENT STATUS, media", {0x4A, 1, 0, 0, 0x10, 0, 0, 0, 8, 0}, kGood, 8},
        {"GET EVENT STATUS, not polled", {0x4A, 0, 0, 0, 0x10, 0, 0, 0, 8, 0}, kInvalidField, 0},
        {"PREVENT ALLOW MEDIUM REMOVAL", {0x1E, 0, 0, 0, 1, 0}, kGood, 0},
        {"REQUEST SENSE", {0x03, 0, 0, 0, 18, 0}, kGood, 18},
        {"READ CAPACITY", {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, kNoMediumClosed, 0},
        {"READ(10)", {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, kNoMediumClosed, 0},
        {"READ TOC", {0x43, 0, 0, 0, 0, 0, 0, 0, 12, 0}, kNoMediumClosed, 0},
        {"READ DISC INFORMATION", {0x51, 0, 0, 0, 0, 0, 0, 0, 34, 0}, kNoMediumClosed, 0},
    };
    for (const auto& c : cases) {
        const Sent s = send(drive, c.cdb, Dir::In, 128);
        EXPECT_EQ(senseOf(s.answer), c.sense) << c.what;
        EXPECT_EQ(s.answer.transferred, c.transferred) << c.what;
    }

    // The capabilities page behind the 8-byte header: a tray that locks and ejects.
    const Sent page = send(drive, {0x5A, 0, 0x2A, 0, 0, 0, 0, 0, 128, 0}, Dir::In, 128);
    EXPECT_EQ(page.data[1], 28) << "mode data length";
    EXPECT_EQ(page.data[8], 0x2A);
    EXPECT_EQ(page.data[8 + 6], 0x29);

    // What the tray does shows in the media event and in REQUEST SENSE.
    EXPECT_EQ(send(drive, {0x4A, 1, 0, 0, 0x10, 0, 0, 0, 8, 0}, Dir::In, 8).data[5], 0x00);
    EXPECT_EQ(send(drive, {0x03, 0, 0, 0, 18, 0}, Dir::In, 18).data[12], 0x3A);
    send(drive, {0x1B, 0, 0, 0, 0x02, 0});
    EXPECT_EQ(send(drive, {0x4A, 1, 0, 0, 0x10, 0, 0, 0, 8, 0}, Dir::In, 8).data[5], 0x01);
    EXPECT_EQ(send(drive, {0x03, 0, 0, 0, 18, 0}, Dir::In, 18).data[13], 0x02);
    EXPECT_EQ(senseOf(send(drive, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, Dir::In, 8).answer),
              kTrayOpen);
}
