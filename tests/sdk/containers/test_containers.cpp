// Containers: Zef headers (chunked, compact, packet, the 16-byte block and
// the compatibility block), RIFF/WAVE, AIFF, markers, INFO texts and the
// ParseHeader dispatcher.  White-box: a session is built by hand.
#include <gtest/gtest.h>

#include <tuple>

#include "harness.h"

using namespace ct;
using namespace zef;

namespace {
constexpr uint32_t kRawZefBuffer = 0x20201, kWaveZefBuffer = 0x10201, kPacket = 0x21101;
Bytes compat() { return Bytes(kCompatBlock, kCompatBlock + kCompatBlockSize); }
uint16_t parseAll(Session& s, const Bytes& bytes) {
    s.setInput(bytes);
    return ParseHeader(&s.kd, &s.in);
}
}  // namespace

// ---- Zef headers ------------------------------------------------------------

TEST(ZefHeader, CodecIdentifiersMapBothWays) {
    const std::pair<const char*, uint16_t> rows[] = {{"ZEFa", 1284}, {"ZEFb", 5377}, {"ZEFe", 4609}, {"ZEFf", 5393}, {"ZEFg", 5409}};
    Session s(kRawZefBuffer);
    for (const auto& [name, codec] : rows) {
        const uint32_t id = fourccValue(reinterpret_cast<const uint8_t*>(name));
        ASSERT_EQ(GetZefHeaderFromCodecID(&s.kd, id), 0) << name;
        EXPECT_EQ(s.cb.wCodecTag, codec);
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
}

TEST(ZefHeader, ChunkedAndCompactHeaders) {
    const Bytes frames{1, 2, 3, 4, 5, 6, 7};
    const Bytes plain = W().add(zefBang()).chunk("ZEFd", frames);
    const Bytes extra = W().add(zefBang()).chunk("ZEFi", {9, 9}).chunk("GUNT", {}).chunk("ZEFm", {1, 2, 3, 4}).chunk("ZEFd", frames);
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
        W b;
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
        {W().id("ZEFh").le32(48).zeros(40), 205, cc("ZEFh")},
        {W().add(bang44).zeros(4).chunk("ZEFd", {}), 206, 44},
        {W().add(zefBang()).id("JUNK").le32(0xFFFFFFFF).chunk("ZEFd", {}), 307, 0},  // frames not in these bytes
        {Bytes{'Z', 'E', 'F'}, 307, 8},
    };
    for (const auto& [bytes, error, secondary] : cases) {
        Session s(kRawZefBuffer);
        s.setInput(bytes);
        EXPECT_EQ(CopyZefHeaderFromBuffer(&s.kd), error);
        if (secondary) { EXPECT_EQ(s.kd.dwSecondaryError, secondary); }
        EXPECT_EQ(s.in.dwReadPos, 0u);
    }
    const Bytes good = W().add(zefBang()).chunk("ZEFi", {1, 2}).chunk("ZEFd", {});
    for (size_t n = 0; n < good.size(); ++n) {  // every cut: refused, nothing read past it
        Session s(kRawZefBuffer);
        s.setInput(cut(good, n));
        EXPECT_NE(CopyZefHeaderFromBuffer(&s.kd), 0) << n;
    }
    Session s(kWaveZefBuffer);  // a compatibility block longer than what is left
    s.setInput(Bytes(1600));
    s.in.wSaw16ByteHeader = 1;
    s.in.wCompatLength = 1528;
    s.in.dwReadPos = 100;
    EXPECT_EQ(CopyZefHeaderFromBuffer(&s.kd), 307);
    EXPECT_EQ(s.in.dwReadPos, 100u);
}

