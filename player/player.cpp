#include "player.h"

#include <X11/Xatom.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "audiobj.h"
#include "audiofile.h"
#include "motobjs.h"
#include "regfile.h"
#include "sndfile.h"
#include "wavfile.h"
#include "zefbuf.h"
#include "zeffile.h"

short Player::Debug = 0;
int Player::timer_exit = 0;
const char* const Player::AUDIO_MSG = "Audio-Msg";
int Player::zeffileid = 0;
int Player::MAX_TIMEOUT = 50;
int Player::TIMEOUT = 50;
const char* const Player::classid = "Player";

namespace {

// Events of the top-level window that the destructor discards:
// ButtonPress, ButtonRelease, Button1Motion and PropertyChange.
constexpr long kDiscardedEvents = 0x40010c;
constexpr int kTimerPending = 2;  // XtIMTimer in XtAppPending's answer
constexpr int kTempNameTries = 1000;

char* copyOf(const char* text) { return text ? strdup(text) : nullptr; }

void replace(char** member, const char* text) {
    std::free(*member);
    *member = copyOf(text);
}

// A message text in storage of its own, released with delete[].
char* newText(const std::string& text) {
    char* copy = new char[text.size() + 1];
    std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

const char kAttributesMissing[] = "Could not get sound file attributes from ";

// Why the device could not be opened, when another player does not hold it.
std::string deviceUnavailable(int error) {
    const char* reason = error == ENOENT || error == ENODEV || error == ENXIO ? "no sound device was found"
                         : error == EACCES || error == EPERM                  ? "permission denied"
                                                                               : std::strerror(error);
    return std::string("Audio device not available:\n") + reason;
}

// Buffers given to the device that are kept for finding the place heard:
// the device holds at most five unplayed ones.
constexpr size_t kWrittenKept = 32;

}  // namespace

// ---- construction ------------------------------------------------------------------

Player::Player() { initmember(); }

Player::Player(Widget parent) : PlayerGui(parent) { initmember(); }

Player::Player(int argc, char** argv, char** fallbackResources)
    : PlayerGui(argc, argv, fallbackResources) {
    initmember();
}

void Player::initmember() {
    if (std::getenv("PLAYER")) Debug = 1;
    if (std::getenv("PLAYERGUI")) PlayerGui::Debug = 1;
    if (std::getenv("ZEFBUF")) ZefBuf::Debug = 1;
    if (std::getenv("ZEFFILE")) ZefFile::Debug = 1;
    if (std::getenv("REGFILE")) RegFile::Debug = 1;
    if (std::getenv("AUDIOBJ")) AudioObj::Debug = 1;

    timeString[0] = '\0';
    info = new InforObj(*this, "InfoDiag");
    accessMessage = badFileMessage = nullptr;
    findDeviceOwner = nullptr;
    deviceOpenedHook = nullptr;
    segmentCount = callbackCount = tickCount = 0;
    bufferMode = 2;
    nextBuffer = 0;
    propertyHandlerOn = closeSent = warpPending = dragging = eofWritten = 0;
    deviceReady = moreData = 1;
    scaleComplete = 0;
    audioMsgAtom = display ? XInternAtom(display, AUDIO_MSG, False) : 0;
    playState = PLAYER_STOPPED;
    timer_exit = 0;
}

Player::~Player() {
    timer_exit = 1;
    Sync(0);
    removeTimeOutProc();
    if (tickInput) XtRemoveInput(tickInput);
    if (tickFd >= 0) close(tickFd);
    const Window top = topLevel ? XtWindow(topLevel) : 0;
    if (display && top) {
        XEvent event;
        while (XCheckWindowEvent(display, top, kDiscardedEvents, &event)) {
        }
    }
    if (appContext && (XtAppPending(appContext) & kTimerPending))
        XtAppProcessEvent(appContext, kTimerPending);
    // Quitting is silence at once: what is queued is discarded, not played out.
    if (audioObj && audioObj->getState() == 0) {
        audioObj->Pause();
        audioObj->flushOutput();
    }
    delete audioObj;
    delete audioFile;
    std::free(deviceName);
    std::free(fileName);
    delete[] buffer1;
    delete[] buffer2;
    delete info;
    delete[] accessMessage;
    delete[] badFileMessage;
    if (mappedSize) munmap(mappedAddr, size_t(mappedSize));
}

void Player::trace(const char* format, ...) {
    if (!Debug) return;
    std::va_list args;
    va_start(args, format);
    std::printf("%s: ", classid);
    std::vprintf(format, args);
    std::printf("\n");
    std::fflush(stdout);
    va_end(args);
}

// ---- showing the window ------------------------------------------------------------

void Player::startGui(bool floating) {
    createWd(baseName, floating);
    if (rewind) XtAddCallback(rewind, XmNactivateCallback, rewindCB, this);
    if (play) XtAddCallback(play, XmNactivateCallback, playCB, this);
    if (scale) {
        XtAddCallback(scale, XmNvalueChangedCallback, scaleCB, this);
        XtAddCallback(scale, XmNdragCallback, scaleCB, this);
    }
    if (warptr) XtAddEventHandler(warptr, ButtonPressMask | ButtonReleaseMask | Button1MotionMask, False, warptrEH, this);
    if (warptrBoardWidget)
        XtAddEventHandler(warptrBoardWidget, ButtonPressMask | ButtonReleaseMask, False, wboardEH, this);
    if (board) XtAddEventHandler(board, ButtonPressMask | ButtonReleaseMask, False, pboardEH, this);
}

void Player::startGui(VISUALMODE mode) {
    createWd(mode);
    if (play) XtAddCallback(play, XmNactivateCallback, playCB, this);
}

void Player::startGui(const char* name, VISUALMODE mode) {
    baseName = name ? XDisp::basename(name) : nullptr;
    switch (mode) {
    case VISUAL_HIDDEN:
        // A shell has no manager that could unmanage it (the toolkit would
        // crash trying): it is kept off the screen instead.
        if (topLevel) {
            XtSetMappedWhenManaged(topLevel, False);
            if (XtIsRealized(topLevel)) XtUnmapWidget(topLevel);
        }
        break;
    case VISUAL_BIG_ICON:
    case VISUAL_SMALL_ICON:
        startGui(mode);
        break;
    case VISUAL_FULL:
    case VISUAL_FLOATING:
        startGui(mode != VISUAL_FULL);
        initGainGC();
        initVolumeGC();
        displayTime("00");
        raiseWarpStrip();
        break;
    default:
        break;
    }
}

void Player::setStandAloneScale() {
    scaleComplete = 1;
    setMaxScale();
}

void Player::raiseWarpStrip() {
    if (!display) return;
    if (warptrBoardWidget && XtWindow(warptrBoardWidget)) XMapRaised(display, XtWindow(warptrBoardWidget));
    if (warptr && XtWindow(warptr)) XMapRaised(display, XtWindow(warptr));
}

bool Player::boardShown() { return board && XtIsManaged(board); }

// The dialog is not set again while it already shows the same text, so that
// a message repeated on every tick does not redraw it twenty times a second.
void Player::showMessage(const char* text) {
    const char* shown = text ? text : "";
    trace("info \"%s\"", shown);
    const bool visible = info && info->getWidget() && XtIsManaged(info->getWidget());
    if (visible && shownMessage == shown) return;
    shownMessage = shown;
    if (info) info->setMsg(shown);
}

// ---- opening and classifying ---------------------------------------------------------

int Player::initAudioDevice(const char* path) {
    replace(&deviceName, path);
    delete audioObj;
    audioObj = new AudioObj(path);
    return 0;
}

AUType Player::getAudioFileType(const char* name) {
    if (name) {
        replace(&fileName, name);
        baseName = XDisp::basename(fileName);
    }
    if (!fileName) return AU_NOPLAY;
    // Only a regular file is played: a FIFO or a device would block the
    // player before any window appears.
    struct stat st {};
    if (access(fileName, R_OK) != 0 || stat(fileName, &st) != 0 || !S_ISREG(st.st_mode)) {
        delete[] accessMessage;
        accessMessage = newText(std::string("Input Audio file\n") + fileName + "\nnot accessible.");
        showMessage(accessMessage);
        return AU_NOPLAY;
    }
    const char* extension = std::strrchr(fileName, '.');
    if (!extension) return AU_NOPLAY;
    if (strcasecmp(extension, ".ZEF") == 0) return AU_ZEF;
    if (strcasecmp(extension, ".X-ZEF") == 0) return AU_XZEF;
    return AU_NOPLAY;  // ".WAV", ".SND" and the rest
}

int Player::initAudioFile(AUType type) {
    delete audioFile;
    audioFile = nullptr;
    switch (type) {
    case AU_ZEF:
        audioFile = new ZefFile(fileName, "r", zefCallback);
        break;
    case AU_XZEF:
        if (mapFile(fileName) == 0)
            audioFile = new ZefBuf(static_cast<char*>(mappedAddr), int(mappedSize), zefCallback, false);
        else
            audioFile = new ZefFile(fileName, "r", zefCallback);
        break;
    case AU_WAVE:
        audioFile = new WavFile(fileName, "r");
        break;
    case AU_SND:
        audioFile = new SndFile(fileName, "r");
        break;
    default:
        break;
    }
    if (audioFile && audioFile->getState() == 0) {
        if (type == AU_ZEF || type == AU_XZEF) audioFile->setUserData(static_cast<const void*>(this));
        return 0;
    }
    refuseFile();
    return 1;
}

// The file is mapped privately and read-only: nothing is ever written back
// into it, and files the user may only read can be played.
int Player::mapFile(const char* name) {
    const int fd = name ? open(name, O_RDONLY | O_CLOEXEC) : -1;
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0) {
        perror("main");
        if (fd >= 0) close(fd);
        return 1;
    }
    // ZefBuf counts its bytes in an int.
    if (st.st_size <= 0 || st.st_size > INT_MAX) {
        errno = st.st_size <= 0 ? EINVAL : EFBIG;
        perror("mmap");
        close(fd);
        return 1;
    }
    void* address = mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);
    if (address == MAP_FAILED) {
        perror("mmap");
        return 1;
    }
    if (mappedSize) munmap(mappedAddr, size_t(mappedSize));
    mappedAddr = address;
    mappedSize = st.st_size;
    return 0;
}

