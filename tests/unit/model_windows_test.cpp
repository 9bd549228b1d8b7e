#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "platform/model/ModelWindows.h"
#include "resources/DialogTemplates.h"

namespace {

// A label that answers the colour request the way the test configures it.
class ProbeLabel : public CStatic {
public:
    bool setColours = false;
    ColorRef text = 0, back = 0;
    CBrush* brush = nullptr;
    CFont* font = nullptr;

    Handle reflectCtlColor(CDC& dc, unsigned) override
    {
        if (setColours) {
            dc.setTextColor(text);
            dc.setBkColor(back);
        }
        if (font != nullptr && font->exists()) dc.selectFont(*font);
        return brush != nullptr ? brush->handle : nullptr;
    }
};

struct Command {
    unsigned id, code;
};

// A dialog of either template with every addressable control bound.
class ProbeDialog : public CDialog {
public:
    explicit ProbeDialog(unsigned id) : CDialog(id)
    {
        bindControl(1, first);
        bindControl(2, second);
        if (id == kMainWindowTemplateId) {
            bindControl(103, list);
            bindControl(104, bar);
            bindControl(1032, status);
        } else {
            bindControl(1010, status);
        }
    }
    bool onInitDialog() override
    {
        CDialog::onInitDialog();
        if (init) init(*this);
        return placeFocus;
    }
    bool onCommand(unsigned id, unsigned code) override
    {
        commands.push_back({id, code});
        if (id == 1 && code == BN_CLICKED_ && !endOnOk) return true;
        return CDialog::onCommand(id, code);
    }

