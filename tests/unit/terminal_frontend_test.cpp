#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/linux/MessagePresenter.h"
#include "platform/model/ModelWindows.h"
#include "platform/terminal/TerminalFrontEnd.h"
#include "platform/terminal/TerminalText.h"
#include "resources/DialogTemplates.h"

namespace {

constexpr int kColumns = 60; // content width 58

// The main window as the program fills it: a caption, two drives, the first
// selected, the list focused.
class MainProbe : public CDialog {
public:
    MainProbe() : CDialog(kMainWindowTemplateId)
    {
        bindControl(1, update);
        bindControl(2, exit);
        bindControl(103, list);
        bindControl(104, bar);
        bindControl(1032, status);
    }
    bool onInitDialog() override
    {
        CDialog::onInitDialog();
        setWindowText("CDR-7 Firmware 1.00");
        list.addString("E: ORVENTA CD-R   CDR-7 1.00");
        list.addString("F: ORVENTA CD-R   CDR-7 0.90");
        list.setCurSel(0);
        list.setFocus();
        status.setWindowText(" Please Select Drive and Click UPDATE Button.");
        return false;
    }
    bool onCommand(unsigned id, unsigned code) override
    {
        commands.push_back(id * 10 + code);
        if (id == 1 && code == BN_CLICKED_) {
            // Like an updated drive: UPDATE cannot be pressed again.
            update.enableWindow(false);
            return true;
        }
        return CDialog::onCommand(id, code);
    }

    CButton update, exit;
    CComboBox list;
    CProgressCtrl bar;
    CStatic status;
    std::vector<unsigned> commands;
};

class NoticeProbe : public CDialog {
public:
    NoticeProbe() : CDialog(kNoticeTemplateId)
    {
        bindControl(1008, headline);
        bindControl(1009, version);
        bindControl(1010, text);
        bindControl(1011, information);
        bindControl(1014, logo);
    }
    bool onInitDialog() override
    {
        CDialog::onInitDialog();
        headline.setWindowText("CD-R   CDR-7  Firmware");
        version.setWindowText("Version 1.00");
        text.setWindowText(noticeText);
        information.setWindowText("");
        logo.showWindow(showLogo);
        return true;
    }
    CStatic headline, version, text, information, logo;
    std::string noticeText;
    bool showLogo = true;
};

TerminalSettings lineSettings(std::istream& in, std::ostream& out,
                              const char* source = "WINDOWS-1252")
{
    TerminalSettings s;
    s.mode = TerminalSettings::Mode::Lines;
    s.input = &in;
    s.output = &out;
    s.columns = kColumns;
    s.sourceCharset = source;
    s.targetCharset = "UTF-8";
    return s;
}

// Renders the dialog while it runs, after `prepare`.
template <class Dialog>
std::vector<std::string> renderWhileRunning(TerminalFrontEnd& frontEnd, Dialog& dialog,
                                            std::function<void(Dialog&)> prepare = nullptr)
{
    std::vector<std::string> lines;
    ScriptedModalDriver driver;
    driver.then([&](CDialog& d) {
        if (prepare) prepare(static_cast<Dialog&>(d));
        lines = frontEnd.renderDialog(d);
    });
    ModalDriverScope scope(&driver);
    dialog.doModal();
    return lines;
}

long lineIndex(const std::vector<std::string>& lines, const std::string& line)
{
    const auto at = std::find(lines.begin(), lines.end(), line);
    return at == lines.end() ? -1 : static_cast<long>(at - lines.begin());
}

TEST(TerminalRender, MainWindowShowsListProgressStatusAndButtons)
{
    std::istringstream in;
    std::ostringstream out;
    TerminalFrontEnd frontEnd(lineSettings(in, out));
    MainProbe dialog;
    const auto lines = renderWhileRunning<MainProbe>(frontEnd, dialog, [](MainProbe& d) {
        d.bar.setRange(0, 10);
        d.bar.setPos(5);
        d.exit.enableWindow(false);
    });
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "+- CDR-7 Firmware 1.00 " + std::string(37, '-'));
    EXPECT_EQ(lines.back(), "+" + std::string(59, '-'));
    const long group = lineIndex(lines, "| -- DRIVE Information " + std::string(37, '-'));
    const long first = lineIndex(lines, "| > (*) 1  E: ORVENTA CD-R   CDR-7 1.00");
    const long second = lineIndex(lines, "|   ( ) 2  F: ORVENTA CD-R   CDR-7 0.90");
    const long bar =
        lineIndex(lines, "|   [" + std::string(19, '#') + std::string(19, '-') + "] 5/10");
    const long status = lineIndex(lines, "|  Please Select Drive and Click UPDATE Button.");
    const long buttons = lineIndex(lines, "|  [ UPDATE ]  ( EXIT )");
    EXPECT_GE(group, 1);
    EXPECT_GT(first, group);
    EXPECT_EQ(second, first + 1);
    EXPECT_GT(bar, second);
    EXPECT_GT(status, bar);
    EXPECT_GT(buttons, status);
}

