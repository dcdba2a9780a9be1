// The library's direct playback against the sped-up file device: what it
// plays, how far it runs ahead of the device, how the callback pauses,
// resumes and stops it, a device that fails, and the library's sleep.
#include <sys/resource.h>
#include <sys/time.h>

#include <csignal>
#include <filesystem>

#include "audio_util.h"
#include "playback.h"
#include "session.h"

using namespace audiotest;
using zeftest::Kd;

namespace {

using RoundFn = std::function<uint16_t(uint16_t status, KELVANE_DATA* kd)>;
void onRound(Kd& kd, RoundFn& fn) {
    kd.dwUserData = reinterpret_cast<uintptr_t>(&fn);
    kd.lpCallback = [](uint16_t, uint16_t status, void* data) {
        auto* k = static_cast<KELVANE_DATA*>(data);
        return (*reinterpret_cast<RoundFn*>(k->dwUserData))(status, k);
    };
}

// What decoding the same input with the same settings to a file writes.
Bytes referenceDecode(const Kd& settings, const zeftest::ScratchDir& dir) {
    std::string out = dir.path("reference.wav");
    Kd kd;
    kd.input(settings.dwInputType, settings.lpInputLocation, settings.dwInputSize);
    kd.output(zeftest::kWaveFile, out.data());
    kd.wOutputBytesPerSample = settings.wOutputBytesPerSample;
    kd.dwOutputSamplingRate = settings.dwOutputSamplingRate;
    kd.fWarpedLengthFactor = settings.fWarpedLengthFactor;
    EXPECT_EQ(dcmpZefFileToFile(&kd), 0);
    return waveData(out);
}

uint32_t buffersWritten(KELVANE_DATA* kd) { return zef::playbackOf(kd) ? zef::playbackOf(kd)->dwBuffersWritten : 0; }

// Coded speech for several turns of the ring (400 frames: 144000 bytes of
// PCM, 19 buffers), set up to play on the file device.
struct Speech : FileDevice {
    Bytes coded = zeftest::zefWave(zeftest::orvo(), zeftest::orvoSpeechLike(400));
    Kd kd;
    Bytes want;
    explicit Speech(int speed) : FileDevice(speed) {
        kd.input(zeftest::kZefWaveBuffer, coded.data(), uint32_t(coded.size()));
        want = referenceDecode(kd, dir);
        kd.output(zeftest::kSoundOut, nullptr);
    }
    bool playedAll() const { return waveData(path) == want; }
};

}  // namespace

TEST(PlaybackLoop, PlaysWhatDecodingToAFileWrites) {
    Bytes pcm = zeftest::readFile(zeftest::dataFile("pcm16_mono.wav"));
    std::string orvo = zeftest::dataFile("orvo.wav"), peln = zeftest::dataFile("peln.wav");
    struct Case {
        uint32_t type;
        const void* input;
        uint32_t size = 0, rate = 0;
        uint16_t bytes = 0;
        float warp = 1.0f;
    } cases[] = {{zeftest::kZefWaveFile, orvo.c_str()},
                 {zeftest::kZefWaveFile, peln.c_str(), 0, 16000},
                 {zeftest::kZefWaveFile, orvo.c_str(), 0, 0, 1, 1.7f},  // 8-bit, slowed
                 {ZEFTYPE_FORMAT_WAVE | ZEFTYPE_LOCATION_BUFFER, pcm.data(), uint32_t(pcm.size())}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate * 10 + c.bytes);
        FileDevice device(100);
        Kd kd;
        kd.input(c.type, c.input, c.size);
        kd.wOutputBytesPerSample = c.bytes;
        kd.dwOutputSamplingRate = c.rate;
        kd.fWarpedLengthFactor = c.warp;
        Bytes want = c.type & ZEFTYPE_QUALIFIER_MASK ? referenceDecode(kd, device.dir) : waveData(zeftest::dataFile("pcm16_mono.wav"));
        kd.output(zeftest::kSoundOut, nullptr);
        ASSERT_EQ(dcmpMirlanePlay(&kd, 0, 0), 0);
        EXPECT_TRUE(!kd.lpControlBlock && kd.dwStatus == KELVANE_STATUS_PLAY_END) << "the session closes at the end";
        Bytes header = zeftest::readFile(device.path);
        EXPECT_EQ(uint32_t(header.at(24) | header.at(25) << 8 | header.at(26) << 16), c.rate ? c.rate : 8000u);
        EXPECT_TRUE(!want.empty() && waveData(device.path) == want) << "played differs from decoded";
    }
    FileDevice device(100);
    Kd toFile;  // another output is refused before anything is opened
    toFile.input(zeftest::kZefWaveFile, orvo.c_str());
    toFile.output(zeftest::kWaveFile, device.path.data());
    EXPECT_TRUE(dcmpMirlanePlay(&toFile, 0, 0) == ZEFERR_MUST_PLAY_TO_LOCATION_SOUND && !std::filesystem::exists(device.path));
}

