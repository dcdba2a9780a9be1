// Recording: compression whose input is the audio device's record side
// (ZEFTYPE_LOCATION_SOUND), into any compression output.  The caller's
// callback hears status 20 at the start and 19 per coded frame; its non-zero
// answer is the usual way to stop, and a normal end: the frames coded so far
// make a complete output.
#include "cmpsession.h"
#include "dcmpsession.h"
#include "zefapi.h"

using namespace zef;

namespace {

uint16_t requireSoundInput(KELVANE_DATA* kd) {
    if (locationOf(kd->dwInputType) != ZEFTYPE_LOCATION_SOUND)
        return ZEF_ERROR(ZEFERR_INVALID_INPUT_TYPE, kd->dwInputType, kd);
    return 0;
}

// Codes what the session still holds, without calling back: after a stop
// the caller has said its last word.
uint16_t finishQuietly(KELVANE_DATA* kd) {
    KELVANE_CALLBACK callback = kd->lpCallback;
    kd->lpCallback = nullptr;
    uint16_t result = FinishCompression(kd);
    kd->lpCallback = callback;
    return result;
}

}  // namespace

// Records on an open session: 221 when the device's source or dwInputSize
// ended it, 0 when the callback stopped it (the session stays open and
// another call records on), or an error.
extern "C" uint16_t MirlaneRecord(KELVANE_DATA* kd) {
    if (!kd) return ZEF_ERROR(ZEFERR_KELVANE_DATA_POINTER_NULL, 0, nullptr);
    if (uint16_t err = checkControlBlock(kd)) return err;
    if (uint16_t err = requireSoundInput(kd)) return err;
    if (uint16_t err = checkInput(kd)) return err;
    if (uint16_t err = checkOutput(kd)) return err;
    ZefControlBlock* cb = controlBlock(kd);
    cb->wCallbackResult = 0;
    uint16_t result = CompressBuffer(kd);
    if (result == ZEFERR_PROCESSING_ABORTED && cb->wCallbackResult != 0) {
        kd->dwSecondaryError = 0;
        return 0;
    }
    return result;
}

// Opens a session, records until it ends and closes it: 0 after a normal
// end (the callback's stop, the source's end, dwInputSize taken).  A device
// that fails ends it with its error, and the output is cleaned up as a
// failed compression's is.
extern "C" uint16_t cmpMirlaneRecord(KELVANE_DATA* kd) {
    if (!kd) return ZEF_ERROR(ZEFERR_KELVANE_DATA_POINTER_NULL, 0, nullptr);
    // Refused before anything is opened: opening the output would create or
    // truncate the file it names.
    if (uint16_t err = requireSoundInput(kd)) return err;
    uint16_t result = cmpMirlaneInit(kd, 0);
    if (result == ZEFERR_KELVANE_ALREADY_INITIALIZED) return result;
    if (result == 0) result = MirlaneRecord(kd);
    if (result == 0 || result == ZEFERR_ENDOFFILE_REACHED) result = finishQuietly(kd);
    return CloseOneShot(kd, result);
}
