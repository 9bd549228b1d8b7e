#include "discovery/DriveDiscovery.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "package/UpdatePackage.h"
#include "platform/DriveAccess.h"
#include "transport/AspiTransport.h"
#include "transport/DriveCommands.h"

namespace {

constexpr size_t kAnswerSize = 40;
constexpr uint16_t kInquiryLength = 36;
// A drive whose INQUIRY answers never agree twice in a row is given up after
// this many rounds instead of holding discovery forever.
constexpr int kSettleRounds = 16;

bool acceptable(const uint8_t* answer)
{
    return answer[0] == 5 && answer[8] != 0 && matchesIdentity(answer + 8, package.inquiryList);
}

void fillAcceptedRecord(DriveEntry& entry, const uint8_t* answer, const char* prefix,
                        const char* suffix)
{
    // The longest text, "(255,255) " with 24 + 1 + 4 characters, is 39 long.
    char text[64];
    std::snprintf(text, sizeof text, "%s%.24s %.4s%s", prefix,
                  reinterpret_cast<const char*>(answer + 8),
                  reinterpret_cast<const char*>(answer + 32), suffix);
    std::memset(entry.displayText, 0, sizeof entry.displayText);
    std::memcpy(entry.displayText, text, std::min(std::strlen(text), sizeof entry.displayText - 1));
    std::memcpy(entry.revision, answer + 32, 4);
    entry.revision[4] = '\0';
    entry.atapi = (answer[3] & 0xF0) != 0 ? 1 : 0;
}

uint8_t discoverByLetter()
{
    uint8_t count = 0;
    for (char letter = 'A'; letter <= 'Z' && count < kDriveTableSize; ++letter) {
        DriveEntry& candidate = driveEntries[count];
        candidate.hostAdapter = 0;
        candidate.target = 0;
        candidate.lun = 0;
        candidate.atapi = 0;
        candidate.driveLetter[0] = letter;
        candidate.driveLetter[1] = '\0';

        char root[4] = {letter, ':', '\\', '\0'};
        if (passThroughAccess().driveType(root) != DRIVE_CDROM_) continue;

        uint8_t answer[kAnswerSize];
        if (!settleAndInquire(candidate, answer) || !acceptable(answer)) continue;

        // "E:\ [" on Windows; Linux names the device node (such as "sr0")
        // instead of a root.
        char address[32];
        std::snprintf(address, sizeof address, "%.6s [",
                      passThroughAccess().driveRootText(letter).c_str());
        fillAcceptedRecord(candidate, answer, address, "]");
        ++count;
    }
    // A rejected last candidate must not leave its letter behind.
    if (count < kDriveTableSize) std::memset(&driveEntries[count], 0, sizeof(DriveEntry));
    return count;
}

uint8_t discoverByAdapter()
{
    SRB_HAInquiry* block = nullptr;
    if (hostAdapterInquiry(0, block) != 0) return 0;
    const uint8_t adapters = block->HA_Count;

    uint8_t count = 0;
    for (unsigned adapter = 0; adapter < adapters; ++adapter) {
        if (hostAdapterInquiry(static_cast<uint8_t>(adapter), block) != 0) continue;
        const uint32_t mask =
            static_cast<uint32_t>(block->HA_Unique[0] | (block->HA_Unique[1] << 8));
        const unsigned targets = block->HA_Unique[3] == 0 ? 8u : block->HA_Unique[3];

        for (unsigned target = 0; target < targets; ++target) {
            if (count >= kDriveTableSize) return count;
            DriveEntry& candidate = driveEntries[count];
            candidate.hostAdapter = static_cast<uint8_t>(adapter);
            candidate.target = static_cast<uint8_t>(target);
            candidate.lun = 0;
            candidate.atapi = 0;
            candidate.alignmentMask = mask;

            uint8_t deviceType = 0;
            if (getDeviceType(candidate, deviceType) != 0 || deviceType != 5) continue;

            uint8_t answer[kAnswerSize];
            if (!settleAndInquire(candidate, answer) || !acceptable(answer)) continue;

            char address[32];
            std::snprintf(address, sizeof address, "(%u,%u) ", adapter, target);
            fillAcceptedRecord(candidate, answer, address, "");
            ++count;
        }
    }
    return count;
}

} // namespace

bool matchesIdentity(const uint8_t* inquiryFromVendor, const char* identityList)
{
    // The INQUIRY data from the vendor field on: vendor, product, revision and
    // four zero bytes.
    constexpr size_t kAvailable = 32;
    size_t k = 0;
    bool equal = true;
    for (const char* p = identityList; *p != '\0'; ++p) {
        if (*p == ';') {
            if (k > 0 && equal) return true;
            k = 0;
            equal = true;
            continue;
        }
        if (k >= kAvailable || static_cast<uint8_t>(*p) != inquiryFromVendor[k]) equal = false;
        ++k;
    }
    return false;
}

bool settleAndInquire(const DriveEntry& candidate, uint8_t* answer)
{
    testUnitReady(candidate);
    testUnitReady(candidate);
    testUnitReady(candidate);

    uint8_t second[kAnswerSize];
    for (int round = 0; round < kSettleRounds; ++round) {
        std::memset(answer, 0, kAnswerSize);
        std::memset(second, 0, kAnswerSize);
        const bool first = inquiry(candidate, answer, kInquiryLength) == Ok ||
                           inquiry(candidate, answer, kInquiryLength) == Ok;
        if (first && inquiry(candidate, second, kInquiryLength) != Ok)
            inquiry(candidate, second, kInquiryLength);
        if (std::memcmp(answer, second, kAnswerSize) == 0) return true;
    }
    std::memset(answer, 0, kAnswerSize);
    return false;
}

uint8_t discoverDrives()
{
    return usePassThrough ? discoverByLetter() : discoverByAdapter();
}
