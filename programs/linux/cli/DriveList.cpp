#include "programs/linux/cli/DriveList.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ostream>

#include "discovery/DriveDiscovery.h"
#include "discovery/Eligibility.h"
#include "platform/DriveAccess.h"
#include "platform/linux/MessagePresenter.h"
#include "programs/linux/cli/FrontDoor.h"
#include "programs/linux/cli/PackageCheck.h"
#include "programs/linux/cli/Session.h"

namespace {

constexpr size_t kAnswerSize = 40;

std::string trimmed(const uint8_t* bytes, size_t size)
{
    std::string text(reinterpret_cast<const char*>(bytes), size);
    text = text.substr(0, text.find('\0'));
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

// What the eligibility checks say about the drive at driveEntries[index],
// answering every question with No: "" when it fits.
std::string eligibilityRefusal(uint16_t index)
{
    std::string refusal;
    setMessagePresenter([&](CWnd*, const std::string&, const std::string&, uint32_t flags) {
        if ((flags & 0xF) == MB_YESNO_) {
            refusal = "drive-newer";
            return IDNO_;
        }
        refusal = (flags & MB_ICONERROR_) != 0 ? "pcb-unreadable" : "pcb-newer";
        return IDOK_;
    });
    selectedDrive = index;
    checkEligibility();
    setMessagePresenter(nullptr);
    return refusal;
}

const char* reasonText(const std::string& code)
{
    if (code == "identity") return "the package is for another model";
    if (code == "pcb-newer") return "its PCB is newer than the package allows";
    if (code == "pcb-unreadable") return "its PCB version could not be read (the query needs root)";
    if (code == "drive-newer") return "it has newer firmware than the package (--allow-older)";
    if (code == "not-optical") return "not a CD/DVD device";
    if (code == "no-answer") return "no answer to INQUIRY (may the node be opened?)";
    return "";
}

const char* orderName(VersionOrder order)
{
    switch (order) {
    case VersionOrder::Older:
        return "older";
    case VersionOrder::Same:
        return "same";
    case VersionOrder::Newer:
        return "newer";
    default:
        return "not compared";
    }
}

} // namespace

int runList(const FoundPackage& found, bool explicitPackage, bool json,
            const std::function<void(const std::string&)>& installDrives, std::ostream& out,
            std::ostream& err, const std::string& program)
{
    bool havePackage = false;
    Json packageJson = nullptr;
    std::string folder = found.folder;
    if (found.found) {
        const PackageResult result = loadPackage(found);
        packageJson = packageReport(found, result);
        if (result != 0) {
            if (json)
                printJson(out, {{"command", "list"},
                                {"exitCode", exitcode::PackageRefused},
                                {"package", packageJson}});
            else
                err << program << ": package refused: " << packageJson["message"].get<std::string>()
                    << '\n';
            return exitcode::PackageRefused;
        }
        havePackage = true;
    } else if (explicitPackage) {
        if (json)
            printJson(out, {{"command", "list"},
                            {"exitCode", exitcode::PackageRefused},
                            {"error", found.problem}});
        else
            err << program << ": " << found.problem << '\n';
        return exitcode::PackageRefused;
    } else {
        resetPackage();
        resetDriveTable();
        char here[4096];
        folder = getcwd(here, sizeof here) != nullptr ? here : ".";
    }
    chooseTransport();
    installDrives(folder);

    Json drives = Json::array();
    int fitting = 0;
    uint16_t count = 0;
    for (char letter = 'A'; letter <= 'Z' && count < kDriveTableSize; ++letter) {
        const char root[4] = {letter, ':', '\\', '\0'};
        if (passThroughAccess().driveType(root) != DRIVE_CDROM_) continue;
        DriveEntry& entry = driveEntries[count];
        std::memset(&entry, 0, sizeof entry);
        entry.driveLetter[0] = letter;

        uint8_t answer[kAnswerSize] = {};
        Json drive;
        drive["node"] = driveNode(entry);
        std::string reason;
        const bool answered = settleAndInquire(entry, answer) && answer[8] != 0;
        if (answered) {
            drive["vendor"] = trimmed(answer + 8, 8);
            drive["product"] = trimmed(answer + 16, 16);
            drive["revision"] = trimmed(answer + 32, 4);
            std::memcpy(entry.revision, answer + 32, 4);
        }
        if (!answered) {
            reason = "no-answer";
        } else if (answer[0] != 5) {
            reason = "not-optical";
        } else if (havePackage && !matchesIdentity(answer + 8, package.inquiryList)) {
            reason = "identity";
        } else if (havePackage) {
            const VersionOrder order = compareFirmwareVersions(fieldText(package.firmwareVersion),
                                                               fieldText(entry.revision));
            drive["packageVersion"] = orderName(order);
            reason = eligibilityRefusal(count);
        }
        if (havePackage) {
            drive["fits"] = reason.empty();
            drive["reason"] = reason.empty() ? Json(nullptr) : Json(reason);
            if (reason.empty()) ++fitting;
        } else if (!reason.empty()) {
            drive["reason"] = reason;
        }
        drives.push_back(drive);
        ++count;
    }
    std::memset(driveEntries, 0, sizeof driveEntries);

    const int code = havePackage && fitting == 0 ? exitcode::NoDrive : exitcode::Ok;
    if (json) {
        printJson(out, {{"command", "list"},
                        {"exitCode", code},
                        {"package", packageJson},
                        {"drives", drives}});
        return code;
    }
    if (havePackage)
        out << "Package " << found.file << ": " << forTerminal(fieldText(package.applicationTitle))
            << '\n';
    else
        out << "No package here: drives listed without judging them.\n";
    if (drives.empty()) out << "No optical drive found.\n";
    for (const Json& d : drives) {
        std::string node = d["node"].get<std::string>();
        node.resize(std::max<size_t>(node.size(), 5), ' ');
        out << "  " << node;
        std::string identity;
        if (d.contains("vendor"))
            identity = d["vendor"].get<std::string>() + ' ' + d["product"].get<std::string>() +
                       ' ' + d["revision"].get<std::string>();
        identity.resize(std::max<size_t>(identity.size(), 34), ' ');
        out << identity;
        if (d.contains("fits")) {
            if (d["fits"].get<bool>()) {
                out << "fits";
                const std::string order = d["packageVersion"].get<std::string>();
                if (order == "newer")
                    out << " (update to " << fieldText(package.firmwareVersion) << ')';
                if (order == "same") out << " (same version)";
            } else {
                out << "does not fit: " << reasonText(d["reason"].get<std::string>());
            }
        } else if (d.contains("reason")) {
            out << reasonText(d["reason"].get<std::string>());
        }
        out << '\n';
    }
    if (havePackage && fitting == 0) err << program << ": no drive fits the package\n";
    return code;
}
