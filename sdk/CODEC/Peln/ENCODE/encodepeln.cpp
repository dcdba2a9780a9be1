// Peln quantisation: the shared front end, the residual's spectrum round
// each harmonic as a band shape searched in the class's three-stage book,
// and the energy code from a model of the decoder's output level.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "codecs.h"
#include "pelnenc.h"
#include "vectors.h"

namespace zef::peln {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kBins = kFft256Size / 2;
constexpr double kHzPerBin = 8000.0 / kFft256Size;
constexpr double kVoicedPower = 2.4 * 2.4 / 2;  // excitation weight of a sinusoid of unit amplitude

int nearestEnergyCode(double log10Energy) {
    int best = 0;
    for (int c = 1; c < kEnergyCodes; ++c)
        if (std::fabs(Energy_Peln_TABLE[c] - log10Energy) < std::fabs(Energy_Peln_TABLE[best] - log10Energy))
            best = c;
    return best;
}

const float* hann() {
    static const auto table = [] {
        struct { float w[kEncWindow]; } t{};
        for (int n = 0; n < kEncWindow; ++n) t.w[n] = float(0.5 - 0.5 * std::cos(2 * kPi * (n + 0.5) / kEncWindow));
        return t;
    }();
    return table.w;
}

// Power spectrum (bins 0 .. 128) of the Hann-windowed residual of the last
// kEncWindow samples of the history.
void residualSpectrum(const Fft256Tables* fft, const float* history, const float a[kLpcOrder], float* power) {
    const float* x = history + kEncHistory - kEncWindow;
    const float* w = hann();
    float re[kFft256Size] = {}, im[kFft256Size] = {};
    for (int n = 0; n < kEncWindow; ++n) {
        float e = x[n];
        for (int k = 0; k < kLpcOrder; ++k) e -= a[k] * x[n - 1 - k];  // the history reaches back
        re[n] = e * w[n];
    }
    fft256(fft, re, im);
    for (int k = 0; k <= kBins; ++k) power[k] = re[k] * re[k] + im[k] * im[k];
}

// The residual's RMS magnitude round each of `count` harmonics of a period:
// harmonic i owns the bins the decoder's noise band of it would.
void harmonicMagnitudes(const float* power, float period, int count, float* mag) {
    const double spacing = kFft256Size / double(period);
    for (int i = 0; i < count; ++i) {
        const int from = std::min(int((i + 0.5) * spacing + 0.5), kBins);
        const int to = std::clamp(int((i + 1.5) * spacing + 0.5), from + 1, kBins + 1);
        double sum = 0;
        for (int k = from; k < to; ++k) sum += power[k];
        mag[i] = float(std::sqrt(sum / (to - from)));
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

// 1 / |A|^2 of the synthesis filter on bins 0 .. 128.
void filterPower(const Fft256Tables* fft, const float a[kLpcOrder], float power[kBins + 1]) {
    float re[kFft256Size] = {1.0f}, im[kFft256Size] = {};
    for (int k = 0; k < kLpcOrder; ++k) re[k + 1] = -a[k];
    fft256(fft, re, im);
    for (int k = 0; k <= kBins; ++k)
        power[k] = float(1.0 / std::max(double(re[k]) * re[k] + double(im[k]) * im[k], 1e-12));
}

float powerAt(const float power[kBins + 1], double hz) {
    const double bin = std::clamp(hz / kHzPerBin, 0.0, double(kBins));
    const int i = std::min(int(bin), kBins - 1);
    return float(power[i] + (power[i + 1] - power[i]) * (bin - i));
}

int chooseEnergy(PelnEncoder* enc, const uint8_t codes[kFieldCount], float level) {
    if (level < orvo::kSilenceRms) return 0;
    const double perEnergy = decodedPowerPerEnergy(enc, codes);
    if (!(perEnergy > 0)) return 0;
    return nearestEnergyCode(2.0 * std::log10(double(level)) - std::log10(perEnergy));
}

}  // namespace

double decodedPowerPerEnergy(PelnEncoder* enc, const uint8_t codes[kFieldCount]) {
    PelnState* st = pelnState(&enc->shadow);
    FrameParams frame{};
    int16_t lspCodes[kLpcOrder];
    for (int k = 0; k < kLpcOrder; ++k) lspCodes[k] = codes[2 + k];
    lspdiffdecode34Peln(lspCodes, frame.lsp);
    float a[kLpcOrder];
    lsp_to_lpcPeln(frame.lsp, a);
    float power[kBins + 1];
    filterPower(&st->fft, a, power);

    const int code = std::min<int>(codes[0], kVoicingCodes - 1);
    frame.voicing = Pv_Table[code];
    frame.period = LutPitchPeln(codes[1]);
    frame.energy = 1.0f;
    CodeRecord& rec = st->code;  // only its shape codes are set here; nothing is decoded
    for (int s = 0; s < kShapeStages; ++s) rec.shapeCodes[s] = codes[12 + s];
    const int N = UQFB_8kPeln(&frame, &rec);
    enhancePeln(a, frame.voicing, frame.period, N, frame.amp, st);
    const int voiced = std::min(N, int(N * frame.voicing + 0.5f));
    double total = 0;
    for (int k = 0; k < N; ++k) {
        const double p = double(frame.amp[k]) * frame.amp[k] * powerAt(power, (k + 1) * 8000.0 / frame.period);
        total += k < voiced ? kVoicedPower * p : p;
    }
    return total;
}

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
        for (int j = 0; j < kShapeVectors; ++j) {
            float partial[kMaxBands];
            for (int n = 0; n < B; ++n) partial[n] = book[0][i * B + n] + book[1][j * B + n];
            for (int l = 0; l < kShapeVectors; ++l) {
                float v[kMaxBands];
                double sum = 0;
                for (int n = 0; n < B; ++n) {
                    // The decoder clips negative band values to zero.
                    v[n] = std::max(0.0f, partial[n] + book[2][l * B + n]);
                    sum += v[n];
                }
                if (!(sum > 0)) continue;
                const double scale = B / sum;
                double err = 0;
                for (int n = 0; n < B; ++n) {
                    const double d = v[n] * scale - bands[n];
                    err += d * d;
                }
                if (err < bestErr) {
                    bestErr = err;
                    stages[0] = int16_t(i), stages[1] = int16_t(j), stages[2] = int16_t(l);
                }
            }
        }
}

PelnEncoder* newPelnEncoder() {
    auto* enc = static_cast<PelnEncoder*>(static_cast<void*>(VectorCHR(sizeof(PelnEncoder))));
    orvo::initFrontEnd(&enc->fe);
    ZefControlBlock& s = enc->shadow;
    s.dwGuard = kControlBlockGuard;
    s.wCodecTag = kPelnTag;
    s.wDirection = 2;
    s.fWarp = 1.0f;
    s.wDropGroup = 1;
    initDecodePeln(&s);
    return enc;
}

void freePelnEncoder(PelnEncoder* enc) {
    if (!enc) return;
    freeDecodePeln(&enc->shadow);
    safefree(enc);
}

void encodePelnFrame(PelnEncoder* enc, const int16_t pcm[kEncFrame], uint8_t codes[kFieldCount],
                     PelnAnalysis* info) {
    orvo::FrameAnalysis an;
    orvo::analyseFrame(&enc->fe, pcm, &an);
    // Pitch, voicing and predictor are all known here and nothing is
    // quantised yet: a voice transformation would change an.frame now.
    const AnalysedFrame& frame = an.frame;

    float lsp[kLpcOrder];
    orvo::frameLsp(&enc->fe, frame, lsp);
    int16_t lspCodes[kLpcOrder];
    quantiseLspPeln(lsp, lspCodes);
    float sentLsp[kLpcOrder], sentLpc[kLpcOrder];
    lspdiffdecode34Peln(lspCodes, sentLsp);
    lsp_to_lpcPeln(sentLsp, sentLpc);

    const int voicing = std::clamp(int(std::lround(frame.voicing * (kVoicingCodes - 1))), 0, kVoicingCodes - 1);
    const int pitch = orvo::pitchCode(frame.period);
    const float sentPeriod = LutPitchPeln(pitch);
    const int N = harmonicCountPeln(sentPeriod);
    PelnState* st = pelnState(&enc->shadow);
    // The residual against what the decoder will filter with: the shape
    // also carries what the LSP quantisation missed.
    float spectrum[kBins + 1], mag[kMaxHarmonics];
    residualSpectrum(&st->fft, enc->fe.history, sentLpc, spectrum);
    harmonicMagnitudes(spectrum, sentPeriod, N, mag);
    float bands[kMaxBands] = {};
    bandShape(mag, N, 8000.0f / sentPeriod, st->code, voicing, bands);
    int16_t shape[kShapeStages];
    quantiseShape(bands, voicing, st->code, shape);

    codes[0] = uint8_t(voicing);
    codes[1] = uint8_t(pitch);
    for (int k = 0; k < kLpcOrder; ++k) codes[2 + k] = uint8_t(lspCodes[k]);
    for (int s = 0; s < kShapeStages; ++s) codes[12 + s] = uint8_t(shape[s]);
    codes[15] = uint8_t(chooseEnergy(enc, codes, an.level));
    if (info) {
        info->period = an.period;
        info->correlation = an.correlation;
        info->rms = an.rms;
        std::copy(lsp, lsp + kLpcOrder, info->lsp);
        std::copy(bands, bands + kMaxBands, info->bands);
    }
}

}  // namespace zef::peln
