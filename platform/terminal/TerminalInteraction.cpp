// How the terminal front end talks with the user: a dialog runs by keys or by
// lines until it ends, a message box until it is answered; at the end of the
// input every dialog is cancelled and every question gets its unattended answer.
#include <algorithm>
#include <cctype>
#include <istream>
#include <ostream>

#include "platform/linux/MessagePresenter.h"
#include "platform/terminal/TerminalFrontEndImpl.h"
#include "resources/DialogTemplates.h"

using namespace terminalfrontend;

namespace {

constexpr const char* kKeyHelp =
    "  Arrows/Tab: move   Enter: press   Esc: cancel   underlined letter: that button";

} // namespace

void TerminalFrontEnd::Impl::endAtEndOfInput(CDialog& dialog)
{
    inputEnded = true;
    // Cancel as Esc would; when that is not possible the modal run ends
    // with IDCANCEL once the driver returns.
    modelClick(dialog, static_cast<unsigned>(IDCANCEL_));
}

void TerminalFrontEnd::Impl::moveFocus(CDialog& dialog, int direction)
{
    const auto stops = tabStops(dialog);
    if (stops.empty()) return;
    const WindowState* focus = modelFocus(dialog);
    auto at = std::find(stops.begin(), stops.end(), focus);
    int index = at == stops.end() ? (direction > 0 ? -1 : 0) : static_cast<int>(at - stops.begin());
    const int count = static_cast<int>(stops.size());
    index = ((index + direction) % count + count) % count;
    modelSetFocus(dialog, stops[static_cast<size_t>(index)]->id);
}

// Answers whether the key did something to the program.
bool TerminalFrontEnd::Impl::handleDialogKey(CDialog& dialog, int key)
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

void TerminalFrontEnd::Impl::runKeys(CDialog& dialog)
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

std::string TerminalFrontEnd::Impl::dialogPrompt(CDialog& dialog)
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

void TerminalFrontEnd::Impl::runLines(CDialog& dialog)
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
            out << converter->convert(stripMnemonic(button->text)) << " is not available now.\n";
    }
}

int TerminalFrontEnd::Impl::boxKeys(const std::string& text, const std::string& title,
                                    uint32_t flags)
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

int TerminalFrontEnd::Impl::boxLines(const std::string& text, const std::string& title,
                                     uint32_t flags)
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
