#include "engine/selection.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "library/audio_file.h"

namespace morvane {

// ---- random numbers --------------------------------------------------------------

float BuildRng::Next() {
    state = state * 1103515245u + 12345u;
    return static_cast<float>(((state >> 16) & 0xFFFFu) / 65535.0);
}

BuildRng MakeBuildRng(uint32_t salt) {
    return BuildRng{static_cast<uint32_t>(std::time(nullptr)) ^ salt};
}

BuildRng MakeBuildRngFromSeed(uint32_t seed) { return BuildRng{seed}; }

// ---- keywords --------------------------------------------------------------------

std::vector<KeywordTerm> ParseKeywords(std::string_view text) {
    std::vector<KeywordTerm> terms;
    size_t i = 0;
    auto isSeparator = [](char c) { return c == ' ' || c == '\t' || c == ',' || c == ';'; };
    while (i < text.size()) {
        while (i < text.size() && isSeparator(text[i])) ++i;
        size_t end = i;
        while (end < text.size() && !isSeparator(text[end])) ++end;
        if (end > i) {
            std::string_view piece = text.substr(i, end - i);
            KeywordTerm term;
            if (piece.size() >= 2 && piece[0] == '+') {
                term.kind = TermKind::Required;
                piece.remove_prefix(1);
            } else if (piece.size() >= 2 && piece[0] == '-') {
                term.kind = TermKind::Excluded;
                piece.remove_prefix(1);
            }
            term.word = std::string(piece);
            terms.push_back(std::move(term));
        }
        i = end;
    }
    return terms;
}

namespace {

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }
bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool EqualsAt(std::string_view text, size_t at, std::string_view word) {
    for (size_t k = 0; k < word.size(); ++k)
        if (Lower(text[at + k]) != Lower(word[k])) return false;
    return true;
}

}  // namespace

bool TermFoundIn(std::string_view term, std::string_view text) {
    const bool openLeft = !term.empty() && term.front() == '*';
    if (openLeft) term.remove_prefix(1);
    const bool openRight = !term.empty() && term.back() == '*';
    if (openRight) term.remove_suffix(1);
    if (term.size() < 2 || text.size() < term.size()) return false;
    for (size_t at = 0; at + term.size() <= text.size(); ++at) {
        if (!EqualsAt(text, at, term)) continue;
        if (openLeft && openRight) return true;
        const bool leftOk = openLeft || at == 0 || !IsAsciiLetter(text[at - 1]);
        const size_t after = at + term.size();
        const bool rightOk = openRight || after == text.size() || !IsAsciiLetter(text[after]);
        if (leftOk && rightOk) return true;
    }
    return false;
}

int TermMatchCount(std::string_view term, const LibraryEntry& entry) {
    if (term.size() < 2) return 0;
    if (TermFoundIn(term, entry.name)) return 3;
    if (TermFoundIn(term, entry.path) || TermFoundIn(term, entry.description)) return 2;
    if (TermFoundIn(term, entry.keywords)) return 2;
    return 0;
}

// ---- candidates ------------------------------------------------------------------

std::vector<LibraryRoot> RootsOf(const std::vector<Library>& libraries) {
    std::vector<LibraryRoot> roots;
    roots.reserve(libraries.size());
    for (const Library& library : libraries) roots.push_back(LibraryRoot{&library, {}});
    return roots;
}

namespace {

std::vector<std::string_view> FilterTokens(std::string_view filter) {
    std::vector<std::string_view> tokens;
    size_t i = 0;
    while (i <= filter.size()) {
        size_t end = filter.find(',', i);
        if (end == std::string_view::npos) end = filter.size();
        std::string_view token = filter.substr(i, end - i);
        while (!token.empty() && token.front() == ' ') token.remove_prefix(1);
        while (!token.empty() && token.back() == ' ') token.remove_suffix(1);
        if (!token.empty()) tokens.push_back(token);
        i = end + 1;
    }
    return tokens;
}

bool RootMatchesFilter(const LibraryRoot& root, std::string_view filter,
                       const std::vector<std::string_view>& tokens) {
    // The root's own name matches the whole filter or any one of its tokens, so a
    // filter naming two libraries takes both.
    const std::string& name = root.library->name;
    if (name == filter) return true;
    for (std::string_view token : tokens) {
        if (name == token) return true;
        for (const std::string& palette : root.paletteNames)
            if (palette == token) return true;
    }
    return false;
}

}  // namespace

std::vector<const LibraryEntry*> CollectCandidates(const std::vector<LibraryRoot>& roots, int weightClass,
                                                   std::string_view filter) {
    std::vector<const LibraryEntry*> out;
    if (filter == kNoLibraryFilter) return out;
    const std::vector<std::string_view> tokens = FilterTokens(filter);
    for (const LibraryRoot& root : roots) {
        if (root.library == nullptr || !root.library->enabled) continue;
        const int rootClass = root.library->weightClass;
        if (rootClass >= 0 && weightClass >= 0 && rootClass != weightClass) continue;
        if (!filter.empty() && !RootMatchesFilter(root, filter, tokens)) continue;
        for (const LibraryEntry& entry : root.library->entries) out.push_back(&entry);
    }
    return out;
}

int EventGroup(const Event& event) {
    if (event.shape == EventShape::Fill) return 0;
    if (event.groupOverride == 1 || event.groupOverride == 2) return event.groupOverride;
    switch (event.shape) {
        case EventShape::Bloom:
        case EventShape::Contour: return 2;
        case EventShape::Fill:
        case EventShape::Bed: return 0;
        default: return 1;
    }
}

