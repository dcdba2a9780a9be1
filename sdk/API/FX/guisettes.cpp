// Guisettes in a session: the transformation state that the analysis side
// reads, the PCM effect that decoding applies, their activation, and the
// application's calls for descriptions, chunks and choosing a Guisette.
#include <cmath>
#include <cstddef>
#include <cstring>

#include "byteorder.h"
#include "guisette.h"
#include "pcmeffect.h"

namespace zef {
namespace {

static_assert(sizeof(ZEF_GUISETTE_DESCRIPTION) == ZEF_GUISETTE_DESCRIPTION_SIZE);
static_assert(offsetof(ZEF_GUISETTE_DESCRIPTION, category) == 2);
static_assert(offsetof(ZEF_GUISETTE_DESCRIPTION, presetName) == 46);
static_assert(offsetof(ZEF_GUISETTE_DESCRIPTION, description) == 90);
static_assert(offsetof(ZEF_GUISETTE_DESCRIPTION, hasEffect) == 346);
static_assert(offsetof(ZEF_GUISETTE_DESCRIPTION, chunkSize) == 348);
static_assert(sizeof(ZEF_GUISETTE_CHUNK) == ZEF_GUISETTE_CHUNK_SIZE && ZEF_GUISETTE_CHUNK_SIZE == kGuisetteChunkSize);
static_assert(ZEF_GUISETTE_TEXT_SIZE == kGuisetteTextSize &&
              ZEF_GUISETTE_DESCRIPTION_TEXT_SIZE == kGuisetteDescriptionSize);

// Pitch range of the coder: 8000 / 125 = 64 Hz up to 8000 / 16 = 500 Hz.
constexpr double kLowestPitch = 8000.0 / 125.0;
constexpr double kHighestPitch = 0.0625 * 8000.0;
constexpr double kPitchSpan = kHighestPitch - kLowestPitch;  // 436
constexpr double kSemitone = 1.059463094;

float frequencyRatio(float semitones) { return float(std::pow(kSemitone, double(semitones))); }
float formantWarpFor(float u) { return float(0.75 * double(u) + 0.6); }

void setParameters(GuisetteState* s, int16_t type, int16_t amount) {
    const double a = amount;
    const float t = float(a / 255.0);          // rises with the amount
    const float u = float((255.0 - a) / 255.0);  // falls with it
    switch (type) {
        case 1:  // whisper
            s->pitchFactor = 0.0f;
            s->warpOn = 0;
            break;
        case 2:  // flattened pitch
            s->squashBase = float(85.0 + 165.0 * a / 255.0);
            s->squashRange = 30.0f;
            s->squashSlope = float(30.0 / kPitchSpan);
            s->warpOn = 0;
            break;
        case 3:  // alternating pitch
            s->altLow = float(kLowestPitch);
            s->altHigh = float(kLowestPitch + (60.0 + 40.0 * a / 255.0));
            s->warpOn = 0;
            break;
        case 4:  // transposition
            s->semitones = float(20.0 * a / 255.0) - 10.0f;
            s->pitchFactor = frequencyRatio(s->semitones);
            s->warpOn = 0;
            break;
        case 5:  // transposition and formant warp
            s->semitones = float(40.0 * double(t) - 15.0);
            s->formantWarp = float(0.6 * double(u) + 0.7);
            s->pitchFactor = frequencyRatio(s->semitones);
            s->pitchFactor2 = s->pitchFactor;
            s->warpOn = 1;
            break;
        case 6:  // flattened pitch and formant warp
            s->formantWarp = formantWarpFor(u);
            s->squashBase = float(165.0 * (255.0 - a) / 255.0 + 85.0);
            s->squashRange = 15.0f;
            s->squashSlope = float(15.0 / kPitchSpan);
            s->warpOn = 1;
            break;
        case 7:  // whisper and formant warp
            s->formantWarp = formantWarpFor(u);
            s->pitchFactor = 0.0f;
            s->warpOn = 1;
            break;
        case 8:  // fixed transposition and warp
            s->formantWarp = float(0.75 * (5.0 / 255.0) + 0.6);
            s->semitones = float(40.0 * (105.0 / 255.0) - 15.0);
            s->pitchFactor = frequencyRatio(s->semitones);
            s->warpOn = 1;
            break;
        case 9:  // transposition and warp, falling with the amount
            s->formantWarp = formantWarpFor(u);
            s->semitones = float(40.0 * double(u) - 15.0);
            s->pitchFactor = frequencyRatio(s->semitones);
            s->warpOn = 1;
            break;
        default:
            break;
    }
}

PCMEffectState* effectOf(ZefControlBlock* cb) { return static_cast<PCMEffectState*>(cb->lpPCMEffect); }

// A fresh effect state; one left by an earlier set-up is released first.
uint16_t initEffect(KELVANE_DATA* kd, ZefControlBlock* cb) {
    FreePCMEffect(effectOf(cb));
    PCMEffectState* fx = nullptr;
    uint16_t err = InitPCMEffect(&fx);
    cb->lpPCMEffect = fx;
    return err ? ZEF_ERROR(err, 0, kd) : 0;
}

// Loads the effect; a session left without one stops applying it.
uint16_t activateEffect(ZefControlBlock* cb, uint16_t effect) {
    PCMEffectState* fx = effectOf(cb);
    uint16_t result = SetPCMEffect(fx, effect);
    if (!fx || fx->kind == kEffectNone) cb->wGuisette = 0;
    return result;
}

uint16_t checkStarted(KELVANE_DATA* kd, bool checkStartupSize) {
    ThisInstance* instance = nullptr;
    if (GetThisInstance(&instance) != 0 || !instance->wInUse)
        return ZEF_ERROR(ZEFERR_LIBRARY_NOT_STARTED, 0, kd);
    if (checkStartupSize && instance->wStartupSize != ZEF_STARTUP_SIZE)
        return ZEF_ERROR(ZEFERR_STARTUP_SIZE_REMEMBERED, 0, kd);
    return 0;
}

// 606 (recorded with the number in the caller's structure) or 0.
uint16_t lookUp(KELVANE_DATA* kd, unsigned number, const GuisetteRecord** out) {
    uint16_t err = GetGuisetteInfo(number, out);
    if (err == ZEFERR_GUII_UNKNOWN_GUISETTE) return ZEF_ERROR(err, number, kd);
    return err;
}

ZEF_GUISETTE_DESCRIPTION describe(const GuisetteRecord& g) {
    ZEF_GUISETTE_DESCRIPTION d{};
    d.guisetteId = g.guisetteId;
    std::memcpy(d.category, g.category, sizeof d.category - 1);
    std::memcpy(d.presetName, g.presetName, sizeof d.presetName - 1);
    std::memcpy(d.description, g.description, sizeof d.description - 1);
    d.hasEffect = g.pcmEffect != 0 ? 1 : 0;
    d.chunkSize = ZEF_GUISETTE_CHUNK_SIZE;
    return d;
}

}  // namespace

uint16_t InitGuisette(GuisetteState* state) {
    if (!state) return ZEFERR_GU_STATE_NULL;
    *state = GuisetteState{};
    state->formantWarp = 1.0f;
    return 0;
}

uint16_t FreeGuisette(GuisetteState* state) {
    if (!state) return ZEFERR_GU_STATE_NULL;
    *state = GuisetteState{};
    return 0;
}

uint16_t SetGuisette(GuisetteState* state, int16_t type, int16_t amount) {
    if (amount > 255 || amount < 0) return ZEFERR_GU_AMOUNT_RANGE;
    if (!state) return ZEFERR_GU_STATE_NULL;
    if (type < 0 || type > 9) return ZEFERR_GU_TYPE_RANGE;
    state->type = type;
    // Type 0 applies no transformation; the earlier parameters stay.
    if (type != 0) setParameters(state, type, amount);
    return 0;
}

float transposition_gu2(const GuisetteState* s) { return s ? s->framePitch * s->pitchFactor : 0.0f; }
float squash_gu2(const GuisetteState* s) { return s ? s->framePitch * s->squashSlope + s->squashBase : 0.0f; }
float voicing_gu2(const GuisetteState* s) { return s ? s->frameVoicing * s->voicingFactor : 0.0f; }

float minMax_gu2(GuisetteState* s) {
    if (!s) return 0.0f;
    if (s->altToggle == 1) {
        s->altToggle = 0;
        return s->altLow;
    }
    s->altToggle = 1;
    return s->altHigh;
}

uint16_t InitializeGuisettes(KELVANE_DATA* kd, ZefControlBlock* cb) {
    if (!cb) return ZEF_ERROR(ZEFERR_INVALID_VCB, 0, kd);
    if (cb->dwGuard != kControlBlockGuard) return ZEF_ERROR(ZEFERR_INVALID_VCB, cb->dwGuard, kd);
    uint16_t result = 0;
    switch (cb->wMode) {
        case kModeCompress:
            result = InitGuisette(&cb->guisette);
            break;
        case kModeDecompress:
            result = initEffect(kd, cb);
            break;
        case kModeBoth:
            InitGuisette(&cb->guisette);
            result = initEffect(kd, cb);
            break;
        default:
            return ZEFERR_NO_EFFECT_KIND;
    }
    // A state that could not be made is the error to report, not hidden by
    // the activation that would then find no effect.
    if (result) return result;
    return cb->wGuisette != 0 ? ActivateGuisette(kd, cb->wGuisette) : 0;
}

uint16_t ActivateGuisette(KELVANE_DATA* kd, unsigned number) {
    if (uint16_t err = checkControlBlock(kd)) return err;
    ZefControlBlock* cb = controlBlock(kd);
    const GuisetteRecord* g = nullptr;
    if (uint16_t err = lookUp(kd, number, &g)) return err;
    cb->dwGuisetteReserved = g->reserved;
    const auto type = int16_t(g->transformType);
    const auto amount = int16_t(g->amount);
    switch (cb->wMode) {
        case kModeCompress:
            return SetGuisette(&cb->guisette, type, amount);
        case kModeDecompress:
            return activateEffect(cb, g->pcmEffect);
        case kModeBoth:
            SetGuisette(&cb->guisette, type, amount);
            return SetPCMEffect(effectOf(cb), g->pcmEffect);
        default:
            return ZEFERR_NO_EFFECT_KIND;
    }
}

uint16_t CleanupGuisettes(ZefControlBlock* cb) {
    if (!cb) return 0;
    FreeGuisette(&cb->guisette);
    FreePCMEffect(effectOf(cb));
    cb->lpPCMEffect = nullptr;
    return 0;
}

uint16_t GetNumGUPreviews(uint16_t* count) {
    if (count) *count = kPreviewCount;
    return 0;
}

uint16_t GetGuisettePreviewsList(const PreviewRecord** list) {
    if (list) *list = gZefPreviewRecords;
    return 0;
}

}  // namespace zef

