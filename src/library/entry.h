#pragma once
// One sound file of a library and one library (a scanned folder or a saved palette).
#include <cstdint>
#include <string>
#include <vector>

namespace morvane {

struct LibraryEntry {
    std::string path;         // full path as the scan found it
    std::string name;         // file name without extension
    std::string description;  // descriptive text from the file's metadata
    std::string keywords;     // space-separated words
    std::string fileId;       // 16 lower-case hex digits, empty when none
    uint64_t contentHash = 0;  // 0 = none
    uint64_t fileSize = 0;
    int64_t modifiedTime = 0;  // seconds since 1970 on the UTC clock, 0 = none
    float duration = 0.0f;     // seconds
    float sampleRate = 0.0f;
    int channels = 0;
    int bitDepth = 0;
    uint64_t groupId = 0;      // multi-mono group, 0 = none
    int groupChannel = -1;     // speaker index in the group; run time only
    int channelLayout = -1;    // layout class, -1 = none
    int channelInterpretation = 0;  // per-file override; 0 = the library's
    float features[16] = {0, 0, 0, 0, 0, 0.5f, 0, 0.5f, 0, 0, 0, 0, -100.0f, 0.5f, 0, 0};
    int midiNote = -1;
    float pitchCents = 0.0f;
    float pitchConfidence = 0.0f;
    float spectralFlatness = 0.0f;
    float harmonicity = 0.0f;
    float onsetPosition = 0.0f;
    float attackTime = 0.0f;  // seconds
};

struct Library {
    std::string folder;  // empty for a palette
    std::string name;    // unique; also the index file's name
    std::vector<LibraryEntry> entries;
    bool enabled = true;
    int weightClass = -1;  // -1 any, else 0, 1, 2
    std::string summary;       // "1,234 files, bright, mostly transient"
    std::string nameSummary;   // frequent words of the file names
    std::string ucsSummary;    // most frequent UCS words of the file names
    int64_t scanned = 0;       // seconds since 1970, 0 = never
    bool savedPalette = false;
    int channelInterpretation = 0;  // 0 Auto, 1 Surround, 2 Discrete, 3 Ambisonic
    bool disableGrouping = false;
    std::vector<std::string> previousNames;
};

}  // namespace morvane
