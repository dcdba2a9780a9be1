// The Peln decoder's own parts: field codes to parameters, segments under
// warp and their interpolation, the output blocks and the excitation.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <random>

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

// Each voiced harmonic glides linearly in amplitude and frequency from the
// previous call's to this one's and lands on its target phase; after a
// large jump the old tone runs alone before the overlap, the new one after.
TEST(PelnExcitation, OscillatorsFollowTheirGlidesAndTones) {
    const struct { double fromPeriod, toPeriod; bool glide; } cases[] = {{80.0, 78.0, true}, {100.0, 60.0, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.fromPeriod << " -> " << c.toPeriod);
        D d;
        peln::PelnState& st = d.state();
        peln::SynthState& syn = st.syn;
        peln::VoicedState& vs = syn.voi;
        const double twoPi = 2.0 * 3.14159265358979323846, from = twoPi / c.fromPeriod, to = twoPi / c.toPeriod;
        const int K = syn.outCount = 180, M = syn.harmonics = 24, v = syn.voicedCount = 24;
        syn.segPeriod = float(c.toPeriod);
        vs.prevOmega = from, vs.prevCount = int16_t(v);
        std::mt19937 rng(5);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        double start[peln::kMaxHarmonics];
        for (int k = 0; k < M; ++k) {
            vs.phase[k] = start[k] = twoPi * unit(rng);
            vs.amp[k] = float(100.0 + 900.0 * unit(rng));
            syn.segAmp[k] = float(100.0 + 900.0 * unit(rng));
        }
        std::fill(syn.uv.out, syn.uv.out + K, 0.0f);
        float oldAmp[peln::kMaxHarmonics];
        std::copy(vs.amp, vs.amp + M, oldAmp);
        peln::vsynPeln(&st);
        double total = 0.0;
        for (int k = 0; k < M; ++k) total += oldAmp[k] + syn.segAmp[k];
        // Sample n of harmonic k + 1; vs.phase now holds the targets (within a turn).
        auto glide = [&](int k, int n) {
            double miss = vs.phase[k] - (start[k] + (k + 1) * (from + to) / 2.0 * K);
            miss -= twoPi * std::floor(miss / twoPi + 0.5);
            const double phase = start[k] + ((k + 1) * from + miss / K) * n + (k + 1) * (to - from) / (2.0 * K) * n * n;
            return (oldAmp[k] + (syn.segAmp[k] - oldAmp[k]) * n / double(K)) * std::sin(phase);
        };
        const int before = (syn.prevL - syn.prevO) >> 1, newStart = before + syn.prevO;
        auto tone = [&](int k, int n) {
            return n < before ? oldAmp[k] * std::sin(start[k] + (k + 1) * from * n)
                              : syn.segAmp[k] * std::sin(vs.phase[k] - (k + 1) * to * (K - n));
        };
        for (int n = 0; n < K; ++n) {
            if (!c.glide && n >= before && n < newStart) continue;  // the crossfade
            double expected = 0.0;
            for (int k = 0; k < M; ++k) expected += c.glide ? glide(k, n) : tone(k, n);
            ASSERT_NEAR(vs.voiced[n], expected, 1e-4 * total) << n;
        }
    }
}

// The oscillators start afresh from exact phases every call: a steady vowel
// keeps its level and pitch however long it plays (here a minute).
TEST(PelnExcitation, LongSteadyVowelKeepsItsLevelAndPitch) {
    D d;
    const Samples x = d.steady(voicedF(100), 2700);
    const size_t second = 8000, last = x.size() - second;
    const Samples first(x.begin() + second, x.begin() + 2 * second), end(x.begin() + long(last), x.end());
    EXPECT_NEAR(20.0 * std::log10(rms(end) / rms(first)), 0.0, 0.05);
    EXPECT_NEAR(measuredPeriod(x, last, 2000), periodOf(100), 0.01 * periodOf(100));
    const peln::VoicedState& vs = d.state().syn.voi;
    EXPECT_TRUE(std::all_of(vs.phase, vs.phase + peln::kMaxHarmonics, [](double p) { return p >= 0.0 && p < 6.3; }));
}

