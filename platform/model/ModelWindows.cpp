// The in-memory class library. Each modal run builds its windows from the
// dialog template table, binds the registered control objects to them and
// hands the dialog to the installed driver; nothing is drawn here.
#include "platform/model/ModelWindows.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <system_error>
#include <thread>

#include "resources/DialogTemplates.h"

namespace {

// Colour request kinds, as the control reports itself.
constexpr unsigned kCtlColorListBox = 2;
constexpr unsigned kCtlColorButton = 3;
constexpr unsigned kCtlColorStatic = 6;

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
constexpr int kIconSize = 32;

struct ModalRun {
    CDialog* dialog = nullptr;
    std::unique_ptr<WindowState> self;
    std::vector<std::unique_ptr<WindowState>> children;
    WindowState* focus = nullptr;
    bool ended = false;
    int result = 0;
};

std::vector<ModalRun*>& modalRuns()
{
    static std::vector<ModalRun*> runs;
    return runs;
}

ModalDriver* installedDriver = nullptr;
std::function<void(CDialog&)>& repaintHook()
{
    static std::function<void(CDialog&)> hook;
    return hook;
}
std::atomic<bool> failThreadStarts{false};

ModalRun* runOf(const CDialog& dialog)
{
    for (ModalRun* run : modalRuns())
        if (run->dialog == &dialog) return run;
    return nullptr;
}

// The run a window belongs to: as the dialog itself or as one of its controls.
ModalRun* runOwning(const WindowState* window)
{
    if (window == nullptr) return nullptr;
    for (ModalRun* run : modalRuns()) {
        if (run->self.get() == window) return run;
        if (window->parent == run->self.get()) return run;
    }
    return nullptr;
}

WindowState* childOf(ModalRun& run, unsigned id)
{
    for (auto& child : run.children)
        if (child->id == id) return child.get();
    return nullptr;
}

bool canTakeFocus(const WindowState& w)
{
    return w.enabled && w.visible;
}

bool isGroupBox(const WindowState& w)
{
    return w.className == "Button" && (w.style & BS_TYPEMASK_) == BS_GROUPBOX_;
}

// Live graphics objects: handle -> what was made.
struct GraphicsRegistry {
    std::mutex mutex;
    uintptr_t nextToken = 0x1000;
    std::set<Handle> fonts;
    std::map<Handle, ColorRef> brushes;

    Handle newToken()
    {
        nextToken += 4;
        return reinterpret_cast<Handle>(nextToken);
    }
};

GraphicsRegistry& graphics()
{
    static GraphicsRegistry registry;
    return registry;
}

// A device context that only remembers what was done to it.
class RecordingDC : public CDC {
public:
    explicit RecordingDC(WindowState* window) : window_(window) {}
    void setTextColor(ColorRef color) override { textColor = color; }
    void setBkColor(ColorRef color) override { backColor = color; }
    void selectFont(CFont& font) override
    {
        if (!font.exists()) return;
        fontFace = font.face;
        fontTenths = font.tenthsOfPoint;
    }
    void drawIcon(int x, int y, Handle icon) override
    {
        if (window_ != nullptr) window_->drawnIcons.push_back({x, y, icon});
    }
    Handle nativeHandle() override { return this; }

