// The decode loop: packed frames from the input record become PCM in the
// output record, frame by frame.
#include <algorithm>
#include <cmath>

#include "dcmpsession.h"
#include "engine.h"
#include "guisette.h"
#include "pcmeffect.h"
#include "pcmwidth.h"
#include "resample.h"
#include "zefapi.h"

namespace zef {
namespace {

// Reads a run of fields, least significant bit first, continuing into the
// next byte when a field does not fit the current one.  Returns false, with
// nothing consumed, when fewer than the needed bits remain.
struct BitCursor {
    const uint8_t* base;
    uint32_t pos;
    uint32_t length;
    uint16_t bit;

    uint64_t bitsLeft() const { return pos >= length ? 0 : uint64_t(length - pos) * 8 - bit; }

    uint8_t take(uint8_t width) {
        uint32_t word = base[pos];
        if (bit + width > 8 && pos + 1 < length) word |= uint32_t(base[pos + 1]) << 8;
        uint8_t code = uint8_t((word >> bit) & ((1u << width) - 1));
        pos += (bit + width) / 8;
        bit = uint16_t((bit + width) % 8);
        return code;
    }
};

bool unpackFields(ZefControlBlock* cb, BitCursor& cur, int first, int count, uint32_t bitsNeeded) {
    if (cur.bitsLeft() < bitsNeeded) return false;
    for (int i = first; i < first + count; ++i) cb->bFieldCodes[i] = cur.take(cb->lpFieldWidths[i]);
    return true;
}

// Unpacks one whole frame or nothing.
bool unpackFrame(ZefControlBlock* cb, BitCursor& cur) {
    BitCursor start = cur;
    int lead = cb->wLeadFields;
    if (!unpackFields(cb, cur, 0, lead, cb->wLeadFieldBits) ||
        !unpackFields(cb, cur, lead, cb->wFieldCount - lead, uint32_t(cb->wFrameBits - cb->wLeadFieldBits))) {
        cur = start;
        return false;
    }
    return true;
}

// The effects work on 16-bit samples.  8-bit output goes through them in
// small pieces widened on the stack, so nothing is allocated per frame.
void applyEffect(ZefControlBlock* cb, uint8_t* frame) {
    auto* effect = static_cast<PCMEffectState*>(cb->lpPCMEffect);
    if (!cb->wGuisette || !effect || !cb->wFrameOutput) return;
    uint32_t count = cb->wOutputSamples;
    if (cb->wOutputSampleSize == 2) {
        ApplyPCMEffect(effect, count, reinterpret_cast<int16_t*>(frame));
        return;
    }
    int16_t wide[256];
    for (uint32_t done = 0; done < count;) {
        int32_t n = int32_t(std::min<uint32_t>(count - done, 256));
        pcm8to16(frame + done, wide, n);
        ApplyPCMEffect(effect, unsigned(n), wide);
        pcm16to8(wide, frame + done, n);
        done += uint32_t(n);
    }
}

uint16_t decodeOneFrame(ZefControlBlock* cb, uint8_t* outBase, uint32_t* outPos) {
    KELVANE_DATA* kd = cb->lpKelvaneData;
    cb->lpOutput = reinterpret_cast<int16_t*>(outBase + *outPos);
    if (uint32_t err = DecodeSpeech(cb)) return ZEF_ERROR(ZEFERR_DECOMPRESSION, err, kd);
    applyEffect(cb, outBase + *outPos);
    if (cb->wFrameOutput) {
        *outPos += uint32_t(cb->wOutputSamples) * cb->wOutputSampleSize;
        ++cb->dwFramesProcessed;
    }
    return 0;
}

void refreshEffects(ZefControlBlock* cb, const KELVANE_DATA* kd) {
    cb->wUseAbsPitch = kd->wUseAbsolutePitch;
    cb->fRelPitch = kd->fRelativePitch;
    cb->fAbsPitch = kd->fAbsolutePitch;
    cb->fWarp = kd->fWarpedLengthFactor;
}

uint16_t decompressFrameless(ZefControlBlock* cb, uint8_t* outBase, uint32_t* outPos, uint32_t outCapacity) {
    KELVANE_DATA* kd = cb->lpKelvaneData;
    if (outCapacity < *outPos || outCapacity - *outPos < maxFrameOutputBytes(cb)) return ZEF_SIGNAL_OUTPUT_FULL;
    cb->fWarp = kd->fWarpedLengthFactor;
    // Without a new frame the decoder fills with background sound (rather
    // than repeating the last frame) and fades in when frames come again.
    if (kd->wReserved == 0) cb->wSilenceFill = 1;
    cb->lpOutput = reinterpret_cast<int16_t*>(outBase + *outPos);
    if (uint32_t err = DecodeSpeech(cb)) return uint16_t(std::min<uint32_t>(err, 0xFFFF));
    applyEffect(cb, outBase + *outPos);
    *outPos += uint32_t(cb->wOutputSamples) * cb->wOutputSampleSize;
    return ZEF_SIGNAL_INPUT_EXHAUSTED;
}

}  // namespace

uint32_t maxFrameOutputBytes(const ZefControlBlock* cb) {
    // Orvo stretches a frame to the warp times its length, rounded up to an
    // even count (a warp below 1 only shortens it); Peln always delivers at
    // most one frame's worth per call.  The bound is exact at normal speed,
    // so that a buffer of one frame (360 bytes at 8000 Hz) takes a frame.
    uint32_t samples = cb->wFrameSamples ? cb->wFrameSamples : 180;
    if (cb->wCodecTag != ZEF_CODEC_PELN && cb->fWarp > 1.0f) {
        samples = uint32_t(std::ceil(double(std::min(cb->fWarp, 5.0f)) * samples));
        samples += samples & 1;
    }
    // The converter's count for that block, with the phase it carries now.
    if (auto* r = static_cast<const ReSampler*>(cb->lpResampler); r && cb->wResample)
        samples = uint32_t(std::max(reSampleCount(r, int32_t(samples)), 0));
    return samples * std::max<uint16_t>(cb->wOutputSampleSize, 1);
}

uint16_t DecompressBuffer(ZefControlBlock* cb, const uint8_t* inBase, uint32_t* inPos, uint32_t inLength,
                          uint8_t* outBase, uint32_t* outPos, uint32_t outCapacity) {
    KELVANE_DATA* kd = cb->lpKelvaneData;
    if (cb->wFrameless) return decompressFrameless(cb, outBase, outPos, outCapacity);
    // A decoder that is still stretching the last frame (wNeedFrame 0)
    // takes no new codes, and the stream is not over until it is done.
    // A frame kept back for lack of room still counts after the last unpack.
    if (kd->dwFramesLeft == 0 && cb->wNeedFrame && !cb->wFramePending) return ZEF_SIGNAL_INPUT_EXHAUSTED;
    for (;;) {
        if (cb->wFramePending) {
            cb->wFramePending = 0;
        } else if (cb->wUnpack && cb->wNeedFrame) {
            BitCursor cur{inBase, *inPos, inLength, cb->wBitPosition};
            if (!inBase || !unpackFrame(cb, cur)) return ZEF_SIGNAL_INPUT_EXHAUSTED;
            --kd->dwFramesLeft;
            cb->wBitPosition = cur.bit;
            *inPos = cur.pos;
        }
        auto roomFor = [&] { return outCapacity >= *outPos && outCapacity - *outPos >= maxFrameOutputBytes(cb); };
        if (!roomFor()) {
            cb->wFramePending = 1;
            return ZEF_SIGNAL_OUTPUT_FULL;
        }
        cb->wLevel = cb->bFrameLevel;
        kd->wLevel = cb->wLevel;
        // The older, shorter form of the structure ends before dwStatus.
        if (kd->wSizeOfKelvaneData >= KELVANE_DATA_VERSION_MARK) kd->dwStatus = KELVANE_STATUS_FRAME;
        if (kd->lpCallback) {
            cb->wCallbackResult = kd->lpCallback(0, KELVANE_STATUS_FRAME, kd);
            if (cb->wCallbackResult) {
                cb->wFramePending = 1;
                return ZEF_ERROR(ZEFERR_PROCESSING_ABORTED, cb->wCallbackResult, kd);
            }
            refreshEffects(cb, kd);
            // A slower warp set by the callback may need more room than was
            // checked: keep the frame for the next buffer.
            if (!roomFor()) {
                cb->wFramePending = 1;
                return ZEF_SIGNAL_OUTPUT_FULL;
            }
        }
        cb->wSilenceFill = 0;
        if (uint16_t err = decodeOneFrame(cb, outBase, outPos)) return err;
        // A frame kept back for lack of room still counts after the last unpack.
        if (kd->dwFramesLeft == 0 && cb->wNeedFrame && !cb->wFramePending) return ZEF_SIGNAL_INPUT_EXHAUSTED;
    }
}

}  // namespace zef

