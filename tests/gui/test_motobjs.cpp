// The Motif wrapper classes and the message dialog on a private X server.
#include "gui_test_util.h"
#include "motobjs.h"

#include <Xm/ArrowB.h>
#include <Xm/BulletinB.h>
#include <Xm/DrawingA.h>
#include <Xm/DrawnB.h>
#include <Xm/Form.h>
#include <Xm/Frame.h>
#include <Xm/Label.h>
#include <Xm/List.h>
#include <Xm/MessageB.h>
#include <Xm/PushB.h>
#include <Xm/RowColumn.h>
#include <Xm/Scale.h>
#include <Xm/ScrolledW.h>
#include <Xm/SelectioB.h>
#include <Xm/Separator.h>
#include <Xm/Text.h>
#include <Xm/TextF.h>
#include <Xm/ToggleB.h>
#include <X11/Shell.h>

#include <string>
#include <vector>

using zeftest::GuiTest;

namespace {

std::string text(XmString s) {
    char* plain = static_cast<char*>(
        XmStringUnparse(s, nullptr, XmCHARSET_TEXT, XmCHARSET_TEXT, nullptr, 0, XmOUTPUT_ALL));
    std::string result = plain ? plain : "";
    XtFree(plain);
    return result;
}

std::string labelText(Widget w, String resource) {
    XmString s = nullptr;
    Arg a[1];
    XtSetArg(a[0], resource, &s);
    XtGetValues(w, a, 1);
    std::string result = text(s);
    XmStringFree(s);
    return result;
}

// Read with the resource's own type: Motif keeps enumerations in one byte.
template <typename T>
int resource(Widget w, String name) {
    T value{};
    Arg a[1];
    XtSetArg(a[0], name, &value);
    XtGetValues(w, a, 1);
    return value;
}

std::vector<std::string> listItems(Widget list) {
    XmStringTable items = nullptr;
    int count = 0;
    Arg a[2];
    XtSetArg(a[0], XmNitems, &items);
    XtSetArg(a[1], XmNitemCount, &count);
    XtGetValues(list, a, 2);
    std::vector<std::string> result;
    for (int i = 0; i < count; ++i) result.push_back(text(items[i]));
    return result;
}

// The dialog shell's window position on the screen.
void shellPosition(Widget dialog, int* x, int* y) {
    Window child;
    Display* d = XtDisplay(dialog);
    XTranslateCoordinates(d, XtWindow(XtParent(dialog)), DefaultRootWindow(d), 0, 0, x, y,
                          &child);
}

// Pixels of the dialog's message area that differ from its background.
int messageInk(Widget dialog) {
    Widget label = XmMessageBoxGetChild(dialog, XmDIALOG_MESSAGE_LABEL);
    Position x = 0;
    Position y = 0;
    Dimension width = 0;
    Dimension height = 0;
    Pixel background = 0;
    Arg a[5];
    XtSetArg(a[0], XtNx, &x);
    XtSetArg(a[1], XtNy, &y);
    XtSetArg(a[2], XtNwidth, &width);
    XtSetArg(a[3], XtNheight, &height);
    XtSetArg(a[4], XtNbackground, &background);
    XtGetValues(label, a, 5);
    if (width == 0 || height == 0) return 0;
    XImage* image = XGetImage(XtDisplay(dialog), XtWindowOfObject(label), x, y, width, height,
                              AllPlanes, ZPixmap);
    if (!image) return 0;
    int ink = 0;
    for (int row = 0; row < height; ++row)
        for (int col = 0; col < width; ++col) ink += XGetPixel(image, col, row) != background;
    XDestroyImage(image);
    return ink;
}

}  // namespace

class MotObjsTest : public GuiTest {};

