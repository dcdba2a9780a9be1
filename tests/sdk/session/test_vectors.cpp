// Regression vectors: FNV-1a hashes of the decoded output of every Orvo
// sample file, through the whole session, at two output formats.  Any change
// to the session, the engine, the decoder or the generated tables changes
// them.
//
// To regenerate on purpose (after a deliberate change, never to make a
// failure go away): run
//     SESSION_PRINT_VECTORS=1 BUILD/tests/sdk/session/session_vectors
// and copy the printed lines into kVectors below; say why in the commit.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "session_util.h"

using namespace sess;

namespace {

struct Vector {
    const char* file;
    uint32_t rate;
    uint16_t bytes;
    uint64_t hash;
    uint32_t length;
};

const Vector kVectors[] = {
    {"orvo.wav", 8000, 2, 0xd97bc6bcf08b93afull, 32040},
    {"orvo.wav", 44100, 1, 0xd022bfc8b099d2bcull, 88310},
    {"orvo_compat.wav", 8000, 2, 0xd97bc6bcf08b93afull, 32040},
    {"orvo_compat.wav", 44100, 1, 0xd022bfc8b099d2bcull, 88310},
    {"orvo_guisette.wav", 8000, 2, 0x3c0e079bf102d59dull, 32040},
    {"orvo_guisette.wav", 44100, 1, 0xfcc134c068daaa57ull, 88310},
    {"orvo_chunked.zef", 8000, 2, 0xd97bc6bcf08b93afull, 32040},
    {"orvo_chunked.zef", 44100, 1, 0xd022bfc8b099d2bcull, 88310},
    {"orvo_compact.zef", 8000, 2, 0xd97bc6bcf08b93afull, 32040},
    {"orvo_compact.zef", 44100, 1, 0xd022bfc8b099d2bcull, 88310},
    {"orvo.zefp", 8000, 2, 0xd97bc6bcf08b93afull, 32040},
    {"orvo.zefp", 44100, 1, 0xd022bfc8b099d2bcull, 88310},
};

uint32_t inputType(const std::string& name) {
    if (name.ends_with(".zefp")) return kZefPacketBuffer;
    if (name.ends_with(".zef")) return ZEFTYPE_FORMAT_RAW | ZEFTYPE_LOCATION_FILE | ZEFTYPE_QUALIFIER_ZEF;
    return kZefWaveFile;
}

Bytes decodeSample(const Vector& v) {
    const std::string path = dataFile(v.file);
    const uint32_t type = inputType(path);
    const Bytes image = type == kZefPacketBuffer ? zeftest::readFile(path) : Bytes{};
    Kd kd;
    kd.dwOutputSamplingRate = v.rate;
    kd.wOutputBytesPerSample = v.bytes;
    Bytes out(roomFor(100, Format{v.rate, v.bytes}));
    if (image.empty()) kd.input(type, path.c_str());
    else kd.input(type, image.data(), uint32_t(image.size()));
    kd.output(kRawBuffer, out.data(), uint32_t(out.size()));
    EXPECT_EQ(dcmpMirlaneDecompress(&kd), 0) << v.file << " " << kd.dwSecondaryError;
    out.resize(kd.dwOutputBytesUsed);
    return out;
}

}  // namespace

// Started, so that the Guisette file plays with its effect.
TEST(SessionVectors, DecodedSampleFilesAreUnchanged) {
    ZEF_STARTUP startup{};
    startup.wSize = ZEF_STARTUP_SIZE;
    ASSERT_EQ(zefStartup(&startup), 0);
    const bool print = std::getenv("SESSION_PRINT_VECTORS") != nullptr;
    for (const char* file : {"orvo.wav", "orvo_compat.wav", "orvo_guisette.wav", "orvo_chunked.zef",
                             "orvo_compact.zef", "orvo.zefp"}) {
        for (auto [rate, bytes] : {std::pair<uint32_t, uint16_t>{8000, 2}, {44100, 1}}) {
            Vector v{file, rate, bytes, 0, 0};
            const Bytes pcm = decodeSample(v);
            if (print) {
                std::printf("    {\"%s\", %u, %u, 0x%016" PRIx64 "ull, %zu},\n", file, rate, bytes, fnv1a(pcm),
                            pcm.size());
                continue;
            }
            const Vector* expected = nullptr;
            for (const Vector& k : kVectors)
                if (std::string(k.file) == file && k.rate == rate && k.bytes == bytes) expected = &k;
            ASSERT_NE(expected, nullptr) << file << " " << rate << ": no vector";
            EXPECT_EQ(pcm.size(), expected->length) << file << " " << rate;
            EXPECT_EQ(fnv1a(pcm), expected->hash) << file << " " << rate;
        }
    }
    zefShutdown();
}
