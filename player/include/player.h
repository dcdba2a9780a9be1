// Player: the application. It opens one sound file (or coded speech that an
// embedding host hands over in memory and streams while it plays), plays it
// through the audio device from a toolkit timer with two alternating PCM
// buffers, reacts to the controls of its window, and shares the audio
// device with other players through the "Audio-Msg" window property.
//
// Everything runs on the toolkit's one thread: the timer procedure, the
// widget callbacks and event handlers, and the codec's frame callback,
// which is called from inside a buffer read during a tick.
#ifndef ZEF_PLAYER_PLAYER_H
#define ZEF_PLAYER_PLAYER_H

#include <ctime>
#include <string>
#include <vector>

#include "mirlane.h"
#include "playergui.h"
#include "sndsoundstruct.h"

class AudioObj;
class AudioFile;
class InforObj;

// The kind of a file, decided by its extension alone.
enum AUType : int {
    AU_ZEF = 0,      // ".zef": coded speech read through the file
    AU_XZEF = 1,     // ".x-zef": coded speech mapped into memory
    AU_WAVE = 2,     // a PCM WAVE file (never chosen by extension)
    AU_SND = 3,      // a Sun audio file (never chosen by extension)
    AU_NOPLAY = 4,   // anything else
};

// playState values.
enum : int {
    PLAYER_PLAYING = 0,   // playing, or about to
    PLAYER_FINISHED = 1,  // the whole sound was heard; the device is closed
    PLAYER_STOPPED = 2,   // stopped or paused, or the device could not be had
    PLAYER_WAITING = 3,   // streamed input has no data yet
};

class Player : public PlayerGui {
public:
    static short Debug;
    static int timer_exit;
    static const char* const AUDIO_MSG;
    static int zeffileid;
    static int MAX_TIMEOUT;
    static int TIMEOUT;
    static const char* const classid;
    static constexpr int kTimeStringSize = 12;

    Player();
    explicit Player(Widget parent);
    Player(int argc, char** argv, char** fallbackResources);
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;
    ~Player() override;

    void initmember();

    // Showing the window.
    void startGui(bool floating);
    void startGui(VISUALMODE mode);
    // For a host: 4 hides the player, 1 and 2 show the icon, 3 and 5 the
    // whole window (5 floating); any other mode shows nothing.
    void startGui(const char* name, VISUALMODE mode);
    void setStandAloneScale();

    // Opening and classifying.
    int initAudioDevice(const char* path);
    AUType getAudioFileType(const char* name);
    int initAudioFile(AUType type);
    int mapFile(const char* name);
    int isFileOk();
    void badFileAttrMsg();
    // What a control shows when the file cannot be used: the "not
    // accessible" text for a file that cannot be read, else the bad-file text.
    void refuseFile();
    // The stand-alone entry: opens the file, builds the window and runs the
    // event loop until it is asked to end.
    void start(const char* name);
    // The host's entry: data (or, when null, the file name) is coded speech
    // that may still grow through playMore. 0 success, 1 failure.
    int start(const char* name, const char* data, int length, bool play);

    // The playback engine.
    int playAudio(bool start);
    // Bytes of each PCM buffer: 300 ms of 16-bit samples at rate, in whole
    // blocks of 720 samples; 0 when the rate gives no whole block or is
    // above 192 kHz.
    static int bufferBytes(uint32_t rate);
    void setTimeOutProc();
    void removeTimeOutProc();
    int reopenDevice(bool wait);
    int playNextBuf();
    char* getBuffer(int* count);
    int waitForAudio(int target, int slack);
    void resetAfterFlush();
    // Further streamed data; length 0 ends the stream. 0 when taken.
    int playMore(const char* data, int length);

    // Time keeping.
    void initTime();
    void setNewPlayTime();
    void showPlayTime();
    // Writes at most kTimeStringSize bytes (with the NUL) to out: "ss",
    // "mm:ss" or "hh:mm:ss"; a negative time counts as 0.
    static void timeToString(long seconds, char* out);
    void setPauseTime();
    void setCumulPauseTime();
    float getPercentPlayed();

    static void timeOutCB(XtPointer player, XtIntervalId* id);
    static uint16_t zefCallback(uint16_t reserved, uint16_t message, void* data);

