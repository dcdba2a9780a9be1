#include "zeffile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "auconvert.h"
#include "byteorder.h"

short ZefFile::Debug = std::getenv("ZEFFILE") != nullptr;
const char* const ZefFile::classid = "ZefFile";

namespace {

constexpr unsigned kRefillBlocks = 150;
constexpr unsigned long kInputExhausted = 91;

}  // namespace

ZefFile::ZefFile(const char* fileName, const char* fileMode, KELVANE_CALLBACK callback)
    : AudioFile(fileName, fileMode) {
    if (fileName) fileNameCopy = strdup(fileName);
    if (status == 1 || state != 0 || !fileNameCopy) {
        state = 1;
        return;
    }
    totalSize = getZefSize(fileNameCopy);
    if (state != 0 || getSoundAttr(sndAttr) != 0) return;
    inBufSize = kWindowSize;
    inBuf = new (std::nothrow) char[size_t(inBufSize)];
    if (!inBuf) {
        state = 1;
        return;
    }
    if (callback) auCvt->setZefCallback(callback);
    initZefData();
    if (state != 0) return;
    setFrameBlock();
    initFirstRead();
    // What the file holds already counts as received: a host's data may
    // have been written to it before it was opened.
    received = fileSize;
}

ZefFile::~ZefFile() {
    if (auCvt) auCvt->freeZefDcmp();
    std::free(fileNameCopy);
    delete[] inBuf;
    delete appender;
}

const char* ZefFile::getClassId() { return classid; }

long ZefFile::getFileSize() { return totalSize; }

int ZefFile::getHeaderSize() { return headerSize; }

long ZefFile::IntelToSparc(unsigned long v) {
    v &= 0xFFFFFFFFul;
    return long(((v & 0xFF) << 24) | ((v & 0xFF00) << 8) | ((v >> 8) & 0xFF00) | (v >> 24));
}

// The size of the whole file as its RIFF header announces it.
long ZefFile::getZefSize(const char* fileName) {
    uint8_t head[8];
    int f = fileName ? ::open(fileName, O_RDONLY | O_CLOEXEC) : -1;
    ssize_t got = f >= 0 ? ::read(f, head, sizeof head) : -1;
    if (f >= 0) ::close(f);
    if (got != ssize_t(sizeof head)) {
        if (got < 0) perror("ZefFile::getZefSize");
        else std::fprintf(stderr, "ZefFile::getZefSize: %s is shorter than a RIFF header\n", fileName);
        state = 1;
        return -1;
    }
    return long(zef::readLE32(head + 4)) + 8;
}

void ZefFile::setFrameBlock() {
    frameBlock = auCvt->frameBlock();
    refillLevel = uint16_t(std::min<unsigned>(frameBlock * kRefillBlocks, 0xFFFF));
    lowLevel = frameBlock;
    if (frameBlock == 0) state = 1;
}

// A fresh decoder session from the header at the current file position.
void ZefFile::initZefData() {
    auCvt->freeZefDcmp();
    headerSize = 0;
    int got = readBuf(inBuf, inBufSize);
    if (got <= 0) {
        state = 1;
        return;
    }
    char scratch[kWindowSize];
    int inSize = got;
    int outSize = int(sizeof scratch);
    if (auCvt->initBufZef2Raw(inBuf, &inSize, scratch, &outSize)) {
        if (Debug)
            std::fprintf(stderr, "ZefFile::initZefData: %s: error %u (%u)\n", fileNameCopy, auCvt->getPrimaryError(),
                         auCvt->getSecondaryError());
        state = 1;
        return;
    }
    headerSize = inSize;
    sndAttr->dataLocation = uint32_t(headerSize);
    sndAttr->dataSize = uint32_t(std::max(totalSize - headerSize, 0L));
    readPos = headerSize;
}

void ZefFile::initFirstRead() {
    if (setFileLocation(headerSize)) {
        state = 1;
        return;
    }
    state = setZefInputBuf();
}

// Fills the window from the current file position and hands it to the session.
int ZefFile::setZefInputBuf() {
    windowStart = location;
    int got = readBuf(inBuf, inBufSize);
    if (got < 0) {
        state = 1;
        return 1;
    }
    windowValid = got;
    auCvt->setZefInput(inBuf, static_cast<unsigned long>(windowValid), 0);
    return 0;
}

int ZefFile::getSoundAttr(SNDSoundStruct* out) {
    if (state == 1 || !out) return 1;
    if (auCvt->getSoundAttr(fileNameCopy, ZEFTYPE_LOCATION_FILE, out)) {
        state = 1;
        return 1;
    }
    auto dataSize = uint32_t(std::max(totalSize - long(headerSize), 0L));
    sndAttr->dataSize = dataSize;
    out->dataSize = dataSize;
    state = 0;
    return 0;
}

