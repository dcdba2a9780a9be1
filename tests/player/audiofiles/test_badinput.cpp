// Bad coded input never crashes or hangs a reader: a file whose header
// cannot be used leaves state 1, one that breaks while decoding ends with
// -1 or 0, and a reader that is not a stream never answers -2.
#include <filesystem>
#include <random>

#include "audiofiles_test_util.h"
#include "zefbuf.h"
#include "zeffile.h"

using namespace aftest;

namespace {

constexpr int kMaxBuffers = 500;

void playsOrRefuses(AudioFile& f, const std::string& what) {
    if (f.getState() != 0) return;  // refused at the start
    Reading r = readAll(f, 4320, kMaxBuffers);
    EXPECT_TRUE(r.last == 0 || r.last == -1) << what << ": " << r.last;
    EXPECT_LT(r.counts.size(), size_t(kMaxBuffers)) << what;
    if (f.setLocation(0.7f) == 0 && f.setReadLocation(f.getCurrentLocation()) == 0) {
        Reading again = readAll(f, 4320, kMaxBuffers);
        EXPECT_TRUE(again.last == 0 || again.last == -1) << what << " after a seek: " << again.last;
    }
}

void everyReader(const Bytes& bytes, const ScratchDir& dir, const std::string& what) {
    std::string path = dir.path("input.zef");
    zeftest::writeFile(path, bytes);
    {
        ZefFile f(path.c_str(), "r", nullptr);
        playsOrRefuses(f, what + " (file)");
    }
    Bytes inPlace = bytes, copied = bytes;
    ZefBuf b(reinterpret_cast<char*>(inPlace.data()), int(inPlace.size()), nullptr, false);
    playsOrRefuses(b, what + " (in place)");
    ZefBuf c(reinterpret_cast<char*>(copied.data()), int(copied.size()), nullptr, true);
    playsOrRefuses(c, what + " (copied)");
    EXPECT_EQ(inPlace, bytes) << what;
}

TEST(BadInput, MalformedSampleFiles) {
    ScratchDir dir;
    testing::internal::CaptureStderr();
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dataFile("bad"))) {
        everyReader(zeftest::readFile(entry.path().string()), dir, entry.path().filename().string());
        ++files;
    }
    testing::internal::GetCapturedStderr();
    EXPECT_GT(files, 20);
}

TEST(BadInput, TruncatedFiles) {
    ScratchDir dir;
    testing::internal::CaptureStderr();
    for (const char* name : {"orvo.wav", "peln.wav", "orvo_compat.wav", "orvo_guisette.wav"}) {
        Bytes whole = zeftest::readFile(dataFile(name));
        size_t h = dataOffset(whole);
        for (size_t cut : {size_t(0), size_t(4), size_t(8), size_t(12), size_t(20), size_t(40), h - 9, h - 1, h,
                           h + 1, h + 13, whole.size() - 1}) {
            everyReader(Bytes(whole.begin(), whole.begin() + long(std::min(cut, whole.size()))), dir,
                        std::string(name) + " cut at " + std::to_string(cut));
        }
    }
    testing::internal::GetCapturedStderr();
}

TEST(BadInput, CorruptedHeaders) {
    ScratchDir dir;
    std::mt19937 random(20240601);
    testing::internal::CaptureStderr();
    for (const char* name : {"orvo.wav", "peln.wav"}) {
        Bytes whole = zeftest::readFile(dataFile(name));
        std::uniform_int_distribution<size_t> where(0, dataOffset(whole) + 8);
        for (int variant = 0; variant < 30; ++variant) {
            Bytes bad = whole;
            for (int k = 0; k <= variant % 4; ++k) bad[where(random)] = uint8_t(random());
            everyReader(bad, dir, std::string(name) + " variant " + std::to_string(variant));
        }
    }
    testing::internal::GetCapturedStderr();
}

}  // namespace
