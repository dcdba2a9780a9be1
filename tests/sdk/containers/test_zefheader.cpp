// Zef headers: codec identifiers, chunked and compact headers, the 16-byte
// header, packet and playback headers, the compatibility block.
#include <gtest/gtest.h>

#include "harness.h"

using namespace ct;
using namespace zef;

namespace {
constexpr uint32_t kRawZefBuffer = 0x20201;
constexpr uint32_t kWaveZefBuffer = 0x10201;
}  // namespace

TEST(ZefHeader, CodecIdentifiersMapBothWays) {
    struct Row { const char* id; uint16_t codec; uint32_t flags; };
    const Row rows[] = {{"ZEFa", 1284, 6}, {"ZEFb", 5377, 6}, {"ZEFe", 4609, 0}, {"ZEFf", 5393, 6}, {"ZEFg", 5409, 6}};
    for (const Row& r : rows) {
        Session s(kRawZefBuffer);
        const uint32_t id = fourccValue(reinterpret_cast<const uint8_t*>(r.id));
        ASSERT_EQ(GetZefHeaderFromCodecID(&s.kd, id), 0) << r.id;
        EXPECT_EQ(s.cb.wCodecTag, r.codec);
        EXPECT_EQ(s.cb.dwFlags, r.flags);
        EXPECT_EQ(s.cb.dwCodecRate, 8000u);
        EXPECT_EQ(s.kd.dwCompressionSettings, id);
        uint32_t back = 0;
        ASSERT_EQ(GetCodecID(&s.kd, &back), 0);
        EXPECT_EQ(back, id);
    }
    Session s(kRawZefBuffer);
    for (uint32_t bad : {cc("ZEFc"), cc("ZEFd"), cc("WAVE")}) {
        EXPECT_EQ(GetZefHeaderFromCodecID(&s.kd, bad), 310);
        EXPECT_EQ(s.kd.dwSecondaryError, bad);
    }
    s.cb.wCodecTag = 777;
    uint32_t id = 0;
    EXPECT_EQ(GetCodecID(&s.kd, &id), 309);
    EXPECT_EQ(s.kd.dwSecondaryError, 777u);
}

TEST(ZefHeader, GuardWordsAreCheckedFirst) {
    Session s(kRawZefBuffer);
    s.setInput(Bytes().add(zefBang()).id("ZEFd").le32(0));
    s.setOutput(64);
    s.in.dwGuard = 1;
    EXPECT_EQ(CopyZefHeaderFromBuffer(&s.kd), 157);
    EXPECT_EQ(s.kd.dwSecondaryError, 1u);
    s.out.dwGuard = 2;
    EXPECT_EQ(WriteCompressedZefHeader(&s.kd), 156);
    s.cb.dwGuard = 3;
    EXPECT_EQ(ReadCompressedZefHeader(&s.kd), 155);
    EXPECT_EQ(s.kd.dwSecondaryError, 3u);
    EXPECT_EQ(s.out.dwWritePos, 0u);
}

TEST(ZefHeader, ChunkedHeaderSkipsOtherChunksAndStopsAtFrames) {
    const Bytes frames{1, 2, 3, 4, 5, 6, 7};
    const Bytes plain = Bytes().add(zefBang()).chunk("ZEFd", frames);
    const Bytes extra = Bytes().add(zefBang()).chunk("ZEFi", {9, 9}).chunk("GUNT", {}).chunk("ZEFm", {1, 2, 3, 4})
                            .chunk("ZEFd", frames);
    for (const Bytes* b : {&plain, &extra}) {
        Session s(kRawZefBuffer);
        s.setInput(*b);
        ASSERT_EQ(CopyZefHeaderFromBuffer(&s.kd), 0);
        EXPECT_EQ(s.cb.wCodecTag, 1284);
        EXPECT_EQ(s.cb.wFrameSamples, 180);
        EXPECT_EQ(s.cb.dwFlags, 6u);
        EXPECT_EQ(s.kd.dwFramesLeft, 10u);
        // Header value 1 is the one stored at offset 36, value 2 at 32.
        EXPECT_EQ(s.cb.fHeaderValues[0], 1.0f);
        EXPECT_EQ(s.cb.fHeaderValues[1], 2.0f);
        EXPECT_EQ(s.cb.fHeaderValues[3], 4.0f);
        EXPECT_EQ(s.in.dwReadPos, b->size() - frames.size());
        // Markers: where the "ZEFm" chunk is, else right after the frames.
        EXPECT_EQ(s.in.dwMarkerChunkOffset, b == &plain ? b->size() : 48 + 10 + 8);
    }
}

