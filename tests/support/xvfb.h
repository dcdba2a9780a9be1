// One private X server per test executable, started by the first XvfbTest
// (it picks a free display itself, -displayfd) and ended with the executable.
// Each test gets DISPLAY pointed at it and Xlib connections of its own,
// closed in TearDown; helpers run child processes with time limits, pump
// toolkit events until a condition holds, and read pixels back.
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

// Waits for pid to end, killing it when it has not within timeoutMs; its
// exit status, or -1 when killed or ended by a signal.
inline int reap(pid_t pid, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (msLeft(deadline) == 0) return ::kill(pid, SIGKILL), waitpid(pid, nullptr, 0), -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A child process, optionally with its standard output on a pipe.
class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ~ChildProcess() { kill(); }

    bool start(const std::vector<std::string>& argv, bool captureOutput) {
        int out[2] = {-1, -1};
        if (captureOutput && pipe2(out, O_CLOEXEC) != 0) return false;
        if ((pid_ = fork()) < 0) return false;
        if (pid_ == 0) {
            if (captureOutput) dup2(out[1], STDOUT_FILENO);
            std::vector<char*> args;
            for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            execvp(args[0], args.data());
            _exit(127);
        }
        if (captureOutput) close(out[1]), out_ = out[0];
        return true;
    }

    // One line of output without its line end; false at its end or time-out.
    bool readLine(std::string* line, int timeoutMs) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (size_t end; (end = buffer_.find('\n')) == std::string::npos;) {
            pollfd p{out_, POLLIN, 0};
            char chunk[256];
            ssize_t n = 0;
            if (out_ < 0 || poll(&p, 1, msLeft(deadline)) <= 0 || (n = read(out_, chunk, sizeof chunk)) <= 0)
                return false;
            buffer_.append(chunk, static_cast<size_t>(n));
        }
        const auto end = buffer_.find('\n');
        *line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        return true;
    }

    // The exit status, or -1 if killed at the time-out or ended by a signal.
    int wait(int timeoutMs) {
        const int status = pid_ > 0 ? reap(pid_, timeoutMs) : -1;
        return pid_ = -1, closeOutput(), status;
    }

    void kill() {
        if (pid_ > 0) ::kill(pid_, SIGKILL), waitpid(pid_, nullptr, 0);
        pid_ = -1, closeOutput();
    }

    pid_t pid() const { return pid_; }

private:
    void closeOutput() { out_ = out_ >= 0 ? close(out_), -1 : -1; }

    pid_t pid_ = -1;
    int out_ = -1;
    std::string buffer_;
};

// Runs a command to its end; its exit status, or -1 on time-out.
inline int runCommand(const std::vector<std::string>& argv, int timeoutMs = 10000) {
    ChildProcess child;
    return child.start(argv, false) ? child.wait(timeoutMs) : -1;
}

// The executable's server, started on first use and stopped at exit; its
// display name, or "" with *error set when it could not be started.
inline const std::string& sharedXvfb(std::string* error) {
    struct Server {
        pid_t pid = -1;
        std::string name, error = "Xvfb did not report a display number";
        Server() {
            int fds[2];
            if (pipe(fds) != 0 || (pid = fork()) < 0) return;
            if (pid == 0) {
                prctl(PR_SET_PDEATHSIG, SIGTERM);  // the server goes with the tests, even killed
                const int quiet = open("/dev/null", O_WRONLY);
                dup2(quiet, STDOUT_FILENO), dup2(quiet, STDERR_FILENO), close(fds[0]);
                const std::string fd = std::to_string(fds[1]);
                execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "640x480x24",
                       "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
                _exit(127);
            }
            close(fds[1]);
            std::string number;
            const auto deadline = Clock::now() + std::chrono::seconds(20);
            char c[16];
            ssize_t n = 0;
            for (pollfd p{fds[0], POLLIN, 0}; number.find('\n') == std::string::npos;
                 number.append(c, static_cast<size_t>(n)))
                if (poll(&p, 1, msLeft(deadline)) <= 0 || (n = read(fds[0], c, sizeof c)) <= 0) break;
            close(fds[0]);
            if (number.find('\n') != std::string::npos) name = ":" + number.substr(0, number.find('\n')), error = "";
        }
        ~Server() {
            if (pid > 0) ::kill(pid, SIGTERM), reap(pid, 3000);
        }
    };
    static Server server;
    *error = server.error;
    return server.name;
}

class XvfbTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        name_ = sharedXvfb(&error);
        ASSERT_FALSE(name_.empty()) << error;
        setenv("DISPLAY", name_.c_str(), 1);
    }

    // Closes the test's connections; a round trip on a fresh one lets the
    // server drop them (and the clients of killed child processes) first.
    void TearDown() override {
        for (Display* d : displays_) XCloseDisplay(d);
        displays_.clear();
        if (Display* probe = name_.empty() ? nullptr : XOpenDisplay(name_.c_str()))
            XSync(probe, False), XCloseDisplay(probe);
    }

    const std::string& displayName() const { return name_; }

    // A plain Xlib connection of the test's own, closed in TearDown.
    Display* openDisplay() {
        Display* d = XOpenDisplay(name_.c_str());
        return d ? displays_.push_back(d), d : d;
    }

    // Serves the toolkit's events, timers and inputs until done() holds;
    // false when it does not hold within the time.
    static bool pumpUntil(XtAppContext app, const std::function<bool()>& done, int timeoutMs = 5000) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (true) {
            while (XtAppPending(app)) XtAppProcessEvent(app, XtIMAll);
            if (done()) return true;
            if (msLeft(deadline) == 0) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    // Serves events for a while, for effects that have no condition to wait on.
    static void pumpFor(XtAppContext app, int ms) { pumpUntil(app, [] { return false; }, ms); }

    // The colour on screen at (x, y) as 0xRRGGBB (the server is 24-bit TrueColor).
    static unsigned long screenPixel(Display* d, int x, int y) {
        XImage* image = XGetImage(d, DefaultRootWindow(d), x, y, 1, 1, AllPlanes, ZPixmap);
        if (!image) return ~0UL;
        const unsigned long pixel = XGetPixel(image, 0, 0) & 0xffffff;
        XDestroyImage(image);
        return pixel;
    }

    static int xdotool(std::vector<std::string> args) {
        args.insert(args.begin(), "xdotool");
        return runCommand(args);
    }

private:
    std::string name_;
    std::vector<Display*> displays_;
};

}  // namespace zeftest

#endif
