#include "audio/reference_audio.h"

#include <algorithm>
#include <atomic>
#include <mutex>

namespace morvane {

namespace {

// The audio thread reads the current record through a raw pointer and announces it in
// `gInUse` (a hazard pointer) while it mixes. Publishers keep every record alive in
// `gOwners` until it is neither current nor announced, so the last reference is never
// dropped on the audio thread. There is one audio thread, hence one announcement.
std::atomic<const ReferenceAudio*> gCurrent{nullptr};
std::atomic<const ReferenceAudio*> gInUse{nullptr};
std::atomic<float> gGain{1.0f};

std::mutex gOwnersLock;
std::vector<std::shared_ptr<const ReferenceAudio>> gOwners;

// With gOwnersLock held: frees what nobody reads any more.
void SweepLocked() {
    const ReferenceAudio* current = gCurrent.load();
    const ReferenceAudio* inUse = gInUse.load();
    std::erase_if(gOwners, [&](const std::shared_ptr<const ReferenceAudio>& owner) {
        return owner.get() != current && owner.get() != inUse;
    });
}

}  // namespace

void PublishReferenceAudio(std::shared_ptr<const ReferenceAudio> audio) {
    std::lock_guard<std::mutex> guard(gOwnersLock);
    if (audio) gOwners.push_back(audio);
    gCurrent.store(audio.get());
    SweepLocked();
}

std::shared_ptr<const ReferenceAudio> CurrentReferenceAudio() {
    std::lock_guard<std::mutex> guard(gOwnersLock);
    const ReferenceAudio* current = gCurrent.load();
    for (const auto& owner : gOwners)
        if (owner.get() == current) return owner;
    return nullptr;
}

void CollectReferenceAudio() {
    std::lock_guard<std::mutex> guard(gOwnersLock);
    SweepLocked();
}

void SetReferenceGain(float gain) { gGain.store(std::max(0.0f, gain), std::memory_order_relaxed); }
float ReferenceGain() { return gGain.load(std::memory_order_relaxed); }

void MixReferenceAudio(float* left, float* right, int frames, double videoTime, int outputRate) {
    const float gain = gGain.load(std::memory_order_relaxed);
    if (outputRate < 1 || !(gain > 0.0001f) || !left || !right) return;
    // Announce, then check the announcement still names the current record: a publisher
    // that replaced it in between either saw the announcement or we see its new record.
    const ReferenceAudio* audio = gCurrent.load();
    for (;;) {
        gInUse.store(audio);
        const ReferenceAudio* again = gCurrent.load();
        if (again == audio) break;
        audio = again;
    }
    if (audio && audio->frameCount >= 2) {
        const int16_t* s = audio->samples.data();
        const double increment = static_cast<double>(audio->sampleRate) / outputRate;
        double p = videoTime * audio->sampleRate;
        const float scale = gain / 32768.0f;
        for (int i = 0; i < frames; ++i, p += increment) {
            if (p < 0) continue;
            const int64_t k = static_cast<int64_t>(p);
            if (k + 1 >= audio->frameCount) break;
            const float frac = static_cast<float>(p - static_cast<double>(k));
            const float l0 = s[2 * k], l1 = s[2 * k + 2], r0 = s[2 * k + 1], r1 = s[2 * k + 3];
            left[i] += (l0 + (l1 - l0) * frac) * scale;
            right[i] += (r0 + (r1 - r0) * frac) * scale;
        }
    }
    gInUse.store(nullptr);
}

}  // namespace morvane
