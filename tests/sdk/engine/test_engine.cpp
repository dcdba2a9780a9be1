// The codec engine frame: set-up and teardown, failures that leave it
// expelled, frame dropping, and what a decoded frame looks like at the
// caller's rate and sample size.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "engine.h"
#include "mirlane.h"
#include "pcmwidth.h"
#include "resample.h"
#include "zefapi.h"

using namespace zef;

namespace {

// A voiced Orvo frame: voicing, pitch, energy and ten LSP codes.
const uint8_t kFrameCodes[14] = {12, 100, 40, 3, 7, 7, 7, 7, 7, 3, 3, 3, 3, 0};

struct Engine {
    ZefControlBlock cb{};
    uint32_t rc;
    explicit Engine(uint32_t outRate = 8000, uint16_t sampleSize = 2, uint16_t tag = kCodecTagOrvo,
                    uint16_t direction = kDirectionDecompress) {
        cb.dwGuard = kControlBlockGuard;
        cb.wCodecTag = tag;
        cb.wDirection = direction;
        cb.dwCodecRate = 8000;
        cb.dwOutputRate = outRate;
        cb.wOutputSampleSize = sampleSize;
        cb.fWarp = 1.0f;
        rc = BrewBlackArt(&cb);
    }
    ~Engine() {
        if (cb.wEngineReady) ExpelBlackArt(&cb);
    }
    // Decodes one frame into out; returns the engine's code.
    uint32_t decode(void* out, float warp = 1.0f) {
        std::memcpy(cb.bFieldCodes, kFrameCodes, sizeof kFrameCodes);
        cb.fWarp = warp;
        cb.lpOutput = static_cast<int16_t*>(out);
        return DecodeSpeech(&cb);
    }
    int filterEntry() const {
        auto* r = static_cast<const ReSampler*>(cb.lpResampler);
        return r && r->filter.entry ? int(r->filter.entry - IIRlist) : -1;
    }
};

void expectExpelled(ZefControlBlock& cb) {
    EXPECT_EQ(cb.wEngineReady, 0);
    EXPECT_EQ(cb.lpCodecState, nullptr);
    EXPECT_EQ(cb.lpResampler, nullptr);
    EXPECT_EQ(cb.lpWorkBuffer, nullptr);
    EXPECT_EQ(ExpelBlackArt(&cb), kEngineNotDecodable);
    int16_t out[8];
    cb.lpOutput = out;
    EXPECT_EQ(DecodeSpeech(&cb), kEngineNotDecodable);
}

// Which frames of a stream at warp w are decoded ('D') or dropped ('-').
std::string dropPattern(float w, int frames) {
    ZefControlBlock cb{};
    cb.fWarp = w;
    std::string s;
    for (int i = 0; i < frames; ++i) {
        cb.wOutputSamples = 180;
        bool decode = false;
        EXPECT_EQ(FrameDrop(&cb, &decode), 0u);
        EXPECT_EQ(cb.wFrameOutput, decode ? 1 : 0);
        EXPECT_EQ(cb.wOutputSamples, decode ? 180 : 0);
        s += decode ? 'D' : '-';
    }
    return s;
}

}  // namespace

TEST(FrameDrop, SpeedUpDecodesTheFirstFrameOfEachGroup) {
    EXPECT_EQ(dropPattern(0.5f, 8), "D-D-D-D-");
    EXPECT_EQ(dropPattern(0.3f, 9), "D--D--D--");
    EXPECT_EQ(dropPattern(0.25f, 8), "D---D---");
    for (float w : {0.9f, 1.0f, 2.5f, 5.0f}) EXPECT_EQ(dropPattern(w, 5), "DDDDD") << w;

    // The decoder shortens the decoded frame by the rest: 0.3 x 3 = 0.9.
    ZefControlBlock cb{};
    cb.fWarp = 0.3f;
    bool decode;
    FrameDrop(&cb, &decode);
    EXPECT_EQ(cb.wDropGroup, 3);
    EXPECT_NEAR(cb.fWarp * cb.wDropGroup, 0.9, 1e-6);
}

