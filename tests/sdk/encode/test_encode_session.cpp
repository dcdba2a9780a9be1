// The compression session: WAVE and raw input give the same coded stream,
// the stream decodes, and bad input gives errors or valid files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "mirlane.h"

namespace {

std::vector<int16_t> tone(int samples, double hz, double amplitude) {
    std::vector<int16_t> x(samples);
    for (int i = 0; i < samples; ++i) x[i] = int16_t(std::lround(amplitude * std::sin(2 * M_PI * hz * i / 8000.0)));
    return x;
}

void put32(std::vector<uint8_t>& b, uint32_t v) { for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i))); }
void put16(std::vector<uint8_t>& b, uint16_t v) { b.push_back(uint8_t(v)); b.push_back(uint8_t(v >> 8)); }
void tag(std::vector<uint8_t>& b, const char* t) { for (int i = 0; i < 4; ++i) b.push_back(uint8_t(t[i])); }

std::vector<uint8_t> wave(const std::vector<int16_t>& pcm, uint32_t rate) {
    std::vector<uint8_t> b;
    tag(b, "RIFF"); put32(b, uint32_t(36 + 2 * pcm.size())); tag(b, "WAVE");
    tag(b, "fmt "); put32(b, 16); put16(b, 1); put16(b, 1); put32(b, rate); put32(b, rate * 2); put16(b, 2); put16(b, 16);
    tag(b, "data"); put32(b, uint32_t(2 * pcm.size()));
    for (int16_t s : pcm) put16(b, uint16_t(s));
    return b;
}

KELVANE_DATA fresh() {
    KELVANE_DATA kd;
    std::memset(&kd, 0, sizeof kd);
    kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
    kd.fWarpedLengthFactor = 1.0f;
    return kd;
}

// Compresses a buffer into a buffer; returns the error and the bytes.
uint16_t compress(std::vector<uint8_t> in, uint32_t inType, std::vector<uint8_t>* out, uint32_t rawRate = 0,
                  uint32_t outType = 0x10201, uint32_t settings = 0) {
    KELVANE_DATA kd = fresh();
    kd.dwInputType = inType;
    kd.lpInputLocation = in.data();
    kd.dwInputSize = uint32_t(in.size());
    if (rawRate) {
        kd.dwInputSamplingRate = rawRate;
        kd.wInputBytesPerSample = 2;
    }
    kd.dwCompressionSettings = settings;
    out->assign(in.size() + 4096, 0);
    kd.dwOutputType = outType;
    kd.lpOutputLocation = out->data();
    kd.dwOutputSize = uint32_t(out->size());
    uint16_t err = cmpMirlaneCompress(&kd);
    out->resize(err ? 0 : kd.dwOutputBytesUsed);
    return err;
}

std::vector<int16_t> decode(std::vector<uint8_t> zef, uint32_t type = 0x10201) {
    KELVANE_DATA kd = fresh();
    kd.dwInputType = type;
    kd.wOutputBytesPerSample = 2;  // a packet header says 1
    kd.lpInputLocation = zef.data();
    kd.dwInputSize = uint32_t(zef.size());
    std::vector<int16_t> pcm(200000);
    kd.dwOutputType = 0x20200;
    kd.lpOutputLocation = pcm.data();
    kd.dwOutputSize = uint32_t(pcm.size() * 2);
    EXPECT_EQ(dcmpMirlaneDecompress(&kd), 0);
    pcm.resize(kd.dwOutputBytesUsed / 2);
    return pcm;
}

uint32_t le32At(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

constexpr size_t kRawHeader = 56;  // "ZEF!" chunk and the "ZEFd" head

}  // namespace

TEST(CompressSession, WaveAndRawOfTheSameSamplesGiveTheSameStream) {
    auto pcm = tone(8000, 300, 5000);
    std::vector<uint8_t> fromWave, fromRaw;
    ASSERT_EQ(compress(wave(pcm, 8000), 0x10201 & ~1u, &fromWave), 0);
    std::vector<uint8_t> raw(pcm.size() * 2);
    std::memcpy(raw.data(), pcm.data(), raw.size());
    ASSERT_EQ(compress(raw, 0x20200, &fromRaw, 8000, 0x20201), 0);
    // The chunked header, then 45 frames of 54 bits, the last byte padded.
    const size_t frameBytes = (45u * 54 + 7) / 8;
    ASSERT_EQ(fromRaw.size(), kRawHeader + frameBytes);
    ASSERT_GT(fromWave.size(), frameBytes);
    EXPECT_TRUE(std::equal(fromRaw.begin() + kRawHeader, fromRaw.end(), fromWave.end() - frameBytes));
}

