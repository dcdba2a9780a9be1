#include "zefwriter.h"

#include <cmath>
#include <stdexcept>

namespace zeftest {
namespace {

void le16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
}
void le32(std::vector<uint8_t>& v, uint32_t x) {
    le16(v, x & 0xFFFF);
    le16(v, x >> 16);
}
void tag(std::vector<uint8_t>& v, const char* t) {
    for (int i = 0; i < 4; ++i) v.push_back(uint8_t(t[i]));
}

}  // namespace

const Codec& orvo() {
    static const Codec c{1284, "ZEFa", {4, 8, 6, 3, 4, 4, 4, 4, 4, 3, 3, 3, 3, 1}};
    return c;
}
const Codec& peln() {
    static const Codec c{5409, "ZEFg", {4, 8, 5, 5, 5, 5, 4, 4, 4, 3, 3, 3, 3, 3, 3, 5}};
    return c;
}

std::vector<uint8_t> packFrames(const Codec& codec, const std::vector<Frame>& frames) {
    std::vector<uint8_t> out;
    uint64_t bit = 0;
    for (const Frame& f : frames) {
        if (f.size() != codec.widths.size()) throw std::invalid_argument("frame has the wrong field count");
        for (size_t i = 0; i < f.size(); ++i) {
            for (int b = 0; b < codec.widths[i]; ++b, ++bit) {
                if (bit / 8 >= out.size()) out.push_back(0);
                if ((f[i] >> b) & 1) out[bit / 8] |= uint8_t(1u << (bit % 8));
            }
        }
    }
    return out;
}

std::vector<uint8_t> zefWave(const Codec& codec, const std::vector<Frame>& frames, uint16_t guisette) {
    std::vector<uint8_t> data = packFrames(codec, frames);
    uint32_t bits = 0;
    for (uint8_t w : codec.widths) bits += w;
    uint16_t ext = guisette ? 26 : 16;
    std::vector<uint8_t> v;
    tag(v, "RIFF");
    le32(v, 0);  // patched below
    tag(v, "WAVE");
    tag(v, "fmt ");
    le32(v, 18u + ext);
    le16(v, 98);
    le16(v, 1);
    le32(v, 8000);
    le32(v, (bits * 8000 / 180 + 4) / 8);
    le16(v, 1);
    le16(v, 16);
    le16(v, ext);
    tag(v, "ZEF.");
    le32(v, 8);
    le16(v, 0);
    le16(v, 0);
    tag(v, codec.identifier);
    if (guisette) {
        tag(v, "ZEfG");
        le32(v, 2);
        le16(v, guisette);
    }
    tag(v, "fact");
    le32(v, 4);
    le32(v, uint32_t(frames.size() * 180));
    tag(v, "data");
    le32(v, uint32_t(data.size()));
    v.insert(v.end(), data.begin(), data.end());
    if (data.size() % 2) v.push_back(0);
    uint32_t riff = uint32_t(v.size() - 8);
    for (int i = 0; i < 4; ++i) v[4 + i] = uint8_t(riff >> (8 * i));
    return v;
}

std::vector<uint8_t> zefRaw(const Codec& codec, const std::vector<Frame>& frames) {
    std::vector<uint8_t> data = packFrames(codec, frames);
    std::vector<uint8_t> v;
    tag(v, "ZEF!");
    le32(v, 40);
    le16(v, codec.number);
    le16(v, 180);
    le16(v, 2);
    le16(v, 0);
    le32(v, 6);
    le32(v, uint32_t(frames.size()));
    le32(v, 0);
    le32(v, 8000);
    for (int i = 0; i < 4; ++i) le32(v, 0x3F800000);  // header values 1.0
    tag(v, "ZEFd");
    le32(v, uint32_t(data.size()));
    v.insert(v.end(), data.begin(), data.end());
    return v;
}

Frame orvoFrame(uint8_t voicing, uint8_t pitch, uint8_t energy, uint8_t lsp) {
    Frame f{voicing, pitch, energy};
    for (size_t i = 3; i < 13; ++i) f.push_back(uint8_t(lsp & ((1u << orvo().widths[i]) - 1)));
    f.push_back(0);
    return f;
}

std::vector<Frame> orvoSpeechLike(int count) {
    std::vector<Frame> frames;
    for (int i = 0; i < count; ++i) {
        double t = i / 44.4;
        uint8_t voicing = uint8_t((i / 20) % 4 == 3 ? 2 : 14);
        uint8_t pitch = uint8_t(100 + 40 * std::sin(t * 1.3));
        uint8_t energy = uint8_t(30 + 20 * std::sin(t * 4.0) * std::sin(t * 4.0));
        frames.push_back(orvoFrame(voicing, pitch, energy, uint8_t(3 + i % 3)));
    }
    return frames;
}

}  // namespace zeftest
