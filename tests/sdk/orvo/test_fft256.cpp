// The 256-point FFT against a direct DFT.
#include <gtest/gtest.h>

#include <cmath>

#include "fft256.h"
#include "orvo_test_util.h"

namespace {

TEST(Fft256, MatchesTheDirectTransform) {
    zef::Fft256Tables tables;
    zef::initFft256(&tables);
    orvotest::Rng rng{12345};
    float re[256], im[256];
    double xr[256], xi[256];
    for (int n = 0; n < 256; ++n) {
        xr[n] = re[n] = float(rng.below(2001) - 1000) / 1000.0f;
        xi[n] = im[n] = float(rng.below(2001) - 1000) / 1000.0f;
    }
    zef::fft256(&tables, re, im);
    const double pi = 3.14159265358979323846;
    double worst = 0.0;
    for (int k = 0; k < 256; ++k) {
        double sr = 0.0, si = 0.0;
        for (int n = 0; n < 256; ++n) {
            const double a = -2.0 * pi * k * n / 256.0;
            sr += xr[n] * std::cos(a) - xi[n] * std::sin(a);
            si += xr[n] * std::sin(a) + xi[n] * std::cos(a);
        }
        worst = std::max(worst, std::hypot(re[k] - sr, im[k] - si));
    }
    EXPECT_LT(worst, 1e-4);
}

}  // namespace
