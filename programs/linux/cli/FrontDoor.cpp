#include "programs/linux/cli/FrontDoor.h"

#include <unistd.h>

#include <clocale>
#include <iostream>

#include "app/UpdaterApp.h"
#include "platform/terminal/TerminalFrontEnd.h"
#include "programs/linux/cli/DriveList.h"
#include "programs/linux/cli/Options.h"
#include "programs/linux/cli/PackageCheck.h"
#include "programs/linux/cli/PackageFinder.h"
#include "programs/linux/cli/Session.h"
#include "programs/linux/cli/UnattendedRun.h"

namespace {

bool terminal(int setting, int fd)
{
    return setting >= 0 ? setting != 0 : isatty(fd) == 1;
}

int runInteractive(const FoundPackage& found, const FrontDoorSetup& setup, std::ostream& err)
{
    if (!terminal(setup.inputIsTerminal, STDIN_FILENO)) {
        err << setup.program << ": no terminal to ask questions on; for an unattended update run "
            << setup.program << " --yes --drive NODE [PACKAGE] (see --help)\n";
        return exitcode::Usage;
    }
    if (!found.found) {
        err << setup.program << ": " << found.problem << '\n';
        return exitcode::PackageRefused;
    }
    if (setup.mayWriteFirmware && !setup.mayWriteFirmware())
        err << "Note: writing drive firmware needs the raw-I/O capability (CAP_SYS_RAWIO); run "
               "the updater as root.\n";
    // Start-up reads the package itself; this only points it there.
    if (loadPackage(found) == packageresult::NoDescriptionFile) {
        err << setup.program << ": cannot enter " << found.folder << '\n';
        return exitcode::PackageRefused;
    }
    setup.installDrives(found.folder);
    runTerminalFrontEnd();
    theApp.startUp();
    for (uint16_t i = 0; i < driveCount && i < kDriveTableSize; ++i)
        if (driveEntries[i].updated == 1) return exitcode::Ok;
    return exitcode::UpdateFailed;
}

} // namespace

int runFrontDoor(int argc, const char* const* argv, const FrontDoorSetup& setup)
{
    std::ostream& out = setup.out != nullptr ? *setup.out : std::cout;
    std::ostream& err = setup.err != nullptr ? *setup.err : std::cerr;
    Options options;
    const int parsed = parseOptions(argc, argv, setup.program, options, out, err);
    if (parsed >= 0) return parsed;

    // Texts are shown in the locale's encoding; numbers are read without it.
    std::setlocale(LC_ALL, "");
    const FoundPackage found = findPackage(options.package);
    switch (options.mode) {
    case Options::Mode::Check:
        return runCheck(found, options.json, out, err, setup.program);
    case Options::Mode::List:
        return runList(found, !options.package.empty(), options.json, setup.installDrives, out, err,
                       setup.program);
    case Options::Mode::Update: {
        UnattendedSettings settings;
        settings.drive = options.drive;
        settings.allowOlder = options.allowOlder;
        settings.restart = options.restart;
        settings.json = options.json;
        settings.progressOnTerminal =
            terminal(setup.outputIsTerminal, options.json ? STDERR_FILENO : STDOUT_FILENO);
        settings.installDrives = setup.installDrives;
        settings.mayWriteFirmware = setup.mayWriteFirmware;
        return runUnattended(found, settings, out, err, setup.program);
    }
    case Options::Mode::Interactive:
        break;
    }
    return runInteractive(found, setup, err);
}