TEST_F(MotObjsTest, EachWrapperCreatesItsClassUnderItsParent) {
    BBoardObj board(*app, "board");
    struct Expect {
        WinObj* obj;
        const char* objName;
        WidgetClass cls;
        bool managed;
        const char* widgetName;
        Widget parent;
    };
    FormObj form(board, "form");
    FrameObj frame(board, "frame");
    RowColumnObj rows(board, "rows");
    DrawingObj drawing(board, "drawing");
    ScrolledWindowObj scrolled(board, "scrolled");
    TextFieldObj field(board, "field");
    TextObj textObj(board, "text");
    ScaleObj scale(board, "scale");
    PushButtonObj push(board, "push");
    DrawnButtonObj drawn(board, "drawn");
    ToggleButtonObj toggle(board, "toggle");
    ArrowButtonObj arrow(board, "arrow");
    SeparatorObj separator(board, "separator");
    ToplevelShellObj top(*app, "top");
    TransientShellObj transient(*app, "transient");
    const std::vector<Expect> all = {
        {&board, board.name, xmBulletinBoardWidgetClass, false, "board", app->getWidget()},
        {&form, form.name, xmFormWidgetClass, false, "form", board.getWidget()},
        {&frame, frame.name, xmFrameWidgetClass, false, "frame", board.getWidget()},
        {&rows, rows.name, xmRowColumnWidgetClass, false, "rows", board.getWidget()},
        {&drawing, drawing.name, xmDrawingAreaWidgetClass, false, "drawing", board.getWidget()},
        {&scrolled, scrolled.name, xmScrolledWindowWidgetClass, false, "scrolled", board.getWidget()},
        {&field, field.name, xmTextFieldWidgetClass, true, "field", board.getWidget()},
        {&textObj, textObj.name, xmTextWidgetClass, true, "text", board.getWidget()},
        {&scale, scale.name, xmScaleWidgetClass, true, "scale", board.getWidget()},
        {&push, push.name, xmPushButtonWidgetClass, true, "push", board.getWidget()},
        {&drawn, drawn.name, xmDrawnButtonWidgetClass, true, "drawn", board.getWidget()},
        {&toggle, toggle.name, xmToggleButtonWidgetClass, true, "toggle", board.getWidget()},
        {&arrow, arrow.name, xmArrowButtonWidgetClass, true, "arrow", board.getWidget()},
        {&separator, separator.name, xmSeparatorWidgetClass, true, "separator", board.getWidget()},
        {&top, top.name, topLevelShellWidgetClass, false, "top", app->getWidget()},
        {&transient, transient.name, transientShellWidgetClass, false, "transient", app->getWidget()},
    };
    const std::vector<std::string> names = {
        "BBoardObj",  "FormObj",        "FrameObj",       "RowColumnObj",
        "DrawingObj", "ScrolledWindowObj", "TextFieldObj", "TextObj",
        "ScaleObj",   "PushButtonObj",  "DrawnButtonObj", "ToggleButtonObj",
        "ArrowButtonObj", "SeparatorObj", "ToplevelShellObj", "TransientShellObj"};
    for (size_t i = 0; i < all.size(); ++i) {
        const Expect& e = all[i];
        SCOPED_TRACE(names[i]);
        Widget w = e.obj->getWidget();
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(std::string(e.objName), names[i]);
        EXPECT_EQ(XtClass(w), e.cls);
        EXPECT_EQ(std::string(XtName(w)), e.widgetName);
        EXPECT_EQ(XtIsManaged(w) != 0, e.managed);
        EXPECT_EQ(XtParent(w), e.parent);
    }
    EXPECT_EQ(resource<unsigned char>(scrolled.getWidget(), XmNscrollingPolicy), XmAUTOMATIC);
    EXPECT_EQ(resource<unsigned char>(scrolled.getWidget(), XmNscrollBarDisplayPolicy), XmAS_NEEDED);
}

