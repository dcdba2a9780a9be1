// Buffered file access for the data endpoint.
#include "filelayer.h"

#include "zefoutfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

namespace zef {
namespace {

constexpr uint32_t kFileRecordSize = 40;  // the record's historical size, reported on failure

uint32_t sysError() { return uint32_t(errno); }

// The size of an open stream, found by seeking to its end and back.  Sizes
// past 32 bits saturate; streams that cannot seek report 0.
uint32_t streamSize(FILE* stream) {
    off_t here = ftello(stream);
    if (here < 0 || fseeko(stream, 0, SEEK_END) != 0) return 0;
    off_t end = ftello(stream);
    fseeko(stream, here, SEEK_SET);
    if (end < 0) return 0;
    return end > off_t(UINT32_MAX) ? UINT32_MAX : uint32_t(end);
}

uint16_t openForReading(KELVANE_DATA* kd, const char* name, FileRecord* f) {
    f->lpBuffer = static_cast<uint8_t*>(std::calloc(kFileBufferSize, 1));
    if (!f->lpBuffer) return ZEF_ERROR(ZEFERR_INPUT_DISKIO_MEMORY, kFileBufferSize, kd);
    f->dwCapacity = kFileBufferSize;
    f->lpStream = std::fopen(name, "rb");
    if (!f->lpStream) return ZEF_ERROR(ZEFERR_OPENING_INPUT_FILE, sysError(), kd);
    f->dwFileSize = streamSize(f->lpStream);
    return 0;
}

// The output goes to a new file beside the name, put in place when the
// session closes without error (see zefoutfile.h): a failure or a kill never
// costs the file that had the name, and an input is never written over.
uint16_t openForWriting(KELVANE_DATA* kd, const char* name, FileRecord* f) {
    f->lpName = ::strdup(name);
    f->lpOut = new (std::nothrow) OutFile;
    if (!f->lpName || !f->lpOut) return ZEF_ERROR(ZEFERR_FILELINK_MEMORY, kFileRecordSize, kd);
    if (int err = openOutFile(name, *f->lpOut)) return ZEF_ERROR(ZEFERR_OPENING_OUTPUT_FILE, uint32_t(err), kd);
    f->lpStream = ::fdopen(f->lpOut->fd, "wb");
    if (!f->lpStream) {
        uint32_t err = sysError();
        discardOutFile(*f->lpOut);
        ::close(f->lpOut->fd);
        return ZEF_ERROR(ZEFERR_OPENING_OUTPUT_FILE, err, kd);
    }
    return 0;
}

void freeRecord(FileRecord* f) {
    delete f->lpOut;
    std::free(f->lpName);
    std::free(f->lpBuffer);
    std::free(f);
}

// A marker segment ends reading at its end byte (an absolute file offset).
void cutAtEndByte(FileRecord* f, uint32_t* valid) {
    ZefControlBlock* cb = controlBlock(f->lpKelvaneData);
    if (!cb || cb->dwGuard != kControlBlockGuard) return;
    InputVars* in = cb->lpInputVars;
    if (!in || in->dwGuard != kInputGuard || in->lpFile != f || in->dwEndByte == 0) return;
    if (f->dwBytesRead < in->dwEndByte) return;
    uint32_t over = f->dwBytesRead - in->dwEndByte;
    *valid -= over < *valid ? over : *valid;
    f->wEOF = 1;
}

}  // namespace

uint16_t FileInit(KELVANE_DATA* kd, uint32_t type, const char* name, uint16_t direction, FileRecord** record) {
    if (!record || *record) return ZEF_ERROR(ZEFERR_FILE_RECORD_IN_USE, 0, kd);
    if (locationOf(type) != ZEFTYPE_LOCATION_FILE) return ZEF_ERROR(ZEFERR_FILE_LAYER_LOCATION, type, kd);
    if (!name || !*name) return ZEF_ERROR(ZEFERR_BAD_PATH_TO_FILE, 0, kd);
    auto* f = static_cast<FileRecord*>(std::calloc(1, sizeof(FileRecord)));
    if (!f) return ZEF_ERROR(ZEFERR_FILELINK_MEMORY, kFileRecordSize, kd);
    f->lpKelvaneData = kd;
    f->wDirection = direction;
    uint16_t err = direction == kFileWriting ? openForWriting(kd, name, f) : openForReading(kd, name, f);
    if (err) {
        if (f->lpStream) std::fclose(f->lpStream);
        freeRecord(f);
        return err;
    }
    f->wOpen = 1;
    *record = f;
    return 0;
}

uint16_t FileRead(FileRecord* f, uint8_t** buffer, uint32_t* valid, uint32_t consumed) {
    KELVANE_DATA* kd = f ? f->lpKelvaneData : nullptr;
    if (!f || !f->wOpen || f->wDirection != kFileReading || !f->lpBuffer || !valid)
        return ZEF_ERROR(ZEFERR_FILE_READ_NOT_OPEN, 0, kd);
    if (buffer) *buffer = f->lpBuffer;
    uint32_t keep = 0;
    if (consumed <= *valid && *valid <= f->dwCapacity) {
        keep = *valid - consumed;
        std::memmove(f->lpBuffer, f->lpBuffer + consumed, keep);
        if (keep >= f->dwCapacity) {
            // Nothing of a full buffer was taken: more bytes cannot help.
            f->wEOF = 1;
            *valid = f->dwValid = keep;
            return ZEFERR_ENDOFFILE_REACHED;
        }
    }
    size_t want = f->dwCapacity - keep;
    errno = 0;
    size_t got = std::fread(f->lpBuffer + keep, 1, want, f->lpStream);
    uint32_t err = sysError();
    f->dwBytesRead += uint32_t(got);
    f->wEOF = std::feof(f->lpStream) ? 1 : 0;
    *valid = keep + uint32_t(got);
    cutAtEndByte(f, valid);
    f->dwValid = *valid;
    if (got < want && !std::feof(f->lpStream)) {
        f->wEOF = 1;
        return ZEF_ERROR(ZEFERR_READING_FROM_FILE, err, kd);
    }
    return 0;
}

uint16_t FileWrite(FileRecord* f, uint32_t* length, const uint8_t* data) {
    KELVANE_DATA* kd = f ? f->lpKelvaneData : nullptr;
    if (!f || !f->wOpen || f->wDirection != kFileWriting || !length)
        return ZEF_ERROR(ZEFERR_FILE_WRITE_NOT_OPEN, 0, kd);
    if (*length == 0) return 0;
    errno = 0;
    size_t put = std::fwrite(data, 1, *length, f->lpStream);
    if (put < *length) {
        *length = uint32_t(put);
        return ZEF_ERROR(ZEFERR_WRITING_TO_FILE, sysError(), kd);
    }
    return 0;
}

uint16_t FileClose(FileRecord** record, uint16_t pending, bool discard) {
    FileRecord* f = record ? *record : nullptr;
    if (!f) return pending;
    *record = nullptr;
    KELVANE_DATA* kd = f->lpKelvaneData;
    if (!f->wOpen) {
        freeRecord(f);
        return pending ? pending : ZEF_ERROR(ZEFERR_FILE_CLOSE_NOT_OPEN, 0, kd);
    }
    bool writing = f->wDirection == kFileWriting;
    uint16_t result = pending;
    bool refused = kd && kd->dwSecondaryError == ZEF_SIGNAL_FUNCTION_REFUSED;
    // A failed output is not left behind looking like a finished file: its
    // new file is dropped and whatever had the name stays as it was.
    if (writing && f->lpOut) {
        errno = 0;
        if (!result && !discard && !refused && std::fflush(f->lpStream) != 0)
            result = ZEF_ERROR(ZEFERR_CLOSING_OUTPUT_FILE, sysError(), kd);
        if (result || discard || refused) {
            discardOutFile(*f->lpOut);
        } else if (int err = commitOutFile(*f->lpOut)) {
            result = ZEF_ERROR(ZEFERR_CLOSING_OUTPUT_FILE, uint32_t(err), kd);
        }
    }
    errno = 0;
    if (std::fclose(f->lpStream) != 0 && !result)
        result = ZEF_ERROR(writing ? ZEFERR_CLOSING_OUTPUT_FILE : ZEFERR_CLOSING_INPUT_FILE, sysError(), kd);
    freeRecord(f);
    return result;
}

}  // namespace zef
