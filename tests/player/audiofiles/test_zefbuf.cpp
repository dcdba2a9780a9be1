// ZefBuf: decoding from memory gives the library's own decode; the data is
// never changed (a read-only mapping plays); a streamed sound answers -2
// while starved, goes on when fed, ends after the end of the stream and
// takes nothing beyond the size its header announced.
#include <fcntl.h>
#include <sys/mman.h>

#include "audiofiles_test_util.h"
#include "zefbuf.h"

using namespace aftest;

namespace {

struct Case {
    const Codec* codec;
    int bufferSize;
    bool copy;
};

std::string caseName(const testing::TestParamInfo<Case>& info) {
    return std::string(info.param.codec->name) + "_" + std::to_string(info.param.bufferSize) +
           (info.param.copy ? "_copied" : "_inPlace");
}

class ZefBufDecoding : public testing::TestWithParam<Case> {};

TEST_P(ZefBufDecoding, DeliversTheLibrarysDecodeInFullBuffers) {
    const Case& c = GetParam();
    Bytes zef = zeftest::zefWave(c.codec->codec(), c.codec->frames(700));
    Bytes original = zef;
    ZefBuf b(reinterpret_cast<char*>(zef.data()), int(zef.size()), nullptr, c.copy);
    ASSERT_EQ(b.getState(), 0);
    EXPECT_EQ(b.getFrameBlock(), c.codec->frameBlock);
    EXPECT_EQ(b.getHeaderSize(), int(dataOffset(zef)));
    Reading r = readAll(b, c.bufferSize);
    EXPECT_EQ(r.last, 0);
    EXPECT_TRUE(b.isEndOfFile());
    EXPECT_TRUE(fullBuffers(r, c.bufferSize));
    EXPECT_EQ(r.pcm, referenceDecode(original));
    EXPECT_EQ(zef, original);
}

INSTANTIATE_TEST_SUITE_P(BufferSizes, ZefBufDecoding,
                         testing::Values(Case{&kOrvo, 4320, false}, Case{&kOrvo, 5760, true},
                                         Case{&kOrvo, 12960, false}, Case{&kPeln, 4320, true},
                                         Case{&kPeln, 5760, false}, Case{&kPeln, 12960, true}),
                         caseName);

class ZefBufSeeking : public testing::TestWithParam<const Codec*> {};

TEST_P(ZefBufSeeking, ResumesOnAFrameBlockWithAFreshDecoder) {
    const Codec& codec = *GetParam();
    auto frames = codec.frames(500);
    Bytes zef = zeftest::zefWave(codec.codec(), frames);
    ZefBuf b(reinterpret_cast<char*>(zef.data()), int(zef.size()), nullptr, true);
    ASSERT_EQ(b.getState(), 0);
    readAll(b, 4320, 10);

    ASSERT_EQ(b.setLocation(0.5f), 0);
    long offset = b.getCurrentLocation() - b.getHeaderSize();
    EXPECT_EQ(offset % codec.frameBlock, 0);
    ASSERT_EQ(b.setReadLocation(b.getCurrentLocation()), 0);
    Reading rest = readAll(b, 4320);
    size_t k = size_t(offset) / codec.frameBlock * codec.framesPerBlock;
    std::vector<zeftest::Frame> tail(frames.begin() + long(k), frames.end());
    EXPECT_EQ(rest.pcm, referenceDecode(zeftest::zefWave(codec.codec(), tail)));

    EXPECT_EQ(b.setLocation(1.01f), 1);
    EXPECT_EQ(b.setReadLocation(long(zef.size()) + 1), 1);
    b.rewindFile();
    ASSERT_EQ(b.setReadLocation(b.getHeaderSize()), 0);
    EXPECT_FALSE(b.isEndOfFile());
    EXPECT_EQ(readAll(b, 4320).pcm, referenceDecode(zef));
}

INSTANTIATE_TEST_SUITE_P(Codecs, ZefBufSeeking, testing::Values(&kOrvo, &kPeln),
                         [](const testing::TestParamInfo<const Codec*>& info) { return info.param->name; });

// The player maps ".x-zef" files privately; a read-only mapping proves that
// nothing is written into the data, not even while the header is parsed.
TEST(ZefBuf, PlaysFromAReadOnlyMappingAndLeavesTheDataAsItWas) {
    std::string path = dataFile("peln.wav");
    Bytes zef = zeftest::readFile(path);
    int fd = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    void* map = ::mmap(nullptr, zef.size(), PROT_READ, MAP_PRIVATE, fd, 0);
    ::close(fd);
    ASSERT_NE(map, MAP_FAILED);
    {
        ZefBuf b(static_cast<char*>(map), int(zef.size()), nullptr, false);
        ASSERT_EQ(b.getState(), 0);
        EXPECT_EQ(readAll(b, 4320).pcm, referenceDecode(zef));
        // A mapped file is not a stream: it takes no more data.
        EXPECT_EQ(b.getNetStreamFlag(), 0);
        EXPECT_EQ(b.playMore("more", 4), 1);
    }
    ::munmap(map, zef.size());

    Bytes copy = zef;
    ZefBuf b(reinterpret_cast<char*>(copy.data()), int(copy.size()), nullptr, true);
    ASSERT_EQ(b.getState(), 0);
    EXPECT_EQ(std::memcmp(zef.data(), b.getData(), zef.size()), 0);
    ASSERT_EQ(b.setReadLocation(b.getHeaderSize()), 0);
    EXPECT_EQ(std::memcmp(zef.data(), b.getData(), zef.size()), 0);
}

// A host hands the first piece and streams the rest while it plays.
TEST(ZefBuf, AStreamWaitsWhenStarvedAndGoesOnWhenFed) {
    Bytes zef = zeftest::zefWave(zeftest::orvo(), zeftest::orvoSpeechLike(400));
    size_t fed = dataOffset(zef) + 100;
    ZefBuf b(reinterpret_cast<char*>(zef.data()), int(fed), nullptr, true);
    ASSERT_EQ(b.getState(), 0);
    b.setNetStreamFlag();
    EXPECT_EQ(b.getFileSize(), long(zef.size()));

    std::vector<char> out(4320);
    Bytes pcm;
    auto drain = [&] {
        int n;
        int reads = 0;
        while ((n = b.readSegment(out.data(), int(out.size()))) > 0 && ++reads < 1000)
            pcm.insert(pcm.end(), out.begin(), out.begin() + n);
        return n;
    };
    EXPECT_EQ(drain(), -2);
    EXPECT_EQ(b.readSegment(out.data(), int(out.size())), -2);  // still nothing
    size_t before = pcm.size();
    while (fed < zef.size()) {
        size_t piece = std::min<size_t>(333, zef.size() - fed);
        ASSERT_EQ(b.playMore(reinterpret_cast<const char*>(zef.data() + fed), int(piece)), 0);
        fed += piece;
        // With every announced byte there, the sound ends by itself.
        EXPECT_EQ(drain(), fed < zef.size() ? -2 : 0);
    }
    EXPECT_GT(pcm.size(), before);
    EXPECT_TRUE(b.isEndOfFile());

    EXPECT_EQ(b.playMore("x", 1), 1);
    EXPECT_EQ(b.getReceived(), long(zef.size()));
    EXPECT_EQ(b.getState(), 0);
    testing::internal::CaptureStderr();
    ASSERT_EQ(b.playMore(nullptr, 0), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(b.readSegment(out.data(), int(out.size())), 0);
    EXPECT_EQ(pcm, referenceDecode(zef));
}

TEST(ZefBuf, StreamedDataBeyondTheAnnouncedSizeIsRefusedWhole) {
    Bytes zef = zeftest::zefWave(zeftest::peln(), pelnSpeechLike(100));
    size_t first = dataOffset(zef) + 50;
    ZefBuf b(reinterpret_cast<char*>(zef.data()), int(first), nullptr, true);
    ASSERT_EQ(b.getState(), 0);
    EXPECT_EQ(b.playMore(reinterpret_cast<const char*>(zef.data() + first), 10), 1);  // not a stream yet
    b.setNetStreamFlag();

    Bytes tooMuch(zef.begin() + long(first), zef.end());
    tooMuch.push_back(0x55);
    EXPECT_EQ(b.playMore(reinterpret_cast<const char*>(tooMuch.data()), int(tooMuch.size())), 1);
    EXPECT_EQ(b.getReceived(), long(first));
    EXPECT_EQ(b.playMore(reinterpret_cast<const char*>(tooMuch.data()), -5), 1);
    ASSERT_EQ(b.playMore(reinterpret_cast<const char*>(tooMuch.data()), int(tooMuch.size()) - 1), 0);
    EXPECT_EQ(b.getState(), 0);
    ASSERT_EQ(b.playMore(nullptr, 0), 0);
    EXPECT_EQ(readAll(b, 4320).pcm, referenceDecode(zef));

    // A first piece already longer than its header announces is no sound.
    Bytes longer = zef;
    longer.insert(longer.end(), 40, 0);
    ZefBuf refused(reinterpret_cast<char*>(longer.data()), int(longer.size()), nullptr, true);
    EXPECT_EQ(refused.getState(), 1);
}

TEST(ZefBuf, AShortStreamIsReportedAndPlayedToItsEnd) {
    Bytes zef = zeftest::zefWave(zeftest::orvo(), zeftest::orvoSpeechLike(300));
    size_t cut = dataOffset(zef) + 1000;
    ZefBuf b(reinterpret_cast<char*>(zef.data()), int(dataOffset(zef) + 20), nullptr, true);
    ASSERT_EQ(b.getState(), 0);
    b.setNetStreamFlag();
    ASSERT_EQ(b.playMore(reinterpret_cast<const char*>(zef.data() + dataOffset(zef) + 20), 980), 0);
    testing::internal::CaptureStderr();
    ASSERT_EQ(b.playMore(nullptr, 0), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Inconsistent Riff size (" + std::to_string(zef.size()) + ") and actual size (" + std::to_string(cut) +
                  ")\n");
    EXPECT_EQ(b.getFileSize(), long(cut));
    Reading r = readAll(b, 4320, 1000);
    EXPECT_EQ(r.last, 0);
    EXPECT_EQ(r.pcm, referenceDecode(Bytes(zef.begin(), zef.begin() + long(cut))));
}

}  // namespace
