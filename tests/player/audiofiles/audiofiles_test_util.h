// Helpers for the audio file tests: coded speech files long enough to cross
// the readers' input window, the library's one-shot decode as reference, a
// scratch directory, and reading a whole sound buffer by buffer.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "audiofile.h"
#include "mirlane.h"
#include "zefwriter.h"

namespace aftest {

using Bytes = std::vector<uint8_t>;

inline std::string dataFile(const char* name) { return std::string(ZEF_TEST_DATA_DIR) + "/" + name; }

class ScratchDir {
public:
    ScratchDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "zefaudiofiles-XXXXXX").string();
        path_ = mkdtemp(tmpl.data()) ? tmpl : std::string();
    }
    ~ScratchDir() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    std::string path(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Peln frames with a moving pitch, level and spectrum, voiced and unvoiced.
inline std::vector<zeftest::Frame> pelnSpeechLike(int count) {
    static const uint8_t lsp[10] = {17, 23, 15, 14, 6, 7, 5, 4, 2, 4};
    std::vector<zeftest::Frame> frames;
    for (int i = 0; i < count; ++i) {
        zeftest::Frame f;
        f.push_back(i % 40 < 30 ? 15 : 0);
        f.push_back(uint8_t(60 + (i * 7) % 80));
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
    unsigned frameBlock;      // bytes of the smallest byte-aligned group of frames
    unsigned framesPerBlock;
};

inline const Codec kOrvo{"Orvo", zeftest::orvo, zeftest::orvoSpeechLike, 27, 4};
inline const Codec kPeln{"Peln", zeftest::peln, pelnSpeechLike, 67, 8};

// Offset of the first coded byte: just after the "data" chunk's header.
inline size_t dataOffset(const Bytes& wave) {
    for (size_t i = 12; i + 8 <= wave.size(); ++i)
        if (std::memcmp(&wave[i], "data", 4) == 0) return i + 8;
    return 0;
}

// The library's one-shot decode of a whole coded file held in memory.  The
// library is started for it (a Guisette needs that); it stays started.
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

// Everything a reader delivers until it answers 0 or an error, buffer by
// buffer; counts stay bounded so that a reader that never ends fails the test.
struct Reading {
    std::vector<int> counts;
    Bytes pcm;
    int last = 0;
};

inline Reading readAll(AudioFile& f, int bufferSize, int maxBuffers = 100000) {
    Reading r;
    std::vector<char> buffer(static_cast<size_t>(bufferSize));
    for (int i = 0; i < maxBuffers; ++i) {
        int n = f.readSegment(buffer.data(), bufferSize);
        r.last = n;
        if (n <= 0) break;
        r.counts.push_back(n);
        r.pcm.insert(r.pcm.end(), buffer.begin(), buffer.begin() + n);
    }
    return r;
}

// Every buffer but the last is full: the player plays whole buffers.
inline bool fullBuffers(const Reading& r, int bufferSize) {
    for (size_t i = 0; i + 1 < r.counts.size(); ++i)
        if (r.counts[i] != bufferSize) return false;
    return true;
}

}  // namespace aftest