using namespace zef;

extern "C" uint16_t zefGetGuisetteDescriptions(char* lpBuffer, uint16_t* lpCount) {
    if (uint16_t err = checkStarted(nullptr, true)) return err;
    if (!lpBuffer) return ZEF_ERROR(ZEFERR_GU_DESCRIPTION_BUFFER_NULL, 0, nullptr);
    if (!lpCount) return ZEF_ERROR(ZEFERR_GU_DESCRIPTION_COUNT_NULL, 0, nullptr);
    APIGlobals* globals = nullptr;
    if (uint16_t err = GetAPIGlobals(&globals)) return err;
    const auto* catalogue = static_cast<const GuisetteRecord*>(globals->lpGuisettes);
    const uint16_t available = catalogue ? globals->wGuisettes : 0;
    if (*lpCount > available) *lpCount = available;
    for (uint16_t i = 0; i < *lpCount; ++i) {
        const ZEF_GUISETTE_DESCRIPTION d = describe(catalogue[i]);
        std::memcpy(lpBuffer + size_t(i) * ZEF_GUISETTE_DESCRIPTION_SIZE, &d, sizeof d);
    }
    return 0;
}

extern "C" uint16_t zefSetGuisette(KELVANE_DATA* lpKelvaneData, unsigned wGuisette) {
    if (uint16_t err = checkControlBlock(lpKelvaneData)) return err;
    if (uint16_t err = checkStarted(lpKelvaneData, false)) return err;
    const GuisetteRecord* g = nullptr;
    if (uint16_t err = lookUp(lpKelvaneData, wGuisette, &g)) return err;
    controlBlock(lpKelvaneData)->wGuisette = uint16_t(wGuisette);
    return ActivateGuisette(lpKelvaneData, wGuisette);
}

