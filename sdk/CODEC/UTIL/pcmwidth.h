// Sample width and byte order of 16-bit PCM: unsigned 8-bit samples centred
// on 128, and 16-bit samples in the other byte order than the host's.
#pragma once

#include <cstdint>

namespace zef {

// Each sample becomes (s >> 8) + 128: -32768 -> 0, 0 -> 128, 32767 -> 255.
void pcm16to8(const int16_t* in, uint8_t* out, int32_t count);

// Each byte becomes (b - 128) * 256.  Works from the last sample to the first,
// so out may start where in does (the bytes widen in place).
void pcm8to16(const uint8_t* in, int16_t* out, int32_t count);

// Swaps the two bytes of each of count samples, in place.
void VecSwap2(int16_t* samples, int32_t count);

}  // namespace zef
