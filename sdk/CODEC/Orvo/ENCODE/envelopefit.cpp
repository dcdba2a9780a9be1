// The envelope refit.  On the unit circle the predictor's power response is
// a sum of two products over its LSPs,
//   1/|A|^2 ~ 1 / (cos^2(w/2) prod_even (cos w - cos w_k)^2 + sin^2(w/2) prod_odd (...)^2),
// so the envelope and its derivative by every LSP come without a
// transform.  The lower LSPs, the formants, stay where the autocorrelation
// put them (freeing them makes narrow peaks that hold the power); their
// part of each product is formed once per frame.
#include "envelopefit.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "frontend.h"

namespace zef::orvo {
namespace {

constexpr int kFitLo = 4, kFitBins = 118;  // 125 .. 3781 Hz: the band where speech is heard
constexpr int kFirstFree = 6;            // LSPs 6..9 move: about 2.5 kHz and up
constexpr int kFree = kLpcOrder - kFirstFree;
constexpr double kRadPerHz = 2 * kPi / 8000.0;
constexpr double kDbPerNeper = 10.0 / 2.302585092994046;  // 10 log10(x) per ln(x)
constexpr double kGapHz = 50.0;          // closest two LSPs may come
constexpr double kTopHz = 3900.0;        // the decoder holds the last LSP below this
constexpr double kMaxStepHz = 250.0;     // largest move of one LSP in one step
constexpr double kFloorDb = 60.0;        // the target is not followed deeper than this below its peak
constexpr int kSteps = 4;                // trial steps per frame

struct Bin {
    double cosw, evenBase, oddBase;  // cos w, cos^2(w/2), sin^2(w/2)
};

const std::array<Bin, kFitBins>& fitBins() {
    static const std::array<Bin, kFitBins> bins = [] {
        std::array<Bin, kFitBins> t{};
        for (int b = 0; b < kFitBins; ++b) {
            const double w = kPi * (kFitLo + b) / 128.0;
            t[b] = {std::cos(w), std::cos(0.5 * w) * std::cos(0.5 * w), std::sin(0.5 * w) * std::sin(0.5 * w)};
        }
        return t;
    }();
    return bins;
}

// The fixed LSPs' share of both products at every bin.
struct FixedPart {
    double even[kFitBins], odd[kFitBins];
};

struct Envelope {
    double db[kFitBins];              // 10 log10 1/|A|^2, at the target's power
    double slope[kFitBins][kFree];    // its derivative by each free LSP (rad), the level's change included
};

void fixedPart(const double rad[kLpcOrder], FixedPart* f) {
    const auto& bins = fitBins();
    double x[kFirstFree];
    for (int k = 0; k < kFirstFree; ++k) x[k] = std::cos(rad[k]);
    for (int b = 0; b < kFitBins; ++b) {
        double even = bins[b].evenBase, odd = bins[b].oddBase;
        for (int k = 0; k < kFirstFree; ++k) {
            const double d = bins[b].cosw - x[k];
            (k % 2 ? odd : even) *= d * d;
        }
        f->even[b] = even;
        f->odd[b] = odd;
    }
}

void evaluate(const FixedPart& fixed, const double rad[kLpcOrder], double targetPowerDb, Envelope* env) {
    static_assert(kFree == 4 && kFirstFree % 2 == 0, "free LSPs: two of each product");
    const auto& bins = fitBins();
    double x[kFree], sine[kFree];
    for (int k = 0; k < kFree; ++k) x[k] = std::cos(rad[kFirstFree + k]), sine[k] = std::sin(rad[kFirstFree + k]);
    double power = 0, weightedSlope[kFree] = {};
    for (int b = 0; b < kFitBins; ++b) {
        const double d0 = bins[b].cosw - x[0], d1 = bins[b].cosw - x[1];
        const double d2 = bins[b].cosw - x[2], d3 = bins[b].cosw - x[3];
        const double even = fixed.even[b] * d0 * d0 * d2 * d2, odd = fixed.odd[b] * d1 * d1 * d3 * d3;
        const double S = std::max(even + odd, 1e-30);  // |A|^2 near 0: a finite, very sharp peak
        // d/dw_k (c - cos w_k)^2 = 2 (c - cos w_k) sin w_k, the other
        // factors formed directly so that a bin on an LSP gives no 0/0.
        const double dS[kFree] = {2 * d0 * sine[0] * fixed.even[b] * d2 * d2, 2 * d1 * sine[1] * fixed.odd[b] * d3 * d3,
                                  2 * d2 * sine[2] * fixed.even[b] * d0 * d0, 2 * d3 * sine[3] * fixed.odd[b] * d1 * d1};
        env->db[b] = -kDbPerNeper * double(std::log(float(S)));  // float: 1e-7 dB is plenty
        const double p = 1.0 / S;
        power += p;
        for (int k = 0; k < kFree; ++k) {
            env->slope[b][k] = -kDbPerNeper * dS[k] / S;
            weightedSlope[k] += p * env->slope[b][k];
        }
    }
    // The energy code gives the decoded frame the input's power, so the
    // envelope is compared at that level: a peak that grows lowers the rest.
    const double shift = targetPowerDb - kDbPerNeper * std::log(power);
    for (int b = 0; b < kFitBins; ++b) {
        env->db[b] += shift;
        for (int k = 0; k < kFree; ++k) env->slope[b][k] -= weightedSlope[k] / power;
    }
}

double distance(const Envelope& env, const double target[kFitBins]) {
    double sum = 0;
    for (int b = 0; b < kFitBins; ++b) sum += (env.db[b] - target[b]) * (env.db[b] - target[b]);
    return sum;
}

// J'J (lower triangle) and -J'r of the dB residuals, in registers.
void normalEquations(const Envelope& env, const double target[kFitBins], double m[kFree][kFree], double g[kFree]) {
    double m00 = 0, m10 = 0, m11 = 0, m20 = 0, m21 = 0, m22 = 0, m30 = 0, m31 = 0, m32 = 0, m33 = 0;
    double g0 = 0, g1 = 0, g2 = 0, g3 = 0;
    for (int b = 0; b < kFitBins; ++b) {
        const double r = target[b] - env.db[b];
        const double* j = env.slope[b];
        g0 += j[0] * r, g1 += j[1] * r, g2 += j[2] * r, g3 += j[3] * r;
        m00 += j[0] * j[0], m10 += j[1] * j[0], m11 += j[1] * j[1];
        m20 += j[2] * j[0], m21 += j[2] * j[1], m22 += j[2] * j[2];
        m30 += j[3] * j[0], m31 += j[3] * j[1], m32 += j[3] * j[2], m33 += j[3] * j[3];
    }
    m[0][0] = m00, m[1][0] = m10, m[1][1] = m11, m[2][0] = m20, m[2][1] = m21, m[2][2] = m22;
    m[3][0] = m30, m[3][1] = m31, m[3][2] = m32, m[3][3] = m33;
    g[0] = g0, g[1] = g1, g[2] = g2, g[3] = g3;
}

// Solves m d = v for the symmetric positive definite m (Cholesky, in place).
bool solve(double m[kFree][kFree], double v[kFree]) {
    for (int i = 0; i < kFree; ++i)
        for (int j = 0; j <= i; ++j) {
            double s = m[i][j];
            for (int k = 0; k < j; ++k) s -= m[i][k] * m[j][k];
            if (i != j) {
                m[i][j] = s / m[j][j];
            } else if (s > 0) {
                m[i][i] = std::sqrt(s);
            } else {
                return false;
            }
        }
    for (int i = 0; i < kFree; ++i) {
        for (int k = 0; k < i; ++k) v[i] -= m[i][k] * v[k];
        v[i] /= m[i][i];
    }
    for (int i = kFree - 1; i >= 0; --i) {
        for (int k = i + 1; k < kFree; ++k) v[i] -= m[k][i] * v[k];
        v[i] /= m[i][i];
    }
    return true;
}

// The free LSPs ordered, apart from each other and from the fixed ones,
// and inside the band the decoder keeps.
void keepApart(double rad[kLpcOrder]) {
    const double gap = kGapHz * kRadPerHz;
    for (int k = kFirstFree; k < kLpcOrder; ++k) rad[k] = std::max(rad[k], rad[k - 1] + gap);
    rad[kLpcOrder - 1] = std::min(rad[kLpcOrder - 1], kTopHz * kRadPerHz);
    for (int k = kLpcOrder - 2; k >= kFirstFree; --k) rad[k] = std::min(rad[k], rad[k + 1] - gap);
}

}  // namespace

void smoothedSpectrumDb(const Fft256Tables* fft, const float* window, float period, float db[129]) {
    static const std::array<float, kEncLpcWindow> hann = [] {
        std::array<float, kEncLpcWindow> t{};
        for (int i = 0; i < kEncLpcWindow; ++i) t[i] = float(0.5 - 0.5 * std::cos(2 * kPi * (i + 1) / (kEncLpcWindow + 1)));
        return t;
    }();
    float re[kFft256Size] = {}, im[kFft256Size] = {};
    for (int i = 0; i < kEncLpcWindow; ++i) re[i] = window[i] * hann[i];
    fft256(fft, re, im);
    double sum[130] = {};
    for (int k = 0; k <= 128; ++k) sum[k + 1] = sum[k] + double(re[k]) * re[k] + double(im[k]) * im[k];
    // One harmonic spacing wide, so a voiced spectrum's peaks and gaps
    // count as the mean power the decoder's harmonics give.
    const int half = period > 0 ? std::clamp(int(std::lround(128.0 / period)), 1, 8) : 2;
    double mean[129], peak = 1e-3;
    for (int k = 0; k <= 128; ++k) {
        const int lo = std::max(0, k - half), hi = std::min(128, k + half);
        mean[k] = (sum[hi + 1] - sum[lo]) / (hi - lo + 1);
        peak = std::max(peak, mean[k]);
    }
    const double floor = peak * std::pow(10.0, -kFloorDb / 10);
    for (int k = 0; k <= 128; ++k) db[k] = float(10 * std::log10(std::max(mean[k], floor)));
}

void fitEnvelope(const float targetDb[129], float lsp[kLpcOrder]) {
    if (!(lsp[kFirstFree - 1] + kFree * kGapHz < kTopHz)) return;  // no room above the fixed ones
    double target[kFitBins], power = 0;
    for (int b = 0; b < kFitBins; ++b) {
        target[b] = targetDb[kFitLo + b];
        power += std::exp(target[b] / kDbPerNeper);
    }
    const double targetPowerDb = kDbPerNeper * std::log(power);

    double rad[kLpcOrder];
    for (int k = 0; k < kLpcOrder; ++k) rad[k] = lsp[k] * kRadPerHz;
    keepApart(rad);
    FixedPart fixed;
    fixedPart(rad, &fixed);
    Envelope env;
    evaluate(fixed, rad, targetPowerDb, &env);
    double best = distance(env, target), damping = 1e-2;
    for (int step = 0; step < kSteps; ++step) {
        double m[kFree][kFree], g[kFree];
        normalEquations(env, target, m, g);
        for (int i = 0; i < kFree; ++i) m[i][i] = m[i][i] * (1 + damping) + 1e-9;
        if (!solve(m, g)) break;
        double trial[kLpcOrder];
        std::copy(rad, rad + kLpcOrder, trial);
        const double limit = kMaxStepHz * kRadPerHz;
        for (int k = 0; k < kFree; ++k) trial[kFirstFree + k] += std::clamp(g[k], -limit, limit);
        keepApart(trial);
        Envelope next;
        evaluate(fixed, trial, targetPowerDb, &next);
        const double c = distance(next, target);
        if (c < best) {
            best = c;
            std::copy(trial, trial + kLpcOrder, rad);
            env = next;
            damping *= 0.3;
        } else {
            damping *= 10;
        }
    }
    for (int k = kFirstFree; k < kLpcOrder; ++k) lsp[k] = float(rad[k] / kRadPerHz);
}

}  // namespace zef::orvo
