// Behaviour measured on decoded audio: pitch, level, spectral envelope,
// noise, warp and clipping.
#include <gtest/gtest.h>

#include "orvo_test_util.h"

using orvotest::Decoder;
using orvotest::Frame;
namespace orvo = zef::orvo;

namespace {

std::vector<int16_t> steady(Decoder& d, const Frame& f, int frames = 14) {
    return d.decodeAll(std::vector<Frame>(frames, f));
}

// Period measured from the seventh frame on (after fade-in and first glide).
double steadyPeriod(Decoder& d, const Frame& f) {
    const std::vector<int16_t> x = steady(d, f);
    const size_t from = 6 * x.size() / 14;
    return orvotest::measuredPeriod(x, from, x.size() - from - 170);
}

TEST(OrvoVoiced, FundamentalIsTheCodedOneAtEveryWarp) {
    for (float warp : {1.0f, 0.7f, 2.0f, 5.0f}) {
        for (int code : {0, 60, 130, 200, 255}) {
            if (warp != 1.0f && code % 130) continue;
            Decoder d(warp);
            const double expected = orvotest::periodOf(code);
            EXPECT_NEAR(steadyPeriod(d, orvotest::voicedFrame(uint8_t(code))), expected, 0.01 * expected)
                << "pitch code " << code << " warp " << warp;
        }
    }
}

TEST(OrvoVoiced, TwelveSemitonesUpHalveThePeriod) {
    Decoder plain, shifted;
    shifted.cb().fRelPitch = 12.0f;
    const double before = steadyPeriod(plain, orvotest::voicedFrame(40));
    EXPECT_NEAR(steadyPeriod(shifted, orvotest::voicedFrame(40)), before / 2.0, 0.005 * before);
}

// The synthesis is linear in the gain and two sessions read the same noise,
// so the output scales with 10^GainTable[code] (up to the truncation of the
// samples, hence levels well above a few units).
TEST(OrvoLevel, OutputScalesWithTheEnergyCode) {
    for (uint8_t voicing : {uint8_t(15), uint8_t(7), uint8_t(0)}) {
        Decoder reference;
        Frame f = orvotest::voicedFrame(70, 36);
        f.voicing = voicing;
        const double base = orvotest::rms(steady(reference, f));
        for (int code : {30, 42, 54}) {
            Decoder d;
            f.energy = uint8_t(code);
            const double ratio = std::pow(10.0, orvo::GainTable[code] - orvo::GainTable[36]);
            EXPECT_NEAR(orvotest::rms(steady(d, f)) / base, ratio, 0.02 * ratio) << int(voicing) << "/" << code;
        }
    }
}

// A pair of LSPs close together puts a formant between them.
TEST(OrvoEnvelope, CloseLspPairGivesTheSpectralPeak) {
    struct {
        std::array<uint8_t, 10> codes;
        int pair;
    } cases[] = {
        {{5, 0, 8, 7, 6, 7, 3, 4, 3, 2}, 0},   // 42 Hz apart near 385 Hz
        {{5, 10, 7, 6, 5, 0, 4, 4, 3, 3}, 4},  // 93 Hz apart near 1880 Hz
    };
    for (const auto& c : cases) {
        Decoder d;
        Frame f = orvotest::unvoicedFrame();
        f.lsp = c.codes;
        const std::vector<double> power = orvotest::spectrum256(steady(d, f, 16), 4 * 180);
        const float* lsp = d.state().frame.lsp;
        const size_t peak = std::max_element(power.begin() + 1, power.end()) - power.begin();
        EXPECT_NEAR(peak * 8000.0 / 256.0, (lsp[c.pair] + lsp[c.pair + 1]) / 2.0, 80.0) << "pair " << c.pair;
    }
}

TEST(OrvoUnvoiced, FullyUnvoicedFramesAreNoiseAndVoicedOnesPeriodic) {
    Decoder noise, voiced;
    const std::vector<int16_t> x = steady(noise, orvotest::unvoicedFrame());
    const std::vector<int16_t> y = steady(voiced, orvotest::voicedFrame(90));
    const size_t from = 4 * 180, length = x.size() - from - 170;
    for (int lag = 20; lag <= 160; ++lag) EXPECT_LT(std::fabs(orvotest::correlation(x, from, length, lag)), 0.3) << lag;
    EXPECT_GT(orvotest::correlation(y, from, length, orvotest::periodOf(90)), 0.8);
    for (int n = 0; n < noise.state().syn.N; ++n) ASSERT_EQ(noise.state().syn.voiced[n], 0.0f);
    for (int n = 0; n < voiced.state().syn.N; ++n) ASSERT_EQ(voiced.state().syn.unvoiced[n], 0.0f);
}

// Noise through a sharp formant near 100 Hz at full energy overdrives the
// 16-bit range: the output sticks at the limits instead of wrapping to the
// other sign (so it never steps from one limit to the other).
TEST(OrvoOutput, LoudFramesClipAndNeverWrap) {
    for (int mode : {1, 2, 3}) {
        Decoder d(1.0f, mode);
        Frame f = orvotest::unvoicedFrame(63);
        f.lsp = {0, 0, 8, 7, 6, 7, 3, 4, 3, 2};
        const std::vector<int16_t> x = steady(d, f, 12);
        const auto [lo, hi] = std::minmax_element(x.begin(), x.end());
        EXPECT_EQ(*hi, 32767) << "mode " << mode;
        EXPECT_EQ(*lo, -32768) << "mode " << mode;
        for (size_t n = 1; n < x.size(); ++n) ASSERT_LT(std::abs(x[n] - x[n - 1]), 40000) << "mode " << mode;
    }
}

}  // namespace
