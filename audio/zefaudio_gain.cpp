// Play gain and balance, applied to the sound on its way to the speaker, and
// the record gain, applied to what is captured.
//
// The play gain is a curve round the middle setting: 127 plays the sound as
// it was decoded, and every 32 steps double or halve it (about 0.19 dB a
// step, 1.3 dB for the player's volume step of 7), so 255 is 16 times (+24
// dB), 1 is 1/15 (-23.6 dB) and 0 is silence.  Samples raised past full
// scale are held there.  The record gain is the linear factor gain/255
// (255 takes the sound as it comes).  The balance only lowers a side: at 0
// the right channel is silent, at 64 the left one.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "zefaudio_backend.h"

namespace zef::audio {

namespace {

// A factor num/den with den > 0 and 0 <= num <= den.
struct Factor {
    int64_t num;
    int64_t den;
    int64_t apply(int64_t s) const { return s * num / den; }  // truncates toward zero
};

constexpr int64_t kUnityQ16 = 65536;

int64_t saturate(int64_t v, int bits) {
    const int64_t top = (int64_t(1) << (bits - 1)) - 1;
    return std::clamp(v, -top - 1, top);
}

void scaleSample(uint8_t* p, const Format& f, Factor k) {
    switch (f.precision) {
    case 8:
        if (f.encoding == AUDIO_ENCODING_LINEAR8) {
            p[0] = uint8_t(saturate(k.apply(int(p[0]) - 128), 8) + 128);
        } else {
            p[0] = uint8_t(int8_t(saturate(k.apply(int8_t(p[0])), 8)));
        }
        break;
    case 16: {
        int16_t s;
        std::memcpy(&s, p, 2);
        s = int16_t(saturate(k.apply(s), 16));
        std::memcpy(p, &s, 2);
        break;
    }
    case 24: {
        int32_t s = int32_t(uint32_t(p[0]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 24) >> 8;
        uint32_t v = uint32_t(saturate(k.apply(s), 24));
        p[0] = uint8_t(v);
        p[1] = uint8_t(v >> 8);
        p[2] = uint8_t(v >> 16);
        break;
    }
    case 32: {
        int32_t s;
        std::memcpy(&s, p, 4);
        s = int32_t(saturate(k.apply(s), 32));
        std::memcpy(p, &s, 4);
        break;
    }
    }
}

// Scales every sample by num/den, one side lowered by the balance.
void scale(uint8_t* frames, size_t count, const Format& f, Factor level, uint8_t balance) {
    if (balance > AUDIO_RIGHT_BALANCE) balance = AUDIO_RIGHT_BALANCE;
    bool stereo = f.channels >= 2;
    if (level.num == level.den && (!stereo || balance == AUDIO_MID_BALANCE)) return;

    const int64_t mid = AUDIO_MID_BALANCE;
    Factor plain = level;
    Factor left{level.num * std::min<int64_t>(mid, AUDIO_RIGHT_BALANCE - balance), level.den * mid};
    Factor right{level.num * std::min<int64_t>(mid, balance), level.den * mid};
    size_t width = f.sampleBytes();
    for (size_t i = 0; i < count; ++i) {
        uint8_t* frame = frames + i * f.frameBytes();
        for (uint32_t c = 0; c < f.channels; ++c) {
            Factor k = !stereo ? plain : c == 0 ? left : c == 1 ? right : plain;
            scaleSample(frame + c * width, f, k);
        }
    }
}

}  // namespace

int64_t playGainQ16(uint32_t gain) {
    if (gain == 0) return 0;
    gain = std::min(gain, AUDIO_MAX_GAIN);
    return std::llround(double(kUnityQ16) * std::exp2((double(gain) - kPlayUnityGain) / kPlayGainDoubling));
}

void applyPlayGain(uint8_t* frames, size_t count, const Format& f, uint32_t gain, uint8_t balance) {
    scale(frames, count, f, Factor{playGainQ16(gain), kUnityQ16}, balance);
}

void applyGain(uint8_t* frames, size_t count, const Format& f, uint32_t gain, uint8_t balance) {
    scale(frames, count, f, Factor{std::min(gain, AUDIO_MAX_GAIN), AUDIO_MAX_GAIN}, balance);
}

}  // namespace zef::audio
