// Zef headers: codec identifiers, chunked and compact headers, packet
// headers, the compatibility block.
#include <gtest/gtest.h>

#include "harness.h"

using namespace ct;
using namespace zef;

namespace {
constexpr uint32_t kRawZefBuffer = 0x20201;
constexpr uint32_t kPacket = 0x21101;
}  // namespace

TEST(ZefHeader, CodecIdentifiersMapBothWays) {
    const std::pair<const char*, uint16_t> rows[] = {{"ZEFa", 1284}, {"ZEFb", 5377}, {"ZEFe", 4609}, {"ZEFf", 5393}, {"ZEFg", 5409}};
    Session s(kRawZefBuffer);
    for (const auto& [name, codec] : rows) {
        const uint32_t id = fourccValue(reinterpret_cast<const uint8_t*>(name));
        ASSERT_EQ(GetZefHeaderFromCodecID(&s.kd, id), 0) << name;
        EXPECT_EQ(s.cb.wCodecTag, codec);
        EXPECT_EQ(s.cb.dwFlags, codec == 4609 ? 0u : 6u);
        uint32_t back = 0;
        ASSERT_EQ(GetCodecID(&s.kd, &back), 0);
        EXPECT_EQ(back, id);
    }
    for (uint32_t bad : {cc("ZEFc"), cc("ZEFd"), cc("WAVE")}) {
        EXPECT_EQ(GetZefHeaderFromCodecID(&s.kd, bad), 310);
        EXPECT_EQ(s.kd.dwSecondaryError, bad);
    }
    s.cb.wCodecTag = 777;
    uint32_t id = 0;
    EXPECT_EQ(GetCodecID(&s.kd, &id), 309);
    EXPECT_EQ(s.kd.dwSecondaryError, 777u);
}

TEST(ZefHeader, ChunkedAndCompactHeaders) {
    const Bytes frames{1, 2, 3, 4, 5, 6, 7};
    const Bytes plain = Bytes().add(zefBang()).chunk("ZEFd", frames);
    const Bytes extra = Bytes().add(zefBang()).chunk("ZEFi", {9, 9}).chunk("GUNT", {}).chunk("ZEFm", {1, 2, 3, 4})
                            .chunk("ZEFd", frames);
    for (const Bytes* b : {&plain, &extra}) {  // other chunks change nothing
        Session s(kRawZefBuffer);
        s.setInput(*b);
        ASSERT_EQ(CopyZefHeaderFromBuffer(&s.kd), 0);
        EXPECT_EQ(s.cb.wCodecTag, 1284);
        EXPECT_EQ(s.kd.dwFramesLeft, 10u);
        EXPECT_EQ(s.cb.fHeaderValues[0], 1.0f);  // value 1 is stored at offset 36, value 2 at 32
        EXPECT_EQ(s.cb.fHeaderValues[1], 2.0f);
        EXPECT_EQ(s.in.dwReadPos, b->size() - frames.size());
        EXPECT_EQ(s.in.dwMarkerChunkOffset, b == &plain ? b->size() : 48 + 10 + 8);  // "ZEFm", else after the frames
    }
    for (uint32_t size : {40u, 44u}) {
        Bytes b;
        b.id("ZEFh").le32(size).le16(5409).le16(180).le16(2).le16(0).le32(77).le32(0).le32(0).f32(2).f32(1).f32(3);
        if (size == 44) b.f32(9);
        Session s(kRawZefBuffer);
        s.setInput(b.zeros(5));
        ASSERT_EQ(CopyZefHeaderFromBuffer(&s.kd), 0);
        EXPECT_EQ(s.cb.wCodecTag, 5409);
        EXPECT_EQ(s.kd.dwFramesLeft, 77u);
        EXPECT_EQ(s.cb.dwCodecRate, 8000u);  // a rate of 0 would have the engine divide by it
        EXPECT_EQ(s.cb.fHeaderValues[3], size == 44 ? 9.0f : 1.0f);
        EXPECT_EQ(s.in.dwReadPos, size);
    }
}

TEST(ZefHeader, MalformedHeadersAreRefusedWithoutMovingOn) {
    Bytes bang44 = zefBang();
    bang44[4] = 44;
    const std::tuple<Bytes, uint16_t, uint32_t> cases[] = {
        {Bytes().id("ZEFh").le32(48).zeros(40), 205, cc("ZEFh")},
        {Bytes().add(bang44).zeros(4).chunk("ZEFd", {}), 206, 44},
        {Bytes().add(zefBang()).id("JUNK").le32(0xFFFFFFFF).chunk("ZEFd", {}), 307, 0},  // frames not in these bytes
        {Bytes{'Z', 'E', 'F'}, 307, 8},
    };
    for (const auto& [bytes, error, secondary] : cases) {
        Session s(kRawZefBuffer);
        s.setInput(bytes);
        EXPECT_EQ(CopyZefHeaderFromBuffer(&s.kd), error);
        if (secondary) {
            EXPECT_EQ(s.kd.dwSecondaryError, secondary);
        }
        EXPECT_EQ(s.in.dwReadPos, 0u);
    }
    const Bytes good = Bytes().add(zefBang()).chunk("ZEFi", {1, 2}).chunk("ZEFd", {});
    for (size_t n = 0; n < good.size(); ++n) {  // every cut: refused, nothing read past it
        Session s(kRawZefBuffer);
        s.setInput(Bytes(std::vector<uint8_t>(good.begin(), good.begin() + long(n))));
        EXPECT_NE(CopyZefHeaderFromBuffer(&s.kd), 0) << n;
    }
    Session s(0x10201);  // a compatibility block longer than what is left
    s.setInput(Bytes().zeros(1600));
    s.in.wSaw16ByteHeader = 1;
    s.in.wCompatLength = 1528;
    s.in.dwReadPos = 100;
    EXPECT_EQ(CopyZefHeaderFromBuffer(&s.kd), 307);
    EXPECT_EQ(s.in.dwReadPos, 100u);
}

