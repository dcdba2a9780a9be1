// Players in their own processes sharing the one audio device through the
// "Audio-Msg" property of their top-level windows: the "open" announcement,
// a "close" request written with xprop, and two embedding hosts handing the
// device over.
#include "player_test_util.h"  // first: see there

#include <memory>

namespace {

using ptest::Face;
using ptest::ScratchDir;

class MessagingTest : public zeftest::XvfbTest {
protected:
    void SetUp() override {
        XvfbTest::SetUp();
        if (HasFatalFailure()) return;
        d = openDisplay();
        ASSERT_NE(d, nullptr);
    }

    void useDevice(int speed) {
        setenv("ZEFAUDIO", ("file:" + out() + ",speed=" + std::to_string(speed)).c_str(), 1);
    }

    std::string out() const { return dir.path("out.wav"); }

    // The play button of the panel below w: the 34 x 22 window at (37, 56)
    // in its parent.
    static Window findPlayButton(Display* d, Window w) {
        Window root = 0, parent = 0, *children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(d, w, &root, &parent, &children, &count)) return 0;
        Window found = 0;
        for (unsigned int i = 0; i < count && !found; ++i) {
            XWindowAttributes a;
            if (XGetWindowAttributes(d, children[i], &a) && a.x == 37 && a.y == 56 && a.width == 34 &&
                a.height == 22)
                found = children[i];
            else
                found = findPlayButton(d, children[i]);
        }
        if (children) XFree(children);
        return found;
    }

    void clickWindow(Window w) {
        ASSERT_EQ(xdotool({"mousemove", "--window", std::to_string(w), "17", "11", "sleep", "0.05", "click", "1"}),
                  0);
    }

    ScratchDir dir;
    Display* d = nullptr;
};

// The player announces "open" on its window while it holds the device and
// removes the property once the sound has ended.
TEST_F(MessagingTest, OpenWhileHoldingTheDeviceGoneAtTheEnd) {
    const std::string zef = ptest::writeSpeech(dir, "talk.zef", 160);
    useDevice(2);
    zeftest::ChildProcess player;
    ASSERT_TRUE(player.start({ZEFPLAYER, zef}, false));
    const Window top = ptest::waitForWindow(d, "zefplayer");
    ASSERT_NE(top, 0u);
    EXPECT_TRUE(ptest::waitUntil([&] { return ptest::audioMsg(d, top) == "open"; }, 5000));
    ASSERT_TRUE(ptest::waitUntil([&] { return ptest::waveComplete(out()); }, 20000));
    EXPECT_TRUE(ptest::waitUntil([&] { return ptest::audioMsg(d, top).empty(); }, 2000));
    EXPECT_TRUE(ptest::waitUntil([&] { return ptest::buttonFace(d, top) == Face::Play; }, 2000));
}

class CloseRequestTest : public MessagingTest, public ::testing::WithParamInterface<const char*> {};

// "close" (or any text that begins with it) pauses the holder, closes its
// device and leaves the play face; play takes the device again.
TEST_P(CloseRequestTest, PausesClosesAndLeavesThePlayFace) {
    const std::string zef = ptest::writeSpeech(dir, "long.zef", 600);
    useDevice(1);
    zeftest::ChildProcess player;
    ASSERT_TRUE(player.start({ZEFPLAYER, zef}, false));
    const Window top = ptest::waitForWindow(d, "zefplayer");
    ASSERT_NE(top, 0u);
    ASSERT_TRUE(ptest::waitUntil([&] { return ptest::audioMsg(d, top) == "open"; }, 5000));
    ASSERT_TRUE(ptest::waitUntil([&] { return ptest::readWave(out()).size() > 2000; }, 5000));

    ASSERT_EQ(zeftest::runCommand({"xprop", "-id", std::to_string(top), "-f", "Audio-Msg", "8s", "-set",
                                   "Audio-Msg", GetParam()}),
              0);
    EXPECT_TRUE(ptest::waitUntil([&] { return ptest::waveComplete(out()); }, 3000)) << "the device was closed";
    EXPECT_TRUE(ptest::waitUntil([&] { return ptest::audioMsg(d, top).empty(); }, 3000));
    EXPECT_TRUE(ptest::waitUntil([&] { return ptest::buttonFace(d, top) == Face::Play; }, 3000));
    const size_t kept = ptest::readWave(out()).size();
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_EQ(ptest::readWave(out()).size(), kept) << "nothing plays while closed";

    ASSERT_NO_FATAL_FAILURE(clickWindow(findPlayButton(d, top)));
    EXPECT_TRUE(ptest::waitUntil([&] { return ptest::audioMsg(d, top) == "open"; }, 5000));
    EXPECT_TRUE(ptest::waitUntil([&] { return ptest::buttonFace(d, top) == Face::Stop; }, 3000));
}

INSTANTIATE_TEST_SUITE_P(Texts, CloseRequestTest, testing::Values("close", "closed"));

// Two hosts with embedded players: the second, started while the first
// plays, stays stopped; its play button asks the first for the device with
// "close", and it then plays its whole stream.
TEST_F(MessagingTest, TwoEmbeddingHostsHandTheDeviceOver) {
    const std::string zef = ptest::writeSpeech(dir, "long.zef", 500);
    const std::string second = ptest::writeSpeech(dir, "short.zef", 120);
    useDevice(1);
    zeftest::ChildProcess hostA;
    ASSERT_TRUE(hostA.start({EMBEDHOST, "--title", "hostA", "--piece", "4000", "--interval", "20", zef}, true));
    const Window a = ptest::waitForWindow(d, "hostA");
    ASSERT_NE(a, 0u);
    ASSERT_TRUE(ptest::waitUntil([&] { return ptest::audioMsg(d, a) == "open"; }, 5000));

    useDevice(4);
    zeftest::ChildProcess hostB;
    ASSERT_TRUE(hostB.start({EMBEDHOST, "-geometry", "+260+160", "--title", "hostB", "--quit-at-end", second}, true));
    const Window b = ptest::waitForWindow(d, "hostB");
    ASSERT_NE(b, 0u);
    Window bPlay = 0;
    ASSERT_TRUE(ptest::waitUntil([&] { return (bPlay = findPlayButton(d, b)) != 0; }, 5000));
    ASSERT_TRUE(ptest::waitUntil([&] { return ptest::buttonFace(d, bPlay, 1, 1) == Face::Play; }, 5000))
        << "the device is busy: B stays stopped";
    EXPECT_EQ(ptest::audioMsg(d, a), "open");
    EXPECT_TRUE(ptest::audioMsg(d, b).empty());

    ASSERT_NO_FATAL_FAILURE(clickWindow(bPlay));
    std::string line;
    ASSERT_TRUE(hostB.readLine(&line, 10000));
    while (line.find("device opened") == std::string::npos) ASSERT_TRUE(hostB.readLine(&line, 10000)) << line;
    EXPECT_TRUE(ptest::audioMsg(d, a).empty()) << "A gave the device up";
    const Window aPlay = findPlayButton(d, a);
    EXPECT_TRUE(ptest::waitUntil([&] { return ptest::buttonFace(d, aPlay, 1, 1) == Face::Play; }, 3000));
    EXPECT_EQ(hostB.wait(30000), 0) << "B played its sound to the end";
    EXPECT_EQ(ptest::readWave(out()), ptest::referenceDecode(second, dir.path("ref.wav")));
}

}  // namespace
