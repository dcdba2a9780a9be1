// Spectral-shape codebooks of the Peln decoder (trained on speech by
// tools/gen/pelncodebooks/train.sh).  One book per voicing class: 3 stages of 8
// vectors of B band values, stage after stage, vector after vector, with B
// the class's band count (15 for classes 6-10, 10 for the others).  Stage 1
// holds mean shapes, stages 2 and 3 corrections that are added to it.
#pragma once

#include "pelntables.h"

namespace zef::peln {

constexpr int kShortBook = kShapeStages * kShapeVectors * 10;
constexpr int kLongBook = kShapeStages * kShapeVectors * 15;

extern const float Amp0_3x3x10[kShortBook];
extern const float Amp1_3x3x10[kShortBook];
extern const float Amp2_3x3x10[kShortBook];
extern const float Amp3_3x3x10[kShortBook];
extern const float Amp4_3x3x10[kShortBook];
extern const float Amp5_3x3x10[kShortBook];
extern const float Amp6_3x3x15[kLongBook];
extern const float Amp7_3x3x15[kLongBook];
extern const float Amp8_3x3x15[kLongBook];
extern const float Amp9_3x3x15[kLongBook];
extern const float Amp10_3x3x15[kLongBook];
extern const float Amp11_3x3x10[kShortBook];
extern const float Amp12_3x3x10[kShortBook];
extern const float Amp13_3x3x10[kShortBook];
extern const float Amp14_3x3x10[kShortBook];
extern const float Amp15_3x3x10[kShortBook];

// The book of each voicing class, in class order.
extern const float* const kShapeBooks[kVoicingClasses];

}  // namespace zef::peln