// Markers follow each buffer and count only once it has been heard; the
// loop keeps at most three buffers beyond those, and does fill that far.
// Gain and balance set while playing are clamped, not wrapped, and kept.
TEST(PlaybackLoop, RunsAtMostThreeBuffersAheadOfWhatWasHeard) {
    Speech s(20);
    const uint64_t fullBuffer = zef::kPlayBufferSize / 360 * 360;  // whole frames only
    uint32_t mostAhead = 0, lastEof = 0, rounds = 0;
    std::vector<uint16_t> levels;
    RoundFn round = [&](uint16_t status, KELVANE_DATA* k) -> uint16_t {
        if (status != KELVANE_STATUS_FRAME) return 0;
        ++rounds;
        audio_prinfo play = devicePlay();
        uint32_t written = buffersWritten(k);
        EXPECT_TRUE(play.eof <= written && play.eof >= lastEof) << "markers count once";
        EXPECT_GE(uint64_t(play.samples) * 2, play.eof * fullBuffer) << "counted before it was heard";
        mostAhead = std::max(mostAhead, written - play.eof);
        lastEof = play.eof;
        for (int32_t v : {300, 65536 + 7, -5, 90}) {
            uint16_t gain = 999, balance = 999;
            if (rounds > 1) break;
            EXPECT_EQ(zefSetOutputGain(k, v) + zefGetOutputGain(k, &gain) + zefSetOutputBalance(k, v / 3), 0);
            EXPECT_EQ(zefGetOutputBalance(k, &balance), 0);
            levels.insert(levels.end(), {gain, balance});
        }
        return 0;
    };
    onRound(s.kd, round);
    ASSERT_EQ(dcmpMirlanePlay(&s.kd, 0, 0), 0);
    EXPECT_TRUE(mostAhead == 3 && rounds >= 19) << mostAhead << " buffers ahead at most, rounds " << rounds;
    EXPECT_TRUE(s.playedAll());
    EXPECT_EQ(levels, (std::vector<uint16_t>{255, 64, 255, 64, 0, 0, 90, 30}));
    EXPECT_EQ(zefSetOutputGain(nullptr, 10), ZEFERR_OUTPUT_HANDLER) << "nothing playing";
    uint16_t gain = 0, balance = 0;
    EXPECT_EQ(zefGetOutputGain(nullptr, &gain) + zefGetOutputBalance(&s.kd, &balance), 0);
    EXPECT_EQ(gain * 1000 + balance, 90030) << "the device kept them";
}