// The quick arithmetic against the plain one it replaces: the four-lane
// noise generator, the real transforms against fft256, the enhancement
// against the encoder's model of it, the two-at-a-time synthesis filter
// against its direct form.
TEST(PelnQuickPaths, MatchThePlainArithmetic) {
    std::mt19937 rng(11);
    for (const float seed : {0.0f, 1.0f, -32767.2f, 40000.0f, 12345.0f})
        for (const int n : {1, 7, 8, 9, 251}) {
            float x[256];
            peln::randGenPeln(x, n, seed);
            auto s = uint16_t(int64_t(std::trunc(double(seed) + 0.5)) & 0xffff);
            for (int i = 0; i < n; ++i) {
                s = uint16_t(15621u * s + 1u);
                ASSERT_EQ(x[i], float(int(s) - 32768)) << seed << " " << n << " " << i;
            }
        }

    D d;
    peln::PelnState& st = d.state();
    std::normal_distribution<float> gauss(0.0f, 1000.0f);
    for (int trial = 0; trial < 20; ++trial) {
        float x[256] = {}, re[256], im[256] = {}, X[129], Y[129], back[256];
        for (int i = 3; i < 250; ++i) x[i] = gauss(rng);
        std::copy(x, x + 256, re);
        zef::fft256(&st.fft, re, im);
        peln::forwardRealPeln(&st.fft, x, X, Y);
        for (int k = 0; k <= 128; ++k) ASSERT_NEAR(std::hypot(X[k] - re[k], Y[k] - im[k]), 0.0, 0.05) << k;
        peln::inverseRealPeln(&st.fft, X, Y, back);
        for (int i = 0; i < 256; ++i) ASSERT_NEAR(back[i] / 256.0f, x[i], 0.01) << i;
    }

    // The enhancement: its power is the predictor's 1 / |A|^2 summed in
    // double precision, even for zeros close to the unit circle (LSPs 40 Hz
    // apart at the top), and its gains are those of the library's pow.
    std::uniform_int_distribution<int> code(0, 31);
    std::uniform_real_distribution<float> amp(1.0f, 500.0f), period(16.0f, 125.0f);
    for (int trial = 0; trial < 50; ++trial) {
        int16_t codes[10];
        for (int k = 0; k < 10; ++k) codes[k] = int16_t(code(rng) & ((1 << peln::kLspBits[k]) - 1));
        float lsp[10], a[10];
        peln::lspdiffdecode34Peln(codes, lsp);
        peln::lsp_to_lpcPeln(lsp, a);
        const float p = period(rng), voicing = trial % 2 ? 1.0f : 0.0f;
        const int N = peln::harmonicCountPeln(p);
        float quick[peln::kMaxHarmonics], plain[peln::kMaxHarmonics];
        for (int h = 0; h < N; ++h) quick[h] = plain[h] = amp(rng);
        peln::enhancePeln(a, voicing, p, N, quick, &st);
        for (int k = 0; k < 128; ++k) {
            double re = 1.0, im = 0.0;
            for (int n = 0; n < 10; ++n) {
                const double w = 2.0 * 3.14159265358979323846 * (n + 1) * k / 256.0;
                re -= a[n] * std::cos(w), im += a[n] * std::sin(w);
            }
            ASSERT_NEAR(st.syn.enh.power[k] * (re * re + im * im), 1.0, 1e-5) << trial << " " << k;
        }
        double gain[peln::kMaxHarmonics];
        peln::enhancementGains(st.syn.enh, voicing, p, N, gain);
        peln::applyEnhancement(gain, N, plain);
        for (int h = 0; h < N; ++h) ASSERT_NEAR(quick[h], plain[h], 2e-5 * plain[h]) << trial << " " << h;
    }

    // Two filters fed the same excitation over calls of varying length and
    // LSPs; the plain one recomputes the subframe predictor the plain way.
    peln::FilterState quick{}, plain{};
    std::copy(peln::kBackgroundLsp, peln::kBackgroundLsp + 10, quick.prevLsp);
    std::copy(peln::kBackgroundLsp, peln::kBackgroundLsp + 10, plain.prevLsp);
    std::uniform_real_distribution<float> jitter(-120.0f, 120.0f);
    double past[10] = {};
    for (int call = 0; call < 40; ++call) {
        const int K = 128 + 2 * (call % 27);
        float lsp[10], e[10 + peln::kMaxOutput];
        for (int k = 0; k < 10; ++k) lsp[k] = 300.0f + 360.0f * k + jitter(rng);
        for (int i = 0; i < K; ++i) e[10 + i] = gauss(rng);
        std::vector<float> excitation(e + 10, e + 10 + K);
        int16_t out[peln::kMaxOutput];
        peln::lpcsynPeln(lsp, out, e, &quick, K);
        const int subframes = int(K / 18.0 + 0.999999999), length = K / subframes;
        for (int j = 0, b = 0; j < subframes; ++j) {
            const int n = j < subframes - 1 ? length : K - b;
            const float lambda = float((b + n * 0.5) / K);
            float mid[10], a[10];
            for (int k = 0; k < 10; ++k) mid[k] = plain.prevLsp[k] + (lsp[k] - plain.prevLsp[k]) * lambda;
            for (int k = 1; k < 10; ++k) mid[k] = mid[k] + 45.0f < mid[k - 1] ? mid[k - 1] + 45.0f : mid[k];
            peln::lsp_to_lpcPeln(mid, a);
            for (int m = b; m < b + n; ++m) {
                double y = excitation[size_t(m)];
                for (int k = 0; k < 10; ++k) y += a[k] * past[9 - k];
                std::copy(past + 1, past + 10, past);
                past[9] = y;
                ASSERT_NEAR(out[m], std::clamp(y, -32768.0, 32767.0), 1.0 + 1e-5 * std::fabs(y)) << call << " " << m;
            }
            b += n;
        }
        std::copy(lsp, lsp + 10, plain.prevLsp);
    }
}

}  // namespace
