// Attribute calls, with and without an open session.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "zefapi.h"

namespace {

constexpr uint16_t kNoStructure = 65535;
constexpr uint16_t kNoRecord = 65534;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

KELVANE_ATTRIBUTE attribute(uint32_t id, float f = 0.0f, uint32_t dw = 0) { return {id, f, dw}; }

KELVANE_DATA structure() {
    KELVANE_DATA kd{};
    kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
    kd.fWarpedLengthFactor = 1.25f;
    kd.fRelativePitch = 3.0f;
    kd.fAbsolutePitch = 150.0f;
    return kd;
}

float setThenStored(KELVANE_DATA& kd, uint32_t id, float value) {
    KELVANE_ATTRIBUTE a = attribute(id, value);
    EXPECT_EQ(utilMirlaneSetAttribute(&kd, &a), 0);
    KELVANE_ATTRIBUTE got = attribute(id);
    EXPECT_EQ(utilMirlaneGetAttribute(&kd, &got), 0);
    return got.fValue;
}

TEST(Attributes, MissingPointers) {
    KELVANE_DATA kd = structure();
    KELVANE_ATTRIBUTE a = attribute(KELVANE_ATTR_WARP, 9.0f, 9);
    EXPECT_EQ(utilMirlaneGetAttribute(nullptr, &a), kNoStructure);
    EXPECT_EQ(a.fValue, 0.0f);  // cleared before anything else
    EXPECT_EQ(a.dwValue, 0u);
    EXPECT_EQ(utilMirlaneGetAttribute(&kd, nullptr), kNoRecord);
    EXPECT_EQ(utilMirlaneSetAttribute(nullptr, &a), kNoStructure);
    EXPECT_EQ(utilMirlaneSetAttribute(&kd, nullptr), kNoRecord);
}

TEST(Attributes, ClampingKeepsValuesInRangeAndNaNBecomesTheMaximum) {
    KELVANE_DATA kd = structure();
    kd.wUseAbsolutePitch = 1;
    EXPECT_EQ(setThenStored(kd, KELVANE_ATTR_RELATIVE_PITCH, 30.0f), 24.0f);
    EXPECT_EQ(kd.fRelativePitch, 24.0f);
    EXPECT_EQ(kd.wUseAbsolutePitch, 0);  // switched to relative pitch
    EXPECT_EQ(setThenStored(kd, KELVANE_ATTR_RELATIVE_PITCH, -30.0f), -24.0f);
    EXPECT_EQ(setThenStored(kd, KELVANE_ATTR_RELATIVE_PITCH, kNaN), 24.0f);

    EXPECT_EQ(setThenStored(kd, KELVANE_ATTR_ABSOLUTE_PITCH, 50.0f), 70.0f);
    EXPECT_EQ(kd.wUseAbsolutePitch, 1);  // switched to absolute pitch
    EXPECT_EQ(setThenStored(kd, KELVANE_ATTR_ABSOLUTE_PITCH, 1000.0f), 400.0f);
    EXPECT_EQ(setThenStored(kd, KELVANE_ATTR_ABSOLUTE_PITCH, 220.0f), 220.0f);

    EXPECT_EQ(setThenStored(kd, KELVANE_ATTR_WARP, 0.1f), 0.2f);
    EXPECT_EQ(setThenStored(kd, KELVANE_ATTR_WARP, kNaN), 5.0f);
    EXPECT_EQ(setThenStored(kd, KELVANE_ATTR_WARP, -kInf), 0.2f);
    EXPECT_EQ(setThenStored(kd, KELVANE_ATTR_WARP, kInf), 5.0f);
    EXPECT_EQ(setThenStored(kd, KELVANE_ATTR_WARP, 2.5f), 2.5f);
    EXPECT_EQ(kd.fWarpedLengthFactor, 2.5f);
}

TEST(Attributes, WithoutASessionOnlyTheStructuresSettingsAnswer) {
    KELVANE_DATA kd = structure();
    KELVANE_ATTRIBUTE a = attribute(KELVANE_ATTR_WARP);
    EXPECT_EQ(utilMirlaneGetAttribute(&kd, &a), 0);
    EXPECT_EQ(a.fValue, 1.25f);
    a = attribute(KELVANE_ATTR_RESERVED_5, 3.0f, 3);
    EXPECT_EQ(utilMirlaneGetAttribute(&kd, &a), 0);
    EXPECT_EQ(a.fValue, 0.0f);
    EXPECT_EQ(a.dwValue, 0u);
    a = attribute(KELVANE_ATTR_HEADER_VALUE, 3.0f);
    EXPECT_EQ(utilMirlaneGetAttribute(&kd, &a), 0);
    EXPECT_EQ(a.fValue, 0.0f);

    for (uint32_t id : {8u, 9u, 0x80002u, 0x80003u, 0x80004u, 0x80005u, 0x80006u, 0x80007u, 0x80008u}) {
        a = attribute(id);
        EXPECT_EQ(utilMirlaneGetAttribute(&kd, &a), kNoStructure) << std::hex << id;
    }
    for (uint32_t id : {0x80002u, 0x80003u, 0x80004u, 0x80005u, 0x80006u, 0x80007u, 0x80008u}) {
        a = attribute(id);
        EXPECT_EQ(utilMirlaneSetAttribute(&kd, &a), kNoStructure) << std::hex << id;
    }
    for (uint32_t id : {5u, 7u, 8u, 9u}) {
        a = attribute(id);
        EXPECT_EQ(utilMirlaneSetAttribute(&kd, &a), ZEFERR_UNKNOWN_ATTRIBUTE) << id;
        EXPECT_EQ(kd.dwSecondaryError, id);
    }
}

TEST(Attributes, UnknownIdentifiersNameThemselves) {
    KELVANE_DATA kd = structure();
    ASSERT_EQ(zef::NewZefControlBlock(&kd), 0);
    for (uint32_t id : {0u, 4u, 6u, 10u, 0x80001u, 0x80009u, 0xFFFFFFFFu}) {
        KELVANE_ATTRIBUTE a = attribute(id);
        EXPECT_EQ(utilMirlaneGetAttribute(&kd, &a), ZEFERR_UNKNOWN_ATTRIBUTE);
        EXPECT_EQ(kd.dwSecondaryError, id);
        kd.dwSecondaryError = 0;
        EXPECT_EQ(utilMirlaneSetAttribute(&kd, &a), ZEFERR_UNKNOWN_ATTRIBUTE);
        EXPECT_EQ(kd.dwSecondaryError, id);
    }
    EXPECT_EQ(zef::FreeZefControlBlock(&kd), 0);
}

class SessionAttributes : public ::testing::Test {
protected:
    void SetUp() override {
        kd = structure();
        ASSERT_EQ(zef::NewZefControlBlock(&kd), 0);
        cb = zef::controlBlock(&kd);
    }
    void TearDown() override { EXPECT_EQ(zef::FreeZefControlBlock(&kd), 0); }

