// Arbitrary field bytes, warps and pitch settings: every index stays in
// range, every frame has its length, nothing runs away.
#include <gtest/gtest.h>

#include <cmath>

#include "orvo_test_util.h"

using orvotest::Decoder;
using orvotest::Frame;
namespace orvo = zef::orvo;

namespace {

int expectedLength(float effectiveWarp) {
    int n = int(effectiveWarp * 180.0f);
    return n + (n & 1);
}

void expectSane(Decoder& d, const std::vector<int16_t>& out, float effectiveWarp, const char* what) {
    ASSERT_EQ(d.lastError(), 0u) << what;
    EXPECT_EQ(int(out.size()), expectedLength(effectiveWarp)) << what;
    const orvo::OrvoState& st = d.state();
    for (float m : st.syn.filterMemory) ASSERT_TRUE(std::isfinite(m)) << what;
    EXPECT_GE(st.frame.harmonics, 7) << what;
    EXPECT_LE(st.frame.harmonics, 57) << what;
    EXPECT_TRUE(std::isfinite(st.frame.gain)) << what;
}

TEST(OrvoRobust, ArbitraryFieldBytesWarpsAndPitchSettings) {
    for (int mode : {1, 2, 3}) {
        Decoder d(1.0f, mode);
        orvotest::Rng rng{uint32_t(0x5eed0000 + mode)};
        for (int i = 0; i < 1200; ++i) {
            for (uint8_t& c : d.cb().bFieldCodes) c = uint8_t(rng.below(256));
            const int16_t group = int16_t(1 + rng.below(3));
            const float warp = (0.2f + float(rng.below(4801)) / 1000.0f) / float(group);
            d.cb().fWarp = warp;
            d.cb().wDropGroup = group;
            d.cb().wSilenceFill = rng.below(8) == 0;
            d.cb().wUseAbsPitch = rng.below(4) == 0;
            d.cb().fAbsPitch = rng.below(20) == 0 ? NAN : float(rng.below(600));
            d.cb().fRelPitch = rng.below(20) == 0 ? INFINITY : float(rng.below(61) - 30);
            const float effective = warp * float(group);
            if (effective > 5.0f || effective < 0.2f) continue;
            const std::vector<int16_t> out = d.decodeCurrent();
            expectSane(d, out, effective, "random frame");
            if (HasFatalFailure()) return;
        }
    }
}

TEST(OrvoRobust, EveryByteInEveryField) {
    Decoder d;
    for (int field = 0; field < 14; ++field) {
        for (int value = 0; value < 256; ++value) {
            d.setCodes(orvotest::voicedFrame(60));
            d.cb().bFieldCodes[field] = uint8_t(value);
            expectSane(d, d.decodeCurrent(), 1.0f, "field sweep");
            if (HasFatalFailure()) return;
        }
    }
}

// Voicing codes beyond the 4-bit field read as unvoiced, down to the noise
// book they pick: the output is that of code 0.
TEST(OrvoRobust, VoicingCodesBeyondTheFieldAreUnvoiced) {
    std::vector<Frame> frames = orvotest::pseudoSpeech(30, 11);
    Decoder reference, odd;
    for (Frame f : frames) {
        f.voicing = 0;
        const std::vector<int16_t> x = reference.decode(f);
        f.voicing = 200;
        EXPECT_EQ(odd.decode(f), x);
    }
}

TEST(OrvoRobust, MissingOutputOrStateIsRefused) {
    Decoder d;
    d.setCodes(orvotest::voicedFrame(60));
    int16_t* out = d.cb().lpOutput;
    d.cb().lpOutput = nullptr;
    EXPECT_EQ(zef::unPackOrvo(&d.cb()), 0u);
    EXPECT_EQ(zef::DecodeOrvo(&d.cb()), 40002u);
    d.cb().lpOutput = out;
    EXPECT_EQ(zef::DecodeOrvo(&d.cb()), 0u);
    EXPECT_EQ(zef::DecodeOrvo(nullptr), 40002u);
    EXPECT_EQ(zef::unPackOrvo(nullptr), 40002u);
    EXPECT_EQ(zef::initDecodeOrvo(nullptr), 40002u);
}

}  // namespace
