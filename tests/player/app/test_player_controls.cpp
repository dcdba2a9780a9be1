// zefplayer as a user runs it: its own process on the test's Xvfb, playing
// into a WAVE file through the file device with a fast virtual clock, driven
// with xdotool. The play button's face is read from the screen; what was
// played is read back from the WAVE file and compared with zefdec's decode.
#include "player_test_util.h"  // first: see there

#include <memory>
#include <regex>

namespace {

using ptest::Face;
using ptest::Samples;
using ptest::ScratchDir;

// Places in the 164 x 80 window.
constexpr int kPlayX = 54, kPlayY = 66;
constexpr int kRewindX = 20, kRewindY = 66;
constexpr int kScaleY = 40;          // the scale runs from x 3 to 163
constexpr int kWarpPointerX = 108;   // the pointer's middle at the start
constexpr int kWarpPointerY = 61;
constexpr int kOrvoBlockBytes = 27;  // four Orvo frames end on a byte boundary
constexpr int kOrvoBlockFrames = 4;

class ControlsTest : public zeftest::XvfbTest {
protected:
    void SetUp() override {
        XvfbTest::SetUp();
        if (HasFatalFailure()) return;
        d = openDisplay();
        ASSERT_NE(d, nullptr);
    }

    void TearDown() override {
        if (player) {
            player->kill();
            player.reset();
        }
        XvfbTest::TearDown();
    }

    // Starts zefplayer on file with the file device at the given speed and
    // waits for its window; the trace of the Player class goes to a pipe.
    void launch(const std::string& file, int speed) {
        setenv("ZEFAUDIO", ("file:" + out() + ",speed=" + std::to_string(speed)).c_str(), 1);
        setenv("PLAYER", "1", 1);
        player = std::make_unique<zeftest::ChildProcess>();
        ASSERT_TRUE(player->start({ZEFPLAYER, file}, true));
        top = ptest::waitForWindow(d, "zefplayer");
        ASSERT_NE(top, 0u);
        ASSERT_TRUE(ptest::waitUntil([&] { return face() != Face::Unknown; }, 5000));
    }

    std::string out() const { return dir.path("out.wav"); }
    Face face() { return ptest::buttonFace(d, top); }
    size_t recorded() { return ptest::readWave(out()).size(); }

    // The pointer is moved in screen coordinates, so that places left of the
    // window can be reached too.
    std::vector<std::string> moveTo(int x, int y) {
        int rootX = 0, rootY = 0;
        Window child = 0;
        XTranslateCoordinates(d, top, DefaultRootWindow(d), x, y, &rootX, &rootY, &child);
        return {"mousemove", std::to_string(std::max(rootX, 0)), std::to_string(std::max(rootY, 0)), "sleep", "0.05"};
    }

    void click(int x, int y, int button = 1) {
        std::vector<std::string> args = moveTo(x, y);
        args.insert(args.end(), {"click", std::to_string(button)});
        ASSERT_EQ(xdotool(args), 0);
    }

    // Presses at one place, moves to another in two steps and releases there.
    void drag(int x0, int y0, int x1, int y1, int button) {
        const std::string b = std::to_string(button);
        std::vector<std::string> args = moveTo(x0, y0);
        args.insert(args.end(), {"mousedown", b, "sleep", "0.1"});
        for (const auto& step : {moveTo((x0 + x1) / 2, y1), moveTo(x1, y1)}) {
            args.insert(args.end(), step.begin(), step.end());
            args.insert(args.end(), {"sleep", "0.1"});
        }
        args.insert(args.end(), {"mouseup", b});
        ASSERT_EQ(xdotool(args), 0);
    }

    // Waits for the sound to end: the device closed (the WAVE completed)
    // and the play face back.
    bool playedToEnd(int timeoutMs = 30000) {
        return ptest::waitUntil([&] { return ptest::waveComplete(out()) && face() == Face::Play; }, timeoutMs);
    }

    // The first trace line matching the pattern; its first group.
    std::string traced(const std::string& pattern, int timeoutMs = 10000) {
        const std::regex re(pattern);
        std::string line;
        std::smatch m;
        const auto deadline = zeftest::Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (player->readLine(&line, zeftest::msLeft(deadline)))
            if (std::regex_search(line, m, re)) return m.size() > 1 ? m[1].str() : line;
        return {};
    }

    Samples reference(const std::string& zef) { return ptest::referenceDecode(zef, dir.path("ref.wav")); }

