// What the drive's command handlers share: the answers they give most often
// and the moves of parameter and data bytes between the host and the drive.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "virtualdrive/core/VirtualDrive.h"

namespace virtualdrivecommands {

constexpr uint8_t kHaPhaseFailure = 0x14;

inline VirtualStatus check(uint8_t key, uint8_t asc, uint8_t ascq)
{
    return VirtualStatus::checkCondition(key, asc, ascq);
}

inline VirtualStatus invalidField()
{
    return check(0x05, 0x24, 0x00);
}
inline VirtualStatus invalidOpcode()
{
    return check(0x05, 0x20, 0x00);
}
inline VirtualStatus sequenceError()
{
    return check(0x05, 0x2C, 0x00);
}

// The host moved data the wrong way or too little of it: the adapter sees the
// target change bus phase unexpectedly.
inline VirtualStatus phaseFailure()
{
    VirtualStatus s;
    s.haStatus = kHaPhaseFailure;
    return s;
}

inline uint32_t be24(const uint8_t* p)
{
    return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
}

inline void padCopy(uint8_t* out, const std::string& text, size_t width, char pad)
{
    for (size_t i = 0; i < width; ++i)
        out[i] = static_cast<uint8_t>(i < text.size() ? text[i] : pad);
}

// Checks that the host offers a data-in buffer for `wanted` bytes and moves
// up to that many bytes of `produced` into it.
inline bool dataInAllowed(const VirtualRequest& r, uint32_t wanted)
{
    if (wanted == 0) return true;
    return r.direction == VirtualDirection::In && r.data != nullptr && r.dataLength != 0;
}

inline uint32_t deliver(const VirtualRequest& r, const uint8_t* produced, size_t producedSize,
                        uint32_t wanted)
{
    const uint32_t n = static_cast<uint32_t>(
        std::min<uint64_t>({uint64_t{wanted}, uint64_t{producedSize}, uint64_t{r.dataLength}}));
    if (n != 0) std::memcpy(r.data, produced, n);
    return n;
}

} // namespace virtualdrivecommands
