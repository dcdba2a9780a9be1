#include "pcmwidth.h"

#include <cstring>

#include "byteorder.h"

namespace zef {

void pcm16to8(const int16_t* in, uint8_t* out, int32_t count) {
    for (int32_t i = 0; i < count; ++i) out[i] = static_cast<uint8_t>((in[i] >> 8) + 128);
}

void pcm8to16(const uint8_t* in, int16_t* out, int32_t count) {
    for (int32_t i = count - 1; i >= 0; --i) {
        auto s = static_cast<int16_t>((in[i] - 128) * 256);
        std::memcpy(reinterpret_cast<uint8_t*>(out) + 2 * size_t(i), &s, sizeof s);
    }
}

void VecSwap2(int16_t* samples, int32_t count) {
    if (count > 0) swapSamples16(reinterpret_cast<uint8_t*>(samples), size_t(count));
}

}  // namespace zef
