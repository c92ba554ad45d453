// morvane-cli bounce / revert-bounce: freeze events into one clip, and put them back.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/event_build.h"
#include "engine/passes.h"
#include "engine/project_roots.h"
#include "cli/command_arguments.h"
#include "cli/commands.h"
#include "export/bounce.h"
#include "library/libraries.h"
#include "model/preferences.h"
#include "model/project_file.h"
#include "model/project_lifecycle.h"

namespace morvane::cli {

namespace {

// PROJECT --events|--event LIST; returns 0 when read, else the exit code.
int ParseArguments(const char* command, const char* eventOption, int argc, char** argv, std::string* path,
                   std::vector<int>* events) {
    CommandLine line;
    if (const int code = ReadCommandLine(command, argc, argv, &line)) return code;
    *path = line.positionals[0];
    *events = OptionEvents(line, eventOption);
    if (events->empty()) {
        std::fprintf(stderr, "morvane-cli %s: %s LIST is needed\n", command, eventOption);
        return UsageError(command);
    }
    return 0;
}

int LoadWithEvents(const char* command, const std::string& path, const std::vector<int>& events, Project& project) {
    const LoadProjectResult loaded = LoadProject(path, project);
    if (!loaded.ok) {
        std::fprintf(stderr, "morvane-cli %s: %s\n", command, loaded.error.c_str());
        return 1;
    }
    for (int index : events)
        if (index >= static_cast<int>(project.timeline.events.size())) {
            std::fprintf(stderr, "morvane-cli %s: the project has no event %d (it has %zu)\n", command, index,
                         project.timeline.events.size());
            return 1;
        }
    return 0;
}

}  // namespace

int RunBounce(int argc, char** argv) {
    std::string path;
    std::vector<int> events;
    if (const int code = ParseArguments("bounce", "--events", argc, argv, &path, &events)) return code;
    Project project;
    if (const int code = LoadWithEvents("bounce", path, events, project)) return code;
    LoadPreferences();
    LibrarySet libraries;
    LoadAllLibraries(libraries);
    BounceContext context;
    context.libraries = &libraries;
    context.channelOrderFallback = Prefs().channelOrderFallback;
    const BounceResult result = BounceSelection(project, path, events, context);
    if (!result.ok) {
        std::fprintf(stderr, "morvane-cli bounce: %s\n", result.statusText.c_str());
        return 1;
    }
    if (const std::string failed = SaveProjectBesideWindow(path, project); !failed.empty()) {
        std::fprintf(stderr, "morvane-cli bounce: %s (the bounced file %s stays)\n", failed.c_str(),
                     result.path.c_str());
        return 1;
    }
    std::printf("%s: event %d plays %s\n", result.statusText.c_str(), result.clipEvent, result.path.c_str());
    return 0;
}

int RunRevertBounce(int argc, char** argv) {
    std::string path;
    std::vector<int> events;
    if (const int code = ParseArguments("revert-bounce", "--event", argc, argv, &path, &events)) return code;
    if (events.size() != 1) {
        std::fprintf(stderr, "morvane-cli revert-bounce: give one event\n");
        return UsageError("revert-bounce");
    }
    Project project;
    if (const int code = LoadWithEvents("revert-bounce", path, events, project)) return code;
    const RevertResult result = RevertBounce(project, events[0]);
    if (!result.ok) {
        std::fprintf(stderr, "morvane-cli revert-bounce: event %d: %s\n", events[0], result.statusText.c_str());
        return 1;
    }
    // The restored events are built again, so the timeline plays them at once.
    LoadPreferences();
    LibrarySet libraries;
    LoadAllLibraries(libraries);
    const std::vector<LibraryRoot> roots = ProjectLibraryRoots(project, libraries.libraries);
    for (int index : result.restoredEvents) BuildEvents(project, roots, index, -1.0f, -1.0f, 0);
    RunPostBuildPasses(project, MakeBandLookup(roots), Prefs().protectSilence, Prefs().destructiveEQ);
    if (const std::string failed = SaveProjectBesideWindow(path, project); !failed.empty()) {
        std::fprintf(stderr, "morvane-cli revert-bounce: %s\n", failed.c_str());
        return 1;
    }
    std::printf("%s\n", result.statusText.c_str());
    return 0;
}

}  // namespace morvane::cli
