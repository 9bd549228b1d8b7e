// A scripted drive below both transports for the update tests: it answers
// through the pass-through and the ASPI seams, keeps a log of every command
// that reached it, and fails chosen commands with chosen results.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "package/UpdatePackage.h"
#include "platform/DriveAccess.h"
#include "platform/scripted/ScriptedSystem.h"
#include "transport/AlignedBuffer.h"
#include "transport/AspiRecords.h"
#include "transport/AspiTransport.h"
#include "transport/DriveRecords.h"
#include "update/ProgressMonitor.h"
#include "update/UpdateState.h"

namespace updatetest {

enum class Via { PassThrough, Aspi };

struct Sense {
    uint8_t key = 0;
    uint8_t asc = 0;
    uint8_t ascq = 0;
    bool any() const { return key != 0 || asc != 0 || ascq != 0; }
};

// How one command fails.
struct Fault {
    enum Kind { None, Target, System, Setup, Memory, Srb, Adapter } kind = None;
    Sense sense;             // Target, and Srb with SS_ERR
    uint8_t srbStatus = 0;   // Srb
    uint8_t haStat = 0;      // Adapter
    uint32_t win32Error = 0; // System
};

inline Fault targetFault(Sense sense)
{
    Fault f;
    f.kind = Fault::Target;
    f.sense = sense;
    return f;
}
inline Fault systemFault(uint32_t win32Error)
{
    Fault f;
    f.kind = Fault::System;
    f.win32Error = win32Error;
    return f;
}
inline Fault setupFault()
{
    Fault f;
    f.kind = Fault::Setup;
    return f;
}
inline Fault memoryFault()
{
    Fault f;
    f.kind = Fault::Memory;
    return f;
}
inline Fault srbFault(uint8_t status, Sense sense = {})
{
    Fault f;
    f.kind = Fault::Srb;
    f.srbStatus = status;
    f.sense = sense;
    return f;
}
inline Fault adapterFault(uint8_t haStat)
{
    Fault f;
    f.kind = Fault::Adapter;
    f.haStat = haStat;
    return f;
}

// Names parameterised cases by their `name` member.
struct CaseName {
    template <typename P> std::string operator()(const ::testing::TestParamInfo<P>& p) const
    {
        return p.param.name;
    }
};

struct SentCommand {
    int index = 0; // position among all commands begun
    std::array<uint8_t, 12> cdb{};
    uint32_t length = 0;
    bool failed = false;
    uint32_t transferCount = 0; // updateState.transferCount when it arrived
    bool imageMatches = true;   // for chunks: the data equal the image there

    uint8_t opcode() const { return cdb[0]; }
    uint8_t mode() const { return cdb[1]; }
    uint8_t bufferId() const { return cdb[2]; }
    uint32_t offset() const { return uint32_t{cdb[3]} << 16 | uint32_t{cdb[4]} << 8 | cdb[5]; }
    bool isChunk() const
    {
        return opcode() == 0x3B && bufferId() == 0 && (mode() == 4 || mode() == 5);
    }
    bool isTestUnitReady() const { return opcode() == 0x00; }
};

// The scripted system with a hook on event creation, where every ASPI
// command begins.
class HookedSystem : public ScriptedSystem {
public:
    Handle createEvent() override
    {
        if (onCreateEvent && !onCreateEvent()) return nullptr;
        return ScriptedSystem::createEvent();
    }
    std::function<bool()> onCreateEvent;
};

class FakeDrive : public PassThroughAccess, public AspiLibrary {
public:
    explicit FakeDrive(HookedSystem& system) : system_(system)
    {
        system_.onCreateEvent = [this] { return beginAspiCommand(); };
        active_ = this;
        setAlignedAllocator(&FakeDrive::allocate, nullptr);
    }
    ~FakeDrive() override
    {
        setAlignedAllocator(nullptr, nullptr);
        active_ = nullptr;
        system_.onCreateEvent = nullptr;
    }

    // --- script ---
    std::map<int, Fault> faults;        // by command index, counted from 0
    std::vector<Sense> turSense;        // by TEST UNIT READY index; missing = ready
    std::vector<uint32_t> saveLatency;  // ms the clock moves during each mode-5 chunk
    std::string epsVersion = "EPS0001"; // 7 bytes, before the commit
    std::string epsVersionAfterCommit = "EPS0002";
    std::vector<unsigned> corruptReadBack; // bytes flipped in each EPS read-back pass

    // --- records ---
    std::vector<SentCommand> log;
    int commandsBegun = 0;
    int openHandles = 0;
    int aspiLoads = 0;

    std::vector<SentCommand> chunks() const
    {
        std::vector<SentCommand> out;
        for (const SentCommand& c : log)
            if (c.isChunk()) out.push_back(c);
        return out;
    }
    int countOf(uint8_t opcode, uint8_t bufferId) const
    {
        int n = 0;
        for (const SentCommand& c : log)
            if (c.opcode() == opcode &&
                (opcode == 0x00 || opcode == 0x1B || c.bufferId() == bufferId))
                ++n;
        return n;
    }

