// Trainer of the Peln decoder's spectral-shape codebooks.
//
//   pelncodebooks_train [--iterations N] [--eval PATH]... [--command TEXT]
//                       [--origin TEXT] PATH... > pelncodebooks.cpp
//
// PATH and --eval PATH are 8000 Hz 16-bit mono WAVE files or directories of
// them.  The encoder's own analysis runs over every file and gives, for each
// frame above its silence threshold, the voicing class and the measured band
// shape; per class a three-stage book of 8 vectors per stage is trained on
// them (shapevq.h): split from the band shapes, then refined to minimise
// the error that the encoder's shape search itself scores on each frame's
// harmonics.  A class with fewer than kMinFrames frames trains on the
// frames of its nearest classes with the same band layout as well.
// Class 0's opening values (stage 1 vector 0: 0.3211426, 0.31624857,
// 0.2522126, 0.36141238; stage 2 vector 0: -0.023341214, -0.005232274) are
// fixed and held through training; stage-1 vectors are kept at a mean of
// about 0.3, the level those values belong to (the decoder normalises every
// sum, so the level is otherwise free).
//
// The books go to standard output in the layout the decoder links; the
// figures (frames per class; for the linked books and the new ones, the
// encoder's fit error and the mean squared band-shape error, on the
// training frames and on the frames of each --eval PATH apart) go to
// standard error.  Fails when a book has a combination that is zero at
// every band, or a value that is not finite.  train.sh runs it on the
// committed speech recipe.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "pelncodebooks.h"
#include "shapevq.h"
#include "speechframes.h"

