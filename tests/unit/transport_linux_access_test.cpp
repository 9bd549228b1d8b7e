#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/linux/LinuxDriveAccess.h"

namespace {

using linuxdrive::errorForTransportStatus;
using linuxdrive::letterOfDeviceName;
using linuxdrive::orderOpticalDrives;

TEST(LinuxDriveAccess, OpticalDrivesAreOrderedByNumber)
{
    struct Row {
        std::vector<std::string> names;
        std::vector<std::string> drives;
    };
    const std::vector<Row> rows = {
        {{}, {}},
        {{"sda", "sda1", "null", "tty0"}, {}},
        {{"sr1", "sr0"}, {"sr0", "sr1"}},
        {{"sr10", "sr2", "sr0", "sr1"}, {"sr0", "sr1", "sr2", "sr10"}},
        {{"sr", "srx", "sr0a", "scd0", "sg0", "sr3"}, {"sr3"}},
        {{".", "..", "sr0", "sr0"}, {"sr0"}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(orderOpticalDrives(row.names), row.drives);
}

TEST(LinuxDriveAccess, DeviceNamesGiveTheirLetter)
{
    const std::pair<std::string, char> rows[] = {
        {"\\\\.\\E:", 'E'}, {"\\\\.\\a:", 'A'}, {"\\\\.\\Z:", 'Z'}, {"E:\\", 'E'},
        {"E:", 'E'},        {":", 0},           {"\\\\.\\1:", 0},   {"", 0},
        {"sr0", 0},         {"\\\\.\\:", 0},
    };
    for (const auto& [name, letter] : rows)
        EXPECT_EQ(letterOfDeviceName(name), letter) << name;
}

TEST(LinuxDriveAccess, RequestsThatDidNotReachTheDriveFail)
{
    struct Row {
        unsigned host, driver;
        int error;
    };
    const Row rows[] = {
        {0x00, 0x00, 0},         // delivered
        {0x00, 0x08, 0},         // delivered, sense data came back
        {0x00, 0x28, 0},         // sense with a suggestion bit
        {0x01, 0x00, ENODEV},    // no connection
        {0x04, 0x00, ENODEV},    // bad target
        {0x02, 0x00, EBUSY},     // bus busy
        {0x03, 0x00, ETIMEDOUT}, // timed out on the bus
        {0x07, 0x00, EIO},       // adapter error
        {0x00, 0x06, ETIMEDOUT}, // driver timeout
        {0x00, 0x01, EIO},       // driver busy
        {0x00, 0x04, EIO},       // driver error
    };
    for (const Row& row : rows)
        EXPECT_EQ(errorForTransportStatus(row.host, row.driver), row.error)
            << row.host << " " << row.driver;
}

} // namespace
