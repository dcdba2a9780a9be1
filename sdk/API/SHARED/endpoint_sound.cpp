// The sound output endpoint: the library's own playback process.  Each round
// decodes (or copies, for PCM) one buffer of a ring of three, writes it to
// the audio device and follows it with an end-of-data marker.  The device
// counts the markers it has played, so the loop always knows how many
// buffers still wait there and keeps at most three queued.  Everything runs
// in the caller's thread; the caller's callback is called once per round and
// may pause (status 24), resume (19) or stop the loop.
#include <fcntl.h>
#include <pthread.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "dcmpsession.h"
#include "endpoints.h"
#include "playback.h"
#include "zefapi.h"
#include "zefaudio.h"

namespace zef {
namespace {

// One library instance drives one device, so its pause state is the process's.
bool gDevicePaused = false;

// Rounds in a row that found the device idle with buffers still waiting.
constexpr uint16_t kStalledRoundsLimit = 3;

bool isEndOfData(uint16_t result) {
    return result == ZEFERR_ENDOFFILE_REACHED || result == ZEFERR_ENDOFBUFFER_REACHED;
}

// dwStatus exists only in the current form of the structure.
bool hasStatus(const KELVANE_DATA* kd) { return kd->wSizeOfKelvaneData >= KELVANE_DATA_VERSION_MARK; }
void setStatus(KELVANE_DATA* kd, uint32_t status) {
    if (hasStatus(kd)) kd->dwStatus = status;
}
uint32_t statusOf(const KELVANE_DATA* kd) { return hasStatus(kd) ? kd->dwStatus : KELVANE_STATUS_FRAME; }

uint16_t deviceFailed(KELVANE_DATA* kd, int err) {
    setStatus(kd, KELVANE_STATUS_DEVICE_FAILED);
    return ZEF_ERROR(ZEFERR_WRITING_TO_FILE, uint32_t(err), kd);
}

// The device's driver thread starts inside the open and inherits this
// thread's signal mask.  With every signal blocked there it never takes one
// of the process's signals: the SIGALRM that the library's sleep waits for,
// and the caller's own handlers, stay with the caller's thread.
int openDevice() {
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    int fd = zefAudioOpen(ZEFAUDIO_DEVICE, O_WRONLY | O_NONBLOCK);
    int err = errno;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = err;
    return fd;
}

int setDevicePause(int fd, uint8_t on) {
    audio_info info;
    AUDIO_INITINFO(&info);
    info.play.pause = on;
    return zefAudioSetInfo(fd, &info);
}

// Buffers written and not yet played, as the device's marker count tells.
// Both counters wrap alike; a count set ahead of ours means none wait.
int32_t buffersWaiting(const PlaybackRecord* rec, const audio_info& info) {
    return int32_t(rec->dwBuffersWritten - info.play.eof);
}

// A zero-length write is the marker itself, so an empty buffer is its
// marker alone.
uint16_t writeBuffer(KELVANE_DATA* kd, PlaybackRecord* rec, const uint8_t* data, uint32_t bytes) {
    if (bytes > 0 && zefAudioWrite(rec->iDevice, data, bytes) != ssize_t(bytes)) return deviceFailed(kd, errno);
    if (zefAudioWrite(rec->iDevice, nullptr, 0) != 0) return deviceFailed(kd, errno);
    ++rec->dwBuffersWritten;
    return 0;
}

// Decodes coded input into the current buffer.  *needInput when the input
// bytes are used up; *dataEnded when the stream has no frames left.
uint16_t fillFromCoded(KELVANE_DATA* kd, ZefControlBlock* cb, OutputVars* out, bool* needInput, bool* dataEnded) {
    InputVars* in = cb->lpInputVars;
    cb->fWarp = kd->fWarpedLengthFactor;
    uint16_t signal = DecompressBuffer(cb, in->lpBase, &in->dwReadPos, in->dwValid, out->lpBase, &out->dwWritePos,
                                       out->dwCapacity);
    if (signal == ZEF_SIGNAL_OUTPUT_FULL) return 0;
    if (signal != ZEF_SIGNAL_INPUT_EXHAUSTED) return ZEF_ERROR(ZEFERR_DECOMPRESSION, signal, kd);
    // Past the last frame the bytes that follow (other chunks) are no sound.
    bool lastFrameDone = kd->dwFramesLeft == 0 && cb->wNeedFrame && !cb->wFramePending;
    *(lastFrameDone ? dataEnded : needInput) = true;
    return 0;
}

// PCM input is copied as it is, in whole sample frames, up to the end of the
// stream's data.  More input is asked for only when no whole frame is left,
// so a buffer input's last bytes are played before it reports its end.
void fillFromPcm(KELVANE_DATA* kd, ZefControlBlock* cb, OutputVars* out, bool* needInput, bool* dataEnded) {
    InputVars* in = cb->lpInputVars;
    const uint32_t channels = std::max<uint16_t>(in->desc.wChannels, 1);
    const uint32_t frame = std::max<uint32_t>(1, in->desc.wBytesPerSample * channels);
    const uint32_t unread = in->lpBase && in->dwValid > in->dwReadPos ? in->dwValid - in->dwReadPos : 0;
    const uint64_t left = uint64_t(kd->dwFramesLeft) * frame;
    const uint64_t room = out->dwCapacity - out->dwWritePos;
    const uint32_t bytes = uint32_t(std::min({room, uint64_t(unread), left}) / frame * frame);
    if (bytes) std::memcpy(out->lpBase + out->dwWritePos, in->lpBase + in->dwReadPos, bytes);
    in->dwReadPos += bytes;
    out->dwWritePos += bytes;
    kd->dwFramesLeft -= bytes / frame;
    if (kd->dwFramesLeft == 0) *dataEnded = true;
    else if (unread - bytes < frame) *needInput = true;
}

// Fills the next buffer of the ring and queues it.  Returns the input's
// answer (221 or 238 with *ended at the end of the stream) or an error.
uint16_t playOneBuffer(KELVANE_DATA* kd, ZefControlBlock* cb, PlaybackRecord* rec, bool* ended) {
    OutputVars* out = cb->lpOutputVars;
    out->lpBase = rec->lpBuffers[rec->dwBuffersWritten % kPlayBufferCount];
    out->dwCapacity = kPlayBufferSize;
    out->dwWritePos = 0;
    bool needInput = false;
    bool dataEnded = false;
    uint16_t result = 0;
    if (isZef(kd->dwInputType)) {
        if (uint16_t err = fillFromCoded(kd, cb, out, &needInput, &dataEnded)) return err;
    } else {
        fillFromPcm(kd, cb, out, &needInput, &dataEnded);
    }
    if (needInput) result = cb->lpInputHandler(kd, ZEFMSG_READ);
    if (dataEnded) result = ZEFERR_ENDOFFILE_REACHED;
    *ended = isEndOfData(result);
    if (uint16_t err = writeBuffer(kd, rec, out->lpBase, out->dwWritePos)) return err;
    return result;
}

// Buffers wait but the device plays nothing, round after round: it has
// failed.  A failed device refuses a marker, which tells it for certain
// (the marker alone is an empty buffer if it has not).
uint16_t checkStalled(KELVANE_DATA* kd, PlaybackRecord* rec, const audio_info& info, uint16_t* stalled) {
    bool idle = !info.play.pause && !info.play.active && buffersWaiting(rec, info) > 0;
    *stalled = idle ? uint16_t(*stalled + 1) : 0;
    if (*stalled < kStalledRoundsLimit) return 0;
    *stalled = 0;
    return writeBuffer(kd, rec, nullptr, 0);
}

uint16_t playRound(KELVANE_DATA* kd, ZefControlBlock* cb, PlaybackRecord* rec, uint16_t* stalled, bool* ended) {
    if (statusOf(kd) != KELVANE_STATUS_FRAME) {
        zefUsleep(kPlayPollMicros);
        return 0;
    }
    audio_info info;
    if (zefAudioGetInfo(rec->iDevice, &info) != 0) return deviceFailed(kd, errno);
    if (buffersWaiting(rec, info) < int32_t(kPlayQueueLimit)) {
        *stalled = 0;
        return playOneBuffer(kd, cb, rec, ended);
    }
    if (uint16_t err = checkStalled(kd, rec, info, stalled)) return err;
    zefUsleep(kPlayPollMicros);
    return 0;
}

// Lets the queued sound play out or discards it, and closes the device.  A
// device that loses sound it was to play out makes the close fail.
uint16_t closeDevice(KELVANE_DATA* kd, PlaybackRecord* rec) {
    int fd = rec->iDevice;
    rec->iDevice = -1;
    if (!rec->wDrainAtStop) zefAudioFlush(fd);
    audio_info info;
    if (gDevicePaused || (zefAudioGetInfo(fd, &info) == 0 && info.play.pause)) setDevicePause(fd, 0);
    gDevicePaused = false;
    if (zefAudioClose(fd) != 0 && rec->wDrainAtStop) return ZEF_ERROR(ZEFERR_WRITING_TO_FILE, uint32_t(errno), kd);
    return 0;
}

// The open device of a session, or null.
PlaybackRecord* openPlayback(KELVANE_DATA* kd) {
    PlaybackRecord* rec = playbackOf(kd);
    return rec && rec->iDevice >= 0 ? rec : nullptr;
}

// The device's state: the session's device, else the control side of the
// device that ZEFAUDIO names.
uint16_t readDevice(KELVANE_DATA* kd, audio_info* info) {
    if (PlaybackRecord* rec = openPlayback(kd)) {
        if (zefAudioGetInfo(rec->iDevice, info) != 0) return ZEF_ERROR(ZEFERR_OUTPUT_HANDLER, uint32_t(errno), kd);
        return 0;
    }
    int fd = zefAudioOpenCtl(ZEFAUDIO_CTL_DEVICE);
    if (fd < 0) return ZEF_ERROR(ZEFERR_OUTPUT_HANDLER, uint32_t(errno), kd);
    int got = zefAudioGetInfo(fd, info);
    int err = errno;
    zefAudioClose(fd);
    return got == 0 ? 0 : ZEF_ERROR(ZEFERR_OUTPUT_HANDLER, uint32_t(err), kd);
}

// Changes one setting of the session's open device.
uint16_t changeDevice(KELVANE_DATA* kd, void (*change)(audio_prinfo&, int32_t), int32_t value) {
    if (kd && kd->lpControlBlock) {
        if (uint16_t err = checkControlBlock(kd)) return err;
    }
    PlaybackRecord* rec = openPlayback(kd);
    if (!rec) return ZEF_ERROR(ZEFERR_OUTPUT_HANDLER, EBADF, kd);
    audio_info info;
    AUDIO_INITINFO(&info);
    change(info.play, value);
    if (zefAudioSetInfo(rec->iDevice, &info) != 0) return ZEF_ERROR(ZEFERR_OUTPUT_HANDLER, uint32_t(errno), kd);
    return 0;
}

volatile sig_atomic_t gAlarmed = 0;

timeval microsToTimeval(uint32_t micros) {
    timeval tv;
    tv.tv_sec = time_t(micros / 1000000);
    tv.tv_usec = suseconds_t(micros % 1000000);
    return tv;
}

bool alarmPending() {
    sigset_t pending;
    sigpending(&pending);
    return sigismember(&pending, SIGALRM) == 1;
}

}  // namespace

PlaybackRecord* playbackOf(KELVANE_DATA* kd) {
    ZefControlBlock* cb = controlBlock(kd);
    if (!cb || cb->dwGuard != kControlBlockGuard) return nullptr;
    OutputVars* out = cb->lpOutputVars;
    if (!out || out->dwGuard != kOutputGuard) return nullptr;
    if (cb->lpOutputHandler != HandleOutputSoundData) return nullptr;
    return static_cast<PlaybackRecord*>(out->lpPlayback);
}

bool there_is_room(const PlaybackRecord* rec) {
    audio_info info;
    if (!rec || rec->iDevice < 0 || zefAudioGetInfo(rec->iDevice, &info) != 0) return false;
    return buffersWaiting(rec, info) < int32_t(kPlayQueueLimit);
}

int init_play_for_pcm(PlaybackRecord* rec, const ZefControlBlock* cb, const InputVars* in) {
    // What plays is the session's output: the decoder's rate and sample size
    // for coded input (mono), the stream's own for PCM.
    const bool coded = isZef(cb->lpKelvaneData->dwInputType);
    const uint32_t bytes = cb->wOutputSampleSize;
    audio_info info;
    AUDIO_INITINFO(&info);
    info.play.sample_rate = cb->dwOutputRate;
    info.play.channels = coded ? 1u : in->desc.wChannels;
    info.play.precision = bytes * 8;
    // 8-bit samples are unsigned, as the decoder makes them and WAVE keeps them.
    info.play.encoding = bytes == 1 ? AUDIO_ENCODING_LINEAR8 : AUDIO_ENCODING_LINEAR;
    info.play.port = AUDIO_SPEAKER | AUDIO_HEADPHONE | AUDIO_LINE_OUT;
    info.play.samples = 0;
    info.play.eof = 0;
    info.play.error = 0;
    return zefAudioSetInfo(rec->iDevice, &info) == 0 ? 1 : 0;
}

uint16_t InitZefPlayProc(KELVANE_DATA* kd) {
    OutputVars* out = nullptr;
    if (uint16_t err = newOutputVars(kd, &out)) return err;
    auto* rec = static_cast<PlaybackRecord*>(std::calloc(1, sizeof(PlaybackRecord)));
    if (!rec) return ZEF_ERROR(ZEFERR_OUTPUT_VARS_MEMORY, 60, kd);
    rec->iDevice = -1;
    out->lpPlayback = rec;
    for (uint8_t*& buffer : rec->lpBuffers) {
        buffer = static_cast<uint8_t*>(std::calloc(1, kPlayBufferSize));
        if (!buffer) return ZEF_ERROR(ZEFERR_PLAYBACK_MEMORY, kPlayBufferSize, kd);
    }
    out->lpBase = rec->lpBuffers[0];
    out->dwCapacity = kPlayBufferSize;
    // The device never blocks a write, so there is no delaying mode to leave.
    rec->iDevice = openDevice();
    if (rec->iDevice < 0) return ZEF_ERROR(ZEFERR_OPENING_OUTPUT_FILE, uint32_t(errno), kd);
    ZefControlBlock* cb = controlBlock(kd);
    // Sound played in a format the device did not take would be noise.
    if (!init_play_for_pcm(rec, cb, cb->lpInputVars)) return ZEF_ERROR(ZEFERR_OPENING_OUTPUT_FILE, uint32_t(errno), kd);
    return 0;
}

uint16_t ZefPlayProc(KELVANE_DATA* kd) {
    if (uint16_t err = checkControlBlock(kd)) return err;
    ZefControlBlock* cb = controlBlock(kd);
    PlaybackRecord* rec = openPlayback(kd);
    if (!rec || !cb->lpInputVars || !cb->lpInputHandler) return ZEF_ERROR(ZEFERR_INVALID_OUTPUT_VARS, 0, kd);
    setStatus(kd, KELVANE_STATUS_FRAME);
    // Playing on after a stop while paused: status 19 means the device plays,
    // or the loop would wait for room that never comes.
    if (gDevicePaused && setDevicePause(rec->iDevice, 0) == 0) gDevicePaused = false;
    rec->wDrainAtStop = 1;
    uint16_t stalled = 0;
    for (;;) {
        // The decoder must not call back per frame: the loop does, per round.
        KELVANE_CALLBACK callback = kd->lpCallback;
        kd->lpCallback = nullptr;
        cb->lpCallback = nullptr;
        bool ended = false;
        uint16_t result = playRound(kd, cb, rec, &stalled, &ended);
        kd->lpCallback = callback;
        cb->lpCallback = callback;
        bool stop = result != 0;
        if (stop && !ended) rec->wDrainAtStop = 0;  // a failure discards what waits
        if (callback && callback(0, uint16_t(statusOf(kd)), kd) != 0) {
            rec->wDrainAtStop = 0;
            stop = true;
        }
        if (stop) return result;
    }
}

uint16_t StopZefPlayProc(KELVANE_DATA* kd) {
    OutputVars* out = controlBlock(kd)->lpOutputVars;
    auto* rec = static_cast<PlaybackRecord*>(out->lpPlayback);
    uint16_t result = 0;
    if (rec) {
        if (rec->iDevice >= 0) result = closeDevice(kd, rec);
        for (uint8_t* buffer : rec->lpBuffers) std::free(buffer);
        std::free(rec);
    }
    out->lpPlayback = nullptr;
    out->lpBase = nullptr;
    freeOutputVars(kd);
    return result;
}

uint16_t HandleOutputSoundData(KELVANE_DATA* kd, uint16_t message) {
    if (uint16_t err = checkControlBlock(kd)) return err;
    if (message == ZEFMSG_OPEN) return InitZefPlayProc(kd);
    if (message != ZEFMSG_WRITE && message != ZEFMSG_CLOSE) return ZEF_ERROR(ZEFERR_OUTPUT_HANDLER, message, kd);
    if (uint16_t err = checkOutput(kd)) return err;
    if (message == ZEFMSG_CLOSE) return StopZefPlayProc(kd);
    uint16_t result = ZefPlayProc(kd);
    // The end of the input is no failure; anything else is a playback error.
    if (result == 0 || isEndOfData(result)) return result;
    return ZEF_ERROR(KELVANE_PLAYBACKERROR, result, kd);
}

uint16_t zef_play_sol_pause(KELVANE_DATA* kd) {
    if (uint16_t err = checkControlBlock(kd)) return err;
    if (gDevicePaused) return 1;
    PlaybackRecord* rec = openPlayback(kd);
    if (!rec) return ZEF_ERROR(ZEFERR_OUTPUT_HANDLER, EBADF, kd);
    if (setDevicePause(rec->iDevice, 1) != 0) return ZEF_ERROR(ZEFERR_OUTPUT_HANDLER, uint32_t(errno), kd);
    gDevicePaused = true;
    return 0;
}

uint16_t zef_play_sol_resume(KELVANE_DATA* kd) {
    if (uint16_t err = checkControlBlock(kd)) return err;
    PlaybackRecord* rec = openPlayback(kd);
    if (!rec) return ZEF_ERROR(ZEFERR_OUTPUT_HANDLER, EBADF, kd);
    gDevicePaused = false;
    if (setDevicePause(rec->iDevice, 0) != 0) return ZEF_ERROR(ZEFERR_OUTPUT_HANDLER, uint32_t(errno), kd);
    return 0;
}

bool playbackPaused() { return gDevicePaused; }

void sleepx(int) { gAlarmed = 1; }

int zefUsleep(uint32_t micros) {
    if (micros == 0) return 0;
    sigset_t alarmOnly, previousMask;
    sigemptyset(&alarmOnly);
    sigaddset(&alarmOnly, SIGALRM);
    sigprocmask(SIG_BLOCK, &alarmOnly, &previousMask);
    // alarm() and the interval timer are one timer here: saving one saves both.
    itimerval pending{};
    getitimer(ITIMER_REAL, &pending);
    if (alarmPending()) {
        // A pending timer has just fired: the sleep ends with it, and its own
        // handler takes the signal when the mask is restored.
        sigprocmask(SIG_SETMASK, &previousMask, nullptr);
        return 0;
    }
    itimerval mine{};
    mine.it_value = microsToTimeval(micros);
    itimerval after = pending;
    if (timerisset(&pending.it_value)) {
        if (timercmp(&pending.it_value, &mine.it_value, >)) {
            timersub(&pending.it_value, &mine.it_value, &after.it_value);
        } else {
            // The pending one is due first: wake then and let it fire at once.
            mine.it_value = pending.it_value;
            after.it_value = microsToTimeval(1);
        }
    }
    struct sigaction handler{}, previousHandler{};
    handler.sa_handler = sleepx;
    sigemptyset(&handler.sa_mask);
    sigaction(SIGALRM, &handler, &previousHandler);
    gAlarmed = 0;
    int result = 0;
    if (setitimer(ITIMER_REAL, &mine, nullptr) != 0) {
        result = -1;
    } else {
        sigset_t waitMask = previousMask;
        sigdelset(&waitMask, SIGALRM);
        while (!gAlarmed) sigsuspend(&waitMask);
    }
    sigaction(SIGALRM, &previousHandler, nullptr);
    setitimer(ITIMER_REAL, &after, nullptr);
    sigprocmask(SIG_SETMASK, &previousMask, nullptr);
    return result;
}

}  // namespace zef

