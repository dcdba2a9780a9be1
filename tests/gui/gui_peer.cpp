// A second client for the message tests, speaking through XDisp.
//
//   gui_peer hold PROPERTY     announces "open" in PROPERTY on its own top-level
//                              window, prints "ready <window>", and on a text
//                              beginning with "close" withdraws the property,
//                              prints "closed" and ends with status 0.
//   gui_peer request PROPERTY  writes "close" on every window that carries
//                              PROPERTY and prints how many it found.
#include "xdisp.h"

#include <X11/Xatom.h>

#include <cstdio>
#include <cstring>

namespace {

struct Holder {
    XDisp* x;
    Atom atom;
    Window window;
};

void onProperty(Widget, XtPointer data, XEvent* event, Boolean*) {
    auto* h = static_cast<Holder*>(data);
    if (event->type != PropertyNotify || event->xproperty.atom != h->atom) return;
    unsigned char* value = h->x->GetWinProp(h->window, h->atom, XA_STRING);
    if (value && std::strncmp(reinterpret_cast<char*>(value), "close", 5) == 0) {
        h->x->RemoveAtom(h->atom, h->window);
        h->x->ExitLoop();
    }
    if (value) XFree(value);
}

int hold(XDisp& x, const char* property) {
    x.RealizeTop();
    Holder h{&x, XInternAtom(x.display, property, False), XtWindow(x.topLevel)};
    XtAddEventHandler(x.topLevel, PropertyChangeMask, False, onProperty, &h);
    if (x.createStringAtom(h.atom, h.window, "open") != 0) return 3;
    std::printf("ready %lu\n", h.window);
    std::fflush(stdout);
    x.MainLoop();
    std::printf("closed\n");
    return 0;
}

int request(XDisp& x, const char* property) {
    Window* windows = nullptr;
    if (x.SendAtomMsg(property, &windows, "close") != 0) return 4;
    int count = 0;
    while (windows[count]) ++count;
    std::printf("sent %d\n", count);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: gui_peer hold|request PROPERTY\n");
        return 2;
    }
    XDisp x(1, argv);
    if (std::strcmp(argv[1], "hold") == 0) return hold(x, argv[2]);
    if (std::strcmp(argv[1], "request") == 0) return request(x, argv[2]);
    return 2;
}
