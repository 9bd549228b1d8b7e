// The progress of an unattended update, read from the main window's progress
// bar whenever the system repaints it: lines such as "transfer 40%" for a
// script, or one line redrawn in place on a terminal.
#pragma once

#include <iosfwd>
#include <string>

class CDialog;

class ProgressPrinter {
public:
    ProgressPrinter(std::ostream& out, bool inPlace) : out_(out), inPlace_(inPlace) {}
    void show(CDialog& mainWindow);
    // Ends a line redrawn in place.
    void finish();

private:
    std::ostream& out_;
    bool inPlace_;
    int stage_ = -1; // 0 transfer, 1 flash, 2 EPS
    int range_ = -1;
    int percent_ = -1;
    bool open_ = false;
};
