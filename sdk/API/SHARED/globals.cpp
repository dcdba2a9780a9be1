// The library's process-wide records: the globals (what is built in: codecs,
// Guisettes, previews) and the instance record (whether zefStartup ran).
// Both are created on first use; there are no threads in the library, so no
// locking.
#include <cstdlib>

#include "zefapi.h"

namespace zef {
namespace {

const CodecCatalogEntry kCodecCatalog[] = {
    {KELVANE_CODEC_LUMO_8K, "Orvo", "Kelvane's 8kHz codec (Orvo)",
     "A low-bandwith (2,400 bps) codec for use with speech."},
    {KELVANE_CODEC_PELN_HQ, "PelnHQ", "Kelvane's High Quality 8kHz codec (PelnHQ)",
     "A very low-bandwith (2900 bps) codec for use with speech."},
};
constexpr uint16_t kCodecCount = sizeof kCodecCatalog / sizeof kCodecCatalog[0];

APIGlobals* gGlobals = nullptr;
ThisInstance* gInstance = nullptr;

}  // namespace

uint16_t NewAPIGlobals() {
    if (gGlobals) return 0;
    gGlobals = static_cast<APIGlobals*>(std::calloc(1, sizeof(APIGlobals)));
    if (!gGlobals) return ZEF_ERROR(ZEFERR_GLOBALS_MEMORY, uint32_t(sizeof(APIGlobals)), nullptr);
    return 0;
}

uint16_t GetAPIGlobals(APIGlobals** out) {
    if (out) *out = nullptr;
    if (uint16_t err = NewAPIGlobals()) return err;
    if (!gGlobals || !out) return ZEF_ERROR(ZEFERR_GLOBALS_MISSING, 0, nullptr);
    *out = gGlobals;
    return 0;
}

void FreeAPIGlobals() {
    std::free(gGlobals);
    gGlobals = nullptr;
    if (gInstance) gInstance->lpGlobals = nullptr;
}

uint16_t NewThisStruct() {
    if (gInstance) return 0;
    gInstance = static_cast<ThisInstance*>(std::calloc(1, sizeof(ThisInstance)));
    if (!gInstance) return ZEF_ERROR(ZEFERR_INSTANCE_MEMORY, uint32_t(sizeof(ThisInstance)), nullptr);
    return 0;
}

uint16_t GetThisInstance(ThisInstance** out) {
    if (out) *out = nullptr;
    if (uint16_t err = NewThisStruct()) return err;
    if (!gInstance || !out) return ZEF_ERROR(ZEFERR_INSTANCE_MISSING, 0, nullptr);
    if (!gInstance->lpGlobals)
        if (uint16_t err = GetAPIGlobals(&gInstance->lpGlobals)) return err;
    *out = gInstance;
    return 0;
}

void FreeThisStruct() {
    std::free(gInstance);
    gInstance = nullptr;
}

uint16_t AccumulateCodecs(uint16_t* count) {
    APIGlobals* globals = nullptr;
    if (uint16_t err = GetAPIGlobals(&globals)) return err;
    if (globals->wCodecs == 0) {
        globals->wCodecs = kCodecCount;
        globals->lpCodecs = kCodecCatalog;
    }
    if (count) *count = globals->wCodecs;
    return 0;
}

}  // namespace zef
