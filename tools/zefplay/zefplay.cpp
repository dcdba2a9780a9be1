// zefplay: plays a coded speech file (Orvo or Peln) or a PCM file on the
// audio device through the library's own playback process, or a built-in
// Guisette preview.
#include <csignal>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mirlane.h"
#include "toolcommon.h"
#include "zefaudio.h"

namespace {

const char kUsage[] =
    "usage: zefplay [options] IN\n"
    "       zefplay --preview N\n"
    "Plays IN on the audio device: coded speech (Zef in WAVE, raw or packet form)\n"
    "or PCM (WAVE, AIFF).  ZEFAUDIO chooses the device: alsa[:PCM] (default),\n"
    "file:PATH.wav (records what plays), null.  Ctrl-C stops at once.\n"
    "\n"
    "  -w FACTOR         time warp, 0.2 (five times faster) .. 5.0 (five times longer)\n"
    "  --semitones N     shift the pitch by N semitones (-24 .. 24)\n"
    "  --pitch-hz F      speak at the fixed pitch F Hz (70 .. 400)\n"
    "  -b 8|16           sample size played for coded speech (8 is unsigned)\n"
    "  --preview N       play the built-in preview of Guisette N\n"
    "  -q                no progress line\n"
    "  -h, --help        this text\n";

volatile sig_atomic_t gInterrupted = 0;

void onInterrupt(int) { gInterrupted = 1; }

struct Options {
    const char* in = nullptr;
    float warp = 1.0f;
    bool absolutePitch = false;
    float pitch = 0.0f;
    uint16_t bytesPerSample = 0;
    long preview = -1;
    bool quiet = false;
};

[[noreturn]] void usageError(const std::string& what) {
    std::fprintf(stderr, "zefplay: %s\n%s", what.c_str(), kUsage);
    std::exit(2);
}

double number(const char* text, const char* option) {
    char* end = nullptr;
    errno = 0;
    double v = std::strtod(text, &end);
    if (!text[0] || *end || errno || !std::isfinite(v)) usageError(std::string("bad value for ") + option);
    return v;
}

const char* value(int& i, int argc, char** argv) {
    if (i + 1 >= argc) usageError(std::string("missing value for ") + argv[i]);
    return argv[++i];
}

Options parse(int argc, char** argv) {
    Options o;
    std::vector<const char*> files;
    bool optionsDone = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (optionsDone || a == "-" || a.empty() || a[0] != '-') {
            files.push_back(argv[i]);
        } else if (a == "--") {
            optionsDone = true;
        } else if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (a == "-w") {
            o.warp = float(number(value(i, argc, argv), "-w"));
        } else if (a == "--semitones") {
            o.absolutePitch = false;
            o.pitch = float(number(value(i, argc, argv), "--semitones"));
        } else if (a == "--pitch-hz") {
            o.absolutePitch = true;
            o.pitch = float(number(value(i, argc, argv), "--pitch-hz"));
        } else if (a == "-b") {
            double b = number(value(i, argc, argv), "-b");
            if (b != 8 && b != 16) usageError("-b takes 8 or 16");
            o.bytesPerSample = uint16_t(b / 8);
        } else if (a == "--preview") {
            double n = number(value(i, argc, argv), "--preview");
            if (n < 0 || n > 65535 || n != std::floor(n)) usageError("--preview takes a Guisette number");
            o.preview = long(n);
        } else if (a == "-q") {
            o.quiet = true;
        } else {
            usageError("unknown option " + a);
        }
    }
    if (o.preview >= 0) {
        if (!files.empty()) usageError("--preview plays no file");
        return o;
    }
    if (files.size() != 1) usageError("give one file to play");
    o.in = files[0];
    return o;
}

void reportError(const char* what, uint16_t err, uint32_t secondary, const char* file = nullptr) {
    if (file) {
        zeftool::reportLibraryError("zefplay", file, what, "the audio device", err, secondary);
        return;
    }
    char text[ZEF_MESSAGE_SIZE];
    mlGetStringFromErrorN(err, secondary, text, sizeof text);
    std::fprintf(stderr, "zefplay: %s\n%s", what, zeftool::printable(text, true).c_str());
}

// The input's type word and, for a packet stream (played from memory), its bytes.
bool inputType(const char* name, uint32_t* type, std::vector<uint8_t>* packet) {
    FILE* f = std::fopen(name, "rb");
    if (!f) {
        std::fprintf(stderr, "zefplay: %s: %s\n", zeftool::printable(name).c_str(), std::strerror(errno));
        return false;
    }
    uint8_t head[12] = {};
    size_t n = std::fread(head, 1, sizeof head, f);
    *type = ZEFTYPE_FORMAT_RAW | ZEFTYPE_LOCATION_FILE | ZEFTYPE_QUALIFIER_ZEF;
    if (n >= 4 && std::memcmp(head, "FORM", 4) == 0) *type = ZEFTYPE_FORMAT_AIFF | ZEFTYPE_LOCATION_FILE;
    if (n >= 4 && std::memcmp(head, "RIFF", 4) == 0) {
        // A WAVE file that reads as PCM is PCM; the others are coded.
        ZEF_FILE_INFO info;
        KELVANE_DATA kd;
        std::memset(&kd, 0, sizeof kd);
        kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
        kd.dwInputType = ZEFTYPE_FORMAT_WAVE | ZEFTYPE_LOCATION_FILE;
        kd.lpInputLocation = const_cast<char*>(name);
        kd.dwOutputType = ZEFTYPE_FILE_INFO;
        kd.lpOutputLocation = &info;
        kd.dwOutputSize = sizeof info;
        bool pcm = utilGetFileInfo(&kd) == 0;
        *type = ZEFTYPE_FORMAT_WAVE | ZEFTYPE_LOCATION_FILE | (pcm ? ZEFTYPE_QUALIFIER_PCM : ZEFTYPE_QUALIFIER_ZEF);
    }
    if (n >= 12 && std::memcmp(head + 8, "zef!", 4) == 0) {
        std::fseek(f, 0, SEEK_SET);
        uint8_t chunk[65536];
        size_t got;
        while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) packet->insert(packet->end(), chunk, chunk + got);
        *type = ZEFTYPE_FORMAT_RAW | ZEFTYPE_LOCATION_PACKET | ZEFTYPE_QUALIFIER_ZEF;
    }
    std::fclose(f);
    return true;
}

