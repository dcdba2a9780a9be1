// The endpoints and the file layer: files, buffers and the caller's
// functions at either end, the file information call, the malformed-file
// corpus and the fuzz seed corpora.
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <algorithm>

#include "byteorder.h"
#include "filelayer.h"
#include "fuzz_decoder.h"
#include "fuzz_entries.h"
#include "session.h"
#include "zefapi.h"

using namespace zeftest;

namespace {

constexpr uint32_t kWaveBuffer = 0x10200, kAiffFile = 0x30100, kWaveFunction = 0x10800;

// The 500 Hz tone of the PCM sample files: sixteen samples per period.
Samples tone(uint32_t count, int32_t amplitude = 12000) {
    static const int32_t quarter[5] = {0, 3826834, 7071068, 9238795, 10000000};
    Samples t(count);
    for (uint32_t n = 0; n < count; ++n) {
        uint32_t k = n % 16;
        int32_t s = k <= 4 ? quarter[k] : k <= 8 ? quarter[8 - k] : k <= 12 ? -quarter[k - 8] : -quarter[16 - k];
        t[n] = int16_t(int64_t(s) * amplitude / 10000000);
    }
    return t;
}

// A control structure with a control block, endpoints driven by messages.
struct Session {
    KELVANE_DATA kd{};
    Session(uint32_t inputType, void* location, uint32_t size = 0) {
        kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
        kd.dwInputType = inputType;
        kd.lpInputLocation = location;
        kd.dwInputSize = size;
        EXPECT_EQ(zef::NewZefControlBlock(&kd), 0);
    }
    ~Session() { close(); }
    zef::ZefControlBlock* cb() { return zef::controlBlock(&kd); }
    zef::InputVars* in() { return cb()->lpInputVars; }
    zef::OutputVars* out() { return cb()->lpOutputVars; }
    uint16_t openInput(zef::EndpointHandler h) {
        cb()->lpInputHandler = h;
        return h(&kd, ZEFMSG_OPEN);
    }
    uint16_t openOutput(zef::EndpointHandler h, uint32_t type, void* location, uint32_t size = 0) {
        kd.dwOutputType = type;
        kd.lpOutputLocation = location;
        kd.dwOutputSize = size;
        cb()->lpOutputHandler = h;
        return h(&kd, ZEFMSG_OPEN);
    }
    uint16_t read() { return cb()->lpInputHandler(&kd, ZEFMSG_READ); }
    uint16_t write() { return cb()->lpOutputHandler(&kd, ZEFMSG_WRITE); }
    uint16_t closeOutput() { return cb()->lpOutputHandler(&kd, ZEFMSG_CLOSE); }
    void produce(const Bytes& b) {  // as a decoder does, at the write position
        std::copy(b.begin(), b.end(), out()->lpBase + out()->dwWritePos);
        out()->dwWritePos += uint32_t(b.size());
    }
    Bytes take() {  // the unread input, taken whole
        zef::InputVars* i = in();
        Bytes b(i->lpBase + i->dwReadPos, i->lpBase + i->dwValid);
        i->dwReadPos = i->dwValid;
        return b;
    }
    Bytes readAll() {
        Bytes all = take();
        for (int round = 0; round < 1000; ++round) {
            uint16_t err = read();
            Bytes more = take();
            all.insert(all.end(), more.begin(), more.end());
            if (err == ZEFERR_ENDOFFILE_REACHED) break;
            EXPECT_TRUE(err == 0 || err == ZEFFUNC_NO_DATA_YET) << err;
        }
        return all;
    }
    void close() {
        if (!kd.lpControlBlock) return;
        if (out() && cb()->lpOutputHandler) cb()->lpOutputHandler(&kd, ZEFMSG_CLOSE);
        if (in() && cb()->lpInputHandler) cb()->lpInputHandler(&kd, ZEFMSG_CLOSE);
        zef::FreeZefControlBlock(&kd);
    }
};

Bytes head(const Bytes& b, size_t n) { return Bytes(b.begin(), b.begin() + long(std::min(n, b.size()))); }
Bytes framesOf(const Bytes& wave) { return Bytes(wave.begin() + long(waveDataOffset(wave)), wave.end()); }

}  // namespace

