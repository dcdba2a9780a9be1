// Unvoiced excitation: a run of generator noise per segment, shaped in the
// frequency domain so that the band of every unvoiced harmonic carries that
// harmonic's amplitude, and crossfaded with the previous segment's run.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "lanes.h"
#include "peln.h"

namespace zef::peln {

namespace {

using lanes::Float4;
using lanes::load4;
using lanes::store4;
using Uint16x8 = uint16_t __attribute__((vector_size(8 * sizeof(uint16_t))));
using Int16x8 = int16_t __attribute__((vector_size(8 * sizeof(int16_t))));

// The generator's state runs modulo 2^16, so eight 16-bit lanes can each
// jump eight states at a time: s' = A^8 s + C (A^7 + ... + 1).
constexpr uint16_t power8(uint32_t a) {
    uint32_t p = 1;
    for (int i = 0; i < 8; ++i) p = p * a & 0xffff;
    return uint16_t(p);
}
constexpr uint32_t kMultiplier = 15621u;
constexpr uint16_t kMultiplier8 = power8(kMultiplier);
constexpr uint16_t kIncrement8 = [] {
    uint32_t sum = 0, p = 1;
    for (int i = 0; i < 8; ++i) sum = (sum + p) & 0xffff, p = p * kMultiplier & 0xffff;
    return uint16_t(sum);
}();

}  // namespace

void randGenPeln(float* out, int n, float seed) {
    double start = std::trunc(double(seed) + 0.5);
    if (!(std::fabs(start) < 2147483648.0)) start = 0.0;  // only a damaged seed
    auto s = uint16_t(int64_t(start) & 0xffff);
    // The first eight states one by one, then eight at a time.
    Uint16x8 state;
    for (int i = 0; i < 8; ++i) {
        s = uint16_t(kMultiplier * s + 1u);
        state[i] = s;
    }
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        const Int16x8 centred = Int16x8(state ^ uint16_t(0x8000));  // s - 32768
        store4(out + i, __builtin_convertvector(__builtin_shufflevector(centred, centred, 0, 1, 2, 3), Float4));
        store4(out + i + 4, __builtin_convertvector(__builtin_shufflevector(centred, centred, 4, 5, 6, 7), Float4));
        state = state * kMultiplier8 + kIncrement8;
    }
    for (int j = 0; i < n; ++i, ++j) out[i] = float(int(state[j]) - 32768);
}

namespace {

constexpr int kBins = kFft256Size / 2;
const Float4 kQuad = {0.0f, 1.0f, 2.0f, 3.0f};

// Linear fade-in over the first `in` samples and fade-out over the last `out`.
void fadeEnds(float* x, int n, int in, int out) {
    const float inStep = in > 0 ? 1.0f / float(in) : 0.0f;
    const float outStep = out > 0 ? 1.0f / float(out) : 0.0f;
    int j = 0;
    for (; j + 4 <= in; j += 4) store4(x + j, load4(x + j) * ((float(j) + kQuad) * inStep));
    for (; j < in; ++j) x[j] *= float(j) * inStep;
    float* end = x + n - out;
    for (j = 0; j + 4 <= out; j += 4) store4(end + j, load4(end + j) * (1.0f - (float(j + 1) + kQuad) * outStep));
    for (; j < out; ++j) end[j] *= 1.0f - float(j + 1) * outStep;
}

// x[i] *= scale for i < n.
void scaleRun(float* x, int n, float scale) {
    int i = 0;
    for (; i + 4 <= n; i += 4) store4(x + i, load4(x + i) * scale);
    for (; i < n; ++i) x[i] *= scale;
}

// The run's spectrum keeps only the bands of harmonics v .. N-1, each scaled
// so that its mean magnitude is the harmonic's amplitude; then the run's
// mean power is set to the summed power of those harmonics.
void shapeNoise(PelnState* st, float* x, int n) {
    SynthState& syn = st->syn;
    UnvoicedState& uv = syn.uv;
    float* re = uv.re;
    float* im = uv.im;
    float* padded = uv.padded;
    std::fill(padded, padded + kFft256Size, 0.0f);
    const int start = int((kFft256Size - n) * 0.5 + 0.5);
    std::copy(x, x + n, padded + start);
    forwardRealPeln(&st->fft, padded, re, im);

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
    // Scale the lower half and transform back (the upper half is its
    // conjugate mirror).
    for (int b = 0; b < kBins; b += 4) {
        const Float4 g = load4(gain + b);
        store4(re + b, load4(re + b) * g);
        store4(im + b, load4(im + b) * g);
    }
    re[kBins] *= gain[kBins];
    im[kBins] *= gain[kBins];
    inverseRealPeln(&st->fft, re, im, padded);

    // The power in double precision, two samples at a time.
    std::copy(padded + start, padded + start + n, x);
    lanes::Double2 power2 = {};
    int i = 0;
    for (; i + 2 <= n; i += 2) {
        const lanes::Double2 v = lanes::widen2(x + i);
        power2 += v * v;
    }
    double xPower = power2[0] + power2[1];
    for (; i < n; ++i) xPower += double(x[i]) * x[i];
    xPower /= double(kFft256Size) * kFft256Size;
    const float scale = float(std::sqrt(n * ampPower / (0.000001 + xPower)));
    scaleRun(x, n, scale / float(kFft256Size));
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
    // Weights a = 1 - j / prevO and b = j / prevO.
    const float step = prevO > 0 ? 1.0f / float(prevO) : 0.0f;
    const float* tail = uv.tail + before;
    float* mixed = out + before;
    int j = 0;
    for (; j + 4 <= prevO; j += 4) {
        const Float4 b = (float(j) + kQuad) * step, a = 1.0f - b;
        store4(mixed + j, (load4(tail + j) * a + load4(x + j) * b) / (a * a + b * b));
    }
    for (; j < prevO; ++j) {
        const float b = float(j) * step, a = 1.0f - b;
        mixed[j] = (tail[j] * a + x[j] * b) / (a * a + b * b);
    }
    std::copy(x + prevO, x + prevO + half, out + before + prevO);
    std::copy(x + prevO + half, x + prevO + 2 * half + O, uv.tail);
}

}  // namespace zef::peln
