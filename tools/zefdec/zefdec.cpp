// zefdec: decodes a Zef file (Orvo or Peln speech) to WAVE, AIFF or raw PCM
// (the library's own writers) or, through libsndfile, FLAC, Ogg Vorbis, Opus,
// MP3 or AU; with -o DIR many files in parallel.
#include <cctype>
#include <csignal>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "batch.h"
#include "mirlane.h"
#include "soundfile.h"
#include "toolcommon.h"

namespace {

const char kUsage[] =
    "usage: zefdec [options] IN OUT\n"
    "       zefdec [options] -o DIR IN...\n"
    "Decodes the Zef file IN (Orvo 2.4 kbit/s or Peln 2.9 kbit/s speech) to OUT.\n"
    "OUT's extension chooses the format (.wav WAVE, .aif/.aiff/.aifc AIFF-C,\n"
    ".raw/.pcm raw PCM, .flac, .ogg Ogg Vorbis, .opus, .mp3, .au); '-' writes to\n"
    "standard output (WAVE unless -t raw).\n"
    "\n"
    "  -t FORMAT         wav, aiff, raw, flac, ogg, opus, mp3 or au, overriding the\n"
    "                    extension\n"
    "  -r RATE           output rate in Hz, 8000 to 192000 (default 8000)\n"
    "  -o DIR            decode every IN into DIR as NAME.wav (or the -t format)\n"
    "  -R                with -o: take the Zef files in directories, recursively\n"
    "  -j N              with -o: N files at a time (default: one per core)\n"
    "  -b 8|16           output sample size in bits (8 is unsigned)\n"
    "  -w FACTOR         time warp, 0.2 (five times faster) .. 5.0 (five times longer)\n"
    "  --semitones N     shift the pitch by N semitones (-24 .. 24)\n"
    "  --pitch-hz F      speak at the fixed pitch F Hz (70 .. 400)\n"
    "  --synth 1|2|3     synthesizer: 1 floating point, 2 and 3 fixed point\n"
    "  -q                no progress line\n"
    "  -h, --help        this text\n";

enum class Format { Wave, Aiff, Raw, Sound };  // Sound: through libsndfile

struct Options {
    const char* in = nullptr;
    const char* out = nullptr;
    Format format = Format::Wave;
    bool formatGiven = false;
    uint32_t rate = 0;
    uint16_t bytesPerSample = 0;
    float warp = 1.0f;
    bool absolutePitch = false;
    float pitch = 0.0f;
    uint16_t synth = 0;
    bool quiet = false;
    const zeftool::OutFormat* sound = nullptr;  // the format, when libsndfile writes it
    uint32_t hz = 8000;        // the output rate as a number
    bool convertRate = false;  // a rate the library does not make: from 8000 Hz
    std::vector<std::string> inputs;  // with -o
    const char* outDir = nullptr;
    bool recursive = false;
    unsigned jobs = 0;
};

[[noreturn]] void usageError(const char* what) {
    std::fprintf(stderr, "zefdec: %s\n%s", what, kUsage);
    std::exit(2);
}

bool endsWith(const std::string& s, const char* suffix) {
    size_t n = std::strlen(suffix);
    if (s.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != suffix[i]) return false;
    return true;
}

Format formatFromName(const char* name) {
    std::string s(name);
    if (endsWith(s, ".aif") || endsWith(s, ".aiff") || endsWith(s, ".aifc")) return Format::Aiff;
    if (endsWith(s, ".raw") || endsWith(s, ".pcm")) return Format::Raw;
    if (endsWith(s, ".wav")) return Format::Wave;
    if (zeftool::outFormatForFile(s)) return Format::Sound;  // .flac, .ogg, .opus, .mp3, .au
    return Format::Wave;
}

double number(const char* text, const char* option) {
    char* end = nullptr;
    errno = 0;
    double v = std::strtod(text, &end);
    if (!text[0] || *end || errno || !std::isfinite(v)) usageError((std::string("bad value for ") + option).c_str());
    return v;
}

// The two rates near 11127 and 22254 Hz are given to the library in their
// 16.16 fixed-point form.
uint32_t rateValue(double hz) {
    static const uint32_t plain[] = {8000, 11025, 16000, 22050, 32000, 44100};
    for (uint32_t r : plain)
        if (hz == r) return r;
    if (hz == 11127) return ZEF_RATE_11127_FIXED;
    if (hz == 22254) return ZEF_RATE_22254_FIXED;
    if (hz >= 8000 && hz <= 192000 && hz == std::floor(hz)) return 0;  // converted from 8000 Hz
    usageError("the output rate must be a whole number of hertz from 8000 to 192000");
}

const char* value(int& i, int argc, char** argv) {
    if (i + 1 >= argc) usageError((std::string("missing value for ") + argv[i]).c_str());
    return argv[++i];
}

Options parse(int argc, char** argv) {
    Options o;
    std::vector<const char*> files;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (a == "-t") {
            std::string t = value(i, argc, argv);
            o.formatGiven = true;
            if (t == "wav") o.format = Format::Wave;
            else if (t == "aiff") o.format = Format::Aiff;
            else if (t == "raw") o.format = Format::Raw;
            else if ((o.sound = zeftool::outFormatByName(t))) o.format = Format::Sound;
            else usageError("-t takes wav, aiff, raw, flac, ogg, opus, mp3 or au");
        } else if (a == "-r") {
            double hz = number(value(i, argc, argv), "-r");
            o.rate = rateValue(hz);
            o.hz = uint32_t(hz);
            o.convertRate = o.rate == 0;
        } else if (a == "-o") {
            o.outDir = value(i, argc, argv);
        } else if (a == "-R") {
            o.recursive = true;
        } else if (a == "-j") {
            double j = number(value(i, argc, argv), "-j");
            if (j < 1 || j > 4096 || j != std::floor(j)) usageError("-j takes a number of jobs from 1 to 4096");
            o.jobs = unsigned(j);
        } else if (a == "-b") {
            double b = number(value(i, argc, argv), "-b");
            if (b != 8 && b != 16) usageError("-b takes 8 or 16");
            o.bytesPerSample = uint16_t(b / 8);
        } else if (a == "-w") {
            o.warp = float(number(value(i, argc, argv), "-w"));
        } else if (a == "--semitones") {
            o.absolutePitch = false;
            o.pitch = float(number(value(i, argc, argv), "--semitones"));
        } else if (a == "--pitch-hz") {
            o.absolutePitch = true;
            o.pitch = float(number(value(i, argc, argv), "--pitch-hz"));
        } else if (a == "--synth") {
            double s = number(value(i, argc, argv), "--synth");
            if (s != 1 && s != 2 && s != 3) usageError("--synth takes 1, 2 or 3");
            o.synth = uint16_t(s);
        } else if (a == "-q") {
            o.quiet = true;
        } else if (a.size() > 1 && a[0] == '-') {
            usageError(("unknown option " + a).c_str());
        } else {
            files.push_back(argv[i]);
        }
    }
    if (o.outDir) {
        if (files.empty()) usageError("give the Zef files to decode into the directory");
        o.inputs.assign(files.begin(), files.end());
        return o;
    }
    if (files.size() != 2) usageError("give one input and one output file, or -o DIR and the inputs");
    o.in = files[0];
    o.out = files[1];
    if (!o.formatGiven && std::strcmp(o.out, "-") != 0) o.format = formatFromName(o.out);
    if (o.format == Format::Sound && !o.formatGiven) o.sound = zeftool::outFormatForFile(o.out);
    if (!std::strcmp(o.out, "-") && o.format == Format::Sound) usageError("only WAVE or raw samples go to standard output");
    return o;
}