// The 16-byte block's reader and writer refuse damaged records before they
// touch anything: a session whose records are not what they claim is not
// written into or described.
TEST(ZefHeader, SixteenByteBlockChecksTheRecordsFirst) {
    Session w(0x20200, kWaveZefBuffer);
    w.cb.wCodecTag = 1284;
    w.out.dwGuard = 0x5151;
    Bytes block(16, 0xEE);
    uint8_t* cursor = block.data();
    EXPECT_EQ(ZEF12InsertHeader(&w.kd, &cursor), ZEFERR_INVALID_OUTPUT_VARS);
    EXPECT_EQ(cursor, block.data());
    EXPECT_EQ(block, Bytes(16, 0xEE));
    w.out.dwGuard = kOutputGuard;
    w.kd.wCompatibilityHeader = 1;
    ASSERT_EQ(ZEF12InsertHeader(&w.kd, &cursor), 0);
    EXPECT_EQ(block, Bytes(W().id("ZEF.").le32(8).le16(0).le16(1528).id("ZEFa")));

    Session r(kWaveZefBuffer);
    r.in.dwGuard = 0x6161;
    EXPECT_EQ(ZEF12ReadHeader(&r.kd, block.data() + 8, 8), ZEFERR_INVALID_INPUT_VARS);
    EXPECT_EQ(r.cb.wCodecTag, 0);
    EXPECT_EQ(r.in.wSaw16ByteHeader, 0);
    r.in.dwGuard = kInputGuard;
    ASSERT_EQ(ZEF12ReadHeader(&r.kd, block.data() + 8, 8), 0);
    EXPECT_EQ(r.cb.wCodecTag, 1284);
    EXPECT_EQ(r.in.wCompatLength, 1528);
}

TEST(ZefHeader, PacketHeader) {
    Session w(kPacket, kPacket);
    w.setOutput(24);
    w.cb.wCodecTag = 5409;
    w.cb.wFrameBits = 67;
    w.cb.wFrameSamples = 180;
    w.cb.wFixedBitRate = 1;
    ASSERT_EQ(WriteCompressedZefHeader(&w.kd), 0);
    const Bytes written = W().be16(16).be16(67).be16(9).be16(0).id("zef!").le16(16).le16(5409).le32(7).le16(180).le16(0);
    ASSERT_EQ(w.written(), written);
    EXPECT_EQ(WriteCompressedZefHeader(&w.kd), 118);  // no room left
    EXPECT_EQ(w.kd.dwSecondaryError, 48u);
    const Bytes block(written.begin() + 8, written.end());
    Bytes swapped = block, wrongMagic = block;
    swapped[4] = 0, swapped[5] = 16;  // reads 4096 little-endian
    wrongMagic[0] = 'Z';
    const std::tuple<Bytes, uint16_t> cases[] = {{written, 0}, {block, 0}, {swapped, 307}, {wrongMagic, 308}};
    for (const auto& [bytes, error] : cases) {  // with and without the 8-byte prefix
        Session r(kPacket);
        r.setInput(bytes);
        ASSERT_EQ(ReadCompressedZefHeader(&r.kd), error);
        EXPECT_EQ(r.in.dwReadPos, error ? 0 : bytes.size());
        if (!error) { EXPECT_EQ(r.cb.wCodecTag, 5409); }
    }
}

TEST(ZefHeader, CompatibilityBlockIsWrittenOnRequestAndReadsAsAStream) {
    Session s(kRawZefBuffer, kRawZefBuffer);
    s.setOutput(1528 + 10);
    ASSERT_EQ(CopyZefHeaderToBuffer(&s.kd), 0);
    EXPECT_EQ(s.out.dwWritePos, 0u);  // not asked for
    s.kd.wCompatibilityHeader = 1;
    s.out.dwWritePos = 11;
    EXPECT_EQ(CopyZefHeaderToBuffer(&s.kd), 118);
    EXPECT_EQ(s.kd.dwSecondaryError, 11u + 1528u);
    s.out.dwWritePos = 0;
    ASSERT_EQ(CopyZefHeaderToBuffer(&s.kd), 0);
    s.setInput(s.written());
    ASSERT_EQ(CopyZefHeaderFromBuffer(&s.kd), 0);
    EXPECT_EQ(s.cb.wCodecTag, 1284);
    EXPECT_EQ(s.kd.dwFramesLeft, 218u);
    EXPECT_EQ(s.cb.fHeaderValues[0], 192.6f);
    EXPECT_EQ(s.in.dwReadPos, 56u);
}

// ---- RIFF/WAVE ----------------------------------------------------------------

namespace {
uint16_t parseRiff(Session& s, const Bytes& file, StreamDesc* d) {
    s.setInput(file);
    return ParseRIFFHeader(&s.kd, s.input.data(), uint32_t(s.input.size()), d);
}
Bytes wave(const Bytes& fmt, std::initializer_list<std::pair<const char*, Bytes>> chunks, bool pad = false) {
    W body;
    body.id("WAVE").chunk("fmt ", fmt);
    for (const auto& [name, contents] : chunks) body.chunk(name, contents, pad);
    return W().chunk("RIFF", body);
}
Bytes pcmFormat(uint16_t channels = 1, uint16_t bits = 16) {
    return W().le16(1).le16(channels).le32(8000).le32(16000).le16(2).le16(bits);
}
}  // namespace

