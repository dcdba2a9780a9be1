// The codec engine: brings a decoder up for one session, turns each packed
// frame into a block of PCM at the requested rate and sample size, drops
// frames for strong speed-up, and tears the decoder down again.
//
// Every failure of BrewBlackArt or DecodeSpeech leaves the engine expelled:
// the session must brew again before decoding on.
#pragma once

#include <cstdint>

#include "zefinternal.h"

namespace zef {

// The engine's own codes; the session wraps them (set-up 501, decoding 504).
constexpr uint32_t kEngineTagNotHandled = 10041;  // no decoder for this codec tag (set-up, teardown), or no encoder
constexpr uint32_t kEngineBadDirection = 10042;   // direction neither compress (1) nor decompress (2)
constexpr uint32_t kEngineNotDecodable = 10050;   // codec tag not decoded here, or the engine is not brewed
constexpr uint32_t kEngineWarpTooSmall = 11140;   // warp factor below 0.2 (or not a number)
constexpr uint32_t kEngineWarpTooBig = 11141;     // warp factor above 5.0
constexpr uint32_t kEngineNoResampler = 20121;    // no low-pass filter for this pair of rates

constexpr uint16_t kCodecTagOrvo = 0x0504;
constexpr uint16_t kCodecTagPeln = 0x1521;
constexpr uint16_t kDirectionCompress = 1;
constexpr uint16_t kDirectionDecompress = 2;

// Needs wCodecTag, wDirection, dwCodecRate, dwOutputRate (0: none asked for,
// the output stays at the codec rate) and wOutputSampleSize.  Fills the frame
// geometry.  Brewing an engine that is already brewed expels it first.
uint32_t BrewBlackArt(ZefControlBlock* cb);

// One packed frame from bFieldCodes to wOutputSamples samples at lpOutput
// (each wOutputSampleSize bytes); wFrameOutput tells whether they count.
uint32_t DecodeSpeech(ZefControlBlock* cb);

// Releases everything BrewBlackArt built; 10050 when nothing is brewed.
uint32_t ExpelBlackArt(ZefControlBlock* cb);

// Compression: one frame of wFrameSamples 16-bit samples at lpEncodeInput
// (8000 Hz) becomes the field codes in bFieldCodes, ready to pack.
uint32_t EncodeSpeech(ZefControlBlock* cb);
uint32_t InitCompress(ZefControlBlock* cb);
uint32_t FreeCompress(ZefControlBlock* cb);

// The decompression halves of the two above.
uint32_t InitDecompress(ZefControlBlock* cb);
uint32_t FreeDecompress(ZefControlBlock* cb);

// Frame dropping for warp factors below 1: only the first frame of every
// trunc(1 / warp) is decoded, the decoder shortens it by the rest.  Sets
// *decode, and for a dropped frame wFrameOutput and wOutputSamples to 0.
uint32_t FrameDrop(ZefControlBlock* cb, bool* decode);

// The most samples one DecodeSpeech call of this brewed engine can leave at
// lpOutput, for any warp factor the engine accepts: the output space the
// session must offer for a frame.
uint32_t EngineMaxOutputSamples(const ZefControlBlock* cb);

}  // namespace zef
