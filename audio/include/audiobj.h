// AudioObj: the player's audio device.  Opens the device without blocking
// (a device held elsewhere fails at once), sets the play format from a
// sound's description, writes PCM, and uses the device's play state for
// pause, volume, flushing and the end-of-data marker counter by which the
// player knows how much has been heard.  Every setting goes through the one
// audio_info record kept in the object.
#pragma once

#include "sndsoundstruct.h"
#include "zefaudio.h"

class AudioObj {
public:
    explicit AudioObj(const char* path);
    virtual ~AudioObj();
    AudioObj(const AudioObj&) = delete;
    AudioObj& operator=(const AudioObj&) = delete;

    // 0 while the device is open, -4 when it is not.
    int getState();
    // 0, or -4 when the device cannot be opened (busy or missing);
    // openError() then tells why (EBUSY when another holds it).
    int openDevice();
    int openError() const { return openErrno; }
    void closeDevice();
    // Play format from the sound: rate, channels, precision by dataFormat
    // (2, 3, 4, 5: 8, 16, 24, 32 bits; other formats keep the device's),
    // linear encoding, gain 127 (or the level the user chose with
    // setVolume, which lasts as long as this object), every output port.  0, 1 on failure, or
    // the device state when it is not open.
    int setAudioInfo(SNDSoundStruct& snd);
    // Writes n bytes (0: an end-of-data marker), opening the device first if
    // need be.  0; 1 when the write fails; -3 when the device cannot be opened.
    int playSegment(char* buf, int n);
    // End-of-data markers played since the counter was last set; -1 on failure.
    int getNumOfPlayMarker();
    // Sample frames played since the device was opened; -1 on failure.
    long getPlayedSamples();
    int setNumOfPlayMarker(int n);
    int Pause();
    int Resume();
    int isPaused();
    int setWaiting();
    // Gain up (+1) or down (-1) by volumeStep, kept within 0..255.
    int setVolume(int direction);
    int getMonitorGain();
    // Discards what is queued and restarts the marker counter at 0.
    int flushOutput();
    // info to and from the device; 1 when it is not open or refuses.
    int setControl();
    int getControl();
    int saveAudioInfo();
    int restoreAudioInfo();

    static short Debug;        // set when AUDIOBJ is in the environment
    static int id;             // instance counter
    static const char* classid;

private:
    void resetInfo();
    void trace(const char* operation, int result) const;

    char* devicePath;
    int audioFd = -1;
    int volumeStep = 7;
    uint32_t playGain = 127;  // the level setAudioInfo gives the device
    int openErrno = 0;
    audio_info_t info{};
    audio_info_t savedInfo{};
    int deviceState = 0;
    int objId;
};
