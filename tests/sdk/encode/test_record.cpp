// Recording from the audio device (a WAVE file source, sped up): the same
// file as compressing the source, or its first frames when stopped.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "session.h"

namespace {

using namespace zeftest;
constexpr size_t kFrame = 180;

class Recording : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_RUNTIME_DIR", dir.dir().c_str(), 1);  // the device lock files stay in here
        writeFile(input, pcmWave(speechLike(kFrames * kFrame)));
        setenv("ZEFAUDIO_IN", ("file:" + input + ",speed=1000").c_str(), 1);
    }
    void TearDown() override { unsetenv("ZEFAUDIO_IN"); }
    // Records into a Zef WAVE file; onFrame runs at every frame, and a true
    // answer stops the recording.
    uint16_t record(Kd& kd, const std::string& out) {
        path = out;
        kd.input(ZEFTYPE_LOCATION_SOUND, nullptr);
        kd.output(kZefWaveFile, path.data());
        kd.dwUserData = reinterpret_cast<uintptr_t>(this);
        kd.lpCallback = [](uint16_t, uint16_t status, void* data) -> uint16_t {
            auto* kd = static_cast<KELVANE_DATA*>(data);
            auto* self = reinterpret_cast<Recording*>(kd->dwUserData);
            self->statuses.push_back(status);
            return status == KELVANE_STATUS_FRAME && self->onFrame && self->onFrame(kd, ++self->frames);
        };
        return cmpMirlaneRecord(&kd);
    }
    static constexpr int kFrames = 50;
    ScratchDir dir;
    std::string input = dir.path("speech.wav"), path;
    std::vector<uint16_t> statuses;
    int frames = 0;
    std::function<bool(KELVANE_DATA*, int)> onFrame;
};

TEST_F(Recording, GivesTheFileOfCompressingTheSourceOrItsFirstFrames) {
    Kd kd, direct;
    ASSERT_EQ(record(kd, dir.path("rec.zef")), 0) << kd.dwSecondaryError;
    EXPECT_EQ(statuses.front(), KELVANE_STATUS_RECORD_START);
    EXPECT_EQ(statuses.back(), KELVANE_STATUS_RECORD_END);
    EXPECT_EQ(kd.dwInputSamplingRate, 8000u);
    std::string out = dir.path("direct.zef");
    direct.input(kWaveFile, input.data());
    direct.output(kZefWaveFile, out.data());
    ASSERT_EQ(cmpMirlaneCompress(&direct), 0);
    const Bytes whole = readFile(out);
    EXPECT_EQ(readFile(dir.path("rec.zef")), whole);
    // A callback stop is a normal end with those frames.
    Kd part;
    frames = 0;
    onFrame = [](KELVANE_DATA*, int frame) { return frame == 12; };
    ASSERT_EQ(record(part, dir.path("part.zef")), 0);
    EXPECT_EQ(frames, 12);
    const Samples heard = samples16(decodeBuffer(readFile(dir.path("part.zef")))), all = samples16(decodeBuffer(whole));
    ASSERT_EQ(heard.size(), 12 * kFrame);
    EXPECT_TRUE(std::equal(heard.begin(), heard.end(), all.begin()));
}

}  // namespace
