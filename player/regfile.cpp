#include "regfile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

short RegFile::Debug = std::getenv("REGFILE") != nullptr;
const char* const RegFile::classid = "RegFile";

RegFile::RegFile() = default;

RegFile::RegFile(const char* fileName, const char* fileMode) {
    status = 1;
    if (!fileName) return;
    name = strdup(fileName);
    mode = strdup(fileMode ? fileMode : "r");
    initFileSize();
    // A mode that creates the file ("w", "a") finds no size before it opens.
    if (openFile() == 0 && fileSize < 0) initFileSize();
}

RegFile::~RegFile() {
    std::free(name);
    std::free(mode);
    name = mode = nullptr;
    closeFile();
}

const char* RegFile::getClassId() { return classid; }

long RegFile::initFileSize() {
    struct stat st;
    if (!name || ::stat(name, &st) != 0) {
        if (!name) errno = EINVAL;
        perror("RegFile::initFileSize");
        status = 1;
        return -1;
    }
    fileSize = long(st.st_size);
    status = 0;
    return fileSize;
}

int RegFile::openFile() {
    if (!name) {
        errno = EINVAL;
        perror("RegFile::openFile");
        status = 1;
        return 1;
    }
    if (fp) {
        status = 0;
        return 0;
    }
    location = 0;
    fp = std::fopen(name, mode ? mode : "r");
    if (!fp) {
        perror("RegFile::RegFile");
        status = 1;
        return 1;
    }
    fd = fileno(fp);
    status = 0;
    return 0;
}

void RegFile::closeFile() {
    if (fp) std::fclose(fp);
    fp = nullptr;
    fd = -1;
    status = 1;
}

void RegFile::rewindFile() {
    if (fp) std::rewind(fp);
    location = 0;
}

int RegFile::readBuf(char* buf, int n) {
    if (!fp && openFile() == 1) return -1;
    if (!buf || n <= 0) {
        numLastRead = 0;
        return 0;
    }
    size_t got = std::fread(buf, 1, size_t(n), fp);
    numLastRead = int(got);
    if (got == 0) return 0;
    location += long(got);
    return int(got);
}

int RegFile::writeBuf(const char* buf, int n) {
    if (!fp && openFile() == 1) return 1;
    if (n < 0 || (!buf && n > 0)) return 1;
    // write(2) may take the bytes in several pieces.
    int done = 0;
    while (done < n) {
        ssize_t w = ::write(fd, buf + done, size_t(n - done));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            perror("RegFile::writeBuf");
            numLastWritten = done;
            return 1;
        }
        done += int(w);
    }
    numLastWritten = done;
    return 0;
}

int RegFile::setFileLocation(long pos) {
    if (pos < 0 || pos > fileSize || !fp) return 1;
    if (std::fseek(fp, pos, SEEK_SET) != 0) {
        perror("RegFile::setFileLocation");
        return 1;
    }
    location = pos;
    return 0;
}

int RegFile::isFileOk() { return fp != nullptr; }

int RegFile::isEndOfFile() { return fp ? std::feof(fp) != 0 : 0; }

long RegFile::getFileSize() { return fileSize; }

long RegFile::getCurrentLocation() { return fp ? std::ftell(fp) : -1; }

int RegFile::getNumLastRead() { return numLastRead; }

int RegFile::getNumLastWritten() { return numLastWritten; }
