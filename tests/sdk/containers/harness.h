// A session built by hand (control structure, control block, input and
// output records, guards set) so the container code runs without the
// endpoints, and a byte builder for headers.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "byteorder.h"
#include "zefapi.h"

namespace ct {

struct Bytes : std::vector<uint8_t> {
    Bytes() = default;
    Bytes(std::initializer_list<uint8_t> b) : std::vector<uint8_t>(b) {}
    explicit Bytes(std::vector<uint8_t> b) : std::vector<uint8_t>(std::move(b)) {}
    Bytes& id(const char* s) { return str(s, 4); }
    Bytes& str(const char* s, size_t n) {
        for (size_t i = 0; i < n; ++i) push_back(uint8_t(s[i]));  // a range insert trips g++ 12 at -O2
        return *this;
    }
    Bytes& le16(uint16_t v) { push_back(uint8_t(v)); push_back(uint8_t(v >> 8)); return *this; }
    Bytes& le32(uint32_t v) { le16(uint16_t(v)); return le16(uint16_t(v >> 16)); }
    Bytes& be16(uint16_t v) { push_back(uint8_t(v >> 8)); push_back(uint8_t(v)); return *this; }
    Bytes& be32(uint32_t v) { be16(uint16_t(v >> 16)); return be16(uint16_t(v)); }
    Bytes& f32(float f) { uint32_t u; std::memcpy(&u, &f, 4); return le32(u); }
    Bytes& add(const std::vector<uint8_t>& b) { insert(end(), b.begin(), b.end()); return *this; }
    Bytes& zeros(size_t n) { insert(end(), n, 0); return *this; }
    // A chunk: identifier, size (little- or big-endian), contents, pad byte
    // after odd contents when asked.
    Bytes& chunk(const char* name, const std::vector<uint8_t>& body, bool pad = false) {
        id(name).le32(uint32_t(body.size())).add(body);
        if (pad && (body.size() & 1)) push_back(0);
        return *this;
    }
    Bytes& chunkBE(const char* name, const std::vector<uint8_t>& body) {
        id(name).be32(uint32_t(body.size())).add(body);
        if (body.size() & 1) push_back(0);
        return *this;
    }
};

inline uint32_t cc(const char (&s)[5]) { return zef::fourcc(s); }

struct Session {
    KELVANE_DATA kd{};
    zef::ZefControlBlock cb{};
    zef::InputVars in{};
    zef::OutputVars out{};
    std::vector<uint8_t> input, output;

    explicit Session(uint32_t inputType, uint32_t outputType = 0x20200) {
        kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
        kd.dwInputType = inputType;
        kd.dwOutputType = outputType;
        kd.lpControlBlock = &cb;
        cb.dwGuard = zef::kControlBlockGuard;
        cb.lpKelvaneData = &kd;
        cb.lpInputVars = &in;
        cb.lpOutputVars = &out;
        in.dwGuard = zef::kInputGuard;
        out.dwGuard = zef::kOutputGuard;
    }
    Session(const Session&) = delete;
    ~Session() { zef::FreeMarkers(&in); }

    // The input holds exactly these bytes, so reading past them is caught.
    void setInput(const std::vector<uint8_t>& bytes) {
        input = bytes;
        in.lpBase = input.data();
        in.dwTotal = in.dwValid = uint32_t(input.size());
        in.dwReadPos = 0;
    }
    void setOutput(uint32_t capacity) {
        output.assign(capacity, 0xEE);
        out.lpBase = output.data();
        out.dwCapacity = capacity;
        out.dwWritePos = 0;
    }
    std::vector<uint8_t> written() const { return {output.begin(), output.begin() + out.dwWritePos}; }
};

// The "ZEF!" chunk of an Orvo stream.
inline Bytes zefBang(uint16_t codec = 1284, uint32_t frames = 10, uint32_t rate = 8000) {
    Bytes b;
    b.le16(codec).le16(180).le16(2).le16(0).le32(6).le32(frames).le32(0).le32(rate);
    b.f32(2.0f).f32(1.0f).f32(3.0f).f32(4.0f);
    return Bytes().chunk("ZEF!", b);
}

// A WAVE file of coded speech: "fmt " with the 16-byte header (and a
// Guisette chunk when asked), then "data" holding `data`.
inline Bytes zefWave(const std::vector<uint8_t>& data, const char* codec = "ZEFa", uint16_t compat = 0,
                     int guisette = -1) {
    Bytes fmt;
    fmt.le16(98).le16(1).le32(8000).le32(300).le16(2).le16(16).le16(guisette >= 0 ? 26 : 16);
    fmt.id("ZEF.").le32(8).le16(0).le16(compat).id(codec);
    if (guisette >= 0) fmt.id("ZEfG").le32(2).le16(uint16_t(guisette));
    Bytes body;
    body.id("WAVE").chunk("fmt ", fmt).chunk("data", data);
    return Bytes().chunk("RIFF", body);
}

inline Bytes pcmWave(const std::vector<uint8_t>& data, uint16_t bits = 16, uint16_t channels = 1) {
    Bytes fmt;
    fmt.le16(1).le16(channels).le32(8000).le32(8000u * channels * bits / 8).le16(uint16_t(channels * bits / 8)).le16(bits);
    Bytes body;
    body.id("WAVE").chunk("fmt ", fmt).chunk("data", data, true);
    return Bytes().chunk("RIFF", body);
}

}  // namespace ct