    uint16_t get(uint32_t id, KELVANE_ATTRIBUTE& a) {
        a = attribute(id);
        return utilMirlaneGetAttribute(&kd, &a);
    }
    uint16_t set(uint32_t id, uint32_t value) {
        KELVANE_ATTRIBUTE a = attribute(id, 0.0f, value);
        return utilMirlaneSetAttribute(&kd, &a);
    }

    KELVANE_DATA kd;
    zef::ZefControlBlock* cb = nullptr;
};

TEST_F(SessionAttributes, EffectsAreReadFromTheSessionAndWrittenToBoth) {
    KELVANE_ATTRIBUTE a;
    kd.fWarpedLengthFactor = 3.0f;  // changed behind the session's back
    ASSERT_EQ(get(KELVANE_ATTR_WARP, a), 0);
    EXPECT_EQ(a.fValue, 1.25f);

    KELVANE_ATTRIBUTE pitch = attribute(KELVANE_ATTR_ABSOLUTE_PITCH, 90.0f);
    ASSERT_EQ(utilMirlaneSetAttribute(&kd, &pitch), 0);
    EXPECT_EQ(cb->fAbsPitch, 90.0f);
    EXPECT_EQ(cb->wUseAbsPitch, 1);
    EXPECT_EQ(kd.fAbsolutePitch, 90.0f);
    EXPECT_EQ(kd.wUseAbsolutePitch, 1);

    cb->fDefaultValue = 0.75f;
    ASSERT_EQ(get(KELVANE_ATTR_HEADER_VALUE, a), 0);
    EXPECT_EQ(a.fValue, 0.75f);
    cb->wBitRate = 2978;
    ASSERT_EQ(get(KELVANE_ATTR_BIT_RATE, a), 0);
    EXPECT_EQ(a.dwValue, 2978u);
}

TEST_F(SessionAttributes, GainIsReadOnceThenCleared) {
    cb->dwAgcValue = 1234;
    KELVANE_ATTRIBUTE a;
    ASSERT_EQ(get(KELVANE_ATTR_AGC_VALUE, a), 0);
    EXPECT_EQ(a.dwValue, 1234u);
    ASSERT_EQ(get(KELVANE_ATTR_AGC_VALUE, a), 0);
    EXPECT_EQ(a.dwValue, 0u);
}

TEST_F(SessionAttributes, SessionSwitches) {
    KELVANE_ATTRIBUTE a;
    EXPECT_EQ(set(KELVANE_ATTR_FRAMELESS, 0x10000), 0);  // non-zero even in the high half
    EXPECT_EQ(cb->wFrameless, 1);
    EXPECT_EQ(set(KELVANE_ATTR_FRAMELESS, 0), 0);
    EXPECT_EQ(cb->wFrameless, 0);
    EXPECT_EQ(get(KELVANE_ATTR_FRAMELESS, a), ZEFERR_UNKNOWN_ATTRIBUTE);

    EXPECT_EQ(set(KELVANE_ATTR_AGC_MODE, 0xFFFFFFFF), 0);
    EXPECT_EQ(cb->iAgcMode, -1);
    EXPECT_EQ(set(KELVANE_ATTR_VAD_THRESHOLD, 77), 0);
    ASSERT_EQ(get(KELVANE_ATTR_VAD_THRESHOLD, a), 0);
    EXPECT_EQ(a.dwValue, 77u);

    EXPECT_EQ(set(KELVANE_ATTR_BIT_POSITION, 0x305), 0);  // only the low byte counts
    EXPECT_EQ(cb->wBitPosition, 5);
    EXPECT_EQ(set(KELVANE_ATTR_BIT_POSITION, 8), ZEFERR_UNKNOWN_ATTRIBUTE);
    EXPECT_EQ(cb->wBitPosition, 5);  // a position past the byte is refused
    EXPECT_EQ(get(KELVANE_ATTR_BIT_POSITION, a), ZEFERR_UNKNOWN_ATTRIBUTE);
}

TEST_F(SessionAttributes, ADamagedSessionIsRefused) {
    cb->dwGuard = 0xBAD;
    KELVANE_ATTRIBUTE a;
    EXPECT_EQ(get(KELVANE_ATTR_WARP, a), ZEFERR_INVALID_VCB);
    EXPECT_EQ(kd.dwSecondaryError, 0xBADu);
    EXPECT_EQ(set(KELVANE_ATTR_VAD_THRESHOLD, 5), ZEFERR_INVALID_VCB);
    EXPECT_EQ(cb->dwVadThreshold, 0u);
    cb->dwGuard = zef::kControlBlockGuard;
}

}  // namespace
