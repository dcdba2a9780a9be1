// Voice activity and automatic gain of the encoders, applied to each
// 180-sample frame at 8000 Hz just before it is encoded.
//
// Voice activity: a frame's level (mean power in dB below full scale) is
// compared with a noise floor, the lowest level of the last two seconds of
// frames (the window starts filled with -70 dBFS, so that noise in the first
// seconds is kept rather than speech lost).  A frame at least the threshold
// above the floor is active; after an active frame the next `hangover`
// frames count as active too, so that word ends survive.
//   0x80002 threshold: dB above the floor, 1 to 60; 0 (the default) leaves
//           every frame as it is, and the decision is then made with 9 dB
//           for the caller to read.  Inactive frames are coded as silence
//           (all samples 0) only when a threshold is set.
//   0x80004 sensitivity: hangover in frames (22.5 ms each), 1 to 255;
//           0 means 8 frames (180 ms).
//   0x80005 the decision of the last frame: 1 active, 0 inactive.
//
// Automatic gain: off until a mode is set, and while it is negative.  Mode 0
// aims at -18 dBFS, a positive mode N at -N dBFS (up to 60).  The gain,
// limited to -20 .. +20 dB, falls quickly (half the distance per frame)
// when frames are louder than the target and rises slowly (0.25 dB per
// frame) when they are quieter; frames below -65 dBFS and inactive frames
// leave it alone.  No sample is ever clipped: a frame whose peak would pass
// 98% of full scale gets less gain, and the gain moves linearly across the
// frame from the last frame's value.
//   0x80006 the gain applied to the last frame as a factor times 256
//           (256 is 0 dB, 2560 +20 dB); read once, then 0.
#pragma once

#include <cstdint>

#include "zefinternal.h"

namespace zef {

constexpr int kVcbFloorFrames = 89;  // two seconds of 22.5 ms frames

struct vcb_com_blk {
    float levels[kVcbFloorFrames];  // dBFS of the last frames, for the floor
    int next;                       // where the next level goes
    bool primed;                    // levels hold the starting floor
    int hangLeft;                   // frames still active after the last active one
    float gainDb;                   // automatic gain target of the last frame
    float appliedGain;              // linear gain at the end of the last frame
};

// Judges and adjusts one frame in place, as the control block's attributes
// say, and stores the decision and the gain for the attribute calls.
void VcbProcessFrame(ZefControlBlock* cb, vcb_com_blk* vcb, int16_t* frame, int samples);

// The level of a frame in dB below full scale (-100 for digital silence).
float VcbFrameLevel(const int16_t* frame, int samples);

}  // namespace zef
