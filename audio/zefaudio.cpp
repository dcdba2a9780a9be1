// The device: handles, the play state record, the queue of sound and
// markers, and the one driver thread that moves the queue into a sink.
//
// The queue holds every frame written and not yet heard.  The first
// `fedFrames_` of them have been handed to the sink; they leave the queue
// only once the sink says they were heard, so a sink that has to drop its
// buffer (pause without hardware pause, flush) loses nothing.  Markers are
// stream positions: a marker counts in play.eof when the play position has
// reached it, never before.
#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "zefaudio_backend.h"

namespace zef::audio {

namespace {

constexpr uint32_t kKeep32 = 0xffffffffu;
constexpr uint8_t kKeep8 = 0xff;
constexpr size_t kMaxQueueBytes = size_t(32) << 20;
constexpr auto kLongestNap = std::chrono::milliseconds(10);
constexpr auto kShortestNap = std::chrono::microseconds(200);
constexpr uint32_t kAllPorts = AUDIO_SPEAKER | AUDIO_HEADPHONE | AUDIO_LINE_OUT;

void report(const std::string& why) {
    if (!why.empty()) fprintf(stderr, "zefaudio: %s\n", why.c_str());
}

// A wrong ZEFAUDIO value is the same mistake at every open (a control
// handle and then the device): it is said once.
void reportBadName(const std::string& why) {
    static std::mutex m;
    static std::string last;
    std::lock_guard lk(m);
    if (why == last) return;
    last = why;
    report(why);
}

// A gain written as a negative int (a volume step below 0) means 0, not 255.
uint32_t clampGain(uint32_t v) {
    int32_t s = int32_t(v);
    return s < 0 ? 0 : std::min<uint32_t>(uint32_t(s), AUDIO_MAX_GAIN);
}
uint8_t clampBalance(uint8_t v) { return std::min(v, AUDIO_RIGHT_BALANCE); }
uint8_t flag(uint8_t v) { return v ? 1 : 0; }

Format formatOf(const audio_prinfo& p) { return {p.sample_rate, p.channels, p.precision, p.encoding}; }

Format requestedFormat(const audio_prinfo& now, const audio_prinfo& req) {
    auto pick = [](uint32_t r, uint32_t n) { return r != kKeep32 ? r : n; };
    return {pick(req.sample_rate, now.sample_rate), pick(req.channels, now.channels),
            pick(req.precision, now.precision), pick(req.encoding, now.encoding)};
}

void setFormatFields(audio_prinfo& p, const Format& f) {
    p.sample_rate = f.rate;
    p.channels = f.channels;
    p.precision = f.precision;
    p.encoding = f.encoding;
}

// Settings that the device keeps from one open to the next.
void applySettings(audio_info& dst, const audio_info& src) {
    for (auto [d, s] : {std::pair{&dst.play, &src.play}, std::pair{&dst.record, &src.record}}) {
        if (s->gain != kKeep32) d->gain = clampGain(s->gain);
        if (s->port != kKeep32) d->port = s->port & kAllPorts;
        if (s->balance != kKeep8) d->balance = clampBalance(s->balance);
    }
    if (src.monitor_gain != kKeep32) dst.monitor_gain = clampGain(src.monitor_gain);
}

void applyCounters(audio_prinfo& d, const audio_prinfo& s) {
    if (s.samples != kKeep32) d.samples = s.samples;
    if (s.eof != kKeep32) d.eof = s.eof;
    if (s.error != kKeep8) d.error = flag(s.error);
    if (s.waiting != kKeep8) d.waiting = flag(s.waiting);
}

// True when `req` changes nothing but the settings kept between opens
// (open and active are read only and never count).
bool onlySettings(audio_info req) {
    for (auto* p : {&req.play, &req.record}) {
        p->gain = p->port = kKeep32;
        p->balance = p->open = p->active = kKeep8;
    }
    req.monitor_gain = kKeep32;
    audio_info none;
    AUDIO_INITINFO(&none);
    return std::memcmp(&req, &none, sizeof req) == 0;
}

audio_info freshInfo(const DeviceLock* lock) {
    audio_info info{};
    Format f;
    for (auto* p : {&info.play, &info.record}) {
        setFormatFields(*p, f);
        p->balance = AUDIO_MID_BALANCE;
    }
    info.play.gain = 127;
    info.record.gain = AUDIO_MAX_GAIN;  // a recording takes what the source gives
    info.play.port = kAllPorts;
    audio_info last;
    if (lock && lock->readState(last)) applySettings(info, last);  // clamps what it reads
    return info;
}

// True when a device's state holds no setting that the next open would not
// start with anyway: its lock file can go when the holder closes.
bool keepsNothing(const audio_info& info) {
    const audio_info fresh = freshInfo(nullptr);
    for (auto [a, b] : {std::pair{&info.play, &fresh.play}, std::pair{&info.record, &fresh.record}})
        if (a->gain != b->gain || a->port != b->port || a->balance != b->balance) return false;
    return info.monitor_gain == fresh.monitor_gain;
}

class Device {
public:
    Device(std::unique_ptr<DeviceLock> lock, std::unique_ptr<Sink> sink, const audio_info& info)
        : lock_(std::move(lock)), sink_(std::move(sink)), info_(info), format_(formatOf(info.play)) {
        info_.play.open = 1;
        lock_->clearWaiting();
        sink_->setLevel(info_.play.gain, info_.play.balance);
        lock_->publish(info_);
        thread_ = std::thread([this] { run(); });
    }