    // --- PassThroughAccess ---
    unsigned driveType(const std::string&) override { return DRIVE_CDROM_; }
    std::string driveRootText(char letter) override { return std::string(1, letter) + ":\\"; }
    Handle openDevice(const std::string&, bool readWrite) override
    {
        if (readWrite) beginCommand();
        if (current_.kind == Fault::Setup) return nullptr;
        ++openHandles;
        return &handle_;
    }
    bool getCapabilities(Handle, ScsiCapabilities& answer) override
    {
        answer.alignmentMask = 0;
        return true;
    }
    bool passThroughDirect(Handle, PassThroughRequest& request) override
    {
        Answer answer =
            run(request.cdb, static_cast<uint8_t*>(request.dataBuffer), request.dataTransferLength);
        std::memset(request.sense, 0, sizeof request.sense);
        request.scsiStatus = 0;
        if (current_.kind == Fault::System) {
            lastError_ = current_.win32Error;
            return false;
        }
        if (answer.sense.any()) {
            request.scsiStatus = 2;
            fillSense(request.sense, answer.sense);
        }
        return true;
    }
    uint32_t lastError() override { return lastError_; }
    void closeDevice(Handle) override { --openHandles; }

    // --- AspiLibrary ---
    AspiLoadResult load() override
    {
        ++aspiLoads;
        return AspiLoadResult::Loaded;
    }
    void unload() override {}
    uint32_t getSupportInfo() override { return 0x0101; }
    uint32_t sendCommand(void* requestBlock) override
    {
        auto* block = static_cast<CommandStatus*>(requestBlock);
        if (block->SRB_Cmd != SC_EXEC_SCSI_CMD) {
            block->SRB_Status = SS_COMP;
            return SS_COMP;
        }
        Answer answer = run(block->CDBByte, block->SRB_BufPointer, block->SRB_BufLen);
        std::memset(block->SenseArea, 0, sizeof block->SenseArea);
        block->SRB_Status = SS_COMP;
        if (current_.kind == Fault::Srb) {
            block->SRB_Status = current_.srbStatus;
            fillSense(block->SenseArea, current_.sense);
        } else if (current_.kind == Fault::Adapter) {
            block->SRB_Status = SS_ERR;
            block->SRB_HaStat = current_.haStat;
        } else if (answer.sense.any()) {
            block->SRB_Status = SS_ERR;
            block->SRB_TargStat = 2;
            fillSense(block->SenseArea, answer.sense);
        }
        return block->SRB_Status;
    }

private:
    struct Answer {
        Sense sense;
    };

    static void fillSense(uint8_t* area, const Sense& sense)
    {
        area[0] = 0x70;
        area[2] = sense.key;
        area[7] = 10;
        area[12] = sense.asc;
        area[13] = sense.ascq;
    }

    void beginCommand()
    {
        const auto found = faults.find(commandsBegun);
        current_ = found == faults.end() ? Fault{} : found->second;
        ++commandsBegun;
    }

    bool beginAspiCommand()
    {
        beginCommand();
        return current_.kind != Fault::Setup;
    }

    // The transports' data-out copies come from here: a memory fault makes
    // the copy of its command fail.
    static void* allocate(size_t bytes)
    {
        if (active_ != nullptr && active_->current_.kind == Fault::Memory) return nullptr;
        return std::malloc(bytes);
    }
    static inline FakeDrive* active_ = nullptr;

    Answer run(const uint8_t* cdb, uint8_t* data, uint32_t length)
    {
        SentCommand sent;
        sent.index = commandsBegun - 1;
        std::memcpy(sent.cdb.data(), cdb, sent.cdb.size());
        sent.length = length;
        sent.transferCount = updateState.transferCount.load();

        // Setup and memory faults end the command before it reaches the drive.
        const bool failing = current_.kind == Fault::Target || current_.kind == Fault::System ||
                             current_.kind == Fault::Srb || current_.kind == Fault::Adapter;
        sent.failed = failing;
        Answer answer;
        if (current_.kind == Fault::Target) answer.sense = current_.sense;

        switch (sent.opcode()) {
        case 0x00: {
            const size_t n = turCount_++;
            if (!failing && n < turSense.size()) answer.sense = turSense[n];
            sent.failed = answer.sense.any() || failing;
            break;
        }
        case 0x3B:
            if (sent.isChunk()) {
                sent.imageMatches =
                    package.firmwareImage != nullptr &&
                    uint64_t{sent.offset()} + length <= package.firmwareFileSize &&
                    std::memcmp(data, package.firmwareImage + sent.offset(), length) == 0;
                if (sent.mode() == 5) {
                    const size_t n = saves_++;
                    if (n < saveLatency.size()) system_.advanceClock(saveLatency[n]);
                }
            } else if (!failing && sent.bufferId() == 0x81) {
                epsBuffer_.assign(data, data + length);
            } else if (!failing && sent.bufferId() == 0x82) {
                committed_ = true;
            }
            break;
        case 0x3C:
            if (failing) break;
            if (sent.bufferId() == 0x84) {
                const std::string& v = committed_ ? epsVersionAfterCommit : epsVersion;
                std::memset(data, 0, length);
                std::memcpy(data, v.data(), std::min<size_t>(v.size(), length));
            } else if (sent.bufferId() == 0x81) {
                std::memset(data, 0, length);
                std::memcpy(data, epsBuffer_.data(), std::min<size_t>(epsBuffer_.size(), length));
                const size_t pass = readBacks_++;
                const unsigned flips = pass < corruptReadBack.size() ? corruptReadBack[pass] : 0;
                for (unsigned i = 0; i < flips && i < length; ++i)
                    data[i * 7 % length] ^= 0x5A;
            }
            break;
        default:
            if (data != nullptr) std::memset(data, 0, length);
            break;
        }
        log.push_back(sent);
        return answer;
    }

