// The Orvo encoder: 180 samples at 8000 Hz in, the fourteen field codes of
// one packed frame out.  Analysis is open loop for voicing, pitch and the
// spectral envelope; the energy code is chosen closed loop through a copy of
// the decoder, so that the decoded level follows the input level.
#pragma once

#include <cstdint>

#include "orvotables.h"
#include "zefinternal.h"

namespace zef::orvo {

constexpr int kEncFrame = 180;
constexpr int kEncHistory = 300;   // analysis span: longest pitch lag plus a frame
constexpr int kEncLpcWindow = 240;

struct OrvoEncoder {
    float history[kEncHistory];    // DC-free input, newest last
    float dcIn, dcOut;             // high-pass filter memory
    float prevPeriod;
    float prevLsp[kLpcOrder];      // last analysed LSPs (Hz): fallback for a failed root search
    ZefControlBlock shadow;        // a private decoder that hears what we send
    int16_t decoded[5 * kEncFrame];
    void* snapshot;                // decoder state copy for the trial decode
    GuisetteState* guisette;       // the session's transformation, null for none
};

// Analysis results that tests look at; the codes are what gets packed.
struct OrvoAnalysis {
    float period;                  // samples, fractional
    float correlation;             // normalised autocorrelation at the period
    float rms;                     // of the DC-free frame
    float lsp[kLpcOrder];          // Hz
};

OrvoEncoder* newOrvoEncoder();
void freeOrvoEncoder(OrvoEncoder* enc);
// Encodes one frame; codes receives kFieldCount field codes in frame order.
void encodeOrvoFrame(OrvoEncoder* enc, const int16_t pcm[kEncFrame], uint8_t codes[kFieldCount],
                     OrvoAnalysis* info = nullptr);

// The pieces, for tests and the Peln encoder.
// Autocorrelation LPC of `n` samples (Hamming window, lag window, bandwidth
// expansion): a[k] in A(z) = 1 - sum a_k z^-k.  Returns false for a
// silent or degenerate frame.
bool lpcAnalysis(const float* x, int n, float a[kLpcOrder]);
// Line spectral pairs of A(z) in Hz, ascending.  Returns false when fewer
// than ten were found.
bool lpcToLsp(const float a[kLpcOrder], float lsp[kLpcOrder]);
// LSPs in Hz to the ten codes, searched against the decoder's rebuilding.
void quantiseLsp(const float lsp[kLpcOrder], int16_t codes[kLpcOrder]);
// Pitch period in samples to the nearest pitch code (Peln uses the same
// period grid).
int pitchCode(float period);
// Shifts the analysis history by one frame and appends `pcm` with its DC
// removed (dcIn, dcOut: the filter memory).  Returns the new frame's RMS.
float pushFrame(float history[kEncHistory], float* dcIn, float* dcOut, const int16_t pcm[kEncFrame]);
// Normalised correlation at the pitch period to a voicing code 0..15;
// frames below the silence level are unvoiced.
int voicingCode(float correlation, float rms);
constexpr float kSilenceRms = 6.0f;      // about -75 dBFS: sent as the quietest code
// Fractional pitch period (16..125) and its normalised correlation over
// the last `n` samples of x.
float estimatePitch(const float* x, int n, float prevPeriod, float* correlation);

}  // namespace zef::orvo