TEST(ZefHeader, PacketHeader) {
    Session w(kPacket, kPacket);
    w.setOutput(24);
    w.cb.wCodecTag = 5409;
    w.cb.wFrameBits = 67;
    w.cb.wFrameSamples = 180;
    w.cb.wFixedBitRate = 1;
    ASSERT_EQ(WriteCompressedZefHeader(&w.kd), 0);
    const Bytes written = Bytes().be16(16).be16(67).be16(9).be16(0).id("zef!").le16(16).le16(5409).le32(7).le16(180).le16(0);
    ASSERT_EQ(w.written(), written);
    EXPECT_EQ(WriteCompressedZefHeader(&w.kd), 118);  // no room left
    EXPECT_EQ(w.kd.dwSecondaryError, 48u);

    const Bytes block(std::vector<uint8_t>(written.begin() + 8, written.end()));
    Bytes swapped = block, wrongMagic = block;
    swapped[4] = 0, swapped[5] = 16;  // reads 4096 little-endian
    wrongMagic[0] = 'Z';
    const std::tuple<Bytes, uint16_t> cases[] = {{written, 0}, {block, 0}, {swapped, 307}, {wrongMagic, 308}};
    for (const auto& [bytes, error] : cases) {  // with and without the 8-byte prefix
        Session r(kPacket);
        r.setInput(bytes);
        ASSERT_EQ(ReadCompressedZefHeader(&r.kd), error);
        EXPECT_EQ(r.in.dwReadPos, error ? 0 : bytes.size());
        if (!error) {
            EXPECT_EQ(r.cb.wCodecTag, 5409);
        }
    }
}

TEST(ZefHeader, CompatibilityBlock) {
    Session s(kRawZefBuffer, 0x20201);
    s.setOutput(1528 + 10);
    ASSERT_EQ(CopyZefHeaderToBuffer(&s.kd), 0);
    EXPECT_EQ(s.out.dwWritePos, 0u);  // not asked for
    s.kd.wCompatibilityHeader = 1;
    s.out.dwWritePos = 11;
    EXPECT_EQ(CopyZefHeaderToBuffer(&s.kd), 118);
    EXPECT_EQ(s.kd.dwSecondaryError, 11u + 1528u);
    s.out.dwWritePos = 0;
    ASSERT_EQ(CopyZefHeaderToBuffer(&s.kd), 0);
    s.setInput(Bytes(s.written()));
    ASSERT_EQ(CopyZefHeaderFromBuffer(&s.kd), 0);
    EXPECT_EQ(s.cb.wCodecTag, 1284);
    EXPECT_EQ(s.kd.dwFramesLeft, 218u);
    EXPECT_EQ(readLE16(kCompatBlock + 14), 630);
    EXPECT_EQ(s.cb.fHeaderValues[0], 192.6f);
    EXPECT_EQ(s.cb.fHeaderValues[1], 150.9f);
    EXPECT_EQ(s.cb.fHeaderValues[2], 266.7f);
    EXPECT_EQ(s.in.dwReadPos, 56u);

    // The frames: a voiced tone, pitch falling gently, faded at both ends,
    // least significant bit first with no alignment between frames.
    const int widths[14] = {4, 8, 6, 3, 4, 4, 4, 4, 4, 3, 3, 3, 3, 1};
    uint32_t bit = 56 * 8;
    auto take = [&](int w) {
        uint32_t v = 0;
        for (int i = 0; i < w; ++i, ++bit) v |= uint32_t((kCompatBlock[bit / 8] >> (bit % 8)) & 1) << i;
        return v;
    };
    uint32_t pitch = 255, peak = 0, energy[218];
    for (int f = 0; f < 218; ++f) {
        uint32_t code[14];
        for (int k = 0; k < 14; ++k) code[k] = take(widths[k]);
        EXPECT_GE(code[0], 12u);
        EXPECT_LE(code[1], pitch);
        pitch = code[1];
        energy[f] = code[2];
        peak = std::max(peak, code[2]);
        for (int k = 3; k < 13; ++k) EXPECT_TRUE(code[k] >= 2 && code[k] <= 9) << f << ' ' << k;
        EXPECT_EQ(code[13], 0u);
    }
    EXPECT_GT(pitch + 40, 176u);
    EXPECT_TRUE(peak >= 20 && peak <= 40);
    EXPECT_LT(energy[0], peak / 2);
    EXPECT_LT(energy[217], peak / 2);
    EXPECT_EQ(take(4), 0u);  // the last byte's unused bits
    EXPECT_EQ(bit, 1528u * 8);
}
