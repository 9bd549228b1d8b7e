#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "app/Language.h"
#include "discovery/Eligibility.h"
#include "package/UpdatePackage.h"
#include "platform/DriveAccess.h"
#include "platform/scripted/ScriptedSystem.h"
#include "transport/DriveRecords.h"

#include "tests/unit/shift_jis.h"

namespace {

// A drive behind the pass-through seam that answers the vendor query with
// its PCB version, or fails it.
class PcbDrive : public PassThroughAccess {
public:
    uint8_t pcbVersion = 0;
    bool failQuery = false;

    std::vector<std::array<uint8_t, 16>> commands;
    std::vector<uint32_t> lengths;
    std::vector<std::string> devices;

    unsigned driveType(const std::string&) override { return DRIVE_CDROM_; }
    std::string driveRootText(char letter) override { return std::string(1, letter) + ":\\"; }
    Handle openDevice(const std::string& deviceName, bool) override
    {
        devices.push_back(deviceName);
        return this;
    }
    bool getCapabilities(Handle, ScsiCapabilities& answer) override
    {
        answer.alignmentMask = 0;
        return true;
    }
    bool passThroughDirect(Handle, PassThroughRequest& request) override
    {
        std::array<uint8_t, 16> cdb{};
        std::memcpy(cdb.data(), request.cdb, sizeof request.cdb);
        commands.push_back(cdb);
        lengths.push_back(request.dataTransferLength);
        if (failQuery) {
            // CHECK CONDITION, ILLEGAL REQUEST / invalid command operation code.
            request.scsiStatus = 2;
            request.sense[0] = 0x70;
            request.sense[2] = 0x05;
            request.sense[12] = 0x20;
            return true;
        }
        request.scsiStatus = 0;
        if (request.dataIn == SCSI_IOCTL_DATA_IN_ && request.dataBuffer != nullptr &&
            request.dataTransferLength > 0) {
            auto* data = static_cast<uint8_t*>(request.dataBuffer);
            std::memset(data, 0xEE, request.dataTransferLength);
            data[0] = pcbVersion;
        }
        return true;
    }
    uint32_t lastError() override { return 1117; }
    void closeDevice(Handle) override {}
};

enum class Box { None, M1, M2, M3 };

const char* const kM1 = "Drive version check failure.";
const char* const kM2 =
    "This firmware upgrade does not apply to your drive. Please \nvisit Orventa Web Site to "
    "check availability of latest firmware \nfor the drive you have.";
const char* const kM3 =
    "Drive has later version of firmware than this program. Please \nvisit Orventa Web Site to "
    "check availability of latest firmware \nfor the drive you have.\n\nDo you continue it ?";

const char* const kM1Japanese = "ドライブのバージョンチェックに失敗しました。";
const char* const kM2Japanese = "本ファームウェアはこのドライブに適合しません。\nOrventa "
                                "ウェブサイトをチェックし、このドライブの\n最新ファームウェア"
                                "を入手して下さい。";
const char* const kM3Japanese =
    "このドライブには、本ファームウェア更新プログラムより\n新しいバージョンのファームウェアが"
    "インストールされています。\nOrventa "
    "ウェブサイトをチェックし、このドライブの\n最新ファームウェアを入手して下さい。\n\n続けま"
    "すか？";

class EligibilityTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        system.install();
        installPassThroughAccess(&drive);
        usePassThrough = 1;
        userLcid = 1033;
        resetPackage();
        resetDriveTable();
        driveCount = 3;
        for (char letter : {'E', 'F', 'G'}) {
            DriveEntry& entry = driveEntries[letter - 'E'];
            entry.driveLetter[0] = letter;
            std::strcpy(entry.revision, "9.99");
        }
        selectedDrive = 2;
    }
    void TearDown() override
    {
        installPassThroughAccess(nullptr);
        usePassThrough = 0;
        userLcid = 0;
        resetPackage();
        resetDriveTable();
    }

    // A text of at most 4 characters into a 5-byte field, zero-filled.
    static void putText(char (&field)[5], const char* text)
    {
        std::memset(field, 0, sizeof field);
        std::memcpy(field, text, std::min<size_t>(std::strlen(text), 4));
    }

    static void setVersions(const char* packageVersion, const char* driveRevision)
    {
        putText(package.firmwareVersion, packageVersion);
        putText(driveEntries[2].revision, driveRevision);
    }

    ScriptedSystem system;
    PcbDrive drive;
};

} // namespace

