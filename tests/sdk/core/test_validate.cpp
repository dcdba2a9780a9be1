// Validation of the caller's structure: which rule speaks first, and with
// which secondary value.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "zefapi.h"

namespace {

constexpr uint32_t kZefWaveBuffer = 0x10201;
constexpr uint32_t kPcmWaveBuffer = 0x10200;
constexpr uint32_t kRawPcmBuffer = 0x20200;
constexpr uint32_t kRawZefBuffer = 0x20201;

KELVANE_DATA validData(uint32_t inputType = kZefWaveBuffer) {
    KELVANE_DATA kd{};
    kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
    kd.dwInputType = inputType;
    kd.dwOutputType = 0x10200;
    kd.fWarpedLengthFactor = 1.0f;
    kd.fAbsolutePitch = 100.0f;
    return kd;
}

struct Outcome {
    uint16_t error;
    uint32_t secondary;
};

Outcome validate(KELVANE_DATA kd) {
    kd.dwSecondaryError = 0xABCDEF;
    const uint16_t err = zef::ValidateKelvaneData(&kd);
    return {err, err ? kd.dwSecondaryError : 0};
}

void expectOutcome(const KELVANE_DATA& kd, uint16_t error, uint32_t secondary = 0) {
    const Outcome got = validate(kd);
    EXPECT_EQ(got.error, error);
    if (error) {
        EXPECT_EQ(got.secondary, secondary);
    }
}

TEST(Validate, StructureSizeAndAttachment) {
    EXPECT_EQ(zef::ValidateKelvaneData(nullptr), ZEFERR_KELVANE_DATA_POINTER_NULL);
    expectOutcome(validData(), 0);

    // An older, smaller structure is taken unchecked, however odd its fields.
    KELVANE_DATA old = validData();
    old.fWarpedLengthFactor = 100.0f;
    old.wReserved = 9;
    int someBlock = 0;
    old.lpControlBlock = &someBlock;
    for (uint16_t size : {uint16_t(147), uint16_t(KELVANE_DATA_OLD_MARK), uint16_t(0)}) {
        old.wSizeOfKelvaneData = size;
        expectOutcome(old, 0);
    }
    KELVANE_DATA big = validData();
    big.wSizeOfKelvaneData = 149;
    expectOutcome(big, ZEFERR_KELVANE_DATA_SIZE, 148);

    // A structure still in use is refused before any field is looked at.
    KELVANE_DATA inUse = validData();
    inUse.lpControlBlock = &someBlock;
    inUse.fWarpedLengthFactor = 100.0f;
    expectOutcome(inUse, ZEFERR_KELVANE_ALREADY_INITIALIZED);
}

TEST(Validate, WarpLimitsAreInclusive) {
    KELVANE_DATA kd = validData();
    for (float warp : {5.0f, 0.2f, 1.0f, std::numeric_limits<float>::quiet_NaN()}) {
        kd.fWarpedLengthFactor = warp;
        expectOutcome(kd, 0);
    }
    kd.fWarpedLengthFactor = 5.0001f;
    expectOutcome(kd, ZEFERR_WARP_2_BIG);
    kd.fWarpedLengthFactor = std::nextafter(0.2f, 0.0f);
    expectOutcome(kd, ZEFERR_WARP_2_SMALL);
    // Effects only matter for coded input.
    KELVANE_DATA pcm = validData(kPcmWaveBuffer);
    pcm.fWarpedLengthFactor = 50.0f;
    pcm.fRelativePitch = 50.0f;
    expectOutcome(pcm, 0);
}

TEST(Validate, OnlyTheSelectedPitchIsChecked) {
    KELVANE_DATA absolute = validData();
    absolute.wUseAbsolutePitch = 1;
    absolute.fRelativePitch = 99.0f;  // not in use
    for (float hz : {70.0f, 400.0f}) {
        absolute.fAbsolutePitch = hz;
        expectOutcome(absolute, 0);
    }
    absolute.fAbsolutePitch = 400.5f;
    expectOutcome(absolute, ZEFERR_ABS_PITCH_2_BIG);
    absolute.fAbsolutePitch = 69.5f;
    expectOutcome(absolute, ZEFERR_ABS_PITCH_2_SMALL);

    KELVANE_DATA relative = validData();
    relative.fAbsolutePitch = 5000.0f;  // not in use
    for (float st : {-24.0f, 24.0f}) {
        relative.fRelativePitch = st;
        expectOutcome(relative, 0);
    }
    relative.fRelativePitch = 24.5f;
    expectOutcome(relative, ZEFERR_REL_PITCH_2_BIG);
    relative.fRelativePitch = -24.5f;
    expectOutcome(relative, ZEFERR_REL_PITCH_2_SMALL);
}

TEST(Validate, SampleSizeBelongsToRawPcmOnly) {
    KELVANE_DATA kd = validData(kPcmWaveBuffer);
    kd.wInputBytesPerSample = 2;
    expectOutcome(kd, ZEFERR_DONT_GIVE_INPUT_SAMPLE_SIZE, 2);
    kd.dwInputType = kRawZefBuffer;
    expectOutcome(kd, ZEFERR_NO_SAMPLE_SIZE_FOR_ZEF, 2);
    kd.dwInputType = kRawPcmBuffer;
    kd.dwInputSamplingRate = 8000;
    expectOutcome(kd, 0);
    kd.wInputBytesPerSample = 3;
    expectOutcome(kd, ZEFERR_INPUT_BYTES_PER_SAMPLE, 3);
    kd.wInputBytesPerSample = 0;
    expectOutcome(kd, ZEFERR_NO_INPUT_SAMPLE_SIZE);

    KELVANE_DATA out = validData();
    for (uint16_t size : {0, 1, 2}) {
        out.wOutputBytesPerSample = size;
        expectOutcome(out, 0);
    }
    out.wOutputBytesPerSample = 4;
    expectOutcome(out, ZEFERR_OUTPUT_BYTES_PER_SAMPLE, 4);
}

TEST(Validate, ReservedWordMustBeZero) {
    KELVANE_DATA kd = validData();
    kd.wReserved = 7;
    expectOutcome(kd, ZEFERR_RESERVED_NOT_ZERO, 7);
}

TEST(Validate, SamplingRatesBelongToRawPcmAndMustBeAccepted) {
    KELVANE_DATA kd = validData();
    kd.dwInputSamplingRate = 8000;
    expectOutcome(kd, ZEFERR_DONT_GIVE_INPUT_SAMPLE_RATE, 8000);
    kd.dwInputType = kRawZefBuffer;
    expectOutcome(kd, ZEFERR_NO_SAMPLE_RATE_FOR_ZEF, 8000);

    KELVANE_DATA raw = validData(kRawPcmBuffer);
    raw.wInputBytesPerSample = 2;
    for (uint32_t rate : zefAcceptedRates) {
        raw.dwInputSamplingRate = rate;
        expectOutcome(raw, 0);
    }
    raw.dwInputSamplingRate = 12000;
    expectOutcome(raw, ZEFERR_BAD_INPUT_SAMPLING_RATE, 12000);
    raw.dwInputSamplingRate = 0;
    expectOutcome(raw, ZEFERR_NO_INPUT_SAMPLING_RATE);

    KELVANE_DATA out = validData();
    out.dwOutputSamplingRate = ZEF_RATE_22254_FIXED;
    expectOutcome(out, 0);
    out.dwOutputSamplingRate = 22254;
    expectOutcome(out, ZEFERR_BAD_OUTPUT_SAMPLING_RATE, 22254);
}

// With several faults at once, the earlier rule decides.
TEST(Validate, RulesRunInOrder) {
    KELVANE_DATA kd = validData(kRawZefBuffer);
    kd.fWarpedLengthFactor = 9.0f;          // rule 4
    kd.wInputBytesPerSample = 2;            // rule 5
    kd.wOutputBytesPerSample = 3;           // rule 6
    kd.wReserved = 1;                       // rule 7
    kd.dwInputSamplingRate = 8000;          // rule 8
    kd.dwOutputSamplingRate = 1;            // rule 9
    expectOutcome(kd, ZEFERR_WARP_2_BIG);
    kd.fWarpedLengthFactor = 1.0f;
    expectOutcome(kd, ZEFERR_NO_SAMPLE_SIZE_FOR_ZEF, 2);
    kd.wInputBytesPerSample = 0;
    expectOutcome(kd, ZEFERR_OUTPUT_BYTES_PER_SAMPLE, 3);
    kd.wOutputBytesPerSample = 0;
    expectOutcome(kd, ZEFERR_RESERVED_NOT_ZERO, 1);
    kd.wReserved = 0;
    expectOutcome(kd, ZEFERR_NO_SAMPLE_RATE_FOR_ZEF, 8000);
    kd.dwInputSamplingRate = 0;
    expectOutcome(kd, ZEFERR_BAD_OUTPUT_SAMPLING_RATE, 1);
}

}  // namespace