int Player::isFileOk() {
    if (!audioFile) {
        if (accessMessage) showMessage(accessMessage);
        return 0;
    }
    return audioFile->getState() == 0 ? audioFile->isFileOk() : 0;
}

void Player::badFileAttrMsg() {
    if (!badFileMessage) badFileMessage = newText(std::string("Bad Input Audio file\n") + (fileName ? fileName : ""));
    showMessage(badFileMessage);
}

// A file that cannot be read keeps telling the user so, rather than having
// its "not accessible" text replaced at once by the bad-file text.
void Player::refuseFile() {
    if (accessMessage && (!audioFile || audioFile->getState() != 0)) showMessage(accessMessage);
    else badFileAttrMsg();
}

// The window's title and icon name name the file: "zefplayer — talk.zef".
// WM_NAME (Latin-1) gets a plain hyphen; _NET_WM_NAME carries the dash.
void Player::nameWindow() {
    if (!topLevel || !display || !baseName) return;
    const std::string plain = std::string("zefplayer - ") + baseName;
    const std::string utf8 = std::string("zefplayer \u2014 ") + baseName;
    Arg args[2];
    XtSetArg(args[0], XtNtitle, plain.c_str());
    XtSetArg(args[1], XtNiconName, plain.c_str());
    XtSetValues(topLevel, args, 2);
    if (!XtIsRealized(topLevel)) return;
    const Atom type = XInternAtom(display, "UTF8_STRING", False);
    for (const char* property : {"_NET_WM_NAME", "_NET_WM_ICON_NAME"})
        XChangeProperty(display, XtWindow(topLevel), XInternAtom(display, property, False), type, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(utf8.data()), int(utf8.size()));
}

