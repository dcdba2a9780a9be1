#include "audiobj.h"

#include <fcntl.h>
#include <pthread.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kNotOpen = -4;
constexpr int kCannotOpen = -3;

uint32_t precisionOf(uint32_t dataFormat) {
    switch (dataFormat) {
        case 2: return 8;
        case 3: return 16;
        case 4: return 24;
        case 5: return 32;
        default: return 0;  // the device keeps its own
    }
}

// The device's driver thread starts inside the open and inherits the
// caller's signal mask: with every signal blocked it never takes one of the
// process's signals, which stay with the toolkit's thread.
int openBlockingSignals(const char* path) {
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    int fd = zefAudioOpen(path, O_WRONLY | O_NONBLOCK);
    int err = errno;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = err;
    return fd;
}

}  // namespace

short AudioObj::Debug = std::getenv("AUDIOBJ") ? 1 : 0;
int AudioObj::id = 0;
const char* AudioObj::classid = "AudioObj";

AudioObj::AudioObj(const char* path) : devicePath(strdup(path ? path : "")), objId(id++) {
    resetInfo();
    savedInfo = info;
}

AudioObj::~AudioObj() {
    closeDevice();
    std::free(devicePath);
}

void AudioObj::resetInfo() { AUDIO_INITINFO(&info); }

void AudioObj::trace(const char* operation, int result) const {
    if (Debug) std::fprintf(stderr, "%s[%d]::%s -> %d\n", classid, objId, operation, result);
}

int AudioObj::getState() {
    if (audioFd < 0) deviceState = kNotOpen;
    return deviceState;
}

int AudioObj::openDevice() {
    if (audioFd < 0) audioFd = openBlockingSignals(devicePath);
    openErrno = audioFd < 0 ? errno : 0;
    deviceState = audioFd < 0 ? kNotOpen : 0;
    trace("openDevice", deviceState);
    return deviceState;
}

void AudioObj::closeDevice() {
    if (audioFd >= 0 && zefAudioClose(audioFd) != 0) perror("AudioObj::closeDevice");
    audioFd = -1;
    deviceState = kNotOpen;
    trace("closeDevice", deviceState);
}

int AudioObj::setAudioInfo(SNDSoundStruct& snd) {
    if (deviceState != 0) return deviceState;
    resetInfo();
    info.play.sample_rate = snd.samplingRate;
    info.play.channels = snd.channelCount;
    if (uint32_t precision = precisionOf(snd.dataFormat)) info.play.precision = precision;
    info.play.encoding = AUDIO_ENCODING_LINEAR;
    info.play.gain = playGain;
    info.play.port = AUDIO_SPEAKER | AUDIO_HEADPHONE | AUDIO_LINE_OUT;
    if (audioFd < 0 || zefAudioSetInfo(audioFd, &info) != 0) {
        if (audioFd < 0) errno = EBADF;
        perror("AudioObj::setAudioInfo");
        return 1;
    }
    return 0;
}

int AudioObj::playSegment(char* buf, int n) {
    if (audioFd < 0) openDevice();
    if (getState() != 0) return kCannotOpen;
    if (n < 0) {
        errno = EINVAL;
        perror("playSegment");
        return 1;
    }
    if (zefAudioWrite(audioFd, buf, size_t(n)) != ssize_t(n)) {
        perror("playSegment");
        return 1;
    }
    return 0;
}

int AudioObj::getNumOfPlayMarker() {
    if (getControl() != 0) return -1;
    return int(info.play.eof);
}

long AudioObj::getPlayedSamples() {
    if (getControl() != 0) return -1;
    return long(info.play.samples);
}

int AudioObj::setNumOfPlayMarker(int n) {
    resetInfo();
    info.play.eof = uint32_t(n);
    return setControl();
}

int AudioObj::Pause() {
    resetInfo();
    info.play.pause = 1;
    return setControl();
}

int AudioObj::Resume() {
    resetInfo();
    info.play.pause = 0;
    return setControl();
}

int AudioObj::isPaused() { return getControl() == 0 && info.play.pause == 1 ? 1 : 0; }

int AudioObj::setWaiting() {
    resetInfo();
    info.play.waiting = 1;
    return setControl();
}

int AudioObj::setVolume(int direction) {
    // Kept within the device's range: a step past either end stops there.
    // A closed device is opened at the level chosen meanwhile.
    if (audioFd < 0) {
        playGain = uint32_t(std::clamp<long>(long(playGain) + long(direction) * volumeStep, AUDIO_MIN_GAIN,
                                             AUDIO_MAX_GAIN));
        return 0;
    }
    if (getControl() != 0) return 1;
    long gain = long(info.play.gain) + long(direction) * volumeStep;
    resetInfo();
    info.play.gain = uint32_t(std::clamp<long>(gain, AUDIO_MIN_GAIN, AUDIO_MAX_GAIN));
    if (setControl() != 0) return 1;
    playGain = info.play.gain;  // kept for the next open
    return 0;
}

int AudioObj::getMonitorGain() {
    if (getControl() != 0) return 1;
    return int(info.monitor_gain);
}

int AudioObj::flushOutput() {
    if (audioFd < 0) return 1;
    if (zefAudioFlush(audioFd) != 0) {
        perror("AudioObj::flushOutput");
        return 1;
    }
    setNumOfPlayMarker(0);
    return 0;
}

int AudioObj::setControl() {
    if (audioFd < 0) return 1;
    if (zefAudioSetInfo(audioFd, &info) != 0) {
        perror("AudioObj::setControl");
        return 1;
    }
    return 0;
}

int AudioObj::getControl() {
    if (audioFd < 0) return 1;
    if (zefAudioGetInfo(audioFd, &info) != 0) {
        perror("AudioObj::getControl");
        return 1;
    }
    return 0;
}

int AudioObj::saveAudioInfo() {
    if (getControl() != 0) return 1;
    savedInfo = info;
    return 0;
}

int AudioObj::restoreAudioInfo() {
    info = savedInfo;
    return setControl();
}
