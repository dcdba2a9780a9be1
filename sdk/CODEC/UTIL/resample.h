// Output rate conversion behind the decoders: linear interpolation between
// the decoded samples plus a recursive low-pass filter that runs at the
// higher of the two rates (after interpolating up, before interpolating down).
// State carries from block to block, so a stream converts seamlessly however
// it is cut into frames.
#pragma once

#include <cstdint>

#include "zefinternal.h"

namespace zef {

// One half of a recursive filter: coefficients, their count and a delay value
// (0, 2 or 4) that set-up reports and nobody uses.
struct IIRSection {
    const double* coef;
    int16_t count;
    int16_t delay;
};

// A low-pass filter for the higher rate of a pair, cutting off below half the
// lower one.  ratio is always lower / higher; den.coef[0] is 1.0.
struct IIRListEntry {
    double ratio;
    IIRSection num;
    IIRSection den;
};

constexpr int kIIRListSize = 11;
extern const IIRListEntry IIRlist[kIIRListSize];

// A running filter: its table entry and a direct-form-II-transposed state of
// max(numerator, denominator) doubles (the last slot stays 0).
struct IIR_INT {
    const IIRListEntry* entry;
    double* state;
    int16_t stateLength;
};

constexpr int kResampleHistory = 4;
// The longest block a decoder leaves: 180 samples stretched by a warp of 5.0.
constexpr int32_t kResampleMaxInput = 900;

struct ReSampler {
    double ratio;                              // input rate / output rate
    IIR_INT filter;                            // entry null when the rates are equal
    int16_t history[kResampleHistory + 1];     // history[j]: the input j samples before the block
    int16_t historyLength;                     // kResampleHistory
    int16_t* buffer;                           // intermediate samples
    int32_t bufferSize;
    double phase;                              // where the next block's first output falls
};

// Fills a zeroed (or freed) record for converting inRate to outRate and
// reports the filter's delay value.  0, or -1 when no filter in IIRlist fits
// the pair (or a rate is not a positive number); nothing stays allocated then.
int initReSampleFilters(ReSampler* r, double inRate, double outRate, int16_t* delay);
void freeReSampleFilters(ReSampler* r);

// How many output samples the next block of n input samples yields, and the
// most that any block (up to kResampleMaxInput) can yield.
int32_t reSampleCount(const ReSampler* r, int32_t n);
int32_t reSampleCapacity(const ReSampler* r);

// Converts the decoder's block in the work buffer in place and sets
// wOutputSamples to the converted count: 0, or 20121 when the block does not
// fit the converter or the work buffer.
uint32_t ReSampleSynthesisSpeech(ZefControlBlock* cb);

// Converts n samples from in to m samples at out through the intermediate
// buffer (in and out may be the same buffer).  Returns the count written,
// which is smaller than m only when m is more than n samples can give.
int32_t ReSampleFiltData(const int16_t* in, int32_t n, int16_t* out, int32_t m, ReSampler* r);

// Interpolates m samples from the n at x into y (separate buffers), carrying
// history and phase on.  Returns the count written (at most reSampleCount).
int32_t LinearReSample(const int16_t* x, int32_t n, int16_t* y, int32_t m, ReSampler* r);

// Runs count samples through the filter (in and out may be the same buffer);
// outputs are truncated toward zero and clipped to 16 bits.
void FilterINT(IIR_INT* f, const int16_t* in, int16_t* out, int32_t count);

}  // namespace zef
