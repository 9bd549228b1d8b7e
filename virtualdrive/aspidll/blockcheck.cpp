#include "virtualdrive/aspidll/blockcheck.h"

#include <windows.h>

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "transport/AspiRecords.h"
#include "transport/DriveRecords.h"
#include "virtualdrive/core/VirtualAspiHost.h"

// The library's own view of the blocks. The execute block holds two pointers,
// so its size and the places of the command block and sense area depend on
// the build: 80 bytes with CDBByte at 48 and SenseArea at 64 for 32-bit
// callers, 88 bytes with 56 and 72 for 64-bit ones. The header is the same in
// every block and both builds.
#ifdef _WIN64
static_assert(sizeof(CommandStatus) == 88);
static_assert(offsetof(CommandStatus, SRB_PostProc) == 28);
static_assert(offsetof(CommandStatus, CDBByte) == 56);
static_assert(offsetof(CommandStatus, SenseArea) == 72);
#else
static_assert(sizeof(CommandStatus) == 80);
static_assert(offsetof(CommandStatus, SRB_PostProc) == 24);
static_assert(offsetof(CommandStatus, CDBByte) == 48);
static_assert(offsetof(CommandStatus, SenseArea) == 64);
#endif
static_assert(offsetof(CommandStatus, SRB_BufLen) == 12);
static_assert(offsetof(CommandStatus, SRB_BufPointer) == 16);
static_assert(offsetof(CommandStatus, SRB_SenseLen) == sizeof(void*) + 16);
static_assert(offsetof(CommandStatus, SRB_Rsvd2) ==
              offsetof(CommandStatus, SRB_PostProc) + sizeof(void*));
static_assert(sizeof(SRB_HAInquiry) == 60 && offsetof(SRB_HAInquiry, HA_Unique) == 42);
static_assert(sizeof(SRB_GDEVBlock) == 12 && offsetof(SRB_GDEVBlock, SRB_DeviceType) == 10);
static_assert(offsetof(CommandStatus, SRB_Hdr_Rsvd) == 4 &&
              offsetof(SRB_HAInquiry, SRB_Hdr_Rsvd) == 4 &&
              offsetof(SRB_GDEVBlock, SRB_Hdr_Rsvd) == 4);

