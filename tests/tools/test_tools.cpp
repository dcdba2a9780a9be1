// zefinfo, zefdec and zefenc run as a user runs them: exit statuses,
// messages, and files that the library reads back to what it decodes itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <set>

#include <sndfile.h>
#include <soxr.h>

#include "denoise.h"
#include "guisette.h"
#include "session.h"

namespace fs = std::filesystem;
using namespace zeftest;

namespace {

constexpr size_t kFrame = 180;

std::string str(const Bytes& b) { return {b.begin(), b.end()}; }
bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

ToolRun tool(const char* name, std::vector<std::string> args, const std::string& input = {}) {
    args.insert(args.begin(), toolPath(name));
    return runTool(args, input);
}

// A 16-bit AIFF file; the rate is an 80-bit extended number (whole hertz).
Bytes aiff(const Samples& s, uint32_t rate, uint16_t channels) {
    ByteWriter comm, sound;
    int exponent = 31;
    while (!(rate >> exponent)) --exponent;
    comm.be16(channels).be32(uint32_t(s.size())).be16(16).be16(uint16_t(16383 + exponent)).be32(rate << (31 - exponent)).be32(0);
    sound.be32(0).be32(0);
    for (int16_t v : s)
        for (int c = 0; c < channels; ++c) sound.be16(uint16_t(v));
    ByteWriter body, file;
    body.id("AIFF").chunkBE("COMM", comm).chunkBE("SSND", sound);
    return file.chunkBE("FORM", body);
}

class Tools : public ::testing::Test {
protected:
    static void SetUpTestSuite() {  // started, the library knows its Guisettes
        ZEF_STARTUP startup{};
        startup.wSize = ZEF_STARTUP_SIZE;
        zefStartup(&startup);
    }
    std::string save(const std::string& name, const Bytes& b) {
        writeFile(dir.path(name), b);
        return dir.path(name);
    }
    // A successful run of zefenc; the coded file.
    Bytes encode(std::vector<std::string> args, const std::string& input = {}) {
        const ToolRun r = tool("zefenc", args, input);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out + r.err, "");
        return readFile(args.back());
    }
    std::string info(const std::string& file) {
        const ToolRun r = tool("zefinfo", {file});
        EXPECT_EQ(r.status, 0) << r.err;
        return r.out;
    }
    ScratchDir dir;
};

// Every output rate and size: the file is the library's own decode of the
// same input under a plain 44-byte WAVE header.
TEST_F(Tools, ZefdecWritesWhatTheLibraryDecodes) {
    struct Row { const char* file; uint32_t rate; uint16_t bits; } rows[] = {
        {"orvo.wav", 8000, 16}, {"orvo.wav", 11025, 8}, {"orvo_compat.wav", 22050, 16},
        {"orvo_guisette.wav", 44100, 16}, {"peln.wav", 16000, 8}, {"peln.wav", 8000, 16}};
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << row.file << " " << row.rate << " Hz " << row.bits << " bits");
        const Bytes pcm = decodeBuffer(readFile(dataFile(row.file)), Format{row.rate, uint16_t(row.bits / 8)});
        ASSERT_GT(pcm.size(), 1000u);
        const ToolRun r = tool("zefdec", {"-q", "-r", std::to_string(row.rate), "-b", std::to_string(row.bits),
                                          dataFile(row.file), dir.path("out.wav")});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out + r.err, "");
        Bytes expected = pcmWave(pcm, row.rate, row.bits);  // less the pad byte that zefdec omits
        expected.resize(44 + pcm.size());
        for (int i = 0; i < 4; ++i) expected[4 + size_t(i)] = uint8_t((36 + pcm.size()) >> (8 * i));
        EXPECT_EQ(readFile(dir.path("out.wav")), expected);
    }
    // Every container holding the same frames decodes to the same samples.
    const Bytes pcm = decodeBuffer(readFile(dataFile("orvo.wav")));
    for (const char* file : {"orvo_chunked.zef", "orvo_compact.zef", "orvo.zefp"}) {
        SCOPED_TRACE(file);
        ASSERT_EQ(tool("zefdec", {"-q", dataFile(file), dir.path("out.raw")}).status, 0);
        EXPECT_EQ(readFile(dir.path("out.raw")), pcm);
    }
}

// On standard output the header cannot be rewritten at the end: its sizes
// keep the "to the end of the stream" values, every other byte is the file's.
TEST_F(Tools, ZefdecToStandardOutput) {
    const Bytes pcm = decodeBuffer(readFile(dataFile("orvo.wav")));
    const ToolRun wave = tool("zefdec", {dataFile("orvo.wav"), "-"});
    ASSERT_EQ(wave.status, 0) << wave.err;
    EXPECT_EQ(wave.err, "") << "no progress line with the speech on standard output";
    Bytes expected = pcmWave(pcm);
    ByteWriter unknown;
    unknown.le32(0xFFFFFFF8u).le32(0xFFFFFFD4u);
    std::copy(unknown.begin(), unknown.begin() + 4, expected.begin() + 4);
    std::copy(unknown.begin() + 4, unknown.end(), expected.begin() + 40);
    EXPECT_EQ(wave.out, str(expected));
    const ToolRun raw = tool("zefdec", {"-t", "raw", dataFile("orvo.wav"), "-"});
    EXPECT_EQ(raw.out, str(pcm));
}

TEST_F(Tools, ZefdecAndZefinfoReportErrorsWithTheLibrarysText) {
    const ToolRun warp = tool("zefdec", {"-w", "6.0", dataFile("orvo.wav"), dir.path("out.wav")});
    EXPECT_NE(warp.status, 0);
    EXPECT_TRUE(has(warp.err, "ZEFERR_WARP_2_BIG (119)")) << warp.err;
    const ToolRun missing = tool("zefdec", {dataFile("no_such_file.wav"), dir.path("out.wav")});
    EXPECT_NE(missing.status, 0);
    EXPECT_TRUE(has(missing.err, "no_such_file.wav")) << missing.err;
    EXPECT_FALSE(fs::exists(dir.path("out.wav")));
    // One bad file among good ones fails the run but not the others.
    const ToolRun some = tool("zefinfo", {dataFile("orvo.wav"), dataFile("bad/rifx.wav"), dataFile("no-such.wav"), dataFile("tone8.aifc")});
    EXPECT_EQ(some.status, 1);
    EXPECT_TRUE(has(some.out, "orvo.wav:") && has(some.out, "tone8.aifc:")) << some.out;
    EXPECT_TRUE(has(some.err, "rifx.wav: error 303") && has(some.err, "no-such.wav: error 226")) << some.err;
}

