// SndFile and WavFile: they describe their PCM file, deliver no samples,
// report that they cannot be played, and seek without splitting a sample.
#include "audiofiles_test_util.h"
#include "auconvert.h"
#include "sndfile.h"
#include "wavfile.h"

using namespace aftest;

namespace {

template <class Reader>
void seeksOnWholeSamples(const ScratchDir& dir) {
    for (size_t size : {1001u, 1002u}) {
        std::string path = dir.path("f" + std::to_string(size));
        zeftest::writeFile(path, Bytes(size, 0));
        testing::internal::CaptureStderr();  // not a sound file: its description fails
        Reader r(path.c_str(), "r");
        testing::internal::GetCapturedStderr();
        ASSERT_EQ(r.getState(), 0);
        EXPECT_EQ(r.setLocation(0.5f), 0);
        EXPECT_EQ(r.getCurrentLocation(), 500);
        EXPECT_EQ(r.setLocation(1.0f), 0);
        EXPECT_EQ(r.getCurrentLocation(), long(size) - long(size % 2));
        EXPECT_EQ(r.setLocation(1.5f), 1);
        EXPECT_EQ(r.setLocation(-0.5f), 1);
        char buf[16];
        EXPECT_EQ(r.readSegment(buf, sizeof buf), 0);
    }
}

TEST(PcmFiles, SeekOnWholeSamplesAndDeliverNothing) {
    ScratchDir dir;
    seeksOnWholeSamples<SndFile>(dir);
    seeksOnWholeSamples<WavFile>(dir);
}

TEST(PcmFiles, WavFileDescribesItsWave) {
    WavFile w(dataFile("pcm16_mono.wav").c_str(), "r");
    ASSERT_EQ(w.getState(), 0);
    EXPECT_STREQ(w.getClassId(), "WavFile");
    const SNDSoundStruct& a = *w.attributes();
    EXPECT_EQ(a.magic, kSndMagic);
    EXPECT_EQ(a.dataFormat, kSndLinear16);
    EXPECT_EQ(a.samplingRate, 8000u);
    EXPECT_EQ(a.channelCount, 1u);
    EXPECT_EQ(a.sampleCount, 10000u);
    EXPECT_FLOAT_EQ(a.duration, 1.25f);

    // The description is copied out, but the samples cannot be played.
    SNDSoundStruct out{};
    EXPECT_EQ(w.getSoundAttr(&out), 1);
    EXPECT_EQ(std::memcmp(&out, &a, sizeof out), 0);
}

TEST(PcmFiles, SndFileDescribesItsSunHeader) {
    ScratchDir dir;
    std::string raw = dir.path("a.raw"), snd = dir.path("a.snd");
    zeftest::writeFile(raw, Bytes(22050 * 2, 0));
    AuConvert c;
    PCMAttr attr{0, kSndLinear16, 22050, 1};
    ASSERT_EQ(c.Raw2Sound(raw.c_str(), attr, snd.c_str()), 0);

    SndFile s(snd.c_str(), "r");
    ASSERT_EQ(s.getState(), 0);
    EXPECT_STREQ(s.getClassId(), "SndFile");
    const SNDSoundStruct& a = *s.attributes();
    EXPECT_EQ(a.dataLocation, 48u);
    EXPECT_EQ(a.dataSize, 44100u);
    EXPECT_EQ(a.samplingRate, 22050u);
    EXPECT_EQ(a.sampleCount, 22050u);
    EXPECT_FLOAT_EQ(a.duration, 1.0f);
    SNDSoundStruct out{};
    EXPECT_EQ(s.getSoundAttr(&out), 1);
    EXPECT_EQ(out.samplingRate, 22050u);
}

TEST(PcmFiles, AMissingFileHasNoDescription) {
    ScratchDir dir;
    testing::internal::CaptureStderr();
    SndFile s(dir.path("missing.snd").c_str(), "r");
    WavFile w(dir.path("missing.wav").c_str(), "r");
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(s.getState(), 1);
    EXPECT_EQ(w.getState(), 1);
    EXPECT_EQ(s.attributes(), nullptr);
    SNDSoundStruct out{};
    out.samplingRate = 1234;
    EXPECT_EQ(w.getSoundAttr(&out), 1);
    EXPECT_EQ(out.samplingRate, 1234u);  // nothing copied
}

}  // namespace
