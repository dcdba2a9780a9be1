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
    ~Control() { zefAudioClose(fd); }
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

// Coded speech for several turns of the ring (400 frames: 144000 bytes of
// PCM, 19 buffers), set up to play on the file device, with what decoding
// it to a file gives.
struct Speech {
    std::string dir = tempDir();
    Bytes coded = zeftest::zefWave(zeftest::orvo(), zeftest::orvoSpeechLike(400));
    FileDevice device;
    Kd kd;
    Bytes want;
    explicit Speech(int speed, const char* name = "played.wav") : device(speed, name) {
        device.select();
        kd.input(kZefWaveBuffer, coded.data(), uint32_t(coded.size()));
        want = referenceDecode(kd, dir);
        kd.toDevice();
    }
    bool playedAll() const { return waveData(device.path) == want; }
};

}  // namespace

TEST(PlaybackLoop, PlaysWhatDecodingToAFileWrites) {
    Bytes speech = zeftest::zefWave(zeftest::orvo(), zeftest::orvoSpeechLike(400));
    const std::string tone = dataFile("pcm16_mono.wav");
    Bytes toneBytes = zefaudio_test::readFile(tone);
    struct Case {
        const char* what;
        uint32_t type;
        std::string input;  // empty: the coded speech or the tone in memory
        uint16_t bytes = 0;
        uint32_t rate = 0;
        float warp = 1.0f;
    };
    const Case cases[] = {
        {"Orvo file", kZefWaveFile, dataFile("orvo.wav")},
        {"Peln file at 16000 Hz", kZefWaveFile, dataFile("peln.wav"), 0, 16000},
        {"8-bit, slowed", kZefWaveFile, dataFile("orvo.wav"), 1, 0, 1.7f},
        {"coded buffer", kZefWaveBuffer, ""},
        {"PCM 16-bit file", kPcmWaveFile, tone},
        {"PCM 8-bit file", kPcmWaveFile, dataFile("pcm8_mono.wav")},
        {"PCM buffer", ZEFTYPE_FORMAT_WAVE | ZEFTYPE_LOCATION_BUFFER, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FileDevice device(100, "case.wav");
        device.select();
        Kd kd;
        const bool coded = (c.type & ZEFTYPE_QUALIFIER_MASK) != 0;
        const Bytes& memory = coded ? speech : toneBytes;
        if (c.input.empty()) kd.input(c.type, memory.data(), uint32_t(memory.size()));
        else kd.input(c.type, c.input.c_str());
        kd.wOutputBytesPerSample = c.bytes;
        kd.dwOutputSamplingRate = c.rate;
        kd.fWarpedLengthFactor = c.warp;
        Bytes want = coded ? referenceDecode(kd, tempDir()) : waveData(c.input.empty() ? tone : c.input);
        ASSERT_FALSE(want.empty());

        kd.toDevice();
        ASSERT_EQ(dcmpMirlanePlay(&kd, 0, 0), 0);
        EXPECT_EQ(kd.lpControlBlock, nullptr) << "the session closes at the end";
        EXPECT_EQ(kd.dwStatus, uint32_t(KELVANE_STATUS_PLAY_END));
        EXPECT_EQ(kd.dwSecondaryError, 0u);
        Bytes header = zefaudio_test::readFile(device.path);
        ASSERT_GE(header.size(), 44u);
        EXPECT_EQ(uint32_t(le16At(header, 24) | le16At(header, 26) << 16), c.rate ? c.rate : 8000u);
        EXPECT_TRUE(waveData(device.path) == want) << waveData(device.path).size() << " bytes played, "
                                                   << want.size() << " decoded";
    }
}

// Markers follow each buffer and count only once their buffer has been
// heard; the loop keeps at most three buffers beyond those, and does fill
// the queue that far.
TEST(PlaybackLoop, RunsAtMostThreeBuffersAheadOfWhatWasHeard) {
    Speech s(20);
    Control control;
    const uint64_t fullBuffer = zef::kPlayBufferSize / 360 * 360;  // whole frames only
    uint32_t mostAhead = 0, lastEof = 0, rounds = 0;
    RoundFn round = [&](uint16_t status, KELVANE_DATA* k) -> uint16_t {
        if (status != KELVANE_STATUS_FRAME) return 0;
        ++rounds;
        audio_info info = control.info();
        uint32_t written = buffersWritten(k);
        EXPECT_LE(info.play.eof, written);
        EXPECT_LE(written - info.play.eof, 3u);
        EXPECT_GE(info.play.eof, lastEof) << "markers count once";
        EXPECT_GE(uint64_t(info.play.samples) * 2, info.play.eof * fullBuffer) << "counted before it was heard";
        mostAhead = std::max(mostAhead, written - info.play.eof);
        lastEof = info.play.eof;
        return 0;
    };
    onRound(s.kd, round);
    ASSERT_EQ(dcmpMirlanePlay(&s.kd, 0, 0), 0);
    EXPECT_EQ(mostAhead, 3u);
    EXPECT_GE(rounds, 19u);
    EXPECT_TRUE(s.playedAll());
}

// Status 24 holds the loop with the device open and 19 lets it go on; the
// pause call also pauses the device, refuses a second pause with 1, and
// resume lets it play.  Nothing is lost or played twice.
TEST(PlaybackLoop, PausesByStatusAndByTheDevice) {
    Speech s(50);
    Control control;
    int round = 0;
    uint32_t writtenWhenPaused = 0;
    RoundFn fn = [&](uint16_t status, KELVANE_DATA* k) -> uint16_t {
        if (status != KELVANE_STATUS_FRAME && status != KELVANE_STATUS_PAUSED) return 0;
        ++round;
        if (round == 3) {
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
            EXPECT_EQ(control.info().play.pause, 1);
            EXPECT_EQ(dcmpMirlanePause(k), 1) << "already paused";
        } else if (round == 26) {
            EXPECT_EQ(control.info().play.pause, 1);
            EXPECT_EQ(dcmpMirlaneResume(k), 0);
            EXPECT_EQ(control.info().play.pause, 0);
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
        Speech s(20, goOn ? "on.wav" : "closed.wav");
        int calls = 0;
        uint32_t writtenAtStop = 0;
        RoundFn fn = [&](uint16_t status, KELVANE_DATA* k) -> uint16_t {
            if (status != KELVANE_STATUS_FRAME || ++calls < 3) return 0;
            writtenAtStop = buffersWritten(k);
            if (goOn) {
                EXPECT_EQ(dcmpMirlanePause(k), 0);
            }
            return 7;
        };
        onRound(s.kd, fn);
        ASSERT_EQ(dcmpMirlanePlay(&s.kd, 0, 0), 0);
        ASSERT_NE(s.kd.lpControlBlock, nullptr);
        EXPECT_EQ(calls, 3) << "no further round after the stop";
        EXPECT_EQ(buffersWritten(&s.kd), writtenAtStop);
        EXPECT_EQ(dcmpMirlanePlay(&s.kd, 0, 55), 55) << "an open session returns the pending result";

        s.kd.lpCallback = nullptr;
        if (goOn) {
            EXPECT_EQ(MirlanePlay(&s.kd), ZEFERR_ENDOFFILE_REACHED);
            EXPECT_EQ(dcmpMirlaneCleanup(&s.kd), 0);
            EXPECT_TRUE(s.playedAll());
        } else {
            EXPECT_EQ(dcmpMirlaneCleanup(&s.kd), 0);
            Bytes played = waveData(s.device.path);
            EXPECT_LT(played.size(), writtenAtStop * size_t(zef::kPlayBufferSize)) << "queued sound is discarded";
            ASSERT_LE(played.size(), s.want.size());
            EXPECT_TRUE(std::equal(played.begin(), played.end(), s.want.begin()));
        }
        EXPECT_EQ(s.kd.dwStatus, uint32_t(KELVANE_STATUS_PLAY_END));
    }
}

TEST(PlaybackLoop, GainAndBalanceAreClampedNotWrapped) {
    Speech s(50);
    bool checked = false;
    RoundFn fn = [&](uint16_t status, KELVANE_DATA* k) -> uint16_t {
        if (status != KELVANE_STATUS_FRAME || checked) return 0;
        checked = true;
        auto after = [&](auto set, auto get, int32_t value) {
            EXPECT_EQ(set(k, value), 0);
            uint16_t v = 999;
            EXPECT_EQ(get(k, &v), 0);
            return v;
        };
        for (auto [value, want] : {std::pair{200, 200}, {300, 255}, {65536 + 7, 255}, {-5, 0}, {90, 90}})
            EXPECT_EQ(after(zefSetOutputGain, zefGetOutputGain, value), want) << "gain " << value;
        for (auto [value, want] : {std::pair{20, 20}, {300, 64}, {-1, 0}, {32, 32}})
            EXPECT_EQ(after(zefSetOutputBalance, zefGetOutputBalance, value), want) << "balance " << value;
        return 0;
    };
    onRound(s.kd, fn);
    ASSERT_EQ(dcmpMirlanePlay(&s.kd, 0, 0), 0);
    EXPECT_TRUE(checked);

    // with nothing playing the set calls refuse and the get calls read the
    // device's control side, which keeps the last settings
    EXPECT_EQ(zefSetOutputGain(nullptr, 10), ZEFERR_OUTPUT_HANDLER);
    uint16_t gain = 0, balance = 0;
    EXPECT_EQ(zefGetOutputGain(nullptr, &gain), 0);
    EXPECT_EQ(zefGetOutputBalance(&s.kd, &balance), 0);
    EXPECT_EQ(gain, 90);
    EXPECT_EQ(balance, 32);
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
    EXPECT_FALSE(std::filesystem::exists(out));

    // a failed set-up leaves no session behind, so the structure can be reused
    Kd missing;
    std::string nowhere = dir + "/missing.wav";
    missing.input(kZefWaveFile, nowhere.c_str());
    missing.toDevice();
    EXPECT_EQ(dcmpMirlanePlay(&missing, 0, 0), ZEFERR_OPENING_INPUT_FILE);
    EXPECT_EQ(missing.lpControlBlock, nullptr);
}
