// A small Windows program that loads WNASPI32.DLL and talks to it the way the
// updater does: support query, adapter inquiry, device types, INQUIRY and, when
// given a file, a firmware download (WRITE BUFFER mode 4 chunks, mode 5 last)
// of that file. Used to check the virtual drive library under Wine:
//   x86_64-w64-mingw32-g++-posix -std=c++20 -static -I. tests/e2e/aspi_probe.cpp -o probe.exe
//   ORV_VIRTUAL_DRIVES='Z:\path\drives.txt' ORV_VIRTUAL_LOG='Z:\tmp\log' wine probe.exe [image]
// It prints one line per step and ends with exit code 0 when every step did.
//
// With --faulty it sends request blocks to the drive at 0:1 instead, sound
// ones that must be served and faulty ones (other layouts, reserved fields
// set, lengths that do not fit, memory that is not there) that the library
// must refuse with SS_INVALID_SRB, and ends with "N served, M refused".
#include <windows.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <vector>

#include "transport/AspiRecords.h"
#include "transport/DriveRecords.h"
#include "virtualdrive/core/VirtualAspiHost.h"

using SupportInfo = DWORD(__cdecl*)(void);
using SendCommand = DWORD(__cdecl*)(void*);

namespace {

SendCommand sendCommand = nullptr;

// Sends one execute block and waits for its event when it is left pending.
int execute(uint8_t adapter, uint8_t target, const uint8_t* cdb, uint8_t cdbLength, uint8_t* data,
            uint32_t length, uint8_t direction, CommandStatus& block)
{
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    std::memset(&block, 0, sizeof block);
    block.SRB_Cmd = SC_EXEC_SCSI_CMD;
    block.SRB_HaId = adapter;
    block.SRB_Flags = static_cast<uint8_t>(direction | SRB_EVENT_NOTIFY);
    block.SRB_Target = target;
    block.SRB_BufLen = length;
    block.SRB_BufPointer = data;
    block.SRB_SenseLen = 14;
    block.SRB_CDBLen = cdbLength;
    block.SRB_PostProc = event;
    std::memcpy(block.CDBByte, cdb, cdbLength);
    sendCommand(&block);
    bool waited = false;
    if (reinterpret_cast<volatile uint8_t&>(block.SRB_Status) == SS_PENDING) {
        WaitForSingleObject(event, INFINITE);
        waited = true;
    }
    CloseHandle(event);
    std::printf("  cdb %02X: status %02X ha %02X targ %02X sense %02X-%02X-%02X%s\n", cdb[0],
                block.SRB_Status, block.SRB_HaStat, block.SRB_TargStat, block.SenseArea[2],
                block.SenseArea[12], block.SenseArea[13], waited ? " (waited)" : "");
    return block.SRB_Status == SS_COMP ? 0 : 1;
}

// Where a caller's layout puts the execute block's fields.
struct Layout {
    size_t bufPointer, pointerSize, senseLen, cdbLen, postProc, cdb, size;
};

// The same fields without 1-byte packing: in a 32-bit build the same places
// as the published layout, in a 64-bit build the pointers move.
struct NaturalExecute {
    uint8_t cmd, status, haId, flags;
    uint32_t hdrRsvd;
    uint8_t target, lun;
    uint16_t rsvd1;
    uint32_t bufLen;
    uint8_t* bufPointer;
    uint8_t senseLen, cdbLen, haStat, targStat;
    void* postProc;
    uint8_t rsvd2[20], cdb[16], sense[16];
};

constexpr Layout kPacked32{16, 4, 20, 21, 24, 48, 80};
constexpr Layout kPacked64{16, 8, 24, 25, 28, 56, 88};
constexpr Layout kNatural{offsetof(NaturalExecute, bufPointer),
                          sizeof(void*),
                          offsetof(NaturalExecute, senseLen),
                          offsetof(NaturalExecute, cdbLen),
                          offsetof(NaturalExecute, postProc),
                          offsetof(NaturalExecute, cdb),
                          sizeof(NaturalExecute)};
constexpr bool kWide = sizeof(void*) == 8;
constexpr Layout kOwn = kWide ? kPacked64 : kPacked32;
constexpr Layout kOther = kWide ? kPacked32 : kPacked64;
static_assert(offsetof(CommandStatus, CDBByte) == kOwn.cdb && sizeof(CommandStatus) == kOwn.size);

// Memory for the blocks: a read-write page followed by memory that is only
// reserved, so a block placed at the page's end has nothing readable behind
// it; and a read-only page.
struct Lab {
    uint8_t* page = nullptr;
    size_t pageSize = 0;
    uint8_t* readOnly = nullptr;
    HANDLE event = nullptr;
    uint8_t data[64] = {};

