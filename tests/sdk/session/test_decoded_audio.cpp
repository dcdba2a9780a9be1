// Decoded speech through the whole session: the pitch that the frames
// carry, the pitch shift, and time warping that changes the length but not
// the pitch.
#include "session_util.h"

using namespace sess;

namespace {

// The period over a steady stretch after the fade-in of the first frames.
double periodOfDecode(const std::vector<Frame>& frames, const Format& f) {
    const std::vector<int16_t> s = samples16(decodeFrames(frames, f));
    const size_t from = size_t(20 * 180 * f.warp);
    EXPECT_GT(s.size(), from + 2400 + 150);
    if (s.size() < from + 2400 + 150) return 0;
    return measurePeriod(s, from, 2400);
}

}  // namespace

TEST(DecodedAudio, TheFundamentalIsTheFramesPitch) {
    for (uint8_t code : {30, 90, 150, 210}) {
        SCOPED_TRACE(int(code));
        const double expectedHz = 8000.0 / periodOf(code);
        const double hz = 8000.0 / periodOfDecode(steadyVoiced(60, code), {});
        EXPECT_NEAR(hz, expectedHz, expectedHz * 0.01);
    }
}

TEST(DecodedAudio, TwelveSemitonesUpHalveThePeriod) {
    for (uint8_t code : {20, 100}) {
        SCOPED_TRACE(int(code));
        const double plain = periodOfDecode(steadyVoiced(60, code), {});
        const double shifted = periodOfDecode(steadyVoiced(60, code), Format{.semitones = 12.0f});
        EXPECT_NEAR(shifted, plain / 2, plain / 2 * 0.01);
    }
}

// Warping stretches or shortens every frame (dropping frames below half
// speed) and keeps the pitch.
TEST(DecodedAudio, WarpedLengthsFollowTheWarpAndKeepThePitch) {
    const std::vector<Frame> frames = steadyVoiced(120, 90);
    const double plain = periodOfDecode(frames, {});
    for (float warp : {0.3f, 0.5f, 1.0f, 2.0f, 5.0f}) {
        SCOPED_TRACE(warp);
        const Bytes pcm = decodeFrames(frames, Format{.warp = warp});
        EXPECT_EQ(pcm.size() / 2, size_t(std::lround(frames.size() * 180 * double(warp))));
        if (warp >= 1.0f) {
            EXPECT_NEAR(periodOfDecode(frames, Format{.warp = warp}), plain, plain * 0.01);
        }
    }
    // Sped up, the stretch after the fade-in is shorter; measure from frame 60.
    const std::vector<int16_t> fast = samples16(decodeFrames(frames, Format{.warp = 0.5f}));
    EXPECT_NEAR(measurePeriod(fast, 30 * 180, 2400), plain, plain * 0.01);
}
