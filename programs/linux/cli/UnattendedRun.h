// --yes: an update without questions. The system's own start-up runs as in
// the interactive program; this front end stands in for the user: it accepts
// the notice, picks the drive in the main window, presses UPDATE and EXIT,
// and answers the message boxes by the options (the version question only
// with --allow-older, the restart question only with --restart).
#pragma once

#include <functional>
#include <iosfwd>
#include <string>

#include "programs/linux/cli/PackageFinder.h"

struct UnattendedSettings {
    std::string drive; // empty: the only drive that fits
    bool allowOlder = false;
    bool restart = false;
    bool json = false;
    bool progressOnTerminal = false; // progress redrawn in place rather than as lines
    std::function<void(const std::string&)> installDrives;
    std::function<bool()> mayWriteFirmware;
};

int runUnattended(const FoundPackage& found, const UnattendedSettings& settings, std::ostream& out,
                  std::ostream& err, const std::string& program);