// Status 24 holds the loop with the device open and 19 lets it go on; the
// pause call also pauses the device and refuses a second pause, and resume
// lets it play.  Nothing is lost or played twice.
TEST(PlaybackLoop, PausesByStatusAndByTheDevice) {
    Speech s(50);
    int round = 0;
    uint32_t writtenWhenPaused = 0;
    RoundFn fn = [&](uint16_t status, KELVANE_DATA* k) -> uint16_t {
        if (status != KELVANE_STATUS_FRAME && status != KELVANE_STATUS_PAUSED) return 0;
        if (++round == 3) {
            k->dwStatus = KELVANE_STATUS_PAUSED;
            writtenWhenPaused = buffersWritten(k);
        } else if (round > 3 && round <= 13) {
            EXPECT_EQ(status, KELVANE_STATUS_PAUSED);
            EXPECT_EQ(buffersWritten(k), writtenWhenPaused) << "nothing is fed while paused";
            EXPECT_GE(zef::playbackOf(k)->iDevice, 0) << "the device stays open";
            if (round == 13) k->dwStatus = KELVANE_STATUS_FRAME;
        } else if (round == 16) {
            EXPECT_EQ(dcmpMirlanePause(k), 0);
            EXPECT_EQ(k->dwStatus, uint32_t(KELVANE_STATUS_PAUSED));
            EXPECT_EQ(devicePlay().pause, 1);
            EXPECT_EQ(dcmpMirlanePause(k), 1) << "already paused";
        } else if (round == 26) {
            EXPECT_EQ(dcmpMirlaneResume(k), 0);
            EXPECT_EQ(devicePlay().pause, 0);
            EXPECT_EQ(k->dwStatus, uint32_t(KELVANE_STATUS_FRAME));
        }
        return 0;
    };
    onRound(s.kd, fn);
    ASSERT_EQ(dcmpMirlanePlay(&s.kd, 0, 0), 0);
    EXPECT_GT(round, 26);
    EXPECT_TRUE(s.playedAll());
    EXPECT_FALSE(zef::playbackPaused());
    Kd idle;
    EXPECT_EQ(dcmpMirlanePause(&idle), 0) << "without a session there is nothing to do";
}

// A non-zero answer stops the loop in the same round and leaves the session
// open: playing on (even after a stop while paused) loses nothing, closing
// discards what waits.
TEST(PlaybackLoop, CallbackStopLeavesTheSessionOpen) {
    for (bool goOn : {true, false}) {
        SCOPED_TRACE(goOn ? "played on" : "closed");
        Speech s(20);
        int calls = 0;
        uint32_t writtenAtStop = 0;
        RoundFn fn = [&](uint16_t status, KELVANE_DATA* k) -> uint16_t {
            if (status != KELVANE_STATUS_FRAME || ++calls < 3) return 0;
            writtenAtStop = buffersWritten(k);
            EXPECT_EQ(goOn ? dcmpMirlanePause(k) : 0, 0);
            return 7;
        };
        onRound(s.kd, fn);
        ASSERT_EQ(dcmpMirlanePlay(&s.kd, 0, 0), 0);
        ASSERT_NE(s.kd.lpControlBlock, nullptr);
        EXPECT_EQ(calls, 3) << "no further round after the stop";
        EXPECT_EQ(buffersWritten(&s.kd), writtenAtStop);
        EXPECT_EQ(dcmpMirlanePlay(&s.kd, 0, 55), 55) << "an open session returns the pending result";
        s.kd.lpCallback = nullptr;
        EXPECT_TRUE(!goOn || MirlanePlay(&s.kd) == ZEFERR_ENDOFFILE_REACHED);
        EXPECT_EQ(dcmpMirlaneCleanup(&s.kd), 0);
        EXPECT_EQ(s.kd.dwStatus, uint32_t(KELVANE_STATUS_PLAY_END));
        Bytes played = waveData(s.path);
        EXPECT_EQ(played.size() < writtenAtStop * size_t(zef::kPlayBufferSize), !goOn) << "queued sound is discarded";
        EXPECT_TRUE(played.size() <= s.want.size() && std::equal(played.begin(), played.end(), s.want.begin()));
        EXPECT_EQ(played.size() == s.want.size(), goOn);
    }
}

