// Regression vectors: decoded output of fixed frame sequences, checked by an
// FNV-1a hash of the samples.  Any change to the decoder's arithmetic, tables
// or generated data changes them.
//
// To regenerate on purpose (after a deliberate change, never to make a
// failure go away): run
//     ORVO_PRINT_VECTORS=1 build/tests/sdk/orvo/test_orvo_vectors
// and copy the printed lines into kVectors below; say why in the commit.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "orvo_test_util.h"

using orvotest::Decoder;
using orvotest::Frame;

namespace {

struct Vector {
    const char* name;
    int mode;
    float warp;
    int16_t dropGroup;
    float relPitch;
    float absPitch;  // Hz; 0 for relative pitch
    uint32_t seed;
    int frames;
    int silenceFrom, silenceTo;  // frames decoded as silence fill
    uint64_t hash;
    size_t samples;
};

const Vector kVectors[] = {
    {"plain", 1, 1.0f, 1, 0.0f, 0.0f, 1, 120, -1, -1, 0x66d22007fdb02d0aull, 21600},
    {"faster, higher", 1, 0.7f, 1, 5.0f, 0.0f, 2, 120, -1, -1, 0x39be00b5c9c76012ull, 15120},
    {"slower, silence", 1, 1.3f, 1, 0.0f, 0.0f, 3, 120, 40, 56, 0x2c81c8c63478c9f2ull, 28080},
    {"one in three, absolute", 1, 0.3f, 3, 0.0f, 150.0f, 4, 90, -1, -1, 0x06496bdc5bd926fbull, 14580},
    {"five times", 1, 5.0f, 1, -7.0f, 0.0f, 5, 40, -1, -1, 0xd0c08ba8f488c449ull, 36000},
    {"mode 2", 2, 1.0f, 1, 0.0f, 0.0f, 1, 120, -1, -1, 0xfc7b172119c9788full, 21600},
    {"mode 3", 3, 1.0f, 1, 0.0f, 0.0f, 1, 120, -1, -1, 0xbe7e1dd48eb524b8ull, 21600},
    {"mode 3, slower, silence", 3, 1.3f, 1, 0.0f, 0.0f, 3, 120, 40, 56, 0xeadccd32105871f6ull, 28080},
};

// FNV-1a over the samples, low byte first.
uint64_t fnv1a(const std::vector<int16_t>& x) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (int16_t s : x) {
        for (int shift : {0, 8}) {
            h ^= (uint16_t(s) >> shift) & 0xffu;
            h *= 0x100000001b3ull;
        }
    }
    return h;
}

std::vector<int16_t> decodeVector(const Vector& v) {
    Decoder d(v.warp, v.mode, v.dropGroup);
    d.cb().fRelPitch = v.relPitch;
    if (v.absPitch > 0.0f) {
        d.cb().wUseAbsPitch = 1;
        d.cb().fAbsPitch = v.absPitch;
    }
    std::vector<int16_t> all;
    const std::vector<Frame> frames = orvotest::pseudoSpeech(v.frames, v.seed);
    for (int i = 0; i < v.frames; ++i) {
        d.cb().wSilenceFill = i >= v.silenceFrom && i < v.silenceTo;
        const std::vector<int16_t> s = d.decode(frames[i]);
        EXPECT_EQ(d.lastError(), 0u) << v.name << " frame " << i;
        all.insert(all.end(), s.begin(), s.end());
    }
    return all;
}

TEST(OrvoVectors, DecodedOutputIsUnchanged) {
    const bool print = std::getenv("ORVO_PRINT_VECTORS") != nullptr;
    for (const Vector& v : kVectors) {
        const std::vector<int16_t> x = decodeVector(v);
        const uint64_t hash = fnv1a(x);
        if (print)
            std::printf("    {\"%s\", %d, %.1ff, %d, %.1ff, %.1ff, %u, %d, %d, %d, 0x%016" PRIx64 "ull, %zu},\n", v.name,
                        v.mode, double(v.warp), v.dropGroup, double(v.relPitch), double(v.absPitch), v.seed, v.frames,
                        v.silenceFrom, v.silenceTo, hash, x.size());
        EXPECT_EQ(x.size(), v.samples) << v.name;
        EXPECT_EQ(hash, v.hash) << v.name << ": 0x" << std::hex << hash;
        EXPECT_GT(orvotest::rms(x), 100.0) << v.name;
    }
}

}  // namespace
