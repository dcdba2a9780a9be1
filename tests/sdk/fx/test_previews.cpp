// The built-in preview samples: one Zef WAVE image per catalogue entry with
// its Guisette chunk, a few seconds of coded speech that plays through its
// preset's PCM effect.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "byteorder.h"
#include "guisette.h"
#include "pcmeffect.h"
#include "session.h"

namespace {

using zeftest::Kd;
using zeftest::Samples;

constexpr size_t kSamples = 221 * 180;  // 4.97 s
constexpr size_t kChunkAt = 54;         // the Guisette chunk follows the 16-byte ZEF. header

Samples decode(Kd& kd, uint16_t* err) {
    Samples pcm(kSamples + 4096);
    kd.output(zeftest::kRawBuffer, pcm.data(), uint32_t(pcm.size() * 2));
    *err = dcmpMirlaneDecompress(&kd);
    pcm.resize(kd.dwOutputBytesUsed / 2);
    return pcm;
}

TEST(Previews, EachDecodesToSpeechAndPlaysThroughItsPresetsEffect) {
    ZEF_STARTUP r{};
    r.wSize = ZEF_STARTUP_SIZE;
    ASSERT_EQ(zefStartup(&r), 0);
    const zef::PreviewRecord* list = nullptr;
    uint16_t n = 0;
    ASSERT_EQ(zef::GetGuisettePreviewsList(&list), 0);
    ASSERT_EQ(zef::GetNumGUPreviews(&n), 0);
    ASSERT_EQ(n, 27);
    std::set<uint64_t> speech;
    int withEffect = 0;
    for (int i = 0; i < 27; ++i) {
        const zef::GuisetteRecord& g = zef::gBuiltInGuisettes[i];
        SCOPED_TRACE(g.guisetteId);
        ASSERT_EQ(list[i].guisetteId, g.guisetteId);
        // The image without its chunk decodes without the effect.
        zeftest::Bytes image(list[i].data, list[i].data + list[i].size);
        if (g.guisetteId) {
            ASSERT_EQ(zef::readLE16(image.data() + kChunkAt + 8), g.guisetteId);
            image.erase(image.begin() + kChunkAt, image.begin() + kChunkAt + 10);
            zef::writeLE32(image.data() + 4, uint32_t(image.size() - 8));
            zef::writeLE32(image.data() + 16, 34);  // "fmt " size
            zef::writeLE16(image.data() + 36, 16);  // its extension
        }
        uint16_t err = 0;
        Kd plain;
        plain.input(zeftest::kZefWaveBuffer, image.data(), uint32_t(image.size()));
        Samples expected = decode(plain, &err);
        ASSERT_EQ(err, 0);
        ASSERT_EQ(expected.size(), kSamples);
        EXPECT_NEAR(zeftest::rmsDb(expected), -20.0, 10.0);
        speech.insert(zeftest::fnv1a(expected));  // each preset speaks its own name
        if (g.pcmEffect) {
            zef::PCMEffectState* fx = nullptr;
            ASSERT_EQ(zef::InitPCMEffect(&fx), 0);
            zef::SetPCMEffect(fx, g.pcmEffect);
            for (size_t at = 0; at < expected.size(); at += 180) zef::ApplyPCMEffect(fx, 180, expected.data() + at);
            zef::FreePCMEffect(fx);
            ++withEffect;
        }
        Kd byNumber;  // as the player plays a preview
        byNumber.input(ZEFTYPE_FORMAT_WAVE | ZEFTYPE_LOCATION_PREVIEW | ZEFTYPE_QUALIFIER_ZEF,
                       reinterpret_cast<void*>(uintptr_t(g.guisetteId)));
        EXPECT_EQ(decode(byNumber, &err), expected);
        EXPECT_EQ(err, 0);
    }
    EXPECT_EQ(speech.size(), 27u);
    EXPECT_EQ(withEffect, 14);
    uint16_t err = 0;
    Kd missing;
    missing.input(ZEFTYPE_FORMAT_WAVE | ZEFTYPE_LOCATION_PREVIEW | ZEFTYPE_QUALIFIER_ZEF, reinterpret_cast<void*>(999));
    decode(missing, &err);
    EXPECT_EQ(err, ZEFERR_PREVIEW_NOT_FOUND);
    zefShutdown();
}

}  // namespace
