// The container dispatcher: reads the WAVE, AIFF or raw container at the
// start of an input, then the Zef header for coded input, and leaves the
// input record at the first frame or sample with its stream description
// complete.
#include <algorithm>

#include "zefapi.h"

namespace zef {
namespace {

constexpr uint32_t kUntilInputEnds = 0xFFFFFFFFu;  // frame count of a stream of unknown length

uint32_t clampU32(uint64_t v) { return v > UINT32_MAX ? UINT32_MAX : uint32_t(v); }

// The end of the whole stream in the input record's byte positions, when
// it is known: the file's size, or the caller's buffer.  A caller's reader
// function delivers an open-ended stream.
bool streamEnd(const KELVANE_DATA* kd, const InputVars* in, uint64_t* end) {
    const uint32_t location = locationOf(kd->dwInputType);
    if (location == ZEFTYPE_LOCATION_FILE && in->lpFile) {
        *end = std::max(in->lpFile->dwFileSize, in->dwValid);
        return true;
    }
    if (isMemoryLocation(kd->dwInputType)) {
        *end = std::max(in->dwTotal, in->dwValid);
        return true;
    }
    return false;
}

bool hasContainer(uint32_t type) {
    return formatOf(type) == ZEFTYPE_FORMAT_WAVE || formatOf(type) == ZEFTYPE_FORMAT_AIFF;
}

uint16_t parseContainer(KELVANE_DATA* kd, InputVars* in, uint32_t streamStart) {
    const uint8_t* start = in->lpBase ? in->lpBase + streamStart : nullptr;
    const uint32_t length = in->dwValid - streamStart;
    uint16_t err = 0;
    switch (formatOf(kd->dwInputType)) {
        case ZEFTYPE_FORMAT_WAVE: err = ParseRIFFHeader(kd, start, length, &in->desc); break;
        case ZEFTYPE_FORMAT_AIFF: err = ParseAIFFHeader(kd, start, length, &in->desc); break;
        case ZEFTYPE_FORMAT_RAW: in->desc = StreamDesc{}; return 0;
        default: return ZEF_ERROR(ZEFERR_UNKNOWN_HEADER_FORMAT, formatOf(kd->dwInputType), kd);
    }
    if (!err) in->dwReadPos = streamStart + in->desc.dwDataOffset;
    return err;
}

// Frames between the first frame and the end of the data.  In a container
// the data ends where its chunk says, or where the stream really ends when
// that comes first (a header written before the length was known, or a
// cut file).  A raw stream's header gives the count; when it gives none the
// frames run to the end of the stream, or until the input ends.
void countFrames(KELVANE_DATA* kd, InputVars* in, uint32_t streamStart, bool* cut) {
    const ZefControlBlock* cb = controlBlock(kd);
    StreamDesc& d = in->desc;
    const uint64_t frameStart = in->dwReadPos;
    uint64_t end = 0;
    const bool known = streamEnd(kd, in, &end);
    const bool container = hasContainer(kd->dwInputType);
    uint64_t dataEnd = end;
    if (container) {
        const uint64_t declared = uint64_t(streamStart) + d.dwDataOffset + d.dwDataLength;
        *cut = known && declared > end;
        dataEnd = *cut ? end : declared;
    }
    const bool haveEnd = container || known;
    const uint64_t bytes = haveEnd && dataEnd > frameStart ? dataEnd - frameStart : 0;
    const uint16_t bits = CodedBitsPerFrame(cb->wCodecTag);
    if (container) {
        if (bits) kd->dwFramesLeft = clampU32(bytes * 8 / bits);
    } else if (kd->dwFramesLeft == 0) {
        kd->dwFramesLeft = haveEnd && bits ? clampU32(bytes * 8 / bits) : kUntilInputEnds;
    }
    d.dwDataOffset = uint32_t(frameStart - streamStart);
    d.dwDataLength = clampU32(bytes);
}

uint16_t describeCoded(KELVANE_DATA* kd, InputVars* in, uint32_t streamStart) {
    const bool packet = locationOf(kd->dwInputType) == ZEFTYPE_LOCATION_PACKET;
    if (uint16_t err = packet ? ReadCompressedZefHeader(kd) : CopyZefHeaderFromBuffer(kd)) return err;
    const ZefControlBlock* cb = controlBlock(kd);
    StreamDesc& d = in->desc;
    bool cut = false;
    countFrames(kd, in, streamStart, &cut);
    const uint32_t frames = kd->dwFramesLeft;
    const bool countKnown = frames != kUntilInputEnds;
    const uint64_t samples = countKnown ? uint64_t(frames) * cb->wFrameSamples : 0;
    if (hasContainer(kd->dwInputType)) {
        // "fact" gives the decoded length; without it the frames do.
        if (d.dwSampleCount == 0 || (cut && d.dwSampleCount > samples)) d.dwSampleCount = clampU32(samples);
    } else {
        d.wFormatTag = kFormatTagZef;
        d.dwSampleCount = countKnown ? frames : 0;  // a raw stream is described by its frames
        d.dwAvgBytesPerSec = cb->wFrameSamples ? uint32_t(uint64_t(cb->dwCodecRate) * CodedBitsPerFrame(cb->wCodecTag) /
                                                          cb->wFrameSamples / 8)
                                               : 0;
        d.wBitsPerSample = uint16_t(cb->wOutputSampleSize * 8);
    }
    if (d.wChannels == 0) d.wChannels = 1;
    d.dwSamplingRate = cb->dwCodecRate;
    d.wBytesPerSample = cb->wOutputSampleSize;
    d.fDuration = cb->dwCodecRate ? float(double(samples) / cb->dwCodecRate) : 0.0f;
    return 0;
}

uint16_t describeRawPcm(KELVANE_DATA* kd, InputVars* in, uint32_t streamStart) {
    StreamDesc& d = in->desc;
    const uint16_t bytes = kd->wInputBytesPerSample;
    if (bytes == 0) return ZEF_ERROR(ZEFERR_NO_INPUT_SAMPLE_SIZE, 0, kd);
    if (kd->dwInputSamplingRate == 0) return ZEF_ERROR(ZEFERR_NO_INPUT_SAMPLING_RATE, 0, kd);
    uint64_t end = 0;
    d.wFormatTag = kFormatTagPCM;
    d.wChannels = 1;
    d.dwSamplingRate = kd->dwInputSamplingRate;
    d.wBitsPerSample = uint16_t(bytes * 8);
    d.wBlockAlign = bytes;
    d.dwAvgBytesPerSec = clampU32(uint64_t(d.dwSamplingRate) * bytes);
    d.dwDataOffset = 0;
    d.dwDataLength = streamEnd(kd, in, &end) ? clampU32(end - streamStart) : kd->dwInputSize;
    d.dwSampleCount = d.dwDataLength / bytes;
    return 0;
}

// A container's data that claims more than the stream holds is cut to it,
// and so is its sample count.
void fitPcmToStream(KELVANE_DATA* kd, InputVars* in, uint32_t streamStart) {
    StreamDesc& d = in->desc;
    uint64_t end = 0;
    const uint64_t dataStart = uint64_t(streamStart) + d.dwDataOffset;
    if (!streamEnd(kd, in, &end) || dataStart + d.dwDataLength <= end) return;
    d.dwDataLength = uint32_t(end - dataStart);  // the data starts inside the valid bytes
    const uint32_t frameBytes = uint32_t(d.wChannels) * ((d.wBitsPerSample + 7u) / 8u);
    if (frameBytes) d.dwSampleCount = std::min(d.dwSampleCount, d.dwDataLength / frameBytes);
}

bool wantsWaveMarkers(const KELVANE_DATA* kd) {
    return kd->lpMarker && formatOf(kd->dwInputType) == ZEFTYPE_FORMAT_WAVE &&
           locationOf(kd->dwInputType) == ZEFTYPE_LOCATION_FILE &&
           locationOf(kd->dwOutputType) != ZEFTYPE_LOCATION_SOUND;
}

void completeDescription(KELVANE_DATA* kd, StreamDesc& d, bool coded) {
    if (d.wBlockAlign == 0) d.wBlockAlign = 2;
    if (!coded) {
        d.wBytesPerSample = uint16_t((d.wBitsPerSample + 7u) / 8u);
        const uint32_t frameBytes = uint32_t(d.wBytesPerSample) * d.wChannels;
        if (d.dwSampleCount == 0 && frameBytes) d.dwSampleCount = d.dwDataLength / frameBytes;
        d.fDuration = d.dwSamplingRate ? float(double(d.dwSampleCount) / d.dwSamplingRate) : 0.0f;
        if (kd->dwFramesLeft == 0) kd->dwFramesLeft = d.dwSampleCount;
    }
}

}  // namespace

uint16_t ParseHeader(KELVANE_DATA* kd, InputVars* in) {
    if (uint16_t err = checkInput(kd)) return err;
    if (in != controlBlock(kd)->lpInputVars || in->dwReadPos > in->dwValid || (!in->lpBase && in->dwValid))
        return ZEF_ERROR(ZEFERR_INVALID_INPUT_VARS, in ? in->dwGuard : 0, kd);
    const uint32_t streamStart = in->dwReadPos;
    const bool coded = isZef(kd->dwInputType);
    if (uint16_t err = parseContainer(kd, in, streamStart)) return err;
    if (!coded && in->desc.wFormatTag == kFormatTagZef)
        return ZEF_ERROR(ZEFERR_FORMAT_ZEF, kFormatTagZef, kd);  // coded data asked for as PCM
    if (coded) {
        if (uint16_t err = describeCoded(kd, in, streamStart)) return err;
    } else if (formatOf(kd->dwInputType) == ZEFTYPE_FORMAT_RAW) {
        if (uint16_t err = describeRawPcm(kd, in, streamStart)) return err;
    } else {
        fitPcmToStream(kd, in, streamStart);
        if (wantsWaveMarkers(kd)) {
            if (uint16_t err = ReadWaveMarkers(kd, &in->desc)) return err;
        }
    }
    SortMarkerList(in, coded);
    completeDescription(kd, in->desc, coded);
    return 0;
}

}  // namespace zef
