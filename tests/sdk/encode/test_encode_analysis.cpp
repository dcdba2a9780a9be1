// The Orvo encoder against the decoder: pitch, level, silence and LSPs.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "codecs.h"
#include "orvo.h"
#include "orvoenc.h"

using namespace zef;
using namespace zef::orvo;

namespace {

// A vowel: a band-limited pulse train at f0 (strictly periodic, unlike
// pulses on whole samples) through two resonances.
std::vector<int16_t> vowel(double f0, int samples, double amplitude) {
    std::vector<int16_t> out(samples);
    double y1 = 0, y2 = 0, z1 = 0, z2 = 0, phase = 0;
    auto res = [](double f, double bw, double& a1, double& a2) {
        double r = std::exp(-M_PI * bw / 8000.0);
        a1 = 2 * r * std::cos(2 * M_PI * f / 8000.0);
        a2 = -r * r;
    };
    double a1, a2, b1, b2;
    res(700, 80, a1, a2);
    res(1200, 100, b1, b2);
    for (int i = 0; i < samples; ++i) {
        phase += f0 / 8000.0;
        if (phase >= 1.0) phase -= 1.0;
        double pulse = 0;
        for (int k = 1; k * f0 < 3800.0; ++k) pulse += 2 * std::cos(2 * M_PI * k * phase) * f0 / 8000.0;
        double y = pulse + a1 * y1 + a2 * y2;
        y2 = y1; y1 = y;
        double z = y + b1 * z1 + b2 * z2;
        z2 = z1; z1 = z;
        out[i] = int16_t(std::lround(amplitude * z));
    }
    return out;
}

struct Decoder {
    ZefControlBlock cb{};
    std::vector<int16_t> out = std::vector<int16_t>(900);
    Decoder() {
        cb.wCodecTag = kOrvoTag;
        cb.wSynthesizer = 1;
        cb.fWarp = 1.0f;
        initDecodeOrvo(&cb);
        initPackOrvo(&cb);
    }
    ~Decoder() { freeDecodeOrvo(&cb); }
    std::vector<int16_t> decode(const uint8_t* codes) {
        std::copy(codes, codes + kFieldCount, cb.bFieldCodes);
        cb.lpOutput = out.data();
        EXPECT_EQ(unPackOrvo(&cb), 0u);
        EXPECT_EQ(DecodeOrvo(&cb), 0u);
        return {out.begin(), out.begin() + cb.wOutputSamples};
    }
};

// Encodes and decodes `pcm`; returns the decoded samples and the codes.
std::vector<int16_t> roundTrip(const std::vector<int16_t>& pcm, std::vector<std::array<uint8_t, kFieldCount>>* codes) {
    OrvoEncoder* enc = newOrvoEncoder();
    Decoder dec;
    std::vector<int16_t> out;
    for (size_t f = 0; f + kEncFrame <= pcm.size(); f += kEncFrame) {
        std::array<uint8_t, kFieldCount> c{};
        encodeOrvoFrame(enc, pcm.data() + f, c.data());
        if (codes) codes->push_back(c);
        auto d = dec.decode(c.data());
        out.insert(out.end(), d.begin(), d.end());
    }
    freeOrvoEncoder(enc);
    return out;
}

double rms(const std::vector<int16_t>& x, size_t from, size_t to) {
    double s = 0;
    for (size_t i = from; i < to; ++i) s += double(x[i]) * x[i];
    return std::sqrt(s / double(to - from));
}

}  // namespace

TEST(OrvoEncode, SteadyVowelGetsNearestPitchCodeAndDecodesToItsF0) {
    for (double f0 : {80.0, 120.0, 210.0, 330.0}) {
        std::vector<std::array<uint8_t, kFieldCount>> codes;
        roundTrip(vowel(f0, 8000, 3000), &codes);
        const int want = pitchCode(float(8000.0 / f0));
        for (size_t f = 5; f < codes.size(); ++f) {
            ASSERT_GE(codes[f][0], 10) << f0 << " Hz frame " << f << " voiced";
            EXPECT_NEAR(codes[f][1], want, 1) << f0 << " Hz frame " << f;
            EXPECT_NEAR(Q2F0(codes[f][1]), f0, 0.02 * f0) << f0 << " Hz frame " << f;
        }
    }
}

TEST(OrvoEncode, LevelOfASweepSurvivesTheRoundTrip) {
    // Below about -30 dBFS the energy table steps by more than 2 dB.
    for (double amplitude : {1000.0, 3000.0, 12000.0}) {
        std::vector<int16_t> sweep(8000 * 2);
        double phase = 0;
        for (size_t i = 0; i < sweep.size(); ++i) {
            double f = 200.0 + 1800.0 * double(i) / double(sweep.size());
            phase += 2 * M_PI * f / 8000.0;
            sweep[i] = int16_t(std::lround(amplitude * std::sin(phase)));
        }
        auto out = roundTrip(sweep, nullptr);
        ASSERT_GE(out.size(), sweep.size() - kEncFrame);
        const size_t from = 10 * kEncFrame, to = out.size() - kEncFrame;
        const double db = 20 * std::log10(rms(out, from, to) / rms(sweep, from, to));
        EXPECT_NEAR(db, 0.0, 1.0) << "amplitude " << amplitude;
    }
}

TEST(OrvoEncode, SteadyInputGivesSteadyEnergyCodes) {
    // The decoded frames overlap; aiming each frame at the input level
    // alone once made steady input alternate between far-apart codes.
    std::vector<int16_t> noise(60 * kEncFrame);
    uint32_t seed = 7;
    for (auto& s : noise) {
        seed = seed * 1103515245u + 12345u;
        s = int16_t(int(seed >> 16 & 0x7ff) - 1024);
    }
    for (const auto& pcm : {vowel(120, 60 * kEncFrame, 3000), vowel(250, 60 * kEncFrame, 800), noise}) {
        std::vector<std::array<uint8_t, kFieldCount>> codes;
        roundTrip(pcm, &codes);
        for (size_t f = 4; f < codes.size(); ++f) EXPECT_NEAR(codes[f][2], codes[f - 1][2], 1) << "frame " << f;
    }
}

