// Quantiser tables of the Orvo frame and the bit layout of a packed frame.
#pragma once

#include <cstdint>

namespace zef::orvo {

constexpr int kFieldCount = 14;
constexpr int kFrameBits = 54;
constexpr int kLeadFields = 2;
constexpr int kLpcOrder = 10;
constexpr int kVoicingCodes = 16;
constexpr int kGainCodes = 64;
constexpr int kLspSlots = 16;

// Field widths in frame order: voicing, pitch, energy, LSP 0 .. 9, spare bit.
extern const uint8_t kFieldWidths[kFieldCount];
// Width in bits of each LSP code (a row of lspdiff uses 2^width slots).
extern const uint8_t kLspBits[kLpcOrder];

extern const float Pv_Table[kVoicingCodes];   // voicing probability k / 15
extern const float GainTable[kGainCodes];     // log10 of the frame energy
extern const float lspdiff[kLpcOrder][kLspSlots];  // Hz: row 0 absolute, rows 1-9 steps
extern const float kBackgroundLsp[kLpcOrder]; // 300, 700, ..., 3900 Hz

}  // namespace zef::orvo
