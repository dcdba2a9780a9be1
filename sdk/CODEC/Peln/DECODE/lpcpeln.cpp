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
    int degree[2] = {1, 1};
    for (int k = 0; k < kLpcOrder; ++k) {
        double* poly = (k % 2) ? q : p;
        int& d = degree[k % 2];
        const double c = -2.0 * std::cos(2.0 * pi * lsp[k] / 8000.0);
        for (int i = d + 2; i >= 1; --i) poly[i] += c * poly[i - 1] + (i >= 2 ? poly[i - 2] : 0.0);
        d += 2;
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
    const int subframes = int(K / 18.0 + 0.999999999);
    const int length = subframes ? K / subframes : 0;
    for (int j = 0, b = 0; j < subframes; ++j) {
        const int n = j < subframes - 1 ? length : K - b;
        subframeLsp(filt->prevLsp, segLsp, float((b + n * 0.5) / K), filt->lsp);
        lsp_to_lpcPeln(filt->lsp, filt->lpc);
        for (int m = kLpcOrder + b; m < kLpcOrder + b + n; ++m) {
            double acc = y[m];
            for (int k = 1; k <= kLpcOrder; ++k) acc += double(filt->lpc[k - 1]) * y[m - k];
            y[m] = float(acc);
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
