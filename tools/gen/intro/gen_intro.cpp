// Generator of player/intro.zef, the sound the player plays when it is
// started without a file.
//
//   cmake --build BUILD --target gen_intro
//   BUILD/tools/gen/intro/gen_intro player/intro.zef
//
// The sound is designed, not recorded: a short sung greeting of eighteen
// syllables in three phrases on a little tune in F major (F3 175 Hz to
// D4 294 Hz), coded as Orvo frames (22.5 ms each) in a WAVE file.
//   - vowels: voicing code 15, a gentle 5 Hz vibrato of about a fifth of a
//     semitone on notes longer than ten frames, energy swelling up over the
//     first quarter of the note and easing off towards its end, each phrase
//     louder in its middle than at its ends; the ten LSP targets bracket the
//     first five formants of the vowel;
//   - consonants: m, n, l voiced (code 11) with their nasal or lateral
//     formants; s, sh, f, h, t unvoiced (codes 0-1) with hiss-like LSPs;
//   - soft silences between the phrases: energy code 0, flat LSPs.
// LSPs glide over two frames into each new sound.  Codes are chosen
// closed-loop against the decoder's own tables (orvotables.cpp); the energy
// code is corrected by the quantised synthesis filter's mean power gain at
// the frame's harmonics (the decoder does not normalise the filter), so
// every vowel plays at an even level.  Nothing is random: the file is the
// same on every run.
#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstdio>
#include <numbers>
#include <string>
#include <vector>

#include "orvotables.h"
#include "zefwriter.h"

