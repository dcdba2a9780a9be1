// The playback loop against the sped-up file device: what it plays, how far
// it runs ahead of the device, and how the callback pauses, resumes and
// stops it.
#include "playback.h"
#include "playback_util.h"
#include "zefwriter.h"

using namespace pbtest;

namespace {

// The device's state through its control side, as another part of the
// program would see it.
struct Control {
    int fd = zefAudioOpenCtl();
    ~Control() {
        if (fd >= 0) zefAudioClose(fd);
    }
    audio_info info() const {
        audio_info i{};
        EXPECT_EQ(zefAudioGetInfo(fd, &i), 0);
        return i;
    }
};

uint32_t buffersWritten(KELVANE_DATA* kd) {
    const zef::PlaybackRecord* rec = zef::playbackOf(kd);
    return rec ? rec->dwBuffersWritten : 0;
}

// Frames of 360 bytes in a buffer of 8192.
constexpr uint32_t kFullBuffer = zef::kPlayBufferSize / 360 * 360;

// Long enough for several turns of the ring: 400 frames, 144000 bytes.
Bytes longSpeech() { return zeftest::zefWave(zeftest::orvo(), zeftest::orvoSpeechLike(400)); }

}  // namespace

TEST(PlaybackLoop, PlaysWhatDecodingToAFileWrites) {
    Bytes speech = longSpeech();
    Bytes tone = zefaudio_test::readFile(dataFile("pcm16_mono.wav"));
    struct Case {
        const char* what;
        uint32_t type;
        std::string input;
        uint16_t bytes = 0;
        uint32_t rate = 0;
        float warp = 1.0f;
    };
    const Case cases[] = {
        {"Orvo file", kZefWaveFile, dataFile("orvo.wav")},
        {"Peln file", kZefWaveFile, dataFile("peln.wav")},
        {"8-bit, slowed", kZefWaveFile, dataFile("orvo.wav"), 1, 0, 1.7f},
        {"16000 Hz", kZefWaveFile, dataFile("peln.wav"), 0, 16000},
        {"coded buffer", kZefWaveBuffer, ""},
        {"PCM 16-bit file", kPcmWaveFile, dataFile("pcm16_mono.wav")},
        {"PCM 8-bit file", kPcmWaveFile, dataFile("pcm8_mono.wav")},
        {"PCM buffer", ZEFTYPE_FORMAT_WAVE | ZEFTYPE_LOCATION_BUFFER, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string dir = tempDir();
        FileDevice device(100, "case.wav");
        device.select();
        Kd kd;
        const Bytes& memory = zef::isZef(c.type) ? speech : tone;
        if (c.input.empty()) kd.input(c.type, memory.data(), uint32_t(memory.size()));
        else kd.input(c.type, c.input.c_str());
        kd.wOutputBytesPerSample = c.bytes;
        kd.dwOutputSamplingRate = c.rate;
        kd.fWarpedLengthFactor = c.warp;
        Bytes want = zef::isZef(c.type) ? referenceDecode(kd, dir)
                                         : waveData(c.input.empty() ? dataFile("pcm16_mono.wav") : c.input);
        ASSERT_FALSE(want.empty());

        kd.toDevice();
        ASSERT_EQ(dcmpMirlanePlay(&kd, 0, 0), 0);
        EXPECT_EQ(kd.lpControlBlock, nullptr) << "the session closes at the end";
        EXPECT_EQ(kd.dwStatus, uint32_t(KELVANE_STATUS_PLAY_END));
        EXPECT_EQ(kd.dwSecondaryError, 0u);
        Bytes played = zefaudio_test::readFile(device.path);
        ASSERT_GE(played.size(), 44u);
        EXPECT_EQ(int(le16At(played, 34)), (c.bytes == 1 || c.input.find("pcm8") != std::string::npos) ? 8 : 16);
        EXPECT_EQ(uint32_t(le16At(played, 24) | le16At(played, 26) << 16), c.rate ? c.rate : 8000u);
        EXPECT_TRUE(waveData(device.path) == want) << waveData(device.path).size() << " bytes played, "
                                                   << want.size() << " decoded";
    }
}

// Markers follow each buffer and count only once their buffer has been
// heard; the loop keeps at most three buffers beyond those, and does fill
// the queue that far.
TEST(PlaybackLoop, RunsAtMostThreeBuffersAheadOfWhatWasHeard) {
    Bytes speech = longSpeech();
    FileDevice device(20);
    device.select();
    Kd kd;
    kd.input(kZefWaveBuffer, speech.data(), uint32_t(speech.size()));
    kd.toDevice();
    Control control;
    uint32_t mostAhead = 0, lastEof = 0, rounds = 0;
    RoundFn round = [&](uint16_t status, KELVANE_DATA* k) -> uint16_t {
        if (status != KELVANE_STATUS_FRAME) return 0;
        ++rounds;
        audio_info info = control.info();
        uint32_t written = buffersWritten(k);
        EXPECT_LE(info.play.eof, written);
        EXPECT_LE(written - info.play.eof, 3u);
        EXPECT_GE(info.play.eof, lastEof) << "markers count once";
        // every buffer but the last holds as many whole frames as fit: a
        // counted marker means its buffer's samples were heard
        EXPECT_GE(uint64_t(info.play.samples) * 2, uint64_t(info.play.eof) * kFullBuffer);
        mostAhead = std::max(mostAhead, written - info.play.eof);
        lastEof = info.play.eof;
        return 0;
    };
    onRound(kd, round);
    ASSERT_EQ(dcmpMirlanePlay(&kd, 0, 0), 0);
    EXPECT_EQ(mostAhead, 3u);
    EXPECT_GT(rounds, 18u) << "144000 bytes take 19 buffers";
    EXPECT_EQ(waveData(device.path).size(), 400u * 360u);
}

// Status 24 holds the loop with the device open; 19 lets it go on where it
// stopped, so nothing is lost or played twice.
TEST(PlaybackLoop, StatusPausedHoldsTheLoopUntilResumed) {
    std::string dir = tempDir();
    Bytes speech = longSpeech();
    FileDevice device(50);
    device.select();
    Kd kd;
    kd.input(kZefWaveBuffer, speech.data(), uint32_t(speech.size()));
    Bytes want = referenceDecode(kd, dir);
    kd.toDevice();
    int round = 0, pausedRounds = 0;
    uint32_t writtenWhenPaused = 0;
    RoundFn fn = [&](uint16_t status, KELVANE_DATA* k) -> uint16_t {
        if (status != KELVANE_STATUS_FRAME && status != KELVANE_STATUS_PAUSED) return 0;
        ++round;
        if (round == 3) {
            k->dwStatus = KELVANE_STATUS_PAUSED;
            writtenWhenPaused = buffersWritten(k);
        } else if (round > 3 && round <= 23) {
            EXPECT_EQ(status, KELVANE_STATUS_PAUSED);
            EXPECT_EQ(buffersWritten(k), writtenWhenPaused) << "nothing is fed while paused";
            EXPECT_GE(zef::playbackOf(k)->iDevice, 0) << "the device stays open";
            ++pausedRounds;
            if (round == 23) k->dwStatus = KELVANE_STATUS_FRAME;
        }
        return 0;
    };
    onRound(kd, fn);
    ASSERT_EQ(dcmpMirlanePlay(&kd, 0, 0), 0);
    EXPECT_EQ(pausedRounds, 20);
    EXPECT_TRUE(waveData(device.path) == want);
}

// Pausing through the call pauses the device itself; a second pause is
// refused with 1; resuming lets the same sound go on.
TEST(PlaybackLoop, PauseAndResumeActOnTheDevice) {
    std::string dir = tempDir();
    Bytes speech = longSpeech();
    FileDevice device(50);
    device.select();
    Kd kd;
    kd.input(kZefWaveBuffer, speech.data(), uint32_t(speech.size()));
    Bytes want = referenceDecode(kd, dir);
    kd.toDevice();
    Control control;
    int round = 0;
    RoundFn fn = [&](uint16_t, KELVANE_DATA* k) -> uint16_t {
        ++round;
        if (round == 2) {
            EXPECT_EQ(dcmpMirlanePause(k), 0);
            EXPECT_EQ(k->dwStatus, uint32_t(KELVANE_STATUS_PAUSED));
            EXPECT_EQ(control.info().play.pause, 1);
            EXPECT_EQ(dcmpMirlanePause(k), 1) << "already paused";
            EXPECT_TRUE(zef::playbackPaused());
        } else if (round == 10) {
            EXPECT_EQ(control.info().play.pause, 1);
            EXPECT_EQ(dcmpMirlaneResume(k), 0);
            EXPECT_EQ(control.info().play.pause, 0);
            EXPECT_EQ(k->dwStatus, uint32_t(KELVANE_STATUS_FRAME));
        }
        return 0;
    };
    onRound(kd, fn);
    ASSERT_EQ(dcmpMirlanePlay(&kd, 0, 0), 0);
    EXPECT_TRUE(waveData(device.path) == want);
    EXPECT_FALSE(zef::playbackPaused());
    // without a session both calls have nothing to do
    Kd idle;
    EXPECT_EQ(dcmpMirlanePause(&idle), 0);
    EXPECT_EQ(dcmpMirlaneResume(&idle), 0);
}

// A non-zero answer stops the loop in the same round; the session stays
// open, so playing on loses nothing, while closing discards what waits.
TEST(PlaybackLoop, CallbackStopLeavesTheSessionOpen) {
    std::string dir = tempDir();
    Bytes speech = longSpeech();
    for (bool goOn : {true, false}) {
        SCOPED_TRACE(goOn ? "played on" : "closed");
        FileDevice device(20, goOn ? "on.wav" : "closed.wav");
        device.select();
        Kd kd;
        kd.input(kZefWaveBuffer, speech.data(), uint32_t(speech.size()));
        Bytes want = referenceDecode(kd, dir);
        kd.toDevice();
        int calls = 0;
        uint32_t writtenAtStop = 0;
        RoundFn fn = [&](uint16_t status, KELVANE_DATA* k) -> uint16_t {
            if (status != KELVANE_STATUS_FRAME) return 0;
            if (++calls < 3) return 0;
            writtenAtStop = buffersWritten(k);
            return 7;
        };
        onRound(kd, fn);
        ASSERT_EQ(dcmpMirlanePlay(&kd, 0, 0), 0);
        ASSERT_NE(kd.lpControlBlock, nullptr);
        EXPECT_EQ(calls, 3) << "no further round after the stop";
        EXPECT_EQ(buffersWritten(&kd), writtenAtStop);
        EXPECT_EQ(dcmpMirlanePlay(&kd, 0, 55), 55) << "an open session returns the pending result";

        kd.lpCallback = nullptr;
        if (goOn) {
            EXPECT_EQ(MirlanePlay(&kd), ZEFERR_ENDOFFILE_REACHED);
            EXPECT_EQ(dcmpMirlaneCleanup(&kd), 0);
            EXPECT_TRUE(waveData(device.path) == want);
        } else {
            EXPECT_EQ(dcmpMirlaneCleanup(&kd), 0);
            Bytes played = waveData(device.path);
            EXPECT_LT(played.size(), writtenAtStop * size_t(zef::kPlayBufferSize)) << "queued sound is discarded";
            ASSERT_LE(played.size(), want.size());
            EXPECT_TRUE(std::equal(played.begin(), played.end(), want.begin()));
        }
        EXPECT_EQ(kd.dwStatus, uint32_t(KELVANE_STATUS_PLAY_END));
    }
}

// Stopped while paused, the session plays on from where it was when asked to.
TEST(PlaybackLoop, PlayingOnAfterAPausedStopResumesTheDevice) {
    std::string dir = tempDir();
    Bytes speech = longSpeech();
    FileDevice device(50);
    device.select();
    Kd kd;
    kd.input(kZefWaveBuffer, speech.data(), uint32_t(speech.size()));
    Bytes want = referenceDecode(kd, dir);
    kd.toDevice();
    RoundFn fn = [&](uint16_t status, KELVANE_DATA* k) -> uint16_t {
        if (status != KELVANE_STATUS_FRAME) return 0;
        EXPECT_EQ(dcmpMirlanePause(k), 0);
        return 1;
    };
    onRound(kd, fn);
    ASSERT_EQ(dcmpMirlanePlay(&kd, 0, 0), 0);
    ASSERT_TRUE(zef::playbackPaused());
    kd.lpCallback = nullptr;
    EXPECT_EQ(MirlanePlay(&kd), ZEFERR_ENDOFFILE_REACHED);
    EXPECT_FALSE(zef::playbackPaused());
    EXPECT_EQ(dcmpMirlaneCleanup(&kd), 0);
    EXPECT_TRUE(waveData(device.path) == want);
}

TEST(PlaybackLoop, GainAndBalanceAreClampedNotWrapped) {
    Bytes speech = zeftest::zefWave(zeftest::orvo(), zeftest::orvoSpeechLike(100));
    FileDevice device(50);
    device.select();
    Kd kd;
    kd.input(kZefWaveBuffer, speech.data(), uint32_t(speech.size()));
    kd.toDevice();
    bool checked = false;
    RoundFn fn = [&](uint16_t status, KELVANE_DATA* k) -> uint16_t {
        if (status != KELVANE_STATUS_FRAME || checked) return 0;
        checked = true;
        auto gainAfter = [&](int32_t set) {
            EXPECT_EQ(zefSetOutputGain(k, set), 0);
            uint16_t g = 999;
            EXPECT_EQ(zefGetOutputGain(k, &g), 0);
            return g;
        };
        auto balanceAfter = [&](int32_t set) {
            EXPECT_EQ(zefSetOutputBalance(k, set), 0);
            uint16_t b = 999;
            EXPECT_EQ(zefGetOutputBalance(k, &b), 0);
            return b;
        };
        EXPECT_EQ(gainAfter(200), 200);
        EXPECT_EQ(gainAfter(300), 255);
        EXPECT_EQ(gainAfter(65536 + 7), 255);
        EXPECT_EQ(gainAfter(-5), 0);
        EXPECT_EQ(balanceAfter(20), 20);
        EXPECT_EQ(balanceAfter(300), 64);
        EXPECT_EQ(balanceAfter(-1), 0);
        EXPECT_EQ(gainAfter(90), 90);
        EXPECT_EQ(balanceAfter(32), 32);
        return 0;
    };
    onRound(kd, fn);
    ASSERT_EQ(dcmpMirlanePlay(&kd, 0, 0), 0);
    EXPECT_TRUE(checked);

    // with nothing playing the set calls refuse and the get calls read the
    // device's control side, which keeps the last settings
    EXPECT_EQ(zefSetOutputGain(nullptr, 10), ZEFERR_OUTPUT_HANDLER);
    EXPECT_EQ(zefSetOutputBalance(&kd, 10), ZEFERR_OUTPUT_HANDLER);
    uint16_t gain = 0, balance = 0;
    EXPECT_EQ(zefGetOutputGain(nullptr, &gain), 0);
    EXPECT_EQ(zefGetOutputBalance(nullptr, &balance), 0);
    EXPECT_EQ(gain, 90);
    EXPECT_EQ(balance, 32);
    EXPECT_EQ(zefGetOutputGain(nullptr, nullptr), ZEFERR_OUTPUT_HANDLER);
}

TEST(PlaybackLoop, RefusesWhatItCannotPlay) {
    std::string dir = tempDir();
    FileDevice device(50);
    device.select();
    const std::string orvo = dataFile("orvo.wav");

    // another output is refused before anything is opened or written
    Kd file;
    std::string out = dir + "/not-made.wav";
    file.input(kZefWaveFile, orvo.c_str());
    file.dwOutputType = kWaveFileOut;
    file.lpOutputLocation = const_cast<char*>(out.c_str());
    EXPECT_EQ(dcmpMirlanePlay(&file, 0, 0), ZEFERR_MUST_PLAY_TO_LOCATION_SOUND);
    EXPECT_EQ(file.dwSecondaryError, kWaveFileOut);
    EXPECT_FALSE(std::filesystem::exists(out));

    // a failed set-up leaves no session behind, so the structure can be reused
    Kd missing;
    std::string nowhere = dir + "/missing.wav";
    missing.input(kZefWaveFile, nowhere.c_str());
    missing.toDevice();
    EXPECT_EQ(dcmpMirlanePlay(&missing, 0, 0), ZEFERR_OPENING_INPUT_FILE);
    EXPECT_EQ(missing.lpControlBlock, nullptr);

    Kd none;
    EXPECT_EQ(MirlanePlay(&none), ZEFERR_INVALID_VCB);
    EXPECT_EQ(MirlanePlay(nullptr), ZEFERR_KELVANE_DATA_POINTER_NULL);

    // the device is an output only
    Kd backwards;
    backwards.input(ZEFTYPE_FORMAT_WAVE | ZEFTYPE_LOCATION_SOUND, nullptr);
    backwards.toDevice();
    EXPECT_EQ(dcmpMirlanePlay(&backwards, 0, 0), ZEFERR_INVALID_INPUT_TYPE);
    EXPECT_EQ(backwards.lpControlBlock, nullptr);

    // an open session that decodes elsewhere is not played
    Kd elsewhere;
    std::string buffer(4096, '\0');
    elsewhere.input(kZefWaveFile, orvo.c_str());
    elsewhere.dwOutputType = ZEFTYPE_FORMAT_RAW | ZEFTYPE_LOCATION_BUFFER;
    elsewhere.lpOutputLocation = buffer.data();
    elsewhere.dwOutputSize = uint32_t(buffer.size());
    ASSERT_EQ(dcmpZefInit(&elsewhere), 0);
    EXPECT_EQ(MirlanePlay(&elsewhere), ZEFERR_MUST_PLAY_TO_LOCATION_SOUND);
    EXPECT_EQ(dcmpMirlanePause(&elsewhere), ZEFERR_OUTPUT_HANDLER);
}
