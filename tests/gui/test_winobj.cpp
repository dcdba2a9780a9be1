// WinObj and GCObj on real widgets of a private X server.
#include "gui_test_util.h"
#include "motobjs.h"
#include "winobj.h"

#include <Xm/DrawingA.h>
#include <Xm/PushB.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

using zeftest::GuiTest;

namespace {

constexpr unsigned long kRed = 0xff0000;
constexpr unsigned long kGreen = 0x00ff00;
constexpr unsigned long kBlue = 0x0000ff;

Position widgetX(Widget w) {
    Position x = 0;
    Arg a[1];
    XtSetArg(a[0], XtNx, &x);
    XtGetValues(w, a, 1);
    return x;
}

Dimension widgetWidth(Widget w) {
    Dimension width = 0;
    Arg a[1];
    XtSetArg(a[0], XtNwidth, &width);
    XtGetValues(w, a, 1);
    return width;
}

void setColour(Widget w, String resource, Pixel pixel) {
    Arg a[1];
    XtSetArg(a[0], resource, pixel);
    XtSetValues(w, a, 1);
}

unsigned long pixmapPixel(Display* d, Pixmap p, int x, int y) {
    XImage* image = XGetImage(d, p, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image) return ~0UL;
    const unsigned long pixel = XGetPixel(image, 0, 0) & 0xffffff;
    XDestroyImage(image);
    return pixel;
}

// Records the order of the virtual size and position changes.
class RecordingObj : public WinObj {
public:
    void resize(int width, int height) override {
        calls.push_back("resize " + std::to_string(width) + "x" + std::to_string(height));
        WinObj::resize(width, height);
    }
    void move(int x, int y) override {
        calls.push_back("move " + std::to_string(x) + "," + std::to_string(y));
        WinObj::move(x, y);
    }
    using WinObj::move;
    std::vector<std::string> calls;
};

struct Fired {
    int count = 0;
    void* clientData = nullptr;
};
Fired activated;
Fired activatedWithData;
Fired pressed;

void recordCB(Widget, XtPointer client, XtPointer) {
    activated.count++;
    activated.clientData = client;
}
void recordDataCB(Widget, XtPointer client, XtPointer) {
    activatedWithData.count++;
    activatedWithData.clientData = client;
}
void recordEH(Widget, XtPointer client, XEvent* event, Boolean*) {
    if (event->type != ButtonPress) return;
    pressed.count++;
    pressed.clientData = client;
}

}  // namespace

class WinObjTest : public GuiTest {};

TEST_F(WinObjTest, ShowsRequestedGeometryAndColour) {
    BBoardObj board(*app, "board");
    board.resize(200, 150);
    DrawingObj area(board, "area");
    const Pixel red = area.ConvertColor("red");
    EXPECT_EQ(red, kRed);
    setColour(area.getWidget(), XmNbackground, red);
    area.reshape(10, 20, 50, 30);
    area.manage();
    board.manage();
    EXPECT_EQ(area.getWindow(), 0u) << "no window before realization";
    ASSERT_TRUE(showTop());
    Window w = area.getWindow();
    ASSERT_TRUE(pumpUntil(app->appContext, [&] { return viewable(w); }));

    XWindowAttributes attributes;
    ASSERT_TRUE(XGetWindowAttributes(app->display, w, &attributes));
    EXPECT_EQ(attributes.x, 10);
    EXPECT_EQ(attributes.y, 20);
    EXPECT_EQ(attributes.width, 50);
    EXPECT_EQ(attributes.height, 30);
    int x = 0;
    int y = 0;
    rootPosition(w, &x, &y);
    EXPECT_EQ(screenPixel(app->display, x + 25, y + 15), kRed);
}

TEST_F(WinObjTest, ReshapeIsOneResizeThenOneMove) {
    BBoardObj board(*app, "board");
    RecordingObj obj;
    obj.setWidget(XtCreateWidget("area", xmDrawingAreaWidgetClass, board.getWidget(), nullptr, 0));
    obj.reshape(4, 5, 60, 70);
    EXPECT_EQ(obj.calls, (std::vector<std::string>{"resize 60x70", "move 4,5"}));
    EXPECT_EQ(widgetX(obj.getWidget()), 4);
    EXPECT_EQ(widgetWidth(obj.getWidget()), 60);
}

