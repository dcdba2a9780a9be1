// The data endpoint: buffers and files in, buffers and files out, with the
// sample order converted at the file boundary.
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

#include "endpoint_harness.h"

using namespace ept;

namespace {

constexpr uint32_t kWaveFile = 0x10100, kWaveBuffer = 0x10200, kAiffFile = 0x30100, kAiffBuffer = 0x30200;
constexpr uint32_t kRawPcmFile = 0x20100, kZefWaveBuffer = 0x10201, kRawZefFile = 0x20101;

Bytes toneBytes(uint32_t count) {  // host order
    Bytes b(count * 2);
    for (uint32_t n = 0; n < count; ++n) {
        int16_t s = tone(n, 12000);
        std::memcpy(&b[2 * n], &s, 2);
    }
    return b;
}

// Reads the whole input through messages 20, taking uneven pieces.
Bytes readThrough(Session& s, size_t want) {
    Bytes all = s.take();
    const uint32_t pieces[] = {1001, 3, 4095, 7, 2048};
    for (int round = 0; all.size() < want; ++round) {
        uint16_t err = s.read();
        Bytes more = s.take(err ? UINT32_MAX : pieces[round % 5]);  // at the end, what is left
        if (err) {
            EXPECT_EQ(err, ZEFERR_ENDOFFILE_REACHED);
        }
        all.insert(all.end(), more.begin(), more.end());
        if (err || round > 1000) break;
    }
    all.resize(std::min(all.size(), want));
    return all;
}

}  // namespace

TEST(DataInput, BufferIsDescribedThenEndsAt221) {
    Bytes wave = readBytes(dataFile("pcm16_mono.wav"));
    Session s(kWaveBuffer, wave.data(), uint32_t(wave.size()));
    ASSERT_EQ(s.openInput(zef::HandleInputData), 0);
    EXPECT_EQ(s.kd.dwInputSamplingRate, 8000u);
    EXPECT_EQ(s.kd.wInputBytesPerSample, 2);
    EXPECT_EQ(s.cb()->wChannels, 1);
    uint32_t start = s.in()->dwReadPos;
    EXPECT_EQ(s.take(20000), toneBytes(10000));
    EXPECT_EQ(s.read(), ZEFERR_ENDOFFILE_REACHED);
    EXPECT_EQ(s.closeInput(), 0);
    EXPECT_EQ(s.kd.dwInputBytesUsed, start + 20000);
}

struct PieceCase {
    const char* file;
    uint32_t type;
    Bytes expected;
};

class FileInPieces : public ::testing::TestWithParam<int> {};

// Samples come out in host order however the reads split them, for WAVE
// (little-endian), AIFF (big-endian) and AIFF-C 8-bit (signed in the file).
TEST_P(FileInPieces, SamplesArriveInHostOrder) {
    Bytes unsigned8(5513);
    for (uint32_t n = 0; n < unsigned8.size(); ++n) unsigned8[n] = uint8_t(128 + tone(n, 100));
    const PieceCase cases[] = {{"pcm16_mono.wav", kWaveFile, toneBytes(10000)},
                               {"tone16.aiff", kAiffFile, toneBytes(10000)},
                               {"tone8.aifc", kAiffFile, unsigned8}};
    const PieceCase& c = cases[GetParam()];
    std::string name = dataFile(c.file);
    Session s(c.type, name.data());
    ASSERT_EQ(s.openInput(zef::HandleInputData), 0);
    EXPECT_EQ(readThrough(s, c.expected.size()), c.expected);
    EXPECT_EQ(s.closeInput(), 0);
}
INSTANTIATE_TEST_SUITE_P(Formats, FileInPieces, ::testing::Values(0, 1, 2));

TEST(DataInput, AiffBufferIsConvertedWithoutWritingTheCallersBytes) {
    const Bytes original = readBytes(dataFile("tone16.aiff"));
    Bytes aiff = original;
    Session s(kAiffBuffer, aiff.data(), uint32_t(aiff.size()));
    ASSERT_EQ(s.openInput(zef::HandleInputData), 0);
    EXPECT_EQ(s.take(20000), toneBytes(10000));
    EXPECT_EQ(aiff, original);
}

TEST(DataInput, FileEndingAtABufferBoundaryEndsCleanly) {
    ScratchDir scratch;
    std::string name = scratch.path("exact.raw");
    writeBytes(name, toneBytes(zef::kFileBufferSize / 2));
    Session s(kRawPcmFile, name.data());
    s.kd.wInputBytesPerSample = 2;
    s.kd.dwInputSamplingRate = 8000;
    ASSERT_EQ(s.openInput(zef::HandleInputData), 0);
    EXPECT_EQ(s.take().size(), zef::kFileBufferSize);
    EXPECT_EQ(s.read(), ZEFERR_ENDOFFILE_REACHED);  // no bytes left is the end, not a read failure
}

