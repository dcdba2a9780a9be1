// The playback process and the device: a device that fails while playing,
// a device held by another process, ALSA's own "null" device, and the
// Guisette previews.
#include "playback.h"
#include "playback_util.h"
#include "zefwriter.h"

using namespace pbtest;

namespace {

std::string speechFile(const std::string& dir, int frames) {
    std::string path = dir + "/speech.wav";
    zeftest::writeFile(path, zeftest::zefWave(zeftest::orvo(), zeftest::orvoSpeechLike(frames)));
    return path;
}

}  // namespace

// The file device's WAVE file runs into the process's size limit, in the
// first buffer or a later one: the device stops playing and refuses sound.
// Playback ends with status 507 and the write error, wrapped as a playback
// error, and nothing hangs.
TEST(PlaybackDevice, DeviceFailingWhilePlayingEndsPlayback) {
    std::string dir = tempDir();
    std::string input = speechFile(dir, 400);
    for (const char* limit : {"4096", "20000"}) {
        SCOPED_TRACE(std::string("file size limit ") + limit);
        std::string device = "file:" + dir + "/limited-" + limit + ".wav,speed=50";
        Child probe(PLAYBACK_PROBE, {device, input, limit});
        ASSERT_EQ(probe.finish(std::chrono::seconds(20)), 0) << "the playback did not end";
        EXPECT_EQ(probe.output(), "result=" + std::to_string(KELVANE_PLAYBACKERROR) + " secondary=" +
                                      std::to_string(ZEFERR_WRITING_TO_FILE) +
                                      " failed-status-seen=1 session-open=0\n");
    }
}

// While one process plays, another that tries the device is turned away at
// once with the system's "busy".
TEST(PlaybackDevice, SecondProcessFindsTheDeviceBusy) {
    std::string dir = tempDir();
    std::string input = speechFile(dir, 100);
    FileDevice device(20);
    device.select();
    Kd kd;
    kd.input(kZefWaveFile, input.c_str());
    kd.toDevice();
    std::string answer;
    int exitStatus = -2;
    RoundFn fn = [&](uint16_t status, KELVANE_DATA*) -> uint16_t {
        if (status != KELVANE_STATUS_FRAME || exitStatus != -2) return 0;
        Child other(PLAYBACK_PROBE, {device.choice, input});
        exitStatus = other.finish(std::chrono::seconds(10));
        answer = other.output();
        return 0;
    };
    onRound(kd, fn);
    ASSERT_EQ(dcmpMirlanePlay(&kd, 0, 0), 0);
    EXPECT_EQ(exitStatus, 0);
    EXPECT_EQ(answer, "result=" + std::to_string(ZEFERR_OPENING_OUTPUT_FILE) + " secondary=" + std::to_string(EBUSY) +
                          " failed-status-seen=0 session-open=0\n");
    EXPECT_EQ(waveData(device.path).size(), 100u * 360u) << "the player was not disturbed";
}

// Real time through ALSA: opened, fed and closed again.
TEST(PlaybackDevice, PlaysThroughAlsa) {
    setenv("ZEFAUDIO", "alsa:null", 1);
    Bytes speech = zeftest::zefWave(zeftest::orvo(), zeftest::orvoSpeechLike(20));
    Kd kd;
    kd.input(kZefWaveBuffer, speech.data(), uint32_t(speech.size()));
    kd.toDevice();
    int rounds = 0;
    RoundFn fn = [&](uint16_t status, KELVANE_DATA* k) -> uint16_t {
        if (status == KELVANE_STATUS_FRAME) {
            ++rounds;
            EXPECT_GE(zef::playbackOf(k)->iDevice, 0);
        }
        return 0;
    };
    onRound(kd, fn);
    ASSERT_EQ(dcmpMirlanePlay(&kd, 0, 0), 0);
    EXPECT_GE(rounds, 1);
    EXPECT_EQ(kd.dwStatus, uint32_t(KELVANE_STATUS_PLAY_END));
    // the device was let go: it opens again at once
    int fd = zefAudioOpen(ZEFAUDIO_DEVICE, O_WRONLY | O_NONBLOCK);
    EXPECT_GE(fd, 0) << strerror(errno);
    if (fd >= 0) {
        EXPECT_EQ(zefAudioClose(fd), 0);
    }
}

TEST(PlaybackDevice, GuisettePreviewPlaysItsSample) {
    std::string dir = tempDir();
    FileDevice device(100);
    device.select();
    EXPECT_EQ(zefPlayGuisettePreview(201), ZEFERR_LIBRARY_NOT_STARTED);
    startLibrary();

    // what the preview input decodes to
    std::string reference = dir + "/preview.wav";
    Kd kd;
    kd.input(ZEFTYPE_FORMAT_WAVE | ZEFTYPE_LOCATION_PREVIEW | ZEFTYPE_QUALIFIER_ZEF,
             reinterpret_cast<void*>(uintptr_t(201)));
    kd.dwOutputType = kWaveFileOut;
    kd.lpOutputLocation = const_cast<char*>(reference.c_str());
    ASSERT_EQ(dcmpZefFileToFile(&kd), 0);

    EXPECT_EQ(zefPlayGuisettePreview(201, 0, 0), 0);
    Bytes played = waveData(device.path);
    EXPECT_FALSE(played.empty());
    EXPECT_TRUE(played == waveData(reference));

    // an unknown number plays nothing: the device is not even opened
    std::filesystem::remove(device.path);
    EXPECT_EQ(zefPlayGuisettePreview(4242), 0);
    EXPECT_FALSE(std::filesystem::exists(device.path));
    zefShutdown();
}
