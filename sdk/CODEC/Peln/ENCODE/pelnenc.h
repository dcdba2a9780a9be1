// The Peln encoder: 180 samples at 8000 Hz in, the sixteen field codes of
// one packed frame out.  Pitch, voicing and the spectral envelope come from
// the shared front end; Peln adds the spectrum of the predictor's residual
// round each pitch harmonic, sent as a three-stage vector-quantised band
// shape, and an energy code chosen against a model of the decoder's steady
// output level.
#pragma once

#include <cstdint>

#include "frontend.h"
#include "peln.h"
#include "zefinternal.h"

namespace zef::peln {

constexpr int kEncFrame = orvo::kEncFrame;
constexpr int kEncHistory = orvo::kEncHistory;
constexpr int kEncWindow = orvo::kEncLpcWindow;

struct PelnEncoder {
    orvo::FrontEnd fe;
    ZefControlBlock shadow;        // decoder state whose tables the level model uses
    GuisetteState* guisette;       // the session's transformation, null for none
};

struct PelnAnalysis {
    float period;                  // samples, fractional
    float correlation;
    float rms;
    float lsp[kLpcOrder];          // Hz
    float bands[kMaxBands];        // measured band shape, mean 1
};

PelnEncoder* newPelnEncoder();
void freePelnEncoder(PelnEncoder* enc);
void encodePelnFrame(PelnEncoder* enc, const int16_t pcm[kEncFrame], uint8_t codes[kFieldCount],
                     PelnAnalysis* info = nullptr);

// The pieces, for tests.
// LSPs in Hz to the ten codes, each step chosen against the decoded LSP below.
void quantiseLspPeln(const float lsp[kLpcOrder], int16_t codes[kLpcOrder]);
// Band values of one voicing class to the three stage codes: the
// combination whose shape (scale taken out) is nearest, searched in full.
void quantiseShape(const float* bands, int voicingClass, const CodeRecord& code, int16_t stages[kShapeStages]);
// Mean output power of the decoder per unit of energy when it keeps
// decoding `codes` (the energy field is ignored).
double decodedPowerPerEnergy(PelnEncoder* enc, const uint8_t codes[kFieldCount]);

}  // namespace zef::peln
