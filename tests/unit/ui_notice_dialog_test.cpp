#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "app/Language.h"
#include "package/UpdatePackage.h"
#include "platform/model/ModelWindows.h"
#include "platform/scripted/ScriptedSystem.h"
#include "ui/NoticeDialog.h"

#include "tests/unit/script_driver.h"
#include "tests/unit/shift_jis.h"

namespace {

std::string replaceAll(std::string text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// The notice as a reader sees it, with {V} vendor, {K} kind word, {M} model
// and {N} maker name to fill in.
const std::string kEnglishNotice =
    "{V} {K} Drive Firmware Update Program\r\n\r\nThis program can update the firmware for the "
    "{V} {K} Drive, Model {M}\r\n\r\n{V} DOES NOT, AND CANNOT, WARRANT THE PERFORMANCE OF, OR T"
    "HE RESULTS YOU MAY OBTAIN BY USING THIS SOFTWARE.\r\nAT NO TIME WILL {V} BE LIABLE FOR ANY"
    " DAMAGES INCLUDING, BUT NOT LIMITED TO, LOST PROFITS OR CONSEQUENTIAL DAMAGES, EVEN IF {V}"
    " HAS BEEN ADVISED OF THE POSSIBILITY OF SUCH DAMAGES, OR FOR ANY CLAIM BY ANY OTHER PARTY."
    "\r\n\r\nCAUTION!\r\nPlease close any other software application(s) that are running, and e"
    "ject any disc that may be present in the {K} drive you wish to update.";
const std::string kJapaneseNotice =
    "{V} {K}ドライブ　ファームウェア更新プログラム\r\n\r\n本プログラム"
    "は{V} {K} {M} のファームウェアを更新します。\r\n\r\n{N}は"
    "、本ソフトウェアを使用することによって得られる動作や結果の影響について、一切の責"
    "任及び業務から逃れるものとします。\r\n本ソフトウェアを使用することによって生"
    "じた利益の損失、重大なダメージ、金銭的損害など、いかなる損害に対し、たとえ{N}"
    "が、そのようなダメージの可能性について認知していたとしても、あるいは第三者から指"
    "摘されていたとしても、一切責任を負わないものとします。\r\n\r\n警告！\r"
    "\nアップグレードを行う前に、起動中の他のアプリケーションを全て終了し、{K}ド"
    "ライブからディスクを取り出して下さい。";

std::string expectedNotice(const std::string& pattern, const std::string& vendor,
                           const std::string& kind, const std::string& model,
                           const std::string& maker)
{
    std::string text = replaceAll(pattern, "{V}", vendor);
    text = replaceAll(text, "{K}", kind);
    text = replaceAll(text, "{M}", model);
    return replaceAll(text, "{N}", maker);
}

constexpr unsigned kHeadline = 1008, kVersion = 1009, kNoticeText = 1010, kInformation = 1011,
                   kGroup = 1012, kFooter = 1013, kLogo = 1014, kPanel = 1007;

class NoticeDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        system.install();
        userLcid = 1033;
        resetPackage();
        setInquiry("ORVENTA CD-R   RX1234   ;ORVENTA CD-R   RX1235   ;");
        std::strcpy(package.firmwareVersion, "1.04");
        package.options.cautionKind = 1;
        package.options.osKind = 2;
    }
    void TearDown() override
    {
        resetPackage();
        userLcid = 0;
    }

    static void setInquiry(const char* list)
    {
        std::memset(package.inquiryList, 0, sizeof package.inquiryList);
        std::strncpy(package.inquiryList, list, sizeof package.inquiryList - 1);
    }

    // Runs the dialog, hands it to `look` while it is open, then presses
    // `button`; answers the result of the modal run.
    intptr_t runDialog(NoticeDialog& dialog, const std::function<void(CDialog&)>& look,
                       unsigned button = IDOK_)
    {
        ScriptDriver driver([&](CDialog& d) {
            look(d);
            modelClick(d, button);
        });
        return dialog.doModal();
    }

    std::string text(CDialog& d, unsigned id)
    {
        WindowState* control = modelControl(d, id);
        return control ? control->text : "<missing control>";
    }

    ScriptedSystem system;
};

} // namespace

