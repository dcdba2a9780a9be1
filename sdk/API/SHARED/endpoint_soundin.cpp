// The sound input endpoint: PCM captured from the record side of the audio
// device, for recording.  Each read hands the encoder what the device has
// captured since the last one, waiting in short naps while it has nothing.
// Recording ends when the device's source ends, when dwInputSize bytes (if
// given) have been taken, or when the caller's callback says so.
#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "endpoints.h"
#include "playback.h"
#include "zefapi.h"
#include "zefaudio.h"

namespace zef {
namespace {

constexpr uint32_t kDefaultRecordHz = 8000;
constexpr uint32_t kCaptureBufferBytes = 8192;
constexpr uint32_t kCapturePollMicros = 5000;
// A device that is not paused and delivers nothing for this long has failed.
constexpr uint32_t kCaptureStallMicros = 2000000;

void setStatus(KELVANE_DATA* kd, uint32_t status) {
    if (kd->wSizeOfKelvaneData >= KELVANE_DATA_VERSION_MARK) kd->dwStatus = status;
}

uint16_t deviceFailed(KELVANE_DATA* kd, int err) {
    setStatus(kd, KELVANE_STATUS_DEVICE_FAILED);
    return ZEF_ERROR(ZEFERR_READING_FROM_FILE, uint32_t(err), kd);
}

// The rate asked for: the caller's (raw input), else 8000 Hz; the two
// 16.16 fixed-point rates in whole hertz.
uint32_t recordRate(const KELVANE_DATA* kd) {
    uint32_t rate = kd->dwInputSamplingRate ? kd->dwInputSamplingRate : kDefaultRecordHz;
    return rate > 0xFFFF ? rate >> 16 : rate;
}

// Programs the record side: mono at the session's rate and sample size
// (8-bit samples unsigned, as WAVE keeps them).
int programDevice(int fd, uint32_t rate, uint16_t bytes) {
    audio_info info;
    AUDIO_INITINFO(&info);
    info.record.sample_rate = rate;
    info.record.channels = 1;
    info.record.precision = bytes * 8u;
    info.record.encoding = bytes == 1 ? AUDIO_ENCODING_LINEAR8 : AUDIO_ENCODING_LINEAR;
    info.record.samples = 0;
    info.record.error = 0;
    return zefAudioSetInfo(fd, &info);
}

uint16_t InputSoundInit(KELVANE_DATA* kd) {
    InputVars* in = nullptr;
    if (uint16_t err = newInputVars(kd, &in)) return err;
    const uint32_t rate = recordRate(kd);
    const uint16_t bytes = kd->wInputBytesPerSample ? kd->wInputBytesPerSample : 2;
    in->lpOwnedBuffer = static_cast<uint8_t*>(std::calloc(1, kCaptureBufferBytes));
    if (!in->lpOwnedBuffer) return ZEF_ERROR(ZEFERR_INPUT_VARS_MEMORY, kCaptureBufferBytes, kd);
    in->lpBase = in->lpOwnedBuffer;
    int fd = zefAudioOpen(ZEFAUDIO_DEVICE, O_RDONLY | O_NONBLOCK);
    if (fd < 0) return ZEF_ERROR(ZEFERR_OPENING_INPUT_FILE, uint32_t(errno), kd);
    in->iSoundDevice = fd;
    // Sound captured in another format than the session's would be noise.
    if (programDevice(fd, rate, bytes) != 0) return ZEF_ERROR(ZEFERR_OPENING_INPUT_FILE, uint32_t(errno), kd);
    StreamDesc& d = in->desc;
    d.wFormatTag = kFormatTagPCM;
    d.wChannels = 1;
    d.wBytesPerSample = bytes;
    d.wBitsPerSample = uint16_t(bytes * 8);
    d.wBlockAlign = bytes;
    d.dwSamplingRate = rate;
    d.dwAvgBytesPerSec = rate * bytes;
    kd->dwInputSamplingRate = rate;
    return 0;
}

// Bytes still to take under dwInputSize, in whole samples, at most a buffer.
uint32_t roomToRead(const KELVANE_DATA* kd, const InputVars* in) {
    uint64_t room = kCaptureBufferBytes;
    if (kd->dwInputSize) room = std::min<uint64_t>(room, kd->dwInputSize - std::min<uint64_t>(in->qwSoundTaken, kd->dwInputSize));
    const uint32_t sample = std::max<uint16_t>(in->desc.wBytesPerSample, 1);
    return uint32_t(room / sample * sample);
}

bool devicePaused(int fd) {
    audio_info info;
    return zefAudioGetInfo(fd, &info) == 0 && info.record.pause;
}

// While the device is paused the caller's callback hears status 24 on
// every nap and may stop the recording; an answer other than 0 stops it.
uint16_t napWhileEmpty(KELVANE_DATA* kd, InputVars* in, uint32_t* waited) {
    if (devicePaused(in->iSoundDevice)) {
        *waited = 0;
        if (kd->lpCallback) {
            setStatus(kd, KELVANE_STATUS_PAUSED);
            uint16_t answer = kd->lpCallback(0, KELVANE_STATUS_PAUSED, kd);
            setStatus(kd, KELVANE_STATUS_FRAME);
            if (answer) {
                controlBlock(kd)->wCallbackResult = answer;
                return ZEF_ERROR(ZEFERR_PROCESSING_ABORTED, answer, kd);
            }
        }
    } else if ((*waited += kCapturePollMicros) > kCaptureStallMicros) {
        return deviceFailed(kd, ETIMEDOUT);
    }
    zefUsleep(kCapturePollMicros);
    return 0;
}

uint16_t InputSoundRead(KELVANE_DATA* kd) {
    InputVars* in = controlBlock(kd)->lpInputVars;
    in->dwStreamOffset += in->dwValid;
    in->dwValid = in->dwReadPos = 0;
    const uint32_t room = roomToRead(kd, in);
    if (room == 0) {
        in->wEOF = 1;
        return 0;
    }
    for (uint32_t waited = 0;;) {
        ssize_t got = zefAudioRead(in->iSoundDevice, in->lpBase, room);
        if (got > 0) {
            in->dwValid = in->dwTotal = uint32_t(got);
            in->qwSoundTaken += uint64_t(got);
            if (roomToRead(kd, in) == 0) in->wEOF = 1;
            return 0;
        }
        if (got == 0) {  // the device's source has ended
            in->wEOF = 1;
            return 0;
        }
        if (errno != EAGAIN && errno != EINTR) return deviceFailed(kd, errno);
        if (uint16_t err = napWhileEmpty(kd, in, &waited)) return err;
    }
}

uint16_t InputSoundCleanup(KELVANE_DATA* kd) {
    InputVars* in = controlBlock(kd)->lpInputVars;
    if (in->iSoundDevice > 0) zefAudioClose(in->iSoundDevice);
    in->iSoundDevice = 0;
    in->lpBase = nullptr;
    freeInputVars(kd);
    return 0;
}

// The record handle of the session's open sound input, or 0.
int sessionDevice(KELVANE_DATA* kd) {
    ZefControlBlock* cb = controlBlock(kd);
    if (!cb || cb->dwGuard != kControlBlockGuard || cb->lpInputHandler != HandleInputSound) return 0;
    InputVars* in = cb->lpInputVars;
    return in && in->dwGuard == kInputGuard ? in->iSoundDevice : 0;
}

}  // namespace

uint16_t HandleInputSound(KELVANE_DATA* kd, uint16_t message) {
    if (message == ZEFMSG_OPEN) {
        if (uint16_t err = checkControlBlock(kd)) return err;
        return InputSoundInit(kd);
    }
    if (message != ZEFMSG_READ && message != ZEFMSG_CLOSE) return ZEF_ERROR(ZEFERR_INPUT_HANDLER, message, kd);
    if (uint16_t err = checkInput(kd)) return err;
    return message == ZEFMSG_READ ? InputSoundRead(kd) : InputSoundCleanup(kd);
}

}  // namespace zef