    // Controls.
    static void playCB(Widget w, XtPointer player, XtPointer callData);
    static void rewindCB(Widget w, XtPointer player, XtPointer callData);
    static void scaleCB(Widget w, XtPointer player, XtPointer callData);
    void setAudioLocation(int value);
    // Plays on from scale position value (a trough click, a keyboard change
    // of the scale, a seek key).
    void jumpTo(int value);
    static void warptrEH(Widget w, XtPointer player, XEvent* event, Boolean* cont);
    static void wboardEH(Widget w, XtPointer player, XEvent* event, Boolean* cont);
    static void pboardEH(Widget w, XtPointer player, XEvent* event, Boolean* cont);
    // The codec's time-warp factor for a speed pointer position 0.0 .. 1.0:
    // 5.0 (slowest) at 0, 1.0 at 0.5, 0.3 (fastest) at 1.
    static float warpFactor(float fraction);
    void setWarpValue(float fraction);
    void setGainPercent(unsigned short level);
    void displayGain();
    void displayVolume();
    static void volUpCB(Widget w, XtPointer player, XtPointer callData);
    static void volDownCB(Widget w, XtPointer player, XtPointer callData);

    // Messages between players.
    void setPropertyEH();
    void removePropertyEH();
    static void propEH(Widget w, XtPointer player, XEvent* event, Boolean* cont);

    // The text last shown in the information dialog (empty if none).
    const std::string& lastMessage() const { return shownMessage; }

    Atom audioMsgAtom = 0;
    int propertyHandlerOn = 0;
    int closeSent = 0;
    int warpPending = 0;
    float pendingWarp = 0.5f;
    Window (*findDeviceOwner)() = nullptr;
    void (*deviceOpenedHook)(Window) = nullptr;
    SNDSoundStruct soundAttr{};
    AudioObj* audioObj = nullptr;
    AudioFile* audioFile = nullptr;
    char* deviceName = nullptr;
    char* fileName = nullptr;
    const char* baseName = nullptr;
    void* mappedAddr = nullptr;
    long mappedSize = 0;
    int segmentCount = 0;
    int bufferMode = 2;
    int nextBuffer = 0;
    int bufferSize = 0;
    char* buffer1 = nullptr;
    char* buffer2 = nullptr;
    char* currentBuffer = nullptr;
    int count1 = 0;
    int count2 = 0;
    char timeString[kTimeStringSize] = {};
    time_t startTime = 0;
    time_t pauseStart = 0;
    long pausedSeconds = 0;
    float playedSeconds = 0.0f;
    long elapsedSeconds = 0;
    long lastElapsed = 0;
    int scaleComplete = 0;
    XtIntervalId timerId = 0;
    InforObj* info = nullptr;
    float gainLevel = 0.0f;
    int callbackCount = 0;
    int tickCount = 0;
    int dragging = 0;
    int eofWritten = 0;
    int deviceReady = 1;
    int moreData = 1;
    char* accessMessage = nullptr;
    char* badFileMessage = nullptr;
    int playState = PLAYER_STOPPED;

private:
    // Where one buffer's sound lies in the coded data, and one given to the device.
    struct Span { long from = 0, to = 0; };
    struct Written { long from, to, frames; };
    long decodePosition();
    int readInto(char* buffer, Span* span);
    void logWritten(const Span& span, int bytes);
    long backOneBlock(long place) const;
    bool resumeWhereHeard();
    void nameWindow();
    void installKeys();
    static void keyEH(Widget w, XtPointer player, XEvent* event, Boolean* cont);
    static void speakerEH(Widget w, XtPointer player, XEvent* event, Boolean* cont);
    void seekBy(float seconds);
    void changeSpeed(int direction);

    void showMessage(const char* text);
    bool boardShown();
    void raiseWarpStrip();
    void endOfSound();
    void updateDisplays();
    int writeTempFile(const char* name, const char* data, int length, std::string* path);
    void trace(const char* format, ...) __attribute__((format(printf, 2, 3)));

    bool armTick();
    static void tickReady(XtPointer player, int* fd, XtInputId* id);

    std::string shownMessage;
    Span read1, read2;
    std::vector<Written> written;  // since the device's counters were last reset
    long samplesAtReset = -1;      // the device's played samples then
    int tickFd = -1;
    XtInputId tickInput = 0;
    XtIntervalId tickSerial = 0;
};

#endif
