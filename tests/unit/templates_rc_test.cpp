// The resource script of the Windows program and the template table of the
// in-memory class library describe the same two dialogs. These tests read the
// script as the resource compiler would and compare every dialog and control
// with the table, so that a change made on one side only fails here.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "resources/DialogTemplates.h"

namespace {

std::string readText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string sourcePath(const std::string& relative)
{
    return std::string(ORV_SOURCE_DIR) + "/" + relative;
}

// ---- a small reader for the resource script ----------------------------------

struct RcControl {
    std::string text;
    unsigned imageId = 0; // a picture control names its image by number
    unsigned id = 0;
    std::string className;
    uint32_t style = 0;
    uint32_t exStyle = 0;
    int x = 0, y = 0, w = 0, h = 0;
};

struct RcDialog {
    unsigned id = 0;
    int x = 0, y = 0, w = 0, h = 0;
    uint32_t style = 0;
    uint32_t exStyle = 0;
    std::string caption;
    std::string fontFace;
    int fontPoints = 0;
    std::vector<RcControl> controls;
};

struct RcScript {
    std::vector<RcDialog> dialogs;
    std::map<unsigned, std::string> icons;   // id -> file
    std::map<unsigned, std::string> bitmaps; // id -> file
    std::vector<std::string> errors;
};

// The Windows names the script may use, with their values.
const std::map<std::string, int64_t>& windowsNames()
{
    static const std::map<std::string, int64_t> names = {
        {"WS_POPUP", 0x80000000},
        {"WS_CHILD", 0x40000000},
        {"WS_VISIBLE", 0x10000000},
        {"WS_DISABLED", 0x08000000},
        {"WS_CAPTION", 0x00C00000},
        {"WS_BORDER", 0x00800000},
        {"WS_VSCROLL", 0x00200000},
        {"WS_SYSMENU", 0x00080000},
        {"WS_GROUP", 0x00020000},
        {"WS_MINIMIZEBOX", 0x00020000},
        {"WS_TABSTOP", 0x00010000},
        {"DS_SETFONT", 0x40},
        {"DS_MODALFRAME", 0x80},
        {"BS_PUSHBUTTON", 0x0},
        {"BS_DEFPUSHBUTTON", 0x1},
        {"BS_GROUPBOX", 0x7},
        {"SS_LEFT", 0x0},
        {"SS_RIGHT", 0x2},
        {"SS_BITMAP", 0xE},
        {"SS_CENTERIMAGE", 0x200},
        {"SS_SUNKEN", 0x1000},
        {"CBS_DROPDOWNLIST", 0x3},
        {"WS_EX_TRANSPARENT", 0x20},
        {"WS_EX_RIGHT", 0x1000},
        {"WS_EX_STATICEDGE", 0x20000},
        {"WS_EX_APPWINDOW", 0x40000},
        {"IDOK", 1},
        {"IDCANCEL", 2},
    };
    return names;
}

class Reader {
public:
    Reader(const std::string& script, const std::string& header) : errors_(&script_.errors)
    {
        readDefines(header);
        readScript(script);
    }
    RcScript result() { return std::move(script_); }

private:
    void readDefines(const std::string& header)
    {
        std::istringstream lines(header);
        std::string line;
        while (std::getline(lines, line)) {
            std::istringstream words(line);
            std::string directive, name, value;
            words >> directive >> name;
            std::getline(words, value);
            if (directive != "#define" || name.empty()) continue;
            value.erase(0, value.find_first_not_of(" \t"));
            while (!value.empty() && std::isspace(static_cast<unsigned char>(value.back())))
                value.pop_back();
            if (value.size() > 2 && value.front() == '(' && value.back() == ')')
                value = value.substr(1, value.size() - 2);
            defines_[name] = value;
        }
    }

    void error(const std::string& what) { errors_->push_back(what); }

