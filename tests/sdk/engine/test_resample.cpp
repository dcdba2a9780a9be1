// The output converter: filter choice, output counts over a stream, the
// interpolation, the low-pass filters, and the sample width conversions.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>

#include "mirlane.h"
#include "pcmwidth.h"
#include "resample.h"
#include "support.h"

using namespace zef;
using zeftest::Samples;

namespace {

const double kPi = std::acos(-1.0);

struct Converter {
    ReSampler r{};
    int16_t delay = -1;
    int rc;
    Converter(double in, double out) : rc(initReSampleFilters(&r, in, out, &delay)) {}
    ~Converter() { freeReSampleFilters(&r); }
    int entry() const { return r.filter.entry ? int(r.filter.entry - IIRlist) : -1; }
};

// Magnitude of frequency f (cycles per sample) in x from sample `from` on.
double toneLevel(const Samples& x, size_t from, double f) {
    std::complex<double> c;
    for (size_t i = from; i < x.size(); ++i) c += double(x[i]) * std::polar(1.0, -2 * kPi * f * double(i));
    return 2.0 * std::abs(c) / double(x.size() - from);
}

// Converted in frames of 180, in place in a work buffer, as the engine does.
Samples convert(Converter& c, const Samples& x) {
    Samples out, work(size_t(reSampleCapacity(&c.r)) + kResampleMaxInput);
    for (size_t at = 0; at < x.size(); at += 180) {
        auto n = int32_t(std::min<size_t>(180, x.size() - at));
        std::memcpy(work.data(), &x[at], size_t(n) * 2);
        const int32_t m = reSampleCount(&c.r, n);
        EXPECT_EQ(ReSampleFiltData(work.data(), n, work.data(), m, &c.r), m);
        out.insert(out.end(), work.begin(), work.begin() + m);
    }
    return out;
}

}  // namespace

TEST(Resample, RatePairsWithoutAFilterAreRefusedAndHoldNothing) {
    for (double out : {12000.0, 3000.0, 0.0, -8000.0, double(NAN), double(INFINITY), double(ZEF_RATE_22254_FIXED)}) {
        Converter c(8000, out);
        EXPECT_EQ(c.rc, -1) << out;
        EXPECT_EQ(c.r.buffer, nullptr);
        EXPECT_EQ(c.r.filter.state, nullptr);
    }
    Converter same(8000, 8000);
    EXPECT_EQ(same.rc, 0);
    EXPECT_EQ(same.entry(), -1);
    EXPECT_EQ(same.delay, 0);
    EXPECT_EQ(Converter(8000, 44100).delay, IIRlist[0].num.delay);
}

// Any block sizes: the running total stays within one sample of in x rate.
TEST(Resample, CountsKeepTheAverageOverAStream) {
    for (double out : {7900.0, 11025.0, 22050.0, 44100.0}) {
        Converter c(8000, out);
        ASSERT_EQ(c.rc, 0);
        int64_t in = 0, total = 0;
        for (int32_t n : {0, 1, 2, 3, 180, 7, 900, 0, 1, 126, 360, 5, 180, 180, 180}) {
            Samples x(size_t(n) + 1), y(size_t(reSampleCapacity(&c.r)));
            total += ReSampleFiltData(x.data(), n, y.data(), reSampleCount(&c.r, n), &c.r);
            in += n;
            const double behind = double(in) * out / 8000.0 - double(total);
            ASSERT_TRUE(behind > -1e-6 && behind < 1.0) << out << " after " << n << ": " << behind;
        }
    }
}

TEST(Resample, ConversionKeepsTheToneAndRemovesTheImages) {
    Converter up(8000, 44100);
    const Samples y = convert(up, zeftest::sine(8000, 1000.0, 12000.0));
    ASSERT_NEAR(double(y.size()), 44100.0, 1.0);
    EXPECT_NEAR(toneLevel(y, 4410, 1000.0 / 44100), 0.949 * 12000.0, 360.0);  // sinc^2(1/8)
    for (double image : {7000.0, 9000.0, 15000.0, 17000.0}) EXPECT_LT(toneLevel(y, 4410, image / 44100), 36.0) << image;

}

TEST(Resample, ABlockBeyondTheConverterOrItsBufferIsRefused) {
    Converter c(8000, 44100);
    ZefControlBlock cb{};
    Samples work(5000);
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

// Every low-pass filter, as FilterINT runs it: a tone at half its band
// passes, one halfway up its stop band is gone, and a full-scale square
// clips, never wraps.
TEST(IIRList, EachFilterPassesItsBandStopsAboveAndClips) {
    for (int i = 0; i < kIIRListSize; ++i) {
        SCOPED_TRACE(testing::Message() << "entry " << i);
        const IIRListEntry& e = IIRlist[i];
        const double edge = e.ratio / 2;  // half the lower rate, in cycles at the higher rate
        auto run = [&](const Samples& x) {
            IIR_INT f{&e, nullptr, std::max(e.num.count, e.den.count)};
            std::vector<double> state(size_t(f.stateLength));
            f.state = state.data();
            Samples y(x.size());
            FilterINT(&f, x.data(), y.data(), int32_t(x.size()));
            return y;
        };
        auto gain = [&](double cycles) {
            const Samples x = zeftest::sine(24000, cycles * 8000.0, 30000.0);
            const Samples y = run(x);
            return zeftest::rms(y.data() + 8000, 16000) / zeftest::rms(x.data() + 8000, 16000);
        };
        EXPECT_NEAR(gain(0.5 * edge), 1.0, 0.02);
        EXPECT_LT(gain(0.5 * (edge + 0.5)), 0.01);
        Samples square(4000);
        for (int t = 0; t < 4000; ++t) square[t] = (t / 200) % 2 ? int16_t(-32768) : int16_t(32767);
        const Samples s = run(square);
        for (int t = 0; t < 4000; ++t)
            if (t % 200 > 20 && t % 200 < 180) {
                ASSERT_EQ(s[t] > 0, (t / 200) % 2 == 0) << t;
            }
    }
}

TEST(PcmWidth, EightBitKeepsEdgesAndCentreAndSwapOnlyTheCount) {
    const int16_t in[] = {-32768, -32767, -257, -256, -1, 0, 1, 255, 256, 32767};
    const uint8_t want[] = {0, 0, 126, 127, 127, 128, 128, 128, 129, 255};
    uint8_t out[10] = {};
    pcm16to8(in, out, 10);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(out[i], want[i]) << "sample " << in[i];
    int16_t s[3] = {0x1234, int16_t(0xABCD), 0x00FF};
    VecSwap2(s, 2);
    EXPECT_EQ(uint16_t(s[0]), 0x3412);
    EXPECT_EQ(uint16_t(s[1]), 0xCDAB);
    EXPECT_EQ(s[2], 0x00FF);  // beyond the count
}