TEST_F(MotObjsTest, ParentWithoutWidgetGetsNoChild) {
    WinObj none;
    BBoardObj board(none, "board");
    LabelObj label(none, "label");
    ScrolledListObj list(none, "list");
    InforObj info(none, "message");
    EXPECT_EQ(board.getWidget(), nullptr);
    EXPECT_EQ(label.getWidget(), nullptr);
    EXPECT_EQ(list.getWidget(), nullptr);
    list.addItems(1, nullptr);
    EXPECT_EQ(info.getWidget(), nullptr);
    info.setMsg("still no dialog");
}

TEST_F(MotObjsTest, ListKeepsItemsInCallOrderWithFiveVisible) {
    BBoardObj board(*app, "board");
    ListObj list(board, "list");
    char* first[] = {const_cast<char*>("a"), const_cast<char*>("b"), const_cast<char*>("c")};
    char* second[] = {const_cast<char*>("d"), const_cast<char*>("e"), nullptr,
                      const_cast<char*>("g")};
    EXPECT_EQ(list.itemCount, 0);
    list.addItems(3, first);
    list.addItems(4, second);
    list.addItems(-1, first);
    list.addItems(2, nullptr);
    EXPECT_EQ(list.itemCount, 7);
    EXPECT_EQ(listItems(list.getWidget()),
              (std::vector<std::string>{"a", "b", "c", "d", "e", "", "g"}));
    EXPECT_EQ(resource<int>(list.getWidget(), XmNvisibleItemCount), 5);
}

TEST_F(MotObjsTest, ScrolledListIsTheListInsideAScrolledWindow) {
    BBoardObj board(*app, "board");
    ScrolledListObj scrolled(board, "ignored");
    ASSERT_NE(scrolled.list, nullptr);
    Widget list = scrolled.getWidget();
    EXPECT_EQ(list, scrolled.list->getWidget());
    EXPECT_EQ(XtClass(list), xmListWidgetClass);
    EXPECT_EQ(std::string(XtName(list)), "List");
    // Motif puts the work window under the scrolled window's clip window.
    Widget window = XtParent(list);
    while (window && XtClass(window) != xmScrolledWindowWidgetClass) window = XtParent(window);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(std::string(XtName(window)), "ScrolledWinow");
    EXPECT_EQ(XtParent(window), board.getWidget());
    Widget work = nullptr;
    Arg a[1];
    XtSetArg(a[0], XmNworkWindow, &work);
    XtGetValues(window, a, 1);
    EXPECT_EQ(work, list);

    char* items[] = {const_cast<char*>("one"), const_cast<char*>("two")};
    scrolled.addItems(2, items);
    EXPECT_EQ(scrolled.list->itemCount, 2);
    EXPECT_EQ(listItems(list), (std::vector<std::string>{"one", "two"}));
}

TEST_F(MotObjsTest, SelectionBoxAddsToItsOwnList) {
    BBoardObj board(*app, "board");
    SelectionBoxObj box(board, "box");
    char* items[] = {const_cast<char*>("x"), const_cast<char*>("y")};
    box.addItems(2, items);
    Widget list = XmSelectionBoxGetChild(box.getWidget(), XmDIALOG_LIST);
    EXPECT_EQ(listItems(list), (std::vector<std::string>{"x", "y"}));
    EXPECT_EQ(resource<int>(list, XmNvisibleItemCount), 5);
}

TEST_F(MotObjsTest, LabelsShowTheirNameOrPixmap) {
    BBoardObj board(*app, "board");
    LabelObj label(board, "Hello");
    EXPECT_EQ(labelText(label.getWidget(), XmNlabelString), "Hello");

    static const char bits[] = {0x05};
    unsigned long pixmap = board.createPixmapFromData(bits, 3, 1, 0xff0000, 0x0000ff);
    ILabelObj image(board, "image", &pixmap);
    EXPECT_EQ(image.pixmap, pixmap);
    EXPECT_EQ(resource<unsigned char>(image.getWidget(), XmNlabelType), XmPIXMAP);
    Pixmap shown = 0;
    Arg a[1];
    XtSetArg(a[0], XmNlabelPixmap, &shown);
    XtGetValues(image.getWidget(), a, 1);
    EXPECT_EQ(shown, pixmap);

    unsigned long failed = 0;
    ILabelObj empty(board, "empty", &failed);
    ILabelObj noPointer(board, "noPointer", nullptr);
    board.manage();
    EXPECT_TRUE(showTop()) << "labels without pixmap must realize without X errors";
}

