// The Peln shape search: how well band values rebuild the measured
// harmonic magnitudes (a weighted least-squares fit through the decoder's
// blending of neighbouring bands), and the search of a voicing class's
// three-stage book for the combination that fits best.
#include <algorithm>

#include "lanes.h"
#include "pelnenc.h"

namespace zef::peln {
namespace {

// How the decoder rebuilds harmonic amplitudes from band values: each
// harmonic is a blend of at most two neighbouring bands (a straight line
// from 0 Hz to the first band, between bands, and down to 0 at 4000 Hz
// after the last).  Returns the first band; *w0, *w1 weigh it and the next.
int bandBlend(const float* freq, int B, float f, float* w0, float* w1) {
    const float first = freq[0], last = freq[B - 1];
    *w1 = 0.0f;
    if (f <= first) {
        *w0 = f / first;
        return 0;
    }
    if (f >= last) {
        *w0 = std::max(0.0f, (4000.0f - f) / (4000.0f - last));
        return B - 1;
    }
    int j = 1;
    while (j < B - 1 && !(f < freq[j])) ++j;
    *w1 = (f - freq[j - 1]) / (freq[j] - freq[j - 1]);
    *w0 = 1.0f - *w1;
    return j - 1;
}

}  // namespace

void buildShapeFit(const float* mag, int count, float f0, const float* freq, int B, ShapeFit* fit) {
    *fit = ShapeFit{};
    fit->bands = B;
    double mean = 0;
    for (int h = 0; h < count; ++h) mean += mag[h];
    mean = count > 0 ? mean / count : 0.0;
    if (!(mean > 0)) return;
    fit->harmonics = count;
    for (int h = 0; h < count; ++h) {
        float w0, w1;
        const int j = bandBlend(freq, B, float(h + 1) * f0, &w0, &w1);
        // Errors relative to each harmonic (near the log-spectral error),
        // with a floor so that a near-empty harmonic does not dominate.
        const double scale = 1.0 / (mag[h] + 0.1 * mean);
        const double a0 = w0 * scale, a1 = w1 * scale;
        fit->diag[j] += a0 * a0;
        fit->target[j] += a0;
        if (j + 1 < B) {
            fit->diag[j + 1] += a1 * a1;
            fit->off[j] += a0 * a1;
            fit->target[j + 1] += a1;
        }
    }
}

double shapeScore(const ShapeFit& fit, const float* v) {
    double vc = 0, vgv = 0;
    for (int j = 0; j < fit.bands; ++j) {
        vc += v[j] * fit.target[j];
        vgv += fit.diag[j] * v[j] * v[j];
        if (j + 1 < fit.bands) vgv += 2 * fit.off[j] * v[j] * v[j + 1];
    }
    return vc > 0 && vgv > 0 ? vc * vc / vgv : 0.0;
}

void quantiseShape(const ShapeFit& fit, int cls, const CodeRecord& code, int16_t stages[kShapeStages]) {
    using lanes::Double2;
    using lanes::Float4;
    static_assert(kShapeVectors % 4 == 0);
    constexpr int kQuarters = kShapeVectors / 4;
    const int B = code.bandCount[cls];
    const float* const* book = code.shapeBooks[cls];
    // All eight third stages are scored at once, one lane each (in pairs
    // in double precision); every lane does shapeScore's arithmetic in
    // shapeScore's order, and the lanes are compared in the order of the
    // codes, so the choice is the same as scoring one combination at a time.
    Float4 third[kMaxBands][kQuarters];
    for (int n = 0; n < B; ++n)
        for (int l = 0; l < kShapeVectors; ++l) third[n][l / 4][l % 4] = book[2][l * B + n];
    double best = -1.0;
    std::fill(stages, stages + kShapeStages, int16_t(0));
    for (int i = 0; i < kShapeVectors; ++i)
        for (int j = 0; j < kShapeVectors; ++j) {
            float partial[kMaxBands];
            for (int n = 0; n < B; ++n) partial[n] = book[0][i * B + n] + book[1][j * B + n];
            // Both quarters in one pass: independent sums keep the
            // processor busy while each waits for its last addition.
            Double2 vc[2 * kQuarters] = {}, vgv[2 * kQuarters] = {}, v[2 * kQuarters], next[2 * kQuarters];
            auto clip = [&](int n, Double2* out) {
                #pragma GCC unroll 8
                for (int q = 0; q < kQuarters; ++q) {
                    const Float4 sum = partial[n] + third[n][q];
                    // Negative band values would be clipped where they are blended.
                    const Float4 kept = sum > 0.0f ? sum : Float4{};
                    out[2 * q] = lanes::lowHalf(kept);
                    out[2 * q + 1] = lanes::highHalf(kept);
                }
            };
            clip(0, v);
            for (int n = 0; n < B; ++n) {
                const Double2 target = lanes::splat(fit.target[n]), diag = lanes::splat(fit.diag[n]);
                #pragma GCC unroll 8
                for (int h = 0; h < 2 * kQuarters; ++h) {
                    vc[h] += v[h] * target;
                    vgv[h] += diag * v[h] * v[h];
                }
                if (n + 1 < B) {
                    clip(n + 1, next);
                    const Double2 off = lanes::splat(2 * fit.off[n]);
                    #pragma GCC unroll 8
                    for (int h = 0; h < 2 * kQuarters; ++h) {
                        vgv[h] += off * v[h] * next[h];
                        v[h] = next[h];
                    }
                }
            }
            for (int l = 0; l < kShapeVectors; ++l) {
                const double c = vc[l / 2][l % 2], g = vgv[l / 2][l % 2];
                const double score = c > 0 && g > 0 ? c * c / g : 0.0;
                if (score > best) {
                    best = score;
                    stages[0] = int16_t(i), stages[1] = int16_t(j), stages[2] = int16_t(l);
                }
            }
        }
}

}  // namespace zef::peln
