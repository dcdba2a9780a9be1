// A private X server for each test: XvfbTest starts its own Xvfb, which picks
// a free display number itself (-displayfd), points DISPLAY at it for the
// test and its child processes, and kills it in TearDown. Helpers run child
// processes (xdotool, peers) with time limits, pump toolkit events until a
// condition holds, and read pixels back from the server.
//
// Include it before any X header: Xlib's macros (None, Bool, Status) clash
// with names inside GoogleTest.
#ifndef ZEF_TESTS_GUI_XVFB_FIXTURE_H
#define ZEF_TESTS_GUI_XVFB_FIXTURE_H

#include <gtest/gtest.h>

#include <X11/Intrinsic.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace zeftest {

using Clock = std::chrono::steady_clock;

inline int msLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// A child process, optionally with its standard output on a pipe.
class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() { kill(); }

    bool start(const std::vector<std::string>& argv, bool captureOutput) {
        int out[2] = {-1, -1};
        if (captureOutput && pipe2(out, O_CLOEXEC) != 0) return false;
        pid_ = fork();
        if (pid_ < 0) return false;
        if (pid_ == 0) {
            if (captureOutput) dup2(out[1], STDOUT_FILENO);
            std::vector<char*> args;
            for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            execvp(args[0], args.data());
            _exit(127);
        }
        if (captureOutput) {
            close(out[1]);
            out_ = out[0];
        }
        return true;
    }

    // One line of the child's output without its line end; false on end of
    // output or when the time runs out.
    bool readLine(std::string* line, int timeoutMs) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (true) {
            const auto end = buffer_.find('\n');
            if (end != std::string::npos) {
                *line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                return true;
            }
            pollfd p{out_, POLLIN, 0};
            if (out_ < 0 || poll(&p, 1, msLeft(deadline)) <= 0) return false;
            char chunk[256];
            const ssize_t n = read(out_, chunk, sizeof chunk);
            if (n <= 0) return false;
            buffer_.append(chunk, static_cast<size_t>(n));
        }
    }

    // The exit status, or -1 if the child did not end in time (it is then
    // killed) or ended by a signal.
    int wait(int timeoutMs) {
        if (pid_ <= 0) return -1;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (msLeft(deadline) == 0) {
                kill();
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        pid_ = -1;
        closeOutput();
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    void kill() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
        closeOutput();
    }

    pid_t pid() const { return pid_; }

private:
    void closeOutput() {
        if (out_ >= 0) close(out_);
        out_ = -1;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    std::string buffer_;
};

// Runs a command to its end; its exit status, or -1 on time-out.
inline int runCommand(const std::vector<std::string>& argv, int timeoutMs = 10000) {
    ChildProcess child;
    if (!child.start(argv, false)) return -1;
    return child.wait(timeoutMs);
}

class XvfbServer {
public:
    ~XvfbServer() { stop(); }

    // Starts Xvfb and waits until it has told its display number.
    bool start(std::string* error) {
        int fds[2];
        if (pipe(fds) != 0) {
            *error = "pipe failed";
            return false;
        }
        pid_ = fork();
        if (pid_ < 0) {
            *error = "fork failed";
            return false;
        }
        if (pid_ == 0) {
            // The server goes with the test, even when the test is killed.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            close(fds[0]);
            const int quiet = open("/dev/null", O_WRONLY);
            dup2(quiet, STDOUT_FILENO);
            dup2(quiet, STDERR_FILENO);
            const std::string fd = std::to_string(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "640x480x24",
                   "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        std::string number;
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (number.find('\n') == std::string::npos) {
            pollfd p{fds[0], POLLIN, 0};
            char c[16];
            ssize_t n = 0;
            if (poll(&p, 1, msLeft(deadline)) <= 0 || (n = read(fds[0], c, sizeof c)) <= 0) {
                close(fds[0]);
                *error = "Xvfb did not report a display number";
                stop();
                return false;
            }
            number.append(c, static_cast<size_t>(n));
        }
        close(fds[0]);
        name_ = ":" + number.substr(0, number.find('\n'));
        return true;
    }

    void stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (waitpid(pid_, nullptr, WNOHANG) == 0) {
            if (msLeft(deadline) == 0) {
                ::kill(pid_, SIGKILL);
                waitpid(pid_, nullptr, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        pid_ = -1;
    }

    const std::string& name() const { return name_; }

private:
    pid_t pid_ = -1;
    std::string name_;
};

class XvfbTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(server_.start(&error)) << error;
        setenv("DISPLAY", server_.name().c_str(), 1);
    }

    void TearDown() override {
        for (Display* d : displays_) XCloseDisplay(d);
        displays_.clear();
        server_.stop();
    }

    const std::string& displayName() const { return server_.name(); }

    // A plain Xlib connection of the test's own, closed in TearDown.
    Display* openDisplay() {
        Display* d = XOpenDisplay(server_.name().c_str());
        if (d) displays_.push_back(d);
        return d;
    }

    // Serves the toolkit's events, timers and inputs until done() holds;
    // false when it does not hold within the time.
    static bool pumpUntil(XtAppContext app, const std::function<bool()>& done,
                          int timeoutMs = 5000) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (true) {
            while (XtAppPending(app)) XtAppProcessEvent(app, XtIMAll);
            if (done()) return true;
            if (msLeft(deadline) == 0) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    // Serves events for a while, for effects that have no condition to wait on.
    static void pumpFor(XtAppContext app, int ms) {
        pumpUntil(app, [] { return false; }, ms);
    }

    // The colour on screen at (x, y) as 0xRRGGBB (the server runs 24-bit
    // TrueColor).
    static unsigned long screenPixel(Display* d, int x, int y) {
        XImage* image = XGetImage(d, DefaultRootWindow(d), x, y, 1, 1, AllPlanes, ZPixmap);
        if (!image) return ~0UL;
        const unsigned long pixel = XGetPixel(image, 0, 0) & 0xffffff;
        XDestroyImage(image);
        return pixel;
    }

    static int xdotool(const std::vector<std::string>& args) {
        std::vector<std::string> argv{"xdotool"};
        argv.insert(argv.end(), args.begin(), args.end());
        return runCommand(argv);
    }

private:
    XvfbServer server_;
    std::vector<Display*> displays_;
};

}  // namespace zeftest

#endif
