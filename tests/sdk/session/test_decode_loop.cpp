// The decode loop: frame counts from the header, the progress callback and
// what it may change, output rates and sample sizes, frame-less decoding and
// the PCM effect of a file's Guisette.
#include "guisette.h"
#include "pcmeffect.h"
#include "pcmwidth.h"
#include "session_util.h"
#include "zefinternal.h"

using namespace sess;

namespace {

const std::vector<Frame>& speech() {
    static const std::vector<Frame> f = zeftest::orvoSpeechLike(30);
    return f;
}

// One-shot decode of a coded image with a recorder attached.
struct Decode {
    Kd kd;
    Recorder rec;
    Bytes out;
    uint16_t result;
    Decode(const Bytes& file, uint32_t type, Recorder r = {}, uint32_t outSize = 0, const Format& f = {})
        : rec(r), out(outSize ? outSize : roomFor(200, f)) {
        apply(kd, f);
        rec.attach(kd);
        kd.input(type, file.data(), uint32_t(file.size()));
        kd.output(kRawBuffer, out.data(), uint32_t(out.size()));
        result = dcmpMirlaneDecompress(&kd);
        out.resize(kd.dwOutputBytesUsed);
    }
};

Bytes prefix(const Bytes& b, size_t n) { return Bytes(b.begin(), b.begin() + long(std::min(n, b.size()))); }

void patchLE32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

size_t find(const Bytes& b, const char* tag) {
    for (size_t i = 0; i + 4 <= b.size(); ++i)
        if (std::memcmp(&b[i], tag, 4) == 0) return i;
    ADD_FAILURE() << tag << " not found";
    return 0;
}

double rms(const std::vector<int16_t>& s, size_t from, size_t count) {
    double sum = 0;
    for (size_t i = from; i < from + count; ++i) sum += double(s[i]) * s[i];
    return std::sqrt(sum / double(count));
}

}  // namespace

// ---- how many frames ------------------------------------------------------------

TEST(FrameCount, TheHeaderCountLimitsTheFramesAndAShortFileEndsCleanly) {
    const Bytes raw = zeftest::zefRaw(zeftest::orvo(), speech());
    const size_t count = 20;  // "ZEF!", size, codec, 180, 2, 0, 6, then the frame count
    const Bytes whole = Decode(raw, ZEFTYPE_FORMAT_RAW | ZEFTYPE_LOCATION_BUFFER | ZEFTYPE_QUALIFIER_ZEF).out;
    ASSERT_EQ(whole.size(), speech().size() * kFrameBytes16);

    Bytes fewer = raw;
    patchLE32(fewer, count, 12);
    Decode d(fewer, ZEFTYPE_FORMAT_RAW | ZEFTYPE_LOCATION_BUFFER | ZEFTYPE_QUALIFIER_ZEF);
    EXPECT_EQ(d.result, 0);
    EXPECT_TRUE(d.out == prefix(whole, 12 * kFrameBytes16));

    // A header that promises more than the file holds, as a buffer and as a
    // file: every whole frame is decoded, then success.
    Bytes more = raw;
    patchLE32(more, count, 500);
    more.resize(more.size() - 3);  // and the last frame cut short
    Decode m(more, ZEFTYPE_FORMAT_RAW | ZEFTYPE_LOCATION_BUFFER | ZEFTYPE_QUALIFIER_ZEF);
    EXPECT_EQ(m.result, 0);
    EXPECT_TRUE(m.out == prefix(whole, 29 * kFrameBytes16));

    ScratchDir dir;
    const std::string path = dir.path("more.zef");
    zeftest::writeFile(path, more);
    Bytes out(roomFor(40));
    Kd kd;
    kd.input(kZefRawFile, path.c_str());
    kd.output(kRawBuffer, out.data(), uint32_t(out.size()));
    EXPECT_EQ(dcmpZefFileToBuffer(&kd), 0);
    EXPECT_EQ(kd.dwSecondaryError, 0u);
    EXPECT_TRUE(prefix(out, kd.dwOutputBytesUsed) == prefix(whole, 29 * kFrameBytes16));
}

