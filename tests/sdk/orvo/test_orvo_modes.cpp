// Synthesis modes 2 and 3 (integer excitation and filter; mode 3 also with
// the integer oscillator bank) against the floating mode 1, and oscillator
// phases that have run for hours.
#include <gtest/gtest.h>

#include "orvo_test_util.h"

using orvotest::Decoder;
using orvotest::Frame;

namespace {

struct Distance {
    double segmentalSnr = 0.0, worstFrame = 1e9;  // dB
    int frames = 0;
};

// Segmental SNR against mode 1 over the same frames: frames quieter than
// RMS 30 left out, each frame's figure clamped to -10 .. 80 dB.
Distance compare(int mode, float warp, const std::vector<Frame>& frames, int silenceFrom = -1, int silenceTo = -1) {
    Decoder reference(warp, 1), tested(warp, mode);
    reference.cb().fRelPitch = tested.cb().fRelPitch = 7.0f;
    Distance d;
    for (int i = 0; i < int(frames.size()); ++i) {
        reference.cb().wSilenceFill = tested.cb().wSilenceFill = i >= silenceFrom && i < silenceTo;
        const std::vector<int16_t> x = reference.decode(frames[i]), y = tested.decode(frames[i]);
        EXPECT_EQ(x.size(), y.size()) << "frame " << i;
        if (orvotest::rms(x) < 30.0) continue;
        const double snr = std::clamp(orvotest::snr(x, y), -10.0, 80.0);
        d.segmentalSnr += snr;
        d.worstFrame = std::min(d.worstFrame, snr);
        ++d.frames;
    }
    d.segmentalSnr /= std::max(d.frames, 1);
    return d;
}

// About five seconds of mixed voiced, unvoiced and quiet frames per case.
// Measured when written: 65 dB segmental SNR for both modes at every warp,
// the worst single frame 30 dB.
TEST(OrvoFixedModes, StayCloseToTheFloatingSynthesis) {
    for (int mode : {2, 3}) {
        for (float warp : {1.0f, 0.7f, 1.3f, 3.0f}) {
            const Distance d = warp == 1.0f ? compare(mode, warp, orvotest::pseudoSpeech(220, 99), 80, 110)
                                            : compare(mode, warp, orvotest::pseudoSpeech(220, 99));
            EXPECT_GT(d.frames, 140);
            EXPECT_GT(d.segmentalSnr, 50.0) << "mode " << mode << " warp " << warp;
            EXPECT_GT(d.worstFrame, 20.0) << "mode " << mode << " warp " << warp;
        }
    }
}

// A session whose phases have run on for hours of voiced speech (a whole
// number of turns added, far past 2^31 table units) sounds like a fresh one.
TEST(OrvoVoiced, PhasesFarAlongStillIndexTheTable) {
    for (int mode : {1, 2}) {
        Decoder fresh(1.0f, mode), aged(1.0f, mode);
        const std::vector<Frame> frames = orvotest::pseudoSpeech(40, 17);
        for (int i = 0; i < 20; ++i) {
            fresh.decode(frames[i]);
            aged.decode(frames[i]);
        }
        for (double& phase : aged.state().voi.phase) phase += 3.141592653 * 2.0 * 268435456.0;
        std::vector<Frame> rest(frames.begin() + 20, frames.end());
        EXPECT_GT(orvotest::snr(fresh.decodeAll(rest), aged.decodeAll(rest)), 50.0) << "mode " << mode;
    }
}

}  // namespace