TEST(TerminalRender, FocusedButtonAndEmptyProgress)
{
    std::istringstream in;
    std::ostringstream out;
    TerminalFrontEnd frontEnd(lineSettings(in, out));
    MainProbe dialog;
    const auto lines = renderWhileRunning<MainProbe>(frontEnd, dialog, [](MainProbe& d) {
        modelSetFocus(d, 2);
        d.bar.setRange(0, 0);
    });
    EXPECT_GE(lineIndex(lines, "|  [ UPDATE ] >[ EXIT ]"), 0);
    EXPECT_GE(lineIndex(lines, "|   (*) 1  E: ORVENTA CD-R   CDR-7 1.00"), 0);
    EXPECT_GE(lineIndex(lines, "|   [" + std::string(38, '-') + "] 0/0"), 0);
}

TEST(TerminalRender, NoticePageInJapaneseWrapsAndAlignsByColumns)
{
    std::istringstream in;
    std::ostringstream out;
    TerminalFrontEnd frontEnd(lineSettings(in, out, "CP932"));
    struct Case {
        bool logo;
    };
    for (const Case c : {Case{true}, Case{false}}) {
        NoticeProbe dialog;
        dialog.showLogo = c.logo;
        // 本ソフトウェアを使用することによって得られる動作や結果 (27 characters, 54 columns),
        // twice, separated by a line break.
        const std::string sentence =
            "\x96\x7b\x83\x5c\x83\x74\x83\x67\x83\x45\x83\x46\x83\x41\x82\xf0\x8e\x67\x97\x70"
            "\x82\xb7\x82\xe9\x82\xb1\x82\xc6\x82\xc9\x82\xe6\x82\xc1\x82\xc4\x93\xbe\x82\xe7"
            "\x82\xea\x82\xe9\x93\xae\x8d\xec\x82\xe2\x8c\x8b\x89\xca";
        dialog.noticeText = sentence + sentence + "\r\n\r\n" + "OK";
        const auto lines = renderWhileRunning<NoticeProbe>(frontEnd, dialog);
        SCOPED_TRACE(c.logo);
        // 58 columns hold 29 double-byte characters: the first line ends inside
        // the second sentence, after its first two characters.
        const std::string firstLine =
            "| 本ソフトウェアを使用することによって得られる動作や結果本ソ";
        EXPECT_GE(lineIndex(lines, firstLine), 0);
        EXPECT_GE(lineIndex(lines, "| フトウェアを使用することによって得られる動作や結果"), 0);
        EXPECT_GE(lineIndex(lines, "| OK"), 0);
        EXPECT_GE(lineIndex(lines, "| " + std::string(46, ' ') + "Version 1.00"), 0);
        EXPECT_GE(lineIndex(lines, "| " + std::string(35, ' ') + "Firmware update program"), 0);
        EXPECT_EQ(lineIndex(lines, "| " + std::string(52, ' ') + "[logo]") >= 0, c.logo);
        EXPECT_GE(lineIndex(lines, "| -- Notice " + std::string(48, '-')), 0);
        EXPECT_GE(lineIndex(lines, "| >[ OK ]  [ Cancel ]"), 0);
        // The template's own "Information" placeholder was cleared: nothing shown.
        EXPECT_EQ(lineIndex(lines, "| Information"), -1);
    }
}

