// zefinfo: describes sound files as the Mirlane library reads them, without
// decoding them: container, codec, rate, length, INFO texts, markers and
// Guisette.
#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "byteorder.h"
#include "guisette.h"
#include "mirlane.h"
#include "toolcommon.h"
#include "zefapi.h"

namespace {

constexpr int kInfoRecords = 16;

enum class Container { Wave, Aiff, RawZef, Packet };

struct FileKind {
    Container container;
    std::string name;  // as printed
};

std::vector<uint8_t> readHead(const char* path, size_t n) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> head(n);
    in.read(reinterpret_cast<char*>(head.data()), std::streamsize(n));
    head.resize(size_t(in.gcount()));
    return head;
}

bool tagAt(const std::vector<uint8_t>& b, size_t at, const char (&tag)[5]) {
    return b.size() >= at + 4 && zef::isFourcc(b.data() + at, tag);
}

bool endsWith(const std::string& s, const char* suffix) {
    size_t n = std::strlen(suffix);
    if (s.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != suffix[i]) return false;
    return true;
}

// The container by the first bytes, or else by the name, so that a damaged
// file is refused by the reader it was meant for; anything unknown goes to
// the WAVE reader, whose refusal names what it found.
FileKind guessKind(const char* path) {
    // Only a plain file is peeked at: bytes read from a pipe would be lost.
    struct stat st;
    std::vector<uint8_t> head;
    if (::stat(path, &st) == 0 && S_ISREG(st.st_mode)) head = readHead(path, 12);
    if (tagAt(head, 0, "FORM"))
        return {Container::Aiff, tagAt(head, 8, "AIFC") ? "AIFF-C" : "AIFF"};
    if (tagAt(head, 0, "ZEF!")) return {Container::RawZef, "raw Zef stream, chunked header (ZEF!)"};
    if (tagAt(head, 0, "ZEFh")) return {Container::RawZef, "raw Zef stream, compact header (ZEFh)"};
    if (tagAt(head, 0, "zef!") || tagAt(head, 8, "zef!")) return {Container::Packet, "Zef packet stream (zef!)"};
    if (tagAt(head, 0, "RIFF") || tagAt(head, 0, "RIFX")) return {Container::Wave, "WAVE"};
    std::string name = path;
    if (endsWith(name, ".aif") || endsWith(name, ".aiff") || endsWith(name, ".aifc")) return {Container::Aiff, "AIFF"};
    if (endsWith(name, ".zefp")) return {Container::Packet, "Zef packet stream"};
    if (endsWith(name, ".zef")) return {Container::RawZef, "raw Zef stream"};
    return {Container::Wave, "WAVE"};
}

struct Session {
    KELVANE_DATA kd{};
    ZEF_FILE_INFO info{};
    KELVANE_INFO_CHUNK texts[kInfoRecords]{};
    KELVANE_MARKER_REQUEST markers{1, ZEF_MARKER_REQUEST_SIZE, 0, 0, 0, 0};
    std::vector<uint8_t> bytes;  // packet streams are read from memory

    void prepare(uint32_t type, const char* path) {
        kd = KELVANE_DATA{};
        info = ZEF_FILE_INFO{};
        std::memset(texts, 0, sizeof texts);
        kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
        kd.dwInputType = type;
        kd.lpInputLocation = const_cast<char*>(path);
        kd.dwOutputType = ZEFTYPE_FILE_INFO;
        kd.lpOutputLocation = &info;
        kd.dwOutputSize = ZEF_FILE_INFO_SIZE;
        kd.lpInfoChunks = texts;
        kd.wInfoChunks = kInfoRecords;
        kd.lpMarker = &markers;
    }
    ~Session() { close(); }
    void close() {
        if (kd.lpControlBlock) utilMirlaneCleanup(&kd);
    }
    zef::ZefControlBlock* block() { return zef::controlBlock(&kd); }
};

constexpr uint32_t kWave = ZEFTYPE_FORMAT_WAVE | ZEFTYPE_LOCATION_FILE;
constexpr uint32_t kAiff = ZEFTYPE_FORMAT_AIFF | ZEFTYPE_LOCATION_FILE;
constexpr uint32_t kRaw = ZEFTYPE_FORMAT_RAW | ZEFTYPE_LOCATION_FILE | ZEFTYPE_QUALIFIER_ZEF;
constexpr uint32_t kPacket = ZEFTYPE_FORMAT_RAW | ZEFTYPE_LOCATION_PACKET | ZEFTYPE_QUALIFIER_ZEF;

