// Voiced excitation: one oscillator per voiced harmonic whose amplitude,
// frequency and phase run on from one call to the next.  Small pitch
// changes glide over the call's K samples; large ones crossfade two steady
// tones over the overlap of the previous and the current segment.
//
// Each oscillator is a unit phasor turned by a complex factor every sample,
// four harmonics side by side in the lanes of a vector; the sine is its
// imaginary part.  Every call starts the phasors afresh from the phases
// kept in double precision, so rounding cannot build up over a session:
// within a call (at most 180 turns) the phasor's length stays within 1e-5
// of one.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "lanes.h"
#include "peln.h"

namespace zef::peln {

namespace {

using lanes::Float4;
using lanes::load4;
using lanes::store4;

constexpr double kTwoPi = 6.283185307179586;
constexpr int kGroups = (kMaxHarmonics + 3) / 4;
constexpr int kRun = 4;  // samples that share one turn per sample in a glide

// floor for the phases here (far inside int64_t), without a library call.
double floorOf(double x) {
    if (!(std::fabs(x) < 1e15)) return 0.0;  // only a damaged phase
    const double t = double(int64_t(x));
    return t > x ? t - 1.0 : t;
}

struct Turn {
    double c, s;
};

// e^(i angle): the nearest of the table's points, turned on by the rest
// (at most pi / 256) through short series, correct to about 1e-15.
Turn turnOf(const VoicedState& vs, double angle) {
    const double units = angle * (kTurnPoints / kTwoPi);
    const double nearest = floorOf(units + 0.5);
    const double f = (units - nearest) * (kTwoPi / kTurnPoints);
    const int i = int(int64_t(nearest) & (kTurnPoints - 1));
    const double f2 = f * f;
    const double cf = 1.0 - f2 * (0.5 - f2 * (1.0 / 24.0));
    const double sf = f * (1.0 - f2 * (1.0 / 6.0 - f2 * (1.0 / 120.0)));
    return {vs.turnCos[i] * cf - vs.turnSin[i] * sf, vs.turnSin[i] * cf + vs.turnCos[i] * sf};
}

// Oscillators lane by lane: the phasor z, its turn r per sample, the turn
// c of r from one run of kRun samples to the next, the amplitude and its
// step per sample.
struct Bank {
    float zr[4 * kGroups], zi[4 * kGroups];
    float rr[4 * kGroups], ri[4 * kGroups];
    float cr[4 * kGroups], ci[4 * kGroups];
    float amp[4 * kGroups], ampStep[4 * kGroups];
    int count = 0;

    // An oscillator at phase + step n + bend n^2 radians at sample n with
    // amplitude amp + ampStep n.  Within each run of kRun samples the
    // frequency is the run's mean, so that the phase is exact at the start
    // of every run and off by at most bend kRun^2 / 8 in between.
    // c is e^(i 2 kRun bend), which the caller has at hand.
    void add(const VoicedState& vs, double phase, double step, double bend, Turn c, float a, float aStep) {
        const int k = count++;
        const Turn z = turnOf(vs, phase), r = turnOf(vs, step + bend * kRun);
        zr[k] = float(z.c), zi[k] = float(z.s);
        rr[k] = float(r.c), ri[k] = float(r.s);
        cr[k] = float(c.c), ci[k] = float(c.s);
        amp[k] = a, ampStep[k] = aStep;
    }

    // Unused lanes of the last group stay silent.
    void pad() {
        for (int k = count; k < 4 * ((count + 3) / 4); ++k)
            zr[k] = zi[k] = rr[k] = ri[k] = cr[k] = ci[k] = amp[k] = ampStep[k] = 0.0f;
    }
};

// Four oscillators of a bank, in registers.
struct Group {
    Float4 zr, zi, rr, ri, cr, ci, a, da;

