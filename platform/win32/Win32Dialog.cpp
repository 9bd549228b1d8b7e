// Modal dialogs from the program's templates, with the controls registered by
// the dialog classes bound to the template's child windows.
#include <windows.h>

#include "platform/win32/Win32Window.h"

struct DialogAccess {
    static INT_PTR CALLBACK procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    static void bindControls(CDialog& dialog)
    {
        HWND hwnd = win32Handle(dialog);
        if (hwnd == nullptr) return;
        for (int i = 0; i < dialog.bindingCount_; ++i) {
            const CDialog::Binding& binding = dialog.bindings_[i];
            win32State(*binding.control).hwnd = GetDlgItem(hwnd, static_cast<int>(binding.id));
        }
    }

    static void unbindControls(CDialog& dialog)
    {
        for (int i = 0; i < dialog.bindingCount_; ++i) {
            CWnd& control = *dialog.bindings_[i].control;
            if (control.state != nullptr) control.state->hwnd = nullptr;
        }
        if (dialog.state != nullptr) dialog.state->hwnd = nullptr;
    }

    // The bound control whose window is `child`, or null.
    static CWnd* boundControl(CDialog& dialog, HWND child)
    {
        if (child == nullptr) return nullptr;
        for (int i = 0; i < dialog.bindingCount_; ++i) {
            CWnd* control = dialog.bindings_[i].control;
            if (win32Handle(*control) == child) return control;
        }
        return nullptr;
    }

    // Centres `hwnd` on its visible owner, or on the work area, and keeps it
    // inside the work area.
    static void centre(HWND hwnd)
    {
        RECT area{};
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
        RECT reference = area;
        HWND owner = GetWindow(hwnd, GW_OWNER);
        if (owner != nullptr && IsWindowVisible(owner) && !IsIconic(owner))
            GetWindowRect(owner, &reference);
        RECT own{};
        GetWindowRect(hwnd, &own);
        const int width = own.right - own.left;
        const int height = own.bottom - own.top;
        int x = (reference.left + reference.right - width) / 2;
        int y = (reference.top + reference.bottom - height) / 2;
        if (x + width > area.right) x = area.right - width;
        if (y + height > area.bottom) y = area.bottom - height;
        if (x < area.left) x = area.left;
        if (y < area.top) y = area.top;
        SetWindowPos(hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }

    static HWND parentHandle(const CDialog& dialog)
    {
        return dialog.parent_ != nullptr ? win32Handle(*dialog.parent_) : nullptr;
    }
};

INT_PTR CALLBACK DialogAccess::procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<CDialog*>(lParam);
        SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
        win32State(*dialog).hwnd = hwnd;
        bindControls(*dialog);
        RECT before{};
        GetWindowRect(hwnd, &before);
        const bool focusSet = !dialog->onInitDialog();
        RECT after{};
        GetWindowRect(hwnd, &after);
        // A dialog that its initialisation did not place opens centred.
        if (EqualRect(&before, &after) && (GetWindowLongA(hwnd, GWL_STYLE) & WS_CHILD) == 0)
            centre(hwnd);
        return focusSet ? FALSE : TRUE;
    }

    auto* dialog = reinterpret_cast<CDialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (dialog == nullptr) return FALSE;

    switch (message) {
    case WM_COMMAND:
        return dialog->onCommand(LOWORD(wParam), HIWORD(wParam)) ? TRUE : FALSE;
    case WM_PAINT:
        return dialog->onPaint() ? TRUE : FALSE;
    case WM_QUERYDRAGICON:
        return reinterpret_cast<INT_PTR>(dialog->onQueryDragIcon());
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC: {
        // Reflect the request to the control that asks; a brush answers it,
        // none lets the dialog's default colouring run.
        HWND child = reinterpret_cast<HWND>(lParam);
        CWnd* control = boundControl(*dialog, child);
        if (control == nullptr) return FALSE;
        Win32DC dc(reinterpret_cast<HDC>(wParam));
        Handle brush = control->reflectCtlColor(dc, message - WM_CTLCOLORMSGBOX);
        // Some control implementations select their own font after asking for
        // colours, over the one the answer selected; giving the control that
        // font keeps it in both cases. No redraw: this paint already uses it.
        HFONT font = dc.selectedFont();
        if (font != nullptr &&
            reinterpret_cast<HFONT>(SendMessageA(child, WM_GETFONT, 0, 0)) != font)
            SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        return reinterpret_cast<INT_PTR>(brush);
    }
    case WM_NCDESTROY:
        unbindControls(*dialog);
        SetWindowLongPtrA(hwnd, DWLP_USER, 0);
        return FALSE;
    default:
        return FALSE;
    }
}

CDialog::CDialog(unsigned templateId, CWnd* parent) : templateId_(templateId), parent_(parent)
{
}

CDialog::~CDialog() = default;

intptr_t CDialog::doModal()
{
    const INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId_),
                                           DialogAccess::parentHandle(*this),
                                           DialogAccess::procedure, reinterpret_cast<LPARAM>(this));
    DialogAccess::unbindControls(*this);
    return result;
}

void CDialog::endDialog(int result)
{
    if (HWND hwnd = win32Handle(*this)) EndDialog(hwnd, result);
}

bool CDialog::onInitDialog()
{
    DialogAccess::bindControls(*this);
    return true;
}

Handle CDialog::loadIcon(unsigned resourceId)
{
    return LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(resourceId));
}

int CDialog::getSystemMetrics(int index)
{
    return GetSystemMetrics(index);
}

// ---- painting ---------------------------------------------------------------

struct CPaintDC::Impl {
    HWND hwnd;
    PAINTSTRUCT paint;
    Win32DC dc;
    Impl(HWND window, HDC context) : hwnd(window), paint{}, dc(context) {}
};

CPaintDC::CPaintDC(CWnd& window) : impl_(nullptr)
{
    HWND hwnd = win32Handle(window);
    PAINTSTRUCT paint{};
    HDC context = hwnd != nullptr ? BeginPaint(hwnd, &paint) : nullptr;
    impl_ = new Impl(hwnd, context);
    impl_->paint = paint;
}

CPaintDC::~CPaintDC()
{
    if (impl_->hwnd != nullptr && impl_->paint.hdc != nullptr) EndPaint(impl_->hwnd, &impl_->paint);
    delete impl_;
}

CDC& CPaintDC::dc()
{
    return impl_->dc;
}