TEST_F(MotObjsTest, DeletedWrappersLeaveTheirWidgetsOnScreen) {
    auto* board = new BBoardObj(*app, "board");
    auto* button = new PushButtonObj(*board, "button");
    auto* scrolled = new ScrolledListObj(*board, "list");
    Widget buttonWidget = button->getWidget();
    Widget listWidget = scrolled->getWidget();
    board->manage();
    delete button;
    delete scrolled;
    delete board;
    ASSERT_TRUE(showTop());
    Window w = XtWindow(buttonWidget);
    EXPECT_TRUE(pumpUntil(app->appContext, [&] { return viewable(w); }));
    EXPECT_TRUE(XtIsManaged(listWidget));
}

TEST_F(MotObjsTest, InforObjShowsItsTextWithOnlyOKCentredEachTime) {
    app->resize(100, 100);
    ASSERT_TRUE(showTop());
    InforObj info(*app, "first text");
    Widget dialog = info.getWidget();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(std::string(XtName(dialog)), "InforObj");
    EXPECT_FALSE(XtIsManaged(dialog)) << "created hidden";
    EXPECT_FALSE(XtIsManaged(XmMessageBoxGetChild(dialog, XmDIALOG_HELP_BUTTON)));
    EXPECT_FALSE(XtIsManaged(XmMessageBoxGetChild(dialog, XmDIALOG_CANCEL_BUTTON)));
    EXPECT_TRUE(XtIsManaged(XmMessageBoxGetChild(dialog, XmDIALOG_OK_BUTTON)));
    EXPECT_EQ(labelText(dialog, XmNmessageString), "first text");

    info.setMsg("Audio device busy!");
    EXPECT_EQ(labelText(dialog, XmNmessageString), "Audio device busy!");
    EXPECT_TRUE(pumpUntil(app->appContext, [&] { return messageInk(dialog) > 20; }))
        << "the text is drawn";
    Window shell = XtWindow(XtParent(dialog));
    ASSERT_TRUE(pumpUntil(app->appContext, [&] {
        shell = XtWindow(XtParent(dialog));
        return viewable(shell);
    }));
    auto centred = [&] {
        int x = 0;
        int y = 0;
        shellPosition(dialog, &x, &y);
        XWindowAttributes a;
        XGetWindowAttributes(app->display, shell, &a);
        return x == 640 / 2 - a.width / 2 && y == 480 / 2 - a.height / 2;
    };
    EXPECT_TRUE(pumpUntil(app->appContext, centred));

    // The user moves it away and confirms; shown again, it is centred again.
    XMoveWindow(app->display, shell, 5, 5);
    pumpFor(app->appContext, 100);
    ASSERT_FALSE(centred());
    // The dialog's buttons are gadgets: they draw in the dialog's window.
    Widget ok = XmMessageBoxGetChild(dialog, XmDIALOG_OK_BUTTON);
    Position okX = 0;
    Position okY = 0;
    Arg a[2];
    XtSetArg(a[0], XtNx, &okX);
    XtSetArg(a[1], XtNy, &okY);
    XtGetValues(ok, a, 2);
    ASSERT_EQ(clickAt(XtWindowOfObject(ok), okX + 8, okY + 8), 0);
    ASSERT_TRUE(pumpUntil(app->appContext, [&] { return !viewable(shell); }));
    info.setMsg("again");
    ASSERT_TRUE(pumpUntil(app->appContext, [&] { return viewable(shell); }));
    EXPECT_TRUE(pumpUntil(app->appContext, centred));
}