    std::optional<int64_t> valueOf(const std::string& token)
    {
        std::string t = token;
        bool negative = false;
        if (!t.empty() && t[0] == '-') {
            negative = true;
            t.erase(0, 1);
        }
        int64_t value = 0;
        if (!t.empty() && std::isdigit(static_cast<unsigned char>(t[0]))) {
            value = static_cast<int64_t>(std::stoll(t, nullptr, 0));
        } else if (auto w = windowsNames().find(t); w != windowsNames().end()) {
            value = w->second;
        } else if (auto d = defines_.find(t); d != defines_.end()) {
            auto inner = valueOf(d->second);
            if (!inner) return std::nullopt;
            value = *inner;
        } else {
            error("unknown name " + token);
            return std::nullopt;
        }
        return negative ? -value : value;
    }

    // "A | B | NOT C", as the resource compiler reads a style.
    uint32_t expression(const std::string& text)
    {
        std::istringstream words(text);
        std::string word;
        uint64_t bits = 0;
        bool negate = false;
        while (words >> word) {
            if (word == "|") continue;
            if (word == "NOT") {
                negate = true;
                continue;
            }
            const auto value = valueOf(word);
            if (!value) continue;
            if (negate)
                bits &= ~static_cast<uint64_t>(*value);
            else
                bits |= static_cast<uint64_t>(*value);
            negate = false;
        }
        return static_cast<uint32_t>(bits);
    }

    // Splits a statement's arguments at commas outside quoted strings.
    static std::vector<std::string> arguments(const std::string& text)
    {
        std::vector<std::string> parts(1);
        bool quoted = false;
        for (size_t i = 0; i < text.size(); ++i) {
            const char c = text[i];
            if (c == '"') quoted = !quoted;
            if (c == ',' && !quoted) {
                parts.emplace_back();
                continue;
            }
            parts.back() += c;
        }
        for (std::string& part : parts) {
            part.erase(0, part.find_first_not_of(" \t"));
            while (!part.empty() && std::isspace(static_cast<unsigned char>(part.back())))
                part.pop_back();
        }
        return parts;
    }

    // A quoted string with "" for a quote inside; nullopt when not quoted.
    static std::optional<std::string> quoted(const std::string& token)
    {
        if (token.size() < 2 || token.front() != '"' || token.back() != '"') return std::nullopt;
        std::string text;
        for (size_t i = 1; i + 1 < token.size(); ++i) {
            text += token[i];
            if (token[i] == '"' && token[i + 1] == '"') ++i;
        }
        return text;
    }

    int number(const std::string& token) { return static_cast<int>(valueOf(token).value_or(0)); }

    void readControl(const std::string& rest, RcDialog& dialog)
    {
        const auto args = arguments(rest);
        if (args.size() != 8 && args.size() != 9) {
            error("CONTROL with " + std::to_string(args.size()) + " arguments: " + rest);
            return;
        }
        RcControl control;
        if (auto text = quoted(args[0]))
            control.text = *text;
        else
            control.imageId = static_cast<unsigned>(number(args[0]));
        control.id = static_cast<unsigned>(number(args[1]));
        control.className = quoted(args[2]).value_or("?");
        // The resource compiler makes every CONTROL a visible child window.
        control.style = expression(args[3]) | 0x40000000u | 0x10000000u;
        control.x = number(args[4]);
        control.y = number(args[5]);
        control.w = number(args[6]);
        control.h = number(args[7]);
        if (args.size() == 9) control.exStyle = expression(args[8]);
        dialog.controls.push_back(control);
    }

