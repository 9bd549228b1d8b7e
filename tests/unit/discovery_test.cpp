#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "discovery/DriveDiscovery.h"
#include "package/UpdatePackage.h"
#include "platform/scripted/ScriptedSystem.h"
#include "transport/AspiTransport.h"
#include "transport/DriveRecords.h"
#include "virtualdrive/seams/VirtualDriveSeams.h"

namespace {

// INQUIRY data from the vendor field on: 8 + 16 + 4 bytes and four zeros.
std::string inquiryTail(const std::string& vendor, const std::string& product,
                        const std::string& revision)
{
    std::string data(32, '\0');
    auto put = [&](size_t at, const std::string& text, size_t width) {
        std::string field = text;
        field.resize(width, ' ');
        data.replace(at, width, field);
    };
    put(0, vendor, 8);
    put(8, product, 16);
    put(24, revision, 4);
    return data;
}

TEST(MatchesIdentity, EntriesArePrefixesOfVendorProductAndRevision)
{
    const std::string drive = inquiryTail("ORVENTA", "CD-RW   DEMO52X", "1.03");
    const auto* data = reinterpret_cast<const uint8_t*>(drive.data());
    struct Case {
        const char* list;
        bool matches;
    };
    const Case cases[] = {
        {"", false},
        {";", false},
        {";;", false},
        {"ORVENTA ", false}, // no closing ';'
        {"ORVENTA ;", true},
        {"orventa ;", false},
        {"ORVENTA CD-RW   DEMO52X ;", true},
        {"ORVENTA CD-RW   DEMO52X 1.03;", true},
        {"ORVENTA CD-RW   DEMO52X 1.04;", false},
        {"ORVENTA CD-RW   DEMO52X 1.03\x01;", false}, // longer than 28 never matches
        {"OTHERCO ;ORVENTA CD-RW;", true},
        {"OTHERCO ;;ORVENTA X;", false},
        {"ORVENTA CD-RW;ignored after the last", true},
        {"OTHERCO ;ORVENTA ", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(matchesIdentity(data, c.list), c.matches) << c.list;
}

class DiscoveryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        system.install();
        resetPackage();
        resetDriveTable();
        std::strcpy(package.inquiryList, "ORVENTA CD-RW   DEMO52X ;");
    }
    void TearDown() override
    {
        uninstallVirtualDrives();
        resetPackage();
    }

    void describe(const std::string& text)
    {
        const auto problems = parseVirtualDrives(text, bus);
        ASSERT_TRUE(problems.empty()) << problems.front();
        installVirtualDrives(bus);
    }

    static std::string matching(const std::string& where, const std::string& extra = "")
    {
        return "[drive]\n" + where +
               "\nvendor = ORVENTA\nproduct = \"CD-RW   DEMO52X \"\nrevision = 1.03\n" + extra;
    }

    ScriptedSystem system;
    VirtualBus bus;
};

TEST_F(DiscoveryTest, PassThroughAcceptsOnlyMatchingCdDrivesAndPacksTheRecords)
{
    usePassThrough = 1;
    describe(matching("letter = D", "byte3 = 0x02\n") +
             matching("letter = E", "type = 0x25\n") +              // qualifier not 0
             matching("letter = F", "vendor = \"\\x00RVENTA\"\n") + // vendor byte zero
             matching("letter = G", "drive-type = 3\n") +           // a fixed disk
             "[drive]\nletter = H\nvendor = ORVENTA\nproduct = OTHER MODEL\n" +
             matching("letter = K", "byte3 = 0x32\nrevision = 1.02\n"));

    ASSERT_EQ(discoverDrives(), 2);
    EXPECT_STREQ(driveEntries[0].driveLetter, "D");
    EXPECT_STREQ(driveEntries[0].displayText, "D:\\ [ORVENTA CD-RW   DEMO52X  1.03]");
    EXPECT_STREQ(driveEntries[0].revision, "1.03");
    EXPECT_EQ(driveEntries[0].atapi, 0);
    EXPECT_STREQ(driveEntries[1].driveLetter, "K");
    EXPECT_STREQ(driveEntries[1].displayText, "K:\\ [ORVENTA CD-RW   DEMO52X  1.02]");
    EXPECT_EQ(driveEntries[1].atapi, 1);
    EXPECT_EQ(driveEntries[1].hostAdapter, 0);
    EXPECT_EQ(driveEntries[1].alignmentMask, 0u);
    EXPECT_EQ(driveEntries[2].displayText[0], '\0');

    EXPECT_EQ(bus.driveAtLetter('G')->commandCount(), 0u) << "a fixed disk got a command";
    // Discovery itself speaks to an ATAPI drive with short blocks.
    for (const auto& command : bus.driveAtLetter('K')->commands())
        EXPECT_EQ(command.cdbLength, 6) << int(command.cdb[0]);
    EXPECT_EQ(virtualPassThroughAccess().openHandles(), 0);
}

TEST_F(DiscoveryTest, SettlingProbesThreeTimesThenAsksTwice)
{
    usePassThrough = 1;
    describe(matching("letter = E"));
    ASSERT_EQ(discoverDrives(), 1);
    std::string opcodes;
    for (const auto& command : bus.driveAtLetter('E')->commands())
        opcodes += std::to_string(command.cdb[0]) + " ";
    EXPECT_EQ(opcodes, "0 0 0 18 18 ");
}

TEST_F(DiscoveryTest, FailingInquiriesAreRetriedOnceAndThenRejected)
{
    usePassThrough = 1;
    describe(matching("letter = E", "fault = inquiry at=1 sense=02-04-01\n") +
             matching("letter = F", "fault = inquiry sense=02-04-01\n"));
    ASSERT_EQ(discoverDrives(), 1);
    EXPECT_STREQ(driveEntries[0].driveLetter, "E");
}

TEST_F(DiscoveryTest, AnswersThatNeverAgreeAreGivenUpInsteadOfHangingDiscovery)
{
    usePassThrough = 1;
    std::string faults;
    for (int n = 1; n <= 80; n += 2)
        faults += "fault = inquiry flip=1 at=" + std::to_string(n) + "\n";
    describe(matching("letter = E", faults) + matching("letter = F"));
    ASSERT_EQ(discoverDrives(), 1);
    EXPECT_STREQ(driveEntries[0].driveLetter, "F");
    EXPECT_LE(bus.driveAtLetter('E')->commandCount(), 3u + 16u * 2u);
}

TEST_F(DiscoveryTest, AspiScansEveryAdapterAndTarget)
{
    usePassThrough = 0;
    describe("[adapter 0]\ntargets = 0\n" // reported as 0: scanned for 8
             "[adapter 2]\nalignment = 3\ntargets = 16\n" +
             matching("address = 0:7") + matching("address = 2:12", "byte3 = 0x21\n") +
             matching("address = 2:3", "type = 0x01\n") + // not a CD/DVD device
             "[drive]\naddress = 2:4\nvendor = OTHERCO\n");
    ASSERT_EQ(loadAspi(), 1);
    ASSERT_EQ(discoverDrives(), 2);
    EXPECT_STREQ(driveEntries[0].displayText, "(0,7) ORVENTA CD-RW   DEMO52X  1.03");
    EXPECT_EQ(driveEntries[0].alignmentMask, 0u);
    EXPECT_STREQ(driveEntries[1].displayText, "(2,12) ORVENTA CD-RW   DEMO52X  1.03");
    EXPECT_EQ(driveEntries[1].hostAdapter, 2);
    EXPECT_EQ(driveEntries[1].target, 12);
    EXPECT_EQ(driveEntries[1].alignmentMask, 3u);
    EXPECT_EQ(driveEntries[1].atapi, 1);
    EXPECT_EQ(driveEntries[1].driveLetter[0], '\0');
    EXPECT_EQ(bus.driveAt(2, 3)->commandCount(), 0u);
    unloadAspi();
}

TEST_F(DiscoveryTest, AspiWithoutAdapterZeroFindsNothing)
{
    usePassThrough = 0;
    describe(matching("address = 1:0"));
    ASSERT_EQ(loadAspi(), 1);
    EXPECT_EQ(discoverDrives(), 0);
    unloadAspi();
}

TEST_F(DiscoveryTest, NeverWritesPastTheHundredthRecord)
{
    usePassThrough = 0;
    std::string text;
    for (int adapter = 0; adapter < 13; ++adapter)
        for (int target = 0; target < 8; ++target)
            text += matching("address = " + std::to_string(adapter) + ":" + std::to_string(target));
    describe(text);
    ASSERT_EQ(loadAspi(), 1);
    EXPECT_EQ(discoverDrives(), 100);
    EXPECT_STREQ(driveEntries[99].displayText, "(12,3) ORVENTA CD-RW   DEMO52X  1.03");
    unloadAspi();
}

} // namespace
