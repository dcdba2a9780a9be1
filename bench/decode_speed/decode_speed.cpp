// decode_speed: how fast the library decodes Orvo and Peln speech, against
// Debian's codec2 decoder (c2dec 2400 and 3200) on the same duration of
// speech, in pairs measured in turn in the same run; the peak memory of a
// decoding session; and a check that decoding allocates nothing per frame.
//
//   decode_speed [--minutes N] [--runs N] [--speech-dir DIR] [--keep DIR]
//
// See bench/README.md for what is measured and how.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "malloc_count.h"
#include "mirlane.h"
#include "zefwriter.h"

namespace fs = std::filesystem;

extern char** environ;

namespace {

using Bytes = std::vector<uint8_t>;
using zeftest::Frame;

constexpr double kFrameSeconds = 180.0 / 8000.0;
constexpr uint32_t kInputWindow = 2400;   // the player's coded input window
constexpr uint32_t kCountFrom = 100, kCountTo = 10000;

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "decode_speed: %s\n", what.c_str());
    std::exit(1);
}

double cpuSeconds(const rusage& u) {
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + 1e-6 * double(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

// ---- coded speech -------------------------------------------------------------

struct Rng {
    uint32_t s = 0x2545F491u;
    uint32_t next() {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        return s;
    }
    int in(int lo, int hi) { return lo + int(next() % uint32_t(hi - lo + 1)); }
};

// A talker's frames: voiced phrases with rising and falling pitch and
// loudness, unvoiced consonants, and pauses, with the spectral codes
// wandering as vowels change.
std::vector<Frame> speechFrames(size_t count) {
    const std::vector<uint8_t>& widths = zeftest::orvo().widths;
    Rng rng;
    std::vector<Frame> frames;
    Frame lsp = zeftest::orvoFrame(15, 100, 30, 4);
    auto wander = [&] {
        for (size_t i = 3; i <= 12; ++i) {
            int top = (1 << widths[i]) - 1;
            lsp[i] = uint8_t(std::clamp(int(lsp[i]) + rng.in(-1, 1), 0, top));
        }
    };
    while (frames.size() < count) {
        int kind = rng.in(0, 99);
        if (kind < 55) {  // voiced phrase with a pitch glide
            int n = rng.in(20, 80), from = rng.in(40, 200), to = rng.in(40, 200), loud = rng.in(30, 55);
            for (int k = 0; k < n; ++k) {
                Frame f = lsp;
                f[0] = uint8_t(rng.in(11, 15));
                f[1] = uint8_t(from + (to - from) * k / n);
                double env = std::sin(M_PI * (k + 1) / (n + 1));
                f[2] = uint8_t(std::clamp(int(loud * (0.6 + 0.4 * env)), 0, 63));
                frames.push_back(f);
                if (k % 4 == 0) wander();
            }
        } else if (kind < 80) {  // unvoiced
            int n = rng.in(3, 12);
            for (int k = 0; k < n; ++k) {
                Frame f = lsp;
                f[0] = uint8_t(rng.in(0, 3));
                f[1] = uint8_t(rng.in(0, 255));
                f[2] = uint8_t(rng.in(15, 35));
                frames.push_back(f);
                wander();
            }
        } else {  // pause
            int n = rng.in(10, 40);
            for (int k = 0; k < n; ++k) {
                Frame f = lsp;
                f[0] = 0;
                f[1] = uint8_t(rng.in(0, 255));
                f[2] = uint8_t(rng.in(0, 5));
                frames.push_back(f);
            }
        }
    }
    frames.resize(count);
    return frames;
}

// The same talker coded as Peln: voicing, pitch and loudness follow the Orvo
// frames; the LSP and shape codes wander within their fields.
std::vector<Frame> pelnFrames(const std::vector<Frame>& orvo) {
    const std::vector<uint8_t>& widths = zeftest::peln().widths;
    Rng rng;
    Frame f(widths.size(), 0);
    for (size_t i = 2; i < widths.size(); ++i) f[i] = uint8_t((1 << widths[i]) / 2);
    std::vector<Frame> frames;
    frames.reserve(orvo.size());
    for (const Frame& o : orvo) {
        f[0] = o[0];
        f[1] = o[1];
        for (size_t i = 2; i + 1 < widths.size(); ++i) {
            int top = (1 << widths[i]) - 1;
            f[i] = uint8_t(std::clamp(int(f[i]) + rng.in(-1, 1), 0, top));
        }
        f.back() = uint8_t(o[2] / 2);  // energy: 5 bits against Orvo's 6
        frames.push_back(f);
    }
    return frames;
}

void writeFile(const fs::path& p, const Bytes& b) {
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
    if (!out) fail("cannot write " + p.string());
}

Bytes readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    if (!in) fail("cannot read " + p.string());
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// ---- the decoding child -----------------------------------------------------------

long vmHWMKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

struct FrameCounter {
    uint32_t frames = 0;
    uint64_t callsAtFrom = 0, callsAtTo = 0;
    static uint16_t call(uint16_t, uint16_t status, void* data) {
        auto* kd = static_cast<KELVANE_DATA*>(data);
        auto* c = reinterpret_cast<FrameCounter*>(kd->dwUserData);
        if (status != KELVANE_STATUS_FRAME) return 0;
        ++c->frames;
        if (c->frames == kCountFrom) c->callsAtFrom = mallocCalls();
        if (c->frames == kCountTo) c->callsAtTo = mallocCalls();
        return 0;
    }
};

// Decodes an image through the streaming triple as the player does and
// prints what it measured as key=value lines.
int decodeSession(const char* imagePath, uint32_t rate, uint16_t bytes) {
    ZEF_STARTUP startup{};
    startup.wSize = ZEF_STARTUP_SIZE;
    if (zefStartup(&startup)) fail("zefStartup failed");
    const Bytes image = readFile(imagePath);
    Bytes out(size_t(rate) * bytes * 3 / 10);  // 300 ms, as the player's buffers
    FrameCounter counter;
    KELVANE_DATA kd{};
    kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
    kd.fWarpedLengthFactor = 1.0f;
    kd.fAbsolutePitch = 100.0f;
    kd.dwOutputSamplingRate = rate;
    kd.wOutputBytesPerSample = bytes;
    kd.dwUserData = reinterpret_cast<uintptr_t>(&counter);
    kd.lpCallback = &FrameCounter::call;
    kd.dwInputType = ZEFTYPE_FORMAT_WAVE | ZEFTYPE_LOCATION_BUFFER | ZEFTYPE_QUALIFIER_ZEF;
    kd.dwOutputType = ZEFTYPE_FORMAT_RAW | ZEFTYPE_LOCATION_BUFFER;
    kd.lpOutputLocation = out.data();
    kd.dwOutputSize = uint32_t(out.size());

    const long hwmBefore = vmHWMKiB();
    const int64_t heapBefore = mallocHeld();
    const uint64_t callsBefore = mallocCalls();
    mallocResetPeak();
    rusage start{}, end{};
    getrusage(RUSAGE_SELF, &start);
    kd.lpInputLocation = const_cast<uint8_t*>(image.data());
    kd.dwInputSize = uint32_t(std::min<size_t>(image.size(), kInputWindow));
    if (uint16_t err = dcmpZefInit(&kd)) fail("dcmpZefInit: " + std::to_string(err));
    size_t pos = kd.dwInputBytesUsed;
    uint64_t produced = 0;
    for (int idle = 0; idle < 2;) {
        kd.lpInputLocation = const_cast<uint8_t*>(image.data() + pos);
        kd.dwInputSize = uint32_t(std::min<size_t>(image.size() - pos, kInputWindow));
        kd.dwInputBytesUsed = 0;
        kd.dwOutputBytesUsed = 0;
        if (uint16_t err = dcmpZefConvert(&kd)) fail("dcmpZefConvert: " + std::to_string(err));
        pos += kd.dwInputBytesUsed;
        produced += kd.dwOutputBytesUsed;
        idle = kd.dwInputBytesUsed || kd.dwOutputBytesUsed ? 0 : idle + 1;
    }
    if (uint16_t err = dcmpZefFree(&kd)) fail("dcmpZefFree: " + std::to_string(err));
    getrusage(RUSAGE_SELF, &end);
    const int64_t heapPeak = mallocPeak() - heapBefore, heapLeft = mallocHeld() - heapBefore;
    const uint64_t sessionCalls = mallocCalls() - callsBefore;
    const long hwmAfter = vmHWMKiB();
    zefShutdown();

    std::printf("cpu=%.6f\n", cpuSeconds(end) - cpuSeconds(start));
    std::printf("frames=%u\n", counter.frames);
    std::printf("samples=%llu\n", static_cast<unsigned long long>(produced / bytes));
    std::printf("session_heap_peak=%lld\n", static_cast<long long>(heapPeak));
    std::printf("session_heap_left=%lld\n", static_cast<long long>(heapLeft));
    std::printf("hwm_before=%ld\nhwm_after=%ld\n", hwmBefore, hwmAfter);
    std::printf("allocs_session=%llu\n", static_cast<unsigned long long>(sessionCalls));
    std::printf("allocs_between=%lld\n",
                counter.frames >= kCountTo ? static_cast<long long>(counter.callsAtTo - counter.callsAtFrom) : -1LL);
    return 0;
}

// ---- children and their CPU time ------------------------------------------------------

struct Child {
    int status = -1;
    double cpu = 0;
    std::string out;
};

// Runs a program with its output in a file; CPU time from wait4.
Child run(const std::vector<std::string>& args, const fs::path& outFile, bool quiet = false) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (quiet) posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    Child c;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) fail("cannot run " + args[0]);
    posix_spawn_file_actions_destroy(&actions);
    rusage usage{};
    int status = 0;
    if (wait4(pid, &status, 0, &usage) != pid) fail("wait4 failed");
    c.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    c.cpu = cpuSeconds(usage);
    std::ifstream in(outFile);
    c.out.assign(std::istreambuf_iterator<char>(in), {});
    return c;
}