namespace {

using namespace pelnbooks;
using zef::peln::BarkCntl;
using zef::peln::kVoicingClasses;

constexpr size_t kMinFrames = 200;
constexpr uint64_t kSeed = 0x50656c6e626f6f6bull;  // "Pelnbook"

const std::vector<FixedValue> kClass0Fixed = {
    {0, 0, 0, 0.3211426f}, {0, 0, 1, 0.31624857f}, {0, 0, 2, 0.2522126f}, {0, 0, 3, 0.36141238f},
    {1, 0, 0, -0.023341214f}, {1, 0, 1, -0.005232274f},
};

const char kUsage[] =
    "usage: pelncodebooks_train [--iterations N] [--eval PATH]... [--command TEXT] [--origin TEXT] PATH...\n";

struct Options {
    std::vector<std::string> train, eval;
    int iterations = 40;
    std::string command, origin = "the given files";
};

int bandsOf(int k) { return int(BarkCntl[k].bands); }

bool sameLayout(int a, int b) {
    return BarkCntl[a].bands == BarkCntl[b].bands && BarkCntl[a].warp == BarkCntl[b].warp &&
           BarkCntl[a].topHz == BarkCntl[b].topHz;
}

using ByClass = std::vector<std::vector<const float*>>;

using FitsByClass = std::vector<Fits>;

struct Material {
    std::vector<ShapeSample> samples;
    ByClass byClass = ByClass(kVoicingClasses);
    FitsByClass fits = FitsByClass(kVoicingClasses);
    size_t files = 0;
};

void load(const std::vector<std::string>& paths, Material& m) {
    const std::vector<std::string> files = listWaveFiles(paths);
    for (const std::string& f : files) collectShapes(readWave8k16Mono(f), m.samples);
    m.files = files.size();
    for (const ShapeSample& s : m.samples) {
        m.byClass[size_t(s.voicingClass)].push_back(s.bands);
        m.fits[size_t(s.voicingClass)].push_back(&s.fit);
    }
}

// The class's own frames, then whole classes of the same layout by distance
// (lower first on ties) until there are kMinFrames.
template <class T>
std::vector<T> framesFor(const std::vector<std::vector<T>>& byClass, int k, std::string* borrowed) {
    std::vector<T> frames = byClass[size_t(k)];
    for (int d = 1; d < kVoicingClasses && frames.size() < kMinFrames; ++d)
        for (int n : {k - d, k + d})
            if (n >= 0 && n < kVoicingClasses && sameLayout(n, k) && frames.size() < kMinFrames) {
                frames.insert(frames.end(), byClass[size_t(n)].begin(), byClass[size_t(n)].end());
                *borrowed += " " + std::to_string(n);
            }
    return frames;
}

Book linkedBook(int k) {
    Book b(bandsOf(k));
    std::copy(zef::peln::kShapeBooks[k], zef::peln::kShapeBooks[k] + b.values.size(), b.values.begin());
    return b;
}

bool sound(const Book& b, int k) {
    for (float x : b.values)
        if (!std::isfinite(x)) {
            std::fprintf(stderr, "class %d: a value is not finite\n", k);
            return false;
        }
    if (const int silent = silentCombinations(b)) {
        std::fprintf(stderr, "class %d: %d combinations are zero at every band\n", k, silent);
        return false;
    }
    return true;
}

// Frame-weighted mean errors of the linked and the new books: the
// encoder's fit error and the band-shape error.
void compare(const char* what, const Material& m, const std::vector<Book>& books) {
    double before[2] = {}, after[2] = {};
    size_t frames = 0;
    std::fprintf(stderr, "%s: class frames fit-linked fit-new shape-linked shape-new\n", what);
    for (int k = 0; k < kVoicingClasses; ++k) {
        const auto& f = m.byClass[size_t(k)];
        if (f.empty()) continue;
        const double n = double(f.size());
        const double b[2] = {meanFitError(linkedBook(k), m.fits[size_t(k)]), meanError(linkedBook(k), f)};
        const double a[2] = {meanFitError(books[size_t(k)], m.fits[size_t(k)]), meanError(books[size_t(k)], f)};
        std::fprintf(stderr, "  %2d %6zu %8.4f %8.4f %8.4f %8.4f\n", k, f.size(), b[0], a[0], b[1], a[1]);
        for (int e = 0; e < 2; ++e) before[e] += b[e] * n, after[e] += a[e] * n;
        frames += f.size();
    }
    const char* names[2] = {"fit error", "shape error"};
    for (int e = 0; e < 2 && frames; ++e)
        std::fprintf(stderr, "%s: %zu frames, mean %s linked %.4f, new %.4f (%.1f%% lower)\n", what, frames, names[e],
                     before[e] / double(frames), after[e] / double(frames), 100.0 * (1.0 - after[e] / before[e]));
}

// Shortest text that reads back as the same float.
std::string literal(float x) {
    char text[32];
    for (int digits = 1; digits <= 9; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, double(x));
        if (std::strtof(text, nullptr) == x) break;
    }
    std::string s = text;
    if (s.find_first_of(".e") == std::string::npos) s += ".0";
    return s + "f";
}

std::string bookName(int k) { return "Amp" + std::to_string(k) + (bandsOf(k) == 15 ? "_3x3x15" : "_3x3x10"); }

void printBook(int k, const Book& book, size_t frames, const std::string& borrowed) {
    const zef::peln::BarkRow& r = BarkCntl[k];
    std::printf("// Class %d: %d bands at", k, book.bands);
    for (int n = 1; n <= book.bands; ++n) std::printf(" %.0f", r.topHz * std::sinh(n / r.warp) / std::sinh(r.bands / r.warp));
    std::printf(" Hz; %zu training frames%s%s.\n", frames, borrowed.empty() ? "" : ", with those of classes",
                borrowed.c_str());
    std::printf("const float %s[%s] = {\n", bookName(k).c_str(), book.bands == 15 ? "kLongBook" : "kShortBook");
    for (int s = 0; s < kStages; ++s) {
        std::printf("    // stage %d\n", s + 1);
        for (int v = 0; v < kVectors; ++v) {
            std::printf("   ");
            for (int n = 0; n < book.bands; ++n) std::printf(" %s,", literal(book.vec(s, v)[n]).c_str());
            std::printf("\n");
        }
    }
    std::printf("};\n\n");
}

