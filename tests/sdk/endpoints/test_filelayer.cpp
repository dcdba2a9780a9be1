// The file layer: buffered reading with carried-over bytes, end of file,
// marker segment ends, writing, and removal of failed output.
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "endpoint_harness.h"
#include "filelayer.h"

using namespace ept;
using zef::FileRecord;

namespace {

constexpr uint32_t kFile = ZEFTYPE_LOCATION_FILE | ZEFTYPE_FORMAT_RAW;

Bytes counting(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = uint8_t(i * 7 + i / 251);
    return b;
}

struct FileLayer : ::testing::Test {
    ScratchDir scratch;
    KELVANE_DATA kd{};
    FileRecord* f = nullptr;
    FileLayer() { kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK; }
    ~FileLayer() override { zef::FileClose(&f, 0); }
};

}  // namespace

TEST_F(FileLayer, OpeningChecksRecordLocationAndName) {
    std::string name = scratch.path("a.raw");
    writeBytes(name, counting(10));
    FileRecord* taken = reinterpret_cast<FileRecord*>(&kd);
    EXPECT_EQ(zef::FileInit(&kd, kFile, name.c_str(), zef::kFileReading, &taken), ZEFERR_FILE_RECORD_IN_USE);
    EXPECT_EQ(zef::FileInit(&kd, 0x20200, name.c_str(), zef::kFileReading, &f), ZEFERR_FILE_LAYER_LOCATION);
    EXPECT_EQ(kd.dwSecondaryError, 0x20200u);
    EXPECT_EQ(zef::FileInit(&kd, kFile, nullptr, zef::kFileReading, &f), ZEFERR_BAD_PATH_TO_FILE);
    EXPECT_EQ(zef::FileInit(&kd, kFile, scratch.path("missing").c_str(), zef::kFileReading, &f),
              ZEFERR_OPENING_INPUT_FILE);
    EXPECT_EQ(kd.dwSecondaryError, uint32_t(ENOENT));
    EXPECT_EQ(zef::FileInit(&kd, kFile, scratch.path("no/such/dir").c_str(), zef::kFileWriting, &f),
              ZEFERR_OPENING_OUTPUT_FILE);
    EXPECT_EQ(f, nullptr);
    ASSERT_EQ(zef::FileInit(&kd, kFile, name.c_str(), zef::kFileReading, &f), 0);
    EXPECT_EQ(f->dwFileSize, 10u);
    EXPECT_EQ(f->dwCapacity, zef::kFileBufferSize);
}

// Reading in pieces: the unconsumed bytes move to the front and the rest of
// the buffer is refilled, so the pieces taken reassemble the file exactly.
TEST_F(FileLayer, PiecesReassembleTheFile) {
    const Bytes content = counting(20000);
    std::string name = scratch.path("a.raw");
    writeBytes(name, content);
    ASSERT_EQ(zef::FileInit(&kd, kFile, name.c_str(), zef::kFileReading, &f), 0);
    uint8_t* buffer = nullptr;
    uint32_t valid = 0;
    ASSERT_EQ(zef::FileRead(f, &buffer, &valid, zef::kConsumedAll), 0);
    EXPECT_EQ(valid, zef::kFileBufferSize);
    Bytes seen;
    const uint32_t pieces[] = {1, 3000, 8191, 5, 4097};
    for (int round = 0; !f->wEOF || valid; ++round) {
        uint32_t take = std::min(pieces[round % 5], valid);
        seen.insert(seen.end(), buffer, buffer + take);
        if (f->wEOF && take == valid) break;
        ASSERT_EQ(zef::FileRead(f, &buffer, &valid, take), 0);
        ASSERT_LT(round, 100);
    }
    EXPECT_EQ(seen, content);
    EXPECT_EQ(f->dwBytesRead, 20000u);
}

TEST_F(FileLayer, AFullBufferThatNobodyTakesIsTheEnd) {
    std::string name = scratch.path("a.raw");
    writeBytes(name, counting(3 * zef::kFileBufferSize));
    ASSERT_EQ(zef::FileInit(&kd, kFile, name.c_str(), zef::kFileReading, &f), 0);
    uint8_t* buffer = nullptr;
    uint32_t valid = 0;
    ASSERT_EQ(zef::FileRead(f, &buffer, &valid, zef::kConsumedAll), 0);
    EXPECT_EQ(zef::FileRead(f, &buffer, &valid, 0), ZEFERR_ENDOFFILE_REACHED);
    EXPECT_EQ(valid, zef::kFileBufferSize);
    EXPECT_EQ(f->wEOF, 1);
}

