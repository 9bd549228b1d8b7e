#include "ui/MainWindow.h"

#include <cstring>

#include "app/Language.h"
#include "app/Restart.h"
#include "discovery/Eligibility.h"
#include "package/UpdatePackage.h"
#include "transport/DriveRecords.h"
#include "update/ProgressMonitor.h"

namespace {

MainWindow* runningMainWindow = nullptr;

constexpr const char* kInformationTitle = "Information - Upgrade Program";

const char* selectDriveText()
{
    //  ドライブを選択し、UPDATEボタンを押して下さい。
    return pickText(
        " Please Select Drive and Click UPDATE Button.",
        " \x83\x68\x83\x89\x83\x43\x83\x75\x82\xf0\x91\x49\x91\xf0\x82\xb5\x81\x41UPDATE\x83\x7b"
        "\x83\x5e\x83\x93\x82\xf0\x89\x9f\x82\xb5\x82\xc4\x89\xba\x82\xb3\x82\xa2\x81\x42");
}

// The list position, as a table index, when it names a listed drive.
bool listedDrive(int position)
{
    return position >= 0 && position < driveCount &&
           static_cast<size_t>(position) < kDriveTableSize;
}

} // namespace

MainWindow* activeMainWindow()
{
    return runningMainWindow;
}

MainWindow::MainWindow()
    : CDialog(IDD_MAIN_WINDOW), steps{checkEligibility, monitorProgress, launchRestartCopy}
{
    bindControl(IDCANCEL_, exitButton);
    bindControl(IDOK_, updateButton);
    bindControl(IDC_STATUS_LINE, statusLine);
    bindControl(IDC_PROGRESS_BAR, progressBar);
    bindControl(IDC_DRIVE_LIST, driveList);
    appIcon = loadIcon(IDI_APP_ICON);
}

MainWindow::~MainWindow()
{
    if (runningMainWindow == this) runningMainWindow = nullptr;
}

intptr_t MainWindow::doModal()
{
    MainWindow* const outer = runningMainWindow;
    runningMainWindow = this;
    const intptr_t result = CDialog::doModal();
    runningMainWindow = outer;
    return result;
}

bool MainWindow::onInitDialog()
{
    CDialog::onInitDialog();

    setIcon(appIcon, ICON_BIG_);
    setIcon(appIcon, ICON_SMALL_);

    // Only the status line takes the Japanese font; the rest keeps the
    // dialog's own.
    // ＭＳ Ｐゴシック
    if (uiLanguage() == UiLanguage::Japanese)
        statusLine.createPointFont(90, "\x82\x6c\x82\x72 \x82\x6f\x83\x53\x83\x56\x83\x62\x83\x4e");

    setWindowText(std::string(package.applicationTitle,
                              strnlen(package.applicationTitle, sizeof package.applicationTitle)));

    // List position = table index.
    const size_t count = driveCount < kDriveTableSize ? driveCount : kDriveTableSize;
    for (size_t i = 0; i < count; ++i) {
        const DriveEntry& entry = driveEntries[i];
        driveList.addString(
            std::string(entry.displayText, strnlen(entry.displayText, sizeof entry.displayText)));
    }
    driveList.setCurSel(0);
    driveList.setFocus();

    statusLine.setWindowText(selectDriveText());
    // The focus is placed; the dialog manager must not move it.
    return false;
}

bool MainWindow::onCommand(unsigned id, unsigned notifyCode)
{
    if (id == static_cast<unsigned>(IDOK_) && notifyCode == BN_CLICKED_) {
        onUpdate();
        return true;
    }
    if (id == IDC_DRIVE_LIST && notifyCode == CBN_SELCHANGE_) {
        onDriveSelected();
        return true;
    }
    return CDialog::onCommand(id, notifyCode);
}

bool MainWindow::onPaint()
{
    if (!isIconic()) return CDialog::onPaint();

    CPaintDC paint(*this);
    CDC& dc = paint.dc();
    sendMessage(WM_ICONERASEBKGND_, reinterpret_cast<uintptr_t>(dc.nativeHandle()), 0);

    const int iconWidth = getSystemMetrics(SM_CXICON_);
    const int iconHeight = getSystemMetrics(SM_CYICON_);
    int clientWidth = 0;
    int clientHeight = 0;
    getClientSize(clientWidth, clientHeight);
    const int x = (clientWidth - iconWidth + 1) / 2;
    const int y = (clientHeight - iconHeight + 1) / 2;
    dc.drawIcon(x, y, appIcon);
    return true;
}

Handle MainWindow::onQueryDragIcon()
{
    return appIcon;
}

void MainWindow::onUpdate()
{
    // A disabled UPDATE (a drive already updated in this run) starts nothing,
    // whichever way the command came.
    if (!updateButton.isWindowEnabled()) return;
    updateButton.enableWindow(false);
    exitButton.enableWindow(false);

    const int position = driveList.getCurSel();
    // Nothing is sent unless the list names a drive of the table.
    if (listedDrive(position)) {
        selectedDrive = static_cast<uint16_t>(position);
        if (steps.checkEligibility() == 1 && steps.monitorProgress() == 1) {
            driveEntries[selectedDrive].updated = 1;
            if (package.options.noRestart == 1) {
                // ファームウェア更新に成功しました。
                sys().messageBox(
                    this,
                    pickText(
                        "Firmware update is completed.",
                        "\x83\x74\x83\x40\x81\x5b\x83\x80\x83\x45\x83\x46\x83\x41\x8d\x58\x90\x56"
                        "\x82\xc9\x90\xac\x8c\xf7\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81\x42"),
                    kInformationTitle, MB_SYSTEMMODAL_ | MB_ICONINFORMATION_ | MB_OK_);
            } else {
                const int answer = sys().messageBox(
                    this,
                    // ファームウェア更新は成功しました。\n\n再起動しますか？
                    pickText(
                        "Firmware update is completed.\n\nDo you want to restart your "
                        "computer now?",
                        "\x83\x74\x83\x40\x81\x5b\x83\x80\x83\x45\x83\x46\x83\x41\x8d\x58\x90\x56"
                        "\x82\xcd\x90\xac\x8c\xf7\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81\x42\n\n\x8d"
                        "\xc4\x8b\x4e\x93\xae\x82\xb5\x82\xdc\x82\xb7\x82\xa9\x81\x48"),
                    kInformationTitle, MB_SYSTEMMODAL_ | MB_ICONINFORMATION_ | MB_YESNO_);
                if (answer == IDYES_) {
                    steps.launchRestartCopy(this);
                    CDialog::onOK();
                }
            }
        }
    }

    // Back to idle in every case, even when the modal run is about to end.
    progressBar.setPos(0);
    statusLine.setWindowText(selectDriveText());
    onDriveSelected();
    exitButton.enableWindow(true);
}

void MainWindow::onDriveSelected()
{
    const int position = driveList.getCurSel();
    if (!listedDrive(position)) {
        updateButton.enableWindow(false);
        return;
    }
    selectedDrive = static_cast<uint16_t>(position);
    // A drive updated in this run cannot be updated again.
    updateButton.enableWindow(driveEntries[selectedDrive].updated == 0);
}
