// The decompression session: set-up and refusals, the decode loop and its
// progress callback, output formats, frame-less decoding, the streaming
// triple, markers, decoded pitch and warp, and regression hashes.
#include <cerrno>
#include <cmath>
#include <cinttypes>
#include <cstdlib>

#include "guisette.h"
#include "session.h"
#include "zefinternal.h"

using namespace zeftest;

namespace {

// 41 frames: 2214 bits, so the data ends two bits into its last byte.
const std::vector<Frame>& speech() {
    static const std::vector<Frame> f = orvoSpeechLike(41);
    return f;
}
const Bytes& speechFile() {
    static const Bytes b = zefWave(orvo(), speech());
    return b;
}
const Bytes& whole() {
    static const Bytes b = decodeBuffer(speechFile());
    return b;
}
Bytes slice(const Bytes& b, size_t from, size_t count) { return Bytes(b.begin() + long(from), b.begin() + long(from + count)); }
void patchLE32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
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

// An open streaming session over the speech file.
struct Stream {
    Kd kd;
    Bytes out, window;
    explicit Stream(uint32_t outSize = 4000, const Format& f = {}) : out(outSize) {
        apply(kd, f);
        kd.input(kZefWaveBuffer, speechFile().data(), uint32_t(speechFile().size()));
        kd.output(kRawBuffer, out.data(), outSize);
        EXPECT_EQ(dcmpZefInit(&kd), 0) << kd.dwSecondaryError;
    }
    // Converts bytes [from, to) of the file into a fresh output buffer.
    uint16_t convert(size_t from, size_t to, uint32_t outSize) {
        window.assign(speechFile().begin() + long(from), speechFile().begin() + long(to));
        out.assign(outSize, 0);
        kd.input(kZefWaveBuffer, window.data(), uint32_t(window.size()));
        kd.output(kRawBuffer, out.data(), outSize);
        kd.dwInputBytesUsed = 0;
        kd.dwOutputBytesUsed = 0;
        return dcmpZefConvert(&kd);
    }
    Bytes produced() const { return Bytes(out.begin(), out.begin() + kd.dwOutputBytesUsed); }
    zef::ZefControlBlock* cb() { return zef::controlBlock(&kd); }
};

struct Started : ::testing::Test {
    void SetUp() override {
        ZEF_STARTUP s{};
        s.wSize = ZEF_STARTUP_SIZE;
        ASSERT_EQ(zefStartup(&s), 0);
    }
    void TearDown() override { zefShutdown(); }
};

}  // namespace

// ---- set-up and teardown ----------------------------------------------------------

TEST(Init, AStructureInUseIsRefusedAndKeepsItsSession) {
    Stream s;
    void* cb = s.kd.lpControlBlock;
    EXPECT_EQ(s.kd.dwInputBytesUsed, speechFile().size() - packFrames(orvo(), speech()).size() - 1);
    EXPECT_EQ(s.kd.wBitsPerFrame, 54);
    EXPECT_EQ(dcmpZefInit(&s.kd), ZEFERR_KELVANE_ALREADY_INITIALIZED);
    EXPECT_EQ(dcmpMirlaneDecompress(&s.kd), ZEFERR_KELVANE_ALREADY_INITIALIZED);
    EXPECT_EQ(s.kd.lpControlBlock, cb);
    ASSERT_EQ(dcmpZefConvert(&s.kd), 0);  // the first session decodes on
    EXPECT_EQ(s.kd.dwOutputBytesUsed, 11 * kFrameBytes16);
}

