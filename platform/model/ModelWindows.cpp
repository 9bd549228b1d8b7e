// Windows and controls of the in-memory class library: every window is a
// WindowState; nothing is drawn here.
#include "platform/model/ModelWindows.h"

#include "platform/model/ModelState.h"

using namespace modelwindows;

namespace {

// Message numbers the model answers through sendMessage.
constexpr unsigned kWmSetIcon = 0x0080;
constexpr unsigned kPbmSetRange = 0x0401;
constexpr unsigned kPbmSetPos = 0x0402;
constexpr unsigned kPbmDeltaPos = 0x0403;
constexpr unsigned kPbmSetStep = 0x0404;
constexpr unsigned kPbmStepIt = 0x0405;
constexpr unsigned kCbGetCount = 0x0146;
constexpr unsigned kCbGetCurSel = 0x0147;
constexpr unsigned kCbSetCurSel = 0x014E;
constexpr int kCbErr = -1;

// Dialog base units of the model: a dialog unit is 6/4 pixels wide and 13/8
// pixels high.
constexpr int kBaseUnitX = 6;
constexpr int kBaseUnitY = 13;

int clampToRange(int value, int lower, int upper)
{
    if (value < lower) value = lower;
    if (value > upper) value = upper;
    return value;
}

// Progress bar: limits are 16-bit unsigned values, the position always lies
// within the range, and stepping past the upper limit starts over at the lower.
void progressSetRange(WindowState& w, int lower, int upper)
{
    w.rangeLower = lower & 0xFFFF;
    w.rangeUpper = upper & 0xFFFF;
    w.pos = clampToRange(w.pos, w.rangeLower, w.rangeUpper);
}

int progressSetStep(WindowState& w, int step)
{
    const int old = w.step;
    w.step = step;
    return old;
}

int progressSetPos(WindowState& w, int position)
{
    const int old = w.pos;
    w.pos = clampToRange(position, w.rangeLower, w.rangeUpper);
    return old;
}

int progressStepIt(WindowState& w)
{
    const int old = w.pos;
    int next = old + w.step;
    if (next > w.rangeUpper) next = w.rangeLower;
    if (next < w.rangeLower) next = w.rangeUpper;
    w.pos = clampToRange(next, w.rangeLower, w.rangeUpper);
    return old;
}

int comboSetCurSel(WindowState& w, int index)
{
    if (index < 0 || index >= static_cast<int>(w.items.size())) {
        w.curSel = -1;
        return kCbErr;
    }
    w.curSel = index;
    return index;
}

} // namespace

// ---------------------------------------------------------------------------
// Windows

CWnd::~CWnd()
{
    if (state != nullptr && state->object == this) state->object = nullptr;
}

void CWnd::setWindowText(const std::string& text)
{
    if (state != nullptr) state->text = text;
}

std::string CWnd::getWindowText() const
{
    return state != nullptr ? state->text : std::string();
}

void CWnd::enableWindow(bool enable)
{
    if (state == nullptr) return;
    state->enabled = enable;
    // A disabled window cannot keep the keyboard focus.
    ModalRun* run = runOwning(state);
    if (!enable && run != nullptr && run->focus == state) run->focus = nullptr;
}

bool CWnd::isWindowEnabled() const
{
    return state != nullptr && state->enabled;
}

void CWnd::showWindow(bool show)
{
    if (state == nullptr) return;
    state->visible = show;
    ModalRun* run = runOwning(state);
    if (!show && run != nullptr && run->focus == state) run->focus = nullptr;
}

bool CWnd::isWindowVisible() const
{
    return state != nullptr && state->visible;
}

void CWnd::setFocus()
{
    ModalRun* run = runOwning(state);
    if (run == nullptr) return;
    run->focus = state == run->self.get() ? nullptr : state;
}

void CWnd::updateWindow()
{
    ModalRun* run = runOwning(state);
    if (run != nullptr && repaintHook()) repaintHook()(*run->dialog);
}

bool CWnd::isIconic() const
{
    return state != nullptr && state->iconic;
}

void CWnd::getClientSize(int& width, int& height) const
{
    width = state != nullptr ? state->width * kBaseUnitX / 4 : 0;
    height = state != nullptr ? state->height * kBaseUnitY / 8 : 0;
}

intptr_t CWnd::sendMessage(unsigned message, uintptr_t wParam, intptr_t lParam)
{
    if (state == nullptr) return 0;
    state->sentMessages.push_back(message);
    switch (message) {
    case kWmSetIcon: {
        Handle& slot =
            wParam == static_cast<uintptr_t>(ICON_BIG_) ? state->bigIcon : state->smallIcon;
        Handle old = slot;
        slot = reinterpret_cast<Handle>(lParam);
        return reinterpret_cast<intptr_t>(old);
    }
    case kPbmSetRange: {
        const int old = (state->rangeLower & 0xFFFF) | ((state->rangeUpper & 0xFFFF) << 16);
        progressSetRange(*state, static_cast<int>(lParam & 0xFFFF),
                         static_cast<int>((lParam >> 16) & 0xFFFF));
        return old;
    }
    case kPbmSetPos:
        return progressSetPos(*state, static_cast<int>(wParam));
    case kPbmDeltaPos:
        return progressSetPos(*state, state->pos + static_cast<int>(wParam));
    case kPbmSetStep:
        return progressSetStep(*state, static_cast<int>(wParam));
    case kPbmStepIt:
        return progressStepIt(*state);
    case kCbGetCount:
        return static_cast<intptr_t>(state->items.size());
    case kCbGetCurSel:
        return state->curSel;
    case kCbSetCurSel:
        return comboSetCurSel(*state, static_cast<int>(wParam));
    default:
        return 0;
    }
}

void CWnd::setIcon(Handle icon, int which)
{
    if (state == nullptr) return;
    (which == ICON_BIG_ ? state->bigIcon : state->smallIcon) = icon;
}

Handle CWnd::nativeHandle() const
{
    return state;
}

// ---------------------------------------------------------------------------
// Drop-down list

int CComboBox::addString(const std::string& text)
{
    if (state == nullptr) return kCbErr;
    state->items.push_back(text);
    return static_cast<int>(state->items.size()) - 1;
}

int CComboBox::setCurSel(int index)
{
    return state != nullptr ? comboSetCurSel(*state, index) : kCbErr;
}

int CComboBox::getCurSel() const
{
    return state != nullptr ? state->curSel : kCbErr;
}

int CComboBox::getCount() const
{
    return state != nullptr ? static_cast<int>(state->items.size()) : kCbErr;
}

std::string CComboBox::getLBText(int index) const
{
    if (state == nullptr || index < 0 || index >= static_cast<int>(state->items.size()))
        return std::string();
    return state->items[static_cast<size_t>(index)];
}

// ---------------------------------------------------------------------------
// Progress bar

void CProgressCtrl::setRange(int lower, int upper)
{
    if (state != nullptr) progressSetRange(*state, lower, upper);
}

int CProgressCtrl::setStep(int step)
{
    return state != nullptr ? progressSetStep(*state, step) : 0;
}

int CProgressCtrl::setPos(int position)
{
    return state != nullptr ? progressSetPos(*state, position) : 0;
}

int CProgressCtrl::stepIt()
{
    return state != nullptr ? progressStepIt(*state) : 0;
}