// The information call takes no packet input, so a packet stream is opened
// through the data endpoint the same way, from memory.
uint16_t openPacket(Session& s, const char* path) {
    std::ifstream in(path, std::ios::binary);
    s.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    s.prepare(kPacket, path);
    s.kd.lpInputLocation = s.bytes.data();
    s.kd.dwInputSize = uint32_t(s.bytes.size());
    if (uint16_t err = zef::NewZefControlBlock(&s.kd)) return err;
    s.block()->lpInputHandler = zef::HandleInputData;
    if (uint16_t err = zef::HandleInputData(&s.kd, ZEFMSG_OPEN)) return err;
    const zef::StreamDesc& d = s.block()->lpInputVars->desc;
    s.info.wFormatTag = d.wFormatTag;
    s.info.wChannels = d.wChannels;
    s.info.dwBitRate = d.dwAvgBytesPerSec * 8;
    s.info.dwSamplingRate = d.dwSamplingRate;
    s.info.wBytesPerSample = d.wBytesPerSample;
    s.info.dwLength = d.dwSampleCount;
    return 0;
}

uint16_t open(Session& s, const FileKind& kind, const char* path) {
    switch (kind.container) {
        case Container::Aiff:
            s.prepare(kAiff, path);
            return utilMirlaneInit(&s.kd);
        case Container::RawZef:
            s.prepare(kRaw, path);
            return utilMirlaneInit(&s.kd);
        case Container::Packet:
            return openPacket(s, path);
        case Container::Wave:
            break;
    }
    s.prepare(kWave, path);
    uint16_t err = utilMirlaneInit(&s.kd);
    // Coded speech asked for as PCM is refused by its 16-byte header (114)
    // or by its format tag (128).
    if (err != ZEFERR_INVALID_INPUT_TYPE && err != ZEFERR_FORMAT_ZEF) return err;
    s.close();  // coded speech: read it as such
    s.prepare(kWave | ZEFTYPE_QUALIFIER_ZEF, path);
    return utilMirlaneInit(&s.kd);
}

std::string fourccText(uint32_t v) {
    uint8_t b[4];
    zef::writeFourcc(b, v);
    std::string s;
    for (uint8_t c : b) s += (c >= 0x20 && c < 0x7F) ? char(c) : '?';
    return s;
}

std::string printable(const char* text, size_t max) {
    std::string s;
    for (size_t i = 0; i < max && text[i]; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        s += (c >= 0x20 && c != 0x7F) ? char(c) : '?';
    }
    return s;
}

// The catalogue's short name for a header identifier, else the identifier.
std::string codecName(uint32_t identifier) {
    static const struct {
        const char* id;
        uint32_t setting;
    } kSettings[] = {{"ZEFa", KELVANE_CODEC_LUMO_8K}, {"ZEFb", KELVANE_CODEC_ZEFB_8K}, {"ZEFe", KELVANE_CODEC_ZEFE_8K},
                     {"ZEFf", KELVANE_CODEC_ZEFF_8K}, {"ZEFg", KELVANE_CODEC_PELN_HQ}};
    std::string id = fourccText(identifier);
    zef::APIGlobals* globals = nullptr;
    uint16_t count = 0;
    if (zef::AccumulateCodecs(&count) || zef::GetAPIGlobals(&globals)) return id;
    for (const auto& row : kSettings) {
        if (id != row.id) continue;
        for (uint16_t i = 0; i < count; ++i)
            if (globals->lpCodecs[i].dwSetting == row.setting)
                return printable(globals->lpCodecs[i].szShortName, sizeof globals->lpCodecs[i].szShortName);
    }
    return id;
}

std::string infoName(uint32_t id) {
    static const char* kKnown[] = {"", "IARL", "ICOP", "INAM", "ISFT", "IENG", "ICMT"};
    return id < 7 ? kKnown[id] : fourccText(id);
}

