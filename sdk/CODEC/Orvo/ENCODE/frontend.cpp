// The shared analysis front end: the input filter, band harmonicity for
// the voicing cut-off, the level, and one frame's analysis from them, the
// pitch (pitch.cpp) and the predictor (lpc.cpp).
#include "frontend.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace zef::orvo {
namespace {

constexpr int kBandSpan = 160;                    // the same for the band strengths
constexpr float kPitchedCorrelation = 0.45f;      // below it a frame has no pitch: unvoiced

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

// The input high-pass: 6th-order Butterworth at 100 Hz as three sections
// (Q from the pole angles), in double: the poles sit close to z = 1.  It
// takes DC and rumble away (-27 dB at 60 Hz, -48 dB at 40 Hz) and leaves
// speech from 200 Hz up as it is: below 100 Hz there is nothing that the
// decoders' envelope and harmonics could carry, but rumble there drags the
// predictor, the pitch and the level with it.
struct HighPass {
    double b0, b1, b2, a1, a2;
};

const std::array<HighPass, kHighPassSections>& highPassFilter() {
    static const std::array<HighPass, kHighPassSections> sections = [] {
        constexpr int kOrder = 2 * kHighPassSections;
        constexpr double kCornerHz = 100.0;
        std::array<HighPass, kHighPassSections> t{};
        const double w = 2 * kPi * kCornerHz / 8000.0, c = std::cos(w);
        for (int k = 0; k < kHighPassSections; ++k) {
            const double q = 1.0 / (2 * std::sin(kPi * (2 * k + 1) / (2.0 * kOrder)));
            const double alpha = std::sin(w) / (2 * q), a0 = 1 + alpha, g = (1 + c) / 2 / a0;
            t[size_t(k)] = {g, -2 * g, g, -2 * c / a0, (1 - alpha) / a0};
        }
        return t;
    }();
    return sections;
}

float rmsOf(const float* x, int n) {
    double s = 0;
    for (int i = 0; i < n; ++i) s += double(x[i]) * x[i];
    return float(std::sqrt(s / n));
}

// Shifts the histories by one frame and appends the new frame, high-passed
// and band-split.  Returns the new frame's RMS.
float pushFrame(FrontEnd* fe, const int16_t pcm[kEncFrame]) {
    constexpr size_t kKeep = sizeof(float) * (kEncHistory - kEncFrame);
    std::memmove(fe->history, fe->history + kEncFrame, kKeep);
    float* frame = fe->history + kEncHistory - kEncFrame;
    const auto& hp = highPassFilter();
    if (!fe->started) {
        // Settled on the first frame's mean as if it had always been there:
        // a recording with an offset starts without a thump.
        fe->started = true;
        double mean = 0;
        for (int i = 0; i < kEncFrame; ++i) mean += pcm[i];
        mean /= kEncFrame;
        fe->highPass[0][0] = -hp[0].b0 * mean;
        fe->highPass[0][1] = hp[0].b2 * mean;
    }
    // Transposed direct form II: y = b0 x + s0, s0 = b1 x - a1 y + s1,
    // s1 = b2 x - a2 y; the memory stays in registers through the frame.
    double m0[kHighPassSections], m1[kHighPassSections];
    for (int k = 0; k < kHighPassSections; ++k) m0[k] = fe->highPass[k][0], m1[k] = fe->highPass[k][1];
    for (int i = 0; i < kEncFrame; ++i) {
        double x = pcm[i];
        #pragma GCC unroll 4
        for (int k = 0; k < kHighPassSections; ++k) {
            const HighPass& f = hp[size_t(k)];
            const double y = f.b0 * x + m0[k];
            m0[k] = f.b1 * x - f.a1 * y + m1[k];
            m1[k] = f.b2 * x - f.a2 * y;
            x = y;
        }
        frame[i] = float(x);
    }
    for (int k = 0; k < kHighPassSections; ++k) fe->highPass[k][0] = m0[k], fe->highPass[k][1] = m1[k];
    // The four bands' filters run side by side, one lane each, sections as
    // above.
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
void bandStrengths(const FrontEnd* fe, float period, float strength[kVoicingBands], float power[kVoicingBands]) {
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
        power[b] = float(xx / kBandSpan);
    }
}

// Steady noise in a band lowers its harmonicity by the noise's share of the
// band's power (r = rho (1 - noise / power)), so a voice in noise would be
// sent as breathier than it is.  The noise floor is the least band power of
// the last 1.4 s, raised by the amount steady noise spends above its
// minimum, and the harmonicity is divided back by the speech's share.  Only
// a band whose power has moved by 6 dB or more over that time has a floor
// to tell apart: a held vowel, or noise alone, is left as it is.
void discountBandNoise(FrontEnd* fe, const float power[kVoicingBands], float strength[kVoicingBands],
                       float share[kVoicingBands]) {
    constexpr float kFloorBias = 1.5f, kLeastShare = 0.5f, kLeastRange = 4.0f;
    for (int b = 0; b < kVoicingBands; ++b) fe->bandPower[b][fe->powerAt] = power[b];
    fe->powerAt = (fe->powerAt + 1) % kNoiseFrames;
    fe->powerFrames = std::min(fe->powerFrames + 1, kNoiseFrames);
    for (int b = 0; b < kVoicingBands; ++b) {
        const float* ring = fe->bandPower[b];
        const auto [least, most] = std::minmax_element(ring, ring + fe->powerFrames);
        share[b] = !(power[b] > 0) || *most < kLeastRange * *least
                       ? 1.0f
                       : std::max(1.0f - kFloorBias * *least / power[b], kLeastShare);
    }
    // Noise in the lowest band alone (rumble, hum) lies under the voice's
    // harmonics rather than among them and keeps its own correlation: that
    // band is allowed for no more noise than the band above it.
    const float lowest = std::max(share[0], share[1]);
    for (int b = 0; b < kVoicingBands; ++b) strength[b] = std::min(1.0f, strength[b] / (b ? share[b] : lowest));
}

// Whether the frame's own samples vary about their mean by less than
// kSilenceRms (RMS).
bool stillFrame(const int16_t pcm[kEncFrame]) {
    double sum = 0, squares = 0;
    for (int i = 0; i < kEncFrame; ++i) {
        sum += pcm[i];
        squares += double(pcm[i]) * pcm[i];
    }
    const double mean = sum / kEncFrame;
    return squares / kEncFrame - mean * mean < double(kSilenceRms) * kSilenceRms;
}

float weightedLevel(const float* x) {
    const float* w = lpcWindow();
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

int voicingCode(float correlation, const float bandStrength[kVoicingBands], float level) {
    if (level < kSilenceRms || correlation < kPitchedCorrelation) return 0;
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
    // A frame whose own samples hold still (digital silence, with or
    // without an offset) is silence, whatever the high-pass still rings
    // with after the speech before it: that ringing is some 40 dB below
    // the speech and would otherwise be sent as a short hum.
    out->level = stillFrame(pcm) ? 0.0f : weightedLevel(window);
    out->period = estimatePitch(fe->history, kEncHistory, fe->prevPeriod, &out->correlation);
    float bandPower[kVoicingBands];
    bandStrengths(fe, out->period, out->bandStrength, bandPower);
    discountBandNoise(fe, bandPower, out->bandStrength, out->speechShare);
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
