#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/Language.h"
#include "app/UpdaterApp.h"
#include "package/UpdatePackage.h"
#include "platform/DriveAccess.h"
#include "platform/model/ModelWindows.h"
#include "platform/scripted/ScriptedRestart.h"
#include "platform/scripted/ScriptedSystem.h"
#include "tests/unit/shift_jis.h"
#include "transport/DriveRecords.h"

namespace {

// No optical drive at any letter.
class NoDrives : public PassThroughAccess {
public:
    unsigned driveType(const std::string&) override { return 3; }
    std::string driveRootText(char letter) override { return std::string(1, letter) + ":\\"; }
    Handle openDevice(const std::string&, bool) override { return nullptr; }
    bool getCapabilities(Handle, ScsiCapabilities&) override { return false; }
    bool passThroughDirect(Handle, PassThroughRequest&) override { return false; }
    uint32_t lastError() override { return 0; }
    void closeDevice(Handle) override {}
};

class FakeAspi : public AspiLibrary {
public:
    AspiLoadResult loadResult = AspiLoadResult::Failed;
    uint32_t supportInfo = 0x0100;
    int loads = 0;
    AspiLoadResult load() override
    {
        ++loads;
        return loadResult;
    }
    void unload() override {}
    uint32_t getSupportInfo() override { return supportInfo; }
    uint32_t sendCommand(void*) override { return 0; }
};

// Records which dialogs ran and ends each with the answer set for it.
class RecordingDriver : public ModalDriver {
public:
    std::vector<unsigned> shown;
    int noticeAnswer = IDOK_;
    void run(CDialog& dialog) override
    {
        shown.push_back(dialog.templateId());
        dialog.endDialog(dialog.templateId() == 129 ? noticeAnswer : IDCANCEL_);
    }
};

const char* const kPackage = "[UPGRADEINFORMATION]\r\n"
                             "INQUIRY=ORVENTA CD-RW   DEMO52X ;\r\n"
                             "VERSION=1.04\r\n"
                             "FIRMWAREFILENAME=FW.BIN\r\n"
                             "FIRMWAREFILESIZE=16384\r\n"
                             "[OPTION]\r\n";

class StartUpTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        system.install();
        installPassThroughAccess(&noDrives);
        installAspiLibrary(&aspi);
        setModalDriver(&driver);
    }
    void TearDown() override
    {
        setModalDriver(nullptr);
        installPassThroughAccess(nullptr);
        installAspiLibrary(nullptr);
        resetPackage();
    }

    // A sound package of one 16 KiB image in the program's folder.
    static void addPackage(ScriptedSystem& to, const std::string& extraOptions = "")
    {
        to.addTextFile("UPDATE.INI", kPackage + extraOptions);
        to.addFile("FW.BIN", std::vector<uint8_t>(16384, 0x5A));
    }
    void addPackage(const std::string& extraOptions = "") { addPackage(system, extraOptions); }

    std::vector<std::string> boxTexts() const
    {
        std::vector<std::string> texts;
        for (const auto& box : system.messageBoxes()) {
            EXPECT_EQ(box.owner, nullptr);
            EXPECT_EQ(box.title, "Error - Upgrade Program");
            EXPECT_EQ(box.flags, 0x10u);
            texts.push_back(box.text);
        }
        return texts;
    }

    ScriptedSystem system;
    ScriptedRestart restart;
    NoDrives noDrives;
    FakeAspi aspi;
    RecordingDriver driver;
    UpdaterApp app;
};

