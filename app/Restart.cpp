#include "app/Restart.h"

#include <cstdio>

#include "app/Language.h"
#include "app/WininitEntry.h"
#include "package/UpdatePackage.h"
#include "platform/Platform.h"
#include "platform/RestartServices.h"

namespace {

constexpr size_t kWindowsDirectoryLimit = 115;

void showCannotReboot(CWnd* owner)
{
    // 再起動できませんでした。
    sys().messageBox(owner,
                     pickText("Can't reboot.", "\x8D\xC4\x8BN\x93\xAE\x82\xC5\x82\xAB\x82\xDC\x82"
                                               "\xB9\x82\xF1\x82\xC5\x82\xB5\x82\xBD\x81"
                                               "B"),
                     "Error - Upgrade Program", MB_ICONERROR_);
}

void scheduleInWininit(const char* path)
{
    RestartServices& rs = restartServices();
    std::string directory;
    if (!rs.windowsDirectory(directory) || directory.size() > kWindowsDirectoryLimit) return;
    const std::string wininit = directory + "\\WININIT.INI";

    std::string found;
    std::string content;
    std::string target = wininit;
    if (rs.searchPath(wininit, found)) {
        if (!rs.readTextFile(found, content)) return;
        target = found;
    } else if (rs.readTextFile(wininit, content)) {
        // Not found by the search, yet there: its lines must stay all the same.
    }

    std::string shortPath;
    if (!rs.shortPathName(path, shortPath)) shortPath = path;
    rs.replaceTextFile(target, insertDeletionEntry(content, shortPath));
}

} // namespace

void scheduleDeletion(const char* path)
{
    if (package.options.osKind != 0) {
        restartServices().moveFileDelayUntilReboot(path);
        return;
    }
    scheduleInWininit(path);
}

void launchRestartCopy(CWnd* owner)
{
    if (package.options.noDeleteFile == 1) return;
    RestartServices& rs = restartServices();

    // The program's own full path: a bare name would depend on the current
    // directory.
    const std::string source = sys().modulePath();
    // Without the temporary folder the copy would land in the current one
    // under a relative name: that is a copy failing too.
    std::string temp;
    if (!rs.tempPath(temp)) {
        showCannotReboot(owner);
        return;
    }

    std::string target;
    bool copied = false;
    for (unsigned n = 0; n <= 0xFFFF; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "REB_%04x.EXE", n);
        target = temp + name;
        const CopyResult result = rs.copyFile(source, target);
        if (result == CopyResult::Copied) {
            copied = true;
            break;
        }
        if (result != CopyResult::TargetExists) break; // another name would not help
    }
    if (!copied) {
        showCannotReboot(owner);
        return;
    }

    scheduleDeletion(target.c_str());
    rs.createProcess(target, temp);
}

void rebootComputer()
{
    RestartServices& rs = restartServices();
    if (package.options.osKind == 0) {
        if (!rs.exitWindowsReboot()) showCannotReboot(nullptr);
        return;
    }

    Handle token = rs.openProcessToken();
    if (token == nullptr) {
        showCannotReboot(nullptr);
        return;
    }
    uint64_t luid = 0;
    if (!rs.lookupShutdownPrivilege(luid) || !rs.adjustPrivilege(token, luid, true)) {
        rs.closeHandle(token);
        showCannotReboot(nullptr);
        return;
    }
    if (!rs.exitWindowsReboot()) showCannotReboot(nullptr);
    if (!rs.adjustPrivilege(token, luid, false)) {
        rs.closeHandle(token);
        showCannotReboot(nullptr);
        return;
    }
    rs.closeHandle(token);
}
