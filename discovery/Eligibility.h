#pragma once

#include <string>

// Checks the selected drive before anything is written: 1 to go on, 0 to
// stop (the message has been shown).
int checkEligibility();

// How the package's firmware version stands against a drive's revision.
// Both are read as decimal numbers ("1.10" is below "1.9"), independently of
// the process's locale. NotCompared unless both have '.' as their second
// character and a first character other than '0'.
enum class VersionOrder { NotCompared, Older, Same, Newer };
VersionOrder compareFirmwareVersions(const std::string& packageVersion,
                                     const std::string& driveRevision);
