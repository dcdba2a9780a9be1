// Helpers for the Orvo decoder tests: a decoder on a hand-made control block
// (as the engine would set it up), frame codes, fixed pseudo-speech, and a
// few measurements on decoded audio.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "codecs.h"
#include "orvo.h"

namespace orvotest {

// Field codes of one frame, in frame order.
struct Frame {
    uint8_t voicing = 15;
    uint8_t pitch = 60;
    uint8_t energy = 30;
    std::array<uint8_t, 10> lsp{5, 10, 7, 6, 5, 6, 2, 3, 2, 4};  // near k x 4000/11 Hz: a flat envelope
    uint8_t spare = 0;
};

inline Frame voicedFrame(uint8_t pitch, uint8_t energy = 30) {
    Frame f;
    f.pitch = pitch;
    f.energy = energy;
    return f;
}

inline Frame unvoicedFrame(uint8_t energy = 30) {
    Frame f;
    f.voicing = 0;
    f.energy = energy;
    return f;
}

// Period in samples that a pitch code stands for (no shift).
inline double periodOf(int pitchCode) { return 125.0 - pitchCode * 109.0 / 255.0; }

class Decoder {
public:
    explicit Decoder(float warp = 1.0f, int mode = 1, int16_t dropGroup = 1) : out_(zef::orvo::kMaxFrame) {
        cb_.dwGuard = zef::kControlBlockGuard;
        cb_.wCodecTag = 0x0504;
        cb_.wDirection = 2;
        cb_.dwCodecRate = 8000;
        cb_.dwOutputRate = 8000;
        cb_.wOutputSampleSize = 2;
        cb_.wSynthesizer = uint16_t(mode);
        cb_.fWarp = warp;
        cb_.wDropGroup = dropGroup;
        cb_.lpOutput = out_.data();
        initResult_ = zef::initDecodeOrvo(&cb_);
        if (initResult_ == 0) initResult_ = zef::initPackOrvo(&cb_);
    }
    ~Decoder() {
        zef::freePackOrvo(&cb_);
        zef::freeDecodeOrvo(&cb_);
    }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    uint32_t initResult() const { return initResult_; }
    zef::ZefControlBlock& cb() { return cb_; }
    zef::orvo::OrvoState& state() { return *zef::orvo::orvoState(&cb_); }

    void setCodes(const Frame& f) {
        uint8_t* c = cb_.bFieldCodes;
        c[0] = f.voicing;
        c[1] = f.pitch;
        c[2] = f.energy;
        for (int k = 0; k < 10; ++k) c[3 + k] = f.lsp[k];
        c[13] = f.spare;
    }

    // unPackOrvo then DecodeOrvo, as the engine runs them; the samples of
    // the frame (empty on failure, with the code in lastError()).
    std::vector<int16_t> decode(const Frame& f) {
        setCodes(f);
        return decodeCurrent();
    }
    std::vector<int16_t> decodeCurrent() {
        lastError_ = zef::unPackOrvo(&cb_);
        if (lastError_ == 0) lastError_ = zef::DecodeOrvo(&cb_);
        if (lastError_) return {};
        return std::vector<int16_t>(out_.begin(), out_.begin() + cb_.wOutputSamples);
    }
    std::vector<int16_t> decodeAll(const std::vector<Frame>& frames) {
        std::vector<int16_t> all;
        for (const Frame& f : frames) {
            std::vector<int16_t> s = decode(f);
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
// unvoiced stretches, loudness contours and slowly moving LSP codes.
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
        f.energy = uint8_t(std::clamp(int(f.energy) + rng.below(9) - 4, 8, 56));
        for (int k = 0; k < 10; ++k) {
            const int top = zef::orvo::kLspBits[k] == 3 ? 7 : 15;
            f.lsp[k] = uint8_t(std::clamp(int(f.lsp[k]) + rng.below(3) - 1, 0, top));
        }
        frames.push_back(f);
    }
    return frames;
}

inline double rms(const int16_t* x, size_t n) {
    double e = 0.0;
    for (size_t i = 0; i < n; ++i) e += double(x[i]) * x[i];
    return n ? std::sqrt(e / double(n)) : 0.0;
}
inline double rms(const std::vector<int16_t>& x) { return rms(x.data(), x.size()); }

// Normalised correlation of x with itself shifted by a lag that may be
// fractional (the shifted copy linearly interpolated): periods of speech are
// rarely whole samples, and a whole-sample lag blurs the upper harmonics.
inline double normalisedCorrelation(const std::vector<int16_t>& x, size_t from, size_t length, double lag) {
    const size_t whole = size_t(lag);
    const double frac = lag - double(whole);
    double xy = 0.0, xx = 0.0, yy = 0.0;
    for (size_t n = from; n < from + length; ++n) {
        const double y = (1.0 - frac) * x[n + whole] + frac * x[n + whole + 1];
        xy += x[n] * y;
        xx += double(x[n]) * x[n];
        yy += y * y;
    }
    return xx > 0.0 && yy > 0.0 ? xy / std::sqrt(xx * yy) : 0.0;
}

// Period from the autocorrelation, searched in steps of 1/20 sample: the
// shortest lag that is a local maximum within 5 % of the best one (so that
// twice the period does not win).
inline double measuredPeriod(const std::vector<int16_t>& x, size_t from, size_t length) {
    constexpr double kStep = 0.05, kFirst = 12.0, kLast = 160.0;
    std::vector<double> r;
    for (double lag = kFirst; lag <= kLast; lag += kStep) r.push_back(normalisedCorrelation(x, from, length, lag));
    const double best = *std::max_element(r.begin(), r.end());
    for (size_t i = 1; i + 1 < r.size(); ++i)
        if (r[i] >= 0.95 * best && r[i] >= r[i - 1] && r[i] >= r[i + 1]) return kFirst + kStep * double(i);
    return 0.0;
}

// Power spectrum (bins of 8000 / size Hz) averaged over Hann-windowed
// blocks of x; a plain DFT, fine for test sizes.
inline std::vector<double> averagedSpectrum(const std::vector<int16_t>& x, size_t from, int size) {
    std::vector<double> power(size / 2 + 1, 0.0);
    const double pi = 3.14159265358979323846;
    for (size_t start = from; start + size <= x.size(); start += size / 2) {
        for (int k = 0; k <= size / 2; ++k) {
            double re = 0.0, im = 0.0;
            for (int n = 0; n < size; ++n) {
                const double w = 0.5 - 0.5 * std::cos(2.0 * pi * n / size);
                const double a = 2.0 * pi * double(k) * n / size;
                re += w * x[start + n] * std::cos(a);
                im -= w * x[start + n] * std::sin(a);
            }
            power[k] += re * re + im * im;
        }
    }
    return power;
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

}  // namespace orvotest
