// Line spectral pairs to predictor coefficients, and the ten-pole synthesis
// filter whose coefficients move from the previous segment's LSPs to the
// current ones in subframes of about 18 samples.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "lanes.h"
#include "peln.h"

namespace zef::peln {

void lsp_to_lpcPeln(const float lsp[kLpcOrder], float a[kLpcOrder]) {
    // P(z) = (1 + 1/z) * prod over even k, Q(z) = (1 - 1/z) * prod over odd k
    // of (1 - 2 cos w_k / z + 1/z^2); A(z) = (P + Q) / 2 = 1 - sum a_k / z^k.
    const double pi = 3.141592653;
    double p[kLpcOrder + 2] = {1.0, 1.0};
    double q[kLpcOrder + 2] = {1.0, -1.0};
    // Multiplying a polynomial of degree d by one factor; the two products
    // are independent and grow by two degrees per pair of LSPs.
    auto multiply = [](double* poly, int d, double c) {
        for (int i = d + 2; i >= 2; --i) poly[i] += c * poly[i - 1] + poly[i - 2];
        poly[1] += c * poly[0] + 0.0;
    };
    for (int k = 0; k < kLpcOrder; k += 2) {
        const int d = k + 1;
        multiply(p, d, -2.0 * std::cos(2.0 * pi * lsp[k] / 8000.0));
        multiply(q, d, -2.0 * std::cos(2.0 * pi * lsp[k + 1] / 8000.0));
    }
    for (int k = 1; k <= kLpcOrder; ++k) a[k - 1] = float(-(p[k] + q[k]) / 2.0);
}

namespace {

using lanes::Double2;

using Int4 = int __attribute__((vector_size(4 * sizeof(int))));
using Short4 = int16_t __attribute__((vector_size(4 * sizeof(int16_t))));

// Samples held to 16 bits and truncated toward zero, a NaN as 0; four at a
// time and without branches, which real speech would mispredict.
void toPcm(const float* y, int16_t* out, int count) {
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        const lanes::Float4 v = lanes::load4(y + i);
        const Int4 low = v < -32768.0f, high = v > 32767.0f, inside = (v == v) & ~low & ~high;
        Int4 bits;
        std::memcpy(&bits, &v, sizeof bits);
        bits &= inside;  // a NaN and the lanes beyond the limits become 0.0f, then the limits
        lanes::Float4 held;
        std::memcpy(&held, &bits, sizeof held);
        const Int4 n = __builtin_convertvector(held, Int4) | (low & -32768) | (high & 32767);
        const Short4 pcm = __builtin_convertvector(n, Short4);
        std::memcpy(out + i, &pcm, sizeof pcm);
    }
    for (; i < count; ++i) {
        const float s = y[i], held = std::min(std::max(s, -32768.0f), 32767.0f);
        out[i] = s == s ? int16_t(held) : int16_t(0);
    }
}

// cos(2 pi f / 8000) of two LSPs of f Hz: -sin(x - pi/2) by its series up
// to the 13th power, within 1e-9 over 0 .. 4000 Hz (the predictor is
// rounded to single precision after them); the library's cosine
// only outside that range (an LSP pushed up by the repair of inversions).
Double2 lspCosines(float f0, float f1) {
    const Double2 x = Double2{double(f0), double(f1)} * (2.0 * 3.14159265358979323846 / 8000.0);
    const Double2 t = x - 1.5707963267948966;
    if (!(std::fabs(t[0]) <= 1.5707963267948966 && std::fabs(t[1]) <= 1.5707963267948966))
        return Double2{std::cos(x[0]), std::cos(x[1])};
    const Double2 t2 = t * t;
    const Double2 high = 1.0 / 362880.0 - t2 * (1.0 / 39916800.0 - t2 * (1.0 / 6227020800.0));
    return -t * (1.0 - t2 * (1.0 / 6.0 - t2 * (1.0 / 120.0 - t2 * (1.0 / 5040.0 - t2 * high))));
}

// One factor (1 + c / z + 1/z^2) more on a polynomial of degree D, P in the
// low lane and Q in the high one.
template <int D>
void multiplyPair(Double2* pq, Double2 c) {
#pragma GCC unroll 12
    for (int i = D + 2; i >= 2; --i) pq[i] += c * pq[i - 1] + pq[i - 2];
    pq[1] += c * pq[0];
}

// lsp_to_lpcPeln with the series cosine and the two products side by
// side, for the filter's subframes.
void subframeLpc(const float lsp[kLpcOrder], double a[kLpcOrder]) {
    Double2 pq[kLpcOrder + 2] = {{1.0, 1.0}, {1.0, -1.0}};
    multiplyPair<1>(pq, -2.0 * lspCosines(lsp[0], lsp[1]));
    multiplyPair<3>(pq, -2.0 * lspCosines(lsp[2], lsp[3]));
    multiplyPair<5>(pq, -2.0 * lspCosines(lsp[4], lsp[5]));
    multiplyPair<7>(pq, -2.0 * lspCosines(lsp[6], lsp[7]));
    multiplyPair<9>(pq, -2.0 * lspCosines(lsp[8], lsp[9]));
    // Rounded as lsp_to_lpcPeln rounds them: a sharp resonance is sensitive to the last bit.
    for (int k = 1; k <= kLpcOrder; ++k) a[k - 1] = double(float(-(pq[k][0] + pq[k][1]) / 2.0));
}

// LSPs a fraction lambda of the way from the previous segment's to the
// current ones, with pairs inverted by more than 45 Hz repaired.
void subframeLsp(const float* from, const float* to, float lambda, float* lsp) {
    for (int k = 0; k < kLpcOrder; ++k) lsp[k] = from[k] + (to[k] - from[k]) * lambda;
    for (int k = 1; k < kLpcOrder; ++k)
        if (lsp[k] + 45.0f < lsp[k - 1]) lsp[k] = lsp[k - 1] + 45.0f;
}

// y[m] = e[m] + sum a_k y[m - k] for m = from .. to - 1, two outputs at a
// time: y[m + 1] = e[m + 1] + a_1 e[m] + sum (a_1 a_k + a_(k+1)) y[m - k],
// so that both wait only for the previous pair, which stays in a register,
// and the chain of sums is half as long.  y holds e on entry; past holds
// the outputs unrounded, from - 10 onwards.
void filterRun(const double a[kLpcOrder + 1], float* y, double* past, int from, int to) {
    Double2 c[kLpcOrder];
    for (int k = 0; k < kLpcOrder; ++k) c[k] = Double2{a[k], a[0] * a[k] + a[k + 1]};
    int m = from;
    Double2 last = {past[m - 2], past[m - 1]};
    for (; m + 1 < to; m += 2) {
        const double e0 = y[m], e1 = y[m + 1];
        Double2 acc = {e0, e1 + a[0] * e0};
        // Oldest output first: the newest come in last.
#pragma GCC unroll 8
        for (int k = kLpcOrder; k >= 3; --k) acc += c[k - 1] * lanes::splat(past[m - k]);
        acc += c[1] * lanes::splat(last[0]) + c[0] * lanes::splat(last[1]);
        last = acc;
        past[m] = acc[0];
        past[m + 1] = acc[1];
        y[m] = float(acc[0]);
        y[m + 1] = float(acc[1]);
    }
    for (; m < to; ++m) {
        double acc = y[m];
        for (int k = kLpcOrder; k >= 1; --k) acc += a[k - 1] * past[m - k];
        past[m] = acc;
        y[m] = float(acc);
    }
}

}  // namespace

