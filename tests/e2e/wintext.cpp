// Reads the dialogs of another program from outside, for the Wine tests:
//
//   wintext list                         every dialog and its controls
//   wintext wait CAPTION [MS]            waits for a dialog, then prints it
//   wintext gone CAPTION [MS]            waits until no such dialog is left
//   wintext press CAPTION ID             presses button ID (WM_COMMAND, BN_CLICKED)
//   wintext click CAPTION ID             presses button ID with BM_CLICK
//   wintext select CAPTION ID INDEX      selects a combo box entry as a user would
//   wintext watch CAPTION MS [UNTIL]     follows the dialog's texts and progress bars
//                                        for MS milliseconds, or until a dialog
//                                        titled UNTIL appears or CAPTION closes
//
// CAPTION matches a dialog caption exactly; "~TEXT" matches any caption that
// contains TEXT and "*" matches every dialog. Output is UTF-8, one line per
// dialog or control, fields separated by tabs:
//
//   dialog   CAPTION
//   control  ID  CLASS  visible|hidden  enabled|disabled  TEXT
//   item     ID  INDEX  TEXT          (combo box entries)
//   selected ID  INDEX
//   progress ID  POSITION  UPPER   (progress bars; "?" when the owner does not answer)
//
// watch writes one line whenever something it follows changes, each led by
// the milliseconds since it started:
//
//   MS  text      ID  TEXT       (the text as the window keeps it, no message sent)
//   MS  fill      ID  THOUSANDTHS  (share of a progress bar drawn filled on the screen)
//   MS  end       closed|until|timeout
//
// Carriage returns, line feeds, tabs and backslashes in texts are written as
// \r, \n, \t and \\. A message box is a dialog whose text is the static
// control with ID 65535. Exit status: 0 done, 1 not found or timed out,
// 2 wrong arguments.
#include <windows.h>

#include <commctrl.h>

#include <cwchar>
#include <string>
#include <utility>
#include <vector>

namespace {

void writeOut(const std::string& text)
{
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD written = 0;
    WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

std::string utf8(const std::wstring& text)
{
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string answer(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), answer.data(), size,
                        nullptr, nullptr);
    return answer;
}

std::string escaped(const std::wstring& text)
{
    std::string answer;
    for (char c : utf8(text)) {
        switch (c) {
        case '\r':
            answer += "\\r";
            break;
        case '\n':
            answer += "\\n";
            break;
        case '\t':
            answer += "\\t";
            break;
        case '\\':
            answer += "\\\\";
            break;
        default:
            answer += c;
        }
    }
    return answer;
}

std::wstring className(HWND hwnd)
{
    wchar_t name[256] = {};
    GetClassNameW(hwnd, name, 256);
    return name;
}

std::wstring caption(HWND hwnd)
{
    std::vector<wchar_t> text(static_cast<size_t>(GetWindowTextLengthW(hwnd)) + 2);
    GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()));
    return text.data();
}

// The current text of a control, asked of the control itself.
std::wstring controlText(HWND hwnd)
{
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length))
        return caption(hwnd);
    std::vector<wchar_t> text(length + 2);
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                             SMTO_ABORTIFHUNG, 2000, &got))
        return caption(hwnd);
    return std::wstring(text.data(), got < text.size() ? got : 0);
}

bool captionMatches(const std::wstring& wanted, const std::wstring& actual)
{
    if (wanted == L"*") return true;
    if (!wanted.empty() && wanted[0] == L'~')
        return actual.find(wanted.substr(1)) != std::wstring::npos;
    return wanted == actual;
}

struct DialogSearch {
    const std::wstring* wanted;
    std::vector<HWND> found;
};

BOOL CALLBACK collectDialog(HWND hwnd, LPARAM data)
{
    auto* search = reinterpret_cast<DialogSearch*>(data);
    if (className(hwnd) == L"#32770" && IsWindowVisible(hwnd) &&
        captionMatches(*search->wanted, caption(hwnd)))
        search->found.push_back(hwnd);
    return TRUE;
}

