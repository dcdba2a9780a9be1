// The library as a caller drives it: a control structure that cleans up
// after itself, one-shot decodes of a coded image, the streaming triple fed
// in pieces, and a progress callback that records what it heard.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "mirlane.h"
#include "support.h"
#include "zefwriter.h"

namespace zeftest {

constexpr uint32_t kZefWaveBuffer = ZEFTYPE_FORMAT_WAVE | ZEFTYPE_LOCATION_BUFFER | ZEFTYPE_QUALIFIER_ZEF;
constexpr uint32_t kZefWaveFile = ZEFTYPE_FORMAT_WAVE | ZEFTYPE_LOCATION_FILE | ZEFTYPE_QUALIFIER_ZEF;
constexpr uint32_t kZefRawFile = ZEFTYPE_FORMAT_RAW | ZEFTYPE_LOCATION_FILE | ZEFTYPE_QUALIFIER_ZEF;
constexpr uint32_t kZefPacketBuffer = ZEFTYPE_FORMAT_RAW | ZEFTYPE_LOCATION_PACKET | ZEFTYPE_QUALIFIER_ZEF;
constexpr uint32_t kZefWaveFunction = ZEFTYPE_FORMAT_WAVE | ZEFTYPE_LOCATION_FUNCTION | ZEFTYPE_QUALIFIER_ZEF;
constexpr uint32_t kRawBuffer = ZEFTYPE_FORMAT_RAW | ZEFTYPE_LOCATION_BUFFER;
constexpr uint32_t kRawFile = ZEFTYPE_FORMAT_RAW | ZEFTYPE_LOCATION_FILE;
constexpr uint32_t kWaveFile = ZEFTYPE_FORMAT_WAVE | ZEFTYPE_LOCATION_FILE;
constexpr uint32_t kRawFunction = ZEFTYPE_FORMAT_RAW | ZEFTYPE_LOCATION_FUNCTION;
constexpr uint32_t kSoundOut = ZEFTYPE_FORMAT_WAVE | ZEFTYPE_LOCATION_SOUND;

constexpr uint32_t kFrameBytes16 = 360;  // one frame, 16-bit at 8000 Hz

// A control structure as a caller fills it: zeroed, current form, normal
// speed and pitch.  A session still attached at the end is cleaned up.
struct Kd : KELVANE_DATA {
    Kd() {
        std::memset(static_cast<KELVANE_DATA*>(this), 0, sizeof(KELVANE_DATA));
        wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
        fWarpedLengthFactor = 1.0f;
        fAbsolutePitch = 100.0f;
    }
    ~Kd() {
        if (lpControlBlock) dcmpMirlaneCleanup(this);
    }
    Kd(const Kd&) = delete;
    Kd& operator=(const Kd&) = delete;