    ~Device() {
        if (!closed_) {
            std::string why;
            stopThread();
            sink_->finish(why);
        }
    }

    int write(const uint8_t* data, size_t n) {
        std::lock_guard lk(m_);
        if (closed_) return EBADF;
        if (failed_) return EIO;
        if (n == 0) {
            markers_.push_back(position_ + queuedFrames());
        } else {
            if (queuedBytes_ + partial_.size() + n > kMaxQueueBytes) return EAGAIN;
            enqueue(data, n);
        }
        kick();
        return 0;
    }

    void getInfo(audio_info& out) {
        std::lock_guard lk(m_);
        out = view();
    }

    int setInfo(audio_info& io) {
        std::lock_guard lk(m_);
        if (closed_) return EBADF;
        Format want = requestedFormat(info_.play, io.play);
        Format rec = requestedFormat(info_.record, io.record);
        if (!checkFormat(want).empty() || !checkFormat(rec).empty()) return EINVAL;
        if (want != format_) {
            if (failed_) return EIO;
            if (queuedBytes_ > 0 || !partial_.empty()) return EBUSY;
            std::string why;
            if (int err = sink_->setFormat(want, why)) {
                report(why);
                return err;
            }
            format_ = want;
            setFormatFields(info_.play, want);
        }
        setFormatFields(info_.record, rec);
        if (io.play.pause != kKeep8) setPause(flag(io.play.pause));
        if (io.record.pause != kKeep8) info_.record.pause = flag(io.record.pause);
        applySettings(info_, io);
        applyCounters(info_.play, io.play);
        applyCounters(info_.record, io.record);
        if (io.play.waiting == 0) lock_->clearWaiting();
        sink_->setLevel(info_.play.gain, info_.play.balance);
        io = view();
        lock_->publish(io);
        kick();
        return 0;
    }

    int flush() {
        std::lock_guard lk(m_);
        if (closed_) return EBADF;
        if (!failed_) {
            collect();
            sink_->drop();
            sink_->starve();
        }
        chunks_.clear();
        headOff_ = 0;
        queuedBytes_ = 0;
        partial_.clear();
        fedFrames_ = 0;
        markers_.clear();
        kick();
        return 0;
    }

    // Plays out what is queued unless paused or failed, then lets go.
    int close() {
        std::unique_lock lk(m_);
        if (closed_) return EBADF;
        int result = 0;
        if (!failed_ && !info_.play.pause && queuedBytes_ > 0) {
            double due = sink_->seconds(queuedFrames()) * 1.5 + 2.0;
            auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                               std::chrono::duration<double>(due));
            progress_.wait_until(lk, deadline, [&] { return queuedBytes_ == 0 || failed_; });
            if (queuedBytes_ > 0 && !failed_) {
                fprintf(stderr, "zefaudio: the device stopped playing; %zu frames were lost\n",
                        queuedFrames());
                result = EIO;
            }
        }
        if (failed_) result = EIO;
        lk.unlock();
        stopThread();
        lk.lock();
        std::string why;
        if (sink_->finish(why) != 0) {
            report(why);
            result = EIO;
        }
        closed_ = true;
        info_.play.open = info_.play.active = info_.play.pause = info_.play.waiting = 0;
        lock_->clearWaiting();
        lock_->publish(info_);
        lock_->release(keepsNothing(info_));
        return result;
    }

