#include "guisetterouter.h"

#include <array>
#include <cmath>
#include <cstddef>

#include "fft256.h"
#include "guisette.h"

namespace zef {
namespace {

constexpr float kRate = 8000.0f;
constexpr float kShortestPeriod = 16.0f;   // 500 Hz
constexpr float kLongestPeriod = 125.0f;   // 64 Hz
constexpr int kBins = kFft256Size / 2;     // 0 .. 127 below the Nyquist bin
constexpr int kOrder = kGuisetteLpcOrder;
// |A|^2 is kept above this so that a zero on the unit circle cannot make
// an infinite envelope.
constexpr double kLeastPower = 1e-10;

const Fft256Tables& fftTables() {
    static const Fft256Tables tables = [] {
        Fft256Tables t{};
        initFft256(&t);
        return t;
    }();
    return tables;
}

// cos(2 pi m / 256) in double: the autocorrelation needs only eleven lags,
// so they are summed directly instead of through a second transform.
const double* cosines() {
    static const std::array<double, kFft256Size> table = [] {
        std::array<double, kFft256Size> c{};
        const double step = 2.0 * 3.14159265358979323846 / kFft256Size;
        for (int m = 0; m < kFft256Size; ++m) c[size_t(m)] = std::cos(step * m);
        return c;
    }();
    return table.data();
}

// 1 / |A(e^jw)|^2 at bins 0..127 of a 256-point transform.
void envelope(const float a[kOrder], double power[kBins]) {
    float re[kFft256Size] = {}, im[kFft256Size] = {};
    re[0] = 1.0f;
    for (int k = 0; k < kOrder; ++k) re[k + 1] = -a[k];
    fft256(&fftTables(), re, im);
    for (int j = 0; j < kBins; ++j) {
        const double m = double(re[j]) * re[j] + double(im[j]) * im[j];
        power[j] = 1.0 / (m > kLeastPower ? m : kLeastPower);
    }
}

// Bins 0..128 of the warped envelope: bin j takes the power of bin
// floor(j * warp), the last bin standing in for everything above it.  The
// product is taken in single precision like the warp itself, so that
// 10 * 0.7f gives bin 7 and not 6.
void warpEnvelope(const double power[kBins], float warp, double warped[kBins + 1]) {
    for (int j = 0; j <= kBins; ++j) {
        const float source = std::floor(float(j) * warp);
        warped[j] = power[source >= kBins - 1 ? kBins - 1 : int(source)];
    }
}

// Lags 0..10 of the autocorrelation of a real, even spectrum given by its
// bins 0..128 (the inverse transform of the full 256 bins).
void autocorrelation(const double warped[kBins + 1], double r[kOrder + 1]) {
    const double* c = cosines();
    for (int k = 0; k <= kOrder; ++k) {
        double sum = warped[0] + (k % 2 ? -warped[kBins] : warped[kBins]);
        for (int j = 1; j < kBins; ++j) sum += 2.0 * warped[j] * c[(j * k) % kFft256Size];
        r[k] = sum / kFft256Size;
    }
}

bool finitePredictor(const float a[kOrder]) {
    for (int k = 0; k < kOrder; ++k)
        if (!std::isfinite(a[k])) return false;
    return true;
}

bool durbin(const double r[kOrder + 1], float out[kOrder]) {
    if (!(r[0] > 0.0) || !std::isfinite(r[0])) return false;
    double a[kOrder + 1] = {}, previous[kOrder + 1] = {};
    double error = r[0];
    for (int i = 1; i <= kOrder; ++i) {
        double acc = r[i];
        for (int j = 1; j < i; ++j) acc -= a[j] * r[i - j];
        const double k = acc / error;
        if (!(std::fabs(k) < 1.0)) return false;  // also refuses NaN
        for (int j = 1; j < i; ++j) previous[j] = a[j];
        a[i] = k;
        for (int j = 1; j < i; ++j) a[j] = previous[j] - k * previous[i - j];
        error *= 1.0 - k * k;
    }
    if (!(error > 0.0)) return false;
    for (int j = 0; j < kOrder; ++j) out[j] = float(a[j + 1]);
    return true;
}

bool formantWarp(float a[kOrder], float warp) {
    if (!std::isfinite(warp) || !(warp > 0.0f) || !finitePredictor(a)) return false;
    double power[kBins], warped[kBins + 1], r[kOrder + 1];
    envelope(a, power);
    warpEnvelope(power, warp, warped);
    autocorrelation(warped, r);
    return durbin(r, a);
}

// A frequency of 0, a negative or a non-finite one (a whisper's pitch
// factor 0, a frame without a period) means no pitch: the frame goes
// unvoiced and keeps its period.
void setPitch(AnalysedFrame* f, float hz) {
    if (!(hz > 0.0f) || !std::isfinite(hz)) {
        f->voicing = 0.0f;
        return;
    }
    const float period = kRate / hz;
    f->period = period < kShortestPeriod ? kShortestPeriod : (period > kLongestPeriod ? kLongestPeriod : period);
}

void setVoicing(AnalysedFrame* f, float v) { f->voicing = v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f; }

bool warpsFormants(int type) { return type >= 5 && type <= 9; }

// The alternating pitch (type 3) reads minMax_gu2 once for every frame,
// voiced or not, so the alternation keeps time with the frames and a
// voicing decision never shifts its phase.
void route(GuisetteState* gu, AnalysedFrame* f, bool (*warp)(float*, float)) {
    if (!gu || !f || gu->type == 0) return;
    gu->framePitch = f->period > 0.0f && std::isfinite(f->period) ? kRate / f->period : 0.0f;
    gu->frameVoicing = f->voicing;
    if (warpsFormants(gu->type) && f->haveLpc && gu->formantWarp != 1.0f) warp(f->a, gu->formantWarp);
    switch (gu->type) {
        case 1:
        case 7:
            setVoicing(f, voicing_gu2(gu));
            break;
        case 2:
        case 6:
            setPitch(f, squash_gu2(gu));
            break;
        case 3:
            setPitch(f, minMax_gu2(gu));
            break;
        case 4:
        case 5:
        case 8:
        case 9:
            setPitch(f, transposition_gu2(gu));
            break;
        default:  // SetGuisette refuses other types
            break;
    }
}

}  // namespace

bool gu_durbinLumo(const double r[kGuisetteLpcOrder + 1], float a[kGuisetteLpcOrder]) { return durbin(r, a); }
bool gu_durbinPeln(const double r[kGuisetteLpcOrder + 1], float a[kGuisetteLpcOrder]) { return durbin(r, a); }

bool gu_formantWarpLumo(float a[kGuisetteLpcOrder], float warp) { return formantWarp(a, warp); }
bool gu_formantWarpPeln(float a[kGuisetteLpcOrder], float warp) { return formantWarp(a, warp); }

void GuisetteRouter24(GuisetteState* gu, AnalysedFrame* frame) { route(gu, frame, gu_formantWarpLumo); }
void GuisetteRouterPeln(GuisetteState* gu, AnalysedFrame* frame) { route(gu, frame, gu_formantWarpPeln); }

}  // namespace zef
