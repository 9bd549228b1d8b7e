// The command line of the Linux program.
#pragma once

#include <iosfwd>
#include <string>

struct Options {
    enum class Mode { Interactive, List, Check, Update };
    Mode mode = Mode::Interactive;
    std::string package; // a description file or a folder; empty: the current folder
    std::string drive;   // "sr0", "/dev/sr0"
    bool json = false;
    bool allowOlder = false;
    bool restart = false;
};

// Parses the command line. Answers -1 to go on with `options`, otherwise the
// exit code (0 after --help or --version, 4 after a bad command line, with
// its one-line error on `err`).
int parseOptions(int argc, const char* const* argv, const std::string& program, Options& options,
                 std::ostream& out, std::ostream& err);

// The version of the program.
const char* programVersion();
