#include "platform/linux/LinuxDriveAccess.h"

#include <dirent.h>
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <string_view>

#include "platform/DriveAccess.h"
#include "platform/linux/LinuxEventPolling.h"

namespace linuxdrive {

namespace {

// The number after "sr", or -1 for any other name.
long opticalNumber(const std::string& name)
{
    if (name.size() < 3 || name.size() > 8 || name.compare(0, 2, "sr") != 0) return -1;
    long number = 0;
    for (size_t i = 2; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i]))) return -1;
        number = number * 10 + (name[i] - '0');
    }
    return number;
}

} // namespace

std::vector<std::string> orderOpticalDrives(const std::vector<std::string>& names)
{
    std::vector<std::pair<long, std::string>> drives;
    for (const std::string& name : names) {
        const long number = opticalNumber(name);
        if (number >= 0) drives.emplace_back(number, name);
    }
    std::sort(drives.begin(), drives.end());
    drives.erase(std::unique(drives.begin(), drives.end()), drives.end());
    std::vector<std::string> ordered;
    for (auto& drive : drives)
        ordered.push_back(drive.second);
    return ordered;
}

char letterOfDeviceName(const std::string& deviceName)
{
    const size_t colon = deviceName.rfind(':');
    if (colon == std::string::npos || colon == 0) return 0;
    const char letter =
        static_cast<char>(std::toupper(static_cast<unsigned char>(deviceName[colon - 1])));
    if (letter < 'A' || letter > 'Z') return 0;
    return letter;
}

int errorForTransportStatus(unsigned hostStatus, unsigned driverStatus)
{
    constexpr unsigned kDidNoConnect = 0x01;
    constexpr unsigned kDidBusBusy = 0x02;
    constexpr unsigned kDidTimeOut = 0x03;
    constexpr unsigned kDidBadTarget = 0x04;
    constexpr unsigned kDriverTimeout = 0x06;
    constexpr unsigned kDriverSense = 0x08;
    constexpr unsigned kDriverMask = 0x0F;

    switch (hostStatus) {
    case 0:
        break;
    case kDidNoConnect:
    case kDidBadTarget:
        return ENODEV;
    case kDidBusBusy:
        return EBUSY;
    case kDidTimeOut:
        return ETIMEDOUT;
    default:
        return EIO;
    }
    // Sense data that came with the answer is not a transport failure.
    const unsigned driver = driverStatus & kDriverMask;
    if (driver == 0 || driver == kDriverSense) return 0;
    if (driver == kDriverTimeout) return ETIMEDOUT;
    return EIO;
}

} // namespace linuxdrive