// ---- the data endpoint ------------------------------------------------------------

// Samples come out in host order for WAVE (little-endian), AIFF (big-endian)
// and AIFF-C 8-bit (signed in the file), from a file and from memory.
TEST(DataInput, SamplesArriveInHostOrder) {
    const Samples quiet = tone(5513, 100);
    Bytes unsigned8(quiet.size());
    for (size_t n = 0; n < quiet.size(); ++n) unsigned8[n] = uint8_t(128 + quiet[n]);
    const std::tuple<const char*, uint32_t, Bytes> cases[] = {
        {"pcm16_mono.wav", 0x10100, bytes16(tone(10000))}, {"tone16.aiff", kAiffFile, bytes16(tone(10000))}, {"tone8.aifc", kAiffFile, unsigned8}};
    for (const auto& [file, type, expected] : cases) {
        SCOPED_TRACE(file);
        std::string name = dataFile(file);
        Session s(type, name.data());
        ASSERT_EQ(s.openInput(zef::HandleInputData), 0);
        EXPECT_EQ(head(s.readAll(), expected.size()), expected);
        const Bytes original = readFile(name);
        Bytes copy = original;
        Session m((type & ~ZEFTYPE_LOCATION_MASK) | ZEFTYPE_LOCATION_BUFFER, copy.data(), uint32_t(copy.size()));
        ASSERT_EQ(m.openInput(zef::HandleInputData), 0);
        EXPECT_EQ(head(m.take(), expected.size()), expected);
        EXPECT_EQ(copy, original);  // the caller's bytes are not converted in place
    }
}

namespace {
struct PcmOutput : ::testing::Test {
    ScratchDir scratch;
    Bytes wave = readFile(dataFile("pcm16_mono.wav"));
    Session s{kWaveBuffer, wave.data(), uint32_t(wave.size())};
    void SetUp() override { ASSERT_EQ(s.openInput(zef::HandleInputData), 0); }
};
}  // namespace

TEST_F(PcmOutput, WaveBufferGetsLittleEndianSamplesAndFinalSizes) {
    Bytes buffer(4096, 0xEE);
    ASSERT_EQ(s.openOutput(zef::HandleOutputData, kWaveBuffer, buffer.data(), uint32_t(buffer.size())), 0);
    s.produce(bytes16(tone(500)));
    EXPECT_EQ(s.write(), ZEFERR_ENDOFBUFFER_REACHED);
    EXPECT_EQ(s.closeOutput(), 0);
    ASSERT_EQ(s.kd.dwOutputBytesUsed, 1044u);
    EXPECT_EQ(zef::readLE32(&buffer[4]), 1036u);
    EXPECT_EQ(zef::readLE32(&buffer[40]), 1000u);
    for (uint32_t n = 0; n < 500; ++n) ASSERT_EQ(int16_t(zef::readLE16(&buffer[44 + 2 * n])), tone(500)[n]);
    EXPECT_EQ(buffer[1044], 0);  // the rest of the buffer was cleared
}

TEST_F(PcmOutput, UnfinishedFileIsRemovedAndTheInputIsNotOverwritten) {
    std::string name = scratch.path("out.wav");
    const Bytes old{'o', 'l', 'd'};
    writeFile(name, old);
    ASSERT_EQ(s.openOutput(zef::HandleOutputData, 0x10100, name.data()), 0);
    s.produce(bytes16(tone(100)));
    ASSERT_EQ(s.write(), 0);
    EXPECT_EQ(readFile(name), old);  // written beside it
    EXPECT_EQ(s.closeOutput(), 0);
    EXPECT_EQ(readFile(name), old);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.dir()), {}), 1);

    std::string in = scratch.path("in.wav"), same = scratch.path("./in.wav");
    writeFile(in, wave);
    Session t(0x10100, in.data());
    ASSERT_EQ(t.openInput(zef::HandleInputData), 0);
    EXPECT_EQ(t.openOutput(zef::HandleOutputData, 0x10100, same.data()), ZEFERR_OPENING_OUTPUT_FILE);
    EXPECT_EQ(t.kd.dwSecondaryError, uint32_t(EEXIST));
    t.close();
    EXPECT_EQ(readFile(in), wave);
}

