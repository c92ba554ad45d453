// The video area: the reference picture's frame, with the video's name and the
// playhead's timecode, or how to load a video.
#include <imgui.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "app/app_state.h"
#include "app/editor_state.h"
#include "app/timeline_view.h"
#include "app/ui_script.h"
#include "model/timeline.h"
#include "ui/panels.h"

namespace morvane {

void DrawVideoArea(const PanelRect& rect) {
    BeginRegion("##video", rect, IM_COL32(11, 13, 16, 255));
    const Project& project = CurrentProject();
    ImDrawList* draw = ImGui::GetWindowDrawList();
    // A 16:9 frame, as large as the area allows, centred.
    const float margin = 12.0f;
    const float availW = std::max(10.0f, rect.w - 2 * margin), availH = std::max(10.0f, rect.h - 2 * margin);
    float w = availW, h = availW * 9.0f / 16.0f;
    if (h > availH) {
        h = availH;
        w = availH * 16.0f / 9.0f;
    }
    const ImVec2 a(rect.x + (rect.w - w) * 0.5f, rect.y + (rect.h - h) * 0.5f), b(a.x + w, a.y + h);
    draw->AddRectFilled(a, b, IM_COL32(0, 0, 0, 255));
    draw->AddRect(a, b, IM_COL32(52, 58, 68, 255));
    RegisterScriptTarget("video", {a.x, a.y, b.x, b.y});

    const std::string line1 = project.videoPath.empty()
                                  ? std::string("No reference video")
                                  : std::filesystem::path(project.videoPath).filename().string();
    const char* line2 = project.videoPath.empty() ? "File \xE2\x80\xBA Import Video\xE2\x80\xA6 to load one"
                                                  : "The project's reference video; morvane-cli trace reads its picture";
    const ImVec2 s1 = ImGui::CalcTextSize(line1.c_str()), s2 = ImGui::CalcTextSize(line2);
    const float cy = (a.y + b.y) * 0.5f;
    const ImVec4 clip(a.x + 4, a.y, b.x - 4, b.y);
    draw->AddText(nullptr, 0.0f, ImVec2(std::max(a.x + 6, (a.x + b.x - s1.x) * 0.5f), cy - s1.y - 2), IM_COL32(170, 176, 186, 255),
                  line1.c_str(), nullptr, 0.0f, &clip);
    draw->AddText(nullptr, 0.0f, ImVec2(std::max(a.x + 6, (a.x + b.x - s2.x) * 0.5f), cy + 2), IM_COL32(110, 116, 126, 255), line2,
                  nullptr, 0.0f, &clip);
    // The playhead's timecode burnt into the corner, as on a reference picture.
    const std::string tc = PlayheadTimecode();
    draw->AddText(ImVec2(a.x + 8, b.y - ImGui::GetTextLineHeight() - 6), IM_COL32(200, 204, 210, 200), tc.c_str());
    EndRegion();
}

}  // namespace morvane
