#include "app/UpdaterApp.h"

#include <cstdio>
#include <cstring>

#include "app/Language.h"
#include "app/Restart.h"
#include "discovery/DriveDiscovery.h"
#include "package/UpdatePackage.h"
#include "platform/Platform.h"
#include "transport/AspiTransport.h"
#include "transport/DriveRecords.h"
#include "ui/MainWindow.h"
#include "ui/NoticeDialog.h"
#include "update/UpdateState.h"

UpdaterApp theApp;

namespace {

const char* const kErrorTitle = "Error - Upgrade Program";

void showStartUpFailure(const std::string& text)
{
    sys().messageBox(nullptr, text, kErrorTitle, MB_ICONERROR_);
}

void resetSharedState()
{
    resetPackage(); // clears the record, then bufferSize 8192, updateWaitTime 15
    resetDriveTable();
    updateState.transferCount.store(0);
    package.bufferSize = kDefaultBufferSize;
    updateState.phase.store(0);
    usePassThrough = 0;
    selectedDrive = 0;
    package.options.updateWaitTime = kDefaultUpdateWaitTime;
}

uint8_t operatingSystemKind()
{
    const OsVersionInfo version = sys().versionInfo();
    if (version.platformId != VER_PLATFORM_WIN32_NT_) return 0;
    return version.majorVersion >= 5 ? 2 : 1;
}

bool isRestartCopy()
{
    const std::string title = moduleFileTitle();
    return title.size() >= 3 && std::memcmp(title.data(), "REB", 3) == 0;
}

} // namespace

std::string packageResultMessage(unsigned code)
{
    const char* format;
    switch (code) {
    case packageresult::NoDescriptionFile:
        // INIファイルが見つかりません。(Code %d)
        format = pickText("INI file not found. (Code %d)",
                          "INI\x83t\x83@\x83"
                          "C\x83\x8B\x82\xAA\x8C\xA9\x82\xC2\x82\xA9\x82\xE8\x82\xDC\x82\xB9\x82"
                          "\xF1\x81"
                          "B(Code %d)");
        break;
    case packageresult::ImageNotFound:
        // ファームウェアファイルが見つかりません。(Code %d)
        format = pickText("Firmware file not found. (Code %d)",
                          "\x83t\x83@\x81[\x83\x80\x83"
                          "E\x83"
                          "F\x83"
                          "A\x83t\x83@\x83"
                          "C\x83\x8B\x82\xAA\x8C\xA9\x82\xC2\x82\xA9\x82\xE8\x82\xDC\x82\xB9\x82"
                          "\xF1\x81"
                          "B(Code %d)");
        break;
    case packageresult::ImageReadFailed:
    case packageresult::ImageTooShort:
        // ファームウェアの読み込みに失敗しました。(Code %d)
        format = pickText("Firmware file reading failure. (Code %d)",
                          "\x83t\x83@\x81[\x83\x80\x83"
                          "E\x83"
                          "F\x83"
                          "A\x82\xCC\x93\xC7\x82\xDD\x8D\x9E\x82\xDD\x82\xC9\x8E\xB8\x94s\x82\xB5"
                          "\x82\xDC\x82\xB5\x82\xBD\x81"
                          "B(Code %d)");
        break;
    default:
        // INIファイルの値が異常です。(Code %d)
        format = pickText("INI file value error. (Code %d)",
                          "INI\x83t\x83@\x83"
                          "C\x83\x8B\x82\xCC\x92l\x82\xAA\x88\xD9\x8F\xED\x82\xC5\x82\xB7\x81"
                          "B(Code %d)");
        break;
    }
    char text[160];
    std::snprintf(text, sizeof text, format, static_cast<int>(code));
    return text;
}

bool UpdaterApp::startUp()
{
    enableControlContainer();
    enable3dControls();

    MainWindow window;
    NoticeDialog noticeDialog;

    resetSharedState();
    package.options.osKind = operatingSystemKind();
    userLcid = sys().userDefaultLcid();

    if (isRestartCopy()) {
        sys().waitMilliseconds(8000);
        rebootComputer();
        return false;
    }

    const PackageResult result = readPackage();
    if (result != packageresult::Ok) {
        showStartUpFailure(packageResultMessage(result));
        return false;
    }
    if (package.options.osKind != 0 &&
        (package.options.noPassThrough != 1 || sys().passThroughOnly()))
        usePassThrough = 1;

    if (package.options.cautionKind != 0 && noticeDialog.doModal() != IDOK_) return false;

    if (usePassThrough == 0) {
        if (loadAspi() == 0) {
            // WNASPI32.DLLのロードに失敗しました。
            showStartUpFailure(pickText("WNASPI32.DLL load failed.",
                                        "WNASPI32.DLL\x82\xCC\x83\x8D\x81[\x83h\x82\xC9\x8E\xB8"
                                        "\x94s\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81"
                                        "B"));
            return false;
        }
        if (aspiAdapterCount() == 0) {
            // ASPI32が見つかりません。
            showStartUpFailure(pickText("ASPI32 not found.",
                                        "ASPI32\x82\xAA\x8C\xA9\x82\xC2\x82\xA9\x82\xE8\x82\xDC"
                                        "\x82\xB9\x82\xF1\x81"
                                        "B"));
            return false;
        }
    }

    driveCount = discoverDrives();
    if (driveCount == 0) {
        // ドライブが見つかりません。
        showStartUpFailure(pickText("No drive found.", "\x83h\x83\x89\x83"
                                                       "C\x83u\x82\xAA\x8C\xA9\x82\xC2\x82\xA9"
                                                       "\x82\xE8\x82\xDC\x82\xB9\x82\xF1\x81"
                                                       "B"));
        return false;
    }

    mainWindow = &window;
    const intptr_t windowResult = window.doModal();
    mainWindow = nullptr;

    if (usePassThrough == 0) unloadAspi();
    releaseFirmwareImage();
    if (windowResult == IDOK_ && package.options.noDeleteFile == 1) rebootComputer();
    return false;
}