TEST_F(StartUpTest, PackageFailuresEndWithTheirCodedMessageInEitherLanguage)
{
    struct Case {
        uint32_t lcid;
        bool withPackage;
        bool withImage;
        const char* expected;
    };
    const Case cases[] = {
        {1033, false, false, "INI file not found. (Code 1)"},
        {1033, true, false, "Firmware file not found. (Code 10)"},
        {2052, false, false, "INI file not found. (Code 1)"},
        {1041, false, false,
         "INI\x83t\x83@\x83"
         "C\x83\x8B\x82\xAA\x8C\xA9\x82\xC2\x82\xA9\x82\xE8\x82\xDC\x82\xB9\x82\xF1\x81"
         "B(Code 1)"},
    };
    for (const Case& c : cases) {
        ScriptedSystem local;
        local.install();
        local.lcid = c.lcid;
        if (c.withPackage) local.addTextFile("UPDATE.INI", kPackage);
        if (c.withImage) local.addFile("FW.BIN", std::vector<uint8_t>(16384, 1));
        EXPECT_FALSE(app.startUp());
        const auto boxes = local.messageBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, c.expected) << c.lcid;
        EXPECT_EQ(boxes[0].title, "Error - Upgrade Program");
        EXPECT_EQ(boxes[0].flags, 0x10u);
    }
}

TEST_F(StartUpTest, MessageForEveryPackageCode)
{
    userLcid = 1033;
    EXPECT_EQ(packageResultMessage(1), "INI file not found. (Code 1)");
    EXPECT_EQ(packageResultMessage(10), "Firmware file not found. (Code 10)");
    EXPECT_EQ(packageResultMessage(11), "Firmware file reading failure. (Code 11)");
    EXPECT_EQ(packageResultMessage(12), "Firmware file reading failure. (Code 12)");
    for (unsigned code : {2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 13u, 20u, 21u, 22u}) {
        EXPECT_EQ(packageResultMessage(code),
                  "INI file value error. (Code " + std::to_string(code) + ")");
    }
}

TEST_F(StartUpTest, RestartCopyWaitsEightSecondsAndRestartsWithoutReadingThePackage)
{
    struct Case {
        const char* fileName;
        bool restartCopy;
    };
    for (const Case c :
         {Case{"REB_0000.EXE", true}, Case{"REBOOT.EXE", true}, Case{"reb_0000.EXE", false},
          Case{"Reb_0000.EXE", false}, Case{"RE.EXE", false}}) {
        ScriptedSystem local;
        local.install();
        local.fileName = c.fileName;
        ScriptedRestart localRestart;
        EXPECT_FALSE(app.startUp());
        if (c.restartCopy) {
            EXPECT_EQ(local.waits(), std::vector<uint32_t>{8000}) << c.fileName;
            EXPECT_EQ(localRestart.rebootRequests, 1) << c.fileName;
            EXPECT_TRUE(local.openedFiles().empty()) << c.fileName;
            EXPECT_TRUE(local.messageBoxes().empty()) << c.fileName;
        } else {
            EXPECT_EQ(localRestart.rebootRequests, 0) << c.fileName;
            EXPECT_FALSE(local.openedFiles().empty()) << c.fileName;
        }
    }
}

TEST_F(StartUpTest, OperatingSystemKindAndTransport)
{
    // A system without ASPI (Linux) takes pass-through whatever the package asks.
    struct System : ScriptedSystem {
        bool only = false;
        bool passThroughOnly() override { return only; }
    };
    struct Case {
        OsVersionInfo version;
        const char* option;
        bool passThroughOnly;
        uint8_t osKind;
        uint8_t passThrough;
    };
    const char* const noPassThrough = "USE SCSIPASSTHROUGHINTERFACE ON WINNT=NO\r\n";
    const Case cases[] = {
        {{true, 1, 4, 10}, "", false, 0, 0},
        {{true, 2, 4, 0}, "", false, 1, 1},
        {{true, 2, 5, 0}, "", false, 2, 1},
        {{true, 2, 10, 0}, "", false, 2, 1},
        {{true, 2, 6, 1}, noPassThrough, false, 2, 0},
        {{true, 2, 5, 1}, noPassThrough, true, 2, 1},
        {{true, 2, 5, 1}, "", true, 2, 1},
    };
    for (const Case& c : cases) {
        System local;
        local.only = c.passThroughOnly;
        local.install();
        local.version = c.version;
        addPackage(local, c.option);
        aspi.loadResult = AspiLoadResult::Failed;
        EXPECT_FALSE(app.startUp());
        EXPECT_EQ(package.options.osKind, c.osKind);
        EXPECT_EQ(usePassThrough, c.passThrough);
        const auto boxes = local.messageBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, c.passThrough ? "No drive found." : "WNASPI32.DLL load failed.");
    }
}

