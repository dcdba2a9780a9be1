// Recording from the audio device's record side, with a WAVE file source
// sped up: the same coded stream as compressing the file, the ways a
// recording ends, a busy or failing device, and the record gain.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "mirlane.h"

namespace {

namespace fs = std::filesystem;

void put32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
void put16(std::vector<uint8_t>& b, uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void tag(std::vector<uint8_t>& b, const char* t) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(t[i]));
}

// A voiced-sounding test signal: a gliding harmonic tone with a slow envelope.
std::vector<uint8_t> speechLikeWave(int samples) {
    std::vector<uint8_t> b;
    tag(b, "RIFF");
    put32(b, uint32_t(36 + 2 * samples));
    tag(b, "WAVE");
    tag(b, "fmt ");
    put32(b, 16);
    put16(b, 1);
    put16(b, 1);
    put32(b, 8000);
    put32(b, 16000);
    put16(b, 2);
    put16(b, 16);
    tag(b, "data");
    put32(b, uint32_t(2 * samples));
    double phase = 0;
    for (int i = 0; i < samples; ++i) {
        double f0 = 110 + 40 * std::sin(2 * M_PI * i / 6000.0);
        phase += 2 * M_PI * f0 / 8000.0;
        double env = 0.5 + 0.5 * std::sin(2 * M_PI * i / 3000.0);
        double v = 0;
        for (int h = 1; h <= 8; ++h) v += std::sin(h * phase) / h;
        put16(b, uint16_t(int16_t(std::lround(6000 * env * v))));
    }
    return b;
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

KELVANE_DATA fresh() {
    KELVANE_DATA kd;
    std::memset(&kd, 0, sizeof kd);
    kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
    kd.fWarpedLengthFactor = 1.0f;
    return kd;
}

// What the callback heard, and when it answers non-zero.
struct Listener {
    std::vector<uint16_t> statuses;
    int frames = 0;
    int stopAtFrame = -1;                               // answer 1 after this frame
    std::function<void(KELVANE_DATA*, int)> onFrame;    // called per frame
    static uint16_t callback(uint16_t, uint16_t status, void* data) {
        auto* kd = static_cast<KELVANE_DATA*>(data);
        auto* self = reinterpret_cast<Listener*>(kd->dwUserData);
        self->statuses.push_back(status);
        if (status != KELVANE_STATUS_FRAME) return 0;
        ++self->frames;
        if (self->onFrame) self->onFrame(kd, self->frames);
        return self->frames == self->stopAtFrame ? 1 : 0;
    }
};

class Recording : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/zef-record-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        setenv("XDG_RUNTIME_DIR", tmpl, 1);  // the device lock files stay in here
        input = dir + "/speech.wav";
        std::vector<uint8_t> wav = speechLikeWave(kSamples);
        std::ofstream(input, std::ios::binary).write(reinterpret_cast<const char*>(wav.data()), long(wav.size()));
        setenv("ZEFAUDIO_IN", ("file:" + input + ",speed=1000").c_str(), 1);
    }
    void TearDown() override {
        unsetenv("ZEFAUDIO_IN");
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    KELVANE_DATA recorder(const std::string& out, Listener* listener) {
        KELVANE_DATA kd = fresh();
        kd.dwInputType = ZEFTYPE_LOCATION_SOUND;
        kd.dwOutputType = ZEFTYPE_FORMAT_WAVE | ZEFTYPE_LOCATION_FILE | ZEFTYPE_QUALIFIER_ZEF;
        path = out;
        kd.lpOutputLocation = path.data();
        kd.dwUserData = reinterpret_cast<uintptr_t>(listener);
        kd.lpCallback = &Listener::callback;
        return kd;
    }

    // The same input compressed straight from the file.
    std::vector<uint8_t> compressedDirectly() {
        KELVANE_DATA kd = fresh();
        kd.dwInputType = ZEFTYPE_FORMAT_WAVE | ZEFTYPE_LOCATION_FILE;
        kd.lpInputLocation = input.data();
        std::string out = dir + "/direct.zef";
        kd.dwOutputType = ZEFTYPE_FORMAT_WAVE | ZEFTYPE_LOCATION_FILE | ZEFTYPE_QUALIFIER_ZEF;
        kd.lpOutputLocation = out.data();
        EXPECT_EQ(cmpMirlaneCompress(&kd), 0);
        return readFile(out);
    }

    // The decoded samples of a coded WAVE file.
    std::vector<int16_t> decoded(const std::string& zef) {
        KELVANE_DATA kd = fresh();
        std::string in = zef;
        kd.dwInputType = ZEFTYPE_FORMAT_WAVE | ZEFTYPE_LOCATION_FILE | ZEFTYPE_QUALIFIER_ZEF;
        kd.lpInputLocation = in.data();
        std::vector<int16_t> pcm(kSamples * 2);
        kd.dwOutputType = ZEFTYPE_FORMAT_RAW | ZEFTYPE_LOCATION_BUFFER;
        kd.wOutputBytesPerSample = 2;
        kd.lpOutputLocation = pcm.data();
        kd.dwOutputSize = uint32_t(pcm.size() * 2);
        EXPECT_EQ(dcmpMirlaneDecompress(&kd), 0);
        pcm.resize(kd.dwOutputBytesUsed / 2);
        return pcm;
    }

    static constexpr int kSamples = 9000;  // 50 frames
    std::string dir, input, path;
};

