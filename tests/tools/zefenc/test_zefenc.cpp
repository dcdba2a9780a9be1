// zefenc run as a user runs it, on speech-like sound that the test makes and
// writes as WAVE, AIFF and raw PCM; zefinfo and zefdec read the results back.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;
constexpr double kPi = 3.14159265358979323846;
constexpr size_t kFrame = 180;  // samples per coded frame at 8000 Hz

struct Result {
    int status = -1;  // -1 when the tool did not exit normally (a crash)
    std::string out, err;
};

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void save(const fs::path& p, const Bytes& b) {
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

std::string quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Bytes are appended one by one: g++ 12 -O2 misjudges a range insert.
void put(Bytes& b, const char* tag) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(tag[i]));
}
void putLE(Bytes& b, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
void putBE(Bytes& b, uint32_t v, int n) {
    for (int i = n - 1; i >= 0; --i) b.push_back(uint8_t(v >> (8 * i)));
}

// Vowel-like syllables (a gliding pitch through three formants) with a
// hissed consonant between them, so the encoder sees voiced and unvoiced
// frames, onsets and silence.
std::vector<int16_t> speech(double seconds, uint32_t rate) {
    std::vector<int16_t> s(size_t(seconds * rate));
    const double formants[3][2] = {{700, 90}, {1200, 110}, {2600, 160}};
    uint32_t noise = 12345;
    double phase = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        const double t = double(i) / rate;
        const double syllable = std::fmod(t, 0.4);
        const double f0 = 110 + 40 * std::sin(2 * kPi * 0.7 * t);
        phase += 2 * kPi * f0 / rate;
        double v = 0;
        for (int k = 1; k * f0 < 3400; ++k) {
            double gain = 0;
            for (const auto& f : formants) gain += 1.0 / (1.0 + std::pow((k * f0 - f[0]) / f[1], 2));
            v += gain * std::sin(k * phase) / k;
        }
        noise = noise * 1664525u + 1013904223u;
        const double hiss = (double(noise >> 16) / 32768.0 - 1.0) * 0.25;
        const double env = syllable < 0.28 ? std::sin(kPi * syllable / 0.28) : 0.0;
        const double x = syllable < 0.28 ? env * v * 0.5 : (syllable < 0.36 ? hiss : 0.0);
        s[i] = int16_t(std::lround(std::clamp(x, -1.0, 1.0) * 12000));
    }
    return s;
}

Bytes pcm16(const std::vector<int16_t>& s, int channels) {
    Bytes b;
    for (int16_t v : s)
        for (int c = 0; c < channels; ++c) putLE(b, uint16_t(v), 2);
    return b;
}

Bytes pcm8(const std::vector<int16_t>& s) {
    Bytes b;
    for (int16_t v : s) b.push_back(uint8_t((v >> 8) + 128));
    return b;
}

Bytes wave(const Bytes& data, uint32_t rate, int channels, int bits) {
    Bytes b;
    const uint32_t align = uint32_t(channels * bits / 8);
    put(b, "RIFF"), putLE(b, uint32_t(36 + data.size()), 4), put(b, "WAVE");
    put(b, "fmt "), putLE(b, 16, 4), putLE(b, 1, 2), putLE(b, uint32_t(channels), 2);
    putLE(b, rate, 4), putLE(b, rate * align, 4), putLE(b, align, 2), putLE(b, uint32_t(bits), 2);
    put(b, "data"), putLE(b, uint32_t(data.size()), 4);
    for (uint8_t v : data) b.push_back(v);
    return b;
}

// 16-bit AIFF; the rate is an 80-bit extended number (whole hertz).
Bytes aiff(const std::vector<int16_t>& s, uint32_t rate, int channels) {
    Bytes sound;
    for (int16_t v : s)
        for (int c = 0; c < channels; ++c) putBE(sound, uint16_t(v), 2);
    int exponent = 31;
    while (!(rate >> exponent)) --exponent;
    Bytes b;
    put(b, "FORM"), putBE(b, uint32_t(4 + 26 + 16 + sound.size()), 4), put(b, "AIFF");
    put(b, "COMM"), putBE(b, 18, 4), putBE(b, uint32_t(channels), 2), putBE(b, uint32_t(s.size()), 4);
    putBE(b, 16, 2), putBE(b, uint32_t(16383 + exponent), 2);
    putBE(b, rate << (31 - exponent), 4), putBE(b, 0, 4);
    put(b, "SSND"), putBE(b, uint32_t(8 + sound.size()), 4), putBE(b, 0, 4), putBE(b, 0, 4);
    for (uint8_t v : sound) b.push_back(v);
    return b;
}

