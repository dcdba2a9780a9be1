// The Orvo decoder's life and its per-frame driver: frame geometry under
// warp, harmonic structure, enhancement, excitation and synthesis filter.
#include <algorithm>
#include <cmath>

#include "codecs.h"
#include "orvo.h"
#include "vectors.h"

namespace zef {
namespace orvo {

const float level1[kVoicingCodes] = {
    0.0f,      0.066667f, 0.133333f, 0.2f,      0.266667f, 0.333333f, 0.4f,      0.466667f,
    0.533333f, 0.6f,      0.666667f, 0.733333f, 0.8f,      0.866667f, 0.933333f, 1.0f,
};

const float lsf_coefo[kLpcOrder] = {300, 700, 1100, 1500, 1900, 2300, 2700, 3100, 3500, 3900};

void initSYN8k(OrvoState* st) {
    for (int i = 0; i < kSineSize; ++i)
        st->cos_table[i] = float(std::sin(2.0 * 3.14159265358979323846 * i / kSineSize));
    initFft256(&st->fft);
    std::copy(lsf_coefo, lsf_coefo + kLpcOrder, st->syn.prevLsp);
    st->voi.prevOmega = 0.062;
    st->uv.prevCode = 15;  // the silent book: the first frame's fading-out half is quiet
    initFix8k(&st->fix, st->cos_table);
}

namespace {

// Crossfade window (2H + 1 values): rises over W samples, flat up to the
// middle, mirrored after it; and the overlap normalisation that goes with it.
void buildWindow(SynthState& syn, FixedState& fix) {
    const int N = syn.N, W = syn.W, H = syn.H;
    float* win = syn.window;
    for (int i = 0; i <= H; ++i) win[i] = i < W ? float(i) / float(W) : 1.0f;
    for (int i = H + 1; i <= 2 * H; ++i) win[i] = win[2 * H - i];
    for (int i = 0; i < N; ++i) {
        bool overlap = i >= H - W && i < H;
        syn.overlapNorm[i] = overlap ? std::sqrt(win[i] * win[i] + win[i + H] * win[i + H]) : 1.0f;
    }
    for (int i = 0; i <= 2 * H; ++i) fix.window[i] = int32_t(std::lround(win[i] * 32768.0f));
}

int harmonicCount(float period) {
    return std::min(kMaxHarmonics, int(int(period * 0.5 + 0.25) * 0.9254));
}

int voicedCount(float voicing, float period) {
    return std::clamp(int(voicing * 0.93 * period * 0.5 + 0.5), 0, kMaxHarmonics);
}

}  // namespace

uint32_t initFrame8k(ZefControlBlock* cb) {
    OrvoState* st = orvoState(cb);
    SynthState& syn = st->syn;
    // The engine keeps a drop group of at least 1 while decoding; a caller
    // that never started one means "no frames dropped".
    const int group = cb->wDropGroup >= 1 ? cb->wDropGroup : 1;
    const float warp = cb->fWarp * float(group);
    if (warp > 5.0f) return kErrWarpHigh;
    if (!(warp >= 0.2)) return kErrWarpLow;  // also a NaN warp
    syn.slowDown = warp > 1.0f;

    // Single-precision products: 1.3 * 180 is 233.99998 and gives 234.
    int N = int(warp * 180.0f);
    int W = int(warp * float(kBaseCrossfade));
    N += N & 1;
    W += W & 1;
    syn.N = int16_t(N);
    syn.W = int16_t(W);
    syn.H = int16_t((N + W + 1) / 2);
    cb->wOutputSamples = uint16_t(N);
    // W can change while N stays, so both decide whether the window is stale.
    if (N != syn.lastN || W != syn.lastW) {
        buildWindow(syn, st->fix);
        syn.lastN = int16_t(N);
        syn.lastW = int16_t(W);
    }
    return 0;
}

}  // namespace orvo

uint32_t initDecodeOrvo(ZefControlBlock* cb) {
    using namespace orvo;
    if (!cb || cb->wCodecTag != kOrvoTag) return kErrNotOrvo;
    auto* st = static_cast<OrvoState*>(static_cast<void*>(VectorCHR(sizeof(OrvoState))));
    cb->lpCodecState = st;
    initQuanOrvo_50(&st->code);
    // A silent frame until the first one is unpacked.
    st->frame.period = kMaxPeriod;
    std::copy(kBackgroundLsp, kBackgroundLsp + kLpcOrder, st->frame.lsp);
    initSYN8k(st);
    initUVCB8k(&st->books);
    cb->wFrameSamples = kBaseFrame;
    cb->wOutputSamples = kBaseFrame;
    cb->wNeedFrame = 1;
    cb->wFrameOutput = 1;
    cb->wDropActive = 0;
    return 0;
}

uint32_t freeDecodeOrvo(ZefControlBlock* cb) {
    if (!cb || cb->wCodecTag != orvo::kOrvoTag) return orvo::kErrNotOrvo;
    auto* st = orvo::orvoState(cb);
    safefree(st);
    cb->lpCodecState = nullptr;
    return 0;
}

uint32_t DecodeOrvo(ZefControlBlock* cb) {
    using namespace orvo;
    if (!cb || cb->wCodecTag != kOrvoTag || !cb->lpCodecState || !cb->lpOutput) return kErrNotOrvo;
    const int mode = cb->wSynthesizer ? cb->wSynthesizer : 1;
    if (mode > 3) return kErrSynthesizer;
    if (uint32_t err = initFrame8k(cb)) return err;

    OrvoState* st = orvoState(cb);
    FrameParams& frame = st->frame;
    SynthState& syn = st->syn;
    const float period = std::clamp(frame.period, kMinPeriod, kMaxPeriod);
    const int M = harmonicCount(period);
    const int voiced = std::min(voicedCount(frame.voicing, period), kMaxHarmonics);
    frame.harmonics = int16_t(M);
    syn.period = period;
    syn.harmonics = int16_t(M);
    syn.voicedCount = int16_t(voiced);

    frame.gain = float(frame.gain / std::sqrt(double(M)));
    for (int k = 0; k < kMaxHarmonics; ++k) syn.amp[k] = k < voiced ? frame.gain : 0.0f;
    lsp_lpc(frame.lsp, syn.frameLpc);
    enhance(syn.frameLpc, frame.voicing, period, voiced, syn.amp, cb);

    switch (mode) {
        case 1:
            uvSyn8k_flt(M, cb);
            voi_syn(M, cb);
            lpc_int(frame.lsp, &syn);
            lpc_syn_flt(cb);
            break;
        case 2:
            uvSyn8k_fix(M, cb);
            voiSynOscillators(M, cb);
            mixFloatVoiced8k_fix(cb);
            lpc_int(frame.lsp, &syn);
            lpc_syn_fix(cb);
            break;
        default:
            uvSyn8k_fix(M, cb);
            voiSyn8k_fix(M, cb);
            lpc_int(frame.lsp, &syn);
            lpc_syn_fix(cb);
            break;
    }
    cb->wFrameOutput = 1;
    return 0;
}

}  // namespace zef
