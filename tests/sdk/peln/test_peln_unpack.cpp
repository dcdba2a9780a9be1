// Field codes to frame parameters: bit table, pitch, harmonic counts, LSPs,
// energy, band layouts, harmonic amplitudes, pitch shift, silence fill and
// fade-in.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

#include "peln_test_util.h"

using pelntest::Decoder;
using pelntest::Frame;
namespace peln = zef::peln;

namespace {

// Parameters after unPackPeln alone.
const peln::FrameParams& unpack(Decoder& d, const Frame& f) {
    d.setCodes(f);
    EXPECT_EQ(zef::unPackPeln(&d.cb()), 0u);
    return d.state().frame;
}

float amplitudeSum(const peln::FrameParams& p, int N) { return std::accumulate(p.amp, p.amp + N, 0.0f); }

TEST(PelnBitTable, FieldWidthsAddUpToTheFrame) {
    Decoder d;
    ASSERT_EQ(d.initResult(), 0u);
    zef::ZefControlBlock& cb = d.cb();
    EXPECT_EQ(cb.wFrameBits, 67);
    EXPECT_EQ(cb.wFieldCount, 16);
    EXPECT_EQ(cb.wLeadFields, 2);
    EXPECT_EQ(cb.wLeadFieldBits, 12);
    EXPECT_EQ(cb.wBitRate, 2978);
    int total = 0;
    for (int i = 0; i < cb.wFieldCount; ++i) total += cb.lpFieldWidths[i];
    EXPECT_EQ(total, 67);
    // No fade-in at the start of a Peln stream, whatever was there before.
    cb.wPrevSilence = 1;
    ASSERT_EQ(zef::initPackPeln(&cb), 0u);
    EXPECT_EQ(cb.wPrevSilence, 0);
}

TEST(PelnUnpack, PitchCodesGivePeriodsAndHarmonicCounts) {
    Decoder d;
    for (int code = 0; code < 256; ++code) {
        Frame f = pelntest::unvoicedFrame();  // unvoiced: no pitch shift involved
        f.pitch = uint8_t(code);
        EXPECT_NEAR(unpack(d, f).period, pelntest::periodOf(code), 1e-4) << "code " << code;
    }
    const struct {
        uint8_t code;
        float period;
        int harmonics;
    } ends[] = {{0, 125.0f, 57}, {255, 16.0f, 7}};
    for (const auto& e : ends) {
        Frame f = pelntest::unvoicedFrame();
        f.pitch = e.code;
        const peln::FrameParams& p = unpack(d, f);
        EXPECT_EQ(p.period, e.period);
        EXPECT_EQ(peln::harmonicCountPeln(p.period), e.harmonics);
        EXPECT_GT(p.amp[e.harmonics - 1], 0.0f);
        for (int i = e.harmonics; i < peln::kMaxHarmonics; ++i) ASSERT_EQ(p.amp[i], 0.0f) << i;
    }
    EXPECT_EQ(peln::LutPitchPeln(-7), 125.0f);
    EXPECT_EQ(peln::LutPitchPeln(1000), 16.0f);
}

TEST(PelnUnpack, EnergyCodesAndFrameLevel) {
    Decoder d;
    for (int code = 0; code < 32; ++code) {
        Frame f = pelntest::unvoicedFrame(uint8_t(code));
        const float energy = unpack(d, f).energy;
        const double expected = std::pow(10.0, double(peln::Energy_Peln_TABLE[code]));
        EXPECT_NEAR(energy, expected, 1e-6 * expected) << code;
        EXPECT_EQ(d.cb().bFrameLevel, 4 * code);
    }
}

TEST(PelnUnpack, LspsAreCumulativeStepsCappedAt3900) {
    Decoder d;
    Frame f;
    f.lsp = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const float* lsp = unpack(d, f).lsp;
    float sum = 0.0f;
    for (int k = 0; k < 10; ++k) {
        sum += peln::lspdiffPeln[k][0];
        EXPECT_NEAR(lsp[k], sum, 1e-3) << k;
    }
    f.lsp = {31, 31, 31, 31, 15, 15, 15, 7, 7, 7};  // far beyond 4000 Hz
    lsp = unpack(d, f).lsp;
    EXPECT_EQ(lsp[9], 3900.0f);
    for (int k = 0; k < 9; ++k) EXPECT_LE(lsp[k], lsp[k + 1] - 40.0f + 1e-3f) << k;
    EXPECT_NEAR(lsp[8], 3860.0f, 1e-3);
}

TEST(PelnBands, ClassLayoutsFollowTheSinhWarp) {
    Decoder d;
    const peln::CodeRecord& code = d.state().code;
    EXPECT_EQ(code.bandCount[0], 10);
    EXPECT_NEAR(code.bandFreq[0][0], 336.0, 0.05);
    EXPECT_NEAR(code.bandFreq[0][1], 672.8, 0.05);
    EXPECT_NEAR(code.bandFreq[0][9], 3500.0, 1e-3);
    const double classFour[10] = {133.6, 275.6, 434.9, 621.6, 847.3, 1126.2, 1475.9, 1918.3, 2481.2, 3200.0};
    for (int k : {1, 4, 5, 11, 15}) {
        ASSERT_EQ(code.bandCount[k], 10) << k;
        for (int n = 0; n < 10; ++n) EXPECT_NEAR(code.bandFreq[k][n], classFour[n], 0.05) << k << " " << n;
    }
    for (int k = 6; k <= 10; ++k) {
        ASSERT_EQ(code.bandCount[k], 15) << k;
        EXPECT_NEAR(code.bandFreq[k][14], 3200.0, 1e-3) << k;
        for (int n = 1; n < 15; ++n) EXPECT_GT(code.bandFreq[k][n], code.bandFreq[k][n - 1]);
    }
}

TEST(PelnBands, BandValuesBecomeHarmonicAmplitudes) {
    const float freq[3] = {500.0f, 1000.0f, 3000.0f};
    const float value[3] = {0.4f, 0.8f, -0.2f};
    const float at[] = {0.0f, 250.0f, 500.0f, 750.0f, 1000.0f, 1500.0f, 2000.0f, 3000.0f, 3500.0f, 4000.0f};
    const float expected[] = {0.0f, 0.2f, 0.4f, 0.6f, 0.8f, 0.55f, 0.3f, 0.0f, 0.0f, 0.0f};
    float amp[10];
    peln::VocInt4kVecPeln(freq, value, 3, at, amp, 10);
    for (int i = 0; i < 10; ++i) EXPECT_NEAR(amp[i], expected[i], 1e-5) << at[i] << " Hz";
    // Above the top band the line falls to 0 at 4000 Hz.
    const float top[2] = {0.5f, 0.6f};
    const float bands[2] = {1000.0f, 3200.0f};
    const float high[2] = {3600.0f, 3900.0f};
    peln::VocInt4kVecPeln(bands, top, 2, high, amp, 2);
    EXPECT_NEAR(amp[0], 0.3f, 1e-5);
    EXPECT_NEAR(amp[1], 0.075f, 1e-5);
}

TEST(PelnUnpack, AmplitudesCarryTheFrameEnergy) {
    Decoder d;
    pelntest::Rng rng{7};
    for (int i = 0; i < 200; ++i) {
        Frame f;
        f.voicing = uint8_t(rng.below(16));
        f.pitch = uint8_t(rng.below(256));
        f.energy = uint8_t(rng.below(32));
        for (uint8_t& s : f.shape) s = uint8_t(rng.below(8));
        d.cb().fRelPitch = 0.0f;
        const peln::FrameParams& p = unpack(d, f);
        const int N = peln::harmonicCountPeln(float(pelntest::periodOf(f.pitch)));
        const double total = 0.5 * std::sqrt(0.65 * p.energy * N);
        EXPECT_NEAR(amplitudeSum(p, N), total, 2e-5 * total) << i;
        for (int k = 0; k < peln::kMaxHarmonics; ++k) ASSERT_GE(p.amp[k], 0.0f);
    }
}

// A frame whose shape is zero at every harmonic has nothing to normalise:
// its energy goes to a flat spectrum rather than into a division by zero.
TEST(PelnUnpack, ShapeWithNoPositiveBandGivesAFlatSpectrum) {
    peln::CodeRecord code{};
    peln::initQuanPeln(&code);
    float book[3 * 8 * 10] = {};
    std::fill(book, book + 10, -0.5f);  // stage 1, vector 0: negative at every band
    for (int s = 0; s < 3; ++s) code.shapeBooks[0][s] = book + s * 80;
    peln::FrameParams frame{};
    frame.voicing = 0.0f;
    frame.period = 80.0f;
    frame.energy = 1000.0f;
    const int N = peln::UQFB_8kPeln(&frame, &code);
    ASSERT_EQ(N, 37);
    const float flat = float(0.5 * std::sqrt(0.65 * 1000.0 * N) / N);
    for (int k = 0; k < N; ++k) EXPECT_NEAR(frame.amp[k], flat, 1e-4f) << k;
    for (int k = N; k < peln::kMaxHarmonics; ++k) EXPECT_EQ(frame.amp[k], 0.0f);
}

TEST(PelnPitchShift, RelativeAndAbsoluteShiftsOfVoicedFrames) {
    Decoder d;
    for (int i = 0; i < 6; ++i) unpack(d, pelntest::voicedFrame(60));
    d.cb().fRelPitch = 12.0f;
    EXPECT_NEAR(unpack(d, pelntest::voicedFrame(60)).period, pelntest::periodOf(60) / 2.0, 1e-3);
    EXPECT_EQ(unpack(d, pelntest::voicedFrame(240)).period, 16.0f);  // not below 16
    d.cb().fRelPitch = -24.0f;
    EXPECT_EQ(unpack(d, pelntest::voicedFrame(60)).period, 125.0f);
    EXPECT_NEAR(unpack(d, pelntest::unvoicedFrame()).period, pelntest::periodOf(60), 1e-4);  // unvoiced: unshifted

    d.cb().wUseAbsPitch = 1;
    d.cb().fAbsPitch = 100.0f;
    EXPECT_EQ(unpack(d, pelntest::voicedFrame(200)).period, 80.0f);
    for (float nonsense : {0.0f, -5.0f, NAN}) {
        d.cb().fAbsPitch = nonsense;
        const float period = unpack(d, pelntest::voicedFrame(200)).period;
        EXPECT_TRUE(period >= 16.0f && period <= 125.0f) << nonsense;
    }
}

TEST(PelnSilence, FillAtStreamStartUsesTheInitialHistory) {
    Decoder d;
    d.cb().wSilenceFill = 1;
    const peln::FrameParams& p = unpack(d, pelntest::voicedFrame(200, 31));
    EXPECT_EQ(p.energy, 200.0f);
    EXPECT_EQ(p.period, 70.0f);
    EXPECT_EQ(p.voicing, 0.0f);
    const float flat = std::sqrt(200.0f * 0.65f / (32 * 4.0f));
    for (int k = 0; k < 32; ++k) EXPECT_NEAR(p.amp[k], flat, 1e-6) << k;
    for (int k = 32; k < 60; ++k) EXPECT_EQ(p.amp[k], 0.0f) << k;
    for (int k = 0; k < 10; ++k) EXPECT_EQ(p.lsp[k], 300.0f + 400.0f * k);
}

TEST(PelnSilence, UnvoicedFramesTeachTheBackgroundAndSilenceFadesBackIn) {
    Decoder d;
    Frame quiet = pelntest::unvoicedFrame(5);
    quiet.lsp = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0};  // close together: the 45 Hz spacing shows
    const peln::FrameParams& p = unpack(d, quiet);
    const float quietEnergy = p.energy;
    float lsp[10];
    std::copy(p.lsp, p.lsp + 10, lsp);
    unpack(d, pelntest::voicedFrame(60, 31));  // voiced frames teach nothing

