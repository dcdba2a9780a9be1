// Segments under warp and the output manager: segment lengths, overlaps and
// output counts, the block pattern, wNeedFrame over a stretched frame,
// interpolation between frames, and blocks that neither lose nor repeat a
// sample.
#include <gtest/gtest.h>

#include <cmath>

#include "peln_test_util.h"

using pelntest::Decoder;
using pelntest::Frame;
namespace peln = zef::peln;

namespace {

struct Call {
    int L, O, K;
    int need, output, finished;
};

Call callWith(Decoder& d, const Frame& f) {
    if (d.cb().wNeedFrame) d.setCodes(f);
    d.call();
    EXPECT_EQ(d.lastError(), 0u);
    const peln::SynthState& s = d.state().syn;
    return {s.L, s.O, s.outCount, d.cb().wNeedFrame, d.cb().wFrameOutput, s.finished};
}

TEST(PelnSegments, LengthsOverlapsAndOutputCountsFollowTheWarp) {
    const struct {
        float warp;
        int16_t group;
        int L, O, firstK, segmentsPerFrame;
    } cases[] = {
        {1.0f, 1, 180, 70, 180, 1},
        {0.75f, 1, 134, 52, 55 + 41 + 70, 1},  // 135 rounded down to even
        {0.375f, 2, 134, 52, 55 + 41 + 70, 1},  // the same after dropping every second frame
        {2.5f, 1, 150, 58, 55 + 46 + 70, 3},
        {0.2f, 1, 36, 30, 55 + 3 + 70, 1},    // short segments keep an overlap of 30
        {5.0f, 1, 180, 70, 180, 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "warp " << c.warp << " x " << c.group);
        Decoder d(c.warp, c.group);
        const Frame f = pelntest::voicedFrame(80);
        const Call first = callWith(d, f);
        EXPECT_EQ(first.L, c.L);
        EXPECT_EQ(first.O, c.O);
        EXPECT_EQ(first.K, c.firstK);
        for (int i = 0; i < 4 * c.segmentsPerFrame; ++i) {
            const Call next = callWith(d, f);
            EXPECT_EQ(next.L, c.L);
            EXPECT_EQ(next.K, c.L) << "steady state: one segment length per call";
        }
    }
}

TEST(PelnSegments, AtFullSpeedEveryCallFinishesABlockStartingWithB) {
    Decoder d;
    for (int i = 0; i < 8; ++i) {
        const Call c = callWith(d, pelntest::voicedFrame(80));
        EXPECT_EQ(c.output, 1) << i;
        EXPECT_EQ(c.finished, i % 2 ? peln::kBlockA : peln::kBlockB) << i;
        EXPECT_EQ(c.need, 1) << i;
    }
}

// Stretching over three segments: the decoder asks for the next frame only
// on the third, and the segments move from the previous frame to the current
// one by thirds, ending exactly on the current frame.
TEST(PelnSegments, StretchedFrameMovesInThirdsAndAsksForTheNextOnTheLast) {
    Decoder d(2.5f);
    Frame low = pelntest::voicedFrame(0);  // period 125
    for (int i = 0; i < 3; ++i) ASSERT_EQ(callWith(d, low).need, i == 2 ? 1 : 0);
    const peln::FrameParams prev = d.state().frame;

    Frame high = pelntest::unvoicedFrame();
    high.pitch = 255;  // period 16
    high.lsp = {20, 20, 15, 15, 8, 8, 6, 4, 3, 3};
    const int needs[3] = {0, 0, 1};
    for (int c = 1; c <= 3; ++c) {
        const Call call = callWith(d, high);
        EXPECT_EQ(call.need, needs[c - 1]) << c;
        const peln::SynthState& s = d.state().syn;
        const peln::FrameParams& cur = d.state().frame;
        const float lambda = c / 3.0f;
        EXPECT_NEAR(s.segPeriod, 125.0f + (16.0f - 125.0f) * lambda, 1e-3) << c;
        EXPECT_NEAR(s.segVoicing, 1.0f - lambda, 1e-6) << c;
        for (int k = 0; k < 10; ++k)  // sorted LSPs are only interpolated, never repaired
            EXPECT_NEAR(s.segLsp[k], prev.lsp[k] + (cur.lsp[k] - prev.lsp[k]) * lambda, 1e-3) << c << " " << k;
        EXPECT_EQ(s.harmonics, peln::harmonicCountPeln(s.segPeriod)) << c;
        EXPECT_EQ(s.voicedCount, int(s.harmonics * s.segVoicing + 0.5f)) << c;
    }
    const peln::SynthState& s = d.state().syn;
    EXPECT_EQ(s.segPeriod, 16.0f);
    EXPECT_EQ(s.voicedCount, 0);  // voicing 0: every harmonic unvoiced
    EXPECT_EQ(s.unvoicedCount, 7);
}

// The blocks handed out are exactly the stream of segment samples, cut
// into 180s: nothing lost, nothing repeated, whatever the warp does.
TEST(PelnSegments, BlocksAreTheSegmentStreamCutInto180s) {
    const std::vector<float> warps = {1.0f, 0.75f, 0.55f, 1.3f, 2.5f, 4.1f, 0.9f, 1.0f, 3.0f};
    Decoder d;
    const std::vector<Frame> frames = pelntest::pseudoSpeech(60, 11);
    std::vector<int16_t> segments, blocks;
    size_t next = 0;
    int calls = 0;
    while (next < frames.size()) {
        if (d.cb().wNeedFrame) {
            d.cb().fWarp = warps[next % warps.size()];
            d.setCodes(frames[next++]);
        }
        const std::vector<int16_t> block = d.call();
        ASSERT_EQ(d.lastError(), 0u);
        const peln::SynthState& s = d.state().syn;
        segments.insert(segments.end(), s.segment, s.segment + s.outCount);
        blocks.insert(blocks.end(), block.begin(), block.end());
        ++calls;
    }
    EXPECT_GT(calls, 60);
    ASSERT_EQ(blocks.size(), segments.size() / 180 * 180);
    EXPECT_TRUE(std::equal(blocks.begin(), blocks.end(), segments.begin()));
    EXPECT_GT(pelntest::rms(blocks.data(), blocks.size()), 10.0);
}

TEST(PelnSegments, DecodedLengthFollowsTheWarp) {
    for (float warp : {0.6f, 0.75f, 1.0f, 1.7f, 2.5f, 5.0f}) {
        Decoder d(warp);
        const std::vector<int16_t> x = d.decodeAll(std::vector<Frame>(100, pelntest::voicedFrame(80)));
        EXPECT_NEAR(double(x.size()) / (100 * 180), warp, 0.015 * warp) << warp;
    }
}

TEST(PelnSegments, WarpsTheEngineWouldRefuseStayInsideTheBuffers) {
    const struct {
        float warp;
        int L;
    } cases[] = {{NAN, 180}, {0.0f, 36}, {-3.0f, 36}, {100.0f, 180}, {INFINITY, 180}};
    for (const auto& c : cases) {
        Decoder d(c.warp, 0);
        const std::vector<int16_t> x = d.decodeAll(std::vector<Frame>(8, pelntest::voicedFrame(80)));
        EXPECT_EQ(d.lastError(), 0u) << c.warp;
        EXPECT_EQ(d.state().syn.L, c.L) << c.warp;
        EXPECT_FALSE(x.empty()) << c.warp;
    }
}

TEST(PelnSegments, OutputManagerThatLostItsBlockFails) {
    Decoder d;
    callWith(d, pelntest::voicedFrame(80));
    d.state().syn.filling = 0;
    d.call();
    EXPECT_EQ(d.lastError(), 50014u);
    Decoder e;
    e.state().syn.fillPos = 180;
    e.setCodes(pelntest::voicedFrame(80));
    e.call();
    EXPECT_EQ(e.lastError(), 50014u);
}

// Amplitudes that rise linearly with frequency stay on that line whatever
// the two periods and the mix; below the first harmonic and above the last
// the sets hold their end values.
TEST(PelnInterpolation, HarmonicsAreReadOffBothSpectraAtTheNewSpacing) {
    float prev[60] = {}, cur[60] = {}, out[60];
    const float p0 = 100.0f, p1 = 50.0f;  // 80 Hz, 160 Hz
    for (int j = 0; j < 60; ++j) {
        prev[j] = 0.001f * (j + 1) * 80.0f;
        cur[j] = 2.0f;
    }
    float period = 0.0f;
    peln::InterpolateHarmonics(cur, p1, prev, p0, 0.25f, out, &period);
    EXPECT_FLOAT_EQ(period, 87.5f);
    const int N = peln::harmonicCountPeln(87.5f);
    const int lastPrev = peln::harmonicCountPeln(p0);  // 46 harmonics, up to 3680 Hz
    for (int i = 1; i <= N; ++i) {
        const float f = i * 8000.0f / 87.5f;
        const float a0 = 0.001f * std::min(f, lastPrev * 80.0f);
        EXPECT_NEAR(out[i - 1], a0 + (2.0f - a0) * 0.25f, 1e-4) << i;
    }
    for (int i = N; i < 60; ++i) EXPECT_EQ(out[i], 0.0f);
    peln::InterpolateHarmonics(cur, p1, prev, p0, 1.0f, out, &period);
    EXPECT_EQ(period, p1);
    for (int i = 0; i < peln::harmonicCountPeln(p1); ++i) EXPECT_NEAR(out[i], 2.0f, 1e-6);
}

}  // namespace