TEST_F(EligibilityTest, EveryBranch)
{
    struct Case {
        const char* name;
        uint8_t allowedPcb;
        bool failQuery;
        uint8_t drivePcb;
        const char* packageVersion;
        const char* driveRevision;
        int answer; // to the version question, 0 = none scripted
        int result;
        Box box;
    };
    const Case cases[] = {
        {"PCB check off sends nothing", 0, false, 9, "1.05", "1.05", 0, 1, Box::None},
        {"PCB equal passes", 3, false, 3, "1.05", "1.05", 0, 1, Box::None},
        {"PCB lower passes", 3, false, 2, "1.05", "1.05", 0, 1, Box::None},
        {"PCB higher refused", 3, false, 4, "1.05", "1.05", 0, 0, Box::M2},
        {"PCB compared unsigned", 0x7F, false, 0x80, "1.05", "1.05", 0, 0, Box::M2},
        {"PCB 255 accepts 255", 0xFF, false, 0xFF, "1.05", "1.05", 0, 1, Box::None},
        {"failing query stops before versions", 3, true, 0, "1.04", "1.05", 0, 0, Box::M1},
        {"refused PCB skips versions", 3, false, 4, "1.04", "1.05", 0, 0, Box::M2},
        {"later drive, Yes", 0, false, 0, "1.04", "1.05", IDYES_, 1, Box::M3},
        {"later drive, No", 0, false, 0, "1.04", "1.05", IDNO_, 0, Box::M3},
        {"PCB passes then question", 3, false, 1, "1.04", "1.05", IDYES_, 1, Box::M3},
        {"decimal: 1.10 is below 1.9", 0, false, 0, "1.10", "1.9", IDNO_, 0, Box::M3},
        {"decimal: 1.9 is above 1.10", 0, false, 0, "1.9", "1.10", 0, 1, Box::None},
        {"equal versions", 0, false, 0, "1.05", "1.05", 0, 1, Box::None},
        {"equal as numbers", 0, false, 0, "1.0", "1.00", 0, 1, Box::None},
        {"package higher", 0, false, 0, "2.00", "1.99", 0, 1, Box::None},
        {"revision without dot skipped", 0, false, 0, "1.00", "ABCD", 0, 1, Box::None},
        {"revision dot elsewhere skipped", 0, false, 0, "1.00", "10.1", 0, 1, Box::None},
        {"package beginning with 0 skipped", 0, false, 0, "0.99", "1.00", 0, 1, Box::None},
        {"revision beginning with 0 skipped", 0, false, 0, "A.00", "0.50", 0, 1, Box::None},
        {"revision with a digit but no dot skipped", 0, false, 0, "1.00", "2ABC", 0, 1, Box::None},
        {"empty package version skipped", 0, false, 0, "", "1.00", 0, 1, Box::None},
        {"unparsable tail reads as far as it goes", 0, false, 0, "1.x9", "1.05", IDYES_, 1,
         Box::M3},
        // A question that could not be asked is no consent.
        {"box failure stops", 0, false, 0, "1.04", "1.05", -1, 0, Box::M3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedSystem fresh;
        fresh.install();
        PcbDrive pcbDrive;
        installPassThroughAccess(&pcbDrive);
        pcbDrive.failQuery = c.failQuery;
        pcbDrive.pcbVersion = c.drivePcb;
        package.options.pcbVersion = c.allowedPcb;
        setVersions(c.packageVersion, c.driveRevision);
        if (c.answer == -1) {
            fresh.answerNext(0);
        } else if (c.answer != 0) {
            fresh.answerNext(c.answer);
        }

        EXPECT_EQ(checkEligibility(), c.result);

        EXPECT_EQ(pcbDrive.commands.size(), c.allowedPcb != 0 ? 1u : 0u);
        const auto boxes = fresh.messageBoxes();
        if (c.box == Box::None) {
            EXPECT_TRUE(boxes.empty());
            continue;
        }
        ASSERT_EQ(boxes.size(), 1u);
        const RecordedMessageBox& box = boxes[0];
        switch (c.box) {
        case Box::M1:
            EXPECT_EQ(box.text, kM1);
            EXPECT_EQ(box.title, "Error - Upgrade Program");
            EXPECT_EQ(box.flags, 0x10u);
            break;
        case Box::M2:
            EXPECT_EQ(box.text, kM2);
            EXPECT_EQ(box.title, "Information - Upgrade Program");
            EXPECT_EQ(box.flags, 0x40u);
            break;
        case Box::M3:
            EXPECT_EQ(box.text, kM3);
            EXPECT_EQ(box.title, "Information - Upgrade Program");
            EXPECT_EQ(box.flags, 0x44u);
            break;
        case Box::None:
            break;
        }
    }
    installPassThroughAccess(&drive);
    system.install();
}

TEST_F(EligibilityTest, QueryGoesToTheSelectedDrive)
{
    package.options.pcbVersion = 3;
    drive.pcbVersion = 3;
    setVersions("1.05", "1.05");
    ASSERT_EQ(checkEligibility(), 1);

    ASSERT_EQ(drive.commands.size(), 1u);
    EXPECT_EQ(drive.devices.back(), "\\\\.\\G:");
    const std::array<uint8_t, 16> expected = {0xF5, 0, 0, 0, 0x00, 0x0F, 0x80, 0x48, 0x00, 0x10};
    EXPECT_EQ(drive.commands[0], expected);
    EXPECT_EQ(drive.lengths[0], 16u);
}

TEST_F(EligibilityTest, JapaneseMessagesKeepEnglishTitles)
{
    userLcid = 1041;
    struct Case {
        bool failQuery;
        uint8_t drivePcb;
        const char* text;
        const char* title;
    };
    const Case cases[] = {
        {true, 0, kM1Japanese, "Error - Upgrade Program"},
        {false, 5, kM2Japanese, "Information - Upgrade Program"},
        {false, 1, kM3Japanese, "Information - Upgrade Program"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ScriptedSystem fresh;
        fresh.install();
        fresh.answerNext(IDNO_);
        drive.failQuery = c.failQuery;
        drive.pcbVersion = c.drivePcb;
        package.options.pcbVersion = 3;
        setVersions("1.04", "1.05");
        EXPECT_EQ(checkEligibility(), 0);
        const auto boxes = fresh.messageBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(fromShiftJis(boxes[0].text), c.text);
        EXPECT_EQ(boxes[0].title, c.title);
    }
    system.install();
}
