// The common shape of the two transports.
#pragma once

#include <cstdint>

#include "transport/DriveRecords.h"

class DriveTransport {
public:
    virtual ~DriveTransport() = default;
    // Sends one command block. `cdb` has at least 12 readable bytes, zero past
    // the command's own length. `flags` holds SRB_DIR_IN, SRB_DIR_OUT or
    // SRB_EVENT_NOTIFY alone. Answers a CommandResult; the details stay in
    // *lastStatus.
    virtual int execute(const DriveEntry& entry, uint8_t* buffer, uint32_t length,
                        const uint8_t* cdb, uint8_t cdbLength, uint8_t flags) = 0;
};

DriveTransport& passThroughTransport();
DriveTransport& aspiTransport();
