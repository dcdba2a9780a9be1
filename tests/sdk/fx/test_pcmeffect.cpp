// The PCM effects: what each processor does to a signal, the delay line
// across effect changes, and staying inside the line whatever the
// oscillator, the position or the level.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

#include "mirlane.h"
#include "pcmeffect.h"
#include "support.h"

namespace {

using zeftest::Samples;

const unsigned kAllEffects[] = {5001, 5002, 5003, 5004, 5005, 5006, 5007, 5008, 5009,
                                6001, 6002, 6003, 6004, 6005, 6006, 7001, 7002, 7003};

class Effect : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(zef::InitPCMEffect(&fx), 0); }
    void TearDown() override { zef::FreePCMEffect(fx); }
    void load(unsigned id) {
        zef::FreePCMEffect(fx);
        ASSERT_EQ(zef::InitPCMEffect(&fx), 0);
        ASSERT_EQ(zef::SetPCMEffect(fx, id), 0);
    }
    Samples run(Samples x) {
        EXPECT_EQ(zef::ApplyPCMEffect(fx, unsigned(x.size()), x.data()), 0);
        return x;
    }
    Samples impulse(size_t n, int16_t v = 10000, size_t at = 0) {
        Samples x(n, 0);
        x[at] = v;
        return run(x);
    }
    long writeIndex() const { return long(fx->writePos - fx->lineStart); }
    bool lineHoldsSound() const {
        for (int i = 0; i < zef::kDelayLineSamples; ++i)
            if (fx->lineStart[i]) return true;
        return false;
    }
    zef::PCMEffectState* fx = nullptr;
};

// Every preset's output for the same speech, as a drift alarm over the
// settings (delay, depth, gains, oscillator) that no other test pins down.
TEST_F(Effect, EveryPresetGivesItsOwnOutput) {
    const std::pair<unsigned, uint64_t> rows[] = {
        {5001, 0x230782e420cbc629}, {5002, 0x94e7d6707549869c}, {5003, 0xf25d4bc3b8c62b25},
        {5004, 0xd2e689194b46ea09}, {5005, 0xad95cf62a4f95d65}, {5006, 0x904efd8239d4f05d},
        {5007, 0x6aa35d1f82ebb2cf}, {5008, 0xee9bd1834a6d7477}, {5009, 0x00dcc7af7a56b8b3},
        {6001, 0x97990541fa150f17}, {6002, 0x1a5aad27697733c7}, {6003, 0xee3dcfb7b66f7182},
        {6004, 0x672da4e111c304bd}, {6005, 0x922f46c5b7c6cd97}, {6006, 0xb0d92d9ab5241d06},
        {7001, 0x098fb86124f3b7fe}, {7002, 0x0a037733cf7a2dc2}, {7003, 0xe4c0cdc28ac66409}};
    Samples speech = zeftest::speechLike(4000);
    speech.resize(6000, 0);  // room for the echoes
    for (auto [id, hash] : rows) {
        SCOPED_TRACE(id);
        load(id);
        const Samples y = run(speech);
        EXPECT_NE(y, speech);
        EXPECT_EQ(zeftest::fnv1a(y), hash) << std::hex << zeftest::fnv1a(y);
    }
}

// The state's modulated flag marks the delays whose delay moves: an echo
// heard through the line that differs with the moment the sound comes in.
// Ring modulation varies too but keeps no line; plain delays are fixed.
TEST_F(Effect, ModulatedFlagMarksTheMovingDelays) {
    int modulated = 0;
    for (unsigned id : kAllEffects) {
        SCOPED_TRACE(id);
        load(id);
        Samples early = impulse(1);
        const bool usesLine = lineHoldsSound();
        const Samples rest = run(Samples(1999, 0));
        early.insert(early.end(), rest.begin(), rest.end());
        load(id);
        Samples late = impulse(3000, 10000, 1000);
        late.erase(late.begin(), late.begin() + 1000);
        const bool moving = usesLine && late != early;
        EXPECT_EQ(fx->modulated, moving ? 1 : 0);
        modulated += moving;
    }
    EXPECT_EQ(modulated, 7);
}

// Products beyond 32 bits saturate, then keep their low 16 bits like every
// sample: +2^31 and above give -1 (0xFFFF), below -2^31 give 0.
TEST_F(Effect, HugeProductsSaturateBeforeTheyWrap) {
    struct Row {
        float next;  // the oscillator's next value
        int16_t in, out;
    };
    const Row rows[] = {{2147483648.0f, 1, -1}, {4e9f, 1, -1},      {4e9f, -1, 0},
                        {1e30f, 3, -1},         {-1e30f, 3, 0},      {65537.0f, 1, 1},
                        {std::numeric_limits<float>::infinity(), 2, -1}, {std::numeric_limits<float>::quiet_NaN(), 2, 0}};
    for (const Row& r : rows) {
        SCOPED_TRACE(::testing::Message() << r.next << " x " << r.in);
        load(6001);
        fx->osc1 = 0.0f;
        fx->osc2 = -r.next;  // next = coef * 0 - osc2
        EXPECT_EQ(run({r.in})[0], r.out);
    }
}

