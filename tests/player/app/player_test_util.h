// Helpers for the player's tests: coded speech files, zefdec's decode as the
// reference, recorded WAVE files read back, a scratch directory, and, on the
// test's own Xvfb, the player's windows found, clicked and looked at.
//
// Include it before any X header (see xvfb_fixture.h).
#ifndef ZEF_TESTS_PLAYER_APP_PLAYER_TEST_UTIL_H
#define ZEF_TESTS_PLAYER_APP_PLAYER_TEST_UTIL_H

#include "xvfb_fixture.h"  // first: see there

#include <X11/Xatom.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "zefwriter.h"

namespace ptest {

using Samples = std::vector<int16_t>;
using zeftest::ChildProcess;
using zeftest::Clock;

class ScratchDir {
public:
    ScratchDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "zefplayer-test-XXXXXX").string();
        path_ = mkdtemp(tmpl.data()) ? tmpl : std::string();
    }
    ~ScratchDir() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string path(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Orvo speech of the given number of frames (22.5 ms each) as a WAVE file.
inline std::string writeSpeech(const ScratchDir& dir, const std::string& name, int frames) {
    const std::string path = dir.path(name);
    zeftest::writeFile(path, zeftest::zefWave(zeftest::orvo(), zeftest::orvoSpeechLike(frames)));
    return path;
}

// Offset of the first coded byte of a Zef WAVE file, after the "data"
// chunk's header; 0 if there is none.
inline size_t dataOffset(const std::vector<uint8_t>& wave) {
    for (size_t i = 12; i + 8 <= wave.size(); ++i)
        if (std::memcmp(&wave[i], "data", 4) == 0) return i + 8;
    return 0;
}

// The samples of a 16-bit WAVE file; empty when it is not one. A file whose
// header was never completed (sizes 0) is read to its end.
inline Samples readWave(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)), {});
    if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) != 0) return {};
    for (size_t at = 12; at + 8 <= b.size();) {
        const uint32_t size = uint32_t(b[at + 4]) | uint32_t(b[at + 5]) << 8 | uint32_t(b[at + 6]) << 16 |
                              uint32_t(b[at + 7]) << 24;
        if (std::memcmp(&b[at], "data", 4) == 0) {
            size_t end = size == 0 ? b.size() : std::min(b.size(), at + 8 + size_t(size));
            Samples s;
            for (size_t i = at + 8; i + 2 <= end; i += 2) s.push_back(int16_t(b[i] | b[i + 1] << 8));
            return s;
        }
        at += 8 + size_t(size) + (size & 1);
    }
    return {};
}

// True once the file device has completed the header of a recording that
// holds sound: the device was closed. While it plays, the data size in the
// header stays 0.
inline bool waveComplete(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    const std::streamoff size = in.tellg();
    uint8_t h[44] = {};
    in.seekg(0);
    in.read(reinterpret_cast<char*>(h), sizeof h);
    if (in.gcount() != 44) return false;
    const uint32_t data = uint32_t(h[40]) | uint32_t(h[41]) << 8 | uint32_t(h[42]) << 16 | uint32_t(h[43]) << 24;
    return data > 0 && std::streamoff(44 + data + (data & 1)) == size;
}

// zefdec's decode of a whole file.
inline Samples referenceDecode(const std::string& zef, const std::string& scratchWave) {
    const int status = zeftest::runCommand({ZEFDEC, "-q", zef, scratchWave}, 60000);
    EXPECT_EQ(status, 0) << "zefdec " << zef;
    return readWave(scratchWave);
}

// The decode of the same file cut to its frames from index `first` on,
// which is what a fresh decoder started at that frame produces.
inline Samples decodeFromFrame(const std::vector<zeftest::Frame>& frames, size_t first, const ScratchDir& dir) {
    std::vector<zeftest::Frame> rest(frames.begin() + long(first), frames.end());
    const std::string cut = dir.path("cut.zef");
    zeftest::writeFile(cut, zeftest::zefWave(zeftest::orvo(), rest));
    return referenceDecode(cut, dir.path("cut.wav"));
}

