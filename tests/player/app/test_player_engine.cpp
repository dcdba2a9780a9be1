// The playback engine without a window: a Player made without a display
// plays real files through the real audio device layer (the file device at
// a fast virtual clock); the test turns the engine's crank (playNextBuf)
// itself instead of the toolkit timer.
#include "player_test_util.h"  // first: see there

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "audiobj.h"
#include "audiofile.h"
#include "player.h"

namespace {

using ptest::Samples;
using ptest::ScratchDir;

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("ZEFAUDIO", ("file:" + dir.path("out.wav") + ",speed=40").c_str(), 1);
    }

    // Cranks the engine until the sound has ended.
    static bool playToEnd(Player& p, int timeoutMs = 20000) {
        return ptest::waitUntil([&] { return p.playNextBuf() == PLAYER_FINISHED; }, timeoutMs);
    }

    ScratchDir dir;
};

TEST(PlayerNumbers, TimeTexts) {
    char text[Player::kTimeStringSize];
    const std::pair<long, const char*> cases[] = {
        {0, "00"}, {9, "09"}, {59, "59"}, {60, "01:00"}, {61, "01:01"}, {3599, "59:59"},
        {3600, "01:00:00"}, {3661, "01:01:01"}, {360000, "100:00:00"}, {-5, "00"},
    };
    for (const auto& [seconds, expected] : cases) {
        Player::timeToString(seconds, text);
        EXPECT_STREQ(text, expected) << seconds;
    }
    Player::timeToString(1L << 62, text);  // absurdly long: cut, never overrun
    EXPECT_EQ(std::strlen(text), size_t(Player::kTimeStringSize - 1));
}

// The speed pointer: 5.0 at the left end, 1.0 only at exactly the middle,
// 0.3 at the right end, with different slopes on the two sides.
TEST(PlayerNumbers, WarpFactorsAlongTheStrip) {
    EXPECT_FLOAT_EQ(Player::warpFactor(0.0f), 5.0f);
    EXPECT_NEAR(Player::warpFactor(14.0f / 55.0f), 2.964f, 0.0005f);
    EXPECT_NEAR(Player::warpFactor(27.0f / 55.0f), 1.073f, 0.0005f);
    EXPECT_FLOAT_EQ(Player::warpFactor(0.5f), 1.0f);
    EXPECT_NEAR(Player::warpFactor(28.0f / 55.0f), 0.987f, 0.0005f);
    EXPECT_NEAR(Player::warpFactor(1.0f), 0.3f, 1e-6f);
}

TEST(PlayerNumbers, BufferSizes) {
    EXPECT_EQ(Player::bufferBytes(8000), 4320);
    EXPECT_EQ(Player::bufferBytes(11025), 5760);
    EXPECT_EQ(Player::bufferBytes(22050), 12960);
    EXPECT_EQ(Player::bufferBytes(2000), 0);  // not one whole block
    EXPECT_EQ(Player::bufferBytes(0xFFFFFFFFu), 0);
}

// Four buffers go out before the first end-of-data marker is reached; then
// the engine waits for the device. Played on, the recording is exactly the
// reference decode and the player ends finished with the device closed.
TEST_F(EngineTest, StaysAFewBuffersAheadAndPlaysEverything) {
    const std::string zef = ptest::writeSpeech(dir, "talk.zef", 300);
    Player p;
    p.initAudioDevice("/dev/audio");
    ASSERT_EQ(p.start(zef.c_str(), nullptr, 0, true), 0);
    ASSERT_EQ(p.playState, PLAYER_PLAYING);
    ASSERT_EQ(p.audioObj->getState(), 0);
    p.audioObj->Pause();
    for (int i = 0; i < 10; ++i) p.playNextBuf();
    EXPECT_EQ(p.segmentCount, 4);
    p.audioObj->Resume();
    ASSERT_TRUE(playToEnd(p));
    EXPECT_EQ(p.playState, PLAYER_FINISHED);
    EXPECT_NE(p.audioObj->getState(), 0);
    EXPECT_EQ(ptest::readWave(dir.path("out.wav")), ptest::referenceDecode(zef, dir.path("ref.wav")));
}

