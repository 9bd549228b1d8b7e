// The Linux program: the updater over SG_IO on the system's optical drives,
// with the terminal front end, a command line and an unattended mode.
#include "app/UpdaterApp.h"
#include "platform/linux/LinuxDriveAccess.h"
#include "platform/linux/LinuxRestart.h"
#include "platform/linux/LinuxSystem.h"
#include "programs/linux/cli/Capability.h"
#include "programs/linux/cli/FrontDoor.h"

int main(int argc, char** argv)
{
    installLinuxSystem();
    // The restart copy only waits and restarts; it has no command line.
    if (removeOwnRestartCopy()) {
        installLinuxRestart(false);
        theApp.startUp();
        return 0;
    }
    installLinuxRestart(false);
    FrontDoorSetup setup;
    setup.program = "orvupdate";
    setup.installDrives = [](const std::string&) { installLinuxDriveAccess(); };
    setup.mayWriteFirmware = hasRawIoCapability;
    return runFrontDoor(argc, argv, setup);
}
