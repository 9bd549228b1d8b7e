#pragma once

#include <string>

// Installs the restart operations for Linux. With `demo` set nothing is
// restarted: a restart request is only reported on standard error.
void installLinuxRestart(bool demo);

// A restart copy (a program named REB_xxxx.EXE in the temporary directory)
// removes its own file as soon as it runs; the running image stays valid.
// Answers whether this program is such a copy.
bool removeOwnRestartCopy();
// The same for the program at `path`, with `tempDir` (ending with '/') as
// the temporary directory: only a file directly in that directory is removed.
bool removeRestartCopy(const std::string& path, const std::string& tempDir);
