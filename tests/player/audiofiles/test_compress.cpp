// AuConvert's compressions: PCM WAVE, raw PCM and Sun audio files become
// coded WAVE files that decode to speech of the input's length; failures
// give 1 with the library's codes and leave no coded file behind.
#include <sys/stat.h>

#include <cmath>
#include <cstdio>

#include "audiofiles_test_util.h"
#include "auconvert.h"

using namespace aftest;

namespace {

// One second of a voiced, speech-like sound in host-order 16-bit samples.
std::vector<int16_t> speechLike(unsigned rate) {
    std::vector<int16_t> x(rate);
    for (unsigned i = 0; i < rate; ++i) {
        const double t = double(i) / rate;
        double v = 0;
        for (int h = 1; h <= 10; ++h) v += std::sin(2 * M_PI * 130.0 * h * t) / h;
        x[i] = int16_t(std::lround(3000 * v * (0.3 + 0.7 * std::fabs(std::sin(2 * M_PI * 3.0 * t)))));
    }
    return x;
}

Bytes rawBytes(const std::vector<int16_t>& x) {
    Bytes b(x.size() * 2);
    std::memcpy(b.data(), x.data(), b.size());
    return b;
}

void le(Bytes& b, uint32_t v, int n) { for (int i = 0; i < n; ++i) b.push_back(uint8_t(v >> (8 * i))); }

Bytes pcmWave(const std::vector<int16_t>& x, uint32_t rate) {
    Bytes b;
    auto id = [&](const char* t) { for (int i = 0; i < 4; ++i) b.push_back(uint8_t(t[i])); };
    id("RIFF"); le(b, uint32_t(36 + 2 * x.size()), 4); id("WAVE");
    id("fmt "); le(b, 16, 4); le(b, 1, 2); le(b, 1, 2); le(b, rate, 4); le(b, rate * 2, 4); le(b, 2, 2); le(b, 16, 2);
    id("data"); le(b, uint32_t(2 * x.size()), 4);
    for (int16_t s : x) le(b, uint16_t(s), 2);
    return b;
}

bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// Decodes a coded file; returns the samples (16-bit, 8000 Hz) or -1.
long decodedSamples(AuConvert& c, const std::string& zef, const std::string& raw) {
    PCMAttr attr;
    if (c.Zef2Raw(zef.c_str(), raw.c_str(), &attr)) return -1;
    EXPECT_EQ(attr.samplingRate, 8000u);
    return attr.dataSize / 2;
}

}  // namespace

TEST(AuConvertCompress, WaveRawAndSunFilesBecomeCodedSpeechOfTheirLength) {
    ScratchDir dir;
    AuConvert c;
    ASSERT_EQ(c.getErrorState(), 0);
    const auto at8k = speechLike(8000), at16k = speechLike(16000);
    const long oneSecond = (8000 + 179) / 180 * 180;  // the last frame is padded

    zeftest::writeFile(dir.path("in.wav"), pcmWave(at16k, 16000));
    ASSERT_EQ(c.Wav2Zef(dir.path("in.wav").c_str(), dir.path("wav.zef").c_str()), 0);
    EXPECT_NEAR(decodedSamples(c, dir.path("wav.zef"), dir.path("wav.pcm")), oneSecond, 180);
    ZEF_FILE_INFO info{};
    ASSERT_EQ(c.GetZefFileInfo(dir.path("wav.zef").data(), &info, ZEFTYPE_LOCATION_FILE), 0);
    EXPECT_EQ(info.wFormatTag, 98);
    EXPECT_EQ(info.dwBitRate, 2400u);

    zeftest::writeFile(dir.path("in.raw"), rawBytes(at8k));
    PCMAttr attr{long(at8k.size() * 2), uint16_t(kSndLinear16), 8000, 1};
    ASSERT_EQ(c.Raw2Zef(dir.path("in.raw").c_str(), attr, dir.path("raw.zef").c_str()), 0);
    EXPECT_EQ(decodedSamples(c, dir.path("raw.zef"), dir.path("raw.pcm")), oneSecond);

    // The same samples through a Sun audio file give the same coded file.
    ASSERT_EQ(c.Raw2Sound(dir.path("in.raw").c_str(), attr, dir.path("in.snd").c_str()), 0);
    ASSERT_EQ(c.Sound2Zef(dir.path("in.snd").c_str(), dir.path("snd.zef").c_str()), 0);
    EXPECT_EQ(zeftest::readFile(dir.path("snd.zef")), zeftest::readFile(dir.path("raw.zef")));
    EXPECT_EQ(zeftest::readFile(dir.path("snd.zef.tmp_PCM")), rawBytes(at8k));  // left in place

    // 8-bit unsigned raw PCM at 11025 Hz.
    Bytes eight(11025);
    for (size_t i = 0; i < eight.size(); ++i) eight[i] = uint8_t(128 + std::lround(60 * std::sin(2 * M_PI * 200.0 * i / 11025)));
    zeftest::writeFile(dir.path("in8.raw"), eight);
    PCMAttr attr8{long(eight.size()), uint16_t(kSndLinear8), 11025, 1};
    ASSERT_EQ(c.Raw2Zef(dir.path("in8.raw").c_str(), attr8, dir.path("raw8.zef").c_str()), 0);
    EXPECT_NEAR(decodedSamples(c, dir.path("raw8.zef"), dir.path("raw8.pcm")), oneSecond, 180);
}

