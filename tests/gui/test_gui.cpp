// The window layer on a real X server: what a user sees and does on the
// wrapped widgets, and what other clients see of XDisp's windows, properties
// and events, including windows that vanish under it.
#include "gui_test_util.h"
#include "motobjs.h"
#include "winobj.h"

#include <X11/Xatom.h>
#include <X11/keysym.h>
#include <Xm/MessageB.h>

#include <algorithm>
#include <string>
#include <vector>

using zeftest::ChildProcess;
using zeftest::GuiTest;

namespace {

constexpr unsigned long kRed = 0xff0000, kGreen = 0x00ff00, kBlue = 0x0000ff;

template <typename T>
T getValue(Widget w, String name) {
    T value{};
    Arg a[1] = {{name, XtArgVal(&value)}};
    XtGetValues(w, a, 1);
    return value;
}

void setValue(Widget w, String name, XtArgVal value) {
    Arg a[1] = {{name, value}};
    XtSetValues(w, a, 1);
}

std::string text(XmString s) {
    char* plain = static_cast<char*>(XmStringUnparse(s, nullptr, XmCHARSET_TEXT, XmCHARSET_TEXT, nullptr, 0, XmOUTPUT_ALL));
    std::string result = plain ? plain : "";
    XtFree(plain);
    return result;
}

std::string takeString(unsigned char* value) {
    std::string s = value ? reinterpret_cast<char*>(value) : "<null>";
    if (value) XFree(value);
    return s;
}

unsigned long pixmapPixel(Display* d, Pixmap p, int x, int y) {
    XImage* image = XGetImage(d, p, x, y, 1, 1, AllPlanes, ZPixmap);
    const unsigned long pixel = XGetPixel(image, 0, 0) & 0xffffff;
    return XDestroyImage(image), pixel;
}

struct Seen { int count = 0; Window window = 0; void* data = nullptr; } seen, seenToo;

void record(Widget, XtPointer data, XtPointer) { seen.count++, seen.data = data; }
void recordToo(Widget, XtPointer data, XtPointer) { seenToo.count++, seenToo.data = data; }
void recordPress(Widget, XtPointer data, XEvent* e, Boolean*) {
    if (e->type == ButtonPress) seen.count++, seen.data = data;
}
void exitOnEvent(Widget w, XtPointer, XEvent* event, Boolean*) {
    seen.count++, seen.window = event->xany.window;
    XtAppSetExitFlag(XtWidgetToApplicationContext(w));
}

}  // namespace

class Gui : public GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        if (HasFatalFailure()) return;
        other = openDisplay();
        ASSERT_NE(other, nullptr);
        seen = seenToo = Seen{};
    }

    // A top-level window of the second client.
    Window window(int x = 0, int y = 0, int size = 40, bool map = false) {
        Window w = XCreateSimpleWindow(other, DefaultRootWindow(other), x, y, size, size, 0, 0, 0);
        if (map) XMapWindow(other, w);
        XSync(other, False);
        return w;
    }
    Window vanishedWindow() {
        Window w = window();
        XDestroyWindow(other, w);
        XSync(other, False);
        return w;
    }
    Atom atom(const char* name) { return XInternAtom(other, name, False); }
    void setString(Window w, const char* property, const char* value) {
        XChangeProperty(other, w, atom(property), XA_STRING, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(value), int(strlen(value)));
        XSync(other, False);
    }
    // The property as the other client reads it: its bytes, or "<none>".
    std::string raw(Window w, Atom property) {
        Atom type = None;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* data = nullptr;
        XGetWindowProperty(other, w, property, 0, 1024, False, AnyPropertyType, &type, &format, &items, &after, &data);
        std::string bytes = type == None ? "<none>" : std::string(reinterpret_cast<char*>(data), items * (format / 8));
        if (data) XFree(data);
        return bytes;
    }
    static std::vector<Window> asVector(const Window* list) {
        std::vector<Window> v;
        for (; list && *list; ++list) v.push_back(*list);
        return v;
    }
    // A peer client holding "open" in property; its window.
    Window startHolder(ChildProcess& peer, const char* property) {
        std::string line;
        EXPECT_TRUE(peer.start({ZEF_GUI_PEER, property}, true));
        EXPECT_TRUE(peer.readLine(&line, 10000)) << "the peer did not announce itself";
        return line.rfind("ready ", 0) == 0 ? std::stoul(line.substr(6)) : 0;
    }

    Display* other = nullptr;
};

