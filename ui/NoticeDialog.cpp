#include "ui/NoticeDialog.h"

#include <cctype>
#include <cstring>
#include <vector>

#include "app/Language.h"
#include "package/UpdatePackage.h"

namespace {

constexpr unsigned IDC_PANEL_FRAME = 1007;
constexpr unsigned IDC_HEADLINE = 1008;
constexpr unsigned IDC_VERSION = 1009;
constexpr unsigned IDC_NOTICE_TEXT = 1010;
constexpr unsigned IDC_INFORMATION = 1011;
constexpr unsigned IDC_NOTICE_GROUP = 1012;
constexpr unsigned IDC_FOOTER = 1013;
constexpr unsigned IDC_LOGO = 1014;

constexpr ColorRef kWhite = 0xFFFFFF;
constexpr ColorRef kBlack = 0x000000;
constexpr ColorRef kBlue = 0xFF0000;
constexpr ColorRef kGrey = 0x808080;

constexpr size_t kVendorFieldLength = 8;
constexpr size_t kProductFieldLength = 16;

// ＭＳ ゴシック
constexpr const char* kJapaneseTextFace = "\x82\x6c\x82\x72 \x83\x53\x83\x56\x83\x62\x83\x4e";

bool isBlank(char c)
{
    return c == ' ';
}

bool isWhiteSpace(char c)
{
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// The product field of the first identity entry: the (at most) 16 characters
// after the 8-character vendor field.
std::string productField(const char* inquiryList)
{
    const size_t length = strnlen(inquiryList, kVendorFieldLength + kProductFieldLength);
    if (length <= kVendorFieldLength) return {};
    return std::string(inquiryList + kVendorFieldLength, length - kVendorFieldLength);
}

void cutAtSemicolon(std::string& text)
{
    const auto semicolon = text.find(';');
    if (semicolon != std::string::npos) text.erase(semicolon);
}

void trimTrailingBlanks(std::string& text)
{
    while (!text.empty() && isBlank(text.back()))
        text.pop_back();
}

std::string boundedText(const char* field, size_t size)
{
    return std::string(field, strnlen(field, size));
}

} // namespace

std::string noticeVendorText(const char* inquiryList)
{
    std::string vendor(inquiryList, strnlen(inquiryList, kVendorFieldLength));
    trimTrailingBlanks(vendor);
    return vendor;
}

std::string noticeModelName(const char* inquiryList)
{
    std::string product = productField(inquiryList);
    size_t start = 0;
    while (start < product.size() && isBlank(product[start]))
        ++start;
    product.erase(0, start);
    cutAtSemicolon(product);

    std::vector<std::string> words;
    size_t at = 0;
    while (at < product.size() && words.size() < 2) {
        while (at < product.size() && isWhiteSpace(product[at]))
            ++at;
        const size_t begin = at;
        while (at < product.size() && !isWhiteSpace(product[at]))
            ++at;
        if (at > begin) words.emplace_back(product, begin, at - begin);
    }
    if (words.size() >= 2) return words[1];
    if (words.size() == 1) return words[0];
    return {};
}

std::string noticeKindWord(unsigned cautionKind)
{
    switch (cautionKind) {
    case 1:
    case 2: // a CD-R/RW drive is spoken of as a CD-R drive
        return "CD-R";
    case 3:
        return "CD-ROM";
    case 4:
        // DVD±R/RW: the plus-minus sign in the user's code page.
        return pickText("DVD\xb1R/RW", "DVD\x81\x7dR/RW");
    default:
        return {};
    }
}

std::string noticeHeadline(const char* inquiryList)
{
    std::string product = productField(inquiryList);
    cutAtSemicolon(product);
    trimTrailingBlanks(product);
    return product + "  Firmware";
}

std::string noticeMakerName(const std::string& vendorText)
{
    // オルベンタ
    if (vendorText.compare(0, 7, "ORVENTA") == 0) return "\x83\x49\x83\x8b\x83\x78\x83\x93\x83\x5e";
    return vendorText;
}

std::string noticeCaption(const std::string& modelName, const char* firmwareVersion)
{
    return modelName + " Firmware " + boundedText(firmwareVersion, 5) + " - Welcome";
}

std::string buildNoticeText(const std::string& vendor, const std::string& kind,
                            const std::string& model)
{
    std::string text;
    if (uiLanguage() == UiLanguage::Japanese) {
        const std::string maker = noticeMakerName(vendor);
        text += vendor;
        text += " ";
        text += kind;
        // ドライブ　ファームウェア更新プログラム\r\n\r\n本プログラムは
        text += "\x83\x68\x83\x89\x83\x43\x83\x75\x81\x40\x83\x74\x83\x40\x81\x5b\x83\x80\x83\x45"
                "\x83\x46\x83\x41\x8d\x58\x90\x56\x83\x76\x83\x8d\x83\x4f\x83\x89\x83\x80\r\n\r\n"
                "\x96\x7b\x83\x76\x83\x8d\x83\x4f\x83\x89\x83\x80\x82\xcd";
        text += vendor;
        text += " ";
        text += kind;
        text += " ";
        text += model;
        //  のファームウェアを更新します。
        text += " \x82\xcc\x83\x74\x83\x40\x81\x5b\x83\x80\x83\x45\x83\x46\x83\x41\x82\xf0\x8d\x58"
                "\x90\x56\x82\xb5\x82\xdc\x82\xb7\x81\x42";
        text += "\r\n\r\n";
        text += maker;
        // は、本ソフトウェアを使用することによって得られる動作や結果の影響について、一切の責任及び業務から逃れるものとします。\r\n本ソフトウェアを使用することによって生じた利益の損失、重大なダメージ、金銭的損害など、いかなる損害に対し、たとえ
        text +=
            "\x82\xcd\x81\x41\x96\x7b\x83\x5c\x83\x74\x83\x67\x83\x45\x83\x46\x83\x41\x82\xf0\x8e"
            "\x67\x97\x70\x82\xb7\x82\xe9\x82\xb1\x82\xc6\x82\xc9\x82\xe6\x82\xc1\x82\xc4\x93\xbe"
            "\x82\xe7\x82\xea\x82\xe9\x93\xae\x8d\xec\x82\xe2\x8c\x8b\x89\xca\x82\xcc\x89\x65\x8b"
            "\xbf\x82\xc9\x82\xc2\x82\xa2\x82\xc4\x81\x41\x88\xea\x90\xd8\x82\xcc\x90\xd3\x94\x43"
            "\x8b\x79\x82\xd1\x8b\xc6\x96\xb1\x82\xa9\x82\xe7\x93\xa6\x82\xea\x82\xe9\x82\xe0\x82"
            "\xcc\x82\xc6\x82\xb5\x82\xdc\x82\xb7\x81\x42\r\n\x96\x7b\x83\x5c\x83\x74\x83\x67\x83"
            "\x45\x83\x46\x83\x41\x82\xf0\x8e\x67\x97\x70\x82\xb7\x82\xe9\x82\xb1\x82\xc6\x82\xc9"
            "\x82\xe6\x82\xc1\x82\xc4\x90\xb6\x82\xb6\x82\xbd\x97\x98\x89\x76\x82\xcc\x91\xb9\x8e"
            "\xb8\x81\x41\x8f\x64\x91\xe5\x82\xc8\x83\x5f\x83\x81\x81\x5b\x83\x57\x81\x41\x8b\xe0"
            "\x91\x4b\x93\x49\x91\xb9\x8a\x51\x82\xc8\x82\xc7\x81\x41\x82\xa2\x82\xa9\x82\xc8\x82"
            "\xe9\x91\xb9\x8a\x51\x82\xc9\x91\xce\x82\xb5\x81\x41\x82\xbd\x82\xc6\x82\xa6";
        text += maker;
        // が、そのようなダメージの可能性について認知していたとしても、あるいは第三者から指摘されていたとしても、一切責任を負わないものとします。\r\n\r\n警告！\r\nアップグレードを行う前に、起動中の他のアプリケーションを全て終了し、
        text += "\x82\xaa\x81\x41\x82\xbb\x82\xcc\x82\xe6\x82\xa4\x82\xc8\x83\x5f\x83\x81\x81\x5b"
                "\x83\x57\x82\xcc\x89\xc2\x94\x5c\x90\xab\x82\xc9\x82\xc2\x82\xa2\x82\xc4\x94\x46"
                "\x92\x6d\x82\xb5\x82\xc4\x82\xa2\x82\xbd\x82\xc6\x82\xb5\x82\xc4\x82\xe0\x81\x41"
                "\x82\xa0\x82\xe9\x82\xa2\x82\xcd\x91\xe6\x8e\x4f\x8e\xd2\x82\xa9\x82\xe7\x8e\x77"
                "\x93\x45\x82\xb3\x82\xea\x82\xc4\x82\xa2\x82\xbd\x82\xc6\x82\xb5\x82\xc4\x82\xe0"
                "\x81\x41\x88\xea\x90\xd8\x90\xd3\x94\x43\x82\xf0\x95\x89\x82\xed\x82\xc8\x82\xa2"
                "\x82\xe0\x82\xcc\x82\xc6\x82\xb5\x82\xdc\x82\xb7\x81\x42\r\n\r\n\x8c\x78\x8d\x90"
                "\x81\x49\r\n\x83\x41\x83\x62\x83\x76\x83\x4f\x83\x8c\x81\x5b\x83\x68\x82\xf0\x8d"
                "\x73\x82\xa4\x91\x4f\x82\xc9\x81\x41\x8b\x4e\x93\xae\x92\x86\x82\xcc\x91\xbc\x82"
                "\xcc\x83\x41\x83\x76\x83\x8a\x83\x50\x81\x5b\x83\x56\x83\x87\x83\x93\x82\xf0\x91"
                "\x53\x82\xc4\x8f\x49\x97\xb9\x82\xb5\x81\x41";
        text += kind;
        // ドライブからディスクを取り出して下さい。
        text += "\x83\x68\x83\x89\x83\x43\x83\x75\x82\xa9\x82\xe7\x83\x66\x83\x42\x83\x58\x83\x4e"
                "\x82\xf0\x8e\xe6\x82\xe8\x8f\x6f\x82\xb5\x82\xc4\x89\xba\x82\xb3\x82\xa2\x81\x42";
        return text;
    }
    text += vendor;
    text += " ";
    text += kind;
    text += " Drive Firmware Update Program\r\n\r\nThis program can update the firmware for the ";
    text += vendor;
    text += " ";
    text += kind;
    text += " Drive, Model ";
    text += model;
    text += "\r\n\r\n";
    text += vendor;
    text += " DOES NOT, AND CANNOT, WARRANT THE PERFORMANCE OF, OR THE RESULTS YOU MAY OBTAIN BY "
            "USING THIS SOFTWARE.\r\nAT NO TIME WILL ";
    text += vendor;
    text += " BE LIABLE FOR ANY DAMAGES INCLUDING, BUT NOT LIMITED TO, LOST PROFITS OR "
            "CONSEQUENTIAL DAMAGES, EVEN IF ";
    text += vendor;
    text += " HAS BEEN ADVISED OF THE POSSIBILITY OF SUCH DAMAGES, OR FOR ANY CLAIM BY ANY OTHER "
            "PARTY.\r\n\r\nCAUTION!\r\nPlease close any other software application(s) that are "
            "running, and eject any disc that may be present in the ";
    text += kind;
    text += " drive you wish to update.";
    return text;
}

NoticeDialog::NoticeDialog() : CDialog(IDD_NOTICE)
{
    bindControl(IDC_NOTICE_TEXT, noticeTextLabel);
    bindControl(IDC_PANEL_FRAME, panelFrame);
    bindControl(IDC_LOGO, logoPicture);
    bindControl(IDC_FOOTER, footerLabel);
    bindControl(IDC_NOTICE_GROUP, noticeGroup);
    bindControl(IDC_INFORMATION, informationLabel);
    bindControl(IDC_VERSION, versionLabel);
    bindControl(IDC_HEADLINE, headlineLabel);
}

bool NoticeDialog::onInitDialog()
{
    CDialog::onInitDialog();
    const bool japanese = uiLanguage() == UiLanguage::Japanese;
    const PackageOptions& options = package.options;

    const std::string vendor = noticeVendorText(package.inquiryList);
    const std::string model = noticeModelName(package.inquiryList);

    // The frame behind every other control becomes the white panel.
    panelFrame.setBackColor(kWhite);

    setWindowText(noticeCaption(model, package.firmwareVersion));

    headlineLabel.setWindowText(noticeHeadline(package.inquiryList));
    headlineLabel.setTextColor(kBlue);
    headlineLabel.setBackColor(kWhite);
    headlineLabel.createPointFont(190, "Times New Roman Bold");

    versionLabel.setWindowText("Version " + boundedText(package.firmwareVersion, 4));
    versionLabel.setTextColor(kBlack);
    versionLabel.setBackColor(kWhite);
    versionLabel.createPointFont(150, "Times New Roman");

    const std::string kind = noticeKindWord(options.cautionKind);

    // The line names the library only when drives are reached through it.
    if (options.osKind == 0 || options.noPassThrough == 1) {
        if (japanese) {
            // 本プログラムの実行にはWNASPI32.DLLが必要です。
            informationLabel.setWindowText(
                "\x96\x7b\x83\x76\x83\x8d\x83\x4f\x83\x89\x83\x80\x82\xcc\x8e\xc0\x8d\x73\x82\xc9"
                "\x82\xcdWNASPI32.DLL\x82\xaa\x95\x4b\x97\x76\x82\xc5\x82\xb7\x81\x42");
            informationLabel.createPointFont(90, kJapaneseTextFace);
        } else {
            informationLabel.setWindowText("WNASPI32.DLL is necessary for this program.");
        }
    } else {
        informationLabel.setWindowText("");
    }
    informationLabel.setTextColor(kBlack);
    informationLabel.setBackColor(kWhite);

    noticeGroup.setTextColor(kBlack);
    noticeGroup.setBackColor(kWhite);

    noticeText = buildNoticeText(vendor, kind, model);
    if (japanese) noticeTextLabel.createPointFont(90, kJapaneseTextFace);
    noticeTextLabel.setTextColor(kBlack);
    noticeTextLabel.setBackColor(kWhite);
    noticeTextLabel.setWindowText(noticeText);

    if (std::memcmp(package.inquiryList, "ORVENTA ", 8) != 0) logoPicture.showWindow(false);

    footerLabel.setTextColor(kGrey);
    footerLabel.setBackColor(kWhite);
    footerLabel.createPointFont(85, "Arial");

    // The notice text takes the focus so that no button holds it at first;
    // OK stays the default button.
    noticeTextLabel.setFocus();
    return false;
}