TEST(CompressSession, RawAndPacketOutputDecodeLikeTheWaveOutput) {
    auto pcm = tone(6000, 220, 4000);
    std::vector<uint8_t> raw(pcm.size() * 2);
    std::memcpy(raw.data(), pcm.data(), raw.size());
    for (uint32_t settings : {KELVANE_CODEC_LUMO_8K, KELVANE_CODEC_PELN_HQ}) {
        std::vector<uint8_t> asWave, asRaw, asPacket;
        ASSERT_EQ(compress(raw, 0x20200, &asWave, 8000, 0x10201, settings), 0);
        ASSERT_EQ(compress(raw, 0x20200, &asRaw, 8000, 0x20201, settings), 0);
        ASSERT_EQ(compress(raw, 0x20200, &asPacket, 8000, 0x21101, settings), 0);
        const uint32_t frames = (6000 + 179) / 180;
        const uint16_t codec = settings == KELVANE_CODEC_PELN_HQ ? 5409 : 1284;
        ASSERT_GE(asRaw.size(), kRawHeader);
        EXPECT_EQ(std::string(asRaw.begin(), asRaw.begin() + 4), "ZEF!");
        EXPECT_EQ(asRaw[8] | asRaw[9] << 8, codec);
        EXPECT_EQ(le32At(asRaw, 20), frames);  // rewritten at the end
        EXPECT_EQ(le32At(asRaw, 28), 8000u);
        EXPECT_EQ(std::string(asRaw.begin() + 48, asRaw.begin() + 52), "ZEFd");
        EXPECT_EQ(le32At(asRaw, 52), asRaw.size() - kRawHeader);
        auto fromWave = decode(asWave);
        EXPECT_EQ(fromWave.size(), frames * 180u);
        EXPECT_EQ(decode(asRaw, 0x20201), fromWave);
        EXPECT_EQ(decode(asPacket, 0x21101), fromWave);
    }
}

TEST(CompressSession, RawFileOutputGetsItsFrameCountAtClose) {
    auto pcm = tone(4000, 300, 5000);
    std::vector<uint8_t> wav = wave(pcm, 8000), inMemory;
    ASSERT_EQ(compress(wav, 0x10200, &inMemory, 0, 0x20201), 0);
    const std::string path = ::testing::TempDir() + "cmp_raw_output.zef";
    KELVANE_DATA kd = fresh();
    kd.dwInputType = 0x10200;
    kd.lpInputLocation = wav.data();
    kd.dwInputSize = uint32_t(wav.size());
    kd.dwOutputType = 0x20101;
    kd.lpOutputLocation = const_cast<char*>(path.c_str());
    kd.wCompatibilityHeader = 1;  // a raw stream's own header takes the block's place
    ASSERT_EQ(cmpMirlaneCompress(&kd), 0);
    FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::vector<uint8_t> file(inMemory.size() + 100);
    file.resize(std::fread(file.data(), 1, file.size(), f));
    std::fclose(f);
    EXPECT_EQ(file, inMemory);
    EXPECT_EQ(le32At(file, 20), 23u);

    kd = fresh();
    kd.dwInputType = 0x20101;
    kd.lpInputLocation = const_cast<char*>(path.c_str());
    std::vector<int16_t> out(10000);
    kd.dwOutputType = 0x20200;
    kd.lpOutputLocation = out.data();
    kd.dwOutputSize = uint32_t(out.size() * 2);
    ASSERT_EQ(dcmpMirlaneDecompress(&kd), 0);
    EXPECT_EQ(kd.dwOutputBytesUsed, 23u * 180 * 2);
    std::remove(path.c_str());
}

TEST(CompressSession, CodedWaveDecodesToTheInputLengthAndLevel) {
    for (uint32_t rate : {8000u, 11025u, 16000u, 22050u, 44100u}) {
        const int n = int(rate);  // one second
        std::vector<int16_t> pcm(n);
        for (int i = 0; i < n; ++i) pcm[i] = int16_t(std::lround(6000 * std::sin(2 * M_PI * 250.0 * i / rate)));
        std::vector<uint8_t> zef;
        ASSERT_EQ(compress(wave(pcm, rate), 0x10200, &zef), 0) << rate;
        auto out = decode(zef);
        EXPECT_NEAR(double(out.size()), 8000.0, 180.0) << rate;
        double s = 0;
        for (size_t i = 2000; i < 7000 && i < out.size(); ++i) s += double(out[i]) * out[i];
        EXPECT_NEAR(20 * std::log10(std::sqrt(s / 5000) / (6000 / std::sqrt(2.0))), 0.0, 1.5) << rate;
    }
}

