// The modal run of a dialog: it builds the windows from the dialog template
// table, binds the registered control objects to them and hands the dialog to
// the installed driver; the windows go away with the run.
#include <algorithm>
#include <memory>

#include "platform/model/ModelState.h"
#include "resources/DialogTemplates.h"

namespace modelwindows {

std::vector<ModalRun*>& modalRuns()
{
    static std::vector<ModalRun*> runs;
    return runs;
}

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

} // namespace modelwindows

using namespace modelwindows;

namespace {

constexpr int kIconSize = 32;

} // namespace

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
