// Noise suppression of the sound zefenc codes, before the encoder analyses
// it: speexdsp's preprocessor with denoising only (no gain control, voice
// detection or dereverberation), 10 ms blocks at the rate it is given.
//
// It is only let in where the recording is noisy: on clean speech the
// suppressor takes spectral detail that the encoder needs, on a recording
// with its own quiet hiss 25 dB under the speech it takes what the listener
// expects to hear, and on a few voices talking behind the speaker (a noise
// whose level comes and goes) it does more harm than good.  A frame's sound
// is the suppressor's in the measure that the recording around it (five
// seconds back, two ahead) has a steady noise floor close under the speech;
// elsewhere it is the input itself, sample for sample.  The change between
// the two takes half a second.  The suppressor only runs while it may be
// needed (from a second before, to warm up): on a clean recording only the
// levels are measured, a few per cent of what coding it costs.
//
// The sound keeps its place and its length: the frames come out as late as
// the look-ahead needs and are handed on in their own place, with exactly as
// many samples out as went in.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

namespace zeftool {

// Where the samples come from: up to n into `to`; 0 at the end, -1 when
// reading failed (as SoundIn::read).
using SampleSource = std::function<long(int16_t* to, size_t n)>;

struct DenoiseSettings {
    int depthDb = -15;  // the most the noise is lowered (speexdsp's default)
    // The recording's signal-to-noise ratio (its loud frames against its
    // quiet ones, above 300 Hz) at which suppression starts and is whole.
    // Speech 10 dB over a steady noise measures 17-22 dB here, clean
    // recordings 25 dB and up.
    double snrStartDb = 24, snrFullDb = 21;
    // How steady the quiet frames must be (the spread of their levels) for
    // suppression to start and to be whole.
    double spreadStartDb = 4, spreadFullDb = 2;
};

class Denoiser {
public:
    Denoiser(uint32_t rate, SampleSource source, const DenoiseSettings& settings = {});
    ~Denoiser();
    Denoiser(const Denoiser&) = delete;
    Denoiser& operator=(const Denoiser&) = delete;

    bool ok() const { return state_ != nullptr; }  // false: the preprocessor could not start
    // Up to n samples; 0 at the end; -1 when the source failed.
    long read(int16_t* out, size_t n);

private:
    struct Frame {
        std::vector<int16_t> in, out;  // the input and the suppressor's version of it
        size_t n;                      // samples of the input in it (fewer in the last)
    };
    bool pull();                  // one more frame from the source
    bool next();                  // the next frame's samples into ready_
    double wanted();              // how much of the suppressor's sound the next frame takes
    void suppress(uint64_t upTo);  // the suppressor's output up to that frame at hand
    double level(const std::vector<int16_t>& x, size_t n);
    template <size_t kCount>
    std::array<float, kCount> quantiles(const std::array<double, kCount>& q) const;
    Frame& frame(uint64_t index) { return frames_[size_t(index - framesFrom_)]; }

    struct State;
    std::unique_ptr<State> state_;
    SampleSource source_;
    DenoiseSettings settings_;
    size_t frame_ = 0;             // samples per frame
    double hp_[2][5] = {};         // the level's high-pass: b0 b1 b2 a1 a2 of each half
    double hpState_[2][2] = {};
    // Frames read, from framesFrom_ (the suppressor's warm-up behind the
    // next one out) to framesIn_ (the look-ahead); their levels from
    // levelsFrom_ (in steps of 0.1 dB), and how many lie in each step.
    std::deque<Frame> frames_;
    static constexpr size_t kLevelBins = 1000;
    std::deque<uint16_t> levels_;
    std::array<uint32_t, kLevelBins> histogram_{};
    uint64_t framesFrom_ = 0, levelsFrom_ = 0, framesIn_ = 0, framesOut_ = 0;
    // The suppressor: running from frame started_, given the blocks before
    // fed_; frames out since it was last needed.
    bool running_ = false;
    uint64_t started_ = 0, fed_ = 0;
    unsigned idle_ = 0;
    double gain_ = 1;              // on the way in; undone on the way out
    std::vector<int16_t> block_;   // the block the suppressor works on
    std::vector<int16_t> ready_;
    size_t readyAt_ = 0;
    double mix_ = 0, target_ = 0;  // share of the suppressor's sound, 0..1: now, wanted
    bool ended_ = false, finished_ = false;
};

}  // namespace zeftool
