#pragma once

#include "platform/classlib/ClassLib.h"

// The update worker: its constructor performs the whole update on the thread
// that constructs it and reports through updateState.
class COrvUpdate : public CWinThread {
public:
    COrvUpdate();
    ~COrvUpdate() override = default;
};

// Entry of the worker thread.
unsigned updateThreadProc(void* unused);
