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

namespace {

enum class Creation { Unmanaged, Managed };

const char* orEmpty(const char* text) { return text ? text : ""; }

// Creates the named child of the parent's widget; null when the parent has
// no widget, because the toolkit ends the program on a null parent.
Widget createChild(WinObj& parent, const char* name, WidgetClass widgetClass, Creation how,
                   ArgList args = nullptr, Cardinal numArgs = 0) {
    Widget parentWidget = parent.getWidget();
    if (!parentWidget) return nullptr;
    if (how == Creation::Managed)
        return XtCreateManagedWidget(orEmpty(name), widgetClass, parentWidget, args, numArgs);
    return XtCreateWidget(orEmpty(name), widgetClass, parentWidget, args, numArgs);
}

void followPointer(WinObj& obj) { obj.addEH(Button1MotionMask, WinObj::button1Drag); }

void appendItems(Widget list, int count, char** texts) {
    XmString* table = WinObj::toXmStringTable(count, texts);
    if (!list || !table) {
        WinObj::freeXmStringTable(count, table);
        return;
    }
    XmListAddItems(list, table, count, 0);
    WinObj::freeXmStringTable(count, table);
}

}  // namespace

ToplevelShellObj::ToplevelShellObj(WinObj& parent, const char* name) {
    widget = createChild(parent, name, topLevelShellWidgetClass, Creation::Unmanaged);
}

TransientShellObj::TransientShellObj(WinObj& parent, const char* name) {
    widget = createChild(parent, name, transientShellWidgetClass, Creation::Unmanaged);
}

BBoardObj::BBoardObj(WinObj& parent, const char* name) {
    widget = createChild(parent, name, xmBulletinBoardWidgetClass, Creation::Unmanaged);
}

FormObj::FormObj(WinObj& parent, const char* name) {
    widget = createChild(parent, name, xmFormWidgetClass, Creation::Unmanaged);
}

FrameObj::FrameObj(WinObj& parent, const char* name) {
    widget = createChild(parent, name, xmFrameWidgetClass, Creation::Unmanaged);
}

RowColumnObj::RowColumnObj(WinObj& parent, const char* name) {
    widget = createChild(parent, name, xmRowColumnWidgetClass, Creation::Unmanaged);
}

DrawingObj::DrawingObj(WinObj& parent, const char* name) {
    widget = createChild(parent, name, xmDrawingAreaWidgetClass, Creation::Unmanaged);
}

ScrolledWindowObj::ScrolledWindowObj(WinObj& parent, const char* name) {
    Arg args[2];
    XtSetArg(args[0], XmNscrollBarDisplayPolicy, XmAS_NEEDED);
    XtSetArg(args[1], XmNscrollingPolicy, XmAUTOMATIC);
    widget = createChild(parent, name, xmScrolledWindowWidgetClass, Creation::Unmanaged, args, 2);
    followPointer(*this);
}

void ScrolledWindowObj::setWorkWindow(WinObj child) {
    if (!widget) return;
    Arg args[1];
    XtSetArg(args[0], XmNworkWindow, child.getWidget());
    XtSetValues(widget, args, 1);
}

TextFieldObj::TextFieldObj(WinObj& parent, const char* name) {
    widget = createChild(parent, name, xmTextFieldWidgetClass, Creation::Managed);
    followPointer(*this);
}

TextObj::TextObj(WinObj& parent, const char* name) {
    widget = createChild(parent, name, xmTextWidgetClass, Creation::Managed);
}

// A selection box is not a list: its visible count and its items belong to
// the list inside it.
SelectionBoxObj::SelectionBoxObj(WinObj& parent, const char* name) {
    Arg args[1];
    XtSetArg(args[0], XmNlistVisibleItemCount, 5);
    widget = createChild(parent, name, xmSelectionBoxWidgetClass, Creation::Managed, args, 1);
    followPointer(*this);
}

void SelectionBoxObj::addItems(int count, char** texts) {
    if (!widget) return;
    appendItems(XmSelectionBoxGetChild(widget, XmDIALOG_LIST), count, texts);
}

ListObj::ListObj(WinObj& parent, const char* name) {
    Arg args[1];
    XtSetArg(args[0], XmNvisibleItemCount, 5);
    widget = createChild(parent, name, xmListWidgetClass, Creation::Managed, args, 1);
    followPointer(*this);
}

void ListObj::addItems(int count, char** texts) {
    if (!widget || count <= 0 || !texts) return;
    appendItems(widget, count, texts);
    itemCount += count;
}

