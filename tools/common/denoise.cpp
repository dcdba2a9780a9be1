#include "denoise.h"

#include <speex/speex_preprocess.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace zeftool {

namespace {

constexpr size_t kAheadFrames = 100;   // 2 s looked ahead: a recording that starts
                                       // talking has paused by then
constexpr size_t kBehindFrames = 250;  // 5 s looked back
constexpr size_t kWarmFrames = 50;     // the suppressor's warm-up: 1 s
constexpr unsigned kIdleFrames = 250;  // the suppressor stops after 5 s not needed
constexpr double kMixStep = 1.0 / 25;  // half a second from none to all
constexpr uint64_t kJudgeFrames = 5;   // the recording is judged every 100 ms
// The suppressor is given each frame in two blocks of 10 ms: it follows the
// noise and the speech's onsets better than in 20 ms blocks (0.2-0.8 dB
// nearer the clean speech in pink noise and babble at 10 dB).
constexpr uint64_t kBlocks = 2;
constexpr double kLevelCutHz = 300;    // rumble and hum do not count as noise here
constexpr double kLevelStepDb = 0.1;  // the levels are judged to this step
constexpr float kSpeechOverNoiseDb = 12;  // a tenth of the frames this far above the quiet ones: speech
// speexdsp judges noise by absolute levels: a recording at -40 dBFS loses its
// speech with the noise.  Quiet sound is given to it raised (the peak of the
// seconds it starts on to -12 dBFS, leaving room for louder speech later; by
// at most 48 dB) and lowered again after.
constexpr double kSuppressorPeak = 8192, kMaxGain = 256;

// std::lround's result, halves away from zero, without its library call (a
// tenth of the suppressor's time went there): the truncation is exact, and
// so is what it leaves for samples this size.
long roundHalfAway(double x) {
    const long whole = long(x);
    const double rest = x - double(whole);
    return whole + (rest >= 0.5) - (rest <= -0.5);
}

}  // namespace

struct Denoiser::State {
    SpeexPreprocessState* st = nullptr;
    ~State() {
        if (st) speex_preprocess_state_destroy(st);
    }
};

Denoiser::Denoiser(uint32_t rate, SampleSource source, const DenoiseSettings& settings)
    : source_(std::move(source)), settings_(settings) {
    frame_ = std::max<size_t>(rate / 50 / kBlocks, 1) * kBlocks;  // 20 ms
    auto state = std::make_unique<State>();
    state->st = speex_preprocess_state_init(int(frame_ / kBlocks), int(rate));
    if (!state->st) return;
    // Denoising only.  Voice detection is off from the start and is left
    // alone: touching it makes speexdsp print a warning.
    int on = 1, off = 0, depth = settings_.depthDb;
    speex_preprocess_ctl(state->st, SPEEX_PREPROCESS_SET_DENOISE, &on);
    speex_preprocess_ctl(state->st, SPEEX_PREPROCESS_SET_AGC, &off);
    speex_preprocess_ctl(state->st, SPEEX_PREPROCESS_SET_DEREVERB, &off);
    speex_preprocess_ctl(state->st, SPEEX_PREPROCESS_SET_NOISE_SUPPRESS, &depth);
    state_ = std::move(state);
    // Fourth-order Butterworth high-pass: two of the audio cookbook's biquads.
    const double w = 2 * std::numbers::pi * kLevelCutHz / rate, c = std::cos(w);
    const double q[2] = {0.54119610, 1.30656296};
    for (int k = 0; k < 2; ++k) {
        const double alpha = std::sin(w) / (2 * q[k]), a0 = 1 + alpha;
        double* h = hp_[k];
        h[0] = (1 + c) / 2 / a0, h[1] = -(1 + c) / a0, h[2] = (1 + c) / 2 / a0, h[3] = -2 * c / a0, h[4] = (1 - alpha) / a0;
    }
}

Denoiser::~Denoiser() = default;

double Denoiser::level(const std::vector<int16_t>& x, size_t n) {
    double sum = 0;
    for (size_t i = 0; i < n; ++i) {
        double y = x[i];
        for (int k = 0; k < 2; ++k) {
            const double* h = hp_[k];
            double* z = hpState_[k];
            const double v = y;
            y = h[0] * v + z[0];
            z[0] = h[1] * v - h[3] * y + z[1];
            z[1] = h[2] * v - h[4] * y;
        }
        sum += y * y;
    }
    return 10 * std::log10(sum / double(std::max<size_t>(n, 1)) + 1);  // 0 dB: one step of 16 bits
}

// The levels below which shares q[0] < q[1] < ... of the window's lie, in
// one pass over the histogram.
template <size_t kCount>
std::array<float, kCount> Denoiser::quantiles(const std::array<double, kCount>& q) const {
    std::array<float, kCount> out{};
    const double last = double(levels_.size() - 1);
    size_t k = 0, below = 0;
    for (size_t bin = 0; bin < kLevelBins && k < kCount; ++bin) {
        below += histogram_[bin];
        for (; k < kCount && double(below) > std::round(q[k] * last); ++k) out[k] = float(double(bin) * kLevelStepDb);
    }
    return out;
}