TEST_F(Recording, GivesTheSameFileAsCompressingTheSource) {
    Listener heard;
    KELVANE_DATA kd = recorder(dir + "/rec.zef", &heard);
    ASSERT_EQ(cmpMirlaneRecord(&kd), 0) << kd.dwSecondaryError;
    EXPECT_EQ(kd.lpControlBlock, nullptr);
    EXPECT_EQ(kd.dwInputSamplingRate, 8000u);
    ASSERT_FALSE(heard.statuses.empty());
    EXPECT_EQ(heard.statuses.front(), KELVANE_STATUS_RECORD_START);
    EXPECT_EQ(heard.statuses.back(), KELVANE_STATUS_RECORD_END);
    EXPECT_EQ(heard.frames, kSamples / 180);

    std::vector<uint8_t> recorded = readFile(dir + "/rec.zef");
    ASSERT_GT(recorded.size(), 100u);
    EXPECT_EQ(recorded, compressedDirectly());
}

TEST_F(Recording, CallbackStopIsANormalEndWithThoseFrames) {
    Listener heard;
    heard.stopAtFrame = 12;
    KELVANE_DATA kd = recorder(dir + "/rec.zef", &heard);
    ASSERT_EQ(cmpMirlaneRecord(&kd), 0);
    EXPECT_EQ(kd.dwSecondaryError, 0u);
    EXPECT_EQ(heard.frames, 12) << "no frame after the stop";
    std::vector<int16_t> part = decoded(dir + "/rec.zef");
    ASSERT_EQ(part.size(), 12u * 180u);

    // Those frames are the first twelve of the whole recording.
    compressedDirectly();
    std::vector<int16_t> whole = decoded(dir + "/direct.zef");
    ASSERT_GT(whole.size(), part.size());
    whole.resize(part.size());
    EXPECT_EQ(part, whole);
}

TEST_F(Recording, InputSizeLimitsWhatIsTaken) {
    Listener heard;
    KELVANE_DATA kd = recorder(dir + "/rec.zef", &heard);
    kd.dwInputSize = 20 * 180 * 2;
    ASSERT_EQ(cmpMirlaneRecord(&kd), 0);
    EXPECT_EQ(heard.frames, 20);
    EXPECT_EQ(decoded(dir + "/rec.zef").size(), 20u * 180u);
}

