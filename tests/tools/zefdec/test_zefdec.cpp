// zefdec run as a user runs it: every Orvo sample file at every output rate
// and sample size, read back by sox; standard output; and errors reported
// with the library's text and a failing exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr const char* kOrvoFiles[] = {"orvo.wav", "orvo_compat.wav", "orvo_guisette.wav",
                                      "orvo_chunked.zef", "orvo_compact.zef", "orvo.zefp"};
constexpr uint32_t kSamplesAt8000 = 89 * 180;

struct Result {
    int status = -1;
    std::string err;
};

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string data(const char* name) { return std::string(ZEF_TEST_DATA_DIR) + "/" + name; }

class ZefDec : public ::testing::Test {
protected:
    ZefDec() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::path(ZEF_BINARY_DIR) / "scratch" / (std::string("zefdec.") + info->name() + "." + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    ~ZefDec() override { fs::remove_all(dir_); }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    // Runs a shell command line; standard error is kept.
    Result run(const std::string& command) const {
        Result r;
        int raw = std::system((command + " 2>" + quoted(path("stderr"))).c_str());
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.err = slurp(path("stderr"));
        return r;
    }
    Result zefdec(const std::vector<std::string>& args, const std::string& redirect = "") const {
        std::string command = quoted(ZEFDEC);
        for (const std::string& a : args) command += " " + quoted(a);
        return run(command + redirect);
    }

    // Samples that sox reads from a WAVE file, or -1 when it cannot.
    long soxSamples(const std::string& file) const {
        Result r = run("sox " + quoted(file) + " -n stat 2>&1 | grep 'Samples read' >" + quoted(path("stat")));
        if (r.status != 0) return -1;
        std::string stat = slurp(path("stat"));
        size_t colon = stat.find(':');
        return colon == std::string::npos ? -1 : std::strtol(stat.c_str() + colon + 1, nullptr, 10);
    }

private:
    fs::path dir_;
};

}  // namespace

TEST_F(ZefDec, EveryOrvoFileAtEveryRateAndSize) {
    const std::string out = path("out.wav");
    for (const char* file : kOrvoFiles) {
        for (int rate : {8000, 11025, 11127, 16000, 22050, 22254, 32000, 44100}) {
            for (int bits : {8, 16}) {
                SCOPED_TRACE(::testing::Message() << file << " " << rate << " Hz " << bits << " bits");
                Result r = zefdec({"-q", "-r", std::to_string(rate), "-b", std::to_string(bits), data(file), out});
                ASSERT_EQ(r.status, 0) << r.err;
                EXPECT_EQ(r.err, "");
                EXPECT_NEAR(double(soxSamples(out)), kSamplesAt8000 * rate / 8000.0, 1.0);
                EXPECT_EQ(fs::file_size(out), 44 + size_t(soxSamples(out)) * size_t(bits / 8));
            }
        }
    }
}

// Written to a pipe the header cannot be rewritten at the end: its two size
// fields keep the "unknown length" values of the start (the RIFF size
// 0xFFFFFFF8 and the data size 0xFFFFFFD4, which readers take as "to the
// end of the stream").  Every other byte is the file's.
TEST_F(ZefDec, StandardOutputCarriesTheSameBytesAsAFile) {
    const std::string file = path("file.wav");
    const std::string piped = path("piped.wav");
    ASSERT_EQ(zefdec({"-q", data("orvo.wav"), file}).status, 0);
    Result r = zefdec({data("orvo.wav"), "-"}, " | cat >" + quoted(piped));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");  // no progress line with the speech on standard output
    const std::string a = slurp(file), b = slurp(piped);
    ASSERT_EQ(a.size(), b.size());
    ASSERT_GE(a.size(), 44u);
    for (size_t i = 0; i < a.size(); ++i) {
        if ((i >= 4 && i < 8) || (i >= 40 && i < 44)) continue;
        ASSERT_EQ(a[i], b[i]) << "byte " << i;
    }
    EXPECT_EQ(b.substr(4, 4), std::string("\xF8\xFF\xFF\xFF", 4));
    EXPECT_EQ(b.substr(40, 4), std::string("\xD4\xFF\xFF\xFF", 4));
    EXPECT_EQ(soxSamples(file), long(kSamplesAt8000));

    // Raw samples are the same bytes either way.
    ASSERT_EQ(zefdec({"-q", data("orvo.wav"), path("file.raw")}).status, 0);
    ASSERT_EQ(zefdec({"-t", "raw", data("orvo.wav"), "-"}, " >" + quoted(path("piped.raw"))).status, 0);
    EXPECT_EQ(slurp(path("file.raw")), slurp(path("piped.raw")));
    EXPECT_EQ(slurp(path("file.raw")), a.substr(44));
}

TEST_F(ZefDec, ErrorsPrintTheLibrarysTextAndFail) {
    const std::string out = path("out.wav");
    Result missing = zefdec({data("no_such_file.wav"), out});
    EXPECT_NE(missing.status, 0);
    EXPECT_NE(missing.err.find("no_such_file.wav"), std::string::npos) << missing.err;

    Result warp = zefdec({"-w", "6.0", data("orvo.wav"), out});
    EXPECT_NE(warp.status, 0);
    EXPECT_NE(warp.err.find("ZEFERR_WARP_2_BIG (119)"), std::string::npos) << warp.err;

    // Every malformed sample file is refused with one of the library's
    // messages and leaves no output behind.
    size_t files = 0;
    for (const auto& e : fs::directory_iterator(fs::path(ZEF_TEST_DATA_DIR) / "bad")) {
        SCOPED_TRACE(e.path().filename().string());
        Result bad = zefdec({"-q", e.path().string(), out});
        EXPECT_NE(bad.status, 0);
        EXPECT_NE(bad.err.find("decoding failed\nZEFERR_"), std::string::npos) << bad.err;
        EXPECT_FALSE(fs::exists(out));
        ++files;
    }
    EXPECT_GT(files, 20u);
}
