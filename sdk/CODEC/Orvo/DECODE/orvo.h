// The Orvo decoder's state and its inner steps.  Everything lives in one
// zero-filled record behind lpCodecState, sized for the longest frame
// (900 samples at warp 5.0), so that no frame allocates anything.
#pragma once

#include <cstdint>

#include "fft256.h"
#include "orvonoise.h"
#include "orvotables.h"
#include "zefinternal.h"

namespace zef::orvo {

constexpr uint16_t kOrvoTag = 0x0504;
constexpr int kBaseFrame = 180;
constexpr int kBaseCrossfade = 50;              // W at warp 1.0: frames overlap by this much
constexpr int kMaxFrame = 900;                  // N at warp 5.0
constexpr int kMaxHalf = 575;                   // H at warp 5.0
constexpr int kMaxWindow = 2 * kMaxHalf + 1;
constexpr int kMaxHarmonics = 60;
constexpr int kSubframes = 5;
constexpr int kSineSize = 2048;                 // table units per turn
constexpr int kEnergyHistory = 100;
constexpr float kMinPeriod = 16.0f;
constexpr float kMaxPeriod = 125.0f;

// The decoder's own failure codes (the engine passes them through).
constexpr uint32_t kErrNotOrvo = 40002;
constexpr uint32_t kErrSynthesizer = 40004;
constexpr uint32_t kErrWarpHigh = 11110;
constexpr uint32_t kErrWarpLow = 11111;

extern const float level1[kVoicingCodes];   // synthesis voicing per code
extern const float lsf_coefo[kLpcOrder];    // initial previous LSPs of lpc_int

struct FrameParams {
    float voicing;     // 0.0 unvoiced .. 1.0 voiced
    float period;      // samples at 8000 Hz, 16 .. 125
    float gain;        // linear frame energy; divided by sqrt(harmonics) in synthesis
    int16_t harmonics;
    float lsp[kLpcOrder];  // Hz, ascending
};

struct CodeRecord {
    const float* voicingTable;
    int32_t voicingTableSize;
    int16_t voicingCode;
    int16_t pitchCode;
    const float* gainTable;
    int32_t gainTableSize;
    int16_t energyCode;
    int16_t lspCodes[kLpcOrder];
    float energyHistory[kEnergyHistory];
    float backgroundLsp[kLpcOrder];
    float fadeCounter;
    float prevLsp[kLpcOrder];
};

struct SynthState {
    float unvoiced[kMaxFrame];
    float voiced[kMaxFrame];
    float excitation[kMaxFrame];
    float filterMemory[kLpcOrder];  // last outputs, newest first
    float prevLsp[kLpcOrder];
    float subLpc[kSubframes][kLpcOrder];
    float frameLpc[kLpcOrder];
    float amp[kMaxHarmonics];
    float period;
    int16_t harmonics, voicedCount;
    int16_t N, W, H;
    int16_t lastN, lastW;           // geometry the window was built for
    float window[kMaxWindow];       // crossfade: rises over W, flat, falls over W
    float overlapNorm[kMaxFrame];
    int16_t slowDown;
    float spectrum[kFft256Size];    // enhancement work space
    float envelope[kFft256Size];
};

struct VoicedState {
    float amp[kMaxHarmonics];       // amplitudes at the end of the previous frame
    double phase[kMaxHarmonics];    // end phases in radians
    double prevOmega;               // previous fundamental, radians per sample
    int16_t prevCount;
    int16_t position;               // read position in un
    float oldTone[kMaxHalf];        // crossfade buffers of large pitch jumps
    float newTone[kMaxHalf];
};

struct NoiseBookState {
    const int16_t* const* books;
    uint16_t position;
    uint16_t length;
    uint16_t count;
};

struct UnvoicedState {
    int16_t prevCode;
    int16_t prevUnvoiced;
    float prevGain;
    float segA[kMaxHalf];
    float segB[kMaxHalf];
};

// Integer rendition (synthesis modes 2 and 3).  Excitation and filter run in
// Q6 samples; phases are Q48 turns that wrap by themselves.
constexpr int kFixShift = 6;
struct FixedState {
    int32_t window[kMaxWindow];     // Q15, 1.0 = 32768
    int32_t unvoiced[kMaxFrame];    // Q6
    int32_t excitation[kMaxFrame];  // Q6
    int64_t voiced[kMaxFrame];      // Q31 sums of the integer oscillators
    int32_t filterMemory[kLpcOrder];
    int32_t segA[kMaxHalf];
    int32_t segB[kMaxHalf];
    int16_t sine[kSineSize];        // Q15
    int64_t randomTurns[kRandomPhaseCount];  // un in Q48 turns
    uint64_t phase[kMaxHarmonics];  // end phases, Q48 turns
    int32_t amp[kMaxHarmonics];     // Q16
    int64_t prevFreq;               // fundamental, Q48 turns per sample
    int16_t prevCount;
    int16_t position;
    int64_t oldTone[kMaxHalf];      // Q31 sums
    int64_t newTone[kMaxHalf];
};

struct OrvoState {
    FrameParams frame;
    CodeRecord code;
    SynthState syn;
    VoicedState voi;
    NoiseBookState books;
    UnvoicedState uv;
    FixedState fix;
    Fft256Tables fft;
    float cos_table[kSineSize];     // sin(2 pi i / 2048)
};

inline OrvoState* orvoState(ZefControlBlock* cb) { return static_cast<OrvoState*>(cb->lpCodecState); }

// The synthesis filter changes coefficients five times a frame: four
// subframes of trunc(N / 5) samples and a last one with the rest.
inline int subframeLength(int N, int j) {
    const int L = int(N / 5.0);
    return j < kSubframes - 1 ? L : N - (kSubframes - 1) * L;
}

// ---- parameter decoding (unpackorvo.cpp) ----
void initQuanOrvo_50(CodeRecord* code);
float LutPv(const CodeRecord* code);
float Q2F0(int code);
float Q2_En(const CodeRecord* code);
void lspdiffdecode34(const int16_t codes[kLpcOrder], FrameParams* frame);
float PitchShift8k(float period, const ZefControlBlock* cb);
void FadeSilence8k(ZefControlBlock* cb);

// ---- synthesis ----
void initSYN8k(OrvoState* st);
void initUVCB8k(NoiseBookState* books);
uint32_t initFrame8k(ZefControlBlock* cb);
void lsp_lpc(const float lsp[kLpcOrder], float a[kLpcOrder]);
void lpc_int(const float lsp[kLpcOrder], SynthState* syn);
void enhance(const float a[kLpcOrder], float voicing, float period, int voicedCount, float amp[kMaxHarmonics],
             ZefControlBlock* cb);
int voicedFromCode(int code, float period, int harmonics);
void getRandCB8k(float* out, int n, NoiseBookState* books, int book, int back);
void getRandCB8k(int32_t* out, int n, NoiseBookState* books, int book, int back);
void uvSyn8k_flt(int harmonics, ZefControlBlock* cb);
int voi_syn(int harmonics, ZefControlBlock* cb);
int voiSynOscillators(int harmonics, ZefControlBlock* cb);  // voiced part only
void lpc_syn_flt(ZefControlBlock* cb);

// ---- integer rendition (fixsyn.cpp) ----
void initFix8k(FixedState* fix, const float* cosTable);
void uvSyn8k_fix(int harmonics, ZefControlBlock* cb);
int voiSyn8k_fix(int harmonics, ZefControlBlock* cb);
void mixFloatVoiced8k_fix(ZefControlBlock* cb);  // mode 2: floating voiced part into the Q6 excitation
void lpc_syn_fix(ZefControlBlock* cb);

}  // namespace zef::orvo
