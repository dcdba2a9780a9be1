// The audio file tests' own helpers: coded speech long enough to cross the
// readers' input window, the library's one-shot decode as the reference,
// and a whole sound read buffer by buffer.
#pragma once

#include <gtest/gtest.h>

#include "audiofile.h"
#include "mirlane.h"
#include "zefwriter.h"

namespace aftest {

using zeftest::Bytes;

// Peln frames with a moving pitch, level and spectrum, voiced and unvoiced.
inline std::vector<zeftest::Frame> pelnSpeechLike(int count) {
    static const uint8_t lsp[10] = {17, 23, 15, 14, 6, 7, 5, 4, 2, 4};
    std::vector<zeftest::Frame> frames;
    for (int i = 0; i < count; ++i) {
        zeftest::Frame f{uint8_t(i % 40 < 30 ? 15 : 0), uint8_t(60 + (i * 7) % 80)};
        for (int k = 0; k < 10; ++k) f.push_back(uint8_t(lsp[k] + (i + k) % 3));
        for (int s = 0; s < 3; ++s) f.push_back(uint8_t((i / (s + 1)) % 8));
        f.push_back(uint8_t(10 + i % 15));
        frames.push_back(f);
    }
    return frames;
}

struct Codec {
    const char* name;
    const zeftest::Codec& (*codec)();
    std::vector<zeftest::Frame> (*frames)(int);
    unsigned frameBlock;  // bytes of the smallest byte-aligned group of frames
    unsigned framesPerBlock;
    Bytes wave(int count) const { return zeftest::zefWave(codec(), frames(count)); }
};
inline const Codec kOrvo{"Orvo", zeftest::orvo, zeftest::orvoSpeechLike, 27, 4};
inline const Codec kPeln{"Peln", zeftest::peln, pelnSpeechLike, 67, 8};

// The library's one-shot decode of a whole coded file held in memory; the
// library is started for it (a Guisette needs that) and stays started.
inline Bytes referenceDecode(const Bytes& zef) {
    ZEF_STARTUP startup{};
    startup.wSize = ZEF_STARTUP_SIZE;
    EXPECT_EQ(zefStartup(&startup), 0);
    Bytes pcm(1 << 22);
    KELVANE_DATA kd{};
    kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
    kd.fAbsolutePitch = 100.0f;
    kd.fWarpedLengthFactor = 1.0f;
    kd.dwInputType = ZEFTYPE_FORMAT_WAVE | ZEFTYPE_LOCATION_BUFFER | ZEFTYPE_QUALIFIER_ZEF;
    kd.lpInputLocation = const_cast<uint8_t*>(zef.data());
    kd.dwInputSize = uint32_t(zef.size());
    kd.dwOutputType = ZEFTYPE_FORMAT_RAW | ZEFTYPE_LOCATION_BUFFER;
    kd.lpOutputLocation = pcm.data();
    kd.dwOutputSize = uint32_t(pcm.size());
    EXPECT_EQ(dcmpMirlaneDecompress(&kd), 0);
    pcm.resize(kd.dwOutputBytesUsed);
    return pcm;
}

// Everything a reader delivers until it answers 0 or less, buffer by
// buffer; bounded, so that a reader that never ends fails the test.
struct Reading {
    std::vector<int> counts;
    Bytes pcm;
    int last = 0;
    // Every buffer but the last is full: the player plays whole buffers.
    bool fullBuffers(int size) const {
        for (size_t i = 0; i + 1 < counts.size(); ++i)
            if (counts[i] != size) return false;
        return true;
    }
};

inline Reading readAll(AudioFile& f, int bufferSize = 4320, int maxBuffers = 100000) {
    Reading r;
    std::vector<char> buffer(static_cast<size_t>(bufferSize));
    for (int i = 0; i < maxBuffers; ++i) {
        r.last = f.readSegment(buffer.data(), bufferSize);
        if (r.last <= 0) break;
        r.counts.push_back(r.last);
        r.pcm.insert(r.pcm.end(), buffer.begin(), buffer.begin() + r.last);
    }
    return r;
}

}  // namespace aftest
