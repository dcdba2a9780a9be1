#include "fft256.h"

#include <cmath>
#include <cstring>

#include "lanes.h"

namespace zef {
namespace {

// Four butterflies at a time: each lane does exactly the scalar butterfly's
// operations, so the output does not depend on how many run at once.
using Lanes = lanes::Float4;
using lanes::load4;
using lanes::store4;

// x[n][k] becomes x[k][n].
void transpose(Lanes x[4]) {
    const Lanes t0 = __builtin_shufflevector(x[0], x[1], 0, 4, 1, 5);
    const Lanes t1 = __builtin_shufflevector(x[0], x[1], 2, 6, 3, 7);
    const Lanes t2 = __builtin_shufflevector(x[2], x[3], 0, 4, 1, 5);
    const Lanes t3 = __builtin_shufflevector(x[2], x[3], 2, 6, 3, 7);
    x[0] = __builtin_shufflevector(t0, t2, 0, 1, 4, 5);
    x[1] = __builtin_shufflevector(t0, t2, 2, 3, 6, 7);
    x[2] = __builtin_shufflevector(t1, t3, 0, 1, 4, 5);
    x[3] = __builtin_shufflevector(t1, t3, 2, 3, 6, 7);
}

}  // namespace

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
    for (int half = 1; half < kFft256Size; half *= 2)
        for (int j = 0; j < half; ++j) {
            t->stageCos[half - 1 + j] = t->cosine[j * (kFft256Size / (2 * half))];
            t->stageSin[half - 1 + j] = -t->sine[j * (kFft256Size / (2 * half))];
        }
}

// x[b] = x[a] - x[b] * w and x[a] = x[a] + x[b] * w, four points at a time,
// with the product's real part re*wr - im*wi and imaginary part
// re*wi + im*wr, in that order.  The weight is one for all lanes (a float)
// or one per lane.
template <class Weight>
static void butterfly(Lanes& ar, Lanes& ai, Lanes& br, Lanes& bi, Weight wr, Weight wi) {
    const Lanes tr = br * wr - bi * wi;
    const Lanes ti = br * wi + bi * wr;
    br = ar - tr;
    bi = ai - ti;
    ar += tr;
    ai += ti;
}

// Radix 2, decimation in time.  Every butterfly is
//     t = x[b] * w,  x[b] = x[a] - t,  x[a] = x[a] + t
// with t's real part re*wr - im*wi and imaginary part re*wi + im*wr, in
// that order (the decoders' output is pinned to these roundings).
void fft256(const Fft256Tables* t, float* re, float* im) {
    // The bit-reversed reordering is read straight into the first two
    // stages, which work on groups of four points: group g takes the points
    // rev6(g) + 0, 128, 64 and 192.  Four groups whose rev6 are c .. c + 3
    // read four neighbouring points each and run side by side, one lane
    // each; the group of lane k is stored at 4 rev6(c + k) = reversed[c + k].
    float inRe[kFft256Size], inIm[kFft256Size];
    std::memcpy(inRe, re, sizeof inRe);
    std::memcpy(inIm, im, sizeof inIm);
    const float w1r = t->stageCos[0], w1i = t->stageSin[0];  // half 1: w = 1
    const float w2r = t->stageCos[2], w2i = t->stageSin[2];  // half 2, j = 1: w = -i
    for (int c = 0; c < kFft256Size / 4; c += 4) {
        Lanes xr[4], xi[4];
        for (int n = 0; n < 4; ++n) {
            const int from = c + (n == 1 ? 128 : n == 2 ? 64 : n == 3 ? 192 : 0);
            xr[n] = load4(inRe + from);
            xi[n] = load4(inIm + from);
        }
        for (int a = 0; a < 4; a += 2) butterfly(xr[a], xi[a], xr[a + 1], xi[a + 1], w1r, w1i);
        for (int a = 0; a < 2; ++a)
            butterfly(xr[a], xi[a], xr[a + 2], xi[a + 2], a ? w2r : w1r, a ? w2i : w1i);
        transpose(xr);
        transpose(xi);
        for (int k = 0; k < 4; ++k) {
            store4(re + t->reversed[c + k], xr[k]);
            store4(im + t->reversed[c + k], xi[k]);
        }
    }
    for (int half = 4; half < kFft256Size; half *= 2) {
        const float* wr = t->stageCos + half - 1;
        const float* wi = t->stageSin + half - 1;
        for (int start = 0; start < kFft256Size; start += 2 * half)
            for (int j = 0; j < half; j += 4) {
                const int a = start + j, b = a + half;
                Lanes ar = load4(re + a), ai = load4(im + a), br = load4(re + b), bi = load4(im + b);
                butterfly(ar, ai, br, bi, load4(wr + j), load4(wi + j));
                store4(re + b, br);
                store4(im + b, bi);
                store4(re + a, ar);
                store4(im + a, ai);
            }
    }
}

}  // namespace zef