ScrolledListObj::ScrolledListObj(WinObj& parent, const char*) {
    ScrolledWindowObj scrolled(parent, "ScrolledWinow");
    list = new ListObj(scrolled, "List");
    scrolled.setWorkWindow(*list);
    widget = list->getWidget();
}

ScrolledListObj::~ScrolledListObj() { delete list; }

void ScrolledListObj::addItems(int count, char** texts) { list->addItems(count, texts); }

ScaleObj::ScaleObj(WinObj& parent, const char* name) {
    widget = createChild(parent, name, xmScaleWidgetClass, Creation::Managed);
}

LabelObj::LabelObj(WinObj& parent, const char* name) {
    XmString text = XmStringCreateLocalized(const_cast<char*>(orEmpty(name)));
    Arg args[1];
    XtSetArg(args[0], XmNlabelString, text);
    widget = createChild(parent, name, xmLabelWidgetClass, Creation::Managed, args, 1);
    XmStringFree(text);
}

ILabelObj::ILabelObj(WinObj& parent, const char* name, unsigned long* pixmapIn)
    : pixmap(pixmapIn ? *pixmapIn : 0) {
    Arg args[2];
    XtSetArg(args[0], XmNlabelType, XmPIXMAP);
    XtSetArg(args[1], XmNlabelPixmap, pixmap);
    widget = createChild(parent, name, xmLabelWidgetClass, Creation::Managed, args, 2);
}

PushButtonObj::PushButtonObj(WinObj& parent, const char* name) {
    widget = createChild(parent, name, xmPushButtonWidgetClass, Creation::Managed);
}

DrawnButtonObj::DrawnButtonObj(WinObj& parent, const char* name) {
    widget = createChild(parent, name, xmDrawnButtonWidgetClass, Creation::Managed);
}

ToggleButtonObj::ToggleButtonObj(WinObj& parent, const char* name) {
    widget = createChild(parent, name, xmToggleButtonWidgetClass, Creation::Managed);
}

ArrowButtonObj::ArrowButtonObj(WinObj& parent, const char* name) {
    widget = createChild(parent, name, xmArrowButtonWidgetClass, Creation::Managed);
}

SeparatorObj::SeparatorObj(WinObj& parent, const char* name) {
    widget = createChild(parent, name, xmSeparatorWidgetClass, Creation::Managed);
}

InforObj::InforObj(WinObj& parent, const char* message) {
    Widget parentWidget = parent.getWidget();
    if (!parentWidget) return;
    XmString text = XmStringCreateLocalized(const_cast<char*>(orEmpty(message)));
    Arg args[1];
    XtSetArg(args[0], XmNmessageString, text);
    widget = XmCreateWarningDialog(parentWidget, const_cast<char*>("InforObj"), args, 1);
    XmStringFree(text);
    XtUnmanageChild(XmMessageBoxGetChild(widget, XmDIALOG_HELP_BUTTON));
    XtUnmanageChild(XmMessageBoxGetChild(widget, XmDIALOG_CANCEL_BUTTON));
    XtAddCallback(widget, XmNmapCallback, inforPostion, nullptr);
}

void InforObj::setMsg(const char* message) {
    if (!widget) return;
    XmString text = XmStringCreateLocalized(const_cast<char*>(orEmpty(message)));
    Arg args[1];
    XtSetArg(args[0], XmNmessageString, text);
    XtSetValues(widget, args, 1);
    XmStringFree(text);
    XtManageChild(widget);
}

// Motif places a dialog over its parent after the map callbacks have run;
// that placement is switched off so that the centring stands.
void InforObj::inforPostion(Widget w, XtPointer, XtPointer) {
    if (!w) return;
    Arg noDefault[1];
    XtSetArg(noDefault[0], XmNdefaultPosition, False);
    XtSetValues(w, noDefault, 1);
    Dimension width = 0;
    Dimension height = 0;
    Arg get[2];
    XtSetArg(get[0], XtNwidth, &width);
    XtSetArg(get[1], XtNheight, &height);
    XtGetValues(w, get, 2);
    Screen* screen = XtScreen(w);
    Arg set[2];
    XtSetArg(set[0], XtNx, static_cast<Position>(WidthOfScreen(screen) / 2 - width / 2));
    XtSetArg(set[1], XtNy, static_cast<Position>(HeightOfScreen(screen) / 2 - height / 2));
    XtSetValues(w, set, 2);
}
