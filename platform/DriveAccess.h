// The seams below the two transports. The transports' own logic is
// platform-neutral; these interfaces carry a command block to a drive and its
// answer back. Windows implements them with the real API (DeviceIoControl on
// the drive letter, WNASPI32.DLL), Linux with SG_IO on the optical drive
// nodes, and the virtual drive stands in for the hardware in tests and the demo.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Platform.h"

inline constexpr unsigned DRIVE_CDROM_ = 5;
inline constexpr uint8_t SCSI_IOCTL_DATA_OUT_ = 0;
inline constexpr uint8_t SCSI_IOCTL_DATA_IN_ = 1;
inline constexpr uint8_t SCSI_IOCTL_DATA_UNSPECIFIED_ = 2;

// The fields of a SCSI_PASS_THROUGH_DIRECT request and its 32-byte sense
// buffer. The Windows implementation lays it out in the operating system's
// structure; in 32-bit builds the whole request is 80 bytes with the sense
// buffer at byte 48.
struct PassThroughRequest {
    uint16_t length;
    uint8_t scsiStatus;
    uint8_t pathId;
    uint8_t targetId;
    uint8_t lun;
    uint8_t cdbLength;
    uint8_t senseInfoLength;
    uint8_t dataIn;
    uint32_t dataTransferLength;
    uint32_t timeOutValue; // seconds
    void* dataBuffer;
    uint32_t senseInfoOffset;
    uint8_t cdb[16];
    uint8_t sense[32];
};

// The part of IO_SCSI_CAPABILITIES the transport uses.
struct ScsiCapabilities {
    uint32_t alignmentMask;
};

class PassThroughAccess {
public:
    virtual ~PassThroughAccess() = default;

    // GetDriveTypeA on a root path such as "E:\".
    virtual unsigned driveType(const std::string& rootPath) = 0;
    // How the drive list names the drive at `letter` ("E:\" on Windows, a
    // short device name such as "sr0" on Linux). At most 6 characters.
    virtual std::string driveRootText(char letter) = 0;
    // CreateFileA of a device name such as "\\.\E:", read-write or read-only.
    // Null when it does not open.
    virtual Handle openDevice(const std::string& deviceName, bool readWrite) = 0;
    // IOCTL_SCSI_GET_CAPABILITIES.
    virtual bool getCapabilities(Handle device, ScsiCapabilities& answer) = 0;
    // IOCTL_SCSI_PASS_THROUGH_DIRECT, the request in and out.
    virtual bool passThroughDirect(Handle device, PassThroughRequest& request) = 0;
    // GetLastError after a failed passThroughDirect.
    virtual uint32_t lastError() = 0;
    // CloseHandle.
    virtual void closeDevice(Handle device) = 0;
};

enum class AspiLoadResult { Failed, Loaded, MissingEntry };

class AspiLibrary {
public:
    virtual ~AspiLibrary() = default;

    // LoadLibraryA("WNASPI32.DLL"), then GetProcAddress of SendASPI32Command
    // and GetASPI32SupportInfo.
    virtual AspiLoadResult load() = 0;
    // FreeLibrary.
    virtual void unload() = 0;
    virtual uint32_t getSupportInfo() = 0;
    // Hands a request block to the library; completion of an execute request
    // may come later, through the event in its SRB_PostProc.
    virtual uint32_t sendCommand(void* requestBlock) = 0;
};

PassThroughAccess& passThroughAccess();
void installPassThroughAccess(PassThroughAccess* access);
AspiLibrary& aspiLibrary();
void installAspiLibrary(AspiLibrary* library);
