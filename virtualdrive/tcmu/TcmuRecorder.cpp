#include "virtualdrive/tcmu/TcmuRecorder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>

namespace {

// Writes all of `text`, going on after short writes.
bool writeAll(int fd, const void* data, size_t size)
{
    const auto* p = static_cast<const char*>(data);
    while (size != 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool writeAll(int fd, const std::string& text)
{
    return writeAll(fd, text.data(), text.size());
}

} // namespace

const char* tcmuSender(uint8_t opcode)
{
    switch (opcode) {
    case 0x00: // TEST UNIT READY
    case 0x12: // INQUIRY
        return "either";
    case 0x13: // the alternative INQUIRY
    case 0x1B: // START STOP UNIT
    case 0x3B: // WRITE BUFFER
    case 0x3C: // READ BUFFER
    case 0xF5: // PCB query
        return "updater";
    default:
        return "kernel";
    }
}

uint32_t crc32Of(const std::vector<uint8_t>& data)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (uint8_t byte : data) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

std::string tcmuLogLine(uint64_t microseconds, const VirtualCommandRecord& record)
{
    std::string line = std::to_string(microseconds) + " " + tcmuSender(record.cdb[0]) + " " +
                       virtualCommandLine(record);
    if (record.direction == VirtualDirection::Out) {
        char crc[24];
        std::snprintf(crc, sizeof crc, " | crc32 %08X", crc32Of(record.data));
        line += crc;
    }
    return line;
}

uint64_t tcmuMonotonicMicroseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return uint64_t(now.tv_sec) * 1000000u + uint64_t(now.tv_nsec) / 1000u;
}

TcmuRecorder::TcmuRecorder(std::string folder, const std::string& name) : folder_(std::move(folder))
{
    std::error_code ignored;
    std::filesystem::create_directories(folder_, ignored);
    log_ = ::open(path("commands.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC,
                  0644);
    if (log_ < 0) return;
    const uint64_t monotonic = tcmuMonotonicMicroseconds();
    timespec wall{};
    clock_gettime(CLOCK_REALTIME, &wall);
    tm utc{};
    gmtime_r(&wall.tv_sec, &utc);
    char header[160];
    std::snprintf(header, sizeof header,
                  "# started %04d-%02d-%02dT%02d:%02d:%02d.%06ldZ monotonic %llu us drive %s\n",
                  utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min,
                  utc.tm_sec, wall.tv_nsec / 1000, static_cast<unsigned long long>(monotonic),
                  name.c_str());
    writeAll(log_, header);
}

TcmuRecorder::~TcmuRecorder()
{
    if (log_ >= 0) ::close(log_);
}

void TcmuRecorder::errors(const std::vector<std::string>& lines)
{
    if (lines.empty()) return;
    std::string text;
    for (const auto& line : lines)
        text += line + "\n";
    writeFile("errors.log", std::vector<uint8_t>(text.begin(), text.end()));
}

void TcmuRecorder::commandDone(const VirtualDrive& drive)
{
    const uint64_t now = tcmuMonotonicMicroseconds();
    if (drive.commandCount() == logged_) {
        if (log_ >= 0) writeAll(log_, std::to_string(now) + " - not delivered\n");
        return;
    }
    logged_ = drive.commandCount();
    const auto record = drive.lastCommand();
    if (record && log_ >= 0) writeAll(log_, tcmuLogLine(now, *record) + "\n");

    bool changed = false;
    if (const uint32_t flashes = drive.flashCount(); flashes != flashes_) {
        flashes_ = flashes;
        const auto image = drive.flashedImage();
        writeFile("flash-" + std::to_string(flashes) + ".bin", image);
        writeFile("flash.bin", image);
        changed = true;
    }
    if (const uint32_t commits = drive.epsCommitCount(); commits != commits_) {
        commits_ = commits;
        writeFile("eps.bin", drive.epsCommitted());
        changed = true;
    }
    if (drive.ejectCount() != ejects_ || drive.trayOpen() != trayOpen_) {
        ejects_ = drive.ejectCount();
        trayOpen_ = drive.trayOpen();
        changed = true;
    }
    if (changed) writeState(drive);
}

void TcmuRecorder::finish(const VirtualDrive& drive)
{
    writeState(drive);
}

void TcmuRecorder::writeState(const VirtualDrive& drive) const
{
    const std::string text = "ejects=" + std::to_string(drive.ejectCount()) +
                             "\ntray=" + (drive.trayOpen() ? "open" : "closed") +
                             "\nflashes=" + std::to_string(drive.flashCount()) +
                             "\neps-commits=" + std::to_string(drive.epsCommitCount()) +
                             "\neps-version=" + drive.reportedEpsVersion() +
                             "\ncommands=" + std::to_string(drive.commandCount()) + "\n";
    writeFile("state.txt", std::vector<uint8_t>(text.begin(), text.end()));
}

// Writes a file whole under a temporary name and renames it into place, so a
// reader sees the old file or the new one, never a part.
void TcmuRecorder::writeFile(const std::string& name, const std::vector<uint8_t>& bytes) const
{
    const std::string temporary = path("." + name + ".part");
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return;
    const bool written = writeAll(fd, bytes.data(), bytes.size());
    ::close(fd);
    if (written) std::rename(temporary.c_str(), path(name).c_str());
}
