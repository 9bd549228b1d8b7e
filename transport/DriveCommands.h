// The six drive commands. Each builds its command block, picks the block
// length and direction, and hands it to the transport chosen by usePassThrough
// at every call. The result is the transport's, unchanged.
#pragma once

#include <cstdint>

#include "transport/DriveRecords.h"

int inquiry(const DriveEntry& entry, uint8_t* buffer, uint16_t allocationLength);
int testUnitReady(const DriveEntry& entry);
int writeBuffer(const DriveEntry& entry, const uint8_t* buffer, uint32_t length, uint32_t offset,
                uint8_t mode, uint8_t bufferId);
int readBuffer(const DriveEntry& entry, uint8_t* buffer, uint32_t length, uint32_t offset,
               uint8_t mode, uint8_t bufferId);
int startStopUnit(const DriveEntry& entry, uint8_t loEjStart, uint8_t immed);
int vendorQuery(const DriveEntry& entry, uint8_t* buffer, uint16_t allocationLength,
                uint32_t parameter);
