#pragma once
// The WAV part of an export: the mixdown, stems per group, tracks per track slot
// and clips per layer, plus the wet reverb stem, rendered from a snapshot through
// the playback mixer and written as Broadcast WAV files placed on the receiving
// timeline by their bext time reference.
//
// Each kind is all or nothing: a kind that is cancelled, whose folder cannot be
// made, or one of whose files cannot be written removes every file and folder it
// made (the rollback guard), and the export goes on with the next kind.
#include <atomic>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "export/export_snapshot.h"

namespace morvane {

enum ExportKind : int { kExportMix = 0, kExportStems = 1, kExportTracks = 2, kExportClips = 3 };

// Who watches an export: the kind being written ("Exporting mix…"), the fraction
// of that kind done, and the cancel request (may be null).
struct ExportObserver {
    std::function<void(int kind, const std::string& status)> kindStarted;
    std::function<void(float fraction)> progress;
    const std::atomic<bool>* cancel = nullptr;
};

struct WavExportResult {
    int files = 0;                     // files written and kept
    std::vector<std::string> written;  // their paths
    int failedKinds = 0;               // kinds rolled back after a failure
    bool cancelled = false;
    std::string failure;               // the first failed kind and why: "clips: cannot create ..."
};

// Runs every selected kind, in the order mix, stems, tracks, clips.
WavExportResult RunWavExport(const ExportSnapshot& snapshot, const ExportObserver& observer);

// The stretch exported: the work area when workAreaIn >= 0 and workAreaOut >
// workAreaIn, else 0 .. the timeline's duration.
struct ExportRange {
    double start = 0.0;
    double end = 0.0;
};
ExportRange ComputeExportRange(float workAreaIn, float workAreaOut, float timelineDuration);

// The reverb's wet return alone over `frames` frames from `start` seconds, stereo
// interleaved into `wet` (`scratch` is a second buffer of the same size), mixed from
// every block of the snapshot on `cache` (a mix cache of the snapshot with its reverb).
// `progress` may return false to cancel. False with `why` when the mix failed.
bool MixWetReverb(RenderCache& cache, const ExportSnapshot& snapshot, double start, int64_t frames,
                  std::vector<float>& wet, std::vector<float>& scratch, const std::function<bool(float)>& progress,
                  std::string* why);

// The loudness target of "exportWavLUFSIndex" 1..4; 0 (no normalisation) otherwise.
float ExportLoudnessTarget(int lufsIndex);

// "Exporting mix…", "Exporting stems…", "Exporting tracks…", "Exporting clips…".
const char* ExportKindStatus(int kind);

// A name usable as one file name: "/", "\", ":", NUL and other control characters
// become "_"; `fallback` when empty.
std::string ExportFileStem(const std::string& name, const char* fallback);

// The longest file name the file systems we write to take, in bytes.
inline constexpr size_t kMaxFileNameBytes = 255;

// `stem` cut (never inside a UTF-8 character) so that it and an extension of
// `extensionBytes` bytes make a name of at most kMaxFileNameBytes.
std::string FitFileStem(const std::string& stem, size_t extensionBytes);

// Hands out clip file stems: the first "Door_Slam", then "Door_Slam_2", "Door_Slam_3",
// skipping any stem already given out. Every stem fits a file name with ".wav", and no
// two are alike, however long or odd the layer names.
struct ClipNamer {
    std::map<std::string, int> uses;  // by cleaned stem: the last number given
    std::set<std::string> given;
    std::string Next(const std::string& layerName);
};

}  // namespace morvane
