// The one-shot calls: files, buffers and the caller's functions at either
// end, a buffer too small for the whole speech, and a failed decode that
// leaves no file behind.
#include <cerrno>
#include <filesystem>

#include "byteorder.h"
#include "session_util.h"

using namespace sess;

namespace {

const std::vector<Frame>& speech() {
    static const std::vector<Frame> f = zeftest::orvoSpeechLike(25);
    return f;
}
const Bytes& speechFile() {
    static const Bytes b = zeftest::zefWave(zeftest::orvo(), speech());
    return b;
}

struct WaveHeader {
    uint32_t riffSize, rate, dataSize;
    uint16_t tag, channels, bits;
};

WaveHeader parseWave(const Bytes& b) {
    EXPECT_GE(b.size(), 44u);
    if (b.size() < 44) return {};
    EXPECT_TRUE(zef::isFourcc(&b[0], "RIFF") && zef::isFourcc(&b[8], "WAVE") && zef::isFourcc(&b[36], "data"));
    return {zef::readLE32(&b[4]), zef::readLE32(&b[24]), zef::readLE32(&b[40]),
            zef::readLE16(&b[20]), zef::readLE16(&b[22]), zef::readLE16(&b[34])};
}

Bytes tail(const Bytes& b, size_t from) { return Bytes(b.begin() + long(std::min(from, b.size())), b.end()); }

}  // namespace

TEST(OneShot, FileToWaveFileAtTwoFormats) {
    ScratchDir dir;
    const std::string in = dir.path("in.wav");
    const std::string out = dir.path("out.wav");
    zeftest::writeFile(in, speechFile());
    for (Format f : {Format{0, 0}, Format{44100, 1}}) {
        SCOPED_TRACE(f.rate);
        Kd kd;
        apply(kd, f);
        kd.input(kZefWaveFile, in.c_str());
        kd.output(kWaveFile, const_cast<char*>(out.c_str()));
        ASSERT_EQ(dcmpZefFileToFile(&kd), 0) << kd.dwSecondaryError;
        EXPECT_EQ(kd.dwSecondaryError, 0u);
        const Bytes written = zeftest::readFile(out);
        const WaveHeader h = parseWave(written);
        const Bytes pcm = decodeBuffer(speechFile(), f);
        EXPECT_EQ(h.tag, 1);
        EXPECT_EQ(h.channels, 1);
        EXPECT_EQ(h.rate, f.rate ? f.rate : 8000u);
        EXPECT_EQ(h.bits, f.bytes == 1 ? 8 : 16);
        EXPECT_EQ(h.dataSize, pcm.size());
        EXPECT_EQ(h.riffSize, written.size() - 8);
        EXPECT_TRUE(tail(written, 44) == pcm);
    }
}

// The end of the buffer ends the decode as a success, with as many whole
// frames as fit.
TEST(OneShot, ABufferTooSmallIsFilledAndSucceeds) {
    const Bytes whole = decodeBuffer(speechFile());
    Kd kd;
    Bytes out(1000);
    kd.input(kZefWaveBuffer, speechFile().data(), uint32_t(speechFile().size()));
    kd.output(kRawBuffer, out.data(), uint32_t(out.size()));
    kd.dwSecondaryError = 55;
    EXPECT_EQ(dcmpZefFileToBuffer(&kd), 0);
    EXPECT_EQ(kd.dwSecondaryError, 0u);
    EXPECT_EQ(kd.dwOutputBytesUsed, 2 * kFrameBytes16);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 2 * kFrameBytes16, whole.begin()));
    EXPECT_EQ(kd.lpControlBlock, nullptr);
}

// A decode that the engine fails part way (here a warp beyond its range,
// set by the callback) removes the file it was writing.
TEST(OneShot, AFailedDecodeLeavesNoFile) {
    ScratchDir dir;
    const std::string out = dir.path("out.wav");
    Recorder r;
    r.warpAtFrame = 10;
    r.newWarp = 9.0f;
    Kd kd;
    r.attach(kd);
    kd.input(kZefWaveBuffer, speechFile().data(), uint32_t(speechFile().size()));
    kd.output(kWaveFile, const_cast<char*>(out.c_str()));
    EXPECT_EQ(dcmpZefBufferToFile(&kd), ZEFERR_DECOMPRESSION);
    EXPECT_EQ(kd.dwSecondaryError, 11141u);
    EXPECT_FALSE(std::filesystem::exists(out));
}

// ---- the caller's reader and writer -------------------------------------------------

