// Bit table of the packed Peln frame: 16 fields, 67 bits, least significant
// bit first (the session does the extraction).
#include "codecs.h"
#include "peln.h"

namespace zef {
namespace {

void initBitTablePeln(ZefControlBlock* cb) {
    cb->wFrameBits = peln::kFrameBits;
    cb->wLeadFields = peln::kLeadFields;
    cb->wLeadFieldBits = peln::kFieldWidths[0] + peln::kFieldWidths[1];
    cb->wFieldCount = peln::kFieldCount;
    cb->lpFieldWidths = peln::kFieldWidths;
    cb->wBitRate = peln::kBitRate;
    cb->wFixedBitRate = 1;  // every frame has the same 67 bits
}

}  // namespace

uint32_t initPackPeln(ZefControlBlock* cb) {
    if (!cb || cb->wCodecTag != peln::kPelnTag) return peln::kErrNotPeln;
    initBitTablePeln(cb);
    cb->wPrevSilence = 0;  // a Peln stream starts without a fade-in
    return 0;
}

uint32_t freePackPeln(ZefControlBlock* cb) {
    if (!cb) return peln::kErrNotPeln;
    cb->wFrameBits = 0;
    cb->wLeadFields = 0;
    cb->wLeadFieldBits = 0;
    cb->wFieldCount = 0;
    cb->lpFieldWidths = nullptr;
    return 0;
}

}  // namespace zef
