// The PCM effects: loading, the four processors, the delay line across
// effect changes, and staying inside the line whatever the oscillator does.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <vector>

#include "mirlane.h"
#include "pcmeffect.h"

namespace {

using zef::PCMEffectState;

const unsigned kAllEffects[] = {5001, 5002, 5003, 5004, 5005, 5006, 5007, 5008, 5009,
                                6001, 6002, 6003, 6004, 6005, 6006, 7001, 7002, 7003};

class Effect : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(zef::InitPCMEffect(&fx), 0); }
    void TearDown() override { zef::FreePCMEffect(fx); }

    std::vector<int16_t> run(std::vector<int16_t> x) {
        EXPECT_EQ(zef::ApplyPCMEffect(fx, unsigned(x.size()), x.data()), 0);
        return x;
    }
    std::vector<int16_t> runConstant(size_t n, int16_t v) { return run(std::vector<int16_t>(n, v)); }
    long writeIndex() const { return long(fx->writePos - fx->lineStart); }

    PCMEffectState* fx = nullptr;
};

// The table as loaded: line length delay + depth + 1 and wet 1 - dry are
// what the processors index and mix with.
TEST_F(Effect, EveryEffectLoadsItsSetting) {
    struct Row {
        unsigned id;
        int kind, lineLength, delay;
        float wet;
    };
    const Row rows[] = {{5001, 3, 132, 128, 0.999f}, {5002, 3, 261, 160, 0.5f}, {5003, 3, 91, 80, 0.7f},
                        {5004, 3, 91, 80, 0.7f},     {5005, 2, 1901, 1900, 0.5f}, {5006, 2, 501, 500, 0.5f},
                        {5007, 2, 8, 7, 0.5f},       {5008, 2, 1401, 1400, 0.6f}, {5009, 2, 1001, 1000, 0.6f},
                        {6001, 1, 2, 0, 1.0f},       {6002, 1, 2, 0, 1.0f},       {6003, 1, 2, 0, 1.0f},
                        {6004, 1, 2, 0, 1.0f},       {6005, 1, 2, 0, 1.0f},       {6006, 1, 2, 0, 1.0f},
                        {7001, 4, 481, 320, 0.5f},   {7002, 4, 451, 300, 0.5f},   {7003, 4, 376, 250, 0.5f}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.id);
        ASSERT_EQ(zef::SetPCMEffect(fx, r.id), 0);
        EXPECT_EQ(fx->effectId, int16_t(r.id));
        EXPECT_EQ(fx->kind, r.kind);
        EXPECT_EQ(fx->modulated, r.kind >= 3 ? 1 : 0);
        EXPECT_EQ(fx->lineLength, r.lineLength);
        EXPECT_EQ(fx->delay, r.delay);
        EXPECT_NEAR(fx->wet, r.wet, 1e-6);
        EXPECT_EQ(fx->sampleRate, 8000.0f);
        EXPECT_EQ(fx->osc2, 0.0f);
    }
}

TEST_F(Effect, RingModulationAt500Hz) {
    ASSERT_EQ(zef::SetPCMEffect(fx, 6003), 0);
    EXPECT_NEAR(fx->oscCoef, 1.8477591f, 1e-6);
    EXPECT_NEAR(fx->osc1, 0.3826834f, 1e-6);
    // The first sample of a fresh state is multiplied by sin 2w, then sin 3w ...
    std::vector<int16_t> y = runConstant(180, 1000);
    EXPECT_EQ(y[0], 707);
    EXPECT_EQ(y[1], 923);
    const double w = 2.0 * std::numbers::pi * 500.0 / 8000.0;
    for (size_t n = 0; n < y.size(); ++n) EXPECT_NEAR(y[n], 1000.0 * std::sin(w * double(n + 2)), 1.01) << n;
    // The oscillator runs on across frames.
    std::vector<int16_t> next = runConstant(1, 1000);
    EXPECT_NEAR(next[0], 1000.0 * std::sin(w * 182.0), 1.01);
}

TEST_F(Effect, FeedbackDelayImpulseResponse) {
    ASSERT_EQ(zef::SetPCMEffect(fx, 5007), 0);
    std::vector<int16_t> y = run({10000});
    EXPECT_EQ(fx->lineStart[0], 9000);  // 0.9 x the impulse went into the line
    std::vector<int16_t> rest = runConstant(15, 0);
    y.insert(y.end(), rest.begin(), rest.end());
    EXPECT_EQ(y[0], 4500);
    for (int n = 1; n <= 6; ++n) EXPECT_EQ(y[size_t(n)], 0) << n;
    EXPECT_EQ(y[7], 4500);   // the delayed 9000, half of it
    EXPECT_EQ(y[14], 3015);  // the echo of the echo: 0.5 x 0.67 x 9000
}