// Every malformed sample file is refused by every tool with one of the
// library's messages, a failing status and no output file left behind.
TEST_F(Tools, MalformedFilesAreRefusedByEveryTool) {
    size_t files = 0;
    for (const auto& e : fs::directory_iterator(fs::path(ZEF_TEST_DATA_DIR) / "bad")) {
        const std::string bad = e.path().string(), out = dir.path("out.wav");
        SCOPED_TRACE(bad);
        const ToolRun info = tool("zefinfo", {bad});
        EXPECT_EQ(info.status, 1);
        EXPECT_EQ(info.out, "");
        EXPECT_EQ(info.err.rfind(bad + ": error ", 0), 0u) << info.err;
        EXPECT_TRUE(has(info.err, "ZEFERR_")) << info.err;
        const ToolRun dec = tool("zefdec", {"-q", bad, out});
        EXPECT_EQ(dec.status, 1);
        EXPECT_TRUE(has(dec.err, "decoding failed\nZEFERR_")) << dec.err;
        // zefenc says what is wrong with the file in one line of its own.
        const ToolRun enc = tool("zefenc", {"-q", bad, out});
        EXPECT_EQ(enc.status, 1);
        EXPECT_EQ(enc.err.rfind("zefenc: " + bad + ": ", 0), 0u) << enc.err;
        EXPECT_EQ(std::count(enc.err.begin(), enc.err.end(), '\n'), 1) << enc.err;
        const ToolRun denoised = tool("zefenc", {"-q", "--denoise", bad, out});
        EXPECT_EQ(denoised.status, 1);
        EXPECT_EQ(denoised.err, enc.err);
        EXPECT_FALSE(fs::exists(out));
        ++files;
    }
    EXPECT_GT(files, 20u);
}

TEST_F(Tools, ZefinfoDescribesEverySampleFile) {
    const std::vector<std::pair<const char*, std::vector<std::string>>> rows = {
        {"orvo_guisette.wav", {"codec       Orvo (ZEFa), 54 bits per frame", "frames      89\n",
                               "length      16020 samples, 2.002 s", "bit rate    2400 bit/s", "Guisette    201"}},
        {"peln.wav", {"codec       PelnHQ (ZEFg), 67 bits per frame"}},
        {"orvo_compact.zef", {"compact header (ZEFh)", "length      89 frames", "header      180.5 140.25 250.75"}},
        {"pcm16_mono.wav", {"sampling    8000 Hz, 2 bytes per sample, 1 channel\n", "INFO INAM   Test tone",
                            "marker 2    sample 6000, byte 6000, \"middle\""}},
        {"tone16.aiff", {"marker 1    sample 1000, byte 1000, \"one\""}},
    };
    for (const auto& [file, lines] : rows)
        for (const auto& line : lines) EXPECT_TRUE(has(info(dataFile(file)), line)) << file << ": " << line;
    for (const auto& e : fs::directory_iterator(ZEF_TEST_DATA_DIR)) {
        if (!e.is_regular_file() || e.path().filename() == "README") continue;
        const ToolRun r = tool("zefinfo", {"--", e.path().string()});
        EXPECT_EQ(r.status, 0) << e.path() << r.err;
        EXPECT_TRUE(has(r.out, e.path().string() + ":\n") && has(r.out, " Hz")) << r.out;
    }
}

TEST_F(Tools, ZefinfoListsEveryGuisetteWithItsEffect) {
    const ToolRun r = tool("zefinfo", {"--guisettes"});
    EXPECT_EQ(r.status, 0);
    std::istringstream lines(r.out);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line.rfind("number", 0), 0u) << line;
    for (const zef::GuisetteRecord& g : zef::gBuiltInGuisettes) {
        ASSERT_TRUE(std::getline(lines, line));
        EXPECT_EQ(std::stoul(line), g.guisetteId) << line;
        EXPECT_TRUE(has(line, g.pcmEffect ? "  " + std::to_string(g.pcmEffect) + " " : "  none ")) << line;
        EXPECT_TRUE(has(line, g.presetName) && has(line, g.description)) << line;
    }
    EXPECT_FALSE(std::getline(lines, line));
}

TEST_F(Tools, UsageVersionAndHelp) {
    const std::string in = save("in.wav", pcmWave(speechLike(1600))), out = dir.path("out.wav");
    struct Row { const char* tool; std::vector<std::string> args; int status; const char* text; } rows[] = {
        {"zefinfo", {"--version"}, 0, "1.1.6.87 (Debug)"}, {"zefinfo", {"--help"}, 0, "usage: zefinfo [--] FILE..."},
        {"zefinfo", {}, 2, ""}, {"zefinfo", {"--frobnicate"}, 2, "unknown option --frobnicate"},
        {"zefenc", {"--help"}, 0, "--guisette N"}, {"zefenc", {}, 2, "usage: zefenc"},
        {"zefenc", {in}, 2, "usage: zefenc"}, {"zefenc", {in, out, out}, 2, "usage: zefenc"},
        {"zefenc", {"--frobnicate", in, out}, 2, "usage: zefenc"}, {"zefenc", {"-c", "mp3", in, out}, 2, "usage: zefenc"},
        {"zefenc", {"-t", "aiff", in, out}, 2, "usage: zefenc"}, {"zefenc", {"--bits", "12", in, out}, 2, "--bits takes 8 or 16"},
        {"zefenc", {"--bits", "24", in, out}, 2, "--bits takes 8 or 16"}, {"zefenc", {"--rate", "0", in, out}, 2, "--rate takes"},
        {"zefenc", {"--rate", "-8000", in, out}, 2, "--rate takes"}, {"zefenc", {"--rate", "fast", in, out}, 2, "--rate takes"},
        {"zefenc", {"--guisette", "70000", in, out}, 2, "--guisette takes"},  // would wrap round to another
        {"zefenc", {in, "-"}, 2, "usage: zefenc"}, {"zefenc", {in, out, "--rate"}, 2, "usage: zefenc"},
    };
    for (const Row& row : rows) {
        std::string line = row.tool;
        for (const auto& a : row.args) line += " " + a;
        SCOPED_TRACE(line);
        const ToolRun r = tool(row.tool, row.args);
        EXPECT_EQ(r.status, row.status);
        EXPECT_TRUE(has((row.status ? r.err : r.out), row.text)) << r.out << r.err;
        EXPECT_TRUE(!row.status || row.tool[3] == 'i' || r.err.rfind("zefenc: ", 0) == 0) << r.err;
        EXPECT_FALSE(fs::exists(out));
    }
}

