// What every mode of the front door shares: the package read the way
// start-up reads it, the drive names, and the program's texts converted for
// the terminal or for JSON.
#pragma once

#include <string>

#include "package/UpdatePackage.h"
#include "programs/linux/cli/PackageFinder.h"
#include "transport/DriveRecords.h"

// Clears the shared state as start-up does, makes the package's folder the
// current one (its images are read from there), points the reader at the
// description file and reads the package.
PackageResult loadPackage(const FoundPackage& found);

// Sets osKind, the language and the transport as start-up does after a
// successful read (Linux: always pass-through).
void chooseTransport();

// How the drive list names a drive: "sr0" on Linux, "E" for a virtual drive.
std::string driveNode(const DriveEntry& entry);
// Whether a name from the command line ("sr0", "/dev/sr0", "E:") names `node`.
bool namesNode(const std::string& given, const std::string& node);

// A text of the program (its code page) for the terminal, or as UTF-8.
std::string forTerminal(const std::string& text);
std::string asUtf8(const std::string& text);

// A fixed, NUL-terminated text field as a string.
template <size_t N> std::string fieldText(const char (&field)[N])
{
    size_t length = 0;
    while (length < N && field[length] != '\0')
        ++length;
    return std::string(field, length);
}