void Player::start(const char* name) {
    if (initAudioFile(getAudioFileType(name)) == 0) playAudio(true);
    startGui(false);
    setStandAloneScale();
    nameWindow();
    RealizeTop();
    nameWindow();
    installKeys();
    if (playState == PLAYER_STOPPED) loadPlayXbm();
    if (audioObj && audioObj->getState() == 0) setPropertyEH();
    if (info && info->getWidget()) InforObj::inforPostion(XtParent(info->getWidget()), nullptr, nullptr);
    initGainGC();
    initVolumeGC();
    displayTime("00");
    raiseWarpStrip();
    MainLoop();
}

// The data is written to "/tmp/zefplayer_XX_<n><name>", n counting up from
// 1 within the run. The file is created afresh, never through a link, and
// readable by the user alone; a number already taken is skipped. Only the
// last component of the name is used, so a name cannot lead out of /tmp.
int Player::writeTempFile(const char* name, const char* data, int length, std::string* path) {
    const char* suffix = name ? XDisp::basename(name) : "";
    int fd = -1;
    for (int tries = 0; fd < 0 && tries < kTempNameTries; ++tries) {
        char candidate[PATH_MAX];
        const int n = std::snprintf(candidate, sizeof candidate, "/tmp/zefplayer_XX_%d%s", ++zeffileid, suffix);
        if (n < 0 || size_t(n) >= sizeof candidate) return 1;
        fd = open(candidate, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST) {
            perror(candidate);
            return 1;
        }
        if (fd >= 0) *path = candidate;
    }
    if (fd < 0) return 1;
    const char* p = data;
    for (size_t left = size_t(length); left > 0;) {
        const ssize_t w = write(fd, p, left);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            perror(path->c_str());
            close(fd);
            return 1;
        }
        p += w;
        left -= size_t(w);
    }
    return close(fd) == 0 ? 0 : 1;
}

