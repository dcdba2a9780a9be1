// Frame geometry under warp, harmonic counts, and the decoder's refusals.
#include <gtest/gtest.h>

#include "orvo_test_util.h"

using orvotest::Decoder;
namespace orvo = zef::orvo;

namespace {

TEST(OrvoGeometry, LengthsFollowTheEffectiveWarp) {
    struct {
        float warp;
        int16_t group;
        int N, W, H;
    } cases[] = {
        {1.0f, 1, 180, 50, 115}, {0.7f, 1, 126, 36, 81}, {1.3f, 1, 234, 66, 150}, {5.0f, 1, 900, 250, 575},
        {0.2f, 1, 36, 10, 23},   {0.3f, 3, 162, 46, 104},  // one frame in three decoded at 0.9
    };
    for (const auto& c : cases) {
        Decoder d(c.warp, 1, c.group);
        ASSERT_EQ(d.decode(orvotest::voicedFrame(60)).size(), size_t(c.N)) << c.warp;
        const orvo::SynthState& syn = d.state().syn;
        EXPECT_EQ(syn.W, c.W) << c.warp;
        EXPECT_EQ(syn.H, c.H) << c.warp;
    }
    const int subframes[] = {46, 46, 46, 46, 50};  // of the 234 samples at 1.3
    for (int j = 0; j < orvo::kSubframes; ++j) EXPECT_EQ(orvo::subframeLength(234, j), subframes[j]);
}

TEST(OrvoGeometry, WarpOutsideItsRangeIsRefused) {
    struct {
        float warp;
        int16_t group;
        uint32_t error;
    } cases[] = {{5.01f, 1, 11110}, {0.19f, 1, 11111}, {2.6f, 2, 11110}, {NAN, 1, 11111}, {-1.0f, 1, 11111}};
    for (const auto& c : cases) {
        Decoder d(c.warp, 1, c.group);
        d.decode(orvotest::voicedFrame(60));
        EXPECT_EQ(d.lastError(), c.error) << c.warp << " x " << c.group;
    }
}

TEST(OrvoGeometry, CrossfadeRampsAddToOneAfterEveryWarpChange) {
    Decoder d;
    for (float warp : {1.0f, 0.7f, 1.3f, 1.298f}) {  // 1.3 and 1.298 share N but not W
        d.cb().fWarp = warp;
        d.decode(orvotest::voicedFrame(60));
        const orvo::SynthState& syn = d.state().syn;
        const int W = syn.W, H = syn.H;
        EXPECT_FLOAT_EQ(syn.window[W - 1], float(W - 1) / W) << warp;
        for (int i = 0; i < W; ++i) EXPECT_NEAR(syn.window[i] + syn.window[i + 2 * H - W], 1.0f, 1e-6) << warp;
    }
}

TEST(OrvoGeometry, HarmonicCountsFollowPeriodAndVoicing) {
    struct {
        uint8_t voicing, pitch;
        int harmonics, voiced;
    } cases[] = {{15, 0, 57, 58}, {15, 255, 7, 7}, {0, 0, 57, 0}, {8, 0, 57, 31}};
    for (const auto& c : cases) {
        Decoder d;
        orvotest::Frame f = orvotest::voicedFrame(c.pitch);
        f.voicing = c.voicing;
        d.decode(f);
        EXPECT_EQ(d.state().frame.harmonics, c.harmonics);
        EXPECT_EQ(d.state().syn.voicedCount, c.voiced);
    }
}

TEST(OrvoDecoder, RefusesOtherCodecsUnknownModesAndMissingOutput) {
    zef::ZefControlBlock cb{};
    cb.wCodecTag = 0x1521;
    for (auto step : {zef::initDecodeOrvo, zef::initPackOrvo, zef::unPackOrvo, zef::DecodeOrvo})
        EXPECT_EQ(step(&cb), 40002u);
    EXPECT_EQ(cb.lpCodecState, nullptr);

    Decoder bad(1.0f, 4);
    bad.decode(orvotest::voicedFrame(60));
    EXPECT_EQ(bad.lastError(), 40004u);
    for (int mode : {0, 1, 2, 3}) {
        Decoder ok(1.0f, mode);
        EXPECT_EQ(ok.decode(orvotest::voicedFrame(60)).size(), 180u) << mode;
    }

    Decoder d;
    d.cb().lpOutput = nullptr;
    d.decode(orvotest::voicedFrame(60));
    EXPECT_EQ(d.lastError(), 40002u);
    EXPECT_EQ(zef::freeDecodeOrvo(&d.cb()), 0u);
    EXPECT_EQ(d.cb().lpCodecState, nullptr);
    EXPECT_EQ(zef::unPackOrvo(&d.cb()), 40002u);  // freed: nothing to decode with
}

}  // namespace