TEST_F(Recording, StreamingSessionRecordsOnAfterAStop) {
    Listener heard;
    heard.stopAtFrame = 5;
    KELVANE_DATA kd = recorder(dir + "/rec.zef", &heard);
    ASSERT_EQ(cmpMirlaneInit(&kd, 0), 0);
    ASSERT_EQ(MirlaneRecord(&kd), 0) << "stopped, session open";
    ASSERT_NE(kd.lpControlBlock, nullptr);
    EXPECT_EQ(MirlaneRecord(&kd), ZEFERR_ENDOFFILE_REACHED) << "on to the end of the source";
    EXPECT_EQ(heard.frames, kSamples / 180);
    EXPECT_EQ(cmpMirlaneCleanup(&kd), 0);
}

TEST_F(Recording, BusyDeviceFailsAtOnceAndLeavesNoFile) {
    Listener first, second;
    KELVANE_DATA holder = recorder(dir + "/first.zef", &first);
    ASSERT_EQ(cmpMirlaneInit(&holder, 0), 0);
    std::string out = dir + "/second.zef";
    KELVANE_DATA kd = recorder(out, &second);
    kd.lpOutputLocation = out.data();
    EXPECT_EQ(cmpMirlaneRecord(&kd), ZEFERR_OPENING_INPUT_FILE);
    EXPECT_EQ(kd.dwSecondaryError, uint32_t(EBUSY));
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(kd.lpControlBlock, nullptr);
    EXPECT_EQ(cmpMirlaneCleanup(&holder), 0);

    // Only the sound location records; nothing is opened otherwise.
    kd = fresh();
    kd.dwInputType = ZEFTYPE_FORMAT_WAVE | ZEFTYPE_LOCATION_FILE;
    kd.lpInputLocation = input.data();
    kd.dwOutputType = ZEFTYPE_FORMAT_WAVE | ZEFTYPE_LOCATION_FILE | ZEFTYPE_QUALIFIER_ZEF;
    kd.lpOutputLocation = out.data();
    EXPECT_EQ(cmpMirlaneRecord(&kd), ZEFERR_INVALID_INPUT_TYPE);
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(Recording, DeviceFailureEndsWithAnErrorAndNoFile) {
    Listener heard;
    heard.onFrame = [this](KELVANE_DATA*, int frame) {
        if (frame == 3) fs::resize_file(input, 44);  // the source loses its samples
    };
    std::string out = dir + "/rec.zef";
    KELVANE_DATA kd = recorder(out, &heard);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(cmpMirlaneRecord(&kd), ZEFERR_READING_FROM_FILE);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("shorter"), std::string::npos);
    EXPECT_EQ(kd.dwSecondaryError, uint32_t(EIO));
    EXPECT_FALSE(fs::exists(out)) << "a failed recording leaves no file";
    EXPECT_EQ(kd.lpControlBlock, nullptr);
}

TEST_F(Recording, InputGainRoundTrip) {
    uint16_t gain = 0;
    ASSERT_EQ(zefGetInputGain(nullptr, &gain), 0);
    EXPECT_EQ(gain, 255) << "a fresh device records at unity";
    EXPECT_EQ(zefSetInputGain(nullptr, 10), ZEFERR_INPUT_HANDLER) << "nothing records";
    EXPECT_EQ(zefGetInputGain(nullptr, nullptr), ZEFERR_INPUT_HANDLER);

    Listener heard;
    heard.stopAtFrame = 2;
    std::vector<uint16_t> seen;
    heard.onFrame = [&](KELVANE_DATA* kd, int) {
        uint16_t g = 0;
        EXPECT_EQ(zefSetInputGain(kd, 300), 0);
        EXPECT_EQ(zefGetInputGain(kd, &g), 0);
        seen.push_back(g);
        EXPECT_EQ(zefSetInputGain(kd, 100), 0);
        EXPECT_EQ(zefGetInputGain(kd, &g), 0);
        seen.push_back(g);
    };
    KELVANE_DATA kd = recorder(dir + "/rec.zef", &heard);
    ASSERT_EQ(cmpMirlaneRecord(&kd), 0);
    EXPECT_EQ(seen, (std::vector<uint16_t>{255, 100, 255, 100}));
    ASSERT_EQ(zefGetInputGain(nullptr, &gain), 0);
    EXPECT_EQ(gain, 100) << "kept for the next recording";
}

}  // namespace
