// zefenc: compresses WAVE, AIFF or raw PCM into a Zef file.
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mirlane.h"

namespace {

const char kUsage[] =
    "usage: zefenc [options] IN OUT\n"
    "  IN is a WAVE, AIFF or raw PCM file, or - for standard input; OUT the Zef file.\n"
    "  -c orvo|peln     codec (default orvo)\n"
    "  -t wav|raw       output container: WAVE (default, what the player reads) or a\n"
    "                   raw stream with the chunked \"ZEF!\" header\n"
    "  --guisette N     give the speech the voice of Guisette N (its pitch, whisper\n"
    "                   or formant warp is applied to the coded frames) and mark the\n"
    "                   file with it; zefinfo --guisettes lists them; 0 is none\n"
    "  --compat         write the compatibility block (WAVE output only)\n"
    "  --rate HZ        sampling rate of raw input (default 8000)\n"
    "  --bits 8|16      sample size of raw input: 8 unsigned, 16 signed little-endian\n"
    "                   (default 16)\n"
    "  -q               no progress on standard error\n"
    "  --help           this text\n";

struct Options {
    const char* in = nullptr;
    const char* out = nullptr;
    uint32_t codec = KELVANE_CODEC_LUMO_8K;
    unsigned guisette = 0;
    bool compat = false, quiet = false, raw = false;
    uint32_t rate = 8000;
    unsigned bits = 16;
};

int usageError(const char* what) {
    std::fprintf(stderr, "zefenc: %s\n%s", what, kUsage);
    return 2;
}

bool number(const char* s, unsigned long max, unsigned long* v) {
    char* end = nullptr;
    errno = 0;
    *v = std::strtoul(s, &end, 10);
    return std::isdigit(static_cast<unsigned char>(s[0])) && *end == 0 && errno == 0 && *v <= max;
}

// --guisette, --rate and --bits; 0 when taken, else the exit status.
int numberOption(const std::string& a, const char* s, Options& o) {
    unsigned long v = 0;
    if (a == "--guisette") {
        if (!s || !number(s, 0xFFFF, &v)) return usageError("--guisette takes a number from 0 to 65535");
        o.guisette = unsigned(v);
    } else if (a == "--rate") {
        if (!s || !number(s, 0xFFFFFFFFul, &v) || v == 0) return usageError("--rate takes a rate in hertz");
        o.rate = uint32_t(v);
    } else {
        if (!s || !number(s, 16, &v) || (v != 8 && v != 16)) return usageError("--bits takes 8 or 16");
        o.bits = unsigned(v);
    }
    return 0;
}

int parse(int argc, char** argv, Options& o) {
    std::vector<const char*> files;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (a == "--help") { std::fputs(kUsage, stdout); return 0; }
        if (a == "-q") { o.quiet = true; continue; }
        if (a == "--compat") { o.compat = true; continue; }
        if (a == "-c") {
            const char* c = value();
            if (c && !std::strcmp(c, "orvo")) o.codec = KELVANE_CODEC_LUMO_8K;
            else if (c && !std::strcmp(c, "peln")) o.codec = KELVANE_CODEC_PELN_HQ;
            else return usageError("-c takes orvo or peln");
            continue;
        }
        if (a == "-t") {
            const char* t = value();
            if (t && !std::strcmp(t, "wav")) o.raw = false;
            else if (t && !std::strcmp(t, "raw")) o.raw = true;
            else return usageError("-t takes wav or raw");
            continue;
        }
        if (a == "--guisette" || a == "--rate" || a == "--bits") {
            if (int rc = numberOption(a, value(), o)) return rc;
            continue;
        }
        if (a.size() > 1 && a[0] == '-') return usageError(("unknown option " + a).c_str());
        files.push_back(argv[i]);
    }
    if (files.size() != 2) return usageError("give one input and one output");
    // The header of a coded file is completed once its length is known, so
    // the output must be a file that can be rewritten, not standard output.
    if (!std::strcmp(files[1], "-")) return usageError("OUT must be a file, not standard output");
    o.in = files[0];
    o.out = files[1];
    return -1;
}

