// The low-pass filters of the output rate converter, measured from their
// coefficients and as FilterINT runs them.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "resample.h"

using namespace zef;

namespace {

const double kPi = std::acos(-1.0);

double gainDb(const IIRListEntry& e, double omega) {
    std::complex<double> num, den;
    for (int k = 0; k < e.num.count; ++k) num += e.num.coef[k] * std::polar(1.0, -omega * k);
    for (int k = 0; k < e.den.count; ++k) den += e.den.coef[k] * std::polar(1.0, -omega * k);
    return 20.0 * std::log10(std::abs(num) / std::abs(den));
}

// RMS of the filtered sine after the filter has settled, relative to the input's.
double sineGain(const IIRListEntry& e, double omega) {
    IIR_INT f{&e, nullptr, std::max(e.num.count, e.den.count)};
    std::vector<double> state(size_t(f.stateLength));
    f.state = state.data();
    const int n = 24000, settle = 8000;
    std::vector<int16_t> x(n), y(n);
    for (int i = 0; i < n; ++i) x[i] = int16_t(std::lround(30000.0 * std::sin(omega * i)));
    FilterINT(&f, x.data(), y.data(), n);
    double in = 0, out = 0;
    for (int i = settle; i < n; ++i) {
        in += double(x[i]) * x[i];
        out += double(y[i]) * y[i];
    }
    return std::sqrt(out / in);
}

}  // namespace

TEST(IIRList, ElevenEntriesWithTheRatiosAndOrdersOfTheirRatePairs) {
    const struct { double ratio; int count; } want[kIIRListSize] = {
        {8000 / 44100.0, 14}, {0.25, 13}, {11025 / 32000.0, 13}, {8000 / 22050.0, 15},
        {0.5, 13}, {11025 / 16000.0, 13}, {8000 / 11025.0, 15}, {11025 / 22254.5, 15},
        {11025 / 11127.3, 9}, {8000 / 22254.5, 15}, {8000 / 11127.3, 13}};
    for (int i = 0; i < kIIRListSize; ++i) {
        const IIRListEntry& e = IIRlist[i];
        EXPECT_NEAR(e.ratio, want[i].ratio, 2e-4) << "entry " << i;
        EXPECT_EQ(e.num.count, want[i].count) << "entry " << i;
        EXPECT_EQ(e.den.count, want[i].count) << "entry " << i;
        EXPECT_EQ(e.den.coef[0], 1.0) << "entry " << i;
        EXPECT_TRUE(e.num.delay == 0 || e.num.delay == 2 || e.num.delay == 4) << "entry " << i;
    }
}

TEST(IIRList, EachFilterPassesTheLowerBandAndStopsAboveItsNyquist) {
    for (int i = 0; i < kIIRListSize; ++i) {
        const IIRListEntry& e = IIRlist[i];
        const double edge = kPi * e.ratio;  // half the lower rate, at the higher rate
        for (double w = 0.0; w <= 0.85 * edge; w += edge / 200)
            ASSERT_NEAR(gainDb(e, w), 0.0, 0.5) << "entry " << i << " pass band at " << w / edge;
        for (double w = edge; w <= kPi; w += (kPi - edge) / 200 + 1e-9)
            ASSERT_LT(gainDb(e, w), -50.0) << "entry " << i << " stop band at " << w / edge;
    }
}

TEST(IIRList, FilterINTRunsEachFilterStablyWithThatResponse) {
    for (int i = 0; i < kIIRListSize; ++i) {
        const IIRListEntry& e = IIRlist[i];
        const double edge = kPi * e.ratio;
        EXPECT_NEAR(sineGain(e, 0.5 * edge), 1.0, 0.02) << "entry " << i;
        EXPECT_LT(sineGain(e, 0.5 * (edge + kPi)), 0.01) << "entry " << i;

        // A full-scale step settles at its level and an impulse dies away.
        IIR_INT f{&e, nullptr, std::max(e.num.count, e.den.count)};
        std::vector<double> state(size_t(f.stateLength));
        f.state = state.data();
        std::vector<int16_t> x(30000, 0), y(30000);
        std::fill(x.begin(), x.begin() + 15000, int16_t(20000));
        FilterINT(&f, x.data(), y.data(), 30000);
        EXPECT_NEAR(y[14999], 20000, 250) << "entry " << i;
        for (int t = 29000; t < 30000; ++t) ASSERT_EQ(y[t], 0) << "entry " << i;
    }
}

TEST(IIRList, FilterINTClipsInsteadOfWrapping) {
    // A square wave at full scale overshoots in a sharp low-pass filter; the
    // overshoot must stick at the 16-bit limits.
    const IIRListEntry& e = IIRlist[4];
    IIR_INT f{&e, nullptr, e.num.count};
    std::vector<double> state(size_t(f.stateLength));
    f.state = state.data();
    std::vector<int16_t> x(4000), y(4000);
    for (int i = 0; i < 4000; ++i) x[i] = (i / 200) % 2 ? int16_t(-32768) : int16_t(32767);
    FilterINT(&f, x.data(), y.data(), 4000);
    int high = 0, low = 0;
    for (int i = 0; i < 4000; ++i) {
        high += y[i] == 32767;
        low += y[i] == -32768;
        if (i % 200 > 20 && i % 200 < 180) {
            ASSERT_EQ(y[i] > 0, (i / 200) % 2 == 0) << i;
        }
    }
    EXPECT_GT(high, 0);
    EXPECT_GT(low, 0);
}