namespace {

struct Reader {
    const Bytes* data;
    size_t pos = 0, piece = 3;
    int opens = 0, closes = 0;
    static uint16_t call(uint16_t, uint16_t message, void* p) {
        auto* block = static_cast<ZEF_FUNCTION_BLOCK*>(p);
        auto* r = reinterpret_cast<Reader*>(block->lpKelvaneData->dwUserData);
        if (message == ZEFFUNC_OPEN) ++r->opens;
        if (message == ZEFFUNC_CLOSE) {
            ++r->closes;
            return 0;
        }
        size_t n = std::min({r->piece, size_t(block->dwLength), r->data->size() - r->pos});
        std::memcpy(block->lpBuffer, r->data->data() + r->pos, n);
        r->pos += n;
        block->dwLength = uint32_t(n);
        return message == ZEFFUNC_READ && n == 0 ? 1 : 0;
    }
};

// Collects what it is given; takes the header at open.
struct Writer {
    Bytes got;
    int opens = 0, writes = 0, closes = 0;
    static uint16_t call(uint16_t, uint16_t message, void* p) {
        auto* block = static_cast<ZEF_FUNCTION_BLOCK*>(p);
        auto* w = reinterpret_cast<Writer*>(block->lpKelvaneData->dwUserData);
        auto* bytes = static_cast<const uint8_t*>(block->lpBuffer);
        if (message == ZEFFUNC_OPEN) ++w->opens;
        if (message == ZEFFUNC_WRITE) ++w->writes;
        if (message == ZEFFUNC_CLOSE) ++w->closes;
        if (message == ZEFFUNC_OPEN || message == ZEFFUNC_WRITE) {
            w->got.insert(w->got.end(), bytes, bytes + block->dwLength);
            block->dwLength = 0;
        }
        return 0;
    }
};

// The user data of both ends: a reader and a writer in one session.
struct Both {
    Reader reader;
    Writer writer;
};

uint16_t bothReader(uint16_t a, uint16_t m, void* p) {
    auto* block = static_cast<ZEF_FUNCTION_BLOCK*>(p);
    auto* both = reinterpret_cast<Both*>(block->lpKelvaneData->dwUserData);
    KELVANE_DATA* kd = block->lpKelvaneData;
    kd->dwUserData = reinterpret_cast<uintptr_t>(&both->reader);
    uint16_t answer = Reader::call(a, m, p);
    kd->dwUserData = reinterpret_cast<uintptr_t>(both);
    return answer;
}
uint16_t bothWriter(uint16_t a, uint16_t m, void* p) {
    auto* block = static_cast<ZEF_FUNCTION_BLOCK*>(p);
    auto* both = reinterpret_cast<Both*>(block->lpKelvaneData->dwUserData);
    KELVANE_DATA* kd = block->lpKelvaneData;
    kd->dwUserData = reinterpret_cast<uintptr_t>(&both->writer);
    uint16_t answer = Writer::call(a, m, p);
    kd->dwUserData = reinterpret_cast<uintptr_t>(both);
    return answer;
}

}  // namespace

// Coded bytes three at a time from the caller's reader, PCM to the
// caller's writer: the same speech as from memory to memory.
TEST(OneShot, FromTheCallersReaderToTheCallersWriter) {
    const Bytes whole = decodeBuffer(speechFile());
    Both both{Reader{&speechFile()}, Writer{}};
    Kd kd;
    kd.dwUserData = reinterpret_cast<uintptr_t>(&both);
    kd.input(kZefWaveFunction, reinterpret_cast<void*>(&bothReader));
    kd.output(kRawFunction, reinterpret_cast<void*>(&bothWriter));
    ASSERT_EQ(dcmpMirlaneDecompress(&kd), 0) << kd.dwSecondaryError;
    EXPECT_TRUE(both.writer.got == whole);
    EXPECT_EQ(both.reader.opens, 1);
    EXPECT_EQ(both.reader.closes, 1);
    EXPECT_EQ(both.writer.opens, 1);
    EXPECT_EQ(both.writer.closes, 1);
    EXPECT_GT(both.writer.writes, 1);  // the endpoint's buffer is smaller than the speech
}

// A one-shot decode cannot wait for a reader that has nothing yet: the
// call ends with the reader's 94 and detaches.
TEST(OneShot, AReaderWithNothingYetEndsTheCall) {
    struct Dry {
        static uint16_t call(uint16_t, uint16_t message, void* p) {
            auto* block = static_cast<ZEF_FUNCTION_BLOCK*>(p);
            const Bytes& file = speechFile();
            if (message == ZEFFUNC_OPEN) {
                std::memcpy(block->lpBuffer, file.data(), 100);  // header and a few frames
                block->dwLength = 100;
                return 0;
            }
            block->dwLength = 0;
            return message == ZEFFUNC_READ ? ZEFFUNC_NO_DATA_YET : 0;
        }
    };
    Kd kd;
    Bytes out(roomFor(30));
    kd.input(kZefWaveFunction, reinterpret_cast<void*>(&Dry::call));
    kd.output(kRawBuffer, out.data(), uint32_t(out.size()));
    EXPECT_EQ(dcmpMirlaneDecompress(&kd), ZEFFUNC_NO_DATA_YET);
    EXPECT_EQ(kd.lpControlBlock, nullptr);
}
