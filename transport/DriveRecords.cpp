#include "transport/DriveRecords.h"

#include <cstring>

DriveEntry driveEntries[kDriveTableSize];
uint8_t driveCount = 0;
uint16_t selectedDrive = 0;
uint8_t usePassThrough = 0;
CommandStatus* lastStatus = nullptr;

void resetDriveTable()
{
    std::memset(driveEntries, 0, sizeof driveEntries);
    driveCount = 0;
    selectedDrive = 0;
}
