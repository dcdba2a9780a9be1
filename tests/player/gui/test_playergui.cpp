// The player's window on a private X server: layout, colours, bitmaps, the
// gain meter, the sound waves, the time label, the growing position scale,
// the floating and embedded forms, and the numbers behind them.
#include "xvfb_fixture.h"  // first: see there
#include "playergui.h"

#include <Xm/MwmUtil.h>
#include <Xm/PushB.h>
#include <Xm/Scale.h>
#include <X11/Shell.h>

#include <cstdio>
#include <limits>
#include <memory>
#include <string>
#include <vector>

using zeftest::XvfbTest;

namespace {

constexpr unsigned long kBlack = 0x000000;
constexpr unsigned long kGrey = 0xbebebe;
constexpr unsigned long kWhite = 0xffffff;
constexpr unsigned long kRed = 0xff0000;
constexpr unsigned long kGreen = 0x00ff00;
constexpr unsigned long kBlue = 0x0000ff;
constexpr unsigned long kYellow = 0xffff00;
constexpr unsigned long kDarkSlateGrey = 0x2f4f4f;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

template <typename T>
T resource(Widget w, const char* name) {
    T value{};
    Arg arg[1];
    XtSetArg(arg[0], const_cast<char*>(name), &value);
    XtGetValues(w, arg, 1);
    return value;
}

struct Geometry {
    int x, y, width, height;
};

Geometry geometry(Widget w) {
    return {resource<Position>(w, XtNx), resource<Position>(w, XtNy),
            resource<Dimension>(w, XtNwidth), resource<Dimension>(w, XtNheight)};
}

// The pixels of a window (as on screen, children included) or a pixmap.
struct Shot {
    int width = 0;
    int height = 0;
    std::vector<unsigned long> pixels;

    unsigned long at(int x, int y) const {
        if (x < 0 || y < 0 || x >= width || y >= height) return ~0UL;
        return pixels[static_cast<size_t>(y * width + x)];
    }
    // Pixels of the colour in the rectangle (x, y, w, h).
    int count(unsigned long colour, int x, int y, int w, int h) const {
        int n = 0;
        for (int j = y; j < y + h; ++j)
            for (int i = x; i < x + w; ++i) n += at(i, j) == colour;
        return n;
    }
};

Shot grab(Display* d, Drawable drawable) {
    Shot shot;
    Window root;
    int x, y;
    unsigned w, h, border, depth;
    XSync(d, False);
    if (!drawable || !XGetGeometry(d, drawable, &root, &x, &y, &w, &h, &border, &depth))
        return shot;
    XImage* image = XGetImage(d, drawable, 0, 0, w, h, AllPlanes, ZPixmap);
    if (!image) return shot;
    shot.width = static_cast<int>(w);
    shot.height = static_cast<int>(h);
    for (int j = 0; j < shot.height; ++j)
        for (int i = 0; i < shot.width; ++i)
            shot.pixels.push_back(XGetPixel(image, i, j) & 0xffffff);
    XDestroyImage(image);
    return shot;
}

int activations = 0;
void countActivation(Widget, XtPointer, XtPointer) { ++activations; }

}  // namespace

class PlayerGuiTest : public XvfbTest {
protected:
    void SetUp() override {
        XvfbTest::SetUp();
        if (HasFatalFailure()) return;
        // The toolkit keeps argv for the session: static storage.
        static char program[] = "/usr/bin/zefplayer";
        static char* argv[] = {program, nullptr};
        gui = std::make_unique<PlayerGui>(1, argv, nullptr);
        ASSERT_NE(gui->display, nullptr);
    }

    void TearDown() override {
        gui.reset();
        XvfbTest::TearDown();
    }

    // Builds and shows the window as the player does.
    void showWindow() {
        ASSERT_EQ(gui->createWd("talk.zef", false), 2);
        realize(gui->board);
        gui->initGainGC();
        gui->initVolumeGC();
    }

    void realize(Widget shown) {
        gui->RealizeTop();
        ASSERT_TRUE(pumpUntil(gui->appContext, [&] {
            XWindowAttributes a;
            return XtWindow(shown) && XGetWindowAttributes(gui->display, XtWindow(shown), &a) &&
                   a.map_state == IsViewable;
        }));
        settle();
    }

