// The dialog templates of the program as data: the one description of both
// windows. The Windows build compiles the same values from the resource
// script; the in-memory class library builds its windows from this table.
#pragma once

#include <cstddef>
#include <cstdint>

// Window, dialog and control styles, in the Windows values.
inline constexpr uint32_t WS_POPUP_ = 0x80000000;
inline constexpr uint32_t WS_CHILD_ = 0x40000000;
inline constexpr uint32_t WS_VISIBLE_ = 0x10000000;
inline constexpr uint32_t WS_DISABLED_ = 0x08000000;
inline constexpr uint32_t WS_CAPTION_ = 0x00C00000;
inline constexpr uint32_t WS_BORDER_ = 0x00800000;
inline constexpr uint32_t WS_VSCROLL_ = 0x00200000;
inline constexpr uint32_t WS_SYSMENU_ = 0x00080000;
inline constexpr uint32_t WS_GROUP_ = 0x00020000;
inline constexpr uint32_t WS_MINIMIZEBOX_ = 0x00020000;
inline constexpr uint32_t WS_TABSTOP_ = 0x00010000;

inline constexpr uint32_t DS_SETFONT_ = 0x40;
inline constexpr uint32_t DS_MODALFRAME_ = 0x80;

inline constexpr uint32_t BS_PUSHBUTTON_ = 0x0;
inline constexpr uint32_t BS_DEFPUSHBUTTON_ = 0x1;
inline constexpr uint32_t BS_GROUPBOX_ = 0x7;
inline constexpr uint32_t BS_TYPEMASK_ = 0xF;

inline constexpr uint32_t SS_LEFT_ = 0x0;
inline constexpr uint32_t SS_RIGHT_ = 0x2;
inline constexpr uint32_t SS_BITMAP_ = 0xE;
inline constexpr uint32_t SS_TYPEMASK_ = 0x1F;
inline constexpr uint32_t SS_CENTERIMAGE_ = 0x200;
inline constexpr uint32_t SS_SUNKEN_ = 0x1000;

inline constexpr uint32_t CBS_DROPDOWNLIST_ = 0x3;

inline constexpr uint32_t WS_EX_TRANSPARENT_ = 0x20;
inline constexpr uint32_t WS_EX_RIGHT_ = 0x1000;
inline constexpr uint32_t WS_EX_STATICEDGE_ = 0x20000;
inline constexpr uint32_t WS_EX_APPWINDOW_ = 0x40000;

// The id of a control nobody addresses ("-1" in a resource script).
inline constexpr unsigned kUnaddressedControlId = 0xFFFFFFFFu;

struct ControlTemplate {
    unsigned id;
    const char* className; // "Button", "Static", "ComboBox", "msctls_progress32"
    uint32_t style;        // including WS_CHILD and WS_VISIBLE
    uint32_t exStyle;
    const char* text; // never null
    int x, y, w, h;   // dialog units
    unsigned imageId; // the bitmap resource a picture control shows, else 0
};

struct DialogTemplate {
    unsigned id;
    const char* caption;
    const char* fontFace;
    int fontPoints;
    int w, h; // dialog units
    uint32_t style;
    uint32_t exStyle;
    const ControlTemplate* controls; // in template order: tab order, topmost first
    size_t count;
};

inline constexpr unsigned kMainWindowTemplateId = 102;
inline constexpr unsigned kNoticeTemplateId = 129;
inline constexpr unsigned kAppIconId = 128;
inline constexpr unsigned kLogoBitmapId = 137;

// The template with `id`, or null.
const DialogTemplate* findDialogTemplate(unsigned id);
// Every template, for tools and checks.
const DialogTemplate* dialogTemplates(size_t& count);
// The control `controlId` of a template, or null.
const ControlTemplate* findControlTemplate(const DialogTemplate& dialog, unsigned controlId);
