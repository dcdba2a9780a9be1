#include "fft256.h"

#include <cmath>
#include <utility>

namespace zef {

void initFft256(Fft256Tables* t) {
    const double step = 2.0 * 3.14159265358979323846 / kFft256Size;
    for (int k = 0; k < kFft256Size / 2; ++k) {
        t->cosine[k] = float(std::cos(step * k));
        t->sine[k] = float(std::sin(step * k));
    }
    for (int i = 0; i < kFft256Size; ++i) {
        int r = 0;
        for (int bit = 0; bit < 8; ++bit) r |= ((i >> bit) & 1) << (7 - bit);
        t->reversed[i] = uint8_t(r);
    }
}

void fft256(const Fft256Tables* t, float* re, float* im) {
    for (int i = 0; i < kFft256Size; ++i) {
        int r = t->reversed[i];
        if (r > i) {
            std::swap(re[i], re[r]);
            std::swap(im[i], im[r]);
        }
    }
    for (int half = 1; half < kFft256Size; half *= 2) {
        const int stride = kFft256Size / (2 * half);
        for (int start = 0; start < kFft256Size; start += 2 * half) {
            for (int j = 0; j < half; ++j) {
                const float wr = t->cosine[j * stride];
                const float wi = -t->sine[j * stride];
                const int a = start + j, b = a + half;
                const float tr = re[b] * wr - im[b] * wi;
                const float ti = re[b] * wi + im[b] * wr;
                re[b] = re[a] - tr;
                im[b] = im[a] - ti;
                re[a] += tr;
                im[a] += ti;
            }
        }
    }
}

}  // namespace zef