// ---- scoring ---------------------------------------------------------------------

namespace {

float Clamp01(float x) { return std::clamp(x, 0.0f, 1.0f); }

}  // namespace

std::array<float, kFeatureBandCount> BandShares(const LibraryEntry& e) {
    std::array<float, kFeatureBandCount> s{};
    float sum = 0.0f;
    for (int k = 0; k < kFeatureBandCount; ++k) sum += FeatureOf(e, BandFeature(k));
    for (int k = 0; k < kFeatureBandCount; ++k) s[k] = sum > 0.01f ? FeatureOf(e, BandFeature(k)) / sum : 0.2f;
    return s;
}

float Noisiness(const LibraryEntry& e) {
    return Clamp01(0.5f - 0.35f * e.harmonicity + 0.3f * e.spectralFlatness + 0.15f * Clamp01(FeatureOf(e, Feature::ZeroCrossings)) -
                   (e.pitchConfidence > 0.5f ? 0.1f : 0.0f));
}

namespace {

// What the keyword terms say of one entry: whether it may be chosen at all (every
// required term found, no excluded one), the number of plain and required terms of
// two characters or more, and their summed match counts.
struct KeywordFit {
    bool allowed = true;
    int terms = 0;
    int matches = 0;
};

KeywordFit FitKeywords(const std::vector<KeywordTerm>& terms, const LibraryEntry& e) {
    KeywordFit fit;
    for (const KeywordTerm& term : terms) {
        const int count = TermMatchCount(term.word, e);
        if (term.kind == TermKind::Required && count <= 0) return {false, 0, 0};
        if (term.kind == TermKind::Excluded && count > 0) return {false, 0, 0};
        if (term.kind != TermKind::Excluded && term.word.size() >= 2) {
            ++fit.terms;
            if (count > 0) fit.matches += count;
        }
    }
    return fit;
}

// The band profile a layer of intensity I wants, normalised to a sum of 1.
std::array<float, 5> WantedBands(float I) {
    const float centre = 0.8f * I + 0.1f;
    std::array<float, 5> P{};
    float psum = 0.0f;
    for (int k = 0; k < 5; ++k) {
        const float bc = 0.1f + 0.2f * k;
        P[k] = 0.97f * std::exp(-16.0f * (bc - centre) * (bc - centre)) + 0.03f;
        psum += P[k];
    }
    for (float& p : P) p /= psum;
    return P;
}

// How well a file's band shares `s` follow the wanted profile `P`, 0..1. Forced
// inline: a layer works it out for most files of a large library.
[[gnu::always_inline]] inline float BandFit(const std::array<float, kFeatureBandCount>& s, const std::array<float, 5>& P) {
    auto sq = [](float x) { return x * x; };
    const float dist2 = 1.4f * sq(s[0] - P[0]) + 0.8f * sq(s[1] - P[1]) + 0.6f * sq(s[2] - P[2]) +
                        sq(s[3] - P[3]) + 1.4f * sq(s[4] - P[4]);
    return std::max(0.0f, 1.0f - 2.5f * std::sqrt(dist2));
}

// The score of an entry that its keywords allow, from its traits and the layer's
// wanted bands `P`. The build's cached path and BaseScore both come here, so
// they cannot differ in a single bit.
float ScoreAllowed(const ScoreTraits& e, const std::array<float, 5>& P, const ScoreWishes& w, bool hasTerms,
                   const KeywordFit& fit) {
    const std::array<float, kFeatureBandCount>& s = e.shares;
    // 1. Keywords.
    float B = 50.0f, f = 0.01f, kw = 0.0f;
    if (hasTerms) {
        B = 30.0f;
        f = 0.1f;
        if (fit.terms >= 1 && fit.matches >= 1)
            kw = std::min(static_cast<float>(fit.matches) / (3.0f * fit.terms), 1.0f) * 50.0f;
    }
    const float I = w.intensity;
    const float centre = 0.8f * I + 0.1f;
    // 2. Wanted band profile: P. 3. Spectral fit.
    auto sq = [](float x) { return x * x; };
    const float sigma = BandFit(s, P);
    // 4. Intensity fit.
    const float dI = std::fabs(e.brightness - centre);
    if (dI > 0.4f) return 0.0f;
    const float phi = std::max(0.02f, 1.0f - (hasTerms ? 3.0f : 4.0f) * dI);
    // 5.
    float S = 0.5f * B * sigma * phi + kw + 0.3f * B * phi + 0.2f * B * sigma;
    // 6. Band occupancy.
    if (w.occupancy != nullptr && sigma > 0.1f) {
        const std::array<float, 5>& O = *w.occupancy;
        float M = 0.0f;
        for (float o : O) M = std::max(M, o);
        if (M > 0.01f) {
            static constexpr float kBandWeights[5] = {1.5f, 0.8f, 0.6f, 1.2f, 1.5f};
            float freeShare = 0.0f, clash = 0.0f;
            for (int k = 0; k < 5; ++k) {
                const float o = O[k] / M;
                freeShare += (1.0f - Clamp01(o)) * e.bands[k];
                if (o > 0.5f) clash += e.bands[k] * sq(2.0f * (o - 0.5f)) * kBandWeights[k];
            }
            S += 15.0f * sigma * Clamp01(2.0f * freeShare);
            S = std::max(1.0f, S - 10.0f * sigma * Clamp01(clash));
        }
    }
    // 7. Duration.
    const float D = e.duration;
    const float Dn = w.neededDuration;
    const bool swell = w.shape == EventShape::Bloom || w.shape == EventShape::Contour;
    if (D >= Dn) {
        S += 15.0f * Clamp01(D > 0.0f ? 2.0f * Dn / D : 1.0f);
    } else {
        const float r = Dn > 0.0f ? D / Dn : 1.0f;
        S += 7.5f * r;
        if (swell && r < 0.85f) S *= r;
    }
    // 8. Transient or sustained character.
    const float q = Clamp01(w.transient);
    const float ecc = e.eccentricity;
    S += 10.0f * ((1.0f - q) * e.sustainedFit + q * e.transientFit);
    // 9. Shape.
    switch (w.shape) {
        case EventShape::Spot:
            if (D >= 0.8f * Dn && Dn > 0.0f)
                S += 10.0f * (1.0f - 2.0f * std::fabs(std::min(2.0f * Dn, D) / (2.0f * Dn) - 0.5f));
            S += e.spotAttack;
            break;
        case EventShape::Bloom:
        case EventShape::Contour:
            S += e.swellShape;
            break;
        case EventShape::Fill:
            S += 5.0f * Clamp01(D / std::max(1.0f, Dn)) + 3.0f * Clamp01(1.0f - e.crest / 20.0f) +
                 3.0f * Clamp01(1.0f - 3.0f * e.flux) + 2.0f * Clamp01(2.0f * e.zeroCrossings) +
                 2.0f * (1.0f - 3.0f * ecc);
            break;
        case EventShape::Scatter:
            S += e.scatterShape;
            break;
        case EventShape::Clip:
        case EventShape::Bed: S += 7.5f; break;
    }
    // 10. Contrast.
    if (w.contrastRef >= 0.0f && w.contrastCount >= 1) {
        const float d = std::fabs(e.noisiness - w.contrastRef);
        S += 12.0f * Clamp01(2.0f * d);
        if (w.contrastCount >= 2 && d < 0.15f) S *= 0.7f;
    }
    // 11. Final weighting.
    const float h = std::sqrt(std::max(sigma, 0.0f) * std::max(phi, 0.0f));
    const float mu = h * (1.0f - f) + f;
    if (!hasTerms) return S * mu;
    float result = S * std::min(0.9f * std::max(0.0f, 1.0f - 3.0f * dI) + 0.1f, mu);
    if (kw < 0.01f) result *= 0.15f;
    return result;
}

// The most the duration, character and shape terms of ScoreAllowed can add for a
// file, whatever the layer's needed duration and transient wish.
float RestMost(const ScoreTraits& e, EventShape shape) {
    float shapeMost = 7.5f;
    switch (shape) {
        case EventShape::Spot: shapeMost = 10.0f + e.spotAttack; break;
        case EventShape::Bloom:
        case EventShape::Contour: shapeMost = e.swellShape; break;
        case EventShape::Fill:
            shapeMost = 5.0f + 3.0f * Clamp01(1.0f - e.crest / 20.0f) + 3.0f * Clamp01(1.0f - 3.0f * e.flux) +
                        2.0f * Clamp01(2.0f * e.zeroCrossings) + 2.0f * (1.0f - 3.0f * e.eccentricity);
            break;
        case EventShape::Scatter: shapeMost = e.scatterShape; break;
        case EventShape::Clip:
        case EventShape::Bed: break;
    }
    return 15.0f + 10.0f * std::max(e.sustainedFit, e.transientFit) + shapeMost;
}

// A ceiling on what ScoreAllowed (and the reference bonus after it) can give a
// file, from its brightness, band fit and keyword matches alone, every other term
// at its most. Never below the score, so a file whose ceiling cannot beat the
// scores already kept may be passed over unscored.
struct ScoreCeiling {
    float centre = 0, B = 50, f = 0.01f, slope = 4, extra = 0;
    bool hasTerms = false, reference = false;

