#include "zefbuf.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "auconvert.h"
#include "byteorder.h"

short ZefBuf::Debug = std::getenv("ZEFBUF") != nullptr;
const char* const ZefBuf::classid = "ZefBuf";

namespace {

constexpr long kSavedHead = 2400;  // the bytes kept safe while the header is parsed
constexpr unsigned kRefillBlocks = 150;
// A streamed copy grows with the bytes that arrive, never at once to what a
// header announces (up to 4 GiB), and refuses more than this: 64 MiB is
// over two days of speech at 2.9 kbit/s.
constexpr long kLargestStream = 64L << 20;

}  // namespace

ZefBuf::ZefBuf(char* bytes, int length, KELVANE_CALLBACK callback, bool copy) : AudioFile() {
    received = length;
    if (!bytes || length <= 0) {
        state = 1;
        return;
    }
    if (copy) {
        available = length;
        totalSize = getZefSize(bytes);
        // More data than the header announces is refused, as playMore would.
        if (state != 0 || totalSize < 1 || totalSize < length || length > kLargestStream) {
            state = 1;
            return;
        }
        capacity = std::max<long>(length, 65536);
        data = static_cast<char*>(std::malloc(size_t(capacity)));
        if (!data) {
            state = 1;
            return;
        }
        ownsData = true;
        std::memcpy(data, bytes, size_t(length));
    } else {
        data = bytes;
        totalSize = available = length;
    }
    if (state == 0) getSoundAttr();
    if (callback) auCvt->setZefCallback(callback);
    if (state == 0) initZefData();
    if (state != 0) return;
    frameBlock = auCvt->frameBlock();
    refillLevel = uint16_t(std::min<unsigned>(frameBlock * kRefillBlocks, 0xFFFF));
    lowLevel = frameBlock;
    if (frameBlock == 0) state = 1;
    else initFirstRead();
}

ZefBuf::~ZefBuf() {
    if (auCvt) auCvt->freeZefDcmp();
    if (ownsData) std::free(data);
}

const char* ZefBuf::getClassId() { return classid; }

void ZefBuf::rewindFile() { readPos = 0; }

int ZefBuf::isFileOk() { return 1; }

int ZefBuf::isEndOfFile() { return endReached; }

long ZefBuf::getFileSize() { return totalSize; }

long ZefBuf::getCurrentLocation() { return readPos; }

int ZefBuf::getHeaderSize() { return int(headerSize); }

// The size of the whole file as its RIFF header announces it.
long ZefBuf::getZefSize(const char* bytes) {
    if (!bytes || available < 8) {
        state = 1;
        return -1;
    }
    return long(zef::readLE32(reinterpret_cast<const uint8_t*>(bytes) + 4)) + 8;
}

int ZefBuf::getSoundAttr() {
    if (state == 1 || auCvt->getBufferSoundAttr(data, static_cast<unsigned long>(available), sndAttr) != 0) {
        state = 1;
        return 1;
    }
    sndAttr->dataSize = uint32_t(std::max(totalSize - headerSize, 0L));
    state = 0;
    return 0;
}

int ZefBuf::getSoundAttr(SNDSoundStruct* out) {
    if (state == 1 || !out) return 1;
    std::memcpy(out, sndAttr, sizeof *out);
    state = 0;
    return state;
}

// A fresh decoder session over the header.  The library may alter its input
// while it reads the header; the data stays as received (and a read-only
// mapping is never written unless it was altered).
void ZefBuf::initZefData() {
    auCvt->freeZefDcmp();
    size_t keep = size_t(std::min(available, kSavedHead));
    char saved[kSavedHead];
    std::memcpy(saved, data, keep);
    char scratch[kSavedHead];
    int inSize = int(std::min<long>(available, INT_MAX));
    int outSize = int(sizeof scratch);
    int failed = auCvt->initBufZef2Raw(data, &inSize, scratch, &outSize);
    if (std::memcmp(saved, data, keep) != 0) std::memcpy(data, saved, keep);
    if (failed) {
        if (Debug)
            std::fprintf(stderr, "ZefBuf::initZefData: error %u (%u)\n", auCvt->getPrimaryError(),
                         auCvt->getSecondaryError());
        headerSize = 0;
        state = 1;
        return;
    }
    headerSize = inSize;
    sndAttr->dataLocation = uint32_t(headerSize);
    sndAttr->dataSize = uint32_t(std::max(totalSize - headerSize, 0L));
    readPos = headerSize;
    endReached = 0;
}