    d.cb().wSilenceFill = 1;
    unpack(d, quiet);
    EXPECT_EQ(p.energy, quietEnergy);  // the quietest of the history
    float expected[10];
    for (int k = 0; k < 10; ++k) expected[k] = float(0.03 * lsp[k] + 0.97 * (300.0 + 400.0 * k));
    for (int k = 1; k < 10; ++k) expected[k] = std::max(expected[k], expected[k - 1] + 45.0f);
    for (int k = 0; k < 10; ++k) EXPECT_NEAR(p.lsp[k], expected[k], 1e-3) << k;

    // The six frames after a fill come in at 1/6 .. 6/6 of their amplitudes.
    d.cb().wSilenceFill = 0;
    Decoder reference;
    const Frame loud = pelntest::voicedFrame(90, 25);
    const float full = unpack(reference, loud).amp[3];
    for (int i = 1; i <= 7; ++i)
        EXPECT_NEAR(unpack(d, loud).amp[3], full * std::min(i, 6) / 6.0f, 1e-4 * full) << "frame " << i;
}

TEST(PelnDecoder, RefusesOtherCodecsAndReleasesItsState) {
    zef::ZefControlBlock cb{};
    cb.wCodecTag = 0x0504;
    EXPECT_EQ(zef::initDecodePeln(&cb), 50002u);
    EXPECT_EQ(zef::initPackPeln(&cb), 50002u);
    EXPECT_EQ(zef::unPackPeln(&cb), 50002u);
    EXPECT_EQ(zef::DecodePeln(&cb), 50002u);
    EXPECT_EQ(cb.lpCodecState, nullptr);

    Decoder d;
    ASSERT_EQ(d.initResult(), 0u);
    EXPECT_EQ(d.cb().wFrameSamples, 180);
    EXPECT_EQ(d.cb().wOutputSamples, 180);
    EXPECT_EQ(d.cb().wNeedFrame, 1);
    EXPECT_EQ(zef::freeDecodePeln(&d.cb()), 0u);
    EXPECT_EQ(d.cb().lpCodecState, nullptr);
    EXPECT_EQ(zef::unPackPeln(&d.cb()), 50002u);
    EXPECT_EQ(zef::DecodePeln(&d.cb()), 50002u);
}

}  // namespace
