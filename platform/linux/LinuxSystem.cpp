#include "platform/linux/LinuxSystem.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include "platform/linux/MessagePresenter.h"

namespace {

constexpr uint32_t kJapanese = 1041;
constexpr uint32_t kEnglish = 1033;

const std::chrono::steady_clock::time_point programStart = std::chrono::steady_clock::now();

struct LinuxEvent {
    std::mutex mutex;
    std::condition_variable signalled;
    bool set = false;
};

struct LinuxFile {
    int fd;
};

std::string ownPath()
{
    char buffer[4096];
    const ssize_t got = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (got <= 0) return std::string();
    return std::string(buffer, static_cast<size_t>(got));
}

class LinuxSystem : public SystemServices {
public:
    OsVersionInfo versionInfo() override { return {true, VER_PLATFORM_WIN32_NT_, 5, 1}; }

    uint32_t userDefaultLcid() override
    {
        return lcidFromLocaleVariables(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"),
                                       std::getenv("LANG"));
    }

    std::string moduleFileName() override { return fileNameOfPath(ownPath()); }
    std::string modulePath() override { return ownPath(); }

    int messageBox(CWnd* owner, const std::string& text, const std::string& title,
                   uint32_t flags) override
    {
        if (MessagePresenter& presenter = installedMessagePresenter()) {
            return presenter(owner, text, title, flags);
        }
        // Nobody can answer: keep the message and take the choice that
        // changes nothing.
        std::fprintf(stderr, "%s\n%s\n", title.c_str(), text.c_str());
        return unattendedMessageBoxAnswer(flags);
    }

    void waitMilliseconds(uint32_t milliseconds) override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }

    uint32_t clockMilliseconds() override
    {
        const auto elapsed = std::chrono::steady_clock::now() - programStart;
        return static_cast<uint32_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
    }

    Handle createEvent() override { return new (std::nothrow) LinuxEvent; }

    void setEvent(Handle event) override
    {
        auto* e = static_cast<LinuxEvent*>(event);
        if (e == nullptr) return;
        {
            std::lock_guard lock(e->mutex);
            e->set = true;
        }
        e->signalled.notify_one();
    }

    void resetEvent(Handle event) override
    {
        auto* e = static_cast<LinuxEvent*>(event);
        if (e == nullptr) return;
        std::lock_guard lock(e->mutex);
        e->set = false;
    }

    void waitEvent(Handle event) override
    {
        auto* e = static_cast<LinuxEvent*>(event);
        if (e == nullptr) return;
        std::unique_lock lock(e->mutex);
        e->signalled.wait(lock, [e] { return e->set; });
        e->set = false; // automatic reset: one wait consumes the signal
    }

    void closeEvent(Handle event) override { delete static_cast<LinuxEvent*>(event); }

    Handle openFileForReading(const std::string& name) override
    {
        const bool description = !descriptionFile.empty() && name == ownTitle() + ".INI";
        const std::string& path = description ? descriptionFile : name;
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return nullptr;
        auto* file = new (std::nothrow) LinuxFile{fd};
        if (file == nullptr) ::close(fd);
        return file;
    }

    bool readFile(Handle file, void* buffer, uint32_t size, uint32_t& got) override
    {
        got = 0;
        auto* f = static_cast<LinuxFile*>(file);
        if (f == nullptr) return false;
        auto* out = static_cast<char*>(buffer);
        // Like ReadFile on a disk file: fill the buffer unless the end comes first.
        while (got < size) {
            const ssize_t n = ::read(f->fd, out + got, size - got);
            if (n < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            if (n == 0) break;
            got += static_cast<uint32_t>(n);
        }
        return true;
    }

    void closeFile(Handle file) override
    {
        auto* f = static_cast<LinuxFile*>(file);
        if (f == nullptr) return;
        ::close(f->fd);
        delete f;
    }

    // Linux has SG_IO and no ASPI library: a package asking for ASPI on the
    // NT family gets pass-through all the same.
    bool passThroughOnly() override { return true; }

    std::string descriptionFile;

private:
    // The file title as the package reader forms it: the name up to its last '.'.
    std::string ownTitle()
    {
        std::string title = moduleFileName();
        const auto dot = title.rfind('.');
        if (dot != std::string::npos) title.erase(dot);
        return title;
    }
};

LinuxSystem& theLinuxSystem()
{
    static LinuxSystem services;
    return services;
}

} // namespace

uint32_t lcidFromLocaleVariables(const char* lcAll, const char* lcMessages, const char* lang)
{
    for (const char* value : {lcAll, lcMessages, lang}) {
        if (value == nullptr || *value == '\0') continue;
        return std::strncmp(value, "ja_JP", 5) == 0 ? kJapanese : kEnglish;
    }
    return kEnglish;
}

std::string fileNameOfPath(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

SystemServices& linuxSystem()
{
    return theLinuxSystem();
}

void setDescriptionFile(const std::string& path)
{
    theLinuxSystem().descriptionFile = path;
}

void installLinuxSystem()
{
    installSystemServices(&linuxSystem());
}
