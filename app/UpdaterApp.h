#pragma once

#include "platform/classlib/ClassLib.h"

// The application: everything happens inside startUp, and the process ends
// when it returns.
class UpdaterApp : public CWinApp {
public:
    bool startUp() override;
};

// The start-up message for a package result (English or Japanese by the
// user's language).
std::string packageResultMessage(unsigned code);

extern UpdaterApp theApp;
