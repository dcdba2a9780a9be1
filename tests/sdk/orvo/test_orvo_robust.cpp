// Arbitrary field bytes, warps and pitch settings: every index stays in
// range, every frame has its length, nothing runs away.
#include <gtest/gtest.h>

#include "orvo_test_util.h"

using orvotest::Decoder;
using orvotest::Frame;

namespace {

TEST(OrvoRobust, ArbitraryFieldBytesWarpsAndPitchSettings) {
    for (int mode : {1, 2, 3}) {
        Decoder d(1.0f, mode);
        orvotest::Rng rng{uint32_t(0x5eed0000 + mode)};
        for (int i = 0; i < 1500; ++i) {
            for (uint8_t& c : d.cb().bFieldCodes) c = uint8_t(rng.below(256));
            const int16_t group = int16_t(1 + rng.below(3));
            const float warp = (0.2f + float(rng.below(4801)) / 1000.0f) / float(group);
            d.cb().fWarp = warp;
            d.cb().wDropGroup = group;
            d.cb().wSilenceFill = rng.below(8) == 0;
            d.cb().wUseAbsPitch = rng.below(4) == 0;
            d.cb().fAbsPitch = rng.below(20) ? float(rng.below(600)) : NAN;
            d.cb().fRelPitch = rng.below(20) ? float(rng.below(61) - 30) : INFINITY;
            const float effective = warp * float(group);
            if (effective > 5.0f || effective < 0.2f) continue;
            const size_t length = d.decodeCurrent().size();
            ASSERT_EQ(d.lastError(), 0u) << "mode " << mode << " frame " << i;
            const int N = int(effective * 180.0f);
            ASSERT_EQ(length, size_t(N + (N & 1)));
            for (float m : d.state().syn.filterMemory) ASSERT_TRUE(std::isfinite(m));
            ASSERT_TRUE(std::isfinite(d.state().frame.gain));
        }
    }
}

// Voicing codes beyond the 4-bit field read as unvoiced, down to the noise
// book they pick: the output is that of code 0.
TEST(OrvoRobust, VoicingCodesBeyondTheFieldAreUnvoiced) {
    Decoder reference, odd;
    for (Frame f : orvotest::pseudoSpeech(30, 11)) {
        f.voicing = 0;
        const std::vector<int16_t> x = reference.decode(f);
        f.voicing = 200;
        EXPECT_EQ(odd.decode(f), x);
    }
}

}  // namespace
