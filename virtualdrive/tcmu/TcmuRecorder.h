// What the handler writes to its results folder while it serves the drive,
// in the names and line format of the ASPI library's log folder:
//
//   commands.log  a first line "# started ..." with the wall clock and the
//                 monotonic clock, then one line per command:
//                 "MICROSECONDS SENDER BLOCK | DIRECTION LENGTH | ANSWER"
//                 and, for data-out, " | crc32 XXXXXXXX" of the data
//   flash.bin     the image of the last flash; flash-N.bin the N-th
//   eps.bin       the EPS buffer as last committed (data from 0x3400 on)
//   state.txt     ejects=, tray=, flashes=, eps-commits=, eps-version=, commands=
//   errors.log    lines of the description file that were not understood
//
// Every line and file is written through to the folder when it is made: the
// folder may be read while the handler runs, and the machine it runs in may
// stop at any moment.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "virtualdrive/core/VirtualDrive.h"

// Who sent a command, as far as its opcode tells: "updater" for the opcodes
// only the updater sends, "kernel" for those only the kernel sends, "either"
// for INQUIRY and TEST UNIT READY.
const char* tcmuSender(uint8_t opcode);
uint32_t crc32Of(const std::vector<uint8_t>& data);
// One line of commands.log, without its line end.
std::string tcmuLogLine(uint64_t microseconds, const VirtualCommandRecord& record);

class TcmuRecorder {
public:
    // Makes the folder if needed and starts commands.log afresh.
    TcmuRecorder(std::string folder, const std::string& name);
    ~TcmuRecorder();
    TcmuRecorder(const TcmuRecorder&) = delete;
    TcmuRecorder& operator=(const TcmuRecorder&) = delete;

    bool ok() const { return log_ >= 0; }
    void errors(const std::vector<std::string>& lines);
    // Logs the drive's last command and writes what changed with it; a
    // command that never reached the drive is logged as "not delivered".
    void commandDone(const VirtualDrive& drive);
    // Writes the state file with the final command count.
    void finish(const VirtualDrive& drive);

private:
    void writeFile(const std::string& name, const std::vector<uint8_t>& bytes) const;
    void writeState(const VirtualDrive& drive) const;
    std::string path(const std::string& name) const { return folder_ + "/" + name; }

    std::string folder_;
    int log_ = -1;
    size_t logged_ = 0;
    uint32_t flashes_ = 0;
    uint32_t commits_ = 0;
    uint32_t ejects_ = 0;
    bool trayOpen_ = false;
};

// Microseconds on the monotonic clock.
uint64_t tcmuMonotonicMicroseconds();
