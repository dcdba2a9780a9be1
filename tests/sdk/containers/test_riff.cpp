// RIFF/WAVE: the top-level reader, the "fmt " extension and the header
// writer.
#include <gtest/gtest.h>

#include <string>

#include "harness.h"

using namespace ct;
using namespace zef;

namespace {

uint16_t parse(Session& s, const Bytes& file, StreamDesc* d) {
    s.setInput(file);
    return ParseRIFFHeader(&s.kd, s.input.data(), uint32_t(s.input.size()), d);
}

Bytes wave(const Bytes& fmt, std::initializer_list<std::pair<const char*, Bytes>> chunks, bool pad = false) {
    Bytes body;
    body.id("WAVE").chunk("fmt ", fmt);
    for (const auto& [name, contents] : chunks) body.chunk(name, contents, pad);
    return Bytes().chunk("RIFF", body);
}

Bytes pcmFormat(uint16_t channels = 1, uint16_t bits = 16) {
    return Bytes().le16(1).le16(channels).le32(8000).le32(16000).le16(2).le16(bits);
}

}  // namespace

TEST(Riff, RefusesWhatIsNoWave) {
    const std::tuple<Bytes, uint16_t, uint32_t> cases[] = {
        {Bytes().id("RIFX").le32(4).id("WAVE"), 303, cc("RIFX")},
        {Bytes().id("RIFF").le32(4).id("AVI "), 204, cc("AVI ")},
        {wave(Bytes().zeros(14), {{"data", {}}}), 203, 14},
        {Bytes().id("RIFF").le32(12).id("WAVE").chunk("data", {1, 2}).chunk("fmt ", pcmFormat()), 203, 0},
        {wave(pcmFormat(), {{"LIST", {}}}), 305, 0},  // no "data"
        {Bytes().add(wave(pcmFormat(), {})).id("JUNK").le32(0xFFFFFFFF).chunk("data", {}), 305, 0},
        {wave(pcmFormat(0, 16), {{"data", {}}}), 305, cc("fmt ")},
        {wave(pcmFormat(1, 0), {{"data", {}}}), 305, cc("fmt ")},
    };
    for (const auto& [file, error, secondary] : cases) {
        Session s(0x10200);
        StreamDesc d;
        EXPECT_EQ(parse(s, file, &d), error);
        if (secondary) {
            EXPECT_EQ(s.kd.dwSecondaryError, secondary);
        }
    }
    char text[ZEF_MESSAGE_SIZE];
    mlGetStringFromError(204, cc("AVI "), text);
    EXPECT_NE(std::string(text).find("[AVI ]"), std::string::npos) << text;
}

TEST(Riff, PcmDescription) {
    const Bytes data = Bytes().zeros(10);
    Bytes repeated;
    repeated.id("WAVE").chunk("fmt ", pcmFormat()).chunk("fmt ", pcmFormat(2, 8)).chunk("data", data);
    const std::pair<Bytes, uint32_t> cases[] = {
        {wave(pcmFormat(), {{"data", data}}), 5},  // no "fact": length / 2
        {wave(pcmFormat(), {{"fact", Bytes().le32(3)}, {"data", data}}), 3},
        {wave(pcmFormat(), {{"JUNK", {7}}, {"data", data}}, true), 5},   // odd chunk, padded
        {wave(pcmFormat(), {{"JUNK", {7}}, {"data", data}}, false), 5},  // odd chunk, not padded
        {Bytes().chunk("RIFF", repeated), 5},                            // the first "fmt " counts
    };
    for (const auto& [file, samples] : cases) {
        Session s(0x10200);
        StreamDesc d;
        ASSERT_EQ(parse(s, file, &d), 0);
        EXPECT_EQ(d.wChannels, 1);
        EXPECT_EQ(d.dwDataOffset, file.size() - 10);
        EXPECT_EQ(d.dwSampleCount, samples);
    }
}

