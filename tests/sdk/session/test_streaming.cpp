// The streaming triple (dcmpZefInit, dcmpZefConvert, dcmpZefFree) as the
// player drives it: coded bytes arrive in buffers that end anywhere, output
// goes to buffers of any size, and nothing is lost or decoded twice.
#include "session_util.h"
#include "zefinternal.h"

using namespace sess;

namespace {

// 41 frames: 2214 bits, so the data ends two bits into its last byte.
const std::vector<Frame>& speech() {
    static const std::vector<Frame> f = zeftest::orvoSpeechLike(41);
    return f;
}
const Bytes& speechFile() {
    static const Bytes b = zeftest::zefWave(zeftest::orvo(), speech());
    return b;
}
size_t headerSize(const Bytes& file) { return file.size() - zeftest::packFrames(zeftest::orvo(), speech()).size() - 1; }

// An open streaming session over the speech file, output to `out`.
struct Stream {
    Kd kd;
    Bytes out;
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
    Bytes window;
};

Bytes slice(const Bytes& b, size_t from, size_t count) { return Bytes(b.begin() + long(from), b.begin() + long(from + count)); }

}  // namespace

TEST(Streaming, InitParsesTheHeaderAndDecodesNothing) {
    Stream s;
    EXPECT_EQ(s.kd.dwInputBytesUsed, headerSize(speechFile()));
    EXPECT_EQ(s.kd.dwOutputBytesUsed, 0u);  // raw output has no header
    EXPECT_EQ(s.kd.dwStatus, uint32_t(KELVANE_STATUS_DECOMPRESS_START));
    EXPECT_EQ(s.kd.wBitsPerFrame, 54);
    EXPECT_EQ(s.kd.dwOutputSamplingRate, 8000u);
    EXPECT_EQ(s.kd.wOutputBytesPerSample, 2);
}

// Any cut of the coded stream into buffers gives the same PCM.
TEST(Streaming, PiecesOfEverySizeDecodeLikeTheWhole) {
    const Bytes whole = decodeBuffer(speechFile());
    ASSERT_EQ(whole.size(), speech().size() * kFrameBytes16);
    for (uint32_t piece = 1; piece <= 40; ++piece) {
        SCOPED_TRACE(piece);
        Bytes pcm = decodeStreaming(speechFile(), piece, 4000);
        ASSERT_EQ(pcm.size(), whole.size());
        EXPECT_TRUE(pcm == whole);
    }
}

TEST(Streaming, ABufferEndingMidFrameKeepsThePartialFrame) {
    const Bytes whole = decodeBuffer(speechFile());
    Stream s;
    const size_t data = s.kd.dwInputBytesUsed;
    // Ten bytes hold one frame (54 bits) and 26 bits of the next.
    ASSERT_EQ(s.convert(data, data + 10, 4000), 0);
    EXPECT_EQ(s.kd.dwInputBytesUsed, 6u);  // the byte with the frame's last 6 bits is shared
    EXPECT_EQ(zef::controlBlock(&s.kd)->wBitPosition, 6);
    EXPECT_EQ(s.produced(), slice(whole, 0, kFrameBytes16));
    // The next buffer starts at the first byte not consumed; the frame that
    // began six bits into it follows exactly.
    ASSERT_EQ(s.convert(data + 6, data + 21, 4000), 0);
    EXPECT_EQ(s.kd.dwInputBytesUsed, 14u);  // frames 2 and 3 end at bit 162: byte 20, bit 2
    EXPECT_EQ(zef::controlBlock(&s.kd)->wBitPosition, 2);
    EXPECT_EQ(s.produced(), slice(whole, kFrameBytes16, 2 * kFrameBytes16));
}

TEST(Streaming, AnOutputBufferSmallerThanAFrameKeepsTheFramePending) {
    const Bytes whole = decodeBuffer(speechFile());
    Stream s;
    const size_t data = s.kd.dwInputBytesUsed;
    ASSERT_EQ(s.convert(data, data + 7, kFrameBytes16 - 1), 0);
    EXPECT_EQ(s.kd.dwOutputBytesUsed, 0u);
    EXPECT_EQ(s.kd.dwInputBytesUsed, 6u);  // unpacked and waiting for room
    EXPECT_EQ(zef::controlBlock(&s.kd)->wFramePending, 1);
    ASSERT_EQ(s.convert(data + 6, data + 6, 1), 0);  // still no room, nothing new
    EXPECT_EQ(s.kd.dwOutputBytesUsed, 0u);
    // Exactly one frame's room takes the pending frame and no more.
    ASSERT_EQ(s.convert(data + 6, data + 14, kFrameBytes16), 0);
    EXPECT_EQ(s.produced(), slice(whole, 0, kFrameBytes16));
    EXPECT_EQ(zef::controlBlock(&s.kd)->wFramePending, 1);
    EXPECT_EQ(s.kd.dwInputBytesUsed, 7u);  // the second frame, unpacked
    ASSERT_EQ(s.convert(data + 13, data + 14, 2 * kFrameBytes16), 0);
    EXPECT_EQ(s.produced(), slice(whole, kFrameBytes16, kFrameBytes16));
}

