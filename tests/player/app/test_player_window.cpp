// The player in the test's own process, on the test's Xvfb, with its real
// window and message dialog: what the dialog says, the end-of-sound display,
// memory-mapped files, streamed input from a host, and a busy device.
#include "player_test_util.h"  // first: see there

#include <Xm/BulletinB.h>
#include <Xm/MessageB.h>
#include <Xm/Scale.h>
#include <sys/stat.h>
#include <sys/utsname.h>

#include <fstream>
#include <memory>

#include "audiobj.h"
#include "audiofile.h"
#include "player.h"
#include "xdisp.h"

namespace {

using ptest::Samples;
using ptest::ScratchDir;

// The toolkit keeps argv for the session: static storage.
char programName[] = "zefplayer";
char* programArgv[] = {programName, nullptr};

// The text of a compound string, its line separators as newlines.
std::string compoundText(XmString s) {
    std::string text;
    XmStringContext context = nullptr;
    if (!s || !XmStringInitContext(&context, s)) return text;
    while (true) {
        unsigned int length = 0;
        XtPointer value = nullptr;
        const XmStringComponentType type = XmStringGetNextTriple(context, &length, &value);
        if (type == XmSTRING_COMPONENT_END) break;
        if (type == XmSTRING_COMPONENT_SEPARATOR) text += '\n';
        if ((type == XmSTRING_COMPONENT_TEXT || type == XmSTRING_COMPONENT_LOCALE_TEXT) && value)
            text.append(static_cast<const char*>(value), length);
        XtFree(static_cast<char*>(value));
    }
    XmStringFreeContext(context);
    return text;
}

std::string stringResource(Widget w, const char* name) {
    XmString s = nullptr;
    XtVaGetValues(w, name, &s, nullptr);
    std::string text = compoundText(s);
    if (s) XmStringFree(s);
    return text;
}

class PlayerWindowTest : public zeftest::XvfbTest {
protected:
    void SetUp() override {
        XvfbTest::SetUp();
        if (HasFatalFailure()) return;
        setenv("ZEFAUDIO", ("file:" + dir.path("out.wav") + ",speed=8").c_str(), 1);
    }

    void TearDown() override {
        player.reset();
        XvfbTest::TearDown();
    }

    Player& standAlone() {
        player = std::make_unique<Player>(1, programArgv, nullptr);
        player->initAudioDevice("/dev/audio");
        return *player;
    }

    // Runs the stand-alone entry until the condition holds (checked every
    // 20 ms) or the time is up; the event loop is then left.
    bool startUntil(const std::string& file, std::function<bool()> done, int timeoutMs = 20000) {
        Watch watch{player.get(), std::move(done), zeftest::Clock::now() + std::chrono::milliseconds(timeoutMs)};
        XtAppAddTimeOut(player->appContext, 20, watchTick, &watch);
        player->start(file.c_str());
        return watch.held;
    }

    struct Watch {
        Player* p;
        std::function<bool()> done;
        zeftest::Clock::time_point deadline;
        bool held = false;
    };

    static void watchTick(XtPointer client, XtIntervalId*) {
        auto* w = static_cast<Watch*>(client);
        w->held = w->done();
        if (w->held || zeftest::msLeft(w->deadline) == 0) w->p->ExitLoop();
        else XtAppAddTimeOut(w->p->appContext, 20, watchTick, client);
    }

    std::string dialog() { return stringResource(player->info->getWidget(), XmNmessageString); }
    bool dialogShown() { return XtIsManaged(player->info->getWidget()); }

