// The endpoints under real decoding: coded speech from a file, a buffer or a
// caller's reader, into a buffer, a file or a caller's writer, gives the same
// samples every way; a decoding that fails leaves no output file.
#include <filesystem>

#include "endpoint_harness.h"

using namespace ept;

namespace {

constexpr uint32_t kZefWaveFile = 0x10101, kZefWaveBuffer = 0x10201, kZefWaveFunction = 0x10801;
constexpr uint32_t kRawPcmBuffer = 0x20200, kWaveFile = 0x10100, kAiffFile = 0x30100, kWaveFunction = 0x10800;

KELVANE_DATA request(uint32_t inType, void* in, uint32_t inSize, uint32_t outType, void* out, uint32_t outSize) {
    KELVANE_DATA kd{};
    kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
    kd.fWarpedLengthFactor = 1.0f;
    kd.dwInputType = inType;
    kd.lpInputLocation = in;
    kd.dwInputSize = inSize;
    kd.dwOutputType = outType;
    kd.lpOutputLocation = out;
    kd.dwOutputSize = outSize;
    return kd;
}

// The reference: the whole file in memory, decoded into one buffer.
Bytes decodedFromBuffer(const char* file, uint32_t rate = 0, float warp = 1.0f) {
    Bytes zef = readBytes(dataFile(file));
    Bytes pcm(1 << 22);
    KELVANE_DATA kd = request(kZefWaveBuffer, zef.data(), uint32_t(zef.size()), kRawPcmBuffer, pcm.data(),
                              uint32_t(pcm.size()));
    kd.dwOutputSamplingRate = rate;
    kd.fWarpedLengthFactor = warp;
    EXPECT_EQ(dcmpMirlaneDecompress(&kd), 0);
    pcm.resize(kd.dwOutputBytesUsed);
    return pcm;
}

Bytes hostToLE(const Bytes& pcm) {
    Bytes b = pcm;
    zef::hostSamplesToLE(b.data(), b.size() / 2);
    return b;
}

struct PieceReader {
    Bytes data;
    size_t pos = 0;
    static uint16_t call(uint16_t, uint16_t message, void* p) {
        auto* block = static_cast<ZEF_FUNCTION_BLOCK*>(p);
        auto* r = reinterpret_cast<PieceReader*>(block->lpKelvaneData->dwUserData);
        if (message == ZEFFUNC_CLOSE) return 0;
        size_t n = std::min<size_t>({37, block->dwLength, r->data.size() - r->pos});
        if (n) std::memcpy(block->lpBuffer, r->data.data() + r->pos, n);
        r->pos += n;
        block->dwLength = uint32_t(n);
        return r->pos == r->data.size() ? 1 : 0;  // the end comes with the last piece
    }
};

struct CollectingWriter {
    Bytes received;
    static uint16_t call(uint16_t, uint16_t message, void* p) {
        auto* block = static_cast<ZEF_FUNCTION_BLOCK*>(p);
        auto* w = reinterpret_cast<CollectingWriter*>(block->lpKelvaneData->dwUserData);
        auto* bytes = static_cast<uint8_t*>(block->lpBuffer);
        if (message == ZEFFUNC_OPEN || message == ZEFFUNC_WRITE)
            w->received.insert(w->received.end(), bytes, bytes + block->dwLength);
        if (message == ZEFFUNC_OPEN) block->dwLength = 0;  // took the header
        return 0;
    }
};

}  // namespace

TEST(DecodePaths, FileToWaveFileHoldsTheSamplesWithFinalSizes) {
    ScratchDir scratch;
    Bytes reference = decodedFromBuffer("orvo.wav");
    ASSERT_GT(reference.size(), 80u * 360u);
    std::string in = dataFile("orvo.wav"), out = scratch.path("out.wav");
    KELVANE_DATA kd = request(kZefWaveFile, in.data(), 0, kWaveFile, out.data(), 0);
    ASSERT_EQ(dcmpZefFileToFile(&kd), 0);
    Bytes file = readBytes(out);
    ASSERT_EQ(file.size(), 44 + reference.size());
    EXPECT_EQ(zef::readLE32(&file[4]), file.size() - 8);
    EXPECT_EQ(zef::readLE32(&file[40]), reference.size());
    EXPECT_EQ(Bytes(file.begin() + 44, file.end()), hostToLE(reference));
}

