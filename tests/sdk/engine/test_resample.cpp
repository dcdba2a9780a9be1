// The decoder-side rate converter: filter choice, output counts over a
// stream, the interpolation itself and the converted signal.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "mirlane.h"
#include "resample.h"

using namespace zef;

namespace {

const double kPi = std::acos(-1.0);

// A converter that frees itself.
struct Converter {
    ReSampler r{};
    int16_t delay = -1;
    int rc;
    Converter(double in, double out) : rc(initReSampleFilters(&r, in, out, &delay)) {}
    ~Converter() { freeReSampleFilters(&r); }
    int entry() const { return r.filter.entry ? int(r.filter.entry - IIRlist) : -1; }
};

// Magnitude of frequency f (cycles per sample) in x, by correlation.
double toneLevel(const std::vector<int16_t>& x, size_t from, double f) {
    double re = 0, im = 0;
    for (size_t i = from; i < x.size(); ++i) {
        re += x[i] * std::cos(2 * kPi * f * double(i));
        im += x[i] * std::sin(2 * kPi * f * double(i));
    }
    return 2.0 * std::hypot(re, im) / double(x.size() - from);
}

std::vector<int16_t> sine(size_t n, double f, double amplitude) {
    std::vector<int16_t> x(n);
    for (size_t i = 0; i < n; ++i) x[i] = int16_t(std::lround(amplitude * std::sin(2 * kPi * f * double(i))));
    return x;
}

// Converts x in frames of `frame` samples, the way the engine does, in place
// in a work buffer.
std::vector<int16_t> convert(Converter& c, const std::vector<int16_t>& x, size_t frame,
                             std::vector<int32_t>* counts = nullptr) {
    std::vector<int16_t> out, work(size_t(reSampleCapacity(&c.r)) + kResampleMaxInput);
    for (size_t at = 0; at < x.size(); at += frame) {
        auto n = int32_t(std::min(frame, x.size() - at));
        std::memcpy(work.data(), &x[at], size_t(n) * 2);
        int32_t m = reSampleCount(&c.r, n);
        int32_t got = ReSampleFiltData(work.data(), n, work.data(), m, &c.r);
        EXPECT_EQ(got, m);
        out.insert(out.end(), work.begin(), work.begin() + got);
        if (counts) counts->push_back(got);
    }
    return out;
}

}  // namespace

TEST(Resample, TheFirstFittingFilterInTableOrderIsChosen) {
    const struct { double out; int entry; } cases[] = {
        {11025, 6}, {11127, 6}, {ZEF_RATE_11127_FIXED / 65536.0, 6}, {16000, 4}, {22050, 3},
        {22254, 3}, {32000, 1}, {44100, 0}, {7900, 8}, {8100, 8}};
    for (const auto& k : cases) {
        Converter c(8000, k.out);
        ASSERT_EQ(c.rc, 0) << k.out;
        EXPECT_EQ(c.entry(), k.entry) << k.out;
        EXPECT_DOUBLE_EQ(c.r.ratio, 8000 / k.out);
    }
    Converter same(8000, 8000);
    EXPECT_EQ(same.rc, 0);
    EXPECT_EQ(same.entry(), -1);
    EXPECT_EQ(same.delay, 0);
    EXPECT_EQ(Converter(8000, 44100).delay, IIRlist[0].num.delay);
}

TEST(Resample, RatePairsWithoutAFilterAreRefusedAndHoldNothing) {
    for (double out : {12000.0, 24000.0, 48000.0, 96000.0, 3000.0, 0.0, -8000.0, double(NAN),
                       double(INFINITY), double(ZEF_RATE_22254_FIXED)}) {
        Converter c(8000, out);
        EXPECT_EQ(c.rc, -1) << out;
        EXPECT_EQ(c.r.buffer, nullptr);
        EXPECT_EQ(c.r.filter.state, nullptr);
    }
    EXPECT_EQ(Converter(0, 8000).rc, -1);
}

TEST(Resample, A44100StreamGets992Or993PerFrameAndExactlyTheRightTotal) {
    Converter c(8000, 44100);
    ASSERT_EQ(c.rc, 0);
    int64_t total = 0;
    int seen992 = 0, seen993 = 0;
    for (int frame = 1; frame <= 2000; ++frame) {
        int32_t m = reSampleCount(&c.r, 180);
        ASSERT_TRUE(m == 992 || m == 993) << "frame " << frame << ": " << m;
        (m == 992 ? seen992 : seen993)++;
        std::vector<int16_t> in(180), out(static_cast<size_t>(m));
        ASSERT_EQ(LinearReSample(in.data(), 180, out.data(), m, &c.r), m);
        total += m;
        // 180 input samples are worth 992.25 output samples; the carried
        // phase keeps the running total within one sample of that.
        double behind = frame * 992.25 - double(total);
        ASSERT_TRUE(behind >= 0.0 && behind < 1.0) << "frame " << frame << ": " << behind;
    }
    EXPECT_EQ(seen992, 1500);
    EXPECT_EQ(seen993, 500);
    EXPECT_GE(reSampleCapacity(&c.r), 4962);  // a 5.0-warped frame of 900 samples
}

TEST(Resample, OddBlockSizesKeepTheAverageInBothDirections) {
    for (double out : {7900.0, 11025.0, 22050.0}) {
        Converter c(8000, out);
        ASSERT_EQ(c.rc, 0);
        int64_t in = 0, total = 0;
        for (int32_t n : {0, 1, 2, 3, 180, 7, 900, 0, 1, 126, 360, 5}) {
            std::vector<int16_t> x(size_t(n) + 1), y(size_t(reSampleCapacity(&c.r)));
            total += ReSampleFiltData(x.data(), n, y.data(), reSampleCount(&c.r, n), &c.r);
            in += n;
            double behind = double(in) * out / 8000.0 - double(total);
            ASSERT_TRUE(behind > -1e-6 && behind < 1.0) << out << " after " << n << ": " << behind;
        }
    }
}

