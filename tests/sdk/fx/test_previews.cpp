// The built-in preview samples: complete Zef WAVE images that the library's
// own readers accept, one per catalogue entry with its Guisette chunk, each
// a few seconds of coded speech with pauses that plays through its preset's
// PCM effect.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "byteorder.h"
#include "guisette.h"
#include "pcmeffect.h"

namespace {

constexpr int kFrames = 221;
constexpr size_t kSamples = kFrames * 180;  // 4.97 s
constexpr uint32_t kDataBytes = 1492;       // 221 frames of 54 bits
constexpr size_t kChunkAt = 54;             // Guisette chunk: after the 16-byte ZEF. header

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

// The same coded speech without the Guisette chunk, so that it decodes
// without the preset's PCM effect.
std::vector<uint8_t> withoutChunk(const zef::PreviewRecord& p) {
    std::vector<uint8_t> image(p.data, p.data + p.size);
    if (p.guisetteId == 0) return image;
    image.erase(image.begin() + kChunkAt, image.begin() + kChunkAt + 10);
    zef::writeLE32(image.data() + 4, uint32_t(image.size() - 8));
    zef::writeLE32(image.data() + 16, 34);  // "fmt " size
    zef::writeLE16(image.data() + 36, 16);  // extension size
    return image;
}

std::vector<int16_t> decode(KELVANE_DATA& kd, uint16_t* err) {
    std::vector<int16_t> pcm(kSamples + 4096);
    kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
    kd.dwOutputType = ZEFTYPE_FORMAT_RAW | ZEFTYPE_LOCATION_BUFFER | ZEFTYPE_QUALIFIER_PCM;
    kd.lpOutputLocation = pcm.data();
    kd.dwOutputSize = uint32_t(pcm.size() * sizeof(int16_t));
    kd.fWarpedLengthFactor = 1.0f;
    *err = dcmpMirlaneDecompress(&kd);
    pcm.resize(kd.dwOutputBytesUsed / sizeof(int16_t));
    return pcm;
}

std::vector<int16_t> decodeImage(std::vector<uint8_t>& image, uint16_t* err) {
    KELVANE_DATA kd{};
    kd.dwInputType = ZEFTYPE_FORMAT_WAVE | ZEFTYPE_LOCATION_BUFFER | ZEFTYPE_QUALIFIER_ZEF;
    kd.lpInputLocation = image.data();
    kd.dwInputSize = uint32_t(image.size());
    return decode(kd, err);
}

// As the player plays a preview: by number, through the preview input.
std::vector<int16_t> decodePreview(unsigned number, uint16_t* err) {
    KELVANE_DATA kd{};
    kd.dwInputType = ZEFTYPE_FORMAT_WAVE | ZEFTYPE_LOCATION_PREVIEW | ZEFTYPE_QUALIFIER_ZEF;
    kd.lpInputLocation = reinterpret_cast<void*>(uintptr_t(number));
    return decode(kd, err);
}

// Level and pauses of decoded speech, measured over 180-sample frames.
struct Shape {
    double rms = 0.0;
    size_t clipped = 0;
    int loudFrames = 0;       // within 20 dB of the loudest frame
    int leadingQuiet = 0;     // quiet frames before the first loud one
    int longestInnerGap = 0;  // longest run of quiet frames between loud ones
};

Shape shape(const std::vector<int16_t>& pcm) {
    Shape s;
    std::vector<double> frame;
    double energy = 0.0;
    for (size_t at = 0; at + 180 <= pcm.size(); at += 180) {
        double e = 0.0;
        for (size_t i = at; i < at + 180; ++i) {
            e += double(pcm[i]) * pcm[i];
            s.clipped += (pcm[i] == 32767 || pcm[i] == -32768);
        }
        energy += e;
        frame.push_back(std::sqrt(e / 180.0));
    }
    if (frame.empty()) return s;
    s.rms = std::sqrt(energy / double(frame.size() * 180));
    const double peak = *std::max_element(frame.begin(), frame.end());
    const double quiet = std::max(peak / 30.0, 20.0);  // 30 dB down
    int run = 0;
    bool seenLoud = false;
    for (double f : frame) {
        if (f >= peak / 10.0) {
            ++s.loudFrames;
            if (seenLoud) s.longestInnerGap = std::max(s.longestInnerGap, run);
            seenLoud = true;
            run = 0;
        } else if (f < quiet) {
            ++run;
            if (!seenLoud) s.leadingQuiet = run;
        }
    }
    return s;
}

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

TEST_F(Previews, EachIsAZefWaveCarryingItsGuisetteChunk) {
    for (int i = 0; i < 27; ++i) {
        const zef::PreviewRecord& p = list[i];
        SCOPED_TRACE(p.guisetteId);
        ASSERT_TRUE(zef::isFourcc(p.data, "RIFF") && zef::isFourcc(p.data + 8, "WAVE"));
        EXPECT_EQ(zef::readLE32(p.data + 4), p.size - 8u);
        const bool chunk = p.guisetteId != 0;
        EXPECT_EQ(zef::readLE32(p.data + 16), chunk ? 44u : 34u);  // "fmt " size
        EXPECT_EQ(zef::readLE16(p.data + 36), chunk ? 26u : 16u);  // its extension
        if (chunk) {
            EXPECT_TRUE(zef::isFourcc(p.data + kChunkAt, "ZEfG"));
            EXPECT_EQ(zef::readLE32(p.data + kChunkAt + 4), 2u);
            EXPECT_EQ(zef::readLE16(p.data + kChunkAt + 8), p.guisetteId);
        }
        const uint8_t* data = p.data + p.size - kDataBytes;
        EXPECT_TRUE(zef::isFourcc(data - 8, "data"));
        EXPECT_EQ(zef::readLE32(data - 4), kDataBytes);
        // Each preset speaks its own name: no two previews share their frames.
        for (int j = 0; j < i; ++j)
            EXPECT_NE(std::memcmp(data, list[j].data + list[j].size - kDataBytes, kDataBytes), 0) << j;

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
        ASSERT_EQ(utilMirlaneCleanup(&kd), 0);

        kd.dwInputBytesUsed = 0;
        kd.dwFramesLeft = 0;
        ASSERT_EQ(utilGetFileInfo(&kd), 0);
        EXPECT_EQ(info.wFormatTag, 98);
        EXPECT_EQ(info.dwSamplingRate, 8000u);
        EXPECT_EQ(info.dwLength, uint32_t(kSamples));
    }
}

// The coded speech itself: 4.97 s at a fair level, unclipped, with silence
// before it and a pause between the name and the sentence after it.
TEST_F(Previews, DecodeToSpeechWithPauses) {
    for (int i = 0; i < 27; ++i) {
        SCOPED_TRACE(list[i].guisetteId);
        std::vector<uint8_t> image = withoutChunk(list[i]);
        uint16_t err = 0;
        const std::vector<int16_t> pcm = decodeImage(image, &err);
        ASSERT_EQ(err, 0);
        ASSERT_EQ(pcm.size(), kSamples);
        const Shape s = shape(pcm);
        EXPECT_GT(s.rms, 500.0);
        EXPECT_LT(s.rms, 8000.0);
        EXPECT_EQ(s.clipped, 0u);
        EXPECT_GT(s.loudFrames, kFrames / 5);
        EXPECT_GE(s.leadingQuiet, 8);      // 0.18 s
        EXPECT_GE(s.longestInnerGap, 10);  // 0.225 s
    }
}

// Played by number, a preview goes through its preset's PCM effect and
// through nothing else; it stays speech at a sound level.
TEST_F(Previews, PlayThroughTheirPresetsEffect) {
    int withEffect = 0;
    for (int i = 0; i < 27; ++i) {
        const zef::GuisetteRecord& g = zef::gBuiltInGuisettes[i];
        SCOPED_TRACE(g.guisetteId);
        std::vector<uint8_t> image = withoutChunk(list[i]);
        uint16_t err = 0;
        std::vector<int16_t> expected = decodeImage(image, &err);
        ASSERT_EQ(err, 0);
        if (g.pcmEffect != 0) {
            zef::PCMEffectState* fx = nullptr;
            ASSERT_EQ(zef::InitPCMEffect(&fx), 0);
            zef::SetPCMEffect(fx, g.pcmEffect);
            for (size_t at = 0; at < expected.size(); at += 180) zef::ApplyPCMEffect(fx, 180, expected.data() + at);
            zef::FreePCMEffect(fx);
            ++withEffect;
        }
        const std::vector<int16_t> played = decodePreview(g.guisetteId, &err);
        ASSERT_EQ(err, 0);
        EXPECT_EQ(played, expected);
        const Shape s = shape(played);
        EXPECT_GT(s.rms, 300.0);
        EXPECT_LT(s.clipped, played.size() / 1000);
    }
    EXPECT_EQ(withEffect, 14);

    uint16_t err = 0;
    decodePreview(999, &err);
    EXPECT_EQ(err, ZEFERR_PREVIEW_NOT_FOUND);
}

}  // namespace
