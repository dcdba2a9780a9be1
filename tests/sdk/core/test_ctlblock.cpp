// Creating and freeing the session control block.
#include <gtest/gtest.h>

#include "zefapi.h"

namespace {

uint16_t quietCallback(uint16_t, uint16_t, void*) { return 0; }

TEST(ControlBlock, IsLinkedBothWaysAndStartsFromTheCallersSettings) {
    KELVANE_DATA kd{};
    kd.lpCallback = quietCallback;
    kd.fWarpedLengthFactor = 1.5f;
    kd.fRelativePitch = -3.0f;
    kd.fAbsolutePitch = 120.0f;
    kd.wUseAbsolutePitch = 7;
    ASSERT_EQ(zef::NewZefControlBlock(&kd), 0);
    zef::ZefControlBlock* cb = zef::controlBlock(&kd);
    ASSERT_NE(cb, nullptr);
    EXPECT_EQ(cb->dwGuard, zef::kControlBlockGuard);
    EXPECT_EQ(cb->lpKelvaneData, &kd);
    EXPECT_EQ(cb->lpCallback, &quietCallback);
    EXPECT_EQ(cb->fWarp, 1.5f);
    EXPECT_EQ(cb->fRelPitch, -3.0f);
    EXPECT_EQ(cb->fAbsPitch, 120.0f);
    EXPECT_EQ(cb->wUseAbsPitch, 1);
    EXPECT_EQ(cb->lpInputVars, nullptr);
    EXPECT_EQ(cb->lpOutputVars, nullptr);
    EXPECT_EQ(zef::checkControlBlock(&kd), 0);

    EXPECT_EQ(zef::FreeZefControlBlock(&kd), 0);
    EXPECT_EQ(kd.lpControlBlock, nullptr);
    EXPECT_EQ(zef::FreeZefControlBlock(&kd), 0);  // nothing left to free
}

TEST(ControlBlock, AnOpenSessionIsNeitherReplacedNorFreedBlindly) {
    EXPECT_EQ(zef::NewZefControlBlock(nullptr), ZEFERR_KELVANE_DATA_POINTER_NULL);
    EXPECT_EQ(zef::FreeZefControlBlock(nullptr), ZEFERR_KELVANE_DATA_POINTER_NULL);

    KELVANE_DATA kd{};
    ASSERT_EQ(zef::NewZefControlBlock(&kd), 0);
    void* first = kd.lpControlBlock;
    EXPECT_EQ(zef::NewZefControlBlock(&kd), ZEFERR_KELVANE_ALREADY_INITIALIZED);
    EXPECT_EQ(kd.lpControlBlock, first);

    // A block whose guard is damaged is not ours to free.
    zef::controlBlock(&kd)->dwGuard = 0x12345678;
    EXPECT_EQ(zef::FreeZefControlBlock(&kd), ZEFERR_INVALID_VCB);
    EXPECT_EQ(kd.dwSecondaryError, 0x12345678u);
    EXPECT_EQ(kd.lpControlBlock, first);

    zef::controlBlock(&kd)->dwGuard = zef::kControlBlockGuard;
    EXPECT_EQ(zef::FreeZefControlBlock(&kd), 0);
    EXPECT_EQ(kd.lpControlBlock, nullptr);
}

}  // namespace
