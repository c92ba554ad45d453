#pragma once
// The demo projects, libraries, recipes and chains shipped beside the program,
// copied once into the user's documents folder.
#include <string>
#include <vector>

namespace morvane {

struct DemoInstallResult {
    bool sourceFound = false;       // a "DemoContent" folder ships with the program
    bool alreadyInstalled = false;  // stopped because the marker exists (force off)
    int filesCopied = 0;
    int filesKept = 0;  // already in the documents folder; the user's version stays
    int failures = 0;   // files or folders that could not be created
    std::vector<std::string> projectsAdded;  // copied ".mvproj" files, now in the recent list
    bool markerWritten = false;
};

// Copies ProgramDataPath("DemoContent")/{Recipes,Chains,Projects,Libraries} into the
// same subfolders of the documents folder, never replacing a file that is already
// there; lists every copied project among the recent projects; then writes the
// marker documents/.demo_version ("installed\n") and saves the preferences.
// Without force, nothing happens once the marker exists. The marker is written only
// when every file is in place, so anything that failed is tried again next start.
DemoInstallResult InstallDemoContent(bool force);

// documents/.demo_version; empty when there is no documents folder.
std::string DemoMarkerPath();

}  // namespace morvane
