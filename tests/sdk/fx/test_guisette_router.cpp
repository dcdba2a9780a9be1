// The analysis side of a Guisette: what each transformation type does to an
// analysed frame, and the formant warp of a predictor.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "guisette.h"
#include "guisetterouter.h"

using namespace zef;

namespace {

constexpr int kOrder = kGuisetteLpcOrder;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

GuisetteState stateFor(int16_t type, int16_t amount) {
    GuisetteState s{};
    InitGuisette(&s);
    EXPECT_EQ(SetGuisette(&s, type, amount), 0);
    return s;
}

// A(z) with pole pairs at the given frequencies (Hz), padded to ten terms.
std::vector<float> resonances(std::initializer_list<double> hz, double bandwidth) {
    std::vector<double> p{1.0};
    for (double f : hz) {
        const double r = std::exp(-M_PI * bandwidth / 8000.0), c = -2.0 * r * std::cos(2.0 * M_PI * f / 8000.0);
        std::vector<double> q(p.size() + 2, 0.0);
        for (size_t i = 0; i < p.size(); ++i) q[i] += p[i], q[i + 1] += c * p[i], q[i + 2] += r * r * p[i];
        p = q;
    }
    std::vector<float> a(kOrder, 0.0f);
    for (size_t k = 1; k < p.size() && k <= size_t(kOrder); ++k) a[k - 1] = float(-p[k]);
    return a;
}

AnalysedFrame frameAt(float period, float voicing) {
    AnalysedFrame f{};
    f.period = period;
    f.voicing = voicing;
    const std::vector<float> a = resonances({500, 1500}, 100);
    std::copy(a.begin(), a.end(), f.a);
    f.haveLpc = true;
    return f;
}

// Step-down recursion: stable when every reflection coefficient is below 1.
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

// The decoded pitch each type gives a frame: transposition, the squash
// line, the alternating pitch, the coder's range at both ends, and no
// usable pitch (unvoiced instead of an infinite period).
TEST(GuisetteRouter, PitchOfEachType) {
    const double semitone = 1.059463094;
    struct Row {
        int16_t type, amount;
        float period, voicing;
        double hz;  // 0: the frame goes unvoiced
    };
    const Row rows[] = {{4, 255, 40, 0.8f, 200.0 * 1.781797},  {2, 255, 40, 1, 200.0 * 30.0 / 436.0 + 250.0},
                        {4, 255, 20, 1, 500.0},                {4, 0, 100, 1, 64.0},
                        {5, 255, 80, 1, 100.0 * std::pow(semitone, 25.0)},
                        {6, 0, 80, 1, 100.0 * 15.0 / 436.0 + 250.0},
                        {8, 77, 80, 1, 100.0 * std::pow(semitone, 40.0 * 105.0 / 255.0 - 15.0)},
                        {9, 128, 80, 1, 100.0 * std::pow(semitone, 40.0 * 127.0 / 255.0 - 15.0)},
                        {4, 200, 0, 1, 0}, {4, 200, -3, 1, 0}, {4, 200, kNaN, 1, 0}, {1, 128, 40, 0.9f, 0}, {7, 0, 40, 0.9f, 0}};
    for (const Row& r : rows) {
        SCOPED_TRACE(::testing::Message() << "type " << r.type << " amount " << r.amount << " period " << r.period);
        GuisetteState s = stateFor(r.type, r.amount);
        AnalysedFrame f = frameAt(r.period, r.voicing), before = f;
        GuisetteRouterPeln(&s, &f);
        if (r.hz == 0) {
            EXPECT_EQ(f.voicing, 0.0f);
            continue;
        }
        EXPECT_EQ(f.voicing, r.voicing);
        EXPECT_NEAR(8000.0 / f.period, r.hz, 0.01 * r.hz);
        const bool warps = r.type >= 5;
        EXPECT_EQ(std::memcmp(f.a, before.a, sizeof f.a) != 0, warps);
        EXPECT_TRUE(stable(f.a));
    }
}

TEST(GuisetteRouter, TypeZeroNoStateAndAlternatingPitch) {
    GuisetteState s = stateFor(5, 255);
    SetGuisette(&s, 0, 50);  // parameters stay, but nothing applies
    AnalysedFrame f = frameAt(40, 0.8f), before = f;
    GuisetteRouter24(&s, &f);
    GuisetteRouter24(nullptr, &f);
    GuisetteRouter24(&s, nullptr);
    EXPECT_EQ(std::memcmp(&f, &before, sizeof f), 0);
    // One reading per frame, voiced or not: 124, 64, 124, 64 Hz.
    GuisetteState alt = stateFor(3, 0);
    const float voicing[] = {1.0f, 0.0f, 1.0f, 1.0f}, hz[] = {124.0f, 64.0f, 124.0f, 64.0f};
    for (int i = 0; i < 4; ++i) {
        AnalysedFrame g = frameAt(50, voicing[i]);
        GuisetteRouter24(&alt, &g);
        EXPECT_FLOAT_EQ(g.period, 8000.0f / hz[i]) << "frame " << i;
    }
}

// Sharp resonances near the band edges: whatever comes back is stable, and
// what cannot be warped is refused and left as it was.
TEST(FormantWarp, StableOrRefused) {
    const std::vector<float> predictors[] = {resonances({150, 900, 2600, 3850}, 20), resonances({300, 3950}, 5)};
    for (const auto& p : predictors)
        for (float warp = 0.6f; warp <= 1.31f; warp += 0.05f) {
            std::vector<float> a = p;
            const bool warped = gu_formantWarpLumo(a.data(), warp);
            EXPECT_TRUE(warped ? stable(a.data()) : a == p) << "warp " << warp;
        }
    for (float warp : {0.0f, -0.7f, std::numeric_limits<float>::infinity(), kNaN}) {
        std::vector<float> a = predictors[0];
        EXPECT_FALSE(gu_formantWarpLumo(a.data(), warp)) << warp;
        EXPECT_EQ(a, predictors[0]);
    }
}