    // Lets pending exposures be redrawn before pixels are read or drawn.
    void settle() {
        XSync(gui->display, False);
        pumpFor(gui->appContext, 100);
    }

    Shot board() { return grab(gui->display, XtWindow(gui->board)); }
    Shot pixmap(Pixmap p) { return grab(gui->display, p); }

    std::unique_ptr<PlayerGui> gui;
};

TEST(PlayerGuiArithmetic, GainBarLengthsAndColours) {
    using namespace playergui;
    EXPECT_EQ(gainBarLength(0.0f), 0);
    EXPECT_EQ(gainBarLength(0.75f), 60);
    EXPECT_EQ(gainBarLength(0.8f), 64);
    EXPECT_EQ(gainBarLength(1.0f), 80);
    EXPECT_EQ(gainBarLength(0.0124f), 0) << "truncated toward zero";
    // Out of range or undefined levels must neither overflow nor draw backwards.
    EXPECT_EQ(gainBarLength(1.5f), 80);
    EXPECT_EQ(gainBarLength(std::numeric_limits<float>::infinity()), 80);
    EXPECT_EQ(gainBarLength(-0.5f), 0);
    EXPECT_EQ(gainBarLength(kNaN), 0);

    auto bar = [](int length) {
        GainSegment s[3];
        std::string text;
        for (int i = 0, n = gainSegments(length, s); i < n; ++i)
            text += std::string(i ? " " : "") + "GYR"[s[i].colour] + std::to_string(s[i].x0) +
                    "-" + std::to_string(s[i].x1);
        return text;
    };
    EXPECT_EQ(bar(0), "");
    EXPECT_EQ(bar(60), "G0-60");
    EXPECT_EQ(bar(64), "G0-60 Y60-64");
    EXPECT_EQ(bar(68), "G0-60 Y60-68");
    EXPECT_EQ(bar(80), "G0-60 Y60-68 R68-80");
}

TEST(PlayerGuiArithmetic, ScaleSteps) {
    using playergui::scaleStep;
    EXPECT_EQ(scaleStep(1, 160, 0.5f, 1, 160), 80) << "1 + 159 * 0.5 = 80.5, truncated";
    EXPECT_EQ(scaleStep(1, 160, 1.0f, 1, 80), 80) << "kept below the current maximum";
    EXPECT_EQ(scaleStep(1, 160, 1.0f, 1, 160), 160);
    EXPECT_EQ(scaleStep(1, 160, -3.0f, 1, 160), 1);
    EXPECT_EQ(scaleStep(1, 160, 1e20f, 1, 160), 160);
    EXPECT_EQ(scaleStep(1, 160, kNaN, 1, 160), 1);
}

TEST(PlayerGuiWithoutDisplay, EveryOperationIsSafeAndBuildsNothing) {
    const int first = PlayerGui::nextId;
    PlayerGui a;
    PlayerGui b;
    EXPECT_EQ(a.id, first);
    EXPECT_EQ(b.id, first + 1);
    EXPECT_EQ(a.createWd("x.zef", false), 1);
    EXPECT_EQ(a.createWd(VISUAL_BIG_ICON), 1);
    EXPECT_EQ(a.board, nullptr);
    EXPECT_EQ(a.play, nullptr);
    a.initGainGC();
    a.initVolumeGC();
    a.showGain(0.5f);
    a.displayTime("00");
    a.loadPlayXbm();
    a.moveWarptr(3, 0);
    a.setMaxScale();
    a.setScaleMaximum(0.5f);
    a.setScaleValue(0.5f);
    a.resetScaleValue();
    EXPECT_EQ(a.getScalePerc(), 0.0f);
    EXPECT_EQ(a.addTimeOutProc([](XtPointer, XtIntervalId*) {}, 10, nullptr), 0u);
    for (int i = 0; i < 3; ++i) a.showVolume();
    EXPECT_EQ(a.volumeState, 0) << "the animation cycles even with nothing to draw on";
}

