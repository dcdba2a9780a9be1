// PlayerGui: the player's window, a fixed 164 x 80 panel with the maker's
// name, the file name, a growing position scale, a gain meter, the elapsed
// time, rewind and play/stop buttons, a warp (speed) pointer over its scale
// and a speaker with animated sound waves; or, embedded in a host, a single
// icon button. It builds and draws only: Player, derived from it, installs
// every reaction to the user on the widgets created here.
//
// Everything runs on the toolkit's one thread. Every operation tolerates a
// window that was not built (or only as an icon): it then does nothing.
#ifndef ZEF_PLAYER_PLAYERGUI_H
#define ZEF_PLAYER_PLAYERGUI_H

#include "motobjs.h"
#include "xdisp.h"

// How a host shows the player. Any other value shows nothing.
enum VISUALMODE : int {
    VISUAL_BIG_ICON = 1,    // a 50 x 50 play/stop icon button
    VISUAL_SMALL_ICON = 2,  // a 27 x 27 play/stop icon button
    VISUAL_FULL = 3,        // the whole window inside the host
    VISUAL_HIDDEN = 4,      // no window at all
    VISUAL_FLOATING = 5,    // the whole window in a shell of its own
};

// The numbers that place the gain bar and the scale, kept apart from the
// widgets so that they can be checked on their own.
namespace playergui {

constexpr int kGainFullLength = 80;  // bar length at gain 1.0
constexpr int kGainGreenEnd = 60;
constexpr int kGainYellowEnd = 68;

// The bar length for a gain, truncated toward zero and kept within
// 0 .. kGainFullLength (a gain beyond full scale shows a full bar; a negative
// or undefined one shows none).
int gainBarLength(float gain);

// One coloured stretch of the gain bar, from x0 to x1.
struct GainSegment {
    enum Colour { Green, Yellow, Red } colour;
    int x0;
    int x1;
};
// The stretches of a bar of the given length: green up to 60, yellow up to
// 68, red beyond; none for length 0. Returns how many it wrote (0 to 3).
int gainSegments(int length, GainSegment out[3]);

// scaleMin + (scaleMax - scaleMin) * fraction, in float, truncated toward
// zero, then kept within [low, high] (an undefined fraction gives low).
int scaleStep(int scaleMin, int scaleMax, float fraction, int low, int high);

}  // namespace playergui

class PlayerGui : public XDisp {
public:
    // No display: a host that sets up the toolkit later. The window cannot
    // be built on it.
    PlayerGui();
    // Inside an existing widget tree: the window is built in parent.
    explicit PlayerGui(Widget parent);
    // A stand-alone application with the given fallback resources.
    PlayerGui(int argc, char** argv, char** fallbackResources);
    PlayerGui(const PlayerGui&) = delete;
    PlayerGui& operator=(const PlayerGui&) = delete;
    // Deletes the wrappers the window made; the widgets stay with the toolkit.
    ~PlayerGui() override;

    void init();

    // The full window; floating puts it in a transient shell of its own.
    // 2 when built, 1 when its panel could not be created (nothing is then
    // built). A window already built is kept: 2.
    int createWd(const char* fileName, bool floating);
    // The embedded icon: the large faces for VISUAL_BIG_ICON, the small ones
    // otherwise. 2, or 1 when there is no widget to build it in.
    int createWd(VISUALMODE mode);

    // The window's three fonts, tagged "LTAG" (time), "VTAG" (the large K)
    // and "FTAG" (name and file); a font the server lacks is replaced by
    // "fixed", with a note on standard error.
    XmFontList createFontList(Widget w);
    Widget createZefName(WinObj& parent);
    Widget createFile(WinObj& parent, const char* fileName);
    Widget createLine(WinObj& parent);
    Widget createScale(WinObj& parent);
    Widget createGain(WinObj& parent);
    Widget createPlayTime(WinObj& parent);
    Widget createRewind(WinObj& parent);
    Widget createPlay(WinObj& parent);
    Widget createWarptr(WinObj& parent);
    Widget createWarp(WinObj& parent);
    Widget createSpeaker(WinObj& parent);

    // The play button's two faces: "start" (play) and "stop".
    void loadPlayXbm();
    void loadStopXbm();
    // The elapsed-time label's text, in the "LTAG" font.
    void displayTime(const char* text);
    // Graphics contexts of the gain meter and the sound waves; call them once
    // the window is realized.
    void initGainGC();
    void initVolumeGC();
    // Draws the gain bar for a gain of 0.0 .. 1.0 (80 pixels at 1.0).
    void showGain(float gain);
    // One step of the sound-wave animation: nothing, small wave, large wave.
    void showVolume();
    int getWarpXMin();
    int getWarpXMax();
    void moveWarptr(int x, int y);
    XtIntervalId addTimeOutProc(XtTimerCallbackProc proc, unsigned long interval, void* data);

    // The position scale: full length, growth with the data, position.
    void setMaxScale();
    void setScaleMaximum(float fraction);
    float getScalePerc();
    void resetScaleValue();
    void setScaleValue(float fraction);

    static short Debug;
    static const char* const classid;
    // The class's instance counter: the next instance's id.
    static int nextId;
    // The warp pointer button keeps its pictures in three resources: the one
    // shown (XmNlabelPixmap), a second copy of the blue pointer (this one)
    // and the yellow pointer (warptrYellowResource; the arm pixmap, so that
    // the pointer also turns yellow while it is pressed).
    static const char* const warptrBlueResource;
    static const char* const warptrYellowResource;

    Pixel black = 0;
    Pixel grey = 0;
    Pixel white = 0;
    Pixel red = 0;
    Pixel green = 0;
    Pixel blue = 0;
    Pixel yellow = 0;
    TransientShellObj* floatShell = nullptr;
    BBoardObj* playerBoard = nullptr;
    BBoardObj* warptrBoard = nullptr;
    FrameObj* gainFrame = nullptr;
    GCObj* gainGC = nullptr;
    GCObj* volumeGC = nullptr;
    Widget board = nullptr;
    Widget nameLabel = nullptr;
    Widget fileLabel = nullptr;
    Widget line = nullptr;
    Widget scale = nullptr;
    Widget gain = nullptr;
    Widget playTime = nullptr;
    Widget rewind = nullptr;
    Widget play = nullptr;
    Widget warp = nullptr;
    Widget warptr = nullptr;
    Widget warptrBoardWidget = nullptr;
    Widget speaker = nullptr;
    Pixmap playPixmap = 0;
    Pixmap stopPixmap = 0;
    int scaleMax = 0;
    int scaleMin = 0;
    int volumeState = 0;
    int gainLength = 0;
    int id = 0;

private:
    int scaleResource(const char* name);
};

#endif
