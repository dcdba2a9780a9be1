// The virtual clock that paces the file and null devices, and the null
// device itself, which plays in time and keeps nothing.
#include <cmath>

#include "zefaudio_backend.h"

namespace zef::audio {

int PacedSink::setFormat(const Format& f, std::string&) {
    format_ = f;
    idle_ = true;
    return 0;
}

long PacedSink::write(const uint8_t* frames, size_t count, std::string& why) {
    Clock::time_point now = Clock::now();
    if (idle_) {
        anchor_ = now;
        anchorTaken_ = taken_;
        idle_ = false;
    }
    double elapsed = std::chrono::duration<double>(now - anchor_).count();
    uint64_t due = anchorTaken_ + uint64_t(elapsed * framesPerSecond());
    size_t n = due > taken_ ? size_t(std::min<uint64_t>(count, due - taken_)) : 0;
    if (n == 0) return 0;
    if (int err = render(frames, n, why)) return -err;
    taken_ += n;
    return long(n);
}

Clock::time_point PacedSink::nextWake(size_t want) {
    if (idle_) return Clock::now();
    uint64_t target = taken_ + std::max<size_t>(want, 1) - anchorTaken_;
    // Rounded up, plus a microsecond, so that the frames are surely due then.
    auto ns = std::chrono::nanoseconds(int64_t(std::ceil(double(target) * 1e9 / framesPerSecond())));
    return anchor_ + ns + std::chrono::microseconds(1);
}

double PacedSink::seconds(size_t frames) const { return double(frames) / framesPerSecond(); }

namespace {

class NullSink : public PacedSink {
public:
    using PacedSink::PacedSink;

protected:
    int render(const uint8_t*, size_t, std::string&) override { return 0; }
};

}  // namespace

std::unique_ptr<Sink> openNullSink(double speed, const Format& f, std::string&) {
    return std::make_unique<NullSink>(speed, f);
}

}  // namespace zef::audio
