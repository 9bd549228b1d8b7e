#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "transport/DriveRecords.h"
#include "transport/StatusMessages.h"

namespace {

struct Row {
    int code;
    uint8_t srbStatus;
    uint8_t haStat;
    uint8_t targStat;
    uint8_t key;
    uint8_t asc;
    uint8_t ascq;
    const char* text;
};

const Row kRows[] = {
    // Local results never look at the status image.
    {-5, 0, 0, 0, 0, 0, 0, "Firmware update failure."},
    {-4, 0, 0, 0, 0, 0, 0, "Firmware compare failure."},
    {-2, 0, 0, 0, 0, 0, 0, "Memory allocation failure."},
    {-1, 0, 0, 0, 0, 0, 0, "Can not create Event."},
    {0, 0, 0, 0, 0, 0, 0, "Unknown Error!"},
    {3, 0, 0, 0, 0, 0, 0, "Unknown Error!"},
    {5, 0, 0, 0, 0, 0, 0, "Unknown Error!"},
    {-6, 0, 0, 0, 0, 0, 0, "Unknown Error!"},
    // The packed system error.
    {-3, 0x5D, 0x04, 0x00, 0, 0, 0, "System error (Win32): Code 1117\n"},
    {-3, 0x05, 0x00, 0x00, 0, 0, 0, "System error (Win32): Code 5\n"},
    {-3, 0xFF, 0xFF, 0xFF, 0, 0, 0, "System error (Win32): Code 16777215\n"},
    {-3, 0x00, 0x00, 0x00, 0, 0, 0, "System error (Win32): Code 0\n"},
    // Request status.
    {1, 0x02, 0, 0, 0, 0, 0, "SRB aborted."},
    {1, 0x03, 0, 0, 0, 0, 0, "Unable to abort SRB."},
    {1, 0x80, 0, 0, 0, 0, 0, "Invalid ASPI command."},
    {1, 0x81, 0, 0, 0, 0, 0, "Invalid host adapter number."},
    {1, 0x82, 0, 0, 0, 0, 0, "SCSI device not installed."},
    {1, 0xE0, 0, 0, 0, 0, 0, "Invalid parameter set in SRB."},
    {1, 0xE1, 0, 0, 0, 0, 0, "Buffer alignment problem."},
    {1, 0xE2, 0, 0, 0, 0, 0, "Device access security violation."},
    {1, 0xE4, 0, 0, 0, 0, 0, "ASPI for windows failed init."},
    {1, 0xE5, 0, 0, 0, 0, 0, "No resources available to execute cmd."},
    {1, 0xE6, 0, 0, 0, 0, 0, "Buffer size to big to handle!"},
    {1, 0x00, 0, 0, 0, 0, 0, ""},
    {1, 0x01, 0, 0, 0, 0, 0, ""},
    {1, 0xE3, 0, 0, 0, 0, 0, ""},
    {1, 0xE7, 0, 0, 0, 0, 0, ""},
    {1, 0xFF, 0, 0, 0, 0, 0, ""},
    // Request error with sense data.
    {1, 0x04, 0, 2, 0x09, 0x82, 0x00, "Erase failure. (Code 09-82-00)"},
    {1, 0x04, 0, 2, 0x09, 0x84, 0x00, "Flash rom not erased. (Code 09-84-00)"},
    {1, 0x04, 0, 2, 0x09, 0x85, 0x00, "Flash rom write error. (Code 09-85-00)"},
    {1, 0x04, 0, 2, 0x09, 0x86, 0x00, "Flash rom check sum error. (Code 09-86-00)"},
    {1, 0x04, 0, 2, 0x09, 0x87, 0x00, "Firmware data error. (Code 09-87-00)"},
    {1, 0x04, 0, 2, 0x09, 0x88, 0x00, "Firmware Transfer data error. (Code 09-88-00)"},
    {1, 0x04, 0, 2, 0x04, 0x40, 0xF3, "Flash rom write error. (Code 04-40-f3)"},
    {1, 0x04, 0, 2, 0x04, 0x40, 0xF5, "Firmware data error. (Code 04-40-f5)"},
    {1, 0x04, 0, 2, 0x04, 0x40, 0xF6, "Firmware Transfer data error. (Code 04-40-f6)"},
    {1, 0x04, 0, 2, 0x09, 0x83, 0x00, ""},
    {1, 0x04, 0, 2, 0x09, 0x86, 0x01, ""},
    {1, 0x04, 0, 2, 0x04, 0x40, 0xF7, ""},
    {1, 0x04, 0, 2, 0x05, 0x24, 0x00, ""},
    {1, 0x04, 0, 2, 0x29, 0x86, 0x00, ""},
    {1, 0x04, 0, 2, 0x00, 0x00, 0x00, ""},
    // Host adapter status.
    {2, 0, 0x09, 0, 0, 0, 0, "HA_Status: Timed out while SRB was waiting to be processed."},
    {2, 0, 0x0B, 0, 0, 0, 0, "HA_Status: While processing the SRB, the adapter timed out."},
    {2, 0, 0x0D, 0, 0, 0, 0,
     "HA_Status: While processing SRB, the adapter received a MESSAGE REJECT."},
    {2, 0, 0x0E, 0, 0, 0, 0, "HA_Status: A bus reset was detected."},
    {2, 0, 0x0F, 0, 0, 0, 0, "HA_Status: Parity error."},
    {2, 0, 0x10, 0, 0, 0, 0, "HA_Status: The adapter failed in issuing REQUEST SENSE."},
    {2, 0, 0x11, 0, 0, 0, 0, "HA_Status: Selection Timeout."},
    {2, 0, 0x12, 0, 0, 0, 0, "HA_Status: Data overrun data underrun."},
    {2, 0, 0x13, 0, 0, 0, 0, "HA_Status: Unexpected bus free."},
    {2, 0, 0x14, 0, 0, 0, 0, "HA_Status: Target bus phase sequence failure."},
    {2, 0, 0x0A, 0, 0, 0, 0, "HA_Status: error"},
    {2, 0, 0x0C, 0, 0, 0, 0, "HA_Status: error"},
    {2, 0, 0x08, 0, 0, 0, 0, "HA_Status: error"},
    {2, 0, 0x15, 0, 0, 0, 0, "HA_Status: error"},
    {2, 0, 0x00, 0, 0, 0, 0, "HA_Status: error"},
    // Target status.
    {4, 0, 0, 0x08, 0, 0, 0, "Target_Status: BUSY"},
    {4, 0, 0, 0x18, 0, 0, 0, "Target_Status: Reservation Conflict"},
    {4, 0, 0, 0x28, 0x09, 0x86, 0, "Target_Status: error"},
    {4, 0, 0, 0x00, 0, 0, 0, "Target_Status: error"},
    // Check condition.
    {4, 0, 0, 2, 0x09, 0x82, 0x00, "Erase failure. (Code 09-82-00)"},
    {4, 0, 0, 2, 0x09, 0x84, 0x00, "Flash rom not erased. (Code 09-84-00)"},
    {4, 0, 0, 2, 0x09, 0x85, 0x00, "Flash rom write error. (Code 09-85-00)"},
    {4, 0, 0, 2, 0x09, 0x86, 0x00, "Flash rom check sum error. (Code 09-86-00)"},
    {4, 0, 0, 2, 0x09, 0x87, 0x00, "Firmware data error. (Code 09-87-00)"},
    {4, 0, 0, 2, 0x09, 0x88, 0x00, "Firmware Transfer data error. (Code 09-88-00)"},
    {4, 0, 0, 2, 0x04, 0x40, 0xF3, ""},
    {4, 0, 0, 2, 0x04, 0x40, 0xF5, "Firmware data error. (Code 04-40-f5)"},
    {4, 0, 0, 2, 0x04, 0x40, 0xF6, "Firmware Transfer data error. (Code 04-40-f6)"},
    {4, 0, 0, 2, 0x04, 0x44, 0x00, ""},
    {4, 0, 0, 2, 0x09, 0x00, 0x00, ""},
    {4, 0, 0, 2, 0x00, 0x00, 0x00, "No Sense. (Code 00-00-00)"},
    {4, 0, 0, 2, 0x00, 0x3A, 0x00, ""},
    {4, 0, 0, 2, 0x00, 0x00, 0x01, ""},
    {4, 0, 0, 2, 0x29, 0x82, 0x00, "Target_Status: Check Condition"},
    {4, 0, 0, 2, 0x24, 0x40, 0xF5, "Target_Status: Check Condition"},
    {4, 0, 0, 2, 0x02, 0x3A, 0x01, "Target_Status: Check Condition"},
    {4, 0, 0, 2, 0x05, 0x24, 0x00, "Target_Status: Check Condition"},
};

TEST(StatusMessages, EveryRowGivesItsText)
{
    CommandStatus status;
    CommandStatus* saved = lastStatus;
    lastStatus = &status;
    for (const Row& row : kRows) {
        std::memset(&status, 0, sizeof status);
        status.SRB_Status = row.srbStatus;
        status.SRB_HaStat = row.haStat;
        status.SRB_TargStat = row.targStat;
        status.SenseArea[2] = row.key;
        status.SenseArea[12] = row.asc;
        status.SenseArea[13] = row.ascq;
        std::string text = "left over from before";
        describeResult(row.code, text);
        EXPECT_EQ(text, row.text) << "code " << row.code << std::hex << " status "
                                  << int(row.srbStatus) << " ha " << int(row.haStat) << " targ "
                                  << int(row.targStat) << " sense " << int(row.key) << "-"
                                  << int(row.asc) << "-" << int(row.ascq);
    }
    lastStatus = saved;
}

TEST(StatusMessages, LocalResultsNeedNoCommandToHaveRun)
{
    CommandStatus* saved = lastStatus;
    lastStatus = nullptr;
    const std::pair<int, const char*> rows[] = {
        {-5, "Firmware update failure."},
        {-4, "Firmware compare failure."},
        {-2, "Memory allocation failure."},
        {-1, "Can not create Event."},
        {0, "Unknown Error!"},
        {3, "Unknown Error!"},
        // Without any status image the transport codes have nothing to name.
        {1, ""},
        {2, ""},
        {4, ""},
        {-3, ""},
    };
    for (const auto& [code, expected] : rows) {
        std::string text = "x";
        describeResult(code, text);
        EXPECT_EQ(text, expected) << code;
    }
    lastStatus = saved;
}

} // namespace