    void turnedAway() { lock_->requestWaiting(); }

private:
    size_t frameBytes() const { return format_.frameBytes(); }
    bool active() const { return !failed_ && !info_.play.pause && queuedBytes_ > 0; }
    size_t queuedFrames() const { return queuedBytes_ / frameBytes(); }
    void kick() {
        kicked_ = true;
        wake_.notify_one();
    }

    audio_info view() const {
        audio_info v = info_;
        v.play.active = active();
        if (lock_->waitingRequested()) v.play.waiting = 1;
        return v;
    }

    // Whole frames go to the queue; a trailing part frame waits for the rest.
    void enqueue(const uint8_t* data, size_t n) {
        std::vector<uint8_t> chunk;
        chunk.reserve(partial_.size() + n);
        chunk.insert(chunk.end(), partial_.begin(), partial_.end());
        chunk.insert(chunk.end(), data, data + n);
        size_t whole = chunk.size() / frameBytes() * frameBytes();
        partial_.assign(chunk.begin() + long(whole), chunk.end());
        chunk.resize(whole);
        if (whole == 0) return;
        queuedBytes_ += whole;
        chunks_.push_back(std::move(chunk));
    }

    void popFrames(size_t frames) {
        size_t bytes = frames * frameBytes();
        queuedBytes_ -= bytes;
        while (bytes > 0) {
            size_t take = std::min(bytes, chunks_.front().size() - headOff_);
            headOff_ += take;
            bytes -= take;
            if (headOff_ == chunks_.front().size()) {
                chunks_.pop_front();
                headOff_ = 0;
            }
        }
    }

    void setPause(uint8_t on) {
        if (on == info_.play.pause) return;
        if (!failed_) {
            if (on) collect();
            sink_->pause(on);
            reconcile();
        }
        info_.play.pause = on;
    }

    // The reason is reported once; callers see EIO from now on.
    void fail(const std::string& why) {
        if (failed_) return;
        failed_ = true;
        info_.play.error = 1;
        report(why);
        progress_.notify_all();
    }

    // Hands the sink as many unfed frames as it takes.
    void feed() {
        size_t fb = frameBytes();
        size_t skip = fedFrames_ * fb;
        size_t total = queuedFrames();
        for (size_t i = 0; i < chunks_.size() && fedFrames_ < total; ++i) {
            size_t begin = i == 0 ? headOff_ : 0;
            size_t len = chunks_[i].size() - begin;
            if (skip >= len) {
                skip -= len;
                continue;
            }
            begin += skip;
            len -= skip;
            skip = 0;
            std::string why;
            long took = sink_->write(chunks_[i].data() + begin, len / fb, why);
            if (took < 0) return fail(why);
            fedFrames_ += size_t(took);
            if (size_t(took) < len / fb) return;
        }
    }

    // Takes what the sink has played out of the queue and counts markers.
    void collect() {
        std::string why;
        long long heard = sink_->played(why);
        if (heard < 0) return fail(why);
        size_t played = size_t(std::clamp<long long>(heard - sinkPlayed_, 0, (long long)fedFrames_));
        sinkPlayed_ = heard;
        if (played > 0) {
            popFrames(played);
            fedFrames_ -= played;
            position_ += played;
            info_.play.samples += uint32_t(played);
        }
        bool markerHere = false;
        while (!markers_.empty() && markers_.front() <= position_) {
            markerHere = markers_.front() == position_;
            ++info_.play.eof;
            markers_.pop_front();
        }
        if (played > 0 && queuedBytes_ == 0 && !markerHere) info_.play.error = 1;  // ran dry
        reconcile();
    }

    // Frames the sink dropped unheard are fed again from the queue.
    void reconcile() {
        fedFrames_ = std::min<size_t>(fedFrames_, size_t(std::max<long long>(sink_->pending(), 0)));
    }

    size_t framesToNextEvent() const {
        size_t n = queuedFrames();
        if (!markers_.empty()) n = std::min<size_t>(n, markers_.front() - position_);
        return n;
    }

