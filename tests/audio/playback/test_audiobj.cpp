// AudioObj over the sped-up file device: opening on demand, the play
// format, markers, flushing, volume and a device held by someone else.
#include "audiobj.h"
#include "audio_test_util.h"
#include "playback_util.h"

using namespace zefaudio_test;

namespace {

SNDSoundStruct sound(uint32_t dataFormat, uint32_t rate = 8000, uint32_t channels = 1) {
    SNDSoundStruct s{};
    s.magic = kSndMagic;
    s.dataLocation = kSndHeaderSize;
    s.dataFormat = dataFormat;
    s.samplingRate = rate;
    s.channelCount = channels;
    return s;
}

std::vector<char> asChars(const std::vector<uint8_t>& b) { return {b.begin(), b.end()}; }

// Waits until the device has played `count` markers (and no more).
bool waitMarkers(AudioObj& a, int count) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (a.getNumOfPlayMarker() < count && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return a.getNumOfPlayMarker() == count;
}

// An AudioObj on a file device of the test's own.
struct Fixture {
    pbtest::FileDevice device{50};
    Fixture() { device.select(); }
};

}  // namespace

TEST(AudioObj, ClosedObjectTouchesNothing) {
    Fixture f;
    int before = AudioObj::id;
    AudioObj a(ZEFAUDIO_DEVICE);
    AudioObj b(ZEFAUDIO_DEVICE);
    EXPECT_EQ(AudioObj::id, before + 2);
    EXPECT_STREQ(AudioObj::classid, "AudioObj");

    SNDSoundStruct s = sound(kSndLinear16);
    EXPECT_EQ(a.setAudioInfo(s), 1) << "not open: the device refuses";
    EXPECT_EQ(a.getState(), -4) << "closed, though the state started at 0";
    EXPECT_EQ(a.setAudioInfo(s), -4);
    EXPECT_EQ(a.getControl(), 1);
    EXPECT_EQ(a.setControl(), 1);
    EXPECT_EQ(a.flushOutput(), 1);
    EXPECT_EQ(a.getNumOfPlayMarker(), -1);
    EXPECT_EQ(a.setVolume(1), 1);
    EXPECT_EQ(a.isPaused(), 0);
    EXPECT_FALSE(std::filesystem::exists(f.device.path)) << "nothing opened the device";
}

// What the player does for each sound: open, set the format, write buffers
// each followed by a marker, and count the markers as they are played.
TEST(AudioObj, PlaysSegmentsAndCountsTheirMarkers) {
    Fixture f;
    AudioObj a(ZEFAUDIO_DEVICE);
    auto first = asChars(ramp16(800, -3000, 7));
    auto second = asChars(ramp16(500, 100, -3));
    EXPECT_EQ(a.playSegment(first.data(), 0), 0) << "opens on demand";
    EXPECT_EQ(a.getState(), 0);
    EXPECT_EQ(a.openDevice(), 0) << "already open";
    SNDSoundStruct s = sound(kSndLinear16);
    ASSERT_EQ(a.setAudioInfo(s), 0);
    EXPECT_TRUE(waitMarkers(a, 1)) << "the empty segment was a marker";
    ASSERT_EQ(a.setNumOfPlayMarker(0), 0);
    EXPECT_EQ(a.playSegment(first.data(), int(first.size())), 0);
    EXPECT_EQ(a.playSegment(first.data(), 0), 0);
    EXPECT_EQ(a.playSegment(second.data(), int(second.size())), 0);
    EXPECT_EQ(a.playSegment(second.data(), 0), 0);
    EXPECT_EQ(a.playSegment(second.data(), -1), 1);
    EXPECT_TRUE(waitMarkers(a, 2));
    a.closeDevice();
    EXPECT_EQ(a.getState(), -4);
    std::vector<uint8_t> want = ramp16(800, -3000, 7), tail = ramp16(500, 100, -3);
    want.insert(want.end(), tail.begin(), tail.end());
    EXPECT_TRUE(pbtest::waveData(f.device.path) == want);
}

