// Behaviour measured on decoded audio: pitch, level, spectral envelope,
// noise, warp and clipping.
#include <gtest/gtest.h>

#include <cmath>

#include "orvo_test_util.h"

using orvotest::Decoder;
using orvotest::Frame;
namespace orvo = zef::orvo;

namespace {

constexpr int kFrames = 14;
constexpr int kSettle = 6;  // fade-in and the first glide

std::vector<int16_t> steady(Decoder& d, const Frame& f, int frames = kFrames) {
    return d.decodeAll(std::vector<Frame>(frames, f));
}

// Period measured over the frames after the fade-in.
double periodAfterSettling(Decoder& d, const Frame& f) {
    const std::vector<int16_t> x = steady(d, f);
    const size_t from = size_t(kSettle) * x.size() / kFrames;
    return orvotest::measuredPeriod(x, from, x.size() - from - 170);
}

TEST(OrvoVoiced, SteadyFramesHaveTheCodedFundamental) {
    for (int code : {0, 60, 130, 200, 255}) {
        Decoder d;
        const double expected = orvotest::periodOf(code);
        EXPECT_NEAR(periodAfterSettling(d, orvotest::voicedFrame(uint8_t(code))), expected, 0.01 * expected)
            << "pitch code " << code;
    }
}

TEST(OrvoVoiced, WarpChangesDurationNotPitch) {
    for (float warp : {0.7f, 2.0f, 5.0f}) {
        Decoder d(warp);
        const double expected = orvotest::periodOf(90);
        EXPECT_NEAR(periodAfterSettling(d, orvotest::voicedFrame(90)), expected, 0.01 * expected) << warp;
    }
}

TEST(OrvoVoiced, TwelveSemitonesUpHalveThePeriod) {
    Decoder plain, shifted;
    shifted.cb().fRelPitch = 12.0f;
    const Frame f = orvotest::voicedFrame(40);
    const double before = periodAfterSettling(plain, f);
    const double after = periodAfterSettling(shifted, f);
    EXPECT_NEAR(after, before / 2.0, 0.01 * before / 2.0);
    EXPECT_NEAR(before, orvotest::periodOf(40), 0.01 * orvotest::periodOf(40));
}

// The synthesis is linear in the gain and the noise is the same in two
// sessions, so the output scales with 10^GainTable[code] (up to the
// truncation of the samples, hence levels well above a few units).
TEST(OrvoLevel, OutputScalesWithTheEnergyCode) {
    for (uint8_t voicing : {uint8_t(15), uint8_t(7), uint8_t(0)}) {
        double previous = 0.0;
        for (int code : {30, 36, 42, 48, 54}) {
            Decoder reference, d;
            Frame f = orvotest::voicedFrame(70, 36);
            f.voicing = voicing;
            const double base = orvotest::rms(steady(reference, f));
            f.energy = uint8_t(code);
            const double level = orvotest::rms(steady(d, f));
            const double ratio = std::pow(10.0, orvo::GainTable[code] - orvo::GainTable[36]);
            EXPECT_NEAR(level / base, ratio, 0.02 * ratio) << "voicing " << int(voicing) << " energy " << code;
            EXPECT_GT(level, previous);
            previous = level;
        }
    }
}

// A pair of LSPs close together puts a formant between them.
TEST(OrvoEnvelope, CloseLspPairGivesTheSpectralPeak) {
    struct Case {
        std::array<uint8_t, 10> codes;
        int pair;  // LSPs pair and pair + 1
    } cases[] = {
        {{5, 0, 8, 7, 6, 7, 3, 4, 3, 2}, 0},   // 42 Hz apart near 385 Hz
        {{5, 10, 7, 6, 5, 0, 4, 4, 3, 3}, 4},  // 93 Hz apart near 1880 Hz
    };
    for (const Case& c : cases) {
        Decoder d;
        Frame f = orvotest::unvoicedFrame(30);
        f.lsp = c.codes;
        const std::vector<int16_t> x = steady(d, f, 16);
        const float* lsp = d.state().frame.lsp;
        const double centre = (lsp[c.pair] + lsp[c.pair + 1]) / 2.0;
        const std::vector<double> power = orvotest::averagedSpectrum(x, 4 * 180, 256);
        size_t peak = 1;
        for (size_t k = 1; k < power.size(); ++k)
            if (power[k] > power[peak]) peak = k;
        EXPECT_NEAR(peak * 8000.0 / 256.0, centre, 80.0) << "pair " << c.pair;
    }
}

TEST(OrvoUnvoiced, FullyUnvoicedFramesAreNoise) {
    Decoder noise, voiced;
    const std::vector<int16_t> x = steady(noise, orvotest::unvoicedFrame(30));
    const std::vector<int16_t> y = steady(voiced, orvotest::voicedFrame(90, 30));
    const size_t from = 4 * 180, length = x.size() - from - 170;
    double worst = 0.0;
    for (int lag = 20; lag <= 160; ++lag)
        worst = std::max(worst, std::fabs(orvotest::normalisedCorrelation(x, from, length, lag)));
    EXPECT_LT(worst, 0.3);
    EXPECT_GT(orvotest::normalisedCorrelation(y, from, length, orvotest::periodOf(90)), 0.8);
}

TEST(OrvoExcitation, VoicingSplitsHarmonicsFromNoise) {
    Decoder unvoiced;
    steady(unvoiced, orvotest::unvoicedFrame(30), 3);
    const orvo::SynthState& u = unvoiced.state().syn;
    for (int n = 0; n < u.N; ++n) ASSERT_EQ(u.voiced[n], 0.0f) << n;
    EXPECT_GT(orvotest::rms(std::vector<int16_t>(u.unvoiced, u.unvoiced + u.N)), 0.0);

    Decoder voiced;  // fully voiced: the silent book, no unvoiced harmonics
    steady(voiced, orvotest::voicedFrame(90, 30), 3);
    const orvo::SynthState& v = voiced.state().syn;
    for (int n = 0; n < v.N; ++n) ASSERT_EQ(v.unvoiced[n], 0.0f) << n;
}

// Noise through a sharp formant near 100 Hz at full energy overdrives the
// 16-bit range: the output sticks at the limits instead of wrapping to the
// other sign (so it never steps from one limit to the other).
TEST(OrvoOutput, LoudFramesClipAndNeverWrap) {
    for (int mode : {1, 2, 3}) {
        Decoder d(1.0f, mode);
        Frame f = orvotest::unvoicedFrame(63);
        f.lsp = {0, 0, 8, 7, 6, 7, 3, 4, 3, 2};  // 42 Hz apart near 100 Hz
        const std::vector<int16_t> x = steady(d, f, 12);
        const auto [lo, hi] = std::minmax_element(x.begin(), x.end());
        EXPECT_EQ(*hi, 32767) << "mode " << mode;
        EXPECT_EQ(*lo, -32768) << "mode " << mode;
        int largestStep = 0;
        for (size_t n = 1; n < x.size(); ++n) largestStep = std::max(largestStep, std::abs(x[n] - x[n - 1]));
        EXPECT_LT(largestStep, 40000) << "mode " << mode;
    }
}

}  // namespace
