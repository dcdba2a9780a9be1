// Field codes to frame parameters: pitch, LSPs, pitch shift, fade-in and
// silence fill.
#include <gtest/gtest.h>

#include "orvo_test_util.h"

using orvotest::Decoder;
using orvotest::Frame;
namespace orvo = zef::orvo;

namespace {

// Parameters after unPackOrvo alone (synthesis divides the gain later).
const orvo::FrameParams& unpack(Decoder& d, const Frame& f) {
    d.setCodes(f);
    EXPECT_EQ(zef::unPackOrvo(&d.cb()), 0u);
    return d.state().frame;
}

double gainOf(int code) { return std::pow(10.0, orvo::GainTable[code]); }

TEST(OrvoUnpack, PitchCodesMapLinearlyFrom125To16Samples) {
    Decoder d;
    for (int code = 0; code < 256; ++code) {
        Frame f = orvotest::unvoicedFrame();
        f.pitch = uint8_t(code);
        EXPECT_NEAR(unpack(d, f).period, orvotest::periodOf(code), 1e-3) << code;
    }
    Frame f = orvotest::unvoicedFrame();
    f.pitch = 255;
    EXPECT_FLOAT_EQ(unpack(d, f).period, 16.0f);
}

TEST(OrvoUnpack, TopLspIsCappedAt3900WithNeighbours40HzApart) {
    Decoder d;
    Frame f;
    f.lsp = {7, 15, 15, 15, 15, 15, 7, 7, 7, 7};  // sums far beyond 3900 Hz
    const float* lsp = unpack(d, f).lsp;
    EXPECT_FLOAT_EQ(lsp[9], 3900.0f);
    EXPECT_FLOAT_EQ(lsp[8], 3860.0f);
    for (int k = 1; k < 10; ++k) EXPECT_LE(lsp[k - 1], lsp[k] - 40.0f + 1e-3f) << k;

    f.lsp = {4, 11, 7, 7, 6, 7, 3, 4, 2, 4};  // LSP 9 sums to 3928.5: only it moves
    lsp = unpack(d, f).lsp;
    EXPECT_FLOAT_EQ(lsp[9], 3900.0f);
    EXPECT_NEAR(lsp[8], 3551.9f, 0.1f);
}

TEST(OrvoUnpack, StreamStartsWithAFadeInOverSixFrames) {
    Decoder d;
    for (int i = 1; i <= 8; ++i)
        EXPECT_NEAR(unpack(d, orvotest::voicedFrame(60)).gain, gainOf(30) * std::min(i, 6) / 6.0, 1e-3) << i;
    EXPECT_EQ(d.cb().bFrameLevel, 4 * 30);
}

TEST(OrvoUnpack, PitchShiftAppliesToVoicedFramesOnly) {
    Decoder d;
    const double base = orvotest::periodOf(60);
    d.cb().fRelPitch = 12.0f;
    EXPECT_NEAR(unpack(d, orvotest::voicedFrame(60)).period, base / 2.0, 1e-3);
    EXPECT_FLOAT_EQ(unpack(d, orvotest::voicedFrame(240)).period, 16.0f);  // not below 16
    Frame f = orvotest::unvoicedFrame();
    EXPECT_NEAR(unpack(d, f).period, base, 1e-3);
    d.cb().fRelPitch = -24.0f;
    EXPECT_FLOAT_EQ(orvo::PitchShift8k(100.0f, &d.cb()), 125.0f);

    d.cb().wUseAbsPitch = 1;
    d.cb().fAbsPitch = 100.0f;
    for (int code : {0, 90, 255}) EXPECT_FLOAT_EQ(unpack(d, orvotest::voicedFrame(uint8_t(code))).period, 80.0f);
    f.pitch = 255;
    EXPECT_FLOAT_EQ(unpack(d, f).period, 16.0f);
    d.cb().fAbsPitch = NAN;  // a setting that makes no number still gives a period in range
    EXPECT_FLOAT_EQ(orvo::PitchShift8k(100.0f, &d.cb()), 125.0f);
}

TEST(OrvoSilenceFill, AtStreamStartUsesInitialHistoryAndBackground) {
    Decoder d;
    d.cb().wSilenceFill = 1;
    const orvo::FrameParams& p = unpack(d, orvotest::voicedFrame(60, 50));
    EXPECT_FLOAT_EQ(p.gain, -0.34f);
    EXPECT_FLOAT_EQ(p.period, 70.0f);
    EXPECT_EQ(p.voicing, 0.0f);
    for (int k = 0; k < 10; ++k) EXPECT_FLOAT_EQ(p.lsp[k], 300.0f + 400.0f * k);
}

TEST(OrvoSilenceFill, AfterSpeechKeepsLastLspsSpacedAndQuietestGain) {
    Decoder d;
    // A hundred unvoiced frames replace the whole energy history and teach
    // the background LSPs; voiced frames leave both alone.
    for (int i = 0; i < 100; ++i) unpack(d, orvotest::unvoicedFrame(uint8_t(i == 57 ? 12 : 20 + i % 20)));
    const float background = d.state().code.backgroundLsp[0];
    EXPECT_NEAR(background, 300.0 * std::pow(0.97, 100) + 364.16 * (1.0 - std::pow(0.97, 100)), 0.1);
    Frame last = orvotest::voicedFrame(60, 45);
    last.lsp = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0};  // LSPs 0 and 1 only 42 Hz apart
    const float spoken0 = unpack(d, last).lsp[0];
    EXPECT_EQ(d.state().code.backgroundLsp[0], background);

    d.cb().wSilenceFill = 1;
    const orvo::FrameParams& p = unpack(d, last);
    EXPECT_NEAR(p.gain, gainOf(12), 1e-3);
    EXPECT_FLOAT_EQ(p.lsp[0], spoken0);
    EXPECT_FLOAT_EQ(p.lsp[1], spoken0 + 45.0f);
    for (int k = 1; k < 10; ++k) EXPECT_GE(p.lsp[k] - p.lsp[k - 1], 45.0f - 1e-3f);

    d.cb().wSilenceFill = 0;  // speech after the fill fades in again
    EXPECT_NEAR(unpack(d, orvotest::voicedFrame(60, 30)).gain, gainOf(30) / 6.0, 1e-3);
}

}  // namespace