// The container of a coded file, by its first bytes.
uint32_t inputFormat(const char* name, std::vector<uint8_t>* whole) {
    FILE* f = std::fopen(name, "rb");
    if (!f) {
        std::fprintf(stderr, "zefdec: %s: %s\n", zeftool::printable(name).c_str(), std::strerror(errno));
        std::exit(1);
    }
    uint8_t head[12] = {};
    size_t n = std::fread(head, 1, sizeof head, f);
    uint32_t format = ZEFTYPE_FORMAT_RAW;
    if (n >= 4 && std::memcmp(head, "RIFF", 4) == 0) format = ZEFTYPE_FORMAT_WAVE;
    if (n >= 12 && std::memcmp(head + 8, "zef!", 4) == 0) {
        // A packet stream is decoded from memory.
        std::fseek(f, 0, SEEK_SET);
        uint8_t chunk[65536];
        size_t got;
        while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) whole->insert(whole->end(), chunk, chunk + got);
        format = ZEFTYPE_FORMAT_RAW | ZEFTYPE_LOCATION_PACKET;
    }
    std::fclose(f);
    return format;
}

struct Progress {
    bool quiet;
    uint32_t total;
    uint32_t done;
    double lastShown;
};

uint16_t progressCallback(uint16_t, uint16_t status, void* data) {
    auto* kd = static_cast<KELVANE_DATA*>(data);
    auto* p = reinterpret_cast<Progress*>(kd->dwUserData);
    if (status == KELVANE_STATUS_DECOMPRESS_START) p->total = kd->dwFramesLeft;
    if (status != KELVANE_STATUS_FRAME || p->quiet) return 0;
    ++p->done;
    double seconds = p->done * 0.0225;
    if (seconds - p->lastShown >= 10.0) {
        p->lastShown = seconds;
        if (p->total && p->total != 65535)
            std::fprintf(stderr, "\rzefdec: %.0f s of speech, %u%%", seconds, unsigned(100.0 * p->done / p->total));
        else
            std::fprintf(stderr, "\rzefdec: %.0f s of speech", seconds);
    }
    return 0;
}