    uint8_t* end(size_t size) const { return page + pageSize - size; }
};

constexpr uint8_t kInquiry[6] = {0x12, 0, 0, 0, 36, 0};

// An INQUIRY for the drive at 0:1 in the given layout, ending where the
// page ends.
uint8_t* inquiryIn(Lab& lab, const Layout& layout)
{
    uint8_t* block = lab.end(layout.size);
    block[0] = SC_EXEC_SCSI_CMD;
    block[3] = SRB_DIR_IN | SRB_EVENT_NOTIFY;
    block[8] = 1;
    const uint32_t length = 36;
    std::memcpy(block + 12, &length, sizeof length);
    // Little-endian: a 4-byte field takes the low half.
    const uint64_t data = reinterpret_cast<uintptr_t>(lab.data);
    const uint64_t event = reinterpret_cast<uintptr_t>(lab.event);
    std::memcpy(block + layout.bufPointer, &data, layout.pointerSize);
    block[layout.senseLen] = 14;
    block[layout.cdbLen] = 6;
    std::memcpy(block + layout.postProc, &event, layout.pointerSize);
    std::memcpy(block + layout.cdb, kInquiry, sizeof kInquiry);
    return block;
}

CommandStatus& inquiry(Lab& lab)
{
    return *reinterpret_cast<CommandStatus*>(inquiryIn(lab, kOwn));
}

template <typename Block> Block& query(Lab& lab, uint8_t command, size_t room = sizeof(Block))
{
    auto& block = *reinterpret_cast<Block*>(lab.end(room));
    block.SRB_Cmd = command;
    return block;
}

// A row sends a sound INQUIRY with `change` applied, or the block `build`
// makes.
struct Row {
    const char* what;
    bool refused;
    void (*change)(CommandStatus&, const Lab&);
    uint8_t* (*build)(Lab&) = nullptr;
};

template <typename T> uint8_t* bytes(T& block)
{
    return reinterpret_cast<uint8_t*>(&block);
}

const Row kRows[] = {
    {"sound execute block", false, [](CommandStatus&, const Lab&) {}},
    {"command block padded to 12 bytes", false,
     [](CommandStatus& b, const Lab&) { b.SRB_CDBLen = 12; }},
    {"sound adapter inquiry", false, nullptr,
     [](Lab& l) { return bytes(query<SRB_HAInquiry>(l, SC_HA_INQUIRY)); }},
    {"sound device type query", false, nullptr,
     [](Lab& l) {
         auto& block = query<SRB_GDEVBlock>(l, SC_GET_DEV_TYPE);
         block.SRB_Target = 1;
         return bytes(block);
     }},
    {"fields without 1-byte packing", kWide, nullptr,
     [](Lab& l) { return inquiryIn(l, kNatural); }},
    {"the other word size's layout", true, nullptr, [](Lab& l) { return inquiryIn(l, kOther); }},
    {"SRB_Hdr_Rsvd set", true, [](CommandStatus& b, const Lab&) { b.SRB_Hdr_Rsvd = 1; }},
    {"SRB_Rsvd1 set", true, [](CommandStatus& b, const Lab&) { b.SRB_Rsvd1 = 0x100; }},
    {"SRB_Rsvd2 set", true, [](CommandStatus& b, const Lab&) { b.SRB_Rsvd2[19] = 0x12; }},
    {"unknown flag 0x20", true, [](CommandStatus& b, const Lab&) { b.SRB_Flags |= 0x20; }},
    {"posting and event at once", true, [](CommandStatus& b, const Lab&) { b.SRB_Flags |= 0x01; }},
    {"10-byte length for a 6-byte command", true,
     [](CommandStatus& b, const Lab&) { b.SRB_CDBLen = 10; }},
    {"6-byte length for a 10-byte command", true,
     [](CommandStatus& b, const Lab&) { b.CDBByte[0] = 0x3C; }},
    {"sense area past the block's memory", true,
     [](CommandStatus& b, const Lab&) { b.SRB_SenseLen = 32; }},
    {"execute block of 60 bytes", true, nullptr,
     [](Lab& l) {
         uint8_t* sound = bytes(inquiry(l));
         std::memmove(l.end(60), sound, 60);
         return l.end(60);
     }},
    {"event that is no handle", true,
     [](CommandStatus& b, const Lab&) {
         b.SRB_PostProc = reinterpret_cast<void*>(uintptr_t{0x0BADF00C});
     }},
    {"data buffer in memory that is not there", true,
     [](CommandStatus& b, const Lab& l) { b.SRB_BufPointer = l.page + l.pageSize; }},
    {"read-only buffer for data in", true,
     [](CommandStatus& b, const Lab& l) { b.SRB_BufPointer = l.readOnly; }},
    {"adapter inquiry with flags", true, nullptr,
     [](Lab& l) {
         auto& block = query<SRB_HAInquiry>(l, SC_HA_INQUIRY);
         block.SRB_Flags = SRB_DIR_IN;
         return bytes(block);
     }},
    {"adapter inquiry of 12 bytes", true, nullptr,
     [](Lab& l) { return bytes(query<SRB_HAInquiry>(l, SC_HA_INQUIRY, 12)); }},
    {"device type query with SRB_Hdr_Rsvd set", true, nullptr,
     [](Lab& l) {
         auto& block = query<SRB_GDEVBlock>(l, SC_GET_DEV_TYPE);
         block.SRB_Target = 1;
         block.SRB_Hdr_Rsvd = 0xAA55;
         return bytes(block);
     }},
};

// Sends every row; answers the number of rows that went otherwise than
// expected.
int checkRefusals()
{
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    Lab lab;
    lab.pageSize = system.dwPageSize;
    lab.page =
        static_cast<uint8_t*>(VirtualAlloc(nullptr, 2 * lab.pageSize, MEM_RESERVE, PAGE_NOACCESS));
    lab.readOnly = static_cast<uint8_t*>(
        VirtualAlloc(nullptr, lab.pageSize, MEM_COMMIT | MEM_RESERVE, PAGE_READONLY));
    lab.event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (lab.page == nullptr || lab.readOnly == nullptr || lab.event == nullptr ||
        VirtualAlloc(lab.page, lab.pageSize, MEM_COMMIT, PAGE_READWRITE) == nullptr) {
        std::printf("no memory for the blocks\n");
        return 1;
    }
    int wrong = 0;
    unsigned served = 0, refused = 0;
    for (const Row& row : kRows) {
        std::memset(lab.page, 0, lab.pageSize);
        uint8_t* block;
        if (row.build != nullptr) {
            block = row.build(lab);
        } else {
            CommandStatus& sound = inquiry(lab);
            row.change(sound, lab);
            block = bytes(sound);
        }
        const DWORD answer = sendCommand(block);
        auto& status = reinterpret_cast<volatile uint8_t&>(block[1]);
        if (status == SS_PENDING) WaitForSingleObject(lab.event, 5000);
        const bool wasRefused = answer == kSsInvalidSrb && status == kSsInvalidSrb;
        const bool wasServed = status == SS_COMP;
        const bool asExpected = row.refused ? wasRefused : wasServed;
        std::printf("%-42s %s (answer %02lX, status %02X)%s\n", row.what,
                    wasRefused  ? "refused"
                    : wasServed ? "served"
                                : "failed",
                    static_cast<unsigned long>(answer), unsigned{status},
                    asExpected ? "" : " UNEXPECTED");
        if (!asExpected) ++wrong;
        (wasRefused ? refused : served) += (wasRefused || wasServed) ? 1 : 0;
    }
    std::printf("%u served, %u refused\n", served, refused);
    return wrong;
}

} // namespace

