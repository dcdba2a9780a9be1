// The description of a PCM stream that every AudioFile fills and the player
// and the audio device read: the 28 bytes of a Sun audio header followed by
// the player's own five words.  In memory every word is host order; a Sun
// audio file holds the same record big-endian (AuConvert::catAttr).
#pragma once

#include <cstdint>

struct SNDSoundStruct {
    uint32_t magic;         // ".snd": kSndMagic
    uint32_t dataLocation;  // kSndHeaderSize
    uint32_t dataSize;      // bytes of sound data
    uint32_t dataFormat;    // Sun encoding: kSndLinear8, kSndLinear16 (4 and 5: 24 and 32 bits)
    uint32_t samplingRate;  // samples per second
    uint32_t channelCount;
    char info[4];           // "SUN" and its terminating zero
    uint32_t sampleCount;
    uint32_t bytesPerSample;
    uint32_t attrFlags;     // kSndAttrFlags
    uint32_t reserved;
    float duration;         // seconds: sampleCount / samplingRate
};

constexpr uint32_t kSndMagic = 0x2e736e64;  // the bytes ".snd" read big-endian
constexpr uint32_t kSndHeaderSize = 48;
constexpr uint32_t kSndMinHeaderSize = 24;  // a Sun audio header without annotation
constexpr uint32_t kSndLinear8 = 2;
constexpr uint32_t kSndLinear16 = 3;
constexpr uint32_t kSndAttrFlags = 0x01000001;
constexpr uint32_t kSndUnknownSize = 0xFFFFFFFF;  // a Sun file's "size not known"

static_assert(sizeof(SNDSoundStruct) == kSndHeaderSize, "SNDSoundStruct is the 48-byte record");
