// Peln quantisation: the shared front end, the residual's spectrum round
// each harmonic as a band shape searched in the class's three-stage book,
// and the energy code from a model of the decoder's output level.  The
// shape search itself is in shapesearch.cpp.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "codecs.h"
#include "lanes.h"
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
// Power of the decoder's noise per unit band amplitude at normal speed:
// each run of L + 70 + 1 samples is faded in and out over 70 and scaled to
// unit mean power, so its body is at 1.59, and the crossfade
// (p a + x b) / (a^2 + b^2) of two faded runs keeps pi / 4 of that over
// its 70 samples: (110 + 70 pi / 4) 1.59 / 180 = 1.46 per segment.
constexpr double kNoisePower = 1.46;

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

// The decoder weighs each harmonic by how near it lies to a formant peak
// (and renormalises the sum): divide that weight out beforehand.  `gain`
// is the decoder's enhancement of the frame, null when it has none.
void undoEnhancement(const double* gain, int count, float* mag) {
    float weight[kMaxHarmonics];
    std::fill(weight, weight + kMaxHarmonics, 1.0f);
    if (gain) applyEnhancement(gain, count, weight);
    double mean = 0;
    for (int h = 0; h < count; ++h) mean += mag[h] /= std::max(weight[h], 1e-3f);
    mean = count > 0 ? mean / count : 0.0;
    for (int h = 0; h < count && mean > 0; ++h) mag[h] = float(mag[h] / mean);
}

// The measured magnitudes are the harmonics' powers, voiced or not; the
// decoder plays a voiced harmonic of amplitude a as a sinusoid of power
// kVoicedPower a^2 and an unvoiced one as noise of power kNoisePower a^2.
// Lowering the `voiced` first ones by the ratio keeps the balance between
// the harmonics and the noise above them as it was measured.
void undoVoicedGain(int voiced, float* mag) {
    const float scale = float(std::sqrt(kNoisePower / kVoicedPower));
    for (int h = 0; h < voiced; ++h) mag[h] *= scale;
}

