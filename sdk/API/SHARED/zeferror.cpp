// Recording of errors and the guard checks shared by every entry point.
#include <cstdio>
#include <cstdlib>

#include "zefinternal.h"

namespace zef {

uint16_t storeError(uint16_t code, uint32_t secondary, KELVANE_DATA* kd, const char* file, int line) {
    // The location line and the text are composed as a diagnostic would need
    // them, but the library keeps neither: only the number and the secondary
    // value survive, in the caller's structure.
    char where[160];
    std::snprintf(where, sizeof where, "Error #%d in \"%s\" at line number: %d.", code, file ? file : "",
                  int(uint16_t(line)));
    char text[ZEF_MESSAGE_SIZE];
    mlGetStringFromErrorN(code, secondary, text, sizeof text);
    if (kd) kd->dwSecondaryError = secondary;
    return code;
}

uint16_t checkControlBlock(KELVANE_DATA* kd) {
    ZefControlBlock* cb = controlBlock(kd);
    if (!cb) return ZEF_ERROR(ZEFERR_INVALID_VCB, 0, kd);
    if (cb->dwGuard != kControlBlockGuard) return ZEF_ERROR(ZEFERR_INVALID_VCB, cb->dwGuard, kd);
    return 0;
}

uint16_t checkInput(KELVANE_DATA* kd) {
    if (uint16_t err = checkControlBlock(kd)) return err;
    InputVars* in = controlBlock(kd)->lpInputVars;
    if (!in) return ZEF_ERROR(ZEFERR_INVALID_INPUT_VARS, 0, kd);
    if (in->dwGuard != kInputGuard) return ZEF_ERROR(ZEFERR_INVALID_INPUT_VARS, in->dwGuard, kd);
    return 0;
}

uint16_t checkOutput(KELVANE_DATA* kd) {
    if (uint16_t err = checkControlBlock(kd)) return err;
    OutputVars* out = controlBlock(kd)->lpOutputVars;
    if (!out) return ZEF_ERROR(ZEFERR_INVALID_OUTPUT_VARS, 0, kd);
    if (out->dwGuard != kOutputGuard) return ZEF_ERROR(ZEFERR_INVALID_OUTPUT_VARS, out->dwGuard, kd);
    return 0;
}

bool isAcceptedRate(uint32_t rate) {
    for (uint32_t r : zefAcceptedRates)
        if (r == rate) return true;
    return false;
}

}  // namespace zef

extern "C" const uint32_t zefAcceptedRates[ZEF_ACCEPTED_RATE_COUNT] = {
    8000, 11025, 16000, 22050, 32000, 44100, ZEF_RATE_11127_FIXED, ZEF_RATE_22254_FIXED};

uint16_t _StoreError(uint16_t code, uint32_t secondary, KELVANE_DATA* kd, const char* file, int line) {
    return zef::storeError(code, secondary, kd, file, line);
}

void _ErrorMessage_(const char* message, int line, const char* file) {
    std::printf("\r\nARGHHH!!! Error in \"%s\" line number:%d\r\n%s\r\n", file, line, message);
    std::fflush(stdout);
    std::exit(-1);
}