TEST(FrameCount, AWaveDataChunkLongerThanTheFileEndsCleanly) {
    Bytes wave = zeftest::zefWave(zeftest::orvo(), speech());
    const Bytes whole = Decode(wave, kZefWaveBuffer).out;
    patchLE32(wave, find(wave, "data") + 4, 100000);
    patchLE32(wave, find(wave, "fact") + 8, 100000 * 180);
    Decode d(wave, kZefWaveBuffer);
    EXPECT_EQ(d.result, 0);
    EXPECT_TRUE(d.out == whole);
}

// ---- the progress callback --------------------------------------------------------

TEST(Callback, StatusesOfAWholeDecode) {
    Decode d(zeftest::zefWave(zeftest::orvo(), speech()), kZefWaveBuffer);
    ASSERT_EQ(d.result, 0);
    std::vector<uint16_t> expected{KELVANE_STATUS_DECOMPRESS_START};
    expected.insert(expected.end(), speech().size(), KELVANE_STATUS_FRAME);
    expected.push_back(KELVANE_STATUS_DECOMPRESS_END);
    EXPECT_EQ(d.rec.statuses, expected);
    EXPECT_EQ(d.kd.dwStatus, uint32_t(KELVANE_STATUS_DECOMPRESS_END));
}

// The level reaches the callback of the next frame: each callback comes
// before its frame is decoded and sees the last frame decoded.
TEST(Callback, TheLevelOfEachFrameIsReportedWithTheNext) {
    struct Levels {
        std::vector<uint16_t> seen;
        static uint16_t call(uint16_t, uint16_t status, void* data) {
            auto* kd = static_cast<KELVANE_DATA*>(data);
            if (status == KELVANE_STATUS_FRAME) reinterpret_cast<Levels*>(kd->dwUserData)->seen.push_back(kd->wLevel);
            return 0;
        }
    } levels;
    const Bytes file = zeftest::zefWave(zeftest::orvo(), speech());
    Bytes out(roomFor(40));
    Kd kd;
    kd.dwUserData = reinterpret_cast<uintptr_t>(&levels);
    kd.lpCallback = &Levels::call;
    kd.input(kZefWaveBuffer, file.data(), uint32_t(file.size()));
    kd.output(kRawBuffer, out.data(), uint32_t(out.size()));
    ASSERT_EQ(dcmpMirlaneDecompress(&kd), 0);
    ASSERT_EQ(levels.seen.size(), speech().size());
    EXPECT_EQ(levels.seen[0], 0);
    for (size_t i = 1; i < speech().size(); ++i) EXPECT_EQ(levels.seen[i], 4 * speech()[i - 1][2]) << i;
}

TEST(Callback, ANonZeroAnswerAbortsWithItsValue) {
    const Bytes file = zeftest::zefWave(zeftest::orvo(), speech());
    const Bytes whole = Decode(file, kZefWaveBuffer).out;

    Decode first(file, kZefWaveBuffer, Recorder{.abortAtFrame = 1, .answer = 7});
    EXPECT_EQ(first.result, ZEFERR_PROCESSING_ABORTED);
    EXPECT_EQ(first.kd.dwSecondaryError, 7u);
    EXPECT_EQ(first.kd.lpControlBlock, nullptr);  // the one-shot call cleans up
    EXPECT_EQ(first.rec.statuses.back(), KELVANE_STATUS_DECOMPRESS_END);

    // In a stream the output before the abort is whole frames, and the next
    // call goes on with the frame that was refused.
    Recorder rec{.abortAtFrame = 6, .answer = 300};
    Kd kd;
    rec.attach(kd);
    Bytes out(roomFor(40));
    kd.input(kZefWaveBuffer, file.data(), uint32_t(file.size()));
    kd.output(kRawBuffer, out.data(), uint32_t(out.size()));
    ASSERT_EQ(dcmpZefInit(&kd), 0);
    EXPECT_EQ(dcmpZefConvert(&kd), ZEFERR_PROCESSING_ABORTED);
    EXPECT_EQ(kd.dwSecondaryError, 300u);
    EXPECT_EQ(kd.dwOutputBytesUsed, 5 * kFrameBytes16);
    EXPECT_TRUE(prefix(out, kd.dwOutputBytesUsed) == prefix(whole, 5 * kFrameBytes16));
    ASSERT_EQ(dcmpZefConvert(&kd), 0);
    EXPECT_TRUE(prefix(out, kd.dwOutputBytesUsed) == whole);
    EXPECT_EQ(dcmpZefFree(&kd), 0);
}

