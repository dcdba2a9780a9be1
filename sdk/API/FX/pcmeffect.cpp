// The PCM effects.  Every processor reads and writes one circular delay line
// through an index that is reduced into the line before each access, so no
// oscillator value, input or session length can reach outside the buffer.
#include "pcmeffect.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <numbers>

#include "mirlane.h"

namespace zef {
namespace {

struct EffectSetting {
    uint16_t id;
    PCMEffectKind kind;
    float oscFreq;
    float depth;
    int16_t delay;
    float feedback;
    float dry;
    float inputGain;
};

// wet = 1 - dry; lineLength = delay + depth + 1.
constexpr EffectSetting kEffects[] = {
    {5001, kEffectModDelay, 7.3f, 3.0f, 128, 0.92f, 0.001f, 0.2f},
    {5002, kEffectModDelay, 0.2f, 100.0f, 160, 0.0f, 0.5f, 1.0f},
    {5003, kEffectModDelay, 0.01f, 10.0f, 80, -0.9f, 0.3f, 0.4f},
    {5004, kEffectModDelay, 0.01f, 10.0f, 80, 0.9f, 0.3f, 0.4f},
    {5005, kEffectDelay, 0.0f, 0.0f, 1900, 0.5f, 0.5f, 0.8f},
    {5006, kEffectDelay, 0.0f, 0.0f, 500, 0.5f, 0.5f, 0.9f},
    {5007, kEffectDelay, 0.0f, 0.0f, 7, 0.67f, 0.5f, 0.9f},
    {5008, kEffectDelay, 0.0f, 0.0f, 1400, 0.2f, 0.4f, 0.9f},
    {5009, kEffectDelay, 0.0f, 0.0f, 1000, 0.6f, 0.4f, 0.7f},
    {6001, kEffectRing, 120.0f, 1.0f, 0, 0.0f, 0.0f, 1.0f},
    {6002, kEffectRing, 50.0f, 1.0f, 0, 0.0f, 0.0f, 1.0f},
    {6003, kEffectRing, 500.0f, 1.0f, 0, 0.0f, 0.0f, 1.0f},
    {6004, kEffectRing, 450.0f, 1.0f, 0, 0.0f, 0.0f, 1.0f},
    {6005, kEffectRing, 165.0f, 1.0f, 0, 0.0f, 0.0f, 1.0f},
    {6006, kEffectRing, 79.0f, 1.0f, 0, 0.0f, 0.0f, 1.0f},
    {7001, kEffectChorus, 0.7f, 160.0f, 320, 0.3f, 0.5f, 1.0f},
    {7002, kEffectChorus, 1.6f, 150.0f, 300, 0.3f, 0.5f, 1.0f},
    {7003, kEffectChorus, 0.6f, 125.0f, 250, 0.3f, 0.5f, 1.0f},
};

const EffectSetting* findEffect(unsigned id) {
    for (const EffectSetting& e : kEffects)
        if (e.id == id) return &e;
    return nullptr;
}

// Truncation toward zero that saturates instead of overflowing (NaN gives 0).
int32_t truncSat(float x) {
    if (std::isnan(x)) return 0;
    if (x >= 2147483648.0f) return INT32_MAX;
    if (x < -2147483648.0f) return INT32_MIN;
    return static_cast<int32_t>(x);
}

// Samples keep the low 16 bits: loud feedback wraps rather than clips.
int16_t low16(int32_t v) { return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(v))); }
int16_t toSample(float x) { return low16(truncSat(x)); }

float stepOscillator(PCMEffectState* s) {
    float v = s->oscCoef * s->osc1 - s->osc2;
    s->osc2 = s->osc1;
    s->osc1 = v;
    return v;
}

// The delay line in use, with the write index w moving backwards, so that
// reading at w + D gives the sample written D samples earlier.
class DelayLine {
public:
    explicit DelayLine(PCMEffectState* s) : s_(s), len_(s->lineLength) {
        std::ptrdiff_t w = s->writePos - s->lineStart;
        w_ = (w >= 0 && w < len_) ? int(w) : 0;
    }
    ~DelayLine() { s_->writePos = s_->lineStart + w_; }
    DelayLine(const DelayLine&) = delete;
    DelayLine& operator=(const DelayLine&) = delete;

    int16_t at(int64_t offset) const {
        int64_t k = (int64_t(w_) + offset) % len_;
        return s_->lineStart[k < 0 ? k + len_ : k];
    }
    void write(int16_t v) { s_->lineStart[w_] = v; }
    void advance() { w_ = (w_ == 0 ? len_ : w_) - 1; }

private:
    PCMEffectState* s_;
    int len_;
    int w_;
};

// The delayed sample at the oscillator's offset, linearly interpolated.  The
// offset may be anything (the slow oscillators grow without bound); it is
// taken as a 16-bit value and the line index reduced into the line.
int16_t readModulated(PCMEffectState* s, const DelayLine& line) {
    float p = stepOscillator(s) * s->depth + float(s->delay);
    int16_t i = low16(truncSat(p));
    int16_t d0 = line.at(i);
    int16_t d1 = line.at(int64_t(i) + 1);
    return toSample(float(d0) + (p - float(i)) * float(d1 - d0));
}

