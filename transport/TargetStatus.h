// SCSI status bytes of a target, and which of them mean the command was not
// carried out at all.
#pragma once

#include <cstdint>

inline constexpr uint8_t kStatusCheckCondition = 0x02;
inline constexpr uint8_t kStatusBusy = 0x08;
inline constexpr uint8_t kStatusReservationConflict = 0x18;
inline constexpr uint8_t kStatusTaskSetFull = 0x28;
inline constexpr uint8_t kStatusAcaActive = 0x30;
inline constexpr uint8_t kStatusTaskAborted = 0x40;

// A target that answers with one of these did not execute the command, even
// when no sense data came with the answer: a chunk of firmware sent that way
// never reached the drive, so it must not count as completed.
constexpr bool commandRefusedByTarget(uint8_t scsiStatus)
{
    return scsiStatus == kStatusBusy || scsiStatus == kStatusReservationConflict ||
           scsiStatus == kStatusTaskSetFull || scsiStatus == kStatusAcaActive ||
           scsiStatus == kStatusTaskAborted;
}
