// The compression session: every input and output form gives the same
// speech, streaming in pieces, bad input, the packer, Guisettes, voice
// activity and automatic gain before encoding.
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

// Fed in pieces (one sample, or odd ones that split a sample) into an
// output with room for a frame or two at a time, the session gives the
// one-shot stream; only the header's frame count and data size stay 0, as
// bytes handed out cannot be rewritten.  A caller may hand over each piece
// alone or the whole buffer again with the bytes used so far (`resume`).
// An output without room for the header is refused at once.
TEST(CompressSession, StreamingInPiecesGivesTheOneShotStream) {
    const Bytes pcm = bytes16(speechLike(4000));
    struct Row { uint32_t settings; size_t piece, room; bool resume; };
    for (const Row r : {Row{KELVANE_CODEC_LUMO_8K, 333, 16, false}, Row{KELVANE_CODEC_PELN_HQ, 333, 16, true},
                        Row{KELVANE_CODEC_LUMO_8K, 2, 4096, true}, Row{KELVANE_CODEC_PELN_HQ, 8000, 4096, false}}) {
        SCOPED_TRACE(testing::Message() << r.settings << ", pieces of " << r.piece << ", room " << r.room
                                        << (r.resume ? ", resumed" : ""));
        Bytes whole = Compress(pcm, kRawBuffer, kRawZefBuffer, r.settings).run();
        Compress c(pcm, kRawBuffer, kRawZefBuffer, r.settings);
        c.dwInputSize = uint32_t(std::min(r.piece, pcm.size()));
        c.dwOutputSize = 16;
        ASSERT_EQ(cmpZefInit(&c), ZEFERR_PRIME_TIME);
        EXPECT_EQ(c.dwSecondaryError, kRawHeader);
        ASSERT_EQ(cmpMirlaneCleanup(&c), 0);
        c.dwOutputSize = kRawHeader;
        c.dwOutputBytesUsed = 0;
        ASSERT_EQ(cmpZefInit(&c), 0);
        Bytes got(c.out.begin(), c.out.begin() + c.dwOutputBytesUsed);
        size_t at = c.dwInputBytesUsed;
        for (int idle = 0; at < pcm.size() && idle < 3;) {
            const size_t from = r.resume ? 0 : at, written = r.resume ? got.size() : 0;
            c.input(kRawBuffer, c.in.data() + from, uint32_t(std::min(at + r.piece, pcm.size()) - from));
            c.output(kRawZefBuffer, c.out.data(), uint32_t(written + r.room));
            c.dwInputBytesUsed = uint32_t(at - from);
            c.dwOutputBytesUsed = uint32_t(written);
            ASSERT_EQ(cmpZefConvert(&c), 0) << "at byte " << at;
            idle = from + c.dwInputBytesUsed > at || c.dwOutputBytesUsed > written ? 0 : idle + 1;
            at = from + c.dwInputBytesUsed;
            got.insert(got.end(), c.out.begin() + long(written), c.out.begin() + c.dwOutputBytesUsed);
        }
        ASSERT_EQ(at, pcm.size()) << "the session stopped taking input";
        const size_t written = r.resume ? got.size() : 0;
        c.output(kRawZefBuffer, c.out.data(), uint32_t(c.out.size()));
        c.dwOutputBytesUsed = uint32_t(written);
        ASSERT_EQ(cmpZefFree(&c), 0);
        got.insert(got.end(), c.out.begin() + long(written), c.out.begin() + c.dwOutputBytesUsed);
        for (size_t field : {20, 52}) std::fill_n(whole.begin() + long(field), 4, 0);
        EXPECT_EQ(got, whole);
        const size_t bits = (4000 + 179) / 180 * (r.settings == KELVANE_CODEC_PELN_HQ ? 67 : 54);
        EXPECT_EQ(got.size(), kRawHeader + ((bits + 7) / 8 + 1) / 2 * 2)
            << "the last bits padded to a byte, then to 2-byte blocks";
    }
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

uint32_t attribute(KELVANE_DATA* kd, uint32_t id) {
    KELVANE_ATTRIBUTE a{id, 0.0f, 0};
    EXPECT_EQ(utilMirlaneGetAttribute(kd, &a), 0);
    return a.dwValue;
}

// A streamed compression with attributes set after initialisation: the
// coded stream, what each frame's callback read, and the samples the
// encoder was given.
struct Traced {
    Bytes coded;
    Samples encoded;
    std::vector<uint32_t> gains, decisions;
};

Traced traced(const Samples& pcm, const std::vector<std::pair<uint32_t, uint32_t>>& attrs, uint32_t settings = 0) {
    Traced t;
    Compress c(bytes16(pcm), kRawBuffer, kZefWaveBuffer, settings);
    c.dwUserData = reinterpret_cast<uintptr_t>(&t);
    c.lpCallback = [](uint16_t, uint16_t status, void* data) -> uint16_t {
        auto* kd = static_cast<KELVANE_DATA*>(data);
        auto& t = *reinterpret_cast<Traced*>(kd->dwUserData);
        if (status != KELVANE_STATUS_FRAME) return 0;
        const int16_t* frame = zef::controlBlock(kd)->lpEncodeInput;
        t.encoded.insert(t.encoded.end(), frame, frame + kFrame);
        t.gains.push_back(attribute(kd, KELVANE_ATTR_AGC_VALUE));
        EXPECT_EQ(attribute(kd, KELVANE_ATTR_AGC_VALUE), 0u) << "the gain reads once";
        t.decisions.push_back(attribute(kd, KELVANE_ATTR_VAD_DECISION));
        return 0;
    };
    t.coded = c.stream([&] {
        for (auto [id, value] : attrs) {
            KELVANE_ATTRIBUTE a{id, 0.0f, value};
            EXPECT_EQ(utilMirlaneSetAttribute(&c, &a), 0);
        }
    });
    return t;
}

// Set through the session: the decision reads 1 over the burst and the
// hangover after it (8 frames, or 0x80004), and only with a threshold do the
// inactive frames decode as silence; a threshold of 0 changes nothing.
TEST(VoiceActivity, AThresholdCodesInactiveFramesAsSilence) {
    struct Row { uint32_t settings, threshold, hangover; size_t activeEnd; };
    const Row rows[] = {{KELVANE_CODEC_LUMO_8K, 0, 0, 74}, {KELVANE_CODEC_LUMO_8K, 9, 0, 74},
                        {KELVANE_CODEC_PELN_HQ, 9, 4, 70}};
    const Samples in = burst();
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.settings << ", threshold " << r.threshold << ", hangover " << r.hangover);
        const Traced t = traced(in, {{KELVANE_ATTR_VAD_THRESHOLD, r.threshold},
                                     {KELVANE_ATTR_VAD_SENSITIVITY, r.hangover}}, r.settings);
        const Samples speech = decoded(t.coded);
        ASSERT_EQ(speech.size(), in.size());
        ASSERT_EQ(t.decisions.size(), in.size() / kFrame);
        for (size_t n = 0; n < t.decisions.size(); ++n) {
            EXPECT_EQ(t.decisions[n], n >= 44 && n < r.activeEnd ? 1u : 0u) << "frame " << n;
            const bool clear = (n >= 8 && n < 40) || n >= r.activeEnd + 2;  // of the decoder's start and the burst
            const bool silent = rms(speech.data() + n * kFrame, kFrame) < 3;  // -80 dBFS; the noise decodes at -64
            EXPECT_TRUE(!clear || silent == (r.threshold != 0)) << "frame " << n;
        }
        const Bytes plain = Compress(bytes16(in), kRawBuffer, kZefWaveBuffer, r.settings).run();
        EXPECT_TRUE(r.threshold || speech == decoded(plain));
    }
}