    void readScript(const std::string& text)
    {
        std::istringstream lines(text);
        std::string line;
        RcDialog* dialog = nullptr;
        bool inBody = false;
        while (std::getline(lines, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            const auto start = line.find_first_not_of(" \t");
            if (start == std::string::npos) continue;
            line.erase(0, start);
            if (line.rfind("//", 0) == 0 || line[0] == '#') continue;

            std::istringstream words(line);
            std::string first, second;
            words >> first >> second;
            std::string rest;
            std::getline(words, rest);

            if (inBody) {
                if (first == "END") {
                    inBody = false;
                    dialog = nullptr;
                } else if (first == "CONTROL") {
                    readControl(line.substr(std::string("CONTROL").size()), *dialog);
                } else {
                    error("statement not read: " + line);
                }
                continue;
            }
            if (second == "DIALOGEX") {
                script_.dialogs.emplace_back();
                dialog = &script_.dialogs.back();
                dialog->id = static_cast<unsigned>(number(first));
                const auto args = arguments(rest);
                if (args.size() == 4) {
                    dialog->x = number(args[0]);
                    dialog->y = number(args[1]);
                    dialog->w = number(args[2]);
                    dialog->h = number(args[3]);
                } else {
                    error("dialog without its rectangle: " + line);
                }
            } else if (second == "ICON" || second == "BITMAP") {
                auto& files = second == "ICON" ? script_.icons : script_.bitmaps;
                files[static_cast<unsigned>(number(first))] =
                    quoted(arguments(rest).front()).value_or("");
            } else if (dialog != nullptr && first == "STYLE") {
                dialog->style = expression(line.substr(5));
            } else if (dialog != nullptr && first == "EXSTYLE") {
                dialog->exStyle = expression(line.substr(7));
            } else if (dialog != nullptr && first == "CAPTION") {
                dialog->caption = quoted(line.substr(8)).value_or("?");
            } else if (dialog != nullptr && first == "FONT") {
                const auto args = arguments(line.substr(4));
                dialog->fontPoints = number(args.at(0));
                dialog->fontFace = args.size() > 1 ? quoted(args[1]).value_or("?") : "";
                dialog->style |= 0x40u; // the compiler adds DS_SETFONT
            } else if (dialog != nullptr && first == "BEGIN") {
                inBody = true;
            } else if (first == "LANGUAGE") {
                continue;
            } else {
                error("statement not read: " + line);
            }
        }
    }

    RcScript script_;
    std::vector<std::string>* errors_;
    std::map<std::string, std::string> defines_;
};

RcScript readScript(const std::string& script)
{
    return Reader(script, readText(sourcePath("resources/resource.h"))).result();
}

std::string hex(uint32_t value)
{
    std::ostringstream text;
    text << "0x" << std::hex << value;
    return text.str();
}

// Every way the script differs from the table, one line each.
std::vector<std::string> differences(const RcScript& script)
{
    std::vector<std::string> found = script.errors;
    size_t count = 0;
    const DialogTemplate* table = dialogTemplates(count);
    if (script.dialogs.size() != count)
        found.push_back("script has " + std::to_string(script.dialogs.size()) + " dialogs, table " +
                        std::to_string(count));

    for (size_t t = 0; t < count; ++t) {
        const DialogTemplate& want = table[t];
        const std::string where = "dialog " + std::to_string(want.id);
        const RcDialog* got = nullptr;
        for (const RcDialog& d : script.dialogs)
            if (d.id == want.id) got = &d;
        if (got == nullptr) {
            found.push_back(where + " missing");
            continue;
        }
        auto check = [&](bool same, const std::string& what, const std::string& a,
                         const std::string& b) {
            if (!same) found.push_back(what + ": script " + a + ", table " + b);
        };
        check(got->caption == want.caption, where + " caption", got->caption, want.caption);
        check(got->fontFace == want.fontFace, where + " font", got->fontFace, want.fontFace);
        check(got->fontPoints == want.fontPoints, where + " font size",
              std::to_string(got->fontPoints), std::to_string(want.fontPoints));
        check(got->w == want.w && got->h == want.h, where + " size",
              std::to_string(got->w) + "x" + std::to_string(got->h),
              std::to_string(want.w) + "x" + std::to_string(want.h));
        check(got->style == want.style, where + " style", hex(got->style), hex(want.style));
        check(got->exStyle == want.exStyle, where + " extended style", hex(got->exStyle),
              hex(want.exStyle));
        check(got->controls.size() == want.count, where + " control count",
              std::to_string(got->controls.size()), std::to_string(want.count));

        // Template order is the tab order and the stacking order: compare by position.
        for (size_t i = 0; i < want.count && i < got->controls.size(); ++i) {
            const ControlTemplate& wc = want.controls[i];
            const RcControl& gc = got->controls[i];
            const std::string at = where + " control #" + std::to_string(i) + " (id " +
                                   std::to_string(static_cast<int>(wc.id)) + ")";
            check(gc.id == wc.id, at + " id", std::to_string(static_cast<int>(gc.id)),
                  std::to_string(static_cast<int>(wc.id)));
            check(gc.className == wc.className, at + " class", gc.className, wc.className);
            check(gc.text == wc.text, at + " text", "\"" + gc.text + "\"",
                  "\"" + std::string(wc.text) + "\"");
            check(gc.imageId == wc.imageId, at + " image", std::to_string(gc.imageId),
                  std::to_string(wc.imageId));
            check(gc.x == wc.x && gc.y == wc.y && gc.w == wc.w && gc.h == wc.h, at + " position",
                  std::to_string(gc.x) + "," + std::to_string(gc.y) + "," + std::to_string(gc.w) +
                      "," + std::to_string(gc.h),
                  std::to_string(wc.x) + "," + std::to_string(wc.y) + "," + std::to_string(wc.w) +
                      "," + std::to_string(wc.h));
            check(gc.style == wc.style, at + " style", hex(gc.style), hex(wc.style));
            check(gc.exStyle == wc.exStyle, at + " extended style", hex(gc.exStyle),
                  hex(wc.exStyle));
        }
    }
    return found;
}

std::string joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

const std::string& scriptText()
{
    static const std::string text = readText(sourcePath("resources/orvupdate.rc"));
    return text;
}

// ---- tests ------------------------------------------------------------------

TEST(TemplatesRc, ScriptMatchesTheTemplateTable)
{
    ASSERT_FALSE(scriptText().empty()) << "resources/orvupdate.rc not found";
    const RcScript script = readScript(scriptText());
    ASSERT_EQ(script.dialogs.size(), 2u);
    EXPECT_EQ(joined(differences(script)), "");
}

// Each edit is a drift a person could make on one side; each must be noticed.
struct Drift {
    const char* name;
    const char* from;
    const char* to;
    const char* reported; // part of the difference line expected
};

void PrintTo(const Drift& drift, std::ostream* out)
{
    *out << drift.name;
}

class TemplatesRcDrift : public ::testing::TestWithParam<Drift> {};

TEST_P(TemplatesRcDrift, IsReported)
{
    const Drift& drift = GetParam();
    std::string text = scriptText();
    const auto at = text.find(drift.from);
    ASSERT_NE(at, std::string::npos) << "the script no longer contains: " << drift.from;
    text.replace(at, std::string(drift.from).size(), drift.to);
    const std::string found = joined(differences(readScript(text)));
    EXPECT_NE(found.find(drift.reported), std::string::npos) << "differences were:\n" << found;
}

INSTANTIATE_TEST_SUITE_P(
    Edits, TemplatesRcDrift,
    ::testing::Values(
        Drift{"ButtonMoved", "196, 21, 64, 14", "196, 22, 64, 14", "(id 2) position"},
        Drift{"ButtonText", "\"&UPDATE\"", "\"UPDATE\"", "(id 1) text"},
        Drift{"DefaultButtonLost", "BS_DEFPUSHBUTTON | WS_TABSTOP, 73",
              "BS_PUSHBUTTON | WS_TABSTOP, 73", "(id 1) style"},
        Drift{"ComboStyle", "CBS_DROPDOWNLIST | WS_VSCROLL", "CBS_DROPDOWNLIST", "(id 103) style"},
        Drift{"StatusEdgeLost", ", WS_EX_STATICEDGE", "", "(id 1032) extended style"},
        Drift{"RightAlignLost", "10, 25, 226, 13, WS_EX_RIGHT | WS_EX_TRANSPARENT",
              "10, 25, 226, 13, WS_EX_TRANSPARENT", "(id 1009) extended style"},
        Drift{"WrongClass", "\"msctls_progress32\"", "\"Static\"", "(id 104) class"},
        Drift{"PanelNotLast", "CONTROL \"Text\", IDC_NOTICE_TEXT",
              "CONTROL \"Text\", IDC_PANEL_FRAME", "id 1010) id"},
        Drift{"LogoImage", "CONTROL IDB_LOGO, IDC_LOGO", "CONTROL IDR_MAINFRAME, IDC_LOGO",
              "(id 1014) image"},
        Drift{"MainCaption", "CAPTION \"Upgrade\"", "CAPTION \"Upgrade program\"",
              "dialog 102 caption"},
        Drift{"NoticeFont", "FONT 9, \"Tahoma\"", "FONT 8, \"Tahoma\"", "dialog 129 font size"},
        Drift{"MinimiseBoxLost", "WS_SYSMENU | WS_MINIMIZEBOX", "WS_SYSMENU", "dialog 102 style"},
        Drift{"AppWindowLost", "EXSTYLE WS_EX_APPWINDOW", "EXSTYLE 0", "dialog 102 extended style"},
        Drift{"NoticeSize", "0, 0, 248, 258", "0, 0, 248, 260", "dialog 129 size"},
        Drift{"ControlDropped",
              "    CONTROL \"Information\", IDC_INFORMATION, \"Static\", SS_LEFT, 10, 206, 160, "
              "16, WS_EX_TRANSPARENT\n",
              "", "dialog 129 control count"},
        Drift{"UnknownName", "WS_BORDER, 5, 27", "PBS_SMOOTH, 5, 27", "unknown name PBS_SMOOTH"}),
    [](const ::testing::TestParamInfo<Drift>& edit) { return std::string(edit.param.name); });

uint32_t little(const std::string& bytes, size_t at, size_t size)
{
    uint32_t value = 0;
    for (size_t i = 0; i < size; ++i)
        value |= static_cast<uint32_t>(static_cast<unsigned char>(bytes.at(at + i))) << (8 * i);
    return value;
}

TEST(TemplatesRc, LogoIs120By32With256Colours)
{
    const RcScript script = readScript(scriptText());
    ASSERT_EQ(script.bitmaps.count(kLogoBitmapId), 1u);
    const std::string bmp = readText(sourcePath("resources/" + script.bitmaps.at(kLogoBitmapId)));
    ASSERT_GE(bmp.size(), 54u);
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    EXPECT_EQ(little(bmp, 2, 4), bmp.size()); // declared file size
    EXPECT_EQ(little(bmp, 14, 4), 40u);       // BITMAPINFOHEADER: readable by every system
    EXPECT_EQ(little(bmp, 18, 4), 120u);
    EXPECT_EQ(little(bmp, 22, 4), 32u);
    EXPECT_EQ(little(bmp, 28, 2), 8u); // bits per pixel: a 256-colour palette
    EXPECT_EQ(little(bmp, 30, 4), 0u); // uncompressed
    const uint32_t pixelsAt = little(bmp, 10, 4);
    EXPECT_GE(bmp.size(), pixelsAt + 120u * 32u); // rows of 120 bytes, already 4-aligned
}

TEST(TemplatesRc, IconHasStandardAndSmallSizes)
{
    const RcScript script = readScript(scriptText());
    ASSERT_EQ(script.icons.count(kAppIconId), 1u);
    const std::string ico = readText(sourcePath("resources/" + script.icons.at(kAppIconId)));
    ASSERT_GE(ico.size(), 6u);
    EXPECT_EQ(little(ico, 0, 2), 0u);
    EXPECT_EQ(little(ico, 2, 2), 1u); // an icon, not a cursor
    const uint32_t images = little(ico, 4, 2);
    bool big = false, small = false;
    for (uint32_t i = 0; i < images; ++i) {
        const size_t entry = 6 + 16 * i;
        ASSERT_GE(ico.size(), entry + 16);
        const uint32_t width = little(ico, entry, 1), height = little(ico, entry + 1, 1);
        const uint32_t size = little(ico, entry + 8, 4), offset = little(ico, entry + 12, 4);
        EXPECT_LE(static_cast<size_t>(offset) + size, ico.size()) << "image " << i;
        big = big || (width == 32 && height == 32);
        small = small || (width == 16 && height == 16);
    }
    EXPECT_TRUE(big);
    EXPECT_TRUE(small);
}

} // namespace
