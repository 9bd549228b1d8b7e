#include "programs/linux/cli/Session.h"

#include <unistd.h>

#include <cctype>

#include "app/Language.h"
#include "platform/DriveAccess.h"
#include "platform/Platform.h"
#include "platform/linux/LinuxSystem.h"
#include "platform/terminal/TerminalText.h"
#include "update/UpdateState.h"

PackageResult loadPackage(const FoundPackage& found)
{
    resetPackage();
    resetDriveTable();
    updateState.transferCount.store(0);
    updateState.phase.store(0);
    usePassThrough = 0;
    selectedDrive = 0;
    userLcid = sys().userDefaultLcid();
    if (!found.found || chdir(found.folder.c_str()) != 0) return packageresult::NoDescriptionFile;
    // A chosen file that cannot be read must not let the reader fall back on
    // another description file of the folder.
    const std::string path = found.folder + "/" + found.file;
    if (access(path.c_str(), R_OK) != 0) return packageresult::NoDescriptionFile;
    setDescriptionFile(path);
    return readPackage();
}

void chooseTransport()
{
    const OsVersionInfo version = sys().versionInfo();
    uint8_t kind = 0;
    if (version.platformId == VER_PLATFORM_WIN32_NT_) kind = version.majorVersion >= 5 ? 2 : 1;
    package.options.osKind = kind;
    usePassThrough =
        kind != 0 && (package.options.noPassThrough != 1 || sys().passThroughOnly()) ? 1 : 0;
}

std::string driveNode(const DriveEntry& entry)
{
    std::string node = passThroughAccess().driveRootText(entry.driveLetter[0]);
    while (!node.empty() && (node.back() == '\\' || node.back() == ':'))
        node.pop_back();
    return node;
}

bool namesNode(const std::string& given, const std::string& node)
{
    std::string name = given.compare(0, 5, "/dev/") == 0 ? given.substr(5) : given;
    while (!name.empty() && (name.back() == '\\' || name.back() == ':'))
        name.pop_back();
    if (name.size() != node.size() || node.empty()) return false;
    for (size_t i = 0; i < name.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(name[i])) !=
            std::tolower(static_cast<unsigned char>(node[i])))
            return false;
    return true;
}

std::string forTerminal(const std::string& text)
{
    const TextConverter converter(sourceCharsetForLcid(userLcid), terminalCharset());
    return converter.convert(text);
}

std::string asUtf8(const std::string& text)
{
    const TextConverter converter(sourceCharsetForLcid(userLcid), "UTF-8");
    return converter.convert(text);
}
