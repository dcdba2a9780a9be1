// Generator of the 27 Guisette preview samples.
//
//   c++ -std=c++20 -O2 -Itests/support -Isdk/CODEC/Orvo/PACK tools/gen/previews/gen_previews.cpp
//       tests/support/zefwriter.cpp sdk/CODEC/Orvo/PACK/orvotables.cpp -o gen_previews
//   ./gen_previews > sdk/API/FX/previews.cpp
//
// (the build also makes it as the target gen_previews).
//
// Every preview is the same short sung phrase, coded as 221 Orvo frames
// (4.97 s), with the preset's voice transformation applied the way the
// encoder applies it, so that each sample already sounds like its preset
// before the player adds the preset's PCM effect.
//
// The phrase is designed, not recorded: eleven syllables on a little tune
// around 110-180 Hz (a male voice), each a consonant and a vowel.
//   - vowels: voicing code 14, energy rising to its peak over the first
//     third and falling by about a fifth, pitch gliding between two notes;
//     the ten LSP targets bracket the first five formants of the vowel
//     (pairs about 100-250 Hz wide), e.g. /a/ 730, 1090, 2440, 3300, 3750 Hz;
//   - voiced consonants (m, n, l): voicing 10, lower energy, their own
//     formants; unvoiced ones (s, sh, f, h, t): voicing 0 or 1, hiss-like
//     LSPs (s and sh with resonances near 3.5 and 2.5 kHz, f and t flat, h
//     the following vowel's shape);
//   - silence: energy code 0, flat LSPs 300 .. 3900 Hz.
// LSPs glide over two frames into each new sound.  The frame's LSPs are
// quantised closed-loop with the decoder's own tables (orvotables.cpp); the
// pitch code is the one whose period 125 - code * 109 / 255 is nearest to
// 8000 / F0.  The decoder does not normalise its synthesis filter, so the
// designed energy is corrected by the quantised filter's mean power gain at
// the frame's harmonics (over the whole band for noise), relative to 20 dB:
// vowels then play at an even level (RMS about 1000-2500) whatever their
// resonances or the preset's pitch and formants.
//
// The transformations, by the preset's type and amount as in the catalogue
// (the same formulas as the library's SetGuisette):
//   1, 7 whisper: voicing removed;  2, 6 flattened pitch:
//   F0 * slope + base;  3 alternating pitch;  4, 5, 8, 9 transposition:
//   F0 * 1.059463094^semitones;  5 to 9 also warp the formants: the
//   envelope's power at f is taken from f * warp, so every LSP moves to
//   LSP / warp (what is pushed past 3.8 kHz is spread evenly up to 3.9 kHz).
//
// Record 0 (no Guisette) is a 1566-byte WAVE image; the others carry the
// 10-byte Guisette chunk and are 1576 bytes.  Nothing is random: the output
// is the same on every run.
#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <vector>

#include "orvotables.h"
#include "zefwriter.h"

