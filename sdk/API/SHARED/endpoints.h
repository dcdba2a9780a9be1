// Helpers shared by the data and function endpoints: records, the hand-over
// of the parsed stream description, output headers and the sample
// conversions at the file boundary.
#pragma once

#include <cstdint>

#include "zefinternal.h"

namespace zef {

// Allocates the endpoint's record and attaches it to the control block.
uint16_t newInputVars(KELVANE_DATA* kd, InputVars** out);
uint16_t newOutputVars(KELVANE_DATA* kd, OutputVars** out);
// Frees the record, its buffers and markers, and detaches it.
void freeInputVars(KELVANE_DATA* kd);
void freeOutputVars(KELVANE_DATA* kd);

// Parses the container at the input record's read position and hands the
// stream description to the caller's structure and the control block.
// The header must end within the bytes held.
uint16_t parseInputHeader(KELVANE_DATA* kd, InputVars* in);

// Whether PCM bytes of this input must be converted to host order.
bool inputNeedsConversion(const KELVANE_DATA* kd, const InputVars* in);

// Room that the output header may take: the buffer of a file or function
// output holds at least this much.
uint32_t outputHeaderBound(const KELVANE_DATA* kd);
// Writes the container header (and the compatibility block or packet
// header for coded output) at the output record's write position.
uint16_t writeOutputHeader(KELVANE_DATA* kd, OutputVars* out);
// Rewrites the container header with the final total size at the start of
// the output record's buffer; the write position is left after it.
uint16_t rewriteOutputHeader(KELVANE_DATA* kd, OutputVars* out, uint32_t totalSize);

// Converts the output PCM not yet converted, up to the write position, from
// host order to the file's order, and advances out->dwConverted.
void convertOutput(KELVANE_DATA* kd, OutputVars* out);

// Doubles the endpoint's own output buffer: called when a write found it
// empty, i.e. one frame did not fit in the whole buffer.
uint16_t growOwnedOutput(KELVANE_DATA* kd, OutputVars* out, uint16_t memoryError);

// The partly filled last byte of coded output, counted when bits are in it.
void countPartialByte(KELVANE_DATA* kd, OutputVars* out);

// Calls the caller's reader or writer function stored at `location`.
uint16_t callCallerFunction(void* location, uint16_t message, ZEF_FUNCTION_BLOCK* block);

}  // namespace zef
