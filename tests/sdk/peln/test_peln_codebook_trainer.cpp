// The shape-codebook trainer's pieces: its three-stage training, and the
// reading of the speech it trains on.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "shapevq.h"
#include "speechframes.h"

namespace fs = std::filesystem;
using pelnbooks::Book;

namespace {

constexpr int kBands = 10;

// Shapes drawn from a known book: the normalised sum of random
// combinations, with a little noise.
std::vector<std::vector<float>> shapesFrom(const Book& truth, int count, std::mt19937& rng) {
    std::uniform_int_distribution<int> pick(0, 7);
    std::normal_distribution<float> noise(0.0f, 0.02f);
    std::vector<std::vector<float>> shapes;
    for (int i = 0; i < count; ++i) {
        const int a = pick(rng), b = pick(rng), c = pick(rng);
        std::vector<float> v(kBands);
        float sum = 0.0f;
        for (int n = 0; n < kBands; ++n)
            sum += v[size_t(n)] = std::max(0.0f, truth.vec(0, a)[n] + truth.vec(1, b)[n] + truth.vec(2, c)[n]);
        for (float& x : v) x = x * kBands / sum + noise(rng);
        shapes.push_back(v);
    }
    return shapes;
}

Book randomBook(std::mt19937& rng) {
    std::uniform_real_distribution<float> mean(0.1f, 0.5f), correction(-0.03f, 0.03f);
    Book b(kBands);
    for (int s = 0; s < 3; ++s)
        for (int v = 0; v < 8; ++v)
            for (int n = 0; n < kBands; ++n) b.vec(s, v)[n] = s == 0 ? mean(rng) : correction(rng);
    return b;
}

const std::vector<pelnbooks::FixedValue> kFixed = {
    {0, 0, 0, 0.3211426f}, {0, 0, 1, 0.31624857f}, {1, 0, 0, -0.023341214f}, {1, 0, 1, -0.005232274f}};

}  // namespace

TEST(ShapeTrainer, LearnsHeldValuesStayAndRunsRepeat) {
    std::mt19937 rng(3);
    const Book truth = randomBook(rng);
    const std::vector<std::vector<float>> shapes = shapesFrom(truth, 1500, rng);
    std::vector<const float*> targets;
    for (const auto& s : shapes) targets.push_back(s.data());

    pelnbooks::TrainOptions o;
    o.iterations = 10;
    pelnbooks::TrainReport r;
    const Book book = pelnbooks::trainBook(targets, kBands, kFixed, o, &r);
    for (const auto& f : kFixed) EXPECT_EQ(book.vec(f.stage, f.vector)[f.band], f.value);

    // One mean shape for everything is the quantiser to beat by far.
    Book single(kBands);
    for (const float* t : targets)
        for (int n = 0; n < kBands; ++n) single.vec(0, 0)[n] += t[n] / float(targets.size());
    std::copy(single.vec(0, 0), single.vec(0, 0) + kBands, single.vec(0, 1));
    const double floor = pelnbooks::meanError(truth, targets);
    EXPECT_NEAR(r.finalError, pelnbooks::meanError(book, targets), 1e-12);
    EXPECT_LE(r.finalError, r.initialError);
    EXPECT_LT(r.finalError, 0.5 * pelnbooks::meanError(single, targets));
    EXPECT_LT(r.finalError, 4.0 * floor) << "the generating book scores " << floor;
    EXPECT_EQ(pelnbooks::silentCombinations(book), 0);

    const Book again = pelnbooks::trainBook(targets, kBands, kFixed, o, nullptr);
    EXPECT_EQ(again.values, book.values);
}

