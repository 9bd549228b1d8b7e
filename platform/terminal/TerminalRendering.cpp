// What the terminal front end shows: the screens of dialogs and message boxes
// laid out in the program's code page and converted for the terminal, and the
// progress lines of lines mode.
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <ostream>

#include "platform/terminal/TerminalFrontEndImpl.h"
#include "resources/DialogTemplates.h"

using namespace terminalfrontend;

namespace {

constexpr int kDefaultColumns = 80;
constexpr size_t kMaxContentWidth = 98;
constexpr size_t kLineProgressCells = 20;

} // namespace

void TerminalFrontEnd::Impl::ensureConverter()
{
    if (converter) return;
    std::string from = settings.sourceCharset;
    if (from.empty()) from = sourceCharsetForLcid(sys().userDefaultLcid());
    std::string to = settings.targetCharset.empty() ? terminalCharset() : settings.targetCharset;
    converter = std::make_unique<TextConverter>(from, to);
    if (!converter->ok() && lower(from) == "cp932")
        converter = std::make_unique<TextConverter>("SHIFT_JIS", to);
    const std::string f = lower(from);
    doubleByte = f.find("932") != std::string::npos || f.find("jis") != std::string::npos;
}

size_t TerminalFrontEnd::Impl::columns() const
{
    int cols = settings.columns;
    if (cols <= 0 && inputFd >= 0) {
        struct winsize size {};
        if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) cols = size.ws_col;
    }
    if (cols <= 0) cols = kDefaultColumns;
    return static_cast<size_t>(std::max(cols, 20));
}

size_t TerminalFrontEnd::Impl::contentWidth() const
{
    return std::min(columns() - 2, kMaxContentWidth);
}

std::string TerminalFrontEnd::Impl::attr(const char* code) const
{
    return ansi ? std::string(code) : std::string();
}

std::string TerminalFrontEnd::Impl::pad(const std::string& text, size_t width, bool right) const
{
    const size_t cols = textColumns(text, doubleByte);
    if (cols >= width) return text;
    return right ? std::string(width - cols, ' ') + text : text;
}

std::string TerminalFrontEnd::Impl::rule(const std::string& label) const
{
    const size_t width = contentWidth() + 2;
    std::string line = label.empty() ? "+" : "+- " + label + " ";
    const size_t cols = textColumns(line, doubleByte);
    if (cols < width) line += std::string(width - cols, '-');
    return line;
}

std::string TerminalFrontEnd::Impl::colourOf(CDialog& dialog, const WindowState& w) const
{
    if (!ansi || w.object == nullptr) return std::string();
    const PaintResult paint = modelPaint(dialog, w.id);
    if (!paint.handled || paint.textColor == 0) return std::string();
    const ColorRef c = paint.textColor;
    return "\x1b[38;2;" + std::to_string(c & 0xFF) + ";" + std::to_string((c >> 8) & 0xFF) + ";" +
           std::to_string((c >> 16) & 0xFF) + "m";
}

std::string TerminalFrontEnd::Impl::buttonText(const std::string& label, char mnemonic,
                                               bool enabled, bool focused) const
{
    if (!ansi) {
        const std::string body = enabled ? "[ " + label + " ]" : "( " + label + " )";
        return (focused ? ">" : " ") + body;
    }
    std::string shown;
    bool marked = false;
    for (char c : label) {
        if (!marked && mnemonic != 0 && std::tolower(static_cast<unsigned char>(c)) == mnemonic) {
            shown += "\x1b[4m" + std::string(1, c) + "\x1b[24m";
            marked = true;
        } else {
            shown += c;
        }
    }
    std::string start = focused ? "\x1b[7m" : (enabled ? "" : "\x1b[2m");
    return " " + start + "[ " + shown + " ]" + "\x1b[0m";
}

std::string TerminalFrontEnd::Impl::progressBar(const WindowState& w, size_t cells) const
{
    const int span = w.rangeUpper - w.rangeLower;
    const int done = w.pos - w.rangeLower;
    size_t filled = 0;
    if (span > 0 && done > 0)
        filled = std::min(cells, static_cast<size_t>(done) * cells / static_cast<size_t>(span));
    return "[" + std::string(filled, '#') + std::string(cells - filled, '-') + "]";
}

std::string TerminalFrontEnd::Impl::progressCount(const WindowState& w) const
{
    if (w.rangeLower == 0) return std::to_string(w.pos) + "/" + std::to_string(w.rangeUpper);
    return std::to_string(w.pos) + " in " + std::to_string(w.rangeLower) + ".." +
           std::to_string(w.rangeUpper);
}

