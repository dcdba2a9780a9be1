// One regular file read through standard I/O: its name, size, position and
// the outcome of the last transfer.
#pragma once

#include <cstdio>

class RegFile {
public:
    static short Debug;
    static const char* const classid;

    RegFile();
    // Opens name with the fopen mode; status is 0 when that worked.
    RegFile(const char* name, const char* mode);
    virtual ~RegFile();
    RegFile(const RegFile&) = delete;
    RegFile& operator=(const RegFile&) = delete;

    virtual const char* getClassId();
    virtual long initFileSize();
    virtual int openFile();
    virtual void closeFile();
    virtual void rewindFile();
    // Bytes read (0 at the end of the file), or -1 when the file cannot be opened.
    virtual int readBuf(char* buf, int n);
    // 0 when all n bytes were written, else 1.
    virtual int writeBuf(const char* buf, int n);
    // 0, or 1 for a position below 0 or beyond the size (nothing changes).
    virtual int setFileLocation(long pos);
    virtual int isFileOk();
    virtual int isEndOfFile();
    virtual long getFileSize();
    virtual long getCurrentLocation();
    virtual int getNumLastRead();
    virtual int getNumLastWritten();

protected:
    int status = 0;  // 0 usable, 1 failed or closed
    long location = -1;
    long fileSize = -1;
    char* name = nullptr;
    char* mode = nullptr;
    FILE* fp = nullptr;
    int fd = -1;
    int numLastRead = -1;
    int numLastWritten = -1;
};
