// The virtual drives built as an ASPI for Win32 library, for running the real
// Windows program against them (under Wine or on Windows). The drives come
// from the file named by ORV_VIRTUAL_DRIVES, else VDRIVES.TXT beside this
// library. When ORV_VIRTUAL_LOG names a folder, the library writes there what
// it received: commands.log (one line per command), flash-A-T.bin (the image
// the drive at adapter A, target T last flashed) and flash-A-T-N.bin (its
// N-th flash), eps-A-T.bin (its EPS buffer as last committed), state-A-T.txt
// (tray, flash and commit counts, EPS version) and errors.log (lines of the
// description file that were not understood).
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "virtualdrive/aspidll/blockcheck.h"
#include "virtualdrive/core/VirtualAspiHost.h"
#include "virtualdrive/core/VirtualBus.h"

namespace {

HMODULE thisModule = nullptr;

std::string environment(const char* name)
{
    char value[1024];
    const DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    if (n == 0 || n >= sizeof value) return {};
    return std::string(value, n);
}

std::string besideThisLibrary(const char* fileName)
{
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(thisModule, path, sizeof path);
    if (n == 0 || n >= sizeof path) return fileName;
    std::string folder(path, n);
    const size_t slash = folder.find_last_of("\\/");
    folder.resize(slash == std::string::npos ? 0 : slash + 1);
    return folder + fileName;
}

class Library {
public:
    Library() : host_(bus_)
    {
        logFolder_ = environment("ORV_VIRTUAL_LOG");
        if (!logFolder_.empty()) CreateDirectoryA(logFolder_.c_str(), nullptr);
        std::string description = environment("ORV_VIRTUAL_DRIVES");
        if (description.empty()) description = besideThisLibrary("VDRIVES.TXT");
        const auto errors = loadVirtualDrives(description, bus_);
        if (!errors.empty()) {
            std::ofstream out(logPath("errors.log"), std::ios::app);
            for (const auto& e : errors)
                out << description << ": " << e << "\n";
        }
        bus_.setLatencySink([](uint32_t ms) { Sleep(ms); });
    }

    VirtualAspiHost& host() { return host_; }

    // Writes what the drive of an execute block has received; `status` is the
    // block's outcome. Called before the status is published: once it is, the
    // caller may reuse the block and send the drive its next command.
    void record(const CommandStatus& block, uint8_t status)
    {
        if (logFolder_.empty()) return;
        std::lock_guard lock(mutex_);
        VirtualDrive* drive = bus_.driveAt(block.SRB_HaId, block.SRB_Target);
        char address[16];
        std::snprintf(address, sizeof address, "%u-%u", unsigned{block.SRB_HaId},
                      unsigned{block.SRB_Target});
        {
            std::ofstream log(logPath("commands.log"), std::ios::app);
            log << unsigned{block.SRB_HaId} << ":" << unsigned{block.SRB_Target} << " ";
            const auto last = drive != nullptr ? drive->lastCommand() : std::nullopt;
            if (drive != nullptr && last && drive->commandCount() != counted_[drive]) {
                counted_[drive] = drive->commandCount();
                log << virtualCommandLine(*last) << "\n";
            } else {
                char refused[48];
                std::snprintf(refused, sizeof refused, "not delivered | srb %02X\n",
                              unsigned{status});
                log << refused;
            }
        }
        if (drive == nullptr) return;
        const uint32_t flashes = drive->flashCount();
        if (flashes != flashesWritten_[drive]) {
            flashesWritten_[drive] = flashes;
            const auto image = drive->flashedImage();
            writeFile("flash-" + std::string(address) + ".bin", image);
            writeFile("flash-" + std::string(address) + "-" + std::to_string(flashes) + ".bin",
                      image);
        }
        const uint32_t commits = drive->epsCommitCount();
        if (commits != commitsWritten_[drive]) {
            commitsWritten_[drive] = commits;
            writeFile("eps-" + std::string(address) + ".bin", drive->epsCommitted());
        }
        std::ofstream state(logPath("state-" + std::string(address) + ".txt"), std::ios::trunc);
        state << "ejects=" << drive->ejectCount()
              << "\ntray=" << (drive->trayOpen() ? "open" : "closed") << "\nflashes=" << flashes
              << "\neps-commits=" << commits << "\neps-version=" << drive->reportedEpsVersion()
              << "\ncommands=" << drive->commandCount() << "\n";
    }

private:
    std::string logPath(const std::string& name) const { return logFolder_ + "\\" + name; }

    void writeFile(const std::string& name, const std::vector<uint8_t>& bytes)
    {
        std::ofstream out(logPath(name), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }

    VirtualBus bus_;
    VirtualAspiHost host_;
    std::string logFolder_;
    std::mutex mutex_;
    std::map<VirtualDrive*, size_t> counted_;
    std::map<VirtualDrive*, uint32_t> flashesWritten_;
    std::map<VirtualDrive*, uint32_t> commitsWritten_;
};

// Made on first use and kept until the process ends: a completion thread may
// still be running when the library is released.
Library& library()
{
    static Library* instance = new Library;
    return *instance;
}

DWORD WINAPI completeLater(LPVOID parameter)
{
    auto* block = static_cast<CommandStatus*>(parameter);
    Library& lib = library();
    const uint32_t delay = lib.host().completionDelay(*block);
    if (delay != 0) Sleep(delay);
    // The event is taken, and the outcome recorded, while the block is still
    // ours: publishing the status hands it back to the caller.
    const HANDLE event = static_cast<HANDLE>(block->SRB_PostProc);
    uint8_t status = 0;
    const bool notify = lib.host().fill(*block, status);
    lib.record(*block, status);
    publishSrbStatus(block->SRB_Status, status);
    if (notify) SetEvent(event);
    return 0;
}

} // namespace

extern "C" {

DWORD __cdecl GetASPI32SupportInfo(void)
{
    return library().host().supportInfo();
}

DWORD __cdecl SendASPI32Command(void* block)
{
    if (block == nullptr || refuseFaultyBlock(block)) return kSsInvalidSrb;
    Library& lib = library();
    uint32_t answer = 0;
    if (lib.host().accept(block, answer) == VirtualAspiStep::CompleteLater) {
        const HANDLE thread = CreateThread(nullptr, 0, completeLater, block, 0, nullptr);
        if (thread != nullptr) {
            CloseHandle(thread);
        } else {
            completeLater(block);
            answer = static_cast<CommandStatus*>(block)->SRB_Status;
        }
    } else if (static_cast<const uint8_t*>(block)[0] == SC_EXEC_SCSI_CMD) {
        auto& done = *static_cast<CommandStatus*>(block);
        lib.record(done, readSrbStatus(done.SRB_Status));
    }
    return answer;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        thisModule = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

} // extern "C"