// Output buffers of one frame each, at every rate: one frame per call.
TEST(Streaming, OneFrameBuffersAtEveryRateAndSize) {
    for (uint32_t rate : zefAcceptedRates) {
        for (uint16_t bytes : {1, 2}) {
            SCOPED_TRACE(::testing::Message() << rate << " Hz, " << bytes << " bytes");
            Format f{rate, bytes};
            const Bytes whole = decodeBuffer(speechFile(), f);
            Stream s(0, f);
            const double hz = rate > 100000 ? rate >> 16 : rate;
            const uint32_t most = uint32_t(std::ceil(180 * hz / 8000)) * bytes;
            size_t pos = s.kd.dwInputBytesUsed;
            Bytes pcm;
            for (int call = 0; call < 100 && pcm.size() < whole.size(); ++call) {
                ASSERT_EQ(s.convert(pos, speechFile().size(), most), 0);
                EXPECT_GE(s.kd.dwOutputBytesUsed, most - bytes);
                pos += s.kd.dwInputBytesUsed;
                Bytes p = s.produced();
                pcm.insert(pcm.end(), p.begin(), p.end());
            }
            EXPECT_TRUE(pcm == whole);
        }
    }
}

TEST(Streaming, ConvertAndFreeNeedAControlBlock) {
    Kd kd;
    EXPECT_EQ(dcmpZefConvert(&kd), ZEFERR_VWD_OR_VCB_IS_NULL);
    EXPECT_EQ(dcmpZefFree(&kd), ZEFERR_VWD_OR_VCB_IS_NULL);
    EXPECT_EQ(kd.dwSecondaryError, uint32_t(reinterpret_cast<uintptr_t>(&kd)));
    EXPECT_EQ(dcmpZefConvert(nullptr), ZEFERR_VWD_OR_VCB_IS_NULL);
    EXPECT_EQ(dcmpZefFree(nullptr), ZEFERR_VWD_OR_VCB_IS_NULL);
}

// The player frees its session whether or not set-up succeeded.
TEST(Streaming, FreeAfterAFailedInitReleasesWhatWasBuilt) {
    Bytes notWave = speechFile();
    notWave[0] = 'X';
    Kd kd;
    Bytes out(4000);
    kd.input(kZefWaveBuffer, notWave.data(), uint32_t(notWave.size()));
    kd.output(kRawBuffer, out.data(), uint32_t(out.size()));
    EXPECT_EQ(dcmpZefInit(&kd), ZEFERR_WAVE_DOESNT_START_RIFF);
    ASSERT_NE(kd.lpControlBlock, nullptr);
    EXPECT_EQ(dcmpZefConvert(&kd), ZEFERR_INVALID_OUTPUT_VARS);  // nothing to decode with
    EXPECT_EQ(dcmpZefFree(&kd), 0);
    EXPECT_EQ(kd.lpControlBlock, nullptr);

    // The structure is free for the next file.
    kd.input(kZefWaveBuffer, speechFile().data(), uint32_t(speechFile().size()));
    kd.dwInputBytesUsed = 0;
    ASSERT_EQ(dcmpZefInit(&kd), 0);
    EXPECT_EQ(dcmpZefConvert(&kd), 0);
    EXPECT_EQ(kd.dwOutputBytesUsed, 11 * kFrameBytes16);
}

TEST(Streaming, DamagedRecordsAreRefusedByTheirGuards) {
    Stream s;
    zef::ZefControlBlock* cb = zef::controlBlock(&s.kd);
    const size_t data = s.kd.dwInputBytesUsed;
    cb->lpInputVars->dwGuard = 0x1234;
    EXPECT_EQ(s.convert(data, data + 20, 4000), ZEFERR_INVALID_INPUT_VARS);
    EXPECT_EQ(s.kd.dwSecondaryError, 0x1234u);
    cb->lpInputVars->dwGuard = zef::kInputGuard;
    cb->lpOutputVars->dwGuard = 0x5678;
    EXPECT_EQ(s.convert(data, data + 20, 4000), ZEFERR_INVALID_OUTPUT_VARS);
    EXPECT_EQ(s.kd.dwSecondaryError, 0x5678u);
    cb->lpOutputVars->dwGuard = zef::kOutputGuard;
    cb->dwGuard = 0x9abc;
    EXPECT_EQ(s.convert(data, data + 20, 4000), ZEFERR_INVALID_VCB);
    cb->dwGuard = zef::kControlBlockGuard;
    EXPECT_EQ(s.convert(data, data + 20, 4000), 0);
    EXPECT_EQ(s.kd.dwOutputBytesUsed, 2 * kFrameBytes16);
}

