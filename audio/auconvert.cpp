#include "auconvert.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "byteorder.h"

short AuConvert::Debug = std::getenv("AUCONVERT") != nullptr;
int AuConvert::id = 0;

namespace {

constexpr uint32_t kZefQualifiedWave = ZEFTYPE_FORMAT_WAVE | ZEFTYPE_QUALIFIER_ZEF;
constexpr uint32_t kZefWaveFile = kZefQualifiedWave | ZEFTYPE_LOCATION_FILE;
constexpr uint32_t kZefWaveBuffer = kZefQualifiedWave | ZEFTYPE_LOCATION_BUFFER;
constexpr uint32_t kPcmWaveFile = ZEFTYPE_FORMAT_WAVE | ZEFTYPE_LOCATION_FILE;
constexpr uint32_t kZefOutputFile = kZefWaveFile;
constexpr uint32_t kRawPcmFile = ZEFTYPE_FORMAT_RAW | ZEFTYPE_LOCATION_FILE;
constexpr uint32_t kRawPcmBuffer = ZEFTYPE_FORMAT_RAW | ZEFTYPE_LOCATION_BUFFER;
constexpr uint32_t kSpeaker = ZEFTYPE_LOCATION_SOUND;  // PCM to the audio device
constexpr uint32_t kRawPcmFunction = ZEFTYPE_FORMAT_RAW | ZEFTYPE_LOCATION_FUNCTION;
constexpr size_t kCopyChunk = size_t(1) << 16;  // even, so a chunk never splits a sample
constexpr int kTempNameTries = 100;

// The library is started by every converter and shut down with the last
// one: a session of another converter may still need its Guisettes.
int liveConverters = 0;

KELVANE_DATA clearedData() {
    KELVANE_DATA kd{};
    kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
    return kd;
}

// The player's defaults: no pitch shift, 100 Hz absolute pitch, normal speed.
KELVANE_DATA decodingData() {
    KELVANE_DATA kd = clearedData();
    kd.fRelativePitch = 0.0f;
    kd.fAbsolutePitch = 100.0f;
    kd.wReserved = 0;
    kd.fWarpedLengthFactor = 1.0f;
    return kd;
}

unsigned bytesOfSunEncoding(uint32_t encoding) {
    return encoding >= 2 && encoding <= 5 ? encoding - 1 : 0;
}

// Raw PCM keeps 8-bit samples unsigned and 16-bit samples in host order; a
// Sun audio file keeps them signed and big-endian.
void sunToHost(uint8_t* p, size_t n, unsigned encoding) {
    if (encoding == kSndLinear16) zef::beSamplesToHost(p, n / 2);
    if (encoding == kSndLinear8)
        for (size_t i = 0; i < n; ++i) p[i] ^= 0x80;
}
void hostToSun(uint8_t* p, size_t n, unsigned encoding) {
    if (encoding == kSndLinear16) zef::hostSamplesToBE(p, n / 2);
    if (encoding == kSndLinear8)
        for (size_t i = 0; i < n; ++i) p[i] ^= 0x80;
}

struct SunHeader {
    uint32_t dataLocation = 0;
    uint32_t dataSize = 0;
    uint32_t encoding = 0;
    uint32_t rate = 0;
    uint32_t channels = 0;
};

// Reads the fixed part of a Sun audio header and checks it against the file.
int readSunHeader(const char* name, SunHeader* h, const char* who) {
    FILE* f = name ? std::fopen(name, "rb") : nullptr;
    if (!f) {
        perror(who);
        return 1;
    }
    uint8_t b[kSndMinHeaderSize];
    size_t got = std::fread(b, 1, sizeof b, f);
    struct stat st;
    int statFailed = ::fstat(fileno(f), &st);
    std::fclose(f);
    if (got != sizeof b || statFailed) {
        if (got != sizeof b) std::fprintf(stderr, "%s: %s: the Sun audio header is incomplete\n", who, name);
        else perror(who);
        return 1;
    }
    if (zef::readBE32(b) != kSndMagic) {
        std::fprintf(stderr, "%s: %s: not a Sun audio file\n", who, name);
        return 1;
    }
    h->dataLocation = zef::readBE32(b + 4);
    h->dataSize = zef::readBE32(b + 8);
    h->encoding = zef::readBE32(b + 12);
    h->rate = zef::readBE32(b + 16);
    h->channels = zef::readBE32(b + 20);
    auto fileSize = uint64_t(st.st_size);
    if (h->dataLocation < kSndMinHeaderSize || h->dataLocation > fileSize) {
        std::fprintf(stderr, "%s: %s: data offset %u lies outside the file\n", who, name, h->dataLocation);
        return 1;
    }
    if (h->dataSize == kSndUnknownSize) h->dataSize = uint32_t(std::min<uint64_t>(fileSize - h->dataLocation, kSndUnknownSize - 1));
    return 0;
}

// A new file for the decoded PCM next to the coded file: never an existing
// file and never through a link; a name in use gives way to a numbered one.
int createTempPcm(const char* base, std::string* name, const char* who = "AuConvert::Zef2Sound") {
    for (int k = 0; k < kTempNameTries; ++k) {
        *name = std::string(base) + (k ? "." + std::to_string(k) : std::string()) + ".tmp_PCM";
        int fd = ::open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) return fd;
        if (errno != EEXIST) {
            perror(who);
            return -1;
        }
    }
    std::fprintf(stderr, "%s: no free temporary name for %s\n", who, base);
    return -1;
}