using namespace zef;

extern "C" uint16_t MirlaneDecompress(KELVANE_DATA* kd) {
    if (uint16_t err = checkInput(kd)) return err;
    if (uint16_t err = checkOutput(kd)) return err;
    if (locationOf(kd->dwOutputType) == ZEFTYPE_LOCATION_SOUND)
        return ZEF_ERROR(ZEFERR_MUST_CALL_DCMP_MIRLANE_PLAY, kd->dwOutputType, kd);
    ZefControlBlock* cb = controlBlock(kd);
    for (;;) {
        InputVars* in = cb->lpInputVars;
        OutputVars* out = cb->lpOutputVars;
        uint16_t signal = DecompressBuffer(cb, in->lpBase, &in->dwReadPos, in->dwValid, out->lpBase,
                                           &out->dwWritePos, out->dwCapacity);
        uint16_t answer;
        if (signal == ZEF_SIGNAL_INPUT_EXHAUSTED) {
            kd->dwSecondaryError = signal;
            answer = cb->lpInputHandler(kd, ZEFMSG_READ);
        } else if (signal == ZEF_SIGNAL_OUTPUT_FULL) {
            kd->dwSecondaryError = signal;
            answer = cb->lpOutputHandler(kd, ZEFMSG_WRITE);
        } else if (signal == ZEFERR_PROCESSING_ABORTED || signal == ZEFERR_DECOMPRESSION) {
            return signal;  // already recorded, with the decoder's own code as secondary value
        } else {
            return ZEF_ERROR(ZEFERR_DECOMPRESSION, signal, kd);
        }
        if (answer == ZEFERR_ENDOFFILE_REACHED) {
            cb->lpOutputVars->wEnd = 1;
            return 0;
        }
        if (answer) {
            cb->lpOutputVars->wEnd = 0;
            return answer;
        }
    }
}