    float Of(float brightness, float sigma, float restMost, const KeywordFit& fit) const {
        float kw = 0.0f;
        if (hasTerms && fit.terms >= 1 && fit.matches >= 1)
            kw = std::min(static_cast<float>(fit.matches) / (3.0f * fit.terms), 1.0f) * 50.0f;
        return AtDistance(std::fabs(brightness - centre), sigma, restMost, kw);
    }

    // Never rises with the distance `dI` from the wanted brightness, nor falls with
    // the band fit `sigma`.
    float AtDistance(float dI, float sigma, float restMost, float kw) const {
        const float phi = std::max(0.02f, 1.0f - slope * dI);
        const float S = std::max(1.0f, 0.5f * B * sigma * phi + 0.3f * B * phi + kw + 0.2f * B * sigma + restMost + extra);
        float most = S * (std::sqrt(sigma * phi) * (1.0f - f) + f);
        if (hasTerms && kw < 0.01f) most *= 0.15f;
        if (reference) most = std::max(1.5f * most, most + 15.0f);
        // Room for the rounding of sums taken in another order.
        return most * 1.001f + 0.01f;
    }

    // A distance from the wanted brightness beyond which no file of the pool (none
    // adding more than `restMost` and a full keyword term) can score above `floor`.
    float Reach(float floor, float restMost) const {
        const float kw = hasTerms ? 50.0f : 0.0f;
        float near = 0.0f, far = 0.4f;  // beyond 0.4 every score is 0
        if (AtDistance(far, 1.0f, restMost, kw) > floor) return far;
        if (!(AtDistance(near, 1.0f, restMost, kw) > floor)) return -1.0f;
        for (int step = 0; step < 24; ++step) {
            const float mid = 0.5f * (near + far);
            (AtDistance(mid, 1.0f, restMost, kw) > floor ? near : far) = mid;
        }
        return far;
    }
};

}  // namespace

