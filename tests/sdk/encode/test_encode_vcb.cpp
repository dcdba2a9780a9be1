// Voice activity and automatic gain in front of the encoders: the decision
// follows a tone burst between quiet passages, inactive frames become
// silence only when a threshold is set, the gain lifts quiet speech toward
// its target without ever clipping, and the attributes reach the session.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "mirlane.h"
#include "vcbblock.h"
#include "zefinternal.h"

namespace {

constexpr int kFrame = 180;
using Frame = std::vector<int16_t>;

Frame noiseFrame(std::mt19937& rng, int amplitude) {
    std::uniform_int_distribution<int> d(-amplitude, amplitude);
    Frame f(kFrame);
    for (int16_t& s : f) s = int16_t(d(rng));
    return f;
}

Frame toneFrame(int index, double amplitude) {
    Frame f(kFrame);
    for (int i = 0; i < kFrame; ++i) f[i] = int16_t(std::lround(amplitude * std::sin(2 * M_PI * 440.0 * (index * kFrame + i) / 8000.0)));
    return f;
}

// Voiced speech-like sound: harmonics of 120 Hz under a 4 Hz syllable
// envelope, at `db` dBFS on average.
std::vector<int16_t> speechLike(int samples, double db) {
    std::vector<double> x(samples);
    double power = 0;
    for (int i = 0; i < samples; ++i) {
        const double t = i / 8000.0;
        double v = 0;
        for (int h = 1; h <= 12; ++h) v += std::sin(2 * M_PI * 120.0 * h * t + h) / h;
        x[i] = v * (0.25 + 0.75 * std::fabs(std::sin(2 * M_PI * 2.0 * t)));
        power += x[i] * x[i];
    }
    const double scale = 32768.0 * std::pow(10.0, db / 20.0) / std::sqrt(power / samples);
    std::vector<int16_t> out(samples);
    for (int i = 0; i < samples; ++i) out[i] = int16_t(std::lround(x[i] * scale));
    return out;
}

struct Vcb {
    zef::ZefControlBlock cb{};
    zef::vcb_com_blk state{};
    bool run(Frame& f) {
        zef::VcbProcessFrame(&cb, &state, f.data(), kFrame);
        return cb.dwVadDecision == 1;
    }
};

double levelDb(const std::vector<int16_t>& x, size_t from, size_t to) {
    return zef::VcbFrameLevel(x.data() + from, int(to - from));
}

}  // namespace

TEST(VoiceActivity, FlagsAToneBurstAndNotTheQuietAroundIt) {
    for (uint32_t threshold : {0u, 9u}) {
        std::mt19937 rng(7);
        Vcb v;
        v.cb.dwVadThreshold = threshold;
        std::vector<bool> active;
        std::vector<bool> silenced;
        for (int n = 0; n < 44 + 22 + 66; ++n) {
            const bool burst = n >= 44 && n < 66;
            Frame f = burst ? toneFrame(n, 3000) : noiseFrame(rng, 30);  // about -23 and -66 dBFS
            const Frame before = f;
            active.push_back(v.run(f));
            const bool zero = std::all_of(f.begin(), f.end(), [](int16_t s) { return s == 0; });
            silenced.push_back(zero);
            if (!zero) {
                EXPECT_EQ(f, before) << n;  // active frames pass untouched
            }
        }
        for (int n = 0; n < 44; ++n) EXPECT_FALSE(active[n]) << threshold << " frame " << n;
        for (int n = 44; n < 66; ++n) EXPECT_TRUE(active[n]) << threshold << " frame " << n;
        for (int n = 66; n < 74; ++n) EXPECT_TRUE(active[n]) << "hangover " << n;
        for (int n = 74; n < 132; ++n) EXPECT_FALSE(active[n]) << threshold << " frame " << n;
        // Without a threshold the decision is only reported.
        for (int n = 0; n < 132; ++n) EXPECT_EQ(silenced[n], threshold && !active[n]) << threshold << " frame " << n;
    }
}

TEST(VoiceActivity, SensitivitySetsTheHangoverAndSteadyNoiseBecomesTheFloor) {
    std::mt19937 rng(8);
    Vcb v;
    v.cb.dwVadThreshold = 6;
    v.cb.dwVadSensitivity = 2;
    for (int n = 0; n < 10; ++n) {
        Frame f = toneFrame(n, 3000);
        EXPECT_TRUE(v.run(f));
    }
    std::vector<bool> after;
    for (int n = 0; n < 4; ++n) {
        Frame f = noiseFrame(rng, 30);
        after.push_back(v.run(f));
    }
    EXPECT_EQ(after, (std::vector<bool>{true, true, false, false}));
    // Noise far above the starting floor is speech at first, then the floor
    // follows it within the two-second window.
    int activeLate = 0;
    for (int n = 0; n < 200; ++n) {
        Frame f = noiseFrame(rng, 2000);
        const bool a = v.run(f);
        if (n >= 100) activeLate += a;
    }
    EXPECT_EQ(activeLate, 0);
}