    ColorRef textColor = kModelDcTextColor;
    ColorRef backColor = kModelDcBackColor;
    std::string fontFace;
    int fontTenths = 0;

private:
    WindowState* window_;
};

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
// Graphics objects

CFont::~CFont()
{
    deleteObject();
}

bool CFont::createPointFont(int tenths, const std::string& faceName)
{
    // A second creation replaces the first object instead of leaking it.
    deleteObject();
    auto& g = graphics();
    std::lock_guard lock(g.mutex);
    handle = g.newToken();
    g.fonts.insert(handle);
    tenthsOfPoint = tenths;
    face = faceName.substr(0, 31);
    return true;
}

void CFont::deleteObject()
{
    if (handle == nullptr) return;
    auto& g = graphics();
    std::lock_guard lock(g.mutex);
    g.fonts.erase(handle);
    handle = nullptr;
    tenthsOfPoint = 0;
    face.clear();
}

CBrush::~CBrush()
{
    deleteObject();
}

bool CBrush::createSolidBrush(ColorRef brushColor)
{
    deleteObject();
    auto& g = graphics();
    std::lock_guard lock(g.mutex);
    handle = g.newToken();
    g.brushes[handle] = brushColor;
    color = brushColor;
    return true;
}

void CBrush::deleteObject()
{
    if (handle == nullptr) return;
    auto& g = graphics();
    std::lock_guard lock(g.mutex);
    g.brushes.erase(handle);
    handle = nullptr;
    color = 0;
}

int modelLiveFonts()
{
    auto& g = graphics();
    std::lock_guard lock(g.mutex);
    return static_cast<int>(g.fonts.size());
}

int modelLiveBrushes()
{
    auto& g = graphics();
    std::lock_guard lock(g.mutex);
    return static_cast<int>(g.brushes.size());
}

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

// ---------------------------------------------------------------------------
// Dialogs

struct DialogAccess {
    static void bind(CDialog& dialog, ModalRun& run)
    {
        for (int i = 0; i < dialog.bindingCount_; ++i) {
            const CDialog::Binding& b = dialog.bindings_[i];
            WindowState* w = childOf(run, b.id);
            if (w == nullptr || b.control == nullptr) continue;
            b.control->state = w;
            w->object = b.control;
        }
    }
    static void unbind(CDialog& dialog, ModalRun& run)
    {
        for (int i = 0; i < dialog.bindingCount_; ++i) {
            CWnd* control = dialog.bindings_[i].control;
            if (control != nullptr && runOwning(control->state) == &run) control->state = nullptr;
        }
    }
    static CWnd* parent(CDialog& dialog) { return dialog.parent_; }
};

CDialog::CDialog(unsigned templateId, CWnd* parent) : templateId_(templateId), parent_(parent)
{
}

CDialog::~CDialog() = default;

intptr_t CDialog::doModal()
{
    const DialogTemplate* t = findDialogTemplate(templateId_);
    if (t == nullptr || runOf(*this) != nullptr) return -1;

    ModalRun run;
    run.dialog = this;
    run.self = std::make_unique<WindowState>();
    WindowState& self = *run.self;
    self.className = "#32770";
    self.text = t->caption;
    self.width = t->w;
    self.height = t->h;
    self.style = t->style;
    self.exStyle = t->exStyle;
    self.object = this;
    CWnd* owner = DialogAccess::parent(*this);
    self.parent = owner != nullptr ? owner->state : nullptr;
    for (size_t i = 0; i < t->count; ++i) {
        const ControlTemplate& c = t->controls[i];
        auto w = std::make_unique<WindowState>();
        w->id = c.id;
        w->className = c.className;
        w->text = c.text;
        w->enabled = (c.style & WS_DISABLED_) == 0;
        w->visible = (c.style & WS_VISIBLE_) != 0;
        w->x = c.x;
        w->y = c.y;
        w->width = c.w;
        w->height = c.h;
        w->style = c.style;
        w->exStyle = c.exStyle;
        w->parent = &self;
        self.children.push_back(w.get());
        run.children.push_back(std::move(w));
    }
    state = &self;
    modalRuns().push_back(&run);

    // Whatever happens inside, the windows go away with the run.
    struct Cleanup {
        CDialog& dialog;
        ModalRun& run;
        ~Cleanup()
        {
            DialogAccess::unbind(dialog, run);
            for (auto& child : run.children)
                if (child->object != nullptr && child->object->state == child.get())
                    child->object->state = nullptr;
            if (dialog.state == run.self.get()) dialog.state = nullptr;
            auto& runs = modalRuns();
            runs.erase(std::remove(runs.begin(), runs.end(), &run), runs.end());
        }
    } cleanup{*this, run};

    const bool placeFocus = onInitDialog();
    if (placeFocus && !run.ended) {
        for (auto& child : run.children) {
            if ((child->style & WS_TABSTOP_) != 0 && canTakeFocus(*child)) {
                run.focus = child.get();
                break;
            }
        }
    }
    if (!run.ended && installedDriver != nullptr) installedDriver->run(*this);
    if (!run.ended) {
        run.ended = true;
        run.result = IDCANCEL_;
    }
    return run.result;
}

void CDialog::endDialog(int result)
{
    ModalRun* run = runOf(*this);
    if (run == nullptr || run->ended) return;
    run->ended = true;
    run->result = result;
}

bool CDialog::onInitDialog()
{
    ModalRun* run = runOf(*this);
    if (run != nullptr) DialogAccess::bind(*this, *run);
    return true;
}

Handle CDialog::loadIcon(unsigned resourceId)
{
    // The program carries one icon; its handle is a fixed token.
    if (resourceId != kAppIconId) return nullptr;
    static int iconToken;
    return &iconToken;
}

int CDialog::getSystemMetrics(int index)
{
    return index == SM_CXICON_ || index == SM_CYICON_ ? kIconSize : 0;
}

// ---------------------------------------------------------------------------
// Painting

struct CPaintDC::Impl {
    explicit Impl(CWnd& window) : dc(window.state) {}
    RecordingDC dc;
};

CPaintDC::CPaintDC(CWnd& window) : impl_(new Impl(window))
{
}

CPaintDC::~CPaintDC()
{
    delete impl_;
}

CDC& CPaintDC::dc()
{
    return impl_->dc;
}

// ---------------------------------------------------------------------------
// Threads and the application

CWinThread* beginThread(unsigned (*entry)(void*), void* parameter)
{
    if (entry == nullptr || failThreadStarts.load()) return nullptr;
    // Like the thread object of the Windows library, it deletes itself when
    // the thread ends; nobody joins the thread.
    auto* thread = new (std::nothrow) CWinThread;
    if (thread == nullptr) return nullptr;
    try {
        std::thread([entry, parameter, thread] {
            entry(parameter);
            delete thread;
        }).detach();
    } catch (const std::system_error&) {
        delete thread;
        return nullptr;
    }
    return thread;
}

void setModelThreadStartFailure(bool fail)
{
    failThreadStarts.store(fail);
}


// ---------------------------------------------------------------------------
// What drivers, tests and the terminal use

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