TEST(Init, CallsWithoutASessionAreRefused) {
    Kd kd;
    EXPECT_EQ(dcmpMirlaneCleanup(&kd), ZEFERR_VWD_OR_VCB_IS_NULL);
    EXPECT_EQ(dcmpZefConvert(&kd), ZEFERR_VWD_OR_VCB_IS_NULL);
    EXPECT_EQ(dcmpZefFree(&kd), ZEFERR_VWD_OR_VCB_IS_NULL);
    EXPECT_EQ(kd.dwSecondaryError, uint32_t(reinterpret_cast<uintptr_t>(&kd)));
    EXPECT_EQ(dcmpZefConvert(nullptr), ZEFERR_VWD_OR_VCB_IS_NULL);
    EXPECT_EQ(dcmpMirlaneCleanup(nullptr), ZEFERR_VWD_OR_VCB_IS_NULL);
}

// ---- the decode loop --------------------------------------------------------------

TEST(DecodeLoop, TheHeaderCountLimitsTheFramesAndAShortFileEndsCleanly) {
    const Bytes raw = zefRaw(orvo(), speech());
    const uint32_t type = ZEFTYPE_FORMAT_RAW | ZEFTYPE_LOCATION_BUFFER | ZEFTYPE_QUALIFIER_ZEF;
    ASSERT_EQ(Decode(raw, type).out, whole());
    Bytes fewer = raw;
    patchLE32(fewer, 20, 12);  // the frame count
    Decode d(fewer, type);
    EXPECT_EQ(d.result, 0);
    EXPECT_EQ(d.out, slice(whole(), 0, 12 * kFrameBytes16));
    // A header that promises more than the file holds: every whole frame, then success.
    Bytes more = raw;
    patchLE32(more, 20, 500);
    more.resize(more.size() - 3);  // and the last frame cut short
    Decode m(more, type);
    EXPECT_EQ(m.result, 0);
    EXPECT_EQ(m.out, slice(whole(), 0, 40 * kFrameBytes16));
}

TEST(DecodeLoop, TheCallbackSeesEveryFrameAndAnAnswerAborts) {
    Decode d(speechFile(), kZefWaveBuffer);
    ASSERT_EQ(d.result, 0);
    std::vector<uint16_t> expected{KELVANE_STATUS_DECOMPRESS_START};
    expected.insert(expected.end(), speech().size(), KELVANE_STATUS_FRAME);
    expected.push_back(KELVANE_STATUS_DECOMPRESS_END);
    EXPECT_EQ(d.rec.statuses, expected);

    Decode first(speechFile(), kZefWaveBuffer, Recorder{.abortAtFrame = 1, .answer = 7});
    EXPECT_EQ(first.result, ZEFERR_PROCESSING_ABORTED);
    EXPECT_EQ(first.kd.dwSecondaryError, 7u);
    EXPECT_EQ(first.kd.lpControlBlock, nullptr);  // the one-shot call cleans up
    // In a stream the output before the abort is whole frames, and the next
    // call goes on with the frame that was refused.
    Recorder rec{.abortAtFrame = 6, .answer = 300};
    Stream s(roomFor(45));
    rec.attach(s.kd);
    s.kd.dwInputBytesUsed = s.kd.dwOutputBytesUsed = 0;
    s.kd.input(kZefWaveBuffer, speechFile().data(), uint32_t(speechFile().size()));
    s.kd.dwInputBytesUsed = uint32_t(speechFile().size() - packFrames(orvo(), speech()).size() - 1);
    EXPECT_EQ(dcmpZefConvert(&s.kd), ZEFERR_PROCESSING_ABORTED);
    EXPECT_EQ(s.kd.dwSecondaryError, 300u);
    EXPECT_EQ(s.produced(), slice(whole(), 0, 5 * kFrameBytes16));
    ASSERT_EQ(dcmpZefConvert(&s.kd), 0);
    EXPECT_EQ(s.produced(), whole());
}

