#pragma once

#include <cstddef>
#include <cstdint>

// A buffer of `size` bytes whose address has every bit of `mask` clear, or
// null when memory is exhausted (or size + mask does not fit).
uint8_t* allocateAligned(uint32_t size, uint32_t mask);
// Releases a buffer from allocateAligned (null is fine).
void releaseAligned(uint8_t* buffer);
// Whether a data buffer of `length` bytes at `buffer` sits off the alignment
// `mask` asks for, so that an adapter with that mask cannot take it as it is.
inline bool needsAlignedCopy(const uint8_t* buffer, uint32_t length, uint32_t mask)
{
    return buffer != nullptr && length != 0 && (reinterpret_cast<uintptr_t>(buffer) & mask) != 0;
}

// The underlying allocation, replaceable so that tests can watch it and make
// it fail. Null for either restores the C library's malloc and free.
using RawAllocate = void* (*)(size_t bytes);
using RawRelease = void (*)(void* block);
void setAlignedAllocator(RawAllocate allocate, RawRelease release);
