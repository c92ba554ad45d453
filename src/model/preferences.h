#pragma once
// The user's settings that outlive a project, kept in "com.morvane.prefs" (key=value
// lines) in the application data folder.
//
// Reading is tolerant: unknown keys, lines without "=", overlong lines and values
// that are not numbers never stop the load; every number is clamped to its range.
// Scalar settings missing from the file keep their current value; the lists (recent
// projects, library folders, channel maps) are replaced by the file's.
//
// The application-wide instance is owned by the user-interface thread; any thread
// may ask for a save through the dirty flag.
#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace morvane {

// A colour written as "#RRGGBB".
struct RgbColor {
    uint8_t r = 0, g = 0, b = 0;
    bool operator==(const RgbColor&) const = default;
};

// One library folder the user added: "libraryEx=path|enabled|weightClass".
struct LibraryFolderSetting {
    std::string path;
    bool enabled = true;
    int weightClass = -1;  // -1 any, else 0, 1, 2 (clamped)
    bool operator==(const LibraryFolderSetting&) const = default;
};

// The learned trace model ("tm_" keys). Only `valid` is written when the model is
// not valid; the analysis then keeps its fixed weights.
struct TraceModelSettings {
    bool valid = false;
    int totalSpots = 0;
    std::array<float, 5> w = {0.32f, 0.26f, 0.0f, 0.14f, 0.13f};  // impact, flow, |dBright|, histDiff, motion
    float defaultCompositeMean = 0.0f;  // <= 0.001: no rescaling
    float thresholdScale = 1.0f;
    float subtleScale = 1.0f;
    float spotCutoff = 0.0f;
    float gainA = 1.0f;
    float gainB = 0.0f;
    float weightBias = 0.0f;
    float spotDurScale = 1.0f;
    float sweepDurScale = 1.0f;
    float minGap = 0.0f;
    int posCount = 0;
    std::array<float, 5> posMean = {};
    int negCount = 0;
    std::array<float, 5> negMean = {};
    bool operator==(const TraceModelSettings&) const = default;
};

// Every setting with its built-in default. Field names are the file keys.
struct Preferences {
    // Export (handles and fades are seconds).
    float handleDuration = 1.0f;  // 0.01..60
    bool handleFullSource = false;
    float fadeInDuration = 0.01f;   // 0..30
    float fadeOutDuration = 0.05f;  // 0..30
    bool exportAAFMarkers = true;
    bool exportAAFVolAuto = true;
    bool exportAAFSourceChannels = false;
    bool exportFormatAAF = false;
    bool exportFormatWAV = true;
    bool exportWavMixdown = true;
    bool exportWavStems = true;
    int exportWavLayout = 0;     // 0..3: Stereo, 5.1, 7.1.4, AmbiX
    int exportWavLUFSIndex = 0;  // 0..4: Off, -14, -16, -18, -23 LUFS
    int exportSpatialMode = 0;   // 0..2

    // Spatial placement and monitoring.
    float spatialAmount = -1.0f;  // -1 = not set, else 0..1
    bool spatialEnhanced = false;
    float spatialAmountLast = 0.5f;  // 0.01..1
    int monitorLayout = 0;           // 0..2
    bool monitorBinaural = false;
    float monitorGain = 1.0f;  // 0..10
    // Output routing per monitoring layout, keyed by the layout's name ("stereo",
    // "5.1", ...): the device channel of each role in canonical order.
    std::map<std::string, std::vector<int>> channelMaps;

    bool exportWavTracks = false;
    bool exportWavClips = false;
    bool exportReverbStem = false;

    // Variations.
    int varCount = 5;           // 1..100
    int varChannels = 2;        // 1..2
    int varSampleRate = 48000;  // 44100, 48000, 88200 or 96000
    int varBitDepth = 24;       // 16 or 24
    bool varReverb = false;
    bool varShowAdvanced = false;
    int varNameStyle = 0;  // 0..1
    bool varNormalize = false;

    // Defaults for new projects and build switches.
    int projectSampleRate = 48000;   // 44100, 48000, 88200 or 96000
    float maxEventDuration = 30.0f;  // 0.1..600
    bool protectSilence = false;
    bool destructiveEQ = false;
    bool chainsImportAsGroup = true;
    int channelOrderFallback = 0;  // 0..2
    bool showSpectralHeatmap = false;
    int scaleType = 0;           // 0..16
    int scaleRoot = 0;           // 0..11
    int pitchShiftProb = 0;      // 0..100
    int freqShiftIntensity = 0;  // 0..100
    int reverseProb = 0;         // 0..100

