// The Peln decoder behind the codec engine: set-up and teardown, the same
// blocks as the decoder alone, frame dropping and stretching, and output
// conversion that only ever sees the blocks that are kept.
#include <gtest/gtest.h>

#include "engine.h"
#include "peln_test_util.h"

using pelntest::Frame;
using namespace zef;

namespace {

struct Engine {
    ZefControlBlock cb{};
    uint32_t rc;
    explicit Engine(uint32_t outRate = 8000, uint16_t sampleSize = 2) {
        cb.dwGuard = kControlBlockGuard;
        cb.wCodecTag = kCodecTagPeln;
        cb.wDirection = kDirectionDecompress;
        cb.dwCodecRate = 8000;
        cb.dwOutputRate = outRate;
        cb.wOutputSampleSize = sampleSize;
        cb.fWarp = 1.0f;
        rc = BrewBlackArt(&cb);
    }
    ~Engine() {
        if (cb.wEngineReady) ExpelBlackArt(&cb);
    }
    // One DecodeSpeech call into out, with new codes only when the decoder
    // asks for them (as the session does); returns the engine's code.
    uint32_t decode(void* out, const Frame& f, float warp) {
        if (cb.wNeedFrame) pelntest::fieldCodes(f, cb.bFieldCodes);
        cb.fWarp = warp;
        cb.lpOutput = static_cast<int16_t*>(out);
        return DecodeSpeech(&cb);
    }
};

TEST(PelnEngine, BrewsWithTheFrameGeometryAndExpelsCleanly) {
    Engine e;
    ASSERT_EQ(e.rc, 0u);
    EXPECT_EQ(e.cb.wFrameBits, 67);
    EXPECT_EQ(e.cb.wFieldCount, 16);
    EXPECT_EQ(e.cb.wLeadFieldBits, 12);
    EXPECT_EQ(e.cb.wBitRate, 2978);
    EXPECT_EQ(e.cb.wFrameSamples, 180);
    EXPECT_EQ(e.cb.wNeedFrame, 1);
    EXPECT_NE(e.cb.lpCodecState, nullptr);
    EXPECT_EQ(ExpelBlackArt(&e.cb), 0u);
    EXPECT_EQ(e.cb.lpCodecState, nullptr);
    EXPECT_EQ(e.cb.lpFieldWidths, nullptr);
}

// Through the engine at full speed the blocks are the decoder's own; at
// half speed every second frame is dropped and the others are whole blocks.
TEST(PelnEngine, BlocksAreTheDecodersAndDroppedFramesGiveNone) {
    const std::vector<Frame> frames = pelntest::pseudoSpeech(24, 5);
    pelntest::Decoder direct;
    const std::vector<int16_t> expected = direct.decodeAll(frames);
    Engine e;
    std::vector<int16_t> out(180), got;
    for (const Frame& f : frames) {
        ASSERT_EQ(e.decode(out.data(), f, 1.0f), 0u);
        ASSERT_EQ(e.cb.wFrameOutput, 1);
        ASSERT_EQ(e.cb.wOutputSamples, 180);
        got.insert(got.end(), out.begin(), out.end());
    }
    EXPECT_EQ(got, expected);

    std::vector<Frame> kept;
    for (size_t i = 0; i < frames.size(); i += 2) kept.push_back(frames[i]);
    pelntest::Decoder everyOther;
    const std::vector<int16_t> halfExpected = everyOther.decodeAll(kept);
    Engine half;
    got.clear();
    for (size_t i = 0; i < frames.size(); ++i) {
        ASSERT_EQ(half.decode(out.data(), frames[i], 0.5f), 0u);
        EXPECT_EQ(half.cb.wOutputSamples, i % 2 ? 0 : 180) << i;
        if (half.cb.wFrameOutput) got.insert(got.end(), out.begin(), out.end());
    }
    EXPECT_EQ(got, halfExpected);
}

TEST(PelnEngine, StretchingAsksForAFrameEveryThirdCall) {
    Engine e;
    std::vector<int16_t> out(180);
    int blocks = 0;
    for (int i = 0; i < 30; ++i) {
        ASSERT_EQ(e.decode(out.data(), pelntest::voicedFrame(80), 2.5f), 0u);
        EXPECT_EQ(e.cb.wNeedFrame, i % 3 == 2 ? 1 : 0) << i;
        blocks += e.cb.wFrameOutput;
    }
    EXPECT_EQ(blocks, (171 + 29 * 150) / 180);
}

// Calls that finish no block leave the caller's buffer alone and feed the
// rate converter nothing: the converted stream is as long as the kept
// blocks at the output rate, and 8-bit output behaves the same.
TEST(PelnEngine, ConversionSeesOnlyKeptBlocks) {
    for (uint16_t size : {uint16_t(2), uint16_t(1)}) {
        Engine e(44100, size);
        ASSERT_EQ(e.rc, 0u);
        std::vector<int16_t> out(EngineMaxOutputSamples(&e.cb) + 8);
        size_t blocks = 0, samples = 0;
        for (int i = 0; i < 40; ++i) {
            std::fill(out.begin(), out.end(), int16_t(0x5a5a));
            ASSERT_EQ(e.decode(out.data(), pelntest::voicedFrame(80), 0.75f), 0u);
            if (!e.cb.wFrameOutput) {
                EXPECT_EQ(e.cb.wOutputSamples, 0) << i;
                EXPECT_EQ(out[0], int16_t(0x5a5a)) << i;
                continue;
            }
            ++blocks;
            samples += e.cb.wOutputSamples;
            EXPECT_TRUE(e.cb.wOutputSamples == 992 || e.cb.wOutputSamples == 993) << i;
        }
        EXPECT_EQ(blocks, (166 + 39 * 134) / 180u);
        EXPECT_NEAR(double(samples), blocks * 180 * 44100.0 / 8000.0, 1.0) << "sample size " << size;
    }
}

}  // namespace
