// The record side of the device: the WAVE file source (sped up), the null
// source, record gain, pause, exclusivity and the handles' access modes.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>

#include "audio_test_util.h"

using namespace zefaudio_test;

namespace {

void writeLE16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void writeLE32(uint8_t* p, uint32_t v) {
    writeLE16(p, uint16_t(v));
    writeLE16(p + 2, uint16_t(v >> 16));
}

// A 16-bit PCM WAVE file of the given samples (interleaved when stereo).
std::string writeWave(const std::string& dir, const std::vector<int16_t>& samples, uint32_t rate,
                      uint16_t channels = 1) {
    std::vector<uint8_t> f(44 + samples.size() * 2);
    std::memcpy(f.data(), "RIFF", 4);
    writeLE32(f.data() + 4, uint32_t(f.size() - 8));
    std::memcpy(f.data() + 8, "WAVEfmt ", 8);
    writeLE32(f.data() + 16, 16);
    writeLE16(f.data() + 20, 1);
    writeLE16(f.data() + 22, channels);
    writeLE32(f.data() + 24, rate);
    writeLE32(f.data() + 28, rate * 2 * channels);
    writeLE16(f.data() + 32, uint16_t(2 * channels));
    writeLE16(f.data() + 34, 16);
    std::memcpy(f.data() + 36, "data", 4);
    writeLE32(f.data() + 40, uint32_t(samples.size() * 2));
    for (size_t i = 0; i < samples.size(); ++i) writeLE16(f.data() + 44 + 2 * i, uint16_t(samples[i]));
    std::string path = dir + "/in.wav";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(f.data()), long(f.size()));
    return path;
}

std::vector<int16_t> pattern(size_t n) {
    std::vector<int16_t> s(n);
    for (size_t i = 0; i < n; ++i) s[i] = int16_t((i * 7919) % 65536 - 32768);
    return s;
}

int openSource(const std::string& device, int flags = O_RDONLY | O_NONBLOCK) {
    int fd = zefAudioOpen(device.c_str(), flags);
    EXPECT_GE(fd, 0) << device << ": " << strerror(errno);
    return fd;
}

// Reads until the source ends; the buffer is odd-sized so that only whole
// frames can come back.
std::vector<int16_t> readToEnd(int fd, size_t frameBytes = 2) {
    std::vector<int16_t> got;
    uint8_t buf[333];
    for (int idle = 0; idle < 20000;) {
        ssize_t n = zefAudioRead(fd, buf, sizeof buf);
        if (n == 0) break;
        if (n < 0) {
            EXPECT_EQ(errno, EAGAIN) << strerror(errno);
            if (errno != EAGAIN) break;
            ++idle;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            continue;
        }
        EXPECT_EQ(size_t(n) % frameBytes, 0u);
        for (ssize_t i = 0; i + 1 < n; i += 2) {
            int16_t s;
            std::memcpy(&s, buf + i, 2);
            got.push_back(s);
        }
    }
    return got;
}

int setRecord(int fd, const std::function<void(audio_prinfo&)>& change) {
    audio_info info;
    AUDIO_INITINFO(&info);
    change(info.record);
    return zefAudioSetInfo(fd, &info);
}

}  // namespace

TEST(ZefAudioCapture, FileSourceDeliversEveryFrameThenEnds) {
    std::vector<int16_t> samples = pattern(20001);
    std::string path = writeWave(tempDir(), samples, 8000);
    int fd = openSource("file:" + path + ",speed=1000");
    audio_info info = getInfo(fd);
    EXPECT_EQ(info.record.open, 1);
    EXPECT_EQ(info.record.sample_rate, 8000u);
    EXPECT_EQ(info.record.gain, 255u) << "recording starts at unity gain";

    EXPECT_EQ(readToEnd(fd), samples);
    info = getInfo(fd);
    EXPECT_EQ(info.record.samples, 20001u);
    EXPECT_EQ(info.record.active, 0) << "the source has ended";
    uint8_t buf[4];
    EXPECT_EQ(zefAudioRead(fd, buf, sizeof buf), 0) << "the end stays the end";
    EXPECT_EQ(zefAudioClose(fd), 0);
}