namespace {

constexpr unsigned kDriveNoRootDir = 1;

std::vector<std::string> opticalDrives()
{
    std::vector<std::string> names;
    if (DIR* dir = opendir("/dev")) {
        while (const dirent* entry = readdir(dir))
            names.emplace_back(entry->d_name);
        closedir(dir);
    }
    return linuxdrive::orderOpticalDrives(names);
}

struct OpenDrive {
    int fd;
    std::string name;
};

// The optical drives as they were when first asked for, with the node the
// commands go through and its device number. Letters keep naming the same
// drive for the whole run: a drive plugged in or removed later must not shift
// the letters onto another drive between discovery and the update.
//
// Commands go through the drive's SCSI generic node (/dev/sgN) when it has
// one: opening and closing the block node /dev/srN is not silent (the open
// checks for a media change, the last close unlocks the door with PREVENT
// ALLOW MEDIUM REMOVAL), and the updater opens the drive for every command.
struct NodePath {
    std::string path; // "/dev/sg0" or "/dev/sr0"
    dev_t device;
};

struct DriveNode {
    std::string name;            // "sr0"
    std::vector<NodePath> paths; // the generic node first, then the block node
};

std::string genericNodeOf(const std::string& name)
{
    std::string found;
    if (DIR* dir = opendir(("/sys/block/" + name + "/device/scsi_generic").c_str())) {
        while (const dirent* entry = readdir(dir))
            if (std::string_view(entry->d_name).starts_with("sg")) found = entry->d_name;
        closedir(dir);
    }
    return found.empty() ? std::string{} : "/dev/" + found;
}

const std::vector<DriveNode>& drivesOfThisRun()
{
    static const std::vector<DriveNode> nodes = [] {
        std::vector<DriveNode> found;
        for (const std::string& name : opticalDrives()) {
            DriveNode node{name, {}};
            for (const std::string& path : {genericNodeOf(name), "/dev/" + name}) {
                struct stat info {};
                if (!path.empty() && stat(path.c_str(), &info) == 0)
                    node.paths.push_back({path, info.st_rdev});
            }
            found.push_back(std::move(node));
        }
        return found;
    }();
    return nodes;
}

// Commands that start changing the drive: from the first of them on, the
// kernel's own media polling is held off for the rest of the run.
bool startsWriting(uint8_t opcode)
{
    constexpr uint8_t kStartStopUnit = 0x1B;
    constexpr uint8_t kWriteBuffer = 0x3B;
    return opcode == kStartStopUnit || opcode == kWriteBuffer;
}

class LinuxPassThroughAccess final : public PassThroughAccess {
public:
    unsigned driveType(const std::string& rootPath) override
    {
        return driveName(rootPath).empty() ? kDriveNoRootDir : DRIVE_CDROM_;
    }

    std::string driveRootText(char letter) override
    {
        return driveName(std::string{letter, ':'}).substr(0, 6);
    }

