// The one place where the player's file classes talk to the codec library:
// a streaming decompression session kept across re-initialisations with the
// player's settings, the translation between the library's descriptions and
// SNDSoundStruct, and whole-file conversions between coded speech, raw PCM
// and Sun audio files.
#pragma once

#include <cstdint>

#include "mirlane.h"
#include "sndsoundstruct.h"

// Raw PCM as a file holds it: 16-bit samples in host order, 8-bit samples
// unsigned.  sampleSize is the Sun encoding (kSndLinear8, kSndLinear16).
struct PCMAttr {
    long dataSize = 0;
    unsigned short sampleSize = 0;
    unsigned long samplingRate = 0;
    unsigned short channels = 0;
};

class AuConvert {
public:
    static short Debug;
    static int id;

    AuConvert();
    virtual ~AuConvert();
    AuConvert(const AuConvert&) = delete;
    AuConvert& operator=(const AuConvert&) = delete;

    // Whole-file conversions and descriptions: 0 success, 1 failure.
    virtual int Raw2Sound(const char* raw, PCMAttr& attr, const char* snd);
    virtual int Sound2Raw(const char* snd, const char* raw, PCMAttr* attr);
    virtual int Zef2Sound(const char* zef, const char* snd);
    // Compress a Sun audio file (through a raw PCM file beside zef) into a
    // coded WAVE file with the default codec.
    virtual int Sound2Zef(const char* snd, const char* zef);
    // A coded file described through the library; flag 256 names a file.
    virtual int getSoundAttr(const char* name, unsigned long flag, SNDSoundStruct* out);
    // The mapping tables.
    virtual unsigned short getZefSize(unsigned short sunEncoding);
    virtual unsigned long getZefRate(unsigned long rate);
    virtual unsigned long getSoundSize(unsigned short bytesPerSample);
    virtual unsigned long getSoundRate(unsigned long rate);
    // A raw PCM file described by attr and its size on disk.
    virtual int getSoundAttr(const char* name, PCMAttr& attr, SNDSoundStruct* out);
    // Creates file holding the record as a big-endian Sun audio header.
    virtual int catAttr(const SNDSoundStruct& snd, const char* file);
    virtual int appendFile(const char* from, long end, const char* to);
    // Appends bytes start .. end of from to the file to.
    virtual int appendFile(const char* from, long end, long start, const char* to);
    virtual int appBufToFile(const char* buf, long n, const char* file);
    virtual int GetZefFileInfo(const char* name, ZEF_FILE_INFO* info, unsigned long flag);

    int Zef2Raw(const char* zef, const char* raw, PCMAttr* attr);
    // Compress a PCM WAVE file (Orvo), or a raw mono PCM file described by
    // attr (the default codec), into a coded WAVE file: 0, or 1 with the
    // library's codes kept below.
    int Wav2Zef(const char* wav, const char* zef);
    int Raw2Zef(const char* raw, PCMAttr& attr, const char* zef);
    // The same descriptions for coded speech held in memory.
    int GetZefBufferInfo(const char* data, unsigned long size, ZEF_FILE_INFO* info);
    int getBufferSoundAttr(const char* data, unsigned long size, SNDSoundStruct* out);
    // A PCM WAVE file, and a Sun audio file from its own header.
    int getWaveSoundAttr(const char* name, SNDSoundStruct* out);
    int getSunSoundAttr(const char* name, SNDSoundStruct* out);

    // Settings: each sets the live session and survives initBufZefData.
    void setZefCallback(KELVANE_CALLBACK callback);
    void setZefUserData(uintptr_t data);
    void setWarpFactor(float factor);
    void setRate(unsigned long rate);
    void setSize(unsigned long bytesPerSample);
    float getWarpFactor() const { return savedWarp; }

    // Streaming decompression: (input, input size in/out, output, output
    // size in/out); 0 success, 1 failure with the codes kept below.
    void initBufZefData();
    int initBufZef2Raw(char* in, int* inSize, char* out, int* outSize);
    // The session's sound to the audio device.
    int initBufZef2Speaker(char* in, int* inSize, char* out, int* outSize);
    // Plays to the device: the frames at in on a session of
    // initBufZef2Speaker, else a whole Zef WAVE file at in.
    int playZefData(char* in, int* inSize);
    int initZefDcmp(char* in, int* inSize, char* out, int* outSize);
    int bufZefConvert(char* out, int* outSize);
    int bufZefConvert(char* in, int* inSize, char* out, int* outSize);
    int freeZefDcmp();
    int setSecondaryErr(const KELVANE_DATA& data);
    bool sessionOpen() const { return zefData.lpControlBlock != nullptr; }
    // Points the open session at new input, read from position used.
    void setZefInput(char* in, unsigned long size, unsigned long used);
    void setZefInputSize(unsigned long size) { zefData.dwInputSize = uint32_t(size); }
    unsigned long inputBytesUsed() const { return zefData.dwInputBytesUsed; }
    // 91 when the last conversion used up its input, 92 when its output filled.
    unsigned long lastSignal() const { return zefData.dwSecondaryError; }
    // Bytes of the smallest group of coded frames ending on a byte boundary.
    unsigned short frameBlock() const;
    const KELVANE_DATA& session() const { return zefData; }

    unsigned short getPrimaryError() const { return primaryError; }
    unsigned short getSecondaryError() const { return secondaryError; }
    int getErrorState() const { return errorState; }
    unsigned long getTotalFrames() const { return totalFrames; }
    int getObjId() const { return objId; }

private:
    enum class SampleOrder { Bytes, HostToSun, SunToHost };
    int copyRange(const char* from, long start, long end, const char* to, SampleOrder order, unsigned sunEncoding);
    int describe(const void* location, uint32_t type, unsigned long size, ZEF_FILE_INFO* info);
    void fillFromInfo(const ZEF_FILE_INFO& fi, SNDSoundStruct* out);
    int decodeToDescriptor(const char* zef, int fd, PCMAttr* attr);
    int compress(KELVANE_DATA& kd, const char* zef);

    ZEF_STARTUP startupRecord{};
    KELVANE_DATA zefData{};
    ZEF_FILE_INFO fileInfo{};
    KELVANE_CALLBACK savedCallback = nullptr;
    uintptr_t savedUserData = 0;
    float savedWarp = 1.0f;
    unsigned long savedRate = 0;
    unsigned long savedSize = 0;
    unsigned long totalFrames = 0;
    unsigned long lastInputUsed = 0;
    unsigned long lastOutputUsed = 0;
    unsigned short primaryError = 0;
    unsigned short secondaryError = 0;
    int errorState = 0;
    int objId = 0;
    bool started = false;  // this converter holds a start of the library
};

static_assert(sizeof(ZEF_STARTUP) == ZEF_STARTUP_SIZE);
static_assert(sizeof(ZEF_FILE_INFO) == ZEF_FILE_INFO_SIZE);
