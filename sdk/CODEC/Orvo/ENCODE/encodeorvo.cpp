// Orvo quantisation: the front end's LSPs with the upper ones refitted to the
// frame's log spectrum, LSP steps against the decoder's rebuilding, the pitch
// and voicing codes from the front end, and the energy code from a model of
// the decoder's output level.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "codecs.h"
#include "envelopefit.h"
#include "orvo.h"
#include "orvoenc.h"
#include "vectors.h"

namespace zef::orvo {
namespace {

constexpr double kVoicedPower = 2.4 * 2.4 / 2;  // excitation weight of a sinusoid of unit amplitude
// The decoder's noise comes as two crossfaded segments of H samples in
// every frame of N, each scaled to the frame's noise power over its own H
// samples, ramps included: the frame carries 2H/N of that power (+1.1 dB).
constexpr int kNoiseSegment = (kBaseFrame + kBaseCrossfade + 1) / 2;
constexpr double kNoiseOverlap = 2.0 * kNoiseSegment / kBaseFrame;
// Below this speech share of the noise band (steady noise a quarter of its
// power) the band is not raised at all.
constexpr double kNoisyShare = 0.75;

int nearestGainCode(double log10Gain) {
    int best = 0;
    for (int c = 1; c < kGainCodes; ++c)
        if (std::fabs(GainTable[c] - log10Gain) < std::fabs(GainTable[best] - log10Gain)) best = c;
    return best;
}

int harmonicCount(float period) { return std::min(kMaxHarmonics, int(int(period * 0.5 + 0.25) * 0.9254)); }

int chooseEnergy(OrvoEncoder* enc, const uint8_t codes[kFieldCount], float level) {
    if (level < kSilenceRms) return 0;
    const double perGain = decodedPowerPerGain(enc, codes);
    if (!(perGain > 0)) return 0;
    return nearestGainCode(std::log10(double(level)) - 0.5 * std::log10(perGain));
}

// The first bin of the band the noise book of voicing `code` covers.
int noiseFirstBin(int code) { return std::min(int(code * double(kHzPerVoicingCode) / kHzPerBin), kBins); }

// The decoder's voiced harmonics of one frame against the envelope `power`
// of predictor `a`: the power they carry per squared gain (they share the
// gain as the decoder shares it, enhancement included), and the sum of the
// envelope at their frequencies.
struct VoicedPart {
    double power, envelope;
};

VoicedPart voicedPart(OrvoEncoder* enc, const float a[kLpcOrder], const float power[kBins + 1], int code,
                      float period, int M, int voiced) {
    float amp[kMaxHarmonics] = {};
    for (int k = 0; k < voiced; ++k) amp[k] = float(1.0 / std::sqrt(double(M)));
    enhance(a, Pv_Table[code], period, voiced, amp, &enc->shadow);
    VoicedPart part{0, 0};
    for (int k = 0; k < voiced; ++k) {
        const double p = powerAt(power, (k + 1) * 8000.0 / period);
        part.power += kVoicedPower * amp[k] * amp[k] * p;
        part.envelope += p;
    }
    return part;
}

// How much hotter than its noise the decoder plays its voiced harmonics
// against the same envelope (dB): a sinusoid weighs kVoicedPower, the noise
// kNoiseOverlap, and the enhancement lifts the harmonics on the formants,
// where the power is.  0 for a frame that is all harmonics or all noise.
double noiseLiftDb(OrvoEncoder* enc, const float a[kLpcOrder], int code, float period) {
    period = std::clamp(period, kMinPeriod, kMaxPeriod);
    const int M = harmonicCount(period);
    const int voiced = voicedFromCode(code, period, M);
    if (voiced <= 0 || voiced >= M) return 0.0;
    float power[kBins + 1];
    filterPower(&orvoState(&enc->shadow)->fft, a, power);
    const VoicedPart part = voicedPart(enc, a, power, code, period, M, voiced);
    return part.envelope > 0 && part.power > 0 ? 10 * std::log10(part.power * M / part.envelope / kNoiseOverlap)
                                               : 0.0;
}

// The band above the voicing cut-off comes out of the decoder lower
// against the envelope than the harmonics below it (noiseLiftDb), so the
// predictor and the refit's target are both taken with that band raised by
// as much: the decoded spectrum is then level across the cut-off.  Where
// the band is mostly steady noise the raise fades out (it would only raise
// the noise).
void raiseNoiseBand(OrvoEncoder* enc, const FrameAnalysis& an, float target[kBins + 1], float lsp[kLpcOrder]) {
    const int code = std::min(an.voicingCode, kVoicingCodes - 1);
    const int firstBand = std::min(code * kHzPerVoicingCode / 1000, kVoicingBands - 1);
    double share = 0;
    for (int b = firstBand; b < kVoicingBands; ++b) share += an.speechShare[b] / (kVoicingBands - firstBand);
    const double trust = std::clamp((share - kNoisyShare) / (1.0 - kNoisyShare), 0.0, 1.0);
    const int cut = noiseFirstBin(code);
    if (!(trust > 0) || cut >= kBins) return;
    const double liftDb = trust * noiseLiftDb(enc, an.frame.a, code, an.frame.period);
    if (!(liftDb > 0)) return;
    for (int k = cut; k <= kBins; ++k) target[k] += float(liftDb);
    float a[kLpcOrder], raised[kLpcOrder];
    if (lpcOfRaisedBand(&orvoState(&enc->shadow)->fft, enc->fe.history + kEncHistory - kEncLpcWindow, cut,
                        std::pow(10.0, liftDb / 10), a) &&
        lpcToLsp(a, raised) && raised[0] > 0.0f && raised[kLpcOrder - 1] < 4000.0f)
        std::copy(raised, raised + kLpcOrder, lsp);
}

}  // namespace

double decodedPowerPerGain(OrvoEncoder* enc, const uint8_t codes[kFieldCount]) {
    OrvoState* st = orvoState(&enc->shadow);
    int16_t lspCodes[kLpcOrder];
    for (int k = 0; k < kLpcOrder; ++k) lspCodes[k] = codes[3 + k];
    FrameParams frame{};
    lspdiffdecode34(lspCodes, &frame);
    float a[kLpcOrder];
    lsp_lpc(frame.lsp, a);
    float power[kBins + 1];
    filterPower(&st->fft, a, power);

    const int code = std::min<int>(codes[0], kVoicingCodes - 1);
    const float period = std::clamp(float(8000.0 / Q2F0(codes[1])), kMinPeriod, kMaxPeriod);
    const int M = harmonicCount(period);
    const int voiced = voicedFromCode(code, period, M);
    const double voicedPower = voicedPart(enc, a, power, code, period, M, voiced).power;
    // The noise book of this code covers the band above code * 248 Hz,
    // scaled to the power of the unvoiced harmonics.
    const int firstBin = std::min(noiseFirstBin(code), kBins - 1);
    double bandPower = 0;
    for (int k = firstBin; k < kBins; ++k) bandPower += power[k];
    bandPower /= kBins - firstBin;
    return voicedPower + kNoiseOverlap * double(M - voiced) / M * bandPower;
}

void quantiseLsp(const float lsp[kLpcOrder], int16_t codes[kLpcOrder]) {
    quantiseLspSteps(lsp, lspdiff, kLspBits, codes);
}

OrvoEncoder* newOrvoEncoder() {
    auto* enc = static_cast<OrvoEncoder*>(static_cast<void*>(VectorCHR(sizeof(OrvoEncoder))));
    initFrontEnd(&enc->fe);
    ZefControlBlock& s = enc->shadow;
    s.dwGuard = kControlBlockGuard;
    s.wCodecTag = kOrvoTag;
    s.wDirection = 2;
    s.wSynthesizer = 1;
    s.fWarp = 1.0f;
    initDecodeOrvo(&s);
    return enc;
}

void freeOrvoEncoder(OrvoEncoder* enc) {
    if (!enc) return;
    freeDecodeOrvo(&enc->shadow);
    safefree(enc);
}

void encodeOrvoFrame(OrvoEncoder* enc, const int16_t pcm[kEncFrame], uint8_t codes[kFieldCount],
                     OrvoAnalysis* info) {
    FrameAnalysis an;
    analyseFrame(&enc->fe, pcm, &an);
    // Pitch, voicing and predictor are all known here and nothing is
    // quantised yet: the session's voice transformation changes them now.
    AnalysedFrame& frame = an.frame;
    if (enc->guisette) GuisetteRouter24(enc->guisette, &frame);

    float lsp[kLpcOrder];
    frameLsp(&enc->fe, frame, lsp);
    // A voice transformation has moved the predictor away from the input's
    // spectrum on purpose: the refit is for faithful coding only.
    if (frame.haveLpc && !(enc->guisette && enc->guisette->type != 0)) {
        float target[kBins + 1];
        smoothedSpectrumDb(&orvoState(&enc->shadow)->fft, enc->fe.history + kEncHistory - kEncLpcWindow,
                           an.voicingCode > 0 ? frame.period : 0.0f, target);
        raiseNoiseBand(enc, an, target, lsp);
        fitEnvelope(target, lsp);
    }
    int16_t lspCodes[kLpcOrder];
    quantiseLsp(lsp, lspCodes);
    codes[0] = uint8_t(std::clamp(int(std::lround(frame.voicing * (kVoicingCodes - 1))), 0, kVoicingCodes - 1));
    codes[1] = uint8_t(pitchCode(frame.period));
    for (int k = 0; k < kLpcOrder; ++k) codes[3 + k] = uint8_t(lspCodes[k]);
    codes[13] = 0;
    codes[2] = uint8_t(chooseEnergy(enc, codes, an.level));
    if (info) {
        info->period = an.period;
        info->correlation = an.correlation;
        info->rms = an.rms;
        std::copy(lsp, lsp + kLpcOrder, info->lsp);
    }
}

}  // namespace zef::orvo