class ZefEnc : public ::testing::Test {
protected:
    ZefEnc() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::path(ZEF_BINARY_DIR) / "scratch" / (std::string("zefenc.") + info->name() + "." + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    ~ZefEnc() override { fs::remove_all(dir_); }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    Result run(const char* tool, const std::vector<std::string>& args, const std::string& redirect = "") const {
        std::string command = quoted(tool);
        for (const std::string& a : args) command += " " + quoted(a);
        command += redirect + " >" + quoted(path("stdout")) + " 2>" + quoted(path("stderr"));
        Result r;
        int raw = std::system(command.c_str());
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = slurp(path("stdout"));
        r.err = slurp(path("stderr"));
        return r;
    }
    Result zefenc(const std::vector<std::string>& args, const std::string& redirect = "") const {
        return run(ZEFENC, args, redirect);
    }
    // What zefinfo prints about a file.
    std::string info(const std::string& file) const {
        Result r = run(ZEFINFO, {file});
        EXPECT_EQ(r.status, 0) << r.err;
        return r.out;
    }
    // The file decoded to raw 16-bit PCM at 8000 Hz.
    std::string decoded(const std::string& file) const {
        Result r = run(ZEFDEC, {"-q", "-t", "raw", file, path("decoded.raw")});
        EXPECT_EQ(r.status, 0) << r.err;
        return slurp(path("decoded.raw"));
    }
    // A failure: exit status 1, a message naming the problem, no output file.
    void expectFailure(const std::vector<std::string>& args, const std::string& message,
                       const std::string& redirect = "") const {
        SCOPED_TRACE(args.empty() ? "" : args.front());
        Result r = zefenc(args, redirect);
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(path("out.wav")));
    }

private:
    fs::path dir_;
};

std::string lengthLine(size_t samples) {
    return "length      " + std::to_string(samples) + " samples";
}

}  // namespace

// The everyday case: 8000 Hz speech in, a coded WAVE file out whose header
// gives the input's length and whose frames decode to it (rounded up to a
// whole frame); progress on standard error only, and none with -q.
TEST_F(ZefEnc, WaveInDecodesToTheInputsLength) {
    const std::vector<int16_t> s = speech(2.5, 8000);
    save(path("in.wav"), wave(pcm16(s, 1), 8000, 1, 16));

    Result loud = zefenc({path("in.wav"), path("out.wav")});
    ASSERT_EQ(loud.status, 0) << loud.err;
    EXPECT_EQ(loud.out, "");
    EXPECT_NE(loud.err.find("\rzefenc: 2 s\n"), std::string::npos) << loud.err;

    const std::string text = info(path("out.wav"));
    EXPECT_NE(text.find("Orvo"), std::string::npos) << text;
    EXPECT_NE(text.find(lengthLine(s.size())), std::string::npos) << text;
    const size_t frames = (s.size() + kFrame - 1) / kFrame;
    EXPECT_EQ(decoded(path("out.wav")).size(), frames * kFrame * 2);

    const std::string first = slurp(path("out.wav"));
    Result quiet = zefenc({"-q", path("in.wav"), path("out.wav")});
    ASSERT_EQ(quiet.status, 0) << quiet.err;
    EXPECT_EQ(quiet.out + quiet.err, "");
    EXPECT_EQ(slurp(path("out.wav")), first);  // progress changes nothing in the file
}

// The same samples as a file with a header, as raw PCM described on the
// command line, and through standard input code to the same bytes.
TEST_F(ZefEnc, RawAndStandardInputGiveTheSameFile) {
    const std::vector<int16_t> s = speech(1.2, 8000);
    save(path("in.wav"), wave(pcm16(s, 1), 8000, 1, 16));
    save(path("in.raw"), pcm16(s, 1));
    save(path("in8.wav"), wave(pcm8(s), 8000, 1, 8));
    save(path("in8.raw"), pcm8(s));

    ASSERT_EQ(zefenc({"-q", path("in.wav"), path("wave.wav")}).status, 0);
    ASSERT_EQ(zefenc({"-q", "--rate", "8000", "--bits", "16", path("in.raw"), path("raw.wav")}).status, 0);
    ASSERT_EQ(zefenc({"-q", path("in.raw"), path("default.wav")}).status, 0);
    ASSERT_EQ(zefenc({"-q", "-", path("stdin.wav")}, " <" + quoted(path("in.wav"))).status, 0);
    ASSERT_EQ(zefenc({"-q", "--bits", "16", "-", path("stdinraw.wav")}, " <" + quoted(path("in.raw"))).status, 0);
    const std::string expected = slurp(path("wave.wav"));
    ASSERT_GT(expected.size(), 44u);
    for (const char* name : {"raw.wav", "default.wav", "stdin.wav", "stdinraw.wav"})
        EXPECT_EQ(slurp(path(name)), expected) << name;

    // 8-bit samples are unsigned both in WAVE and in raw input.
    ASSERT_EQ(zefenc({"-q", path("in8.wav"), path("wave8.wav")}).status, 0);
    ASSERT_EQ(zefenc({"-q", "--bits", "8", path("in8.raw"), path("raw8.wav")}).status, 0);
    EXPECT_EQ(slurp(path("raw8.wav")), slurp(path("wave8.wav")));
}

