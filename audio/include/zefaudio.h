// The audio device: an exclusive, never-blocking PCM output with the play
// state record of the classic workstation audio device (`audio_info`), its
// get/set operations, end-of-data markers and the write-side flush.
//
// Which device "/dev/audio" means is chosen by the environment variable
// ZEFAUDIO (read at every open):
//
//   alsa[:PCM]            real sound through ALSA (default; PCM "default")
//   file:PATH.wav         plays at real-time pace into a WAVE file, written
//                         beside PATH and put in place when the device closes
//   null[:NAME]           plays at real-time pace and discards the sound
//
// followed by options ",key=value"; the one option is `speed=N` (null and
// file only): the virtual clock runs N times faster than real time (0 < N <=
// 1000), so that tests never wait the length of a sound.  Examples:
// "alsa:null", "file:/tmp/x.wav,speed=20", "null:mytest,speed=50".
//
// Recording: a handle opened for reading captures from the device that
// ZEFAUDIO_IN names (same syntax, read at every open; unset means alsa):
//
//   alsa[:PCM]            ALSA capture
//   file:PATH.wav         delivers the WAVE file's samples as if captured in
//                         real time (times speed), then reports the end
//   null[:NAME]           silence in real time
//
// O_RDONLY on "/dev/audio" records only; on a device written like a
// ZEFAUDIO value it records from that device.  O_RDWR plays to ZEFAUDIO and
// records from ZEFAUDIO_IN.  The record side is exclusive per device like
// the play side, and its gain, balance and port are kept between opens.
//
// Every call returns -1 with errno set on failure, like the system calls it
// stands for.  Handles are small positive numbers that are never reused.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

// One direction of the device.  Numbers are unsigned; a field whose bits are
// all set (after AUDIO_INITINFO) is "not to be changed" by zefAudioSetInfo.
struct audio_prinfo {
    uint32_t sample_rate;  // frames per second
    uint32_t channels;     // interleaved channels
    uint32_t precision;    // bits per sample: 8, 16, 24 (3 bytes, low byte first) or 32
    uint32_t encoding;     // AUDIO_ENCODING_LINEAR or AUDIO_ENCODING_LINEAR8
    uint32_t gain;         // 0..255; set values are clamped to this range
    uint32_t port;         // AUDIO_SPEAKER | AUDIO_HEADPHONE | AUDIO_LINE_OUT
    uint32_t samples;      // frames played since open (settable, wraps)
    uint32_t eof;          // end-of-data markers played since open (settable, wraps)
    uint8_t pause;         // 1 while paused
    uint8_t error;         // 1 after an underflow or a device failure (settable)
    uint8_t waiting;       // 1 once an opener was turned away (settable)
    uint8_t balance;       // 0 left .. 32 centre .. 64 right; clamped
    uint8_t open;          // 1 while the device is open (read only)
    uint8_t active;        // 1 while sound is flowing (read only)
    uint8_t reserved[2];
};

struct audio_info {
    audio_prinfo record;   // the capture side: format, gain, samples read, pause, error
    audio_prinfo play;
    uint32_t monitor_gain; // 0..255; kept and reported
};

using audio_prinfo_t = audio_prinfo;
using audio_info_t = audio_info;

constexpr uint32_t AUDIO_ENCODING_LINEAR = 3;     // signed, host byte order
constexpr uint32_t AUDIO_ENCODING_LINEAR8 = 105;  // unsigned 8-bit
constexpr uint32_t AUDIO_MIN_GAIN = 0;
constexpr uint32_t AUDIO_MAX_GAIN = 255;
constexpr uint8_t AUDIO_LEFT_BALANCE = 0;
constexpr uint8_t AUDIO_MID_BALANCE = 32;
constexpr uint8_t AUDIO_RIGHT_BALANCE = 64;
constexpr uint32_t AUDIO_SPEAKER = 1;
constexpr uint32_t AUDIO_HEADPHONE = 2;
constexpr uint32_t AUDIO_LINE_OUT = 4;

constexpr const char* ZEFAUDIO_DEVICE = "/dev/audio";
constexpr const char* ZEFAUDIO_CTL_DEVICE = "/dev/audioctl";
// The control side of the capture device that ZEFAUDIO_IN names.
constexpr const char* ZEFAUDIO_IN_CTL_DEVICE = "/dev/audioinctl";

// Marks every field "not to be changed".
inline void AUDIO_INITINFO(audio_info* info) { std::memset(info, 0xff, sizeof *info); }

// Opens the device.  `path` is "/dev/audio" (or null) for the device that
// ZEFAUDIO names, "/dev/audioctl" or "/dev/audioinctl" for zefAudioOpenCtl,
// or a device written like a ZEFAUDIO value.  The access mode is O_WRONLY
// (play), O_RDONLY (record) or O_RDWR (both, see above); the open never
// blocks whatever the flags.  A device held by this or another process gives
// EBUSY at once.  Counters, pause and format (8000 Hz, mono, 16-bit linear;
// a file source has its file's) start afresh at every open; gain, balance,
// port and monitor gain are those the device had last.  Failures other than
// EBUSY print their reason on standard error.
int zefAudioOpen(const char* path, int flags);

// Opens the control side: reads (and sets) the state of the device while
// another handle plays it, in this process or in another one.
int zefAudioOpenCtl(const char* path = nullptr);

// Queues n bytes of PCM and returns n; never blocks.  n == 0 queues an
// end-of-data marker, counted in play.eof once everything before it has been
// played.  EAGAIN when the queue holds more than 32 MiB, EIO once the device
// has failed, EBADF on a control handle.
ssize_t zefAudioWrite(int fd, const void* buf, size_t n);

// Reads captured sample frames, whole frames only, up to n bytes, and
// returns the bytes read; never blocks.  EAGAIN when none have been captured
// since the last read (or while record.pause is set), 0 once the source has
// ended, EINVAL when n is less than one frame, EIO once the device has
// failed, EBADF on a handle without a record side.  The record gain
// (gain/255) is applied to the samples; record.samples counts the frames read.
ssize_t zefAudioRead(int fd, void* buf, size_t n);

// Fills *info with the current state.
int zefAudioGetInfo(int fd, audio_info* info);

// Applies every field of *info that is not "unchanged", all or nothing, and
// then fills *info with the resulting state.  EINVAL for an unsupported
// format, EBUSY for a format change while sound is queued.
int zefAudioSetInfo(int fd, audio_info* info);

// Discards the queued sound and markers that have not been played; counters,
// pause and settings stay as they are.
int zefAudioFlush(int fd);

// Closes the handle.  A playing device first plays out what is queued; a
// paused or failed one discards it.  EIO when the device failed, sound was
// lost, or the file could not be completed.
int zefAudioClose(int fd);
