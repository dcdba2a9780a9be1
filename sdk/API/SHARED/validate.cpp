// Checks on the caller's KELVANE_DATA before a session is built.  The rules
// run in a fixed order and the first one that fails decides the error, so a
// caller always hears about the same field first.
#include "zefapi.h"

namespace zef {
namespace {

bool isRawPCM(uint32_t type) { return formatOf(type) == ZEFTYPE_FORMAT_RAW && !isZef(type); }

// Limits compare as ordered comparisons, so a NaN is not refused here.
uint16_t checkEffects(KELVANE_DATA* kd) {
    if (kd->fWarpedLengthFactor > MAX_WARPED_LENGTH_FACTOR) return ZEF_ERROR(ZEFERR_WARP_2_BIG, 0, kd);
    // The lower warp limit is compared in single precision, so 0.2f itself passes.
    if (kd->fWarpedLengthFactor < float(MIN_WARPED_LENGTH_FACTOR)) return ZEF_ERROR(ZEFERR_WARP_2_SMALL, 0, kd);
    if (kd->wUseAbsolutePitch) {
        if (kd->fAbsolutePitch > MAX_ABSOLUTE_PITCH) return ZEF_ERROR(ZEFERR_ABS_PITCH_2_BIG, 0, kd);
        if (kd->fAbsolutePitch < MIN_ABSOLUTE_PITCH) return ZEF_ERROR(ZEFERR_ABS_PITCH_2_SMALL, 0, kd);
    } else {
        if (kd->fRelativePitch > MAX_RELATIVE_PITCH) return ZEF_ERROR(ZEFERR_REL_PITCH_2_BIG, 0, kd);
        if (kd->fRelativePitch < MIN_RELATIVE_PITCH) return ZEF_ERROR(ZEFERR_REL_PITCH_2_SMALL, 0, kd);
    }
    return 0;
}

// A sample size belongs only to raw (headerless) PCM input, which needs one.
uint16_t checkInputSampleSize(KELVANE_DATA* kd) {
    const uint16_t size = kd->wInputBytesPerSample;
    if (size == 0) return isRawPCM(kd->dwInputType) ? ZEF_ERROR(ZEFERR_NO_INPUT_SAMPLE_SIZE, 0, kd) : 0;
    if (formatOf(kd->dwInputType) != ZEFTYPE_FORMAT_RAW) return ZEF_ERROR(ZEFERR_DONT_GIVE_INPUT_SAMPLE_SIZE, size, kd);
    if (isZef(kd->dwInputType)) return ZEF_ERROR(ZEFERR_NO_SAMPLE_SIZE_FOR_ZEF, size, kd);
    if (size != KELVANE_SAMPLE_SIZE_8BIT && size != KELVANE_SAMPLE_SIZE_16BIT)
        return ZEF_ERROR(ZEFERR_INPUT_BYTES_PER_SAMPLE, size, kd);
    return 0;
}

// Likewise a sampling rate, which must also be one the library accepts.
uint16_t checkInputRate(KELVANE_DATA* kd) {
    const uint32_t rate = kd->dwInputSamplingRate;
    if (rate == 0) return isRawPCM(kd->dwInputType) ? ZEF_ERROR(ZEFERR_NO_INPUT_SAMPLING_RATE, 0, kd) : 0;
    if (formatOf(kd->dwInputType) != ZEFTYPE_FORMAT_RAW) return ZEF_ERROR(ZEFERR_DONT_GIVE_INPUT_SAMPLE_RATE, rate, kd);
    if (isZef(kd->dwInputType)) return ZEF_ERROR(ZEFERR_NO_SAMPLE_RATE_FOR_ZEF, rate, kd);
    if (!isAcceptedRate(rate)) return ZEF_ERROR(ZEFERR_BAD_INPUT_SAMPLING_RATE, rate, kd);
    return 0;
}

}  // namespace

uint16_t ValidateKelvaneData(KELVANE_DATA* kd) {
    if (!kd) return ZEF_ERROR(ZEFERR_KELVANE_DATA_POINTER_NULL, 0, nullptr);
    // Structures of an older, smaller form predate these fields and are taken as they are.
    if (kd->wSizeOfKelvaneData < KELVANE_DATA_VERSION_MARK) return 0;
    if (kd->wSizeOfKelvaneData != KELVANE_DATA_VERSION_MARK)
        return ZEF_ERROR(ZEFERR_KELVANE_DATA_SIZE, KELVANE_DATA_VERSION_MARK, kd);
    if (kd->lpControlBlock) return ZEF_ERROR(ZEFERR_KELVANE_ALREADY_INITIALIZED, 0, kd);
    if (isZef(kd->dwInputType))
        if (uint16_t err = checkEffects(kd)) return err;
    if (uint16_t err = checkInputSampleSize(kd)) return err;
    const uint16_t outSize = kd->wOutputBytesPerSample;
    if (outSize != 0 && outSize != KELVANE_SAMPLE_SIZE_8BIT && outSize != KELVANE_SAMPLE_SIZE_16BIT)
        return ZEF_ERROR(ZEFERR_OUTPUT_BYTES_PER_SAMPLE, outSize, kd);
    if (kd->wReserved != 0) return ZEF_ERROR(ZEFERR_RESERVED_NOT_ZERO, kd->wReserved, kd);
    if (uint16_t err = checkInputRate(kd)) return err;
    if (kd->dwOutputSamplingRate != 0 && !isAcceptedRate(kd->dwOutputSamplingRate))
        return ZEF_ERROR(ZEFERR_BAD_OUTPUT_SAMPLING_RATE, kd->dwOutputSamplingRate, kd);
    return 0;
}

}  // namespace zef