TEST(FrameDrop, ANewWarpTakesEffectAtTheNextGroup) {
    // A group once started runs out, and the next decoded frame's group is
    // computed from the warp in force then, so warp x group stays within 0.5..5.
    ZefControlBlock cb{};
    bool decode;
    cb.fWarp = 0.3f;
    FrameDrop(&cb, &decode);
    EXPECT_TRUE(decode);
    cb.fWarp = 2.0f;
    FrameDrop(&cb, &decode);
    EXPECT_FALSE(decode);
    FrameDrop(&cb, &decode);
    EXPECT_FALSE(decode);
    FrameDrop(&cb, &decode);
    EXPECT_TRUE(decode);
    EXPECT_EQ(cb.wDropGroup, 1);
}

TEST(FrameDrop, WarpOutOfRangeFailsAndADamagedGroupRestarts) {
    ZefControlBlock cb{};
    bool decode = true;
    cb.fWarp = 0.19f;
    EXPECT_EQ(FrameDrop(&cb, &decode), kEngineWarpTooSmall);
    EXPECT_FALSE(decode);
    cb.fWarp = 5.01f;
    EXPECT_EQ(FrameDrop(&cb, &decode), kEngineWarpTooBig);
    cb.fWarp = std::nanf("");
    EXPECT_EQ(FrameDrop(&cb, &decode), kEngineWarpTooSmall);
    cb.fWarp = 0.2f;
    EXPECT_EQ(FrameDrop(&cb, &decode), 0u);

    // A countdown that has gone below zero must not drop frames for ever.
    cb = ZefControlBlock{};
    cb.fWarp = 1.0f;
    cb.wDropActive = 1;
    cb.wDropGroup = 1;
    cb.wDropCountdown = -7;
    FrameDrop(&cb, &decode);
    EXPECT_TRUE(decode);
}

TEST(Engine, BrewingOrvoSetsTheFrameGeometry) {
    Engine e;
    ASSERT_EQ(e.rc, 0u);
    EXPECT_EQ(e.cb.wEngineReady, 1);
    EXPECT_NE(e.cb.lpCodecState, nullptr);
    EXPECT_EQ(e.cb.wFrameBits, 54);
    EXPECT_EQ(e.cb.wFieldCount, 14);
    EXPECT_EQ(e.cb.wLeadFields, 2);
    EXPECT_EQ(e.cb.wLeadFieldBits, 12);
    EXPECT_EQ(e.cb.wBitRate, 2400);
    EXPECT_EQ(e.cb.wFrameSamples, 180);
    EXPECT_EQ(e.cb.wResample, 0);
    EXPECT_EQ(e.cb.lpWorkBuffer, nullptr);  // 16-bit at the codec rate goes straight out
    EXPECT_EQ(EngineMaxOutputSamples(&e.cb), 900u);
    EXPECT_EQ(ExpelBlackArt(&e.cb), 0u);
    expectExpelled(e.cb);
}

TEST(Engine, OutputRatesPickTheConverter) {
    const struct { uint32_t rate; int resample; int entry; } cases[] = {
        {8000, 0, -1}, {8050, 0, -1}, {7950, 0, -1}, {0, 0, -1}, {8100, 1, 8}, {7900, 1, 8},
        {11025, 1, 6}, {ZEF_RATE_11127_FIXED, 1, 6}, {16000, 1, 4}, {22050, 1, 3},
        {ZEF_RATE_22254_FIXED, 1, 3}, {22254, 1, 3}, {32000, 1, 1}, {44100, 1, 0}};
    for (const auto& k : cases) {
        Engine e(k.rate);
        ASSERT_EQ(e.rc, 0u) << k.rate;
        EXPECT_EQ(e.cb.wResample, k.resample) << k.rate;
        EXPECT_EQ(e.filterEntry(), k.entry) << k.rate;
        EXPECT_EQ(e.cb.lpWorkBuffer != nullptr, k.resample == 1) << k.rate;
    }
    Engine none(0);
    EXPECT_EQ(none.cb.dwOutputRate, 8000u);  // none asked for: the codec's own rate

    Engine eight(8000, 1);
    EXPECT_GE(eight.cb.dwWorkSamples, 900u);

    Engine cd(44100);
    EXPECT_GE(EngineMaxOutputSamples(&cd.cb), 4962u);
    EXPECT_LE(EngineMaxOutputSamples(&cd.cb), cd.cb.dwWorkSamples);
}

