// LSPs to predictor coefficients, and their interpolation across the frame.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>

#include "orvo_test_util.h"

namespace orvo = zef::orvo;
using Complex = std::complex<double>;

namespace {

const double kPi = 3.14159265358979323846;

// P(z) = A(z) + z^-11 A(1/z) vanishes at the even LSPs, Q(z) = A(z) - z^-11
// A(1/z) at the odd ones: the defining property of line spectral pairs.
TEST(OrvoLspToLpc, LspsAreTheRootsOfTheSymmetricAndAntisymmetricParts) {
    const float sets[][10] = {
        {300, 700, 1100, 1500, 1900, 2300, 2700, 3100, 3500, 3900},
        {250, 420, 900, 1300, 1420, 2100, 2600, 3000, 3300, 3600},
        {80.8f, 123.2f, 203.6f, 306.9f, 402.7f, 495.6f, 660.2f, 783.2f, 955.6f, 1064.3f},
    };
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
            const Complex part = (k % 2 == 0) ? A + Arev : A - Arev;
            EXPECT_LT(std::abs(part), 1e-3) << "LSP " << k << " at " << lsp[k];
        }
    }
}

// Subframe 0 still uses the previous frame's LSPs, subframe 4 is four
// fifths of the way to the current ones; only pairs inverted by more than
// 45 Hz are repaired.
TEST(OrvoLpcInterpolation, SubframesWalkFromThePreviousLsps) {
    const float prev[10] = {300, 700, 1100, 1500, 1900, 2300, 2700, 3100, 3500, 3900};
    float cur[10] = {400, 800, 1300, 1600, 2000, 2500, 2800, 3200, 3400, 3800};
    orvo::SynthState syn{};
    std::copy(prev, prev + 10, syn.prevLsp);
    orvo::lpc_int(cur, &syn);
    float last[10], a0[10], a4[10];
    for (int k = 0; k < 10; ++k) last[k] = prev[k] + (cur[k] - prev[k]) * 0.8f;
    orvo::lsp_lpc(prev, a0);
    orvo::lsp_lpc(last, a4);
    for (int k = 0; k < 10; ++k) {
        EXPECT_FLOAT_EQ(syn.subLpc[0][k], a0[k]) << k;
        EXPECT_NEAR(syn.subLpc[4][k], a4[k], 1e-5) << k;
    }

    cur[3] = 1250;  // 50 Hz below LSP 2: raised to 1345
    cur[6] = 2460;  // 40 Hz below LSP 5: kept
    std::copy(cur, cur + 10, syn.prevLsp);  // previous and current alike: every subframe mixes to them
    orvo::lpc_int(cur, &syn);
    cur[3] = 1345;
    orvo::lsp_lpc(cur, a4);
    for (int k = 0; k < 10; ++k) EXPECT_FLOAT_EQ(syn.subLpc[2][k], a4[k]) << k;
}

}  // namespace
