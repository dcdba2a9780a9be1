// Sound in and out of the tools in the formats people have: libsndfile reads
// and writes the files (WAVE in every encoding, AIFF, AU, FLAC, Ogg Vorbis,
// Opus, MP3, ...), libsoxr converts every rate to the codecs' 8000 Hz.  The
// codec library sees 16-bit mono PCM at 8000 Hz only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zeftool {

// Raw samples with no header: 8-bit unsigned or 16-bit signed little-endian.
struct RawFormat {
    uint32_t rate = 8000;
    unsigned bits = 16;
};

class Resampler;

// An input file (or "-" for standard input) read to its end as 16-bit mono:
// channels are averaged, and any other rate is converted to 8000 Hz
// ("high quality").  Errors are one line in plain words without
// the file's name (the caller puts it in front).
class SoundIn {
public:
    SoundIn();
    ~SoundIn();
    SoundIn(const SoundIn&) = delete;
    SoundIn& operator=(const SoundIn&) = delete;

    // `raw` set: the input is raw samples of that format, read as a stream.
    bool open(const char* name, const RawFormat* raw);
    // The first bytes of the input (up to 64 KB), to tell coded speech.
    const std::vector<uint8_t>& head() const { return head_; }
    uint32_t rate() const { return outRate_; }  // of the samples delivered
    uint32_t sourceRate() const { return inRate_; }
    unsigned channels() const { return channels_; }
    // Up to n samples; 0 at the end; -1 when reading failed (see error()).
    long read(int16_t* out, size_t n);
    const std::string& error() const { return error_; }

private:
    bool fill();  // the next block of mono samples into pending_
    long readRaw(float* mono, size_t frames);

    struct Sndfile;
    std::unique_ptr<Sndfile> sf_;
    std::unique_ptr<Resampler> resampler_;
    int rawFd_ = -1;
    bool ownFd_ = false;
    RawFormat raw_;
    std::vector<uint8_t> head_, memory_;
    size_t headGiven_ = 0;
    uint32_t inRate_ = 0, outRate_ = 0;
    unsigned channels_ = 1;
    std::vector<float> pending_;
    size_t pendingAt_ = 0;
    bool ended_ = false, flushed_ = false;
    std::string error_;
};

// The output formats the tools write through libsndfile.
struct OutFormat {
    const char* name;  // as -t takes it
    int major;         // libsndfile's major format and encoding
    int encoding;
};
// By -t name ("flac") or by a file name's extension; nullptr when unknown.
const OutFormat* outFormatByName(const std::string& name);
const OutFormat* outFormatForFile(const std::string& file);

// An output file written through libsndfile: 16-bit mono samples at `inRate`
// in, the file at `rate` (converted when they differ).  The file is written
// to a temporary name and put in place only by finish(); "-" writes raw or
// WAVE samples to standard output.
class SoundOut {
public:
    SoundOut();
    ~SoundOut();
    SoundOut(const SoundOut&) = delete;
    SoundOut& operator=(const SoundOut&) = delete;

    bool open(const char* name, const OutFormat& format, uint32_t rate, uint32_t inRate, unsigned bits);
    bool write(const int16_t* samples, size_t n);
    bool finish();   // complete and in place
    void discard();  // nothing left behind
    const std::string& error() const { return error_; }

private:
    bool put(const float* x, size_t n);
    bool putStdout(const float* x, size_t n);

    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::unique_ptr<Resampler> resampler_;
    std::string error_;
};

}  // namespace zeftool
