// The seed corpora of the readers' fuzz targets, replayed through the same
// entry bodies: in the sanitizer build any out-of-bounds access, leak or
// broken invariant (a trap) fails this test.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "fuzz_entries.h"

namespace {

size_t replay(const char* target, int (*entry)(const uint8_t*, size_t)) {
    size_t count = 0;
    for (const auto& e : std::filesystem::directory_iterator(std::string(ZEF_SOURCE_DIR) + "/fuzz/corpus/" + target)) {
        std::ifstream in(e.path(), std::ios::binary);
        std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        EXPECT_EQ(entry(bytes.data(), bytes.size()), 0) << e.path();
        ++count;
    }
    return count;
}

}  // namespace

TEST(FuzzCorpus, FileInfoSeedsReplay) { EXPECT_GE(replay("fuzz_fileinfo", zeffuzz::fileInfoEntry), 30u); }

TEST(FuzzCorpus, ReaderSeedsReplay) { EXPECT_GE(replay("fuzz_readers", zeffuzz::readersEntry), 30u); }

// Inputs that are not in the corpora: nothing, and every cut of a file.
TEST(FuzzCorpus, EveryPrefixOfASampleIsSafe) {
    for (const char* name : {"pcm16_mono.wav", "orvo_compat.wav", "tone16.aiff", "orvo_chunked.zef"}) {
        std::ifstream in(std::string(ZEF_TEST_DATA_DIR) + "/" + name, std::ios::binary);
        std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        size_t step = bytes.size() > 2000 ? 97 : 1;
        for (size_t n = 0; n <= std::min<size_t>(bytes.size(), 2000); n += step) zeffuzz::fileInfoEntry(bytes.data(), n);
    }
}
