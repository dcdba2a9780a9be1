// What the tests share: bytes and samples, measurements on decoded audio,
// test signals, WAVE files built byte by byte, scratch directories and
// tools run as child processes. One copy of each, for every test folder.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace zeftest {

using Bytes = std::vector<uint8_t>;
using Samples = std::vector<int16_t>;

// ---- files -------------------------------------------------------------------
std::string dataFile(const std::string& name);  // tests/data/NAME
Bytes readFile(const std::string& path);        // empty when unreadable
void writeFile(const std::string& path, const Bytes& bytes);

// A fresh directory of the test's own under the build folder, removed with
// the object; also usable outside a test (named after the process then).
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    const std::string& dir() const { return dir_; }

private:
    std::string dir_;
};

// ---- samples and measurements -------------------------------------------------
Samples samples16(const Bytes& b);  // host-order 16-bit PCM
Bytes bytes16(const Samples& s);
double rms(const int16_t* x, size_t n);
inline double rms(const Samples& x) { return rms(x.data(), x.size()); }
double rmsDb(const Samples& x);  // dB relative to full scale (a full-scale sine is -3)
double snr(const Samples& ref, const Samples& test);  // dB, over the shorter length
// The period in samples of a steady voiced stretch [from, from+length): the
// shortest fractional lag whose normalised autocorrelation comes within 15 %
// of the best (so twice the period never wins); 0 when nothing correlates.
double measuredPeriod(const Samples& x, size_t from, size_t length);
// Power spectrum in bins of rate/256, summed over half-overlapping Hann blocks.
std::vector<double> spectrum256(const Samples& x, size_t from, size_t to);
// The lag (up to `maxLag` samples either way) by which `test` best matches
// `ref`: the peak of their cross-correlation over the first two seconds.
long bestLag(const Samples& ref, const Samples& test, size_t maxLag = 160);
// Log-spectral distance in dB of decoded speech from its original, both at
// 8000 Hz, `test` taken `lag` samples later: over the frames (256 samples
// every 80) where `ref` is within 35 dB of its loudest, the mean RMS
// difference of their log power spectra from 100 to 3800 Hz.  A codec's lag
// is its own: found once (bestLag), not per input, where a pitch period away
// may match as well.
double logSpectralDistance(const Samples& ref, const Samples& test, long lag);
uint64_t fnv1a(const void* data, size_t n);
inline uint64_t fnv1a(const Bytes& b) { return fnv1a(b.data(), b.size()); }
inline uint64_t fnv1a(const Samples& s) { return fnv1a(s.data(), s.size() * 2); }

// ---- signals -----------------------------------------------------------------
Samples sine(size_t n, double hz, double amplitude, double rate = 8000.0);
// A vowel: a glottal pulse train at f0 through two formant resonators
// (700 and 1200 Hz), scaled to the given peak.
Samples vowel(size_t n, double f0, double peak, double rate = 8000.0);
Samples noise(size_t n, double amplitude, uint32_t seed = 1);
// Voiced and unvoiced stretches and pauses, about 180 ms each, at 8000 Hz:
// enough of speech's variety for an encoder to meet every decision.
Samples speechLike(size_t n, uint32_t seed = 1);

// ---- building files byte by byte ---------------------------------------------
struct ByteWriter : Bytes {
    ByteWriter& id(const char* s);  // four characters
    ByteWriter& le16(uint16_t v);
    ByteWriter& le32(uint32_t v);
    ByteWriter& be16(uint16_t v);
    ByteWriter& be32(uint32_t v);
    ByteWriter& f32(float f);
    ByteWriter& add(const Bytes& b);
    ByteWriter& zeros(size_t n);
    // identifier, size (little- or big-endian), contents, a pad byte after
    // odd contents when asked (always for big-endian chunks)
    ByteWriter& chunk(const char* name, const Bytes& body, bool pad = false);
    ByteWriter& chunkBE(const char* name, const Bytes& body);
};

// A PCM WAVE file (format tag 1; 8-bit data is unsigned as WAVE has it).
Bytes pcmWave(const Bytes& data, uint32_t rate = 8000, uint16_t bits = 16, uint16_t channels = 1);
inline Bytes pcmWave(const Samples& s, uint32_t rate = 8000) { return pcmWave(bytes16(s), rate); }
// Offset of the first byte after the "data" chunk's header; 0 if none.
size_t waveDataOffset(const Bytes& wave);
// The samples of a 16-bit WAVE file; a "data" size of 0 (a header never
// completed) reads to the end. Empty when it is not one.
Samples readWaveSamples(const std::string& path);

// ---- tools -------------------------------------------------------------------
struct ToolRun {
    int status = -1;  // exit status; -1 killed at the time limit or by a signal
    std::string out, err;
};
// Runs argv[0] with the given standard input and extra environment, to its
// end or the time limit.
ToolRun runTool(const std::vector<std::string>& argv, const std::string& input = {},
                const std::map<std::string, std::string>& env = {}, int timeoutMs = 60000);
// The path of a built tool: ZEF_BINARY_DIR/tools/NAME/NAME.
std::string toolPath(const std::string& name);

}  // namespace zeftest
