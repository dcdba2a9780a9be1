#include "xdisp.h"

#include <X11/Shell.h>
#include <X11/Xatom.h>
#include <X11/Xmu/WinUtil.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <cstdio>
#include <cstring>

namespace {

// Catches the X errors of the requests made while it lives, for its own
// display only, so that a window that another client destroyed turns into a
// failure result instead of the default handler ending the program. Errors
// of requests made before the trap still go to the previous handler.
class ErrorTrap {
public:
    explicit ErrorTrap(Display* d) : display_(d) {
        XSync(display_, False);
        previous_ = XSetErrorHandler(handler);
        outer_ = current_;
        current_ = this;
    }
    ~ErrorTrap() {
        XSync(display_, False);
        current_ = outer_;
        XSetErrorHandler(previous_);
    }
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;

    // True when any request so far failed; waits for the server's answers.
    bool failed() {
        XSync(display_, False);
        return failed_;
    }

private:
    static int handler(Display* d, XErrorEvent* error) {
        ErrorTrap* outermost = current_;
        for (ErrorTrap* t = current_; t; t = t->outer_) {
            if (t->display_ == d) {
                t->failed_ = true;
                return 0;
            }
            outermost = t;
        }
        return outermost && outermost->previous_ ? outermost->previous_(d, error) : 0;
    }

    static inline ErrorTrap* current_ = nullptr;
    Display* display_;
    XErrorHandler previous_ = nullptr;
    ErrorTrap* outer_ = nullptr;
    bool failed_ = false;
};

bool listed(const Window* list, Window w) {
    for (; list && *list; ++list)
        if (*list == w) return true;
    return false;
}

struct TitleWait {
    Window window;
};

// Only the awaited window's title change or its destruction ends the wait;
// every other event stays queued for the toolkit.
Bool titleChangedOrGone(Display*, XEvent* event, XPointer arg) {
    const Window w = reinterpret_cast<TitleWait*>(arg)->window;
    if (event->type == PropertyNotify)
        return event->xproperty.window == w && event->xproperty.atom == XA_WM_NAME;
    return event->type == DestroyNotify && event->xdestroywindow.window == w;
}

const char* fallbackClass = "XDisp";

}  // namespace

// While it lives, every core X event of its display that is addressed to one
// of its windows reaches the toolkit addressed to the top-level window.
// Redirections nest; the toolkit's own dispatchers come back at the end.
class XDisp::Redirection {
public:
    Redirection(Display* d, Window top, const Window* list, Window single)
        : display_(d), top_(top), list_(list), single_(single), outer_(active_) {
        for (int type = KeyPress; type < LASTEvent; ++type)
            previous_[type] = XtSetEventDispatcher(display_, type, dispatch);
        active_ = this;
    }
    ~Redirection() {
        active_ = outer_;
        for (int type = KeyPress; type < LASTEvent; ++type)
            XtSetEventDispatcher(display_, type, previous_[type]);
    }
    Redirection(const Redirection&) = delete;
    Redirection& operator=(const Redirection&) = delete;

private:
    // The outermost redirection of the event's display holds the toolkit's
    // own dispatcher; the inner ones hold this function again.
    static Boolean dispatch(XEvent* event) {
        Redirection* base = nullptr;
        for (Redirection* r = active_; r; r = r->outer_) {
            if (r->display_ != event->xany.display) continue;
            r->readdress(event);
            base = r;
        }
        const int type = event->type;
        if (base && type >= 0 && type < LASTEvent && base->previous_[type])
            return base->previous_[type](event);
        Widget w = XtWindowToWidget(event->xany.display, event->xany.window);
        return w ? XtDispatchEventToWidget(w, event) : False;
    }

    void readdress(XEvent* event) const {
        const Window target = event->xany.window;
        if (top_ && target && (target == single_ || listed(list_, target)))
            event->xany.window = top_;
    }

    static inline Redirection* active_ = nullptr;
    Display* display_;
    Window top_;
    const Window* list_;
    Window single_;
    Redirection* outer_;
    XtEventDispatchProc previous_[LASTEvent] = {};
};

