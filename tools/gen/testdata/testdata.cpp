// Generator of the sample sound files in tests/data, the malformed variants
// in tests/data/bad and the seed corpora of the fuzz targets.
//
//   cmake --build BUILD --target gen_testdata
//   BUILD/tools/gen/testdata/gen_testdata SOURCE_DIR
//
// Everything is computed with integer arithmetic (the tone comes from a
// table of exact sine values), so the files are the same byte for byte on
// every machine.  Numbers are written byte by byte in each format's order.
//
// Coded speech: 89 frames (about 2 s) of a speech-like sequence: three
// "syllables" whose energy rises and falls in straight segments, voiced in
// their cores and unvoiced at their edges, separated by quiet unvoiced
// frames; the pitch falls from about 140 Hz to 100 Hz over the utterance
// and the spectral codes drift slowly.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "zefapi.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// ---- byte writing ----------------------------------------------------------

void put(Bytes& b, const char* tag) { b.insert(b.end(), tag, tag + 4); }
void le16(Bytes& b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void le32(Bytes& b, uint32_t v) {
    le16(b, v & 0xFFFF);
    le16(b, v >> 16);
}
void be16(Bytes& b, uint32_t v) {
    b.push_back(uint8_t(v >> 8));
    b.push_back(uint8_t(v));
}
void be32(Bytes& b, uint32_t v) {
    be16(b, v >> 16);
    be16(b, v & 0xFFFF);
}
void leFloat(Bytes& b, float f) {
    uint32_t bits;
    static_assert(sizeof bits == sizeof f);
    std::memcpy(&bits, &f, 4);
    le32(b, bits);
}
void append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }

// A RIFF chunk: identifier, little-endian size, contents, pad to even.
Bytes riffChunk(const char* id, const Bytes& contents) {
    Bytes b;
    put(b, id);
    le32(b, uint32_t(contents.size()));
    append(b, contents);
    if (contents.size() & 1) b.push_back(0);
    return b;
}
// An AIFF chunk: the same with a big-endian size.
Bytes aiffChunk(const char* id, const Bytes& contents) {
    Bytes b;
    put(b, id);
    be32(b, uint32_t(contents.size()));
    append(b, contents);
    if (contents.size() & 1) b.push_back(0);
    return b;
}
// A chunk of a Zef chunked header: stepped over by its size, never padded.
Bytes zefChunk(const char* id, const Bytes& contents) {
    Bytes b;
    put(b, id);
    le32(b, uint32_t(contents.size()));
    append(b, contents);
    return b;
}
Bytes riffFile(const char* form, const Bytes& chunks) {
    Bytes contents;
    put(contents, form);
    append(contents, chunks);
    return riffChunk("RIFF", contents);
}
Bytes text(const char* s) { return Bytes(s, s + std::strlen(s)); }

// ---- PCM -------------------------------------------------------------------

// 500 Hz at 8000 Hz: sixteen samples per period, from sin(k pi / 8).
int16_t tone(uint32_t n, int32_t amplitude) {
    static const int32_t quarter[5] = {0, 3826834, 7071068, 9238795, 10000000};  // sin * 1e7
    uint32_t k = n % 16;
    int32_t s = k <= 4 ? quarter[k] : k <= 8 ? quarter[8 - k] : k <= 12 ? -quarter[k - 8] : -quarter[16 - k];
    return int16_t(int64_t(s) * amplitude / 10000000);
}

Bytes pcm16le(uint32_t count) {
    Bytes b;
    for (uint32_t n = 0; n < count; ++n) le16(b, uint16_t(tone(n, 12000)));
    return b;
}
Bytes pcm16be(uint32_t count) {
    Bytes b;
    for (uint32_t n = 0; n < count; ++n) be16(b, uint16_t(tone(n, 12000)));
    return b;
}
Bytes pcm8unsigned(uint32_t count) {
    Bytes b;
    for (uint32_t n = 0; n < count; ++n) b.push_back(uint8_t(128 + tone(n, 100)));
    return b;
}
Bytes pcm8signed(uint32_t count) {
    Bytes b;
    for (uint32_t n = 0; n < count; ++n) b.push_back(uint8_t(int8_t(tone(n, 100))));
    return b;
}

Bytes pcmFormat(uint16_t channels, uint32_t rate, uint16_t bytesPerSample) {
    Bytes f;
    le16(f, 1);
    le16(f, channels);
    le32(f, rate);
    le32(f, rate * channels * bytesPerSample);
    le16(f, channels * bytesPerSample);
    le16(f, bytesPerSample * 8);
    return f;
}

