#include "platform/terminal/TerminalFrontEnd.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <memory>

#include "platform/linux/MessagePresenter.h"
#include "platform/terminal/TerminalText.h"
#include "resources/DialogTemplates.h"

namespace {

constexpr int kDefaultColumns = 80;
constexpr size_t kMaxContentWidth = 98;
constexpr size_t kLineProgressCells = 20;
constexpr const char* kKeyHelp =
    "  Arrows/Tab: move   Enter: press   Esc: cancel   underlined letter: that button";

enum Key : int {
    KeyEnd = -1,
    KeyIgnored = 0,
    KeyUp = 0x100,
    KeyDown,
    KeyLeft,
    KeyRight,
    KeyEnter,
    KeyEscape,
    KeyTab,
    KeyBackTab,
};

// --- the terminal's own state, kept where a signal handler can reach it ---
struct termios savedTermios;
volatile sig_atomic_t rawActive = 0;
constexpr char kLeaveScreen[] = "\x1b[0m\x1b[?25h\x1b[?1049l";

void restoreTerminalNow()
{
    if (!rawActive) return;
    rawActive = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &savedTermios);
    const ssize_t ignored = write(STDOUT_FILENO, kLeaveScreen, sizeof kLeaveScreen - 1);
    (void)ignored;
}

