// The block layer's media event polling of an optical drive, held off while
// firmware goes to the drive. Desktop services switch the polling on
// (/sys/block/srN/events_poll_msecs); while it runs, the kernel sends GET
// EVENT STATUS NOTIFICATION and TEST UNIT READY of its own accord, and such
// commands must not reach a drive that is taking firmware or programming its
// flash.
#pragma once

#include <string>

namespace linuxdrive {

// Switches the polling of drive `name` ("sr0") off, once per run, and
// remembers the old setting. The old setting comes back when the process
// ends, by exit or by a terminating signal. Returns 0, or the errno of a
// setting that could not be read or written (EACCES without root, say).
int holdEventPolling(const std::string& name, const std::string& sysBlock = "/sys/block");

// Puts every held setting back now (also done at exit and on signals).
void restoreEventPolling();

} // namespace linuxdrive