    void input(uint32_t type, const void* location, uint32_t size = 0) {
        dwInputType = type;
        lpInputLocation = const_cast<void*>(location);
        dwInputSize = size;
    }
    void output(uint32_t type, void* location, uint32_t size = 0) {
        dwOutputType = type;
        lpOutputLocation = location;
        dwOutputSize = size;
    }
};

// Output settings of a decode.
struct Format {
    uint32_t rate = 0;  // 0: the file's own
    uint16_t bytes = 0; // 0: the file's own (16-bit)
    float warp = 1.0f;
    float semitones = 0.0f;
};

inline void apply(Kd& kd, const Format& f) {
    kd.dwOutputSamplingRate = f.rate;
    kd.wOutputBytesPerSample = f.bytes;
    kd.fWarpedLengthFactor = f.warp;
    kd.fRelativePitch = f.semitones;
}

// Output room for n frames at any setting this suite uses.
inline uint32_t roomFor(size_t frames, const Format& f = {}) {
    double perFrame = 180.0 * std::max(1.0f, f.warp) * (f.rate ? 44100.0 / 8000.0 : 1.0) + 8;
    return uint32_t(perFrame * 2 * double(frames + 2));
}

// One-shot decode of a coded image in memory to raw PCM in memory.
inline Bytes decodeBuffer(const Bytes& file, const Format& f = {}, uint16_t* result = nullptr) {
    Kd kd;
    apply(kd, f);
    Bytes out(roomFor(file.size() * 8 / 54 + 1, f));
    kd.input(kZefWaveBuffer, file.data(), uint32_t(file.size()));
    kd.output(kRawBuffer, out.data(), uint32_t(out.size()));
    uint16_t err = dcmpMirlaneDecompress(&kd);
    if (result) *result = err;
    else EXPECT_EQ(err, 0) << kd.dwSecondaryError;
    out.resize(err ? 0 : kd.dwOutputBytesUsed);
    return out;
}

inline Bytes decodeFrames(const std::vector<Frame>& frames, const Format& f = {}) {
    return decodeBuffer(zeftest::zefWave(zeftest::orvo(), frames), f);
}

// The streaming triple as the player drives it: dcmpZefInit over the whole
// image (it parses the header), then dcmpZefConvert with buffers that grow
// by `piece` new bytes a call and start at the first byte not yet consumed,
// each call into a fresh output buffer of `outSize` bytes.
inline Bytes decodeStreaming(const Bytes& file, uint32_t piece, uint32_t outSize, const Format& f = {}) {
    Kd kd;
    apply(kd, f);
    Bytes out(outSize);
    kd.input(kZefWaveBuffer, file.data(), uint32_t(file.size()));
    kd.output(kRawBuffer, out.data(), outSize);
    EXPECT_EQ(dcmpZefInit(&kd), 0) << kd.dwSecondaryError;
    if (!kd.lpControlBlock) return {};
    size_t pos = kd.dwInputBytesUsed, fetched = pos;
    Bytes pcm;
    for (int idle = 0; idle < 3;) {
        fetched = std::min(file.size(), fetched + piece);
        Bytes window(file.begin() + long(pos), file.begin() + long(fetched));  // exactly what is there
        kd.input(kZefWaveBuffer, window.data(), uint32_t(window.size()));
        kd.dwInputBytesUsed = 0;
        kd.dwOutputBytesUsed = 0;
        uint16_t err = dcmpZefConvert(&kd);
        EXPECT_EQ(err, 0) << "at byte " << pos;
        if (err) break;
        EXPECT_LE(kd.dwInputBytesUsed, window.size());
        EXPECT_LE(kd.dwOutputBytesUsed, outSize);
        pos += kd.dwInputBytesUsed;
        pcm.insert(pcm.end(), out.begin(), out.begin() + kd.dwOutputBytesUsed);
        bool progress = kd.dwInputBytesUsed || kd.dwOutputBytesUsed;
        idle = fetched == file.size() && !progress ? idle + 1 : 0;
    }
    kd.dwInputBytesUsed = 0;
    kd.dwOutputBytesUsed = 0;
    EXPECT_EQ(dcmpZefFree(&kd), 0);
    return pcm;
}

// Statuses the progress callback saw, with the structure's fields at each.
struct Recorder {
    std::vector<uint16_t> statuses{};
    uint16_t abortAtFrame = 0;  // 1-based; 0: never
    uint16_t answer = 0;
    int frames = 0;
    int warpAtFrame = 0;        // set fWarpedLengthFactor to newWarp at this frame
    float newWarp = 1.0f;

    static uint16_t call(uint16_t, uint16_t status, void* data) {
        auto* kd = static_cast<KELVANE_DATA*>(data);
        auto* r = reinterpret_cast<Recorder*>(kd->dwUserData);
        r->statuses.push_back(status);
        if (status != KELVANE_STATUS_FRAME) return 0;
        EXPECT_EQ(kd->dwStatus, KELVANE_STATUS_FRAME);
        ++r->frames;
        if (r->frames == r->warpAtFrame) kd->fWarpedLengthFactor = r->newWarp;
        return r->frames == r->abortAtFrame ? r->answer : 0;
    }
    void attach(KELVANE_DATA& kd) {
        kd.dwUserData = reinterpret_cast<uintptr_t>(this);
        kd.lpCallback = &Recorder::call;
    }
};

// Period in samples that an Orvo or Peln pitch code stands for.
inline double periodOf(int pitchCode) { return 125.0 - pitchCode * 109.0 / 255.0; }

// Steady voiced Orvo frames at one pitch code.
inline std::vector<Frame> steadyVoiced(int count, uint8_t pitch, uint8_t energy = 36) {
    return std::vector<Frame>(size_t(count), orvoFrame(15, pitch, energy));
}

}  // namespace zeftest