int gStdoutError = 0;  // why standard output refused the sound

// Decoded samples on their way to libsndfile: 16-bit, in the host's order.
struct SoundSink {
    zeftool::SoundOut out;
    bool failed = false;
    bool odd = false;  // a byte of a sample is waiting for the other
    uint8_t carry = 0;
};
SoundSink* gSink = nullptr;

uint16_t writeToSound(uint16_t, uint16_t message, void* data) {
    auto* block = static_cast<ZEF_FUNCTION_BLOCK*>(data);
    if (message != ZEFFUNC_OPEN && message != ZEFFUNC_WRITE) return 0;
    const auto* bytes = static_cast<const uint8_t*>(block->lpBuffer);
    std::vector<int16_t> samples;
    samples.reserve(block->dwLength / 2 + 1);
    for (uint32_t i = 0; i < block->dwLength; ++i) {
        if (!gSink->odd) {
            gSink->carry = bytes[i];
            gSink->odd = true;
            continue;
        }
        const uint8_t pair[2] = {gSink->carry, bytes[i]};
        int16_t v;
        std::memcpy(&v, pair, 2);
        samples.push_back(v);
        gSink->odd = false;
    }
    block->dwLength = 0;
    if (!gSink->out.write(samples.data(), samples.size())) return gSink->failed = true, 1;
    return 0;
}

uint16_t writeToStdout(uint16_t, uint16_t message, void* data) {
    auto* block = static_cast<ZEF_FUNCTION_BLOCK*>(data);
    if (message != ZEFFUNC_OPEN && message != ZEFFUNC_WRITE) return 0;
    if (block->dwLength && std::fwrite(block->lpBuffer, 1, block->dwLength, stdout) != block->dwLength) {
        gStdoutError = errno ? errno : EIO;
        return 1;
    }
    block->dwLength = 0;  // all taken: at open, the header must not come again with the first samples
    return 0;
}

uint32_t outputType(const Options& o, bool toStdout) {
    if (o.format == Format::Sound || o.convertRate) return ZEFTYPE_FORMAT_RAW | ZEFTYPE_LOCATION_FUNCTION;
    uint32_t format = o.format == Format::Wave ? ZEFTYPE_FORMAT_WAVE
                      : o.format == Format::Aiff ? ZEFTYPE_FORMAT_AIFF
                                                 : ZEFTYPE_FORMAT_RAW;
    if (toStdout && o.format == Format::Aiff) usageError("AIFF cannot be written to standard output");
    return format | (toStdout ? ZEFTYPE_LOCATION_FUNCTION : ZEFTYPE_LOCATION_FILE);
}

}  // namespace

