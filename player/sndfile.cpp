#include "sndfile.h"

#include <cstdlib>
#include <cstring>

#include "auconvert.h"

short SndFile::Debug = std::getenv("SNDFILE") != nullptr;
const char* const SndFile::classid = "SndFile";

SndFile::SndFile(const char* fileName, const char* fileMode) : AudioFile(fileName, fileMode) {
    if (fileName) fileNameCopy = strdup(fileName);
    if (state != 0) return;
    getSoundAttr();
}

SndFile::~SndFile() { std::free(fileNameCopy); }

const char* SndFile::getClassId() { return classid; }

// Sun audio files are outside the codec library: the header is read here.
int SndFile::getSoundAttr() {
    if (!auCvt || !fileNameCopy) return 1;
    return auCvt->getSunSoundAttr(fileNameCopy, sndAttr) ? 1 : 0;
}

// Describes the sound but reports failure: its samples cannot be read.
int SndFile::getSoundAttr(SNDSoundStruct* out) {
    if (state != 1 && out && sndAttr) std::memcpy(out, sndAttr, sizeof *out);
    return 1;
}

int SndFile::readSegment(char*, int) { return 0; }

int SndFile::setLocation(float fraction) {
    if (!(fraction >= 0.0f && fraction <= 1.0f)) return 1;
    long position = long(double(getFileSize()) * double(fraction));
    position -= position % 2;
    return setFileLocation(position) ? 1 : 0;
}
