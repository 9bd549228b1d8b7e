#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "app/Language.h"
#include "package/UpdatePackage.h"
#include "platform/model/ModelWindows.h"
#include "platform/scripted/ScriptedSystem.h"
#include "transport/DriveRecords.h"
#include "ui/MainWindow.h"

#include "tests/unit/script_driver.h"
#include "tests/unit/shift_jis.h"

namespace {

// What the update steps saw and answer; the fakes below read and write it.
struct StepLog {
    MainWindow* window = nullptr;
    int eligibilityAnswer = 1;
    int monitorAnswer = 1;
    int eligibilityCalls = 0;
    int monitorCalls = 0;
    int launchCalls = 0;
    CWnd* launchOwner = nullptr;
    int driveAtCheck = -1;
    bool buttonsEnabledAtCheck = true;
};
StepLog steps;

int fakeEligibility()
{
    ++steps.eligibilityCalls;
    steps.driveAtCheck = selectedDrive;
    steps.buttonsEnabledAtCheck =
        steps.window->updateButton.isWindowEnabled() || steps.window->exitButton.isWindowEnabled();
    return steps.eligibilityAnswer;
}

int fakeMonitor()
{
    ++steps.monitorCalls;
    // The monitor leaves its last display behind.
    steps.window->progressBar.setPos(57);
    steps.window->statusLine.setWindowText(" busy");
    return steps.monitorAnswer;
}

void fakeLaunch(CWnd* owner)
{
    ++steps.launchCalls;
    steps.launchOwner = owner;
}

const char* const kSelectEnglish = " Please Select Drive and Click UPDATE Button.";
const char* const kSelectJapanese = " ドライブを選択し、UPDATEボタンを押して下さい。";
const char* const kInformationTitle = "Information - Upgrade Program";

constexpr unsigned kList = 103, kProgress = 104, kStatus = 1032;

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        system.install();
        userLcid = 1033;
        resetPackage();
        std::strcpy(package.applicationTitle, "RX1234 Firmware Update 1.05");
        resetDriveTable();
        const char* texts[] = {"E:\\ ORVENTA CD-R RX1234 1.00", "F:\\ ORVENTA CD-R RX1234 1.02",
                               "G:\\ ORVENTA CD-R RX1234 1.04"};
        for (int i = 0; i < 3; ++i)
            std::strcpy(driveEntries[i].displayText, texts[i]);
        driveCount = 3;
        steps = StepLog{};
    }
    void TearDown() override
    {
        resetPackage();
        resetDriveTable();
        userLcid = 0;
        steps = StepLog{};
    }

    // A window whose update steps are the fakes above.
    void prepare(MainWindow& window)
    {
        window.steps = {fakeEligibility, fakeMonitor, fakeLaunch};
        steps.window = &window;
    }

    intptr_t run(MainWindow& window, const std::function<void(CDialog&)>& script)
    {
        ScriptDriver driver(script);
        return window.doModal();
    }

    static bool enabled(CDialog& d, unsigned id) { return modelControl(d, id)->enabled; }

    ScriptedSystem system;
};

} // namespace

TEST_F(MainWindowTest, OpensWithTheDrivesListedAndTheFirstSelected)
{
    struct Case {
        uint32_t lcid;
        const char* status; // UTF-8
        const char* face;   // UTF-8, "" for the dialog font
    };
    const Case cases[] = {
        {1033, kSelectEnglish, ""},
        {1041, kSelectJapanese, "ＭＳ Ｐゴシック"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lcid);
        userLcid = c.lcid;
        MainWindow window;
        prepare(window);
        EXPECT_EQ(activeMainWindow(), nullptr);
        const intptr_t result = run(window, [&](CDialog& d) {
            EXPECT_EQ(activeMainWindow(), &window);
            EXPECT_EQ(d.getWindowText(), "RX1234 Firmware Update 1.05");
            WindowState* list = modelControl(d, kList);
            ASSERT_NE(list, nullptr);
            EXPECT_EQ(list->items, (std::vector<std::string>{"E:\\ ORVENTA CD-R RX1234 1.00",
                                                             "F:\\ ORVENTA CD-R RX1234 1.02",
                                                             "G:\\ ORVENTA CD-R RX1234 1.04"}));
            EXPECT_EQ(list->curSel, 0);
            EXPECT_EQ(modelFocus(d), list);
            EXPECT_EQ(fromShiftJis(modelControl(d, kStatus)->text), c.status);
            EXPECT_TRUE(enabled(d, IDOK_));
            EXPECT_TRUE(enabled(d, IDCANCEL_));
            EXPECT_EQ(d.state->bigIcon, window.appIcon);
            EXPECT_EQ(d.state->smallIcon, window.appIcon);

            // Only the status line changes its font, and it keeps the dialog colours.
            const PaintResult status = modelPaint(d, kStatus);
            EXPECT_FALSE(status.handled);
            EXPECT_EQ(fromShiftJis(status.fontFace), c.face);
            if (*c.face) {
                EXPECT_EQ(status.fontTenths, 90);
            }
            EXPECT_TRUE(modelClick(d, IDCANCEL_));
        });
        EXPECT_EQ(result, IDCANCEL_);
        EXPECT_EQ(activeMainWindow(), nullptr);
        EXPECT_EQ(steps.eligibilityCalls, 0);
    }
}

