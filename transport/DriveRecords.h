// The drive table, the status image of the last drive command and the
// result codes every command function returns.
#pragma once

#include <cstddef>
#include <cstdint>

// Result of one drive command. Positive values come from the adapter or the
// drive, negative ones are local failures.
enum CommandResult : int {
    Ok = 0,
    SrbFailed = 1,
    AdapterFailed = 2,
    TargetFailed = 4,
    SetupFailed = -1,
    NoMemory = -2,
    SystemError = -3,
    CompareFailed = -4,
    UpdateFailed = -5,
};

// Direction flags, in the ASPI values, passed with every command block.
inline constexpr uint8_t SRB_DIR_IN = 0x08;
inline constexpr uint8_t SRB_DIR_OUT = 0x10;
inline constexpr uint8_t SRB_EVENT_NOTIFY = 0x40;

struct DriveEntry {
    uint8_t hostAdapter;
    uint8_t target;
    uint8_t lun;
    char driveLetter[3];
    char displayText[40];
    char revision[5];
    uint8_t atapi;
    uint32_t alignmentMask;
    uint8_t updated;
};

#pragma pack(push, 1)
// Status image of one command, in the published layout of the ASPI for Win32
// execute request block (SRB_ExecSCSICmd) with 14 + 2 sense bytes. The ASPI
// transport hands this very record to the library as its request.
struct CommandStatus {
    uint8_t SRB_Cmd;
    uint8_t SRB_Status;
    uint8_t SRB_HaId;
    uint8_t SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
    uint8_t SRB_Target;
    uint8_t SRB_Lun;
    uint16_t SRB_Rsvd1;
    uint32_t SRB_BufLen;
    uint8_t* SRB_BufPointer;
    uint8_t SRB_SenseLen;
    uint8_t SRB_CDBLen;
    uint8_t SRB_HaStat;
    uint8_t SRB_TargStat;
    void* SRB_PostProc;
    uint8_t SRB_Rsvd2[20];
    uint8_t CDBByte[16];
    uint8_t SenseArea[16];
};
#pragma pack(pop)

static_assert(sizeof(void*) != 4 || sizeof(CommandStatus) == 80,
              "the execute request block is 80 bytes in 32-bit builds");
static_assert(sizeof(void*) != 8 || sizeof(CommandStatus) == 88,
              "the execute request block is 88 bytes in 64-bit builds");
static_assert(offsetof(CommandStatus, SenseArea) + 16 == sizeof(CommandStatus));

inline constexpr size_t kDriveTableSize = 100;

extern DriveEntry driveEntries[kDriveTableSize];
extern uint8_t driveCount;
extern uint16_t selectedDrive;
extern uint8_t usePassThrough;
extern CommandStatus* lastStatus;

// Clears the drive table and its companions (start-up and tests).
void resetDriveTable();
