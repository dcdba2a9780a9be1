// The analysis front end that both encoders share: a high-pass, pitch, a
// voicing cut-off from the harmonicity of four frequency bands, the
// ten-pole predictor and its line spectral pairs.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "fft256.h"
#include "guisetterouter.h"
#include "orvotables.h"

namespace zef::orvo {

constexpr int kEncFrame = 180;
constexpr int kEncHistory = 300;   // analysis span: longest pitch lag plus a frame
constexpr int kEncLpcWindow = 240;
constexpr int kVoicingBands = 4;   // 0-1, 1-2, 2-3 and 3-4 kHz
constexpr int kHzPerVoicingCode = 248;  // the voicing cut-off's step: 3720 Hz / 15
constexpr int kHighPassSections = 3;  // the input high-pass, two poles each
constexpr int kNoiseFrames = 64;   // about 1.4 s: each band's noise floor is its least power over them
// Below one step of 16-bit samples (about -90 dBFS) a frame holds nothing
// but rounding: sent as the quietest code, unvoiced.  Anything louder is
// coded at its level, so quiet recordings keep their quiet parts.
constexpr float kSilenceRms = 1.0f;
constexpr int kMinLag = 16, kMaxLag = 125;  // pitch periods searched, in samples
constexpr double kPi = 3.14159265358979323846;
static_assert(kGuisetteLpcOrder == kLpcOrder);

struct FrontEnd {
    float history[kEncHistory];              // high-passed input, newest last
    float band[kVoicingBands][kEncHistory];  // the same through the band filters
    float bandMemory[kVoicingBands][2][2];   // two biquads per band
    double highPass[kHighPassSections][2];   // input high-pass memory
    bool started;                            // the high-pass has seen a frame
    float prevPeriod;                        // last voiced period, 0 before the first
    float prevLsp[kLpcOrder];                // last good LSPs (Hz): fallback for a failed conversion
    float bandPower[kVoicingBands][kNoiseFrames];  // recent band powers, a ring
    int powerAt, powerFrames;                // the ring's next slot and how many it holds
};

// Everything the open-loop analysis knows of one frame.  `frame` is the
// hand-over point: pitch, voicing and predictor, before anything is quantised.
struct FrameAnalysis {
    AnalysedFrame frame;
    int voicingCode;                   // 0..15, frame.voicing = voicingCode / 15
    float rms;                         // of the new frame
    float level;                       // RMS over the predictor's window: the level to send (0: still)
    float period;                      // analysed pitch period (samples, fractional)
    float correlation;                 // normalised autocorrelation at the period
    float bandStrength[kVoicingBands]; // the same per band
    float speechShare[kVoicingBands];  // of each band's power, as far as its steady noise floor tells
};

void initFrontEnd(FrontEnd* fe);
// Takes in one frame and analyses the span that ends with it.
void analyseFrame(FrontEnd* fe, const int16_t pcm[kEncFrame], FrameAnalysis* out);
// The frame's LSPs from its (possibly transformed) predictor; the last good
// ones when there is none or it does not convert.
void frameLsp(FrontEnd* fe, const AnalysedFrame& frame, float lsp[kLpcOrder]);

// The synthesis filter's power response, which both encoders' level models
// read: bins 0 .. kBins of a 256-point FFT at 8 kHz.
constexpr int kBins = kFft256Size / 2;
constexpr double kHzPerBin = 8000.0 / kFft256Size;
// 1 / |A|^2 of the synthesis filter on bins 0 .. kBins.
void filterPower(const Fft256Tables* fft, const float a[kLpcOrder], float power[kBins + 1]);
// The same between bins, at `hz` (held at 0 and 4000 Hz beyond them).
float powerAt(const float power[kBins + 1], double hz);

// LSP codes as steps from the decoded LSP below, each step chosen against
// what the decoder rebuilds so errors do not add up.  Row k of `steps`
// holds 2^bits[k] candidates; row 0 is absolute.
template <int Slots>
void quantiseLspSteps(const float lsp[kLpcOrder], const float (&steps)[kLpcOrder][Slots],
                      const uint8_t bits[kLpcOrder], int16_t codes[kLpcOrder]) {
    float below = 0.0f;
    for (int k = 0; k < kLpcOrder; ++k) {
        const float* row = steps[k];
        const int slots = std::min(1 << bits[k], Slots);
        int best = 0;
        for (int c = 1; c < slots; ++c)
            if (std::fabs(below + row[c] - lsp[k]) < std::fabs(below + row[best] - lsp[k])) best = c;
        codes[k] = int16_t(best);
        below += row[best];
    }
}

// The pieces, for tests.
// Autocorrelation LPC of `n` (at most kEncHistory) samples (Hamming window,
// lag window, bandwidth expansion): a[k] in A(z) = 1 - sum a_k z^-k.
// Returns false for a silent or degenerate frame.
bool lpcAnalysis(const float* x, int n, float a[kLpcOrder]);
// The same predictor of kEncLpcWindow samples, taken from their power
// spectrum with the band from bin `fromBin` (of 128) up raised `raise` times
// in power (by its local mean, so not its fine structure).
bool lpcOfRaisedBand(const Fft256Tables* fft, const float* x, int fromBin, double raise, float a[kLpcOrder]);
// Predictor of an autocorrelation sequence (lags 0..10) by Levinson-Durbin;
// false when it is not positive definite.
bool lpcFromAutocorrelation(const double r[kLpcOrder + 1], float a[kLpcOrder]);
// Line spectral pairs of A(z) in Hz, ascending.  Returns false when fewer
// than ten were found.
bool lpcToLsp(const float a[kLpcOrder], float lsp[kLpcOrder]);
// The Hamming window of kEncLpcWindow samples that the predictor and the
// level share.
const float* lpcWindow();
// Pitch period in samples to the nearest pitch code (Peln uses the same grid).
int pitchCode(float period);
// Fractional pitch period (16..125) and its normalised correlation over
// the last `n` (at most kEncHistory) samples of x.
float estimatePitch(const float* x, int n, float prevPeriod, float* correlation);
// Voicing code from the full-band correlation and the band strengths: the
// decoder's harmonics reach up to code * 248 Hz, so the code is where the
// input stops being harmonic.
int voicingCode(float correlation, const float bandStrength[kVoicingBands], float level);

}  // namespace zef::orvo