int Player::start(const char* name, const char* data, int length, bool play) {
    delete audioFile;
    audioFile = nullptr;
    if (data && length < 0) {
        badFileAttrMsg();
        return 1;
    }
    if (data) {
        audioFile = new ZefBuf(const_cast<char*>(data), length, zefCallback, true);
        if (audioFile->getState() == 1) {
            delete audioFile;
            audioFile = nullptr;
            std::string path;
            if (writeTempFile(name, data, length, &path)) return 1;
            audioFile = new ZefFile(path.c_str(), "r", zefCallback);
            if (audioFile->getState() == 1) {
                badFileAttrMsg();
                return 1;
            }
            replace(&fileName, path.c_str());
        }
    } else {
        audioFile = new ZefFile(name, "r", zefCallback);
        if (audioFile->getState() == 1) {
            badFileAttrMsg();
            return 1;
        }
    }
    audioFile->setUserData(static_cast<const void*>(this));
    if (data) audioFile->setNetStreamFlag();
    if (!fileName) replace(&fileName, name);
    const int result = playAudio(play);
    if (playState == PLAYER_STOPPED) loadPlayXbm();
    return result;
}

// ---- the playback engine -----------------------------------------------------------------

int Player::playAudio(bool startPlaying) {
    if (!fileName) {
        showMessage(accessMessage ? accessMessage : "Null Audio File Name!");
        return 1;
    }
    if (!audioFile || audioFile->getState() != 0) {
        refuseFile();
        return 1;
    }
    if (audioFile->getSoundAttr(&soundAttr) != 0) {
        showMessage((std::string(kAttributesMissing) + "\n" + fileName).c_str());
        return 1;
    }
    bufferSize = bufferBytes(soundAttr.samplingRate);
    if (bufferSize <= 0) {
        showMessage((std::string(kAttributesMissing) + "\n" + fileName).c_str());
        return 1;
    }
    delete[] buffer1;
    delete[] buffer2;
    buffer1 = new char[size_t(bufferSize)];
    buffer2 = new char[size_t(bufferSize)];
    TIMEOUT = int(float(MAX_TIMEOUT) * audioFile->getWarpValue());
    if (TIMEOUT < 1) TIMEOUT = 1;
    if (!audioObj) initAudioDevice(ZEFAUDIO_DEVICE);
    trace("playAudio(%d) rate %u buffer %d timeout %d", startPlaying, soundAttr.samplingRate, bufferSize, TIMEOUT);

    if (startPlaying && reopenDevice(true) == 0) {
        setTimeOutProc();
        playState = PLAYER_PLAYING;
        return 0;
    }
    audioObj->Pause();
    playState = PLAYER_STOPPED;
    return 0;
}

