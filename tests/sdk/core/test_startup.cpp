// Library start-up and shut-down, the library-wide records and the built-in
// catalogues they publish.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>

#include "guisette.h"
#include "zefapi.h"

namespace {

class Startup : public ::testing::Test {
protected:
    void SetUp() override { zefShutdown(); }
    void TearDown() override { zefShutdown(); }

    static ZEF_STARTUP record(uint16_t size) {
        ZEF_STARTUP r;
        std::memset(&r, 0xEE, sizeof r);
        r.wSize = size;
        return r;
    }
};

TEST_F(Startup, RefusesAMissingOrWrongSizedRecord) {
    EXPECT_EQ(zefStartup(nullptr), ZEFERR_STARTUP_RECORD_NULL);
    ZEF_STARTUP r = record(44);
    EXPECT_EQ(zefStartup(&r), ZEFERR_STARTUP_RECORD_SIZE);
    EXPECT_EQ(r.dwVersion, 0xEEEEEEEEu);  // untouched

    zef::ThisInstance* instance = nullptr;
    ASSERT_EQ(zef::GetThisInstance(&instance), 0);
    EXPECT_EQ(instance->wInUse, 0);  // the library did not start
}

TEST_F(Startup, FillsTheRecordAndPublishesTheCatalogues) {
    ZEF_STARTUP r = record(ZEF_STARTUP_SIZE);
    ASSERT_EQ(zefStartup(&r), 0);
    EXPECT_EQ(r.wSize, 48);
    EXPECT_EQ(r.wReserved, 0);
    EXPECT_EQ(r.dwVersion, 0x00010001u);
    EXPECT_EQ(r.dwRevision, 0x00060057u);
    EXPECT_EQ(r.wCodecs, 2);
    EXPECT_EQ(r.wGuisettes, 27);
    EXPECT_STREQ(r.szName, "Mirlane 1.1.6");
    for (size_t i = std::strlen(r.szName); i < sizeof r.szName; ++i) EXPECT_EQ(r.szName[i], 0);

    zef::ThisInstance* instance = nullptr;
    ASSERT_EQ(zef::GetThisInstance(&instance), 0);
    EXPECT_EQ(instance->wInUse, 1);
    EXPECT_EQ(instance->wStartupSize, 48);
    zef::APIGlobals* globals = nullptr;
    ASSERT_EQ(zef::GetAPIGlobals(&globals), 0);
    EXPECT_EQ(instance->lpGlobals, globals);
    ASSERT_EQ(globals->wCodecs, 2);
    EXPECT_EQ(globals->lpCodecs[0].dwSetting, KELVANE_CODEC_LUMO_8K);
    EXPECT_STREQ(globals->lpCodecs[0].szShortName, "Orvo");
    EXPECT_STREQ(globals->lpCodecs[0].szLongName, "Kelvane's 8kHz codec (Orvo)");
    EXPECT_EQ(globals->lpCodecs[1].dwSetting, KELVANE_CODEC_PELN_HQ);
    EXPECT_STREQ(globals->lpCodecs[1].szShortName, "PelnHQ");
    EXPECT_STREQ(globals->lpCodecs[1].szDescription, "A very low-bandwith (2900 bps) codec for use with speech.");
    EXPECT_EQ(globals->wGuisettes, 27);
    EXPECT_EQ(globals->lpGuisettes, zef::gBuiltInGuisettes);

    // Starting twice gives the same answers and publishes nothing twice.
    ZEF_STARTUP again = record(ZEF_STARTUP_SIZE);
    ASSERT_EQ(zefStartup(&again), 0);
    EXPECT_EQ(again.wCodecs, 2);
    EXPECT_EQ(again.wGuisettes, 27);
}

TEST_F(Startup, ShutdownForgetsEverythingUntilTheNextStart) {
    ZEF_STARTUP r = record(ZEF_STARTUP_SIZE);
    ASSERT_EQ(zefStartup(&r), 0);
    const zef::GuisetteRecord* info = nullptr;
    ASSERT_EQ(zef::GetGuisetteInfo(101, &info), 0);
    EXPECT_EQ(info->amount, 125);

    EXPECT_EQ(zefShutdown(), 0);
    zef::ThisInstance* instance = nullptr;
    ASSERT_EQ(zef::GetThisInstance(&instance), 0);
    EXPECT_EQ(instance->wInUse, 0);
    EXPECT_EQ(zef::GetGuisetteInfo(101, &info), ZEFERR_GUII_UNKNOWN_GUISETTE);
    EXPECT_EQ(info, nullptr);

    ASSERT_EQ(zefStartup(&r), 0);
    EXPECT_EQ(zef::GetGuisetteInfo(101, &info), 0);
}

TEST_F(Startup, GuisetteLookUp) {
    ZEF_STARTUP r = record(ZEF_STARTUP_SIZE);
    ASSERT_EQ(zefStartup(&r), 0);
    const zef::GuisetteRecord* info = nullptr;
    ASSERT_EQ(zef::GetGuisetteInfo(0, &info), 0);
    EXPECT_STREQ(info->presetName, "None");
    ASSERT_EQ(zef::GetGuisetteInfo(406, &info), 0);
    EXPECT_EQ(info->pcmEffect, 6002);
    for (unsigned missing : {1u, 100u, 104u, 107u, 304u, 501u, 606u, 65536u + 101u}) {
        EXPECT_EQ(zef::GetGuisetteInfo(missing, &info), ZEFERR_GUII_UNKNOWN_GUISETTE) << missing;
        EXPECT_EQ(info, nullptr);
    }
}

struct Numbers {
    uint16_t id, type, amount, effect;
};

// The numeric columns are what files and the effect code rely on.
constexpr Numbers kExpected[27] = {
    {0, 0, 0, 0},        {101, 2, 125, 0},    {102, 2, 30, 0},     {103, 2, 220, 0},    {105, 6, 160, 0},
    {106, 2, 75, 6006},  {109, 2, 160, 6006}, {201, 0, 0, 5003},   {204, 2, 40, 5003},  {601, 2, 75, 7002},
    {602, 6, 230, 7002}, {603, 6, 230, 7003}, {604, 0, 0, 7002},   {605, 0, 0, 7003},   {301, 0, 0, 5006},
    {302, 0, 0, 5005},   {303, 0, 0, 5007},   {305, 0, 0, 5009},   {502, 9, 40, 0},     {503, 5, 200, 0},
    {504, 6, 230, 0},    {401, 5, 1, 0},      {402, 5, 48, 0},     {403, 5, 101, 0},    {404, 5, 155, 0},
    {405, 5, 254, 0},    {406, 0, 0, 6002},
};

bool terminatedAndNonEmpty(const char* text, size_t size) {
    return text[0] != '\0' && std::memchr(text, '\0', size) != nullptr;
}

TEST(GuisetteCatalogue, NumbersAndTexts) {
    std::map<unsigned, std::set<std::string>> categoriesByHundred;
    std::set<std::string> names;
    for (unsigned i = 0; i < zef::kBuiltInGuisetteCount; ++i) {
        const zef::GuisetteRecord& g = zef::gBuiltInGuisettes[i];
        SCOPED_TRACE(g.guisetteId);
        EXPECT_EQ(g.guisetteId, kExpected[i].id);
        EXPECT_EQ(g.transformType, kExpected[i].type);
        EXPECT_EQ(g.amount, kExpected[i].amount);
        EXPECT_EQ(g.pcmEffect, kExpected[i].effect);
        EXPECT_EQ(g.reserved, 0u);
        EXPECT_EQ(g.spare, 0);
        EXPECT_TRUE(terminatedAndNonEmpty(g.category, sizeof g.category));
        EXPECT_TRUE(terminatedAndNonEmpty(g.presetName, sizeof g.presetName));
        EXPECT_TRUE(terminatedAndNonEmpty(g.description, sizeof g.description));
        EXPECT_EQ(std::strchr(g.description, '\n'), nullptr);
        EXPECT_TRUE(names.insert(g.presetName).second) << "preset names must be distinct";
        categoriesByHundred[g.guisetteId / 100].insert(g.category);
    }
    EXPECT_STREQ(zef::gBuiltInGuisettes[0].presetName, "None");
    ASSERT_EQ(categoriesByHundred.size(), 7u);  // record 0 and six groups
    std::set<std::string> allCategories;
    for (const auto& [hundred, categories] : categoriesByHundred) {
        EXPECT_EQ(categories.size(), 1u) << "one category per hundred: " << hundred;
        allCategories.insert(*categories.begin());
    }
    EXPECT_EQ(allCategories.size(), 7u);
}

}  // namespace
