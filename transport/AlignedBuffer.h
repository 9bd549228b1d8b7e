#pragma once

#include <cstdint>

// A buffer of `size` bytes whose address has every bit of `mask` clear, or
// null when memory is exhausted (or size + mask does not fit).
uint8_t* allocateAligned(uint32_t size, uint32_t mask);
// Releases a buffer from allocateAligned (null is fine).
void releaseAligned(uint8_t* buffer);
