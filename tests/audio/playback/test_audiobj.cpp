// AudioObj over the sped-up file device: opening on demand, the play
// format, markers, flushing, volume and a device held by someone else.
#include "audiobj.h"
#include "playback_util.h"

using zefaudio_test::getInfo;
using zefaudio_test::ramp16;

namespace {

SNDSoundStruct sound(uint32_t dataFormat, uint32_t rate = 8000, uint32_t channels = 1) {
    SNDSoundStruct s{};
    s.dataFormat = dataFormat;
    s.samplingRate = rate;
    s.channelCount = channels;
    return s;
}

// Waits until the device has played `count` markers (and no more).
bool waitMarkers(AudioObj& a, int count) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (a.getNumOfPlayMarker() < count && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return a.getNumOfPlayMarker() == count;
}

// The device's play state through its control side.
audio_prinfo devicePlay() {
    int ctl = zefAudioOpenCtl();
    audio_prinfo p = getInfo(ctl).play;
    zefAudioClose(ctl);
    return p;
}

}  // namespace

TEST(AudioObj, ClosedObjectTouchesNothing) {
    pbtest::FileDevice device(50);
    device.select();
    int before = AudioObj::id;
    AudioObj a(ZEFAUDIO_DEVICE);
    AudioObj b(ZEFAUDIO_DEVICE);
    EXPECT_EQ(AudioObj::id, before + 2);
    EXPECT_STREQ(AudioObj::classid, "AudioObj");

    SNDSoundStruct s = sound(kSndLinear16);
    EXPECT_EQ(a.setAudioInfo(s), 1) << "not open: the device refuses";
    EXPECT_EQ(a.getState(), -4) << "closed, though the state started at 0";
    EXPECT_EQ(a.setAudioInfo(s), -4);
    EXPECT_EQ(a.flushOutput(), 1);
    EXPECT_EQ(a.getNumOfPlayMarker(), -1);
    EXPECT_EQ(a.setVolume(1), 1);
    EXPECT_FALSE(std::filesystem::exists(device.path)) << "nothing opened the device";
}

// What the player does for each sound: write buffers each followed by a
// marker and count the markers as they are played; a flush (here while
// paused) discards what waits and restarts the count.
TEST(AudioObj, PlaysSegmentsAndCountsTheirMarkers) {
    pbtest::FileDevice device(50);
    device.select();
    AudioObj a(ZEFAUDIO_DEVICE);
    std::vector<uint8_t> first = ramp16(800, -3000, 7), second = ramp16(500, 100, -3);
    auto play = [&](std::vector<uint8_t>& pcm) {
        EXPECT_EQ(a.playSegment(reinterpret_cast<char*>(pcm.data()), int(pcm.size())), 0);
        EXPECT_EQ(a.playSegment(nullptr, 0), 0);
    };
    play(first);
    EXPECT_EQ(a.getState(), 0) << "opened on demand";
    EXPECT_TRUE(waitMarkers(a, 1));
    ASSERT_EQ(a.Pause(), 0);
    EXPECT_EQ(a.isPaused(), 1);
    play(second);
    play(second);
    ASSERT_EQ(a.flushOutput(), 0);
    EXPECT_EQ(a.getNumOfPlayMarker(), 0);
    ASSERT_EQ(a.Resume(), 0);
    play(second);
    EXPECT_TRUE(waitMarkers(a, 1));
    EXPECT_EQ(a.playSegment(nullptr, -1), 1);
    a.closeDevice();
    EXPECT_EQ(a.getState(), -4);
    first.insert(first.end(), second.begin(), second.end());
    EXPECT_TRUE(pbtest::waveData(device.path) == first) << "the flushed segments were not played";
}

TEST(AudioObj, SetsTheFormatAndKeepsTheVolumeInRange) {
    pbtest::FileDevice device(50);
    device.select();
    AudioObj a(ZEFAUDIO_DEVICE);
    ASSERT_EQ(a.openDevice(), 0);
    SNDSoundStruct eight = sound(kSndLinear8, 11025, 2);
    ASSERT_EQ(a.setAudioInfo(eight), 0);
    audio_prinfo p = devicePlay();
    EXPECT_EQ(p.precision, 8u);
    EXPECT_EQ(p.sample_rate, 11025u);
    EXPECT_EQ(p.channels, 2u);
    EXPECT_EQ(p.encoding, AUDIO_ENCODING_LINEAR);
    EXPECT_EQ(p.gain, 127u);
    EXPECT_EQ(p.port, AUDIO_SPEAKER | AUDIO_HEADPHONE | AUDIO_LINE_OUT);

    // mu-law keeps the device's precision and still asks for linear samples
    SNDSoundStruct mulaw = sound(1);
    ASSERT_EQ(a.setAudioInfo(mulaw), 0);
    p = devicePlay();
    EXPECT_EQ(p.precision, 8u);
    EXPECT_EQ(p.sample_rate, 8000u);
    EXPECT_EQ(p.encoding, AUDIO_ENCODING_LINEAR);

    ASSERT_EQ(a.saveAudioInfo(), 0);
    ASSERT_EQ(a.setVolume(1), 0);
    EXPECT_EQ(devicePlay().gain, 134u);
    for (int i = 0; i < 30; ++i) ASSERT_EQ(a.setVolume(1), 0);
    EXPECT_EQ(devicePlay().gain, 255u);
    for (int i = 0; i < 50; ++i) ASSERT_EQ(a.setVolume(-1), 0);
    EXPECT_EQ(devicePlay().gain, 0u);
    ASSERT_EQ(a.restoreAudioInfo(), 0);
    EXPECT_EQ(devicePlay().gain, 127u);
}

TEST(AudioObj, BusyDeviceIsReportedAtOnce) {
    pbtest::FileDevice device(50);
    device.select();
    AudioObj holder(ZEFAUDIO_DEVICE);
    AudioObj other(ZEFAUDIO_DEVICE);
    ASSERT_EQ(holder.openDevice(), 0);
    char pcm[16] = {};
    EXPECT_EQ(other.openDevice(), -4);
    EXPECT_EQ(other.playSegment(pcm, sizeof pcm), -3);
    holder.closeDevice();
    EXPECT_EQ(other.playSegment(pcm, sizeof pcm), 0) << "free again";
}