    // The program asks for the drive afresh for every command. The node is
    // opened once per drive and access mode and kept open for the run: an
    // open of the SCSI generic node is silent, but it still costs the
    // transfer a file open, a check and a close per chunk.
    Handle openDevice(const std::string& deviceName, bool readWrite) override
    {
        const std::string name = driveName(deviceName);
        const auto& nodes = drivesOfThisRun();
        const auto node = std::find_if(nodes.begin(), nodes.end(),
                                       [&](const DriveNode& n) { return n.name == name; });
        if (name.empty() || node == nodes.end()) {
            error_ = ENOENT;
            return nullptr;
        }
        std::lock_guard lock(mutex_);
        const std::string key = name + (readWrite ? ":rw" : ":ro");
        if (const auto kept = kept_.find(key); kept != kept_.end())
            return new OpenDrive{kept->second, name};
        // A user who may use the drive but not its generic node (the group
        // that owns /dev/srN, say) reaches it through the block node; writing
        // firmware needs root, which may open the generic node.
        error_ = ENOENT;
        for (const NodePath& candidate : node->paths) {
            const int mode = (readWrite ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC;
            const int fd = open(candidate.path.c_str(), mode);
            if (fd < 0) {
                error_ = static_cast<uint32_t>(errno);
                if (errno == EACCES || errno == EPERM) continue;
                return nullptr;
            }
            // The node must still be the drive it was when the letters were given.
            struct stat info {};
            if (fstat(fd, &info) != 0 || info.st_rdev != candidate.device) {
                close(fd);
                error_ = ENODEV;
                return nullptr;
            }
            kept_.emplace(key, fd);
            return new OpenDrive{fd, name};
        }
        return nullptr;
    }

    bool getCapabilities(Handle device, ScsiCapabilities& answer) override
    {
        answer.alignmentMask = 0;
        const auto* drive = static_cast<OpenDrive*>(device);
        std::lock_guard lock(mutex_);
        auto known = alignment_.find(drive->name);
        if (known == alignment_.end()) {
            std::ifstream file("/sys/block/" + drive->name + "/queue/dma_alignment");
            unsigned long mask = 0;
            if (!(file >> mask) || mask > UINT32_MAX) return false;
            known = alignment_.emplace(drive->name, static_cast<uint32_t>(mask)).first;
        }
        answer.alignmentMask = known->second;
        return true;
    }

    bool passThroughDirect(Handle device, PassThroughRequest& request) override
    {
        const auto* drive = static_cast<OpenDrive*>(device);
        // Nothing of the kernel's own may reach a drive that takes firmware:
        // when the polling cannot be held off, the command is not sent.
        if (request.cdbLength > 0 && startsWriting(request.cdb[0])) {
            if (const int held = linuxdrive::holdEventPolling(drive->name); held != 0) {
                error_ = static_cast<uint32_t>(held);
                return false;
            }
        }
        sg_io_hdr_t header{};
        header.interface_id = 'S';
        switch (request.dataIn) {
        case SCSI_IOCTL_DATA_IN_:
            header.dxfer_direction = SG_DXFER_FROM_DEV;
            break;
        case SCSI_IOCTL_DATA_OUT_:
            header.dxfer_direction = SG_DXFER_TO_DEV;
            break;
        default:
            header.dxfer_direction = SG_DXFER_NONE;
            break;
        }
        if (header.dxfer_direction != SG_DXFER_NONE) {
            header.dxfer_len = request.dataTransferLength;
            header.dxferp = request.dataBuffer;
        }
        header.cmd_len = std::min<unsigned char>(request.cdbLength, sizeof request.cdb);
        header.cmdp = request.cdb;
        header.mx_sb_len = sizeof request.sense;
        header.sbp = request.sense;
        const uint64_t milliseconds = uint64_t{request.timeOutValue} * 1000;
        header.timeout = static_cast<unsigned>(std::min<uint64_t>(milliseconds, UINT_MAX));

        if (ioctl(drive->fd, SG_IO, &header) < 0) {
            // EPERM or EACCES here: writing firmware needs the raw-I/O
            // capability (CAP_SYS_RAWIO), which in practice means root.
            error_ = static_cast<uint32_t>(errno);
            return false;
        }
        request.scsiStatus = header.status;
        const int transport =
            linuxdrive::errorForTransportStatus(header.host_status, header.driver_status);
        if (transport != 0) {
            error_ = static_cast<uint32_t>(transport);
            return false;
        }
        error_ = 0;
        return true;
    }

    uint32_t lastError() override { return error_; }

    // The node itself stays open for the next command (see openDevice).
    void closeDevice(Handle device) override { delete static_cast<OpenDrive*>(device); }

private:
    // The node name for a name holding a drive letter ("E:\", "\\.\E:") or
    // already naming a node ("sr0"); empty when no optical drive answers to it.
    static std::string driveName(const std::string& name)
    {
        const std::vector<DriveNode>& drives = drivesOfThisRun();
        if (name.size() <= 8 && name.compare(0, 2, "sr") == 0) {
            for (const DriveNode& node : drives)
                if (node.name == name) return name;
            return {};
        }
        const char letter = linuxdrive::letterOfDeviceName(name);
        if (letter == 0) return {};
        const size_t index = static_cast<size_t>(letter - 'A');
        return index < drives.size() ? drives[index].name : std::string{};
    }

    uint32_t error_ = 0;
    std::mutex mutex_;
    std::map<std::string, int> kept_;           // "sr0:rw" -> descriptor
    std::map<std::string, uint32_t> alignment_; // "sr0" -> alignment mask
};

constexpr uint8_t kStatusFailedInit = 0xE4;

// Linux has no ASPI library.
class LinuxAspiLibrary final : public AspiLibrary {
public:
    AspiLoadResult load() override { return AspiLoadResult::Failed; }
    void unload() override {}
    uint32_t getSupportInfo() override { return 0; }
    uint32_t sendCommand(void* requestBlock) override
    {
        // Every request block starts with its command and status bytes.
        static_cast<uint8_t*>(requestBlock)[1] = kStatusFailedInit;
        return kStatusFailedInit;
    }
};

} // namespace

void installLinuxDriveAccess()
{
    static LinuxPassThroughAccess passThrough;
    static LinuxAspiLibrary aspi;
    installPassThroughAccess(&passThrough);
    installAspiLibrary(&aspi);
}
