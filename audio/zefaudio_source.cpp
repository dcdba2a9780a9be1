// The capture sources: the virtual clock of the null and file sources, the
// null source (silence), the file source (a WAVE file delivered as if it
// were being captured) and ALSA capture.
#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "byteorder.h"
#include "zefaudio_backend.h"

namespace zef::audio {

int PacedSource::setFormat(const Format& f, std::string&) {
    format_ = f;
    return 0;
}

uint64_t PacedSource::due() const {
    if (paused_) return taken_;
    double elapsed = std::chrono::duration<double>(Clock::now() - anchor_).count();
    return std::max(taken_, anchorTaken_ + uint64_t(elapsed * double(format_.rate) * speed_));
}

long PacedSource::read(uint8_t* frames, size_t count, bool& ended, std::string& why) {
    long long left = remaining();
    size_t n = size_t(std::min<uint64_t>(count, due() - taken_));
    if (left >= 0) n = std::min<size_t>(n, size_t(left));
    long got = n > 0 ? produce(frames, n, why) : 0;
    if (got < 0) return got;
    taken_ += uint64_t(got);
    ended = left >= 0 && remaining() == 0;
    return got;
}

void PacedSource::pause(bool on) {
    if (on == paused_) return;
    paused_ = on;
    anchor_ = Clock::now();  // the clock restarts from here on resume
    anchorTaken_ = taken_;
}

namespace {

class NullSource : public PacedSource {
public:
    using PacedSource::PacedSource;

protected:
    long produce(uint8_t* frames, size_t count, std::string&) override {
        Format f = format();
        uint8_t silence = f.encoding == AUDIO_ENCODING_LINEAR8 ? 0x80 : 0;
        std::memset(frames, silence, count * f.frameBytes());
        return long(count);
    }
};

// What the file source needs from a WAVE file: its PCM format and where the
// samples lie.
struct WaveLayout {
    Format format;
    uint64_t dataOffset = 0;
    uint64_t dataBytes = 0;
};

bool preadAll(int fd, uint8_t* p, size_t n, uint64_t at) {
    while (n > 0) {
        ssize_t r = pread(fd, p, n, off_t(at));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        p += r;
        n -= size_t(r);
        at += uint64_t(r);
    }
    return true;
}

// Walks the chunks for "fmt " and "data"; false with the reason otherwise.
bool readWaveLayout(int fd, uint64_t fileSize, WaveLayout& out, std::string& why) {
    uint8_t head[12];
    if (fileSize < 12 || !preadAll(fd, head, 12, 0) || std::memcmp(head, "RIFF", 4) != 0 ||
        std::memcmp(head + 8, "WAVE", 4) != 0) {
        why = "not a WAVE file";
        return false;
    }
    bool haveFormat = false;
    for (uint64_t pos = 12; pos + 8 <= fileSize;) {
        uint8_t chunk[8];
        if (!preadAll(fd, chunk, 8, pos)) break;
        uint64_t size = readLE32(chunk + 4);
        uint64_t body = pos + 8;
        if (std::memcmp(chunk, "fmt ", 4) == 0 && !haveFormat) {
            uint8_t fmt[16];
            if (size < 16 || body + 16 > fileSize || !preadAll(fd, fmt, 16, body)) break;
            if (readLE16(fmt) != 1) {
                why = "the WAVE file does not hold plain PCM";
                return false;
            }
            uint32_t bits = readLE16(fmt + 14);
            out.format = {readLE32(fmt + 4), readLE16(fmt + 2), bits,
                          bits == 8 ? AUDIO_ENCODING_LINEAR8 : AUDIO_ENCODING_LINEAR};
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0 && haveFormat) {
            // A data size past the end (a file still being written) means what is there.
            out.dataOffset = body;
            out.dataBytes = std::min(size, fileSize - body);
            std::string bad = checkFormat(out.format);
            if (!bad.empty()) why = "the WAVE file's format cannot be recorded: " + bad;
            return bad.empty();
        }
        pos = body + size + (size & 1);
    }
    why = haveFormat ? "the WAVE file has no data chunk" : "the WAVE file has no format chunk";
    return false;
}

// Samples from the file's order (little-endian) to the host's.
void fromWave(uint8_t* p, size_t bytes, const Format& f) {
    if (f.precision == 16) {
        for (size_t i = 0; i + 2 <= bytes; i += 2) {
            int16_t s = int16_t(readLE16(p + i));
            std::memcpy(p + i, &s, 2);
        }
    } else if (f.precision == 32) {
        for (size_t i = 0; i + 4 <= bytes; i += 4) {
            int32_t s = int32_t(readLE32(p + i));
            std::memcpy(p + i, &s, 4);
        }
    }
}

class FileSource : public PacedSource {
public:
    FileSource(int fd, std::string path, double speed, const WaveLayout& w)
        : PacedSource(speed, w.format), fd_(fd), path_(std::move(path)), layout_(w) {}
    ~FileSource() override { ::close(fd_); }

    int setFormat(const Format& f, std::string& why) override {
        if (f == format()) return 0;
        why = path_ + ": the file holds " + std::to_string(format().rate) + " Hz, " +
              std::to_string(format().channels) + " channels, " + std::to_string(format().precision) +
              "-bit sound and is recorded as it is";
        return EINVAL;
    }

protected:
    long produce(uint8_t* frames, size_t count, std::string& why) override {
        size_t bytes = count * format().frameBytes();
        errno = 0;
        if (!preadAll(fd_, frames, bytes, layout_.dataOffset + position_)) {
            int err = errno ? errno : EIO;
            why = path_ + ": " + (errno ? strerror(err) : "the file became shorter");
            return -err;
        }
        fromWave(frames, bytes, format());
        position_ += bytes;
        return long(count);
    }