Bytes infoList(const std::vector<std::pair<const char*, const char*>>& texts) {
    Bytes list;
    put(list, "INFO");
    for (const auto& [id, value] : texts) {
        Bytes t = text(value);
        t.push_back(0);
        append(list, riffChunk(id, t));
    }
    return riffChunk("LIST", list);
}

// Cue points with labels, as they follow the data of a PCM file.
Bytes cueChunks(const std::vector<std::pair<uint32_t, const char*>>& cues) {
    Bytes cue;
    le32(cue, uint32_t(cues.size()));
    Bytes adtl;
    put(adtl, "adtl");
    for (uint32_t i = 0; i < cues.size(); ++i) {
        le32(cue, i + 1);            // name number
        le32(cue, cues[i].first);    // position
        put(cue, "data");
        le32(cue, 0);
        le32(cue, 0);
        le32(cue, cues[i].first);
        Bytes labl;
        le32(labl, i + 1);
        append(labl, text(cues[i].second));
        labl.push_back(0);
        append(adtl, riffChunk("labl", labl));
    }
    Bytes b = riffChunk("cue ", cue);
    append(b, riffChunk("LIST", adtl));
    return b;
}

constexpr uint32_t kPcmSamples = 10000;  // 1.25 s: more than one 8192-byte read

Bytes pcm16Wave() {
    Bytes chunks = riffChunk("fmt ", pcmFormat(1, 8000, 2));
    append(chunks, infoList({{"INAM", "Test tone"}, {"ICMT", "A 500 Hz sine"}, {"ISFT", "gen_testdata"}}));
    append(chunks, riffChunk("data", pcm16le(kPcmSamples)));
    append(chunks, cueChunks({{2000, "start"}, {6000, "middle"}}));
    return riffFile("WAVE", chunks);
}

Bytes pcm8Wave() {
    Bytes chunks = riffChunk("fmt ", pcmFormat(1, 8000, 1));
    append(chunks, riffChunk("data", pcm8unsigned(4001)));
    return riffFile("WAVE", chunks);
}

// The sampling rate as an 80-bit extended number (integer rates).
Bytes extended80(uint32_t rate) {
    int e = 31;
    while (!(rate >> e)) --e;
    Bytes b;
    be16(b, uint32_t(16383 + e));
    be32(b, rate << (31 - e));
    be32(b, 0);
    return b;
}

Bytes commChunk(uint16_t channels, uint32_t frames, uint16_t bits, const Bytes& rate, bool aifc) {
    Bytes c;
    be16(c, channels);
    be32(c, frames);
    be16(c, bits);
    append(c, rate);
    if (aifc) {
        put(c, "NONE");
        c.push_back(14);
        append(c, text("not compressed"));
        c.push_back(0);
    }
    return aiffChunk("COMM", c);
}

Bytes ssndChunk(const Bytes& samples) {
    Bytes s;
    be32(s, 0);  // offset
    be32(s, 0);  // block size
    append(s, samples);
    return aiffChunk("SSND", s);
}

Bytes markChunk(const std::vector<std::pair<uint32_t, const char*>>& marks) {
    Bytes m;
    be16(m, uint32_t(marks.size()));
    for (uint32_t i = 0; i < marks.size(); ++i) {
        be16(m, i + 1);
        be32(m, marks[i].first);
        Bytes name = text(marks[i].second);
        m.push_back(uint8_t(name.size()));
        append(m, name);
        if ((name.size() + 1) & 1) m.push_back(0);
    }
    return aiffChunk("MARK", m);
}

Bytes formFile(const char* type, const Bytes& chunks) {
    Bytes contents;
    put(contents, type);
    append(contents, chunks);
    return aiffChunk("FORM", contents);
}

// Longer than one 8192-byte read, so that samples split across reads.
Bytes aiff16(const Bytes& rate) {
    Bytes chunks = commChunk(1, kPcmSamples, 16, rate, false);
    append(chunks, markChunk({{1000, "one"}, {3000, "three"}}));
    append(chunks, ssndChunk(pcm16be(kPcmSamples)));
    return formFile("AIFF", chunks);
}

Bytes aifc8() {
    Bytes fver;
    be32(fver, 0xA2805140u);
    Bytes chunks = aiffChunk("FVER", fver);
    append(chunks, commChunk(1, 5513, 8, extended80(11025), true));
    append(chunks, ssndChunk(pcm8signed(5513)));
    return formFile("AIFC", chunks);
}

// ---- coded speech ----------------------------------------------------------

