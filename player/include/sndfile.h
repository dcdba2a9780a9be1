// A Sun audio file: described from its header; its samples are not read
// (readSegment delivers nothing, getSoundAttr(out) reports failure).
#pragma once

#include "audiofile.h"

class SndFile : public AudioFile {
public:
    static short Debug;
    static const char* const classid;

    SndFile(const char* name, const char* mode);
    ~SndFile() override;

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
