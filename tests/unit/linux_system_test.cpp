#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/linux/LinuxSystem.h"
#include "platform/linux/MessagePresenter.h"

namespace {

TEST(LinuxLocale, LocaleVariablesToLcid)
{
    struct Case {
        const char* lcAll;
        const char* lcMessages;
        const char* lang;
        uint32_t lcid;
    };
    const Case cases[] = {
        {nullptr, nullptr, nullptr, 1033},
        {nullptr, nullptr, "ja_JP.UTF-8", 1041},
        {nullptr, nullptr, "ja_JP", 1041},
        {nullptr, nullptr, "ja_JP.SJIS", 1041},
        {nullptr, nullptr, "ja", 1033},
        {nullptr, nullptr, "en_US.UTF-8", 1033},
        {nullptr, nullptr, "C", 1033},
        {nullptr, nullptr, "", 1033},
        {"ja_JP.UTF-8", nullptr, "en_US.UTF-8", 1041}, // LC_ALL wins
        {"en_US.UTF-8", "ja_JP.UTF-8", "ja_JP.UTF-8", 1033},
        {nullptr, "ja_JP.eucJP", "en_US.UTF-8", 1041}, // then LC_MESSAGES
        {"", "ja_JP.UTF-8", nullptr, 1041},            // empty means unset
        {"", "", "ja_JP.UTF-8", 1041},
        {"JA_JP.UTF-8", nullptr, nullptr, 1033},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << (c.lcAll ? c.lcAll : "-") << " " << (c.lcMessages ? c.lcMessages : "-")
                     << " " << (c.lang ? c.lang : "-"));
        EXPECT_EQ(lcidFromLocaleVariables(c.lcAll, c.lcMessages, c.lang), c.lcid);
    }
}

TEST(LinuxSystemServices, VersionAndProgramName)
{
    SystemServices& s = linuxSystem();
    const OsVersionInfo v = s.versionInfo();
    EXPECT_TRUE(v.ok);
    EXPECT_EQ(v.platformId, VER_PLATFORM_WIN32_NT_);
    EXPECT_EQ(v.majorVersion, 5u);
    EXPECT_EQ(v.minorVersion, 1u);
    EXPECT_EQ(s.moduleFileName(), "orv_tests");
    EXPECT_EQ(fileNameOfPath(s.modulePath()), "orv_tests");
    EXPECT_EQ(s.modulePath().front(), '/');
    EXPECT_EQ(fileNameOfPath("plain"), "plain");
    EXPECT_EQ(fileNameOfPath("/a/b/"), "");
}

TEST(LinuxSystemServices, MessageBoxesGoToThePresenter)
{
    SystemServices& s = linuxSystem();
    std::string seen;
    setMessagePresenter(
        [&](CWnd*, const std::string& text, const std::string& title, uint32_t flags) {
            seen = title + "|" + text + "|" + std::to_string(flags);
            return IDYES_;
        });
    EXPECT_EQ(s.messageBox(nullptr, "Restart?", "Information - Upgrade Program", 0x1044), IDYES_);
    EXPECT_EQ(seen, "Information - Upgrade Program|Restart?|4164");
    setMessagePresenter(nullptr);

    // Nobody to ask: the answer that changes nothing.
    struct Case {
        uint32_t flags;
        int answer;
    };
    for (const Case c : {Case{0x10, IDOK_}, Case{0x1044, IDNO_}, Case{0x4, IDNO_},
                         Case{0x1, IDCANCEL_}, Case{0x3, IDNO_}, Case{0x5, IDCANCEL_}}) {
        EXPECT_EQ(s.messageBox(nullptr, "text", "title", c.flags), c.answer) << c.flags;
    }
}

TEST(LinuxSystemServices, EventsResetThemselvesAfterOneWait)
{
    SystemServices& s = linuxSystem();
    Handle event = s.createEvent();
    ASSERT_NE(event, nullptr);
    s.setEvent(event);
    s.waitEvent(event); // signalled: returns at once and consumes the signal

    std::atomic<bool> woke{false};
    std::thread waiter([&] {
        s.waitEvent(event);
        woke = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(woke.load());
    s.setEvent(event);
    waiter.join();
    EXPECT_TRUE(woke.load());

    s.setEvent(event);
    s.resetEvent(event);
    std::atomic<bool> wokeAfterReset{false};
    std::thread second([&] {
        s.waitEvent(event);
        wokeAfterReset = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(wokeAfterReset.load());
    s.setEvent(event);
    second.join();
    s.closeEvent(event);
}

TEST(LinuxSystemServices, WaitsAndClock)
{
    SystemServices& s = linuxSystem();
    const uint32_t before = s.clockMilliseconds();
    s.waitMilliseconds(20);
    const uint32_t after = s.clockMilliseconds();
    EXPECT_GE(after - before, 20u);
    EXPECT_LT(after - before, 2000u);
}

TEST(LinuxSystemServices, ReadsFilesToTheirEnd)
{
    SystemServices& s = linuxSystem();
    EXPECT_EQ(s.openFileForReading("/nonexistent/orv/file.ini"), nullptr);

    char name[] = "/tmp/orv_linux_test_XXXXXX";
    const int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    const std::string content(10000, 'x');
    ASSERT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    close(fd);

    Handle file = s.openFileForReading(name);
    ASSERT_NE(file, nullptr);
    std::string buffer(8192, '\0');
    uint32_t got = 0;
    EXPECT_TRUE(s.readFile(file, buffer.data(), 8192, got));
    EXPECT_EQ(got, 8192u);
    EXPECT_TRUE(s.readFile(file, buffer.data(), 8192, got));
    EXPECT_EQ(got, 10000u - 8192u);
    EXPECT_TRUE(s.readFile(file, buffer.data(), 8192, got));
    EXPECT_EQ(got, 0u);
    s.closeFile(file);
    std::remove(name);
}

} // namespace
