// Commands and queries through the ASPI for Win32 library. The execute
// request block is the ASPI status image itself: the library fills it, and
// completion of a command is signalled through an event.
#include "transport/AspiTransport.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "platform/DriveAccess.h"
#include "platform/Platform.h"
#include "transport/AlignedBuffer.h"
#include "transport/TargetStatus.h"

namespace {

constexpr uint8_t kSenseLength = 14;
constexpr uint8_t kHaDataOverrunUnderrun = 0x12;

// Single instances: one command or query at a time.
CommandStatus executeBlock;
SRB_HAInquiry inquiryBlock;
SRB_GDEVBlock deviceBlock;
bool libraryLoaded = false;

// The library may finish a request on its own thread, so the status byte is
// read as a synchronising load.
uint8_t requestStatus(uint8_t& field)
{
    return std::atomic_ref<uint8_t>(field).load(std::memory_order_acquire);
}

class AspiTransport final : public DriveTransport {
public:
    int execute(const DriveEntry& entry, uint8_t* buffer, uint32_t length, const uint8_t* cdb,
                uint8_t cdbLength, uint8_t flags) override;
};

int AspiTransport::execute(const DriveEntry& entry, uint8_t* buffer, uint32_t length,
                           const uint8_t* cdb, uint8_t cdbLength, uint8_t flags)
{
    lastStatus = &executeBlock;
    uint8_t blockLength = entry.atapi == 1 ? uint8_t{12} : cdbLength;
    blockLength = std::min<uint8_t>(blockLength, sizeof executeBlock.CDBByte);

    Handle event = sys().createEvent();
    if (event == nullptr) return SetupFailed;

    uint8_t* data = buffer;
    uint8_t* copy = nullptr;
    // A buffer for data in that sits off the adapter's alignment is read
    // through an aligned copy as well: the adapter would refuse it.
    const bool readThroughCopy =
        (flags & SRB_DIR_OUT) == 0 && needsAlignedCopy(buffer, length, entry.alignmentMask);
    if ((flags & SRB_DIR_OUT) != 0 || readThroughCopy) {
        // The caller's data is never handed to the library itself.
        copy = allocateAligned(length, entry.alignmentMask);
        if (copy == nullptr) {
            sys().closeEvent(event);
            return NoMemory;
        }
        if (length != 0) std::memcpy(copy, buffer, length);
        data = copy;
    }

    executeBlock = CommandStatus{};
    executeBlock.SRB_Cmd = SC_EXEC_SCSI_CMD;
    executeBlock.SRB_HaId = entry.hostAdapter;
    executeBlock.SRB_Flags = static_cast<uint8_t>(flags | SRB_EVENT_NOTIFY);
    executeBlock.SRB_Hdr_Rsvd = 0;
    executeBlock.SRB_Target = entry.target;
    executeBlock.SRB_Lun = entry.lun;
    executeBlock.SRB_BufLen = length;
    executeBlock.SRB_BufPointer = data;
    executeBlock.SRB_SenseLen = kSenseLength;
    executeBlock.SRB_CDBLen = blockLength;
    executeBlock.SRB_PostProc = event;
    std::memcpy(executeBlock.CDBByte, cdb, blockLength);

    aspiLibrary().sendCommand(&executeBlock);

    // A request the library finished within the call is not waited for.
    if (requestStatus(executeBlock.SRB_Status) == SS_PENDING) {
        sys().waitEvent(event);
        sys().resetEvent(event);
    }

    const uint8_t srbStatus = requestStatus(executeBlock.SRB_Status);
    int result = Ok;
    if (srbStatus != SS_PENDING && srbStatus != SS_COMP) result = SrbFailed;
    if (executeBlock.SRB_HaStat != 0 && executeBlock.SRB_HaStat != kHaDataOverrunUnderrun)
        result = AdapterFailed;
    if (executeBlock.SRB_TargStat != 0 &&
        (executeBlock.SenseArea[2] != 0 || commandRefusedByTarget(executeBlock.SRB_TargStat)))
        result = TargetFailed;

    if (readThroughCopy) std::memcpy(buffer, copy, length);
    releaseAligned(copy);
    sys().closeEvent(event);
    return result;
}

} // namespace

DriveTransport& aspiTransport()
{
    static AspiTransport transport;
    return transport;
}

int loadAspi()
{
    AspiLibrary& library = aspiLibrary();
    switch (library.load()) {
    case AspiLoadResult::Loaded:
        libraryLoaded = true;
        return 1;
    case AspiLoadResult::MissingEntry:
        // Every later operation needs both entry points: a library without
        // one of them is as good as absent.
        library.unload();
        libraryLoaded = false;
        return 0;
    case AspiLoadResult::Failed:
        break;
    }
    libraryLoaded = false;
    return 0;
}

void unloadAspi()
{
    if (!libraryLoaded) return;
    aspiLibrary().unload();
    libraryLoaded = false;
}

int aspiAdapterCount()
{
    const uint32_t info = aspiLibrary().getSupportInfo();
    if (((info >> 8) & 0xFF) != SS_COMP) return 0;
    return static_cast<int>(info & 0xFF) + 1;
}

int hostAdapterInquiry(uint8_t adapter, SRB_HAInquiry*& block)
{
    inquiryBlock.SRB_Cmd = SC_HA_INQUIRY;
    inquiryBlock.SRB_HaId = adapter;
    inquiryBlock.SRB_Flags = 0;
    inquiryBlock.SRB_Hdr_Rsvd = 0;
    aspiLibrary().sendCommand(&inquiryBlock);
    block = &inquiryBlock;
    return requestStatus(inquiryBlock.SRB_Status) == SS_COMP ? 0 : 1;
}

int getDeviceType(const DriveEntry& entry, uint8_t& deviceType)
{
    deviceBlock.SRB_Cmd = SC_GET_DEV_TYPE;
    deviceBlock.SRB_HaId = entry.hostAdapter;
    deviceBlock.SRB_Flags = 0;
    deviceBlock.SRB_Hdr_Rsvd = 0;
    deviceBlock.SRB_Target = entry.target;
    deviceBlock.SRB_Lun = entry.lun;
    aspiLibrary().sendCommand(&deviceBlock);
    deviceType = deviceBlock.SRB_DeviceType;
    return requestStatus(deviceBlock.SRB_Status) == SS_COMP ? 0 : 1;
}
