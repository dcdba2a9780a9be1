// The player on the test's Xvfb, playing into a WAVE file (the file device
// at a fast virtual clock) that is compared with zefdec's decode: zefplayer
// driven with xdotool, and the player in the test's process for its dialog.
#include "player_test_util.h"  // first: see there

#include <Xm/MessageB.h>
#include <Xm/Scale.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cmath>
#include <fstream>
#include <memory>

#include "audiobj.h"
#include "audiofile.h"
#include "player.h"
#include "support.h"
#include "zefaudio.h"
#include "zefwriter.h"

namespace {

using ptest::Face;
using ptest::waitUntil;
using zeftest::Samples;

std::string writeSpeech(const zeftest::ScratchDir& dir, const std::string& name, int frames) {
    zeftest::writeFile(dir.path(name), zeftest::zefWave(zeftest::orvo(), zeftest::orvoSpeechLike(frames)));
    return dir.path(name);
}

Samples zefdec(const std::string& zef, const zeftest::ScratchDir& dir) {
    const zeftest::ToolRun run = zeftest::runTool({ZEFDEC, "-q", zef, dir.path("ref.wav")});
    EXPECT_EQ(run.status, 0) << run.err;
    return zeftest::readWaveSamples(dir.path("ref.wav"));
}

// The file device writes the data size into the header only when closed.
bool deviceClosed(const std::string& wav) {
    const zeftest::Bytes b = zeftest::readFile(wav);
    const size_t at = zeftest::waveDataOffset(b);
    if (at < 8) return false;
    const size_t size = b[at - 4] | b[at - 3] << 8 | b[at - 2] << 16 | size_t(b[at - 1]) << 24;
    return size > 0 && at + size + (size & 1) == b.size();
}

// Streamed data: with nothing beyond the header the engine waits; pieces
// handed over later play on, and the whole is zefdec's decode.
TEST(PlayerEngine, StreamWaitsForDataThenPlaysItAll) {
    zeftest::ScratchDir dir;
    setenv("ZEFAUDIO", ("file:" + dir.path("out.wav") + ",speed=40").c_str(), 1);
    const std::string zef = writeSpeech(dir, "stream.zef", 200);
    const zeftest::Bytes bytes = zeftest::readFile(zef);
    const auto* data = reinterpret_cast<const char*>(bytes.data());
    const size_t header = zeftest::waveDataOffset(bytes);
    Player p;
    p.initAudioDevice("/dev/audio");
    ASSERT_EQ(p.start("stream.zef", data, int(header), true), 0);
    EXPECT_EQ(p.playNextBuf(), PLAYER_WAITING);
    for (size_t at = header; at < bytes.size(); at += 300)
        ASSERT_EQ(p.playMore(data + at, int(std::min<size_t>(300, bytes.size() - at))), 0);
    ASSERT_EQ(p.playMore(nullptr, 0), 0);
    ASSERT_TRUE(waitUntil([&] { return p.playNextBuf() == PLAYER_FINISHED; }, 20000));
    EXPECT_EQ(zeftest::readWaveSamples(dir.path("out.wav")), zefdec(zef, dir));
    EXPECT_NE(p.playMore(data, 10), 0) << "data beyond the announced size is refused";
}

class PlayerTest : public zeftest::XvfbTest {
protected:
    void SetUp() override {
        XvfbTest::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_NE(d = openDisplay(), nullptr);
        useDevice(8);
    }

    void TearDown() override {
        child.kill();
        closePlayer();
        XvfbTest::TearDown();
    }

    void closePlayer() {
        const Window w = player && player->topLevel ? XtWindow(player->topLevel) : 0;
        player.reset();
        ptest::dropClient(d, w);
    }

