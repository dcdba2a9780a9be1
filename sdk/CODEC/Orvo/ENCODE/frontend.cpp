// The shared analysis front end: DC blocker, pitch from the normalised
// autocorrelation (a half-rate search refined at full rate), band
// harmonicity for the voicing cut-off, LPC by Levinson-Durbin and its line
// spectral pairs by a Chebyshev root search.
#include "frontend.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "lanes.h"

namespace zef::orvo {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kMinLag = 16, kMaxLag = 125;
constexpr int kBandSpan = 160;                    // the same for the band strengths
constexpr float kHzPerVoicingCode = 248.0f;       // 3720 Hz / 15

// ---- filters -------------------------------------------------------------

struct Biquad {
    float b0, b1, b2, a1, a2;
};

Biquad butterworth(double hz, bool highPass) {
    const double w = 2 * kPi * hz / 8000.0, c = std::cos(w), alpha = std::sin(w) / std::sqrt(2.0);
    const double a0 = 1 + alpha, g = highPass ? (1 + c) / 2 : (1 - c) / 2;
    return {float(g / a0), float((highPass ? -2 * g : 2 * g) / a0), float(g / a0), float(-2 * c / a0),
            float((1 - alpha) / a0)};
}

// Each voicing band is two second-order sections: 4th-order low-pass,
// 2nd-order high-pass plus 2nd-order low-pass, or 4th-order high-pass.
const std::array<std::array<Biquad, 2>, kVoicingBands>& bandFilters() {
    static const std::array<std::array<Biquad, 2>, kVoicingBands> filters = {{
        {butterworth(1000, false), butterworth(1000, false)},
        {butterworth(1000, true), butterworth(2000, false)},
        {butterworth(2000, true), butterworth(3000, false)},
        {butterworth(3000, true), butterworth(3000, true)},
    }};
    return filters;
}


const std::array<float, kEncLpcWindow>& hamming() {
    static const std::array<float, kEncLpcWindow> w = [] {
        std::array<float, kEncLpcWindow> t{};
        for (int i = 0; i < kEncLpcWindow; ++i) t[i] = float(0.54 - 0.46 * std::cos(2 * kPi * i / (kEncLpcWindow - 1)));
        return t;
    }();
    return w;
}

// ---- pitch ---------------------------------------------------------------

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

// ---- LSPs ----------------------------------------------------------------

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

float rmsOf(const float* x, int n) {
    double s = 0;
    for (int i = 0; i < n; ++i) s += double(x[i]) * x[i];
    return float(std::sqrt(s / n));
}

// Shifts the histories by one frame and appends the new frame, DC-free and
// band-split.  Returns the new frame's RMS.
float pushFrame(FrontEnd* fe, const int16_t pcm[kEncFrame]) {
    constexpr size_t kKeep = sizeof(float) * (kEncHistory - kEncFrame);
    std::memmove(fe->history, fe->history + kEncFrame, kKeep);
    float* frame = fe->history + kEncHistory - kEncFrame;
    for (int i = 0; i < kEncFrame; ++i) {
        const float x = pcm[i];
        fe->dcOut = x - fe->dcIn + 0.995f * fe->dcOut;  // corner near 6 Hz
        fe->dcIn = x;
        frame[i] = fe->dcOut;
    }
    // The four bands' filters run side by side, one lane each; a section
    // (transposed direct form II) is y = b0 x + s0, s0 = b1 x - a1 y + s1,
    // s1 = b2 x - a2 y.
    using Lanes = float __attribute__((vector_size(kVoicingBands * sizeof(float))));
    static_assert(kVoicingBands == 4);
    const auto& filters = bandFilters();
    Lanes b0[2], b1[2], b2[2], a1[2], a2[2], s0[2], s1[2];
    for (int st = 0; st < 2; ++st)
        for (int b = 0; b < kVoicingBands; ++b) {
            const Biquad& f = filters[b][st];
            b0[st][b] = f.b0, b1[st][b] = f.b1, b2[st][b] = f.b2, a1[st][b] = f.a1, a2[st][b] = f.a2;
            s0[st][b] = fe->bandMemory[b][st][0];
            s1[st][b] = fe->bandMemory[b][st][1];
        }
    for (int b = 0; b < kVoicingBands; ++b) std::memmove(fe->band[b], fe->band[b] + kEncFrame, kKeep);
    for (int i = 0; i < kEncFrame; ++i) {
        Lanes x = Lanes{} + frame[i];
        for (int st = 0; st < 2; ++st) {
            const Lanes y = b0[st] * x + s0[st];
            s0[st] = b1[st] * x - a1[st] * y + s1[st];
            s1[st] = b2[st] * x - a2[st] * y;
            x = y;
        }
        for (int b = 0; b < kVoicingBands; ++b) fe->band[b][kEncHistory - kEncFrame + i] = x[b];
    }
    for (int st = 0; st < 2; ++st)
        for (int b = 0; b < kVoicingBands; ++b) {
            fe->bandMemory[b][st][0] = s0[st][b];
            fe->bandMemory[b][st][1] = s1[st][b];
        }
    return rmsOf(frame, kEncFrame);
}

// Harmonicity of each band: its normalised correlation with itself one
// period earlier, the fractional delay made by linear interpolation (whose
// loss of level within one narrow band the normalisation takes out).
void bandStrengths(const FrontEnd* fe, float period, float strength[kVoicingBands]) {
    const int lag = std::clamp(int(period), kMinLag, kMaxLag - 1);
    const float frac = std::clamp(period - float(lag), 0.0f, 1.0f);
    for (int b = 0; b < kVoicingBands; ++b) {
        const float* y = fe->band[b];
        double xy = 0, xx = 0, yy = 0;
        for (int i = kEncHistory - kBandSpan; i < kEncHistory; ++i) {
            const double d = (1.0f - frac) * y[i - lag] + frac * y[i - lag - 1];
            xy += y[i] * d;
            xx += double(y[i]) * y[i];
            yy += d * d;
        }
        strength[b] = xx > 0 && yy > 0 ? float(std::max(0.0, xy / std::sqrt(xx * yy))) : 0.0f;
    }
}

float weightedLevel(const float* x) {
    const auto& w = hamming();
    double s = 0, ww = 0;
    for (int i = 0; i < kEncLpcWindow; ++i) {
        s += double(w[i]) * w[i] * x[i] * x[i];
        ww += double(w[i]) * w[i];
    }
    return float(std::sqrt(s / ww));
}

}  // namespace

