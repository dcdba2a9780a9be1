// Arbitrary bytes as Peln frames: field codes of any value (wider than their
// fields too), warps and drop groups the engine would refuse, pitch settings,
// silence fill switched on and off.  Every input must decode without error,
// and a call hands out a whole block of 180 samples or none.
//
// Input: warp byte, drop group byte, pitch mode byte, relative pitch byte,
// absolute pitch byte; then frames of 16 field codes and one control byte
// (bit 0 silence fill, bit 1 take a new warp from the next frame's first code).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "codecs.h"
#include "peln.h"

namespace {

constexpr size_t kHeader = 5;
constexpr size_t kFrameBytes = 17;

float warpOf(uint8_t b) { return b == 255 ? NAN : 0.1f + float(b) * (5.5f / 254.0f); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kHeader) return 0;
    zef::ZefControlBlock cb{};
    std::vector<int16_t> out(zef::peln::kBlock + 1, 0x7e7e);
    cb.dwGuard = zef::kControlBlockGuard;
    cb.wCodecTag = zef::peln::kPelnTag;
    cb.wDirection = 2;
    cb.fWarp = warpOf(data[0]);
    cb.wDropGroup = int16_t(int8_t(data[1]));
    cb.wUseAbsPitch = data[2] & 1;
    cb.fRelPitch = float(int8_t(data[3])) / 4.0f;
    cb.fAbsPitch = float(data[4]) * 2.0f;
    cb.lpOutput = out.data();
    if (zef::initDecodePeln(&cb) || zef::initPackPeln(&cb)) __builtin_trap();

    const size_t frames = (size - kHeader) / kFrameBytes;
    size_t next = 0, calls = 0;
    while ((next < frames || !cb.wNeedFrame) && calls < 6 * frames + 6) {
        if (cb.wNeedFrame) {
            const uint8_t* f = data + kHeader + next * kFrameBytes;
            std::memcpy(cb.bFieldCodes, f, 16);
            cb.wSilenceFill = f[16] & 1;
            if (f[16] & 2) cb.fWarp = warpOf(f[0]);
            ++next;
        }
        if (zef::unPackPeln(&cb) || zef::DecodePeln(&cb)) __builtin_trap();
        ++calls;
        if (cb.wOutputSamples != zef::peln::kBlock || out[zef::peln::kBlock] != 0x7e7e) __builtin_trap();
        if (cb.wFrameOutput != 0 && cb.wFrameOutput != 1) __builtin_trap();
    }
    if (!cb.wNeedFrame) __builtin_trap();  // a stretched frame that never ends
    zef::freePackPeln(&cb);
    zef::freeDecodePeln(&cb);
    return 0;
}