bool writeAll(int fd, const uint8_t* p, size_t n);

// The samples of a Sun audio file, in raw PCM's order, to a descriptor.
int copySunData(const char* snd, const SunHeader& h, int fd, const char* who) {
    FILE* in = std::fopen(snd, "rb");
    if (!in || fseeko(in, off_t(h.dataLocation), SEEK_SET) != 0) {
        perror(who);
        if (in) std::fclose(in);
        return 1;
    }
    std::vector<uint8_t> chunk(kCopyChunk);
    int result = 0;
    for (uint64_t left = h.dataSize; left > 0;) {
        size_t want = size_t(std::min<uint64_t>(chunk.size(), left));
        size_t got = std::fread(chunk.data(), 1, want, in);
        if (got != want) {
            if (std::ferror(in)) perror(who);
            else std::fprintf(stderr, "%s: %s ends inside its sound data\n", who, snd);
            result = 1;
            break;
        }
        sunToHost(chunk.data(), got, h.encoding);
        if (!writeAll(fd, chunk.data(), got)) {
            perror(who);
            result = 1;
            break;
        }
        left -= got;
    }
    std::fclose(in);
    return result;
}

struct DescriptorWriter {
    int fd;
    bool failed;
};

bool writeAll(int fd, const uint8_t* p, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= size_t(w);
    }
    return true;
}

// The library's writer function: PCM goes straight to the descriptor.
uint16_t writeToDescriptor(uint16_t, uint16_t message, void* data) {
    auto* block = static_cast<ZEF_FUNCTION_BLOCK*>(data);
    auto* w = reinterpret_cast<DescriptorWriter*>(block->lpKelvaneData->dwUserData);
    if (message != ZEFFUNC_OPEN && message != ZEFFUNC_WRITE) return 0;
    if (block->dwLength && !writeAll(w->fd, static_cast<const uint8_t*>(block->lpBuffer), block->dwLength)) {
        w->failed = true;
        return 1;
    }
    return 0;
}

}  // namespace

// ---- life cycle and settings ------------------------------------------------

AuConvert::AuConvert() : objId(++id) {
    startupRecord.wSize = ZEF_STARTUP_SIZE;
    primaryError = zefStartup(&startupRecord);
    if (primaryError) {
        errorState = 1;
    } else {
        started = true;
        ++liveConverters;
    }
    initBufZefData();
}

AuConvert::~AuConvert() {
    freeZefDcmp();
    if (started && --liveConverters == 0) zefShutdown();
}

void AuConvert::initBufZefData() {
    if (sessionOpen()) freeZefDcmp();
    zefData = decodingData();
    zefData.lpCallback = savedCallback;
    zefData.dwUserData = savedUserData;
    if (savedWarp != 1.0f) zefData.fWarpedLengthFactor = savedWarp;
    zefData.wOutputBytesPerSample = uint16_t(savedSize);
    zefData.dwOutputSamplingRate = uint32_t(savedRate);
}

