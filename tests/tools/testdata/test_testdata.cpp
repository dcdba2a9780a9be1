// The committed sample files are exactly what their generator makes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::vector<char> contents(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every file under `generated` equals its committed copy, and every
// committed sample has been generated (no stale leftovers).
void expectSameTree(const fs::path& generated, const fs::path& committed) {
    size_t files = 0;
    for (const auto& e : fs::recursive_directory_iterator(generated)) {
        if (!e.is_regular_file()) continue;
        ++files;
        fs::path rel = fs::relative(e.path(), generated);
        ASSERT_TRUE(fs::exists(committed / rel)) << rel << " is generated but not committed";
        EXPECT_EQ(contents(e.path()), contents(committed / rel)) << rel << " differs from its generator's output";
    }
    EXPECT_GT(files, 20u);
    for (const auto& e : fs::recursive_directory_iterator(committed)) {
        if (!e.is_regular_file() || e.path().filename() == "README") continue;
        fs::path rel = fs::relative(e.path(), committed);
        EXPECT_TRUE(fs::exists(generated / rel)) << rel << " is committed but no longer generated";
    }
}

}  // namespace

TEST(TestData, CommittedFilesMatchTheGenerator) {
    fs::path scratch = fs::path(ZEF_BINARY_DIR) / "testdata-regenerated";
    fs::remove_all(scratch);
    std::string command = std::string(GEN_TESTDATA) + " " + scratch.string();
    ASSERT_EQ(std::system(command.c_str()), 0);
    expectSameTree(scratch / "tests" / "data", fs::path(ZEF_SOURCE_DIR) / "tests" / "data");
    expectSameTree(scratch / "fuzz" / "corpus" / "fuzz_fileinfo", fs::path(ZEF_SOURCE_DIR) / "fuzz/corpus/fuzz_fileinfo");
    expectSameTree(scratch / "fuzz" / "corpus" / "fuzz_readers", fs::path(ZEF_SOURCE_DIR) / "fuzz/corpus/fuzz_readers");
    fs::remove_all(scratch);
}
