#pragma once

#include <cstdint>

#include "transport/DriveRecords.h"

// Fills driveEntries with the drives the package is for; answers how many.
uint8_t discoverDrives();
// Whether INQUIRY data from byte 8 on (32 bytes available) matches an entry of
// the identity list.
bool matchesIdentity(const uint8_t* inquiryFromVendor, const char* identityList);
// Settles the drive and leaves its INQUIRY answer (40 bytes) in `answer`.
// Answers false when the answers never agreed within the round limit.
bool settleAndInquire(const DriveEntry& candidate, uint8_t* answer);
