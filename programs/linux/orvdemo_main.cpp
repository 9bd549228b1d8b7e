// The demo: the Linux program against virtual drives instead of hardware.
// The drives are described in VDRIVES.TXT beside the package (or in the file
// ORV_VIRTUAL_DRIVES names); a restart is only reported, never carried out.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/UpdaterApp.h"
#include "platform/linux/LinuxRestart.h"
#include "platform/linux/LinuxSystem.h"
#include "programs/linux/cli/FrontDoor.h"
#include "virtualdrive/seams/VirtualDriveSeams.h"

int main(int argc, char** argv)
{
    installLinuxSystem();
    installLinuxRestart(true);
    // The restart copy touches no drive, so it needs no description.
    if (removeOwnRestartCopy()) {
        theApp.startUp();
        return 0;
    }

    static VirtualBus bus;
    FrontDoorSetup setup;
    setup.program = "orvdemo";
    setup.installDrives = [](const std::string& folder) {
        const char* named = std::getenv("ORV_VIRTUAL_DRIVES");
        const std::string description = named != nullptr ? named : folder + "/VDRIVES.TXT";
        for (const std::string& problem : loadVirtualDrives(description, bus))
            std::fprintf(stderr, "%s: %s\n", description.c_str(), problem.c_str());
        bus.setLatencySink(sleepingLatency());
        installVirtualDrives(bus);
    };
    const int code = runFrontDoor(argc, argv, setup);
    uninstallVirtualDrives();
    return code;
}
