#include "playergui.h"

#include "playerxbms.h"

#include <Xm/Label.h>
#include <Xm/MwmUtil.h>
#include <Xm/Scale.h>
#include <Xm/Separator.h>
#include <X11/Shell.h>

#include <cstdio>
#include <cstdlib>

short PlayerGui::Debug = std::getenv("PLAYERGUI") != nullptr;
const char* const PlayerGui::classid = "PlayerGui";
int PlayerGui::nextId = 0;
const char* const PlayerGui::warptrBlueResource = XmNhighlightPixmap;
const char* const PlayerGui::warptrYellowResource = XmNarmPixmap;

namespace {

// The window's fonts. Every update of the time label passes the list again,
// so it lives as long as the window.
XmFontList fontList = nullptr;

constexpr Dimension kWindowWidth = 164;
constexpr Dimension kWindowHeight = 80;
constexpr int kPanelWidth = 160;  // the board, the file name, the line
constexpr int kScaleMin = 1;
constexpr int kScaleMax = 160;
constexpr int kWarpXMin = 0;
constexpr int kWarpXMax = 55;
constexpr unsigned char kMwmBorderTitleMenu =
    MWM_DECOR_BORDER | MWM_DECOR_TITLE | MWM_DECOR_MENU;  // 26
constexpr unsigned kFaceHeight = 20;  // rows of the 32 x 24 button bitmaps in use
// The board keeps a child's right edge this far inside its own. The scale
// sits at x 3 and grows to 160 pixels in a 164-pixel board: with a wider
// margin its last request would be refused and its end cut off.
constexpr int kBoardMarginWidth = 1;

// Collects resource settings for one XtSetValues call.
class Resources {
public:
    template <typename T>
    Resources& set(const char* name, T value) {
        if (count_ < kMax) {
            XtSetArg(args_[count_], const_cast<char*>(name), (XtArgVal)value);
            ++count_;
        }
        return *this;
    }
    // marginWidth and marginHeight 0.
    Resources& noMargins() { return set(XmNmarginHeight, 0).set(XmNmarginWidth, 0); }
    void apply(Widget w) const {
        if (w) XtSetValues(w, const_cast<Arg*>(args_), count_);
    }

private:
    static constexpr Cardinal kMax = 16;
    Arg args_[kMax];
    Cardinal count_ = 0;
};

template <typename T>
T readResource(Widget w, const char* name) {
    T value{};
    if (!w) return value;
    Arg arg[1];
    XtSetArg(arg[0], const_cast<char*>(name), &value);
    XtGetValues(w, arg, 1);
    return value;
}

// A graphics context made again replaces the old one, which goes with its
// wrapper (the display is still open: the window is being used).
void releaseGC(GCObj*& gc) {
    if (gc && gc->gc) XFreeGC(gc->display, gc->gc);
    delete gc;
    gc = nullptr;
}

// The scale's maximum and its length in pixels, which are the same. The
// widget's own width goes with them: before the window is realized a new
// scale width alone would leave the widget as wide as it was.
void setScaleLength(Widget scale, int length) {
    Resources()
        .set(XmNmaximum, length)
        .set(XmNscaleWidth, length)
        .set(XtNwidth, length)
        .apply(scale);
}

const char* bits(const unsigned char* data) { return reinterpret_cast<const char*>(data); }

// Loads one font of the list, or "fixed" when the server has no such font:
// a missing font must leave the window readable, not end the program.
void appendFont(Display* display, const char* name, const char* tag, XmFontList* list) {
    const char* chosen = name;
    int found = 0;
    char** names = XListFonts(display, name, 1, &found);
    if (names) XFreeFontNames(names);
    if (found == 0) {
        std::fprintf(stderr, "PlayerGui: font \"%s\" not found, using \"fixed\"\n", name);
        chosen = "fixed";
    }
    XmFontListEntry entry = XmFontListEntryLoad(display, const_cast<char*>(chosen),
                                                XmFONT_IS_FONT, const_cast<char*>(tag));
    if (!entry) return;
    *list = XmFontListAppendEntry(*list, entry);
    XmFontListEntryFree(&entry);
}

}  // namespace

