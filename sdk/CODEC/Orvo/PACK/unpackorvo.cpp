// Field codes of one Orvo frame into the parameters that synthesis reads:
// voicing, pitch period (with the user's pitch shift), gain and LSPs, plus
// silence fill and the fade-in that follows it.
#include <algorithm>
#include <cmath>

#include "codecs.h"
#include "orvo.h"

namespace zef {
namespace orvo {

void initQuanOrvo_50(CodeRecord* code) {
    code->voicingTable = Pv_Table;
    code->voicingTableSize = kVoicingCodes;
    code->gainTable = GainTable;
    code->gainTableSize = kGainCodes;
    std::fill(code->energyHistory, code->energyHistory + kEnergyHistory, -0.34f);
    std::copy(kBackgroundLsp, kBackgroundLsp + kLpcOrder, code->backgroundLsp);
    // Only read by a silence fill that follows a normal frame; start sane.
    std::copy(kBackgroundLsp, kBackgroundLsp + kLpcOrder, code->prevLsp);
    code->fadeCounter = 0.0f;
}

float LutPv(const CodeRecord* code) {
    int c = code->voicingCode;
    return c >= 0 && c < code->voicingTableSize ? code->voicingTable[c] : 0.0f;
}

float Q2F0(int code) {
    code = ((code % 256) + 256) % 256;
    const float slope = -109.0f / 255.0f;
    double period = 125.0 + code * double(slope);
    period = std::clamp(period, double(kMinPeriod), double(kMaxPeriod));
    return float(8000.0 / period);
}

float Q2_En(const CodeRecord* code) {
    int c = std::clamp<int>(code->energyCode, 0, code->gainTableSize - 1);
    return float(std::pow(10.0, double(code->gainTable[c])));
}

void lspdiffdecode34(const int16_t codes[kLpcOrder], FrameParams* frame) {
    float* lsp = frame->lsp;
    for (int k = 0; k < kLpcOrder; ++k) {
        const int code = codes[k] & ((1 << kLspBits[k]) - 1);
        lsp[k] = (k ? lsp[k - 1] : 0.0f) + lspdiff[k][code];
    }
    if (lsp[9] > 3900.0f) {
        lsp[9] = 3900.0f;
        for (int k = 8; k >= 0 && lsp[k] > lsp[k + 1] - 40.0f; --k) lsp[k] = lsp[k + 1] - 40.0f;
    }
}

float PitchShift8k(float period, const ZefControlBlock* cb) {
    double shifted;
    if (cb->wUseAbsPitch) {
        shifted = 8000.0 / double(cb->fAbsPitch);
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

void fillSilence(ZefControlBlock* cb, CodeRecord& code, FrameParams& frame) {
    frame.gain = *std::min_element(code.energyHistory, code.energyHistory + kEnergyHistory);
    frame.period = 70.0f;
    frame.voicing = 0.0f;
    const float* lsp = cb->wPrevSilence ? code.backgroundLsp : code.prevLsp;
    std::copy(lsp, lsp + kLpcOrder, frame.lsp);
    for (int k = 1; k < kLpcOrder; ++k)
        if (frame.lsp[k] < frame.lsp[k - 1] + 45.0f) frame.lsp[k] = frame.lsp[k - 1] + 45.0f;
}

// Unvoiced frames teach the background: LSPs slowly, energies in a history.
void learnBackground(CodeRecord& code, const FrameParams& frame) {
    for (int k = 0; k < kLpcOrder; ++k)
        code.backgroundLsp[k] = float(0.03 * frame.lsp[k] + 0.97 * code.backgroundLsp[k]);
    std::copy(code.energyHistory + 1, code.energyHistory + kEnergyHistory, code.energyHistory);
    code.energyHistory[kEnergyHistory - 1] = frame.gain;
}

}  // namespace

void FadeSilence8k(ZefControlBlock* cb) {
    OrvoState* st = orvoState(cb);
    CodeRecord& code = st->code;
    FrameParams& frame = st->frame;
    if (cb->wSilenceFill) {
        fillSilence(cb, code, frame);
    } else {
        if (frame.voicing == 0.0f) learnBackground(code, frame);
        if (cb->wPrevSilence) code.fadeCounter = 6.0f;
    }
    if (code.fadeCounter > 0.0f) {
        code.fadeCounter -= 1.0f;
        frame.gain = float(frame.gain * ((6.0 - code.fadeCounter) / 6.0));
    }
    std::copy(frame.lsp, frame.lsp + kLpcOrder, code.prevLsp);
    cb->wPrevSilence = cb->wSilenceFill;
}

}  // namespace orvo

uint32_t unPackOrvo(ZefControlBlock* cb) {
    if (!cb || cb->wCodecTag != orvo::kOrvoTag || !cb->lpCodecState) return orvo::kErrNotOrvo;
    orvo::OrvoState* st = orvo::orvoState(cb);
    orvo::CodeRecord& code = st->code;
    orvo::FrameParams& frame = st->frame;
    const uint8_t* field = cb->bFieldCodes;

    // Codes wider than their field cannot come from a packed frame; masking
    // keeps every table index in range whatever the bytes hold.  Voicing
    // codes are kept: out-of-range ones mean unvoiced throughout.
    code.voicingCode = field[0];
    code.pitchCode = field[1];
    code.energyCode = int16_t(field[2] & 63);
    for (int k = 0; k < orvo::kLpcOrder; ++k)
        code.lspCodes[k] = int16_t(field[3 + k] & ((1 << orvo::kLspBits[k]) - 1));

    orvo::lspdiffdecode34(code.lspCodes, &frame);
    frame.voicing = orvo::LutPv(&code);
    frame.period = float(8000.0 / double(orvo::Q2F0(code.pitchCode)));
    frame.gain = orvo::Q2_En(&code);
    if (frame.voicing > 0.0f) frame.period = orvo::PitchShift8k(frame.period, cb);
    orvo::FadeSilence8k(cb);
    cb->bFrameLevel = uint8_t(4 * code.energyCode);
    return 0;
}

}  // namespace zef
