#include <gtest/gtest.h>

#include <cstdio>

#include "app/Language.h"
#include "app/Restart.h"
#include "app/WininitEntry.h"
#include "package/UpdatePackage.h"
#include "platform/scripted/ScriptedRestart.h"
#include "platform/scripted/ScriptedSystem.h"
#include "tests/unit/shift_jis.h"

namespace {

class RestartTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        system.install();
        resetPackage();
        package.options.osKind = 2;
        userLcid = 1033;
    }

    std::string tempName(unsigned n)
    {
        char name[32];
        std::snprintf(name, sizeof name, "REB_%04x.EXE", n);
        return restart.temp + name;
    }

    void expectOneCannotRebootBox(CWnd* owner)
    {
        const auto boxes = system.messageBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].owner, owner);
        EXPECT_EQ(boxes[0].text, "Can't reboot.");
        EXPECT_EQ(boxes[0].title, "Error - Upgrade Program");
        EXPECT_EQ(boxes[0].flags, 0x10u);
    }

    ScriptedSystem system;
    ScriptedRestart restart;
};

TEST_F(RestartTest, CopyTakesTheFirstFreeLowerCaseHexName)
{
    struct Case {
        unsigned taken;
        const char* expected;
    };
    for (const Case c : {Case{0, "REB_0000.EXE"}, Case{1, "REB_0001.EXE"}, Case{10, "REB_000a.EXE"},
                         Case{0x10, "REB_0010.EXE"}}) {
        restart.files.clear();
        restart.copies.clear();
        restart.started.clear();
        for (unsigned n = 0; n < c.taken; ++n)
            restart.files[tempName(n)] = "old";

        launchRestartCopy(nullptr);

        ASSERT_EQ(restart.copies.size(), 1u) << c.taken;
        EXPECT_EQ(restart.copies[0], restart.temp + c.expected);
        ASSERT_EQ(restart.started.size(), 1u);
        EXPECT_EQ(restart.started[0], restart.temp + c.expected + "|" + restart.temp);
    }
}

TEST_F(RestartTest, CopyComesFromTheProgramsFullPathNotTheCurrentDirectory)
{
    system.path = "D:\\TOOLS\\UPDATE.EXE";
    restart.sourcesThatFail.insert("UPDATE.exe");
    launchRestartCopy(nullptr);
    EXPECT_EQ(restart.copies.size(), 1u);
    EXPECT_TRUE(system.messageBoxes().empty());
}

TEST_F(RestartTest, UnreadableSourceStopsAtOnceWithCannotReboot)
{
    restart.sourcesThatFail.insert(system.path);
    int owner = 0;
    launchRestartCopy(reinterpret_cast<CWnd*>(&owner));
    EXPECT_EQ(restart.copyAttempts, 1);
    EXPECT_TRUE(restart.started.empty());
    EXPECT_TRUE(restart.delayedDeletions.empty());
    expectOneCannotRebootBox(reinterpret_cast<CWnd*>(&owner));
}

TEST_F(RestartTest, AllNamesTakenGivesCannotRebootAfter65536Tries)
{
    for (unsigned n = 0; n <= 0xFFFF; ++n)
        restart.files[tempName(n)] = "old";
    launchRestartCopy(nullptr);
    EXPECT_EQ(restart.copyAttempts, 65536);
    EXPECT_TRUE(restart.started.empty());
    expectOneCannotRebootBox(nullptr);
}

TEST_F(RestartTest, NoDeleteFileMakesNoCopy)
{
    package.options.noDeleteFile = 1;
    launchRestartCopy(nullptr);
    EXPECT_EQ(restart.copyAttempts, 0);
    EXPECT_TRUE(restart.started.empty());
}

TEST_F(RestartTest, NtFamilyDeletesThroughMoveFileAndNeverTouchesWininit)
{
    restart.files["C:\\WINDOWS\\WININIT.INI"] = "[RENAME]\r\n";
    launchRestartCopy(nullptr);
    ASSERT_EQ(restart.delayedDeletions.size(), 1u);
    EXPECT_EQ(restart.delayedDeletions[0], tempName(0));
    EXPECT_EQ(restart.files["C:\\WINDOWS\\WININIT.INI"], "[RENAME]\r\n");
}

