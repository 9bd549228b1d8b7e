// The inside of the terminal front end: its state and what its parts share
// (keys, the controls as the front end sees them, message box buttons, the
// terminal's raw mode).
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "platform/model/ModelWindows.h"
#include "platform/terminal/TerminalFrontEnd.h"
#include "platform/terminal/TerminalText.h"

namespace terminalfrontend {

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

// Gives the terminal back as it was before raw mode (safe in a signal handler).
void restoreTerminalNow();

// --- controls as the front end sees them ---
bool isPushButton(const WindowState& w);
bool isGroupBox(const WindowState& w);
bool usable(const WindowState& w);
std::vector<WindowState*> tabStops(CDialog& dialog);
WindowState* defaultButton(CDialog& dialog);
WindowState* firstList(CDialog& dialog);
std::string lower(std::string text);
std::string trim(const std::string& text);
// The button a typed word or letter names: its mnemonic letter or its label.
WindowState* buttonNamed(CDialog& dialog, const std::string& word);

// --- message box buttons ---
struct BoxButton {
    int answer;
    const char* label;
    char key;
};

std::vector<BoxButton> boxButtons(uint32_t flags);
int defaultBoxButton(uint32_t flags, size_t count);
// The answer Esc gives, or 0 when Esc does nothing in this box.
int escapeAnswer(const std::vector<BoxButton>& buttons);

} // namespace terminalfrontend

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

    explicit Impl(TerminalSettings s);

    // text and screens
    void ensureConverter();
    size_t columns() const;
    size_t contentWidth() const;
    std::string attr(const char* code) const;
    std::string pad(const std::string& text, size_t width, bool right) const;
    std::string rule(const std::string& label) const;
    std::string colourOf(CDialog& dialog, const WindowState& w) const;
    std::string buttonText(const std::string& label, char mnemonic, bool enabled,
                           bool focused) const;
    std::string progressBar(const WindowState& w, size_t cells) const;
    std::string progressCount(const WindowState& w) const;
    std::vector<std::string> dialogSource(CDialog& dialog);
    std::vector<std::string> boxSource(const std::string& text, const std::string& title,
                                       uint32_t flags, int focused);
    std::vector<std::string> convert(const std::vector<std::string>& source) const;
    void draw(const std::vector<std::string>& screen, bool force);
    void printLines(const std::vector<std::string>& lines);
    void repaintLines(CDialog& dialog);

    // the terminal and its input
    void enterRaw();
    void dropTypeAhead();
    int readByte(bool waitShortly);
    int readKey();
    void echoLine(const std::string& line);

    // dialogs and boxes
    void endAtEndOfInput(CDialog& dialog);
    void moveFocus(CDialog& dialog, int direction);
    bool handleDialogKey(CDialog& dialog, int key);
    void runKeys(CDialog& dialog);
    std::string dialogPrompt(CDialog& dialog);
    void runLines(CDialog& dialog);
    int boxKeys(const std::string& text, const std::string& title, uint32_t flags);
    int boxLines(const std::string& text, const std::string& title, uint32_t flags);
};
