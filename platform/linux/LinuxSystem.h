// The operating-system services on Linux. The system sees an NT-family
// version 5.1 (drives are reached through pass-through, here SG_IO), the
// language comes from the locale variables, message boxes go to the
// presenter the front end installs (platform/linux/MessagePresenter.h).
#pragma once

#include <cstdint>
#include <string>

#include "platform/Platform.h"

// Installs the Linux services as sys() for the rest of the program.
void installLinuxSystem();
SystemServices& linuxSystem();

// While set, the description file the package reader looks for first (the
// program's file title with ".INI") is the file at `path` instead; empty:
// the file of that name.
void setDescriptionFile(const std::string& path);

// The locale identifier the locale variables name: the first set and
// non-empty one of LC_ALL, LC_MESSAGES and LANG decides; a value beginning
// with "ja_JP" is Japanese (1041), anything else English (1033). Null means
// unset.
uint32_t lcidFromLocaleVariables(const char* lcAll, const char* lcMessages, const char* lang);

// The file name part of a path ("/usr/bin/orvupdate" -> "orvupdate").
std::string fileNameOfPath(const std::string& path);