TEST_F(RestartTest, NineXFamilyWritesTheEntryIntoWininit)
{
    package.options.osKind = 0;
    struct Case {
        const char* name;
        bool exists;
        std::string before;
        std::string after;
    };
    const std::string entry = "NUL=C:\\TEMP\\REB_0000.EXE\r\n";
    const std::string longLine(300, 'x');
    const Case cases[] = {
        {"absent", false, "", "[RENAME]\r\n" + entry},
        {"empty", true, "", "[RENAME]\r\n" + entry},
        {"lower-case header is not ours", true, "[rename]\r\nNUL=A\r\n",
         "[rename]\r\nNUL=A\r\n[RENAME]\r\n" + entry},
        {"entry right after the header", true, "[RENAME]\r\nNUL=C:\\OLD.EXE\r\nX=Y\r\n",
         "[RENAME]\r\n" + entry + "NUL=C:\\OLD.EXE\r\nX=Y\r\n"},
        {"header with a remark", true, "[boot]\r\n[RENAME] ; pending\r\nA=B\r\n",
         "[boot]\r\n[RENAME] ; pending\r\n" + entry + "A=B\r\n"},
        {"long lines kept whole", true, longLine + "\r\n[RENAME]\r\n" + longLine + "\r\n",
         longLine + "\r\n[RENAME]\r\n" + entry + longLine + "\r\n"},
        {"unterminated last line", true, "[boot]\r\nshell=x",
         "[boot]\r\nshell=x\r\n[RENAME]\r\n" + entry},
        {"unterminated header", true, "[RENAME]", "[RENAME]\r\n" + entry},
    };
    for (const Case& c : cases) {
        restart.files.clear();
        if (c.exists) restart.files["C:\\WINDOWS\\WININIT.INI"] = c.before;
        launchRestartCopy(nullptr);
        EXPECT_EQ(restart.files["C:\\WINDOWS\\WININIT.INI"], c.after) << c.name;
        EXPECT_TRUE(restart.delayedDeletions.empty()) << c.name;
    }
}

TEST_F(RestartTest, NineXFamilyUsesTheShortPath)
{
    package.options.osKind = 0;
    restart.shortNames["C:\\LONG TEMPORARY FOLDER\\REB_0000.EXE"] = "C:\\LONGTE~1\\REB_0000.EXE";
    scheduleDeletion("C:\\LONG TEMPORARY FOLDER\\REB_0000.EXE");
    EXPECT_EQ(restart.files["C:\\WINDOWS\\WININIT.INI"],
              "[RENAME]\r\nNUL=C:\\LONGTE~1\\REB_0000.EXE\r\n");
}

TEST_F(RestartTest, WininitLeftAloneWhenItCannotBeWrittenOrTheDirectoryIsTooLong)
{
    package.options.osKind = 0;
    restart.files["C:\\WINDOWS\\WININIT.INI"] = "[RENAME]\r\nA=B\r\n";
    restart.replaceFails = true;
    scheduleDeletion("C:\\TEMP\\REB_0000.EXE");
    EXPECT_EQ(restart.files["C:\\WINDOWS\\WININIT.INI"], "[RENAME]\r\nA=B\r\n");

    restart.replaceFails = false;
    restart.windowsDir = "C:\\" + std::string(113, 'W'); // 116 characters
    scheduleDeletion("C:\\TEMP\\REB_0000.EXE");
    EXPECT_EQ(restart.files.size(), 1u);
}

TEST_F(RestartTest, RebootOnNineXFamilyAsksOnce)
{
    package.options.osKind = 0;
    rebootComputer();
    EXPECT_EQ(restart.rebootRequests, 1);
    EXPECT_TRUE(restart.adjustments.empty());
    EXPECT_TRUE(system.messageBoxes().empty());

    restart.exitFails = true;
    rebootComputer();
    expectOneCannotRebootBox(nullptr);
}

TEST_F(RestartTest, RebootOnNtFamilyFollowsThePrivilegeSteps)
{
    struct Case {
        const char* name;
        bool ScriptedRestart::*failure;
        int reboots;
        std::vector<std::string> adjustments;
        bool box;
    };
    const Case cases[] = {
        {"all succeed", nullptr, 1, {"enable", "disable"}, false},
        {"token", &ScriptedRestart::tokenFails, 0, {}, true},
        {"lookup", &ScriptedRestart::lookupFails, 0, {}, true},
        {"enable", &ScriptedRestart::enableFails, 0, {"enable"}, true},
        {"exit", &ScriptedRestart::exitFails, 1, {"enable", "disable"}, true},
        {"disable", &ScriptedRestart::disableFails, 1, {"enable", "disable"}, true},
    };
    for (const Case& c : cases) {
        ScriptedSystem localSystem;
        localSystem.install();
        ScriptedRestart local;
        if (c.failure != nullptr) local.*c.failure = true;
        rebootComputer();
        EXPECT_EQ(local.rebootRequests, c.reboots) << c.name;
        EXPECT_EQ(local.adjustments, c.adjustments) << c.name;
        EXPECT_EQ(local.openTokens, 0) << c.name << ": token left open";
        EXPECT_EQ(localSystem.messageBoxes().size(), c.box ? 1u : 0u) << c.name;
    }
}

TEST_F(RestartTest, CannotRebootIsJapaneseForLcid1041)
{
    userLcid = 1041;
    package.options.osKind = 0;
    restart.exitFails = true;
    rebootComputer();
    const auto boxes = system.messageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "\x8D\xC4\x8BN\x93\xAE\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1\x82\xC5"
                             "\x82\xB5\x82\xBD\x81"
                             "B");
    EXPECT_EQ(boxes[0].title, "Error - Upgrade Program");
}

} // namespace