// The screen of a dialog in the program's code page.
std::vector<std::string> TerminalFrontEnd::Impl::dialogSource(CDialog& dialog)
{
    ensureConverter();
    const size_t width = contentWidth();
    std::vector<std::string> lines;
    const WindowState* focus = modelFocus(dialog);
    const DialogTemplate* tpl = findDialogTemplate(dialog.templateId());

    std::vector<WindowState*> body, buttons;
    for (WindowState* w : modelControls(dialog)) {
        if (!w->visible) continue;
        (isPushButton(*w) ? buttons : body).push_back(w);
    }
    std::stable_sort(body.begin(), body.end(), [](const WindowState* a, const WindowState* b) {
        return a->y != b->y ? a->y < b->y : a->x < b->x;
    });

    lines.push_back(rule(dialog.getWindowText()));
    for (WindowState* w : body) {
        if (isGroupBox(*w)) {
            const std::string label = stripMnemonic(w->text);
            std::string line = "-- " + label + " ";
            const size_t cols = textColumns(line, doubleByte);
            if (cols < width) line += std::string(width - cols, '-');
            lines.push_back(colourOf(dialog, *w) + line + attr("\x1b[0m"));
        } else if (w->className == "ComboBox") {
            if (w->items.empty()) lines.push_back("  (empty list)");
            for (size_t i = 0; i < w->items.size(); ++i) {
                const bool selected = static_cast<int>(i) == w->curSel;
                const bool focusHere = selected && focus == w;
                std::string head =
                    std::string(selected ? "(*) " : "( ) ") + std::to_string(i + 1) + "  ";
                std::string item =
                    wrapText(w->items[i], width - 2 - head.size(), doubleByte).front();
                if (ansi)
                    lines.push_back("  " + std::string(focusHere ? "\x1b[7m" : "") + head + item +
                                    "\x1b[0m");
                else
                    lines.push_back(std::string(focusHere ? "> " : "  ") + head + item);
            }
        } else if (w->className == "msctls_progress32") {
            const size_t cells = std::min<size_t>(40, width > 20 ? width - 20 : 10);
            lines.push_back("  " + progressBar(*w, cells) + " " + progressCount(*w));
        } else if (w->className == "Static") {
            const uint32_t type = w->style & SS_TYPEMASK_;
            if (type == SS_BITMAP_) {
                const ControlTemplate* c =
                    tpl != nullptr ? findControlTemplate(*tpl, w->id) : nullptr;
                const bool logo = c != nullptr && c->imageId == kLogoBitmapId;
                lines.push_back(pad(logo ? "[logo]" : "[picture]", width, true));
                continue;
            }
            if (w->text.empty()) continue;
            const bool right = type == SS_RIGHT_ || (w->exStyle & WS_EX_RIGHT_) != 0;
            const std::string colour = colourOf(dialog, *w);
            for (const std::string& part : wrapText(stripMnemonic(w->text), width, doubleByte))
                lines.push_back(colour + pad(part, width, right) + attr("\x1b[0m"));
        }
    }
    std::string row;
    for (WindowState* b : buttons) {
        char mnemonic = 0;
        const std::string label = stripMnemonic(b->text, &mnemonic);
        row += (row.empty() ? "" : " ") + buttonText(label, mnemonic, b->enabled, focus == b);
    }
    if (!row.empty()) {
        lines.push_back("");
        lines.push_back(row);
    }
    lines.push_back(rule(""));
    return lines;
}

std::vector<std::string> TerminalFrontEnd::Impl::boxSource(const std::string& text,
                                                           const std::string& title, uint32_t flags,
                                                           int focused)
{
    ensureConverter();
    const size_t width = contentWidth();
    std::vector<std::string> lines;
    lines.push_back(rule(title));
    const char* icon = (flags & 0xF0) == MB_ICONERROR_         ? "(x) "
                       : (flags & 0xF0) == MB_ICONINFORMATION_ ? "(i) "
                                                               : "";
    bool first = true;
    for (const std::string& part : wrapText(text, width - 4, doubleByte)) {
        lines.push_back(std::string(first ? icon : (*icon != 0 ? "    " : "")) + part);
        first = false;
    }
    lines.push_back("");
    std::string row;
    const auto buttons = boxButtons(flags);
    for (size_t i = 0; i < buttons.size(); ++i)
        row += (i == 0 ? "" : " ") +
               buttonText(buttons[i].label, buttons[i].key, true, static_cast<int>(i) == focused);
    lines.push_back(row);
    lines.push_back(rule(""));
    return lines;
}

std::vector<std::string>
TerminalFrontEnd::Impl::convert(const std::vector<std::string>& source) const
{
    std::vector<std::string> result;
    result.reserve(source.size());
    for (const std::string& line : source) {
        const bool framed = line.rfind("+", 0) == 0;
        result.push_back(converter->convert(framed ? line : "| " + line));
    }
    return result;
}

void TerminalFrontEnd::Impl::draw(const std::vector<std::string>& screen, bool force)
{
    if (!force && screen == lastScreen) return;
    lastScreen = screen;
    std::string text = "\x1b[H\x1b[J";
    for (const std::string& line : screen)
        text += line + "\x1b[K\n";
    out << text << std::flush;
}

void TerminalFrontEnd::Impl::printLines(const std::vector<std::string>& lines)
{
    for (const std::string& line : lines)
        out << line << '\n';
    out << std::flush;
}

void TerminalFrontEnd::Impl::repaintLines(CDialog& dialog)
{
    ensureConverter();
    std::string status, bar;
    for (WindowState* w : modelControls(dialog)) {
        if (!w->visible) continue;
        if (w->className == "msctls_progress32") bar = progressBar(*w, kLineProgressCells);
        if (w->className == "Static" && (w->exStyle & WS_EX_STATICEDGE_) != 0)
            status = trim(w->text);
    }
    const std::string line = bar + (bar.empty() || status.empty() ? "" : " ") + status;
    if (line.empty() || line == lastProgressLine) return;
    lastProgressLine = line;
    out << converter->convert(line) << '\n' << std::flush;
}
