// PCM effects: small sample-by-sample processors (ring modulation, feedback
// delay, modulated feedback delay, chorus) run in place over each decoded
// frame while a Guisette is active.  Eighteen numbered effects, each a fixed
// setting of one processor.
#pragma once

#include <cstdint>

namespace zef {

constexpr int kDelayLineSamples = 2500;  // no effect uses more than 1901

enum PCMEffectKind : int16_t { kEffectNone = 0, kEffectRing = 1, kEffectDelay = 2, kEffectModDelay = 3, kEffectChorus = 4 };

// One per decompression session; allocated by InitPCMEffect, members in the
// order every session has used them.
struct PCMEffectState {
    float sampleRate;  // 8000 for every effect
    float oscFreq;     // Hz
    float depth;       // modulation depth of the delay, samples
    float twoPi;
    float feedback;    // gain of the delayed sample fed back into the line
    float wet;         // gain of the delayed sample in the output
    float dry;         // gain of the scaled input in the output
    float inputGain;
    float osc2;        // oscillator value two steps back
    float osc1;        // oscillator value one step back
    float oscCoef;     // 2 cos(omega)
    float normFreq;    // oscFreq / sampleRate
    int16_t delay;       // base delay, samples
    int16_t lineLength;  // circular delay line in use, samples
    int16_t* writePos;   // inside lineStart[0 .. lineLength - 1]
    int16_t* lineStart;  // kDelayLineSamples samples
    int16_t modulated;   // 1 for kinds 3 and 4
    int16_t kind;        // PCMEffectKind; 0 means no effect is loaded
    int16_t effectId;
};

// Silent delay line, no effect loaded.  0, or ZEFERR_DELAY_LINE_MEMORY (15)
// or ZEFERR_PCM_EFFECT_MEMORY (14), not recorded: the session set-up
// reports them.  *out is null after a failure.
uint16_t InitPCMEffect(PCMEffectState** out);
uint16_t FreePCMEffect(PCMEffectState* state);
// Loads an effect's settings; an unknown number loads none (kind 0).  The
// delay line keeps its contents across a change.  Always 0.
uint16_t SetPCMEffect(PCMEffectState* state, unsigned effectId);
// Runs the loaded processor over count samples in place.  Always 0.
uint16_t ApplyPCMEffect(PCMEffectState* state, unsigned count, int16_t* samples);

}  // namespace zef
