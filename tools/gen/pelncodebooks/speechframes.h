// Training material of the shape-codebook trainer: the band shapes that the
// Peln encoder measures on speech, with the voicing class of each frame.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pelnenc.h"

namespace pelnbooks {

// One frame's measured band shape (mean 1 over the class's bands) and the
// harmonic fit that the encoder's shape search scores.
struct ShapeSample {
    int voicingClass;
    float bands[zef::peln::kMaxBands];
    zef::peln::ShapeFit fit;  // the encoder's score of a shape for this frame
};

// The .wav files named by `paths`: a directory stands for every *.wav in it
// (not its subdirectories), sorted by name, a file for itself; in the order
// of `paths`, each file once.  The order (which the trained books depend
// on) is the same whatever the file system and wherever the directories
// are.  Throws std::runtime_error when a path cannot be read.
std::vector<std::string> listWaveFiles(const std::vector<std::string>& paths);

// Samples of an 8000 Hz, 16-bit, mono PCM WAVE file.  Throws
// std::runtime_error with the file's name and the reason when the file is
// malformed, truncated or of another format.
std::vector<int16_t> readWave8k16Mono(const std::string& path);

// Runs the encoder's analysis over `pcm` (a fresh encoder, whole frames) and
// appends the shape of every frame louder than about -75 dBFS.
void collectShapes(const std::vector<int16_t>& pcm, std::vector<ShapeSample>& out);

}  // namespace pelnbooks
