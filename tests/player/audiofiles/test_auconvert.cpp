// AuConvert: the player's settings survive a new session, the descriptions,
// and the whole-file conversions: Sun audio files are big-endian whatever
// the host (sox reads them back) and file names never reach a shell.
#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <cstdio>
#include <memory>

#include "audiofiles_test_util.h"
#include "auconvert.h"
#include "byteorder.h"

using namespace aftest;
using zeftest::dataFile;
using zeftest::ScratchDir;

namespace {

uint16_t quietCallback(uint16_t, uint16_t, void*) { return 0; }

std::string run(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    return out;
}

Bytes asBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

int initOn(AuConvert& c, Bytes& zef, std::vector<char>& out) {
    int in = int(zef.size());
    int outSize = int(out.size());
    return c.initBufZef2Raw(reinterpret_cast<char*>(zef.data()), &in, out.data(), &outSize);
}

TEST(AuConvert, SettingsSurviveANewSessionAndReachTheDecoder) {
    AuConvert c;
    ASSERT_EQ(c.getErrorState(), 0);
    Bytes zef = zeftest::readFile(dataFile("orvo.wav"));
    std::vector<char> out(1 << 17);
    int owner = 0;  // the player keeps a pointer here
    c.setZefCallback(quietCallback);
    c.setZefUserData(reinterpret_cast<uintptr_t>(&owner));
    c.setWarpFactor(2.0f);
    c.setRate(16000);
    c.setSize(1);
    ASSERT_EQ(initOn(c, zef, out), 0);
    const KELVANE_DATA& kd = c.session();
    EXPECT_EQ(kd.lpCallback, &quietCallback);
    EXPECT_EQ(kd.dwUserData, reinterpret_cast<uintptr_t>(&owner));
    EXPECT_FLOAT_EQ(kd.fWarpedLengthFactor, 2.0f);
    EXPECT_EQ(kd.dwOutputSamplingRate, 16000u);
    EXPECT_EQ(kd.wOutputBytesPerSample, 1);
    EXPECT_FLOAT_EQ(kd.fAbsolutePitch, 100.0f);
    EXPECT_EQ(c.getTotalFrames(), 89u);  // from the header, before streaming opens it up

    // Twice the rate, half the sample size, twice the length.
    int produced = int(out.size());
    ASSERT_EQ(c.bufZefConvert(out.data(), &produced), 0);
    EXPECT_NEAR(double(produced) / double(referenceDecode(zef).size()), 2.0, 0.05);

    c.setWarpFactor(1.0f);
    ASSERT_EQ(initOn(c, zef, out), 0);
    EXPECT_FLOAT_EQ(c.session().fWarpedLengthFactor, 1.0f);
    EXPECT_EQ(c.session().dwUserData, reinterpret_cast<uintptr_t>(&owner));
    EXPECT_EQ(c.freeZefDcmp(), 0);
    EXPECT_FALSE(c.sessionOpen());
}

// The device side of the bridge: a session of initBufZef2Speaker plays the
// frames that playZefData hands it, and playZefData alone plays a whole
// file; the device (here the file device) gets the library's decode.
TEST(AuConvert, PlaysCodedSpeechOnTheDevice) {
    ScratchDir dir;
    Bytes zef = zeftest::zefWave(zeftest::orvo(), zeftest::orvoSpeechLike(60));
    const Bytes decoded = referenceDecode(zef);
    setenv("ZEFAUDIO", ("file:" + dir.path("out.wav") + ",speed=200").c_str(), 1);
    std::vector<char> out(4320);
    for (bool session : {true, false}) {
        SCOPED_TRACE(session ? "session" : "whole file");
        AuConvert c;
        char* data = reinterpret_cast<char*>(zef.data());
        int size = int(zef.size()), outSize = int(out.size());
        if (session) {
            ASSERT_EQ(c.initBufZef2Speaker(data, &size, out.data(), &outSize), 0) << c.getPrimaryError();
            data += size, size = int(zef.size()) - size;
        }
        ASSERT_EQ(c.playZefData(data, &size), 0) << c.getPrimaryError() << " " << c.getSecondaryError();
        EXPECT_FALSE(c.sessionOpen()) << "played to the end";
        EXPECT_EQ(zeftest::bytes16(zeftest::readWaveSamples(dir.path("out.wav"))), decoded);
    }
    int none = 0;
    EXPECT_EQ(AuConvert().playZefData(nullptr, &none), 1);
}

TEST(AuConvert, AFailedStartKeepsItsCodesAndLeavesNoSession) {
    AuConvert c;
    Bytes junk(300, 0x41);
    std::vector<char> out(2400);
    EXPECT_EQ(initOn(c, junk, out), 1);
    EXPECT_NE(c.getPrimaryError(), 0);
    EXPECT_FALSE(c.sessionOpen());
    int produced = int(out.size());
    EXPECT_EQ(c.bufZefConvert(out.data(), &produced), 1);
    Bytes zef = zeftest::readFile(dataFile("peln.wav"));
    EXPECT_EQ(initOn(c, zef, out), 0);
    EXPECT_EQ(c.frameBlock(), 67);
}

// Destroying one converter must not shut the library down under another,
// whose sessions still look up Guisettes.
TEST(AuConvert, TheLibraryStaysStartedWhileAConverterLives) {
    auto second = std::make_unique<AuConvert>();
    { AuConvert first; }
    Bytes zef = zeftest::readFile(dataFile("orvo_guisette.wav"));
    std::vector<char> out(1 << 17);
    ASSERT_EQ(initOn(*second, zef, out), 0) << second->getPrimaryError();
    int produced = int(out.size());
    EXPECT_EQ(second->bufZefConvert(out.data(), &produced), 0);
    EXPECT_GT(produced, 0);
}


TEST(AuConvert, DescribesCodedSpeechInAFileOrInMemory) {
    AuConvert c;
    SNDSoundStruct s{};
    ASSERT_EQ(c.getSoundAttr(dataFile("orvo.wav").c_str(), ZEFTYPE_LOCATION_FILE, &s), 0);
    EXPECT_EQ(s.magic, kSndMagic);
    EXPECT_EQ(s.dataLocation, 48u);
    EXPECT_EQ(s.dataSize, 32040u);
    EXPECT_EQ(s.dataFormat, kSndLinear16);
    EXPECT_EQ(s.samplingRate, 8000u);
    EXPECT_EQ(s.channelCount, 1u);
    EXPECT_STREQ(s.info, "SUN");
    EXPECT_EQ(s.sampleCount, 16020u);
    EXPECT_EQ(s.bytesPerSample, 2u);
    EXPECT_EQ(s.attrFlags, kSndAttrFlags);

    // 24000 samples at 8000 Hz last exactly three seconds.
    Bytes zef = zeftest::zefWave(zeftest::orvo(), zeftest::orvoSpeechLike(134));
    for (size_t i = 12; i + 12 <= zef.size(); ++i)
        if (std::memcmp(&zef[i], "fact", 4) == 0) zef::writeLE32(&zef[i + 8], 24000);
    SNDSoundStruct m{};
    ASSERT_EQ(c.getBufferSoundAttr(reinterpret_cast<char*>(zef.data()), zef.size(), &m), 0);
    EXPECT_EQ(m.sampleCount, 24000u);
    EXPECT_EQ(m.duration, 3.0f);
    EXPECT_EQ(c.getBufferSoundAttr(reinterpret_cast<char*>(zef.data()), 0, &m), 1);

    EXPECT_EQ(c.getSoundAttr(dataFile("pcm16_mono.wav").c_str(), ZEFTYPE_LOCATION_FILE, &s), 1);
    EXPECT_NE(c.getPrimaryError(), 0);
}


TEST(AuConvert, Zef2SoundWritesASunFileThatSoxReads) {
    ScratchDir dir;
    Bytes zef = zeftest::zefWave(zeftest::peln(), pelnSpeechLike(250));
    std::string in = dir.path("speech.zef"), snd = dir.path("speech.snd");
    zeftest::writeFile(in, zef);
    AuConvert c;
    ASSERT_EQ(c.Zef2Sound(in.c_str(), snd.c_str()), 0);
    Bytes pcm = referenceDecode(zef);
    Bytes file = zeftest::readFile(snd);
    ASSERT_GE(file.size(), 48u);
    EXPECT_EQ(zef::readBE32(file.data()), kSndMagic);
    EXPECT_EQ(zef::readBE32(file.data() + 8), pcm.size());
    EXPECT_EQ(std::stoul(run("soxi -s '" + snd + "'")), pcm.size() / 2);
    EXPECT_EQ(asBytes(run("sox '" + snd + "' -t raw -e signed -b 16 -L -")), pcm);

    PCMAttr attr;
    std::string raw = dir.path("speech.raw");
    ASSERT_EQ(c.Zef2Raw(in.c_str(), raw.c_str(), &attr), 0);
    EXPECT_EQ(zeftest::readFile(raw), pcm);
    EXPECT_EQ(attr.sampleSize, kSndLinear16);
    EXPECT_EQ(attr.samplingRate, 8000u);
    EXPECT_EQ(attr.dataSize, long(pcm.size()));

    // The decoded PCM stays beside the coded file, private to its owner.
    struct stat st;
    ASSERT_EQ(::stat((in + ".tmp_PCM").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(size_t(st.st_size), pcm.size());
}


// Counts from a header are multiplied in 64 bits and never narrowed by a
// wrap: 0x80000001 channels of 2 bytes are no 2-byte frame, 65537 channels
// are not one, a length of 0xFFFFFFFF samples is not 0xFFFFFFFE bytes.
TEST(AuConvert, HugeCountsInHeadersDoNotWrap) {
    ScratchDir dir;
    AuConvert c;
    for (uint32_t channels : {0x80000001u, 65537u}) {
        SCOPED_TRACE(channels);
        Bytes sun(24 + 1000, 0);
        const uint32_t fields[] = {kSndMagic, 24, 1000, kSndLinear16, 8000, channels};
        for (size_t i = 0; i < 6; ++i) zef::writeBE32(&sun[4 * i], fields[i]);
        const std::string snd = dir.path("wide.snd");
        zeftest::writeFile(snd, sun);
        SNDSoundStruct attrs{};
        ASSERT_EQ(c.getSunSoundAttr(snd.c_str(), &attrs), 0);
        EXPECT_EQ(attrs.sampleCount, 0u);
        PCMAttr pcm{};
        ASSERT_EQ(c.Sound2Raw(snd.c_str(), dir.path("wide.raw").c_str(), &pcm), 0);
        EXPECT_GT(pcm.channels, 1u);
    }
    Bytes zef = zeftest::readFile(dataFile("orvo.wav"));
    const size_t fact = std::string(zef.begin(), zef.end()).find("fact");
    ASSERT_NE(fact, std::string::npos);
    zef::writeLE32(&zef[fact + 8], 0xFFFFFFFFu);
    SNDSoundStruct attrs{};
    ASSERT_EQ(c.getBufferSoundAttr(reinterpret_cast<const char*>(zef.data()), zef.size(), &attrs), 0);
    EXPECT_EQ(attrs.dataSize, 0xFFFFFFFFu);
}

// Raw PCM holds host-order 16-bit and unsigned 8-bit samples, a Sun file
// big-endian and signed ones: a round trip gives the raw file back.
TEST(AuConvert, RawAndSunFilesConvertBothWays) {
    ScratchDir dir;
    AuConvert c;
    struct Kind {
        unsigned short encoding;
        Bytes raw;
        const char* soxRead;
    };
    Bytes raw16;
    for (int16_t v : {int16_t(0), int16_t(1), int16_t(-2), int16_t(0x1234), int16_t(-32768), int16_t(32767)}) {
        uint8_t b[2];
        std::memcpy(b, &v, 2);
        raw16.insert(raw16.end(), b, b + 2);
    }
    Bytes raw8 = {0, 1, 0x7F, 0x80, 0x81, 0xFF, 0x40};
    for (const Kind& k : {Kind{kSndLinear16, raw16, "-e signed -b 16 -L"}, Kind{kSndLinear8, raw8, "-e unsigned -b 8"}}) {
        std::string raw = dir.path("in.raw"), snd = dir.path("out.snd"), back = dir.path("back.raw");
        zeftest::writeFile(raw, k.raw);
        zeftest::writeFile(back, Bytes(500, 0xEE));  // an older, longer file
        PCMAttr attr{0, k.encoding, 8000, 1};
        ASSERT_EQ(c.Raw2Sound(raw.c_str(), attr, snd.c_str()), 0);
        Bytes sun = zeftest::readFile(snd);
        ASSERT_EQ(sun.size(), 48 + k.raw.size());
        EXPECT_EQ(zef::readBE32(sun.data() + 12), k.encoding);
        EXPECT_EQ(asBytes(run("sox '" + snd + "' -t raw " + k.soxRead + " -")), k.raw);
        PCMAttr got;
        ASSERT_EQ(c.Sound2Raw(snd.c_str(), back.c_str(), &got), 0);
        EXPECT_EQ(zeftest::readFile(back), k.raw);
        EXPECT_EQ(got.dataSize, long(k.raw.size()));
        EXPECT_EQ(got.sampleSize, k.encoding);
        EXPECT_EQ(got.samplingRate, 8000u);
        EXPECT_EQ(got.channels, 1);
    }
    EXPECT_EQ(zef::readBE32(zeftest::readFile(dir.path("out.snd")).data() + 16), 8000u);

    testing::internal::CaptureStderr();
    EXPECT_EQ(c.Sound2Raw(dataFile("orvo.wav").c_str(), dir.path("x.raw").c_str(), nullptr), 1);
    zeftest::writeFile(dir.path("short.snd"), asBytes(".snd\0\0\0"));
    EXPECT_EQ(c.Sound2Raw(dir.path("short.snd").c_str(), dir.path("x.raw").c_str(), nullptr), 1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("not a Sun audio file"), std::string::npos);
    EXPECT_NE(err.find("incomplete"), std::string::npos);
}

TEST(AuConvert, AppendingCopiesARangeAndNoNameReachesAShell) {
    ScratchDir dir;
    AuConvert c;
    Bytes from(100);
    for (size_t i = 0; i < from.size(); ++i) from[i] = uint8_t(i);
    std::string src = dir.path("from"), to = dir.path("to;touch pwned-by-name $(touch pwned-by-name)");
    zeftest::writeFile(src, from);
    ASSERT_EQ(c.appendFile(src.c_str(), 60, 10, to.c_str()), 0);
    ASSERT_EQ(c.appendFile(src.c_str(), 3, to.c_str()), 0);
    Bytes expected(from.begin() + 10, from.begin() + 60);
    expected.insert(expected.end(), from.begin(), from.begin() + 3);
    EXPECT_EQ(zeftest::readFile(to), expected);
    EXPECT_FALSE(std::filesystem::exists("pwned-by-name"));

    testing::internal::CaptureStderr();
    EXPECT_EQ(c.appendFile(src.c_str(), 200, 150, to.c_str()), 1);  // beyond the end
    EXPECT_EQ(c.appendFile(src.c_str(), 101, to.c_str()), 1);
    EXPECT_EQ(c.appendFile(src.c_str(), 5, 10, to.c_str()), 1);
    EXPECT_EQ(c.appendFile(dir.path("missing").c_str(), 5, to.c_str()), 1);
    EXPECT_EQ(c.appBufToFile("abc", 3, dir.path("no/such/dir").c_str()), 1);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(zeftest::readFile(to), expected);
}

}  // namespace