XDisp::XDisp(int argc, char** argv) { initToolkit(argc, argv, nullptr, true); }

XDisp::XDisp(int argc, char** argv, char** fallbackResources) {
    initToolkit(argc, argv, fallbackResources, false);
}

XDisp::XDisp(Widget w) {
    if (!w) return;
    widget = w;
    display = XtDisplay(w);
    rootWindow = RootWindowOfScreen(XtScreen(w));
    appContext = XtWidgetToApplicationContext(w);
    Widget shell = w;
    while (shell && !XtIsShell(shell)) shell = XtParent(shell);
    topLevel = shell;
}

XDisp::XDisp(Display* d) : display(d) {
    if (d) rootWindow = RootWindow(d, DefaultScreen(d));
}

XDisp::XDisp() = default;

XDisp::~XDisp() {
    releaseWindowList();
    releasePropWindowList();
}

void XDisp::initToolkit(int argc, char** argv, char** fallbackResources, bool invisible) {
    static char fallbackName[] = "XDisp";
    static char* fallbackArgv[] = {fallbackName, nullptr};
    if (!argv || argc < 1 || !argv[0]) {
        argv = fallbackArgv;
        argc = 1;
    }
    const char* appClass = basename(argv[0]);
    if (!*appClass) appClass = fallbackClass;

    Arg args[2];
    XtSetArg(args[0], XtNtitle, appClass);
    XtSetArg(args[1], XtNmappedWhenManaged, False);
    topLevel = XtAppInitialize(&appContext, appClass, nullptr, 0, &argc, argv,
                               fallbackResources, args, invisible ? 2 : 1);
    widget = topLevel;
    if (invisible) {
        Arg size[2];
        XtSetArg(size[0], XtNheight, static_cast<Dimension>(10));
        XtSetArg(size[1], XtNwidth, static_cast<Dimension>(10));
        XtSetValues(topLevel, size, 2);
    }
    display = XtDisplay(topLevel);
    rootWindow = RootWindowOfScreen(XtScreen(topLevel));
}

