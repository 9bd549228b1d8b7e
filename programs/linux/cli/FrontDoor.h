// The Linux program's front door: its command line (options, the package it
// is pointed at), the modes a user or a script picks (the interactive
// terminal, --list, --check, an unattended --yes run) and their exit codes.
// The Windows program has none of this: it is started beside its package.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>

// Exit codes of the Linux program.
namespace exitcode {
inline constexpr int Ok = 0;             // updated, or the check passed
inline constexpr int UpdateFailed = 1;   // the update was started and failed
inline constexpr int PackageRefused = 2; // the package cannot be used (or was not found)
inline constexpr int NoDrive = 3;        // no drive fits, or a check refused the drive
inline constexpr int Usage = 4;          // a bad command line, or no terminal without --yes
inline constexpr int NotPermitted = 5;   // no raw-I/O capability
} // namespace exitcode

struct FrontDoorSetup {
    std::string program = "orvupdate";
    // Puts the drive access in place once the package's folder is known.
    std::function<void(const std::string& packageFolder)> installDrives;
    // Whether an update needs the raw-I/O capability (real drives do).
    std::function<bool()> mayWriteFirmware;
    // Where the texts go; null: the standard streams.
    std::ostream* out = nullptr;
    std::ostream* err = nullptr;
    // Whether standard input and output are terminals; unset: asked of the system.
    int inputIsTerminal = -1;
    int outputIsTerminal = -1;
};

// Runs the program for one command line and answers its exit code. The
// system services must be installed.
int runFrontDoor(int argc, const char* const* argv, const FrontDoorSetup& setup);
