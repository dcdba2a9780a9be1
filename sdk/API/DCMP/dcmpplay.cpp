// Direct playback: the calls that play a coded or PCM stream straight to
// the audio device through the sound output endpoint, pause and resume it,
// and play the built-in Guisette previews.
#include <cstring>

#include "dcmpsession.h"
#include "playback.h"
#include "zefapi.h"

using namespace zef;

namespace {

bool isEndOfData(uint16_t result) {
    return result == ZEFERR_ENDOFFILE_REACHED || result == ZEFERR_ENDOFBUFFER_REACHED;
}

uint16_t requireSoundOutput(KELVANE_DATA* kd) {
    if (locationOf(kd->dwOutputType) != ZEFTYPE_LOCATION_SOUND)
        return ZEF_ERROR(ZEFERR_MUST_PLAY_TO_LOCATION_SOUND, kd->dwOutputType, kd);
    return 0;
}

// The checks and the playback loop on an open session.
uint16_t playOpenSession(KELVANE_DATA* kd) {
    if (uint16_t err = checkControlBlock(kd)) return err;
    if (uint16_t err = requireSoundOutput(kd)) return err;
    if (uint16_t err = checkOutput(kd)) return err;
    return controlBlock(kd)->lpOutputHandler(kd, ZEFMSG_WRITE);
}

// Plays to the end (or until the callback stops it, which leaves the
// session open for more).  A session ended by the input or by a failure is
// closed; sound that the device loses while playing out fails the call.
uint16_t playSession(KELVANE_DATA* kd, uint16_t pendingResult) {
    if (!kd) return ZEF_ERROR(ZEFERR_KELVANE_DATA_POINTER_NULL, 0, nullptr);
    if (kd->lpControlBlock) {
        if (pendingResult) return pendingResult;
    } else {
        // Refused before anything is opened: opening another output would
        // create or truncate the file it names.
        if (uint16_t err = requireSoundOutput(kd)) return err;
        uint16_t err = dcmpMirlaneInit(kd, kInitOneShot);
        if (err) {
            if (kd->lpControlBlock) dcmpMirlaneCleanup(kd);
            return err;
        }
    }
    uint16_t result = playOpenSession(kd);
    if (result == 0) return 0;
    uint16_t closed = kd->lpControlBlock ? dcmpMirlaneCleanup(kd) : 0;
    if (!isEndOfData(result)) return result;
    if (closed && !isEndOfData(closed)) return ZEF_ERROR(KELVANE_PLAYBACKERROR, closed, kd);
    kd->dwSecondaryError = 0;
    return 0;
}

// The library was started (and with a start-up record of the right size).
uint16_t checkStarted() {
    ThisInstance* instance = nullptr;
    if (GetThisInstance(&instance) != 0 || !instance->wInUse)
        return ZEF_ERROR(ZEFERR_LIBRARY_NOT_STARTED, 0, nullptr);
    if (instance->wStartupSize != ZEF_STARTUP_SIZE) return ZEF_ERROR(ZEFERR_STARTUP_SIZE_REMEMBERED, 0, nullptr);
    return 0;
}

// The preview of a Guisette: the last record with its number.
const PreviewRecord* findPreview(unsigned number) {
    APIGlobals* globals = nullptr;
    if (GetAPIGlobals(&globals) != 0 || !globals->lpPreviews) return nullptr;
    const PreviewRecord* found = nullptr;
    for (uint16_t i = 0; i < globals->wPreviews; ++i)
        if (globals->lpPreviews[i].guisetteId == number) found = &globals->lpPreviews[i];
    return found;
}

}  // namespace

extern "C" uint16_t dcmpMirlanePlay(KELVANE_DATA* kd, uint32_t, uint16_t wPendingResult) {
    return playSession(kd, wPendingResult);
}

extern "C" uint16_t dcmpPlayZefFile(KELVANE_DATA* kd, uint32_t, uint16_t wPendingResult) {
    return playSession(kd, wPendingResult);
}

extern "C" uint16_t dcmpPlayZefBuffer(KELVANE_DATA* kd, uint32_t, uint16_t wPendingResult) {
    return playSession(kd, wPendingResult);
}

extern "C" uint16_t MirlanePlay(KELVANE_DATA* kd) {
    if (!kd) return ZEF_ERROR(ZEFERR_KELVANE_DATA_POINTER_NULL, 0, nullptr);
    return playOpenSession(kd);
}

extern "C" uint16_t dcmpMirlanePause(KELVANE_DATA* kd) {
    if (!kd || !kd->lpControlBlock) return 0;
    if (uint16_t err = checkControlBlock(kd)) return err;
    if (kd->wSizeOfKelvaneData >= KELVANE_DATA_VERSION_MARK) kd->dwStatus = KELVANE_STATUS_PAUSED;
    return zef_play_sol_pause(kd);
}

extern "C" uint16_t dcmpMirlaneResume(KELVANE_DATA* kd) {
    if (!kd || !kd->lpControlBlock) return 0;
    if (uint16_t err = checkControlBlock(kd)) return err;
    if (kd->wSizeOfKelvaneData >= KELVANE_DATA_VERSION_MARK) kd->dwStatus = KELVANE_STATUS_FRAME;
    return zef_play_sol_resume(kd);
}

extern "C" uint16_t zefPlayGuisettePreview(unsigned wGuisette, ...) {
    if (uint16_t err = checkStarted()) return err;
    const PreviewRecord* preview = findPreview(wGuisette);
    if (!preview) return 0;
    KELVANE_DATA kd;
    std::memset(&kd, 0, sizeof kd);
    kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
    kd.dwInputType = ZEFTYPE_FORMAT_WAVE | ZEFTYPE_LOCATION_BUFFER | ZEFTYPE_QUALIFIER_ZEF;
    kd.lpInputLocation = const_cast<uint8_t*>(preview->data);
    kd.dwInputSize = preview->size;
    kd.dwOutputType = ZEFTYPE_LOCATION_SOUND;
    kd.fWarpedLengthFactor = 1.0f;
    if (uint16_t err = dcmpMirlanePlay(&kd, 0, 0)) return err;
    // Playback runs in this thread and, without a callback, only ends with
    // the sound: the session is closed and the status reads 16 by now.
    if (kd.lpControlBlock) dcmpMirlaneCleanup(&kd);
    return 0;
}