// 300 ms of 16-bit samples; a rate no sound device plays (above 192 kHz,
// say a damaged header's 3.5 GHz) gives 0, refused, rather than two
// buffers of gigabytes.
int Player::bufferBytes(uint32_t rate) {
    constexpr uint32_t kHighestRate = 192000;
    if (rate > kHighestRate) return 0;
    const long long samples = (static_cast<long long>(rate) * 300 / 1000) / 720 * 720;
    return int(samples * 2);
}

// At most one tick is pending: a new one replaces the old. The procedure
// forgets the id of the tick that fired, so no id of a timer that has
// already run is ever handed back to the toolkit.
//
// The tick is a one-shot timer file descriptor that the toolkit's loop
// watches like any input. A toolkit timer would do the same, but the
// toolkit waits for one in whole milliseconds rounded down and then polls
// without pause through the last fraction of a millisecond, twenty times a
// second; that alone would cost the player more than its playing does.
// Where no such descriptor can be made, the toolkit timer is used.
void Player::setTimeOutProc() {
    removeTimeOutProc();
    if (armTick()) return;
    timerId = addTimeOutProc(timeOutCB, static_cast<unsigned long>(TIMEOUT), this);
}

void Player::removeTimeOutProc() {
    if (timerId && tickFd >= 0) {
        const itimerspec off{};
        timerfd_settime(tickFd, 0, &off, nullptr);  // also forgets an expiry not yet read
    } else if (timerId) {
        XtRemoveTimeOut(timerId);
    }
    timerId = 0;
}

bool Player::armTick() {
    if (tickFd < 0 && appContext) {
        tickFd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        if (tickFd >= 0) tickInput = addInputRead(tickFd, tickReady, this);
        if (tickFd >= 0 && !tickInput) {
            close(tickFd);
            tickFd = -1;
        }
    }
    if (tickFd < 0) return false;
    itimerspec once{};
    once.it_value.tv_sec = TIMEOUT / 1000;
    once.it_value.tv_nsec = long(TIMEOUT % 1000) * 1000000L;
    if (timerfd_settime(tickFd, 0, &once, nullptr) != 0) return false;
    tickSerial = tickSerial == ~XtIntervalId(0) ? 1 : tickSerial + 1;
    timerId = tickSerial;
    return true;
}

void Player::tickReady(XtPointer client, int*, XtInputId*) {
    auto* p = static_cast<Player*>(client);
    uint64_t expiries = 0;
    if (read(p->tickFd, &expiries, sizeof expiries) != ssize_t(sizeof expiries) || !p->timerId) return;
    XtIntervalId fired = p->timerId;
    timeOutCB(p, &fired);
}

int Player::reopenDevice(bool wait) {
    if (!audioObj) return 1;
    if (audioObj->getState() == 0) return 0;
    if (audioObj->openDevice() == 0) {
        if (deviceOpenedHook && topLevel) deviceOpenedHook(XtWindow(topLevel));
        audioObj->setAudioInfo(soundAttr);
        setPropertyEH();
        playState = PLAYER_PLAYING;
        audioObj->Resume();
        closeSent = 0;
        trace("device opened");
        return 0;
    }
    // Only a device that someone holds is worth waiting or asking for.
    if (const int error = audioObj->openError(); error != EBUSY) {
        showMessage(deviceUnavailable(error).c_str());
        playState = PLAYER_STOPPED;
        return 1;
    }
    if (audioFile && audioFile->getNetStreamFlag() && wait) {
        sleep(1);
        playState = PLAYER_STOPPED;
        return 1;
    }
    const Window owner = findDeviceOwner ? findDeviceOwner() : 0;
    if (!owner) {
        showMessage("Audio device busy!");
        playState = PLAYER_STOPPED;
    } else if (!closeSent) {
        trace("asking window 0x%lx for the device", static_cast<unsigned long>(owner));
        SendAtomMsg(audioMsgAtom, owner, "close");
        closeSent = 1;
        playState = PLAYER_PLAYING;
    }
    return 1;
}

int Player::waitForAudio(int target, int slack) {
    return target - audioObj->getNumOfPlayMarker() > slack ? 1 : 0;
}