// A decoding that the caller's callback stops keeps its file: the frames
// decoded before the stop, under a header with the final sizes.
TEST(FileOutput, StoppedDecodingKeepsWhatItDecoded) {
    ScratchDir scratch;
    std::string in = dataFile("orvo.wav"), out = scratch.path("out.wav");
    struct Stop {
        int frames = 0;
        static uint16_t call(uint16_t, uint16_t status, void* p) {
            auto* stop = reinterpret_cast<Stop*>(static_cast<KELVANE_DATA*>(p)->dwUserData);
            return status == KELVANE_STATUS_FRAME && ++stop->frames == 20 ? 7 : 0;
        }
    } stop;
    Kd kd;
    kd.input(kZefWaveFile, in.c_str());
    kd.output(kWaveFile, out.data());
    kd.lpCallback = Stop::call;
    kd.dwUserData = reinterpret_cast<uintptr_t>(&stop);
    EXPECT_EQ(dcmpMirlaneDecompress(&kd), ZEFERR_PROCESSING_ABORTED);
    EXPECT_EQ(kd.dwSecondaryError, 7u);
    const Bytes file = readFile(out), whole = decodeBuffer(readFile(in));
    const size_t data = 19 * 360;  // the 20th frame was stopped before it was decoded
    ASSERT_EQ(file.size(), 44 + data);
    EXPECT_EQ(zef::readLE32(&file[4]), 36 + data);
    EXPECT_EQ(zef::readLE32(&file[40]), data);
    EXPECT_TRUE(std::equal(file.begin() + 44, file.end(), whole.begin()));
}

// ---- the function endpoint -----------------------------------------------------

namespace {
// Hands out `data` in pieces; answers are scripted per call.
struct Reader {
    Bytes data;
    size_t pos = 0, piece = 100;
    int reads = 0, noDataOnRead = -1;
    bool endWithLastPiece = false;
    uint32_t overReport = 0;
    uint16_t openAnswer = 0;
    static uint16_t call(uint16_t, uint16_t message, void* p) {
        auto* block = static_cast<ZEF_FUNCTION_BLOCK*>(p);
        auto* r = reinterpret_cast<Reader*>(block->lpKelvaneData->dwUserData);
        if (message == ZEFFUNC_CLOSE) return 0;
        if (message == ZEFFUNC_READ && r->reads++ == r->noDataOnRead) {
            block->dwLength = 0;
            return ZEFFUNC_NO_DATA_YET;
        }
        size_t n = std::min({r->piece, size_t(block->dwLength), r->data.size() - r->pos});
        if (n) std::memcpy(block->lpBuffer, r->data.data() + r->pos, n);
        r->pos += n;
        block->dwLength = uint32_t(n) + r->overReport;
        if (message == ZEFFUNC_OPEN) return r->openAnswer;
        return r->endWithLastPiece && r->pos == r->data.size() ? 1 : 0;
    }
};
struct ReaderSession : Session {
    explicit ReaderSession(Reader& r, uint32_t type = kZefWaveFunction) : Session(type, reinterpret_cast<void*>(&Reader::call)) {
        kd.dwUserData = reinterpret_cast<uintptr_t>(&r);
    }
};
}  // namespace

