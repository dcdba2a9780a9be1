// Voice activity and automatic gain of the encoders; the design is
// described in vcbblock.h.
#include "vcbblock.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace zef {
namespace {

constexpr float kSilenceDb = -100.0f;
constexpr float kStartFloorDb = -70.0f;
constexpr float kReportThresholdDb = 9.0f;  // decision made for the caller when the VAD is off
constexpr float kMaxThresholdDb = 60.0f;
constexpr int kDefaultHangover = 8;
constexpr int kMaxHangover = 255;

constexpr float kDefaultTargetDb = -18.0f;
constexpr float kMaxTargetDepthDb = 60.0f;
constexpr float kGainLimitDb = 20.0f;
constexpr float kRisePerFrameDb = 0.25f;
constexpr float kFallShare = 0.5f;
constexpr float kGateDb = -65.0f;
constexpr float kPeakLimit = 0.98f * 32767.0f;

float noiseFloor(const vcb_com_blk* v) { return *std::min_element(v->levels, v->levels + kVcbFloorFrames); }

bool judge(ZefControlBlock* cb, vcb_com_blk* v, float level) {
    if (!v->primed) {
        std::fill(v->levels, v->levels + kVcbFloorFrames, kStartFloorDb);
        v->primed = true;
    }
    v->levels[v->next] = level;
    v->next = (v->next + 1) % kVcbFloorFrames;
    const float threshold = cb->dwVadThreshold
                                ? std::min(float(cb->dwVadThreshold), kMaxThresholdDb)
                                : kReportThresholdDb;
    const int hangover = cb->dwVadSensitivity ? int(std::min<uint32_t>(cb->dwVadSensitivity, kMaxHangover))
                                              : kDefaultHangover;
    if (level >= noiseFloor(v) + threshold) {
        v->hangLeft = hangover;
        return true;
    }
    if (v->hangLeft > 0) {
        --v->hangLeft;
        return true;
    }
    return false;
}

float targetDb(int32_t mode) {
    return mode == 0 ? kDefaultTargetDb : -std::min(float(mode), kMaxTargetDepthDb);
}

void adaptGain(vcb_com_blk* v, float level, float target) {
    if (level < kGateDb) return;
    const float wanted = std::clamp(target - level, -kGainLimitDb, kGainLimitDb);
    if (wanted < v->gainDb) v->gainDb += (wanted - v->gainDb) * kFallShare;
    else v->gainDb = std::min(wanted, v->gainDb + kRisePerFrameDb);
}

// Applies the gain, ramping from the last frame's, and returns the gain at
// the frame's end.  Both ends stay under the frame's clipping limit, so
// every sample between them does too.
float applyGain(vcb_com_blk* v, int16_t* frame, int samples) {
    int peak = 0;
    for (int i = 0; i < samples; ++i) peak = std::max(peak, std::abs(int(frame[i])));
    const float limit = peak ? kPeakLimit / float(peak) : 1e9f;
    const float end = std::min(std::pow(10.0f, v->gainDb / 20.0f), limit);
    if (end < std::pow(10.0f, v->gainDb / 20.0f)) v->gainDb = 20.0f * std::log10(end);
    const float start = std::min(v->appliedGain > 0.0f ? v->appliedGain : 1.0f, limit);
    for (int i = 0; i < samples; ++i) {
        const float g = start + (end - start) * float(i + 1) / float(samples);
        frame[i] = int16_t(std::lround(float(frame[i]) * g));
    }
    return end;
}

}  // namespace

float VcbFrameLevel(const int16_t* frame, int samples) {
    double power = 0.0;
    for (int i = 0; i < samples; ++i) power += double(frame[i]) * frame[i];
    power /= std::max(samples, 1) * 32768.0 * 32768.0;
    return power > 1e-10 ? float(10.0 * std::log10(power)) : kSilenceDb;
}

void VcbProcessFrame(ZefControlBlock* cb, vcb_com_blk* vcb, int16_t* frame, int samples) {
    const float level = VcbFrameLevel(frame, samples);
    const bool active = judge(cb, vcb, level);
    cb->dwVadDecision = active ? 1 : 0;
    if (!active && cb->dwVadThreshold) {
        std::fill(frame, frame + samples, int16_t(0));
        return;
    }
    if (!cb->wAgcModeSet || cb->iAgcMode < 0) return;
    adaptGain(vcb, level, targetDb(cb->iAgcMode));
    vcb->appliedGain = applyGain(vcb, frame, samples);
    cb->dwAgcValue = uint32_t(std::max(1L, std::lround(vcb->appliedGain * 256.0f)));
}

}  // namespace zef
