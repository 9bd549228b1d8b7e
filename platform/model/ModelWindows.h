// The in-memory implementation of the class library: every window is a
// WindowState that tests read and the terminal front end renders. A modal run
// initialises the dialog and then hands it to the installed ModalDriver (a
// test script or the terminal), which presses buttons until the dialog ends.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/classlib/ClassLib.h"

// What one paint of a control through the colour request produced.
struct PaintResult {
    bool handled = false;     // the control answered a brush
    ColorRef textColor = 0;   // as set on the device context
    ColorRef backColor = 0;   // as set on the device context
    ColorRef brushColor = 0;  // colour of the answered brush (dialog colour when unhandled)
    std::string fontFace;     // font selected into the device context ("" = dialog font)
    int fontTenths = 0;
};

struct WindowState {
    unsigned id = 0;
    std::string className;  // "#32770", "Button", "Static", "ComboBox", "msctls_progress32"
    std::string text;
    bool enabled = true;
    bool visible = true;
    bool iconic = false;
    int x = 0, y = 0, width = 0, height = 0;  // dialog units
    uint32_t style = 0;
    uint32_t exStyle = 0;
    // drop-down list
    std::vector<std::string> items;
    int curSel = -1;
    // progress bar
    int rangeLower = 0, rangeUpper = 100, step = 10, pos = 0;
    // icons set on a dialog
    Handle bigIcon = nullptr, smallIcon = nullptr;

    CWnd* object = nullptr;  // the bound class-library object, if any
    WindowState* parent = nullptr;
    std::vector<WindowState*> children;
};

// Drives a modal dialog after its initialisation: presses buttons through
// modelClick / modelSelect until the dialog ends.
class ModalDriver {
public:
    virtual ~ModalDriver() = default;
    virtual void run(CDialog& dialog) = 0;
};

void setModalDriver(ModalDriver* driver);
ModalDriver* modalDriver();

// Called on every UpdateWindow of a dialog (the terminal redraws there).
void setRepaintHook(std::function<void(CDialog&)> hook);

// The dialog whose modal run is innermost, or null.
CDialog* activeModelDialog();
// The child control with `id` of a running dialog, or null.
WindowState* modelControl(CDialog& dialog, unsigned id);
// The control that has the keyboard focus in the dialog, or null.
WindowState* modelFocus(CDialog& dialog);
// Presses a button (WM_COMMAND BN_CLICKED) if it is enabled; false otherwise.
bool modelClick(CDialog& dialog, unsigned id);
// Selects a list entry as a user would (CBN_SELCHANGE).
bool modelSelect(CDialog& dialog, unsigned id, int index);
// Runs the colour request of control `id` as a paint would.
PaintResult modelPaint(CDialog& dialog, unsigned id);
