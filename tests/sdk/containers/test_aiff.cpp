// AIFF and AIFF-C: the 80-bit rate, the header writer and the reader.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "harness.h"

using namespace ct;
using namespace zef;

namespace {

constexpr uint32_t kAiffPcmBuffer = 0x30200;

Bytes rate80(double rate) {
    uint8_t b[10];
    doubletovx80(rate, b);
    return Bytes(std::vector<uint8_t>(b, b + 10));
}

Bytes comm(uint16_t channels, uint32_t frames, uint16_t bits, double rate, const char* compression = nullptr) {
    Bytes b = Bytes().be16(channels).be32(frames).be16(bits).add(rate80(rate));
    if (compression) b.id(compression).push_back(0);
    return b;
}

Bytes form(const char* type, const Bytes& chunks) { return Bytes().id("FORM").be32(uint32_t(chunks.size() + 4)).id(type).add(chunks); }

const Bytes kSsnd = Bytes().be32(0).be32(0).zeros(6);

}  // namespace

TEST(Aiff, ExtendedRate) {
    EXPECT_EQ(rate80(8000), (Bytes{0x40, 0x0B, 0xFA, 0x00, 0, 0, 0, 0, 0, 0}));
    for (double r : {2.0, 3.0, 8000.0, 11025.0, 22050.0, 44100.0, 48000.0, 1e6, 729236945.0}) {
        const Bytes b = rate80(r);
        EXPECT_EQ(vx80toDouble(b.data()), r);
    }
    Bytes high = rate80(8000);
    high[0] = 0x50;  // only the exponent's low byte counts
    EXPECT_EQ(vx80toDouble(high.data()), 8000.0);
    for (double bad : {0.0, -8000.0, std::nan(""), std::numeric_limits<double>::infinity()})
        EXPECT_EQ(rate80(bad), Bytes().zeros(10));
}

TEST(Aiff, WrittenHeaderAndItsReading) {
    Session w(0x20201, 0x30200);
    w.setOutput(86);
    w.in.desc.wChannels = 1;
    w.cb.wOutputSampleSize = 2;
    w.cb.dwOutputRate = 8000;
    ASSERT_EQ(WriteAiffHeader(&w.kd, 86 + 1000), 0);
    Bytes expected = Bytes().id("FORM").be32(1078).id("AIFC").id("FVER").be32(4).be32(0xA2805140).id("COMM").be32(38);
    expected.be16(1).be32(500).be16(16).add(rate80(8000)).id("NONE").push_back(14);
    expected.str("not compressed", 14).push_back(0);
    expected.id("SSND").be32(1008).be32(0).be32(0);
    ASSERT_EQ(w.written(), expected);
    w.in.dwGuard = 0;
    EXPECT_EQ(WriteAiffHeader(&w.kd, 0), 157);

    w.in.dwGuard = kInputGuard;
    w.cb.dwOutputRate = 11025;
    w.out.dwWritePos = 0;
    ASSERT_EQ(WriteAiffHeader(&w.kd, 86 + 1000), 0);
    Session r(kAiffPcmBuffer);
    r.setInput(w.written());
    StreamDesc d;
    ASSERT_EQ(ParseAIFFHeader(&r.kd, r.input.data(), 86, &d), 0);
    EXPECT_EQ(d.wFormatTag, 714);
    EXPECT_EQ(d.dwSamplingRate, 11025u);
    EXPECT_EQ(d.dwDataOffset, 86u);  // the "SSND" chunk + 16
    EXPECT_EQ(d.dwDataLength, 1000u);
    EXPECT_EQ(d.dwSampleCount, 500u);
    EXPECT_EQ(d.dwAvgBytesPerSec, 22050u);
}

TEST(Aiff, RefusesWhatItCannotPlay) {
    struct Case { Bytes file; uint32_t secondary; };
    const Case cases[] = {
        {Bytes().chunkBE("COMM", comm(1, 1, 16, 8000)).add(form("AIFF", {})), cc("COMM")},
        {form("AIFX", Bytes().chunkBE("COMM", comm(1, 1, 16, 8000))), cc("AIFX")},
        {form("AIFF", Bytes().chunkBE("COMM", comm(1, 1, 16, 0)).chunkBE("SSND", kSsnd)), cc("COMM")},
        {form("AIFF", Bytes().chunkBE("COMM", comm(0, 1, 16, 8000)).chunkBE("SSND", kSsnd)), cc("COMM")},
        {form("AIFF", Bytes().chunkBE("COMM", comm(1, 1, 16, 1e12)).chunkBE("SSND", kSsnd)), cc("COMM")},
        {form("AIFC", Bytes().chunkBE("COMM", comm(1, 1, 16, 8000, "sowt")).chunkBE("SSND", kSsnd)), cc("sowt")},
        {form("AIFF", Bytes().chunkBE("COMM", comm(1, 1, 16, 8000))), cc("SSND")},
        {form("AIFF", Bytes().id("SSND").be32(0xFFFFFFF0)), cc("COMM")},
    };
    for (const Case& c : cases) {
        Session s(kAiffPcmBuffer);
        s.setInput(c.file);
        StreamDesc d;
        EXPECT_EQ(ParseAIFFHeader(&s.kd, s.input.data(), uint32_t(s.input.size()), &d), 306);
        EXPECT_EQ(s.kd.dwSecondaryError, c.secondary);
        EXPECT_EQ(d.dwDataLength, 0u);
        EXPECT_EQ(s.in.lpMarkerChunk, nullptr);
    }
}

TEST(Aiff, MarkersAndOddChunks) {
    Bytes mark = Bytes().be16(4);  // four declared, three whole
    mark.be16(1).be32(10).push_back(1), mark.push_back('a');
    mark.be16(2).be32(20).push_back(0), mark.push_back(0);
    mark.be16(3).be32(30).push_back(3), mark.str("abc", 3);
    mark.be16(4).be32(40).push_back(200);
    const Bytes file = form("AIFC", Bytes().chunkBE("FVER", Bytes().be32(0xA2805140)).chunkBE("NAME", {'x'})
                                        .chunkBE("MARK", mark).chunkBE("COMM", comm(2, 10, 8, 22050, "NONE"))
                                        .chunkBE("SSND", kSsnd));
    Session s(kAiffPcmBuffer);
    s.setInput(file);
    StreamDesc d;
    ASSERT_EQ(ParseAIFFHeader(&s.kd, s.input.data(), uint32_t(file.size()), &d), 0);
    EXPECT_EQ(d.dwDataOffset, file.size() - kSsnd.size() + 8);
    EXPECT_EQ(d.dwDataLength, 20u);
    ASSERT_EQ(s.in.dwMarkerCount, 3u);
    const char* texts[3] = {"a", "", "abc"};
    for (uint32_t i = 0; i < 3; ++i) {
        const uint8_t* r = s.in.lpMarkerList[i];
        EXPECT_EQ((r - s.in.lpMarkerChunk) % 2, 0);
        EXPECT_EQ(readLE32(r), i + 1);
        EXPECT_EQ(readLE32(r + 8), 10 * (i + 1));
        EXPECT_STREQ(reinterpret_cast<const char*>(r + 16), texts[i]);
    }
    // Every cut before the sample data fails without reading past it.
    for (size_t n = 0; n < file.size() - kSsnd.size() + 8; ++n) {
        Session t(kAiffPcmBuffer);
        t.setInput({file.begin(), file.begin() + long(n)});
        EXPECT_EQ(ParseAIFFHeader(&t.kd, t.input.data(), uint32_t(n), &d), 306) << n;
    }
}
