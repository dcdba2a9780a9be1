// Play gain and balance, applied to the sound on its way to the speaker.
// The gain is a linear factor gain/255, so the usual 127 is about -6 dB and
// nothing is ever amplified into clipping.  The balance only lowers a side:
// at 0 the right channel is silent, at 64 the left one.
#include <algorithm>
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

void scaleSample(uint8_t* p, const Format& f, Factor k) {
    switch (f.precision) {
    case 8:
        if (f.encoding == AUDIO_ENCODING_LINEAR8) {
            p[0] = uint8_t(k.apply(int(p[0]) - 128) + 128);
        } else {
            p[0] = uint8_t(int8_t(k.apply(int8_t(p[0]))));
        }
        break;
    case 16: {
        int16_t s;
        std::memcpy(&s, p, 2);
        s = int16_t(k.apply(s));
        std::memcpy(p, &s, 2);
        break;
    }
    case 24: {
        int32_t s = int32_t(uint32_t(p[0]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 24) >> 8;
        uint32_t v = uint32_t(k.apply(s));
        p[0] = uint8_t(v);
        p[1] = uint8_t(v >> 8);
        p[2] = uint8_t(v >> 16);
        break;
    }
    case 32: {
        int32_t s;
        std::memcpy(&s, p, 4);
        s = int32_t(k.apply(s));
        std::memcpy(p, &s, 4);
        break;
    }
    }
}

}  // namespace

void applyGain(uint8_t* frames, size_t count, const Format& f, uint32_t gain, uint8_t balance) {
    if (gain > AUDIO_MAX_GAIN) gain = AUDIO_MAX_GAIN;
    if (balance > AUDIO_RIGHT_BALANCE) balance = AUDIO_RIGHT_BALANCE;
    bool stereo = f.channels >= 2;
    if (gain == AUDIO_MAX_GAIN && (!stereo || balance == AUDIO_MID_BALANCE)) return;

    const int64_t mid = AUDIO_MID_BALANCE;
    Factor plain{gain, AUDIO_MAX_GAIN};
    Factor left{gain * std::min<int64_t>(mid, AUDIO_RIGHT_BALANCE - balance), AUDIO_MAX_GAIN * mid};
    Factor right{gain * std::min<int64_t>(mid, balance), AUDIO_MAX_GAIN * mid};
    size_t width = f.sampleBytes();
    for (size_t i = 0; i < count; ++i) {
        uint8_t* frame = frames + i * f.frameBytes();
        for (uint32_t c = 0; c < f.channels; ++c) {
            Factor k = !stereo ? plain : c == 0 ? left : c == 1 ? right : plain;
            scaleSample(frame + c * width, f, k);
        }
    }
}

}  // namespace zef::audio
