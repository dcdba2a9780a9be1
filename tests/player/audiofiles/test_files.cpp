// The files around the coded readers: compression of PCM WAVE, raw and Sun
// files into coded speech of their length, its temporary file that never
// replaces or follows what is there, RegFile's checked positions, and the
// PCM readers that describe a file and seek on whole samples; the player's
// temporary file for data handed over in memory.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "audiofiles_test_util.h"
#include "auconvert.h"
#include "player.h"  // after GoogleTest: Xlib's macros clash with it
#include "regfile.h"
#include "sndfile.h"
#include "wavfile.h"

using namespace aftest;
using zeftest::ScratchDir;

namespace {

// Decoded samples (16-bit, 8000 Hz) of a coded file, -1 when it does not decode.
long decodedSamples(AuConvert& c, const ScratchDir& dir, const std::string& zef) {
    PCMAttr attr;
    if (c.Zef2Raw(dir.path(zef).c_str(), dir.path(zef + ".pcm").c_str(), &attr)) return -1;
    EXPECT_EQ(attr.samplingRate, 8000u);
    return attr.dataSize / 2;
}

TEST(Compress, WaveRawAndSunFilesBecomeCodedSpeechOfTheirLength) {
    ScratchDir dir;
    AuConvert c;
    const zeftest::Samples at8k = zeftest::vowel(8000, 130, 12000), at16k = zeftest::vowel(16000, 130, 12000, 16000);
    const long oneSecond = (8000 + 179) / 180 * 180;  // the last frame is padded
    zeftest::writeFile(dir.path("in.wav"), zeftest::pcmWave(at16k, 16000));
    ASSERT_EQ(c.Wav2Zef(dir.path("in.wav").c_str(), dir.path("wav.zef").c_str()), 0);
    EXPECT_NEAR(decodedSamples(c, dir, "wav.zef"), oneSecond, 180);

    zeftest::writeFile(dir.path("in.raw"), zeftest::bytes16(at8k));
    PCMAttr attr{long(at8k.size() * 2), uint16_t(kSndLinear16), 8000, 1};
    ASSERT_EQ(c.Raw2Zef(dir.path("in.raw").c_str(), attr, dir.path("raw.zef").c_str()), 0);
    EXPECT_EQ(decodedSamples(c, dir, "raw.zef"), oneSecond);

    // The same samples through a Sun audio file give the same coded file;
    // an existing temporary file and a link in the next place stay untouched.
    ASSERT_EQ(c.Raw2Sound(dir.path("in.raw").c_str(), attr, dir.path("in.snd").c_str()), 0);
    const Bytes mine{'k', 'e', 'e', 'p'};
    zeftest::writeFile(dir.path("snd.zef.tmp_PCM"), mine);
    ASSERT_EQ(::symlink(dir.path("victim").c_str(), dir.path("snd.zef.1.tmp_PCM").c_str()), 0);
    ASSERT_EQ(c.Sound2Zef(dir.path("in.snd").c_str(), dir.path("snd.zef").c_str()), 0);
    EXPECT_EQ(zeftest::readFile(dir.path("snd.zef")), zeftest::readFile(dir.path("raw.zef")));
    EXPECT_EQ(zeftest::readFile(dir.path("snd.zef.tmp_PCM")), mine);
    EXPECT_FALSE(std::filesystem::exists(dir.path("victim")));
    EXPECT_EQ(zeftest::readFile(dir.path("snd.zef.2.tmp_PCM")), zeftest::bytes16(at8k));
}

TEST(Compress, FailuresGiveOneWithTheLibrarysCodesAndNoFile) {
    ScratchDir dir;
    AuConvert c;
    const std::string zef = dir.path("out.zef");
    EXPECT_EQ(c.Wav2Zef(dir.path("missing.wav").c_str(), zef.c_str()), 1);
    EXPECT_EQ(c.getPrimaryError(), ZEFERR_OPENING_INPUT_FILE);
    zeftest::writeFile(dir.path("in.raw"), Bytes(16000, 0));
    PCMAttr badRate{16000, uint16_t(kSndLinear16), 12000, 1};  // no such library rate
    EXPECT_EQ(c.Raw2Zef(dir.path("in.raw").c_str(), badRate, zef.c_str()), 1);
    EXPECT_EQ(c.getPrimaryError(), ZEFERR_NO_INPUT_SAMPLING_RATE);
    PCMAttr stereo{16000, uint16_t(kSndLinear16), 8000, 2};
    EXPECT_EQ(c.Raw2Zef(dir.path("in.raw").c_str(), stereo, zef.c_str()), 1);
    EXPECT_EQ(c.getPrimaryError(), ZEFERR_INVALID_INPUT_TYPE);
    zeftest::writeFile(dir.path("not.snd"), Bytes(64, 'x'));
    EXPECT_EQ(c.Sound2Zef(dir.path("not.snd").c_str(), zef.c_str()), 1);
    EXPECT_FALSE(std::filesystem::exists(zef));
    zeftest::writeFile(dir.path("in.wav"), zeftest::pcmWave(zeftest::vowel(8000, 130, 12000)));
    EXPECT_EQ(c.Wav2Zef(dir.path("in.wav").c_str(), zef.c_str()), 0);
    EXPECT_EQ(c.getPrimaryError(), 0) << "a success clears the last failure's codes";
}

TEST(RegFile, PositionsAreCheckedAndAClosedFileReopens) {
    ScratchDir dir;
    Bytes ten{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    zeftest::writeFile(dir.path("f"), ten);
    RegFile f(dir.path("f").c_str(), "r");
    EXPECT_EQ(f.setFileLocation(10), 0);  // at the end
    EXPECT_EQ(f.setFileLocation(11), 1);
    EXPECT_EQ(f.setFileLocation(-1), 1);
    EXPECT_EQ(f.getCurrentLocation(), 10) << "refusals move nothing";
    char b[10];
    EXPECT_EQ(f.readBuf(b, 4), 0);
    EXPECT_TRUE(f.isEndOfFile());
    f.closeFile();
    ASSERT_EQ(f.readBuf(b, 10), 10);
    EXPECT_EQ(Bytes(b, b + 10), ten);

    RegFile appender(dir.path("f").c_str(), "a");
    EXPECT_EQ(appender.writeBuf("ab", 2), 0);
    appender.closeFile();
    EXPECT_EQ(zeftest::readFile(dir.path("f")).size(), 12u);
    testing::internal::CaptureStderr();
    EXPECT_EQ(f.writeBuf("x", 1), 1) << "opened for reading";
    RegFile missing(dir.path("missing").c_str(), "r");
    EXPECT_EQ(missing.readBuf(b, 4), -1);
    EXPECT_EQ(missing.setFileLocation(0), 1);
    testing::internal::GetCapturedStderr();
}

// SndFile and WavFile describe their file, deliver no samples and seek on
// whole 16-bit samples.
template <class Reader>
void describesAndSeeks(const std::string& path, uint32_t rate, uint32_t samples) {
    Reader r(path.c_str(), "r");
    ASSERT_EQ(r.getState(), 0);
    EXPECT_EQ(r.attributes()->samplingRate, rate);
    EXPECT_EQ(r.attributes()->sampleCount, samples);
    SNDSoundStruct out{};
    EXPECT_EQ(r.getSoundAttr(&out), 1) << "described, but not playable";
    EXPECT_EQ(out.samplingRate, rate);
    const long size = long(std::filesystem::file_size(path));
    EXPECT_EQ(r.setLocation(1.0f), 0);
    EXPECT_EQ(r.getCurrentLocation(), size - size % 2);
    EXPECT_EQ(r.setLocation(1.5f), 1);
    char buf[16];
    EXPECT_EQ(r.readSegment(buf, sizeof buf), 0);
}

TEST(PcmFiles, DescribeTheirFileAndSeekOnWholeSamples) {
    ScratchDir dir;
    describesAndSeeks<WavFile>(zeftest::dataFile("pcm16_mono.wav"), 8000, 10000);
    zeftest::writeFile(dir.path("a.raw"), Bytes(22050 * 2 + 1, 0));
    AuConvert c;
    PCMAttr attr{0, kSndLinear16, 22050, 1};
    ASSERT_EQ(c.Raw2Sound(dir.path("a.raw").c_str(), attr, dir.path("a.snd").c_str()), 0);
    describesAndSeeks<SndFile>(dir.path("a.snd"), 22050, 22050);
    testing::internal::CaptureStderr();
    SndFile missing(dir.path("missing.snd").c_str(), "r");
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(missing.getState(), 1);
    EXPECT_EQ(missing.attributes(), nullptr);
}

}  // namespace

// Data handed over that cannot be read in memory goes to
// "/tmp/zefplayer_XX_<n><last component of the name>": created afresh with
// mode 0600, never through a link or over a file already at the name (the
// next number is taken instead).
TEST(PlayerTempFile, IsCreatedAfreshAndPrivate) {
    enum Planted { Nothing, LinkToAFile, DanglingLink, AFile };
    const Bytes data{'R', 'I', 'F', 'F', 16, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};  // no sound described
    const mode_t oldMask = umask(0);  // the mode is the file's own, not the mask's
    for (Planted planted : {Nothing, LinkToAFile, DanglingLink, AFile}) {
        SCOPED_TRACE(planted);
        ScratchDir dir;
        const std::string tag = "-" + std::to_string(getpid()) + "-talk.zef", victim = dir.path("victim");
        auto temp = [&](int k) { return "/tmp/zefplayer_XX_" + std::to_string(Player::zeffileid + k) + tag; };
        const std::string taken = temp(1), made = planted == Nothing ? taken : temp(2);
        zeftest::writeFile(victim, {'k', 'e', 'e', 'p'});
        const std::string linkTo = planted == LinkToAFile ? victim : dir.path("absent");
        ASSERT_TRUE(planted == Nothing || planted == AFile || symlink(linkTo.c_str(), taken.c_str()) == 0);
        if (planted == AFile) zeftest::writeFile(taken, {'k', 'e', 'e', 'p'});
        {
            Player p;
            const std::string name = "../elsewhere/" + tag;
            EXPECT_EQ(p.start(name.c_str(), reinterpret_cast<const char*>(data.data()), 16, true), 1);
            struct stat st {};
            EXPECT_EQ(lstat(made.c_str(), &st), 0);
            EXPECT_TRUE(S_ISREG(st.st_mode) && st.st_nlink == 1);
            EXPECT_EQ(st.st_mode & 07777, 0600u);
            EXPECT_EQ(zeftest::readFile(made), data);
        }
        EXPECT_EQ(zeftest::readFile(planted == AFile ? taken : victim), (Bytes{'k', 'e', 'e', 'p'}));
        EXPECT_FALSE(std::filesystem::exists(dir.path("absent")));
        unlink(taken.c_str());
        unlink(made.c_str());
    }
    umask(oldMask);
}
