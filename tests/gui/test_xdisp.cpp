// XDisp: connection, loops, window finding, property messages between
// clients, and operations on other clients' windows, on a private X server.
#include "gui_test_util.h"
#include "motobjs.h"

#include <X11/Xatom.h>
#include <X11/keysym.h>
#include <Xm/MessageB.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

using zeftest::ChildProcess;
using zeftest::GuiTest;

namespace {

struct RawProperty {
    Atom type = None;
    int format = 0;
    std::string bytes;
};

RawProperty readRaw(Display* d, Window w, Atom property) {
    RawProperty p;
    unsigned long items = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, w, property, 0, 1024, False, AnyPropertyType, &p.type, &p.format,
                           &items, &after, &data) == Success &&
        data) {
        p.bytes.assign(reinterpret_cast<char*>(data), items * (p.format / 8));
        XFree(data);
    }
    return p;
}

std::string takeString(unsigned char* value) {
    std::string s = value ? reinterpret_cast<char*>(value) : "<null>";
    if (value) XFree(value);
    return s;
}

void pointerAt(Display* d, int* x, int* y) {
    Window root;
    Window child;
    int wx;
    int wy;
    unsigned int mask;
    XQueryPointer(d, DefaultRootWindow(d), &root, &child, x, y, &wx, &wy, &mask);
}

struct Seen {
    int count = 0;
    Window window = 0;
    std::vector<std::string> properties;
};
Seen seen;

void exitOnEvent(Widget w, XtPointer, XEvent* event, Boolean*) {
    seen.count++;
    seen.window = event->xany.window;
    XtAppSetExitFlag(XtWidgetToApplicationContext(w));
}

// The player's property handler in small: "close" in Audio-Msg ends the loop.
void exitOnClose(Widget w, XtPointer x, XEvent* event, Boolean*) {
    auto* xdisp = static_cast<XDisp*>(x);
    unsigned char* value = xdisp->GetWinProp(event->xproperty.window, event->xproperty.atom,
                                             XA_STRING);
    if (value && strncmp(reinterpret_cast<char*>(value), "close", 5) == 0) {
        seen.count++;
        XtAppSetExitFlag(XtWidgetToApplicationContext(w));
    }
    if (value) XFree(value);
}

void giveUp(XtPointer x, XtIntervalId*) {
    ADD_FAILURE() << "nothing ended the loop";
    static_cast<XDisp*>(x)->ExitLoop();
}

void exitLoop(XtPointer x, XtIntervalId*) { static_cast<XDisp*>(x)->ExitLoop(); }

void recordProperty(Widget, XtPointer, XEvent* event, Boolean*) {
    if (event->type != PropertyNotify) return;
    char* name = XGetAtomName(event->xproperty.display, event->xproperty.atom);
    seen.properties.push_back(name ? name : "");
    if (name) XFree(name);
}

}  // namespace

class XDispTest : public GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        if (HasFatalFailure()) return;
        other = openDisplay();
        ASSERT_NE(other, nullptr);
        seen = Seen{};
    }

    // A top-level window of the second client.
    Window window(int x = 0, int y = 0, int width = 40, int height = 40, bool map = false) {
        Window w = XCreateSimpleWindow(other, DefaultRootWindow(other), x, y, width, height, 0,
                                       0, 0);
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

    void setString(Window w, const char* property, const char* text) {
        XChangeProperty(other, w, atom(property), XA_STRING, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(text),
                        static_cast<int>(strlen(text)));
        XSync(other, False);
    }

    static std::vector<Window> asVector(const Window* list) {
        std::vector<Window> v;
        for (; list && *list; ++list) v.push_back(*list);
        return v;
    }

    static std::string peerPath() { return ZEF_GUI_PEER; }

    Display* other = nullptr;
};

TEST(XDispBasename, PartAfterTheLastSlash) {
    EXPECT_STREQ(XDisp::basename("/usr/bin/zefplayer"), "zefplayer");
    EXPECT_STREQ(XDisp::basename("zefplayer"), "zefplayer");
    EXPECT_STREQ(XDisp::basename("dir/"), "");
    EXPECT_EQ(XDisp::basename(static_cast<const char*>(nullptr)), nullptr);
    char path[] = "a/b";
    EXPECT_EQ(XDisp::basename(path), path + 2);
}

