// A small Windows program that loads WNASPI32.DLL and talks to it the way the
// updater does: support query, adapter inquiry, device types, INQUIRY and, when
// given a file, a firmware download (WRITE BUFFER mode 4 chunks, mode 5 last)
// of that file. Used to check the virtual drive library under Wine:
//   x86_64-w64-mingw32-g++-posix -std=c++20 -static -I. tests/e2e/aspi_probe.cpp -o probe.exe
//   ORV_VIRTUAL_DRIVES='Z:\path\drives.txt' ORV_VIRTUAL_LOG='Z:\tmp\log' wine probe.exe [image]
// It prints one line per step and ends with exit code 0 when every step did.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "transport/AspiRecords.h"
#include "transport/DriveRecords.h"

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