namespace playergui {

int gainBarLength(float gain) {
    if (!(gain > 0.0f)) return 0;  // also NaN
    const float length = gain * static_cast<float>(kGainFullLength);
    if (length >= static_cast<float>(kGainFullLength)) return kGainFullLength;
    return static_cast<int>(length);
}

int gainSegments(int length, GainSegment out[3]) {
    if (length <= 0) return 0;
    if (length <= kGainGreenEnd) {
        out[0] = {GainSegment::Green, 0, length};
        return 1;
    }
    out[0] = {GainSegment::Green, 0, kGainGreenEnd};
    if (length <= kGainYellowEnd) {
        out[1] = {GainSegment::Yellow, kGainGreenEnd, length};
        return 2;
    }
    out[1] = {GainSegment::Yellow, kGainGreenEnd, kGainYellowEnd};
    out[2] = {GainSegment::Red, kGainYellowEnd, length};
    return 3;
}

int scaleStep(int scaleMin, int scaleMax, float fraction, int low, int high) {
    const float v = static_cast<float>(scaleMin) +
                    static_cast<float>(scaleMax - scaleMin) * fraction;
    // Compared before the conversion, which is undefined out of int's range.
    if (!(v >= static_cast<float>(low))) return low;
    if (v >= static_cast<float>(high)) return high;
    const int step = static_cast<int>(v);
    return step < low ? low : step;
}

}  // namespace playergui

PlayerGui::PlayerGui() { init(); }

PlayerGui::PlayerGui(Widget parent) : XDisp(parent) { init(); }

PlayerGui::PlayerGui(int argc, char** argv, char** fallbackResources)
    : XDisp(argc, argv, fallbackResources) {
    init();
}

// The wrappers go; their widgets stay until the toolkit destroys the shell.
PlayerGui::~PlayerGui() {
    delete floatShell;
    delete playerBoard;
    delete gainFrame;
    releaseGC(gainGC);  // the graphics contexts too: LeakSanitizer sees Xlib's record of each
    releaseGC(volumeGC);
    delete warptrBoard;
}

void PlayerGui::init() {
    Resources()
        .set(XtNwidth, kWindowWidth)
        .set(XtNheight, kWindowHeight)
        .set(XtNsaveUnder, True)
        .set(XmNnoResize, True)
        .set(XmNmwmDecorations, kMwmBorderTitleMenu)
        .apply(getWidget());

    black = ConvertColor("black");
    grey = ConvertColor("grey");
    white = ConvertColor("white");
    red = ConvertColor("red");
    green = ConvertColor("green");
    blue = ConvertColor("blue");
    yellow = ConvertColor("yellow");

    floatShell = nullptr;
    playerBoard = warptrBoard = nullptr;
    gainFrame = nullptr;
    gainGC = volumeGC = nullptr;
    board = nameLabel = fileLabel = line = scale = gain = playTime = nullptr;
    rewind = play = warp = warptr = warptrBoardWidget = speaker = nullptr;
    playPixmap = stopPixmap = 0;
    scaleMax = scaleMin = volumeState = gainLength = 0;

    id = nextId++;
}

