// The analysis side of a Guisette: what each transformation type does to an
// analysed frame, and the formant warp of a predictor.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <limits>
#include <vector>

#include "guisette.h"
#include "guisetterouter.h"

using namespace zef;

namespace {

constexpr int kOrder = kGuisetteLpcOrder;

GuisetteState stateFor(int16_t type, int16_t amount) {
    GuisetteState s{};
    InitGuisette(&s);
    EXPECT_EQ(SetGuisette(&s, type, amount), 0);
    return s;
}

// A(z) with complex pole pairs at the given frequencies (Hz) and bandwidth,
// padded with zeros to ten coefficients.
std::vector<float> resonances(std::initializer_list<double> hz, double bandwidth) {
    std::vector<double> p{1.0};
    for (double f : hz) {
        const double r = std::exp(-M_PI * bandwidth / 8000.0), c = -2.0 * r * std::cos(2.0 * M_PI * f / 8000.0);
        std::vector<double> q(p.size() + 2, 0.0);
        for (size_t i = 0; i < p.size(); ++i) {
            q[i] += p[i];
            q[i + 1] += c * p[i];
            q[i + 2] += r * r * p[i];
        }
        p = q;
    }
    std::vector<float> a(kOrder, 0.0f);
    for (size_t k = 1; k < p.size() && k <= size_t(kOrder); ++k) a[k - 1] = float(-p[k]);
    return a;
}

AnalysedFrame frameAt(float period, float voicing, const std::vector<float>& a = resonances({500, 1500}, 100)) {
    AnalysedFrame f{};
    f.period = period;
    f.voicing = voicing;
    for (int k = 0; k < kOrder; ++k) f.a[k] = a[size_t(k)];
    f.haveLpc = true;
    return f;
}

double envelopeAt(const float* a, double hz) {
    std::complex<double> A = 1.0;
    for (int k = 0; k < kOrder; ++k) A -= double(a[k]) * std::polar(1.0, -2.0 * M_PI * hz * (k + 1) / 8000.0);
    return 1.0 / std::norm(A);
}

// Local maxima of the envelope on a 1 Hz grid, strongest first.
std::vector<double> peaks(const float* a) {
    std::vector<std::pair<double, double>> found;
    for (int f = 2; f < 3999; ++f) {
        const double here = envelopeAt(a, f);
        if (here > envelopeAt(a, f - 1) && here >= envelopeAt(a, f + 1)) found.push_back({here, f});
    }
    std::sort(found.rbegin(), found.rend());
    std::vector<double> hz;
    for (auto& [power, f] : found) hz.push_back(f);
    return hz;
}

// Reflection coefficients by the step-down recursion: stable when all |k| < 1.
bool stable(const float* coeffs) {
    std::vector<double> a(coeffs, coeffs + kOrder);
    for (int i = kOrder - 1; i >= 0; --i) {
        const double k = a[size_t(i)];
        if (!(std::fabs(k) < 1.0)) return false;
        std::vector<double> b(static_cast<size_t>(i));
        for (int j = 0; j < i; ++j) b[size_t(j)] = (a[size_t(j)] + k * a[size_t(i - 1 - j)]) / (1.0 - k * k);
        a = b;
    }
    return true;
}

}  // namespace

TEST(GuisetteRouter, TypeZeroOrNoStateLeavesTheFrameAlone) {
    GuisetteState s = stateFor(5, 255);
    SetGuisette(&s, 0, 50);  // parameters stay, but nothing applies
    AnalysedFrame f = frameAt(40, 0.8f), before = f;
    GuisetteRouter24(&s, &f);
    GuisetteRouter24(nullptr, &f);
    GuisetteRouterPeln(nullptr, &f);
    GuisetteRouter24(&s, nullptr);
    EXPECT_EQ(std::memcmp(&f, &before, sizeof f), 0);
}

TEST(GuisetteRouter, TranspositionRaisesThePitchByTheStatesFactor) {
    GuisetteState s = stateFor(4, 255);
    AnalysedFrame f = frameAt(40, 0.8f), before = f;
    GuisetteRouter24(&s, &f);
    EXPECT_FLOAT_EQ(s.framePitch, 200.0f);
    EXPECT_FLOAT_EQ(s.frameVoicing, 0.8f);
    EXPECT_NEAR(f.period, 8000.0 / (200.0 * 1.781797), 1e-3);
    EXPECT_FLOAT_EQ(f.voicing, 0.8f);
    for (int k = 0; k < kOrder; ++k) EXPECT_EQ(f.a[k], before.a[k]);  // type 4 keeps the formants
}

