// The file information calls: what ZEF_FILE_INFO says about each sample
// file, from a file and from memory, and the checks made before anything
// is opened.
#include <filesystem>

#include "endpoint_harness.h"

using namespace ept;

namespace {

struct InfoCall {
    KELVANE_DATA kd{};
    ZEF_FILE_INFO info{};
    std::string name;
    Bytes bytes;

    InfoCall(uint32_t type, const std::string& file, bool fromMemory = false) : name(file) {
        kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
        kd.dwInputType = type;
        if (fromMemory) {
            bytes = readBytes(file);
            kd.dwInputType = (type & ~ZEFTYPE_LOCATION_MASK) | ZEFTYPE_LOCATION_BUFFER;
            kd.lpInputLocation = bytes.data();
            kd.dwInputSize = uint32_t(bytes.size());
        } else {
            kd.lpInputLocation = name.data();
        }
        kd.dwOutputType = ZEFTYPE_FILE_INFO;
        kd.lpOutputLocation = &info;
        kd.dwOutputSize = ZEF_FILE_INFO_SIZE;
    }
    uint16_t run() { return utilGetFileInfo(&kd); }
};

struct Expected {
    const char* file;
    uint32_t type;
    uint16_t tag, channels;
    uint32_t bitRate, rate;
    uint16_t bytesPerSample;
    uint32_t length;
    float values[3];
};

const Expected kFiles[] = {
    {"pcm16_mono.wav", 0x10100, 1, 1, 128000, 8000, 2, 10000, {}},
    {"pcm8_mono.wav", 0x10100, 1, 1, 64000, 8000, 1, 4001, {}},
    {"tone16.aiff", 0x30100, 714, 1, 128000, 8000, 2, 10000, {}},
    {"tone8.aifc", 0x30100, 714, 1, 88200, 11025, 1, 5513, {}},
    {"orvo.wav", 0x10101, 98, 1, 2400, 8000, 2, 89 * 180, {}},
    {"orvo_guisette.wav", 0x10101, 98, 1, 2400, 8000, 2, 89 * 180, {}},
    {"orvo_compat.wav", 0x10101, 98, 1, 2400, 8000, 2, 89 * 180, {}},
    {"peln.wav", 0x10101, 98, 1, 2976, 8000, 2, 89 * 180, {}},
    {"orvo_chunked.zef", 0x20101, 98, 1, 2400, 8000, 2, 89, {180.5f, 140.25f, 250.75f}},
    {"orvo_compact.zef", 0x20101, 98, 1, 2400, 8000, 2, 89, {180.5f, 140.25f, 250.75f}},
};

class SampleFiles : public ::testing::TestWithParam<Expected> {};

}  // namespace

// The same description whether the file is read from disk or from memory.
TEST_P(SampleFiles, AreDescribed) {
    const Expected& e = GetParam();
    for (bool memory : {false, true}) {
        InfoCall c(e.type, dataFile(e.file), memory);
        c.info.bReserved[0] = 0xA5;
        ASSERT_EQ(c.run(), 0) << e.file << (memory ? " from memory" : "");
        EXPECT_EQ(c.info.wFormatTag, e.tag);
        EXPECT_EQ(c.info.wChannels, e.channels);
        EXPECT_EQ(c.info.dwBitRate, e.bitRate);
        EXPECT_EQ(c.info.dwSamplingRate, e.rate);
        EXPECT_EQ(c.info.wBytesPerSample, e.bytesPerSample);
        EXPECT_EQ(c.info.dwLength, e.length);
        EXPECT_EQ(c.info.fHeaderValue1, e.values[0]);
        EXPECT_EQ(c.info.fHeaderValue2, e.values[1]);
        EXPECT_EQ(c.info.fHeaderValue3, e.values[2]);
        EXPECT_EQ(c.info.bReserved[0], 0xA5);  // reserved bytes are the caller's
        EXPECT_EQ(c.kd.lpControlBlock, nullptr);
        EXPECT_EQ(c.kd.dwSecondaryError, 0u);
    }
}
INSTANTIATE_TEST_SUITE_P(All, SampleFiles, ::testing::ValuesIn(kFiles),
                         [](const auto& p) {
                             std::string n = p.param.file;
                             for (char& ch : n)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return n;
                         });

TEST(FileInfo, RecordIsCheckedBeforeTheFileIsOpened) {
    InfoCall c(0x10100, "/nonexistent/file.wav");
    c.kd.dwOutputSize = 40;
    EXPECT_EQ(c.run(), ZEFERR_ZEF_FILE_INFO_SIZE);
    EXPECT_EQ(c.kd.dwSecondaryError, 44u);
    c.kd.dwOutputSize = 44;
    c.kd.lpOutputLocation = nullptr;
    EXPECT_EQ(c.run(), ZEFERR_ZEF_FILE_INFO_POINTER_NULL);
    c.kd.lpOutputLocation = &c.info;
    c.kd.dwOutputType = 0x20000000;
    EXPECT_EQ(c.run(), ZEFERR_INVALID_OUTPUT_TYPE);
    c.kd.dwOutputType = ZEFTYPE_FILE_INFO | ZEFTYPE_LOCATION_BUFFER;
    c.kd.wSizeOfKelvaneData = 100;
    EXPECT_EQ(c.run(), ZEFERR_KELVANE_DATA_SIZE);
    EXPECT_EQ(c.kd.dwSecondaryError, 148u);
    EXPECT_EQ(utilGetFileInfo(nullptr), ZEFERR_KELVANE_DATA_POINTER_NULL);
    c.kd.wSizeOfKelvaneData = KELVANE_DATA_OLD_MARK;
    EXPECT_EQ(c.run(), ZEFERR_OPENING_INPUT_FILE);  // only now is the file looked for
    EXPECT_EQ(c.kd.lpControlBlock, nullptr);
}