void lpcsynPeln(const float segLsp[kLpcOrder], int16_t* out, float* excitation, FilterState* filt, int count) {
    const int K = std::clamp(count, 0, kMaxOutput);
    // excitation[0 .. 9] takes the filter memory (oldest first), so that the
    // output y overwrites the excitation e in place.
    float* y = excitation;
    std::copy(filt->memory, filt->memory + kLpcOrder, y);
    double past[kLpcOrder + kMaxOutput];
    std::copy(y, y + kLpcOrder, past);
    const int subframes = int(K / 18.0 + 0.999999999);
    const int length = subframes ? K / subframes : 0;
    for (int j = 0, b = 0; j < subframes; ++j) {
        const int n = j < subframes - 1 ? length : K - b;
        subframeLsp(filt->prevLsp, segLsp, float((b + n * 0.5) / K), filt->lsp);
        double lpc[kLpcOrder + 1];  // a_1 .. a_10, and a_11 = 0 for the pairs' sums
        subframeLpc(filt->lsp, lpc);
        lpc[kLpcOrder] = 0.0;
        filterRun(lpc, y, past, kLpcOrder + b, kLpcOrder + b + n);
        b += n;
    }
    toPcm(y + kLpcOrder, out, K);
    std::copy(segLsp, segLsp + kLpcOrder, filt->prevLsp);
    std::copy(y + K, y + K + kLpcOrder, filt->memory);
    // A filter that has run away would stay so for the whole session.
    if (!std::all_of(filt->memory, filt->memory + kLpcOrder, [](float m) { return std::isfinite(m); }))
        std::fill(filt->memory, filt->memory + kLpcOrder, 0.0f);
}

}  // namespace zef::peln
