// The encode loop: PCM sample frames from the input record, mixed to mono,
// converted to 8000 Hz by a windowed-sinc interpolator, encoded frame by
// frame, and packed into whole bytes of the output record.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <numeric>

#include "cmpsession.h"
#include "engine.h"
#include "vcbblock.h"
#include "zefapi.h"

namespace zef {
namespace {

constexpr int kRing = 2048;          // input history: more than the widest kernel
constexpr double kCodecHz = 8000.0;
constexpr int kFrame = 180;
// Polyphase weights are kept when the rate ratio repeats within this many
// weights (every accepted whole-number rate does; the fractional 11127 and
// 22254 Hz ratios would need far more and compute their weights per tap).
constexpr uint64_t kMostWeights = 16384;

struct CompressSession {
    double step;                     // input samples per output sample
    double cutoff;                   // of the low-pass, in cycles per input sample
    int half;                        // kernel half-width in input samples
    uint64_t ratioUp, ratioDown;     // step = ratioUp / ratioDown, in lowest terms
    double* weights;                 // ratioDown phases of 2 * half + 1 taps, or null
    float ring[kRing];
    uint64_t inputCount;             // real input samples so far
    uint64_t fedCount;               // samples in the ring, flush zeros included
    double nextPos;                  // input position of the next output sample
    uint64_t outputCount;
    int16_t frame[kFrame];
    int frameFill;
    BitPacker packer;                // packed bits not yet written
    vcb_com_blk vcb;                 // voice activity and automatic gain
    bool finished;
};

CompressSession* session(ZefControlBlock* cb) { return static_cast<CompressSession*>(cb->lpCompressSession); }

double kernel(const CompressSession* s, double d) {
    if (std::fabs(d) >= s->half) return 0.0;
    const double x = 2.0 * s->cutoff * d;
    const double sinc = x == 0.0 ? 1.0 : std::sin(M_PI * x) / (M_PI * x);
    const double window = 0.5 + 0.5 * std::cos(M_PI * d / s->half);
    return 2.0 * s->cutoff * sinc * window;
}

int16_t toPcm(double v) {
    if (!(v == v)) return 0;
    return int16_t(std::clamp(std::lround(v), -32768L, 32767L));
}

// Emits whole bytes; 238 when a buffer output is full (the bytes stay).
uint16_t drainBits(KELVANE_DATA* kd, CompressSession* s) {
    ZefControlBlock* cb = controlBlock(kd);
    OutputVars* out = cb->lpOutputVars;
    while (s->packer.count >= 8) {
        if (out->dwWritePos >= out->dwCapacity) {
            if (uint16_t err = cb->lpOutputHandler(kd, ZEFMSG_WRITE)) return err;
            out = cb->lpOutputVars;
            if (out->dwWritePos >= out->dwCapacity) return ZEFERR_ENDOFBUFFER_REACHED;
        }
        uint8_t byte = 0;
        TakeByte(&s->packer, &byte);
        out->lpBase[out->dwWritePos++] = byte;
    }
    return 0;
}

bool hasRoomForFrame(const KELVANE_DATA* kd, const CompressSession* s) {
    const ZefControlBlock* cb = static_cast<const ZefControlBlock*>(kd->lpControlBlock);
    const OutputVars* out = cb->lpOutputVars;
    const uint32_t need = uint32_t(s->packer.count + cb->wFrameBits) / 8;
    return out->dwCapacity >= out->dwWritePos && out->dwCapacity - out->dwWritePos >= need;
}

uint16_t encodeFrame(KELVANE_DATA* kd, CompressSession* s) {
    ZefControlBlock* cb = controlBlock(kd);
    if (!hasRoomForFrame(kd, s)) {
        if (uint16_t err = cb->lpOutputHandler(kd, ZEFMSG_WRITE)) return err;
        if (!hasRoomForFrame(kd, s)) return ZEFERR_ENDOFBUFFER_REACHED;
    }
    VcbProcessFrame(cb, &s->vcb, s->frame, kFrame);
    cb->lpEncodeInput = s->frame;
    if (uint32_t err = EncodeSpeech(cb)) return ZEF_ERROR(ZEFERR_COMPRESSION, err, kd);
    for (int f = 0; f < cb->wFieldCount; ++f) {
        PackBits(&s->packer, cb->bFieldCodes[f], cb->lpFieldWidths[f]);
        if (uint16_t err = drainBits(kd, s)) return err;
    }
    s->frameFill = 0;
    ++cb->dwFramesProcessed;
    // The energy code: field 2 of an Orvo frame, the last field of a Peln one.
    const int energyField = cb->wCodecTag == kCodecTagPeln ? cb->wFieldCount - 1 : 2;
    cb->wLevel = uint16_t(4 * cb->bFieldCodes[energyField]);
    kd->wLevel = cb->wLevel;
    if (kd->wSizeOfKelvaneData >= KELVANE_DATA_VERSION_MARK) kd->dwStatus = KELVANE_STATUS_FRAME;
    if (kd->lpCallback) {
        cb->wCallbackResult = kd->lpCallback(0, KELVANE_STATUS_FRAME, kd);
        if (cb->wCallbackResult) return ZEF_ERROR(ZEFERR_PROCESSING_ABORTED, cb->wCallbackResult, kd);
    }
    return 0;
}

// One output sample at input position k * step.  With the polyphase table
// the taps are the weights of the position's phase; otherwise each tap's
// weight is computed.
double interpolate(const CompressSession* s) {
    if (s->step == 1.0) return s->ring[uint64_t(s->nextPos) % kRing];
    double acc = 0.0;
    if (s->weights) {
        const uint64_t position = s->outputCount * s->ratioUp;
        const int64_t base = int64_t(position / s->ratioDown);
        const double* w = s->weights + (position % s->ratioDown) * uint64_t(2 * s->half + 1);
        for (int o = -s->half; o <= s->half; ++o)
            if (base + o >= 0) acc += s->ring[uint64_t(base + o) % kRing] * w[o + s->half];
        return acc;
    }
    const int64_t first = std::max<int64_t>(0, int64_t(std::ceil(s->nextPos - s->half)));
    const int64_t last = int64_t(std::floor(s->nextPos + s->half));
    for (int64_t n = first; n <= last; ++n) acc += s->ring[uint64_t(n) % kRing] * kernel(s, s->nextPos - double(n));
    return acc;
}

// Makes every output sample whose kernel the ring now covers, up to `limit`.
uint16_t produce(KELVANE_DATA* kd, CompressSession* s, uint64_t limit) {
    while (s->outputCount < limit && s->nextPos + s->half <= double(s->fedCount) - 1.0) {
        if (s->frameFill == kFrame)
            if (uint16_t err = encodeFrame(kd, s)) return err;
        s->frame[s->frameFill++] = toPcm(interpolate(s));
        ++s->outputCount;
        s->nextPos = double(s->outputCount) * s->step;
    }
    if (s->frameFill == kFrame) return encodeFrame(kd, s);
    return 0;
}

uint64_t expectedOutput(const CompressSession* s) {
    return uint64_t(std::floor(double(s->inputCount) / s->step + 0.5));
}

float sampleAt(const uint8_t* p, uint16_t bytes) {
    if (bytes == 1) return float((int(p[0]) - 128) * 256);
    int16_t v;
    std::memcpy(&v, p, 2);  // already in host order
    return float(v);
}

CompressSession* newSession(ZefControlBlock* cb, uint32_t inputRate) {
    auto* s = static_cast<CompressSession*>(std::calloc(1, sizeof(CompressSession)));
    if (!s) return nullptr;
    s->step = double(inputRate) / kCodecHz;
    s->cutoff = 0.45 * std::min(1.0, 1.0 / s->step);  // just below the lower Nyquist
    s->half = s->step == 1.0 ? 0 : int(std::ceil(8.0 / (2.0 * s->cutoff)));
    const uint64_t common = std::gcd(uint64_t(inputRate), uint64_t(kCodecHz));
    s->ratioUp = inputRate / common;
    s->ratioDown = uint64_t(kCodecHz) / common;
    const uint64_t taps = uint64_t(2 * s->half + 1);
    if (s->step != 1.0 && s->ratioDown * taps <= kMostWeights) {
        s->weights = static_cast<double*>(std::malloc(sizeof(double) * s->ratioDown * taps));
        if (!s->weights) {
            std::free(s);
            return nullptr;
        }
        for (uint64_t phase = 0; phase < s->ratioDown; ++phase)
            for (int o = -s->half; o <= s->half; ++o)
                s->weights[phase * taps + uint64_t(o + s->half)] =
                    kernel(s, double(phase) / double(s->ratioDown) - o);
    }
    cb->lpCompressSession = s;
    return s;
}

}  // namespace

void PackBits(BitPacker* p, uint32_t code, unsigned width) {
    p->bits |= uint64_t(code & (0xFFFFFFFFu >> (32 - width))) << p->count;
    p->count += int(width);
}

bool TakeByte(BitPacker* p, uint8_t* byte) {
    if (p->count < 8) return false;
    *byte = uint8_t(p->bits & 0xFF);
    p->bits >>= 8;
    p->count -= 8;
    return true;
}

void PadToByte(BitPacker* p) { p->count = (p->count + 7) / 8 * 8; }

uint16_t CompressBuffer(KELVANE_DATA* kd) {
    ZefControlBlock* cb = controlBlock(kd);
    InputVars* in = cb->lpInputVars;
    CompressSession* s = session(cb);
    if (!s) {
        const uint32_t rate = in->desc.dwSamplingRate;
        if (!(s = newSession(cb, rate))) return ZEF_ERROR(ZEFERR_ZEFSTRUCT_MEMORY, sizeof(CompressSession), kd);
    }
    const uint16_t bytes = in->desc.wBytesPerSample;
    const uint16_t channels = cb->wChannels ? cb->wChannels : 1;
    const uint32_t frameBytes = uint32_t(bytes) * channels;
    for (;;) {
        // A frame held back for lack of output room goes first.
        if (uint16_t err = produce(kd, s, UINT64_MAX)) return err;
        in = cb->lpInputVars;
        while (in->dwValid >= in->dwReadPos && in->dwValid - in->dwReadPos >= frameBytes) {
            const uint8_t* p = in->lpBase + in->dwReadPos;
            float sum = 0.0f;
            for (uint16_t c = 0; c < channels; ++c) sum += sampleAt(p + c * bytes, bytes);
            s->ring[s->fedCount % kRing] = sum / channels;
            ++s->fedCount;
            ++s->inputCount;
            ++cb->dwInputSamplesProcessed;
            in->dwReadPos += frameBytes;
            if (uint16_t err = produce(kd, s, UINT64_MAX)) return err;
        }
        if (in->wEOF || isMemoryLocation(kd->dwInputType)) return ZEFERR_ENDOFFILE_REACHED;
        uint16_t err = cb->lpInputHandler(kd, ZEFMSG_READ);
        if (err) return err;
    }
}

uint16_t FinishCompression(KELVANE_DATA* kd) {
    ZefControlBlock* cb = controlBlock(kd);
    CompressSession* s = session(cb);
    if (!s || s->finished) return 0;
    // The interpolator lags by its half-width: zeros bring the last real
    // samples out, and the count stops where the input ended.
    const uint64_t limit = expectedOutput(s);
    for (int i = 0; i <= s->half + 1; ++i) {
        s->ring[s->fedCount % kRing] = 0.0f;
        ++s->fedCount;
        if (uint16_t err = produce(kd, s, limit)) return err;
    }
    if (s->frameFill > 0) {
        std::fill(s->frame + s->frameFill, s->frame + kFrame, int16_t(0));
        s->frameFill = kFrame;
        if (uint16_t err = encodeFrame(kd, s)) return err;
    }
    if (s->packer.count > 0) {
        PadToByte(&s->packer);
        if (uint16_t err = drainBits(kd, s)) return err;
    }
    s->finished = true;
    cb->lpOutputVars->wEnd = 1;
    return 0;
}

void FreeCompressSession(ZefControlBlock* cb) {
    if (CompressSession* s = session(cb)) std::free(s->weights);
    std::free(cb->lpCompressSession);
    cb->lpCompressSession = nullptr;
}

EndpointHandler cmpGetInputProcInternal(uint32_t type) {
    switch (type) {
        case 0x10100: case 0x10200: case 0x20100: case 0x20200: case 0x30100: case 0x30200:
            return HandleInputData;
        case 0x10800: case 0x20800: case 0x30800:
            return HandleInputFunction;
        case 0x400: case 0x20400:
            return HandleInputSound;
        default:
            return nullptr;
    }
}

EndpointHandler cmpGetOutputProcInternal(uint32_t type) {
    switch (type) {
        case 0x10101: case 0x10201: case 0x20101: case 0x20201: case 0x21101:
            return HandleOutputData;
        case 0x10801: case 0x20801:
            return HandleOutputFunction;
        default:
            return nullptr;
    }
}

}  // namespace zef
