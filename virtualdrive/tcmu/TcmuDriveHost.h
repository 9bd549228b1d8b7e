// Puts the virtual drive behind the command ring: turns a queued command into
// a request to the drive (block length, direction, data-out gathered from the
// pieces) and the drive's answer into a SCSI status, sense data and data-in
// scattered into the pieces.
#pragma once

#include "virtualdrive/core/VirtualDrive.h"
#include "virtualdrive/tcmu/TcmuRing.h"

// What the drive is given for a command the kernel delivered.
struct TcmuDriveRequest {
    std::array<uint8_t, 16> cdb{};
    uint8_t cdbLength = 0;
    VirtualDirection direction = VirtualDirection::None;
};

// Vendor opcodes (0xC0 to 0xFF) reach the handler as 10-byte blocks; the
// drive is given the 12 bytes the updater sends, the last two zero. The
// direction follows the opcode, since the ring does not carry it.
TcmuDriveRequest tcmuDriveRequest(const TcmuCommand& command);

// The status and sense the kernel is given for the drive's answer. A request
// the drive failed without a SCSI status (an adapter failure on the other
// seams) becomes a CHECK CONDITION with ABORTED COMMAND: 0B-4B-00 (data phase
// error) for data moved the wrong way, 0B-00-00 otherwise.
TcmuResponse tcmuResponse(const VirtualAnswer& answer);

// Runs one command on the drive.
TcmuResponse serveOnDrive(VirtualDrive& drive, const TcmuCommand& command);
