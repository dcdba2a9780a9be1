// Orvo analysis: DC removal, pitch and voicing from the normalised
// autocorrelation, LPC to line spectral pairs, and the energy code chosen by
// decoding trial frames through a private copy of the decoder.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "codecs.h"
#include "orvo.h"
#include "orvoenc.h"
#include "vectors.h"

namespace zef::orvo {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kMinLag = 16, kMaxLag = 125;
constexpr int kReferenceEnergy = 32;     // trial code of the closed loop

// Pitch works on a smoothed copy: the formants matter less and the first
// harmonic more, which keeps the estimate off the formant's period.
void smooth(const float* x, int n, float* y) {
    float a = 0.0f, b = 0.0f;
    for (int i = 0; i < n; ++i) {
        a = 0.6f * a + 0.4f * x[i];
        b = 0.6f * b + 0.4f * a;
        y[i] = b;
    }
}

double correlationAt(const float* y, int n, int lag) {
    double xy = 0, xx = 0, yy = 0;
    for (int i = kMaxLag + 1; i < n; ++i) {
        xy += double(y[i]) * y[i - lag];
        xx += double(y[i]) * y[i];
        yy += double(y[i - lag]) * y[i - lag];
    }
    return xx > 0 && yy > 0 ? xy / std::sqrt(xx * yy) : 0.0;
}

double levinson(const double* r, float a[kLpcOrder]) {
    double cur[kLpcOrder + 1] = {}, next[kLpcOrder + 1];
    double err = r[0];
    for (int i = 1; i <= kLpcOrder; ++i) {
        double acc = r[i];
        for (int j = 1; j < i; ++j) acc -= cur[j] * r[i - j];
        const double k = err > 0 ? acc / err : 0.0;
        std::copy(cur, cur + kLpcOrder + 1, next);
        next[i] = k;
        for (int j = 1; j < i; ++j) next[j] = cur[j] - k * cur[i - j];
        std::copy(next, next + kLpcOrder + 1, cur);
        err *= 1.0 - k * k;
        if (err <= 0) return 0.0;
    }
    for (int k = 0; k < kLpcOrder; ++k) a[k] = float(cur[k + 1]);
    return err;
}

// P and Q on the unit circle, with the linear phase taken out: real
// functions of w whose sign changes are the line spectral frequencies.
double evalPair(const double* c, double w, bool sine) {
    double s = 0;
    for (int i = 0; i <= 5; ++i) s += c[i] * (sine ? std::sin((5.5 - i) * w) : std::cos((5.5 - i) * w));
    return s;
}

int findRoots(const double* c, bool sine, double* roots) {
    constexpr int kGrid = 512;
    int count = 0;
    double w0 = kPi / kGrid, f0 = evalPair(c, w0, sine);
    for (int g = 2; g < kGrid && count < 5; ++g) {
        const double w1 = g * kPi / kGrid, f1 = evalPair(c, w1, sine);
        if ((f0 < 0) != (f1 < 0)) {
            double lo = w0, hi = w1, flo = f0;
            for (int it = 0; it < 30; ++it) {
                const double mid = 0.5 * (lo + hi), fm = evalPair(c, mid, sine);
                if ((fm < 0) == (flo < 0)) lo = mid, flo = fm;
                else hi = mid;
            }
            roots[count++] = 0.5 * (lo + hi);
        }
        w0 = w1;
        f0 = f1;
    }
    return count;
}

float rmsOf(const float* x, int n) {
    double s = 0;
    for (int i = 0; i < n; ++i) s += double(x[i]) * x[i];
    return float(std::sqrt(s / n));
}

float rmsOf(const int16_t* x, int n) {
    double s = 0;
    for (int i = 0; i < n; ++i) s += double(x[i]) * x[i];
    return n ? float(std::sqrt(s / n)) : 0.0f;
}

int nearestGainCode(double log10Gain) {
    int best = 0;
    for (int c = 1; c < kGainCodes; ++c)
        if (std::fabs(GainTable[c] - log10Gain) < std::fabs(GainTable[best] - log10Gain)) best = c;
    return best;
}

// Decodes `codes` through the private decoder; with keep false the decoder
// is put back as it was, so the frame was only a trial.  Returns the RMS.
float decodeThrough(OrvoEncoder* enc, const uint8_t codes[kFieldCount], bool keep) {
    ZefControlBlock saved = enc->shadow;
    auto* state = static_cast<OrvoState*>(enc->shadow.lpCodecState);
    if (!keep) std::memcpy(enc->snapshot, state, sizeof(OrvoState));
    std::copy(codes, codes + kFieldCount, enc->shadow.bFieldCodes);
    enc->shadow.lpOutput = enc->decoded;
    float rms = 0.0f;
    if (unPackOrvo(&enc->shadow) == 0 && DecodeOrvo(&enc->shadow) == 0)
        rms = rmsOf(enc->decoded, std::min<int>(enc->shadow.wOutputSamples, 5 * kEncFrame));
    if (!keep) {
        std::memcpy(state, enc->snapshot, sizeof(OrvoState));
        enc->shadow = saved;
    }
    return rms;
}

// Two trial decodes: the decoded level is nearly proportional to the gain,
// the second trial corrects what the frame's overlap with the last adds.
int chooseEnergy(OrvoEncoder* enc, uint8_t codes[kFieldCount], float targetRms) {
    if (targetRms < kSilenceRms) return 0;
    int code = kReferenceEnergy;
    for (int pass = 0; pass < 2; ++pass) {
        codes[2] = uint8_t(code);
        const float decoded = decodeThrough(enc, codes, false);
        if (decoded <= 1e-3f) break;
        code = nearestGainCode(GainTable[code] + std::log10(double(targetRms) / decoded));
    }
    return code;
}

}  // namespace

