// The shape-book trainer: it learns a known book, keeps the held values,
// repeats itself, and reads only usable speech.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <stdexcept>

#include "shapevq.h"
#include "speechframes.h"
#include "support.h"

using pelnbooks::Book;

namespace {

constexpr int kBands = 10;
const std::vector<pelnbooks::FixedValue> kFixed = {{0, 0, 0, 0.3211426f}, {1, 0, 1, -0.005232274f}};

TEST(ShapeTrainer, LearnsAKnownBookKeepsHeldValuesAndRepeats) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> mean(0.1f, 0.5f), correction(-0.03f, 0.03f);
    Book truth(kBands);
    for (int s = 0; s < 3; ++s)
        for (int v = 0; v < 8; ++v)
            for (int n = 0; n < kBands; ++n) truth.vec(s, v)[n] = s == 0 ? mean(rng) : correction(rng);
    // Normalised sums of random combinations, with a little noise.
    std::vector<std::vector<float>> shapes(1500, std::vector<float>(kBands));
    std::normal_distribution<float> noise(0.0f, 0.02f);
    std::vector<const float*> targets;
    for (auto& v : shapes) {
        const int a = int(rng() % 8), b = int(rng() % 8), c = int(rng() % 8);
        float sum = 0.0f;
        for (int n = 0; n < kBands; ++n)
            sum += v[n] = std::max(0.0f, truth.vec(0, a)[n] + truth.vec(1, b)[n] + truth.vec(2, c)[n]);
        for (float& x : v) x = x * kBands / sum + noise(rng);
        targets.push_back(v.data());
    }
    pelnbooks::TrainOptions o;
    o.iterations = 10;
    pelnbooks::TrainReport r;
    const Book book = pelnbooks::trainBook(targets, kBands, kFixed, o, &r);
    for (const auto& f : kFixed) EXPECT_EQ(book.vec(f.stage, f.vector)[f.band], f.value);
    EXPECT_NEAR(r.finalError, pelnbooks::meanError(book, targets), 1e-12);
    EXPECT_LT(r.finalError, 4.0 * pelnbooks::meanError(truth, targets));
    EXPECT_EQ(pelnbooks::silentCombinations(book), 0);
    EXPECT_EQ(pelnbooks::trainBook(targets, kBands, kFixed, o, nullptr).values, book.values);
}

TEST(SpeechFiles, ReadsEightKilohertzSixteenBitMonoAndRefusesTheRest) {
    zeftest::ScratchDir dir;
    const zeftest::Samples pcm{1, -2, 300};
    auto file = [&](const std::string& name, const zeftest::Bytes& b) { return zeftest::writeFile(dir.path(name), b), dir.path(name); };
    EXPECT_EQ(pelnbooks::readWave8k16Mono(file("a.wav", zeftest::pcmWave(pcm))), pcm);
    zeftest::Bytes longData = zeftest::pcmWave(pcm);
    longData[zeftest::waveDataOffset(longData) - 4] = 0xF0;  // a data size beyond the file is cut
    EXPECT_EQ(pelnbooks::readWave8k16Mono(file("b.wav", longData)), pcm);
    const struct { const char* name; zeftest::Bytes bytes; } refused[] = {
        {"empty.wav", {}}, {"short.wav", zeftest::Bytes(longData.begin(), longData.begin() + 10)},
        {"rate.wav", zeftest::pcmWave(zeftest::bytes16(pcm), 16000)},
        {"stereo.wav", zeftest::pcmWave(zeftest::bytes16(pcm), 8000, 16, 2)},
        {"8bit.wav", zeftest::pcmWave(zeftest::Bytes{1, 2}, 8000, 8)}};
    for (const auto& r : refused) {
        try {
            ADD_FAILURE() << r.name << " read " << pelnbooks::readWave8k16Mono(file(r.name, r.bytes)).size();
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(r.name), std::string::npos) << e.what();  // names the file
        }
    }
    EXPECT_THROW(pelnbooks::listWaveFiles({dir.path("nowhere")}), std::runtime_error);
}

// The trained books depend on the order of the frames: directories come in
// the order given, each sorted by name, whatever their own names, so that
// moving the material elsewhere trains the same books.
TEST(SpeechFiles, ListsDirectoriesInTheOrderGivenEachSortedByName) {
    zeftest::ScratchDir dir;
    for (const char* name : {"z/2.wav", "z/1.WAV", "z/notes.txt", "a/b.wav"}) {
        std::filesystem::create_directories(std::filesystem::path(dir.path(name)).parent_path());
        zeftest::writeFile(dir.path(name), zeftest::Bytes{});
    }
    EXPECT_EQ(pelnbooks::listWaveFiles({dir.path("z"), dir.path("a"), dir.path("z/2.wav")}),
              (std::vector<std::string>{dir.path("z/1.WAV"), dir.path("z/2.wav"), dir.path("a/b.wav")}));
}

}  // namespace
