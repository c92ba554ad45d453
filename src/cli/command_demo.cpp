// morvane-cli demo: the main job on the bundled demo content. It prepares the user's
// folders, installs the demo material once, and shows the folders and settings in effect.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/commands.h"
#include "model/demo_content.h"
#include "model/preferences.h"
#include "platform/folders.h"

namespace morvane::cli {

static void PrintFolder(const char* label, const std::string& path) {
    std::printf("  %-14s %s\n", label, path.empty() ? "(none: HOME is not set)" : path.c_str());
}

int RunDemo(int argc, char** argv) {
    bool force = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--force") == 0) {
            force = true;
        } else {
            std::fprintf(stderr, "demo: unknown option '%s'\n", argv[i]);
            return 2;
        }
    }

    EnsureUserFolders();
    LoadPreferences();
    const DemoInstallResult demo = InstallDemoContent(force);

    std::printf("Folders\n");
    PrintFolder("settings", AppDataFolder());
    PrintFolder("documents", DocumentsFolder());
    PrintFolder("projects", ProjectsFolder());
    PrintFolder("libraries", LibrariesFolder());
    PrintFolder("variations", VariationsFolder());
    PrintFolder("recipes", RecipesFolder());
    PrintFolder("chains", ChainsFolder());
    PrintFolder("program data", ProgramDataFolder());

    std::printf("\nDemo content\n");
    if (!demo.sourceFound)
        std::printf("  no DemoContent folder beside the program: nothing to install\n");
    else if (demo.alreadyInstalled)
        std::printf("  already installed (%s)\n", DemoMarkerPath().c_str());
    else
        std::printf("  %d files copied, %d kept, %d failed, %zu projects added to the recent list\n",
                    demo.filesCopied, demo.filesKept, demo.failures, demo.projectsAdded.size());

    const std::string prefsPath = PreferencesFilePath();
    std::printf("\nPreferences (%s)\n", prefsPath.empty() ? "built-in defaults, no file" : prefsPath.c_str());
    std::fputs(FormatPreferences(Prefs()).c_str(), stdout);
    return 0;
}

}  // namespace morvane::cli
