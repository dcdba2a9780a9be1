// Orvo's envelope refit: the upper LSPs moved so that the decoder's
// all-pole envelope follows the frame's log spectrum.
#pragma once

#include "fft256.h"
#include "orvotables.h"

namespace zef::orvo {

// The frame's spectrum as the fit sees it: bins 0 .. 128 of a Hann-windowed
// 256-point transform of kEncLpcWindow samples, in dB, each bin the mean
// power over one harmonic spacing of `period` (samples; 0 for noise).
void smoothedSpectrumDb(const Fft256Tables* fft, const float* window, float period, float db[129]);

// Refits the upper LSPs of `lsp` (Hz, ascending, from the autocorrelation
// predictor) by damped Gauss-Newton steps on the squared dB distance to
// `targetDb` over 125 .. 3781 Hz, the envelope taken at the target's power
// as the energy code will make it.  The autocorrelation fit follows the
// peaks but leaves a steep top band (the roll-off of a band-limited
// recording) tens of dB too high.  The LSPs stay ordered and apart.
void fitEnvelope(const float targetDb[129], float lsp[kLpcOrder]);

}  // namespace zef::orvo
