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
    bool handled = false;    // the control answered a brush
    ColorRef textColor = 0;  // as set on the device context
    ColorRef backColor = 0;  // as set on the device context
    ColorRef brushColor = 0; // colour of the answered brush (dialog colour when unhandled)
    std::string fontFace;    // font selected into the device context ("" = dialog font)
    int fontTenths = 0;
    bool brushAlive = false; // the answered brush is a live brush made by the program
};

struct WindowState {
    unsigned id = 0;
    std::string className; // "#32770", "Button", "Static", "ComboBox", "msctls_progress32"
    std::string text;
    bool enabled = true;
    bool visible = true;
    bool iconic = false;
    int x = 0, y = 0, width = 0, height = 0; // dialog units
    uint32_t style = 0;
    uint32_t exStyle = 0;
    // drop-down list
    std::vector<std::string> items;
    int curSel = -1;
    // progress bar
    int rangeLower = 0, rangeUpper = 100, step = 10, pos = 0;
    // icons set on a dialog
    Handle bigIcon = nullptr, smallIcon = nullptr;
    // what was sent to the window with sendMessage, and icons drawn on it
    std::vector<unsigned> sentMessages;
    struct DrawnIcon {
        int x, y;
        Handle icon;
    };
    std::vector<DrawnIcon> drawnIcons;

    CWnd* object = nullptr; // the bound class-library object, if any
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

// Called on every UpdateWindow of a dialog or one of its controls (the
// terminal redraws there). An empty function removes the hook.
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

// The colours the dialog paints with when a control leaves the request unhandled.
inline constexpr ColorRef kModelDialogTextColor = 0x000000;
inline constexpr ColorRef kModelDialogFaceColor = 0xC0C0C0;
// The device context's colours before anybody sets them.
inline constexpr ColorRef kModelDcTextColor = 0x000000;
inline constexpr ColorRef kModelDcBackColor = 0xFFFFFF;

// True once endDialog was called during the dialog's modal run (or when the
// dialog is not running at all).
bool modelDialogEnded(CDialog& dialog);
// Moves the keyboard focus to control `id` as Tab or a click would; false when
// the control is missing, disabled or hidden.
bool modelSetFocus(CDialog& dialog, unsigned id);
// Every child control of a running dialog, in template order.
std::vector<WindowState*> modelControls(CDialog& dialog);

// While set, beginThread fails (answers null) without starting anything.
void setModelThreadStartFailure(bool fail);

// Graphics objects alive now (made and not yet deleted), to catch leaks.
int modelLiveFonts();
int modelLiveBrushes();

// A driver that runs one step per modal run, in the order given. A run whose
// step leaves the dialog open, or that finds no step, ends with IDCANCEL.
class ScriptedModalDriver : public ModalDriver {
public:
    using Step = std::function<void(CDialog&)>;
    ScriptedModalDriver& then(Step step);
    void run(CDialog& dialog) override;
    int runs() const { return runs_; }
    size_t stepsLeft() const { return steps_.size() - next_; }

private:
    std::vector<Step> steps_;
    size_t next_ = 0;
    int runs_ = 0;
};

// Installs a driver for a scope and restores the previous one afterwards.
class ModalDriverScope {
public:
    explicit ModalDriverScope(ModalDriver* driver);
    ~ModalDriverScope();
    ModalDriverScope(const ModalDriverScope&) = delete;
    ModalDriverScope& operator=(const ModalDriverScope&) = delete;

private:
    ModalDriver* previous_;
};
