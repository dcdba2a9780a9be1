// Field codes to frame parameters: pitch, LSPs, voicing, gain, pitch shift,
// fade-in and silence fill.
#include <gtest/gtest.h>

#include <cmath>

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

// Gets past the fade-in that starts every stream.
void skipFadeIn(Decoder& d) {
    for (int i = 0; i < 6; ++i) unpack(d, orvotest::voicedFrame(60));
}

TEST(OrvoBitTable, FieldWidthsAddUpToTheFrame) {
    Decoder d;
    ASSERT_EQ(d.initResult(), 0u);
    const zef::ZefControlBlock& cb = d.cb();
    EXPECT_EQ(cb.wFrameBits, 54);
    EXPECT_EQ(cb.wFieldCount, 14);
    EXPECT_EQ(cb.wLeadFields, 2);
    EXPECT_EQ(cb.wBitRate, 2400);
    EXPECT_EQ(cb.wPrevSilence, 1);
    int total = 0, lead = 0;
    for (int i = 0; i < cb.wFieldCount; ++i) {
        total += cb.lpFieldWidths[i];
        if (i < cb.wLeadFields) lead += cb.lpFieldWidths[i];
    }
    EXPECT_EQ(total, 54);
    EXPECT_EQ(lead, 12);
    EXPECT_EQ(cb.wLeadFieldBits, 12);
}

TEST(OrvoUnpack, PitchCodesMapLinearlyOntoPeriods) {
    Decoder d;
    for (int code = 0; code < 256; ++code) {
        Frame f = orvotest::unvoicedFrame();  // unvoiced: no pitch shift involved
        f.pitch = uint8_t(code);
        EXPECT_NEAR(unpack(d, f).period, orvotest::periodOf(code), 1e-3) << "code " << code;
    }
    EXPECT_FLOAT_EQ(orvo::Q2F0(0), 64.0f);
    EXPECT_FLOAT_EQ(orvo::Q2F0(255), 500.0f);
    Frame f = orvotest::unvoicedFrame();
    f.pitch = 0;
    EXPECT_FLOAT_EQ(unpack(d, f).period, 125.0f);
    f.pitch = 255;
    EXPECT_FLOAT_EQ(unpack(d, f).period, 16.0f);
}

TEST(OrvoUnpack, LspsAreCumulativeSteps) {
    Decoder d;
    Frame f;
    f.lsp = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const float* lsp = unpack(d, f).lsp;
    float sum = 0.0f;
    for (int k = 0; k < 10; ++k) {
        sum += orvo::lspdiff[k][0];
        EXPECT_NEAR(lsp[k], sum, 1e-3) << k;
    }
    f.lsp = {7, 15, 0, 1, 2, 3, 4, 5, 6, 7};
    lsp = unpack(d, f).lsp;
    EXPECT_NEAR(lsp[0], 566.94147, 1e-3);
    EXPECT_NEAR(lsp[1] - lsp[0], 704.9366, 1e-3);
    EXPECT_NEAR(lsp[2] - lsp[1], 80.33781, 1e-3);
}

TEST(OrvoUnpack, TopLspIsCappedAt3900AndNeighboursKept40HzApart) {
    Decoder d;
    Frame f;
    f.lsp = {7, 15, 15, 15, 15, 15, 7, 7, 7, 7};  // sums far beyond 3900 Hz
    const float* lsp = unpack(d, f).lsp;
    EXPECT_FLOAT_EQ(lsp[9], 3900.0f);
    EXPECT_FLOAT_EQ(lsp[8], 3860.0f);
    EXPECT_FLOAT_EQ(lsp[7], 3820.0f);
    for (int k = 1; k < 10; ++k) EXPECT_LE(lsp[k - 1], lsp[k] - 40.0f + 1e-3f) << k;

    // Pushing stops at the first LSP that already keeps its distance.
    f.lsp = {4, 11, 7, 7, 6, 7, 3, 4, 2, 4};  // LSP 9 sums to 3928.5
    lsp = unpack(d, f).lsp;
    EXPECT_FLOAT_EQ(lsp[9], 3900.0f);
    EXPECT_NEAR(lsp[8], 3551.9f, 0.1f);
}

TEST(OrvoUnpack, VoicingGainAndLevel) {
    Decoder d;
    skipFadeIn(d);
    for (int code = 0; code < 16; ++code) {
        Frame f;
        f.voicing = uint8_t(code);
        EXPECT_FLOAT_EQ(unpack(d, f).voicing, code / 15.0f);
    }
    Frame f;
    f.voicing = 200;  // no packed frame carries this; it reads as unvoiced
    EXPECT_EQ(unpack(d, f).voicing, 0.0f);
    for (int code : {0, 1, 31, 63}) {
        f = orvotest::voicedFrame(60, uint8_t(code));
        EXPECT_NEAR(unpack(d, f).gain, std::pow(10.0, orvo::GainTable[code]), 1e-3 * std::pow(10.0, orvo::GainTable[code]));
        EXPECT_EQ(d.cb().bFrameLevel, 4 * code);
    }
}