// The whole input; false with errno set when it cannot be read or is larger
// than the library's 32-bit sizes (reading stops there, not at the end).
bool readAll(const char* name, std::vector<uint8_t>& data) {
    FILE* f = std::strcmp(name, "-") ? std::fopen(name, "rb") : stdin;
    if (!f) return false;
    uint8_t chunk[65536];
    size_t n;
    bool tooLarge = false;
    while (!tooLarge && (n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
        for (size_t i = 0; i < n; ++i) data.push_back(chunk[i]);  // g++ -O2 misjudges a range insert
        tooLarge = data.size() > 0xFFFFFFFFu;
    }
    bool ok = !std::ferror(f);
    int readError = errno;
    if (f != stdin) std::fclose(f);
    errno = tooLarge ? EFBIG : readError;
    return ok && !tooLarge;
}

bool startsWith(const std::vector<uint8_t>& data, const char* tag) {
    size_t n = std::strlen(tag);
    return data.size() >= n && !std::memcmp(data.data(), tag, n);
}

// Coded speech given as input would otherwise be refused with an obscure
// type error (WAVE) or, lacking a PCM header, coded as if it were noise.
bool isCodedSpeech(const std::vector<uint8_t>& data) {
    if (startsWith(data, "ZEF")) return true;  // "ZEF!", "ZEFh", "ZEF." stream headers
    if (!startsWith(data, "RIFF")) return false;
    ZEF_FILE_INFO info;
    std::memset(&info, 0, sizeof info);
    KELVANE_DATA kd;
    std::memset(&kd, 0, sizeof kd);
    kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
    kd.fWarpedLengthFactor = 1.0f;
    kd.dwInputType = ZEFTYPE_FORMAT_WAVE | ZEFTYPE_LOCATION_BUFFER | ZEFTYPE_QUALIFIER_ZEF;
    kd.lpInputLocation = const_cast<uint8_t*>(data.data());
    kd.dwInputSize = uint32_t(data.size());
    kd.dwOutputType = ZEFTYPE_FILE_INFO;
    kd.lpOutputLocation = &info;
    kd.dwOutputSize = ZEF_FILE_INFO_SIZE;
    return utilGetFileInfo(&kd) == 0;
}

struct Progress {
    bool quiet = false;
    unsigned frames = 0;
    unsigned shown = 0;  // whole seconds last printed
};

// Counts the coded frames (180 samples at 8000 Hz each) and, unless quiet,
// shows the seconds coded so far.
uint16_t progress(uint16_t, uint16_t status, void* data) {
    auto* kd = static_cast<KELVANE_DATA*>(data);
    auto* p = reinterpret_cast<Progress*>(kd->dwUserData);
    if (status == KELVANE_STATUS_FRAME) {
        unsigned seconds = ++p->frames * 180u / 8000u;
        if (!p->quiet && seconds > p->shown) std::fprintf(stderr, "\rzefenc: %u s", p->shown = seconds);
    }
    if (status == KELVANE_STATUS_COMPRESS_END && p->shown > 0) std::fputc('\n', stderr);
    return 0;
}

// A file the library created but that holds no speech is not left behind.
void removeOutput(const char* name) {
    struct stat st;
    if (::stat(name, &st) == 0 && S_ISREG(st.st_mode)) ::unlink(name);
}

void describeInput(const Options& o, const std::vector<uint8_t>& data, KELVANE_DATA& kd) {
    const bool wave = startsWith(data, "RIFF") || startsWith(data, "RIFX");
    const bool aiff = startsWith(data, "FORM");
    kd.dwInputType = (wave ? ZEFTYPE_FORMAT_WAVE : aiff ? ZEFTYPE_FORMAT_AIFF : ZEFTYPE_FORMAT_RAW) |
                     ZEFTYPE_LOCATION_BUFFER;
    if (!wave && !aiff) {
        kd.dwInputSamplingRate = o.rate;
        kd.wInputBytesPerSample = uint16_t(o.bits / 8);
    }
    kd.lpInputLocation = const_cast<uint8_t*>(data.data());
    kd.dwInputSize = uint32_t(data.size());
}

uint16_t encode(const Options& o, const std::vector<uint8_t>& data, Progress& p, KELVANE_DATA& kd) {
    std::memset(&kd, 0, sizeof kd);
    kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
    kd.fWarpedLengthFactor = 1.0f;
    describeInput(o, data, kd);
    kd.dwOutputType = (o.raw ? ZEFTYPE_FORMAT_RAW : ZEFTYPE_FORMAT_WAVE) | ZEFTYPE_LOCATION_FILE | ZEFTYPE_QUALIFIER_ZEF;
    kd.lpOutputLocation = const_cast<char*>(o.out);
    kd.dwCompressionSettings = o.codec;
    kd.wGuisette = uint16_t(o.guisette);
    kd.wCompatibilityHeader = o.compat ? 1 : 0;
    kd.lpCallback = progress;
    kd.dwUserData = reinterpret_cast<uintptr_t>(&p);
    return cmpMirlaneCompress(&kd);
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    int rc = parse(argc, argv, o);
    if (rc >= 0) return rc;
    const char* inName = std::strcmp(o.in, "-") ? o.in : "standard input";
    std::vector<uint8_t> data;
    if (!readAll(o.in, data)) {
        std::fprintf(stderr, "zefenc: cannot read %s: %s\n", inName, std::strerror(errno));
        return 1;
    }
    if (data.empty()) {
        std::fprintf(stderr, "zefenc: %s is empty: there is no speech to encode\n", inName);
        return 1;
    }
    // Started, the library knows its Guisettes, so --guisette finds its preset.
    ZEF_STARTUP startup;
    std::memset(&startup, 0, sizeof startup);
    startup.wSize = ZEF_STARTUP_SIZE;
    zefStartup(&startup);

    if (isCodedSpeech(data)) {
        zefShutdown();
        std::fprintf(stderr, "zefenc: %s is coded speech already (a Zef file); decode it with zefdec first\n", inName);
        return 1;
    }
    Progress p;
    p.quiet = o.quiet;
    KELVANE_DATA kd;
    uint16_t err = encode(o, data, p, kd);
    zefShutdown();
    if (err) {
        char text[ZEF_MESSAGE_SIZE];
        mlGetStringFromErrorN(err, kd.dwSecondaryError, text, sizeof text);
        std::fprintf(stderr, "zefenc: %s: encoding failed\n%s", inName, text);
        return 1;
    }
    if (p.frames == 0) {
        removeOutput(o.out);
        std::fprintf(stderr, "zefenc: %s holds no samples: there is no speech to encode\n", inName);
        return 1;
    }
    return 0;
}