TEST(TerminalRender, MessageBoxes)
{
    std::istringstream in;
    std::ostringstream out;
    TerminalFrontEnd frontEnd(lineSettings(in, out));
    const auto lines = frontEnd.renderMessageBox(
        "Firmware update is completed.\n\nDo you want to restart your computer now?",
        "Information - Upgrade Program", 0x1044);
    const std::vector<std::string> expected = {
        "+- Information - Upgrade Program " + std::string(27, '-'),
        "| (i) Firmware update is completed.",
        "|     ",
        "|     Do you want to restart your computer now?",
        "| ",
        "|  [ Yes ]  [ No ]",
        "+" + std::string(59, '-'),
    };
    EXPECT_EQ(lines, expected);
    const auto error =
        frontEnd.renderMessageBox("No drive found.", "Error - Upgrade Program", 0x10);
    EXPECT_GE(lineIndex(error, "| (x) No drive found."), 0);
    EXPECT_GE(lineIndex(error, "|  [ OK ]"), 0);
}

struct LineRun {
    intptr_t result;
    std::vector<unsigned> commands;
    int selection;
    std::string output;
};

LineRun runMainWithLines(const std::string& input)
{
    std::istringstream in(input);
    std::ostringstream out;
    TerminalFrontEnd frontEnd(lineSettings(in, out));
    ModalDriverScope scope(&frontEnd);
    MainProbe dialog;
    int selection = -1;
    struct Watch : ModalDriver {
        TerminalFrontEnd& inner;
        MainProbe& dialog;
        int& selection;
        Watch(TerminalFrontEnd& i, MainProbe& d, int& s) : inner(i), dialog(d), selection(s) {}
        void run(CDialog& d) override
        {
            inner.run(d);
            selection = dialog.list.getCurSel();
        }
    } watch(frontEnd, dialog, selection);
    setModalDriver(&watch);
    const intptr_t result = dialog.doModal();
    return {result, dialog.commands, selection, out.str()};
}

TEST(TerminalLines, CommandsSelectAndPressButtons)
{
    const LineRun run = runMainWithLines("2\n\nx\n9\nu\nupdate\ne\n");
    EXPECT_EQ(run.result, IDCANCEL_);
    // selection change of 103, UPDATE, EXIT; the second UPDATE was refused.
    EXPECT_EQ(run.commands, (std::vector<unsigned>{103 * 10 + CBN_SELCHANGE_, 10, 20}));
    EXPECT_EQ(run.selection, 1);
    EXPECT_NE(run.output.find("Unknown choice \"x\"."), std::string::npos);
    EXPECT_NE(run.output.find("There is no entry 9."), std::string::npos);
    EXPECT_NE(run.output.find("UPDATE is not available now."), std::string::npos);
    EXPECT_NE(run.output.find("Choose: 1-2 = select an entry, u = UPDATE, e = EXIT > "),
              std::string::npos);
    EXPECT_NE(run.output.find("Choose: 1-2 = select an entry, e = EXIT > "), std::string::npos);
}

TEST(TerminalLines, EndOfInputLeavesWithCancel)
{
    struct Case {
        const char* input;
        std::vector<unsigned> commands;
    };
    const Case cases[] = {
        {"", {20}},
        {"1\n", {103 * 10 + CBN_SELCHANGE_, 20}},
        {"u", {10, 20}}, // a last line without line break still counts
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        const LineRun run = runMainWithLines(c.input);
        EXPECT_EQ(run.result, IDCANCEL_);
        EXPECT_EQ(run.commands, c.commands);
    }
}

TEST(TerminalLines, MessageBoxAnswers)
{
    struct Case {
        uint32_t flags;
        const char* input;
        int answer;
    };
    const Case cases[] = {
        {0x1044, "y\n", IDYES_},   {0x1044, "\nmaybe\nn\n", IDNO_},
        {0x1044, "YES\n", IDYES_}, {0x1044, "", IDNO_},
        {0x1044, "esc\n", IDNO_},  {0x10, "\n", IDOK_},
        {0x10, "", IDOK_},         {0x40, "o\n", IDOK_},
        {0x1, "", IDCANCEL_},      {0x1, "cancel\n", IDCANCEL_},
        {0x3, "esc\n", IDCANCEL_},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.flags << " '" << c.input << "'");
        std::istringstream in(c.input);
        std::ostringstream out;
        TerminalFrontEnd frontEnd(lineSettings(in, out));
        frontEnd.install();
        // Through the presenter seam the Linux services call.
        EXPECT_EQ(installedMessagePresenter()(nullptr, "Text", "Title", c.flags), c.answer);
        frontEnd.uninstall();
        EXPECT_FALSE(static_cast<bool>(installedMessagePresenter()));
        EXPECT_NE(out.str().find(" Text\n"), std::string::npos);
    }
}