ScoreTraits TraitsOf(const LibraryEntry& e) {
    ScoreTraits t;
    for (int k = 0; k < kFeatureBandCount; ++k) t.bands[k] = FeatureOf(e, BandFeature(k));
    t.shares = BandShares(e);
    t.brightness = FeatureOf(e, Feature::Brightness);
    t.zeroCrossings = FeatureOf(e, Feature::ZeroCrossings);
    t.crest = FeatureOf(e, Feature::Crest);
    t.timeCentroid = FeatureOf(e, Feature::TimeCentroid);
    t.flux = FeatureOf(e, Feature::Flux);
    t.duration = e.duration;
    t.attackTime = e.attackTime;
    t.noisiness = Noisiness(e);
    // The parts of the character and shape terms that depend on the file alone,
    // each the very sum the score adds, so a layer only combines them.
    const float a = 2.5f * t.flux;
    const float crest18 = t.crest / 18.0f;
    t.eccentricity = std::fabs(t.timeCentroid - 0.5f);
    t.sustainedFit = 0.3f * Clamp01(1.0f - a) + 0.4f * Clamp01(1.0f - crest18) + 0.3f * (1.0f - 2.0f * t.eccentricity);
    t.transientFit = 0.3f * Clamp01(1.0f - 5.0f * t.attackTime) + 0.4f * Clamp01(crest18) + 0.3f * Clamp01(a);
    t.spotAttack = 5.0f * Clamp01(1.0f - 3.0f * t.attackTime);
    t.swellShape = 5.0f * Clamp01(2.0f * t.zeroCrossings) + 5.0f * Clamp01(1.0f - t.crest / 20.0f) +
                   5.0f * (1.0f - 3.0f * t.eccentricity);
    t.scatterShape = 10.0f * Clamp01(2.0f * t.flux) + 5.0f * Clamp01(t.crest / 15.0f);
    return t;
}

float BaseScore(const LibraryEntry& e, const ScoreWishes& w) {
    const bool hasTerms = w.terms != nullptr && !w.terms->empty();
    const KeywordFit fit = hasTerms ? FitKeywords(*w.terms, e) : KeywordFit{};
    if (!fit.allowed) return 0.0f;
    return ScoreAllowed(TraitsOf(e), WantedBands(w.intensity), w, hasTerms, fit);
}

namespace {

bool Contains(const std::vector<std::string>& list, const std::string& value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}


}  // namespace

bool IsFileBanned(const TimelineState& timeline, const LibraryEntry& e) {
    if (!e.fileId.empty() && Contains(timeline.bannedFileIds, e.fileId)) return true;
    return Contains(timeline.bannedFiles, e.path);
}

namespace {

float ReferenceBonus(const ReferenceSet& ref, const LibraryEntry& e, float score) {
    if (Contains(ref.paths, e.path)) return score * 1.5f;
    const std::array<float, 5> s = BandShares(e);
    float d = 0.0f;
    for (int k = 0; k < 5; ++k) d += (s[k] - ref.profile[k]) * (s[k] - ref.profile[k]);
    d += 1.5f * (FeatureOf(e, Feature::Centroid) - ref.profile[5]) * (FeatureOf(e, Feature::Centroid) - ref.profile[5]);
    d += (FeatureOf(e, Feature::ZeroCrossings) - ref.profile[6]) * (FeatureOf(e, Feature::ZeroCrossings) - ref.profile[6]);
    d += (e.spectralFlatness - ref.profile[7]) * (e.spectralFlatness - ref.profile[7]);
    return score + 15.0f * std::exp(-8.0f * d);
}

void SortDescending(std::vector<ScoredCandidate>& list, size_t keep) {
    keep = std::min(keep, list.size());
    auto higher = [](const ScoredCandidate& a, const ScoredCandidate& b) { return a.score > b.score; };
    std::partial_sort(list.begin(), list.begin() + static_cast<std::ptrdiff_t>(keep), list.end(), higher);
    list.resize(keep);
}

}  // namespace

std::vector<ScoredCandidate> ScoreCandidates(const TimelineState& timeline,
                                             const std::vector<const LibraryEntry*>& candidates,
                                             const ScoreWishes& wishes, int maxCount, const ReferenceSet* reference) {
    SelectionCache cache;
    return ScoreCandidates(cache, timeline, candidates, wishes, maxCount, reference);
}

// ---- what a build keeps between layers -------------------------------------------

