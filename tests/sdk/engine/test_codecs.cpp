// What both decoders must do alike, measured on the decoded audio: pitch,
// length under warp, level, clipping, refusals, arbitrary input, and a hash
// of fixed sequences as a drift alarm.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "decoder.h"

using namespace zeftest;

namespace {

template <class Codec>
class Codecs : public ::testing::Test {};
using Both = ::testing::Types<Orvo, Peln>;
TYPED_TEST_SUITE(Codecs, Both);

// Measured from the seventh frame on, after the fade-in and the first glide.
template <class Codec>
double steadyPeriod(Decoder<Codec>& d, const Frame& f) {
    const Samples x = d.steady(f, 20);
    return measuredPeriod(x, 6 * 180, x.size() - 6 * 180 - 170);
}

TYPED_TEST(Codecs, FundamentalIsTheCodedOneAtEveryWarp) {
    const struct { float warp; int code; } cases[] = {
        {1.0f, 0}, {1.0f, 60}, {1.0f, 130}, {1.0f, 200}, {1.0f, 255}, {0.7f, 90}, {2.5f, 90}, {5.0f, 130}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "pitch code " << c.code << " warp " << c.warp);
        Decoder<TypeParam> d(c.warp);
        const double expected = periodOf(c.code);
        EXPECT_NEAR(steadyPeriod(d, voiced<TypeParam>(uint8_t(c.code))), expected, 0.01 * expected);
    }
    Decoder<TypeParam> plain, shifted;
    shifted.cb().fRelPitch = 12.0f;  // an octave up halves the period
    const double before = steadyPeriod(plain, voiced<TypeParam>(40));
    EXPECT_NEAR(steadyPeriod(shifted, voiced<TypeParam>(40)), before / 2.0, 0.005 * before);
}

// A caller that never started a drop group (0) means no frames dropped.
TYPED_TEST(Codecs, DecodedLengthFollowsTheWarp) {
    const struct { float warp; int16_t group; } cases[] = {
        {0.6f, 1}, {0.75f, 1}, {1.0f, 1}, {1.7f, 1}, {2.5f, 1}, {5.0f, 1}, {1.0f, 0}, {0.75f, 0}, {0.3f, 3}};
    for (const auto& c : cases) {
        Decoder<TypeParam> d(c.warp, c.group);
        const Samples x = d.steady(voiced<TypeParam>(80), 100);
        const double w = c.warp * std::max<int16_t>(c.group, 1);
        EXPECT_NEAR(double(x.size()) / (100 * 180), w, 0.015 * w) << c.warp << " x " << c.group;
    }
}

// The synthesis is linear in the amplitudes and two sessions read the same
// noise, so the output scales with the coded level.
TYPED_TEST(Codecs, OutputScalesWithTheEnergyCode) {
    const bool orvo = std::is_same_v<TypeParam, Orvo>;
    const int base = orvo ? 36 : 14;  // loud enough that truncation does not count
    for (uint8_t voicing : {uint8_t(15), uint8_t(7), uint8_t(0)}) {
        Frame f = voiced<TypeParam>(70, uint8_t(base));
        f.voicing = voicing;
        Decoder<TypeParam> reference;
        const double level = rms(reference.steady(f, 12));
        for (int code : orvo ? std::vector<int>{30, 42, 54} : std::vector<int>{18, 22, 26}) {
            Decoder<TypeParam> d;
            f.energy = uint8_t(code);
            const double ratio = TypeParam::amplitude(code) / TypeParam::amplitude(base);
            EXPECT_NEAR(rms(d.steady(f, 12)) / level, ratio, 0.02 * ratio) << int(voicing) << "/" << code;
        }
    }
}

// A sharp low formant at full energy overdrives the 16-bit range: the output
// sticks at the limits instead of wrapping to the other sign.
TYPED_TEST(Codecs, LoudFramesClipAndNeverWrap) {
    const bool orvo = std::is_same_v<TypeParam, Orvo>;
    Frame f = orvo ? unvoiced<TypeParam>(63) : voiced<TypeParam>(30, 31);
    f.lsp[0] = orvo ? 0 : f.lsp[0], f.lsp[1] = 0, f.lsp[2] = orvo ? 8 : f.lsp[2];
    for (int mode = 1; mode <= (orvo ? 3 : 1); ++mode) {
        Decoder<TypeParam> d(1.0f, 1, mode);
        const Samples x = d.steady(f, 12);
        EXPECT_EQ(*std::max_element(x.begin(), x.end()), 32767) << "mode " << mode;
        EXPECT_EQ(*std::min_element(x.begin(), x.end()), -32768) << "mode " << mode;
        for (size_t n = 1; n < x.size(); ++n) ASSERT_LT(std::abs(x[n] - x[n - 1]), 40000) << "mode " << mode;
    }
}