TEST(Callback, AnAnswerToTheStartStatusRefusesTheSession) {
    const Bytes file = zeftest::zefWave(zeftest::orvo(), speech());
    struct Refuse {
        static uint16_t call(uint16_t, uint16_t status, void*) { return status == KELVANE_STATUS_DECOMPRESS_START ? 9 : 0; }
    };
    Kd kd;
    kd.lpCallback = &Refuse::call;
    Bytes out(4000);
    kd.input(kZefWaveBuffer, file.data(), uint32_t(file.size()));
    kd.output(kRawBuffer, out.data(), uint32_t(out.size()));
    EXPECT_EQ(dcmpMirlaneDecompress(&kd), ZEFERR_PROCESSING_ABORTED);
    EXPECT_EQ(kd.dwSecondaryError, 9u);
    EXPECT_EQ(kd.lpControlBlock, nullptr);
}

// The callback runs before each frame is decoded: a warp it sets applies
// from the frame about to be decoded, without the limits of set-up.
TEST(Callback, AWarpSetWhileDecodingTakesEffectAtTheNextFrame) {
    const Bytes file = zeftest::zefWave(zeftest::orvo(), speech());
    Decode d(file, kZefWaveBuffer, Recorder{.warpAtFrame = 11, .newWarp = 2.0f});
    ASSERT_EQ(d.result, 0);
    EXPECT_EQ(d.out.size(), (10 * 180 + 20 * 360) * 2u);
    EXPECT_TRUE(prefix(d.out, 10 * kFrameBytes16) == prefix(Decode(file, kZefWaveBuffer).out, 10 * kFrameBytes16));

    // Beyond what the engine can do the frame fails, and nothing overflows.
    Decode bad(file, kZefWaveBuffer, Recorder{.warpAtFrame = 3, .newWarp = 7.0f}, roomFor(40));
    EXPECT_EQ(bad.result, ZEFERR_DECOMPRESSION);
    EXPECT_EQ(bad.kd.dwSecondaryError, 11141u);
    EXPECT_EQ(bad.kd.lpControlBlock, nullptr);
}

// ---- output rates and sample sizes ---------------------------------------------------

TEST(OutputFormat, EveryAcceptedRateAndSizeGivesItsSampleCount) {
    const Bytes file = zeftest::zefWave(zeftest::orvo(), speech());
    const std::vector<int16_t> at8000 = samples16(Decode(file, kZefWaveBuffer).out);
    for (uint32_t rate : zefAcceptedRates) {
        const double hz = rate > 100000 ? double(rate >> 16) : double(rate);
        for (uint16_t bytes : {1, 2}) {
            SCOPED_TRACE(::testing::Message() << rate << " Hz, " << bytes << " bytes");
            Decode d(file, kZefWaveBuffer, {}, 0, Format{rate, bytes});
            ASSERT_EQ(d.result, 0);
            EXPECT_EQ(d.kd.dwOutputSamplingRate, rate);
            EXPECT_EQ(d.kd.wOutputBytesPerSample, bytes);
            ASSERT_EQ(d.out.size() % bytes, 0u);
            const double expected = speech().size() * 180 * hz / 8000;
            EXPECT_NEAR(double(d.out.size() / bytes), expected, 1.0);
            if (rate == 8000 && bytes == 1) {
                // The same speech, narrowed.
                for (size_t i = 0; i < at8000.size(); ++i)
                    ASSERT_EQ(d.out[i], uint8_t((at8000[i] >> 8) + 128)) << i;
            }
        }
    }
}

