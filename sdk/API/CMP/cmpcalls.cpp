// Building and tearing down a compression session, the one-shot calls and
// the streaming triple.
#include "cmpsession.h"
#include "dcmpsession.h"
#include "engine.h"
#include "guisette.h"
#include "zefapi.h"

namespace zef {
namespace {

constexpr uint32_t kCodecHz = 8000;

bool isEndOfData(uint16_t result) {
    return result == ZEFERR_ENDOFFILE_REACHED || result == ZEFERR_ENDOFBUFFER_REACHED;
}

// Orvo (the default) and Peln are written; every other setting is refused
// before anything is opened.
uint16_t codecTagFor(KELVANE_DATA* kd, uint16_t* tag) {
    const uint32_t setting = kd->dwCompressionSettings;
    if (setting == KELVANE_CODEC_DEFAULT || setting == KELVANE_CODEC_LUMO_8K) {
        *tag = kCodecTagOrvo;
        return 0;
    }
    if (setting == KELVANE_CODEC_PELN_HQ) {
        *tag = kCodecTagPeln;
        return 0;
    }
    return ZEF_ERROR(ZEFERR_CODEC_NOT_AVAILABLE, setting, kd);
}

// The rates a WAVE or AIFF header gives in whole hertz; the two 16.16
// fixed-point rates of the calling interface mean the same as 11127/22254.
uint32_t inputRateHz(uint32_t rate) {
    if (rate == ZEF_RATE_11127_FIXED || rate == ZEF_RATE_22254_FIXED) return rate >> 16;
    return rate;
}

bool acceptedInputRate(uint32_t rate) {
    return isAcceptedRate(rate) || rate == 11127 || rate == 22254 ||
           rate == (ZEF_RATE_11127_FIXED >> 16) || rate == (ZEF_RATE_22254_FIXED >> 16);
}

uint16_t checkInputFormat(KELVANE_DATA* kd, InputVars* in) {
    StreamDesc& d = in->desc;
    if (d.wFormatTag != 0 && d.wFormatTag != kFormatTagPCM && d.wFormatTag != kFormatTagAIFF)
        return ZEF_ERROR(ZEFERR_INVALID_INPUT_TYPE, d.wFormatTag, kd);
    if (d.wBytesPerSample != 1 && d.wBytesPerSample != 2)
        return ZEF_ERROR(ZEFERR_INPUT_BYTES_PER_SAMPLE, d.wBytesPerSample, kd);
    if (d.wChannels == 0 || d.wChannels > 16) return ZEF_ERROR(ZEFERR_INVALID_INPUT_TYPE, d.wChannels, kd);
    if (!acceptedInputRate(d.dwSamplingRate))
        return ZEF_ERROR(ZEFERR_BAD_INPUT_SAMPLING_RATE, d.dwSamplingRate, kd);
    d.dwSamplingRate = inputRateHz(d.dwSamplingRate);
    return 0;
}

// After the input header: the engine, and what the output header needs
// (codec, mono 16-bit at 8000 Hz).
uint16_t brewEncoder(KELVANE_DATA* kd, uint16_t tag) {
    ZefControlBlock* cb = controlBlock(kd);
    InputVars* in = cb->lpInputVars;
    if (uint16_t err = checkInputFormat(kd, in)) return err;
    cb->wChannels = in->desc.wChannels;
    cb->wCodecTag = tag;
    cb->wDirection = kDirectionCompress;
    cb->wMode = kModeCompress;
    // The Guisette's transformation is set before the encoder that reads it
    // is made; an unknown number fails the set-up (606).
    cb->wGuisette = kd->wGuisette;
    if (uint16_t err = InitializeGuisettes(kd, cb)) return err;
    if (uint32_t err = BrewBlackArt(cb)) return ZEF_ERROR(ZEFERR_BREW_BLACK_ART, err, kd);
    cb->dwCodecRate = kCodecHz;
    cb->dwOutputRate = kCodecHz;
    cb->wOutputSampleSize = 2;
    kd->wBitsPerFrame = cb->wFrameBits;
    // The coded stream is mono whatever the input's channels.
    in->desc.wChannels = 1;
    return 0;
}

// A compression session that takes its input from the audio device records.
bool records(const KELVANE_DATA* kd) { return locationOf(kd->dwInputType) == ZEFTYPE_LOCATION_SOUND; }

uint16_t oneShot(KELVANE_DATA* kd) {
    uint16_t result = cmpMirlaneInit(kd, 0);
    if (result == ZEFERR_KELVANE_ALREADY_INITIALIZED) return result;
    if (result == 0) result = CompressBuffer(kd);
    if (result == ZEFERR_ENDOFFILE_REACHED) result = FinishCompression(kd);
    return CloseOneShot(kd, result);
}

uint16_t refreshBuffers(KELVANE_DATA* kd) {
    ZefControlBlock* cb = controlBlock(kd);
    if (!cb) return ZEF_ERROR(ZEFERR_VWD_OR_VCB_IS_NULL, 0, kd);
    if (uint16_t err = checkInput(kd)) return err;
    if (uint16_t err = checkOutput(kd)) return err;
    if (isMemoryLocation(kd->dwInputType)) {
        InputVars* in = cb->lpInputVars;
        if (kd->dwInputBytesUsed > kd->dwInputSize) return ZEF_ERROR(ZEFERR_INPUT_HANDLER, kd->dwInputBytesUsed, kd);
        in->lpBase = static_cast<uint8_t*>(kd->lpInputLocation);
        in->dwTotal = in->dwValid = in->lpBase ? kd->dwInputSize : 0;
        in->dwReadPos = kd->dwInputBytesUsed;
        in->wEOF = 0;
    }
    if (isMemoryLocation(kd->dwOutputType)) {
        OutputVars* out = cb->lpOutputVars;
        if (kd->dwOutputBytesUsed > kd->dwOutputSize)
            return ZEF_ERROR(ZEFERR_OUTPUT_HANDLER, kd->dwOutputBytesUsed, kd);
        out->lpBase = static_cast<uint8_t*>(kd->lpOutputLocation);
        out->dwCapacity = out->lpBase ? kd->dwOutputSize : 0;
        out->dwWritePos = kd->dwOutputBytesUsed;
    }
    return 0;
}

void reportUsed(KELVANE_DATA* kd) {
    ZefControlBlock* cb = controlBlock(kd);
    kd->dwInputBytesUsed = cb->lpInputVars->dwReadPos;
    kd->dwOutputBytesUsed = cb->lpOutputVars->dwWritePos;
}

}  // namespace

uint16_t CloseOneShot(KELVANE_DATA* kd, uint16_t result) {
    // A full output buffer in a one-shot call would lose the rest.
    if (result == ZEFERR_ENDOFBUFFER_REACHED)
        result = ZEF_ERROR(ZEFERR_ENDOFBUFFER_REACHED, controlBlock(kd)->dwFramesProcessed, kd);
    uint16_t closed = controlBlock(kd) ? cmpMirlaneCleanup(kd) : 0;
    if (result == 0 && !isEndOfData(closed)) result = closed;
    if (result == 0) kd->dwSecondaryError = 0;
    return result;
}
}  // namespace zef