TEST(NoticeParts, VendorModelAndHeadlineComeFromTheFirstEntry)
{
    struct Case {
        const char* inquiryList;
        const char* vendor;
        const char* model;
        const char* headline;
    };
    const Case cases[] = {
        // Two words: the second names the model; inner blanks stay in the headline.
        {"ORVENTA CD-R   RX1234   ;", "ORVENTA", "RX1234", "CD-R   RX1234  Firmware"},
        // One word stands for the model itself.
        {"ORVENTA RX1234          ;", "ORVENTA", "RX1234", "RX1234  Firmware"},
        // A third word is ignored.
        {"ORVENTA DVD RW X9       ;", "ORVENTA", "RW", "DVD RW X9  Firmware"},
        // ';' right after a word ends both texts there.
        {"ORVENTA CD-R RX12;CD-R RX13;", "ORVENTA", "RX12", "CD-R RX12  Firmware"},
        {"ORVENTA DVD;RW 99", "ORVENTA", "DVD", "DVD  Firmware"},
        // Leading blanks of the product stay in the headline only.
        {"ORVENTA   RW-1 X2       ;", "ORVENTA", "X2", "  RW-1 X2  Firmware"},
        // Only 16 product characters count.
        {"ORVENTA 0123456789ABCDEF GHI;", "ORVENTA", "0123456789ABCDEF",
         "0123456789ABCDEF  Firmware"},
        // Tabs separate words too.
        {"ORVENTA CD-R\tRX1;", "ORVENTA", "RX1", "CD-R\tRX1  Firmware"},
        // Trailing blanks of the vendor field go.
        {"ACME    CD-RW   Z1      ;", "ACME", "Z1", "CD-RW   Z1  Firmware"},
        // Short or empty identities give empty parts, never reads past the text.
        {"ABC", "ABC", "", "  Firmware"},
        {"ORVENTA                 ;", "ORVENTA", "", "  Firmware"},
        {"", "", "", "  Firmware"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.inquiryList);
        char field[256] = {};
        std::strncpy(field, c.inquiryList, sizeof field - 1);
        EXPECT_EQ(noticeVendorText(field), c.vendor);
        EXPECT_EQ(noticeModelName(field), c.model);
        EXPECT_EQ(noticeHeadline(field), c.headline);
    }
}

TEST(NoticeParts, KindWordFollowsTheCautionKindAndCodePage)
{
    struct Case {
        uint32_t lcid;
        unsigned kind;
        const char* word;
    };
    const Case cases[] = {
        {1033, 0, ""},
        {1033, 1, "CD-R"},
        {1033, 2, "CD-R"},
        {1033, 3, "CD-ROM"},
        {1033, 4, "DVD\xb1R/RW"},
        {1033, 5, ""},
        {1041, 1, "CD-R"},
        {1041, 2, "CD-R"},
        {1041, 3, "CD-ROM"},
        {1041, 4, "DVD\x81\x7dR/RW"},
        {1041, 9, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.lcid << " kind " << c.kind);
        userLcid = c.lcid;
        EXPECT_EQ(noticeKindWord(c.kind), c.word);
    }
    userLcid = 0;
}

TEST(NoticeParts, MakerNameIsKatakanaOnlyForTheMaker)
{
    struct Case {
        const char* vendor;
        const char* maker; // UTF-8
    };
    const Case cases[] = {
        {"ORVENTA", "オルベンタ"}, {"ORVENTAX", "オルベンタ"}, {"ORVENT", "ORVENT"},
        {"orventa", "orventa"},    {"ACME", "ACME"},           {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.vendor);
        EXPECT_EQ(fromShiftJis(noticeMakerName(c.vendor)), c.maker);
    }
}

TEST_F(NoticeDialogTest, NoticeTextForEveryKindAndLanguage)
{
    struct Case {
        uint32_t lcid;
        uint8_t kind;
        const char* kindWord; // English bytes, or UTF-8 for Japanese
    };
    const Case cases[] = {
        {1033, 1, "CD-R"}, {1033, 2, "CD-R"}, {1033, 3, "CD-ROM"}, {1033, 4, "DVD\xb1R/RW"},
        {1041, 1, "CD-R"}, {1041, 2, "CD-R"}, {1041, 3, "CD-ROM"}, {1041, 4, "DVD±R/RW"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.lcid << " kind " << int(c.kind));
        userLcid = c.lcid;
        package.options.cautionKind = c.kind;
        NoticeDialog dialog;
        std::string shown;
        runDialog(dialog, [&](CDialog& d) { shown = text(d, kNoticeText); });
        EXPECT_EQ(shown, dialog.noticeText);
        if (c.lcid == 1041) {
            EXPECT_EQ(fromShiftJis(shown), expectedNotice(kJapaneseNotice, "ORVENTA", c.kindWord,
                                                          "RX1234", "オルベンタ"));
        } else {
            EXPECT_EQ(shown, expectedNotice(kEnglishNotice, "ORVENTA", c.kindWord, "RX1234", ""));
        }
    }
}

