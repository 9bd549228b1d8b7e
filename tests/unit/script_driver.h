// Runs one script for every modal run of the model's dialogs while it lives.
#pragma once

#include <functional>
#include <utility>

#include "platform/model/ModelWindows.h"

class ScriptDriver : public ModalDriver {
public:
    explicit ScriptDriver(std::function<void(CDialog&)> script) : script_(std::move(script))
    {
        setModalDriver(this);
    }
    ~ScriptDriver() override { setModalDriver(nullptr); }
    void run(CDialog& dialog) override { script_(dialog); }

private:
    std::function<void(CDialog&)> script_;
};