TEST_F(Effect, LoudFeedbackWrapsInsteadOfClipping) {
    ASSERT_EQ(zef::SetPCMEffect(fx, 5006), 0);
    std::vector<int16_t> y = runConstant(1001, 32767);
    EXPECT_EQ(y[0], 14745);    // 0.5 x 29490
    EXPECT_EQ(y[500], 29490);  // the line held 29490 + 0.5 x 29490, kept as -21301
    EXPECT_EQ(y[1000], 4094);  // 0.5 x 29490 + 0.5 x -21301
}

TEST_F(Effect, ModulatedDelayInterpolatesBetweenNeighbours) {
    ASSERT_EQ(zef::SetPCMEffect(fx, 5001), 0);
    fx->lineStart[128] = 1000;
    fx->lineStart[129] = 2000;
    const float s = fx->oscCoef * fx->osc1 - fx->osc2;
    const float frac = (s * 3.0f + 128.0f) - 128.0f;
    ASSERT_GT(frac, 0.01f);
    const int d = int(1000.0f + frac * 1000.0f);
    std::vector<int16_t> y = runConstant(1, 0);
    EXPECT_EQ(y[0], int(0.999f * float(d)));
    EXPECT_EQ(fx->lineStart[0], int(0.92f * float(d)));
}

TEST_F(Effect, ChorusHalvesTheSumWithAnArithmeticShift) {
    ASSERT_EQ(zef::SetPCMEffect(fx, 7002), 0);
    std::vector<int16_t> y = run({-3, 5});
    EXPECT_EQ(y[0], -2);  // (-3 + 0) >> 1 rounds down, not toward zero
    EXPECT_EQ(y[1], 2);
    EXPECT_EQ(fx->lineStart[0], -3);  // the chorus line holds the plain input
}

TEST_F(Effect, UnknownEffectLoadsNothing) {
    ASSERT_EQ(zef::SetPCMEffect(fx, 5005), 0);
    ASSERT_EQ(zef::SetPCMEffect(fx, 5010), 0);
    EXPECT_EQ(fx->kind, zef::kEffectNone);
    EXPECT_EQ(fx->effectId, 5010);
    EXPECT_EQ(fx->lineLength, 1901);  // nothing else changed
    std::vector<int16_t> x = {1, -2, 3, 32767, -32768};
    EXPECT_EQ(run(x), x);
}

// 5002 to 5004 have oscillators so slow that 2 cos w rounds to 2.0: the
// value then grows by osc1 every sample instead of swinging.
TEST_F(Effect, SlowOscillatorsGrowInsteadOfSwinging) {
    for (unsigned id : {5002u, 5003u, 5004u}) {
        SCOPED_TRACE(id);
        ASSERT_EQ(zef::SetPCMEffect(fx, id), 0);
        EXPECT_EQ(fx->oscCoef, 2.0f);
        const float step = fx->osc1;
        ASSERT_GT(step, 0.0f);
        runConstant(1000, 100);
        EXPECT_NEAR(fx->osc1, 1001.0f * step, 1001.0f * step * 1e-3);
        EXPECT_GE(writeIndex(), 0);
        EXPECT_LT(writeIndex(), fx->lineLength);
    }
}

TEST_F(Effect, SwitchingKeepsTheDelayLine) {
    ASSERT_EQ(zef::SetPCMEffect(fx, 5005), 0);
    std::vector<int16_t> x(1900, 0);
    x[0] = 10000;  // 8000 enters the line at index 0
    run(x);
    ASSERT_EQ(writeIndex(), 1);
    int16_t* line = fx->lineStart;
    ASSERT_EQ(zef::SetPCMEffect(fx, 5008), 0);
    EXPECT_EQ(fx->lineStart, line);
    EXPECT_EQ(writeIndex(), 1);
    EXPECT_EQ(line[0], 8000);
    // 5008 reads 1400 places on, index 0: sound from before the switch.
    EXPECT_EQ(runConstant(1, 0)[0], 4800);
}