void AuConvert::setZefCallback(KELVANE_CALLBACK callback) {
    savedCallback = callback;
    zefData.lpCallback = callback;
}

void AuConvert::setZefUserData(uintptr_t data) {
    savedUserData = data;
    zefData.dwUserData = data;
}

// The decoder reads the factor between frames without checking it, so it is
// kept within what the library accepts here.
void AuConvert::setWarpFactor(float factor) {
    if (std::isnan(factor)) factor = 1.0f;
    factor = std::clamp(factor, float(MIN_WARPED_LENGTH_FACTOR), float(MAX_WARPED_LENGTH_FACTOR));
    savedWarp = factor;
    zefData.fWarpedLengthFactor = factor;
}

void AuConvert::setRate(unsigned long rate) {
    savedRate = rate;
    zefData.dwOutputSamplingRate = uint32_t(rate);
}

void AuConvert::setSize(unsigned long bytesPerSample) {
    savedSize = bytesPerSample;
    zefData.wOutputBytesPerSample = uint16_t(bytesPerSample);
}

// ---- streaming decompression ----------------------------------------------

int AuConvert::initBufZef2Raw(char* in, int* inSize, char* out, int* outSize) {
    initBufZefData();
    zefData.dwInputType = kZefWaveBuffer;
    zefData.dwOutputType = kRawPcmBuffer;
    return initZefDcmp(in, inSize, out, outSize);
}

// The same session with its sound going to the audio device that ZEFAUDIO
// names: playZefData plays what it decodes. The library names the device
// output by its location alone (0x400): PCM is all a device takes, and a
// format beside it (raw, 0x20400) is refused as an unknown output.
int AuConvert::initBufZef2Speaker(char* in, int* inSize, char* out, int* outSize) {
    initBufZefData();
    zefData.dwInputType = kZefWaveBuffer;
    zefData.dwOutputType = kSpeaker;
    return initZefDcmp(in, inSize, out, outSize);
}

// Plays coded speech on the audio device until its input ends: on the
// session of initBufZef2Speaker, the frames at in; without a session, a
// whole Zef WAVE file held at in. *inSize becomes the bytes used.
int AuConvert::playZefData(char* in, int* inSize) {
    if (!in || !inSize || *inSize < 0) {
        primaryError = ZEFERR_INPUT_HANDLER;
        secondaryError = 0;
        return 1;
    }
    if (!sessionOpen()) {
        initBufZefData();
        zefData.dwInputType = kZefWaveBuffer;
        zefData.dwOutputType = kSpeaker;
    }
    zefData.dwInputBytesUsed = 0;
    zefData.lpInputLocation = in;
    zefData.dwInputSize = uint32_t(*inSize);
    primaryError = dcmpMirlanePlay(&zefData, 0, 0);
    if (primaryError) return setSecondaryErr(zefData);
    *inSize = int(zefData.dwInputBytesUsed);
    lastInputUsed = zefData.dwInputBytesUsed;
    lastOutputUsed = zefData.dwOutputBytesUsed;
    return 0;
}

int AuConvert::initZefDcmp(char* in, int* inSize, char* out, int* outSize) {
    if (!in || !inSize || !out || !outSize || *inSize < 0 || *outSize < 0) {
        primaryError = ZEFERR_INPUT_HANDLER;
        secondaryError = 0;
        return 1;
    }
    zefData.lpInputLocation = in;
    zefData.dwInputSize = uint32_t(*inSize);
    zefData.lpOutputLocation = out;
    zefData.dwOutputSize = uint32_t(*outSize);
    primaryError = dcmpZefInit(&zefData);
    if (primaryError) {
        setSecondaryErr(zefData);
        // A failed start may leave part of a session attached: release it.
        if (sessionOpen()) dcmpMirlaneCleanup(&zefData);
        if (Debug) std::fprintf(stderr, "AuConvert::initZefDcmp: error %u (%u)\n", primaryError, secondaryError);
        return 1;
    }
    *inSize = int(zefData.dwInputBytesUsed);
    *outSize = int(zefData.dwOutputBytesUsed);
    lastInputUsed = zefData.dwInputBytesUsed;
    lastOutputUsed = zefData.dwOutputBytesUsed;
    if (totalFrames == 0) totalFrames = zefData.dwFramesLeft;
    return 0;
}