void initFrontEnd(FrontEnd* fe) {
    std::memset(fe, 0, sizeof(FrontEnd));
    std::copy(kBackgroundLsp, kBackgroundLsp + kLpcOrder, fe->prevLsp);
}

bool lpcAnalysis(const float* x, int n, float a[kLpcOrder]) {
    // Twelve zeros ahead of the windowed samples: the lags' sums can all
    // start at sample 0 (a product with a zero adds nothing, exactly).
    constexpr int kLead = 12;
    float padded[kLead + kEncHistory] = {};
    float* w = padded + kLead;
    n = std::clamp(n, 0, kEncHistory);
    const auto& table = hamming();
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
    for (int k = 0; k <= kLpcOrder; ++k) {
        const double s = sums[k / 2][1 - k % 2];
        const double lag = 2 * kPi * 60.0 * k / 8000.0;  // 60 Hz lag window: no razor-sharp poles
        r[k] = s * std::exp(-0.5 * lag * lag);
    }
    if (!(r[0] > 1e-3)) return false;
    r[0] *= 1.0001;  // a floor for the spectrum's valleys
    if (levinson(r, a) <= 0.0) return false;
    double g = 1.0;
    for (int k = 0; k < kLpcOrder; ++k) a[k] = float(a[k] * (g *= 0.994));
    return true;
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

int voicingCode(float correlation, const float bandStrength[kVoicingBands], float level) {
    if (level < kSilenceRms || correlation < 0.45f) return 0;
    // Each band counts as harmonic in proportion to its strength between
    // the two limits; the cut-off stops inside the first band that is not.
    constexpr float kNoisy = 0.7f, kHarmonic = 0.98f, kBandHz = 1000.0f;
    float cutoff = 0.0f;
    for (int b = 0; b < kVoicingBands; ++b) {
        const float part = std::clamp((bandStrength[b] - kNoisy) / (kHarmonic - kNoisy), 0.0f, 1.0f);
        cutoff += part * kBandHz;
        if (part < 1.0f) break;
    }
    return std::clamp(int(std::lround(cutoff / kHzPerVoicingCode)), 0, kVoicingCodes - 1);
}

void analyseFrame(FrontEnd* fe, const int16_t pcm[kEncFrame], FrameAnalysis* out) {
    out->rms = pushFrame(fe, pcm);
    const float* window = fe->history + kEncHistory - kEncLpcWindow;
    out->level = weightedLevel(window);
    out->period = estimatePitch(fe->history, kEncHistory, fe->prevPeriod, &out->correlation);
    bandStrengths(fe, out->period, out->bandStrength);
    out->voicingCode = voicingCode(out->correlation, out->bandStrength, out->level);
    if (out->voicingCode > 0) fe->prevPeriod = out->period;

    AnalysedFrame& f = out->frame;
    // Unvoiced frames keep the last voiced pitch: the noise bands stay put.
    f.period = out->voicingCode > 0 || fe->prevPeriod <= 0 ? out->period : fe->prevPeriod;
    f.voicing = float(out->voicingCode) / float(kVoicingCodes - 1);
    f.haveLpc = out->level >= kSilenceRms && lpcAnalysis(window, kEncLpcWindow, f.a);
    if (!f.haveLpc) std::fill(f.a, f.a + kLpcOrder, 0.0f);
}

void frameLsp(FrontEnd* fe, const AnalysedFrame& frame, float lsp[kLpcOrder]) {
    if (frame.haveLpc && lpcToLsp(frame.a, lsp) && lsp[0] > 0.0f && lsp[kLpcOrder - 1] < 4000.0f)
        std::copy(lsp, lsp + kLpcOrder, fe->prevLsp);
    else
        std::copy(fe->prevLsp, fe->prevLsp + kLpcOrder, lsp);
}

void filterPower(const Fft256Tables* fft, const float a[kLpcOrder], float power[kBins + 1]) {
    float re[kFft256Size] = {1.0f}, im[kFft256Size] = {};
    for (int k = 0; k < kLpcOrder; ++k) re[k + 1] = -a[k];
    fft256(fft, re, im);
    for (int k = 0; k <= kBins; ++k)
        power[k] = float(1.0 / std::max(double(re[k]) * re[k] + double(im[k]) * im[k], 1e-12));
}

float powerAt(const float power[kBins + 1], double hz) {
    const double bin = std::clamp(hz / kHzPerBin, 0.0, double(kBins));
    const int i = std::min(int(bin), kBins - 1);
    return float(power[i] + (power[i + 1] - power[i]) * (bin - i));
}

}  // namespace zef::orvo
