// Three-stage residual vector quantiser of band shapes, searched and trained
// in the decoder's domain: the three chosen vectors are added and negative
// band values become 0.  Two measures of a sum: against a frame's band shape
// (normalised to mean 1, squared error), and against the frame's harmonics
// through the encoder's own score (shapeScore), which is what the encoder
// maximises when it picks a shape.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "pelnenc.h"

namespace pelnbooks {

constexpr int kStages = 3;
constexpr int kVectors = 8;
constexpr int kCombinations = kVectors * kVectors * kVectors;

// One voicing class's book: stage after stage, vector after vector, `bands`
// values each (the decoder's layout).
struct Book {
    int bands = 0;
    std::vector<float> values;

    explicit Book(int b = 0) : bands(b), values(std::size_t(kStages * kVectors * b), 0.0f) {}
    float* vec(int stage, int v) { return &values[std::size_t((stage * kVectors + v) * bands)]; }
    const float* vec(int stage, int v) const { return &values[std::size_t((stage * kVectors + v) * bands)]; }
};

// A book value that training must leave as it is.
struct FixedValue {
    int stage, vector, band;
    float value;
};

struct Choice {
    std::array<int, kStages> code{};
    double error = 0;  // squared error of the normalised sum against the target
    double gain = 0;   // mean of the clipped sum: the scale at which it matched
    bool found = false;
};

// The best of the 512 combinations for `target` (mean-1 shape of
// book.bands values); the first one on ties, in code order.  A combination
// whose clipped sum is zero everywhere is never chosen.
Choice nearest(const Book& book, const float* target);

// Mean of nearest().error over the targets (0 for none).
double meanError(const Book& book, const std::vector<const float*>& targets);

// The combination the encoder picks for a frame: the best shapeScore of
// the clipped sum against `fit`, the first on ties.  error is the share of
// the frame's weighted squared error left at the best scale,
// 1 - score / harmonics; gain is that scale.  Not found for a frame with
// nothing to fit or no combination that scores.
Choice nearestFit(const Book& book, const zef::peln::ShapeFit& fit);

// Mean of nearestFit().error over the frames (0 for none).
using Fits = std::vector<const zef::peln::ShapeFit*>;
double meanFitError(const Book& book, const Fits& fits);

// How many of the 512 combinations have a clipped sum of zero at every band
// (the decoder has no shape for them).
int silentCombinations(const Book& book);

struct TrainOptions {
    int iterations = 40;      // joint search and update rounds
    double scale = 0.3;       // mean band value of the stage-1 vectors
    uint64_t seed = 1;        // of the splitting perturbations
};

struct TrainReport {
    double initialError = 0;  // mean error of the initial (split) book
    double finalError = 0;    // of the returned book
    int bestIteration = 0;    // round whose update gave the returned book
};

// Trains a book for `targets` (each `bands` values): stage by stage
// splitting from the targets' centroid, then rounds of joint search and
// per-stage centroid updates (each stage's vectors become the mean residual
// that the two other stages leave, at the matched gain).  The `fixed`
// values are in place from the start and held through every update.
// Returns the book with the lowest mean error seen.  Deterministic.
// With `fits` (one per target), the rounds search as the encoder does and
// update each vector to minimise the encoder's error at the matched scales
// (a small linear system per vector); errors are then meanFitError's.
Book trainBook(const std::vector<const float*>& targets, int bands, const std::vector<FixedValue>& fixed,
               const TrainOptions& options, TrainReport* report, const Fits* fits = nullptr);

}  // namespace pelnbooks
