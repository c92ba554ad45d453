#include "engine/scale.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "library/file_id.h"

namespace morvane {
namespace {

struct ScaleDef {
    const char* name;
    std::array<int, 12> notes;
    int count;
};

constexpr ScaleDef kScales[kScaleCount] = {
    {"Off", {}, 0},
    {"Major", {0, 2, 4, 5, 7, 9, 11}, 7},
    {"Natural Minor", {0, 2, 3, 5, 7, 8, 10}, 7},
    {"Harmonic Minor", {0, 2, 3, 5, 7, 8, 11}, 7},
    {"Dorian", {0, 2, 3, 5, 7, 9, 10}, 7},
    {"Mixolydian", {0, 2, 4, 5, 7, 9, 10}, 7},
    {"Pentatonic", {0, 2, 4, 7, 9}, 5},
    {"Minor Pentatonic", {0, 3, 5, 7, 10}, 5},
    {"Blues", {0, 3, 5, 6, 7, 10}, 6},
    {"Whole Tone", {0, 2, 4, 6, 8, 10}, 6},
    {"Chromatic", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, 12},
    {"Maj7", {0, 4, 7, 11}, 4},
    {"Min7", {0, 3, 7, 10}, 4},
    {"Dom7", {0, 4, 7, 10}, 4},
    {"Sus4", {0, 5, 7}, 3},
    {"Sus2", {0, 2, 7}, 3},
    {"Power (1-5)", {0, 7}, 2},
};

constexpr const char* kRootNames[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};

}  // namespace

const char* ScaleName(int scaleIndex) {
    if (scaleIndex < 0 || scaleIndex >= kScaleCount) return kScales[0].name;
    return kScales[scaleIndex].name;
}

const char* ScaleRootName(int root) { return kRootNames[std::clamp(root, 0, 11)]; }

std::span<const int> ScaleNotes(int scaleIndex) {
    if (scaleIndex <= 0 || scaleIndex >= kScaleCount) return {};
    const ScaleDef& s = kScales[scaleIndex];
    return {s.notes.data(), static_cast<size_t>(s.count)};
}

float TuningShift(float note, int scaleIndex, int root) {
    const std::span<const int> notes = ScaleNotes(scaleIndex);
    if (notes.empty() || !std::isfinite(note)) return 0.0f;
    const float p = std::fmod(note - static_cast<float>(root) + 1200.0f, 12.0f);
    float best = 0.0f;
    bool found = false;
    for (int n : notes) {
        float d = static_cast<float>(n) - p;
        if (d > 6.0f) d -= 12.0f;
        if (d < -6.0f) d += 12.0f;
        if (!found || std::fabs(d) < std::fabs(best)) best = d, found = true;
    }
    return std::min(best, 6.0f);
}

bool PitchAccepted(float frequencyHz, float confidence) {
    return frequencyHz > 20.0f && frequencyHz < 10000.0f && confidence > 0.25f;
}

float LayerTuningShift(int scaleType, int scaleRoot, int scaleTuneOverride, bool isFill, bool pitchAccepted,
                       float note) {
    if (scaleType <= 0 || scaleType == kScaleChromatic || scaleTuneOverride == 2 || isFill || !pitchAccepted)
        return 0.0f;
    return TuningShift(note, scaleType, scaleRoot);
}

float DrawPitchVarShift(float pitchVariation, int pitchShiftProb, float u1, float u2, float u3) {
    float shift = 0.0f;
    const float variation = std::clamp(pitchVariation, 0.0f, 1.0f);
    if (variation > 0.0f) shift += (2.0f * u1 - 1.0f) * variation;
    const int prob = std::clamp(pitchShiftProb, 0, 100);
    if (prob > 0 && u2 * 100.0f < static_cast<float>(prob)) {
        // Never a token shift: at least half a semitone, so the choice is audible.
        const float amount = 0.5f + 1.5f * std::fabs(2.0f * u3 - 1.0f);
        shift += u3 < 0.5f ? -amount : amount;
    }
    return shift;
}

uint32_t LayerVariationHash(const Layer& layer) {
    uint64_t h = HashBytes(layer.filepath.data(), layer.filepath.size());
    const float values[3] = {layer.startTime, layer.sourceOffset, static_cast<float>(layer.eventIdx)};
    h = HashBytes(values, sizeof(values), h);
    return static_cast<uint32_t>(h ^ (h >> 32));
}

bool LayerReversed(const Layer& layer, int reverseProb) {
    if (layer.procMode == ProcMode::Fill || reverseProb <= 0) return false;
    const uint32_t h = LayerVariationHash(layer);
    return static_cast<int>(h % 100u) < std::min(reverseProb, 100);
}

float LayerFrequencyShiftHz(const Layer& layer, int freqShiftIntensity) {
    if (layer.procMode == ProcMode::Fill || freqShiftIntensity <= 0) return 0.0f;
    const uint32_t h = LayerVariationHash(layer) >> 8;
    const float u = static_cast<float>(h & 0xFFFF) / 65535.0f;  // independent of the reverse bits
    return (2.0f * u - 1.0f) * 40.0f * static_cast<float>(std::min(freqShiftIntensity, 100)) / 100.0f;
}

}  // namespace morvane