    Group(const Bank& b, int group) {
        const int at = 4 * group;
        zr = load4(b.zr + at), zi = load4(b.zi + at);
        rr = load4(b.rr + at), ri = load4(b.ri + at);
        cr = load4(b.cr + at), ci = load4(b.ci + at);
        a = load4(b.amp + at), da = load4(b.ampStep + at);
    }
    Float4 sample() const { return a * zi; }
    void next() {
        const Float4 nr = zr * rr - zi * ri;
        zi = zr * ri + zi * rr;
        zr = nr;
        a += da;
    }
    void nextRun() {
        const Float4 nr = rr * cr - ri * ci;
        ri = rr * ci + ri * cr;
        rr = nr;
    }
};

// One or two groups over `length` samples, each sample's lane sums added
// into acc[n]; two at a time keep two chains of turns in flight.
void runOne(Group g, int length, Float4* acc) {
    int n = 0;
    for (; n + kRun <= length; n += kRun) {
        for (int j = 0; j < kRun; ++j) acc[n + j] += g.sample(), g.next();
        g.nextRun();
    }
    for (; n < length; ++n) acc[n] += g.sample(), g.next();
}

void runTwo(Group g, Group h, int length, Float4* acc) {
    int n = 0;
    for (; n + kRun <= length; n += kRun) {
        for (int j = 0; j < kRun; ++j) acc[n + j] += g.sample() + h.sample(), g.next(), h.next();
        g.nextRun(), h.nextRun();
    }
    for (; n < length; ++n) acc[n] += g.sample() + h.sample(), g.next(), h.next();
}

// The bank's samples 0 .. length - 1 added into out.
void runBank(Bank& b, int length, float* out) {
    if (b.count == 0 || length <= 0) return;
    b.pad();
    Float4 acc[kMaxOutput] = {};
    const int groups = (b.count + 3) / 4;
    int g = 0;
    for (; g + 2 <= groups; g += 2) runTwo(Group(b, g), Group(b, g + 1), length, acc);
    if (g < groups) runOne(Group(b, g), length, acc);
    // Lane sums four samples at a time: transposed, then added.
    int n = 0;
    for (; n + 4 <= length; n += 4) {
        const Float4 t0 = __builtin_shufflevector(acc[n], acc[n + 1], 0, 4, 1, 5);
        const Float4 t1 = __builtin_shufflevector(acc[n], acc[n + 1], 2, 6, 3, 7);
        const Float4 t2 = __builtin_shufflevector(acc[n + 2], acc[n + 3], 0, 4, 1, 5);
        const Float4 t3 = __builtin_shufflevector(acc[n + 2], acc[n + 3], 2, 6, 3, 7);
        const Float4 sum = (__builtin_shufflevector(t0, t2, 0, 1, 4, 5) + __builtin_shufflevector(t0, t2, 2, 3, 6, 7)) +
                           (__builtin_shufflevector(t1, t3, 0, 1, 4, 5) + __builtin_shufflevector(t1, t3, 2, 3, 6, 7));
        store4(out + n, load4(out + n) + sum);
    }
    for (; n < length; ++n) out[n] += (acc[n][0] + acc[n][1]) + (acc[n][2] + acc[n][3]);
}

struct Track {
    double startPhase;   // radians
    double targetPhase;  // radians, at the first sample of the next call
    double fromOmega;    // radians per sample
    double toOmega;
    float fromAmp, toAmp;
};

// Linear amplitude, linearly gliding frequency, and the leftover distance to
// the target phase spread evenly over the K samples as a constant offset.
// `turn` is the glide's e^(i 2 kRun bend).
void addGlide(const VoicedState& vs, const Track& t, int K, Turn turn, Bank& bank) {
    const double glideEnd = t.startPhase + t.fromOmega * K + (t.toOmega - t.fromOmega) * K / 2.0;
    double miss = t.targetPhase - glideEnd;
    miss -= kTwoPi * floorOf(miss * (1.0 / kTwoPi) + 0.5);
    bank.add(vs, t.startPhase, t.fromOmega + miss / K, (t.toOmega - t.fromOmega) / (2.0 * K), turn, t.fromAmp,
             (t.toAmp - t.fromAmp) / float(K));
}

// Two steady tones: the old one from the stored phase at the old frequency,
// the new one arriving at the target phase just after its last sample.
void addSteady(const VoicedState& vs, const Track& t, int newLength, Bank& oldBank, Bank& newBank) {
    oldBank.add(vs, t.startPhase, t.fromOmega, 0.0, Turn{1.0, 0.0}, t.fromAmp, 0.0f);
    newBank.add(vs, t.targetPhase - newLength * t.toOmega, t.toOmega, 0.0, Turn{1.0, 0.0}, t.toAmp, 0.0f);
}

// The old tone alone up to the previous segment's overlap, the two
// crossfaded over it, the new tone alone after it.
void crossfadeTones(const VoicedState& vs, int before, int overlap, int K, float* out) {
    for (int n = 0; n < before; ++n) out[n] += vs.oldTone[n];
    const float step = overlap > 0 ? 1.0f / float(overlap) : 0.0f;
    float a = 1.0f, b = 0.0f;
    for (int j = 0; j < overlap; ++j) {
        out[before + j] += vs.oldTone[before + j] * a + vs.newTone[j] * b;
        a -= step;
        b += step;
    }
    for (int n = before + overlap; n < K; ++n) out[n] += vs.newTone[n - before];
}

// End phases of all 60 harmonics; the voiced ones from M/4 upwards get a
// random part, more of it the fewer harmonics are voiced.
void targetPhases(VoicedState& vs, double omega, int K, int M, int v, double* target) {
    for (int k = 0; k < kMaxHarmonics; ++k) target[k] = vs.phase[k] + (k + 1) * (vs.prevOmega + omega) / 2.0 * K;
    for (int k = M / 4; k < v; ++k) {
        const double r = vs.unPeln[(vs.position + k) % kRandomPhaseCountPeln];
        target[k] += k < 0.75 * M ? r * (M - v) / double(M) : r;
    }
    vs.position = int16_t((vs.position + v) % kRandomPhaseCountPeln);
}

}  // namespace

void initVoicedPeln(VoicedState* vs) {
    for (int i = 0; i < kTurnPoints; ++i) {
        vs->turnCos[i] = std::cos(kTwoPi * i / kTurnPoints);
        vs->turnSin[i] = std::sin(kTwoPi * i / kTurnPoints);
    }
    vs->prevOmega = 0.062;
}

void vsynPeln(PelnState* st) {
    SynthState& syn = st->syn;
    VoicedState& vs = syn.voi;
    const int K = syn.outCount, M = syn.harmonics, v = syn.voicedCount;
    const int before = (syn.prevL - syn.prevO) >> 1, overlap = syn.prevO;
    const int oldLength = before + overlap, newLength = ((syn.L - syn.O) >> 1) + overlap;
    const double omega = kTwoPi / syn.segPeriod;
    float amp[kMaxHarmonics];
    for (int k = 0; k < kMaxHarmonics; ++k) amp[k] = k < v ? syn.segAmp[k] : 0.0f;

    double target[kMaxHarmonics];
    targetPhases(vs, omega, K, M, v, target);

    std::fill(vs.voiced, vs.voiced + K, 0.0f);
    std::fill(vs.oldTone, vs.oldTone + oldLength, 0.0f);
    std::fill(vs.newTone, vs.newTone + newLength, 0.0f);
    // A large jump of the fundamental crossfades steady tones instead of
    // gliding: all harmonics, or from the eleventh up.
    const double jump = std::fabs(omega - vs.prevOmega);
    const int count = std::max(v, int(vs.prevCount));
    const int glides = jump >= 0.12 * omega ? 0 : jump >= 0.025 ? std::min(count, 10) : count;
    Bank glide, oldTone, newTone;
    // Harmonic k + 1 bends k + 1 times as fast as the fundamental: its turn
    // of the turn is the fundamental's to the power k + 1.
    const Turn first = turnOf(vs, 2.0 * kRun * (omega - vs.prevOmega) / (2.0 * K));
    Turn turn = first;
    for (int k = 0; k < count; ++k) {
        const Track t{vs.phase[k], target[k], (k + 1) * vs.prevOmega, (k + 1) * omega, vs.amp[k], amp[k]};
        if (k < glides)
            addGlide(vs, t, K, turn, glide);
        else
            addSteady(vs, t, newLength, oldTone, newTone);
        turn = Turn{turn.c * first.c - turn.s * first.s, turn.c * first.s + turn.s * first.c};
    }
    runBank(glide, K, vs.voiced);
    if (glides < count) {
        runBank(oldTone, oldLength, vs.oldTone);
        runBank(newTone, newLength, vs.newTone);
        crossfadeTones(vs, before, overlap, K, vs.voiced);
    }

    // The excitation follows the filter memory slots of the work area.
    float* e = vs.excitation + kLpcOrder;
    int i = 0;
    for (; i + 4 <= K; i += 4) store4(e + i, 2.4f * load4(vs.voiced + i) + load4(syn.uv.out + i));
    for (; i < K; ++i) e[i] = 2.4f * vs.voiced[i] + syn.uv.out[i];

    vs.prevOmega = omega;
    vs.prevCount = int16_t(v);
    std::copy(amp, amp + kMaxHarmonics, vs.amp);
    // Kept within one turn, so that the phases stay exact however long the
    // session runs.
    for (int k = 0; k < kMaxHarmonics; ++k) vs.phase[k] = target[k] - kTwoPi * floorOf(target[k] * (1.0 / kTwoPi));
}

}  // namespace zef::peln
