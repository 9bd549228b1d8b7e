// What the Win32 class library keeps for each class-library window: the
// window handle, once the object is bound to a real window.
#pragma once

#include <windows.h>

#include "platform/classlib/ClassLib.h"

struct WindowState {
    HWND hwnd = nullptr;
};

// The state of `window`, made on first use.
WindowState& win32State(CWnd& window);
// The handle `window` is bound to, or null.
HWND win32Handle(const CWnd& window);

// A device context handed to class-library code (colour requests, painting).
class Win32DC final : public CDC {
public:
    explicit Win32DC(HDC dc) : dc_(dc) {}
    void setTextColor(ColorRef color) override;
    void setBkColor(ColorRef color) override;
    void selectFont(CFont& font) override;
    void drawIcon(int x, int y, Handle icon) override;
    Handle nativeHandle() override { return dc_; }
    // The font selected through selectFont, or null.
    HFONT selectedFont() const { return selected_; }

private:
    HDC dc_;
    HFONT selected_ = nullptr;
};