// Above the voiced harmonics the decoder plays noise at each band's mean
// power; the measured power of a band is a few bins of one periodogram,
// so it is averaged with the neighbouring noise bands' before the fit (a
// wider average measured worse).
void smoothNoiseBands(int voiced, int count, float* mag) {
    float power[kMaxHarmonics];
    for (int h = 0; h < count; ++h) power[h] = mag[h] * mag[h];
    for (int h = voiced; h < count; ++h) {
        const int lo = std::max(voiced, h - 1), hi = std::min(count - 1, h + 1);
        double sum = 0;
        for (int k = lo; k <= hi; ++k) sum += power[k];
        mag[h] = float(std::sqrt(sum / (hi - lo + 1)));
    }
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

namespace {

// How far the decoder's harmonics reach above the class's top band
// frequency: they fall linearly to nothing at 4000 Hz.
double topFall(double hz, float topHz) {
    return hz <= topHz ? 1.0 : std::max(0.2, (4000.0 - hz) / (4000.0 - topHz));
}

// Predictor refitted to the envelope `power` raised by fall^-2 * lift.
bool refitPredictor(const float power[kBins + 1], float topHz, double lift, float out[kLpcOrder]) {
    // r[k] sums p[b] cos(2 pi b k / 256) over the bins; the twelve lanes are
    // r[0] .. r[10] and a spare, each summed in bin order as one at a time.
    using lanes::Double2;
    constexpr int kGroups = 6;
    struct Basis {
        Double2 c[kBins + 1][kGroups];  // cos(2 pi ((b * k) mod 256) / 256), rounded to float
    };
    static const Basis basis = [] {
        Basis t{};
        for (int b = 0; b <= kBins; ++b)
            for (int k = 0; k <= kLpcOrder; ++k)
                t.c[b][k / 2][k % 2] = double(float(std::cos(2 * kPi * ((b * k) % kFft256Size) / kFft256Size)));
        return t;
    }();
    Double2 r[kGroups] = {};
    for (int b = 0; b <= kBins; ++b) {
        const double fall = topFall(b * kHzPerBin, topHz);
        // pow(1, y) is 1 for every y: only the bins above the top need it.
        const double lifted = fall == 1.0 ? 1.0 : std::pow(fall, -2.0 * lift);
        const Double2 p = lanes::splat(power[b] * lifted * (b == 0 || b == kBins ? 1.0 : 2.0));
        #pragma GCC unroll 8
        for (int g = 0; g < kGroups; ++g) r[g] += p * basis.c[b][g];
    }
    double sums[kLpcOrder + 1];
    for (int k = 0; k <= kLpcOrder; ++k) sums[k] = r[k / 2][k % 2];
    sums[0] *= 1.0001;
    return orvo::lpcFromAutocorrelation(sums, out);
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
    if (topShare(power, topHz, true) >= wanted) return;  // decodedShare(a)
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

}  // namespace

namespace {

// What the decoder makes of a frame's predictor, pitch and voicing before
// the shape and energy: the predictor's power response and its
// enhancement of each harmonic.  The encoder needs it twice per frame, and
// the two share one transform.
struct DecoderView {
    float power[kBins + 1];
    double gain[kMaxHarmonics];
    int harmonics;  // how many gains
    bool enhanced;  // false: the decoder leaves the amplitudes alone
};

void viewDecoder(PelnState* st, const float a[kLpcOrder], float voicing, float period, int count, DecoderView* view) {
    view->harmonics = count;
    view->enhanced = count > 0 && enhancementEnvelope(a, st);
    if (!view->enhanced) {
        filterPower(&st->fft, a, view->power);
        return;
    }
    // The envelope's transform is filterPower's (1, -a_1 .. -a_10) too.
    const EnhanceState& enh = st->syn.enh;
    for (int k = 0; k <= kBins; ++k)
        view->power[k] = float(1.0 / std::max(double(enh.re[k]) * enh.re[k] + double(enh.im[k]) * enh.im[k], 1e-12));
    enhancementGains(enh, voicing, period, count, view->gain);
}

// Parameters of the frame `codes` decodes to, with the energy at 1.
int decodedFrame(PelnState* st, const uint8_t codes[kFieldCount], FrameParams* frame) {
    *frame = FrameParams{};
    int16_t lspCodes[kLpcOrder];
    for (int k = 0; k < kLpcOrder; ++k) lspCodes[k] = codes[2 + k];
    lspdiffdecode34Peln(lspCodes, frame->lsp);
    const int code = std::min<int>(codes[0], kVoicingCodes - 1);
    frame->voicing = Pv_Table[code];
    frame->period = LutPitchPeln(codes[1]);
    frame->energy = 1.0f;
    CodeRecord& rec = st->code;  // only its shape codes are set here; nothing is decoded
    for (int s = 0; s < kShapeStages; ++s) rec.shapeCodes[s] = codes[12 + s];
    return UQFB_8kPeln(frame, &rec);
}

double powerPerEnergy(const DecoderView& view, FrameParams* frame, int N) {
    if (view.enhanced) applyEnhancement(view.gain, std::min(N, view.harmonics), frame->amp);
    const int voiced = std::min(N, int(N * frame->voicing + 0.5f));
    double total = 0;
    for (int k = 0; k < N; ++k) {
        const double p = double(frame->amp[k]) * frame->amp[k] * powerAt(view.power, (k + 1) * 8000.0 / frame->period);
        total += (k < voiced ? kVoicedPower : kNoisePower) * p;
    }
    return total;
}

int chooseEnergy(PelnState* st, const DecoderView& view, const uint8_t codes[kFieldCount], float level) {
    if (level < orvo::kSilenceRms) return 0;
    FrameParams frame;
    const int N = decodedFrame(st, codes, &frame);
    const double perEnergy = powerPerEnergy(view, &frame, N);
    if (!(perEnergy > 0)) return 0;
    return nearestEnergyCode(2.0 * std::log10(double(level)) - std::log10(perEnergy));
}

}  // namespace

double decodedPowerPerEnergy(PelnEncoder* enc, const uint8_t codes[kFieldCount]) {
    PelnState* st = pelnState(&enc->shadow);
    FrameParams frame;
    const int N = decodedFrame(st, codes, &frame);
    float a[kLpcOrder];
    lsp_to_lpcPeln(frame.lsp, a);
    DecoderView view;
    viewDecoder(st, a, frame.voicing, frame.period, N, &view);
    return powerPerEnergy(view, &frame, N);
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
    // The decoder's view of the frame serves the shape and the energy.
    DecoderView view;
    viewDecoder(st, sentLpc, Pv_Table[voicing], sentPeriod, N, &view);
    undoEnhancement(view.enhanced ? view.gain : nullptr, N, mag);
    const int voicedHarmonics = std::min(N, int(float(N) * Pv_Table[voicing] + 0.5f));  // as the decoder counts them
    undoVoicedGain(voicedHarmonics, mag);
    smoothNoiseBands(voicedHarmonics, N, mag);
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
    codes[15] = uint8_t(chooseEnergy(st, view, codes, an.level));
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
