// Voiced excitation: one oscillator per voiced harmonic whose amplitude,
// frequency and phase run on from one call to the next.  Small pitch
// changes glide over the call's K samples; large ones crossfade two steady
// tones over the overlap of the previous and the current segment.
#include <algorithm>
#include <cmath>

#include "lanes.h"
#include "peln.h"

namespace zef::peln {

namespace {

constexpr double kTwoPi = 3.141592654 * 2.0;
constexpr double kTableUnits = kSineSize / kTwoPi;  // per radian

// A phase in table units brought into 0 .. 2048 (the table repeats), so
// that the per-sample index arithmetic stays small however long the
// session runs.
double reduced(double units) { return units - kSineSize * std::floor(units / kSineSize); }

float sineAt(const float* table, double units) { return table[int(units) & (kSineSize - 1)]; }

struct Track {
    double startPhase;   // radians
    double targetPhase;  // radians, at the first sample of the next call
    double fromOmega;    // radians per sample
    double toOmega;
    float fromAmp, toAmp;
};

// Linear amplitude, linearly gliding frequency, and the leftover distance to
// the target phase spread evenly over the K samples as a constant offset:
// sample n is amp + ampStep n times the sine at start + step n + bend n^2
// (table units).
struct Glide {
    double start, step, bend;
    float amp, ampStep;
};

Glide glideOf(const Track& t, int K) {
    const double glideEnd = t.startPhase + t.fromOmega * K + (t.toOmega - t.fromOmega) * K / 2.0;
    double miss = t.targetPhase - glideEnd;
    miss -= kTwoPi * std::floor(miss * 0.159155 + 0.5);
    return {reduced(t.startPhase * kTableUnits), (t.fromOmega + miss / K) * kTableUnits,
            (t.toOmega - t.fromOmega) * kTableUnits / (2.0 * K), t.fromAmp, (t.toAmp - t.fromAmp) / float(K)};
}

// Samples n .. n + 3 of a glide, each lane with the arithmetic of one sample.
lanes::Float4 glideBlock(const Glide& g, int n, const VoicedState& vs) {
    using lanes::Double2;
    const Double2 pair = {0.0, 1.0};
    const lanes::Float4 quad = {0.0f, 1.0f, 2.0f, 3.0f};
    const Double2 first = g.start + g.step * (double(n) + pair) + g.bend * lanes::widen2(vs.squares + n);
    const Double2 second = g.start + g.step * (double(n + 2) + pair) + g.bend * lanes::widen2(vs.squares + n + 2);
    const lanes::Int2 i0 = __builtin_convertvector(first, lanes::Int2) & (kSineSize - 1);
    const lanes::Int2 i1 = __builtin_convertvector(second, lanes::Int2) & (kSineSize - 1);
    const float* table = vs.cos_tablePeln;
    const lanes::Float4 sine = {table[i0[0]], table[i0[1]], table[i1[0]], table[i1[1]]};
    return (g.amp + g.ampStep * (float(n) + quad)) * sine;
}

float glideSample(const Glide& g, int n, const VoicedState& vs) {
    const double units = g.start + g.step * n + g.bend * vs.squares[n];
    return (g.amp + g.ampStep * float(n)) * sineAt(vs.cos_tablePeln, units);
}

// Adds `count` (1 or 2) glides to out, the first one first at every sample.
void addGlides(const Glide* g, int count, int K, const VoicedState& vs, float* out) {
    int n = 0;
    for (; n + 4 <= K; n += 4) {
        lanes::Float4 sum = lanes::load4(out + n) + glideBlock(g[0], n, vs);
        if (count > 1) sum += glideBlock(g[1], n, vs);
        lanes::store4(out + n, sum);
    }
    for (; n < K; ++n) {
        out[n] += glideSample(g[0], n, vs);
        if (count > 1) out[n] += glideSample(g[1], n, vs);
    }
}

// Two steady tones: the old one from the stored phase at the old frequency,
// the new one arriving at the target phase just after its last sample.
void steadyTones(const Track& t, int oldLength, int newLength, VoicedState& vs) {
    const double oldStart = reduced(t.startPhase * kTableUnits);
    const double oldStep = t.fromOmega * kTableUnits;
    const double newStep = t.toOmega * kTableUnits;
    const double newStart = reduced(t.targetPhase * kTableUnits - newLength * newStep);
    for (int n = 0; n < oldLength; ++n) vs.oldTone[n] += t.fromAmp * sineAt(vs.cos_tablePeln, oldStart + oldStep * n);
    for (int n = 0; n < newLength; ++n) vs.newTone[n] += t.toAmp * sineAt(vs.cos_tablePeln, newStart + newStep * n);
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

void vsynPeln(PelnState* st) {
    SynthState& syn = st->syn;
    VoicedState& vs = syn.voi;
    const int K = syn.outCount, M = syn.harmonics, v = syn.voicedCount;
    const int before = (syn.prevL - syn.prevO) >> 1, overlap = syn.prevO;
    const int oldLength = before + overlap, newLength = ((syn.L - syn.O) >> 1) + overlap;
    const double omega = kTwoPi / syn.segPeriod;
    float amp[kMaxHarmonics];
    for (int k = 0; k < kMaxHarmonics; ++k) amp[k] = k < v ? syn.segAmp[k] : 0.0f;

    if (vs.phase[kMaxHarmonics - 1] > 4194304.0 && (syn.voicingCode == 0 || syn.voicingCode == 1))
        for (double& p : vs.phase) p = std::fmod(p, kTwoPi);
    double target[kMaxHarmonics];
    targetPhases(vs, omega, K, M, v, target);

    std::fill(vs.voiced, vs.voiced + K, 0.0f);
    std::fill(vs.oldTone, vs.oldTone + oldLength, 0.0f);
    std::fill(vs.newTone, vs.newTone + newLength, 0.0f);
    const double jump = std::fabs(omega - vs.prevOmega);
    bool anySteady = false;
    // Glides are added two at a time (in harmonic order at every sample).
    Glide pending[2];
    int waiting = 0;
    for (int k = 0; k < std::max(v, int(vs.prevCount)); ++k) {
        const Track t{vs.phase[k], target[k], (k + 1) * vs.prevOmega, (k + 1) * omega, vs.amp[k], amp[k]};
        if (jump >= 0.12 * omega || (k >= 10 && jump >= 0.025)) {
            steadyTones(t, oldLength, newLength, vs);
            anySteady = true;
        } else {
            pending[waiting++] = glideOf(t, K);
            if (waiting == 2) addGlides(pending, 2, K, vs, vs.voiced), waiting = 0;
        }
    }
    if (waiting) addGlides(pending, 1, K, vs, vs.voiced);
    if (anySteady) crossfadeTones(vs, before, overlap, K, vs.voiced);

    // The excitation follows the filter memory slots of the work area.
    float* e = vs.excitation + kLpcOrder;
    for (int i = 0; i < K; ++i) e[i] = 2.4f * vs.voiced[i] + syn.uv.out[i];

    vs.prevOmega = omega;
    vs.prevCount = int16_t(v);
    std::copy(amp, amp + kMaxHarmonics, vs.amp);
    std::copy(target, target + kMaxHarmonics, vs.phase);
}

}  // namespace zef::peln
