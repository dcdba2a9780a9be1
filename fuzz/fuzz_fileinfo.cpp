// The information call over arbitrary bytes held in memory, read as WAVE,
// AIFF, raw Zef, raw PCM and packet streams.
#include "fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return zeffuzz::fileInfoEntry(data, size);
}