// A steady 400 Hz tone (nine periods a frame) at the given level in dBFS.
Samples toneAt(size_t frames, double db) {
    return sine(frames * kFrame, 400, 32768 * std::pow(10, (db + 3.0103) / 20));
}

// The gain per frame n (from 1) in dB: mode 0 aims at -18 dBFS, mode N at
// -N; it falls by half the distance a frame, rises 0.25 dB a frame, stays
// within +-20 dB, is held on frames below -65 dBFS and lets no sample pass
// 98 % of full scale.  Off until a mode is set, and while it is negative.
TEST(AutomaticGain, FollowsItsTargetAtItsPaceWithoutClipping) {
    Samples clicks(120 * kFrame, 0);  // -26.8 dBFS with peaks of 20000
    for (size_t at = 90; at < clicks.size(); at += kFrame) clicks[at] = 20000;
    using Attrs = std::vector<std::pair<uint32_t, uint32_t>>;
    const Attrs mode0{{KELVANE_ATTR_AGC_MODE, 0}};
    struct Row { const char* name; Samples in; Attrs attrs; double (*db)(int n); };
    const Row rows[] = {
        {"quiet, capped at +20 dB", toneAt(100, -40), mode0, [](int n) { return std::min(20.0, 0.25 * n); }},
        {"loud, down to -18 dBFS", toneAt(30, -6), mode0, [](int n) { return -12 * (1 - std::pow(0.5, n)); }},
        {"mode 30", toneAt(60, -36), {{KELVANE_ATTR_AGC_MODE, 30}}, [](int n) { return std::min(6.0, 0.25 * n); }},
        {"clicks", clicks, mode0, [](int n) { return std::min(0.25 * n, 20 * std::log10(0.98 * 32767 / 20000)); }},
        {"below -65 dBFS: held", toneAt(10, -70), mode0, [](int) { return 0.0; }},
        {"never set", toneAt(10, -40), {}, nullptr},
        {"negative", toneAt(10, -40), {{KELVANE_ATTR_AGC_MODE, uint32_t(-1)}}, nullptr},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const Traced t = traced(r.in, r.attrs);
        ASSERT_EQ(t.gains.size(), r.in.size() / kFrame);
        for (size_t n = 0; n < t.gains.size(); ++n)
            EXPECT_NEAR(t.gains[n], r.db ? 256 * std::pow(10, r.db(int(n + 1)) / 20) : 0, 1.0) << "frame " << n;
        if (!r.db) {
            EXPECT_EQ(t.encoded, r.in);
            continue;
        }
        const Samples lastIn(r.in.end() - kFrame, r.in.end()), lastOut(t.encoded.end() - kFrame, t.encoded.end());
        EXPECT_NEAR(rmsDb(lastOut) - rmsDb(lastIn), r.db(int(t.gains.size())), 0.05) << "the gain is on the samples";
        const auto [low, high] = std::minmax_element(t.encoded.begin(), t.encoded.end());
        EXPECT_LE(std::max(-*low, int(*high)), std::lround(0.98 * 32767));
    }
}

}  // namespace
