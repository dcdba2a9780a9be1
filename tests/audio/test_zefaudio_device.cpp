// The device's play state against the null device with a fast clock:
// markers, play position, pause, flush, settings and handles.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>

#include "audio_test_util.h"

using namespace zefaudio_test;

namespace {

class ZefAudioDevice : public ::testing::Test {
protected:
    void SetUp() override {
        fd = openDevice(nullDevice());
        ASSERT_GE(fd, 0) << strerror(errno);
    }
    void TearDown() override {
        if (fd >= 0) {
            EXPECT_EQ(zefAudioClose(fd), 0) << strerror(errno);
        }
    }
    void pause(int on) { ASSERT_EQ(setPlay(fd, [&](audio_prinfo& p) { p.pause = uint8_t(on); }), 0); }
    int fd = -1;
};

}  // namespace

// Markers at 4000, 8000 and 8000 frames: at no moment may more markers have
// counted than lie at or before the play position.
TEST_F(ZefAudioDevice, MarkersCountOnlyOnceReached) {
    ASSERT_EQ(zefAudioClose(fd), 0);
    fd = openDevice(nullDevice(4));  // 8000 frames take 250 ms
    ASSERT_GE(fd, 0);
    writeAll(fd, ramp16(4000, 0));
    marker(fd);
    writeAll(fd, ramp16(4000, 0));
    marker(fd);
    marker(fd);
    bool sawMiddle = false;
    auto consistent = [&](const audio_info& i) {
        uint32_t reached = (i.play.samples >= 4000) + 2 * (i.play.samples >= 8000);
        EXPECT_LE(i.play.eof, reached) << "at " << i.play.samples;
        EXPECT_LE(i.play.samples, 8000u);
        if (i.play.samples > 0 && i.play.samples < 8000) sawMiddle = true;
    };
    EXPECT_TRUE(waitInfo(fd, [](const audio_info& i) { return i.play.eof == 3; }, consistent));
    EXPECT_TRUE(sawMiddle) << "the position jumped instead of moving in time";

    audio_info done = getInfo(fd);
    EXPECT_EQ(done.play.samples, 8000u);
    EXPECT_EQ(done.play.error, 0) << "ended on a marker: no underflow";
    EXPECT_EQ(done.play.active, 0);

    // a marker on an idle device is reached at once; nothing counts twice
    marker(fd);
    EXPECT_TRUE(waitInfo(fd, [](const audio_info& i) { return i.play.eof == 4; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(getInfo(fd).play.eof, 4u);
}

TEST_F(ZefAudioDevice, RunningDryWithoutMarkerIsAnUnderflow) {
    writeAll(fd, ramp16(800, 0));
    EXPECT_TRUE(waitInfo(fd, [](const audio_info& i) { return i.play.samples == 800; }));
    EXPECT_TRUE(waitInfo(fd, [](const audio_info& i) { return i.play.error == 1; }));
    ASSERT_EQ(setPlay(fd, [](audio_prinfo& p) { p.error = 0; }), 0);
    EXPECT_EQ(getInfo(fd).play.error, 0);
}

TEST_F(ZefAudioDevice, PauseHoldsThePositionAndResumeGoesOn) {
    ASSERT_EQ(zefAudioClose(fd), 0);
    fd = openDevice(nullDevice(10));  // 8000 frames take 100 ms
    ASSERT_GE(fd, 0);
    writeAll(fd, ramp16(8000, 0));
    marker(fd);
    ASSERT_TRUE(waitInfo(fd, [](const audio_info& i) { return i.play.samples > 0; }));
    pause(1);
    audio_info held = getInfo(fd);
    EXPECT_EQ(held.play.pause, 1);
    EXPECT_EQ(held.play.active, 0);
    EXPECT_LT(held.play.samples, 8000u);
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    audio_info later = getInfo(fd);
    EXPECT_EQ(later.play.samples, held.play.samples);
    EXPECT_EQ(later.play.eof, 0u);

    // written while paused: queued behind, played after resume
    writeAll(fd, ramp16(800, 0));
    marker(fd);
    pause(0);
    EXPECT_TRUE(waitInfo(fd, [](const audio_info& i) { return i.play.eof == 2; }));
    EXPECT_EQ(getInfo(fd).play.samples, 8800u);
}

TEST_F(ZefAudioDevice, FlushDiscardsQueueAndMarkersOnly) {
    pause(1);
    ASSERT_EQ(setPlay(fd, [](audio_prinfo& p) { p.eof = 5; p.samples = 100; }), 0);
    writeAll(fd, ramp16(4000, 0));
    marker(fd);
    writeAll(fd, ramp16(3, 0));
    ASSERT_EQ(zefAudioWrite(fd, "x", 1), 1);  // half a frame
    ASSERT_EQ(zefAudioFlush(fd), 0);

    audio_info info = getInfo(fd);
    EXPECT_EQ(info.play.eof, 5u);
    EXPECT_EQ(info.play.samples, 100u);
    EXPECT_EQ(info.play.pause, 1) << "flush leaves the pause alone";

    pause(0);
    writeAll(fd, ramp16(10, 0));  // would be misaligned if the half frame had stayed
    marker(fd);
    EXPECT_TRUE(waitInfo(fd, [](const audio_info& i) { return i.play.eof == 6; }));
    EXPECT_EQ(getInfo(fd).play.samples, 110u) << "only what came after the flush was played";
}

TEST_F(ZefAudioDevice, SettingsAreClampedAndUnsetFieldsKept) {
    audio_info info;
    AUDIO_INITINFO(&info);
    info.play.gain = 300;
    info.play.balance = 100;
    info.monitor_gain = 1000;
    info.record.gain = 7;
    ASSERT_EQ(zefAudioSetInfo(fd, &info), 0);
    EXPECT_EQ(info.play.gain, 255u) << "the record is filled with the new state";
    EXPECT_EQ(info.play.balance, AUDIO_RIGHT_BALANCE);
    EXPECT_EQ(info.monitor_gain, 255u);
    EXPECT_EQ(info.record.gain, 7u);
    EXPECT_EQ(info.play.sample_rate, 8000u);

    // a volume step below zero arrives as a huge unsigned number: it means 0
    ASSERT_EQ(setPlay(fd, [](audio_prinfo& p) { p.gain = uint32_t(-5); }), 0);
    EXPECT_EQ(getInfo(fd).play.gain, 0u);
    ASSERT_EQ(setPlay(fd, [](audio_prinfo& p) { p.gain = 127; p.port = 0xff; }), 0);
    info = getInfo(fd);
    EXPECT_EQ(info.play.gain, 127u);
    EXPECT_EQ(info.play.port, AUDIO_SPEAKER | AUDIO_HEADPHONE | AUDIO_LINE_OUT);
    EXPECT_EQ(info.play.balance, AUDIO_RIGHT_BALANCE) << "unchanged";
}

TEST_F(ZefAudioDevice, FormatChangesAreCheckedAndAllOrNothing) {
    audio_info info;
    AUDIO_INITINFO(&info);
    info.play.sample_rate = 22050;
    info.play.channels = 2;
    info.play.encoding = 1;  // mu-law is not played
    info.play.gain = 10;
    EXPECT_EQ(zefAudioSetInfo(fd, &info), -1);
    EXPECT_EQ(errno, EINVAL);
    audio_info now = getInfo(fd);
    EXPECT_EQ(now.play.sample_rate, 8000u);
    EXPECT_NE(now.play.gain, 10u) << "nothing applied from a refused record";

    ASSERT_EQ(setPlay(fd, [](audio_prinfo& p) { p.sample_rate = 22050; p.channels = 2; }), 0);
    now = getInfo(fd);
    EXPECT_EQ(now.play.sample_rate, 22050u);
    EXPECT_EQ(now.play.channels, 2u);

    pause(1);
    writeAll(fd, ramp16(8, 0));
    EXPECT_EQ(setPlay(fd, [](audio_prinfo& p) { p.sample_rate = 8000; }), -1);
    EXPECT_EQ(errno, EBUSY) << "sound of the old format is queued";
    EXPECT_EQ(setPlay(fd, [](audio_prinfo& p) { p.sample_rate = 22050; }), 0) << "no change";
    ASSERT_EQ(zefAudioFlush(fd), 0);
    EXPECT_EQ(setPlay(fd, [](audio_prinfo& p) { p.sample_rate = 8000; }), 0);
}

TEST_F(ZefAudioDevice, QueueIsBoundedNotBlocking) {
    pause(1);
    std::vector<uint8_t> mib(1 << 20);
    for (int i = 0; i < 32; ++i) writeAll(fd, mib);
    EXPECT_EQ(zefAudioWrite(fd, mib.data(), 2), -1);
    EXPECT_EQ(errno, EAGAIN);
    EXPECT_EQ(zefAudioWrite(fd, nullptr, 0), 0) << "markers still go in";
    ASSERT_EQ(zefAudioFlush(fd), 0);
    writeAll(fd, mib);
}

TEST_F(ZefAudioDevice, CloseWhilePausedDiscardsInsteadOfWaiting) {
    pause(1);
    writeAll(fd, ramp16(8000 * 60, 0));  // a minute even at this speed is over a second
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(zefAudioClose(fd), 0);
    fd = -1;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
}

TEST_F(ZefAudioDevice, HandlesAreCheckedAndNeverReused) {
    EXPECT_EQ(zefAudioWrite(fd, nullptr, 2), -1);
    EXPECT_EQ(errno, EFAULT);
    EXPECT_EQ(getInfo(fd).play.samples, 0u);

    int second = openDevice(nullDevice());
    EXPECT_EQ(second, -1) << "the device is exclusive within a process too";
    EXPECT_EQ(errno, EBUSY);
    EXPECT_EQ(getInfo(fd).play.waiting, 1) << "the holder learns that someone waits";
    ASSERT_EQ(setPlay(fd, [](audio_prinfo& p) { p.waiting = 0; }), 0);
    EXPECT_EQ(getInfo(fd).play.waiting, 0);

    int old = fd;
    ASSERT_EQ(zefAudioClose(fd), 0);
    fd = -1;
    audio_info info;
    for (int bad : {old, -1, 0, 12345}) {
        EXPECT_EQ(zefAudioWrite(bad, "ab", 2), -1);
        EXPECT_EQ(errno, EBADF);
        EXPECT_EQ(zefAudioGetInfo(bad, &info), -1);
        EXPECT_EQ(zefAudioFlush(bad), -1);
        EXPECT_EQ(zefAudioClose(bad), -1);
        EXPECT_EQ(errno, EBADF);
    }
    fd = openDevice(nullDevice());
    ASSERT_GE(fd, 0);
    EXPECT_NE(fd, old);
}

TEST_F(ZefAudioDevice, ControlSideSeesAndSetsThePlayingDevice) {
    int ctl = zefAudioOpenCtl(nullDevice().c_str());
    ASSERT_GE(ctl, 0);
    ASSERT_EQ(setPlay(fd, [](audio_prinfo& p) { p.gain = 99; }), 0);
    EXPECT_EQ(getInfo(ctl).play.gain, 99u);
    EXPECT_EQ(getInfo(ctl).play.open, 1);
    ASSERT_EQ(setPlay(ctl, [](audio_prinfo& p) { p.balance = 0; p.pause = 1; }), 0);
    EXPECT_EQ(getInfo(fd).play.balance, 0);
    EXPECT_EQ(getInfo(fd).play.pause, 1);

    EXPECT_EQ(zefAudioWrite(ctl, "ab", 2), -1) << "the control side does not play";
    EXPECT_EQ(errno, EBADF);
    EXPECT_EQ(zefAudioFlush(ctl), -1);

    // it outlives the session and still answers
    ASSERT_EQ(zefAudioClose(fd), 0);
    fd = -1;
    audio_info after = getInfo(ctl);
    EXPECT_EQ(after.play.open, 0);
    EXPECT_EQ(after.play.gain, 99u);
    EXPECT_EQ(zefAudioClose(ctl), 0);
}

TEST(ZefAudioOpen, RefusesWhatItCannotDo) {
    std::string device = nullDevice();
    EXPECT_EQ(zefAudioOpen(device.c_str(), O_ACCMODE), -1) << "no such access mode";
    EXPECT_EQ(errno, EINVAL);

    ::testing::internal::CaptureStderr();
    EXPECT_EQ(zefAudioOpen("null,speed=0", O_WRONLY), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("zefaudio: speed must be"),
              std::string::npos);
}

TEST(ZefAudioOpen, DevAudioMeansTheDeviceNamedByTheEnvironment) {
    std::string device = nullDevice();
    const char* old = getenv("ZEFAUDIO");
    std::string saved = old ? old : "";
    setenv("ZEFAUDIO", device.c_str(), 1);
    int fd = zefAudioOpen(ZEFAUDIO_DEVICE, O_WRONLY | O_NONBLOCK);
    ASSERT_GE(fd, 0) << strerror(errno);
    EXPECT_EQ(openDevice(device), -1) << "the same device under its own name";
    EXPECT_EQ(errno, EBUSY);
    int ctl = zefAudioOpen(ZEFAUDIO_CTL_DEVICE, O_RDONLY);
    ASSERT_GE(ctl, 0);
    EXPECT_EQ(getInfo(ctl).play.open, 1);
    EXPECT_EQ(zefAudioClose(ctl), 0);
    EXPECT_EQ(zefAudioClose(fd), 0);

    setenv("ZEFAUDIO", "nonsense", 1);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(zefAudioOpen(ZEFAUDIO_DEVICE, O_WRONLY), -1);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("unknown audio device"),
              std::string::npos);
    if (old) {
        setenv("ZEFAUDIO", saved.c_str(), 1);
    } else {
        unsetenv("ZEFAUDIO");
    }
}
