// zefinfo describes every sample file and refuses every malformed one with
// the library's message and a failing exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Result {
    int status = -1;
    std::string out, err;
};

std::string slurp(const fs::path& p) {
    std::ifstream in(p);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

Result zefinfo(const std::vector<std::string>& args) {
    fs::path dir = fs::path(ZEF_BINARY_DIR) / "zefinfo-test";
    fs::create_directories(dir);
    std::string command = quoted(ZEFINFO);
    for (const std::string& a : args) command += " " + quoted(a);
    command += " >" + quoted((dir / "out").string()) + " 2>" + quoted((dir / "err").string());
    Result r;
    int raw = std::system(command.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = slurp(dir / "out");
    r.err = slurp(dir / "err");
    return r;
}

std::string data(const char* name) { return std::string(ZEF_TEST_DATA_DIR) + "/" + name; }

}  // namespace

TEST(ZefInfo, DescribesEverySampleFile) {
    size_t files = 0;
    for (const auto& e : fs::directory_iterator(ZEF_TEST_DATA_DIR)) {
        if (!e.is_regular_file() || e.path().filename() == "README") continue;
        Result r = zefinfo({e.path().string()});
        EXPECT_EQ(r.status, 0) << e.path() << "\n" << r.err;
        EXPECT_TRUE(r.err.empty()) << r.err;
        EXPECT_NE(r.out.find(e.path().string() + ":\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(" Hz"), std::string::npos) << r.out;
        ++files;
    }
    EXPECT_GE(files, 10u);
}

TEST(ZefInfo, RefusesEveryMalformedFileWithTheLibrarysMessage) {
    size_t files = 0;
    for (const auto& e : fs::directory_iterator(fs::path(ZEF_TEST_DATA_DIR) / "bad")) {
        Result r = zefinfo({e.path().string()});
        EXPECT_EQ(r.status, 1) << e.path() << "\n" << r.out;
        EXPECT_TRUE(r.out.empty()) << r.out;
        EXPECT_EQ(r.err.rfind(e.path().string() + ": error ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find("ZEFERR_"), std::string::npos) << r.err;  // the message's first line names it
        ++files;
    }
    EXPECT_GE(files, 20u);
}

TEST(ZefInfo, ReportsCodecLengthGuisetteTextsAndMarkers) {
    Result orvo = zefinfo({data("orvo_guisette.wav")});
    EXPECT_NE(orvo.out.find("codec       Orvo (ZEFa), 54 bits per frame"), std::string::npos) << orvo.out;
    EXPECT_NE(orvo.out.find("frames      89\n"), std::string::npos) << orvo.out;
    EXPECT_NE(orvo.out.find("length      16020 samples, 2.002 s"), std::string::npos) << orvo.out;
    EXPECT_NE(orvo.out.find("bit rate    2400 bit/s"), std::string::npos) << orvo.out;
    EXPECT_NE(orvo.out.find("Guisette    201"), std::string::npos) << orvo.out;

    Result peln = zefinfo({data("peln.wav")});
    EXPECT_NE(peln.out.find("codec       PelnHQ (ZEFg), 67 bits per frame"), std::string::npos) << peln.out;

    Result raw = zefinfo({data("orvo_compact.zef")});
    EXPECT_NE(raw.out.find("compact header (ZEFh)"), std::string::npos) << raw.out;
    EXPECT_NE(raw.out.find("length      89 frames"), std::string::npos) << raw.out;
    EXPECT_NE(raw.out.find("header      180.5 140.25 250.75"), std::string::npos) << raw.out;

    Result pcm = zefinfo({data("pcm16_mono.wav")});
    EXPECT_NE(pcm.out.find("sampling    8000 Hz, 2 bytes per sample, 1 channel\n"), std::string::npos) << pcm.out;
    EXPECT_NE(pcm.out.find("INFO INAM   Test tone"), std::string::npos) << pcm.out;
    EXPECT_NE(pcm.out.find("marker 2    sample 6000, byte 6000, \"middle\""), std::string::npos) << pcm.out;

    Result aiff = zefinfo({data("tone16.aiff")});
    EXPECT_NE(aiff.out.find("marker 1    sample 1000, byte 1000, \"one\""), std::string::npos) << aiff.out;
}

TEST(ZefInfo, OneBadFileAmongGoodOnesFailsTheRunButNotTheOthers) {
    Result r = zefinfo({data("orvo.wav"), data("bad/rifx.wav"), data("tone8.aifc")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("orvo.wav:"), std::string::npos);
    EXPECT_NE(r.out.find("tone8.aifc:"), std::string::npos);
    EXPECT_NE(r.err.find("rifx.wav: error 303"), std::string::npos) << r.err;
    Result missing = zefinfo({data("no-such-file.wav")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("error 226"), std::string::npos) << missing.err;
}

TEST(ZefInfo, VersionHelpAndUsage) {
    Result v = zefinfo({"--version"});
    EXPECT_EQ(v.status, 0);
    EXPECT_NE(v.out.find("1.1.6.87 (Debug)"), std::string::npos) << v.out;
    Result h = zefinfo({"--help"});
    EXPECT_EQ(h.status, 0);
    EXPECT_NE(h.out.find("usage: zefinfo [--] FILE..."), std::string::npos);
    EXPECT_EQ(zefinfo({}).status, 2);
    Result unknown = zefinfo({"--frobnicate"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("unknown option --frobnicate"), std::string::npos);
    Result dashes = zefinfo({"--", data("orvo.wav")});
    EXPECT_EQ(dashes.status, 0) << dashes.err;
}