TEST_F(StartUpTest, AspiFailuresAndNoDriveInEitherLanguage)
{
    const OsVersionInfo nineX{true, 1, 4, 10}; // ASPI
    const OsVersionInfo nt{true, 2, 5, 1};     // pass-through
    struct Case {
        uint32_t lcid;
        OsVersionInfo version;
        AspiLoadResult load;
        uint32_t support;
        const char* expected; // as the user reads it (Japanese decoded)
    };
    const Case cases[] = {
        {1033, nineX, AspiLoadResult::Failed, 0x0100, "WNASPI32.DLL load failed."},
        {1033, nineX, AspiLoadResult::MissingEntry, 0x0100, "WNASPI32.DLL load failed."},
        {1033, nineX, AspiLoadResult::Loaded, 0xE802, "ASPI32 not found."},
        {1041, nineX, AspiLoadResult::Failed, 0x0100, "WNASPI32.DLLのロードに失敗しました。"},
        {1041, nineX, AspiLoadResult::Loaded, 0xE800, "ASPI32が見つかりません。"},
        {1041, nt, AspiLoadResult::Loaded, 0x0100, "ドライブが見つかりません。"},
    };
    for (const Case& c : cases) {
        ScriptedSystem local;
        local.install();
        local.lcid = c.lcid;
        local.version = c.version;
        addPackage(local);
        aspi.loadResult = c.load;
        aspi.supportInfo = c.support;
        EXPECT_FALSE(app.startUp());
        const auto boxes = local.messageBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(c.lcid == 1041 ? fromShiftJis(boxes[0].text) : boxes[0].text, c.expected);
        EXPECT_EQ(boxes[0].title, "Error - Upgrade Program");
    }
}

TEST_F(StartUpTest, NoticeRunsOnlyWithACautionKindAndCancelEndsSilently)
{
    addPackage("USE CDR CAUTION=YES\r\n");
    driver.noticeAnswer = IDCANCEL_;
    EXPECT_FALSE(app.startUp());
    EXPECT_EQ(driver.shown, std::vector<unsigned>{129});
    EXPECT_TRUE(system.messageBoxes().empty());

    ScriptedSystem local;
    local.install();
    addPackage(local);
    driver.shown.clear();
    EXPECT_FALSE(app.startUp());
    EXPECT_TRUE(driver.shown.empty());
    ASSERT_EQ(local.messageBoxes().size(), 1u);
    EXPECT_EQ(local.messageBoxes()[0].text, "No drive found.");
}

TEST_F(StartUpTest, JapanesePackageMessagesReadAsWritten)
{
    userLcid = 1041;
    struct Case {
        unsigned code;
        const char* text;
    };
    const Case cases[] = {
        {1, "INIファイルが見つかりません。(Code 1)"},
        {10, "ファームウェアファイルが見つかりません。(Code 10)"},
        {11, "ファームウェアの読み込みに失敗しました。(Code 11)"},
        {12, "ファームウェアの読み込みに失敗しました。(Code 12)"},
        {3, "INIファイルの値が異常です。(Code 3)"},
        {20, "INIファイルの値が異常です。(Code 20)"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(fromShiftJis(packageResultMessage(c.code)), c.text);
    userLcid = 1033;
}

TEST_F(StartUpTest, JapaneseStartUpTexts)
{
    system.lcid = 1041;
    system.version = {true, 1, 4, 10};
    addPackage();
    EXPECT_FALSE(app.startUp());
    ASSERT_EQ(boxTexts().size(), 1u);
    EXPECT_EQ(boxTexts()[0], "WNASPI32.DLL\x82\xCC\x83\x8D\x81[\x83h\x82\xC9\x8E\xB8\x94s\x82\xB5"
                             "\x82\xDC\x82\xB5\x82\xBD\x81"
                             "B");
}

} // namespace