TEST(OrvoEncode, VoicingCodeFollowsWhereTheInputIsHarmonic) {
    // Harmonic below about 1.5 kHz and noise above: the voiced band must
    // end near there, not at the top as the full-band correlation says.
    std::vector<int16_t> mixed(40 * kEncFrame), noise(40 * kEncFrame);
    auto voice = vowel(200, 40 * kEncFrame, 3000);
    uint32_t seed = 3;
    double h1 = 0, h2 = 0, prev = 0;
    for (size_t i = 0; i < mixed.size(); ++i) {
        seed = seed * 1103515245u + 12345u;
        const double white = double(int(seed >> 16 & 0xfff) - 2048);
        // crude high-pass: differences of differences
        const double high = white - 2 * h1 + h2;
        h2 = h1;
        h1 = white;
        double low = 0.5 * (voice[i] + prev);  // and the voice gently low-passed
        prev = voice[i];
        mixed[i] = int16_t(std::lround(low + 0.6 * high));
        noise[i] = int16_t(std::lround(white * 4));
    }
    OrvoEncoder* enc = newOrvoEncoder();
    FrontEnd& fe = enc->fe;
    FrameAnalysis an;
    std::vector<int> codes;
    for (size_t f = 0; f + kEncFrame <= mixed.size(); f += kEncFrame) {
        analyseFrame(&fe, mixed.data() + f, &an);
        if (f >= 5 * kEncFrame) codes.push_back(an.voicingCode);
    }
    for (int c : codes) {
        EXPECT_GE(c, 2);
        EXPECT_LE(c, 10);
    }
    initFrontEnd(&fe);
    for (size_t f = 0; f + kEncFrame <= noise.size(); f += kEncFrame) {
        analyseFrame(&fe, noise.data() + f, &an);
        EXPECT_EQ(an.voicingCode, 0) << "noise frame " << f / kEncFrame;
    }
    freeOrvoEncoder(enc);
}

TEST(OrvoEncode, SilenceAndNearSilenceStayQuiet) {
    for (int level : {0, 2}) {
        std::vector<int16_t> quiet(8000);
        for (size_t i = 0; i < quiet.size(); ++i) quiet[i] = int16_t((i * 7919 % 5) - 2) * int16_t(level / 2);
        std::vector<std::array<uint8_t, kFieldCount>> codes;
        auto out = roundTrip(quiet, &codes);
        for (auto& c : codes) EXPECT_EQ(c[2], 0);
        EXPECT_LT(rms(out, 0, out.size()), 30.0);
    }
    // Speech that stops: a few frames after the end no burst or click.
    auto pcm = vowel(150, 20 * kEncFrame, 8000);
    pcm.resize(50 * kEncFrame, 0);
    auto out = roundTrip(pcm, nullptr);
    int peak = 0;
    for (size_t i = 26 * kEncFrame; i < out.size(); ++i) peak = std::max(peak, std::abs(int(out[i])));
    EXPECT_LT(peak, 100);
}

TEST(OrvoEncode, LspsOfAKnownFilterComeBackWithinOneStep) {
    // LPC of the vowel's resonances, then its LSPs through the quantiser and
    // the decoder's rebuilding.
    auto v = vowel(100, 2000, 3000);
    std::vector<float> x(v.begin() + 1000, v.begin() + 1240);
    float a[kLpcOrder], lsp[kLpcOrder];
    ASSERT_TRUE(lpcAnalysis(x.data(), int(x.size()), a));
    ASSERT_TRUE(lpcToLsp(a, lsp));
    for (int k = 1; k < kLpcOrder; ++k) EXPECT_GT(lsp[k], lsp[k - 1]);
    // The LSPs give back the filter they came from.
    float back[kLpcOrder];
    lsp_lpc(lsp, back);
    for (int k = 0; k < kLpcOrder; ++k) EXPECT_NEAR(back[k], a[k], 2e-3f) << k;

    int16_t codes[kLpcOrder];
    quantiseLsp(lsp, codes);
    FrameParams frame{};
    lspdiffdecode34(codes, &frame);
    float below = 0.0f;
    for (int k = 0; k < kLpcOrder; ++k) {
        // The largest gap between neighbouring steps of this row.
        float step = 0;
        for (int c = 1; c < (1 << kLspBits[k]); ++c) step = std::max(step, lspdiff[k][c] - lspdiff[k][c - 1]);
        EXPECT_NEAR(frame.lsp[k], lsp[k], step) << "LSP " << k;
        below = frame.lsp[k];
    }
    (void)below;
}

TEST(OrvoEncode, HostileInputGivesValidCodes) {
    std::vector<std::vector<int16_t>> inputs;
    std::vector<int16_t> square(4000), dc(4000, 32767), clip(4000);
    for (size_t i = 0; i < square.size(); ++i) square[i] = (i / 20) % 2 ? 32767 : -32768;
    auto loud = vowel(150, 4000, 60000);
    for (size_t i = 0; i < clip.size(); ++i) clip[i] = loud[i];
    for (auto* in : {&square, &dc, &clip}) {
        std::vector<std::array<uint8_t, kFieldCount>> codes;
        auto out = roundTrip(*in, &codes);
        for (auto& c : codes)
            for (int f = 0; f < kFieldCount; ++f) EXPECT_LT(c[f], 1u << kFieldWidths[f]);
        EXPECT_FALSE(out.empty());
    }
}
