// The function endpoint: the caller's reader and writer, called with a
// parameter block for open (40), read (41), write (42) and close (43).
#include "endpoint_harness.h"

using namespace ept;

namespace {

constexpr uint32_t kZefWaveFunction = 0x10801, kWaveFunction = 0x10800, kWaveBuffer = 0x10200;

// A reader that hands out `data` in pieces; answers are scripted per call.
struct Reader {
    explicit Reader(Bytes d = {}) : data(std::move(d)) {}
    Bytes data;
    size_t pos = 0;
    size_t piece = 100;
    int reads = 0;
    int noDataOnRead = -1;     // this read answers 94 and delivers nothing
    bool endWithLastPiece = false;
    uint32_t overReport = 0;   // added to the length reported
    uint16_t openAnswer = 0, closeAnswer = 0;
    std::vector<uint32_t> valuesSeen;

    static uint16_t call(uint16_t, uint16_t message, void* p) {
        auto* block = static_cast<ZEF_FUNCTION_BLOCK*>(p);
        auto* r = reinterpret_cast<Reader*>(block->lpKelvaneData->dwUserData);
        EXPECT_EQ(block->wSize, ZEF_FUNCTION_BLOCK_SIZE);
        if (message == ZEFFUNC_OPEN) block->dwUserValue = 77;
        else r->valuesSeen.push_back(block->dwUserValue);
        if (message == ZEFFUNC_CLOSE) return r->closeAnswer;
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
    explicit ReaderSession(Reader& r, uint32_t type = kZefWaveFunction)
        : Session(type, reinterpret_cast<void*>(&Reader::call)) {
        kd.dwUserData = reinterpret_cast<uintptr_t>(&r);
    }
};

Bytes framesOf(const Bytes& wave) {
    size_t data = 0;
    for (size_t i = 12; i + 8 <= wave.size(); i += 8 + zef::readLE32(&wave[i + 4])) {
        if (zef::isFourcc(&wave[i], "data")) {
            data = i + 8;
            break;
        }
    }
    return Bytes(wave.begin() + long(data), wave.end());
}

Bytes readAll(Session& s) {
    Bytes all = s.take();
    for (int round = 0; round < 1000; ++round) {
        uint16_t err = s.read();
        Bytes more = s.take();
        all.insert(all.end(), more.begin(), more.end());
        if (err == ZEFERR_ENDOFFILE_REACHED) break;
        EXPECT_TRUE(err == 0 || err == ZEFFUNC_NO_DATA_YET) << err;
    }
    return all;
}

}  // namespace

TEST(FunctionInput, ReaderDeliveringSmallPiecesIsReadWhole) {
    Reader r{readBytes(dataFile("pcm16_mono.wav"))};
    ReaderSession s(r, kWaveFunction);
    ASSERT_EQ(s.openInput(zef::HandleInputFunction), 0);
    EXPECT_EQ(s.kd.dwInputSamplingRate, 8000u);
    Bytes samples = readAll(s);
    ASSERT_GE(samples.size(), 20000u);
    samples.resize(20000);
    EXPECT_EQ(samples16(samples), [] {
        std::vector<int16_t> t(10000);
        for (uint32_t n = 0; n < t.size(); ++n) t[n] = tone(n, 12000);
        return t;
    }());
    EXPECT_EQ(s.closeInput(), 0);
    ASSERT_GT(r.valuesSeen.size(), 100u);
    for (uint32_t v : r.valuesSeen) EXPECT_EQ(v, 77u);  // the caller's value comes back on every call
}

TEST(FunctionInput, CodedHeaderArrivingInPiecesIsParsed) {
    Reader r{readBytes(dataFile("orvo.wav"))};
    r.piece = 10;
    ReaderSession s(r);
    ASSERT_EQ(s.openInput(zef::HandleInputFunction), 0);
    EXPECT_EQ(s.cb()->wCodecTag, ZEF_CODEC_ORVO);
    EXPECT_EQ(readAll(s), framesOf(r.data));
}

TEST(FunctionInput, BytesDeliveredWithTheEndAreKept) {
    Reader r{readBytes(dataFile("orvo.wav"))};
    r.endWithLastPiece = true;
    ReaderSession s(r);
    ASSERT_EQ(s.openInput(zef::HandleInputFunction), 0);
    EXPECT_EQ(readAll(s), framesOf(r.data));
    EXPECT_EQ(s.read(), ZEFERR_ENDOFFILE_REACHED);
}

TEST(FunctionInput, NoDataYetIsPassedBackAndReadingGoesOn) {
    Reader r{readBytes(dataFile("orvo.wav"))};
    r.piece = 1000;  // the whole file comes at open and the first read
    ReaderSession s(r);
    ASSERT_EQ(s.openInput(zef::HandleInputFunction), 0);
    r.noDataOnRead = r.reads;
    s.take();
    EXPECT_EQ(s.read(), ZEFFUNC_NO_DATA_YET);
    EXPECT_EQ(s.read(), ZEFERR_ENDOFFILE_REACHED);  // nothing more and no complaint: the end
}

TEST(FunctionInput, RefusalsAndOverstatedLengthsFail) {
    Bytes wave = readBytes(dataFile("orvo.wav"));
    Reader refusesOpen{wave};
    refusesOpen.openAnswer = 5;
    ReaderSession a(refusesOpen);
    EXPECT_EQ(a.openInput(zef::HandleInputFunction), ZEF_SIGNAL_FUNCTION_REFUSED);
    EXPECT_EQ(a.kd.dwSecondaryError, uint32_t(ZEF_SIGNAL_FUNCTION_REFUSED));

    Reader refusesClose{wave};
    refusesClose.closeAnswer = 1;
    ReaderSession b(refusesClose);
    ASSERT_EQ(b.openInput(zef::HandleInputFunction), 0);
    EXPECT_EQ(b.closeInput(), ZEF_SIGNAL_FUNCTION_REFUSED);

    Reader overstates{wave};
    overstates.overReport = zef::kFunctionBufferSize;
    ReaderSession c(overstates);
    EXPECT_EQ(c.openInput(zef::HandleInputFunction), ZEFERR_INPUT_HANDLER);
    EXPECT_GT(c.kd.dwSecondaryError, zef::kFunctionBufferSize);
}

TEST(FunctionInput, ReaderWithNothingEndsTheInput) {
    Reader empty;
    ReaderSession a(empty);
    EXPECT_EQ(a.openInput(zef::HandleInputFunction), ZEFERR_ENDOFBUFFER_REACHED);
    Reader ended;
    ended.endWithLastPiece = true;
    ReaderSession b(ended);
    EXPECT_EQ(b.openInput(zef::HandleInputFunction), ZEFERR_ENDOFFILE_REACHED);
}

namespace {

// A writer that collects what it is handed; it takes the header at open
// when asked to, and can refuse a write.
struct Writer {
    Bytes received;
    std::vector<uint16_t> messages;
    bool takeHeader = false;
    uint32_t openLength = UINT32_MAX;  // UINT32_MAX: leave the length as given
    bool refuseWrite = false;
    uint32_t closeValue = 0;