void Player::resetAfterFlush() {
    bufferMode = 2;
    segmentCount = 0;
    eofWritten = 0;
}

int Player::playNextBuf() {
    if (!audioObj || !audioFile) return playState;
    if (waitForAudio(segmentCount / 2, 1)) {
        playState = PLAYER_PLAYING;
        return playState;
    }
    if (moreData == 1 && eofWritten == 0) {
        int count = 0;
        if (deviceReady) {
            currentBuffer = getBuffer(&count);
            if (count == AudioFile::kNoDataYet) {
                playState = PLAYER_WAITING;
                return playState;
            }
            if (count == AudioFile::kNoMoreData) {
                moreData = 0;
                count = 0;
            }
            if (count <= 0 || !currentBuffer) {
                eofWritten = 1;
                playState = PLAYER_PLAYING;
                audioObj->playSegment(currentBuffer, 0);
                return playState;
            }
        } else {
            count = currentBuffer == buffer1 ? count1 : count2;
        }
        if (segmentCount == 0) {
            written.clear();
            samplesAtReset = audioObj->getPlayedSamples();
        }
        if (segmentCount > 0 && segmentCount % 2 == 1) audioObj->playSegment(currentBuffer, 0);
        deviceReady = audioObj->playSegment(currentBuffer, count) == 1 ? 0 : 1;
        if (deviceReady) logWritten(currentBuffer == buffer1 ? read1 : read2, count);
        segmentCount += 1;
        playState = PLAYER_PLAYING;
        return playState;
    }
    const bool ended = segmentCount <= 0 || audioObj->getNumOfPlayMarker() - segmentCount / 2 == 1;
    if (!ended) {
        playState = PLAYER_PLAYING;
        return playState;
    }
    endOfSound();
    return PLAYER_FINISHED;
}

void Player::endOfSound() {
    scaleComplete = 1;
    eofWritten = 0;
    deviceReady = 1;
    moreData = 1;
    loadPlayXbm();
    if (boardShown()) {
        setMaxScale();
        setScaleMaximum(1.0f);
        setScaleValue(1.0f);
        if (elapsedSeconds == 0) displayTime("01");
    }
    removePropertyEH();
    initTime();
    playState = PLAYER_FINISHED;
    audioObj->closeDevice();
    trace("end of sound");
}

// Where the decoder stands in the coded data: the place a buffer read
// from there starts.
long Player::decodePosition() {
    if (auto* zef = dynamic_cast<ZefFile*>(audioFile)) return zef->getReadPos();
    return audioFile ? audioFile->getCurrentLocation() : -1;
}

int Player::readInto(char* buffer, Span* span) {
    span->from = decodePosition();
    const int n = audioFile->readSegment(buffer, bufferSize);
    span->to = decodePosition();
    return n;
}

void Player::logWritten(const Span& span, int bytes) {
    const long frames = bytes / 2 / long(soundAttr.channelCount ? soundAttr.channelCount : 1);
    written.push_back({span.from, span.to, frames});
    if (written.size() > kWrittenKept) {
        if (samplesAtReset >= 0) samplesAtReset += written.front().frames;
        written.erase(written.begin());
    }
}

// The decoder reads a little ahead of the sound it hands out (a frame begun
// in one buffer ends in the next), so a place found in proportion within a
// buffer may lie up to a frame past the sound heard: one frame block back,
// a little is heard twice and nothing is lost.
long Player::backOneBlock(long place) const {
    if (auto* zef = dynamic_cast<ZefFile*>(audioFile))
        return std::max(place - long(zef->getFrameBlock()), zef->getFirstFramePos());
    if (auto* buf = dynamic_cast<ZefBuf*>(audioFile))
        return std::max(place - long(buf->getFrameBlock()), buf->getFirstFramePos());
    return place;
}

