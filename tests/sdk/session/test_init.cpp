// Building and tearing down a session: refusals before anything is touched,
// what set-up writes back, built-in previews, cleanup after a failed set-up,
// and reusing a structure.
#include "guisette.h"
#include "session_util.h"
#include "zefinternal.h"

using namespace sess;

namespace {

const Bytes& speechFile() {
    static const Bytes b = zeftest::zefWave(zeftest::orvo(), zeftest::orvoSpeechLike(12));
    return b;
}

struct Open {
    Kd kd;
    Bytes out = Bytes(roomFor(20));
    Open() {
        kd.input(kZefWaveBuffer, speechFile().data(), uint32_t(speechFile().size()));
        kd.output(kRawBuffer, out.data(), uint32_t(out.size()));
    }
};

}  // namespace

TEST(Init, DefaultsAreWrittenBack) {
    Open s;
    ASSERT_EQ(dcmpZefInit(&s.kd), 0);
    EXPECT_EQ(s.kd.dwOutputSamplingRate, 8000u);
    EXPECT_EQ(s.kd.wOutputBytesPerSample, 2);
    EXPECT_EQ(s.kd.wSynthesizer, 0);  // the decoder's own choice
    EXPECT_EQ(s.kd.wBitsPerFrame, 54);
    EXPECT_EQ(s.kd.dwInputSamplingRate, 8000u);
}

TEST(Init, AStructureInUseIsRefusedAndKeepsItsSession) {
    Open s;
    ASSERT_EQ(dcmpZefInit(&s.kd), 0);
    void* cb = s.kd.lpControlBlock;
    EXPECT_EQ(dcmpZefInit(&s.kd), ZEFERR_KELVANE_ALREADY_INITIALIZED);
    EXPECT_EQ(dcmpMirlaneDecompress(&s.kd), ZEFERR_KELVANE_ALREADY_INITIALIZED);
    EXPECT_EQ(s.kd.lpControlBlock, cb);
    ASSERT_EQ(dcmpZefConvert(&s.kd), 0);  // the first session decodes on
    EXPECT_EQ(s.kd.dwOutputBytesUsed, 12 * kFrameBytes16);
}

TEST(Init, CleanupNeedsASession) {
    Kd kd;
    EXPECT_EQ(dcmpMirlaneCleanup(&kd), ZEFERR_VWD_OR_VCB_IS_NULL);
    EXPECT_EQ(kd.dwSecondaryError, uint32_t(reinterpret_cast<uintptr_t>(&kd)));
    EXPECT_EQ(dcmpMirlaneCleanup(nullptr), ZEFERR_VWD_OR_VCB_IS_NULL);
}

// The decode loop does not play: the audio device has its own call.
TEST(Init, TheDecodeLoopRefusesTheAudioDevice) {
    Open s;
    ASSERT_EQ(dcmpMirlaneInit(&s.kd, 0), 0);
    s.kd.dwOutputType = kSoundOut;
    EXPECT_EQ(MirlaneDecompress(&s.kd), ZEFERR_MUST_CALL_DCMP_MIRLANE_PLAY);
    EXPECT_EQ(s.kd.dwSecondaryError, kSoundOut);
    s.kd.dwOutputType = kRawBuffer;
}

// A failed set-up leaves what it built attached; cleanup frees it and
// reports no end, since no start was reported.
TEST(Init, CleanupAfterAFailedSetUp) {
    Recorder r;
    Kd kd;
    r.attach(kd);
    Bytes out(4000);
    kd.input(kZefWaveFile, "/nonexistent/speech.wav");
    kd.output(kRawBuffer, out.data(), uint32_t(out.size()));
    EXPECT_EQ(dcmpMirlaneInit(&kd, 0), ZEFERR_OPENING_INPUT_FILE);
    EXPECT_EQ(kd.dwSecondaryError, uint32_t(ENOENT));
    ASSERT_NE(kd.lpControlBlock, nullptr);
    dcmpMirlaneCleanup(&kd);
    EXPECT_EQ(kd.lpControlBlock, nullptr);
    EXPECT_TRUE(r.statuses.empty());

    // An output that cannot be opened fails after the start was reported.
    kd.input(kZefWaveBuffer, speechFile().data(), uint32_t(speechFile().size()));
    kd.output(kRawFile, const_cast<char*>("/nonexistent/out.raw"));
    kd.dwInputSamplingRate = 0;
    kd.wInputBytesPerSample = 0;
    EXPECT_EQ(dcmpZefFileToFile(&kd), ZEFERR_OPENING_OUTPUT_FILE);
    EXPECT_EQ(kd.lpControlBlock, nullptr);
    EXPECT_EQ(r.statuses, (std::vector<uint16_t>{KELVANE_STATUS_DECOMPRESS_START, KELVANE_STATUS_DECOMPRESS_END}));
}