int AuConvert::bufZefConvert(char* out, int* outSize) {
    if (!out || !outSize || *outSize < 0) {
        primaryError = ZEFERR_OUTPUT_HANDLER;
        secondaryError = 0;
        return 1;
    }
    zefData.dwOutputBytesUsed = 0;
    zefData.lpOutputLocation = out;
    zefData.dwOutputSize = uint32_t(*outSize);
    primaryError = dcmpZefConvert(&zefData);
    if (primaryError) {
        if (Debug) std::fprintf(stderr, "AuConvert::bufZefConvert: error %u\n", primaryError);
        return setSecondaryErr(zefData);
    }
    *outSize = int(zefData.dwOutputBytesUsed);
    lastInputUsed = zefData.dwInputBytesUsed;
    lastOutputUsed = zefData.dwOutputBytesUsed;
    return 0;
}

int AuConvert::bufZefConvert(char* in, int* inSize, char* out, int* outSize) {
    if (!in || !inSize || *inSize < 0) {
        primaryError = ZEFERR_INPUT_HANDLER;
        secondaryError = 0;
        return 1;
    }
    setZefInput(in, static_cast<unsigned long>(*inSize), 0);
    if (bufZefConvert(out, outSize)) return 1;
    *inSize = int(zefData.dwInputBytesUsed);
    return 0;
}

int AuConvert::freeZefDcmp() {
    if (!sessionOpen()) return 0;
    // The last output buffer may be gone by now: the session is closed
    // without one.
    zefData.lpOutputLocation = nullptr;
    zefData.dwOutputSize = 0;
    zefData.dwOutputBytesUsed = 0;
    primaryError = dcmpZefFree(&zefData);
    if (sessionOpen()) dcmpMirlaneCleanup(&zefData);
    return primaryError ? setSecondaryErr(zefData) : 0;
}

int AuConvert::setSecondaryErr(const KELVANE_DATA& data) {
    secondaryError = uint16_t(data.dwSecondaryError & 0xFFFF);
    return 1;
}

void AuConvert::setZefInput(char* in, unsigned long size, unsigned long used) {
    zefData.lpInputLocation = in;
    zefData.dwInputSize = uint32_t(size);
    zefData.dwInputBytesUsed = uint32_t(used);
}

unsigned short AuConvert::frameBlock() const {
    unsigned bits = zefData.wBitsPerFrame;
    if (bits % 8 == 0) return uint16_t(bits / 8);
    if (bits % 4 == 0) return uint16_t(bits / 4);
    if (bits % 2 == 0) return uint16_t(bits / 2);
    return uint16_t(bits);
}

// ---- descriptions -------------------------------------------------------------

int AuConvert::describe(const void* location, uint32_t type, unsigned long size, ZEF_FILE_INFO* info) {
    if (!location || !info) {
        primaryError = location ? ZEFERR_ZEF_FILE_INFO_POINTER_NULL : ZEFERR_INPUT_HANDLER;
        secondaryError = 0;
        return 1;
    }
    KELVANE_DATA kd = clearedData();
    kd.dwInputType = type;
    kd.lpInputLocation = const_cast<void*>(location);
    kd.dwInputSize = uint32_t(size);
    kd.dwOutputType = ZEFTYPE_FILE_INFO;
    kd.lpOutputLocation = info;
    kd.dwOutputSize = ZEF_FILE_INFO_SIZE;
    primaryError = utilGetFileInfo(&kd);
    return primaryError ? setSecondaryErr(kd) : 0;
}

int AuConvert::GetZefFileInfo(const char* name, ZEF_FILE_INFO* info, unsigned long flag) {
    return describe(name, uint32_t(flag) | kZefQualifiedWave, 0, info);
}

int AuConvert::GetZefBufferInfo(const char* data, unsigned long size, ZEF_FILE_INFO* info) {
    return describe(data, kZefWaveBuffer, size, info);
}

