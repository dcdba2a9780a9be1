// Test helper: builds Zef files from the field codes of each frame, so that
// a test can state exactly the frames it needs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support.h"

namespace zeftest {

using Frame = std::vector<uint8_t>;  // one code per field, in frame order

struct Codec {
    uint16_t number;        // 1284 Orvo, 5409 Peln
    const char* identifier; // "ZEFa", "ZEFg"
    std::vector<uint8_t> widths;
};
const Codec& orvo();
const Codec& peln();

// Frames packed into one bit stream, least significant bit first, frames not
// byte-aligned; the last byte is padded with zero bits.
std::vector<uint8_t> packFrames(const Codec& codec, const std::vector<Frame>& frames);

// A WAVE file: format tag 98, "fmt " extension with the 16-byte "ZEF."
// header (and the 10-byte Guisette chunk when guisette is not 0), "fact",
// then "data" holding the packed frames.
std::vector<uint8_t> zefWave(const Codec& codec, const std::vector<Frame>& frames, uint16_t guisette = 0);

// A raw stream: chunked "ZEF!" header (frame count, rate 8000, 180 samples
// per frame) and a "ZEFd" chunk holding the packed frames.
std::vector<uint8_t> zefRaw(const Codec& codec, const std::vector<Frame>& frames);


// Frames for tests: a steady voiced vowel and its variations.
Frame orvoFrame(uint8_t voicing, uint8_t pitch, uint8_t energy, uint8_t lsp = 4);
std::vector<Frame> orvoSpeechLike(int count);

}  // namespace zeftest