TEST(Resample, LinearInterpolationFollowsARampAcrossBlocks) {
    // Linear interpolation is exact on a ramp: output k lies at input
    // position k * ratio - 2 (two samples of history delay).
    Converter c(8000, 16000);
    ASSERT_EQ(c.rc, 0);
    std::vector<int16_t> ramp(1800);
    for (int i = 0; i < 1800; ++i) ramp[size_t(i)] = int16_t(3 * i);
    int64_t k = 0;
    for (size_t at = 0; at < ramp.size(); at += 180) {
        int32_t m = reSampleCount(&c.r, 180);
        std::vector<int16_t> y(static_cast<size_t>(m));
        ASSERT_EQ(LinearReSample(&ramp[at], 180, y.data(), m, &c.r), m);
        for (int32_t j = 0; j < m; ++j) {
            ++k;
            double pos = double(k) * 0.5 - 2.0;
            double want = pos < 0 ? 0.0 : 3.0 * pos;
            ASSERT_NEAR(y[size_t(j)], want, 1.0) << "output " << k;
        }
    }
}

TEST(Resample, LinearInterpolationOfASineIsSmoothAtEveryFrameStart) {
    // Each output must lie on the chord between its two neighbouring inputs;
    // the error bound of linear interpolation is A * (2 pi f)^2 / 8.
    Converter c(8000, 44100);
    ASSERT_EQ(c.rc, 0);
    const double f = 300.0 / 8000.0, amplitude = 10000.0;
    const double bound = amplitude * std::pow(2 * kPi * f, 2) / 8.0 + 1.0;
    std::vector<int16_t> x = sine(180 * 40, f, amplitude);
    int64_t k = 0;
    for (size_t at = 0; at < x.size(); at += 180) {
        int32_t m = reSampleCount(&c.r, 180);
        std::vector<int16_t> y(static_cast<size_t>(m));
        ASSERT_EQ(LinearReSample(&x[at], 180, y.data(), m, &c.r), m);
        for (int32_t j = 0; j < m; ++j) {
            double pos = double(++k) * c.r.ratio - 2.0;
            if (pos < 1) continue;
            ASSERT_NEAR(y[size_t(j)], amplitude * std::sin(2 * kPi * f * pos), bound)
                << "output " << j << " of the frame at " << at;
        }
    }
}

TEST(Resample, UpConversionKeepsTheToneAndRemovesTheImages) {
    Converter c(8000, 44100);
    ASSERT_EQ(c.rc, 0);
    const double f = 1000.0, amplitude = 12000.0;
    std::vector<int16_t> y = convert(c, sine(8000, f / 8000, amplitude), 180);
    ASSERT_NEAR(double(y.size()), 44100.0, 1.0);
    const size_t settle = 4410;
    // Linear interpolation passes 1 kHz at sinc^2(1/8) = 0.949.
    EXPECT_NEAR(toneLevel(y, settle, f / 44100), 0.949 * amplitude, 0.03 * amplitude);
    for (double image : {7000.0, 9000.0, 15000.0, 17000.0})
        EXPECT_LT(toneLevel(y, settle, image / 44100), 0.003 * amplitude) << image;
}

TEST(Resample, DownConversionKeepsTheTone) {
    Converter c(8000, 7900);
    ASSERT_EQ(c.rc, 0);
    const double f = 500.0, amplitude = 12000.0;
    std::vector<int16_t> y = convert(c, sine(16000, f / 8000, amplitude), 180);
    ASSERT_NEAR(double(y.size()), 15800.0, 1.0);
    EXPECT_NEAR(toneLevel(y, 1000, f / 7900), amplitude, 0.03 * amplitude);
    EXPECT_LT(toneLevel(y, 1000, f / 8000), 0.2 * amplitude);  // the old rate's frequency is gone
}

TEST(Resample, InPlaceConversionEqualsConversionIntoAnotherBuffer) {
    Converter a(8000, 22050), b(8000, 22050);
    std::vector<int16_t> x = sine(900, 440.0 / 8000, 20000);
    std::vector<int16_t> work(size_t(reSampleCapacity(&a.r)));
    std::copy(x.begin(), x.end(), work.begin());
    std::vector<int16_t> apart(work.size());
    int32_t m = reSampleCount(&a.r, 900);
    ASSERT_EQ(ReSampleFiltData(work.data(), 900, work.data(), m, &a.r), m);
    ASSERT_EQ(ReSampleFiltData(x.data(), 900, apart.data(), m, &b.r), m);
    EXPECT_TRUE(std::equal(apart.begin(), apart.begin() + m, work.begin()));
}

TEST(Resample, ABlockBeyondTheConverterOrItsBufferIsRefused) {
    Converter c(8000, 44100);
    ZefControlBlock cb{};
    std::vector<int16_t> work(5000);
    cb.lpResampler = &c.r;
    cb.lpWorkBuffer = work.data();
    cb.dwWorkSamples = uint32_t(work.size());
    cb.wOutputSamples = 901;
    EXPECT_EQ(ReSampleSynthesisSpeech(&cb), 20121u);
    cb.wOutputSamples = 900;
    cb.dwWorkSamples = 4000;  // too small for the converted block
    EXPECT_EQ(ReSampleSynthesisSpeech(&cb), 20121u);
    cb.dwWorkSamples = uint32_t(work.size());
    EXPECT_EQ(ReSampleSynthesisSpeech(&cb), 0u);
    EXPECT_TRUE(cb.wOutputSamples == 4961 || cb.wOutputSamples == 4962);
}