void AuConvert::fillFromInfo(const ZEF_FILE_INFO& fi, SNDSoundStruct* out) {
    uint32_t bytes = fi.wBytesPerSample;
    out->magic = kSndMagic;
    out->dataLocation = kSndHeaderSize;
    // Counted in 64 bits: a length of 0xFFFFFFFF samples is not 0xFFFFFFFE bytes.
    out->dataSize = uint32_t(std::min<uint64_t>(uint64_t(fi.dwLength) * bytes, 0xFFFFFFFFu));
    out->dataFormat = uint32_t(getSoundSize(uint16_t(bytes)));
    out->samplingRate = fi.dwSamplingRate;
    out->channelCount = fi.wChannels;
    std::memcpy(out->info, "SUN", 4);
    out->sampleCount = fi.dwLength;
    out->bytesPerSample = bytes;
    out->attrFlags = kSndAttrFlags;
    out->reserved = 0;
    out->duration = fi.dwSamplingRate ? float(fi.dwLength) / float(fi.dwSamplingRate) : 0.0f;
}

int AuConvert::getSoundAttr(const char* name, unsigned long flag, SNDSoundStruct* out) {
    if (!out || GetZefFileInfo(name, &fileInfo, flag)) return 1;
    fillFromInfo(fileInfo, out);
    return 0;
}

int AuConvert::getBufferSoundAttr(const char* data, unsigned long size, SNDSoundStruct* out) {
    if (!out || GetZefBufferInfo(data, size, &fileInfo)) return 1;
    fillFromInfo(fileInfo, out);
    return 0;
}

int AuConvert::getWaveSoundAttr(const char* name, SNDSoundStruct* out) {
    if (!out || describe(name, kPcmWaveFile, 0, &fileInfo)) return 1;
    fillFromInfo(fileInfo, out);
    return 0;
}

int AuConvert::getSunSoundAttr(const char* name, SNDSoundStruct* out) {
    SunHeader h;
    if (!out || readSunHeader(name, &h, "AuConvert::getSunSoundAttr")) return 1;
    unsigned bytes = bytesOfSunEncoding(h.encoding);
    const uint64_t frameBytes = uint64_t(bytes) * std::max<uint32_t>(h.channels, 1);  // never wraps to 0
    SNDSoundStruct s{};
    s.magic = kSndMagic;
    s.dataLocation = h.dataLocation;
    s.dataSize = h.dataSize;
    s.dataFormat = h.encoding;
    s.samplingRate = h.rate;
    s.channelCount = h.channels;
    std::memcpy(s.info, "SUN", 4);
    s.sampleCount = frameBytes ? uint32_t(h.dataSize / frameBytes) : 0;
    s.bytesPerSample = bytes;
    s.attrFlags = kSndAttrFlags;
    s.duration = h.rate ? float(s.sampleCount) / float(h.rate) : 0.0f;
    *out = s;
    return 0;
}

int AuConvert::getSoundAttr(const char* name, PCMAttr& attr, SNDSoundStruct* out) {
    struct stat st;
    if (!name || !out || ::stat(name, &st) != 0) {
        if (!name || !out) errno = EINVAL;
        perror("getSoundAttr");
        return 1;
    }
    if (uint64_t(st.st_size) >= kSndUnknownSize) {
        std::fprintf(stderr, "getSoundAttr: %s is too large for a Sun audio header\n", name);
        return 1;
    }
    // Through both tables, so that only the two linear encodings come out.
    unsigned long format = getSoundSize(getZefSize(attr.sampleSize));
    unsigned bytes = bytesOfSunEncoding(uint32_t(format));
    const uint64_t frameBytes = uint64_t(bytes) * std::max<unsigned>(attr.channels, 1);
    SNDSoundStruct s{};
    s.magic = kSndMagic;
    s.dataLocation = kSndHeaderSize;
    s.dataSize = uint32_t(st.st_size);
    s.dataFormat = uint32_t(format);
    s.samplingRate = uint32_t(attr.samplingRate);
    s.channelCount = attr.channels;
    std::memcpy(s.info, "SUN", 4);
    s.sampleCount = frameBytes ? uint32_t(s.dataSize / frameBytes) : 0;
    s.bytesPerSample = bytes;
    s.attrFlags = kSndAttrFlags;
    s.duration = attr.samplingRate ? float(s.sampleCount) / float(attr.samplingRate) : 0.0f;
    *out = s;
    return 0;
}

