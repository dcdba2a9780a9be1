#include "winobj.h"

#include <climits>
#include <cstdio>
#include <cstring>

namespace {

// Positions are 16-bit signed and sizes 16-bit unsigned in the toolkit; a
// value outside would wrap silently, and a zero size is a protocol error on
// a realized widget.
bool fitsPosition(int v) { return v >= SHRT_MIN && v <= SHRT_MAX; }
bool fitsSize(int v) { return v >= 1 && v <= USHRT_MAX; }

void readColours(Widget w, Pixel* foreground, Pixel* background) {
    Arg args[2];
    XtSetArg(args[0], XtNforeground, foreground);
    XtSetArg(args[1], XtNbackground, background);
    XtGetValues(w, args, 2);
}

}  // namespace

void WinObj::setWidget(Widget w) { widget = w; }

WinObj::~WinObj() = default;

Widget WinObj::getWidget() { return widget; }

Window WinObj::getWindow() { return widget ? XtWindow(widget) : 0; }

void WinObj::move(int x, int y) { move(widget, x, y); }

void WinObj::move(Widget w, int x, int y) {
    if (!w || !fitsPosition(x) || !fitsPosition(y)) return;
    Arg args[2];
    XtSetArg(args[0], XtNx, static_cast<Position>(x));
    XtSetArg(args[1], XtNy, static_cast<Position>(y));
    XtSetValues(w, args, 2);
}

void WinObj::resize(int width, int height) {
    if (!widget || !fitsSize(width) || !fitsSize(height)) return;
    Arg args[2];
    XtSetArg(args[0], XtNwidth, static_cast<Dimension>(width));
    XtSetArg(args[1], XtNheight, static_cast<Dimension>(height));
    XtSetValues(widget, args, 2);
}

void WinObj::reshape(int x, int y, int width, int height) {
    resize(width, height);
    move(x, y);
}

Pixel WinObj::ConvertColor(const char* colourName) { return ConvertColor(widget, colourName); }

void WinObj::addCB(const char* callbackName, XtCallbackProc proc) {
    addCB(callbackName, proc, this);
}

void WinObj::addCB(const char* callbackName, XtCallbackProc proc, void* clientData) {
    if (!widget || !callbackName || !proc) return;
    XtAddCallback(widget, callbackName, proc, clientData);
}

void WinObj::addEH(unsigned long eventMask, XtEventHandler handler) {
    if (!widget || !handler) return;
    XtAddEventHandler(widget, eventMask, False, handler, this);
}

void WinObj::addAccel(Widget destination) {
    if (!widget || !destination) return;
    XtInstallAccelerators(destination, widget);
}

Pixel WinObj::ConvertColor(Widget w, const char* colourName) {
    if (!w || !colourName) return 0;
    XrmValue from;
    XrmValue to;
    from.addr = const_cast<XPointer>(colourName);
    from.size = static_cast<unsigned>(std::strlen(colourName) + 1);
    to.addr = nullptr;
    to.size = 0;
    XtConvert(w, XtRString, &from, XtRPixel, &to);
    if (!to.addr || to.size != sizeof(Pixel)) return 0;
    Pixel pixel;
    std::memcpy(&pixel, to.addr, sizeof pixel);
    return pixel;
}

void WinObj::button1Drag(Widget w, XtPointer, XEvent* event, Boolean*) {
    if (!w || !event || event->type != MotionNotify) return;
    Arg args[2];
    XtSetArg(args[0], XtNx, static_cast<Position>(event->xmotion.x));
    XtSetArg(args[1], XtNy, static_cast<Position>(event->xmotion.y));
    XtSetValues(w, args, 2);
}

XmString* WinObj::toXmStringTable(int count, char** texts) {
    if (count <= 0 || !texts) return nullptr;
    auto* table = reinterpret_cast<XmString*>(XtMalloc(sizeof(XmString) * count));
    for (int i = 0; i < count; ++i)
        table[i] = XmStringCreateLocalized(const_cast<char*>(texts[i] ? texts[i] : ""));
    return table;
}

void WinObj::freeXmStringTable(int count, XmString* table) {
    if (!table) return;
    for (int i = 0; i < count; ++i) XmStringFree(table[i]);
    XtFree(reinterpret_cast<char*>(table));
}

Pixmap WinObj::createPixmapFromData(const char* bits, unsigned width, unsigned height) {
    if (!widget) return 0;
    Pixel foreground = 0;
    Pixel background = 0;
    readColours(widget, &foreground, &background);
    return createPixmapFromData(bits, width, height, foreground, background);
}

Pixmap WinObj::createPixmapFromData(const char* bits, unsigned width, unsigned height,
                                    unsigned long foreground, unsigned long background) {
    if (!widget || !bits || width == 0 || height == 0 || width > USHRT_MAX || height > USHRT_MAX)
        return 0;
    Screen* screen = XtScreen(widget);
    Display* display = DisplayOfScreen(screen);
    return XCreatePixmapFromBitmapData(display, DefaultRootWindow(display),
                                       const_cast<char*>(bits), width, height, foreground,
                                       background, DefaultDepthOfScreen(screen));
}

Pixmap WinObj::createPixmapFromFile(const char* fileName) {
    Pixmap pixmap = XmUNSPECIFIED_PIXMAP;
    if (widget && fileName) {
        Pixel foreground = 0;
        Pixel background = 0;
        readColours(widget, &foreground, &background);
        pixmap = XmGetPixmap(XtScreen(widget), const_cast<char*>(fileName), foreground,
                             background);
    }
    if (pixmap == XmUNSPECIFIED_PIXMAP) {
        std::printf("couldn't load %s\n", fileName ? fileName : "(null)");
        std::fflush(stdout);
    }
    return pixmap;
}

void WinObj::manage() {
    if (widget) XtManageChild(widget);
}

void WinObj::unmanage() {
    if (widget) XtUnmanageChild(widget);
}

GCObj::GCObj(WinObj& target) : WinObj(target), drawWidget(target.getWidget()) {
    if (!drawWidget) return;
    Screen* screen = XtScreen(drawWidget);
    display = DisplayOfScreen(screen);
    window = XtWindow(drawWidget);
    readColours(drawWidget, &values.foreground, &values.background);
    gc = XCreateGC(display, RootWindowOfScreen(screen), GCForeground | GCBackground, &values);
}

GCObj::~GCObj() = default;
