#pragma once
// "Similar": the files of the enabled libraries that sound nearest to a chosen one,
// judged by what the scan already measured (band shares, brightness, flatness, crest,
// flux, attack and length), with no analysis of its own.
//
// Pure functions over the libraries they are given; any thread, as long as the
// libraries do not change meanwhile (the interface thread holds them).
#include <vector>

#include "library/entry.h"

namespace morvane {

inline constexpr int kSimilarCount = 20;

struct SimilarFile {
    const LibraryEntry* entry = nullptr;
    float distance = 0.0f;  // 0: the same measurements
};

// The `count` nearest files of the enabled libraries, nearest first; never the
// file itself (by path) nor another entry of the same path.
std::vector<SimilarFile> SimilarFiles(const std::vector<Library>& libraries, const LibraryEntry& target,
                                      int count = kSimilarCount);

}  // namespace morvane
