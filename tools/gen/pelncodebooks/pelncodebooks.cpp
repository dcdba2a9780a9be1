// Generator of the Peln decoder's spectral-shape codebooks.
//
//   c++ -std=c++20 -O2 tools/gen/pelncodebooks/pelncodebooks.cpp -o pelncodebooks
//   ./pelncodebooks > sdk/CODEC/Peln/PACK/pelncodebooks.cpp
//
// One book per voicing class k (voicing v = k / 15): three stages of eight
// vectors, one value per band of the class (10 bands, or 15 for classes
// 6-10, at Fmax * sinh(n / c) / sinh(B / c) Hz).  The decoder adds one vector
// of each stage and reads the sum as the harmonic amplitudes at the band
// frequencies; it normalises their sum itself, so only the shape counts.
//
// Stage 1, the mean shapes: smooth positive curves over the bands,
//   0.06 + level * exp(-tilt * F / Fmax) * (1 + height * exp(-((F - centre) / width)^2))
// with level in 0.20 .. 0.44, a gentle bump of relative height -0.15 .. 0.15
// somewhere between 400 and 2800 Hz, and a tilt around -0.1 + 1.9 v (plus or
// minus 0.4): unvoiced classes are flat or rise slightly, voiced classes fall
// towards the high bands (down to about a tenth at Fmax).  Every value is at
// least 0.078.
// Stages 2 and 3, the corrections: smooth curves of either sign made of the
// first four cosines over the band index, with Gaussian weights, scaled to a
// peak of 0.015 .. 0.03 (stage 2) and 0.006 .. 0.015 (stage 3).  Each stage
// holds four such curves and their negatives (vectors 2i and 2i + 1), so a
// stage adds no bias.  Any sum of the three stages therefore stays above
// 0.078 - 0.03 - 0.015, positive at every band; the program checks that it
// stays above 0.02.
//
// A few values are fixed: class 0, stage 1, vector 0 begins 0.3211426,
// 0.31624857, 0.2522126, 0.36141238 (its remaining values come from a flat
// curve near 0.30 that continues them); class 0, stage 2, vector 0 begins
// -0.023341214, -0.005232274 (and vector 1 is its negative).
//
// Everything comes from one splitmix64 stream with a fixed seed; the output is
// the same on every run.  To put trained books in place, replace designClass()
// and keep the printing: the decoder only needs the layout above.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr uint64_t kSeed = 0x50656c6e626f6f6bull;  // "Pelnbook"
constexpr int kClasses = 16;
constexpr int kStages = 3;
constexpr int kVectors = 8;
constexpr double kPi = 3.14159265358979323846;
constexpr double kFloor = 0.06;
constexpr double kLeastSum = 0.02;

struct Layout {
    int bands;
    double warp;
    double topHz;
};

// Band count, warp constant and top frequency of each voicing class.
Layout layoutOf(int k) {
    if (k == 0) return {10, 20.0, 3500.0};
    if (k >= 6 && k <= 10) return {15, 6.0, 3200.0};
    return {10, 4.0, 3200.0};
}

std::vector<double> bandFrequencies(const Layout& l) {
    std::vector<double> f(size_t(l.bands));
    for (int n = 1; n <= l.bands; ++n) f[size_t(n - 1)] = l.topHz * std::sinh(n / l.warp) / std::sinh(l.bands / l.warp);
    return f;
}

