// The ALSA device: real sound, never blocking.  The hardware buffer is kept
// short (about 200 ms) and topped up from the layer's own queue; what has
// been heard is the frames written minus the delay ALSA reports.  Pausing
// uses the hardware pause where there is one, else drops the buffer, and the
// layer feeds the unheard frames again on resume.
#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "zefaudio_backend.h"

namespace zef::audio {

namespace {

constexpr unsigned kBufferMicros = 200000;
constexpr unsigned kPeriodMicros = 20000;

snd_pcm_format_t alsaFormat(const Format& f) {
    switch (f.precision) {
    case 8: return f.encoding == AUDIO_ENCODING_LINEAR8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S8;
    case 16: return SND_PCM_FORMAT_S16;
    case 24: return SND_PCM_FORMAT_S24_3LE;
    default: return SND_PCM_FORMAT_S32;
    }
}

// An ALSA error code as an errno value the caller can report.
int errnoOf(int alsaErr) { return alsaErr < 0 && -alsaErr < 4096 ? -alsaErr : EIO; }

class AlsaSink : public Sink {
public:
    AlsaSink(snd_pcm_t* pcm, std::string name) : pcm_(pcm), name_(std::move(name)) {}
    ~AlsaSink() override {
        if (pcm_) snd_pcm_close(pcm_);
    }

    int setFormat(const Format& f, std::string& why) override {
        if (configured_ && f == format_) return 0;
        int err = configure(f, why);
        if (err && configured_) {
            std::string ignored;
            configure(format_, ignored);  // keep playing the format it had
        }
        return err;
    }

    long write(const uint8_t* frames, size_t count, std::string& why) override {
        snd_pcm_sframes_t room = snd_pcm_avail_update(pcm_);
        if (room < 0) {
            if (int err = recover(int(room), why)) return -err;
            room = snd_pcm_avail_update(pcm_);
            if (room < 0) return 0;  // look again later
        }
        size_t n = std::min<size_t>(count, size_t(room));
        if (n == 0) return 0;
        size_t bytes = n * format_.frameBytes();
        scratch_.assign(frames, frames + bytes);
        applyPlayGain(scratch_.data(), n, format_, gain_, balance_);
        snd_pcm_sframes_t w = snd_pcm_writei(pcm_, scratch_.data(), n);
        if (w < 0) {
            if (int err = recover(int(w), why)) return -err;
            return 0;
        }
        taken_ += w;
        return long(w);
    }

    long long played(std::string& why) override {
        snd_pcm_state_t state = snd_pcm_state(pcm_);
        if (state == SND_PCM_STATE_DISCONNECTED) return -fail(-ENODEV, why);
        if (state == SND_PCM_STATE_XRUN) {
            played_ = taken_;  // ran dry: everything was heard
        } else if (taken_ > played_) {
            snd_pcm_sframes_t delay = 0;
            int err = snd_pcm_delay(pcm_, &delay);
            if (err == -EPIPE || err == -ESTRPIPE) {
                if ((err = recover(err, why)) != 0) return -err;
                return played_;
            }
            if (err < 0) return -fail(err, why);
            long long heard = taken_ - std::max<long long>(delay, 0);
            played_ = std::clamp(heard, played_, taken_);
        }
        return played_;
    }

    void drop() override {
        snd_pcm_drop(pcm_);
        snd_pcm_prepare(pcm_);
        taken_ = played_;
    }

    long long pending() const override { return taken_ - played_; }

    void pause(bool on) override {
        snd_pcm_state_t state = snd_pcm_state(pcm_);
        if (on) {
            if (state == SND_PCM_STATE_RUNNING && !(canPause_ && snd_pcm_pause(pcm_, 1) == 0))
                drop();
        } else if (state == SND_PCM_STATE_PAUSED && snd_pcm_pause(pcm_, 0) < 0) {
            drop();
        }
    }

    void starve() override {}

    Clock::time_point nextWake(size_t want) override {
        auto soon = std::chrono::microseconds(periodUs_ / 2);
        auto wanted = std::chrono::duration<double>(seconds(want));
        return Clock::now() + std::min<Clock::duration>(
                                  soon, std::chrono::duration_cast<Clock::duration>(wanted));
    }

    double seconds(size_t frames) const override { return double(frames) / format_.rate; }

    void setLevel(uint32_t gain, uint8_t balance) override {
        gain_ = gain;
        balance_ = balance;
    }