    CButton first, second;
    CComboBox list;
    CProgressCtrl bar;
    ProbeLabel status;
    std::function<void(ProbeDialog&)> init;
    bool placeFocus = true;
    bool endOnOk = true;
    std::vector<Command> commands;
};

intptr_t runWith(ProbeDialog& dialog, std::function<void(ProbeDialog&)> step)
{
    ScriptedModalDriver driver;
    driver.then([&](CDialog& d) { step(static_cast<ProbeDialog&>(d)); });
    ModalDriverScope scope(&driver);
    return dialog.doModal();
}

TEST(ModelTemplates, EveryTemplateControlBecomesAWindowWithItsValues)
{
    size_t count = 0;
    const DialogTemplate* all = dialogTemplates(count);
    ASSERT_EQ(count, 2u);
    for (size_t t = 0; t < count; ++t) {
        const DialogTemplate& tpl = all[t];
        ProbeDialog dialog(tpl.id);
        runWith(dialog, [&](ProbeDialog& d) {
            EXPECT_EQ(d.getWindowText(), tpl.caption);
            EXPECT_EQ(d.state->className, "#32770");
            const auto controls = modelControls(d);
            ASSERT_EQ(controls.size(), tpl.count);
            for (size_t i = 0; i < tpl.count; ++i) {
                const ControlTemplate& c = tpl.controls[i];
                const WindowState& w = *controls[i];
                SCOPED_TRACE(testing::Message() << tpl.id << "/" << c.id);
                EXPECT_EQ(w.id, c.id);
                EXPECT_EQ(w.className, c.className);
                EXPECT_EQ(w.text, c.text);
                EXPECT_EQ(w.style, c.style);
                EXPECT_EQ(w.exStyle, c.exStyle);
                EXPECT_EQ(w.x, c.x);
                EXPECT_EQ(w.y, c.y);
                EXPECT_EQ(w.width, c.w);
                EXPECT_EQ(w.height, c.h);
                EXPECT_EQ(w.enabled, (c.style & WS_DISABLED_) == 0);
                EXPECT_TRUE(w.visible);
                EXPECT_EQ(w.parent, d.state);
            }
        });
    }
}

TEST(ModelTemplates, WindowFactsTheProgramReliesOn)
{
    const DialogTemplate* main = findDialogTemplate(102);
    const DialogTemplate* notice = findDialogTemplate(129);
    ASSERT_NE(main, nullptr);
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(findDialogTemplate(130), nullptr);
    EXPECT_STREQ(main->fontFace, "Arial");
    EXPECT_EQ(main->fontPoints, 8);
    EXPECT_EQ(main->exStyle & WS_EX_APPWINDOW_, WS_EX_APPWINDOW_);
    EXPECT_STREQ(notice->fontFace, "Tahoma");
    EXPECT_EQ(notice->fontPoints, 9);
    for (const DialogTemplate* t : {main, notice}) {
        // OK is the default button and Enter presses it; Cancel is a plain one.
        EXPECT_EQ(findControlTemplate(*t, 1)->style & BS_TYPEMASK_, BS_DEFPUSHBUTTON_);
        EXPECT_EQ(findControlTemplate(*t, 2)->style & BS_TYPEMASK_, BS_PUSHBUTTON_);
        EXPECT_EQ(t->style & DS_SETFONT_, DS_SETFONT_);
    }
    // The white panel lies behind everything: last in template order.
    EXPECT_EQ(notice->controls[notice->count - 1].id, 1007u);
    EXPECT_EQ(findControlTemplate(*notice, 1014)->imageId, kLogoBitmapId);
    EXPECT_STREQ(findControlTemplate(*notice, 1013)->text, "Firmware update program");
    EXPECT_EQ(findControlTemplate(*main, 103)->style & 0xF, CBS_DROPDOWNLIST_);
}

TEST(ModelDialog, UnknownTemplateFailsWithoutRunningTheDriver)
{
    ScriptedModalDriver driver;
    ModalDriverScope scope(&driver);
    ProbeDialog dialog(999);
    EXPECT_EQ(dialog.doModal(), -1);
    EXPECT_EQ(driver.runs(), 0);
}

TEST(ModelDialog, EndsWithTheValueGivenToEndDialogAndUnbindsAfterwards)
{
    ProbeDialog dialog(102);
    const intptr_t result = runWith(dialog, [](ProbeDialog& d) {
        EXPECT_EQ(activeModelDialog(), &d);
        EXPECT_NE(d.list.state, nullptr);
        EXPECT_EQ(modelControl(d, 103), d.list.state);
        d.endDialog(42);
        d.endDialog(7); // the first ending counts
    });
    EXPECT_EQ(result, 42);
    EXPECT_EQ(dialog.state, nullptr);
    EXPECT_EQ(dialog.list.state, nullptr);
    EXPECT_EQ(activeModelDialog(), nullptr);
    // An unbound control answers like a missing window.
    EXPECT_EQ(dialog.list.addString("x"), -1);
    EXPECT_FALSE(dialog.first.isWindowEnabled());
}

TEST(ModelDialog, ADialogLeftOpenEndsWithCancel)
{
    {
        ProbeDialog dialog(129);
        EXPECT_EQ(runWith(dialog, [](ProbeDialog&) {}), IDCANCEL_);
    }
    {
        ProbeDialog dialog(129);
        ModalDriverScope scope(nullptr);
        EXPECT_EQ(dialog.doModal(), IDCANCEL_);
    }
}

TEST(ModelDialog, EndingDuringInitialisationSkipsTheDriver)
{
    ProbeDialog dialog(129);
    dialog.init = [](ProbeDialog& d) { d.endDialog(IDOK_); };
    ScriptedModalDriver driver;
    driver.then([](CDialog&) { ADD_FAILURE() << "driver ran"; });
    ModalDriverScope scope(&driver);
    EXPECT_EQ(dialog.doModal(), IDOK_);
    EXPECT_EQ(driver.runs(), 0);
}

TEST(ModelDialog, FocusAfterInitialisation)
{
    struct Case {
        unsigned templateId;
        bool placeFocus;
        bool disableFirst;
        unsigned setBy; // control the dialog focuses itself, 0 for none
        unsigned expected;
    };
    const Case cases[] = {
        {102, true, false, 0, 1},                                   // the first tab stop: UPDATE
        {102, true, true, 0, 2},                                    // a disabled button is skipped
        {102, false, false, 103, 103},                              // the dialog placed it: kept
        {129, false, false, 1010, 1010}, {129, false, false, 0, 0}, // nobody: no focus
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.templateId << " " << c.setBy);
        ProbeDialog dialog(c.templateId);
        dialog.placeFocus = c.placeFocus;
        dialog.init = [&](ProbeDialog& d) {
            if (c.disableFirst) d.first.enableWindow(false);
            if (c.setBy == 103) d.list.setFocus();
            if (c.setBy == 1010) d.status.setFocus();
        };
        runWith(dialog, [&](ProbeDialog& d) {
            WindowState* focus = modelFocus(d);
            if (c.expected == 0) {
                EXPECT_EQ(focus, nullptr);
            } else {
                ASSERT_NE(focus, nullptr);
                EXPECT_EQ(focus->id, c.expected);
            }
        });
    }
}

TEST(ModelDialog, DisablingOrHidingTheFocusedControlDropsTheFocus)
{
    ProbeDialog dialog(102);
    runWith(dialog, [](ProbeDialog& d) {
        ASSERT_EQ(modelFocus(d), d.first.state);
        d.first.enableWindow(false);
        EXPECT_EQ(modelFocus(d), nullptr);
        EXPECT_FALSE(modelSetFocus(d, 1));
        EXPECT_TRUE(modelSetFocus(d, 2));
        d.second.showWindow(false);
        EXPECT_EQ(modelFocus(d), nullptr);
    });
}