TEST_F(Gui, WidgetShowsAtItsGeometryInItsColour) {
    BBoardObj board(*app, "board");
    board.resize(200, 150);
    DrawingObj area(board, "area");
    ASSERT_EQ(area.ConvertColor("red"), kRed);
    EXPECT_EQ(WinObj::ConvertColor(app->getWidget(), "no such colour"), 0u);
    setValue(area.getWidget(), XmNbackground, area.ConvertColor("red"));
    area.reshape(10, 20, 50, 30);
    area.resize(0, 10);  // sizes and places the toolkit cannot hold are ignored
    area.move(40000, 3);
    area.manage();
    board.manage();
    ASSERT_TRUE(showTop());
    const Window w = area.getWindow();
    ASSERT_TRUE(pumpUntil(app->appContext, [&] { return viewable(w); }));
    XWindowAttributes a;
    ASSERT_TRUE(XGetWindowAttributes(app->display, w, &a));
    EXPECT_EQ(std::vector<int>({a.x, a.y, a.width, a.height}), std::vector<int>({10, 20, 50, 30}));
    int x = 0, y = 0;
    rootPosition(w, &x, &y);
    EXPECT_EQ(screenPixel(app->display, x + 25, y + 15), kRed);
}

TEST_F(Gui, GCAndPixmapsDrawInTheWidgetsOrGivenColours) {
    BBoardObj board(*app, "board");
    DrawingObj area(board, "area");
    area.reshape(0, 0, 40, 40);
    setValue(area.getWidget(), XmNforeground, kGreen);
    setValue(area.getWidget(), XmNbackground, kBlue);
    area.manage();
    board.manage();
    ASSERT_TRUE(showTop());
    const Window w = area.getWindow();
    ASSERT_TRUE(pumpUntil(app->appContext, [&] { return viewable(w); }));
    GCObj gc(area);
    XFillRectangle(gc.display, gc.window, gc.gc, 5, 5, 10, 10);
    XSync(gc.display, False);
    int x = 0, y = 0;
    rootPosition(w, &x, &y);
    EXPECT_EQ(screenPixel(app->display, x + 8, y + 8), kGreen);
    EXPECT_EQ(screenPixel(app->display, x + 30, y + 30), kBlue);

    // Bitmap bits run from the least significant: four set, then clear.
    static const char bits[] = {0x0f, 0x00};
    const Pixmap given = app->createPixmapFromData(bits, 8, 2, kRed, kBlue);
    const Pixmap own = area.createPixmapFromData(bits, 8, 2);
    EXPECT_EQ(std::vector<unsigned long>({pixmapPixel(app->display, given, 3, 0), pixmapPixel(app->display, given, 4, 0),
                                          pixmapPixel(app->display, given, 0, 1), pixmapPixel(app->display, own, 0, 0),
                                          pixmapPixel(app->display, own, 7, 0)}),
              std::vector<unsigned long>({kRed, kBlue, kBlue, kGreen, kBlue}));
}

TEST_F(Gui, ClicksReachCallbacksAndHandlersWithTheirData) {
    BBoardObj board(*app, "board");
    PushButtonObj button(board, "Press");
    DrawingObj area(board, "area");
    area.reshape(0, 60, 40, 40);
    area.manage();
    board.manage();
    int token = 42;
    button.addCB(XmNactivateCallback, record);
    button.addCB(XmNactivateCallback, recordToo, &token);
    area.addEH(ButtonPressMask, recordPress);
    ASSERT_TRUE(showTop());
    pumpFor(app->appContext, 100);
    ASSERT_EQ(clickAt(button.getWindow(), 5, 5), 0);
    EXPECT_TRUE(pumpUntil(app->appContext, [] { return seenToo.count == 1; }));
    EXPECT_EQ(seen.count, 1);
    EXPECT_EQ(seen.data, &button);
    EXPECT_EQ(seenToo.data, &token);
    ASSERT_EQ(clickAt(area.getWindow(), 10, 10), 0);
    EXPECT_TRUE(pumpUntil(app->appContext, [] { return seen.count == 2; }));
    EXPECT_EQ(seen.data, static_cast<void*>(&area));
}