TEST_F(FileLayer, MarkerSegmentEndCutsTheRead) {
    std::string name = scratch.path("a.raw");
    writeBytes(name, counting(10000));
    KELVANE_DATA session{};
    session.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
    session.dwInputType = kFile;
    session.lpInputLocation = name.data();
    ASSERT_EQ(zef::NewZefControlBlock(&session), 0);
    zef::InputVars in{};
    in.dwGuard = zef::kInputGuard;
    in.dwEndByte = 9000;
    zef::controlBlock(&session)->lpInputVars = &in;
    ASSERT_EQ(zef::FileInit(&session, kFile, name.c_str(), zef::kFileReading, &in.lpFile), 0);
    uint8_t* buffer = nullptr;
    uint32_t valid = 0;
    ASSERT_EQ(zef::FileRead(in.lpFile, &buffer, &valid, zef::kConsumedAll), 0);
    EXPECT_EQ(valid, 8192u);
    EXPECT_EQ(in.lpFile->wEOF, 0);
    ASSERT_EQ(zef::FileRead(in.lpFile, &buffer, &valid, 8000), 0);
    EXPECT_EQ(valid, 192u + 808u);  // carried bytes and the rest up to byte 9000
    EXPECT_EQ(in.lpFile->wEOF, 1);
    EXPECT_EQ(buffer[valid - 1], counting(10000)[8999]);
    zef::FileClose(&in.lpFile, 0);
    zef::controlBlock(&session)->lpInputVars = nullptr;
    zef::FreeZefControlBlock(&session);
}

TEST_F(FileLayer, ReadingADirectoryFailsWithTheSystemError) {
    ASSERT_EQ(zef::FileInit(&kd, kFile, scratch.path("").c_str(), zef::kFileReading, &f), 0);
    uint8_t* buffer = nullptr;
    uint32_t valid = 0;
    EXPECT_EQ(zef::FileRead(f, &buffer, &valid, zef::kConsumedAll), ZEFERR_READING_FROM_FILE);
    EXPECT_EQ(kd.dwSecondaryError, uint32_t(EISDIR));
}

TEST_F(FileLayer, WrongDirectionAndClosedRecordsAreRefused) {
    std::string name = scratch.path("out.raw");
    ASSERT_EQ(zef::FileInit(&kd, kFile, name.c_str(), zef::kFileWriting, &f), 0);
    uint8_t* buffer = nullptr;
    uint32_t valid = 0;
    EXPECT_EQ(zef::FileRead(f, &buffer, &valid, 0), ZEFERR_FILE_READ_NOT_OPEN);
    EXPECT_EQ(zef::FileRead(nullptr, &buffer, &valid, 0), ZEFERR_FILE_READ_NOT_OPEN);
    uint32_t n = 4;
    EXPECT_EQ(zef::FileWrite(nullptr, &n, buffer), ZEFERR_FILE_WRITE_NOT_OPEN);
    auto* closed = static_cast<FileRecord*>(std::calloc(1, sizeof(FileRecord)));
    closed->lpKelvaneData = &kd;
    EXPECT_EQ(zef::FileClose(&closed, 0), ZEFERR_FILE_CLOSE_NOT_OPEN);
    EXPECT_EQ(closed, nullptr);
    FileRecord* none = nullptr;
    EXPECT_EQ(zef::FileClose(&none, 222), 222);
}

TEST_F(FileLayer, WrittenFileIsKeptOrRemovedOnFailure) {
    const Bytes content = counting(5000);
    struct Case {
        uint16_t pending;
        bool discard;
        uint32_t secondary;
        bool kept;
    } cases[] = {{0, false, 0, true}, {223, false, 0, false}, {0, true, 0, false}, {0, false, 93, false}};
    for (const Case& c : cases) {
        std::string name = scratch.path("out.raw");
        ASSERT_EQ(zef::FileInit(&kd, kFile, name.c_str(), zef::kFileWriting, &f), 0);
        uint32_t n = uint32_t(content.size());
        ASSERT_EQ(zef::FileWrite(f, &n, content.data()), 0);
        kd.dwSecondaryError = c.secondary;
        EXPECT_EQ(zef::FileClose(&f, c.pending, c.discard), c.pending);
        EXPECT_EQ(f, nullptr);
        EXPECT_EQ(std::filesystem::exists(name), c.kept) << "pending " << c.pending << " discard " << c.discard;
        if (c.kept) {
            EXPECT_EQ(readBytes(name), content);
        }
    }
}

// A failed output that is not a plain file (a pipe, a device) is left alone.
TEST_F(FileLayer, FailedOutputThatIsNoPlainFileIsNotRemoved) {
    std::string name = scratch.path("pipe");
    ASSERT_EQ(::mkfifo(name.c_str(), 0600), 0);
    int reader = ::open(name.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ASSERT_EQ(zef::FileInit(&kd, kFile, name.c_str(), zef::kFileWriting, &f), 0);
    const Bytes content = counting(100);
    uint32_t n = uint32_t(content.size());
    EXPECT_EQ(zef::FileWrite(f, &n, content.data()), 0);
    EXPECT_EQ(zef::FileClose(&f, ZEFERR_DECOMPRESSION), ZEFERR_DECOMPRESSION);
    EXPECT_TRUE(std::filesystem::exists(name));
    ::close(reader);
}
