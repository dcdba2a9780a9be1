// The data endpoint: input from and output to files and memory buffers.
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "endpoints.h"
#include "filelayer.h"
#include "zefapi.h"

namespace zef {

// ---- records and headers shared with the function endpoint --------------

uint16_t newInputVars(KELVANE_DATA* kd, InputVars** out) {
    ZefControlBlock* cb = controlBlock(kd);
    if (cb->lpInputVars) return ZEF_ERROR(ZEFERR_INPUT_HANDLER, ZEFMSG_OPEN, kd);
    auto* in = static_cast<InputVars*>(std::calloc(1, sizeof(InputVars)));
    if (!in) return ZEF_ERROR(ZEFERR_INPUT_VARS_MEMORY, sizeof(InputVars), kd);
    in->dwGuard = kInputGuard;
    cb->lpInputVars = in;
    *out = in;
    return 0;
}

uint16_t newOutputVars(KELVANE_DATA* kd, OutputVars** out) {
    ZefControlBlock* cb = controlBlock(kd);
    if (cb->lpOutputVars) return ZEF_ERROR(ZEFERR_OUTPUT_HANDLER, ZEFMSG_OPEN, kd);
    auto* rec = static_cast<OutputVars*>(std::calloc(1, sizeof(OutputVars)));
    if (!rec) return ZEF_ERROR(ZEFERR_OUTPUT_VARS_MEMORY, 60, kd);
    rec->dwGuard = kOutputGuard;
    cb->lpOutputVars = rec;
    *out = rec;
    return 0;
}

void freeInputVars(KELVANE_DATA* kd) {
    ZefControlBlock* cb = controlBlock(kd);
    InputVars* in = cb->lpInputVars;
    if (!in) return;
    std::free(in->lpMarkerList);
    std::free(in->lpMarkerChunk);
    std::free(in->lpOwnedBuffer);
    in->dwGuard = 0;
    std::free(in);
    cb->lpInputVars = nullptr;
}

void freeOutputVars(KELVANE_DATA* kd) {
    ZefControlBlock* cb = controlBlock(kd);
    OutputVars* out = cb->lpOutputVars;
    if (!out) return;
    std::free(out->lpOwnedBuffer);
    out->dwGuard = 0;
    std::free(out);
    cb->lpOutputVars = nullptr;
}

uint16_t parseInputHeader(KELVANE_DATA* kd, InputVars* in) {
    if (uint16_t err = ParseHeader(kd, in)) return err;
    if (in->dwReadPos > in->dwValid) return ZEF_ERROR(ZEFERR_CANT_SURF_THIS_WAVE, in->dwReadPos, kd);
    in->dwDataStart = in->dwStreamOffset + in->dwReadPos;
    const StreamDesc& d = in->desc;
    kd->dwInputSamplingRate = d.dwSamplingRate;
    kd->wInputBytesPerSample = d.wBytesPerSample;
    ZefControlBlock* cb = controlBlock(kd);
    cb->wOutputSampleSize = d.wBytesPerSample;
    cb->dwCodecRate = d.dwSamplingRate;
    cb->dwOutputRate = d.dwSamplingRate;
    cb->wChannels = d.wChannels;
    return 0;
}

uint32_t outputHeaderBound(const KELVANE_DATA* kd) {
    uint32_t bound = 512 + kCompatBlockSize;
    if (kd->wSizeOfKelvaneData >= KELVANE_DATA_VERSION_MARK && kd->lpInfoChunks && kd->wInfoChunks > 0)
        bound += uint32_t(kd->wInfoChunks) * (8 + ZEF_INFO_TEXT_SIZE);
    return bound;
}

namespace {

bool isPacketOutput(const KELVANE_DATA* kd) { return locationOf(kd->dwOutputType) == ZEFTYPE_LOCATION_PACKET; }

// A raw coded stream (no container, not a packet stream) starts with the
// chunked "ZEF!" header, which readers of raw streams require.  It stands
// where the compatibility block would: that block is itself a complete
// chunked header with frames of its own, so in front of a raw stream it
// would be read as the stream's header.
bool isChunkedOutput(const KELVANE_DATA* kd) {
    return isZef(kd->dwOutputType) && formatOf(kd->dwOutputType) == ZEFTYPE_FORMAT_RAW && !isPacketOutput(kd);
}

// Bytes that follow the container header inside the output header.
uint32_t codedHeaderLength(const KELVANE_DATA* kd) {
    if (!isZef(kd->dwOutputType)) return 0;
    if (isPacketOutput(kd)) return kPacketHeaderSize;
    if (isChunkedOutput(kd)) return kChunkedZefHeaderSize;
    return kd->wCompatibilityHeader ? kCompatBlockSize : 0;
}

uint16_t writeContainerHeader(KELVANE_DATA* kd, uint32_t totalSize, uint32_t dataBytes) {
    switch (formatOf(kd->dwOutputType)) {
        case ZEFTYPE_FORMAT_WAVE:
            return WriteRIFFHeader(kd, totalSize, dataBytes);
        case ZEFTYPE_FORMAT_AIFF:
            return WriteAiffHeader(kd, totalSize);
        case ZEFTYPE_FORMAT_PLAYBACK:
            return totalSize ? 0 : WritePlaybackHeader(kd);
        case ZEFTYPE_FORMAT_RAW:
            return 0;
        default:
            return ZEF_ERROR(ZEFERR_UNKNOWN_HEADER_FORMAT, formatOf(kd->dwOutputType), kd);
    }
}

}  // namespace

uint16_t writeOutputHeader(KELVANE_DATA* kd, OutputVars* out) {
    if (uint16_t err = writeContainerHeader(kd, 0, 0)) return err;
    if (isZef(kd->dwOutputType)) {
        uint16_t err = isPacketOutput(kd)    ? WriteCompressedZefHeader(kd)
                       : isChunkedOutput(kd) ? WriteChunkedZefHeader(kd, 0, 0)
                                             : CopyZefHeaderToBuffer(kd);
        if (err) return err;
    }
    if (out->dwWritePos > out->dwCapacity) return ZEF_ERROR(ZEFERR_PRIME_TIME, out->dwWritePos, kd);
    out->dwHeaderLength = out->dwWritePos;
    return 0;
}

namespace {

// The frames and data bytes of a raw coded stream become known at its end.
uint16_t rewriteChunkedHeader(KELVANE_DATA* kd, OutputVars* out, uint32_t totalSize) {
    if (out->dwHeaderLength != kChunkedZefHeaderSize) return 0;  // the header did not get written
    out->dwWritePos = 0;
    const uint32_t data = totalSize > kChunkedZefHeaderSize ? totalSize - kChunkedZefHeaderSize : 0;
    return WriteChunkedZefHeader(kd, controlBlock(kd)->dwFramesProcessed, data);
}

}  // namespace

uint16_t rewriteOutputHeader(KELVANE_DATA* kd, OutputVars* out, uint32_t totalSize) {
    if (isChunkedOutput(kd)) return rewriteChunkedHeader(kd, out, totalSize);
    uint32_t format = formatOf(kd->dwOutputType);
    if (format != ZEFTYPE_FORMAT_WAVE && format != ZEFTYPE_FORMAT_AIFF) return 0;
    uint32_t container = out->dwHeaderLength - codedHeaderLength(kd);
    out->dwWritePos = 0;
    uint32_t data = totalSize > container ? totalSize - container : 0;
    if (uint16_t err = writeContainerHeader(kd, totalSize, data)) return err;
    // The final header must cover exactly the bytes the first one took.
    if (out->dwWritePos != container) return ZEF_ERROR(ZEFERR_WRITING_TO_FILE, out->dwWritePos, kd);
    return 0;
}

uint16_t growOwnedOutput(KELVANE_DATA* kd, OutputVars* out, uint16_t memoryError) {
    constexpr uint32_t kLargestOwnedOutput = 1u << 24;
    uint32_t capacity = out->dwCapacity;
    uint32_t bigger = capacity ? 2 * capacity : kFileBufferSize;
    if (out->lpBase != out->lpOwnedBuffer || capacity > kLargestOwnedOutput / 2)
        return ZEF_ERROR(memoryError, bigger, kd);
    auto* grown = static_cast<uint8_t*>(std::realloc(out->lpOwnedBuffer, bigger));
    if (!grown) return ZEF_ERROR(memoryError, bigger, kd);
    std::memset(grown + capacity, 0, bigger - capacity);
    out->lpOwnedBuffer = out->lpBase = grown;
    out->dwCapacity = bigger;
    return 0;
}

void countPartialByte(KELVANE_DATA* kd, OutputVars* out) {
    ZefControlBlock* cb = controlBlock(kd);
    if (isZef(kd->dwOutputType) && cb->wBitPosition != 0 && out->dwWritePos < out->dwCapacity) ++out->dwWritePos;
}

namespace {

// ---- input side ------------------------------------------------------------

uint16_t openInputFile(KELVANE_DATA* kd, InputVars* in) {
    const char* name = static_cast<const char*>(kd->lpInputLocation);
    if (uint16_t err = FileInit(kd, kd->dwInputType, name, kFileReading, &in->lpFile)) return err;
    uint32_t valid = 0;
    uint8_t* buffer = nullptr;
    if (uint16_t err = FileRead(in->lpFile, &buffer, &valid, kConsumedAll)) return err;
    in->lpBase = buffer;
    in->dwTotal = in->lpFile->dwCapacity;
    in->dwValid = valid;
    in->dwReadPos = 0;
    in->wEOF = in->lpFile->wEOF;
    if (valid == 0) return ZEF_ERROR(ZEFERR_READING_FROM_FILE, 0, kd);
    return 0;
}

uint16_t openInputBuffer(KELVANE_DATA* kd, InputVars* in) {
    if (!kd->lpInputLocation && kd->dwInputSize) return ZEF_ERROR(ZEFERR_INPUT_HANDLER, 0, kd);
    if (kd->dwInputBytesUsed > kd->dwInputSize)
        return ZEF_ERROR(ZEFERR_INPUT_HANDLER, kd->dwInputBytesUsed, kd);
    in->lpBase = static_cast<uint8_t*>(kd->lpInputLocation);
    in->dwTotal = in->dwValid = kd->dwInputSize;
    in->dwReadPos = kd->dwInputBytesUsed;
    in->wEOF = 1;  // the buffer is all there is
    return 0;
}

// PCM that needs converting is converted in a copy: the caller's buffer is
// never written (it may be read-only, or read again).
uint16_t convertInputBuffer(KELVANE_DATA* kd, InputVars* in) {
    if (in->dwTotal == 0) return 0;
    auto* copy = static_cast<uint8_t*>(std::malloc(in->dwTotal));
    if (!copy) return ZEF_ERROR(ZEFERR_TEMP_INPUT_BUFFER_MEMORY, in->dwTotal, kd);
    std::memcpy(copy, in->lpBase, in->dwTotal);
    in->lpBase = in->lpOwnedBuffer = copy;
    return PostReadProcess(kd, in, in->dwReadPos);
}

uint16_t InputDataInit(KELVANE_DATA* kd) {
    InputVars* in = nullptr;
    if (uint16_t err = newInputVars(kd, &in)) return err;
    uint32_t loc = locationOf(kd->dwInputType);
    uint16_t err = loc == ZEFTYPE_LOCATION_FILE ? openInputFile(kd, in)
                   : isMemoryLocation(kd->dwInputType)
                       ? openInputBuffer(kd, in)
                       : ZEF_ERROR(ZEFERR_INVALID_INPUT_TYPE, kd->dwInputType, kd);
    if (err) return err;
    if ((err = parseInputHeader(kd, in))) return err;
    if (isZef(kd->dwInputType) || !inputNeedsConversion(kd, in)) return 0;
    if (!in->lpFile) return convertInputBuffer(kd, in);
    return PostReadProcess(kd, in, in->dwReadPos);
}

uint16_t InputDataRead(KELVANE_DATA* kd) {
    InputVars* in = controlBlock(kd)->lpInputVars;
    FileRecord* f = in->lpFile;
    if (!f || in->wEOF) {
        in->wEOF = 1;
        return ZEFERR_ENDOFFILE_REACHED;
    }
    uint32_t valid = in->dwValid;
    uint32_t keep = in->dwReadPos <= valid ? valid - in->dwReadPos : 0;
    uint8_t* buffer = nullptr;
    uint16_t err = FileRead(f, &buffer, &valid, in->dwReadPos);
    in->lpBase = buffer;
    in->dwValid = valid;
    in->dwReadPos = 0;
    in->wEOF = f->wEOF;
    if (err == ZEFERR_ENDOFFILE_REACHED) in->wEOF = 1;
    if (err) return err;
    if (valid <= keep) {
        // Nothing new: the normal end of a file, or a read that failed.
        if (f->wEOF) return ZEFERR_ENDOFFILE_REACHED;
        return ZEF_ERROR(ZEFERR_READING_FROM_FILE, uint32_t(errno), kd);
    }
    return isZef(kd->dwInputType) ? 0 : PostReadProcess(kd, in, keep);
}

uint16_t InputDataCleanup(KELVANE_DATA* kd) {
    InputVars* in = controlBlock(kd)->lpInputVars;
    if (isMemoryLocation(kd->dwInputType)) kd->dwInputBytesUsed = in->dwReadPos;
    uint16_t err = FileClose(&in->lpFile, 0);
    freeInputVars(kd);
    return err;
}

// ---- output side -------------------------------------------------------------

// Writing the file that is being read would destroy the input.
uint16_t refuseOutputOverInput(KELVANE_DATA* kd, const char* name) {
    InputVars* in = controlBlock(kd)->lpInputVars;
    if (!in || !in->lpFile || !in->lpFile->lpStream || !name) return 0;
    struct stat inputStat, outputStat;
    if (::fstat(fileno(in->lpFile->lpStream), &inputStat) != 0 || ::stat(name, &outputStat) != 0) return 0;
    if (inputStat.st_dev == outputStat.st_dev && inputStat.st_ino == outputStat.st_ino)
        return ZEF_ERROR(ZEFERR_OPENING_OUTPUT_FILE, EEXIST, kd);
    return 0;
}

// Hands the buffered bytes to the file.  Coded output keeps its partly
// filled last byte as the first byte of the cleared buffer.
uint16_t flushOutputFile(KELVANE_DATA* kd, OutputVars* out) {
    uint32_t n = out->dwWritePos < out->dwCapacity ? out->dwWritePos : out->dwCapacity;
    uint8_t partial = isZef(kd->dwOutputType) && n < out->dwCapacity ? out->lpBase[n] : 0;
    if (uint16_t err = FileWrite(out->lpFile, &n, out->lpBase)) return err;
    if (out->dwCapacity) {
        std::memset(out->lpBase, 0, out->dwCapacity);
        out->lpBase[0] = partial;
    }
    out->dwWritePos = 0;
    out->dwConverted = 0;
    return 0;
}

uint16_t openOutputFile(KELVANE_DATA* kd, OutputVars* out) {
    uint32_t capacity = kFileBufferSize;
    if (outputHeaderBound(kd) > capacity) capacity = outputHeaderBound(kd);
    out->lpOwnedBuffer = static_cast<uint8_t*>(std::calloc(capacity, 1));
    if (!out->lpOwnedBuffer) return ZEF_ERROR(ZEFERR_OUTPUT_DISKIO_MEMORY, kFileBufferSize, kd);
    out->lpBase = out->lpOwnedBuffer;
    out->dwCapacity = capacity;
    const char* name = static_cast<const char*>(kd->lpOutputLocation);
    if (uint16_t err = refuseOutputOverInput(kd, name)) return err;
    return FileInit(kd, kd->dwOutputType, name, kFileWriting, &out->lpFile);
}

uint16_t openOutputBuffer(KELVANE_DATA* kd, OutputVars* out) {
    if (!kd->lpOutputLocation && kd->dwOutputSize) return ZEF_ERROR(ZEFERR_OUTPUT_HANDLER, 0, kd);
    out->lpBase = static_cast<uint8_t*>(kd->lpOutputLocation);
    out->dwCapacity = kd->dwOutputSize;
    if (out->lpBase) std::memset(out->lpBase, 0, out->dwCapacity);
    return 0;
}

uint16_t OutputDataInit(KELVANE_DATA* kd) {
    OutputVars* out = nullptr;
    if (uint16_t err = newOutputVars(kd, &out)) return err;
    bool toFile = locationOf(kd->dwOutputType) == ZEFTYPE_LOCATION_FILE;
    uint16_t err = toFile ? openOutputFile(kd, out)
                   : isMemoryLocation(kd->dwOutputType)
                       ? openOutputBuffer(kd, out)
                       : ZEF_ERROR(ZEFERR_INVALID_OUTPUT_TYPE, kd->dwOutputType, kd);
    if (err) return err;
    if ((err = writeOutputHeader(kd, out))) return err;
    out->dwConverted = out->dwWritePos;
    return toFile ? flushOutputFile(kd, out) : 0;
}

uint16_t OutputDataWrite(KELVANE_DATA* kd) {
    OutputVars* out = controlBlock(kd)->lpOutputVars;
    convertOutput(kd, out);
    if (!out->lpFile) return ZEFERR_ENDOFBUFFER_REACHED;  // a buffer that is full ends the output
    bool stuck = out->dwWritePos == 0;
    if (uint16_t err = flushOutputFile(kd, out)) return err;
    return stuck ? growOwnedOutput(kd, out, ZEFERR_OUTPUT_DISKIO_MEMORY) : 0;
}

// Coded output is padded to whole blocks of the stream; PCM is whole samples.
uint32_t paddingFor(KELVANE_DATA* kd, uint32_t length) {
    if (!isZef(kd->dwOutputType)) return 0;
    InputVars* in = controlBlock(kd)->lpInputVars;
    uint32_t align = in && in->desc.wBlockAlign ? in->desc.wBlockAlign : 1;
    if (align > 8) align = 1;
    return (align - length % align) % align;
}

bool hasRewrittenHeader(const KELVANE_DATA* kd) {
    const uint32_t format = formatOf(kd->dwOutputType);
    return format == ZEFTYPE_FORMAT_WAVE || format == ZEFTYPE_FORMAT_AIFF || isChunkedOutput(kd);
}

uint16_t finishOutputFile(KELVANE_DATA* kd, OutputVars* out) {
    countPartialByte(kd, out);
    convertOutput(kd, out);
    if (uint16_t err = flushOutputFile(kd, out)) return err;
    FILE* stream = out->lpFile->lpStream;
    if (std::fflush(stream) != 0) return ZEF_ERROR(ZEFERR_WRITING_TO_FILE, uint32_t(errno), kd);
    off_t end = ftello(stream);
    if (end < 0) return ZEF_ERROR(ZEFERR_WRITING_TO_FILE, uint32_t(errno), kd);
    uint32_t total = end > off_t(UINT32_MAX) ? UINT32_MAX : uint32_t(end);
    uint32_t pad = paddingFor(kd, total);
    if (pad) {
        out->dwWritePos = pad;  // the buffer is cleared: zero bytes
        if (uint16_t err = flushOutputFile(kd, out)) return err;
        total += pad;
    }
    if (!hasRewrittenHeader(kd)) return 0;
    if (std::fflush(stream) != 0 || fseeko(stream, 0, SEEK_SET) != 0)
        return ZEF_ERROR(ZEFERR_WRITING_TO_FILE, uint32_t(errno), kd);
    if (uint16_t err = rewriteOutputHeader(kd, out, total)) return err;
    uint32_t n = out->dwWritePos;
    return FileWrite(out->lpFile, &n, out->lpBase);
}

void finishOutputBuffer(KELVANE_DATA* kd, OutputVars* out) {
    countPartialByte(kd, out);
    convertOutput(kd, out);
    uint32_t pad = paddingFor(kd, out->dwWritePos);
    if (out->dwWritePos + pad > out->dwCapacity) pad = 0;
    if (pad) std::memset(out->lpBase + out->dwWritePos, 0, pad);
    out->dwWritePos += pad;
    kd->dwOutputBytesUsed = out->dwWritePos;
    // A one-shot output gets its header again with the final length.
    if (out->wMode == 0 && out->dwHeaderLength && out->dwWritePos <= out->dwCapacity) {
        uint32_t length = out->dwWritePos;
        rewriteOutputHeader(kd, out, length);
        out->dwWritePos = length;
    }
}

uint16_t OutputDataCleanup(KELVANE_DATA* kd) {
    OutputVars* out = controlBlock(kd)->lpOutputVars;
    uint16_t err = 0;
    if (out->lpFile) {
        err = finishOutputFile(kd, out);
        // A session that failed before the end of its input leaves no file;
        // a decoding that the caller's callback stopped keeps what it decoded
        // (to the last whole frame, header completed).
        const ZefControlBlock* cb = controlBlock(kd);
        const bool stopped = cb->wMode == kModeDecompress && cb->wCallbackResult != 0;
        err = FileClose(&out->lpFile, err, out->wEnd == 0 && !stopped);
    } else if (isMemoryLocation(kd->dwOutputType)) {
        finishOutputBuffer(kd, out);
    }
    freeOutputVars(kd);
    return err;
}

}  // namespace

uint16_t HandleInputData(KELVANE_DATA* kd, uint16_t message) {
    if (message == ZEFMSG_OPEN) {
        if (uint16_t err = checkControlBlock(kd)) return err;
        return InputDataInit(kd);
    }
    if (message != ZEFMSG_READ && message != ZEFMSG_CLOSE) return ZEF_ERROR(ZEFERR_INPUT_HANDLER, message, kd);
    if (uint16_t err = checkInput(kd)) return err;
    return message == ZEFMSG_READ ? InputDataRead(kd) : InputDataCleanup(kd);
}

uint16_t HandleOutputData(KELVANE_DATA* kd, uint16_t message) {
    if (message == ZEFMSG_OPEN) {
        if (uint16_t err = checkControlBlock(kd)) return err;
        return OutputDataInit(kd);
    }
    if (message != ZEFMSG_WRITE && message != ZEFMSG_CLOSE) return ZEF_ERROR(ZEFERR_OUTPUT_HANDLER, message, kd);
    if (uint16_t err = checkOutput(kd)) return err;
    return message == ZEFMSG_WRITE ? OutputDataWrite(kd) : OutputDataCleanup(kd);
}

}  // namespace zef
