// AIFF and AIFF-C: the reader of linear PCM files (with their "MARK"
// markers) and the writer of the 86-byte AIFF-C header.  Numbers are
// big-endian in the file; the sampling rate is an 80-bit extended number.
#include <cmath>
#include <cstring>

#include "byteorder.h"
#include "zefapi.h"

namespace zef {
namespace {

constexpr uint32_t kHead = 8;
constexpr uint32_t kCommSize = 18;        // channels, frames, bits, rate
constexpr uint32_t kCommCompressedSize = 22;  // AIFF-C: and the compression type
constexpr uint32_t kSsndDataStart = 16;   // head, offset word, block-size word
constexpr uint32_t kAifcVersion1 = 0xA2805140u;

uint32_t clampU32(uint64_t v) { return v > UINT32_MAX ? UINT32_MAX : uint32_t(v); }

// "MARK": u16 count, then per marker u16 id, u32 position and a Pascal
// string, each marker starting at an even offset.
uint32_t markerLength(const uint8_t* m) {
    const uint32_t n = 6 + 1 + m[6];
    return n + (n & 1u);
}

// Hands out the markers in order; the chunk builder asks for them twice
// from the first on, so remembering the last one keeps the walk linear.
struct MarkSource {
    const uint8_t* first;
    mutable const uint8_t* last;
    mutable uint32_t lastIndex;
};

void markMarker(const void* context, uint32_t index, MarkerSource* out) {
    const MarkSource& s = *static_cast<const MarkSource*>(context);
    if (index == 0 || index != s.lastIndex + 1) {
        s.last = s.first;
        for (uint32_t i = 0; i < index; ++i) s.last += markerLength(s.last);
    } else {
        s.last += markerLength(s.last);
    }
    s.lastIndex = index;
    const uint8_t* m = s.last;
    out->id = readBE16(m);
    out->position = readBE32(m + 2);
    out->text = reinterpret_cast<const char*>(m + 7);
    const void* nul = std::memchr(m + 7, 0, m[6]);
    out->textLength = nul ? uint32_t(static_cast<const uint8_t*>(nul) - (m + 7)) : m[6];
}

// The markers that lie wholly inside the chunk; a torn last one is dropped.
uint16_t readMarkChunk(KELVANE_DATA* kd, const uint8_t* c, uint32_t size) {
    if (size < 2) return 0;
    const uint32_t declared = readBE16(c);
    uint32_t count = 0;
    for (uint64_t at = 2; count < declared && at + 7 <= size && at + 7 + c[at + 6] <= size; ++count)
        at += markerLength(c + at);
    MarkSource source{c + 2, c + 2, 0};
    return BuildMarkerChunk(kd, controlBlock(kd)->lpInputVars, count, &source, markMarker,
                            ZEFERR_MARKERS_MEMORY, ZEFERR_ORD_MARKERS_MEMORY);
}

// Linear PCM only: AIFF-C's "NONE" (or its alias "twos"); a compressed
// stream would play as noise.
bool linearPcm(const uint8_t* c, uint32_t size, bool aifc) {
    if (!aifc || size < kCommCompressedSize) return true;
    return isFourcc(c + 18, "NONE") || isFourcc(c + 18, "twos");
}

uint16_t readCommChunk(KELVANE_DATA* kd, const uint8_t* c, uint32_t size, bool aifc, StreamDesc* d) {
    const uint32_t comm = fourcc("COMM");
    if (size < kCommSize) return ZEF_ERROR(ZEFERR_AIFF_COULDNT_FIND_ALL_CHUNKS, comm, kd);
    if (!linearPcm(c, size, aifc)) return ZEF_ERROR(ZEFERR_AIFF_COULDNT_FIND_ALL_CHUNKS, fourccValue(c + 18), kd);
    const uint16_t channels = readBE16(c);
    const uint32_t frames = readBE32(c + 2);
    const uint16_t bits = readBE16(c + 6);
    const double rate = vx80toDouble(c + 8);
    // No samples without channels, sample bits or a rate of at least 1 Hz
    // that fits the description.
    if (channels == 0 || bits == 0 || !(rate >= 1.0) || rate >= 4294967296.0)
        return ZEF_ERROR(ZEFERR_AIFF_COULDNT_FIND_ALL_CHUNKS, comm, kd);
    const uint32_t bytes = (bits + 7u) / 8u;  // 12-bit samples take two bytes
    // A sample frame wider than the 16-bit block alignment is not sound.
    if (channels * bytes > 0xFFFFu) return ZEF_ERROR(ZEFERR_AIFF_COULDNT_FIND_ALL_CHUNKS, comm, kd);
    d->wChannels = channels;
    d->wBitsPerSample = bits;
    d->dwSampleCount = frames;
    d->dwSamplingRate = uint32_t(rate);
    d->wBlockAlign = uint16_t(channels * bytes);
    d->dwDataLength = clampU32(uint64_t(frames) * channels * bytes);
    d->dwAvgBytesPerSec = clampU32(uint64_t(d->dwSamplingRate) * channels * bytes);
    return 0;
}

struct Seen {
    bool form = false, comm = false, ssnd = false, mark = false, aifc = false;
};

// One chunk inside the form; `whole`: its contents are inside the bytes.
uint16_t readFormChunk(KELVANE_DATA* kd, const uint8_t* c, uint64_t pos, uint32_t size, bool whole, Seen* seen,
                       StreamDesc* d) {
    if (isFourcc(c, "COMM") && !seen->comm) {
        if (!whole) return ZEF_ERROR(ZEFERR_AIFF_COULDNT_FIND_ALL_CHUNKS, fourccValue(c), kd);
        seen->comm = true;
        return readCommChunk(kd, c + kHead, size, seen->aifc, d);
    }
    if (isFourcc(c, "SSND") && !seen->ssnd) {
        seen->ssnd = true;
        d->dwDataOffset = uint32_t(pos + kSsndDataStart);
        return 0;
    }
    if (isFourcc(c, "MARK") && !seen->mark && whole) {
        seen->mark = true;
        return readMarkChunk(kd, c + kHead, size);
    }
    return 0;  // "FVER" and everything else
}

uint16_t walkForm(KELVANE_DATA* kd, const uint8_t* start, uint32_t length, StreamDesc* d) {
    Seen seen;
    uint64_t pos = 0;
    while (pos + kHead <= length) {
        const uint8_t* c = start + pos;
        const uint32_t size = readBE32(c + 4);
        if (!seen.form) {
            if (!isFourcc(c, "FORM")) return ZEF_ERROR(ZEFERR_AIFF_COULDNT_FIND_ALL_CHUNKS, fourccValue(c), kd);
            if (pos + 12 > length) break;
            if (!isFourcc(c + 8, "AIFF") && !isFourcc(c + 8, "AIFC"))
                return ZEF_ERROR(ZEFERR_AIFF_COULDNT_FIND_ALL_CHUNKS, fourccValue(c + 8), kd);
            seen.form = true;
            seen.aifc = isFourcc(c + 8, "AIFC");
            d->wFormatTag = kFormatTagAIFF;
            pos += 12;  // into the form
            continue;
        }
        // The sample data must start inside the bytes the caller holds.
        if (isFourcc(c, "SSND") && pos + kSsndDataStart > length) break;
        const bool whole = pos + kHead + size <= length;
        if (uint16_t err = readFormChunk(kd, c, pos, size, whole, &seen, d)) return err;
        if (seen.comm && seen.ssnd) return 0;
        pos = NextChunkOffset(start, length, pos, size);
    }
    const uint32_t missing = !seen.form ? fourcc("FORM") : !seen.comm ? fourcc("COMM") : fourcc("SSND");
    return ZEF_ERROR(ZEFERR_AIFF_COULDNT_FIND_ALL_CHUNKS, missing, kd);
}

}  // namespace

void doubletovx80(double value, uint8_t out[10]) {
    std::memset(out, 0, 10);
    if (!(value > 0.0) || !std::isfinite(value)) return;  // 0, negative, NaN, infinity: all zero
    int e = 0;
    const double m = std::frexp(value, &e);  // value = m * 2^e, 0.5 <= m < 1
    const uint32_t mantissa = uint32_t(std::ldexp(m, 32));
    writeBE16(out, uint16_t(0x3FFE + e));  // for value >= 2: (e - 2) | 0x4000
    writeBE16(out + 2, uint16_t(mantissa >> 16));
    writeBE16(out + 4, uint16_t(mantissa));
}

double vx80toDouble(const uint8_t in[10]) {
    // Only the low byte of the exponent and the top 32 mantissa bits count:
    // exact for every rate from 2 Hz far beyond audio rates.
    const int e = (readBE16(in) & 0xFF) + 2;
    const double m = std::ldexp(double(readBE16(in + 2)), -16) + std::ldexp(double(readBE16(in + 4)), -32);
    return std::ldexp(m, e);
}

uint16_t ParseAIFFHeader(KELVANE_DATA* kd, const uint8_t* start, uint32_t length, StreamDesc* desc) {
    if (uint16_t err = checkInput(kd)) return err;
    *desc = StreamDesc{};
    if (!start) length = 0;
    const uint16_t err = walkForm(kd, start, length, desc);
    if (err) {
        desc->dwDataLength = 0;
        FreeMarkers(controlBlock(kd)->lpInputVars);  // nothing half-built stays behind
    }
    return err;
}

uint16_t WriteAiffHeader(KELVANE_DATA* kd, uint32_t totalSize) {
    if (uint16_t err = checkOutput(kd)) return err;
    if (uint16_t err = checkInput(kd)) return err;
    uint8_t* p = nullptr;
    if (uint16_t err = ReserveOutput(kd, kAiffHeaderSize, &p)) return err;
    ZefControlBlock* cb = controlBlock(kd);
    const uint16_t channels = cb->lpInputVars->desc.wChannels ? cb->lpInputVars->desc.wChannels : 1;
    const uint16_t bytes = cb->wOutputSampleSize ? cb->wOutputSampleSize : 2;
    // Sizes are modulo 2^32, as for WAVE: the header written before the
    // length is known is rewritten with the final size.
    std::memcpy(p, "FORM", 4);
    writeBE32(p + 4, totalSize - 8);
    std::memcpy(p + 8, "AIFCFVER", 8);
    writeBE32(p + 16, 4);
    writeBE32(p + 20, kAifcVersion1);
    std::memcpy(p + 24, "COMM", 4);
    writeBE32(p + 28, 38);
    writeBE16(p + 32, channels);
    writeBE32(p + 34, (totalSize - kAiffHeaderSize) / (uint32_t(channels) * bytes));
    writeBE16(p + 38, uint16_t(bytes * 8));
    doubletovx80(double(cb->dwOutputRate), p + 40);
    std::memcpy(p + 50, "NONE", 4);
    p[54] = 14;
    std::memcpy(p + 55, "not compressed", 14);
    p[69] = 0;
    std::memcpy(p + 70, "SSND", 4);
    writeBE32(p + 74, totalSize - 78);
    writeBE32(p + 78, 0);
    writeBE32(p + 82, 0);
    cb->lpOutputVars->dwWritePos += kAiffHeaderSize;
    return 0;
}

}  // namespace zef