// The callback runs before each frame: a warp it sets applies from that
// frame; beyond what the engine can do the frame fails and nothing overflows.
TEST(DecodeLoop, AWarpSetByTheCallbackAppliesAtTheNextFrame) {
    Decode d(speechFile(), kZefWaveBuffer, Recorder{.warpAtFrame = 11, .newWarp = 2.0f});
    ASSERT_EQ(d.result, 0);
    EXPECT_EQ(d.out.size(), (10 * 180 + 31 * 360) * 2u);
    EXPECT_EQ(slice(d.out, 0, 10 * kFrameBytes16), slice(whole(), 0, 10 * kFrameBytes16));
    Decode bad(speechFile(), kZefWaveBuffer, Recorder{.warpAtFrame = 3, .newWarp = 7.0f}, roomFor(45));
    EXPECT_EQ(bad.result, ZEFERR_DECOMPRESSION);
    EXPECT_EQ(bad.kd.dwSecondaryError, 11141u);
    EXPECT_EQ(bad.kd.lpControlBlock, nullptr);
}

TEST(DecodeLoop, EveryAcceptedRateAndSizeGivesItsSampleCount) {
    const Samples at8000 = samples16(whole());
    for (uint32_t rate : zefAcceptedRates) {
        const double hz = rate > 100000 ? double(rate >> 16) : double(rate);
        for (uint16_t bytes : {1, 2}) {
            SCOPED_TRACE(::testing::Message() << rate << " Hz, " << bytes << " bytes");
            Decode d(speechFile(), kZefWaveBuffer, {}, 0, Format{rate, bytes});
            ASSERT_EQ(d.result, 0);
            EXPECT_EQ(d.kd.dwOutputSamplingRate, rate);
            EXPECT_NEAR(double(d.out.size() / bytes), speech().size() * 180 * hz / 8000, 1.0);
            if (rate == 8000 && bytes == 1) {  // the same speech, narrowed
                for (size_t i = 0; i < at8000.size(); ++i) ASSERT_EQ(d.out[i], uint8_t((at8000[i] >> 8) + 128)) << i;
            }
        }
    }
}

// With the frame-less switch on, each call makes one frame without reading
// input: quiet background sound.  Switched off, the stream goes on, fading in.
TEST(DecodeLoop, FramelessCallsMakeQuietFramesWithoutInput) {
    const Bytes file = zefWave(orvo(), steadyVoiced(20, 120, 50));
    Kd kd;
    Bytes out(roomFor(40));
    kd.input(kZefWaveBuffer, file.data(), uint32_t(file.size()));
    kd.output(kRawBuffer, out.data(), uint32_t(out.size()));
    ASSERT_EQ(dcmpZefInit(&kd), 0);
    kd.input(kZefWaveBuffer, file.data(), kd.dwInputBytesUsed + 70);  // ten frames
    ASSERT_EQ(dcmpZefConvert(&kd), 0);
    ASSERT_EQ(kd.dwOutputBytesUsed, 10 * kFrameBytes16);
    const double speechRms = rms(samples16(slice(out, 5 * kFrameBytes16, 5 * kFrameBytes16)));
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
    EXPECT_LT(rms(samples16(slice(quiet, kFrameBytes16, 3 * kFrameBytes16))), speechRms / 20);
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
    const Samples resumed = samples16(slice(out, 0, kd.dwOutputBytesUsed));
    EXPECT_LT(rms(resumed.data(), 180), rms(resumed.data() + 7 * 180, 180) / 2);  // faded in
    EXPECT_GT(rms(resumed.data() + 7 * 180, 180), speechRms / 2);
    EXPECT_EQ(dcmpZefFree(&kd), 0);
}