TEST(FunctionInput, PiecesOfEverySizeAreReadWhole) {
    const Bytes wave = readFile(dataFile("orvo.wav"));
    for (size_t piece : {10, 1000}) {
        for (bool endWithLast : {false, true}) {
            Reader r{wave, 0, piece};
            r.endWithLastPiece = endWithLast;
            ReaderSession s(r);
            ASSERT_EQ(s.openInput(zef::HandleInputFunction), 0);
            EXPECT_EQ(s.cb()->wCodecTag, ZEF_CODEC_ORVO);
            EXPECT_EQ(s.readAll(), framesOf(wave)) << piece;
        }
    }
    Reader r{readFile(dataFile("pcm16_mono.wav")), 0, 100};
    ReaderSession s(r, kWaveFunction);
    ASSERT_EQ(s.openInput(zef::HandleInputFunction), 0);
    EXPECT_EQ(head(s.readAll(), 20000), bytes16(tone(10000)));
}

// ---- real decoding through every end -----------------------------------------------

namespace {
struct Writer {
    Bytes received;
    bool takeHeader = true;
    static uint16_t call(uint16_t, uint16_t message, void* p) {
        auto* block = static_cast<ZEF_FUNCTION_BLOCK*>(p);
        auto* w = reinterpret_cast<Writer*>(block->lpKelvaneData->dwUserData);
        auto* bytes = static_cast<uint8_t*>(block->lpBuffer);
        if ((message == ZEFFUNC_OPEN && w->takeHeader) || message == ZEFFUNC_WRITE)
            w->received.insert(w->received.end(), bytes, bytes + block->dwLength);
        if (message == ZEFFUNC_OPEN && w->takeHeader) block->dwLength = 0;
        return 0;
    }
};
Bytes hostToLE(Bytes pcm) {
    zef::hostSamplesToLE(pcm.data(), pcm.size() / 2);
    return pcm;
}
}  // namespace

// Coded speech from a file, a buffer or a reader, into a file, a buffer or a
// writer, gives the same samples every way, also when one frame (44100 Hz,
// five times the length) needs more than the endpoints' own buffers hold.
TEST(DecodePaths, EveryEndGivesTheSameSamples) {
    ScratchDir scratch;
    const std::string in = dataFile("orvo.wav"), out = scratch.path("out.wav"), aiff = scratch.path("out.aifc");
    for (Format f : {Format{}, Format{44100, 0, 5.0f}}) {
        SCOPED_TRACE(f.rate);
        const Bytes reference = decodeBuffer(readFile(in), f);
        ASSERT_GT(reference.size(), 80u * 360u);
        Kd toFile;
        apply(toFile, f);
        toFile.input(kZefWaveFile, in.c_str());
        toFile.output(kWaveFile, const_cast<char*>(out.c_str()));
        ASSERT_EQ(dcmpZefFileToFile(&toFile), 0);
        const Bytes file = readFile(out);
        ASSERT_EQ(file.size(), 44 + reference.size());
        EXPECT_EQ(zef::readLE32(&file[4]), file.size() - 8);
        EXPECT_EQ(zef::readLE32(&file[40]), reference.size());
        EXPECT_EQ(Bytes(file.begin() + 44, file.end()), hostToLE(reference));
        for (bool takeHeader : {true, false}) {
            Writer writer{{}, takeHeader};
            Kd kd;
            apply(kd, f);
            kd.dwUserData = reinterpret_cast<uintptr_t>(&writer);
            kd.input(kZefWaveFile, in.c_str());
            kd.output(kWaveFunction, reinterpret_cast<void*>(&Writer::call));
            ASSERT_EQ(dcmpMirlaneDecompress(&kd), 0);
            ASSERT_EQ(writer.received.size(), file.size());  // sizes stay open: a writer cannot go back
            EXPECT_EQ(Bytes(writer.received.begin() + 44, writer.received.end()), hostToLE(reference));
        }
    }
    Reader reader{readFile(in), 0, 37};
    reader.endWithLastPiece = true;
    Bytes pcm(1 << 17);
    Kd kd;
    kd.dwUserData = reinterpret_cast<uintptr_t>(&reader);
    kd.input(kZefWaveFunction, reinterpret_cast<void*>(&Reader::call));
    kd.output(kRawBuffer, pcm.data(), uint32_t(pcm.size()));
    ASSERT_EQ(dcmpMirlaneDecompress(&kd), 0);
    EXPECT_EQ(head(pcm, kd.dwOutputBytesUsed), decodeBuffer(readFile(in)));
    Kd toAiff;
    toAiff.input(kZefWaveFile, in.c_str());
    toAiff.output(kAiffFile, const_cast<char*>(aiff.c_str()));
    ASSERT_EQ(dcmpMirlaneDecompress(&toAiff), 0);
    Bytes be = decodeBuffer(readFile(in));
    zef::hostSamplesToBE(be.data(), be.size() / 2);
    const Bytes written = readFile(aiff);
    ASSERT_EQ(written.size(), 86 + be.size());
    EXPECT_EQ(Bytes(written.begin() + 86, written.end()), be);
}

