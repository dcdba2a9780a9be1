// RIFF "LIST"/"INFO" texts, read into and written from the caller's array
// of KELVANE_INFO_CHUNK records (kd->lpInfoChunks, kd->wInfoChunks).
#include <algorithm>
#include <cstring>

#include "byteorder.h"
#include "zefapi.h"

namespace zef {
namespace {

// Index 1..6 stands for these identifiers in a record's dwId.
constexpr char kKnownIds[7][5] = {"", "IARL", "ICOP", "INAM", "ISFT", "IENG", "ICMT"};
constexpr uint32_t kKnownCount = 7;
constexpr uint32_t kAskedFor = 0xFFFFFFFFu;  // a record pre-set to receive its identifier
constexpr uint32_t kHead = 8;

// The four characters a record's dwId stands for.
uint32_t chunkIdOf(uint32_t recordId) {
    return recordId > 0 && recordId < kKnownCount ? fourcc(kKnownIds[recordId]) : recordId;
}

// The bytes of text a record writes: none for a free record or one still
// waiting for its text, never more than the record holds.
uint32_t writableLength(const KELVANE_INFO_CHUNK& r) {
    if (r.dwId == 0 || r.dwLength == kAskedFor) return 0;
    return std::min<uint32_t>(r.dwLength, ZEF_INFO_TEXT_SIZE);
}

uint32_t even(uint32_t n) { return n + (n & 1u); }

KELVANE_INFO_CHUNK* recordFor(int16_t count, KELVANE_INFO_CHUNK* records, uint32_t id) {
    // A record that names the identifier wins over a free one anywhere in
    // the array, so a caller who asked for a text receives it.
    for (int16_t i = 0; i < count; ++i)
        if (records[i].dwId != 0 && chunkIdOf(records[i].dwId) == id) return &records[i];
    for (int16_t i = 0; i < count; ++i)
        if (records[i].dwId == 0) return &records[i];
    return nullptr;
}

struct InfoTarget {
    int16_t count;
    KELVANE_INFO_CHUNK* records;
};

uint16_t accumulate(void* context, KELVANE_DATA*, uint32_t id, uint32_t size, const uint8_t* contents) {
    const InfoTarget* t = static_cast<const InfoTarget*>(context);
    return RIFFAccumulateInfoChunks(t->count, t->records, id, size, contents);
}

}  // namespace

uint32_t RIFFToZefChunkID(uint32_t id) {
    for (uint32_t i = 1; i < kKnownCount; ++i)
        if (fourcc(kKnownIds[i]) == id) return i;
    return id;
}

uint16_t RIFFAccumulateInfoChunks(int16_t count, KELVANE_INFO_CHUNK* records, uint32_t id, uint32_t size,
                                  const uint8_t* contents) {
    if (!records || count < 1) return 0;
    KELVANE_INFO_CHUNK* r = recordFor(count, records, id);
    if (!r) return 0;                                       // no room: the text is not kept
    if (r->dwId != 0 && r->dwLength != kAskedFor) return 0;  // already holds its text
    const uint32_t length = std::min<uint32_t>(size, ZEF_INFO_TEXT_SIZE);
    r->dwId = RIFFToZefChunkID(id);
    r->dwLength = length;
    std::memset(r->szText, 0, sizeof r->szText);
    if (length) std::memcpy(r->szText, contents, length);
    r->szText[ZEF_INFO_TEXT_SIZE - 1] = 0;
    return 0;
}

uint16_t RIFFReadInfoBlock(KELVANE_DATA* kd, const uint8_t** pos, uint32_t size) {
    if (!kd || !kd->lpInfoChunks) return 0;
    if (!pos || !*pos || size < 4 || !isFourcc(*pos, "INFO")) return ZEFERR_CANT_SURF_THIS_WAVE;
    InfoTarget target{kd->wInfoChunks, static_cast<KELVANE_INFO_CHUNK*>(kd->lpInfoChunks)};
    const uint8_t* p = *pos + 4;
    const uint16_t r = TraverseChunks(&p, size - 4, 0, nullptr, &target, kd, accumulate);
    *pos = p;
    return r == ZEFERR_CANT_SURF_THIS_WAVE ? 0 : r;
}

uint32_t RIFFInfoBlockSize(const KELVANE_DATA* kd) {
    if (!kd || !kd->lpInfoChunks) return 0;
    const auto* records = static_cast<const KELVANE_INFO_CHUNK*>(kd->lpInfoChunks);
    uint32_t size = kHead + 4;
    for (int16_t i = 0; i < kd->wInfoChunks; ++i)
        if (uint32_t n = writableLength(records[i])) size += kHead + even(n);
    return size;
}

uint16_t RIFFWriteInfoBlock(KELVANE_DATA* kd, uint8_t** cursor) {
    if (!kd || !kd->lpInfoChunks) return 0;
    const auto* records = static_cast<const KELVANE_INFO_CHUNK*>(kd->lpInfoChunks);
    uint8_t* p = *cursor;
    std::memcpy(p, "LIST", 4);
    writeLE32(p + 4, RIFFInfoBlockSize(kd) - kHead);
    std::memcpy(p + 8, "INFO", 4);
    p += 12;
    for (int16_t i = 0; i < kd->wInfoChunks; ++i) {
        const uint32_t n = writableLength(records[i]);
        if (!n) continue;
        const uint32_t id = chunkIdOf(records[i].dwId);
        writeFourcc(p, id);
        writeLE32(p + 4, even(n));
        std::memcpy(p + kHead, records[i].szText, n);
        if (n & 1u) p[kHead + n] = 0;  // the pad byte is always 0
        p += kHead + even(n);
    }
    *cursor = p;
    return 0;
}

}  // namespace zef
