// The built-in Guisettes: named voice presets.  Each record pairs a
// transformation of the speech parameters (applied while compressing) with a
// PCM effect (applied to decoded samples); the number travels with a file.
#pragma once

#include <cstdint>

#include "zefapi.h"

namespace zef {

constexpr uint16_t kBuiltInGuisetteCount = 27;
constexpr unsigned kGuisetteTextSize = 44;
constexpr unsigned kGuisetteDescriptionSize = 256;

struct GuisetteRecord {
    uint16_t guisetteId;                       // 0: no Guisette
    char category[kGuisetteTextSize];
    char presetName[kGuisetteTextSize];
    char description[kGuisetteDescriptionSize];
    uint32_t reserved;                         // copied into the control block on activation
    uint16_t transformType;                    // 0..9
    uint16_t amount;                           // 0..255
    uint16_t pcmEffect;                        // PCM effect number, 0 for none
    uint16_t spare;
};

// In catalogue order; record 0 is "None".
extern const GuisetteRecord gBuiltInGuisettes[kBuiltInGuisetteCount];

// Publishes the catalogue in the library globals on the first call and gives
// the number of Guisettes.  0, or the error of the library globals.
uint16_t AccumulateGuisettes(uint16_t* count);

// The published catalogue's record for a number: 606 (secondary the number)
// when there is none or nothing has been published yet.
uint16_t GetGuisetteInfo(unsigned number, const GuisetteRecord** out);

// ---- the transformation state (guisettes.cpp) ----------------------------
// The analysis side reads the state once per frame through the *_gu2 readers.
uint16_t InitGuisette(GuisetteState* state);  // all zero, formantWarp 1
uint16_t FreeGuisette(GuisetteState* state);  // all zero
// type 0..9, amount 0..255: ZEFERR_GU_AMOUNT_RANGE, ZEFERR_GU_STATE_NULL,
// ZEFERR_GU_TYPE_RANGE (not recorded); type 0 keeps the other members.
uint16_t SetGuisette(GuisetteState* state, int16_t type, int16_t amount);
float transposition_gu2(const GuisetteState* state);  // framePitch * pitchFactor
float squash_gu2(const GuisetteState* state);         // framePitch * squashSlope + squashBase
float voicing_gu2(const GuisetteState* state);        // frameVoicing * voicingFactor
float minMax_gu2(GuisetteState* state);               // altHigh, altLow, altHigh, ...

// ---- sessions --------------------------------------------------------------
// Prepares the state for the session's mode (cb->wMode) and activates the
// session's Guisette (cb->wGuisette) when it is not 0.
uint16_t InitializeGuisettes(KELVANE_DATA* kd, ZefControlBlock* cb);
// Loads a catalogue Guisette into the session: its transformation when
// compressing, its PCM effect when decompressing.  In a decompression
// session a Guisette without a working PCM effect sets cb->wGuisette to 0.
uint16_t ActivateGuisette(KELVANE_DATA* kd, unsigned number);
uint16_t CleanupGuisettes(ZefControlBlock* cb);  // frees the effect state

// ---- previews (previews.cpp, generated) ------------------------------------
// Coded speech, a complete WAVE image per preset, in catalogue order: the
// preset's voice transformation is in the frames, its number in a Guisette
// chunk (record 0 has none).
constexpr uint16_t kPreviewCount = 27;
constexpr uint16_t kPreviewSize = 1566;           // record 0
constexpr uint16_t kPreviewSizeWithChunk = 1576;  // the others
extern const PreviewRecord gZefPreviewRecords[kPreviewCount];
uint16_t GetNumGUPreviews(uint16_t* count);
uint16_t GetGuisettePreviewsList(const PreviewRecord** list);

}  // namespace zef
