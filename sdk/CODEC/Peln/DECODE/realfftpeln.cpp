// 256-point transforms of real signals through one 128-point complex
// transform (the even samples as real parts, the odd ones as imaginary
// parts), for the noise shaping: half the work of fft256 on a real run.
#include <cstring>

#include "lanes.h"
#include "peln.h"

namespace zef::peln {

namespace {

using lanes::Float4;
using lanes::load4;
using lanes::store4;

constexpr int kHalf = kFft256Size / 2;  // M = 128

// Forward 128-point transform in place, radix 2: the bit-reversed order
// read into four-point transforms (the first two stages), then the later
// stages four butterflies at a time with fft256's stored twiddles (a stage
// whose butterflies span `half` points turns by the same angles whatever
// the length).
void fft128(const Fft256Tables* t, float* re, float* im) {
    float inRe[kHalf], inIm[kHalf];
    std::memcpy(inRe, re, sizeof inRe);
    std::memcpy(inIm, im, sizeof inIm);
    for (int g = 0; g < kHalf; g += 4) {
        // Points g .. g + 3 take the inputs at the 7-bit reversals of g .. g + 3:
        // r, r + 64, r + 32, r + 96 with r the reversal of g.
        const int r = t->reversed[g] >> 1;
        const float ar = inRe[r], ai = inIm[r], br = inRe[r + 64], bi = inIm[r + 64];
        const float cr = inRe[r + 32], ci = inIm[r + 32], dr = inRe[r + 96], di = inIm[r + 96];
        const float s0r = ar + br, s0i = ai + bi, d0r = ar - br, d0i = ai - bi;
        const float s1r = cr + dr, s1i = ci + di, d1r = cr - dr, d1i = ci - di;
        re[g] = s0r + s1r, im[g] = s0i + s1i;
        re[g + 2] = s0r - s1r, im[g + 2] = s0i - s1i;
        // The odd pair turns by -i.
        re[g + 1] = d0r + d1i, im[g + 1] = d0i - d1r;
        re[g + 3] = d0r - d1i, im[g + 3] = d0i + d1r;
    }
    for (int half = 4; half < kHalf; half *= 2) {
        const float* wr = t->stageCos + half - 1;
        const float* wi = t->stageSin + half - 1;
        for (int start = 0; start < kHalf; start += 2 * half)
            for (int j = 0; j < half; j += 4) {
                const int a = start + j, b = a + half;
                const Float4 br = load4(re + b), bi = load4(im + b), cr = load4(wr + j), ci = load4(wi + j);
                const Float4 tr = br * cr - bi * ci, ti = br * ci + bi * cr;
                const Float4 ar = load4(re + a), ai = load4(im + a);
                store4(re + b, ar - tr);
                store4(im + b, ai - ti);
                store4(re + a, ar + tr);
                store4(im + a, ai + ti);
            }
    }
}

Float4 reversed(Float4 v) { return __builtin_shufflevector(v, v, 3, 2, 1, 0); }

}  // namespace

void forwardRealPeln(const Fft256Tables* t, const float* x, float* re, float* im) {
    float zr[kHalf + 4], zi[kHalf + 4];
    for (int m = 0; m < kHalf; m += 4) {
        const Float4 lo = load4(x + 2 * m), hi = load4(x + 2 * m + 4);
        store4(zr + m, __builtin_shufflevector(lo, hi, 0, 2, 4, 6));
        store4(zi + m, __builtin_shufflevector(lo, hi, 1, 3, 5, 7));
    }
    fft128(t, zr, zi);
    zr[kHalf] = zr[0], zi[kHalf] = zi[0];  // Z is periodic: Z[M - 0] = Z[0]
    re[kHalf] = zr[0] - zi[0], im[kHalf] = 0.0f;
    // Even part E = (Z[k] + conj Z[M-k]) / 2, odd part O = (Z[k] - conj Z[M-k]) / 2i,
    // X[k] = E + w^k O with w = e^(-2 pi i / 256); four bins at a time.
    for (int k = 0; k < kHalf; k += 4) {
        const Float4 pr = load4(zr + k), pi = load4(zi + k);
        const Float4 qr = reversed(load4(zr + kHalf - k - 3)), qi = -reversed(load4(zi + kHalf - k - 3));
        const Float4 er = 0.5f * (pr + qr), ei = 0.5f * (pi + qi);
        const Float4 dr = 0.5f * (pr - qr), di = 0.5f * (pi - qi);  // O = (dr + i di) / i = di - i dr
        const Float4 wr = load4(t->cosine + k), wi = -load4(t->sine + k);
        store4(re + k, er + (di * wr + dr * wi));
        store4(im + k, ei + (di * wi - dr * wr));
    }
}

void inverseRealPeln(const Fft256Tables* t, const float* re, const float* im, float* x) {
    // Z'[k] = (X[k] + conj X[M-k]) + i (X[k] - conj X[M-k]) w^-k holds the
    // even outputs in its real parts and the odd ones in its imaginary
    // parts after an inverse 128-point transform, done as a forward one
    // on the conjugate.
    float zr[kHalf], zi[kHalf];
    for (int k = 0; k < kHalf; k += 4) {
        const Float4 pr = load4(re + k), pi = load4(im + k);
        const Float4 qr = reversed(load4(re + kHalf - k - 3)), qi = -reversed(load4(im + kHalf - k - 3));
        const Float4 sr = pr + qr, si = pi + qi, dr = pr - qr, di = pi - qi;
        const Float4 wr = load4(t->cosine + k), wi = load4(t->sine + k);  // w^-k
        const Float4 odr = dr * wr - di * wi, odi = dr * wi + di * wr;
        store4(zr + k, sr - odi);
        store4(zi + k, -(si + odr));  // conjugated for the forward transform
    }
    fft128(t, zr, zi);
    for (int m = 0; m < kHalf; m += 4) {
        const Float4 r = load4(zr + m), i = -load4(zi + m);
        store4(x + 2 * m, __builtin_shufflevector(r, i, 0, 4, 1, 5));
        store4(x + 2 * m + 4, __builtin_shufflevector(r, i, 2, 6, 3, 7));
    }
}

}  // namespace zef::peln
