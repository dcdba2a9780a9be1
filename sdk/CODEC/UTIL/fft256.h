// 256-point complex FFT in single precision (radix 2, in place).
#pragma once

#include <cstdint>

namespace zef {

constexpr int kFft256Size = 256;

struct Fft256Tables {
    float cosine[kFft256Size / 2];  // cos(2 pi k / 256)
    float sine[kFft256Size / 2];    // sin(2 pi k / 256)
    uint8_t reversed[kFft256Size];  // bit-reversed index
};

void initFft256(Fft256Tables* tables);

// Forward transform in place: X[k] = sum over n of x[n] e^(-2 pi i k n / 256).
void fft256(const Fft256Tables* tables, float* re, float* im);

}  // namespace zef
