#include "platform/linux/cli/Progress.h"

#include <ostream>

#include "platform/model/ModelWindows.h"
#include "ui/MainWindow.h"
#include "update/UpdateState.h"

void ProgressPrinter::show(CDialog& mainWindow)
{
    const WindowState* bar = modelControl(mainWindow, IDC_PROGRESS_BAR);
    if (bar == nullptr) return;
    const int range = bar->rangeUpper - bar->rangeLower;
    // The bar gets a new range for each stage: the chunks, then the flash
    // and EPS displays.
    int stage = stage_;
    if (stage < 0)
        stage = 0;
    else if (range != range_ && stage == 0)
        stage = 1;
    if (updateState.phase.load(std::memory_order_acquire) == PhaseSecondary) stage = 2;
    range_ = range;
    int percent = range > 0 ? (bar->pos - bar->rangeLower) * 100 / range : 100;
    if (percent < 0) percent = 0;
    if (percent > 100) percent = 100;
    if (stage == stage_ && percent == percent_) return;
    stage_ = stage;
    percent_ = percent;
    static const char* const names[] = {"transfer", "flash", "eps"};
    if (inPlace_) {
        out_ << '\r' << names[stage] << ' ' << percent << "%   " << std::flush;
        open_ = true;
    } else {
        out_ << names[stage] << ' ' << percent << "%\n" << std::flush;
    }
}

void ProgressPrinter::finish()
{
    if (open_) out_ << '\n';
    open_ = false;
}
