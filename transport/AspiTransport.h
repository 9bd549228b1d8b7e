// Drives reached through the ASPI for Win32 library.
#pragma once

#include <cstdint>

#include "transport/AspiRecords.h"
#include "transport/DriveTransport.h"

// 1 when the library was loaded with both entry points, else 0.
int loadAspi();
void unloadAspi();
// 0 unless the support query reports SS_COMP; otherwise adapters + 1.
int aspiAdapterCount();
// 0 when SRB_Status is SS_COMP, else 1. `block` receives the static block.
int hostAdapterInquiry(uint8_t adapter, SRB_HAInquiry*& block);
// 0 when SRB_Status is SS_COMP, else 1. `deviceType` gets SRB_DeviceType.
int getDeviceType(const DriveEntry& entry, uint8_t& deviceType);