// At 44100 Hz a frame becomes 992 or 993 samples, 992.25 on average.
TEST(OutputFormat, FramesAt44100AverageExactly) {
    const Bytes file = zeftest::zefWave(zeftest::orvo(), speech());
    Kd kd;
    kd.dwOutputSamplingRate = 44100;
    Bytes out(993 * 2);
    kd.input(kZefWaveBuffer, file.data(), uint32_t(file.size()));
    kd.output(kRawBuffer, out.data(), uint32_t(out.size()));
    ASSERT_EQ(dcmpZefInit(&kd), 0);
    uint32_t total = 0;
    std::vector<uint32_t> counts;
    for (int frame = 0; frame < 28; ++frame) {
        kd.dwOutputBytesUsed = 0;
        ASSERT_EQ(dcmpZefConvert(&kd), 0);
        counts.push_back(kd.dwOutputBytesUsed / 2);
        total += kd.dwOutputBytesUsed / 2;
    }
    for (uint32_t c : counts) EXPECT_TRUE(c == 992 || c == 993) << c;
    EXPECT_EQ(total, 28 * 99225u / 100);
    EXPECT_EQ(dcmpZefFree(&kd), 0);
}

// ---- frame-less decoding ---------------------------------------------------------

// With attribute 0x80003 set, each call makes one frame without reading
// input: quiet background sound, not a repeat of the last frame.  Switched
// off again, the stream goes on where it stood, fading in.
TEST(Frameless, MakesQuietFramesWithoutReadingInput) {
    const std::vector<Frame> loud = steadyVoiced(20, 120, 50);
    const Bytes file = zeftest::zefWave(zeftest::orvo(), loud);
    Kd kd;
    Bytes out(roomFor(40));
    kd.input(kZefWaveBuffer, file.data(), uint32_t(file.size()));
    kd.output(kRawBuffer, out.data(), uint32_t(out.size()));
    ASSERT_EQ(dcmpZefInit(&kd), 0);
    const uint32_t data = kd.dwInputBytesUsed;
    kd.input(kZefWaveBuffer, file.data(), data + 70);  // ten frames
    ASSERT_EQ(dcmpZefConvert(&kd), 0);
    ASSERT_EQ(kd.dwOutputBytesUsed, 10 * kFrameBytes16);
    const double speechRms = rms(samples16(out), 5 * 180, 5 * 180);
    ASSERT_GT(speechRms, 1000);

    KELVANE_ATTRIBUTE on{KELVANE_ATTR_FRAMELESS, 0, 1};
    ASSERT_EQ(utilMirlaneSetAttribute(&kd, &on), 0);
    const uint32_t consumed = kd.dwInputBytesUsed;
    Bytes quiet;
    for (int i = 0; i < 4; ++i) {
        kd.input(kZefWaveBuffer, file.data(), uint32_t(file.size()));
        kd.dwInputBytesUsed = consumed;
        kd.dwOutputBytesUsed = 0;
        ASSERT_EQ(dcmpZefConvert(&kd), 0);
        EXPECT_EQ(kd.dwInputBytesUsed, consumed);
        ASSERT_EQ(kd.dwOutputBytesUsed, kFrameBytes16);
        quiet.insert(quiet.end(), out.begin(), out.begin() + kFrameBytes16);
    }
    EXPECT_LT(rms(samples16(quiet), 180, 3 * 180), speechRms / 20);
    kd.dwOutputSize = kFrameBytes16 - 1;  // no room: nothing made
    kd.dwOutputBytesUsed = 0;
    EXPECT_EQ(dcmpZefConvert(&kd), 0);
    EXPECT_EQ(kd.dwOutputBytesUsed, 0u);

    KELVANE_ATTRIBUTE off{KELVANE_ATTR_FRAMELESS, 0, 0};
    ASSERT_EQ(utilMirlaneSetAttribute(&kd, &off), 0);
    kd.dwOutputSize = uint32_t(out.size());
    kd.dwOutputBytesUsed = 0;
    ASSERT_EQ(dcmpZefConvert(&kd), 0);
    ASSERT_EQ(kd.dwOutputBytesUsed, 10 * kFrameBytes16);  // the other ten frames
    const std::vector<int16_t> resumed = samples16(prefix(out, kd.dwOutputBytesUsed));
    EXPECT_LT(rms(resumed, 0, 180), rms(resumed, 7 * 180, 180) / 2);  // faded in
    EXPECT_GT(rms(resumed, 7 * 180, 180), speechRms / 2);
    EXPECT_EQ(dcmpZefFree(&kd), 0);
}

