// Unvoiced excitation: a run of generator noise per segment, shaped in the
// frequency domain so that the band of every unvoiced harmonic carries that
// harmonic's amplitude, and crossfaded with the previous segment's run.
#include <algorithm>
#include <cmath>

#include "lanes.h"
#include "peln.h"

namespace zef::peln {

void randGenPeln(float* out, int n, float seed) {
    double start = std::trunc(double(seed) + 0.5);
    if (!(std::fabs(start) < 2147483648.0)) start = 0.0;  // only a damaged seed
    auto s = uint16_t(int64_t(start) & 0xffff);
    for (int i = 0; i < n; ++i) {
        s = uint16_t(15621u * s + 1u);
        out[i] = float(int(s) - 32768);
    }
}

namespace {

constexpr int kBins = kFft256Size / 2;

// Linear fade-in over the first `in` samples and fade-out over the last `out`.
void fadeEnds(float* x, int n, int in, int out) {
    const float inStep = in > 0 ? 1.0f / float(in) : 0.0f;
    const float outStep = out > 0 ? 1.0f / float(out) : 0.0f;
    for (int j = 0; j < in; ++j) x[j] *= float(j) * inStep;
    for (int j = 0; j < out; ++j) x[n - out + j] *= 1.0f - float(j + 1) * outStep;
}

// The run's spectrum keeps only the bands of harmonics v .. N-1, each scaled
// so that its mean magnitude is the harmonic's amplitude; then the run's
// mean power is set to the summed power of those harmonics.
void shapeNoise(PelnState* st, float* x, int n) {
    SynthState& syn = st->syn;
    UnvoicedState& uv = syn.uv;
    float* re = uv.re;
    float* im = uv.im;
    std::fill(re, re + kFft256Size, 0.0f);
    std::fill(im, im + kFft256Size, 0.0f);
    const int start = int((kFft256Size - n) * 0.5 + 0.5);
    std::copy(x, x + n, re + start);
    fft256(&st->fft, re, im);

    float gain[kBins + 1] = {};
    const double P = syn.segPeriod;
    // Band k runs from halfway below harmonic k + 1 to halfway above it.
    auto bandStart = [P](int k) { return std::clamp(int((k + 0.5) * 256.0 / P + 0.5), 1, kBins); };
    // The bins' magnitudes first, two at a time (square roots are exact
    // to the last bit either way), then summed per band in bin order.
    double binMagnitude[kBins + 2];
    if (syn.voicedCount < syn.harmonics)
        for (int b = bandStart(syn.voicedCount) & ~1; b < kBins; b += 2) {
            const lanes::Double2 r = lanes::widen2(re + b), i = lanes::widen2(im + b);
            const lanes::Double2 power = r * r + i * i;
#if defined(__SSE2__)
            const lanes::Double2 m = __builtin_ia32_sqrtpd(power);
#else
            const lanes::Double2 m = {std::sqrt(power[0]), std::sqrt(power[1])};
#endif
            binMagnitude[b] = m[0];
            binMagnitude[b + 1] = m[1];
        }
    double ampPower = 0.0;
    for (int k = syn.voicedCount; k < syn.harmonics; ++k) {
        const int lo = bandStart(k), hi = bandStart(k + 1);
        double magnitude = 0.0;
        for (int b = lo; b < hi; ++b) magnitude += binMagnitude[b];
        const float g = float(syn.segAmp[k] * (hi - lo) / (0.000001 + magnitude));
        for (int b = lo; b < hi; ++b) gain[b] = g;
        ampPower += double(syn.segAmp[k]) * syn.segAmp[k];
    }
    // Scale the lower half, mirror it conjugated into the upper half, and
    // transform back (conjugating around the forward transform).
    for (int b = 0; b <= kBins; ++b) {
        re[b] *= gain[b];
        im[b] *= -gain[b];
    }
    for (int b = 1; b < kBins; ++b) {
        re[kFft256Size - b] = re[b];
        im[kFft256Size - b] = -im[b];
    }
    fft256(&st->fft, re, im);

    double xPower = 0.0;
    for (int i = 0; i < n; ++i) {
        x[i] = re[start + i] / float(kFft256Size);
        xPower += double(x[i]) * x[i];
    }
    const float scale = float(std::sqrt(n * ampPower / (0.000001 + xPower)));
    for (int i = 0; i < n; ++i) x[i] *= scale;
}

}  // namespace

void uvsynPeln(PelnState* st) {
    SynthState& syn = st->syn;
    UnvoicedState& uv = syn.uv;
    const int L = syn.L, O = syn.O, prevL = syn.prevL, prevO = syn.prevO;
    const int n = L + prevO + 1;
    float* x = uv.run;
    if (syn.harmonics - syn.voicedCount < 1) {
        std::fill(x, x + n, 0.0f);  // the seed stays where it is
    } else {
        randGenPeln(x, n, uv.seed);
        // The next run starts from the point where the two runs overlap.
        uv.seed = x[L + prevO - O];
        fadeEnds(x, n, prevO, O);
        shapeNoise(st, x, n);
    }

    // Emit the rest of the previous run's body, the crossfade of its faded
    // end with this run's faded start, and the first half of this run's
    // body; keep the second half and the faded end for the next call.
    const int before = (prevL - prevO) >> 1, half = (L - O) >> 1;
    float* out = uv.out;
    std::copy(uv.tail, uv.tail + before, out);
    const float step = prevO > 0 ? 1.0f / float(prevO) : 0.0f;
    float a = 1.0f, b = 0.0f;
    for (int j = 0; j < prevO; ++j) {
        out[before + j] = (uv.tail[before + j] * a + x[j] * b) / (a * a + b * b);
        a -= step;
        b += step;
    }
    std::copy(x + prevO, x + prevO + half, out + before + prevO);
    std::copy(x + prevO + half, x + prevO + 2 * half + O, uv.tail);
}

}  // namespace zef::peln