TEST(AudioObj, SetsTheFormatFromTheSound) {
    Fixture f;
    AudioObj a(ZEFAUDIO_DEVICE);
    ASSERT_EQ(a.openDevice(), 0);
    SNDSoundStruct eight = sound(kSndLinear8, 11025, 2);
    ASSERT_EQ(a.setAudioInfo(eight), 0);
    // read through a control handle, as another part of the program would
    int ctl = zefAudioOpenCtl();
    ASSERT_GE(ctl, 0);
    audio_info info = getInfo(ctl);
    EXPECT_EQ(info.play.precision, 8u);
    EXPECT_EQ(info.play.sample_rate, 11025u);
    EXPECT_EQ(info.play.channels, 2u);
    EXPECT_EQ(info.play.encoding, AUDIO_ENCODING_LINEAR);
    EXPECT_EQ(info.play.gain, 127u);
    EXPECT_EQ(info.play.port, AUDIO_SPEAKER | AUDIO_HEADPHONE | AUDIO_LINE_OUT);

    // mu-law keeps the device's precision and still asks for linear samples
    SNDSoundStruct mulaw = sound(1, 8000, 1);
    ASSERT_EQ(a.setAudioInfo(mulaw), 0);
    info = getInfo(ctl);
    EXPECT_EQ(info.play.precision, 8u);
    EXPECT_EQ(info.play.sample_rate, 8000u);
    EXPECT_EQ(info.play.encoding, AUDIO_ENCODING_LINEAR);
    EXPECT_EQ(zefAudioClose(ctl), 0);
}

TEST(AudioObj, VolumeStaysWithinTheDevicesRange) {
    Fixture f;
    AudioObj a(ZEFAUDIO_DEVICE);
    ASSERT_EQ(a.openDevice(), 0);
    SNDSoundStruct s = sound(kSndLinear16);
    ASSERT_EQ(a.setAudioInfo(s), 0);
    ASSERT_EQ(a.saveAudioInfo(), 0);
    auto gain = [&] {
        int ctl = zefAudioOpenCtl();
        uint32_t g = getInfo(ctl).play.gain;
        zefAudioClose(ctl);
        return g;
    };
    ASSERT_EQ(a.setVolume(1), 0);
    EXPECT_EQ(gain(), 134u);
    for (int i = 0; i < 30; ++i) ASSERT_EQ(a.setVolume(1), 0);
    EXPECT_EQ(gain(), 255u);
    for (int i = 0; i < 50; ++i) ASSERT_EQ(a.setVolume(-1), 0);
    EXPECT_EQ(gain(), 0u);
    ASSERT_EQ(a.restoreAudioInfo(), 0);
    EXPECT_EQ(gain(), 127u);
}

// Flushing discards what waits and restarts the marker count; pause and
// resume hold and release the sound.
TEST(AudioObj, FlushRestartsTheMarkerCount) {
    Fixture f;
    AudioObj a(ZEFAUDIO_DEVICE);
    auto pcm = asChars(ramp16(4000, 0, 3));
    ASSERT_EQ(a.openDevice(), 0);
    ASSERT_EQ(a.Pause(), 0);
    EXPECT_EQ(a.isPaused(), 1);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(a.playSegment(pcm.data(), int(pcm.size())), 0);
        ASSERT_EQ(a.playSegment(pcm.data(), 0), 0);
    }
    EXPECT_EQ(a.getNumOfPlayMarker(), 0);
    ASSERT_EQ(a.flushOutput(), 0);
    EXPECT_EQ(a.getNumOfPlayMarker(), 0);
    ASSERT_EQ(a.Resume(), 0);
    EXPECT_EQ(a.isPaused(), 0);
    ASSERT_EQ(a.playSegment(pcm.data(), 800), 0);
    ASSERT_EQ(a.playSegment(pcm.data(), 0), 0);
    EXPECT_TRUE(waitMarkers(a, 1));
    a.closeDevice();
    EXPECT_EQ(pbtest::waveData(f.device.path).size(), 800u) << "only the sound after the flush was played";
}

TEST(AudioObj, BusyDeviceIsReportedAtOnce) {
    Fixture f;
    AudioObj holder(ZEFAUDIO_DEVICE);
    AudioObj other(ZEFAUDIO_DEVICE);
    ASSERT_EQ(holder.openDevice(), 0);
    char pcm[16] = {};
    EXPECT_EQ(other.openDevice(), -4);
    EXPECT_EQ(other.playSegment(pcm, sizeof pcm), -3);
    EXPECT_EQ(other.getState(), -4);
    holder.closeDevice();
    EXPECT_EQ(other.playSegment(pcm, sizeof pcm), 0) << "free again";
}