// An engine that cannot decode (here: torn down behind the session's back)
// fails the call, with or without frames, and nothing counts as output.
TEST(DecodeLoop, AnEngineFailureFailsTheCall) {
    for (bool frameless : {false, true}) {
        SCOPED_TRACE(frameless);
        Stream s;
        KELVANE_ATTRIBUTE attr{KELVANE_ATTR_FRAMELESS, 0, frameless};
        ASSERT_EQ(utilMirlaneSetAttribute(&s.kd, &attr), 0);
        const size_t data = s.kd.dwInputBytesUsed;
        ASSERT_EQ(s.convert(data, data + 14, 4000), 0);
        ASSERT_EQ(s.kd.dwOutputBytesUsed, kFrameBytes16 * (frameless ? 1 : 2));
        s.cb()->wEngineReady = 0;
        EXPECT_EQ(s.convert(data + s.kd.dwInputBytesUsed, speechFile().size(), 4000), ZEFERR_DECOMPRESSION);
        EXPECT_EQ(s.kd.dwSecondaryError, 10050u);
        EXPECT_EQ(s.kd.dwOutputBytesUsed, 0u);
        s.cb()->wEngineReady = 1;  // so that cleanup frees the engine
    }
}

// ---- streaming ------------------------------------------------------------------

// Any cut of the coded stream into buffers gives the same PCM.
TEST(Streaming, PiecesOfEverySizeDecodeLikeTheWhole) {
    for (uint32_t piece = 1; piece <= 40; ++piece) {
        SCOPED_TRACE(piece);
        EXPECT_EQ(decodeStreaming(speechFile(), piece, 4000), whole());
    }
}

TEST(Streaming, ABufferEndingMidFrameKeepsThePartialFrame) {
    Stream s;
    const size_t data = s.kd.dwInputBytesUsed;
    // Ten bytes hold one frame (54 bits) and 26 bits of the next.
    ASSERT_EQ(s.convert(data, data + 10, 4000), 0);
    EXPECT_EQ(s.kd.dwInputBytesUsed, 6u);  // the byte with the frame's last 6 bits is shared
    EXPECT_EQ(s.cb()->wBitPosition, 6);
    EXPECT_EQ(s.produced(), slice(whole(), 0, kFrameBytes16));
    ASSERT_EQ(s.convert(data + 6, data + 21, 4000), 0);
    EXPECT_EQ(s.kd.dwInputBytesUsed, 14u);  // frames 2 and 3 end at bit 162: byte 20, bit 2
    EXPECT_EQ(s.cb()->wBitPosition, 2);
    EXPECT_EQ(s.produced(), slice(whole(), kFrameBytes16, 2 * kFrameBytes16));
}

TEST(Streaming, AnOutputBufferSmallerThanAFrameKeepsTheFramePending) {
    Stream s;
    const size_t data = s.kd.dwInputBytesUsed;
    ASSERT_EQ(s.convert(data, data + 7, kFrameBytes16 - 1), 0);
    EXPECT_EQ(s.kd.dwOutputBytesUsed, 0u);
    EXPECT_EQ(s.kd.dwInputBytesUsed, 6u);  // unpacked and waiting for room
    ASSERT_EQ(s.convert(data + 6, data + 14, kFrameBytes16), 0);
    EXPECT_EQ(s.produced(), slice(whole(), 0, kFrameBytes16));
    EXPECT_EQ(s.kd.dwInputBytesUsed, 7u);  // the second frame, unpacked
    ASSERT_EQ(s.convert(data + 13, data + 14, 2 * kFrameBytes16), 0);
    EXPECT_EQ(s.produced(), slice(whole(), kFrameBytes16, kFrameBytes16));
}