std::vector<HWND> dialogs(const std::wstring& wanted)
{
    DialogSearch search{&wanted, {}};
    EnumWindows(collectDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void printComboItems(HWND combo, int id)
{
    DWORD_PTR count = 0;
    SendMessageTimeoutW(combo, CB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 2000, &count);
    for (int index = 0; index < static_cast<int>(static_cast<LONG_PTR>(count)); ++index) {
        DWORD_PTR length = 0;
        SendMessageTimeoutW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0, SMTO_ABORTIFHUNG,
                            2000, &length);
        if (static_cast<LONG_PTR>(length) < 0) continue;
        std::vector<wchar_t> text(length + 2);
        // The wide-character message: the system copies the entry across the
        // process boundary only for it.
        DWORD_PTR got = 0;
        SendMessageTimeoutW(combo, CB_GETLBTEXT, static_cast<WPARAM>(index),
                            reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG, 2000, &got);
        writeOut("item\t" + std::to_string(id) + "\t" + std::to_string(index) + "\t" +
                 escaped(text.data()) + "\n");
    }
    DWORD_PTR selected = 0;
    SendMessageTimeoutW(combo, CB_GETCURSEL, 0, 0, SMTO_ABORTIFHUNG, 2000, &selected);
    writeOut("selected\t" + std::to_string(id) + "\t" +
             std::to_string(static_cast<LONG_PTR>(selected)) + "\n");
}

HWND waitForDialog(const std::wstring& wanted, DWORD milliseconds)
{
    const DWORD start = GetTickCount();
    for (;;) {
        const auto found = dialogs(wanted);
        if (!found.empty()) return found.front();
        if (GetTickCount() - start >= milliseconds) return nullptr;
        Sleep(100);
    }
}

bool isProgressBar(HWND hwnd)
{
    return _wcsicmp(className(hwnd).c_str(), L"msctls_progress32") == 0;
}

// The position and upper limit of a progress bar. A thread that dispatches
// no messages cannot answer: then both read "?".
void progressOf(HWND bar, UINT milliseconds, std::string& position, std::string& upper)
{
    DWORD_PTR value = 0;
    position = SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, milliseconds, &value)
                   ? std::to_string(static_cast<LONG_PTR>(value))
                   : "?";
    upper = SendMessageTimeoutW(bar, PBM_GETRANGE, FALSE, 0, SMTO_ABORTIFHUNG, milliseconds, &value)
                ? std::to_string(static_cast<LONG_PTR>(value))
                : "?";
}

// The text the window manager keeps for a window; asks nothing of its owner.
std::wstring keptText(HWND hwnd)
{
    wchar_t text[1024] = {};
    InternalGetWindowText(hwnd, text, 1024);
    return text;
}

// How much of a progress bar is drawn filled, in thousandths: the share of
// its middle pixel row on the screen that shows the highlight colour. Reads
// the screen only, so it works while the bar's thread dispatches nothing.
int fillOf(HWND bar)
{
    RECT client{};
    GetClientRect(bar, &client);
    POINT origin{0, 0};
    ClientToScreen(bar, &origin);
    const int width = client.right - client.left;
    if (width <= 0) return 0;
    const int row = origin.y + (client.bottom - client.top) / 2;

    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP strip = CreateCompatibleBitmap(screen, width, 1);
    HGDIOBJ old = SelectObject(memory, strip);
    BitBlt(memory, 0, 0, width, 1, screen, origin.x, row, SRCCOPY);
    SelectObject(memory, old);

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = 1;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<DWORD> pixels(static_cast<size_t>(width));
    GetDIBits(memory, strip, 0, 1, pixels.data(), &info, DIB_RGB_COLORS);
    DeleteObject(strip);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);

    const COLORREF highlight = GetSysColor(COLOR_HIGHLIGHT);
    const DWORD wanted = (DWORD{GetRValue(highlight)} << 16) | (DWORD{GetGValue(highlight)} << 8) |
                         GetBValue(highlight);
    int filled = 0;
    for (DWORD pixel : pixels)
        if ((pixel & 0xFFFFFF) == wanted) ++filled;
    return filled * 1000 / width;
}

struct Sample {
    std::vector<std::pair<int, std::string>> lines;
    HWND dialog;
};

BOOL CALLBACK sampleControl(HWND child, LPARAM data)
{
    auto* sample = reinterpret_cast<Sample*>(data);
    if (GetParent(child) != sample->dialog) return TRUE;
    const int id = GetDlgCtrlID(child);
    if (isProgressBar(child)) {
        sample->lines.emplace_back(id, "fill\t" + std::to_string(id) + "\t" +
                                           std::to_string(fillOf(child)));
    } else {
        sample->lines.emplace_back(id,
                                   "text\t" + std::to_string(id) + "\t" + escaped(keptText(child)));
    }
    return TRUE;
}

