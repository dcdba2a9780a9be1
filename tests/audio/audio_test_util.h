// Helpers shared by the audio device tests.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "zefaudio.h"

namespace zefaudio_test {

// The device lock files and sound files of a test process (and of the probes
// it starts) go to a directory of its own, removed at exit, so that test runs
// leave nothing behind and never meet a device of another run.
struct ScratchRuntimeDir {
    std::string dir;
    ScratchRuntimeDir() {
        char tmpl[] = "/tmp/zefaudio-test-XXXXXX";
        if (mkdtemp(tmpl)) {
            dir = tmpl;
            setenv("XDG_RUNTIME_DIR", tmpl, 1);
        }
    }
    ~ScratchRuntimeDir() {
        std::error_code ignored;
        if (!dir.empty()) std::filesystem::remove_all(dir, ignored);
    }
};
inline ScratchRuntimeDir scratchRuntimeDir;

// A device name of its own for each test and process, so that tests can run
// side by side without finding each other's device busy.
inline std::string uniqueName() {
    const auto* t = ::testing::UnitTest::GetInstance()->current_test_info();
    return std::string(t->test_suite_name()) + "-" + t->name() + "-" + std::to_string(getpid());
}

inline std::string nullDevice(int speed = 50) {
    return "null:" + uniqueName() + ",speed=" + std::to_string(speed);
}

// A fresh directory for the test's files.
inline std::string tempDir() {
    std::string tmpl = scratchRuntimeDir.dir + "/files-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    const char* dir = mkdtemp(buf.data());
    EXPECT_NE(dir, nullptr);
    return dir ? dir : "/tmp";
}

inline int openDevice(const std::string& device) {
    return zefAudioOpen(device.c_str(), O_WRONLY | O_NONBLOCK);
}

inline audio_info getInfo(int fd) {
    audio_info info;
    std::memset(&info, 0, sizeof info);
    EXPECT_EQ(zefAudioGetInfo(fd, &info), 0) << strerror(errno);
    return info;
}

inline int setPlay(int fd, const std::function<void(audio_prinfo&)>& change) {
    audio_info info;
    AUDIO_INITINFO(&info);
    change(info.play);
    return zefAudioSetInfo(fd, &info);
}

inline void writeAll(int fd, const std::vector<uint8_t>& pcm) {
    ASSERT_EQ(zefAudioWrite(fd, pcm.data(), pcm.size()), ssize_t(pcm.size())) << strerror(errno);
}

inline void marker(int fd) { ASSERT_EQ(zefAudioWrite(fd, nullptr, 0), 0) << strerror(errno); }

// 16-bit samples v, v+step, ... in host order.
inline std::vector<uint8_t> ramp16(size_t samples, int16_t start, int16_t step = 1) {
    std::vector<uint8_t> out(samples * 2);
    for (size_t i = 0; i < samples; ++i) {
        int16_t s = int16_t(start + int(i) * step);
        std::memcpy(&out[2 * i], &s, 2);
    }
    return out;
}

// Polls the device state until `done` holds; checks `always` on every state seen.
inline bool waitInfo(int fd, const std::function<bool(const audio_info&)>& done,
                     const std::function<void(const audio_info&)>& always = {},
                     std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        audio_info info = getInfo(fd);
        if (always) always(info);
        if (done(info)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

inline std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace zefaudio_test
