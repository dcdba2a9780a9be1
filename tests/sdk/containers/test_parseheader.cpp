// ParseHeader: the container dispatcher over WAVE, AIFF, raw and packet
// inputs, the frame counts and stream descriptions it leaves, and its
// behaviour on damaged input.
#include <gtest/gtest.h>

#include <random>

#include "harness.h"

using namespace ct;
using namespace zef;

namespace {

constexpr uint32_t kWaveZefBuffer = 0x10201;
constexpr uint32_t kRawZefBuffer = 0x20201;

uint16_t parseAll(Session& s, const std::vector<uint8_t>& bytes) {
    s.setInput(bytes);
    return ParseHeader(&s.kd, &s.in);
}

Bytes compat() { return Bytes(std::vector<uint8_t>(kCompatBlock, kCompatBlock + kCompatBlockSize)); }

}  // namespace

TEST(ParseHeader, ZefWave) {
    for (auto [codec, frameBytes, frames] : {std::tuple{"ZEFa", 270u, 40u}, std::tuple{"ZEFg", 268u, 32u}}) {
        Session s(kWaveZefBuffer);
        const Bytes file = zefWave(Bytes().add(compat()).zeros(frameBytes), codec, 1528);
        ASSERT_EQ(parseAll(s, file), 0);
        EXPECT_EQ(s.in.dwReadPos, file.size() - frameBytes);  // past the compatibility block
        EXPECT_EQ(s.kd.dwFramesLeft, frames);
        EXPECT_EQ(s.in.desc.dwDataOffset, s.in.dwReadPos);
        EXPECT_EQ(s.in.desc.dwDataLength, frameBytes);
        EXPECT_EQ(s.in.desc.dwSampleCount, frames * 180);  // no "fact": from the frames
        EXPECT_EQ(s.in.desc.dwSamplingRate, 8000u);
        EXPECT_FLOAT_EQ(s.in.desc.fDuration, float(frames) * 0.0225f);
    }
    // A header written before the length was known: the frames are what is there.
    Bytes streamed = zefWave(Bytes().zeros(27));
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
    Session w(0x20100, 0x10201);
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
    ASSERT_EQ(parseAll(r, std::vector<uint8_t>(w.output.begin(), w.output.begin() + header + 1528 + 27)), 0);
    EXPECT_EQ(r.cb.wCodecTag, 1284);
    EXPECT_EQ(r.cb.wGuisette, 604);
    EXPECT_STREQ(read[0].szText, "Name");
    EXPECT_EQ(r.in.dwReadPos, header + 1528);
    EXPECT_EQ(r.kd.dwFramesLeft, 4u);
}

TEST(ParseHeader, RawAndPacketStreams) {
    const Bytes frames = Bytes().zeros(27);  // four frames of 54 bits
    struct Case { uint32_t type; Bytes bytes; uint32_t framesLeft; uint32_t samples; };
    const Bytes packet = Bytes().be16(16).be16(54).be16(7).be16(0).id("zef!").le16(16).le16(1284).le32(7)
                             .le16(180).le16(0).add(frames);
    const Case cases[] = {
        {kRawZefBuffer, Bytes().add(zefBang(1284, 10)).chunk("ZEFd", frames), 10, 10},  // the header's count
        {kRawZefBuffer, Bytes().add(zefBang(1284, 0)).chunk("ZEFd", frames), 4, 4},    // none: the bytes there
        {0x20801, Bytes().add(zefBang(1284, 0)).chunk("ZEFd", frames), 0xFFFFFFFF, 0}, // open-ended reader
        {0x21101, packet, 4, 4},
    };
    for (const Case& c : cases) {
        Session s(c.type);
        ASSERT_EQ(parseAll(s, c.bytes), 0);
        EXPECT_EQ(s.in.dwReadPos, c.bytes.size() - frames.size());
        EXPECT_EQ(s.kd.dwFramesLeft, c.framesLeft);
        EXPECT_EQ(s.in.desc.wFormatTag, 98);
        EXPECT_EQ(s.in.desc.dwSampleCount, c.samples);
        EXPECT_EQ(s.in.desc.dwAvgBytesPerSec, 300u);
        EXPECT_FLOAT_EQ(s.in.desc.fDuration, c.samples ? c.framesLeft * 0.0225f : 0.0f);
    }
}

