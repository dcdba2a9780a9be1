// Inside the audio device layer: device names, the lock and shared state
// file, and the sinks that take the sound (ALSA, a WAVE file, nothing).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "zefaudio.h"

namespace zef::audio {

using Clock = std::chrono::steady_clock;

struct Format {
    uint32_t rate = 8000;
    uint32_t channels = 1;
    uint32_t precision = 16;
    uint32_t encoding = AUDIO_ENCODING_LINEAR;

    size_t sampleBytes() const { return precision / 8; }
    size_t frameBytes() const { return channels * sampleBytes(); }
    bool operator==(const Format&) const = default;
};

// Empty when the format can be played, else the reason.
std::string checkFormat(const Format& f);

// A device as ZEFAUDIO names it.
struct DeviceChoice {
    enum class Kind { Alsa, File, Null };
    Kind kind = Kind::Alsa;
    std::string arg;     // ALSA PCM name, WAVE path (absolute), or null name
    double speed = 1.0;  // virtual clock rate, null and file only
    bool input = false;  // a capture device (ZEFAUDIO_IN): its own lock and state


    // What makes two opens "the same device": kind and argument.
    std::string identity() const;
};

// Parses a ZEFAUDIO value; on failure returns false with the reason in why.
bool parseDeviceChoice(const std::string& text, DeviceChoice& out, std::string& why);

// Multiplies samples by gain/255 (the record side) and, for two or more
// channels, lowers the left or right channel by the balance (0 left .. 32
// centre .. 64 right).
void applyGain(uint8_t* frames, size_t count, const Format& f, uint32_t gain, uint8_t balance);
// The play side: gain 127 leaves the sound as it is, every 32 steps double
// or halve it, 0 is silence; samples are held at full scale.
constexpr int kPlayUnityGain = 127;
constexpr int kPlayGainDoubling = 32;
int64_t playGainQ16(uint32_t gain);  // the factor in 1/65536
void applyPlayGain(uint8_t* frames, size_t count, const Format& f, uint32_t gain, uint8_t balance);

// Where the sound goes.  All calls come with the device mutex held and
// return quickly.  Positions are frames counted since the sink was made.
class Sink {
public:
    virtual ~Sink() = default;
    // 0 or an errno value, with the reason in why.
    virtual int setFormat(const Format& f, std::string& why) = 0;
    // Takes up to `count` frames now; returns how many, or -errno when the
    // device has failed (reason in why).
    virtual long write(const uint8_t* frames, size_t count, std::string& why) = 0;
    // Frames taken that have been heard; -errno when the device has failed.
    virtual long long played(std::string& why) = 0;
    // Frames taken and not yet heard.  Falls when the sink had to drop its
    // buffer (flush, pause without hardware pause, resume after suspend):
    // the device feeds those frames again.
    virtual long long pending() const = 0;
    // Forgets what was taken but not heard.
    virtual void drop() = 0;
    // Stops (on) or continues output.
    virtual void pause(bool on) = 0;
    // Nothing is queued: the clock must not run on without sound.
    virtual void starve() = 0;
    // When it is worth looking again, for `want` more frames to be heard.
    virtual Clock::time_point nextWake(size_t want) = 0;
    // Seconds of real time that `frames` take to play.
    virtual double seconds(size_t frames) const = 0;
    // Gain and balance for sound taken from now on (0..255, 0..64).
    virtual void setLevel(uint32_t gain, uint8_t balance) { (void)gain, (void)balance; }
    // Completes the output before the sink is destroyed; 0 or errno.
    virtual int finish(std::string& why) = 0;
};

// A virtual device: takes sound as fast as its clock plays it (real time
// times `speed`) and hands it to render().  The clock stands still while
// nothing is queued or the device is paused, so it never runs ahead.
class PacedSink : public Sink {
public:
    PacedSink(double speed, const Format& f) : speed_(speed), format_(f) {}
    int setFormat(const Format& f, std::string& why) override;
    long write(const uint8_t* frames, size_t count, std::string& why) override;
    long long played(std::string&) override { return taken_; }
    long long pending() const override { return 0; }  // heard as soon as taken
    void drop() override { idle_ = true; }
    void pause(bool) override { idle_ = true; }
    void starve() override { idle_ = true; }
    Clock::time_point nextWake(size_t want) override;
    double seconds(size_t frames) const override;
    int finish(std::string&) override { return 0; }

protected:
    // Plays `count` frames; 0 or errno.
    virtual int render(const uint8_t* frames, size_t count, std::string& why) = 0;
    const Format& format() const { return format_; }

private:
    double framesPerSecond() const { return double(format_.rate) * speed_; }
    double speed_;
    Format format_;
    bool idle_ = true;
    Clock::time_point anchor_{};
    uint64_t anchorTaken_ = 0;
    uint64_t taken_ = 0;
};

// Where captured sound comes from.  Calls come with the capture mutex held
// and never block.
class Source {
public:
    virtual ~Source() = default;
    // The format delivered; a file source has its file's.
    virtual Format format() const = 0;
    // 0 or an errno value, with the reason in why.
    virtual int setFormat(const Format& f, std::string& why) = 0;
    // Copies up to `count` frames captured so far; returns how many (0 when
    // none are due yet), or -errno when the device has failed.  Sets ended
    // when no frame will ever come again.
    virtual long read(uint8_t* frames, size_t count, bool& ended, std::string& why) = 0;
    // Stops (on) or continues capture; nothing is captured while stopped.
    virtual void pause(bool on) = 0;
};

// A virtual capture: frames fall due at real time times `speed` from the
// open, and the clock stands still while paused.
class PacedSource : public Source {
public:
    PacedSource(double speed, const Format& f) : speed_(speed), format_(f), anchor_(Clock::now()) {}
    Format format() const override { return format_; }
    int setFormat(const Format& f, std::string& why) override;
    long read(uint8_t* frames, size_t count, bool& ended, std::string& why) override;
    void pause(bool on) override;

protected:
    // Fills `count` frames; returns how many it had (fewer at the end), or -errno.
    virtual long produce(uint8_t* frames, size_t count, std::string& why) = 0;
    // Frames left to deliver, or -1 for no end.
    virtual long long remaining() const { return -1; }
    void setFormatOnly(const Format& f) { format_ = f; }

private:
    uint64_t due() const;
    double speed_;
    Format format_;
    Clock::time_point anchor_;
    uint64_t anchorTaken_ = 0;
    uint64_t taken_ = 0;
    bool paused_ = false;
};

// Each opens its device or returns null with errno set and the reason in why.
std::unique_ptr<Sink> openAlsaSink(const std::string& pcm, const Format& f, std::string& why);
std::unique_ptr<Sink> openFileSink(const std::string& path, double speed, const Format& f,
                                   std::string& why);
std::unique_ptr<Sink> openNullSink(double speed, const Format& f, std::string& why);
std::unique_ptr<Source> openAlsaSource(const std::string& pcm, const Format& f, std::string& why);
std::unique_ptr<Source> openFileSource(const std::string& path, double speed, std::string& why);
std::unique_ptr<Source> openNullSource(double speed, const Format& f, std::string& why);

// The per-user lock file of one device.  Holding it is owning the device; it
// also carries the device's last published state for control handles.
class DeviceLock {
public:
    // Opens (creating if need be) the lock file of `identity`; null with
    // errno and the reason when it cannot.
    static std::unique_ptr<DeviceLock> open(const std::string& identity, std::string& why);
    // For readers only: null when the device has never been used (why
    // empty) or its file cannot be used (why says so).
    static std::unique_ptr<DeviceLock> openExisting(const std::string& identity, std::string& why);
    ~DeviceLock();
    DeviceLock(const DeviceLock&) = delete;
    DeviceLock& operator=(const DeviceLock&) = delete;

    bool tryExclusive();           // false with errno EBUSY when held
    bool heldElsewhere() const;    // by another handle or process
    // Lets the device go; `forget` also removes the lock file (when the
    // state it carries is what a fresh open starts with anyway).
    void release(bool forget = false);
    // Published state; false when none (or it cannot be read consistently).
    bool readState(audio_info& out) const;
    void publish(const audio_info& in);
    // Another opener was turned away: the holder reports play.waiting.
    void requestWaiting();
    bool waitingRequested() const;
    void clearWaiting();

private:
    DeviceLock(int fd, void* page, std::string path);
    int fd_;
    void* page_;
    std::string path_;
    bool held_ = false;
};

}  // namespace zef::audio
