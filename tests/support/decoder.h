// One decoder harness for both codecs: a decoder on a control block set up
// by hand as the engine sets it up, frame codes, and pseudo-speech codes.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "codecs.h"
#include "orvo.h"
#include "peln.h"
#include "pelntables.h"
#include "support.h"

namespace zeftest {

// Field codes of one frame of either codec (Orvo has no shape).
struct Frame {
    uint8_t voicing = 15, pitch = 60, energy = 0;
    std::array<uint8_t, 10> lsp{};
    std::array<uint8_t, 3> shape{};
};

inline double periodOf(int pitchCode) { return 125.0 - pitchCode * 109.0 / 255.0; }

using CB = zef::ZefControlBlock;

struct Orvo {
    using State = zef::orvo::OrvoState;
    static constexpr uint16_t kTag = 0x0504;
    static constexpr uint32_t kErrNotMine = 40002;
    static constexpr int kEnergyLow = 8, kEnergyHigh = 56, kEnergyStep = 4;
    static constexpr uint8_t kEnergy = 30;
    static constexpr std::array<uint8_t, 10> kFlatLsp{5, 10, 7, 6, 5, 6, 2, 3, 2, 4};  // near 4000k/11 Hz
    static uint32_t init(CB* cb) { const uint32_t rc = zef::initDecodeOrvo(cb); return rc ? rc : zef::initPackOrvo(cb); }
    static void release(CB* cb) { zef::freePackOrvo(cb), zef::freeDecodeOrvo(cb); }
    static uint32_t unpack(CB* cb) { return zef::unPackOrvo(cb); }
    static uint32_t decode(CB* cb) { return zef::DecodeOrvo(cb); }
    static State& state(CB* cb) { return *zef::orvo::orvoState(cb); }
    static int lspBits(int k) { return zef::orvo::kLspBits[k]; }
    static double amplitude(int code) { return std::pow(10.0, zef::orvo::GainTable[code]); }
    static void codes(const Frame& f, uint8_t* c) {
        c[0] = f.voicing, c[1] = f.pitch, c[2] = f.energy;
        std::copy(f.lsp.begin(), f.lsp.end(), c + 3);
    }
};

struct Peln {
    using State = zef::peln::PelnState;
    static constexpr uint16_t kTag = 0x1521;
    static constexpr uint32_t kErrNotMine = 50002;
    static constexpr int kEnergyLow = 4, kEnergyHigh = 28, kEnergyStep = 2;
    static constexpr uint8_t kEnergy = 20;
    static constexpr std::array<uint8_t, 10> kFlatLsp{17, 23, 15, 14, 6, 7, 5, 4, 2, 4};  // near 300, 700 .. 3900 Hz
    static uint32_t init(CB* cb) { const uint32_t rc = zef::initDecodePeln(cb); return rc ? rc : zef::initPackPeln(cb); }
    static void release(CB* cb) { zef::freePackPeln(cb), zef::freeDecodePeln(cb); }
    static uint32_t unpack(CB* cb) { return zef::unPackPeln(cb); }
    static uint32_t decode(CB* cb) { return zef::DecodePeln(cb); }
    static State& state(CB* cb) { return *zef::peln::pelnState(cb); }
    static int lspBits(int k) { return zef::peln::kLspBits[k]; }
    // Amplitudes grow with the square root of the coded energy.
    static double amplitude(int code) { return std::pow(10.0, zef::peln::Energy_Peln_TABLE[code] / 2.0); }
    static void codes(const Frame& f, uint8_t* c) {
        c[0] = f.voicing, c[1] = f.pitch, c[15] = f.energy;
        std::copy(f.lsp.begin(), f.lsp.end(), c + 2);
        std::copy(f.shape.begin(), f.shape.end(), c + 12);
    }
};

template <class Codec>
Frame voiced(uint8_t pitch, uint8_t energy = Codec::kEnergy) {
    return Frame{15, pitch, energy, Codec::kFlatLsp, {}};
}
template <class Codec>
Frame unvoiced(uint8_t energy = Codec::kEnergy) {
    return Frame{0, 60, energy, Codec::kFlatLsp, {}};
}

template <class Codec>
class Decoder {
public:
    explicit Decoder(float warp = 1.0f, int16_t dropGroup = 1, int mode = 1) : out_(zef::orvo::kMaxFrame) {
        cb_.dwGuard = zef::kControlBlockGuard, cb_.wCodecTag = Codec::kTag, cb_.wDirection = 2;
        cb_.dwCodecRate = cb_.dwOutputRate = 8000, cb_.wOutputSampleSize = 2, cb_.lpOutput = out_.data();
        cb_.wSynthesizer = uint16_t(mode), cb_.fWarp = warp, cb_.wDropGroup = dropGroup;
        cb_.wFrameOutput = cb_.wNeedFrame = 1;
        initResult_ = Codec::init(&cb_);
    }
    ~Decoder() { Codec::release(&cb_); }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    zef::ZefControlBlock& cb() { return cb_; }
    typename Codec::State& state() { return Codec::state(&cb_); }
    uint32_t initResult() const { return initResult_; }
    uint32_t lastError() const { return lastError_; }
    void setCodes(const Frame& f) { Codec::codes(f, cb_.bFieldCodes); }

