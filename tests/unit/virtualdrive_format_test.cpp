#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "virtualdrive/core/VirtualBus.h"

namespace {

std::vector<std::string> parse(const std::string& text, VirtualBus& bus)
{
    return parseVirtualDrives(text, bus);
}

} // namespace

TEST(VirtualDriveFormat, ReadsEveryKey)
{
    VirtualBus bus;
    const auto errors = parse(R"(# two drives
[aspi]
load = missing-entry
support = 0x0103

[adapter 2]
alignment = 0x0007
targets = 16
host-id = 6

[drive]
letter = e
address = 2:5
drive-type = 5
type = 0x25
byte3 = 0x02
vendor = "AB  CD"      # blanks kept inside quotes
product = "Q#1\x00"
revision = 2.1
inquiry-13 = no
pcb = 9
eps-version = EPSA
eps-new-version = EPSB
eps-size = 0x8000
flash-size = 0x100000
medium = loaded
tur = ready, 02-04-01
tur = busy
ask-again = 2
ask-again-probe = 4
latency = 15
alignment = 3
completion = deferred
completion-delay = 0
fault = 3B mode=5 buffer=0 at=2-3 sense=09-86-00 latency=700
fault = open access=ro at=1+
fault = caps at=4
fault = read-buffer buffer=0x81 flip=2
fault = 0x00 srb=0xE1 ha=0x11 target=8 error=1117

[drive]
address = 0:0
)",
                              bus);
    EXPECT_TRUE(errors.empty()) << errors.front();
    EXPECT_EQ(bus.aspiLoad, VirtualAspiLoad::MissingEntry);
    EXPECT_EQ(bus.supportInfo, 0x0103u);
    ASSERT_TRUE(bus.adapter(2));
    EXPECT_EQ(bus.adapter(2)->alignmentMask, 7);
    EXPECT_EQ(bus.adapter(2)->targetCount, 16);
    EXPECT_EQ(bus.adapter(2)->hostId, 6);
    EXPECT_EQ(bus.adapterCount(), 3u);

    VirtualDrive* drive = bus.driveAtLetter('E');
    ASSERT_NE(drive, nullptr);
    EXPECT_EQ(bus.driveAt(2, 5), drive);
    const VirtualDriveConfig c = drive->config();
    EXPECT_EQ(c.deviceType, 0x25);
    EXPECT_EQ(c.inquiryByte3, 0x02);
    EXPECT_EQ(c.vendor, "AB  CD");
    EXPECT_EQ(c.product, std::string("Q#1\0", 4));
    EXPECT_EQ(c.revision, "2.1");
    EXPECT_FALSE(c.answersInquiry13);
    EXPECT_EQ(c.pcbVersion, 9);
    EXPECT_EQ(c.epsVersion, "EPSA");
    EXPECT_EQ(c.epsNewVersion, "EPSB");
    EXPECT_EQ(c.epsSize, 0x8000u);
    EXPECT_EQ(c.flashSize, 0x100000u);
    EXPECT_TRUE(c.mediumLoaded);
    ASSERT_EQ(c.turScript.size(), 3u);
    EXPECT_FALSE(c.turScript[0].any());
    EXPECT_EQ(c.turScript[1].sense, (VirtualSense{2, 4, 1}));
    EXPECT_EQ(c.turScript[2].targetStatus, 8);
    EXPECT_EQ(c.askAgainTimes, 2u);
    EXPECT_EQ(c.askAgainProbe, 4u);
    EXPECT_EQ(c.latency, 15u);
    EXPECT_EQ(c.passThroughMask, 3u);
    EXPECT_TRUE(c.deferredCompletion);
    EXPECT_EQ(c.completionDelay, 0u);

    ASSERT_EQ(c.faults.size(), 5u);
    const VirtualFault& f0 = c.faults[0];
    EXPECT_EQ(f0.opcode, 0x3B);
    EXPECT_EQ(f0.mode, 5);
    EXPECT_EQ(f0.bufferId, 0);
    EXPECT_EQ(f0.from, 2u);
    EXPECT_EQ(f0.to, 3u);
    EXPECT_EQ(f0.status.sense, (VirtualSense{9, 0x86, 0}));
    EXPECT_EQ(f0.latency, 700u);
    EXPECT_EQ(c.faults[1].on, VirtualFault::On::Open);
    EXPECT_EQ(c.faults[1].access, VirtualFault::Access::ReadOnly);
    EXPECT_EQ(c.faults[1].to, 0u);
    EXPECT_EQ(c.faults[2].on, VirtualFault::On::Capabilities);
    EXPECT_EQ(c.faults[3].opcode, 0x3C);
    EXPECT_EQ(c.faults[3].flipBytes, 2u);
    const VirtualStatus& s4 = c.faults[4].status;
    EXPECT_EQ(s4.srbStatus, 0xE1);
    EXPECT_EQ(s4.haStatus, 0x11);
    EXPECT_EQ(s4.targetStatus, 8);
    EXPECT_EQ(s4.systemError, 1117u);

    ASSERT_NE(bus.driveAt(0, 0), nullptr);
    EXPECT_EQ(bus.driveAt(0, 0)->config().letter, 0);
}

