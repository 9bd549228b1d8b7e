#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/linux/LinuxEventPolling.h"

namespace {

namespace fs = std::filesystem;

std::string readSetting(const fs::path& file)
{
    std::ifstream in(file);
    std::string value;
    in >> value;
    return value;
}

struct SysBlock {
    fs::path root = fs::temp_directory_path() / ("orv-sysblock-" + std::to_string(getpid()));
    SysBlock() { fs::remove_all(root); }
    ~SysBlock() { fs::remove_all(root); }
    fs::path drive(const std::string& name, const std::string& setting)
    {
        fs::create_directories(root / name);
        std::ofstream(root / name / "events_poll_msecs") << setting << "\n";
        return root / name / "events_poll_msecs";
    }
};

TEST(LinuxEventPolling, HeldOffUntilRestoredAndOnlyOnce)
{
    SysBlock sys;
    const fs::path polled = sys.drive("sr0", "2000");
    const fs::path quiet = sys.drive("sr1", "0");
    const fs::path byDefault = sys.drive("sr2", "-1");

    EXPECT_EQ(linuxdrive::holdEventPolling("sr0", sys.root), 0);
    EXPECT_EQ(readSetting(polled), "0");
    // A second hold of the same drive must not take "0" for the old setting.
    EXPECT_EQ(linuxdrive::holdEventPolling("sr0", sys.root), 0);
    EXPECT_EQ(linuxdrive::holdEventPolling("sr1", sys.root), 0);
    EXPECT_EQ(linuxdrive::holdEventPolling("sr2", sys.root), 0);
    EXPECT_EQ(readSetting(byDefault), "0");
    // A drive without media events has nothing to hold.
    EXPECT_EQ(linuxdrive::holdEventPolling("sr9", sys.root), 0);

    linuxdrive::restoreEventPolling();
    EXPECT_EQ(readSetting(polled), "2000");
    EXPECT_EQ(readSetting(quiet), "0");
    EXPECT_EQ(readSetting(byDefault), "-1");
}

TEST(LinuxEventPolling, ComesBackWhenTheProcessEnds)
{
    SysBlock sys;
    for (const int how : {0, SIGTERM, SIGINT}) {
        const fs::path polled = sys.drive("sr0", "2000");
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (linuxdrive::holdEventPolling("sr0", sys.root) != 0 || readSetting(polled) != "0")
                _exit(3);
            if (how != 0) raise(how);
            exit(0);
        }
        int status = 0;
        waitpid(child, &status, 0);
        if (how == 0)
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        else
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == how) << status;
        EXPECT_EQ(readSetting(polled), "2000") << "after signal " << how;
    }
}

} // namespace