    // One engine call (unpack, then decode) on the codes in place: the
    // samples it finished (none when it finished no block or failed).
    Samples call() {
        lastError_ = Codec::unpack(&cb_);
        if (!lastError_) lastError_ = Codec::decode(&cb_);
        if (lastError_ || !cb_.wFrameOutput) return {};
        return Samples(out_.begin(), out_.begin() + cb_.wOutputSamples);
    }
    Samples decode(const Frame& f) { return setCodes(f), call(); }
    // The parameters the unpacking step alone makes of a frame's codes.
    const auto& unpack(const Frame& f) {
        setCodes(f);
        EXPECT_EQ(Codec::unpack(&cb_), 0u);
        return state().frame;
    }
    // As a session decodes: a new frame only when the decoder asks for one.
    Samples decodeAll(const std::vector<Frame>& frames) {
        Samples all;
        size_t next = 0;
        while (next < frames.size() || !cb_.wNeedFrame) {
            if (cb_.wNeedFrame) setCodes(frames[next++]);
            const Samples s = call();
            if (lastError_) break;
            all.insert(all.end(), s.begin(), s.end());
        }
        return all;
    }
    Samples steady(const Frame& f, int frames) { return decodeAll(std::vector<Frame>(size_t(frames), f)); }

private:
    zef::ZefControlBlock cb_{};
    Samples out_;
    uint32_t initResult_ = 0, lastError_ = 0;
};

// xorshift32: the standard distributions differ between libraries.
struct Rng {
    uint32_t s;
    int below(int n) { return s ^= s << 13, s ^= s >> 17, s ^= s << 5, int(s % uint32_t(n)); }
};

// Voiced and unvoiced stretches, wandering pitch and loudness, slowly
// moving LSP codes, random shapes.
template <class Codec>
std::vector<Frame> pseudoSpeech(int count, uint32_t seed) {
    Rng rng{seed};
    std::vector<Frame> frames;
    Frame f = voiced<Codec>(60);
    bool isVoiced = true;
    for (int i = 0, stretch = 0; i < count; ++i) {
        if (stretch-- <= 0) {
            isVoiced = rng.below(3) != 0;
            stretch = 4 + rng.below(16);
            f.pitch = uint8_t(20 + rng.below(120));
        }
        f.voicing = uint8_t(isVoiced ? 10 + rng.below(6) : rng.below(3));
        f.pitch = uint8_t(std::clamp(f.pitch + rng.below(7) - 3, 0, 255));
        const int step = Codec::kEnergyStep;
        f.energy = uint8_t(std::clamp(f.energy + rng.below(2 * step + 1) - step, Codec::kEnergyLow, Codec::kEnergyHigh));
        for (int k = 0; k < 10; ++k)
            f.lsp[k] = uint8_t(std::clamp(f.lsp[k] + rng.below(3) - 1, 0, (1 << Codec::lspBits(k)) - 1));
        for (uint8_t& s : f.shape) s = uint8_t(rng.below(8));
        frames.push_back(f);
    }
    return frames;
}

}  // namespace zeftest
