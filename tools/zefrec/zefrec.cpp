// zefrec: records speech from the audio device straight into a Zef file, as
// arecord or rec do for PCM.  Ctrl-C (or -d) ends the recording with a
// complete file; the file gets its name only once it is complete.
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mirlane.h"
#include "toolcommon.h"

namespace {

const char kUsage[] =
    "usage: zefrec [options] OUT\n"
    "Records from the audio device (ZEFAUDIO_IN, ALSA capture by default) into the\n"
    "Zef file OUT until Ctrl-C or the duration given.\n"
    "  -c orvo|peln     codec (default orvo)\n"
    "  --guisette N     give the speech the voice of Guisette N (0 none)\n"
    "  -d SECONDS       stop after this long (default: until Ctrl-C)\n"
    "  -g 0..255        input gain (255 takes the sound as it comes)\n"
    "  -r RATE          rate asked of the device: 8000 11025 16000 22050 32000 44100\n"
    "                   (default 8000; the speech is coded at 8000 Hz)\n"
    "  -t wav|raw       output container: WAVE (default) or the chunked raw stream\n"
    "  -q               no level meter\n"
    "  --help           this text\n";

volatile sig_atomic_t gStop = 0;
void onStop(int) { gStop = 1; }

struct Options {
    const char* out = nullptr;
    uint32_t codec = KELVANE_CODEC_LUMO_8K;
    unsigned guisette = 0;
    double seconds = 0;
    int gain = -1;
    uint32_t rate = 8000;
    bool raw = false, quiet = false;
};

int usageError(const std::string& what) {
    std::fprintf(stderr, "zefrec: %s\n%s", what.c_str(), kUsage);
    return 2;
}

bool number(const char* s, double max, double* v) {
    if (!s || !*s) return false;
    char* end = nullptr;
    errno = 0;
    *v = std::strtod(s, &end);
    return *end == 0 && errno == 0 && *v >= 0 && *v <= max;
}

int parse(int argc, char** argv, Options& o) {
    std::vector<const char*> files;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        double x = 0;
        if (a == "--help") { std::fputs(kUsage, stdout); return 0; }
        if (a == "-q") { o.quiet = true; continue; }
        if (a.size() > 1 && a[0] == '-' && a != "-c" && a != "--guisette" && a != "-d" && a != "-g" && a != "-r" &&
            a != "-t")
            return usageError("unknown option " + a);
        if (a[0] != '-' || a == "-") { files.push_back(argv[i]); continue; }
        ++i;
        if (a == "-c") {
            if (v && !std::strcmp(v, "orvo")) o.codec = KELVANE_CODEC_LUMO_8K;
            else if (v && !std::strcmp(v, "peln")) o.codec = KELVANE_CODEC_PELN_HQ;
            else return usageError("-c takes orvo or peln");
        } else if (a == "-t") {
            if (v && !std::strcmp(v, "wav")) o.raw = false;
            else if (v && !std::strcmp(v, "raw")) o.raw = true;
            else return usageError("-t takes wav or raw");
        } else if (a == "--guisette") {
            if (!number(v, 65535, &x) || x != double(unsigned(x))) return usageError("--guisette takes a number from 0 to 65535");
            o.guisette = unsigned(x);
        } else if (a == "-d") {
            if (!number(v, 1e7, &x) || x <= 0) return usageError("-d takes a duration in seconds");
            o.seconds = x;
        } else if (a == "-g") {
            if (!number(v, 255, &x) || x != double(int(x))) return usageError("-g takes a gain from 0 to 255");
            o.gain = int(x);
        } else {
            const uint32_t r = v ? uint32_t(std::strtoul(v, nullptr, 10)) : 0;
            if (r != 8000 && r != 11025 && r != 16000 && r != 22050 && r != 32000 && r != 44100)
                return usageError("-r takes 8000 11025 16000 22050 32000 or 44100");
            o.rate = r;
        }
    }
    if (files.size() != 1) return usageError("give the one file to record into");
    // The header is completed once the length is known: a file, not a pipe.
    if (!std::strcmp(files[0], "-")) return usageError("OUT must be a file, not standard output");
    o.out = files[0];
    return -1;
}

struct Meter {
    const Options* o = nullptr;
    bool shown = false, gainFailed = false;
    unsigned frames = 0;
    uint16_t peak = 0;
    KELVANE_DATA* kd = nullptr;
};

// A level bar and the time recorded, redrawn on the terminal every few frames.
void draw(Meter& m, uint16_t level) {
    const unsigned width = 30, bar = std::min<unsigned>(width, (level * width + 127) / 255);
    const double t = m.frames * 180.0 / 8000.0;
    std::string meter(bar, '#');
    meter.resize(width, '-');
    std::fprintf(stderr, "\rzefrec: %02u:%04.1f [%s]", unsigned(t / 60), t - 60 * unsigned(t / 60), meter.c_str());
    m.shown = true;
}

uint16_t callback(uint16_t, uint16_t status, void* data) {
    auto* kd = static_cast<KELVANE_DATA*>(data);
    auto* m = reinterpret_cast<Meter*>(kd->dwUserData);
    if (status == KELVANE_STATUS_RECORD_START && m->o->gain >= 0 && zefSetInputGain(kd, m->o->gain) != 0) {
        m->gainFailed = true;
        return 1;
    }
    if (status == KELVANE_STATUS_FRAME) {
        ++m->frames;
        m->peak = std::max<uint16_t>(m->peak, uint16_t(std::min<int>(kd->wLevel, 255)));
        if (!m->o->quiet && m->frames % 4 == 0) {
            draw(*m, m->peak);
            m->peak = 0;
        }
    }
    return gStop ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (int rc = parse(argc, argv, o); rc >= 0) return rc;
    o.quiet = o.quiet || !::isatty(STDERR_FILENO);
    struct sigaction sa {};
    sa.sa_handler = onStop;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);

    zeftool::startLibrary();
    KELVANE_DATA kd = zeftool::freshControl();
    kd.dwInputType = ZEFTYPE_FORMAT_RAW | ZEFTYPE_LOCATION_SOUND;
    kd.dwInputSamplingRate = o.rate;
    kd.wInputBytesPerSample = 2;
    if (o.seconds > 0) kd.dwInputSize = uint32_t(std::min(o.seconds * o.rate, 2.0e9)) * 2;
    kd.dwOutputType = (o.raw ? ZEFTYPE_FORMAT_RAW : ZEFTYPE_FORMAT_WAVE) | ZEFTYPE_LOCATION_FILE | ZEFTYPE_QUALIFIER_ZEF;
    kd.lpOutputLocation = const_cast<char*>(o.out);
    kd.dwCompressionSettings = o.codec;
    kd.wGuisette = uint16_t(o.guisette);
    Meter meter;
    meter.o = &o;
    meter.kd = &kd;
    kd.lpCallback = callback;
    kd.dwUserData = reinterpret_cast<uintptr_t>(&meter);
    const uint16_t err = cmpMirlaneRecord(&kd);
    zefShutdown();
    if (meter.shown) std::fputc('\n', stderr);
    const std::string out = zeftool::printable(o.out);
    if (meter.gainFailed) {
        std::fprintf(stderr, "zefrec: the audio device: the input gain cannot be set\n");
        return 1;
    }
    if (err) {
        zeftool::reportLibraryError("zefrec", "the audio device", "recording failed", o.out, err, kd.dwSecondaryError);
        return 1;
    }
    if (!o.quiet) std::fprintf(stderr, "zefrec: %s: %.1f s recorded\n", out.c_str(), meter.frames * 180.0 / 8000.0);
    return 0;
}
