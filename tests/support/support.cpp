#include "support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace zeftest {

std::string dataFile(const std::string& name) { return std::string(ZEF_TEST_DATA_DIR) + "/" + name; }

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), {});
}

void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    EXPECT_TRUE(out.good()) << path;
}

ScratchDir::ScratchDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "process";
    for (char& c : name)
        if (c == '/') c = '_';  // parameterised names
    const auto dir = std::filesystem::path(ZEF_BINARY_DIR) / "scratch" / (name + "." + std::to_string(getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    dir_ = dir.string();
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

Samples samples16(const Bytes& b) {
    Samples s(b.size() / 2);
    if (!s.empty()) std::memcpy(s.data(), b.data(), s.size() * 2);
    return s;
}

Bytes bytes16(const Samples& s) {
    Bytes b(s.size() * 2);
    if (!s.empty()) std::memcpy(b.data(), s.data(), b.size());
    return b;
}

double rms(const int16_t* x, size_t n) {
    double e = 0.0;
    for (size_t i = 0; i < n; ++i) e += double(x[i]) * x[i];
    return n ? std::sqrt(e / double(n)) : 0.0;
}

double rmsDb(const Samples& x) { return 20.0 * std::log10(std::max(rms(x), 1e-3) / 32768.0); }

double snr(const Samples& ref, const Samples& test) {
    double signal = 0.0, error = 0.0;
    for (size_t n = 0; n < ref.size() && n < test.size(); ++n) {
        signal += double(ref[n]) * ref[n];
        error += double(ref[n] - test[n]) * (ref[n] - test[n]);
    }
    return 10.0 * std::log10(std::max(signal, 1e-9) / std::max(error, 1e-9));
}

namespace {

// Normalised correlation with a copy shifted by a fractional lag.
double correlation(const Samples& x, size_t from, size_t length, double lag) {
    const size_t whole = size_t(lag);
    const double frac = lag - double(whole);
    double xy = 0.0, xx = 0.0, yy = 0.0;
    for (size_t n = from; n < from + length; ++n) {
        const double y = (1.0 - frac) * x[n + whole] + frac * x[n + whole + 1];
        xy += x[n] * y;
        xx += double(x[n]) * x[n];
        yy += y * y;
    }
    return xx > 0.0 && yy > 0.0 ? xy / std::sqrt(xx * yy) : 0.0;
}

}  // namespace

double measuredPeriod(const Samples& x, size_t from, size_t length) {
    constexpr double kStep = 0.1, kFirst = 12.0, kLast = 160.0;
    if (from + length + size_t(kLast) + 2 > x.size()) return 0.0;
    std::vector<double> r;
    for (double lag = kFirst; lag <= kLast; lag += kStep) r.push_back(correlation(x, from, length, lag));
    const double best = *std::max_element(r.begin(), r.end());
    if (best <= 0.0) return 0.0;
    for (size_t i = 1; i + 1 < r.size(); ++i) {
        if (r[i] < 0.85 * best || r[i] < r[i - 1] || r[i] < r[i + 1]) continue;
        const double bend = r[i - 1] - 2.0 * r[i] + r[i + 1];
        return kFirst + kStep * (double(i) + (bend < 0.0 ? 0.5 * (r[i - 1] - r[i + 1]) / bend : 0.0));
    }
    return 0.0;
}

std::vector<double> spectrum256(const Samples& x, size_t from, size_t to) {
    constexpr size_t kN = 256;
    static const auto tables = [] {
        std::array<std::array<double, kN>, 3> t{};  // Hann window, cos and sin of 2 pi j / kN
        for (size_t n = 0; n < kN; ++n) {
            t[0][n] = 0.5 - 0.5 * std::cos(2.0 * M_PI * double(n) / kN);
            t[1][n] = std::cos(2.0 * M_PI * double(n) / kN);
            t[2][n] = std::sin(2.0 * M_PI * double(n) / kN);
        }
        return t;
    }();
    std::vector<double> power(kN / 2 + 1, 0.0);
    for (size_t start = from; start + kN <= std::min(to, x.size()); start += kN / 2) {
        double w[kN];
        for (size_t n = 0; n < kN; ++n) w[n] = tables[0][n] * x[start + n];
        for (size_t k = 0; k <= kN / 2; ++k) {
            double re = 0.0, im = 0.0;
            for (size_t n = 0; n < kN; ++n) {
                re += w[n] * tables[1][(k * n) % kN];
                im -= w[n] * tables[2][(k * n) % kN];
            }
            power[k] += re * re + im * im;
        }
    }
    return power;
}

long bestLag(const Samples& ref, const Samples& test, size_t maxLag) {
    long best = 0;
    double bestSum = -1e300;
    const size_t span = std::min<size_t>({ref.size(), test.size(), 16000});
    for (long lag = -long(maxLag); lag <= long(maxLag); ++lag) {
        double sum = 0.0;
        for (size_t i = maxLag; i + maxLag < span; ++i) sum += double(ref[i]) * test[size_t(long(i) + lag)];
        if (sum > bestSum) bestSum = sum, best = lag;
    }
    return best;
}

double logSpectralDistance(const Samples& ref, const Samples& test, long lag) {
    constexpr size_t kN = 256, kHop = 80, kBins = kN / 2 + 1, kLow = 4, kHigh = 121;  // 100..3800 Hz
    std::vector<double> window(kN), cosine(kN), sine(kN);
    for (size_t n = 0; n < kN; ++n) {
        window[n] = 0.5 - 0.5 * std::cos(2.0 * M_PI * double(n) / kN);
        cosine[n] = std::cos(2.0 * M_PI * double(n) / kN);
        sine[n] = std::sin(2.0 * M_PI * double(n) / kN);
    }
    auto frames = [&](const Samples& x, size_t from) {  // log power per frame and bin
        std::vector<std::vector<double>> out;
        for (size_t at = from; at + kN <= x.size(); at += kHop) {
            std::vector<double> bins(kBins);
            for (size_t k = 0; k < kBins; ++k) {
                double re = 0.0, im = 0.0;
                for (size_t n = 0; n < kN; ++n) {
                    const double v = x[at + n] * window[n];
                    re += v * cosine[(k * n) % kN];
                    im -= v * sine[(k * n) % kN];
                }
                bins[k] = 10.0 * std::log10(re * re + im * im + 1e-3);
            }
            out.push_back(bins);
        }
        return out;
    };
    const auto r = frames(ref, lag < 0 ? size_t(-lag) : 0), t = frames(test, lag > 0 ? size_t(lag) : 0);
    const size_t count = std::min(r.size(), t.size());
    double loudest = 0.0;
    std::vector<double> energy(count);
    for (size_t f = 0; f < count; ++f) {
        double sum = 0.0;
        for (double v : r[f]) sum += std::pow(10.0, v / 10.0);
        energy[f] = 10.0 * std::log10(sum);
        loudest = std::max(loudest, energy[f]);
    }
    double total = 0.0;
    size_t used = 0;
    for (size_t f = 0; f < count; ++f) {
        if (energy[f] < loudest - 35.0) continue;
        double sq = 0.0;
        for (size_t k = kLow; k <= kHigh; ++k) sq += (r[f][k] - t[f][k]) * (r[f][k] - t[f][k]);
        total += std::sqrt(sq / double(kHigh - kLow + 1));
        ++used;
    }
    return used ? total / double(used) : 0.0;
}

uint64_t fnv1a(const void* data, size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    uint64_t h = 0xcbf29ce484222325ull;
    for (size_t i = 0; i < n; ++i) {
        h ^= p[i];
        h *= 0x100000001b3ull;
    }
    return h;
}

Samples sine(size_t n, double hz, double amplitude, double rate) {
    Samples s(n);
    for (size_t i = 0; i < n; ++i) s[i] = int16_t(std::lround(amplitude * std::sin(2.0 * M_PI * hz * double(i) / rate)));
    return s;
}

namespace {

// A two-pole resonator at hz with the given bandwidth, run over x in place.
void resonate(std::vector<double>& x, double hz, double bandwidth, double rate) {
    const double r = std::exp(-M_PI * bandwidth / rate);
    const double a1 = 2.0 * r * std::cos(2.0 * M_PI * hz / rate), a2 = -r * r;
    double y1 = 0.0, y2 = 0.0;
    for (double& v : x) {
        const double y = v + a1 * y1 + a2 * y2;
        y2 = y1;
        y1 = y;
        v = y;
    }
}

Samples scaledToPeak(const std::vector<double>& x, double peak) {
    double top = 0.0;
    for (double v : x) top = std::max(top, std::fabs(v));
    Samples s(x.size());
    for (size_t i = 0; i < x.size(); ++i) s[i] = int16_t(std::lround(top > 0.0 ? x[i] * peak / top : 0.0));
    return s;
}

}  // namespace

Samples vowel(size_t n, double f0, double peak, double rate) {
    std::vector<double> x(n, 0.0);
    const double period = rate / f0;
    for (double t = 0.0; t < double(n); t += period) x[size_t(t)] = 1.0;
    resonate(x, 700.0, 90.0, rate);
    resonate(x, 1200.0, 110.0, rate);
    return scaledToPeak(x, peak);
}

Samples noise(size_t n, double amplitude, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-amplitude, amplitude);
    Samples s(n);
    for (auto& v : s) v = int16_t(std::lround(u(rng)));
    return s;
}

Samples speechLike(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Samples out;
    for (int part = 0; out.size() < n; ++part) {
        const size_t len = 1440;
        Samples piece;
        switch (part % 4) {
            case 0: piece = vowel(len, 100.0 + double(rng() % 120), 8000.0 + double(rng() % 12000)); break;
            case 1: piece = noise(len, 1500.0 + double(rng() % 2000), rng()); break;
            case 2: piece = vowel(len, 160.0 + double(rng() % 90), 4000.0 + double(rng() % 8000)); break;
            default: piece = Samples(len, 0); break;
        }
        out.insert(out.end(), piece.begin(), piece.end());
    }
    out.resize(n);
    return out;
}

ByteWriter& ByteWriter::id(const char* s) {
    for (int i = 0; i < 4; ++i) push_back(uint8_t(s[i]));  // a range insert trips g++ 12 at -O2
    return *this;
}
ByteWriter& ByteWriter::le16(uint16_t v) {
    push_back(uint8_t(v));
    push_back(uint8_t(v >> 8));
    return *this;
}
ByteWriter& ByteWriter::le32(uint32_t v) { return le16(uint16_t(v)).le16(uint16_t(v >> 16)); }
ByteWriter& ByteWriter::be16(uint16_t v) {
    push_back(uint8_t(v >> 8));
    push_back(uint8_t(v));
    return *this;
}
ByteWriter& ByteWriter::be32(uint32_t v) { return be16(uint16_t(v >> 16)).be16(uint16_t(v)); }
ByteWriter& ByteWriter::f32(float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    return le32(u);
}
ByteWriter& ByteWriter::add(const Bytes& b) {
    for (uint8_t c : b) push_back(c);
    return *this;
}
ByteWriter& ByteWriter::zeros(size_t n) {
    insert(end(), n, 0);
    return *this;
}
ByteWriter& ByteWriter::chunk(const char* name, const Bytes& body, bool pad) {
    id(name).le32(uint32_t(body.size())).add(body);
    if (pad && (body.size() & 1)) push_back(0);
    return *this;
}
ByteWriter& ByteWriter::chunkBE(const char* name, const Bytes& body) {
    id(name).be32(uint32_t(body.size())).add(body);
    if (body.size() & 1) push_back(0);
    return *this;
}

Bytes pcmWave(const Bytes& data, uint32_t rate, uint16_t bits, uint16_t channels) {
    const uint16_t align = uint16_t(channels * ((bits + 7) / 8));
    ByteWriter fmt;
    fmt.le16(1).le16(channels).le32(rate).le32(rate * align).le16(align).le16(bits);
    ByteWriter body;
    body.id("WAVE").chunk("fmt ", fmt).chunk("data", data, true);
    ByteWriter file;
    file.chunk("RIFF", body);
    return file;
}

size_t waveDataOffset(const Bytes& wave) {
    for (size_t at = 12; at + 8 <= wave.size();) {
        const uint32_t size = uint32_t(wave[at + 4]) | uint32_t(wave[at + 5]) << 8 | uint32_t(wave[at + 6]) << 16 |
                              uint32_t(wave[at + 7]) << 24;
        if (std::memcmp(&wave[at], "data", 4) == 0) return at + 8;
        at += 8 + size_t(size) + (size & 1);
    }
    return 0;
}

Samples readWaveSamples(const std::string& path) {
    const Bytes b = readFile(path);
    if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) != 0) return {};
    const size_t at = waveDataOffset(b);
    if (at == 0) return {};
    const uint32_t size = uint32_t(b[at - 4]) | uint32_t(b[at - 3]) << 8 | uint32_t(b[at - 2]) << 16 |
                          uint32_t(b[at - 1]) << 24;
    const size_t end = size == 0 ? b.size() : std::min(b.size(), at + size_t(size));
    return samples16(Bytes(b.begin() + long(at), b.begin() + long(end)));
}