using namespace zef;

extern "C" uint16_t zefSetInputGain(KELVANE_DATA* kd, int32_t gain) {
    if (kd && kd->lpControlBlock) {
        if (uint16_t err = checkControlBlock(kd)) return err;
    }
    int fd = sessionDevice(kd);
    if (fd <= 0) return ZEF_ERROR(ZEFERR_INPUT_HANDLER, EBADF, kd);
    audio_info info;
    AUDIO_INITINFO(&info);
    info.record.gain = uint32_t(std::clamp<int32_t>(gain, AUDIO_MIN_GAIN, AUDIO_MAX_GAIN));
    if (zefAudioSetInfo(fd, &info) != 0) return ZEF_ERROR(ZEFERR_INPUT_HANDLER, uint32_t(errno), kd);
    return 0;
}

// The session's recording device, else the control side of the device that
// ZEFAUDIO_IN names.
extern "C" uint16_t zefGetInputGain(KELVANE_DATA* kd, uint16_t* gain) {
    if (!gain) return ZEF_ERROR(ZEFERR_INPUT_HANDLER, EFAULT, kd);
    audio_info info;
    int fd = sessionDevice(kd);
    if (fd > 0) {
        if (zefAudioGetInfo(fd, &info) != 0) return ZEF_ERROR(ZEFERR_INPUT_HANDLER, uint32_t(errno), kd);
    } else {
        int ctl = zefAudioOpenCtl(ZEFAUDIO_IN_CTL_DEVICE);
        if (ctl < 0) return ZEF_ERROR(ZEFERR_INPUT_HANDLER, uint32_t(errno), kd);
        int got = zefAudioGetInfo(ctl, &info);
        int err = errno;
        zefAudioClose(ctl);
        if (got != 0) return ZEF_ERROR(ZEFERR_INPUT_HANDLER, uint32_t(err), kd);
    }
    *gain = uint16_t(info.record.gain);
    return 0;
}