// ---- mapping tables ---------------------------------------------------------------

unsigned short AuConvert::getZefSize(unsigned short sunEncoding) {
    switch (sunEncoding) {
        case kSndLinear8: return KELVANE_SAMPLE_SIZE_8BIT;
        case kSndLinear16: return KELVANE_SAMPLE_SIZE_16BIT;
        default: return 0;
    }
}

unsigned long AuConvert::getZefRate(unsigned long rate) {
    switch (rate / 1000) {
        case 8: return 8000;
        case 11: return 11025;
        case 16: return 16000;
        case 22: return 22050;
        case 32: return 32000;
        case 44: return 44100;
        case 11127: return ZEF_RATE_11127_FIXED;
        case 22254: return ZEF_RATE_22254_FIXED;
        default: return 0;
    }
}

unsigned long AuConvert::getSoundSize(unsigned short bytesPerSample) {
    switch (bytesPerSample) {
        case KELVANE_SAMPLE_SIZE_8BIT: return kSndLinear8;
        case KELVANE_SAMPLE_SIZE_16BIT: return kSndLinear16;
        default:
            perror("AuConvert::getSoundSize: unknown sample size\nReturn Linear_16");
            return kSndLinear16;
    }
}

unsigned long AuConvert::getSoundRate(unsigned long rate) {
    return rate == 8000 || rate == 22050 || rate == 44100 ? rate : 0;
}

// ---- whole files ----------------------------------------------------------------

int AuConvert::catAttr(const SNDSoundStruct& snd, const char* file) {
    uint8_t b[kSndHeaderSize];
    const uint32_t words[] = {snd.magic, snd.dataLocation, snd.dataSize, snd.dataFormat, snd.samplingRate,
                              snd.channelCount};
    for (int i = 0; i < 6; ++i) zef::writeBE32(b + 4 * i, words[i]);
    std::memcpy(b + 24, snd.info, 4);
    zef::writeBE32(b + 28, snd.sampleCount);
    zef::writeBE32(b + 32, snd.bytesPerSample);
    zef::writeBE32(b + 36, snd.attrFlags);
    zef::writeBE32(b + 40, snd.reserved);
    zef::writeBEFloat(b + 44, snd.duration);
    FILE* f = file ? std::fopen(file, "wb") : nullptr;
    if (!f) {
        perror("catAttr");
        return 1;
    }
    size_t written = std::fwrite(b, 1, sizeof b, f);
    if (std::fclose(f) != 0 || written != sizeof b) {
        perror("catAttr");
        return 1;
    }
    return 0;
}

int AuConvert::appBufToFile(const char* buf, long n, const char* file) {
    if (n < 0 || (!buf && n > 0)) return 1;
    FILE* f = file ? std::fopen(file, "ab") : nullptr;
    if (!f) {
        perror("appBufToFile");
        return 1;
    }
    size_t written = n ? std::fwrite(buf, 1, size_t(n), f) : 0;
    if (std::fclose(f) != 0 || written != size_t(n)) {
        perror("appBufToFile");
        return 1;
    }
    return 0;
}

int AuConvert::appendFile(const char* from, long end, const char* to) { return appendFile(from, end, 0, to); }

int AuConvert::appendFile(const char* from, long end, long start, const char* to) {
    return copyRange(from, start, end, to, SampleOrder::Bytes, 0);
}

