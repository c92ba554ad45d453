// morvane-cli demo: the main job on the bundled demo content.
#include <cstdio>

#include "cli/commands.h"

namespace morvane::cli {

int RunDemo(int argc, char** argv) {
    (void)argc;
    (void)argv;
    std::printf("demo: nothing to run yet\n");
    return 0;
}

}  // namespace morvane::cli
