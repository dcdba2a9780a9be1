// Behaviour measured on decoded audio and on the excitation: the noise
// generator, pitch, the split between oscillators and shaped noise, level,
// clipping, and regression hashes of fixed frame sequences.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cmath>
#include <complex>

#include "peln_test_util.h"

using pelntest::Decoder;
using pelntest::Frame;
namespace peln = zef::peln;

namespace {

// Period measured after the first frames' glide from the initial state.
double steadyPeriod(float warp, const Frame& f) {
    Decoder d(warp);
    const std::vector<int16_t> x = d.decodeAll(std::vector<Frame>(20, f));
    return pelntest::measuredPeriod(x, 6 * 180, x.size() - 6 * 180 - 170);
}

TEST(PelnNoise, GeneratorStartsFromItsSeed) {
    float out[3];
    peln::randGenPeln(out, 3, 0.0f);
    EXPECT_EQ(out[0], -32767.0f);
    EXPECT_EQ(out[1], -17146.0f);
    EXPECT_EQ(out[2], float(uint16_t(15621u * 15622u + 1u)) - 32768.0f);
    // A negative seed (a noise sample) wraps to its 16-bit pattern.
    float a[4], b[4];
    peln::randGenPeln(a, 4, -32767.2f);
    peln::randGenPeln(b, 4, 32770.0f);  // trunc(-32766.7) = -32766, 32770 as 16 bits
    for (int i = 0; i < 4; ++i) EXPECT_EQ(a[i], b[i]) << i;
}

TEST(PelnVoiced, SteadyFramesHaveTheCodedFundamental) {
    for (int code : {0, 60, 130, 200, 255}) {
        const double expected = pelntest::periodOf(code);
        EXPECT_NEAR(steadyPeriod(1.0f, pelntest::voicedFrame(uint8_t(code))), expected, 0.01 * expected)
            << "pitch code " << code;
    }
    for (float warp : {0.75f, 2.5f}) {
        const double expected = pelntest::periodOf(90);
        EXPECT_NEAR(steadyPeriod(warp, pelntest::voicedFrame(90)), expected, 0.01 * expected) << "warp " << warp;
    }
}

TEST(PelnExcitation, FullyVoicedSegmentsMakeNoNoise) {
    Decoder d;
    d.decodeAll(std::vector<Frame>(3, pelntest::voicedFrame(100)));
    const peln::SynthState& s = d.state().syn;
    ASSERT_EQ(s.voicedCount, s.harmonics);
    EXPECT_EQ(s.uv.seed, 0.0f);  // the generator never ran
    for (int n = 0; n < s.outCount; ++n) ASSERT_EQ(s.uv.out[n], 0.0f) << n;
    EXPECT_GT(pelntest::rms(s.segment, size_t(s.outCount)), 10.0);
}

// Power below 1200 Hz over power above 2400 Hz, of a harmonic spectrum and
// of a signal (Hann-windowed 256-point blocks).
struct Bands {
    double low = 0.0, high = 0.0;
    void add(double hz, double power) {
        if (hz < 1200.0) low += power;
        if (hz > 2400.0) high += power;
    }
};
double lowToHigh(const float* amp, int count, double spacing) {
    Bands b;
    for (int k = 0; k < count; ++k) b.add((k + 1) * spacing, double(amp[k]) * amp[k]);
    return b.low / b.high;
}
double lowToHigh(const std::vector<float>& x) {
    const double pi = 3.14159265358979323846;
    Bands bands;
    for (size_t start = 0; start + 256 <= x.size(); start += 128)
        for (int b = 1; b < 128; ++b) {
            std::complex<double> c = 0.0;
            for (int n = 0; n < 256; ++n)
                c += (0.5 - 0.5 * std::cos(2 * pi * n / 256)) * double(x[start + n]) *
                     std::polar(1.0, -2 * pi * b * n / 256);
            bands.add(b * 8000.0 / 256, std::norm(c));
        }
    return bands.low / bands.high;
}

// Fully unvoiced: the oscillators stay silent, each run's mean power is the
// summed power of the harmonics, and the noise spectrum follows their
// amplitudes (class 0, shape 1 leans towards high bands, shape 3 falls).
TEST(PelnExcitation, FullyUnvoicedSegmentsAreShapedNoise) {
    double measured[2], expected[2];
    for (int i = 0; i < 2; ++i) {
        Decoder d;
        Frame f = pelntest::unvoicedFrame();
        f.shape = {uint8_t(i ? 3 : 1), 0, 0};
        std::vector<float> noise;
        for (int call = 0; call < 60; ++call) {
            d.setCodes(f);
            d.call();
            const peln::SynthState& s = d.state().syn;
            ASSERT_EQ(s.voicedCount, 0);
            ASSERT_TRUE(std::all_of(s.voi.voiced, s.voi.voiced + s.outCount, [](float v) { return v == 0.0f; }));
            const int length = s.L + s.prevO + 1;
            double run = 0.0, harmonics = 0.0;
            for (int n = 0; n < length; ++n) run += double(s.uv.run[n]) * s.uv.run[n];
            for (int k = 0; k < s.harmonics; ++k) harmonics += double(s.segAmp[k]) * s.segAmp[k];
            EXPECT_NEAR(run / length, harmonics, 1e-3 * harmonics);
            if (call >= 4) noise.insert(noise.end(), s.uv.out, s.uv.out + s.outCount);
        }
        const peln::SynthState& s = d.state().syn;
        expected[i] = lowToHigh(s.segAmp, s.harmonics, 8000.0 / s.segPeriod);
        measured[i] = lowToHigh(noise);
        EXPECT_NEAR(measured[i], expected[i], 0.15 * expected[i]) << "shape " << int(f.shape[0]);
    }
    EXPECT_LT(measured[0], measured[1]);
}

// The synthesis is linear in the amplitudes, which grow with the square
// root of the energy; the noise is the same in two sessions.
TEST(PelnLevel, OutputScalesWithTheSquareRootOfTheEnergy) {
    for (uint8_t voicing : {uint8_t(15), uint8_t(7), uint8_t(0)}) {
        Frame f = pelntest::voicedFrame(70, 14);
        f.voicing = voicing;
        Decoder reference;
        const std::vector<int16_t> base = reference.decodeAll(std::vector<Frame>(12, f));
        for (int code : {18, 22, 26}) {
            Decoder d;
            f.energy = uint8_t(code);
            const std::vector<int16_t> x = d.decodeAll(std::vector<Frame>(12, f));
            const double ratio = std::pow(10.0, (peln::Energy_Peln_TABLE[code] - peln::Energy_Peln_TABLE[14]) / 2.0);
            const double level = pelntest::rms(x.data(), x.size()) / pelntest::rms(base.data(), base.size());
            EXPECT_NEAR(level, ratio, 0.02 * ratio) << "voicing " << int(voicing) << " energy " << code;
        }
    }
}

// A sample beyond the 16-bit range sticks at the limit instead of wrapping
// to the other sign (a wrap would step by nearly 65536).
TEST(PelnOutput, LoudFramesClipAndNeverWrap) {
    Decoder d;
    Frame f = pelntest::voicedFrame(30, 31);
    f.lsp[1] = 0;  // LSPs 0 and 1 32 Hz apart near 310 Hz: a formant that overdrives a little
    const std::vector<int16_t> x = d.decodeAll(std::vector<Frame>(12, f));
    const auto [lo, hi] = std::minmax_element(x.begin(), x.end());
    EXPECT_EQ(*hi, 32767);
    EXPECT_EQ(*lo, -32768);
    int largestStep = 0;
    for (size_t n = 1; n < x.size(); ++n) largestStep = std::max(largestStep, std::abs(x[n] - x[n - 1]));
    EXPECT_LT(largestStep, 40000);
}

// Hashes of decoded fixed sequences.  They change only when the synthesis
// changes on purpose; then print the new values with
//   PELN_PRINT_HASHES=1 test_peln_synthesis
// and update the table.
TEST(PelnRegression, DecodedSequencesKeepTheirHashes) {
    struct Case {
        const char* name;
        float warp;
        uint32_t seed;
        bool silenceGap;
        uint64_t hash;
    } cases[] = {
        {"speech at 1.0", 1.0f, 1, false, 0xe9110c44ad39e05full},
        {"speech at 0.75", 0.75f, 2, false, 0x46d4aa64b16ff7f5ull},
        {"speech at 2.5", 2.5f, 3, false, 0x3580c8b91eb4842full},
        {"speech with silence fill", 1.0f, 4, true, 0xc69a3649cb651ca7ull},
    };
    const bool print = std::getenv("PELN_PRINT_HASHES") != nullptr;
    for (const Case& c : cases) {
        Decoder d(c.warp);
        std::vector<Frame> frames = pelntest::pseudoSpeech(80, c.seed);
        std::vector<int16_t> x;
        for (size_t i = 0; i < frames.size(); i += 20) {
            d.cb().wSilenceFill = c.silenceGap && i == 40;
            const std::vector<int16_t> part =
                d.decodeAll(std::vector<Frame>(frames.begin() + long(i), frames.begin() + long(i) + 20));
            x.insert(x.end(), part.begin(), part.end());
        }
        const uint64_t hash = pelntest::fnv1a(x);
        if (print) std::printf("        {\"%s\", ..., 0x%016" PRIx64 "ull},\n", c.name, hash);
        EXPECT_EQ(hash, c.hash) << c.name << ": 0x" << std::hex << hash;
    }
}

}  // namespace