TEST_F(XDispTest, ConstructorsTakeConnectionShellAndContext) {
    EXPECT_EQ(app->getWidget(), app->topLevel);
    EXPECT_EQ(app->rootWindow, DefaultRootWindow(app->display));
    EXPECT_EQ(app->windowList, nullptr);
    EXPECT_EQ(app->propWindowList, nullptr);
    EXPECT_EQ(app->failValue, 0);
    EXPECT_EQ(app->successValue, 1);
    char* title = nullptr;
    Boolean mapped = False;
    Arg a[2];
    XtSetArg(a[0], XtNtitle, &title);
    XtSetArg(a[1], XtNmappedWhenManaged, &mapped);
    XtGetValues(app->topLevel, a, 2);
    EXPECT_STREQ(title, "guitest");
    EXPECT_TRUE(mapped);

    static char name[] = "quiet";
    static char* argv[] = {name, nullptr};
    XDisp invisible(1, argv);
    Dimension width = 0;
    Dimension height = 0;
    XtSetArg(a[0], XtNwidth, &width);
    XtSetArg(a[1], XtNheight, &height);
    XtGetValues(invisible.topLevel, a, 2);
    EXPECT_EQ(width, 10);
    EXPECT_EQ(height, 10);
    XtSetArg(a[0], XtNmappedWhenManaged, &mapped);
    XtGetValues(invisible.topLevel, a, 1);
    EXPECT_FALSE(mapped);

    BBoardObj board(*app, "board");
    PushButtonObj button(board, "button");
    XDisp embedded(button.getWidget());
    EXPECT_EQ(embedded.getWidget(), button.getWidget());
    EXPECT_EQ(embedded.topLevel, app->topLevel);
    EXPECT_EQ(embedded.appContext, app->appContext);
    EXPECT_EQ(embedded.display, app->display);
    EXPECT_EQ(embedded.rootWindow, app->rootWindow);

    XDisp bare(other);
    EXPECT_EQ(bare.appContext, nullptr);
    EXPECT_EQ(bare.rootWindow, DefaultRootWindow(other));
    bare.MainLoop();  // no toolkit: returns at once
    EXPECT_EQ(bare.addInputRead(0, nullptr, nullptr), 0u);

    XDisp none;
    EXPECT_EQ(none.GetWIds(), 0);
    EXPECT_EQ(none.FindAllwinsWithProp("WM_NAME"), nullptr);
    EXPECT_EQ(none.SendAtomMsg(XA_WM_NAME, 1, "x"), -1);
    EXPECT_EQ(none.DismissPopup(1), 0);
    none.MainLoop();
}

TEST_F(XDispTest, FallbackResourcesReachTheWidgets) {
    static char name[] = "fallbacks";
    static char* argv[] = {name, nullptr};
    static char width[] = "*sized.width: 123";
    static char* fallback[] = {width, nullptr};
    XDisp withFallback(1, argv, fallback);
    BBoardObj board(withFallback, "sized");
    Dimension w = 0;
    Arg a[1];
    XtSetArg(a[0], XtNwidth, &w);
    XtGetValues(board.getWidget(), a, 1);
    EXPECT_EQ(w, 123);
}

TEST_F(XDispTest, GetWIdsListsClientWindowsThroughFrames) {
    // A window manager's frame around a client window marked with WM_STATE.
    Window frame = window(0, 0, 50, 50);
    Window client = XCreateSimpleWindow(other, frame, 2, 2, 40, 40, 0, 0, 0);
    const long state[2] = {NormalState, 0};
    XChangeProperty(other, client, atom("WM_STATE"), atom("WM_STATE"), 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(state), 2);
    Window plain = window();
    XSync(other, False);

    ASSERT_EQ(app->GetWIds(), 1);
    std::vector<Window> list = asVector(app->windowList);
    EXPECT_EQ(list.size(), app->numWindows);
    EXPECT_NE(std::find(list.begin(), list.end(), client), list.end());
    EXPECT_EQ(std::find(list.begin(), list.end(), frame), list.end());
    EXPECT_NE(std::find(list.begin(), list.end(), plain), list.end());

    int count = -1;
    Window* children = app->GetChildrenWin(app->rootWindow, &count);
    EXPECT_EQ(children, app->windowList);
    EXPECT_EQ(count, static_cast<int>(app->numWindows));

    // Failures keep the previous list.
    Window* kept = app->windowList;
    EXPECT_EQ(app->GetWIds(plain), 0) << "no children";
    EXPECT_EQ(app->GetWIds(vanishedWindow()), 0);
    EXPECT_EQ(app->windowList, kept);
    EXPECT_EQ(asVector(app->windowList), list);
    EXPECT_EQ(app->GetChildrenWin(plain, &count), nullptr);
    EXPECT_EQ(count, 0);
}

