// The Peln decoder's life and its per-call driver: segment set-up,
// enhancement, excitation, synthesis filter, and the output manager that
// turns segments of any length into blocks of 180 samples.
#include <algorithm>
#include <cmath>

#include "codecs.h"
#include "orvonoise.h"
#include "peln.h"
#include "vectors.h"

namespace zef {
namespace peln {

// The random phases are the same values as the Orvo decoder's.
static_assert(kRandomPhaseCountPeln == orvo::kRandomPhaseCount);

namespace {

void initSynthesis(PelnState* st) {
    SynthState& syn = st->syn;
    initFft256(&st->fft);
    initEnhancePeln(&syn.enh);
    std::copy(kBackgroundLsp, kBackgroundLsp + kLpcOrder, syn.filt.prevLsp);
    initVoicedPeln(&syn.voi);
    syn.voi.unPeln = orvo::un;
    syn.filling = kBlockB;
    syn.L = syn.prevL = kBlock;
    syn.O = syn.prevO = 70;
    syn.span = syn.prevSpan = 251;
    syn.warp = 1.0f;
    std::copy(kBackgroundLsp, kBackgroundLsp + kLpcOrder, syn.prev.lsp);
    syn.prev.period = 100.0f;
}

}  // namespace

uint32_t OutputManagerPeln(SynthState* syn) {
    syn->finished = kNoBlock;
    const int K = syn->outCount, p = syn->fillPos;
    if (syn->filling != kBlockA && syn->filling != kBlockB) return kErrLostBlocks;
    if (p < 0 || p >= kBlock || K < 0 || K > kMaxOutput) return kErrLostBlocks;
    int16_t* x = syn->filling == kBlockA ? syn->blockA : syn->blockB;
    if (p + K < kBlock) {
        std::copy(syn->segment, syn->segment + K, x + p);
        syn->fillPos = int16_t(p + K);
        return 0;
    }
    const int first = kBlock - p;
    std::copy(syn->segment, syn->segment + first, x + p);
    syn->finished = syn->filling;
    syn->filling = syn->filling == kBlockA ? kBlockB : kBlockA;
    int16_t* y = syn->filling == kBlockA ? syn->blockA : syn->blockB;
    std::copy(syn->segment + first, syn->segment + K, y);
    syn->fillPos = int16_t(K - first);
    return 0;
}

}  // namespace peln

uint32_t initDecodePeln(ZefControlBlock* cb) {
    using namespace peln;
    if (!cb || cb->wCodecTag != kPelnTag) return kErrNotPeln;
    auto* st = static_cast<PelnState*>(static_cast<void*>(VectorCHR(sizeof(PelnState))));
    cb->lpCodecState = st;
    initQuanPeln(&st->code);
    // A silent frame until the first one is unpacked.
    st->frame.period = 100.0f;
    std::copy(kBackgroundLsp, kBackgroundLsp + kLpcOrder, st->frame.lsp);
    initSynthesis(st);
    cb->wFrameSamples = kBlock;
    cb->wOutputSamples = kBlock;
    cb->wNeedFrame = 1;
    cb->wDropActive = 0;
    return 0;
}

uint32_t freeDecodePeln(ZefControlBlock* cb) {
    if (!cb || cb->wCodecTag != peln::kPelnTag) return peln::kErrNotPeln;
    auto* st = peln::pelnState(cb);
    safefree(st);
    cb->lpCodecState = nullptr;
    return 0;
}

uint32_t DecodePeln(ZefControlBlock* cb) {
    using namespace peln;
    if (!cb || cb->wCodecTag != kPelnTag || !cb->lpCodecState || !cb->lpOutput) return kErrNotPeln;
    PelnState* st = pelnState(cb);
    SynthState& syn = st->syn;
    syn.voicingCode = st->code.voicingCode;
    SetupPeln(cb);
    lsp_to_lpcPeln(syn.segLsp, syn.segLpc);
    enhancePeln(syn.segLpc, syn.segVoicing, syn.segPeriod, syn.harmonics, syn.segAmp, st);
    uvsynPeln(st);
    vsynPeln(st);
    lpcsynPeln(syn.segLsp, syn.segment, syn.voi.excitation, &syn.filt, syn.outCount);
    if (uint32_t err = OutputManagerPeln(&syn)) return err;
    const int16_t* block = syn.finished == kBlockA ? syn.blockA : syn.finished == kBlockB ? syn.blockB : nullptr;
    if (block) std::copy(block, block + kBlock, cb->lpOutput);
    cb->wFrameOutput = block ? 1 : 0;
    return 0;
}

}  // namespace zef
