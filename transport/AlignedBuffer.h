#pragma once

#include <cstddef>
#include <cstdint>

// A buffer of `size` bytes whose address has every bit of `mask` clear, or
// null when memory is exhausted (or size + mask does not fit).
uint8_t* allocateAligned(uint32_t size, uint32_t mask);
// Releases a buffer from allocateAligned (null is fine).
void releaseAligned(uint8_t* buffer);

// The underlying allocation, replaceable so that tests can watch it and make
// it fail. Null for either restores the C library's malloc and free.
using RawAllocate = void* (*)(size_t bytes);
using RawRelease = void (*)(void* block);
void setAlignedAllocator(RawAllocate allocate, RawRelease release);