    long long remaining() const override {
        return (long long)((layout_.dataBytes - position_) / format().frameBytes());
    }

private:
    int fd_;
    std::string path_;
    WaveLayout layout_;
    uint64_t position_ = 0;
};

// ALSA capture, never blocking: what ALSA has captured is read at once.
int errnoOf(int alsaErr) { return alsaErr < 0 && -alsaErr < 4096 ? -alsaErr : EIO; }

class AlsaSource : public Source {
public:
    AlsaSource(snd_pcm_t* pcm, std::string name) : pcm_(pcm), name_(std::move(name)) {}
    ~AlsaSource() override { snd_pcm_close(pcm_); }

    Format format() const override { return format_; }

    int setFormat(const Format& f, std::string& why) override {
        if (configured_ && f == format_) return 0;
        snd_pcm_drop(pcm_);
        snd_pcm_hw_params_t* hw;
        snd_pcm_hw_params_alloca(&hw);
        unsigned bufferUs = 500000;
        int err = snd_pcm_hw_params_any(pcm_, hw);
        if (err >= 0) err = snd_pcm_hw_params_set_access(pcm_, hw, SND_PCM_ACCESS_RW_INTERLEAVED);
        if (err >= 0) err = snd_pcm_hw_params_set_format(pcm_, hw, alsaFormat(f));
        if (err >= 0) err = snd_pcm_hw_params_set_channels(pcm_, hw, f.channels);
        if (err >= 0) err = snd_pcm_hw_params_set_rate(pcm_, hw, f.rate, 0);
        if (err >= 0) err = snd_pcm_hw_params_set_buffer_time_near(pcm_, hw, &bufferUs, nullptr);
        if (err >= 0) err = snd_pcm_hw_params(pcm_, hw);
        if (err < 0) {
            why = "ALSA device \"" + name_ + "\" cannot record " + std::to_string(f.rate) + " Hz, " +
                  std::to_string(f.channels) + " channels, " + std::to_string(f.precision) +
                  "-bit: " + snd_strerror(err);
            if (configured_) restore();
            return EINVAL;
        }
        format_ = f;
        configured_ = true;
        return start(why);
    }

    long read(uint8_t* frames, size_t count, bool& ended, std::string& why) override {
        ended = false;
        if (paused_) return 0;
        snd_pcm_sframes_t got = snd_pcm_readi(pcm_, frames, count);
        if (got >= 0) return long(got);
        if (got == -EAGAIN) return 0;
        if (got == -EPIPE || got == -ESTRPIPE) {  // overrun or suspend: go on
            int err = start(why);
            return err ? -err : 0;
        }
        why = "ALSA device \"" + name_ + "\": " + snd_strerror(int(got));
        return -errnoOf(int(got));
    }

    void pause(bool on) override {
        if (on == paused_) return;
        paused_ = on;
        std::string ignored;
        if (on) snd_pcm_drop(pcm_);
        else start(ignored);
    }

private:
    static snd_pcm_format_t alsaFormat(const Format& f) {
        switch (f.precision) {
        case 8: return f.encoding == AUDIO_ENCODING_LINEAR8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S8;
        case 16: return SND_PCM_FORMAT_S16;
        case 24: return SND_PCM_FORMAT_S24_3LE;
        default: return SND_PCM_FORMAT_S32;
        }
    }

    void restore() {
        configured_ = false;
        std::string ignored;
        setFormat(format_, ignored);
    }

    int start(std::string& why) {
        int err = snd_pcm_prepare(pcm_);
        if (err >= 0 && !paused_) err = snd_pcm_start(pcm_);
        if (err < 0) {
            why = "ALSA device \"" + name_ + "\": " + snd_strerror(err);
            return errnoOf(err);
        }
        return 0;
    }

    snd_pcm_t* pcm_;
    std::string name_;
    Format format_;
    bool configured_ = false;
    bool paused_ = false;
};

}  // namespace

std::unique_ptr<Source> openNullSource(double speed, const Format& f, std::string&) {
    return std::make_unique<NullSource>(speed, f);
}

std::unique_ptr<Source> openFileSource(const std::string& path, double speed, std::string& why) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        int err = errno;
        why = path + ": " + strerror(err);
        errno = err;
        return nullptr;
    }
    WaveLayout layout;
    off_t size = lseek(fd, 0, SEEK_END);
    if (size < 0 || !readWaveLayout(fd, uint64_t(size), layout, why)) {
        if (size < 0) why = strerror(errno);
        why = path + ": " + why;
        ::close(fd);
        errno = EINVAL;
        return nullptr;
    }
    return std::make_unique<FileSource>(fd, path, speed, layout);
}

std::unique_ptr<Source> openAlsaSource(const std::string& pcm, const Format& f, std::string& why) {
    snd_pcm_t* handle = nullptr;
    int err = snd_pcm_open(&handle, pcm.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
    if (err < 0) {
        if (err != -EBUSY)
            why = "cannot open ALSA capture device \"" + pcm + "\": " + snd_strerror(err) +
                  " (ZEFAUDIO_IN=null or file:PATH.wav record without a sound card)";
        errno = errnoOf(err);
        return nullptr;
    }
    auto source = std::make_unique<AlsaSource>(handle, pcm);
    if (int e = source->setFormat(f, why)) {
        errno = e;
        return nullptr;
    }
    return source;
}

}  // namespace zef::audio