// One file: IN to OUT.
int decodeFile(const Options& o) {
    bool toStdout = std::strcmp(o.out, "-") == 0;
    if (zeftool::refuseOutputOverInput("zefdec", o.out, {o.in})) return 1;
    if (toStdout) std::signal(SIGPIPE, SIG_IGN);  // a closed pipe is an error to report, not a silent end
    std::vector<uint8_t> packet;
    uint32_t inFormat = inputFormat(o.in, &packet);

    // Started, the library knows its Guisettes, so a file's voice effect plays.
    zeftool::startLibrary();

    KELVANE_DATA kd = zeftool::freshControl();
    if (packet.empty()) {
        kd.dwInputType = inFormat | ZEFTYPE_LOCATION_FILE | ZEFTYPE_QUALIFIER_ZEF;
        kd.lpInputLocation = const_cast<char*>(o.in);
    } else {
        kd.dwInputType = inFormat | ZEFTYPE_QUALIFIER_ZEF;
        kd.lpInputLocation = packet.data();
        kd.dwInputSize = uint32_t(packet.size());
    }
    kd.dwOutputType = outputType(o, toStdout);
    kd.lpOutputLocation = toStdout ? reinterpret_cast<void*>(&writeToStdout) : const_cast<char*>(o.out);
    kd.dwOutputSamplingRate = o.rate;
    kd.wOutputBytesPerSample = o.bytesPerSample;
    SoundSink sink;
    const bool viaSound = o.format == Format::Sound || o.convertRate;
    if (viaSound) {  // the library decodes to 16-bit samples, libsndfile writes them
        const zeftool::OutFormat* format = o.sound ? o.sound
                                           : zeftool::outFormatByName(o.format == Format::Aiff  ? "aiff"
                                                                      : o.format == Format::Raw ? "raw"
                                                                                                : "wav");
        const uint32_t made = o.convertRate ? 8000 : o.hz;
        if (!sink.out.open(o.out, *format, o.hz, made, o.bytesPerSample == 1 ? 8 : 16)) {
            zefShutdown();
            std::fprintf(stderr, "zefdec: %s: %s\n", zeftool::printable(toStdout ? "standard output" : o.out).c_str(),
                         sink.out.error().c_str());
            return 1;
        }
        gSink = &sink;
        kd.lpOutputLocation = reinterpret_cast<void*>(&writeToSound);
        kd.dwOutputSamplingRate = o.convertRate ? 0 : o.rate;
        kd.wOutputBytesPerSample = 2;
    }
    kd.fWarpedLengthFactor = o.warp;
    kd.wUseAbsolutePitch = o.absolutePitch;
    kd.fRelativePitch = o.absolutePitch ? 0.0f : o.pitch;
    kd.fAbsolutePitch = o.absolutePitch ? o.pitch : 100.0f;
    kd.wSynthesizer = o.synth;
    Progress progress{o.quiet || toStdout, 0, 0, 0.0};
    kd.dwUserData = reinterpret_cast<uintptr_t>(&progress);
    kd.lpCallback = progressCallback;

    uint16_t err = dcmpZefFileToFile(&kd);
    zefShutdown();
    if (viaSound && (err || sink.failed || !sink.out.finish())) {
        sink.out.discard();
        if (!err || sink.failed) {
            if (!progress.quiet && progress.lastShown > 0) std::fputc('\n', stderr);
            std::fprintf(stderr, "zefdec: %s: %s\n", zeftool::printable(toStdout ? "standard output" : o.out).c_str(),
                         sink.out.error().c_str());
            return 1;
        }
    }
    if (!progress.quiet && progress.lastShown > 0) std::fputc('\n', stderr);
    if (toStdout) std::fflush(stdout);
    if (err && gStdoutError) {
        std::fprintf(stderr, "zefdec: %s: decoding failed\nzefdec: standard output: %s\n",
                     zeftool::printable(o.in).c_str(), zeftool::systemText(uint32_t(gStdoutError)).c_str());
        return 1;
    }
    if (err) {
        zeftool::reportLibraryError("zefdec", o.in, "decoding failed", o.out, err, kd.dwSecondaryError);
        return 1;
    }
    return 0;
}

namespace {

// The Zef files a directory gives with -R.
bool zefFileName(const std::string& name) {
    return endsWith(name, ".zef") || endsWith(name, ".zefp") || endsWith(name, ".zefh") || endsWith(name, ".wav");
}

}  // namespace

int main(int argc, char** argv) {
    Options o = parse(argc, argv);
    if (!o.outDir) return decodeFile(o);
    if (o.format == Format::Sound && !o.sound) o.format = Format::Wave;
    const std::string extension = o.format == Format::Sound ? std::string(".") + o.sound->name
                                  : o.format == Format::Aiff ? ".aiff"
                                  : o.format == Format::Raw  ? ".raw"
                                                             : ".wav";
    return zeftool::runBatchOf("zefdec", o, extension, zefFileName, decodeFile);
}
