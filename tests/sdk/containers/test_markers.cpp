// Markers: cue points and labels after the WAVE data, the "ZEFm" chunk
// built from them, and sorting by position.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "harness.h"

using namespace ct;
using namespace zef;

namespace {

Bytes cuePoint(uint32_t id, uint32_t position) {
    return Bytes().le32(id).le32(position).id("data").le32(0).le32(0).le32(position);
}

Bytes label(uint32_t id, const std::string& text) {
    return Bytes().le32(id).str(text.c_str(), text.size() + 1);
}

// A PCM WAVE file in a temporary FILE, attached to a session as its input.
struct WaveFile {
    Session s{0x10100};
    FileRecord record{};
    KELVANE_MARKER_REQUEST request{1, 24, 0, 0, 0, 0};

    explicit WaveFile(const Bytes& bytes) {
        FILE* f = std::tmpfile();
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fseek(f, 3, SEEK_SET);  // somewhere the reader must come back to
        record.lpStream = f;
        record.dwFileSize = uint32_t(bytes.size());
        s.setInput(bytes);
        s.in.lpFile = &record;
        s.kd.lpMarker = &request;
    }
    ~WaveFile() { std::fclose(record.lpStream); }
    std::string text(uint32_t i) const { return reinterpret_cast<const char*>(s.in.lpMarkerList[i] + 16); }
    uint32_t word(uint32_t i, int offset) const { return readLE32(s.in.lpMarkerList[i] + offset); }
};

const Bytes kData = Bytes().zeros(8);

Bytes wave(const Bytes& trailing, const Bytes& data = kData) { return Bytes().add(pcmWave(data)).add(trailing); }

}  // namespace

TEST(Markers, CuePointsGetTheirLabelsAndAreSortedByPosition) {
    KELVANE_INFO_CHUNK info[1] = {};
    const Bytes trailing =
        Bytes().chunk("LIST", Bytes().id("INFO").chunk("INAM", {'t', 'i', 't', 'l', 'e', 0}))
            .chunk("cue ", Bytes().le32(3).add(cuePoint(7, 300)).add(cuePoint(2, 100)).add(cuePoint(9, 200)))
            .chunk("LIST", Bytes().id("adtl").chunk("labl", label(9, "nine"), true).chunk("note", label(2, "x"), true)
                               .chunk("labl", label(2, "two"), true));
    WaveFile w(wave(trailing));
    w.s.kd.lpInfoChunks = info;
    w.s.kd.wInfoChunks = 1;
    ASSERT_EQ(ParseHeader(&w.s.kd, &w.s.in), 0);
    ASSERT_EQ(w.s.in.dwMarkerCount, 3u);
    const uint32_t ids[3] = {2, 9, 7}, positions[3] = {100, 200, 300};
    const char* texts[3] = {"two", "nine", ""};  // cue 7 has no label
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(w.word(i, 0), ids[i]);
        EXPECT_EQ(w.word(i, 4), 0u);  // bit offset
        EXPECT_EQ(w.word(i, 8), positions[i]);
        EXPECT_EQ(w.word(i, 12), positions[i]);
        EXPECT_EQ(w.text(i), texts[i]);
    }
    const uint8_t* chunk = w.s.in.lpMarkerChunk;
    EXPECT_TRUE(isFourcc(chunk, "ZEFm"));
    EXPECT_EQ(readLE32(chunk + 8), 3u);
    EXPECT_EQ(readLE16(chunk + 12), 2);
    EXPECT_EQ(std::ftell(w.record.lpStream), 3);
    EXPECT_STREQ(info[0].szText, "title");
    EXPECT_EQ(w.s.in.desc.dwSampleCount, 4u);
}

TEST(Markers, UntrustedSizesAndShortFiles) {
    struct Case { Bytes file; uint16_t error; uint32_t markers; };
    const Case cases[] = {
        {wave({}), 0, 0},                                                            // nothing after the data
        {wave(Bytes().chunk("cue ", Bytes().le32(1000000000).add(cuePoint(1, 5)))), 0, 1},  // count past the chunk
        {wave(Bytes().id("LIST").le32(1000).id("adtl")), 230, 0},                    // size past the end
        {wave(Bytes().id("cue ").le32(0xFFFFFFFF).le32(1)), 0, 0},                   // absurd: skipped
        {wave(Bytes().chunk("cue ", Bytes().le32(1).add(cuePoint(4, 1))), Bytes{1, 2, 3}), 0, 1},  // odd data, pad
        {wave(Bytes().chunk("JUNK", {1, 2, 3}, true).chunk("cue ", Bytes().le32(1).add(cuePoint(4, 1)))), 0, 1},
    };
    for (const Case& c : cases) {
        WaveFile w(c.file);
        w.s.in.desc.dwDataOffset = 44;
        w.s.in.desc.dwDataLength = readLE32(c.file.data() + 40);
        EXPECT_EQ(ReadWaveMarkers(&w.s.kd, &w.s.in.desc), c.error);
        EXPECT_EQ(w.s.in.dwMarkerCount, c.markers);
        EXPECT_EQ(std::ftell(w.record.lpStream), 3);
    }
}

TEST(Markers, ComparisonsOrderByPosition) {
    auto rec = [](uint32_t id, uint32_t bit, uint32_t byte) {
        return Bytes().le32(id).le32(bit).le32(byte).le32(byte).zeros(2);
    };
    const Bytes a = rec(1, 7, 10), b = rec(2, 0, 12), c = rec(3, 0, 10);
    const uint8_t *pa = a.data(), *pb = b.data(), *pc = c.data();
    EXPECT_LT(ComparePCMMarkerPositions(&pa, &pb), 0);
    EXPECT_EQ(ComparePCMMarkerPositions(&pa, &pc), 0);
    EXPECT_GT(CompareZEFMarkerPositions(&pa, &pb), 0);  // 10 + 7 after 12 + 0
    EXPECT_GT(CompareZEFMarkerPositions(&pa, &pc), 0);
    const Bytes l1 = Bytes().chunk("labl", label(5, "")), l2 = Bytes().chunk("labl", label(40000, ""));
    const uint8_t *p1 = l1.data(), *p2 = l2.data();
    EXPECT_LT(CompareIDNumbers(&p1, &p2), 0);
    EXPECT_GT(CompareIDNumbers(&p2, &p1), 0);

    // Sorting keeps markers at one position in their original order.
    InputVars in{};
    uint8_t* list[3] = {const_cast<uint8_t*>(pb), const_cast<uint8_t*>(pa), const_cast<uint8_t*>(pc)};
    in.lpMarkerList = list;
    in.dwMarkerCount = 3;
    SortMarkerList(&in, false);
    EXPECT_EQ(list[0], pa);
    EXPECT_EQ(list[1], pc);
    EXPECT_EQ(list[2], pb);
    SortMarkerList(&in, true);
    EXPECT_EQ(list[0], pc);
    EXPECT_EQ(list[1], pb);
    EXPECT_EQ(list[2], pa);
}