void printCodec(Session& s) {
    zef::ZefControlBlock* cb = s.block();
    uint32_t identifier = 0;
    std::string name = zef::GetCodecID(&s.kd, &identifier) == 0 ? codecName(identifier) + " (" + fourccText(identifier) + ")"
                                                                : "codec number " + std::to_string(cb->wCodecTag);
    std::printf("  codec       %s, %u bits per frame, %u samples per frame\n", name.c_str(),
                unsigned(zef::CodedBitsPerFrame(cb->wCodecTag)), unsigned(cb->wFrameSamples));
    if (s.kd.dwFramesLeft == 0xFFFFFFFFu) std::printf("  frames      until the stream ends\n");
    else std::printf("  frames      %u\n", unsigned(s.kd.dwFramesLeft));
}

void printLength(Session& s, bool coded, bool raw) {
    // A raw coded stream counts frames, everything else samples.
    bool frames = coded && raw;
    double samples = frames ? double(s.info.dwLength) * s.block()->wFrameSamples : double(s.info.dwLength);
    std::printf("  length      %u %s", unsigned(s.info.dwLength), frames ? "frames" : "samples");
    if (s.info.dwSamplingRate) std::printf(", %.3f s", samples / s.info.dwSamplingRate);
    std::printf("\n");
}

void printTexts(const Session& s) {
    for (const KELVANE_INFO_CHUNK& t : s.texts) {
        if (t.dwId == 0 || t.dwLength == 0 || t.dwLength == 0xFFFFFFFFu) continue;
        size_t n = t.dwLength < ZEF_INFO_TEXT_SIZE ? t.dwLength : ZEF_INFO_TEXT_SIZE - 1;
        std::printf("  INFO %s   %s\n", infoName(t.dwId).c_str(), printable(t.szText, n).c_str());
    }
}

// Marker records: id, bit offset, sample offset, byte offset (little-endian
// words), then the NUL-ended label.
void printMarkers(Session& s) {
    const zef::InputVars* in = s.block()->lpInputVars;
    if (!in->lpMarkerList || !in->lpMarkerChunk) return;
    for (uint32_t i = 0; i < in->dwMarkerCount; ++i) {
        const uint8_t* m = in->lpMarkerList[i];
        std::printf("  marker %u    sample %u, byte %u", unsigned(zef::readLE32(m)), unsigned(zef::readLE32(m + 8)),
                    unsigned(zef::readLE32(m + 12)));
        if (uint32_t bit = zef::readLE32(m + 4)) std::printf(", bit %u", unsigned(bit));
        std::printf(", \"%s\"\n", printable(reinterpret_cast<const char*>(m + 16), 256).c_str());
    }
}

void printDescription(Session& s, const FileKind& kind, const char* path) {
    bool coded = zef::isZef(s.kd.dwInputType);
    bool raw = zef::formatOf(s.kd.dwInputType) == ZEFTYPE_FORMAT_RAW;
    const zef::StreamDesc& d = s.block()->lpInputVars->desc;
    std::printf("%s:\n", path);
    std::printf("  format      %s, %s (format tag %u)\n", kind.name.c_str(), coded ? "coded speech" : "PCM",
                unsigned(d.wFormatTag));
    if (coded) printCodec(s);
    std::printf("  sampling    %u Hz, %u bytes per sample, %u channel%s\n", unsigned(s.info.dwSamplingRate),
                unsigned(s.info.wBytesPerSample), unsigned(s.info.wChannels), s.info.wChannels == 1 ? "" : "s");
    printLength(s, coded, raw);
    std::printf("  bit rate    %u bit/s\n", unsigned(s.info.dwBitRate));
    if (coded && (s.info.fHeaderValue1 != 0.0f || s.info.fHeaderValue2 != 0.0f || s.info.fHeaderValue3 != 0.0f))
        std::printf("  header      %g %g %g\n", double(s.info.fHeaderValue1), double(s.info.fHeaderValue2),
                    double(s.info.fHeaderValue3));
    if (coded && s.block()->wGuisette) std::printf("  Guisette    %u\n", unsigned(s.block()->wGuisette));
    printTexts(s);
    printMarkers(s);
}

int describe(const char* path) {
    const FileKind kind = guessKind(path);
    Session s;
    uint16_t err = open(s, kind, path);
    if (err) {
        char text[ZEF_MESSAGE_SIZE];
        mlGetStringFromErrorN(err, s.kd.dwSecondaryError, text, sizeof text);
        const std::string shown = zeftool::printable(path);
        std::fprintf(stderr, "%s: error %u\n%s", shown.c_str(), unsigned(err), zeftool::printable(text, true).c_str());
        std::fprintf(stderr, "zefinfo: %s: %s\n", shown.c_str(),
                     zeftool::plainWords(err, s.kd.dwSecondaryError, true).c_str());
        return 1;
    }
    printDescription(s, kind, path);
    return 0;
}

