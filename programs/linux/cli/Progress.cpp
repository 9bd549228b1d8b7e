#include "programs/linux/cli/Progress.h"

#include <ostream>

#include "platform/model/ModelWindows.h"
#include "ui/MainWindow.h"
#include "update/UpdateState.h"

void ProgressPrinter::begin(CDialog& mainWindow)
{
    const WindowState* status = modelControl(mainWindow, IDC_STATUS_LINE);
    idleStatus_ = status != nullptr ? status->text : std::string();
    started_ = true;
}

void ProgressPrinter::show(CDialog& mainWindow)
{
    const WindowState* bar = modelControl(mainWindow, IDC_PROGRESS_BAR);
    const WindowState* status = modelControl(mainWindow, IDC_STATUS_LINE);
    if (!started_ || bar == nullptr || status == nullptr || status->text == idleStatus_) return;
    const int range = bar->rangeUpper - bar->rangeLower;
    const int position = bar->pos - bar->rangeLower;
    // Each display (the chunks, the flash, the EPS update) sets the bar's
    // range and starts from 0; which one it is shows in the phase then.
    if (stage_ < 0) {
        stage_ = 0;
    } else if (range != range_ || position < position_) {
        const bool secondary = updateState.phase.load(std::memory_order_acquire) == PhaseSecondary;
        stage_ = secondary ? 2 : stage_ == 0 ? 1 : stage_;
    }
    range_ = range;
    position_ = position;
    int percent = range > 0 ? position * 100 / range : 100;
    if (percent < 0) percent = 0;
    if (percent > 100) percent = 100;
    if (percent == percent_ && stage_ == lastStage_) return;
    percent_ = percent;
    lastStage_ = stage_;
    static const char* const names[] = {"transfer", "flash", "eps"};
    if (inPlace_) {
        std::string text = std::string(names[stage_]) + ' ' + std::to_string(percent) + '%';
        text.resize(16, ' '); // covers a longer line before it
        out_ << '\r' << text << std::flush;
        open_ = true;
    } else {
        out_ << names[stage_] << ' ' << percent << "%\n" << std::flush;
    }
}

void ProgressPrinter::finish()
{
    if (open_) out_ << '\n';
    open_ = false;
}
