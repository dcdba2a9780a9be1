// The Orvo and Peln encoders against their decoders: the same checks on
// pitch, level, steadiness, silence, LSPs and hostile input for both, then
// what each does of its own.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

#include "codecs.h"
#include "orvo.h"
#include "orvoenc.h"
#include "pelnenc.h"
#include "support.h"

using zeftest::Samples;

namespace {

constexpr size_t kFrame = 180;

// What differs between the two codecs; the checks below are the same.
struct Orvo {
    static constexpr int kFields = zef::orvo::kFieldCount, kVoicing = 0, kPitch = 1, kEnergy = 2;
    static constexpr int kVoiced = 10;  // voicing codes from here on are voiced
    static constexpr float kLspError = 80.0f;
    using Encoder = zef::orvo::OrvoEncoder;
    static Encoder* make() { return zef::orvo::newOrvoEncoder(); }
    static void encode(Encoder* e, const int16_t* pcm, uint8_t* codes) { zef::orvo::encodeOrvoFrame(e, pcm, codes); }
    static void destroy(Encoder* e) { zef::orvo::freeOrvoEncoder(e); }
    static unsigned width(int field) { return zef::orvo::kFieldWidths[field]; }
    static double period(int code) { return 8000.0 / zef::orvo::Q2F0(code); }
    static void start(zef::ZefControlBlock& cb) {
        cb.wCodecTag = zef::orvo::kOrvoTag;
        cb.wSynthesizer = 1;
        zef::initDecodeOrvo(&cb);
        zef::initPackOrvo(&cb);
    }
    static void decode(zef::ZefControlBlock& cb) {
        EXPECT_EQ(zef::unPackOrvo(&cb), 0u);
        EXPECT_EQ(zef::DecodeOrvo(&cb), 0u);
    }
    static size_t produced(const zef::ZefControlBlock& cb) { return cb.wOutputSamples; }
    static void stop(zef::ZefControlBlock& cb) { zef::freeDecodeOrvo(&cb); }
    static void lspRoundTrip(const float* lsp, float* back) {
        int16_t codes[zef::orvo::kLpcOrder];
        zef::orvo::quantiseLsp(lsp, codes);
        zef::orvo::FrameParams frame{};
        zef::orvo::lspdiffdecode34(codes, &frame);
        std::copy(frame.lsp, frame.lsp + zef::orvo::kLpcOrder, back);
    }
};

struct Peln {
    static constexpr int kFields = zef::peln::kFieldCount, kVoicing = 0, kPitch = 1, kEnergy = 15;
    static constexpr int kVoiced = 12;
    static constexpr float kLspError = 80.0f;
    using Encoder = zef::peln::PelnEncoder;
    static Encoder* make() { return zef::peln::newPelnEncoder(); }
    static void encode(Encoder* e, const int16_t* pcm, uint8_t* codes) { zef::peln::encodePelnFrame(e, pcm, codes); }
    static void destroy(Encoder* e) { zef::peln::freePelnEncoder(e); }
    static unsigned width(int field) { return zef::peln::kFieldWidths[field]; }
    static double period(int code) { return zef::peln::LutPitchPeln(code); }
    static void start(zef::ZefControlBlock& cb) {
        cb.wCodecTag = zef::peln::kPelnTag;
        cb.wDropGroup = 1;
        zef::initDecodePeln(&cb);
        zef::initPackPeln(&cb);
    }
    static void decode(zef::ZefControlBlock& cb) {
        EXPECT_EQ(zef::unPackPeln(&cb), 0u);
        EXPECT_EQ(zef::DecodePeln(&cb), 0u);
    }
    static size_t produced(const zef::ZefControlBlock& cb) { return cb.wFrameOutput ? kFrame : 0; }
    static void stop(zef::ZefControlBlock& cb) {
        zef::freeDecodePeln(&cb);
        zef::freePackPeln(&cb);
    }
    static void lspRoundTrip(const float* lsp, float* back) {
        int16_t codes[zef::peln::kLpcOrder];
        zef::peln::quantiseLspPeln(lsp, codes);
        zef::peln::lspdiffdecode34Peln(codes, back);
    }
};

template <class C>
using CodesOf = std::array<uint8_t, C::kFields>;

// Encodes and decodes pcm frame by frame; the codes of each frame too.
template <class C>
Samples roundTrip(const Samples& pcm, std::vector<CodesOf<C>>* codes = nullptr) {
    typename C::Encoder* enc = C::make();
    zef::ZefControlBlock cb{};
    cb.fWarp = 1.0f;
    C::start(cb);
    Samples out, block(900);
    for (size_t f = 0; f + kFrame <= pcm.size(); f += kFrame) {
        CodesOf<C> c{};
        C::encode(enc, pcm.data() + f, c.data());
        for (int k = 0; k < C::kFields; ++k) EXPECT_LT(c[size_t(k)], 1u << C::width(k)) << "field " << k;
        if (codes) codes->push_back(c);
        std::copy(c.begin(), c.end(), cb.bFieldCodes);
        cb.lpOutput = block.data();
        C::decode(cb);
        out.insert(out.end(), block.begin(), block.begin() + long(C::produced(cb)));
    }
    C::stop(cb);
    C::destroy(enc);
    return out;
}

double gainDb(const Samples& out, const Samples& in, size_t from, size_t to) {
    return 20 * std::log10(zeftest::rms(out.data() + from, to - from) / zeftest::rms(in.data() + from, to - from));
}

template <class C>
class Encoders : public ::testing::Test {};
using Codecs = ::testing::Types<Orvo, Peln>;
TYPED_TEST_SUITE(Encoders, Codecs);

TYPED_TEST(Encoders, SteadyVowelKeepsItsPitchAndLevel) {
    for (double f0 : {80.0, 125.0, 200.0}) {  // whole-sample periods: strictly periodic
        SCOPED_TRACE(f0);
        const Samples pcm = zeftest::vowel(40 * kFrame, f0, 6000);
        std::vector<CodesOf<TypeParam>> codes;
        const Samples out = roundTrip<TypeParam>(pcm, &codes);
        ASSERT_GE(out.size(), 30 * kFrame);
        const double period = 8000.0 / f0;
        for (size_t f = 5; f < codes.size(); ++f) {
            EXPECT_GE(codes[f][TypeParam::kVoicing], TypeParam::kVoiced) << "frame " << f;
            EXPECT_NEAR(TypeParam::period(codes[f][TypeParam::kPitch]), period, 0.02 * period) << "frame " << f;
        }
        EXPECT_NEAR(zeftest::measuredPeriod(out, 10 * kFrame, 20 * kFrame), period, 0.02 * period + 0.5);
        EXPECT_NEAR(gainDb(out, pcm, 10 * kFrame, 30 * kFrame), 0.0, 1.5);
    }
}

TYPED_TEST(Encoders, LevelFollowsTheInputOverTheRangeAndStaysSteady) {
    for (double peak : {1000.0, 4000.0, 16000.0}) {
        SCOPED_TRACE(peak);
        const Samples pcm = zeftest::vowel(40 * kFrame, 150, peak);
        std::vector<CodesOf<TypeParam>> codes;
        const Samples out = roundTrip<TypeParam>(pcm, &codes);
        EXPECT_NEAR(gainDb(out, pcm, 10 * kFrame, 35 * kFrame), 0.0, 1.5);
        // The decoded frames overlap; aiming each at the input level alone
        // once made steady input alternate between far-apart codes.
        for (size_t f = 6; f < codes.size(); ++f)
            EXPECT_NEAR(codes[f][TypeParam::kEnergy], codes[f - 1][TypeParam::kEnergy], 1) << "frame " << f;
    }
}

TYPED_TEST(Encoders, SilenceStaysSilentAndSpeechStopsCleanly) {
    std::vector<CodesOf<TypeParam>> codes;
    const Samples out = roundTrip<TypeParam>(Samples(20 * kFrame, 0), &codes);
    for (const auto& c : codes) EXPECT_EQ(c[TypeParam::kEnergy], 0);
    EXPECT_LT(zeftest::rms(out), 2.0);
    // A few frames after speech stops: no burst, no click.
    Samples pcm = zeftest::vowel(20 * kFrame, 150, 16000);
    pcm.resize(50 * kFrame, 0);
    const Samples tail = roundTrip<TypeParam>(pcm);
    int peak = 0;
    for (size_t i = 26 * kFrame; i < tail.size(); ++i) peak = std::max(peak, std::abs(int(tail[i])));
    EXPECT_LT(peak, 100);
}

TYPED_TEST(Encoders, LspsComeBackWithinAStep) {
    const float lsp[10] = {250, 420, 800, 1250, 1600, 2050, 2400, 2800, 3250, 3600};
    float back[10];
    TypeParam::lspRoundTrip(lsp, back);
    for (int k = 0; k < 10; ++k) EXPECT_NEAR(back[k], lsp[k], TypeParam::kLspError) << k;
}

// Full-scale square, DC, clipped and random input: every code fits its
// field (roundTrip checks) and the decoder still gives frames.
TYPED_TEST(Encoders, HostileInputGivesValidCodes) {
    Samples square(20 * kFrame), dc(20 * kFrame, 32767), clipped = zeftest::vowel(20 * kFrame, 150, 90000);
    for (size_t i = 0; i < square.size(); ++i) square[i] = (i / 20) % 2 ? 32767 : -32768;
    for (const Samples& in : {square, dc, clipped, zeftest::noise(20 * kFrame, 32767)})
        EXPECT_GE(roundTrip<TypeParam>(in).size(), 15 * kFrame);
}

}  // namespace
