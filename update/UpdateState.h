// What the update worker publishes to the progress monitor. Shared by two
// threads without a lock: each number is loaded and stored whole, errorText
// is complete before a failure is published, and at success phase becomes
// PhaseDone before transferCount becomes 0.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

enum UpdatePhase : uint8_t {
    PhaseFailed = 0,
    PhaseFlashing = 1,
    PhaseDone = 2,
    PhaseSecondary = 4,
};

struct UpdateState {
    std::atomic<uint32_t> transferCount{0};
    std::atomic<uint8_t> phase{0};
    std::string errorText;
};

extern UpdateState updateState;
