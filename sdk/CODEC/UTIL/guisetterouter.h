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

}  // namespace zef