    // Interface.
    int fontSizePreset = 1;  // 0..2
    bool fontSizeAuto = true;
    bool boldFonts = false;
    int theme = 0;  // 0..6
    bool colorByWeight = false;
    bool showAdvancedInspector = false;
    int lastIntensityMode = 0;  // 0..2

    // Autosave.
    bool autoSaveEnabled = true;
    bool audioFocusLatched = false;
    float autoSaveInterval = 300.0f;  // seconds, 30..3600
    int maxBackups = 5;               // 1..50

    RgbColor weightColorLow = {0x3A, 0x7B, 0xD5};
    RgbColor weightColorMid = {0xE0, 0xB0, 0x40};
    RgbColor weightColorHigh = {0xD9, 0x4A, 0x3A};

    // Reverb (0..1 unless noted).
    bool reverbEnabled = false;
    float reverbSize = 0.5f;
    float reverbDecay = 0.4f;
    float reverbDamping = 0.5f;
    float reverbDiffusion = 0.7f;
    float reverbModulation = 0.2f;
    float reverbMacro = 0.5f;
    float reverbPreDelay = 0.02f;  // seconds, 0..0.2
    std::array<float, 3> reverbSend = {0.3f, 0.2f, 0.2f};  // per group 0, 1, 2

    TraceModelSettings traceModel;

    bool showLauncherOnStartup = true;

    // Update check.
    bool updateCheckEnabled = true;
    std::string dismissedUpdateVersion;
    long long lastUpdateCheck = 0;  // seconds since 1970; 0 = never
    std::string updateAvailableVersion;
    std::string updateAvailablePageUrl;
    std::string updateAvailableDate;
    std::string updateAvailableNote;

    std::vector<std::string> recentProjects;  // newest first, at most kMaxRecentProjects
    std::vector<LibraryFolderSetting> libraries;

    bool operator==(const Preferences&) const = default;
};

inline constexpr int kMaxRecentProjects = 10;
// Longest line the reader accepts, not counting its line feed. A longer line is
// skipped as a whole; the writer never produces one.
inline constexpr size_t kMaxPreferenceLineBytes = 1023;
inline constexpr const char* kPreferencesFileName = "com.morvane.prefs";

// The application-wide settings.
Preferences& Prefs();

// AppDataFolder()/com.morvane.prefs; empty when there is no application data folder.
std::string PreferencesFilePath();

// Applies the lines of `text` to `prefs` (see the file comment). Never fails.
void ParsePreferences(const std::string& text, Preferences& prefs);

// The whole file for `prefs`, lines in their fixed order. Entries that cannot be
// written faithfully (a recent project holding a control character, a line that
// would be too long to read back) are left out and described in `log`, one
// diagnostic line each, when `log` is given.
std::string FormatPreferences(const Preferences& prefs, std::vector<std::string>* log = nullptr);

// Reads the file at `path` into `prefs`; false (and `prefs` untouched) when it
// cannot be opened.
bool LoadPreferencesFrom(const std::string& path, Preferences& prefs);

// Writes `prefs` to `path` atomically (temporary file, flush, rename); skipped
// entries are logged to stdout. False when the file could not be written; the
// settings stay in memory either way.
bool SavePreferencesTo(const std::string& path, const Preferences& prefs);

// The application-wide settings and the default path. Without an application data
// folder nothing is read or written and both return false.
bool LoadPreferences();
bool SavePreferences();

// Moves or inserts `path` at the front of the recent list and keeps the first ten.
void AddRecentProject(Preferences& prefs, const std::string& path);
void ClearRecentProjects(Preferences& prefs);
// The same on the application-wide settings; both mark the preferences dirty.
void AddRecentProject(const std::string& path);
void ClearRecentProjects();

// Set by any thread to ask the frame loop for a save on its next frame.
std::atomic<bool>& PreferencesDirtyFlag();
void MarkPreferencesDirty();
// True once for each request: clears the flag and returns its previous value.
bool TakePreferencesDirty();

}  // namespace morvane
