// The player's window on a private X server: layout, colours, bitmaps, the
// gain meter, the sound waves, the time label, the growing position scale,
// the floating and embedded forms, and the numbers behind them.
#include "xvfb_fixture.h"  // first: see there
#include "playergui.h"

#include <Xm/MwmUtil.h>
#include <Xm/PushB.h>
#include <Xm/Scale.h>
#include <Xm/Separator.h>
#include <X11/Shell.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <utility>

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

unsigned long pixmapPixel(Display* d, Pixmap p, int x, int y) {
    XImage* image = XGetImage(d, p, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image) return ~0UL;
    const unsigned long pixel = XGetPixel(image, 0, 0) & 0xffffff;
    XDestroyImage(image);
    return pixel;
}

std::pair<unsigned, unsigned> pixmapSize(Display* d, Pixmap p) {
    Window root;
    int x, y;
    unsigned width = 0, height = 0, border, depth;
    if (!XGetGeometry(d, p, &root, &x, &y, &width, &height, &border, &depth)) return {0, 0};
    return {width, height};
}

// The contents of a window as they are on screen, children included.
class Snapshot {
public:
    Snapshot(Display* d, Window w) {
        XWindowAttributes a;
        if (XGetWindowAttributes(d, w, &a))
            image_ = XGetImage(d, w, 0, 0, a.width, a.height, AllPlanes, ZPixmap);
    }
    ~Snapshot() {
        if (image_) XDestroyImage(image_);
    }
    Snapshot(const Snapshot&) = delete;
    Snapshot& operator=(const Snapshot&) = delete;

