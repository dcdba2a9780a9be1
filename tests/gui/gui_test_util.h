// Shared set-up of the window layer's tests: a toolkit application on the
// test's private X server, and small queries on real windows.
#ifndef ZEF_TESTS_GUI_GUI_TEST_UTIL_H
#define ZEF_TESTS_GUI_GUI_TEST_UTIL_H

#include "xvfb_fixture.h"  // first: see there
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
        app.reset();
        XvfbTest::TearDown();
    }

    // Realizes the top level and waits until window w is viewable.
    bool showTop(Window* w = nullptr) {
        app->RealizeTop();
        const Window target = w ? *w : XtWindow(app->topLevel);
        return pumpUntil(app->appContext, [&] { return viewable(target); });
    }

    bool viewable(Window w) {
        XWindowAttributes a;
        return w && XGetWindowAttributes(app->display, w, &a) && a.map_state == IsViewable;
    }

    // Position of window w's origin on the screen.
    void rootPosition(Window w, int* x, int* y) {
        Window child;
        XTranslateCoordinates(app->display, w, app->rootWindow, 0, 0, x, y, &child);
    }

    // Moves the real pointer to (x, y) inside window w and clicks button 1.
    int clickAt(Window w, int x, int y) {
        return xdotool({"mousemove", "--window", std::to_string(w), std::to_string(x),
                        std::to_string(y), "click", "1"});
    }

    std::unique_ptr<XDisp> app;
};

}  // namespace zeftest

#endif