int printVersion() {
    ZEF_VERSION version{};
    KELVANE_DATA kd{};
    kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
    kd.dwOutputType = ZEFTYPE_VERSION_INFO;
    kd.lpOutputLocation = &version;
    kd.dwOutputSize = ZEF_VERSION_SIZE;
    if (uint16_t err = utilGetVersionInfo(&kd)) {
        char text[ZEF_MESSAGE_SIZE];
        mlGetStringFromErrorN(err, kd.dwSecondaryError, text, sizeof text);
        std::fprintf(stderr, "zefinfo: %s", text);
        return 1;
    }
    const ZEF_VERSION_ENTRY& e = version.entries[0];
    std::printf("zefinfo, Mirlane %s, build \"%s\", version %u.%u, revision %u, build %u\n",
                printable(e.szVersion, sizeof e.szVersion).c_str(), printable(e.szBuild, sizeof e.szBuild).c_str(),
                unsigned(e.dwVersion >> 16), unsigned(e.dwVersion & 0xFFFF), unsigned(e.dwRevision >> 16),
                unsigned(e.dwRevision & 0xFFFF));
    return 0;
}

// The built-in Guisettes as the library describes them, with the PCM effect
// each applies while decoding.
int printGuisettes() {
    ZEF_STARTUP startup{};
    startup.wSize = ZEF_STARTUP_SIZE;
    uint16_t count = 0;
    std::vector<char> records;
    uint16_t err = zefStartup(&startup);
    if (!err) {
        count = startup.wGuisettes;
        records.resize(size_t(count) * ZEF_GUISETTE_DESCRIPTION_SIZE);
        err = zefGetGuisetteDescriptions(records.data(), &count);
    }
    if (err) {
        char text[ZEF_MESSAGE_SIZE];
        mlGetStringFromErrorN(err, 0, text, sizeof text);
        std::fprintf(stderr, "zefinfo: error %u\n%s", unsigned(err), text);
        zefShutdown();
        return 1;
    }
    std::printf("%-6s  %-10s  %-15s  %-6s  %s\n", "number", "category", "name", "effect", "description");
    for (uint16_t i = 0; i < count; ++i) {
        ZEF_GUISETTE_DESCRIPTION d;
        std::memcpy(&d, records.data() + size_t(i) * ZEF_GUISETTE_DESCRIPTION_SIZE, sizeof d);
        const zef::GuisetteRecord* g = nullptr;
        std::string effect = "none";
        if (d.hasEffect && zef::GetGuisetteInfo(d.guisetteId, &g) == 0) effect = std::to_string(g->pcmEffect);
        std::printf("%6u  %-10s  %-15s  %-6s  %s\n", unsigned(d.guisetteId),
                    printable(d.category, sizeof d.category).c_str(),
                    printable(d.presetName, sizeof d.presetName).c_str(), effect.c_str(),
                    printable(d.description, sizeof d.description).c_str());
    }
    zefShutdown();
    return 0;
}

void printHelp() {
    std::printf(
        "usage: zefinfo [--] FILE...\n"
        "       zefinfo --guisettes | --version | --help\n"
        "Describes each FILE as the Mirlane library reads it, without decoding:\n"
        "WAVE, AIFF and AIFF-C files of PCM or coded speech, raw Zef streams\n"
        "(\"ZEF!\", \"ZEFh\") and packet streams (\"zef!\").  The exit status is 1\n"
        "when any file could not be read.  --guisettes lists the built-in\n"
        "Guisettes: number, category, name, PCM effect and description.\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        printHelp();
        return 2;
    }
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        printHelp();
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) return printVersion();
    if (argc == 2 && std::strcmp(argv[1], "--guisettes") == 0) return printGuisettes();
    int first = 1;
    if (std::strcmp(argv[1], "--") == 0) {
        first = 2;  // names that follow may start with "--"
    } else if (std::strncmp(argv[1], "--", 2) == 0) {
        std::fprintf(stderr, "zefinfo: unknown option %s\n", argv[1]);
        printHelp();
        return 2;
    }
    int failed = 0;
    for (int i = first; i < argc; ++i) failed |= describe(argv[i]);
    zefShutdown();
    return failed;
}