    HookedSystem& system_;
    int handle_ = 0;
    Fault current_;
    uint32_t lastError_ = 0;
    size_t turCount_ = 0;
    size_t saves_ = 0;
    size_t readBacks_ = 0;
    bool committed_ = false;
    std::vector<uint8_t> epsBuffer_;
};

// Starts the worker on a thread the test joins, so a run ends with the
// worker gone; counts the starts.
class JoinedStarter {
public:
    JoinedStarter()
    {
        self_ = this;
        workerThreadStart = &JoinedStarter::start;
    }
    ~JoinedStarter()
    {
        join();
        workerThreadStart = beginThread;
        self_ = nullptr;
    }
    void join()
    {
        for (std::thread& t : threads_)
            if (t.joinable()) t.join();
    }
    // When set, the thread runs this instead of the entry it was given.
    unsigned (*replacement)(void*) = nullptr;
    bool refuse = false;
    int starts = 0;

private:
    static CWinThread* start(unsigned (*entry)(void*), void* parameter)
    {
        JoinedStarter& me = *self_;
        ++me.starts;
        if (me.refuse) return nullptr;
        unsigned (*run)(void*) = me.replacement != nullptr ? me.replacement : entry;
        me.threads_.emplace_back([run, parameter] { run(parameter); });
        return &me.token_;
    }
    static inline JoinedStarter* self_ = nullptr;
    std::vector<std::thread> threads_;
    CWinThread token_;
};

// A package of `size` bytes in chunks of `chunk` bytes, with a patterned
// image, no EPS image and quick defaults for the rest.
class PackageFixture {
public:
    PackageFixture(uint32_t size, uint32_t chunk) { set(size, chunk); }
    ~PackageFixture() { clear(); }
    void set(uint32_t size, uint32_t chunk)
    {
        clear();
        std::memset(&package, 0, sizeof package);
        image_.resize(size);
        for (uint32_t i = 0; i < size; ++i)
            image_[i] = static_cast<uint8_t>(i * 31 + (i >> 9));
        package.firmwareFileSize = size;
        package.bufferSize = chunk;
        package.firmwareImage = image_.data();
        package.options.updateWaitTime = 15;
        package.options.noRestart = 1;
    }
    void withEps(uint32_t size, const char* version)
    {
        eps_.resize(size);
        for (uint32_t i = 0; i < size; ++i)
            eps_[i] = static_cast<uint8_t>(i * 13 + 7);
        package.epsImage = eps_.data();
        package.epsFileSize = size;
        std::snprintf(package.epsFileName, sizeof package.epsFileName, "%s", "EPS.BIN");
        std::snprintf(package.epsVersion, sizeof package.epsVersion, "%s", version);
    }
    void clear()
    {
        package.firmwareImage = nullptr;
        package.epsImage = nullptr;
    }

private:
    std::vector<uint8_t> image_;
    std::vector<uint8_t> eps_;
};

// One drive in the table, reached through the transport chosen.
inline void installDrive(Via via, FakeDrive& drive)
{
    resetDriveTable();
    DriveEntry& entry = driveEntries[0];
    entry.target = 1;
    if (via == Via::PassThrough) std::strcpy(entry.driveLetter, "E");
    std::strcpy(entry.displayText, "E: TEST DRIVE 1.00");
    std::strcpy(entry.revision, "1.00");
    driveCount = 1;
    selectedDrive = 0;
    usePassThrough = via == Via::PassThrough ? 1 : 0;
    lastStatus = nullptr;
    installPassThroughAccess(&drive);
    installAspiLibrary(&drive);
    if (via == Via::Aspi) loadAspi();
}

inline void resetUpdateState()
{
    updateState.transferCount.store(0);
    updateState.phase.store(PhaseFailed);
    updateState.errorText.clear();
}

} // namespace updatetest