namespace {

constexpr uint8_t kSrbPosting = 0x01;
constexpr uint8_t kSrbResidualCount = 0x04;
constexpr uint8_t kKnownExecuteFlags =
    kSrbPosting | kSrbResidualCount | SRB_DIR_IN | SRB_DIR_OUT | SRB_EVENT_NOTIFY;
constexpr size_t kHeaderSize = 8;

// Whether [start, start + length) is committed memory the library may read
// (and write, with `write`).
bool accessible(const void* start, size_t length, bool write)
{
    auto at = reinterpret_cast<uintptr_t>(start);
    const uintptr_t end = at + length;
    if (end < at) return false;
    constexpr DWORD writable =
        PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    constexpr DWORD readable = writable | PAGE_READONLY | PAGE_EXECUTE_READ;
    while (at < end) {
        MEMORY_BASIC_INFORMATION info;
        if (VirtualQuery(reinterpret_cast<const void*>(at), &info, sizeof info) == 0) return false;
        if (info.State != MEM_COMMIT || (info.Protect & PAGE_GUARD) != 0) return false;
        if ((info.Protect & (write ? writable : readable)) == 0) return false;
        at = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
    }
    return true;
}

// The lengths a command block with this operation code can be sent with: the
// length of its group, or 12 for the padding of shorter blocks to ATAPI's
// size. Reserved and vendor-specific groups take any length from 6 to 16.
bool cdbLengthFits(uint8_t opcode, uint8_t length)
{
    switch (opcode >> 5) {
    case 0:
        return length == 6 || length == 12;
    case 1:
    case 2:
        return length == 10 || length == 12;
    case 4:
        return length == 16;
    case 5:
        return length == 12;
    default:
        return length >= 6 && length <= 16;
    }
}

__attribute__((format(printf, 1, 2))) std::string text(const char* pattern, ...)
{
    char line[200];
    va_list arguments;
    va_start(arguments, pattern);
    std::vsnprintf(line, sizeof line, pattern, arguments);
    va_end(arguments);
    return line;
}

std::string headerFault(const uint8_t* block, size_t size, const char* name)
{
    if (!accessible(block, size, true))
        return text("the %s block's first %u bytes are not all writable memory", name,
                    static_cast<unsigned>(size));
    uint32_t reserved;
    std::memcpy(&reserved, block + 4, sizeof reserved);
    if (reserved != 0)
        return text("SRB_Hdr_Rsvd is %08lX, not 0", static_cast<unsigned long>(reserved));
    if (block[0] != SC_EXEC_SCSI_CMD && block[3] != 0)
        return text("SRB_Flags is %02X, not 0", unsigned{block[3]});
    return {};
}

std::string executeFault(const CommandStatus& block)
{
    const unsigned flags = block.SRB_Flags;
    if (block.SRB_Rsvd1 != 0) return text("SRB_Rsvd1 is %04X, not 0", unsigned{block.SRB_Rsvd1});
    for (unsigned i = 0; i < sizeof block.SRB_Rsvd2; ++i)
        if (block.SRB_Rsvd2[i] != 0)
            return text("SRB_Rsvd2[%u] is %02X, not 0", i, unsigned{block.SRB_Rsvd2[i]});
    if ((flags & ~unsigned{kKnownExecuteFlags}) != 0)
        return text("SRB_Flags %02X has unknown bits", flags);
    if ((flags & kSrbPosting) != 0 && (flags & SRB_EVENT_NOTIFY) != 0)
        return text("SRB_Flags %02X asks for posting and an event at once", flags);
    if (!cdbLengthFits(block.CDBByte[0], block.SRB_CDBLen))
        return text("SRB_CDBLen %u does not fit operation code %02X at CDBByte (offset %u)",
                    unsigned{block.SRB_CDBLen}, unsigned{block.CDBByte[0]},
                    static_cast<unsigned>(offsetof(CommandStatus, CDBByte)));
    const size_t senseAt = offsetof(CommandStatus, SenseArea);
    if (!accessible(&block, senseAt + block.SRB_SenseLen, true))
        return text("the sense area of SRB_SenseLen %u bytes at offset %u is not writable memory",
                    unsigned{block.SRB_SenseLen}, static_cast<unsigned>(senseAt));
    if ((flags & SRB_EVENT_NOTIFY) != 0) {
        DWORD handleFlags = 0;
        if (block.SRB_PostProc == nullptr ||
            GetHandleInformation(static_cast<HANDLE>(block.SRB_PostProc), &handleFlags) == 0)
            return text("SRB_Flags %02X asks for an event, and SRB_PostProc is not a handle",
                        flags);
    }
    if (block.SRB_BufLen != 0) {
        const bool intoBuffer = (flags & (SRB_DIR_IN | SRB_DIR_OUT)) == SRB_DIR_IN;
        if (!accessible(block.SRB_BufPointer, block.SRB_BufLen, intoBuffer))
            return text("the data buffer of SRB_BufLen %lu bytes is not %s memory",
                        static_cast<unsigned long>(block.SRB_BufLen),
                        intoBuffer ? "writable" : "readable");
    }
    return {};
}

std::mutex logMutex;

} // namespace

std::string blockFault(const void* raw)
{
    const auto* block = static_cast<const uint8_t*>(raw);
    if (!accessible(block, kHeaderSize, true)) return "the block header is not writable memory";
    switch (block[0]) {
    case SC_HA_INQUIRY:
        return headerFault(block, sizeof(SRB_HAInquiry), "adapter inquiry");
    case SC_GET_DEV_TYPE:
        return headerFault(block, sizeof(SRB_GDEVBlock), "device type");
    case SC_EXEC_SCSI_CMD: {
        // The block up to its sense area; the sense area is checked with its length.
        std::string fault = headerFault(block, offsetof(CommandStatus, SenseArea), "execute");
        return fault.empty() ? executeFault(*static_cast<const CommandStatus*>(raw)) : fault;
    }
    default:
        return {}; // answered as an unknown command
    }
}

bool refuseFaultyBlock(void* raw)
{
    const std::string fault = blockFault(raw);
    if (fault.empty()) return false;
    auto* block = static_cast<uint8_t*>(raw);
    char line[400];
    if (accessible(block, kHeaderSize, false))
        std::snprintf(line, sizeof line, "refused request block (SRB_Cmd %u, SRB_HaId %u): %s\n",
                      unsigned{block[0]}, unsigned{block[2]}, fault.c_str());
    else
        std::snprintf(line, sizeof line, "refused request block: %s\n", fault.c_str());

    std::lock_guard lock(logMutex);
    std::fputs(line, stderr);
    std::fflush(stderr);
    char folder[1024];
    const DWORD n = GetEnvironmentVariableA("ORV_VIRTUAL_LOG", folder, sizeof folder);
    if (n != 0 && n < sizeof folder) {
        const std::string path = std::string(folder, n) + "\\errors.log";
        if (FILE* log = std::fopen(path.c_str(), "a")) {
            std::fputs(line, log);
            std::fclose(log);
        }
    }
    if (accessible(block, kHeaderSize, true)) publishSrbStatus(block[1], kSsInvalidSrb);
    return true;
}
