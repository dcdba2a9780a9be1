// Pitch from the normalised autocorrelation of a smoothed copy of the
// input: a half-rate search over every lag, refined at full rate round the
// winner, with a parabola through the peak for the fraction.
#include <algorithm>
#include <cmath>

#include "frontend.h"
#include "lanes.h"

namespace zef::orvo {
namespace {

// Pitch works on a smoothed copy: the formants matter less and the first
// harmonic more, which keeps the estimate off the formant's period.
void smooth(const float* x, int n, float* y) {
    float a = 0.0f, b = 0.0f;
    for (int i = 0; i < n; ++i) {
        a = 0.6f * a + 0.4f * x[i];
        b = 0.6f * b + 0.4f * a;
        y[i] = b;
    }
}

// Normalised correlation of the last `span` samples of y with themselves
// `lag` samples earlier.
double correlationAt(const float* y, int n, int span, int lag) {
    double xy = 0, xx = 0, yy = 0;
    for (int i = n - span; i < n; ++i) {
        xy += double(y[i]) * y[i - lag];
        xx += double(y[i]) * y[i];
        yy += double(y[i - lag]) * y[i - lag];
    }
    return xx > 0 && yy > 0 ? xy / std::sqrt(xx * yy) : 0.0;
}

// correlationAt for every lag from `from` to `to` into r[lag].  Four lags
// share each pass over the span, one lane each, with correlationAt's
// arithmetic in its order: the figures are the same to the last bit.
template <int kPairs>
void correlationBlock(const float* y, int n, int span, int lag, double xx, double* r) {
    // Lanes: lags lag + 2 kPairs - 1 down to lag, two per pair, oldest first.
    using lanes::Double2;
    Double2 xy[kPairs] = {}, yy[kPairs] = {};
    for (int i = n - span; i < n; ++i) {
        const Double2 yi = lanes::splat(y[i]);
        #pragma GCC unroll 8
        for (int p = 0; p < kPairs; ++p) {
            const Double2 older = lanes::widen2(y + i - lag - 2 * kPairs + 1 + 2 * p);
            xy[p] += yi * older;
            yy[p] += older * older;
        }
    }
    for (int p = 0; p < kPairs; ++p)
        for (int e = 0; e < 2; ++e)
            r[lag + 2 * kPairs - 1 - 2 * p - e] = xx > 0 && yy[p][e] > 0 ? xy[p][e] / std::sqrt(xx * yy[p][e]) : 0.0;
}

void correlations(const float* y, int n, int span, int from, int to, double* r) {
    double xx = 0;
    for (int i = n - span; i < n; ++i) xx += double(y[i]) * y[i];
    int lag = from;
    for (; lag + 7 <= to; lag += 8) correlationBlock<4>(y, n, span, lag, xx, r);
    for (; lag + 3 <= to; lag += 4) correlationBlock<2>(y, n, span, lag, xx, r);
    for (; lag <= to; ++lag) r[lag] = correlationAt(y, n, span, lag);
}

// Best lag on the half-rate signal (the smoothing has removed what would
// alias), preferring the shortest sub-multiple that correlates nearly as well.
int coarseLag(const float* y, int n, float prevPeriod) {
    constexpr int kMinHalf = kMinLag / 2, kMaxHalf = (kMaxLag + 1) / 2;
    float d[kEncHistory / 2];
    const int m = n / 2;
    for (int i = 0; i < m; ++i) d[i] = y[n - 2 * m + 2 * i];
    double r[kMaxHalf + 2] = {};
    int best = kMinHalf;
    correlations(d, m, m - kMaxHalf, kMinHalf, kMaxHalf, r);
    for (int lag = kMinHalf; lag <= kMaxHalf; ++lag)
        if (r[lag] > r[best]) best = lag;
    for (int k = 6; k >= 2; --k) {
        const int sub = int(std::lround(double(best) / k));
        if (sub < kMinHalf) continue;
        int peak = sub;
        for (int dl = -1; dl <= 1; ++dl)
            if (sub + dl >= kMinHalf && sub + dl <= kMaxHalf && r[sub + dl] > r[peak]) peak = sub + dl;
        if (r[peak] >= 0.85 * r[best]) {
            best = peak;
            break;
        }
    }
    // Near-equal candidates: stay with the last frame's pitch (no jitter).
    const int prev = int(std::lround(prevPeriod / 2));
    if (prev >= kMinHalf && prev <= kMaxHalf && std::abs(prev - best) > 1 && r[prev] >= 0.97 * r[best]) best = prev;
    return 2 * best;
}

}  // namespace

int pitchCode(float period) {
    const double code = (125.0 - double(period)) * 255.0 / 109.0;
    return std::clamp(int(std::lround(code)), 0, 255);
}

float estimatePitch(const float* x, int n, float prevPeriod, float* correlation) {
    float y[kEncHistory];
    n = std::clamp(n, 0, kEncHistory);
    const int span = n - kMaxLag - 1;
    if (span < 8) {
        *correlation = 0.0f;
        return kMaxLag;
    }
    smooth(x, n, y);
    const int coarse = coarseLag(y, n, prevPeriod);
    double r[kMaxLag + 2] = {};
    int best = std::max(kMinLag, coarse - 2);
    const int from = std::max(kMinLag - 1, coarse - 3), to = std::min(kMaxLag + 1, coarse + 3);
    correlations(y, n, span, from, to, r);
    for (int lag = from; lag <= to; ++lag) {
        if (lag >= kMinLag && lag <= kMaxLag && std::abs(lag - coarse) <= 2 && r[lag] > r[best]) best = lag;
    }
    double frac = best;
    if (best > kMinLag - 1 && best < kMaxLag + 1) {
        const double den = r[best - 1] - 2 * r[best] + r[best + 1];
        if (den < 0) frac += std::clamp(0.5 * (r[best - 1] - r[best + 1]) / den, -0.5, 0.5);
    }
    *correlation = float(std::max(0.0, r[best]));
    return float(std::clamp(frac, 16.0, 125.0));
}

}  // namespace zef::orvo