TEST(DataInput, UnconsumedFullBufferReportsTheEnd) {
    std::string name = dataFile("pcm16_mono.wav");
    Session s(kWaveFile, name.data());
    ASSERT_EQ(s.openInput(zef::HandleInputData), 0);
    ASSERT_EQ(s.read(), 0);  // the header is dropped, the buffer filled
    EXPECT_EQ(s.in()->dwValid, zef::kFileBufferSize);
    EXPECT_EQ(s.read(), ZEFERR_ENDOFFILE_REACHED);
}

TEST(DataInput, EmptyFileAndUnknownMessagesAreRefused) {
    ScratchDir scratch;
    std::string name = scratch.path("empty.wav");
    writeBytes(name, {});
    Session s(kWaveFile, name.data());
    EXPECT_EQ(s.openInput(zef::HandleInputData), ZEFERR_READING_FROM_FILE);
    EXPECT_EQ(zef::HandleInputData(&s.kd, ZEFMSG_WRITE), ZEFERR_INPUT_HANDLER);
    EXPECT_EQ(s.kd.dwSecondaryError, uint32_t(ZEFMSG_WRITE));
    EXPECT_EQ(zef::HandleOutputData(&s.kd, ZEFMSG_READ), ZEFERR_OUTPUT_HANDLER);
}

namespace {

// An output session fed by the PCM tone: a decoder's place is taken by
// writing host-order samples at the output record's write position.
struct PcmOutput : ::testing::Test {
    ScratchDir scratch;
    Bytes wave = readBytes(dataFile("pcm16_mono.wav"));
    Session s{kWaveBuffer, wave.data(), uint32_t(wave.size())};
    void SetUp() override { ASSERT_EQ(s.openInput(zef::HandleInputData), 0); }
};

}  // namespace

TEST_F(PcmOutput, WaveBufferGetsLittleEndianSamplesAndFinalSizes) {
    Bytes buffer(4096, 0xEE);
    ASSERT_EQ(s.openOutput(zef::HandleOutputData, kWaveBuffer, buffer.data(), uint32_t(buffer.size())), 0);
    ASSERT_EQ(s.out()->dwHeaderLength, 44u);
    s.produce(toneBytes(500));
    EXPECT_EQ(s.write(), ZEFERR_ENDOFBUFFER_REACHED);
    EXPECT_EQ(s.closeOutput(), 0);
    ASSERT_EQ(s.kd.dwOutputBytesUsed, 1044u);
    EXPECT_EQ(zef::readLE32(&buffer[4]), 1036u);
    EXPECT_EQ(zef::readLE32(&buffer[40]), 1000u);
    for (uint32_t n = 0; n < 500; ++n) ASSERT_EQ(int16_t(zef::readLE16(&buffer[44 + 2 * n])), tone(n, 12000));
    EXPECT_EQ(buffer[1044], 0);  // the rest of the buffer was cleared
}

// Samples converted by a write are not converted again by the final one,
// and a streaming call converts what it produced in the same buffer.
TEST_F(PcmOutput, AiffBufferSamplesAreConvertedExactlyOnce) {
    Bytes buffer(2000);
    ASSERT_EQ(s.openOutput(zef::HandleOutputData, kAiffBuffer, buffer.data(), uint32_t(buffer.size())), 0);
    uint32_t header = s.out()->dwHeaderLength;
    s.produce(toneBytes(100));
    EXPECT_EQ(s.write(), ZEFERR_ENDOFBUFFER_REACHED);
    s.out()->wMode = 1;  // streaming: the caller hands the same buffer again
    s.out()->dwWritePos = header;
    s.kd.dwOutputBytesUsed = header;
    s.produce(toneBytes(100));
    EXPECT_EQ(s.write(), ZEFERR_ENDOFBUFFER_REACHED);
    s.kd.dwOutputBytesUsed = s.out()->dwWritePos;
    EXPECT_EQ(s.closeOutput(), 0);
    for (uint32_t n = 0; n < 100; ++n)
        ASSERT_EQ(int16_t(zef::readBE16(&buffer[header + 2 * n])), tone(n, 12000)) << n;
}

TEST_F(PcmOutput, AiffEightBitSamplesAreSignedInTheFile) {
    Bytes buffer(1000);
    ASSERT_EQ(s.openOutput(zef::HandleOutputData, kAiffBuffer, buffer.data(), uint32_t(buffer.size())), 0);
    s.cb()->wOutputSampleSize = 1;
    uint32_t header = s.out()->dwHeaderLength;
    s.produce({0, 128, 255, 1});
    EXPECT_EQ(s.closeOutput(), 0);
    EXPECT_EQ(Bytes(buffer.begin() + header, buffer.begin() + header + 4), (Bytes{0x80, 0x00, 0x7F, 0x81}));
}

