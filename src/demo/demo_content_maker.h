#pragma once
// Makes the whole "DemoContent" folder that ships beside the program: the demo sound
// library, the demo reel, the demo project, recipes and chains. Deterministic: the
// same build makes the same files.
#include <functional>
#include <string>

namespace morvane::demo {

// Called with the fraction done (0..1) and what is being made.
using DemoProgress = std::function<void(float fraction, const std::string& step)>;

struct DemoContentResult {
    bool ok = false;
    std::string error;  // one line naming what failed and where
    int soundFiles = 0;
    std::string libraryFolder;  // below the finished content folder
    std::string projectPath;
    std::string videoPath;
};

// Builds into `contentFolder` + ".partial" and renames it over `contentFolder` only
// when everything is in place, so a failure never leaves half a demo behind.
DemoContentResult MakeDemoContent(const std::string& contentFolder, const DemoProgress& progress = {});

}  // namespace morvane::demo