namespace {

using zef::orvo::kLpcOrder;
using Lsp = std::array<double, kLpcOrder>;

// ---- sounds ------------------------------------------------------------------------

// Voiced sounds.  A resonance forms wherever two neighbouring LSPs lie
// close together, the closer the stronger: each vowel has narrow pairs round
// its first two or three formants and wider, even spacing elsewhere, with
// the spacing growing towards the top of the band, so that the spectrum
// falls some 30 dB from the first formant to 3.5 kHz as in natural speech
// and the vowels sound round rather than buzzy.
const Lsp kFlat = {300, 700, 1100, 1500, 1900, 2300, 2700, 3100, 3500, 3900};
const Lsp kA = {300, 560, 690, 810, 1095, 1205, 2415, 2585, 3150, 3600};  // 750, 1150, 2500 Hz
const Lsp kE = {250, 420, 490, 610, 1300, 1800, 1900, 2480, 2620, 3450};  // 550, 1850, 2550
const Lsp kI = {250, 390, 1200, 1800, 2180, 2320, 2900, 3060, 3400, 3720}; // 320, 2250, 2980
const Lsp kO = {300, 505, 615, 790, 910, 1500, 2100, 2600, 3100, 3600};   // 560, 850
const Lsp kU = {240, 400, 800, 960, 1500, 2000, 2500, 2950, 3350, 3700};  // 320, 880
const Lsp kM = {220, 320, 900, 1300, 1800, 2200, 2700, 3100, 3450, 3750}; // 270: nasal murmur
const Lsp kN = {220, 320, 1100, 1400, 1500, 2200, 2700, 3100, 3450, 3750};
const Lsp kL = {320, 440, 900, 1240, 1360, 1900, 2500, 2800, 3250, 3650};
// Unvoiced sounds: hiss with resonances near 3.5 kHz (s) and 2.5 kHz (sh).
const Lsp kS = {400, 900, 1400, 1900, 2400, 2900, 3300, 3450, 3650, 3850};
const Lsp kSh = {350, 800, 1300, 1800, 2350, 2550, 2950, 3350, 3650, 3850};

struct Consonant {
    const Lsp* shape;  // null: h, which takes the vowel's own shape
    int frames;
    int voicing;
    int energy;        // designed code at its peak
};

const Consonant kNone{nullptr, 0, 0, 0};
const Consonant kConsM{&kM, 3, 11, 36};
const Consonant kConsN{&kN, 3, 11, 36};
const Consonant kConsL{&kL, 3, 11, 38};
const Consonant kConsS{&kS, 4, 1, 26};
const Consonant kConsSh{&kSh, 4, 1, 27};
const Consonant kConsF{&kFlat, 4, 0, 22};
const Consonant kConsH{nullptr, 3, 0, 25};
const Consonant kConsT{&kFlat, 2, 0, 30};

// Notes of F major, Hz.
constexpr double F3 = 174.61, G3 = 196.00, A3 = 220.00, Bb3 = 233.08, C4 = 261.63, D4 = 293.66;

struct Syllable {
    const Consonant* consonant;
    const Lsp* vowel;
    double note;
    int frames;      // of the vowel
    int loudness;    // designed energy code at the vowel's peak
};

// A pause of soft silence is a syllable without a vowel.
std::vector<Syllable> tune() {
    return {
        {&kNone, nullptr, 0, 8, 0},
        // "hel-lo and wel-come"
        {&kConsH, &kE, A3, 12, 42},  {&kConsL, &kO, C4, 22, 46},   {&kNone, &kA, D4, 10, 44},
        {&kConsN, &kE, C4, 10, 45},  {&kConsL, &kA, A3, 14, 46},   {&kConsM, &kU, F3, 28, 42},
        {&kNone, nullptr, 0, 14, 0},
        // "so sing a-long with me"
        {&kConsS, &kO, G3, 12, 42},  {&kConsS, &kI, A3, 12, 44},   {&kNone, &kA, Bb3, 10, 45},
        {&kConsL, &kO, C4, 16, 47},  {&kConsSh, &kI, Bb3, 12, 45}, {&kConsM, &kE, A3, 12, 44},
        {&kConsN, &kO, G3, 26, 41},
        {&kNone, nullptr, 0, 14, 0},
        // "fa la, ti-me to fol-low"
        {&kConsF, &kA, A3, 12, 43},  {&kConsL, &kA, C4, 14, 46},   {&kConsT, &kI, D4, 12, 47},
        {&kConsM, &kE, C4, 12, 45},  {&kConsT, &kU, A3, 12, 44},   {&kConsF, &kO, G3, 14, 42},
        {&kConsL, &kO, F3, 38, 40},
        {&kNone, nullptr, 0, 18, 0},
    };
}

// ---- frame parameters ------------------------------------------------------------------

struct FrameParams {
    double f0;
    int voicing;
    double energy;  // designed code, before the filter correction
    Lsp lsp;
};

double mix(double a, double b, double t) { return a + (b - a) * t; }

// Rises over the first quarter to the peak, eases off to 80 % at the end.
double envelope(int n, int frames, double peak, double start) {
    const int rise = std::max(1, frames / 4);
    if (n < rise) return mix(start, peak, double(n + 1) / rise);
    return mix(peak, peak * 0.8, double(n - rise) / std::max(1, frames - 1 - rise));
}

class Phrase {
public:
    std::vector<FrameParams> frames;

    void add(const Syllable& s) {
        if (!s.vowel) {
            for (int n = 0; n < s.frames; ++n) push(kFlat, lastF0_, 0, 0.0);
            return;
        }
        const Consonant& c = *s.consonant;
        const Lsp& cShape = c.shape ? *c.shape : *s.vowel;
        for (int n = 0; n < c.frames; ++n) push(cShape, s.note, c.voicing, c.energy);
        for (int n = 0; n < s.frames; ++n) {
            const double vibrato = s.frames > 10 ? 1.0 + 0.006 * std::sin(2 * std::numbers::pi * 5.0 * n * 0.0225) : 1.0;
            const double glide = n < 3 && lastF0_ > 0 ? mix(lastF0_, s.note, (n + 1) / 3.0) / s.note : 1.0;
            push(*s.vowel, s.note * vibrato * glide, 15, envelope(n, s.frames, s.loudness, s.loudness - 12));
        }
        lastF0_ = s.note;
    }

private:
    // Two frames of glide into each new shape: a third, two thirds, all.
    void push(const Lsp& target, double f0, int voicing, double energy) {
        if (target != target_) {
            from_ = current_;
            target_ = target;
            step_ = 0;
        }
        const double t = std::min(1.0, ++step_ / 3.0);
        FrameParams f{f0 > 0 ? f0 : 150.0, voicing, energy, {}};
        for (size_t k = 0; k < size_t(kLpcOrder); ++k) f.lsp[k] = mix(from_[k], target_[k], t);
        current_ = f.lsp;
        frames.push_back(f);
    }

