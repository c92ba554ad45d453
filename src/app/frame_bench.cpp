#include "app/frame_bench.h"

#include <cmath>
#include <string>

#include "app/editor_state.h"
#include "app/timeline_view.h"
#include "edit/selection.h"
#include "model/timeline.h"

namespace morvane {

void FillBenchProject(int count) {
    static const char* const words[] = {"door slam", "glass", "wood creak", "metal hit", "rain", "wind gust",
                                        "footsteps gravel", "whoosh", "impact heavy", "crowd murmur"};
    Project& project = CurrentProject();
    project = Project{};
    project.timeline.settings.totalDuration = 600.0f;
    for (int i = 0; i < count; ++i) {
        Event e;
        e.shape = EventShapeFromInt(i % kEventShapeCount);
        e.time = 600.0f * static_cast<float>(i) / static_cast<float>(count);
        e.duration = 0.5f + 3.5f * static_cast<float>((i * 37) % 100) / 100.0f;
        e.keywords = words[i % 10];
        e.muted = i % 17 == 0;
        e.locked = i % 13 == 0;
        for (int p = 0; p < kCurvePoints; ++p)
            e.intensity[static_cast<size_t>(p)] = 0.5f + 0.4f * std::sin(static_cast<float>(p + i) * 0.05f);
        project.timeline.events.push_back(std::move(e));
    }
    SyncSelection(CurrentEdit());
    for (size_t i = 0; i < Edits().selected.size(); i += 10) Edits().selected[i] = 1;
    Editor().playhead = 300.0f;
    RequestZoomToFit();
}

void ClearBenchProject() {
    CurrentProject() = Project{};
    Edits().selected.clear();
    Editor().playhead = 0.0f;
    RequestZoomToFit();
}

}  // namespace morvane
