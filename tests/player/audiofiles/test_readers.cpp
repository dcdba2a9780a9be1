// ZefFile (a file through a 2400-byte window) and ZefBuf (memory) read the
// same way: the library's own decode in full buffers, seeks onto a frame
// block with a fresh decoder, streamed input that waits and plays on, and
// failures answered with -1, never with made-up samples or a clean end.
#include <fcntl.h>
#include <malloc.h>
#include <sys/mman.h>

#include <cmath>
#include <filesystem>
#include <memory>

#include "audiofiles_test_util.h"
#include "zefbuf.h"
#include "zeffile.h"

using namespace aftest;
using zeftest::ScratchDir;

namespace {

// The first `length` bytes of zef, as the reader under test holds them.
struct FileReader {
    ScratchDir dir;
    std::string path = dir.path("sound.zef");
    std::unique_ptr<ZefFile> open(const Bytes& zef, size_t length, KELVANE_CALLBACK cb = nullptr) {
        zeftest::writeFile(path, Bytes(zef.begin(), zef.begin() + long(length)));
        return std::make_unique<ZefFile>(path.c_str(), "r", cb);
    }
};
struct BufReader {
    std::unique_ptr<ZefBuf> open(const Bytes& zef, size_t length, KELVANE_CALLBACK cb = nullptr) {
        return std::make_unique<ZefBuf>(reinterpret_cast<char*>(const_cast<uint8_t*>(zef.data())), int(length), cb,
                                        true);
    }
};

template <class R>
class Readers : public testing::Test {
protected:
    auto open(const Bytes& zef, KELVANE_CALLBACK cb = nullptr) { return reader.open(zef, zef.size(), cb); }
    R reader;
};
using ReaderKinds = testing::Types<FileReader, BufReader>;
TYPED_TEST_SUITE(Readers, ReaderKinds);

size_t dataOffset(const Bytes& zef) { return zeftest::waveDataOffset(zef); }

TYPED_TEST(Readers, DeliverTheLibrarysDecodeInFullBuffers) {
    for (const Codec* c : {&kOrvo, &kPeln})
        for (int size : {4320, 5760, 12960}) {
            SCOPED_TRACE(std::string(c->name) + " " + std::to_string(size));
            Bytes zef = c->wave(700);  // well over two input windows
            auto f = this->open(zef);
            ASSERT_EQ(f->getState(), 0);
            EXPECT_EQ(f->getFrameBlock(), c->frameBlock);
            EXPECT_EQ(f->getHeaderSize(), int(dataOffset(zef)));
            EXPECT_EQ(f->getFileSize(), long(zef.size()));
            Reading r = readAll(*f, size);
            EXPECT_EQ(r.last, 0);
            EXPECT_TRUE(r.fullBuffers(size));
            EXPECT_EQ(r.pcm, referenceDecode(zef));
        }
    // Headers with a compatibility block or a Guisette (whose effect colours the PCM).
    for (const char* name : {"orvo_compat.wav", "orvo_guisette.wav"}) {
        Bytes zef = zeftest::readFile(zeftest::dataFile(name));
        auto f = this->open(zef);
        ASSERT_EQ(f->getState(), 0) << name;
        EXPECT_EQ(readAll(*f).pcm, referenceDecode(zef)) << name;
    }
}

TYPED_TEST(Readers, SeekResumesOnAFrameBlockWithAFreshDecoder) {
    for (const Codec* c : {&kOrvo, &kPeln}) {
        SCOPED_TRACE(c->name);
        auto frames = c->frames(500);
        Bytes zef = zeftest::zefWave(c->codec(), frames);
        auto f = this->open(zef);
        ASSERT_EQ(f->getState(), 0);
        readAll(*f, 4320, 20);  // part of the way in
        ASSERT_EQ(f->setLocation(0.5f), 0);
        long offset = f->getCurrentLocation() - f->getHeaderSize();
        long half = long(zef.size() - dataOffset(zef)) / 2;
        EXPECT_EQ(offset % c->frameBlock, 0);
        EXPECT_LE(offset, half);
        EXPECT_GT(offset + long(c->frameBlock), half);
        ASSERT_EQ(f->setReadLocation(f->getCurrentLocation()), 0);
        size_t k = size_t(offset) / c->frameBlock * c->framesPerBlock;
        Reading rest = readAll(*f);
        EXPECT_EQ(rest.last, 0);
        EXPECT_EQ(rest.pcm, referenceDecode(zeftest::zefWave(c->codec(), {frames.begin() + long(k), frames.end()})));

        // Refusals move nothing and break nothing.
        for (float bad : {1.5f, -0.25f, NAN}) EXPECT_EQ(f->setLocation(bad), 1) << bad;
        EXPECT_EQ(f->setReadLocation(long(zef.size()) + 1), 1);
        EXPECT_EQ(f->setReadLocation(f->getHeaderSize() - 1), 1);
        f->rewindFile();
        ASSERT_EQ(f->setReadLocation(f->getHeaderSize()), 0);
        EXPECT_EQ(f->getState(), 0);
        EXPECT_EQ(readAll(*f).pcm, referenceDecode(zef));

        ASSERT_EQ(f->setLocation(1.0f), 0);  // the very end: nothing more to hear
        ASSERT_EQ(f->setReadLocation(f->getCurrentLocation()), 0);
        Reading end = readAll(*f);
        EXPECT_EQ(end.last, 0);
        EXPECT_LT(end.pcm.size(), c->framesPerBlock * 360 + 1) << "at most the last partial block";
    }
}

// The frame callback sees the user data, and a warp set before a restart
// makes the sound twice as long.
TYPED_TEST(Readers, CallbackAndWarpReachTheDecoder) {
    static uintptr_t seen;
    static int frames;
    seen = 0, frames = 0;
    auto callback = [](uint16_t, uint16_t status, void* data) -> uint16_t {
        if (status == KELVANE_STATUS_FRAME) ++frames, seen = static_cast<KELVANE_DATA*>(data)->dwUserData;
        return 0;
    };
    Bytes zef = kOrvo.wave(200);
    auto f = this->open(zef, callback);
    ASSERT_EQ(f->getState(), 0);
    int owner = 0;
    f->setUserData(&owner);
    f->setWarpValue(2.0f);
    EXPECT_FLOAT_EQ(f->getWarpValue(), 2.0f);
    ASSERT_EQ(f->setReadLocation(f->getHeaderSize()), 0);
    Bytes pcm = readAll(*f).pcm;
    EXPECT_NEAR(double(pcm.size()) / double(referenceDecode(zef).size()), 2.0, 0.05);
    EXPECT_EQ(frames, 200);
    EXPECT_EQ(seen, reinterpret_cast<uintptr_t>(&owner));
}

// A decode that fails part way (here the callback aborts at frame 300)
// ends with -1 after what was decoded: no buffer of stale samples follows.
TYPED_TEST(Readers, ADecodeFailingMidStreamAnswersMinusOne) {
    static int frames;
    frames = 0;
    auto abortLate = [](uint16_t, uint16_t status, void*) -> uint16_t {
        return status == KELVANE_STATUS_FRAME && ++frames >= 300 ? 1 : 0;
    };
    Bytes zef = kOrvo.wave(600);
    auto f = this->open(zef, abortLate);
    ASSERT_EQ(f->getState(), 0);
    Reading r = readAll(*f);
    EXPECT_EQ(r.last, -1);
    Bytes reference = referenceDecode(zef);
    EXPECT_LT(r.pcm.size(), 300u * 360);
    EXPECT_GT(r.pcm.size(), 250u * 360);
    EXPECT_TRUE(std::equal(r.pcm.begin(), r.pcm.end(), reference.begin()));
}

// A reader that could not open its sound answers -1 to every read, as a
// stream too: never 0, which would pass for a sound that ended well.
TYPED_TEST(Readers, AReaderThatFailedToOpenAnswersMinusOne) {
    Bytes junk(300, 0x41);
    testing::internal::CaptureStderr();
    auto f = this->open(junk);
    testing::internal::GetCapturedStderr();
    ASSERT_EQ(f->getState(), 1);
    char out[4320];
    EXPECT_EQ(f->readSegment(out, sizeof out), -1);
    f->setNetStreamFlag();
    EXPECT_EQ(f->readSegment(out, sizeof out), -1);
    EXPECT_EQ(f->readNetStreamSegment(out, sizeof out), -1);
}

// A host hands the first piece and streams the rest while it plays: the
// reader answers -2 while starved, plays on when fed, takes nothing beyond
// the size the header announced, and ends by itself once all is there.
TYPED_TEST(Readers, AStreamWaitsWhenStarvedAndPlaysEverything) {
    Bytes zef = kPeln.wave(400);
    size_t fed = dataOffset(zef) + 100;
    auto f = this->reader.open(zef, fed);
    ASSERT_EQ(f->getState(), 0);
    f->setNetStreamFlag();
    EXPECT_EQ(f->getFileSize(), long(zef.size()));
    Reading r = readAll(*f);
    EXPECT_EQ(r.last, -2);
    Bytes pcm = r.pcm;

    Bytes tooMuch(zef.begin() + long(fed), zef.end());
    tooMuch.push_back(0x55);
    EXPECT_EQ(f->playMore(reinterpret_cast<const char*>(tooMuch.data()), int(tooMuch.size())), 1);
    EXPECT_EQ(f->playMore(reinterpret_cast<const char*>(tooMuch.data()), -5), 1);
    EXPECT_EQ(f->getReceived(), long(fed));
    while (fed < zef.size()) {
        size_t piece = std::min<size_t>(1000, zef.size() - fed);
        ASSERT_EQ(f->playMore(reinterpret_cast<const char*>(zef.data() + fed), int(piece)), 0);
        fed += piece;
        r = readAll(*f, 4320, 1000);
        pcm.insert(pcm.end(), r.pcm.begin(), r.pcm.end());
        EXPECT_NE(r.last, -1);
    }
    EXPECT_EQ(f->playMore("x", 1), 1);
    ASSERT_EQ(f->playMore(nullptr, 0), 0);
    r = readAll(*f, 4320, 1000);
    pcm.insert(pcm.end(), r.pcm.begin(), r.pcm.end());
    EXPECT_EQ(r.last, 0);
    EXPECT_EQ(pcm, referenceDecode(zef));
}

// A stream that ends short of its announced size says so and plays what came.
TYPED_TEST(Readers, AShortStreamIsReportedAndPlayedToItsEnd) {
    Bytes zef = kOrvo.wave(300);
    size_t cut = dataOffset(zef) + 1000;
    auto f = this->reader.open(zef, cut);
    ASSERT_EQ(f->getState(), 0);
    f->setNetStreamFlag();
    testing::internal::CaptureStderr();
    ASSERT_EQ(f->playMore(nullptr, 0), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Inconsistent Riff size (" + std::to_string(zef.size()) +
                                                          ") and actual size (" + std::to_string(cut) + ")\n");
    EXPECT_EQ(f->getFileSize(), long(cut));
    Reading r = readAll(*f, 4320, 1000);
    EXPECT_EQ(r.last, 0);
    EXPECT_EQ(r.pcm, referenceDecode(Bytes(zef.begin(), zef.begin() + long(cut))));
}

// Once the decoder is down to one frame block ZefFile waits until more than
// 150 blocks are buffered, so that playing does not stutter; what a host
// streams is appended to the file.
TEST(ZefFile, AStarvedStreamWaitsForTheRefillLevel) {
    FileReader reader;
    Bytes zef = kOrvo.wave(700);
    size_t fed = dataOffset(zef) + 100;
    auto f = reader.open(zef, fed);
    ASSERT_EQ(f->getState(), 0);
    EXPECT_EQ(f->getRefillLevel(), 27 * 150);
    f->setNetStreamFlag();
    char out[4320];
    auto feed = [&](size_t n) {
        ASSERT_EQ(f->playMore(reinterpret_cast<const char*>(zef.data() + fed), int(n)), 0);
        fed += n;
    };
    ASSERT_EQ(f->readSegment(out, sizeof out), 4320);  // twelve frames out of the first 100 bytes
    ASSERT_EQ(f->readSegment(out, sizeof out), -2);    // 19 bytes left: at most one frame block
    feed(size_t(f->getRefillLevel() - (f->getReceived() - f->getReadPos())));
    EXPECT_EQ(f->readSegment(out, sizeof out), -2);  // exactly the refill level is not yet enough
    feed(1);
    EXPECT_EQ(f->readSegment(out, sizeof out), 4320);
    feed(zef.size() - fed);
    EXPECT_EQ(zeftest::readFile(reader.path), zef);
}

// The player maps ".x-zef" files privately and read-only: nothing may be
// written into the data, not even while the header is parsed.
TEST(ZefBuf, PlaysFromAReadOnlyMappingAndTakesNoMoreData) {
    std::string path = zeftest::dataFile("peln.wav");
    Bytes zef = zeftest::readFile(path);
    int fd = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    void* map = ::mmap(nullptr, zef.size(), PROT_READ, MAP_PRIVATE, fd, 0);
    ::close(fd);
    ASSERT_NE(map, MAP_FAILED);
    {
        ZefBuf b(static_cast<char*>(map), int(zef.size()), nullptr, false);
        ASSERT_EQ(b.getState(), 0);
        EXPECT_EQ(readAll(b).pcm, referenceDecode(zef));
        EXPECT_EQ(b.playMore("more", 4), 1);
    }
    ::munmap(map, zef.size());
    // A first piece already longer than its header announces is no sound.
    zef.insert(zef.end(), 40, 0);
    EXPECT_EQ(ZefBuf(reinterpret_cast<char*>(zef.data()), int(zef.size()), nullptr, true).getState(), 1);
}

// A stream copied into the reader's own buffer takes memory for the bytes
// that arrive, not the 4 GiB its header may announce, and refuses to hold
// more than 64 MiB.
TEST(ZefBuf, AStreamTakesMemoryForWhatArrives) {
    const Bytes zef = kOrvo.wave(12000);  // 81 kB: the buffer grows on the way
    Bytes announced = zef;
    for (int i = 0; i < 4; ++i) announced[4 + size_t(i)] = 0xFF;
    const size_t first = dataOffset(zef) + 100;
    const size_t before = mallinfo2().uordblks + mallinfo2().hblkhd;
    ZefBuf b(reinterpret_cast<char*>(announced.data()), int(first), nullptr, true);
    ASSERT_EQ(b.getState(), 0);
    EXPECT_LT(mallinfo2().uordblks + mallinfo2().hblkhd - before, size_t(1) << 20);
    b.setNetStreamFlag();
    for (size_t fed = first; fed < zef.size(); fed += 1000)
        ASSERT_EQ(b.playMore(reinterpret_cast<const char*>(zef.data() + fed), int(std::min<size_t>(1000, zef.size() - fed))), 0);
    testing::internal::CaptureStderr();
    ASSERT_EQ(b.playMore(nullptr, 0), 0);  // the end, short of what was announced
    testing::internal::GetCapturedStderr();
    const Bytes pcm = readAll(b).pcm, reference = referenceDecode(zef);  // the reference stops at 4 MiB
    ASSERT_EQ(pcm.size(), 12000u * 360);
    EXPECT_TRUE(std::equal(reference.begin(), reference.end(), pcm.begin()));

    ZefBuf c(reinterpret_cast<char*>(announced.data()), int(first), nullptr, true);
    c.setNetStreamFlag();
    const std::vector<char> piece(8 << 20);
    int refused = 0;
    for (int i = 0; i < 9 && !refused; ++i) refused = c.playMore(piece.data(), int(piece.size()));
    EXPECT_EQ(refused, 1);
    EXPECT_GT(c.getReceived(), 56L << 20);
    EXPECT_LE(c.getReceived(), 64L << 20);
}

// Bad coded input (the malformed corpus, and good files cut anywhere) never
// crashes or hangs a reader: it is refused at the start or ends with 0 or
// -1, also after a seek; a reader that is not a stream never answers -2.
TYPED_TEST(Readers, BadInputIsRefusedOrEndsCleanly) {
    std::vector<std::pair<std::string, Bytes>> inputs;
    for (const auto& entry : std::filesystem::directory_iterator(zeftest::dataFile("bad")))
        inputs.emplace_back(entry.path().filename(), zeftest::readFile(entry.path()));
    for (const char* name : {"orvo.wav", "peln.wav", "orvo_guisette.wav"}) {
        Bytes whole = zeftest::readFile(zeftest::dataFile(name));
        size_t h = dataOffset(whole);
        for (size_t cut : {size_t(0), size_t(8), size_t(20), h - 9, h - 1, h, h + 1, h + 13, whole.size() - 1})
            inputs.emplace_back(name + std::string(" cut at ") + std::to_string(cut),
                                Bytes(whole.begin(), whole.begin() + long(cut)));
    }
    EXPECT_GT(inputs.size(), 40u);
    testing::internal::CaptureStderr();
    for (const auto& [what, bytes] : inputs) {
        auto f = this->open(bytes);
        if (f->getState() != 0) continue;
        Reading r = readAll(*f, 4320, 500);
        EXPECT_TRUE(r.last == 0 || r.last == -1) << what << ": " << r.last;
        if (f->setLocation(0.7f) == 0 && f->setReadLocation(f->getCurrentLocation()) == 0) {
            r = readAll(*f, 4320, 500);
            EXPECT_TRUE(r.last == 0 || r.last == -1) << what << " after a seek: " << r.last;
        }
    }
    testing::internal::GetCapturedStderr();
}

}  // namespace