    ScratchDir dir;
    std::unique_ptr<Player> player;
};

struct BadInput {
    const char* name;
    std::vector<uint8_t> (*contents)();  // null: the file does not exist
    const char* message;                 // before the path
    const char* after;                   // after the path
};

std::vector<uint8_t> someWave() { return {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E'}; }

// A Zef file whose header names a codec that does not exist.
std::vector<uint8_t> unknownCodec() {
    std::vector<uint8_t> b = zeftest::zefWave(zeftest::orvo(), zeftest::orvoSpeechLike(40));
    for (size_t i = 0; i + 4 <= b.size(); ++i)
        if (std::memcmp(&b[i], "ZEFa", 4) == 0) b[i + 3] = 'q';
    return b;
}

class PlayerMessageTest : public PlayerWindowTest, public ::testing::WithParamInterface<BadInput> {};

// Each problem shows its own text in the dialog; the window is built all
// the same, and the play button answers with the same text again.
TEST_P(PlayerMessageTest, ShowsItsMessageAndTheWindowStillWorks) {
    const BadInput& c = GetParam();
    const std::string path = dir.path(c.name);
    if (c.contents) zeftest::writeFile(path, c.contents());
    Player& p = standAlone();
    ASSERT_TRUE(startUntil(path, [&] { return p.board && XtIsRealized(p.board) && dialogShown(); }));
    const std::string expected = std::string(c.message) + path + c.after;
    EXPECT_EQ(dialog(), expected);
    EXPECT_EQ(p.playState, PLAYER_STOPPED);
    EXPECT_NE(p.audioObj->getState(), 0) << "nothing to play: the device stays closed";

    XtUnmanageChild(p.info->getWidget());
    XtCallCallbacks(p.play, XmNactivateCallback, nullptr);
    XtCallCallbacks(p.rewind, XmNactivateCallback, nullptr);
    pumpFor(p.appContext, 100);
    EXPECT_TRUE(dialogShown());
    EXPECT_EQ(dialog(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    BadFiles, PlayerMessageTest,
    testing::Values(BadInput{"missing.zef", nullptr, "Input Audio file\n", "\nnot accessible."},
                    BadInput{"song.wav", someWave, "Bad Input Audio file\n", ""},
                    BadInput{"corrupt.zef", unknownCodec, "Bad Input Audio file\n", ""},
                    BadInput{"noextension", someWave, "Bad Input Audio file\n", ""}),
    [](const auto& info) {
        std::string n = info.param.name;
        for (char& ch : n)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return n;
    });

// A sound shorter than a second ends with the time "01", the scale at its
// far end and the play face; the device is closed.
TEST_F(PlayerWindowTest, ShortSoundEndsWithOneSecondAndFullScale) {
    const std::string zef = ptest::writeSpeech(dir, "short.zef", 20);
    Player& p = standAlone();
    ASSERT_TRUE(startUntil(zef, [&] { return p.playState == PLAYER_FINISHED; }));
    EXPECT_EQ(stringResource(p.playTime, XmNlabelString), "01");
    int value = 0, maximum = 0;
    XtVaGetValues(p.scale, XmNvalue, &value, XmNmaximum, &maximum, nullptr);
    EXPECT_EQ(maximum, 160);
    EXPECT_EQ(value, 160);
    Pixmap face = 0;
    XtVaGetValues(p.play, XmNlabelPixmap, &face, nullptr);
    EXPECT_EQ(face, p.playPixmap);
    EXPECT_NE(p.audioObj->getState(), 0);
    EXPECT_FALSE(dialogShown());
}

// The right button on the panel shows what the program is and where it runs.
TEST_F(PlayerWindowTest, RightButtonShowsTheVersionText) {
    const std::string zef = ptest::writeSpeech(dir, "talk.zef", 20);
    Player& p = standAlone();
    ASSERT_TRUE(startUntil(zef, [&] { return p.playState == PLAYER_FINISHED; }));
    const std::string top = std::to_string(XtWindow(p.topLevel));
    ASSERT_EQ(xdotool({"mousemove", "--window", top, "150", "10", "sleep", "0.05", "click", "3"}), 0);
    ASSERT_TRUE(pumpUntil(p.appContext, [&] { return dialogShown(); }, 3000));
    struct utsname system {};
    uname(&system);
    EXPECT_EQ(dialog(), std::string("Kelvane Player - Unix Platform Version 2.0 Beta 1\n") + system.sysname + " " +
                            system.release + " " + system.version + "\nKelvane Inc.");
}

// An ".x-zef" file is mapped privately and read-only (so a file the user may
// only read plays, and nothing is ever written back), and plays like the
// same file read through the stream.
TEST_F(PlayerWindowTest, MappedFileIsPrivateAndReadOnly) {
    const std::string zef = ptest::writeSpeech(dir, "talk.x-zef", 90);
    const std::vector<uint8_t> before = zeftest::readFile(zef);
    ASSERT_EQ(chmod(zef.c_str(), 0444), 0);
    Player& p = standAlone();
    std::string mapping;
    ASSERT_TRUE(startUntil(zef, [&] {
        if (mapping.empty()) {
            std::ifstream maps("/proc/self/maps");
            for (std::string line; std::getline(maps, line);)
                if (line.find(zef) != std::string::npos) mapping = line;
        }
        return p.playState == PLAYER_FINISHED;
    }));
    EXPECT_STREQ(p.audioFile->getClassId(), "ZefBuf");
    EXPECT_EQ(p.mappedSize, long(before.size()));
    ASSERT_FALSE(mapping.empty());
    EXPECT_EQ(mapping.substr(mapping.find(' ') + 1, 4), "r--p") << mapping;
    EXPECT_EQ(zeftest::readFile(zef), before);
    EXPECT_EQ(ptest::readWave(dir.path("out.wav")), ptest::referenceDecode(zef, dir.path("ref.wav")));
}

// A host streams a file into an embedded player slowly: the player says it
// is waiting for data, plays on when the data comes, and plays all of it.
TEST_F(PlayerWindowTest, EmbeddedStreamWaitsAndPlaysOn) {
    const std::string zef = ptest::writeSpeech(dir, "stream.zef", 240);
    const std::vector<uint8_t> bytes = zeftest::readFile(zef);
    auto host = std::make_unique<XDisp>(1, programArgv, nullptr);
    Widget area = XtVaCreateManagedWidget("PlayerArea", xmBulletinBoardWidgetClass, host->topLevel, nullptr);
    host->RealizeTop();
    player = std::make_unique<Player>(area);
    Player& p = *player;
    p.initAudioDevice("/dev/audio");
    p.startGui("stream.zef", VISUAL_FULL);
    ASSERT_NE(p.board, nullptr);

    // A quarter at the start, then nothing for a while, then the rest.
    struct {
        size_t handed;
    } feed{bytes.size() / 4};
    ASSERT_EQ(p.start("stream.zef", reinterpret_cast<const char*>(bytes.data()), int(feed.handed), true), 0);
    EXPECT_EQ(p.scaleComplete, 0);
    ASSERT_TRUE(pumpUntil(p.appContext, [&] { return p.playState == PLAYER_WAITING; }, 10000));
    ASSERT_TRUE(pumpUntil(p.appContext, [&] { return dialogShown(); }, 2000));
    EXPECT_EQ(dialog(), "PLAYER_WAITING_FOR_DATA");
    pumpFor(p.appContext, 1200);
    EXPECT_EQ(p.playState, PLAYER_WAITING);
    ASSERT_EQ(p.playMore(reinterpret_cast<const char*>(bytes.data()) + feed.handed, int(bytes.size() - feed.handed)), 0);
    ASSERT_EQ(p.playMore(nullptr, 0), 0);
    // The scale grows with the time played while the stream is incomplete.
    int grown = 0;
    ASSERT_TRUE(pumpUntil(p.appContext, [&] {
        if (p.playState == PLAYER_FINISHED) return true;
        int m = 0;
        XtVaGetValues(p.scale, XmNmaximum, &m, nullptr);
        grown = std::max(grown, m);
        return false;
    }, 20000));
    EXPECT_EQ(ptest::readWave(dir.path("out.wav")), ptest::referenceDecode(zef, dir.path("ref.wav")));
    int maximum = 0;
    XtVaGetValues(p.scale, XmNmaximum, &maximum, nullptr);
    EXPECT_GT(grown, 2) << "the scale grew with the data";
    EXPECT_EQ(maximum, 160);
    player.reset();
    host.reset();
}

struct ModeCase {
    int mode;
    bool icon;    // only the icon button
    bool window;  // the whole panel
    bool shown;   // the host's window stays on the screen
};

class EmbeddedModeTest : public PlayerWindowTest, public ::testing::WithParamInterface<ModeCase> {};

// What each way of showing an embedded player builds; where there is a play
// control, pressing it stops and starts playback.
TEST_P(EmbeddedModeTest, BuildsItsControlsAndTheyPlay) {
    const ModeCase& c = GetParam();
    const std::string zef = ptest::writeSpeech(dir, "talk.zef", 240);
    auto host = std::make_unique<XDisp>(1, programArgv, nullptr);
    Widget area = XtVaCreateManagedWidget("PlayerArea", xmBulletinBoardWidgetClass, host->topLevel, nullptr);
    host->RealizeTop();
    player = std::make_unique<Player>(area);
    Player& p = *player;
    p.initAudioDevice("/dev/audio");
    p.startGui("talk.zef", static_cast<VISUALMODE>(c.mode));
    EXPECT_EQ(p.play != nullptr, c.icon || c.window);
    EXPECT_EQ(p.board != nullptr, c.window);
    XWindowAttributes a{};
    pumpFor(p.appContext, 100);
    XGetWindowAttributes(p.display, XtWindow(host->topLevel), &a);
    EXPECT_EQ(a.map_state == IsViewable, c.shown);

    const std::vector<uint8_t> bytes = zeftest::readFile(zef);
    ASSERT_EQ(p.start("talk.zef", reinterpret_cast<const char*>(bytes.data()), int(bytes.size()), true), 0);
    ASSERT_EQ(p.playMore(nullptr, 0), 0);
    ASSERT_TRUE(pumpUntil(p.appContext, [&] { return p.segmentCount > 0; }, 5000));
    if (p.play) {
        XtCallCallbacks(p.play, XmNactivateCallback, nullptr);
        EXPECT_EQ(p.playState, PLAYER_STOPPED);
        EXPECT_TRUE(p.audioObj->isPaused());
        Pixmap face = 0;
        XtVaGetValues(p.play, XmNlabelPixmap, &face, nullptr);
        EXPECT_EQ(face, p.playPixmap);
        XtCallCallbacks(p.play, XmNactivateCallback, nullptr);
        EXPECT_EQ(p.playState, PLAYER_PLAYING);
        EXPECT_FALSE(p.audioObj->isPaused());
        XtVaGetValues(p.play, XmNlabelPixmap, &face, nullptr);
        EXPECT_EQ(face, p.stopPixmap);
    }
    ASSERT_TRUE(pumpUntil(p.appContext, [&] { return p.playState == PLAYER_FINISHED; }, 20000));
    player.reset();
    host.reset();
}

INSTANTIATE_TEST_SUITE_P(Modes, EmbeddedModeTest,
                         testing::Values(ModeCase{1, true, false, true}, ModeCase{2, true, false, true},
                                         ModeCase{3, false, true, true}, ModeCase{4, false, false, false},
                                         ModeCase{7, false, false, true}),
                         [](const auto& info) { return "mode" + std::to_string(info.param.mode); });

// While another player holds the device, a stand-alone player says so and
// shows the play face; it does not take the device from the holder.
TEST_F(PlayerWindowTest, BusyDeviceIsReported) {
    const std::string zef = ptest::writeSpeech(dir, "long.zef", 400);
    setenv("ZEFAUDIO", ("file:" + dir.path("out.wav") + ",speed=1").c_str(), 1);
    zeftest::ChildProcess holder;
    ASSERT_TRUE(holder.start({ZEFPLAYER, zef}, false));
    Display* d = openDisplay();
    const Window top = ptest::waitForWindow(d, "zefplayer");
    ASSERT_NE(top, 0u);
    ASSERT_TRUE(ptest::waitUntil([&] { return ptest::audioMsg(d, top) == "open"; }, 5000));

    Player& p = standAlone();
    ASSERT_TRUE(startUntil(zef, [&] { return p.board && XtIsRealized(p.board) && dialogShown(); }));
    EXPECT_EQ(dialog(), "Audio device busy!");
    EXPECT_EQ(p.playState, PLAYER_STOPPED);
    EXPECT_NE(p.audioObj->getState(), 0);
    Pixmap face = 0;
    XtVaGetValues(p.play, XmNlabelPixmap, &face, nullptr);
    EXPECT_EQ(face, p.playPixmap);
    EXPECT_EQ(ptest::audioMsg(d, top), "open") << "the holder keeps the device";
}

}  // namespace