TEST(TerminalLines, RepaintPrintsProgressOnlyWhenItChanges)
{
    std::istringstream in("e\n");
    std::ostringstream out;
    TerminalFrontEnd frontEnd(lineSettings(in, out));
    frontEnd.install();
    ScriptedModalDriver driver;
    driver.then([&](CDialog& d) {
        auto& m = static_cast<MainProbe&>(d);
        m.bar.setRange(0, 4);
        m.status.setWindowText(" Wait... (Transferring data)");
        for (int pos : {0, 0, 1, 1, 2, 4}) {
            m.bar.setPos(pos);
            m.updateWindow();
        }
    });
    ModalDriverScope scope(&driver);
    MainProbe dialog;
    dialog.doModal();
    frontEnd.uninstall();
    EXPECT_EQ(out.str(), "[--------------------] Wait... (Transferring data)\n"
                         "[#####---------------] Wait... (Transferring data)\n"
                         "[##########----------] Wait... (Transferring data)\n"
                         "[####################] Wait... (Transferring data)\n");
}

struct KeyRun {
    intptr_t result;
    std::vector<unsigned> commands;
};

KeyRun runMainWithKeys(const std::string& keys)
{
    std::istringstream in(keys);
    std::ostringstream out;
    TerminalSettings s = lineSettings(in, out);
    s.mode = TerminalSettings::Mode::Keys;
    TerminalFrontEnd frontEnd(s);
    EXPECT_TRUE(frontEnd.keysMode());
    ModalDriverScope scope(&frontEnd);
    MainProbe dialog;
    const intptr_t result = dialog.doModal();
    EXPECT_NE(out.str().find("\x1b[H"), std::string::npos);
    return {result, dialog.commands};
}

TEST(TerminalKeys, ArrowsEnterEscapeAndLetters)
{
    constexpr unsigned sel = 103 * 10 + CBN_SELCHANGE_;
    struct Case {
        const char* name;
        std::string keys;
        std::vector<unsigned> commands;
    };
    const Case cases[] = {
        {"down selects, Enter in the list presses the default", "\x1b[B\r\x1b", {sel, 10, 20}},
        {"up at the top does nothing", "\x1b[A\x1b", {20}},
        {"tab to UPDATE, right to EXIT, Enter", "\t\x1b[C\r", {20}},
        {"letters", "u\x1b[Be", {10, sel, 20}},
        {"Ctrl-C is Esc", "\x03", {20}},
        {"Enter on a disabled default does nothing", "u\r\x1bOA", {10, 20}},
        {"unknown sequences are ignored", "\x1b[5~q\x1b", {20}},
        {"end of input", "", {20}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const KeyRun run = runMainWithKeys(c.keys);
        EXPECT_EQ(run.result, IDCANCEL_);
        EXPECT_EQ(run.commands, c.commands);
    }
}

TEST(TerminalKeys, MessageBoxKeys)
{
    struct Case {
        uint32_t flags;
        std::string keys;
        int answer;
    };
    const Case cases[] = {
        {0x1044, "\r", IDYES_},      // the default button
        {0x1044, "\x1b[C\r", IDNO_}, // right moves to No
        {0x1044, "\x1b", IDNO_},     // Esc does nothing; the end answers No
        {0x1044, "y", IDYES_},       {0x1044, "n", IDNO_},
        {0x1144, "\r", IDNO_}, // second button is the default
        {0x10, "\x1b", IDOK_},       {0x1, "\x1b", IDCANCEL_},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.flags);
        std::istringstream in(c.keys);
        std::ostringstream out;
        TerminalSettings s = lineSettings(in, out);
        s.mode = TerminalSettings::Mode::Keys;
        TerminalFrontEnd frontEnd(s);
        EXPECT_EQ(
            frontEnd.messageBox(nullptr, "Restart?", "Information - Upgrade Program", c.flags),
            c.answer);
    }
}

