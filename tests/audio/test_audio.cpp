// The audio device layer: names, the play state (null device, fast clock),
// the WAVE file device, one holder per device, and ALSA.
#include <sys/wait.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <map>

#include "audio_util.h"
#include "zefaudio_backend.h"

using namespace audiotest;
using namespace zef::audio;

namespace {

class ZefAudioDevice : public ::testing::Test {
protected:
    void SetUp() override { reopen(50); }
    void TearDown() override { EXPECT_EQ(fd < 0 ? 0 : zefAudioClose(fd), 0) << strerror(errno); }
    void reopen(int speed) {
        ASSERT_EQ(fd < 0 ? 0 : zefAudioClose(fd), 0);
        ASSERT_GE(fd = openDevice(nullDevice(speed)), 0) << strerror(errno);
    }
    void pause(int on) { ASSERT_EQ(setPlay(fd, [&](audio_prinfo& p) { p.pause = uint8_t(on); }), 0); }
    int fd = -1;
};

// A process forked before this one holds a device: go(n) runs step(n) there.
class OtherProcess {
public:
    explicit OtherProcess(const std::function<int(int)>& step) {
        int down[2], up[2];
        EXPECT_EQ(pipe(down) | pipe(up), 0);
        if ((pid_ = fork()) == 0) {
            close(down[1]), close(up[0]);
            for (int n, r; read(down[0], &n, sizeof n) == sizeof n && (r = step(n), write(up[1], &r, sizeof r) > 0);) {
            }
            _exit(0);
        }
        close(down[0]), close(up[1]);
        to_ = down[1], from_ = up[0];
    }
    ~OtherProcess() { close(to_), close(from_), waitpid(pid_, nullptr, 0); }
    int go(int n) { return write(to_, &n, sizeof n) == sizeof n && read(from_, &n, sizeof n) == sizeof n ? n : -1; }

private:
    pid_t pid_;
    int to_, from_;
};

}  // namespace

TEST(ZefAudioChoice, NamesDevicesAndRefusesWhatCannotBeMeant) {
    DeviceChoice c;
    std::string why;
    for (auto [text, identity] : {std::pair{"alsa", "alsa:default"}, {"null:a,speed=2.5", "null:a"},
                                  {"alsa:hw:0,0", "alsa:hw:0,0"}, {"file:/tmp/a,b.wav", "file:/tmp/a,b.wav"}})
        EXPECT_TRUE(parseDeviceChoice(text, c, why) && c.identity() == identity) << text << why;
    EXPECT_TRUE(parseDeviceChoice("file:out.wav,speed=2.5", c, why) && c.speed == 2.5);
    EXPECT_EQ(c.arg, std::filesystem::current_path().string() + "/out.wav");
    for (auto [text, reason] : {std::pair{"oss", "unknown audio device"}, {"file:", "path"}, {"alsa,speed=2", "null and file"},
                                {"null,volume=3", "unknown option"}, {"null,speed=0", "speed must be"},
                                {"null,speed=", "speed must be"}, {"null,speed=1001", "speed must be"}})
        EXPECT_TRUE(!parseDeviceChoice(text, c, why) && why.find(reason) != std::string::npos) << text << why;
}

// Markers at 4000, 8000 and 8000 frames count only once the position, which
// moves in time, has reached them.
TEST_F(ZefAudioDevice, MarkersCountOnlyOnceReached) {
    reopen(4);  // 8000 frames take 250 ms
    writeAll(fd, ramp16(4000));
    marker(fd);
    writeAll(fd, ramp16(4000));
    marker(fd);
    marker(fd);
    bool sawMiddle = false;
    EXPECT_TRUE(waitInfo(fd, [](const audio_info& i) { return i.play.eof == 3; }, [&](const audio_info& i) {
        EXPECT_LE(i.play.eof, (i.play.samples >= 4000) + 2u * (i.play.samples >= 8000)) << "at " << i.play.samples;
        sawMiddle |= i.play.samples > 0 && i.play.samples < 8000;
    }));
    EXPECT_TRUE(sawMiddle) << "the position jumped instead of moving in time";
    audio_info done = getInfo(fd);
    EXPECT_EQ(done.play.samples + done.play.error + done.play.active, 8000u) << "it ended on a marker: no underflow";
    marker(fd);  // on an idle device: reached at once, counted once
    EXPECT_TRUE(waitEof(fd, 4));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(getInfo(fd).play.eof, 4u);
}