TEST(GuisetteRouter, FlattenedPitchFollowsTheSquashLine) {
    GuisetteState s = stateFor(2, 255);
    AnalysedFrame f = frameAt(40, 1.0f);
    GuisetteRouterPeln(&s, &f);
    EXPECT_NEAR(8000.0 / f.period, 200.0 * 30.0 / 436.0 + 250.0, 0.01);  // 263.8 Hz
}

// One reading per frame, voiced or not: 124, 64, 124, 64 Hz.
TEST(GuisetteRouter, AlternatingPitchTogglesEveryFrame) {
    GuisetteState s = stateFor(3, 0);
    const float voicing[] = {1.0f, 0.0f, 1.0f, 1.0f};
    const float expected[] = {124.0f, 64.0f, 124.0f, 64.0f};
    for (int i = 0; i < 4; ++i) {
        AnalysedFrame f = frameAt(50, voicing[i]);
        GuisetteRouter24(&s, &f);
        EXPECT_FLOAT_EQ(f.period, 8000.0f / expected[i]) << "frame " << i;
        EXPECT_EQ(f.voicing, voicing[i]);
    }
}

TEST(GuisetteRouter, WhisperRemovesTheVoicing) {
    GuisetteState whisper = stateFor(1, 128);
    AnalysedFrame f = frameAt(40, 0.9f);
    GuisetteRouter24(&whisper, &f);
    EXPECT_EQ(f.voicing, 0.0f);
    EXPECT_EQ(f.period, 40.0f);

    GuisetteState warped = stateFor(7, 0);  // whisper with formants moved down
    AnalysedFrame g = frameAt(40, 0.9f), before = g;
    GuisetteRouter24(&warped, &g);
    EXPECT_EQ(g.voicing, 0.0f);
    EXPECT_NE(std::memcmp(g.a, before.a, sizeof g.a), 0);
}

TEST(GuisetteRouter, PitchIsClampedToTheCodersRange) {
    GuisetteState up = stateFor(4, 255), down = stateFor(4, 0);
    AnalysedFrame high = frameAt(20, 1.0f), low = frameAt(100, 1.0f);
    GuisetteRouter24(&up, &high);   // 400 Hz * 1.78 = 713 Hz
    GuisetteRouter24(&down, &low);  // 80 Hz * 0.56 = 45 Hz
    EXPECT_EQ(high.period, 16.0f);
    EXPECT_EQ(low.period, 125.0f);
    EXPECT_EQ(high.voicing, 1.0f);
}

// A frame without a usable pitch, or a factor of 0, cannot be given a
// pitch: it goes unvoiced instead of receiving an infinite period.
TEST(GuisetteRouter, NoPitchMakesTheFrameUnvoiced) {
    GuisetteState s = stateFor(4, 200);
    for (float period : {0.0f, -3.0f, std::numeric_limits<float>::quiet_NaN()}) {
        AnalysedFrame f = frameAt(period, 1.0f);
        GuisetteRouter24(&s, &f);
        EXPECT_EQ(f.voicing, 0.0f) << period;
    }
    GuisetteState zeroFactor{};
    InitGuisette(&zeroFactor);
    zeroFactor.type = 4;  // pitchFactor still 0
    AnalysedFrame f = frameAt(40, 1.0f);
    GuisetteRouter24(&zeroFactor, &f);
    EXPECT_EQ(f.voicing, 0.0f);
    EXPECT_EQ(f.period, 40.0f);
}

TEST(GuisetteRouter, WarpingTypesMoveFormantsAndSetThePitch) {
    struct Case { int16_t type, amount; double pitchHz; };
    // At 100 Hz: type 5 amount 255 is +25 semitones, type 6 amount 0 the
    // squash line from 250 Hz, types 8 and 9 their fixed and falling shifts.
    const Case cases[] = {{5, 255, 100.0 * std::pow(1.059463094, 25.0)},
                          {6, 0, 100.0 * 15.0 / 436.0 + 250.0},
                          {8, 77, 100.0 * std::pow(1.059463094, 40.0 * 105.0 / 255.0 - 15.0)},
                          {9, 128, 100.0 * std::pow(1.059463094, 40.0 * 127.0 / 255.0 - 15.0)}};
    for (const Case& c : cases) {
        GuisetteState s = stateFor(c.type, c.amount);
        AnalysedFrame f = frameAt(80, 1.0f), before = f;
        GuisetteRouterPeln(&s, &f);
        EXPECT_NEAR(8000.0 / f.period, c.pitchHz, 0.01 * c.pitchHz) << "type " << c.type;
        EXPECT_NE(std::memcmp(f.a, before.a, sizeof f.a), 0) << "type " << c.type;
        EXPECT_TRUE(stable(f.a)) << "type " << c.type;

        AnalysedFrame noLpc = frameAt(80, 1.0f);
        noLpc.haveLpc = false;
        GuisetteRouter24(&s, &noLpc);
        EXPECT_EQ(std::memcmp(noLpc.a, before.a, sizeof noLpc.a), 0) << "type " << c.type;
    }
}