    void run() {
        std::unique_lock lk(m_);
        while (!stopping_) {
            kicked_ = false;
            bool playing = !failed_ && !info_.play.pause;
            if (playing) {
                feed();
                if (!failed_) collect();
                if (!failed_ && queuedBytes_ == 0) sink_->starve();
            }
            lock_->publish(view());
            progress_.notify_all();
            auto woken = [&] { return stopping_ || kicked_; };
            if (!active()) {
                wake_.wait(lk, woken);
            } else {
                auto now = Clock::now();
                auto at = std::clamp(sink_->nextWake(framesToNextEvent()), now + kShortestNap,
                                     now + kLongestNap);
                wake_.wait_until(lk, at, woken);
            }
        }
    }

    void stopThread() {
        {
            std::lock_guard lk(m_);
            stopping_ = true;
            wake_.notify_one();
        }
        if (thread_.joinable()) thread_.join();
    }

    std::unique_ptr<DeviceLock> lock_;
    std::unique_ptr<Sink> sink_;
    std::mutex m_;
    std::condition_variable wake_;      // to the driver thread
    std::condition_variable progress_;  // to a close waiting for the queue to play out
    audio_info info_;
    Format format_;
    std::deque<std::vector<uint8_t>> chunks_;
    size_t headOff_ = 0;       // bytes of chunks_.front() already heard
    size_t queuedBytes_ = 0;   // whole frames not yet heard, in bytes
    std::vector<uint8_t> partial_;
    size_t fedFrames_ = 0;     // of the queued frames, handed to the sink
    long long sinkPlayed_ = 0;
    uint64_t position_ = 0;    // frames heard since open
    std::deque<uint64_t> markers_;
    bool kicked_ = false;
    bool stopping_ = false;
    bool failed_ = false;
    bool closed_ = false;
    std::thread thread_;
};

// The recording side: reads are served straight from the source in the
// caller's thread, so capture needs no thread of its own.
class Capture {
public:
    Capture(std::unique_ptr<DeviceLock> lock, std::unique_ptr<Source> source, const audio_info& info)
        : lock_(std::move(lock)), source_(std::move(source)), info_(info) {
        setFormatFields(info_.record, source_->format());
        info_.record.open = 1;
        lock_->clearWaiting();
        lock_->publish(view());
    }

    // 0 with `got` bytes (0 at the end of the source), or an errno value.
    int read(uint8_t* buf, size_t n, size_t& got) {
        std::lock_guard lk(m_);
        got = 0;
        if (closed_) return EBADF;
        if (failed_) return EIO;
        Format f = source_->format();
        size_t frames = n / f.frameBytes();
        if (frames == 0) return EINVAL;  // less than one sample frame
        if (ended_) return 0;
        if (info_.record.pause) return EAGAIN;
        std::string why;
        bool ended = false;
        long took = source_->read(buf, frames, ended, why);
        if (took < 0) return fail(why);
        ended_ = ended;
        if (took == 0) return ended_ ? 0 : EAGAIN;
        applyGain(buf, size_t(took), f, info_.record.gain, AUDIO_MID_BALANCE);
        info_.record.samples += uint32_t(took);
        got = size_t(took) * f.frameBytes();
        lock_->publish(view());
        return 0;
    }

    void getInfo(audio_info& out) {
        std::lock_guard lk(m_);
        out = view();
    }

    // Only the record part and the settings kept between opens take effect.
    int setInfo(audio_info& io) {
        std::lock_guard lk(m_);
        if (closed_) return EBADF;
        Format want = requestedFormat(info_.record, io.record);
        if (std::string bad = checkFormat(want); !bad.empty()) return EINVAL;
        if (want != source_->format()) {
            if (failed_) return EIO;
            std::string why;
            if (int err = source_->setFormat(want, why)) {
                report(why);
                return err;
            }
            setFormatFields(info_.record, want);
        }
        if (io.record.pause != kKeep8 && flag(io.record.pause) != info_.record.pause) {
            info_.record.pause = flag(io.record.pause);
            if (!failed_) source_->pause(info_.record.pause);
        }
        applySettings(info_, io);
        applyCounters(info_.record, io.record);
        if (io.record.waiting == 0) lock_->clearWaiting();
        io = view();
        lock_->publish(io);
        return 0;
    }