bool parse(int argc, char** argv, Options& o) {
    std::string command = "pelncodebooks_train";
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool takesValue = a == "--iterations" || a == "--eval" || a == "--command" || a == "--origin";
        if (takesValue && i + 1 >= argc) return false;
        if (a == "--iterations") {
            char* end = nullptr;
            o.iterations = int(std::strtol(argv[++i], &end, 10));
            if (*end || o.iterations < 0 || o.iterations > 1000) return false;
        } else if (a == "--eval") {
            o.eval.push_back(argv[++i]);
        } else if (a == "--command") {
            o.command = argv[++i];
            continue;
        } else if (a == "--origin") {
            o.origin = argv[++i];
            continue;
        } else if (a.starts_with("-")) {
            return false;
        } else {
            o.train.push_back(a);
        }
        command += " " + a;
        if (takesValue) command += std::string(" ") + argv[i];
    }
    if (o.command.empty()) o.command = command;
    return !o.train.empty();
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    try {
        Material train;
        load(o.train, train);
        std::vector<Material> evals(o.eval.size());
        for (size_t i = 0; i < o.eval.size(); ++i) load({o.eval[i]}, evals[i]);
        std::fprintf(stderr, "training on %zu frames from %zu files\n", train.samples.size(), train.files);
        std::vector<Book> books;
        std::vector<size_t> used;
        std::vector<std::string> borrowed(kVoicingClasses);
        for (int k = 0; k < kVoicingClasses; ++k) {
            const std::vector<const float*> frames = framesFor(train.byClass, k, &borrowed[size_t(k)]);
            std::string same;
            const Fits fits = framesFor(train.fits, k, &same);
            if (frames.empty()) throw std::runtime_error("no frames for voicing class " + std::to_string(k));
            TrainOptions t;
            t.iterations = o.iterations;
            t.seed = kSeed + uint64_t(k);
            TrainReport r;
            books.push_back(trainBook(frames, bandsOf(k), k == 0 ? kClass0Fixed : std::vector<FixedValue>{}, t, &r,
                                    &fits));
            used.push_back(frames.size());
            std::fprintf(stderr, "class %2d: %6zu frames%s, error initial %.4f, trained %.4f (round %d)\n", k,
                         frames.size(), borrowed[size_t(k)].empty() ? "" : (" (with" + borrowed[size_t(k)] + ")").c_str(),
                         r.initialError, r.finalError, r.bestIteration);
            if (!sound(books.back(), k)) return 1;
        }
        compare("training frames", train, books);
        for (size_t i = 0; i < evals.size(); ++i)
            compare(("evaluation frames of " + o.eval[i]).c_str(), evals[i], books);

        std::printf("// Generated by %s; do not edit.\n", o.command.c_str());
        std::printf(
            "// Spectral-shape codebooks of the Peln decoder: stage 1 mean shapes, stages 2 and 3 corrections,\n"
            "// trained (%d rounds) to the encoder's harmonic fit on %zu frames of speech:\n"
            "// %s.\n"
            "#include \"pelncodebooks.h\"\n\nnamespace zef::peln {\n\n",
            o.iterations, train.samples.size(), o.origin.c_str());
        for (int k = 0; k < kVoicingClasses; ++k) printBook(k, books[size_t(k)], used[size_t(k)], borrowed[size_t(k)]);
        std::printf("const float* const kShapeBooks[kVoicingClasses] = {\n");
        for (int k = 0; k < kVoicingClasses; ++k) std::printf("    %s,\n", bookName(k).c_str());
        std::printf("};\n\n}  // namespace zef::peln\n");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pelncodebooks_train: %s\n", e.what());
        return 1;
    }
    return 0;
}