// After running dry and standing idle, new sound still plays in time.
TEST_F(ZefAudioDevice, RunningDryIsAnUnderflowAndLaterSoundStillPlaysInTime) {
    reopen(10);  // 8000 frames take 100 ms
    writeAll(fd, ramp16(800));
    EXPECT_TRUE(waitInfo(fd, [](const audio_info& i) { return i.play.samples == 800 && i.play.error == 1; }));
    ASSERT_EQ(setPlay(fd, [](audio_prinfo& p) { p.error = 0; }), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    writeAll(fd, ramp16(8000));
    marker(fd);
    ASSERT_TRUE(waitInfo(fd, [](const audio_info& i) { return i.play.samples > 800; }));
    EXPECT_LT(getInfo(fd).play.samples, 800u + 6000u) << "played in a burst";
    EXPECT_TRUE(waitEof(fd, 1));
    EXPECT_EQ(getInfo(fd).play.samples, 8800u);
}

TEST_F(ZefAudioDevice, PauseHoldsThePositionAndFlushDiscardsOnlyTheQueue) {
    reopen(10);
    writeAll(fd, ramp16(8000));
    marker(fd);
    ASSERT_TRUE(waitInfo(fd, [](const audio_info& i) { return i.play.samples > 0; }));
    pause(1);
    audio_info held = getInfo(fd);
    EXPECT_LT(held.play.samples + held.play.active, 8000u);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(getInfo(fd).play.samples, held.play.samples);
    ASSERT_EQ(setPlay(fd, [](audio_prinfo& p) { p.eof = 5; p.samples = 100; }), 0);
    writeAll(fd, ramp16(3));
    ASSERT_EQ(zefAudioWrite(fd, "x", 1), 1);  // half a frame
    ASSERT_EQ(zefAudioFlush(fd), 0);
    audio_info flushed = getInfo(fd);
    EXPECT_EQ(flushed.play.eof * 1000 + flushed.play.samples, 5100u) << "counters stay as they were";
    EXPECT_EQ(flushed.play.pause, 1) << "flush leaves the pause alone";
    pause(0);
    writeAll(fd, ramp16(10));  // would be misaligned had the half frame stayed
    marker(fd);
    EXPECT_TRUE(waitEof(fd, 6));
    EXPECT_EQ(getInfo(fd).play.samples, 110u) << "only what came after the flush was played";
}

TEST_F(ZefAudioDevice, StartsAtHalfGainAndAppliesSettingsAllOrNothing) {
    audio_info fresh = getInfo(fd);
    EXPECT_EQ(fresh.play.gain * 1000 + fresh.record.gain, 127255u);
    EXPECT_EQ(fresh.play.port, AUDIO_SPEAKER | AUDIO_HEADPHONE | AUDIO_LINE_OUT);
    EXPECT_EQ(fresh.play.sample_rate * 100 + fresh.play.channels * 10 + fresh.play.encoding, 800013u);
    audio_info info;
    AUDIO_INITINFO(&info);
    info.play.gain = 300, info.play.balance = 100, info.monitor_gain = 1000;
    ASSERT_EQ(zefAudioSetInfo(fd, &info), 0);
    EXPECT_EQ(info.play.gain + info.play.balance + info.monitor_gain, 255u + 64 + 255) << "clamped and returned";
    ASSERT_EQ(setPlay(fd, [](audio_prinfo& p) { p.gain = uint32_t(-5); }), 0);
    EXPECT_EQ(getInfo(fd).play.gain, 0u) << "a volume step below zero means 0";
    EXPECT_FAILS(setPlay(fd, [](audio_prinfo& p) { p.sample_rate = 22050; p.encoding = 1; p.gain = 10; }), EINVAL) << "mu-law is not played";
    EXPECT_EQ(getInfo(fd).play.gain, 0u) << "nothing applied from a refused record";
    pause(1);
    writeAll(fd, ramp16(8));
    EXPECT_FAILS(setPlay(fd, [](audio_prinfo& p) { p.sample_rate = 22050; }), EBUSY) << "sound of the old format is queued";
    ASSERT_EQ(zefAudioFlush(fd), 0);
    EXPECT_EQ(setPlay(fd, [](audio_prinfo& p) { p.sample_rate = 22050; p.channels = 2; }), 0);
}

TEST_F(ZefAudioDevice, QueueIsBoundedAndHandlesAreCheckedAndNeverReused) {
    pause(1);
    Bytes mib(1 << 20);
    for (int i = 0; i < 32; ++i) writeAll(fd, mib);
    EXPECT_FAILS(zefAudioWrite(fd, mib.data(), 2), EAGAIN);
    EXPECT_EQ(zefAudioWrite(fd, nullptr, 0), 0) << "markers still go in";
    EXPECT_FAILS(zefAudioWrite(fd, nullptr, 2), EFAULT);
    EXPECT_FAILS(zefAudioWrite(fd, "ab", size_t(SSIZE_MAX) + 1), EINVAL);
    EXPECT_EQ(openDevice(nullDevice(49), O_ACCMODE), -1) << "no such access mode";
    int old = fd;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(zefAudioClose(fd), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500)) << "paused: discarded, not played";
    audio_info info;
    for (int bad : {old, -1, 0, 12345}) {
        EXPECT_EQ(zefAudioWrite(bad, "ab", 2) + zefAudioGetInfo(bad, &info) + zefAudioFlush(bad) + zefAudioClose(bad), -4);
        EXPECT_EQ(errno, EBADF);
    }
    EXPECT_GT(fd = openDevice(nullDevice()), old);
}