int PlayerGui::createWd(const char* fileName, bool floating) {
    if (board) return 2;
    if (Debug)
        std::printf("%s::createWd(%s, %d) id %d\n", classid, fileName ? fileName : "",
                    static_cast<int>(floating), id);
    if (floating) {
        floatShell = new TransientShellObj(*this, "FloatShell");
        Resources()
            .set(XtNsaveUnder, True)
            .set(XmNdeleteResponse, XmDO_NOTHING)
            .apply(floatShell->getWidget());
        playerBoard = new BBoardObj(*floatShell, "PlayerBoard");
    } else {
        playerBoard = new BBoardObj(*this, "PlayerBoard");
    }
    board = playerBoard->getWidget();
    if (!board) {
        delete playerBoard;
        delete floatShell;
        playerBoard = nullptr;
        floatShell = nullptr;
        return 1;
    }

    // A list made for an earlier window stays: its display may be gone, and
    // freeing fonts there would fail.
    fontList = createFontList(board);

    Resources()
        .set(XtNwidth, kPanelWidth)
        .set(XmNnoResize, True)
        .set(XtNbackground, grey)
        .set(XmNmarginHeight, 2)
        .set(XmNmarginWidth, kBoardMarginWidth)
        .set(XmNshadowType, XmSHADOW_ETCHED_OUT)
        .set(XmNshadowThickness, 2)
        .apply(board);

    nameLabel = createZefName(*playerBoard);
    fileLabel = createFile(*playerBoard, fileName);
    line = createLine(*playerBoard);
    scale = createScale(*playerBoard);
    gain = createGain(*playerBoard);
    playTime = createPlayTime(*playerBoard);
    rewind = createRewind(*playerBoard);
    play = createPlay(*playerBoard);
    move(nameLabel, 3, 3);
    move(line, 3, 20);
    move(fileLabel, 3, 22);
    move(scale, 3, 35);
    move(gain, 3, 46);
    move(playTime, 80, 46);
    move(rewind, 3, 56);
    move(play, 37, 56);

    loadStopXbm();

    warptr = createWarptr(*playerBoard);
    warp = createWarp(*playerBoard);
    speaker = createSpeaker(*playerBoard);
    move(warptrBoardWidget, 76, 57);
    move(warptr, 30, 0);
    move(warp, 76, 67);
    move(speaker, 141, 58);

    playerBoard->manage();
    if (floatShell) {
        floatShell->manage();
        // A shell's window is not a subwindow of its parent's, so realizing
        // the top level later would never map it: pop it up.
        XtPopup(floatShell->getWidget(), XtGrabNone);
    }
    return 2;
}

int PlayerGui::createWd(VISUALMODE mode) {
    if (play) return 2;
    if (!getWidget()) return 1;
    if (Debug) std::printf("%s::createWd(mode %d) id %d\n", classid, static_cast<int>(mode), id);
    // The icon's faces are black on white.
    auto face = [this](const unsigned char* data, unsigned width, unsigned height) {
        return createPixmapFromData(bits(data), width, height, black, white);
    };
    if (mode == VISUAL_BIG_ICON) {
        playPixmap = face(big_play_bits, big_play_width, big_play_height);
        stopPixmap = face(big_bits, big_width, big_height);
    } else {
        playPixmap = face(small_play_bits, small_play_width, small_play_height);
        stopPixmap = face(small_bits, small_width, small_height);
    }
    PushButtonObj icon(*this, "EmbeddedIcon");
    play = icon.getWidget();
    Resources()
        .set(XmNlabelType, XmPIXMAP)
        .set(XmNlabelPixmap, stopPixmap)
        .set(XmNshadowThickness, 1)
        .noMargins()
        .apply(play);
    return 2;
}

XmFontList PlayerGui::createFontList(Widget w) {
    if (!w) return nullptr;
    Display* display = DisplayOfScreen(XtScreen(w));
    XmFontList list = nullptr;
    appendFont(display, "-*-courier-*-r-*--10-*", "LTAG", &list);
    appendFont(display, "-*-courier-bold-o-*--18-*", "VTAG", &list);
    appendFont(display, "*-courier-medium-r-*--12-*", "FTAG", &list);
    return list;
}

Widget PlayerGui::createZefName(WinObj& parent) {
    const Pixel slateGrey = ConvertColor("DarkSlateGrey");
    LabelObj k(parent, "K");
    XmString text = XmStringCreateLtoR(const_cast<char*>("K"), const_cast<char*>("VTAG"));
    Resources()
        .set(XmNlabelString, text)
        .set(XmNfontList, fontList)
        .set(XtNbackground, grey)
        .set(XmNshadowThickness, 0)
        .set(XmNhighlightThickness, 0)
        .noMargins()
        .apply(k.getWidget());
    XmStringFree(text);

    LabelObj rest(parent, "ELVANE");
    text = XmStringCreateLtoR(const_cast<char*>("ELVANE"), const_cast<char*>("FTAG"));
    Resources()
        .set(XmNlabelString, text)
        .set(XmNfontList, fontList)
        .set(XtNforeground, slateGrey)
        .set(XtNbackground, grey)
        .set(XmNshadowThickness, 0)
        .set(XmNhighlightThickness, 0)
        .noMargins()
        .apply(rest.getWidget());
    XmStringFree(text);
    rest.move(15, 3);
    return k.getWidget();
}