TEST_F(XDispTest, GetWinPropReadsOnlyTheRequestedType) {
    Window w = window();
    setString(w, "ZEF_TEXT", "abc");
    const Atom text = atom("ZEF_TEXT");
    EXPECT_EQ(takeString(app->GetWinProp(w, text, XA_STRING)), "abc");
    EXPECT_EQ(takeString(app->GetWinProp(w, text, AnyPropertyType)), "abc");
    EXPECT_EQ(takeString(app->GetWinProp(w, "ZEF_TEXT", XA_STRING)), "abc");
    EXPECT_EQ(app->GetWinProp(w, text, XA_INTEGER), nullptr);

    const long number = 7;
    XChangeProperty(other, w, atom("ZEF_NUMBER"), XA_INTEGER, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&number), 1);
    const short wide[2] = {0x6f, 0x70};
    XChangeProperty(other, w, atom("ZEF_WIDE"), XA_STRING, 16, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(wide), 2);
    XSync(other, False);
    EXPECT_EQ(app->GetWinProp(w, atom("ZEF_NUMBER"), XA_STRING), nullptr);
    EXPECT_EQ(app->GetWinProp(w, atom("ZEF_WIDE"), XA_STRING), nullptr) << "not 8-bit text";
    EXPECT_EQ(app->GetWinProp(w, atom("ZEF_ABSENT"), AnyPropertyType), nullptr);
    EXPECT_EQ(app->GetWinProp(w, "ZEF never interned", AnyPropertyType), nullptr);
    EXPECT_EQ(XInternAtom(other, "ZEF never interned", True), static_cast<Atom>(None));
    EXPECT_EQ(app->GetWinProp(vanishedWindow(), text, XA_STRING), nullptr);
}

TEST_F(XDispTest, FindingWindowsByPropertyNeverCreatesTheAtom) {
    EXPECT_EQ(app->FindAllwinsWithProp("ZEF no client interned this"), nullptr);
    EXPECT_EQ(app->Find1stWinWithProp("ZEF no client interned this"), 0u);
    EXPECT_EQ(XInternAtom(other, "ZEF no client interned this", True), static_cast<Atom>(None));

    atom("ZEF_MARK");
    Window* empty = app->FindAllwinsWithProp("ZEF_MARK");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty[0], 0u);
    EXPECT_EQ(app->Find1stWinWithProp("ZEF_MARK"), 0u);

    Window a = window();
    window();
    Window b = window();
    setString(a, "ZEF_MARK", "1");
    XChangeProperty(other, b, atom("ZEF_MARK"), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&b), 1);
    XSync(other, False);
    EXPECT_EQ(asVector(app->FindAllwinsWithProp("ZEF_MARK")), (std::vector<Window>{a, b}));
    EXPECT_EQ(app->propWindowList[2], 0u);
    EXPECT_EQ(app->Find1stWinWithProp("ZEF_MARK"), a);
}

TEST_F(XDispTest, FindWinWithTitleMatchesTheBeginningOnly) {
    Window first = window();
    Window second = window();
    XStoreName(other, first, "My Zef player");
    XStoreName(other, second, "Zef player two");
    XSync(other, False);
    EXPECT_EQ(app->FindWinWithTitle("Zef player"), second);
    EXPECT_EQ(app->FindWinWithTitle("My Zef"), first);
    EXPECT_EQ(app->FindWinWithTitle("player"), 0u);
    EXPECT_EQ(app->FindWinWithTitle(nullptr), 0u);
}