bool Denoiser::pull() {
    Frame f{std::vector<int16_t>(frame_, 0), {}, 0};
    while (!ended_ && f.n < frame_) {
        const long got = source_(f.in.data() + f.n, frame_ - f.n);
        if (got < 0) return false;
        if (got == 0) ended_ = true;
        f.n += size_t(got);
    }
    if (f.n == 0) return true;  // nothing more to come
    const auto bin = uint16_t(std::clamp(roundHalfAway(level(f.in, f.n) / kLevelStepDb), 0L, long(kLevelBins - 1)));
    levels_.push_back(bin);
    ++histogram_[bin];
    frames_.push_back(std::move(f));
    ++framesIn_;
    return true;
}

double Denoiser::wanted() {
    // Frames from kBehindFrames before the next one out to kAheadFrames after.
    while (levelsFrom_ + kBehindFrames < framesOut_) {
        --histogram_[levels_.front()];
        levels_.pop_front();
        ++levelsFrom_;
    }
    // The window is every level kept: reading stops kAheadFrames past the
    // next frame out.
    const auto [quietest, quiet, speech, loud] = quantiles<4>({0.02, 0.10, 0.90, 0.98});
    // Too little speech in the window (a pause, noise alone, the first
    // breath of a recording) to judge by: as before.
    if (speech - quiet < kSpeechOverNoiseDb) return mix_;
    auto ramp = [](double x, double start, double full) { return std::clamp((start - x) / (start - full), 0.0, 1.0); };
    return ramp(loud - quiet, settings_.snrStartDb, settings_.snrFullDb) *
           ramp(quiet - quietest, settings_.spreadStartDb, settings_.spreadFullDb);
}

void Denoiser::suppress(uint64_t upTo) {
    if (!running_) {  // warmed up on the frames kept behind
        running_ = true;
        started_ = framesFrom_;
        fed_ = framesFrom_ * kBlocks;
        int peak = 1;
        for (const Frame& f : frames_)
            for (int16_t v : f.in) peak = std::max(peak, std::abs(int(v)));
        gain_ = std::clamp(kSuppressorPeak / peak, 1.0, kMaxGain);
    }
    // The suppressor works on blocks of part of a frame and gives back the
    // block before the one it is given; past the end it is given silence.
    const size_t block = frame_ / kBlocks;
    std::vector<int16_t>& x = block_;
    x.resize(block);
    for (; fed_ <= (upTo + 1) * kBlocks; ++fed_) {
        const uint64_t at = fed_ / kBlocks;
        if (at < framesIn_) {
            const int16_t* in = frame(at).in.data() + fed_ % kBlocks * block;
            for (size_t i = 0; i < block; ++i) x[i] = int16_t(std::clamp(roundHalfAway(in[i] * gain_), -32768L, 32767L));
        } else {
            std::fill(x.begin(), x.end(), int16_t(0));
        }
        speex_preprocess_run(state_->st, x.data());
        if (fed_ > started_ * kBlocks) {
            std::vector<int16_t>& out = frame((fed_ - 1) / kBlocks).out;
            out.resize(frame_);
            int16_t* to = out.data() + (fed_ - 1) % kBlocks * block;
            for (size_t i = 0; i < block; ++i) to[i] = int16_t(roundHalfAway(x[i] / gain_));
        }
    }
}

bool Denoiser::next() {
    ready_.clear();
    readyAt_ = 0;
    while (!ended_ && framesIn_ <= framesOut_ + kAheadFrames)
        if (!pull()) return false;
    if (framesOut_ == framesIn_) {
        finished_ = true;
        return true;
    }
    if (framesOut_ % kJudgeFrames == 0) target_ = wanted();
    const double from = mix_, target = target_;
    mix_ = from < target ? std::min(target, from + kMixStep) : std::max(target, from - kMixStep);
    const bool needed = from > 0 || mix_ > 0;
    if (needed || running_) suppress(framesOut_);
    idle_ = needed || target > 0 ? 0 : idle_ + 1;
    if (idle_ >= kIdleFrames) running_ = false;  // until the next noisy stretch

    const Frame& f = frame(framesOut_);
    if (!needed) {
        ready_.assign(f.in.begin(), f.in.begin() + long(f.n));  // the input as it came
    } else {
        ready_.resize(f.n);
        for (size_t i = 0; i < f.n; ++i) {
            const double m = from + (mix_ - from) * double(i + 1) / double(frame_);
            ready_[i] = int16_t(roundHalfAway(f.in[i] + m * (f.out[i] - f.in[i])));
        }
    }
    ++framesOut_;
    while (framesFrom_ + kWarmFrames < framesOut_) {  // kept for the suppressor's warm-up
        frames_.pop_front();
        ++framesFrom_;
    }
    return true;
}

long Denoiser::read(int16_t* out, size_t n) {
    size_t done = 0;
    while (done < n) {
        if (readyAt_ == ready_.size()) {
            if (finished_) break;
            if (!next()) return -1;
            continue;
        }
        const size_t take = std::min(n - done, ready_.size() - readyAt_);
        std::copy_n(ready_.begin() + long(readyAt_), take, out + done);
        readyAt_ += take;
        done += take;
    }
    return long(done);
}

}  // namespace zeftool