struct Codec {
    uint16_t number;
    const char* identifier;
    std::vector<uint8_t> widths;
};
const Codec kOrvo{1284, "ZEFa", {4, 8, 6, 3, 4, 4, 4, 4, 4, 3, 3, 3, 3, 1}};
const Codec kPeln{5409, "ZEFg", {4, 8, 5, 5, 5, 5, 4, 4, 4, 3, 3, 3, 3, 3, 3, 5}};
constexpr uint32_t kFrames = 89;

// Loudness 0..100 over the utterance: three syllables of straight rises,
// holds and falls with quiet gaps between them.
int loudness(uint32_t t) {
    static const uint32_t starts[3] = {4, 32, 60};
    for (uint32_t s : starts) {
        if (t < s || t >= s + 24) continue;
        uint32_t k = t - s;
        if (k < 6) return int(k * 100 / 6);
        if (k < 16) return 100 - int(k - 6) * 2;
        return int(24 - k) * 80 / 8;
    }
    return 0;
}

// A field value sweeping slowly between 0 and max (a triangle wave).
uint8_t drift(uint32_t t, uint32_t field, uint32_t max) {
    uint32_t period = 2 * max;
    uint32_t phase = (t / 3 + field * 5) % (period ? period : 1);
    return uint8_t(phase <= max ? phase : period - phase);
}

std::vector<uint8_t> frameCodes(const Codec& c, uint32_t t) {
    int loud = loudness(t);
    uint8_t voicing = uint8_t(loud >= 60 ? 15 : loud >= 30 ? 8 : loud > 0 ? 3 : 0);
    // pitch period 57 samples (140 Hz) falling to 80 (100 Hz); code 0 is 125.
    uint32_t period = 57 + t * 23 / kFrames;
    uint8_t pitch = uint8_t((125 - period) * 255 / 109);
    std::vector<uint8_t> f(c.widths.size());
    f[0] = voicing;
    f[1] = pitch;
    if (c.number == kOrvo.number) {
        f[2] = uint8_t(6 + loud * 44 / 100);  // energy, 6 bits
        for (uint32_t i = 3; i <= 12; ++i) f[i] = drift(t, i, (1u << c.widths[i]) - 1);
        f[13] = 0;
    } else {
        for (uint32_t i = 2; i <= 14; ++i) f[i] = drift(t, i, (1u << c.widths[i]) - 1);
        f[15] = uint8_t(4 + loud * 22 / 100);  // energy, 5 bits
    }
    return f;
}

// Frames packed into one stream, least significant bit first, not aligned.
Bytes packedFrames(const Codec& c) {
    Bytes out;
    uint64_t bit = 0;
    for (uint32_t t = 0; t < kFrames; ++t) {
        std::vector<uint8_t> f = frameCodes(c, t);
        for (size_t i = 0; i < f.size(); ++i) {
            for (uint32_t b = 0; b < c.widths[i]; ++b, ++bit) {
                if (bit / 8 >= out.size()) out.push_back(0);
                if ((f[i] >> b) & 1) out[bit / 8] |= uint8_t(1u << (bit % 8));
            }
        }
    }
    return out;
}

uint32_t bitsPerFrame(const Codec& c) {
    uint32_t bits = 0;
    for (uint8_t w : c.widths) bits += w;
    return bits;
}

struct ZefWaveOptions {
    const char* identifier = nullptr;  // codec identifier in the 16-byte header
    const char* magic = "ZEF.";
    uint16_t guisette = 0;
    uint32_t guisetteSize = 2;
    bool compat = false;
};

Bytes zefWave(const Codec& c, const ZefWaveOptions& o) {
    Bytes ext;
    put(ext, o.magic);
    le32(ext, 8);
    le16(ext, 0);
    le16(ext, o.compat ? zef::kCompatBlockSize : 0);
    put(ext, o.identifier ? o.identifier : c.identifier);
    if (o.guisette) {
        put(ext, "ZEfG");
        le32(ext, o.guisetteSize);
        for (uint32_t i = 0; i < o.guisetteSize; ++i) ext.push_back(i < 2 ? uint8_t(o.guisette >> (8 * i)) : 0);
    }
    Bytes fmt;
    le16(fmt, 98);
    le16(fmt, 1);
    le32(fmt, 8000);
    le32(fmt, (bitsPerFrame(c) * 8000 / 180 + 4) / 8);
    le16(fmt, 2);
    le16(fmt, 16);
    le16(fmt, uint32_t(ext.size()));
    append(fmt, ext);
    Bytes fact;
    le32(fact, kFrames * 180);
    Bytes data;
    if (o.compat) data.assign(zef::kCompatBlock, zef::kCompatBlock + zef::kCompatBlockSize);
    append(data, packedFrames(c));
    Bytes chunks = riffChunk("fmt ", fmt);
    append(chunks, riffChunk("fact", fact));
    append(chunks, infoList({{"INAM", "Speech-like frames"}}));
    append(chunks, riffChunk("data", data));
    return riffFile("WAVE", chunks);
}