    void useDevice(int speed) {
        setenv("ZEFAUDIO", ("file:" + out() + ",speed=" + std::to_string(speed)).c_str(), 1);
    }
    std::string out() const { return dir.path("out.wav"); }
    // Samples recorded: the file device's file takes its name only when the
    // device closes, so while it plays its own count tells.
    size_t recorded() const {
        audio_info info;
        const int ctl = zefAudioOpenCtl();
        const bool playing = ctl >= 0 && zefAudioGetInfo(ctl, &info) == 0 && info.play.open;
        if (ctl >= 0) zefAudioClose(ctl);
        return std::max<size_t>(zeftest::readWaveSamples(out()).size(), playing ? info.play.samples : 0);
    }
    Face face() { return ptest::buttonFace(d, top); }
    std::string msg() { return ptest::audioMsg(d, top); }
    void clickPlay() {
        ASSERT_EQ(xdotool({"mousemove", "--window", std::to_string(top), "54", "66", "click", "1"}), 0);
    }

    // zefplayer in its own process, its window shown with a face on its button.
    void launch(const std::string& file) {
        ASSERT_TRUE(child.start({ZEFPLAYER, file}, false));
        ASSERT_TRUE(waitUntil([&] { return (top = ptest::findWindow(d, "zefplayer")) != 0; }, 10000));
        ASSERT_TRUE(waitUntil([&] { return face() != Face::Unknown; }, 5000));
    }

    // The player in the test's process, its event loop run until done()
    // holds (checked every 20 ms) or the time is up.
    bool startUntil(const std::string& file, std::function<bool()> done) {
        static char name[] = "zefplayer";
        static char* argv[] = {name, nullptr};
        player = std::make_unique<Player>(1, argv, nullptr);
        player->initAudioDevice("/dev/audio");
        watch = {std::move(done), zeftest::Clock::now() + std::chrono::seconds(20), false};
        XtAppAddTimeOut(player->appContext, 20, tick, this);
        player->start(file.c_str());
        return watch.held;
    }
    static void tick(XtPointer self, XtIntervalId*) {
        auto* t = static_cast<PlayerTest*>(self);
        t->watch.held = t->watch.done();
        if (t->watch.held || zeftest::msLeft(t->watch.deadline) == 0) t->player->ExitLoop();
        else XtAppAddTimeOut(t->player->appContext, 20, tick, self);
    }
    bool dialogShown() {
        return player->board && XtIsRealized(player->board) && XtIsManaged(player->info->getWidget());
    }
    std::string dialog() {  // without its line breaks
        XmString s = nullptr;
        XtVaGetValues(player->info->getWidget(), XmNmessageString, &s, nullptr);
        auto* t = static_cast<char*>(XmStringUnparse(s, nullptr, XmCHARSET_TEXT, XmCHARSET_TEXT, 0, 0, XmOUTPUT_ALL));
        const std::string text = t ? t : "";
        XtFree(t), XmStringFree(s);
        return text;
    }

