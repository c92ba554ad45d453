#pragma once
// Choosing library files for an event: keyword terms, candidate collection over the
// library roots, scoring, the repeat factor, the weighted draw, the source offset,
// the build's random generator, and the per-layer history of earlier choices.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "library/entry.h"
#include "model/timeline.h"

namespace morvane {

// ---- random numbers --------------------------------------------------------------

// One generator serves a whole build call: 32-bit linear congruential.
struct BuildRng {
    uint32_t state = 0;
    // Advances the state and returns a value in [0, 1].
    float Next();
};

// Seeded with the calendar time in seconds exclusive-or the caller's salt, so two
// builds started in different seconds choose differently.
BuildRng MakeBuildRng(uint32_t salt);
// A fixed seed, for reproducible builds (tests, benchmarks, the CLI's --seed).
BuildRng MakeBuildRngFromSeed(uint32_t seed);

// ---- keywords --------------------------------------------------------------------

enum class TermKind : int { Plain = 0, Required = 1, Excluded = 2 };

struct KeywordTerm {
    std::string word;
    TermKind kind = TermKind::Plain;
};

// Splits on space, tab, comma and semicolon. "+word" is required, "-word" excluded
// (each at least two characters); anything else is plain, as typed.
std::vector<KeywordTerm> ParseKeywords(std::string_view text);

// Case-blind whole-word search: "door" is found in "door_slam" and "Door 2" but not
// in "doorway"; a leading or trailing "*" lifts the word boundary on that side.
bool TermFoundIn(std::string_view term, std::string_view text);

// 3 for a hit in the name, 2 in the path, description or keywords, else 0.
int TermMatchCount(std::string_view term, const LibraryEntry& entry);

// ---- candidates ------------------------------------------------------------------

// One library root as the selection sees it. Library has no palette-name list of its
// own yet; `paletteNames` carries it for the roots that have one.
struct LibraryRoot {
    const Library* library = nullptr;
    std::vector<std::string> paletteNames;
};

// Roots for every library, with no palette names.
std::vector<LibraryRoot> RootsOf(const std::vector<Library>& libraries);

inline constexpr std::string_view kNoLibraryFilter = "~none~";

// Entries of the enabled roots whose weight class agrees (-1 on either side agrees
// with all) and, with a filter, whose name matches it or whose palette names meet
// one of its comma-separated tokens. "~none~" gives nothing.
std::vector<const LibraryEntry*> CollectCandidates(const std::vector<LibraryRoot>& roots, int weightClass,
                                                   std::string_view filter = {});

// Group 0 (background), 1 or 2 of an event.
int EventGroup(const Event& event);

// ---- scoring ---------------------------------------------------------------------

struct ScoredCandidate {
    const LibraryEntry* entry = nullptr;
    float score = 0.0f;
};

// What a layer asks of its file.
struct ScoreWishes {
    float intensity = 0.5f;       // target intensity I, 0..1
    float neededDuration = 1.0f;  // Dn, seconds
    EventShape shape = EventShape::Spot;
    const std::vector<KeywordTerm>* terms = nullptr;
    float transient = 0.5f;  // 0 sustained .. 1 transient
    const std::array<float, 5>* occupancy = nullptr;  // band profile of overlapping hero events
    float contrastRef = -1.0f;  // noisiness to contrast with; negative: off
    int contrastCount = 0;
};

// The project's reference set: files the user marked as "sounds like this".
struct ReferenceSet {
    bool active = false;
    std::vector<std::string> paths;
    int count = 0;
    // The five band shares, Feature::Centroid, Feature::ZeroCrossings, spectral flatness.
    std::array<float, 8> profile{};
};

// The share of each band in the file's band levels (0.2 each when it is silent).
std::array<float, kFeatureBandCount> BandShares(const LibraryEntry& entry);

float BaseScore(const LibraryEntry& entry, const ScoreWishes& wishes);

// How noisy (vs tonal) a file is, 0..1; the quantity the contrast term compares.
float Noisiness(const LibraryEntry& entry);

// The project banned the file (by identity or by path).
bool IsFileBanned(const TimelineState& timeline, const LibraryEntry& entry);

// Scores every candidate not banned by the project, drops those at 5.0 or below
// (keeping the best one at max(0.01, score) when nothing else is left), and returns
// the best maxCount, highest first.
std::vector<ScoredCandidate> ScoreCandidates(const TimelineState& timeline,
                                             const std::vector<const LibraryEntry*>& candidates,
                                             const ScoreWishes& wishes, int maxCount,
                                             const ReferenceSet* reference = nullptr);

// ---- what a build keeps between layers -------------------------------------------

// The folded words of the entries a build draws from, so that a keyword term is
// answered without reading every entry's text for every layer: each entry's name and
// its other searchable text (path, description and keywords, a space apart) lower-
// cased once into one arena, and every word (a run of ASCII letters) mapped to the
// entries that hold it. A term is checked in full only in the entries whose words
// can hold it; the whole-word and wildcard rules still decide.
struct WordIndex {
    std::vector<const LibraryEntry*> entries;  // by slot
    std::unordered_map<const LibraryEntry*, uint32_t> slotOf;
    std::string text;              // the folded texts of every slot, one after the other
    std::vector<size_t> nameAt;    // per slot: name at [nameAt, otherAt), the rest up to the next nameAt
    std::vector<size_t> otherAt;
    std::unordered_map<std::string, std::vector<uint32_t>> words;  // word -> slots, ascending
};

// What the score reads of an entry, side by side so a large library is scored from
// memory that is read in order.
struct ScoreTraits {
    std::array<float, kFeatureBandCount> bands{};   // the band features, lowest first
    std::array<float, kFeatureBandCount> shares{};  // BandShares
    float brightness = 0, zeroCrossings = 0, crest = 0, timeCentroid = 0, flux = 0;
    float duration = 0, attackTime = 0;
    float noisiness = 0;  // Noisiness
    // Sums of the score that depend on the file alone.
    float eccentricity = 0;                // |temporal centroid - 0.5|
    float sustainedFit = 0, transientFit = 0;  // the two sides of the character term
    float spotAttack = 0, swellShape = 0, scatterShape = 0;
};
ScoreTraits TraitsOf(const LibraryEntry& entry);

// One candidate list as the build hands it over, with what its layers share.
struct CandidatePool {
    std::vector<const LibraryEntry*> candidates;
    std::vector<uint32_t> slots;                  // WordIndex slot of each candidate, once a term asks
    std::vector<uint8_t> banned;                  // the project bans the candidate
    std::vector<ScoreTraits> traits;
    // For skipping, per layer, the candidates that cannot reach the kept few: each
    // candidate's brightness and band shares, and per event shape the most its
    // duration, character and shape terms can add (filled the first time a layer of
    // that shape asks).
    std::vector<float> brightness;
    std::vector<std::array<float, kFeatureBandCount>> shares;
    std::array<std::vector<float>, kEventShapeCount> restMost;
    std::array<float, kEventShapeCount> restMostTop{};  // the largest of each

