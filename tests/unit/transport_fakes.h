// Small stand-ins for the drive access seams, recording what the transports
// hand to the system and answering as each test scripts.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/DriveAccess.h"
#include "platform/scripted/ScriptedSystem.h"
#include "transport/AlignedBuffer.h"
#include "transport/AspiRecords.h"
#include "transport/DriveRecords.h"

// Fields of the 1-byte packed request blocks may sit at any address; tests
// compare copies of them rather than references.
template <typename T> T unpacked(T value)
{
    return value;
}

// Counts the underlying allocations of aligned buffers; tests can make the
// next ones fail.
struct AllocationWatch {
    static inline std::atomic<int> live{0};
    static inline std::atomic<int> failNext{0};
    static inline std::vector<std::pair<void*, size_t>> made;

    static void* allocate(size_t bytes)
    {
        if (failNext > 0) {
            --failNext;
            return nullptr;
        }
        void* block = std::malloc(bytes);
        if (block != nullptr) {
            ++live;
            made.emplace_back(block, bytes);
        }
        return block;
    }
    static void release(void* block)
    {
        if (block != nullptr) --live;
        std::free(block);
    }
    static void install()
    {
        live = 0;
        failNext = 0;
        made.clear();
        setAlignedAllocator(allocate, release);
    }
    static void uninstall() { setAlignedAllocator(nullptr, nullptr); }
};

class FakePassThrough : public PassThroughAccess {
public:
    // --- script ---
    bool openReadWrite = true;
    bool openReadOnly = true;
    bool capabilitiesOk = true;
    uint32_t alignmentMask = 0;
    bool callOk = true;
    uint8_t scsiStatus = 0;
    uint8_t sense[32] = {};
    uint32_t error = 0;
    std::vector<uint8_t> dataToReturn; // written into data-in buffers

    // --- record ---
    std::vector<std::pair<std::string, bool>> opens;
    int liveHandles = 0;
    int sends = 0;
    PassThroughRequest sent{};
    std::vector<uint8_t> sentData; // the data-out bytes as they were sent
    bool copyWasLiveWhileSent = false;

    unsigned driveType(const std::string&) override { return DRIVE_CDROM_; }
    std::string driveRootText(char letter) override { return std::string{letter, ':', '\\'}; }

    Handle openDevice(const std::string& deviceName, bool readWrite) override
    {
        opens.emplace_back(deviceName, readWrite);
        if (readWrite ? !openReadWrite : !openReadOnly) return nullptr;
        ++liveHandles;
        return &handleToken_;
    }
    bool getCapabilities(Handle, ScsiCapabilities& answer) override
    {
        // A failed query may leave rubbish in the answer.
        answer.alignmentMask = capabilitiesOk ? alignmentMask : 0xFFF;
        return capabilitiesOk;
    }
    bool passThroughDirect(Handle, PassThroughRequest& request) override
    {
        ++sends;
        sent = request;
        auto* data = static_cast<uint8_t*>(request.dataBuffer);
        if (request.dataIn == SCSI_IOCTL_DATA_OUT_ && data != nullptr) {
            sentData.assign(data, data + request.dataTransferLength);
            copyWasLiveWhileSent = AllocationWatch::live > 0;
            // The system may use the buffer as it likes once it has it.
            std::memset(data, 0xEE, request.dataTransferLength);
        }
        if (request.dataIn == SCSI_IOCTL_DATA_IN_ && data != nullptr && !dataToReturn.empty())
            std::memcpy(data, dataToReturn.data(),
                        std::min<size_t>(dataToReturn.size(), request.dataTransferLength));
        request.scsiStatus = scsiStatus;
        std::memcpy(request.sense, sense, sizeof sense);
        return callOk;
    }
    uint32_t lastError() override { return error; }
    void closeDevice(Handle) override { --liveHandles; }

private:
    int handleToken_ = 0;
};

// A scripted system that also counts waits on events.
class EventCountingSystem : public ScriptedSystem {
public:
    std::atomic<int> eventWaits{0};
    std::atomic<int> eventResets{0};
    void waitEvent(Handle event) override
    {
        ++eventWaits;
        ScriptedSystem::waitEvent(event);
    }
    void resetEvent(Handle event) override
    {
        ++eventResets;
        ScriptedSystem::resetEvent(event);
    }
};

