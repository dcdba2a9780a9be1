#include "resample.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "vectors.h"

namespace zef {
namespace {

constexpr double kMatchHz = 100.0;
constexpr uint32_t kErrNoResampler = 20121;
constexpr double kPositionSlack = 1e-9;

bool fits(const IIRListEntry& e, double inRate, double outRate) {
    if (inRate <= outRate) return std::fabs(outRate * e.ratio - inRate) <= kMatchHz;
    return std::fabs(outRate / e.ratio - inRate) <= kMatchHz;
}

// First entry in table order that brings the output rate within 100 Hz of
// the input rate, so the order of the table decides between near ratios.
const IIRListEntry* findFilter(double inRate, double outRate) {
    for (const IIRListEntry& e : IIRlist)
        if (fits(e, inRate, outRate)) return &e;
    return nullptr;
}

int16_t clip16(double y) {
    if (!(y == y)) return 0;
    if (y >= 32767.0) return 32767;
    if (y <= -32768.0) return -32768;
    return static_cast<int16_t>(y);  // truncates toward zero
}

}  // namespace

int initReSampleFilters(ReSampler* r, double inRate, double outRate, int16_t* delay) {
    if (delay) *delay = 0;
    *r = ReSampler{};
    if (!(inRate > 0.0) || !(outRate > 0.0) || !std::isfinite(inRate) || !std::isfinite(outRate))
        return -1;
    const IIRListEntry* entry = nullptr;
    if (inRate != outRate) {
        entry = findFilter(inRate, outRate);
        if (!entry) return -1;
    }
    r->ratio = inRate / outRate;
    r->historyLength = kResampleHistory;
    r->phase = 0.0;
    if (entry) {
        r->filter.entry = entry;
        r->filter.stateLength = std::max(entry->num.count, entry->den.count);
        r->filter.state = VectorDBL(size_t(r->filter.stateLength));
        if (delay) *delay = entry->num.delay;
    }
    r->bufferSize = std::max(kResampleMaxInput, reSampleCapacity(r));
    r->buffer = VectorSHR(size_t(r->bufferSize));
    return 0;
}

void freeReSampleFilters(ReSampler* r) {
    if (!r) return;
    safefree(r->filter.state);
    safefree(r->buffer);
    *r = ReSampler{};
}

// Output k of a block sits at input position k * ratio - phase; a block of n
// samples yields every position up to n, and the phase keeps the remainder,
// so that the count averages exactly n / ratio over a stream.
int32_t reSampleCount(const ReSampler* r, int32_t n) {
    if (!(r->ratio > 0.0) || n < 0) return 0;
    double m = std::floor((n + r->phase) / r->ratio);
    if (!(m < double(INT32_MAX - 1))) return 0;
    auto count = static_cast<int32_t>(m);
    // Positions that rounding puts a hair beyond the block still belong to it,
    // so exact ratios give exact counts.
    const double end = n + kPositionSlack;
    while (count > 0 && count * r->ratio - r->phase > end) --count;
    while ((count + 1) * r->ratio - r->phase <= end) ++count;
    return count;
}

int32_t reSampleCapacity(const ReSampler* r) {
    if (!(r->ratio > 0.0)) return 0;
    return static_cast<int32_t>(std::floor(kResampleMaxInput / r->ratio)) + 2;
}

int32_t LinearReSample(const int16_t* x, int32_t n, int16_t* y, int32_t m, ReSampler* r) {
    n = std::max(n, 0);
    m = std::clamp(m, 0, reSampleCount(r, n));
    const double q = r->ratio;
    // Sample j of the stream as seen from this block: the block itself, or
    // the history for the four samples before it.
    auto at = [&](int32_t j) -> double { return j >= 0 ? x[j] : r->history[-j]; };
    for (int32_t k = 1; k <= m; ++k) {
        double p = std::max(0.0, k * q - r->phase);
        auto i = std::min(static_cast<int32_t>(p), n);
        double a = at(i - 1), b = at(i - 2);
        y[k - 1] = static_cast<int16_t>(std::trunc((a - b) * (p - i) + b + 0.5));
    }
    double last = m * q - r->phase;
    int16_t kept[kResampleHistory + 1] = {};
    for (int j = 1; j <= kResampleHistory; ++j) kept[j] = static_cast<int16_t>(at(n - j));
    std::memcpy(r->history, kept, sizeof kept);
    r->phase = std::clamp(n - last, 0.0, q);
    return m;
}

void FilterINT(IIR_INT* f, const int16_t* in, int16_t* out, int32_t count) {
    if (count <= 0) return;
    if (!f->entry) {
        std::memmove(out, in, size_t(count) * sizeof(int16_t));
        return;
    }
    const IIRSection& num = f->entry->num;
    const IIRSection& den = f->entry->den;
    double* s = f->state;
    const int last = f->stateLength - 1;
    for (int32_t t = 0; t < count; ++t) {
        const double x = in[t];
        const double y = num.coef[0] * x + s[0];
        for (int k = 0; k < last; ++k) {
            double v = s[k + 1];
            if (k + 1 < num.count) v += num.coef[k + 1] * x;
            if (k + 1 < den.count) v -= den.coef[k + 1] * y;
            s[k] = v;
        }
        out[t] = clip16(y);
    }
}

int32_t ReSampleFiltData(const int16_t* in, int32_t n, int16_t* out, int32_t m, ReSampler* r) {
    n = std::max(n, 0);
    if (!r->filter.entry) {
        if (n > 0) std::memmove(out, in, size_t(n) * sizeof(int16_t));
        return n;
    }
    if (r->ratio < 1.0) {
        int32_t got = LinearReSample(in, n, r->buffer, std::min(m, r->bufferSize), r);
        FilterINT(&r->filter, r->buffer, out, got);
        return got;
    }
    n = std::min(n, r->bufferSize);
    FilterINT(&r->filter, in, r->buffer, n);
    return LinearReSample(r->buffer, n, out, m, r);
}

uint32_t ReSampleSynthesisSpeech(ZefControlBlock* cb) {
    auto* r = static_cast<ReSampler*>(cb->lpResampler);
    int16_t* work = cb->lpWorkBuffer;
    if (!r || !work) return kErrNoResampler;
    int32_t n = cb->wOutputSamples;
    if (n > kResampleMaxInput || n > int32_t(cb->dwWorkSamples)) return kErrNoResampler;
    int32_t m = reSampleCount(r, n);
    if (m > int32_t(cb->dwWorkSamples) || m > UINT16_MAX) return kErrNoResampler;
    cb->wOutputSamples = static_cast<uint16_t>(ReSampleFiltData(work, n, work, m, r));
    return 0;
}

}  // namespace zef
