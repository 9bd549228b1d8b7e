#include "virtualdrive/core/VirtualAspiHost.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace {

void padCopy(uint8_t* out, const char* text, size_t width)
{
    const size_t n = std::strlen(text);
    for (size_t i = 0; i < width; ++i)
        out[i] = static_cast<uint8_t>(i < n ? text[i] : ' ');
}

// With SRB_Flags holding neither direction bit, the command decides.
VirtualDirection naturalDirection(uint8_t opcode)
{
    switch (opcode) {
    case 0x12:
    case 0x13:
    case 0x3C:
    case 0xF5:
        return VirtualDirection::In;
    case 0x3B:
        return VirtualDirection::Out;
    default:
        return VirtualDirection::None;
    }
}

} // namespace

void publishSrbStatus(uint8_t& field, uint8_t value)
{
    std::atomic_ref<uint8_t>(field).store(value, std::memory_order_release);
}

uint8_t readSrbStatus(uint8_t& field)
{
    return std::atomic_ref<uint8_t>(field).load(std::memory_order_acquire);
}

uint32_t VirtualAspiHost::supportInfo() const
{
    if (bus_.supportInfo) return *bus_.supportInfo;
    const unsigned count = bus_.adapterCount();
    if (count == 0) return uint32_t{kSsNoAdapters} << 8;
    return (uint32_t{SS_COMP} << 8) | std::min(count, 255u);
}

void VirtualAspiHost::hostAdapterInquiry(SRB_HAInquiry& block) const
{
    const auto adapter = bus_.adapter(block.SRB_HaId);
    if (!adapter) {
        block.SRB_Status = kSsInvalidAdapter;
        return;
    }
    block.HA_Count = static_cast<uint8_t>(std::min(bus_.adapterCount(), 255u));
    block.HA_SCSI_ID = adapter->hostId;
    padCopy(block.HA_ManagerId, "ORV VIRTUAL ASPI", sizeof block.HA_ManagerId);
    padCopy(block.HA_Identifier, "VIRTUAL ADAPTER", sizeof block.HA_Identifier);
    std::memset(block.HA_Unique, 0, sizeof block.HA_Unique);
    block.HA_Unique[0] = static_cast<uint8_t>(adapter->alignmentMask & 0xFF);
    block.HA_Unique[1] = static_cast<uint8_t>(adapter->alignmentMask >> 8);
    block.HA_Unique[3] = adapter->targetCount;
    block.HA_Rsvd1 = 0;
    block.SRB_Status = SS_COMP;
}

void VirtualAspiHost::deviceType(SRB_GDEVBlock& block) const
{
    if (!bus_.adapter(block.SRB_HaId)) {
        block.SRB_Status = kSsInvalidAdapter;
        return;
    }
    VirtualDrive* drive = bus_.driveAt(block.SRB_HaId, block.SRB_Target);
    if (drive == nullptr || block.SRB_Lun != 0) {
        block.SRB_DeviceType = 0x1F; // unknown or no device
        block.SRB_Status = kSsNoDevice;
        return;
    }
    block.SRB_DeviceType = drive->config().deviceType & 0x1F;
    block.SRB_Status = SS_COMP;
}

VirtualDrive* VirtualAspiHost::driveFor(const CommandStatus& block, uint8_t& refusal) const
{
    if (!bus_.adapter(block.SRB_HaId)) {
        refusal = kSsInvalidAdapter;
        return nullptr;
    }
    VirtualDrive* drive = bus_.driveAt(block.SRB_HaId, block.SRB_Target);
    if (drive == nullptr || block.SRB_Lun != 0) {
        refusal = kSsNoDevice;
        return nullptr;
    }
    if (block.SRB_CDBLen == 0 || block.SRB_CDBLen > sizeof block.CDBByte ||
        (block.SRB_BufLen != 0 && block.SRB_BufPointer == nullptr)) {
        refusal = kSsInvalidSrb;
        return nullptr;
    }
    const uint16_t mask = bus_.adapter(block.SRB_HaId)->alignmentMask;
    if (block.SRB_BufLen != 0 && (reinterpret_cast<uintptr_t>(block.SRB_BufPointer) & mask) != 0) {
        refusal = kSsBufferAlign;
        return nullptr;
    }
    return drive;
}

