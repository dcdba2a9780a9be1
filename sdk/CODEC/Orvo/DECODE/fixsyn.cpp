// Integer rendition of the excitation and the synthesis filter (synthesis
// modes 2 and 3).  The frame parameters (gain, amplitudes after enhancement,
// predictor coefficients) are turned into integers once per frame; every
// per-sample step is integer arithmetic:
//   noise:      16-bit book samples x Q32 gain, energies summed exactly in 64 bits
//   oscillators (mode 3): Q48 phase accumulators in turns (they wrap by
//               themselves), Q16 amplitudes, Q15 sine table
//   excitation: Q6 samples, 2.4 x voiced in Q13
//   filter:     Q6 state, coefficients scaled per subframe into Q(s), s <= 27
#include <algorithm>
#include <cmath>

#include "orvo.h"

namespace zef::orvo {

namespace {

constexpr double kTwoPi = 3.141592653 * 2.0;  // the floating synthesis' turn
constexpr int kPhaseBits = 48;
constexpr int64_t kOneTurn = int64_t(1) << kPhaseBits;
constexpr int32_t kLimit = int32_t(1) << 30;  // excitation and filter state bound (Q6)
constexpr int64_t kVoicedScale = 19661;       // 2.4 in Q13

int32_t saturate(int64_t v) { return int32_t(std::clamp<int64_t>(v, -kLimit, kLimit)); }

int64_t roundShift(int64_t v, int shift) { return (v + (int64_t(1) << (shift - 1))) >> shift; }

uint64_t isqrt(uint64_t v) {
    uint64_t root = 0, bit = uint64_t(1) << 62;
    while (bit > v) bit >>= 2;
    while (bit) {
        if (v >= root + bit) {
            v -= root + bit;
            root = (root >> 1) + bit;
        } else {
            root >>= 1;
        }
        bit >>= 2;
    }
    return root;
}

// A float parameter into a bounded integer of the given scale (NaN to 0).
int64_t toFixed(double v, double scale, int64_t bound) {
    const double s = v * scale;
    if (!(s == s)) return 0;
    return std::llround(std::clamp(s, -double(bound), double(bound)));
}

// gain x sqrt(unvoiced x H / energy) in Q32.
int64_t noiseGain(float gain, int unvoiced, int H, int64_t energy) {
    const int64_t g16 = toFixed(gain, 65536.0, int64_t(1) << 31);
    if (energy <= 0 || unvoiced <= 0 || g16 == 0) return 0;
    const int64_t root = int64_t(isqrt(uint64_t(unvoiced) * uint64_t(H) << 32));
    const int64_t bound = int64_t(1) << 46;
    return std::clamp<int64_t>(g16 * root / int64_t(isqrt(uint64_t(energy))), -bound, bound);
}

int sineIndex(uint64_t phase) { return int(phase >> (kPhaseBits - 11)) & (kSineSize - 1); }

// Signed distance between two phases, in -1/2 .. 1/2 turn.
int64_t wrapTurn(uint64_t d) { return int64_t(d << (64 - kPhaseBits)) >> (64 - kPhaseBits); }

}  // namespace

void initFix8k(FixedState* fix, const float* cosTable) {
    for (int i = 0; i < kSineSize; ++i) fix->sine[i] = int16_t(std::lround(cosTable[i] * 32767.0f));
    for (int i = 0; i < kRandomPhaseCount; ++i) fix->randomTurns[i] = std::llround(un[i] / kTwoPi * double(kOneTurn));
    fix->prevFreq = std::llround(0.062 / kTwoPi * double(kOneTurn));
}

void uvSyn8k_fix(int harmonics, ZefControlBlock* cb) {
    OrvoState* st = orvoState(cb);
    SynthState& syn = st->syn;
    FixedState& fix = st->fix;
    UnvoicedState& uv = st->uv;
    const int N = syn.N, W = syn.W, H = syn.H;
    const int code = st->code.voicingCode;
    const int unvoiced = harmonics - voicedFromCode(code, syn.period, harmonics);

    int32_t* A = fix.segA;
    int32_t* B = fix.segB;
    getRandCB8k(A, H, &st->books, uv.prevCode, W);
    getRandCB8k(B, H, &st->books, code, 0);
    for (int i = 0; i < W; ++i) B[i] = int32_t(roundShift(int64_t(B[i]) * fix.window[i], 15));
    for (int i = H - W; i < H; ++i) A[i] = int32_t(roundShift(int64_t(A[i]) * fix.window[i + H], 15));
    int64_t energyA = 0, energyB = 0;
    for (int i = 0; i < H; ++i) {
        energyA += int64_t(A[i]) * A[i];
        energyB += int64_t(B[i]) * B[i];
    }
    const int64_t gainA = noiseGain(uv.prevGain, uv.prevUnvoiced, H, energyA);
    const int64_t gainB = noiseGain(st->frame.gain, unvoiced, H, energyB);
    const int join = H - W;
    for (int n = 0; n < N; ++n) {
        int64_t sum = 0;
        if (n < H) sum += A[n] * gainA;
        if (n >= join) sum += B[n - join] * gainB;
        fix.unvoiced[n] = saturate(roundShift(sum, 32 - kFixShift));
    }
    uv.prevCode = int16_t(code);
    uv.prevUnvoiced = int16_t(unvoiced);
    uv.prevGain = st->frame.gain;
}

void mixFloatVoiced8k_fix(ZefControlBlock* cb) {
    OrvoState* st = orvoState(cb);
    FixedState& fix = st->fix;
    for (int n = 0; n < st->syn.N; ++n) {
        const int64_t voiced = toFixed(st->syn.voiced[n], 1 << kFixShift, kLimit);
        fix.excitation[n] = saturate(roundShift(voiced * kVoicedScale, 13) + fix.unvoiced[n]);
    }
}

namespace {

struct FixTrack {
    uint64_t startPhase, targetPhase;  // Q48 turns
    int64_t fromFreq, toFreq;          // Q48 turns per sample
    int32_t fromAmp, toAmp;            // Q16
};

void glideFix(const FixTrack& t, int N, const int16_t* sine, int64_t* out) {
    const uint64_t glideEnd =
        t.startPhase + uint64_t(t.fromFreq * N) + uint64_t((t.toFreq - t.fromFreq) * (N / 2));
    const int64_t miss = wrapTurn(t.targetPhase - glideEnd);
    // phase(n) = start + from n + (to - from) n^2 / 2N + miss n / N, summed
    // as increments that grow by (to - from) / N each sample.
    const int64_t bend = (t.toFreq - t.fromFreq) / N;
    int64_t increment = t.fromFreq + (miss + (t.toFreq - t.fromFreq) / 2) / N;
    uint64_t phase = t.startPhase;
    int64_t amp = int64_t(t.fromAmp) * 65536;  // Q32
    const int64_t ampStep = (int64_t(t.toAmp) - t.fromAmp) * 65536 / N;
    for (int n = 0; n < N; ++n) {
        out[n] += (amp >> 16) * sine[sineIndex(phase)];
        phase += uint64_t(increment);
        increment += bend;
        amp += ampStep;
    }
}

void steadyTonesFix(const FixTrack& t, int H, const int16_t* sine, int64_t* oldTone, int64_t* newTone) {
    uint64_t oldPhase = t.startPhase;
    uint64_t newPhase = t.targetPhase - uint64_t(t.toFreq * H);
    for (int n = 0; n < H; ++n) {
        oldTone[n] += int64_t(t.fromAmp) * sine[sineIndex(oldPhase)];
        newTone[n] += int64_t(t.toAmp) * sine[sineIndex(newPhase)];
        oldPhase += uint64_t(t.fromFreq);
        newPhase += uint64_t(t.toFreq);
    }
}

// Q31 sums into Q6, the steady tones crossfaded with the Q15 window.
void crossfadeTonesFix(const SynthState& syn, FixedState& fix) {
    const int N = syn.N, W = syn.W, H = syn.H, join = H - W;
    auto q6 = [](int64_t v) { return roundShift(v, 31 - kFixShift); };
    for (int n = 0; n < join; ++n) fix.voiced[n] += fix.oldTone[n];
    for (int n = join; n < H; ++n)
        fix.voiced[n] += (q6(fix.newTone[n - join]) * fix.window[n - join] + q6(fix.oldTone[n]) * fix.window[n + H])
                         * (int64_t(1) << (31 - kFixShift - 15));
    for (int n = H; n < N; ++n) fix.voiced[n] += fix.newTone[n - join];
}

void targetPhasesFix(FixedState& fix, int64_t freq, int N, int M, int v, uint64_t* target) {
    for (int k = 0; k < kMaxHarmonics; ++k)
        target[k] = fix.phase[k] + uint64_t((fix.prevFreq + freq) * (N / 2) * (k + 1));
    for (int k = M / 4; k < v; ++k) {
        const int64_t r = fix.randomTurns[(fix.position + k) % kRandomPhaseCount];
        target[k] += uint64_t(k < 0.75 * M ? r * (M - v) / M : r);
    }
    fix.position = int16_t((fix.position + v) % kRandomPhaseCount);
}

}  // namespace

int voiSyn8k_fix(int M, ZefControlBlock* cb) {
    OrvoState* st = orvoState(cb);
    SynthState& syn = st->syn;
    FixedState& fix = st->fix;
    const int N = syn.N, H = syn.H;
    const int v = voicedFromCode(st->code.voicingCode, syn.period, M);
    std::fill(syn.amp + v, syn.amp + kMaxHarmonics, 0.0f);
    int32_t amp[kMaxHarmonics];
    for (int k = 0; k < kMaxHarmonics; ++k) amp[k] = int32_t(toFixed(syn.amp[k], 65536.0, kLimit));

    // The floating synthesis' turn is 2 x 3.141592653 radians: one period of P
    // samples is exactly 1/P turn in both.
    const int64_t freq = std::llround(double(kOneTurn) / syn.period);
    uint64_t target[kMaxHarmonics];
    targetPhasesFix(fix, freq, N, M, v, target);

    std::fill(fix.voiced, fix.voiced + N, 0);
    std::fill(fix.oldTone, fix.oldTone + H, 0);
    std::fill(fix.newTone, fix.newTone + H, 0);
    const int64_t jump = std::abs(freq - fix.prevFreq);
    const int64_t absoluteJump = std::llround(0.025 / kTwoPi * double(kOneTurn));
    bool anySteady = false;
    for (int k = 0; k < std::max(v, int(fix.prevCount)); ++k) {
        const FixTrack t{fix.phase[k], target[k], fix.prevFreq * (k + 1), freq * (k + 1), fix.amp[k], amp[k]};
        if (jump * 10 >= freq || (k >= 8 && jump >= absoluteJump)) {
            steadyTonesFix(t, H, fix.sine, fix.oldTone, fix.newTone);
            anySteady = true;
        } else {
            glideFix(t, N, fix.sine, fix.voiced);
        }
    }
    if (anySteady) crossfadeTonesFix(syn, fix);
    for (int n = 0; n < N; ++n) {
        const int64_t voiced = roundShift(fix.voiced[n], 31 - kFixShift);
        fix.excitation[n] = saturate(roundShift(voiced * kVoicedScale, 13) + fix.unvoiced[n]);
    }

    fix.prevFreq = freq;
    fix.prevCount = int16_t(v);
    std::copy(amp, amp + kMaxHarmonics, fix.amp);
    std::copy(target, target + kMaxHarmonics, fix.phase);
    return v;
}

namespace {

// Coefficients of one subframe in Q(shift), the shift as large as keeps
// every coefficient below 2^28 (so ten products of a Q6 state stay in 64 bits).
int quantiseLpc(const float* a, int32_t* q) {
    float largest = 0.0f;
    for (int k = 0; k < kLpcOrder; ++k) largest = std::max(largest, std::fabs(a[k]));
    int shift = 27;
    while (shift > 1 && double(largest) * double(int64_t(1) << shift) >= double(int64_t(1) << 28)) --shift;
    for (int k = 0; k < kLpcOrder; ++k) q[k] = int32_t(toFixed(a[k], double(int64_t(1) << shift), (1 << 28) - 1));
    return shift;
}

int16_t q6ToPcm(int32_t y) {
    const int32_t s = y >= 0 ? (y >> kFixShift) : -((-y) >> kFixShift);  // toward zero
    return int16_t(std::clamp<int32_t>(s, -32768, 32767));
}

}  // namespace

void lpc_syn_fix(ZefControlBlock* cb) {
    OrvoState* st = orvoState(cb);
    SynthState& syn = st->syn;
    FixedState& fix = st->fix;
    const int N = syn.N;
    int32_t y[kLpcOrder + kMaxFrame];
    std::copy(fix.filterMemory, fix.filterMemory + kLpcOrder, y);
    for (int j = 0, n = 0; j < kSubframes; ++j) {
        int32_t coef[kLpcOrder];
        const int shift = quantiseLpc(syn.subLpc[j], coef);
        for (const int end = n + subframeLength(N, j); n < end; ++n) {
            int64_t acc = 0;
            for (int k = 1; k <= kLpcOrder; ++k) acc += int64_t(coef[k - 1]) * y[kLpcOrder + n - k];
            y[kLpcOrder + n] = saturate(int64_t(fix.excitation[n]) + roundShift(acc, shift));
            cb->lpOutput[n] = q6ToPcm(y[kLpcOrder + n]);
        }
    }
    std::copy(y + N, y + N + kLpcOrder, fix.filterMemory);
}

}  // namespace zef::orvo
