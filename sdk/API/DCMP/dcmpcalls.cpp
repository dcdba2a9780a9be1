// The one-shot decompression calls and the streaming triple.
#include "dcmpsession.h"
#include "zefapi.h"

using namespace zef;

namespace {

bool isEndOfData(uint16_t result) {
    return result == ZEFERR_ENDOFFILE_REACHED || result == ZEFERR_ENDOFBUFFER_REACHED;
}

uint16_t oneShot(KELVANE_DATA* kd) {
    uint16_t result = dcmpMirlaneInit(kd, kInitOneShot);
    // The session already attached belongs to the caller's other calls:
    // refuse without touching it.
    if (result == ZEFERR_KELVANE_ALREADY_INITIALIZED) return result;
    if (result == 0) result = MirlaneDecompress(kd);
    if (isEndOfData(result)) result = 0;
    // Closing writes the final header and the last bytes: its failure is the
    // call's failure, or a good-looking file would be incomplete.
    uint16_t closed = controlBlock(kd) ? dcmpMirlaneCleanup(kd) : 0;
    if (result == 0 && !isEndOfData(closed)) result = closed;
    if (result == 0) kd->dwSecondaryError = 0;
    return result;
}

// Points the session's records at the caller's current input and output
// buffers (the player hands over a new pair with every call).  A file or a
// caller's function keeps feeding the endpoint's own buffer: its location is
// a name or a function, never bytes to decode from or into.
uint16_t refreshBuffers(KELVANE_DATA* kd) {
    ZefControlBlock* cb = controlBlock(kd);
    if (!cb) return ZEF_ERROR(ZEFERR_VWD_OR_VCB_IS_NULL, uint32_t(reinterpret_cast<uintptr_t>(kd)), kd);
    if (uint16_t err = checkInput(kd)) return err;
    if (uint16_t err = checkOutput(kd)) return err;
    InputVars* in = cb->lpInputVars;
    if (isMemoryLocation(kd->dwInputType)) {
        in->lpBase = static_cast<uint8_t*>(kd->lpInputLocation);
        in->dwTotal = in->dwValid = kd->dwInputSize;
        in->dwReadPos = kd->dwInputBytesUsed;
        in->wEOF = 0;
        kd->dwFramesLeft = 65535;
        uint32_t frameBytes = uint32_t(in->desc.wBytesPerSample) * in->desc.wChannels;
        in->desc.dwSampleCount = frameBytes ? in->dwValid / frameBytes : 0;
        in->desc.dwConsumed = 0;
    }
    OutputVars* out = cb->lpOutputVars;
    if (isMemoryLocation(kd->dwOutputType)) {
        out->lpBase = static_cast<uint8_t*>(kd->lpOutputLocation);
        out->dwCapacity = kd->dwOutputSize;
        out->dwWritePos = kd->dwOutputBytesUsed;
    }
    cb->fWarp = kd->fWarpedLengthFactor;
    if (locationOf(kd->dwInputType) == ZEFTYPE_LOCATION_PACKET) cb->wBitPosition = 0;
    return 0;
}

}  // namespace

extern "C" uint16_t dcmpMirlaneDecompress(KELVANE_DATA* kd) { return oneShot(kd); }
extern "C" uint16_t dcmpZefFileToFile(KELVANE_DATA* kd) { return oneShot(kd); }
extern "C" uint16_t dcmpZefBufferToFile(KELVANE_DATA* kd) { return oneShot(kd); }
extern "C" uint16_t dcmpZefFileToBuffer(KELVANE_DATA* kd) { return oneShot(kd); }

extern "C" uint16_t dcmpZefInit(KELVANE_DATA* kd) {
    if (uint16_t err = dcmpMirlaneInit(kd, kInitStreaming)) return err;
    if (uint16_t err = checkInput(kd)) return err;
    if (uint16_t err = checkOutput(kd)) return err;
    ZefControlBlock* cb = controlBlock(kd);
    kd->dwInputBytesUsed = cb->lpInputVars->dwReadPos;
    kd->dwOutputBytesUsed = cb->lpOutputVars->dwWritePos;
    return 0;
}

extern "C" uint16_t dcmpZefConvert(KELVANE_DATA* kd) {
    if (!kd) return ZEF_ERROR(ZEFERR_VWD_OR_VCB_IS_NULL, 0, kd);
    if (uint16_t err = refreshBuffers(kd)) return err;
    ZefControlBlock* cb = controlBlock(kd);
    uint16_t result = MirlaneDecompress(kd);
    if (result == ZEFERR_ENDOFBUFFER_REACHED) {
        cb->lpOutputVars->wEnd = 1;
        result = 0;
    }
    kd->dwInputBytesUsed = cb->lpInputVars->dwReadPos;
    kd->dwOutputBytesUsed = cb->lpOutputVars->dwWritePos;
    return result;
}

extern "C" uint16_t dcmpZefFree(KELVANE_DATA* kd) {
    if (!kd) return ZEF_ERROR(ZEFERR_VWD_OR_VCB_IS_NULL, 0, kd);
    if (uint16_t err = refreshBuffers(kd)) {
        // A set-up that failed part way left an endpoint record missing: what
        // it built is freed all the same, or a caller that frees after a
        // failed init would keep files and memory attached for good.  Memory
        // without the control block's guard is not ours to touch.
        if (err == ZEFERR_VWD_OR_VCB_IS_NULL || checkControlBlock(kd)) return err;
    }
    return dcmpMirlaneCleanup(kd);
}
