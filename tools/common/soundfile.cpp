#include "soundfile.h"

#include <fcntl.h>
#include <sndfile.h>
#include <soxr.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "toolcommon.h"
#include "zefoutfile.h"

namespace zeftool {

namespace {

constexpr size_t kBlock = 4096;               // frames read at a time
constexpr size_t kHeadBytes = 65536;
constexpr size_t kPipeLimit = size_t(1) << 30;  // what a pipe may hold in memory

int16_t toSample(float x) {
    float v = std::nearbyint(x * 32768.0f);
    return int16_t(std::clamp(v, -32768.0f, 32767.0f));
}

std::string lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Reads until n bytes or the end; false with errno on a read error.
bool readFully(int fd, uint8_t* to, size_t n, size_t* got) {
    *got = 0;
    while (*got < n) {
        ssize_t r = ::read(fd, to + *got, n - *got);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return false;
        if (r == 0) break;
        *got += size_t(r);
    }
    return true;
}

// What libsndfile said about a file it could not open, as a user reads it.
std::string openFailure(int code) {
    switch (code) {
    case SF_ERR_UNRECOGNISED_FORMAT:
        return "not an audio file libsndfile knows (raw samples need --rate or --bits)";
    case SF_ERR_MALFORMED_FILE: return "a damaged or incomplete sound file";
    case SF_ERR_UNSUPPORTED_ENCODING: return "its sound encoding is not one libsndfile reads";
    default: break;
    }
    std::string text = sf_strerror(nullptr);  // libsndfile's own account of the header
    while (!text.empty() && (text.back() == '.' || text.back() == '\n')) text.pop_back();
    if (!text.empty()) text[0] = char(std::tolower(static_cast<unsigned char>(text[0])));
    return "not sound libsndfile can read (" + printable(text) + ")";
}

}  // namespace

// ---- rate conversion --------------------------------------------------------

class Resampler {
public:
    Resampler(double from, double to) {
        soxr_error_t err = nullptr;
        soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        soxr_quality_spec_t q = soxr_quality_spec(SOXR_HQ, 0);
        soxr_ = soxr_create(from, to, 1, &err, &io, &q, nullptr);
    }
    ~Resampler() { soxr_delete(soxr_); }
    Resampler(const Resampler&) = delete;
    Resampler& operator=(const Resampler&) = delete;
    bool ok() const { return soxr_ != nullptr; }
    // Converts n samples (none: the end, what the filter holds comes out).
    const std::vector<float>& process(const float* in, size_t n) {
        out_.clear();
        const size_t room = 4096;  // output taken a block at a time
        for (;;) {
            size_t at = out_.size(), used = 0, made = 0;
            out_.resize(at + room);
            soxr_process(soxr_, in, n, &used, out_.data() + at, room, &made);
            out_.resize(at + made);
            if (in) {
                in += used;
                n -= used;
            }
            if ((in && n == 0 && made < room) || (!in && made == 0)) break;
        }
        return out_;
    }

private:
    soxr_t soxr_ = nullptr;
    std::vector<float> out_;
};

// ---- reading ----------------------------------------------------------------

namespace {

struct MemSource {  // an input read from a pipe
    const std::vector<uint8_t>* memory = nullptr;
    sf_count_t at = 0;
};

sf_count_t memLength(void* user) {
    auto* s = static_cast<MemSource*>(user);
    return sf_count_t(s->memory->size());
}
sf_count_t memSeek(sf_count_t offset, int whence, void* user) {
    auto* s = static_cast<MemSource*>(user);
    sf_count_t to = whence == SEEK_SET ? offset : whence == SEEK_CUR ? s->at + offset : memLength(user) + offset;
    if (to < 0 || to > memLength(user)) return -1;
    return s->at = to;
}
sf_count_t memRead(void* ptr, sf_count_t count, void* user) {
    auto* s = static_cast<MemSource*>(user);
    sf_count_t n = std::min(count, memLength(user) - s->at);
    std::memcpy(ptr, s->memory->data() + s->at, size_t(n));
    s->at += n;
    return n;
}
sf_count_t memWrite(const void*, sf_count_t, void*) { return 0; }
sf_count_t memTell(void* user) { return static_cast<MemSource*>(user)->at; }

// Whether libsndfile knows the format from the first bytes alone: a pipe is
// only held in memory for something that can be read in the end.
bool knownFromHead(const std::vector<uint8_t>& head) {
    MemSource probe{&head, 0};
    SF_INFO info{};
    static SF_VIRTUAL_IO io{memLength, memSeek, memRead, memWrite, memTell};
    SNDFILE* file = sf_open_virtual(&io, SFM_READ, &info, &probe);
    if (file) sf_close(file);
    return file != nullptr;
}

}  // namespace

struct SoundIn::Sndfile {
    SNDFILE* file = nullptr;
    SF_INFO info{};
    MemSource mem;
    ~Sndfile() {
        if (file) sf_close(file);
    }
};

SoundIn::SoundIn() = default;
SoundIn::~SoundIn() {
    sf_.reset();  // before its descriptor goes
    if (ownFd_ && rawFd_ >= 0) ::close(rawFd_);
}

bool SoundIn::open(const char* name, const RawFormat* raw) {
    const bool standardInput = !std::strcmp(name, "-");
    int fd = standardInput ? STDIN_FILENO : ::open(name, O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) return error_ = systemText(uint32_t(errno)), false;
    rawFd_ = fd;
    ownFd_ = !standardInput;
    if (S_ISDIR(st.st_mode)) return error_ = "is a directory", false;
    head_.resize(kHeadBytes);
    size_t got = 0;
    if (!readFully(fd, head_.data(), kHeadBytes, &got)) return error_ = systemText(uint32_t(errno)), false;
    head_.resize(got);
    if (head_.empty()) return error_ = "is empty: there is no speech to encode", false;
    if (raw) {  // streamed as it comes: the head first, then the rest
        raw_ = *raw;
        inRate_ = raw->rate;
        channels_ = 1;
    } else {
        sf_ = std::make_unique<Sndfile>();
        if (S_ISREG(st.st_mode)) {
            if (::lseek(fd, 0, SEEK_SET) != 0) return error_ = systemText(uint32_t(errno)), false;
            sf_->file = sf_open_fd(fd, SFM_READ, &sf_->info, SF_FALSE);
        } else {  // a pipe or device: held in memory, so that any format can seek
            memory_ = head_;
            if (got == kHeadBytes && !knownFromHead(head_))  // no sense holding a gigabyte of noise
                return error_ = openFailure(sf_error(nullptr)), false;
            if (got == kHeadBytes) {
                std::vector<uint8_t> chunk(1 << 20);
                size_t n = 0;
                try {
                    do {
                        if (!readFully(fd, chunk.data(), chunk.size(), &n)) return error_ = systemText(uint32_t(errno)), false;
                        memory_.insert(memory_.end(), chunk.begin(), chunk.begin() + long(n));
                    } while (n == chunk.size() && memory_.size() <= kPipeLimit);
                } catch (const std::bad_alloc&) {
                    n = chunk.size();
                }
                if (n == chunk.size()) {
                    memory_ = {};
                    return error_ = "too long to be held from a pipe; give it as a file, or raw samples with --rate", false;
                }
            }
            sf_->mem.memory = &memory_;
            static SF_VIRTUAL_IO io{memLength, memSeek, memRead, memWrite, memTell};
            sf_->file = sf_open_virtual(&io, SFM_READ, &sf_->info, &sf_->mem);
        }
        if (!sf_->file) return error_ = openFailure(sf_error(nullptr)), false;
        if (sf_->info.channels < 1 || sf_->info.samplerate < 1) return error_ = "holds no channels or no rate", false;
        // Float files beyond full scale are clipped, not wrapped round.
        sf_command(sf_->file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
        // A header's nonsense rate (1 Hz, 67 MHz) is not converted for hours.
        if (sf_->info.samplerate < 1000 || sf_->info.samplerate > 768000)
            return error_ = "its rate of " + std::to_string(sf_->info.samplerate) +
                            " Hz is not one sound is kept at (1000 to 768000 Hz)",
                   false;
        inRate_ = uint32_t(sf_->info.samplerate);
        channels_ = unsigned(sf_->info.channels);
    }
    // Every other rate comes down to the codecs' 8000 Hz here, through
    // libsoxr's filter that keeps the band up to 3.8 kHz: the library's own
    // converter (edge at 3.6 kHz) cuts the top band the encoders keep.
    outRate_ = 8000;
    if (outRate_ != inRate_) {
        resampler_ = std::make_unique<Resampler>(inRate_, outRate_);
        if (!resampler_->ok()) return error_ = "its rate cannot be converted", false;
    }
    return true;
}

long SoundIn::readRaw(float* mono, size_t frames) {
    const size_t width = raw_.bits / 8;
    std::vector<uint8_t> bytes(frames * width);
    size_t got = std::min(bytes.size(), head_.size() - headGiven_);
    std::memcpy(bytes.data(), head_.data() + headGiven_, got);
    headGiven_ += got;
    if (got < bytes.size() && head_.size() == kHeadBytes) {
        size_t more = 0;
        if (!readFully(rawFd_, bytes.data() + got, bytes.size() - got, &more)) return -1;
        got += more;
    }
    size_t n = got / width;
    for (size_t i = 0; i < n; ++i)
        mono[i] = width == 1 ? float(int(bytes[i]) - 128) / 128.0f
                             : float(int16_t(bytes[2 * i] | bytes[2 * i + 1] << 8)) / 32768.0f;
    return long(n);
}

bool SoundIn::fill() {
    pending_.clear();
    pendingAt_ = 0;
    std::vector<float> mono(kBlock);
    long n = 0;
    if (!ended_) {
        if (sf_) {
            std::vector<float> frames(kBlock * channels_);
            n = long(sf_readf_float(sf_->file, frames.data(), sf_count_t(kBlock)));
            if (sf_error(sf_->file) != SF_ERR_NO_ERROR) {
                error_ = sf_strerror(sf_->file);
                return false;
            }
            for (long i = 0; i < n; ++i) {
                float sum = 0;
                for (unsigned c = 0; c < channels_; ++c) sum += frames[size_t(i) * channels_ + c];
                mono[size_t(i)] = sum / float(channels_);
            }
        } else if ((n = readRaw(mono.data(), kBlock)) < 0) {
            error_ = systemText(uint32_t(errno));
            return false;
        }
        if (n == 0) ended_ = true;
    }
    mono.resize(size_t(n));
    if (!resampler_) {
        pending_ = std::move(mono);
    } else if (!ended_) {
        pending_ = resampler_->process(mono.data(), mono.size());
    } else if (!flushed_) {
        flushed_ = true;
        pending_ = resampler_->process(nullptr, 0);
    }
    return true;
}

long SoundIn::read(int16_t* out, size_t n) {
    size_t done = 0;
    while (done < n) {
        if (pendingAt_ == pending_.size()) {
            if (ended_ && (!resampler_ || flushed_)) break;
            if (!fill()) return -1;
            continue;
        }
        size_t take = std::min(n - done, pending_.size() - pendingAt_);
        for (size_t i = 0; i < take; ++i) out[done + i] = toSample(pending_[pendingAt_ + i]);
        pendingAt_ += take;
        done += take;
    }
    return long(done);
}

// ---- writing ----------------------------------------------------------------

namespace {

const OutFormat kFormats[] = {
    {"wav", SF_FORMAT_WAV, SF_FORMAT_PCM_16},     {"aiff", SF_FORMAT_AIFF, SF_FORMAT_PCM_16},
    {"au", SF_FORMAT_AU, SF_FORMAT_PCM_16},       {"flac", SF_FORMAT_FLAC, SF_FORMAT_PCM_16},
    {"ogg", SF_FORMAT_OGG, SF_FORMAT_VORBIS},     {"opus", SF_FORMAT_OGG, SF_FORMAT_OPUS},
    {"mp3", SF_FORMAT_MPEG, SF_FORMAT_MPEG_LAYER_III}, {"raw", SF_FORMAT_RAW, SF_FORMAT_PCM_16},
};

}  // namespace

const OutFormat* outFormatByName(const std::string& name) {
    for (const OutFormat& f : kFormats)
        if (name == f.name) return &f;
    return nullptr;
}

const OutFormat* outFormatForFile(const std::string& file) {
    size_t dot = file.rfind('.');
    if (dot == std::string::npos || file.find('/', dot) != std::string::npos) return nullptr;
    std::string ext = lower(file.substr(dot + 1));
    if (ext == "aif" || ext == "aifc") ext = "aiff";
    if (ext == "snd") ext = "au";
    if (ext == "oga") ext = "ogg";
    if (ext == "pcm") ext = "raw";
    return outFormatByName(ext);
}

struct SoundOut::Impl {
    zef::OutFile out;
    SNDFILE* file = nullptr;
    bool toStdout = false, wave = false, eightBit = false;
    uint32_t rate = 0;
    std::string name;
};

SoundOut::SoundOut() : impl_(std::make_unique<Impl>()) {}
SoundOut::~SoundOut() { discard(); }

bool SoundOut::open(const char* name, const OutFormat& format, uint32_t rate, uint32_t inRate, unsigned bits) {
    Impl& o = *impl_;
    o.name = name;
    o.rate = rate;
    o.eightBit = bits == 8;
    if (rate != inRate) {
        resampler_ = std::make_unique<Resampler>(inRate, rate);
        if (!resampler_->ok()) return error_ = "the rate cannot be converted", false;
    }
    if (!std::strcmp(name, "-")) {  // a stream: a header that cannot be completed, as the library writes it
        o.toStdout = true;
        o.wave = format.major == SF_FORMAT_WAV;
        if (!o.wave && format.major != SF_FORMAT_RAW) return error_ = "only WAVE or raw samples go to standard output", false;
        if (!o.wave) return true;
        const uint16_t width = o.eightBit ? 1 : 2;
        uint8_t h[44];
        auto le = [&](int at, uint32_t v, int n) {
            for (int i = 0; i < n; ++i) h[at + i] = uint8_t(v >> (8 * i));
        };
        std::memcpy(h, "RIFF", 4), le(4, 0xFFFFFFF8u, 4), std::memcpy(h + 8, "WAVEfmt ", 8), le(16, 16, 4);
        le(20, 1, 2), le(22, 1, 2), le(24, rate, 4), le(28, rate * width, 4), le(32, width, 2), le(34, width * 8u, 2);
        std::memcpy(h + 36, "data", 4), le(40, 0xFFFFFFD4u, 4);
        if (std::fwrite(h, 1, sizeof h, stdout) != sizeof h) return error_ = systemText(uint32_t(errno)), false;
        return true;
    }
    if (int err = zef::openOutFile(name, o.out)) {
        error_ = err == zef::kOutputIsInput ? "the output is the input" : systemText(uint32_t(err));
        return false;
    }
    SF_INFO info{};
    info.samplerate = int(rate);
    info.channels = 1;
    int encoding = format.encoding;
    if (o.eightBit && encoding == SF_FORMAT_PCM_16)
        encoding = format.major == SF_FORMAT_WAV ? SF_FORMAT_PCM_U8 : SF_FORMAT_PCM_S8;
    info.format = format.major | encoding | (format.major == SF_FORMAT_RAW ? SF_ENDIAN_LITTLE : 0);
    if (!sf_format_check(&info)) {
        error_ = std::string("libsndfile cannot write ") + format.name + " at " + std::to_string(rate) + " Hz" +
                 (format.encoding == SF_FORMAT_OPUS ? " (Opus takes 8000, 12000, 16000, 24000 or 48000)" : "");
        discard();
        return false;
    }
    o.file = sf_open_fd(o.out.fd, SFM_WRITE, &info, SF_FALSE);
    if (!o.file) {
        error_ = std::string("libsndfile cannot write ") + format.name + " at " + std::to_string(rate) +
                 " Hz: " + sf_strerror(nullptr);
        discard();
        return false;
    }
    return true;
}

bool SoundOut::putStdout(const float* x, size_t n) {
    std::vector<uint8_t> bytes;
    bytes.reserve(n * 2);
    for (size_t i = 0; i < n; ++i) {
        int16_t v = toSample(x[i]);
        if (impl_->eightBit) {
            bytes.push_back(uint8_t((v >> 8) + 128));
        } else {
            bytes.push_back(uint8_t(v));
            bytes.push_back(uint8_t(uint16_t(v) >> 8));
        }
    }
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size()) {
        error_ = systemText(uint32_t(errno ? errno : EIO));
        return false;
    }
    return true;
}

bool SoundOut::put(const float* x, size_t n) {
    if (impl_->toStdout) return putStdout(x, n);
    // As 16-bit samples, rounded here: libsndfile would scale floats by
    // 32767 and move every decoded sample a little.
    std::vector<short> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = toSample(x[i]);
    if (n && sf_write_short(impl_->file, v.data(), sf_count_t(n)) != sf_count_t(n)) {
        error_ = sf_strerror(impl_->file);
        return false;
    }
    return true;
}

bool SoundOut::write(const int16_t* samples, size_t n) {
    if (n == 0) return true;  // (no input is the converter's sign of the end)
    std::vector<float> x(n);
    for (size_t i = 0; i < n; ++i) x[i] = float(samples[i]) / 32768.0f;
    if (!resampler_) return put(x.data(), n);
    const std::vector<float>& y = resampler_->process(x.data(), n);
    return put(y.data(), y.size());
}

bool SoundOut::finish() {
    Impl& o = *impl_;
    if (resampler_) {
        const std::vector<float>& y = resampler_->process(nullptr, 0);
        if (!put(y.data(), y.size())) return discard(), false;
    }
    if (o.toStdout) {
        if (std::fflush(stdout) != 0) return error_ = systemText(uint32_t(errno)), false;
        return true;
    }
    if (!o.file) return false;
    int closed = sf_close(o.file);
    o.file = nullptr;
    if (closed != 0) {
        error_ = sf_error_number(closed);
        discard();
        return false;
    }
    if (int err = zef::commitOutFile(o.out)) {
        error_ = systemText(uint32_t(err));
        ::close(o.out.fd);
        o.out.fd = -1;
        return false;
    }
    ::close(o.out.fd);
    o.out.fd = -1;
    return true;
}

void SoundOut::discard() {
    Impl& o = *impl_;
    if (o.file) sf_close(o.file);
    o.file = nullptr;
    if (o.out.fd >= 0) {
        zef::discardOutFile(o.out);
        ::close(o.out.fd);
        o.out.fd = -1;
    }
}

}  // namespace zeftool
