// Line spectral pairs to predictor coefficients, their interpolation across
// the frame, and the ten-pole synthesis filter.
#include <algorithm>
#include <cmath>

#include "orvo.h"

namespace zef::orvo {

void lsp_lpc(const float lsp[kLpcOrder], float a[kLpcOrder]) {
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
        for (int i = d + 2; i >= 0; --i) {
            double v = poly[i];
            if (i >= 1) v += c * poly[i - 1];
            if (i >= 2) v += poly[i - 2];
            poly[i] = v;
        }
        d += 2;
    }
    for (int k = 1; k <= kLpcOrder; ++k) a[k - 1] = float(-(p[k] + q[k]) / 2.0);
}

void lpc_int(const float lsp[kLpcOrder], SynthState* syn) {
    for (int j = 0; j < kSubframes; ++j) {
        const float lambda = float(j) / float(kSubframes);
        float mixed[kLpcOrder];
        for (int k = 0; k < kLpcOrder; ++k) mixed[k] = syn->prevLsp[k] + (lsp[k] - syn->prevLsp[k]) * lambda;
        // Only pairs inverted by more than 45 Hz are repaired.
        for (int k = 1; k < kLpcOrder; ++k)
            if (mixed[k] + 45.0f < mixed[k - 1]) mixed[k] = mixed[k - 1] + 45.0f;
        lsp_lpc(mixed, syn->subLpc[j]);
    }
    std::copy(lsp, lsp + kLpcOrder, syn->prevLsp);
}

namespace {

int16_t toPcm(float s) {
    if (s > 32767.0f) return 32767;
    if (s < -32768.0f) return -32768;
    if (s != s) return 0;
    return int16_t(s);  // truncation toward zero
}

}  // namespace

void lpc_syn_flt(ZefControlBlock* cb) {
    OrvoState* st = orvoState(cb);
    SynthState& syn = st->syn;
    const int N = syn.N;
    // y[0 .. 9] is the filter memory (oldest first), y[10 + n] the frame.
    float y[kLpcOrder + kMaxFrame];
    std::copy(syn.filterMemory, syn.filterMemory + kLpcOrder, y);
    for (int j = 0, n = 0; j < kSubframes; ++j) {
        const float* a = syn.subLpc[j];
        for (const int end = n + subframeLength(N, j); n < end; ++n) {
            double acc = syn.excitation[n];
            for (int k = 1; k <= kLpcOrder; ++k) acc += double(a[k - 1]) * y[kLpcOrder + n - k];
            y[kLpcOrder + n] = float(acc);
            cb->lpOutput[n] = toPcm(y[kLpcOrder + n] * 1.0f);
        }
    }
    std::copy(y + N, y + N + kLpcOrder, syn.filterMemory);
    // A filter that has run away would stay so for the whole session.
    for (float& m : syn.filterMemory)
        if (!std::isfinite(m)) std::fill(syn.filterMemory, syn.filterMemory + kLpcOrder, 0.0f);
}

}  // namespace zef::orvo
