// The library core: error texts, validation of the caller's structure, the
// control block, start-up, the version record and the attribute calls.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "byteorder.h"
#include "guisette.h"
#include "zefapi.h"

namespace {

std::string message(uint16_t code, uint32_t secondary) {
    char text[ZEF_MESSAGE_SIZE];
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(mlGetStringFromError(code, secondary, text), code);
    return text;
}
bool contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

// ---- error texts --------------------------------------------------------------

TEST(ErrorText, UnknownNumbersShowNumberAndSecondary) {
    for (auto [code, secondary, hex] : {std::tuple{9u, 0xDEADBEEFu, "DEADBEEF"}, {301u, 0x10u, "00000010"},
                                        {608u, 0u, "00000000"}, {0u, 0u, "00000000"}, {65535u, 0u, "00000000"}})
        EXPECT_EQ(message(uint16_t(code), secondary),
                  "[UNKNOWN] (" + std::to_string(code) + ")\nThe Secondary return code is 0x" + hex + ".\n[BLANK]\n");
}

TEST(ErrorText, SecondaryValuesAreFormattedSafely) {
    EXPECT_EQ(message(514, 7), "ZEFERR_PROCESSING_ABORTED (514)\nA non-zero value was returned from the callback - 7.\n"
                               "The user aborted processing.  This is not an \"error\", but the output is not valid.\n");
    EXPECT_TRUE(message(303, 0).starts_with("ZEFERR_WE_DONT_SUPPORT_RIFX (302)\n"));  // the numbers shown are shifted
    EXPECT_TRUE(contains(message(205, zef::fourcc("ZEF!")), " [ZEF!].\n"));  // codes print their bytes in memory order
    EXPECT_TRUE(contains(message(308, 0), "0x00000000 [].\n"));  // a zero byte stops there
    EXPECT_TRUE(contains(message(119, 99), "less than 5.000000.\n"));  // limits from the table, not the secondary
    EXPECT_TRUE(contains(message(222, 0xFFFFFFFF), "A system error of 4294967295 occurred."));
    EXPECT_TRUE(contains(message(10, 0x80000000), "number is 2147483648."));
    for (unsigned n = 0; n <= 700; ++n) EXPECT_LT(message(uint16_t(n), 0xFFFFFFFF).size(), 300u) << n;
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
    KELVANE_DATA kd{};
    EXPECT_EQ(_StoreError(119, 55, &kd, "here", 70000), 119);
    EXPECT_EQ(kd.dwSecondaryError, 55u);
    EXPECT_EQ(_StoreError(402, 300, nullptr, "here", 1), 402);
}

// ---- validation -----------------------------------------------------------------

KELVANE_DATA validData(uint32_t inputType = 0x10201) {
    KELVANE_DATA kd{};
    kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
    kd.dwInputType = inputType;
    kd.dwOutputType = 0x10200;
    kd.fWarpedLengthFactor = 1.0f;
    kd.fAbsolutePitch = 100.0f;
    return kd;
}

// One fault (or none) per row, and the rule that speaks with its secondary
// value; limits are inclusive.  Several faults at once: the earlier rule.
TEST(Validate, EachRuleSpeaksWithItsSecondary) {
    using Edit = std::function<void(KELVANE_DATA&)>;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    int someBlock = 0;
    struct Row { const char* what; uint32_t type; Edit edit; uint16_t error; uint32_t secondary; };
    const Row rows[] = {
        {"valid", 0x10201, [](KELVANE_DATA&) {}, 0, 0},
        {"old form unchecked", 0x10201, [&](KELVANE_DATA& k) { k.wSizeOfKelvaneData = KELVANE_DATA_OLD_MARK; k.fWarpedLengthFactor = 100; k.lpControlBlock = &someBlock; }, 0, 0},
        {"too big", 0x10201, [](KELVANE_DATA& k) { k.wSizeOfKelvaneData = 149; }, ZEFERR_KELVANE_DATA_SIZE, 148},
        {"in use", 0x10201, [&](KELVANE_DATA& k) { k.lpControlBlock = &someBlock; k.fWarpedLengthFactor = 100; }, ZEFERR_KELVANE_ALREADY_INITIALIZED, 0},
        {"warp 5", 0x10201, [](KELVANE_DATA& k) { k.fWarpedLengthFactor = 5.0f; }, 0, 0},
        {"warp 0.2", 0x10201, [](KELVANE_DATA& k) { k.fWarpedLengthFactor = 0.2f; }, 0, 0},
        {"warp NaN", 0x10201, [=](KELVANE_DATA& k) { k.fWarpedLengthFactor = nan; }, 0, 0},
        {"warp big", 0x10201, [](KELVANE_DATA& k) { k.fWarpedLengthFactor = 5.0001f; }, ZEFERR_WARP_2_BIG, 0},
        {"warp small", 0x10201, [](KELVANE_DATA& k) { k.fWarpedLengthFactor = std::nextafter(0.2f, 0.0f); }, ZEFERR_WARP_2_SMALL, 0},
        {"pcm effects unchecked", 0x10200, [](KELVANE_DATA& k) { k.fWarpedLengthFactor = 50; k.fRelativePitch = 50; }, 0, 0},
        {"abs 400", 0x10201, [](KELVANE_DATA& k) { k.wUseAbsolutePitch = 1; k.fAbsolutePitch = 400; k.fRelativePitch = 99; }, 0, 0},
        {"abs big", 0x10201, [](KELVANE_DATA& k) { k.wUseAbsolutePitch = 1; k.fAbsolutePitch = 400.5f; }, ZEFERR_ABS_PITCH_2_BIG, 0},
        {"abs small", 0x10201, [](KELVANE_DATA& k) { k.wUseAbsolutePitch = 1; k.fAbsolutePitch = 69.5f; }, ZEFERR_ABS_PITCH_2_SMALL, 0},
        {"rel -24", 0x10201, [](KELVANE_DATA& k) { k.fRelativePitch = -24; k.fAbsolutePitch = 5000; }, 0, 0},
        {"rel big", 0x10201, [](KELVANE_DATA& k) { k.fRelativePitch = 24.5f; }, ZEFERR_REL_PITCH_2_BIG, 0},
        {"rel small", 0x10201, [](KELVANE_DATA& k) { k.fRelativePitch = -24.5f; }, ZEFERR_REL_PITCH_2_SMALL, 0},
        {"size for wave", 0x10200, [](KELVANE_DATA& k) { k.wInputBytesPerSample = 2; }, ZEFERR_DONT_GIVE_INPUT_SAMPLE_SIZE, 2},
        {"size for zef", 0x20201, [](KELVANE_DATA& k) { k.wInputBytesPerSample = 2; }, ZEFERR_NO_SAMPLE_SIZE_FOR_ZEF, 2},
        {"raw pcm", 0x20200, [](KELVANE_DATA& k) { k.wInputBytesPerSample = 2; k.dwInputSamplingRate = 8000; }, 0, 0},
        {"raw size 3", 0x20200, [](KELVANE_DATA& k) { k.wInputBytesPerSample = 3; k.dwInputSamplingRate = 8000; }, ZEFERR_INPUT_BYTES_PER_SAMPLE, 3},
        {"raw no size", 0x20200, [](KELVANE_DATA& k) { k.dwInputSamplingRate = 8000; }, ZEFERR_NO_INPUT_SAMPLE_SIZE, 0},
        {"out size 4", 0x10201, [](KELVANE_DATA& k) { k.wOutputBytesPerSample = 4; }, ZEFERR_OUTPUT_BYTES_PER_SAMPLE, 4},
        {"reserved", 0x10201, [](KELVANE_DATA& k) { k.wReserved = 7; }, ZEFERR_RESERVED_NOT_ZERO, 7},
        {"rate for wave", 0x10201, [](KELVANE_DATA& k) { k.dwInputSamplingRate = 8000; }, ZEFERR_DONT_GIVE_INPUT_SAMPLE_RATE, 8000},
        {"rate for zef", 0x20201, [](KELVANE_DATA& k) { k.dwInputSamplingRate = 8000; }, ZEFERR_NO_SAMPLE_RATE_FOR_ZEF, 8000},
        {"raw rate 12000", 0x20200, [](KELVANE_DATA& k) { k.wInputBytesPerSample = 2; k.dwInputSamplingRate = 12000; }, ZEFERR_BAD_INPUT_SAMPLING_RATE, 12000},
        {"raw no rate", 0x20200, [](KELVANE_DATA& k) { k.wInputBytesPerSample = 2; }, ZEFERR_NO_INPUT_SAMPLING_RATE, 0},
        {"fixed out rate", 0x10201, [](KELVANE_DATA& k) { k.dwOutputSamplingRate = ZEF_RATE_22254_FIXED; }, 0, 0},
        {"out rate 22254", 0x10201, [](KELVANE_DATA& k) { k.dwOutputSamplingRate = 22254; }, ZEFERR_BAD_OUTPUT_SAMPLING_RATE, 22254},
        {"several: warp first", 0x20201, [](KELVANE_DATA& k) { k.fWarpedLengthFactor = 9; k.wInputBytesPerSample = 2; k.wReserved = 1; }, ZEFERR_WARP_2_BIG, 0},
        {"several: size before reserved", 0x20201, [](KELVANE_DATA& k) { k.wOutputBytesPerSample = 3; k.wReserved = 1; k.dwInputSamplingRate = 8000; }, ZEFERR_OUTPUT_BYTES_PER_SAMPLE, 3},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        KELVANE_DATA kd = validData(r.type);
        r.edit(kd);
        kd.dwSecondaryError = 0xABCDEF;
        EXPECT_EQ(zef::ValidateKelvaneData(&kd), r.error);
        if (r.error && r.secondary) { EXPECT_EQ(kd.dwSecondaryError, r.secondary); }
    }
    for (uint32_t rate : zefAcceptedRates) {
        KELVANE_DATA kd = validData(0x20200);
        kd.wInputBytesPerSample = 2;
        kd.dwInputSamplingRate = rate;
        EXPECT_EQ(zef::ValidateKelvaneData(&kd), 0) << rate;
    }
    EXPECT_EQ(zef::ValidateKelvaneData(nullptr), ZEFERR_KELVANE_DATA_POINTER_NULL);
}

// ---- control block and start-up --------------------------------------------------

TEST(ControlBlock, AnOpenSessionIsNeitherReplacedNorFreedBlindly) {
    EXPECT_EQ(zef::NewZefControlBlock(nullptr), ZEFERR_KELVANE_DATA_POINTER_NULL);
    EXPECT_EQ(zef::FreeZefControlBlock(nullptr), ZEFERR_KELVANE_DATA_POINTER_NULL);
    KELVANE_DATA kd{};
    ASSERT_EQ(zef::NewZefControlBlock(&kd), 0);
    void* first = kd.lpControlBlock;
    EXPECT_EQ(zef::NewZefControlBlock(&kd), ZEFERR_KELVANE_ALREADY_INITIALIZED);
    EXPECT_EQ(kd.lpControlBlock, first);
    zef::controlBlock(&kd)->dwGuard = 0x12345678;  // a damaged block is not ours to free
    EXPECT_EQ(zef::FreeZefControlBlock(&kd), ZEFERR_INVALID_VCB);
    EXPECT_EQ(kd.lpControlBlock, first);
    zef::controlBlock(&kd)->dwGuard = zef::kControlBlockGuard;
    EXPECT_EQ(zef::FreeZefControlBlock(&kd), 0);
    EXPECT_EQ(kd.lpControlBlock, nullptr);
    EXPECT_EQ(zef::FreeZefControlBlock(&kd), 0);  // nothing left to free
}

TEST(Startup, FillsTheRecordAndShutdownForgetsUntilTheNextStart) {
    zefShutdown();
    EXPECT_EQ(zefStartup(nullptr), ZEFERR_STARTUP_RECORD_NULL);
    ZEF_STARTUP r;
    std::memset(&r, 0xEE, sizeof r);
    r.wSize = 44;
    EXPECT_EQ(zefStartup(&r), ZEFERR_STARTUP_RECORD_SIZE);
    EXPECT_EQ(r.dwVersion, 0xEEEEEEEEu);  // untouched
    const zef::GuisetteRecord* info = nullptr;
    EXPECT_EQ(zef::GetGuisetteInfo(101, &info), ZEFERR_GUII_UNKNOWN_GUISETTE);  // not started
    r.wSize = ZEF_STARTUP_SIZE;
    ASSERT_EQ(zefStartup(&r), 0);
    EXPECT_EQ(r.dwVersion, 0x00010001u);
    EXPECT_EQ(r.wCodecs, 2);
    EXPECT_EQ(r.wGuisettes, 27);
    EXPECT_STREQ(r.szName, "Mirlane 1.1.6");
    for (size_t i = std::strlen(r.szName); i < sizeof r.szName; ++i) EXPECT_EQ(r.szName[i], 0);
    ASSERT_EQ(zefStartup(&r), 0);  // twice: the same answers
    EXPECT_EQ(r.wGuisettes, 27);
    ASSERT_EQ(zef::GetGuisetteInfo(406, &info), 0);
    EXPECT_EQ(info->guisetteId, 406);
    for (unsigned missing : {1u, 100u, 104u, 606u, 65536u + 101u}) {
        EXPECT_EQ(zef::GetGuisetteInfo(missing, &info), ZEFERR_GUII_UNKNOWN_GUISETTE) << missing;
        EXPECT_EQ(info, nullptr);
    }
    EXPECT_EQ(zefShutdown(), 0);
    EXPECT_EQ(zef::GetGuisetteInfo(101, &info), ZEFERR_GUII_UNKNOWN_GUISETTE);
}

// ---- the version record ---------------------------------------------------------

TEST(VersionInfo, FillsExactlyTheBytesAskedForAfterItsChecks) {
    for (uint32_t size : {uint32_t(ZEF_VERSION_SIZE), uint32_t(ZEF_VERSION_SIZE_SHORT)}) {
        std::vector<uint8_t> buffer(ZEF_VERSION_SIZE + 64, 0xAA);
        KELVANE_DATA kd{};
        kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
        kd.dwOutputType = ZEFTYPE_VERSION_INFO;
        kd.lpOutputLocation = buffer.data();
        kd.dwOutputSize = size;
        ASSERT_EQ(utilGetVersionInfo(&kd), 0);
        for (uint32_t at = 0; at < size; at += ZEF_VERSION_ENTRY_SIZE) {
            ZEF_VERSION_ENTRY e;
            std::memcpy(&e, &buffer[at], sizeof e);
            EXPECT_STREQ(e.szVersion, "1.1.6.87 (Debug)");
            EXPECT_EQ(e.dwRevision, 0x00060057u);
        }
        for (size_t i = size; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0xAA) << i;
        std::fill(buffer.begin(), buffer.end(), 0xAA);
        kd.dwOutputType = ZEFTYPE_FILE_INFO;
        EXPECT_EQ(utilGetVersionInfo(&kd), ZEFERR_INVALID_OUTPUT_TYPE);
        kd.dwOutputType = ZEFTYPE_VERSION_INFO;
        kd.dwOutputSize = size + 1;
        EXPECT_EQ(utilGetVersionInfo(&kd), ZEFERR_ZEF_VERSION_SIZE);
        EXPECT_EQ(kd.dwSecondaryError, 624u);
        kd.lpOutputLocation = nullptr;
        EXPECT_EQ(utilGetVersionInfo(&kd), ZEFERR_ZEF_VERSION_POINTER_NULL);
        for (uint8_t b : buffer) ASSERT_EQ(b, 0xAA);
    }
}

// ---- attributes ---------------------------------------------------------------------

TEST(Attributes, ValuesAreClampedAndNaNBecomesTheMaximum) {
    KELVANE_DATA kd{};
    kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const std::tuple<uint32_t, float, float, uint16_t> rows[] = {
        {KELVANE_ATTR_RELATIVE_PITCH, 30, 24, 0}, {KELVANE_ATTR_RELATIVE_PITCH, -30, -24, 0}, {KELVANE_ATTR_RELATIVE_PITCH, nan, 24, 0},
        {KELVANE_ATTR_ABSOLUTE_PITCH, 50, 70, 1}, {KELVANE_ATTR_ABSOLUTE_PITCH, 1000, 400, 1}, {KELVANE_ATTR_ABSOLUTE_PITCH, 220, 220, 1},
        {KELVANE_ATTR_WARP, 0.1f, 0.2f, 1}, {KELVANE_ATTR_WARP, nan, 5, 1}, {KELVANE_ATTR_WARP, -inf, 0.2f, 1}, {KELVANE_ATTR_WARP, 2.5f, 2.5f, 1},
    };
    for (const auto& [id, value, stored, absolute] : rows) {
        SCOPED_TRACE(::testing::Message() << id << " " << value);
        KELVANE_ATTRIBUTE a{id, value, 0};
        ASSERT_EQ(utilMirlaneSetAttribute(&kd, &a), 0);
        KELVANE_ATTRIBUTE got{id, 0, 0};
        ASSERT_EQ(utilMirlaneGetAttribute(&kd, &got), 0);
        EXPECT_EQ(got.fValue, stored);
        EXPECT_EQ(kd.wUseAbsolutePitch, absolute);  // a pitch switches to its kind
    }
    EXPECT_EQ(kd.fWarpedLengthFactor, 2.5f);
    KELVANE_ATTRIBUTE a{KELVANE_ATTR_WARP, 9, 9};
    EXPECT_EQ(utilMirlaneGetAttribute(nullptr, &a), 65535);
    EXPECT_EQ(a.fValue, 0.0f);  // cleared before anything else
    EXPECT_EQ(utilMirlaneSetAttribute(&kd, nullptr), 65534);
}

TEST(Attributes, SessionSwitchesAndRefusals) {
    KELVANE_DATA kd{};
    kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
    KELVANE_ATTRIBUTE frameless{KELVANE_ATTR_FRAMELESS, 0, 0x10000};
    EXPECT_EQ(utilMirlaneSetAttribute(&kd, &frameless), 65535);  // needs a session
    ASSERT_EQ(zef::NewZefControlBlock(&kd), 0);
    zef::ZefControlBlock* cb = zef::controlBlock(&kd);
    EXPECT_EQ(utilMirlaneSetAttribute(&kd, &frameless), 0);  // non-zero even in the high half
    EXPECT_EQ(cb->wFrameless, 1);
    KELVANE_ATTRIBUTE bit{KELVANE_ATTR_BIT_POSITION, 0, 0x305};
    EXPECT_EQ(utilMirlaneSetAttribute(&kd, &bit), 0);  // only the low byte counts
    EXPECT_EQ(cb->wBitPosition, 5);
    bit.dwValue = 8;
    EXPECT_EQ(utilMirlaneSetAttribute(&kd, &bit), ZEFERR_UNKNOWN_ATTRIBUTE);
    EXPECT_EQ(cb->wBitPosition, 5);
    for (uint32_t id : {0u, 4u, 10u, 0x80001u, 0xFFFFFFFFu}) {
        KELVANE_ATTRIBUTE unknown{id, 0, 0};
        EXPECT_EQ(utilMirlaneGetAttribute(&kd, &unknown), ZEFERR_UNKNOWN_ATTRIBUTE);
        EXPECT_EQ(kd.dwSecondaryError, id);
    }
    cb->dwGuard = 0xBAD;
    KELVANE_ATTRIBUTE vad{KELVANE_ATTR_VAD_THRESHOLD, 0, 5};
    EXPECT_EQ(utilMirlaneSetAttribute(&kd, &vad), ZEFERR_INVALID_VCB);
    EXPECT_EQ(cb->dwVadThreshold, 0u);
    cb->dwGuard = zef::kControlBlockGuard;
    EXPECT_EQ(zef::FreeZefControlBlock(&kd), 0);
}

}  // namespace