extern "C" void restoreOnSignal(int signal)
{
    restoreTerminalNow();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// --- controls as the front end sees them ---
bool isPushButton(const WindowState& w)
{
    return w.className == "Button" && (w.style & BS_TYPEMASK_) != BS_GROUPBOX_;
}

bool isGroupBox(const WindowState& w)
{
    return w.className == "Button" && (w.style & BS_TYPEMASK_) == BS_GROUPBOX_;
}

bool usable(const WindowState& w)
{
    return w.enabled && w.visible;
}

std::vector<WindowState*> tabStops(CDialog& dialog)
{
    std::vector<WindowState*> result;
    for (WindowState* w : modelControls(dialog))
        if ((w->style & WS_TABSTOP_) != 0 && usable(*w) &&
            (isPushButton(*w) || w->className == "ComboBox"))
            result.push_back(w);
    return result;
}

WindowState* defaultButton(CDialog& dialog)
{
    for (WindowState* w : modelControls(dialog))
        if (isPushButton(*w) && (w->style & BS_TYPEMASK_) == BS_DEFPUSHBUTTON_) return w;
    return nullptr;
}

WindowState* firstList(CDialog& dialog)
{
    for (WindowState* w : modelControls(dialog))
        if (w->className == "ComboBox" && w->visible) return w;
    return nullptr;
}

std::string lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string trim(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return std::string();
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// The button a typed word or letter names: its mnemonic letter or its label.
WindowState* buttonNamed(CDialog& dialog, const std::string& word)
{
    for (WindowState* w : modelControls(dialog)) {
        if (!isPushButton(*w) || !w->visible) continue;
        char mnemonic = 0;
        const std::string label = lower(stripMnemonic(w->text, &mnemonic));
        if (word == label || (word.size() == 1 && mnemonic != 0 && word[0] == mnemonic)) return w;
    }
    return nullptr;
}

// --- message box buttons ---
struct BoxButton {
    int answer;
    const char* label;
    char key;
};

std::vector<BoxButton> boxButtons(uint32_t flags)
{
    const BoxButton ok{IDOK_, "OK", 'o'}, cancel{IDCANCEL_, "Cancel", 'c'}, abort{3, "Abort", 'a'},
        retry{4, "Retry", 'r'}, ignore{5, "Ignore", 'i'}, yes{IDYES_, "Yes", 'y'},
        no{IDNO_, "No", 'n'};
    switch (flags & 0xF) {
    case 1:
        return {ok, cancel};
    case 2:
        return {abort, retry, ignore};
    case 3:
        return {yes, no, cancel};
    case 4:
        return {yes, no};
    case 5:
        return {retry, cancel};
    default:
        return {ok};
    }
}

int defaultBoxButton(uint32_t flags, size_t count)
{
    const size_t index = (flags >> 8) & 0xF;
    return static_cast<int>(index < count ? index : 0);
}

// The answer Esc gives, or 0 when Esc does nothing in this box.
int escapeAnswer(const std::vector<BoxButton>& buttons)
{
    for (const BoxButton& b : buttons)
        if (b.answer == IDCANCEL_) return IDCANCEL_;
    if (buttons.size() == 1 && buttons[0].answer == IDOK_) return IDOK_;
    return 0;
}

} // namespace

struct TerminalFrontEnd::Impl {
    TerminalSettings settings;
    std::istream& in;
    std::ostream& out;
    bool keys = false;
    bool ansi = false;
    int inputFd = -1; // the terminal, in keys mode on standard input
    bool inputEnded = false;
    bool installed = false;

    std::unique_ptr<TextConverter> converter;
    bool doubleByte = false;

    std::vector<std::string> lastScreen;  // keys mode: what is on the screen
    std::vector<std::string> lastPrinted; // lines mode: the last printed dialog
    std::string lastProgressLine;

    explicit Impl(TerminalSettings s)
        : settings(std::move(s)), in(settings.input != nullptr ? *settings.input : std::cin),
          out(settings.output != nullptr ? *settings.output : std::cout)
    {
        const bool onStdin = settings.input == nullptr;
        const bool tty = onStdin && isatty(STDIN_FILENO) == 1;
        switch (settings.mode) {
        case TerminalSettings::Mode::Keys:
            keys = true;
            break;
        case TerminalSettings::Mode::Lines:
            keys = false;
            break;
        case TerminalSettings::Mode::Automatic:
            keys = tty;
            break;
        }
        if (keys && tty) inputFd = STDIN_FILENO;
        ansi = keys && settings.ansi;
    }

    // ---------------------------------------------------------------- text
    void ensureConverter()
    {
        if (converter) return;
        std::string from = settings.sourceCharset;
        if (from.empty()) from = sourceCharsetForLcid(sys().userDefaultLcid());
        std::string to =
            settings.targetCharset.empty() ? terminalCharset() : settings.targetCharset;
        converter = std::make_unique<TextConverter>(from, to);
        if (!converter->ok() && lower(from) == "cp932")
            converter = std::make_unique<TextConverter>("SHIFT_JIS", to);
        const std::string f = lower(from);
        doubleByte = f.find("932") != std::string::npos || f.find("jis") != std::string::npos;
    }

    size_t columns() const
    {
        int cols = settings.columns;
        if (cols <= 0 && inputFd >= 0) {
            struct winsize size {};
            if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) cols = size.ws_col;
        }
        if (cols <= 0) cols = kDefaultColumns;
        return static_cast<size_t>(std::max(cols, 20));
    }

    size_t contentWidth() const { return std::min(columns() - 2, kMaxContentWidth); }

    std::string attr(const char* code) const { return ansi ? std::string(code) : std::string(); }

    std::string pad(const std::string& text, size_t width, bool right) const
    {
        const size_t cols = textColumns(text, doubleByte);
        if (cols >= width) return text;
        return right ? std::string(width - cols, ' ') + text : text;
    }

    std::string rule(const std::string& label) const
    {
        const size_t width = contentWidth() + 2;
        std::string line = label.empty() ? "+" : "+- " + label + " ";
        const size_t cols = textColumns(line, doubleByte);
        if (cols < width) line += std::string(width - cols, '-');
        return line;
    }

    std::string colourOf(CDialog& dialog, const WindowState& w) const
    {
        if (!ansi || w.object == nullptr) return std::string();
        const PaintResult paint = modelPaint(dialog, w.id);
        if (!paint.handled || paint.textColor == 0) return std::string();
        const ColorRef c = paint.textColor;
        return "\x1b[38;2;" + std::to_string(c & 0xFF) + ";" + std::to_string((c >> 8) & 0xFF) +
               ";" + std::to_string((c >> 16) & 0xFF) + "m";
    }

    std::string buttonText(const std::string& label, char mnemonic, bool enabled,
                           bool focused) const
    {
        if (!ansi) {
            const std::string body = enabled ? "[ " + label + " ]" : "( " + label + " )";
            return (focused ? ">" : " ") + body;
        }
        std::string shown;
        bool marked = false;
        for (char c : label) {
            if (!marked && mnemonic != 0 &&
                std::tolower(static_cast<unsigned char>(c)) == mnemonic) {
                shown += "\x1b[4m" + std::string(1, c) + "\x1b[24m";
                marked = true;
            } else {
                shown += c;
            }
        }
        std::string start = focused ? "\x1b[7m" : (enabled ? "" : "\x1b[2m");
        return " " + start + "[ " + shown + " ]" + "\x1b[0m";
    }

    std::string progressBar(const WindowState& w, size_t cells) const
    {
        const int span = w.rangeUpper - w.rangeLower;
        const int done = w.pos - w.rangeLower;
        size_t filled = 0;
        if (span > 0 && done > 0)
            filled = std::min(cells, static_cast<size_t>(done) * cells / static_cast<size_t>(span));
        return "[" + std::string(filled, '#') + std::string(cells - filled, '-') + "]";
    }

    std::string progressCount(const WindowState& w) const
    {
        if (w.rangeLower == 0) return std::to_string(w.pos) + "/" + std::to_string(w.rangeUpper);
        return std::to_string(w.pos) + " in " + std::to_string(w.rangeLower) + ".." +
               std::to_string(w.rangeUpper);
    }

    // The screen of a dialog in the program's code page.
    std::vector<std::string> dialogSource(CDialog& dialog)
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
                        lines.push_back("  " + std::string(focusHere ? "\x1b[7m" : "") + head +
                                        item + "\x1b[0m");
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

    std::vector<std::string> boxSource(const std::string& text, const std::string& title,
                                       uint32_t flags, int focused)
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
            row += (i == 0 ? "" : " ") + buttonText(buttons[i].label, buttons[i].key, true,
                                                    static_cast<int>(i) == focused);
        lines.push_back(row);
        lines.push_back(rule(""));
        return lines;
    }

    std::vector<std::string> convert(const std::vector<std::string>& source) const
    {
        std::vector<std::string> result;
        result.reserve(source.size());
        for (const std::string& line : source) {
            const bool framed = line.rfind("+", 0) == 0;
            result.push_back(converter->convert(framed ? line : "| " + line));
        }
        return result;
    }

    // ---------------------------------------------------------------- terminal
    void enterRaw()
    {
        if (inputFd < 0 || rawActive) return;
        if (tcgetattr(inputFd, &savedTermios) != 0) {
            inputFd = -1;
            return;
        }
        struct termios raw = savedTermios;
        // Keys arrive one by one, unechoed; Ctrl-C is a key, not a signal, so
        // an update in progress cannot be cut off from the keyboard.
        raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
        raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        tcsetattr(inputFd, TCSANOW, &raw);
        rawActive = 1;
        std::signal(SIGTERM, restoreOnSignal);
        std::signal(SIGHUP, restoreOnSignal);
        out << "\x1b[?1049h\x1b[?25l" << std::flush;
    }

    // Keys typed while the program was busy are not meant for what comes next.
    void dropTypeAhead()
    {
        if (inputFd >= 0) tcflush(inputFd, TCIFLUSH);
    }

    int readByte(bool waitShortly)
    {
        if (inputFd >= 0) {
            if (waitShortly) {
                struct pollfd p {
                    inputFd, POLLIN, 0
                };
                if (poll(&p, 1, 50) <= 0) return -2;
            }
            unsigned char c = 0;
            for (;;) {
                const ssize_t n = read(inputFd, &c, 1);
                if (n == 1) return c;
                if (n < 0 && errno == EINTR) continue;
                return -1;
            }
        }
        if (waitShortly) {
            const int next = in.peek();
            if (next != '[' && next != 'O') return -2;
        }
        const int c = in.get();
        return c == std::char_traits<char>::eof() ? -1 : c;
    }

    int readKey()
    {
        const int c = readByte(false);
        if (c < 0) return KeyEnd;
        switch (c) {
        case '\r':
        case '\n':
            return KeyEnter;
        case '\t':
            return KeyTab;
        case 3: // Ctrl-C
            return KeyEscape;
        case 4: // Ctrl-D
            return KeyEnd;
        case 0x1b:
            break;
        default:
            return std::tolower(c);
        }
        const int second = readByte(true);
        if (second == -2) return KeyEscape;
        if (second < 0) return KeyEnd;
        if (second != '[' && second != 'O') return KeyIgnored;
        for (;;) {
            const int final = readByte(false);
            if (final < 0) return KeyEnd;
            if ((final >= '0' && final <= '9') || final == ';') continue;
            switch (final) {
            case 'A':
                return KeyUp;
            case 'B':
                return KeyDown;
            case 'C':
                return KeyRight;
            case 'D':
                return KeyLeft;
            case 'Z':
                return KeyBackTab;
            default:
                return KeyIgnored;
            }
        }
    }

    void draw(const std::vector<std::string>& screen, bool force)
    {
        if (!force && screen == lastScreen) return;
        lastScreen = screen;
        std::string text = "\x1b[H\x1b[J";
        for (const std::string& line : screen)
            text += line + "\x1b[K\n";
        out << text << std::flush;
    }

    // Lines mode reads without a terminal's echo: show what was read, so that
    // the transcript reads like a session and output starts on a new line.
    void echoLine(const std::string& line)
    {
        const bool echoed = settings.input == nullptr && isatty(STDIN_FILENO) == 1;
        if (!echoed) out << trim(line) << '\n';
    }

    void printLines(const std::vector<std::string>& lines)
    {
        for (const std::string& line : lines)
            out << line << '\n';
        out << std::flush;
    }

    // ---------------------------------------------------------------- dialogs
    void endAtEndOfInput(CDialog& dialog)
    {
        inputEnded = true;
        // Cancel as Esc would; when that is not possible the modal run ends
        // with IDCANCEL once the driver returns.
        modelClick(dialog, static_cast<unsigned>(IDCANCEL_));
    }

    void moveFocus(CDialog& dialog, int direction)
    {
        const auto stops = tabStops(dialog);
        if (stops.empty()) return;
        const WindowState* focus = modelFocus(dialog);
        auto at = std::find(stops.begin(), stops.end(), focus);
        int index =
            at == stops.end() ? (direction > 0 ? -1 : 0) : static_cast<int>(at - stops.begin());
        const int count = static_cast<int>(stops.size());
        index = ((index + direction) % count + count) % count;
        modelSetFocus(dialog, stops[static_cast<size_t>(index)]->id);
    }

    // Answers whether the key did something to the program.
    bool handleDialogKey(CDialog& dialog, int key)
    {
        WindowState* focus = modelFocus(dialog);
        switch (key) {
        case KeyEscape:
            return modelClick(dialog, static_cast<unsigned>(IDCANCEL_));
        case KeyEnter: {
            WindowState* target =
                focus != nullptr && isPushButton(*focus) ? focus : defaultButton(dialog);
            return target != nullptr && modelClick(dialog, target->id);
        }
        case KeyUp:
        case KeyDown:
            if (focus != nullptr && focus->className == "ComboBox") {
                const int next = focus->curSel + (key == KeyUp ? -1 : 1);
                if (next < 0 || next >= static_cast<int>(focus->items.size())) return false;
                return modelSelect(dialog, focus->id, next);
            }
            moveFocus(dialog, key == KeyUp ? -1 : 1);
            return false;
        case KeyLeft:
        case KeyBackTab:
            moveFocus(dialog, -1);
            return false;
        case KeyRight:
        case KeyTab:
            moveFocus(dialog, 1);
            return false;
        default:
            break;
        }
        if (key > 0 && key < 0x100) {
            WindowState* button = buttonNamed(dialog, std::string(1, static_cast<char>(key)));
            if (button != nullptr) return modelClick(dialog, button->id);
        }
        return false;
    }

    void runKeys(CDialog& dialog)
    {
        enterRaw();
        dropTypeAhead();
        while (!modelDialogEnded(dialog)) {
            auto screen = convert(dialogSource(dialog));
            screen.push_back(kKeyHelp);
            draw(screen, false);
            const int key = readKey();
            if (key == KeyEnd) {
                endAtEndOfInput(dialog);
                return;
            }
            if (handleDialogKey(dialog, key)) dropTypeAhead();
        }
    }

    std::string dialogPrompt(CDialog& dialog)
    {
        std::string prompt = "Choose:";
        bool any = false;
        if (WindowState* list = firstList(dialog);
            list != nullptr && usable(*list) && !list->items.empty()) {
            prompt += list->items.size() == 1
                          ? " 1 = select the entry"
                          : " 1-" + std::to_string(list->items.size()) + " = select an entry";
            any = true;
        }
        for (WindowState* w : modelControls(dialog)) {
            if (!isPushButton(*w) || !usable(*w)) continue;
            char mnemonic = 0;
            const std::string label = stripMnemonic(w->text, &mnemonic);
            prompt += std::string(any ? "," : "") + " " +
                      (mnemonic != 0 ? std::string(1, mnemonic) : lower(label)) + " = " + label;
            any = true;
        }
        return prompt + " > ";
    }

    void runLines(CDialog& dialog)
    {
        while (!modelDialogEnded(dialog)) {
            if (inputEnded) {
                endAtEndOfInput(dialog);
                return;
            }
            auto screen = convert(dialogSource(dialog));
            if (screen != lastPrinted) {
                printLines(screen);
                lastPrinted = screen;
            }
            out << converter->convert(dialogPrompt(dialog)) << std::flush;
            std::string line;
            if (!std::getline(in, line)) {
                out << '\n';
                endAtEndOfInput(dialog);
                return;
            }
            echoLine(line);
            const std::string word = lower(trim(line));
            if (word.empty()) continue;
            if (std::all_of(word.begin(), word.end(),
                            [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
                WindowState* list = firstList(dialog);
                const long number = word.size() > 6 ? 0 : std::stol(word);
                if (list == nullptr || number < 1 ||
                    !modelSelect(dialog, list->id, static_cast<int>(number - 1)))
                    out << "There is no entry " << word << ".\n";
                continue;
            }
            WindowState* button = buttonNamed(dialog, word);
            if (button == nullptr && (word == "esc" || word == "cancel"))
                button = modelControl(dialog, static_cast<unsigned>(IDCANCEL_));
            if (button == nullptr) {
                out << "Unknown choice \"" << word << "\".\n";
                continue;
            }
            if (!modelClick(dialog, button->id))
                out << converter->convert(stripMnemonic(button->text))
                    << " is not available now.\n";
        }
    }

    // ---------------------------------------------------------------- boxes
    int boxKeys(const std::string& text, const std::string& title, uint32_t flags)
    {
        enterRaw();
        dropTypeAhead();
        const auto buttons = boxButtons(flags);
        int focused = defaultBoxButton(flags, buttons.size());
        for (;;) {
            std::vector<std::string> screen;
            if (CDialog* under = activeModelDialog()) screen = convert(dialogSource(*under));
            const auto box = convert(boxSource(text, title, flags, focused));
            screen.push_back("");
            screen.insert(screen.end(), box.begin(), box.end());
            draw(screen, false);
            const int key = readKey();
            if (key == KeyEnd) {
                inputEnded = true;
                return unattendedMessageBoxAnswer(flags);
            }
            const int count = static_cast<int>(buttons.size());
            switch (key) {
            case KeyEnter:
                return buttons[static_cast<size_t>(focused)].answer;
            case KeyEscape:
                if (int answer = escapeAnswer(buttons)) return answer;
                break;
            case KeyLeft:
            case KeyUp:
            case KeyBackTab:
                focused = (focused + count - 1) % count;
                break;
            case KeyRight:
            case KeyDown:
            case KeyTab:
                focused = (focused + 1) % count;
                break;
            default:
                for (const BoxButton& b : buttons)
                    if (key == b.key) return b.answer;
                break;
            }
        }
    }

    int boxLines(const std::string& text, const std::string& title, uint32_t flags)
    {
        const auto buttons = boxButtons(flags);
        printLines(convert(boxSource(text, title, flags, -1)));
        lastPrinted.clear(); // the dialog is shown again afterwards
        std::string prompt = "Answer:";
        for (size_t i = 0; i < buttons.size(); ++i)
            prompt += std::string(i ? "," : "") + " " + buttons[i].key + " = " + buttons[i].label;
        prompt += " > ";
        for (;;) {
            if (inputEnded) return unattendedMessageBoxAnswer(flags);
            out << prompt << std::flush;
            std::string line;
            if (!std::getline(in, line)) {
                out << '\n';
                inputEnded = true;
                return unattendedMessageBoxAnswer(flags);
            }
            echoLine(line);
            const std::string word = lower(trim(line));
            if (word.empty() && buttons.size() == 1) return buttons[0].answer;
            for (const BoxButton& b : buttons)
                if (word == std::string(1, b.key) || word == lower(b.label)) return b.answer;
            if (word == "esc")
                if (int answer = escapeAnswer(buttons)) return answer;
            if (!word.empty()) out << "Please answer with one of the letters shown.\n";
        }
    }

    // ---------------------------------------------------------------- repaint
    void repaintLines(CDialog& dialog)
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
};

TerminalFrontEnd::TerminalFrontEnd(TerminalSettings settings) : impl_(new Impl(std::move(settings)))
{
}

TerminalFrontEnd::~TerminalFrontEnd()
{
    uninstall();
    if (impl_->inputFd >= 0) restoreTerminalNow();
    delete impl_;
}

void TerminalFrontEnd::install()
{
    setModalDriver(this);
    setMessagePresenter([this](CWnd* owner, const std::string& text, const std::string& title,
                               uint32_t flags) { return messageBox(owner, text, title, flags); });
    setRepaintHook([this](CDialog& dialog) { repaint(dialog); });
    impl_->installed = true;
}

void TerminalFrontEnd::uninstall()
{
    if (!impl_->installed) return;
    impl_->installed = false;
    if (modalDriver() == this) setModalDriver(nullptr);
    setMessagePresenter(nullptr);
    setRepaintHook(nullptr);
}

bool TerminalFrontEnd::keysMode() const
{
    return impl_->keys;
}

void TerminalFrontEnd::run(CDialog& dialog)
{
    impl_->lastPrinted.clear();
    impl_->lastProgressLine.clear();
    if (impl_->keys)
        impl_->runKeys(dialog);
    else
        impl_->runLines(dialog);
}

int TerminalFrontEnd::messageBox(CWnd*, const std::string& text, const std::string& title,
                                 uint32_t flags)
{
    const int answer =
        impl_->keys ? impl_->boxKeys(text, title, flags) : impl_->boxLines(text, title, flags);
    impl_->lastScreen.clear();
    return answer;
}

void TerminalFrontEnd::repaint(CDialog& dialog)
{
    if (impl_->keys) {
        impl_->enterRaw();
        impl_->draw(impl_->convert(impl_->dialogSource(dialog)), false);
    } else {
        impl_->repaintLines(dialog);
    }
}

std::vector<std::string> TerminalFrontEnd::renderDialog(CDialog& dialog)
{
    return impl_->convert(impl_->dialogSource(dialog));
}

std::vector<std::string> TerminalFrontEnd::renderMessageBox(const std::string& text,
                                                            const std::string& title,
                                                            uint32_t flags, int focusedButton)
{
    return impl_->convert(impl_->boxSource(text, title, flags, focusedButton));
}

TerminalFrontEnd& runTerminalFrontEnd(TerminalSettings settings)
{
    std::setlocale(LC_ALL, "");
    // The seams the front end plugs into must outlive it at program end.
    installedMessagePresenter();
    setRepaintHook(nullptr);
    static std::unique_ptr<TerminalFrontEnd> frontEnd;
    frontEnd = std::make_unique<TerminalFrontEnd>(std::move(settings));
    frontEnd->install();
    return *frontEnd;
}
