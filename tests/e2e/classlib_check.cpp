// Checks of the Win32 system services and class library on a real Windows API
// (run under Wine by run_wine_tests.sh). Prints one line per failed check and
// a closing "N passed, N failed"; the exit status is 0 only when all passed.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/Platform.h"
#include "platform/classlib/ClassLib.h"
#include "platform/win32/Win32System.h"
#include "platform/win32/Win32Window.h"
#include "resources/resource.h"

namespace {

int passed = 0;
int failed = 0;

void check(bool ok, const std::string& what)
{
    if (ok) {
        ++passed;
    } else {
        ++failed;
        std::printf("FAIL %s\n", what.c_str());
    }
}

void checkSystemServices()
{
    SystemServices& s = sys();
    const OsVersionInfo version = s.versionInfo();
    check(version.ok, "GetVersionExA answers");
    check(version.majorVersion >= 4, "a plausible major version");
    check(s.moduleFileName() == "classlib_check.exe", "module file name without directory");
    check(moduleFileTitle() == "classlib_check", "module file title");
    const std::string path = s.modulePath();
    check(path.size() > s.moduleFileName().size() && path.find(':') == 1, "full module path");

    // The pause really waits and the clock really runs.
    const uint32_t before = s.clockMilliseconds();
    s.waitMilliseconds(120);
    const uint32_t waited = s.clockMilliseconds() - before;
    check(waited >= 100 && waited < 2000, "waitMilliseconds(120) waits about 120 ms");

    // Events: auto reset, unsignalled at first.
    Handle event = s.createEvent();
    check(event != nullptr, "createEvent");
    check(WaitForSingleObject(event, 0) == WAIT_TIMEOUT, "a new event is unsignalled");
    s.setEvent(event);
    s.waitEvent(event); // returns: it was set
    check(WaitForSingleObject(event, 0) == WAIT_TIMEOUT, "a wait resets the event");
    s.setEvent(event);
    s.resetEvent(event);
    check(WaitForSingleObject(event, 0) == WAIT_TIMEOUT, "resetEvent");
    s.closeEvent(event);

    // Files: whole contents, then the end; a missing file answers null.
    const char* name = "classlib_check.tmp";
    {
        HANDLE f = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(f, "0123456789", 10, &written, nullptr);
        CloseHandle(f);
    }
    Handle file = s.openFileForReading(name);
    check(file != nullptr, "openFileForReading of an existing file");
    char buffer[16] = {};
    uint32_t got = 0;
    check(s.readFile(file, buffer, 6, got) && got == 6 && std::string(buffer, 6) == "012345",
          "first read");
    // Another reader may open the file meanwhile.
    Handle second = s.openFileForReading(name);
    check(second != nullptr, "the file is shared for reading");
    s.closeFile(second);
    check(s.readFile(file, buffer, 16, got) && got == 4, "second read gets the rest");
    check(s.readFile(file, buffer, 16, got) && got == 0, "end of file reads 0 bytes");
    s.closeFile(file);
    DeleteFileA(name);
    check(s.openFileForReading("no such file.bin") == nullptr, "a missing file answers null");
}

void checkFontsAndBrushes()
{
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);

    struct FontCase {
        int tenths;
        const char* face;
        const char* storedFace;
    };
    const FontCase cases[] = {
        {90, "Tahoma", "Tahoma"},
        {190, "Times New Roman Bold", "Times New Roman Bold"},
        {85, "Arial", "Arial"},
        {150, "A face name that is far longer than thirty-one characters",
         "A face name that is far longer "},
    };
    for (const FontCase& c : cases) {
        CFont font;
        check(font.createPointFont(c.tenths, c.face), std::string("createPointFont ") + c.face);
        LOGFONTA info{};
        GetObjectA(static_cast<HFONT>(font.handle), sizeof info, &info);
        check(info.lfHeight == -MulDiv(c.tenths, dpi, 720),
              "font height of " + std::to_string(c.tenths) + " tenths");
        check(info.lfCharSet == DEFAULT_CHARSET && info.lfWeight == 0 && !info.lfItalic,
              "default character set, normal weight");
        check(std::string(info.lfFaceName) == c.storedFace && font.face == c.storedFace,
              std::string("face cut to 31 characters: ") + c.face);
        check(font.tenthsOfPoint == c.tenths, "tenths remembered");
    }