TEST(ZefHeader, MalformedRawHeadersAreRefusedWithoutMovingOn) {
    struct Case { Bytes bytes; uint16_t error; uint32_t secondary; };
    Bytes zefh44;
    zefh44.id("ZEFh").le32(48).zeros(40);
    Bytes bang44 = zefBang();
    bang44[4] = 44;
    const Case cases[] = {
        {zefh44, 205, cc("ZEFh")},
        {Bytes().add(bang44).zeros(4).chunk("ZEFd", {}), 206, 44},
        {Bytes().id("RIFF").le32(0), 205, cc("RIFF")},
        // A chunk claiming 4 GB: the frames are not in these bytes.
        {Bytes().add(zefBang()).id("JUNK").le32(0xFFFFFFFF).chunk("ZEFd", {}), 307, 0},
        {Bytes().add(zefBang()).chunk("ZEFi", {1}), 307, 0},
        {Bytes{'Z', 'E', 'F'}, 307, 8},
    };
    for (const Case& c : cases) {
        Session s(kRawZefBuffer);
        s.setInput(c.bytes);
        EXPECT_EQ(CopyZefHeaderFromBuffer(&s.kd), c.error);
        if (c.secondary) {
            EXPECT_EQ(s.kd.dwSecondaryError, c.secondary);
        }
        EXPECT_EQ(s.in.dwReadPos, 0u);
    }
    // Every cut of a good header fails cleanly (the input holds exactly the cut).
    const Bytes good = Bytes().add(zefBang()).chunk("ZEFi", {1, 2}).chunk("ZEFd", {});
    for (size_t n = 0; n < good.size(); ++n) {
        Session s(kRawZefBuffer);
        s.setInput({good.begin(), good.begin() + long(n)});
        EXPECT_NE(CopyZefHeaderFromBuffer(&s.kd), 0) << n;
    }
}

TEST(ZefHeader, CompactHeaderOfBothSizes) {
    for (uint32_t size : {40u, 44u}) {
        Bytes b;
        b.id("ZEFh").le32(size).le16(5409).le16(180).le16(2).le16(0).le32(77).le32(0).le32(0);
        b.f32(2).f32(1).f32(3);
        if (size == 44) b.f32(9);
        b.zeros(5);
        Session s(kRawZefBuffer);
        s.setInput(b);
        ASSERT_EQ(CopyZefHeaderFromBuffer(&s.kd), 0);
        EXPECT_EQ(s.cb.wCodecTag, 5409);
        EXPECT_EQ(s.kd.dwFramesLeft, 77u);
        EXPECT_EQ(s.cb.dwCodecRate, 8000u);  // a rate of 0 would make the engine divide by it
        EXPECT_EQ(s.cb.fHeaderValues[3], size == 44 ? 9.0f : 1.0f);
        EXPECT_EQ(s.in.dwReadPos, size);
    }
}