TEST_F(XDispTest, OpenIsPrependedAndCloseReplaces) {
    Window w = window();
    const Atom msg = atom("Audio-Msg");
    ASSERT_EQ(app->createStringAtom(msg, w, "open"), 0);
    ASSERT_EQ(app->createStringAtom(msg, w, "open"), 0);
    RawProperty p = readRaw(other, w, msg);
    EXPECT_EQ(p.type, XA_STRING);
    EXPECT_EQ(p.format, 8);
    EXPECT_EQ(p.bytes, std::string("open\0open\0", 10));

    ASSERT_EQ(app->SendAtomMsg(msg, w, "close"), 0);
    EXPECT_EQ(readRaw(other, w, msg).bytes, std::string("close\0", 6));
    EXPECT_EQ(takeString(app->GetWinProp(w, msg, XA_STRING)), "close");

    ASSERT_EQ(app->RemoveAtom(msg, w), 0);
    EXPECT_EQ(readRaw(other, w, msg).type, static_cast<Atom>(None));
}

TEST_F(XDispTest, MessagesToMissingOrWrongTargetsFail) {
    const Atom msg = atom("Audio-Msg");
    Window w = window();
    EXPECT_EQ(app->SendAtomMsg(static_cast<Atom>(0), w, "close"), -1);
    EXPECT_EQ(app->SendAtomMsg(msg, 0, "close"), -1);
    EXPECT_EQ(app->SendAtomMsg(msg, w, nullptr), -1);
    EXPECT_EQ(app->createStringAtom(msg, 0, "open"), -1);
    EXPECT_EQ(app->RemoveAtom(static_cast<Atom>(0), w), -1);

    // Windows that have gone and a value of another type are refused by the
    // server; the program lives on and says so.
    Window gone = vanishedWindow();
    EXPECT_EQ(app->SendAtomMsg(msg, gone, "close"), -1);
    EXPECT_EQ(app->createStringAtom(msg, gone, "open"), -1);
    EXPECT_EQ(app->RemoveAtom(msg, gone), -1);
    const long number = 1;
    XChangeProperty(other, w, msg, XA_INTEGER, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&number), 1);
    XSync(other, False);
    EXPECT_EQ(app->createStringAtom(msg, w, "open"), -1);
    EXPECT_EQ(app->SendAtomMsg(msg, w, "close"), 0) << "replacing takes any old type";
}

TEST_F(XDispTest, MessagesToEveryWindowWithTheProperty) {
    Window a = window();
    Window b = window();
    Window bystander = window();
    const Atom msg = atom("Audio-Msg");
    ASSERT_EQ(app->createStringAtom(msg, a, "open"), 0);
    ASSERT_EQ(app->createStringAtom(msg, b, "open"), 0);

    Window* list = nullptr;
    EXPECT_EQ(app->SendAtomMsg("Audio-Msg", &list, "close"), 0);
    EXPECT_EQ(list, app->propWindowList);
    EXPECT_EQ(asVector(list), (std::vector<Window>{a, b}));
    EXPECT_EQ(readRaw(other, a, msg).bytes, std::string("close\0", 6));
    EXPECT_EQ(readRaw(other, b, msg).bytes, std::string("close\0", 6));
    EXPECT_EQ(readRaw(other, bystander, msg).type, static_cast<Atom>(None));

    // Removing through the object's own list releases it once and only once.
    EXPECT_EQ(app->RemoveAtom("Audio-Msg", list), 0);
    EXPECT_EQ(app->propWindowList, nullptr);
    EXPECT_EQ(readRaw(other, a, msg).type, static_cast<Atom>(None));
    EXPECT_EQ(readRaw(other, b, msg).type, static_cast<Atom>(None));
    EXPECT_EQ(app->FindAllwinsWithProp("Audio-Msg")[0], 0u);

    // A list of the caller's own stays the caller's.
    ASSERT_EQ(app->createStringAtom(msg, a, "open"), 0);
    Window mine[] = {a, 0};
    EXPECT_EQ(app->RemoveAtom("Audio-Msg", mine), 0);
    EXPECT_EQ(mine[0], a);
    EXPECT_EQ(readRaw(other, a, msg).type, static_cast<Atom>(None));
    EXPECT_EQ(app->RemoveAtom("ZEF nobody interned", mine), -1);
    EXPECT_EQ(app->RemoveAtom("Audio-Msg", nullptr), -1);
    Window* none = nullptr;
    EXPECT_EQ(app->SendAtomMsg("ZEF nobody interned", &none, "close"), -1);
    EXPECT_EQ(none, nullptr);
}

