// The update worker: writes the main firmware image into the selected drive
// with WRITE BUFFER and publishes its progress and outcome in updateState.
#include "update/UpdateWorker.h"

#include "package/UpdatePackage.h"
#include "platform/Platform.h"
#include "transport/DriveCommands.h"
#include "transport/DriveRecords.h"
#include "transport/StatusMessages.h"
#include "update/SecondaryFirmware.h"
#include "update/UpdateState.h"

namespace {

constexpr uint8_t kModeDownload = 4;        // download microcode
constexpr uint8_t kModeDownloadAndSave = 5; // download microcode and save
constexpr uint8_t kEjectTray = 2;           // LoEj set, Start clear
constexpr uint32_t kSlowFinalChunkMs = 1000;
constexpr uint32_t kSettleAfterSlowChunkMs = 3000;
constexpr uint32_t kProbePauseMs = 100;

// Whether `result` failed with the sense triple given. The status image is
// only read for results a drive or adapter produced: after SetupFailed and
// NoMemory it still describes an earlier command.
bool failedWithSense(int result, uint8_t key, uint8_t asc, uint8_t ascq)
{
    if (result == Ok || result == SetupFailed || result == NoMemory) return false;
    if (lastStatus == nullptr) return false;
    const uint8_t* sense = lastStatus->SenseArea;
    return sense[2] == key && sense[12] == asc && sense[13] == ascq;
}

// The text is complete before the member that announces the failure changes.
void recordFailure(int result)
{
    describeResult(result, updateState.errorText);
}

void publishFailedPhase()
{
    updateState.phase.store(PhaseFailed, std::memory_order_release);
}

void publishFailedTransfer()
{
    updateState.transferCount.store(0, std::memory_order_release);
}

enum class Transfer { First, Second };

// Sends the whole image once. Answers false when a chunk failed; the failure
// has then been published.
bool sendImage(const DriveEntry& drive, Transfer which, uint32_t& finalChunkMs)
{
    const uint32_t chunkSize = package.bufferSize;
    const uint32_t count = package.firmwareFileSize / chunkSize;
    const uint8_t* image = package.firmwareImage;

    for (uint32_t k = 0; k + 1 < count; ++k) {
        const int result = writeBuffer(drive, image + static_cast<size_t>(k) * chunkSize, chunkSize,
                                       k * chunkSize, kModeDownload, 0);
        if (result != Ok) {
            recordFailure(result);
            publishFailedTransfer();
            if (which == Transfer::Second) publishFailedPhase();
            return false;
        }
        if (which == Transfer::First)
            updateState.transferCount.fetch_add(1, std::memory_order_release);
    }

    const uint32_t last = count - 1;
    const uint32_t before = sys().clockMilliseconds();
    const int result = writeBuffer(drive, image + static_cast<size_t>(last) * chunkSize, chunkSize,
                                   last * chunkSize, kModeDownloadAndSave, 0);
    finalChunkMs = sys().clockMilliseconds() - before;
    if (result != Ok) {
        recordFailure(result);
        publishFailedPhase();
        return false;
    }
    return true;
}

// Gives the drive time to program its flash memory.
void settleWait(uint32_t finalChunkMs)
{
    const uint32_t wait = finalChunkMs >= kSlowFinalChunkMs
                              ? kSettleAfterSlowChunkMs
                              : uint32_t{package.options.updateWaitTime} * 1000u;
    if (wait != 0) sys().waitMilliseconds(wait);
}

// Whether the drive asks for the image once more (sense 04-40-F7 on the
// third of three probes).
bool driveAsksAgain(const DriveEntry& drive)
{
    testUnitReady(drive);
    sys().waitMilliseconds(kProbePauseMs);
    testUnitReady(drive);
    sys().waitMilliseconds(kProbePauseMs);
    return failedWithSense(testUnitReady(drive), 0x04, 0x40, 0xF7);
}

void runUpdate()
{
    if (!transferIsSound(package.firmwareFileSize, package.bufferSize) ||
        package.firmwareImage == nullptr) {
        // Nothing is sent: a cut or partial transfer could ruin the drive.
        updateState.errorText = kUnsoundTransferText;
        publishFailedTransfer();
        publishFailedPhase();
        return;
    }

    const DriveEntry& drive = driveEntries[selectedDrive];

    // Eject the tray unless the drive reports no medium with the tray closed.
    testUnitReady(drive);
    if (!failedWithSense(testUnitReady(drive), 0x02, 0x3A, 0x01))
        startStopUnit(drive, kEjectTray, 0);

    uint32_t finalChunkMs = 0;
    if (!sendImage(drive, Transfer::First, finalChunkMs)) return;
    settleWait(finalChunkMs);

    if (package.options.twiceUpdate != 0 && driveAsksAgain(drive)) {
        if (!sendImage(drive, Transfer::Second, finalChunkMs)) return;
        settleWait(finalChunkMs);
    }

    if (package.options.updateAfterCommand != 0) {
        testUnitReady(drive);
        testUnitReady(drive);
    }

    if (package.epsFileName[0] != '\0') {
        const int result = updateSecondaryFirmware();
        if (result != Ok) {
            recordFailure(result);
            publishFailedPhase();
            return;
        }
    }

    updateState.phase.store(PhaseDone, std::memory_order_release);
    updateState.transferCount.store(0, std::memory_order_release);
}

} // namespace

bool transferIsSound(uint32_t imageSize, uint32_t chunkSize)
{
    if (chunkSize == 0 || chunkSize > kLargestBufferField) return false;
    const uint32_t count = imageSize / chunkSize;
    if (count == 0) return false;
    return uint64_t{count - 1} * chunkSize <= kLargestBufferField;
}

COrvUpdate::COrvUpdate()
{
    runUpdate();
}

unsigned updateThreadProc(void*)
{
    COrvUpdate update;
    return 0;
}
