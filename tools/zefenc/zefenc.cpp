// zefenc: compresses sound of any format libsndfile reads, or raw PCM, into a
// Zef file; with -o DIR many files in parallel.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "batch.h"
#include "denoise.h"
#include "mirlane.h"
#include "soundfile.h"
#include "toolcommon.h"

namespace {

const char kUsage[] =
    "usage: zefenc [options] IN OUT\n"
    "       zefenc [options] -o DIR IN...\n"
    "  IN is a sound file of any format libsndfile reads (WAVE, AIFF, AU, FLAC, Ogg,\n"
    "  Opus, MP3, ...), any rate and channel count, or raw PCM, or - for standard\n"
    "  input; OUT the Zef file.  Channels are mixed to one; any other rate is\n"
    "  converted to the codecs' 8000 Hz.\n"
    "  -o DIR           encode every IN into DIR as NAME.zef (the inputs stay)\n"
    "  -R               with -o: take the sound files in directories, recursively\n"
    "  -j N             with -o: N files at a time (default: one per core)\n"
    "  -c orvo|peln     codec (default orvo)\n"
    "  -t wav|raw       output container: WAVE (default, what the player reads) or a\n"
    "                   raw stream with the chunked \"ZEF!\" header\n"
    "  --guisette N     give the speech the voice of Guisette N (its pitch, whisper\n"
    "                   or formant warp is applied to the coded frames) and mark the\n"
    "                   file with it; zefinfo --guisettes lists them; 0 is none\n"
    "  --compat         write the compatibility block (WAVE output only)\n"
    "  --denoise        lower a steady background noise close under the speech\n"
    "                   before coding (speexdsp's suppressor, only where the\n"
    "                   recording is that noisy; the default)\n"
    "  --no-denoise     code the sound as it comes\n"
    "  --rate HZ        the input is raw samples at this rate (default 8000)\n"
    "  --bits 8|16      the input is raw samples of this size: 8 unsigned, 16 signed\n"
    "                   little-endian (default 16); files named .raw or .pcm are raw\n"
    "  -q               no progress on standard error\n"
    "  --help           this text\n";

struct Options {
    const char* in = nullptr;
    const char* out = nullptr;
    uint32_t codec = KELVANE_CODEC_LUMO_8K;
    unsigned guisette = 0;
    bool compat = false, quiet = false, raw = false, denoise = true;
    uint32_t rate = 8000;
    unsigned bits = 16;
    bool rawGiven = false;  // --rate or --bits
    std::vector<std::string> inputs;  // with -o
    const char* outDir = nullptr;
    bool recursive = false;
    unsigned jobs = 0;
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
        if (!s || !number(s, 768000, &v) || v < 1000) return usageError("--rate takes a rate in hertz, 1000 to 768000");
        o.rate = uint32_t(v);
        o.rawGiven = true;
    } else if (a == "-j") {
        if (!s || !number(s, 4096, &v) || v == 0) return usageError("-j takes a number of jobs from 1 to 4096");
        o.jobs = unsigned(v);
    } else {
        if (!s || !number(s, 16, &v) || (v != 8 && v != 16)) return usageError("--bits takes 8 or 16");
        o.bits = unsigned(v);
        o.rawGiven = true;
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
        if (a == "--denoise" || a == "--no-denoise") { o.denoise = a == "--denoise"; continue; }
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
        if (a == "-o") {
            if (!(o.outDir = value())) return usageError("-o takes a directory");
            continue;
        }
        if (a == "-R") { o.recursive = true; continue; }
        if (a == "--guisette" || a == "--rate" || a == "--bits" || a == "-j") {
            if (int rc = numberOption(a, value(), o)) return rc;
            continue;
        }
        if (a.size() > 1 && a[0] == '-') return usageError(("unknown option " + a).c_str());
        files.push_back(argv[i]);
    }
    if (o.outDir) {
        if (files.empty()) return usageError("give the inputs to encode into the directory");
        o.inputs.assign(files.begin(), files.end());
        return -1;
    }
    if (files.size() != 2) return usageError("give one input and one output, or -o DIR and the inputs");
    // The header of a coded file is completed once its length is known, so
    // the output must be a file that can be rewritten, not standard output.
    if (!std::strcmp(files[1], "-")) return usageError("OUT must be a file, not standard output");
    o.in = files[0];
    o.out = files[1];
    return -1;
}

// The input, read through libsndfile (or as raw samples), its noise lowered
// where it is noisy, and given to the library as 16-bit mono PCM at 8000 Hz,
// through a reader function.  The first samples are read before
// the session starts: an input that holds none must not replace an existing
// file with an empty one.
struct Input {
    zeftool::SoundIn sound;
    std::unique_ptr<zeftool::Denoiser> denoiser;
    std::string shown;            // the name in messages
    std::vector<int16_t> first;   // read ahead
    size_t firstGiven = 0;
    bool failed = false;          // reading failed: sound.error() tells why

    long read(int16_t* to, size_t n) { return denoiser ? denoiser->read(to, n) : sound.read(to, n); }
};

struct Progress {
    Input* input = nullptr;
    bool quiet = false;
    unsigned frames = 0;
    unsigned shown = 0;  // whole seconds last printed
};

bool rawByName(const char* name) {
    std::string s = name;
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    auto ends = [&](const char* e) { return s.size() > std::strlen(e) && !s.compare(s.size() - std::strlen(e), std::strlen(e), e); };
    return ends(".raw") || ends(".pcm");
}

