// The dialog's controls and the message box buttons as the terminal front end
// sees them.
#include <cctype>

#include "platform/terminal/TerminalFrontEndImpl.h"
#include "resources/DialogTemplates.h"

namespace terminalfrontend {

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

} // namespace terminalfrontend