// ---- the file layer ----------------------------------------------------------------

namespace {
constexpr uint32_t kFile = ZEFTYPE_LOCATION_FILE | ZEFTYPE_FORMAT_RAW;
Bytes counting(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = uint8_t(i * 7 + i / 251);
    return b;
}
struct FileLayer : ::testing::Test {
    ScratchDir scratch;
    Kd kd;
    zef::FileRecord* f = nullptr;
    ~FileLayer() override { zef::FileClose(&f, 0); }
};
}  // namespace

// The unconsumed bytes move to the front and the rest is refilled, so the
// pieces taken reassemble the file exactly; a full buffer nobody takes is the end.
TEST_F(FileLayer, PiecesReassembleTheFile) {
    const Bytes content = counting(20000);
    std::string name = scratch.path("a.raw");
    writeFile(name, content);
    ASSERT_EQ(zef::FileInit(&kd, kFile, name.c_str(), zef::kFileReading, &f), 0);
    uint8_t* buffer = nullptr;
    uint32_t valid = 0;
    ASSERT_EQ(zef::FileRead(f, &buffer, &valid, zef::kConsumedAll), 0);
    EXPECT_EQ(valid, zef::kFileBufferSize);
    EXPECT_EQ(zef::FileRead(f, &buffer, &valid, 0), ZEFERR_ENDOFFILE_REACHED);
    f->wEOF = 0;
    Bytes seen;
    const uint32_t pieces[] = {1, 3000, 8191, 5, 4097};
    for (int round = 0; !f->wEOF || valid; ++round) {
        uint32_t take = std::min(pieces[round % 5], valid);
        seen.insert(seen.end(), buffer, buffer + take);
        if (f->wEOF && take == valid) break;
        ASSERT_EQ(zef::FileRead(f, &buffer, &valid, take), 0);
        ASSERT_LT(round, 100);
    }
    EXPECT_EQ(seen, content);
}

// A file is written beside its name and takes the name only when it closes
// without error; else the name keeps what it had, and nothing else is left.
TEST_F(FileLayer, WrittenFileIsKeptOrRemovedOnFailure) {
    const Bytes content = counting(5000), old{'o', 'l', 'd'};
    struct Case { uint16_t pending; bool discard; uint32_t secondary; bool kept; };
    for (const Case& c : {Case{0, false, 0, true}, Case{223, false, 0, false}, Case{0, true, 0, false}, Case{0, false, 93, false}}) {
        std::string name = scratch.path("out.raw");
        writeFile(name, old);
        ASSERT_EQ(zef::FileInit(&kd, kFile, name.c_str(), zef::kFileWriting, &f), 0);
        uint32_t n = uint32_t(content.size());
        ASSERT_EQ(zef::FileWrite(f, &n, content.data()), 0);
        kd.dwSecondaryError = c.secondary;
        EXPECT_EQ(zef::FileClose(&f, c.pending, c.discard), c.pending);
        EXPECT_EQ(readFile(name), c.kept ? content : old) << c.pending << c.discard;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.dir()), {}), 1);
    }
    // A failed output that is no plain file (a pipe, a device) is left alone.
    std::string pipe = scratch.path("pipe");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_EQ(zef::FileInit(&kd, kFile, pipe.c_str(), zef::kFileWriting, &f), 0);
    EXPECT_EQ(zef::FileClose(&f, ZEFERR_DECOMPRESSION), ZEFERR_DECOMPRESSION);
    EXPECT_TRUE(std::filesystem::exists(pipe));
    ::close(reader);
}