int voicingCode(float correlation, float rms) {
    if (rms < kSilenceRms) return 0;
    const int code = int(std::lround((correlation - 0.3f) / 0.55f * 15.0f));
    return std::clamp(code, 0, kVoicingCodes - 1);
}

float pushFrame(float history[kEncHistory], float* dcIn, float* dcOut, const int16_t pcm[kEncFrame]) {
    std::memmove(history, history + kEncFrame, sizeof(float) * (kEncHistory - kEncFrame));
    float* frame = history + kEncHistory - kEncFrame;
    for (int i = 0; i < kEncFrame; ++i) {
        const float x = pcm[i];
        *dcOut = x - *dcIn + 0.995f * *dcOut;  // DC blocker, corner near 6 Hz
        *dcIn = x;
        frame[i] = *dcOut;
    }
    return rmsOf(frame, kEncFrame);
}

bool lpcAnalysis(const float* x, int n, float a[kLpcOrder]) {
    float w[kEncHistory];
    n = std::min(n, kEncHistory);
    for (int i = 0; i < n; ++i) w[i] = x[i] * float(0.54 - 0.46 * std::cos(2 * kPi * i / (n - 1)));
    double r[kLpcOrder + 1];
    for (int k = 0; k <= kLpcOrder; ++k) {
        double s = 0;
        for (int i = k; i < n; ++i) s += double(w[i]) * w[i - k];
        const double lag = 2 * kPi * 60.0 * k / 8000.0;  // 60 Hz lag window: no razor-sharp poles
        r[k] = s * std::exp(-0.5 * lag * lag);
    }
    if (!(r[0] > 1e-3)) return false;
    r[0] *= 1.0001;  // a floor for the spectrum's valleys
    if (levinson(r, a) <= 0.0) return false;
    double g = 1.0;
    for (int k = 0; k < kLpcOrder; ++k) a[k] = float(a[k] * (g *= 0.994));
    return true;
}

bool lpcToLsp(const float a[kLpcOrder], float lsp[kLpcOrder]) {
    double c[kLpcOrder + 2] = {1.0};
    for (int k = 1; k <= kLpcOrder; ++k) c[k] = -a[k - 1];
    double p[6], q[6];
    for (int i = 0; i <= 5; ++i) {
        p[i] = c[i] + c[kLpcOrder + 1 - i];
        q[i] = c[i] - c[kLpcOrder + 1 - i];
    }
    double roots[10];
    int n = findRoots(p, false, roots);
    n += findRoots(q, true, roots + n);
    if (n != kLpcOrder) return false;
    std::sort(roots, roots + kLpcOrder);
    for (int k = 0; k < kLpcOrder; ++k) lsp[k] = float(roots[k] * 4000.0 / kPi);
    return true;
}

void quantiseLsp(const float lsp[kLpcOrder], int16_t codes[kLpcOrder]) {
    // Each LSP is a step from the decoded one below it: choosing every step
    // against what the decoder rebuilds keeps errors from adding up.
    float below = 0.0f;
    for (int k = 0; k < kLpcOrder; ++k) {
        const int slots = 1 << kLspBits[k];
        int best = 0;
        for (int c = 1; c < slots; ++c)
            if (std::fabs(below + lspdiff[k][c] - lsp[k]) < std::fabs(below + lspdiff[k][best] - lsp[k])) best = c;
        codes[k] = int16_t(best);
        below += lspdiff[k][best];
    }
}

int pitchCode(float period) {
    const double code = (125.0 - double(period)) * 255.0 / 109.0;
    return std::clamp(int(std::lround(code)), 0, 255);
}