    void mergeRecord(audio_info& out) {
        std::lock_guard lk(m_);
        out.record = view().record;
    }

    int close() {
        std::lock_guard lk(m_);
        if (closed_) return EBADF;
        closed_ = true;
        source_.reset();
        info_.record.open = info_.record.active = info_.record.pause = info_.record.waiting = 0;
        lock_->clearWaiting();
        lock_->publish(info_);
        lock_->release(keepsNothing(info_));
        return failed_ ? EIO : 0;
    }

    void turnedAway() { lock_->requestWaiting(); }

private:
    audio_info view() const {
        audio_info v = info_;
        v.record.active = !closed_ && !failed_ && !ended_ && !info_.record.pause;
        if (lock_->waitingRequested()) v.record.waiting = 1;
        return v;
    }

    // The reason is reported once; reads give EIO from now on.
    int fail(const std::string& why) {
        if (!failed_) report(why);
        failed_ = true;
        info_.record.error = 1;
        lock_->publish(view());
        return EIO;
    }

    std::unique_ptr<DeviceLock> lock_;
    std::unique_ptr<Source> source_;
    std::mutex m_;
    audio_info info_;
    bool ended_ = false;
    bool failed_ = false;
    bool closed_ = false;
};

struct Handle {
    bool control = false;
    std::string identity;
    std::shared_ptr<Device> device;    // the play side, if open for writing
    std::shared_ptr<Capture> capture;  // the record side, if open for reading
    std::string captureIdentity;
};

struct Registry {
    std::mutex m;
    std::map<int, Handle> handles;
    std::map<std::string, std::weak_ptr<Device>> live;
    std::map<std::string, std::weak_ptr<Capture>> liveCapture;
    int next = 3;
};

int fail(int err) {
    errno = err;
    return -1;
}

Registry& registry() {
    static Registry r;
    return r;
}

std::string fromEnvironment(const char* name) {
    const char* env = getenv(name);
    return env && *env ? env : "alsa";
}

// "/dev/audio" and "/dev/audioctl" mean the device ZEFAUDIO names,
// "/dev/audioinctl" the capture device that ZEFAUDIO_IN names.
bool resolve(const char* path, DeviceChoice& choice, bool& control, std::string& why) {
    std::string p = path ? path : "";
    bool input = p == ZEFAUDIO_IN_CTL_DEVICE;
    control = p == ZEFAUDIO_CTL_DEVICE || input;
    if (p.empty() || p == ZEFAUDIO_DEVICE || control) p = fromEnvironment(input ? "ZEFAUDIO_IN" : "ZEFAUDIO");
    if (!parseDeviceChoice(p, choice, why)) return false;
    choice.input = input;
    return true;
}

// The capture device of a handle opened for reading: ZEFAUDIO_IN for
// "/dev/audio" and for every read-write open, else the device named.
bool resolveInput(const char* path, bool readWrite, DeviceChoice& choice, std::string& why) {
    std::string p = path ? path : "";
    if (readWrite || p.empty() || p == ZEFAUDIO_DEVICE) p = fromEnvironment("ZEFAUDIO_IN");
    if (!parseDeviceChoice(p, choice, why)) return false;
    choice.input = true;
    return true;
}

std::unique_ptr<Source> openSource(const DeviceChoice& choice, const Format& f, std::string& why) {
    switch (choice.kind) {
    case DeviceChoice::Kind::Alsa: return openAlsaSource(choice.arg, f, why);
    case DeviceChoice::Kind::File: return openFileSource(choice.arg, choice.speed, why);
    case DeviceChoice::Kind::Null: return openNullSource(choice.speed, f, why);
    }
    return nullptr;
}

std::unique_ptr<Sink> openSink(const DeviceChoice& choice, const Format& f, std::string& why) {
    switch (choice.kind) {
    case DeviceChoice::Kind::Alsa: return openAlsaSink(choice.arg, f, why);
    case DeviceChoice::Kind::File: return openFileSink(choice.arg, choice.speed, f, why);
    case DeviceChoice::Kind::Null: return openNullSink(choice.speed, f, why);
    }
    return nullptr;
}

int addHandle(Registry& r, Handle h) {
    if (r.next == INT_MAX) return fail(EMFILE);  // numbers are never reused
    int id = r.next++;
    r.handles[id] = std::move(h);
    return id;
}

bool lookup(int fd, Handle& out) {
    Registry& r = registry();
    std::lock_guard lk(r.m);
    auto it = r.handles.find(fd);
    if (it == r.handles.end()) return false;
    out = it->second;
    if (out.control) {
        auto live = r.live.find(out.identity);
        if (live != r.live.end()) out.device = live->second.lock();
    }
    return true;
}

int openControl(const DeviceChoice& choice) {
    Registry& r = registry();
    std::lock_guard lk(r.m);
    Handle h;
    h.control = true;
    h.identity = choice.identity();
    return addHandle(r, std::move(h));
}

// The state of a device that this process does not hold.
int readControl(const std::string& identity, audio_info& out) {
    std::string why;
    auto lock = DeviceLock::openExisting(identity, why);
    out = freshInfo(lock.get());
    out.play.open = 0;
    if (!lock) {
        if (why.empty()) return 0;  // never used: what an open would start with
        int err = errno;
        report(why);
        return err;
    }
    bool held = lock->heldElsewhere();
    audio_info published;
    if (lock->readState(published)) {
        out = published;
    } else if (held) {
        return EAGAIN;
    }
    if (held) {
        if (lock->waitingRequested()) out.play.waiting = 1;
    } else {
        out.play.open = out.play.active = out.play.pause = out.play.waiting = 0;
    }
    return 0;
}

// Without a session only the settings kept between opens can change.
int setControl(const std::string& identity, audio_info& io) {
    if (!onlySettings(io)) return ENXIO;
    std::string why;
    auto lock = DeviceLock::open(identity, why);
    if (!lock) {
        int err = errno;
        report(why);
        return err;
    }
    if (!lock->tryExclusive()) return EBUSY;
    audio_info state;
    if (!lock->readState(state)) state = freshInfo(nullptr);
    state.play.open = state.play.active = state.play.pause = state.play.waiting = 0;
    applySettings(state, io);
    lock->publish(state);
    io = state;
    return 0;
}

}  // namespace
}  // namespace zef::audio

