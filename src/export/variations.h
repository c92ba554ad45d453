#pragma once
// "Export Variations": the selected events rebuilt several times with different
// random draws, each take rendered and written as its own WAV file, without
// disturbing the timeline.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/event_build.h"
#include "library/libraries.h"
#include "model/timeline.h"

namespace morvane {

struct Preferences;

struct VariationSettings {
    int count = 5;             // "varCount", 1..100
    int channels = 2;          // "varChannels", 1..2
    int sampleRate = 48000;    // "varSampleRate"
    int bitDepth = 24;         // "varBitDepth", 16 or 24
    bool reverb = false;       // "varReverb"
    int nameStyle = 0;         // "varNameStyle", 0 or 1
    bool normalize = false;    // "varNormalize": peaks at -1 dBFS
};
VariationSettings VariationSettingsFromPreferences(const Preferences& prefs);

// Everything besides the selection that a variations run needs from its caller.
struct VariationContext {
    std::vector<LibraryRoot> roots;       // the libraries the takes draw from
    LibrarySet* libraries = nullptr;      // relinking by file id when rendering; may be null
    int channelOrderFallback = 0;         // the preference of that name
    BuildOptions buildOptions;            // a fixed seed here is combined with each take's salt
    std::mutex* resultsMutex = nullptr;   // held while the timeline is copied for the takes
    const std::atomic<bool>* cancel = nullptr;
    std::function<void(const std::string&)> status;  // "Rendering %d variations…"
    std::function<void(int done, int total)> progress;
};

struct VariationsResult {
    int files = 0;
    std::vector<std::string> written;
    bool cancelled = false;
    std::string statusText;  // "Exported %d variation%s", or why nothing was written
};

// The seed salt of take v (0-based): (v + 1) x 2654435761, modulo 2^32.
uint32_t VariationSalt(int take);

// Digits of the take number: max(2, floor(log10(max(1, count))) + 1).
int VariationNumberWidth(int count);

// `name` without the characters "/\:*?"<>|".
std::string RemoveFileNameCharacters(const std::string& name);

// The base name of the takes (the first selected event's label, cleaned) and the
// reverb mark the naming style adds: style 0 "_Reverb", style 1 "_reverb".
std::string VariationBaseName(const Project& project, const std::vector<int>& selection, bool reverb, int nameStyle);

// The job body. Files go to exportFolder + "/Variations/". The takes are drawn on a
// copy of the timeline taken under the results mutex, so the project's events and
// layers stay as they are, also after a cancel (files written so far stay).
VariationsResult ExportVariations(const Project& project, const std::vector<int>& selection, const std::string& exportFolder,
                                  const VariationSettings& settings, const VariationContext& context);

}  // namespace morvane
