// The decoders as the codec engine sees them.  Each returns 0 or its own
// numeric code, which the engine passes through.
#pragma once

#include <cstdint>

#include "zefinternal.h"

namespace zef {

// Orvo, 2400 bit/s: codec tag 0x0504.
uint32_t initDecodeOrvo(ZefControlBlock* cb);  // creates lpCodecState
uint32_t initPackOrvo(ZefControlBlock* cb);    // bit table into the control block
uint32_t unPackOrvo(ZefControlBlock* cb);      // bFieldCodes -> frame parameters
uint32_t DecodeOrvo(ZefControlBlock* cb);      // one frame of 16-bit PCM at lpOutput
uint32_t freeDecodeOrvo(ZefControlBlock* cb);
uint32_t freePackOrvo(ZefControlBlock* cb);

}  // namespace zef