// ---- a file's Guisette -------------------------------------------------------------

class GuisetteFile : public ::testing::Test {
protected:
    void SetUp() override {
        ZEF_STARTUP s{};
        s.wSize = ZEF_STARTUP_SIZE;
        ASSERT_EQ(zefStartup(&s), 0);
    }
    void TearDown() override { zefShutdown(); }

    // The plain decode with the Guisette's effect run over it frame by frame,
    // as 16-bit samples (8-bit output is widened and narrowed around it).
    static Bytes byHand(const Bytes& plain, uint16_t guisette, uint16_t bytes, const std::vector<uint32_t>& frames) {
        const zef::GuisetteRecord* g = nullptr;
        EXPECT_EQ(zef::GetGuisetteInfo(guisette, &g), 0);
        zef::PCMEffectState* fx = nullptr;
        EXPECT_EQ(zef::InitPCMEffect(&fx), 0);
        zef::SetPCMEffect(fx, g->pcmEffect);
        Bytes out = plain;
        size_t at = 0;
        for (uint32_t n : frames) {
            std::vector<int16_t> s(n);
            if (bytes == 2) std::memcpy(s.data(), &out[at], n * 2);
            else zef::pcm8to16(&out[at], s.data(), int32_t(n));
            zef::ApplyPCMEffect(fx, n, s.data());
            if (bytes == 2) std::memcpy(&out[at], s.data(), n * 2);
            else zef::pcm16to8(s.data(), &out[at], int32_t(n));
            at += n * bytes;
        }
        zef::FreePCMEffect(fx);
        return out;
    }
};

TEST_F(GuisetteFile, DecodesWithItsEffect) {
    const Bytes withEffect = zeftest::readFile(dataFile("orvo_guisette.wav"));
    const Bytes plain = zeftest::readFile(dataFile("orvo.wav"));
    const uint16_t guisette = 201;
    for (Format f : {Format{8000, 2}, Format{44100, 1}}) {
        SCOPED_TRACE(f.rate);
        // Frame sizes as the plain decode made them.
        Recorder none;
        Kd kd;
        apply(kd, f);
        std::vector<uint32_t> frames;
        Bytes pcm;
        Bytes out(993 * 2);
        kd.input(kZefWaveBuffer, plain.data(), uint32_t(plain.size()));
        kd.output(kRawBuffer, out.data(), f.rate == 8000 ? kFrameBytes16 : 993);
        ASSERT_EQ(dcmpZefInit(&kd), 0);
        for (int i = 0; i < 200; ++i) {
            kd.dwOutputBytesUsed = 0;
            ASSERT_EQ(dcmpZefConvert(&kd), 0);
            if (!kd.dwOutputBytesUsed) break;
            frames.push_back(kd.dwOutputBytesUsed / f.bytes);
            pcm.insert(pcm.end(), out.begin(), out.begin() + kd.dwOutputBytesUsed);
        }
        ASSERT_EQ(dcmpZefFree(&kd), 0);
        ASSERT_EQ(frames.size(), 89u);

        const Bytes decoded = decodeBuffer(withEffect, f);
        ASSERT_EQ(decoded.size(), pcm.size());
        EXPECT_FALSE(decoded == pcm);
        EXPECT_TRUE(decoded == byHand(pcm, guisette, f.bytes, frames));
    }
}