TEST_F(Gui, MessageDialogShowsOnlyOKAndIsCentredEachTime) {
    app->resize(100, 100);
    ASSERT_TRUE(showTop());
    InforObj info(*app, "first text");
    Widget dialog = info.getWidget();
    info.setMsg("Audio device busy!");
    EXPECT_EQ(text(getValue<XmString>(dialog, XmNmessageString)), "Audio device busy!");
    EXPECT_FALSE(XtIsManaged(XmMessageBoxGetChild(dialog, XmDIALOG_CANCEL_BUTTON)));
    EXPECT_FALSE(XtIsManaged(XmMessageBoxGetChild(dialog, XmDIALOG_HELP_BUTTON)));
    Window shell = 0;
    ASSERT_TRUE(pumpUntil(app->appContext, [&] { return viewable(shell = XtWindow(XtParent(dialog))); }));
    auto centred = [&] {
        int x = 0, y = 0;
        rootPosition(shell, &x, &y);
        XWindowAttributes a;
        XGetWindowAttributes(app->display, shell, &a);
        return x == 320 - a.width / 2 && y == 240 - a.height / 2;
    };
    EXPECT_TRUE(pumpUntil(app->appContext, centred));
    // Moved away and confirmed, then shown again: centred again.
    XMoveWindow(app->display, shell, 5, 5);
    pumpFor(app->appContext, 100);
    ASSERT_FALSE(centred());
    Widget ok = XmMessageBoxGetChild(dialog, XmDIALOG_OK_BUTTON);  // a gadget: the dialog's window
    ASSERT_EQ(clickAt(XtWindowOfObject(ok), getValue<Position>(ok, XtNx) + 8, getValue<Position>(ok, XtNy) + 8), 0);
    ASSERT_TRUE(pumpUntil(app->appContext, [&] { return !viewable(shell); }));
    info.setMsg("again");
    ASSERT_TRUE(pumpUntil(app->appContext, [&] { return viewable(shell); }));
    EXPECT_TRUE(pumpUntil(app->appContext, centred));

    // Another client's "dismiss" presses Return in the owner's dialogs only.
    EXPECT_EQ(app->DismissPopup(XtWindow(app->topLevel) + 1), 1);
    pumpFor(app->appContext, 100);
    EXPECT_TRUE(XtIsManaged(dialog));
    EXPECT_EQ(app->DismissPopup(XtWindow(app->topLevel)), 1);
    EXPECT_TRUE(pumpUntil(app->appContext, [&] { return !XtIsManaged(dialog); }));
}

TEST_F(Gui, ClientWindowsAreFoundThroughFramesTitlesAndProperties) {
    Window frame = window();  // a window manager's frame around a client window
    Window client = XCreateSimpleWindow(other, frame, 2, 2, 30, 30, 0, 0, 0);
    const long state[2] = {NormalState, 0};
    XChangeProperty(other, client, atom("WM_STATE"), atom("WM_STATE"), 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(state), 2);
    Window plain = window(), marked = window(), titled = window();
    XStoreName(other, titled, "My Zef player");
    XStoreName(other, plain, "Zef player two");
    setString(marked, "ZEF_MARK", "1");
    ASSERT_EQ(app->GetWIds(), 1);
    std::vector<Window> list = asVector(app->windowList);
    EXPECT_EQ(std::count(list.begin(), list.end(), client), 1);
    EXPECT_EQ(std::count(list.begin(), list.end(), frame), 0);
    EXPECT_EQ(std::count(list.begin(), list.end(), plain), 1);
    EXPECT_EQ(app->GetWIds(vanishedWindow()), 0);
    EXPECT_EQ(asVector(app->windowList), list) << "a failure keeps the previous list";

    EXPECT_EQ(app->FindWinWithTitle("Zef player"), plain);  // the title's beginning only
    EXPECT_EQ(app->FindWinWithTitle("My Zef"), titled);
    EXPECT_EQ(app->FindWinWithTitle("player"), 0u);
    EXPECT_EQ(asVector(app->FindAllwinsWithProp("ZEF_MARK")), std::vector<Window>{marked});
    EXPECT_EQ(app->Find1stWinWithProp("ZEF_MARK"), marked);
    EXPECT_EQ(app->FindAllwinsWithProp("ZEF never interned"), nullptr);
    EXPECT_EQ(XInternAtom(other, "ZEF never interned", True), static_cast<Atom>(None)) << "no atom made";
}