TEST(OrvoUnpack, FirstSixFramesFadeIn) {
    Decoder d;
    const double full = std::pow(10.0, orvo::GainTable[30]);
    for (int i = 1; i <= 8; ++i) {
        const double factor = std::min(i, 6) / 6.0;
        EXPECT_NEAR(unpack(d, orvotest::voicedFrame(60, 30)).gain, full * factor, 1e-4 * full) << "frame " << i;
    }
}

TEST(OrvoPitchShift, RelativeShiftInSemitones) {
    Decoder d;
    skipFadeIn(d);
    const int code = 60;
    const double base = orvotest::periodOf(code);
    d.cb().fRelPitch = 12.0f;
    EXPECT_NEAR(unpack(d, orvotest::voicedFrame(code)).period, base / 2.0, 1e-3);
    d.cb().fRelPitch = -12.0f;
    EXPECT_NEAR(unpack(d, orvotest::voicedFrame(code)).period, std::min(base * 2.0, 125.0), 1e-3);
    d.cb().fRelPitch = 12.0f;  // 16 samples is the floor
    EXPECT_FLOAT_EQ(unpack(d, orvotest::voicedFrame(240)).period, 16.0f);

    // Unvoiced frames keep their decoded period.
    Frame f = orvotest::unvoicedFrame();
    f.pitch = uint8_t(code);
    EXPECT_NEAR(unpack(d, f).period, base, 1e-3);

    const zef::ZefControlBlock& cb = d.cb();
    d.cb().fRelPitch = -24.0f;
    EXPECT_FLOAT_EQ(orvo::PitchShift8k(100.0f, &cb), 125.0f);
    d.cb().fRelPitch = 0.0f;
    EXPECT_FLOAT_EQ(orvo::PitchShift8k(100.0f, &cb), 100.0f);
}

TEST(OrvoPitchShift, AbsolutePitchGivesEveryVoicedFrameOnePeriod) {
    Decoder d;
    skipFadeIn(d);
    d.cb().wUseAbsPitch = 1;
    d.cb().fAbsPitch = 100.0f;
    for (int code : {0, 90, 255}) EXPECT_FLOAT_EQ(unpack(d, orvotest::voicedFrame(uint8_t(code))).period, 80.0f);
    Frame f = orvotest::unvoicedFrame();
    f.pitch = 255;
    EXPECT_FLOAT_EQ(unpack(d, f).period, 16.0f);
}

TEST(OrvoPitchShift, SettingsThatMakeNoNumberStayInRange) {
    Decoder d;
    skipFadeIn(d);
    const zef::ZefControlBlock& cb = d.cb();
    d.cb().fRelPitch = NAN;
    EXPECT_FLOAT_EQ(orvo::PitchShift8k(100.0f, &cb), 125.0f);
    d.cb().fRelPitch = 1e30f;
    EXPECT_FLOAT_EQ(orvo::PitchShift8k(100.0f, &cb), 16.0f);
    d.cb().wUseAbsPitch = 1;
    for (float hz : {0.0f, -5.0f, NAN, INFINITY}) {
        d.cb().fAbsPitch = hz;
        float p = orvo::PitchShift8k(100.0f, &cb);
        EXPECT_TRUE(p >= 16.0f && p <= 125.0f) << hz;
    }
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
    skipFadeIn(d);
    // A hundred unvoiced frames replace the whole energy history.
    for (int i = 0; i < 100; ++i) unpack(d, orvotest::unvoicedFrame(uint8_t(i == 57 ? 12 : 20 + i % 20)));
    Frame last = orvotest::voicedFrame(60, 45);
    last.lsp = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0};  // LSP 0 and 1 only 42 Hz apart
    float spoken[10];
    std::copy_n(unpack(d, last).lsp, 10, spoken);

    d.cb().wSilenceFill = 1;
    const orvo::FrameParams& p = unpack(d, last);
    EXPECT_NEAR(p.gain, std::pow(10.0, orvo::GainTable[12]), 1e-3);  // quietest unvoiced frame
    EXPECT_FLOAT_EQ(p.lsp[0], spoken[0]);
    EXPECT_FLOAT_EQ(p.lsp[1], spoken[0] + 45.0f);
    for (int k = 1; k < 10; ++k) EXPECT_GE(p.lsp[k] - p.lsp[k - 1], 45.0f - 1e-3f);

    // Speech after the fill fades in again.
    d.cb().wSilenceFill = 0;
    const double full = std::pow(10.0, orvo::GainTable[30]);
    EXPECT_NEAR(unpack(d, orvotest::voicedFrame(60, 30)).gain, full / 6.0, 1e-4 * full);
}

TEST(OrvoSilenceFill, UnvoicedFramesTeachTheBackground) {
    Decoder d;
    Frame f = orvotest::unvoicedFrame();
    f.lsp = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    float lsp[10];
    std::copy_n(unpack(d, f).lsp, 10, lsp);
    const float* background = d.state().code.backgroundLsp;
    for (int k = 0; k < 10; ++k) EXPECT_NEAR(background[k], 0.03 * lsp[k] + 0.97 * (300 + 400 * k), 1e-2) << k;

    float before[10];
    std::copy_n(background, 10, before);
    unpack(d, orvotest::voicedFrame(60));  // voiced frames leave it alone
    for (int k = 0; k < 10; ++k) EXPECT_EQ(background[k], before[k]);
}

}  // namespace
