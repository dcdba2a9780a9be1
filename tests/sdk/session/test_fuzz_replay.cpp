// The decoder fuzz target's seed corpus replayed through its entry body: in
// the sanitizer build any out-of-bounds access, leak or broken invariant (a
// trap) fails this test.  Also every cut of a sample file, framed and whole.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "fuzz_decoder.h"

namespace {

std::vector<uint8_t> slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

TEST(DecoderFuzzCorpus, SeedsReplay) {
    size_t count = 0;
    for (const auto& e : std::filesystem::directory_iterator(std::string(ZEF_SOURCE_DIR) + "/fuzz/corpus/fuzz_decoder")) {
        const std::vector<uint8_t> bytes = slurp(e.path());
        EXPECT_EQ(zeffuzz::decoderEntry(bytes.data(), bytes.size()), 0) << e.path();
        ++count;
    }
    EXPECT_GE(count, 35u);
}

TEST(DecoderFuzzCorpus, EveryCutOfASampleIsSafe) {
    const std::vector<uint8_t> bytes = slurp(std::string(ZEF_TEST_DATA_DIR) + "/orvo_chunked.zef");
    for (size_t n = 0; n <= bytes.size(); n += 23) zeffuzz::decoderEntry(bytes.data(), n);
}