TEST_F(Gui, PropertiesReadOnlyAsTheirTypeAndGoneWindowsAreRefused) {
    Window w = window();
    setString(w, "ZEF_TEXT", "abc");
    const long number = 7;
    XChangeProperty(other, w, atom("ZEF_NUMBER"), XA_INTEGER, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&number), 1);
    XSync(other, False);
    EXPECT_EQ(takeString(app->GetWinProp(w, "ZEF_TEXT", XA_STRING)), "abc");
    EXPECT_EQ(app->GetWinProp(w, atom("ZEF_TEXT"), XA_INTEGER), nullptr);
    EXPECT_EQ(app->GetWinProp(w, atom("ZEF_NUMBER"), XA_STRING), nullptr);

    // The server's errors on windows that have gone are trapped: failures.
    Window gone = vanishedWindow();
    const Atom msg = atom("Audio-Msg");
    EXPECT_EQ(app->GetWinProp(gone, atom("ZEF_TEXT"), XA_STRING), nullptr);
    EXPECT_EQ(app->SendAtomMsg(msg, gone, "close"), -1);
    EXPECT_EQ(app->createStringAtom(msg, gone, "open"), -1);
    EXPECT_EQ(app->RemoveAtom(msg, gone), -1);
    EXPECT_EQ(app->GetNewWM_NAME(gone), nullptr);
    XWindowAttributes a;
    int x = 0, y = 0;
    EXPECT_EQ(XDisp::GetWinAttr(app->display, gone, &a, &x, &y), 0);
    EXPECT_EQ(XDisp::MovePointerToWin(app->display, gone), 0);
    EXPECT_EQ(XDisp::SendKeyEvent(app->display, gone, XK_Return), 0);
    EXPECT_EQ(XDisp::SendButtonEvent(app->display, gone, ButtonPress), 0);
    EXPECT_EQ(takeString(app->GetWinProp(w, "ZEF_TEXT", XA_STRING)), "abc") << "the program lives on";
}

TEST_F(Gui, OpenIsPrependedCloseReplacesAndRemoveWithdraws) {
    Window a = window(), b = window(), bystander = window();
    const Atom msg = atom("Audio-Msg");
    ASSERT_EQ(app->createStringAtom(msg, a, "open"), 0);
    ASSERT_EQ(app->createStringAtom(msg, a, "open"), 0);
    ASSERT_EQ(app->createStringAtom(msg, b, "open"), 0);
    EXPECT_EQ(raw(a, msg), std::string("open\0open\0", 10));
    Window* list = nullptr;
    EXPECT_EQ(app->SendAtomMsg("Audio-Msg", &list, "close"), 0);
    EXPECT_EQ(asVector(list), (std::vector<Window>{a, b}));
    for (Window w : {a, b}) EXPECT_EQ(raw(w, msg), std::string("close\0", 6));
    EXPECT_EQ(raw(bystander, msg), "<none>");
    EXPECT_EQ(app->RemoveAtom("Audio-Msg", list), 0);
    for (Window w : {a, b}) EXPECT_EQ(raw(w, msg), "<none>");
    ASSERT_EQ(app->createStringAtom(msg, a, "open"), 0);
    Window mine[] = {a, 0};  // a list of the caller's own stays the caller's
    EXPECT_EQ(app->RemoveAtom("Audio-Msg", mine), 0);
    EXPECT_EQ(mine[0], a);
    EXPECT_EQ(raw(a, msg), "<none>");
}

TEST_F(Gui, AnotherClientAnswersCloseAndAsksToClose) {
    ChildProcess holder;
    const Window peerWindow = startHolder(holder, "Audio-Msg");
    ASSERT_NE(peerWindow, 0u);
    EXPECT_EQ(app->Find1stWinWithProp("Audio-Msg"), peerWindow);
    const Atom msg = XInternAtom(app->display, "Audio-Msg", True);
    ASSERT_EQ(app->SendAtomMsg(msg, peerWindow, "close"), 0);
    std::string line;
    ASSERT_TRUE(holder.readLine(&line, 10000));
    EXPECT_EQ(line, "closed");
    EXPECT_EQ(holder.wait(10000), 0);
    EXPECT_EQ(app->Find1stWinWithProp("Audio-Msg"), 0u);

    ASSERT_TRUE(showTop());
    const Window top = XtWindow(app->topLevel);
    ASSERT_EQ(app->createStringAtom(msg, top, "open"), 0);
    XDisp requester(other);  // and asks this one to close
    Window* list = nullptr;
    ASSERT_EQ(requester.SendAtomMsg("Audio-Msg", &list, "close"), 0);
    EXPECT_EQ(asVector(list), std::vector<Window>{top});
    EXPECT_EQ(takeString(app->GetWinProp(top, msg, XA_STRING)), "close");
}

