#include "export/bounce.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <set>

#include "audio/layer_render.h"
#include "audio/mixer.h"
#include "audio/render_sweep.h"
#include "audio/render_timeline.h"
#include "export/bwf_writer.h"
#include "export/variations.h"
#include "model/event_label.h"
#include "platform/folders.h"

namespace morvane {

namespace {

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A path in `folder` for `name` that no file has yet.
std::string FreePath(const std::string& folder, const std::string& name) {
    std::string path = folder + "/" + name + ".wav";
    for (int n = 2; IsFile(path) || IsFolder(path); ++n) path = folder + "/" + name + "_" + std::to_string(n) + ".wav";
    return path;
}

// Event indices of the results after the events at `removed` (ascending) left the
// list and `inserted` events came in at `insertAt` (an index in the new list).
int NewIndex(int old, const std::vector<int>& removed, int insertAt, int inserted) {
    const int shift = static_cast<int>(std::lower_bound(removed.begin(), removed.end(), old) - removed.begin());
    const int kept = old - shift;
    return kept >= insertAt ? kept + inserted : kept;
}

const char* Plural(size_t n) { return n == 1 ? "" : "s"; }

}  // namespace

std::string BounceClipName(const Project& project, const std::vector<int>& selection) {
    std::string name;
    const std::vector<Event>& events = project.timeline.events;
    if (!selection.empty() && selection[0] >= 0 && selection[0] < static_cast<int>(events.size()))
        name = RemoveFileNameCharacters(EventLabel(events[static_cast<size_t>(selection[0])], project.timeline.userShapes));
    while (!name.empty() && name.back() == ' ') name.pop_back();
    return name.empty() ? "Bounce" : name;
}

BounceResult BounceSelection(Project& project, const std::string& projectPath, const std::vector<int>& selection,
                             const BounceContext& context) {
    BounceResult result;
    TimelineState& tl = project.timeline;
    const int eventCount = static_cast<int>(tl.events.size());
    std::vector<int> chosen;
    for (int index : selection)
        if (index >= 0 && index < eventCount && std::find(chosen.begin(), chosen.end(), index) == chosen.end())
            chosen.push_back(index);
    const std::set<int> chosenSet(chosen.begin(), chosen.end());

    // The selection's layers, rendered into a private cache at the project rate.
    auto cache = std::make_unique<RenderCache>();
    const int rate = IsProjectSampleRate(project.projectSampleRate) ? project.projectSampleRate : 48000;
    CopyMixSettings(project, *cache);
    SetMixGains(*cache, 1.0f, project.groupGain.data());
    ReverbSettings dry = project.reverb;
    dry.enabled = false;
    SetReverbSettings(*cache, dry);
    ResetCache(*cache, rate, 16);
    LayerRenderContext render = MakeLayerRenderContext(project, context.libraries, context.channelOrderFallback);
    render.sampleRate = rate;
    for (size_t i = 0; i < tl.results.size(); ++i) {
        Layer layer = tl.results[i];
        if (chosenSet.count(layer.eventIdx) == 0 || layer.muted) continue;
        RenderLayer(*cache, render, layer, static_cast<int>(i));
    }
    if (cache->blocks.empty()) {
        result.statusText = "Nothing to bounce yet";
        return result;
    }
    FinalizeCache(*cache, false);
    double spanStart = 1e30, spanEnd = -1e30;
    for (const RenderBlock& b : cache->blocks) {
        const double start = b.start + b.deconOffset;
        spanStart = std::min(spanStart, start);
        spanEnd = std::max(spanEnd, start + b.duration);
    }
    spanStart = std::max(0.0, spanStart);
    std::vector<float> mix;
    std::string error;
    if (!(spanEnd > spanStart) || !MixOffline(*cache, spanStart, spanEnd, 2, mix, nullptr, &error)) {
        result.statusText = "Bounce failed: " + (error.empty() ? std::string("the selection has no length") : error);
        return result;
    }
    const int64_t frames = static_cast<int64_t>(mix.size() / 2);
    std::vector<float> left(static_cast<size_t>(frames)), right(static_cast<size_t>(frames));
    for (int64_t i = 0; i < frames; ++i) {
        left[static_cast<size_t>(i)] = mix[static_cast<size_t>(2 * i)];
        right[static_cast<size_t>(i)] = mix[static_cast<size_t>(2 * i + 1)];
    }

    const std::string name = BounceClipName(project, chosen);
    const std::string folder = FolderOf(projectPath) + "/Bounce";
    ::mkdir(folder.c_str(), 0755);
    const std::string path = FreePath(folder, name);
    const double timecode = static_cast<double>(tl.settings.startTC) + spanStart;
    if (!WriteBWFStereo(path, left.data(), right.data(), frames, rate, timecode, name.c_str())) {
        result.statusText = "Bounce failed: could not write " + path;
        return result;
    }

    // The Clip event that replaces the selection, remembering it.
    const float length = static_cast<float>(static_cast<double>(frames) / rate);
    Event clip;
    clip.shape = EventShape::Clip;
    clip.time = static_cast<float>(spanStart);
    clip.duration = length;
    clip.pinnedFile = path;
    clip.hasPinnedFile = true;
    clip.clipSourceOffset = 0.0f;
    clip.clipSourceDuration = length;
    clip.stereo = true;
    const Event& first = tl.events[static_cast<size_t>(chosen[0])];
    clip.keywords = first.keywords;
    clip.folder = first.folder;
    for (int index : chosen) clip.bounceSource.push_back(tl.events[static_cast<size_t>(index)]);

    std::vector<int> removed(chosenSet.begin(), chosenSet.end());
    const int insertAt = NewIndex(*std::min_element(chosen.begin(), chosen.end()), removed, eventCount, 0);
    std::vector<Event> events;
    events.reserve(tl.events.size() - removed.size() + 1);
    for (int i = 0; i < eventCount; ++i)
        if (chosenSet.count(i) == 0) events.push_back(std::move(tl.events[static_cast<size_t>(i)]));
    events.insert(events.begin() + insertAt, std::move(clip));
    std::vector<Layer> results;
    for (Layer& l : tl.results) {
        if (chosenSet.count(l.eventIdx) != 0) continue;
        l.eventIdx = NewIndex(l.eventIdx, removed, insertAt, 1);
        results.push_back(std::move(l));
    }
    {
        std::lock_guard<std::mutex> lock(timelineMutex);
        tl.events = std::move(events);
        tl.results = std::move(results);
    }
    BuildOptions options;
    options.probe = context.probe;
    BuildEvents(project, {}, insertAt, -1.0f, -1.0f, 0, options);
    project.modified = true;

    result.ok = true;
    result.path = path;
    result.clipEvent = insertAt;
    result.statusText = "Bounced " + std::to_string(chosen.size()) + " event" + Plural(chosen.size()) + " to " + name;
    std::printf("[Export] Bounce written to %s\n", path.c_str());
    return result;
}

RevertResult RevertBounce(Project& project, int clipIndex) {
    RevertResult result;
    TimelineState& tl = project.timeline;
    if (clipIndex < 0 || clipIndex >= static_cast<int>(tl.events.size()) ||
        tl.events[static_cast<size_t>(clipIndex)].shape != EventShape::Clip ||
        tl.events[static_cast<size_t>(clipIndex)].bounceSource.empty()) {
        result.statusText = "Only a clip made by a bounce can be reverted";
        return result;
    }
    std::vector<Event> sources = tl.events[static_cast<size_t>(clipIndex)].bounceSource;
    const int inserted = static_cast<int>(sources.size());
    const std::vector<int> removed{clipIndex};
    std::vector<Layer> results;
    for (Layer& l : tl.results) {
        if (l.eventIdx == clipIndex) continue;
        l.eventIdx = NewIndex(l.eventIdx, removed, clipIndex, inserted);
        results.push_back(std::move(l));
    }
    {
        std::lock_guard<std::mutex> lock(timelineMutex);
        tl.events.erase(tl.events.begin() + clipIndex);
        tl.events.insert(tl.events.begin() + clipIndex, sources.begin(), sources.end());
        tl.results = std::move(results);
        tl.built = !tl.results.empty();
    }
    project.modified = true;
    for (int i = 0; i < inserted; ++i) result.restoredEvents.push_back(clipIndex + i);
    result.ok = true;
    result.statusText = "Reverted to " + std::to_string(inserted) + " source event" + Plural(sources.size());
    return result;
}

}  // namespace morvane
