// The compression session: PCM from the input endpoint, converted to mono
// 8000 Hz, cut into frames, encoded, and packed least significant bit first
// into the coded output.
#pragma once

#include <cstdint>

#include "zefinternal.h"

namespace zef {

// Encodes what the input holds into the output.  Returns 221 at the end of
// the input, 238 when the output buffer is full (nothing is lost: the
// frame waits), 514 when the callback stopped it, or an error.
uint16_t CompressBuffer(KELVANE_DATA* kd);
// Encodes the samples still held (the last frame padded with silence) and
// writes the last partly filled byte.  Once per session.
uint16_t FinishCompression(KELVANE_DATA* kd);
// Ends a one-shot compression or recording whose loop returned `result`:
// a full buffer output is an error (the rest would be lost), the session is
// cleaned up, and a failure to close counts when all else went well.
uint16_t CloseOneShot(KELVANE_DATA* kd, uint16_t result);
void FreeCompressSession(ZefControlBlock* cb);

// The frame packer: field codes go into one running bit stream, least
// significant bit first, with no alignment between frames; whole bytes
// leave from the low end.
struct BitPacker {
    uint64_t bits;  // not yet taken, lowest first
    int count;
};
// Appends the low `width` bits (1 to 32) of `code`.  The packer holds at
// most 64 bits: take the whole bytes before appending more than 56 - count.
void PackBits(BitPacker* p, uint32_t code, unsigned width);
// The next whole byte, if there is one.
bool TakeByte(BitPacker* p, uint8_t* byte);
// Fills the last partly filled byte with zero bits.
void PadToByte(BitPacker* p);

EndpointHandler cmpGetInputProcInternal(uint32_t type);
EndpointHandler cmpGetOutputProcInternal(uint32_t type);

}  // namespace zef