TEST_F(XDispTest, AnotherProcessAnswersCloseByWithdrawingOpen) {
    ChildProcess peer;
    ASSERT_TRUE(peer.start({peerPath(), "hold", "Audio-Msg"}, true));
    std::string line;
    ASSERT_TRUE(peer.readLine(&line, 10000)) << "the peer did not announce itself";
    ASSERT_EQ(line.rfind("ready ", 0), 0u) << line;
    const Window peerWindow = std::stoul(line.substr(6));

    EXPECT_EQ(app->Find1stWinWithProp("Audio-Msg"), peerWindow);
    const Atom msg = XInternAtom(app->display, "Audio-Msg", True);
    EXPECT_EQ(takeString(app->GetWinProp(peerWindow, msg, XA_STRING)), "open");
    ASSERT_EQ(app->SendAtomMsg(msg, peerWindow, "close"), 0);

    ASSERT_TRUE(peer.readLine(&line, 10000));
    EXPECT_EQ(line, "closed");
    EXPECT_EQ(peer.wait(10000), 0);
    EXPECT_EQ(app->Find1stWinWithProp("Audio-Msg"), 0u);
}

TEST_F(XDispTest, AnotherProcessAsksThisOneToClose) {
    ASSERT_TRUE(showTop());
    const Window top = XtWindow(app->topLevel);
    const Atom msg = XInternAtom(app->display, "Audio-Msg", False);
    ASSERT_EQ(app->createStringAtom(msg, top, "open"), 0);
    XtAddEventHandler(app->topLevel, PropertyChangeMask, False, exitOnClose, app.get());

    ChildProcess peer;
    ASSERT_TRUE(peer.start({peerPath(), "request", "Audio-Msg"}, true));
    XtIntervalId guard = XtAppAddTimeOut(app->appContext, 15000, giveUp, app.get());
    app->MainLoop();  // ends in the property handler
    XtRemoveTimeOut(guard);
    EXPECT_EQ(seen.count, 1);
    EXPECT_EQ(takeString(app->GetWinProp(top, msg, XA_STRING)), "close");
    std::string line;
    EXPECT_TRUE(peer.readLine(&line, 10000));
    EXPECT_EQ(line, "sent 1");
    EXPECT_EQ(peer.wait(10000), 0);
}

TEST_F(XDispTest, GetNewWM_NAMEWaitsForTheTitleAndLeavesOtherEvents) {
    ASSERT_TRUE(showTop());
    const Window top = XtWindow(app->topLevel);
    XtAddEventHandler(app->topLevel, PropertyChangeMask, False, recordProperty, nullptr);
    Window w = window();
    XStoreName(other, w, "old");
    XSync(other, False);
    pumpFor(app->appContext, 50);
    seen.properties.clear();

    ChildProcess changer;
    const std::string script = "sleep 0.3; xprop -id " + std::to_string(top) +
                               " -f ZEF_OTHER 8s -set ZEF_OTHER x && xdotool set_window --name "
                               "'new title' " + std::to_string(w);
    ASSERT_TRUE(changer.start({"sh", "-c", script}, false));
    EXPECT_EQ(takeString(app->GetNewWM_NAME(w)), "new title");
    EXPECT_EQ(changer.wait(10000), 0);
    EXPECT_TRUE(pumpUntil(app->appContext, [] {
        return std::find(seen.properties.begin(), seen.properties.end(), "ZEF_OTHER") !=
               seen.properties.end();
    })) << "the toolkit still receives the other property change";

    EXPECT_EQ(app->GetNewWM_NAME(vanishedWindow()), nullptr);
}

