// The audio device as the tests drive it: devices of a test's own, the play
// state, and waiting on it.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "support.h"
#include "zefaudio.h"

namespace audiotest {

using zeftest::Bytes;

// Lock files go to a scratch directory: runs never meet each other's devices.
inline zeftest::ScratchDir runtimeDir;
inline const bool runtimeDirSet = setenv("XDG_RUNTIME_DIR", runtimeDir.dir().c_str(), 1) == 0;

inline std::string nullDevice(int speed = 50) {
    const auto* t = ::testing::UnitTest::GetInstance()->current_test_info();
    return "null:" + std::string(t->test_suite_name()) + "-" + t->name() + "-" + std::to_string(getpid()) +
           ",speed=" + std::to_string(speed);
}

inline int openDevice(const std::string& device, int flags = O_WRONLY) { return zefAudioOpen(device.c_str(), flags); }

inline audio_info getInfo(int fd) {
    audio_info info{};
    EXPECT_EQ(zefAudioGetInfo(fd, &info), 0) << strerror(errno);
    return info;
}
// The play state of the device that ZEFAUDIO names, through its control side.
inline audio_prinfo devicePlay() {
    int ctl = zefAudioOpenCtl();
    audio_prinfo p = getInfo(ctl).play;
    return zefAudioClose(ctl), p;
}

// The file device, sped up, as the device that ZEFAUDIO names.
struct FileDevice {
    zeftest::ScratchDir dir;
    std::string path = dir.path("played.wav");
    explicit FileDevice(int speed) { setenv("ZEFAUDIO", ("file:" + path + ",speed=" + std::to_string(speed)).c_str(), 1); }
    ~FileDevice() { unsetenv("ZEFAUDIO"); }
};

// Changes the fields that `change` sets, on the play or the record side.
inline int setSide(int fd, bool record, const std::function<void(audio_prinfo&)>& change) {
    audio_info info;
    AUDIO_INITINFO(&info);
    change(record ? info.record : info.play);
    return zefAudioSetInfo(fd, &info);
}
inline int setPlay(int fd, const std::function<void(audio_prinfo&)>& change) { return setSide(fd, false, change); }

// The call fails as the system calls do: -1 with errno `err`.
#define EXPECT_FAILS(call, err) EXPECT_TRUE((call) == -1 && errno == (err)) << #call << ": " << strerror(errno) << " "

inline void writeAll(int fd, const Bytes& pcm) { ASSERT_EQ(zefAudioWrite(fd, pcm.data(), pcm.size()), ssize_t(pcm.size())); }
inline void marker(int fd) { ASSERT_EQ(zefAudioWrite(fd, nullptr, 0), 0); }

inline Bytes ramp16(size_t n, int start = 0, int step = 1) {
    zeftest::Samples s(n);
    for (size_t i = 0; i < n; ++i) s[i] = int16_t(start + int(i) * step);
    return zeftest::bytes16(s);
}

// Polls until `done` holds (false after 5 s); `each` sees every state.
inline bool waitInfo(int fd, const std::function<bool(const audio_info&)>& done,
                     const std::function<void(const audio_info&)>& each = {}) {
    for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5); std::chrono::steady_clock::now() < end;) {
        audio_info info = getInfo(fd);
        if (each) each(info);
        if (done(info)) return true;
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return false;
}
inline bool waitEof(int fd, uint32_t eof) { return waitInfo(fd, [&](const audio_info& i) { return i.play.eof == eof; }); }

// A WAVE file's PCM, as far as its header says (none before it is completed).
inline Bytes waveData(const std::string& path) {
    Bytes f = zeftest::readFile(path);
    size_t at = f.size() >= 44 ? zeftest::waveDataOffset(f) : 0;
    size_t size = at ? size_t(f[at - 4] | f[at - 3] << 8 | f[at - 2] << 16 | f[at - 1] << 24) : 0;
    return at && at + size <= f.size() ? Bytes(f.begin() + long(at), f.begin() + long(at + size)) : Bytes();
}

}  // namespace audiotest