// The device's file runs into the process's size limit, in the first
// buffer or a later one: playback ends with status 507 and the write
// error, and nothing hangs.
TEST(PlaybackDevice, DeviceFailingWhilePlayingEndsPlayback) {
    for (rlim_t limit : {4096, 20000}) {
        SCOPED_TRACE(limit);
        Speech s(50);
        bool sawFailure = false;
        RoundFn fn = [&](uint16_t status, KELVANE_DATA*) -> uint16_t { return sawFailure |= status == KELVANE_STATUS_DEVICE_FAILED, 0; };
        onRound(s.kd, fn);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit small{limit, old.rlim_max};
        signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &small);
        ::testing::internal::CaptureStderr();
        uint16_t result = dcmpMirlanePlay(&s.kd, 0, 0);
        ::testing::internal::GetCapturedStderr();
        setrlimit(RLIMIT_FSIZE, &old);
        EXPECT_EQ(result * 1000 + s.kd.dwSecondaryError, KELVANE_PLAYBACKERROR * 1000u + ZEFERR_WRITING_TO_FILE);
        EXPECT_TRUE(sawFailure && !s.kd.lpControlBlock);
    }
}

// The library's sleep runs on the process's real-time timer and SIGALRM: the
// caller's timer (its time left, less the sleep, and its interval), handler
// and signal mask come back as they were; the caller's alarm due within the
// sleep ends it and still reaches the caller's handler.
static volatile sig_atomic_t gAlarms = 0;

TEST(PlaybackSleep, GivesTheCallersTimerAndHandlerBack) {
    struct Row {
        long timerUs, intervalUs;
        uint32_t sleepUs;
        double minMs, maxMs;
        long leftMinUs, leftMaxUs;
        int alarms;
    };
    const Row rows[] = {
        {0, 0, 30000, 30, 300, 0, 0, 0},                          // no timer: none left running
        {2000000, 3000000, 20000, 20, 300, 1500000, 1980000, 0},  // a later one runs on
        {20000, 0, 3000000, 15, 1000, 0, 1000, 1},                // an earlier one ends the sleep
    };
    struct sigaction own {}, saved {}, now {};
    own.sa_handler = [](int) { gAlarms = gAlarms + 1; };
    sigemptyset(&own.sa_mask);
    sigset_t usr1, savedMask, mask;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.timerUs);
        ASSERT_EQ(sigaction(SIGALRM, &own, &saved), 0);
        sigprocmask(SIG_BLOCK, &usr1, &savedMask);
        gAlarms = 0;
        itimerval t{{r.intervalUs / 1000000, r.intervalUs % 1000000}, {r.timerUs / 1000000, r.timerUs % 1000000}};
        ASSERT_EQ(setitimer(ITIMER_REAL, &t, nullptr), 0);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(zef::zefUsleep(r.sleepUs), 0);
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        getitimer(ITIMER_REAL, &t);
        sigprocmask(SIG_SETMASK, &savedMask, &mask);
        sigaction(SIGALRM, nullptr, &now);
        EXPECT_TRUE(ms >= r.minMs && ms < r.maxMs) << ms << " ms";
        const long left = long(t.it_value.tv_sec) * 1000000 + t.it_value.tv_usec;
        EXPECT_TRUE(left >= r.leftMinUs && left <= r.leftMaxUs) << left << " us left";
        EXPECT_EQ(long(t.it_interval.tv_sec) * 1000000 + t.it_interval.tv_usec, r.intervalUs);
        EXPECT_EQ(now.sa_handler, own.sa_handler);
        EXPECT_TRUE(sigismember(&mask, SIGUSR1) && !sigismember(&mask, SIGALRM));
        for (int i = 0; i < 200 && gAlarms < r.alarms; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_EQ(gAlarms, r.alarms);
        const itimerval off{};
        setitimer(ITIMER_REAL, &off, nullptr);
        sigaction(SIGALRM, &saved, nullptr);
    }
}
