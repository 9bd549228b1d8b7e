#pragma once

#include "platform/classlib/ClassLib.h"

// Starts the worker and shows its progress on the main window; 1 on
// success, 0 on failure (the failure has been shown).
int monitorProgress();

// How the monitor starts the worker thread: the class library's beginThread
// unless a test puts another starter in place.
using WorkerThreadStart = CWinThread* (*)(unsigned (*entry)(void*), void* parameter);
extern WorkerThreadStart workerThreadStart;