    Lsp from_ = kFlat, target_ = kFlat, current_ = kFlat;
    int step_ = 3;
    double lastF0_ = 0;
};

// ---- coding ------------------------------------------------------------------------

uint8_t pitchCode(double f0) {
    const double period = std::clamp(8000.0 / f0, 16.0, 125.0);
    return uint8_t(std::clamp(std::lround((125.0 - period) * 255.0 / 109.0), 0L, 255L));
}

// Each LSP code chosen against what the decoder has rebuilt so far.
std::array<uint8_t, kLpcOrder> lspCodes(const Lsp& target) {
    std::array<uint8_t, kLpcOrder> codes{};
    double rebuilt = 0.0;
    for (int k = 0; k < kLpcOrder; ++k) {
        const int slots = 1 << zef::orvo::kLspBits[k];
        int best = 0;
        for (int c = 1; c < slots; ++c)
            if (std::fabs(rebuilt + zef::orvo::lspdiff[k][c] - target[size_t(k)]) <
                std::fabs(rebuilt + zef::orvo::lspdiff[k][best] - target[size_t(k)]))
                best = c;
        codes[size_t(k)] = uint8_t(best);
        rebuilt += zef::orvo::lspdiff[k][best];
    }
    return codes;
}

Lsp decodedLsp(const std::array<uint8_t, kLpcOrder>& codes) {
    Lsp l{};
    double v = 0.0;
    for (size_t k = 0; k < size_t(kLpcOrder); ++k) l[k] = v += zef::orvo::lspdiff[k][codes[k]];
    l[9] = std::min(l[9], 3900.0);
    for (int k = 8; k >= 0 && l[size_t(k)] > l[size_t(k + 1)] - 40.0; --k) l[size_t(k)] = l[size_t(k + 1)] - 40.0;
    return l;
}

// Power gain of the synthesis filter 1/A at angular frequency w, A = (P + Q) / 2.
double filterPower(const Lsp& l, double w) {
    const std::complex<double> z1 = std::polar(1.0, -w);
    std::complex<double> p = 1.0 + z1, q = 1.0 - z1;
    for (size_t k = 0; k < size_t(kLpcOrder); ++k) {
        const double c = 2.0 * std::cos(2.0 * std::numbers::pi * l[k] / 8000.0);
        (k % 2 == 0 ? p : q) *= 1.0 - c * z1 + z1 * z1;
    }
    return 1.0 / std::norm((p + q) / 2.0);
}

// Mean power gain over what the excitation feeds the filter: the harmonics
// of a voiced frame, the whole band for noise.
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

constexpr double kReferencePower = 100.0;  // a typical vowel's filter gain, 20 dB

uint8_t energyCode(double designed, double power) {
    if (designed <= 0.0) return 0;
    const int lower = std::clamp(int(designed), 0, 62);
    const double frac = designed - lower;
    const double wanted = mix(zef::orvo::GainTable[lower], zef::orvo::GainTable[lower + 1], frac) -
                          0.5 * std::log10(power / kReferencePower);
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
    frame.insert(frame.end(), lsp.begin(), lsp.end());
    frame.push_back(0);  // spare bit
    return frame;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: gen_intro OUT.zef\n");
        return 2;
    }
    Phrase phrase;
    for (const Syllable& s : tune()) phrase.add(s);
    std::vector<zeftest::Frame> frames;
    for (const FrameParams& f : phrase.frames) frames.push_back(code(f));
    try {
        zeftest::writeFile(argv[1], zeftest::zefWave(zeftest::orvo(), frames));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "gen_intro: %s\n", e.what());
        return 1;
    }
    std::printf("%zu frames, %.2f s\n", frames.size(), frames.size() * 0.0225);
    return 0;
}