// A shorter line after a switch must not leave the write position past its
// end: it folds back into the line.
TEST_F(Effect, SwitchToAShorterLineKeepsThePositionInside) {
    ASSERT_EQ(zef::SetPCMEffect(fx, 5005), 0);
    runConstant(1800, 300);
    ASSERT_EQ(writeIndex(), 101);
    ASSERT_EQ(zef::SetPCMEffect(fx, 5007), 0);
    EXPECT_EQ(writeIndex(), 101 % 8);

    uint32_t seed = 12345;
    for (unsigned from : kAllEffects) {
        for (unsigned to : kAllEffects) {
            ASSERT_EQ(zef::SetPCMEffect(fx, from), 0);
            std::vector<int16_t> noise(97 + from % 300);
            for (int16_t& v : noise) v = int16_t((seed = seed * 1664525u + 1013904223u) >> 16);
            run(noise);
            ASSERT_EQ(zef::SetPCMEffect(fx, to), 0);
            ASSERT_GE(writeIndex(), 0) << from << " -> " << to;
            ASSERT_LT(writeIndex(), fx->lineLength) << from << " -> " << to;
            run(noise);
            ASSERT_LT(writeIndex(), fx->lineLength) << from << " -> " << to;
        }
    }
}

// Ten minutes of the catalogue's swept resonator: the oscillator keeps
// growing, the read index keeps wrapping round the line.  (The sanitizer
// build catches any access outside the buffer.)
TEST_F(Effect, LongSessionOfTheSweptResonatorStaysInTheLine) {
    ASSERT_EQ(zef::SetPCMEffect(fx, 5003), 0);
    std::vector<int16_t> frame(180);
    uint32_t seed = 99;
    const int frames = 10 * 60 * 8000 / 180;
    float previous = fx->osc1;
    for (int f = 0; f < frames; ++f) {
        for (int16_t& v : frame) v = int16_t((seed = seed * 1664525u + 1013904223u) >> 16);
        ASSERT_EQ(zef::ApplyPCMEffect(fx, unsigned(frame.size()), frame.data()), 0);
        ASSERT_GE(writeIndex(), 0);
        ASSERT_LT(writeIndex(), fx->lineLength);
    }
    EXPECT_GT(fx->osc1, previous);
    EXPECT_GT(fx->osc1 * fx->depth + float(fx->delay), float(fx->lineLength));  // offsets far past the line
}

// Offsets past 16 bits, infinite and NaN oscillator values: every read
// still lands in the line and NaN mixes in as silence.
TEST_F(Effect, ExtremeOscillatorValuesStayInTheLine) {
    const float values[][2] = {{3300.0f, 3299.9f},  // 5002's offset passes 32767
                               {1e30f, -1e30f},
                               {std::numeric_limits<float>::max(), -std::numeric_limits<float>::max()},
                               {std::numeric_limits<float>::infinity(), 0.0f},
                               {std::numeric_limits<float>::quiet_NaN(), 0.0f}};
    for (unsigned id : {5001u, 5002u, 5004u, 7001u}) {
        for (const auto& v : values) {
            SCOPED_TRACE(::testing::Message() << id << " osc1 " << v[0]);
            ASSERT_EQ(zef::SetPCMEffect(fx, id), 0);
            fx->osc1 = v[0];
            fx->osc2 = v[1];
            for (int f = 0; f < 20; ++f) {
                runConstant(180, int16_t(-20000 + 2000 * f));
                ASSERT_GE(writeIndex(), 0);
                ASSERT_LT(writeIndex(), fx->lineLength);
            }
        }
    }
    ASSERT_EQ(zef::SetPCMEffect(fx, 7001), 0);
    fx->osc1 = fx->osc2 = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(run({1001, -1001}), (std::vector<int16_t>{500, -501}));  // (a + 0) >> 1
}

TEST(EffectState, FreshStateAndNullArguments) {
    int16_t x[2] = {5, 6};
    EXPECT_EQ(zef::SetPCMEffect(nullptr, 5003), 0);
    EXPECT_EQ(zef::ApplyPCMEffect(nullptr, 2, x), 0);
    EXPECT_EQ(x[1], 6);
    EXPECT_EQ(zef::FreePCMEffect(nullptr), 0);
    EXPECT_EQ(zef::InitPCMEffect(nullptr), ZEFERR_PCM_EFFECT_MEMORY);
    PCMEffectState* fx = nullptr;
    ASSERT_EQ(zef::InitPCMEffect(&fx), 0);
    EXPECT_EQ(fx->kind, zef::kEffectNone);  // fresh: nothing loaded, samples pass
    EXPECT_EQ(zef::ApplyPCMEffect(fx, 2, x), 0);
    EXPECT_EQ(x[0], 5);
    ASSERT_EQ(zef::SetPCMEffect(fx, 5005), 0);
    EXPECT_EQ(zef::ApplyPCMEffect(fx, 100, nullptr), 0);
    EXPECT_EQ(zef::ApplyPCMEffect(fx, 0, x), 0);
    EXPECT_EQ(fx->writePos, fx->lineStart);
    zef::FreePCMEffect(fx);
}

}  // namespace
