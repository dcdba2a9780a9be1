// RegFile: positions are checked against the size, a closed file reopens
// on reading, writes go through the descriptor and report failure.
#include <cstdio>

#include "audiofiles_test_util.h"
#include "regfile.h"

using namespace aftest;

namespace {

std::string fileOf(const ScratchDir& dir, const char* name, size_t size) {
    std::string path = dir.path(name);
    Bytes b(size);
    for (size_t i = 0; i < size; ++i) b[i] = uint8_t(i);
    zeftest::writeFile(path, b);
    return path;
}

TEST(RegFile, LocationIsCheckedAgainstTheSize) {
    ScratchDir dir;
    RegFile f(fileOf(dir, "f", 100).c_str(), "r");
    ASSERT_TRUE(f.isFileOk());
    EXPECT_EQ(f.getFileSize(), 100);
    EXPECT_EQ(f.setFileLocation(40), 0);
    EXPECT_EQ(f.getCurrentLocation(), 40);
    EXPECT_EQ(f.setFileLocation(100), 0);  // at the end
    EXPECT_EQ(f.getCurrentLocation(), 100);
    EXPECT_EQ(f.setFileLocation(101), 1);
    EXPECT_EQ(f.setFileLocation(-1), 1);
    EXPECT_EQ(f.getCurrentLocation(), 100);  // refusals move nothing
    char b[4];
    EXPECT_EQ(f.readBuf(b, 4), 0);
    EXPECT_TRUE(f.isEndOfFile());
}

TEST(RegFile, ReadingAClosedFileReopensItAtTheStart) {
    ScratchDir dir;
    RegFile f(fileOf(dir, "f", 10).c_str(), "r");
    char b[10];
    ASSERT_EQ(f.readBuf(b, 6), 6);
    EXPECT_EQ(f.getNumLastRead(), 6);
    f.closeFile();
    EXPECT_FALSE(f.isFileOk());
    ASSERT_EQ(f.readBuf(b, 10), 10);
    EXPECT_EQ(b[0], 0);
    EXPECT_EQ(b[9], 9);
}

TEST(RegFile, WritesAppendThroughTheDescriptorAndReportFailure) {
    ScratchDir dir;
    std::string path = fileOf(dir, "f", 3);
    {
        RegFile appender(path.c_str(), "a");
        ASSERT_TRUE(appender.isFileOk());
        EXPECT_EQ(appender.writeBuf("abcd", 4), 0);
        EXPECT_EQ(appender.getNumLastWritten(), 4);
    }
    Bytes content = zeftest::readFile(path);
    EXPECT_EQ(content, (Bytes{0, 1, 2, 'a', 'b', 'c', 'd'}));

    RegFile reader(path.c_str(), "r");
    testing::internal::CaptureStderr();
    EXPECT_EQ(reader.writeBuf("x", 1), 1);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("RegFile::writeBuf"), std::string::npos);
}

TEST(RegFile, AMissingFileFailsEveryWay) {
    ScratchDir dir;
    testing::internal::CaptureStderr();
    RegFile f(dir.path("missing").c_str(), "r");
    char b[4];
    EXPECT_FALSE(f.isFileOk());
    EXPECT_EQ(f.readBuf(b, 4), -1);
    EXPECT_EQ(f.setFileLocation(0), 1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("RegFile::initFileSize"), std::string::npos);
    EXPECT_NE(err.find("RegFile::RegFile"), std::string::npos);

    RegFile none;
    EXPECT_EQ(none.readBuf(b, 4), -1);
    EXPECT_STREQ(none.getClassId(), "RegFile");
}

}  // namespace
