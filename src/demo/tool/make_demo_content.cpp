// Build-time tool: makes the "DemoContent" folder that ships beside the programs.
//   morvane-make-demo-content OUTPUT_FOLDER
#include <chrono>
#include <cstdio>
#include <string>

#include "demo/demo_content_maker.h"

int main(int argc, char** argv) {
    if (argc != 2 || argv[1][0] == '-') {
        std::fprintf(stderr, "usage: morvane-make-demo-content OUTPUT_FOLDER\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    const morvane::demo::DemoContentResult result = morvane::demo::MakeDemoContent(argv[1]);
    if (!result.ok) {
        std::fprintf(stderr, "morvane-make-demo-content: %s\n", result.error.c_str());
        return 1;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("[Demo] %d sound files, reel and project in %s (%.1f s)\n", result.soundFiles, argv[1], seconds);
    return 0;
}
