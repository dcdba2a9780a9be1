// The Player's handlers of its window's controls: play/stop, rewind, the
// position scale, the speed (warp) pointer and its strip, the board's
// information text, and the level displays.
#include <X11/keysym.h>
#include <Xm/Scale.h>
#include <sys/utsname.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>

#include "audiobj.h"
#include "audiofile.h"
#include "player.h"

namespace {

Player* playerOf(XtPointer client) { return static_cast<Player*>(client); }

// Every control first checks the file; an unusable one is reported again.
bool fileUsable(Player* p) {
    if (!p) return false;
    if (p->audioObj && p->audioFile && p->isFileOk()) return true;
    p->refuseFile();
    return false;
}

Pixmap pixmapResource(Widget w, const char* name) {
    Pixmap value = 0;
    Arg arg[1];
    XtSetArg(arg[0], const_cast<char*>(name), &value);
    XtGetValues(w, arg, 1);
    return value;
}

void setPixmapResource(Widget w, const char* name, Pixmap value) {
    Arg arg[1];
    XtSetArg(arg[0], const_cast<char*>(name), value);
    XtSetValues(w, arg, 1);
}

}  // namespace

void Player::playCB(Widget w, XtPointer client, XtPointer) {
    Player* p = playerOf(client);
    if (!fileUsable(p)) return;
    if (p->audioObj->getState() != 0) {
        // Only a sound heard to its end starts again: a player that gave
        // the device away goes on from where the listener was.
        if (p->playState == PLAYER_FINISHED) {
            rewindCB(w, p, nullptr);
            return;
        }
        p->setTimeOutProc();
        if (p->reopenDevice(false) == 0) {
            p->playState = PLAYER_PLAYING;
            p->audioObj->Resume();
            p->setCumulPauseTime();
            p->loadStopXbm();
        }
    } else if (p->audioObj->isPaused()) {
        if (p->playState == PLAYER_FINISHED && p->audioFile->isEndOfFile()) {
            rewindCB(w, p, nullptr);
            return;
        }
        p->playState = PLAYER_PLAYING;
        p->setTimeOutProc();
        p->audioObj->Resume();
        p->setCumulPauseTime();
        p->loadStopXbm();
    } else {
        p->audioObj->Pause();
        p->setPauseTime();
        p->loadPlayXbm();
        p->playState = PLAYER_STOPPED;
    }
}

void Player::rewindCB(Widget, XtPointer client, XtPointer) {
    Player* p = playerOf(client);
    if (!fileUsable(p)) return;
    p->playState = PLAYER_PLAYING;
    p->removeTimeOutProc();
    if (p->boardShown()) p->resetScaleValue();
    p->audioFile->rewindFile();
    p->audioFile->setReadLocation(p->audioFile->getHeaderSize());
    p->initTime();
    // Reading starts afresh, even after a read that had reported an error.
    p->moreData = 1;
    p->loadStopXbm();
    p->setTimeOutProc();
    if (p->audioObj->getState() == 0) {
        p->audioObj->Pause();
        p->audioObj->flushOutput();
        p->audioObj->Resume();
    } else if (p->reopenDevice(false) != 0) {
        return;
    }
    p->playNextBuf();
}

