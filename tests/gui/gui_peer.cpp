// A second client for the message tests, speaking through XDisp.
// "gui_peer P" announces "open" in property P on its top level, prints
// "ready WINDOW", and on "close" withdraws P, prints "closed" and ends.
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

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    XDisp x(1, argv);
    x.RealizeTop();
    Holder h{&x, XInternAtom(x.display, argv[1], False), XtWindow(x.topLevel)};
    XtAddEventHandler(x.topLevel, PropertyChangeMask, False, onProperty, &h);
    if (x.createStringAtom(h.atom, h.window, "open") != 0) return 3;
    std::printf("ready %lu\n", h.window);
    std::fflush(stdout);
    x.MainLoop();
    std::printf("closed\n");
    return 0;
}
