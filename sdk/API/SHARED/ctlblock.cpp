// Life of the session control block that the library hangs on the caller's
// KELVANE_DATA between initialisation and cleanup.
#include <cstdlib>

#include "engine.h"
#include "guisette.h"
#include "zefapi.h"

namespace zef {

uint16_t NewZefControlBlock(KELVANE_DATA* kd) {
    if (!kd) return ZEF_ERROR(ZEFERR_KELVANE_DATA_POINTER_NULL, 0, nullptr);
    // A block already attached belongs to a session that is still open:
    // replacing it would lose that session's files and memory.
    if (kd->lpControlBlock) return ZEF_ERROR(ZEFERR_KELVANE_ALREADY_INITIALIZED, 0, kd);

    auto* cb = static_cast<ZefControlBlock*>(std::calloc(1, sizeof(ZefControlBlock)));
    if (!cb) return ZEF_ERROR(ZEFERR_ZEFSTRUCT_MEMORY, uint32_t(sizeof(ZefControlBlock)), kd);

    cb->dwGuard = kControlBlockGuard;
    cb->lpKelvaneData = kd;
    cb->lpCallback = kd->lpCallback;
    // The effect settings start as the caller gave them, so that the attribute
    // calls report them before the session copies them in again.
    cb->fWarp = kd->fWarpedLengthFactor;
    cb->fRelPitch = kd->fRelativePitch;
    cb->fAbsPitch = kd->fAbsolutePitch;
    cb->wUseAbsPitch = kd->wUseAbsolutePitch ? 1 : 0;
    // Neutral until a header or the old-form set-up gives another value.
    cb->fDefaultValue = 1.0f;
    kd->lpControlBlock = cb;
    return 0;
}

uint16_t FreeZefControlBlock(KELVANE_DATA* kd) {
    if (!kd) return ZEF_ERROR(ZEFERR_KELVANE_DATA_POINTER_NULL, 0, nullptr);
    ZefControlBlock* cb = controlBlock(kd);
    if (!cb) return 0;
    // Memory that does not carry our guard is not ours to free.
    if (cb->dwGuard != kControlBlockGuard) return ZEF_ERROR(ZEFERR_INVALID_VCB, cb->dwGuard, kd);
    if (cb->wEngineReady) ExpelBlackArt(cb);
    CleanupGuisettes(cb);
    std::free(cb);
    kd->lpControlBlock = nullptr;
    return 0;
}

}  // namespace zef