// Damaged records are refused by their guards, by the streaming call and by
// the decode loop itself, before anything is read or written.
TEST(Streaming, DamagedRecordsAreRefusedByTheirGuards) {
    Stream s;
    zef::ZefControlBlock* cb = s.cb();
    const size_t data = s.kd.dwInputBytesUsed;
    cb->lpInputVars->dwGuard = 0x1234;
    EXPECT_EQ(s.convert(data, data + 20, 4000), ZEFERR_INVALID_INPUT_VARS);
    EXPECT_EQ(s.kd.dwSecondaryError, 0x1234u);
    const uint32_t read = cb->lpInputVars->dwReadPos, written = cb->lpOutputVars->dwWritePos;
    EXPECT_EQ(MirlaneDecompress(&s.kd), ZEFERR_INVALID_INPUT_VARS);
    EXPECT_EQ(cb->lpInputVars->dwReadPos, read);
    EXPECT_EQ(cb->lpOutputVars->dwWritePos, written);
    cb->lpInputVars->dwGuard = zef::kInputGuard;
    cb->lpOutputVars->dwGuard = 0x5678;
    EXPECT_EQ(s.convert(data, data + 20, 4000), ZEFERR_INVALID_OUTPUT_VARS);
    EXPECT_EQ(MirlaneDecompress(&s.kd), ZEFERR_INVALID_OUTPUT_VARS);
    cb->lpOutputVars->dwGuard = zef::kOutputGuard;
    cb->dwGuard = 0x9abc;
    EXPECT_EQ(s.convert(data, data + 20, 4000), ZEFERR_INVALID_VCB);
    cb->dwGuard = zef::kControlBlockGuard;
    EXPECT_EQ(s.convert(data, data + 20, 4000), 0);
    EXPECT_EQ(s.kd.dwOutputBytesUsed, 2 * kFrameBytes16);
    s.kd.dwOutputType = kSoundOut;  // the decode loop does not play
    EXPECT_EQ(MirlaneDecompress(&s.kd), ZEFERR_MUST_CALL_DCMP_MIRLANE_PLAY);
    s.kd.dwOutputType = kRawBuffer;
}

// ---- markers ------------------------------------------------------------------

// A segment of a coded file, by its start and end bytes and the bit at which
// its first frame begins, decodes like its frames as a file of their own.
TEST(Markers, ASegmentDecodesOnlyItsFrames) {
    ScratchDir dir;
    const std::string path = dir.path("speech.wav");
    const std::vector<Frame> frames = orvoSpeechLike(16);
    writeFile(path, zefWave(orvo(), frames));
    struct Row { uint32_t start, bit, end; size_t from, to; uint16_t error; };
    const Row rows[] = {{27, 0, 81, 4, 12, 0}, {6, 6, 27, 1, 4, 0}, {54, 0, 0, 8, 16, 0}, {100000, 0, 0, 0, 0, ZEFERR_READING_FROM_FILE}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.start);
        KELVANE_MARKER_REQUEST request{1, ZEF_MARKER_REQUEST_SIZE, r.bit, r.start, 0, r.end};
        Kd kd;
        Bytes out(roomFor(20));
        kd.input(kZefWaveFile, path.c_str());
        kd.output(kRawBuffer, out.data(), uint32_t(out.size()));
        kd.lpMarker = &request;
        ASSERT_EQ(dcmpZefFileToBuffer(&kd), r.error) << kd.dwSecondaryError;
        EXPECT_EQ(kd.lpControlBlock, nullptr);
        if (r.error) continue;
        out.resize(kd.dwOutputBytesUsed);
        EXPECT_EQ(out, decodeFrames(std::vector<Frame>(frames.begin() + long(r.from), frames.begin() + long(r.to))));
    }
    KELVANE_MARKER_REQUEST wrong{2, ZEF_MARKER_REQUEST_SIZE, 0, 0, 0, 0};
    Kd kd;
    Bytes out(roomFor(20));
    kd.input(kZefWaveFile, path.c_str());
    kd.output(kRawBuffer, out.data(), uint32_t(out.size()));
    kd.lpMarker = &wrong;
    EXPECT_EQ(dcmpZefFileToBuffer(&kd), ZEFERR_INVALID_MARKER_SELECTOR);
}

// ---- decoded speech ------------------------------------------------------------

namespace {
double periodOfDecode(const std::vector<Frame>& frames, const Format& f, size_t fromFrame = 20) {
    const Samples s = samples16(decodeFrames(frames, f));
    const size_t from = size_t(double(fromFrame) * 180 * f.warp);
    EXPECT_GT(s.size(), from + 2400 + 150);
    return s.size() < from + 2400 + 150 ? 0 : measuredPeriod(s, from, 2400);
}
}  // namespace