TEST(Riff, RefusesWhatIsNoWave) {
    const std::tuple<Bytes, uint16_t, uint32_t> cases[] = {
        {W().id("RIFX").le32(4).id("WAVE"), 303, cc("RIFX")},
        {W().id("RIFF").le32(4).id("AVI "), 204, cc("AVI ")},
        {wave(Bytes(14), {{"data", {}}}), 203, 14},
        {W().id("RIFF").le32(12).id("WAVE").chunk("data", {1, 2}).chunk("fmt ", pcmFormat()), 203, 0},
        {wave(pcmFormat(), {{"LIST", {}}}), 305, 0},  // no "data"
        {W().add(wave(pcmFormat(), {})).id("JUNK").le32(0xFFFFFFFF).chunk("data", {}), 305, 0},
        {wave(pcmFormat(0, 16), {{"data", {}}}), 305, cc("fmt ")},
        {wave(pcmFormat(1, 0), {{"data", {}}}), 305, cc("fmt ")},
    };
    for (const auto& [file, error, secondary] : cases) {
        Session s(0x10200);
        StreamDesc d;
        EXPECT_EQ(parseRiff(s, file, &d), error);
        if (secondary) { EXPECT_EQ(s.kd.dwSecondaryError, secondary); }
    }
}

TEST(Riff, PcmDescription) {
    const Bytes data(10);
    W repeated;
    repeated.id("WAVE").chunk("fmt ", pcmFormat()).chunk("fmt ", pcmFormat(2, 8)).chunk("data", data);
    const std::tuple<Bytes, uint32_t, size_t> cases[] = {
        {wave(pcmFormat(), {{"data", data}}), 5, 10},  // no "fact": length / 2
        {wave(pcmFormat(), {{"fact", W().le32(3)}, {"data", data}}), 3, 10},
        {wave(pcmFormat(), {{"JUNK", {7}}, {"data", data}}, true), 5, 10},   // odd chunk, padded
        {wave(pcmFormat(), {{"JUNK", {7}}, {"data", data}}, false), 5, 10},  // odd chunk, not padded
        {W().chunk("RIFF", repeated), 5, 10},                                // the first "fmt " counts
        {wave(pcmFormat(), {{"data", {}}}), 0, 0},                           // an empty "data" ends the file
    };
    for (const auto& [file, samples, length] : cases) {
        Session s(0x10200);
        StreamDesc d;
        ASSERT_EQ(parseRiff(s, file, &d), 0);
        EXPECT_EQ(d.wChannels, 1);
        EXPECT_EQ(d.dwDataOffset, file.size() - length);
        EXPECT_EQ(d.dwSampleCount, samples);
    }
}

TEST(Riff, ZefFormatExtension) {
    for (int guisette : {-1, 601}) {
        Session s(kWaveZefBuffer);
        StreamDesc d;
        ASSERT_EQ(parseRiff(s, zefWave(Bytes(1528 + 54), "ZEFg", 1528, guisette), &d), 0);
        EXPECT_EQ(s.cb.wCodecTag, 5409);
        EXPECT_EQ(s.in.wCompatLength, 1528);
        EXPECT_EQ(s.cb.wGuisette, guisette < 0 ? 0 : 601);
        EXPECT_EQ(s.kd.dwFramesLeft, 54u * 8 / 67);  // the frames after the block, Peln-sized
    }
    W fmt;  // a sub-chunk nobody knows is stepped over; a Guisette chunk of 4 bytes is refused
    fmt.le16(98).le16(1).le32(8000).le32(300).le16(2).le16(16).le16(28);
    fmt.id("ZEF.").le32(8).le16(0).le16(0).id("ZEFa").id("JUNK").le32(4).le32(5);
    Session s(kWaveZefBuffer);
    StreamDesc d;
    EXPECT_EQ(parseRiff(s, wave(fmt, {{"data", {}}}), &d), 0);
    EXPECT_EQ(s.cb.wCodecTag, 1284);
    std::memcpy(&fmt[34], "ZEfG", 4);
    EXPECT_EQ(parseRiff(s, wave(fmt, {{"data", {}}}), &d), 607);
    EXPECT_EQ(s.kd.dwSecondaryError, 4u);
    EXPECT_EQ(parseRiff(s, zefWave({}, "ZEFc"), &d), 310);
    const Bytes good = zefWave({1, 2, 3}, "ZEFa", 0, 7);
    for (size_t n = 0; n + 3 < good.size(); ++n) {  // every cut: refused, nothing read past it
        Session t(kWaveZefBuffer);
        EXPECT_NE(parseRiff(t, cut(good, n), &d), 0) << n;
    }
}

