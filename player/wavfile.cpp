#include "wavfile.h"

#include <cstdlib>
#include <cstring>

#include "auconvert.h"

short WavFile::Debug = std::getenv("WAVFILE") != nullptr;
const char* const WavFile::classid = "WavFile";

WavFile::WavFile(const char* fileName, const char* fileMode) : AudioFile(fileName, fileMode) {
    if (fileName) fileNameCopy = strdup(fileName);
    if (state != 0) return;
    getSoundAttr();
}

WavFile::~WavFile() { std::free(fileNameCopy); }

const char* WavFile::getClassId() { return classid; }

// The file is named as a PCM WAVE file, so that the library opens and parses it.
int WavFile::getSoundAttr() {
    if (!auCvt || !fileNameCopy) return 1;
    return auCvt->getWaveSoundAttr(fileNameCopy, sndAttr) ? 1 : 0;
}

// Describes the sound but reports failure: its samples cannot be read.
int WavFile::getSoundAttr(SNDSoundStruct* out) {
    if (state != 1 && out && sndAttr) std::memcpy(out, sndAttr, sizeof *out);
    return 1;
}

int WavFile::readSegment(char*, int) { return 0; }

int WavFile::setLocation(float fraction) {
    if (!(fraction >= 0.0f && fraction <= 1.0f)) return 1;
    long position = long(double(getFileSize()) * double(fraction));
    position -= position % 2;
    return setFileLocation(position) ? 1 : 0;
}