// 8000 Hz speech in: the header gives the input's length, the frames decode
// to it in whole frames at about its level, progress goes to standard error
// only and changes nothing in the file.
TEST_F(Tools, ZefencCodesSpeechThatTheLibraryDecodes) {
    const Samples s = speechLike(20000);
    const std::string in = save("in.wav", pcmWave(s)), out = dir.path("out.wav");
    const ToolRun loud = tool("zefenc", {in, out});
    ASSERT_EQ(loud.status, 0) << loud.err;
    EXPECT_EQ(loud.out, "");
    EXPECT_TRUE(has(loud.err, "\rzefenc: 2 s\n")) << loud.err;
    const Bytes coded = readFile(out);
    EXPECT_TRUE(has(info(out), "Orvo") && has(info(out), "length      20000 samples")) << info(out);
    const Samples decoded = samples16(decodeBuffer(coded));
    EXPECT_EQ(decoded.size(), (s.size() + kFrame - 1) / kFrame * kFrame);
    EXPECT_NEAR(rmsDb(decoded), rmsDb(s), 4.0);
    EXPECT_EQ(encode({"-q", in, out}), coded);
    ASSERT_EQ(tool("zefdec", {"-q", out, dir.path("dec.raw")}).status, 0);
    EXPECT_EQ(samples16(readFile(dir.path("dec.raw"))), decoded);
}

// The same samples with a header, as raw PCM described on the command line,
// or on standard input code to the same bytes; 8-bit samples are unsigned.
TEST_F(Tools, ZefencReadsEveryInputFormToTheSameFile) {
    const Samples s = speechLike(9600);
    const Bytes raw16 = bytes16(s);
    Bytes raw8;
    for (int16_t v : s) raw8.push_back(uint8_t((v >> 8) + 128));
    const Bytes coded = encode({"-q", save("in.wav", pcmWave(s)), dir.path("wave.wav")});
    const Bytes coded8 = encode({"-q", save("in8.wav", pcmWave(raw8, 8000, 8)), dir.path("wave8.wav")});
    const std::string in = save("in.raw", raw16), in8 = save("in8.raw", raw8);
    EXPECT_EQ(encode({"-q", "--rate", "8000", "--bits", "16", in, dir.path("a.wav")}), coded);
    EXPECT_EQ(encode({"-q", in, dir.path("b.wav")}), coded);
    EXPECT_EQ(encode({"-q", "-", dir.path("c.wav")}, str(pcmWave(s))), coded);
    EXPECT_EQ(encode({"-q", "--bits", "16", "-", dir.path("d.wav")}, str(raw16)), coded);
    EXPECT_EQ(encode({"-q", "--bits", "8", in8, dir.path("e.wav")}), coded8);
}

// Other rates, stereo and AIFF come down to 8000 Hz mono: one second of
// input is 8000 samples, 45 whole frames.
TEST_F(Tools, ZefencBringsOtherRatesAndStereoToOneChannelAt8000) {
    struct Row { uint32_t rate; uint16_t channels; bool isAiff; } rows[] = {
        {16000, 1, false}, {44100, 2, false}, {44100, 2, true}, {16000, 1, true}, {8000, 1, true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << row.rate << " Hz, " << row.channels << (row.isAiff ? " AIFF" : " WAVE"));
        const Samples s = vowel(row.rate, 120, 12000, row.rate);
        Samples both;
        for (int16_t v : s) both.insert(both.end(), row.channels, v);
        const Bytes file = row.isAiff ? aiff(s, row.rate, row.channels) : pcmWave(bytes16(both), row.rate, 16, row.channels);
        const Bytes coded = encode({"-q", save("in", file), dir.path("out.wav")});
        const std::string text = info(dir.path("out.wav"));
        EXPECT_TRUE(has(text, "8000 Hz, 2 bytes per sample, 1 channel")) << text;
        EXPECT_TRUE(has(text, "length      8000 samples") || has(text, "length      7999 samples")) << text;
        const Samples decoded = samples16(decodeBuffer(coded));
        EXPECT_EQ(decoded.size(), 45 * kFrame);
        EXPECT_NEAR(measuredPeriod(decoded, 2000, 3000), 8000.0 / 120, 2.0);
    }
}

