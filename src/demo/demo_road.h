#pragma once
// The main job on the demo content, the road a piece of work takes through the
// program: install the demo material, scan the demo library, read the demo reel's
// picture, import the proposed events, build the timeline, render it through the
// playback mixer, and write the project, the trace files and the mixdown.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "library/libraries.h"
#include "model/timeline.h"

namespace morvane::demo {

enum class RoadStep { Install, Scan, Picture, Build, Render, Mix, Export, Save };
// "Installing", "Scanning", ... for progress lines.
const char* RoadStepLabel(RoadStep step);

// Called often during a step with its fraction done and a short detail text.
using RoadProgress = std::function<void(RoadStep step, float fraction, const std::string& detail)>;

struct RoadOptions {
    std::string outFolder;        // empty: the installed demo project's folder
    uint32_t buildSeed = 2026;    // the build draws from a fixed seed: every run builds alike
    bool forceInstall = false;    // copy the demo material even when the marker says it is there
    RoadProgress progress;
};

struct RoadReport {
    bool ok = false;
    std::string error;  // one line: what failed and where

    // Install.
    bool contentFound = false;
    int filesInstalled = 0;
    // Scan.
    std::string libraryFolder;
    std::string indexPath;
    int filesScanned = 0;   // in the library after the scan
    int filesAnalysed = 0;  // measured afresh
    int filesReused = 0;    // unchanged since the last scan, taken from the index
    int filesFailed = 0;
    uint64_t audioFilesOpened = 0;  // sound files the scan opened
    // Picture.
    std::string videoPath;
    std::string traceBasePath;  // + ".mvtrace" and + ".mvtrace.csv"
    int eventsProposed = 0;
    int eventsImported = 0;
    std::vector<float> proposedTimes;
    // Build.
    int handPlacedEvents = 0;
    std::array<int, 7> eventsPerShape{};
    std::array<int, 7> layersPerShape{};
    int layers = 0;
    int placeholders = 0;
    int noMatch = 0;
    int missing = 0;
    // Render and mix.
    int blocksRendered = 0;
    std::string mixdownPath;
    double mixSeconds = 0.0;
    int mixSampleRate = 0;
    float loudnessLufs = -100.0f;
    float peakDbfs = -100.0f;
    // Export: the mix and one stem per group as Broadcast WAV files.
    std::string exportFolder;
    std::vector<std::string> exportedFiles;
    // Save.
    std::string projectPath;
    Project project;  // as saved
};

// The whole road with the documents folder of the environment (HOME / XDG).
RoadReport RunDemoRoad(const RoadOptions& options);

// The scan step alone: indexes `folder` into `set` (re-using what the index already
// knows) and fills the scan fields of the report. False on failure (report.error set).
bool ScanDemoLibrary(const std::string& folder, LibrarySet& set, RoadReport& report, const RoadProgress& progress);

// Points the demo project's Clip and Bed events at the scanned library's copies of
// their files (same file name), with the library's identities, and limits the
// project to that library. Returns how many pins were moved.
int LinkProjectToLibrary(Project& project, const Library& library);

// Interleaved stereo -> peak in dBFS (-100 for silence).
float PeakDbfs(const std::vector<float>& interleaved);

}  // namespace morvane::demo