TEST_F(MainWindowTest, UpdateOutcomes)
{
    struct Case {
        const char* name;
        uint32_t lcid;
        int eligibility;
        int monitor;
        uint8_t noRestart;
        int answer; // to the restart question
        int monitorCalls;
        bool updated;
        const char* boxText; // UTF-8, nullptr = no box
        uint32_t boxFlags;
        bool launched;
        intptr_t result;
    };
    const char* completed = "Firmware update is completed.";
    const char* question =
        "Firmware update is completed.\n\nDo you want to restart your computer now?";
    const Case cases[] = {
        {"refused by the checks", 1033, 0, 1, 0, 0, 0, false, nullptr, 0, false, IDCANCEL_},
        {"failed update", 1033, 1, 0, 0, 0, 1, false, nullptr, 0, false, IDCANCEL_},
        {"success without restart", 1033, 1, 1, 1, 0, 1, true, completed, 0x1040, false, IDCANCEL_},
        {"restart declined", 1033, 1, 1, 0, IDNO_, 1, true, question, 0x1044, false, IDCANCEL_},
        {"restart accepted", 1033, 1, 1, 0, IDYES_, 1, true, question, 0x1044, true, IDOK_},
        {"Japanese success", 1041, 1, 1, 1, 0, 1, true, "ファームウェア更新に成功しました。",
         0x1040, false, IDCANCEL_},
        {"Japanese restart accepted", 1041, 1, 1, 0, IDYES_, 1, true,
         "ファームウェア更新は成功しました。\n\n再起動しますか？", 0x1044, true, IDOK_},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedSystem fresh;
        fresh.install();
        if (c.answer != 0) fresh.answerNext(c.answer);
        userLcid = c.lcid;
        package.options.noRestart = c.noRestart;
        resetDriveTable();
        driveCount = 3;
        steps = StepLog{};
        steps.eligibilityAnswer = c.eligibility;
        steps.monitorAnswer = c.monitor;

        MainWindow window;
        prepare(window);
        const intptr_t result = run(window, [&](CDialog& d) {
            ASSERT_TRUE(modelSelect(d, kList, 1));
            EXPECT_EQ(selectedDrive, 1);
            ASSERT_TRUE(modelClick(d, IDOK_));

            EXPECT_EQ(steps.eligibilityCalls, 1);
            EXPECT_EQ(steps.driveAtCheck, 1);
            EXPECT_FALSE(steps.buttonsEnabledAtCheck);
            EXPECT_EQ(steps.monitorCalls, c.monitorCalls);
            EXPECT_EQ(driveEntries[1].updated, c.updated ? 1 : 0);
            EXPECT_EQ(driveEntries[0].updated, 0);

            // Idle again in every case, even when the run is about to end.
            EXPECT_EQ(modelControl(d, kProgress)->pos, 0);
            EXPECT_EQ(fromShiftJis(modelControl(d, kStatus)->text),
                      c.lcid == 1041 ? kSelectJapanese : kSelectEnglish);
            EXPECT_TRUE(enabled(d, IDCANCEL_));
            EXPECT_EQ(enabled(d, IDOK_), !c.updated);

            if (c.result == IDCANCEL_) {
                EXPECT_TRUE(modelClick(d, IDCANCEL_));
            }
        });
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(steps.launchCalls, c.launched ? 1 : 0);
        if (c.launched) {
            EXPECT_EQ(steps.launchOwner, &window);
        }

        const auto boxes = fresh.messageBoxes();
        if (c.boxText == nullptr) {
            EXPECT_TRUE(boxes.empty());
        } else {
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(fromShiftJis(boxes[0].text), c.boxText);
            EXPECT_EQ(boxes[0].title, kInformationTitle);
            EXPECT_EQ(boxes[0].flags, c.boxFlags);
            EXPECT_EQ(boxes[0].owner, &window);
        }
    }
    system.install();
}

