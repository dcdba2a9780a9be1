// Helpers for the Peln decoder tests: a decoder on a hand-made control block
// (as the engine would set it up), frame codes, and a few measurements on
// decoded audio.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "codecs.h"
#include "peln.h"

namespace pelntest {

// Field codes of one frame, in frame order.
struct Frame {
    uint8_t voicing = 15;
    uint8_t pitch = 60;
    // Within 40 Hz of 300, 700, ..., 3900 Hz: a flat envelope.
    std::array<uint8_t, 10> lsp{17, 23, 15, 14, 6, 7, 5, 4, 2, 4};
    std::array<uint8_t, 3> shape{0, 0, 0};
    uint8_t energy = 20;
};

inline Frame voicedFrame(uint8_t pitch, uint8_t energy = 20) {
    Frame f;
    f.pitch = pitch;
    f.energy = energy;
    return f;
}

inline Frame unvoicedFrame(uint8_t energy = 20) {
    Frame f;
    f.voicing = 0;
    f.energy = energy;
    return f;
}

// The frame's codes in bFieldCodes order.
inline void fieldCodes(const Frame& f, uint8_t* c) {
    c[0] = f.voicing;
    c[1] = f.pitch;
    for (int k = 0; k < 10; ++k) c[2 + k] = f.lsp[k];
    for (int s = 0; s < 3; ++s) c[12 + s] = f.shape[s];
    c[15] = f.energy;
}

// Period in samples that a pitch code stands for (no shift).
inline double periodOf(int pitchCode) { return 125.0 - pitchCode * 109.0 / 255.0; }

class Decoder {
public:
    explicit Decoder(float warp = 1.0f, int16_t dropGroup = 1) : out_(zef::peln::kBlock) {
        cb_.dwGuard = zef::kControlBlockGuard;
        cb_.wCodecTag = 0x1521;
        cb_.wDirection = 2;
        cb_.dwCodecRate = 8000;
        cb_.dwOutputRate = 8000;
        cb_.wOutputSampleSize = 2;
        cb_.fWarp = warp;
        cb_.wDropGroup = dropGroup;
        cb_.lpOutput = out_.data();
        initResult_ = zef::initDecodePeln(&cb_);
        if (initResult_ == 0) initResult_ = zef::initPackPeln(&cb_);
    }
    ~Decoder() {
        zef::freePackPeln(&cb_);
        zef::freeDecodePeln(&cb_);
    }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    uint32_t initResult() const { return initResult_; }
    zef::ZefControlBlock& cb() { return cb_; }
    zef::peln::PelnState& state() { return *zef::peln::pelnState(&cb_); }

    void setCodes(const Frame& f) { fieldCodes(f, cb_.bFieldCodes); }

    // One engine call, unPackPeln then DecodePeln, on the codes in place:
    // the block it finished (empty when none), with the code in lastError().
    std::vector<int16_t> call() {
        lastError_ = zef::unPackPeln(&cb_);
        if (lastError_ == 0) lastError_ = zef::DecodePeln(&cb_);
        if (lastError_ || !cb_.wFrameOutput) return {};
        return out_;
    }

    // Decodes the frames as a session would: a new frame only when the
    // decoder asks for one.  Returns every finished block, in order.
    std::vector<int16_t> decodeAll(const std::vector<Frame>& frames) {
        std::vector<int16_t> all;
        size_t next = 0;
        while (next < frames.size() || !cb_.wNeedFrame) {
            if (cb_.wNeedFrame) setCodes(frames[next++]);
            std::vector<int16_t> s = call();
            if (lastError_) break;
            all.insert(all.end(), s.begin(), s.end());
        }
        return all;
    }
    uint32_t lastError() const { return lastError_; }

private:
    zef::ZefControlBlock cb_{};
    std::vector<int16_t> out_;
    uint32_t initResult_ = 0;
    uint32_t lastError_ = 0;
};

// Small deterministic generator (the standard distributions are not
// the same everywhere, and the regression hashes depend on the codes).
struct Rng {
    uint32_t s;
    uint32_t next() {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        return s;
    }
    int below(int n) { return int(next() % uint32_t(n)); }
};

// Speech-like code sequence: voiced stretches with a wandering pitch,
// unvoiced stretches, loudness contours, slowly moving LSP codes and shapes.
inline std::vector<Frame> pseudoSpeech(int count, uint32_t seed) {
    Rng rng{seed};
    std::vector<Frame> frames;
    Frame f;
    int stretch = 0;
    bool voiced = true;
    for (int i = 0; i < count; ++i) {
        if (stretch-- <= 0) {
            voiced = rng.below(3) != 0;
            stretch = 4 + rng.below(16);
            f.pitch = uint8_t(20 + rng.below(120));
        }
        f.voicing = uint8_t(voiced ? 10 + rng.below(6) : rng.below(3));
        f.pitch = uint8_t(std::clamp(int(f.pitch) + rng.below(7) - 3, 0, 255));
        f.energy = uint8_t(std::clamp(int(f.energy) + rng.below(5) - 2, 4, 28));
        for (int k = 0; k < 10; ++k) {
            const int top = (1 << zef::peln::kLspBits[k]) - 1;
            f.lsp[k] = uint8_t(std::clamp(int(f.lsp[k]) + rng.below(3) - 1, 0, top));
        }
        for (uint8_t& s : f.shape) s = uint8_t(rng.below(8));
        frames.push_back(f);
    }
    return frames;
}

inline double rms(const int16_t* x, size_t n) {
    double e = 0.0;
    for (size_t i = 0; i < n; ++i) e += double(x[i]) * x[i];
    return n ? std::sqrt(e / double(n)) : 0.0;
}

inline double normalisedCorrelation(const std::vector<int16_t>& x, size_t from, size_t length, int lag) {
    double xy = 0.0, xx = 0.0, yy = 0.0;
    for (size_t n = from; n < from + length; ++n) {
        xy += double(x[n]) * x[n + lag];
        xx += double(x[n]) * x[n];
        yy += double(x[n + lag]) * x[n + lag];
    }
    return xx > 0.0 && yy > 0.0 ? xy / std::sqrt(xx * yy) : 0.0;
}

// Period from the autocorrelation: the shortest lag whose correlation comes
// within 20 % of the best one (a period between two whole lags costs the
// high harmonics much of their correlation), refined by a parabola through
// its neighbours.
inline double measuredPeriod(const std::vector<int16_t>& x, size_t from, size_t length) {
    std::vector<double> r(161, 0.0);
    for (int lag = 12; lag <= 160; ++lag) r[lag] = normalisedCorrelation(x, from, length, lag);
    const double best = *std::max_element(r.begin() + 13, r.end() - 1);
    for (int lag = 13; lag < 160; ++lag) {
        if (r[lag] >= 0.8 * best && r[lag] >= r[lag - 1] && r[lag] >= r[lag + 1]) {
            const double a = r[lag - 1], b = r[lag], c = r[lag + 1];
            const double denom = a - 2.0 * b + c;
            return lag + (denom != 0.0 ? 0.5 * (a - c) / denom : 0.0);
        }
    }
    return 0.0;
}

// FNV-1a over the samples, low byte first.
inline uint64_t fnv1a(const std::vector<int16_t>& x) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (int16_t s : x) {
        const uint16_t u = uint16_t(s);
        for (int b = 0; b < 2; ++b) {
            h ^= (u >> (8 * b)) & 0xffu;
            h *= 0x100000001b3ull;
        }
    }
    return h;
}

}  // namespace pelntest