int watch(const std::wstring& wanted, DWORD milliseconds, const std::wstring& until)
{
    HWND dialog = waitForDialog(wanted, milliseconds);
    if (dialog == nullptr) return 1;
    const DWORD start = GetTickCount();
    std::vector<std::pair<int, std::string>> last;
    for (;;) {
        const DWORD now = GetTickCount() - start;
        const char* reason = nullptr;
        if (!IsWindow(dialog))
            reason = "closed";
        else if (!until.empty() && !dialogs(until).empty())
            reason = "until";
        else if (now >= milliseconds)
            reason = "timeout";
        if (reason != nullptr) {
            writeOut(std::to_string(now) + "\tend\t" + reason + "\n");
            return 0;
        }
        Sample sample{{}, dialog};
        EnumChildWindows(dialog, sampleControl, reinterpret_cast<LPARAM>(&sample));
        for (const auto& line : sample.lines) {
            bool seen = false;
            for (const auto& old : last)
                if (old == line) seen = true;
            // A progress bar that cannot answer this time keeps its last value.
            if (!seen && line.second.find("\t?") == std::string::npos)
                writeOut(std::to_string(now) + "\t" + line.second + "\n");
        }
        for (const auto& line : sample.lines) {
            if (line.second.find("\t?") != std::string::npos) continue;
            bool replaced = false;
            for (auto& old : last)
                if (old.first == line.first) {
                    old = line;
                    replaced = true;
                }
            if (!replaced) last.push_back(line);
        }
        Sleep(10);
    }
}

BOOL CALLBACK printControl(HWND child, LPARAM parent)
{
    if (GetParent(child) != reinterpret_cast<HWND>(parent)) return TRUE;
    const int id = GetDlgCtrlID(child);
    const std::wstring kind = className(child);
    writeOut("control\t" + std::to_string(id) + "\t" + utf8(kind) + "\t" +
             (IsWindowVisible(child) ? "visible" : "hidden") + "\t" +
             (IsWindowEnabled(child) ? "enabled" : "disabled") + "\t" +
             escaped(controlText(child)) + "\n");
    if (_wcsicmp(kind.c_str(), L"ComboBox") == 0) printComboItems(child, id);
    if (isProgressBar(child)) {
        std::string position;
        std::string upper;
        progressOf(child, 1000, position, upper);
        writeOut("progress\t" + std::to_string(id) + "\t" + position + "\t" + upper + "\n");
    }
    return TRUE;
}

void printDialog(HWND dialog)
{
    writeOut("dialog\t" + escaped(caption(dialog)) + "\n");
    EnumChildWindows(dialog, printControl, reinterpret_cast<LPARAM>(dialog));
}

int number(const wchar_t* text)
{
    return static_cast<int>(std::wcstol(text, nullptr, 0));
}

int usage()
{
    writeOut("usage: wintext list | wait CAPTION [MS] | gone CAPTION [MS] | press CAPTION ID |"
             " click CAPTION ID | select CAPTION ID INDEX | watch CAPTION MS [UNTIL]\n");
    return 2;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) return usage();
    const std::wstring command = argv[1];

    if (command == L"list") {
        for (HWND dialog : dialogs(L"*"))
            printDialog(dialog);
        return 0;
    }
    if (argc < 3) return usage();
    const std::wstring wanted = argv[2];

    if (command == L"wait") {
        const DWORD timeout = argc > 3 ? static_cast<DWORD>(number(argv[3])) : 10000;
        HWND dialog = waitForDialog(wanted, timeout);
        if (dialog == nullptr) return 1;
        printDialog(dialog);
        return 0;
    }
    if (command == L"watch") {
        const DWORD timeout = argc > 3 ? static_cast<DWORD>(number(argv[3])) : 10000;
        return watch(wanted, timeout, argc > 4 ? argv[4] : L"");
    }
    if (command == L"gone") {
        const DWORD timeout = argc > 3 ? static_cast<DWORD>(number(argv[3])) : 10000;
        const DWORD start = GetTickCount();
        while (!dialogs(wanted).empty()) {
            if (GetTickCount() - start >= timeout) return 1;
            Sleep(100);
        }
        return 0;
    }

    if (argc < 4) return usage();
    HWND dialog = waitForDialog(wanted, 0);
    if (dialog == nullptr) return 1;
    const int id = number(argv[3]);
    HWND control = GetDlgItem(dialog, id);

    if (command == L"press") {
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(control));
        return 0;
    }
    if (command == L"click") {
        if (control == nullptr) return 1;
        PostMessageW(control, BM_CLICK, 0, 0);
        return 0;
    }
    if (command == L"select" && argc > 4) {
        if (control == nullptr) return 1;
        DWORD_PTR result = 0;
        SendMessageTimeoutW(control, CB_SETCURSEL, static_cast<WPARAM>(number(argv[4])), 0,
                            SMTO_ABORTIFHUNG, 2000, &result);
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(control));
        return 0;
    }
    return usage();
}
