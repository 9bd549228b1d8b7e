// Restart operations over the Windows API.
#include "platform/win32/Win32Restart.h"

#include <windows.h>

#include <cstring>

#include "platform/FileReplacement.h"
#include "platform/RestartServices.h"

namespace {

// The file operations of the WININIT.INI replacement, over the Windows API.
class Win32ReplacementFiles : public ReplacementFileApi {
public:
    bool writeFile(const std::string& path, const std::string& content) override
    {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        DWORD written = 0;
        const BOOL ok =
            WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
        const BOOL flushed = FlushFileBuffers(file);
        CloseHandle(file);
        return ok && flushed && written == content.size();
    }

    bool fileExists(const std::string& path) override
    {
        return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    bool moveFileExReplacing(const std::string& from, const std::string& to) override
    {
        return MoveFileExA(from.c_str(), to.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    }

    bool moveFile(const std::string& from, const std::string& to) override
    {
        return MoveFileA(from.c_str(), to.c_str()) != 0;
    }

    bool deleteFile(const std::string& path) override { return DeleteFileA(path.c_str()) != 0; }
};

class Win32Restart : public RestartServices {
public:
    bool tempPath(std::string& path) override
    {
        char buffer[256] = {};
        const DWORD n = GetTempPathA(sizeof buffer, buffer);
        if (n == 0 || n >= sizeof buffer) return false;
        path = buffer;
        return true;
    }

    CopyResult copyFile(const std::string& source, const std::string& target) override
    {
        if (CopyFileA(source.c_str(), target.c_str(), TRUE)) return CopyResult::Copied;
        const DWORD error = GetLastError();
        return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS
                   ? CopyResult::TargetExists
                   : CopyResult::Failed;
    }

    bool createProcess(const std::string& application, const std::string& directory) override
    {
        STARTUPINFOA startup;
        std::memset(&startup, 0, sizeof startup);
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process;
        std::memset(&process, 0, sizeof process);
        const BOOL ok = CreateProcessA(application.c_str(), nullptr, nullptr, nullptr, FALSE,
                                       CREATE_NEW_PROCESS_GROUP, nullptr, directory.c_str(),
                                       &startup, &process);
        if (ok) {
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
        return ok != 0;
    }

    bool moveFileDelayUntilReboot(const std::string& path) override
    {
        return MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
    }

    bool windowsDirectory(std::string& directory) override
    {
        char buffer[128] = {};
        const UINT n = GetWindowsDirectoryA(buffer, sizeof buffer);
        if (n == 0 || n >= sizeof buffer) return false;
        directory = buffer;
        return true;
    }

    bool searchPath(const std::string& file, std::string& found) override
    {
        char buffer[128] = {};
        char* filePart = nullptr;
        const DWORD n =
            SearchPathA(nullptr, file.c_str(), nullptr, sizeof buffer, buffer, &filePart);
        if (n == 0 || n >= sizeof buffer) return false;
        found = buffer;
        return true;
    }

    bool shortPathName(const std::string& path, std::string& shortPath) override
    {
        char buffer[256] = {};
        const DWORD n = GetShortPathNameA(path.c_str(), buffer, sizeof buffer);
        if (n == 0 || n >= sizeof buffer) return false;
        shortPath = buffer;
        return true;
    }

    bool readTextFile(const std::string& path, std::string& content) override
    {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        content.clear();
        char buffer[4096];
        DWORD got = 0;
        bool ok = true;
        while ((ok = ReadFile(file, buffer, sizeof buffer, &got, nullptr) != 0) && got > 0)
            content.append(buffer, got);
        CloseHandle(file);
        return ok;
    }

    bool replaceTextFile(const std::string& path, const std::string& content) override
    {
        Win32ReplacementFiles files;
        return replaceFileContent(files, path, content);
    }

    Handle openProcessToken() override
    {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
            return nullptr;
        return token;
    }

    bool lookupShutdownPrivilege(uint64_t& luid) override
    {
        LUID value;
        if (!LookupPrivilegeValueA("", SE_SHUTDOWN_NAME, &value)) return false;
        luid = (static_cast<uint64_t>(static_cast<uint32_t>(value.HighPart)) << 32) | value.LowPart;
        return true;
    }

    bool adjustPrivilege(Handle token, uint64_t luid, bool enable) override
    {
        TOKEN_PRIVILEGES privileges;
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Luid.LowPart = static_cast<DWORD>(luid & 0xFFFFFFFFu);
        privileges.Privileges[0].Luid.HighPart = static_cast<LONG>(luid >> 32);
        privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
        return AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) != 0;
    }

    bool exitWindowsReboot() override { return ExitWindowsEx(EWX_REBOOT, 0) != 0; }

    void closeHandle(Handle handle) override { CloseHandle(handle); }
};

} // namespace

void installWin32Restart()
{
    static Win32Restart services;
    installRestartServices(&services);
}
