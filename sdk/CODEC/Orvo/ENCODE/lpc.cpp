// The predictor: autocorrelation of the Hamming-windowed span, a lag
// window, Levinson-Durbin and a bandwidth expansion; its line spectral
// pairs by a Chebyshev root search.
#include <algorithm>
#include <array>
#include <cmath>

#include "frontend.h"
#include "lanes.h"

namespace zef::orvo {
namespace {

// Grid in x = cos w, uniform in w so that close roots near either end are
// still told apart.
constexpr int kLspGrid = 256;
const std::array<double, kLspGrid + 1>& lspGrid() {
    static const std::array<double, kLspGrid + 1> g = [] {
        std::array<double, kLspGrid + 1> t{};
        for (int i = 0; i <= kLspGrid; ++i) t[i] = std::cos(kPi * i / kLspGrid);
        return t;
    }();
    return g;
}

// sum d[k] T_k(x) by Clenshaw's recurrence at 2 kPairs points x at once,
// one lane each.
template <int kPairs>
void chebyshevLanes(const double d[6], const lanes::Double2* x, lanes::Double2* out) {
    lanes::Double2 b1[kPairs] = {}, b2[kPairs] = {};
    for (int k = 5; k >= 1; --k)
        #pragma GCC unroll 8
        for (int p = 0; p < kPairs; ++p) {
            const lanes::Double2 b0 = 2 * x[p] * b1[p] - b2[p] + d[k];
            b2[p] = b1[p];
            b1[p] = b0;
        }
    #pragma GCC unroll 8
    for (int p = 0; p < kPairs; ++p) out[p] = x[p] * b1[p] - b2[p] + d[0];
}

int chebyshevRoots(const double d[6], double* roots) {
    const auto& grid = lspGrid();
    // The grid's values first, eight points at a time (the search below
    // reads them in order and stops at the fifth root).
    constexpr int kBlock = 8;
    double f[kLspGrid + kBlock];
    for (int g = 0; g <= kLspGrid; g += kBlock) {
        lanes::Double2 x[kBlock / 2], v[kBlock / 2];
        #pragma GCC unroll 8
        for (int p = 0; p < kBlock / 2; ++p)
            x[p] = lanes::Double2{grid[std::min(g + 2 * p, kLspGrid)], grid[std::min(g + 2 * p + 1, kLspGrid)]};
        chebyshevLanes<kBlock / 2>(d, x, v);
        #pragma GCC unroll 8
        for (int p = 0; p < kBlock / 2; ++p) f[g + 2 * p] = v[p][0], f[g + 2 * p + 1] = v[p][1];
    }
    double lo[6], hi[6], fhi[6];
    int count = 0;
    for (int g = 1; g <= kLspGrid && count < 5; ++g)
        if ((f[g - 1] < 0) != (f[g] < 0)) {
            hi[count] = grid[g - 1];
            lo[count] = grid[g];
            fhi[count] = f[g - 1];
            ++count;
        }
    // Every bracket is halved twenty times; the brackets are independent,
    // so all are halved side by side, two to a pair.
    if (count == 0) return 0;
    for (int c = count; c < 6; ++c) lo[c] = lo[0], hi[c] = hi[0], fhi[c] = fhi[0];  // spare lanes
    lanes::Double2 l[3], h[3], fh[3];
    for (int p = 0; p < 3; ++p) {
        l[p] = lanes::Double2{lo[2 * p], lo[2 * p + 1]};
        h[p] = lanes::Double2{hi[2 * p], hi[2 * p + 1]};
        fh[p] = lanes::Double2{fhi[2 * p], fhi[2 * p + 1]};
    }
    for (int it = 0; it < 20; ++it) {
        lanes::Double2 mid[3], fm[3];
        #pragma GCC unroll 8
        for (int p = 0; p < 3; ++p) mid[p] = 0.5 * (l[p] + h[p]);
        chebyshevLanes<3>(d, mid, fm);
        #pragma GCC unroll 8
        for (int p = 0; p < 3; ++p) {
            const auto same = (fm[p] < 0) == (fh[p] < 0);
            h[p] = same ? mid[p] : h[p];
            fh[p] = same ? fm[p] : fh[p];
            l[p] = same ? l[p] : mid[p];
        }
    }
    for (int c = 0; c < count; ++c)
        roots[c] = std::acos(std::clamp(0.5 * (l[c / 2][c % 2] + h[c / 2][c % 2]), -1.0, 1.0));
    return count;
}

double levinson(const double* r, float a[kLpcOrder]) {
    double cur[kLpcOrder + 1] = {}, next[kLpcOrder + 1];
    double err = r[0];
    for (int i = 1; i <= kLpcOrder; ++i) {
        double acc = r[i];
        for (int j = 1; j < i; ++j) acc -= cur[j] * r[i - j];
        const double k = err > 0 ? acc / err : 0.0;
        std::copy(cur, cur + kLpcOrder + 1, next);
        next[i] = k;
        for (int j = 1; j < i; ++j) next[j] = cur[j] - k * cur[i - j];
        std::copy(next, next + kLpcOrder + 1, cur);
        err *= 1.0 - k * k;
        if (err <= 0) return 0.0;
    }
    for (int k = 0; k < kLpcOrder; ++k) a[k] = float(cur[k + 1]);
    return err;
}

// The predictor of raw autocorrelation lags 0..10: a 60 Hz lag window (no
// razor-sharp poles), a floor for the spectrum's valleys and a slight
// bandwidth expansion.
bool windowedPredictor(double r[kLpcOrder + 1], float a[kLpcOrder]) {
    for (int k = 0; k <= kLpcOrder; ++k) {
        const double lag = 2 * kPi * 60.0 * k / 8000.0;
        r[k] = r[k] * std::exp(-0.5 * lag * lag);
    }
    if (!(r[0] > 1e-3)) return false;
    r[0] *= 1.0001;
    if (levinson(r, a) <= 0.0) return false;
    double g = 1.0;
    for (int k = 0; k < kLpcOrder; ++k) a[k] = float(a[k] * (g *= 0.994));
    return true;
}

}  // namespace

const float* lpcWindow() {
    static const std::array<float, kEncLpcWindow> w = [] {
        std::array<float, kEncLpcWindow> t{};
        for (int i = 0; i < kEncLpcWindow; ++i) t[i] = float(0.54 - 0.46 * std::cos(2 * kPi * i / (kEncLpcWindow - 1)));
        return t;
    }();
    return w.data();
}

bool lpcAnalysis(const float* x, int n, float a[kLpcOrder]) {
    // Twelve zeros ahead of the windowed samples: the lags' sums can all
    // start at sample 0 (a product with a zero adds nothing, exactly).
    constexpr int kLead = 12;
    float padded[kLead + kEncHistory] = {};
    float* w = padded + kLead;
    n = std::clamp(n, 0, kEncHistory);
    const float* table = lpcWindow();
    for (int i = 0; i < n; ++i)
        w[i] = x[i] * (n == kEncLpcWindow ? table[i] : float(0.54 - 0.46 * std::cos(2 * kPi * i / (n - 1))));
    // Lags 2g + 1 and 2g side by side, each summed in sample order.
    lanes::Double2 sums[6] = {};
    for (int i = 0; i < n; ++i) {
        const lanes::Double2 wi = lanes::splat(w[i]);
        #pragma GCC unroll 8
        for (int g = 0; g < 6; ++g) sums[g] += wi * lanes::widen2(w + i - 2 * g - 1);
    }
    double r[kLpcOrder + 1];
    for (int k = 0; k <= kLpcOrder; ++k) r[k] = sums[k / 2][1 - k % 2];
    return windowedPredictor(r, a);
}

bool lpcOfRaisedBand(const Fft256Tables* fft, const float* x, int fromBin, double raise, float a[kLpcOrder]) {
    const float* table = lpcWindow();
    float re[kFft256Size] = {}, im[kFft256Size] = {};
    for (int i = 0; i < kEncLpcWindow; ++i) re[i] = x[i] * table[i];
    fft256(fft, re, im);
    constexpr int kHalf = kFft256Size / 2;
    double power[kHalf + 1];
    for (int k = 0; k <= kHalf; ++k) power[k] = double(re[k]) * re[k] + double(im[k]) * im[k];
    // What the raise adds follows the band's power over five bins, not each
    // bin's: raising the fine structure of a weak band made the predictor of
    // a steady vowel change from frame to frame with where its pulses fell.
    constexpr int kReach = 2;
    double added[kHalf + 1] = {};
    for (int k = fromBin; k <= kHalf; ++k) {
        const int lo = std::max(0, k - kReach), hi = std::min(kHalf, k + kReach);
        double sum = 0;
        for (int j = lo; j <= hi; ++j) sum += power[j];
        added[k] = (raise - 1.0) * sum / (hi - lo + 1);
    }
    for (int k = 0; k <= kHalf; ++k) power[k] += added[k];
    // The autocorrelation is the power spectrum's cosine series; 256 points
    // hold the 240 windowed samples' lags 0..10 without wrapping round.
    static const auto cosines = [] {
        std::array<std::array<double, kHalf + 1>, kLpcOrder + 1> t{};
        for (int lag = 0; lag <= kLpcOrder; ++lag)
            for (int k = 0; k <= kHalf; ++k) t[lag][k] = (k == 0 || k == kHalf ? 1.0 : 2.0) * std::cos(kPi * k * lag / kHalf);
        return t;
    }();
    double r[kLpcOrder + 1];
    for (int lag = 0; lag <= kLpcOrder; ++lag) {
        double s = 0;
        for (int k = 0; k <= kHalf; ++k) s += cosines[lag][k] * power[k];
        r[lag] = s;
    }
    return windowedPredictor(r, a);
}

bool lpcFromAutocorrelation(const double r[kLpcOrder + 1], float a[kLpcOrder]) {
    return r[0] > 0 && levinson(r, a) > 0.0;
}

bool lpcToLsp(const float a[kLpcOrder], float lsp[kLpcOrder]) {
    // P(z) = A(z) + z^-11 A(1/z) and Q(z) = A(z) - z^-11 A(1/z) without
    // their trivial roots at z = -1 and z = 1: symmetric polynomials whose
    // values on the unit circle are sums of cos(k w), Chebyshev in cos w.
    double c[kLpcOrder + 2] = {1.0};
    for (int k = 1; k <= kLpcOrder; ++k) c[k] = -a[k - 1];
    double p[6], q[6];
    for (int i = 0; i <= 5; ++i) {
        const double sum = c[i] + c[kLpcOrder + 1 - i], diff = c[i] - c[kLpcOrder + 1 - i];
        p[i] = sum - (i ? p[i - 1] : 0.0);
        q[i] = diff + (i ? q[i - 1] : 0.0);
    }
    double dp[6], dq[6];
    for (int k = 1; k <= 5; ++k) dp[k] = 2 * p[5 - k], dq[k] = 2 * q[5 - k];
    dp[0] = p[5];
    dq[0] = q[5];
    double roots[kLpcOrder];
    int n = chebyshevRoots(dp, roots);
    n += chebyshevRoots(dq, roots + n);
    if (n != kLpcOrder) return false;
    std::sort(roots, roots + kLpcOrder);
    for (int k = 0; k < kLpcOrder; ++k) lsp[k] = float(roots[k] * 4000.0 / kPi);
    return true;
}

}  // namespace zef::orvo