    static uint16_t call(uint16_t, uint16_t message, void* p) {
        auto* block = static_cast<ZEF_FUNCTION_BLOCK*>(p);
        auto* w = reinterpret_cast<Writer*>(block->lpKelvaneData->dwUserData);
        w->messages.push_back(message);
        auto* bytes = static_cast<uint8_t*>(block->lpBuffer);
        if (message == ZEFFUNC_OPEN) {
            block->dwUserValue = 42;
            if (w->takeHeader) {
                w->received.insert(w->received.end(), bytes, bytes + block->dwLength);
                block->dwLength = 0;
            } else if (w->openLength != UINT32_MAX) {
                block->dwLength = w->openLength;
            }
        } else if (message == ZEFFUNC_WRITE) {
            if (w->refuseWrite) return 3;
            w->received.insert(w->received.end(), bytes, bytes + block->dwLength);
        } else if (message == ZEFFUNC_CLOSE) {
            w->closeValue = block->dwUserValue;
        }
        return 0;
    }
};

struct WriterSession : ::testing::Test {
    Writer w;  // outlives the session, which calls it when closing
    Bytes wave = readBytes(dataFile("pcm16_mono.wav"));
    Session s{kWaveBuffer, wave.data(), uint32_t(wave.size())};
    void SetUp() override {
        s.kd.dwUserData = reinterpret_cast<uintptr_t>(&w);
        ASSERT_EQ(s.openInput(zef::HandleInputData), 0);
    }
    uint16_t open() {
        return s.openOutput(zef::HandleOutputFunction, kWaveFunction, reinterpret_cast<void*>(&Writer::call));
    }
    void produceTone(uint32_t from, uint32_t count) {
        Bytes b(count * 2);
        for (uint32_t n = 0; n < count; ++n) {
            int16_t v = tone(from + n, 12000);
            std::memcpy(&b[2 * n], &v, 2);
        }
        s.produce(b);
    }
};

}  // namespace

TEST_F(WriterSession, WriterTakingTheHeaderAtOpenGetsOnlySamplesAfterwards) {
    w.takeHeader = true;
    ASSERT_EQ(open(), 0);
    ASSERT_EQ(w.received.size(), 44u);
    EXPECT_TRUE(zef::isFourcc(w.received.data(), "RIFF"));
    produceTone(0, 300);
    ASSERT_EQ(s.write(), 0);
    produceTone(300, 5);
    ASSERT_EQ(s.closeOutput(), 0);
    EXPECT_EQ(w.messages, (std::vector<uint16_t>{ZEFFUNC_OPEN, ZEFFUNC_WRITE, ZEFFUNC_WRITE, ZEFFUNC_CLOSE}));
    ASSERT_EQ(w.received.size(), 44u + 610u);
    for (uint32_t n = 0; n < 305; ++n) ASSERT_EQ(int16_t(zef::readLE16(&w.received[44 + 2 * n])), tone(n, 12000));
    EXPECT_EQ(w.closeValue, 42u);
}

TEST_F(WriterSession, HeaderLeftAtOpenComesWithTheFirstWrite) {
    ASSERT_EQ(open(), 0);
    EXPECT_TRUE(w.received.empty());
    produceTone(0, 10);
    ASSERT_EQ(s.write(), 0);
    ASSERT_EQ(w.received.size(), 44u + 20u);
    EXPECT_TRUE(zef::isFourcc(w.received.data(), "RIFF"));
    EXPECT_EQ(int16_t(zef::readLE16(&w.received[46])), tone(1, 12000));
}

TEST_F(WriterSession, RefusedWriteAndMisreportedOpenFail) {
    w.refuseWrite = true;
    ASSERT_EQ(open(), 0);
    produceTone(0, 10);
    EXPECT_EQ(s.write(), ZEF_SIGNAL_FUNCTION_REFUSED);
    s.close();

    Writer odd;
    Session t(kWaveBuffer, wave.data(), uint32_t(wave.size()));
    odd.openLength = 10;  // neither the whole header nor none of it
    t.kd.dwUserData = reinterpret_cast<uintptr_t>(&odd);
    ASSERT_EQ(t.openInput(zef::HandleInputData), 0);
    EXPECT_EQ(t.openOutput(zef::HandleOutputFunction, kWaveFunction, reinterpret_cast<void*>(&Writer::call)),
              ZEFERR_OUTPUT_HANDLER);
    EXPECT_EQ(t.kd.dwSecondaryError, 10u);
}
