// The decompression session's inner steps, shared by the one-shot calls,
// the streaming triple and the direct playback.
#pragma once

#include <cstdint>

#include "zefinternal.h"

namespace zef {

constexpr uint16_t kInitOneShot = 0;
constexpr uint16_t kInitStreaming = 1;

uint16_t InitZefControlBlock(KELVANE_DATA* kd, uint16_t mode);

// Decodes as many frames as fit.  Returns 91 (input exhausted or frame count
// reached), 92 (output full), 514 (callback abort) or an error.
uint16_t DecompressBuffer(ZefControlBlock* cb, const uint8_t* inBase, uint32_t* inPos, uint32_t inLength,
                          uint8_t* outBase, uint32_t* outPos, uint32_t outCapacity);

// The largest number of output bytes one decoded frame can produce with the
// session's current codec, warp, rate and sample size.
uint32_t maxFrameOutputBytes(const ZefControlBlock* cb);

// Reports a status to the caller: into dwStatus (current form only) and to
// the callback.  Returns the callback's answer (0 without a callback).
uint16_t reportStatus(KELVANE_DATA* kd, uint16_t status);

}  // namespace zef
