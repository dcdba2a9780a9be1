// Helpers for the Orvo decoder tests: a decoder on a hand-made control block
// (as the engine sets it up), frame codes, fixed pseudo-speech, and a few
// measurements on decoded audio.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "codecs.h"
#include "orvo.h"

namespace orvotest {

struct Frame {  // field codes in frame order
    uint8_t voicing = 15, pitch = 60, energy = 30;
    std::array<uint8_t, 10> lsp{5, 10, 7, 6, 5, 6, 2, 3, 2, 4};  // near k x 4000/11 Hz: a flat envelope
};

inline Frame voicedFrame(uint8_t pitch, uint8_t energy = 30) { return Frame{15, pitch, energy}; }
inline Frame unvoicedFrame(uint8_t energy = 30) { return Frame{0, 60, energy}; }
inline double periodOf(int pitchCode) { return 125.0 - pitchCode * 109.0 / 255.0; }

class Decoder {
public:
    explicit Decoder(float warp = 1.0f, int mode = 1, int16_t dropGroup = 1) : out_(zef::orvo::kMaxFrame) {
        cb_.wCodecTag = 0x0504;
        cb_.dwCodecRate = cb_.dwOutputRate = 8000;
        cb_.wOutputSampleSize = 2;
        cb_.wSynthesizer = uint16_t(mode);
        cb_.fWarp = warp;
        cb_.wDropGroup = dropGroup;
        cb_.lpOutput = out_.data();
        if (zef::initDecodeOrvo(&cb_) == 0) zef::initPackOrvo(&cb_);
    }
    ~Decoder() {
        zef::freePackOrvo(&cb_);
        zef::freeDecodeOrvo(&cb_);
    }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    zef::ZefControlBlock& cb() { return cb_; }
    zef::orvo::OrvoState& state() { return *zef::orvo::orvoState(&cb_); }

    void setCodes(const Frame& f) {
        uint8_t* c = cb_.bFieldCodes;
        c[0] = f.voicing;
        c[1] = f.pitch;
        c[2] = f.energy;
        std::copy(f.lsp.begin(), f.lsp.end(), c + 3);
    }
    // unPackOrvo then DecodeOrvo, as the engine runs them: the frame's
    // samples, empty on failure (the code in lastError()).
    std::vector<int16_t> decode(const Frame& f) {
        setCodes(f);
        return decodeCurrent();
    }
    std::vector<int16_t> decodeCurrent() {
        lastError_ = zef::unPackOrvo(&cb_);
        if (!lastError_) lastError_ = zef::DecodeOrvo(&cb_);
        if (lastError_) return {};
        return std::vector<int16_t>(out_.begin(), out_.begin() + cb_.wOutputSamples);
    }
    std::vector<int16_t> decodeAll(const std::vector<Frame>& frames) {
        std::vector<int16_t> all;
        for (const Frame& f : frames) {
            const std::vector<int16_t> s = decode(f);
            all.insert(all.end(), s.begin(), s.end());
        }
        return all;
    }
    uint32_t lastError() const { return lastError_; }

private:
    zef::ZefControlBlock cb_{};
    std::vector<int16_t> out_;
    uint32_t lastError_ = 0;
};

// xorshift32: the standard distributions differ between libraries, and the
// regression hashes depend on the codes.
struct Rng {
    uint32_t s;
    int below(int n) {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        return int(s % uint32_t(n));
    }
};

// Speech-like codes: voiced and unvoiced stretches, wandering pitch and
// loudness, slowly moving LSP codes.
inline std::vector<Frame> pseudoSpeech(int count, uint32_t seed) {
    Rng rng{seed};
    std::vector<Frame> frames;
    Frame f;
    bool voiced = true;
    for (int i = 0, stretch = 0; i < count; ++i) {
        if (stretch-- <= 0) {
            voiced = rng.below(3) != 0;
            stretch = 4 + rng.below(16);
            f.pitch = uint8_t(20 + rng.below(120));
        }
        f.voicing = uint8_t(voiced ? 10 + rng.below(6) : rng.below(3));
        f.pitch = uint8_t(std::clamp(f.pitch + rng.below(7) - 3, 0, 255));
        f.energy = uint8_t(std::clamp(f.energy + rng.below(9) - 4, 8, 56));
        for (int k = 0; k < 10; ++k)
            f.lsp[k] = uint8_t(std::clamp(f.lsp[k] + rng.below(3) - 1, 0, (1 << zef::orvo::kLspBits[k]) - 1));
        frames.push_back(f);
    }
    return frames;
}

inline double rms(const std::vector<int16_t>& x) {
    double e = 0.0;
    for (int16_t s : x) e += double(s) * s;
    return x.empty() ? 0.0 : std::sqrt(e / double(x.size()));
}

// SNR of y against x in dB.
inline double snr(const std::vector<int16_t>& x, const std::vector<int16_t>& y) {
    double signal = 0.0, error = 0.0;
    for (size_t n = 0; n < x.size() && n < y.size(); ++n) {
        signal += double(x[n]) * x[n];
        error += double(x[n] - y[n]) * (x[n] - y[n]);
    }
    return 10.0 * std::log10(signal / std::max(error, 1e-9));
}

// Normalised correlation with a copy shifted by a fractional lag (linearly
// interpolated): speech periods are rarely whole samples.
inline double correlation(const std::vector<int16_t>& x, size_t from, size_t length, double lag) {
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

// Period: the shortest lag (searched in tenths of a sample, refined by a
// parabola) that is a local maximum of the correlation within 15 % of the
// best one, so that twice the period loses.
inline double measuredPeriod(const std::vector<int16_t>& x, size_t from, size_t length) {
    constexpr double kStep = 0.1, kFirst = 12.0;
    std::vector<double> r;
    for (double lag = kFirst; lag <= 160.0; lag += kStep) r.push_back(correlation(x, from, length, lag));
    const double best = *std::max_element(r.begin(), r.end());
    for (size_t i = 1; i + 1 < r.size(); ++i) {
        if (r[i] < 0.85 * best || r[i] < r[i - 1] || r[i] < r[i + 1]) continue;
        const double bend = r[i - 1] - 2.0 * r[i] + r[i + 1];
        return kFirst + kStep * (double(i) + (bend < 0.0 ? 0.5 * (r[i - 1] - r[i + 1]) / bend : 0.0));
    }
    return 0.0;
}

// Power spectrum in bins of 8000/256 Hz, summed over half-overlapping
// Hann-windowed blocks from sample `from` on.
inline std::vector<double> spectrum256(const std::vector<int16_t>& x, size_t from) {
    const double pi = 3.14159265358979323846;
    std::vector<double> power(129, 0.0);
    for (size_t start = from; start + 256 <= x.size(); start += 128) {
        for (int k = 0; k <= 128; ++k) {
            double re = 0.0, im = 0.0;
            for (int n = 0; n < 256; ++n) {
                const double w = (0.5 - 0.5 * std::cos(2.0 * pi * n / 256)) * x[start + n];
                re += w * std::cos(2.0 * pi * k * n / 256);
                im -= w * std::sin(2.0 * pi * k * n / 256);
            }
            power[k] += re * re + im * im;
        }
    }
    return power;
}

}  // namespace orvotest
