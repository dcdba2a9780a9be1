// RIFF/WAVE: the top-level reader, the "fmt " extension walk and the
// header writer.
#include <gtest/gtest.h>

#include <string>

#include "harness.h"

using namespace ct;
using namespace zef;

namespace {

constexpr uint32_t kWavePcmBuffer = 0x10200;
constexpr uint32_t kWaveZefBuffer = 0x10201;

uint16_t parse(Session& s, StreamDesc* d) {
    return ParseRIFFHeader(&s.kd, s.input.data(), uint32_t(s.input.size()), d);
}

Bytes withChunks(const Bytes& fmt, std::initializer_list<std::pair<const char*, Bytes>> chunks, bool pad = false) {
    Bytes body;
    body.id("WAVE").chunk("fmt ", fmt, pad);
    for (const auto& [name, contents] : chunks) body.chunk(name, contents, pad);
    return Bytes().chunk("RIFF", body);
}

Bytes pcmFormat(uint16_t channels = 1, uint16_t bits = 16) {
    return Bytes().le16(1).le16(channels).le32(8000).le32(16000).le16(2).le16(bits);
}

}  // namespace

TEST(Riff, RefusesWhatIsNoWave) {
    struct Case { Bytes bytes; uint16_t error; uint32_t secondary; };
    const Case cases[] = {
        {Bytes().id("RIFX").le32(4).id("WAVE"), 303, cc("RIFX")},
        {Bytes().id("FORM").le32(4).id("AIFF"), 304, cc("FORM")},
        {Bytes().id("RIFF").le32(4).id("AVI "), 204, cc("AVI ")},
        {withChunks(Bytes().zeros(14), {{"data", {}}}), 203, 14},
        {Bytes().id("RIFF").le32(12).id("WAVE").chunk("data", {1, 2}).chunk("fmt ", pcmFormat()), 203, 0},
        {withChunks(pcmFormat(), {{"LIST", {}}}), 305, 0},
        {Bytes().add(withChunks(pcmFormat(), {})).id("JUNK").le32(0xFFFFFFFF).chunk("data", {}), 305, 0},
        {withChunks(pcmFormat(0, 16), {{"data", {}}}), 305, cc("fmt ")},
        {withChunks(pcmFormat(1, 0), {{"data", {}}}), 305, cc("fmt ")},
    };
    for (const Case& c : cases) {
        Session s(kWavePcmBuffer);
        s.setInput(c.bytes);
        StreamDesc d;
        EXPECT_EQ(parse(s, &d), c.error);
        if (c.secondary) {
            EXPECT_EQ(s.kd.dwSecondaryError, c.secondary);
        }
    }
    char text[ZEF_MESSAGE_SIZE];
    mlGetStringFromError(204, cc("AVI "), text);
    EXPECT_NE(std::string(text).find("[AVI ]"), std::string::npos) << text;
}

TEST(Riff, PcmDescription) {
    const Bytes data = Bytes().zeros(10);
    struct Case { Bytes file; uint32_t samples; };
    Bytes repeated;
    repeated.id("WAVE").chunk("fmt ", pcmFormat()).chunk("fmt ", pcmFormat(2, 8)).chunk("data", data);
    const Case cases[] = {
        {withChunks(pcmFormat(), {{"data", data}}), 5},                          // no "fact": length / 2
        {withChunks(pcmFormat(), {{"fact", Bytes().le32(3)}, {"data", data}}), 3},
        {withChunks(pcmFormat(), {{"JUNK", {7}}, {"data", data}}, true), 5},     // odd chunk, padded
        {withChunks(pcmFormat(), {{"JUNK", {7}}, {"data", data}}, false), 5},    // odd chunk, not padded
        {Bytes().chunk("RIFF", repeated), 5},                                    // the first "fmt " counts
    };
    for (const Case& c : cases) {
        Session s(kWavePcmBuffer);
        s.setInput(c.file);
        StreamDesc d;
        ASSERT_EQ(parse(s, &d), 0);
        EXPECT_EQ(d.wChannels, 1);
        EXPECT_EQ(d.wBitsPerSample, 16);
        EXPECT_EQ(d.dwDataLength, 10u);
        EXPECT_EQ(d.dwDataOffset, c.file.size() - 10);
        EXPECT_EQ(d.dwSampleCount, c.samples);
    }
}