TEST_F(PlayerGuiTest, WidgetsSitWhereThePanelPlacesThem) {
    EXPECT_EQ(resource<int>(gui->topLevel, XmNmwmDecorations),
              MWM_DECOR_BORDER | MWM_DECOR_TITLE | MWM_DECOR_MENU);
    EXPECT_TRUE(resource<Boolean>(gui->topLevel, XtNsaveUnder));
    ASSERT_NO_FATAL_FAILURE(showWindow());
    XWindowAttributes top;
    ASSERT_TRUE(XGetWindowAttributes(gui->display, XtWindow(gui->topLevel), &top));
    EXPECT_EQ(top.width, 164);
    EXPECT_EQ(top.height, 80);
    EXPECT_EQ(XtParent(gui->board), gui->topLevel);

    // Sizes that the panel pins (0: left to the widget); the buttons hold a
    // 32 x 20 face inside a one-pixel shadow; the scale starts 2 pixels long.
    struct Place {
        Widget w;
        Widget parent;
        const char* name;
        Geometry g;
    };
    const Place places[] = {
        {gui->nameLabel, gui->board, "K", {3, 3, 0, 0}},
        {gui->line, gui->board, "UnderLine", {3, 20, 160, 0}},
        {gui->fileLabel, gui->board, "talk.zef", {3, 22, 160, 0}},
        {gui->scale, gui->board, "Scale", {3, 35, 2, 10}},
        {gui->gain, gui->board, "Gain", {3, 46, 82, 10}},
        {gui->playTime, gui->board, "0", {80, 46, 80, 8}},
        {gui->rewind, gui->board, "Rewind", {3, 56, 34, 22}},
        {gui->play, gui->board, "Play", {37, 56, 34, 22}},
        {gui->warptrBoardWidget, gui->board, "WarptrBoard", {76, 57, 61, 10}},
        {gui->warptr, gui->warptrBoardWidget, "Warptr", {30, 0, 5, 9}},
        {gui->warp, gui->board, "Warp", {76, 67, 60, 10}},
        {gui->speaker, gui->board, "Speaker", {141, 58, 8, 15}},
    };
    for (const Place& p : places) {
        SCOPED_TRACE(p.name);
        ASSERT_NE(p.w, nullptr);
        EXPECT_EQ(std::string(XtName(p.w)), p.name);
        EXPECT_EQ(XtParent(p.w), p.parent);
        const Geometry g = geometry(p.w);
        EXPECT_EQ(g.x, p.g.x);
        EXPECT_EQ(g.y, p.g.y);
        EXPECT_EQ(p.g.width ? g.width : 0, p.g.width);
        EXPECT_EQ(p.g.height ? g.height : 0, p.g.height);
    }

    EXPECT_EQ(gui->getWarpXMin(), 0);
    EXPECT_EQ(gui->getWarpXMax(), 55);
    gui->moveWarptr(55, 0);
    EXPECT_EQ(geometry(gui->warptr).x, 55);
    Widget built = gui->board;
    EXPECT_EQ(gui->createWd("other.zef", false), 2) << "a window already built stays";
    EXPECT_EQ(gui->board, built);
}