TEST_F(NoticeDialogTest, EnglishPageOfTheMaker)
{
    NoticeDialog dialog;
    const intptr_t result = runDialog(dialog, [&](CDialog& d) {
        EXPECT_EQ(d.getWindowText(), "RX1234 Firmware 1.04 - Welcome");
        EXPECT_EQ(text(d, kHeadline), "CD-R   RX1234  Firmware");
        EXPECT_EQ(text(d, kVersion), "Version 1.04");
        EXPECT_EQ(text(d, kInformation), "");
        EXPECT_EQ(text(d, kGroup), "Notice");
        ASSERT_NE(modelControl(d, kLogo), nullptr);
        EXPECT_TRUE(modelControl(d, kLogo)->visible);
        EXPECT_EQ(modelFocus(d), modelControl(d, kNoticeText));

        struct Paint {
            unsigned id;
            bool handled;
            ColorRef text;
            const char* face;
            int tenths;
        };
        const Paint paints[] = {
            {kPanel, true, 0, "", 0},
            {kHeadline, true, 0xFF0000, "Times New Roman Bold", 190},
            {kVersion, true, 0x000000, "Times New Roman", 150},
            {kInformation, true, 0x000000, "", 0},
            {kGroup, true, 0x000000, "", 0},
            {kNoticeText, true, 0x000000, "", 0},
            {kFooter, true, 0x808080, "Arial", 85},
        };
        for (const Paint& p : paints) {
            SCOPED_TRACE(p.id);
            const PaintResult paint = modelPaint(d, p.id);
            EXPECT_EQ(paint.handled, p.handled);
            EXPECT_EQ(paint.brushColor, 0xFFFFFFu);
            EXPECT_EQ(paint.backColor, 0xFFFFFFu);
            if (p.id != kPanel) {
                EXPECT_EQ(paint.textColor, p.text);
            }
            EXPECT_EQ(paint.fontFace, p.face);
            if (*p.face) {
                EXPECT_EQ(paint.fontTenths, p.tenths);
            }
        }
    });
    EXPECT_EQ(result, IDOK_);
}

TEST_F(NoticeDialogTest, JapanesePageOfAnotherVendor)
{
    userLcid = 1041;
    setInquiry("ACME    RW-8    ;");
    package.options.osKind = 0;
    NoticeDialog dialog;
    runDialog(dialog, [&](CDialog& d) {
        EXPECT_EQ(d.getWindowText(), "RW-8 Firmware 1.04 - Welcome");
        EXPECT_FALSE(modelControl(d, kLogo)->visible);
        EXPECT_EQ(fromShiftJis(text(d, kInformation)),
                  "本プログラムの実行にはWNASPI32.DLLが必要です。");
        for (unsigned id : {kInformation, kNoticeText}) {
            const PaintResult paint = modelPaint(d, id);
            EXPECT_EQ(fromShiftJis(paint.fontFace), "ＭＳ ゴシック");
            EXPECT_EQ(paint.fontTenths, 90);
        }
        EXPECT_EQ(modelPaint(d, kHeadline).fontFace, "Times New Roman Bold");
        EXPECT_EQ(fromShiftJis(text(d, kNoticeText)),
                  expectedNotice(kJapaneseNotice, "ACME", "CD-R", "RW-8", "ACME"));
    });
}

TEST_F(NoticeDialogTest, InformationLineOnlyWhenTheLibraryIsUsed)
{
    struct Case {
        uint32_t lcid;
        uint8_t osKind;
        uint8_t noPassThrough;
        const char* line; // UTF-8
        bool japaneseFont;
    };
    const char* english = "WNASPI32.DLL is necessary for this program.";
    const char* japanese = "本プログラムの実行にはWNASPI32.DLLが必要です。";
    const Case cases[] = {
        {1033, 0, 0, english, false}, {1033, 1, 0, "", false},      {1033, 2, 0, "", false},
        {1033, 2, 1, english, false}, {1033, 1, 1, english, false}, {1041, 0, 0, japanese, true},
        {1041, 2, 0, "", false},      {1041, 2, 1, japanese, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.lcid << " os " << int(c.osKind) << " noPT " << int(c.noPassThrough));
        userLcid = c.lcid;
        package.options.osKind = c.osKind;
        package.options.noPassThrough = c.noPassThrough;
        NoticeDialog dialog;
        runDialog(dialog, [&](CDialog& d) {
            EXPECT_EQ(fromShiftJis(text(d, kInformation)), c.line);
            EXPECT_EQ(modelPaint(d, kInformation).fontFace.empty(), !c.japaneseFont);
        });
    }
}

TEST_F(NoticeDialogTest, LogoOnlyForTheExactMakerField)
{
    struct Case {
        const char* list;
        bool visible;
    };
    const Case cases[] = {
        {"ORVENTA CD-R    ;", true}, {"ORVENTAXCD-R    ;", false}, {"orventa CD-R    ;", false},
        {"ORVENTA", false},          {"ACME    CD-R    ;", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.list);
        setInquiry(c.list);
        NoticeDialog dialog;
        runDialog(dialog,
                  [&](CDialog& d) { EXPECT_EQ(modelControl(d, kLogo)->visible, c.visible); });
    }
}

TEST_F(NoticeDialogTest, OkAcceptsAndCancelRefuses)
{
    for (int button : {IDOK_, IDCANCEL_}) {
        NoticeDialog dialog;
        EXPECT_EQ(runDialog(
                      dialog, [](CDialog&) {}, static_cast<unsigned>(button)),
                  button);
    }
}
