// Guisettes in the compression session: the session's number selects the
// transformation the encoder applies and goes into the file, an unknown
// number fails the set-up, and a transposition is heard in the decoded
// speech.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "guisette.h"
#include "mirlane.h"
#include "orvoenc.h"
#include "pelnenc.h"
#include "zefinternal.h"

using namespace zef;

namespace {

constexpr uint32_t kRawPcmBuffer = 0x20200;
constexpr uint32_t kWaveZefBuffer = 0x10201;

class GuisetteCompression : public ::testing::Test {
protected:
    void SetUp() override {
        ZEF_STARTUP r{};
        r.wSize = ZEF_STARTUP_SIZE;
        ASSERT_EQ(zefStartup(&r), 0);
    }
    void TearDown() override { zefShutdown(); }
};

// A steady vowel: a pulse train at f0 through three resonances near those
// of an open /a/.
std::vector<int16_t> vowel(double f0, int samples) {
    std::vector<double> x(static_cast<size_t>(samples), 0.0);
    for (double t = 0.0; t < samples; t += 8000.0 / f0) x[size_t(t)] = 1.0;
    for (double hz : {700.0, 1220.0, 2600.0}) {
        const double r = std::exp(-M_PI * 100.0 / 8000.0), c = 2.0 * r * std::cos(2.0 * M_PI * hz / 8000.0);
        double y1 = 0.0, y2 = 0.0;
        for (double& v : x) {
            const double y = v + c * y1 - r * r * y2;
            y2 = y1;
            y1 = y;
            v = y;
        }
    }
    const double peak = std::fabs(*std::max_element(x.begin(), x.end(), [](double a, double b) {
        return std::fabs(a) < std::fabs(b);
    }));
    std::vector<int16_t> pcm(static_cast<size_t>(samples));
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = int16_t(std::lround(x[i] / peak * 12000.0));
    return pcm;
}

KELVANE_DATA rawInput(std::vector<int16_t>& pcm, std::vector<uint8_t>& out) {
    KELVANE_DATA kd;
    std::memset(&kd, 0, sizeof kd);
    kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
    kd.fWarpedLengthFactor = 1.0f;
    kd.dwInputType = kRawPcmBuffer;
    kd.dwInputSamplingRate = 8000;
    kd.wInputBytesPerSample = 2;
    kd.lpInputLocation = pcm.data();
    kd.dwInputSize = uint32_t(pcm.size() * 2);
    out.assign(pcm.size() * 2 + 4096, 0);
    kd.dwOutputType = kWaveZefBuffer;
    kd.lpOutputLocation = out.data();
    kd.dwOutputSize = uint32_t(out.size());
    return kd;
}

std::vector<int16_t> decode(std::vector<uint8_t> zef) {
    KELVANE_DATA kd;
    std::memset(&kd, 0, sizeof kd);
    kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
    kd.fWarpedLengthFactor = 1.0f;
    kd.dwInputType = kWaveZefBuffer;
    kd.lpInputLocation = zef.data();
    kd.dwInputSize = uint32_t(zef.size());
    std::vector<int16_t> pcm(100000);
    kd.dwOutputType = kRawPcmBuffer;
    kd.lpOutputLocation = pcm.data();
    kd.dwOutputSize = uint32_t(pcm.size() * 2);
    EXPECT_EQ(dcmpMirlaneDecompress(&kd), 0);
    pcm.resize(kd.dwOutputBytesUsed / 2);
    return pcm;
}

bool holdsGuisetteChunk(const std::vector<uint8_t>& zef, uint16_t number) {
    const uint8_t chunk[] = {'Z', 'E', 'f', 'G', 2, 0, 0, 0, uint8_t(number), uint8_t(number >> 8)};
    return std::search(zef.begin(), zef.end(), std::begin(chunk), std::end(chunk)) != zef.end();
}

// Fundamental frequency of x by normalised autocorrelation over lags of
// 16..125 samples: the shortest lag whose peak comes within 10 % of the
// best (so that a multiple of the period is not taken), refined by a
// parabola through its neighbours.
double fundamental(const std::vector<int16_t>& x, size_t from, size_t to) {
    auto corr = [&](int lag) {
        double xy = 0, xx = 0, yy = 0;
        for (size_t i = from; i + size_t(lag) < to; ++i) {
            xy += double(x[i]) * x[i + size_t(lag)];
            xx += double(x[i]) * x[i];
            yy += double(x[i + size_t(lag)]) * x[i + size_t(lag)];
        }
        return xx > 0 && yy > 0 ? xy / std::sqrt(xx * yy) : 0.0;
    };
    std::vector<double> r(127, 0.0);
    for (int lag = 15; lag <= 126; ++lag) r[size_t(lag)] = corr(lag);
    const double best = *std::max_element(r.begin() + 16, r.begin() + 126);
    for (int lag = 16; lag <= 125; ++lag) {
        const double a = r[size_t(lag - 1)], b = r[size_t(lag)], c = r[size_t(lag + 1)];
        if (b >= a && b >= c && b >= 0.9 * best) {
            const double shift = (a - 2 * b + c) != 0 ? 0.5 * (a - c) / (a - 2 * b + c) : 0.0;
            return 8000.0 / (lag + shift);
        }
    }
    return 0.0;
}

}  // namespace

