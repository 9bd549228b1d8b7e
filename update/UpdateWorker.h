#pragma once

#include <cstdint>

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

// The largest buffer offset and parameter list length a WRITE BUFFER block
// can carry (24 bits); a larger value would be cut and land elsewhere.
inline constexpr uint32_t kLargestBufferField = 0xFFFFFF;

// Whether an image of `imageSize` bytes can be sent in chunks of `chunkSize`
// bytes: at least one whole chunk, and every chunk's offset and length fit
// in the WRITE BUFFER block.
bool transferIsSound(uint32_t imageSize, uint32_t chunkSize);

// The worker's text for a package whose sizes cannot form a transfer.
inline constexpr const char* kUnsoundTransferText =
    "The firmware image cannot be sent in chunks of this size.";