TEST(VirtualDriveFormat, ReportsBadLinesWithTheirNumbersAndUsesTheRest)
{
    struct Case {
        const char* text;
        const char* error; // the first error reported
    };
    const Case cases[] = {
        {"letter = E\n", "line 1: \"letter\" outside a section"},
        {"[drive]\nletter = E\ncolour = red\n", "line 3: unknown key \"colour\" in [drive]"},
        {"[drive]\nletter = EF\n", "line 2: letter must be one letter A to Z"},
        {"[drive]\nletter = 5\n", "line 2: letter must be one letter A to Z"},
        {"[drive]\n\n\naddress = 1\n", "line 4: address must be adapter:target, each 0 to 255"},
        {"[drive]\naddress = 0:256\n", "line 2: address must be adapter:target, each 0 to 255"},
        {"[drive]\nletter = E\nvendor = NINECHARS\n", "line 3: vendor has more than 8 characters"},
        {"[drive]\nletter = E\nproduct = \"bad\\q\"\n",
         "line 3: product: bad escape in quoted text"},
        {"[drive]\nletter = E\npcb = 256\n", "line 3: pcb must be 0 to 255"},
        {"[drive]\nletter = E\npcb = 0x\n", "line 3: pcb must be 0 to 255"},
        {"[drive]\nletter = E\npcb = -1\n", "line 3: pcb must be 0 to 255"},
        {"[drive]\nletter = E\nlatency = 99999999999\n", "line 3: latency must be 0 to 3600000"},
        {"[drive]\nletter = E\ntur = ready, 02-3A\n",
         "line 3: tur answers are ready, busy or KK-AA-QQ: \"02-3A\""},
        {"[drive]\nletter = E\nfault = 3B mode=5\n",
         "line 3: fault has no effect (srb, ha, target, sense, error, latency or flip)"},
        {"[drive]\nletter = E\nfault = XYZ sense=02-3A-01\n",
         "line 3: fault needs an opcode, open or caps first: \"XYZ\""},
        {"[drive]\nletter = E\nfault = 00 sense=2-3A-1G\n",
         "line 3: sense is KK-AA-QQ in hexadecimal"},
        {"[drive]\nletter = E\nfault = 00 at=0 busy\n", "line 3: at is N, N-M or N+ (from 1)"},
        {"[drive]\nletter = E\nfault = 00 at=5-2 target=8\n",
         "line 3: at is N, N-M or N+ (from 1)"},
        {"[drive]\nletter = E\nfault = open mode=4\n", "line 3: mode applies to commands only"},
        {"[drive]\nletter = E\nfault = 00 target\n",
         "line 3: fault setting without '=': \"target\""},
        {"[drive]\nletter = E\nmedium\n", "line 3: expected \"key = value\""},
        {"[drive]\nletter = E\nmedium =\n", "line 3: no value for medium"},
        {"[drive\nletter = E\n", "line 1: unclosed section header"},
        {"[printer]\n", "line 1: unknown section [printer]"},
        {"[adapter x]\n", "line 1: adapter number must be 0 to 255"},
        {"[adapter 0]\nalignment = 0x10000\n", "line 2: alignment must be 0 to 0xFFFF"},
        {"[aspi]\nload = maybe\n", "line 2: load is loaded, failed or missing-entry"},
        {"# nothing\n[drive]\nvendor = X\n", "line 2: drive has neither letter nor address"},
        {"[drive]\nletter = E\n[drive]\nletter = e\n", "line 3: drive letter E is taken"},
        {"[drive]\naddress = 0:1\n[drive]\naddress = 0:1\n", "line 3: address 0:1 is taken"},
    };
    for (const auto& c : cases) {
        VirtualBus bus;
        const auto errors = parse(c.text, bus);
        ASSERT_FALSE(errors.empty()) << c.text;
        EXPECT_EQ(errors.front(), c.error) << c.text;
    }

    // A bad line is skipped; the drive around it is still made.
    VirtualBus bus;
    const auto errors = parse("[drive]\r\nletter = E\r\npcb = lots\r\nvendor = FINE\r\n", bus);
    ASSERT_EQ(errors.size(), 1u);
    ASSERT_NE(bus.driveAtLetter('E'), nullptr);
    EXPECT_EQ(bus.driveAtLetter('E')->config().vendor, "FINE");
    EXPECT_EQ(bus.driveAtLetter('E')->config().pcbVersion, 1) << "default kept";
}

TEST(VirtualDriveFormat, TheSampleFilesAreClean)
{
    const std::filesystem::path folder = std::filesystem::path(ORV_SOURCE_DIR) / "samples/drives";
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        VirtualBus bus;
        const auto errors = loadVirtualDrives(entry.path().string(), bus);
        EXPECT_TRUE(errors.empty()) << entry.path() << ": " << errors.front();
        EXPECT_FALSE(bus.drives().empty()) << entry.path();
        ++files;
    }
    EXPECT_GE(files, 5);

    VirtualBus bus;
    const auto missing = loadVirtualDrives((folder / "no-such-file.txt").string(), bus);
    ASSERT_EQ(missing.size(), 1u);
    EXPECT_NE(missing[0].find("cannot read"), std::string::npos);
}

TEST(VirtualDriveFormat, SurvivesArbitraryInput)
{
    // Fragments of the format, shuffled into random lines, and raw bytes.
    const std::vector<std::string> pieces = {
        "[drive]", "[adapter ", "[aspi]", "]",     "letter",
        "address", "=",         " = ",    "fault", "tur",
        "0x",      "FF",        "-",      ":",     "\"",
        "\\x",     "#",         ",",      "at=",   "flip=",
        "sense=",  "+",         "\n",     "\r\n",  "99999999999999999999",
        "vendor",  "E",         "0",      "3B",    "open",
        "caps",    "\x00",      "\xff"};
    std::mt19937 random(1234);
    for (int round = 0; round < 2000; ++round) {
        std::string text;
        const int n = static_cast<int>(random() % 60);
        for (int i = 0; i < n; ++i) {
            if (random() % 8 == 0)
                text += static_cast<char>(random() % 256);
            else
                text += pieces[random() % pieces.size()];
        }
        VirtualBus bus;
        const auto errors = parse(text, bus);
        for (const auto& e : errors)
            ASSERT_EQ(e.rfind("line ", 0), 0u) << e;
    }
}
