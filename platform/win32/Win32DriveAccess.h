// The drive access of the Windows program: SCSI pass-through on drive letters
// and the ASPI for Win32 library, over the real API.
#pragma once

// Installs both as the process's drive access (before start-up).
void installWin32DriveAccess();
