// Body of the decoder's fuzz target, shared with the test that replays its
// seed corpus under the normal and the sanitizer builds.
//
// Arbitrary bytes are decoded as Orvo speech through the streaming triple
// (dcmpZefInit, dcmpZefConvert, dcmpZefFree) on memory input, the way the
// player decodes, in two ways:
//  - framed: the first six bytes choose the settings (output rate and sample
//    size, synthesizer, warp, pitch, output buffer sizes, input piece size,
//    a warp change and an abort from the progress callback); the rest is
//    coded data after a fixed Zef WAVE header.  It is fed in small pieces
//    into output buffers of sizes from one byte up, and the PCM must be the
//    same as from one call over the whole stream.
//  - whole: the bytes as a complete image (WAVE, raw Zef, packet stream),
//    decoded in small output buffers and by the one-shot call.
// Each call must stay within its buffers, never write the input, make
// progress when it has room and bytes, and leave no session attached.
//
// The seeds (fuzz/corpus/fuzz_decoder) are the Orvo sample files and the
// malformed ones of tests/data (whole), and framed seeds: six settings bytes
// followed by the 601 coded bytes of tests/data/orvo.wav, made with
//   printf '\x05\x33\x80\x02\x06\x35' | cat - <(tail -c 602 tests/data/orvo.wav | head -c 601)
// and the settings 0d c0 10 05 00 f1, 02 ff 40 07 27 00 and 38 0a ff 03 3f 2a.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "mirlane.h"

namespace zeffuzz {

using Bytes = std::vector<uint8_t>;

inline void check(bool condition) {
    if (!condition) __builtin_trap();
}

constexpr uint32_t kWaveBuffer = ZEFTYPE_FORMAT_WAVE | ZEFTYPE_LOCATION_BUFFER | ZEFTYPE_QUALIFIER_ZEF;
constexpr uint32_t kRawZefBuffer = ZEFTYPE_FORMAT_RAW | ZEFTYPE_LOCATION_BUFFER | ZEFTYPE_QUALIFIER_ZEF;
constexpr uint32_t kPacketBuffer = ZEFTYPE_FORMAT_RAW | ZEFTYPE_LOCATION_PACKET | ZEFTYPE_QUALIFIER_ZEF;
constexpr uint32_t kPcmBuffer = ZEFTYPE_FORMAT_RAW | ZEFTYPE_LOCATION_BUFFER;
constexpr uint32_t kLargestFrameBytes = 10000;  // 900 samples at 44100 Hz, 16-bit
constexpr size_t kSettingsBytes = 6;
constexpr size_t kMostCodedBytes = 160;  // 23 frames: enough for every setting and many calls

inline void putLE(Bytes& b, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
inline void putTag(Bytes& b, const char* t) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(t[i]));  // a range insert trips g++ 12 at -O2
}

// A Zef WAVE image of Orvo speech whose data chunk holds `coded`.
inline Bytes waveImage(const uint8_t* coded, size_t size) {
    Bytes b;
    putTag(b, "RIFF");
    putLE(b, uint32_t(54 + size), 4);
    putTag(b, "WAVE");
    putTag(b, "fmt ");
    putLE(b, 34, 4);
    for (uint32_t v : {98u, 1u}) putLE(b, v, 2);
    for (uint32_t v : {8000u, 300u}) putLE(b, v, 4);
    for (uint32_t v : {1u, 16u, 16u}) putLE(b, v, 2);
    putTag(b, "ZEF.");
    putLE(b, 8, 4);
    putLE(b, 0, 4);
    putTag(b, "ZEFa");
    putTag(b, "data");
    putLE(b, uint32_t(size), 4);
    b.insert(b.end(), coded, coded + size);
    return b;
}

struct Settings {
    uint32_t rate;
    uint16_t bytes, synth, absolute;
    float warp, pitch, newWarp;
    uint32_t outPattern, piece;
    int warpAtFrame, abortAtFrame;

    explicit Settings(const uint8_t* s) {
        rate = zefAcceptedRates[s[0] & 7];
        bytes = (s[0] >> 3) & 1 ? 1 : 2;
        absolute = (s[0] >> 4) & 1;
        synth = uint16_t((s[0] >> 5) & 3);
        warp = 0.2f + 4.8f * float(s[1]) / 255.0f;
        newWarp = 0.2f + 4.8f * float(s[1] ^ 0x5a) / 255.0f;
        pitch = absolute ? 70.0f + 330.0f * float(s[2]) / 255.0f : -24.0f + 48.0f * float(s[2]) / 255.0f;
        outPattern = s[3];
        piece = s[4] % 64u + 1;
        warpAtFrame = s[5] & 15;
        abortAtFrame = s[5] >> 4;
    }
    uint32_t outSize(uint32_t call) const {
        static const uint32_t sizes[] = {1, 100, 359, 360, 500, 993, 1986, 4000, kLargestFrameBytes, 20000};
        return sizes[(outPattern + call * (1 + (outPattern >> 4))) % 10];
    }
};