TEST(ParseHeader, PcmInputs) {
    Session raw(0x20200);
    raw.kd.wInputBytesPerSample = 2;
    raw.kd.dwInputSamplingRate = 11025;
    ASSERT_EQ(parseAll(raw, Bytes().zeros(22050)), 0);
    EXPECT_EQ(raw.in.desc.dwSampleCount, 11025u);
    EXPECT_FLOAT_EQ(raw.in.desc.fDuration, 1.0f);
    EXPECT_EQ(raw.kd.dwFramesLeft, 11025u);
    raw.kd.wInputBytesPerSample = 0;
    EXPECT_EQ(parseAll(raw, Bytes().zeros(4)), 135);

    Bytes cut = pcmWave(Bytes().zeros(100));  // a cut file: the data is what the stream holds
    cut.resize(cut.size() - 40);
    Session wave(0x10200);
    ASSERT_EQ(parseAll(wave, cut), 0);
    EXPECT_EQ(wave.in.dwReadPos, 44u);
    EXPECT_EQ(wave.in.desc.dwDataLength, 60u);
    EXPECT_EQ(wave.in.desc.dwSampleCount, 30u);

    Bytes old;  // coded data in WAVE with a chunked header, asked for as PCM
    old.id("WAVE").chunk("fmt ", Bytes().le16(98).le16(1).le32(8000).le32(300).le16(0).le16(16)).chunk("data", {});
    Session asPcm(0x10200);
    EXPECT_EQ(parseAll(asPcm, Bytes().chunk("RIFF", old)), 128);
    Session unknown(0x40201);
    EXPECT_EQ(parseAll(unknown, Bytes().zeros(64)), 302);
    EXPECT_EQ(unknown.kd.dwSecondaryError, 0x40000u);
}

// Damaged headers of every kind: whatever the bytes, the parse ends with a
// result and a position inside the input (the sanitizer build checks that
// nothing outside the exact-sized input is read).
TEST(ParseHeader, SurvivesDamagedInput) {
    KELVANE_INFO_CHUNK texts[2] = {};
    const Bytes aiff = Bytes().id("FORM").be32(60).id("AIFF").chunkBE("MARK", Bytes().be16(1).be16(1).be32(5).be16(0x0161))
                           .chunkBE("COMM", Bytes().be16(1).be32(4).be16(16).be16(0x400B).be16(0xFA00).zeros(6))
                           .chunkBE("SSND", Bytes().zeros(16));
    const std::pair<uint32_t, Bytes> bases[] = {
        {kWaveZefBuffer, zefWave(Bytes().add(compat()).zeros(20), "ZEFa", 1528, 601)},
        {0x10200, pcmWave(Bytes().zeros(20))},
        {0x30200, aiff},
        {kRawZefBuffer, Bytes().add(zefBang()).chunk("ZEFi", {1}).chunk("ZEFm", {}).chunk("ZEFd", {1, 2})},
        {kRawZefBuffer, Bytes().id("ZEFh").le32(44).zeros(40)},
        {0x21101, Bytes().id("zef!").le16(16).le16(1284).zeros(12)},
    };
    std::mt19937 rng(20240611);
    for (const auto& [type, base] : bases) {
        for (int round = 0; round < 400; ++round) {
            Bytes b = base;
            const int edits = 1 + int(rng() % 4);
            for (int e = 0; e < edits && !b.empty(); ++e) {
                const size_t at = rng() % b.size();
                switch (rng() % 4) {
                    case 0: b[at] = uint8_t(rng()); break;
                    case 1: for (size_t i = at; i < std::min(b.size(), at + 4); ++i) b[i] = 0xFF; break;
                    case 2: for (size_t i = at; i < std::min(b.size(), at + 4); ++i) b[i] = 0; break;
                    default: b.resize(at); break;
                }
            }
            Session s(type);
            s.kd.lpInfoChunks = texts;
            s.kd.wInfoChunks = 2;
            if (parseAll(s, b) == 0) {
                EXPECT_LE(s.in.dwReadPos, s.in.dwValid);
                EXPECT_LE(uint64_t(s.in.desc.dwDataOffset), s.in.dwValid);
            }
        }
    }
}