TEST_F(Effect, FeedbackDelayImpulseResponse) {
    load(5007);  // 7 samples, feedback 0.67, dry 0.5, input 0.9
    const Samples y = impulse(16);
    EXPECT_EQ(y[0], 4500);
    for (int n = 1; n <= 6; ++n) EXPECT_EQ(y[size_t(n)], 0) << n;
    EXPECT_EQ(y[7], 4500);   // the 9000 in the line, wet half of it
    EXPECT_EQ(y[14], 3015);  // the echo of the echo: 0.5 x 0.67 x 9000
}

// A write position at the end of the line (one past its last sample) is
// taken as its start: the sound stays in the line and is heard again.
TEST_F(Effect, PositionAtTheLinesEndWrapsToItsStart) {
    load(5007);
    fx->writePos = fx->lineStart + fx->lineLength;
    const Samples y = impulse(8);
    EXPECT_EQ(fx->lineStart[0], 9000);
    EXPECT_EQ(fx->lineStart[8], 0);  // nothing written past the line
    EXPECT_EQ(y[7], 4500);
    EXPECT_EQ(writeIndex(), 0);  // eight steps round a line of 8
}

TEST_F(Effect, LoudFeedbackWrapsInsteadOfClipping) {
    load(5006);
    const Samples y = run(Samples(1001, 32767));
    EXPECT_EQ(y[0], 14745);    // 0.5 x 29490
    EXPECT_EQ(y[500], 29490);  // the line held 29490 + 0.5 x 29490, kept as -21301
    EXPECT_EQ(y[1000], 4094);  // 0.5 x 29490 + 0.5 x -21301
}

TEST_F(Effect, SwitchingKeepsTheDelayLine) {
    load(5005);
    impulse(1900);  // 8000 enters the line at index 0
    ASSERT_EQ(zef::SetPCMEffect(fx, 5008), 0);
    EXPECT_EQ(writeIndex(), 1);
    EXPECT_EQ(run({0})[0], 4800);  // 5008 reads 1400 on: sound from before the switch
    run(Samples(1800, 300));
    ASSERT_EQ(zef::SetPCMEffect(fx, 5007), 0);  // a shorter line: the position folds in
    EXPECT_EQ(writeIndex(), 1002 % 8);  // 1002 in the longer line
}

// Any switch, any oscillator value (5002-5004 grow without bound): every access
// stays in the line (the sanitizer build sees one that does not).
TEST_F(Effect, EveryPathStaysInTheLine) {
    const Samples noise = zeftest::noise(251, 32000);
    for (unsigned from : kAllEffects)
        for (unsigned to : kAllEffects) {
            SCOPED_TRACE(::testing::Message() << from << " -> " << to);
            ASSERT_EQ(zef::SetPCMEffect(fx, from), 0);
            run(noise);
            ASSERT_EQ(zef::SetPCMEffect(fx, to), 0);
            ASSERT_GE(writeIndex(), 0);
            ASSERT_LT(writeIndex(), fx->lineLength);
            run(noise);
        }
    const float values[][2] = {{3300.0f, 3299.9f}, {1e30f, -1e30f},
                               {std::numeric_limits<float>::infinity(), 0.0f},
                               {std::numeric_limits<float>::quiet_NaN(), 0.0f}};
    for (unsigned id : {5001u, 5002u, 5004u, 7001u})
        for (const auto& v : values) {
            load(id);
            fx->osc1 = v[0];
            fx->osc2 = v[1];
            for (int f = 0; f < 20; ++f) run(Samples(180, int16_t(-20000 + 2000 * f)));
            ASSERT_LT(writeIndex(), fx->lineLength);
        }
    load(7001);
    fx->osc1 = fx->osc2 = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(run({1001, -1001}), (Samples{500, -501}));  // NaN reads as silence
}

TEST(EffectState, NullArgumentsAreRefusedOrIgnored) {
    int16_t x[2] = {5, 6};
    EXPECT_EQ(zef::InitPCMEffect(nullptr), ZEFERR_PCM_EFFECT_MEMORY);
    EXPECT_EQ(zef::SetPCMEffect(nullptr, 5003), 0);
    EXPECT_EQ(zef::ApplyPCMEffect(nullptr, 2, x), 0);
    EXPECT_EQ(zef::FreePCMEffect(nullptr), 0);
    zef::PCMEffectState* fx = nullptr;
    ASSERT_EQ(zef::InitPCMEffect(&fx), 0);
    EXPECT_EQ(zef::ApplyPCMEffect(fx, 2, x), 0);  // fresh: nothing loaded
    EXPECT_EQ(x[0], 5);
    ASSERT_EQ(zef::SetPCMEffect(fx, 5005), 0);
    EXPECT_EQ(zef::ApplyPCMEffect(fx, 100, nullptr), 0);
    EXPECT_EQ(fx->writePos, fx->lineStart);
    ASSERT_EQ(zef::SetPCMEffect(fx, 5010), 0);  // unknown: samples pass through
    int16_t loud[2] = {32767, -32768};
    EXPECT_EQ(zef::ApplyPCMEffect(fx, 2, loud), 0);
    EXPECT_EQ(loud[0], 32767);
    zef::FreePCMEffect(fx);
}

}  // namespace
