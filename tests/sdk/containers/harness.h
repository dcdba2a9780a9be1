// A session built by hand (control structure, control block, input and
// output records, guards set) so that the container code runs without the
// endpoints, and the coded headers the container tests start from.
#pragma once

#include <cstdint>
#include <vector>

#include "byteorder.h"
#include "support.h"
#include "zefapi.h"

namespace ct {

using zeftest::Bytes;
using W = zeftest::ByteWriter;

inline uint32_t cc(const char (&s)[5]) { return zef::fourcc(s); }
inline Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

struct Session {
    KELVANE_DATA kd{};
    zef::ZefControlBlock cb{};
    zef::InputVars in{};
    zef::OutputVars out{};
    Bytes input, output;

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

    // The input holds exactly these bytes, so that reading past them is caught.
    void setInput(const Bytes& bytes) {
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
    Bytes written() const { return {output.begin(), output.begin() + out.dwWritePos}; }
};

// The "ZEF!" chunk of an Orvo stream.
inline Bytes zefBang(uint16_t codec = 1284, uint32_t frames = 10) {
    W b;
    b.le16(codec).le16(180).le16(2).le16(0).le32(6).le32(frames).le32(0).le32(8000);
    b.f32(2.0f).f32(1.0f).f32(3.0f).f32(4.0f);
    return W().chunk("ZEF!", b);
}

// A WAVE file of coded speech: "fmt " with the 16-byte header (and a
// Guisette chunk when asked), then "data" holding `data`.
inline Bytes zefWave(const Bytes& data, const char* codec = "ZEFa", uint16_t compat = 0, int guisette = -1) {
    W fmt;
    fmt.le16(98).le16(1).le32(8000).le32(300).le16(2).le16(16).le16(guisette >= 0 ? 26 : 16);
    fmt.id("ZEF.").le32(8).le16(0).le16(compat).id(codec);
    if (guisette >= 0) fmt.id("ZEfG").le32(2).le16(uint16_t(guisette));
    W body;
    body.id("WAVE").chunk("fmt ", fmt).chunk("data", data);
    return W().chunk("RIFF", body);
}

inline Bytes cut(const Bytes& b, size_t n) { return Bytes(b.begin(), b.begin() + long(n)); }

}  // namespace ct
