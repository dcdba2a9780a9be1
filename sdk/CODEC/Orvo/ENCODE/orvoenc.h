// The Orvo encoder: 180 samples at 8000 Hz in, the fourteen field codes of
// one packed frame out.  Voicing, pitch and the spectral envelope come from
// the open-loop front end, the envelope's upper LSPs refitted to the frame's
// log spectrum (envelopefit.h); the energy code is chosen against a model of the
// decoder's steady output level for the codes being sent, so the decoded
// level follows the input without depending on the frame before.
#pragma once

#include <cstdint>

#include "frontend.h"
#include "orvotables.h"
#include "zefinternal.h"

namespace zef::orvo {

struct OrvoEncoder {
    FrontEnd fe;
    ZefControlBlock shadow;        // decoder state whose tables the level model uses
    GuisetteState* guisette;       // the session's transformation, null for none
};

// Analysis results that tests look at; the codes are what gets packed.
struct OrvoAnalysis {
    float period;                  // samples, fractional
    float correlation;             // normalised autocorrelation at the period
    float rms;                     // of the high-passed frame
    float lsp[kLpcOrder];          // Hz
};

OrvoEncoder* newOrvoEncoder();
void freeOrvoEncoder(OrvoEncoder* enc);
// Encodes one frame; codes receives kFieldCount field codes in frame order.
void encodeOrvoFrame(OrvoEncoder* enc, const int16_t pcm[kEncFrame], uint8_t codes[kFieldCount],
                     OrvoAnalysis* info = nullptr);

// LSPs in Hz to the ten codes, searched against the decoder's rebuilding.
void quantiseLsp(const float lsp[kLpcOrder], int16_t codes[kLpcOrder]);
// Mean output power of the decoder per unit of squared gain when it keeps
// decoding `codes` (the energy field is ignored).
double decodedPowerPerGain(OrvoEncoder* enc, const uint8_t codes[kFieldCount]);

}  // namespace zef::orvo