TEST_F(PcmOutput, AiffFileHasBigEndianSamplesAndFinalSizes) {
    std::string name = scratch.path("out.aifc");
    ASSERT_EQ(s.openOutput(zef::HandleOutputData, kAiffFile, name.data()), 0);
    const Bytes samples = toneBytes(6000);  // more than one 8192-byte buffer
    for (uint32_t at = 0; at < samples.size(); at += 4000) {
        s.produce(Bytes(samples.begin() + at, samples.begin() + std::min<size_t>(at + 4000, samples.size())));
        ASSERT_EQ(s.write(), 0);
    }
    s.out()->wEnd = 1;  // the session reached the end of its input
    ASSERT_EQ(s.closeOutput(), 0);
    Bytes file = readBytes(name);
    ASSERT_EQ(file.size(), 86u + 12000u);
    EXPECT_TRUE(zef::isFourcc(file.data(), "FORM"));
    EXPECT_EQ(zef::readBE32(&file[4]), file.size() - 8);
    EXPECT_EQ(zef::readBE32(&file[34]), 6000u);         // sample frames
    EXPECT_EQ(zef::readBE32(&file[74]), file.size() - 78);  // SSND size
    for (uint32_t n = 0; n < 6000; ++n) ASSERT_EQ(int16_t(zef::readBE16(&file[86 + 2 * n])), tone(n, 12000));
}

TEST_F(PcmOutput, FileOfASessionThatDidNotFinishIsRemoved) {
    std::string name = scratch.path("out.wav");
    ASSERT_EQ(s.openOutput(zef::HandleOutputData, kWaveFile, name.data()), 0);
    s.produce(toneBytes(100));
    ASSERT_EQ(s.write(), 0);
    EXPECT_TRUE(std::filesystem::exists(name));
    EXPECT_EQ(s.closeOutput(), 0);
    EXPECT_FALSE(std::filesystem::exists(name));
}

TEST(DataOutput, TheFileBeingReadIsNotOverwritten) {
    ScratchDir scratch;
    std::string name = scratch.path("in.wav");
    const Bytes original = readBytes(dataFile("pcm16_mono.wav"));
    writeBytes(name, original);
    Session s(kWaveFile, name.data());
    ASSERT_EQ(s.openInput(zef::HandleInputData), 0);
    std::string same = scratch.path("./in.wav");
    EXPECT_EQ(s.openOutput(zef::HandleOutputData, kWaveFile, same.data()), ZEFERR_OPENING_OUTPUT_FILE);
    EXPECT_EQ(s.kd.dwSecondaryError, uint32_t(EEXIST));
    s.close();
    EXPECT_EQ(readBytes(name), original);
}

// Coded output packs bits: the byte at the write position is partly filled
// and is carried into the next buffer, and counted at the end.
TEST(DataOutput, PartlyFilledCodedByteIsCarriedAndWrittenAtTheEnd) {
    ScratchDir scratch;
    Bytes zef = readBytes(dataFile("orvo.wav"));
    Session s(kZefWaveBuffer, zef.data(), uint32_t(zef.size()));
    ASSERT_EQ(s.openInput(zef::HandleInputData), 0);
    std::string name = scratch.path("out.zef");
    ASSERT_EQ(s.openOutput(zef::HandleOutputData, kRawZefFile, name.data()), 0);
    s.produce({0x11, 0x22, 0x33});
    s.out()->lpBase[3] = 0x15;
    s.cb()->wBitPosition = 5;
    ASSERT_EQ(s.write(), 0);
    EXPECT_EQ(s.out()->lpBase[0], 0x15);
    s.out()->lpBase[0] |= 0xE0;
    s.out()->dwWritePos = 1;
    s.out()->lpBase[1] = 0x03;
    s.cb()->wBitPosition = 2;
    s.out()->wEnd = 1;
    ASSERT_EQ(s.closeOutput(), 0);
    // after the raw stream's 56-byte "ZEF!" header, padded to whole blocks
    // of the stream (its block alignment is 2)
    const Bytes file = readBytes(name);
    ASSERT_EQ(file.size(), 56u + 6u);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 4), (Bytes{'Z', 'E', 'F', '!'}));
    EXPECT_EQ(Bytes(file.begin() + 56, file.end()), (Bytes{0x11, 0x22, 0x33, 0xF5, 0x03, 0x00}));
    EXPECT_EQ(file[52], 6);  // the "ZEFd" size, written at the end
}
