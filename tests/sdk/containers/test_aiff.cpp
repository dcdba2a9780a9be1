// AIFF and AIFF-C: the 80-bit rate, the header writer and the reader.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "harness.h"

using namespace ct;
using namespace zef;

namespace {

Bytes rate80(double rate) {
    uint8_t b[10];
    doubletovx80(rate, b);
    return Bytes(std::vector<uint8_t>(b, b + 10));
}

Bytes comm(uint16_t channels, uint32_t frames, uint16_t bits, double rate, const char* compression = nullptr) {
    Bytes b = Bytes().be16(channels).be32(frames).be16(bits).add(rate80(rate));
    if (compression) b.id(compression).push_back(0);
    return Bytes().chunkBE("COMM", b);
}

Bytes form(const char* type, const Bytes& chunks) { return Bytes().id("FORM").be32(uint32_t(chunks.size() + 4)).id(type).add(chunks); }

const Bytes kSsnd = Bytes().chunkBE("SSND", Bytes().zeros(14));

uint16_t parse(Session& s, const Bytes& file, StreamDesc* d) {
    s.setInput(file);
    return ParseAIFFHeader(&s.kd, s.input.data(), uint32_t(file.size()), d);
}

}  // namespace

TEST(Aiff, ExtendedRate) {
    EXPECT_EQ(rate80(8000), (Bytes{0x40, 0x0B, 0xFA, 0x00, 0, 0, 0, 0, 0, 0}));
    for (double r : {2.0, 3.0, 11025.0, 22050.0, 44100.0, 48000.0, 1e6, 729236945.0})
        EXPECT_EQ(vx80toDouble(rate80(r).data()), r);
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
    ASSERT_EQ(w.written(), expected.id("SSND").be32(1008).be32(0).be32(0));
    w.in.dwGuard = 0;
    EXPECT_EQ(WriteAiffHeader(&w.kd, 0), 157);

    w.in.dwGuard = kInputGuard;
    w.cb.dwOutputRate = 11025;
    w.out.dwWritePos = 0;
    ASSERT_EQ(WriteAiffHeader(&w.kd, 86 + 1000), 0);
    Session r(0x30200);
    StreamDesc d;
    ASSERT_EQ(parse(r, Bytes(w.written()), &d), 0);
    EXPECT_EQ(d.wFormatTag, 714);
    EXPECT_EQ(d.dwSamplingRate, 11025u);
    EXPECT_EQ(d.dwDataOffset, 86u);  // the "SSND" chunk + 16
    EXPECT_EQ(d.dwDataLength, 1000u);
    EXPECT_EQ(d.dwSampleCount, 500u);
}

TEST(Aiff, RefusesWhatItCannotPlay) {
    const std::pair<Bytes, uint32_t> cases[] = {
        {Bytes().add(comm(1, 1, 16, 8000)).add(form("AIFF", {})), cc("COMM")},
        {form("AIFX", comm(1, 1, 16, 8000)), cc("AIFX")},
        {form("AIFF", Bytes().add(comm(1, 1, 16, 0)).add(kSsnd)), cc("COMM")},
        {form("AIFF", Bytes().add(comm(0, 1, 16, 8000)).add(kSsnd)), cc("COMM")},
        {form("AIFF", Bytes().add(comm(1, 1, 16, 1e12)).add(kSsnd)), cc("COMM")},
        {form("AIFC", Bytes().add(comm(1, 1, 16, 8000, "sowt")).add(kSsnd)), cc("sowt")},  // not linear PCM
        {form("AIFF", comm(1, 1, 16, 8000)), cc("SSND")},
    };
    for (const auto& [file, secondary] : cases) {
        Session s(0x30200);
        StreamDesc d;
        EXPECT_EQ(parse(s, file, &d), 306);
        EXPECT_EQ(s.kd.dwSecondaryError, secondary);
        EXPECT_EQ(d.dwDataLength, 0u);
    }
}

TEST(Aiff, MarkersAndOddChunks) {
    Bytes mark = Bytes().be16(4);  // four declared, three whole
    mark.be16(1).be32(10).add({1, 'a'}).be16(2).be32(20).add({0, 0}).be16(3).be32(30).add({3, 'a', 'b', 'c'});
    mark.be16(4).be32(40).push_back(200);
    const Bytes file = form("AIFC", Bytes().chunkBE("FVER", Bytes().be32(0xA2805140)).chunkBE("NAME", {'x'})
                                        .chunkBE("MARK", mark).add(comm(2, 10, 8, 22050, "NONE")).add(kSsnd));
    Session s(0x30200);
    StreamDesc d;
    ASSERT_EQ(parse(s, file, &d), 0);
    EXPECT_EQ(d.dwDataOffset, file.size() - 6);
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
    for (size_t n = 0; n < file.size() - 6; ++n) {  // every cut before the samples: refused, nothing half-built
        Session t(0x30200);
        EXPECT_EQ(parse(t, Bytes(std::vector<uint8_t>(file.begin(), file.begin() + long(n))), &d), 306) << n;
        EXPECT_EQ(t.in.lpMarkerChunk, nullptr);
    }
}