namespace {

void AppendFolded(std::string& out, std::string_view text) {
    for (char c : text) out += Lower(c);
}

// Adds the entries of `candidates` the index does not hold yet.
void IndexEntries(WordIndex& index, const std::vector<const LibraryEntry*>& candidates) {
    for (const LibraryEntry* e : candidates) {
        if (e == nullptr || index.slotOf.count(e) != 0) continue;
        const uint32_t slot = static_cast<uint32_t>(index.entries.size());
        index.slotOf.emplace(e, slot);
        index.entries.push_back(e);
        const size_t start = index.text.size();
        index.nameAt.push_back(start);
        AppendFolded(index.text, e->name);
        index.otherAt.push_back(index.text.size());
        // A space never occurs in a term (the keywords are split at spaces), so no
        // term is found across two fields, and it bounds a word as a field's end does.
        AppendFolded(index.text, e->path);
        index.text += ' ';
        AppendFolded(index.text, e->description);
        index.text += ' ';
        AppendFolded(index.text, e->keywords);
        const std::string_view all(index.text.data() + start, index.text.size() - start);
        for (size_t at = 0; at < all.size();) {
            if (!IsAsciiLetter(all[at])) {
                ++at;
                continue;
            }
            size_t end = at;
            while (end < all.size() && IsAsciiLetter(all[end])) ++end;
            std::vector<uint32_t>& slots = index.words[std::string(all.substr(at, end - at))];
            if (slots.empty() || slots.back() != slot) slots.push_back(slot);
            at = end;
        }
    }
}

// TermFoundIn over folded text with a folded term (wildcards already removed).
bool FoundFolded(std::string_view word, bool openLeft, bool openRight, std::string_view text) {
    for (size_t at = text.find(word); at != std::string_view::npos; at = text.find(word, at + 1)) {
        if (openLeft && openRight) return true;
        const bool leftOk = openLeft || at == 0 || !IsAsciiLetter(text[at - 1]);
        const size_t after = at + word.size();
        const bool rightOk = openRight || after == text.size() || !IsAsciiLetter(text[after]);
        if (leftOk && rightOk) return true;
    }
    return false;
}

// The slots whose words can hold the folded term: an occurrence of its longest run
// of letters always lies inside one word of the text. A term of letters alone must
// be the whole word, its start or its end, as its wildcards say. Null: every slot.
std::vector<uint8_t> SlotsThatCanHold(const WordIndex& index, std::string_view word, bool openLeft, bool openRight) {
    size_t bestAt = 0, bestLength = 0;
    for (size_t at = 0; at < word.size();) {
        size_t end = at;
        while (end < word.size() && IsAsciiLetter(word[end])) ++end;
        if (end - at > bestLength) bestAt = at, bestLength = end - at;
        at = end == at ? at + 1 : end;
    }
    std::vector<uint8_t> may(index.entries.size(), bestLength == 0 ? 1 : 0);
    if (bestLength == 0) return may;
    const std::string_view piece = word.substr(bestAt, bestLength);
    const bool lettersOnly = bestLength == word.size();
    auto mark = [&](const std::vector<uint32_t>& slots) {
        for (uint32_t slot : slots) may[slot] = 1;
    };
    if (lettersOnly && !openLeft && !openRight) {
        auto found = index.words.find(std::string(piece));
        if (found != index.words.end()) mark(found->second);
        return may;
    }
    for (const auto& [text, slots] : index.words) {
        const std::string_view w(text);
        bool holds;
        if (lettersOnly && !openLeft) holds = w.substr(0, piece.size()) == piece;
        else if (lettersOnly && !openRight) holds = w.size() >= piece.size() && w.substr(w.size() - piece.size()) == piece;
        else holds = w.find(piece) != std::string_view::npos;
        if (holds) mark(slots);
    }
    return may;
}

// TermMatchCount of `term` for every slot of the index.
std::vector<uint8_t> CountMatches(const WordIndex& index, std::string_view term) {
    std::vector<uint8_t> counts(index.entries.size(), 0);
    std::string_view rest = term;
    const bool openLeft = !rest.empty() && rest.front() == '*';
    if (openLeft) rest.remove_prefix(1);
    const bool openRight = !rest.empty() && rest.back() == '*';
    if (openRight) rest.remove_suffix(1);
    if (term.size() < 2 || rest.size() < 2) return counts;
    if (rest.find(' ') != std::string_view::npos) {
        // Not a term the keyword parser makes; the plain search answers it.
        for (size_t slot = 0; slot < counts.size(); ++slot)
            counts[slot] = static_cast<uint8_t>(TermMatchCount(term, *index.entries[slot]));
        return counts;
    }
    std::string word;
    AppendFolded(word, rest);
    const std::vector<uint8_t> may = SlotsThatCanHold(index, word, openLeft, openRight);
    const std::string_view text(index.text);
    for (size_t slot = 0; slot < counts.size(); ++slot) {
        if (!may[slot]) continue;
        const size_t end = slot + 1 < counts.size() ? index.nameAt[slot + 1] : text.size();
        const size_t other = index.otherAt[slot];
        if (FoundFolded(word, openLeft, openRight, text.substr(index.nameAt[slot], other - index.nameAt[slot])))
            counts[slot] = 3;
        else if (FoundFolded(word, openLeft, openRight, text.substr(other, end - other)))
            counts[slot] = 2;
    }
    return counts;
}

const std::vector<uint8_t>& TermCounts(SelectionCache& cache, const std::string& term) {
    std::vector<uint8_t>& counts = cache.termCounts[term];
    // Counted before the index grew: count again over every slot.
    if (counts.size() != cache.index.entries.size()) counts = CountMatches(cache.index, term);
    return counts;
}

CandidatePool& PoolOf(SelectionCache& cache, const TimelineState& timeline,
                      const std::vector<const LibraryEntry*>& candidates) {
    for (const std::unique_ptr<CandidatePool>& pool : cache.pools)
        if (pool->candidates == candidates) return *pool;
    auto pool = std::make_unique<CandidatePool>();
    pool->candidates = candidates;
    const size_t n = candidates.size();
    pool->banned.resize(n);
    pool->traits.resize(n);
    for (size_t i = 0; i < n; ++i) {
        const LibraryEntry* e = candidates[i];
        pool->banned[i] = e == nullptr || IsFileBanned(timeline, *e);
        if (e != nullptr) pool->traits[i] = TraitsOf(*e);
    }
    cache.pools.push_back(std::move(pool));
    return *cache.pools.back();
}

// The pool's brightness, band shares and RestMost for `shape`, worked out once per pool.
const std::vector<float>& RestMostOf(CandidatePool& pool, EventShape shape) {
    const size_t n = pool.candidates.size();
    if (pool.brightness.size() != n) {
        pool.brightness.resize(n);
        pool.shares.resize(n);
        for (size_t i = 0; i < n; ++i) {
            pool.brightness[i] = pool.traits[i].brightness;
            pool.shares[i] = pool.traits[i].shares;
        }
    }
    std::vector<float>& most = pool.restMost[static_cast<size_t>(shape)];
    if (most.size() != n) {
        most.resize(n);
        float& top = pool.restMostTop[static_cast<size_t>(shape)];
        top = 0.0f;
        for (size_t i = 0; i < n; ++i) {
            most[i] = RestMost(pool.traits[i], shape);
            top = std::max(top, most[i]);
        }
    }
    return most;
}

// FitKeywords for every candidate of the pool, from the per-term counts.
const CandidatePool::TermFits& FitsOf(SelectionCache& cache, CandidatePool& pool,
                                      const std::vector<KeywordTerm>& terms) {
    std::string key;
    for (const KeywordTerm& term : terms) {
        key += static_cast<char>('0' + static_cast<int>(term.kind));
        key += term.word;
        key += '\0';
    }
    auto known = pool.fits.find(key);
    if (known != pool.fits.end()) return known->second;
    const size_t n = pool.candidates.size();
    if (pool.slots.size() != n) {
        // The words are indexed the first time a term is asked of the list: a build
        // without keywords never reads the entries' text at all.
        IndexEntries(cache.index, pool.candidates);
        pool.slots.assign(n, 0);
        for (size_t i = 0; i < n; ++i)
            if (pool.candidates[i] != nullptr) pool.slots[i] = cache.index.slotOf.at(pool.candidates[i]);
    }
    CandidatePool::TermFits fits;
    fits.allowed.assign(n, 1);
    fits.matches.assign(n, 0);
    for (const KeywordTerm& term : terms) {
        const std::vector<uint8_t>& counts = TermCounts(cache, term.word);
        const bool counted = term.kind != TermKind::Excluded && term.word.size() >= 2;
        fits.terms += counted ? 1 : 0;
        for (size_t i = 0; i < n; ++i) {
            if (pool.banned[i]) continue;
            const int count = counts[pool.slots[i]];
            if ((term.kind == TermKind::Required && count <= 0) || (term.kind == TermKind::Excluded && count > 0))
                fits.allowed[i] = 0;
            else if (counted && count > 0)
                fits.matches[i] += count;
        }
    }
    return pool.fits.emplace(std::move(key), std::move(fits)).first->second;
}

}  // namespace

