// player_cpu: how much of one core zefplayer uses while it plays speech, next
// to sox playing the same sound already decoded, both at real-time pace.
//
//   cmake --build build --target player_cpu
//   build/bench/player_cpu/player_cpu [--seconds N] [--keep DIR]
//
// 1. Speech: sentences spoken by espeak-ng, made 8000 Hz 16-bit mono by sox,
//    repeated to N seconds (default 60), coded by zefenc (Orvo) and decoded
//    again by zefdec for the peer.
// 2. zefplayer plays the coded file in its window on a private Xvfb through
//    the null audio device at real-time pace (ZEFAUDIO=null:NAME). Its CPU
//    time (user + system, from /proc/PID/stat) is read once start-up is over
//    (the device opened and two seconds passed) and again three seconds
//    before the sound ends; the difference over the wall time between gives
//    its share of one core while playing, split into the player's own thread
//    and the thread of the audio device layer (/proc/PID/task/TID/stat). The
//    whole run's CPU time is shown too.
// 3. sox reads the decoded WAVE and writes raw samples into a pipe that this
//    program empties at 16000 bytes per second, so that sox, too, goes at
//    real-time pace; its CPU time comes from wait4. The CPU time of the same
//    work unpaced (sox X.wav -n) is shown as well.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

const char* const kSentences[] = {
    "The quick brown fox jumps over the lazy dog while the radio plays softly in the kitchen.",
    "Please call Stella and ask her to bring these things with her from the store.",
    "A speech codec turns a voice into a few thousand bits for every second of talk.",
    "When the sunlight strikes raindrops in the air, they act as a prism and form a rainbow.",
    "Six spoons of fresh snow peas, five thick slabs of blue cheese, and maybe a snack for her brother.",
    "We also need a small plastic snake and a big toy frog for the kids.",
};

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "player_cpu: %s\n", what.c_str());
    std::exit(1);
}

struct Child {
    pid_t pid = -1;
    int out = -1;  // its standard output, when captured
};

