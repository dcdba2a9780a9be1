// The stored noise books and random phases.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "orvo_test_util.h"

namespace orvo = zef::orvo;

namespace {

constexpr int kLength = orvo::kNoiseBookLength;
constexpr double kHzPerBin = 8000.0 / kLength;
const double kPi = 3.14159265358979323846;

// Energies of DFT bins 0 .. lastBin of a whole book (the books are read
// circularly, so the circular spectrum is the one that matters).
std::vector<double> binEnergies(const int16_t* book, int lastBin) {
    std::vector<double> c(kLength), s(kLength);
    for (int i = 0; i < kLength; ++i) {
        c[i] = std::cos(2.0 * kPi * i / kLength);
        s[i] = std::sin(2.0 * kPi * i / kLength);
    }
    std::vector<double> energy(lastBin + 1);
    for (int b = 0; b <= lastBin; ++b) {
        double re = 0.0, im = 0.0;
        for (int n = 0, idx = 0; n < kLength; ++n, idx = (idx + b) % kLength) {
            re += book[n] * c[idx];
            im -= book[n] * s[idx];
        }
        // Bins other than 0 and 1600 stand for both signs of frequency.
        energy[b] = (re * re + im * im) * ((b == 0 || b == kLength / 2) ? 1.0 : 2.0) / kLength;
    }
    return energy;
}

double totalEnergy(const int16_t* book) {
    double e = 0.0;
    for (int i = 0; i < kLength; ++i) e += double(book[i]) * book[i];
    return e;
}

double bookRms(const int16_t* book) { return std::sqrt(totalEnergy(book) / kLength); }

TEST(OrvoNoiseBooks, EachBookFillsTheBandAboveItsVoicingCutOff) {
    for (int k = 1; k <= 14; ++k) {
        const int16_t* book = orvo::kNoiseBooks[k];
        const double edge = k * 3720.0 / 15.0;
        const int edgeBin = int(std::ceil(edge / kHzPerBin));
        const int bandEnd = std::min(kLength / 2, edgeBin + int(500.0 / kHzPerBin));
        const std::vector<double> e = binEnergies(book, bandEnd);
        const double total = totalEnergy(book);
        double below = 0.0, band = 0.0;
        for (int b = 0; b < edgeBin; ++b) below += e[b];
        for (int b = edgeBin; b <= bandEnd; ++b) band += e[b];
        EXPECT_LT(below / total, 1e-6) << "book " << k << " below " << edge << " Hz";
        const double fairShare = 500.0 / (4000.0 - edge);
        EXPECT_GT(band / total, 0.7 * std::min(1.0, fairShare)) << "book " << k << " just above its edge";
        EXPECT_NEAR(bookRms(book), 10000.0, 500.0) << "book " << k;
    }
}

TEST(OrvoNoiseBooks, BookZeroIsWhiteAndBookFifteenSilent) {
    const std::vector<double> e = binEnergies(orvo::kNoiseBooks[0], kLength / 2);
    const double total = totalEnergy(orvo::kNoiseBooks[0]);
    for (int band = 0; band < 8; ++band) {
        double sum = 0.0;
        for (int b = band * 200; b < (band + 1) * 200; ++b) sum += e[b];
        EXPECT_NEAR(sum / total, 1.0 / 8.0, 0.03) << "500 Hz band " << band;
    }
    EXPECT_NEAR(bookRms(orvo::kNoiseBooks[0]), 18800.0, 600.0);
    for (int i = 0; i < kLength; ++i) ASSERT_EQ(orvo::kNoiseBooks[15][i], 0) << i;
}

TEST(OrvoRandomPhases, SpreadUniformlyOverOneTurn) {
    EXPECT_FLOAT_EQ(orvo::un[0], -2.71546f);
    EXPECT_FLOAT_EQ(orvo::un[1], 1.938296f);
    EXPECT_FLOAT_EQ(orvo::un[2], -0.234001f);
    EXPECT_FLOAT_EQ(orvo::un[3], -0.988811f);
    int count[16] = {};
    for (float r : orvo::un) {
        ASSERT_GE(r, -kPi);
        ASSERT_LT(r, kPi);
        count[int((r + kPi) / (2.0 * kPi) * 16.0)]++;
    }
    for (int c : count) EXPECT_EQ(c, 20);
}

}  // namespace