TEST(DecodedAudio, ThePeriodIsTheFramesPitchAndTwelveSemitonesHalveIt) {
    for (uint8_t code : {30, 90, 150, 210}) {
        SCOPED_TRACE(int(code));
        const double plain = periodOfDecode(steadyVoiced(60, code), {});
        EXPECT_NEAR(plain, periodOf(code), periodOf(code) * 0.01);
        EXPECT_NEAR(periodOfDecode(steadyVoiced(60, code), Format{.semitones = 12.0f}), plain / 2, plain * 0.005);
    }
}

// Warping stretches or shortens every frame (dropping frames below half
// speed) and keeps the pitch.
TEST(DecodedAudio, WarpedLengthsFollowTheWarpAndKeepThePitch) {
    const std::vector<Frame> frames = steadyVoiced(120, 90);
    for (float warp : {0.3f, 0.5f, 1.0f, 2.0f, 5.0f}) {
        SCOPED_TRACE(warp);
        EXPECT_EQ(decodeFrames(frames, Format{.warp = warp}).size() / 2, size_t(std::lround(frames.size() * 180 * double(warp))));
        if (warp >= 0.5f) {
            EXPECT_NEAR(periodOfDecode(frames, Format{.warp = warp}, warp < 1 ? 60 : 20), periodOf(90), periodOf(90) * 0.01);
        }
    }
}

// ---- regression hashes ------------------------------------------------------------

// FNV-1a of the decoded sample files through the whole session: every
// container holding the same speech must decode to the same samples.  To
// regenerate after a deliberate change (never to silence a failure), run
// with SESSION_PRINT_VECTORS=1 and say why in the commit.
TEST_F(Started, DecodedSampleFilesAreUnchanged) {
    struct Vector { std::vector<const char*> files; uint32_t rate; uint16_t bytes; uint64_t hash; uint32_t length; };
    const std::vector<const char*> orvoFiles{"orvo.wav", "orvo_compat.wav", "orvo_chunked.zef", "orvo_compact.zef", "orvo.zefp"};
    const Vector vectors[] = {
        {orvoFiles, 8000, 2, 0xd97bc6bcf08b93afull, 32040},
        {orvoFiles, 44100, 1, 0xd022bfc8b099d2bcull, 88310},
        {{"orvo_guisette.wav"}, 8000, 2, 0x3c0e079bf102d59dull, 32040},
        {{"orvo_guisette.wav"}, 44100, 1, 0xfcc134c068daaa57ull, 88310},
    };
    for (const Vector& v : vectors) {
        for (const char* file : v.files) {
            SCOPED_TRACE(::testing::Message() << file << " " << v.rate);
            const std::string path = dataFile(file), name = file;
            const Bytes image = readFile(path);
            Kd kd;
            apply(kd, Format{v.rate, v.bytes});
            Bytes out(roomFor(100, Format{v.rate, v.bytes}));
            if (name.ends_with(".zefp")) kd.input(kZefPacketBuffer, image.data(), uint32_t(image.size()));
            else kd.input(name.ends_with(".zef") ? kZefRawFile : kZefWaveFile, path.c_str());
            kd.output(kRawBuffer, out.data(), uint32_t(out.size()));
            ASSERT_EQ(dcmpMirlaneDecompress(&kd), 0) << kd.dwSecondaryError;
            out.resize(kd.dwOutputBytesUsed);
            if (std::getenv("SESSION_PRINT_VECTORS")) std::printf("%s %u: 0x%016" PRIx64 "ull, %zu\n", file, v.rate, fnv1a(out), out.size());
            EXPECT_EQ(out.size(), v.length);
            EXPECT_EQ(fnv1a(out), v.hash);
        }
    }
}
