// Peln analysis: the Orvo front end (DC removal, pitch, voicing, LPC to
// LSPs), harmonic amplitudes measured on the LPC residual at the sent pitch,
// their band shape vector-quantised in three stages, and the energy code
// chosen by trial decodes through a private copy of the decoder.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "codecs.h"
#include "pelnenc.h"
#include "vectors.h"

namespace zef::peln {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kTrialEnergy = 20;   // first guess of the closed loop
constexpr int kEnergyPasses = 3;

float rmsOf(const int16_t* x, int n) {
    double s = 0;
    for (int i = 0; i < n; ++i) s += double(x[i]) * x[i];
    return n ? float(std::sqrt(s / n)) : 0.0f;
}

int nearestEnergyCode(double log10Energy) {
    int best = 0;
    for (int c = 1; c < kEnergyCodes; ++c)
        if (std::fabs(Energy_Peln_TABLE[c] - log10Energy) < std::fabs(Energy_Peln_TABLE[best] - log10Energy))
            best = c;
    return best;
}

// Magnitudes of the first `count` harmonics of f0 (Hz) in the Hann-windowed
// LPC residual of the last kEncWindow samples of the history.
void harmonicMagnitudes(const float* history, const float lsp[kLpcOrder], float f0, int count, float* mag) {
    float a[kLpcOrder];
    lsp_to_lpcPeln(lsp, a);
    const float* x = history + kEncHistory - kEncWindow;
    float r[kEncWindow];
    for (int n = 0; n < kEncWindow; ++n) {
        double e = x[n];
        for (int k = 0; k < kLpcOrder; ++k) e -= double(a[k]) * x[n - 1 - k];  // history reaches back
        r[n] = float(e * (0.5 - 0.5 * std::cos(2 * kPi * (n + 0.5) / kEncWindow)));
    }
    for (int h = 0; h < count; ++h) {
        const double w = 2 * kPi * (h + 1) * f0 / 8000.0;
        double re = 0, im = 0;
        for (int n = 0; n < kEncWindow; ++n) {
            re += r[n] * std::cos(w * n);
            im -= r[n] * std::sin(w * n);
        }
        mag[h] = float(std::sqrt(re * re + im * im));
    }
}

// The harmonic magnitudes read as a line through (h * f0, mag[h]), flat
// beyond both ends, sampled at the class's band frequencies; mean 1.
void bandShape(const float* mag, int count, float f0, const CodeRecord& code, int cls, float* bands) {
    const int B = code.bandCount[cls];
    double sum = 0;
    for (int j = 0; j < B; ++j) {
        const double pos = code.bandFreq[cls][j] / f0 - 1.0;  // harmonic index, fractional
        float v;
        if (count <= 0) v = 1.0f;
        else if (pos <= 0) v = mag[0];
        else if (pos >= count - 1) v = mag[count - 1];
        else {
            const int i = int(pos);
            v = float(mag[i] + (mag[i + 1] - mag[i]) * (pos - i));
        }
        bands[j] = v;
        sum += v;
    }
    for (int j = 0; j < B; ++j) bands[j] = sum > 0 ? float(bands[j] * B / sum) : 1.0f;
}

// Decodes `codes` through the private decoder; with keep false the decoder
// is put back as it was.  Returns the RMS of the block it finished (0 if none).
float decodeThrough(PelnEncoder* enc, const uint8_t codes[kFieldCount], bool keep) {
    ZefControlBlock saved = enc->shadow;
    PelnState* state = pelnState(&enc->shadow);
    if (!keep) std::memcpy(static_cast<void*>(enc->snapshot), state, sizeof(PelnState));
    std::copy(codes, codes + kFieldCount, enc->shadow.bFieldCodes);
    enc->shadow.lpOutput = enc->decoded;
    float rms = 0.0f;
    if (unPackPeln(&enc->shadow) == 0 && DecodePeln(&enc->shadow) == 0 && enc->shadow.wFrameOutput)
        rms = rmsOf(enc->decoded, kBlock);
    if (!keep) {
        std::memcpy(static_cast<void*>(state), enc->snapshot, sizeof(PelnState));
        enc->shadow = saved;
    }
    return rms;
}

// The decoded level follows the square root of the energy: each pass
// corrects the code by the level still missing.
int chooseEnergy(PelnEncoder* enc, uint8_t codes[kFieldCount], float targetRms) {
    if (targetRms < orvo::kSilenceRms) return 0;
    int code = kTrialEnergy;
    for (int pass = 0; pass < kEnergyPasses; ++pass) {
        codes[15] = uint8_t(code);
        const float decoded = decodeThrough(enc, codes, false);
        if (decoded <= 1e-3f) break;
        const int next = nearestEnergyCode(Energy_Peln_TABLE[code] + 2.0 * std::log10(double(targetRms) / decoded));
        if (next == code) break;
        code = next;
    }
    return code;
}

}  // namespace

void quantiseLspPeln(const float lsp[kLpcOrder], int16_t codes[kLpcOrder]) {
    float below = 0.0f;
    for (int k = 0; k < kLpcOrder; ++k) {
        const int slots = 1 << kLspBits[k];
        int best = 0;
        for (int c = 1; c < slots; ++c)
            if (std::fabs(below + lspdiffPeln[k][c] - lsp[k]) < std::fabs(below + lspdiffPeln[k][best] - lsp[k]))
                best = c;
        codes[k] = int16_t(best);
        below += lspdiffPeln[k][best];
    }
}