// Higher rates and stereo are brought down to 8000 Hz mono by the library;
// the coded length is the input's duration at 8000 Hz.
TEST_F(ZefEnc, OtherRatesStereoAndAiff) {
    struct Input {
        const char* name;
        uint32_t rate;
        int channels;
        bool isAiff;
    };
    const Input inputs[] = {{"16k.wav", 16000, 1, false}, {"44k_stereo.wav", 44100, 2, false},
                            {"44k_stereo.aiff", 44100, 2, true}, {"16k.aiff", 16000, 1, true},
                            {"8k.aiff", 8000, 1, true}};
    for (const Input& in : inputs) {
        SCOPED_TRACE(in.name);
        const std::vector<int16_t> s = speech(1.0, in.rate);
        save(path(in.name), in.isAiff ? aiff(s, in.rate, in.channels) : wave(pcm16(s, in.channels), in.rate, in.channels, 16));
        Result r = zefenc({"-q", path(in.name), path("out.wav")});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string text = info(path("out.wav"));
        EXPECT_NE(text.find("8000 Hz, 2 bytes per sample, 1 channel"), std::string::npos) << text;
        const size_t at = text.find("length      ");
        ASSERT_NE(at, std::string::npos) << text;
        EXPECT_NEAR(std::strtod(text.c_str() + at + 12, nullptr), 8000.0, 1.0);
        EXPECT_EQ(decoded(path("out.wav")).size(), 45 * kFrame * 2);  // 8000 samples in whole frames
        fs::remove(path("out.wav"));
    }
}

// Codec, container, compatibility block and Guisette: each choice shows in
// the file, and the containers carry the same coded frames.
TEST_F(ZefEnc, CodecContainerAndGuisetteChoices) {
    save(path("in.wav"), wave(pcm16(speech(1.0, 8000), 1), 8000, 1, 16));
    ASSERT_EQ(zefenc({"-q", path("in.wav"), path("orvo.wav")}).status, 0);
    const std::string orvo = decoded(path("orvo.wav"));

    ASSERT_EQ(zefenc({"-q", "-c", "peln", path("in.wav"), path("peln.wav")}).status, 0);
    EXPECT_NE(info(path("peln.wav")).find("codec       Peln"), std::string::npos);
    EXPECT_NE(decoded(path("peln.wav")), orvo);

    ASSERT_EQ(zefenc({"-q", "-t", "raw", path("in.wav"), path("orvo.zef")}).status, 0);
    EXPECT_EQ(slurp(path("orvo.zef")).substr(0, 4), "ZEF!");
    EXPECT_NE(info(path("orvo.zef")).find("frames      45"), std::string::npos);
    EXPECT_EQ(decoded(path("orvo.zef")), orvo);

    ASSERT_EQ(zefenc({"-q", "--compat", path("in.wav"), path("compat.wav")}).status, 0);
    EXPECT_GT(fs::file_size(path("compat.wav")), fs::file_size(path("orvo.wav")));
    EXPECT_EQ(decoded(path("compat.wav")), orvo);

    ASSERT_EQ(zefenc({"-q", "--guisette", "101", path("in.wav"), path("g101.wav")}).status, 0);
    EXPECT_NE(info(path("g101.wav")).find("\n  Guisette    101\n"), std::string::npos);
    EXPECT_EQ(info(path("orvo.wav")).find("\n  Guisette"), std::string::npos);
    EXPECT_NE(decoded(path("g101.wav")), orvo);

    expectFailure({"-q", "--guisette", "999", path("in.wav"), path("out.wav")},
                  "encoding failed\nZEFERR_GUII_UNKNOWN_GUISETTE (606)");
}