    ScratchDir dir;
    Display* d = nullptr;
    Window top = 0;
    std::unique_ptr<zeftest::ChildProcess> player;
};

// The button shows the stop face while the sound plays and the play face
// once it has ended; every sample of the file was played, in order.
TEST_F(ControlsTest, PlaysAWholeFileToItsEnd) {
    const std::string zef = ptest::writeSpeech(dir, "talk.zef", 180);
    launch(zef, 3);
    EXPECT_TRUE(ptest::waitUntil([&] { return face() == Face::Stop; }, 2000));
    EXPECT_FALSE(ptest::waveComplete(out()));
    ASSERT_TRUE(playedToEnd());
    EXPECT_EQ(ptest::readWave(out()), reference(zef));
}

// A pause keeps what the device holds: after resuming, nothing is missing
// and nothing is played twice.
TEST_F(ControlsTest, PauseAndResumeLoseNothing) {
    const std::string zef = ptest::writeSpeech(dir, "talk.zef", 240);
    launch(zef, 2);
    ASSERT_TRUE(ptest::waitUntil([&] { return recorded() > 8000; }, 5000));
    click(kPlayX, kPlayY);
    ASSERT_TRUE(ptest::waitUntil([&] { return face() == Face::Play; }, 2000));
    const size_t atPause = recorded();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_LE(recorded(), atPause + 400) << "the device is paused";
    EXPECT_FALSE(ptest::waveComplete(out()));
    click(kPlayX, kPlayY);
    ASSERT_TRUE(ptest::waitUntil([&] { return face() == Face::Stop; }, 2000));
    ASSERT_TRUE(playedToEnd());
    EXPECT_EQ(ptest::readWave(out()), reference(zef));
}

// Rewind discards what is queued and starts again at the first frame: the
// recording is a beginning of the sound followed by the whole sound.
TEST_F(ControlsTest, RewindRestartsFromTheFirstFrame) {
    const std::string zef = ptest::writeSpeech(dir, "talk.zef", 160);
    launch(zef, 2);
    ASSERT_TRUE(ptest::waitUntil([&] { return recorded() > 6000; }, 5000));
    click(kRewindX, kRewindY);
    ASSERT_TRUE(playedToEnd());
    const Samples all = ptest::readWave(out());
    const Samples ref = reference(zef);
    ASSERT_GT(all.size(), ref.size());
    EXPECT_TRUE(ptest::endsWith(all, ref));
    EXPECT_TRUE(ptest::startsWith(all, ref, all.size() - ref.size()));
}

// The frame the player moved to, from its trace of the file position.
size_t frameAt(const std::string& position, const std::vector<uint8_t>& file) {
    const long at = std::stol(position) - long(ptest::dataOffset(file));
    EXPECT_GE(at, 0);
    EXPECT_EQ(at % kOrvoBlockBytes, 0);
    return size_t(at / kOrvoBlockBytes * kOrvoBlockFrames);
}

// A click in the scale's trough and a drag of its slider each move playing
// to the place chosen; playing goes on from there to the end.
TEST_F(ControlsTest, ScaleClickAndDragContinueFromTheNewPlace) {
    const std::vector<zeftest::Frame> frames = zeftest::orvoSpeechLike(400);
    const std::string zef = dir.path("talk.zef");
    zeftest::writeFile(zef, zeftest::zefWave(zeftest::orvo(), frames));
    const std::vector<uint8_t> file = zeftest::readFile(zef);
    launch(zef, 1);

    click(3 + 100, kScaleY);
    const std::string clicked = traced(R"(setAudioLocation\((\d+)\).*file position (\d+))");
    ASSERT_FALSE(clicked.empty());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    drag(3 + 40, kScaleY, 3 + 130, kScaleY, 2);
    const std::string position = traced(R"(setAudioLocation\(\d+\): fraction [0-9.]+, file position (\d+))");
    ASSERT_FALSE(position.empty());
    const size_t first = frameAt(position, file);
    EXPECT_GT(first, frames.size() * 2 / 3);
    EXPECT_LT(first, frames.size());

    ASSERT_TRUE(playedToEnd(40000));
    const Samples rest = ptest::decodeFromFrame(frames, first, dir);
    ASSERT_FALSE(rest.empty());
    EXPECT_TRUE(ptest::endsWith(ptest::readWave(out()), rest));
    EXPECT_LT(ptest::readWave(out()).size(), reference(zef).size()) << "a part was skipped";
}

// Dragging the speed pointer to the left end of its strip makes the rest of
// the sound five times as long at the same pitch.
TEST_F(ControlsTest, WarpPointerAtTheLeftEndSlowsFiveTimes) {
    const std::vector<zeftest::Frame> frames(160, zeftest::orvoFrame(14, 120, 40));
    const double f0 = 8000.0 / (125.0 - 120 * 109.0 / 255.0);
    const std::string zef = dir.path("vowel.zef");
    zeftest::writeFile(zef, zeftest::zefWave(zeftest::orvo(), frames));
    launch(zef, 6);
    drag(kWarpPointerX, kWarpPointerY, -20, kWarpPointerY, 1);
    const std::string after = traced(R"(warp 5\.0000 after frame (\d+))");
    ASSERT_FALSE(after.empty());
    const size_t n = std::stoul(after);
    ASSERT_LT(n, frames.size());

    ASSERT_TRUE(playedToEnd(60000));
    const Samples all = ptest::readWave(out());
    const double expected = double(n) * 180 + double(frames.size() - n) * 900;
    EXPECT_NEAR(double(all.size()), expected, 900.0);  // the change may take effect a frame earlier
    const size_t slow = size_t(n * 180 + (frames.size() - n) * 450);  // well inside the slow part
    EXPECT_NEAR(ptest::pitchOf(all, slow, 800), f0, f0 * 0.03);
    EXPECT_NEAR(ptest::pitchOf(reference(zef), 80 * 180, 800), f0, f0 * 0.03);
}

// SIGTERM ends the program the way closing its window does: the device is
// closed properly (the recording is complete) and the status is 0.
TEST_F(ControlsTest, EndsCleanlyOnSigterm) {
    const std::string zef = ptest::writeSpeech(dir, "long.zef", 600);
    launch(zef, 1);
    ASSERT_TRUE(ptest::waitUntil([&] { return recorded() > 4000; }, 5000));
    ASSERT_EQ(kill(player->pid(), SIGTERM), 0);
    EXPECT_EQ(player->wait(10000), 0);
    EXPECT_TRUE(ptest::waveComplete(out()));
    EXPECT_TRUE(ptest::startsWith(reference(zef), ptest::readWave(out()), recorded()));
}

// Which file the program plays: the argument; else ZEFINPUTFILE; else
// intro.zef in the current directory; else the bundled intro.zef.
TEST_F(ControlsTest, ChoosesTheFileToPlay) {
    const std::string here = dir.path("here");
    const std::string bare = dir.path("bare");
    std::filesystem::create_directories(here);
    std::filesystem::create_directories(bare);
    ptest::writeSpeech(dir, "here/intro.zef", 40);
    const std::string named = ptest::writeSpeech(dir, "named.zef", 40);
    const std::string given = ptest::writeSpeech(dir, "given.zef", 40);
    setenv("ZEFAUDIO", "null,speed=50", 1);
    setenv("ZEFPLAYER", "1", 1);
    auto chosen = [&](const std::string& cwd, const char* inputFile, const std::string& argument) {
        if (inputFile) setenv("ZEFINPUTFILE", inputFile, 1);
        else unsetenv("ZEFINPUTFILE");
        zeftest::ChildProcess p;
        EXPECT_TRUE(p.start({"sh", "-c", "cd \"$1\" && exec \"$2\" $3", "sh", cwd, ZEFPLAYER, argument}, true));
        std::string line;
        EXPECT_TRUE(p.readLine(&line, 10000));
        p.kill();
        const std::string prefix = "zefplayer: playing ";
        return line.rfind(prefix, 0) == 0 ? line.substr(prefix.size()) : "?" + line;
    };
    EXPECT_EQ(chosen(here, nullptr, ""), "intro.zef");
    EXPECT_EQ(chosen(here, named.c_str(), ""), named);
    EXPECT_EQ(chosen(here, named.c_str(), given), given);
    const std::string bundled = chosen(bare, nullptr, "");
    EXPECT_EQ(bundled, std::filesystem::path(ZEFPLAYER).parent_path().string() + "/intro.zef");
    EXPECT_EQ(zeftest::readFile(bundled), zeftest::readFile(std::string(ZEF_SOURCE_DIR) + "/player/intro.zef"));
    unsetenv("ZEFINPUTFILE");
    unsetenv("ZEFPLAYER");
}

}  // namespace