using namespace zef;

extern "C" uint16_t zefSetOutputGain(KELVANE_DATA* kd, int32_t gain) {
    auto set = [](audio_prinfo& p, int32_t v) {
        p.gain = uint32_t(std::clamp<int32_t>(v, AUDIO_MIN_GAIN, AUDIO_MAX_GAIN));
    };
    return changeDevice(kd, set, gain);
}

extern "C" uint16_t zefSetOutputBalance(KELVANE_DATA* kd, int32_t balance) {
    auto set = [](audio_prinfo& p, int32_t v) {
        p.balance = uint8_t(std::clamp<int32_t>(v, AUDIO_LEFT_BALANCE, AUDIO_RIGHT_BALANCE));
    };
    return changeDevice(kd, set, balance);
}

extern "C" uint16_t zefGetOutputGain(KELVANE_DATA* kd, uint16_t* gain) {
    if (!gain) return ZEF_ERROR(ZEFERR_OUTPUT_HANDLER, EFAULT, kd);
    audio_info info;
    if (uint16_t err = readDevice(kd, &info)) return err;
    *gain = uint16_t(info.play.gain);
    return 0;
}

extern "C" uint16_t zefGetOutputBalance(KELVANE_DATA* kd, uint16_t* balance) {
    if (!balance) return ZEF_ERROR(ZEFERR_OUTPUT_HANDLER, EFAULT, kd);
    audio_info info;
    if (uint16_t err = readDevice(kd, &info)) return err;
    *balance = info.play.balance;
    return 0;
}
