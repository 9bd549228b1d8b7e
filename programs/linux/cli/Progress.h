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
    // Called just before UPDATE is pressed: the window as it is now is idle.
    void begin(CDialog& mainWindow);
    void show(CDialog& mainWindow);
    // Ends a line redrawn in place.
    void finish();

private:
    std::ostream& out_;
    bool inPlace_;
    std::string idleStatus_;
    bool started_ = false;
    int stage_ = -1; // 0 transfer, 1 flash, 2 EPS
    int range_ = -1;
    int position_ = 0;
    int percent_ = -1;
    int lastStage_ = -1;
    bool open_ = false;
};
