// AudioObj, the player's device, over the sped-up file device.
#include <filesystem>

#include "audio_util.h"
#include "audiobj.h"

using namespace audiotest;

namespace {

struct AudioObjTest : ::testing::Test, FileDevice {
    AudioObjTest() : FileDevice(50) {}
    AudioObj a{ZEFAUDIO_DEVICE};
    bool waitMarkers(int count) {
        for (int i = 0; i < 5000 && a.getNumOfPlayMarker() < count; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return a.getNumOfPlayMarker() == count;
    }
};

}  // namespace

// What the player does for each sound: buffers each followed by a marker,
// counted as they are heard; a flush discards what waits and restarts the
// count.  A closed object touches nothing.
TEST_F(AudioObjTest, PlaysSegmentsAndCountsTheirMarkers) {
    SNDSoundStruct s{};
    EXPECT_EQ(a.setAudioInfo(s) + a.flushOutput() + a.getNumOfPlayMarker(), 1) << "not open";
    EXPECT_FALSE(std::filesystem::exists(path)) << "nothing opened the device";
    Bytes first = ramp16(800, -3000, 7), second = ramp16(500, 100, -3);
    auto play = [&](Bytes& pcm) {
        EXPECT_EQ(a.playSegment(reinterpret_cast<char*>(pcm.data()), int(pcm.size())) + a.playSegment(nullptr, 0), 0);
    };
    play(first);
    EXPECT_EQ(a.getState(), 0) << "opened on demand";
    EXPECT_TRUE(waitMarkers(1));
    ASSERT_EQ(a.Pause(), 0);
    EXPECT_EQ(a.isPaused(), 1);
    play(second);
    play(second);
    ASSERT_EQ(a.flushOutput(), 0);
    EXPECT_EQ(a.getNumOfPlayMarker(), 0);
    ASSERT_EQ(a.Resume(), 0);
    play(second);
    EXPECT_TRUE(waitMarkers(1));
    EXPECT_EQ(a.playSegment(nullptr, -1), 1);
    a.closeDevice();
    first.insert(first.end(), second.begin(), second.end());
    EXPECT_EQ(waveData(path), first) << "the flushed segments were not played";
}

// Mu-law (1) keeps the precision but asks for linear; volume steps by 7,
// and the level chosen, even while closed, is the one the device opens at.
TEST_F(AudioObjTest, SetsTheFormatAndKeepsTheVolumeInRange) {
    ASSERT_EQ(a.setVolume(1), 0);
    ASSERT_EQ(a.openDevice(), 0);
    for (auto [format, rate, channels] : {std::tuple{2u, 11025u, 2u}, {1u, 8000u, 1u}}) {
        SNDSoundStruct s{};
        s.dataFormat = format, s.samplingRate = rate, s.channelCount = channels;
        ASSERT_EQ(a.setAudioInfo(s), 0);
        audio_prinfo p = devicePlay();
        EXPECT_EQ(p.precision * 100000 + p.sample_rate * 10 + p.channels, 800000 + rate * 10 + channels);
        EXPECT_EQ(p.encoding, AUDIO_ENCODING_LINEAR);
    }
    ASSERT_EQ(a.saveAudioInfo() + a.setVolume(1), 0);
    EXPECT_EQ(devicePlay().gain, 141u);
    for (int i = 0; i < 30; ++i) a.setVolume(1);
    EXPECT_EQ(devicePlay().gain, 255u);
    for (int i = 0; i < 50; ++i) a.setVolume(-1);
    EXPECT_EQ(devicePlay().gain, 0u);
    SNDSoundStruct s{};
    s.dataFormat = 3, s.samplingRate = 8000, s.channelCount = 1;
    ASSERT_EQ(a.setAudioInfo(s), 0);
    EXPECT_EQ(devicePlay().gain, 0u) << "the level chosen lasts";
    ASSERT_EQ(a.restoreAudioInfo(), 0);
    EXPECT_EQ(devicePlay().gain, 134u);
}
