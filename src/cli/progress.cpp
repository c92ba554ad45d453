#include "cli/progress.h"

#include <algorithm>
#include <cstdio>

namespace morvane::cli {

void ShowProgress(ProgressLine& line, float fraction, const std::string& detail) {
    fraction = std::clamp(fraction, 0.0f, 1.0f);
    const int percent = static_cast<int>(fraction * 100.0f);
    if (line.terminal) {
        const int filled = static_cast<int>(fraction * 30.0f);
        std::fprintf(stderr, "\r%s [%-30.*s] %3d%%  %s ", line.label, filled, "##############################",
                     percent, detail.c_str());
        std::fflush(stderr);
        return;
    }
    const int tenth = percent / 10;
    if (tenth <= line.lastTenth) return;
    line.lastTenth = tenth;
    std::printf("%s: %d%%%s%s\n", line.label, tenth * 10, detail.empty() ? "" : "  ", detail.c_str());
    std::fflush(stdout);
}

void EndProgress(const ProgressLine& line) {
    if (line.terminal) std::fprintf(stderr, "\n");
}

}  // namespace morvane::cli