TEST_F(WinObjTest, SizesAndPositionsTheToolkitCannotHoldAreIgnored) {
    BBoardObj board(*app, "board");
    DrawingObj area(board, "area");
    area.reshape(7, 8, 40, 40);
    area.resize(0, 10);
    area.resize(70000, 10);
    area.move(40000, 3);
    EXPECT_EQ(widgetWidth(area.getWidget()), 40);
    EXPECT_EQ(widgetX(area.getWidget()), 7);
}

TEST_F(WinObjTest, ColourNamesTheServerDoesNotKnowGiveZero) {
    EXPECT_EQ(WinObj::ConvertColor(app->getWidget(), "blue"), kBlue);
    EXPECT_EQ(WinObj::ConvertColor(app->getWidget(), "no such colour"), 0u);
    EXPECT_EQ(WinObj::ConvertColor(app->getWidget(), nullptr), 0u);
    EXPECT_EQ(WinObj::ConvertColor(nullptr, "blue"), 0u);
}

TEST_F(WinObjTest, WrapperWithoutWidgetDoesNothing) {
    WinObj empty;
    EXPECT_EQ(empty.getWidget(), nullptr);
    EXPECT_EQ(empty.getWindow(), 0u);
    empty.reshape(1, 2, 3, 4);
    empty.addCB(XmNactivateCallback, recordCB);
    empty.addEH(ButtonPressMask, recordEH);
    empty.addAccel(app->getWidget());
    empty.manage();
    empty.unmanage();
    static const char bits[] = {1};
    EXPECT_EQ(empty.createPixmapFromData(bits, 1, 1), 0u);
    GCObj gc(empty);
    EXPECT_EQ(gc.gc, nullptr);
    EXPECT_EQ(gc.display, nullptr);
}

TEST_F(WinObjTest, PixmapFromDataUsesGivenOrWidgetColours) {
    // One row of 8 pixels: the four on the left set (bitmap bits run from
    // the least significant), then a second row all clear.
    static const char bits[] = {0x0f, 0x00};
    const Pixmap given = app->createPixmapFromData(bits, 8, 2, kRed, kBlue);
    ASSERT_NE(given, 0u);
    EXPECT_EQ(pixmapPixel(app->display, given, 0, 0), kRed);
    EXPECT_EQ(pixmapPixel(app->display, given, 3, 0), kRed);
    EXPECT_EQ(pixmapPixel(app->display, given, 4, 0), kBlue);
    EXPECT_EQ(pixmapPixel(app->display, given, 0, 1), kBlue);

    PushButtonObj button(*app, "button");
    setColour(button.getWidget(), XmNforeground, kGreen);
    setColour(button.getWidget(), XmNbackground, kRed);
    const Pixmap own = button.createPixmapFromData(bits, 8, 2);
    ASSERT_NE(own, 0u);
    EXPECT_EQ(pixmapPixel(app->display, own, 0, 0), kGreen);
    EXPECT_EQ(pixmapPixel(app->display, own, 7, 0), kRed);

    EXPECT_EQ(app->createPixmapFromData(bits, 0, 2), 0u);
    EXPECT_EQ(app->createPixmapFromData(nullptr, 8, 2), 0u);
}

TEST_F(WinObjTest, PixmapFromFileOrMessage) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("zefgui-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const auto xbm = (dir / "dot.xbm").string();
    std::ofstream(xbm) << "#define dot_width 2\n#define dot_height 1\n"
                          "static unsigned char dot_bits[] = {\n   0x01};\n";
    PushButtonObj button(*app, "button");
    setColour(button.getWidget(), XmNforeground, kBlue);
    setColour(button.getWidget(), XmNbackground, kGreen);

    const Pixmap loaded = button.createPixmapFromFile(xbm.c_str());
    ASSERT_NE(loaded, static_cast<Pixmap>(XmUNSPECIFIED_PIXMAP));
    EXPECT_EQ(pixmapPixel(app->display, loaded, 0, 0), kBlue);
    EXPECT_EQ(pixmapPixel(app->display, loaded, 1, 0), kGreen);

    const std::string missing = (dir / "missing.xbm").string();
    testing::internal::CaptureStdout();
    const Pixmap none = button.createPixmapFromFile(missing.c_str());
    const std::string said = testing::internal::GetCapturedStdout();
    EXPECT_EQ(none, static_cast<Pixmap>(XmUNSPECIFIED_PIXMAP));
    EXPECT_EQ(said, "couldn't load " + missing + "\n");
    std::filesystem::remove_all(dir);
}