TEST(ShapeTrainer, FitTrainingMinimisesTheEncodersOwnScore) {
    // Harmonics of random periods rebuilt by the decoder from a known book,
    // with a little noise, scored as the encoder scores them.
    using namespace zef::peln;
    constexpr int kClass = 3;  // ten bands
    CodeRecord code{};
    initQuanPeln(&code);
    std::mt19937 rng(5);
    const Book truth = randomBook(rng);
    std::uniform_int_distribution<int> pick(0, 7);
    std::uniform_real_distribution<float> period(20.0f, 120.0f);
    std::normal_distribution<float> noise(1.0f, 0.05f);
    std::vector<ShapeFit> fitData(1200);
    std::vector<std::vector<float>> shapes;
    for (ShapeFit& fit : fitData) {
        const int16_t stages[3] = {int16_t(pick(rng)), int16_t(pick(rng)), int16_t(pick(rng))};
        std::vector<float> bands(kBands);
        float sum = 0.0f;
        for (int n = 0; n < kBands; ++n)
            sum += bands[size_t(n)] = std::max(0.0f, truth.vec(0, stages[0])[n] + truth.vec(1, stages[1])[n] +
                                                         truth.vec(2, stages[2])[n]);
        const float p = period(rng), f0 = 8000.0f / p;
        const int N = harmonicCountPeln(p);
        float freq[kMaxHarmonics], amp[kMaxHarmonics];
        for (int h = 0; h < N; ++h) freq[h] = float(h + 1) * f0;
        VocInt4kVecPeln(code.bandFreq[kClass], bands.data(), kBands, freq, amp, N);
        for (int h = 0; h < N; ++h) amp[h] = std::max(amp[h] * noise(rng), 1e-3f);
        buildShapeFit(amp, N, f0, code.bandFreq[kClass], kBands, &fit);
        for (float& x : bands) x = x * kBands / sum;
        shapes.push_back(bands);
    }
    std::vector<const float*> targets;
    pelnbooks::Fits fits;
    for (size_t i = 0; i < shapes.size(); ++i) targets.push_back(shapes[i].data()), fits.push_back(&fitData[i]);

    pelnbooks::TrainOptions o;
    o.iterations = 8;
    pelnbooks::TrainReport r;
    const Book byFit = pelnbooks::trainBook(targets, kBands, kFixed, o, &r, &fits);
    const Book byShape = pelnbooks::trainBook(targets, kBands, kFixed, o, nullptr);
    for (const auto& f : kFixed) EXPECT_EQ(byFit.vec(f.stage, f.vector)[f.band], f.value);
    EXPECT_NEAR(r.finalError, pelnbooks::meanFitError(byFit, fits), 1e-12);
    EXPECT_LT(r.finalError, r.initialError);
    EXPECT_LT(r.finalError, pelnbooks::meanFitError(byShape, fits));

    // The trainer's search is the encoder's: same codes on every frame.
    const float* stagesOf[3] = {byFit.vec(0, 0), byFit.vec(1, 0), byFit.vec(2, 0)};
    for (int s = 0; s < 3; ++s) code.shapeBooks[kClass][s] = stagesOf[s];
    for (size_t i = 0; i < fitData.size(); i += 7) {
        int16_t got[3];
        quantiseShape(fitData[i], kClass, code, got);
        const pelnbooks::Choice c = pelnbooks::nearestFit(byFit, fitData[i]);
        ASSERT_TRUE(c.found);
        for (int s = 0; s < 3; ++s) EXPECT_EQ(got[s], c.code[size_t(s)]) << "frame " << i;
    }
}

TEST(ShapeTrainer, SearchSkipsCombinationsWithNothingLeftAfterClipping) {
    Book b(kBands);
    for (int n = 0; n < kBands; ++n) {
        b.vec(0, 0)[n] = -1.0f;              // nothing left, whatever stages 2 and 3 add
        b.vec(0, 1)[n] = n == 0 ? 1.0f : 0;  // all in the first band
        b.vec(0, 2)[n] = 0.5f;               // flat
    }
    EXPECT_EQ(pelnbooks::silentCombinations(b), 64 + 5 * 64);  // vector 0 and the all-zero vectors 3-7
    std::vector<float> flat(kBands, 1.0f);
    const pelnbooks::Choice c = pelnbooks::nearest(b, flat.data());
    ASSERT_TRUE(c.found);
    EXPECT_EQ(c.code[0], 2);
    EXPECT_NEAR(c.error, 0.0, 1e-12);
    EXPECT_NEAR(c.gain, 0.5, 1e-7);
}

class SpeechFiles : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::path(::testing::TempDir()) / ("pelnbooks-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    static void put16(std::string& s, uint32_t v) { s += char(v & 0xFF), s += char(v >> 8 & 0xFF); }
    static void put32(std::string& s, uint32_t v) { put16(s, v & 0xFFFF), put16(s, v >> 16); }

    struct Wave {
        uint32_t rate = 8000;
        uint16_t channels = 1, bits = 16;
        std::vector<int16_t> pcm{1, -2, 300};
        std::string before;       // chunks before "fmt "
        int64_t dataSize = -1;    // stored size of "data"; -1 for the true one
        bool withData = true;
    };

    static std::string bytes(const Wave& w) {
        std::string body = "WAVE" + w.before + "fmt ";
        put32(body, 16);
        put16(body, 1), put16(body, w.channels), put32(body, w.rate);
        put32(body, w.rate * w.channels * w.bits / 8), put16(body, uint16_t(w.channels * w.bits / 8)), put16(body, w.bits);
        if (w.withData) {
            body += "data";
            put32(body, w.dataSize < 0 ? uint32_t(2 * w.pcm.size()) : uint32_t(w.dataSize));
            for (int16_t x : w.pcm) put16(body, uint16_t(x));
        }
        std::string riff = "RIFF";
        put32(riff, uint32_t(body.size()));
        return riff + body;
    }

    std::string write(const std::string& name, const std::string& content) {
        const fs::path p = dir_ / name;
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << content;
        return p.string();
    }

    fs::path dir_;
};

