// The file readers over arbitrary bytes written to a file: opened with
// markers and INFO texts asked for, read through to the end, closed.
#include "fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return zeffuzz::readersEntry(data, size);
}
