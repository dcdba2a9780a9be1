// The library's own playback process: the sound output endpoint that
// decodes into a ring of three buffers and feeds them to the audio device,
// the controls that act on the open device, and the library's sleep.
#pragma once

#include <cstdint>

#include "zefinternal.h"

namespace zef {

constexpr uint32_t kPlayBufferSize = 8192;
constexpr uint32_t kPlayBufferCount = 3;
// Buffers that may wait in the device beyond those it has played.
constexpr uint32_t kPlayQueueLimit = 3;
// Wait between two rounds when the loop is paused or the queue is full.  A
// buffer holds at least a tenth of a second of sound, so the device never
// runs dry, and the process does not spin.
constexpr uint32_t kPlayPollMicros = 10000;

// Hangs from the sound endpoint's output record (lpPlayback); the output
// record's base, capacity and write position describe the current buffer.
struct PlaybackRecord {
    uint8_t* lpBuffers[kPlayBufferCount];
    int iDevice;                 // device handle, -1 when closed
    uint32_t dwBuffersWritten;   // wraps like the device's marker counter
    uint16_t wDrainAtStop;       // 1: queued sound plays out at close; 0: discarded
};

// Endpoint messages 10, 30 and 40 of the sound output.
uint16_t HandleOutputSoundData(KELVANE_DATA* kd, uint16_t message);
uint16_t InitZefPlayProc(KELVANE_DATA* kd);
uint16_t ZefPlayProc(KELVANE_DATA* kd);
uint16_t StopZefPlayProc(KELVANE_DATA* kd);

// The session's playback record, or null when its output is not the device.
PlaybackRecord* playbackOf(KELVANE_DATA* kd);

// Whether another buffer may be queued: fewer than three buffers written and
// not yet played.  No room when the device cannot be asked.
bool there_is_room(const PlaybackRecord* rec);

// Sets the device to the format of what the session plays; 1 on success.
int init_play_for_pcm(PlaybackRecord* rec, const ZefControlBlock* cb, const InputVars* in);

// Pause and resume of the open device, with the process-wide pause flag.
// Pausing a paused device returns 1 and changes nothing.
uint16_t zef_play_sol_pause(KELVANE_DATA* kd);
uint16_t zef_play_sol_resume(KELVANE_DATA* kd);
bool playbackPaused();

// Sleeps `micros` microseconds on the real-time interval timer and SIGALRM.
// An alarm or interval timer that was pending keeps its handler and fires
// when it was due (at once after the sleep when it fell inside it).  0 when
// slept (or 0 asked), -1 when the timer cannot be armed.
int zefUsleep(uint32_t micros);
// The SIGALRM handler of zefUsleep.
void sleepx(int signo);

}  // namespace zef
