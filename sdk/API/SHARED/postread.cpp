// Sample conversion at the file boundary.  WAVE keeps 16-bit samples
// little-endian, AIFF keeps them big-endian and its 8-bit samples signed; in
// memory PCM is host order and 8-bit samples are unsigned.  Bytes are
// converted exactly once, as whole samples counted from the first sample of
// the stream, so a sample split across two reads is converted when its
// second byte arrives.
#include "byteorder.h"
#include "endpoints.h"
#include "zefapi.h"

namespace zef {
namespace {

enum class Conversion { None, Wave16, Aiff16, Aiff8 };

Conversion conversionFor(uint32_t type, uint16_t bytesPerSample) {
    if (isZef(type)) return Conversion::None;
    switch (formatOf(type)) {
        case ZEFTYPE_FORMAT_WAVE:
            return bytesPerSample == 2 ? Conversion::Wave16 : Conversion::None;
        case ZEFTYPE_FORMAT_AIFF:
            if (bytesPerSample == 2) return Conversion::Aiff16;
            return bytesPerSample == 1 ? Conversion::Aiff8 : Conversion::None;
        default:
            return Conversion::None;
    }
}

// Stream offset of the first byte held in the input buffer.
uint32_t bufferStreamOffset(const InputVars* in) {
    if (!in->lpFile) return in->dwStreamOffset;
    uint32_t read = in->lpFile->dwBytesRead;
    return read > in->dwValid ? read - in->dwValid : 0;
}

void flipSigned8(uint8_t* p, size_t count) {
    for (size_t i = 0; i < count; ++i) p[i] = uint8_t(p[i] - 128);
}

uint16_t outputBytesPerSample(const KELVANE_DATA* kd) {
    const ZefControlBlock* cb = controlBlock(const_cast<KELVANE_DATA*>(kd));
    if (cb && cb->wOutputSampleSize) return cb->wOutputSampleSize;
    return kd->wOutputBytesPerSample;
}

}  // namespace

bool inputNeedsConversion(const KELVANE_DATA* kd, const InputVars* in) {
    return conversionFor(kd->dwInputType, in->desc.wBytesPerSample) != Conversion::None;
}

uint16_t PostReadProcess(KELVANE_DATA* kd, InputVars* in, uint32_t newBytesOffset) {
    if (!kd || !in) return ZEF_ERROR(ZEFERR_INVALID_INPUT_VARS, 0, kd);
    if (in->dwGuard != kInputGuard) return ZEF_ERROR(ZEFERR_INVALID_INPUT_VARS, in->dwGuard, kd);
    Conversion c = conversionFor(kd->dwInputType, in->desc.wBytesPerSample);
    if (c == Conversion::None || !in->lpBase) return 0;
    uint32_t base = bufferStreamOffset(in);
    uint32_t dataBegin = in->dwDataStart > base ? in->dwDataStart - base : 0;
    uint32_t begin = newBytesOffset > dataBegin ? newBytesOffset : dataBegin;
    uint32_t end = in->dwValid;
    if (begin >= end) return 0;
    uint8_t* p = in->lpBase;
    if (c == Conversion::Aiff8) {
        flipSigned8(p + begin, end - begin);
        return 0;
    }
    if ((base + begin - in->dwDataStart) & 1u) {
        // The byte before is the first half of this sample, left for now.
        if (begin > dataBegin) --begin;
        else ++begin;
    }
    if (begin >= end) return 0;
    size_t count = (end - begin) / 2;
    if (c == Conversion::Wave16) leSamplesToHost(p + begin, count);
    else beSamplesToHost(p + begin, count);
    return 0;
}

void convertOutput(KELVANE_DATA* kd, OutputVars* out) {
    // A streaming call hands a fresh buffer whose samples start at the
    // position the caller gave; otherwise the record knows what is done.
    bool streaming = isMemoryLocation(kd->dwOutputType) && out->wMode == 1;
    uint32_t from = streaming ? kd->dwOutputBytesUsed : out->dwConverted;
    uint32_t end = out->dwWritePos < out->dwCapacity ? out->dwWritePos : out->dwCapacity;
    uint32_t begin = from < end ? from : end;
    Conversion c = conversionFor(kd->dwOutputType, outputBytesPerSample(kd));
    if (c == Conversion::None || !out->lpBase) {
        out->dwConverted = end;
        return;
    }
    uint8_t* p = out->lpBase;
    if (c == Conversion::Aiff8) {
        flipSigned8(p + begin, end - begin);
        out->dwConverted = end;
        return;
    }
    size_t count = (end - begin) / 2;
    if (c == Conversion::Wave16) hostSamplesToLE(p + begin, count);
    else hostSamplesToBE(p + begin, count);
    out->dwConverted = begin + uint32_t(2 * count);
}

}  // namespace zef
