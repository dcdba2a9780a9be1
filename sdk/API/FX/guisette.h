// The built-in Guisettes: named voice presets.  Each record pairs a
// transformation of the speech parameters (applied while compressing) with a
// PCM effect (applied to decoded samples); the number travels with a file.
#pragma once

#include <cstdint>

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

}  // namespace zef