Widget PlayerGui::createFile(WinObj& parent, const char* fileName) {
    const char* name = fileName ? fileName : "";
    LabelObj label(parent, name);
    XmString text = XmStringCreateLtoR(const_cast<char*>(name), const_cast<char*>("FTAG"));
    Resources()
        .set(XmNlabelString, text)
        .set(XmNfontList, fontList)
        .set(XtNwidth, kPanelWidth)
        .set(XmNalignment, XmALIGNMENT_CENTER)
        .set(XmNshadowThickness, 0)
        .set(XmNhighlightThickness, 0)
        .noMargins()
        .set(XtNforeground, blue)
        .set(XtNbackground, grey)
        .apply(label.getWidget());
    XmStringFree(text);
    return label.getWidget();
}

Widget PlayerGui::createLine(WinObj& parent) {
    SeparatorObj separator(parent, "UnderLine");
    Resources()
        .set(XtNwidth, kPanelWidth)
        .set(XmNseparatorType, XmSINGLE_LINE)
        .set(XmNshadowThickness, 0)
        .set(XmNhighlightThickness, 0)
        .set(XtNbackground, grey)
        .set(XtNforeground, red)
        .apply(separator.getWidget());
    return separator.getWidget();
}

// The scale starts 2 pixels long and grows as data arrives (setScaleMaximum).
Widget PlayerGui::createScale(WinObj& parent) {
    ScaleObj positionScale(parent, "Scale");
    scaleMin = kScaleMin;
    scaleMax = kScaleMax;
    Resources()
        .set(XtNwidth, kScaleMax)
        .set(XmNmaximum, 2)
        .set(XmNminimum, kScaleMin)
        .set(XtNvalue, kScaleMin)
        .set(XmNscaleHeight, 10)
        .set(XtNorientation, XmHORIZONTAL)
        .set(XmNshadowThickness, 1)
        .set(XmNhighlightThickness, 0)
        .noMargins()
        .set(XtNbackground, white)
        .set(XtNforeground, white)
        .apply(positionScale.getWidget());
    // The widget keeps the width it was given: give it the scale's own 2
    // pixels, so that it starts short.
    Resources().set(XmNscaleWidth, 2).set(XtNwidth, 2).apply(positionScale.getWidget());
    return positionScale.getWidget();
}

Widget PlayerGui::createGain(WinObj& parent) {
    gainFrame = new FrameObj(parent, "Gain");
    Resources()
        .set(XtNwidth, 82)
        .set(XtNheight, 10)
        .set(XmNshadowType, XmSHADOW_ETCHED_IN)
        .set(XmNhighlightThickness, 0)
        .set(XtNbackground, grey)
        .noMargins()
        .apply(gainFrame->getWidget());
    gainFrame->manage();
    return gainFrame->getWidget();
}

Widget PlayerGui::createPlayTime(WinObj& parent) {
    LabelObj label(parent, "0");
    Resources()
        .set(XtNwidth, 80)
        .set(XtNheight, 8)
        .set(XmNalignment, XmALIGNMENT_END)
        .set(XmNrecomputeSize, False)
        .set(XmNhighlightThickness, 0)
        .set(XtNbackground, grey)
        .apply(label.getWidget());
    return label.getWidget();
}

Widget PlayerGui::createRewind(WinObj& parent) {
    const Pixmap face =
        parent.createPixmapFromData(bits(rewind_bits), rewind_width, kFaceHeight, green, grey);
    PushButtonObj button(parent, "Rewind");
    Resources()
        .set(XmNlabelType, XmPIXMAP)
        .set(XmNlabelPixmap, face)
        .set(XmNshadowThickness, 1)
        .set(XmNhighlightThickness, 0)
        .noMargins()
        .apply(button.getWidget());
    return button.getWidget();
}

