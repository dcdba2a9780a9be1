// Generator of the Orvo decoder's noise books and random phases.
//
//   c++ -std=c++20 -O2 tools/gen/orvonoise/orvonoise.cpp -o orvonoise
//   ./orvonoise > sdk/CODEC/Orvo/DECODE/orvonoise.cpp
//
// Sixteen books of 3200 samples, one per voicing code k.  Book 0 is uniform
// white noise over the full 16-bit range (RMS about 18900).  Books 1 to 14 are
// Gaussian white noise with every spectral component below k * 248 Hz removed
// (k / 15 of the 3720 Hz voicing cut-off), scaled to RMS 10000.  The band
// limit is applied circularly over the whole book (one DFT of 3200 points),
// because the decoder reads the books circularly: the join from the last
// sample to the first is as band-limited as any other stretch.  Peaks above
// the 16-bit range are clipped and the book band-limited and rescaled again
// until it fits, so the stored book has no energy below its edge.  Book 15 is
// silent.
//
// The 320 random phases start with four fixed values and fill the remaining
// strata of a uniform 320-way split of -pi .. pi, one jittered value per
// stratum, in shuffled order.
//
// Everything comes from one splitmix64 stream with a fixed seed; the output is
// the same on every run.
#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr uint64_t kSeed = 0x4f72766f6e6f6973ull;  // "Orvonois"
constexpr int kBookLength = 3200;
constexpr int kBooks = 16;
constexpr int kPhases = 320;
constexpr double kRate = 8000.0;
constexpr double kBandStep = 3720.0 / 15.0;  // Hz per voicing code
constexpr double kTargetRms = 10000.0;
constexpr double kPi = 3.14159265358979323846;

using Complex = std::complex<double>;

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

// Mixed-radix decimation-in-time DFT; 3200 = 2^7 * 5^2.
std::vector<Complex> dft(const std::vector<Complex>& x, double sign) {
    const size_t n = x.size();
    if (n == 1) return x;
    size_t p = 2;
    while (n % p) ++p;
    const size_t m = n / p;
    std::vector<std::vector<Complex>> sub(p);
    for (size_t j = 0; j < p; ++j) {
        std::vector<Complex> part(m);
        for (size_t i = 0; i < m; ++i) part[i] = x[j + p * i];
        sub[j] = dft(part, sign);
    }
    std::vector<Complex> out(n);
    for (size_t k = 0; k < n; ++k) {
        Complex sum = 0.0;
        for (size_t j = 0; j < p; ++j) {
            double angle = sign * 2.0 * kPi * double((j * k) % n) / double(n);
            sum += sub[j][k % m] * Complex(std::cos(angle), std::sin(angle));
        }
        out[k] = sum;
    }
    return out;
}

// Removes every component below edgeHz (both signs of frequency, and DC).
void bandLimit(std::vector<double>& x, double edgeHz) {
    std::vector<Complex> c(x.begin(), x.end());
    c = dft(c, -1.0);
    const size_t n = c.size();
    for (size_t b = 0; b < n; ++b) {
        double hz = double(std::min(b, n - b)) * kRate / double(n);
        if (hz < edgeHz) c[b] = 0.0;
    }
    c = dft(c, 1.0);
    for (size_t i = 0; i < n; ++i) x[i] = c[i].real() / double(n);
}

void scaleTo(std::vector<double>& x, double rms) {
    double energy = 0.0;
    for (double v : x) energy += v * v;
    double f = rms / std::sqrt(energy / double(x.size()));
    for (double& v : x) v *= f;
}

std::vector<int16_t> bandBook(SplitMix64& rng, int k) {
    std::vector<double> x(kBookLength);
    for (double& v : x) v = rng.gaussian();
    const double edge = k * kBandStep;
    for (int round = 0;; ++round) {
        bandLimit(x, edge);
        scaleTo(x, kTargetRms);
        double peak = 0.0;
        for (double v : x) peak = std::max(peak, std::fabs(std::nearbyint(v)));
        if (peak <= 32767.0) break;
        if (round == 100) {
            std::fprintf(stderr, "book %d does not settle\n", k);
            std::exit(1);
        }
        for (double& v : x) v = std::clamp(v, -32767.0, 32767.0);
    }
    std::vector<int16_t> book(kBookLength);
    for (int i = 0; i < kBookLength; ++i) book[i] = int16_t(std::lrint(x[i]));
    return book;
}

std::vector<int16_t> makeBook(SplitMix64& rng, int k) {
    if (k == kBooks - 1) return std::vector<int16_t>(kBookLength, 0);
    if (k > 0) return bandBook(rng, k);
    std::vector<int16_t> book(kBookLength);
    for (int16_t& v : book) v = int16_t(int(rng.next() % 65535u) - 32767);
    return book;
}

std::vector<double> makePhases(SplitMix64& rng) {
    std::vector<double> phases = {-2.71546, 1.938296, -0.234001, -0.988811};
    const double width = 2.0 * kPi / kPhases;
    std::vector<bool> taken(kPhases, false);
    for (double v : phases) taken[size_t((v + kPi) / width)] = true;
    std::vector<double> rest;
    for (int s = 0; s < kPhases; ++s)
        if (!taken[s]) rest.push_back(-kPi + (s + rng.uniform()) * width);
    for (size_t i = rest.size() - 1; i > 0; --i) std::swap(rest[i], rest[rng.next() % (i + 1)]);
    phases.insert(phases.end(), rest.begin(), rest.end());
    return phases;
}

void printBook(int k, const std::vector<int16_t>& book) {
    std::printf("const int16_t BOOK8%d[kNoiseBookLength] = {\n", k);
    for (int i = 0; i < kBookLength; i += 16) {
        std::printf("   ");
        for (int j = i; j < i + 16; ++j) std::printf(" %d,", book[j]);
        std::printf("\n");
    }
    std::printf("};\n\n");
}

}  // namespace

int main() {
    SplitMix64 rng{kSeed};
    std::printf(
        "// Generated by tools/gen/orvonoise (./orvonoise > sdk/CODEC/Orvo/DECODE/orvonoise.cpp); do not edit.\n"
        "// Noise books of the unvoiced synthesis and random phases of the voiced synthesis.\n"
        "#include \"orvonoise.h\"\n\nnamespace zef::orvo {\n\n");
    for (int k = 0; k < kBooks; ++k) printBook(k, makeBook(rng, k));
    std::printf("const int16_t* const kNoiseBooks[kNoiseBookCount] = {\n");
    for (int k = 0; k < kBooks; ++k) std::printf("    BOOK8%d,\n", k);
    std::printf("};\n\nconst float un[kRandomPhaseCount] = {\n");
    std::vector<double> phases = makePhases(rng);
    for (int i = 0; i < kPhases; i += 8) {
        std::printf("   ");
        for (int j = i; j < i + 8; ++j) std::printf(" %.9g,", double(float(phases[j])));
        std::printf("\n");
    }
    std::printf("};\n\n}  // namespace zef::orvo\n");
    return 0;
}