// One holder at a time, in this process or another, turned away at once.
// The control side sets a device this process plays, reads one another
// process plays without changing it, and changes only the kept settings
// of a device nobody plays.
TEST(ZefAudioBusy, OneHolderPerDeviceAcrossProcesses) {
    std::string device = nullDevice();
    int held = -1;
    OtherProcess other([&](int step) {
        if (step == 1) return openDevice(device) < 0 ? errno : 0;
        if (step == 2) return (held = openDevice(device)) < 0 ? errno : setPlay(held, [](audio_prinfo& p) { p.gain = 200; });
        return zefAudioClose(held);
    });
    setenv("ZEFAUDIO", device.c_str(), 1);
    int fd = openDevice(ZEFAUDIO_DEVICE);
    EXPECT_FAILS(openDevice(device), EBUSY) << "under its own name, in this process";
    EXPECT_EQ(other.go(1), EBUSY);
    EXPECT_EQ(getInfo(fd).play.waiting, 1) << "the holder learns that someone waits";
    int ctl = zefAudioOpen(ZEFAUDIO_CTL_DEVICE, O_RDONLY);
    ASSERT_EQ(setPlay(ctl, [](audio_prinfo& p) { p.pause = 1; }), 0);
    EXPECT_EQ(getInfo(fd).play.pause, 1);
    EXPECT_EQ(zefAudioWrite(ctl, "ab", 2), -1) << "the control side does not play";
    ASSERT_EQ(zefAudioClose(fd), 0);
    ASSERT_EQ(other.go(2), 0) << "free once closed";

    EXPECT_EQ(getInfo(ctl).play.open * 1000 + getInfo(ctl).play.gain, 1200u);
    EXPECT_FAILS(setPlay(ctl, [](audio_prinfo& p) { p.gain = 10; }), EBUSY) << "another process's session is not ours to change";
    EXPECT_EQ(openDevice(device), -1);
    EXPECT_EQ(other.go(3), 0);
    EXPECT_EQ(getInfo(ctl).play.open + setPlay(ctl, [](audio_prinfo& p) { p.balance = 10; }), 0);
    EXPECT_FAILS(setPlay(ctl, [](audio_prinfo& p) { p.pause = 1; }), ENXIO);
    ASSERT_GE(fd = openDevice(device), 0);
    audio_info info = getInfo(fd);
    EXPECT_EQ(info.play.gain * 100 + info.play.balance + info.play.waiting, 20010u) << "kept; no old requests";
    EXPECT_EQ(zefAudioClose(fd) + zefAudioClose(ctl), 0);
    unsetenv("ZEFAUDIO");
}

