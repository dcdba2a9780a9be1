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

// Fitting the decoder's harmonic amplitudes (band values blended between
// neighbouring band frequencies) to measured ones, as a weighted least-squares
// problem: score(v) = (v . target)^2 / (v' G v), G tridiagonal.  The
// squared error left at the best scale is harmonics - score(v).
struct ShapeFit {
    int bands;
    int harmonics;                // 0 when there is nothing to fit
    double target[kMaxBands];
    double diag[kMaxBands];
    double off[kMaxBands];        // G[j][j + 1]
};

struct PelnAnalysis {
    float period;                  // samples, fractional
    float correlation;
    float rms;
    float lsp[kLpcOrder];          // Hz
    float bands[kMaxBands];        // measured band shape, mean 1
    ShapeFit fit;                  // what the shape search scored against
};

PelnEncoder* newPelnEncoder();
void freePelnEncoder(PelnEncoder* enc);
void encodePelnFrame(PelnEncoder* enc, const int16_t pcm[kEncFrame], uint8_t codes[kFieldCount],
                     PelnAnalysis* info = nullptr);

// The pieces, for tests.
// LSPs in Hz to the ten codes, each step chosen against the decoded LSP below.
void quantiseLspPeln(const float lsp[kLpcOrder], int16_t codes[kLpcOrder]);
void buildShapeFit(const float* mag, int count, float f0, const float* bandFreq, int bands, ShapeFit* fit);
// How well band values v (any scale) rebuild the magnitudes: higher is better.
double shapeScore(const ShapeFit& fit, const float* v);
// The three stage codes of a voicing class whose sum scores best, searched in full.
void quantiseShape(const ShapeFit& fit, int voicingClass, const CodeRecord& code, int16_t stages[kShapeStages]);
// Mean output power of the decoder per unit of energy when it keeps
// decoding `codes` (the energy field is ignored).
double decodedPowerPerEnergy(PelnEncoder* enc, const uint8_t codes[kFieldCount]);

}  // namespace zef::peln
