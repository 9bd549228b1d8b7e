// The members of the class library that behave the same on every platform.
#include "platform/classlib/ClassLib.h"

namespace {
CWinApp* runningApp = nullptr;
}

Handle CWnd::reflectCtlColor(CDC&, unsigned)
{
    return nullptr;
}

void CDialog::onOK()
{
    endDialog(IDOK_);
}

void CDialog::onCancel()
{
    endDialog(IDCANCEL_);
}

bool CDialog::onCommand(unsigned id, unsigned notifyCode)
{
    if (notifyCode != BN_CLICKED_) return false;
    if (id == static_cast<unsigned>(IDOK_)) {
        onOK();
        return true;
    }
    if (id == static_cast<unsigned>(IDCANCEL_)) {
        onCancel();
        return true;
    }
    return false;
}

bool CDialog::onPaint()
{
    return false;
}

Handle CDialog::onQueryDragIcon()
{
    return nullptr;
}

void CDialog::bindControl(unsigned id, CWnd& control)
{
    for (int i = 0; i < bindingCount_; ++i) {
        if (bindings_[i].control == &control) {
            bindings_[i].id = id;
            return;
        }
    }
    // The table is sized for the largest dialog of the program; a registration
    // beyond it is a programming error that must not write past the table.
    if (bindingCount_ >= static_cast<int>(sizeof bindings_ / sizeof bindings_[0])) return;
    bindings_[bindingCount_++] = Binding{id, &control};
}

CWinApp::CWinApp()
{
    previousApp_ = runningApp;
    runningApp = this;
}

CWinApp::~CWinApp()
{
    if (runningApp == this) runningApp = static_cast<CWinApp*>(previousApp_);
}

void CWinApp::enableControlContainer()
{
}

// The three-dimensional look is the standard look of dialog controls on every
// system the program runs on; nothing to switch on.
void CWinApp::enable3dControls()
{
}

CWinApp* currentApp()
{
    return runningApp;
}
