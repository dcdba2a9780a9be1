// The bundled intro.zef: a spoken welcome of a few sentences, as the
// library reads and decodes it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <vector>

#include "mirlane.h"

namespace {

std::vector<uint8_t> readIntro() {
    std::ifstream in(ZEF_SOURCE_DIR "/player/intro.zef", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

KELVANE_DATA input(std::vector<uint8_t>& file) {
    KELVANE_DATA kd{};
    kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
    kd.dwInputType = ZEFTYPE_FORMAT_WAVE | ZEFTYPE_LOCATION_BUFFER | ZEFTYPE_QUALIFIER_ZEF;
    kd.lpInputLocation = file.data();
    kd.dwInputSize = uint32_t(file.size());
    return kd;
}

// Runs of frames (180 samples) more than 30 dB below the loudest frame that
// lie between louder ones, at least `frames` long.
int innerPauses(const std::vector<int16_t>& pcm, int frames) {
    std::vector<double> level;
    for (size_t at = 0; at + 180 <= pcm.size(); at += 180) {
        double e = 0.0;
        for (size_t i = at; i < at + 180; ++i) e += double(pcm[i]) * pcm[i];
        level.push_back(std::sqrt(e / 180.0));
    }
    const double peak = level.empty() ? 0.0 : *std::max_element(level.begin(), level.end());
    int pauses = 0, run = 0;
    bool seenLoud = false;
    for (double l : level) {
        if (l >= peak / 10.0) {
            if (seenLoud && run >= frames) ++pauses;
            seenLoud = true;
            run = 0;
        } else if (l < peak / 30.0) {
            ++run;
        }
    }
    return pauses;
}

TEST(Intro, IsOrvoSpeechOfAFewSeconds) {
    std::vector<uint8_t> file = readIntro();
    ASSERT_GT(file.size(), 1000u);
    KELVANE_DATA kd = input(file);
    ZEF_FILE_INFO info{};
    kd.dwOutputType = ZEFTYPE_FILE_INFO;
    kd.lpOutputLocation = &info;
    kd.dwOutputSize = ZEF_FILE_INFO_SIZE;
    ASSERT_EQ(utilGetFileInfo(&kd), 0);
    EXPECT_EQ(info.wFormatTag, 98);
    EXPECT_EQ(info.dwSamplingRate, 8000u);
    EXPECT_EQ(info.dwBitRate, 2400u);
    EXPECT_GE(info.dwLength, 8u * 8000);
    EXPECT_LE(info.dwLength, 15u * 8000);
}

// Decoded, it lasts what its header says and sounds like speech: a fair,
// unclipped level and a pause between each of its sentences.
TEST(Intro, DecodesToSpeechWithPausesBetweenSentences) {
    std::vector<uint8_t> file = readIntro();
    KELVANE_DATA kd = input(file);
    ZEF_FILE_INFO info{};
    kd.dwOutputType = ZEFTYPE_FILE_INFO;
    kd.lpOutputLocation = &info;
    kd.dwOutputSize = ZEF_FILE_INFO_SIZE;
    ASSERT_EQ(utilGetFileInfo(&kd), 0);

    std::vector<int16_t> pcm(20 * 8000);
    kd = input(file);
    kd.dwOutputType = ZEFTYPE_FORMAT_RAW | ZEFTYPE_LOCATION_BUFFER | ZEFTYPE_QUALIFIER_PCM;
    kd.lpOutputLocation = pcm.data();
    kd.dwOutputSize = uint32_t(pcm.size() * sizeof(int16_t));
    kd.fWarpedLengthFactor = 1.0f;
    ASSERT_EQ(dcmpMirlaneDecompress(&kd), 0);
    pcm.resize(kd.dwOutputBytesUsed / sizeof(int16_t));
    // Whole frames: the last one may run on past the original's end.
    EXPECT_GE(pcm.size(), info.dwLength);
    EXPECT_LT(pcm.size(), info.dwLength + 180);

    double energy = 0.0;
    size_t clipped = 0;
    for (int16_t v : pcm) {
        energy += double(v) * v;
        clipped += (v == 32767 || v == -32768);
    }
    const double rms = std::sqrt(energy / double(pcm.size()));
    EXPECT_GT(rms, 500.0);
    EXPECT_LT(rms, 8000.0);
    EXPECT_EQ(clipped, 0u);
    EXPECT_GE(innerPauses(pcm, 10), 3);  // four sentences, pauses over 0.22 s
}

}  // namespace
