// zefplay as a user runs it: it plays what zefdec decodes, stops cleanly on
// Ctrl-C, and explains its usage.
#include "playback_util.h"

using namespace pbtest;

TEST(ZefPlay, PlaysTheSamplesZefdecWrites) {
    std::string dir = tempDir();
    for (const char* name : {"orvo.wav", "peln.wav", "orvo_compact.zef", "orvo.zefp", "orvo_guisette.wav"}) {
        SCOPED_TRACE(name);
        FileDevice device(200, std::string(name) + ".played.wav");
        device.select();
        Child play(ZEFPLAY, {"-q", dataFile(name)});
        ASSERT_EQ(play.finish(), 0);
        std::string decoded = dir + "/" + name + ".decoded.wav";
        Child decode(ZEFDEC, {"-q", dataFile(name), decoded});
        ASSERT_EQ(decode.finish(), 0);
        Bytes want = waveData(decoded);
        EXPECT_FALSE(want.empty());
        EXPECT_TRUE(waveData(device.path) == want);
    }
}

// Ctrl-C while playing in real time: the tool ends at once with 130, the
// WAVE file is complete and shorter than the sound, and the device is free.
TEST(ZefPlay, CtrlCStopsCleanly) {
    FileDevice device(1);
    device.select();
    Child play(ZEFPLAY, {dataFile("orvo.wav")});
    // interrupted once the first sound has been played (the file grows past its
    // header), two seconds before the end
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (zefaudio_test::readFile(device.path).size() <= 44 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    auto start = std::chrono::steady_clock::now();
    kill(play.pid(), SIGINT);
    EXPECT_EQ(play.finish(std::chrono::seconds(10)), 130);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500)) << "it did not play on";
    Bytes file = zefaudio_test::readFile(device.path);
    Bytes samples = waveData(device.path);
    ASSERT_GE(file.size(), 44u);
    EXPECT_EQ(file.size(), 44 + samples.size() + (samples.size() & 1)) << "the header was completed";
    EXPECT_GT(samples.size(), 0u);
    EXPECT_LT(samples.size(), 32040u);
    int fd = zefAudioOpen(ZEFAUDIO_DEVICE, O_WRONLY | O_NONBLOCK);
    EXPECT_GE(fd, 0) << "the device was let go";
    if (fd >= 0) zefAudioClose(fd);
}

TEST(ZefPlay, ExplainsItsUsageAndFailures) {
    Child help(ZEFPLAY, {"--help"});
    EXPECT_EQ(help.finish(), 0);
    EXPECT_NE(help.output().find("usage: zefplay"), std::string::npos);
    Child unknown(ZEFPLAY, {"--loud", dataFile("orvo.wav")});
    EXPECT_EQ(unknown.finish(), 2);
    Child missing(ZEFPLAY, {"-q", "/nonexistent/file.wav"});
    EXPECT_EQ(missing.finish(), 1);
}