TEST(ZefHeader, SixteenByteHeaderWrittenAndRead) {
    for (int16_t compat : {0, 1}) {
        Session s(0x10201, 0x10201);
        s.kd.wCompatibilityHeader = compat;
        s.cb.wCodecTag = 5409;
        uint8_t buf[16];
        uint8_t* p = buf;
        ASSERT_EQ(ZEF12InsertHeader(&s.kd, &p), 0);
        EXPECT_EQ(p, buf + 16);
        const Bytes expected = Bytes().id("ZEF.").le32(8).le16(0).le16(compat ? 1528 : 0).id("ZEFg");
        EXPECT_EQ(Bytes(std::vector<uint8_t>(buf, buf + 16)), expected);
        s.cb.wCodecTag = 0;
        ASSERT_EQ(ZEF12ReadHeader(&s.kd, buf + 8, 8), 0);
        EXPECT_EQ(s.cb.wCodecTag, 5409);
        EXPECT_EQ(s.in.wSaw16ByteHeader, 1);
        EXPECT_EQ(s.in.wCompatLength, compat ? 1528 : 0);
    }
    Session pcm(0x10200, 0x10200);
    uint8_t buf[16] = {'Z', 'E', 'F', 'X', 8};
    uint8_t* p = buf;
    EXPECT_EQ(ZEF12InsertHeader(&pcm.kd, &p), 0);
    EXPECT_EQ(p, buf);  // PCM output has no Zef header
    EXPECT_EQ(ZEF12ReadHeader(&pcm.kd, buf + 8, 8), 114);
    Session s(kWaveZefBuffer);
    EXPECT_EQ(ZEF12ReadHeader(&s.kd, buf + 8, 8), 307);
    EXPECT_EQ(s.kd.dwSecondaryError, cc("ZEFX"));
}

TEST(ZefHeader, CompatibilityLengthIsSkippedOnlyWhenPresent) {
    Session s(kWaveZefBuffer);
    s.setInput(Bytes().zeros(1600));
    s.in.wSaw16ByteHeader = 1;
    s.in.wCompatLength = 1528;
    s.in.dwReadPos = 44;
    ASSERT_EQ(CopyZefHeaderFromBuffer(&s.kd), 0);
    EXPECT_EQ(s.in.dwReadPos, 44u + 1528u);
    s.in.dwReadPos = 100;  // only 1500 bytes left
    EXPECT_EQ(CopyZefHeaderFromBuffer(&s.kd), 307);
    EXPECT_EQ(s.in.dwReadPos, 100u);
}

TEST(ZefHeader, PacketHeaderRoundTripAndRefusals) {
    Session w(0x21101, 0x21101);
    w.setOutput(24);
    w.cb.wCodecTag = 5409;
    w.cb.wFrameBits = 67;
    w.cb.wFrameSamples = 180;
    w.cb.wFixedBitRate = 1;
    ASSERT_EQ(WriteCompressedZefHeader(&w.kd), 0);
    const Bytes expected = Bytes().be16(16).be16(67).be16(9).be16(0).id("zef!").le16(16).le16(5409).le32(7)
                               .le16(180).le16(0);
    ASSERT_EQ(w.written(), expected);
    EXPECT_EQ(WriteCompressedZefHeader(&w.kd), 118);  // full
    EXPECT_EQ(w.kd.dwSecondaryError, 48u);

    // Read with and without the 8-byte prefix in front of the block.
    const Bytes block(std::vector<uint8_t>(expected.begin() + 8, expected.end()));
    for (const Bytes* b : {&expected, &block}) {
        Session r(0x21101);
        r.setInput(Bytes().add(*b).zeros(9));
        ASSERT_EQ(ReadCompressedZefHeader(&r.kd), 0);
        EXPECT_EQ(r.cb.wCodecTag, 5409);
        EXPECT_EQ(r.cb.dwFlags, 7u);
        EXPECT_EQ(r.in.dwReadPos, b->size());
    }
    Bytes swapped = block;
    swapped[4] = 0, swapped[5] = 16;  // 4096 read little-endian
    Bytes wrongMagic = block;
    wrongMagic[0] = 'Z';
    for (auto [bytes, error] : {std::pair{swapped, 307}, std::pair{wrongMagic, 308}, std::pair{Bytes{'z'}, 307}}) {
        Session r(0x21101);
        r.setInput(bytes);
        EXPECT_EQ(ReadCompressedZefHeader(&r.kd), error);
        EXPECT_EQ(r.in.dwReadPos, 0u);
    }
}