    CFont font;
    font.createPointFont(90, "Tahoma");
    Handle first = font.handle;
    font.createPointFont(100, "Arial");
    check(GetObjectType(static_cast<HGDIOBJ>(first)) == 0, "a second font releases the first");
    font.deleteObject();
    check(!font.exists(), "deleteObject empties the font");

    CBrush brush;
    check(brush.createSolidBrush(0x00FF8040), "createSolidBrush");
    LOGBRUSH info{};
    GetObjectA(static_cast<HBRUSH>(brush.handle), sizeof info, &info);
    check(info.lbStyle == BS_SOLID && info.lbColor == 0x00FF8040, "a solid brush of the colour");
    Handle old = brush.handle;
    brush.createSolidBrush(0xFFFFFF);
    check(GetObjectType(static_cast<HGDIOBJ>(old)) == 0, "a second brush releases the first");
}

// Controls made directly, bound by hand as a dialog would bind them.
void checkControls()
{
    HWND parent = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 300, 200, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    HWND progressWindow = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD, 0, 0, 200, 10, parent,
                                          nullptr, GetModuleHandleA(nullptr), nullptr);
    HWND comboWindow = CreateWindowExA(0, "COMBOBOX", "", WS_CHILD | CBS_DROPDOWNLIST, 0, 20, 200,
                                       100, parent, nullptr, GetModuleHandleA(nullptr), nullptr);

    CProgressCtrl progress;
    win32State(progress).hwnd = progressWindow;
    progress.setRange(0, 1000);
    PBRANGE range{};
    SendMessageA(progressWindow, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    check(range.iLow == 0 && range.iHigh == 1000, "setRange: upper limit in the high word");
    progress.setStep(250);
    check(progress.setPos(100) == 0, "setPos answers the old position");
    check(progress.stepIt() == 100, "stepIt answers the old position");
    check(SendMessageA(progressWindow, PBM_GETPOS, 0, 0) == 350, "stepIt adds the step");
    check(progress.setStep(10) == 250, "setStep answers the old step");

    CComboBox combo;
    win32State(combo).hwnd = comboWindow;
    check(combo.getCurSel() == CB_ERR, "an empty list has no selection");
    check(combo.addString("E:\\ first") == 0 && combo.addString("F:\\ second") == 1,
          "addString keeps table order");
    check(combo.getCount() == 2, "getCount");
    combo.setCurSel(1);
    check(combo.getCurSel() == 1 && combo.getLBText(1) == "F:\\ second", "selection and text");
    check(combo.getLBText(5).empty(), "text of a missing entry is empty");

    CStatic label;
    check(label.getWindowText().empty() && !label.isWindowVisible(), "an unbound window is inert");
    label.setWindowText("ignored"); // no window: nothing happens

    CWnd parentObject;
    win32State(parentObject).hwnd = parent;
    parentObject.setWindowText("caption text");
    check(parentObject.getWindowText() == "caption text", "window text round trip");
    parentObject.enableWindow(false);
    check(!parentObject.isWindowEnabled(), "enableWindow(false)");
    parentObject.enableWindow(true);
    check(parentObject.isWindowEnabled(), "enableWindow(true)");

    progress.state->hwnd = nullptr;
    combo.state->hwnd = nullptr;
    parentObject.state->hwnd = nullptr;
    DestroyWindow(parent);
}

class Label : public CStatic {
public:
    CBrush brush;
    CFont font;
    int requests = 0;
    Handle reflectCtlColor(CDC& dc, unsigned) override
    {
        ++requests;
        dc.setTextColor(0xFF0000);
        dc.setBkColor(0xFFFFFF);
        if (font.exists()) dc.selectFont(font);
        return brush.handle;
    }
};

// The notice page template, run modally; the checks run inside its
// initialisation and the dialog then ends itself.
class NoticePage : public CDialog {
public:
    Label headline; // brush and font
    Label status;   // font only: the default colouring must run
    CStatic logo;
    bool initialised = false;

    NoticePage() : CDialog(IDD_NOTICE)
    {
        bindControl(IDC_HEADLINE, headline);
        bindControl(IDC_INFORMATION, status);
        bindControl(IDC_LOGO, logo);
    }

