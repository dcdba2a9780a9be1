// Guisettes in sessions of each mode, the application's calls, and the
// refusals of a setting.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "byteorder.h"
#include "guisette.h"
#include "pcmeffect.h"

namespace {

TEST(SetGuisette, RefusalsComeBeforeAnythingIsStored) {
    zef::GuisetteState s{};
    s.type = 4;
    s.squashBase = 7.0f;
    EXPECT_EQ(zef::SetGuisette(&s, 2, 256), ZEFERR_GU_AMOUNT_RANGE);
    EXPECT_EQ(zef::SetGuisette(&s, 2, -1), ZEFERR_GU_AMOUNT_RANGE);
    EXPECT_EQ(zef::SetGuisette(nullptr, 2, 256), ZEFERR_GU_AMOUNT_RANGE);  // the amount is checked first
    EXPECT_EQ(zef::SetGuisette(nullptr, 2, 10), ZEFERR_GU_STATE_NULL);
    EXPECT_EQ(zef::SetGuisette(&s, 10, 10), ZEFERR_GU_TYPE_RANGE);
    EXPECT_EQ(zef::SetGuisette(&s, -1, 10), ZEFERR_GU_TYPE_RANGE);
    EXPECT_EQ(s.type, 4);
    EXPECT_EQ(s.squashBase, 7.0f);
    // Type 0 is stored but keeps the earlier parameters.
    ASSERT_EQ(zef::SetGuisette(&s, 2, 255), 0);
    ASSERT_EQ(zef::SetGuisette(&s, 0, 50), 0);
    EXPECT_EQ(s.type, 0);
    EXPECT_EQ(s.squashBase, 250.0f);
}

class Session : public ::testing::Test {
protected:
    void SetUp() override {
        ZEF_STARTUP r{};
        r.wSize = ZEF_STARTUP_SIZE;
        ASSERT_EQ(zefStartup(&r), 0);
        kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
        ASSERT_EQ(zef::NewZefControlBlock(&kd), 0);
        cb = zef::controlBlock(&kd);
    }
    void TearDown() override {
        // The control block releases the effect state (the sanitizer build sees a leak).
        if (kd.lpControlBlock) { EXPECT_EQ(zef::FreeZefControlBlock(&kd), 0); }
        zefShutdown();
    }
    uint16_t initialize(uint16_t mode, uint16_t guisette) {
        cb->wMode = mode;
        cb->wGuisette = guisette;
        return zef::InitializeGuisettes(&kd, cb);
    }
    zef::PCMEffectState* effect() const { return static_cast<zef::PCMEffectState*>(cb->lpPCMEffect); }

    KELVANE_DATA kd{};
    zef::ZefControlBlock* cb = nullptr;
};

// Decoding loads the preset's PCM effect, encoding its transformation.
TEST_F(Session, EachModeSetsUpItsSide) {
    struct Row {
        uint16_t mode, guisette;
        int effectId;  // -1: no effect state; 0: a state with nothing loaded
        int type;      // transformation type, -1 when decoding only
        uint16_t kept; // the session's number afterwards
    };
    const Row rows[] = {{zef::kModeDecompress, 201, 5003, -1, 201}, {zef::kModeDecompress, 101, 0, -1, 0},
                        {zef::kModeCompress, 105, -1, 6, 105},      {zef::kModeBoth, 106, 6006, 2, 106}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.guisette);
        TearDown();
        SetUp();
        cb->dwGuisetteReserved = 0xFFFFFFFF;
        ASSERT_EQ(initialize(r.mode, r.guisette), 0);
        if (r.effectId < 0) {
            EXPECT_EQ(effect(), nullptr);
        } else {
            ASSERT_NE(effect(), nullptr);
            if (r.effectId) {
                EXPECT_EQ(effect()->effectId, r.effectId);
            }
            EXPECT_EQ(effect()->kind == zef::kEffectNone, r.effectId == 0);
            EXPECT_EQ(cb->dwGuisetteReserved, 0u);  // the catalogue's reserved word
        }
        EXPECT_EQ(cb->guisette.type, std::max(r.type, 0));  // no transformation when decoding
        EXPECT_EQ(cb->wGuisette, r.kept);                 // none without an effect when decoding
    }
}

TEST_F(Session, RefusedActivations) {
    EXPECT_EQ(initialize(0, 201), ZEFERR_NO_EFFECT_KIND);
    EXPECT_EQ(initialize(4, 0), ZEFERR_NO_EFFECT_KIND);
    EXPECT_EQ(initialize(zef::kModeDecompress, 999), ZEFERR_GUII_UNKNOWN_GUISETTE);
    EXPECT_EQ(kd.dwSecondaryError, 999u);
    EXPECT_EQ(cb->wGuisette, 999);  // a failed activation leaves the number as it was set
    EXPECT_EQ(zefSetGuisette(&kd, 65536u + 201u), ZEFERR_GUII_UNKNOWN_GUISETTE);  // not cut to 16 bits
    EXPECT_EQ(kd.dwSecondaryError, 65536u + 201u);

    EXPECT_EQ(zef::ActivateGuisette(nullptr, 201), ZEFERR_INVALID_VCB);
    EXPECT_EQ(zefSetGuisette(nullptr, 201), ZEFERR_INVALID_VCB);
    zefShutdown();  // no catalogue before zefStartup
    EXPECT_EQ(zef::ActivateGuisette(&kd, 201), ZEFERR_GUII_UNKNOWN_GUISETTE);
}

