#include "resources/DialogTemplates.h"

namespace {

constexpr uint32_t kChild = WS_CHILD_ | WS_VISIBLE_;

// The main window: the drive list, UPDATE and EXIT, the progress bar and the
// status line.
constexpr ControlTemplate kMainControls[] = {
    {1, "Button", kChild | WS_TABSTOP_ | BS_DEFPUSHBUTTON_, 0, "&UPDATE", 196, 7, 64, 14, 0},
    {2, "Button", kChild | WS_TABSTOP_ | BS_PUSHBUTTON_, 0, "&EXIT", 196, 21, 64, 14, 0},
    {kUnaddressedControlId, "Button", kChild | BS_GROUPBOX_, 0, "DRIVE Information", 0, 1, 192, 36,
     0},
    {103, "ComboBox", kChild | CBS_DROPDOWNLIST_ | WS_VSCROLL_ | WS_TABSTOP_, 0, "", 6, 11, 180, 63,
     0},
    {104, "msctls_progress32", kChild | WS_BORDER_, 0, "", 5, 27, 180, 6, 0},
    {1032, "Static", kChild | SS_LEFT_ | SS_CENTERIMAGE_ | WS_GROUP_, WS_EX_STATICEDGE_, "Static",
     0, 41, 262, 9, 0},
};

// The notice page. The empty sunken panel 1007 comes last, so it lies behind
// every other control; being a text control it fills itself with the brush
// its colour request answers, which makes the page white.
constexpr ControlTemplate kNoticeControls[] = {
    {1, "Button", kChild | WS_TABSTOP_ | BS_DEFPUSHBUTTON_, 0, "&OK", 73, 240, 46, 14, 0},
    {2, "Button", kChild | WS_TABSTOP_ | BS_PUSHBUTTON_, 0, "Cancel", 127, 240, 46, 14, 0},
    {1008, "Static", kChild | SS_LEFT_ | WS_GROUP_, WS_EX_TRANSPARENT_, "CD-ROM/R/RW", 10, 10, 226,
     15, 0},
    {1009, "Static", kChild | SS_LEFT_, WS_EX_RIGHT_ | WS_EX_TRANSPARENT_, "Firmware version", 10,
     25, 226, 13, 0},
    {1011, "Static", kChild | SS_LEFT_, WS_EX_TRANSPARENT_, "Information", 10, 206, 160, 16, 0},
    {1012, "Button", kChild | BS_GROUPBOX_, WS_EX_TRANSPARENT_, "Notice", 8, 40, 232, 160, 0},
    {1010, "Static", kChild | SS_LEFT_, WS_EX_TRANSPARENT_, "Text", 12, 52, 224, 142, 0},
    {1014, "Static", kChild | SS_BITMAP_, WS_EX_TRANSPARENT_, "", 172, 206, 69, 18, kLogoBitmapId},
    {1013, "Static", kChild | SS_LEFT_, WS_EX_RIGHT_ | WS_EX_TRANSPARENT_,
     "Firmware update program", 120, 226, 120, 8, 0},
    {1007, "Static", kChild | SS_LEFT_ | SS_SUNKEN_ | WS_DISABLED_ | WS_GROUP_, 0, "", 4, 4, 240,
     230, 0},
};

constexpr DialogTemplate kTemplates[] = {
    {kMainWindowTemplateId, "Upgrade", "Arial", 8, 262, 51,
     WS_POPUP_ | WS_CAPTION_ | WS_SYSMENU_ | WS_MINIMIZEBOX_ | DS_MODALFRAME_ | DS_SETFONT_,
     WS_EX_APPWINDOW_, kMainControls, sizeof kMainControls / sizeof kMainControls[0]},
    {kNoticeTemplateId, "Welcome", "Tahoma", 9, 248, 258,
     WS_POPUP_ | WS_CAPTION_ | WS_SYSMENU_ | DS_MODALFRAME_ | DS_SETFONT_, 0, kNoticeControls,
     sizeof kNoticeControls / sizeof kNoticeControls[0]},
};

} // namespace

const DialogTemplate* findDialogTemplate(unsigned id)
{
    for (const DialogTemplate& t : kTemplates)
        if (t.id == id) return &t;
    return nullptr;
}

const DialogTemplate* dialogTemplates(size_t& count)
{
    count = sizeof kTemplates / sizeof kTemplates[0];
    return kTemplates;
}

const ControlTemplate* findControlTemplate(const DialogTemplate& dialog, unsigned controlId)
{
    for (size_t i = 0; i < dialog.count; ++i)
        if (dialog.controls[i].id == controlId) return &dialog.controls[i];
    return nullptr;
}