TEST(Riff, ZefHeaderBytes) {
    KELVANE_INFO_CHUNK info[3] = {{3, 5, "Hello"}, {}, {cc("IART"), 4, "abcd"}};
    for (int variant = 0; variant < 3; ++variant) {  // plain, with a Guisette, with INFO texts
        SCOPED_TRACE(variant);
        Session s(0x20100, kWaveZefBuffer);
        s.setOutput(200);
        s.in.desc.wChannels = 1;
        s.in.desc.wBlockAlign = 2;
        s.in.desc.dwSamplingRate = 8000;
        s.in.desc.fDuration = 2.25f;
        s.cb.wCodecTag = 1284;
        s.cb.dwOutputRate = s.cb.dwCodecRate = 8000;
        s.cb.wBitRate = 2400;
        s.cb.wFrameSamples = 180;
        s.cb.dwFramesProcessed = 100;  // 2.25 s: 900 bytes make 400 bytes a second
        s.cb.dwInputSamplesProcessed = 18000;
        s.cb.wGuisette = variant == 1 ? 601 : 0;
        if (variant == 2) s.kd.lpInfoChunks = info, s.kd.wInfoChunks = 3;
        W fmt;
        fmt.le16(98).le16(1).le32(8000).le32(400).le16(2).le16(16).le16(variant == 1 ? 26 : 16);
        fmt.id("ZEF.").le32(8).le16(0).le16(0).id("ZEFa");
        if (variant == 1) fmt.id("ZEfG").le32(2).le16(601);
        W body;
        body.id("WAVE").chunk("fmt ", fmt).chunk("fact", W().le32(18000));
        if (variant == 2) body.chunk("LIST", W().id("INFO").chunk("INAM", text(std::string("Hello") + '\0')).chunk("IART", text("abcd")));
        const uint32_t total = uint32_t(body.size() + 16 + 900);
        ASSERT_EQ(WriteRIFFHeader(&s.kd, total, 900), 0);
        EXPECT_EQ(s.written(), Bytes(W().id("RIFF").le32(total - 8).add(body).id("data").le32(900)));
    }
}

// ---- AIFF ---------------------------------------------------------------------

namespace {
uint16_t parseAiff(Session& s, const Bytes& file, StreamDesc* d) {
    s.setInput(file);
    return ParseAIFFHeader(&s.kd, s.input.data(), uint32_t(file.size()), d);
}
}  // namespace

TEST(Aiff, WrittenHeaderReadsBack) {
    Session w(0x20201, 0x30200);
    w.setOutput(86);
    w.in.desc.wChannels = 1;
    w.cb.wOutputSampleSize = 2;
    w.cb.dwOutputRate = 11025;
    ASSERT_EQ(WriteAiffHeader(&w.kd, 86 + 1000), 0);
    Session r(0x30200);
    StreamDesc d;
    ASSERT_EQ(parseAiff(r, w.written(), &d), 0);
    EXPECT_EQ(d.wFormatTag, 714);
    EXPECT_EQ(d.dwSamplingRate, 11025u);
    EXPECT_EQ(d.dwDataOffset, 86u);
    EXPECT_EQ(d.dwDataLength, 1000u);
    EXPECT_EQ(d.dwSampleCount, 500u);
}

// ---- ParseHeader ------------------------------------------------------------------

