// Building and tearing down a decompression session.
#include <cerrno>
#include <cmath>
#include <cstdio>

#include "dcmpsession.h"
#include "engine.h"
#include "guisette.h"
#include "playback.h"
#include "zefapi.h"

namespace zef {
namespace {

// Built-in Guisette previews: the input location names a preview number.
uint16_t resolvePreview(KELVANE_DATA* kd) {
    APIGlobals* globals = nullptr;
    if (uint16_t err = GetAPIGlobals(&globals)) return err;
    uint16_t wanted = uint16_t(reinterpret_cast<uintptr_t>(kd->lpInputLocation) & 0xFFFF);
    for (uint16_t i = 0; i < globals->wPreviews; ++i) {
        const PreviewRecord& p = globals->lpPreviews[i];
        if (p.guisetteId != wanted) continue;
        kd->dwInputType = ZEFTYPE_FORMAT_WAVE | ZEFTYPE_LOCATION_BUFFER | ZEFTYPE_QUALIFIER_ZEF;
        kd->lpInputLocation = const_cast<uint8_t*>(p.data);
        kd->dwInputSize = p.size;
        kd->dwInputBytesUsed = 0;
        return 0;
    }
    return ZEFERR_PREVIEW_NOT_FOUND;
}

// A marker request asks for a segment of a coded file: position the input
// at its start and stop reading at its end.
uint16_t applyMarkerRequest(KELVANE_DATA* kd, ZefControlBlock* cb) {
    const auto* req = static_cast<const KELVANE_MARKER_REQUEST*>(kd->lpMarker);
    if (req->dwSelector != 1) return ZEF_ERROR(ZEFERR_INVALID_MARKER_SELECTOR, req->dwSelector, kd);
    if (req->dwSize != ZEF_MARKER_REQUEST_SIZE)
        return ZEF_ERROR(ZEFERR_INVALID_MARKER_SIZEOF, ZEF_MARKER_REQUEST_SIZE, kd);
    InputVars* in = cb->lpInputVars;
    cb->wBitPosition = uint16_t(req->dwBitPosition & 7);
    uint32_t dataStart = in->dwReadPos;  // the first frame, as an offset from the start of the file
    in->dwStartByte = dataStart + req->dwStartByte;
    in->dwEndByte = req->dwEndByte ? dataStart + req->dwEndByte : 0;
    FileRecord* file = in->lpFile;
    if (!file || !file->lpStream) return 0;
    if (std::fseek(file->lpStream, long(in->dwStartByte), SEEK_SET) != 0)
        return ZEF_ERROR(ZEFERR_FAILED_SEEK_TO_MARKER, uint32_t(errno), kd);
    std::clearerr(file->lpStream);
    file->wEOF = 0;
    file->dwValid = 0;
    file->dwBytesRead = in->dwStartByte;
    in->wEOF = 0;
    in->dwValid = 0;
    in->dwReadPos = 0;
    uint16_t err = cb->lpInputHandler(kd, ZEFMSG_READ);
    if (err == ZEFERR_ENDOFFILE_REACHED || (err == 0 && in->dwValid == 0))
        return ZEF_ERROR(ZEFERR_READING_FROM_FILE, uint32_t(errno), kd);
    return err;
}

// Two accepted rates come as 16.16 fixed-point numbers (11127.27 and
// 22254.55 Hz).  The engine works in whole hertz, so they become 11127 and
// 22254 Hz; taken as they stand no resampler could serve them.
uint32_t rateInHz(uint32_t rate) {
    if (rate == ZEF_RATE_11127_FIXED || rate == ZEF_RATE_22254_FIXED) return rate >> 16;
    return rate;
}

bool markersApply(const KELVANE_DATA* kd) {
    if (!kd->lpMarker) return false;
    uint32_t loc = locationOf(kd->dwInputType);
    return loc != ZEFTYPE_LOCATION_BUFFER && loc != ZEFTYPE_LOCATION_FUNCTION && loc != ZEFTYPE_LOCATION_PACKET;
}

}  // namespace

uint16_t reportStatus(KELVANE_DATA* kd, uint16_t status) {
    if (kd->wSizeOfKelvaneData >= KELVANE_DATA_VERSION_MARK) kd->dwStatus = status;
    return kd->lpCallback ? kd->lpCallback(0, status, kd) : 0;
}

uint16_t InitZefControlBlock(KELVANE_DATA* kd, uint16_t mode) {
    ZefControlBlock* cb = controlBlock(kd);
    if (mode != kModeDecompress) return ZEF_ERROR(ZEFERR_BAD_INTERNAL_MODE, mode, kd);
    cb->wMode = mode;
    cb->wDirection = mode;
    if (kd->wSizeOfKelvaneData < KELVANE_DATA_VERSION_MARK) {
        // The old form of the structure knows no synthesizer field and
        // expects the historical default value.
        cb->wOldForm = 1;
        cb->wDecoderFlag = 1;
        cb->fDefaultValue = 1.0f;
    }
    cb->wSynthesizer = kd->wSynthesizer;
    cb->wOutputSampleSize = kd->wOutputBytesPerSample ? kd->wOutputBytesPerSample : 2;
    cb->lpInputVars->desc.wBytesPerSample = cb->wOutputSampleSize;
    if (kd->dwOutputSamplingRate) cb->dwOutputRate = rateInHz(kd->dwOutputSamplingRate);
    if (uint32_t err = BrewBlackArt(cb)) return ZEF_ERROR(ZEFERR_BREW_BLACK_ART, err, kd);
    cb->wUnpack = 1;
    kd->wBitsPerFrame = cb->wFrameBits;
    if (kd->wGuisette) cb->wGuisette = kd->wGuisette;
    if (uint16_t err = InitializeGuisettes(kd, cb)) return err;
    if (cb->dwOutputRate == 0) cb->dwOutputRate = cb->dwCodecRate;
    return 0;
}

EndpointHandler dcmpGetInputProcInternal(uint32_t type) {
    switch (type) {
        case 0x10100: case 0x10101: case 0x10200: case 0x10201: case 0x20100: case 0x20101:
        case 0x20200: case 0x20201: case 0x21101: case 0x30100: case 0x30200:
            return HandleInputData;
        case 0x10801: case 0x20801:
            return HandleInputFunction;
        default:
            return nullptr;
    }
}

EndpointHandler dcmpGetOutputProcInternal(uint32_t type) {
    switch (type) {
        case 0x10100: case 0x10200: case 0x20100: case 0x20200: case 0x30100: case 0x30200:
            return HandleOutputData;
        case 0x10800: case 0x20800:
            return HandleOutputFunction;
        case 0x400: case 0x10400:
            return HandleOutputSoundData;
        default:
            return nullptr;
    }
}

}  // namespace zef

