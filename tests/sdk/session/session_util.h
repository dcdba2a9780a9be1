// Helpers for the decompression session tests: a control structure that
// cleans up after itself, coded files from field codes, decoding through the
// one-shot calls and through the streaming triple in pieces, and a few
// measurements on decoded audio.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "mirlane.h"
#include "zefwriter.h"

namespace sess {

using Bytes = std::vector<uint8_t>;
using zeftest::Frame;

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

inline std::string dataFile(const char* name) { return std::string(ZEF_TEST_DATA_DIR) + "/" + name; }

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

inline std::vector<int16_t> samples16(const Bytes& b) {
    std::vector<int16_t> s(b.size() / 2);
    if (!s.empty()) std::memcpy(s.data(), b.data(), s.size() * 2);
    return s;
}

// 64-bit FNV-1a.
inline uint64_t fnv1a(const Bytes& b) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (uint8_t c : b) {
        h ^= c;
        h *= 0x100000001b3ull;
    }
    return h;
}

// Period in samples that an Orvo pitch code stands for.
inline double periodOf(int pitchCode) { return 125.0 - pitchCode * 109.0 / 255.0; }

// The period of a steady stretch by normalised autocorrelation: the
// shortest lag whose correlation comes near the best one (so a multiple of
// the period never wins), refined by a parabola through its neighbours.
inline double measurePeriod(const std::vector<int16_t>& s, size_t from, size_t length) {
    const int minLag = 14, maxLag = 140;
    std::vector<double> r(maxLag + 2, 0.0);
    for (int lag = minLag - 1; lag <= maxLag + 1; ++lag) {
        double xy = 0, xx = 0, yy = 0;
        for (size_t i = from; i < from + length; ++i) {
            double x = s[i], y = s[i + size_t(lag)];
            xy += x * y;
            xx += x * x;
            yy += y * y;
        }
        r[size_t(lag)] = xx > 0 && yy > 0 ? xy / std::sqrt(xx * yy) : 0.0;
    }
    double best = *std::max_element(r.begin() + minLag, r.begin() + maxLag + 1);
    int lag = minLag;
    while (lag < maxLag && !(r[size_t(lag)] >= 0.9 * best && r[size_t(lag)] >= r[size_t(lag - 1)] &&
                             r[size_t(lag)] >= r[size_t(lag + 1)]))
        ++lag;
    double a = r[size_t(lag - 1)], b = r[size_t(lag)], c = r[size_t(lag + 1)];
    double denom = a - 2 * b + c;
    return lag + (denom != 0 ? 0.5 * (a - c) / denom : 0.0);
}

// A file name in a per-test scratch folder, removed with the object.
class ScratchDir {
public:
    ScratchDir() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = std::filesystem::path(ZEF_BINARY_DIR) / "scratch" /
               (std::string(info->test_suite_name()) + "." + info->name() + "." + std::to_string(::getpid()));
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    ~ScratchDir() { std::filesystem::remove_all(dir_); }
    std::string path(const char* name) const { return (dir_ / name).string(); }

private:
    std::filesystem::path dir_;
};

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

// Steady voiced frames at one pitch code.
inline std::vector<Frame> steadyVoiced(int count, uint8_t pitch, uint8_t energy = 36) {
    return std::vector<Frame>(size_t(count), zeftest::orvoFrame(15, pitch, energy));
}

}  // namespace sess