namespace {

using zef::orvo::kLpcOrder;
using Lsp = std::array<double, kLpcOrder>;

constexpr int kFrames = 221;
constexpr size_t kPlainSize = 1566;
constexpr size_t kChunkSize = 1576;

// ---- the phrase ------------------------------------------------------------------

// Two LSPs round each of five formants (F, half-width of the pair).
Lsp formants(std::array<double, 5> f, std::array<double, 5> half = {50, 70, 90, 110, 80}) {
    Lsp l{};
    for (int i = 0; i < 5; ++i) {
        l[size_t(2 * i)] = f[size_t(i)] - half[size_t(i)];
        l[size_t(2 * i + 1)] = f[size_t(i)] + half[size_t(i)];
    }
    return l;
}

const Lsp kFlat = {300, 700, 1100, 1500, 1900, 2300, 2700, 3100, 3500, 3900};
const Lsp kA = formants({730, 1090, 2440, 3300, 3750});
const Lsp kE = formants({530, 1840, 2480, 3300, 3750});
const Lsp kI = formants({300, 2250, 2950, 3400, 3800}, {50, 70, 90, 100, 60});
const Lsp kO = formants({570, 840, 2410, 3300, 3750}, {50, 60, 90, 110, 80});
const Lsp kU = formants({320, 870, 2240, 3300, 3750}, {50, 60, 90, 110, 80});
const Lsp kM = formants({250, 1100, 2200, 3300, 3750}, {60, 150, 120, 110, 80});
const Lsp kN = formants({250, 1400, 2500, 3300, 3750}, {60, 150, 120, 110, 80});
const Lsp kL = formants({360, 1300, 2700, 3300, 3750});
const Lsp kS = {400, 900, 1400, 1900, 2400, 2900, 3300, 3450, 3650, 3850};
const Lsp kSh = {350, 800, 1300, 1800, 2350, 2550, 2950, 3350, 3650, 3850};

struct Segment {
    const Lsp* shape;
    int frames;
    double f0From, f0To;                 // Hz, glided
    int energyFrom, energyPeak, energyTo;  // codes; peak at a third of the way
    int voicing;                         // code 0 .. 15
};

// Silence, then syllables (consonant, vowel) with a few pauses.
std::vector<Segment> phrase() {
    const Lsp* sil = &kFlat;
    return {
        {sil, 5, 120, 120, 0, 0, 0, 0},
        {&kS, 4, 131, 131, 22, 28, 26, 1},     {&kA, 17, 131, 139, 38, 48, 42, 14},
        {&kM, 3, 139, 147, 34, 36, 35, 10},    {&kE, 16, 147, 150, 40, 47, 42, 14},
        {sil, 2, 150, 150, 0, 0, 0, 0},
        {&kO, 3, 165, 165, 24, 28, 30, 0},     {&kO, 19, 165, 160, 40, 50, 44, 14},   // h + o
        {&kL, 3, 158, 150, 34, 38, 36, 10},    {&kI, 16, 147, 150, 40, 46, 41, 14},
        {&kFlat, 4, 131, 131, 20, 24, 22, 0},  {&kU, 17, 131, 127, 38, 45, 40, 14},   // f + u
        {sil, 4, 127, 127, 0, 0, 0, 0},
        {&kSh, 4, 175, 175, 24, 30, 28, 1},    {&kA, 19, 175, 182, 40, 50, 45, 14},
        {&kN, 3, 180, 168, 34, 37, 35, 10},    {&kE, 16, 165, 160, 40, 46, 41, 14},
        {&kFlat, 2, 150, 150, 18, 32, 20, 0},  {&kO, 17, 147, 140, 38, 44, 40, 14},   // t + o
        {&kM, 3, 138, 133, 32, 35, 34, 10},    {&kA, 33, 131, 110, 38, 46, 22, 14},
        {sil, 11, 110, 110, 0, 0, 0, 0},
    };
}

struct FrameParams {
    double f0;
    int voicing;
    int energy;
    Lsp lsp;
};

double mix(double a, double b, double t) { return a + (b - a) * t; }

std::vector<FrameParams> buildPhrase() {
    std::vector<FrameParams> out;
    Lsp previous = kFlat;
    for (const Segment& s : phrase()) {
        const int third = std::max(1, s.frames / 3);
        for (int n = 0; n < s.frames; ++n) {
            FrameParams f{};
            const double x = s.frames > 1 ? double(n) / (s.frames - 1) : 0.0;
            f.f0 = mix(s.f0From, s.f0To, x);
            f.energy = int(std::lround(n < third ? mix(s.energyFrom, s.energyPeak, double(n) / third)
                                                 : mix(s.energyPeak, s.energyTo,
                                                       double(n - third) / std::max(1, s.frames - 1 - third))));
            f.voicing = s.voicing;
            const double glide = n < 2 ? (n + 1) / 3.0 : 1.0;
            for (int k = 0; k < kLpcOrder; ++k) f.lsp[size_t(k)] = mix(previous[size_t(k)], (*s.shape)[size_t(k)], glide);
            out.push_back(f);
        }
        previous = *s.shape;
    }
    if (out.size() != size_t(kFrames)) {
        std::fprintf(stderr, "the phrase has %zu frames, not %d\n", out.size(), kFrames);
        std::exit(1);
    }
    return out;
}

// ---- the presets' transformations -------------------------------------------------

struct Preset {
    uint16_t id, type, amount;
};

// Numbers, types and amounts of the built-in catalogue, in its order.
constexpr Preset kPresets[27] = {
    {0, 0, 0},     {101, 2, 125}, {102, 2, 30},  {103, 2, 220}, {105, 6, 160}, {106, 2, 75}, {109, 2, 160},
    {201, 0, 0},   {204, 2, 40},  {601, 2, 75},  {602, 6, 230}, {603, 6, 230}, {604, 0, 0},  {605, 0, 0},
    {301, 0, 0},   {302, 0, 0},   {303, 0, 0},   {305, 0, 0},   {502, 9, 40},  {503, 5, 200}, {504, 6, 230},
    {401, 5, 1},   {402, 5, 48},  {403, 5, 101}, {404, 5, 155}, {405, 5, 254}, {406, 0, 0},
};

struct Transformation {
    enum Pitch { Keep, Whisper, Flatten, Alternate, Transpose } pitch = Keep;
    double slope = 0, base = 0;       // flattened pitch
    double low = 0, high = 0;         // alternating pitch
    double factor = 1;                // transposition
    double warp = 1;                  // formant warp; 1 for none
};

Transformation transformationOf(const Preset& p) {
    const double a = p.amount, t = float(a / 255.0), u = float((255.0 - a) / 255.0);
    const double r = 1.059463094;
    Transformation x;
    switch (p.type) {
        case 1: x.pitch = Transformation::Whisper; break;
        case 2: x = {Transformation::Flatten, 30.0 / 436.0, 85.0 + 165.0 * a / 255.0}; break;
        case 3: x.pitch = Transformation::Alternate; x.low = 64; x.high = 64 + 60 + 40 * a / 255.0; break;
        case 4: x.pitch = Transformation::Transpose; x.factor = std::pow(r, float(20.0 * a / 255.0) - 10.0); break;
        case 5: x.pitch = Transformation::Transpose; x.factor = std::pow(r, 40 * t - 15); x.warp = 0.6 * u + 0.7; break;
        case 6: x = {Transformation::Flatten, 15.0 / 436.0, 165.0 * (255.0 - a) / 255.0 + 85.0}; x.warp = 0.75 * u + 0.6; break;
        case 7: x.pitch = Transformation::Whisper; x.warp = 0.75 * u + 0.6; break;
        case 8: x.pitch = Transformation::Transpose; x.factor = std::pow(r, 40 * (105.0 / 255.0) - 15); x.warp = 0.75 * (5.0 / 255.0) + 0.6; break;
        case 9: x.pitch = Transformation::Transpose; x.factor = std::pow(r, 40 * u - 15); x.warp = 0.75 * u + 0.6; break;
        default: break;
    }
    return x;
}

// A feature at f moves to f / warp.  LSPs pushed towards the top of the
// band are spread evenly up to 3.9 kHz, at least kTopSpacing apart, so that
// no crowded pair rings there; at the bottom they keep 60 Hz apart.
constexpr double kTopSpacing = 150.0;

void warpFormants(Lsp& l, double warp) {
    if (warp == 1.0) return;
    for (double& v : l) v /= warp;
    int kept = kLpcOrder;
    while (kept > 0 && l[size_t(kept - 1)] > 3900.0 - kTopSpacing * (kLpcOrder - kept + 1)) --kept;
    const double from = kept > 0 ? l[size_t(kept - 1)] : 0.0;
    const double step = (3900.0 - from) / (kLpcOrder - kept + 1);
    for (int j = kept; j < kLpcOrder; ++j) l[size_t(j)] = from + step * (j - kept + 1);
    l[0] = std::max(l[0], 90.0);
    for (int j = 1; j < kLpcOrder; ++j) l[size_t(j)] = std::max(l[size_t(j)], l[size_t(j - 1)] + 60.0);
}

void transform(std::vector<FrameParams>& frames, const Transformation& x) {
    bool high = true;  // the alternating pitch starts high
    for (FrameParams& f : frames) {
        warpFormants(f.lsp, x.warp);
        if (f.voicing == 0) continue;
        switch (x.pitch) {
            case Transformation::Whisper: f.voicing = 0; break;
            case Transformation::Flatten: f.f0 = f.f0 * x.slope + x.base; break;
            case Transformation::Alternate: f.f0 = high ? x.high : x.low; high = !high; break;
            case Transformation::Transpose: f.f0 *= x.factor; break;
            case Transformation::Keep: break;
        }
    }
}

// ---- coding ------------------------------------------------------------------------

uint8_t pitchCode(double f0) {
    const double period = std::clamp(8000.0 / f0, 16.0, 125.0);
    return uint8_t(std::clamp(std::lround((125.0 - period) * 255.0 / 109.0), 0L, 255L));
}

// Each code chosen against the LSP that the decoder rebuilds so far.
std::array<uint8_t, kLpcOrder> lspCodes(const Lsp& target) {
    std::array<uint8_t, kLpcOrder> codes{};
    double rebuilt = 0.0;
    for (int k = 0; k < kLpcOrder; ++k) {
        const int slots = 1 << zef::orvo::kLspBits[k];
        int best = 0;
        for (int c = 1; c < slots; ++c) {
            if (std::fabs(rebuilt + zef::orvo::lspdiff[k][c] - target[size_t(k)]) <
                std::fabs(rebuilt + zef::orvo::lspdiff[k][best] - target[size_t(k)]))
                best = c;
        }
        codes[size_t(k)] = uint8_t(best);
        rebuilt += zef::orvo::lspdiff[k][best];
    }
    return codes;
}

// The LSPs as the decoder rebuilds them from the codes.
Lsp decodedLsp(const std::array<uint8_t, kLpcOrder>& codes) {
    Lsp l{};
    double v = 0.0;
    for (int k = 0; k < kLpcOrder; ++k) l[size_t(k)] = v += zef::orvo::lspdiff[k][codes[size_t(k)]];
    l[9] = std::min(l[9], 3900.0);
    for (int k = 8; k >= 0 && l[size_t(k)] > l[size_t(k + 1)] - 40.0; --k) l[size_t(k)] = l[size_t(k + 1)] - 40.0;
    return l;
}

// Power gain of the synthesis filter 1/A at angular frequency w, with
// A = (P + Q) / 2 built from the LSPs (P's roots at the even-numbered ones).
double filterPower(const Lsp& l, double w) {
    const std::complex<double> z1 = std::polar(1.0, -w);
    std::complex<double> p = 1.0 + z1, q = 1.0 - z1;
    for (int k = 0; k < kLpcOrder; ++k) {
        const std::complex<double> factor = 1.0 - 2.0 * std::cos(2.0 * std::numbers::pi * l[size_t(k)] / 8000.0) * z1 + z1 * z1;
        (k % 2 == 0 ? p : q) *= factor;
    }
    return 1.0 / std::norm((p + q) / 2.0);
}

// The filter's mean power gain over what the excitation feeds it: the
// harmonics of a voiced frame (as many as the decoder makes), the whole
// band for noise.
double excitedPower(const Lsp& l, int voicing, double period) {
    double sum = 0.0;
    int count = 0;
    if (voicing > 0) {
        count = std::min(60, int(int(period / 2.0) * 0.9254));
        for (int h = 1; h <= count; ++h) sum += filterPower(l, 2.0 * std::numbers::pi * h / period);
    } else {
        count = 64;
        for (int i = 0; i < count; ++i) sum += filterPower(l, std::numbers::pi * (i + 0.5) / count);
    }
    return sum / std::max(count, 1);
}

// The decoder scales the excitation by the energy and does not normalise the
// filter, so the code is corrected by the filter's gain: every sound then
// plays as loud as one whose filter has the power gain of a typical vowel
// (20 dB) and the designed code.
constexpr double kReferencePower = 100.0;

uint8_t energyCode(int designed, double power) {
    const double wanted =
        zef::orvo::GainTable[std::clamp(designed, 0, 63)] - 0.5 * std::log10(power / kReferencePower);
    int best = 0;
    for (int c = 1; c < zef::orvo::kGainCodes; ++c)
        if (std::fabs(zef::orvo::GainTable[c] - wanted) < std::fabs(zef::orvo::GainTable[best] - wanted)) best = c;
    return uint8_t(best);
}

zeftest::Frame code(const FrameParams& f) {
    const uint8_t pitch = pitchCode(f.f0);
    const std::array<uint8_t, kLpcOrder> lsp = lspCodes(f.lsp);
    const double power = excitedPower(decodedLsp(lsp), f.voicing, 125.0 - pitch * 109.0 / 255.0);
    zeftest::Frame frame{uint8_t(f.voicing), pitch, energyCode(f.energy, power)};
    for (uint8_t c : lsp) frame.push_back(c);
    frame.push_back(0);  // spare bit
    return frame;
}

std::vector<uint8_t> preview(const Preset& p) {
    std::vector<FrameParams> params = buildPhrase();
    transform(params, transformationOf(p));
    std::vector<zeftest::Frame> frames;
    for (const FrameParams& f : params) frames.push_back(code(f));
    std::vector<uint8_t> wave = zeftest::zefWave(zeftest::orvo(), frames, p.id);
    if (wave.size() != (p.id ? kChunkSize : kPlainSize)) {
        std::fprintf(stderr, "preview %u is %zu bytes\n", unsigned(p.id), wave.size());
        std::exit(1);
    }
    return wave;
}

void emit(const Preset& p, const std::vector<uint8_t>& bytes) {
    std::printf("const uint8_t kPreview%u[%zu] = {\n", unsigned(p.id), bytes.size());
    for (size_t i = 0; i < bytes.size(); i += 16) {
        std::printf("   ");
        for (size_t j = i; j < std::min(bytes.size(), i + 16); ++j) std::printf(" 0x%02x,", bytes[j]);
        std::printf("\n");
    }
    std::printf("};\n\n");
}

}  // namespace

int main() {
    std::printf("// Generated by tools/gen/previews (./gen_previews > sdk/API/FX/previews.cpp); do not edit.\n");
    std::printf("// The Guisette preview samples: one sung phrase of coded Orvo speech per\n");
    std::printf("// preset, transformed as the preset transforms a voice, as WAVE images.\n");
    std::printf("#include \"guisette.h\"\n\nnamespace zef {\nnamespace {\n\n");
    std::vector<size_t> sizes;
    for (const Preset& p : kPresets) {
        std::vector<uint8_t> bytes = preview(p);
        emit(p, bytes);
        sizes.push_back(bytes.size());
    }
    std::printf("}  // namespace\n\nconst PreviewRecord gZefPreviewRecords[kPreviewCount] = {\n");
    for (size_t i = 0; i < sizes.size(); ++i)
        std::printf("    {%u, %zu, kPreview%u},\n", unsigned(kPresets[i].id), sizes[i], unsigned(kPresets[i].id));
    std::printf("};\n\n}  // namespace zef\n");
    return 0;
}
