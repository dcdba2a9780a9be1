// Device names (the ZEFAUDIO syntax) and the formats the device plays.
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <deque>

#include "zefaudio_backend.h"

namespace zef::audio {

namespace {

constexpr double kMaxSpeed = 1000.0;

// ",word=value" at the end of a name is an option; anything else (such as
// the ",0" of "hw:0,0") belongs to the name.
bool looksLikeOption(const std::string& seg) {
    size_t eq = seg.find('=');
    if (eq == std::string::npos || eq == 0) return false;
    for (size_t i = 0; i < eq; ++i)
        if (seg[i] < 'a' || seg[i] > 'z') return false;
    return true;
}

bool parseSpeed(const std::string& value, double& speed, std::string& why) {
    const char* s = value.c_str();
    char* end = nullptr;
    errno = 0;
    double v = std::strtod(s, &end);
    if (value.empty() || *end != '\0' || errno != 0 || !std::isfinite(v) || v <= 0.0 ||
        v > kMaxSpeed) {
        why = "speed must be a number above 0 and at most 1000, not \"" + value + "\"";
        return false;
    }
    speed = v;
    return true;
}

std::string absolutePath(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd)) return path;
    return std::string(cwd) + "/" + path;
}

// One spelling per file: the directory as the system resolves it ("./",
// "../", links), then the name in it.  The name itself is not followed: a
// link given as a file device's name is replaced, not written through.
std::string canonicalFile(const std::string& path) {
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    char* real = realpath(dir.c_str(), nullptr);
    if (!real) return path;
    std::string resolved = real;
    std::free(real);
    return (resolved == "/" ? "" : resolved) + "/" + base;
}

}  // namespace

std::string DeviceChoice::identity() const {
    std::string side = input ? "in-" : "";
    switch (kind) {
    case Kind::Alsa: return side + "alsa:" + arg;
    case Kind::File: return side + "file:" + canonicalFile(arg);
    case Kind::Null: return side + (arg.empty() ? "null" : "null:" + arg);
    }
    return "";
}

bool parseDeviceChoice(const std::string& text, DeviceChoice& out, std::string& why) {
    std::string head = text;
    std::deque<std::string> options;
    for (size_t comma; (comma = head.rfind(',')) != std::string::npos;) {
        std::string seg = head.substr(comma + 1);
        if (!looksLikeOption(seg)) break;
        options.push_front(seg);
        head.resize(comma);
    }
    size_t colon = head.find(':');
    std::string name = head.substr(0, colon);
    std::string arg = colon == std::string::npos ? "" : head.substr(colon + 1);

    DeviceChoice choice;
    if (name == "alsa") {
        choice.kind = DeviceChoice::Kind::Alsa;
        choice.arg = arg.empty() ? "default" : arg;
    } else if (name == "file") {
        if (arg.empty()) {
            why = "\"file:\" needs the path of the WAVE file to write";
            return false;
        }
        choice.kind = DeviceChoice::Kind::File;
        choice.arg = absolutePath(arg);
    } else if (name == "null") {
        choice.kind = DeviceChoice::Kind::Null;
        choice.arg = arg;
    } else {
        why = "unknown audio device \"" + text + "\" (use alsa[:PCM], file:PATH.wav or null)";
        return false;
    }

    for (const std::string& opt : options) {
        std::string key = opt.substr(0, opt.find('='));
        std::string value = opt.substr(key.size() + 1);
        if (key != "speed") {
            why = "unknown option \"" + key + "\" in \"" + text + "\"";
            return false;
        }
        if (choice.kind == DeviceChoice::Kind::Alsa) {
            why = "speed applies to the null and file devices only, not to \"" + text + "\"";
            return false;
        }
        if (!parseSpeed(value, choice.speed, why)) return false;
    }
    out = choice;
    return true;
}

std::string checkFormat(const Format& f) {
    if (f.rate < 1000 || f.rate > 384000)
        return "sample rate " + std::to_string(f.rate) + " is outside 1000..384000";
    if (f.channels < 1 || f.channels > 8)
        return std::to_string(f.channels) + " channels are outside 1..8";
    if (f.encoding == AUDIO_ENCODING_LINEAR) {
        if (f.precision == 8 || f.precision == 16 || f.precision == 24 || f.precision == 32)
            return "";
        return "linear samples of " + std::to_string(f.precision) + " bits are not supported";
    }
    if (f.encoding == AUDIO_ENCODING_LINEAR8) {
        if (f.precision == 8) return "";
        return "unsigned linear samples are 8 bits wide";
    }
    return "encoding " + std::to_string(f.encoding) + " is not supported (only linear PCM)";
}

}  // namespace zef::audio
