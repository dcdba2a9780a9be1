// The player's window on the test's X server, read back from the screen:
// the play button's two faces and the gain meter's coloured bar.
#include "player_test_util.h"  // first: see there
#include "playergui.h"

#include <limits>
#include <memory>

namespace {

class PlayerGuiTest : public zeftest::XvfbTest {
protected:
    void SetUp() override {
        XvfbTest::SetUp();
        if (HasFatalFailure()) return;
        static char program[] = "zefplayer";
        static char* argv[] = {program, nullptr};
        gui = std::make_unique<PlayerGui>(1, argv, nullptr);
        ASSERT_EQ(gui->createWd("talk.zef", false), 2);
        gui->initGainGC();
        gui->RealizeTop();
        ASSERT_TRUE(pumpUntil(gui->appContext, [&] {
            XWindowAttributes a;
            return XGetWindowAttributes(gui->display, XtWindow(gui->board), &a) && a.map_state == IsViewable;
        }));
        settle();
    }

    void TearDown() override {
        const Window w = gui ? XtWindow(gui->topLevel) : 0;
        gui.reset();
        if (Display* d = openDisplay()) ptest::dropClient(d, w);
        XvfbTest::TearDown();
    }

    void settle() { XSync(gui->display, False), pumpFor(gui->appContext, 100); }
    ptest::Face face() { return settle(), ptest::buttonFace(gui->display, XtWindow(gui->board)); }

    // The last x of the colour along the meter's middle row, from its left
    // end; -1 when the colour is not there.
    int lastOf(unsigned long colour) {
        XImage* row = XGetImage(gui->display, XtWindow(gui->board), 3, 46 + 4, 82, 1, AllPlanes, ZPixmap);
        int last = -1;
        for (int x = 0; row && x < 82; ++x)
            if ((XGetPixel(row, x, 0) & 0xffffff) == colour) last = x;
        if (row) XDestroyImage(row);
        return last;
    }

    std::unique_ptr<PlayerGui> gui;
};

// The button shows stop once built (the player starts playing) and the
// face it is given afterwards.
TEST_F(PlayerGuiTest, PlayButtonShowsItsFace) {
    EXPECT_EQ(face(), ptest::Face::Stop);
    gui->loadPlayXbm();
    EXPECT_EQ(face(), ptest::Face::Play);
    gui->loadStopXbm();
    EXPECT_EQ(face(), ptest::Face::Stop);
}

// The bar is 80 pixels at full level, dashed: green to 60, yellow to 68,
// red beyond. Each level replaces the bar before it, longer or shorter.
TEST_F(PlayerGuiTest, GainMeterColoursFollowTheLevel) {
    struct Row {
        float gain;
        int green, yellow, red;  // the colour's last pixel, within a dash; -1 none
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (const Row& r : {Row{0.5f, 39, -1, -1}, Row{0.75f, 59, -1, -1}, Row{0.8f, 59, 63, -1}, Row{1.0f, 59, 67, 79},
                         Row{2.0f, 59, 67, 79}, Row{0.3f, 23, -1, -1}, Row{0.0f, -1, -1, -1}, Row{0.9f, 59, 67, 71},
                         Row{nan, -1, -1, -1}, Row{-1.0f, -1, -1, -1}}) {
        SCOPED_TRACE(r.gain);
        gui->showGain(r.gain);
        settle();
        const std::pair<unsigned long, int> colours[] = {{0x00ff00, r.green}, {0xffff00, r.yellow}, {0xff0000, r.red}};
        for (const auto& [colour, expected] : colours) {
            const int last = lastOf(colour);
            if (expected < 0) EXPECT_EQ(last, -1) << std::hex << colour;
            else EXPECT_TRUE(last <= expected && last >= expected - 3) << std::hex << colour << std::dec << " " << last;
        }
    }
}

}  // namespace
