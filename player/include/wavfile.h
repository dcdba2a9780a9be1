// A PCM WAVE file: described through the codec library; its samples are not
// read (readSegment delivers nothing, getSoundAttr(out) reports failure).
#pragma once

#include "audiofile.h"

class WavFile : public AudioFile {
public:
    static short Debug;
    static const char* const classid;

    WavFile(const char* name, const char* mode);
    ~WavFile() override;

    const char* getClassId() override;
    int readSegment(char* buf, int n) override;
    // Seeks to fraction of the file, never splitting a 16-bit sample.
    int setLocation(float fraction) override;
    int getSoundAttr(SNDSoundStruct* out) override;

    // Fills the object's own description; 1 when the file cannot be described.
    int getSoundAttr();
    const SNDSoundStruct* attributes() const { return sndAttr; }

protected:
    char* fileNameCopy = nullptr;
};
