// The device between processes: one holder at a time, a control side that
// reads another process's device, and a failing device that reports it.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

#include "audio_test_util.h"

extern char** environ;

using namespace zefaudio_test;

namespace {

// The probe program, with a pipe to its stdin and one from its stdout.
class Probe {
public:
    explicit Probe(std::vector<std::string> args) {
        args.insert(args.begin(), ZEFAUDIO_PROBE);
        int in[2], out[2];
        EXPECT_EQ(pipe2(in, O_CLOEXEC), 0);
        EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        EXPECT_EQ(posix_spawn(&pid_, ZEFAUDIO_PROBE, &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        toChild_ = in[1];
        fromChild_ = out[0];
    }
    ~Probe() {
        if (pid_ > 0) finish();
    }
    std::string readLine() {
        std::string line;
        char c;
        while (read(fromChild_, &c, 1) == 1 && c != '\n') line += c;
        return line;
    }
    // Closes its stdin and returns its exit status.
    int finish() {
        if (toChild_ >= 0) close(toChild_);
        toChild_ = -1;
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        close(fromChild_);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
    int toChild_ = -1;
    int fromChild_ = -1;
};

int probeOpen(const std::string& device) { return Probe({"open", device}).finish(); }

}  // namespace

TEST(ZefAudioExclusive, SecondProcessIsTurnedAwayAtOnceUntilClose) {
    std::string device = nullDevice();
    int fd = openDevice(device);
    ASSERT_GE(fd, 0) << strerror(errno);
    EXPECT_EQ(probeOpen(device), EBUSY);
    EXPECT_EQ(getInfo(fd).play.waiting, 1);
    EXPECT_EQ(probeOpen("null:" + uniqueName() + "-other"), 0) << "other devices are free";
    ASSERT_EQ(zefAudioClose(fd), 0);
    EXPECT_EQ(probeOpen(device), 0);
    fd = openDevice(device);
    ASSERT_GE(fd, 0) << "the probe let go when it closed";
    EXPECT_EQ(getInfo(fd).play.waiting, 0) << "a new session starts without old requests";
    EXPECT_EQ(zefAudioClose(fd), 0);
}

TEST(ZefAudioExclusive, ControlSideReadsAnotherProcessesDevice) {
    std::string device = nullDevice();
    Probe holder({"hold", device, "200"});
    ASSERT_EQ(holder.readLine(), "held");

    int ctl = zefAudioOpenCtl(device.c_str());
    ASSERT_GE(ctl, 0);
    audio_info info = getInfo(ctl);
    EXPECT_EQ(info.play.open, 1);
    EXPECT_EQ(info.play.gain, 200u);
    EXPECT_EQ(info.play.pause, 1);
    EXPECT_EQ(setPlay(ctl, [](audio_prinfo& p) { p.gain = 10; }), -1);
    EXPECT_EQ(errno, EBUSY) << "another process's session is not ours to change";
    EXPECT_EQ(openDevice(device), -1);
    EXPECT_EQ(Probe({"info", device}).readLine(), "open=1 gain=200 waiting=1");

    EXPECT_EQ(holder.finish(), 0);
    info = getInfo(ctl);
    EXPECT_EQ(info.play.open, 0);
    EXPECT_EQ(info.play.gain, 200u) << "the gain stays with the device";

    // with nobody playing, the kept settings can change, nothing else
    EXPECT_EQ(setPlay(ctl, [](audio_prinfo& p) { p.balance = 10; }), 0);
    EXPECT_EQ(setPlay(ctl, [](audio_prinfo& p) { p.pause = 1; }), -1);
    EXPECT_EQ(errno, ENXIO);
    int fd = openDevice(device);
    ASSERT_GE(fd, 0);
    info = getInfo(fd);
    EXPECT_EQ(info.play.gain, 200u);
    EXPECT_EQ(info.play.balance, 10);
    EXPECT_EQ(info.play.eof, 0u);
    EXPECT_EQ(zefAudioClose(fd), 0);
    EXPECT_EQ(zefAudioClose(ctl), 0);
}

// The file grows past the process's size limit: the device fails, writes
// say so, and close reports the loss instead of waiting for ever.
TEST(ZefAudioExclusive, FailingDeviceSurfacesAsAnErrorNotAHang) {
    std::string path = tempDir() + "/limited.wav";
    Probe filler({"fill", "file:" + path + ",speed=50", "16384"});
    EXPECT_EQ(filler.readLine(), "write=" + std::to_string(EIO) + " close=" + std::to_string(EIO));
    EXPECT_EQ(filler.finish(), 0);
}
