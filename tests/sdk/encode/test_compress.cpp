// The compression session: every input and output form gives the same
// speech, bad input, the packer, Guisettes, voice activity before encoding.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>

#include "cmpsession.h"
#include "guisette.h"
#include "session.h"
#include "vcbblock.h"

namespace {

using namespace zeftest;

constexpr uint32_t kRawZefBuffer = ZEFTYPE_FORMAT_RAW | ZEFTYPE_LOCATION_BUFFER | ZEFTYPE_QUALIFIER_ZEF;
constexpr uint32_t kWaveBuffer = ZEFTYPE_FORMAT_WAVE | ZEFTYPE_LOCATION_BUFFER;
constexpr size_t kFrame = 180;
constexpr size_t kRawHeader = 56;  // "ZEF!" chunk and the "ZEFd" head

// A compression of in-memory input; raw input is 16-bit at 8000 Hz.
struct Compress : Kd {
    Bytes in, out;
    Compress(Bytes input, uint32_t inType, uint32_t outType, uint32_t settings = 0) : in(std::move(input)) {
        out.assign(in.size() + 4096, 0);
        this->input(inType, in.data(), uint32_t(in.size()));
        output(outType, out.data(), uint32_t(out.size()));
        if (!(inType & ZEFTYPE_FORMAT_WAVE)) dwInputSamplingRate = 8000, wInputBytesPerSample = 2;
        dwCompressionSettings = settings;
    }
    Bytes run(uint16_t* err = nullptr) {
        const uint16_t e = cmpMirlaneCompress(this);
        if (err) *err = e;
        else EXPECT_EQ(e, 0) << dwSecondaryError;
        out.resize(e ? 0 : dwOutputBytesUsed);
        return out;
    }
    // The streaming triple with the attributes set after initialisation.
    Bytes stream(const std::function<void()>& beforeFrames) {
        EXPECT_EQ(cmpZefInit(this), 0);
        if (beforeFrames) beforeFrames();
        EXPECT_EQ(cmpZefConvert(this), 0);
        const uint32_t used = dwOutputBytesUsed;
        lpOutputLocation = out.data() + used;
        dwOutputSize = uint32_t(out.size() - used);
        dwOutputBytesUsed = 0;
        EXPECT_EQ(cmpZefFree(this), 0);
        out.resize(used + dwOutputBytesUsed);
        return out;
    }
};

Samples decoded(const Bytes& zef, uint32_t type = kZefWaveBuffer) {
    Kd kd;
    kd.wOutputBytesPerSample = 2;  // a packet header says 1
    Samples pcm(200000);
    kd.input(type, zef.data(), uint32_t(zef.size()));
    kd.output(kRawBuffer, pcm.data(), uint32_t(pcm.size() * 2));
    EXPECT_EQ(dcmpMirlaneDecompress(&kd), 0) << kd.dwSecondaryError;
    pcm.resize(kd.dwOutputBytesUsed / 2);
    return pcm;
}

uint32_t le32At(const Bytes& b, size_t at) { return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24; }

TEST(CompressSession, EveryInputAndOutputFormGivesTheSameSpeech) {
    const Samples pcm = speechLike(6000);
    for (uint32_t settings : {KELVANE_CODEC_LUMO_8K, KELVANE_CODEC_PELN_HQ}) {
        SCOPED_TRACE(settings);
        const Bytes asWave = Compress(bytes16(pcm), kRawBuffer, kZefWaveBuffer, settings).run();
        const Bytes asRaw = Compress(bytes16(pcm), kRawBuffer, kRawZefBuffer, settings).run();
        const Bytes asPacket = Compress(bytes16(pcm), kRawBuffer, kZefPacketBuffer, settings).run();
        const Bytes fromWave = Compress(pcmWave(pcm), kWaveBuffer, kRawZefBuffer, settings).run();
        const uint32_t frames = (6000 + 179) / 180;
        const uint16_t codec = settings == KELVANE_CODEC_PELN_HQ ? 5409 : 1284;
        ASSERT_NEAR(double(asRaw.size()), double(kRawHeader + (frames * (codec == 1284 ? 54 : 67) + 7) / 8), 1.0);
        EXPECT_EQ(asRaw, fromWave);
        EXPECT_EQ(asRaw[8] | asRaw[9] << 8, codec);
        EXPECT_EQ(le32At(asRaw, 20), frames);  // rewritten at the end
        EXPECT_EQ(le32At(asRaw, 52), asRaw.size() - kRawHeader);
        const Samples speech = decoded(asWave);
        EXPECT_EQ(speech.size(), frames * 180u);
        EXPECT_EQ(decoded(asRaw, kRawZefBuffer), speech);
        EXPECT_EQ(decoded(asPacket, kZefPacketBuffer), speech);
    }
}

// Both codecs have a fixed bit rate: sessions say so (attribute 9), the packet
// header's flags are 7, and a WAVE file states the nominal byte rate whatever
// its length (a rate measured over a single frame would be far from it).
TEST(CompressSession, FixedBitRateIsStatedByTheSessionAndTheHeaders) {
    const std::tuple<uint32_t, uint32_t> rows[] = {{KELVANE_CODEC_LUMO_8K, 300}, {KELVANE_CODEC_PELN_HQ, 372}};
    for (const auto& [settings, bytesPerSecond] : rows) {
        for (size_t samples : {size_t(180), size_t(6000)}) {
            SCOPED_TRACE(testing::Message() << settings << ", " << samples << " samples");
            const Bytes pcm = bytes16(speechLike(samples));
            const Bytes wave = Compress(pcm, kRawBuffer, kZefWaveBuffer, settings).run();
            EXPECT_EQ(le32At(wave, 28), bytesPerSecond);
            EXPECT_EQ(le32At(Compress(pcm, kRawBuffer, kZefPacketBuffer, settings).run(), 16), 7u);

            KELVANE_ATTRIBUTE compressing{KELVANE_ATTR_FIXED_BIT_RATE, 0.0f, 0}, decoding = compressing;
            Compress c(pcm, kRawBuffer, kZefWaveBuffer, settings);
            c.stream([&] { EXPECT_EQ(utilMirlaneGetAttribute(&c, &compressing), 0); });
            EXPECT_EQ(compressing.dwValue, 1u);
            Kd kd;
            Bytes out(4096);
            kd.input(kZefWaveBuffer, wave.data(), uint32_t(wave.size()));
            kd.output(kRawBuffer, out.data(), uint32_t(out.size()));
            ASSERT_EQ(dcmpZefInit(&kd), 0);
            EXPECT_EQ(utilMirlaneGetAttribute(&kd, &decoding), 0);
            EXPECT_EQ(decoding.dwValue, 1u);
            EXPECT_EQ(dcmpZefFree(&kd), 0);
        }
    }
}

TEST(CompressSession, BadInputGivesErrorsOrValidFiles) {
    EXPECT_TRUE(decoded(Compress(pcmWave(Samples{}), kWaveBuffer, kZefWaveBuffer).run()).empty());
    EXPECT_EQ(decoded(Compress(pcmWave(sine(50, 200, 100)), kWaveBuffer, kZefWaveBuffer).run()).size(), 180u);
    uint16_t err = 0;
    Compress(pcmWave(sine(800, 200, 100), 12000), kWaveBuffer, kZefWaveBuffer).run(&err);
    EXPECT_EQ(err, ZEFERR_BAD_INPUT_SAMPLING_RATE);
    Compress(pcmWave(sine(800, 200, 100)), kWaveBuffer, kZefWaveBuffer, KELVANE_CODEC_ZEFB_8K).run(&err);
    EXPECT_EQ(err, ZEFERR_CODEC_NOT_AVAILABLE);
    Compress(Bytes(100, 0x55), kWaveBuffer, kZefWaveBuffer).run(&err);
    EXPECT_NE(err, 0);
    Compress small(pcmWave(sine(8000, 200, 3000)), kWaveBuffer, kZefWaveBuffer);
    small.dwOutputSize = 100;  // too small for the stream: an error, never a cut file
    EXPECT_NE(cmpMirlaneCompress(&small), 0);
}

// Field by field, least significant bit first, no alignment between frames:
// the packer gives what the decoder's readers are tested against.
TEST(FramePacking, PackerGivesTheStreamBitForBit) {
    std::mt19937 rng(20240917);
    for (const Codec* c : {&orvo(), &peln()}) {
        std::vector<Frame> frames(24);
        zef::BitPacker p{};
        Bytes out;
        uint8_t b = 0;
        for (Frame& f : frames)
            for (uint8_t w : c->widths) {
                f.push_back(uint8_t(rng() & ((1u << w) - 1)));
                zef::PackBits(&p, f.back() | ~0u << w, w);  // high bits never spill into the next field
                while (zef::TakeByte(&p, &b)) out.push_back(b);
            }
        zef::PadToByte(&p);
        while (zef::TakeByte(&p, &b)) out.push_back(b);
        EXPECT_EQ(out, packFrames(*c, frames)) << c->number;
    }
}

TEST(GuisetteCompression, NumberGoesIntoTheFileAndUnknownFails) {
    ZEF_STARTUP r{};
    r.wSize = ZEF_STARTUP_SIZE;
    ASSERT_EQ(zefStartup(&r), 0);
    Compress c(bytes16(vowel(4000, 120, 12000)), kRawBuffer, kZefWaveBuffer);
    c.wGuisette = 105;
    const Bytes zef = c.run();
    const uint8_t chunk[] = {'Z', 'E', 'f', 'G', 2, 0, 0, 0, 105, 0};  // the Guisette chunk
    EXPECT_NE(std::search(zef.begin(), zef.end(), chunk, chunk + 10), zef.end());
    EXPECT_GT(decoded(zef).size(), 3000u);
    Compress bad(bytes16(vowel(1800, 120, 12000)), kRawBuffer, kZefWaveBuffer);
    bad.wGuisette = 999;
    uint16_t err = 0;
    bad.run(&err);
    EXPECT_EQ(err, ZEFERR_GUII_UNKNOWN_GUISETTE);
    EXPECT_EQ(bad.dwSecondaryError, 999u);
    EXPECT_EQ(bad.lpControlBlock, nullptr);
}

// At amount 255 a transposition is ten semitones, so a 120 Hz vowel decodes
// at 120 x 2^(10/12), whichever encoder the session runs.
TEST(GuisetteCompression, TranspositionRaisesTheDecodedPitch) {
    const Samples pcm = vowel(8000, 120, 12000);
    for (uint32_t settings : {KELVANE_CODEC_LUMO_8K, KELVANE_CODEC_PELN_HQ}) {
        Compress c(bytes16(pcm), kRawBuffer, kZefWaveBuffer, settings);
        const Samples out = decoded(c.stream([&] { ASSERT_EQ(zefSetGuisette(&c, 0), 0);
            ASSERT_EQ(zef::SetGuisette(&zef::controlBlock(&c)->guisette, 4, 255), 0); }));
        ASSERT_GE(out.size(), 7000u);
        const double expected = 8000.0 / (120.0 * std::pow(2.0, 10.0 / 12.0));
        EXPECT_NEAR(measuredPeriod(out, 2000, 4000), expected, 0.02 * expected) << settings;
    }
    zefShutdown();
}

// Quiet noise, a tone burst (frames 44-65), quiet noise again.
Samples burst() {
    Samples x = noise(132 * 180, 30, 7);
    const Samples tone = sine(22 * 180, 440, 3000);
    std::copy(tone.begin(), tone.end(), x.begin() + 44 * 180);
    return x;
}

// Frames through the voice block; the decisions and the frames after it.
std::vector<bool> throughVcb(zef::ZefControlBlock& cb, zef::vcb_com_blk& state, Samples& x) {
    std::vector<bool> active;
    for (size_t at = 0; at + kFrame <= x.size(); at += kFrame) {
        zef::VcbProcessFrame(&cb, &state, x.data() + at, int(kFrame));
        active.push_back(cb.dwVadDecision == 1);
    }
    return active;
}

// The decision follows the burst with a hangover of 8 frames; only with a
// threshold are inactive frames silenced, active ones pass untouched.
TEST(VoiceActivity, FlagsAToneBurstAndSilencesOnlyWithAThreshold) {
    for (uint32_t threshold : {0u, 9u}) {
        zef::ZefControlBlock cb{};
        zef::vcb_com_blk state{};
        cb.dwVadThreshold = threshold;
        const Samples in = burst();
        Samples out = in;
        const std::vector<bool> active = throughVcb(cb, state, out);
        for (size_t n = 0; n < active.size(); ++n) {
            SCOPED_TRACE(::testing::Message() << "threshold " << threshold << " frame " << n);
            EXPECT_EQ(active[n], n >= 44 && n < 74);
            const Samples before(in.begin() + long(n * kFrame), in.begin() + long((n + 1) * kFrame));
            const Samples after(out.begin() + long(n * kFrame), out.begin() + long((n + 1) * kFrame));
            EXPECT_EQ(after, threshold && !active[n] ? Samples(kFrame, 0) : before);
        }
    }
}

}  // namespace