struct Progress {
    bool quiet;
    int control;       // control side of the device, -1 when there is none
    long shown;        // whole seconds last shown
};

void showProgress(Progress* p) {
    audio_info info;
    if (p->quiet || p->control < 0 || zefAudioGetInfo(p->control, &info) != 0 || info.play.sample_rate == 0) return;
    long seconds = long(info.play.samples / info.play.sample_rate);
    if (seconds == p->shown) return;
    p->shown = seconds;
    std::fprintf(stderr, "\rzefplay: %ld s", seconds);
}

// Called once per buffer round: shows the time heard, stops after Ctrl-C.
uint16_t playCallback(uint16_t, uint16_t status, void* data) {
    auto* kd = static_cast<KELVANE_DATA*>(data);
    auto* p = reinterpret_cast<Progress*>(kd->dwUserData);
    if (status == KELVANE_STATUS_FRAME || status == KELVANE_STATUS_PAUSED) showProgress(p);
    return gInterrupted ? 1 : 0;
}

void catchInterrupts() {
    struct sigaction sa{};
    sa.sa_handler = onInterrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

bool startLibrary() {
    if (uint16_t err = zeftool::startLibrary()) {
        reportError("the library did not start", err, 0);
        return false;
    }
    return true;
}

bool knownGuisette(unsigned number) {
    std::vector<char> buffer(size_t(ZEF_GUISETTE_DESCRIPTION_SIZE) * 100);
    uint16_t count = 100;
    if (zefGetGuisetteDescriptions(buffer.data(), &count) != 0) return false;
    for (uint16_t i = 0; i < count; ++i) {
        ZEF_GUISETTE_DESCRIPTION d;
        std::memcpy(&d, buffer.data() + size_t(i) * ZEF_GUISETTE_DESCRIPTION_SIZE, sizeof d);
        if (d.guisetteId == number) return true;
    }
    return false;
}

int playPreview(unsigned number) {
    if (!startLibrary()) return 1;
    int status = 0;
    if (!knownGuisette(number)) {
        std::fprintf(stderr, "zefplay: there is no Guisette %u (zefinfo --guisettes lists them)\n", number);
        status = 1;
    } else if (uint16_t err = zefPlayGuisettePreview(number)) {
        reportError("the preview did not play", err, 0);
        status = 1;
    }
    zefShutdown();
    return status;
}

int playFile(const Options& o) {
    uint32_t type = 0;
    std::vector<uint8_t> packet;
    if (!inputType(o.in, &type, &packet)) return 1;
    if (!startLibrary()) return 1;
    KELVANE_DATA kd;
    std::memset(&kd, 0, sizeof kd);
    kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
    kd.dwInputType = type;
    if (packet.empty()) {
        kd.lpInputLocation = const_cast<char*>(o.in);
    } else {
        kd.lpInputLocation = packet.data();
        kd.dwInputSize = uint32_t(packet.size());
    }
    kd.dwOutputType = ZEFTYPE_LOCATION_SOUND;
    bool coded = (type & ZEFTYPE_QUALIFIER_MASK) == ZEFTYPE_QUALIFIER_ZEF;
    if (coded) {
        kd.wOutputBytesPerSample = o.bytesPerSample;
        kd.fWarpedLengthFactor = o.warp;
        kd.wUseAbsolutePitch = o.absolutePitch;
        kd.fRelativePitch = o.absolutePitch ? 0.0f : o.pitch;
        kd.fAbsolutePitch = o.absolutePitch ? o.pitch : 100.0f;
    }
    Progress progress{o.quiet, zefAudioOpenCtl(), -1};
    kd.dwUserData = reinterpret_cast<uintptr_t>(&progress);
    kd.lpCallback = playCallback;
    catchInterrupts();

    uint16_t err = dcmpMirlanePlay(&kd, 0, 0);
    uint32_t secondary = kd.dwSecondaryError;
    // Stopped by Ctrl-C: the session is still open; closing it discards
    // what is queued and lets the device go.
    if (kd.lpControlBlock) dcmpMirlaneCleanup(&kd);
    if (!o.quiet && progress.shown >= 0) std::fputc('\n', stderr);
    if (progress.control >= 0) zefAudioClose(progress.control);
    zefShutdown();
    if (err) {
        reportError("playback failed", err, secondary, o.in);
        return 1;
    }
    return gInterrupted ? 130 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options o = parse(argc, argv);
    if (o.preview >= 0) return playPreview(unsigned(o.preview));
    return playFile(o);
}