TEST(ZefAudioCapture, NothingBeforeItIsDueAndNothingWhilePaused) {
    // 1000 Hz at a thousandth of real time: one frame a second.
    std::string path = writeWave(tempDir(), pattern(100), 1000);
    int fd = openSource("file:" + path + ",speed=0.001");
    uint8_t buf[64];
    EXPECT_EQ(zefAudioRead(fd, buf, sizeof buf), -1);
    EXPECT_EQ(errno, EAGAIN);
    EXPECT_EQ(zefAudioRead(fd, buf, 1), -1) << "less than one frame";
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(getInfo(fd).record.active, 1);
    EXPECT_EQ(zefAudioClose(fd), 0);

    fd = openSource("file:" + path + ",speed=1000");
    ASSERT_EQ(setRecord(fd, [](audio_prinfo& p) { p.pause = 1; }), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(zefAudioRead(fd, buf, sizeof buf), -1) << "paused";
    EXPECT_EQ(errno, EAGAIN);
    ASSERT_EQ(setRecord(fd, [](audio_prinfo& p) { p.pause = 0; }), 0);
    EXPECT_EQ(readToEnd(fd), pattern(100)) << "nothing was lost to the pause";
    EXPECT_EQ(zefAudioClose(fd), 0);
}

TEST(ZefAudioCapture, GainScalesCapturedSamplesAndIsKeptBetweenOpens) {
    std::vector<int16_t> samples = pattern(3000);
    std::string path = writeWave(tempDir(), samples, 8000);
    std::string device = "file:" + path + ",speed=1000";
    int fd = openSource(device);
    ASSERT_EQ(setRecord(fd, [](audio_prinfo& p) { p.gain = 51; }), 0);
    std::vector<int16_t> want;
    for (int16_t s : samples) want.push_back(int16_t(s * 51 / 255));
    EXPECT_EQ(readToEnd(fd), want);
    EXPECT_EQ(zefAudioClose(fd), 0);

    fd = openSource(device);
    EXPECT_EQ(getInfo(fd).record.gain, 51u);
    ASSERT_EQ(setRecord(fd, [](audio_prinfo& p) { p.gain = 300; }), 0);
    EXPECT_EQ(getInfo(fd).record.gain, 255u) << "clamped";
    EXPECT_EQ(zefAudioClose(fd), 0);
}

TEST(ZefAudioCapture, FileSourceKeepsItsFormatAndRefusesBadFiles) {
    std::string dir = tempDir();
    std::string path = writeWave(dir, pattern(400), 16000, 2);
    int fd = openSource("file:" + path + ",speed=1000");
    audio_info info = getInfo(fd);
    EXPECT_EQ(info.record.sample_rate, 16000u);
    EXPECT_EQ(info.record.channels, 2u);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(setRecord(fd, [](audio_prinfo& p) { p.sample_rate = 8000; }), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("recorded as it is"), std::string::npos);
    EXPECT_EQ(readToEnd(fd, 4), pattern(400));
    EXPECT_EQ(zefAudioClose(fd), 0);

    std::string text = dir + "/text.wav";
    std::ofstream(text) << "no sound here";
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(zefAudioOpen(("file:" + text).c_str(), O_RDONLY), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("not a WAVE file"), std::string::npos);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(zefAudioOpen(("file:" + dir + "/missing.wav").c_str(), O_RDONLY), -1);
    EXPECT_EQ(errno, ENOENT);
    ::testing::internal::GetCapturedStderr();
}

TEST(ZefAudioCapture, NullSourceIsSilenceInTime) {
    int fd = openSource("null:" + uniqueName() + ",speed=1000");
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    uint8_t buf[2000];
    std::memset(buf, 0x55, sizeof buf);
    ssize_t n = zefAudioRead(fd, buf, sizeof buf);
    ASSERT_GT(n, 0) << strerror(errno);
    for (ssize_t i = 0; i < n; ++i) ASSERT_EQ(buf[i], 0) << "at " << i;
    EXPECT_EQ(zefAudioClose(fd), 0);
}

TEST(ZefAudioCapture, RecordSideIsExclusiveAndHandlesKeepToTheirSide) {
    std::string path = writeWave(tempDir(), pattern(800), 8000);
    std::string source = "file:" + path + ",speed=1000";
    int fd = openSource(source);
    EXPECT_EQ(zefAudioOpen(source.c_str(), O_RDONLY), -1);
    EXPECT_EQ(errno, EBUSY);
    EXPECT_EQ(getInfo(fd).record.waiting, 1);
    uint8_t buf[8] = {};
    EXPECT_EQ(zefAudioWrite(fd, buf, sizeof buf), -1) << "a record-only handle";
    EXPECT_EQ(errno, EBADF);
    EXPECT_EQ(zefAudioFlush(fd), -1);
    EXPECT_EQ(errno, EBADF);

    // The control side of ZEFAUDIO_IN sees the open capture.
    setenv("ZEFAUDIO_IN", source.c_str(), 1);
    int ctl = zefAudioOpenCtl(ZEFAUDIO_IN_CTL_DEVICE);
    ASSERT_GE(ctl, 0);
    EXPECT_EQ(getInfo(ctl).record.open, 1);
    EXPECT_EQ(zefAudioClose(fd), 0);
    EXPECT_EQ(getInfo(ctl).record.open, 0);
    EXPECT_EQ(zefAudioClose(ctl), 0);

    // Read-write: plays to the named device, records from ZEFAUDIO_IN.
    std::string player = nullDevice();
    int both = openSource(player, O_RDWR | O_NONBLOCK);
    EXPECT_EQ(zefAudioOpen(source.c_str(), O_RDONLY), -1) << "ZEFAUDIO_IN is taken";
    EXPECT_EQ(errno, EBUSY);
    writeAll(both, ramp16(100, 0));
    ASSERT_EQ(setRecord(both, [](audio_prinfo& p) { p.gain = 200; }), 0);
    audio_info info = getInfo(both);
    EXPECT_EQ(info.play.open, 1);
    EXPECT_EQ(info.record.open, 1);
    EXPECT_EQ(info.record.gain, 200u);
    EXPECT_NE(info.play.gain, 200u) << "the record gain is the record side's own";
    EXPECT_EQ(readToEnd(both).size(), 800u);
    EXPECT_EQ(zefAudioClose(both), 0);
    unsetenv("ZEFAUDIO_IN");

    // A failed record side leaves the play side free again.
    setenv("ZEFAUDIO_IN", ("file:" + path + ".missing").c_str(), 1);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(zefAudioOpen(player.c_str(), O_RDWR), -1);
    ::testing::internal::GetCapturedStderr();
    unsetenv("ZEFAUDIO_IN");
    int again = openDevice(player);
    EXPECT_GE(again, 0) << strerror(errno);
    EXPECT_EQ(zefAudioClose(again), 0);
}
