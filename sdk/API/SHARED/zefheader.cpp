// The Zef headers in front of coded frames: chunked ("ZEF!"), compact
// ("ZEFh"), the 16-byte "ZEF." header of WAVE files, the packet header
// ("zef!"), the playback header ("ZEFp") and the compatibility block.
// Readers look only at the input record's valid bytes; writers only at the
// output record's capacity.
#include <cstring>

#include "byteorder.h"
#include "zefapi.h"

namespace zef {
namespace {

struct CodecRow {
    uint16_t number;
    char identifier[5];
    bool readable;       // "ZEFc" and "ZEFd" name codecs this library cannot read
    uint32_t flags;
    uint16_t frameBits;
};

constexpr CodecRow kCodecs[] = {
    {ZEF_CODEC_ORVO, "ZEFa", true, 6, 54},  {ZEF_CODEC_ZEFB, "ZEFb", true, 6, 54},
    {ZEF_CODEC_MM_11K, "ZEFc", false, 0, 0}, {ZEF_CODEC_MM_22K, "ZEFd", false, 0, 0},
    {ZEF_CODEC_ZEFE, "ZEFe", true, 0, 1},   {ZEF_CODEC_ZEFF, "ZEFf", true, 6, 54},
    {ZEF_CODEC_PELN, "ZEFg", true, 6, 67},
};

const CodecRow* rowByNumber(uint16_t number) {
    for (const CodecRow& r : kCodecs)
        if (r.number == number) return &r;
    return nullptr;
}

const CodecRow* rowByIdentifier(uint32_t identifier) {
    for (const CodecRow& r : kCodecs)
        if (fourcc(r.identifier) == identifier) return &r;
    return nullptr;
}

constexpr uint32_t kDefaultRate = 8000;
constexpr uint16_t kDefaultFrameSamples = 180;
constexpr uint16_t kDefaultBytesPerSample = 2;

// What a header says about its stream.
struct StreamParams {
    uint16_t codec = 0;
    uint16_t frameSamples = 0;
    uint16_t bytesPerSample = 0;
    uint32_t flags = 0;
    uint32_t frames = 0;
    bool setFrames = true;
    uint32_t rate = 0;
    float values[4] = {0.0f, 0.0f, 0.0f, 0.0f};  // header values 1..4
};

// Stores the parameters in the control block.  Both codecs run at 8000 Hz
// on 180-sample frames, so a header that leaves rate, frame length or sample
// size at 0 gets those: the engine divides by the rate.
void applyParams(KELVANE_DATA* kd, const StreamParams& p) {
    ZefControlBlock* cb = controlBlock(kd);
    cb->wCodecTag = p.codec;
    cb->wFrameSamples = p.frameSamples ? p.frameSamples : kDefaultFrameSamples;
    cb->wOutputSampleSize = p.bytesPerSample ? p.bytesPerSample : kDefaultBytesPerSample;
    cb->dwCodecRate = p.rate ? p.rate : kDefaultRate;
    cb->dwOutputRate = cb->dwCodecRate;
    cb->dwFlags = p.flags;
    std::memcpy(cb->fHeaderValues, p.values, sizeof p.values);
    if (p.setFrames) kd->dwFramesLeft = p.frames;
    if (InputVars* in = cb->lpInputVars; in && in->dwGuard == kInputGuard) in->dwFlags = p.flags;
}

// The bytes between the read position and the end of the valid bytes.
uint32_t available(const InputVars* in) {
    return in->lpBase && in->dwReadPos <= in->dwValid ? in->dwValid - in->dwReadPos : 0;
}

constexpr uint32_t kChunkHead = 8;
constexpr uint32_t kChunkedHeaderSize = 40;  // contents of "ZEF!"

StreamParams chunkedParams(const uint8_t* c) {  // c: the "ZEF!" chunk's head
    StreamParams p;
    p.codec = readLE16(c + 8);
    p.frameSamples = readLE16(c + 10);
    p.bytesPerSample = readLE16(c + 12);
    p.flags = readLE32(c + 16);
    p.frames = readLE32(c + 20);
    p.rate = readLE32(c + 28);
    p.values[1] = readLEFloat(c + 32);
    p.values[0] = readLEFloat(c + 36);
    p.values[2] = readLEFloat(c + 40);
    p.values[3] = readLEFloat(c + 44);
    return p;
}

// A chain of chunks: "ZEF!" (parameters), "ZEFm" (markers), others skipped,
// up to "ZEFd", whose contents are the frames.
uint16_t CopyZefHeaderFromBuffer_Chunky(KELVANE_DATA* kd, InputVars* in) {
    const uint8_t* base = in->lpBase;
    const uint64_t start = in->dwReadPos;
    const uint64_t end = in->dwValid;
    StreamParams params;
    bool haveParams = false;
    uint64_t markerOffset = 0;
    bool haveMarkers = false;
    for (uint64_t pos = start;;) {
        if (pos + kChunkHead > end) return ZEF_ERROR(ZEFERR_HDR_MISSING_BITS_OF_DATA, uint32_t(pos + kChunkHead - start), kd);
        const uint8_t* c = base + pos;
        const uint32_t size = readLE32(c + 4);
        if (isFourcc(c, "ZEF!")) {
            if (size != kChunkedHeaderSize) return ZEF_ERROR(ZEFERR_ZEF_HEADER_SIZE, size, kd);
            if (pos + kChunkHead + size > end)
                return ZEF_ERROR(ZEFERR_HDR_MISSING_BITS_OF_DATA, uint32_t(pos + kChunkHead + size - start), kd);
            if (!haveParams) params = chunkedParams(c);  // a repeated "ZEF!" changes nothing
            haveParams = true;
        } else if (isFourcc(c, "ZEFm")) {
            if (!haveMarkers) markerOffset = pos;
            haveMarkers = true;
        } else if (isFourcc(c, "ZEFd")) {
            if (!haveParams) return ZEF_ERROR(ZEFERR_ZEF_HEADER_FLAG, fourccValue(c), kd);
            // Markers, when the stream has any, follow the frames.
            if (!haveMarkers) markerOffset = pos + kChunkHead + size;
            applyParams(kd, params);
            in->dwMarkerChunkOffset = markerOffset > UINT32_MAX ? UINT32_MAX : uint32_t(markerOffset);
            in->dwReadPos = uint32_t(pos + kChunkHead);
            return 0;
        }
        pos += kChunkHead + uint64_t(size);  // every step moves on by at least the head
    }
}

// One block "ZEFh" whose size (40 or 44) counts the whole block.
uint16_t CopyZefHeaderFromBuffer_Smooth(KELVANE_DATA* kd, InputVars* in) {
    const uint8_t* c = in->lpBase + in->dwReadPos;
    if (!isFourcc(c, "ZEFh")) return ZEF_ERROR(ZEFERR_ZEF_HEADER_FLAG, fourccValue(c), kd);
    const uint32_t size = readLE32(c + 4);
    if (size != 40 && size != 44) return ZEF_ERROR(ZEFERR_ZEF_HEADER_SIZE, size, kd);
    if (available(in) < size) return ZEF_ERROR(ZEFERR_HDR_MISSING_BITS_OF_DATA, size, kd);
    StreamParams p;
    p.codec = readLE16(c + 8);
    p.frameSamples = readLE16(c + 10);
    p.bytesPerSample = readLE16(c + 12);
    p.frames = readLE32(c + 16);
    p.rate = readLE32(c + 24);
    p.values[1] = readLEFloat(c + 28);
    p.values[0] = readLEFloat(c + 32);
    p.values[2] = readLEFloat(c + 36);
    p.values[3] = size == 44 ? readLEFloat(c + 40) : 1.0f;
    applyParams(kd, p);
    in->dwReadPos += size;
    return 0;
}

uint16_t writerChecks(KELVANE_DATA* kd) {
    if (uint16_t err = checkControlBlock(kd)) return err;
    return checkOutput(kd);
}

}  // namespace

uint16_t CodedBitsPerFrame(uint16_t codec) {
    const CodecRow* r = rowByNumber(codec);
    return r ? r->frameBits : 0;
}

uint16_t ReserveOutput(KELVANE_DATA* kd, uint32_t bytes, uint8_t** at) {
    if (uint16_t err = writerChecks(kd)) return err;
    OutputVars* out = controlBlock(kd)->lpOutputVars;
    const uint64_t needed = uint64_t(out->dwWritePos) + bytes;
    if (!out->lpBase || needed > out->dwCapacity)
        return ZEF_ERROR(ZEFERR_PRIME_TIME, needed > UINT32_MAX ? UINT32_MAX : uint32_t(needed), kd);
    *at = out->lpBase + out->dwWritePos;
    return 0;
}

uint16_t GetCodecID(KELVANE_DATA* kd, uint32_t* identifier) {
    if (uint16_t err = checkControlBlock(kd)) return err;
    const ZefControlBlock* cb = controlBlock(kd);
    const CodecRow* r = rowByNumber(cb->wCodecTag);
    if (!r) return ZEF_ERROR(ZEFERR_NO_CODECID_FOR_HEADER, cb->wCodecTag, kd);
    *identifier = fourcc(r->identifier);
    return 0;
}

uint16_t GetZefHeaderFromCodecID(KELVANE_DATA* kd, uint32_t identifier) {
    if (uint16_t err = checkControlBlock(kd)) return err;
    const CodecRow* r = rowByIdentifier(identifier);
    if (!r || !r->readable) return ZEF_ERROR(ZEFERR_UNKNOWN_CODECID_IN_HEADER, identifier, kd);
    StreamParams p;
    p.codec = r->number;
    p.frameSamples = kDefaultFrameSamples;
    p.bytesPerSample = kDefaultBytesPerSample;
    p.rate = kDefaultRate;
    p.flags = r->flags;
    p.setFrames = false;  // the identifier alone says nothing about the length
    applyParams(kd, p);
    kd->dwCompressionSettings = identifier;
    return 0;
}

uint32_t ZEF12HeaderSize(uint32_t outputType) { return isZef(outputType) ? kZef12HeaderSize : 0; }

uint16_t ZEF12InsertHeader(KELVANE_DATA* kd, uint8_t** cursor) {
    if (uint16_t err = writerChecks(kd)) return err;
    if (!isZef(kd->dwOutputType)) return 0;
    uint32_t identifier = 0;
    if (uint16_t err = GetCodecID(kd, &identifier)) return err;
    uint8_t* p = *cursor;
    std::memcpy(p, "ZEF.", 4);
    writeLE32(p + 4, kZef12HeaderSize - kChunkHead);
    writeLE16(p + 8, 0);
    writeLE16(p + 10, kd->wCompatibilityHeader ? uint16_t(kCompatBlockSize) : 0);
    writeFourcc(p + 12, identifier);
    *cursor = p + kZef12HeaderSize;
    return 0;
}

uint16_t ZEF12ReadHeader(KELVANE_DATA* kd, const uint8_t* contents, uint32_t size) {
    if (uint16_t err = checkInput(kd)) return err;
    if (!isZef(kd->dwInputType)) return ZEF_ERROR(ZEFERR_INVALID_INPUT_TYPE, kd->dwInputType, kd);
    const uint8_t* head = contents - kChunkHead;
    if (!isFourcc(head, "ZEF.")) return ZEF_ERROR(ZEFERR_HDR_MISSING_BITS_OF_DATA, fourccValue(head), kd);
    if (size < kZef12HeaderSize - kChunkHead) return ZEF_ERROR(ZEFERR_ZEF_HEADER_SIZE, size, kd);
    if (uint16_t err = GetZefHeaderFromCodecID(kd, fourccValue(contents + 4))) return err;
    InputVars* in = controlBlock(kd)->lpInputVars;
    in->wSaw16ByteHeader = 1;
    in->wCompatLength = readLE16(contents + 2);
    return 0;
}

uint16_t CopyZefHeaderFromBuffer(KELVANE_DATA* kd) {
    if (uint16_t err = checkInput(kd)) return err;
    InputVars* in = controlBlock(kd)->lpInputVars;
    if (in->wSaw16ByteHeader) {
        // The WAVE "fmt " chunk carried the header; the compatibility block
        // in front of the frames is for older readers only.
        if (available(in) < in->wCompatLength)
            return ZEF_ERROR(ZEFERR_HDR_MISSING_BITS_OF_DATA, in->wCompatLength, kd);
        in->dwReadPos += in->wCompatLength;
        return 0;
    }
    if (available(in) < kChunkHead) return ZEF_ERROR(ZEFERR_HDR_MISSING_BITS_OF_DATA, kChunkHead, kd);
    const uint8_t* c = in->lpBase + in->dwReadPos;
    const uint32_t size = readLE32(c + 4);
    if (isFourcc(c, "ZEFh") && (size == 40 || size == 44)) return CopyZefHeaderFromBuffer_Smooth(kd, in);
    if (isFourcc(c, "ZEF!")) return CopyZefHeaderFromBuffer_Chunky(kd, in);
    return ZEF_ERROR(ZEFERR_ZEF_HEADER_FLAG, fourccValue(c), kd);
}

uint16_t CopyZefHeaderToBuffer(KELVANE_DATA* kd) {
    if (uint16_t err = writerChecks(kd)) return err;
    if (!kd->wCompatibilityHeader) return 0;
    uint8_t* p = nullptr;
    if (uint16_t err = ReserveOutput(kd, kCompatBlockSize, &p)) return err;
    std::memcpy(p, kCompatBlock, kCompatBlockSize);
    controlBlock(kd)->lpOutputVars->dwWritePos += kCompatBlockSize;
    return 0;
}

// Packet header: an 8-byte prefix, big-endian (16, bits per frame, bytes
// per frame, 0), then the 16-byte "zef!" block, little-endian.
uint16_t WriteCompressedZefHeader(KELVANE_DATA* kd) {
    uint8_t* p = nullptr;
    if (uint16_t err = ReserveOutput(kd, kPacketHeaderSize, &p)) return err;
    ZefControlBlock* cb = controlBlock(kd);
    const uint16_t bits = cb->wFrameBits ? cb->wFrameBits : 54;
    writeBE16(p, 16);
    writeBE16(p + 2, bits);
    writeBE16(p + 4, uint16_t((bits + 7) / 8));
    writeBE16(p + 6, 0);
    std::memcpy(p + 8, "zef!", 4);
    writeLE16(p + 12, 16);
    writeLE16(p + 14, cb->wCodecTag);
    writeLE32(p + 16, cb->wFixedBitRate ? 7 : 1);
    writeLE16(p + 20, cb->wFrameSamples);
    writeLE16(p + 22, 0);
    cb->lpOutputVars->dwWritePos += kPacketHeaderSize;
    return 0;
}

// Chunked header of a raw coded stream: the "ZEF!" chunk with the stream's
// parameters, then the head of the "ZEFd" chunk that holds the frames.
// Frame count and data size are 0 until the writer knows them (a stream
// handed out piece by piece keeps 0: readers then take the frames up to
// the end of the stream).
uint16_t WriteChunkedZefHeader(KELVANE_DATA* kd, uint32_t frames, uint32_t dataBytes) {
    uint8_t* p = nullptr;
    if (uint16_t err = ReserveOutput(kd, kChunkedZefHeaderSize, &p)) return err;
    ZefControlBlock* cb = controlBlock(kd);
    const CodecRow* r = rowByNumber(cb->wCodecTag);
    if (!r || !r->readable) return ZEF_ERROR(ZEFERR_NO_CODECID_FOR_HEADER, cb->wCodecTag, kd);
    std::memset(p, 0, kChunkedZefHeaderSize);
    std::memcpy(p, "ZEF!", 4);
    writeLE32(p + 4, kChunkedHeaderSize);
    writeLE16(p + 8, cb->wCodecTag);
    writeLE16(p + 10, cb->wFrameSamples ? cb->wFrameSamples : kDefaultFrameSamples);
    writeLE16(p + 12, kDefaultBytesPerSample);
    writeLE32(p + 16, r->flags);
    writeLE32(p + 20, frames);
    writeLE32(p + 28, kDefaultRate);
    // Header values 2, 1 and 3 carry nothing for our streams; value 4 is 1.0
    // as a compact header without it reads.
    writeLEFloat(p + 44, 1.0f);
    std::memcpy(p + 48, "ZEFd", 4);
    writeLE32(p + 52, dataBytes);
    cb->lpOutputVars->dwWritePos += kChunkedZefHeaderSize;
    return 0;
}

uint16_t ReadCompressedZefHeader(KELVANE_DATA* kd) {
    if (uint16_t err = checkInput(kd)) return err;
    InputVars* in = controlBlock(kd)->lpInputVars;
    const uint8_t* p = in->lpBase + in->dwReadPos;
    uint32_t skip = 0;
    // A stream that starts with the writer's 8-byte prefix: step over it.
    if (available(in) >= kPacketHeaderSize && !isFourcc(p, "zef!") && isFourcc(p + 8, "zef!") &&
        readBE16(p) == 16)
        skip = 8;
    if (available(in) < skip + 16) return ZEF_ERROR(ZEFERR_HDR_MISSING_BITS_OF_DATA, 16, kd);
    p += skip;
    if (readLE16(p + 4) != 16) return ZEF_ERROR(ZEFERR_HDR_MISSING_BITS_OF_DATA, 16, kd);
    if (!isFourcc(p, "zef!")) return ZEF_ERROR(ZEFERR_NOT_A_COMPRESSED_HEADER, fourccValue(p), kd);
    StreamParams params;
    params.codec = readLE16(p + 6);
    params.bytesPerSample = 1;
    params.rate = kDefaultRate;
    params.frameSamples = readLE16(p + 12);
    params.flags = readLE32(p + 8);
    params.frames = 0;  // a packet stream does not know its length
    applyParams(kd, params);
    in->dwReadPos += skip + 16;
    return 0;
}

// "ZEFp", 32 bytes, numbers big-endian: 24, 1, 255, frame count, rate,
// bytes per sample, samples per frame, warp factor, 20, padding.
uint16_t WritePlaybackHeader(KELVANE_DATA* kd) {
    uint8_t* p = nullptr;
    if (uint16_t err = ReserveOutput(kd, kPlaybackHeaderSize, &p)) return err;
    ZefControlBlock* cb = controlBlock(kd);
    std::memset(p, 0, kPlaybackHeaderSize);
    std::memcpy(p, "ZEFp", 4);
    writeBE32(p + 4, kPlaybackHeaderSize - kChunkHead);
    writeBE16(p + 8, 1);
    writeBE16(p + 10, 255);
    writeBE32(p + 12, kd->dwFramesLeft);
    writeBE32(p + 16, cb->dwOutputRate);
    writeBE16(p + 20, cb->wOutputSampleSize);
    writeBE16(p + 22, cb->wFrameSamples);
    writeBEFloat(p + 24, cb->fWarp);
    writeBE16(p + 28, 20);
    cb->lpOutputVars->dwWritePos += kPlaybackHeaderSize;
    return 0;
}

uint16_t ReadVoiceEffect(KELVANE_DATA* kd, const uint8_t* payload, uint32_t size) {
    if (uint16_t err = checkControlBlock(kd)) return err;
    if (size != 2) return ZEF_ERROR(ZEFERR_GUII_UNKNOWN_GU_CHUNK_SIZE, size, kd);
    controlBlock(kd)->wGuisette = readLE16(payload);
    return 0;
}

uint16_t EmbedGuisetteChunk(uint8_t** cursor, unsigned number) {
    if (!cursor || !*cursor) return ZEF_ERROR(ZEFERR_GU_CHUNK_NULL, 0, nullptr);
    uint8_t* p = *cursor;
    std::memcpy(p, "ZEfG", 4);
    writeLE32(p + 4, 2);
    writeLE16(p + 8, uint16_t(number));
    *cursor = p + kGuisetteChunkSize;
    return 0;
}

}  // namespace zef