using namespace zef;

extern "C" ZEF_ENDPOINT_PROC cmpGetInputProc(uint32_t type) { return cmpGetInputProcInternal(type); }
extern "C" ZEF_ENDPOINT_PROC cmpGetOutputProc(uint32_t type) { return cmpGetOutputProcInternal(type); }

extern "C" uint16_t cmpMirlaneInit(KELVANE_DATA* kd, uint16_t mode) {
    if (uint16_t err = ValidateKelvaneData(kd)) return err;
    if (isZef(kd->dwInputType)) return ZEF_ERROR(ZEFERR_INVALID_INPUT_TYPE, kd->dwInputType, kd);
    if (!isZef(kd->dwOutputType)) return ZEF_ERROR(ZEFERR_INVALID_OUTPUT_TYPE, kd->dwOutputType, kd);
    uint16_t tag = 0;
    if (uint16_t err = codecTagFor(kd, &tag)) return err;
    EndpointHandler input = cmpGetInputProcInternal(kd->dwInputType);
    if (!input) return ZEF_ERROR(ZEFERR_INVALID_INPUT_TYPE, kd->dwInputType, kd);
    EndpointHandler output = cmpGetOutputProcInternal(kd->dwOutputType);
    if (!output) return ZEF_ERROR(ZEFERR_INVALID_OUTPUT_TYPE, kd->dwOutputType, kd);
    if (uint16_t err = NewZefControlBlock(kd)) return err;
    ZefControlBlock* cb = controlBlock(kd);
    cb->lpInputHandler = input;
    if (uint16_t err = input(kd, ZEFMSG_OPEN)) return err;
    if (uint16_t err = brewEncoder(kd, tag)) return err;
    cb->wStatusReported = 1;
    const uint16_t start = records(kd) ? KELVANE_STATUS_RECORD_START : KELVANE_STATUS_COMPRESS_START;
    if (uint16_t answer = reportStatus(kd, start))
        return ZEF_ERROR(ZEFERR_PROCESSING_ABORTED, answer, kd);
    cb->lpOutputHandler = output;
    if (uint16_t err = output(kd, ZEFMSG_OPEN)) return err;
    cb->lpOutputVars->wMode = mode;
    return 0;
}

