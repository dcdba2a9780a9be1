#include "batch.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include "toolcommon.h"

namespace fs = std::filesystem;

namespace zeftool {

namespace {

volatile sig_atomic_t gStop = 0;
void onStop(int sig) { gStop = sig; }

struct Running {
    pid_t pid;
    int fd;
    std::string text;
    const BatchJob* job;
};

struct Tally {
    const BatchPlan* plan;
    size_t total = 0, done = 0, failed = 0;
    bool terminal = false;

    void clearLine() const {
        if (terminal) std::fputs("\r\033[K", stderr);
    }
    void fail(const std::string& line) {
        clearLine();
        std::fprintf(stderr, "%s\n", line.c_str());
        ++failed;
        ++done;
        show();
    }
    void show() const {
        if (!terminal) return;
        std::fprintf(stderr, "\r%s: %zu of %zu files, %zu failed", plan->tool, done, total, failed);
    }
};

std::string shown(const std::string& name) { return printable(name); }

// The failure of a child as one line: the last line it wrote, which names the
// file, or what stopped it.
std::string failureLine(const BatchPlan& plan, const Running& r, int status) {
    if (WIFSIGNALED(status))
        return std::string(plan.tool) + ": " + shown(r.job->in) + ": stopped by signal " +
               std::to_string(WTERMSIG(status)) + " (" + strsignal(WTERMSIG(status)) + ")";
    std::string text = r.text;
    for (char& c : text)
        if (c == '\r') c = '\n';
    while (!text.empty() && text.back() == '\n') text.pop_back();
    size_t start = text.rfind('\n');
    std::string line = text.substr(start == std::string::npos ? 0 : start + 1);
    if (line.empty()) line = std::string(plan.tool) + ": " + shown(r.job->in) + ": failed";
    return line;
}

// The jobs of the inputs; the ones that cannot be run are failures already.
std::vector<BatchJob> listJobs(const BatchPlan& plan, Tally& tally, std::vector<std::string>& failures) {
    std::vector<BatchJob> jobs;
    const std::string tool = plan.tool;
    auto outName = [&](const fs::path& rel) {
        fs::path p = fs::path(plan.outDir) / rel;
        p.replace_extension(plan.outExtension);
        return p.string();
    };
    for (const std::string& in : plan.inputs) {
        std::error_code ec;
        if (in == "-") {
            failures.push_back(tool + ": standard input cannot be one of several inputs");
        } else if (fs::is_directory(in, ec)) {
            if (!plan.recursive) {
                failures.push_back(tool + ": " + shown(in) + ": is a directory (-R takes the files in it)");
                continue;
            }
            std::vector<fs::path> files;
            fs::recursive_directory_iterator it(in, fs::directory_options::skip_permission_denied, ec), end;
            if (ec) failures.push_back(tool + ": " + shown(in) + ": " + systemText(uint32_t(ec.value())));
            for (; !ec && it != end; it.increment(ec))
                if (it->is_regular_file(ec) && plan.wanted(it->path().string())) files.push_back(it->path());
            std::sort(files.begin(), files.end());
            for (const fs::path& f : files) jobs.push_back({f.string(), outName(f.lexically_relative(in))});
        } else {
            jobs.push_back({in, outName(fs::path(in).filename())});
        }
    }
    // Never an input overwritten, never two inputs into one output.
    std::set<std::pair<dev_t, ino_t>> inputs;
    struct stat st;
    for (const BatchJob& j : jobs)
        if (::stat(j.in.c_str(), &st) == 0) inputs.insert({st.st_dev, st.st_ino});
    std::map<std::string, std::string> outputs;
    std::vector<BatchJob> runnable;
    for (const BatchJob& j : jobs) {
        std::string key = fs::weakly_canonical(j.out).string();
        if (::stat(j.out.c_str(), &st) == 0 && inputs.count({st.st_dev, st.st_ino})) {
            failures.push_back(tool + ": " + shown(j.in) + ": its output " + shown(j.out) +
                               " is one of the inputs; nothing written");
        } else if (!outputs.emplace(key, j.in).second) {
            failures.push_back(tool + ": " + shown(j.in) + ": its output " + shown(j.out) + " is also that of " +
                               shown(outputs[key]) + "; nothing written");
        } else {
            std::error_code ec;
            fs::create_directories(fs::path(j.out).parent_path(), ec);
            runnable.push_back(j);
        }
    }
    tally.total = runnable.size() + failures.size();
    return runnable;
}

}  // namespace

unsigned coreCount() {
    long n = ::sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? unsigned(n) : 1;
}

int runBatch(const BatchPlan& plan, const std::function<int(const BatchJob&)>& one) {
    Tally tally;
    tally.plan = &plan;
    tally.terminal = !plan.quiet && ::isatty(STDERR_FILENO);
    std::error_code ec;
    if (!fs::is_directory(plan.outDir, ec) && !fs::create_directories(plan.outDir, ec)) {
        std::fprintf(stderr, "%s: %s: cannot make the output directory: %s\n", plan.tool, shown(plan.outDir).c_str(),
                     systemText(uint32_t(ec.value())).c_str());
        return 1;
    }
    std::vector<std::string> refused;
    const std::vector<BatchJob> jobs = listJobs(plan, tally, refused);
    for (const std::string& line : refused) tally.fail(line);
    if (tally.total == 0) {
        std::fprintf(stderr, "%s: no input files\n", plan.tool);
        return 1;
    }

    struct sigaction sa {}, oldInt {}, oldTerm {};
    sa.sa_handler = onStop;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, &oldInt);
    sigaction(SIGTERM, &sa, &oldTerm);
    const unsigned width = plan.jobs ? plan.jobs : coreCount();
    const pid_t parent = ::getpid();
    std::vector<Running> running;
    size_t next = 0;
    while (!gStop && (next < jobs.size() || !running.empty())) {
        while (!gStop && next < jobs.size() && running.size() < width) {
            const BatchJob& job = jobs[next++];
            int fds[2];
            if (::pipe2(fds, O_CLOEXEC) != 0) {
                tally.fail(std::string(plan.tool) + ": " + shown(job.in) + ": " + systemText(uint32_t(errno)));
                continue;
            }
            std::fflush(nullptr);
            pid_t pid = ::fork();
            if (pid == 0) {  // the child: one file; it dies with the batch
                ::prctl(PR_SET_PDEATHSIG, SIGKILL);
                if (::getppid() != parent) ::_exit(1);
                std::signal(SIGINT, SIG_DFL);
                std::signal(SIGTERM, SIG_DFL);
                ::dup2(fds[1], STDERR_FILENO);
                int null = ::open("/dev/null", O_WRONLY);
                if (null >= 0) ::dup2(null, STDOUT_FILENO);
                int rc = one(job);
                std::fflush(nullptr);
                ::_exit(rc == 0 ? 0 : 1);
            }
            ::close(fds[1]);
            if (pid < 0) {
                ::close(fds[0]);
                tally.fail(std::string(plan.tool) + ": " + shown(job.in) + ": " + systemText(uint32_t(errno)));
                continue;
            }
            running.push_back({pid, fds[0], {}, &job});
        }
        if (running.empty()) continue;
        std::vector<pollfd> polls;
        for (const Running& r : running) polls.push_back({r.fd, POLLIN, 0});
        if (::poll(polls.data(), polls.size(), -1) < 0) continue;  // a signal: looked at above
        for (size_t i = polls.size(); i-- > 0;) {
            if (!polls[i].revents) continue;
            Running& r = running[i];
            char buf[4096];
            ssize_t n = ::read(r.fd, buf, sizeof buf);
            if (n > 0) {
                if (r.text.size() < 65536) r.text.append(buf, size_t(n));
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            ::close(r.fd);
            int status = 0;
            while (::waitpid(r.pid, &status, 0) < 0 && errno == EINTR) {
            }
            if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
                ++tally.done;
                tally.show();
            } else {
                tally.fail(failureLine(plan, r, status));
            }
            running.erase(running.begin() + long(i));
        }
    }
    if (gStop) {  // the children go with their unfinished outputs, which never got a name
        for (const Running& r : running) ::kill(r.pid, SIGKILL);
        for (const Running& r : running) {
            ::close(r.fd);
            ::waitpid(r.pid, nullptr, 0);
        }
    }
    sigaction(SIGINT, &oldInt, nullptr);
    sigaction(SIGTERM, &oldTerm, nullptr);
    tally.clearLine();
    if (gStop) {
        std::fprintf(stderr, "%s: interrupted: %zu of %zu files done, %zu failed\n", plan.tool,
                     tally.done - tally.failed, tally.total, tally.failed);
        return 128 + gStop;
    }
    if (tally.failed)
        std::fprintf(stderr, "%s: %zu of %zu files failed\n", plan.tool, tally.failed, tally.total);
    else if (!plan.quiet)
        std::fprintf(stderr, "%s: %zu file%s done\n", plan.tool, tally.total, tally.total == 1 ? "" : "s");
    return tally.failed ? 1 : 0;
}

}  // namespace zeftool
