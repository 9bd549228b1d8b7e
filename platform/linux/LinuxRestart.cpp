// Restart operations on Linux. The restart copy lives in the temporary
// directory and removes itself when it starts, so nothing has to be scheduled
// for the next system start; the restart itself is asked of the system the way
// a desktop session asks it (systemctl, through the login manager).
#include "platform/linux/LinuxRestart.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/RestartServices.h"

extern char** environ;

namespace {

int tokenObject;

// The temporary directory, ending with '/'.
void tempDirectory(std::string& path)
{
    const char* dir = std::getenv("TMPDIR");
    path = dir != nullptr && *dir != '\0' ? dir : "/tmp";
    if (path.back() != '/') path += '/';
}

class LinuxRestart : public RestartServices {
public:
    explicit LinuxRestart(bool demo) : demo_(demo) {}

    bool tempPath(std::string& path) override
    {
        tempDirectory(path);
        return true;
    }

    CopyResult copyFile(const std::string& source, const std::string& target) override
    {
        const int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
        if (in < 0) return CopyResult::Failed;
        const int out = open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0700);
        if (out < 0) {
            const int error = errno;
            close(in);
            return error == EEXIST ? CopyResult::TargetExists : CopyResult::Failed;
        }
        char buffer[65536];
        bool ok = true;
        for (;;) {
            const ssize_t n = read(in, buffer, sizeof buffer);
            if (n == 0) break;
            if (n < 0 || write(out, buffer, static_cast<size_t>(n)) != n) {
                ok = false;
                break;
            }
        }
        close(in);
        if (close(out) != 0) ok = false;
        if (!ok) {
            unlink(target.c_str());
            return CopyResult::Failed;
        }
        return CopyResult::Copied;
    }

    bool createProcess(const std::string& application, const std::string& directory) override
    {
        const pid_t child = fork();
        if (child < 0) return false;
        if (child == 0) {
            setsid();
            if (chdir(directory.c_str()) != 0) _exit(127);
            execl(application.c_str(), application.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        return true;
    }

    // The copy removes itself when it runs (removeOwnRestartCopy).
    bool moveFileDelayUntilReboot(const std::string&) override { return true; }

    // The system has no Windows directory; nothing is scheduled there.
    bool windowsDirectory(std::string&) override { return false; }
    bool searchPath(const std::string&, std::string&) override { return false; }

    bool shortPathName(const std::string& path, std::string& shortPath) override
    {
        shortPath = path;
        return true;
    }

    bool readTextFile(const std::string& path, std::string& content) override
    {
        std::ifstream in(path, std::ios::binary);
        if (!in) return false;
        content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        return !in.bad();
    }

    bool replaceTextFile(const std::string& path, const std::string& content) override
    {
        const std::string fresh = path + ".new";
        {
            std::ofstream out(fresh, std::ios::binary | std::ios::trunc);
            out.write(content.data(), static_cast<std::streamsize>(content.size()));
            out.flush();
            if (!out) {
                unlink(fresh.c_str());
                return false;
            }
        }
        if (rename(fresh.c_str(), path.c_str()) != 0) {
            unlink(fresh.c_str());
            return false;
        }
        return true;
    }

    // Privileges are the system's business on Linux: the request is refused
    // there when the user may not restart the machine.
    Handle openProcessToken() override { return &tokenObject; }
    bool lookupShutdownPrivilege(uint64_t& luid) override
    {
        luid = 0;
        return true;
    }
    bool adjustPrivilege(Handle, uint64_t, bool) override { return true; }

    bool exitWindowsReboot() override
    {
        if (demo_) {
            std::fputs("\n[demo] The computer would restart now; the demo restarts nothing.\n",
                       stderr);
            return true;
        }
        pid_t child = 0;
        char program[] = "systemctl";
        char verb[] = "reboot";
        char* argv[] = {program, verb, nullptr};
        if (posix_spawnp(&child, program, nullptr, nullptr, argv, environ) != 0) return false;
        int status = 0;
        if (waitpid(child, &status, 0) < 0) return false;
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    void closeHandle(Handle) override {}

private:
    bool demo_;
};

} // namespace

void installLinuxRestart(bool demo)
{
    static LinuxRestart services(demo);
    installRestartServices(&services);
}

bool removeRestartCopy(const std::string& path, const std::string& tempDir)
{
    const size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.compare(0, 4, "REB_") != 0) return false;
    // Only a copy directly in the temporary directory is the restart copy; a
    // program of that name in a folder below it is somebody else's.
    if (slash != std::string::npos && path.compare(0, slash + 1, tempDir) == 0 &&
        tempDir.size() == slash + 1)
        unlink(path.c_str());
    return true;
}

bool removeOwnRestartCopy()
{
    char path[PATH_MAX] = {};
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return false;
    std::string temp;
    tempDirectory(temp);
    return removeRestartCopy(path, temp);
}
