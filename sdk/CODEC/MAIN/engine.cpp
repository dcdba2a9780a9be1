#include "engine.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "codecs.h"
#include "orvoenc.h"
#include "pcmwidth.h"
#include "pelnenc.h"
#include "resample.h"
#include "vectors.h"

namespace zef {
namespace {

constexpr double kMinWarp = 0.2;
constexpr double kMaxWarp = 5.0;
constexpr uint32_t kMaxStretch = 5;        // a frame lasts at most 5 times its length
constexpr double kResampleFromHz = 100.0;  // closer rates play at the codec rate

// The calling interface accepts 11127.27 and 22254.55 Hz as 16.16 fixed-point
// numbers and passes them on as they are; every other rate is in Hz.
double rateHz(uint32_t rate) {
    if (rate == ZEF_RATE_11127_FIXED || rate == ZEF_RATE_22254_FIXED) return rate / 65536.0;
    return rate;
}

bool eightBit(const ZefControlBlock* cb) { return cb->wOutputSampleSize == 1; }
bool viaWorkBuffer(const ZefControlBlock* cb) { return eightBit(cb) || cb->wResample == 1; }

uint32_t initDecoder(ZefControlBlock* cb) {
    switch (cb->wCodecTag) {
    case kCodecTagOrvo:
        if (uint32_t rc = initDecodeOrvo(cb)) return rc;
        return initPackOrvo(cb);
    case kCodecTagPeln:
        if (uint32_t rc = initDecodePeln(cb)) return rc;
        return initPackPeln(cb);
    default:
        return kEngineTagNotHandled;
    }
}

uint32_t freeDecoder(ZefControlBlock* cb) {
    switch (cb->wCodecTag) {
    case kCodecTagOrvo: {
        uint32_t rc = freeDecodeOrvo(cb);
        uint32_t packRc = freePackOrvo(cb);
        return rc ? rc : packRc;
    }
    case kCodecTagPeln: {
        uint32_t rc = freeDecodePeln(cb);
        uint32_t packRc = freePackPeln(cb);
        return rc ? rc : packRc;
    }
    default:
        return kEngineTagNotHandled;
    }
}

uint32_t runDecoder(ZefControlBlock* cb) {
    switch (cb->wCodecTag) {
    case kCodecTagOrvo:
        if (uint32_t rc = unPackOrvo(cb)) return rc;
        return DecodeOrvo(cb);
    case kCodecTagPeln:
        if (uint32_t rc = unPackPeln(cb)) return rc;
        return DecodePeln(cb);
    default:
        return kEngineNotDecodable;
    }
}

uint16_t leadFieldBits(const ZefControlBlock* cb) {
    if (!cb->lpFieldWidths) return 0;
    int lead = std::min<int>({cb->wLeadFields, cb->wFieldCount, kMaxFields});
    uint16_t bits = 0;
    for (int i = 0; i < lead; ++i) bits = uint16_t(bits + cb->lpFieldWidths[i]);
    return bits;
}

uint32_t initResampler(ZefControlBlock* cb) {
    const double in = rateHz(cb->dwCodecRate), out = rateHz(cb->dwOutputRate);
    cb->wResample = std::fabs(out - in) >= kResampleFromHz ? 1 : 0;
    if (!cb->wResample) return 0;
    auto* r = static_cast<ReSampler*>(static_cast<void*>(VectorCHR(sizeof(ReSampler))));
    cb->lpResampler = r;
    int16_t delay = 0;  // the decoder does not compensate the filter's delay
    return initReSampleFilters(r, in, out, &delay) == 0 ? 0 : kEngineNoResampler;
}

// Five frames at the output rate (the longest frame, at a warp of 5.0), and
// never less than the decoder's longest frame or the converter's largest
// result, so that nothing written into the buffer can run past it.
uint32_t workBufferSamples(const ZefControlBlock* cb) {
    const uint64_t frame = cb->wFrameSamples;
    uint64_t perFrame = frame;
    const auto codecHz = uint64_t(rateHz(cb->dwCodecRate));
    if (codecHz) perFrame = std::max(frame, frame * uint64_t(rateHz(cb->dwOutputRate)) / codecHz + 1);
    uint64_t samples = std::max<uint64_t>(kMaxStretch * perFrame, kResampleMaxInput);
    if (auto* r = static_cast<const ReSampler*>(cb->lpResampler))
        samples = std::max<uint64_t>(samples, uint64_t(reSampleCapacity(r)));
    return uint32_t(samples);
}

void releaseConverter(ZefControlBlock* cb) {
    if (auto* r = static_cast<ReSampler*>(cb->lpResampler)) {
        freeReSampleFilters(r);
        safefree(r);
        cb->lpResampler = nullptr;
    }
    safefree(cb->lpWorkBuffer);
    cb->dwWorkSamples = 0;
    cb->wResample = 0;
}

// The decoder left wOutputSamples 16-bit samples in the work buffer (or at
// out): convert rate, width and byte order into the caller's buffer.
uint32_t deliver(ZefControlBlock* cb, int16_t* out, int16_t* work) {
    if (viaWorkBuffer(cb)) cb->wOutputSamples = uint16_t(std::min<uint32_t>(cb->wOutputSamples, cb->dwWorkSamples));
    if (cb->wResample == 1) {
        if (uint32_t rc = ReSampleSynthesisSpeech(cb)) return rc;
        if (!eightBit(cb)) std::memcpy(out, work, size_t(cb->wOutputSamples) * sizeof(int16_t));
    }
    if (eightBit(cb))
        pcm16to8(work, reinterpret_cast<uint8_t*>(out), cb->wOutputSamples);
    else if (cb->wSwapBytes == 1)
        VecSwap2(out, cb->wOutputSamples);
    return 0;
}

}  // namespace

uint32_t FrameDrop(ZefControlBlock* cb, bool* decode) {
    *decode = false;
    const double w = cb->fWarp;
    if (!(w >= kMinWarp)) return kEngineWarpTooSmall;  // a NaN lands here too
    if (w > kMaxWarp) return kEngineWarpTooBig;
    for (;;) {
        if (!cb->wDropActive) {
            cb->wDropGroup = std::max<int16_t>(static_cast<int16_t>(std::trunc(1.0 / w)), 1);
            cb->wDropCountdown = int16_t(cb->wDropGroup + 1);
            cb->wDropActive = 1;
        }
        --cb->wDropCountdown;
        if (cb->wDropCountdown > 0) break;
        cb->wDropActive = 0;  // the group is done (a damaged countdown restarts one too)
    }
    if (cb->wDropCountdown == cb->wDropGroup) {
        cb->wFrameOutput = 1;
        *decode = true;
    } else {
        cb->wFrameOutput = 0;
        cb->wOutputSamples = 0;
    }
    return 0;
}

uint32_t InitDecompress(ZefControlBlock* cb) {
    cb->wFrameOutput = 1;
    cb->wNeedFrame = 1;
    if (uint32_t rc = initDecoder(cb)) return rc;
    if (cb->dwOutputRate == 0) cb->dwOutputRate = cb->dwCodecRate;  // none asked for
    if (uint32_t rc = initResampler(cb)) return rc;
    if (viaWorkBuffer(cb)) {
        cb->dwWorkSamples = workBufferSamples(cb);
        cb->lpWorkBuffer = VectorSHR(cb->dwWorkSamples);
    }
    return 0;
}

uint32_t FreeDecompress(ZefControlBlock* cb) {
    uint32_t rc = freeDecoder(cb);
    releaseConverter(cb);
    return rc;
}

uint32_t BrewBlackArt(ZefControlBlock* cb) {
    if (cb->wEngineReady) ExpelBlackArt(cb);
    cb->wEngineReady = 1;
    cb->lpCodecState = nullptr;
    uint32_t rc;
    switch (cb->wDirection) {
    case kDirectionCompress:
        rc = InitCompress(cb);
        if (!rc) cb->wLeadFieldBits = leadFieldBits(cb);
        break;
    case kDirectionDecompress:
        rc = InitDecompress(cb);
        if (!rc) cb->wLeadFieldBits = leadFieldBits(cb);
        break;
    default:
        rc = kEngineBadDirection;
    }
    if (rc) ExpelBlackArt(cb);
    return rc;
}

uint32_t ExpelBlackArt(ZefControlBlock* cb) {
    if (!cb->wEngineReady) return kEngineNotDecodable;
    uint32_t rc;
    if (cb->wDirection == kDirectionDecompress) {
        rc = FreeDecompress(cb);
    } else if (cb->wDirection == kDirectionCompress) {
        rc = FreeCompress(cb);
    } else {
        releaseConverter(cb);
        rc = kEngineBadDirection;
    }
    cb->wEngineReady = 0;
    cb->lpCodecState = nullptr;
    return rc;
}

uint32_t DecodeSpeech(ZefControlBlock* cb) {
    if (!cb->wEngineReady) return kEngineNotDecodable;
    int16_t* out = cb->lpOutput;
    int16_t* work = cb->lpWorkBuffer;
    const bool viaWork = viaWorkBuffer(cb);
    uint32_t rc = 0;
    bool decode = false;
    if (!out || (viaWork && !work)) {
        rc = kEngineNotDecodable;
    } else {
        if (viaWork) cb->lpOutput = work;
        rc = FrameDrop(cb, &decode);
        if (!rc && decode) rc = runDecoder(cb);
        cb->lpOutput = out;
        cb->lpWorkBuffer = work;
        // A call that finished no block (Peln) leaves nothing to convert:
        // the converter's history and phase must only see kept samples.
        if (!rc && decode && !cb->wFrameOutput) cb->wOutputSamples = 0;
        if (!rc && decode && cb->wFrameOutput) rc = deliver(cb, out, work);
    }
    if (rc) ExpelBlackArt(cb);
    return rc;
}

uint32_t InitCompress(ZefControlBlock* cb) {
    // The encoder reads the session's transformation state for every frame:
    // type 0 (no Guisette) changes nothing, and a Guisette chosen later in
    // the session (zefSetGuisette) takes effect from the next frame.
    GuisetteState* guisette = &cb->guisette;
    switch (cb->wCodecTag) {
    case kCodecTagOrvo: {
        if (uint32_t rc = initPackOrvo(cb)) return rc;
        orvo::OrvoEncoder* enc = orvo::newOrvoEncoder();
        enc->guisette = guisette;
        cb->lpCodecState = enc;
        break;
    }
    case kCodecTagPeln: {
        if (uint32_t rc = initPackPeln(cb)) return rc;
        peln::PelnEncoder* enc = peln::newPelnEncoder();
        enc->guisette = guisette;
        cb->lpCodecState = enc;
        break;
    }
    default:
        return kEngineTagNotHandled;
    }
    cb->wFrameSamples = orvo::kEncFrame;
    cb->dwCodecRate = 8000;
    return 0;
}

uint32_t FreeCompress(ZefControlBlock* cb) {
    switch (cb->wCodecTag) {
    case kCodecTagOrvo:
        orvo::freeOrvoEncoder(static_cast<orvo::OrvoEncoder*>(cb->lpCodecState));
        cb->lpCodecState = nullptr;
        return freePackOrvo(cb);
    case kCodecTagPeln:
        peln::freePelnEncoder(static_cast<peln::PelnEncoder*>(cb->lpCodecState));
        cb->lpCodecState = nullptr;
        return freePackPeln(cb);
    default:
        return kEngineTagNotHandled;
    }
}

uint32_t EncodeSpeech(ZefControlBlock* cb) {
    if (!cb->wEngineReady || cb->wDirection != kDirectionCompress || !cb->lpCodecState || !cb->lpEncodeInput)
        return kEngineNotDecodable;
    switch (cb->wCodecTag) {
    case kCodecTagOrvo:
        orvo::encodeOrvoFrame(static_cast<orvo::OrvoEncoder*>(cb->lpCodecState), cb->lpEncodeInput,
                              cb->bFieldCodes);
        return 0;
    case kCodecTagPeln:
        peln::encodePelnFrame(static_cast<peln::PelnEncoder*>(cb->lpCodecState), cb->lpEncodeInput,
                              cb->bFieldCodes);
        return 0;
    default:
        return kEngineNotDecodable;
    }
}

uint32_t EngineMaxOutputSamples(const ZefControlBlock* cb) {
    if (!cb->wEngineReady) return 0;
    if (auto* r = static_cast<const ReSampler*>(cb->lpResampler)) return uint32_t(reSampleCapacity(r));
    return kMaxStretch * cb->wFrameSamples;
}

}  // namespace zef
