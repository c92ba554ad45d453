#pragma once
// The demo project over the demo reel: hand-placed events of every shape whose
// keywords meet the demo library, a scene, and the demo recipes and chains.
#include <string>
#include <vector>

#include "demo/demo_video.h"
#include "model/recipes.h"
#include "model/timeline.h"

namespace morvane::demo {

inline constexpr const char* kDemoProjectName = "Morvane Demo";

// The project for the reel at videoPath; Clip and Bed events pin files of the demo
// library folder (by full path; saving collects them beside the project).
Project MakeDemoProject(const DemoVideoPlan& plan, const std::string& videoPath, const std::string& libraryFolder);

std::vector<EventPreset> DemoRecipes();
std::vector<Chain> DemoChains();

}  // namespace morvane::demo