TEST_F(XDispTest, GetNewWM_NAMEEndsWhenTheWindowGoes) {
    ChildProcess peer;
    ASSERT_TRUE(peer.start({peerPath(), "hold", "ZEF_PEER"}, true));
    std::string line;
    ASSERT_TRUE(peer.readLine(&line, 10000));
    const Window peerWindow = std::stoul(line.substr(6));
    ChildProcess killer;
    ASSERT_TRUE(killer.start(
        {"sh", "-c", "sleep 0.3; kill " + std::to_string(peer.pid())}, false));
    EXPECT_EQ(app->GetNewWM_NAME(peerWindow), nullptr);
    killer.wait(10000);
}

TEST_F(XDispTest, LoopsEndWhenAsked) {
    // An ended loop stays ended for its application context: one each.
    XtAppAddTimeOut(app->appContext, 20, exitLoop, app.get());
    app->MainLoop();
    static char name[] = "second";
    static char* argv[] = {name, nullptr};
    XDisp second(1, argv);
    XtAppAddTimeOut(second.appContext, 20, exitLoop, &second);
    second.MainLoop(static_cast<Window>(12345));
    EXPECT_EQ(second.redirectWindow, 12345u);
}

TEST_F(XDispTest, MainLoopHandsEventsOfARedirectedWindowToTheTopLevel) {
    app->resize(50, 50);
    ASSERT_TRUE(showTop());
    XtAddEventHandler(app->topLevel, KeyPressMask, False, exitOnEvent, nullptr);
    Window w = XCreateSimpleWindow(app->display, app->rootWindow, 100, 100, 20, 20, 0, 0, 0);
    XSelectInput(app->display, w, KeyPressMask);
    XMapWindow(app->display, w);
    XSync(app->display, False);
    ASSERT_TRUE(pumpUntil(app->appContext, [&] { return viewable(w); }));

    ASSERT_EQ(XDisp::SendKeyEvent(other, w, XK_a), 1);
    app->MainLoop(w);
    EXPECT_EQ(app->redirectWindow, w);
    EXPECT_EQ(seen.count, 1);
    EXPECT_EQ(seen.window, XtWindow(app->topLevel));
}

TEST_F(XDispTest, MainLoopRedirectsEveryWindowOfAList) {
    app->resize(50, 50);
    ASSERT_TRUE(showTop());
    XtAddEventHandler(app->topLevel, ButtonPressMask, False, exitOnEvent, nullptr);
    Window list[3] = {0, 0, 0};
    for (int i = 0; i < 2; ++i) {
        list[i] = XCreateSimpleWindow(app->display, app->rootWindow, 100 + 30 * i, 100, 20, 20,
                                      0, 0, 0);
        XSelectInput(app->display, list[i], ButtonPressMask);
        XMapWindow(app->display, list[i]);
    }
    XSync(app->display, False);
    ASSERT_TRUE(pumpUntil(app->appContext, [&] { return viewable(list[1]); }));
    ASSERT_EQ(clickAt(list[1], 5, 5), 0);
    app->MainLoop(list);
    EXPECT_EQ(seen.count, 1);
    EXPECT_EQ(seen.window, XtWindow(app->topLevel));
}

TEST_F(XDispTest, InputSourcesAreServedUntilRemoved) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    struct Reader {
        XDisp* x;
        int reads = 0;
    } reader{app.get()};
    auto onRead = [](XtPointer data, int* fd, XtInputId*) {
        auto* r = static_cast<Reader*>(data);
        char c;
        if (read(*fd, &c, 1) == 1) r->reads++;
        r->x->ExitLoop();
    };
    XtInputId id = app->addInputRead(fds[0], onRead, &reader);
    ASSERT_NE(id, 0u);
    ASSERT_EQ(write(fds[1], "x", 1), 1);
    app->MainLoop();
    EXPECT_EQ(reader.reads, 1);

    app->removeInput(id);
    ASSERT_EQ(write(fds[1], "y", 1), 1);
    pumpFor(app->appContext, 100);
    EXPECT_EQ(reader.reads, 1);
    close(fds[0]);
    close(fds[1]);
}

