// Spectral enhancement of a segment's harmonics: harmonics between formant
// peaks are attenuated relative to those on a peak; the sum of the
// amplitudes stays what it was.
#include <algorithm>
#include <cmath>

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

void enhancePeln(const float a[kLpcOrder], float voicing, float period, int harmonics, float amp[kMaxHarmonics],
                 PelnState* st) {
    if (harmonics <= 0 || !enhancementEnvelope(a, st)) return;
    double gain[kMaxHarmonics];
    enhancementGains(st->syn.enh, voicing, period, harmonics, gain);
    applyEnhancement(gain, harmonics, amp);
}

}  // namespace zef::peln