float estimatePitch(const float* x, int n, float prevPeriod, float* correlation) {
    float y[kEncHistory];
    n = std::min(n, kEncHistory);
    smooth(x, n, y);
    double r[kMaxLag + 2] = {};
    int best = kMinLag;
    for (int lag = kMinLag - 1; lag <= kMaxLag + 1; ++lag) {
        r[lag] = correlationAt(y, n, lag);
        if (lag >= kMinLag && lag <= kMaxLag && r[lag] > r[best]) best = lag;
    }
    // A multiple of the period correlates as well as the period itself:
    // prefer the shortest sub-multiple that nearly matches the best.
    for (int k = 6; k >= 2; --k) {
        const int sub = int(std::lround(double(best) / k));
        if (sub < kMinLag) continue;
        int peak = sub;
        for (int d = -1; d <= 1; ++d)
            if (sub + d >= kMinLag && r[sub + d] > r[peak]) peak = sub + d;
        if (r[peak] >= 0.85 * r[best]) {
            best = peak;
            break;
        }
    }
    // Near-equal candidates: stay with the last frame's pitch (no jitter).
    const int prev = int(std::lround(prevPeriod));
    if (prev >= kMinLag && prev <= kMaxLag && std::abs(prev - best) > 2 && r[prev] >= 0.97 * r[best]) best = prev;
    double frac = best;
    if (best > kMinLag - 1 && best < kMaxLag + 1) {
        const double den = r[best - 1] - 2 * r[best] + r[best + 1];
        if (den < 0) frac += std::clamp(0.5 * (r[best - 1] - r[best + 1]) / den, -0.5, 0.5);
    }
    *correlation = float(std::max(0.0, r[best]));
    return float(std::clamp(frac, 16.0, 125.0));
}

OrvoEncoder* newOrvoEncoder() {
    auto* enc = static_cast<OrvoEncoder*>(static_cast<void*>(VectorCHR(sizeof(OrvoEncoder))));
    enc->prevPeriod = 0.0f;
    std::copy(kBackgroundLsp, kBackgroundLsp + kLpcOrder, enc->prevLsp);
    ZefControlBlock& s = enc->shadow;
    s.dwGuard = kControlBlockGuard;
    s.wCodecTag = kOrvoTag;
    s.wDirection = 2;
    s.wSynthesizer = 1;
    s.fWarp = 1.0f;
    initDecodeOrvo(&s);
    initPackOrvo(&s);
    // The real decoder fades the first frames in; the level we aim for is
    // the steady one.
    s.wPrevSilence = 0;
    enc->snapshot = VectorCHR(sizeof(OrvoState));
    return enc;
}

void freeOrvoEncoder(OrvoEncoder* enc) {
    if (!enc) return;
    freeDecodeOrvo(&enc->shadow);
    freePackOrvo(&enc->shadow);
    void* snapshot = enc->snapshot;
    safefree(snapshot);
    safefree(enc);
}

void encodeOrvoFrame(OrvoEncoder* enc, const int16_t pcm[kEncFrame], uint8_t codes[kFieldCount],
                     OrvoAnalysis* info) {
    float* h = enc->history;
    const float rms = pushFrame(h, &enc->dcIn, &enc->dcOut, pcm);
    float corr = 0.0f;
    const float period = estimatePitch(h, kEncHistory, enc->prevPeriod, &corr);
    const int voicing = voicingCode(corr, rms);
    if (voicing > 0) enc->prevPeriod = period;

    float a[kLpcOrder], lsp[kLpcOrder];
    if (rms >= kSilenceRms && lpcAnalysis(h + kEncHistory - kEncLpcWindow, kEncLpcWindow, a) && lpcToLsp(a, lsp))
        std::copy(lsp, lsp + kLpcOrder, enc->prevLsp);
    else
        std::copy(enc->prevLsp, enc->prevLsp + kLpcOrder, lsp);

    int16_t lspCodes[kLpcOrder];
    quantiseLsp(lsp, lspCodes);
    codes[0] = uint8_t(voicing);
    codes[1] = uint8_t(pitchCode(voicing > 0 ? period : (enc->prevPeriod > 0 ? enc->prevPeriod : period)));
    for (int k = 0; k < kLpcOrder; ++k) codes[3 + k] = uint8_t(lspCodes[k]);
    codes[13] = 0;
    codes[2] = uint8_t(chooseEnergy(enc, codes, rms));
    decodeThrough(enc, codes, true);
    if (info) {
        info->period = period;
        info->correlation = corr;
        info->rms = rms;
        std::copy(lsp, lsp + kLpcOrder, info->lsp);
    }
}

}  // namespace zef::orvo
