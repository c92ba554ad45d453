// morvane-cli variations: several takes of the chosen events, each rebuilt with its
// own random draw, written as numbered WAV files.
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/project_roots.h"
#include "cli/command_arguments.h"
#include "cli/commands.h"
#include "cli/progress.h"
#include "export/variations.h"
#include "library/libraries.h"
#include "model/preferences.h"
#include "model/project_file.h"

namespace morvane::cli {

namespace {

std::atomic<bool> gVariationsCancel{false};
void OnInterrupt(int) { gVariationsCancel.store(true); }

}  // namespace

int RunVariations(int argc, char** argv) {
    CommandLine args;
    if (const int code = ReadCommandLine("variations", argc, argv, &args)) return code;
    const std::string path = args.positionals[0];
    std::string out = OptionText(args, "--out");
    const std::vector<int> events = OptionEvents(args, "--events");
    const int count = static_cast<int>(OptionNumber(args, "--count", -1.0));
    if (out.empty() || events.empty() || count < 1) {
        std::fprintf(stderr, "morvane-cli variations: --events, --count and --out are all needed\n");
        return UsageError("variations");
    }
    while (out.size() > 1 && out.back() == '/') out.pop_back();

    Project project;
    const LoadProjectResult loaded = LoadProject(path, project);
    if (!loaded.ok) {
        std::fprintf(stderr, "morvane-cli variations: %s\n", loaded.error.c_str());
        return 1;
    }
    for (int index : events) {
        if (index >= static_cast<int>(project.timeline.events.size())) {
            std::fprintf(stderr, "morvane-cli variations: the project has no event %d (it has %zu)\n", index,
                         project.timeline.events.size());
            return 1;
        }
    }
    LoadPreferences();
    LibrarySet libraries;
    LoadAllLibraries(libraries);
    VariationSettings settings = VariationSettingsFromPreferences(Prefs());
    if (count > 0) settings.count = count;

    VariationContext context;
    context.roots = ProjectLibraryRoots(project, libraries.libraries);
    context.libraries = &libraries;
    context.channelOrderFallback = Prefs().channelOrderFallback;
    context.cancel = &gVariationsCancel;
    ProgressLine line{"Rendering variations", isatty(STDERR_FILENO) != 0};
    context.status = [](const std::string& text) { std::printf("%s\n", text.c_str()); };
    context.progress = [&](int done, int total) {
        ShowProgress(line, static_cast<float>(done) / static_cast<float>(total),
                     std::to_string(done) + " / " + std::to_string(total));
    };
    gVariationsCancel.store(false);
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    sigaction(SIGINT, &action, &previous);
    const VariationsResult result = ExportVariations(project, events, out, settings, context);
    sigaction(SIGINT, &previous, nullptr);
    EndProgress(line);
    for (const std::string& file : result.written) std::printf("  %s\n", file.c_str());
    std::printf("%s\n", result.statusText.c_str());
    if (result.files == 0 || result.cancelled) {
        std::fprintf(stderr, "morvane-cli variations: %s\n",
                     result.cancelled ? "cancelled; the takes written so far are kept" : result.statusText.c_str());
        return 1;
    }
    return 0;
}

}  // namespace morvane::cli