struct AspiAnswer {
    uint8_t srbStatus = SS_COMP;
    uint8_t haStat = 0;
    uint8_t targStat = 0;
    uint8_t senseKey = 0;
    uint8_t asc = 0;
    uint8_t ascq = 0;
};

class FakeAspi : public AspiLibrary {
public:
    // --- script ---
    AspiLoadResult loadResult = AspiLoadResult::Loaded;
    uint32_t supportInfo = 0x0101;
    AspiAnswer answer;
    // Completes the execute request later, from another thread.
    bool completeLater = false;
    uint8_t haCount = 1;
    uint8_t haUnique[16] = {};
    uint8_t haInquiryStatus = SS_COMP;
    uint8_t deviceType = 5;
    uint8_t deviceStatus = SS_COMP;
    std::vector<uint8_t> dataToReturn; // written into data-in buffers

    // --- record ---
    int loads = 0;
    int unloads = 0;
    CommandStatus sent{};
    std::vector<uint8_t> sentData;
    bool copyWasLiveWhileSent = false;
    SRB_HAInquiry inquirySent{};
    SRB_GDEVBlock deviceSent{};

    ~FakeAspi() override { join(); }
    void join()
    {
        if (completion_.joinable()) completion_.join();
    }

    AspiLoadResult load() override
    {
        ++loads;
        return loadResult;
    }
    void unload() override { ++unloads; }
    uint32_t getSupportInfo() override { return supportInfo; }

    uint32_t sendCommand(void* requestBlock) override
    {
        const uint8_t command = static_cast<uint8_t*>(requestBlock)[0];
        if (command == SC_HA_INQUIRY) {
            auto* block = static_cast<SRB_HAInquiry*>(requestBlock);
            inquirySent = *block;
            block->HA_Count = haCount;
            std::memcpy(block->HA_Unique, haUnique, sizeof haUnique);
            block->SRB_Status = haInquiryStatus;
            return haInquiryStatus;
        }
        if (command == SC_GET_DEV_TYPE) {
            auto* block = static_cast<SRB_GDEVBlock*>(requestBlock);
            deviceSent = *block;
            block->SRB_DeviceType = deviceType;
            block->SRB_Status = deviceStatus;
            return deviceStatus;
        }
        auto* block = static_cast<CommandStatus*>(requestBlock);
        sent = *block;
        if ((block->SRB_Flags & SRB_DIR_OUT) != 0 && block->SRB_BufPointer != nullptr) {
            sentData.assign(block->SRB_BufPointer, block->SRB_BufPointer + block->SRB_BufLen);
            copyWasLiveWhileSent = AllocationWatch::live > 0;
            std::memset(block->SRB_BufPointer, 0xEE, block->SRB_BufLen);
        }
        if ((block->SRB_Flags & SRB_DIR_IN) != 0 && block->SRB_BufPointer != nullptr &&
            !dataToReturn.empty())
            std::memcpy(block->SRB_BufPointer, dataToReturn.data(),
                        std::min<size_t>(dataToReturn.size(), block->SRB_BufLen));
        if (!completeLater) {
            finish(*block);
            // A transport that waited anyway must not hang the test.
            sys().setEvent(block->SRB_PostProc);
            return answer.srbStatus;
        }
        join();
        completion_ = std::thread([this, block] {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            finish(*block);
            sys().setEvent(block->SRB_PostProc);
        });
        return SS_PENDING;
    }

private:
    void finish(CommandStatus& block)
    {
        block.SRB_HaStat = answer.haStat;
        block.SRB_TargStat = answer.targStat;
        block.SenseArea[2] = answer.senseKey;
        block.SenseArea[12] = answer.asc;
        block.SenseArea[13] = answer.ascq;
        std::atomic_ref<uint8_t>(block.SRB_Status)
            .store(answer.srbStatus, std::memory_order_release);
    }

    std::thread completion_;
};