Widget PlayerGui::createPlay(WinObj& parent) {
    PushButtonObj button(parent, "Play");
    Resources()
        .set(XmNlabelType, XmPIXMAP)
        .set(XmNshadowThickness, 1)
        .set(XmNhighlightThickness, 0)
        .noMargins()
        .apply(button.getWidget());
    playPixmap = parent.createPixmapFromData(bits(play_bits), play_width, kFaceHeight, green, grey);
    stopPixmap = parent.createPixmapFromData(bits(stop_bits), stop_width, kFaceHeight, red, grey);
    return button.getWidget();
}

Widget PlayerGui::createWarptr(WinObj& parent) {
    const Pixmap bluePointer =
        parent.createPixmapFromData(bits(warptr_bits), warptr_width, warptr_height, blue, grey);
    const Pixmap yellowPointer =
        parent.createPixmapFromData(bits(warptr_bits), warptr_width, warptr_height, yellow, grey);
    warptrBoard = new BBoardObj(parent, "WarptrBoard");
    warptrBoardWidget = warptrBoard->getWidget();
    Resources()
        .set(XmNresizePolicy, XmRESIZE_NONE)
        .set(XtNwidth, 61)
        .set(XtNheight, 10)
        .set(XmNshadowThickness, 0)
        .set(XmNhighlightThickness, 0)
        .set(XtNbackground, grey)
        .noMargins()
        .apply(warptrBoardWidget);
    PushButtonObj pointer(*warptrBoard, "Warptr");
    Resources()
        .set(XmNlabelType, XmPIXMAP)
        .set(XmNlabelPixmap, bluePointer)
        .set(warptrBlueResource, bluePointer)
        .set(warptrYellowResource, yellowPointer)
        .set(XmNshadowThickness, 0)
        .set(XmNhighlightThickness, 0)
        .noMargins()
        .apply(pointer.getWidget());
    warptrBoard->manage();
    return pointer.getWidget();
}

Widget PlayerGui::createWarp(WinObj& parent) {
    unsigned long scalePicture =
        parent.createPixmapFromData(bits(warp_bits), warp_width, warp_height, black, grey);
    ILabelObj label(parent, "Warp", &scalePicture);
    Resources().set(XmNshadowThickness, 0).set(XmNhighlightThickness, 0).noMargins().apply(
        label.getWidget());
    return label.getWidget();
}

Widget PlayerGui::createSpeaker(WinObj& parent) {
    unsigned long picture =
        parent.createPixmapFromData(bits(speaker_bits), speaker_width, speaker_height, blue, grey);
    ILabelObj label(parent, "Speaker", &picture);
    Resources().set(XmNshadowThickness, 0).set(XmNhighlightThickness, 0).noMargins().apply(
        label.getWidget());
    return label.getWidget();
}

void PlayerGui::loadPlayXbm() {
    if (play) Resources().set(XmNlabelPixmap, playPixmap).apply(play);
}

void PlayerGui::loadStopXbm() {
    if (play) Resources().set(XmNlabelPixmap, stopPixmap).apply(play);
}

void PlayerGui::displayTime(const char* text) {
    if (!playTime) return;
    XmString label =
        XmStringCreateLtoR(const_cast<char*>(text ? text : ""), const_cast<char*>("LTAG"));
    Resources().set(XmNlabelString, label).set(XmNfontList, fontList).apply(playTime);
    XmStringFree(label);
}

void PlayerGui::initGainGC() {
    if (!gainFrame) return;
    releaseGC(gainGC);
    gainGC = new GCObj(*gainFrame);
    if (!gainGC->gc) return;
    static char dashes[] = {3, 1};
    XSetLineAttributes(gainGC->display, gainGC->gc, 6, LineOnOffDash, CapButt, JoinRound);
    XSetForeground(gainGC->display, gainGC->gc, green);
    XSetDashes(gainGC->display, gainGC->gc, 0, dashes, 2);
}

