// The built-in preview samples: complete Zef WAVE images that the library's
// own readers accept, one per catalogue entry, whose frames carry the
// preset's voice transformation.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "byteorder.h"
#include "guisette.h"
#include "orvotables.h"
#include "pcmeffect.h"

namespace {

constexpr int kFrames = 221;
constexpr uint32_t kDataBytes = 1492;  // 221 frames of 54 bits

struct Codes {
    int voicing, pitch, energy;
    double lsp[10];
};

// The frames of a preview, unpacked least significant bit first.
std::vector<Codes> unpack(const zef::PreviewRecord& p) {
    const uint8_t* data = p.data + p.size - kDataBytes;
    EXPECT_TRUE(zef::isFourcc(data - 8, "data"));
    EXPECT_EQ(zef::readLE32(data - 4), kDataBytes);
    std::vector<Codes> frames;
    uint32_t bit = 0;
    for (int f = 0; f < kFrames; ++f) {
        int field[zef::orvo::kFieldCount];
        for (int i = 0; i < zef::orvo::kFieldCount; ++i) {
            field[i] = 0;
            for (int b = 0; b < zef::orvo::kFieldWidths[i]; ++b, ++bit)
                field[i] |= ((data[bit / 8] >> (bit % 8)) & 1) << b;
        }
        Codes c{field[0], field[1], field[2], {}};
        double lsp = 0.0;
        for (int k = 0; k < 10; ++k) c.lsp[k] = lsp += zef::orvo::lspdiff[k][field[3 + k]];
        frames.push_back(c);
    }
    return frames;
}

double period(int pitchCode) { return 125.0 - pitchCode * 109.0 / 255.0; }

class Previews : public ::testing::Test {
protected:
    void SetUp() override {
        zefShutdown();
        ZEF_STARTUP r{};
        r.wSize = ZEF_STARTUP_SIZE;
        ASSERT_EQ(zefStartup(&r), 0);
        ASSERT_EQ(zef::GetGuisettePreviewsList(&list), 0);
        ASSERT_NE(list, nullptr);
    }
    void TearDown() override { zefShutdown(); }
    const zef::PreviewRecord* list = nullptr;
};

TEST_F(Previews, OnePerCatalogueEntryPublishedAtStartup) {
    uint16_t n = 0;
    ASSERT_EQ(zef::GetNumGUPreviews(&n), 0);
    ASSERT_EQ(n, 27);
    for (int i = 0; i < 27; ++i) {
        EXPECT_EQ(list[i].guisetteId, zef::gBuiltInGuisettes[i].guisetteId) << i;
        EXPECT_EQ(list[i].size, i == 0 ? 1566 : 1576) << i;
    }
    zef::APIGlobals* globals = nullptr;
    ASSERT_EQ(zef::GetAPIGlobals(&globals), 0);
    EXPECT_EQ(globals->wPreviews, 27);
    EXPECT_EQ(globals->lpPreviews, list);
}

TEST_F(Previews, EachParsesAsAZefWaveWithItsGuisette) {
    for (int i = 0; i < 27; ++i) {
        const zef::PreviewRecord& p = list[i];
        SCOPED_TRACE(p.guisetteId);
        KELVANE_DATA kd{};
        ZEF_FILE_INFO info{};
        kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
        kd.dwInputType = ZEFTYPE_FORMAT_WAVE | ZEFTYPE_LOCATION_BUFFER | ZEFTYPE_QUALIFIER_ZEF;
        kd.lpInputLocation = const_cast<uint8_t*>(p.data);
        kd.dwInputSize = p.size;
        kd.dwOutputType = ZEFTYPE_FILE_INFO;
        kd.lpOutputLocation = &info;
        kd.dwOutputSize = ZEF_FILE_INFO_SIZE;
        ASSERT_EQ(utilMirlaneInit(&kd), 0);
        const zef::ZefControlBlock* cb = zef::controlBlock(&kd);
        EXPECT_EQ(cb->wGuisette, p.guisetteId);
        EXPECT_EQ(cb->wCodecTag, ZEF_CODEC_ORVO);
        EXPECT_EQ(kd.dwFramesLeft, uint32_t(kFrames));
        EXPECT_EQ(cb->lpInputVars->desc.dwDataLength, kDataBytes);
        EXPECT_EQ(zef::readLE32(p.data + 4), p.size - 8u);  // RIFF size
        ASSERT_EQ(utilMirlaneCleanup(&kd), 0);

        kd.dwInputBytesUsed = 0;
        kd.dwFramesLeft = 0;
        ASSERT_EQ(utilGetFileInfo(&kd), 0);
        EXPECT_EQ(info.wFormatTag, 98);
        EXPECT_EQ(info.dwSamplingRate, 8000u);
        EXPECT_EQ(info.dwLength, uint32_t(kFrames * 180));
    }
}

// The frames were transformed as the preset transforms a voice: compared
// with the plain phrase of record 0, pitch as the library's readers compute
// it, formants moved by the warp, voicing untouched.
TEST_F(Previews, FramesCarryThePresetsTransformation) {
    const std::vector<Codes> plain = unpack(list[0]);
    double plainLsp = 0.0;
    for (const Codes& c : plain) plainLsp += c.lsp[2] + c.lsp[3] + c.lsp[4];

    for (int i = 1; i < 27; ++i) {
        const zef::GuisetteRecord& g = zef::gBuiltInGuisettes[i];
        SCOPED_TRACE(g.guisetteId);
        const std::vector<Codes> frames = unpack(list[i]);
        zef::GuisetteState s{};
        zef::InitGuisette(&s);
        ASSERT_EQ(zef::SetGuisette(&s, int16_t(g.transformType), int16_t(g.amount)), 0);

        double lsp = 0.0;
        int voiced = 0;
        for (int f = 0; f < kFrames; ++f) {
            const Codes& a = plain[size_t(f)];
            const Codes& b = frames[size_t(f)];
            ASSERT_EQ(b.voicing, a.voicing) << f;
            lsp += b.lsp[2] + b.lsp[3] + b.lsp[4];
            if (a.voicing == 0) continue;
            ++voiced;
            s.framePitch = float(8000.0 / period(a.pitch));
            double pitch = s.framePitch;
            if (g.transformType == 2 || g.transformType == 6) pitch = zef::squash_gu2(&s);
            if (g.transformType == 5 || g.transformType == 9) pitch = zef::transposition_gu2(&s);
            const double expected = std::fmin(std::fmax(8000.0 / pitch, 16.0), 125.0);
            // Both codes are quantised: a quarter period each, more after a
            // downward transposition.
            const double tolerance = 0.25 + 0.25 / std::fmin(1.0, double(s.pitchFactor > 0 ? s.pitchFactor : 1));
            EXPECT_NEAR(period(b.pitch), expected, tolerance) << "frame " << f;
        }
        EXPECT_GT(voiced, 150);
        if (!s.warpOn) {
            EXPECT_EQ(lsp, plainLsp);
        } else if (s.formantWarp < 0.95f) {
            EXPECT_GT(lsp, plainLsp * 1.04);
        } else if (s.formantWarp > 1.05f) {
            EXPECT_LT(lsp, plainLsp * 0.96);
        }
    }
}

// The whole preview decoded by a session on the preview input type.
std::vector<int16_t> decodePreview(unsigned number, uint16_t* err) {
    std::vector<int16_t> pcm(kFrames * 180 + 4096);
    KELVANE_DATA kd{};
    kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
    kd.dwInputType = ZEFTYPE_FORMAT_WAVE | ZEFTYPE_LOCATION_PREVIEW | ZEFTYPE_QUALIFIER_ZEF;
    kd.lpInputLocation = reinterpret_cast<void*>(uintptr_t(number));
    kd.dwOutputType = ZEFTYPE_FORMAT_RAW | ZEFTYPE_LOCATION_BUFFER | ZEFTYPE_QUALIFIER_PCM;
    kd.lpOutputLocation = pcm.data();
    kd.dwOutputSize = uint32_t(pcm.size() * sizeof(int16_t));
    kd.fWarpedLengthFactor = 1.0f;
    *err = dcmpMirlaneDecompress(&kd);
    pcm.resize(kd.dwOutputBytesUsed / sizeof(int16_t));
    return pcm;
}

TEST_F(Previews, DecodeAsSpeechThroughThePreviewInput) {
    uint16_t err = 0;
    const std::vector<int16_t> plain = decodePreview(0, &err);
    ASSERT_EQ(err, 0);
    ASSERT_EQ(plain.size(), size_t(kFrames * 180));
    double energy = 0.0;
    size_t clipped = 0;
    for (int16_t v : plain) {
        energy += double(v) * v;
        clipped += (v == 32767 || v == -32768);
    }
    EXPECT_GT(std::sqrt(energy / double(plain.size())), 800.0);  // speech at a fair level
    EXPECT_EQ(clipped, 0u);

    decodePreview(999, &err);
    EXPECT_EQ(err, ZEFERR_PREVIEW_NOT_FOUND);
}

// A preset without a voice transformation has the plain phrase's frames, so
// its decoded preview is the plain one through the preset's PCM effect.
TEST_F(Previews, EffectOnlyPresetsPlayThePlainPhraseThroughTheirEffect) {
    uint16_t err = 0;
    const std::vector<int16_t> plain = decodePreview(0, &err);
    ASSERT_EQ(err, 0);
    int checked = 0;
    for (const zef::GuisetteRecord& g : zef::gBuiltInGuisettes) {
        if (g.transformType != 0 || g.pcmEffect == 0) continue;
        SCOPED_TRACE(g.guisetteId);
        std::vector<int16_t> expected = plain;
        zef::PCMEffectState* fx = nullptr;
        ASSERT_EQ(zef::InitPCMEffect(&fx), 0);
        zef::SetPCMEffect(fx, g.pcmEffect);
        for (size_t at = 0; at < expected.size(); at += 180) zef::ApplyPCMEffect(fx, 180, expected.data() + at);
        zef::FreePCMEffect(fx);
        const std::vector<int16_t> played = decodePreview(g.guisetteId, &err);
        ASSERT_EQ(err, 0);
        EXPECT_EQ(played, expected);
        EXPECT_NE(played, plain);
        ++checked;
    }
    EXPECT_EQ(checked, 8);
}

}  // namespace
