#include "platform/win32/Win32DriveAccess.h"

#include <windows.h>

#include <winioctl.h>

#include <ntddscsi.h>

#include <cstddef>
#include <cstring>

#include "platform/DriveAccess.h"

namespace {

// The pass-through request as the system takes it: the published request,
// filler, and the sense buffer the system writes into.
struct PassThroughWithSense {
    SCSI_PASS_THROUGH_DIRECT request;
    ULONG filler;
    UCHAR sense[32];
};

#if !defined(_WIN64)
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 44);
static_assert(offsetof(PassThroughWithSense, sense) == 48);
static_assert(sizeof(PassThroughWithSense) == 80);
#endif
static_assert(sizeof(IO_SCSI_CAPABILITIES) == 24);

class Win32PassThroughAccess final : public PassThroughAccess {
public:
    unsigned driveType(const std::string& rootPath) override
    {
        return GetDriveTypeA(rootPath.c_str());
    }

    std::string driveRootText(char letter) override { return std::string{letter, ':', '\\'}; }

    Handle openDevice(const std::string& deviceName, bool readWrite) override
    {
        const DWORD access = readWrite ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
        HANDLE device = CreateFileA(deviceName.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
        if (device == INVALID_HANDLE_VALUE) return nullptr;
        return device;
    }

    bool getCapabilities(Handle device, ScsiCapabilities& answer) override
    {
        IO_SCSI_CAPABILITIES capabilities;
        std::memset(&capabilities, 0, sizeof capabilities);
        DWORD returned = 0;
        const BOOL ok = DeviceIoControl(device, IOCTL_SCSI_GET_CAPABILITIES, nullptr, 0,
                                        &capabilities, sizeof capabilities, &returned, nullptr);
        answer.alignmentMask = ok ? capabilities.AlignmentMask : 0;
        return ok != FALSE;
    }

    bool passThroughDirect(Handle device, PassThroughRequest& request) override
    {
        PassThroughWithSense block;
        std::memset(&block, 0, sizeof block);
        SCSI_PASS_THROUGH_DIRECT& sptd = block.request;
        sptd.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
        sptd.ScsiStatus = request.scsiStatus;
        sptd.PathId = request.pathId;
        sptd.TargetId = request.targetId;
        sptd.Lun = request.lun;
        sptd.CdbLength = request.cdbLength;
        sptd.SenseInfoLength = sizeof block.sense;
        sptd.DataIn = request.dataIn;
        sptd.DataTransferLength = request.dataTransferLength;
        sptd.TimeOutValue = request.timeOutValue;
        sptd.DataBuffer = request.dataBuffer;
        sptd.SenseInfoOffset = offsetof(PassThroughWithSense, sense);
        std::memcpy(sptd.Cdb, request.cdb, sizeof sptd.Cdb);

        DWORD returned = 0;
        const BOOL ok = DeviceIoControl(device, IOCTL_SCSI_PASS_THROUGH_DIRECT, &block,
                                        sizeof block, &block, sizeof block, &returned, nullptr);
        error_ = ok ? 0 : GetLastError();

        request.scsiStatus = sptd.ScsiStatus;
        request.dataTransferLength = sptd.DataTransferLength;
        std::memcpy(request.sense, block.sense, sizeof request.sense);
        return ok != FALSE;
    }

    uint32_t lastError() override { return error_; }

    void closeDevice(Handle device) override { CloseHandle(device); }

private:
    DWORD error_ = 0;
};

using SendCommandEntry = DWORD(__cdecl*)(void*);
using SupportInfoEntry = DWORD(__cdecl*)();

constexpr uint8_t kStatusFailedInit = 0xE4;

class Win32AspiLibrary final : public AspiLibrary {
public:
    AspiLoadResult load() override
    {
        if (module_ == nullptr) module_ = LoadLibraryA("WNASPI32.DLL");
        if (module_ == nullptr) return AspiLoadResult::Failed;
        if (send_ == nullptr)
            send_ = reinterpret_cast<SendCommandEntry>(
                reinterpret_cast<void (*)()>(GetProcAddress(module_, "SendASPI32Command")));
        if (support_ == nullptr)
            support_ = reinterpret_cast<SupportInfoEntry>(
                reinterpret_cast<void (*)()>(GetProcAddress(module_, "GetASPI32SupportInfo")));
        if (send_ == nullptr || support_ == nullptr) return AspiLoadResult::MissingEntry;
        return AspiLoadResult::Loaded;
    }

    void unload() override
    {
        send_ = nullptr;
        support_ = nullptr;
        if (module_ != nullptr) FreeLibrary(module_);
        module_ = nullptr;
    }

    uint32_t getSupportInfo() override
    {
        if (support_ == nullptr) return 0;
        return support_();
    }

    uint32_t sendCommand(void* requestBlock) override
    {
        if (send_ == nullptr) {
            // Every request block starts with its command and status bytes.
            static_cast<uint8_t*>(requestBlock)[1] = kStatusFailedInit;
            return kStatusFailedInit;
        }
        return send_(requestBlock);
    }

private:
    HMODULE module_ = nullptr;
    SendCommandEntry send_ = nullptr;
    SupportInfoEntry support_ = nullptr;
};

} // namespace

void installWin32DriveAccess()
{
    static Win32PassThroughAccess passThrough;
    static Win32AspiLibrary aspi;
    installPassThroughAccess(&passThrough);
    installAspiLibrary(&aspi);
}