extern "C" uint16_t zefGetGuisetteChunk(unsigned wGuisette, ZEF_GUISETTE_CHUNK* lpChunk, uint32_t* lpSize) {
    if (uint16_t err = checkStarted(nullptr, false)) return err;
    if (!lpChunk) return ZEF_ERROR(ZEFERR_GU_CHUNK_NULL, 0, nullptr);
    const GuisetteRecord* g = nullptr;
    if (uint16_t err = lookUp(nullptr, wGuisette, &g)) return err;
    // Without a size there is no room to trust.
    if (!lpSize || *lpSize < ZEF_GUISETTE_CHUNK_SIZE) return ZEF_ERROR(ZEFERR_PREVIEW_NOT_FOUND, 0, nullptr);
    *lpSize = ZEF_GUISETTE_CHUNK_SIZE;
    std::memcpy(lpChunk->ckId, "ZEfG", 4);
    writeLE32(lpChunk->ckSize, 2);
    writeLE16(lpChunk->guisetteId, g->guisetteId);
    return 0;
}

extern "C" uint16_t zefSetGuisetteUsingChunk(KELVANE_DATA* lpKelvaneData, const ZEF_GUISETTE_CHUNK* lpChunk) {
    if (!lpChunk) return ZEF_ERROR(ZEFERR_GU_CHUNK_NULL, 0, lpKelvaneData);
    // A chunk that is not ours is refused without recording anything.
    if (std::memcmp(lpChunk->ckId, "ZEfG", 4) != 0) return ZEFERR_PREVIEW_NOT_FOUND;
    if (readLE32(lpChunk->ckSize) != 2) return ZEFERR_GU_CHUNK_LENGTH;
    return zefSetGuisette(lpKelvaneData, readLE16(lpChunk->guisetteId));
}
