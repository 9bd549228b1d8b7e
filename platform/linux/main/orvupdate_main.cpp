// The Linux program: the updater over SG_IO on the system's optical drives,
// with the terminal front end. Started beside an update package, like the
// Windows program.
#include <unistd.h>

#include <cstdio>

#include "app/UpdaterApp.h"
#include "platform/linux/LinuxDriveAccess.h"
#include "platform/linux/LinuxRestart.h"
#include "platform/linux/LinuxSystem.h"
#include "platform/terminal/TerminalFrontEnd.h"

int main()
{
    const bool restartCopy = removeOwnRestartCopy();
    installLinuxSystem();
    installLinuxDriveAccess();
    installLinuxRestart(false);
    if (!restartCopy && geteuid() != 0) {
        std::fputs("Note: writing drive firmware needs the raw-I/O capability (CAP_SYS_RAWIO);"
                   " run the updater as root.\n",
                   stderr);
    }
    runTerminalFrontEnd();
    theApp.startUp();
    return 0;
}