struct SplitMix64 {
    uint64_t state;
    uint64_t next() {
        uint64_t z = (state += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    double uniform() { return double(next() >> 11) * 0x1.0p-53; }  // [0, 1)
    double gaussian() {
        double u1 = 1.0 - uniform();  // (0, 1]
        double u2 = uniform();
        return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * kPi * u2);
    }
};

using Vector = std::vector<float>;
using Stage = std::vector<Vector>;  // kVectors vectors

struct MeanShape {
    double level, tilt, centre, width, height;
};

Vector meanCurve(const std::vector<double>& freq, double topHz, const MeanShape& s) {
    Vector v;
    for (double f : freq) {
        const double bump = 1.0 + s.height * std::exp(-std::pow((f - s.centre) / s.width, 2.0));
        v.push_back(float(kFloor + s.level * std::exp(-s.tilt * f / topHz) * bump));
    }
    return v;
}

Stage meanShapes(SplitMix64& rng, int k, const std::vector<double>& freq, double topHz) {
    const double voicing = k / 15.0;
    Stage stage;
    for (int j = 0; j < kVectors; ++j) {
        MeanShape s;
        s.level = 0.20 + 0.24 * rng.uniform();
        s.tilt = -0.1 + 1.9 * voicing + 0.8 * (rng.uniform() - 0.5);
        s.centre = 400.0 + 2400.0 * rng.uniform();
        s.width = 350.0 + 650.0 * rng.uniform();
        s.height = 0.3 * (rng.uniform() - 0.5);
        if (k == 0 && j == 0) s = {0.25, 0.05, 2000.0, 500.0, 0.0};  // flat, continuing the fixed opening
        stage.push_back(meanCurve(freq, topHz, s));
    }
    return stage;
}

Stage corrections(SplitMix64& rng, int bands, double least, double most) {
    const double weight[4] = {0.6, 1.0, 0.7, 0.45};
    Stage stage;
    for (int pair = 0; pair < kVectors / 2; ++pair) {
        double g[4];
        for (double& x : g) x = weight[&x - g] * rng.gaussian();
        std::vector<double> curve(size_t(bands), 0.0);
        double peak = 0.0;
        for (int n = 0; n < bands; ++n) {
            for (int m = 0; m < 4; ++m) curve[size_t(n)] += g[m] * std::cos(kPi * m * (n + 0.5) / bands);
            peak = std::max(peak, std::fabs(curve[size_t(n)]));
        }
        const double scale = (least + (most - least) * rng.uniform()) / peak;
        Vector plus, minus;
        for (double c : curve) {
            plus.push_back(float(c * scale));
            minus.push_back(-float(c * scale));
        }
        stage.push_back(plus);
        stage.push_back(minus);
    }
    return stage;
}

std::vector<Stage> designClass(SplitMix64& rng, int k) {
    const Layout l = layoutOf(k);
    const std::vector<double> freq = bandFrequencies(l);
    std::vector<Stage> book;
    book.push_back(meanShapes(rng, k, freq, l.topHz));
    book.push_back(corrections(rng, l.bands, 0.015, 0.03));
    book.push_back(corrections(rng, l.bands, 0.006, 0.015));
    if (k == 0) {
        const float opening[4] = {0.3211426f, 0.31624857f, 0.2522126f, 0.36141238f};
        std::copy(opening, opening + 4, book[0][0].begin());
        book[1][0][0] = -0.023341214f;
        book[1][0][1] = -0.005232274f;
        for (size_t n = 0; n < book[1][0].size(); ++n) book[1][1][n] = -book[1][0][n];
    }
    return book;
}

// Lowest value any choice of one vector per stage gives at any band.
double leastSum(const std::vector<Stage>& book) {
    double least = 1e9;
    for (size_t n = 0; n < book[0][0].size(); ++n) {
        double sum = 0.0;
        for (const Stage& s : book) {
            double lowest = 1e9;
            for (const Vector& v : s) lowest = std::min(lowest, double(v[n]));
            sum += lowest;
        }
        least = std::min(least, sum);
    }
    return least;
}

// Shortest text that reads back as the same float.
std::string literal(float x) {
    char text[32];
    for (int digits = 1; digits <= 9; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, double(x));
        if (std::strtof(text, nullptr) == x) break;
    }
    std::string s = text;
    if (s.find_first_of(".e") == std::string::npos) s += ".0";
    return s + "f";
}

std::string bookName(int k) { return "Amp" + std::to_string(k) + (layoutOf(k).bands == 15 ? "_3x3x15" : "_3x3x10"); }

void printBook(int k, const std::vector<Stage>& book) {
    const Layout l = layoutOf(k);
    std::printf("// Class %d: %d bands at", k, l.bands);
    for (double f : bandFrequencies(l)) std::printf(" %.0f", f);
    std::printf(" Hz.\nconst float %s[%s] = {\n", bookName(k).c_str(), l.bands == 15 ? "kLongBook" : "kShortBook");
    for (int s = 0; s < kStages; ++s) {
        std::printf("    // stage %d\n", s + 1);
        for (const Vector& v : book[size_t(s)]) {
            std::printf("   ");
            for (float x : v) std::printf(" %s,", literal(x).c_str());
            std::printf("\n");
        }
    }
    std::printf("};\n\n");
}

}  // namespace

int main() {
    SplitMix64 rng{kSeed};
    std::printf(
        "// Generated by tools/gen/pelncodebooks (./pelncodebooks > sdk/CODEC/Peln/PACK/pelncodebooks.cpp); do not "
        "edit.\n"
        "// Spectral-shape codebooks of the Peln decoder: stage 1 mean shapes, stages 2 and 3 corrections.\n"
        "#include \"pelncodebooks.h\"\n\nnamespace zef::peln {\n\n");
    for (int k = 0; k < kClasses; ++k) {
        const std::vector<Stage> book = designClass(rng, k);
        if (leastSum(book) < kLeastSum) {
            std::fprintf(stderr, "class %d: a sum of stages falls to %g\n", k, leastSum(book));
            return 1;
        }
        printBook(k, book);
    }
    std::printf("const float* const kShapeBooks[kVoicingClasses] = {\n");
    for (int k = 0; k < kClasses; ++k) std::printf("    %s,\n", bookName(k).c_str());
    std::printf("};\n\n}  // namespace zef::peln\n");
    return 0;
}