// ---- file information and malformed files ------------------------------------------

namespace {
struct InfoCall {
    Kd kd;
    ZEF_FILE_INFO info{};
    std::string name;
    Bytes bytes;
    InfoCall(uint32_t type, const std::string& file, bool fromMemory = false) : name(file) {
        if (fromMemory) {
            bytes = readFile(file);
            kd.input((type & ~ZEFTYPE_LOCATION_MASK) | ZEFTYPE_LOCATION_BUFFER, bytes.data(), uint32_t(bytes.size()));
        } else {
            kd.input(type, name.c_str());
        }
        kd.output(ZEFTYPE_FILE_INFO, &info, ZEF_FILE_INFO_SIZE);
    }
    uint16_t run() { return utilGetFileInfo(&kd); }
};
}  // namespace

// The same description whether the file is read from disk or from memory.
TEST(FileInfo, SampleFilesAreDescribed) {
    struct Row { const char* file; uint32_t type; uint16_t tag; uint32_t bitRate, rate; uint16_t bytes; uint32_t length; float value1; };
    const Row rows[] = {
        {"pcm16_mono.wav", 0x10100, 1, 128000, 8000, 2, 10000, 0},   {"pcm8_mono.wav", 0x10100, 1, 64000, 8000, 1, 4001, 0},
        {"tone16.aiff", 0x30100, 714, 128000, 8000, 2, 10000, 0},    {"tone8.aifc", 0x30100, 714, 88200, 11025, 1, 5513, 0},
        {"orvo.wav", 0x10101, 98, 2400, 8000, 2, 89 * 180, 0},       {"orvo_compat.wav", 0x10101, 98, 2400, 8000, 2, 89 * 180, 0},
        {"peln.wav", 0x10101, 98, 2976, 8000, 2, 89 * 180, 0},       {"orvo_chunked.zef", 0x20101, 98, 2400, 8000, 2, 89, 180.5f},
        {"orvo_compact.zef", 0x20101, 98, 2400, 8000, 2, 89, 180.5f},
    };
    for (const Row& r : rows) {
        for (bool memory : {false, true}) {
            SCOPED_TRACE(::testing::Message() << r.file << (memory ? " from memory" : ""));
            InfoCall c(r.type, dataFile(r.file), memory);
            c.info.bReserved[0] = 0xA5;
            ASSERT_EQ(c.run(), 0);
            EXPECT_EQ(c.info.wFormatTag, r.tag);
            EXPECT_EQ(c.info.dwBitRate, r.bitRate);
            EXPECT_EQ(c.info.dwSamplingRate, r.rate);
            EXPECT_EQ(c.info.wBytesPerSample, r.bytes);
            EXPECT_EQ(c.info.dwLength, r.length);
            EXPECT_EQ(c.info.fHeaderValue1, r.value1);
            EXPECT_EQ(c.info.bReserved[0], 0xA5);  // reserved bytes are the caller's
            EXPECT_EQ(c.kd.lpControlBlock, nullptr);
        }
    }
}

