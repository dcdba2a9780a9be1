// zefinfo, zefdec and zefenc run as a user runs them: exit statuses,
// messages, and files that the library reads back to what it decodes itself.
#include <gtest/gtest.h>

#include <filesystem>

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
        // zefenc takes a file of no known kind as raw samples.
        const std::string magic = str(readFile(bad)).substr(0, 3);
        const bool raw = magic != "RIF" && magic != "FOR" && magic != "ZEF" && !magic.empty();
        const ToolRun enc = tool("zefenc", {"-q", bad, out});
        EXPECT_EQ(enc.status, raw ? 0 : 1);
        EXPECT_EQ(enc.err.rfind(raw ? "" : "zefenc: ", 0), 0u) << enc.err;
        EXPECT_EQ(fs::exists(out), raw);
        fs::remove(out);
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
        {{dir.path("missing.wav"), out}, "", "cannot read " + dir.path("missing.wav") + ": No such file"},
        {{dir.dir(), out}, "", "Is a directory"},
        {{save("empty.wav", {}), out}, "", "is empty"},
        {{"-", out}, "", "standard input is empty"},
        {{save("silent.wav", pcmWave(Samples{})), out}, "", "holds no samples"},
        {{save("half.raw", {0x12}), out}, "", "holds no samples"},
        {{save("riff", garbage), out}, "", "encoding failed\nZEFERR_"},
        {{save("form", form), out}, "", "encoding failed\nZEFERR_"},
        {{save("truncated.wav", truncated), out}, "", "encoding failed\nZEFERR_"},
        {{save("rate.wav", pcmWave(speechLike(2000), 12345)), out}, "", "ZEFERR_BAD_INPUT_SAMPLING_RATE"},
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

}  // namespace