int main(int argc, char** argv)
{
    HMODULE aspi = LoadLibraryA("WNASPI32.DLL");
    if (aspi == nullptr) {
        std::printf("load failed\n");
        return 2;
    }
    auto supportInfo = reinterpret_cast<SupportInfo>(
        reinterpret_cast<void*>(GetProcAddress(aspi, "GetASPI32SupportInfo")));
    sendCommand = reinterpret_cast<SendCommand>(
        reinterpret_cast<void*>(GetProcAddress(aspi, "SendASPI32Command")));
    if (supportInfo == nullptr || sendCommand == nullptr) {
        std::printf("entry missing\n");
        return 2;
    }
    const DWORD support = supportInfo();
    std::printf("support %04lX\n", static_cast<unsigned long>(support));
    if (((support >> 8) & 0xFF) != SS_COMP) return 1;
    if (argc > 1 && std::strcmp(argv[1], "--faulty") == 0) return checkRefusals() == 0 ? 0 : 1;

    SRB_HAInquiry inquiry{};
    inquiry.SRB_Cmd = SC_HA_INQUIRY;
    sendCommand(&inquiry);
    std::printf("adapter 0: status %02X count %u mask %02X%02X targets %u\n", inquiry.SRB_Status,
                inquiry.HA_Count, inquiry.HA_Unique[1], inquiry.HA_Unique[0], inquiry.HA_Unique[3]);
    const unsigned targets = inquiry.HA_Unique[3] == 0 ? 8 : inquiry.HA_Unique[3];

    int failures = 0;
    bool flashed = false;
    for (uint8_t target = 0; target < targets; ++target) {
        SRB_GDEVBlock type{};
        type.SRB_Cmd = SC_GET_DEV_TYPE;
        type.SRB_Target = target;
        sendCommand(&type);
        if (type.SRB_Status != SS_COMP) continue;
        std::printf("0:%u type %u\n", target, type.SRB_DeviceType);
        CommandStatus block;
        uint8_t data[40] = {};
        const uint8_t inquiryCdb[12] = {0x12, 0, 0, 0, 36};
        failures += execute(0, target, inquiryCdb, 6, data, 36, SRB_DIR_IN, block);
        std::printf("  inquiry \"%.28s\"\n", reinterpret_cast<const char*>(data + 8));

        if (argc < 2 || flashed) continue;
        FILE* file = std::fopen(argv[1], "rb");
        if (file == nullptr) return 2;
        std::vector<uint8_t> image;
        uint8_t chunk[8192];
        size_t got;
        while ((got = std::fread(chunk, 1, sizeof chunk, file)) != 0)
            image.insert(image.end(), chunk, chunk + got);
        std::fclose(file);
        const uint32_t size = 8192;
        const uint32_t count = static_cast<uint32_t>(image.size() / size);
        for (uint32_t k = 0; k < count; ++k) {
            const uint32_t offset = k * size;
            const uint8_t cdb[12] = {0x3B,
                                     static_cast<uint8_t>(k + 1 == count ? 5 : 4),
                                     0,
                                     static_cast<uint8_t>(offset >> 16),
                                     static_cast<uint8_t>(offset >> 8),
                                     static_cast<uint8_t>(offset),
                                     static_cast<uint8_t>(size >> 16),
                                     static_cast<uint8_t>(size >> 8),
                                     static_cast<uint8_t>(size)};
            failures +=
                execute(0, target, cdb, 10, image.data() + offset, size, SRB_DIR_OUT, block);
        }
        std::printf("sent %u chunks\n", count);
        flashed = true;
    }
    FreeLibrary(aspi);
    std::printf("%s\n", failures == 0 ? "all steps done" : "some steps failed");
    return failures == 0 ? 0 : 1;
}