TEST(ParseHeader, ZefWave) {
    for (auto [codec, frameBytes, frames] : {std::tuple{"ZEFa", 270u, 40u}, std::tuple{"ZEFg", 268u, 32u}}) {
        Session s(kWaveZefBuffer);
        const Bytes file = zefWave(W().add(compat()).zeros(frameBytes), codec, 1528);
        ASSERT_EQ(parseAll(s, file), 0);
        EXPECT_EQ(s.in.dwReadPos, file.size() - frameBytes);  // past the compatibility block
        EXPECT_EQ(s.kd.dwFramesLeft, frames);
        EXPECT_EQ(s.in.desc.dwSampleCount, frames * 180);  // no "fact": from the frames
        EXPECT_FLOAT_EQ(s.in.desc.fDuration, float(frames) * 0.0225f);
    }
    // A header written before the length was known: the frames are what is there.
    Bytes streamed = zefWave(Bytes(27));
    streamed[58] = 0xD4, streamed[59] = streamed[60] = streamed[61] = 0xFF;  // "data" size
    Session s(kWaveZefBuffer);
    s.kd.dwFramesLeft = 99;  // left from an earlier session
    ASSERT_EQ(parseAll(s, streamed), 0);
    EXPECT_EQ(s.kd.dwFramesLeft, 4u);
    Session pcm(0x10200);
    EXPECT_EQ(parseAll(pcm, zefWave({})), 114);  // a Zef header in PCM input
}

TEST(ParseHeader, WrittenZefWaveReadsBack) {
    KELVANE_INFO_CHUNK texts[1] = {{3, 4, "Name"}};
    Session w(0x20100, kWaveZefBuffer);
    w.setOutput(2000);
    w.in.desc.wChannels = 1;
    w.cb.wCodecTag = 1284;
    w.cb.wGuisette = 604;
    w.cb.wOutputSampleSize = 2;
    w.cb.dwOutputRate = 8000;
    w.cb.wBitRate = 2400;
    w.kd.wCompatibilityHeader = 1;
    w.kd.lpInfoChunks = texts;
    w.kd.wInfoChunks = 1;
    ASSERT_EQ(WriteRIFFHeader(&w.kd, 0, 0), 0);
    const uint32_t header = w.out.dwWritePos;
    ASSERT_EQ(CopyZefHeaderToBuffer(&w.kd), 0);
    w.out.dwWritePos = 0;  // the frames (27 bytes) would follow; rewrite with the final sizes
    ASSERT_EQ(WriteRIFFHeader(&w.kd, header + 1528 + 27, 1528 + 27), 0);
    KELVANE_INFO_CHUNK read[1] = {};
    Session r(kWaveZefBuffer);
    r.kd.lpInfoChunks = read;
    r.kd.wInfoChunks = 1;
    ASSERT_EQ(parseAll(r, cut(w.output, header + 1528 + 27)), 0);
    EXPECT_EQ(r.cb.wCodecTag, 1284);
    EXPECT_EQ(r.cb.wGuisette, 604);
    EXPECT_STREQ(read[0].szText, "Name");
    EXPECT_EQ(r.in.dwReadPos, header + 1528);
    EXPECT_EQ(r.kd.dwFramesLeft, 4u);
}

TEST(ParseHeader, RawAndPacketStreams) {
    const Bytes frames(27);  // four frames of 54 bits
    struct Case { uint32_t type; Bytes bytes; uint32_t framesLeft; uint32_t samples; };
    const Bytes packet = W().be16(16).be16(54).be16(7).be16(0).id("zef!").le16(16).le16(1284).le32(7).le16(180).le16(0).add(frames);
    const Case cases[] = {
        {kRawZefBuffer, W().add(zefBang(1284, 10)).chunk("ZEFd", frames), 10, 10},  // the header's count
        {kRawZefBuffer, W().add(zefBang(1284, 0)).chunk("ZEFd", frames), 4, 4},     // none: the bytes there
        {0x20801, W().add(zefBang(1284, 0)).chunk("ZEFd", frames), 0xFFFFFFFF, 0},  // open-ended reader
        {kPacket, packet, 4, 4},
    };
    for (const Case& c : cases) {
        Session s(c.type);
        ASSERT_EQ(parseAll(s, c.bytes), 0);
        EXPECT_EQ(s.in.dwReadPos, c.bytes.size() - frames.size());
        EXPECT_EQ(s.kd.dwFramesLeft, c.framesLeft);
        EXPECT_EQ(s.in.desc.dwSampleCount, c.samples);
        EXPECT_EQ(s.in.desc.dwAvgBytesPerSec, 300u);
    }
}

