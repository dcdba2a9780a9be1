// Line spectral pairs to predictor coefficients, and the ten-pole synthesis
// filter whose coefficients move from the previous segment's LSPs to the
// current ones in subframes of about 18 samples.
#include <algorithm>
#include <cmath>

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

int16_t toPcm(float s) {
    if (s > 32767.0f) return 32767;
    if (s < -32768.0f) return -32768;
    if (s != s) return 0;
    return int16_t(s);  // truncation toward zero
}

// LSPs a fraction lambda of the way from the previous segment's to the
// current ones, with pairs inverted by more than 45 Hz repaired.
void subframeLsp(const float* from, const float* to, float lambda, float* lsp) {
    for (int k = 0; k < kLpcOrder; ++k) lsp[k] = from[k] + (to[k] - from[k]) * lambda;
    for (int k = 1; k < kLpcOrder; ++k)
        if (lsp[k] + 45.0f < lsp[k - 1]) lsp[k] = lsp[k - 1] + 45.0f;
}

}  // namespace

void lpcsynPeln(const float segLsp[kLpcOrder], int16_t* out, float* excitation, FilterState* filt, int count) {
    const int K = std::clamp(count, 0, kMaxOutput);
    // excitation[0 .. 9] takes the filter memory (oldest first), so that the
    // output y overwrites the excitation e in place: y[m] = e[m] + sum a_k y[m - k].
    float* y = excitation;
    std::copy(filt->memory, filt->memory + kLpcOrder, y);
    // The outputs as the sums read them (widened once, not ten times).
    double past[kLpcOrder + kMaxOutput];
    std::copy(y, y + kLpcOrder, past);
    const int subframes = int(K / 18.0 + 0.999999999);
    const int length = subframes ? K / subframes : 0;
    for (int j = 0, b = 0; j < subframes; ++j) {
        const int n = j < subframes - 1 ? length : K - b;
        subframeLsp(filt->prevLsp, segLsp, float((b + n * 0.5) / K), filt->lsp);
        lsp_to_lpcPeln(filt->lsp, filt->lpc);
        double lpc[kLpcOrder];
        std::copy(filt->lpc, filt->lpc + kLpcOrder, lpc);
        for (int m = kLpcOrder + b; m < kLpcOrder + b + n; ++m) {
            // Oldest output first: the newest, just computed, comes in
            // last, so the sum of the others does not wait for it.
            double acc = y[m];
#pragma GCC unroll 10
            for (int k = kLpcOrder; k >= 1; --k) acc += lpc[k - 1] * past[m - k];
            y[m] = float(acc);
            past[m] = y[m];
            out[m - kLpcOrder] = toPcm(y[m]);
        }
        b += n;
    }
    std::copy(segLsp, segLsp + kLpcOrder, filt->prevLsp);
    std::copy(y + K, y + K + kLpcOrder, filt->memory);
    // A filter that has run away would stay so for the whole session.
    if (!std::all_of(filt->memory, filt->memory + kLpcOrder, [](float m) { return std::isfinite(m); }))
        std::fill(filt->memory, filt->memory + kLpcOrder, 0.0f);
}

}  // namespace zef::peln
