// A toolkit application on the executable's X server, whose windows go with
// the test; small queries on windows.
#pragma once

#include "xvfb.h"  // first: see there
#include "xdisp.h"

#include <memory>
#include <string>

namespace zeftest {

class GuiTest : public XvfbTest {
protected:
    void SetUp() override {
        XvfbTest::SetUp();
        if (HasFatalFailure()) return;
        // The toolkit keeps argv for the session's WM_COMMAND: static storage.
        static char program[] = "/usr/bin/guitest";
        static char* argv[] = {program, nullptr};
        app = std::make_unique<XDisp>(1, argv, nullptr);
        ASSERT_NE(app->display, nullptr);
    }

    void TearDown() override {
        // Motif's per-display state outlives a closed connection: it stays
        // open, and its windows go, dialogs with them.
        if (app && app->topLevel) XtDestroyWidget(app->topLevel), pumpFor(app->appContext, 0), XSync(app->display, False);
        app.reset();
        XvfbTest::TearDown();
    }

    // Realizes the top level and waits until window w (or the top) is viewable.
    bool showTop(Window w = 0) {
        app->RealizeTop();
        return pumpUntil(app->appContext, [&] { return viewable(w ? w : XtWindow(app->topLevel)); });
    }

    bool viewable(Window w) {
        XWindowAttributes a;
        return w && XGetWindowAttributes(app->display, w, &a) && a.map_state == IsViewable;
    }

    void rootPosition(Window w, int* x, int* y) {  // of w's origin on the screen
        Window child;
        XTranslateCoordinates(app->display, w, app->rootWindow, 0, 0, x, y, &child);
    }

    // Moves the real pointer to (x, y) inside window w and clicks button 1.
    int clickAt(Window w, int x, int y) {
        return xdotool({"mousemove", "--window", std::to_string(w), std::to_string(x), std::to_string(y),
                        "click", "1"});
    }

    std::unique_ptr<XDisp> app;
};

}  // namespace zeftest
