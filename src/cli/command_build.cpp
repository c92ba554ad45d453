// morvane-cli build: choose sounds for a project's events and place their layers.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/event_build.h"
#include "engine/passes.h"
#include "engine/project_roots.h"
#include "cli/commands.h"
#include "library/audio_file.h"
#include "library/libraries.h"
#include "model/preferences.h"
#include "model/project_file.h"

namespace morvane::cli {

namespace {

bool ParseNumber(const char* text, double* out) {
    char* end = nullptr;
    *out = std::strtod(text, &end);
    return end != text && *end == '\0';
}

}  // namespace

int RunBuild(int argc, char** argv) {
    std::string path;
    int eventIndex = -1;
    double rangeStart = -1.0, rangeEnd = -1.0, salt = 0.0, seed = -1.0;
    bool dryRun = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        double value = 0.0;
        if (arg == "--dry-run") {
            dryRun = true;
        } else if (arg == "--event" && i + 1 < argc && ParseNumber(argv[i + 1], &value) && value >= 0) {
            eventIndex = static_cast<int>(value);
            ++i;
        } else if (arg == "--range" && i + 2 < argc && ParseNumber(argv[i + 1], &rangeStart) &&
                   ParseNumber(argv[i + 2], &rangeEnd)) {
            i += 2;
        } else if (arg == "--salt" && i + 1 < argc && ParseNumber(argv[i + 1], &salt) && salt >= 0) {
            ++i;
        } else if (arg == "--seed" && i + 1 < argc && ParseNumber(argv[i + 1], &seed) && seed >= 0) {
            ++i;
        } else if (arg[0] == '-' && arg.size() > 1) {
            std::fprintf(stderr, "morvane-cli build: unknown or incomplete option '%s'\n", arg.c_str());
            return UsageError("build");
        } else if (path.empty()) {
            path = arg;
        } else {
            std::fprintf(stderr, "morvane-cli build: more than one project given\n");
            return UsageError("build");
        }
    }
    if (path.empty()) return UsageError("build");

    Project project;
    const LoadProjectResult loaded = LoadProject(path, project);
    if (!loaded.ok) {
        std::fprintf(stderr, "morvane-cli build: %s\n", loaded.error.c_str());
        return 1;
    }
    if (const std::string refused = RefusedSoundFileOf(project.timeline); !refused.empty()) {
        std::fprintf(stderr, "morvane-cli build: %s\n", refused.c_str());
        return 1;
    }
    if (eventIndex >= static_cast<int>(project.timeline.events.size())) {
        std::fprintf(stderr, "morvane-cli build: the project has no event %d (it has %zu)\n", eventIndex,
                     project.timeline.events.size());
        return 1;
    }
    LoadPreferences();
    LibrarySet set;
    LoadAllLibraries(set);
    const std::vector<LibraryRoot> roots = ProjectLibraryRoots(project, set.libraries);

    BuildOptions options;
    if (seed >= 0) {
        options.useFixedSeed = true;
        options.fixedSeed = static_cast<uint32_t>(seed);
    }
    const BuildResult result = BuildEvents(project, roots, eventIndex, static_cast<float>(rangeStart),
                                           static_cast<float>(rangeEnd), static_cast<uint32_t>(salt), options);
    RunPostBuildPasses(project, MakeBandLookup(roots), Prefs().protectSilence, Prefs().destructiveEQ);

    const TimelineState& t = project.timeline;
    int lastEvent = -1;
    for (const Layer& l : t.results) {
        if (l.eventIdx != lastEvent) {
            lastEvent = l.eventIdx;
            const Event& ev = t.events[static_cast<size_t>(l.eventIdx)];
            std::printf("Event %d  %s  %.3f s + %.3f s\n", l.eventIdx, EventShapeName(ev.shape),
                        static_cast<double>(ev.time), static_cast<double>(ev.duration));
        }
        std::printf("  %-40s  at %8.3f  offset %7.3f  dur %7.3f  track %2d%s\n",
                    l.filepath.empty() ? l.name.c_str() : l.filepath.c_str(), static_cast<double>(l.startTime),
                    static_cast<double>(l.sourceOffset), static_cast<double>(l.duration), l.track,
                    l.muted ? "  (muted)" : "");
    }
    std::printf("Built %d event%s, %d layer%s (seed %u)\n", result.eventsBuilt, result.eventsBuilt == 1 ? "" : "s",
                result.layersPlaced, result.layersPlaced == 1 ? "" : "s", result.seed);
    if (!result.statusText.empty()) std::printf("%s\n", result.statusText.c_str());

    if (!dryRun && !SaveProject(path, project)) {
        std::fprintf(stderr, "morvane-cli build: could not save %s\n", path.c_str());
        return 1;
    }
    return 0;
}

}  // namespace morvane::cli
