// The player's windows on the test's Xvfb: found by title, their "Audio-Msg"
// announcement, the play button's face. Include it before any X header.
#pragma once

#include "xvfb.h"  // first: see there

#include <X11/Xatom.h>

#include <cstring>
#include <string>

namespace ptest {

inline bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto deadline = zeftest::Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (; !done(); std::this_thread::sleep_for(std::chrono::milliseconds(10)))
        if (zeftest::msLeft(deadline) == 0) return false;
    return true;
}

// Cuts the toolkit connection that owns a window from the server's side, its windows gone with it
// (XtCloseDisplay would let Motif reuse the old display's fonts on a new one at the same address).
inline void dropClient(Display* d, Window owned) { if (owned) XKillClient(d, owned), XSync(d, False); }

// The topmost viewable top-level window whose WM_NAME starts with title; 0 if none.
inline Window findWindow(Display* d, const std::string& title) {
    Window root = 0, parent = 0, *children = nullptr, found = 0;
    unsigned int count = 0;
    if (!XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count)) return 0;
    for (unsigned int i = count; i-- > 0 && !found;) {
        XWindowAttributes a;
        char* name = nullptr;
        if (XGetWindowAttributes(d, children[i], &a) && a.map_state == IsViewable &&
            XFetchName(d, children[i], &name) && name && std::string(name).rfind(title, 0) == 0)
            found = children[i];
        if (name) XFree(name);
    }
    if (children) XFree(children);
    return found;
}

// The window's "Audio-Msg" text; empty when the property is absent.
inline std::string audioMsg(Display* d, Window w) {
    Atom type = 0;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    std::string text;
    if (XGetWindowProperty(d, w, XInternAtom(d, "Audio-Msg", False), 0, 64, False, XA_STRING, &type, &format,
                           &items, &after, &data) == Success && data && format == 8)
        text.assign(reinterpret_cast<char*>(data), strnlen(reinterpret_cast<char*>(data), items));
    if (data) XFree(data);
    return text;
}

// The play button's face, read from the 32 x 20 picture at (x, y) of window
// w (the button's place in the panel): the play face is green, stop red.
enum class Face { Play, Stop, Unknown };
inline Face buttonFace(Display* d, Window w, int x = 38, int y = 57) {
    XImage* image = XGetImage(d, w, x, y, 32, 20, AllPlanes, ZPixmap);
    if (!image) return Face::Unknown;
    int green = 0, red = 0;
    for (int j = 0; j < 20; ++j)
        for (int i = 0; i < 32; ++i) {
            const unsigned long pixel = XGetPixel(image, i, j) & 0xffffff;
            green += pixel == 0x00ff00, red += pixel == 0xff0000;
        }
    XDestroyImage(image);
    return green > 20 && red == 0 ? Face::Play : red > 20 && green == 0 ? Face::Stop : Face::Unknown;
}

}  // namespace ptest