TEST_F(Gui, NewTitleIsAwaitedAndTheWaitEndsWhenTheWindowGoes) {
    Window w = window();
    XStoreName(other, w, "old");
    XSync(other, False);
    ChildProcess changer;
    ASSERT_TRUE(changer.start({"sh", "-c", "sleep 0.2; xdotool set_window --name 'new title' " + std::to_string(w)}, false));
    EXPECT_EQ(takeString(app->GetNewWM_NAME(w)), "new title");
    EXPECT_EQ(changer.wait(10000), 0);

    ChildProcess holder;
    const Window peerWindow = startHolder(holder, "ZEF_PEER");
    ChildProcess killer;
    ASSERT_TRUE(killer.start({"sh", "-c", "sleep 0.2; kill " + std::to_string(holder.pid())}, false));
    EXPECT_EQ(app->GetNewWM_NAME(peerWindow), nullptr);
    killer.wait(10000);
}

TEST_F(Gui, MainLoopHandsEventsOfRedirectedWindowsToTheTopLevel) {
    app->resize(50, 50);
    ASSERT_TRUE(showTop());
    XtAddEventHandler(app->topLevel, KeyPressMask, False, exitOnEvent, nullptr);
    Window list[3] = {0, 0, 0};
    for (int i = 0; i < 2; ++i) {
        list[i] = XCreateSimpleWindow(app->display, app->rootWindow, 100 + 30 * i, 100, 20, 20, 0, 0, 0);
        XSelectInput(app->display, list[i], KeyPressMask);
        XMapWindow(app->display, list[i]);
    }
    ASSERT_TRUE(pumpUntil(app->appContext, [&] { return viewable(list[1]); }));
    ASSERT_EQ(XDisp::SendKeyEvent(other, list[1], XK_a), 1);
    app->MainLoop(list);  // ends in the top level's handler
    EXPECT_EQ(seen.count, 1);
    EXPECT_EQ(seen.window, XtWindow(app->topLevel));
}

TEST_F(Gui, PointerAndSyntheticEventsGoToViewableWindows) {
    Window hidden = window(10, 10, 30, false), shown = window(30, 40, 50, true);
    XSelectInput(other, shown, KeyPressMask | ButtonPressMask | ButtonReleaseMask);
    XWarpPointer(other, None, DefaultRootWindow(other), 0, 0, 0, 0, 300, 300);
    XSync(other, False);
    auto pointer = [&] {
        Window root, child;
        int x, y, wx, wy;
        unsigned int mask;
        XQueryPointer(other, DefaultRootWindow(other), &root, &child, &x, &y, &wx, &wy, &mask);
        return std::vector<int>{x, y};
    };
    EXPECT_EQ(XDisp::MovePointerToULWin(app->display, hidden), 0);
    EXPECT_EQ(pointer(), (std::vector<int>{300, 300}));
    EXPECT_EQ(XDisp::MovePointerToULWin(app->display, shown), 1);
    EXPECT_EQ(pointer(), (std::vector<int>{30, 40}));
    EXPECT_EQ(XDisp::MovePointerToLRWin(app->display, shown), 1);
    EXPECT_EQ(pointer(), (std::vector<int>{80, 90}));

    XWarpPointer(other, None, shown, 0, 0, 0, 0, 5, 6);
    XSync(other, False);
    ASSERT_EQ(XDisp::SendKeyEvent(app->display, shown, XK_Return), 1);
    ASSERT_EQ(XDisp::SendButtonEvent(app->display, shown, ButtonRelease), 1);
    EXPECT_EQ(XDisp::SendButtonEvent(app->display, shown, KeyPress), 0);
    XEvent key, button;
    XWindowEvent(other, shown, KeyPressMask, &key);
    EXPECT_TRUE(key.xkey.send_event);
    EXPECT_EQ(key.xkey.keycode, XKeysymToKeycode(other, XK_Return));
    EXPECT_EQ(std::vector<int>({key.xkey.x_root, key.xkey.y_root}), std::vector<int>({30, 40}));
    XWindowEvent(other, shown, ButtonPressMask | ButtonReleaseMask, &button);
    EXPECT_EQ(button.type, ButtonRelease);
    EXPECT_EQ(std::vector<unsigned>({button.xbutton.button, unsigned(button.xbutton.x), unsigned(button.xbutton.y)}),
              std::vector<unsigned>({1, 5, 6}));
}
