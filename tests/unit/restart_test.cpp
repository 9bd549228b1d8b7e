#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/Language.h"
#include "app/Restart.h"
#include "app/WininitEntry.h"
#include "package/UpdatePackage.h"
#include "platform/FileReplacement.h"
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

TEST_F(RestartTest, TemporaryPathThatFailsOrDoesNotFitGivesCannotReboot)
{
    struct Case {
        const char* name;
        bool fails;
        std::string temp;
        bool copied;
    };
    const Case cases[] = {
        {"query fails", true, "C:\\TEMP\\", false},
        {"256 characters do not fit", false, "C:\\" + std::string(252, 'T') + "\\", false},
        {"255 characters fit", false, "C:\\" + std::string(251, 'T') + "\\", true},
    };
    for (const Case& c : cases) {
        ScriptedSystem localSystem;
        localSystem.install();
        ScriptedRestart local;
        local.tempPathFails = c.fails;
        local.temp = c.temp;
        int owner = 0;
        launchRestartCopy(reinterpret_cast<CWnd*>(&owner));
        if (c.copied) {
            EXPECT_EQ(local.copies, std::vector<std::string>{c.temp + "REB_0000.EXE"}) << c.name;
            EXPECT_EQ(local.started.size(), 1u) << c.name;
            EXPECT_TRUE(localSystem.messageBoxes().empty()) << c.name;
            continue;
        }
        EXPECT_EQ(local.copyAttempts, 0) << c.name << ": no relative copy";
        EXPECT_TRUE(local.started.empty()) << c.name;
        EXPECT_TRUE(local.delayedDeletions.empty()) << c.name;
        EXPECT_TRUE(local.files.empty()) << c.name;
        const auto boxes = localSystem.messageBoxes();
        ASSERT_EQ(boxes.size(), 1u) << c.name;
        EXPECT_EQ(boxes[0].owner, reinterpret_cast<CWnd*>(&owner)) << c.name;
        EXPECT_EQ(boxes[0].text, "Can't reboot.") << c.name;
    }
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

// The Windows file API of the 9x family: MoveFileExA is not implemented
// (ERROR_CALL_NOT_IMPLEMENTED), MoveFileA fails when the target exists, and
// every named call can be made to fail.
class NineXFiles : public ReplacementFileApi {
public:
    std::map<std::string, std::string> files;
    std::set<std::string> failing; // calls as logged
    std::vector<std::string> calls;

    bool writeFile(const std::string& path, const std::string& content) override
    {
        if (!call("write " + path)) return false;
        files[path] = content;
        return true;
    }
    bool fileExists(const std::string& path) override
    {
        return call("exists " + path) && files.count(path) != 0;
    }
    bool moveFileExReplacing(const std::string& from, const std::string& to) override
    {
        call("MoveFileExA " + from + " " + to);
        lastError = 120; // ERROR_CALL_NOT_IMPLEMENTED
        return false;
    }
    bool moveFile(const std::string& from, const std::string& to) override
    {
        if (!call("MoveFileA " + from + " " + to) || files.count(from) == 0 || files.count(to) != 0)
            return false;
        files[to] = files[from];
        files.erase(from);
        return true;
    }
    bool deleteFile(const std::string& path) override
    {
        return call("DeleteFileA " + path) && files.erase(path) != 0;
    }

    unsigned lastError = 0;

private:
    bool call(const std::string& text)
    {
        calls.push_back(text);
        return failing.count(text) == 0;
    }
};

TEST(WininitReplacement, NineXFamilyKeepsOldOrNewContentWholeWhateverStepFails)
{
    const std::string ini = "C:\\WINDOWS\\WININIT.INI";
    const std::string fresh = ini + ".NEW";
    const std::string aside = ini + ".OLD";
    const std::string before = "[RENAME]\r\nNUL=C:\\OTHER\\SETUP.EXE\r\n";
    const std::string after = "[RENAME]\r\nNUL=C:\\TEMP\\REB_0000.EXE\r\n"
                              "NUL=C:\\OTHER\\SETUP.EXE\r\n";
    const std::string none = "<none>";
    struct Case {
        const char* name;
        std::set<std::string> failing;
        bool oldExists;
        bool staleAside;
        bool result;
        std::string expected; // WININIT.INI afterwards
        std::set<std::string> leftOver;
    };
    const std::string write = "write " + fresh;
    const std::string moveAside = "MoveFileA " + ini + " " + aside;
    const std::string moveIn = "MoveFileA " + fresh + " " + ini;
    const std::string moveBack = "MoveFileA " + aside + " " + ini;
    const std::string deleteAside = "DeleteFileA " + aside;
    const Case cases[] = {
        {"nothing fails", {}, true, false, true, after, {}},
        {"writing the new file", {write}, true, false, false, before, {}},
        {"moving the old file aside", {moveAside}, true, false, false, before, {}},
        {"moving the new file in", {moveIn}, true, false, false, before, {}},
        {"deleting the old file once replaced", {deleteAside}, true, false, true, after, {aside}},
        {"a stale copy aside that cannot go", {deleteAside}, true, true, false, before, {aside}},
        {"a stale copy aside", {}, true, true, true, after, {}},
        {"no old file", {}, false, false, true, after, {}},
        {"no old file, moving the new one in", {moveIn}, false, false, false, none, {}},
        // Two failures: with the old file aside for good, the new one is kept.
        {"moving in and moving back", {moveIn, moveBack}, true, false, false, none, {aside, fresh}},
    };
    for (const Case& c : cases) {
        NineXFiles api;
        if (c.oldExists) api.files[ini] = before;
        if (c.staleAside) api.files[aside] = "stale";
        api.failing = c.failing;

        EXPECT_EQ(replaceFileContent(api, ini, after), c.result) << c.name;

        if (c.failing.count(write) == 0) {
            ASSERT_GE(api.calls.size(), 2u) << c.name;
            EXPECT_EQ(api.calls[1], "MoveFileExA " + fresh + " " + ini) << c.name;
            EXPECT_EQ(api.lastError, 120u) << c.name;
        }
        const auto found = api.files.find(ini);
        EXPECT_EQ(found == api.files.end() ? none : found->second, c.expected) << c.name;
        std::set<std::string> leftOver;
        for (const auto& [path, content] : api.files) {
            if (path != ini) leftOver.insert(path);
        }
        EXPECT_EQ(leftOver, c.leftOver) << c.name;
        if (c.leftOver.count(aside) != 0 && !c.staleAside) {
            EXPECT_EQ(api.files[aside], before) << c.name;
        }
        if (c.leftOver.count(fresh) != 0) {
            EXPECT_EQ(api.files[fresh], after) << c.name;
        }
    }
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
