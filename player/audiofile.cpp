#include "audiofile.h"

#include <cstdlib>

#include "auconvert.h"

short AudioFile::Debug = std::getenv("AUDIOFILE") != nullptr;
const char* const AudioFile::classid = "AudioFile";

AudioFile::AudioFile() {
    sndAttr = new SNDSoundStruct{};
    initAuCvt();
}

AudioFile::AudioFile(const char* fileName, const char* fileMode) : RegFile(fileName, fileMode) {
    if (status == 1) {
        state = 1;
        return;
    }
    sndAttr = new SNDSoundStruct{};
    initAuCvt();
}

AudioFile::~AudioFile() {
    delete sndAttr;
    delete auCvt;
}

int AudioFile::initAuCvt() {
    delete auCvt;
    auCvt = new AuConvert;
    state = auCvt->getErrorState() != 0 ? 1 : 0;
    return state;
}

void AudioFile::initFirstRead() {}

int AudioFile::setReadLocation(long) { return 0; }

void AudioFile::setWarpValue(float) {}

float AudioFile::getWarpValue() { return 1.0f; }

void AudioFile::setUserData(uintptr_t) {}

void AudioFile::addAudioCallback(KELVANE_CALLBACK) {}

int AudioFile::getHeaderSize() { return 0; }

long AudioFile::getZefSize(const char*) { return 0; }

int AudioFile::getState() { return state; }

void AudioFile::setNetStreamFlag() { netStream = 1; }

int AudioFile::getNetStreamFlag() { return netStream; }

int AudioFile::playMore(const char*, int) { return 1; }