TEST_F(MainWindowTest, AnUpdatedDriveCannotBeUpdatedAgain)
{
    package.options.noRestart = 1;
    MainWindow window;
    prepare(window);
    run(window, [&](CDialog& d) {
        ASSERT_TRUE(modelClick(d, IDOK_));
        EXPECT_EQ(driveEntries[0].updated, 1);
        EXPECT_FALSE(enabled(d, IDOK_));

        // Neither the button nor a stray OK command starts it again.
        EXPECT_FALSE(modelClick(d, IDOK_));
        window.onCommand(IDOK_, BN_CLICKED_);
        EXPECT_EQ(steps.eligibilityCalls, 1);

        ASSERT_TRUE(modelSelect(d, kList, 2));
        EXPECT_TRUE(enabled(d, IDOK_));
        ASSERT_TRUE(modelClick(d, IDOK_));
        EXPECT_EQ(steps.eligibilityCalls, 2);
        EXPECT_EQ(steps.driveAtCheck, 2);
        EXPECT_EQ(driveEntries[2].updated, 1);

        ASSERT_TRUE(modelSelect(d, kList, 1));
        EXPECT_TRUE(enabled(d, IDOK_));
        ASSERT_TRUE(modelSelect(d, kList, 0));
        EXPECT_FALSE(enabled(d, IDOK_));
        EXPECT_TRUE(modelClick(d, IDCANCEL_));
    });
    EXPECT_EQ(system.messageBoxes().size(), 2u);
}

TEST_F(MainWindowTest, AFailedDriveCanBeTriedAgain)
{
    steps.monitorAnswer = 0;
    MainWindow window;
    prepare(window);
    run(window, [&](CDialog& d) {
        ASSERT_TRUE(modelClick(d, IDOK_));
        steps.monitorAnswer = 1;
        package.options.noRestart = 1;
        ASSERT_TRUE(modelClick(d, IDOK_));
        EXPECT_EQ(steps.monitorCalls, 2);
        EXPECT_EQ(driveEntries[0].updated, 1);
        EXPECT_TRUE(modelClick(d, IDCANCEL_));
    });
}

TEST_F(MainWindowTest, NoUpdateWithoutAListedDrive)
{
    MainWindow window;
    prepare(window);
    selectedDrive = 0;
    run(window, [&](CDialog& d) {
        window.driveList.setCurSel(-1);
        window.onUpdate();
        EXPECT_EQ(steps.eligibilityCalls, 0);
        EXPECT_EQ(selectedDrive, 0);
        EXPECT_FALSE(enabled(d, IDOK_));
        EXPECT_TRUE(enabled(d, IDCANCEL_));
        EXPECT_TRUE(modelClick(d, IDCANCEL_));
    });
}

TEST_F(MainWindowTest, MinimisedWindowDrawsItsIconCentred)
{
    MainWindow window;
    prepare(window);
    run(window, [&](CDialog& d) {
        EXPECT_EQ(window.onQueryDragIcon(), window.appIcon);
        EXPECT_FALSE(window.onPaint());
        EXPECT_TRUE(d.state->drawnIcons.empty());

        d.state->iconic = true;
        d.state->sentMessages.clear();
        EXPECT_TRUE(window.onPaint());
        d.state->iconic = false;

        int width = 0, height = 0;
        window.getClientSize(width, height);
        const int icon = CDialog::getSystemMetrics(SM_CXICON_);
        EXPECT_EQ(d.state->sentMessages, std::vector<unsigned>{WM_ICONERASEBKGND_});
        ASSERT_EQ(d.state->drawnIcons.size(), 1u);
        EXPECT_EQ(d.state->drawnIcons[0].x, (width - icon + 1) / 2);
        EXPECT_EQ(d.state->drawnIcons[0].y,
                  (height - CDialog::getSystemMetrics(SM_CYICON_) + 1) / 2);
        EXPECT_EQ(d.state->drawnIcons[0].icon, window.appIcon);
        EXPECT_TRUE(modelClick(d, IDCANCEL_));
    });
}