    bool onInitDialog() override
    {
        CDialog::onInitDialog();
        initialised = true;
        HWND dialog = static_cast<HWND>(nativeHandle());
        check(headline.nativeHandle() == GetDlgItem(dialog, IDC_HEADLINE), "controls bound by id");
        check(logo.nativeHandle() == GetDlgItem(dialog, IDC_LOGO), "picture bound");
        check(headline.getWindowText() == "CD-ROM/R/RW", "template text");

        headline.brush.createSolidBrush(0xFFFFFF);
        headline.font.createPointFont(190, "Arial");
        status.font.createPointFont(90, "Tahoma");

        HDC dc = GetDC(dialog);
        const LRESULT answer = SendMessageA(dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                            reinterpret_cast<LPARAM>(headline.nativeHandle()));
        check(headline.requests == 1, "the colour request reaches the control");
        check(reinterpret_cast<Handle>(answer) == headline.brush.handle,
              "the control's brush answers the request");
        check(GetTextColor(dc) == 0xFF0000 && GetBkColor(dc) == 0xFFFFFF,
              "the control's colours are set");
        check(reinterpret_cast<Handle>(SendMessageA(static_cast<HWND>(headline.nativeHandle()),
                                                    WM_GETFONT, 0, 0)) == headline.font.handle,
              "the control keeps its own font");

        const LRESULT fallback =
            SendMessageA(dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                         reinterpret_cast<LPARAM>(status.nativeHandle()));
        check(status.requests == 1 && fallback != 0 &&
                  reinterpret_cast<Handle>(fallback) != nullptr,
              "without a brush the dialog's default colouring answers");
        check(reinterpret_cast<Handle>(SendMessageA(static_cast<HWND>(status.nativeHandle()),
                                                    WM_GETFONT, 0, 0)) == status.font.handle,
              "a font without brush stays too");

        const LRESULT unbound =
            SendMessageA(dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                         reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_NOTICE_TEXT)));
        check(unbound != reinterpret_cast<LRESULT>(headline.brush.handle),
              "an unbound control gets the default colouring");
        ReleaseDC(dialog, dc);

        // A dialog that did not place itself opens centred on the work area.
        RECT area{}, own{};
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
        GetWindowRect(dialog, &own);
        check(own.left == 0 && own.top == 0, "not yet placed during initialisation");

        endDialog(42);
        return true;
    }
};

class MissingTemplate : public CDialog {
public:
    MissingTemplate() : CDialog(4321) {}
};

void checkDialogs()
{
    NoticePage page;
    check(page.doModal() == 42, "doModal answers the endDialog value");
    check(page.initialised, "onInitDialog ran");
    check(page.headline.nativeHandle() == nullptr && page.nativeHandle() == nullptr,
          "handles are forgotten when the dialog is gone");
    page.headline.setWindowText("after the end"); // harmless

    MissingTemplate missing;
    check(missing.doModal() == -1, "a missing template answers -1");

    check(CDialog::loadIcon(IDR_MAINFRAME) != nullptr, "icon resource loads");
    check(CDialog::loadIcon(999) == nullptr, "a missing icon answers null");
    check(CDialog::getSystemMetrics(SM_CXICON_) == GetSystemMetrics(SM_CXICON), "metrics");
}

volatile LONG threadRan = 0;
DWORD threadId = 0;

unsigned threadEntry(void* parameter)
{
    threadId = GetCurrentThreadId();
    InterlockedExchange(&threadRan, parameter == &threadRan ? 1 : 2);
    return 0;
}

void checkThreads()
{
    CWinThread* thread = beginThread(threadEntry, const_cast<LONG*>(&threadRan));
    check(thread != nullptr, "beginThread starts a thread");
    for (int i = 0; i < 200 && threadRan == 0; ++i)
        Sleep(10);
    check(threadRan == 1, "the thread gets its parameter");
    check(threadId != GetCurrentThreadId(), "it runs on another thread");
    check(beginThread(nullptr, nullptr) == nullptr, "no function, no thread");
}

class CheckApp : public CWinApp {
public:
    bool startUp() override { return false; }
};

} // namespace

int main()
{
    installWin32SystemServices();
    InitCommonControls();
    CheckApp app;
    check(currentApp() == &app, "the application object registers itself");

    checkSystemServices();
    checkFontsAndBrushes();
    checkControls();
    checkDialogs();
    checkThreads();

    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