void Player::scaleCB(Widget, XtPointer client, XtPointer callData) {
    Player* p = playerOf(client);
    if (!fileUsable(p) || !callData) return;
    const auto* cbs = static_cast<XmScaleCallbackStruct*>(callData);
    p->trace("scale: reason %d, value %d, event %d", cbs->reason, cbs->value, cbs->event ? cbs->event->type : 0);
    if (cbs->reason == XmCR_DRAG) {
        if (p->dragging) return;
        p->removeTimeOutProc();
        if (p->audioObj->getState() == 0) {
            p->audioObj->Pause();
            p->audioObj->flushOutput();
        }
        p->dragging = 1;
        return;
    }
    if (cbs->reason != XmCR_VALUE_CHANGED) return;
    if (p->dragging) {
        p->setTimeOutProc();
        p->setAudioLocation(cbs->value);
        p->audioFile->setReadLocation(p->audioFile->getCurrentLocation());
        if (p->audioObj->getState() == 0) {
            p->playState = PLAYER_PLAYING;
            p->audioObj->Resume();
        } else if (p->reopenDevice(false) != 0) {
            return;
        }
    } else {
        if (!cbs->event) return;
        // A click in the trough: the place clicked is the new position. A
        // change made from the keyboard moves by the scale's own value.
        const bool pointer = cbs->event->type == ButtonPress || cbs->event->type == ButtonRelease;
        p->jumpTo(pointer ? cbs->event->xbutton.x : cbs->value);
        return;
    }
    p->setCumulPauseTime();
    p->loadStopXbm();
    p->playNextBuf();
    p->dragging = 0;
}

// Plays on from scale position value, kept within the part of the scale that exists.
void Player::jumpTo(int value) {
    int maximum = scaleMax;
    if (scale) {
        Arg get[1];
        XtSetArg(get[0], XmNmaximum, &maximum);
        XtGetValues(scale, get, 1);
    }
    value = std::clamp(value, scaleMin, std::max(scaleMin, maximum));
    if (scale) {
        Arg set[1];
        XtSetArg(set[0], XmNvalue, value);
        XtSetValues(scale, set, 1);
    }
    removeTimeOutProc();
    setAudioLocation(value);
    audioFile->setReadLocation(audioFile->getCurrentLocation());
    setTimeOutProc();
    if (audioObj->getState() == 0) {
        playState = PLAYER_PLAYING;
        audioObj->Pause();
        audioObj->flushOutput();
        audioObj->Resume();
    } else if (reopenDevice(false) != 0) {
        return;
    }
    setCumulPauseTime();
    loadStopXbm();
    playNextBuf();
    dragging = 0;
}

// ---- the keyboard and the mouse wheel --------------------------------------------------

namespace {
constexpr float kSeekSeconds = 5.0f;
constexpr int kSpeedStep = 5;  // pixels of the speed pointer's 55
// The speaker and its sound waves on the board.
constexpr int kSpeakerX = 141, kSpeakerY = 57, kSpeakerWidth = 19, kSpeakerHeight = 18;
}  // namespace

// Space plays or pauses, Home rewinds, Left and Right seek by 5 s, Up and
// Down change the volume, + and - the speed, q or Ctrl-Q quits. They are
// taken before the widget with the focus sees them; other keys go on to it
// (End and Page keys move the position scale).
void Player::keyEH(Widget, XtPointer client, XEvent* event, Boolean* cont) {
    Player* p = playerOf(client);
    if (!p || !event || event->type != KeyPress) return;
    char text[8] = {};
    KeySym key = NoSymbol;
    XLookupString(&event->xkey, text, sizeof text - 1, &key, nullptr);
    switch (key) {
    case XK_space: playCB(p->play, p, nullptr); break;
    case XK_Home: case XK_KP_Home: rewindCB(p->rewind, p, nullptr); break;
    case XK_Left: case XK_KP_Left: if (fileUsable(p)) p->seekBy(-kSeekSeconds); break;
    case XK_Right: case XK_KP_Right: if (fileUsable(p)) p->seekBy(kSeekSeconds); break;
    case XK_Up: case XK_KP_Up: volUpCB(p->speaker, p, nullptr); break;
    case XK_Down: case XK_KP_Down: volDownCB(p->speaker, p, nullptr); break;
    case XK_plus: case XK_KP_Add: case XK_equal: p->changeSpeed(1); break;
    case XK_minus: case XK_KP_Subtract: p->changeSpeed(-1); break;
    case XK_q: case XK_Q: p->ExitLoop(); break;  // with or without Ctrl
    default: return;
    }
    *cont = False;
}

