#include "platform/scripted/ScriptedRestart.h"

namespace {
int tokenObject;
}

ScriptedRestart::ScriptedRestart()
{
    installRestartServices(this);
}

ScriptedRestart::~ScriptedRestart()
{
    installRestartServices(nullptr);
}

bool ScriptedRestart::tempPath(std::string& path)
{
    // GetTempPathA into 256 characters: the path and its terminator must fit.
    if (tempPathFails || temp.size() >= 256) return false;
    path = temp;
    return true;
}

CopyResult ScriptedRestart::copyFile(const std::string& source, const std::string& target)
{
    ++copyAttempts;
    if (sourcesThatFail.count(source) != 0) return CopyResult::Failed;
    if (files.count(target) != 0) return CopyResult::TargetExists;
    files[target] = "program";
    copies.push_back(target);
    return CopyResult::Copied;
}

bool ScriptedRestart::createProcess(const std::string& application, const std::string& directory)
{
    started.push_back(application + "|" + directory);
    return true;
}

bool ScriptedRestart::moveFileDelayUntilReboot(const std::string& path)
{
    delayedDeletions.push_back(path);
    return true;
}

bool ScriptedRestart::windowsDirectory(std::string& directory)
{
    directory = windowsDir;
    return !windowsDirFails;
}

bool ScriptedRestart::searchPath(const std::string& file, std::string& found)
{
    if (files.count(file) == 0) return false;
    found = file;
    return true;
}

bool ScriptedRestart::shortPathName(const std::string& path, std::string& shortPath)
{
    const auto found = shortNames.find(path);
    shortPath = found == shortNames.end() ? path : found->second;
    return true;
}

bool ScriptedRestart::readTextFile(const std::string& path, std::string& content)
{
    const auto found = files.find(path);
    if (found == files.end()) return false;
    content = found->second;
    return true;
}

bool ScriptedRestart::replaceTextFile(const std::string& path, const std::string& content)
{
    if (replaceFails) return false;
    files[path] = content;
    return true;
}

Handle ScriptedRestart::openProcessToken()
{
    if (tokenFails) return nullptr;
    ++openTokens;
    return &tokenObject;
}

bool ScriptedRestart::lookupShutdownPrivilege(uint64_t& luid)
{
    luid = 19;
    return !lookupFails;
}

bool ScriptedRestart::adjustPrivilege(Handle, uint64_t, bool enable)
{
    adjustments.push_back(enable ? "enable" : "disable");
    return enable ? !enableFails : !disableFails;
}

bool ScriptedRestart::exitWindowsReboot()
{
    ++rebootRequests;
    return !exitFails;
}

void ScriptedRestart::closeHandle(Handle)
{
    --openTokens;
}