// Codec, container, compatibility block and Guisette: each choice shows in
// the file, and the containers carry the same coded frames.
TEST_F(Tools, ZefencChoicesShowInTheFile) {
    const std::string in = save("in.wav", pcmWave(speechLike(8000)));
    const Bytes pcm = decodeBuffer(encode({"-q", in, dir.path("orvo.wav")}));
    const Bytes peln = encode({"-q", "-c", "peln", in, dir.path("peln.wav")});
    EXPECT_TRUE(has(info(dir.path("peln.wav")), "codec       Peln"));
    EXPECT_NE(decodeBuffer(peln), pcm);
    EXPECT_EQ(str(encode({"-q", "-t", "raw", in, dir.path("orvo.zef")})).substr(0, 4), "ZEF!");
    EXPECT_TRUE(has(info(dir.path("orvo.zef")), "frames      45"));
    ASSERT_EQ(tool("zefdec", {"-q", dir.path("orvo.zef"), dir.path("zef.raw")}).status, 0);
    EXPECT_EQ(readFile(dir.path("zef.raw")), pcm);
    const Bytes compat = encode({"-q", "--compat", in, dir.path("compat.wav")});
    EXPECT_GT(compat.size(), readFile(dir.path("orvo.wav")).size());
    EXPECT_EQ(decodeBuffer(compat), pcm);
    const Bytes guisette = encode({"-q", "--guisette", "101", in, dir.path("g101.wav")});
    EXPECT_TRUE(has(info(dir.path("g101.wav")), "\n  Guisette    101\n"));
    EXPECT_FALSE(has(info(dir.path("orvo.wav")), "\n  Guisette"));
    EXPECT_NE(decodeBuffer(guisette), pcm);
}

// Input that cannot be coded and output that cannot be written: status 1,
// a message naming the problem, no file left behind, never a crash.
TEST_F(Tools, ZefencRefusesWhatItCannotCode) {
    const std::string in = save("in.wav", pcmWave(speechLike(4000))), out = dir.path("out.wav");
    encode({"-q", in, dir.path("coded.wav")});
    encode({"-q", "-t", "raw", in, dir.path("coded.zef")});
    Bytes garbage{'R', 'I', 'F', 'F'};
    for (uint32_t i = 0, x = 99; i < 4000; ++i) garbage.push_back(uint8_t((x = x * 1103515245u + 12345u) >> 24));
    Bytes form = garbage;
    std::copy_n("FORM", 4, form.begin());
    Bytes truncated = pcmWave(speechLike(4000));
    truncated.resize(30);
    struct Row { std::vector<std::string> args; std::string input, text; } rows[] = {
        {{dir.path("missing.wav"), out}, "", dir.path("missing.wav") + ": no such file"},
        {{dir.dir(), out}, "", "is a directory"},
        {{save("empty.wav", {}), out}, "", "is empty"},
        {{"-", out}, "", "standard input: is empty"},
        {{save("silent.wav", pcmWave(Samples{})), out}, "", "holds no samples"},
        {{save("half.raw", {0x12}), out}, "", "holds no samples"},
        {{save("riff", garbage), out}, "", "riff: not "},
        {{save("form", form), out}, "", "form: not "},
        {{save("truncated.wav", truncated), out}, "", "truncated.wav: not sound libsndfile can read"},
        {{save("song.xyz", Bytes(3000, 'x')), out}, "", "song.xyz: not an audio file libsndfile knows"},
        {{save("slow.wav", pcmWave(speechLike(2000), 500)), out}, "", "its rate of 500 Hz is not one"},
        {{"--guisette", "999", in, out}, "", "encoding failed\nZEFERR_GUII_UNKNOWN_GUISETTE (606)"},
        {{dir.path("coded.wav"), out}, "", "coded speech already"},
        {{dir.path("coded.zef"), out}, "", "coded speech already"},
        {{in, dir.path("no/such/dir/out.wav")}, "", "ZEFERR_OPENING_OUTPUT_FILE"},
        {{in, in + "/out.wav"}, "", "ZEFERR_OPENING_OUTPUT_FILE"},
        {{in, "/dev/full"}, "", "ZEFERR_WRITING_TO_FILE"},  // a device that fills up, never removed
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args.front() + " " + row.text);
        std::vector<std::string> args{"-q"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        const ToolRun r = tool("zefenc", args, row.input);
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(has(r.err, row.text)) << r.err;
        EXPECT_FALSE(fs::exists(out));
    }
    EXPECT_TRUE(fs::exists("/dev/full"));
}

// Every writer (zefenc and zefdec through the library's file output, zefplay
// through the audio layer's file device) against outputs that must not be
// lost: the input under another spelling, a write-protected file, a full
// device, a kill half-way.  Afterwards the input and any existing target hold
// their bytes and no partial file is left in the folder.
TEST_F(Tools, NoWriterLosesAFile) {
    fs::create_directories(dir.path("sub"));
    const Bytes pcm = pcmWave(speechLike(8000)), coded = readFile(dataFile("orvo.wav")), old = {'o', 'l', 'd'};
    enum Target { Same, DotDot, HardLink, SymLink, ReadOnly, Full, Killed };
    struct Row { const char* name; Target target; const char* says; } rows[] = {
        {"same name", Same, "the output is the input"},        {"./.. spelling", DotDot, "the output is the input"},
        {"hard link", HardLink, "the output is the input"},    {"symbolic link", SymLink, "the output is the input"},
        {"read-only target", ReadOnly, "permission denied"}, {"full device", Full, "no space left on device"},
        {"killed mid-write", Killed, ""}};
    for (const char* writer : {"zefenc", "zefdec", "zefplay"}) {
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(writer) + ", " + row.name);
            const std::string w = writer;
            const Bytes input = w == "zefenc" ? pcm : coded;
            const std::string in = save("in.wav", input), target = dir.path("target.wav");
            std::string out = target, source = in;
            switch (row.target) {
            case Same: out = in; break;
            case DotDot: out = dir.path("sub/../././in.wav"); break;
            case HardLink: fs::create_hard_link(in, target); break;
            case SymLink: fs::create_symlink(in, target); break;
            case ReadOnly: writeFile(target, old); fs::permissions(target, fs::perms::owner_read); break;
            case Full: out = "/dev/full"; break;
            case Killed: writeFile(target, old); if (w == "zefenc") source = "/dev/zero"; break;
            }
            if (row.target == Killed && w == "zefdec") continue;  // same file layer as zefenc's
            std::set<std::string> before;
            for (const auto& e : fs::directory_iterator(dir.dir())) before.insert(e.path().filename());
            std::vector<std::string> args{toolPath(writer), "-q", source};
            if (source == "/dev/zero") args.insert(args.begin() + 2, {"--rate", "8000"});  // raw samples, streamed
            std::map<std::string, std::string> env;
            if (w == "zefplay") env["ZEFAUDIO"] = "file:" + out + (row.target == Killed ? "" : ",speed=200");
            else args.push_back(out);
            if (row.target == Killed)  // and within 300 MB: the input streams, it is not held whole
                args.insert(args.begin(), {"/bin/sh", "-c", "ulimit -v 300000; exec \"$0\" \"$@\""});
            const ToolRun r = runTool(args, "", env, row.target == Killed ? 1000 : 60000);
            EXPECT_EQ(r.status, row.target == Killed ? -1 : 1) << r.err;
            if (row.target == Killed) { EXPECT_EQ(r.err, ""); }
            EXPECT_TRUE(has(r.err, row.says)) << r.err;
            EXPECT_EQ(readFile(in), input);
            if (row.target == ReadOnly || row.target == Killed) { EXPECT_EQ(readFile(target), old); }
            std::set<std::string> after;
            for (const auto& e : fs::directory_iterator(dir.dir())) after.insert(e.path().filename());
            EXPECT_EQ(after, before);
            fs::remove(target);
        }
    }
}

