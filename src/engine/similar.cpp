#include "engine/similar.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "engine/selection.h"

namespace morvane {

namespace {

// Band shares, brightness, flatness, crest, flux, attack, length.
constexpr int kBands = kFeatureBandCount;
constexpr int kDimensions = kBands + 6;
using Point = std::array<float, kDimensions>;

// Each measurement in a unit where equal steps sound about equally different: crest
// in dB, attack and length on a log scale (10 ms against 20 ms is as audible as 1 s
// against 2 s).
Point PointOf(const LibraryEntry& entry) {
    Point p{};
    const std::array<float, kBands> shares = BandShares(entry);
    for (int k = 0; k < kBands; ++k) p[k] = shares[k];
    p[kBands + 0] = FeatureOf(entry, Feature::Brightness);
    p[kBands + 1] = entry.spectralFlatness;
    p[kBands + 2] = FeatureOf(entry, Feature::Crest);
    p[kBands + 3] = FeatureOf(entry, Feature::Flux);
    p[kBands + 4] = std::log2(std::max(entry.attackTime, 0.001f));
    p[kBands + 5] = std::log2(std::max(entry.duration, 0.01f));
    return p;
}

// The weight of each dimension: one over its spread across the files compared, so no
// measurement wins by its unit alone, and the five band shares together count as
// much as two measurements (they move together: one spectrum, not five facts).
// A dimension with no spread (every file alike) gets the spread of a small, audible
// difference in its unit, so it neither dominates nor divides by zero.
Point WeightsOf(const std::vector<Point>& points) {
    const Point floor = {0.02f, 0.02f, 0.02f, 0.02f, 0.02f, 0.02f, 0.02f, 1.0f, 0.02f, 0.25f, 0.25f};
    Point mean{}, spread{};
    for (const Point& p : points)
        for (int d = 0; d < kDimensions; ++d) mean[d] += p[d];
    const float n = static_cast<float>(std::max<size_t>(points.size(), 1));
    for (float& m : mean) m /= n;
    for (const Point& p : points)
        for (int d = 0; d < kDimensions; ++d) spread[d] += (p[d] - mean[d]) * (p[d] - mean[d]);
    Point weights{};
    for (int d = 0; d < kDimensions; ++d) {
        const float deviation = std::max(std::sqrt(spread[d] / n), floor[d]);
        const float share = d < kBands ? 2.0f / kBands : 1.0f;
        weights[d] = share / (deviation * deviation);
    }
    return weights;
}

}  // namespace

std::vector<SimilarFile> SimilarFiles(const std::vector<Library>& libraries, const LibraryEntry& target, int count) {
    std::vector<const LibraryEntry*> pool;
    for (const Library& library : libraries)
        if (library.enabled)
            for (const LibraryEntry& entry : library.entries)
                if (entry.path != target.path) pool.push_back(&entry);
    if (pool.empty() || count <= 0) return {};

    std::vector<Point> points;
    points.reserve(pool.size());
    for (const LibraryEntry* entry : pool) points.push_back(PointOf(*entry));
    const Point weights = WeightsOf(points);
    const Point from = PointOf(target);

    std::vector<SimilarFile> found(pool.size());
    for (size_t i = 0; i < pool.size(); ++i) {
        float sum = 0.0f;
        for (int d = 0; d < kDimensions; ++d) sum += weights[d] * (points[i][d] - from[d]) * (points[i][d] - from[d]);
        found[i] = {pool[i], std::sqrt(sum / kDimensions)};
    }
    // Ties go by path, so equally near files keep their places from one call to the next.
    const size_t keep = std::min(found.size(), static_cast<size_t>(count));
    std::partial_sort(found.begin(), found.begin() + static_cast<std::ptrdiff_t>(keep), found.end(),
                      [](const SimilarFile& a, const SimilarFile& b) {
                          if (a.distance != b.distance) return a.distance < b.distance;
                          return a.entry->path < b.entry->path;
                      });
    found.resize(keep);
    return found;
}

}  // namespace morvane
