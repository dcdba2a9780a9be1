// zefplay as a user runs it: it plays what zefdec decodes, stops cleanly on
// Ctrl-C, and explains its usage.
#include "audio_util.h"

using namespace audiotest;
using zeftest::runTool;

TEST(ZefPlay, PlaysTheSamplesZefdecWrites) {
    zeftest::ScratchDir dir;
    for (std::string name : {"orvo.wav", "peln.wav", "orvo_compact.zef", "orvo.zefp", "orvo_guisette.wav"}) {
        SCOPED_TRACE(name);
        std::string played = dir.path(name + ".played.wav"), decoded = dir.path(name + ".wav");
        ASSERT_EQ(runTool({ZEFPLAY, "-q", zeftest::dataFile(name)}, "", {{"ZEFAUDIO", "file:" + played + ",speed=200"}}).status, 0);
        ASSERT_EQ(runTool({ZEFDEC, "-q", zeftest::dataFile(name), decoded}).status, 0);
        EXPECT_FALSE(waveData(decoded).empty());
        EXPECT_TRUE(waveData(played) == waveData(decoded));
    }
}

// Ctrl-C half a second into a two-second sound played in real time: the
// tool ends at once with 130, the WAVE file is complete and shorter than
// the sound, and the device is free.
TEST(ZefPlay, CtrlCStopsCleanlyAndUsageIsExplained) {
    zeftest::ScratchDir dir;
    std::string played = dir.path("played.wav");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(runTool({"timeout", "--preserve-status", "-s", "INT", "0.5", ZEFPLAY, zeftest::dataFile("orvo.wav")}, "",
                      {{"ZEFAUDIO", "file:" + played}}).status, 130);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500)) << "it played on";
    EXPECT_TRUE(waveData(played).size() > 0 && waveData(played).size() < 32040) << "complete, and cut short";
    EXPECT_EQ(zefAudioClose(openDevice("file:" + played)), 0) << "the device was let go";

    auto help = runTool({ZEFPLAY, "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("usage: zefplay"), std::string::npos);
    EXPECT_EQ(runTool({ZEFPLAY, "--loud", zeftest::dataFile("orvo.wav")}).status, 2);
    EXPECT_EQ(runTool({ZEFPLAY, "-q", "/nonexistent/file.wav"}).status, 1);
}
