// The function endpoint: the caller's own reader or writer, called with a
// parameter block for each message (40 open, 41 read, 42 write, 43 close).
#include <cstdlib>
#include <cstring>

#include "endpoints.h"
#include "zefapi.h"

namespace zef {

uint16_t callCallerFunction(void* location, uint16_t message, ZEF_FUNCTION_BLOCK* block) {
    auto function = reinterpret_cast<KELVANE_CALLBACK>(location);
    return function(0, message, block);
}

namespace {

ZEF_FUNCTION_BLOCK blockFor(KELVANE_DATA* kd, uint8_t* buffer, uint32_t length, uint32_t value) {
    ZEF_FUNCTION_BLOCK block{};
    block.wSize = ZEF_FUNCTION_BLOCK_SIZE;
    block.lpBuffer = buffer;
    block.dwLength = length;
    block.dwUserValue = value;
    block.lpKelvaneData = kd;
    return block;
}

uint16_t refused(KELVANE_DATA* kd) {
    return ZEF_ERROR(ZEF_SIGNAL_FUNCTION_REFUSED, ZEF_SIGNAL_FUNCTION_REFUSED, kd);
}

// ---- input side ------------------------------------------------------------

// Offers the reader the free space from `at`; a reader that reports more
// bytes than it was offered is not believed.
uint16_t askReader(KELVANE_DATA* kd, InputVars* in, uint16_t message, uint32_t at, uint32_t* delivered,
                   uint16_t* answer) {
    uint32_t room = in->dwTotal - at;
    ZEF_FUNCTION_BLOCK block = blockFor(kd, in->lpBase + at, room, in->dwCallerValue);
    *answer = callCallerFunction(kd->lpInputLocation, message, &block);
    if (block.dwLength > room) return ZEF_ERROR(ZEFERR_INPUT_HANDLER, block.dwLength, kd);
    *delivered = block.dwLength;
    if (message == ZEFFUNC_OPEN) in->dwCallerValue = block.dwUserValue;
    return 0;
}

// Gathers the start of the stream: what the reader gave at open, then more
// until the buffer is full or the reader has nothing more for now, so that a
// reader delivering small pieces still gets its header parsed.
uint16_t gatherHead(KELVANE_DATA* kd, InputVars* in, uint16_t* lastAnswer) {
    uint32_t got = 0;
    if (uint16_t err = askReader(kd, in, ZEFFUNC_OPEN, 0, &got, lastAnswer)) return err;
    if (*lastAnswer) return refused(kd);
    in->dwValid = got;
    while (in->dwValid < in->dwTotal) {
        if (uint16_t err = askReader(kd, in, ZEFFUNC_READ, in->dwValid, &got, lastAnswer)) return err;
        in->dwValid += got;
        if (*lastAnswer) {
            if (*lastAnswer != ZEFFUNC_NO_DATA_YET) in->wEOF = 1;
            break;
        }
        if (got == 0) break;
    }
    return 0;
}

uint16_t InputFunctionInit(KELVANE_DATA* kd) {
    InputVars* in = nullptr;
    if (uint16_t err = newInputVars(kd, &in)) return err;
    if (!kd->lpInputLocation) return ZEF_ERROR(ZEFERR_INPUT_HANDLER, 0, kd);
    in->lpOwnedBuffer = static_cast<uint8_t*>(std::calloc(kFunctionBufferSize, 1));
    if (!in->lpOwnedBuffer) return ZEF_ERROR(ZEFERR_FUNCIN_BUFFER_MEMORY, kFunctionBufferSize, kd);
    in->lpBase = in->lpOwnedBuffer;
    in->dwTotal = kFunctionBufferSize;
    uint16_t answer = 0;
    if (uint16_t err = gatherHead(kd, in, &answer)) return err;
    if (in->dwValid == 0) {
        in->wEOF = 1;
        return answer ? ZEFERR_ENDOFFILE_REACHED : ZEFERR_ENDOFBUFFER_REACHED;
    }
    if (uint16_t err = parseInputHeader(kd, in)) return err;
    return isZef(kd->dwInputType) ? 0 : PostReadProcess(kd, in, in->dwReadPos);
}

uint16_t InputFunctionRead(KELVANE_DATA* kd) {
    InputVars* in = controlBlock(kd)->lpInputVars;
    if (in->wEOF) return ZEFERR_ENDOFFILE_REACHED;
    uint32_t keep = in->dwReadPos <= in->dwValid ? in->dwValid - in->dwReadPos : 0;
    uint32_t consumed = in->dwValid - keep;
    std::memmove(in->lpBase, in->lpBase + consumed, keep);
    in->dwStreamOffset += consumed;
    in->dwValid = keep;
    in->dwReadPos = 0;
    if (keep >= in->dwTotal) {
        in->wEOF = 1;
        return ZEFERR_ENDOFFILE_REACHED;
    }
    uint32_t got = 0;
    uint16_t answer = 0;
    if (uint16_t err = askReader(kd, in, ZEFFUNC_READ, keep, &got, &answer)) return err;
    in->dwValid = keep + got;
    if (answer && answer != ZEFFUNC_NO_DATA_YET) in->wEOF = 1;  // the bytes delivered still count
    if (got && !isZef(kd->dwInputType)) {
        if (uint16_t err = PostReadProcess(kd, in, keep)) return err;
    }
    if (answer == ZEFFUNC_NO_DATA_YET) return ZEFFUNC_NO_DATA_YET;
    if (got == 0) {
        // A reader with nothing more and no complaint has ended its stream.
        in->wEOF = 1;
        return ZEFERR_ENDOFFILE_REACHED;
    }
    return 0;
}

uint16_t InputFunctionCleanup(KELVANE_DATA* kd) {
    InputVars* in = controlBlock(kd)->lpInputVars;
    uint32_t value = in->dwCallerValue;
    freeInputVars(kd);
    if (!kd->lpInputLocation) return 0;
    ZEF_FUNCTION_BLOCK block = blockFor(kd, nullptr, 0, value);
    return callCallerFunction(kd->lpInputLocation, ZEFFUNC_CLOSE, &block) ? refused(kd) : 0;
}

// ---- output side -------------------------------------------------------------

// Hands the buffered bytes to the writer.  Coded output keeps its partly
// filled last byte as the first byte of the cleared buffer.
uint16_t sendToWriter(KELVANE_DATA* kd, OutputVars* out) {
    uint32_t n = out->dwWritePos < out->dwCapacity ? out->dwWritePos : out->dwCapacity;
    uint8_t partial = isZef(kd->dwOutputType) && n < out->dwCapacity ? out->lpBase[n] : 0;
    ZEF_FUNCTION_BLOCK block = blockFor(kd, out->lpBase, n, out->dwCallerValue);
    if (n && callCallerFunction(kd->lpOutputLocation, ZEFFUNC_WRITE, &block)) return refused(kd);
    if (out->dwCapacity) {
        std::memset(out->lpBase, 0, out->dwCapacity);
        out->lpBase[0] = partial;
    }
    out->dwWritePos = 0;
    out->dwConverted = 0;
    return 0;
}

uint16_t OutputFunctionInit(KELVANE_DATA* kd) {
    OutputVars* out = nullptr;
    if (uint16_t err = newOutputVars(kd, &out)) return err;
    if (!kd->lpOutputLocation) return ZEF_ERROR(ZEFERR_OUTPUT_HANDLER, 0, kd);
    uint32_t capacity = kFunctionBufferSize;
    if (outputHeaderBound(kd) > capacity) capacity = outputHeaderBound(kd);
    out->lpOwnedBuffer = static_cast<uint8_t*>(std::calloc(capacity, 1));
    if (!out->lpOwnedBuffer) return ZEF_ERROR(ZEFERR_FUNCOUT_BUFFER_MEMORY, kFunctionBufferSize, kd);
    out->lpBase = out->lpOwnedBuffer;
    out->dwCapacity = capacity;
    if (uint16_t err = writeOutputHeader(kd, out)) return err;
    uint32_t header = out->dwWritePos;
    ZEF_FUNCTION_BLOCK block = blockFor(kd, out->lpBase, header, 0);
    if (callCallerFunction(kd->lpOutputLocation, ZEFFUNC_OPEN, &block)) return refused(kd);
    out->dwCallerValue = block.dwUserValue;
    // The writer either leaves the header to come with the first write or
    // takes it at once and answers 0.
    if (block.dwLength == 0) {
        std::memset(out->lpBase, 0, out->dwCapacity);
        out->dwWritePos = 0;
    } else if (block.dwLength != header) {
        return ZEF_ERROR(ZEFERR_OUTPUT_HANDLER, block.dwLength, kd);
    }
    out->dwConverted = out->dwWritePos;
    return 0;
}

uint16_t OutputFunctionWrite(KELVANE_DATA* kd) {
    OutputVars* out = controlBlock(kd)->lpOutputVars;
    convertOutput(kd, out);
    bool stuck = out->dwWritePos == 0;
    if (uint16_t err = sendToWriter(kd, out)) return err;
    return stuck ? growOwnedOutput(kd, out, ZEFERR_FUNCOUT_BUFFER_MEMORY) : 0;
}

uint16_t OutputFunctionCleanup(KELVANE_DATA* kd) {
    OutputVars* out = controlBlock(kd)->lpOutputVars;
    countPartialByte(kd, out);
    convertOutput(kd, out);
    uint16_t err = 0;
    if (out->dwWritePos > 0 && kd->lpOutputLocation) err = sendToWriter(kd, out);
    uint32_t value = out->dwCallerValue;
    freeOutputVars(kd);
    if (!kd->lpOutputLocation) return err;
    ZEF_FUNCTION_BLOCK block = blockFor(kd, nullptr, 0, value);
    if (callCallerFunction(kd->lpOutputLocation, ZEFFUNC_CLOSE, &block)) return refused(kd);
    return err;
}

}  // namespace

uint16_t HandleInputFunction(KELVANE_DATA* kd, uint16_t message) {
    if (message == ZEFMSG_OPEN) {
        if (uint16_t err = checkControlBlock(kd)) return err;
        return InputFunctionInit(kd);
    }
    if (message != ZEFMSG_READ && message != ZEFMSG_CLOSE) return ZEF_ERROR(ZEFERR_INPUT_HANDLER, message, kd);
    if (uint16_t err = checkInput(kd)) return err;
    return message == ZEFMSG_READ ? InputFunctionRead(kd) : InputFunctionCleanup(kd);
}

uint16_t HandleOutputFunction(KELVANE_DATA* kd, uint16_t message) {
    if (message == ZEFMSG_OPEN) {
        if (uint16_t err = checkControlBlock(kd)) return err;
        return OutputFunctionInit(kd);
    }
    if (message != ZEFMSG_WRITE && message != ZEFMSG_CLOSE) return ZEF_ERROR(ZEFERR_OUTPUT_HANDLER, message, kd);
    if (uint16_t err = checkOutput(kd)) return err;
    return message == ZEFMSG_WRITE ? OutputFunctionWrite(kd) : OutputFunctionCleanup(kd);
}

}  // namespace zef