TYPED_TEST(Codecs, RefusesTheOtherCodecAndAFreedState) {
    zef::ZefControlBlock cb{};
    cb.wCodecTag = TypeParam::kTag == Orvo::kTag ? Peln::kTag : Orvo::kTag;
    EXPECT_EQ(TypeParam::init(&cb), TypeParam::kErrNotMine);
    EXPECT_EQ(TypeParam::unpack(&cb), TypeParam::kErrNotMine);
    EXPECT_EQ(TypeParam::decode(&cb), TypeParam::kErrNotMine);
    EXPECT_EQ(cb.lpCodecState, nullptr);

    Decoder<TypeParam> d;
    ASSERT_EQ(d.initResult(), 0u);
    EXPECT_EQ(d.cb().wFrameSamples, 180);
    TypeParam::release(&d.cb());
    EXPECT_EQ(d.cb().lpCodecState, nullptr);
    EXPECT_EQ(TypeParam::unpack(&d.cb()), TypeParam::kErrNotMine);  // freed: nothing to decode with
    EXPECT_EQ(TypeParam::decode(&d.cb()), TypeParam::kErrNotMine);
}

// Arbitrary field bytes, warps, drop groups and pitch settings: no failure,
// the stream as long as the warps ask, and nothing runs away.
TYPED_TEST(Codecs, ArbitraryFieldBytesAndSettings) {
    Decoder<TypeParam> d;
    Rng rng{0x5eed};
    double expected = 0.0;
    size_t got = 0, frames = 0;
    for (int i = 0; i < 800; ++i) {
        if (d.cb().wNeedFrame) {
            for (uint8_t& c : d.cb().bFieldCodes) c = uint8_t(rng.below(256));
            const int16_t group = int16_t(1 + rng.below(3));
            const float warp = (0.2f + float(rng.below(4801)) / 1000.0f) / float(group);
            if (warp * group > 5.0f || warp * group < 0.2f) continue;
            d.cb().fWarp = warp, d.cb().wDropGroup = group;
            d.cb().wSilenceFill = rng.below(8) == 0;
            d.cb().wUseAbsPitch = rng.below(4) == 0;
            d.cb().fAbsPitch = rng.below(20) ? float(rng.below(600)) : NAN;
            d.cb().fRelPitch = rng.below(20) ? float(rng.below(61) - 30) : INFINITY;
            expected += warp * group * 180.0;
            ++frames;
        }
        got += d.call().size();
        ASSERT_EQ(d.lastError(), 0u) << "call " << i;
    }
    EXPECT_GT(frames, 200u);
    EXPECT_NEAR(double(got), expected, 180.0 + 10.0 * double(frames));  // segments are cut to even lengths
}

// Drift alarm: any change to the synthesis, its tables or generated data
// changes these. After a deliberate change print the new values with
// CODEC_PRINT_HASHES=1 and update them (say why in the commit).
TYPED_TEST(Codecs, DriftAlarm) {
    const bool orvo = std::is_same_v<TypeParam, Orvo>;
    const struct { float warp; int mode; uint64_t orvoHash, pelnHash; } cases[] = {
        {1.0f, 1, 0x059b31847ac4bc25ull, 0xfc7b8e3f6967b4adull}, {0.7f, 1, 0xec4833ebfc58c3a9ull, 0x2f2fc6668f05ee8dull},
        {2.5f, 1, 0xe1dcaf5c030fc8f4ull, 0xf086859a2cebb4a8ull}, {1.3f, 3, 0xcd4de5b4f6a62754ull, 0}};
    for (const auto& c : cases) {
        if (!orvo && c.mode != 1) continue;
        Decoder<TypeParam> d(c.warp, 1, c.mode);
        d.cb().fRelPitch = 3.0f;
        const std::vector<Frame> frames = pseudoSpeech<TypeParam>(90, 7);
        Samples x;
        for (int part = 0; part < 3; ++part) {
            d.cb().wSilenceFill = part == 1;  // frames 40-49 as silence fill
            const Samples s = d.decodeAll({frames.begin() + (part ? 30 + 10 * part : 0), part == 1 ? frames.begin() + 50 : part ? frames.end() : frames.begin() + 40});
            x.insert(x.end(), s.begin(), s.end());
        }
        const uint64_t hash = fnv1a(x);
        if (std::getenv("CODEC_PRINT_HASHES")) std::printf("%.1f: 0x%016" PRIx64 "ull\n", c.warp, hash);
        EXPECT_GT(rms(x), 100.0);
        EXPECT_EQ(hash, orvo ? c.orvoHash : c.pelnHash) << "warp " << c.warp << ": 0x" << std::hex << hash;
    }
}

}  // namespace