TEST_F(PlayerGuiTest, PanelShowsItsColoursAndFaces) {
    ASSERT_NO_FATAL_FAILURE(showWindow());
    Shot shot = board();
    ASSERT_EQ(shot.width, 164);
    EXPECT_EQ(shot.at(120, 10), kGrey) << "board background";
    EXPECT_GT(shot.count(kBlack, 3, 3, 12, 17), 10) << "the large K";
    EXPECT_GT(shot.count(kDarkSlateGrey, 15, 3, 42, 13), 20) << "ELVANE";
    EXPECT_GT(shot.count(kRed, 3, 20, 160, 3), 100) << "the red line under the name";
    EXPECT_GT(shot.count(kBlue, 3, 22, 160, 13), 30) << "the file name";
    EXPECT_EQ(shot.count(kBlue, 3, 22, 50, 13), 0) << "a short name is centred";

    // Faces sit inside the buttons' one-pixel shadow: the stop square covers
    // face pixels 11..20 x 5..14, the play triangle is widest in row 10.
    const int faceX = 37 + 1;
    const int faceY = 56 + 1;
    EXPECT_EQ(shot.at(faceX + 15, faceY + 10), kRed) << "stop face after building";
    EXPECT_EQ(shot.at(faceX + 5, faceY + 10), kGrey);
    EXPECT_EQ(shot.at(3 + 1 + 7, 56 + 1 + 10), kGreen) << "rewind bar";
    EXPECT_EQ(shot.at(76 + 30 + 2, 57 + 7), kBlue) << "pointer tip";
    EXPECT_EQ(shot.at(76 + 30, 57 + 8), kGrey);
    EXPECT_GT(shot.count(kBlack, 76, 67, 60, 10), 60) << "warp scale";
    EXPECT_EQ(shot.at(76 + 2, 67), kBlack) << "scale starts under the pointer tip";
    EXPECT_EQ(shot.at(141 + 7, 58), kBlue) << "speaker";
    EXPECT_EQ(shot.at(141, 58), kGrey);

    gui->loadPlayXbm();
    settle();
    shot = board();
    EXPECT_EQ(shot.at(faceX + 14, faceY + 10), kGreen) << "play face";
    EXPECT_EQ(shot.at(faceX + 11, faceY + 3), kGreen) << "triangle's upper corner";
    EXPECT_EQ(shot.at(faceX + 22, faceY + 3), kGrey);
    EXPECT_EQ(shot.count(kRed, faceX, faceY, 32, 20), 0);
    gui->loadStopXbm();
    EXPECT_EQ(resource<Pixmap>(gui->play, XmNlabelPixmap), gui->stopPixmap);

    // The warp pointer keeps both of its colours for the drag handler.
    const Pixmap shown = resource<Pixmap>(gui->warptr, XmNlabelPixmap);
    const Pixmap yellow = resource<Pixmap>(gui->warptr, PlayerGui::warptrYellowResource);
    EXPECT_EQ(resource<Pixmap>(gui->warptr, PlayerGui::warptrBlueResource), shown);
    EXPECT_EQ(pixmap(shown).at(2, 2), kBlue);
    EXPECT_EQ(pixmap(yellow).at(2, 2), kYellow);
    EXPECT_EQ(pixmap(yellow).at(0, 8), kGrey);
}

TEST_F(PlayerGuiTest, GainMeterDrawsDashedColouredBars) {
    ASSERT_EQ(gui->createWd("talk.zef", false), 2);
    gui->initGainGC();  // before realization too: it draws on the frame's window when shown
    realize(gui->board);
    gui->initGainGC();  // and made again, it replaces the first
    // The bar is drawn 6 pixels thick round row 4 of the frame, dashed 3 on, 1 off.
    const int y = 46 + 4;

    gui->showGain(0.75f);
    EXPECT_EQ(gui->gainLength, 60);
    Shot shot = board();
    EXPECT_EQ(shot.at(3 + 57, y), kGreen);
    EXPECT_NE(shot.at(3 + 59, y), kGreen) << "a gap of the dash";
    EXPECT_EQ(shot.count(kGreen, 3, 46 + 1, 3, 6), 3 * 6) << "rows 1 to 6 of the frame";
    EXPECT_EQ(shot.count(kGreen, 3 + 60, 46, 22, 10), 0);
    EXPECT_EQ(shot.count(kYellow, 3, 46, 82, 10), 0);

    gui->showGain(0.8f);
    shot = board();
    EXPECT_EQ(shot.at(3 + 61, y), kYellow);
    EXPECT_EQ(shot.count(kYellow, 3 + 64, 46, 18, 10), 0);
    EXPECT_EQ(shot.count(kRed, 3, 46, 82, 10), 0);

    gui->showGain(1.0f);
    shot = board();
    EXPECT_EQ(shot.at(3 + 65, y), kYellow);
    EXPECT_EQ(shot.at(3 + 69, y), kRed);
    EXPECT_EQ(shot.at(3 + 78, y), kRed);
    EXPECT_EQ(shot.count(kRed, 3 + 80, 46, 2, 10), 0);

    gui->showGain(0.5f);  // a shorter bar leaves nothing of the longer one
    shot = board();
    EXPECT_EQ(shot.count(kRed, 3, 46, 82, 10) + shot.count(kYellow, 3, 46, 82, 10), 0);
    EXPECT_EQ(shot.count(kGreen, 3 + 40, 46, 42, 10), 0);

    gui->showGain(0.0f);
    EXPECT_EQ(board().count(kGreen, 3, 46, 82, 10), 0);
    gui->showGain(-2.0f);
    gui->showGain(kNaN);
    EXPECT_EQ(gui->gainLength, 0);
}

