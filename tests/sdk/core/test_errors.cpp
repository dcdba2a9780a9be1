// Error texts: every numbered row, the texts callers rely on, the unknown
// text, and safe formatting of the secondary value.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>

#include "byteorder.h"
#include "zefinternal.h"

namespace {

std::string message(uint16_t code, uint32_t secondary) {
    char text[ZEF_MESSAGE_SIZE];
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(mlGetStringFromError(code, secondary, text), code);
    return text;
}

std::string unknownText(unsigned code, const char* hex) {
    return "[UNKNOWN] (" + std::to_string(code) + ")\nThe Secondary return code is 0x" + hex + ".\n[BLANK]\n";
}

bool hasRow(unsigned n) {
    return n == 10 || (n >= 101 && n <= 171) || (n >= 201 && n <= 238) || (n >= 302 && n <= 310) ||
           (n >= 401 && n <= 429) || (n >= 501 && n <= 510) || (n >= 512 && n <= 521) || (n >= 601 && n <= 607);
}

unsigned shownNumber(unsigned n) {
    if (n >= 302 && n <= 306) return n - 1;
    return n == 521 ? 520 : n;
}

size_t lineCount(const std::string& s) {
    size_t lines = 0;
    for (char c : s) lines += c == '\n';
    return lines;
}

TEST(ErrorText, EveryRowHasItsNameNumberAndThreeLines) {
    const std::regex firstLine(R"(^((ZEFERR|obsERR)_[A-Z0-9_]+|KELVANE_PLAYBACKERROR) \((\d+)\)\n)");
    for (unsigned n = 0; n <= 700; ++n) {
        SCOPED_TRACE(n);
        const std::string text = message(uint16_t(n), 0x1234);
        if (!hasRow(n)) {
            EXPECT_EQ(text, unknownText(n, "00001234"));
            continue;
        }
        std::smatch m;
        ASSERT_TRUE(std::regex_search(text, m, firstLine)) << text;
        EXPECT_EQ(std::stoul(m[3]), shownNumber(n));
        EXPECT_EQ(lineCount(text), n == 203 ? 2u : 3u) << text;
        EXPECT_EQ(text.back(), '\n');
        EXPECT_LT(message(uint16_t(n), 0xFFFFFFFF).size(), 300u);  // widest secondary
        EXPECT_EQ(text.find("[UNKNOWN]"), std::string::npos);
        const bool obsolete = text.rfind("obsERR_", 0) == 0;
        const char* version = (n == 167 || n == 169) ? "1.1.1" : "1.1.0";
        EXPECT_EQ(obsolete, text.find(std::string("obsolete with Mirlane version ") + version) != std::string::npos);
    }
}

TEST(ErrorText, UnknownNumbersShowNumberAndSecondary) {
    EXPECT_EQ(message(9, 0xDEADBEEF), unknownText(9, "DEADBEEF"));
    EXPECT_EQ(message(301, 0x10), unknownText(301, "00000010"));
    EXPECT_EQ(message(608, 0), unknownText(608, "00000000"));
    EXPECT_EQ(message(0, 0), unknownText(0, "00000000"));
    EXPECT_EQ(message(65535, 0), unknownText(65535, "00000000"));
}

TEST(ErrorText, ShiftedAndRepeatedFirstLines) {
    EXPECT_EQ(message(303, 0).rfind("ZEFERR_WE_DONT_SUPPORT_RIFX (302)\n", 0), 0u);
    EXPECT_EQ(message(306, 0).rfind("ZEFERR_AIFF_COULDNT_FIND_ALL_CHUNKS (305)\n", 0), 0u);
    EXPECT_EQ(message(520, 0).rfind("ZEFERR_CALLBACKCMD (520)\n", 0), 0u);
    EXPECT_EQ(message(521, 0).rfind("ZEFERR_DTINSTALL_FAILED (520)\n", 0), 0u);
    EXPECT_EQ(message(122, 0).rfind("ZEFERR_ABS_PITCH_2_BIG (122)\n", 0), 0u);
    EXPECT_NE(message(122, 0).find("too small"), std::string::npos);
    EXPECT_EQ(message(235, 0).rfind("ZEFERR_REOPENING_MARKER_LOG (235)\n", 0), 0u);
}

TEST(ErrorText, TextsThatCallersShowExactly) {
    EXPECT_EQ(message(106, 148),
              "ZEFERR_KELVANE_DATA_SIZE (106)\n"
              "The lpKelvaneData->wSizeOfKelvaneData field is filled with an improper size - "
              "sizeof(KELVANE_DATA) should be 148 bytes.\n"
              "Verify that a beta version of the Mirlane DLLs aren't being used and recompile your "
              "application with the new Mirlane.H file.\n");
    EXPECT_EQ(message(203, 14),
              "ZEFERR_FMT_CHUNK_SIZE (203)\n"
              "The size of the 'fmt ' chunk is too small (14 bytes) to contain a pcmWaveFormat "
              "structure (16 bytes).Make sure the file adheres to the Windows Wave specification and "
              "try again.\n");
    EXPECT_EQ(message(514, 7),
              "ZEFERR_PROCESSING_ABORTED (514)\n"
              "A non-zero value was returned from the callback - 7.\n"
              "The user aborted processing.  This is not an \"error\", but the output is not valid.\n");
    EXPECT_EQ(message(302, 0x40201),
              "ZEFERR_UNKNOWN_HEADER_FORMAT (301)\n"
              "The lpKelvaneData->dwInputType that was specified (0x00040201) has an invalid format flag.\n"
              "Check the Mirlane user manual for proper values for this field.\n");
    EXPECT_EQ(message(206, 0x2C),
              "ZEFERR_ZEF_HEADER_SIZE (206)\n"
              "An invalid size for the Zef file header was found: 0x002C.\n"
              "Make sure that this file wasn't built with a pre-release version of Mirlane.\n");
}

TEST(ErrorText, FourCharacterCodesPrintTheirBytesInMemoryOrder) {
    const uint32_t zefBang = zef::fourcc("ZEF!");
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", unsigned(zefBang));
    EXPECT_EQ(message(205, zefBang),
              "ZEFERR_ZEF_HEADER_FLAG (205)\n"
              "An invalid Zef header flag was found: " + std::string(hex) + " [ZEF!].\n"
              "Make sure that this file wasn't built with a pre-release version of Mirlane.\n");
    EXPECT_NE(message(304, zef::fourcc("RIFX")).find("[RIFX]"), std::string::npos);
    EXPECT_NE(message(310, zef::fourcc("ZEFc")).find("[ZEFc]"), std::string::npos);
    // A code with a zero byte stops there instead of running into other memory.
    EXPECT_NE(message(308, 0).find("0x00000000 [].\n"), std::string::npos);
}

TEST(ErrorText, LimitsComeFromTheTableNotTheSecondary) {
    EXPECT_NE(message(119, 99).find("less than 5.000000.\n"), std::string::npos);
    EXPECT_NE(message(120, 99).find("greater than 0.200000.\n"), std::string::npos);
    EXPECT_NE(message(121, 99).find("less than 400.000000.\n"), std::string::npos);
    EXPECT_NE(message(122, 99).find("greater than 70.000000.\n"), std::string::npos);
    EXPECT_NE(message(123, 99).find("less than 24.000000.\n"), std::string::npos);
    EXPECT_NE(message(124, 99).find("greater than -24.000000.\n"), std::string::npos);
    EXPECT_NE(message(158, 99).find("255.000000"), std::string::npos);
    EXPECT_NE(message(159, 99).find("0.000000"), std::string::npos);
    EXPECT_NE(message(160, 99).find("100.000000"), std::string::npos);
    EXPECT_NE(message(161, 99).find("-100.000000"), std::string::npos);
}

TEST(ErrorText, FullWidthSecondaryValuesPrintUnsigned) {
    EXPECT_NE(message(222, 0xFFFFFFFF).find("A system error of 4294967295 occurred."), std::string::npos);
    EXPECT_NE(message(114, 0xFFFFFFFF).find("(0xFFFFFFFF)"), std::string::npos);
    EXPECT_NE(message(10, 0x80000000).find("number is 2147483648."), std::string::npos);
}

TEST(ErrorText, SizedFormNeverWritesPastItsBuffer) {
    char text[32];
    std::memset(text, '#', sizeof text);
    EXPECT_EQ(mlGetStringFromErrorN(106, 148, text, 16), 106);
    EXPECT_EQ(std::string(text), "ZEFERR_KELVANE_");
    for (size_t i = 16; i < sizeof text; ++i) EXPECT_EQ(text[i], '#');

    EXPECT_EQ(mlGetStringFromErrorN(106, 148, text, 0), 106);
    EXPECT_EQ(text[0], 'Z');  // nothing written at all
    EXPECT_EQ(mlGetStringFromErrorN(106, 148, nullptr, 100), 106);
}

TEST(StoreError, KeepsTheSecondaryOnlyInAGivenStructure) {
    EXPECT_EQ(_StoreError(402, 300, nullptr, "here", 1), 402);
    KELVANE_DATA kd{};
    EXPECT_EQ(_StoreError(119, 55, &kd, "here", 70000), 119);
    EXPECT_EQ(kd.dwSecondaryError, 55u);
}

}  // namespace