TEST_F(XDispTest, PointerGoesOnlyIntoViewableWindows) {
    Window hidden = window(10, 10, 30, 30, false);
    Window shown = window(30, 40, 50, 60, true);
    XWindowAttributes attributes;
    int rootX = 0;
    int rootY = 0;
    ASSERT_EQ(XDisp::GetWinAttr(app->display, shown, &attributes, &rootX, &rootY), 1);
    EXPECT_EQ(rootX, 30);
    EXPECT_EQ(rootY, 40);
    EXPECT_EQ(attributes.width, 50);

    XWarpPointer(other, None, DefaultRootWindow(other), 0, 0, 0, 0, 300, 300);
    XSync(other, False);
    EXPECT_EQ(XDisp::MovePointerToULWin(app->display, hidden), 0);
    int x = 0;
    int y = 0;
    pointerAt(other, &x, &y);
    EXPECT_EQ(x, 300);
    EXPECT_EQ(y, 300);

    EXPECT_EQ(XDisp::MovePointerToULWin(app->display, shown), 1);
    pointerAt(other, &x, &y);
    EXPECT_EQ(x, 30);
    EXPECT_EQ(y, 40);
    EXPECT_EQ(XDisp::MovePointerToWin(app->display, shown), 1);
    pointerAt(other, &x, &y);
    EXPECT_EQ(x, 55);
    EXPECT_EQ(y, 70);
    EXPECT_EQ(XDisp::MovePointerToLRWin(app->display, shown), 1);
    pointerAt(other, &x, &y);
    EXPECT_EQ(x, 80);
    EXPECT_EQ(y, 100);

    Window gone = vanishedWindow();
    EXPECT_EQ(XDisp::GetWinAttr(app->display, gone, &attributes, &rootX, &rootY), 0);
    EXPECT_EQ(XDisp::MovePointerToWin(app->display, gone), 0);
}

TEST_F(XDispTest, SyntheticKeyAndButtonEventsReachTheWindow) {
    Window w = window(20, 30, 40, 40, true);
    XSelectInput(other, w, KeyPressMask | ButtonPressMask | ButtonReleaseMask);
    XSync(other, False);
    XWarpPointer(other, None, w, 0, 0, 0, 0, 5, 6);
    XSync(other, False);

    ASSERT_EQ(XDisp::SendKeyEvent(app->display, w, XK_Return), 1);
    ASSERT_EQ(XDisp::SendButtonEvent(app->display, w, ButtonRelease), 1);
    EXPECT_EQ(XDisp::SendButtonEvent(app->display, w, KeyPress), 0);
    EXPECT_EQ(XDisp::SendKeyEvent(app->display, vanishedWindow(), XK_Return), 0);
    EXPECT_EQ(XDisp::SendButtonEvent(app->display, vanishedWindow(), ButtonPress), 0);

    XEvent key;
    XWindowEvent(other, w, KeyPressMask, &key);
    EXPECT_TRUE(key.xkey.send_event);
    EXPECT_EQ(key.xkey.keycode, XKeysymToKeycode(other, XK_Return));
    EXPECT_EQ(key.xkey.state, 256u);
    EXPECT_EQ(key.xkey.x_root, 20);
    EXPECT_EQ(key.xkey.y_root, 30);
    XEvent button;
    XWindowEvent(other, w, ButtonPressMask | ButtonReleaseMask, &button);
    EXPECT_EQ(button.type, ButtonRelease);
    EXPECT_TRUE(button.xbutton.send_event);
    EXPECT_EQ(button.xbutton.button, 1u);
    EXPECT_EQ(button.xbutton.x, 5);
    EXPECT_EQ(button.xbutton.y, 6);
}

TEST_F(XDispTest, DismissPopupConfirmsTheOwnersDialogs) {
    app->resize(60, 60);
    ASSERT_TRUE(showTop());
    InforObj info(*app, "press Return");
    info.setMsg("press Return");
    Widget shell = XtParent(info.getWidget());
    ASSERT_TRUE(pumpUntil(app->appContext, [&] { return viewable(XtWindow(shell)); }));

    EXPECT_EQ(app->DismissPopup(XtWindow(app->topLevel) + 1), 1) << "not the owner";
    pumpFor(app->appContext, 100);
    EXPECT_TRUE(XtIsManaged(info.getWidget()));

    EXPECT_EQ(app->DismissPopup(XtWindow(app->topLevel)), 1);
    EXPECT_TRUE(pumpUntil(app->appContext, [&] { return !XtIsManaged(info.getWidget()); }));
}
