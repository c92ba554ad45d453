#include "model/timeline.h"

#include <algorithm>

namespace morvane {

// Written out rather than defaulted: a history holds layers that hold histories, and
// some compilers cannot instantiate a defaulted comparison through that recursion.
bool LayerHistory::operator==(const LayerHistory& other) const {
    return cursor == other.cursor && entries == other.entries;
}

const char* const kEventShapeNames[kEventShapeCount] = {"Spot", "Bloom", "Contour", "Fill",
                                                        "Scatter", "Clip", "Bed"};

EventShape EventShapeFromInt(int value) {
    return static_cast<EventShape>(std::clamp(value, 0, kEventShapeCount - 1));
}

const char* EventShapeName(EventShape shape) {
    return kEventShapeNames[static_cast<int>(EventShapeFromInt(static_cast<int>(shape)))];
}

std::string CutText(std::string_view text, size_t maxBytes) {
    if (text.size() <= maxBytes) return std::string(text);
    size_t cut = maxBytes;
    // Back off over continuation bytes so the last character stays whole. A character has
    // at most three of them; a longer run is not UTF-8, and backing off over it could cut
    // a whole name down to nothing.
    size_t backedOff = 0;
    while (cut > 0 && backedOff < 3 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut, ++backedOff;
    if ((static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) cut = maxBytes;
    return std::string(text.substr(0, cut));
}

bool IsEventLocked(const Event& event) {
    return event.locked || event.shape == EventShape::Clip || event.shape == EventShape::Bed;
}

void ClampTimelineSettings(TimelineSettings& s) {
    s.scaleType = std::clamp(s.scaleType, 0, 16);
    s.scaleRoot = std::clamp(s.scaleRoot, 0, 11);
    s.pitchShiftProb = std::clamp(s.pitchShiftProb, 0, 100);
    s.freqShiftIntensity = std::clamp(s.freqShiftIntensity, 0, 100);
    s.reverseProb = std::clamp(s.reverseProb, 0, 100);
    s.alloyAlgorithm = std::clamp(s.alloyAlgorithm, 0, 3);
    s.alloyTransferDepth = std::clamp(s.alloyTransferDepth, 0.0f, 1.0f);
    s.alloyAttackGraft = std::clamp(s.alloyAttackGraft, 0.0f, 0.2f);
    s.alloyMicroPitch = std::clamp(s.alloyMicroPitch, 0.0f, 0.15f);
    s.alloyFilterBands = std::clamp(s.alloyFilterBands, 4, 24);
}

std::mutex timelineMutex;

bool IsProjectSampleRate(int rate) {
    return rate == 44100 || rate == 48000 || rate == 88200 || rate == 96000;
}

Project& CurrentProject() {
    static Project project;
    return project;
}

}  // namespace morvane
