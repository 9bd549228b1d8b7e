// The demo: the Linux program against virtual drives instead of hardware.
// The drives are described in VDRIVES.TXT beside the package (or in the file
// ORV_VIRTUAL_DRIVES names); a restart is only reported, never carried out.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/UpdaterApp.h"
#include "platform/linux/LinuxRestart.h"
#include "platform/linux/LinuxSystem.h"
#include "platform/terminal/TerminalFrontEnd.h"
#include "virtualdrive/seams/VirtualDriveSeams.h"

int main()
{
    const bool restartCopy = removeOwnRestartCopy();
    installLinuxSystem();
    installLinuxRestart(true);

    // The restart copy touches no drive, so it needs no description.
    static VirtualBus bus;
    const char* named = std::getenv("ORV_VIRTUAL_DRIVES");
    const std::string description = named != nullptr ? named : "VDRIVES.TXT";
    if (!restartCopy) {
        for (const std::string& problem : loadVirtualDrives(description, bus))
            std::fprintf(stderr, "%s: %s\n", description.c_str(), problem.c_str());
    }
    bus.setLatencySink(sleepingLatency());
    installVirtualDrives(bus);

    runTerminalFrontEnd();
    theApp.startUp();
    uninstallVirtualDrives();
    return 0;
}