    zeftest::ScratchDir dir;
    Display* d = nullptr;
    Window top = 0;
    zeftest::ChildProcess child;
    std::unique_ptr<Player> player;
    struct Watch { std::function<bool()> done; zeftest::Clock::time_point deadline; bool held; } watch;
};

// The button shows stop and "Audio-Msg" says "open" while the sound plays;
// a pause stops the device without closing it and play goes on from there;
// at the end the device is closed, the property gone, the play face back,
// and every sample was played once, in order.
TEST_F(PlayerTest, PausePlayAndPlayToTheEnd) {
    const std::string zef = writeSpeech(dir, "talk.zef", 240);
    useDevice(2);
    ASSERT_NO_FATAL_FAILURE(launch(zef));
    EXPECT_TRUE(waitUntil([&] { return face() == Face::Stop && msg() == "open"; }, 3000));
    ASSERT_TRUE(waitUntil([&] { return recorded() > 8000; }, 5000));
    ASSERT_NO_FATAL_FAILURE(clickPlay());
    ASSERT_TRUE(waitUntil([&] { return face() == Face::Play; }, 2000));
    const size_t atPause = recorded();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_LE(recorded(), atPause + 400) << "the device is paused";
    EXPECT_FALSE(deviceClosed(out()));
    ASSERT_NO_FATAL_FAILURE(clickPlay());
    EXPECT_TRUE(waitUntil([&] { return face() == Face::Stop; }, 2000));
    ASSERT_TRUE(waitUntil([&] { return deviceClosed(out()) && face() == Face::Play && msg().empty(); }, 30000));
    EXPECT_EQ(zeftest::readWaveSamples(out()), zefdec(zef, dir));
}

// While another player holds the device, a new player says so and leaves it
// to the holder. "close" written on the holder's window makes it pause,
// close the device and show play; its play button takes the device again.
TEST_F(PlayerTest, BusyDeviceIsReportedAndHandedOverByAudioMsg) {
    const std::string zef = writeSpeech(dir, "long.zef", 600);
    useDevice(1);
    ASSERT_NO_FATAL_FAILURE(launch(zef));
    ASSERT_TRUE(waitUntil([&] { return msg() == "open"; }, 5000));

    ASSERT_TRUE(startUntil(zef, [&] { return dialogShown(); }));
    EXPECT_EQ(dialog(), "Audio device busy!");
    EXPECT_EQ(player->playState, PLAYER_STOPPED);
    EXPECT_NE(player->audioObj->getState(), 0) << "the device stays closed";
    EXPECT_EQ(msg(), "open") << "the holder keeps the device";
    closePlayer();  // its window would cover the holder's

    ASSERT_TRUE(waitUntil([&] { return recorded() > 2000; }, 5000));
    XChangeProperty(d, top, XInternAtom(d, "Audio-Msg", False), XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>("close"), 5);
    XFlush(d);
    EXPECT_TRUE(waitUntil([&] { return deviceClosed(out()) && msg().empty() && face() == Face::Play; }, 3000));
    const size_t kept = recorded();
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_EQ(recorded(), kept) << "nothing plays while closed";
    ASSERT_NO_FATAL_FAILURE(clickPlay());
    EXPECT_TRUE(waitUntil([&] { return msg() == "open" && face() == Face::Stop; }, 5000));
}

struct BadInput {
    const char* name;
    zeftest::Bytes (*contents)();  // null: the file does not exist
    const char *before, *after;    // the message round the path
    bool fifo = false;             // a named pipe instead: it would block the player
};
zeftest::Bytes someWave() { return {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E'}; }
zeftest::Bytes unknownCodec() {  // a Zef file naming a codec that does not exist
    zeftest::Bytes b = zeftest::zefWave(zeftest::orvo(), zeftest::orvoSpeechLike(40));
    for (size_t i = 0; i + 4 <= b.size(); ++i)
        if (std::memcmp(&b[i], "ZEFa", 4) == 0) b[i + 3] = 'q';
    return b;
}

class BadFileTest : public PlayerTest, public ::testing::WithParamInterface<BadInput> {};

// Each problem shows its own text; the window is built all the same, and
// the play button answers with the same text again.
TEST_P(BadFileTest, ShowsItsMessage) {
    const BadInput& c = GetParam();
    const std::string path = dir.path(c.name);
    if (c.contents) zeftest::writeFile(path, c.contents());
    if (c.fifo) { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); }
    ASSERT_TRUE(startUntil(path, [&] { return dialogShown(); }));
    const std::string expected = c.before + path + c.after;
    EXPECT_EQ(dialog(), expected);
    EXPECT_EQ(player->playState, PLAYER_STOPPED);
    EXPECT_NE(player->audioObj->getState(), 0) << "nothing to play: the device stays closed";
    XtUnmanageChild(player->info->getWidget());
    XtCallCallbacks(player->play, XmNactivateCallback, nullptr);
    pumpFor(player->appContext, 100);
    EXPECT_TRUE(XtIsManaged(player->info->getWidget()));
    EXPECT_EQ(dialog(), expected);
}

INSTANTIATE_TEST_SUITE_P(Files, BadFileTest,
                         testing::Values(BadInput{"missing.zef", nullptr, "Input Audio file", "not accessible."},
                                         BadInput{"pipe.zef", nullptr, "Input Audio file", "not accessible.", true},
                                         BadInput{"song.wav", someWave, "Bad Input Audio file", ""},
                                         BadInput{"codec.zef", unknownCodec, "Bad Input Audio file", ""},
                                         BadInput{"noextension", someWave, "Bad Input Audio file", ""}));

// A damaged header's rate of gigahertz gets no buffers of gigabytes.
TEST(PlayerEngine, BuffersAreOnlyForRatesADevicePlays) {
    EXPECT_EQ(Player::bufferBytes(8000), 4320);
    EXPECT_EQ(Player::bufferBytes(3580000000u), 0);
}

// An ".x-zef" file is mapped privately and read-only (a file the user may
// only read plays, nothing is written back) and plays like the stream.
TEST_F(PlayerTest, MappedFileIsPrivateAndReadOnly) {
    const std::string zef = writeSpeech(dir, "talk.x-zef", 90);
    const zeftest::Bytes before = zeftest::readFile(zef);
    ASSERT_EQ(chmod(zef.c_str(), 0444), 0);
    std::string mapping;
    ASSERT_TRUE(startUntil(zef, [&] {
        std::ifstream maps("/proc/self/maps");
        for (std::string line; mapping.empty() && std::getline(maps, line);)
            if (line.find(zef) != std::string::npos) mapping = line;
        return player->playState == PLAYER_FINISHED;
    }));
    EXPECT_STREQ(player->audioFile->getClassId(), "ZefBuf");
    ASSERT_FALSE(mapping.empty());
    EXPECT_EQ(mapping.substr(mapping.find(' ') + 1, 4), "r--p") << mapping;
    EXPECT_EQ(zeftest::readFile(zef), before);
    EXPECT_EQ(zeftest::readWaveSamples(out()), zefdec(zef, dir));
}

// ---- the player as a desktop user meets it ----------------------------------------

// "close" hands the device over; play goes on from where the listener was,
// not from 0 (a short file lies in one input window, which looked like its
// end) and not from where decoding had got to (a long file: the queued
// second was lost). Together the two recordings are the sound, less
// nothing and repeating less than two frame blocks (1440 samples).
TEST_F(PlayerTest, HandOverResumesWhereTheListenerWas) {
    for (int frames : {200, 700}) {
        SCOPED_TRACE(frames);
        const std::string zef = writeSpeech(dir, "talk" + std::to_string(frames) + ".zef", frames);
        useDevice(4);
        ASSERT_NO_FATAL_FAILURE(launch(zef));
        ASSERT_TRUE(waitUntil([&] { return msg() == "open"; }, 5000));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // about a second of sound
        XChangeProperty(d, top, XInternAtom(d, "Audio-Msg", False), XA_STRING, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>("close"), 5);
        XFlush(d);
        ASSERT_TRUE(waitUntil([&] { return deviceClosed(out()) && face() == Face::Play; }, 3000));
        const size_t first = recorded();
        ASSERT_NO_FATAL_FAILURE(clickPlay());
        ASSERT_TRUE(waitUntil([&] { return msg() == "open"; }, 3000));
        ASSERT_TRUE(waitUntil([&] { return msg().empty() && deviceClosed(out()) && recorded() != first; }, 20000));
        const size_t whole = zefdec(zef, dir).size();
        EXPECT_GE(first + recorded(), whole);
        EXPECT_LE(first + recorded(), whole + 1440);
        child.kill();
        ASSERT_TRUE(waitUntil([&] { return ptest::findWindow(d, "zefplayer") == 0; }, 3000));
    }
}

// A device that is missing is not "busy": the dialog names the reason.
TEST_F(PlayerTest, MissingDeviceSaysWhy) {
    const std::string zef = writeSpeech(dir, "talk.zef", 40);
    for (const char* device : {"alsa:zef_no_such_device", "file:/nonexistent/out.wav"}) {
        SCOPED_TRACE(device);
        setenv("ZEFAUDIO", device, 1);
        ASSERT_TRUE(startUntil(zef, [&] { return dialogShown(); }));
        EXPECT_EQ(dialog(), "Audio device not available:no sound device was found");
        EXPECT_EQ(player->playState, PLAYER_STOPPED);
        closePlayer();
    }
}

// The keys, the mouse wheel over the speaker and a keyboard change of the
// position scale, on the player in this process: each row acts, then the
// player must show its effect. A scale change from the keyboard moves by
// the scale's value wherever the pointer is (here at its left end).
TEST_F(PlayerTest, KeysAndWheelDriveThePlayer) {
    const std::string zef = writeSpeech(dir, "long.zef", 1400);  // 31.5 s
    useDevice(1);
    auto deviceGain = [&] {  // the player's device seen through its control side
        audio_info state{};
        const int ctl = zefAudioOpenCtl();
        const int gain = ctl >= 0 && zefAudioGetInfo(ctl, &state) == 0 ? int(state.play.gain) : -1;
        return ctl >= 0 ? zefAudioClose(ctl), gain : gain;
    };
    auto key = [&](const char* k) { return [this, k] { xdotool({"key", k}); }; };
    auto scaleKey = [&] {
        XEvent press{};
        press.xkey.type = KeyPress, press.xkey.x = 2;
        XmScaleCallbackStruct change{XmCR_VALUE_CHANGED, &press, 150};
        XtCallCallbacks(player->scale, XmNvalueChangedCallback, &change);
    };
    struct Row {
        const char* what;
        std::function<void()> act;
        std::function<bool()> done;
    };
    const float length = 1400 * 180 / 8000.0f;
    float at = 0;  // the position when the row acted
    const std::vector<Row> rows{
        {"Up", key("Up"), [&] { return deviceGain() == 134; }},
        {"Down", key("Down"), [&] { return deviceGain() == 127; }},
        {"wheel up", [&] { xdotool({"mousemove", "--window", std::to_string(top), "145", "65", "click", "4"}); },
         [&] { return deviceGain() == 134; }},
        {"wheel down", [&] { xdotool({"click", "5"}); }, [&] { return deviceGain() == 127; }},
        {"plus", key("plus"), [&] { return player->pendingWarp > 0.6f; }},
        {"minus", key("minus"), [&] { return player->pendingWarp < 0.6f && player->pendingWarp > 0.5f; }},
        {"Right", key("Right"), [&] { return std::abs(player->playedSeconds - at - 5) <= 1; }},
        {"Left", key("Left"), [&] { return std::abs(player->playedSeconds - at + 5) <= 1; }},
        {"scale key", scaleKey, [&] { return player->playedSeconds > 0.9f * length; }},
        {"Home", key("Home"), [&] { return player->playedSeconds == 0 && player->playState == PLAYER_PLAYING; }},
        {"space", key("space"), [&] { return player->audioObj->isPaused() == 1; }},
        {"space again", key("space"), [&] { return player->audioObj->isPaused() == 0; }},
        {"q", key("q"), [] { return false; }},  // ends the loop
    };
    size_t row = 0;
    bool acted = false;
    auto started = zeftest::Clock::now();
    startUntil(zef, [&] {
        if (!top && player->board && XtIsRealized(player->board)) {
            top = XtWindow(player->topLevel);
            xdotool({"mousemove", "--window", std::to_string(top), "2", "37"});
        }
        if (!top || row == rows.size()) return false;
        if (!acted) {
            at = player->playedSeconds, started = zeftest::Clock::now(), acted = true;
            rows[row].act();
        } else if (rows[row].done() || zeftest::Clock::now() - started > std::chrono::seconds(3)) {
            EXPECT_TRUE(rows[row].done()) << rows[row].what;
            ++row, acted = false;
        }
        return false;
    });
    EXPECT_EQ(row, rows.size() - 1) << "q ended the loop";
}

// What the speaker gets (ALSA's file plugin records it): the decoded sound
// as it is at the middle gain, one volume step up (Up) is 2^(7/32) of it
// (1.3 dB), and one step down with the wheel over the speaker brings it back.
TEST_F(PlayerTest, VolumeStepIsHeard) {
    const std::string zef = writeSpeech(dir, "long.zef", 1400), raw = dir.path("speaker.raw");
    setenv("ZEFAUDIO", ("alsa:file:" + raw + ",raw").c_str(), 1);
    ASSERT_NO_FATAL_FAILURE(launch(zef));
    const std::string window = std::to_string(top);
    ASSERT_TRUE(waitUntil([&] { return zeftest::readFile(raw).size() > 20000; }, 5000));
    xdotool({"mousemove", "--window", window, "80", "30", "key", "Up"});
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    xdotool({"mousemove", "--window", window, "145", "65", "click", "5"});
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    xdotool({"key", "q"});
    ASSERT_EQ(child.wait(3000), 0);
    const Samples heard = zeftest::samples16(zeftest::readFile(raw)), decoded = zefdec(zef, dir);
    // Each loud 90 ms block against the decoded sound: '0' at its level, '+'
    // one step above, as the level changes (a block with a change is neither).
    std::string steps;
    for (size_t at = 0; at + 720 <= std::min(heard.size(), decoded.size()); at += 720) {
        if (zeftest::rms(&decoded[at], 720) < 500) continue;
        const double level = zeftest::rms(&heard[at], 720) / zeftest::rms(&decoded[at], 720);
        const char c = std::abs(level - 1) < 0.005 ? '0' : std::abs(level - std::exp2(7 / 32.0)) < 0.005 ? '+' : '?';
        if (c != '?' && (steps.empty() || steps.back() != c)) steps += c;
    }
    EXPECT_EQ(steps, "0+0");
}

// Toolkit options come before the file; the title names the file; --help
// and --version answer without a display.
TEST_F(PlayerTest, TakesToolkitOptionsAndNamesTheFile) {
    const std::string zef = writeSpeech(dir, "talk.zef", 90);
    for (const char* option : {"--help", "--version"})
        EXPECT_EQ(zeftest::runTool({ZEFPLAYER, option}, {}, {{"DISPLAY", ""}}).status, 0) << option;
    ASSERT_TRUE(child.start({ZEFPLAYER, "-geometry", "+300+40", "-xrm", "*Play.shadowThickness: 1", zef}, false));
    ASSERT_TRUE(waitUntil([&] { return (top = ptest::findWindow(d, "zefplayer - talk.zef")) != 0; }, 10000));
    EXPECT_TRUE(waitUntil([&] { return msg() == "open"; }, 5000)) << "it plays talk.zef";
    XWindowAttributes where{};
    XGetWindowAttributes(d, top, &where);
    EXPECT_EQ(where.x * 1000 + where.y, 300040);
    char* icon = nullptr;
    ASSERT_TRUE(XGetIconName(d, top, &icon) && icon);
    EXPECT_STREQ(icon, "zefplayer - talk.zef");
    XFree(icon);
}

// Quitting stops the sound at once: the device is free within 200 ms of a
// signal, Ctrl-Q or the window manager's close.
TEST_F(PlayerTest, QuitIsSilenceAtOnce) {
    const std::string zef = writeSpeech(dir, "long.zef", 400);
    useDevice(1);
    const std::vector<std::pair<const char*, std::function<void()>>> quits{
        {"SIGINT", [&] { kill(child.pid(), SIGINT); }},
        {"Ctrl-Q", [&] { xdotool({"mousemove", "--window", std::to_string(top), "80", "30", "key", "ctrl+q"}); }},
        {"close", [&] {
             XEvent e{};
             e.xclient.type = ClientMessage, e.xclient.window = top, e.xclient.format = 32;
             e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
             e.xclient.data.l[0] = long(XInternAtom(d, "WM_DELETE_WINDOW", False));
             XSendEvent(d, top, False, NoEventMask, &e), XFlush(d);
         }}};
    for (const auto& [what, quit] : quits) {
        SCOPED_TRACE(what);
        ASSERT_NO_FATAL_FAILURE(launch(zef));
        ASSERT_TRUE(waitUntil([&] { return msg() == "open"; }, 5000));
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const auto asked = zeftest::Clock::now();
        quit();
        int fd = -1;
        ASSERT_TRUE(waitUntil([&] { return (fd = zefAudioOpen(ZEFAUDIO_DEVICE, O_WRONLY)) >= 0; }, 3000));
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(zeftest::Clock::now() - asked).count();
        zefAudioClose(fd);
        EXPECT_LE(ms, 200);
        EXPECT_EQ(child.wait(3000), 0);
    }
}

}  // namespace
