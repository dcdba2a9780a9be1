// The library's own records: the session control block, the input and output
// endpoint records, the file record, and the helpers every module shares.
// Each record is allocated zeroed and starts with a guard word that every
// function checks before it touches the record.
#pragma once

#include <cstdint>
#include <cstdio>

#include "mirlane.h"

namespace zef {

constexpr uint32_t kControlBlockGuard = 0xc0dec0deu;
constexpr uint32_t kInputGuard = 0xf0000du;
constexpr uint32_t kOutputGuard = 0xd00d00u;

constexpr uint32_t kFileBufferSize = 8192;     // file layer buffer
constexpr uint32_t kFunctionBufferSize = 2048; // caller-function endpoint buffer
constexpr uint32_t kCompatBlockSize = 1528;    // compatibility block in front of coded data
constexpr uint16_t kFormatTagPCM = 1;
constexpr uint16_t kFormatTagZef = 98;
constexpr uint16_t kFormatTagAIFF = 714;
constexpr int kMaxFields = 32;

enum SessionMode : uint16_t { kModeCompress = 1, kModeDecompress = 2, kModeBoth = 3 };

// Description of the stream behind an input: filled by the container
// readers, completed by ParseHeader.
struct StreamDesc {
    uint16_t wFormatTag;
    uint16_t wChannels;
    uint16_t wBitsPerSample;
    uint16_t wBlockAlign;
    uint16_t wBytesPerSample;
    uint32_t dwSamplingRate;
    uint32_t dwAvgBytesPerSec;
    uint32_t dwDataOffset;   // offset of the sample or frame data from the start of the stream
    uint32_t dwDataLength;   // bytes
    uint32_t dwSampleCount;  // "fact" count, AIFF frames, or computed
    uint32_t dwConsumed;     // samples consumed so far (streaming)
    float fDuration;         // seconds
};

// File record under the data endpoint.
struct OutFile;  // zefoutfile.h

struct FileRecord {
    uint8_t* lpBuffer;       // reading only: kFileBufferSize bytes
    uint32_t dwCapacity;
    uint32_t dwValid;
    KELVANE_DATA* lpKelvaneData;
    uint16_t wOpen;
    FILE* lpStream;
    uint16_t wEOF;
    uint16_t wDirection;     // 0 reading, 1 writing
    char* lpName;            // writing only
    uint32_t dwFileSize;     // reading only
    uint32_t dwBytesRead;
    OutFile* lpOut;          // writing only: put in place of the name when complete
};

struct InputVars {
    uint32_t dwGuard;              // kInputGuard
    uint8_t* lpBase;               // input bytes (caller's buffer, file or function buffer)
    uint32_t dwTotal;
    uint32_t dwValid;
    uint32_t dwReadPos;
    uint16_t wEOF;
    FileRecord* lpFile;
    uint8_t* lpOwnedBuffer;        // function input: the endpoint's own buffer
    uint32_t dwCallerValue;        // function input: the caller's value
    StreamDesc desc;
    uint32_t dwFlags;              // the stream's flags word from the header
    uint16_t wSaw16ByteHeader;
    uint16_t wCompatLength;
    uint32_t dwMarkerChunkOffset;  // "ZEFm" offset, or where markers would follow "ZEFd"
    uint8_t* lpMarkerChunk;        // "ZEFm" chunk in memory
    uint8_t** lpMarkerList;        // pointers to its records, sorted by position
    uint32_t dwMarkerCount;
    uint32_t dwStartByte;          // marker segment, absolute; 0 when none
    uint32_t dwEndByte;
    uint32_t dwStreamOffset;       // function input: stream offset of the buffer's first byte
    uint32_t dwDataStart;          // stream offset of the first sample or frame
    int32_t iSoundDevice;          // sound input: the audio device's record handle (0 none)
    uint64_t qwSoundTaken;         // sound input: PCM bytes taken from the device
};

struct OutputVars {
    uint32_t dwGuard;              // kOutputGuard
    uint8_t* lpBase;
    uint32_t dwCapacity;
    FileRecord* lpFile;
    uint32_t dwWritePos;
    uint32_t dwHeaderLength;
    uint16_t wEnd;
    uint16_t wMode;                // 0 one-shot, 1 streaming
    uint32_t dwCallerValue;        // function output: the caller's value
    uint8_t* lpOwnedBuffer;        // file or function output: the endpoint's own buffer
    void* lpPlayback;              // sound output: the playback process's record
    uint32_t dwConverted;          // PCM output: bytes at the buffer's start already in the file's order
};

// Endpoint handler: (control structure, message 10/20/30/40) -> 0 or error.
using EndpointHandler = uint16_t (*)(KELVANE_DATA*, uint16_t);

struct GuisetteState {
    float semitones, squashBase, squashRange, altLow, altHigh;
    float framePitch, frameVoicing, squashSlope, pitchFactor, pitchFactor2;
    float voicingFactor, formantWarp;
    uint16_t altToggle, warpOn;
    int16_t type;
};

struct ZefControlBlock {
    uint32_t dwGuard;               // kControlBlockGuard
    KELVANE_DATA* lpKelvaneData;
    KELVANE_CALLBACK lpCallback;
    uint16_t wCallbackResult;
    EndpointHandler lpInputHandler;
    EndpointHandler lpOutputHandler;
    InputVars* lpInputVars;
    OutputVars* lpOutputVars;

