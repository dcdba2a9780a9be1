// The analysis side of a Guisette: once per coded frame the encoder hands
// its analysed pitch, voicing and predictor to the router, which replaces
// them as the session's transformation state says (transposed, flattened
// or alternating pitch, whisper, formant warp).  Both codecs analyse with
// the same ten-coefficient predictor, so the two routers share one body.
#pragma once

#include "zefinternal.h"

namespace zef {

constexpr int kGuisetteLpcOrder = 10;

struct AnalysedFrame {
    float period;                    // pitch period in samples at 8000 Hz, 16..125
    float voicing;                   // 0 unvoiced .. 1 fully voiced (voicing code / 15)
    float a[kGuisetteLpcOrder];      // predictor, A(z) = 1 - sum a[k] z^-(k+1)
    bool haveLpc;                    // a[] holds this frame's analysis
};

// The Orvo (2.4 kbit/s) and Peln routers.  Type 0 and a null state leave
// the frame unchanged.
void GuisetteRouter24(GuisetteState* gu, AnalysedFrame* frame);
void GuisetteRouterPeln(GuisetteState* gu, AnalysedFrame* frame);

// Formant warp: the envelope 1/|A|^2 read at frequency f * warp (formants
// move to f / warp), turned back into a predictor.  Returns true when a[]
// was replaced; false leaves it as it was (warp not positive and finite,
// coefficients not finite, or a warped predictor that is not stable).
bool gu_formantWarpLumo(float a[kGuisetteLpcOrder], float warp);
bool gu_formantWarpPeln(float a[kGuisetteLpcOrder], float warp);

// Levinson-Durbin: the predictor of autocorrelation r[0..10].  Returns
// false, leaving a[] untouched, unless every reflection coefficient has
// |k| < 1 (r[0] > 0 and the recursion stays positive definite).
bool gu_durbinLumo(const double r[kGuisetteLpcOrder + 1], float a[kGuisetteLpcOrder]);
bool gu_durbinPeln(const double r[kGuisetteLpcOrder + 1], float a[kGuisetteLpcOrder]);

}  // namespace zef