// The reader function: the samples read ahead first, then the rest.
uint16_t readInput(uint16_t, uint16_t message, void* data) {
    auto* block = static_cast<ZEF_FUNCTION_BLOCK*>(data);
    if (message != ZEFFUNC_OPEN && message != ZEFFUNC_READ) return 0;
    auto* in = reinterpret_cast<Progress*>(block->lpKelvaneData->dwUserData)->input;
    auto* to = static_cast<int16_t*>(block->lpBuffer);
    size_t want = block->dwLength / 2;
    size_t got = std::min(want, in->first.size() - in->firstGiven);
    std::copy_n(in->first.begin() + long(in->firstGiven), got, to);
    in->firstGiven += got;
    if (got < want && !in->failed) {
        long n = in->read(to + got, want - got);
        if (n < 0) in->failed = true;  // reported afterwards
        else got += size_t(n);
    }
    block->dwLength = uint32_t(got * 2);
    return message == ZEFFUNC_READ && got == 0 ? 1 : 0;
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
    KELVANE_DATA kd = zeftool::freshControl();
    kd.dwInputType = ZEFTYPE_FORMAT_WAVE | ZEFTYPE_LOCATION_BUFFER | ZEFTYPE_QUALIFIER_ZEF;
    kd.lpInputLocation = const_cast<uint8_t*>(data.data());
    kd.dwInputSize = uint32_t(data.size());
    kd.dwOutputType = ZEFTYPE_FILE_INFO;
    kd.lpOutputLocation = &info;
    kd.dwOutputSize = ZEF_FILE_INFO_SIZE;
    return utilGetFileInfo(&kd) == 0;
}

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
    // A read error stops the session: its output is dropped, not kept short.
    return status == KELVANE_STATUS_FRAME && p->input && p->input->failed ? 1 : 0;
}

void describeInput(const Input& in, KELVANE_DATA& kd) {
    kd.dwInputType = ZEFTYPE_FORMAT_RAW | ZEFTYPE_LOCATION_FUNCTION;
    kd.lpInputLocation = reinterpret_cast<void*>(&readInput);
    kd.dwInputSamplingRate = in.sound.rate();
    kd.wInputBytesPerSample = 2;
}

uint16_t encode(const Options& o, Input& in, Progress& p, KELVANE_DATA& kd, uint32_t outputLocation,
                void* output, uint32_t outputSize) {
    kd = zeftool::freshControl();
    describeInput(in, kd);
    kd.dwOutputType = (o.raw ? ZEFTYPE_FORMAT_RAW : ZEFTYPE_FORMAT_WAVE) | outputLocation | ZEFTYPE_QUALIFIER_ZEF;
    kd.lpOutputLocation = output;
    kd.dwOutputSize = outputSize;
    kd.dwCompressionSettings = o.codec;
    kd.wGuisette = uint16_t(o.guisette);
    kd.wCompatibilityHeader = o.compat ? 1 : 0;
    kd.lpCallback = progress;
    kd.dwUserData = reinterpret_cast<uintptr_t>(&p);
    p.input = &in;
    p.frames = 0;
    return cmpMirlaneCompress(&kd);
}

int fail(const Input& in, const std::string& what) {
    std::fprintf(stderr, "zefenc: %s: %s\n", in.shown.c_str(), what.c_str());
    return 1;
}

// One file: IN to OUT.
int encodeFile(const Options& o) {
    if (zeftool::refuseOutputOverInput("zefenc", o.out, {o.in})) return 1;
    Input in;
    in.shown = zeftool::printable(std::strcmp(o.in, "-") ? o.in : "standard input");
    zeftool::RawFormat raw{o.rate, o.bits};
    const bool opened = in.sound.open(o.in, o.rawGiven || rawByName(o.in) ? &raw : nullptr);
    // Started, the library knows its Guisettes, so --guisette finds its preset.
    zeftool::startLibrary();
    struct Shutdown {
        ~Shutdown() { zefShutdown(); }
    } shutdown;
    if (!in.sound.head().empty() && isCodedSpeech(in.sound.head()))
        return fail(in, "is coded speech already (a Zef file); decode it with zefdec first");
    if (!opened) return fail(in, in.sound.error());
    if (o.denoise) {
        in.denoiser = std::make_unique<zeftool::Denoiser>(
            in.sound.rate(), [&in](int16_t* to, size_t n) { return in.sound.read(to, n); });
        if (!in.denoiser->ok()) return fail(in, "the noise suppressor could not start");
    }
    in.first.resize(8192);
    long n = in.read(in.first.data(), in.first.size());
    if (n < 0) return fail(in, in.sound.error());
    in.first.resize(size_t(n));
    if (n == 0) return fail(in, "holds no samples: there is no speech to encode");
    Progress p;
    p.quiet = o.quiet;
    KELVANE_DATA kd;
    uint16_t err = encode(o, in, p, kd, ZEFTYPE_LOCATION_FILE, const_cast<char*>(o.out), 0);
    if (in.failed) return fail(in, in.sound.error());
    if (err) {
        zeftool::reportLibraryError("zefenc", in.shown.c_str(), "encoding failed", o.out, err, kd.dwSecondaryError);
        return 1;
    }
    return 0;
}

// The sound files a directory gives with -R: any name libsndfile may read.
bool soundFileName(const std::string& name) {
    static const char* const kinds[] = {".wav", ".wave", ".aif", ".aiff", ".aifc", ".au", ".snd", ".flac",
                                        ".ogg", ".oga", ".opus", ".mp3", ".w64", ".caf", ".raw", ".pcm"};
    std::string s = name;
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    for (const char* k : kinds)
        if (s.size() > std::strlen(k) && !s.compare(s.size() - std::strlen(k), std::strlen(k), k)) return true;
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    int rc = parse(argc, argv, o);
    if (rc >= 0) return rc;
    if (!o.outDir) return encodeFile(o);
    return zeftool::runBatchOf("zefenc", o, ".zef", soundFileName, encodeFile);
}
