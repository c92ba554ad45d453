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
#include "model/project_lifecycle.h"

namespace morvane::cli {

int RunBuild(int argc, char** argv) {
    CommandLine line;
    if (const int code = ReadCommandLine("build", argc, argv, &line)) return code;
    const std::string path = line.positionals[0];
    const int eventIndex = static_cast<int>(OptionNumber(line, "--event", -1.0));
    const double rangeStart = OptionNumber(line, "--range", -1.0, 0);
    const double rangeEnd = OptionNumber(line, "--range", -1.0, 1);
    const double salt = OptionNumber(line, "--salt", 0.0);
    const double seed = OptionNumber(line, "--seed", -1.0);
    const bool dryRun = HasOption(line, "--dry-run");

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

    if (const std::string failed = dryRun ? "" : SaveProjectBesideWindow(path, project); !failed.empty()) {
        std::fprintf(stderr, "morvane-cli build: %s\n", failed.c_str());
        return 1;
    }
    return 0;
}

}  // namespace morvane::cli
