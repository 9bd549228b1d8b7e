#include "transport/AlignedBuffer.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

// Every buffer carries the address of its underlying allocation just below the
// aligned start, so releasing it frees the whole allocation whatever the shift.
namespace {
constexpr size_t kHeader = sizeof(void*);
void* systemAllocate(size_t bytes)
{
    return std::malloc(bytes);
}
void systemRelease(void* block)
{
    std::free(block);
}
RawAllocate rawAllocate = systemAllocate;
RawRelease rawRelease = systemRelease;
} // namespace

void setAlignedAllocator(RawAllocate allocate, RawRelease release)
{
    rawAllocate = allocate != nullptr ? allocate : systemAllocate;
    rawRelease = release != nullptr ? release : systemRelease;
}

uint8_t* allocateAligned(uint32_t size, uint32_t mask)
{
    // Computed wide: in 32-bit builds size + mask may not fit an address.
    const uint64_t total = uint64_t{size} + uint64_t{mask} + kHeader;
    if (total > SIZE_MAX) return nullptr;
    auto* raw = static_cast<uint8_t*>(rawAllocate(static_cast<size_t>(total)));
    if (raw == nullptr) return nullptr;
    const uintptr_t first = reinterpret_cast<uintptr_t>(raw) + kHeader;
    const uintptr_t aligned = (first + mask) & ~uintptr_t{mask};
    uint8_t* buffer = raw + (aligned - reinterpret_cast<uintptr_t>(raw));
    std::memcpy(buffer - kHeader, &raw, sizeof raw);
    return buffer;
}

void releaseAligned(uint8_t* buffer)
{
    if (buffer == nullptr) return;
    uint8_t* raw = nullptr;
    std::memcpy(&raw, buffer - kHeader, sizeof raw);
    rawRelease(raw);
}