TEST(ZefHeader, PlaybackHeaderIsBigEndian) {
    Session s(0x20201, 0x50200);
    s.setOutput(40);
    s.kd.dwFramesLeft = 300;
    s.cb.dwOutputRate = 11025;
    s.cb.wOutputSampleSize = 2;
    s.cb.wFrameSamples = 180;
    s.cb.fWarp = 1.0f;
    ASSERT_EQ(WritePlaybackHeader(&s.kd), 0);
    const Bytes expected = Bytes().id("ZEFp").be32(24).be16(1).be16(255).be32(300).be32(11025).be16(2).be16(180)
                               .be32(0x3F800000).be16(20).be16(0);
    EXPECT_EQ(s.written(), expected);
}

TEST(ZefHeader, GuisetteChunkWrittenAndRead) {
    uint8_t buf[10];
    uint8_t* p = buf;
    ASSERT_EQ(EmbedGuisetteChunk(&p, 601), 0);
    EXPECT_EQ(p, buf + 10);
    EXPECT_EQ(Bytes(std::vector<uint8_t>(buf, buf + 10)), Bytes().id("ZEfG").le32(2).le16(601));
    Session s(kWaveZefBuffer);
    ASSERT_EQ(ReadVoiceEffect(&s.kd, buf + 8, 2), 0);
    EXPECT_EQ(s.cb.wGuisette, 601);
    EXPECT_EQ(ReadVoiceEffect(&s.kd, buf + 8, 4), 607);
    EXPECT_EQ(s.kd.dwSecondaryError, 4u);
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
    ASSERT_EQ(s.written(), std::vector<uint8_t>(kCompatBlock, kCompatBlock + 1528));

    // It reads as a chunked header with the documented values.
    s.setInput(s.written());
    ASSERT_EQ(CopyZefHeaderFromBuffer(&s.kd), 0);
    EXPECT_EQ(s.cb.wCodecTag, 1284);
    EXPECT_EQ(s.kd.dwFramesLeft, 218u);
    EXPECT_EQ(readLE16(kCompatBlock + 14), 630);
    EXPECT_EQ(s.cb.fHeaderValues[0], 192.6f);
    EXPECT_EQ(s.cb.fHeaderValues[1], 150.9f);
    EXPECT_EQ(s.cb.fHeaderValues[2], 266.7f);
    EXPECT_EQ(s.in.dwReadPos, 56u);

    // The frames: a voiced tone, pitch falling gently, faded at both ends,
    // packed least significant bit first with no alignment between frames.
    const uint8_t widths[14] = {4, 8, 6, 3, 4, 4, 4, 4, 4, 3, 3, 3, 3, 1};
    uint32_t bit = 56 * 8;
    auto take = [&](int w) {
        uint32_t v = 0;
        for (int i = 0; i < w; ++i, ++bit) v |= uint32_t((kCompatBlock[bit / 8] >> (bit % 8)) & 1) << i;
        return v;
    };
    uint32_t lastPitch = 255, peak = 0, first = 0, last = 0;
    for (int f = 0; f < 218; ++f) {
        uint32_t code[14];
        for (int k = 0; k < 14; ++k) code[k] = take(widths[k]);
        EXPECT_GE(code[0], 12u);
        EXPECT_LE(code[1], lastPitch);
        lastPitch = code[1];
        peak = std::max(peak, code[2]);
        (f == 0 ? first : last) = code[2];
        for (int k = 3; k < 13; ++k) EXPECT_TRUE(code[k] >= 2 && code[k] <= 9) << f << ' ' << k;
        EXPECT_EQ(code[13], 0u);
    }
    EXPECT_GT(lastPitch + 40, 176u);  // gently: less than 40 codes in all
    EXPECT_TRUE(peak >= 20 && peak <= 40);
    EXPECT_LT(first, peak / 2);
    EXPECT_LT(last, peak / 2);
    EXPECT_EQ(take(4), 0u);  // the last byte's unused bits
    EXPECT_EQ(bit, 1528u * 8);
}