TEST(CompressSession, BadInputGivesErrorsOrValidFiles) {
    std::vector<uint8_t> zef;
    EXPECT_EQ(compress(wave({}, 8000), 0x10200, &zef), 0);      // empty: a valid file without frames
    EXPECT_TRUE(decode(zef).empty());
    EXPECT_EQ(compress(wave(tone(50, 200, 100), 8000), 0x10200, &zef), 0);  // shorter than a frame
    EXPECT_EQ(decode(zef).size(), 180u);
    EXPECT_EQ(compress(wave(tone(800, 200, 100), 12000), 0x10200, &zef), ZEFERR_BAD_INPUT_SAMPLING_RATE);
    EXPECT_EQ(compress(wave(tone(800, 200, 100), 8000), 0x10200, &zef, 0, 0x10201, KELVANE_CODEC_ZEFB_8K),
              ZEFERR_CODEC_NOT_AVAILABLE);
    std::vector<uint8_t> junk(100, 0x55);
    EXPECT_NE(compress(junk, 0x10200, &zef), 0);
    // An output buffer too small for the stream is an error, never a cut file.
    auto pcm = wave(tone(8000, 200, 3000), 8000);
    KELVANE_DATA kd = fresh();
    kd.dwInputType = 0x10200;
    kd.lpInputLocation = pcm.data();
    kd.dwInputSize = uint32_t(pcm.size());
    std::vector<uint8_t> small(100);
    kd.dwOutputType = 0x10201;
    kd.lpOutputLocation = small.data();
    kd.dwOutputSize = uint32_t(small.size());
    EXPECT_NE(cmpMirlaneCompress(&kd), 0);
}

TEST(CompressSession, StreamingGivesTheOneShotStream) {
    auto pcm = tone(4000, 300, 5000);
    std::vector<uint8_t> raw(pcm.size() * 2);
    std::memcpy(raw.data(), pcm.data(), raw.size());
    std::vector<uint8_t> whole;
    ASSERT_EQ(compress(raw, 0x20200, &whole, 8000, 0x20201), 0);

    KELVANE_DATA kd = fresh();
    kd.dwInputType = 0x20200;
    kd.dwInputSamplingRate = 8000;
    kd.wInputBytesPerSample = 2;
    kd.dwOutputType = 0x20201;
    std::vector<uint8_t> out(4096), got;
    kd.lpInputLocation = raw.data();
    kd.dwInputSize = 1000;
    kd.lpOutputLocation = out.data();
    kd.dwOutputSize = 16;
    EXPECT_EQ(cmpZefInit(&kd), ZEFERR_PRIME_TIME);  // no room for the header
    EXPECT_EQ(kd.dwSecondaryError, kRawHeader);
    ASSERT_EQ(cmpMirlaneCleanup(&kd), 0);
    kd.dwOutputSize = kRawHeader;
    kd.dwOutputBytesUsed = 0;
    ASSERT_EQ(cmpZefInit(&kd), 0);
    ASSERT_EQ(kd.dwOutputBytesUsed, kRawHeader);
    got.insert(got.end(), out.begin(), out.begin() + kRawHeader);
    size_t at = kd.dwInputBytesUsed;
    while (at < raw.size()) {
        kd.lpInputLocation = raw.data() + at;
        kd.dwInputSize = uint32_t(std::min<size_t>(333, raw.size() - at));
        kd.dwInputBytesUsed = 0;
        kd.lpOutputLocation = out.data();
        kd.dwOutputSize = 16;  // small: input must wait for room
        kd.dwOutputBytesUsed = 0;
        ASSERT_EQ(cmpZefConvert(&kd), 0);
        at += kd.dwInputBytesUsed;
        got.insert(got.end(), out.begin(), out.begin() + kd.dwOutputBytesUsed);
    }
    kd.lpOutputLocation = out.data();
    kd.dwOutputSize = uint32_t(out.size());
    kd.dwOutputBytesUsed = 0;
    ASSERT_EQ(cmpZefFree(&kd), 0);
    got.insert(got.end(), out.begin(), out.begin() + kd.dwOutputBytesUsed);
    // Pieces handed out cannot get their header back: frame count and data
    // size stay 0 and readers take the frames to the end of the stream.
    ASSERT_EQ(got.size(), whole.size());
    EXPECT_EQ(le32At(got, 20), 0u);
    EXPECT_EQ(le32At(got, 52), 0u);
    EXPECT_TRUE(std::equal(got.begin() + kRawHeader, got.end(), whole.begin() + kRawHeader));
    EXPECT_EQ(decode(got, 0x20201), decode(whole, 0x20201));
}