TEST_F(ZefEnc, BadUsageExitsWithTwo) {
    save(path("in.wav"), wave(pcm16(speech(0.2, 8000), 1), 8000, 1, 16));
    const std::string in = path("in.wav"), out = path("out.wav");
    const std::vector<std::vector<std::string>> cases = {
        {},
        {in},
        {in, out, out},
        {"--frobnicate", in, out},
        {"-c", "mp3", in, out},
        {"-t", "aiff", in, out},
        {"--bits", "12", in, out},
        {"--bits", "24", in, out},
        {"--rate", "0", in, out},
        {"--rate", "-8000", in, out},
        {"--rate", "fast", in, out},
        {"--guisette", "70000", in, out},  // would wrap round to another Guisette
        {in, "-"},
        {in, out, "--rate"},
    };
    for (const auto& args : cases) {
        std::string line;
        for (const auto& a : args) line += a + " ";
        SCOPED_TRACE(line);
        Result r = zefenc(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err.rfind("zefenc: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find("usage: zefenc"), std::string::npos);
        EXPECT_FALSE(fs::exists(out));
    }
    Result help = zefenc({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--guisette N"), std::string::npos);
    EXPECT_EQ(help.err, "");
}

// Input that cannot be coded is refused with a message; nothing is left
// behind and the tool never crashes.
TEST_F(ZefEnc, UnusableInputFailsCleanly) {
    const std::string out = path("out.wav");
    expectFailure({path("missing.wav"), out}, "cannot read " + path("missing.wav") + ": No such file");
    expectFailure({path(""), out}, "Is a directory");
    save(path("empty.wav"), {});
    expectFailure({path("empty.wav"), out}, "is empty");
    expectFailure({"-", out}, "standard input is empty", " </dev/null");
    save(path("silent.wav"), wave({}, 8000, 1, 16));  // a header and no samples
    expectFailure({path("silent.wav"), out}, "holds no samples");
    save(path("half.raw"), {0x12});  // not even one 16-bit sample
    expectFailure({path("half.raw"), out}, "holds no samples");

    Bytes garbage;
    uint32_t x = 99;
    for (int i = 0; i < 4000; ++i) garbage.push_back(uint8_t((x = x * 1103515245u + 12345u) >> 24));
    for (const char* tag : {"RIFF", "FORM"}) {
        Bytes b;
        put(b, tag);
        for (uint8_t v : garbage) b.push_back(v);
        save(path("garbage"), b);
        expectFailure({path("garbage"), out}, "encoding failed\nZEFERR_");
    }
    const Bytes truncated = [] {
        Bytes w = wave(pcm16(speech(0.5, 8000), 1), 8000, 1, 16);
        w.resize(30);
        return w;
    }();
    save(path("truncated.wav"), truncated);
    expectFailure({path("truncated.wav"), out}, "encoding failed\nZEFERR_");
    save(path("rate.wav"), wave(pcm16(speech(0.2, 12345), 1), 12345, 1, 16));
    expectFailure({path("rate.wav"), out}, "ZEFERR_BAD_INPUT_SAMPLING_RATE");

    // Coded speech is not PCM: the tool says so instead of coding noise.
    save(path("in.wav"), wave(pcm16(speech(0.5, 8000), 1), 8000, 1, 16));
    ASSERT_EQ(zefenc({"-q", path("in.wav"), path("coded.wav")}).status, 0);
    ASSERT_EQ(zefenc({"-q", "-t", "raw", path("in.wav"), path("coded.zef")}).status, 0);
    expectFailure({path("coded.wav"), out}, "coded speech already");
    expectFailure({path("coded.zef"), out}, "coded speech already");
}

TEST_F(ZefEnc, UnwritableOutputFails) {
    save(path("in.wav"), wave(pcm16(speech(0.5, 8000), 1), 8000, 1, 16));
    for (const std::string& out : {path("no/such/dir/out.wav"), path("in.wav/out.wav")}) {
        SCOPED_TRACE(out);
        Result r = zefenc({"-q", path("in.wav"), out});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("ZEFERR_OPENING_OUTPUT_FILE"), std::string::npos) << r.err;
    }
    if (fs::exists("/dev/full")) {  // a device that fills up: reported, and never removed
        Result r = zefenc({"-q", path("in.wav"), "/dev/full"});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("ZEFERR_WRITING_TO_FILE"), std::string::npos) << r.err;
        EXPECT_TRUE(fs::exists("/dev/full"));
    }
}
