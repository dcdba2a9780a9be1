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
// The synthesis filter's power response is the front end's.
using orvo::filterPower;
using orvo::kBins;
using orvo::kHzPerBin;
using orvo::powerAt;
static_assert(kLpcOrder == orvo::kLpcOrder);
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
void sampledShape(const float* mag, int count, float f0, const float* freq, int B, float* bands) {
    double sum = 0;
    for (int j = 0; j < B; ++j) {
        const double pos = freq[j] / f0 - 1.0;  // harmonic index, fractional
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

// How the decoder rebuilds harmonic amplitudes from band values: each
// harmonic is a blend of at most two neighbouring bands (a straight line
// from 0 Hz to the first band, between bands, and down to 0 at 4000 Hz
// after the last).  Returns the first band; *w0, *w1 weigh it and the next.
int bandBlend(const float* freq, int B, float f, float* w0, float* w1) {
    const float first = freq[0], last = freq[B - 1];
    *w1 = 0.0f;
    if (f <= first) {
        *w0 = f / first;
        return 0;
    }
    if (f >= last) {
        *w0 = std::max(0.0f, (4000.0f - f) / (4000.0f - last));
        return B - 1;
    }
    int j = 1;
    while (j < B - 1 && !(f < freq[j])) ++j;
    *w1 = (f - freq[j - 1]) / (freq[j] - freq[j - 1]);
    *w0 = 1.0f - *w1;
    return j - 1;
}

// The decoder weighs each harmonic by how near it lies to a formant peak
// (and renormalises the sum): divide that weight out beforehand.
void undoEnhancement(PelnState* st, const float a[kLpcOrder], float voicing, float period, int count, float* mag) {
    float weight[kMaxHarmonics];
    std::fill(weight, weight + kMaxHarmonics, 1.0f);
    enhancePeln(a, Pv_Table[std::clamp(int(std::lround(voicing * 15)), 0, 15)], period, count, weight, st);
    double mean = 0;
    for (int h = 0; h < count; ++h) mean += mag[h] /= std::max(weight[h], 1e-3f);
    mean = count > 0 ? mean / count : 0.0;
    for (int h = 0; h < count && mean > 0; ++h) mag[h] = float(mag[h] / mean);
}

// The unquantised band values that fit best, pulled slightly towards the
// sampled shape `bands` (which they replace) where harmonics say little;
// mean 1.  Solved as the tridiagonal system it is.
void fittedShape(const ShapeFit& fit, float* bands) {
    const int B = fit.bands;
    double peak = 0;
    for (int j = 0; j < B; ++j) peak = std::max(peak, fit.diag[j]);
    if (!(peak > 0)) return;
    const double ridge = 0.01 * peak;
    double c[kMaxBands], d[kMaxBands];
    for (int j = 0; j < B; ++j) {
        double diag = fit.diag[j] + ridge, rhs = fit.target[j] + ridge * bands[j];
        if (j > 0) {
            const double m = fit.off[j - 1] / d[j - 1];
            diag -= m * fit.off[j - 1];
            rhs -= m * c[j - 1];
        }
        d[j] = diag;
        c[j] = rhs;
    }
    double v[kMaxBands], sum = 0;
    for (int j = B - 1; j >= 0; --j) {
        v[j] = (c[j] - (j + 1 < B ? fit.off[j] * v[j + 1] : 0.0)) / d[j];
        sum += v[j];
    }
    if (!(sum > 0)) return;
    for (int j = 0; j < B; ++j) bands[j] = float(v[j] * B / sum);
}

}  // namespace

void buildShapeFit(const float* mag, int count, float f0, const float* freq, int B, ShapeFit* fit) {
    *fit = ShapeFit{};
    fit->bands = B;
    double mean = 0;
    for (int h = 0; h < count; ++h) mean += mag[h];
    mean = count > 0 ? mean / count : 0.0;
    if (!(mean > 0)) return;
    fit->harmonics = count;
    for (int h = 0; h < count; ++h) {
        float w0, w1;
        const int j = bandBlend(freq, B, float(h + 1) * f0, &w0, &w1);
        // Errors relative to each harmonic (near the log-spectral error),
        // with a floor so that a near-empty harmonic does not dominate.
        const double scale = 1.0 / (mag[h] + 0.1 * mean);
        const double a0 = w0 * scale, a1 = w1 * scale;
        fit->diag[j] += a0 * a0;
        fit->target[j] += a0;
        if (j + 1 < B) {
            fit->diag[j + 1] += a1 * a1;
            fit->off[j] += a0 * a1;
            fit->target[j + 1] += a1;
        }
    }
}

double shapeScore(const ShapeFit& fit, const float* v) {
    double vc = 0, vgv = 0;
    for (int j = 0; j < fit.bands; ++j) {
        vc += v[j] * fit.target[j];
        vgv += fit.diag[j] * v[j] * v[j];
        if (j + 1 < fit.bands) vgv += 2 * fit.off[j] * v[j] * v[j + 1];
    }
    return vc > 0 && vgv > 0 ? vc * vc / vgv : 0.0;
}

void quantiseShape(const ShapeFit& fit, int cls, const CodeRecord& code, int16_t stages[kShapeStages]) {
    const int B = code.bandCount[cls];
    const float* const* book = code.shapeBooks[cls];
    double best = -1.0;
    std::fill(stages, stages + kShapeStages, int16_t(0));
    for (int i = 0; i < kShapeVectors; ++i)
        for (int j = 0; j < kShapeVectors; ++j) {
            float partial[kMaxBands];
            for (int n = 0; n < B; ++n) partial[n] = book[0][i * B + n] + book[1][j * B + n];
            for (int l = 0; l < kShapeVectors; ++l) {
                float v[kMaxBands];
                // Negative band values would be clipped where they are blended.
                for (int n = 0; n < B; ++n) v[n] = std::max(0.0f, partial[n] + book[2][l * B + n]);
                const double score = shapeScore(fit, v);
                if (score > best) {
                    best = score;
                    stages[0] = int16_t(i), stages[1] = int16_t(j), stages[2] = int16_t(l);
                }
            }
        }
}

namespace {

// How far the decoder's harmonics reach above the class's top band
// frequency: they fall linearly to nothing at 4000 Hz.
double topFall(double hz, float topHz) {
    return hz <= topHz ? 1.0 : std::max(0.2, (4000.0 - hz) / (4000.0 - topHz));
}

// Predictor refitted to the envelope `power` raised by fall^-2 * lift.
bool refitPredictor(const float power[kBins + 1], float topHz, double lift, float out[kLpcOrder]) {
    static const auto cosines = [] {
        struct { float c[kFft256Size]; } t{};
        for (int i = 0; i < kFft256Size; ++i) t.c[i] = float(std::cos(2 * kPi * i / kFft256Size));
        return t;
    }();
    double r[kLpcOrder + 1] = {};
    for (int b = 0; b <= kBins; ++b) {
        const double fall = topFall(b * kHzPerBin, topHz);
        const double p = power[b] * std::pow(fall, -2.0 * lift) * (b == 0 || b == kBins ? 1.0 : 2.0);
        for (int k = 0; k <= kLpcOrder; ++k) r[k] += p * cosines.c[(b * k) % kFft256Size];
    }
    r[0] *= 1.0001;
    return orvo::lpcFromAutocorrelation(r, out);
}

// Share of the power above the top band frequency in a power spectrum,
// each bin first lowered by the decoder's fall when `fallen`.
double topShare(const float power[kBins + 1], float topHz, bool fallen) {
    double top = 0, all = 0;
    for (int b = 0; b <= kBins; ++b) {
        const double hz = b * kHzPerBin, fall = fallen ? topFall(hz, topHz) : 1.0;
        const double p = power[b] * fall * fall;
        all += p;
        if (hz > topHz) top += p;
    }
    return all > 0 ? top / all : 0.0;
}

// A predictor refitted to its own envelope raised by the inverse of the
// decoder's fall (at most 14 dB) brings the top back.  The lift stops
// where the decoded top would outgrow the input's own (`inputPower`): a
// ten-pole envelope does not follow a dull input's steep top, and lifting
// it in full would make the top louder than it ever was.
void compensateTopFall(const Fft256Tables* fft, const float a[kLpcOrder], float topHz, const float* inputPower,
                       float out[kLpcOrder]) {
    std::copy(a, a + kLpcOrder, out);
    float power[kBins + 1];
    filterPower(fft, a, power);
    const double wanted = topShare(inputPower, topHz, false);
    auto decodedShare = [&](const float* pred) {
        float p[kBins + 1];
        filterPower(fft, pred, p);
        return topShare(p, topHz, true);
    };
    float trial[kLpcOrder];
    if (refitPredictor(power, topHz, 1.0, trial) && decodedShare(trial) <= wanted) {
        std::copy(trial, trial + kLpcOrder, out);
        return;
    }
    if (decodedShare(a) >= wanted) return;
    // The decoded share grows with the lift: bisect for the lift that meets it.
    double lo = 0.0, hi = 1.0;
    for (int step = 0; step < 6; ++step) {
        const double mid = 0.5 * (lo + hi);
        if (refitPredictor(power, topHz, mid, trial) && decodedShare(trial) <= wanted) {
            lo = mid;
            std::copy(trial, trial + kLpcOrder, out);
        } else {
            hi = mid;
        }
    }
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
    orvo::quantiseLspSteps(lsp, lspdiffPeln, kLspBits, codes);
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
    // quantised yet: the session's voice transformation changes them now.
    AnalysedFrame& frame = an.frame;
    if (enc->guisette) GuisetteRouterPeln(enc->guisette, &frame);

    const int voicing = std::clamp(int(std::lround(frame.voicing * (kVoicingCodes - 1))), 0, kVoicingCodes - 1);
    PelnState* st = pelnState(&enc->shadow);
    AnalysedFrame sent = frame;
    if (sent.haveLpc) {
        const float none[kLpcOrder] = {};
        float inputPower[kBins + 1];
        residualSpectrum(&st->fft, enc->fe.history, none, inputPower);
        compensateTopFall(&st->fft, frame.a, BarkCntl[voicing].topHz, inputPower, sent.a);
    }
    float lsp[kLpcOrder];
    orvo::frameLsp(&enc->fe, sent, lsp);
    int16_t lspCodes[kLpcOrder];
    quantiseLspPeln(lsp, lspCodes);
    float sentLsp[kLpcOrder], sentLpc[kLpcOrder];
    lspdiffdecode34Peln(lspCodes, sentLsp);
    lsp_to_lpcPeln(sentLsp, sentLpc);

    const int pitch = orvo::pitchCode(frame.period);
    const float sentPeriod = LutPitchPeln(pitch);
    const int N = harmonicCountPeln(sentPeriod);
    // The residual against what the decoder will filter with: the shape
    // also carries what the LSP quantisation missed.
    float spectrum[kBins + 1], mag[kMaxHarmonics];
    residualSpectrum(&st->fft, enc->fe.history, sentLpc, spectrum);
    harmonicMagnitudes(spectrum, sentPeriod, N, mag);
    undoEnhancement(st, sentLpc, frame.voicing, sentPeriod, N, mag);
    const float f0 = 8000.0f / sentPeriod;
    const int B = st->code.bandCount[voicing];
    const float* freq = st->code.bandFreq[voicing];
    ShapeFit fit;
    buildShapeFit(mag, N, f0, freq, B, &fit);
    float bands[kMaxBands] = {};
    sampledShape(mag, N, f0, freq, B, bands);
    fittedShape(fit, bands);
    int16_t shape[kShapeStages];
    quantiseShape(fit, voicing, st->code, shape);

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
        info->fit = fit;
    }
}

}  // namespace zef::peln