std::map<std::string, double> keyValues(const std::string& text) {
    std::map<std::string, double> kv;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        size_t eq = line.find('=');
        if (eq != std::string::npos) kv[line.substr(0, eq)] = std::strtod(line.c_str() + eq + 1, nullptr);
    }
    return kv;
}

std::string quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

void shell(const std::string& command) {
    if (std::system(command.c_str()) != 0) fail("failed: " + command);
}

// ---- codec2 input --------------------------------------------------------------------

const char* const kSentences[] = {
    "The birch canoe slid on the smooth planks.",
    "Glue the sheet to the dark blue background.",
    "It is easy to tell the depth of a well.",
    "These days a chicken leg is a rare dish.",
    "Rice is often served in round bowls.",
    "The juice of lemons makes fine punch.",
    "The box was thrown beside the parked truck.",
    "Four hours of steady work faced us.",
};

// 8000 Hz mono 16-bit WAVE files of speech: the caller's, or made here.
std::vector<fs::path> speechFiles(const std::string& dir, const fs::path& tmp) {
    std::vector<fs::path> files;
    if (!dir.empty()) {
        for (const auto& e : fs::directory_iterator(dir))
            if (e.path().extension() == ".wav") files.push_back(e.path());
        std::sort(files.begin(), files.end());
        if (files.empty()) fail("no .wav files in " + dir);
        return files;
    }
    int n = 0;
    for (const char* voice : {"en-us", "en+f3"}) {
        for (const char* s : kSentences) {
            fs::path wav = tmp / ("espeak" + std::to_string(n++) + ".wav");
            shell("espeak-ng -v " + std::string(voice) + " -w " + quoted(wav.string()) + " " + quoted(s));
            files.push_back(wav);
        }
    }
    return files;
}

