// The Peln encoder: 180 samples at 8000 Hz in, the sixteen field codes of
// one packed frame out.  Pitch, voicing and the spectral envelope come from
// the Orvo analysis; Peln adds the amplitudes of the pitch harmonics, sent
// as a three-stage vector-quantised band shape, and chooses its energy code
// closed loop through a private copy of the decoder.
#pragma once

#include <cstdint>

#include "orvoenc.h"
#include "peln.h"
#include "zefinternal.h"

namespace zef::peln {

constexpr int kEncFrame = orvo::kEncFrame;
constexpr int kEncHistory = orvo::kEncHistory;
constexpr int kEncWindow = orvo::kEncLpcWindow;

struct PelnEncoder {
    float history[kEncHistory];    // DC-free input, newest last
    float dcIn, dcOut;
    float prevPeriod;              // last voiced period, 0 before the first
    float prevLsp[kLpcOrder];      // fallback for a failed analysis
    ZefControlBlock shadow;        // a private decoder that hears what we send
    int16_t decoded[kBlock];
    PelnState* snapshot;           // decoder state kept across a trial decode
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

}  // namespace zef::peln