// The mouse wheel over the speaker (and its sound waves) sets the volume.
void Player::speakerEH(Widget w, XtPointer client, XEvent* event, Boolean*) {
    Player* p = playerOf(client);
    if (!p || !event || event->type != ButtonPress) return;
    const int x = event->xbutton.x, y = event->xbutton.y;
    const bool onSpeaker = x >= kSpeakerX && x < kSpeakerX + kSpeakerWidth && y >= kSpeakerY &&
                           y < kSpeakerY + kSpeakerHeight;
    if (w == p->board && !onSpeaker) return;
    if (event->xbutton.button == Button4) volUpCB(w, p, nullptr);
    if (event->xbutton.button == Button5) volDownCB(w, p, nullptr);
}

void Player::seekBy(float seconds) {
    if (soundAttr.duration <= 0.0f) return;
    const float fraction = std::clamp((playedSeconds + seconds) / soundAttr.duration, 0.0f, 1.0f);
    jumpTo(playergui::scaleStep(scaleMin, scaleMax, fraction, scaleMin, scaleMax));
}

void Player::changeSpeed(int direction) {
    if (!warptr || !fileUsable(this)) return;
    Position x = 0;
    Arg get[1];
    XtSetArg(get[0], XtNx, &x);
    XtGetValues(warptr, get, 1);
    const int to = std::clamp(int(x) + direction * kSpeedStep, getWarpXMin(), getWarpXMax());
    moveWarptr(to, 0);
    warpPending = 1;
    pendingWarp = float(to - getWarpXMin()) / float(getWarpXMax() - getWarpXMin());
}

void Player::installKeys() {
    // The scale takes the focus in its scroll bar.
    const Widget scrollBar = scale ? XtNameToWidget(scale, "Scrollbar") : nullptr;
    for (Widget w : {topLevel, board, play, rewind, scale, scrollBar, warptr})
        if (w) XtInsertEventHandler(w, KeyPressMask, False, keyEH, this, XtListHead);
    for (Widget w : {speaker, board})
        if (w) XtAddEventHandler(w, ButtonPressMask, False, speakerEH, this);
    // A visible focus: a frame of one pixel in blue round the control that
    // has it. The controls move out by that pixel, so nothing else moves.
    for (Widget w : {rewind, play, scale}) {
        if (!w) continue;
        Position x = 0, y = 0;
        Arg get[2];
        XtSetArg(get[0], XtNx, &x);
        XtSetArg(get[1], XtNy, &y);
        XtGetValues(w, get, 2);
        Arg set[4];
        XtSetArg(set[0], XmNhighlightThickness, 1);
        XtSetArg(set[1], XmNhighlightColor, blue);
        XtSetArg(set[2], XtNx, Position(x - 1));
        XtSetArg(set[3], XtNy, Position(y - 1));
        XtSetValues(w, set, 4);
    }
    if (warptr) XtVaSetValues(warptr, XmNtraversalOn, False, nullptr);
    if (play) XmProcessTraversal(play, XmTRAVERSE_CURRENT);
}

void Player::setAudioLocation(int value) {
    const float range = float(scaleMax - scaleMin);
    const float fraction = range > 0.0f ? float(value - scaleMin) / range : 0.0f;
    audioFile->setLocation(fraction);
    trace("setAudioLocation(%d): fraction %.4f, file position %ld", value, double(fraction),
          audioFile->getCurrentLocation());
    pauseStart = 0;
    pausedSeconds = 0;
    playedSeconds = float(int(fraction * soundAttr.duration));
    elapsedSeconds = long(playedSeconds * audioFile->getWarpValue());
    lastElapsed = elapsedSeconds;
    startTime = time(nullptr) - elapsedSeconds;
    bufferMode = 2;
    segmentCount = 0;
    eofWritten = 0;
    moreData = 1;
}