std::vector<ScoredCandidate> ScoreCandidates(SelectionCache& cache, const TimelineState& timeline,
                                             const std::vector<const LibraryEntry*>& candidates,
                                             const ScoreWishes& wishes, int maxCount, const ReferenceSet* reference) {
    CandidatePool& pool = PoolOf(cache, timeline, candidates);
    const bool hasTerms = wishes.terms != nullptr && !wishes.terms->empty();
    const CandidatePool::TermFits* fits = hasTerms ? &FitsOf(cache, pool, *wishes.terms) : nullptr;
    const std::array<float, 5> wanted = WantedBands(wishes.intensity);
    const float centre = 0.8f * wishes.intensity + 0.1f;
    // Most of a large library can pass 5.0: the list is the cache's, so its room is
    // made once per build rather than once per layer.
    std::vector<ScoredCandidate>& out = cache.scored;
    out.clear();
    const bool referenceActive = reference != nullptr && reference->active && reference->count >= 1;
    // Once `keep` scores are listed, a file can only change the kept few by beating
    // the lowest of the best `keep` listed so far (`floor`); a file whose ceiling
    // cannot is left out of the list. The partial sort below would have passed over
    // it without moving anything, so the kept few and their order are the same.
    const size_t keep = static_cast<size_t>(std::max(0, maxCount));
    const std::vector<float>& restMost = RestMostOf(pool, wishes.shape);
    const float poolRestMost = pool.restMostTop[static_cast<size_t>(wishes.shape)];
    ScoreCeiling ceiling;
    ceiling.centre = centre;
    ceiling.hasTerms = hasTerms;
    ceiling.B = hasTerms ? 30.0f : 50.0f;
    ceiling.f = hasTerms ? 0.1f : 0.01f;
    ceiling.slope = hasTerms ? 3.0f : 4.0f;
    ceiling.extra = (wishes.occupancy != nullptr ? 15.0f : 0.0f) +
                    (wishes.contrastRef >= 0.0f && wishes.contrastCount >= 1 ? 12.0f : 0.0f);
    ceiling.reference = referenceActive;
    std::vector<float>& topScores = cache.topScores;  // a min-heap of the best `keep` listed
    topScores.clear();
    const auto lower = [](float a, float b) { return a > b; };
    // Files farther than `reach` from the wanted brightness cannot beat the floor:
    // a large share of a library is passed over on that one test.
    float reach = 1e30f;
    const LibraryEntry* best = nullptr;
    float bestScore = 0.0f;
    for (size_t i = 0; i < pool.candidates.size(); ++i) {
        if (pool.banned[i] || std::fabs(pool.brightness[i] - centre) > reach) continue;
        const LibraryEntry* e = pool.candidates[i];
        if (keep > 0 && topScores.size() == keep) {
            const KeywordFit fit = fits == nullptr ? KeywordFit{} : KeywordFit{true, fits->terms, fits->matches[i]};
            const float sigma = BandFit(pool.shares[i], wanted);
            if (!(ceiling.Of(pool.brightness[i], sigma, restMost[i], fit) > topScores.front())) continue;
        }
        // A file too far from the wanted brightness scores 0 whatever else it has;
        // most of a large library is passed over here without the rest of the sums.
        const ScoreTraits& traits = pool.traits[i];
        const bool mayScore = !(std::fabs(traits.brightness - centre) > 0.4f) && (fits == nullptr || fits->allowed[i]);
        float score = 0.0f;
        if (mayScore && fits == nullptr) score = ScoreAllowed(traits, wanted, wishes, false, KeywordFit{});
        else if (mayScore) score = ScoreAllowed(traits, wanted, wishes, true, KeywordFit{true, fits->terms, fits->matches[i]});
        if (best == nullptr || score > bestScore) best = e, bestScore = score;
        if (!(score > 5.0f)) continue;
        if (referenceActive) score = ReferenceBonus(*reference, *e, score);
        out.push_back({e, score});
        if (keep == 0) continue;
        if (topScores.size() < keep) {
            topScores.push_back(score);
            std::push_heap(topScores.begin(), topScores.end(), lower);
        } else if (score > topScores.front()) {
            std::pop_heap(topScores.begin(), topScores.end(), lower);
            topScores.back() = score;
            std::push_heap(topScores.begin(), topScores.end(), lower);
        } else {
            continue;
        }
        if (topScores.size() == keep) reach = ceiling.Reach(topScores.front(), poolRestMost);
    }
    if (out.empty() && best != nullptr) out.push_back({best, std::max(0.01f, bestScore)});
    SortDescending(out, static_cast<size_t>(std::max(0, maxCount)));
    return out;  // a copy of the few kept
}

