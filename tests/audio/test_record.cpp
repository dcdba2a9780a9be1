// The record side: file and null sources, gain, pause, refusals, read-write.
#include <climits>
#include <fstream>

#include "audio_util.h"

using namespace audiotest;
using zeftest::Samples;

namespace {

Samples pattern(size_t n) {
    Samples s(n);
    for (size_t i = 0; i < n; ++i) s[i] = int16_t((i * 7919) % 65536 - 32768);
    return s;
}

std::string fileSource(const zeftest::ScratchDir& dir, const Samples& s, uint32_t rate = 8000, uint16_t channels = 1,
                       const char* speed = "1000") {
    zeftest::writeFile(dir.path("in.wav"), zeftest::pcmWave(zeftest::bytes16(s), rate, 16, channels));
    return "file:" + dir.path("in.wav") + ",speed=" + speed;
}

// Reads to the end into an odd-sized buffer: whole frames only.
Samples readToEnd(int fd, size_t frameBytes = 2) {
    Bytes got;
    uint8_t buf[333];
    for (int idle = 0; idle < 20000;) {
        ssize_t n = zefAudioRead(fd, buf, sizeof buf);
        if (n == 0 || (n < 0 && errno != EAGAIN)) break;
        if (n < 0) ++idle, std::this_thread::sleep_for(std::chrono::microseconds(200));
        else got.insert(got.end(), buf, buf + n);
        EXPECT_EQ(std::max<ssize_t>(n, 0) % frameBytes, 0u);
    }
    return zeftest::samples16(got);
}

int setRecord(int fd, const std::function<void(audio_prinfo&)>& change) { return setSide(fd, true, change); }

}  // namespace

TEST(ZefAudioRecord, FileSourceDeliversEveryFrameInTimeThenEnds) {
    zeftest::ScratchDir dir;
    int fd = openDevice(fileSource(dir, pattern(20001)), O_RDONLY);
    EXPECT_EQ(getInfo(fd).record.gain, 255u) << "recording starts at unity gain";
    EXPECT_EQ(readToEnd(fd), pattern(20001));
    EXPECT_EQ(getInfo(fd).record.samples, 20001u);
    uint8_t buf[64];
    EXPECT_EQ(zefAudioRead(fd, buf, sizeof buf) + zefAudioClose(fd), 0) << "the end stays the end";

    fd = openDevice(fileSource(dir, pattern(100), 1000, 1, "0.001"), O_RDONLY);  // a frame a second
    EXPECT_FAILS(zefAudioRead(fd, buf, sizeof buf), EAGAIN) << "nothing is due yet";
    EXPECT_FAILS(zefAudioRead(fd, buf, 1), EINVAL) << "less than one frame";
    EXPECT_EQ(zefAudioClose(fd), 0);

    fd = openDevice(nullDevice(1000), O_RDONLY);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    Bytes silence(2000, 0x55);
    ssize_t n = zefAudioRead(fd, silence.data(), silence.size());
    ASSERT_GT(n, 0) << strerror(errno);
    EXPECT_EQ(Bytes(silence.begin(), silence.begin() + n), Bytes(size_t(n), 0)) << "the null source is silence";
    EXPECT_EQ(zefAudioClose(fd), 0);
}

// The source keeps its format; pause loses nothing; gain scales and is kept.
TEST(ZefAudioRecord, FormatPauseAndGain) {
    zeftest::ScratchDir dir;
    std::string device = fileSource(dir, pattern(400), 16000, 2);
    int fd = openDevice(device, O_RDONLY);
    EXPECT_EQ(getInfo(fd).record.sample_rate * 10 + getInfo(fd).record.channels, 160002u);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(setRecord(fd, [](audio_prinfo& p) { p.sample_rate = 8000; }), -1);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("recorded as it is"), std::string::npos);
    ASSERT_EQ(setRecord(fd, [](audio_prinfo& p) { p.pause = 1; p.gain = 51; }), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    uint8_t buf[64];
    EXPECT_FAILS(zefAudioRead(fd, buf, size_t(SSIZE_MAX) + 1), EINVAL) << "a size beyond any buffer";
    EXPECT_FAILS(zefAudioRead(fd, buf, sizeof buf), EAGAIN) << "paused";
    ASSERT_EQ(setRecord(fd, [](audio_prinfo& p) { p.pause = 0; }), 0);
    Samples want;
    for (int16_t s : pattern(400)) want.push_back(int16_t(s * 51 / 255));
    EXPECT_EQ(readToEnd(fd, 4), want);
    EXPECT_EQ(zefAudioClose(fd), 0);
    EXPECT_EQ(getInfo(fd = openDevice(device, O_RDONLY)).record.gain, 51u);
    ASSERT_EQ(setRecord(fd, [](audio_prinfo& p) { p.gain = 300; }), 0);
    EXPECT_EQ(getInfo(fd).record.gain, 255u) << "clamped";
    EXPECT_EQ(zefAudioWrite(fd, buf, 4) + zefAudioClose(fd), -1) << "a record-only handle";
    std::ofstream(dir.path("text.wav")) << "no sound here";
    ::testing::internal::CaptureStderr();
    EXPECT_FAILS(openDevice("file:" + dir.path("text.wav"), O_RDONLY), EINVAL);
    EXPECT_FAILS(openDevice("file:" + dir.path("missing.wav"), O_RDONLY), ENOENT);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("not a WAVE file"), std::string::npos);
}

// Read-write plays to the device named and records from ZEFAUDIO_IN.
TEST(ZefAudioRecord, ReadWriteHandlePlaysAndRecords) {
    zeftest::ScratchDir dir;
    std::string player = nullDevice();
    setenv("ZEFAUDIO_IN", fileSource(dir, pattern(800)).c_str(), 1);
    int both = openDevice(player, O_RDWR | O_NONBLOCK);
    ASSERT_GE(both, 0) << strerror(errno);
    int ctl = zefAudioOpenCtl(ZEFAUDIO_IN_CTL_DEVICE);
    EXPECT_EQ(getInfo(ctl).record.open, 1);
    writeAll(both, ramp16(100));
    marker(both);
    ASSERT_EQ(setRecord(both, [](audio_prinfo& p) { p.gain = 200; }), 0);
    EXPECT_EQ(readToEnd(both).size(), 800u);
    EXPECT_TRUE(waitEof(both, 1));
    audio_info info = getInfo(both);
    EXPECT_EQ(info.record.gain * 1000 + info.record.samples, 200800u);
    EXPECT_EQ(info.play.gain * 1000 + info.play.samples, 127100u) << "each side has its own";
    EXPECT_EQ(zefAudioClose(both), 0);
    EXPECT_EQ(getInfo(ctl).record.open + zefAudioClose(ctl), 0);

    setenv("ZEFAUDIO_IN", ("file:" + dir.path("missing.wav")).c_str(), 1);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(openDevice(player, O_RDWR), -1);
    ::testing::internal::GetCapturedStderr();
    unsetenv("ZEFAUDIO_IN");
    EXPECT_EQ(zefAudioClose(openDevice(player)), 0) << "the play side is free again";
}
