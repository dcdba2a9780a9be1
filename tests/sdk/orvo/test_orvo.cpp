// The Orvo decoder's own parts: field codes to parameters, frame geometry,
// predictor coefficients, the fixed-point modes and the tables.
#include <gtest/gtest.h>

#include <complex>

#include "decoder.h"

using namespace zeftest;
namespace orvo = zef::orvo;
using D = Decoder<Orvo>;
using Complex = std::complex<double>;

namespace {

const double kPi = 3.14159265358979323846;
Frame voicedF(uint8_t pitch, uint8_t energy = 30) { return voiced<Orvo>(pitch, energy); }

TEST(OrvoUnpack, PitchAndEnergyCodesAfterTheFadeIn) {
    D d;
    for (int i = 1; i <= 8; ++i)  // the stream fades in over six frames
        EXPECT_NEAR(d.unpack(voicedF(60)).gain, Orvo::amplitude(30) * std::min(i, 6) / 6.0, 1e-3) << i;
    for (int code = 0; code < 256; ++code) {
        Frame f = unvoiced<Orvo>();
        f.pitch = uint8_t(code);
        EXPECT_NEAR(d.unpack(f).period, periodOf(code), 1e-3) << code;
    }
    double previous = 0.0;
    for (int code : {0, 1, 2, 30, 63}) {  // code 0 is the quietest of all
        const double gain = d.unpack(voicedF(60, uint8_t(code))).gain;
        EXPECT_NEAR(gain, Orvo::amplitude(code), 1e-4 * gain) << code;
        EXPECT_GT(gain, previous) << code;
        EXPECT_EQ(d.cb().bFrameLevel, 4 * code);
        previous = gain;
    }
}

TEST(OrvoUnpack, TopLspIsCappedAndPitchShiftStaysInRange) {
    D d;
    Frame f;
    f.lsp = {7, 15, 15, 15, 15, 15, 7, 7, 7, 7};  // sums far beyond 3900 Hz
    const float* lsp = d.unpack(f).lsp;
    EXPECT_FLOAT_EQ(lsp[9], 3900.0f);
    for (int k = 1; k < 10; ++k) EXPECT_LE(lsp[k - 1], lsp[k] - 40.0f + 1e-3f) << k;
    f.lsp = {4, 11, 7, 7, 6, 7, 3, 4, 2, 4};  // LSP 9 sums to 3928.5: only it moves
    EXPECT_NEAR(d.unpack(f).lsp[8], 3551.9f, 0.1f);
    d.cb().fRelPitch = 12.0f;  // pitch shift: voiced frames only, and within 16 .. 125
    EXPECT_NEAR(d.unpack(voicedF(60)).period, periodOf(60) / 2.0, 1e-3);
    EXPECT_FLOAT_EQ(d.unpack(voicedF(240)).period, 16.0f);
    EXPECT_NEAR(d.unpack(unvoiced<Orvo>()).period, periodOf(60), 1e-3);
    d.cb().wUseAbsPitch = 1;
    d.cb().fAbsPitch = 100.0f;
    for (int code : {0, 90, 255}) EXPECT_FLOAT_EQ(d.unpack(voicedF(uint8_t(code))).period, 80.0f);
    d.cb().fAbsPitch = NAN;
    EXPECT_FLOAT_EQ(orvo::PitchShift8k(100.0f, &d.cb()), 125.0f);
}

// Silence fill: the last LSPs (45 Hz apart) at the quietest gain taught; then a fade-in.
TEST(OrvoSilenceFill, UsesWhatUnvoicedFramesTaught) {
    D d;
    for (int i = 0; i < 100; ++i) d.unpack(unvoiced<Orvo>(uint8_t(i == 57 ? 12 : 20 + i % 20)));
    const float background = d.state().code.backgroundLsp[0];
    EXPECT_NEAR(background, 300.0 * std::pow(0.97, 100) + 364.16 * (1.0 - std::pow(0.97, 100)), 0.1);
    Frame last = voicedF(60, 45);
    last.lsp = {};  // LSPs 0 and 1 only 42 Hz apart
    const float spoken0 = d.unpack(last).lsp[0];
    EXPECT_EQ(d.state().code.backgroundLsp[0], background);  // voiced frames teach nothing
    d.cb().wSilenceFill = 1;
    const orvo::FrameParams& p = d.unpack(last);
    EXPECT_NEAR(p.gain, Orvo::amplitude(12), 1e-3);
    EXPECT_FLOAT_EQ(p.lsp[1], spoken0 + 45.0f);
    d.cb().wSilenceFill = 0;
    EXPECT_NEAR(d.unpack(voicedF(60, 30)).gain, Orvo::amplitude(30) / 6.0, 1e-3);
}

TEST(OrvoGeometry, LengthsFollowTheWarpAndCrossfadesAddToOne) {
    const struct { float warp; int16_t group; int N, W, H; } cases[] = {
        {1.0f, 1, 180, 50, 115}, {0.7f, 1, 126, 36, 81}, {1.3f, 1, 234, 66, 150},
        {5.0f, 1, 900, 250, 575}, {0.2f, 1, 36, 10, 23}, {0.3f, 3, 162, 46, 104}};
    for (const auto& c : cases) {
        D d(c.warp, c.group);
        ASSERT_EQ(d.decode(voicedF(60)).size(), size_t(c.N)) << c.warp;
        EXPECT_EQ(d.state().syn.W, c.W) << c.warp;
        EXPECT_EQ(d.state().syn.H, c.H) << c.warp;
    }
    D d;
    for (float warp : {1.0f, 0.7f, 1.3f, 1.298f}) {  // 1.3 and 1.298 share N but not W
        d.cb().fWarp = warp;
        d.decode(voicedF(60));
        const orvo::SynthState& syn = d.state().syn;
        for (int i = 0; i < syn.W; ++i) EXPECT_NEAR(syn.window[i] + syn.window[i + 2 * syn.H - syn.W], 1.0f, 1e-6) << warp;
    }
    const struct { float warp; int16_t group; uint32_t error; } refused[] = {
        {5.01f, 1, 11110}, {0.19f, 1, 11111}, {2.6f, 2, 11110}, {NAN, 1, 11111}};
    for (const auto& c : refused) {
        D e(c.warp, c.group);
        e.decode(voicedF(60));
        EXPECT_EQ(e.lastError(), c.error) << c.warp << " x " << c.group;
    }
    D badMode(1.0f, 1, 4), noOutput;
    badMode.decode(voicedF(60));
    EXPECT_EQ(badMode.lastError(), 40004u);
    noOutput.cb().lpOutput = nullptr;
    noOutput.decode(voicedF(60));
    EXPECT_EQ(noOutput.lastError(), 40002u);
}

// P(z) = A(z) + z^-11 A(1/z) vanishes at the even LSPs, Q(z) at the odd ones.
TEST(OrvoLpc, LspsAreTheRootsOfTheSymmetricAndAntisymmetricParts) {
    const float sets[][10] = {{300, 700, 1100, 1500, 1900, 2300, 2700, 3100, 3500, 3900},
                              {250, 420, 900, 1300, 1420, 2100, 2600, 3000, 3300, 3600}};
    for (const auto& lsp : sets) {
        float a[10];
        orvo::lsp_lpc(lsp, a);
        for (int k = 0; k < 10; ++k) {
            const Complex z = std::polar(1.0, 2.0 * kPi * lsp[k] / 8000.0);
            Complex A = 1.0, Arev = std::pow(z, -11.0);
            for (int i = 1; i <= 10; ++i) {
                A -= double(a[i - 1]) * std::pow(z, -double(i));
                Arev -= double(a[i - 1]) * std::pow(z, double(i - 11));
            }
            EXPECT_LT(std::abs(k % 2 == 0 ? A + Arev : A - Arev), 1e-3) << "LSP " << k;
        }
    }
}

// Modes 2 and 3 (integer excitation and filter, mode 3 also integer
// oscillators) against the floating mode 1: segmental SNR over frames
// louder than RMS 30. Measured when written: 65 dB, worst frame 30 dB.
TEST(OrvoModes, FixedPointModesStayCloseToTheFloatingSynthesis) {
    for (int mode : {2, 3})
        for (float warp : {1.0f, 0.7f, 3.0f}) {
            D reference(warp), tested(warp, 1, mode);
            reference.cb().fRelPitch = tested.cb().fRelPitch = 7.0f;
            const std::vector<Frame> frames = pseudoSpeech<Orvo>(200, 99);
            double sum = 0.0, worst = 1e9;
            int counted = 0;
            for (size_t i = 0; i < frames.size(); ++i) {
                reference.cb().wSilenceFill = tested.cb().wSilenceFill = i >= 80 && i < 110;
                const Samples x = reference.decode(frames[i]), y = tested.decode(frames[i]);
                ASSERT_EQ(x.size(), y.size());
                if (rms(x) < 30.0) continue;
                const double s = std::clamp(snr(x, y), -10.0, 80.0);
                sum += s, worst = std::min(worst, s), ++counted;
            }
            EXPECT_GT(counted, 120);
            EXPECT_GT(sum / counted, 50.0) << "mode " << mode << " warp " << warp;
            EXPECT_GT(worst, 20.0) << "mode " << mode << " warp " << warp;
        }
}

// Voicing codes beyond the 4-bit field read as unvoiced, down to the noise book.
TEST(OrvoVoiced, OutOfFieldVoicingIsUnvoiced) {
    D reference, beyond[2];  // codes 16 (just past the table) and 200
    for (Frame f : pseudoSpeech<Orvo>(30, 11)) {
        f.voicing = 0;
        const Samples x = reference.decode(f);
        for (int i = 0; i < 2; ++i) EXPECT_EQ(beyond[i].decode((f.voicing = i ? 200 : 16, f)), x) << i;
    }
}

// Random phases spread evenly over a turn; the last noise book is silent.
TEST(OrvoTables, RandomPhasesAndSilentBook) {
    int count[16] = {};
    for (float r : orvo::un) count[std::clamp(int((r + kPi) / (2.0 * kPi) * 16.0), 0, 15)]++;
    for (int c : count) EXPECT_EQ(c, 20);
    EXPECT_EQ(rms(orvo::kNoiseBooks[15], size_t(orvo::kNoiseBookLength)), 0.0);
}

}  // namespace
