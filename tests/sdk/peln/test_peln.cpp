// The Peln decoder's own parts: field codes to parameters, segments under
// warp and their interpolation, the output blocks and the excitation.
#include <gtest/gtest.h>

#include <numeric>

#include "decoder.h"

using namespace zeftest;
namespace peln = zef::peln;
using D = Decoder<Peln>;

namespace {

Frame voicedF(uint8_t pitch, uint8_t energy = 20) { return voiced<Peln>(pitch, energy); }

TEST(PelnUnpack, PitchEnergyAndLspCodes) {
    D d;
    for (int code = 0; code < 256; ++code) {
        Frame f = unvoiced<Peln>(uint8_t(code % 32));  // unvoiced: no pitch shift involved
        f.pitch = uint8_t(code);
        const peln::FrameParams& p = d.unpack(f);
        EXPECT_NEAR(p.period, periodOf(code), 1e-4) << code;
        EXPECT_NEAR(p.energy, Peln::amplitude(code % 32) * Peln::amplitude(code % 32), 1e-5 * p.energy) << code;
        EXPECT_EQ(d.cb().bFrameLevel, 4 * (code % 32));
        const int N = peln::harmonicCountPeln(p.period);  // 57 at code 0, 7 at 255
        EXPECT_GT(p.amp[N - 1], 0.0f);
        for (int i = N; i < peln::kMaxHarmonics; ++i) ASSERT_EQ(p.amp[i], 0.0f) << code;
    }
    Frame f;
    f.lsp = {31, 31, 31, 31, 15, 15, 15, 7, 7, 7};  // far beyond 4000 Hz
    const float* lsp = d.unpack(f).lsp;
    EXPECT_EQ(lsp[9], 3900.0f);
    for (int k = 0; k < 9; ++k) EXPECT_LE(lsp[k], lsp[k + 1] - 40.0f + 1e-3f) << k;
}

// The amplitudes carry the frame's energy, a shape with no positive band
// as a flat spectrum.
TEST(PelnUnpack, AmplitudesCarryTheEnergy) {
    D d;
    Rng rng{7};
    for (int i = 0; i < 200; ++i) {
        const Frame f{uint8_t(rng.below(16)), uint8_t(rng.below(256)), uint8_t(rng.below(32)), Peln::kFlatLsp,
                      {uint8_t(rng.below(8)), uint8_t(rng.below(8)), uint8_t(rng.below(8))}};
        const peln::FrameParams& p = d.unpack(f);
        const int N = peln::harmonicCountPeln(float(periodOf(f.pitch)));
        const double total = 0.5 * std::sqrt(0.65 * p.energy * N);
        EXPECT_NEAR(std::accumulate(p.amp, p.amp + N, 0.0), total, 2e-5 * total) << i;
    }
    peln::CodeRecord code{};
    peln::initQuanPeln(&code);
    float book[3 * 8 * 10] = {};
    std::fill(book, book + 10, -0.5f);  // negative at every band
    for (int s = 0; s < 3; ++s) code.shapeBooks[0][s] = book + s * 80;
    peln::FrameParams frame{};
    frame.period = 80.0f, frame.energy = 1000.0f;
    const int N = peln::UQFB_8kPeln(&frame, &code);
    for (int k = 0; k < N; ++k) EXPECT_NEAR(frame.amp[k], 0.5 * std::sqrt(0.65 * 1000.0 * N) / N, 1e-4f) << k;
}

// Silence fill: the quietest energy unvoiced frames taught, a flat spectrum,
// background LSPs learnt slowly and spaced 45 Hz; then six frames fade in.
TEST(PelnSilence, FillUsesWhatUnvoicedFramesTaughtThenFadesIn) {
    D d;
    Frame quiet = unvoiced<Peln>(5);
    quiet.lsp = {};
    const peln::FrameParams& p = d.unpack(quiet);
    const float quietEnergy = p.energy;
    float expected[10];
    for (int k = 0; k < 10; ++k) expected[k] = float(0.03 * p.lsp[k] + 0.97 * (300.0 + 400.0 * k));
    for (int k = 1; k < 10; ++k) expected[k] = std::max(expected[k], expected[k - 1] + 45.0f);
    d.unpack(voicedF(60, 31));  // voiced frames teach nothing
    d.cb().wSilenceFill = 1;
    d.unpack(quiet);
    EXPECT_EQ(p.energy, quietEnergy);
    for (int k = 0; k < 10; ++k) EXPECT_NEAR(p.lsp[k], expected[k], 1e-3) << k;
    d.cb().wSilenceFill = 0;
    D reference;
    const float full = reference.unpack(voicedF(90, 25)).amp[3];
    for (int i = 1; i <= 7; ++i) EXPECT_NEAR(d.unpack(voicedF(90, 25)).amp[3], full * std::min(i, 6) / 6.0f, 1e-4 * full) << i;
}

// Segment L, overlap O, the noise run L + O + 1 and output count K under warp;
// a caller that never started a drop group (0) drops nothing.
TEST(PelnSegments, GeometryFollowsTheWarp) {
    const struct { float warp; int16_t group; int L, O, firstK, perFrame; } cases[] = {
        {1.0f, 1, 180, 70, 180, 1}, {0.75f, 1, 134, 52, 166, 1}, {0.375f, 2, 134, 52, 166, 1},
        {2.5f, 1, 150, 58, 171, 3}, {0.2f, 1, 36, 30, 128, 1}, {5.0f, 1, 180, 70, 180, 5}, {1.0f, 0, 180, 70, 180, 1},
        {NAN, 0, 180, 70, 180, 1}, {0.0f, 0, 36, 30, 128, 1}, {-3.0f, 0, 36, 30, 128, 1}, {INFINITY, 0, 180, 70, 180, 5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "warp " << c.warp << " x " << c.group);
        D d(c.warp, c.group);
        for (int call = 0; call < 4 * c.perFrame; ++call) {
            if (d.cb().wNeedFrame) d.setCodes(voicedF(80));
            d.call();
            ASSERT_EQ(d.lastError(), 0u);
            const peln::SynthState& s = d.state().syn;
            EXPECT_EQ(s.L, c.L);
            EXPECT_EQ(s.O, c.O);
            EXPECT_EQ(s.span, s.L + s.O + 1);
            EXPECT_EQ(s.outCount, call ? c.L : c.firstK);
            EXPECT_EQ(d.cb().wNeedFrame, (call + 1) % c.perFrame == 0) << call;
        }
    }
}

// Blocks are exactly the stream of segment samples cut into 180s, A and B in
// turn, whatever the warp does; a manager that lost its block fails.
TEST(PelnSegments, BlocksAreTheSegmentStreamCutInto180s) {
    const float warps[] = {1.0f, 0.75f, 0.55f, 1.3f, 2.5f, 4.1f, 0.9f, 1.0f, 3.0f};
    D d;
    const std::vector<Frame> frames = pseudoSpeech<Peln>(60, 11);
    Samples segments, blocks;
    int last = peln::kBlockA;
    for (size_t next = 0; next < frames.size();) {
        if (d.cb().wNeedFrame) d.cb().fWarp = warps[next % 9], d.setCodes(frames[next++]);
        const Samples block = d.call();
        ASSERT_EQ(d.lastError(), 0u);
        const peln::SynthState& s = d.state().syn;
        segments.insert(segments.end(), s.segment, s.segment + s.outCount);
        blocks.insert(blocks.end(), block.begin(), block.end());
        if (s.finished) {
            EXPECT_NE(s.finished, last);
            last = s.finished;
        }
    }
    ASSERT_EQ(blocks.size(), segments.size() / 180 * 180);
    EXPECT_TRUE(std::equal(blocks.begin(), blocks.end(), segments.begin()));
    d.state().syn.filling = 0;
    d.call();
    EXPECT_EQ(d.lastError(), peln::kErrLostBlocks);
}

// A stretched frame moves from the previous frame to the current one in
// thirds and ends exactly on it; LSP pairs the mix inverts by more than
// 45 Hz are set 45 Hz apart.
TEST(PelnSegments, StretchedFramesInterpolate) {
    D d(2.5f);
    d.steady(voicedF(0), 1);  // period 125
    const peln::FrameParams prev = d.state().frame;
    Frame high = unvoiced<Peln>();
    high.pitch = 255;  // period 16
    high.lsp = {20, 20, 15, 15, 8, 8, 6, 4, 3, 3};
    d.setCodes(high);
    for (int c = 1; c <= 3; ++c) {
        d.call();
        const peln::SynthState& s = d.state().syn;
        const float lambda = c / 3.0f;
        EXPECT_NEAR(s.segPeriod, 125.0f - 109.0f * lambda, 1e-3) << c;
        EXPECT_NEAR(s.segVoicing, 1.0f - lambda, 1e-6) << c;
        EXPECT_NEAR(s.segLsp[4], prev.lsp[4] + (d.state().frame.lsp[4] - prev.lsp[4]) * lambda, 1e-3) << c;
        EXPECT_EQ(s.voicedCount, int(s.harmonics * s.segVoicing + 0.5f)) << c;
        EXPECT_GT(s.segAmp[s.harmonics - 1], 0.0f) << c;  // read off both spectra
    }
    const float inverted[10] = {900, 700, 1500, 1400, 2000, 2300, 2700, 3100, 3500, 3900};
    peln::PelnState& st = d.state();
    std::copy(inverted, inverted + 10, st.frame.lsp);
    std::copy(inverted, inverted + 10, st.syn.prev.lsp);
    d.cb().wNeedFrame = 1;
    peln::SetupPeln(&d.cb());
    const float repaired[10] = {900, 945, 1500, 1545, 2000, 2300, 2700, 3100, 3500, 3900};
    for (int k = 0; k < 10; ++k) EXPECT_NEAR(st.syn.segLsp[k], repaired[k], 1e-3) << k;

}

TEST(PelnExcitation, VoicedSegmentsMakeNoNoiseUnvoicedOnesNoTones) {
    float a[4], b[4];
    peln::randGenPeln(a, 4, -32767.2f);  // a negative seed wraps to its 16-bit pattern
    peln::randGenPeln(b, 4, 32770.0f);
    EXPECT_TRUE(std::equal(a, a + 4, b));
    D v, u;
    v.steady(voicedF(100), 3);
    const peln::SynthState& s = v.state().syn;
    EXPECT_EQ(s.uv.seed, 0.0f);  // the generator never ran
    EXPECT_TRUE(std::all_of(s.uv.out, s.uv.out + s.outCount, [](float x) { return x == 0.0f; }));
    const Samples x = u.steady(unvoiced<Peln>(), 6);
    const peln::SynthState& t = u.state().syn;
    EXPECT_TRUE(std::all_of(t.voi.voiced, t.voi.voiced + t.outCount, [](float y) { return y == 0.0f; }));
    double run = 0.0, harmonics = 0.0;  // a run's mean power is the harmonics' summed power
    for (int n = 0; n < t.L + t.prevO + 1; ++n) run += double(t.uv.run[n]) * t.uv.run[n];
    for (int k = 0; k < t.harmonics; ++k) harmonics += double(t.segAmp[k]) * t.segAmp[k];
    EXPECT_NEAR(run / (t.L + t.prevO + 1), harmonics, 1e-3 * harmonics);
    EXPECT_GT(rms(x), 10.0);
}

}  // namespace