constexpr float kHeaderValue1 = 180.5f, kHeaderValue2 = 140.25f, kHeaderValue3 = 250.75f;

// Raw stream with the chunked header: "ZEF!", an information chunk, "ZEFd".
Bytes zefChunked(uint32_t zefSize = 40) {
    Bytes h;
    le16(h, kOrvo.number);
    le16(h, 180);
    le16(h, 2);
    le16(h, 630);
    le32(h, 6);
    le32(h, kFrames);
    le32(h, 0);
    le32(h, 8000);
    leFloat(h, kHeaderValue2);
    leFloat(h, kHeaderValue1);
    leFloat(h, kHeaderValue3);
    leFloat(h, 1.0f);
    Bytes b;
    put(b, "ZEF!");
    le32(b, zefSize);
    append(b, h);
    append(b, zefChunk("ZEFi", text("made by gen_testdata")));
    append(b, zefChunk("ZEFd", packedFrames(kOrvo)));
    return b;
}

// Raw stream with the compact header: "ZEFh" whose size counts the block.
Bytes zefCompact(uint32_t size = 44) {
    Bytes b;
    put(b, "ZEFh");
    le32(b, size);
    le16(b, kOrvo.number);
    le16(b, 180);
    le16(b, 2);
    le16(b, 0);
    le32(b, kFrames);
    le32(b, 0);
    le32(b, 8000);
    leFloat(b, kHeaderValue2);
    leFloat(b, kHeaderValue1);
    leFloat(b, kHeaderValue3);
    leFloat(b, 1.0f);
    append(b, packedFrames(kOrvo));
    return b;
}

// Packet stream: the 8-byte big-endian prefix, the "zef!" block, frames.
Bytes zefPacket() {
    Bytes b;
    be16(b, 16);
    be16(b, 54);
    be16(b, 180);
    be16(b, 0);
    put(b, "zef!");
    le16(b, 16);
    le16(b, kOrvo.number);
    le32(b, 7);
    le16(b, 180);
    le16(b, 0);
    append(b, packedFrames(kOrvo));
    return b;
}

// ---- malformed variants ----------------------------------------------------

Bytes truncated(const Bytes& b, size_t n) { return Bytes(b.begin(), b.begin() + long(n < b.size() ? n : b.size())); }

Bytes patched32le(Bytes b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
    return b;
}

Bytes patchedTag(Bytes b, size_t at, const char* tag) {
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(tag[i]);
    return b;
}

size_t find(const Bytes& b, const char* tag) {
    for (size_t i = 0; i + 4 <= b.size(); ++i)
        if (b[i] == uint8_t(tag[0]) && b[i + 1] == uint8_t(tag[1]) && b[i + 2] == uint8_t(tag[2]) &&
            b[i + 3] == uint8_t(tag[3]))
            return i;
    std::fprintf(stderr, "gen_testdata: no %.4s\n", tag);
    std::exit(1);
}

Bytes pcmWithFormat(const Bytes& fmt, bool dataFirst) {
    Bytes data = riffChunk("data", pcm16le(400));
    Bytes chunks = dataFirst ? data : riffChunk("fmt ", fmt);
    append(chunks, dataFirst ? riffChunk("fmt ", fmt) : data);
    return riffFile("WAVE", chunks);
}

struct Sample {
    std::string name;
    Bytes bytes;
};

std::vector<Sample> goodSamples() {
    return {
        {"pcm16_mono.wav", pcm16Wave()},
        {"pcm8_mono.wav", pcm8Wave()},
        {"tone16.aiff", aiff16(extended80(8000))},
        {"tone8.aifc", aifc8()},
        {"orvo.wav", zefWave(kOrvo, {})},
        {"orvo_guisette.wav", zefWave(kOrvo, {.guisette = 201})},
        {"orvo_compat.wav", zefWave(kOrvo, {.compat = true})},
        {"peln.wav", zefWave(kPeln, {})},
        {"orvo_chunked.zef", zefChunked()},
        {"orvo_compact.zef", zefCompact()},
        {"orvo.zefp", zefPacket()},
    };
}

