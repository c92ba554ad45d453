#pragma once
// A built timeline with rendered blocks made on the spot: each layer a sine tone
// placed on the timeline, its block holding the tone at the cache's rate.
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "audio/render_cache.h"
#include "model/timeline.h"

namespace morvane::test {

struct ToneLayer {
    std::string name;
    int group = 1;
    int groupTrack = 0;
    float start = 0.0f;
    float duration = 1.0f;
    float frequency = 440.0f;
    float amplitude = 0.3f;
    bool muted = false;
    bool stereoSource = false;
};

struct ToneTimeline {
    Project project;
    std::unique_ptr<RenderCache> cache = std::make_unique<RenderCache>();
};

// One event per layer; the cache holds one block per layer at `rate`.
inline ToneTimeline MakeToneTimeline(const std::vector<ToneLayer>& tones, int rate = 48000,
                                     float totalDuration = 30.0f) {
    ToneTimeline t;
    TimelineState& tl = t.project.timeline;
    tl.settings.totalDuration = totalDuration;
    tl.built = true;
    tl.trackLayout.groups[0].name = "Backgrounds";
    tl.trackLayout.groups[1].name = "Hits";
    tl.trackLayout.groups[2].name = "Whooshes";
    t.project.projectSampleRate = rate;
    ResetCache(*t.cache, rate, tones.size());
    for (size_t i = 0; i < tones.size(); ++i) {
        const ToneLayer& tone = tones[i];
        Event ev;
        ev.time = tone.start;
        ev.duration = tone.duration;
        tl.events.push_back(ev);
        Layer layer;
        layer.name = tone.name;
        layer.filepath = "/lib/" + tone.name + ".wav";
        layer.startTime = tone.start;
        layer.duration = tone.duration;
        layer.eventIdx = static_cast<int32_t>(i);
        layer.group = tone.group;
        layer.groupTrack = tone.groupTrack;
        layer.muted = tone.muted;
        tl.results.push_back(layer);

        RenderBlock b;
        b.layerIndex = static_cast<int32_t>(i);
        b.identity = LayerIdentity(layer);
        b.eventIndex = static_cast<int32_t>(i);
        b.group = tone.group;
        b.start = tone.start;
        b.duration = tone.duration;
        b.muted = tone.muted;
        b.stereoPair = tone.stereoSource;
        auto audio = std::make_shared<BlockAudio>();
        const size_t frames = static_cast<size_t>(tone.duration * static_cast<float>(rate));
        audio->channels.assign(tone.stereoSource ? 2 : 1, std::vector<float>(frames));
        for (size_t k = 0; k < frames; ++k) {
            const float x = tone.amplitude * std::sin(2.0f * 3.14159265f * tone.frequency * static_cast<float>(k) /
                                                     static_cast<float>(rate));
            for (auto& channel : audio->channels) channel[k] = x;
        }
        b.audio = audio;
        b.envelope.assign(kEnvelopePoints, tone.amplitude);
        AppendBlock(*t.cache, std::move(b));
    }
    t.cache->ready.store(true);
    return t;
}

}  // namespace morvane::test