TEST(Engine, FailedSetUpLeavesTheEngineExpelled) {
    const struct { uint16_t tag, direction; uint32_t rate, rc; } cases[] = {
        {0x9999, 2, 8000, kEngineTagNotHandled}, {0x1501, 2, 44100, kEngineTagNotHandled},
        {kCodecTagPeln, 2, 48000, kEngineNoResampler},
        {0x9999, 1, 8000, kEngineTagNotHandled}, {kCodecTagOrvo, 3, 8000, kEngineBadDirection},
        {kCodecTagOrvo, 0, 8000, kEngineBadDirection}, {kCodecTagOrvo, 2, 12000, kEngineNoResampler},
        {kCodecTagOrvo, 2, 24000, kEngineNoResampler}, {kCodecTagOrvo, 2, 48000, kEngineNoResampler},
        {kCodecTagOrvo, 2, 4000000000u, kEngineNoResampler}};
    for (const auto& k : cases) {
        SCOPED_TRACE(testing::Message() << "tag " << k.tag << " direction " << k.direction << " rate " << k.rate);
        Engine e(k.rate, 2, k.tag, k.direction);
        EXPECT_EQ(e.rc, k.rc);
        expectExpelled(e.cb);
    }
}

TEST(Engine, BrewingTwiceStartsAfreshAndExpellingTwiceIsRefused) {
    Engine e(44100, 1);
    ASSERT_EQ(e.rc, 0u);
    e.cb.dwOutputRate = 16000;
    ASSERT_EQ(BrewBlackArt(&e.cb), 0u);  // the first engine is released, not leaked
    EXPECT_EQ(e.filterEntry(), 4);
    EXPECT_EQ(ExpelBlackArt(&e.cb), 0u);
    EXPECT_EQ(ExpelBlackArt(&e.cb), kEngineNotDecodable);
}

TEST(Engine, SixteenBitFramesAtTheCodecRateFollowTheWarp) {
    Engine e;
    ASSERT_EQ(e.rc, 0u);
    std::vector<int16_t> out(1000, 0x5A5A);
    ASSERT_EQ(e.decode(out.data()), 0u);
    EXPECT_EQ(e.cb.wOutputSamples, 180);
    EXPECT_EQ(e.cb.wFrameOutput, 1);
    EXPECT_EQ(e.cb.lpOutput, out.data());
    EXPECT_EQ(out[180], 0x5A5A);

    // 0.5: every second frame dropped, the others at full length.
    for (int i = 0; i < 6; ++i) {
        ASSERT_EQ(e.decode(out.data(), 0.5f), 0u);
        EXPECT_EQ(e.cb.wOutputSamples, i % 2 ? 0 : 180) << i;
        EXPECT_EQ(e.cb.wFrameOutput, i % 2 ? 0 : 1) << i;
    }
    // 0.3: one frame in three, shortened to 0.9.
    for (int i = 0; i < 6; ++i) {
        ASSERT_EQ(e.decode(out.data(), 0.3f), 0u);
        EXPECT_EQ(e.cb.wOutputSamples, i % 3 ? 0 : 162) << i;
    }
    ASSERT_EQ(e.decode(out.data(), 2.0f), 0u);
    EXPECT_EQ(e.cb.wOutputSamples, 360);
}

