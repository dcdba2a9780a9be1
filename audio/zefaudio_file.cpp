// The file device: plays in time into a WAVE file.  The file holds exactly
// the frames that were played, in order; markers add nothing.  It is written
// beside its name and put in place, header completed, when the device closes;
// a write that fails leaves whatever had the name as it was (zefoutfile.h).
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "byteorder.h"
#include "zefaudio_backend.h"
#include "zefoutfile.h"

namespace zef::audio {

namespace {

constexpr size_t kHeaderBytes = 44;
constexpr uint64_t kMaxData = 0xffffffffull - 36 - 1;  // RIFF sizes are 32-bit, plus a pad byte

bool writeAll(int fd, const uint8_t* p, size_t n, off_t at) {
    while (n > 0) {
        ssize_t w = at >= 0 ? pwrite(fd, p, n, at) : ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            if (w == 0) errno = EIO;
            return false;
        }
        p += w;
        n -= size_t(w);
        if (at >= 0) at += w;
    }
    return true;
}

// Samples as a WAVE file stores them: little-endian, 8-bit unsigned.
void toWave(const uint8_t* in, uint8_t* out, size_t bytes, const Format& f) {
    switch (f.precision) {
    case 8:
        for (size_t i = 0; i < bytes; ++i)
            out[i] = f.encoding == AUDIO_ENCODING_LINEAR8 ? in[i] : uint8_t(in[i] ^ 0x80);
        break;
    case 16:
        for (size_t i = 0; i + 2 <= bytes; i += 2) {
            int16_t s;
            std::memcpy(&s, in + i, 2);
            writeLE16(out + i, uint16_t(s));
        }
        break;
    case 24:  // already low byte first
        std::memcpy(out, in, bytes);
        break;
    case 32:
        for (size_t i = 0; i + 4 <= bytes; i += 4) {
            int32_t s;
            std::memcpy(&s, in + i, 4);
            writeLE32(out + i, uint32_t(s));
        }
        break;
    }
}

class FileSink : public PacedSink {
public:
    FileSink(const OutFile& out, double speed, const Format& f)
        : PacedSink(speed, f), out_(out), fd_(out.fd), path_(out.target) {}
    ~FileSink() override {
        if (fd_ < 0) return;
        discardOutFile(out_);
        ::close(fd_);
    }

    int writeHeader(std::string& why) {
        const Format& f = format();
        uint64_t pad = dataBytes_ & 1;
        uint8_t h[kHeaderBytes];
        std::memcpy(h, "RIFF", 4);
        writeLE32(h + 4, uint32_t(36 + dataBytes_ + pad));
        std::memcpy(h + 8, "WAVEfmt ", 8);
        writeLE32(h + 16, 16);
        writeLE16(h + 20, 1);  // PCM
        writeLE16(h + 22, uint16_t(f.channels));
        writeLE32(h + 24, f.rate);
        writeLE32(h + 28, uint32_t(f.rate * f.frameBytes()));
        writeLE16(h + 32, uint16_t(f.frameBytes()));
        writeLE16(h + 34, uint16_t(f.precision));
        std::memcpy(h + 36, "data", 4);
        writeLE32(h + 40, uint32_t(dataBytes_));
        return writeAll(fd_, h, sizeof h, 0) ? 0 : failure(why);
    }

    int setFormat(const Format& f, std::string& why) override {
        if (f == format()) return 0;
        if (dataBytes_ > 0) {
            why = path_ + ": a WAVE file has one format, and sound has been written in another";
            return EBUSY;
        }
        PacedSink::setFormat(f, why);
        return writeHeader(why);
    }

    int finish(std::string& why) override {
        if (fd_ < 0) return 0;
        int err = 0;
        if (dataBytes_ & 1) {
            uint8_t zero = 0;
            if (!writeAll(fd_, &zero, 1, off_t(kHeaderBytes + dataBytes_))) err = failure(why);
        }
        if (!err) err = writeHeader(why);
        if (!err && failed_) err = EIO;  // reported when it happened
        if (!err && (errno = commitOutFile(out_)) != 0) err = failure(why);
        if (err) discardOutFile(out_);
        if (::close(fd_) != 0 && !err) err = failure(why);
        fd_ = -1;
        return err;
    }

protected:
    int render(const uint8_t* frames, size_t count, std::string& why) override {
        size_t bytes = count * format().frameBytes();
        if (dataBytes_ + bytes > kMaxData) {
            why = path_ + ": the WAVE file is full (4 GiB)";
            return EFBIG;
        }
        scratch_.resize(bytes);
        toWave(frames, scratch_.data(), bytes, format());
        if (!writeAll(fd_, scratch_.data(), bytes, off_t(kHeaderBytes + dataBytes_)))
            return failure(why);
        dataBytes_ += bytes;
        return 0;
    }

private:
    int failure(std::string& why) {
        int err = errno ? errno : EIO;
        failed_ = true;
        why = path_ + ": " + strerror(err);
        return err;
    }

    OutFile out_;
    int fd_;
    std::string path_;
    bool failed_ = false;
    uint64_t dataBytes_ = 0;
    std::vector<uint8_t> scratch_;
};

}  // namespace

std::unique_ptr<Sink> openFileSink(const std::string& path, double speed, const Format& f,
                                   std::string& why) {
    OutFile out;
    if (int err = openOutFile(path.c_str(), out)) {
        why = path + ": " + (err == kOutputIsInput ? "the output is the input (a file being read)" : strerror(err));
        errno = err;
        return nullptr;
    }
    auto sink = std::make_unique<FileSink>(out, speed, f);
    if (int err = sink->writeHeader(why)) {
        errno = err;
        return nullptr;
    }
    return sink;
}

}  // namespace zef::audio
