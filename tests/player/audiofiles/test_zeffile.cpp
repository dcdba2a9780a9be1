// ZefFile: decoding through the 2400-byte window gives the library's own
// decode, buffer after buffer; seeking restarts a fresh decoder on a frame
// block; streamed input pauses with its hysteresis until enough is there.
#include <cmath>

#include "audiofiles_test_util.h"
#include "auconvert.h"
#include "zefbuf.h"
#include "zeffile.h"

using namespace aftest;

namespace {

constexpr int kFrames = 700;  // well over two input windows of coded data

struct Case {
    const Codec* codec;
    int bufferSize;
};

std::string caseName(const testing::TestParamInfo<Case>& info) {
    return std::string(info.param.codec->name) + "_" + std::to_string(info.param.bufferSize);
}

class ZefFileDecoding : public testing::TestWithParam<Case> {};

TEST_P(ZefFileDecoding, DeliversTheLibrarysDecodeInFullBuffers) {
    const Case& c = GetParam();
    ScratchDir dir;
    Bytes zef = zeftest::zefWave(c.codec->codec(), c.codec->frames(kFrames));
    std::string path = dir.path("long.zef");
    zeftest::writeFile(path, zef);

    ZefFile f(path.c_str(), "r", nullptr);
    ASSERT_EQ(f.getState(), 0);
    EXPECT_EQ(f.getFrameBlock(), c.codec->frameBlock);
    EXPECT_EQ(f.getRefillLevel(), c.codec->frameBlock * 150);
    EXPECT_EQ(f.getHeaderSize(), int(dataOffset(zef)));
    EXPECT_EQ(f.getFileSize(), long(zef.size()));
    Reading r = readAll(f, c.bufferSize);
    EXPECT_EQ(r.last, 0);
    EXPECT_TRUE(fullBuffers(r, c.bufferSize));
    EXPECT_EQ(r.pcm, referenceDecode(zef));
}

INSTANTIATE_TEST_SUITE_P(BufferSizes, ZefFileDecoding,
                         testing::Values(Case{&kOrvo, 4320}, Case{&kOrvo, 5760}, Case{&kOrvo, 12960},
                                         Case{&kPeln, 4320}, Case{&kPeln, 5760}, Case{&kPeln, 12960}),
                         caseName);

// Headers with a compatibility block or a Guisette (whose effect colours
// the PCM) read the same way through both readers.
TEST(ZefFile, SampleFilesDecodeAsTheLibraryDecodesThem) {
    for (const char* name : {"orvo.wav", "peln.wav", "orvo_compat.wav", "orvo_guisette.wav"}) {
        Bytes zef = zeftest::readFile(dataFile(name));
        Bytes reference = referenceDecode(zef);
        ZefFile f(dataFile(name).c_str(), "r", nullptr);
        ASSERT_EQ(f.getState(), 0) << name;
        EXPECT_EQ(readAll(f, 4320).pcm, reference) << name;
        ZefBuf b(reinterpret_cast<char*>(zef.data()), int(zef.size()), nullptr, false);
        ASSERT_EQ(b.getState(), 0) << name;
        EXPECT_EQ(readAll(b, 4320).pcm, reference) << name;
    }
}

class ZefFileSeeking : public testing::TestWithParam<const Codec*> {};

TEST_P(ZefFileSeeking, ResumesOnAFrameBlockWithAFreshDecoder) {
    const Codec& codec = *GetParam();
    ScratchDir dir;
    auto frames = codec.frames(kFrames);
    Bytes zef = zeftest::zefWave(codec.codec(), frames);
    std::string path = dir.path("long.zef");
    zeftest::writeFile(path, zef);
    ZefFile f(path.c_str(), "r", nullptr);
    ASSERT_EQ(f.getState(), 0);
    readAll(f, 4320, 20);  // part of the way in

    ASSERT_EQ(f.setLocation(0.5f), 0);
    long pos = f.getCurrentLocation();
    long offset = pos - f.getHeaderSize();
    long half = long(zef.size() - dataOffset(zef)) / 2;
    EXPECT_EQ(offset % codec.frameBlock, 0);
    EXPECT_LE(offset, half);
    EXPECT_GT(offset + long(codec.frameBlock), half);
    ASSERT_EQ(f.setReadLocation(f.getCurrentLocation()), 0);
    Reading rest = readAll(f, 4320);
    EXPECT_EQ(rest.last, 0);

    size_t k = size_t(offset) / codec.frameBlock * codec.framesPerBlock;
    std::vector<zeftest::Frame> tail(frames.begin() + long(k), frames.end());
    EXPECT_EQ(rest.pcm, referenceDecode(zeftest::zefWave(codec.codec(), tail)));

    // Rewinding plays the whole sound again.
    f.rewindFile();
    ASSERT_EQ(f.setReadLocation(f.getHeaderSize()), 0);
    EXPECT_EQ(readAll(f, 4320).pcm, referenceDecode(zef));
}

INSTANTIATE_TEST_SUITE_P(Codecs, ZefFileSeeking, testing::Values(&kOrvo, &kPeln),
                         [](const testing::TestParamInfo<const Codec*>& info) { return info.param->name; });

TEST(ZefFile, SeeksWithinTheDataOnlyAndKeepsPlayingAfterARefusal) {
    ScratchDir dir;
    Bytes zef = zeftest::zefWave(zeftest::orvo(), zeftest::orvoSpeechLike(148));  // 999 bytes of frames
    std::string path = dir.path("short.zef");
    zeftest::writeFile(path, zef);
    ZefFile f(path.c_str(), "r", nullptr);
    ASSERT_EQ(f.getState(), 0);
    long header = f.getHeaderSize();

    ASSERT_EQ(f.setLocation(0.5f), 0);
    EXPECT_EQ(f.getCurrentLocation(), header + 486);  // 499 lowered to a multiple of 27
    ASSERT_EQ(f.setReadLocation(header), 0);

    EXPECT_EQ(f.setLocation(1.5f), 1);
    EXPECT_EQ(f.setLocation(-0.25f), 1);
    EXPECT_EQ(f.setLocation(NAN), 1);
    EXPECT_EQ(f.setReadLocation(long(zef.size()) + 1), 1);
    EXPECT_EQ(f.setReadLocation(header - 1), 1);
    EXPECT_EQ(f.getState(), 0);
    EXPECT_EQ(readAll(f, 4320).pcm, referenceDecode(zef));

    // The very end is a valid place: nothing more to hear.
    ASSERT_EQ(f.setLocation(1.0f), 0);
    ASSERT_EQ(f.setReadLocation(f.getCurrentLocation()), 0);
    Reading end = readAll(f, 4320);
    EXPECT_EQ(end.last, 0);
    EXPECT_TRUE(end.pcm.empty());
}

TEST(ZefFile, WarpReachesTheDecoderAndSurvivesARestart) {
    ScratchDir dir;
    Bytes zef = zeftest::zefWave(zeftest::orvo(), zeftest::orvoSpeechLike(200));
    std::string path = dir.path("warp.zef");
    zeftest::writeFile(path, zef);
    ZefFile f(path.c_str(), "r", nullptr);
    ASSERT_EQ(f.getState(), 0);
    f.setWarpValue(2.0f);
    EXPECT_FLOAT_EQ(f.getWarpValue(), 2.0f);
    ASSERT_EQ(f.setReadLocation(f.getHeaderSize()), 0);
    EXPECT_FLOAT_EQ(f.converter()->session().fWarpedLengthFactor, 2.0f);
    double ratio = double(readAll(f, 4320).pcm.size()) / double(referenceDecode(zef).size());
    EXPECT_NEAR(ratio, 2.0, 0.05);
}

// A host's first piece was written to a file; the rest is appended while
// it plays.  Once the decoder is down to one frame block it waits for 150.
TEST(ZefFile, StreamedInputWaitsUntilTheRefillLevelIsBuffered) {
    ScratchDir dir;
    Bytes zef = zeftest::zefWave(zeftest::orvo(), zeftest::orvoSpeechLike(kFrames));
    size_t header = dataOffset(zef);
    std::string path = dir.path("stream.zef");
    zeftest::writeFile(path, Bytes(zef.begin(), zef.begin() + long(header) + 100));

    ZefFile f(path.c_str(), "r", nullptr);
    ASSERT_EQ(f.getState(), 0);
    f.setNetStreamFlag();
    std::vector<char> out(4320);
    Bytes pcm;
    auto read = [&] {
        int n = f.readSegment(out.data(), int(out.size()));
        if (n > 0) pcm.insert(pcm.end(), out.begin(), out.begin() + n);
        return n;
    };
    size_t fed = header + 100;
    auto feed = [&](size_t n) {
        ASSERT_EQ(f.playMore(reinterpret_cast<const char*>(zef.data() + fed), int(n)), 0);
        fed += n;
    };

    ASSERT_EQ(read(), 4320);  // twelve frames out of the first 100 bytes
    ASSERT_EQ(read(), -2);    // 19 bytes left: at most one frame block
    long buffered = f.getReceived() - f.getReadPos();
    feed(size_t(f.getRefillLevel() - buffered));
    EXPECT_EQ(read(), -2);  // exactly refillLevel is not yet enough
    feed(1);
    EXPECT_EQ(read(), 4320);

    while (fed < zef.size()) {
        feed(std::min<size_t>(1000, zef.size() - fed));
        while (read() > 0) {
        }
    }
    ASSERT_EQ(f.playMore(nullptr, 0), 0);
    EXPECT_EQ(f.playMore(reinterpret_cast<const char*>(zef.data()), 1), 1);  // nothing beyond the announced size
    int last = 0;
    for (int i = 0; i < 1000 && (last = read()) > 0; ++i) {
    }
    EXPECT_EQ(last, 0);
    EXPECT_EQ(pcm, referenceDecode(zef));
    EXPECT_EQ(zeftest::readFile(path), zef);
}

TEST(ZefFile, AShortStreamIsReportedAndPlayedToItsEnd) {
    ScratchDir dir;
    Bytes zef = zeftest::zefWave(zeftest::peln(), pelnSpeechLike(300));
    size_t cut = dataOffset(zef) + 1000;
    std::string path = dir.path("short.zef");
    zeftest::writeFile(path, Bytes(zef.begin(), zef.begin() + long(cut)));
    ZefFile f(path.c_str(), "r", nullptr);
    ASSERT_EQ(f.getState(), 0);
    f.setNetStreamFlag();

    testing::internal::CaptureStderr();
    ASSERT_EQ(f.playMore(nullptr, 0), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Inconsistent Riff size (" + std::to_string(zef.size()) + ") and actual size (" + std::to_string(cut) +
                  ")\n");
    Reading r = readAll(f, 4320, 1000);
    EXPECT_EQ(r.last, 0);
    EXPECT_EQ(r.pcm, referenceDecode(Bytes(zef.begin(), zef.begin() + long(cut))));
}

TEST(ZefFile, FrameCallbackGetsTheUserData) {
    static uintptr_t seen = 0;
    static int frames = 0;
    auto callback = [](uint16_t, uint16_t status, void* data) -> uint16_t {
        if (status == KELVANE_STATUS_FRAME) {
            ++frames;
            seen = static_cast<KELVANE_DATA*>(data)->dwUserData;
        }
        return 0;
    };
    ZefFile f(dataFile("orvo.wav").c_str(), "r", callback);
    ASSERT_EQ(f.getState(), 0);
    int owner = 0;
    f.setUserData(&owner);
    readAll(f, 4320);
    EXPECT_EQ(frames, 89);
    EXPECT_EQ(seen, reinterpret_cast<uintptr_t>(&owner));
}

}  // namespace