TEST(Engine, EightBitOutputAt44100) {
    Engine e(44100, 1);
    ASSERT_EQ(e.rc, 0u);
    std::vector<uint8_t> out(6000);
    int total = 0, seen992 = 0, seen993 = 0, away = 0;
    for (int frame = 1; frame <= 8; ++frame) {
        std::fill(out.begin(), out.end(), uint8_t(0xEE));
        ASSERT_EQ(e.decode(out.data()), 0u);
        const int n = e.cb.wOutputSamples;
        ASSERT_TRUE(n == 992 || n == 993) << n;
        (n == 992 ? seen992 : seen993)++;
        total += n;
        EXPECT_EQ(out[size_t(n)], 0xEE);  // one byte per sample, nothing beyond
        for (int i = 0; i < n; ++i) away += out[size_t(i)] != 128;
        EXPECT_EQ(e.cb.lpOutput, reinterpret_cast<int16_t*>(out.data()));
    }
    EXPECT_EQ(seen992, 6);
    EXPECT_EQ(seen993, 2);
    EXPECT_EQ(total, 7938);  // 8 x 180 x 44100 / 8000
    EXPECT_GT(away, 1000);   // speech, not silence
}

TEST(Engine, TheLongestFrameFitsAt44100) {
    Engine e(44100);
    ASSERT_EQ(e.rc, 0u);
    const uint32_t room = EngineMaxOutputSamples(&e.cb);
    std::vector<int16_t> out(room + 1, 0x5A5A);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(e.decode(out.data(), 5.0f), 0u);
        EXPECT_GE(e.cb.wOutputSamples, 4961);
        EXPECT_LE(e.cb.wOutputSamples, 4962);
        EXPECT_EQ(out[room], 0x5A5A);
    }
}

TEST(Engine, EightBitAndSwappedOutputMatchTheSixteenBitSamples) {
    Engine plain, eight(8000, 1), swapped;
    swapped.cb.wSwapBytes = 1;
    for (int frame = 0; frame < 4; ++frame) {
        std::vector<int16_t> p(180), s(180);
        std::vector<uint8_t> b(180), want(180);
        ASSERT_EQ(plain.decode(p.data()), 0u);
        ASSERT_EQ(eight.decode(b.data()), 0u);
        ASSERT_EQ(swapped.decode(s.data()), 0u);
        pcm16to8(p.data(), want.data(), 180);
        EXPECT_EQ(b, want) << "frame " << frame;
        VecSwap2(s.data(), 180);
        EXPECT_EQ(s, p) << "frame " << frame;
    }
}

TEST(Engine, AFailedFrameLeavesTheEngineExpelled) {
    for (float warp : {0.19f, 5.01f}) {
        Engine e(22050, 1);
        std::vector<int16_t> out(3000);
        ASSERT_EQ(e.decode(out.data()), 0u);
        EXPECT_EQ(e.decode(out.data(), warp), warp < 1 ? kEngineWarpTooSmall : kEngineWarpTooBig);
        EXPECT_EQ(e.cb.lpOutput, out.data());
        expectExpelled(e.cb);
    }
    // A decoder's own code passes through unchanged, and expels as well.
    Engine e;
    e.cb.wSynthesizer = 7;
    std::vector<int16_t> out(200);
    EXPECT_EQ(e.decode(out.data()), 40004u);
    expectExpelled(e.cb);
}

TEST(Engine, FreeingTheSessionBlockExpelsABrewedEngine) {
    // The sanitizer run's leak checker sees the converter, the work buffer
    // and the decoder state if they are left behind.
    KELVANE_DATA kd{};
    kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
    ASSERT_EQ(NewZefControlBlock(&kd), 0);
    ZefControlBlock* cb = controlBlock(&kd);
    cb->wCodecTag = kCodecTagOrvo;
    cb->wDirection = kDirectionDecompress;
    cb->dwCodecRate = 8000;
    cb->dwOutputRate = 44100;
    cb->wOutputSampleSize = 1;
    ASSERT_EQ(BrewBlackArt(cb), 0u);
    EXPECT_EQ(FreeZefControlBlock(&kd), 0);
    EXPECT_EQ(kd.lpControlBlock, nullptr);
}