TEST(DecodePaths, AiffFileHoldsBigEndianSamples) {
    ScratchDir scratch;
    Bytes reference = decodedFromBuffer("orvo_compat.wav");
    std::string in = dataFile("orvo_compat.wav"), out = scratch.path("out.aifc");
    KELVANE_DATA kd = request(kZefWaveFile, in.data(), 0, kAiffFile, out.data(), 0);
    ASSERT_EQ(dcmpMirlaneDecompress(&kd), 0);
    Bytes file = readBytes(out);
    ASSERT_EQ(file.size(), 86 + reference.size());
    Bytes expected = reference;
    zef::hostSamplesToBE(expected.data(), expected.size() / 2);
    EXPECT_EQ(Bytes(file.begin() + 86, file.end()), expected);
}

TEST(DecodePaths, AbortedDecodingLeavesNoFile) {
    ScratchDir scratch;
    std::string in = dataFile("orvo.wav"), out = scratch.path("out.wav");
    KELVANE_DATA kd = request(kZefWaveFile, in.data(), 0, kWaveFile, out.data(), 0);
    static int frames;
    frames = 0;
    kd.lpCallback = [](uint16_t, uint16_t status, void*) -> uint16_t {
        return status == KELVANE_STATUS_FRAME && ++frames == 10 ? 7 : 0;
    };
    EXPECT_EQ(dcmpMirlaneDecompress(&kd), ZEFERR_PROCESSING_ABORTED);
    EXPECT_EQ(kd.dwSecondaryError, 7u);
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST(DecodePaths, ReaderInSmallPiecesDecodesLikeABuffer) {
    Bytes reference = decodedFromBuffer("orvo.wav");
    PieceReader reader{readBytes(dataFile("orvo.wav"))};
    Bytes pcm(1 << 17);
    KELVANE_DATA kd = request(kZefWaveFunction, reinterpret_cast<void*>(&PieceReader::call), 0, kRawPcmBuffer,
                              pcm.data(), uint32_t(pcm.size()));
    kd.dwUserData = reinterpret_cast<uintptr_t>(&reader);
    ASSERT_EQ(dcmpMirlaneDecompress(&kd), 0);
    pcm.resize(kd.dwOutputBytesUsed);
    EXPECT_EQ(pcm, reference);
}

TEST(DecodePaths, WriterTakingTheHeaderGetsTheWholeWave) {
    Bytes reference = decodedFromBuffer("orvo.wav");
    Bytes zef = readBytes(dataFile("orvo.wav"));
    CollectingWriter writer;
    KELVANE_DATA kd = request(kZefWaveBuffer, zef.data(), uint32_t(zef.size()), kWaveFunction,
                              reinterpret_cast<void*>(&CollectingWriter::call), 0);
    kd.dwUserData = reinterpret_cast<uintptr_t>(&writer);
    ASSERT_EQ(dcmpMirlaneDecompress(&kd), 0);
    ASSERT_EQ(writer.received.size(), 44 + reference.size());
    EXPECT_EQ(Bytes(writer.received.begin() + 44, writer.received.end()), hostToLE(reference));
}

// At 44100 Hz and five times the length one frame needs more than the
// endpoints' own buffers hold; the decoding still runs to its end.
TEST(DecodePaths, FramesLargerThanTheEndpointBuffersStillGetThrough) {
    ScratchDir scratch;
    Bytes reference = decodedFromBuffer("orvo.wav", 44100, 5.0f);
    ASSERT_GT(reference.size(), 89u * 9000u);
    std::string in = dataFile("orvo.wav"), out = scratch.path("slow.wav");
    KELVANE_DATA toFile = request(kZefWaveFile, in.data(), 0, kWaveFile, out.data(), 0);
    toFile.dwOutputSamplingRate = 44100;
    toFile.fWarpedLengthFactor = 5.0f;
    ASSERT_EQ(dcmpMirlaneDecompress(&toFile), 0);
    Bytes file = readBytes(out);
    ASSERT_EQ(file.size(), 44 + reference.size());
    EXPECT_EQ(Bytes(file.begin() + 44, file.end()), hostToLE(reference));

    CollectingWriter writer;
    KELVANE_DATA toWriter = request(kZefWaveFile, in.data(), 0, kWaveFunction,
                                    reinterpret_cast<void*>(&CollectingWriter::call), 0);
    toWriter.dwUserData = reinterpret_cast<uintptr_t>(&writer);
    toWriter.dwOutputSamplingRate = 44100;
    toWriter.fWarpedLengthFactor = 5.0f;
    ASSERT_EQ(dcmpMirlaneDecompress(&toWriter), 0);
    ASSERT_EQ(writer.received.size(), 44 + reference.size());
    EXPECT_EQ(Bytes(writer.received.begin() + 44, writer.received.end()), hostToLE(reference));
}