TEST_F(GuisetteCompression, SessionNumberLoadsTheTransformationAndIsWrittenToTheFile) {
    std::vector<int16_t> pcm = vowel(120.0, 4000);
    std::vector<uint8_t> out;
    KELVANE_DATA kd = rawInput(pcm, out);
    kd.wGuisette = 105;  // flattened pitch with formants warped
    ASSERT_EQ(cmpZefInit(&kd), 0);
    const ZefControlBlock* cb = controlBlock(&kd);
    EXPECT_EQ(cb->wGuisette, 105);
    EXPECT_EQ(cb->guisette.type, 6);
    EXPECT_EQ(cb->guisette.warpOn, 1);
    EXPECT_EQ(static_cast<orvo::OrvoEncoder*>(cb->lpCodecState)->guisette, &cb->guisette);
    ASSERT_EQ(cmpZefConvert(&kd), 0);
    size_t used = kd.dwOutputBytesUsed;
    kd.lpOutputLocation = out.data() + used;
    kd.dwOutputSize = uint32_t(out.size() - used);
    kd.dwOutputBytesUsed = 0;
    ASSERT_EQ(cmpZefFree(&kd), 0);
    EXPECT_EQ(kd.lpControlBlock, nullptr);
    out.resize(used + kd.dwOutputBytesUsed);
    EXPECT_TRUE(holdsGuisetteChunk(out, 105));
    EXPECT_GT(decode(out).size(), 3000u);
}

// Without a Guisette the encoder still reads the session's state (type 0,
// no change), so one chosen later in the session reaches the frames.
TEST_F(GuisetteCompression, PelnEncoderReadsTheSessionsState) {
    std::vector<int16_t> pcm = vowel(120.0, 1800);
    std::vector<uint8_t> out;
    KELVANE_DATA kd = rawInput(pcm, out);
    kd.dwCompressionSettings = KELVANE_CODEC_PELN_HQ;
    ASSERT_EQ(cmpZefInit(&kd), 0);
    ZefControlBlock* cb = controlBlock(&kd);
    EXPECT_EQ(cb->guisette.type, 0);
    EXPECT_EQ(static_cast<peln::PelnEncoder*>(cb->lpCodecState)->guisette, &cb->guisette);
    ASSERT_EQ(zefSetGuisette(&kd, 504), 0);
    EXPECT_EQ(cb->guisette.type, 6);
    EXPECT_EQ(cmpMirlaneCleanup(&kd), 0);
}

TEST_F(GuisetteCompression, UnknownNumberFailsTheSetUp) {
    std::vector<int16_t> pcm = vowel(120.0, 1800);
    std::vector<uint8_t> out;
    KELVANE_DATA kd = rawInput(pcm, out);
    kd.wGuisette = 999;
    EXPECT_EQ(cmpMirlaneCompress(&kd), ZEFERR_GUII_UNKNOWN_GUISETTE);
    EXPECT_EQ(kd.dwSecondaryError, 999u);
    EXPECT_EQ(kd.lpControlBlock, nullptr);  // nothing left attached
}

// The encoder transposes every frame's pitch by the state's factor: at
// amount 255 ten semitones, so a 120 Hz vowel decodes at 120 * 2^(10/12).
// No catalogue preset is a plain transposition, so the state is set in the
// open session before any frame is coded.
TEST_F(GuisetteCompression, TranspositionAt255RaisesTheDecodedPitchByTenSemitones) {
    std::vector<int16_t> pcm = vowel(120.0, 8000);
    std::vector<uint8_t> out;
    KELVANE_DATA kd = rawInput(pcm, out);
    ASSERT_EQ(cmpZefInit(&kd), 0);
    ASSERT_EQ(SetGuisette(&controlBlock(&kd)->guisette, 4, 255), 0);
    ASSERT_EQ(cmpZefConvert(&kd), 0);
    const size_t used = kd.dwOutputBytesUsed;
    kd.lpOutputLocation = out.data() + used;
    kd.dwOutputSize = uint32_t(out.size() - used);
    kd.dwOutputBytesUsed = 0;
    ASSERT_EQ(cmpZefFree(&kd), 0);
    out.resize(used + kd.dwOutputBytesUsed);

    const std::vector<int16_t> decoded = decode(out);
    ASSERT_GE(decoded.size(), 7000u);
    EXPECT_NEAR(fundamental(pcm, 2000, 7000), 120.0, 1.0);  // the measure itself
    const double expected = 120.0 * std::pow(2.0, 10.0 / 12.0);
    EXPECT_NEAR(fundamental(decoded, 2000, 7000), expected, 0.02 * expected);
}
