// Restart operations for tests: a small in-memory file system and a record
// of what was asked, with every step able to fail.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/RestartServices.h"

class ScriptedRestart : public RestartServices {
public:
    ScriptedRestart();
    ~ScriptedRestart() override;

    // --- what the test sets ---
    std::string temp = "C:\\TEMP\\"; // fails as GetTempPathA does from 256 characters on
    bool tempPathFails = false;
    std::string windowsDir = "C:\\WINDOWS";
    bool windowsDirFails = false;
    std::map<std::string, std::string> shortNames; // long path -> 8.3 path
    std::map<std::string, std::string> files;      // path -> content
    std::set<std::string> sourcesThatFail;         // copy sources that cannot be read
    bool tokenFails = false;
    bool lookupFails = false;
    bool enableFails = false;
    bool disableFails = false;
    bool exitFails = false;
    bool replaceFails = false;

    // --- what the test reads ---
    std::vector<std::string> copies; // targets copied to
    int copyAttempts = 0;
    std::vector<std::string> started; // application|directory
    std::vector<std::string> delayedDeletions;
    std::vector<std::string> adjustments; // "enable" / "disable"
    int rebootRequests = 0;
    int openTokens = 0;

    // --- RestartServices ---
    bool tempPath(std::string& path) override;
    CopyResult copyFile(const std::string& source, const std::string& target) override;
    bool createProcess(const std::string& application, const std::string& directory) override;
    bool moveFileDelayUntilReboot(const std::string& path) override;
    bool windowsDirectory(std::string& directory) override;
    bool searchPath(const std::string& file, std::string& found) override;
    bool shortPathName(const std::string& path, std::string& shortPath) override;
    bool readTextFile(const std::string& path, std::string& content) override;
    bool replaceTextFile(const std::string& path, const std::string& content) override;
    Handle openProcessToken() override;
    bool lookupShutdownPrivilege(uint64_t& luid) override;
    bool adjustPrivilege(Handle token, uint64_t luid, bool enable) override;
    bool exitWindowsReboot() override;
    void closeHandle(Handle handle) override;
};
