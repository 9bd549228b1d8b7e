#include "virtualdrive/seams/VirtualDriveSeams.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// GetLastError is kept per thread.
thread_local uint32_t lastPassThroughError = 0;

char letterOf(char c)
{
    if (c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
    return (c >= 'A' && c <= 'Z') ? c : 0;
}

std::unique_ptr<VirtualPassThroughAccess> installedPassThrough;
std::unique_ptr<VirtualAspiLibrary> installedAspi;

} // namespace

// --- pass-through ---

VirtualPassThroughAccess::~VirtualPassThroughAccess()
{
    for (Device* device : live_)
        delete device;
}

unsigned VirtualPassThroughAccess::driveType(const std::string& rootPath)
{
    if (rootPath.size() != 3 || rootPath[1] != ':' || rootPath[2] != '\\') return kDriveUnknown;
    const char letter = letterOf(rootPath[0]);
    VirtualDrive* drive = letter != 0 ? bus_.driveAtLetter(letter) : nullptr;
    return drive != nullptr ? drive->config().driveType : kDriveNoRootDir;
}

std::string VirtualPassThroughAccess::driveRootText(char letter)
{
    return std::string(1, letter) + ":\\";
}

Handle VirtualPassThroughAccess::openDevice(const std::string& deviceName, bool readWrite)
{
    VirtualDrive* drive = nullptr;
    if (deviceName.size() == 6 && deviceName.compare(0, 4, "\\\\.\\") == 0 &&
        deviceName[5] == ':') {
        const char letter = letterOf(deviceName[4]);
        if (letter != 0) drive = bus_.driveAtLetter(letter);
    }
    if (drive == nullptr) {
        lastPassThroughError = kErrorFileNotFound;
        return nullptr;
    }
    if (!drive->open(readWrite)) {
        lastPassThroughError = 5; // ERROR_ACCESS_DENIED
        return nullptr;
    }
    auto* device = new Device{drive, readWrite};
    std::lock_guard lock(mutex_);
    live_.insert(device);
    return device;
}

VirtualPassThroughAccess::Device* VirtualPassThroughAccess::find(Handle device) const
{
    std::lock_guard lock(mutex_);
    const auto found = live_.find(static_cast<Device*>(device));
    return found == live_.end() ? nullptr : *found;
}

bool VirtualPassThroughAccess::getCapabilities(Handle handle, ScsiCapabilities& answer)
{
    Device* device = find(handle);
    if (device == nullptr) {
        lastPassThroughError = kErrorInvalidHandle;
        return false;
    }
    uint32_t mask = 0;
    if (!device->drive->capabilities(mask)) {
        lastPassThroughError = kErrorInvalidFunction;
        return false;
    }
    answer.alignmentMask = mask;
    return true;
}

bool VirtualPassThroughAccess::passThroughDirect(Handle handle, PassThroughRequest& request)
{
    Device* device = find(handle);
    if (device == nullptr) {
        lastPassThroughError = kErrorInvalidHandle;
        return false;
    }
    const uint32_t mask = device->drive->config().passThroughMask;
    const bool badBuffer = request.dataTransferLength != 0 &&
                           (request.dataBuffer == nullptr ||
                            (reinterpret_cast<uintptr_t>(request.dataBuffer) & mask) != 0);
    if (request.cdbLength == 0 || request.cdbLength > sizeof request.cdb ||
        request.senseInfoLength > sizeof request.sense ||
        request.dataIn > SCSI_IOCTL_DATA_UNSPECIFIED_ || badBuffer) {
        lastPassThroughError = kErrorInvalidParameter;
        return false;
    }

    VirtualRequest command;
    command.cdb = request.cdb;
    command.cdbLength = request.cdbLength;
    command.data = static_cast<uint8_t*>(request.dataBuffer);
    command.dataLength = request.dataTransferLength;
    command.direction = request.dataIn == SCSI_IOCTL_DATA_IN_    ? VirtualDirection::In
                        : request.dataIn == SCSI_IOCTL_DATA_OUT_ ? VirtualDirection::Out
                                                                 : VirtualDirection::None;
    command.timeoutSeconds = request.timeOutValue;
    const VirtualAnswer answer = device->drive->execute(command);

    request.scsiStatus = answer.scsiStatus;
    std::memcpy(request.sense, answer.sense.data(), request.senseInfoLength);
    if (command.direction == VirtualDirection::In) request.dataTransferLength = answer.transferred;
    if (!answer.requestOk) {
        lastPassThroughError = answer.systemError;
        return false;
    }
    return true;
}

uint32_t VirtualPassThroughAccess::lastError()
{
    return lastPassThroughError;
}

