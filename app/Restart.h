#pragma once

class CWnd;

// Starts a temporary copy of the program that restarts the computer.
void launchRestartCopy(CWnd* owner);
// Arranges the deletion of `path` at the next system start.
void scheduleDeletion(const char* path);
// Requests a restart of the computer.
void rebootComputer();