void PlayerGui::initVolumeGC() {
    if (!playerBoard) return;
    releaseGC(volumeGC);
    volumeGC = new GCObj(*playerBoard);
    if (!volumeGC->gc) return;
    XSetLineAttributes(volumeGC->display, volumeGC->gc, 2, LineSolid, CapButt, JoinRound);
    XSetForeground(volumeGC->display, volumeGC->gc, black);
}

void PlayerGui::showGain(float level) {
    const Window window = gainFrame ? gainFrame->getWindow() : 0;
    if (!window || !gainGC || !gainGC->gc) return;
    Display* d = gainGC->display;
    const int length = playergui::gainBarLength(level);
    // Width 0, as before the first bar, clears to the right edge.
    XClearArea(d, window, 0, 1, static_cast<unsigned>(gainLength), 6, False);
    gainLength = length;
    playergui::GainSegment segments[3];
    const int count = playergui::gainSegments(length, segments);
    for (int i = 0; i < count; ++i) {
        const auto& s = segments[i];
        const Pixel colour = s.colour == playergui::GainSegment::Green    ? green
                             : s.colour == playergui::GainSegment::Yellow ? yellow
                                                                          : red;
        XSetForeground(d, gainGC->gc, colour);
        XDrawLine(d, window, gainGC->gc, s.x0, 4, s.x1, 4);
    }
    if (Debug)
        std::printf("%s::showGain(%g) length %d\n", classid, static_cast<double>(level), length);
}

void PlayerGui::showVolume() {
    const Window window = playerBoard ? playerBoard->getWindow() : 0;
    const bool canDraw = window && volumeGC && volumeGC->gc;
    Display* d = canDraw ? volumeGC->display : nullptr;
    // Angles in 64ths of a degree: from 270 degrees, 180 counter-clockwise,
    // the right half of the box.
    constexpr int kStart = 270 * 64;
    constexpr int kExtent = 180 * 64;
    switch (volumeState) {
    case 0:
        if (canDraw) XClearArea(d, window, 149, 57, 10, 17, False);
        volumeState = 1;
        break;
    case 1:
        if (canDraw) XDrawArc(d, window, volumeGC->gc, 149, 61, 4, 7, kStart, kExtent);
        volumeState = 2;
        break;
    default:
        if (canDraw) XDrawArc(d, window, volumeGC->gc, 149, 58, 8, 15, kStart, kExtent);
        volumeState = 0;
        break;
    }
}

int PlayerGui::getWarpXMin() { return kWarpXMin; }

int PlayerGui::getWarpXMax() { return kWarpXMax; }

void PlayerGui::moveWarptr(int x, int y) { move(warptr, x, y); }

XtIntervalId PlayerGui::addTimeOutProc(XtTimerCallbackProc proc, unsigned long interval,
                                       void* data) {
    if (!appContext || !proc) return 0;
    return XtAppAddTimeOut(appContext, interval, proc, data);
}

int PlayerGui::scaleResource(const char* name) { return readResource<int>(scale, name); }

void PlayerGui::setMaxScale() { setScaleLength(scale, kScaleMax); }

// The scale grows with the data and never shrinks.
void PlayerGui::setScaleMaximum(float fraction) {
    if (!scale) return;
    const int maximum = scaleResource(XmNmaximum);
    if (maximum == scaleMax) return;
    const int v = playergui::scaleStep(scaleMin, scaleMax, fraction, scaleMin, scaleMax);
    if (maximum < v) setScaleLength(scale, v);
}

float PlayerGui::getScalePerc() {
    if (!scale) return 0.0f;
    const int span = scaleResource(XmNmaximum) - scaleMin;
    if (span <= 0) return 0.0f;
    return static_cast<float>(scaleResource(XtNvalue)) / static_cast<float>(span);
}

void PlayerGui::resetScaleValue() { Resources().set(XtNvalue, scaleMin).apply(scale); }

void PlayerGui::setScaleValue(float fraction) {
    if (!scale) return;
    const int maximum = scaleResource(XmNmaximum);
    const int v = playergui::scaleStep(scaleMin, scaleMax, fraction, scaleMin, maximum);
    Resources().set(XtNvalue, v).apply(scale);
}