TEST(TerminalText, ConvertsTheProgramsCodePages)
{
    struct Case {
        const char* from;
        std::string bytes;
        std::string expected;
    };
    const Case cases[] = {
        // ドライブ
        {"CP932", "\x83\x68\x83\x89\x83\x43\x83\x75", "ドライブ"},
        // ファームウェア更新は完了しました。
        {"CP932",
         "\x83\x74\x83\x40\x81\x5b\x83\x80\x83\x45\x83\x46\x83\x41\x8d\x58\x90\x56\x82\xcd\x8a\xae"
         "\x97\xb9\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81\x42",
         "ファームウェア更新は完了しました。"},
        {"CP932", "DVD\x81\x7dR/RW", "DVD±R/RW"},
        {"WINDOWS-1252", "DVD\xb1R/RW", "DVD±R/RW"},
        {"CP932", "ab\x83", "ab?"}, // a lead byte without its second byte
        {"WINDOWS-1252", "plain", "plain"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        TextConverter converter(c.from, "UTF-8");
        ASSERT_TRUE(converter.ok());
        EXPECT_EQ(converter.convert(c.bytes), c.expected);
    }
    TextConverter ascii("WINDOWS-1252", "ANSI_X3.4-1968");
    const std::string shown = ascii.convert("DVD\xb1R");
    EXPECT_EQ(shown.substr(0, 3), "DVD");
    EXPECT_EQ(shown.back(), 'R');
    EXPECT_EQ(shown.find('\xb1'), std::string::npos);
    TextConverter broken("NO-SUCH-CODE", "UTF-8");
    EXPECT_FALSE(broken.ok());
    EXPECT_EQ(broken.convert("a\xb1"), "a?");
}

TEST(TerminalText, WrapsByColumnsWithoutSplittingCharacters)
{
    struct Case {
        std::string text;
        size_t width;
        bool doubleByte;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"one two three", 7, false, {"one two", "three"}},
        {"one two three", 8, false, {"one two", "three"}},
        {"abcdefghij", 4, false, {"abcd", "efgh", "ij"}},
        {"a\r\nb\nc\rd", 10, false, {"a", "b", "c", "d"}},
        {"a\r\n\r\nb", 10, false, {"a", "", "b"}},
        {"", 10, false, {""}},
        // ソソソ: three double-byte characters whose second byte is '\'.
        {"\x83\x5c\x83\x5c\x83\x5c", 3, true, {"\x83\x5c", "\x83\x5c", "\x83\x5c"}},
        {"\x83\x5c\x83\x5c\x83\x5c", 4, true, {"\x83\x5c\x83\x5c", "\x83\x5c"}},
        // Without double-byte handling the same bytes are six characters.
        {"\x83\x5c\x83\x5c\x83\x5c", 4, false, {"\x83\x5c\x83\x5c", "\x83\x5c"}},
        // Half-width katakana are single bytes and one column.
        {"\xb1\xb2\xb3", 2, true, {"\xb1\xb2", "\xb3"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(wrapText(c.text, c.width, c.doubleByte), c.lines);
    }
    EXPECT_EQ(textColumns("\x83\x5c"
                          "a",
                          true),
              3u);
    EXPECT_EQ(textColumns("\x83\x5c"
                          "a",
                          false),
              3u);
    EXPECT_EQ(textColumns("\x83", true), 1u);
}

TEST(TerminalText, MnemonicsAsDialogsShowThem)
{
    struct Case {
        const char* text;
        const char* shown;
        char mnemonic;
    };
    const Case cases[] = {
        {"&UPDATE", "UPDATE", 'u'}, {"&EXIT", "EXIT", 'e'},       {"Cancel", "Cancel", 0},
        {"A && B", "A & B", 0},     {"Save &As", "Save As", 'a'}, {"end&", "end", 0},
    };
    for (const Case& c : cases) {
        char mnemonic = 'x';
        EXPECT_EQ(stripMnemonic(c.text, &mnemonic), c.shown);
        EXPECT_EQ(mnemonic, c.mnemonic) << c.text;
    }
}

TEST(TerminalText, SourceCodePageFollowsTheLocaleIdentifier)
{
    EXPECT_EQ(sourceCharsetForLcid(1041), "CP932");
    EXPECT_EQ(sourceCharsetForLcid(1033), "WINDOWS-1252");
    EXPECT_EQ(sourceCharsetForLcid(2052), "WINDOWS-1252");
}

} // namespace