// A Guisette chosen while decoding changes the effect but keeps the line.
TEST_F(Session, ChangingTheGuisetteWhileDecoding) {
    ASSERT_EQ(initialize(zef::kModeDecompress, 302), 0);
    ASSERT_EQ(initialize(zef::kModeDecompress, 301), 0);  // a second set-up does not leak
    std::vector<int16_t> frame(180, 1000);
    ASSERT_EQ(zef::ApplyPCMEffect(effect(), 180, frame.data()), 0);
    const int16_t* line = effect()->lineStart;
    const int16_t* position = effect()->writePos;
    ASSERT_EQ(zefSetGuisette(&kd, 305), 0);
    EXPECT_EQ(cb->wGuisette, 305);
    EXPECT_EQ(effect()->effectId, 5009);
    EXPECT_EQ(effect()->writePos, position);
    EXPECT_EQ(line[0], 900);
    ASSERT_EQ(zefSetGuisette(&kd, 0), 0);  // "None" switches the effect off
    EXPECT_EQ(cb->wGuisette, 0);
    EXPECT_EQ(zef::CleanupGuisettes(cb), 0);
    EXPECT_EQ(cb->lpPCMEffect, nullptr);
    EXPECT_EQ(zef::CleanupGuisettes(cb), 0);
    EXPECT_EQ(zef::CleanupGuisettes(nullptr), 0);
}

TEST_F(Session, ChunksAreMadeRefusedAndChosenBy) {
    ZEF_GUISETTE_CHUNK chunk{};
    uint32_t size = 64;
    EXPECT_EQ(zefGetGuisetteChunk(201, nullptr, &size), ZEFERR_GU_CHUNK_NULL);
    EXPECT_EQ(zefGetGuisetteChunk(999, &chunk, &size), ZEFERR_GUII_UNKNOWN_GUISETTE);
    size = 9;
    EXPECT_EQ(zefGetGuisetteChunk(201, &chunk, &size), ZEFERR_PREVIEW_NOT_FOUND);
    EXPECT_EQ(zefGetGuisetteChunk(201, &chunk, nullptr), ZEFERR_PREVIEW_NOT_FOUND);
    size = 64;
    ASSERT_EQ(zefGetGuisetteChunk(603, &chunk, &size), 0);
    EXPECT_EQ(size, 10u);
    const uint8_t expected[10] = {'Z', 'E', 'f', 'G', 2, 0, 0, 0, 603 & 0xFF, 603 >> 8};
    EXPECT_EQ(std::memcmp(&chunk, expected, 10), 0);
    uint8_t written[10] = {};  // the file writer's chunk is the same one
    uint8_t* cursor = written;
    ASSERT_EQ(zef::EmbedGuisetteChunk(&cursor, 603), 0);
    EXPECT_EQ(cursor, written + 10);
    EXPECT_EQ(std::memcmp(written, expected, 10), 0);

    ASSERT_EQ(initialize(zef::kModeDecompress, 0), 0);
    size = 10;
    ASSERT_EQ(zefGetGuisetteChunk(201, &chunk, &size), 0);
    kd.dwSecondaryError = 4321;
    ZEF_GUISETTE_CHUNK wrong = chunk;
    wrong.ckId[3] = 'g';
    EXPECT_EQ(zefSetGuisetteUsingChunk(&kd, &wrong), ZEFERR_PREVIEW_NOT_FOUND);
    wrong = chunk;
    zef::writeLE32(wrong.ckSize, 3);
    EXPECT_EQ(zefSetGuisetteUsingChunk(&kd, &wrong), ZEFERR_GU_CHUNK_LENGTH);
    EXPECT_EQ(kd.dwSecondaryError, 4321u);  // neither refusal is recorded
    EXPECT_EQ(zefSetGuisetteUsingChunk(&kd, nullptr), ZEFERR_GU_CHUNK_NULL);
    EXPECT_EQ(effect()->kind, zef::kEffectNone);
    ASSERT_EQ(zefSetGuisetteUsingChunk(&kd, &chunk), 0);
    EXPECT_EQ(cb->wGuisette, 201);
    EXPECT_EQ(effect()->effectId, 5003);
    zef::writeLE16(chunk.guisetteId, 777);
    EXPECT_EQ(zefSetGuisetteUsingChunk(&kd, &chunk), ZEFERR_GUII_UNKNOWN_GUISETTE);
    EXPECT_EQ(cb->wGuisette, 201);
}

}  // namespace
