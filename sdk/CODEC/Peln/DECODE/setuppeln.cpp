// Segment geometry under warp and the parameters of each segment: one
// segment per frame when speeding up, several when slowing down, their
// parameters moving from the previous frame to the current one.
#include <algorithm>
#include <cmath>

#include "peln.h"

namespace zef::peln {

namespace {

// w' = fWarp x wDropGroup.  The engine keeps it within 0.5 .. 5.0; a caller
// that never started a drop group means "no frames dropped", and a warp the
// engine would refuse is held to its limits so that every length stays in
// its buffer.
float effectiveWarp(const ZefControlBlock* cb) {
    const int group = cb->wDropGroup >= 1 ? cb->wDropGroup : 1;
    const float w = cb->fWarp * float(group);
    if (w != w) return 1.0f;
    return std::clamp(w, kMinWarp, kMaxWarp);
}

// A piecewise-linear function of frequency through the harmonics of one
// amplitude set: flat below the first harmonic and above the last.
float amplitudeAt(const float* amp, int count, float spacing, float f) {
    if (count <= 0) return 0.0f;
    if (f <= spacing) return amp[0];
    if (f >= float(count) * spacing) return amp[count - 1];
    const float position = f / spacing;  // harmonic j sits at j
    const int j = std::clamp(int(position), 1, count - 1);
    const float t = position - float(j);
    return amp[j - 1] + (amp[j] - amp[j - 1]) * t;
}

void takeFrame(SynthState& syn, const FrameParams& frame) {
    std::copy(frame.amp, frame.amp + kMaxHarmonics, syn.segAmp);
    std::copy(frame.lsp, frame.lsp + kLpcOrder, syn.segLsp);
    syn.segPeriod = std::clamp(frame.period, kMinPeriod, kMaxPeriod);
    syn.segVoicing = frame.voicing;
}

void interpolateFrames(SynthState& syn, const FrameParams& frame, float lambda) {
    const PrevFrame& prev = syn.prev;
    InterpolateHarmonics(frame.amp, frame.period, prev.amp, prev.period, lambda, syn.segAmp, &syn.segPeriod);
    float* lsp = syn.segLsp;
    for (int k = 0; k < kLpcOrder; ++k) lsp[k] = prev.lsp[k] + (frame.lsp[k] - prev.lsp[k]) * lambda;
    // Only pairs inverted by more than 45 Hz are repaired.
    for (int k = 1; k < kLpcOrder; ++k)
        if (lsp[k] + 45.0f < lsp[k - 1]) lsp[k] = lsp[k - 1] + 45.0f;
    syn.segVoicing = prev.voicing + (frame.voicing - prev.voicing) * lambda;
}

void keepFrame(PrevFrame& prev, const FrameParams& frame) {
    std::copy(frame.amp, frame.amp + kMaxHarmonics, prev.amp);
    std::copy(frame.lsp, frame.lsp + kLpcOrder, prev.lsp);
    prev.period = std::clamp(frame.period, kMinPeriod, kMaxPeriod);
    prev.voicing = frame.voicing;
    prev.energy = frame.energy;
    prev.reserved = frame.reserved;
}

int evenBelow(int n) { return n - (n & 1); }

}  // namespace

void InterpolateHarmonics(const float* curAmp, float curPeriod, const float* prevAmp, float prevPeriod,
                          float lambda, float* outAmp, float* outPeriod) {
    const float p0 = std::clamp(prevPeriod, kMinPeriod, kMaxPeriod);
    const float p1 = std::clamp(curPeriod, kMinPeriod, kMaxPeriod);
    const float p = p0 + (p1 - p0) * lambda;
    const int n0 = harmonicCountPeln(p0), n1 = harmonicCountPeln(p1), n = harmonicCountPeln(p);
    const float f0 = 8000.0f / p0, f1 = 8000.0f / p1, f = 8000.0f / p;
    for (int i = 1; i <= kMaxHarmonics; ++i) {
        if (i > n) {
            outAmp[i - 1] = 0.0f;
            continue;
        }
        const float at = float(i) * f;
        const float a1 = amplitudeAt(curAmp, n1, f1, at);
        const float a0 = amplitudeAt(prevAmp, n0, f0, at);
        outAmp[i - 1] = a0 + (a1 - a0) * lambda;
    }
    *outPeriod = p;
}

void SetupPeln(ZefControlBlock* cb) {
    PelnState* st = pelnState(cb);
    SynthState& syn = st->syn;
    const FrameParams& frame = st->frame;
    cb->wOutputSamples = kBlock;
    if (cb->wNeedFrame) {
        cb->wNeedFrame = 0;
        syn.repetition = 0;
        syn.warp = effectiveWarp(cb);
    }

    const float w = syn.warp;
    bool complete;
    int L;
    if (w <= 1.0f) {
        syn.repetition = 1;
        complete = true;
        L = int(w * 180.0f);
        takeFrame(syn, frame);
    } else {
        const int R = int(double(w) + 0.999999999999);  // w' rounded up
        syn.repetition = int16_t(std::min(syn.repetition + 1, R));
        complete = syn.repetition == R;
        L = int(w * 180.0f / float(R));
        if (complete)
            takeFrame(syn, frame);  // exactly the frame's values, not an interpolation
        else
            interpolateFrames(syn, frame, float(syn.repetition) / float(R));
    }
    if (complete) cb->wNeedFrame = 1;
    L = std::min(evenBelow(L), kMaxSegment);
    syn.prevL = syn.L;
    syn.L = int16_t(L);

    const int N = harmonicCountPeln(syn.segPeriod);
    const int voiced = std::clamp(int(float(N) * syn.segVoicing + 0.5f), 0, N);
    syn.harmonics = int16_t(N);
    syn.voicedCount = int16_t(voiced);
    syn.unvoicedCount = int16_t(N - voiced);

    int O = evenBelow(int(L * 70.0 / 180.0));
    if (O < 30) O = std::min(L, 30);
    syn.prevSpan = syn.span;
    syn.prevO = syn.O;
    syn.O = int16_t(O);
    syn.span = int16_t(L + O + 1);
    syn.outCount = int16_t(((syn.prevL - syn.prevO) >> 1) + ((L - O) >> 1) + syn.prevO);

    if (complete) keepFrame(syn.prev, frame);
}

}  // namespace zef::peln
