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
    CLI::App app{"Writes drive firmware from an update package to an optical drive over SG_IO.\n"
                 "Without an option it runs interactively in the terminal.",
                 program};
    app.set_version_flag("--version", std::string(program) + " " + programVersion());
    app.get_formatter()->column_width(24);

    bool list = false, check = false, yes = false;
    auto* listFlag = app.add_flag("--list", list,
                                  "List the optical drives and whether the package fits each; "
                                  "nothing is written");
    auto* checkFlag = app.add_flag("--check", check,
                                   "Read the package as an update would and show its plan; no "
                                   "drive is touched");
    auto* yesFlag =
        app.add_flag("-y,--yes", yes, "Update without questions (the notice is taken as read)");
    auto* driveOption =
        app.add_option("-d,--drive", options.drive,
                       "The drive to update (sr0); needed when more than one drive fits")
            ->type_name("NODE");
    auto* olderFlag = app.add_flag("--allow-older", options.allowOlder,
                                   "With --yes: write the package even when the drive has newer "
                                   "firmware");
    auto* restartFlag = app.add_flag("--restart", options.restart,
                                     "With --yes: restart the computer after a successful update");
    app.add_flag("--json", options.json,
                 "With --list, --check or --yes: one JSON document on stdout");
    app.add_option("PACKAGE", options.package,
                   "The package description file or its folder (default: the current folder)");
    listFlag->excludes(checkFlag)->excludes(yesFlag);
    checkFlag->excludes(yesFlag);
    driveOption->needs(yesFlag);
    olderFlag->needs(yesFlag);
    restartFlag->needs(yesFlag);
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
    if (options.json && !list && !check && !yes) {
        err << program << ": --json goes with --list, --check or --yes (see --help)\n";
        return exitcode::Usage;
    }
    options.mode = list    ? Options::Mode::List
                   : check ? Options::Mode::Check
                   : yes   ? Options::Mode::Update
                           : Options::Mode::Interactive;
    return -1;
}