TEST_F(PlayerGuiTest, SoundWavesCycleNothingSmallLarge) {
    ASSERT_NO_FATAL_FAILURE(showWindow());
    const int x = 149, y = 57, w = 10, h = 18;
    gui->showVolume();
    EXPECT_EQ(gui->volumeState, 1);
    EXPECT_EQ(board().count(kBlack, x, y, w, h), 0);

    gui->showVolume();
    Shot shot = board();
    const int small = shot.count(kBlack, x, y, w, h);
    EXPECT_GT(small, 5);
    EXPECT_EQ(shot.count(kBlack, x, y, w, 3), 0) << "the small wave stays low";
    EXPECT_EQ(shot.count(kBlack, x, y, 2, h), 0) << "only the right half of the box";

    gui->showVolume();
    EXPECT_EQ(gui->volumeState, 0);
    shot = board();
    EXPECT_GT(shot.count(kBlack, x, y, w, h), small + 5);
    EXPECT_GT(shot.count(kBlack, x + 5, y, 5, 4), 0) << "the large wave reaches up";

    gui->showVolume();
    shot = board();
    EXPECT_EQ(shot.count(kBlack, x, y, w, h), 0) << "back to nothing";
    EXPECT_EQ(shot.at(141 + 7, 58), kBlue) << "the speaker stays";
}

TEST_F(PlayerGuiTest, TimeLabelShowsTextInTheTimeFont) {
    ASSERT_NO_FATAL_FAILURE(showWindow());
    auto text = [&] {
        XmString s = resource<XmString>(gui->playTime, XmNlabelString);
        char* c = nullptr;
        std::string result = "?";
        if (XmStringGetLtoR(s, const_cast<char*>("LTAG"), &c) && c) result = c;
        XtFree(c);
        XmStringFree(s);
        return result;
    };
    EXPECT_EQ(text(), "?") << "the name \"0\" until the first update";
    gui->displayTime("00");
    EXPECT_EQ(text(), "00");
    settle();
    const int before = board().count(kBlack, 80, 46, 80, 8);
    EXPECT_GT(before, 5);
    gui->displayTime("12:34:56");
    EXPECT_EQ(text(), "12:34:56");
    settle();
    Shot shot = board();
    EXPECT_GT(shot.count(kBlack, 80, 46, 80, 8), before) << "more characters, more ink";
    EXPECT_EQ(shot.count(kBlack, 80, 46, 20, 8), 0) << "aligned to the right";
    gui->displayTime(nullptr);
    EXPECT_EQ(text(), "");
}

