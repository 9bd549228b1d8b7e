#pragma once

// Installs the restart operations over the Windows API.
void installWin32Restart();