TEST_F(SpeechFiles, ReadsPcmPastOtherChunksAndCutsAnOverlongDataChunk) {
    Wave w;
    w.before = "LIST";
    put32(w.before, 3);
    w.before += std::string("abc") + '\0';  // odd size, one pad byte
    EXPECT_EQ(pelnbooks::readWave8k16Mono(write("a.wav", bytes(w))), w.pcm);
    w.dataSize = 1000;
    EXPECT_EQ(pelnbooks::readWave8k16Mono(write("b.wav", bytes(w))), w.pcm);
    w.pcm.clear();
    w.dataSize = 7;
    EXPECT_TRUE(pelnbooks::readWave8k16Mono(write("c.wav", bytes(w))).empty());
}

TEST_F(SpeechFiles, RefusesWhatIsNotEightKilohertzSixteenBitMono) {
    auto refused = [&](const std::string& name, const std::string& content) {
        try {
            pelnbooks::readWave8k16Mono(write(name, content));
        } catch (const std::runtime_error& e) {
            return std::string(e.what()).find(name) != std::string::npos;
        }
        return false;
    };
    Wave w;
    const std::string good = bytes(w);
    EXPECT_TRUE(refused("empty.wav", ""));
    EXPECT_TRUE(refused("short.wav", good.substr(0, 10)));
    EXPECT_TRUE(refused("rifx.wav", "RIFX" + good.substr(4)));
    EXPECT_TRUE(refused("cutfmt.wav", good.substr(0, 30)));
    EXPECT_TRUE(refused("missing.wav", "x"));
    w.rate = 16000;
    EXPECT_TRUE(refused("rate.wav", bytes(w)));
    w = Wave{};
    w.channels = 2;
    EXPECT_TRUE(refused("stereo.wav", bytes(w)));
    w = Wave{};
    w.bits = 8;
    EXPECT_TRUE(refused("8bit.wav", bytes(w)));
    w = Wave{};
    w.withData = false;
    EXPECT_TRUE(refused("nodata.wav", bytes(w)));
    w = Wave{};
    w.before = "JUNK";
    put32(w.before, 0xFFFFFFF0u);  // would wrap a 32-bit position
    EXPECT_TRUE(refused("hugechunk.wav", bytes(w)));
    EXPECT_THROW(pelnbooks::readWave8k16Mono((dir_ / "absent.wav").string()), std::runtime_error);
}

TEST_F(SpeechFiles, ListsWaveFilesSortedOnceEach) {
    const std::string b = write("set/b.wav", ""), a = write("set/a.WAV", "");
    write("set/notes.txt", "");
    write("set/sub/c.wav", "");
    const std::string lone = write("lone.wav", "");
    const std::vector<std::string> got = pelnbooks::listWaveFiles({lone, (dir_ / "set").string(), b});
    EXPECT_EQ(got, (std::vector<std::string>{lone, a, b}));
    EXPECT_THROW(pelnbooks::listWaveFiles({(dir_ / "nowhere").string()}), std::runtime_error);
}

TEST(SpeechShapes, SilenceGivesNothingAndSpeechLikeSoundGivesMeanOneShapes) {
    std::vector<pelnbooks::ShapeSample> none;
    pelnbooks::collectShapes(std::vector<int16_t>(8000, 0), none);
    EXPECT_TRUE(none.empty());

    // A 125 Hz pulse train through a resonance, then noise: voiced and unvoiced frames.
    std::vector<int16_t> pcm(16000 + 100);
    std::mt19937 rng(5);
    std::normal_distribution<float> noise(0.0f, 3000.0f);
    double y1 = 0, y2 = 0;
    for (size_t i = 0; i < pcm.size(); ++i) {
        const double x = i < 8000 ? (i % 64 == 0 ? 20000.0 : 0.0) : noise(rng);
        const double y = x + 1.6 * y1 - 0.8 * y2;
        y2 = y1, y1 = y;
        pcm[i] = int16_t(std::clamp(y * 0.3, -32768.0, 32767.0));
    }
    std::vector<pelnbooks::ShapeSample> got;
    pelnbooks::collectShapes(pcm, got);
    ASSERT_GE(got.size(), 80u);
    EXPECT_LE(got.size(), pcm.size() / 180);
    bool voiced = false, unvoiced = false;
    for (const auto& s : got) {
        ASSERT_GE(s.voicingClass, 0);
        ASSERT_LT(s.voicingClass, 16);
        voiced |= s.voicingClass >= 11;
        unvoiced |= s.voicingClass == 0;
        const int B = int(zef::peln::BarkCntl[s.voicingClass].bands);
        double sum = 0;
        for (int n = 0; n < B; ++n) {
            ASSERT_TRUE(std::isfinite(s.bands[n]) && s.bands[n] >= 0.0f);
            sum += s.bands[n];
        }
        EXPECT_NEAR(sum, B, 1e-3);
    }
    EXPECT_TRUE(voiced);
    EXPECT_TRUE(unvoiced);
}
