// Messages of the command-line tools and the output-is-input check.
#include "toolcommon.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "mirlane.h"
#include "zefoutfile.h"

namespace zeftool {
namespace {

bool isOutputError(uint16_t err) {
    return err == ZEFERR_OPENING_OUTPUT_FILE || err == ZEFERR_WRITING_TO_FILE || err == ZEFERR_CLOSING_OUTPUT_FILE;
}

}  // namespace

std::string systemText(uint32_t err) {
    if (err == 0) return "the file is empty or ends before its data";
    if (err == ESPIPE) return "a pipe cannot be rewound to complete the header (give - for standard output)";
    std::string t = std::strerror(int(err));
    if (!t.empty()) t[0] = char(std::tolower(static_cast<unsigned char>(t[0])));
    return t;
}

// The length of a well-formed UTF-8 sequence at p for a printable character
// (not a C1 control such as 0x9B, which terminals take as ESC [); 0 if none.
static size_t printableUtf8(const unsigned char* p, size_t left) {
    size_t n = p[0] >= 0xF0 && p[0] <= 0xF4 ? 4 : p[0] >= 0xE0 && p[0] < 0xF0 ? 3 : p[0] >= 0xC2 && p[0] < 0xE0 ? 2 : 0;
    if (n == 0 || n > left) return 0;
    uint32_t code = p[0] & (0x7F >> n);
    for (size_t i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        code = code << 6 | (p[i] & 0x3F);
    }
    return code >= 0xA0 ? n : 0;
}

std::string printable(const std::string& text, bool keepNewlines) {
    std::string out;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    for (size_t i = 0; i < text.size();) {
        unsigned char c = p[i];
        if (c == '\n' && keepNewlines) {
            out += '\n';
        } else if (c == 0x1b) {
            out += "\\e";
        } else if (c < 0x20 || c >= 0x7f) {
            if (size_t n = c >= 0x80 ? printableUtf8(p + i, text.size() - i) : 0) {
                out.append(text, i, n);
                i += n;
                continue;
            }
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else {
            out += char(c);
        }
        ++i;
    }
    return out;
}

std::string plainWords(uint16_t err, uint32_t secondary, bool decoding) {
    switch (err) {
    case ZEFERR_OPENING_OUTPUT_FILE:
        if (secondary == uint32_t(zef::kOutputIsInput)) return "the output is the input";
        return systemText(secondary);
    case ZEFERR_OPENING_INPUT_FILE: case ZEFERR_READING_FROM_FILE: case ZEFERR_WRITING_TO_FILE:
    case ZEFERR_CLOSING_INPUT_FILE: case ZEFERR_CLOSING_OUTPUT_FILE: case ZEFERR_SET_FPOS:
    case ZEFERR_FAILED_SEEK_TO_MARKER:
        return systemText(secondary);
    case ZEFERR_RECORDING_DEVICE: case 10: case ZEFERR_WAVEOUT_OPEN: case ZEFERR_WAVEOUT_WRITE:
        return secondary ? "the audio device: " + systemText(secondary) : "the audio device failed";
    case ZEFERR_INVALID_INPUT_TYPE:
        return decoding ? "not a Zef file" : "not sound this tool can code (float or compressed samples are not supported)";
    case ZEFERR_INPUT_BYTES_PER_SAMPLE: case ZEFERR_NO_INPUT_SAMPLE_SIZE: case ZEFERR_DONT_GIVE_INPUT_SAMPLE_SIZE:
    case ZEFERR_NO_SAMPLE_SIZE_FOR_ZEF: case ZEFERR_FORMAT_PCM:
        return "only 8-bit and 16-bit samples can be coded";
    case ZEFERR_NO_INPUT_SAMPLING_RATE: case ZEFERR_BAD_INPUT_SAMPLING_RATE: case ZEFERR_DONT_GIVE_INPUT_SAMPLE_RATE:
    case ZEFERR_NO_SAMPLE_RATE_FOR_ZEF:
        return "the sampling rate is not one that can be coded";
    case ZEFERR_BAD_OUTPUT_SAMPLING_RATE: return "the output rate is not supported";
    case ZEFERR_BREW_BLACK_ART: return "the decoder cannot be set up for this file and these settings";
    case ZEFERR_DECOMPRESSION: case ZEFERR_COMPRESSION: return "the coded speech is damaged";
    case ZEFERR_WARP_2_BIG: case ZEFERR_WARP_2_SMALL: return "the time warp is out of range";
    case ZEFERR_ABS_PITCH_2_BIG: case ZEFERR_ABS_PITCH_2_SMALL: case ZEFERR_REL_PITCH_2_BIG:
    case ZEFERR_REL_PITCH_2_SMALL:
        return "the pitch is out of range";
    case ZEFERR_GUII_UNKNOWN_GUISETTE: return "there is no such Guisette";
    case ZEFERR_PROCESSING_ABORTED: return "stopped";
    case ZEFERR_UNKNOWN_CODECID_IN_HEADER: case ZEFERR_CODEC_UNKNOWN: case ZEFERR_CODEC_NOT_AVAILABLE:
        return "coded with a codec this library does not have";
    default: break;
    }
    if (err == ZEFERR_FORMAT_ZEF || (err >= 200 && err < 320)) {
        if (decoding) return "not a Zef file (or a damaged one)";
        return "not a sound file that can be read: its header is damaged or gives no usable channels, sample size or rate";
    }
    if (err >= 400 && err < 430) return "out of memory";
    if (secondary == ZEF_SIGNAL_FUNCTION_REFUSED) return "the output could not be written (standard output closed?)";
    return "see the library's message above";
}

void reportLibraryError(const char* tool, const char* file, const char* what, const char* output, uint16_t err,
                        uint32_t secondary) {
    char text[ZEF_MESSAGE_SIZE];
    mlGetStringFromErrorN(err, secondary, text, sizeof text);
    std::string about = printable(isOutputError(err) && output ? output : file);
    std::string message = printable(text, true);
    if (!message.empty() && message.back() != '\n') message += '\n';
    bool decoding = std::strcmp(tool, "zefenc") != 0;
    std::fprintf(stderr, "%s: %s: %s\n%s%s: %s: %s\n", tool, printable(file).c_str(), what, message.c_str(), tool,
                 about.c_str(), plainWords(err, secondary, decoding).c_str());
}

bool refuseOutputOverInput(const char* tool, const char* output, std::initializer_list<const char*> inputs) {
    if (!output || !std::strcmp(output, "-")) return false;
    for (const char* input : inputs) {
        struct stat in;
        if (!input || !std::strcmp(input, "-") || ::stat(input, &in) != 0 || !S_ISREG(in.st_mode)) continue;
        if (zef::sameFile(output, in)) {
            std::fprintf(stderr, "%s: %s: the output is the input\n", tool, printable(output).c_str());
            return true;
        }
    }
    return false;
}

uint16_t startLibrary() {
    ZEF_STARTUP startup;
    std::memset(&startup, 0, sizeof startup);
    startup.wSize = ZEF_STARTUP_SIZE;
    return zefStartup(&startup);
}

KELVANE_DATA freshControl() {
    KELVANE_DATA kd;
    std::memset(&kd, 0, sizeof kd);
    kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
    kd.fWarpedLengthFactor = 1.0f;
    return kd;
}

}  // namespace zeftool