inline bool endsWith(const Samples& all, const Samples& tail) {
    return all.size() >= tail.size() && std::equal(tail.begin(), tail.end(), all.end() - long(tail.size()));
}

inline bool startsWith(const Samples& all, const Samples& head, size_t n) {
    return n <= all.size() && n <= head.size() && std::equal(all.begin(), all.begin() + long(n), head.begin());
}

// Fundamental frequency of a steady voiced stretch by autocorrelation, Hz.
inline double pitchOf(const Samples& s, size_t from, size_t length) {
    if (from + length + 200 > s.size()) return 0.0;
    int bestLag = 0;
    double best = 0.0;
    for (int lag = 16; lag <= 125; ++lag) {
        double sum = 0.0;
        for (size_t i = from; i < from + length; ++i) sum += double(s[i]) * s[i + size_t(lag)];
        if (sum > best) {
            best = sum;
            bestLag = lag;
        }
    }
    return bestLag ? 8000.0 / bestLag : 0.0;
}

// ---- windows of other processes on the test's server ----------------------------------

// The first top-level client window whose WM_NAME is title; 0 if none yet.
inline Window findWindow(Display* d, const std::string& title) {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count)) return 0;
    Window found = 0;
    for (unsigned int i = count; i-- > 0 && !found;) {
        XWindowAttributes a;
        char* name = nullptr;
        if (XGetWindowAttributes(d, children[i], &a) && a.map_state == IsViewable &&
            XFetchName(d, children[i], &name) && name && title == name)
            found = children[i];
        if (name) XFree(name);
    }
    if (children) XFree(children);
    return found;
}

inline Window waitForWindow(Display* d, const std::string& title, int timeoutMs = 10000) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        if (Window w = findWindow(d, title)) return w;
        if (zeftest::msLeft(deadline) == 0) return 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// The window's "Audio-Msg" text; empty when the property is absent.
inline std::string audioMsg(Display* d, Window w) {
    const Atom atom = XInternAtom(d, "Audio-Msg", False);
    Atom type = 0;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    std::string text;
    if (XGetWindowProperty(d, w, atom, 0, 64, False, XA_STRING, &type, &format, &items, &after, &data) ==
            Success &&
        data && format == 8)
        text.assign(reinterpret_cast<char*>(data), strnlen(reinterpret_cast<char*>(data), items));
    if (data) XFree(data);
    return text;
}

inline bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (zeftest::msLeft(deadline) == 0) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// Pixels of one colour (0xRRGGBB) in a rectangle of window w.
inline int countColour(Display* d, Window w, int x, int y, int width, int height, unsigned long colour) {
    XImage* image = XGetImage(d, w, x, y, unsigned(width), unsigned(height), AllPlanes, ZPixmap);
    if (!image) return -1;
    int n = 0;
    for (int j = 0; j < height; ++j)
        for (int i = 0; i < width; ++i)
            if ((XGetPixel(image, i, j) & 0xffffff) == colour) ++n;
    XDestroyImage(image);
    return n;
}

constexpr unsigned long kGreen = 0x00ff00;
constexpr unsigned long kRed = 0xff0000;

// The play button's face: the play face is green, the stop face red. The
// button sits at (37, 56) in the panel; (x, y) is its picture's place in
// window w: in the panel by default, (1, 1) in the button's own window.
enum class Face { Play, Stop, Unknown };
inline Face buttonFace(Display* d, Window w, int x = 38, int y = 57) {
    const int green = countColour(d, w, x, y, 32, 20, kGreen);
    const int red = countColour(d, w, x, y, 32, 20, kRed);
    if (green > 20 && red == 0) return Face::Play;
    if (red > 20 && green == 0) return Face::Stop;
    return Face::Unknown;
}

}  // namespace ptest

#endif