TEST(AutomaticGain, LiftsQuietSpeechTowardTheTargetWithoutClipping) {
    const std::vector<int16_t> quiet = speechLike(8000 * 4, -40.0);
    Vcb off, on;
    on.cb.wAgcModeSet = 1;
    on.cb.iAgcMode = 0;  // -18 dBFS
    off.cb.iAgcMode = 0;  // never set: off
    std::vector<int16_t> lifted, untouched;
    for (size_t at = 0; at + kFrame <= quiet.size(); at += kFrame) {
        Frame a(quiet.begin() + at, quiet.begin() + at + kFrame), b = a;
        on.run(a);
        off.run(b);
        lifted.insert(lifted.end(), a.begin(), a.end());
        untouched.insert(untouched.end(), b.begin(), b.end());
    }
    EXPECT_TRUE(std::equal(untouched.begin(), untouched.end(), quiet.begin()));
    EXPECT_EQ(off.cb.dwAgcValue, 0u);
    // The gain is capped at +20 dB: -40 dBFS comes up to about -20.
    const double late = levelDb(lifted, lifted.size() - 8000, lifted.size());
    EXPECT_NEAR(late, -20.0, 1.5);
    EXPECT_NEAR(on.cb.dwAgcValue, 2560.0, 30.0);
    // Rising slowly: the first quarter second is still near the input.
    EXPECT_LT(levelDb(lifted, 0, 2000), -33.0);

    // A loud passage after the gain has risen: never clipped, gain falls.
    const std::vector<int16_t> loud = speechLike(8000, -3.0);
    int peak = 0;
    for (size_t at = 0; at + kFrame <= loud.size(); at += kFrame) {
        Frame a(loud.begin() + at, loud.begin() + at + kFrame);
        on.run(a);
        for (int16_t s : a) peak = std::max(peak, std::abs(int(s)));
    }
    EXPECT_LE(peak, int(0.98 * 32767) + 1);
    EXPECT_LT(on.cb.dwAgcValue, 256u);  // now attenuating toward -18 dBFS
}

TEST(AutomaticGain, TargetFollowsTheModeAndInactiveFramesKeepTheGain) {
    Vcb v;
    v.cb.wAgcModeSet = 1;
    v.cb.iAgcMode = 30;  // -30 dBFS
    const std::vector<int16_t> x = speechLike(8000 * 3, -36.0);
    std::vector<int16_t> y;
    for (size_t at = 0; at + kFrame <= x.size(); at += kFrame) {
        Frame a(x.begin() + at, x.begin() + at + kFrame);
        v.run(a);
        y.insert(y.end(), a.begin(), a.end());
    }
    EXPECT_NEAR(levelDb(y, y.size() - 8000, y.size()), -30.0, 1.5);
    const uint32_t gain = v.cb.dwAgcValue;
    v.cb.dwAgcValue = 0;
    Frame silence(kFrame, 0);
    v.run(silence);
    EXPECT_EQ(v.cb.dwAgcValue, gain);  // below the gate: unchanged
    v.cb.iAgcMode = -1;
    v.cb.dwAgcValue = 0;
    Frame f(x.begin(), x.begin() + kFrame), g = f;
    v.run(f);
    EXPECT_EQ(f, g);
    EXPECT_EQ(v.cb.dwAgcValue, 0u);
}

namespace {

KELVANE_DATA rawSession(std::vector<int16_t>& pcm, std::vector<uint8_t>& out) {
    KELVANE_DATA kd;
    std::memset(&kd, 0, sizeof kd);
    kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
    kd.fWarpedLengthFactor = 1.0f;
    kd.dwInputType = 0x20200;
    kd.dwInputSamplingRate = 8000;
    kd.wInputBytesPerSample = 2;
    kd.lpInputLocation = pcm.data();
    kd.dwInputSize = uint32_t(pcm.size() * 2);
    kd.dwOutputType = 0x20201;
    out.assign(pcm.size() + 4096, 0);
    kd.lpOutputLocation = out.data();
    kd.dwOutputSize = uint32_t(out.size());
    return kd;
}

uint16_t setAttr(KELVANE_DATA* kd, uint32_t id, uint32_t value) {
    KELVANE_ATTRIBUTE a{id, 0.0f, value};
    return utilMirlaneSetAttribute(kd, &a);
}

uint32_t getAttr(KELVANE_DATA* kd, uint32_t id, uint16_t* err = nullptr) {
    KELVANE_ATTRIBUTE a{id, 0.0f, 0};
    uint16_t e = utilMirlaneGetAttribute(kd, &a);
    if (err) *err = e;
    return a.dwValue;
}

struct Trace {
    std::vector<uint32_t> decisions;
    std::vector<uint32_t> gains;
};

uint16_t traceFrames(uint16_t, uint16_t status, void* data) {
    auto* kd = static_cast<KELVANE_DATA*>(data);
    if (status != KELVANE_STATUS_FRAME) return 0;
    auto* t = reinterpret_cast<Trace*>(kd->dwUserData);
    t->decisions.push_back(getAttr(kd, KELVANE_ATTR_VAD_DECISION));
    t->gains.push_back(getAttr(kd, KELVANE_ATTR_AGC_VALUE));
    return 0;
}

// Compresses with the attributes given after initialisation; returns the
// coded stream and what each frame reported.
std::vector<uint8_t> compress(std::vector<int16_t> pcm, const std::vector<std::pair<uint32_t, uint32_t>>& attrs,
                              Trace* trace) {
    std::vector<uint8_t> out;
    KELVANE_DATA kd = rawSession(pcm, out);
    kd.lpCallback = traceFrames;
    kd.dwUserData = reinterpret_cast<uintptr_t>(trace);
    EXPECT_EQ(cmpZefInit(&kd), 0);
    for (auto [id, value] : attrs) EXPECT_EQ(setAttr(&kd, id, value), 0);
    const uint32_t header = kd.dwOutputBytesUsed;
    kd.dwInputBytesUsed = 0;
    EXPECT_EQ(cmpZefConvert(&kd), 0);
    const uint32_t used = kd.dwOutputBytesUsed;
    kd.lpOutputLocation = out.data() + used;
    kd.dwOutputSize = uint32_t(out.size() - used);
    kd.dwOutputBytesUsed = 0;
    EXPECT_EQ(cmpZefFree(&kd), 0);
    out.resize(used + kd.dwOutputBytesUsed);
    EXPECT_GE(out.size(), header);
    return out;
}

}  // namespace