// Every file of the malformed corpus gives its own error, from a file and
// from memory, and leaves nothing attached.  A new file in the corpus needs
// its row here.
TEST(MalformedFiles, EachGivesItsError) {
    struct Row { uint32_t type; uint16_t fromFile, fromMemory; };
    const std::map<std::string, Row> expected = {  // an empty file cannot be read; in memory it is no RIFF
        {"bad_zef12_magic.wav", {0x10101, 205, 205}}, {"codec_zefc.wav", {0x10101, 310, 310}},
        {"comm_before_form.aiff", {0x30100, 306, 306}}, {"compat_past_end.wav", {0x10101, 307, 307}},
        {"data_before_fmt.wav", {0x10101, 203, 203}}, {"empty.wav", {0x10101, 222, 304}},
        {"fmt_past_end.wav", {0x10101, 305, 305}}, {"fmt_size_0.wav", {0x10101, 203, 203}},
        {"fmt_size_14.wav", {0x10101, 203, 203}}, {"fmt_size_ffffffff.wav", {0x10101, 305, 305}},
        {"guisette_size_3.wav", {0x10101, 607, 607}}, {"list_past_end.wav", {0x10101, 305, 305}},
        {"list_size_ffffffff.wav", {0x10101, 305, 305}}, {"not_wave.wav", {0x10101, 204, 204}},
        {"rate_huge.aiff", {0x30100, 306, 306}}, {"rate_zero.aiff", {0x30100, 306, 306}},
        {"rifx.wav", {0x10101, 303, 303}}, {"trunc_4.wav", {0x10101, 305, 305}},
        {"trunc_aiff.aiff", {0x30100, 306, 306}}, {"trunc_before_data.wav", {0x10101, 305, 305}},
        {"trunc_chunked.zef", {0x20101, 307, 307}}, {"trunc_compact.zef", {0x20101, 307, 307}},
        {"trunc_ext.wav", {0x10101, 305, 305}}, {"trunc_fmt.wav", {0x10101, 305, 305}},
        {"trunc_pcm_fmt.wav", {0x10101, 305, 305}}, {"zef_size_44.zef", {0x20101, 206, 206}},
        {"zef_size_ffffffff.zef", {0x20101, 206, 206}}, {"zefh_size_48.zef", {0x20101, 205, 205}},
        {"zero_channels.wav", {0x10101, 305, 305}}, {"wide_frame.aiff", {0x30100, 306, 306}},
    };
    size_t seen = 0;
    for (const auto& e : std::filesystem::directory_iterator(dataFile("bad"))) {
        const std::string file = e.path().filename().string();
        SCOPED_TRACE(file);
        auto row = expected.find(file);
        ASSERT_NE(row, expected.end()) << "no row for this file";
        for (bool memory : {false, true}) {
            InfoCall c(row->second.type, e.path().string(), memory);
            EXPECT_EQ(c.run(), memory ? row->second.fromMemory : row->second.fromFile) << memory;
            EXPECT_EQ(c.kd.lpControlBlock, nullptr);
        }
        ++seen;
    }
    EXPECT_EQ(seen, expected.size());
}

// ---- fuzz seed corpora ---------------------------------------------------------------

// The seeds replayed through the fuzz targets' entry bodies: in the sanitizer
// build any out-of-bounds access, leak or broken invariant fails this test.
TEST(FuzzCorpus, SeedsReplay) {
    const std::pair<const char*, int (*)(const uint8_t*, size_t)> targets[] = {
        {"fuzz_decoder", zeffuzz::decoderEntry}, {"fuzz_fileinfo", zeffuzz::fileInfoEntry}, {"fuzz_readers", zeffuzz::readersEntry}};
    for (const auto& [target, entry] : targets) {
        size_t count = 0;
        for (const auto& e : std::filesystem::directory_iterator(std::string(ZEF_SOURCE_DIR) + "/fuzz/corpus/" + target)) {
            const Bytes bytes = readFile(e.path().string());
            EXPECT_EQ(entry(bytes.data(), bytes.size()), 0) << e.path();
            ++count;
        }
        EXPECT_GE(count, 30u) << target;
    }
    for (const char* name : {"pcm16_mono.wav", "orvo_compat.wav", "tone16.aiff", "orvo_chunked.zef"}) {  // every cut
        const Bytes bytes = readFile(dataFile(name));
        for (size_t n = 0; n <= std::min<size_t>(bytes.size(), 2000); n += bytes.size() > 2000 ? 23 : 1) {
            zeffuzz::fileInfoEntry(bytes.data(), n);
            zeffuzz::decoderEntry(bytes.data(), n);
        }
    }
}
