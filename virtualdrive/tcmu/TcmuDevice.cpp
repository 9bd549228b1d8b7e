#include "virtualdrive/tcmu/TcmuDevice.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

std::string firstLine(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// "tcm-user/HBA/NAME/CONFIG": the third part.
bool namesBackstore(const std::string& uioName, const std::string& name)
{
    const std::string prefix = "tcm-user/";
    if (uioName.compare(0, prefix.size(), prefix) != 0) return false;
    const size_t hbaEnd = uioName.find('/', prefix.size());
    if (hbaEnd == std::string::npos) return false;
    const size_t nameEnd = uioName.find('/', hbaEnd + 1);
    return uioName.substr(hbaEnd + 1, nameEnd - hbaEnd - 1) == name;
}

} // namespace

std::optional<int> findTcmuDevice(const std::string& name, const std::string& classRoot)
{
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(classRoot, error)) {
        const std::string leaf = entry.path().filename().string();
        if (leaf.compare(0, 3, "uio") != 0) continue;
        if (!namesBackstore(firstLine(entry.path().string() + "/name"), name)) continue;
        try {
            return std::stoi(leaf.substr(3));
        } catch (...) {
            continue;
        }
    }
    return std::nullopt;
}

TcmuDevice::~TcmuDevice()
{
    if (map_ != nullptr) munmap(map_, size_);
    if (fd_ >= 0) ::close(fd_);
}

bool TcmuDevice::open(int number)
{
    const std::string uio = "uio" + std::to_string(number);
    const std::string sizeText = firstLine("/sys/class/uio/" + uio + "/maps/map0/size");
    size_ = static_cast<size_t>(std::strtoull(sizeText.c_str(), nullptr, 0));
    if (size_ == 0) {
        error_ = "no size for the mapping of /dev/" + uio;
        return false;
    }
    fd_ = ::open(("/dev/" + uio).c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0) {
        error_ = "cannot open /dev/" + uio + ": " + std::strerror(errno);
        return false;
    }
    void* p = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (p == MAP_FAILED) {
        error_ = "cannot map /dev/" + uio + ": " + std::strerror(errno);
        return false;
    }
    map_ = static_cast<uint8_t*>(p);
    return true;
}

TcmuDevice::Wake TcmuDevice::wait(const sigset_t& unblocked)
{
    pollfd pfd{fd_, POLLIN, 0};
    const int n = ppoll(&pfd, 1, nullptr, &unblocked);
    if (n < 0) return errno == EINTR ? Wake::Signal : Wake::Gone;
    if ((pfd.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) return Wake::Gone;
    uint32_t events = 0;
    if (::read(fd_, &events, sizeof events) != sizeof events)
        return errno == EINTR ? Wake::Signal : Wake::Gone;
    return Wake::Commands;
}

void TcmuDevice::notify()
{
    const uint32_t one = 1;
    if (::write(fd_, &one, sizeof one) != sizeof one) {
        // The device is going away; the next wait says so.
    }
}