// A file without a single frame ends at once: its final marker is played
// and the next step finds the sound over.
TEST_F(EngineTest, EmptySoundEndsAtOnce) {
    const std::string zef = dir.path("empty.zef");
    zeftest::writeFile(zef, zeftest::zefWave(zeftest::orvo(), {}));
    Player p;
    p.initAudioDevice("/dev/audio");
    ASSERT_EQ(p.start(zef.c_str(), nullptr, 0, true), 0);
    EXPECT_EQ(p.playNextBuf(), PLAYER_PLAYING);
    EXPECT_EQ(p.eofWritten, 1);
    EXPECT_EQ(p.segmentCount, 0);
    EXPECT_EQ(p.playNextBuf(), PLAYER_FINISHED);
    EXPECT_TRUE(ptest::readWave(dir.path("out.wav")).empty());
}

// The codec's frame callback applies a moved speed pointer at the next frame
// and passes every fourth frame's level on.
TEST_F(EngineTest, FrameCallbackAppliesSpeedAndLevel) {
    const std::string zef = ptest::writeSpeech(dir, "talk.zef", 60);
    Player p;
    p.initAudioDevice("/dev/audio");
    ASSERT_EQ(p.start(zef.c_str(), nullptr, 0, false), 0);
    EXPECT_EQ(p.playState, PLAYER_STOPPED);
    p.warpPending = 1;
    p.pendingWarp = 0.0f;
    char buffer[4320];
    ASSERT_GT(p.audioFile->readSegment(buffer, sizeof buffer), 0);
    EXPECT_EQ(p.warpPending, 0);
    while (p.callbackCount < 4) ASSERT_GT(p.audioFile->readSegment(buffer, sizeof buffer), 0);
    EXPECT_FLOAT_EQ(p.audioFile->getWarpValue(), 5.0f);
    EXPECT_GE(p.callbackCount, 4);
    EXPECT_GT(p.gainLevel, 0.0f);
    EXPECT_LE(p.gainLevel, 1.0f);
}

// Streamed data: with nothing beyond the header the engine waits (state 3);
// pieces handed over later play on, and the whole equals the reference.
TEST_F(EngineTest, StreamWaitsForDataThenPlaysItAll) {
    const std::string zef = ptest::writeSpeech(dir, "stream.zef", 200);
    const std::vector<uint8_t> bytes = zeftest::readFile(zef);
    Player p;
    p.initAudioDevice("/dev/audio");
    const auto* data = reinterpret_cast<const char*>(bytes.data());
    const size_t header = ptest::dataOffset(bytes);
    ASSERT_GT(header, 0u);
    ASSERT_EQ(p.start("stream.zef", data, int(header), true), 0);
    EXPECT_EQ(p.playNextBuf(), PLAYER_WAITING);
    for (size_t at = header; at < bytes.size(); at += 300)
        ASSERT_EQ(p.playMore(data + at, int(std::min<size_t>(300, bytes.size() - at))), 0);
    ASSERT_EQ(p.playMore(nullptr, 0), 0);
    ASSERT_TRUE(playToEnd(p));
    EXPECT_EQ(ptest::readWave(dir.path("out.wav")), ptest::referenceDecode(zef, dir.path("ref.wav")));
    EXPECT_NE(p.playMore(data, 10), 0) << "data beyond the announced size is refused";
}

// Data that cannot be read in memory goes to a temporary file of its own:
// created afresh with mode 0600, never through a link that is already
// there (the next number is taken instead), named after the last component
// of the given name only.
TEST_F(EngineTest, TemporaryFilesAreExclusiveAndPrivate) {
    const std::string tag = "-" + std::to_string(getpid()) + "-talk.zef";
    const std::string taken = "/tmp/zefplayer_XX_" + std::to_string(Player::zeffileid + 1) + tag;
    const std::string next = "/tmp/zefplayer_XX_" + std::to_string(Player::zeffileid + 2) + tag;
    const std::string victim = dir.path("victim");
    zeftest::writeFile(victim, {'k', 'e', 'e', 'p'});
    ASSERT_EQ(symlink(victim.c_str(), taken.c_str()), 0);

    const char header[] = "RIFF\x10\x00\x00\x00WAVEfmt ";  // too short to describe a sound
    Player p;
    p.initAudioDevice("/dev/audio");
    EXPECT_EQ(p.start(("../elsewhere/" + tag).c_str(), header, 16, true), 1);

    EXPECT_EQ(zeftest::readFile(victim), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
    struct stat st {};
    EXPECT_EQ(lstat(next.c_str(), &st), 0) << "the next number is taken";
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_size, 16);
    unlink(taken.c_str());
    unlink(next.c_str());
}

}  // namespace
