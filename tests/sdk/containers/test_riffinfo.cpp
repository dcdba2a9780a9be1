// RIFF "LIST"/"INFO" texts: filed into the caller's records, written from
// them, and the round trip.
#include <gtest/gtest.h>

#include <string>

#include "harness.h"

using namespace ct;
using namespace zef;

namespace {

KELVANE_INFO_CHUNK record(uint32_t id, uint32_t length, const std::string& text = "") {
    KELVANE_INFO_CHUNK r{id, length, {}};
    std::memcpy(r.szText, text.data(), std::min(text.size(), sizeof r.szText));
    return r;
}

Bytes text(const std::string& s) { return Bytes().str(s.data(), s.size()); }

uint16_t readInto(KELVANE_INFO_CHUNK* records, int16_t count, const Bytes& list) {
    KELVANE_DATA kd{};
    kd.lpInfoChunks = records;
    kd.wInfoChunks = count;
    const uint8_t* p = list.data();
    return RIFFReadInfoBlock(&kd, &p, uint32_t(list.size()));
}

Bytes writeFrom(KELVANE_INFO_CHUNK* records, int16_t count) {
    KELVANE_DATA kd{};
    kd.lpInfoChunks = records;
    kd.wInfoChunks = count;
    Bytes out;
    out.resize(RIFFInfoBlockSize(&kd));
    uint8_t* p = out.data();
    EXPECT_EQ(RIFFWriteInfoBlock(&kd, &p), 0);
    EXPECT_EQ(p, out.data() + out.size());
    return out;
}

}  // namespace

TEST(RiffInfo, TextsAreFiledIntoTheCallersRecords) {
    KELVANE_INFO_CHUNK r[4] = {record(0, 0), record(6, 0xFFFFFFFF), record(0, 0), record(4, 5, "mine!")};
    const Bytes list = Bytes().id("INFO").chunk("INAM", text(std::string(300, 'n'))).chunk("ICMT", text("a remark"))
                           .chunk("ISFT", text("abc"), true).chunk("IART", text("artist")).chunk("INAM", text("again"))
                           .chunk("IENG", text("no room"));
    ASSERT_EQ(readInto(r, 4, list), 0);
    EXPECT_EQ(r[0].dwId, 3u);  // the known identifier's index
    EXPECT_EQ(r[0].dwLength, 256u);
    EXPECT_EQ(std::string(r[0].szText), std::string(255, 'n'));  // the last byte is always 0
    EXPECT_STREQ(r[1].szText, "a remark");  // asked for, though a free record comes first
    EXPECT_EQ(r[2].dwId, cc("IART"));
    EXPECT_STREQ(r[3].szText, "mine!");  // pre-set with a length: kept
    EXPECT_EQ(readInto(r, 4, Bytes().id("adtl")), 305);
    EXPECT_EQ(readInto(nullptr, 4, list), 0);
}

TEST(RiffInfo, WrittenListHasEvenChunksAndSkipsEmptyRecords) {
    KELVANE_INFO_CHUNK r[5] = {record(3, 5, "HelloG"), record(0, 0), record(6, 0xFFFFFFFF), record(cc("IART"), 300),
                               record(2, 0)};
    std::memset(r[3].szText, 'x', sizeof r[3].szText);
    const Bytes expected = Bytes().id("LIST").le32(4 + 14 + 264).id("INFO").chunk("INAM", {'H', 'e', 'l', 'l', 'o', 0})
                               .chunk("IART", text(std::string(256, 'x')));
    EXPECT_EQ(writeFrom(r, 5), expected);
    EXPECT_EQ(writeFrom(r, 0), Bytes().id("LIST").le32(4).id("INFO"));
}

TEST(RiffInfo, RoundTrip) {
    KELVANE_INFO_CHUNK out[3] = {record(1, 7, "archive"), record(cc("IKEY"), 3, "k,v"), record(5, 256, std::string(255, 'e'))};
    const Bytes list = writeFrom(out, 3);
    KELVANE_INFO_CHUNK in[3] = {};
    ASSERT_EQ(readInto(in, 3, Bytes(std::vector<uint8_t>(list.begin() + 8, list.end()))), 0);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(in[i].dwId, out[i].dwId);
        EXPECT_STREQ(in[i].szText, out[i].szText);
    }
    EXPECT_EQ(in[1].dwLength, 4u);  // read back with its pad byte
}