using namespace zef::audio;

namespace zef::audio {
namespace {

// One side of a device under the registry's mutex: the play side (a Device
// over a Sink) or the record side (a Capture over a Source), each with its
// own table of live handles.  Null with errno set.
template <class Side, class OpenEnd>
std::shared_ptr<Side> openSide(std::map<std::string, std::weak_ptr<Side>>& liveSides, const DeviceChoice& choice,
                               audio_prinfo audio_info::*half, OpenEnd openEnd) {
    std::string why;
    std::string identity = choice.identity();
    auto live = liveSides.find(identity);
    if (auto held = live == liveSides.end() ? nullptr : live->second.lock()) {
        held->turnedAway();
        return errno = EBUSY, nullptr;
    }
    auto lock = DeviceLock::open(identity, why);
    if (!lock) {
        int err = errno;
        report(why);
        return errno = err, nullptr;
    }
    if (!lock->tryExclusive()) {
        lock->requestWaiting();
        return errno = EBUSY, nullptr;
    }
    audio_info info = freshInfo(lock.get());
    auto end = openEnd(choice, formatOf(info.*half), why);
    if (!end) {
        int err = errno;
        lock->release(keepsNothing(info));
        report(why);
        return errno = err, nullptr;
    }
    auto side = std::make_shared<Side>(std::move(lock), std::move(end), info);
    liveSides[identity] = side;
    return side;
}

std::shared_ptr<Device> openPlaySide(Registry& r, const DeviceChoice& choice) {
    return openSide(r.live, choice, &audio_info::play, openSink);
}

std::shared_ptr<Capture> openRecordSide(Registry& r, const DeviceChoice& choice) {
    return openSide(r.liveCapture, choice, &audio_info::record, openSource);
}

}  // namespace
}  // namespace zef::audio