std::vector<Sample> badSamples() {
    const Bytes zef = zefWave(kOrvo, {});
    const Bytes pcm = pcm16Wave();
    const Bytes aiff = aiff16(extended80(8000));
    const Bytes chunked = zefChunked();
    const size_t fmtAt = find(zef, "fmt ");
    const size_t dataAt = find(zef, "data");
    const size_t listAt = find(zef, "LIST");
    Bytes comm = commChunk(1, kPcmSamples, 16, extended80(8000), false);
    Bytes commFirst = comm;
    append(commFirst, aiff);
    Bytes zeroRate(10, 0), hugeRate = {0x7F, 0xFE, 0x80, 0, 0, 0, 0, 0, 0, 0};
    Bytes fmtZeroChannels = pcmFormat(1, 8000, 2);
    fmtZeroChannels[2] = 0;
    Bytes shortCompat = zefWave(kOrvo, {.compat = true});
    shortCompat = truncated(shortCompat, find(shortCompat, "data") + 8 + 600);
    shortCompat = patched32le(shortCompat, find(shortCompat, "data") + 4, 600);
    shortCompat = patched32le(shortCompat, 4, uint32_t(shortCompat.size() - 8));
    // 65535 channels of 16 bits: a sample frame wider than a 16-bit block alignment.
    Bytes wideFrame = commChunk(0xFFFF, 4, 16, extended80(8000), false);
    append(wideFrame, ssndChunk(pcm16be(4)));
    wideFrame = formFile("AIFF", wideFrame);
    return {
        {"empty.wav", {}},
        {"trunc_4.wav", truncated(zef, 4)},
        {"trunc_fmt.wav", truncated(zef, fmtAt + 20)},
        {"trunc_ext.wav", truncated(zef, fmtAt + 30)},
        {"trunc_before_data.wav", truncated(zef, dataAt)},
        {"trunc_pcm_fmt.wav", truncated(pcm, 30)},
        {"trunc_aiff.aiff", truncated(aiff, find(aiff, "SSND"))},
        {"trunc_chunked.zef", truncated(chunked, 30)},
        {"trunc_compact.zef", truncated(zefCompact(), 20)},
        {"fmt_past_end.wav", patched32le(zef, fmtAt + 4, 0x00FFFFF0)},
        {"list_past_end.wav", patched32le(zef, listAt + 4, 0x7FFFFFF0)},
        {"fmt_size_0.wav", patched32le(zef, fmtAt + 4, 0)},
        {"fmt_size_ffffffff.wav", patched32le(zef, fmtAt + 4, 0xFFFFFFFF)},
        {"list_size_ffffffff.wav", patched32le(zef, listAt + 4, 0xFFFFFFFF)},
        {"rifx.wav", patchedTag(pcm, 0, "RIFX")},
        {"not_wave.wav", patchedTag(pcm, 8, "AVI ")},
        {"data_before_fmt.wav", pcmWithFormat(pcmFormat(1, 8000, 2), true)},
        {"fmt_size_14.wav", patched32le(pcm, 16, 14)},
        {"zero_channels.wav", pcmWithFormat(fmtZeroChannels, false)},
        {"bad_zef12_magic.wav", zefWave(kOrvo, {.magic = "ZEF,"})},
        {"codec_zefc.wav", zefWave(kOrvo, {.identifier = "ZEFc"})},
        {"guisette_size_3.wav", zefWave(kOrvo, {.guisette = 201, .guisetteSize = 3})},
        {"compat_past_end.wav", shortCompat},
        {"zefh_size_48.zef", zefCompact(48)},
        {"zef_size_44.zef", zefChunked(44)},
        {"zef_size_ffffffff.zef", zefChunked(0xFFFFFFFF)},
        {"comm_before_form.aiff", commFirst},
        {"rate_zero.aiff", aiff16(zeroRate)},
        {"rate_huge.aiff", aiff16(hugeRate)},
        {"wide_frame.aiff", wideFrame},
    };
}

void writeFile(const fs::path& path, const Bytes& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out) {
        std::fprintf(stderr, "gen_testdata: cannot write %s\n", path.c_str());
        std::exit(1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: gen_testdata SOURCE_DIR\n");
        return 2;
    }
    const fs::path root = argv[1];
    const fs::path data = root / "tests" / "data";
    const fs::path corpora[2] = {root / "fuzz" / "corpus" / "fuzz_fileinfo", root / "fuzz" / "corpus" / "fuzz_readers"};
    for (const Sample& s : goodSamples()) {
        writeFile(data / s.name, s.bytes);
        for (const fs::path& c : corpora) writeFile(c / s.name, s.bytes);
    }
    for (const Sample& s : badSamples()) {
        writeFile(data / "bad" / s.name, s.bytes);
        for (const fs::path& c : corpora) writeFile(c / ("bad_" + s.name), s.bytes);
    }
    return 0;
}
