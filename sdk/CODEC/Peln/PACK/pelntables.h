// Quantiser tables of the Peln frame, the band layout of the spectral shape
// per voicing class, and the bit layout of a packed frame.
#pragma once

#include <cstdint>

namespace zef::peln {

constexpr int kFieldCount = 16;
constexpr int kFrameBits = 67;
constexpr int kLeadFields = 2;
constexpr int kBitRate = 2978;
constexpr int kLpcOrder = 10;
constexpr int kVoicingCodes = 16;
constexpr int kEnergyCodes = 32;
constexpr int kLspSlots = 32;
constexpr int kShapeStages = 3;
constexpr int kShapeVectors = 8;   // per stage: 3-bit codes
constexpr int kVoicingClasses = 16;
constexpr int kMaxBands = 15;

// Field widths in frame order: voicing, pitch, LSP 0 .. 9, three shape
// stages, energy.
extern const uint8_t kFieldWidths[kFieldCount];
// Width in bits of each LSP code (a row of lspdiff uses 2^width slots).
extern const uint8_t kLspBits[kLpcOrder];

extern const float Pv_Table[kVoicingCodes];            // voicing probability k / 15
extern const float Energy_Peln_TABLE[kEnergyCodes];    // log10 of the frame energy
extern const float lspdiffPeln[kLpcOrder][kLspSlots];  // Hz: row 0 absolute, rows 1-9 steps
extern const float kBackgroundLsp[kLpcOrder];          // 300, 700, ..., 3900 Hz

// Per voicing class: band count B, warp constant c and top frequency Fmax;
// the bands lie at Fmax * sinh(n / c) / sinh(B / c) for n = 1 .. B.
struct BarkRow {
    float bands;
    float warp;
    float topHz;
};
extern const BarkRow BarkCntl[kVoicingClasses];

}  // namespace zef::peln
