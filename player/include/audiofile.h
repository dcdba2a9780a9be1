// The abstract interface through which the player reads any sound, buffer
// by buffer.  Concrete kinds: ZefFile, ZefBuf (coded speech), SndFile and
// WavFile (PCM files, described but not read).
#pragma once

#include <cstdint>

#include "mirlane.h"
#include "regfile.h"
#include "sndsoundstruct.h"

class AuConvert;

class AudioFile : public RegFile {
public:
    static short Debug;
    static const char* const classid;

    // readSegment's answers besides a positive byte count.
    static constexpr int kEndOfData = 0;
    static constexpr int kNoMoreData = -1;  // nothing now and nothing will follow
    static constexpr int kNoDataYet = -2;   // a stream that may still grow

    AudioFile();
    AudioFile(const char* name, const char* mode);
    ~AudioFile() override;

    virtual int initAuCvt();
    virtual void initFirstRead();
    virtual int setReadLocation(long pos);
    virtual void setWarpValue(float factor);
    virtual float getWarpValue();
    // The codec's frame callback finds this value in dwUserData: wide
    // enough for a pointer (the player keeps itself there).
    virtual void setUserData(uintptr_t data);
    virtual void addAudioCallback(KELVANE_CALLBACK callback);
    // A positive count of PCM bytes, kEndOfData, kNoMoreData or kNoDataYet.
    virtual int readSegment(char* buf, int n) = 0;
    virtual int setLocation(float fraction) = 0;
    virtual int getSoundAttr(SNDSoundStruct* out) = 0;
    virtual int getHeaderSize();
    virtual long getZefSize(const char* name);
    virtual int getState();
    virtual void setNetStreamFlag();
    virtual int getNetStreamFlag();
    // 0 when the data was taken, 1 when this file cannot take more.
    virtual int playMore(const char* buf, int n);

    void setUserData(const void* pointer) { setUserData(reinterpret_cast<uintptr_t>(pointer)); }
    AuConvert* converter() { return auCvt; }

protected:
    SNDSoundStruct* sndAttr = nullptr;
    AuConvert* auCvt = nullptr;
    int netStream = 0;
    int state = 0;  // 0 usable, 1 failed
};