// ---- repeats and the draw --------------------------------------------------------

float RepeatFactor(const LibraryEntry& entry, const std::vector<UsageRecord>& eventUsage,
                   const std::vector<UsageRecord>& buildUsage, float eventStart) {
    for (const UsageRecord& u : eventUsage) {
        if (u.path == entry.path) return 0.0f;
        if (!entry.fileId.empty() && u.fileId == entry.fileId) return 0.0f;
    }
    int n = 0;
    float d = 0.0f;
    for (const UsageRecord& u : buildUsage) {
        if (u.path != entry.path) continue;
        const float gap = std::fabs(eventStart - u.eventStart);
        d = n == 0 ? gap : std::min(d, gap);
        ++n;
    }
    if (n == 0) return 1.0f;
    const float base = d < 3.0f ? 0.1f : d < 5.0f ? 0.2f : d < 12.0f ? 0.5f : 1.0f;
    const float often = n >= 4 ? 0.3f : n >= 2 ? 0.5f : 0.75f;
    return base * often;
}

void ApplyRepeatFactors(std::vector<ScoredCandidate>& scored, const std::vector<UsageRecord>& eventUsage,
                        const std::vector<UsageRecord>& buildUsage, float eventStart) {
    for (ScoredCandidate& c : scored) c.score *= RepeatFactor(*c.entry, eventUsage, buildUsage, eventStart);
    std::erase_if(scored, [](const ScoredCandidate& c) { return !(c.score > 0.0f); });
    std::stable_sort(scored.begin(), scored.end(),
                     [](const ScoredCandidate& a, const ScoredCandidate& b) { return a.score > b.score; });
}

int PickWeighted(const std::vector<ScoredCandidate>& scored, BuildRng& rng) {
    if (scored.size() <= 1) return 0;
    double total = 0.0;
    for (const ScoredCandidate& c : scored) total += c.score;
    if (!(total > 0.0)) return 0;
    const double goal = rng.Next() * total;
    double running = 0.0;
    for (size_t i = 0; i < scored.size(); ++i) {
        running += scored[i].score;
        if (running >= goal) return static_cast<int>(i);
    }
    return 0;
}

// ---- source offset ---------------------------------------------------------------

EnvelopeSource FileEnvelopeSource() {
    return [](const std::string& path) { return LoudnessEnvelope(path, 20.0f); };
}

float EnvelopeSimilarity(const TargetCurve16& window, const TargetCurve16& target) {
    // Shape against shape: the target is scaled so its peak sits at the window's
    // full scale; the window keeps its level relative to the whole file, so a quiet
    // tail never passes for a loud target.
    float peak = 0.0f;
    for (float t : target) peak = std::max(peak, t);
    const float scale = peak > 1e-6f ? 1.0f / peak : 0.0f;
    float d = 0.0f;
    for (int i = 0; i < kTargetCurvePoints; ++i) {
        const float diff = window[i] - target[i] * scale;
        d += diff * diff;
    }
    return -d / kTargetCurvePoints;
}