// The progress callback: changes the warp at one frame and refuses another
// once.  A refused frame is offered again, so it is not counted twice.
struct Callback {
    const Settings* settings;
    bool mayAbort;
    int frames = 0;
    bool aborted = false;
    static uint16_t call(uint16_t, uint16_t status, void* data) {
        auto* kd = static_cast<KELVANE_DATA*>(data);
        auto* c = reinterpret_cast<Callback*>(kd->dwUserData);
        if (status != KELVANE_STATUS_FRAME) return 0;
        ++c->frames;
        if (c->frames == c->settings->warpAtFrame) kd->fWarpedLengthFactor = c->settings->newWarp;
        if (c->mayAbort && !c->aborted && c->frames == c->settings->abortAtFrame) {
            c->aborted = true;
            --c->frames;
            return 3;
        }
        return 0;
    }
};

inline void prepare(KELVANE_DATA& kd, const Settings& s, Callback* cb) {
    std::memset(&kd, 0, sizeof kd);
    kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
    kd.dwOutputSamplingRate = s.rate;
    kd.wOutputBytesPerSample = s.bytes;
    kd.wSynthesizer = s.synth;
    kd.fWarpedLengthFactor = s.warp;
    kd.wUseAbsolutePitch = s.absolute;
    kd.fAbsolutePitch = s.absolute ? s.pitch : 100.0f;
    kd.fRelativePitch = s.absolute ? 0.0f : s.pitch;
    kd.dwUserData = reinterpret_cast<uintptr_t>(cb);
    kd.lpCallback = &Callback::call;
}

// One call over all of the coded data with room for every frame.
inline bool decodeAtOnce(const Bytes& image, const Settings& s, Bytes* pcm) {
    Callback cb{&s, false};
    KELVANE_DATA kd;
    prepare(kd, s, &cb);
    Bytes out((image.size() * 8 / 54 + 2) * kLargestFrameBytes);
    kd.dwInputType = kWaveBuffer;
    kd.lpInputLocation = const_cast<uint8_t*>(image.data());
    kd.dwInputSize = uint32_t(image.size());
    kd.dwOutputType = kPcmBuffer;
    kd.lpOutputLocation = out.data();
    kd.dwOutputSize = uint32_t(out.size());
    bool ok = dcmpZefInit(&kd) == 0 && dcmpZefConvert(&kd) == 0;
    if (ok) pcm->assign(out.begin(), out.begin() + kd.dwOutputBytesUsed);
    if (kd.lpControlBlock) dcmpZefFree(&kd);
    check(kd.lpControlBlock == nullptr);
    return ok;
}

// The player's way: buffers that grow by a piece a call from the first byte
// not yet consumed, output buffers of changing sizes.
inline bool decodeInPieces(const Bytes& image, size_t header, const Settings& s, Bytes* pcm) {
    Callback cb{&s, true};
    KELVANE_DATA kd;
    prepare(kd, s, &cb);
    kd.dwInputType = kWaveBuffer;
    kd.lpInputLocation = const_cast<uint8_t*>(image.data());
    kd.dwInputSize = uint32_t(header);
    kd.dwOutputType = kPcmBuffer;
    Bytes out(1);
    kd.lpOutputLocation = out.data();
    kd.dwOutputSize = 1;
    bool ok = dcmpZefInit(&kd) == 0;
    check(!ok || kd.dwInputBytesUsed == header);
    size_t pos = header, fetched = header;
    for (uint32_t call = 0, idle = 0; ok && idle < 3 && call < 20000; ++call) {
        fetched = std::min(image.size(), fetched + s.piece);
        const Bytes window(image.begin() + long(pos), image.begin() + long(fetched));
        Bytes input = window;  // exactly the bytes there are, so a read past them is caught
        out.assign(idle ? kLargestFrameBytes : s.outSize(call), 0xA5);
        kd.lpInputLocation = input.data();
        kd.dwInputSize = uint32_t(input.size());
        kd.dwInputBytesUsed = 0;
        kd.lpOutputLocation = out.data();
        kd.dwOutputSize = uint32_t(out.size());
        kd.dwOutputBytesUsed = 0;
        const uint16_t result = dcmpZefConvert(&kd);
        check(input == window);
        if (result != 0 && result != ZEFERR_PROCESSING_ABORTED) {
            ok = false;
            break;
        }
        check(kd.dwInputBytesUsed <= input.size() && kd.dwOutputBytesUsed <= out.size());
        const bool progress = kd.dwInputBytesUsed || kd.dwOutputBytesUsed;
        // Room for any frame and bytes for a whole one: something must happen.
        check(progress || result != 0 || out.size() < kLargestFrameBytes || input.size() < 9);
        pos += kd.dwInputBytesUsed;
        pcm->insert(pcm->end(), out.begin(), out.begin() + kd.dwOutputBytesUsed);
        idle = fetched == image.size() && !progress ? idle + 1 : 0;
    }
    if (kd.lpControlBlock) {
        kd.lpInputLocation = nullptr;
        kd.dwInputSize = 0;
        kd.dwInputBytesUsed = 0;
        kd.dwOutputBytesUsed = 0;
        dcmpZefFree(&kd);
    }
    check(kd.lpControlBlock == nullptr);
    return ok;
}