    bool valid() const { return image_ != nullptr; }
    unsigned long at(int x, int y) const {
        if (!image_ || x < 0 || y < 0 || x >= image_->width || y >= image_->height) return ~0UL;
        return XGetPixel(image_, x, y) & 0xffffff;
    }
    // Pixels of the colour in the rectangle (x, y, width, height).
    int count(unsigned long colour, int x, int y, int width, int height) const {
        int n = 0;
        for (int j = y; j < y + height; ++j)
            for (int i = x; i < x + width; ++i) n += at(i, j) == colour;
        return n;
    }

private:
    XImage* image_ = nullptr;
};

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

    // Builds, realizes and waits until the window is on screen and idle.
    void showWindow(const char* fileName = "talk.zef", bool floating = false) {
        ASSERT_EQ(gui->createWd(fileName, floating), 2);
        realize(gui->board);
        gui->initGainGC();
        gui->initVolumeGC();
    }

    void realize(Widget shown) {
        gui->RealizeTop();
        ASSERT_TRUE(pumpUntil(gui->appContext, [&] { return viewable(XtWindow(shown)); }));
        settle();
    }

    // Lets pending exposures be redrawn before pixels are read or drawn.
    void settle() {
        XSync(gui->display, False);
        pumpFor(gui->appContext, 100);
        XSync(gui->display, False);
    }

    bool viewable(Window w) {
        XWindowAttributes a;
        return w && XGetWindowAttributes(gui->display, w, &a) && a.map_state == IsViewable;
    }

    std::unique_ptr<Snapshot> snapshot(Widget w) {
        XSync(gui->display, False);
        return std::make_unique<Snapshot>(gui->display, XtWindow(w));
    }

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
    EXPECT_EQ(gainBarLength(1e30f), 80);
    EXPECT_EQ(gainBarLength(-0.5f), 0);
    EXPECT_EQ(gainBarLength(std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(gainBarLength(std::numeric_limits<float>::infinity()), 80);

    GainSegment s[3];
    EXPECT_EQ(gainSegments(0, s), 0);
    ASSERT_EQ(gainSegments(60, s), 1);
    EXPECT_EQ(s[0].colour, GainSegment::Green);
    EXPECT_EQ(s[0].x1, 60);
    ASSERT_EQ(gainSegments(64, s), 2);
    EXPECT_EQ(s[1].colour, GainSegment::Yellow);
    EXPECT_EQ(s[1].x0, 60);
    EXPECT_EQ(s[1].x1, 64);
    ASSERT_EQ(gainSegments(80, s), 3);
    EXPECT_EQ(s[0].x1, 60);
    EXPECT_EQ(s[1].x1, 68);
    EXPECT_EQ(s[2].colour, GainSegment::Red);
    EXPECT_EQ(s[2].x0, 68);
    EXPECT_EQ(s[2].x1, 80);
}

TEST(PlayerGuiArithmetic, ScaleSteps) {
    using playergui::scaleStep;
    EXPECT_EQ(scaleStep(1, 160, 0.5f, 1, 160), 80) << "1 + 159 * 0.5 = 80.5, truncated";
    EXPECT_EQ(scaleStep(1, 160, 1.0f, 1, 80), 80) << "kept below the current maximum";
    EXPECT_EQ(scaleStep(1, 160, 1.0f, 1, 160), 160);
    EXPECT_EQ(scaleStep(1, 160, 0.0f, 1, 160), 1);
    EXPECT_EQ(scaleStep(1, 160, -3.0f, 1, 160), 1);
    EXPECT_EQ(scaleStep(1, 160, 1e20f, 1, 160), 160);
    EXPECT_EQ(scaleStep(1, 160, std::numeric_limits<float>::quiet_NaN(), 1, 160), 1);
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
    a.loadStopXbm();
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
    EXPECT_EQ(gui->floatShell, nullptr);

    struct Place {
        Widget w;
        const char* name;
        int x, y;
    };
    const Place places[] = {
        {gui->nameLabel, "K", 3, 3},          {gui->line, "UnderLine", 3, 20},
        {gui->fileLabel, "talk.zef", 3, 22},  {gui->scale, "Scale", 3, 35},
        {gui->gain, "Gain", 3, 46},           {gui->playTime, "0", 80, 46},
        {gui->rewind, "Rewind", 3, 56},       {gui->play, "Play", 37, 56},
        {gui->warptrBoardWidget, "WarptrBoard", 76, 57},
        {gui->warp, "Warp", 76, 67},          {gui->speaker, "Speaker", 141, 58},
    };
    for (const Place& p : places) {
        SCOPED_TRACE(p.name);
        ASSERT_NE(p.w, nullptr);
        EXPECT_EQ(std::string(XtName(p.w)), p.name);
        EXPECT_EQ(XtParent(p.w), gui->board);
        const Geometry g = geometry(p.w);
        EXPECT_EQ(g.x, p.x);
        EXPECT_EQ(g.y, p.y);
    }
    EXPECT_EQ(XtParent(gui->warptr), gui->warptrBoardWidget);
    const Geometry pointer = geometry(gui->warptr);
    EXPECT_EQ(pointer.x, 30);
    EXPECT_EQ(pointer.y, 0);
    const Geometry strip = geometry(gui->warptrBoardWidget);
    EXPECT_EQ(strip.width, 61);
    EXPECT_EQ(strip.height, 10);
    const Geometry frame = geometry(gui->gain);
    EXPECT_EQ(frame.width, 82);
    EXPECT_EQ(frame.height, 10);
    const Geometry time = geometry(gui->playTime);
    EXPECT_EQ(time.width, 80);
    EXPECT_EQ(time.height, 8);
    EXPECT_EQ(geometry(gui->fileLabel).width, 160);
    EXPECT_EQ(geometry(gui->line).width, 160);
    // The buttons hold a 32 x 20 face inside a one-pixel shadow.
    EXPECT_EQ(geometry(gui->play).width, 34);
    EXPECT_EQ(geometry(gui->play).height, 22);
    EXPECT_EQ(geometry(gui->rewind).width, 34);

    EXPECT_EQ(gui->getWarpXMin(), 0);
    EXPECT_EQ(gui->getWarpXMax(), 55);
    gui->moveWarptr(55, 0);
    EXPECT_EQ(geometry(gui->warptr).x, 55);

    // A window already built stays as it is.
    Widget board = gui->board;
    EXPECT_EQ(gui->createWd("other.zef", false), 2);
    EXPECT_EQ(gui->board, board);
}

TEST_F(PlayerGuiTest, PanelShowsItsColoursAndFaces) {
    ASSERT_NO_FATAL_FAILURE(showWindow());
    EXPECT_EQ(gui->grey, kGrey);
    EXPECT_EQ(gui->yellow, kYellow);
    auto shot = snapshot(gui->board);
    ASSERT_TRUE(shot->valid());
    EXPECT_EQ(shot->at(120, 10), kGrey) << "board background";
    EXPECT_GT(shot->count(kBlack, 3, 3, 12, 17), 10) << "the large K";
    EXPECT_GT(shot->count(kDarkSlateGrey, 15, 3, 42, 13), 20) << "ELVANE";
    EXPECT_GT(shot->count(kRed, 3, 20, 160, 3), 100) << "the red line under the name";
    EXPECT_GT(shot->count(kBlue, 3, 22, 160, 13), 30) << "the file name";
    EXPECT_EQ(shot->count(kBlue, 3, 22, 50, 13), 0) << "a short name is centred";

    // Faces sit inside the buttons' one-pixel shadow: the stop square
    // covers face pixels 11..20 x 5..14, the play triangle is widest in row 10.
    const int faceX = 37 + 1;
    const int faceY = 56 + 1;
    EXPECT_EQ(shot->at(faceX + 15, faceY + 10), kRed) << "stop face after building";
    EXPECT_EQ(shot->at(faceX + 5, faceY + 10), kGrey);
    EXPECT_EQ(shot->count(kGreen, faceX, faceY, 32, 20), 0);
    EXPECT_GT(shot->count(kGreen, 3 + 1, 56 + 1, 32, 20), 50) << "rewind face";
    EXPECT_EQ(shot->at(3 + 1 + 7, 56 + 1 + 10), kGreen) << "rewind bar";
    EXPECT_EQ(shot->at(76 + 30 + 2, 57 + 7), kBlue) << "pointer tip";
    EXPECT_EQ(shot->at(76 + 30, 57 + 8), kGrey);
    EXPECT_GT(shot->count(kBlack, 76, 67, 60, 10), 60) << "warp scale";
    EXPECT_EQ(shot->at(76 + 2, 67), kBlack) << "scale starts under the pointer tip";
    EXPECT_GT(shot->count(kBlue, 141, 58, 8, 15), 60) << "speaker";
    EXPECT_EQ(shot->at(141 + 7, 58), kBlue);
    EXPECT_EQ(shot->at(141, 58), kGrey);

    gui->loadPlayXbm();
    settle();
    shot = snapshot(gui->board);
    EXPECT_EQ(shot->at(faceX + 14, faceY + 10), kGreen) << "play face";
    EXPECT_EQ(shot->at(faceX + 11, faceY + 3), kGreen) << "triangle's upper corner";
    EXPECT_EQ(shot->at(faceX + 22, faceY + 3), kGrey);
    EXPECT_EQ(shot->count(kRed, faceX, faceY, 32, 20), 0);
    EXPECT_EQ(resource<Pixmap>(gui->play, XmNlabelPixmap), gui->playPixmap);
    gui->loadStopXbm();
    EXPECT_EQ(resource<Pixmap>(gui->play, XmNlabelPixmap), gui->stopPixmap);
}

TEST_F(PlayerGuiTest, WarpPointerKeepsBothColours) {
    ASSERT_NO_FATAL_FAILURE(showWindow());
    const Pixmap shown = resource<Pixmap>(gui->warptr, XmNlabelPixmap);
    const Pixmap blueCopy = resource<Pixmap>(gui->warptr, PlayerGui::warptrBlueResource);
    const Pixmap yellowOne = resource<Pixmap>(gui->warptr, PlayerGui::warptrYellowResource);
    EXPECT_EQ(shown, blueCopy);
    EXPECT_NE(shown, yellowOne);
    EXPECT_EQ(pixmapPixel(gui->display, blueCopy, 2, 2), kBlue);
    EXPECT_EQ(pixmapPixel(gui->display, yellowOne, 2, 2), kYellow);
    EXPECT_EQ(pixmapPixel(gui->display, yellowOne, 0, 8), kGrey);
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
    auto shot = snapshot(gui->board);
    EXPECT_EQ(shot->at(3 + 0, y), kGreen);
    EXPECT_EQ(shot->at(3 + 57, y), kGreen);
    EXPECT_NE(shot->at(3 + 59, y), kGreen) << "a gap of the dash";
    EXPECT_EQ(shot->at(3 + 0, 46 + 1), kGreen) << "top row of the bar";
    EXPECT_EQ(shot->at(3 + 0, 46 + 6), kGreen) << "bottom row of the bar";
    EXPECT_EQ(shot->count(kGreen, 3 + 60, 46, 22, 10), 0);
    EXPECT_EQ(shot->count(kYellow, 3, 46, 82, 10), 0);

    gui->showGain(0.8f);
    EXPECT_EQ(gui->gainLength, 64);
    shot = snapshot(gui->board);
    EXPECT_EQ(shot->at(3 + 61, y), kYellow);
    EXPECT_EQ(shot->count(kYellow, 3 + 64, 46, 18, 10), 0);
    EXPECT_EQ(shot->count(kRed, 3, 46, 82, 10), 0);

    gui->showGain(1.0f);
    EXPECT_EQ(gui->gainLength, 80);
    shot = snapshot(gui->board);
    EXPECT_EQ(shot->at(3 + 1, y), kGreen);
    EXPECT_EQ(shot->at(3 + 65, y), kYellow);
    EXPECT_EQ(shot->at(3 + 69, y), kRed);
    EXPECT_EQ(shot->at(3 + 78, y), kRed);
    EXPECT_EQ(shot->count(kRed, 3 + 80, 46, 2, 10), 0);

    gui->showGain(0.5f);  // a shorter bar leaves nothing of the longer one
    shot = snapshot(gui->board);
    EXPECT_EQ(shot->count(kRed, 3, 46, 82, 10), 0);
    EXPECT_EQ(shot->count(kYellow, 3, 46, 82, 10), 0);
    EXPECT_EQ(shot->count(kGreen, 3 + 40, 46, 42, 10), 0);

    gui->showGain(0.0f);
    EXPECT_EQ(gui->gainLength, 0);
    EXPECT_EQ(snapshot(gui->board)->count(kGreen, 3, 46, 82, 10), 0);
    gui->showGain(-2.0f);
    gui->showGain(std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(gui->gainLength, 0);
    EXPECT_EQ(snapshot(gui->board)->count(kGreen, 3, 46, 82, 10), 0);
}

TEST_F(PlayerGuiTest, SoundWavesCycleNothingSmallLarge) {
    ASSERT_NO_FATAL_FAILURE(showWindow());
    const int x = 149, y = 57, w = 10, h = 18;
    EXPECT_EQ(gui->volumeState, 0);
    gui->showVolume();  // clears
    EXPECT_EQ(gui->volumeState, 1);
    EXPECT_EQ(snapshot(gui->board)->count(kBlack, x, y, w, h), 0);

    gui->showVolume();  // small wave
    EXPECT_EQ(gui->volumeState, 2);
    auto shot = snapshot(gui->board);
    const int small = shot->count(kBlack, x, y, w, h);
    EXPECT_GT(small, 5);
    EXPECT_EQ(shot->count(kBlack, x, y, w, 3), 0) << "the small wave stays low";
    EXPECT_EQ(shot->count(kBlack, x, y, 2, h), 0) << "only the right half of the box";

    gui->showVolume();  // large wave beside it
    EXPECT_EQ(gui->volumeState, 0);
    shot = snapshot(gui->board);
    EXPECT_GT(shot->count(kBlack, x, y, w, h), small + 5);
    EXPECT_GT(shot->count(kBlack, x + 5, y, 5, 4), 0) << "the large wave reaches up";

    gui->showVolume();
    EXPECT_EQ(snapshot(gui->board)->count(kBlack, x, y, w, h), 0) << "back to nothing";
    EXPECT_EQ(snapshot(gui->board)->at(141 + 7, 58), kBlue) << "the speaker stays";
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
    const int before = snapshot(gui->board)->count(kBlack, 80, 46, 80, 8);
    EXPECT_GT(before, 5);
    gui->displayTime("12:34:56");
    EXPECT_EQ(text(), "12:34:56");
    settle();
    auto shot = snapshot(gui->board);
    EXPECT_GT(shot->count(kBlack, 80, 46, 80, 8), before) << "more characters, more ink";
    EXPECT_EQ(shot->count(kBlack, 80, 46, 20, 8), 0) << "aligned to the right";
    gui->displayTime(nullptr);
    EXPECT_EQ(text(), "");
}

TEST_F(PlayerGuiTest, PositionScaleGrowsWithTheData) {
    ASSERT_NO_FATAL_FAILURE(showWindow());
    Widget s = gui->scale;
    EXPECT_EQ(gui->scaleMin, 1);
    EXPECT_EQ(gui->scaleMax, 160);
    EXPECT_EQ(resource<int>(s, XmNmaximum), 2);
    EXPECT_EQ(resource<int>(s, XmNminimum), 1);
    EXPECT_EQ(resource<int>(s, XmNvalue), 1);
    EXPECT_EQ(resource<Dimension>(s, XmNscaleWidth), 2);

    settle();
    // The trough and slider are drawn in shades of white, never the board's grey.
    EXPECT_EQ(snapshot(gui->board)->count(kGrey, 3, 38, 2, 4), 0) << "two pixels long";
    EXPECT_EQ(snapshot(gui->board)->count(kGrey, 3 + 5, 38, 150, 4), 150 * 4);

    gui->setScaleMaximum(0.5f);
    EXPECT_EQ(resource<int>(s, XmNmaximum), 80);
    EXPECT_EQ(resource<Dimension>(s, XmNscaleWidth), 80);
    gui->setScaleMaximum(0.25f);
    EXPECT_EQ(resource<int>(s, XmNmaximum), 80) << "never shrinks";
    settle();
    auto shot = snapshot(gui->board);
    EXPECT_EQ(shot->count(kGrey, 3 + 2, 38, 76, 4), 0) << "drawn up to the new length";
    EXPECT_EQ(shot->count(kGrey, 3 + 82, 38, 76, 4), 76 * 4) << "and no further";

    gui->setScaleValue(1.0f);
    EXPECT_EQ(resource<int>(s, XmNvalue), 80) << "held at the current maximum";
    EXPECT_FLOAT_EQ(gui->getScalePerc(), 80.0f / 79.0f);
    gui->setScaleValue(-1.0f);
    EXPECT_EQ(resource<int>(s, XmNvalue), 1);

    gui->setMaxScale();
    EXPECT_EQ(resource<int>(s, XmNmaximum), 160);
    EXPECT_EQ(resource<Dimension>(s, XmNscaleWidth), 160);
    gui->setScaleMaximum(0.9f);
    EXPECT_EQ(resource<int>(s, XmNmaximum), 160) << "complete: nothing changes";
    gui->setScaleValue(1.0f);
    EXPECT_EQ(resource<int>(s, XmNvalue), 160);
    gui->setScaleValue(158.0f / 159.0f);
    EXPECT_EQ(resource<int>(s, XmNvalue), 159);
    EXPECT_FLOAT_EQ(gui->getScalePerc(), 1.0f);
    gui->resetScaleValue();
    EXPECT_EQ(resource<int>(s, XmNvalue), 1);
    settle();
    EXPECT_EQ(snapshot(gui->board)->count(kGrey, 3 + 2, 38, 156, 4), 0) << "full length";
}

// A file that is complete from the start gets its full scale before the
// window is shown.
TEST_F(PlayerGuiTest, CompleteFileShowsTheFullScaleAtOnce) {
    ASSERT_EQ(gui->createWd("talk.zef", false), 2);
    gui->setMaxScale();
    ASSERT_NO_FATAL_FAILURE(realize(gui->board));
    EXPECT_EQ(geometry(gui->scale).width, 160);
    EXPECT_EQ(snapshot(gui->board)->count(kGrey, 3, 38, 160, 4), 0);
}

// Also leaves a picture of the window for people to look at.
TEST_F(PlayerGuiTest, ScreenshotOfAPlayingWindow) {
    ASSERT_NO_FATAL_FAILURE(showWindow());
    gui->setScaleMaximum(0.7f);
    gui->setScaleValue(0.4f);
    gui->displayTime("00:12");
    settle();
    gui->showGain(0.9f);
    gui->showVolume();
    gui->showVolume();
    gui->showVolume();
    XSync(gui->display, False);
    const std::string png = std::string(ZEF_BINARY_DIR) + "/tests/player/gui/playergui.png";
    std::remove(png.c_str());
    const std::string command = "xwd -silent -id " + std::to_string(XtWindow(gui->topLevel)) +
                                " | convert xwd:- png:" + png;
    ASSERT_EQ(zeftest::runCommand({"sh", "-c", command}), 0);
    FILE* f = std::fopen(png.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    unsigned char magic[8] = {};
    EXPECT_EQ(std::fread(magic, 1, 8, f), 8u);
    std::fclose(f);
    EXPECT_EQ(magic[1], 'P');
    EXPECT_EQ(magic[2], 'N');
    EXPECT_EQ(magic[3], 'G');
}

TEST_F(PlayerGuiTest, FloatingWindowLivesInItsOwnShell) {
    ASSERT_EQ(gui->createWd("talk.zef", true), 2);
    ASSERT_NE(gui->floatShell, nullptr);
    Widget shell = gui->floatShell->getWidget();
    EXPECT_EQ(std::string(XtName(shell)), "FloatShell");
    EXPECT_EQ(XtClass(shell), transientShellWidgetClass);
    EXPECT_EQ(XtParent(gui->board), shell);
    EXPECT_TRUE(XtIsManaged(gui->board));
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
    gui->initVolumeGC();
    gui->showGain(1.0f);
    gui->loadPlayXbm();
    settle();
    EXPECT_EQ(snapshot(gui->board)->at(3 + 69, 46 + 4), kRed);
}

TEST_F(PlayerGuiTest, EmbeddedIconIsTheOnlyControl) {
    ASSERT_EQ(gui->createWd(VISUAL_BIG_ICON), 2);
    ASSERT_NE(gui->play, nullptr);
    EXPECT_EQ(std::string(XtName(gui->play)), "EmbeddedIcon");
    EXPECT_EQ(XtParent(gui->play), gui->topLevel);
    EXPECT_EQ(gui->board, nullptr);
    EXPECT_EQ(gui->rewind, nullptr);
    EXPECT_EQ(gui->scale, nullptr);
    EXPECT_EQ(resource<Pixmap>(gui->play, XmNlabelPixmap), gui->stopPixmap);
    EXPECT_EQ(pixmapSize(gui->display, gui->stopPixmap), std::make_pair(50u, 50u));
    EXPECT_EQ(pixmapPixel(gui->display, gui->stopPixmap, 25, 25), kBlack) << "stop square";
    EXPECT_EQ(pixmapPixel(gui->display, gui->playPixmap, 35, 25), kBlack) << "play triangle";
    EXPECT_EQ(pixmapPixel(gui->display, gui->playPixmap, 41, 25), kWhite);
    EXPECT_EQ(pixmapPixel(gui->display, gui->playPixmap, 2, 25), kBlack) << "ring";

    // Display operations of the full window leave the icon alone.
    gui->showGain(1.0f);
    gui->displayTime("00");
    gui->setScaleValue(0.5f);
    gui->initGainGC();
    gui->initVolumeGC();
    gui->showVolume();

    // Pressing the icon reaches the handler that the player installs on it.
    XtAddCallback(gui->play, XmNactivateCallback, countActivation, nullptr);
    activations = 0;
    ASSERT_NO_FATAL_FAILURE(realize(gui->play));
    // The icon fills the top level, its face centred.
    const std::string window = std::to_string(XtWindow(gui->play));
    ASSERT_EQ(xdotool({"mousemove", "--window", window, "82", "40", "click", "1"}), 0);
    EXPECT_TRUE(pumpUntil(gui->appContext, [] { return activations == 1; }));
    gui->loadPlayXbm();
    EXPECT_EQ(resource<Pixmap>(gui->play, XmNlabelPixmap), gui->playPixmap);
    settle();
    EXPECT_GT(snapshot(gui->play)->count(kBlack, 0, 0, 164, 80), 100) << "the play face on screen";
}

TEST_F(PlayerGuiTest, SmallIconForEveryOtherMode) {
    ASSERT_EQ(gui->createWd(static_cast<VISUALMODE>(2)), 2);
    EXPECT_EQ(pixmapSize(gui->display, gui->playPixmap), std::make_pair(27u, 27u));
    EXPECT_EQ(pixmapPixel(gui->display, gui->stopPixmap, 13, 13), kBlack);
    EXPECT_EQ(pixmapPixel(gui->display, gui->playPixmap, 13, 1), kBlack);
    EXPECT_EQ(gui->createWd(static_cast<VISUALMODE>(7)), 2) << "an icon already stands";
}

TEST_F(PlayerGuiTest, MissingFontsFallBackToFixed) {
    // A server without the courier fonts: only the misc directory, which
    // holds "fixed".
    Display* d = openDisplay();
    ASSERT_NE(d, nullptr);
    char misc[] = "/usr/share/fonts/X11/misc";
    char* path[] = {misc};
    XSetFontPath(d, path, 1);
    XSync(d, False);
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
    auto shot = snapshot(gui->board);
    EXPECT_GT(shot->count(kBlack, 80, 46, 80, 8), 5) << "the time is still written";
    EXPECT_GT(shot->count(kBlue, 3, 22, 160, 13), 20) << "and the file name";
}

TEST_F(PlayerGuiTest, TimerProcedureRunsWithItsData) {
    int fired = 0;
    const XtIntervalId timer = gui->addTimeOutProc(
        [](XtPointer data, XtIntervalId*) { ++*static_cast<int*>(data); }, 20, &fired);
    EXPECT_NE(timer, 0u);
    EXPECT_TRUE(pumpUntil(gui->appContext, [&] { return fired == 1; }));
}