int ZefFile::setLocation(float fraction) {
    if (state != 0 || frameBlock == 0 || !(fraction >= 0.0f && fraction <= 1.0f)) return 1;
    long dataSize = long(sndAttr->dataSize);
    long offset = std::min(long(double(dataSize) * double(fraction)), dataSize);
    offset -= offset % frameBlock;
    return setFileLocation(offset + headerSize) ? 1 : 0;
}

int ZefFile::setReadLocation(long pos) {
    if (!inBuf || !auCvt) {
        state = 1;
        return 1;
    }
    if (pos < headerSize || pos > fileSize) return 1;
    readPos = 0;
    rewindFile();
    initZefData();
    if (state != 0) return 1;
    // A fresh decoder must start on a whole frame.
    if (frameBlock) pos -= (pos - headerSize) % frameBlock;
    readPos = pos;
    if (setFileLocation(pos)) {
        state = 1;
        return 1;
    }
    state = 0;
    return setZefInputBuf();
}

// Moves the unused tail of the window to its front and fills the rest from
// the file (which may have grown since the last end of file).
int ZefFile::refillWindow(int used) {
    used = std::clamp(used, 0, windowValid);
    int tail = windowValid - used;
    std::memmove(inBuf, inBuf + used, size_t(tail));
    windowStart += used;
    windowValid = tail;
    if (fp) std::clearerr(fp);
    int got = readBuf(inBuf + tail, inBufSize - tail);
    if (got > 0) windowValid += got;
    auCvt->setZefInput(inBuf, static_cast<unsigned long>(windowValid), 0);
    return got;
}

int ZefFile::decodeWithRefill(char* out, int n) {
    if (!out || n <= 0) return -1;
    int produced = n;
    int failed = auCvt->bufZefConvert(out, &produced);
    if (Debug)
        std::fprintf(stderr, "\tPriErr = %u\n\tSecErr = %lu\n----------------------------------------\n"
                             "\tinSize = %d\n\tinPos = %lu\n",
                     auCvt->getPrimaryError(), auCvt->lastSignal(), windowValid, auCvt->inputBytesUsed());
    if (failed) return -1;
    int used = int(auCvt->inputBytesUsed());
    readPos = windowStart + used;
    if (auCvt->lastSignal() != kInputExhausted && produced != 0) return produced;
    if (refillWindow(used) <= 0) return produced;
    int inSize = windowValid;
    int more = n - produced;
    if (auCvt->bufZefConvert(inBuf, &inSize, out + produced, &more)) return -1;
    readPos = windowStart + inSize;
    return produced + more;
}

int ZefFile::readSegment(char* out, int n) {
    if (netStream) return readNetStreamSegment(out, n);
    if (state != 0 || !inBuf) return -1;
    return decodeWithRefill(out, n);
}

// Streamed input: once the decoder is down to one frame block of received
// data it waits until refillLevel bytes are there again (or the stream ends).
int ZefFile::readNetStreamSegment(char* out, int n) {
    if (state != 0 || !inBuf) return -1;
    if (netStream && readPos >= totalSize) return 0;
    if (!netStream || readPos < received) {
        if (netStream && received != totalSize) {
            long buffered = received - readPos;
            if (waitingRefill && buffered <= refillLevel) return -2;
            waitingRefill = 0;
            if (buffered <= lowLevel) {
                waitingRefill = 1;
                return -2;
            }
        }
        int produced = decodeWithRefill(out, n);
        if (produced < 0) return -1;
        if (produced > 0 || totalSize - readPos < frameBlock) return produced;
    }
    return -2;
}

int ZefFile::playMore(const char* data, int length) {
    if (length < 0 || (length > 0 && !data)) return 1;
    if (length == 0) {
        if (totalSize != received)
            std::fprintf(stderr, "Inconsistent Riff size (%ld) and actual size (%ld)\n", totalSize, received);
        totalSize = received;
        if (sndAttr) sndAttr->dataSize = uint32_t(std::max(totalSize - long(headerSize), 0L));
        return 0;
    }
    if (received + length > totalSize) return 1;  // beyond the size the header announced
    if (!appender) appender = new RegFile(fileNameCopy, "a");
    if (appender->writeBuf(data, length)) return 1;
    received += length;
    fileSize += length;
    return 0;
}

void ZefFile::setWarpValue(float factor) {
    if (auCvt) auCvt->setWarpFactor(factor);
}

float ZefFile::getWarpValue() { return auCvt ? auCvt->getWarpFactor() : 1.0f; }

void ZefFile::setUserData(uintptr_t data) {
    if (auCvt) auCvt->setZefUserData(data);
}

void ZefFile::addAudioCallback(KELVANE_CALLBACK callback) {
    if (auCvt) auCvt->setZefCallback(callback);
}