TEST(ModelDialog, ClicksReachTheDialogOnlyFromUsableButtons)
{
    struct Case {
        const char* name;
        std::function<void(ProbeDialog&)> prepare;
        unsigned id;
        bool delivered;
    };
    const Case cases[] = {
        {"enabled", [](ProbeDialog&) {}, 1, true},
        {"disabled", [](ProbeDialog& d) { d.first.enableWindow(false); }, 1, false},
        {"hidden", [](ProbeDialog& d) { d.first.showWindow(false); }, 1, false},
        {"group box", [](ProbeDialog&) {}, kUnaddressedControlId, false},
        {"not a button", [](ProbeDialog&) {}, 104, false},
        {"missing", [](ProbeDialog&) {}, 77, false},
        {"disabled dialog", [](ProbeDialog& d) { d.enableWindow(false); }, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProbeDialog dialog(102);
        dialog.endOnOk = false;
        runWith(dialog, [&](ProbeDialog& d) {
            c.prepare(d);
            EXPECT_EQ(modelClick(d, c.id), c.delivered);
        });
        if (c.delivered) {
            ASSERT_EQ(dialog.commands.size(), 1u);
            EXPECT_EQ(dialog.commands[0].id, c.id);
            EXPECT_EQ(dialog.commands[0].code, BN_CLICKED_);
        } else {
            EXPECT_TRUE(dialog.commands.empty());
        }
    }
}

TEST(ModelDialog, ClicksAfterTheEndAreIgnored)
{
    ProbeDialog dialog(102);
    const intptr_t result = runWith(dialog, [](ProbeDialog& d) {
        EXPECT_TRUE(modelClick(d, 2));
        EXPECT_TRUE(modelDialogEnded(d));
        EXPECT_FALSE(modelClick(d, 1));
    });
    EXPECT_EQ(result, IDCANCEL_);
    EXPECT_EQ(dialog.commands.size(), 1u);
}

TEST(ModelDialog, SelectingAListEntrySendsSelChange)
{
    ProbeDialog dialog(102);
    dialog.init = [](ProbeDialog& d) {
        EXPECT_EQ(d.list.addString("A"), 0);
        EXPECT_EQ(d.list.addString("B"), 1);
        EXPECT_EQ(d.list.setCurSel(0), 0);
    };
    runWith(dialog, [](ProbeDialog& d) {
        EXPECT_FALSE(modelSelect(d, 103, 2));
        EXPECT_FALSE(modelSelect(d, 103, -1));
        EXPECT_FALSE(modelSelect(d, 1, 0));
        EXPECT_TRUE(modelSelect(d, 103, 1));
        EXPECT_EQ(d.list.getCurSel(), 1);
        EXPECT_EQ(d.list.getLBText(1), "B");
        EXPECT_EQ(d.list.getLBText(2), "");
        EXPECT_EQ(d.list.getCount(), 2);
        // An index outside the list clears the selection and reports an error.
        EXPECT_EQ(d.list.setCurSel(5), -1);
        EXPECT_EQ(d.list.getCurSel(), -1);
    });
    ASSERT_EQ(dialog.commands.size(), 1u);
    EXPECT_EQ(dialog.commands[0].id, 103u);
    EXPECT_EQ(dialog.commands[0].code, CBN_SELCHANGE_);
}

TEST(ModelProgress, BehavesLikeTheStandardProgressBar)
{
    enum Op { Range, Step, Pos, StepIt };
    struct Action {
        Op op;
        int a, b;
        int answer; // previous value where the operation answers one, else -1
        int pos;    // position afterwards
    };
    struct Case {
        const char* name;
        std::vector<Action> actions;
    };
    const Case cases[] = {
        {"steps then wraps past the upper limit",
         {{Range, 0, 3, -1, 0},
          {Step, 1, 0, 10, 0},
          {StepIt, 0, 0, 0, 1},
          {StepIt, 0, 0, 1, 2},
          {StepIt, 0, 0, 2, 3},
          {StepIt, 0, 0, 3, 0}}},
        {"position kept within the range",
         {{Range, 0, 10, -1, 0},
          {Pos, 15, 0, 0, 10},
          {Pos, -4, 0, 10, 0},
          {Pos, 7, 0, 0, 7},
          {Range, 0, 5, -1, 5},
          {Range, 6, 20, -1, 6}}},
        {"an empty range does not move",
         {{Range, 0, 0, -1, 0}, {Step, 1, 0, 10, 0}, {StepIt, 0, 0, 0, 0}}},
        {"limits are 16-bit", {{Range, 0, 70000, -1, 0}, {Pos, 5000, 0, 0, 4464}}},
        {"a big step wraps at once",
         {{Range, 0, 10, -1, 0}, {Pos, 8, 0, 0, 8}, {Step, 5, 0, 10, 8}, {StepIt, 0, 0, 8, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProbeDialog dialog(102);
        runWith(dialog, [&](ProbeDialog& d) {
            EXPECT_EQ(d.bar.state->rangeLower, 0);
            EXPECT_EQ(d.bar.state->rangeUpper, 100);
            for (size_t i = 0; i < c.actions.size(); ++i) {
                const Action& a = c.actions[i];
                SCOPED_TRACE(i);
                int answer = -1;
                switch (a.op) {
                case Range:
                    d.bar.setRange(a.a, a.b);
                    break;
                case Step:
                    answer = d.bar.setStep(a.a);
                    break;
                case Pos:
                    answer = d.bar.setPos(a.a);
                    break;
                case StepIt:
                    answer = d.bar.stepIt();
                    break;
                }
                EXPECT_EQ(answer, a.answer);
                EXPECT_EQ(d.bar.state->pos, a.pos);
            }
        });
    }
}

TEST(ModelPaint, ColourRequestWithAndWithoutBrushAndFont)
{
    struct Case {
        const char* name;
        bool colours, brush, font;
        PaintResult expected;
    };
    const Case cases[] = {
        {"brush and font",
         true,
         true,
         true,
         {true, 0xFF0000, 0xFFFFFF, 0xFFFFFF, "Times", 190, true}},
        {"brush only", true, true, false, {true, 0xFF0000, 0xFFFFFF, 0xFFFFFF, "", 0, true}},
        {"font only: dialog colours, own font",
         true,
         false,
         true,
         {false, kModelDialogTextColor, kModelDialogFaceColor, kModelDialogFaceColor, "Times", 190,
          false}},
        {"nothing: a plain static",
         false,
         false,
         false,
         {false, kModelDialogTextColor, kModelDialogFaceColor, kModelDialogFaceColor, "", 0,
          false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CBrush brush;
        CFont font;
        brush.createSolidBrush(0xFFFFFF);
        font.createPointFont(190, "Times");
        ProbeDialog dialog(129);
        dialog.status.setColours = c.colours;
        dialog.status.text = 0xFF0000;
        dialog.status.back = 0xFFFFFF;
        dialog.status.brush = c.brush ? &brush : nullptr;
        dialog.status.font = c.font ? &font : nullptr;
        runWith(dialog, [&](ProbeDialog& d) {
            const PaintResult p = modelPaint(d, 1010);
            EXPECT_EQ(p.handled, c.expected.handled);
            EXPECT_EQ(p.textColor, c.expected.textColor);
            EXPECT_EQ(p.backColor, c.expected.backColor);
            EXPECT_EQ(p.brushColor, c.expected.brushColor);
            EXPECT_EQ(p.fontFace, c.expected.fontFace);
            EXPECT_EQ(p.fontTenths, c.expected.fontTenths);
            EXPECT_EQ(p.brushAlive, c.expected.brushAlive);
        });
    }
}

TEST(ModelPaint, ABrushDeletedBeforeThePaintIsReported)
{
    CBrush brush;
    brush.createSolidBrush(0x00FF00);
    ProbeDialog dialog(129);
    Handle stale = brush.handle;
    brush.deleteObject();
    struct StaleLabel : CStatic {
        Handle h;
        Handle reflectCtlColor(CDC&, unsigned) override { return h; }
    } label;
    label.h = stale;
    ProbeDialog* self = &dialog;
    dialog.init = [&](ProbeDialog&) {
        // Rebind 1010 to the label answering the deleted brush.
        modelControl(*self, 1010)->object = &label;
    };
    runWith(dialog, [](ProbeDialog& d) {
        const PaintResult p = modelPaint(d, 1010);
        EXPECT_TRUE(p.handled);
        EXPECT_FALSE(p.brushAlive);
    });
}

TEST(ModelGraphics, LiveObjectCountsCatchLeaks)
{
    const int fonts = modelLiveFonts();
    const int brushes = modelLiveBrushes();
    {
        CFont font;
        CBrush brush;
        EXPECT_FALSE(font.exists());
        EXPECT_TRUE(font.createPointFont(90, std::string(40, 'F')));
        EXPECT_EQ(font.face.size(), 31u);
        EXPECT_NE(font.handle, nullptr);
        // Making it again replaces the first object.
        const Handle first = font.handle;
        EXPECT_TRUE(font.createPointFont(85, "Arial"));
        EXPECT_NE(font.handle, first);
        EXPECT_EQ(modelLiveFonts(), fonts + 1);
        EXPECT_TRUE(brush.createSolidBrush(0x808080));
        EXPECT_TRUE(brush.createSolidBrush(0xFFFFFF));
        EXPECT_EQ(brush.color, 0xFFFFFFu);
        EXPECT_EQ(modelLiveBrushes(), brushes + 1);
        brush.deleteObject();
        EXPECT_FALSE(brush.exists());
        EXPECT_EQ(modelLiveBrushes(), brushes);
    }
    EXPECT_EQ(modelLiveFonts(), fonts);
    EXPECT_EQ(modelLiveBrushes(), brushes);
}

TEST(ModelWindow, IconsMessagesAndRepaints)
{
    ProbeDialog dialog(102);
    int repaints = 0;
    CDialog* repainted = nullptr;
    setRepaintHook([&](CDialog& d) {
        ++repaints;
        repainted = &d;
    });
    runWith(dialog, [&](ProbeDialog& d) {
        Handle icon = CDialog::loadIcon(kAppIconId);
        EXPECT_NE(icon, nullptr);
        EXPECT_EQ(CDialog::loadIcon(5), nullptr);
        d.setIcon(icon, ICON_BIG_);
        EXPECT_EQ(d.state->bigIcon, icon);
        EXPECT_EQ(d.state->smallIcon, nullptr);
        d.sendMessage(0x0080, ICON_SMALL_, reinterpret_cast<intptr_t>(icon));
        EXPECT_EQ(d.state->smallIcon, icon);
        EXPECT_EQ(d.bar.sendMessage(0x0402, 30, 0), 0); // PBM_SETPOS answers the old position
        EXPECT_EQ(d.bar.state->pos, 30);
        EXPECT_EQ(d.state->sentMessages.size(), 1u);
        int w = 0, h = 0;
        d.getClientSize(w, h);
        EXPECT_GT(w, 0);
        EXPECT_GT(h, 0);
        EXPECT_EQ(CDialog::getSystemMetrics(SM_CXICON_), 32);
        {
            CPaintDC paint(d);
            paint.dc().drawIcon(3, 4, icon);
        }
        ASSERT_EQ(d.state->drawnIcons.size(), 1u);
        EXPECT_EQ(d.state->drawnIcons[0].x, 3);
        d.bar.updateWindow();
        d.updateWindow();
    });
    setRepaintHook(nullptr);
    EXPECT_EQ(repaints, 2);
    EXPECT_EQ(repainted, &dialog);
}

TEST(ModelThread, StartsDetachedAndReportsFailure)
{
    static std::atomic<int> ran{0};
    ran = 0;
    auto entry = [](void* p) -> unsigned {
        ran += *static_cast<int*>(p);
        return 0;
    };
    static int three = 3;
    EXPECT_NE(beginThread(entry, &three), nullptr);
    for (int i = 0; i < 500 && ran.load() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(ran.load(), 3);
    setModelThreadStartFailure(true);
    EXPECT_EQ(beginThread(entry, &three), nullptr);
    setModelThreadStartFailure(false);
    EXPECT_EQ(beginThread(nullptr, nullptr), nullptr);
}

TEST(ModelApp, RegistersItselfWhileItLives)
{
    struct App : CWinApp {
        bool startUp() override { return false; }
    };
    {
        App app;
        EXPECT_EQ(currentApp(), &app);
    }
    EXPECT_NE(currentApp(), nullptr) << "the program's own application object is gone";
}

TEST(ModelDriver, ScriptedStepsRunOncePerModalRunInOrder)
{
    std::vector<int> order;
    ScriptedModalDriver driver;
    driver.then([&](CDialog& d) {
        order.push_back(1);
        d.endDialog(IDOK_);
    });
    driver.then([&](CDialog&) { order.push_back(2); });
    ModalDriverScope scope(&driver);
    ProbeDialog a(129), b(102), c(129);
    EXPECT_EQ(a.doModal(), IDOK_);
    EXPECT_EQ(driver.stepsLeft(), 1u);
    EXPECT_EQ(b.doModal(), IDCANCEL_);
    EXPECT_EQ(c.doModal(), IDCANCEL_);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_EQ(driver.runs(), 3);
}

} // namespace