void quantiseShape(const float* bands, int cls, const CodeRecord& code, int16_t stages[kShapeStages]) {
    const int B = code.bandCount[cls];
    const float* const* book = code.shapeBooks[cls];
    double bestErr = HUGE_VAL;
    std::fill(stages, stages + kShapeStages, int16_t(0));
    for (int i = 0; i < kShapeVectors; ++i)
        for (int j = 0; j < kShapeVectors; ++j)
            for (int l = 0; l < kShapeVectors; ++l) {
                float v[kMaxBands];
                double sum = 0;
                for (int n = 0; n < B; ++n) {
                    // The decoder clips negative band values to zero.
                    v[n] = std::max(0.0f, book[0][i * B + n] + book[1][j * B + n] + book[2][l * B + n]);
                    sum += v[n];
                }
                if (!(sum > 0)) continue;
                double err = 0;
                for (int n = 0; n < B; ++n) {
                    const double d = v[n] * B / sum - bands[n];
                    err += d * d;
                }
                if (err < bestErr) {
                    bestErr = err;
                    stages[0] = int16_t(i), stages[1] = int16_t(j), stages[2] = int16_t(l);
                }
            }
}

PelnEncoder* newPelnEncoder() {
    auto* enc = static_cast<PelnEncoder*>(static_cast<void*>(VectorCHR(sizeof(PelnEncoder))));
    std::copy(kBackgroundLsp, kBackgroundLsp + kLpcOrder, enc->prevLsp);
    ZefControlBlock& s = enc->shadow;
    s.dwGuard = kControlBlockGuard;
    s.wCodecTag = kPelnTag;
    s.wDirection = 2;
    s.fWarp = 1.0f;
    s.wDropGroup = 1;  // one frame, one segment
    initDecodePeln(&s);
    initPackPeln(&s);
    enc->snapshot = static_cast<PelnState*>(static_cast<void*>(VectorCHR(sizeof(PelnState))));
    return enc;
}

void freePelnEncoder(PelnEncoder* enc) {
    if (!enc) return;
    freeDecodePeln(&enc->shadow);
    freePackPeln(&enc->shadow);
    PelnState* snapshot = enc->snapshot;
    safefree(snapshot);
    safefree(enc);
}

void encodePelnFrame(PelnEncoder* enc, const int16_t pcm[kEncFrame], uint8_t codes[kFieldCount],
                     PelnAnalysis* info) {
    float* h = enc->history;
    const float rms = orvo::pushFrame(h, &enc->dcIn, &enc->dcOut, pcm);
    float corr = 0.0f;
    const float period = orvo::estimatePitch(h, kEncHistory, enc->prevPeriod, &corr);
    const int voicing = orvo::voicingCode(corr, rms);
    if (voicing > 0) enc->prevPeriod = period;

    float a[kLpcOrder], lsp[kLpcOrder];
    if (rms >= orvo::kSilenceRms && orvo::lpcAnalysis(h + kEncHistory - kEncWindow, kEncWindow, a) &&
        orvo::lpcToLsp(a, lsp))
        std::copy(lsp, lsp + kLpcOrder, enc->prevLsp);
    else
        std::copy(enc->prevLsp, enc->prevLsp + kLpcOrder, lsp);
    int16_t lspCodes[kLpcOrder];
    quantiseLspPeln(lsp, lspCodes);
    float sentLsp[kLpcOrder];
    lspdiffdecode34Peln(lspCodes, sentLsp);

    // Unvoiced frames keep the last voiced pitch: the noise bands stay put.
    const int pitch = orvo::pitchCode(voicing > 0 || enc->prevPeriod <= 0 ? period : enc->prevPeriod);
    const float sentPeriod = LutPitchPeln(pitch);
    const int N = harmonicCountPeln(sentPeriod);
    float mag[kMaxHarmonics];
    harmonicMagnitudes(h, sentLsp, 8000.0f / sentPeriod, N, mag);
    const CodeRecord& code = pelnState(&enc->shadow)->code;
    float bands[kMaxBands] = {};
    bandShape(mag, N, 8000.0f / sentPeriod, code, voicing, bands);
    int16_t shape[kShapeStages];
    quantiseShape(bands, voicing, code, shape);

    codes[0] = uint8_t(voicing);
    codes[1] = uint8_t(pitch);
    for (int k = 0; k < kLpcOrder; ++k) codes[2 + k] = uint8_t(lspCodes[k]);
    for (int s = 0; s < kShapeStages; ++s) codes[12 + s] = uint8_t(shape[s]);
    codes[15] = uint8_t(chooseEnergy(enc, codes, rms));
    decodeThrough(enc, codes, true);
    if (info) {
        info->period = period;
        info->correlation = corr;
        info->rms = rms;
        std::copy(lsp, lsp + kLpcOrder, info->lsp);
        std::copy(bands, bands + kMaxBands, info->bands);
    }
}

}  // namespace zef::peln