int zefAudioOpen(const char* path, int flags) {
    DeviceChoice choice;
    bool control = false;
    std::string why;
    if (!resolve(path, choice, control, why)) {
        reportBadName(why);
        return fail(EINVAL);
    }
    if (control) return openControl(choice);
    int access = flags & O_ACCMODE;
    if (access != O_WRONLY && access != O_RDWR && access != O_RDONLY) return fail(EINVAL);

    Registry& r = registry();
    std::lock_guard lk(r.m);
    Handle h;
    if (access != O_RDONLY) {
        h.identity = choice.identity();
        if (!(h.device = openPlaySide(r, choice))) return -1;
    }
    if (access != O_WRONLY) {
        DeviceChoice input;
        bool ok = resolveInput(path, access == O_RDWR, input, why);
        if (ok) h.captureIdentity = input.identity();
        if (!ok || !(h.capture = openRecordSide(r, input))) {
            int err = ok ? errno : EINVAL;
            if (ok) report(why);
            else reportBadName(why);
            if (h.device) {
                r.live.erase(h.identity);
                h.device->close();
            }
            return fail(err);
        }
    }
    return addHandle(r, std::move(h));
}

int zefAudioOpenCtl(const char* path) {
    DeviceChoice choice;
    bool control = false;
    std::string why;
    if (!resolve(path ? path : ZEFAUDIO_CTL_DEVICE, choice, control, why)) {
        reportBadName(why);
        return fail(EINVAL);
    }
    return openControl(choice);
}

ssize_t zefAudioWrite(int fd, const void* buf, size_t n) {
    Handle h;
    if (!lookup(fd, h) || h.control || !h.device) return fail(EBADF);
    if (n > size_t(SSIZE_MAX)) return fail(EINVAL);
    if (n > 0 && !buf) return fail(EFAULT);
    if (int err = h.device->write(static_cast<const uint8_t*>(buf), n)) return fail(err);
    return ssize_t(n);
}

ssize_t zefAudioRead(int fd, void* buf, size_t n) {
    Handle h;
    if (!lookup(fd, h) || h.control || !h.capture) return fail(EBADF);
    if (n > size_t(SSIZE_MAX)) return fail(EINVAL);
    if (n == 0) return 0;
    if (!buf) return fail(EFAULT);
    size_t got = 0;
    if (int err = h.capture->read(static_cast<uint8_t*>(buf), n, got)) return fail(err);
    return ssize_t(got);
}

int zefAudioGetInfo(int fd, audio_info* info) {
    Handle h;
    if (!lookup(fd, h)) return fail(EBADF);
    if (!info) return fail(EFAULT);
    if (h.device || h.capture) {
        if (h.device) h.device->getInfo(*info);
        else h.capture->getInfo(*info);
        if (h.device && h.capture) h.capture->mergeRecord(*info);
        return 0;
    }
    audio_info out;
    if (int err = readControl(h.identity, out)) return fail(err);
    *info = out;
    return 0;
}

int zefAudioSetInfo(int fd, audio_info* info) {
    Handle h;
    if (!lookup(fd, h)) return fail(EBADF);
    if (!info) return fail(EFAULT);
    if (!h.device && !h.capture) {
        int err = setControl(h.identity, *info);
        return err ? fail(err) : 0;
    }
    // The record part first: a source refuses formats it cannot deliver.
    audio_info play = *info;
    if (h.capture) {
        if (h.device) {
            std::memset(&play.record, 0xff, sizeof play.record);
            std::memset(&info->play, 0xff, sizeof info->play);
        }
        if (int err = h.capture->setInfo(*info)) return fail(err);
    }
    if (h.device) {
        audio_info recorded = *info;
        if (int err = h.device->setInfo(play)) return fail(err);
        if (h.capture) play.record = recorded.record;
        *info = play;
    }
    return 0;
}

int zefAudioFlush(int fd) {
    Handle h;
    if (!lookup(fd, h) || h.control || !h.device) return fail(EBADF);
    int err = h.device->flush();
    return err ? fail(err) : 0;
}

int zefAudioClose(int fd) {
    std::shared_ptr<Device> device;
    std::shared_ptr<Capture> capture;
    {
        Registry& r = registry();
        std::lock_guard lk(r.m);
        auto it = r.handles.find(fd);
        if (it == r.handles.end()) return fail(EBADF);
        if (!it->second.control) {
            device = it->second.device;
            capture = it->second.capture;
            if (device) r.live.erase(it->second.identity);
            if (capture) r.liveCapture.erase(it->second.captureIdentity);
        }
        r.handles.erase(it);
    }
    int err = capture ? capture->close() : 0;
    if (device) {
        int played = device->close();
        if (!err) err = played;
    }
    return err ? fail(err) : 0;
}
