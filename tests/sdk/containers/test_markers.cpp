// Markers: cue points and labels after the WAVE data, the "ZEFm" chunk
// built from them, and sorting by position.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "harness.h"

using namespace ct;
using namespace zef;

namespace {

Bytes cues(std::initializer_list<std::pair<uint32_t, uint32_t>> points, uint32_t count = 0) {
    Bytes b = Bytes().le32(count ? count : uint32_t(points.size()));
    for (auto [id, position] : points) b.le32(id).le32(position).id("data").le32(0).le32(0).le32(position);
    return Bytes().chunk("cue ", b);
}

Bytes label(uint32_t id, const std::string& text) { return Bytes().le32(id).str(text.c_str(), text.size() + 1); }

// A PCM WAVE file in a temporary FILE, attached to a session as its input.
struct WaveFile {
    Session s{0x10100};
    FileRecord record{};
    KELVANE_MARKER_REQUEST request{1, 24, 0, 0, 0, 0};

    explicit WaveFile(const Bytes& trailing, const Bytes& data = Bytes().zeros(8)) {
        const Bytes bytes = Bytes().add(pcmWave(data)).add(trailing);
        record.lpStream = std::tmpfile();
        std::fwrite(bytes.data(), 1, bytes.size(), record.lpStream);
        std::fseek(record.lpStream, 3, SEEK_SET);  // where the reader must come back to
        record.dwFileSize = uint32_t(bytes.size());
        s.setInput(bytes);
        s.in.lpFile = &record;
        s.kd.lpMarker = &request;
    }
    ~WaveFile() { std::fclose(record.lpStream); }
    uint32_t word(uint32_t i, int offset) const { return readLE32(s.in.lpMarkerList[i] + offset); }
};

}  // namespace

TEST(Markers, CuePointsGetTheirLabelsAndAreSortedByPosition) {
    KELVANE_INFO_CHUNK info[1] = {};
    const Bytes labels = Bytes().id("adtl").chunk("labl", label(9, "nine"), true).chunk("note", label(2, "x"), true)
                             .chunk("labl", label(2, "two"), true);
    WaveFile w(Bytes().chunk("LIST", Bytes().id("INFO").chunk("INAM", {'t', 'i', 't', 'l', 'e', 0}))
                   .add(cues({{7, 300}, {2, 100}, {9, 200}})).chunk("LIST", labels));
    w.s.kd.lpInfoChunks = info;
    w.s.kd.wInfoChunks = 1;
    ASSERT_EQ(ParseHeader(&w.s.kd, &w.s.in), 0);
    ASSERT_EQ(w.s.in.dwMarkerCount, 3u);
    const uint32_t ids[3] = {2, 9, 7};
    const char* texts[3] = {"two", "nine", ""};  // matched by identifier; cue 7 has no label
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(w.word(i, 0), ids[i]);
        EXPECT_EQ(w.word(i, 4), 0u);
        EXPECT_EQ(w.word(i, 8), 100 * (i + 1));
        EXPECT_EQ(w.word(i, 12), 100 * (i + 1));
        EXPECT_STREQ(reinterpret_cast<const char*>(w.s.in.lpMarkerList[i] + 16), texts[i]);
    }
    EXPECT_TRUE(isFourcc(w.s.in.lpMarkerChunk, "ZEFm"));
    EXPECT_EQ(readLE32(w.s.in.lpMarkerChunk + 8), 3u);
    EXPECT_EQ(std::ftell(w.record.lpStream), 3);
    EXPECT_STREQ(info[0].szText, "title");
}

TEST(Markers, UntrustedSizesAndShortFiles) {
    struct Case { Bytes trailing; Bytes data; uint16_t error; uint32_t markers; };
    const Bytes eight = Bytes().zeros(8);
    const Case cases[] = {
        {{}, eight, 0, 0},                                              // nothing after the data
        {cues({{1, 5}}, 1000000000), eight, 0, 1},                      // a count beyond the chunk
        {Bytes().id("LIST").le32(1000).id("adtl"), eight, 230, 0},       // a size beyond the file
        {Bytes().id("cue ").le32(0xFFFFFFFF).le32(1), eight, 0, 0},      // absurd: not loaded
        {cues({{4, 1}}), Bytes{1, 2, 3}, 0, 1},                          // odd data, then its pad byte
    };
    for (const Case& c : cases) {
        WaveFile w(c.trailing, c.data);
        w.s.in.desc.dwDataOffset = 44;
        w.s.in.desc.dwDataLength = uint32_t(c.data.size());
        EXPECT_EQ(ReadWaveMarkers(&w.s.kd, &w.s.in.desc), c.error);
        EXPECT_EQ(w.s.in.dwMarkerCount, c.markers);
        EXPECT_EQ(std::ftell(w.record.lpStream), 3);
    }
}

TEST(Markers, ComparisonsOrderByPosition) {
    auto rec = [](uint32_t bit, uint32_t byte) { return Bytes().le32(0).le32(bit).le32(byte).le32(byte); };
    const Bytes a = rec(7, 10), b = rec(0, 12), c = rec(0, 10);
    uint8_t* list[3] = {const_cast<uint8_t*>(b.data()), const_cast<uint8_t*>(a.data()), const_cast<uint8_t*>(c.data())};
    InputVars in{};
    in.lpMarkerList = list;
    in.dwMarkerCount = 3;
    SortMarkerList(&in, false);  // by byte offset; equal ones keep their order
    EXPECT_TRUE(list[0] == a.data() && list[1] == c.data() && list[2] == b.data());
    SortMarkerList(&in, true);   // by byte offset plus bit offset
    EXPECT_TRUE(list[0] == c.data() && list[1] == b.data() && list[2] == a.data());
    const Bytes l1 = Bytes().chunk("labl", label(5, "")), l2 = Bytes().chunk("labl", label(40000, ""));
    const uint8_t *p1 = l1.data(), *p2 = l2.data();
    EXPECT_LT(CompareIDNumbers(&p1, &p2), 0);
    EXPECT_GT(CompareIDNumbers(&p2, &p1), 0);
}