// Each failure ends with one line of the tool's own in plain words naming the
// file; control characters from a file never reach the terminal.
TEST_F(Tools, FailuresAreSaidInPlainWords) {
    const Bytes speech = pcmWave(speechLike(4000));
    Bytes floatWave = speech, noChannels = speech;
    floatWave[20] = 3;
    noChannels[22] = 0;
    Bytes escape = readFile(dataFile("orvo.wav"));
    const std::string codec = "ZEFa";  // the codec's identifier, which the message quotes
    std::copy_n("\x1b[2J", 4, std::search(escape.begin(), escape.end(), codec.begin(), codec.end()));
    struct Row { const char* tool; std::vector<std::string> args; std::string line; } rows[] = {
        {"zefdec", {save("empty.wav", {}), dir.path("o.wav")}, "empty.wav: the file is empty or ends before its data"},
        {"zefdec", {save("text.wav", Bytes(100, 'x')), dir.path("o.wav")}, "text.wav: not a Zef file"},
        {"zefdec", {dataFile("orvo.wav"), "/dev/full"}, "zefdec: /dev/full: no space left on device"},
        {"zefdec", {dataFile("orvo.wav"), dir.dir()}, ": is a directory"},
        {"zefenc", {save("float.wav", floatWave), dir.path("o.wav")}, "float.wav: not sound libsndfile can read ("},
        {"zefenc", {save("song.xyz", Bytes(300, 'x')), dir.path("o.wav")}, "song.xyz: not an audio file libsndfile knows"},
        {"zefenc", {save("none.wav", noChannels), dir.path("o.wav")}, "none.wav: not sound libsndfile can read (channel count is zero)"},
        {"zefenc", {save("in.wav", speech), dir.path("no/dir/o.wav")}, "o.wav: no such file or directory"},
        {"zefenc", {"/dev/zero", dir.path("z.zef")}, "/dev/zero: not an audio file libsndfile knows"},  // at once
        {"zefinfo", {save("esc.wav", escape)}, "[\\e[2J].\nYou might not have a needed codec"},
        {"zefdec", {dir.path("esc.wav"), dir.path("o.wav")}, "esc.wav: coded with a codec this library does not have"},
        {"zefplay", {dataFile("orvo.wav")}, "zefplay: the audio device: invalid argument"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        std::vector<std::string> args{toolPath(row.tool), "-q"};
        if (std::string(row.tool) == "zefinfo") args.pop_back();
        args.insert(args.end(), row.args.begin(), row.args.end());
        const ToolRun r = runTool(args, "", {{"ZEFAUDIO", "bogus"}});
        EXPECT_NE(r.status, 0);
        EXPECT_TRUE(has(r.err, row.line)) << r.err;
        EXPECT_FALSE(has(r.out + r.err, "\x1b")) << r.err;
        EXPECT_EQ(r.err.find("unknown audio device"), r.err.rfind("unknown audio device")) << "said once";
    }
}

// ---- other formats, rates and channel counts; batches; recording ------------

// The same speech at any rate: 8000 Hz speech-like sound, converted.
Samples speechAt(uint32_t rate) {
    const Samples s = speechLike(32000);
    if (rate == 8000) return s;
    std::vector<float> in(s.begin(), s.end()), out(s.size() * rate / 8000 + 100);
    size_t made = 0;
    soxr_quality_spec_t q = soxr_quality_spec(SOXR_VHQ, 0);
    q.passband_end = 0.99;  // the whole band to 3.96 kHz: the same speech, not a duller copy
    EXPECT_EQ(soxr_oneshot(8000, rate, 1, in.data(), in.size(), nullptr, out.data(), out.size(), &made, nullptr, &q, nullptr),
              nullptr);
    return Samples(out.begin(), out.begin() + long(made));
}

// A file libsndfile writes; stereo as a louder left and a softer right channel.
void writeSound(const std::string& path, int format, const Samples& s, uint32_t rate, int channels) {
    SF_INFO info{};
    info.samplerate = int(rate);
    info.channels = channels;
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    std::vector<float> x;
    for (int16_t v : s)
        for (int c = 0; c < channels; ++c) x.push_back(float(v) / 32768.0f * (channels == 1 ? 1.0f : c ? 0.8f : 1.2f));
    EXPECT_EQ(sf_writef_float(f, x.data(), sf_count_t(s.size())), sf_count_t(s.size()));
    sf_close(f);
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// Every format, rate and channel count codes the speech as well as 8000 Hz
// 16-bit mono does: its log-spectral distance from the speech no more than
// 0.2 dB above that case's (a resampled copy differs in its last bits: under
// 0.1 dB; a converter that cuts the band at 3.6 kHz costs 0.35 dB, as the
// encoder follows the missing top band; a wrong rate, channel mix or
// clipping moves it by several dB).  zefdec writes any rate and format: what it
// writes at 48000 Hz, brought back to 8000 Hz, is what it decodes at 8000.
TEST_F(Tools, AnyFormatRateAndChannelCountCodesTheSameSpeech) {
    auto decoded = [&](const std::string& coded) {
        EXPECT_EQ(tool("zefdec", {"-q", coded, dir.path("dec.raw")}).status, 0);
        return samples16(readFile(dir.path("dec.raw")));
    };
    const Samples speech = speechAt(8000);
    encode({"-q", save("ref.wav", pcmWave(speech)), dir.path("ref.zef")});
    const Samples reference = decoded(dir.path("ref.zef"));
    const long lag = bestLag(speech, reference);
    const double lsd = logSpectralDistance(speech, reference, lag);
    struct Kind { const char* name; int format; } kinds[] = {
        {"float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT}, {"in.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
        {"in.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS}};
    for (const Kind& kind : kinds)
        for (uint32_t rate : {8000u, 16000u, 44100u, 48000u})
            for (int channels : {1, 2}) {
                SCOPED_TRACE(::testing::Message() << kind.name << " " << rate << " Hz " << channels << " ch");
                writeSound(dir.path(kind.name), kind.format, speechAt(rate), rate, channels);
                encode({"-q", dir.path(kind.name), dir.path("out.zef")});
                EXPECT_LT(logSpectralDistance(speech, decoded(dir.path("out.zef")), lag), lsd + 0.2);
            }
    for (const char* out : {"back.flac", "back.wav", "back.opus", "back.mp3"}) {
        SCOPED_TRACE(out);
        const ToolRun r = tool("zefdec", {"-q", "-r", "48000", dir.path("ref.zef"), dir.path(out)});
        ASSERT_EQ(r.status, 0) << r.err;
        SF_INFO info{};
        SNDFILE* f = sf_open(dir.path(out).c_str(), SFM_READ, &info);
        ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
        std::vector<float> back(size_t(info.frames)), at8k(back.size() / 6 + 100);
        back.resize(size_t(sf_readf_float(f, back.data(), info.frames)));
        sf_close(f);
        EXPECT_EQ(info.samplerate, 48000);
        size_t made = 0;
        soxr_oneshot(48000, 8000, 1, back.data(), back.size(), nullptr, at8k.data(), at8k.size(), &made, nullptr, nullptr, nullptr);
        Samples again;
        for (size_t i = 0; i < made; ++i) again.push_back(int16_t(std::lround(std::clamp(at8k[i] * 32768.0f, -32768.0f, 32767.0f))));
        const bool lossless = std::string(out) == "back.flac" || std::string(out) == "back.wav";
        if (lossless) { EXPECT_EQ(again.size(), reference.size()); }
        if (lossless) { EXPECT_GT(snr(reference, again), 15.0); }  // all but the edge of the band
        EXPECT_NEAR(rmsDb(again), rmsDb(reference), 1.0);
    }
    // A lossless format holds exactly the samples the library decodes.
    ASSERT_EQ(tool("zefdec", {"-q", dir.path("ref.zef"), dir.path("same.flac")}).status, 0);
    SF_INFO info{};
    SNDFILE* f = sf_open(dir.path("same.flac").c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr);
    Samples flac(size_t(info.frames));
    flac.resize(size_t(sf_read_short(f, flac.data(), info.frames)));
    sf_close(f);
    EXPECT_EQ(flac, reference);
    const ToolRun opus = tool("zefdec", {"-q", "-r", "44100", dir.path("ref.zef"), dir.path("x.opus")});
    EXPECT_EQ(opus.status, 1);
    EXPECT_TRUE(has(opus.err, "x.opus: libsndfile cannot write opus at 44100 Hz")) << opus.err;
    EXPECT_FALSE(fs::exists(dir.path("x.opus")));
}

// A batch: the good files converted, one line per failed file naming it, a
// summary and status 1; the same outputs in parallel, serially and through
// GNU parallel; never an input overwritten; a killed batch leaves nothing.
TEST_F(Tools, BatchesConvertWhatTheyCanAndSayWhatTheyCannot) {
    fs::create_directories(dir.path("in/sub"));
    fs::create_directories(dir.path("in/folder.wav"));
    const std::string a = save("in/a.wav", pcmWave(speechLike(8000))), c = save("in/c.wav", pcmWave(speechLike(4000, 3)));
    const std::string b = dir.path("in/sub/b.flac"), bad = save("in/bad.wav", Bytes(100, 'x'));
    writeSound(b, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, speechAt(16000), 16000, 2);
    const ToolRun r = tool("zefenc", {"-q", "-j", "2", "-o", dir.path("enc"), a, b, c, bad, dir.path("in/gone.wav"),
                                      dir.path("in/folder.wav")});
    EXPECT_EQ(r.status, 1);
    const std::vector<std::string> err = lines(r.err);
    ASSERT_EQ(err.size(), 4u) << r.err;
    for (const char* name : {"bad.wav: not an audio file", "gone.wav: no such file", "folder.wav: is a directory"})
        EXPECT_EQ(std::count_if(err.begin(), err.end(), [&](const std::string& l) { return has(l, name); }), 1) << name;
    EXPECT_EQ(err.back(), "zefenc: 3 of 6 files failed");
    std::set<std::string> made;
    for (const auto& e : fs::recursive_directory_iterator(dir.path("enc"))) made.insert(e.path().filename());
    EXPECT_EQ(made, (std::set<std::string>{"a.zef", "b.zef", "c.zef"}));

    // Directories recursively; decoding serially, in parallel, through GNU parallel.
    EXPECT_EQ(tool("zefenc", {"-q", "-R", "-o", dir.path("tree"), dir.path("in")}).status, 1);  // bad.wav
    EXPECT_TRUE(fs::exists(dir.path("tree/sub/b.zef")) && fs::exists(dir.path("tree/a.zef")));
    std::vector<std::string> coded;
    for (const char* n : {"a", "b", "c"}) coded.push_back(dir.path(std::string("enc/") + n + ".zef"));
    auto decodeAll = [&](const std::string& out, std::vector<std::string> args) {
        args.push_back(dir.path(out));
        args.insert(args.end(), coded.begin(), coded.end());
        const ToolRun run = tool("zefdec", args);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
    };
    decodeAll("serial", {"-q", "-j", "1", "-t", "flac", "-o"});
    decodeAll("parallel", {"-q", "-j", "3", "-t", "flac", "-o"});
    fs::create_directories(dir.path("gnu"));
    std::vector<std::string> gnu{"parallel", "-j2", toolPath("zefdec"), "-q", "{}", dir.path("gnu") + "/{/.}.flac", ":::"};
    gnu.insert(gnu.end(), coded.begin(), coded.end());
    const bool haveParallel = fs::exists("/usr/bin/parallel");
    if (haveParallel) { EXPECT_EQ(runTool(gnu).status, 0); }
    for (const char* n : {"a.flac", "b.flac", "c.flac"}) {
        const Bytes serial = readFile(dir.path("serial/") + n);
        EXPECT_GT(serial.size(), 1000u);
        EXPECT_EQ(readFile(dir.path("parallel/") + n), serial) << n;
        if (haveParallel) { EXPECT_EQ(readFile(dir.path("gnu/") + n), serial) << n; }
    }

    // An output that would be one of the inputs is refused, the input kept.
    fs::copy_file(coded[0], dir.path("in/a.zef"));
    const Bytes zefWave = readFile(coded[1]);
    const std::string inputWave = save("in/b.wav", zefWave);
    const ToolRun over = tool("zefdec", {"-q", "-o", dir.path("in"), dir.path("in/a.zef"), inputWave});
    EXPECT_EQ(over.status, 1);
    EXPECT_TRUE(has(over.err, "b.wav: its output " + inputWave + " is one of the inputs")) << over.err;
    EXPECT_EQ(readFile(inputWave), zefWave);

    // Killed half-way through an endless input: no file appears.
    const ToolRun killed = runTool({toolPath("zefenc"), "--rate", "8000", "-o", dir.path("killed"), "/dev/zero"}, "", {}, 1500);
    EXPECT_EQ(killed.status, -1);
    usleep(200000);
    EXPECT_TRUE(fs::is_empty(dir.path("killed")));
}

// zefrec records the device's source into a valid file: for -d seconds, to
// the source's end, or until Ctrl-C; codec, Guisette and gain as asked.
TEST_F(Tools, ZefrecRecordsTheDeviceIntoAZefFile) {
    const Samples s = speechLike(24000);
    const std::string source = save("speech.wav", pcmWave(s)), out = dir.path("rec.zef");
    const std::map<std::string, std::string> fast{{"ZEFAUDIO_IN", "file:" + source + ",speed=20"}};
    struct Row { std::vector<std::string> args; const char* shows; double levelDb; } rows[] = {
        {{"-d", "1"}, "length      8000 samples", rmsDb(s)},
        {{"-c", "peln", "--guisette", "101", "-d", "1"}, "Guisette    101", 99},
        {{}, "length      24000 samples", rmsDb(s)},
        {{"-g", "0", "-d", "1"}, "length      8000 samples", -90},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.shows);
        std::vector<std::string> args{toolPath("zefrec")};
        args.insert(args.end(), row.args.begin(), row.args.end());
        args.push_back(out);
        const ToolRun r = runTool(args, "", fast);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(has(info(out), row.shows)) << info(out);
        const double level = rmsDb(samples16(decodeBuffer(readFile(out))));
        if (row.levelDb == 99) { EXPECT_TRUE(has(info(out), "codec       Peln")); }
        else if (row.levelDb > -90) { EXPECT_NEAR(level, row.levelDb, 4.0); }
        else { EXPECT_LT(level, -60.0); }
    }
    const ToolRun stopped = runTool({"/bin/sh", "-c", "\"$0\" \"$1\" & sleep 0.6; kill -INT $!; wait $!", toolPath("zefrec"), out},
                                    "", {{"ZEFAUDIO_IN", "file:" + source}});
    EXPECT_EQ(stopped.status, 0) << stopped.err;
    const Samples got = samples16(decodeBuffer(readFile(out)));
    EXPECT_GT(got.size(), 1800u);
    EXPECT_LT(got.size(), 20000u);
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{{"-g", "300", out}, {"-"}, {}})  {
        std::vector<std::string> args{toolPath("zefrec")};
        args.insert(args.end(), bad.begin(), bad.end());
        EXPECT_EQ(runTool(args).status, 2);
    }
}

}  // namespace

// ---- noise suppression --------------------------------------------------------

namespace {

// A vowel 0.4 s on, 0.4 s off, at 8000 Hz; and the RMS level in dB of what
// lies well inside the vowels (on) or the pauses (off), from `from` on.
constexpr size_t kBurst = 3200;
Samples bursts(size_t n, double peak = 8000) {
    Samples s = vowel(n, 120, peak);
    for (size_t i = 0; i < n; ++i)
        if (i / kBurst % 2) s[i] = 0;
    return s;
}
double burstLevel(const Samples& x, bool on, size_t from = 0) {
    Samples part;
    for (size_t i = from; i < x.size(); ++i) {
        const size_t at = i % kBurst;
        if ((i / kBurst % 2 == 0) == on && at > 400 && at < kBurst - 400) part.push_back(x[i]);
    }
    return rmsDb(part);
}
Samples mixed(const Samples& a, const Samples& b) {
    Samples s(a.size());
    for (size_t i = 0; i < a.size(); ++i) s[i] = int16_t(std::clamp(a[i] + b[i], -32768, 32767));
    return s;
}

// Everything the suppressor gives for `in` at `rate`, read `piece` at a time
// from a source that gives at most 61 samples a call, as a pipe may.
Samples denoised(const Samples& in, uint32_t rate, size_t piece = 97, long failAt = -1) {
    size_t at = 0;
    zeftool::Denoiser d(rate, [&](int16_t* to, size_t n) -> long {
        if (failAt >= 0 && at >= size_t(failAt)) return -1;
        n = std::min({n, in.size() - at, size_t(61)});
        std::copy_n(in.begin() + long(at), n, to);
        at += n;
        return long(n);
    });
    EXPECT_TRUE(d.ok());
    Samples out;
    Samples buffer(piece);
    for (long got; (got = d.read(buffer.data(), piece)) != 0;) {
        if (got < 0) return Samples{-1};
        out.insert(out.end(), buffer.begin(), buffer.begin() + got);
    }
    EXPECT_EQ(d.read(buffer.data(), piece), 0) << "the end stays the end";
    return out;
}

}  // namespace

// The suppressor gives as many samples as it is given, at every rate the
// library takes and any length, in their place; a clean recording comes
// through sample for sample, as do one with its own hiss 28 dB under the
// speech, a steady noise with no speech over it, and the rest of a
// recording whose noise stops;
// in a steady noise the pauses drop by far more than the speech; a read
// error is passed on.
TEST(Denoise, LowersSteadyNoiseAndKeepsLengthPlaceAndLevel) {
    for (uint32_t rate : {8000u, 11025u, 22254u, 44100u})
        for (size_t n : {size_t(0), size_t(1), size_t(159), size_t(161), size_t(rate * 3 + 7)}) {
            SCOPED_TRACE(::testing::Message() << rate << " Hz, " << n << " samples");
            const Samples in = mixed(vowel(n, 120, 8000, rate), noise(n, 1000, 5));
            EXPECT_EQ(denoised(in, rate, n % 2 ? 97 : 4096).size(), n);
        }
    const Samples clean = speechLike(24000), hissy = mixed(bursts(40000), noise(40000, 200, 7)),
                  noiseAlone = noise(40000, 700, 3);
    EXPECT_EQ(denoised(clean, 8000), clean);
    EXPECT_EQ(denoised(hissy, 8000), hissy);
    EXPECT_EQ(denoised(noiseAlone, 8000), noiseAlone);

    for (double peak : {8000.0, 60.0}) {  // and at -55 dBFS, where speexdsp alone takes the speech too
        SCOPED_TRACE(peak);
        const Samples speech = bursts(40000, peak), noisy = mixed(speech, noise(speech.size(), peak * 0.0875, 7));
        const Samples out = denoised(noisy, 8000);
        ASSERT_EQ(out.size(), noisy.size());
        EXPECT_EQ(bestLag(speech, out), 0);
        EXPECT_LT(burstLevel(out, false, 8000), burstLevel(noisy, false, 8000) - 6.0);
        EXPECT_NEAR(burstLevel(out, true), burstLevel(speech, true), 1.0);
    }

    // Noise that stops: once it has gone, the input comes through again as it was.
    Samples stops = bursts(153600);
    const Samples hiss = noise(76800, 700, 9);
    for (size_t i = 0; i < hiss.size(); ++i) stops[i] = int16_t(stops[i] + hiss[i]);
    const Samples after = denoised(stops, 8000);
    ASSERT_EQ(after.size(), stops.size());
    EXPECT_LT(burstLevel(Samples(after.begin(), after.begin() + 64000), false, 12800),
              burstLevel(Samples(stops.begin(), stops.begin() + 64000), false, 12800) - 6.0);
    EXPECT_TRUE(std::equal(after.end() - 24000, after.end(), stops.end() - 24000));

    EXPECT_EQ(denoised(stops, 8000, 97, 20000), Samples{-1});
}

// zefenc lowers a steady noise close under the speech before coding (by
// default, or --denoise): the decoded pauses are much quieter than with
// --no-denoise, the decoded speech is as loud as that of the clean
// recording, and the file as long as its input.  With --no-denoise the
// samples are coded exactly as the library codes them.
TEST_F(Tools, ZefencDenoiseLowersSteadyNoiseBeforeCoding) {
    const Samples speech = bursts(32037), noisy = mixed(speech, noise(speech.size(), 700, 7));
    const std::string clean = save("clean.wav", pcmWave(speech)), in = save("noisy.wav", pcmWave(noisy));
    for (const char* codec : {"orvo", "peln"}) {
        SCOPED_TRACE(codec);
        auto coded = [&](const std::string& input, const char* denoise) {
            std::vector<std::string> args{"-q", "-c", codec, input, dir.path("out.wav")};
            if (denoise) args.insert(args.begin(), denoise);
            const Bytes file = encode(args);
            EXPECT_TRUE(has(info(dir.path("out.wav")), "length      32037 samples")) << info(dir.path("out.wav"));
            return file;
        };
        const Samples reference = samples16(decodeBuffer(coded(clean, nullptr)));
        const Bytes plain = coded(in, "--no-denoise"), byDefault = coded(in, nullptr);
        EXPECT_EQ(coded(in, "--denoise"), byDefault);
        const Samples kept = samples16(decodeBuffer(plain)), lowered = samples16(decodeBuffer(byDefault));
        EXPECT_LT(burstLevel(lowered, false, 8000), burstLevel(kept, false, 8000) - 6.0);
        EXPECT_NEAR(burstLevel(lowered, true), burstLevel(reference, true), 1.0);

        Kd kd;
        Bytes direct(plain.size() + 4096);
        kd.input(kRawBuffer, noisy.data(), uint32_t(noisy.size() * 2));
        kd.dwInputSamplingRate = 8000;
        kd.wInputBytesPerSample = 2;
        kd.output(kZefWaveBuffer, direct.data(), uint32_t(direct.size()));
        kd.dwCompressionSettings = codec[0] == 'o' ? KELVANE_CODEC_LUMO_8K : KELVANE_CODEC_PELN_HQ;
        ASSERT_EQ(cmpMirlaneCompress(&kd), 0) << kd.dwSecondaryError;
        direct.resize(kd.dwOutputBytesUsed);
        EXPECT_EQ(direct, plain);
    }
}
