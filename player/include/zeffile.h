// Coded speech read from a file through a 2400-byte input window and
// decoded on request, buffer by buffer.
#pragma once

#include "audiofile.h"

class ZefFile : public AudioFile {
public:
    static short Debug;
    static const char* const classid;
    static constexpr int kWindowSize = 2400;

    ZefFile(const char* name, const char* mode, KELVANE_CALLBACK callback);
    ~ZefFile() override;

    const char* getClassId() override;
    long getFileSize() override;  // the whole file, from its RIFF header
    void initFirstRead() override;
    // Restarts a fresh decoder session at the file position pos.
    int setReadLocation(long pos) override;
    void setWarpValue(float factor) override;
    float getWarpValue() override;
    using AudioFile::setUserData;
    void setUserData(uintptr_t data) override;
    void addAudioCallback(KELVANE_CALLBACK callback) override;
    int readSegment(char* out, int n) override;
    // Moves the file position to the frame block at fraction of the data;
    // setReadLocation(getCurrentLocation()) then decodes from there.
    int setLocation(float fraction) override;
    int getSoundAttr(SNDSoundStruct* out) override;
    int getHeaderSize() override;
    long getZefSize(const char* fileName) override;
    // Appends streamed data to the file; length 0 ends the stream.
    int playMore(const char* data, int length) override;

    int readNetStreamSegment(char* out, int n);
    static long IntelToSparc(unsigned long v);

    unsigned short getFrameBlock() const { return frameBlock; }
    long getFirstFramePos() const { return long(headerSize); }  // where the coded frames start
    unsigned short getRefillLevel() const { return refillLevel; }
    unsigned short getLowLevel() const { return lowLevel; }
    long getReadPos() const { return readPos; }
    long getReceived() const { return received; }

protected:
    void initZefData();
    int setZefInputBuf();
    int decodeWithRefill(char* out, int n);
    int refillWindow(int used);
    void setFrameBlock();

    unsigned short frameBlock = 0;
    unsigned short refillLevel = 0;
    unsigned short lowLevel = 0;
    char* fileNameCopy = nullptr;
    long totalSize = 0;
    char* inBuf = nullptr;
    int inBufSize = 0;
    int headerSize = 0;
    long readPos = 0;   // file offset up to which the decoder has consumed input
    long received = 0;  // bytes of the file, growing with streamed input
    RegFile* appender = nullptr;
    long windowStart = 0;  // file offset of inBuf[0]
    int windowValid = 0;   // bytes of inBuf read from the file
    int waitingRefill = 0;
};
