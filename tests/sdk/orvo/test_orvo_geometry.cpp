// Frame geometry under warp (N, W, H, crossfade window, subframes), the
// harmonic counts, and the decoder's refusals.
#include <gtest/gtest.h>

#include <cmath>

#include "orvo_test_util.h"

using orvotest::Decoder;
namespace orvo = zef::orvo;

namespace {

struct Geometry {
    float warp;
    int16_t group;
    int N, W, H;
};

TEST(OrvoGeometry, LengthsFollowTheEffectiveWarp) {
    const Geometry cases[] = {
        {1.0f, 1, 180, 50, 115}, {0.7f, 1, 126, 36, 81},  {1.3f, 1, 234, 66, 150},
        {5.0f, 1, 900, 250, 575}, {0.2f, 1, 36, 10, 23},  {2.0f, 1, 360, 100, 230},
        {0.3f, 3, 162, 46, 104},  // the engine decodes one frame in three at 0.9
        {0.5f, 2, 180, 50, 115},
    };
    for (const Geometry& g : cases) {
        Decoder d(g.warp, 1, g.group);
        ASSERT_EQ(orvo::initFrame8k(&d.cb()), 0u) << g.warp;
        const orvo::SynthState& syn = d.state().syn;
        EXPECT_EQ(syn.N, g.N) << g.warp;
        EXPECT_EQ(syn.W, g.W) << g.warp;
        EXPECT_EQ(syn.H, g.H) << g.warp;
        EXPECT_EQ(d.cb().wOutputSamples, g.N) << g.warp;
        EXPECT_EQ(syn.slowDown, g.warp * g.group > 1.0f) << g.warp;
        // Every frame advances the noise books by exactly N.
        EXPECT_EQ(2 * syn.H - syn.W, syn.N) << g.warp;
    }
}

TEST(OrvoGeometry, DecodedFramesHaveTheWarpedLength) {
    for (float warp : {0.7f, 1.0f, 1.3f, 2.5f, 5.0f}) {
        Decoder d(warp);
        size_t total = 0;
        for (const orvotest::Frame& f : orvotest::pseudoSpeech(20, 7)) {
            std::vector<int16_t> s = d.decode(f);
            ASSERT_EQ(d.lastError(), 0u);
            EXPECT_EQ(s.size() % 2, 0u);
            total += s.size();
        }
        EXPECT_NEAR(double(total) / 20.0, warp * 180.0, 1.0) << warp;
    }
}

TEST(OrvoGeometry, WarpOutsideItsRangeIsRefused) {
    struct Case {
        float warp;
        int16_t group;
        uint32_t error;
    } cases[] = {{5.01f, 1, 11110}, {0.19f, 1, 11111}, {2.6f, 2, 11110}, {NAN, 1, 11111}, {-1.0f, 1, 11111}};
    for (const Case& c : cases) {
        Decoder d(c.warp, 1, c.group);
        d.decode(orvotest::voicedFrame(60));
        EXPECT_EQ(d.lastError(), c.error) << c.warp << " x " << c.group;
    }
    Decoder edge(5.0f);
    edge.decode(orvotest::voicedFrame(60));
    EXPECT_EQ(edge.lastError(), 0u);
}

TEST(OrvoGeometry, CrossfadeWindowIsComplementaryAndFollowsWarpChanges) {
    Decoder d(1.0f);
    for (float warp : {1.0f, 0.7f, 1.3f, 1.31f}) {
        d.cb().fWarp = warp;
        d.decode(orvotest::voicedFrame(60));
        const orvo::SynthState& syn = d.state().syn;
        const int W = syn.W, H = syn.H;
        EXPECT_EQ(syn.window[0], 0.0f);
        EXPECT_FLOAT_EQ(syn.window[W - 1], float(W - 1) / W) << warp;
        EXPECT_EQ(syn.window[H], 1.0f);
        EXPECT_EQ(syn.window[2 * H], 0.0f);
        // Rising ramp of the new segment and falling ramp of the old one add to 1.
        for (int i = H - W; i < H; ++i)
            EXPECT_NEAR(syn.window[i - (H - W)] + syn.window[i + H], 1.0f, 1e-6) << warp << " at " << i;
    }
}

TEST(OrvoGeometry, SubframesCoverTheFrame) {
    for (int N = 36; N <= 900; N += 2) {
        int total = 0;
        for (int j = 0; j < orvo::kSubframes; ++j) total += orvo::subframeLength(N, j);
        EXPECT_EQ(total, N);
    }
    const int expected[] = {46, 46, 46, 46, 50};
    for (int j = 0; j < orvo::kSubframes; ++j) EXPECT_EQ(orvo::subframeLength(234, j), expected[j]);
}

TEST(OrvoGeometry, HarmonicCountsFollowThePeriod) {
    struct Case {
        uint8_t pitch;
        int harmonics;
    } cases[] = {{0, 57}, {255, 7}};
    for (const Case& c : cases) {
        Decoder d;
        d.decode(orvotest::voicedFrame(c.pitch));
        EXPECT_EQ(d.state().frame.harmonics, c.harmonics);
        EXPECT_EQ(d.state().syn.voicedCount, std::min(60, int(0.93 * orvotest::periodOf(c.pitch) * 0.5 + 0.5)));
    }
    Decoder d;
    d.decode(orvotest::unvoicedFrame());
    EXPECT_EQ(d.state().syn.voicedCount, 0);
    for (float a : d.state().syn.amp) EXPECT_EQ(a, 0.0f);
}

TEST(OrvoDecoder, RefusesOtherCodecsAndUnknownSynthesizers) {
    zef::ZefControlBlock cb{};
    cb.wCodecTag = 0x1521;
    EXPECT_EQ(zef::initDecodeOrvo(&cb), 40002u);
    EXPECT_EQ(zef::initPackOrvo(&cb), 40002u);
    EXPECT_EQ(zef::unPackOrvo(&cb), 40002u);
    EXPECT_EQ(zef::DecodeOrvo(&cb), 40002u);
    EXPECT_EQ(cb.lpCodecState, nullptr);

    Decoder d(1.0f, 4);
    d.decode(orvotest::voicedFrame(60));
    EXPECT_EQ(d.lastError(), 40004u);
    for (int mode : {0, 1, 2, 3}) {
        Decoder ok(1.0f, mode);
        EXPECT_EQ(ok.decode(orvotest::voicedFrame(60)).size(), 180u) << mode;
    }
}

TEST(OrvoDecoder, InitSetsTheFrameDefaultsAndFreeReleases) {
    Decoder d;
    ASSERT_EQ(d.initResult(), 0u);
    EXPECT_EQ(d.cb().wFrameSamples, 180);
    EXPECT_EQ(d.cb().wOutputSamples, 180);
    EXPECT_EQ(d.cb().wNeedFrame, 1);
    EXPECT_EQ(d.cb().wFrameOutput, 1);
    EXPECT_NE(d.cb().lpCodecState, nullptr);
    EXPECT_EQ(zef::freeDecodeOrvo(&d.cb()), 0u);
    EXPECT_EQ(d.cb().lpCodecState, nullptr);
    EXPECT_EQ(zef::freeDecodeOrvo(&d.cb()), 0u);  // nothing left to free
    EXPECT_EQ(zef::DecodeOrvo(&d.cb()), 40002u);
}

}  // namespace