// Raw 8000 Hz 16-bit speech of exactly `seconds`, the files looped.
fs::path speechRaw(const std::vector<fs::path>& files, double seconds, const fs::path& tmp) {
    std::string parts;
    int n = 0;
    for (const fs::path& f : files) {
        fs::path part = tmp / ("part" + std::to_string(n++) + ".wav");
        shell("sox " + quoted(f.string()) + " -r 8000 -c 1 -b 16 -e signed " + quoted(part.string()));
        parts += " " + quoted(part.string());
    }
    fs::path once = tmp / "once.raw";
    shell("sox" + parts + " -t raw " + quoted(once.string()));
    const Bytes pcm = readFile(once);
    if (pcm.size() < 16000) fail("less than a second of speech");
    Bytes looped(size_t(std::llround(seconds * 8000)) * 2);
    for (size_t at = 0; at < looped.size(); at += pcm.size())
        std::copy_n(pcm.begin(), std::min(pcm.size(), looped.size() - at), looped.begin() + long(at));
    fs::path raw = tmp / "speech.raw";
    writeFile(raw, looped);
    return raw;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::string(argv[1]) == "--session")
        return decodeSession(argv[2], uint32_t(std::atoi(argv[3])), uint16_t(std::atoi(argv[4])));

    double minutes = 10;
    int runs = 5;
    std::string speechDir, keep;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--minutes" && i + 1 < argc) minutes = std::atof(argv[++i]);
        else if (a == "--runs" && i + 1 < argc) runs = std::atoi(argv[++i]);
        else if (a == "--speech-dir" && i + 1 < argc) speechDir = argv[++i];
        else if (a == "--keep" && i + 1 < argc) keep = argv[++i];
        else fail("usage: decode_speed [--minutes N] [--runs N] [--speech-dir DIR] [--keep DIR]");
    }
    if (!(minutes >= 1)) fail("--minutes must be at least 1");
    if (runs < 1 || runs > 99) fail("--runs must be 1 to 99");

    const char* base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/decode_speed_XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back(0);
    if (!mkdtemp(buf.data())) fail("cannot make a scratch folder");
    const fs::path tmp = keep.empty() ? fs::path(buf.data()) : fs::path(keep);
    if (!keep.empty()) fs::create_directories(tmp);

    // The same duration for both: 8000 Hz 180-sample frames, 160-sample codec2 frames.
    const size_t frames = size_t(std::ceil(minutes * 60 / kFrameSeconds));
    const double seconds = std::round(frames * kFrameSeconds * 50) / 50;  // whole 20 ms codec2 frames
    const std::vector<Frame> speech = speechFrames(frames);
    writeFile(tmp / "speech.wav", zeftest::zefWave(zeftest::orvo(), speech));
    writeFile(tmp / "speech_guisette.wav", zeftest::zefWave(zeftest::orvo(), speech, 201));
    writeFile(tmp / "speech_peln.wav", zeftest::zefWave(zeftest::peln(), pelnFrames(speech)));

    const std::string self = fs::read_symlink("/proc/self/exe").string();
    const fs::path raw = speechRaw(speechFiles(speechDir, tmp), seconds, tmp);
    shell("c2enc 2400 " + quoted(raw.string()) + " " + quoted((tmp / "speech.c2").string()) + " 2>/dev/null");
    shell("c2enc 3200 " + quoted(raw.string()) + " " + quoted((tmp / "speech3200.c2").string()) + " 2>/dev/null");

    // Each decoder in turn with its codec2 peer, `runs` times: the medians,
    // and the median of the ratios pair by pair (a busy machine slows both
    // of a pair alike).
    auto session = [&](const char* image, const char* rate, const char* bytes, const char* report) {
        Child c = run({self, "--session", (tmp / image).string(), rate, bytes}, tmp / report);
        if (c.status != 0) fail(std::string("the decoding session of ") + image + " failed");
        return keyValues(c.out);
    };
    auto peer = [&](const char* mode, const char* coded, const char* decoded, const char* report) {
        Child c = run({"c2dec", mode, (tmp / coded).string(), (tmp / decoded).string()}, tmp / report, true);
        if (c.status != 0) fail(std::string("c2dec ") + mode + " failed");
        return std::make_pair(c.cpu, double(fs::file_size(tmp / decoded)) / 16000.0);
    };
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2.0;
    };
    struct Pairs {
        std::vector<double> ours, peer, ratio;  // CPU seconds, and speed ratio ours / peer
        double oursSeconds = 0, peerSeconds = 0;
    };
    std::map<std::string, double> m, mp;
    Pairs orvo, peln;
    for (int r = 0; r < runs; ++r) {
        const auto lib = session("speech.wav", "8000", "2", "session.txt");
        const auto [c2Cpu, c2Seconds] = peer("2400", "speech.c2", "c2dec.raw", "c2dec.txt");
        const auto lp = session("speech_peln.wav", "8000", "2", "session_peln.txt");
        const auto [c3Cpu, c3Seconds] = peer("3200", "speech3200.c2", "c2dec3200.raw", "c2dec3200.txt");
        if (r == 0) m = lib, mp = lp;
        for (auto [pairs, ours, peerCpu, peerSeconds] :
             {std::tuple{&orvo, lib, c2Cpu, c2Seconds}, std::tuple{&peln, lp, c3Cpu, c3Seconds}}) {
            pairs->oursSeconds = ours.at("samples") / 8000.0, pairs->peerSeconds = peerSeconds;
            pairs->ours.push_back(ours.at("cpu"));
            pairs->peer.push_back(peerCpu);
            pairs->ratio.push_back((pairs->oursSeconds / ours.at("cpu")) / (peerSeconds / peerCpu));
        }
    }
    auto m44 = session("speech_guisette.wav", "44100", "1", "session44.txt");

    const double libSeconds = m["samples"] / 8000.0;
    std::printf("decode_speed: %.1f s of speech for each decoder (%zu Orvo frames, %s), median of %d pairs\n",
                libSeconds, frames,
                speechDir.empty() ? "codec2 input spoken by espeak-ng" : ("codec2 input from " + speechDir).c_str(),
                runs);
    auto label = [](const char* text) { std::printf("  %-42s", text); };
    auto speeds = [&](const Pairs& p, const char* ours, const char* theirs, const char* ratio) {
        const double a = median(p.ours), b = median(p.peer);
        label(ours);
        std::printf("%8.3f CPU s  %6.0f s of speech per CPU second\n", a, p.oursSeconds / a);
        label(theirs);
        std::printf("%8.3f CPU s  %6.0f s of speech per CPU second\n", b, p.peerSeconds / b);
        label(ratio);
        const auto [low, high] = std::minmax_element(p.ratio.begin(), p.ratio.end());
        std::printf("%8.2f  (pairs from %.2f to %.2f)\n", median(p.ratio), *low, *high);
    };
    speeds(orvo, "mirlane Orvo, 8000 Hz 16-bit, streaming:", "codec2 c2dec 2400:", "speed ratio mirlane / codec2:");
    speeds(peln, "mirlane Peln, 8000 Hz 16-bit, streaming:", "codec2 c2dec 3200:",
           "speed ratio mirlane Peln / codec2 3200:");
    label("mirlane Orvo, 44100 Hz 8-bit + Guisette:");
    std::printf("%8.3f CPU s  %6.0f s of speech per CPU second\n", m44["cpu"], m44["samples"] / 44100.0 / m44["cpu"]);
    label("peak heap held by a session:");
    std::printf("%8.1f KiB at 8000 Hz, %.1f KiB at 44100 Hz, %.1f KiB for Peln (%.0f bytes left after free)\n",
                m["session_heap_peak"] / 1024.0, m44["session_heap_peak"] / 1024.0, mp["session_heap_peak"] / 1024.0,
                m["session_heap_left"] + mp["session_heap_left"]);
    label("decoding process VmHWM:");
    std::printf("%8.0f KiB (%.0f KiB before the session)\n", m["hwm_after"], m["hwm_before"]);
    label("allocation calls of a whole session:");
    std::printf("%8.0f at 8000 Hz, %.0f at 44100 Hz\n", m["allocs_session"], m44["allocs_session"]);
    label("of them between frame 100 and frame 10000:");
    std::printf("%8.0f at 8000 Hz, %.0f at 44100 Hz, %.0f for Peln\n", m["allocs_between"], m44["allocs_between"],
                mp["allocs_between"]);
    if (keep.empty()) fs::remove_all(tmp);
    const bool framesOk = m["frames"] == double(frames) && m44["frames"] == double(frames) &&
                          mp["frames"] == double(frames);
    if (!framesOk) fail("not every frame was decoded");
    // -1: fewer than kCountTo frames, nothing measured.
    return m["allocs_between"] <= 0 && m44["allocs_between"] <= 0 && mp["allocs_between"] <= 0 ? 0 : 2;
}