Child spawn(const std::vector<std::string>& argv, bool captureOutput, bool quiet = true) {
    int fds[2] = {-1, -1};
    if (captureOutput && pipe2(fds, O_CLOEXEC) != 0) fail("pipe");
    Child c;
    c.pid = fork();
    if (c.pid < 0) fail("fork");
    if (c.pid == 0) {
        if (captureOutput) dup2(fds[1], STDOUT_FILENO);
        if (quiet) {
            const int null = open("/dev/null", O_WRONLY);
            if (!captureOutput) dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
        }
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    if (captureOutput) {
        close(fds[1]);
        c.out = fds[0];
    }
    return c;
}

// Runs a command to its end; its CPU seconds (user + system).
double run(const std::vector<std::string>& argv) {
    Child c = spawn(argv, false);
    int status = 0;
    struct rusage usage {};
    if (wait4(c.pid, &status, 0, &usage) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        fail("'" + argv[0] + "' failed");
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// User + system CPU seconds of a live process, from /proc/PID/stat, or of
// one of its threads, from /proc/PID/task/TID/stat.
double cpuSeconds(pid_t pid, pid_t thread = 0) {
    const std::string base = "/proc/" + std::to_string(pid);
    std::ifstream in(thread ? base + "/task/" + std::to_string(thread) + "/stat" : base + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), {});
    const auto close = stat.rfind(')');
    if (close == std::string::npos) fail("cannot read /proc/" + std::to_string(pid) + "/stat");
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {  // fields 14 and 15: utime, stime
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

// Reads lines of a child's output until one contains text; false at its end.
bool waitForLine(int fd, const std::string& text, std::string& buffer, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (buffer.find(text) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, int(left)) <= 0) return false;
        char chunk[512];
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n <= 0) return false;
        buffer.append(chunk, size_t(n));
    }
    return true;
}

std::string makeSpeech(const fs::path& dir, int seconds) {
    std::vector<std::string> sox{"sox"};
    int n = 0;
    for (const char* sentence : kSentences) {
        const std::string part = (dir / ("part" + std::to_string(n) + ".wav")).string();
        run({"espeak-ng", n % 2 ? "-ven-us" : "-ven", "-s", "150", "-w", part, sentence});
        sox.push_back(part);
        ++n;
    }
    const std::string once = (dir / "once.wav").string();
    sox.insert(sox.end(), {"-r", "8000", "-b", "16", "-c", "1", once});
    run(sox);
    const std::string speech = (dir / "speech.wav").string();
    run({"sox", once, speech, "repeat", "40", "trim", "0", std::to_string(seconds)});
    return speech;
}

std::string startXvfb(pid_t* pid) {
    int fds[2];
    if (pipe(fds) != 0) fail("pipe");
    *pid = fork();
    if (*pid == 0) {
        close(fds[0]);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        const std::string fd = std::to_string(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "640x480x24", "-nolisten", "tcp",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string number;
    if (!waitForLine(fds[0], "\n", number, 20000)) fail("Xvfb did not start");
    close(fds[0]);
    return ":" + number.substr(0, number.find('\n'));
}

struct PlayerFigures {
    double wall;           // seconds measured while playing
    double cpu;            // CPU seconds of the process in that time
    double toolkitThread;  // of them, the player's own thread
    double startCpu;       // start-up, up to the first measurement
    double totalCpu;       // the whole run
};

PlayerFigures measurePlayer(const std::string& zef, int seconds) {
    pid_t xvfb = -1;
    setenv("DISPLAY", startXvfb(&xvfb).c_str(), 1);
    setenv("ZEFAUDIO", ("null:player-cpu-" + std::to_string(getpid())).c_str(), 1);
    setenv("PLAYER", "1", 1);
    Child player = spawn({ZEFPLAYER, zef}, true);
    std::string trace;
    if (!waitForLine(player.out, "device opened", trace, 20000)) fail("zefplayer did not open the device");
    std::this_thread::sleep_for(std::chrono::seconds(2));
    PlayerFigures f{};
    const double cpu0 = cpuSeconds(player.pid), main0 = cpuSeconds(player.pid, player.pid);
    const auto t0 = Clock::now();
    // Measured while the sound still plays: the audio device's thread ends
    // with the sound.
    std::this_thread::sleep_for(std::chrono::seconds(seconds - 5));
    const double cpu1 = cpuSeconds(player.pid), main1 = cpuSeconds(player.pid, player.pid);
    f.wall = std::chrono::duration<double>(Clock::now() - t0).count();
    if (trace.find("end of sound") != std::string::npos) fail("the sound ended early");
    if (!waitForLine(player.out, "end of sound", trace, 60000)) fail("the sound did not end");
    f.startCpu = cpu0;
    f.cpu = cpu1 - cpu0;
    f.toolkitThread = main1 - main0;
    f.totalCpu = cpuSeconds(player.pid);
    kill(player.pid, SIGTERM);
    waitpid(player.pid, nullptr, 0);
    kill(xvfb, SIGTERM);
    waitpid(xvfb, nullptr, 0);
    return f;
}

// sox writes raw samples into a pipe emptied at 16000 bytes per second.
double measurePacedSox(const std::string& wave) {
    Child sox = spawn({"sox", "-q", wave, "-t", "raw", "-"}, true);
    char chunk[1600];
    auto next = Clock::now();
    while (true) {
        size_t got = 0;
        while (got < sizeof chunk) {
            const ssize_t n = read(sox.out, chunk + got, sizeof chunk - got);
            if (n <= 0) break;
            got += size_t(n);
        }
        if (got < sizeof chunk) break;
        next += std::chrono::milliseconds(100);
        std::this_thread::sleep_until(next);
    }
    close(sox.out);
    int status = 0;
    struct rusage usage {};
    wait4(sox.pid, &status, 0, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    int seconds = 60;
    std::string keep;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--seconds" && i + 1 < argc) seconds = std::atoi(argv[++i]);
        else if (a == "--keep" && i + 1 < argc) keep = argv[++i];
        else fail("usage: player_cpu [--seconds N] [--keep DIR]");
    }
    if (seconds < 10 || seconds > 3600) fail("--seconds takes 10 to 3600");
    fs::path dir = keep.empty() ? fs::temp_directory_path() / ("player_cpu-" + std::to_string(getpid())) : fs::path(keep);
    fs::create_directories(dir);

    const std::string speech = makeSpeech(dir, seconds);
    const std::string zef = (dir / "speech.zef").string();
    const std::string decoded = (dir / "decoded.wav").string();
    run({ZEFENC, "-q", speech, zef});
    run({ZEFDEC, "-q", zef, decoded});

    const PlayerFigures p = measurePlayer(zef, seconds);
    const double paced = measurePacedSox(decoded);
    const double unpaced = run({"sox", "-q", decoded, "-n"});
    if (keep.empty()) fs::remove_all(dir);

    const double share = 100.0 * p.cpu / p.wall;
    std::printf("player_cpu: %d s of speech (espeak-ng, coded by zefenc as Orvo), real-time pace\n", seconds);
    std::printf("  zefplayer while playing:   %6.3f CPU s in %5.1f s  = %5.2f %% of one core\n", p.cpu, p.wall, share);
    std::printf("    its toolkit thread:      %6.3f CPU s            = %5.2f %%\n", p.toolkitThread,
                100.0 * p.toolkitThread / p.wall);
    std::printf("    audio device thread:     %6.3f CPU s            = %5.2f %%\n", p.cpu - p.toolkitThread,
                100.0 * (p.cpu - p.toolkitThread) / p.wall);
    std::printf("  zefplayer start-up:        %6.3f CPU s; whole run %.3f CPU s\n", p.startCpu, p.totalCpu);
    std::printf("  sox, decoded WAVE, paced:  %6.3f CPU s in %5.1f s  = %5.2f %% of one core\n", paced, double(seconds),
                100.0 * paced / seconds);
    std::printf("  sox X.wav -n, unpaced:     %6.3f CPU s\n", unpaced);
    std::printf("  target: zefplayer under 1 %% of one core: %s\n", share < 1.0 ? "met" : "NOT met");
    return 0;
}
