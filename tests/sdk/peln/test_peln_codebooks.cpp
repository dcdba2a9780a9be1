// The committed spectral-shape books (trained on speech by
// tools/gen/pelncodebooks/train.sh, which needs the speech, so the tables are
// checked for what the decoder relies on rather than regenerated): the fixed
// values, and a usable shape from every code combination.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "peln.h"
#include "pelncodebooks.h"

namespace peln = zef::peln;

namespace {

int bandsOf(int k) { return int(peln::BarkCntl[k].bands); }

}  // namespace

TEST(PelnCodebooks, KeepTheFixedValues) {
    EXPECT_EQ(peln::Amp0_3x3x10[0], 0.3211426f);
    EXPECT_EQ(peln::Amp0_3x3x10[1], 0.31624857f);
    EXPECT_EQ(peln::Amp0_3x3x10[2], 0.2522126f);
    EXPECT_EQ(peln::Amp0_3x3x10[3], 0.36141238f);
    EXPECT_EQ(peln::Amp0_3x3x10[80], -0.023341214f);
    EXPECT_EQ(peln::Amp0_3x3x10[81], -0.005232274f);
    EXPECT_EQ(peln::kShapeBooks[0], peln::Amp0_3x3x10);
    EXPECT_EQ(peln::kShapeBooks[6], peln::Amp6_3x3x15);
    EXPECT_EQ(peln::kShapeBooks[15], peln::Amp15_3x3x10);
}

// Any frame may carry any three codes: every combination of every class must
// be positive at some band (the decoder clips negative bands to 0), and the
// decoded harmonic amplitudes must be finite and carry the frame's energy.
TEST(PelnCodebooks, EveryCombinationDecodesToAShape) {
    peln::CodeRecord code{};
    peln::initQuanPeln(&code);
    for (int k = 0; k < peln::kVoicingClasses; ++k) {
        const int B = bandsOf(k);
        for (int c = 0; c < 512; ++c) {
            const int16_t codes[3] = {int16_t(c / 64), int16_t(c / 8 % 8), int16_t(c % 8)};
            float most = -1.0f;
            for (int n = 0; n < B; ++n) {
                float sum = 0.0f;
                for (int s = 0; s < 3; ++s) sum += peln::kShapeBooks[k][(s * 8 + codes[s]) * B + n];
                ASSERT_TRUE(std::isfinite(sum)) << "class " << k << " combination " << c;
                most = std::max(most, sum);
            }
            ASSERT_GT(most, 0.0f) << "class " << k << " combination " << c;

            std::copy(codes, codes + 3, code.shapeCodes);
            peln::FrameParams frame{};
            frame.voicing = float(k) / 15.0f;
            frame.period = 80.0f;
            frame.energy = 1000.0f;
            const int N = peln::UQFB_8kPeln(&frame, &code);
            float total = 0.0f;
            for (int i = 0; i < N; ++i) {
                ASSERT_TRUE(std::isfinite(frame.amp[i]) && frame.amp[i] >= 0.0f) << k << " " << c << " " << i;
                total += frame.amp[i];
            }
            ASSERT_NEAR(total, 0.5 * std::sqrt(0.65 * 1000.0 * N), 1e-3) << "class " << k << " combination " << c;
        }
    }
}
