// The file device: the WAVE file holds exactly what was played, in order.
#include <gtest/gtest.h>

#include <cerrno>

#include "audio_test_util.h"

using namespace zefaudio_test;

namespace {

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}
uint16_t le16(const std::vector<uint8_t>& b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }

struct Wave {
    uint16_t channels, bits;
    uint32_t rate;
    std::vector<uint8_t> data;
};

Wave readWave(const std::string& path) {
    std::vector<uint8_t> f = readFile(path);
    Wave w{};
    EXPECT_GE(f.size(), 44u);
    if (f.size() < 44) return w;
    EXPECT_EQ(std::string(f.begin(), f.begin() + 4), "RIFF");
    EXPECT_EQ(std::string(f.begin() + 8, f.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(le32(f, 16), 16u);
    EXPECT_EQ(le16(f, 20), 1) << "PCM";
    w.channels = le16(f, 22);
    w.rate = le32(f, 24);
    w.bits = le16(f, 34);
    uint32_t block = w.channels * w.bits / 8;
    EXPECT_EQ(le16(f, 32), block);
    EXPECT_EQ(le32(f, 28), w.rate * block);
    EXPECT_EQ(std::string(f.begin() + 36, f.begin() + 40), "data");
    uint32_t size = le32(f, 40);
    uint32_t padded = size + (size & 1);
    EXPECT_EQ(f.size(), 44u + padded) << "file length agrees with the data size";
    EXPECT_EQ(le32(f, 4), 36 + padded);
    if (f.size() >= 44 + size) w.data.assign(f.begin() + 44, f.begin() + 44 + size);
    return w;
}

class ZefAudioWave : public ::testing::Test {
protected:
    std::string path = tempDir() + "/out.wav";
    std::string device = "file:" + path + ",speed=50";
};

}  // namespace

TEST_F(ZefAudioWave, HoldsThePcmWrittenInOrderWithoutMarkers) {
    int fd = openDevice(device);
    ASSERT_GE(fd, 0) << strerror(errno);
    std::vector<uint8_t> expected;
    for (int piece = 0; piece < 6; ++piece) {
        std::vector<uint8_t> pcm = ramp16(700 + 111 * piece, int16_t(-3000 * piece), 7);
        // split inside a sample: the halves must join up again
        std::vector<uint8_t> head(pcm.begin(), pcm.begin() + 301), tail(pcm.begin() + 301, pcm.end());
        writeAll(fd, head);
        marker(fd);
        writeAll(fd, tail);
        marker(fd);
        expected.insert(expected.end(), pcm.begin(), pcm.end());
    }
    ASSERT_EQ(zefAudioClose(fd), 0) << "close plays the queue out before it completes the file";

    Wave w = readWave(path);
    EXPECT_EQ(w.channels, 1);
    EXPECT_EQ(w.rate, 8000u);
    EXPECT_EQ(w.bits, 16);
    EXPECT_EQ(w.data, expected);
}

TEST_F(ZefAudioWave, ConvertsSignedBytesAndPadsOddData) {
    int fd = openDevice(device);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(setPlay(fd, [](audio_prinfo& p) {
                  p.sample_rate = 11025;
                  p.precision = 8;
                  p.channels = 1;
              }), 0);
    std::vector<uint8_t> pcm = {0x80, 0xff, 0x00, 0x01, 0x7f};  // -128 -1 0 1 127
    writeAll(fd, pcm);
    ASSERT_EQ(zefAudioClose(fd), 0);
    Wave w = readWave(path);
    EXPECT_EQ(w.rate, 11025u);
    EXPECT_EQ(w.bits, 8);
    EXPECT_EQ(w.data, (std::vector<uint8_t>{0x00, 0x7f, 0x80, 0x81, 0xff}));
}

TEST_F(ZefAudioWave, KeepsOneFormatPerFile) {
    int fd = openDevice(device);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(setPlay(fd, [](audio_prinfo& p) { p.channels = 2; p.precision = 24; }), 0);
    std::vector<uint8_t> frame = {1, 2, 3, 4, 5, 6};
    writeAll(fd, frame);
    marker(fd);
    ASSERT_TRUE(waitInfo(fd, [](const audio_info& i) { return i.play.eof == 1; }));
    EXPECT_EQ(setPlay(fd, [](audio_prinfo& p) { p.channels = 1; }), -1);
    EXPECT_EQ(errno, EBUSY);
    ASSERT_EQ(zefAudioClose(fd), 0);
    Wave w = readWave(path);
    EXPECT_EQ(w.channels, 2);
    EXPECT_EQ(w.bits, 24);
    EXPECT_EQ(w.data, frame);
}

TEST_F(ZefAudioWave, EachOpenStartsAFreshFile) {
    int fd = openDevice(device);
    ASSERT_GE(fd, 0);
    writeAll(fd, ramp16(1000, 5));
    ASSERT_EQ(zefAudioClose(fd), 0);
    fd = openDevice(device);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(setPlay(fd, [](audio_prinfo& p) { p.pause = 1; }), 0);
    writeAll(fd, ramp16(1000, 5));
    ASSERT_EQ(zefAudioClose(fd), 0) << "a paused device discards its queue";
    EXPECT_TRUE(readWave(path).data.empty());
}

TEST_F(ZefAudioWave, UnwritablePathFailsWithAReason) {
    std::string bad = "file:" + tempDir() + "/missing/out.wav";
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(openDevice(bad), -1);
    EXPECT_EQ(errno, ENOENT);
    std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("missing/out.wav: No such file or directory"), std::string::npos) << said;
}
