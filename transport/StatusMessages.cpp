#include "transport/StatusMessages.h"

#include <cstdint>
#include <cstdio>

#include "transport/DriveRecords.h"

namespace {

struct SenseText {
    uint8_t key;
    uint8_t asc;
    uint8_t ascq;
    const char* text;
    bool requestErrorsOnly;
};

// The drive's own flash error codes, reported as sense data.
constexpr SenseText kFlashErrors[] = {
    {0x09, 0x82, 0x00, "Erase failure. (Code 09-82-00)", false},
    {0x09, 0x84, 0x00, "Flash rom not erased. (Code 09-84-00)", false},
    {0x09, 0x85, 0x00, "Flash rom write error. (Code 09-85-00)", false},
    {0x09, 0x86, 0x00, "Flash rom check sum error. (Code 09-86-00)", false},
    {0x09, 0x87, 0x00, "Firmware data error. (Code 09-87-00)", false},
    {0x09, 0x88, 0x00, "Firmware Transfer data error. (Code 09-88-00)", false},
    {0x04, 0x40, 0xF3, "Flash rom write error. (Code 04-40-f3)", true},
    {0x04, 0x40, 0xF5, "Firmware data error. (Code 04-40-f5)", false},
    {0x04, 0x40, 0xF6, "Firmware Transfer data error. (Code 04-40-f6)", false},
};

// The sense key byte is compared whole: a key with a flag bit set is not the
// bare key.
const char* flashErrorText(const CommandStatus& status, bool requestError)
{
    for (const SenseText& row : kFlashErrors) {
        if (row.requestErrorsOnly && !requestError) continue;
        if (status.SenseArea[2] == row.key && status.SenseArea[12] == row.asc &&
            status.SenseArea[13] == row.ascq)
            return row.text;
    }
    return nullptr;
}

const char* requestErrorText(const CommandStatus& status)
{
    switch (status.SRB_Status) {
    case 0x02:
        return "SRB aborted.";
    case 0x03:
        return "Unable to abort SRB.";
    case 0x04:
        return flashErrorText(status, true);
    case 0x80:
        return "Invalid ASPI command.";
    case 0x81:
        return "Invalid host adapter number.";
    case 0x82:
        return "SCSI device not installed.";
    case 0xE0:
        return "Invalid parameter set in SRB.";
    case 0xE1:
        return "Buffer alignment problem.";
    case 0xE2:
        return "Device access security violation.";
    case 0xE4:
        return "ASPI for windows failed init.";
    case 0xE5:
        return "No resources available to execute cmd.";
    case 0xE6:
        return "Buffer size to big to handle!";
    default:
        return nullptr;
    }
}

const char* adapterErrorText(const CommandStatus& status)
{
    switch (status.SRB_HaStat) {
    case 0x09:
        return "HA_Status: Timed out while SRB was waiting to be processed.";
    case 0x0B:
        return "HA_Status: While processing the SRB, the adapter timed out.";
    case 0x0D:
        return "HA_Status: While processing SRB, the adapter received a MESSAGE REJECT.";
    case 0x0E:
        return "HA_Status: A bus reset was detected.";
    case 0x0F:
        return "HA_Status: Parity error.";
    case 0x10:
        return "HA_Status: The adapter failed in issuing REQUEST SENSE.";
    case 0x11:
        return "HA_Status: Selection Timeout.";
    case 0x12:
        return "HA_Status: Data overrun data underrun.";
    case 0x13:
        return "HA_Status: Unexpected bus free.";
    case 0x14:
        return "HA_Status: Target bus phase sequence failure.";
    default:
        return "HA_Status: error";
    }
}

const char* checkConditionText(const CommandStatus& status)
{
    switch (status.SenseArea[2]) {
    case 0x09:
    case 0x04:
        return flashErrorText(status, false);
    case 0x00:
        if (status.SenseArea[12] == 0 && status.SenseArea[13] == 0)
            return "No Sense. (Code 00-00-00)";
        return nullptr;
    default:
        return "Target_Status: Check Condition";
    }
}

const char* targetErrorText(const CommandStatus& status)
{
    switch (status.SRB_TargStat) {
    case 0x02:
        return checkConditionText(status);
    case 0x08:
        return "Target_Status: BUSY";
    case 0x18:
        return "Target_Status: Reservation Conflict";
    default:
        return "Target_Status: error";
    }
}

} // namespace

void describeResult(int code, std::string& text)
{
    text.clear();
    const char* chosen = nullptr;
    switch (code) {
    case UpdateFailed:
        chosen = "Firmware update failure.";
        break;
    case CompareFailed:
        chosen = "Firmware compare failure.";
        break;
    case SystemError: {
        if (lastStatus == nullptr) return;
        const uint32_t error = uint32_t{lastStatus->SRB_TargStat} << 16 |
                               uint32_t{lastStatus->SRB_HaStat} << 8 | lastStatus->SRB_Status;
        char line[48];
        std::snprintf(line, sizeof line, "System error (Win32): Code %d\n",
                      static_cast<int>(error));
        text = line;
        return;
    }
    case NoMemory:
        chosen = "Memory allocation failure.";
        break;
    case SetupFailed:
        chosen = "Can not create Event.";
        break;
    case SrbFailed:
        if (lastStatus != nullptr) chosen = requestErrorText(*lastStatus);
        break;
    case AdapterFailed:
        if (lastStatus != nullptr) chosen = adapterErrorText(*lastStatus);
        break;
    case TargetFailed:
        if (lastStatus != nullptr) chosen = targetErrorText(*lastStatus);
        break;
    default:
        chosen = "Unknown Error!";
        break;
    }
    if (chosen != nullptr) text = chosen;
}
