// Bit table of the packed Orvo frame: 14 fields, 54 bits, least significant
// bit first (the session does the extraction).
#include "codecs.h"
#include "orvo.h"

namespace zef {
namespace {

void initBitTable50(ZefControlBlock* cb) {
    cb->wFrameBits = orvo::kFrameBits;
    cb->wLeadFields = orvo::kLeadFields;
    cb->wLeadFieldBits = orvo::kFieldWidths[0] + orvo::kFieldWidths[1];
    cb->wFieldCount = orvo::kFieldCount;
    cb->lpFieldWidths = orvo::kFieldWidths;
    cb->wBitRate = 2400;
    cb->wFixedBitRate = 1;  // every frame has the same 54 bits
}

}  // namespace

uint32_t initPackOrvo(ZefControlBlock* cb) {
    if (!cb || cb->wCodecTag != orvo::kOrvoTag) return orvo::kErrNotOrvo;
    initBitTable50(cb);
    cb->wPrevSilence = 1;  // a stream starts with a fade-in
    return 0;
}

uint32_t freePackOrvo(ZefControlBlock* cb) {
    if (!cb) return orvo::kErrNotOrvo;
    cb->wFrameBits = 0;
    cb->wLeadFields = 0;
    cb->wLeadFieldBits = 0;
    cb->wFieldCount = 0;
    cb->lpFieldWidths = nullptr;
    return 0;
}

}  // namespace zef
