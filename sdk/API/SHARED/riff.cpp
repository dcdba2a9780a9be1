// RIFF/WAVE: the top-level reader, the walk through the "fmt " extension
// (16-byte Zef header and Guisette chunk) and the header writer for PCM and
// coded output.  Numbers are little-endian in the file.
#include <cmath>
#include <cstring>

#include "byteorder.h"
#include "zefapi.h"

namespace zef {
namespace {

constexpr uint32_t kHead = 8;
constexpr uint32_t kPcmFormatSize = 16;
constexpr uint32_t kFmtExtensionStart = 18;  // after the 16 bytes and the extension size
constexpr uint16_t kWalkStopped = 123;        // TraverseChunks met its stop identifier

// Clamps instead of converting out of range (which would be undefined).
uint32_t truncToU32(double v) {
    if (!(v >= 0.0)) return 0;
    if (v >= 4294967295.0) return UINT32_MAX;
    return uint32_t(v);
}

uint32_t clampU32(uint64_t v) { return v > UINT32_MAX ? UINT32_MAX : uint32_t(v); }

// The "fmt " contents every WAVE file has.
void readFormat(const uint8_t* c, StreamDesc* d) {
    d->wFormatTag = readLE16(c);
    d->wChannels = readLE16(c + 2);
    d->dwSamplingRate = readLE32(c + 4);
    d->dwAvgBytesPerSec = readLE32(c + 8);
    d->wBlockAlign = readLE16(c + 12);
    d->wBitsPerSample = readLE16(c + 14);
}

// PCM without channels or sample bits has no samples to read: refused, so
// that nothing divides by them later.  Coded data keeps what its writer put
// there (the frames describe themselves).
bool formatUsable(const StreamDesc& d) {
    return d.wFormatTag == kFormatTagZef || (d.wChannels != 0 && d.wBitsPerSample != 0);
}

uint16_t readFmtChunk(KELVANE_DATA* kd, const uint8_t* c, uint32_t size, StreamDesc* d) {
    readFormat(c, d);
    if (!formatUsable(*d)) return ZEF_ERROR(ZEFERR_CANT_SURF_THIS_WAVE, fourcc("fmt "), kd);
    if (d->wFormatTag != kFormatTagZef || size <= kFmtExtensionStart) return 0;
    const uint8_t* p = c + kFmtExtensionStart;
    const uint16_t r = TraverseChunks(&p, size - kFmtExtensionStart, 0, nullptr, nullptr, kd, ParseFMTChunks);
    return r == ZEFERR_CANT_SURF_THIS_WAVE ? 0 : r;  // running out of sub-chunks is the normal end
}

// Frames in a "data" chunk of coded speech, for a caller that left the
// count at 0.  ParseHeader refines it with the file's real end.
void presetFrameCount(KELVANE_DATA* kd, uint32_t dataLength) {
    if (kd->dwFramesLeft != 0) return;
    const ZefControlBlock* cb = controlBlock(kd);
    const InputVars* in = cb->lpInputVars;
    uint64_t bytes = dataLength;
    if (in->wSaw16ByteHeader) bytes = bytes > in->wCompatLength ? bytes - in->wCompatLength : 0;
    uint16_t bits = CodedBitsPerFrame(cb->wCodecTag);
    if (!bits) bits = 54;
    kd->dwFramesLeft = clampU32(bytes * 8 / bits);
}

// Samples in a PCM "data" chunk when no "fact" chunk said.
uint32_t pcmSampleCount(const StreamDesc& d) {
    const uint32_t frameBytes = uint32_t(d.wChannels) * ((d.wBitsPerSample + 7u) / 8u);
    return frameBytes ? d.dwDataLength / frameBytes : 0;
}

// Bytes per second of coded output.  With a fixed bit rate it is the
// nominal rate; otherwise measured over the frames written so far.
uint32_t codedBytesPerSecond(const ZefControlBlock* cb, const InputVars* in, uint32_t totalSize,
                             uint32_t dataBytes) {
    if (totalSize != 0 && in->desc.fDuration != 0.0f) {
        if (cb->wFixedBitRate) return uint32_t(std::lround(cb->wBitRate / 8.0));
        const float secondsPerFrame = cb->dwCodecRate ? float(cb->wFrameSamples) / float(cb->dwCodecRate) : 0.0f;
        const float seconds = float(cb->dwFramesProcessed) * secondsPerFrame;
        const uint32_t measured = seconds > 0.0f ? truncToU32(float(dataBytes) / seconds) : 0;
        if (measured) return measured;
    }
    return cb->wBitRate / 8u;
}

}  // namespace

uint64_t NextChunkOffset(const uint8_t* base, uint64_t length, uint64_t pos, uint32_t size) {
    const uint64_t next = pos + kHead + size;
    if ((size & 1u) && next < length && base[next] == 0) return next + 1;
    return next;
}

uint16_t TraverseChunks(const uint8_t** pos, uint32_t length, uint32_t stopId, uint32_t* count, void* context,
                        KELVANE_DATA* kd, ChunkHandler handler) {
    if (count) *count = 0;
    if (!pos || !*pos) return ZEFERR_CANT_SURF_THIS_WAVE;
    const uint8_t* base = *pos;
    uint64_t at = 0;
    while (at + kHead <= length) {
        const uint8_t* c = base + at;
        const uint32_t id = fourccValue(c);
        const uint32_t size = readLE32(c + 4);
        if (stopId && id == stopId) return kWalkStopped;
        if (at + kHead + size > length) break;  // contents would run past the walk
        if (handler) {
            if (uint16_t r = handler(context, kd, id, size, c + kHead)) return r;
        }
        if (count) ++*count;
        at = NextChunkOffset(base, length, at, size);
        *pos = base + at;
    }
    return ZEFERR_CANT_SURF_THIS_WAVE;
}

uint16_t ParseFMTChunks(void*, KELVANE_DATA* kd, uint32_t id, uint32_t size, const uint8_t* contents) {
    if (id == fourcc("ZEF.")) return ZEF12ReadHeader(kd, contents, size);
    if (id == fourcc("ZEfG")) return ReadVoiceEffect(kd, contents, size);
    return 0;
}

uint16_t ParseRIFFHeader(KELVANE_DATA* kd, const uint8_t* start, uint32_t length, StreamDesc* desc) {
    if (uint16_t err = checkInput(kd)) return err;
    *desc = StreamDesc{};
    InputVars* in = controlBlock(kd)->lpInputVars;
    in->wSaw16ByteHeader = 0;
    in->wCompatLength = 0;
    if (!start) length = 0;
    if (length < 4) return ZEF_ERROR(ZEFERR_WAVE_DOESNT_START_RIFF, 0, kd);
    if (isFourcc(start, "RIFX")) return ZEF_ERROR(ZEFERR_WE_DONT_SUPPORT_RIFX, fourccValue(start), kd);
    if (!isFourcc(start, "RIFF")) return ZEF_ERROR(ZEFERR_WAVE_DOESNT_START_RIFF, fourccValue(start), kd);
    if (length < 12) return ZEF_ERROR(ZEFERR_CANT_SURF_THIS_WAVE, 0, kd);
    if (!isFourcc(start + 8, "WAVE")) return ZEF_ERROR(ZEFERR_RIFF_CHUNK_READ, fourccValue(start + 8), kd);

    bool haveFmt = false, haveFact = false;
    for (uint64_t pos = 12;;) {
        if (pos + kHead > length) return ZEF_ERROR(ZEFERR_CANT_SURF_THIS_WAVE, 0, kd);  // no "data" here
        const uint8_t* c = start + pos;
        const uint32_t size = readLE32(c + 4);
        const bool whole = pos + kHead + size <= length;
        if (isFourcc(c, "fmt ")) {
            if (size < kPcmFormatSize) return ZEF_ERROR(ZEFERR_FMT_CHUNK_SIZE, size, kd);
            if (!whole) return ZEF_ERROR(ZEFERR_CANT_SURF_THIS_WAVE, fourccValue(c), kd);
            if (!haveFmt) {  // the first "fmt " describes the data; later ones are ignored
                haveFmt = true;
                if (uint16_t err = readFmtChunk(kd, c + kHead, size, desc)) {
                    desc->dwDataLength = 0;
                    return err;
                }
            }
        } else if (isFourcc(c, "fact")) {
            if (whole && size >= 4 && !haveFact) {
                desc->dwSampleCount = readLE32(c + kHead);
                haveFact = true;
            }
        } else if (isFourcc(c, "LIST")) {
            const uint8_t* p = c + kHead;
            if (whole) RIFFReadInfoBlock(kd, &p, size);  // a list of another kind is no error
        } else if (isFourcc(c, "data")) {
            // Without "fmt " nothing says what the data is.
            if (!haveFmt) return ZEF_ERROR(ZEFERR_FMT_CHUNK_SIZE, 0, kd);
            desc->dwDataOffset = uint32_t(pos + kHead);
            desc->dwDataLength = size;
            if (desc->wFormatTag == kFormatTagZef) {
                presetFrameCount(kd, size);
            } else if (!haveFact) {
                desc->dwSampleCount = pcmSampleCount(*desc);
            }
            return 0;
        }
        pos = NextChunkOffset(start, length, pos, size);
    }
}

uint16_t WriteRIFFHeader(KELVANE_DATA* kd, uint32_t totalSize, uint32_t dataBytes) {
    if (uint16_t err = checkOutput(kd)) return err;
    if (uint16_t err = checkInput(kd)) return err;
    ZefControlBlock* cb = controlBlock(kd);
    const InputVars* in = cb->lpInputVars;
    const bool coded = isZef(kd->dwOutputType);
    if (coded) {
        uint32_t identifier = 0;
        if (uint16_t err = GetCodecID(kd, &identifier)) return err;  // before anything is written
    }
    const bool guisette = coded && cb->wGuisette != 0;
    const uint32_t extension = kZef12HeaderSize + (guisette ? kGuisetteChunkSize : 0);
    const uint32_t fmtSize = coded ? kFmtExtensionStart + extension : kPcmFormatSize;
    const uint32_t infoSize = coded ? RIFFInfoBlockSize(kd) : 0;
    const uint32_t factSize = coded ? kHead + 4 : 0;
    const uint32_t headerSize = 12 + kHead + fmtSize + factSize + infoSize + kHead;
    uint8_t* p = nullptr;
    if (uint16_t err = ReserveOutput(kd, headerSize, &p)) return err;

    const uint16_t channels = in->desc.wChannels ? in->desc.wChannels : 1;
    const uint16_t bytes = cb->wOutputSampleSize ? cb->wOutputSampleSize : 2;
    const uint32_t rate = cb->dwOutputRate;
    std::memcpy(p, "RIFF", 4);
    writeLE32(p + 4, totalSize - 8);  // modulo 2^32: a header written before the size is known
    std::memcpy(p + 8, "WAVEfmt ", 8);
    writeLE32(p + 16, fmtSize);
    uint8_t* f = p + 20;
    writeLE16(f, coded ? kFormatTagZef : kFormatTagPCM);
    writeLE16(f + 2, channels);
    writeLE32(f + 4, rate);
    if (coded) {
        writeLE32(f + 8, codedBytesPerSecond(cb, in, totalSize, dataBytes));
        writeLE16(f + 12, in->desc.wBlockAlign);
    } else {
        writeLE32(f + 8, uint32_t(uint64_t(channels) * rate * bytes));
        writeLE16(f + 12, uint16_t(channels * bytes));  // one sample frame
    }
    writeLE16(f + 14, uint16_t(bytes * 8));
    uint8_t* q = f + kPcmFormatSize;
    if (coded) {
        writeLE16(q, uint16_t(extension));
        q += 2;
        if (uint16_t err = ZEF12InsertHeader(kd, &q)) return err;
        if (guisette) {
            if (uint16_t err = EmbedGuisetteChunk(&q, cb->wGuisette)) return err;
        }
        std::memcpy(q, "fact", 4);
        writeLE32(q + 4, 4);
        const double inRate = in->desc.dwSamplingRate;
        writeLE32(q + 8, inRate > 0 ? truncToU32(double(cb->dwInputSamplesProcessed) / inRate * rate) : 0);
        q += factSize;
        if (uint16_t err = RIFFWriteInfoBlock(kd, &q)) return err;
    }
    std::memcpy(q, "data", 4);
    writeLE32(q + 4, totalSize - headerSize);
    cb->lpOutputVars->dwWritePos += headerSize;
    return 0;
}

}  // namespace zef