namespace {

using Clock = std::chrono::steady_clock;

// Drains both pipes until the child closes them or the time runs out.
bool drain(int outFd, int errFd, ToolRun& run, Clock::time_point deadline) {
    pollfd p[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    std::string* sinks[2] = {&run.out, &run.err};
    int open = 2;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 || poll(p, 2, int(left)) <= 0) return false;
        for (int i = 0; i < 2; ++i) {
            if (p[i].fd < 0 || !(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char chunk[4096];
            const ssize_t n = read(p[i].fd, chunk, sizeof chunk);
            if (n > 0) {
                sinks[i]->append(chunk, size_t(n));
            } else {
                p[i].fd = -1;
                --open;
            }
        }
    }
    return true;
}

}  // namespace

ToolRun runTool(const std::vector<std::string>& argv, const std::string& input,
                const std::map<std::string, std::string>& env, int timeoutMs) {
    ToolRun run;
    // Standard input from an unnamed file, so that no pipe can fill up while
    // the child is busy writing.
    FILE* in = tmpfile();
    int out[2], err[2];
    if (!in || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) return run;
    fwrite(input.data(), 1, input.size(), in);
    fflush(in);
    rewind(in);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fileno(in), 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    fclose(in);
    close(out[1]);
    close(err[1]);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const bool ended = drain(out[0], err[0], run, deadline);
    close(out[0]);
    close(err[0]);
    if (!ended) kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string toolPath(const std::string& name) { return std::string(ZEF_BINARY_DIR) + "/tools/" + name + "/" + name; }

}  // namespace zeftest