// Copies bytes start .. end of one file to the end of another, a chunk at a
// time, converting the samples on the way when asked.
int AuConvert::copyRange(const char* from, long start, long end, const char* to, SampleOrder order,
                         unsigned sunEncoding) {
    if (!from || !to || start < 0 || end < start) {
        std::fprintf(stderr, "appendFile: nothing to copy from %s (%ld .. %ld)\n", from ? from : "(none)", start, end);
        return 1;
    }
    FILE* in = std::fopen(from, "rb");
    if (!in) {
        perror("appendFile");
        return 1;
    }
    // A range beyond the end is refused before anything is appended.
    struct stat st;
    bool statFailed = ::fstat(fileno(in), &st) != 0;
    if (statFailed || (S_ISREG(st.st_mode) && end > st.st_size)) {
        if (statFailed) perror("appendFile");
        else std::fprintf(stderr, "appendFile: %s ends before byte %ld\n", from, end);
        std::fclose(in);
        return 1;
    }
    if (start != 0 && fseeko(in, off_t(start), SEEK_SET) != 0) {
        perror("appendFile");
        std::fclose(in);
        return 1;
    }
    std::vector<uint8_t> chunk(std::min<size_t>(kCopyChunk, size_t(end - start)));
    int result = 0;
    for (long left = end - start; left > 0 && result == 0;) {
        size_t want = std::min<size_t>(chunk.size(), size_t(left));
        size_t got = std::fread(chunk.data(), 1, want, in);
        if (got != want) {
            if (std::ferror(in)) perror("appendFile");
            else std::fprintf(stderr, "appendFile: %s ends before byte %ld\n", from, end);
            result = 1;
            break;
        }
        if (order == SampleOrder::HostToSun) hostToSun(chunk.data(), got, sunEncoding);
        if (order == SampleOrder::SunToHost) sunToHost(chunk.data(), got, sunEncoding);
        result = appBufToFile(reinterpret_cast<const char*>(chunk.data()), long(got), to);
        left -= long(got);
    }
    std::fclose(in);
    return result;
}

int AuConvert::Raw2Sound(const char* raw, PCMAttr& attr, const char* snd) {
    SNDSoundStruct header{};
    if (getSoundAttr(raw, attr, &header) || catAttr(header, snd)) return 1;
    return copyRange(raw, 0, long(header.dataSize), snd, SampleOrder::HostToSun, header.dataFormat);
}

int AuConvert::Sound2Raw(const char* snd, const char* raw, PCMAttr* attr) {
    SunHeader h;
    if (readSunHeader(snd, &h, "Sound2Raw")) return 1;
    // 65537 channels must not read as one.
    if (attr)
        *attr = PCMAttr{long(h.dataSize), uint16_t(h.encoding), h.rate, uint16_t(std::min<uint32_t>(h.channels, 0xFFFF))};
    // The raw file holds this sound only, not what an older file held.
    FILE* f = raw ? std::fopen(raw, "wb") : nullptr;
    if (!f || std::fclose(f) != 0) {
        perror("Sound2Raw");
        return 1;
    }
    long begin = long(h.dataLocation);
    return copyRange(snd, begin, begin + long(h.dataSize), raw, SampleOrder::SunToHost, h.encoding);
}

int AuConvert::Zef2Raw(const char* zef, const char* raw, PCMAttr* attr) {
    KELVANE_DATA kd = decodingData();
    kd.dwInputType = kZefWaveFile;
    kd.lpInputLocation = const_cast<char*>(zef);
    kd.dwOutputType = kRawPcmFile;
    kd.lpOutputLocation = const_cast<char*>(raw);
    primaryError = dcmpMirlaneDecompress(&kd);
    if (primaryError) return setSecondaryErr(kd);
    if (attr) {
        struct stat st;
        attr->dataSize = ::stat(raw, &st) == 0 ? long(st.st_size) : 0;
        attr->sampleSize = uint16_t(getSoundSize(kd.wOutputBytesPerSample));
        attr->samplingRate = kd.dwOutputSamplingRate;
        attr->channels = 1;  // coded speech is mono
    }
    return 0;
}

int AuConvert::decodeToDescriptor(const char* zef, int fd, PCMAttr* attr) {
    DescriptorWriter writer{fd, false};
    KELVANE_DATA kd = decodingData();
    kd.dwUserData = reinterpret_cast<uintptr_t>(&writer);
    kd.dwInputType = kZefWaveFile;
    kd.lpInputLocation = const_cast<char*>(zef);
    kd.dwOutputType = kRawPcmFunction;
    kd.lpOutputLocation = reinterpret_cast<void*>(&writeToDescriptor);
    primaryError = dcmpMirlaneDecompress(&kd);
    if (writer.failed) perror("AuConvert::Zef2Sound");
    if (primaryError) return setSecondaryErr(kd);
    struct stat st;
    attr->dataSize = ::fstat(fd, &st) == 0 ? long(st.st_size) : 0;
    attr->sampleSize = uint16_t(getSoundSize(kd.wOutputBytesPerSample));
    attr->samplingRate = kd.dwOutputSamplingRate;
    attr->channels = 1;
    return 0;
}

