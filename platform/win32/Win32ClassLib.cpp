// Windows, controls and graphics objects of the class library on the real API.
#include <windows.h>

#include <commctrl.h>

#include <cstdlib>
#include <vector>

#include "platform/win32/Win32Window.h"

WindowState& win32State(CWnd& window)
{
    if (window.state == nullptr) window.state = new WindowState;
    return *window.state;
}

HWND win32Handle(const CWnd& window)
{
    return window.state != nullptr ? window.state->hwnd : nullptr;
}

// ---- device context ---------------------------------------------------------

void Win32DC::setTextColor(ColorRef color)
{
    SetTextColor(dc_, color);
}

void Win32DC::setBkColor(ColorRef color)
{
    SetBkColor(dc_, color);
}

void Win32DC::selectFont(CFont& font)
{
    if (font.handle == nullptr) return;
    SelectObject(dc_, static_cast<HGDIOBJ>(font.handle));
    selected_ = static_cast<HFONT>(font.handle);
}

void Win32DC::drawIcon(int x, int y, Handle icon)
{
    if (icon != nullptr) DrawIcon(dc_, x, y, static_cast<HICON>(icon));
}

// ---- graphics objects -------------------------------------------------------

CFont::~CFont()
{
    deleteObject();
}

bool CFont::createPointFont(int tenths, const std::string& faceName)
{
    // A second creation replaces the first; the old font must not leak.
    deleteObject();

    LOGFONTA font{};
    HDC screen = GetDC(nullptr);
    const int pixelsPerInch = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen != nullptr) ReleaseDC(nullptr, screen);
    font.lfHeight = -std::abs(MulDiv(tenths, pixelsPerInch, 720));
    font.lfCharSet = DEFAULT_CHARSET;
    const size_t length = faceName.size() < LF_FACESIZE - 1 ? faceName.size() : LF_FACESIZE - 1;
    faceName.copy(font.lfFaceName, length);
    font.lfFaceName[length] = '\0';

    handle = CreateFontIndirectA(&font);
    tenthsOfPoint = tenths;
    face.assign(font.lfFaceName);
    return handle != nullptr;
}

void CFont::deleteObject()
{
    if (handle != nullptr) DeleteObject(static_cast<HGDIOBJ>(handle));
    handle = nullptr;
}

CBrush::~CBrush()
{
    deleteObject();
}

bool CBrush::createSolidBrush(ColorRef colour)
{
    deleteObject();
    handle = CreateSolidBrush(colour);
    color = colour;
    return handle != nullptr;
}

void CBrush::deleteObject()
{
    if (handle != nullptr) DeleteObject(static_cast<HGDIOBJ>(handle));
    handle = nullptr;
}

// ---- windows ----------------------------------------------------------------

CWnd::~CWnd()
{
    delete state;
    state = nullptr;
}

void CWnd::setWindowText(const std::string& text)
{
    if (HWND hwnd = win32Handle(*this)) SetWindowTextA(hwnd, text.c_str());
}

std::string CWnd::getWindowText() const
{
    HWND hwnd = win32Handle(*this);
    if (hwnd == nullptr) return {};
    const int length = GetWindowTextLengthA(hwnd);
    if (length <= 0) return {};
    std::vector<char> buffer(static_cast<size_t>(length) + 1);
    const int got = GetWindowTextA(hwnd, buffer.data(), length + 1);
    return std::string(buffer.data(), got > 0 ? static_cast<size_t>(got) : 0);
}

void CWnd::enableWindow(bool enable)
{
    if (HWND hwnd = win32Handle(*this)) EnableWindow(hwnd, enable ? TRUE : FALSE);
}

bool CWnd::isWindowEnabled() const
{
    HWND hwnd = win32Handle(*this);
    return hwnd != nullptr && IsWindowEnabled(hwnd);
}

