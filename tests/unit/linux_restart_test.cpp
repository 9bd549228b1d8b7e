// The Linux restart copy: its name taken with an exclusive create, its start
// in the temporary directory, and its removal of itself.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "app/Restart.h"
#include "package/UpdatePackage.h"
#include "platform/linux/LinuxRestart.h"
#include "platform/scripted/ScriptedSystem.h"

namespace fs = std::filesystem;

namespace {

std::string readAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool waitFor(const fs::path& path)
{
    for (int i = 0; i < 500 && !fs::exists(path); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return fs::exists(path);
}

class LinuxRestartTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = fs::path(::testing::TempDir()) / ("orv-restart-" + std::to_string(getpid()));
        fs::remove_all(root);
        temp = root / "tmp";
        fs::create_directories(temp);
        const char* old = std::getenv("TMPDIR");
        savedTmpdir = old != nullptr ? old : "";
        hadTmpdir = old != nullptr;
        setenv("TMPDIR", temp.c_str(), 1);
        system.install();
        installLinuxRestart(true);
        resetPackage();
        package.options.osKind = 2;
    }
    void TearDown() override
    {
        if (hadTmpdir)
            setenv("TMPDIR", savedTmpdir.c_str(), 1);
        else
            unsetenv("TMPDIR");
        fs::remove_all(root);
    }

    fs::path root, temp;
    std::string savedTmpdir;
    bool hadTmpdir = false;
    ScriptedSystem system;
};

} // namespace

// The copy takes the first free name (an existing one is never overwritten),
// is executable, holds the program byte for byte, and is started in the
// temporary directory, where it runs.
TEST_F(LinuxRestartTest, CopyTakesTheFirstFreeNameAndIsStartedInTheTemporaryDirectory)
{
    const fs::path program = root / "orvupdate";
    {
        std::ofstream out(program);
        out << "#!/bin/sh\npwd > started.txt\n";
    }
    fs::permissions(program, fs::perms::owner_all);
    system.path = program.string();
    {
        std::ofstream taken(temp / "REB_0000.EXE");
        taken << "somebody else's";
    }

    launchRestartCopy(nullptr);

    EXPECT_TRUE(system.messageBoxes().empty());
    EXPECT_EQ(readAll(temp / "REB_0000.EXE"), "somebody else's");
    const fs::path copy = temp / "REB_0001.EXE";
    ASSERT_TRUE(fs::exists(copy));
    EXPECT_EQ(readAll(copy), readAll(program));
    EXPECT_NE(fs::status(copy).permissions() & fs::perms::owner_exec, fs::perms::none);
    ASSERT_TRUE(waitFor(temp / "started.txt"));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::string where = readAll(temp / "started.txt");
    if (!where.empty() && where.back() == '\n') where.pop_back();
    EXPECT_EQ(fs::canonical(where), fs::canonical(temp));
}

TEST_F(LinuxRestartTest, NoCopyWithoutTheProgramAndNothingLeftBehind)
{
    system.path = (root / "missing").string();
    launchRestartCopy(nullptr);
    ASSERT_EQ(system.messageBoxes().size(), 1u);
    EXPECT_EQ(system.messageBoxes()[0].text, "Can't reboot.");
    EXPECT_TRUE(fs::is_empty(temp));
}

// Only a copy directly in the temporary directory removes itself; every
// program named REB_ answers that it is a restart copy.
TEST_F(LinuxRestartTest, OnlyACopyDirectlyInTheTemporaryDirectoryRemovesItself)
{
    struct Case {
        const char* relative;
        bool isCopy;
        bool removed;
    };
    const Case cases[] = {
        {"tmp/REB_0000.EXE", true, true},
        {"tmp/sub/REB_0001.EXE", true, false},
        {"tmp/sub/deeper/REB_ffff.EXE", true, false},
        {"elsewhere/REB_0002.EXE", true, false},
        {"tmp/orvupdate", false, false},
        {"tmp/reb_0003.EXE", false, false},
    };
    const std::string tempDir = temp.string() + "/";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.relative);
        const fs::path file = root / c.relative;
        fs::create_directories(file.parent_path());
        std::ofstream(file) << "x";
        EXPECT_EQ(removeRestartCopy(file.string(), tempDir), c.isCopy);
        EXPECT_EQ(!fs::exists(file), c.removed);
    }
}
