// Frames packed by the compression session's packer come back field for
// field through the decoder's frame reader, wherever in a byte a frame
// starts: Orvo frames of 54 bits, Peln frames of 67 bits, least
// significant bit first, no alignment between frames.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "cmpsession.h"
#include "mirlane.h"
#include "zefinternal.h"

namespace {

struct Codec {
    const char* name;
    uint16_t number;
    std::vector<uint8_t> widths;  // the bit allocation, in frame order
    unsigned frameBits;
};

const Codec kOrvo{"Orvo", 1284, {4, 8, 6, 3, 4, 4, 4, 4, 4, 3, 3, 3, 3, 1}, 54};
const Codec kPeln{"Peln", 5409, {4, 8, 5, 5, 5, 5, 4, 4, 4, 3, 3, 3, 3, 3, 3, 5}, 67};

using Frame = std::vector<uint8_t>;

std::vector<Frame> randomFrames(const Codec& c, int count, std::mt19937& rng) {
    std::vector<Frame> frames(count);
    for (Frame& f : frames)
        for (uint8_t w : c.widths) f.push_back(uint8_t(rng() & ((1u << w) - 1)));
    return frames;
}

// `lead` filler bits, then the frames, packed as the session packs them:
// field by field, whole bytes taken after each field.
std::vector<uint8_t> pack(const Codec& c, const std::vector<Frame>& frames, unsigned lead) {
    zef::BitPacker p{};
    std::vector<uint8_t> out;
    auto drain = [&] {
        uint8_t b = 0;
        while (zef::TakeByte(&p, &b)) out.push_back(b);
    };
    if (lead) zef::PackBits(&p, 0x55, lead);
    for (const Frame& f : frames)
        for (size_t i = 0; i < f.size(); ++i) {
            zef::PackBits(&p, f[i], c.widths[i]);
            drain();
        }
    zef::PadToByte(&p);
    drain();
    return out;
}

void le16(std::vector<uint8_t>& b, uint32_t v) { for (int i = 0; i < 2; ++i) b.push_back(uint8_t(v >> (8 * i))); }
void le32(std::vector<uint8_t>& b, uint32_t v) { for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i))); }
void id(std::vector<uint8_t>& b, const char* t) { for (int i = 0; i < 4; ++i) b.push_back(uint8_t(t[i])); }

// A raw stream: "ZEF!" with an unknown frame count, then "ZEFd".
std::vector<uint8_t> rawStream(const Codec& c, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> b;
    id(b, "ZEF!");
    le32(b, 40);
    le16(b, c.number);
    le16(b, 180);
    le16(b, 2);
    le16(b, 0);
    le32(b, 6);
    for (int i = 0; i < 7; ++i) le32(b, 0);  // frames, unused, rate (below), header values
    b[28] = 0x40, b[29] = 0x1F;               // 8000 Hz
    id(b, "ZEFd");
    le32(b, uint32_t(data.size()));
    for (uint8_t v : data) b.push_back(v);
    return b;
}

struct Unpacked {
    std::vector<Frame> frames;
    std::vector<uint8_t> widths;
};

uint16_t collect(uint16_t, uint16_t status, void* data) {
    auto* kd = static_cast<KELVANE_DATA*>(data);
    if (status != KELVANE_STATUS_FRAME) return 0;
    auto* u = reinterpret_cast<Unpacked*>(kd->dwUserData);
    const auto* cb = static_cast<const zef::ZefControlBlock*>(kd->lpControlBlock);
    u->frames.emplace_back(cb->bFieldCodes, cb->bFieldCodes + cb->wFieldCount);
    u->widths.assign(cb->lpFieldWidths, cb->lpFieldWidths + cb->wFieldCount);
    return 0;
}

// Decodes the stream with its first frame at bit `lead` of the first data
// byte and returns the field codes the decoder read for each frame.
Unpacked unpack(std::vector<uint8_t> stream, unsigned lead, size_t frames) {
    Unpacked u;
    KELVANE_DATA kd{};
    kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
    kd.fWarpedLengthFactor = 1.0f;
    kd.dwInputType = 0x20201;
    kd.lpInputLocation = stream.data();
    kd.dwInputSize = uint32_t(stream.size());
    std::vector<uint8_t> pcm((frames + 2) * 360);
    kd.dwOutputType = 0x20200;
    kd.lpOutputLocation = pcm.data();
    kd.dwOutputSize = uint32_t(pcm.size());
    kd.dwUserData = reinterpret_cast<uintptr_t>(&u);
    kd.lpCallback = collect;
    EXPECT_EQ(dcmpZefInit(&kd), 0);
    KELVANE_ATTRIBUTE position{KELVANE_ATTR_BIT_POSITION, 0.0f, lead};
    EXPECT_EQ(utilMirlaneSetAttribute(&kd, &position), 0);
    kd.dwOutputBytesUsed = 0;
    EXPECT_EQ(dcmpZefConvert(&kd), 0);
    EXPECT_EQ(kd.dwOutputBytesUsed, frames * 360);
    EXPECT_EQ(dcmpZefFree(&kd), 0);
    return u;
}

}  // namespace

TEST(FramePacking, EveryFieldComesBackAtEveryBitOffset) {
    std::mt19937 rng(20240917);
    for (const Codec* c : {&kOrvo, &kPeln}) {
        unsigned sum = 0;
        for (uint8_t w : c->widths) sum += w;
        ASSERT_EQ(sum, c->frameBits) << c->name;
        bool startsAt[8] = {};
        // The filler moves the first frame; the frames' own length moves
        // the others (Orvo's 54 bits alone reach only even offsets).
        for (unsigned lead = 0; lead < 8; ++lead) {
            const auto frames = randomFrames(*c, 24, rng);
            const auto data = pack(*c, frames, lead);
            ASSERT_EQ(data.size(), (lead + frames.size() * c->frameBits + 7) / 8) << c->name << " lead " << lead;
            const Unpacked u = unpack(rawStream(*c, data), lead, frames.size());
            EXPECT_EQ(u.widths, c->widths) << c->name;
            ASSERT_EQ(u.frames.size(), frames.size()) << c->name << " lead " << lead;
            for (size_t f = 0; f < frames.size(); ++f) {
                EXPECT_EQ(u.frames[f], frames[f]) << c->name << " lead " << lead << " frame " << f;
                startsAt[(lead + f * c->frameBits) % 8] = true;
            }
        }
        for (bool s : startsAt) EXPECT_TRUE(s) << c->name;
    }
}

TEST(FramePacking, HighBitsOfACodeNeverSpillIntoTheNextField) {
    zef::BitPacker p{};
    zef::PackBits(&p, 0xFFu, 3);  // only the low three bits belong to the field
    zef::PackBits(&p, 0u, 5);
    uint8_t b = 0;
    ASSERT_TRUE(zef::TakeByte(&p, &b));
    EXPECT_EQ(b, 0x07);
    EXPECT_FALSE(zef::TakeByte(&p, &b));
    zef::PackBits(&p, 1u, 1);
    zef::PadToByte(&p);
    ASSERT_TRUE(zef::TakeByte(&p, &b));
    EXPECT_EQ(b, 0x01);
}