void CWnd::showWindow(bool show)
{
    if (HWND hwnd = win32Handle(*this)) ShowWindow(hwnd, show ? SW_SHOW : SW_HIDE);
}

bool CWnd::isWindowVisible() const
{
    HWND hwnd = win32Handle(*this);
    return hwnd != nullptr && IsWindowVisible(hwnd);
}

void CWnd::setFocus()
{
    if (HWND hwnd = win32Handle(*this)) SetFocus(hwnd);
}

void CWnd::updateWindow()
{
    if (HWND hwnd = win32Handle(*this)) UpdateWindow(hwnd);
}

bool CWnd::isIconic() const
{
    HWND hwnd = win32Handle(*this);
    return hwnd != nullptr && IsIconic(hwnd);
}

void CWnd::getClientSize(int& width, int& height) const
{
    width = 0;
    height = 0;
    HWND hwnd = win32Handle(*this);
    RECT area{};
    if (hwnd == nullptr || !GetClientRect(hwnd, &area)) return;
    width = area.right - area.left;
    height = area.bottom - area.top;
}

intptr_t CWnd::sendMessage(unsigned message, uintptr_t wParam, intptr_t lParam)
{
    HWND hwnd = win32Handle(*this);
    if (hwnd == nullptr) return 0;
    return SendMessageA(hwnd, message, wParam, lParam);
}

void CWnd::setIcon(Handle icon, int which)
{
    sendMessage(WM_SETICON, static_cast<uintptr_t>(which), reinterpret_cast<intptr_t>(icon));
}

Handle CWnd::nativeHandle() const
{
    return win32Handle(*this);
}

// ---- controls ---------------------------------------------------------------

int CComboBox::addString(const std::string& text)
{
    return static_cast<int>(sendMessage(CB_ADDSTRING, 0, reinterpret_cast<intptr_t>(text.c_str())));
}

int CComboBox::setCurSel(int index)
{
    return static_cast<int>(sendMessage(CB_SETCURSEL, static_cast<uintptr_t>(index), 0));
}

int CComboBox::getCurSel() const
{
    HWND hwnd = win32Handle(*this);
    if (hwnd == nullptr) return CB_ERR;
    return static_cast<int>(SendMessageA(hwnd, CB_GETCURSEL, 0, 0));
}

int CComboBox::getCount() const
{
    HWND hwnd = win32Handle(*this);
    if (hwnd == nullptr) return 0;
    return static_cast<int>(SendMessageA(hwnd, CB_GETCOUNT, 0, 0));
}

std::string CComboBox::getLBText(int index) const
{
    HWND hwnd = win32Handle(*this);
    if (hwnd == nullptr) return {};
    const LRESULT length = SendMessageA(hwnd, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == CB_ERR || length <= 0) return {};
    std::vector<char> buffer(static_cast<size_t>(length) + 1);
    const LRESULT got = SendMessageA(hwnd, CB_GETLBTEXT, static_cast<WPARAM>(index),
                                     reinterpret_cast<LPARAM>(buffer.data()));
    if (got == CB_ERR || got <= 0) return {};
    return std::string(buffer.data(), static_cast<size_t>(got));
}

void CProgressCtrl::setRange(int lower, int upper)
{
    // The 16-bit range message: lower limit in the low word, upper in the high.
    sendMessage(
        PBM_SETRANGE, 0,
        static_cast<intptr_t>(MAKELPARAM(static_cast<WORD>(lower), static_cast<WORD>(upper))));
}

int CProgressCtrl::setStep(int step)
{
    return static_cast<int>(sendMessage(PBM_SETSTEP, static_cast<uintptr_t>(step), 0));
}

int CProgressCtrl::setPos(int position)
{
    return static_cast<int>(sendMessage(PBM_SETPOS, static_cast<uintptr_t>(position), 0));
}

int CProgressCtrl::stepIt()
{
    return static_cast<int>(sendMessage(PBM_STEPIT, 0, 0));
}
