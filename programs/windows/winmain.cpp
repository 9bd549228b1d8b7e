// The Windows program: installs the Win32 services and drive access, then
// hands over to the application object.
#include <windows.h>

#include <commctrl.h>

#include "platform/classlib/ClassLib.h"
#include "platform/win32/Win32DriveAccess.h"
#include "platform/win32/Win32Restart.h"
#include "platform/win32/Win32System.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    installWin32SystemServices();
    installWin32DriveAccess();
    installWin32Restart();
    InitCommonControls();

    CWinApp* app = currentApp();
    if (app == nullptr) return 1;
    app->startUp();
    return 0;
}