TEST_F(WinObjTest, CallbacksAndEventHandlersFireOnRealClicks) {
    BBoardObj board(*app, "board");
    PushButtonObj button(board, "Press");
    DrawingObj area(board, "area");
    area.reshape(0, 60, 40, 40);
    area.manage();
    board.manage();
    int token = 42;
    activated = activatedWithData = pressed = Fired{};
    button.addCB(XmNactivateCallback, recordCB);
    button.addCB(XmNactivateCallback, recordDataCB, &token);
    area.addEH(ButtonPressMask, recordEH);
    ASSERT_TRUE(showTop());
    pumpFor(app->appContext, 100);

    ASSERT_EQ(clickAt(button.getWindow(), 5, 5), 0);
    EXPECT_TRUE(pumpUntil(app->appContext, [] { return activatedWithData.count == 1; }));
    EXPECT_EQ(activated.count, 1);
    EXPECT_EQ(activated.clientData, &button);
    EXPECT_EQ(activatedWithData.clientData, &token);

    ASSERT_EQ(clickAt(area.getWindow(), 10, 10), 0);
    EXPECT_TRUE(pumpUntil(app->appContext, [] { return pressed.count == 1; }));
    EXPECT_EQ(pressed.clientData, static_cast<void*>(&area));
}

TEST_F(WinObjTest, Button1DragMovesOnMotionOnly) {
    BBoardObj board(*app, "board");
    board.resize(300, 200);
    DrawingObj area(board, "area");
    area.reshape(10, 10, 20, 20);
    XEvent event{};
    for (int type : {ButtonPress, ButtonRelease, KeyPress}) {
        event.type = type;
        event.xbutton.x = 80;
        event.xbutton.y = 90;
        WinObj::button1Drag(area.getWidget(), nullptr, &event, nullptr);
        EXPECT_EQ(widgetX(area.getWidget()), 10) << "event type " << type;
    }
    event.type = MotionNotify;
    event.xmotion.x = 80;
    event.xmotion.y = 90;
    WinObj::button1Drag(area.getWidget(), nullptr, &event, nullptr);
    EXPECT_EQ(widgetX(area.getWidget()), 80);
}

TEST_F(WinObjTest, DraggableWidgetFollowsThePointer) {
    BBoardObj board(*app, "board");
    board.resize(300, 200);
    TextFieldObj field(board, "field");
    field.move(20, 20);
    board.manage();
    ASSERT_TRUE(showTop());
    pumpFor(app->appContext, 100);
    const std::string w = std::to_string(field.getWindow());

    // A click without motion leaves the field where it is.
    ASSERT_EQ(clickAt(field.getWindow(), 5, 5), 0);
    pumpFor(app->appContext, 200);
    EXPECT_EQ(widgetX(field.getWidget()), 20);

    ASSERT_EQ(xdotool({"mousemove", "--window", w, "5", "5", "mousedown", "1",
                       "mousemove_relative", "30", "0", "mousemove_relative", "30", "0", "mouseup", "1"}),
              0);
    EXPECT_TRUE(pumpUntil(app->appContext, [&] { return widgetX(field.getWidget()) != 20; }));
}

TEST_F(WinObjTest, GCDrawsInTheWidgetsColours) {
    BBoardObj board(*app, "board");
    DrawingObj area(board, "area");
    area.reshape(0, 0, 40, 40);
    setColour(area.getWidget(), XmNforeground, kGreen);
    setColour(area.getWidget(), XmNbackground, kBlue);
    area.manage();
    board.manage();

    GCObj early(area);
    EXPECT_EQ(early.window, 0u) << "window read before realization";
    EXPECT_NE(early.gc, nullptr);

    ASSERT_TRUE(showTop());
    Window w = area.getWindow();
    ASSERT_TRUE(pumpUntil(app->appContext, [&] { return viewable(w); }));
    GCObj gc(area);
    EXPECT_EQ(gc.drawWidget, area.getWidget());
    EXPECT_EQ(gc.getWidget(), area.getWidget());
    EXPECT_EQ(gc.window, w);
    EXPECT_EQ(gc.values.foreground, kGreen);
    EXPECT_EQ(gc.values.background, kBlue);
    XFillRectangle(gc.display, gc.window, gc.gc, 5, 5, 10, 10);
    XSync(gc.display, False);
    int x = 0;
    int y = 0;
    rootPosition(w, &x, &y);
    EXPECT_EQ(screenPixel(app->display, x + 8, y + 8), kGreen);
    EXPECT_EQ(screenPixel(app->display, x + 30, y + 30), kBlue);
}