int AuConvert::Zef2Sound(const char* zef, const char* snd) {
    if (!zef || !snd) return 1;
    std::string temp;
    int fd = createTempPcm(zef, &temp);
    if (fd < 0) return 1;
    PCMAttr attr;
    int failed = decodeToDescriptor(zef, fd, &attr);
    if (::close(fd) != 0 && !failed) {
        perror("AuConvert::Zef2Sound");
        failed = 1;
    }
    if (failed || GetZefFileInfo(zef, &fileInfo, ZEFTYPE_LOCATION_FILE)) return 1;
    uint16_t bytes = fileInfo.wBytesPerSample;
    attr = PCMAttr{long(bytes) * long(fileInfo.dwLength), uint16_t(getSoundSize(bytes)), fileInfo.dwSamplingRate,
                   fileInfo.wChannels};
    return Raw2Sound(temp.c_str(), attr, snd);
}

// ---- compression -------------------------------------------------------------

// Compresses into a coded WAVE file; the library removes a file it could not
// finish.
int AuConvert::compress(KELVANE_DATA& kd, const char* zef) {
    kd.dwOutputType = kZefOutputFile;
    kd.lpOutputLocation = const_cast<char*>(zef);
    primaryError = cmpMirlaneCompress(&kd);
    if (primaryError) return setSecondaryErr(kd);
    return 0;
}

int AuConvert::Wav2Zef(const char* wav, const char* zef) {
    primaryError = secondaryError = 0;
    KELVANE_DATA kd = decodingData();
    kd.dwInputType = kPcmWaveFile;
    kd.lpInputLocation = const_cast<char*>(wav);
    kd.dwCompressionSettings = KELVANE_CODEC_LUMO_8K;
    return compress(kd, zef);
}

// Raw PCM carries no channel count the library could read: it is taken as
// mono, so interleaved channels are refused rather than coded as one
// sound at twice its length.
int AuConvert::Raw2Zef(const char* raw, PCMAttr& attr, const char* zef) {
    primaryError = secondaryError = 0;
    if (attr.channels > 1) {
        std::fprintf(stderr, "AuConvert::Raw2Zef: %s has %u channels; only mono raw PCM can be compressed\n",
                     raw ? raw : "(none)", unsigned(attr.channels));
        primaryError = ZEFERR_INVALID_INPUT_TYPE;
        secondaryError = attr.channels;
        return 1;
    }
    KELVANE_DATA kd = decodingData();
    kd.dwInputType = kRawPcmFile;
    kd.lpInputLocation = const_cast<char*>(raw);
    kd.wInputBytesPerSample = getZefSize(attr.sampleSize);
    kd.dwInputSamplingRate = uint32_t(getZefRate(attr.samplingRate));
    kd.dwCompressionSettings = 0;
    return compress(kd, zef);
}

int AuConvert::Sound2Zef(const char* snd, const char* zef) {
    primaryError = secondaryError = 0;
    if (!snd || !zef) return 1;
    SunHeader h;
    if (readSunHeader(snd, &h, "AuConvert::Sound2Zef")) return 1;
    std::string temp;
    int fd = createTempPcm(zef, &temp, "AuConvert::Sound2Zef");
    if (fd < 0) return 1;
    int failed = copySunData(snd, h, fd, "AuConvert::Sound2Zef");
    if (::close(fd) != 0 && !failed) {
        perror("AuConvert::Sound2Zef");
        failed = 1;
    }
    if (failed) return 1;
    PCMAttr attr{long(h.dataSize), uint16_t(h.encoding), h.rate, uint16_t(std::min<uint32_t>(h.channels, 0xFFFF))};
    return Raw2Zef(temp.c_str(), attr, zef);
}