    int finish(std::string&) override {
        snd_pcm_drop(pcm_);
        snd_pcm_close(pcm_);
        pcm_ = nullptr;
        return 0;
    }

private:
    int configure(const Format& f, std::string& why) {
        snd_pcm_drop(pcm_);
        snd_pcm_hw_params_t* hw;
        snd_pcm_hw_params_alloca(&hw);
        unsigned bufferUs = kBufferMicros, periodUs = kPeriodMicros;
        int err = snd_pcm_hw_params_any(pcm_, hw);
        if (err >= 0) err = snd_pcm_hw_params_set_access(pcm_, hw, SND_PCM_ACCESS_RW_INTERLEAVED);
        if (err >= 0) err = snd_pcm_hw_params_set_format(pcm_, hw, alsaFormat(f));
        if (err >= 0) err = snd_pcm_hw_params_set_channels(pcm_, hw, f.channels);
        if (err >= 0) err = snd_pcm_hw_params_set_rate(pcm_, hw, f.rate, 0);
        if (err >= 0) err = snd_pcm_hw_params_set_buffer_time_near(pcm_, hw, &bufferUs, nullptr);
        if (err >= 0) err = snd_pcm_hw_params_set_period_time_near(pcm_, hw, &periodUs, nullptr);
        if (err >= 0) err = snd_pcm_hw_params(pcm_, hw);
        if (err < 0) {
            why = "ALSA device \"" + name_ + "\" cannot play " + std::to_string(f.rate) + " Hz, " +
                  std::to_string(f.channels) + " channels, " + std::to_string(f.precision) +
                  "-bit: " + snd_strerror(err);
            return EINVAL;
        }
        canPause_ = snd_pcm_hw_params_can_pause(hw);
        periodUs_ = periodUs;
        if ((err = setStartAtOnce()) < 0 || (err = snd_pcm_prepare(pcm_)) < 0) {
            why = "ALSA device \"" + name_ + "\": " + snd_strerror(err);
            return errnoOf(err);
        }
        format_ = f;
        configured_ = true;
        taken_ = played_;
        return 0;
    }

    // Start as soon as there is anything to play, however little.
    int setStartAtOnce() {
        snd_pcm_sw_params_t* sw;
        snd_pcm_sw_params_alloca(&sw);
        int err = snd_pcm_sw_params_current(pcm_, sw);
        if (err >= 0) err = snd_pcm_sw_params_set_start_threshold(pcm_, sw, 1);
        if (err >= 0) err = snd_pcm_sw_params(pcm_, sw);
        return err;
    }

    // Underrun and suspend are part of life; anything else means the device is gone.
    int recover(int err, std::string& why) {
        if (err == -EAGAIN) return 0;
        if (err == -EPIPE) {
            played_ = taken_;
            snd_pcm_prepare(pcm_);
            return 0;
        }
        if (err == -ESTRPIPE) {
            int r = snd_pcm_resume(pcm_);
            if (r == -EAGAIN) return 0;
            if (r < 0) {
                snd_pcm_prepare(pcm_);
                taken_ = played_;  // the buffer is lost: feed it again
            }
            return 0;
        }
        return fail(err, why);
    }

    int fail(int err, std::string& why) {
        why = "ALSA device \"" + name_ + "\": " + snd_strerror(err);
        return errnoOf(err);
    }

    snd_pcm_t* pcm_;
    std::string name_;
    Format format_;
    bool configured_ = false;
    bool canPause_ = false;
    unsigned periodUs_ = kPeriodMicros;
    long long taken_ = 0;
    long long played_ = 0;
    uint32_t gain_ = kPlayUnityGain;
    uint8_t balance_ = AUDIO_MID_BALANCE;
    std::vector<uint8_t> scratch_;
};

}  // namespace

std::unique_ptr<Sink> openAlsaSink(const std::string& pcm, const Format& f, std::string& why) {
    snd_pcm_t* handle = nullptr;
    int err = snd_pcm_open(&handle, pcm.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (err < 0) {
        if (err != -EBUSY)
            why = "cannot open ALSA device \"" + pcm + "\": " + snd_strerror(err) +
                  " (ZEFAUDIO=null or file:PATH.wav play without a sound card)";
        errno = errnoOf(err);
        return nullptr;
    }
    auto sink = std::make_unique<AlsaSink>(handle, pcm);
    if (int e = sink->setFormat(f, why)) {
        errno = e;
        return nullptr;
    }
    return sink;
}

}  // namespace zef::audio
