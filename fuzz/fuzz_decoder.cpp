// Arbitrary bytes decoded as Orvo speech through the streaming triple, fed
// in pieces and as whole images (see fuzz_decoder.h).
#include "fuzz_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return zeffuzz::decoderEntry(data, size);
}
