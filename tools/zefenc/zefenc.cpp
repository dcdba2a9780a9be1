// zefenc: compresses WAVE, AIFF or raw PCM into a Zef file.
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
    "  --guisette N     mark the file with Guisette N\n"
    "  --compat         write the compatibility block (WAVE output only)\n"
    "  --rate HZ        sampling rate of raw input (default 8000)\n"
    "  --bits 8|16      sample size of raw input (default 16)\n"
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

bool number(const char* s, unsigned long max, unsigned long* v) {
    char* end = nullptr;
    *v = std::strtoul(s, &end, 10);
    return s[0] && *end == 0 && *v <= max;
}

int parse(int argc, char** argv, Options& o) {
    std::vector<const char*> files;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        unsigned long v = 0;
        if (a == "--help") { std::fputs(kUsage, stdout); return 0; }
        if (a == "-q") { o.quiet = true; continue; }
        if (a == "--compat") { o.compat = true; continue; }
        if (a == "-c") {
            const char* c = value();
            if (c && !std::strcmp(c, "orvo")) o.codec = KELVANE_CODEC_LUMO_8K;
            else if (c && !std::strcmp(c, "peln")) o.codec = KELVANE_CODEC_PELN_HQ;
            else { std::fprintf(stderr, "zefenc: -c takes orvo or peln\n"); return 2; }
            continue;
        }
        if (a == "-t") {
            const char* t = value();
            if (t && !std::strcmp(t, "wav")) o.raw = false;
            else if (t && !std::strcmp(t, "raw")) o.raw = true;
            else { std::fprintf(stderr, "zefenc: -t takes wav or raw\n"); return 2; }
            continue;
        }
        if (a == "--guisette" || a == "--rate" || a == "--bits") {
            const char* s = value();
            if (!s || !number(s, 0xFFFFFFFFul, &v)) { std::fprintf(stderr, "zefenc: %s needs a number\n", a.c_str()); return 2; }
            if (a == "--guisette") o.guisette = unsigned(v);
            else if (a == "--rate") o.rate = uint32_t(v);
            else o.bits = unsigned(v);
            continue;
        }
        if (a.size() > 1 && a[0] == '-') { std::fprintf(stderr, "zefenc: unknown option %s\n%s", a.c_str(), kUsage); return 2; }
        files.push_back(argv[i]);
    }
    if (files.size() != 2) { std::fputs(kUsage, stderr); return 2; }
    o.in = files[0];
    o.out = files[1];
    return -1;
}

bool readAll(const char* name, std::vector<uint8_t>& data) {
    FILE* f = std::strcmp(name, "-") ? std::fopen(name, "rb") : stdin;
    if (!f) return false;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        for (size_t i = 0; i < n; ++i) data.push_back(chunk[i]);  // g++ -O2 misjudges a range insert
    bool ok = !std::ferror(f);
    if (f != stdin) std::fclose(f);
    return ok && data.size() <= 0xFFFFFFFFu;
}

uint16_t progress(uint16_t, uint16_t status, void* data) {
    static unsigned frames = 0;
    if (status == KELVANE_STATUS_FRAME && ++frames % 44 == 0) {
        (void)data;
        std::fprintf(stderr, "\rzefenc: %u s", frames / 44);
    }
    if (status == KELVANE_STATUS_COMPRESS_END && frames >= 44) std::fputc('\n', stderr);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    int rc = parse(argc, argv, o);
    if (rc >= 0) return rc;
    std::vector<uint8_t> data;
    if (!readAll(o.in, data)) {
        std::fprintf(stderr, "zefenc: cannot read %s: %s\n", o.in, std::strerror(errno));
        return 1;
    }
    // Started, the library knows its Guisettes, so --guisette finds its preset.
    ZEF_STARTUP startup;
    std::memset(&startup, 0, sizeof startup);
    startup.wSize = ZEF_STARTUP_SIZE;
    zefStartup(&startup);

    KELVANE_DATA kd;
    std::memset(&kd, 0, sizeof kd);
    kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
    kd.fWarpedLengthFactor = 1.0f;
    const bool wave = data.size() >= 12 && !std::memcmp(data.data(), "RIFF", 4);
    const bool aiff = data.size() >= 12 && !std::memcmp(data.data(), "FORM", 4);
    kd.dwInputType = (wave ? ZEFTYPE_FORMAT_WAVE : aiff ? ZEFTYPE_FORMAT_AIFF : ZEFTYPE_FORMAT_RAW) |
                     ZEFTYPE_LOCATION_BUFFER;
    if (!wave && !aiff) {
        kd.dwInputSamplingRate = o.rate;
        kd.wInputBytesPerSample = uint16_t(o.bits / 8);
    }
    kd.lpInputLocation = data.data();
    kd.dwInputSize = uint32_t(data.size());
    kd.dwOutputType = (o.raw ? ZEFTYPE_FORMAT_RAW : ZEFTYPE_FORMAT_WAVE) | ZEFTYPE_LOCATION_FILE | ZEFTYPE_QUALIFIER_ZEF;
    kd.lpOutputLocation = const_cast<char*>(o.out);
    kd.dwCompressionSettings = o.codec;
    kd.wGuisette = uint16_t(o.guisette);
    kd.wCompatibilityHeader = o.compat ? 1 : 0;
    if (!o.quiet) kd.lpCallback = progress;
    uint16_t err = cmpMirlaneCompress(&kd);
    zefShutdown();
    if (err) {
        char text[ZEF_MESSAGE_SIZE];
        mlGetStringFromErrorN(err, kd.dwSecondaryError, text, sizeof text);
        std::fprintf(stderr, "zefenc: %s (error %u)\n", text, unsigned(err));
        return 1;
    }
    return 0;
}
