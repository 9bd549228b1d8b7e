#include "discovery/Eligibility.h"

#include <charconv>
#include <cstring>
#include <string>

#include "app/Language.h"
#include "package/UpdatePackage.h"
#include "platform/Platform.h"
#include "transport/DriveCommands.h"
#include "transport/DriveRecords.h"
#include "ui/MainWindow.h"

namespace {

constexpr uint32_t kPcbQueryParameter = 0x000F8048;
constexpr uint16_t kPcbAnswerLength = 16;

constexpr const char* kErrorTitle = "Error - Upgrade Program";
constexpr const char* kInformationTitle = "Information - Upgrade Program";

int showBox(const char* english, const char* japanese, const char* title, uint32_t flags)
{
    return sys().messageBox(activeMainWindow(), pickText(english, japanese), title, flags);
}

// A version text of a fixed field, always terminated.
std::string versionText(const char* field, size_t size)
{
    return std::string(field, strnlen(field, size));
}

// Versions are compared only in the form "d.dd" with a leading digit other
// than '0'.
bool comparable(const std::string& version)
{
    return version.size() >= 2 && version[1] == '.' && version[0] != '0';
}

bool isCSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// A version text read as a single-precision decimal number the way "%f"
// reads it in the "C" locale (leading white space, one optional sign, digits
// with '.' as the decimal point, an optional exponent), whatever locale the
// process runs in. A text that does not parse counts as 0.
float versionNumber(const std::string& version)
{
    const char* first = version.data();
    const char* last = first + version.size();
    while (first != last && isCSpace(*first))
        ++first;
    // from_chars takes '-' but not '+'; a second sign is no number.
    if (first != last && *first == '+') {
        ++first;
        if (first != last && *first == '-') return 0.0f;
    }
    float number = 0.0f;
    if (std::from_chars(first, last, number).ec != std::errc{}) return 0.0f;
    return number;
}

} // namespace

VersionOrder compareFirmwareVersions(const std::string& packageVersion,
                                     const std::string& driveRevision)
{
    if (!comparable(packageVersion) || !comparable(driveRevision)) return VersionOrder::NotCompared;
    const float ours = versionNumber(packageVersion);
    const float theirs = versionNumber(driveRevision);
    if (ours < theirs) return VersionOrder::Older;
    return ours > theirs ? VersionOrder::Newer : VersionOrder::Same;
}

int checkEligibility()
{
    if (selectedDrive >= kDriveTableSize) return 0;
    const DriveEntry& entry = driveEntries[selectedDrive];

    const uint8_t allowedPcb = package.options.pcbVersion;
    if (allowedPcb != 0) {
        uint8_t answer[kPcbAnswerLength] = {};
        if (vendorQuery(entry, answer, kPcbAnswerLength, kPcbQueryParameter) != Ok) {
            // ドライブのバージョンチェックに失敗しました。
            showBox("Drive version check failure.",
                    "\x83\x68\x83\x89\x83\x43\x83\x75\x82\xcc\x83\x6f\x81\x5b\x83\x57\x83\x87\x83"
                    "\x93\x83\x60\x83\x46\x83\x62\x83\x4e\x82\xc9\x8e\xb8\x94\x73\x82\xb5\x82\xdc"
                    "\x82\xb5\x82\xbd\x81\x42",
                    kErrorTitle, MB_ICONERROR_ | MB_OK_);
            return 0;
        }
        if (allowedPcb < answer[0]) {
            showBox(
                "This firmware upgrade does not apply to your drive. Please \nvisit Orventa Web "
                "Site to check availability of latest firmware \nfor the drive you have.",
                // 本ファームウェアはこのドライブに適合しません。\nOrventa
                // ウェブサイトをチェックし、このドライブの\n最新ファームウェアを入手して下さい。
                "\x96\x7b\x83\x74\x83\x40\x81\x5b\x83\x80\x83\x45\x83\x46\x83\x41\x82\xcd\x82\xb1"
                "\x82\xcc\x83\x68\x83\x89\x83\x43\x83\x75\x82\xc9\x93\x4b\x8d\x87\x82\xb5\x82\xdc"
                "\x82\xb9\x82\xf1\x81\x42\nOrventa "
                "\x83\x45\x83\x46\x83\x75\x83\x54\x83\x43\x83\x67\x82\xf0\x83\x60\x83\x46\x83\x62"
                "\x83\x4e\x82\xb5\x81\x41\x82\xb1\x82\xcc\x83\x68\x83\x89\x83\x43\x83\x75\x82\xcc\n"
                "\x8d\xc5\x90\x56\x83\x74\x83\x40\x81\x5b\x83\x80\x83\x45\x83\x46\x83\x41\x82\xf0"
                "\x93\xfc\x8e\xe8\x82\xb5\x82\xc4\x89\xba\x82\xb3\x82\xa2\x81\x42",
                kInformationTitle, MB_ICONINFORMATION_ | MB_OK_);
            return 0;
        }
    }

    const std::string packageVersion =
        versionText(package.firmwareVersion, sizeof package.firmwareVersion);
    const std::string driveVersion = versionText(entry.revision, sizeof entry.revision);
    if (compareFirmwareVersions(packageVersion, driveVersion) == VersionOrder::Older) {
        const int answer = showBox(
            "Drive has later version of firmware than this program. Please \nvisit Orventa Web "
            "Site to check availability of latest firmware \nfor the drive you have.\n\nDo you "
            "continue it ?",
            // このドライブには、本ファームウェア更新プログラムより\n新しいバージョンのファームウェアがインストールされています。\nOrventa
            // ウェブサイトをチェックし、このドライブの\n最新ファームウェアを入手して下さい。\n\n続けますか？
            "\x82\xb1\x82\xcc\x83\x68\x83\x89\x83\x43\x83\x75\x82\xc9\x82\xcd\x81\x41\x96\x7b\x83"
            "\x74\x83\x40\x81\x5b\x83\x80\x83\x45\x83\x46\x83\x41\x8d\x58\x90\x56\x83\x76\x83\x8d"
            "\x83\x4f\x83\x89\x83\x80\x82\xe6\x82\xe8\n\x90\x56\x82\xb5\x82\xa2\x83\x6f\x81\x5b\x83"
            "\x57\x83\x87\x83\x93\x82\xcc\x83\x74\x83\x40\x81\x5b\x83\x80\x83\x45\x83\x46\x83\x41"
            "\x82\xaa\x83\x43\x83\x93\x83\x58\x83\x67\x81\x5b\x83\x8b\x82\xb3\x82\xea\x82\xc4\x82"
            "\xa2\x82\xdc\x82\xb7\x81\x42\nOrventa "
            "\x83\x45\x83\x46\x83\x75\x83\x54\x83\x43\x83\x67\x82\xf0\x83\x60\x83\x46\x83\x62\x83"
            "\x4e\x82\xb5\x81\x41\x82\xb1\x82\xcc\x83\x68\x83\x89\x83\x43\x83\x75\x82\xcc\n\x8d\xc5"
            "\x90\x56\x83\x74\x83\x40\x81\x5b\x83\x80\x83\x45\x83\x46\x83\x41\x82\xf0\x93\xfc\x8e"
            "\xe8\x82\xb5\x82\xc4\x89\xba\x82\xb3\x82\xa2\x81\x42\n\n\x91\xb1\x82\xaf\x82\xdc\x82"
            "\xb7\x82\xa9\x81\x48",
            kInformationTitle, MB_ICONINFORMATION_ | MB_YESNO_);
        // Only an explicit Yes goes on: a box that could not be shown is no consent.
        if (answer != IDYES_) return 0;
    }
    return 1;
}