TEST(FileInfo, InputTypesOutsideTheDataEndpointAreRefused) {
    for (uint32_t type : {0x21101u, 0x10801u, 0x10400u, 0x11201u, 0x40100u}) {
        InfoCall c(type, dataFile("orvo.wav"));
        EXPECT_EQ(c.run(), ZEFERR_INVALID_INPUT_TYPE) << std::hex << type;
        EXPECT_EQ(c.kd.dwSecondaryError, type);
        EXPECT_EQ(c.kd.lpControlBlock, nullptr);
        EXPECT_EQ(utilGetInputProc(type), nullptr);
    }
    for (uint32_t type : {0x10100u, 0x10101u, 0x10200u, 0x10201u, 0x20100u, 0x20101u, 0x20200u, 0x20201u, 0x30100u,
                          0x30200u})
        EXPECT_EQ(utilGetInputProc(type), &zef::HandleInputData) << std::hex << type;
}

// A structure that belongs to an open session is neither used nor freed.
TEST(FileInfo, OpenSessionIsLeftAlone) {
    InfoCall c(0x10101, dataFile("orvo.wav"));
    ASSERT_EQ(zef::NewZefControlBlock(&c.kd), 0);
    void* block = c.kd.lpControlBlock;
    EXPECT_EQ(c.run(), ZEFERR_KELVANE_ALREADY_INITIALIZED);
    EXPECT_EQ(utilMirlaneInit(&c.kd), ZEFERR_KELVANE_ALREADY_INITIALIZED);
    EXPECT_EQ(c.kd.lpControlBlock, block);
    zef::FreeZefControlBlock(&c.kd);
}

TEST(FileInfo, CodedSpeechAskedForAsPcmIsRefused) {
    InfoCall c(0x10100, dataFile("orvo.wav"));
    EXPECT_NE(c.run(), 0);
    EXPECT_EQ(c.kd.lpControlBlock, nullptr);
}

TEST(FileInfo, EveryMalformedFileIsRefusedAndReleased) {
    size_t seen = 0;
    for (const auto& e : std::filesystem::directory_iterator(std::string(ZEF_TEST_DATA_DIR) + "/bad")) {
        std::string path = e.path().string();
        for (uint32_t type : {0x10100u, 0x10101u, 0x30100u, 0x20101u}) {
            for (bool memory : {false, true}) {
                InfoCall c(type, path, memory);
                EXPECT_NE(c.run(), 0) << path << " as " << std::hex << type;
                EXPECT_EQ(c.kd.lpControlBlock, nullptr);
            }
        }
        ++seen;
    }
    EXPECT_GE(seen, 20u);
}

// Between utilMirlaneInit and utilMirlaneCleanup the parsed input can be
// looked at: the markers and INFO texts of a PCM file.
TEST(FileInfo, InitLeavesMarkersAndTextsUntilCleanup) {
    InfoCall c(0x10100, dataFile("pcm16_mono.wav"));
    KELVANE_MARKER_REQUEST request{1, ZEF_MARKER_REQUEST_SIZE, 0, 0, 0, 0};
    KELVANE_INFO_CHUNK texts[4]{};
    texts[0].dwId = 6;  // the comment, asked for first
    texts[0].dwLength = 0xFFFFFFFFu;
    c.kd.lpMarker = &request;
    c.kd.lpInfoChunks = texts;
    c.kd.wInfoChunks = 4;
    ASSERT_EQ(utilMirlaneInit(&c.kd), 0);
    EXPECT_EQ(c.info.dwLength, 10000u);
    const zef::InputVars* in = zef::controlBlock(&c.kd)->lpInputVars;
    ASSERT_EQ(in->dwMarkerCount, 2u);
    EXPECT_EQ(zef::readLE32(in->lpMarkerList[0] + 8), 2000u);
    EXPECT_STREQ(reinterpret_cast<const char*>(in->lpMarkerList[0] + 16), "start");
    EXPECT_EQ(zef::readLE32(in->lpMarkerList[1] + 8), 6000u);
    EXPECT_STREQ(reinterpret_cast<const char*>(in->lpMarkerList[1] + 16), "middle");
    EXPECT_STREQ(texts[0].szText, "A 500 Hz sine");
    EXPECT_EQ(texts[1].dwId, 3u);  // INAM
    EXPECT_STREQ(texts[1].szText, "Test tone");
    EXPECT_EQ(utilMirlaneCleanup(&c.kd), 0);
    EXPECT_EQ(c.kd.lpControlBlock, nullptr);
    EXPECT_EQ(utilMirlaneCleanup(&c.kd), ZEFERR_INVALID_VCB);
}

TEST(FileInfo, GuisetteNumberOfAZefFileIsKnownAfterInit) {
    InfoCall c(0x10101, dataFile("orvo_guisette.wav"));
    ASSERT_EQ(utilMirlaneInit(&c.kd), 0);
    EXPECT_EQ(zef::controlBlock(&c.kd)->wGuisette, 201);
    EXPECT_EQ(c.kd.dwCompressionSettings, zef::fourcc("ZEFa"));
    EXPECT_EQ(utilMirlaneCleanup(&c.kd), 0);
}
