// Numbers in files have a byte order; the host has none.  Every multi-byte
// number that crosses a file boundary goes through these helpers, byte by
// byte, so the code never asks which order the host uses.
#pragma once

#include <cstdint>
#include <cstring>

namespace zef {

inline uint16_t readLE16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t readLE32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint16_t readBE16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
inline uint32_t readBE32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline void writeLE16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void writeLE32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void writeBE16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
inline void writeBE32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (24 - 8 * i));
}
inline float readLEFloat(const uint8_t* p) {
    uint32_t bits = readLE32(p);
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}
inline void writeLEFloat(uint8_t* p, float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    writeLE32(p, bits);
}
inline float readBEFloat(const uint8_t* p) {
    uint32_t bits = readBE32(p);
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}
inline void writeBEFloat(uint8_t* p, float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    writeBE32(p, bits);
}

// A four-character code as a number: its characters read most significant
// first, so fourcc("ZEF!") is 0x5A454621 on every host, the value the
// historical big-endian library stored and a C multi-character constant
// 'ZEF!' has.  writeFourcc puts the characters back in file order.
inline uint32_t fourccValue(const uint8_t* p) { return readBE32(p); }
inline void writeFourcc(uint8_t* p, uint32_t v) { writeBE32(p, v); }
inline uint32_t fourcc(const char (&s)[5]) { return fourccValue(reinterpret_cast<const uint8_t*>(s)); }
inline bool isFourcc(const uint8_t* p, const char (&s)[5]) { return std::memcmp(p, s, 4) == 0; }

// 16-bit samples in host order <-> the other byte order, in place.
inline void swapSamples16(uint8_t* p, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        uint8_t t = p[2 * i];
        p[2 * i] = p[2 * i + 1];
        p[2 * i + 1] = t;
    }
}

// 16-bit samples between a file's byte order and host order, in place.
inline void leSamplesToHost(uint8_t* p, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        int16_t s = int16_t(readLE16(p + 2 * i));
        std::memcpy(p + 2 * i, &s, 2);
    }
}
inline void beSamplesToHost(uint8_t* p, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        int16_t s = int16_t(readBE16(p + 2 * i));
        std::memcpy(p + 2 * i, &s, 2);
    }
}
inline void hostSamplesToLE(uint8_t* p, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        uint16_t s;
        std::memcpy(&s, p + 2 * i, 2);
        writeLE16(p + 2 * i, s);
    }
}
inline void hostSamplesToBE(uint8_t* p, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        uint16_t s;
        std::memcpy(&s, p + 2 * i, 2);
        writeBE16(p + 2 * i, s);
    }
}

}  // namespace zef