TEST(Riff, ZefFormatExtension) {
    for (int guisette : {-1, 601}) {
        Session s(kWaveZefBuffer);
        s.setInput(zefWave(Bytes().zeros(1528 + 54), "ZEFg", 1528, guisette));
        StreamDesc d;
        ASSERT_EQ(parse(s, &d), 0);  // the walk running out of sub-chunks is no error
        EXPECT_EQ(d.wFormatTag, 98);
        EXPECT_EQ(s.cb.wCodecTag, 5409);
        EXPECT_EQ(s.in.wCompatLength, 1528);
        EXPECT_EQ(s.cb.wGuisette, guisette < 0 ? 0 : 601);
        EXPECT_EQ(s.kd.dwFramesLeft, 54u * 8 / 67);  // the frames after the block, Peln-sized
    }
    Bytes fmt;  // a Guisette chunk with a 4-byte payload
    fmt.le16(98).le16(1).le32(8000).le32(300).le16(2).le16(16).le16(28);
    fmt.id("ZEF.").le32(8).le16(0).le16(0).id("ZEFa").id("ZEfG").le32(4).le32(5);
    Session s(kWaveZefBuffer);
    s.setInput(withChunks(fmt, {{"data", {}}}));
    StreamDesc d;
    EXPECT_EQ(parse(s, &d), 607);
    EXPECT_EQ(s.kd.dwSecondaryError, 4u);
    EXPECT_EQ(d.dwDataLength, 0u);
    Session c(kWaveZefBuffer);
    c.setInput(zefWave({}, "ZEFc"));
    EXPECT_EQ(parse(c, &d), 310);
    // Every cut of a good file fails without reading past it.
    const Bytes good = zefWave({1, 2, 3}, "ZEFa", 0, 7);
    for (size_t n = 0; n + 3 < good.size(); ++n) {
        Session t(kWaveZefBuffer);
        t.setInput({good.begin(), good.begin() + long(n)});
        EXPECT_NE(parse(t, &d), 0) << n;
    }
}

TEST(Riff, TraverseChunksStopsWhereAsked) {
    const Bytes b = Bytes().chunk("aaaa", {1}).chunk("bbbb", {}).chunk("stop", {}).chunk("cccc", {});
    const uint8_t* p = b.data();
    uint32_t count = 0;
    EXPECT_EQ(TraverseChunks(&p, uint32_t(b.size()), cc("stop"), &count, nullptr, nullptr, nullptr), 123);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(p, b.data() + 17);
    auto refuse = [](void*, KELVANE_DATA*, uint32_t id, uint32_t, const uint8_t*) -> uint16_t {
        return id == cc("bbbb") ? 42 : 0;
    };
    p = b.data();
    EXPECT_EQ(TraverseChunks(&p, uint32_t(b.size()), 0, &count, nullptr, nullptr, refuse), 42);
    EXPECT_EQ(count, 1u);
}

TEST(Riff, PcmHeaderBytes) {
    for (uint16_t bytes : {1, 2}) {
        Session s(0x20201, 0x10200);
        s.setOutput(50);
        s.in.desc.wChannels = 1;
        s.cb.wOutputSampleSize = bytes;
        s.cb.dwOutputRate = 8000;
        ASSERT_EQ(WriteRIFFHeader(&s.kd, 1044, 1000), 0);
        const Bytes expected = Bytes().id("RIFF").le32(1036).id("WAVE").id("fmt ").le32(16).le16(1).le16(1)
                                   .le32(8000).le32(8000u * bytes).le16(bytes).le16(uint16_t(bytes * 8))
                                   .id("data").le32(1000);
        EXPECT_EQ(s.written(), expected);
        EXPECT_EQ(WriteRIFFHeader(&s.kd, 1044, 1000), 118);  // no room for a second one
        EXPECT_EQ(s.kd.dwSecondaryError, 88u);
    }
}

TEST(Riff, ZefHeaderBytes) {
    KELVANE_INFO_CHUNK info[3] = {};
    info[0] = {3, 5, "Hello"};
    info[2] = {cc("IART"), 4, "abcd"};
    for (int variant = 0; variant < 3; ++variant) {  // plain, Guisette, INFO texts
        Session s(0x20100, 0x10201);
        s.setOutput(200);
        s.in.desc = StreamDesc{};
        s.in.desc.wChannels = 1;
        s.in.desc.wBlockAlign = 2;
        s.in.desc.dwSamplingRate = 8000;
        s.in.desc.fDuration = 2.25f;
        s.cb.wCodecTag = 1284;
        s.cb.wOutputSampleSize = 2;
        s.cb.dwOutputRate = s.cb.dwCodecRate = 8000;
        s.cb.wBitRate = 2400;
        s.cb.wFrameSamples = 180;
        s.cb.dwFramesProcessed = 100;  // 2.25 s
        s.cb.dwInputSamplesProcessed = 18000;
        s.cb.wGuisette = variant == 1 ? 601 : 0;
        if (variant == 2) s.kd.lpInfoChunks = info, s.kd.wInfoChunks = 3;
        Bytes fmt;
        fmt.le16(98).le16(1).le32(8000).le32(400).le16(2).le16(16).le16(variant == 1 ? 26 : 16);
        fmt.id("ZEF.").le32(8).le16(0).le16(0).id("ZEFa");
        if (variant == 1) fmt.id("ZEfG").le32(2).le16(601);
        Bytes expected;
        expected.id("WAVE").chunk("fmt ", fmt).chunk("fact", Bytes().le32(18000));
        if (variant == 2)
            expected.chunk("LIST", Bytes().id("INFO").chunk("INAM", {'H', 'e', 'l', 'l', 'o', 0}).chunk("IART", {'a', 'b', 'c', 'd'}));
        const uint32_t header = uint32_t(expected.size() + 16);
        expected.id("data").le32(900);
        expected = Bytes().id("RIFF").le32(header + 900 - 8).add(expected);
        ASSERT_EQ(WriteRIFFHeader(&s.kd, header + 900, 900), 0);
        EXPECT_EQ(s.written(), expected) << variant;
    }
}
