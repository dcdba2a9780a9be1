// LSPs to predictor coefficients and their interpolation across the frame.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>

#include "orvo_test_util.h"

namespace orvo = zef::orvo;
using Complex = std::complex<double>;

namespace {

const double kPi = 3.14159265358979323846;

// A(z) = 1 - sum a_k z^-k on the unit circle at f Hz.
Complex inverseFilter(const float* a, double hz) {
    Complex sum = 1.0;
    for (int k = 1; k <= 10; ++k) sum -= double(a[k - 1]) * std::polar(1.0, -2.0 * kPi * hz / 8000.0 * k);
    return sum;
}

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

// LSPs at every multiple of 4000/11 Hz are the roots of 1 +- z^-11: the
// inverse filter is 1, every coefficient 0, the spectrum flat.
TEST(OrvoLspToLpc, UniformlySpacedLspsGiveAFlatFilter) {
    float lsp[10], a[10];
    for (int k = 0; k < 10; ++k) lsp[k] = float((k + 1) * 4000.0 / 11.0);
    orvo::lsp_lpc(lsp, a);
    for (int k = 0; k < 10; ++k) EXPECT_NEAR(a[k], 0.0f, 1e-5) << k;
    for (double hz = 0; hz < 4000; hz += 250) EXPECT_NEAR(std::abs(inverseFilter(a, hz)), 1.0, 1e-4) << hz;
}

TEST(OrvoLpcInterpolation, SubframesMoveFromThePreviousToTheCurrentLsps) {
    orvo::SynthState syn{};
    const float prev[10] = {300, 700, 1100, 1500, 1900, 2300, 2700, 3100, 3500, 3900};
    const float cur[10] = {400, 800, 1300, 1600, 2000, 2500, 2800, 3200, 3400, 3800};
    std::copy(prev, prev + 10, syn.prevLsp);
    orvo::lpc_int(cur, &syn);
    for (int j = 0; j < 5; ++j) {
        float mixed[10], a[10];
        for (int k = 0; k < 10; ++k) mixed[k] = prev[k] + (cur[k] - prev[k]) * (j / 5.0f);
        orvo::lsp_lpc(mixed, a);
        for (int k = 0; k < 10; ++k) EXPECT_FLOAT_EQ(syn.subLpc[j][k], a[k]) << j << "," << k;
    }
    for (int k = 0; k < 10; ++k) EXPECT_EQ(syn.prevLsp[k], cur[k]);
}

TEST(OrvoLpcInterpolation, OnlyPairsInvertedByMoreThan45HzAreRepaired) {
    float lsp[10] = {300, 700, 1100, 1500, 1900, 2300, 2700, 3100, 3500, 3900};
    lsp[3] = 1050;  // 50 Hz below LSP 2: raised to 1145
    lsp[6] = 2260;  // 40 Hz below LSP 5: kept
    orvo::SynthState syn{};
    std::copy(lsp, lsp + 10, syn.prevLsp);  // same LSPs before and now: every subframe mixes to them
    orvo::lpc_int(lsp, &syn);
    float repaired[10], a[10];
    std::copy(lsp, lsp + 10, repaired);
    repaired[3] = 1145;
    orvo::lsp_lpc(repaired, a);
    for (int j = 0; j < 5; ++j)
        for (int k = 0; k < 10; ++k) EXPECT_FLOAT_EQ(syn.subLpc[j][k], a[k]) << j << "," << k;
}

}  // namespace
