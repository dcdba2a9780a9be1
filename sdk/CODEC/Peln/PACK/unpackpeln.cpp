// Field codes of one Peln frame into the parameters that synthesis reads:
// voicing, pitch period (with the user's pitch shift), energy, LSPs and the
// amplitude of every harmonic from the three-stage spectral shape; plus
// silence fill and the fade-in that follows it.
#include <algorithm>
#include <cmath>

#include "codecs.h"
#include "peln.h"

namespace zef {
namespace peln {

int harmonicCountPeln(float period) {
    const int half = int(period * 0.5f + 0.25f);
    return std::clamp(int(float(half) * 0.9254f), 0, kMaxHarmonics);
}

void initQuanPeln(CodeRecord* code) {
    code->voicingTable = Pv_Table;
    code->voicingTableSize = kVoicingCodes;
    code->energyTable = Energy_Peln_TABLE;
    code->energyTableSize = kEnergyCodes;
    std::fill(code->energyHistory, code->energyHistory + kEnergyHistory, 200.0f);
    std::copy(kBackgroundLsp, kBackgroundLsp + kLpcOrder, code->backgroundLsp);
    code->fadeCounter = 0.0f;
    for (int k = 0; k < kVoicingClasses; ++k) {
        const BarkRow& row = BarkCntl[k];
        const int bands = int(row.bands);
        code->bandCount[k] = int16_t(bands);
        for (int n = 1; n <= bands; ++n)
            code->bandFreq[k][n - 1] = float(row.topHz * std::sinh(n / double(row.warp)) /
                                             std::sinh(bands / double(row.warp)));
        for (int s = 0; s < kShapeStages; ++s) code->shapeBooks[k][s] = kShapeBooks[k] + s * kShapeVectors * bands;
    }
}

float LutPvPeln(const CodeRecord* code) {
    const int c = code->voicingCode;
    return c >= 0 && c < code->voicingTableSize ? code->voicingTable[c] : 0.0f;
}

float LutPitchPeln(int code) {
    const double period = 125.0 + code * (-109.0 / 255.0);
    return float(std::clamp(period, double(kMinPeriod), double(kMaxPeriod)));
}

void lspdiffdecode34Peln(const int16_t codes[kLpcOrder], float lsp[kLpcOrder]) {
    for (int k = 0; k < kLpcOrder; ++k) {
        const int code = codes[k] & ((1 << kLspBits[k]) - 1);
        lsp[k] = (k ? lsp[k - 1] : 0.0f) + lspdiffPeln[k][code];
    }
    if (lsp[9] > 3900.0f) {
        lsp[9] = 3900.0f;
        for (int k = 8; k >= 0 && lsp[k] > lsp[k + 1] - 40.0f; --k) lsp[k] = lsp[k + 1] - 40.0f;
    }
}

float UnQuanEnergyPeln(const CodeRecord* code) {
    const int c = std::clamp<int>(code->energyCode, 0, code->energyTableSize - 1);
    return float(std::pow(10.0, double(code->energyTable[c])));
}

void DecodeMSVQcoeffsPeln(const int16_t* codes, float* out, const float* const* stages, int dimension,
                          int stageCount) {
    std::fill(out, out + dimension, 0.0f);
    for (int s = 0; s < stageCount; ++s) {
        const float* vector = stages[s] + (codes[s] & (kShapeVectors - 1)) * dimension;
        for (int n = 0; n < dimension; ++n) out[n] += vector[n];
    }
}

void VocInt4kVecPeln(const float* bandFreq, const float* bandValue, int bands, const float* harmonicFreq,
                     float* amp, int harmonics) {
    const float first = bandFreq[0], last = bandFreq[bands - 1];
    int j = 1;  // the band search goes on from the previous harmonic's band
    for (int i = 0; i < harmonics; ++i) {
        const float f = harmonicFreq[i];
        float a;
        if (f == first) {
            a = bandValue[0];
        } else if (f < first) {
            a = bandValue[0] * f / first;
        } else if (f == last) {
            a = bandValue[bands - 1];
        } else if (f > last) {
            a = bandValue[bands - 1] * (4000.0f - f) / (4000.0f - last);
        } else {
            // The bands ascend: every band below j - 1 ends below f too.
            if (!(f >= bandFreq[j - 1])) j = 1;
            while (j < bands - 1 && !(f < bandFreq[j])) ++j;
            const float t = (f - bandFreq[j - 1]) / (bandFreq[j] - bandFreq[j - 1]);
            a = bandValue[j - 1] + (bandValue[j] - bandValue[j - 1]) * t;
        }
        amp[i] = a > 0.0f ? a : 0.0f;  // also a NaN
    }
}

int UQFB_8kPeln(FrameParams* frame, const CodeRecord* code) {
    const float period = std::clamp(frame->period, kMinPeriod, kMaxPeriod);
    const int N = harmonicCountPeln(period);
    const float f0 = 8000.0f / period;
    const int k = std::clamp(int(frame->voicing * 15.0f + 0.5f), 0, kVoicingClasses - 1);
    const int bands = code->bandCount[k];

    float value[kMaxBands];
    DecodeMSVQcoeffsPeln(code->shapeCodes, value, code->shapeBooks[k], bands, kShapeStages);
    float freq[kMaxHarmonics] = {};  // the first N are set; zeroed for the compiler's flow analysis
    for (int i = 0; i < N; ++i) freq[i] = float(i + 1) * f0;
    std::fill(frame->amp, frame->amp + kMaxHarmonics, 0.0f);
    VocInt4kVecPeln(code->bandFreq[k], value, bands, freq, frame->amp, N);

    float sum = 0.0f;
    for (int i = 0; i < N; ++i) sum += frame->amp[i];
    const float total = float(0.5 * std::sqrt(double(frame->energy) * 0.65 * N));
    // A shape that is zero at every harmonic would divide by zero; the
    // frame's energy then goes to a flat spectrum instead of being lost.
    for (int i = 0; i < N; ++i) frame->amp[i] = sum > 0.0f ? frame->amp[i] / sum * total : total / float(N);
    return N;
}

float PitchShiftPeln(float period, const ZefControlBlock* cb) {
    double shifted;
    if (cb->wUseAbsPitch) {
        shifted = 8000.0f / cb->fAbsPitch;
    } else {
        if (cb->fRelPitch == 0.0f) return period;
        shifted = period / std::pow(1.059463094359295, double(cb->fRelPitch));
    }
    // Written so that a NaN (from a NaN or zero pitch setting) ends in range.
    if (!(shifted <= kMaxPeriod)) shifted = kMaxPeriod;
    if (!(shifted >= kMinPeriod)) shifted = kMinPeriod;
    return float(shifted);
}

namespace {

// Comfort noise: the quietest recent background, flat over 32 harmonics,
// through the background's spectral envelope.
void fillSilence(CodeRecord& code, FrameParams& frame) {
    frame.energy = *std::min_element(code.energyHistory, code.energyHistory + kEnergyHistory);
    frame.period = 70.0f;
    frame.voicing = 0.0f;
    const int N = harmonicCountPeln(frame.period);
    const float amp = float(std::sqrt(double(frame.energy) * 0.65 / (N * 4.0)));
    for (int i = 0; i < kMaxHarmonics; ++i) frame.amp[i] = i < N ? amp : 0.0f;
    std::copy(code.backgroundLsp, code.backgroundLsp + kLpcOrder, frame.lsp);
    for (int k = 1; k < kLpcOrder; ++k)
        if (frame.lsp[k] < frame.lsp[k - 1] + 45.0f) frame.lsp[k] = frame.lsp[k - 1] + 45.0f;
}

// Unvoiced frames teach the background: LSPs slowly, energies in a history.
void learnBackground(CodeRecord& code, const FrameParams& frame) {
    for (int k = 0; k < kLpcOrder; ++k)
        code.backgroundLsp[k] = float(0.03 * frame.lsp[k] + 0.97 * code.backgroundLsp[k]);
    std::copy(code.energyHistory + 1, code.energyHistory + kEnergyHistory, code.energyHistory);
    code.energyHistory[kEnergyHistory - 1] = frame.energy;
}

}  // namespace

void FadeSilencePeln(ZefControlBlock* cb) {
    PelnState* st = pelnState(cb);
    CodeRecord& code = st->code;
    FrameParams& frame = st->frame;
    if (cb->wSilenceFill) {
        fillSilence(code, frame);
    } else {
        if (frame.voicing == 0.0f) learnBackground(code, frame);
        if (cb->wPrevSilence) code.fadeCounter = 6.0f;
    }
    if (code.fadeCounter > 0.0f) {
        code.fadeCounter -= 1.0f;
        const float factor = (6.0f - code.fadeCounter) / 6.0f;
        for (float& a : frame.amp) a *= factor;
    }
    cb->wPrevSilence = cb->wSilenceFill;
}

}  // namespace peln

uint32_t unPackPeln(ZefControlBlock* cb) {
    if (!cb || cb->wCodecTag != peln::kPelnTag || !cb->lpCodecState) return peln::kErrNotPeln;
    peln::PelnState* st = peln::pelnState(cb);
    peln::CodeRecord& code = st->code;
    peln::FrameParams& frame = st->frame;
    const uint8_t* field = cb->bFieldCodes;

    // Codes wider than their field cannot come from a packed frame; masking
    // keeps every table index in range whatever the bytes hold.  Voicing
    // codes are kept: out-of-range ones mean unvoiced throughout.
    code.voicingCode = field[0];
    code.pitchCode = field[1];
    for (int k = 0; k < peln::kLpcOrder; ++k)
        code.lspCodes[k] = int16_t(field[2 + k] & ((1 << peln::kLspBits[k]) - 1));
    for (int s = 0; s < peln::kShapeStages; ++s) code.shapeCodes[s] = int16_t(field[12 + s] & 7);
    code.energyCode = int16_t(field[15] & 31);

    frame.voicing = peln::LutPvPeln(&code);
    frame.period = peln::LutPitchPeln(code.pitchCode);
    peln::lspdiffdecode34Peln(code.lspCodes, frame.lsp);
    frame.energy = peln::UnQuanEnergyPeln(&code);
    peln::UQFB_8kPeln(&frame, &code);
    if (frame.voicing > 0.0f) frame.period = peln::PitchShiftPeln(frame.period, cb);
    peln::FadeSilencePeln(cb);
    cb->bFrameLevel = uint8_t(4 * code.energyCode);
    return 0;
}

}  // namespace zef