TEST(Riff, ZefFormatExtension) {
    for (int guisette : {-1, 601}) {
        Session s(0x10201);
        StreamDesc d;
        ASSERT_EQ(parse(s, zefWave(Bytes().zeros(1528 + 54), "ZEFg", 1528, guisette), &d), 0);
        EXPECT_EQ(s.cb.wCodecTag, 5409);
        EXPECT_EQ(s.in.wCompatLength, 1528);
        EXPECT_EQ(s.cb.wGuisette, guisette < 0 ? 0 : 601);
        EXPECT_EQ(s.kd.dwFramesLeft, 54u * 8 / 67);  // the frames after the block, Peln-sized
    }
    Bytes fmt;  // a Guisette chunk with a 4-byte payload
    fmt.le16(98).le16(1).le32(8000).le32(300).le16(2).le16(16).le16(28);
    fmt.id("ZEF.").le32(8).le16(0).le16(0).id("ZEFa").id("ZEfG").le32(4).le32(5);
    Session s(0x10201);
    StreamDesc d;
    EXPECT_EQ(parse(s, wave(fmt, {{"data", {}}}), &d), 607);
    EXPECT_EQ(s.kd.dwSecondaryError, 4u);
    EXPECT_EQ(parse(s, zefWave({}, "ZEFc"), &d), 310);
    const Bytes good = zefWave({1, 2, 3}, "ZEFa", 0, 7);
    for (size_t n = 0; n + 3 < good.size(); ++n) {  // every cut: refused, nothing read past it
        Session t(0x10201);
        EXPECT_NE(parse(t, Bytes(std::vector<uint8_t>(good.begin(), good.begin() + long(n))), &d), 0) << n;
    }
}

TEST(Riff, PcmHeaderBytes) {
    for (uint16_t bytes : {1, 2}) {
        Session s(0x20201, 0x10200);
        s.setOutput(50);
        s.in.desc.wChannels = 1;
        s.cb.wOutputSampleSize = bytes;
        s.cb.dwOutputRate = 8000;
        ASSERT_EQ(WriteRIFFHeader(&s.kd, 1044, 1000), 0);
        const Bytes expected = Bytes().id("RIFF").le32(1036).id("WAVE").id("fmt ").le32(16).le16(1).le16(1).le32(8000)
                                   .le32(8000u * bytes).le16(bytes).le16(uint16_t(bytes * 8)).id("data").le32(1000);
        EXPECT_EQ(s.written(), expected);
        EXPECT_EQ(WriteRIFFHeader(&s.kd, 1044, 1000), 118);  // no room for a second one
        EXPECT_EQ(s.kd.dwSecondaryError, 88u);
    }
}

TEST(Riff, ZefHeaderBytes) {
    KELVANE_INFO_CHUNK info[3] = {{3, 5, "Hello"}, {}, {cc("IART"), 4, "abcd"}};
    for (int variant = 0; variant < 3; ++variant) {  // plain, with a Guisette, with INFO texts
        Session s(0x20100, 0x10201);
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
        Bytes fmt;
        fmt.le16(98).le16(1).le32(8000).le32(400).le16(2).le16(16).le16(variant == 1 ? 26 : 16);
        fmt.id("ZEF.").le32(8).le16(0).le16(0).id("ZEFa");
        if (variant == 1) fmt.id("ZEfG").le32(2).le16(601);
        Bytes body;
        body.id("WAVE").chunk("fmt ", fmt).chunk("fact", Bytes().le32(18000));
        if (variant == 2) body.chunk("LIST", Bytes().id("INFO").chunk("INAM", {'H', 'e', 'l', 'l', 'o', 0}).chunk("IART", {'a', 'b', 'c', 'd'}));
        const uint32_t total = uint32_t(body.size() + 16 + 900);
        const Bytes expected = Bytes().id("RIFF").le32(total - 8).add(body).id("data").le32(900);
        ASSERT_EQ(WriteRIFFHeader(&s.kd, total, 900), 0);
        EXPECT_EQ(s.written(), expected) << variant;
    }
}