void Player::warptrEH(Widget w, XtPointer client, XEvent* event, Boolean*) {
    Player* p = playerOf(client);
    if (!fileUsable(p) || !event) return;
    const Pixmap label = pixmapResource(w, XmNlabelPixmap);
    const Pixmap bluePointer = pixmapResource(w, PlayerGui::warptrBlueResource);
    const Pixmap yellowPointer = pixmapResource(w, PlayerGui::warptrYellowResource);
    if (event->type == ButtonRelease) {
        setPixmapResource(w, XmNlabelPixmap, bluePointer);
        return;
    }
    if (event->type != MotionNotify) return;
    if (label != yellowPointer) setPixmapResource(w, XmNlabelPixmap, yellowPointer);
    int x = 0;
    int y = 0;
    Window child = 0;
    XTranslateCoordinates(p->display, XtWindow(w), XtWindow(XtParent(w)), event->xmotion.x, event->xmotion.y, &x,
                          &y, &child);
    const int xMin = p->getWarpXMin();
    const int xMax = p->getWarpXMax();
    const int span = xMax - xMin;
    float fraction = 0.0f;
    int position = xMin;
    if (x >= xMax) {
        fraction = 1.0f;
        position = xMax;
    } else if (x > xMin) {
        fraction = float(x) / float(span);
        position = x;
    }
    Arg args[2];
    XtSetArg(args[0], XtNx, static_cast<Position>(position));
    XtSetArg(args[1], XtNy, static_cast<Position>(0));
    XtSetValues(w, args, 2);
    p->warpPending = 1;
    p->pendingWarp = fraction;
}

void Player::wboardEH(Widget w, XtPointer client, XEvent* event, Boolean*) {
    Player* p = playerOf(client);
    if (!fileUsable(p) || !event) return;
    const int x = event->xbutton.x;
    if (event->type == ButtonPress && x > p->getWarpXMin() && x < p->getWarpXMax()) {
        p->warpPending = 1;
        p->pendingWarp = float(x) / float(p->getWarpXMax() - p->getWarpXMin());
        p->moveWarptr(x, 0);
    }
    if (XtWindow(w)) XMapRaised(p->display, XtWindow(w));
}

float Player::warpFactor(float fraction) {
    if (fraction > 0.5f) {
        const float t = float((double(fraction) - 0.5) / 0.5);
        return 1.0f - 0.7f * t;
    }
    const float t = float(double(fraction) / 0.5);
    return 5.0f - 4.0f * t;
}

void Player::setWarpValue(float fraction) {
    const float factor = warpFactor(fraction);
    trace("warp %.4f after frame %d", double(factor), callbackCount);
    if (audioFile) audioFile->setWarpValue(factor);
}

void Player::setGainPercent(unsigned short level) { gainLevel = float(level / 255.0); }

void Player::displayGain() {
    if (gainLevel > 0.0f) showGain(gainLevel);
}

void Player::displayVolume() { showVolume(); }

// The level chosen lasts for the session: the device is opened at it again.
void Player::volUpCB(Widget, XtPointer client, XtPointer) {
    Player* p = playerOf(client);
    if (fileUsable(p)) p->audioObj->setVolume(1);
}

void Player::volDownCB(Widget, XtPointer client, XtPointer) {
    Player* p = playerOf(client);
    if (fileUsable(p)) p->audioObj->setVolume(-1);
}

void Player::pboardEH(Widget, XtPointer client, XEvent* event, Boolean*) {
    Player* p = playerOf(client);
    if (!fileUsable(p) || !event) return;
    if (event->type != ButtonPress || event->xbutton.button != Button3) return;
    struct utsname system {};
    uname(&system);
    const std::string text = std::string("Kelvane Player - Unix Platform Version 2.0 Beta 1") + "\n" + system.sysname +
                             " " + system.release + " " + system.version + "\n" + "Kelvane Inc.";
    p->showMessage(text.c_str());
}
