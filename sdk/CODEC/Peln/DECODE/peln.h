// The Peln decoder's state and its inner steps.  Everything lives in one
// zero-filled record behind lpCodecState, so that no frame allocates
// anything.
//
// Segments: a frame is synthesised as one segment of L = w' * 180 samples
// (w' <= 1) or stretched over R = ceil(w') segments of w' * 180 / R samples,
// so L never exceeds 180.  Neighbouring segments overlap by O samples; each
// call emits K = (L' - O') / 2 + O' + (L - O) / 2 samples, from the middle of
// the previous segment's body to the middle of the current one's, which is
// at most 180.  The output manager cuts that stream into blocks of 180.
#pragma once

#include <cstdint>

#include "fft256.h"
#include "pelncodebooks.h"
#include "pelntables.h"
#include "zefinternal.h"

namespace zef::peln {

constexpr uint16_t kPelnTag = 0x1521;
constexpr int kBlock = 180;             // samples per frame and per output block
constexpr int kMaxSegment = 180;        // L
constexpr int kMaxOutput = 180;         // K
constexpr int kMaxRun = kFft256Size;    // noise run L + O' + 1 <= 251
constexpr int kMaxTone = 125;           // crossfade tones: (L' + O') / 2 and (L - O) / 2 + O'
constexpr int kMaxHarmonics = 60;
constexpr int kMirrorBins = kFft256Size / 4 + 2;  // bins 0 .. 65
constexpr int kTurnPoints = 256;        // points of the oscillators' table of one turn
constexpr int kEnergyHistory = 100;
constexpr int kRandomPhaseCountPeln = 320;  // unPeln, read circularly
constexpr float kMinPeriod = 16.0f;
constexpr float kMaxPeriod = 125.0f;
constexpr float kMinWarp = 0.2f;
constexpr float kMaxWarp = 5.0f;

// The decoder's own failure codes (the engine passes them through).
constexpr uint32_t kErrNotPeln = 50002;
constexpr uint32_t kErrLostBlocks = 50014;

struct FrameParams {
    float voicing;          // 0.0 unvoiced .. 1.0 voiced
    float period;           // samples at 8000 Hz, 16 .. 125
    uint32_t reserved;      // carried into the previous frame, never read
    float energy;           // linear
    float lsp[kLpcOrder];   // Hz, ascending
    float amp[kMaxHarmonics];  // harmonics 1 .. 60
};

struct CodeRecord {
    const float* voicingTable;
    int16_t voicingTableSize;
    int16_t voicingCode, pitchCode, energyCode;
    const float* energyTable;
    int16_t energyTableSize;
    int16_t lspCodes[kLpcOrder];
    int16_t shapeCodes[kShapeStages];
    float energyHistory[kEnergyHistory];  // linear energies of unvoiced frames
    float backgroundLsp[kLpcOrder];
    float fadeCounter;
    int16_t bandCount[kVoicingClasses];
    float bandFreq[kVoicingClasses][kMaxBands];  // Hz
    const float* shapeBooks[kVoicingClasses][kShapeStages];
};

struct EnhanceState {
    float re[kFft256Size];          // spectrum of 1, -a_1 .. -a_10
    float im[kFft256Size];
    float power[kFft256Size / 2];   // 1 / |A|^2 per bin
    float envelope[kFft256Size / 2];  // lines between the peaks of sqrt(power)
    // cos and sin of 2 pi (n + 1) k / 256 for k = 0 .. 65: the decoder sums
    // the power of bins k and 128 - k from them
    double cosine[kLpcOrder][kMirrorBins];
    double sine[kLpcOrder][kMirrorBins];
};

struct FilterState {
    float prevLsp[kLpcOrder];  // LSPs of the previous segment
    float lsp[kLpcOrder];      // current subframe
    float memory[kLpcOrder];   // last outputs, oldest first
};

struct UnvoicedState {
    float run[kMaxRun];        // the segment's shaped noise
    float padded[kFft256Size];  // the run in the middle of zeros, in and out of the transforms
    float re[kFft256Size / 2 + 1];
    float im[kFft256Size / 2 + 1];
    float out[kMaxOutput];     // the call's unvoiced excitation
    float tail[kMaxRun];       // the previous run's body and faded end, not yet emitted
    float seed;
};

struct VoicedState {
    float voiced[kMaxOutput];
    float excitation[kLpcOrder + kMaxOutput];  // filter memory slots, then the excitation
    float amp[kMaxHarmonics];      // amplitudes at the end of the previous call
    double phase[kMaxHarmonics];   // end phases in radians, within one turn
    float oldTone[kMaxTone];
    float newTone[kMaxTone];
    double prevOmega;              // previous fundamental, radians per sample
    int16_t prevCount;             // voiced harmonics of the previous call
    int16_t position;              // read position in unPeln
    const float* unPeln;
    double turnCos[kTurnPoints];   // cos and sin of 2 pi i / kTurnPoints
    double turnSin[kTurnPoints];
};

struct PrevFrame {
    float amp[kMaxHarmonics];
    float lsp[kLpcOrder];
    float period, voicing, energy;
    uint32_t reserved;
};

enum Block : int16_t { kNoBlock = 0, kBlockA = 1, kBlockB = 2 };

struct SynthState {
    EnhanceState enh;
    FilterState filt;
    UnvoicedState uv;
    VoicedState voi;
    int16_t blockA[kBlock];
    int16_t blockB[kBlock];
    int16_t segment[kMaxOutput];
    int16_t fillPos;               // samples already in the block being filled
    int16_t filling;               // kBlockA or kBlockB
    int16_t finished;              // the block this call completed, or kNoBlock
    float segAmp[kMaxHarmonics];
    float segLsp[kLpcOrder];
    float segLpc[kLpcOrder];
    float segPeriod, segVoicing;
    int16_t harmonics, voicedCount, unvoicedCount;
    int16_t repetition;            // segments made so far from the current frame
    int16_t L, O, span;
    int16_t prevL, prevO, prevSpan;
    int16_t outCount;              // K
    PrevFrame prev;
    float warp;                    // w' of the frame being synthesised
    int16_t voicingCode;
};

struct PelnState {
    FrameParams frame;
    CodeRecord code;
    SynthState syn;
    Fft256Tables fft;
};

inline PelnState* pelnState(ZefControlBlock* cb) { return static_cast<PelnState*>(cb->lpCodecState); }

// Harmonics below about 0.9254 * 4000 Hz for a period of P samples.
int harmonicCountPeln(float period);

// ---- parameter decoding (unpackpeln.cpp) ----
void initQuanPeln(CodeRecord* code);
float LutPvPeln(const CodeRecord* code);
float LutPitchPeln(int code);
void lspdiffdecode34Peln(const int16_t codes[kLpcOrder], float lsp[kLpcOrder]);
float UnQuanEnergyPeln(const CodeRecord* code);
int UQFB_8kPeln(FrameParams* frame, const CodeRecord* code);
void DecodeMSVQcoeffsPeln(const int16_t* codes, float* out, const float* const* stages, int dimension,
                          int stageCount);
void VocInt4kVecPeln(const float* bandFreq, const float* bandValue, int bands, const float* harmonicFreq,
                     float* amp, int harmonics);
float PitchShiftPeln(float period, const ZefControlBlock* cb);
void FadeSilencePeln(ZefControlBlock* cb);

// ---- synthesis ----
void SetupPeln(ZefControlBlock* cb);
void InterpolateHarmonics(const float* curAmp, float curPeriod, const float* prevAmp, float prevPeriod,
                          float lambda, float* outAmp, float* outPeriod);
void lsp_to_lpcPeln(const float lsp[kLpcOrder], float a[kLpcOrder]);
void initEnhancePeln(EnhanceState* enh);
void enhancePeln(const float a[kLpcOrder], float voicing, float period, int harmonics, float amp[kMaxHarmonics],
                 PelnState* st);
// The enhancement in steps, for a model of the decoder that enhances
// several sets of amplitudes with one predictor: the envelopes of `a` into
// st->syn.enh (false, and nothing done, for an all-zero predictor; enh.re
// and enh.im then hold the spectrum of 1, -a_1 .. -a_10), each harmonic's
// gain, and the gains applied with the sum of the amplitudes kept.  The
// decoder's enhancePeln gives the same gains within 1e-5, except where a
// zero of the predictor lies so close to the unit circle that the
// single-precision transform here cannot resolve |A|^2 (enhancePeln sums
// it in double precision).
bool enhancementEnvelope(const float a[kLpcOrder], PelnState* st);
void enhancementGains(const EnhanceState& enh, float voicing, float period, int harmonics, double* gain);
void applyEnhancement(const double* gain, int harmonics, float* amp);
// X[k], k = 0 .. 128, of a real x[0 .. 255], and x back from X[0 .. 128]
// (the upper half taken as the conjugate mirror; unscaled: 256 x).
void forwardRealPeln(const Fft256Tables* tables, const float* x, float* re, float* im);
void inverseRealPeln(const Fft256Tables* tables, const float* re, const float* im, float* x);
void randGenPeln(float* out, int n, float seed);
void uvsynPeln(PelnState* st);
void initVoicedPeln(VoicedState* vs);
void vsynPeln(PelnState* st);
void lpcsynPeln(const float segLsp[kLpcOrder], int16_t* out, float* excitation, FilterState* filt, int count);
uint32_t OutputManagerPeln(SynthState* syn);

}  // namespace zef::peln
