// What drivers, tests and the terminal use to look at a running dialog and to
// act in it as a user would, and the drivers that come with the library.
#include <mutex>

#include "platform/model/ModelState.h"
#include "resources/DialogTemplates.h"

namespace modelwindows {

ModalDriver* installedDriver = nullptr;
std::function<void(CDialog&)>& repaintHook()
{
    static std::function<void(CDialog&)> hook;
    return hook;
}

} // namespace modelwindows

using namespace modelwindows;

namespace {

// Colour request kinds, as the control reports itself.
constexpr unsigned kCtlColorListBox = 2;
constexpr unsigned kCtlColorButton = 3;
constexpr unsigned kCtlColorStatic = 6;

bool isGroupBox(const WindowState& w)
{
    return w.className == "Button" && (w.style & BS_TYPEMASK_) == BS_GROUPBOX_;
}

} // namespace

void setModalDriver(ModalDriver* driver)
{
    installedDriver = driver;
}

ModalDriver* modalDriver()
{
    return installedDriver;
}

void setRepaintHook(std::function<void(CDialog&)> hook)
{
    repaintHook() = std::move(hook);
}

CDialog* activeModelDialog()
{
    auto& runs = modalRuns();
    return runs.empty() ? nullptr : runs.back()->dialog;
}

WindowState* modelControl(CDialog& dialog, unsigned id)
{
    ModalRun* run = runOf(dialog);
    return run != nullptr ? childOf(*run, id) : nullptr;
}

std::vector<WindowState*> modelControls(CDialog& dialog)
{
    std::vector<WindowState*> result;
    if (ModalRun* run = runOf(dialog))
        for (auto& child : run->children)
            result.push_back(child.get());
    return result;
}

WindowState* modelFocus(CDialog& dialog)
{
    ModalRun* run = runOf(dialog);
    return run != nullptr ? run->focus : nullptr;
}

bool modelSetFocus(CDialog& dialog, unsigned id)
{
    ModalRun* run = runOf(dialog);
    if (run == nullptr || run->ended) return false;
    WindowState* w = childOf(*run, id);
    if (w == nullptr || !canTakeFocus(*w)) return false;
    run->focus = w;
    return true;
}

bool modelDialogEnded(CDialog& dialog)
{
    ModalRun* run = runOf(dialog);
    return run == nullptr || run->ended;
}

bool modelClick(CDialog& dialog, unsigned id)
{
    ModalRun* run = runOf(dialog);
    if (run == nullptr || run->ended || !run->self->enabled) return false;
    WindowState* w = childOf(*run, id);
    if (w == nullptr || w->className != "Button" || isGroupBox(*w) || !canTakeFocus(*w))
        return false;
    dialog.onCommand(id, BN_CLICKED_);
    return true;
}

bool modelSelect(CDialog& dialog, unsigned id, int index)
{
    ModalRun* run = runOf(dialog);
    if (run == nullptr || run->ended || !run->self->enabled) return false;
    WindowState* w = childOf(*run, id);
    if (w == nullptr || w->className != "ComboBox" || !canTakeFocus(*w)) return false;
    if (index < 0 || index >= static_cast<int>(w->items.size())) return false;
    w->curSel = index;
    dialog.onCommand(id, CBN_SELCHANGE_);
    return true;
}

PaintResult modelPaint(CDialog& dialog, unsigned id)
{
    PaintResult result;
    WindowState* w = modelControl(dialog, id);
    RecordingDC dc(w);
    Handle brush = nullptr;
    if (w != nullptr && w->object != nullptr) {
        unsigned kind = kCtlColorStatic;
        if (w->className == "Button" && !isGroupBox(*w)) kind = kCtlColorButton;
        if (w->className == "ComboBox") kind = kCtlColorListBox;
        brush = w->object->reflectCtlColor(dc, kind);
    }
    result.fontFace = dc.fontFace;
    result.fontTenths = dc.fontTenths;
    if (brush == nullptr) {
        // Not handled: the dialog's own colouring runs over whatever the
        // control set, but a font it selected stays selected.
        result.handled = false;
        result.textColor = kModelDialogTextColor;
        result.backColor = kModelDialogFaceColor;
        result.brushColor = kModelDialogFaceColor;
        return result;
    }
    result.handled = true;
    result.textColor = dc.textColor;
    result.backColor = dc.backColor;
    auto& g = graphics();
    std::lock_guard lock(g.mutex);
    auto found = g.brushes.find(brush);
    result.brushAlive = found != g.brushes.end();
    result.brushColor = result.brushAlive ? found->second : 0;
    return result;
}

ScriptedModalDriver& ScriptedModalDriver::then(Step step)
{
    steps_.push_back(std::move(step));
    return *this;
}

void ScriptedModalDriver::run(CDialog& dialog)
{
    ++runs_;
    if (next_ < steps_.size()) steps_[next_++](dialog);
}

ModalDriverScope::ModalDriverScope(ModalDriver* driver) : previous_(modalDriver())
{
    setModalDriver(driver);
}

ModalDriverScope::~ModalDriverScope()
{
    setModalDriver(previous_);
}