TEST(AuConvertCompress, TheTemporaryFileNeverReplacesOneThatExists) {
    ScratchDir dir;
    AuConvert c;
    const auto x = speechLike(8000);
    PCMAttr attr{long(x.size() * 2), uint16_t(kSndLinear16), 8000, 1};
    zeftest::writeFile(dir.path("in.raw"), rawBytes(x));
    ASSERT_EQ(c.Raw2Sound(dir.path("in.raw").c_str(), attr, dir.path("in.snd").c_str()), 0);
    const Bytes mine{'k', 'e', 'e', 'p'};
    zeftest::writeFile(dir.path("out.zef.tmp_PCM"), mine);
    ASSERT_EQ(::symlink(dir.path("victim").c_str(), dir.path("out.zef.1.tmp_PCM").c_str()), 0);
    ASSERT_EQ(c.Sound2Zef(dir.path("in.snd").c_str(), dir.path("out.zef").c_str()), 0);
    EXPECT_EQ(zeftest::readFile(dir.path("out.zef.tmp_PCM")), mine);
    EXPECT_FALSE(exists(dir.path("victim")));
    EXPECT_EQ(zeftest::readFile(dir.path("out.zef.2.tmp_PCM")), rawBytes(x));
    EXPECT_EQ(decodedSamples(c, dir.path("out.zef"), dir.path("out.pcm")), 45 * 180);
}

TEST(AuConvertCompress, FailuresGiveOneWithTheLibrarysCodesAndNoFile) {
    ScratchDir dir;
    AuConvert c;
    const std::string zef = dir.path("out.zef");
    EXPECT_EQ(c.Wav2Zef(dir.path("missing.wav").c_str(), zef.c_str()), 1);
    EXPECT_EQ(c.getPrimaryError(), ZEFERR_OPENING_INPUT_FILE);
    EXPECT_FALSE(exists(zef));

    const auto x = speechLike(8000);
    zeftest::writeFile(dir.path("in.raw"), rawBytes(x));
    PCMAttr badRate{long(x.size() * 2), uint16_t(kSndLinear16), 12000, 1};  // no such library rate
    EXPECT_EQ(c.Raw2Zef(dir.path("in.raw").c_str(), badRate, zef.c_str()), 1);
    EXPECT_EQ(c.getPrimaryError(), ZEFERR_NO_INPUT_SAMPLING_RATE);
    PCMAttr stereo{long(x.size() * 2), uint16_t(kSndLinear16), 8000, 2};
    EXPECT_EQ(c.Raw2Zef(dir.path("in.raw").c_str(), stereo, zef.c_str()), 1);
    EXPECT_EQ(c.getPrimaryError(), ZEFERR_INVALID_INPUT_TYPE);
    EXPECT_EQ(c.getSecondaryError(), 2);
    EXPECT_FALSE(exists(zef));

    // A file that is not Sun audio, and one that ends inside its data.
    zeftest::writeFile(dir.path("not.snd"), Bytes(64, 'x'));
    EXPECT_EQ(c.Sound2Zef(dir.path("not.snd").c_str(), zef.c_str()), 1);
    PCMAttr ok{long(x.size() * 2), uint16_t(kSndLinear16), 8000, 1};
    ASSERT_EQ(c.Raw2Sound(dir.path("in.raw").c_str(), ok, dir.path("in.snd").c_str()), 0);
    Bytes cut = zeftest::readFile(dir.path("in.snd"));
    cut.resize(cut.size() / 2);
    zeftest::writeFile(dir.path("cut.snd"), cut);
    EXPECT_EQ(c.Sound2Zef(dir.path("cut.snd").c_str(), zef.c_str()), 1);
    EXPECT_FALSE(exists(zef));
    // A Wav2Zef that worked clears the codes of the last failure.
    zeftest::writeFile(dir.path("in.wav"), pcmWave(x, 8000));
    EXPECT_EQ(c.Wav2Zef(dir.path("in.wav").c_str(), zef.c_str()), 0);
    EXPECT_EQ(c.getPrimaryError(), 0);
}
