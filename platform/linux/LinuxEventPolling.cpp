#include "platform/linux/LinuxEventPolling.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>

namespace linuxdrive {

namespace {

// Fixed storage, so a signal handler can restore the settings with nothing
// but open, write and close.
constexpr int kMaxHeld = 8;
constexpr size_t kPathSize = 256;
constexpr size_t kValueSize = 24;

struct HeldSetting {
    char path[kPathSize];
    char value[kValueSize];
    volatile sig_atomic_t active;
};

HeldSetting held[kMaxHeld];
volatile sig_atomic_t heldCount = 0;
std::mutex holdMutex;

void writeBack()
{
    for (int i = 0; i < heldCount; ++i) {
        if (!held[i].active) continue;
        const int fd = open(held[i].path, O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (fd >= 0) {
            const ssize_t written = write(fd, held[i].value, strlen(held[i].value));
            (void)written;
            close(fd);
        }
        held[i].active = 0;
    }
}

void onSignal(int number)
{
    writeBack();
    signal(number, SIG_DFL);
    raise(number);
}

void installRestorers()
{
    static bool installed = false;
    if (installed) return;
    installed = true;
    std::atexit(writeBack);
    for (const int number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        struct sigaction current {};
        // A signal the program was told to ignore stays ignored.
        if (sigaction(number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        sigaction(number, &action, nullptr);
    }
}

} // namespace

int holdEventPolling(const std::string& name, const std::string& sysBlock)
{
    std::lock_guard lock(holdMutex);
    const std::string path = sysBlock + "/" + name + "/events_poll_msecs";
    for (int i = 0; i < heldCount; ++i)
        if (held[i].active && path == held[i].path) return 0;
    if (heldCount >= kMaxHeld || path.size() >= kPathSize) return ENOMEM;

    // A drive without media events has no polling to hold.
    if (access(path.c_str(), F_OK) != 0) return errno == ENOENT ? 0 : errno;
    std::string old;
    {
        std::ifstream in(path);
        if (!(in >> old) || old.size() >= kValueSize) return EIO;
    }
    // "0" already means no polling.
    if (old == "0") return 0;

    HeldSetting& slot = held[heldCount];
    std::memcpy(slot.path, path.c_str(), path.size() + 1);
    std::memcpy(slot.value, old.c_str(), old.size() + 1);
    installRestorers();
    const int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) return errno;
    const bool written = write(fd, "0", 1) == 1;
    const int error = errno;
    close(fd);
    if (!written) return error != 0 ? error : EIO;
    slot.active = 1;
    heldCount = heldCount + 1;
    return 0;
}

void restoreEventPolling()
{
    std::lock_guard lock(holdMutex);
    writeBack();
    heldCount = 0;
}

} // namespace linuxdrive
