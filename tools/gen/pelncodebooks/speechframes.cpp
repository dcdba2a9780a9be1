#include "speechframes.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "byteorder.h"
#include "pelnenc.h"

namespace pelnbooks {
namespace {

namespace fs = std::filesystem;

// Frames quieter than this (about -75 dBFS) are a recording's noise floor:
// the encoder codes them, but nobody hears them, and there are many of
// them between words; the books are for speech.
constexpr float kMinRms = 6.0f;

[[noreturn]] void fail(const std::string& path, const std::string& why) {
    throw std::runtime_error(path + ": " + why);
}

bool isWaveName(const fs::path& p) {
    std::string ext = p.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext == ".wav";
}

struct Chunk {
    size_t body;  // offset of the chunk's data
    uint64_t size;
};

// Finds the first chunk `id` after the RIFF header; sizes are checked in 64
// bits so no stored size can wrap the position.
bool findChunk(const std::vector<uint8_t>& b, const char (&id)[5], Chunk* found) {
    uint64_t pos = 12;
    while (pos + 8 <= b.size()) {
        const uint64_t size = zef::readLE32(&b[pos + 4]);
        if (zef::isFourcc(&b[pos], id)) {
            *found = {size_t(pos + 8), size};
            return true;
        }
        pos += 8 + size + (size & 1);
    }
    return false;
}

}  // namespace

std::vector<std::string> listWaveFiles(const std::vector<std::string>& paths) {
    std::vector<std::string> files;
    for (const std::string& p : paths) {
        std::error_code ec;
        std::vector<std::string> here;
        if (fs::is_directory(p, ec)) {
            for (const fs::directory_entry& e : fs::directory_iterator(p, ec))
                if (e.is_regular_file() && isWaveName(e.path())) here.push_back(e.path().string());
            if (ec) fail(p, ec.message());
        } else if (fs::is_regular_file(p, ec)) {
            here.push_back(p);
        } else {
            fail(p, "no such file or directory");
        }
        std::sort(here.begin(), here.end());
        for (std::string& f : here)
            if (std::find(files.begin(), files.end(), f) == files.end()) files.push_back(std::move(f));
    }
    return files;
}

std::vector<int16_t> readWave8k16Mono(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) fail(path, "cannot open");
    const std::vector<uint8_t> b{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (b.size() < 12 || !zef::isFourcc(&b[0], "RIFF") || !zef::isFourcc(&b[8], "WAVE")) fail(path, "not a RIFF/WAVE file");
    Chunk fmt{}, data{};
    if (!findChunk(b, "fmt ", &fmt) || fmt.size < 16 || fmt.body + 16 > b.size()) fail(path, "no complete fmt chunk");
    const uint8_t* f = &b[fmt.body];
    if (zef::readLE16(f) != 1 || zef::readLE16(f + 2) != 1 || zef::readLE32(f + 4) != 8000 || zef::readLE16(f + 14) != 16)
        fail(path, "not 8000 Hz 16-bit mono PCM");
    if (!findChunk(b, "data", &data)) fail(path, "no data chunk");
    // A data size beyond the end of the file is cut to what is there.
    const size_t bytes = size_t(std::min<uint64_t>(data.size, b.size() - data.body));
    std::vector<int16_t> pcm(bytes / 2);
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = int16_t(zef::readLE16(&b[data.body + 2 * i]));
    return pcm;
}

void collectShapes(const std::vector<int16_t>& pcm, std::vector<ShapeSample>& out) {
    using namespace zef::peln;
    PelnEncoder* enc = newPelnEncoder();
    uint8_t codes[kFieldCount];
    PelnAnalysis info{};
    for (size_t at = 0; at + kEncFrame <= pcm.size(); at += kEncFrame) {
        encodePelnFrame(enc, &pcm[at], codes, &info);
        if (info.rms < kMinRms) continue;
        ShapeSample s{codes[0], {}, info.fit};
        std::copy(info.bands, info.bands + kMaxBands, s.bands);
        out.push_back(s);
    }
    freePelnEncoder(enc);
}

}  // namespace pelnbooks