const char* XDisp::basename(const char* path) {
    if (!path) return nullptr;
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

char* XDisp::basename(char* path) {
    return const_cast<char*>(basename(static_cast<const char*>(path)));
}

void XDisp::RealizeTop() {
    if (topLevel) XtRealizeWidget(topLevel);
}

void XDisp::MainLoop() {
    if (!appContext) return;
    while (!XtAppGetExitFlag(appContext)) XtAppProcessEvent(appContext, XtIMAll);
}

void XDisp::MainLoop(Window w) {
    redirectWindow = w;
    loopRedirecting(nullptr, w);
}

void XDisp::MainLoop(Window* list) { loopRedirecting(list, 0); }

// The events are readdressed on their way into the toolkit's dispatcher
// rather than in a loop of XtAppNextEvent: that call serves timers and inputs
// while it waits, so a timer that ends the loop would leave it waiting for
// one more X event.
void XDisp::loopRedirecting(const Window* list, Window single) {
    if (!appContext || !display) return;
    Redirection redirect{display, topLevel ? XtWindow(topLevel) : 0, list, single};
    MainLoop();
}

void XDisp::ExitLoop() {
    if (appContext) XtAppSetExitFlag(appContext);
}

void XDisp::Sync(char discard) {
    if (display) XSync(display, discard ? True : False);
}

XtInputId XDisp::addInputRead(int fd, XtInputCallbackProc proc, void* data) {
    if (!appContext || fd < 0 || !proc) return 0;
    return XtAppAddInput(appContext, fd, reinterpret_cast<XtPointer>(XtInputReadMask), proc, data);
}

XtInputId XDisp::addInputWrite(int fd, XtInputCallbackProc proc, void* data) {
    if (!appContext || fd < 0 || !proc) return 0;
    return XtAppAddInput(appContext, fd, reinterpret_cast<XtPointer>(XtInputWriteMask), proc, data);
}

void XDisp::removeInput(XtInputId id) {
    if (id) XtRemoveInput(id);
}

void XDisp::releaseWindowList() {
    delete[] windowList;
    windowList = nullptr;
    numWindows = 0;
}

void XDisp::releasePropWindowList() {
    delete[] propWindowList;
    propWindowList = nullptr;
}

int XDisp::GetWIds(Window parent) {
    if (!display || !parent) return failValue;
    ErrorTrap trap(display);
    Window root = 0;
    Window parentOfParent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    const Status ok = XQueryTree(display, parent, &root, &parentOfParent, &children, &count);
    if (!ok || root != rootWindow || count == 0 || !children) {
        if (children) XFree(children);
        return failValue;
    }
    releaseWindowList();
    windowList = new Window[count + 1];
    for (unsigned int i = 0; i < count; ++i) windowList[i] = XmuClientWindow(display, children[i]);
    windowList[count] = 0;
    numWindows = count;
    XFree(children);
    return successValue;
}

int XDisp::GetWIds() { return GetWIds(rootWindow); }

Window* XDisp::GetChildrenWin(Window parent, int* count) {
    const bool ok = GetWIds(parent) == successValue;
    if (count) *count = ok ? static_cast<int>(numWindows) : 0;
    return ok ? windowList : nullptr;
}

unsigned char* XDisp::GetWinProp(Window w, Atom property, Atom type) {
    if (!display || !w || !property) return nullptr;
    ErrorTrap trap(display);
    Atom actualType = None;
    int actualFormat = 0;
    unsigned long items = 0;
    unsigned long bytesAfter = 0;
    unsigned char* data = nullptr;
    const int status = XGetWindowProperty(display, w, property, 0, 16384, False, type, &actualType,
                                          &actualFormat, &items, &bytesAfter, &data);
    const bool usable = status == Success && actualType != None && data &&
                        (type == AnyPropertyType || actualType == type) &&
                        (type != XA_STRING || actualFormat == 8);
    if (!usable) {
        if (data) XFree(data);
        return nullptr;
    }
    return data;
}

unsigned char* XDisp::GetWinProp(Window w, const char* propertyName, Atom type) {
    if (!display || !propertyName) return nullptr;
    const Atom atom = XInternAtom(display, propertyName, True);
    return atom == None ? nullptr : GetWinProp(w, atom, type);
}

Window* XDisp::FindAllwinsWithProp(const char* propertyName) {
    releasePropWindowList();
    if (!display || !propertyName) return nullptr;
    const Atom atom = XInternAtom(display, propertyName, True);
    if (atom == None || GetWIds() != successValue) return nullptr;
    propWindowList = new Window[numWindows + 1];
    unsigned int found = 0;
    for (unsigned int i = 0; i < numWindows; ++i) {
        unsigned char* value = GetWinProp(windowList[i], atom, AnyPropertyType);
        if (!value) continue;
        XFree(value);
        propWindowList[found++] = windowList[i];
    }
    propWindowList[found] = 0;
    return propWindowList;
}

Window XDisp::Find1stWinWithProp(const char* propertyName) {
    if (!display || !propertyName) return 0;
    const Atom atom = XInternAtom(display, propertyName, True);
    if (atom == None || GetWIds() != successValue) return 0;
    for (unsigned int i = 0; i < numWindows; ++i) {
        unsigned char* value = GetWinProp(windowList[i], atom, AnyPropertyType);
        if (!value) continue;
        XFree(value);
        return windowList[i];
    }
    return 0;
}

Window XDisp::FindWinWithTitle(const char* title) {
    if (!display || !title || XInternAtom(display, "WM_NAME", True) == None) return 0;
    const Window* list = FindAllwinsWithProp("WM_NAME");
    const size_t length = std::strlen(title);
    for (; list && *list; ++list) {
        unsigned char* name = GetWinProp(*list, XA_WM_NAME, XA_STRING);
        if (!name) continue;
        const bool match = std::strncmp(reinterpret_cast<char*>(name), title, length) == 0;
        XFree(name);
        if (match) return *list;
    }
    return 0;
}

unsigned char* XDisp::GetNewWM_NAME(Window w) {
    if (!display || !w) return nullptr;
    XWindowAttributes attributes;
    {
        ErrorTrap trap(display);
        if (!XGetWindowAttributes(display, w, &attributes)) return nullptr;
        XSelectInput(display, w,
                     attributes.your_event_mask | PropertyChangeMask | StructureNotifyMask);
        if (trap.failed()) return nullptr;
    }
    TitleWait wait{w};
    XEvent event;
    XIfEvent(display, &event, titleChangedOrGone, reinterpret_cast<XPointer>(&wait));
    if (event.type == DestroyNotify) return nullptr;
    {
        ErrorTrap trap(display);
        XSelectInput(display, w, attributes.your_event_mask);
    }
    return GetWinProp(w, XA_WM_NAME, XA_STRING);
}

Bool XDisp::PredProc(Display* d, XEvent* event, char* arg) {
    if (!event) return False;
    if (arg) {
        std::printf("in PredProc - ev type = %d\n", event->type);
        std::printf("\tstate = %d\n", event->xproperty.state);
        std::printf("\tatom  = %lu\n", static_cast<unsigned long>(event->xproperty.atom));
    }
    if (event->type != PropertyNotify) return False;
    char* atomName = d ? XGetAtomName(d, event->xproperty.atom) : nullptr;
    std::printf("   Atom Name = %s\n", atomName ? atomName : "");
    if (atomName) XFree(atomName);
    std::fflush(stdout);
    return True;
}

int XDisp::writeString(Atom property, Window w, const char* text, int mode) {
    if (!display || !property || !w || !text) return -1;
    const size_t length = std::strlen(text) + 1;
    if (length > 0x7fffffff) return -1;
    ErrorTrap trap(display);
    XChangeProperty(display, w, property, XA_STRING, 8, mode,
                    reinterpret_cast<const unsigned char*>(text), static_cast<int>(length));
    return trap.failed() ? -1 : 0;
}

int XDisp::SendAtomMsg(const char* propertyName, Window** windows, const char* text) {
    if (!display || !propertyName || !windows || !text) return -1;
    const Atom atom = XInternAtom(display, propertyName, True);
    if (atom == None) return -1;
    if (!*windows || !**windows) *windows = FindAllwinsWithProp(propertyName);
    if (!*windows) return -1;
    int result = 0;
    for (const Window* w = *windows; *w; ++w)
        if (writeString(atom, *w, text, PropModeReplace) != 0) result = -1;
    return result;
}

int XDisp::SendAtomMsg(Atom property, Window w, const char* text) {
    return writeString(property, w, text, PropModeReplace);
}

int XDisp::createStringAtom(Atom property, Window w, const char* text) {
    return writeString(property, w, text, PropModePrepend);
}

int XDisp::RemoveAtom(Atom property, Window w) {
    if (!display || !property || !w) return -1;
    ErrorTrap trap(display);
    XDeleteProperty(display, w, property);
    return trap.failed() ? -1 : 0;
}

int XDisp::RemoveAtom(const char* propertyName, Window* list) {
    if (!display || !propertyName) return -1;
    const Atom atom = XInternAtom(display, propertyName, True);
    if (atom == None || !list) return -1;
    int result = 0;
    {
        ErrorTrap trap(display);
        for (const Window* w = list; *w; ++w) XDeleteProperty(display, *w, atom);
        if (trap.failed()) result = -1;
    }
    if (list == propWindowList) releasePropWindowList();
    else if (list == windowList) releaseWindowList();
    return result;
}

int XDisp::GetWinAttr(Display* d, Window w, XWindowAttributes* attributes, int* rootX,
                      int* rootY) {
    if (!d || !w || !attributes) return 0;
    ErrorTrap trap(d);
    if (!XGetWindowAttributes(d, w, attributes)) return 0;
    int x = 0;
    int y = 0;
    Window child = 0;
    if (!XTranslateCoordinates(d, w, attributes->root, 0, 0, &x, &y, &child)) return 0;
    if (rootX) *rootX = x;
    if (rootY) *rootY = y;
    return 1;
}

int XDisp::MovePointerToLoc(Display* d, Window w, XWindowAttributes& attributes, int x, int y) {
    if (!d || !w || attributes.map_state != IsViewable) return 0;
    ErrorTrap trap(d);
    XWarpPointer(d, None, w, 0, 0, 0, 0, x, y);
    return trap.failed() ? 0 : 1;
}

int XDisp::MovePointerToULWin(Display* d, Window w) {
    XWindowAttributes attributes;
    int rootX = 0;
    int rootY = 0;
    if (!GetWinAttr(d, w, &attributes, &rootX, &rootY)) return 0;
    return MovePointerToLoc(d, w, attributes, 0, 0);
}

int XDisp::MovePointerToLRWin(Display* d, Window w) {
    XWindowAttributes attributes;
    int rootX = 0;
    int rootY = 0;
    if (!GetWinAttr(d, w, &attributes, &rootX, &rootY)) return 0;
    return MovePointerToLoc(d, w, attributes, attributes.width, attributes.height);
}

int XDisp::MovePointerToWin(Display* d, Window w) {
    XWindowAttributes attributes;
    int rootX = 0;
    int rootY = 0;
    if (!GetWinAttr(d, w, &attributes, &rootX, &rootY)) return 0;
    return MovePointerToLoc(d, w, attributes, attributes.width / 2, attributes.height / 2);
}

int XDisp::SendKeyEvent(Display* d, Window w, KeySym keysym) {
    XWindowAttributes attributes;
    int rootX = 0;
    int rootY = 0;
    if (!GetWinAttr(d, w, &attributes, &rootX, &rootY)) return 0;
    const unsigned int keycode = XKeysymToKeycode(d, keysym) & 0xff;
    if (keycode == 0) return 0;  // no key produces this symbol
    XEvent event;
    std::memset(&event, 0, sizeof event);
    XKeyEvent& key = event.xkey;
    key.type = KeyPress;
    key.send_event = True;
    key.display = d;
    key.window = w;
    key.root = attributes.root;
    key.time = CurrentTime;
    key.x = attributes.x;
    key.y = attributes.y;
    key.x_root = rootX;
    key.y_root = rootY;
    key.state = Button1Mask;
    key.keycode = keycode;
    key.same_screen = True;
    ErrorTrap trap(d);
    const Status sent = XSendEvent(d, w, False, KeyPressMask, &event);
    return sent && !trap.failed() ? 1 : 0;
}

int XDisp::SendButtonEvent(Display* d, Window w, int type) {
    if (!d || !w || (type != ButtonPress && type != ButtonRelease)) return 0;
    ErrorTrap trap(d);
    Window root = 0;
    Window child = 0;
    int rootX = 0;
    int rootY = 0;
    int x = 0;
    int y = 0;
    unsigned int state = 0;
    if (!XQueryPointer(d, w, &root, &child, &rootX, &rootY, &x, &y, &state)) return 0;
    XEvent event;
    std::memset(&event, 0, sizeof event);
    XButtonEvent& button = event.xbutton;
    button.type = type;
    button.send_event = True;
    button.display = d;
    button.window = w;
    button.root = root;
    button.time = CurrentTime;
    button.x = x;
    button.y = y;
    button.x_root = rootX;
    button.y_root = rootY;
    button.state = state;
    button.button = Button1;
    button.same_screen = True;
    const Status sent = XSendEvent(d, w, False, ButtonPressMask | ButtonReleaseMask, &event);
    return sent && !trap.failed() ? 1 : 0;
}

int XDisp::DismissPopup(Window owner) {
    if (!display || !owner || GetWIds() != successValue) return failValue;
    for (unsigned int i = 0; i < numWindows; ++i) {
        const Window candidate = windowList[i];
        Window transientFor = 0;
        bool isDialogOfOwner = false;
        {
            ErrorTrap trap(display);
            if (!XGetTransientForHint(display, candidate, &transientFor)) continue;
            XWMHints* hints = XGetWMHints(display, candidate);
            if (!hints) continue;
            isDialogOfOwner = (hints->flags & WindowGroupHint) &&
                              hints->window_group == transientFor && transientFor == owner;
            XFree(hints);
        }
        if (isDialogOfOwner) SendKeyEvent(display, candidate, XK_Return);
    }
    return successValue;
}
