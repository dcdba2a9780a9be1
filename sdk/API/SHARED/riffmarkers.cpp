// Markers: the in-memory "ZEFm" chunk and its pointer list, their sorting,
// and the reader of WAVE cue points and labels after the "data" chunk.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "byteorder.h"
#include "zefapi.h"

namespace zef {
namespace {

constexpr uint32_t kChunkHeadSize = 16;   // "ZEFm", size, count, 2, 0
constexpr uint32_t kRecordHeadSize = 16;  // id, bit offset, sample offset, byte offset
constexpr uint32_t kHead = 8;
constexpr uint32_t kCuePointSize = 24;
// A "cue " or "LIST" chunk beyond this is no marker list: it is skipped
// rather than loaded, whatever its size field claims.
constexpr uint32_t kMaxMarkerChunk = 16u << 20;

uint64_t recordSize(uint32_t textLength) {
    const uint64_t n = uint64_t(kRecordHeadSize) + textLength + 1;
    return n + (n & 1u);
}

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<uint8_t, FreeDeleter>;

int compareKeys(uint64_t a, uint64_t b) { return a < b ? -1 : a > b ? 1 : 0; }

const uint8_t* deref(const void* element) { return *static_cast<const uint8_t* const*>(element); }

// ---- WAVE cue points and labels ---------------------------------------------

struct CueSource {
    const uint8_t* points;  // first cue point
    const uint8_t* const* labels;
    uint32_t labelCount;    // sorted by cue identifier
};

// The label of a cue point is the "labl" sub-chunk with its identifier.
const uint8_t* labelFor(const CueSource& s, uint32_t id) {
    const uint8_t* const* end = s.labels + s.labelCount;
    const uint8_t* const* it = std::lower_bound(s.labels, end, id, [](const uint8_t* label, uint32_t want) {
        return readLE32(label + kHead) < want;
    });
    return it != end && readLE32(*it + kHead) == id ? *it : nullptr;
}

void cueMarker(const void* context, uint32_t index, MarkerSource* out) {
    const CueSource& s = *static_cast<const CueSource*>(context);
    const uint8_t* point = s.points + uint64_t(index) * kCuePointSize;
    out->id = readLE32(point);
    out->position = readLE32(point + 4);
    out->text = nullptr;
    out->textLength = 0;
    if (const uint8_t* label = labelFor(s, out->id)) {
        const uint32_t room = readLE32(label + 4) - 4;  // labels hold at least their identifier
        const char* text = reinterpret_cast<const char*>(label + kHead + 4);
        const void* nul = std::memchr(text, 0, room);
        out->text = text;
        out->textLength = nul ? uint32_t(static_cast<const char*>(nul) - text) : room;
    }
}

// Pointers to the "labl" sub-chunks of an "adtl" list, sorted by cue
// identifier.  The list is whole in memory; sub-chunks that would run past
// it end the walk.
uint16_t collectLabels(KELVANE_DATA* kd, const uint8_t* list, uint32_t size, Buffer* labels, uint32_t* count) {
    *count = 0;
    uint32_t n = 0;
    for (int pass = 0; pass < 2; ++pass) {
        const uint8_t** out = reinterpret_cast<const uint8_t**>(labels->get());
        n = 0;
        for (uint64_t at = 4; at + kHead <= size;) {
            const uint8_t* c = list + at;
            const uint32_t len = readLE32(c + 4);
            if (at + kHead + len > size) break;
            if (isFourcc(c, "labl") && len >= 4) {
                if (out) out[n] = c;
                ++n;
            }
            at += kHead + uint64_t(len) + (len & 1u);
        }
        if (pass == 0) {
            if (n == 0) return 0;
            labels->reset(static_cast<uint8_t*>(std::malloc(size_t(n) * sizeof(uint8_t*))));
            if (!*labels) return ZEF_ERROR(ZEFERR_MARKERS_TEMP_CHUNK_MEMORY, uint32_t(n * sizeof(uint8_t*)), kd);
        }
    }
    std::qsort(labels->get(), n, sizeof(uint8_t*), CompareIDNumbers);
    *count = n;
    return 0;
}

struct TrailingChunks {
    Buffer cue;
    uint32_t cueSize = 0;
    Buffer adtl;
    uint32_t adtlSize = 0;
};

// Loads one chunk's contents whole.
uint16_t loadChunk(KELVANE_DATA* kd, FILE* f, uint32_t size, uint16_t memoryError, Buffer* out) {
    out->reset(static_cast<uint8_t*>(std::malloc(size ? size : 1)));
    if (!*out) return ZEF_ERROR(memoryError, size, kd);
    if (size && std::fread(out->get(), 1, size, f) != size) return ZEF_ERROR(ZEFERR_READING_MARKER, errno, kd);
    return 0;
}

// Where the chunks after the data begin.  Data of odd length may be
// followed by a pad byte, which is 0.
uint64_t afterData(FILE* f, const StreamDesc& d) {
    const uint64_t end = uint64_t(d.dwDataOffset) + d.dwDataLength;
    if (!(d.dwDataLength & 1u) || fseeko(f, off_t(end), SEEK_SET) != 0) return end;
    return std::fgetc(f) == 0 ? end + 1 : end;
}

// Reads the chunk heads after the data up to the end of the file, keeping
// the first "cue " and the first "LIST"/"adtl", and offering every "LIST"
// to the INFO reader.
uint16_t readTrailingChunks(KELVANE_DATA* kd, FILE* f, uint64_t pos, uint64_t fileSize, TrailingChunks* t) {
    while (pos + kHead <= fileSize) {
        uint8_t head[kHead];
        if (fseeko(f, off_t(pos), SEEK_SET) != 0 || std::fread(head, 1, kHead, f) != kHead) break;
        const uint32_t size = readLE32(head + 4);
        const uint64_t next = pos + kHead + size + (size & 1u);
        const bool isList = isFourcc(head, "LIST"), isCue = isFourcc(head, "cue ");
        if ((isList || isCue) && size <= kMaxMarkerChunk) {
            if (pos + kHead + size > fileSize) return ZEF_ERROR(ZEFERR_READING_MARKER, 0, kd);  // cut short
            Buffer b;
            if (uint16_t err = loadChunk(kd, f, size, isList ? ZEFERR_MARKERS_MEMORY : ZEFERR_WAVE_MARKER_CHUNK_MEMORY, &b))
                return err;
            if (isList) {
                const uint8_t* p = b.get();
                RIFFReadInfoBlock(kd, &p, size);
                if (!t->adtl && size >= 4 && isFourcc(b.get(), "adtl")) {
                    t->adtl = std::move(b);
                    t->adtlSize = size;
                }
            } else if (!t->cue) {
                t->cue = std::move(b);
                t->cueSize = size;
            }
        }
        pos = next;
    }
    return 0;
}

uint16_t buildFromCues(KELVANE_DATA* kd, InputVars* in, const TrailingChunks& t) {
    if (!t.cue || t.cueSize < 4) return 0;
    // Only the cue points that the chunk really holds.
    const uint32_t count = std::min<uint32_t>(readLE32(t.cue.get()), (t.cueSize - 4) / kCuePointSize);
    if (count == 0) return 0;
    Buffer labels;
    uint32_t labelCount = 0;
    if (t.adtl) {
        if (uint16_t err = collectLabels(kd, t.adtl.get(), t.adtlSize, &labels, &labelCount)) return err;
    }
    CueSource source{t.cue.get() + 4, reinterpret_cast<const uint8_t* const*>(labels.get()), labelCount};
    return BuildMarkerChunk(kd, in, count, &source, cueMarker, ZEFERR_GENERIC_MARKERS_MEMORY,
                            ZEFERR_ORD_MARKERS_MEMORY);
}

}  // namespace

int CompareIDNumbers(const void* a, const void* b) {
    return compareKeys(readLE32(deref(a) + kHead), readLE32(deref(b) + kHead));
}

int CompareZEFMarkerPositions(const void* a, const void* b) {
    const uint8_t* x = deref(a);
    const uint8_t* y = deref(b);
    return compareKeys(uint64_t(readLE32(x + 12)) + readLE32(x + 4), uint64_t(readLE32(y + 12)) + readLE32(y + 4));
}

int ComparePCMMarkerPositions(const void* a, const void* b) {
    return compareKeys(readLE32(deref(a) + 12), readLE32(deref(b) + 12));
}

void FreeMarkers(InputVars* in) {
    std::free(in->lpMarkerChunk);
    std::free(in->lpMarkerList);
    in->lpMarkerChunk = nullptr;
    in->lpMarkerList = nullptr;
    in->dwMarkerCount = 0;
}

uint16_t BuildMarkerChunk(KELVANE_DATA* kd, InputVars* in, uint32_t count, const void* context,
                          MarkerSourceFn source, uint16_t chunkError, uint16_t listError) {
    if (count == 0) return 0;
    uint64_t total = kChunkHeadSize;
    MarkerSource m;
    for (uint32_t i = 0; i < count; ++i) {
        source(context, i, &m);
        total += recordSize(m.textLength);
    }
    if (total > UINT32_MAX) return ZEF_ERROR(chunkError, UINT32_MAX, kd);
    Buffer chunk(static_cast<uint8_t*>(std::calloc(1, size_t(total))));
    if (!chunk) return ZEF_ERROR(chunkError, uint32_t(total), kd);
    auto* list = static_cast<uint8_t**>(std::calloc(count, sizeof(uint8_t*)));
    if (!list) return ZEF_ERROR(listError, uint32_t(uint64_t(count) * sizeof(uint8_t*)), kd);

    uint8_t* p = chunk.get();
    std::memcpy(p, "ZEFm", 4);
    writeLE32(p + 4, uint32_t(total - kHead));
    writeLE32(p + 8, count);
    writeLE16(p + 12, 2);
    writeLE16(p + 14, 0);
    uint8_t* r = p + kChunkHeadSize;
    for (uint32_t i = 0; i < count; ++i) {
        source(context, i, &m);
        writeLE32(r, m.id);
        writeLE32(r + 4, 0);  // bit offset: PCM has none
        writeLE32(r + 8, m.position);
        writeLE32(r + 12, m.position);
        if (m.textLength) std::memcpy(r + kRecordHeadSize, m.text, m.textLength);
        list[i] = r;  // the text's NUL and the pad byte are already 0
        r += recordSize(m.textLength);
    }
    FreeMarkers(in);
    in->lpMarkerChunk = chunk.release();
    in->lpMarkerList = list;
    in->dwMarkerCount = count;
    return 0;
}

void SortMarkerList(InputVars* in, bool coded) {
    if (!in->lpMarkerList || in->dwMarkerCount < 2) return;
    auto compare = coded ? CompareZEFMarkerPositions : ComparePCMMarkerPositions;
    // Stable, so markers at one position keep their order in the file.
    std::stable_sort(in->lpMarkerList, in->lpMarkerList + in->dwMarkerCount,
                     [compare](const uint8_t* a, const uint8_t* b) { return compare(&a, &b) < 0; });
}

uint16_t ReadWaveMarkers(KELVANE_DATA* kd, StreamDesc* desc) {
    if (uint16_t err = checkInput(kd)) return err;
    InputVars* in = controlBlock(kd)->lpInputVars;
    FILE* f = in->lpFile ? in->lpFile->lpStream : nullptr;
    if (!f || !desc) return 0;  // markers are read from files only
    const off_t saved = ftello(f);
    if (saved < 0 || fseeko(f, 0, SEEK_END) != 0) return ZEF_ERROR(ZEFERR_SEEKING_PAST_HEADER, errno, kd);
    const off_t fileSize = ftello(f);
    uint16_t err = fileSize < 0 ? ZEF_ERROR(ZEFERR_SEEKING_PAST_HEADER, errno, kd) : 0;
    if (!err) {
        TrailingChunks chunks;
        err = readTrailingChunks(kd, f, afterData(f, *desc), uint64_t(fileSize), &chunks);
        if (!err) err = buildFromCues(kd, in, chunks);
    }
    std::clearerr(f);
    if (fseeko(f, saved, SEEK_SET) != 0 && !err) err = ZEF_ERROR(ZEFERR_MARKER_SEEK_RESET, errno, kd);
    return err;
}

}  // namespace zef
