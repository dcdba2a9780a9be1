// Sample width and byte-order conversions of the engine's output.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "pcmwidth.h"

using namespace zef;

TEST(PcmWidth, SixteenToEightKeepsTheEdgesAndTheCentre) {
    const int16_t in[] = {-32768, -32767, -257, -256, -1, 0, 1, 255, 256, 32767};
    const uint8_t want[] = {0, 0, 126, 127, 127, 128, 128, 128, 129, 255};
    uint8_t out[10] = {};
    pcm16to8(in, out, 10);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(out[i], want[i]) << "sample " << in[i];
}

TEST(PcmWidth, SixteenToEightIsMonotonicOverTheWholeRange) {
    std::vector<int16_t> in;
    for (int s = -32768; s <= 32767; s += 7) in.push_back(int16_t(s));
    std::vector<uint8_t> out(in.size());
    pcm16to8(in.data(), out.data(), int32_t(in.size()));
    for (size_t i = 1; i < out.size(); ++i) ASSERT_LE(out[i - 1], out[i]);
}

TEST(PcmWidth, EightToSixteenWidensInPlaceAndRoundTrips) {
    // 256 byte values in the first half of a buffer of 256 samples.
    std::vector<int16_t> buf(256);
    auto* bytes = reinterpret_cast<uint8_t*>(buf.data());
    for (int b = 0; b < 256; ++b) bytes[b] = uint8_t(b);
    pcm8to16(bytes, buf.data(), 256);
    EXPECT_EQ(buf[128], 0);
    EXPECT_EQ(buf[0], -32768);
    EXPECT_EQ(buf[255], 32512);
    for (int b = 0; b < 256; ++b) ASSERT_EQ(buf[b], (b - 128) * 256) << b;

    std::vector<uint8_t> back(256);
    pcm16to8(buf.data(), back.data(), 256);
    for (int b = 0; b < 256; ++b) ASSERT_EQ(back[b], b);
}

TEST(PcmWidth, SwapExchangesTheBytesOfEachSampleOnly) {
    int16_t s[3] = {0x1234, int16_t(0xABCD), 0x00FF};
    VecSwap2(s, 2);
    EXPECT_EQ(uint16_t(s[0]), 0x3412);
    EXPECT_EQ(uint16_t(s[1]), 0xCDAB);
    EXPECT_EQ(s[2], 0x00FF);  // beyond the count
    VecSwap2(s, 0);
    VecSwap2(s, -5);
    EXPECT_EQ(uint16_t(s[0]), 0x3412);
}
