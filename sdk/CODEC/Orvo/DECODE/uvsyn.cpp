// Unvoiced excitation: noise from the book of the frame's voicing code
// (already confined to the band above the voicing cut-off), crossfaded from
// the previous frame's book and level to the current ones.
#include <algorithm>
#include <cmath>

#include "orvo.h"

namespace zef::orvo {

void initUVCB8k(NoiseBookState* books) {
    books->books = kNoiseBooks;
    books->position = 0;
    books->length = kNoiseBookLength;
    books->count = kNoiseBookCount;
}

int voicedFromCode(int code, float period, int harmonics) {
    const double level = code >= 0 && code < kVoicingCodes ? level1[code] : 0.0;
    return std::min(int(level * 0.93 * 256.0 / (512.0 / period) + 0.5), harmonics);
}

namespace {

template <typename T>
void copyFromBook(T* out, int n, NoiseBookState* books, int book, int back) {
    if (book < 0 || book >= books->count) book = 0;
    const int16_t* samples = books->books[book];
    const int length = books->length;
    int pos = books->position % length;
    for (int i = 0; i < n; ++i) {
        out[i] = T(samples[pos]);
        if (++pos == length) pos = 0;
    }
    books->position = uint16_t((books->position + length + n - back) % length);
}

}  // namespace

void getRandCB8k(float* out, int n, NoiseBookState* books, int book, int back) {
    copyFromBook(out, n, books, book, back);
}

void getRandCB8k(int32_t* out, int n, NoiseBookState* books, int book, int back) {
    copyFromBook(out, n, books, book, back);
}

void uvSyn8k_flt(int harmonics, ZefControlBlock* cb) {
    OrvoState* st = orvoState(cb);
    SynthState& syn = st->syn;
    UnvoicedState& uv = st->uv;
    const int N = syn.N, W = syn.W, H = syn.H;
    const int code = st->code.voicingCode;
    const float gain = st->frame.gain;
    const int unvoiced = harmonics - voicedFromCode(code, syn.period, harmonics);

    // B starts W samples before the point where A ended; 2H - W = N per frame.
    float* A = uv.segA;
    float* B = uv.segB;
    getRandCB8k(A, H, &st->books, uv.prevCode, W);
    getRandCB8k(B, H, &st->books, code, 0);
    for (int i = 0; i < W; ++i) B[i] *= syn.window[i];
    for (int i = H - W; i < H; ++i) A[i] *= syn.window[i + H];

    double energyA = 0.000001, energyB = 0.000001;
    for (int i = 0; i < H; ++i) {
        energyA += double(A[i]) * A[i];
        energyB += double(B[i]) * B[i];
    }
    // Each segment gets the mean power (unvoiced harmonics) x gain^2.
    const float gainA = float(uv.prevGain * std::sqrt(uv.prevUnvoiced * H / energyA));
    const float gainB = float(gain * std::sqrt(unvoiced * H / energyB));
    float* out = syn.unvoiced;
    const int join = H - W;
    for (int n = 0; n < join; ++n) out[n] = A[n] * gainA;
    for (int n = join; n < H; ++n) out[n] = A[n] * gainA + B[n - join] * gainB;
    for (int n = H; n < N; ++n) out[n] = B[n - join] * gainB;

    uv.prevCode = int16_t(code);
    uv.prevUnvoiced = int16_t(unvoiced);
    uv.prevGain = gain;
}

}  // namespace zef::orvo
