#pragma once
// `morvane --bench-frames N`: how long the window takes to draw a frame with a busy
// timeline, against an empty one in the same run.
namespace morvane {

// Replaces the open project with count events spread over ten minutes: every shape,
// overlapping, with keywords, a tenth of them selected, the view zoomed to fit.
void FillBenchProject(int count);
// Empties the project again.
void ClearBenchProject();

}  // namespace morvane
