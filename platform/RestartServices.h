// The system operations behind the restart of the computer and the
// self-removing restart copy, named by their Windows API.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Platform.h"

enum class CopyResult { Copied, TargetExists, Failed };

class RestartServices {
public:
    virtual ~RestartServices() = default;

    // GetTempPathA into 256 characters; the path ends with a separator. Fails
    // when the query fails or the path does not fit.
    virtual bool tempPath(std::string& path) = 0;
    // CopyFileA, failing when the target exists.
    virtual CopyResult copyFile(const std::string& source, const std::string& target) = 0;
    // CreateProcessA of `application` without command line, in a new process
    // group, with `directory` as its current directory.
    virtual bool createProcess(const std::string& application, const std::string& directory) = 0;
    // MoveFileExA(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT).
    virtual bool moveFileDelayUntilReboot(const std::string& path) = 0;
    // GetWindowsDirectoryA into 128 characters.
    virtual bool windowsDirectory(std::string& directory) = 0;
    // SearchPathA(NULL, file, NULL, 128, ...).
    virtual bool searchPath(const std::string& file, std::string& found) = 0;
    // GetShortPathNameA into 256 characters.
    virtual bool shortPathName(const std::string& path, std::string& shortPath) = 0;
    // The whole content of a text file, bytes unchanged.
    virtual bool readTextFile(const std::string& path, std::string& content) = 0;
    // Writes `content` beside `path` and then puts it in place of `path`, so a
    // failure half-way leaves the old file whole (the Win32 sequence, also on
    // the 9x family without MoveFileExA, is replaceFileContent in
    // platform/FileReplacement.h).
    virtual bool replaceTextFile(const std::string& path, const std::string& content) = 0;

    // OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY).
    virtual Handle openProcessToken() = 0;
    // LookupPrivilegeValueA("", "SeShutdownPrivilege").
    virtual bool lookupShutdownPrivilege(uint64_t& luid) = 0;
    // AdjustTokenPrivileges with that one privilege, enabled (2) or not (0).
    virtual bool adjustPrivilege(Handle token, uint64_t luid, bool enable) = 0;
    // ExitWindowsEx(EWX_REBOOT, 0).
    virtual bool exitWindowsReboot() = 0;
    // CloseHandle.
    virtual void closeHandle(Handle handle) = 0;
};

RestartServices& restartServices();
void installRestartServices(RestartServices* services);
