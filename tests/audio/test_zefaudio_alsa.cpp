// The ALSA device, against ALSA's own "null" PCM.  That PCM takes sound as
// fast as it comes, so only the bookkeeping can be seen, not the pace.
#include <gtest/gtest.h>

#include <cerrno>

#include "audio_test_util.h"

using namespace zefaudio_test;

TEST(ZefAudioAlsa, PlaysCountsPausesAndFlushesOnTheNullPcm) {
    int fd = openDevice("alsa:null");
    ASSERT_GE(fd, 0) << strerror(errno);
    EXPECT_EQ(openDevice("alsa:null"), -1);
    EXPECT_EQ(errno, EBUSY);

    ASSERT_EQ(setPlay(fd, [](audio_prinfo& p) {
                  p.sample_rate = 22050;
                  p.channels = 2;
                  p.gain = 100;
                  p.balance = 0;
              }), 0);
    writeAll(fd, ramp16(2 * 4410, 0));
    marker(fd);
    EXPECT_TRUE(waitInfo(fd, [](const audio_info& i) { return i.play.eof == 1; }));
    EXPECT_EQ(getInfo(fd).play.samples, 4410u);

    ASSERT_EQ(setPlay(fd, [](audio_prinfo& p) { p.pause = 1; }), 0);
    writeAll(fd, ramp16(2 * 4410, 0));
    marker(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    audio_info paused = getInfo(fd);
    EXPECT_EQ(paused.play.pause, 1);
    EXPECT_EQ(paused.play.eof, 1u) << "nothing is played while paused";
    EXPECT_EQ(paused.play.samples, 4410u);

    ASSERT_EQ(zefAudioFlush(fd), 0);
    ASSERT_EQ(setPlay(fd, [](audio_prinfo& p) { p.pause = 0; }), 0);
    writeAll(fd, ramp16(2 * 100, 0));
    marker(fd);
    EXPECT_TRUE(waitInfo(fd, [](const audio_info& i) { return i.play.eof == 2; }));
    EXPECT_EQ(getInfo(fd).play.samples, 4510u) << "the flushed sound was never played";
    EXPECT_EQ(zefAudioClose(fd), 0);
}

TEST(ZefAudioAlsa, EveryWidthOpensAndPlays) {
    int fd = openDevice("alsa:null");
    ASSERT_GE(fd, 0) << strerror(errno);
    uint32_t played = 0;
    for (uint32_t bits : {8u, 16u, 24u, 32u}) {
        ASSERT_EQ(setPlay(fd, [&](audio_prinfo& p) { p.precision = bits; }), 0) << bits;
        std::vector<uint8_t> pcm(bits / 8 * 800, 0x11);
        writeAll(fd, pcm);
        marker(fd);
        ++played;
        // the format can change again once the queue has played out
        EXPECT_TRUE(waitInfo(fd, [&](const audio_info& i) { return i.play.eof == played; }));
    }
    EXPECT_EQ(getInfo(fd).play.samples, 3200u);
    EXPECT_EQ(zefAudioClose(fd), 0);
}

// ALSA's "file" PCM keeps what reaches it: the sound as the speaker would
// get it, with the play gain and balance applied.
TEST(ZefAudioAlsa, SpeakerGetsTheSoundWithGainAndBalance) {
    std::string raw = tempDir() + "/speaker.raw";
    int fd = openDevice("alsa:file:" + raw + ",raw");
    ASSERT_GE(fd, 0) << strerror(errno);
    ASSERT_EQ(setPlay(fd, [](audio_prinfo& p) {
                  p.channels = 2;
                  p.gain = 51;      // one fifth
                  p.balance = 48;   // left at half
              }), 0);
    std::vector<int16_t> lr = {10000, 10000, -5000, -5000, 255, -255};
    std::vector<uint8_t> bytes(lr.size() * 2);
    std::memcpy(bytes.data(), lr.data(), bytes.size());
    writeAll(fd, bytes);
    marker(fd);
    EXPECT_TRUE(waitInfo(fd, [](const audio_info& i) { return i.play.eof == 1; }));
    ASSERT_EQ(zefAudioClose(fd), 0);

    std::vector<uint8_t> got = readFile(raw);
    std::vector<int16_t> heard(got.size() / 2);
    std::memcpy(heard.data(), got.data(), heard.size() * 2);
    EXPECT_EQ(heard, (std::vector<int16_t>{1000, 2000, -500, -1000, 25, -51}));
}

TEST(ZefAudioAlsa, MissingPcmFailsWithAReason) {
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(openDevice("alsa:zefaudio_no_such_pcm"), -1);
    std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("zefaudio: cannot open ALSA device \"zefaudio_no_such_pcm\""),
              std::string::npos) << said;
    EXPECT_EQ(openDevice("alsa:null,speed=5"), -1) << "ALSA keeps real time";
    EXPECT_EQ(errno, EINVAL);
}