void ZefBuf::initFirstRead() {
    readPos = headerSize;
    state = setZefInputBuf();
}

int ZefBuf::setZefInputBuf() {
    auCvt->setZefInput(data, static_cast<unsigned long>(available), static_cast<unsigned long>(readPos));
    state = 0;
    return 0;
}

int ZefBuf::setLocation(float fraction) {
    if (state != 0 || frameBlock == 0 || !(fraction >= 0.0f && fraction <= 1.0f)) return 1;
    long dataSize = long(sndAttr->dataSize);
    long offset = std::min(long(double(dataSize) * double(fraction)), dataSize);
    offset -= offset % frameBlock;
    readPos = offset + headerSize;
    return 0;
}

int ZefBuf::setReadLocation(long pos) {
    if (!data || state == 1) return 1;
    if (pos < headerSize || pos > totalSize) return 1;
    readPos = 0;
    initZefData();
    if (state != 0) return 1;
    // A fresh decoder must start on a whole frame.
    if (frameBlock) pos -= (pos - headerSize) % frameBlock;
    readPos = pos;
    state = 0;
    return setZefInputBuf();
}

int ZefBuf::decode(char* out, int n) {
    if (!out || n <= 0) return -1;
    int produced = n;
    if (auCvt->bufZefConvert(out, &produced)) {
        if (Debug)
            std::fprintf(stderr, "\tPriErr = %u\n\tSecErr = %u\n", auCvt->getPrimaryError(),
                         auCvt->getSecondaryError());
        return -1;
    }
    readPos = long(auCvt->inputBytesUsed());
    return produced;
}

int ZefBuf::readSegment(char* out, int n) {
    if (state != 0) return -1;
    if (netStream) return readNetStreamSegment(out, n);
    if (endReached) return 0;
    int produced = decode(out, n);
    if (produced != 0) return produced;
    // Data held in memory without the stream flag can never grow: nothing
    // produced is the end, not a wait.
    endReached = 1;
    return 0;
}

int ZefBuf::readNetStreamSegment(char* out, int n) {
    if (state != 0) return -1;
    if (netStream && endReached) return 0;
    if (totalSize - readPos > 0) {
        if (netStream && readPos >= received) return -2;
        int produced = decode(out, n);
        if (produced != 0) return produced;
        if (totalSize - readPos >= frameBlock) return -2;
    }
    endReached = 1;
    return 0;
}

int ZefBuf::playMore(const char* more, int length) {
    if (length < 0 || (length > 0 && !more)) return 1;
    if (length == 0) {
        if (totalSize != received)
            std::fprintf(stderr, "Inconsistent Riff size (%ld) and actual size (%ld)\n", totalSize, received);
        totalSize = received;
        if (sndAttr) sndAttr->dataSize = uint32_t(std::max(totalSize - headerSize, 0L));
        return 0;
    }
    // Only a stream copied into its own buffer grows, and never beyond the
    // size its header announced.
    if (!netStream || !ownsData || received + length > totalSize || received + length > kLargestStream) return 1;
    if (received + length > capacity) {
        long grown = std::min(std::max(capacity * 2, received + length), std::min(totalSize, kLargestStream));
        char* bigger = static_cast<char*>(std::realloc(data, size_t(grown)));
        if (!bigger) return 1;
        data = bigger;
        capacity = grown;
    }
    std::memcpy(data + received, more, size_t(length));
    received += length;
    available += length;
    // The decoder reads from where the bytes are now.
    auCvt->setZefInput(data, static_cast<unsigned long>(available), auCvt->inputBytesUsed());
    return 0;
}

void ZefBuf::setWarpValue(float factor) { auCvt->setWarpFactor(factor); }

float ZefBuf::getWarpValue() { return auCvt->getWarpFactor(); }

void ZefBuf::setUserData(uintptr_t value) { auCvt->setZefUserData(value); }

void ZefBuf::addAudioCallback(KELVANE_CALLBACK callback) { auCvt->setZefCallback(callback); }