// The lock of a device is found under any spelling of its file, lives where
// no other user can put a file in the way (in $XDG_RUNTIME_DIR, else a
// private folder under $TMPDIR or, when someone took that name, in the home
// folder), goes when its holder closes, and a dead holder's blocks nothing.
TEST(ZefAudioLock, NoSpellingNoDeadHolderAndNoOtherUserGetsInTheWay) {
    char base[] = "/tmp/zefaudio-test-XXXXXX";
    ASSERT_TRUE(mkdtemp(base));
    const std::string top = base, tmp = top + "/tmp", home = top + "/home", locks = tmp + "/zefaudio-" + std::to_string(geteuid());
    std::filesystem::create_directories(tmp);
    std::filesystem::create_directories(home + "/d");
    chmod(base, 0755), chmod(tmp.c_str(), 01777);
    std::map<std::string, std::string> saved;
    for (const char* v : {"XDG_RUNTIME_DIR", "TMPDIR", "HOME"}) saved[v] = getenv(v) ? getenv(v) : "";
    unsetenv("XDG_RUNTIME_DIR");
    setenv("TMPDIR", tmp.c_str(), 1);
    setenv("HOME", home.c_str(), 1);
    auto lockFiles = [](const std::string& d) {
        std::error_code e;
        return std::distance(std::filesystem::directory_iterator(d, e), {});
    };

    int fd = openDevice("file:" + home + "/d/two.wav,speed=100");
    ASSERT_GE(fd, 0) << strerror(errno);
    for (const char* other : {"/d/./two.wav", "/d/../d/two.wav", "//d/two.wav"})
        EXPECT_FAILS(openDevice("file:" + home + other + ",speed=100"), EBUSY) << other;
    EXPECT_EQ(lockFiles(locks), 1);
    EXPECT_EQ(std::filesystem::status(locks).permissions(), std::filesystem::perms::owner_all);
    ASSERT_EQ(zefAudioClose(fd), 0);
    EXPECT_EQ(lockFiles(locks), 0) << "removed by its holder";

    if (fork() == 0) _exit(openDevice("null:dead") < 0);  // dies holding the device
    int status = 0;
    wait(&status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(lockFiles(locks), 1) << "left by a holder that never closed";
    ASSERT_GE(fd = openDevice("null:dead"), 0) << "yet it blocks nothing";
    EXPECT_EQ(zefAudioClose(fd), 0);

    if (geteuid() == 0) {
        // Another user takes the private folder's name and tries to plant a
        // lock file in the one used instead: neither gets in the way.
        std::filesystem::remove_all(locks);
        const std::string asNobody = "setpriv --reuid=nobody --regid=nogroup --clear-groups ";
        ASSERT_EQ(std::system((asNobody + "mkdir -m 777 " + locks).c_str()), 0);
        ASSERT_GE(fd = openDevice("null:planted"), 0) << strerror(errno);
        EXPECT_EQ(lockFiles(locks), 0);
        EXPECT_EQ(lockFiles(home + "/.cache/zefaudio"), 1);
        EXPECT_NE(std::system((asNobody + "touch " + home + "/.cache/zefaudio/x.lock 2>/dev/null").c_str()), 0);
        EXPECT_EQ(zefAudioClose(fd), 0);
    }
    for (const auto& [name, value] : saved) value.empty() ? unsetenv(name.c_str()) : setenv(name.c_str(), value.c_str(), 1);
    std::filesystem::remove_all(top);
    if (geteuid() != 0) GTEST_SKIP() << "the second user's cases need root (setpriv to nobody)";
}

// The WAVE file holds exactly the PCM written, in order, without markers,
// in the one format the file was started with; each open starts afresh.
TEST(ZefAudioWave, HoldsThePcmWrittenInOrder) {
    zeftest::ScratchDir dir;
    std::string path = dir.path("out.wav"), device = "file:" + path + ",speed=100";
    int fd = openDevice(device);
    Bytes expected;
    for (int piece = 0; piece < 6; ++piece) {
        Bytes pcm = ramp16(700 + 111 * piece, -3000 * piece, 7);
        writeAll(fd, Bytes(pcm.begin(), pcm.begin() + 301));  // split inside a sample
        marker(fd);
        writeAll(fd, Bytes(pcm.begin() + 301, pcm.end()));
        expected.insert(expected.end(), pcm.begin(), pcm.end());
    }
    ASSERT_EQ(zefAudioClose(fd), 0) << "close plays the queue out, then completes the file";
    EXPECT_EQ(waveData(path), expected);

    fd = openDevice(device);
    ASSERT_EQ(setPlay(fd, [](audio_prinfo& p) { p.sample_rate = 11025; p.precision = 8; }), 0);
    writeAll(fd, {0x80, 0xff, 0x00, 0x01, 0x7f});  // -128 -1 0 1 127
    marker(fd);
    ASSERT_TRUE(waitEof(fd, 1));
    EXPECT_EQ(setPlay(fd, [](audio_prinfo& p) { p.channels = 2; }), -1) << "one format per file";
    ASSERT_EQ(setPlay(fd, [](audio_prinfo& p) { p.pause = 1; }), 0);
    writeAll(fd, ramp16(1000));
    ASSERT_EQ(zefAudioClose(fd), 0) << "a paused device discards its queue";
    EXPECT_EQ(waveData(path), (Bytes{0x00, 0x7f, 0x80, 0x81, 0xff})) << "unsigned as WAVE has it";
    Bytes header = zeftest::readFile(path);
    EXPECT_TRUE(header.size() == 44 + 6 && (header[24] | header[25] << 8) == 11025) << "odd data is padded";
}

// ALSA's "file" PCM keeps what the speaker gets: a fresh device's gain 127
// plays the sound as it is; 51 is 2^(-76/32) = 0.193 of it, 255 sixteen
// times, held at full scale; the balance lowers the left side by half.
TEST(ZefAudioAlsa, SpeakerGetsTheSoundWithGainAndBalance) {
    zeftest::ScratchDir dir;
    int fd = openDevice("alsa:file:" + dir.path("speaker.raw") + ",raw");
    writeAll(fd, zeftest::bytes16({10000, -255}));
    marker(fd);
    ASSERT_TRUE(waitEof(fd, 1));
    ASSERT_EQ(setPlay(fd, [](audio_prinfo& p) { p.channels = 2; p.gain = 51; p.balance = 48; }), 0);
    writeAll(fd, zeftest::bytes16({10000, 10000, -5000, -5000, 255, -255}));
    marker(fd);
    EXPECT_TRUE(waitEof(fd, 2));
    ASSERT_EQ(setPlay(fd, [](audio_prinfo& p) { p.gain = 255; p.balance = 32; }), 0);
    writeAll(fd, zeftest::bytes16({1000, -3000}));
    marker(fd);
    EXPECT_TRUE(waitEof(fd, 3));
    ASSERT_EQ(zefAudioClose(fd), 0);
    EXPECT_EQ(zeftest::samples16(zeftest::readFile(dir.path("speaker.raw"))),
              (zeftest::Samples{10000, -255, 963, 1927, -481, -963, 24, -49, 16000, -32768}));
}

// A device with latency (ALSA's rate converter holds back a part period):
// what it holds is not yet heard, so neither frames nor markers count; what
// is written after it, in small pieces, is fed behind it.
TEST(ZefAudioAlsa, SoundHeldByTheDeviceIsNotCountedUntilHeard) {
    if (!std::filesystem::exists("/usr/share/alsa/alsa.conf")) GTEST_SKIP() << "no ALSA configuration";
    zeftest::ScratchDir dir;
    std::ofstream(dir.path("asound.conf")) << "</usr/share/alsa/alsa.conf>\n"
                                              "pcm.zeflatency { type rate slave { pcm null rate 16000 } }\n";
    setenv("ALSA_CONFIG_PATH", dir.path("asound.conf").c_str(), 1);
    int fd = openDevice("alsa:zeflatency");
    unsetenv("ALSA_CONFIG_PATH");
    ASSERT_GE(fd, 0) << strerror(errno);
    writeAll(fd, ramp16(100));  // less than the 20 ms period
    marker(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(getInfo(fd).play.samples + getInfo(fd).play.eof, 0u);
    for (int i = 0; i < 6; ++i) writeAll(fd, ramp16(10));  // completes the period
    marker(fd);
    EXPECT_TRUE(waitEof(fd, 2));
    EXPECT_EQ(getInfo(fd).play.samples, 160u);
    EXPECT_EQ(zefAudioClose(fd), 0);
}