void VirtualPassThroughAccess::closeDevice(Handle handle)
{
    std::lock_guard lock(mutex_);
    const auto found = live_.find(static_cast<Device*>(handle));
    if (found == live_.end()) return;
    delete *found;
    live_.erase(found);
}

int VirtualPassThroughAccess::openHandles() const
{
    std::lock_guard lock(mutex_);
    return static_cast<int>(live_.size());
}

bool VirtualPassThroughAccess::openedReadWrite(Handle handle) const
{
    Device* device = find(handle);
    return device != nullptr && device->readWrite;
}

// --- ASPI ---

VirtualAspiLibrary::~VirtualAspiLibrary()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        hold_ = false;
    }
    changed_.notify_all();
    if (worker_.joinable()) worker_.join();
}

AspiLoadResult VirtualAspiLibrary::load()
{
    std::lock_guard lock(mutex_);
    ++loads_;
    switch (bus_.aspiLoad) {
    case VirtualAspiLoad::Failed:
        return AspiLoadResult::Failed;
    case VirtualAspiLoad::MissingEntry:
        loaded_ = true;
        return AspiLoadResult::MissingEntry;
    case VirtualAspiLoad::Loaded:
        break;
    }
    loaded_ = true;
    return AspiLoadResult::Loaded;
}

void VirtualAspiLibrary::unload()
{
    std::lock_guard lock(mutex_);
    if (!loaded_) ++strayCalls_;
    loaded_ = false;
}

uint32_t VirtualAspiLibrary::getSupportInfo()
{
    {
        std::lock_guard lock(mutex_);
        if (!loaded_) ++strayCalls_;
    }
    return host_.supportInfo();
}

uint32_t VirtualAspiLibrary::sendCommand(void* requestBlock)
{
    {
        std::lock_guard lock(mutex_);
        if (!loaded_) ++strayCalls_;
    }
    uint32_t answer = 0;
    if (host_.accept(requestBlock, answer) == VirtualAspiStep::CompleteLater) {
        std::lock_guard lock(mutex_);
        pending_.push_back(static_cast<CommandStatus*>(requestBlock));
        ++inFlight_;
        if (!worker_.joinable()) worker_ = std::thread([this] { completionLoop(); });
        changed_.notify_all();
    }
    return answer;
}

void VirtualAspiLibrary::completionLoop()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || (!hold_ && !pending_.empty()); });
        if (stopping_) return; // requests still pending are dropped
        CommandStatus* block = pending_.front();
        pending_.pop_front();
        lock.unlock();
        // Give the caller time to find the request pending and wait for it.
        const uint32_t delay = host_.completionDelay(*block);
        if (delay != 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        Handle event = block->SRB_PostProc;
        if (host_.complete(*block)) sys().setEvent(event);
        lock.lock();
        --inFlight_;
        changed_.notify_all();
    }
}

void VirtualAspiLibrary::holdCompletions(bool hold)
{
    {
        std::lock_guard lock(mutex_);
        hold_ = hold;
    }
    changed_.notify_all();
}

size_t VirtualAspiLibrary::heldCount() const
{
    std::lock_guard lock(mutex_);
    return hold_ ? pending_.size() : 0;
}

void VirtualAspiLibrary::waitIdle()
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return inFlight_ == 0; });
}

bool VirtualAspiLibrary::isLoaded() const
{
    std::lock_guard lock(mutex_);
    return loaded_;
}

int VirtualAspiLibrary::loadCount() const
{
    std::lock_guard lock(mutex_);
    return loads_;
}

int VirtualAspiLibrary::callsWhileUnloaded() const
{
    std::lock_guard lock(mutex_);
    return strayCalls_;
}

// --- installation ---

void installVirtualDrives(VirtualBus& bus)
{
    uninstallVirtualDrives();
    installedPassThrough = std::make_unique<VirtualPassThroughAccess>(bus);
    installedAspi = std::make_unique<VirtualAspiLibrary>(bus);
    installPassThroughAccess(installedPassThrough.get());
    installAspiLibrary(installedAspi.get());
}

void uninstallVirtualDrives()
{
    installPassThroughAccess(nullptr);
    installAspiLibrary(nullptr);
    installedAspi.reset();
    installedPassThrough.reset();
}

VirtualPassThroughAccess& virtualPassThroughAccess()
{
    if (!installedPassThrough) std::abort();
    return *installedPassThrough;
}

VirtualAspiLibrary& virtualAspiLibrary()
{
    if (!installedAspi) std::abort();
    return *installedAspi;
}

VirtualDrive::LatencySink sleepingLatency()
{
    return [](uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
}