extern "C" uint16_t cmpMirlaneCleanup(KELVANE_DATA* kd) {
    ZefControlBlock* cb = controlBlock(kd);
    if (!cb) return ZEF_ERROR(ZEFERR_VWD_OR_VCB_IS_NULL, uint32_t(reinterpret_cast<uintptr_t>(kd)), kd);
    uint16_t result = 0;
    if (cb->dwGuard == kControlBlockGuard) {
        if (cb->lpOutputHandler && cb->lpOutputVars) result = cb->lpOutputHandler(kd, ZEFMSG_CLOSE);
        if (cb->lpInputHandler && cb->lpInputVars) {
            uint16_t err = cb->lpInputHandler(kd, ZEFMSG_CLOSE);
            if (!result) result = err;
        }
        FreeCompressSession(cb);
    }
    const bool reported = cb->wStatusReported;
    uint16_t freed = FreeZefControlBlock(kd);
    if (!result) result = freed;
    if (reported) reportStatus(kd, records(kd) ? KELVANE_STATUS_RECORD_END : KELVANE_STATUS_COMPRESS_END);
    return result;
}

extern "C" uint16_t cmpMirlaneCompress(KELVANE_DATA* kd) { return oneShot(kd); }
extern "C" uint16_t cmpFileToZefFile(KELVANE_DATA* kd) { return oneShot(kd); }
extern "C" uint16_t cmpBufferToZefFile(KELVANE_DATA* kd) { return oneShot(kd); }
extern "C" uint16_t cmpFileToZefBuffer(KELVANE_DATA* kd) { return oneShot(kd); }

extern "C" uint16_t cmpZefInit(KELVANE_DATA* kd) {
    if (uint16_t err = cmpMirlaneInit(kd, 1)) return err;
    if (uint16_t err = checkInput(kd)) return err;
    if (uint16_t err = checkOutput(kd)) return err;
    reportUsed(kd);
    return 0;
}

extern "C" uint16_t cmpZefConvert(KELVANE_DATA* kd) {
    if (!kd) return ZEF_ERROR(ZEFERR_VWD_OR_VCB_IS_NULL, 0, kd);
    if (uint16_t err = refreshBuffers(kd)) return err;
    uint16_t result = CompressBuffer(kd);
    if (isEndOfData(result)) result = 0;
    reportUsed(kd);
    return result;
}

// Encodes what is still held (the last frame padded with silence) into the
// output given, then closes the session.
extern "C" uint16_t cmpZefFree(KELVANE_DATA* kd) {
    if (!kd) return ZEF_ERROR(ZEFERR_VWD_OR_VCB_IS_NULL, 0, kd);
    uint16_t result = refreshBuffers(kd);
    if (result == ZEFERR_VWD_OR_VCB_IS_NULL || (result && checkControlBlock(kd))) return result;
    if (result == 0) {
        if (isMemoryLocation(kd->dwInputType)) controlBlock(kd)->lpInputVars->dwValid = 0;
        result = FinishCompression(kd);
        reportUsed(kd);
    }
    uint16_t closed = cmpMirlaneCleanup(kd);
    if (result == 0 && !isEndOfData(closed)) result = closed;
    return result;
}
