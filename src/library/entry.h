#pragma once
// One sound file of a library and one library (a scanned folder or a saved palette).
#include <cstdint>
#include <string>
#include <vector>

namespace morvane {

// The sound features of a file, by their slot in LibraryEntry::features. The index
// files store the slots in this order.
enum class Feature : int {
    BandSub = 0,         // band 20-150 Hz, relative to the strongest band, 0..1
    BandLow = 1,         // band 150-750 Hz, relative
    BandMid = 2,         // band 750-2,000 Hz, relative
    BandHigh = 3,        // band 2,000-6,000 Hz, relative
    BandAir = 4,         // band 6,000-16,000 Hz, relative
    Centroid = 5,        // spectral centroid, log scale from 100 Hz (0) to 8 kHz (1)
    HighShare = 6,       // share of spectral magnitude at or above 2 kHz
    Brightness = 7,      // the bands weighted 0.1, 0.3, 0.5, 0.7, 0.9 from the lowest up
    PeakToRms = 8,       // crest factor in dB, the same value as Crest
    PeakPosition = 9,    // where the peak sample lies in the analysed length, 0..1
    ZeroCrossings = 10,  // zero-crossing rate x 4, capped at 1
    Crest = 11,          // crest factor (peak over RMS), dB
    RmsLevel = 12,       // RMS level, dBFS; -100 for silence
    TimeCentroid = 13,   // temporal centroid of the energy in the analysed length, 0..1
    Flux = 14,           // mean spectral flux / 30, capped at 1
    PitchHz = 15,        // pitch in Hz when a confident pitch was found, else 0
};
inline constexpr int kFeatureCount = 16;
inline constexpr int kFeatureBandCount = 5;  // BandSub..BandAir, lowest first

// The feature of band 0..4, lowest first.
constexpr Feature BandFeature(int band) { return static_cast<Feature>(band); }

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
    // By Feature slot; FeatureOf reads one by name.
    float features[kFeatureCount] = {0, 0, 0, 0, 0, 0.5f, 0, 0.5f, 0, 0, 0, 0, -100.0f, 0.5f, 0, 0};
    int midiNote = -1;
    float pitchCents = 0.0f;
    float pitchConfidence = 0.0f;
    float spectralFlatness = 0.0f;
    float harmonicity = 0.0f;
    float onsetPosition = 0.0f;
    float attackTime = 0.0f;  // seconds
};

inline float& FeatureOf(LibraryEntry& entry, Feature feature) { return entry.features[static_cast<int>(feature)]; }
inline float FeatureOf(const LibraryEntry& entry, Feature feature) { return entry.features[static_cast<int>(feature)]; }

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
