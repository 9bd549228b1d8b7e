#include "programs/linux/cli/Capability.h"

#include <cstdint>
#include <fstream>
#include <sstream>

namespace {
constexpr unsigned kCapSysRawIo = 17;
}

bool statusHasRawIo(const std::string& statusText)
{
    std::istringstream lines(statusText);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.compare(0, 7, "CapEff:") != 0) continue;
        uint64_t mask = 0;
        std::istringstream value(line.substr(7));
        if (!(value >> std::hex >> mask)) return false;
        return (mask >> kCapSysRawIo & 1) != 0;
    }
    return false;
}

bool hasRawIoCapability()
{
    std::ifstream file("/proc/self/status");
    std::stringstream text;
    text << file.rdbuf();
    return statusHasRawIo(text.str());
}