// Bin j of the warped envelope takes bin floor(0.7 j) of 31.25 Hz bins, so
// each source bin is held over 1/0.7 target bins: a resonance lands within
// 31.25 / 0.7 = 45 Hz of f / 0.7.
TEST(FormantWarp, TwoResonancesMoveByTheWarp) {
    std::vector<float> a = resonances({500, 1500}, 80);
    ASSERT_TRUE(gu_formantWarpLumo(a.data(), 0.7f));
    EXPECT_TRUE(stable(a.data()));
    std::vector<double> found = peaks(a.data());
    ASSERT_GE(found.size(), 2u);
    double f1 = std::min(found[0], found[1]), f2 = std::max(found[0], found[1]);
    EXPECT_NEAR(f1, 500.0 / 0.7, 45.0);
    EXPECT_NEAR(f2, 1500.0 / 0.7, 45.0);
}

TEST(FormantWarp, UnitWarpGivesThePredictorBack) {
    for (double bw : {60.0, 150.0}) {
        std::vector<float> original = resonances({400, 1100, 2400, 3300}, bw), a = original;
        ASSERT_TRUE(gu_formantWarpPeln(a.data(), 1.0f));
        for (int k = 0; k < kOrder; ++k) EXPECT_NEAR(a[size_t(k)], original[size_t(k)], 2e-3) << "k " << k;
    }
}

// Sharp resonances near the band edges are the hard case for the warped
// envelope's conditioning: whatever comes back must be stable.
TEST(FormantWarp, ResultIsStableForEveryWarpInUse) {
    const std::vector<float> predictors[] = {resonances({150, 900, 2600, 3850}, 20),
                                             resonances({300, 3950}, 5),
                                             resonances({700, 1200, 2500, 3300, 3700}, 40)};
    for (const auto& p : predictors) {
        for (float warp = 0.6f; warp <= 1.31f; warp += 0.05f) {
            std::vector<float> a = p;
            if (gu_formantWarpLumo(a.data(), warp))
                EXPECT_TRUE(stable(a.data())) << "warp " << warp;
            else
                EXPECT_EQ(a, p);  // refused: the predictor stays as it was
        }
    }
}

TEST(FormantWarp, RefusesWhatItCannotWarp) {
    const std::vector<float> original = resonances({500, 1500}, 100);
    for (float warp : {0.0f, -0.7f, std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN()}) {
        std::vector<float> a = original;
        EXPECT_FALSE(gu_formantWarpLumo(a.data(), warp)) << warp;
        EXPECT_EQ(a, original);
    }
    std::vector<float> broken = original;
    broken[3] = std::numeric_limits<float>::quiet_NaN();
    EXPECT_FALSE(gu_formantWarpPeln(broken.data(), 0.8f));
    EXPECT_TRUE(std::isnan(broken[3]));
}

TEST(Durbin, SolvesAndRefusesUnstableAutocorrelations) {
    double r[kOrder + 1];
    for (int k = 0; k <= kOrder; ++k) r[k] = std::pow(0.5, k);  // first-order process, a1 = 0.5
    float a[kOrder];
    ASSERT_TRUE(gu_durbinLumo(r, a));
    EXPECT_NEAR(a[0], 0.5f, 1e-6);
    for (int k = 1; k < kOrder; ++k) EXPECT_NEAR(a[k], 0.0f, 1e-6);

    float kept[kOrder] = {0.25f};
    const double flat[kOrder + 1] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};  // |k| = 1
    const double empty[kOrder + 1] = {};
    const double notPositive[kOrder + 1] = {1, 0.5, -0.9, 0.8, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_FALSE(gu_durbinPeln(flat, kept));
    EXPECT_FALSE(gu_durbinPeln(empty, kept));
    EXPECT_FALSE(gu_durbinPeln(notPositive, kept));
    EXPECT_EQ(kept[0], 0.25f);
}
