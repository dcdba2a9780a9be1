// 256-point complex FFT in single precision (radix 2, in place).
#pragma once

#include <cstdint>

namespace zef {

constexpr int kFft256Size = 256;

struct Fft256Tables {
    float cosine[kFft256Size / 2];  // cos(2 pi k / 256)
    float sine[kFft256Size / 2];    // sin(2 pi k / 256)
    uint8_t reversed[kFft256Size];  // bit-reversed index
    // The twiddles of the stage whose butterflies span `half` points, side
    // by side from index half - 1: cosine[j * 128 / half] and
    // -sine[j * 128 / half] for j = 0 .. half - 1, so that a stage reads
    // them in order (four at a time).
    float stageCos[kFft256Size - 1];
    float stageSin[kFft256Size - 1];
};

void initFft256(Fft256Tables* tables);

// Forward transform in place: X[k] = sum over n of x[n] e^(-2 pi i k n / 256).
void fft256(const Fft256Tables* tables, float* re, float* im);

}  // namespace zef
