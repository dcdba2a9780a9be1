// Voiced excitation: one oscillator per voiced harmonic whose amplitude,
// frequency and phase run on from the previous frame.  Small pitch changes
// glide; large ones crossfade two steady tones over the frame's overlap.
#include <algorithm>
#include <cmath>

#include "orvo.h"

namespace zef::orvo {

namespace {

constexpr double kTwoPi = 3.141592653 * 2.0;
constexpr double kTableUnits = kSineSize / kTwoPi;  // per radian

// A phase in table units brought into 0 .. 2048 (the table repeats), so
// that the per-sample index arithmetic stays small however long the
// session runs.
double reduced(double units) { return units - kSineSize * std::floor(units / kSineSize); }

float sineAt(const float* table, double units) { return table[int(units) & (kSineSize - 1)]; }

struct Track {
    double startPhase;   // radians
    double targetPhase;  // radians, at the first sample of the next frame
    double fromOmega;    // radians per sample
    double toOmega;
    float fromAmp, toAmp;
};

// Linear amplitude, linearly gliding frequency, and the leftover distance to
// the target phase spread evenly over the frame as a constant offset.
void glide(const Track& t, int N, const float* table, float* out) {
    const double glideEnd = t.startPhase + t.fromOmega * N + (t.toOmega - t.fromOmega) * N / 2.0;
    double miss = t.targetPhase - glideEnd;
    miss -= kTwoPi * std::floor(miss * 0.159155 + 0.5);
    const double start = reduced(t.startPhase * kTableUnits);
    const double step = (t.fromOmega + miss / N) * kTableUnits;
    const double bend = (t.toOmega - t.fromOmega) * kTableUnits / (2.0 * N);
    const float ampStep = (t.toAmp - t.fromAmp) / float(N);
    for (int n = 0; n < N; ++n) {
        const double units = start + step * n + bend * double(n) * n;
        out[n] += (t.fromAmp + ampStep * float(n)) * sineAt(table, units);
    }
}

// Two steady tones of H samples: the old one from the stored phase at the
// old frequency, the new one arriving at the target phase at the frame end.
void steadyTones(const Track& t, int H, const float* table, float* oldTone, float* newTone) {
    const double oldStart = reduced(t.startPhase * kTableUnits);
    const double oldStep = t.fromOmega * kTableUnits;
    const double newStep = t.toOmega * kTableUnits;
    const double newStart = reduced(t.targetPhase * kTableUnits - H * newStep);
    for (int n = 0; n < H; ++n) {
        oldTone[n] += t.fromAmp * sineAt(table, oldStart + oldStep * n);
        newTone[n] += t.toAmp * sineAt(table, newStart + newStep * n);
    }
}

void crossfadeTones(const SynthState& syn, const float* oldTone, const float* newTone, float* out) {
    const int N = syn.N, W = syn.W, H = syn.H, join = H - W;
    const float* win = syn.window;
    for (int n = 0; n < join; ++n) out[n] += oldTone[n];
    for (int n = join; n < H; ++n) out[n] += win[n - join] * newTone[n - join] + win[n + H] * oldTone[n];
    for (int n = H; n < N; ++n) out[n] += newTone[n - join];
}

// End phases of all 60 harmonics; the voiced ones from M/4 upwards get a
// random part, more of it the fewer harmonics are voiced.
void targetPhases(VoicedState& vs, double omega, int N, int M, int v, double* target) {
    for (int k = 0; k < kMaxHarmonics; ++k) target[k] = vs.phase[k] + (k + 1) * (vs.prevOmega + omega) / 2.0 * N;
    for (int k = M / 4; k < v; ++k) {
        const double r = un[(vs.position + k) % kRandomPhaseCount];
        target[k] += k < 0.75 * M ? r * (M - v) / double(M) : r;
    }
    vs.position = int16_t((vs.position + v) % kRandomPhaseCount);
}

}  // namespace

int voiSynOscillators(int M, ZefControlBlock* cb) {
    OrvoState* st = orvoState(cb);
    SynthState& syn = st->syn;
    VoicedState& vs = st->voi;
    const int N = syn.N, H = syn.H;
    const int code = st->code.voicingCode;
    const double omega = kTwoPi / syn.period;
    const int v = voicedFromCode(code, syn.period, M);
    std::fill(syn.amp + v, syn.amp + kMaxHarmonics, 0.0f);

    if (vs.phase[kMaxHarmonics - 1] > 4194304.0 && (code == 0 || code == 1))
        for (double& p : vs.phase) p = std::fmod(p, kTwoPi);
    double target[kMaxHarmonics];
    targetPhases(vs, omega, N, M, v, target);

    std::fill(syn.voiced, syn.voiced + N, 0.0f);
    std::fill(vs.oldTone, vs.oldTone + H, 0.0f);
    std::fill(vs.newTone, vs.newTone + H, 0.0f);
    const double jump = std::fabs(omega - vs.prevOmega);
    bool anySteady = false;
    for (int k = 0; k < std::max(v, int(vs.prevCount)); ++k) {
        const Track t{vs.phase[k], target[k], (k + 1) * vs.prevOmega, (k + 1) * omega, vs.amp[k], syn.amp[k]};
        if (jump >= 0.1 * omega || (k >= 8 && jump >= 0.025)) {
            steadyTones(t, H, st->cos_table, vs.oldTone, vs.newTone);
            anySteady = true;
        } else {
            glide(t, N, st->cos_table, syn.voiced);
        }
    }
    if (anySteady) crossfadeTones(syn, vs.oldTone, vs.newTone, syn.voiced);

    vs.prevOmega = omega;
    vs.prevCount = int16_t(v);
    std::copy(syn.amp, syn.amp + kMaxHarmonics, vs.amp);
    std::copy(target, target + kMaxHarmonics, vs.phase);
    return v;
}

int voi_syn(int M, ZefControlBlock* cb) {
    const int v = voiSynOscillators(M, cb);
    SynthState& syn = orvoState(cb)->syn;
    for (int n = 0; n < syn.N; ++n) syn.excitation[n] = 2.4f * syn.voiced[n] + syn.unvoiced[n];
    return v;
}

}  // namespace zef::orvo
