#pragma once

#include <string>

// The content of WININIT.INI with a "NUL=" entry for `shortPath` placed
// directly after the first "[RENAME]" header (compared case-sensitively on
// its first 8 characters), or a new header and entry at the end when there is
// none. Every other byte of the file stays as it was.
std::string insertDeletionEntry(const std::string& original, const std::string& shortPath);