// Places the decoder at the sound the listener heard last, from the
// device's count of samples played: within the buffer that was playing, in
// proportion. True when everything written was heard and it was the end.
bool Player::resumeWhereHeard() {
    const bool decodedAll = moreData == 0 || eofWritten;
    const long played = audioObj->getPlayedSamples();
    if (written.empty() || samplesAtReset < 0 || played < 0) return decodedAll && segmentCount > 0;
    // The counter wraps at 2^32 frames.
    long heard = long(uint32_t(uint64_t(played) - uint64_t(samplesAtReset)));
    long place = written.back().to;
    bool allHeard = true;
    for (const Written& w : written) {
        if (heard < w.frames) {
            place = w.from + (w.frames > 0 ? long((double(w.to - w.from) * double(heard)) / double(w.frames)) : 0);
            allHeard = false;
            break;
        }
        heard -= w.frames;
    }
    written.clear();
    if (allHeard && decodedAll) return true;
    if (!allHeard) place = backOneBlock(place);
    trace("resuming at %ld", place);
    audioFile->setReadLocation(place);
    moreData = 1;
    deviceReady = 1;
    return false;
}

char* Player::getBuffer(int* count) {
    if (bufferMode == 2) {
        count1 = readInto(buffer1, &read1);
        if (count1 == AudioFile::kNoMoreData) {
            *count = AudioFile::kNoMoreData;
            return nullptr;
        }
        *count = count1;
        nextBuffer = 1;
        count2 = readInto(buffer2, &read2);
        if (count2 != AudioFile::kNoMoreData) bufferMode = 1;
        return buffer1;
    }
    if (bufferMode == 1 && nextBuffer == 1) {
        if (count2 == AudioFile::kNoMoreData) {
            *count = AudioFile::kNoMoreData;
            return nullptr;
        }
        nextBuffer = 2;
        *count = count2;
        count1 = readInto(buffer1, &read1);
        return buffer2;
    }
    if (bufferMode == 1 && nextBuffer == 2) {
        if (count1 == AudioFile::kNoMoreData) {
            *count = AudioFile::kNoMoreData;
            return nullptr;
        }
        nextBuffer = 1;
        *count = count1;
        count2 = readInto(buffer2, &read2);
        return buffer1;
    }
    return nullptr;
}

int Player::playMore(const char* data, int length) {
    if (!audioFile || audioFile->getState() == 1) return 1;
    return audioFile->playMore(data, length) != 0 ? 1 : 0;
}

// ---- the timer -------------------------------------------------------------------------

void Player::timeOutCB(XtPointer client, XtIntervalId* id) {
    auto* p = static_cast<Player*>(client);
    if (timer_exit || !p) return;
    if (id && *id == p->timerId) p->timerId = 0;  // this timer has fired
    if (!p->audioObj || !p->audioFile) return;
    if (p->audioObj->getState() != 0) {
        if (p->playState == PLAYER_FINISHED) return;
        if (p->playState == PLAYER_STOPPED) {
            p->loadPlayXbm();
            return;
        }
        if (p->reopenDevice(false) == 1) {
            p->setTimeOutProc();
            return;
        }
        p->audioObj->Resume();
        p->setCumulPauseTime();
        p->loadStopXbm();
    } else if (p->audioObj->isPaused()) {
        return;
    }
    const int r = p->playNextBuf();
    if (r == PLAYER_FINISHED) return;
    p->setTimeOutProc();
    if (r == PLAYER_WAITING) {
        p->showMessage("PLAYER_WAITING_FOR_DATA");
        return;
    }
    p->updateDisplays();
}

void Player::updateDisplays() {
    if (!boardShown()) return;
    tickCount += 1;
    if (tickCount % 3 != 0) return;
    setNewPlayTime();
    showPlayTime();
    if (!scaleComplete) setScaleMaximum(getPercentPlayed());
    setScaleValue(getPercentPlayed());
    displayGain();
    displayVolume();
}

// ---- time keeping ------------------------------------------------------------------------

void Player::initTime() {
    timeString[0] = '\0';
    startTime = pauseStart = 0;
    pausedSeconds = 0;
    playedSeconds = 0.0f;
    elapsedSeconds = lastElapsed = 0;
    bufferMode = 2;
    segmentCount = 0;
    eofWritten = 0;
}

void Player::setNewPlayTime() {
    const time_t now = time(nullptr);
    if (startTime == 0) startTime = now;
    elapsedSeconds = long(now - pausedSeconds - startTime);
    const float warp = audioFile ? audioFile->getWarpValue() : 1.0f;
    if (warp > 0.0f) playedSeconds += float(elapsedSeconds - lastElapsed) / warp;
    lastElapsed = elapsedSeconds;
}

