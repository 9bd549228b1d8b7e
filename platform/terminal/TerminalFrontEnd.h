// The Linux front end: a terminal program that shows the running modal dialog
// of the in-memory class library and every message box, and feeds the user's
// keys back as button presses and list selections.
//
// Two ways of talking to the user:
// - keys (standard input is a terminal): full-screen drawing with ANSI escape
//   sequences; arrows move in the list and between buttons, Enter presses the
//   focused (or else the default) button, Esc is Cancel/EXIT, the underlined
//   letters press their buttons, y/n answer Yes/No boxes;
// - lines (anything else, e.g. a script): the screen is printed as text and one
//   command is read per line: a list number, a button's letter or word ("u",
//   "update", "e", "exit", "ok", "cancel", "y", "n").
// At the end of the input every dialog ends with Cancel and every question is
// answered with No (a box with only OK with OK), so a script never hangs.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "platform/model/ModelWindows.h"

struct TerminalSettings {
    enum class Mode { Automatic, Keys, Lines };
    Mode mode = Mode::Automatic;    // Automatic: keys when standard input is a terminal
    std::istream* input = nullptr;  // null: standard input
    std::ostream* output = nullptr; // null: standard output
    int columns = 0;                // 0: the terminal's width (80 when unknown)
    std::string sourceCharset;      // "": by the user's locale identifier (sys())
    std::string targetCharset;      // "": the locale's encoding
    bool ansi = true;               // keys mode: colours and attributes
};

class TerminalFrontEnd : public ModalDriver {
public:
    explicit TerminalFrontEnd(TerminalSettings settings = {});
    ~TerminalFrontEnd() override; // gives the terminal back as it was

    // Becomes the modal driver, the message presenter and the repaint hook.
    void install();
    void uninstall();

    // ModalDriver: talks with the user until the dialog ends.
    void run(CDialog& dialog) override;
    // The message presenter: shows the box and answers IDOK_, IDYES_, ...
    int messageBox(CWnd* owner, const std::string& text, const std::string& title, uint32_t flags);
    // The repaint hook: redraws what changed while the program is busy.
    void repaint(CDialog& dialog);

    // The screen of a dialog and of a message box as plain text lines in the
    // terminal's encoding (what lines mode prints).
    std::vector<std::string> renderDialog(CDialog& dialog);
    std::vector<std::string> renderMessageBox(const std::string& text, const std::string& title,
                                              uint32_t flags, int focusedButton = -1);

    bool keysMode() const;

private:
    struct Impl;
    Impl* impl_;
};

// For the program's main: reads the locale from the environment
// (setlocale(LC_ALL, "")), makes one front end on the standard streams and
// installs it. The front end lives until the program ends.
TerminalFrontEnd& runTerminalFrontEnd(TerminalSettings settings = {});
