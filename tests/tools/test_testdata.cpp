// The committed sample files and fuzz seeds are exactly what their
// generator makes: it is run into a scratch folder and the trees compared.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "support.h"

namespace fs = std::filesystem;
using namespace zeftest;

namespace {

std::set<std::string> files(const fs::path& root) {
    std::set<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file() && e.path().filename() != "README") names.insert(fs::relative(e.path(), root).string());
    return names;
}

}  // namespace

TEST(TestData, CommittedFilesMatchTheGenerator) {
    ScratchDir scratch;
    ASSERT_EQ(runTool({GEN_TESTDATA, scratch.dir()}).status, 0);
    for (const char* tree : {"tests/data", "fuzz/corpus/fuzz_fileinfo", "fuzz/corpus/fuzz_readers"}) {
        SCOPED_TRACE(tree);
        const fs::path made = scratch.path(tree), committed = fs::path(ZEF_SOURCE_DIR) / tree;
        const auto names = files(made);
        EXPECT_EQ(names, files(committed)) << "generated and committed files differ in name";
        for (const auto& name : names)
            EXPECT_EQ(readFile((made / name).string()), readFile((committed / name).string())) << name;
    }
}
