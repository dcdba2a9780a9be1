// One small wrapper class for each Motif widget class the player uses. Each
// constructor creates its widget, named by the given name, as a child of the
// parent wrapper's widget. Shells and containers are created unmanaged (their
// creator manages them once their children stand); simple widgets managed.
//
// A parent without a widget gets no child: the wrapper's widget stays null
// (the toolkit would otherwise end the program). A null name counts as "".
#ifndef ZEF_GUI_MOTOBJS_H
#define ZEF_GUI_MOTOBJS_H

#include "winobj.h"

class ToplevelShellObj : public WinObj {
public:
    ToplevelShellObj(WinObj& parent, const char* name);
    const char* name = "ToplevelShellObj";
};

class TransientShellObj : public WinObj {
public:
    TransientShellObj(WinObj& parent, const char* name);
    const char* name = "TransientShellObj";
};

class BBoardObj : public WinObj {
public:
    BBoardObj(WinObj& parent, const char* name);
    const char* name = "BBoardObj";
};

class FormObj : public WinObj {
public:
    FormObj(WinObj& parent, const char* name);
    const char* name = "FormObj";
};

class FrameObj : public WinObj {
public:
    FrameObj(WinObj& parent, const char* name);
    const char* name = "FrameObj";
};

class RowColumnObj : public WinObj {
public:
    RowColumnObj(WinObj& parent, const char* name);
    const char* name = "RowColumnObj";
};

class DrawingObj : public WinObj {
public:
    DrawingObj(WinObj& parent, const char* name);
    const char* name = "DrawingObj";
};

// Scroll bars as needed, automatic scrolling; follows the pointer while
// button 1 is held.
class ScrolledWindowObj : public WinObj {
public:
    ScrolledWindowObj(WinObj& parent, const char* name);
    void setWorkWindow(WinObj child);
    const char* name = "ScrolledWindowObj";
};

// Follows the pointer while button 1 is held.
class TextFieldObj : public WinObj {
public:
    TextFieldObj(WinObj& parent, const char* name);
    const char* name = "TextFieldObj";
};

class TextObj : public WinObj {
public:
    TextObj(WinObj& parent, const char* name);
    const char* name = "TextObj";
};

// Five list items visible; follows the pointer while button 1 is held.
// addItems appends to the box's own list.
class SelectionBoxObj : public WinObj {
public:
    SelectionBoxObj(WinObj& parent, const char* name);
    void addItems(int count, char** texts);
    const char* name = "SelectionBoxObj";
};

// Five items visible; follows the pointer while button 1 is held.
class ListObj : public WinObj {
public:
    ListObj(WinObj& parent, const char* name);
    // Appends the texts in order; itemCount counts the items added.
    void addItems(int count, char** texts);
    int itemCount = 0;
    const char* name = "ListObj";
};

// A ListObj inside a scrolled window named "ScrolledWinow". The wrapper's
// widget is the list; the name argument names no widget.
class ScrolledListObj : public WinObj {
public:
    ScrolledListObj(WinObj& parent, const char* name);
    ScrolledListObj(const ScrolledListObj&) = delete;
    ScrolledListObj& operator=(const ScrolledListObj&) = delete;
    ~ScrolledListObj() override;  // ends the ListObj wrapper, not its widget
    void addItems(int count, char** texts);
    ListObj* list = nullptr;
    const char* name = "ScrolledListObj";
};

class ScaleObj : public WinObj {
public:
    ScaleObj(WinObj& parent, const char* name);
    const char* name = "ScaleObj";
};

// Shows its own widget name as its text.
class LabelObj : public WinObj {
public:
    LabelObj(WinObj& parent, const char* name);
    const char* name = "LabelObj";
};

// A label showing the pointed-to pixmap (none when the pointer is null or
// the pixmap is 0, as when it could not be made).
class ILabelObj : public WinObj {
public:
    ILabelObj(WinObj& parent, const char* name, unsigned long* pixmap);
    unsigned long pixmap = 0;
    const char* name = "ILabelObj";
};

class PushButtonObj : public WinObj {
public:
    PushButtonObj(WinObj& parent, const char* name);
    const char* name = "PushButtonObj";
};

class DrawnButtonObj : public WinObj {
public:
    DrawnButtonObj(WinObj& parent, const char* name);
    const char* name = "DrawnButtonObj";
};

class ToggleButtonObj : public WinObj {
public:
    ToggleButtonObj(WinObj& parent, const char* name);
    const char* name = "ToggleButtonObj";
};

class ArrowButtonObj : public WinObj {
public:
    ArrowButtonObj(WinObj& parent, const char* name);
    const char* name = "ArrowButtonObj";
};

class SeparatorObj : public WinObj {
public:
    SeparatorObj(WinObj& parent, const char* name);
    const char* name = "SeparatorObj";
};

// The message dialog: a warning dialog named "InforObj" with only its OK
// button, centred on the screen each time it is shown.
class InforObj : public WinObj {
public:
    InforObj(WinObj& parent, const char* message);
    // Replaces the text and shows the dialog.
    void setMsg(const char* message);
    // Map callback that centres the dialog w on its screen.
    static void inforPostion(Widget w, XtPointer clientData, XtPointer callData);
    const char* name = "InforObj";
};

#endif
