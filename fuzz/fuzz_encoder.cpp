// Arbitrary bytes as raw 16-bit PCM through the streaming compression triple
// with small output buffers.  Byte 0 picks the codec (bit 0), the input rate
// (bits 1-3) and the output buffer size (bits 4-7); the rest is the PCM,
// fed in pieces whose sizes come from the data.
#include <cstdint>
#include <cstring>
#include <vector>

#include "mirlane.h"

namespace {

constexpr uint32_t kRawBufferIn = 0x20200;
constexpr uint32_t kRawBufferOut = 0x20201;
constexpr uint32_t kRates[8] = {8000, 11025, 16000, 22050, 32000, 44100, 48000, 8000};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t mode = data[0];
    std::vector<uint8_t> pcm(data + 1, data + size);
    KELVANE_DATA kd;
    std::memset(&kd, 0, sizeof kd);
    kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
    kd.fWarpedLengthFactor = 1.0f;
    kd.dwCompressionSettings = mode & 1 ? KELVANE_CODEC_PELN_HQ : KELVANE_CODEC_LUMO_8K;
    kd.dwInputType = kRawBufferIn;
    kd.dwInputSamplingRate = kRates[(mode >> 1) & 7];
    kd.wInputBytesPerSample = 2;
    kd.dwOutputType = kRawBufferOut;
    const uint32_t outSize = 1u + (mode >> 4) * 3u;
    std::vector<uint8_t> out(4096);

    size_t at = std::min<size_t>(pcm.size(), 64);
    kd.lpInputLocation = pcm.data();
    kd.dwInputSize = uint32_t(at);
    kd.lpOutputLocation = out.data();
    kd.dwOutputSize = uint32_t(out.size());  // the stream's header goes out at init
    if (cmpZefInit(&kd) != 0) {
        cmpZefFree(&kd);
        return 0;
    }
    at = kd.dwInputBytesUsed;
    // Each round either takes input or the output was full: bounded either way.
    for (size_t round = 0; at < pcm.size() && round < 4 * pcm.size() + 16; ++round) {
        const size_t piece = 1 + pcm[at] % 97;
        kd.lpInputLocation = pcm.data() + at;
        kd.dwInputSize = uint32_t(std::min(piece, pcm.size() - at));
        kd.dwInputBytesUsed = 0;
        kd.lpOutputLocation = out.data();
        kd.dwOutputSize = outSize;
        kd.dwOutputBytesUsed = 0;
        if (cmpZefConvert(&kd) != 0) break;
        if (kd.dwInputBytesUsed > kd.dwInputSize || kd.dwOutputBytesUsed > outSize) __builtin_trap();
        at += kd.dwInputBytesUsed;
    }
    kd.lpOutputLocation = out.data();
    kd.dwOutputSize = uint32_t(out.size());
    kd.dwOutputBytesUsed = 0;
    cmpZefFree(&kd);
    return 0;
}
