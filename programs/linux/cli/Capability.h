// Whether this process holds the raw-I/O capability that SG_IO needs for
// WRITE BUFFER and the vendor commands.
#pragma once

#include <string>

// Reads the effective capability set from the text of /proc/self/status.
bool statusHasRawIo(const std::string& statusText);
bool hasRawIoCapability();