VirtualAspiStep VirtualAspiHost::accept(void* raw, uint32_t& answer)
{
    auto* command = static_cast<uint8_t*>(raw);
    switch (command[0]) {
    case SC_HA_INQUIRY: {
        auto& block = *static_cast<SRB_HAInquiry*>(raw);
        hostAdapterInquiry(block);
        answer = block.SRB_Status;
        return VirtualAspiStep::Done;
    }
    case SC_GET_DEV_TYPE: {
        auto& block = *static_cast<SRB_GDEVBlock*>(raw);
        deviceType(block);
        answer = block.SRB_Status;
        return VirtualAspiStep::Done;
    }
    case SC_EXEC_SCSI_CMD: {
        auto& block = *static_cast<CommandStatus*>(raw);
        uint8_t refusal = 0;
        VirtualDrive* drive = driveFor(block, refusal);
        if (drive == nullptr) {
            publishSrbStatus(block.SRB_Status, refusal);
            answer = refusal;
            return VirtualAspiStep::Done;
        }
        if (drive->config().deferredCompletion) {
            publishSrbStatus(block.SRB_Status, SS_PENDING);
            answer = SS_PENDING;
            return VirtualAspiStep::CompleteLater;
        }
        complete(block);
        answer = readSrbStatus(block.SRB_Status);
        return VirtualAspiStep::Done;
    }
    default:
        command[1] = kSsInvalidCommand;
        answer = kSsInvalidCommand;
        return VirtualAspiStep::Done;
    }
}

uint32_t VirtualAspiHost::completionDelay(const CommandStatus& block) const
{
    VirtualDrive* drive = bus_.driveAt(block.SRB_HaId, block.SRB_Target);
    return drive == nullptr ? 0 : drive->config().completionDelay;
}

bool VirtualAspiHost::complete(CommandStatus& block)
{
    uint8_t status = 0;
    const bool notify = fill(block, status);
    publishSrbStatus(block.SRB_Status, status);
    return notify;
}

bool VirtualAspiHost::fill(CommandStatus& block, uint8_t& status)
{
    const bool notify = (block.SRB_Flags & SRB_EVENT_NOTIFY) != 0 && block.SRB_PostProc != nullptr;
    VirtualDrive* drive = driveFor(block, status);
    if (drive == nullptr) return notify;

    VirtualRequest request;
    request.cdb = block.CDBByte;
    request.cdbLength = block.SRB_CDBLen;
    request.data = block.SRB_BufPointer;
    request.dataLength = block.SRB_BufLen;
    request.viaAspi = true;
    switch (block.SRB_Flags & (SRB_DIR_IN | SRB_DIR_OUT)) {
    case SRB_DIR_IN:
        request.direction = VirtualDirection::In;
        break;
    case SRB_DIR_OUT:
        request.direction = VirtualDirection::Out;
        break;
    case SRB_DIR_IN | SRB_DIR_OUT:
        request.direction = VirtualDirection::None;
        break;
    default:
        request.direction = naturalDirection(block.CDBByte[0]);
        break;
    }

    const VirtualAnswer answer = drive->execute(request);
    block.SRB_HaStat = answer.haStatus;
    block.SRB_TargStat = answer.targetStatus;
    if (answer.sense[0] != 0) {
        const size_t n = std::min<size_t>(block.SRB_SenseLen, sizeof block.SenseArea);
        std::memcpy(block.SenseArea, answer.sense.data(), n);
    }
    status = answer.srbStatus;
    return notify;
}