// After a session the structure holds the stream's rate and sample size
// (the input endpoint reports them there).  Those fields describe raw PCM
// input, so a second set-up with a header-carrying input is refused until
// the caller clears them: the size is checked first, then the rate.
TEST(Init, AStructureReusedWithoutClearingIsRefused) {
    Open s;
    ASSERT_EQ(dcmpMirlaneDecompress(&s.kd), 0);
    EXPECT_EQ(s.kd.dwInputSamplingRate, 8000u);
    EXPECT_EQ(s.kd.wInputBytesPerSample, 2);
    EXPECT_EQ(s.kd.lpControlBlock, nullptr);
    EXPECT_EQ(dcmpMirlaneDecompress(&s.kd), ZEFERR_DONT_GIVE_INPUT_SAMPLE_SIZE);
    EXPECT_EQ(s.kd.dwSecondaryError, 2u);
    s.kd.wInputBytesPerSample = 0;
    EXPECT_EQ(dcmpMirlaneDecompress(&s.kd), ZEFERR_DONT_GIVE_INPUT_SAMPLE_RATE);
    EXPECT_EQ(s.kd.dwSecondaryError, 8000u);
    EXPECT_EQ(s.kd.lpControlBlock, nullptr);
    // Cleared, with the positions back at the start, it decodes again.
    s.kd.dwInputSamplingRate = 0;
    s.kd.dwInputBytesUsed = 0;
    s.kd.dwOutputBytesUsed = 0;
    EXPECT_EQ(dcmpMirlaneDecompress(&s.kd), 0);
    EXPECT_EQ(s.kd.dwOutputBytesUsed, 12 * kFrameBytes16);
}

// The older, shorter form of the structure is taken without validation and
// gets no status written into it.
TEST(Init, TheOldFormDecodesWithoutStatus) {
    Open s;
    s.kd.wSizeOfKelvaneData = KELVANE_DATA_OLD_MARK;
    s.kd.dwStatus = 77;
    ASSERT_EQ(dcmpMirlaneDecompress(&s.kd), 0);
    EXPECT_EQ(s.kd.dwOutputBytesUsed, 12 * kFrameBytes16);
    EXPECT_EQ(s.kd.dwStatus, 77u);
}

// ---- built-in previews ------------------------------------------------------------

class Preview : public ::testing::Test {
protected:
    void SetUp() override {
        ZEF_STARTUP s{};
        s.wSize = ZEF_STARTUP_SIZE;
        ASSERT_EQ(zefStartup(&s), 0);
    }
    void TearDown() override { zefShutdown(); }
    static constexpr uint32_t kPreviewType = ZEFTYPE_FORMAT_WAVE | ZEFTYPE_LOCATION_PREVIEW | ZEFTYPE_QUALIFIER_ZEF;
};

TEST_F(Preview, AnUnknownNumberIsRefused) {
    Kd kd;
    Bytes out(4000);
    kd.input(kPreviewType, reinterpret_cast<void*>(uintptr_t(999)));
    kd.output(kRawBuffer, out.data(), uint32_t(out.size()));
    kd.dwSecondaryError = 1234;
    EXPECT_EQ(dcmpMirlaneDecompress(&kd), ZEFERR_PREVIEW_NOT_FOUND);
    EXPECT_EQ(kd.dwSecondaryError, 1234u);  // not recorded as an error of its own
    EXPECT_EQ(kd.lpControlBlock, nullptr);
}

// Every preview plays like its WAVE image given as a buffer.
TEST_F(Preview, EachDecodesAsItsImage) {
    const zef::PreviewRecord* list = nullptr;
    ASSERT_EQ(zef::GetGuisettePreviewsList(&list), 0);
    for (uint16_t i = 0; i < zef::kPreviewCount; ++i) {
        SCOPED_TRACE(list[i].guisetteId);
        Kd kd;
        Bytes out(roomFor(230));
        kd.input(kPreviewType, reinterpret_cast<void*>(uintptr_t(list[i].guisetteId)));
        kd.output(kRawBuffer, out.data(), uint32_t(out.size()));
        ASSERT_EQ(dcmpMirlaneDecompress(&kd), 0);
        EXPECT_EQ(kd.dwOutputBytesUsed, 221 * kFrameBytes16);
        EXPECT_EQ(kd.dwInputType, kZefWaveBuffer);  // the call names the data it decoded
        EXPECT_EQ(kd.lpInputLocation, list[i].data);
        const Bytes image(list[i].data, list[i].data + list[i].size);
        out.resize(kd.dwOutputBytesUsed);
        EXPECT_TRUE(out == decodeBuffer(image));
    }
}