    // session
    uint16_t wMode;                 // SessionMode
    uint16_t wBitPosition;          // 0..7 within the current input byte
    uint16_t wFramePending;
    uint16_t wUnpack;
    uint16_t wFrameless;            // attribute 0x80003
    uint16_t wDecoderFlag;          // set for frame-less decoding and old-form structures
    uint16_t wStatusReported;       // a start status went to the caller
    uint16_t wLevel;
    uint32_t dwFlags;               // stream flags word from the header
    float fHeaderValues[4];         // header values 1..4
    float fDefaultValue;            // value behind attribute 7
    uint16_t wOldForm;              // caller's structure is the 92-byte form
    uint16_t wVariant;              // codec setting 0x01000009
    uint16_t wFixedBitRate;
    uint32_t dwFramesProcessed;
    uint32_t dwInputSamplesProcessed;

    // effects and Guisettes
    uint16_t wGuisette;             // active Guisette number, 0 for none
    uint32_t dwGuisetteReserved;
    GuisetteState guisette;
    void* lpPCMEffect;

    // compression-side attributes
    uint32_t dwVadThreshold, dwVadSensitivity, dwVadDecision, dwAgcValue;
    int32_t iAgcMode;
    uint16_t wAgcModeSet;           // iAgcMode was given: automatic gain is off until then

    // codec engine
    uint16_t wCodecTag;             // 1284 (0x0504) Orvo, 5409 (0x1521) Peln, ...
    uint16_t wDirection;            // 1 compress, 2 decompress
    uint16_t wEngineReady;
    void* lpCodecState;
    uint16_t wFrameBits;
    uint16_t wLeadFieldBits;
    uint16_t wLeadFields;
    uint16_t wFieldCount;
    const uint8_t* lpFieldWidths;
    uint8_t bFieldCodes[kMaxFields];
    uint8_t bFrameLevel;
    uint16_t wBitRate;
    uint16_t wSynthesizer;
    uint32_t dwCodecRate;
    uint32_t dwOutputRate;
    uint16_t wOutputSampleSize;     // 1 or 2
    uint16_t wSwapBytes;
    uint16_t wResample;
    uint16_t wFrameSamples;
    uint16_t wOutputSamples;
    uint16_t wChannels;
    int16_t* lpOutput;
    int16_t* lpWorkBuffer;
    uint32_t dwWorkSamples;         // capacity of lpWorkBuffer in samples
    void* lpResampler;
    float fWarp, fRelPitch, fAbsPitch;
    uint16_t wUseAbsPitch;
    int16_t wDropGroup, wDropCountdown, wDropActive;
    int16_t wFrameOutput;
    int16_t wNeedFrame;
    uint16_t wSilenceFill;          // 1 while output is made without new packed frames
    uint16_t wPrevSilence;          // wSilenceFill of the previous frame (1 at stream start: fade-in)
    const int16_t* lpEncodeInput;   // compression: the frame's wFrameSamples samples at the codec rate
    void* lpCompressSession;        // compression: PCM reader, rate converter and bit packer
};

// Records an error: keeps the secondary value in the caller's structure
// (when there is one) and returns the number.
uint16_t storeError(uint16_t code, uint32_t secondary, KELVANE_DATA* kd, const char* file, int line);
#define ZEF_ERROR(code, secondary, kd) ::zef::storeError((code), (secondary), (kd), __FILE__, __LINE__)

inline ZefControlBlock* controlBlock(KELVANE_DATA* kd) {
    return kd ? static_cast<ZefControlBlock*>(kd->lpControlBlock) : nullptr;
}

// Guard checks: 0 when the record is sound, else the recorded error
// (155 control block, 157 input record, 156 output record).
uint16_t checkControlBlock(KELVANE_DATA* kd);
uint16_t checkInput(KELVANE_DATA* kd);
uint16_t checkOutput(KELVANE_DATA* kd);

inline uint32_t qualifierOf(uint32_t type) { return type & ZEFTYPE_QUALIFIER_MASK; }
inline uint32_t locationOf(uint32_t type) { return type & ZEFTYPE_LOCATION_MASK; }
inline uint32_t formatOf(uint32_t type) { return type & ZEFTYPE_FORMAT_MASK; }
inline bool isZef(uint32_t type) { return qualifierOf(type) == ZEFTYPE_QUALIFIER_ZEF; }
inline bool isMemoryLocation(uint32_t type) {
    uint32_t loc = locationOf(type);
    return loc == ZEFTYPE_LOCATION_BUFFER || loc == ZEFTYPE_LOCATION_PACKET;
}

bool isAcceptedRate(uint32_t rate);

}  // namespace zef

// The library's historical entry for recording an error (same as ZEF_ERROR).
uint16_t _StoreError(uint16_t code, uint32_t secondary, KELVANE_DATA* kd, const char* file, int line);
// Ends the process after an allocation failure of the signal-processing vectors.
[[noreturn]] void _ErrorMessage_(const char* message, int line, const char* file);
