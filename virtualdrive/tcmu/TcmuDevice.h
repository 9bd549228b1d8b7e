// The user-space I/O device the kernel makes for a user-space SCSI backstore:
// found by the backstore's name, its shared mapping, the wait for new
// commands and the note that answers are ready.
#pragma once

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// The number N of /dev/uioN whose name is "tcm-user/HBA/NAME/CONFIG", looked
// up under `classRoot` (normally /sys/class/uio).
std::optional<int> findTcmuDevice(const std::string& name,
                                  const std::string& classRoot = "/sys/class/uio");

class TcmuDevice {
public:
    TcmuDevice() = default;
    ~TcmuDevice();
    TcmuDevice(const TcmuDevice&) = delete;
    TcmuDevice& operator=(const TcmuDevice&) = delete;

    // Opens /dev/uioN and maps its first region. On failure `error()` says why.
    bool open(int number);
    uint8_t* map() const { return map_; }
    size_t size() const { return size_; }
    const std::string& error() const { return error_; }

    enum class Wake { Commands, Signal, Gone };
    // Waits until the kernel has queued commands, a signal arrives (with the
    // signal mask `unblocked` in force during the wait only), or the device
    // goes away.
    Wake wait(const sigset_t& unblocked);
    // Tells the kernel that answers are in the ring.
    void notify();

private:
    int fd_ = -1;
    uint8_t* map_ = nullptr;
    size_t size_ = 0;
    std::string error_;
};