TEST(Streaming, FreeDetachesAndReportsTheEnd) {
    Recorder r;
    Kd kd;
    r.attach(kd);
    Bytes out(4000);
    kd.input(kZefWaveBuffer, speechFile().data(), uint32_t(speechFile().size()));
    kd.output(kRawBuffer, out.data(), uint32_t(out.size()));
    ASSERT_EQ(dcmpZefInit(&kd), 0);
    kd.dwInputBytesUsed = uint32_t(headerSize(speechFile()));  // the whole image, past its header
    ASSERT_EQ(dcmpZefConvert(&kd), 0);
    EXPECT_EQ(kd.dwOutputBytesUsed, 11 * kFrameBytes16);  // 4000 bytes hold eleven frames
    ASSERT_EQ(dcmpZefFree(&kd), 0);
    EXPECT_EQ(kd.lpControlBlock, nullptr);
    ASSERT_GE(r.statuses.size(), 3u);
    EXPECT_EQ(r.statuses.front(), KELVANE_STATUS_DECOMPRESS_START);
    EXPECT_EQ(r.statuses.back(), KELVANE_STATUS_DECOMPRESS_END);
    EXPECT_EQ(std::count(r.statuses.begin(), r.statuses.end(), KELVANE_STATUS_FRAME), 11);  // the twelfth waits for room
    EXPECT_EQ(kd.dwStatus, uint32_t(KELVANE_STATUS_DECOMPRESS_END));
}

// ---- the caller's reader and writer --------------------------------------------

namespace {

// Hands out the speech file a few bytes at a time; chosen reads answer "no
// data yet" (94).
struct Reader {
    const Bytes* data;
    std::vector<int> noDataAt;
    size_t pos = 0, piece = 5;
    int reads = 0;
    static uint16_t call(uint16_t, uint16_t message, void* p) {
        auto* block = static_cast<ZEF_FUNCTION_BLOCK*>(p);
        auto* r = reinterpret_cast<Reader*>(block->lpKelvaneData->dwUserData);
        if (message == ZEFFUNC_CLOSE) return 0;
        if (message == ZEFFUNC_READ &&
            std::count(r->noDataAt.begin(), r->noDataAt.end(), r->reads++)) {
            block->dwLength = 0;
            return ZEFFUNC_NO_DATA_YET;
        }
        // The header comes whole with the open; afterwards small pieces.
        size_t want = message == ZEFFUNC_OPEN ? headerSize(*r->data) : r->piece;
        size_t n = std::min({want, size_t(block->dwLength), r->data->size() - r->pos});
        std::memcpy(block->lpBuffer, r->data->data() + r->pos, n);
        r->pos += n;
        block->dwLength = uint32_t(n);
        return message == ZEFFUNC_READ && n == 0 ? 1 : 0;
    }
};

}  // namespace

// A reader that has nothing yet makes convert return 94 at once; the next
// convert carries on where the stream stopped.  (Set-up reads until the
// reader has nothing: the first 94 ends that.)
TEST(Streaming, FunctionInputWaitsForDataAndContinues) {
    const Bytes whole = decodeBuffer(speechFile());
    Reader reader{&speechFile(), {10, 30}};
    Kd kd;
    kd.dwUserData = reinterpret_cast<uintptr_t>(&reader);
    Bytes out(100000);
    kd.input(kZefWaveFunction, reinterpret_cast<void*>(&Reader::call));
    kd.output(kRawBuffer, out.data(), uint32_t(out.size()));
    ASSERT_EQ(dcmpZefInit(&kd), 0) << kd.dwSecondaryError;
    ASSERT_EQ(dcmpZefConvert(&kd), ZEFFUNC_NO_DATA_YET);
    const uint32_t first = kd.dwOutputBytesUsed;
    EXPECT_GT(first, 0u);
    EXPECT_LT(first, whole.size());
    ASSERT_EQ(dcmpZefConvert(&kd), 0) << kd.dwSecondaryError;
    EXPECT_EQ(kd.dwOutputBytesUsed, whole.size());
    EXPECT_TRUE(Bytes(out.begin(), out.begin() + long(whole.size())) == whole);
    EXPECT_EQ(dcmpZefFree(&kd), 0);
}

// A file as the output of a streaming session: every convert appends to it.
TEST(Streaming, FileOutputCollectsEveryConvert) {
    ScratchDir dir;
    const std::string path = dir.path("out.raw");
    const Bytes whole = decodeBuffer(speechFile());
    Kd kd;
    kd.input(kZefWaveBuffer, speechFile().data(), uint32_t(speechFile().size()));
    kd.output(kRawFile, const_cast<char*>(path.c_str()));
    ASSERT_EQ(dcmpZefInit(&kd), 0) << kd.dwSecondaryError;
    const size_t data = kd.dwInputBytesUsed;
    size_t pos = data;
    for (size_t end = data + 50;; end = std::min(end + 50, speechFile().size())) {
        Bytes window(speechFile().begin() + long(pos), speechFile().begin() + long(end));
        kd.input(kZefWaveBuffer, window.data(), uint32_t(window.size()));
        kd.dwInputBytesUsed = 0;
        ASSERT_EQ(dcmpZefConvert(&kd), 0) << kd.dwSecondaryError;
        pos += kd.dwInputBytesUsed;
        if (end == speechFile().size()) break;
    }
    ASSERT_EQ(dcmpZefFree(&kd), 0);
    EXPECT_TRUE(zeftest::readFile(path) == whole);
}
