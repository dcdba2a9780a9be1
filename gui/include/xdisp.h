// XDisp: the program's connection to the X server and the toolkit. It owns
// the application context, the display, the top-level shell and the event
// loop; it finds other clients' windows, exchanges short text messages with
// them through window properties, and acts on their windows.
//
// A message is a property of type XA_STRING, format 8, holding the text and
// its terminating NUL. Operations on windows that another client may destroy
// at any moment catch the X errors that result, so a vanished window is a
// failure result, never the end of the program.
#ifndef ZEF_GUI_XDISP_H
#define ZEF_GUI_XDISP_H

#include "winobj.h"

class XDisp : public WinObj {
public:
    // An invisible 10 x 10 shell (not mapped when managed) for a client that
    // only needs the connection. Ends the program when the display cannot
    // be opened.
    XDisp(int argc, char** argv);
    // The player's constructor: a normal top-level shell with the given
    // fallback resources (null-terminated, or null).
    XDisp(int argc, char** argv, char** fallbackResources);
    // For a program that already runs a toolkit: w's display, screen and
    // application context; topLevel is the nearest shell at or above w.
    explicit XDisp(Widget w);
    // The connection only; no toolkit, so the loops return at once.
    explicit XDisp(Display* d);
    XDisp();
    XDisp(const XDisp&) = delete;
    XDisp& operator=(const XDisp&) = delete;
    ~XDisp() override;  // releases the window lists only

    // The part after the last '/'; null for null.
    static const char* basename(const char* path);
    static char* basename(char* path);

    void RealizeTop();
    // The toolkit's event loop; returns once ExitLoop has been called.
    void MainLoop();
    // The same, readdressing events for w (or for any window of the
    // zero-terminated list) to the top-level window.
    void MainLoop(Window w);
    void MainLoop(Window* list);
    // Asks the running loop to return after the event being dispatched.
    void ExitLoop();
    void Sync(char discard);
    XtInputId addInputRead(int fd, XtInputCallbackProc proc, void* data);
    XtInputId addInputWrite(int fd, XtInputCallbackProc proc, void* data);
    void removeInput(XtInputId id);

    // Client windows among parent's children (window-manager frames are
    // looked through) into windowList; 1, or 0 keeping the old list when the
    // tree cannot be read, belongs to another screen or has no children.
    int GetWIds(Window parent);
    int GetWIds();
    Window* GetChildrenWin(Window parent, int* count);
    // The property's data, to be freed with XFree; null when the window or
    // the property is missing, or the value is not of the requested type
    // (AnyPropertyType accepts any). An XA_STRING value must have format 8.
    unsigned char* GetWinProp(Window w, Atom property, Atom type);
    unsigned char* GetWinProp(Window w, const char* propertyName, Atom type);
    // Windows carrying the property, zero-terminated, in windowList order;
    // null when no client ever interned the name or the windows could not be
    // listed. The list is owned and replaced by the next call.
    Window* FindAllwinsWithProp(const char* propertyName);
    Window Find1stWinWithProp(const char* propertyName);
    // The first window whose WM_NAME begins with title; 0 if none.
    Window FindWinWithTitle(const char* title);
    // Waits for w's next title change and returns the new title (free with
    // XFree); null when w does not exist or is destroyed while waiting.
    // Other events stay queued for the toolkit.
    unsigned char* GetNewWM_NAME(Window w);
    static Bool PredProc(Display* d, XEvent* event, char* arg);

    // Messages. Results: 0, or -1 for a missing atom, window, list or text,
    // or when the server refused the request (a window that has gone).
    int SendAtomMsg(const char* propertyName, Window** windows, const char* text);
    int SendAtomMsg(Atom property, Window w, const char* text);
    int createStringAtom(Atom property, Window w, const char* text);
    int RemoveAtom(Atom property, Window w);
    // Deletes the property from every window of the zero-terminated list.
    // A list that this object returned (FindAllwinsWithProp, GetWIds) is
    // released here; any other list stays the caller's.
    int RemoveAtom(const char* propertyName, Window* list);

    // Operations on other clients' windows: 1 for success, 0 for failure.
    // rootX, rootY: the window's origin in root coordinates.
    static int GetWinAttr(Display* d, Window w, XWindowAttributes* attributes,
                          int* rootX, int* rootY);
    static int MovePointerToLoc(Display* d, Window w, XWindowAttributes& attributes,
                                int x, int y);
    static int MovePointerToULWin(Display* d, Window w);
    static int MovePointerToLRWin(Display* d, Window w);
    static int MovePointerToWin(Display* d, Window w);
    static int SendKeyEvent(Display* d, Window w, KeySym keysym);
    // type is ButtonPress or ButtonRelease.
    static int SendButtonEvent(Display* d, Window w, int type);
    // Presses Return in every dialog that owner has popped up.
    int DismissPopup(Window owner);

    XtAppContext appContext = nullptr;
    Display* display = nullptr;
    Widget topLevel = nullptr;
    Window* windowList = nullptr;
    unsigned int numWindows = 0;
    Window* propWindowList = nullptr;
    Window rootWindow = 0;
    Window redirectWindow = 0;
    int failValue = 0;
    int successValue = 1;

private:
    class Redirection;
    void initToolkit(int argc, char** argv, char** fallbackResources, bool invisible);
    void loopRedirecting(const Window* list, Window single);
    void releaseWindowList();
    void releasePropWindowList();
    int writeString(Atom property, Window w, const char* text, int mode);
};

#endif