inline void framedEntry(const uint8_t* data, size_t size) {
    if (size < kSettingsBytes) return;
    const Settings s(data);
    const size_t coded = std::min(size - kSettingsBytes, kMostCodedBytes);
    const Bytes image = waveImage(data + kSettingsBytes, coded);
    const size_t header = image.size() - coded;
    Bytes whole, pieces;
    const bool wholeOk = decodeAtOnce(image, s, &whole);
    const bool piecesOk = decodeInPieces(image, header, s, &pieces);
    check(wholeOk == piecesOk);
    if (wholeOk) check(whole == pieces);
}

// The bytes as an image of each memory kind, in small output buffers and by
// the one-shot call.
inline void wholeEntry(const uint8_t* data, size_t size) {
    const Bytes original(data, data + size);
    for (uint32_t type : {kWaveBuffer, kRawZefBuffer, kPacketBuffer}) {
        Bytes input = original;
        KELVANE_DATA kd;
        std::memset(&kd, 0, sizeof kd);
        kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
        kd.fWarpedLengthFactor = type == kRawZefBuffer ? 0.5f : 1.0f;
        kd.dwOutputSamplingRate = type == kPacketBuffer ? 22050 : 0;
        kd.dwInputType = type;
        kd.lpInputLocation = input.data();
        kd.dwInputSize = uint32_t(input.size());
        kd.dwOutputType = kPcmBuffer;
        Bytes out(kLargestFrameBytes);
        kd.lpOutputLocation = out.data();
        kd.dwOutputSize = uint32_t(out.size());
        if (dcmpZefInit(&kd) == 0) {
            check(kd.dwInputBytesUsed <= size);
            for (uint32_t call = 0; call < 5000; ++call) {
                out.assign(call % 3 == 2 ? 361 : 3000, 0);
                kd.lpOutputLocation = out.data();
                kd.dwOutputSize = uint32_t(out.size());
                kd.dwOutputBytesUsed = 0;
                const uint32_t before = kd.dwInputBytesUsed;
                if (dcmpZefConvert(&kd) != 0) break;
                check(kd.dwInputBytesUsed <= size && kd.dwOutputBytesUsed <= out.size());
                if (kd.dwInputBytesUsed == before && kd.dwOutputBytesUsed == 0 && call % 3 != 2) break;
            }
        }
        if (kd.lpControlBlock) dcmpZefFree(&kd);
        check(kd.lpControlBlock == nullptr);
        check(input == original);

        KELVANE_DATA once;
        std::memset(&once, 0, sizeof once);
        once.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
        once.fWarpedLengthFactor = 1.0f;
        once.dwOutputSamplingRate = 11025;
        once.wOutputBytesPerSample = 1;
        once.dwInputType = type;
        once.lpInputLocation = input.data();
        once.dwInputSize = uint32_t(input.size());
        once.dwOutputType = kPcmBuffer;
        Bytes pcm(50000);
        once.lpOutputLocation = pcm.data();
        once.dwOutputSize = uint32_t(pcm.size());
        if (dcmpMirlaneDecompress(&once) == 0) check(once.dwOutputBytesUsed <= pcm.size());
        check(once.lpControlBlock == nullptr);
        check(input == original);
    }
}

inline int decoderEntry(const uint8_t* data, size_t size) {
    if (size > 1u << 12) return 0;  // longer inputs add frames, not new paths
    static bool started = [] {
        ZEF_STARTUP s{};
        s.wSize = ZEF_STARTUP_SIZE;
        return zefStartup(&s) == 0;  // so that Guisette chunks are honoured
    }();
    check(started);
    framedEntry(data, size);
    wholeEntry(data, size);
    return 0;
}

}  // namespace zeffuzz
