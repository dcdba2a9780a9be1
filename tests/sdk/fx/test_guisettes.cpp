// Guisettes: the transformation settings and their readers, activation in
// sessions of each mode, and the application's calls.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "byteorder.h"
#include "guisette.h"
#include "pcmeffect.h"

namespace {

using zef::GuisetteState;

// ---- SetGuisette and the readers ------------------------------------------------

struct Expected {
    int type, amount;
    float semitones, squashBase, squashRange, squashSlope, altLow, altHigh, pitchFactor, formantWarp;
    int warpOn;
};
constexpr float kKeep = -999.0f;  // member not named by the type: stays as it was

constexpr Expected kSettings[] = {
    // type amount semitones squashBase range slope altLow altHigh pitchFactor formantWarp warpOn
    {1, 0, kKeep, kKeep, kKeep, kKeep, kKeep, kKeep, 0.0f, kKeep, 0},
    {2, 0, kKeep, 85.0f, 30.0f, 30.0f / 436.0f, kKeep, kKeep, kKeep, kKeep, 0},
    {2, 255, kKeep, 250.0f, 30.0f, 30.0f / 436.0f, kKeep, kKeep, kKeep, kKeep, 0},
    {3, 0, kKeep, kKeep, kKeep, kKeep, 64.0f, 124.0f, kKeep, kKeep, 0},
    {3, 255, kKeep, kKeep, kKeep, kKeep, 64.0f, 164.0f, kKeep, kKeep, 0},
    {4, 0, -10.0f, kKeep, kKeep, kKeep, kKeep, kKeep, 0.5612310f, kKeep, 0},
    {4, 255, 10.0f, kKeep, kKeep, kKeep, kKeep, kKeep, 1.7817974f, kKeep, 0},
    {5, 0, -15.0f, kKeep, kKeep, kKeep, kKeep, kKeep, 0.4204482f, 1.3f, 1},
    {5, 255, 25.0f, kKeep, kKeep, kKeep, kKeep, kKeep, 4.2378523f, 0.7f, 1},
    {6, 0, kKeep, 250.0f, 15.0f, 15.0f / 436.0f, kKeep, kKeep, kKeep, 1.35f, 1},
    {6, 255, kKeep, 85.0f, 15.0f, 15.0f / 436.0f, kKeep, kKeep, kKeep, 0.6f, 1},
    {7, 0, kKeep, kKeep, kKeep, kKeep, kKeep, kKeep, 0.0f, 1.35f, 1},
    {7, 255, kKeep, kKeep, kKeep, kKeep, kKeep, kKeep, 0.0f, 0.6f, 1},
    {8, 0, 1.4705882f, kKeep, kKeep, kKeep, kKeep, kKeep, 1.0886567f, 0.6147059f, 1},
    {8, 255, 1.4705882f, kKeep, kKeep, kKeep, kKeep, kKeep, 1.0886567f, 0.6147059f, 1},
    {9, 0, 25.0f, kKeep, kKeep, kKeep, kKeep, kKeep, 4.2378523f, 1.35f, 1},
    {9, 255, -15.0f, kKeep, kKeep, kKeep, kKeep, kKeep, 0.4204482f, 0.6f, 1},
};

// A state whose every member is a marker, so that a member the type does
// not name can be seen to keep its value.
GuisetteState marked() {
    GuisetteState s{};
    s.semitones = s.squashBase = s.squashRange = s.altLow = s.altHigh = kKeep;
    s.framePitch = s.frameVoicing = s.squashSlope = s.pitchFactor = s.pitchFactor2 = kKeep;
    s.voicingFactor = s.formantWarp = kKeep;
    s.warpOn = 77;
    return s;
}

void expectMember(float actual, float expected, const char* name) {
    if (expected == kKeep)
        EXPECT_EQ(actual, kKeep) << name << " should be left alone";
    else
        EXPECT_NEAR(actual, expected, std::fabs(expected) * 2e-6 + 1e-6) << name;
}

TEST(SetGuisette, SettingsOfEachTypeAtBothEndsOfTheAmount) {
    for (const Expected& e : kSettings) {
        SCOPED_TRACE(::testing::Message() << "type " << e.type << " amount " << e.amount);
        GuisetteState s = marked();
        ASSERT_EQ(zef::SetGuisette(&s, int16_t(e.type), int16_t(e.amount)), 0);
        EXPECT_EQ(s.type, e.type);
        expectMember(s.semitones, e.semitones, "semitones");
        expectMember(s.squashBase, e.squashBase, "squashBase");
        expectMember(s.squashRange, e.squashRange, "squashRange");
        expectMember(s.squashSlope, e.squashSlope, "squashSlope");
        expectMember(s.altLow, e.altLow, "altLow");
        expectMember(s.altHigh, e.altHigh, "altHigh");
        expectMember(s.pitchFactor, e.pitchFactor, "pitchFactor");
        expectMember(s.pitchFactor2, e.type == 5 ? e.pitchFactor : kKeep, "pitchFactor2");
        expectMember(s.formantWarp, e.formantWarp, "formantWarp");
        expectMember(s.voicingFactor, kKeep, "voicingFactor");
        expectMember(s.framePitch, kKeep, "framePitch");
        EXPECT_EQ(s.warpOn, e.warpOn);
    }
}

TEST(SetGuisette, RefusalsComeBeforeAnythingIsStored) {
    GuisetteState s = marked();
    s.type = 4;
    EXPECT_EQ(zef::SetGuisette(&s, 2, 256), ZEFERR_GU_AMOUNT_RANGE);
    EXPECT_EQ(zef::SetGuisette(&s, 2, -1), ZEFERR_GU_AMOUNT_RANGE);
    EXPECT_EQ(zef::SetGuisette(nullptr, 2, 256), ZEFERR_GU_AMOUNT_RANGE);  // the amount is checked first
    EXPECT_EQ(zef::SetGuisette(nullptr, 2, 10), ZEFERR_GU_STATE_NULL);
    EXPECT_EQ(zef::SetGuisette(&s, 10, 10), ZEFERR_GU_TYPE_RANGE);
    EXPECT_EQ(zef::SetGuisette(&s, -1, 10), ZEFERR_GU_TYPE_RANGE);
    EXPECT_EQ(s.type, 4);
    EXPECT_EQ(s.squashBase, kKeep);

    // Type 0 is stored but keeps the earlier parameters.
    ASSERT_EQ(zef::SetGuisette(&s, 2, 255), 0);
    ASSERT_EQ(zef::SetGuisette(&s, 0, 50), 0);
    EXPECT_EQ(s.type, 0);
    EXPECT_EQ(s.squashBase, 250.0f);
}

TEST(GuisetteReaders, WhatTheAnalysisSideReads) {
    GuisetteState s = marked();
    ASSERT_EQ(zef::InitGuisette(&s), 0);
    EXPECT_EQ(s.formantWarp, 1.0f);
    ASSERT_EQ(zef::SetGuisette(&s, 3, 0), 0);
    const float expected[] = {124.0f, 64.0f, 124.0f, 64.0f, 124.0f};
    for (float e : expected) EXPECT_EQ(zef::minMax_gu2(&s), e);

    ASSERT_EQ(zef::SetGuisette(&s, 2, 255), 0);
    s.framePitch = 200.0f;
    EXPECT_NEAR(zef::squash_gu2(&s), 263.76f, 0.01f);

    ASSERT_EQ(zef::SetGuisette(&s, 4, 255), 0);
    s.framePitch = 100.0f;
    EXPECT_NEAR(zef::transposition_gu2(&s), 178.18f, 0.01f);

    s.frameVoicing = 0.8f;
    EXPECT_EQ(zef::voicing_gu2(&s), 0.0f);  // a whisper: voicingFactor is never set
    EXPECT_EQ(zef::minMax_gu2(nullptr), 0.0f);
}

// ---- sessions -------------------------------------------------------------------------

class Session : public ::testing::Test {
protected:
    void SetUp() override {
        zefShutdown();
        start();
        kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
        ASSERT_EQ(zef::NewZefControlBlock(&kd), 0);
        cb = zef::controlBlock(&kd);
    }
    void TearDown() override {
        // Freeing the control block releases the effect state with it (the
        // sanitizer build reports a leak otherwise).
        if (kd.lpControlBlock) {
            EXPECT_EQ(zef::FreeZefControlBlock(&kd), 0);
        }
        zefShutdown();
    }
    static void start() {
        ZEF_STARTUP r{};
        r.wSize = ZEF_STARTUP_SIZE;
        ASSERT_EQ(zefStartup(&r), 0);
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

TEST_F(Session, DecompressionEnablesTheGuisettesEffect) {
    cb->dwGuisetteReserved = 0xFFFFFFFF;
    ASSERT_EQ(initialize(zef::kModeDecompress, 201), 0);
    ASSERT_NE(effect(), nullptr);
    EXPECT_EQ(effect()->kind, zef::kEffectModDelay);
    EXPECT_EQ(effect()->effectId, 5003);
    EXPECT_EQ(cb->wGuisette, 201);
    EXPECT_EQ(cb->dwGuisetteReserved, 0u);  // the catalogue's reserved word
    EXPECT_EQ(cb->guisette.formantWarp, 0.0f);  // no transformation state when decoding
}

TEST_F(Session, DecompressionDropsAGuisetteWithoutEffect) {
    ASSERT_EQ(initialize(zef::kModeDecompress, 101), 0);
    ASSERT_NE(effect(), nullptr);
    EXPECT_EQ(effect()->kind, zef::kEffectNone);
    EXPECT_EQ(cb->wGuisette, 0);  // so the decoder skips the effect
}

TEST_F(Session, CompressionSetsTheTransformationOnly) {
    ASSERT_EQ(initialize(zef::kModeCompress, 105), 0);
    EXPECT_EQ(effect(), nullptr);
    EXPECT_EQ(cb->guisette.type, 6);
    EXPECT_NEAR(cb->guisette.squashBase, 165.0f * 95.0f / 255.0f + 85.0f, 1e-4);
    EXPECT_EQ(cb->wGuisette, 105);
}

TEST_F(Session, BothModesSetBoth) {
    ASSERT_EQ(initialize(zef::kModeBoth, 106), 0);
    EXPECT_EQ(cb->guisette.type, 2);
    ASSERT_NE(effect(), nullptr);
    EXPECT_EQ(effect()->effectId, 6006);
    EXPECT_EQ(effect()->kind, zef::kEffectRing);
}

TEST_F(Session, RefusedActivations) {
    EXPECT_EQ(initialize(0, 201), ZEFERR_NO_EFFECT_KIND);
    EXPECT_EQ(initialize(4, 0), ZEFERR_NO_EFFECT_KIND);

    EXPECT_EQ(initialize(zef::kModeDecompress, 999), ZEFERR_GUII_UNKNOWN_GUISETTE);
    EXPECT_EQ(kd.dwSecondaryError, 999u);
    EXPECT_EQ(cb->wGuisette, 999);  // a failed activation leaves the number as it was set

    cb->wMode = zef::kModeDecompress;
    EXPECT_EQ(zef::ActivateGuisette(nullptr, 201), ZEFERR_INVALID_VCB);
    cb->dwGuard = 0xBADBAD;
    EXPECT_EQ(zef::ActivateGuisette(&kd, 201), ZEFERR_INVALID_VCB);
    EXPECT_EQ(kd.dwSecondaryError, 0xBADBADu);
    EXPECT_EQ(zef::InitializeGuisettes(&kd, cb), ZEFERR_INVALID_VCB);
    cb->dwGuard = zef::kControlBlockGuard;

    // Before zefStartup no catalogue is published.
    zefShutdown();
    EXPECT_EQ(zef::ActivateGuisette(&kd, 201), ZEFERR_GUII_UNKNOWN_GUISETTE);
}

TEST_F(Session, ASecondSetUpAndCleanupDoNotLeak) {
    ASSERT_EQ(initialize(zef::kModeDecompress, 302), 0);
    ASSERT_EQ(initialize(zef::kModeDecompress, 303), 0);
    EXPECT_EQ(effect()->effectId, 5007);
    EXPECT_EQ(zef::CleanupGuisettes(cb), 0);
    EXPECT_EQ(cb->lpPCMEffect, nullptr);
    EXPECT_EQ(zef::CleanupGuisettes(cb), 0);
    EXPECT_EQ(zef::CleanupGuisettes(nullptr), 0);
}

// A Guisette chosen while decoding changes the effect but keeps the line.
TEST_F(Session, ChangingTheGuisetteWhileDecoding) {
    ASSERT_EQ(initialize(zef::kModeDecompress, 301), 0);
    std::vector<int16_t> frame(180, 1000);
    ASSERT_EQ(zef::ApplyPCMEffect(effect(), 180, frame.data()), 0);
    const int16_t* line = effect()->lineStart;
    const int16_t* position = effect()->writePos;

    ASSERT_EQ(zefSetGuisette(&kd, 305), 0);
    EXPECT_EQ(cb->wGuisette, 305);
    EXPECT_EQ(effect()->effectId, 5009);
    EXPECT_EQ(effect()->lineStart, line);
    EXPECT_EQ(effect()->writePos, position);
    EXPECT_EQ(line[0], 900);

    ASSERT_EQ(zefSetGuisette(&kd, 0), 0);  // "None" switches the effect off
    EXPECT_EQ(cb->wGuisette, 0);
}

// ---- the application interface ----------------------------------------------------

TEST_F(Session, EveryCallNeedsAStartedLibrary) {
    zefShutdown();
    std::vector<char> buffer(ZEF_GUISETTE_DESCRIPTION_SIZE * 27);
    uint16_t count = 27;
    EXPECT_EQ(zefGetGuisetteDescriptions(buffer.data(), &count), ZEFERR_LIBRARY_NOT_STARTED);
    EXPECT_EQ(zefSetGuisette(&kd, 201), ZEFERR_LIBRARY_NOT_STARTED);
    ZEF_GUISETTE_CHUNK chunk{};
    uint32_t size = 10;
    EXPECT_EQ(zefGetGuisetteChunk(201, &chunk, &size), ZEFERR_LIBRARY_NOT_STARTED);
    std::memcpy(chunk.ckId, "ZEfG", 4);
    zef::writeLE32(chunk.ckSize, 2);
    zef::writeLE16(chunk.guisetteId, 201);
    EXPECT_EQ(zefSetGuisetteUsingChunk(&kd, &chunk), ZEFERR_LIBRARY_NOT_STARTED);
    EXPECT_EQ(cb->wGuisette, 0);

    // The control block is checked before the library.
    EXPECT_EQ(zefSetGuisette(nullptr, 201), ZEFERR_INVALID_VCB);

    start();
    zef::ThisInstance* instance = nullptr;
    ASSERT_EQ(zef::GetThisInstance(&instance), 0);
    instance->wStartupSize = 44;
    EXPECT_EQ(zefGetGuisetteDescriptions(buffer.data(), &count), ZEFERR_STARTUP_SIZE_REMEMBERED);
    EXPECT_EQ(zefGetGuisetteChunk(201, &chunk, &size), 0);  // only the first calls check the size
}

TEST_F(Session, DescriptionsInCatalogueOrder) {
    std::vector<char> buffer(ZEF_GUISETTE_DESCRIPTION_SIZE * 30, char(0xEE));
    EXPECT_EQ(zefGetGuisetteDescriptions(nullptr, nullptr), ZEFERR_GU_DESCRIPTION_BUFFER_NULL);
    EXPECT_EQ(zefGetGuisetteDescriptions(buffer.data(), nullptr), ZEFERR_GU_DESCRIPTION_COUNT_NULL);

    uint16_t count = 100;
    ASSERT_EQ(zefGetGuisetteDescriptions(buffer.data(), &count), 0);
    ASSERT_EQ(count, 27);
    for (int i = 0; i < 27; ++i) {
        ZEF_GUISETTE_DESCRIPTION d;
        std::memcpy(&d, buffer.data() + i * ZEF_GUISETTE_DESCRIPTION_SIZE, sizeof d);
        const zef::GuisetteRecord& g = zef::gBuiltInGuisettes[i];
        SCOPED_TRACE(g.guisetteId);
        EXPECT_EQ(d.guisetteId, g.guisetteId);
        EXPECT_STREQ(d.category, g.category);
        EXPECT_STREQ(d.presetName, g.presetName);
        EXPECT_STREQ(d.description, g.description);
        EXPECT_EQ(d.hasEffect, g.pcmEffect ? 1 : 0);
        EXPECT_EQ(d.chunkSize, 10);
    }
    EXPECT_EQ(uint8_t(buffer[27 * ZEF_GUISETTE_DESCRIPTION_SIZE]), 0xEE);  // nothing past the 27th

    std::fill(buffer.begin(), buffer.end(), char(0xEE));
    count = 2;
    ASSERT_EQ(zefGetGuisetteDescriptions(buffer.data(), &count), 0);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(zef::readLE16(reinterpret_cast<uint8_t*>(buffer.data()) + ZEF_GUISETTE_DESCRIPTION_SIZE), 101);
    EXPECT_EQ(uint8_t(buffer[2 * ZEF_GUISETTE_DESCRIPTION_SIZE]), 0xEE);
    count = 0;
    std::fill(buffer.begin(), buffer.end(), char(0xEE));
    ASSERT_EQ(zefGetGuisetteDescriptions(buffer.data(), &count), 0);
    EXPECT_EQ(uint8_t(buffer[0]), 0xEE);
}

TEST_F(Session, ChunksAreMadeAndRefused) {
    ZEF_GUISETTE_CHUNK chunk{};
    uint32_t size = 64;
    EXPECT_EQ(zefGetGuisetteChunk(201, nullptr, &size), ZEFERR_GU_CHUNK_NULL);
    EXPECT_EQ(zefGetGuisetteChunk(999, &chunk, &size), ZEFERR_GUII_UNKNOWN_GUISETTE);
    size = 9;
    EXPECT_EQ(zefGetGuisetteChunk(201, &chunk, &size), ZEFERR_PREVIEW_NOT_FOUND);
    EXPECT_EQ(size, 9u);
    EXPECT_EQ(zefGetGuisetteChunk(201, &chunk, nullptr), ZEFERR_PREVIEW_NOT_FOUND);
    size = 64;
    ASSERT_EQ(zefGetGuisetteChunk(603, &chunk, &size), 0);
    EXPECT_EQ(size, 10u);
    const uint8_t expected[10] = {'Z', 'E', 'f', 'G', 2, 0, 0, 0, 603 & 0xFF, 603 >> 8};
    EXPECT_EQ(std::memcmp(&chunk, expected, 10), 0);

    // The file writer's chunk is the same one.
    uint8_t written[10] = {};
    uint8_t* cursor = written;
    ASSERT_EQ(zef::EmbedGuisetteChunk(&cursor, 603), 0);
    EXPECT_EQ(cursor, written + 10);
    EXPECT_EQ(std::memcmp(written, expected, 10), 0);
}

TEST_F(Session, ChoosingByChunk) {
    cb->wMode = zef::kModeDecompress;
    ASSERT_EQ(zef::InitializeGuisettes(&kd, cb), 0);
    ZEF_GUISETTE_CHUNK chunk{};
    uint32_t size = 10;
    ASSERT_EQ(zefGetGuisetteChunk(201, &chunk, &size), 0);

    kd.dwSecondaryError = 4321;
    ZEF_GUISETTE_CHUNK wrong = chunk;
    wrong.ckId[3] = 'g';
    EXPECT_EQ(zefSetGuisetteUsingChunk(&kd, &wrong), ZEFERR_PREVIEW_NOT_FOUND);
    wrong = chunk;
    zef::writeLE32(wrong.ckSize, 3);
    EXPECT_EQ(zefSetGuisetteUsingChunk(&kd, &wrong), ZEFERR_GU_CHUNK_LENGTH);
    EXPECT_EQ(kd.dwSecondaryError, 4321u);  // neither refusal is recorded
    EXPECT_EQ(cb->wGuisette, 0);            // and nothing changed
    EXPECT_EQ(effect()->kind, zef::kEffectNone);
    EXPECT_EQ(zefSetGuisetteUsingChunk(&kd, nullptr), ZEFERR_GU_CHUNK_NULL);

    ASSERT_EQ(zefSetGuisetteUsingChunk(&kd, &chunk), 0);
    EXPECT_EQ(cb->wGuisette, 201);
    EXPECT_EQ(effect()->effectId, 5003);

    zef::writeLE16(chunk.guisetteId, 777);
    EXPECT_EQ(zefSetGuisetteUsingChunk(&kd, &chunk), ZEFERR_GUII_UNKNOWN_GUISETTE);
    EXPECT_EQ(cb->wGuisette, 201);
}

TEST_F(Session, NumbersAreNotTruncatedTo16Bits) {
    cb->wMode = zef::kModeDecompress;
    ASSERT_EQ(zef::InitializeGuisettes(&kd, cb), 0);
    EXPECT_EQ(zefSetGuisette(&kd, 65536u + 201u), ZEFERR_GUII_UNKNOWN_GUISETTE);
    EXPECT_EQ(kd.dwSecondaryError, 65536u + 201u);
    EXPECT_EQ(cb->wGuisette, 0);
    ZEF_GUISETTE_CHUNK chunk{};
    uint32_t size = 10;
    EXPECT_EQ(zefGetGuisetteChunk(65536u + 201u, &chunk, &size), ZEFERR_GUII_UNKNOWN_GUISETTE);
}

}  // namespace
