// The drive access of the Linux program: SG_IO on the optical drive nodes.
// There is no ASPI library on Linux.
#pragma once

#include <string>
#include <vector>

// Installs both as the process's drive access (before start-up).
void installLinuxDriveAccess();

namespace linuxdrive {
// The optical drive names among `names` ("sr0", "sr1", ...), ordered by their
// number; drive letter A is the first, B the second, and so on.
std::vector<std::string> orderOpticalDrives(const std::vector<std::string>& names);
// The drive letter inside a device name such as "\\.\E:", upper case; 0 when
// there is none.
char letterOfDeviceName(const std::string& deviceName);
// The errno a request gets when SG_IO took it but the adapter or the driver
// says it did not reach the drive; 0 when it did.
int errorForTransportStatus(unsigned hostStatus, unsigned driverStatus);
} // namespace linuxdrive