namespace {

// Envelope value at time t (20 points per second, point i centred on (i + 0.5) / 20).
float EnvelopeAt(const std::vector<float>& env, float t) {
    const float x = t * 20.0f - 0.5f;
    if (x <= 0.0f) return env.front();
    const size_t i = static_cast<size_t>(x);
    if (i + 1 >= env.size()) return env.back();
    const float frac = x - static_cast<float>(i);
    return env[i] * (1.0f - frac) + env[i + 1] * frac;
}

}  // namespace

SourceSpan ChooseSourceOffset(const LibraryEntry& entry, float needed, const TargetCurve16& target, BuildRng& rng,
                              const EnvelopeSource& envelopes) {
    const float D = entry.duration;
    if (D <= needed) return {0.0f, D};
    const float F = D - needed;
    if (F <= 0.01f) return {0.0f, needed};
    std::vector<float> env = envelopes ? envelopes(entry.path) : std::vector<float>{};
    if (env.empty()) return {rng.Next() * F, needed};
    float envPeak = 0.0f;
    for (float v : env) envPeak = std::max(envPeak, v);
    const float norm = envPeak > 1e-9f ? 1.0f / envPeak : 0.0f;
    const int N = std::clamp(static_cast<int>(std::floor(F * 10.0f)), 10, 50);
    float bestOffset = 0.0f, bestSim = -1e30f;
    for (int k = 0; k < N; ++k) {
        const float offset = N < 2 ? 0.0f : static_cast<float>(k) * F / static_cast<float>(N - 1);
        TargetCurve16 window{};
        for (int i = 0; i < kTargetCurvePoints; ++i)
            window[i] = EnvelopeAt(env, offset + (i + 0.5f) / kTargetCurvePoints * needed) * norm;
        const float sim = EnvelopeSimilarity(window, target);
        if (sim > bestSim) bestSim = sim, bestOffset = offset;
    }
    return {bestOffset, needed};
}

// ---- layer history ---------------------------------------------------------------

bool HistoryCanGoBack(const Layer& layer) {
    const LayerHistory& h = layer.history;
    return h.cursor > 0 || (h.cursor == -1 && !h.entries.empty());
}

bool HistoryCanGoForward(const Layer& layer) {
    const LayerHistory& h = layer.history;
    return h.cursor >= 0 && h.cursor < static_cast<int32_t>(h.entries.size()) - 1;
}

const char* HistoryBackTooltip(const Layer& layer) { return HistoryCanGoBack(layer) ? "Previous sound" : "No history"; }

const char* HistoryForwardTooltip(const Layer& layer) {
    return HistoryCanGoForward(layer) ? "Next sound (history)" : "Next sound";
}

namespace {

// A snapshot holds the sound alone: no history of its own.
Layer Snapshot(const Layer& layer) {
    Layer snapshot = layer;
    snapshot.history = {};
    return snapshot;
}

// The sound of a snapshot replaces the layer's; where it sits on the timeline, what
// the passes decided (track, muting, ducking) and the history stay with the layer.
void RestoreSound(const Layer& snapshot, Layer& layer) {
    Layer restored = snapshot;
    restored.startTime = layer.startTime;
    restored.duration = layer.duration;
    restored.eventIdx = layer.eventIdx;
    restored.track = layer.track;
    restored.group = layer.group;
    restored.groupTrack = layer.groupTrack;
    restored.muted = layer.muted;
    restored.deconOffset = layer.deconOffset;
    restored.hasDeconGain = layer.hasDeconGain;
    restored.deconGain = layer.deconGain;
    restored.history = std::move(layer.history);
    layer = std::move(restored);
}

}  // namespace

void HistoryRecord(Layer& layer, const Layer& previous) {
    LayerHistory history = previous.history;
    // A fresh choice made while looking back drops nothing: the newest sound is
    // already kept at the end, so only a live sound is added.
    if (history.cursor == -1) history.entries.push_back(Snapshot(previous));
    if (static_cast<int>(history.entries.size()) > kLayerHistoryMax)
        history.entries.erase(history.entries.begin(),
                              history.entries.end() - kLayerHistoryMax);
    history.cursor = -1;
    layer.history = std::move(history);
}

bool HistoryBack(Layer& layer) {
    if (!HistoryCanGoBack(layer)) return false;
    LayerHistory& h = layer.history;
    if (h.cursor == -1) {
        // Keep the live choice so "Next sound (history)" can come back to it.
        h.entries.push_back(Snapshot(layer));
        h.cursor = static_cast<int32_t>(h.entries.size()) - 2;
    } else {
        --h.cursor;
    }
    const Layer snapshot = h.entries[static_cast<size_t>(h.cursor)];
    RestoreSound(snapshot, layer);
    return true;
}

bool HistoryForward(Layer& layer) {
    if (!HistoryCanGoForward(layer)) return false;
    ++layer.history.cursor;
    const Layer snapshot = layer.history.entries[static_cast<size_t>(layer.history.cursor)];
    RestoreSound(snapshot, layer);
    return true;
}

// ---- texts -----------------------------------------------------------------------

std::string PlaceholderStatusText(int count, bool libraryHasRoots) {
    if (count <= 0) return {};
    char text[128];
    std::snprintf(text, sizeof(text),
                  libraryHasRoots ? "Some files unreadable — %d placeholder clip%s" : "No palette — %d placeholder clip%s",
                  count, count == 1 ? "" : "s");
    return text;
}

}  // namespace morvane