void Player::showPlayTime() {
    timeToString(elapsedSeconds, timeString);
    displayTime(timeString);
}

void Player::timeToString(long seconds, char* out) {
    if (!out) return;
    if (seconds < 0) seconds = 0;
    const long h = seconds / 3600;
    const long m = (seconds % 3600) / 60;
    const long s = seconds % 60;
    char text[64];
    if (h >= 1) std::snprintf(text, sizeof text, "%.2ld:%.2ld:%.2ld", h, m, s);
    else if (m < 1) std::snprintf(text, sizeof text, "%.2ld", s);
    else std::snprintf(text, sizeof text, "%.2ld:%.2ld", m, s);
    // Only a time of more than 30 years would not fit.
    std::snprintf(out, kTimeStringSize, "%.*s", kTimeStringSize - 1, text);
}

void Player::setPauseTime() { pauseStart = time(nullptr); }

void Player::setCumulPauseTime() {
    if (pauseStart != 0) pausedSeconds += long(time(nullptr) - pauseStart);
    else pausedSeconds = 0;
}

float Player::getPercentPlayed() {
    return soundAttr.duration > 0.0f ? playedSeconds / soundAttr.duration : 0.0f;
}

// ---- the codec's frame callback ----------------------------------------------------------

uint16_t Player::zefCallback(uint16_t, uint16_t message, void* data) {
    if (message != KELVANE_STATUS_FRAME || !data) return 0;
    auto* kd = static_cast<KELVANE_DATA*>(data);
    auto* p = reinterpret_cast<Player*>(kd->dwUserData);
    if (!p) return 0;
    p->callbackCount += 1;
    if (p->warpPending) {
        p->setWarpValue(p->pendingWarp);
        p->warpPending = 0;
    }
    if (p->callbackCount % 4 == 0) {
        if (p->isFileOk()) {
            const int level = static_cast<int16_t>(kd->wLevel);
            p->setGainPercent(static_cast<unsigned short>(level > 0 ? level : 0));
        } else {
            p->badFileAttrMsg();
        }
    }
    return 0;
}

// ---- messages between players ------------------------------------------------------------

void Player::setPropertyEH() {
    if (propertyHandlerOn || !topLevel) return;
    if (createStringAtom(audioMsgAtom, XtWindow(topLevel), "open") < 0) return;
    XtAddEventHandler(topLevel, PropertyChangeMask, False, propEH, this);
    propertyHandlerOn = 1;
}

void Player::removePropertyEH() {
    if (!propertyHandlerOn || !topLevel) return;
    XtRemoveEventHandler(topLevel, PropertyChangeMask, False, propEH, this);
    if (RemoveAtom(audioMsgAtom, XtWindow(topLevel)) >= 0) propertyHandlerOn = 0;
}

void Player::propEH(Widget, XtPointer client, XEvent* event, Boolean*) {
    auto* p = static_cast<Player*>(client);
    if (!p || !p->audioObj || !event || event->type != PropertyNotify ||
        event->xproperty.atom != p->audioMsgAtom)
        return;
    unsigned char* value = p->GetWinProp(event->xproperty.window, p->audioMsgAtom, XA_STRING);
    if (!value) return;
    const bool close = std::strncmp(reinterpret_cast<const char*>(value), "close", 5) == 0;
    XFree(value);
    if (!close) return;
    p->trace("\"close\" received");
    p->audioObj->Pause();
    // The sound queued but not heard is played again after the hand-over;
    // the end counts only when the listener has heard it.
    const bool heardToEnd = p->audioFile && p->resumeWhereHeard();
    for (int i = 0; i < 3; ++i) p->audioObj->flushOutput();
    p->audioObj->closeDevice();
    p->removePropertyEH();
    p->resetAfterFlush();
    p->setPauseTime();
    p->loadPlayXbm();
    if (p->playState == PLAYER_PLAYING) p->playState = PLAYER_STOPPED;
    if (heardToEnd) p->playState = PLAYER_FINISHED;
    XFlush(p->display);
    sleep(1);  // so that the requester finds the device free on its next try
}
