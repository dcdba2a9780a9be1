// WinObj: a thin wrapper round one Xt/Motif widget, and GCObj, a graphics
// context for drawing into a wrapped widget.
//
// Wrappers never destroy their widgets: a widget lives until the toolkit
// destroys it with its shell, so deleting a wrapper only ends the object.
// Every operation tolerates a wrapper whose widget is still null (it does
// nothing and returns 0), so a failed creation never becomes a crash later.
#ifndef ZEF_GUI_WINOBJ_H
#define ZEF_GUI_WINOBJ_H

#include <X11/Intrinsic.h>
#include <X11/StringDefs.h>
#include <Xm/Xm.h>

class WinObj {
public:
    WinObj() = default;
    WinObj(const WinObj&) = default;
    WinObj& operator=(const WinObj&) = default;

    virtual void setWidget(Widget w);
    virtual ~WinObj();
    virtual Widget getWidget();
    // The widget's window; 0 before the widget is realized.
    virtual Window getWindow();
    virtual void move(int x, int y);
    virtual void move(Widget w, int x, int y);
    virtual void resize(int width, int height);
    // One size change (through resize) followed by one position change
    // (through move).
    virtual void reshape(int x, int y, int width, int height);
    virtual Pixel ConvertColor(const char* colourName);
    // Client data is the wrapper itself.
    virtual void addCB(const char* callbackName, XtCallbackProc proc);
    virtual void addCB(const char* callbackName, XtCallbackProc proc, void* clientData);
    // Non-maskable events are not wanted; client data is the wrapper itself.
    virtual void addEH(unsigned long eventMask, XtEventHandler handler);
    // Installs this widget's accelerators on the destination widget.
    virtual void addAccel(Widget destination);

    // The pixel for a colour name, converted by the toolkit for w; 0 when the
    // name is unknown to the server (after the toolkit's own warning).
    static Pixel ConvertColor(Widget w, const char* colourName);
    // Event handler: on pointer motion it moves w to the event's position;
    // every other event is ignored.
    static void button1Drag(Widget w, XtPointer clientData, XEvent* event, Boolean* cont);
    // An array of count localized compound strings (a null text counts as
    // empty). Release it with freeXmStringTable, which frees the strings and
    // the array. Returns null for count <= 0 or null texts.
    static XmString* toXmStringTable(int count, char** texts);
    static void freeXmStringTable(int count, XmString* table);

    // Pixmaps of the widget's depth, drawn in the widget's foreground and
    // background unless colours are given; 0 when the pixmap cannot be made
    // (no widget, no bits, or a zero size).
    Pixmap createPixmapFromData(const char* bits, unsigned width, unsigned height);
    Pixmap createPixmapFromData(const char* bits, unsigned width, unsigned height,
                                unsigned long foreground, unsigned long background);
    // XmUNSPECIFIED_PIXMAP, after "couldn't load <name>" on standard output,
    // when the file cannot be made into a pixmap.
    Pixmap createPixmapFromFile(const char* fileName);

    void manage();
    void unmanage();

    Widget widget = nullptr;
};

// A graphics context that can draw on any drawable of the target widget's
// screen and depth, with the widget's foreground and background. The GC is
// kept for the program's life, like the widgets it draws into.
class GCObj : public WinObj {
public:
    explicit GCObj(WinObj& target);
    GCObj(const GCObj&) = delete;
    GCObj& operator=(const GCObj&) = delete;
    ~GCObj() override;

    Widget drawWidget = nullptr;
    Window window = 0;          // 0 when the widget was not realized yet
    Display* display = nullptr;
    XGCValues values{};
    GC gc = nullptr;            // null when the target had no widget
    const char* name = "GCObj";
};

#endif