TEST_F(PlayerGuiTest, PositionScaleGrowsWithTheData) {
    ASSERT_NO_FATAL_FAILURE(showWindow());
    Widget s = gui->scale;
    auto value = [&] { return resource<int>(s, XmNvalue); };
    auto maximum = [&] { return resource<int>(s, XmNmaximum); };
    EXPECT_EQ(maximum(), 2);
    EXPECT_EQ(resource<int>(s, XmNminimum), 1);
    EXPECT_EQ(value(), 1);
    // The scale is drawn in shades of white, never in the board's grey.
    EXPECT_EQ(board().count(kGrey, 3 + 2, 38, 150, 4), 150 * 4) << "two pixels long";

    gui->setScaleMaximum(0.5f);
    EXPECT_EQ(maximum(), 80);
    EXPECT_EQ(resource<Dimension>(s, XmNscaleWidth), 80);
    gui->setScaleMaximum(0.25f);
    EXPECT_EQ(maximum(), 80) << "never shrinks";
    settle();
    Shot shot = board();
    EXPECT_EQ(shot.count(kGrey, 3 + 2, 38, 76, 4), 0) << "drawn up to the new length";
    EXPECT_EQ(shot.count(kGrey, 3 + 82, 38, 76, 4), 76 * 4) << "and no further";

    gui->setScaleValue(1.0f);
    EXPECT_EQ(value(), 80) << "held at the current maximum";
    EXPECT_FLOAT_EQ(gui->getScalePerc(), 80.0f / 79.0f);
    gui->setScaleValue(-1.0f);
    EXPECT_EQ(value(), 1);

    gui->setMaxScale();
    EXPECT_EQ(maximum(), 160);
    EXPECT_EQ(resource<Dimension>(s, XmNscaleWidth), 160);
    gui->setScaleMaximum(0.9f);
    EXPECT_EQ(maximum(), 160) << "complete: nothing changes";
    gui->setScaleValue(158.0f / 159.0f);
    EXPECT_EQ(value(), 159);
    EXPECT_FLOAT_EQ(gui->getScalePerc(), 1.0f);
    gui->resetScaleValue();
    EXPECT_EQ(value(), 1);
    settle();
    EXPECT_EQ(board().count(kGrey, 3 + 2, 38, 156, 4), 0) << "full length";
}

// A file that is complete from the start gets its full scale before the
// window is shown.
TEST_F(PlayerGuiTest, CompleteFileShowsTheFullScaleAtOnce) {
    ASSERT_EQ(gui->createWd("talk.zef", false), 2);
    gui->setMaxScale();
    ASSERT_NO_FATAL_FAILURE(realize(gui->board));
    EXPECT_EQ(geometry(gui->scale).width, 160);
    EXPECT_EQ(board().count(kGrey, 3, 38, 160, 4), 0);
}