    // Per set of keyword terms: whether each candidate is allowed, and its summed
    // match count.
    struct TermFits {
        std::vector<uint8_t> allowed;
        std::vector<int> matches;
        int terms = 0;
    };
    std::unordered_map<std::string, TermFits> fits;
};

// Everything one build call keeps between its layers. Belongs to that call alone
// (one thread); it holds pointers into the libraries and the timeline it was used
// with, which must not change while it lives.
struct SelectionCache {
    WordIndex index;
    std::unordered_map<std::string, std::vector<uint8_t>> termCounts;  // term -> TermMatchCount per slot
    std::vector<std::unique_ptr<CandidatePool>> pools;
    std::vector<ScoredCandidate> scored;  // the working list of a layer's scores
    std::vector<float> topScores;         // the best few of them
};

// ScoreCandidates with the work that does not change between layers kept in
// `cache` (the plain one uses a cache of its own call).
std::vector<ScoredCandidate> ScoreCandidates(SelectionCache& cache, const TimelineState& timeline,
                                             const std::vector<const LibraryEntry*>& candidates,
                                             const ScoreWishes& wishes, int maxCount,
                                             const ReferenceSet* reference = nullptr);

// ---- repeats and the draw --------------------------------------------------------

struct UsageRecord {
    std::string path;
    std::string fileId;
    float offset = 0.0f;
    float duration = 0.0f;
    float eventStart = 0.0f;
};

// 0 for a file already in the event; otherwise smaller the more often and the more
// recently (in timeline distance) the build has used it.
float RepeatFactor(const LibraryEntry& entry, const std::vector<UsageRecord>& eventUsage,
                   const std::vector<UsageRecord>& buildUsage, float eventStart);

// Multiplies by the repeat factor, removes what falls to 0, sorts highest first.
void ApplyRepeatFactors(std::vector<ScoredCandidate>& scored, const std::vector<UsageRecord>& eventUsage,
                        const std::vector<UsageRecord>& buildUsage, float eventStart);

// Index drawn in proportion to score; 0 for a single candidate or a zero total.
// The list must not be empty.
int PickWeighted(const std::vector<ScoredCandidate>& scored, BuildRng& rng);

// ---- source offset ---------------------------------------------------------------

inline constexpr int kTargetCurvePoints = 16;
using TargetCurve16 = std::array<float, kTargetCurvePoints>;

// The 20-point-per-second loudness envelope of a file; empty when unknown.
using EnvelopeSource = std::function<std::vector<float>(const std::string& path)>;
// Reads the library's loudness envelope of the file.
EnvelopeSource FileEnvelopeSource();

struct SourceSpan {
    float offset = 0.0f;
    float duration = 0.0f;
};

// How closely a window's 16-point envelope (normalised to the file's loudest point)
// follows the target shape; higher is closer, at most 0.
float EnvelopeSimilarity(const TargetCurve16& window, const TargetCurve16& target);

// Where in the file the layer plays from: the whole file when it is no longer than
// `needed`; else the window whose loudness shape best follows `target`.
SourceSpan ChooseSourceOffset(const LibraryEntry& entry, float needed, const TargetCurve16& target,
                              BuildRng& rng, const EnvelopeSource& envelopes);

// ---- layer history ---------------------------------------------------------------

// Each layer keeps its earlier sounds (Layer::history). The back button is enabled
// with somewhere to go back to; the forward button steps through the history while
// it can, and otherwise asks for a fresh choice.
bool HistoryCanGoBack(const Layer& layer);
bool HistoryCanGoForward(const Layer& layer);  // within the history
// "Previous sound" or "No history".
const char* HistoryBackTooltip(const Layer& layer);
// "Next sound (history)" while stepping forward through the history, else "Next sound".
const char* HistoryForwardTooltip(const Layer& layer);
// A fresh choice replaced `previous`: `layer` (the new choice) takes over the history
// with the previous sound kept at its end, at most kLayerHistoryMax entries.
inline constexpr int kLayerHistoryMax = 32;
void HistoryRecord(Layer& layer, const Layer& previous);
// Steps back / forward and takes the sound of the snapshot at the new cursor (where
// the layer sits on the timeline stays). False when the step is not possible.
bool HistoryBack(Layer& layer);
bool HistoryForward(Layer& layer);

// ---- texts -----------------------------------------------------------------------

inline constexpr const char* kNoMatchName = "(no match)";
inline constexpr const char* kMissingName = "[Missing]";

// "No palette — %d placeholder clip%s" when there are no library roots at all,
// otherwise "Some files unreadable — %d placeholder clip%s"; empty for a count of 0.
std::string PlaceholderStatusText(int placeholderCount, bool libraryHasRoots);

}  // namespace morvane
