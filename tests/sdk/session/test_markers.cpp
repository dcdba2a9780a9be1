// Marker requests: decoding a segment of a coded file, given by its start
// and end bytes and the bit at which its first frame begins.
#include "session_util.h"

using namespace sess;

namespace {

// Sixteen frames: frame k starts at bit 54 k, so every fourth frame starts
// on a byte (byte 27 k / 4).
const std::vector<Frame>& speech() {
    static const std::vector<Frame> f = zeftest::orvoSpeechLike(16);
    return f;
}

struct Segment {
    ScratchDir dir;
    std::string path = dir.path("speech.wav");
    KELVANE_MARKER_REQUEST request{1, ZEF_MARKER_REQUEST_SIZE, 0, 0, 0, 0};
    Kd kd;
    Bytes out = Bytes(roomFor(20));
    explicit Segment(uint32_t inputType = kZefWaveFile) {
        zeftest::writeFile(path, zeftest::zefWave(zeftest::orvo(), speech()));
        kd.input(inputType, path.c_str());
        kd.output(kRawBuffer, out.data(), uint32_t(out.size()));
        kd.lpMarker = &request;
    }
    uint16_t decode() {
        uint16_t err = dcmpZefFileToBuffer(&kd);
        out.resize(err ? 0 : kd.dwOutputBytesUsed);
        return err;
    }
};

// What decoding the frames [from, to) as a file of their own gives: a
// segment starts a fresh decoder just like a new file.
Bytes framesAlone(size_t from, size_t to) {
    return decodeFrames(std::vector<Frame>(speech().begin() + long(from), speech().begin() + long(to)));
}

}  // namespace

TEST(Markers, ASegmentDecodesOnlyItsFrames) {
    Segment s;
    s.request.dwStartByte = 27;  // frame 4
    s.request.dwEndByte = 81;    // frame 12
    ASSERT_EQ(s.decode(), 0) << s.kd.dwSecondaryError;
    EXPECT_EQ(s.out.size(), 8 * kFrameBytes16);
    EXPECT_TRUE(s.out == framesAlone(4, 12));
}

TEST(Markers, ASegmentMayStartInsideAByte) {
    Segment s;
    s.request.dwStartByte = 6;  // frame 1 starts at bit 54: byte 6, bit 6
    s.request.dwBitPosition = 6;
    s.request.dwEndByte = 27;  // frames 1 to 3
    ASSERT_EQ(s.decode(), 0) << s.kd.dwSecondaryError;
    EXPECT_TRUE(s.out == framesAlone(1, 4));
}

TEST(Markers, WithoutAnEndTheSegmentRunsToTheEndOfTheData) {
    Segment s;
    s.request.dwStartByte = 54;  // frame 8
    ASSERT_EQ(s.decode(), 0) << s.kd.dwSecondaryError;
    EXPECT_TRUE(s.out == framesAlone(8, 16));
}

TEST(Markers, TheRequestMustNameDecompressionAndItsSize) {
    Segment s;
    s.request.dwSelector = 2;
    EXPECT_EQ(s.decode(), ZEFERR_INVALID_MARKER_SELECTOR);
    EXPECT_EQ(s.kd.dwSecondaryError, 2u);
    EXPECT_EQ(s.kd.lpControlBlock, nullptr);

    Segment t;
    t.request.dwSize = 12;
    EXPECT_EQ(t.decode(), ZEFERR_INVALID_MARKER_SIZEOF);
    EXPECT_EQ(t.kd.dwSecondaryError, 24u);
}

TEST(Markers, AStartBeyondTheFileIsAReadError) {
    Segment s;
    s.request.dwStartByte = 100000;
    EXPECT_EQ(s.decode(), ZEFERR_READING_FROM_FILE);
    EXPECT_EQ(s.kd.lpControlBlock, nullptr);
}

// Markers address files; with coded speech in memory the request is not
// looked at.
TEST(Markers, BufferInputIgnoresTheRequest) {
    const Bytes file = zeftest::zefWave(zeftest::orvo(), speech());
    KELVANE_MARKER_REQUEST request{7, 3, 0, 27, 0, 81};
    Kd kd;
    Bytes out(roomFor(20));
    kd.lpMarker = &request;
    kd.input(kZefWaveBuffer, file.data(), uint32_t(file.size()));
    kd.output(kRawBuffer, out.data(), uint32_t(out.size()));
    ASSERT_EQ(dcmpMirlaneDecompress(&kd), 0);
    EXPECT_EQ(kd.dwOutputBytesUsed, speech().size() * kFrameBytes16);
}
