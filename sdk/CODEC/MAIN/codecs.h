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

// Peln, 2978 bit/s: codec tag 0x1521.  DecodePeln leaves 180 samples at
// lpOutput and sets wFrameOutput when a block is complete, else none.
uint32_t initDecodePeln(ZefControlBlock* cb);  // creates lpCodecState
uint32_t initPackPeln(ZefControlBlock* cb);    // bit table into the control block
uint32_t unPackPeln(ZefControlBlock* cb);      // bFieldCodes -> frame parameters
uint32_t DecodePeln(ZefControlBlock* cb);      // one segment; a 180-sample block or none
uint32_t freeDecodePeln(ZefControlBlock* cb);
uint32_t freePackPeln(ZefControlBlock* cb);

}  // namespace zef
