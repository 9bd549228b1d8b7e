#include "programs/linux/cli/Options.h"

#include <CLI/CLI.hpp>

#include <ostream>

#include "programs/linux/cli/FrontDoor.h"

#ifndef ORV_VERSION
#define ORV_VERSION "0.0.0"
#endif

const char* programVersion()
{
    return ORV_VERSION;
}

int parseOptions(int argc, const char* const* argv, const std::string& program, Options& options,
                 std::ostream& out, std::ostream& err)
{
    CLI::App app{"Writes the firmware of an update package into an optical drive.\n"
                 "Without an option it runs interactively in the terminal.",
                 program};
    app.set_version_flag("--version", std::string(program) + " " + programVersion());
    app.get_formatter()->column_width(24);

    bool list = false, check = false, yes = false;
    app.add_flag("--list", list, "Drives, and whether the package fits; writes nothing");
    app.add_flag("--check", check, "Read the package, show its plan; touches no drive");
    app.add_flag("-y,--yes", yes, "Update without questions (notice taken as read)");
    app.add_option("-d,--drive", options.drive,
                   "With --yes: the drive (sr0); needed if several fit")
        ->type_name("NODE");
    app.add_flag("--allow-older", options.allowOlder,
                 "With --yes: accept a drive with newer firmware");
    app.add_flag("--restart", options.restart, "With --yes: restart the computer when done");
    app.add_flag("--json", options.json, "With --list, --check or --yes: JSON on stdout");
    app.add_option("PACKAGE", options.package, "Description file or its folder (default: .)")
        ->type_name("");
    app.footer("Exit codes: 0 updated (or check passed), 1 update failed, 2 package refused,\n"
               "3 no drive fits or a check refused the drive, 4 usage error, 5 not permitted.\n"
               "See " +
               program + "(8).");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        return exitcode::Ok;
    } catch (const CLI::CallForVersion&) {
        out << program << ' ' << programVersion() << '\n';
        return exitcode::Ok;
    } catch (const CLI::ParseError& error) {
        err << program << ": " << error.what() << " (see --help)\n";
        return exitcode::Usage;
    }
    const char* problem = nullptr;
    if (int(list) + int(check) + int(yes) > 1)
        problem = "--list, --check and --yes exclude each other";
    else if (!yes && !options.drive.empty())
        problem = "--drive goes with --yes";
    else if (!yes && options.allowOlder)
        problem = "--allow-older goes with --yes";
    else if (!yes && options.restart)
        problem = "--restart goes with --yes";
    else if (options.json && !list && !check && !yes)
        problem = "--json goes with --list, --check or --yes";
    if (problem != nullptr) {
        err << program << ": " << problem << " (see --help)\n";
        return exitcode::Usage;
    }
    options.mode = list    ? Options::Mode::List
                   : check ? Options::Mode::Check
                   : yes   ? Options::Mode::Update
                           : Options::Mode::Interactive;
    return -1;
}
