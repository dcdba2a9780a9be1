// The version record: checks in order, and exactly the bytes asked for.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "mirlane.h"

namespace {

constexpr uint8_t kFill = 0xAA;

KELVANE_DATA versionRequest(std::vector<uint8_t>& buffer, uint32_t size) {
    KELVANE_DATA kd{};
    kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
    kd.dwOutputType = ZEFTYPE_VERSION_INFO;
    kd.lpOutputLocation = buffer.data();
    kd.dwOutputSize = size;
    return kd;
}

void expectEntry(const uint8_t* entry) {
    ZEF_VERSION_ENTRY e;
    std::memcpy(&e, entry, sizeof e);
    EXPECT_STREQ(e.szVersion, "1.1.6.87 (Debug)");
    EXPECT_STREQ(e.szBuild, "Brin 87 Pelnv5  (Lumo)");
    EXPECT_EQ(e.dwVersion, 0x00010001u);
    EXPECT_EQ(e.dwRevision, 0x00060057u);
    for (size_t i = std::strlen(e.szVersion); i < sizeof e.szVersion; ++i) EXPECT_EQ(e.szVersion[i], 0);
    for (size_t i = std::strlen(e.szBuild); i < sizeof e.szBuild; ++i) EXPECT_EQ(e.szBuild[i], 0);
}

TEST(VersionInfo, FillsSixOrFourEntriesAndNothingBeyond) {
    for (uint32_t size : {uint32_t(ZEF_VERSION_SIZE), uint32_t(ZEF_VERSION_SIZE_SHORT)}) {
        SCOPED_TRACE(size);
        std::vector<uint8_t> buffer(ZEF_VERSION_SIZE + 64, kFill);
        KELVANE_DATA kd = versionRequest(buffer, size);
        kd.dwSecondaryError = 91;
        ASSERT_EQ(utilGetVersionInfo(&kd), 0);
        EXPECT_EQ(kd.dwSecondaryError, 0u);
        for (uint32_t at = 0; at < size; at += ZEF_VERSION_ENTRY_SIZE) expectEntry(&buffer[at]);
        for (size_t i = size; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], kFill) << "byte " << i;
    }
}

TEST(VersionInfo, OldFormAndBufferTypeAreAccepted) {
    std::vector<uint8_t> buffer(ZEF_VERSION_SIZE);
    KELVANE_DATA kd = versionRequest(buffer, ZEF_VERSION_SIZE);
    kd.wSizeOfKelvaneData = KELVANE_DATA_OLD_MARK;
    kd.dwOutputType = ZEFTYPE_VERSION_INFO | ZEFTYPE_LOCATION_BUFFER;
    EXPECT_EQ(utilGetVersionInfo(&kd), 0);
    expectEntry(&buffer[5 * ZEF_VERSION_ENTRY_SIZE]);
}

TEST(VersionInfo, ChecksRunInOrderAndWriteNothing) {
    EXPECT_EQ(utilGetVersionInfo(nullptr), ZEFERR_KELVANE_DATA_POINTER_NULL);
    std::vector<uint8_t> buffer(ZEF_VERSION_SIZE, kFill);

    KELVANE_DATA kd = versionRequest(buffer, 100);  // wrong size too
    kd.wSizeOfKelvaneData = 147;
    kd.dwOutputType = ZEFTYPE_FILE_INFO;
    kd.lpOutputLocation = nullptr;
    EXPECT_EQ(utilGetVersionInfo(&kd), ZEFERR_KELVANE_DATA_SIZE);
    EXPECT_EQ(kd.dwSecondaryError, 148u);

    kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
    EXPECT_EQ(utilGetVersionInfo(&kd), ZEFERR_INVALID_OUTPUT_TYPE);
    EXPECT_EQ(kd.dwSecondaryError, ZEFTYPE_FILE_INFO);
    kd.dwOutputType = ZEFTYPE_VERSION_INFO | ZEFTYPE_LOCATION_FILE;
    EXPECT_EQ(utilGetVersionInfo(&kd), ZEFERR_INVALID_OUTPUT_TYPE);

    kd.dwOutputType = ZEFTYPE_VERSION_INFO;
    EXPECT_EQ(utilGetVersionInfo(&kd), ZEFERR_ZEF_VERSION_POINTER_NULL);

    kd.lpOutputLocation = buffer.data();
    for (uint32_t size : {0u, 104u, 520u, 623u, 625u}) {
        kd.dwOutputSize = size;
        EXPECT_EQ(utilGetVersionInfo(&kd), ZEFERR_ZEF_VERSION_SIZE) << size;
        EXPECT_EQ(kd.dwSecondaryError, 624u);
    }
    for (uint8_t b : buffer) ASSERT_EQ(b, kFill);
}

}  // namespace
