// Helpers for the direct playback tests: a control structure that closes its
// session, the virtual devices (sped up), reference decodes, the samples of
// a WAVE file, and child processes that are never waited for in vain.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "audio_test_util.h"
#include "mirlane.h"

extern char** environ;

namespace pbtest {

using Bytes = std::vector<uint8_t>;
using zefaudio_test::tempDir;
using zefaudio_test::uniqueName;

constexpr uint32_t kZefWaveFile = ZEFTYPE_FORMAT_WAVE | ZEFTYPE_LOCATION_FILE | ZEFTYPE_QUALIFIER_ZEF;
constexpr uint32_t kZefWaveBuffer = ZEFTYPE_FORMAT_WAVE | ZEFTYPE_LOCATION_BUFFER | ZEFTYPE_QUALIFIER_ZEF;
constexpr uint32_t kPcmWaveFile = ZEFTYPE_FORMAT_WAVE | ZEFTYPE_LOCATION_FILE;
constexpr uint32_t kWaveFileOut = ZEFTYPE_FORMAT_WAVE | ZEFTYPE_LOCATION_FILE;
constexpr uint32_t kSound = ZEFTYPE_LOCATION_SOUND;

inline std::string dataFile(const char* name) { return std::string(ZEF_TEST_DATA_DIR) + "/" + name; }

// The file device, sped up, recording into a WAVE file of the test's own.
struct FileDevice {
    std::string path;
    std::string choice;
    explicit FileDevice(int speed = 50, const std::string& name = "played.wav") {
        path = tempDir() + "/" + name;
        choice = "file:" + path + ",speed=" + std::to_string(speed);
    }
    void select() const { setenv("ZEFAUDIO", choice.c_str(), 1); }
};

// A control structure as a caller fills it; a session still open at the end
// is closed.
struct Kd : KELVANE_DATA {
    Kd() {
        std::memset(static_cast<KELVANE_DATA*>(this), 0, sizeof(KELVANE_DATA));
        wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
        fWarpedLengthFactor = 1.0f;
        fAbsolutePitch = 100.0f;
    }
    ~Kd() {
        if (lpControlBlock) dcmpMirlaneCleanup(this);
    }
    Kd(const Kd&) = delete;
    Kd& operator=(const Kd&) = delete;

    void input(uint32_t type, const void* location, uint32_t size = 0) {
        dwInputType = type;
        lpInputLocation = const_cast<void*>(location);
        dwInputSize = size;
    }
    void toDevice() { dwOutputType = kSound; }
};

// A callback made of a lambda: the structure's dwUserData points at it.
using RoundFn = std::function<uint16_t(uint16_t status, KELVANE_DATA* kd)>;
inline uint16_t callRound(uint16_t, uint16_t status, void* data) {
    auto* kd = static_cast<KELVANE_DATA*>(data);
    return (*reinterpret_cast<RoundFn*>(kd->dwUserData))(status, kd);
}
inline void onRound(Kd& kd, RoundFn& fn) {
    kd.dwUserData = reinterpret_cast<uintptr_t>(&fn);
    kd.lpCallback = callRound;
}

// The sample bytes of a WAVE file's "data" chunk (empty when there is none).
inline Bytes waveData(const std::string& path) {
    Bytes f = zefaudio_test::readFile(path);
    auto le32 = [&](size_t at) {
        return uint32_t(f[at]) | uint32_t(f[at + 1]) << 8 | uint32_t(f[at + 2]) << 16 | uint32_t(f[at + 3]) << 24;
    };
    if (f.size() < 12 || std::memcmp(f.data(), "RIFF", 4) != 0) return {};
    for (size_t at = 12; at + 8 <= f.size();) {
        uint32_t size = le32(at + 4);
        if (std::memcmp(&f[at], "data", 4) == 0) {
            size_t end = std::min<size_t>(f.size(), at + 8 + size_t(size));
            return Bytes(f.begin() + long(at + 8), f.begin() + long(end));
        }
        at += 8 + size_t(size) + (size & 1);
    }
    return {};
}

inline uint16_t le16At(const Bytes& f, size_t at) { return uint16_t(f[at] | f[at + 1] << 8); }

// Decodes to a WAVE file the way zefdec does, with the same settings.
inline Bytes referenceDecode(Kd& settings, const std::string& dir) {
    std::string out = dir + "/reference.wav";
    Kd kd;
    kd.input(settings.dwInputType, settings.lpInputLocation, settings.dwInputSize);
    kd.dwOutputType = kWaveFileOut;
    kd.lpOutputLocation = const_cast<char*>(out.c_str());
    kd.wOutputBytesPerSample = settings.wOutputBytesPerSample;
    kd.dwOutputSamplingRate = settings.dwOutputSamplingRate;
    kd.fWarpedLengthFactor = settings.fWarpedLengthFactor;
    EXPECT_EQ(dcmpZefFileToFile(&kd), 0);
    return waveData(out);
}

inline void startLibrary() {
    ZEF_STARTUP startup;
    std::memset(&startup, 0, sizeof startup);
    startup.wSize = ZEF_STARTUP_SIZE;
    ASSERT_EQ(zefStartup(&startup), 0);
}

// A child process with its standard output in a pipe.  finish() waits at
// most `limit` and kills a child that takes longer: a hang fails the test
// instead of stopping the run.
class Child {
public:
    Child(const std::string& program, std::vector<std::string> args) {
        args.insert(args.begin(), program);
        int out[2];
        EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        EXPECT_EQ(posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        from_ = out[0];
    }
    ~Child() {
        if (pid_ > 0) finish();
        if (from_ >= 0) close(from_);
    }
    pid_t pid() const { return pid_; }

    // Exit status, 128 + signal when killed by one, -1 after a hang.
    int finish(std::chrono::milliseconds limit = std::chrono::seconds(30)) {
        auto deadline = std::chrono::steady_clock::now() + limit;
        int status = 0;
        pid_t done = 0;
        while ((done = waitpid(pid_, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (done == 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            pid_ = -1;
            return -1;
        }
        pid_ = -1;
        char buf[256];
        ssize_t n;
        while ((n = read(from_, buf, sizeof buf)) > 0) output_.append(buf, size_t(n));
        if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    const std::string& output() const { return output_; }

private:
    pid_t pid_ = -1;
    int from_ = -1;
    std::string output_;
};

}  // namespace pbtest
