#include "export/variations.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <set>

#include "audio/layer_render.h"
#include "audio/mixer.h"
#include "audio/render_sweep.h"
#include "audio/render_timeline.h"
#include "export/export_rollback.h"
#include "export/tagged_clip_writer.h"
#include "export/variation_tags.h"
#include "model/event_label.h"
#include "model/preferences.h"

namespace morvane {

namespace {

constexpr float kVariationPeak = 0.8912509f;  // -1 dBFS
// A take with reverb keeps this much of the tail after its last layer ends.
constexpr double kReverbTailSeconds = 2.0;

// A working copy of what building and rendering the takes reads: the takes are
// drawn on it, so the open timeline is never touched while they are made.
Project WorkingCopy(const Project& project, std::mutex* resultsMutex) {
    Project work;
    std::unique_lock<std::mutex> lock;
    if (resultsMutex != nullptr) lock = std::unique_lock<std::mutex>(*resultsMutex);
    work.timeline = project.timeline;
    work.projectSampleRate = project.projectSampleRate;
    work.masterGain = project.masterGain;
    work.groupGain = project.groupGain;
    work.reverb = project.reverb;
    work.videoStartTime = project.videoStartTime;
    return work;
}

bool Cancelled(const VariationContext& context) {
    return context.cancel != nullptr && context.cancel->load(std::memory_order_acquire);
}

}  // namespace

VariationSettings VariationSettingsFromPreferences(const Preferences& prefs) {
    VariationSettings s;
    s.count = std::clamp(prefs.varCount, 1, 100);
    s.channels = std::clamp(prefs.varChannels, 1, 2);
    s.sampleRate = IsProjectSampleRate(prefs.varSampleRate) ? prefs.varSampleRate : 48000;
    s.bitDepth = prefs.varBitDepth == 16 ? 16 : 24;
    s.reverb = prefs.varReverb;
    s.nameStyle = std::clamp(prefs.varNameStyle, 0, 1);
    s.normalize = prefs.varNormalize;
    return s;
}

uint32_t VariationSalt(int take) {
    return static_cast<uint32_t>((static_cast<uint64_t>(take) + 1u) * 2654435761ull);
}

int VariationNumberWidth(int count) {
    return std::max(2, static_cast<int>(std::floor(std::log10(static_cast<double>(std::max(1, count))))) + 1);
}

std::string RemoveFileNameCharacters(const std::string& name) {
    std::string out;
    for (const char c : name)
        if (std::string_view("/\\:*?\"<>|").find(c) == std::string_view::npos) out += c;
    return out;
}

std::string VariationBaseName(const Project& project, const std::vector<int>& selection, bool reverb, int nameStyle) {
    std::string base;
    const std::vector<Event>& events = project.timeline.events;
    if (!selection.empty() && selection[0] >= 0 && selection[0] < static_cast<int>(events.size()))
        base = RemoveFileNameCharacters(EventLabel(events[static_cast<size_t>(selection[0])],
                                                   project.timeline.userShapes));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    if (base.empty()) base = "Variation";
    if (reverb) base += nameStyle == 1 ? "_reverb" : "_Reverb";
    return base;
}

VariationsResult ExportVariations(const Project& live, const std::vector<int>& selection, const std::string& exportFolder,
                                  const VariationSettings& settings, const VariationContext& context) {
    VariationsResult result;
    const Project project = WorkingCopy(live, context.resultsMutex);
    const int count = std::clamp(settings.count, 1, 100);
    const int eventCount = static_cast<int>(project.timeline.events.size());
    std::vector<int> rebuilt;
    for (int index : std::set<int>(selection.begin(), selection.end())) {
        if (index < 0 || index >= eventCount) continue;
        const EventShape shape = project.timeline.events[static_cast<size_t>(index)].shape;
        if (shape != EventShape::Clip && shape != EventShape::Bed) rebuilt.push_back(index);
    }
    if (rebuilt.empty()) {
        result.statusText = "Nothing to vary: select events that are not Clip or Bed events";
        return result;
    }
    char text[96];
    std::snprintf(text, sizeof text, "Rendering %d variations…", count);
    if (context.status) context.status(text);

    const std::string folder = exportFolder + "/Variations";
    {
        ExportRollbackGuard folders;  // the takes written so far stay, whatever happens later
        const bool made = CreateExportFolder(folder, folders);
        folders.Commit();
        if (!made) {
            result.statusText = "Could not create the folder " + folder;
            std::printf("[Export] %s\n", result.statusText.c_str());
            return result;
        }
    }
    const int width = VariationNumberWidth(count);
    const std::string base = VariationBaseName(project, selection, settings.reverb, settings.nameStyle);
    const std::string description = settings.reverb ? "Morvane variation, Reverb" : "Morvane variation";
    const std::string ixml = VariationIXml(description, project.timeline.events[static_cast<size_t>(rebuilt[0])].keywords);

    // The private cache: the project's master and group gains and group loudness
    // targets, the reverb only when the takes carry it, rendered at the takes' rate.
    auto cache = std::make_unique<RenderCache>();
    CopyMixSettings(project, *cache);
    ReverbSettings reverb = project.reverb;
    reverb.enabled = settings.reverb && project.reverb.enabled;
    SetReverbSettings(*cache, reverb);
    if (settings.reverb && !project.reverb.enabled) {
        // The project's reverb is off: the takes still get the wet signal they asked for.
        reverb.enabled = true;
        for (float& send : reverb.groupSends) send = send > 0.0f ? send : 0.3f;
        SetReverbSettings(*cache, reverb);
    }

    Project work;
    for (int v = 0; v < count; ++v) {
        if (Cancelled(context)) {
            result.cancelled = true;
            break;
        }
        work = project;
        BuildOptions options = context.buildOptions;
        options.fixedSeed ^= VariationSalt(v);
        for (int index : rebuilt) BuildEvents(work, context.roots, index, -1.0f, -1.0f, VariationSalt(v), options);
        // The rebuilt layers of the selection, rendered into the private cache.
        LayerRenderContext render = MakeLayerRenderContext(work, context.libraries, context.channelOrderFallback);
        render.sampleRate = settings.sampleRate;
        ResetCache(*cache, settings.sampleRate, 16);
        double spanStart = 1e30, spanEnd = -1e30;
        std::vector<Layer>& results = work.timeline.results;
        for (size_t i = 0; i < results.size(); ++i) {
            Layer& layer = results[i];
            if (!std::binary_search(rebuilt.begin(), rebuilt.end(), layer.eventIdx) || layer.muted) continue;
            if (RenderLayer(*cache, render, layer, static_cast<int>(i)) < 0) continue;
            spanStart = std::min(spanStart, static_cast<double>(layer.startTime));
            spanEnd = std::max(spanEnd, static_cast<double>(layer.startTime + layer.duration));
        }
        FinalizeCache(*cache, false);
        if (!(spanEnd > spanStart)) continue;  // this take drew nothing that sounds
        spanStart = std::max(0.0, spanStart);
        if (reverb.enabled) spanEnd += kReverbTailSeconds;

        std::vector<float> take;
        std::string error;
        auto cancelCheck = [&](float) { return !Cancelled(context); };
        if (!MixOffline(*cache, spanStart, spanEnd, settings.channels, take, cancelCheck, &error)) {
            if (Cancelled(context)) {
                result.cancelled = true;
                break;
            }
            std::printf("[Export] Variation %d: %s\n", v + 1, error.c_str());
            continue;
        }
        if (settings.normalize) {
            float peak = 0.0f;
            for (float x : take) peak = std::max(peak, std::fabs(x));
            if (peak > 0.0f)
                for (float& x : take) x *= kVariationPeak / peak;
        }
        char name[64];
        std::snprintf(name, sizeof name, "_%0*d.wav", width, v + 1);
        const std::string path = folder + "/" + base + name;
        if (WriteTaggedClip(path, settings.channels, settings.bitDepth, settings.sampleRate, take, description, ixml)) {
            ++result.files;
            result.written.push_back(path);
        }
        if (context.progress) context.progress(v + 1, count);
    }
    std::snprintf(text, sizeof text, "Exported %d variation%s", result.files, result.files == 1 ? "" : "s");
    result.statusText = text;
    return result;
}

}  // namespace morvane