// Also leaves a picture of the window for people to look at.
TEST_F(PlayerGuiTest, ScreenshotOfAPlayingWindow) {
    ASSERT_NO_FATAL_FAILURE(showWindow());
    gui->setScaleMaximum(0.7f);
    gui->setScaleValue(0.4f);
    gui->displayTime("00:12");
    settle();
    gui->showGain(0.9f);
    for (int i = 0; i < 3; ++i) gui->showVolume();
    XSync(gui->display, False);
    const std::string png = std::string(ZEF_BINARY_DIR) + "/tests/player/gui/playergui.png";
    std::remove(png.c_str());
    const std::string command = "xwd -silent -id " + std::to_string(XtWindow(gui->topLevel)) +
                                " | convert xwd:- png:" + png;
    ASSERT_EQ(zeftest::runCommand({"sh", "-c", command}), 0);
    FILE* f = std::fopen(png.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    char magic[4] = {};
    EXPECT_EQ(std::fread(magic, 1, 4, f), 4u);
    std::fclose(f);
    EXPECT_EQ(std::string(magic + 1, 3), "PNG");
}

TEST_F(PlayerGuiTest, FloatingWindowLivesInItsOwnShell) {
    ASSERT_EQ(gui->createWd("talk.zef", true), 2);
    ASSERT_NE(gui->floatShell, nullptr);
    Widget shell = gui->floatShell->getWidget();
    EXPECT_EQ(std::string(XtName(shell)), "FloatShell");
    EXPECT_EQ(XtClass(shell), transientShellWidgetClass);
    EXPECT_EQ(XtParent(gui->board), shell);
    EXPECT_TRUE(resource<Boolean>(shell, XtNsaveUnder));
    EXPECT_EQ(resource<unsigned char>(shell, XmNdeleteResponse), XmDO_NOTHING);
    // Both shells would open at the origin; keep the empty top level aside.
    Arg aside[1];
    XtSetArg(aside[0], XtNx, 300);
    XtSetValues(gui->topLevel, aside, 1);
    ASSERT_NO_FATAL_FAILURE(realize(gui->board));
    XWindowAttributes a;
    ASSERT_TRUE(XGetWindowAttributes(gui->display, XtWindow(shell), &a));
    EXPECT_GE(a.width, 163);
    EXPECT_GE(a.height, 78);
    gui->initGainGC();
    gui->showGain(1.0f);
    EXPECT_EQ(board().at(3 + 69, 46 + 4), kRed);
}

TEST_F(PlayerGuiTest, EmbeddedIconIsTheOnlyControl) {
    ASSERT_EQ(gui->createWd(VISUAL_BIG_ICON), 2);
    ASSERT_NE(gui->play, nullptr);
    EXPECT_EQ(std::string(XtName(gui->play)), "EmbeddedIcon");
    EXPECT_EQ(XtParent(gui->play), gui->topLevel);
    EXPECT_EQ(gui->board, nullptr);
    EXPECT_EQ(gui->scale, nullptr);
    EXPECT_EQ(resource<Pixmap>(gui->play, XmNlabelPixmap), gui->stopPixmap);
    const Shot stop = pixmap(gui->stopPixmap);
    const Shot play = pixmap(gui->playPixmap);
    EXPECT_EQ(stop.width, 50);
    EXPECT_EQ(stop.height, 50);
    EXPECT_EQ(stop.at(25, 25), kBlack) << "stop square";
    EXPECT_EQ(play.at(35, 25), kBlack) << "play triangle";
    EXPECT_EQ(play.at(41, 25), kWhite);
    EXPECT_EQ(play.at(2, 25), kBlack) << "ring";

    // Operations of the full window leave the icon alone.
    gui->showGain(1.0f);
    gui->displayTime("00");
    gui->setScaleValue(0.5f);
    gui->initGainGC();
    gui->initVolumeGC();
    gui->showVolume();

    // Pressing the icon reaches the handler that the player installs on it;
    // the icon fills the top level, its face centred.
    XtAddCallback(gui->play, XmNactivateCallback, countActivation, nullptr);
    activations = 0;
    ASSERT_NO_FATAL_FAILURE(realize(gui->play));
    const std::string window = std::to_string(XtWindow(gui->play));
    ASSERT_EQ(xdotool({"mousemove", "--window", window, "82", "40", "click", "1"}), 0);
    EXPECT_TRUE(pumpUntil(gui->appContext, [] { return activations == 1; }));
    gui->loadPlayXbm();
    settle();
    EXPECT_GT(grab(gui->display, XtWindow(gui->play)).count(kBlack, 0, 0, 164, 80), 100);

    EXPECT_EQ(gui->createWd(VISUAL_SMALL_ICON), 2) << "an icon already stands";
    EXPECT_EQ(pixmap(gui->stopPixmap).width, 50);
}

TEST_F(PlayerGuiTest, SmallIconForEveryOtherMode) {
    ASSERT_EQ(gui->createWd(static_cast<VISUALMODE>(7)), 2);
    EXPECT_EQ(pixmap(gui->playPixmap).width, 27);
    EXPECT_EQ(pixmap(gui->playPixmap).height, 27);
    EXPECT_EQ(pixmap(gui->stopPixmap).at(13, 13), kBlack);
    EXPECT_EQ(pixmap(gui->playPixmap).at(13, 1), kBlack);
}

TEST_F(PlayerGuiTest, MissingFontsFallBackToFixed) {
    // A server without the courier fonts: only the directory with "fixed".
    Display* d = openDisplay();
    ASSERT_NE(d, nullptr);
    char misc[] = "/usr/share/fonts/X11/misc";
    char* path[] = {misc};
    XSetFontPath(d, path, 1);
    int found = 0;
    char** names = XListFonts(d, "-*-courier-*", 1, &found);
    if (names) XFreeFontNames(names);
    ASSERT_EQ(found, 0);

    testing::internal::CaptureStderr();
    ASSERT_EQ(gui->createWd("talk.zef", false), 2);
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("font \"-*-courier-bold-o-*--18-*\" not found, using \"fixed\""),
              std::string::npos)
        << errors;
    ASSERT_NO_FATAL_FAILURE(realize(gui->board));
    gui->displayTime("00:01");
    settle();
    Shot shot = board();
    EXPECT_GT(shot.count(kBlack, 80, 46, 80, 8), 5) << "the time is still written";
    EXPECT_GT(shot.count(kBlue, 3, 22, 160, 13), 20) << "and the file name";
}
