// The codec engine: set-up and teardown, failures that leave it expelled,
// frame dropping, and a decoded frame at the caller's rate and sample size.
#include <gtest/gtest.h>

#include <cstring>

#include "decoder.h"
#include "engine.h"
#include "mirlane.h"
#include "pcmwidth.h"
#include "resample.h"

using namespace zef;
using zeftest::Frame;

namespace {

const Frame kOrvoFrame{12, 100, 40, {3, 7, 7, 7, 7, 7, 3, 3, 3, 3}, {}};

struct Engine {
    ZefControlBlock cb{};
    uint32_t rc;
    explicit Engine(uint32_t outRate = 8000, uint16_t sampleSize = 2, uint16_t tag = kCodecTagOrvo,
                    uint16_t direction = kDirectionDecompress) {
        cb.dwGuard = kControlBlockGuard, cb.wCodecTag = tag, cb.wDirection = direction;
        cb.dwCodecRate = 8000, cb.dwOutputRate = outRate, cb.wOutputSampleSize = sampleSize, cb.fWarp = 1.0f;
        rc = BrewBlackArt(&cb);
    }
    ~Engine() { cb.wEngineReady && ExpelBlackArt(&cb); }
    // One DecodeSpeech call into out, new codes only when the decoder asks.
    uint32_t decode(void* out, float warp = 1.0f, const Frame& f = kOrvoFrame) {
        if (cb.wNeedFrame) (cb.wCodecTag == kCodecTagPeln ? zeftest::Peln::codes : zeftest::Orvo::codes)(f, cb.bFieldCodes);
        cb.fWarp = warp, cb.lpOutput = static_cast<int16_t*>(out);
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
    EXPECT_EQ(EngineMaxOutputSamples(&cb), 0u);  // nothing to size a buffer for
    EXPECT_EQ(ExpelBlackArt(&cb), kEngineNotDecodable);
    int16_t out[8];
    cb.lpOutput = out;
    EXPECT_EQ(DecodeSpeech(&cb), kEngineNotDecodable);
}

// Which frames at warp w are decoded ('D') or dropped ('-').
std::string dropPattern(ZefControlBlock& cb, float w, int frames) {
    cb.fWarp = w;
    std::string s;
    for (int i = 0; i < frames; ++i) {
        bool decode = false;
        cb.wOutputSamples = 180;
        EXPECT_EQ(FrameDrop(&cb, &decode), 0u);
        EXPECT_EQ(cb.wFrameOutput, decode ? 1 : 0);
        EXPECT_EQ(cb.wOutputSamples, decode ? 180 : 0);
        s += decode ? 'D' : '-';
    }
    return s;
}

}  // namespace

TEST(FrameDrop, DecodesTheFirstFrameOfEachGroupAndANewWarpWaitsForTheNextGroup) {
    const struct { float warp; int frames; const char* pattern; } cases[] = {
        {0.5f, 8, "D-D-D-D-"}, {0.3f, 9, "D--D--D--"}, {0.25f, 8, "D---D---"}, {0.9f, 5, "DDDDD"}, {5.0f, 5, "DDDDD"}};
    for (const auto& c : cases) {
        ZefControlBlock cb{};
        EXPECT_EQ(dropPattern(cb, c.warp, c.frames), c.pattern) << c.warp;
    }
    ZefControlBlock cb{};
    EXPECT_EQ(dropPattern(cb, 0.3f, 1), "D");
    EXPECT_EQ(dropPattern(cb, 2.0f, 4), "--DD");  // the group of three runs out first
    EXPECT_EQ(cb.wDropGroup, 1);

    bool decode = true;
    for (float bad : {0.19f, NAN}) {
        cb.fWarp = bad;
        EXPECT_EQ(FrameDrop(&cb, &decode), kEngineWarpTooSmall) << bad;
        EXPECT_FALSE(decode);
    }
    cb.fWarp = 5.01f;
    EXPECT_EQ(FrameDrop(&cb, &decode), kEngineWarpTooBig);
    // A countdown that has gone below zero must not drop frames for ever.
    cb = ZefControlBlock{};
    cb.fWarp = 1.0f, cb.wDropActive = 1, cb.wDropGroup = 1, cb.wDropCountdown = -7;
    FrameDrop(&cb, &decode);
    EXPECT_TRUE(decode);
}

TEST(Engine, BrewsEachCodecWithItsFrameAndExpelsCleanly) {
    const struct { uint16_t tag; int frameBits, bitRate; } cases[] = {{kCodecTagOrvo, 54, 2400}, {kCodecTagPeln, 67, 2978}};
    for (const auto& c : cases) {
        Engine e(8000, 2, c.tag);
        ASSERT_EQ(e.rc, 0u);
        EXPECT_EQ(e.cb.wFrameBits + e.cb.wBitRate, c.frameBits + c.bitRate);
        EXPECT_EQ(e.cb.wLeadFieldBits, 12);  // voicing and pitch
        EXPECT_EQ(e.cb.lpWorkBuffer, nullptr);  // 16-bit at the codec rate goes straight out
        EXPECT_EQ(EngineMaxOutputSamples(&e.cb), 900u);
        EXPECT_EQ(EncodeSpeech(&e.cb), kEngineNotDecodable);  // a decoding engine encodes nothing
        EXPECT_EQ(ExpelBlackArt(&e.cb), 0u);
        expectExpelled(e.cb);
    }
}

TEST(Engine, OutputRatesPickTheConverterAndTheBufferHoldsFiveFrames) {
    const struct { uint32_t rate; int entry; uint32_t perFrame; } cases[] = {
        {8000, -1, 180}, {8050, -1, 180}, {0, -1, 180}, {8100, 8, 183}, {7900, 8, 178},
        {11025, 6, 249}, {ZEF_RATE_11127_FIXED, 6, 251}, {16000, 4, 360}, {22050, 3, 497},
        {ZEF_RATE_22254_FIXED, 3, 501}, {32000, 1, 720}, {44100, 0, 993}};
    for (const auto& k : cases) {
        SCOPED_TRACE(k.rate);
        Engine e(k.rate, 1);  // 8-bit: always through the work buffer
        ASSERT_EQ(e.rc, 0u);
        EXPECT_EQ(e.filterEntry(), k.entry);
        EXPECT_EQ(e.cb.wResample, k.entry >= 0 ? 1 : 0);
        // Five of the longest frames the converter can hand out at this rate.
        EXPECT_GE(e.cb.dwWorkSamples, 5 * k.perFrame);
        EXPECT_GE(e.cb.dwWorkSamples, EngineMaxOutputSamples(&e.cb));
    }
}

TEST(Engine, FailedSetUpLeavesTheEngineExpelled) {
    const struct { uint16_t tag, direction; uint32_t rate, rc; } cases[] = {
        {0x9999, 2, 8000, kEngineTagNotHandled}, {0x1501, 2, 44100, kEngineTagNotHandled},
        {kCodecTagPeln, 2, 48000, kEngineNoResampler}, {0x9999, 1, 8000, kEngineTagNotHandled},
        {kCodecTagOrvo, 3, 8000, kEngineBadDirection}, {kCodecTagOrvo, 0, 8000, kEngineBadDirection},
        {kCodecTagOrvo, 2, 4000000000u, kEngineNoResampler}};
    for (const auto& k : cases) {
        Engine e(k.rate, 2, k.tag, k.direction);
        EXPECT_EQ(e.rc, k.rc) << "tag " << k.tag << " direction " << k.direction << " rate " << k.rate;
        expectExpelled(e.cb);
    }
    Engine twice(44100, 1);
    twice.cb.dwOutputRate = 16000;
    ASSERT_EQ(BrewBlackArt(&twice.cb), 0u);  // the first engine is released, not leaked
    EXPECT_EQ(twice.filterEntry(), 4);
}

TEST(Engine, EightBitAndSwappedOutputAreTheSixteenBitSamples) {
    Engine plain, eight(8000, 1), swapped;
    swapped.cb.wSwapBytes = 1;
    for (int frame = 0; frame < 4; ++frame) {
        std::vector<int16_t> p(180), s(180);
        std::vector<uint8_t> b(181, 0xEE), want(180);
        ASSERT_EQ(plain.decode(p.data()) + eight.decode(b.data()) + swapped.decode(s.data()), 0u);
        pcm16to8(p.data(), want.data(), 180);
        EXPECT_EQ(b[180], 0xEE);  // one byte per sample, nothing beyond
        b.pop_back();
        EXPECT_EQ(b, want) << "frame " << frame;
        VecSwap2(s.data(), 180);
        EXPECT_EQ(s, p) << "frame " << frame;
    }
}

// At 44100 a frame gives 992 or 993 samples, the longest (warp 5) fits what
// the engine says it may write, and both sample sizes convert alike.
TEST(Engine, ConvertedFramesAt44100) {
    for (uint16_t size : {uint16_t(2), uint16_t(1)}) {
        Engine e(44100, size);
        ASSERT_EQ(e.rc, 0u);
        const uint32_t room = EngineMaxOutputSamples(&e.cb);
        std::vector<int16_t> out(room + 1, 0x5A5A);
        int total = 0;
        for (int frame = 1; frame <= 8; ++frame) {
            ASSERT_EQ(e.decode(out.data()), 0u);
            ASSERT_TRUE(e.cb.wOutputSamples == 992 || e.cb.wOutputSamples == 993) << e.cb.wOutputSamples;
            total += e.cb.wOutputSamples;
        }
        EXPECT_EQ(total, 7938);  // 8 x 180 x 44100 / 8000
        ASSERT_EQ(e.decode(out.data(), 5.0f), 0u);
        EXPECT_GE(e.cb.wOutputSamples, 4961);
        EXPECT_LE(e.cb.wOutputSamples, 4962);
        EXPECT_EQ(out[room], 0x5A5A);
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
    Engine e;
    e.cb.wSynthesizer = 7;  // a decoder's own code passes through, and expels as well
    std::vector<int16_t> out(200);
    EXPECT_EQ(e.decode(out.data()), 40004u);
    expectExpelled(e.cb);
}

// Peln through the engine: whole blocks of the decoder's own, none for a
// dropped frame or a call that finished no block, and the rate converter
// fed only the kept blocks.
TEST(PelnEngine, BlocksAreTheDecodersAndConversionSeesOnlyKeptOnes) {
    const std::vector<Frame> frames = zeftest::pseudoSpeech<zeftest::Peln>(24, 5);
    std::vector<Frame> kept;
    for (size_t i = 0; i < frames.size(); i += 2) kept.push_back(frames[i]);
    zeftest::Decoder<zeftest::Peln> direct;
    const zeftest::Samples expected = direct.decodeAll(kept);
    Engine half(8000, 2, kCodecTagPeln);
    std::vector<int16_t> out(180), got;
    for (size_t i = 0; i < frames.size(); ++i) {
        ASSERT_EQ(half.decode(out.data(), 0.5f, frames[i]), 0u);
        EXPECT_EQ(half.cb.wOutputSamples, i % 2 ? 0 : 180) << i;
        if (half.cb.wFrameOutput) got.insert(got.end(), out.begin(), out.end());
    }
    EXPECT_EQ(got, expected);

    for (uint16_t size : {uint16_t(2), uint16_t(1)}) {
        Engine e(44100, size, kCodecTagPeln);
        ASSERT_EQ(e.rc, 0u);
        std::vector<int16_t> buf(EngineMaxOutputSamples(&e.cb) + 8);
        size_t blocks = 0, samples = 0;
        for (int i = 0; i < 40; ++i) {
            std::fill(buf.begin(), buf.end(), int16_t(0x5a5a));
            ASSERT_EQ(e.decode(buf.data(), 0.75f, zeftest::voiced<zeftest::Peln>(80)), 0u);
            if (!e.cb.wFrameOutput) {
                EXPECT_EQ(e.cb.wOutputSamples, 0) << i;
                EXPECT_EQ(buf[0], int16_t(0x5a5a)) << i;
                continue;
            }
            ++blocks;
            samples += e.cb.wOutputSamples;
        }
        EXPECT_EQ(blocks, (166 + 39 * 134) / 180u);
        EXPECT_NEAR(double(samples), blocks * 180 * 44100.0 / 8000.0, 1.0) << "sample size " << size;
    }
}
