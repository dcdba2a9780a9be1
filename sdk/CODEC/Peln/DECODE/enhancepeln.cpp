// Spectral enhancement of a segment's harmonics: harmonics between formant
// peaks are attenuated relative to those on a peak; the sum of the
// amplitudes stays what it was.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "lanes.h"
#include "peln.h"

namespace zef::peln {

namespace {

constexpr int kBins = kFft256Size / 2;

// power[k] = 1 / |A(e^jw)|^2 for bins 0 .. 127, A = 1 - sum a_k z^-k.
void envelopePower(const Fft256Tables* fft, const float a[kLpcOrder], float* re, float* im, float* power) {
    std::fill(re, re + kFft256Size, 0.0f);
    std::fill(im, im + kFft256Size, 0.0f);
    re[0] = 1.0f;
    for (int k = 0; k < kLpcOrder; ++k) re[k + 1] = -a[k];
    fft256(fft, re, im);
    for (int k = 0; k < kBins; ++k) {
        const double p = double(re[k]) * re[k] + double(im[k]) * im[k];
        power[k] = float(1.0 / std::max(p, 1e-30));  // a zero on the unit circle stays finite
    }
}

using lanes::Double2;
using Float2 = float __attribute__((vector_size(2 * sizeof(float))));
using Long2 = int64_t __attribute__((vector_size(2 * sizeof(int64_t))));

// max(p, 1e-30) lane by lane.
Double2 atLeast(Double2 p) {
    const Long2 small = p < 1e-30;
    Long2 bits;
    std::memcpy(&bits, &p, sizeof bits);
    const double floor = 1e-30;
    int64_t floorBits;
    std::memcpy(&floorBits, &floor, sizeof floorBits);
    bits = (bits & ~small) | (floorBits & small);
    std::memcpy(&p, &bits, sizeof p);
    return p;
}

// envelopePower summed directly, since only 11 of the transform's 256
// inputs are not zero, and in double precision: where a predictor has a
// zero close to the unit circle, |A|^2 falls below what single-precision
// sums of its terms can resolve.  Two bins k at a time, and with them the
// bins 128 - k, whose cosines and sines are those of k with the sign of
// the odd delays (cosines) or the even ones (sines) turned.
void directPower(const EnhanceState& enh, const float a[kLpcOrder], float* power) {
    float mirrored[kMirrorBins];  // bins 128 - k
    for (int k = 0; k < kMirrorBins; k += 2) {
        Double2 oddRe = {}, evenRe = {}, oddIm = {}, evenIm = {};
        for (int n = 0; n < kLpcOrder; n += 2) {  // delays n + 1 odd, n + 2 even
            Double2 c, s, c2, s2;
            std::memcpy(&c, enh.cosine[n] + k, sizeof c);
            std::memcpy(&s, enh.sine[n] + k, sizeof s);
            std::memcpy(&c2, enh.cosine[n + 1] + k, sizeof c2);
            std::memcpy(&s2, enh.sine[n + 1] + k, sizeof s2);
            oddRe += double(a[n]) * c, oddIm += double(a[n]) * s;
            evenRe += double(a[n + 1]) * c2, evenIm += double(a[n + 1]) * s2;
        }
        const Double2 re = 1.0 - (evenRe + oddRe), im = evenIm + oddIm;
        const Double2 reMirror = 1.0 - (evenRe - oddRe), imMirror = oddIm - evenIm;
        // 1 / max(p, 1e-30): a zero on the unit circle stays finite.
        const Double2 p = atLeast(re * re + im * im), q = atLeast(reMirror * reMirror + imMirror * imMirror);
        const Float2 pk = __builtin_convertvector(1.0 / p, Float2), qk = __builtin_convertvector(1.0 / q, Float2);
        std::memcpy(mirrored + k, &qk, sizeof qk);
        std::memcpy(power + k, &pk, sizeof pk);
    }
    for (int k = 1; k < kBins / 2; ++k) power[kBins - k] = mirrored[k];
}

// Straight lines between the local maxima of sqrt(power), with bin 0 and
// bin 128 as end points.
void peakEnvelope(const float* power, float* env) {
    int fromBin = 0;
    float fromMag = std::sqrt(power[0]);
    auto lineTo = [&](int bin, float mag) {
        for (int k = fromBin; k < bin; ++k)
            env[k] = fromMag + (mag - fromMag) * float(k - fromBin) / float(bin - fromBin);
        fromBin = bin;
        fromMag = mag;
    };
    for (int k = 1; k < kBins - 1; ++k)
        if (power[k - 1] - power[k] < 0.0f && power[k] - power[k + 1] > 0.0f) lineTo(k, std::sqrt(power[k]));
    lineTo(kBins, std::sqrt(power[kBins - 1]));
}

using lanes::Float4;
using Int4 = int __attribute__((vector_size(4 * sizeof(int))));

Float4 asFloats(Int4 v) {
    Float4 f;
    std::memcpy(&f, &v, sizeof f);
    return f;
}

Int4 asInts(Float4 v) {
    Int4 i;
    std::memcpy(&i, &v, sizeof i);
    return i;
}

// log2 x for normal positive x: the exponent, and the mantissa m brought
// into sqrt(1/2) .. sqrt(2) by 2 atanh((m - 1) / (m + 1)) to the 7th power
// (within 1e-7).
Float4 log2Of(Float4 x) {
    Int4 bits = asInts(x);
    Int4 e = ((bits >> 23) & 0xff) - 127;
    Float4 m = asFloats((bits & 0x7fffff) | (127 << 23));
    const Int4 high = m > 1.41421356f;  // all ones where true
    m = asFloats((asInts(m) & ~high) | (asInts(m * 0.5f) & high));
    e -= high;
    const Float4 s = (m - 1.0f) / (m + 1.0f), s2 = s * s;
    const Float4 series = 1.0f + s2 * (1.0f / 3.0f + s2 * (1.0f / 5.0f + s2 * (1.0f / 7.0f)));
    return __builtin_convertvector(e, Float4) + s * series * 2.88539008f;  // 2 / ln 2
}

// 2^y for |y| < 100: 2^n times e^(f ln 2) by its series to the 6th power
// (within 2e-7), n the nearest whole number, |f| <= 1/2.
Float4 exp2Of(Float4 y) {
    const Float4 up = y + 0.5f;
    Int4 n = __builtin_convertvector(up, Int4);  // toward zero
    n += __builtin_convertvector(n, Float4) > up;  // minus one where that rounded up
    const Float4 g = (y - __builtin_convertvector(n, Float4)) * 0.693147181f;
    const Float4 high = 1.0f / 24.0f + g * (1.0f / 120.0f + g * (1.0f / 720.0f));
    const Float4 series = 1.0f + g * (1.0f + g * (0.5f + g * (1.0f / 6.0f + g * high)));
    return series * asFloats((n + 127) << 23);
}

// x^gamma four at a time, the library's pow for a lane that is not between
// 1e-30 and 1e30.
Float4 powOf(Float4 x, float gamma) {
    const Int4 inside = (x >= 1e-30f) & (x <= 1e30f);
    if (inside[0] & inside[1] & inside[2] & inside[3]) return exp2Of(gamma * log2Of(x));
    Float4 r;
    for (int i = 0; i < 4; ++i) r[i] = std::pow(x[i], gamma);
    return r;
}

}  // namespace

bool enhancementEnvelope(const float a[kLpcOrder], PelnState* st) {
    if (std::all_of(a, a + kLpcOrder, [](float c) { return c == 0.0f; })) return false;
    EnhanceState& enh = st->syn.enh;
    envelopePower(&st->fft, a, enh.re, enh.im, enh.power);
    peakEnvelope(enh.power, enh.envelope);
    return true;
}

void enhancementGains(const EnhanceState& enh, float voicing, float period, int harmonics, double* gain) {
    const int count = std::min(harmonics, kMaxHarmonics);
    const double gamma = voicing > 0.1f ? 0.3 : 0.25;
    const double spacing = 256.0 / period;
    for (int h = 1; h <= count; ++h) {
        const int bin = std::clamp(int(h * spacing + 0.5), 0, kBins - 1);
        gain[h - 1] = std::pow(std::sqrt(double(enh.power[bin])) / enh.envelope[bin], gamma);
    }
}

void applyEnhancement(const double* gain, int harmonics, float* amp) {
    const int count = std::min(harmonics, kMaxHarmonics);
    double before = 0.0, after = 0.00001;
    for (int h = 0; h < count; ++h) {
        before += amp[h];
        amp[h] = float(amp[h] * gain[h]);
        after += amp[h];
    }
    const double scale = before / after;
    for (int h = 0; h < count; ++h) amp[h] = float(amp[h] * scale);
}

void initEnhancePeln(EnhanceState* enh) {
    for (int n = 0; n < kLpcOrder; ++n)
        for (int k = 0; k < kMirrorBins; ++k) {
            const double w = 2.0 * 3.14159265358979323846 * (n + 1) * k / kFft256Size;
            enh->cosine[n][k] = std::cos(w);
            enh->sine[n][k] = std::sin(w);
        }
}

void enhancePeln(const float a[kLpcOrder], float voicing, float period, int harmonics, float amp[kMaxHarmonics],
                 PelnState* st) {
    if (harmonics <= 0 || std::all_of(a, a + kLpcOrder, [](float c) { return c == 0.0f; })) return;
    EnhanceState& enh = st->syn.enh;
    directPower(enh, a, enh.power);
    peakEnvelope(enh.power, enh.envelope);
    // enhancementGains four harmonics at a time, in single precision (the
    // same gains within 2e-6).
    const int count = std::min(harmonics, kMaxHarmonics);
    const float gamma = voicing > 0.1f ? 0.3f : 0.25f;
    const double spacing = 256.0 / period;
    double gain[kMaxHarmonics + 3];
    for (int h = 0; h < count; h += 4) {
        Float4 power, envelope;
        for (int i = 0; i < 4; ++i) {
            const int bin = std::clamp(int((h + i + 1) * spacing + 0.5), 0, kBins - 1);
            power[i] = enh.power[bin], envelope[i] = enh.envelope[bin];
        }
#if defined(__SSE__)
        const Float4 magnitude = __builtin_ia32_sqrtps(power);
#else
        const Float4 magnitude = {std::sqrt(power[0]), std::sqrt(power[1]), std::sqrt(power[2]), std::sqrt(power[3])};
#endif
        const Float4 g = powOf(magnitude / envelope, gamma);
        for (int i = 0; i < 4; ++i) gain[h + i] = g[i];
    }
    applyEnhancement(gain, harmonics, amp);
}

}  // namespace zef::peln
