#pragma once

#include "platform/classlib/ClassLib.h"
#include "ui/ColorLabel.h"

inline constexpr unsigned IDD_MAIN_WINDOW = 102;
inline constexpr unsigned IDC_DRIVE_LIST = 103;
inline constexpr unsigned IDC_PROGRESS_BAR = 104;
inline constexpr unsigned IDC_STATUS_LINE = 1032;
inline constexpr unsigned IDI_APP_ICON = 128;

class MainWindow : public CDialog {
public:
    MainWindow();
    ~MainWindow() override;

    // Runs the window modally; activeMainWindow() names it meanwhile.
    intptr_t doModal() override;

    bool onInitDialog() override;
    bool onCommand(unsigned id, unsigned notifyCode) override;
    bool onPaint() override;
    Handle onQueryDragIcon() override;

    void onUpdate();
    void onDriveSelected();

    CButton exitButton;
    CButton updateButton;
    ColorLabel statusLine;
    CProgressCtrl progressBar;
    CComboBox driveList;
    Handle appIcon = nullptr;

    // The operations one update runs through, replaceable in tests.
    struct UpdateSteps {
        int (*checkEligibility)();
        int (*monitorProgress)();
        void (*launchRestartCopy)(CWnd* owner);
    };
    UpdateSteps steps;
};

// The main window while it runs modally (the progress monitor draws on it);
// null otherwise.
MainWindow* activeMainWindow();
