#include "shapevq.h"

#include <algorithm>
#include <cmath>

namespace pelnbooks {
namespace {

constexpr int kMaxBands = 15;
constexpr int kSplitRounds = 20;        // k-means rounds after each split
constexpr double kSplitStep = 0.05;     // perturbation, in standard deviations
constexpr int kSeedings = 8;            // further k-means starts per stage

struct SplitMix64 {
    uint64_t state;
    uint64_t next() {
        uint64_t z = (state += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
};

// Points are rows of `dim` doubles in one flat array.
using Rows = std::vector<double>;

double distance2(const double* a, const double* b, int dim) {
    double d = 0;
    for (int n = 0; n < dim; ++n) d += (a[n] - b[n]) * (a[n] - b[n]);
    return d;
}

int nearestRow(const Rows& centres, int count, const double* x, int dim, double* dist = nullptr) {
    int best = 0;
    double bestD = HUGE_VAL;
    for (int c = 0; c < count; ++c) {
        const double d = distance2(&centres[size_t(c * dim)], x, dim);
        if (d < bestD) bestD = d, best = c;
    }
    if (dist) *dist = bestD;
    return best;
}

// Plain k-means rounds; a centre left without points moves to the point
// farthest from its own centre.
void kmeans(const Rows& pts, int dim, Rows& centres, int count) {
    const size_t m = pts.size() / size_t(dim);
    std::vector<int> owner(m);
    for (int round = 0; round < kSplitRounds; ++round) {
        Rows sum(centres.size(), 0.0);
        std::vector<int> n(size_t(count), 0);
        size_t farthest = 0;
        double farD = -1;
        for (size_t i = 0; i < m; ++i) {
            double d;
            owner[i] = nearestRow(centres, count, &pts[i * size_t(dim)], dim, &d);
            if (d > farD) farD = d, farthest = i;
            ++n[size_t(owner[i])];
            for (int k = 0; k < dim; ++k) sum[size_t(owner[i] * dim + k)] += pts[i * size_t(dim) + size_t(k)];
        }
        for (int c = 0; c < count; ++c)
            for (int k = 0; k < dim; ++k)
                centres[size_t(c * dim + k)] = n[size_t(c)] ? sum[size_t(c * dim + k)] / n[size_t(c)]
                                                            : pts[farthest * size_t(dim) + size_t(k)];
    }
}

// kVectors centres by repeated splitting from the centroid.
Rows splitCentres(const Rows& pts, int dim, SplitMix64& rng) {
    const size_t m = pts.size() / size_t(dim);
    Rows mean(size_t(dim), 0.0), spread(size_t(dim), 0.0);
    for (size_t i = 0; i < m; ++i)
        for (int k = 0; k < dim; ++k) mean[size_t(k)] += pts[i * size_t(dim) + size_t(k)] / double(m);
    for (size_t i = 0; i < m; ++i)
        for (int k = 0; k < dim; ++k) spread[size_t(k)] += std::pow(pts[i * size_t(dim) + size_t(k)] - mean[size_t(k)], 2) / double(m);
    Rows centres = mean;
    for (int count = 1; count < kVectors; count *= 2) {
        Rows next;
        for (int c = 0; c < count; ++c)
            for (int sign : {1, -1})
                for (int k = 0; k < dim; ++k) {
                    const double p = (rng.next() >> 63) ? 1.0 : -1.0;
                    next.push_back(centres[size_t(c * dim + k)] + sign * p * kSplitStep * std::sqrt(spread[size_t(k)]));
                }
        centres = next;
        kmeans(pts, dim, centres, count * 2);
    }
    return centres;
}

// k-means++ seeding: each further centre is a point drawn with probability
// proportional to its squared distance from the nearest centre so far.
Rows seededCentres(const Rows& pts, int dim, SplitMix64& rng) {
    const size_t m = pts.size() / size_t(dim);
    auto uniform = [&rng] { return double(rng.next() >> 11) * 0x1.0p-53; };
    Rows centres;
    const size_t first = std::min(m - 1, size_t(uniform() * double(m)));
    centres.insert(centres.end(), pts.begin() + std::ptrdiff_t(first * size_t(dim)),
                   pts.begin() + std::ptrdiff_t((first + 1) * size_t(dim)));
    std::vector<double> d(m);
    for (int count = 1; count < kVectors; ++count) {
        double total = 0;
        for (size_t i = 0; i < m; ++i) {
            nearestRow(centres, count, &pts[i * size_t(dim)], dim, &d[i]);
            total += d[i];
        }
        double at = uniform() * total;
        size_t pick = 0;
        while (pick + 1 < m && (at -= d[pick]) > 0) ++pick;
        centres.insert(centres.end(), pts.begin() + std::ptrdiff_t(pick * size_t(dim)),
                       pts.begin() + std::ptrdiff_t((pick + 1) * size_t(dim)));
    }
    return centres;
}

double distortion(const Rows& pts, int dim, const Rows& centres) {
    double total = 0, d;
    for (size_t i = 0; i < pts.size() / size_t(dim); ++i) {
        nearestRow(centres, kVectors, &pts[i * size_t(dim)], dim, &d);
        total += d;
    }
    return total;
}

// The best of the split centres and kSeedings k-means++ starts, each
// refined by k-means: one start alone often merges two clusters.
Rows bestCentres(const Rows& pts, int dim, SplitMix64& rng) {
    Rows best = splitCentres(pts, dim, rng);
    double bestD = distortion(pts, dim, best);
    for (int start = 0; start < kSeedings; ++start) {
        Rows c = seededCentres(pts, dim, rng);
        kmeans(pts, dim, c, kVectors);
        const double d = distortion(pts, dim, c);
        if (d < bestD) bestD = d, best = c;
    }
    return best;
}

// Puts the vectors that have fixed values in place: each takes the centre
// nearest on its fixed bands, then those bands get their values.
void placeFixed(Rows& centres, int dim, int stage, const std::vector<FixedValue>& fixed) {
    std::vector<bool> claimed(kVectors, false);
    for (int v = 0; v < kVectors; ++v) {
        std::vector<FixedValue> mine;
        for (const FixedValue& f : fixed)
            if (f.stage == stage && f.vector == v) mine.push_back(f);
        if (mine.empty()) continue;
        int best = -1;
        double bestD = HUGE_VAL;
        for (int c = 0; c < kVectors; ++c) {
            if (claimed[size_t(c)]) continue;
            double d = 0;
            for (const FixedValue& f : mine) d += std::pow(centres[size_t(c * dim + f.band)] - f.value, 2);
            if (d < bestD) bestD = d, best = c;
        }
        std::swap_ranges(centres.begin() + v * dim, centres.begin() + (v + 1) * dim, centres.begin() + best * dim);
        claimed[size_t(v)] = true;
        for (const FixedValue& f : mine) centres[size_t(v * dim + f.band)] = f.value;
    }
}

Book initialBook(const std::vector<const float*>& targets, int B, const std::vector<FixedValue>& fixed,
                 const TrainOptions& o) {
    SplitMix64 rng{o.seed};
    Book book(B);
    Rows residual, sum(targets.size() * size_t(B), 0.0);
    for (const float* t : targets)
        for (int n = 0; n < B; ++n) residual.push_back(o.scale * t[n]);
    for (int s = 0; s < kStages; ++s) {
        Rows centres = bestCentres(residual, B, rng);
        placeFixed(centres, B, s, fixed);
        for (size_t i = 0; i < centres.size(); ++i) book.values[size_t(s * kVectors * B) + i] = float(centres[i]);
        // The next stage corrects what is left once the sum so far is
        // matched at its own level, as the decoder's normalisation does.
        for (size_t i = 0; i < targets.size(); ++i) {
            double* r = &residual[i * size_t(B)];
            double* v = &sum[i * size_t(B)];
            const int c = nearestRow(centres, kVectors, r, B);
            double gain = 0;
            for (int n = 0; n < B; ++n) gain += (v[n] += book.vec(s, c)[n]) / B;
            for (int n = 0; n < B; ++n) r[n] = gain * targets[i][n] - v[n];
        }
    }
    return book;
}

double assignAll(const Book& book, const std::vector<const float*>& targets, std::vector<Choice>& choices) {
    choices.resize(targets.size());
    double total = 0;
    for (size_t i = 0; i < targets.size(); ++i) {
        choices[i] = nearest(book, targets[i]);
        total += choices[i].error;
    }
    return targets.empty() ? 0.0 : total / double(targets.size());
}

// Each stage in turn: every vector becomes the mean of what its frames need
// from it, gain times target minus the other two stages' vectors.
void updateStages(Book& book, const std::vector<const float*>& targets, const std::vector<Choice>& choices,
                  const std::vector<bool>& held) {
    const int B = book.bands;
    for (int s = 0; s < kStages; ++s) {
        std::vector<double> sum(size_t(kVectors * B), 0.0);
        std::vector<int> count(kVectors, 0);
        for (size_t i = 0; i < targets.size(); ++i) {
            const Choice& c = choices[i];
            if (!c.found) continue;
            ++count[size_t(c.code[size_t(s)])];
            for (int n = 0; n < B; ++n) {
                double r = c.gain * targets[i][n];
                for (int o = 0; o < kStages; ++o)
                    if (o != s) r -= book.vec(o, c.code[size_t(o)])[n];
                sum[size_t(c.code[size_t(s)] * B + n)] += r;
            }
        }
        for (int v = 0; v < kVectors; ++v)
            for (int n = 0; n < B && count[size_t(v)]; ++n)
                if (!held[size_t((s * kVectors + v) * B + n)])
                    book.vec(s, v)[n] = float(sum[size_t(v * B + n)] / count[size_t(v)]);
    }
}

double assignAllFit(const Book& book, const Fits& fits, std::vector<Choice>& choices) {
    choices.resize(fits.size());
    double total = 0;
    for (size_t i = 0; i < fits.size(); ++i) {
        choices[i] = nearestFit(book, *fits[i]);
        total += choices[i].error;
    }
    return fits.empty() ? 0.0 : total / double(fits.size());
}

// Solves m x = rhs (n unknowns, m row-major n x n) by elimination with
// partial pivoting; false when singular.
bool solve(std::vector<double>& m, std::vector<double>& rhs, int n) {
    for (int c = 0; c < n; ++c) {
        int p = c;
        for (int r = c + 1; r < n; ++r)
            if (std::fabs(m[size_t(r * n + c)]) > std::fabs(m[size_t(p * n + c)])) p = r;
        if (!(std::fabs(m[size_t(p * n + c)]) > 1e-300)) return false;
        if (p != c) {
            for (int k = 0; k < n; ++k) std::swap(m[size_t(c * n + k)], m[size_t(p * n + k)]);
            std::swap(rhs[size_t(c)], rhs[size_t(p)]);
        }
        for (int r = c + 1; r < n; ++r) {
            const double f = m[size_t(r * n + c)] / m[size_t(c * n + c)];
            for (int k = c; k < n; ++k) m[size_t(r * n + k)] -= f * m[size_t(c * n + k)];
            rhs[size_t(r)] -= f * rhs[size_t(c)];
        }
    }
    for (int r = n - 1; r >= 0; --r) {
        double x = rhs[size_t(r)];
        for (int k = r + 1; k < n; ++k) x -= m[size_t(r * n + k)] * rhs[size_t(k)];
        rhs[size_t(r)] = x / m[size_t(r * n + r)];
    }
    return true;
}

// Each stage in turn: every vector u minimises the encoder's error over its
// frames, sum of (g^2 (u + rest)' G (u + rest) - 2 g (u + rest) . t) / N at
// each frame's matched scale g (rest: the other two stages' vectors),
// with a light pull towards its old value for bands its frames hardly see.
void updateStagesFit(Book& book, const Fits& fits, const std::vector<Choice>& choices, const std::vector<bool>& held) {
    const int B = book.bands;
    for (int s = 0; s < kStages; ++s) {
        std::vector<std::vector<double>> m(kVectors, std::vector<double>(size_t(B * B), 0.0));
        std::vector<std::vector<double>> rhs(kVectors, std::vector<double>(size_t(B), 0.0));
        std::vector<int> count(kVectors, 0);
        for (size_t i = 0; i < fits.size(); ++i) {
            const Choice& c = choices[i];
            if (!c.found) continue;
            const zef::peln::ShapeFit& f = *fits[i];
            const int v = c.code[size_t(s)];
            ++count[size_t(v)];
            const double w = 1.0 / f.harmonics, g = c.gain;
            double rest[kMaxBands];
            for (int n = 0; n < B; ++n) {
                rest[n] = 0;
                for (int o = 0; o < kStages; ++o)
                    if (o != s) rest[n] += book.vec(o, c.code[size_t(o)])[n];
            }
            for (int n = 0; n < B; ++n) {
                double grest = f.diag[n] * rest[n];
                if (n > 0) grest += f.off[n - 1] * rest[n - 1];
                if (n + 1 < B) grest += f.off[n] * rest[n + 1];
                rhs[size_t(v)][size_t(n)] += w * (g * f.target[n] - g * g * grest);
                m[size_t(v)][size_t(n * B + n)] += w * g * g * f.diag[n];
                if (n + 1 < B) {
                    m[size_t(v)][size_t(n * B + n + 1)] += w * g * g * f.off[n];
                    m[size_t(v)][size_t((n + 1) * B + n)] += w * g * g * f.off[n];
                }
            }
        }
        for (int v = 0; v < kVectors; ++v) {
            if (!count[size_t(v)]) continue;
            std::vector<double>& a = m[size_t(v)];
            std::vector<double>& b = rhs[size_t(v)];
            double trace = 0;
            for (int n = 0; n < B; ++n) trace += a[size_t(n * B + n)];
            const double ridge = 1e-3 * trace / B + 1e-12;
            float* u = book.vec(s, v);
            for (int n = 0; n < B; ++n) {
                a[size_t(n * B + n)] += ridge;
                b[size_t(n)] += ridge * u[n];
            }
            // A held value is an equation of its own: u[n] = value.
            for (int n = 0; n < B; ++n) {
                if (!held[size_t((s * kVectors + v) * B + n)]) continue;
                for (int r = 0; r < B; ++r) {
                    if (r == n) continue;
                    b[size_t(r)] -= a[size_t(r * B + n)] * u[n];
                    a[size_t(r * B + n)] = 0;
                }
                for (int k = 0; k < B; ++k) a[size_t(n * B + k)] = k == n ? 1.0 : 0.0;
                b[size_t(n)] = u[n];
            }
            if (!solve(a, b, B)) continue;
            for (int n = 0; n < B; ++n)
                if (!held[size_t((s * kVectors + v) * B + n)]) u[n] = float(b[size_t(n)]);
        }
    }
}

}  // namespace

Choice nearestFit(const Book& book, const zef::peln::ShapeFit& fit) {
    const int B = book.bands;
    Choice best;
    double bestScore = 0;
    if (fit.harmonics <= 0) return best;
    for (int i = 0; i < kVectors; ++i)
        for (int j = 0; j < kVectors; ++j) {
            float ab[kMaxBands];
            for (int n = 0; n < B; ++n) ab[n] = book.vec(0, i)[n] + book.vec(1, j)[n];
            for (int l = 0; l < kVectors; ++l) {
                float v[kMaxBands];
                for (int n = 0; n < B; ++n) v[n] = std::max(0.0f, ab[n] + book.vec(2, l)[n]);
                const double score = zef::peln::shapeScore(fit, v);
                if (score > bestScore) {
                    bestScore = score;
                    double vt = 0, vgv = 0;
                    for (int n = 0; n < B; ++n) {
                        vt += v[n] * fit.target[n];
                        vgv += fit.diag[n] * v[n] * v[n] + (n + 1 < B ? 2 * fit.off[n] * v[n] * v[n + 1] : 0.0);
                    }
                    best = {{i, j, l}, 1.0 - score / fit.harmonics, vt / vgv, true};
                }
            }
        }
    if (!best.found) best.error = 1.0;
    return best;
}

double meanFitError(const Book& book, const Fits& fits) {
    std::vector<Choice> choices;
    return assignAllFit(book, fits, choices);
}

Choice nearest(const Book& book, const float* target) {
    const int B = book.bands;
    Choice best;
    best.error = HUGE_VAL;
    for (int i = 0; i < kVectors; ++i)
        for (int j = 0; j < kVectors; ++j) {
            float ab[kMaxBands];
            for (int n = 0; n < B; ++n) ab[n] = book.vec(0, i)[n] + book.vec(1, j)[n];
            for (int l = 0; l < kVectors; ++l) {
                float v[kMaxBands];
                double sum = 0;
                for (int n = 0; n < B; ++n) {
                    v[n] = std::max(0.0f, ab[n] + book.vec(2, l)[n]);
                    sum += v[n];
                }
                if (!(sum > 0)) continue;
                double err = 0;
                for (int n = 0; n < B; ++n) {
                    const double d = v[n] * B / sum - target[n];
                    err += d * d;
                }
                if (err < best.error) best = {{i, j, l}, err, sum / B, true};
            }
        }
    if (!best.found) best.error = 0;
    return best;
}

double meanError(const Book& book, const std::vector<const float*>& targets) {
    std::vector<Choice> choices;
    return assignAll(book, targets, choices);
}

int silentCombinations(const Book& book) {
    int silent = 0;
    for (int c = 0; c < kCombinations; ++c) {
        bool sounds = false;
        for (int n = 0; n < book.bands; ++n)
            sounds |= book.vec(0, c / 64)[n] + book.vec(1, c / 8 % 8)[n] + book.vec(2, c % 8)[n] > 0.0f;
        silent += !sounds;
    }
    return silent;
}

Book trainBook(const std::vector<const float*>& targets, int bands, const std::vector<FixedValue>& fixed,
               const TrainOptions& options, TrainReport* report, const Fits* fits) {
    Book book = initialBook(targets, bands, fixed, options);
    std::vector<bool> held(book.values.size(), false);
    for (const FixedValue& f : fixed) held[size_t((f.stage * kVectors + f.vector) * bands + f.band)] = true;
    auto assign = [&](std::vector<Choice>& c) {
        return fits ? assignAllFit(book, *fits, c) : assignAll(book, targets, c);
    };
    std::vector<Choice> choices;
    double err = assign(choices);
    Book best = book;
    TrainReport r{err, err, 0};
    for (int it = 1; it <= options.iterations; ++it) {
        if (fits) updateStagesFit(book, *fits, choices, held);
        else updateStages(book, targets, choices, held);
        err = assign(choices);
        if (err < r.finalError) best = book, r.finalError = err, r.bestIteration = it;
    }
    if (report) *report = r;
    return best;
}

}  // namespace pelnbooks
