// The virtual drives at the platform's drive-access seams, in process: a
// PassThroughAccess that opens drive letters of a VirtualBus and an
// AspiLibrary that answers its request blocks, completing execute requests at
// once or later from a completion thread (signalling SRB_PostProc through
// sys().setEvent). The real transports run above them unchanged.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "platform/DriveAccess.h"
#include "virtualdrive/core/VirtualAspiHost.h"
#include "virtualdrive/core/VirtualBus.h"

inline constexpr uint32_t kErrorInvalidFunction = 1;
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorInvalidHandle = 6;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr unsigned kDriveUnknown = 0;
inline constexpr unsigned kDriveNoRootDir = 1;

class VirtualPassThroughAccess : public PassThroughAccess {
public:
    explicit VirtualPassThroughAccess(VirtualBus& bus) : bus_(bus) {}
    ~VirtualPassThroughAccess() override;

    unsigned driveType(const std::string& rootPath) override;
    std::string driveRootText(char letter) override;
    Handle openDevice(const std::string& deviceName, bool readWrite) override;
    bool getCapabilities(Handle device, ScsiCapabilities& answer) override;
    bool passThroughDirect(Handle device, PassThroughRequest& request) override;
    uint32_t lastError() override;
    void closeDevice(Handle device) override;

    // Devices opened and not closed yet.
    int openHandles() const;
    // Whether the device behind `device` was opened for reading and writing.
    bool openedReadWrite(Handle device) const;

private:
    struct Device {
        VirtualDrive* drive;
        bool readWrite;
    };
    Device* find(Handle device) const;

    VirtualBus& bus_;
    mutable std::mutex mutex_;
    std::set<Device*> live_;
};

class VirtualAspiLibrary : public AspiLibrary {
public:
    explicit VirtualAspiLibrary(VirtualBus& bus) : bus_(bus), host_(bus) {}
    // Stops the completion thread; requests still pending are dropped.
    ~VirtualAspiLibrary() override;

    AspiLoadResult load() override;
    void unload() override;
    uint32_t getSupportInfo() override;
    uint32_t sendCommand(void* requestBlock) override;

    // Deferred requests wait, SRB_Status pending, until released.
    void holdCompletions(bool hold);
    size_t heldCount() const;
    // Blocks until no deferred request is outstanding.
    void waitIdle();

    bool isLoaded() const;
    int loadCount() const;
    // Calls made while the library was not loaded (a caller's mistake).
    int callsWhileUnloaded() const;

private:
    void completionLoop();

    VirtualBus& bus_;
    VirtualAspiHost host_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<CommandStatus*> pending_;
    size_t inFlight_ = 0;
    bool hold_ = false;
    bool stopping_ = false;
    std::thread worker_;
    bool loaded_ = false;
    int loads_ = 0;
    int strayCalls_ = 0;
};

// Installs seams over `bus` as passThroughAccess() and aspiLibrary(),
// replacing any installed before. The bus must outlive them.
void installVirtualDrives(VirtualBus& bus);
// Uninstalls and destroys the seams installVirtualDrives made.
void uninstallVirtualDrives();
// The seams installVirtualDrives made (it must have been called).
VirtualPassThroughAccess& virtualPassThroughAccess();
VirtualAspiLibrary& virtualAspiLibrary();

// A latency sink that really sleeps (the demo).
VirtualDrive::LatencySink sleepingLatency();
