// Coded speech decoded straight from memory: a mapped file, or data handed
// over by a host that may stream more of it while it plays.
#pragma once

#include "audiofile.h"

class ZefBuf : public AudioFile {
public:
    static short Debug;
    static const char* const classid;

    // copy: the object keeps its own buffer of the size the RIFF header
    // announces, which playMore fills; otherwise data is used in place.
    ZefBuf(char* data, int length, KELVANE_CALLBACK callback, bool copy);
    ~ZefBuf() override;

    const char* getClassId() override;
    void rewindFile() override;
    int isFileOk() override;
    int isEndOfFile() override;
    long getFileSize() override;
    long getCurrentLocation() override;
    void initFirstRead() override;
    int setReadLocation(long pos) override;
    void setWarpValue(float factor) override;
    float getWarpValue() override;
    using AudioFile::setUserData;
    void setUserData(uintptr_t data) override;
    void addAudioCallback(KELVANE_CALLBACK callback) override;
    int readSegment(char* out, int n) override;
    int setLocation(float fraction) override;
    int getSoundAttr(SNDSoundStruct* out) override;
    int getHeaderSize() override;
    long getZefSize(const char* data) override;
    int playMore(const char* more, int length) override;

    int getSoundAttr();
    int readNetStreamSegment(char* out, int n);

    unsigned short getFrameBlock() const { return frameBlock; }
    long getFirstFramePos() const { return long(headerSize); }  // where the coded frames start
    long getReceived() const { return received; }
    const char* getData() const { return data; }

protected:
    void initZefData();
    int setZefInputBuf();
    int decode(char* out, int n);

    unsigned short frameBlock = 0;
    unsigned short refillLevel = 0;
    unsigned short lowLevel = 0;
    bool ownsData = false;
    int endReached = 0;
    long totalSize = 0;
    char* data = nullptr;
    long available = 0;
    long headerSize = 0;
    long readPos = 0;
    long received = 0;
    long capacity = 0;  // bytes allocated for a copied stream: grows with what arrives
};
