// Bodies of the readers' fuzz targets, shared with the test that replays
// their seed corpora under the normal and the sanitizer builds.  Each body
// checks what must hold for any input and traps when it does not: no session
// left attached, the caller's input bytes never written, marker labels ended
// inside their chunk.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "byteorder.h"
#include "mirlane.h"
#include "zefapi.h"

namespace zeffuzz {

constexpr uint32_t kBufferTypes[] = {0x10200, 0x10201, 0x30200, 0x20201, 0x20200};
constexpr uint32_t kFileTypes[] = {0x10100, 0x10101, 0x30100, 0x20101};
constexpr uint32_t kPacketType = 0x21101;

inline void require(bool condition) {
    if (!condition) __builtin_trap();
}

struct Request {
    KELVANE_DATA kd{};
    ZEF_FILE_INFO info{};
    KELVANE_INFO_CHUNK texts[4]{};
    KELVANE_MARKER_REQUEST markers{1, ZEF_MARKER_REQUEST_SIZE, 0, 0, 0, 0};

    Request(uint32_t type, void* location, uint32_t size) {
        texts[0].dwId = 6;  // ask for the comment
        texts[0].dwLength = 0xFFFFFFFFu;
        kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
        kd.dwInputType = type;
        kd.lpInputLocation = location;
        kd.dwInputSize = size;
        kd.dwOutputType = ZEFTYPE_FILE_INFO;
        kd.lpOutputLocation = &info;
        kd.dwOutputSize = ZEF_FILE_INFO_SIZE;
        kd.lpInfoChunks = texts;
        kd.wInfoChunks = 4;
        if ((type & ZEFTYPE_FORMAT_MASK) == ZEFTYPE_FORMAT_RAW && !(type & ZEFTYPE_QUALIFIER_ZEF)) {
            kd.wInputBytesPerSample = 2;
            kd.dwInputSamplingRate = 8000;
        }
    }
};

// Every marker record lies in its chunk and its label ends there.
inline void walkMarkers(const zef::InputVars* in) {
    if (!in->lpMarkerChunk || !in->lpMarkerList) return;
    const uint32_t chunkEnd = 8 + zef::readLE32(in->lpMarkerChunk + 4);
    for (uint32_t i = 0; i < in->dwMarkerCount; ++i) {
        const uint8_t* m = in->lpMarkerList[i];
        require(m >= in->lpMarkerChunk && m + 16 < in->lpMarkerChunk + chunkEnd);
        const void* end = std::memchr(m + 16, 0, size_t(in->lpMarkerChunk + chunkEnd - (m + 16)));
        require(end != nullptr);
    }
}

// Reads the whole input through the endpoint, taking uneven pieces so that
// samples split across refills.
inline void readThrough(KELVANE_DATA* kd) {
    zef::InputVars* in = zef::controlBlock(kd)->lpInputVars;
    for (int round = 0; round < 4096; ++round) {
        uint32_t left = in->dwValid - in->dwReadPos;
        in->dwReadPos += round % 3 == 1 && left > 1 ? left - 1 : left;
        if (zef::HandleInputData(kd, ZEFMSG_READ) != 0) return;
        require(in->dwReadPos <= in->dwValid && in->dwValid <= in->dwTotal);
    }
}

// The information call over the bytes as a memory buffer of each kind, and
// a packet stream opened through the data endpoint.
inline int fileInfoEntry(const uint8_t* data, size_t size) {
    if (size > 1u << 24) return 0;
    const std::vector<uint8_t> original(data, data + size);
    std::vector<uint8_t> bytes = original;
    for (uint32_t type : kBufferTypes) {
        Request r(type, bytes.data(), uint32_t(size));
        utilGetFileInfo(&r.kd);
        require(r.kd.lpControlBlock == nullptr);
        require(bytes == original);
    }
    Request packet(kPacketType, bytes.data(), uint32_t(size));
    if (zef::NewZefControlBlock(&packet.kd) == 0) {
        zef::controlBlock(&packet.kd)->lpInputHandler = zef::HandleInputData;
        zef::HandleInputData(&packet.kd, ZEFMSG_OPEN);
        utilMirlaneCleanup(&packet.kd);
    }
    require(packet.kd.lpControlBlock == nullptr);
    require(bytes == original);
    return 0;
}

// A scratch file of this process, removed at exit.  The name is kept in
// plain storage, which outlives every exit handler.
inline const char* scratchPath() {
    static char path[4096];
    if (!path[0]) {
        const char* dir = std::getenv("TMPDIR");
        std::string p = std::string(dir && *dir ? dir : "/tmp") + "/zef_fuzz_XXXXXX";
        require(p.size() < sizeof path);
        std::memcpy(path, p.c_str(), p.size() + 1);
        int fd = ::mkstemp(path);
        require(fd >= 0);
        ::close(fd);
        std::atexit([] { ::unlink(scratchPath()); });
    }
    return path;
}

inline void writeScratch(const uint8_t* data, size_t size) {
    int fd = ::open(scratchPath(), O_WRONLY | O_TRUNC);
    require(fd >= 0);
    for (size_t done = 0; done < size;) {
        ssize_t n = ::write(fd, data + done, size - done);
        require(n > 0);
        done += size_t(n);
    }
    ::close(fd);
}

// The bytes as a file of each kind, opened with markers and texts asked
// for, read through to the end, and closed.
inline int readersEntry(const uint8_t* data, size_t size) {
    if (size > 1u << 24) return 0;
    writeScratch(data, size);
    for (uint32_t type : kFileTypes) {
        Request r(type, const_cast<char*>(scratchPath()), 0);
        r.kd.lpMarker = &r.markers;
        if (utilMirlaneInit(&r.kd) == 0) {
            walkMarkers(zef::controlBlock(&r.kd)->lpInputVars);
            readThrough(&r.kd);
        }
        if (r.kd.lpControlBlock) utilMirlaneCleanup(&r.kd);
        require(r.kd.lpControlBlock == nullptr);
    }
    return 0;
}

}  // namespace zeffuzz