TEST(CompressVcb, AttributesReachTheSessionAndOffChangesNothing) {
    std::mt19937 rng(3);
    std::vector<int16_t> pcm;
    for (int n = 0; n < 120; ++n) {
        Frame f = n >= 40 && n < 70 ? toneFrame(n, 3000) : noiseFrame(rng, 30);
        pcm.insert(pcm.end(), f.begin(), f.end());
    }
    Trace plain, explicitOff, vad, agc;
    const auto base = compress(pcm, {}, &plain);
    EXPECT_EQ(compress(pcm, {{KELVANE_ATTR_VAD_THRESHOLD, 0}, {KELVANE_ATTR_AGC_MODE, uint32_t(-1)}}, &explicitOff),
              base);
    ASSERT_EQ(plain.decisions.size(), 120u);
    EXPECT_EQ(plain.decisions[10], 0u);  // reported though nothing is silenced
    EXPECT_EQ(plain.decisions[50], 1u);
    EXPECT_EQ(plain.gains[50], 0u);

    const auto silenced = compress(pcm, {{KELVANE_ATTR_VAD_THRESHOLD, 9}, {KELVANE_ATTR_VAD_SENSITIVITY, 4}}, &vad);
    EXPECT_NE(silenced, base);
    ASSERT_EQ(vad.decisions.size(), 120u);
    EXPECT_EQ(vad.decisions[50], 1u);
    EXPECT_EQ(vad.decisions[72], 1u);  // hangover of 4
    EXPECT_EQ(vad.decisions[75], 0u);

    compress(pcm, {{KELVANE_ATTR_AGC_MODE, 0}}, &agc);
    EXPECT_GT(agc.gains[50], 256u);
    EXPECT_GE(agc.gains.back(), 256u);
}

TEST(CompressVcb, AttributeRoundTrips) {
    std::vector<int16_t> pcm(1800, 0);
    std::vector<uint8_t> out;
    KELVANE_DATA kd = rawSession(pcm, out);
    uint16_t err = 0;
    EXPECT_EQ(setAttr(&kd, KELVANE_ATTR_VAD_THRESHOLD, 12), 65535);  // needs a session
    ASSERT_EQ(cmpZefInit(&kd), 0);
    EXPECT_EQ(setAttr(&kd, KELVANE_ATTR_VAD_THRESHOLD, 12), 0);
    EXPECT_EQ(setAttr(&kd, KELVANE_ATTR_VAD_SENSITIVITY, 5), 0);
    EXPECT_EQ(setAttr(&kd, KELVANE_ATTR_AGC_MODE, 20), 0);
    EXPECT_EQ(getAttr(&kd, KELVANE_ATTR_VAD_THRESHOLD), 12u);
    EXPECT_EQ(getAttr(&kd, KELVANE_ATTR_VAD_SENSITIVITY), 5u);
    getAttr(&kd, KELVANE_ATTR_AGC_MODE, &err);
    EXPECT_EQ(err, ZEFERR_UNKNOWN_ATTRIBUTE);
    EXPECT_EQ(setAttr(&kd, KELVANE_ATTR_VAD_DECISION, 1), ZEFERR_UNKNOWN_ATTRIBUTE);
    EXPECT_EQ(setAttr(&kd, KELVANE_ATTR_AGC_VALUE, 1), ZEFERR_UNKNOWN_ATTRIBUTE);
    auto* cb = static_cast<zef::ZefControlBlock*>(kd.lpControlBlock);
    cb->dwAgcValue = 300;
    EXPECT_EQ(getAttr(&kd, KELVANE_ATTR_AGC_VALUE), 300u);
    EXPECT_EQ(getAttr(&kd, KELVANE_ATTR_AGC_VALUE), 0u);  // read once
    kd.dwOutputBytesUsed = 0;
    EXPECT_EQ(cmpZefFree(&kd), 0);
}
