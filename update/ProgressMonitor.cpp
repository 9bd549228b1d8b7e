// The user-interface side of an update: starts the worker, then polls
// updateState and moves the main window's progress bar until the worker is
// done, and reports a failure itself.
#include "update/ProgressMonitor.h"

#include <string>

#include "app/Language.h"
#include "package/UpdatePackage.h"
#include "platform/Platform.h"
#include "ui/MainWindow.h"
#include "update/UpdateState.h"
#include "update/UpdateWorker.h"

WorkerThreadStart workerThreadStart = beginThread;

namespace {

constexpr uint32_t kTransferPollMs = 20;
constexpr uint32_t kFullBarPauseMs = 300;
constexpr uint32_t kFlashPollMs = 100;
constexpr uint32_t kCompletedPauseMs = 1000;
constexpr int kSecondaryDisplayLength = 5;

constexpr const char* kErrorTitle = "Error - Upgrade Program";

const char* transferText()
{
    //  しばらくお待ち下さい...(ファームウェアデータ転送中)
    return pickText(" Wait... (Transferring data)",
                    "\x20\x82\xb5\x82\xce\x82\xe7\x82\xad\x82\xa8\x91\xd2\x82\xbf\x89\xba\x82\xb3"
                    "\x82\xa2\x2e\x2e\x2e\x28\x83\x74\x83\x40\x81\x5b\x83\x80\x83\x45\x83\x46\x83"
                    "\x41\x83\x66\x81\x5b\x83\x5e\x93\x5d\x91\x97\x92\x86\x29");
}

const char* flashText()
{
    //  しばらくお待ち下さい...(ファームウェア更新中)
    return pickText(" Wait... (Running Firmware upgrade procedure)",
                    "\x20\x82\xb5\x82\xce\x82\xe7\x82\xad\x82\xa8\x91\xd2\x82\xbf\x89\xba\x82\xb3"
                    "\x82\xa2\x2e\x2e\x2e\x28\x83\x74\x83\x40\x81\x5b\x83\x80\x83\x45\x83\x46\x83"
                    "\x41\x8d\x58\x90\x56\x92\x86\x29");
}

const char* completedText()
{
    //  ファームウェア更新は完了しました。
    return pickText(" Firmware update is completed.",
                    "\x20\x83\x74\x83\x40\x81\x5b\x83\x80\x83\x45\x83\x46\x83\x41\x8d\x58\x90\x56"
                    "\x82\xcd\x8a\xae\x97\xb9\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81\x42");
}

const char* failurePrefix()
{
    // ファームウェア更新に失敗しました。
    return pickText("Firmware update is failed.\n\n",
                    "\x83\x74\x83\x40\x81\x5b\x83\x80\x83\x45\x83\x46\x83\x41\x8d\x58\x90\x56\x82"
                    "\xc9\x8e\xb8\x94\x73\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81\x42\n\n");
}

const char* notStartedText()
{
    // 更新を開始できませんでした。
    return pickText("The update could not be started.",
                    "\x8d\x58\x90\x56\x82\xf0\x8a\x4a\x8e\x6e\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82"
                    "\xf1\x82\xc5\x82\xb5\x82\xbd\x81\x42");
}

const char* unsoundTransferText()
{
    // ファームウェアデータを転送できません。
    return pickText(kUnsoundTransferText,
                    "\x83\x74\x83\x40\x81\x5b\x83\x80\x83\x45\x83\x46\x83\x41\x83\x66\x81\x5b\x83"
                    "\x5e\x82\xf0\x93\x5d\x91\x97\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1\x81\x42");
}

// The main window's two controls; a monitor without a main window (never
// the case in the program) draws nothing.
class Display {
public:
    explicit Display(MainWindow* window) : window_(window) {}

    CWnd* owner() const { return window_; }

    void status(const char* text)
    {
        if (window_ != nullptr) window_->statusLine.setWindowText(text);
    }
    void range(int upper)
    {
        if (window_ == nullptr) return;
        window_->progressBar.setRange(0, upper);
        window_->progressBar.setStep(1);
    }
    void position(int value)
    {
        if (window_ != nullptr) window_->progressBar.setPos(value);
    }
    void step()
    {
        if (window_ != nullptr) window_->progressBar.stepIt();
    }
    void repaint()
    {
        if (window_ != nullptr) window_->updateWindow();
    }

private:
    MainWindow* window_;
};

int fail(const Display& display, const std::string& reason)
{
    sys().messageBox(display.owner(), failurePrefix() + reason, kErrorTitle, MB_ICONERROR_);
    return 0;
}

uint8_t readPhase()
{
    return updateState.phase.load(std::memory_order_acquire);
}

enum class TransferEnd { Transferred, Failed };

// Follows the non-final chunks of the first transfer.
TransferEnd followTransfer(Display& display, uint32_t count)
{
    display.status(transferText());
    display.range(static_cast<int>(count));
    uint32_t shown = 0;
    for (;;) {
        const uint32_t value = updateState.transferCount.load(std::memory_order_acquire);
        if (value == 0) {
            // A worker that finished within one poll has already published
            // PhaseDone before it cleared the count.
            return readPhase() == PhaseDone ? TransferEnd::Transferred : TransferEnd::Failed;
        }
        if (value >= count) return TransferEnd::Transferred;
        if (value != shown) {
            display.position(static_cast<int>(value - 1));
            shown = value;
        }
        display.repaint();
        sys().waitMilliseconds(kTransferPollMs);
    }
}

// Advances a bar of `length` × 10 steps once per poll while the phase stays
// at `phase`; answers the phase that ended it.
uint8_t followPhase(Display& display, uint8_t phase, int length, int lastStep)
{
    display.status(flashText());
    display.range(length * 10);
    display.position(0);
    for (int i = 1;; ++i) {
        if (i < lastStep) display.step();
        const uint8_t now = readPhase();
        if (now != phase) return now;
        display.repaint();
        sys().waitMilliseconds(kFlashPollMs);
    }
}

} // namespace

int monitorProgress()
{
    Display display(activeMainWindow());

    if (!transferIsSound(package.firmwareFileSize, package.bufferSize))
        return fail(display, unsoundTransferText());
    const uint32_t count = package.firmwareFileSize / package.bufferSize;

    updateState.transferCount.store(1, std::memory_order_relaxed);
    updateState.phase.store(PhaseFlashing, std::memory_order_relaxed);
    if (workerThreadStart(updateThreadProc, nullptr) == nullptr) {
        updateState.phase.store(PhaseFailed, std::memory_order_relaxed);
        updateState.transferCount.store(0, std::memory_order_relaxed);
        return fail(display, notStartedText());
    }

    if (followTransfer(display, count) == TransferEnd::Failed)
        return fail(display, updateState.errorText);

    // Flash display: the drive programs its memory.
    display.position(static_cast<int>(count));
    display.repaint();
    sys().waitMilliseconds(kFullBarPauseMs);
    const int waitSeconds = package.options.updateWaitTime;
    int length = package.options.twiceUpdate != 0 ? waitSeconds * 2 + 5 : waitSeconds;
    uint8_t phase = followPhase(display, PhaseFlashing, length, length * 10 - 2);

    if (phase == PhaseSecondary) {
        length = kSecondaryDisplayLength;
        phase = followPhase(display, PhaseSecondary, length, length * 10 - 2);
    }

    if (phase == PhaseFailed) return fail(display, updateState.errorText);

    display.position(length * 10);
    display.status(completedText());
    display.repaint();
    sys().waitMilliseconds(kCompletedPauseMs);
    return 1;
}