using namespace zef;

extern "C" ZEF_ENDPOINT_PROC dcmpGetInputProc(uint32_t type) { return dcmpGetInputProcInternal(type); }
extern "C" ZEF_ENDPOINT_PROC dcmpGetOutputProc(uint32_t type) { return dcmpGetOutputProcInternal(type); }

extern "C" uint16_t dcmpMirlaneInit(KELVANE_DATA* kd, uint16_t mode) {
    if (uint16_t err = ValidateKelvaneData(kd)) return err;
    if (uint16_t err = NewZefControlBlock(kd)) return err;
    ZefControlBlock* cb = controlBlock(kd);
    if (kd->dwInputType == (ZEFTYPE_FORMAT_WAVE | ZEFTYPE_LOCATION_PREVIEW | ZEFTYPE_QUALIFIER_ZEF)) {
        if (uint16_t err = resolvePreview(kd)) return err;
    }
    cb->lpInputHandler = dcmpGetInputProcInternal(kd->dwInputType);
    if (!cb->lpInputHandler) return ZEF_ERROR(ZEFERR_INVALID_INPUT_TYPE, kd->dwInputType, kd);
    if (uint16_t err = cb->lpInputHandler(kd, ZEFMSG_OPEN)) return err;

    if (isZef(kd->dwInputType)) {
        cb->fWarp = kd->fWarpedLengthFactor;
        cb->fRelPitch = kd->fRelativePitch;
        cb->fAbsPitch = kd->fAbsolutePitch;
        cb->wUseAbsPitch = kd->wUseAbsolutePitch;
        if (uint16_t err = InitZefControlBlock(kd, kModeDecompress)) return err;
        kd->wSynthesizer = cb->wSynthesizer;
    }

    uint16_t status = locationOf(kd->dwOutputType) == ZEFTYPE_LOCATION_SOUND ? KELVANE_STATUS_PLAY_START
                                                                            : KELVANE_STATUS_DECOMPRESS_START;
    cb->wStatusReported = 1;
    if (uint16_t answer = reportStatus(kd, status)) return ZEF_ERROR(ZEFERR_PROCESSING_ABORTED, answer, kd);

    cb->lpOutputHandler = dcmpGetOutputProcInternal(kd->dwOutputType);
    if (!cb->lpOutputHandler) return ZEF_ERROR(ZEFERR_INVALID_OUTPUT_TYPE, kd->dwOutputType, kd);
    if (uint16_t err = cb->lpOutputHandler(kd, ZEFMSG_OPEN)) return err;
    cb->lpOutputVars->wMode = mode;

    if (kd->dwOutputSamplingRate == 0) kd->dwOutputSamplingRate = cb->dwOutputRate;
    if (kd->wOutputBytesPerSample == 0) kd->wOutputBytesPerSample = cb->wOutputSampleSize;
    if (markersApply(kd)) return applyMarkerRequest(kd, cb);
    return 0;
}

extern "C" uint16_t dcmpMirlaneCleanup(KELVANE_DATA* kd) {
    ZefControlBlock* cb = controlBlock(kd);
    if (!cb) return ZEF_ERROR(ZEFERR_VWD_OR_VCB_IS_NULL, uint32_t(reinterpret_cast<uintptr_t>(kd)), kd);
    uint16_t result = 0;
    if (cb->dwGuard == kControlBlockGuard) {
        if (cb->lpOutputHandler && cb->lpOutputVars) result = cb->lpOutputHandler(kd, ZEFMSG_CLOSE);
        if (cb->lpInputHandler && cb->lpInputVars) {
            uint16_t err = cb->lpInputHandler(kd, ZEFMSG_CLOSE);
            if (!result) result = err;
        }
    }
    bool reported = cb->wStatusReported;
    bool toDevice = locationOf(kd->dwOutputType) == ZEFTYPE_LOCATION_SOUND;
    uint16_t freed = FreeZefControlBlock(kd);
    if (!result) result = freed;
    if (reported) reportStatus(kd, toDevice ? KELVANE_STATUS_PLAY_END : KELVANE_STATUS_DECOMPRESS_END);
    return result;
}