void ringModulate(PCMEffectState* s, unsigned count, int16_t* x) {
    for (unsigned n = 0; n < count; ++n) x[n] = toSample(float(x[n]) * stepOscillator(s));
}

void feedbackDelay(PCMEffectState* s, unsigned count, int16_t* x) {
    DelayLine line(s);
    for (unsigned n = 0; n < count; ++n) {
        int16_t d = line.at(s->delay);
        int16_t a = toSample(float(x[n]) * s->inputGain);
        line.write(toSample(s->feedback * float(d) + float(a)));
        x[n] = toSample(s->dry * float(a) + s->wet * float(d));
        line.advance();
    }
}

void modulatedDelay(PCMEffectState* s, unsigned count, int16_t* x) {
    DelayLine line(s);
    for (unsigned n = 0; n < count; ++n) {
        int16_t d = readModulated(s, line);
        int16_t a = toSample(float(x[n]) * s->inputGain);
        line.write(toSample(s->feedback * float(d) + float(a)));
        x[n] = toSample(s->dry * float(a) + s->wet * float(d));
        line.advance();
    }
}

void chorus(PCMEffectState* s, unsigned count, int16_t* x) {
    DelayLine line(s);
    for (unsigned n = 0; n < count; ++n) {
        int16_t d = readModulated(s, line);
        int16_t a = toSample(float(x[n]) * s->inputGain);
        line.write(a);
        x[n] = int16_t((int32_t(a) + int32_t(d)) >> 1);
        line.advance();
    }
}

bool lineUsable(const PCMEffectState* s) {
    return s->lineStart && s->lineLength > 0 && s->lineLength <= kDelayLineSamples;
}

}  // namespace

uint16_t InitPCMEffect(PCMEffectState** out) {
    if (!out) return ZEFERR_PCM_EFFECT_MEMORY;
    *out = nullptr;
    auto* line = static_cast<int16_t*>(std::calloc(kDelayLineSamples, sizeof(int16_t)));
    if (!line) return ZEFERR_DELAY_LINE_MEMORY;
    auto* s = static_cast<PCMEffectState*>(std::calloc(1, sizeof(PCMEffectState)));
    if (!s) {
        std::free(line);
        return ZEFERR_PCM_EFFECT_MEMORY;
    }
    s->lineStart = line;
    s->writePos = line;
    s->twoPi = float(std::numbers::pi * 2.0);
    *out = s;
    return 0;
}

uint16_t FreePCMEffect(PCMEffectState* state) {
    if (!state) return 0;
    std::free(state->lineStart);
    std::free(state);
    return 0;
}

uint16_t SetPCMEffect(PCMEffectState* s, unsigned effectId) {
    if (!s) return 0;
    s->effectId = int16_t(effectId);
    const EffectSetting* e = findEffect(effectId);
    if (!e) {
        s->kind = kEffectNone;
        return 0;
    }
    s->sampleRate = 8000.0f;
    s->oscFreq = e->oscFreq;
    s->depth = e->depth;
    s->delay = e->delay;
    s->feedback = e->feedback;
    s->dry = e->dry;
    s->wet = float(1.0 - double(e->dry));
    s->inputGain = e->inputGain;
    s->normFreq = s->oscFreq / s->sampleRate;
    s->lineLength = int16_t(std::trunc(float(s->delay) + s->depth + 1.0f));
    const float omega = s->twoPi * s->normFreq;
    s->oscCoef = float(2.0 * std::cos(double(omega)));
    s->osc1 = float(std::sin(double(omega)));
    s->osc2 = 0.0f;
    s->kind = e->kind;
    s->modulated = (e->kind == kEffectModDelay || e->kind == kEffectChorus) ? 1 : 0;
    // The line keeps its contents and position across a change; a position
    // beyond a shorter line folds back into it.
    if (s->lineStart) {
        std::ptrdiff_t w = s->writePos - s->lineStart;
        if (w < 0 || w >= s->lineLength) s->writePos = s->lineStart + (w < 0 ? 0 : w % s->lineLength);
    }
    return 0;
}

uint16_t ApplyPCMEffect(PCMEffectState* s, unsigned count, int16_t* samples) {
    if (!s || !samples) return 0;
    switch (s->kind) {
        case kEffectRing:
            ringModulate(s, count, samples);
            break;
        case kEffectDelay:
            if (lineUsable(s)) feedbackDelay(s, count, samples);
            break;
        case kEffectModDelay:
            if (lineUsable(s)) modulatedDelay(s, count, samples);
            break;
        case kEffectChorus:
            if (lineUsable(s)) chorus(s, count, samples);
            break;
        default:
            break;
    }
    return 0;
}

}  // namespace zef
