#pragma once
// Reading the sound files of the user's library: what counts as a sound file, the
// analysis of one file into a LibraryEntry, its descriptive metadata, and the small
// derived views (waveform overview, loudness envelope, region reads).
//
// Only regular files are ever opened: a path naming a pipe, a device or a folder reads
// as an unreadable file at once instead of waiting on it. Any thread may call these;
// the process-wide maps and the identity registry take their own locks.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "library/entry.h"
#include "library/features.h"
#include "model/timeline.h"

namespace morvane {

// True for the fourteen extensions the library reads (".wav", ".aiff", ".aifc", ...), any case.
bool IsSupportedAudioFile(std::string_view extension);

// Fills `entry` from the file at `path`: stream parameters, layout, identity,
// metadata, name-prefix keywords and sound features. False when the file cannot be
// used. `context` may be null.
bool AnalyzeFile(const std::string& path, LibraryEntry& entry, AnalysisContext* context);

// Appends `text` (trailing whitespace cut) to `target` with one space, unless it is
// empty or already contained in `target`.
void AppendUniqueWord(std::string& target, std::string_view text);

// Descriptive text of an iXML chunk: "Description" and "Notes" go to description,
// "Keywords", "Category", "SubCategory" and "CatID" to keywords (AppendUniqueWord).
void ExtractIxmlText(std::string_view xml, std::string& description, std::string& keywords);

// Content of the first element `name` (tag names compared ignoring case), with the
// five predefined entities decoded. False when there is no such element.
bool IxmlElementText(std::string_view xml, std::string_view name, std::string* out);

// Text from a file's metadata as UTF-8. Writers fill bext, RIFF INFO and AIFF text
// with whatever their system used: text that is already well-formed UTF-8 stays as it
// is; anything else is read as Windows-1252 (Latin-1 with its extra letters), each
// byte becoming one character and the five bytes it leaves unassigned U+FFFD.
std::string MetadataText(std::string_view bytes);

// The Description field of a bext chunk: at most 256 bytes, up to the first zero,
// decoded by MetadataText.
std::string BextDescriptionText(const char* field, size_t size);

// Last write time of a file in seconds since 1970 on the UTC clock (leap seconds
// counted); 0 when it cannot be read.
int64_t FileModifiedTime(const std::string& path);

// Number of times a sound file has been opened for reading by this process, so
// tests and benchmarks can check that a rescan of an unchanged folder opens none.
uint64_t AudioFileOpenCount();

// The file's own channel map (SF_CHANNEL_MAP_* per channel) when it has one that
// libsndfile reports soundly; empty otherwise.
std::vector<int> SoundFileChannelMap(const std::string& path);

// Why a sound file that is there cannot be read: one clause such as
// `cannot read "/x/y.wav": is a named pipe, not a file`. Empty for a regular file and
// for a path where nothing is (a missing source plays as silence until relinked).
std::string SoundFileRefusal(const std::string& path);
// The first refusal among the sound files a timeline names (layers, their alloy donors,
// pinned files); empty when none. Commands check it before they start any work.
std::string RefusedSoundFileOf(const TimelineState& timeline);

struct WaveformOverview {
    std::vector<float> peak;
    std::vector<float> rms;
    float duration = 0.0f;
    float sampleRate = 0.0f;
};

// Computes the overview of `path` once; later calls for the same path do nothing.
void ComputeWaveformOverview(const std::string& path);
// A copy of the stored overview; false when none was computed (or the file failed).
bool FindWaveformOverview(const std::string& path, WaveformOverview* out);

// Loudness per point (RMS of the channel-mean magnitude), computed once per path and
// kept; empty when the file cannot be opened.
std::vector<float> LoudnessEnvelope(const std::string& path, float pointsPerSecond);

struct RegionRead {
    std::vector<float> samples;  // interleaved
    int64_t frames = 0;          // frames read
    int channels = 0;
    int sampleRate = 0;
    int64_t fileFrames = 0;
};

// Reads up to `frames` frames from `startSeconds` as interleaved floats, never past
// the end. False when the file cannot be opened.
bool ReadRegion(const std::string& path, double startSeconds, int64_t frames, RegionRead* out);

}  // namespace morvane
