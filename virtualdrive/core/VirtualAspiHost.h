// The ASPI for Win32 library's side of the request blocks, over a VirtualBus:
// the support query, SC_HA_INQUIRY, SC_GET_DEV_TYPE and SC_EXEC_SCSI_CMD.
// Used by the in-process ASPI seam and by the WNASPI32.DLL build, which add
// only the threads and the event signalling of their platform.
#pragma once

#include <cstdint>

#include "transport/AspiRecords.h"
#include "transport/DriveRecords.h"
#include "virtualdrive/core/VirtualBus.h"

inline constexpr uint8_t kSsInvalidCommand = 0x80;
inline constexpr uint8_t kSsInvalidAdapter = 0x81;
inline constexpr uint8_t kSsNoDevice = 0x82;
inline constexpr uint8_t kSsInvalidSrb = 0xE0;
inline constexpr uint8_t kSsBufferAlign = 0xE1;
inline constexpr uint8_t kSsNoAdapters = 0xE8;

enum class VirtualAspiStep : uint8_t {
    Done,         // the block is complete; SRB_Status holds the outcome
    CompleteLater // an execute block left pending: call complete() from another thread
};

class VirtualAspiHost {
public:
    explicit VirtualAspiHost(VirtualBus& bus) : bus_(bus) {}

    // GetASPI32SupportInfo: status in bits 8 to 15, adapter count in 0 to 7.
    uint32_t supportInfo() const;
    // SendASPI32Command up to the point of completion. `answer` receives what
    // the call returns (the block's status, or SS_PENDING).
    VirtualAspiStep accept(void* block, uint32_t& answer);
    // Runs a pending execute block on its drive and fills it; SRB_Status is
    // written last. Answers whether its event is to be signalled (event
    // notification asked for and an event given).
    bool complete(CommandStatus& block);
    // complete() up to its last step: fills the block except SRB_Status and
    // leaves in `status` the value for it, so that the caller can record the
    // outcome before it publishes the status and thereby hands the block back.
    bool fill(CommandStatus& block, uint8_t& status);
    // Real-time milliseconds to let pass before a pending block is completed
    // (its drive's setting).
    uint32_t completionDelay(const CommandStatus& block) const;

private:
    void hostAdapterInquiry(SRB_HAInquiry& block) const;
    void deviceType(SRB_GDEVBlock& block) const;
    // The drive of an execute block, or null with the status that refuses it.
    VirtualDrive* driveFor(const CommandStatus& block, uint8_t& refusal) const;

    VirtualBus& bus_;
};

// Stores an SRB_Status so that another thread reading it sees the block's
// other fields complete.
void publishSrbStatus(uint8_t& field, uint8_t value);
uint8_t readSrbStatus(uint8_t& field);
