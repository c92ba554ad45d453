// The video area: the reference picture's frame under the playhead, letterboxed at the
// video's aspect with the playhead's timecode burnt in, and the "Video start" control;
// or how to load a video. It only draws: the frames come from the video session.
#include <imgui.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>

#include "app/app_state.h"
#include "app/editor_state.h"
#include "app/timeline_view.h"
#include "app/ui_script.h"
#include "app/video_session.h"
#include "model/timeline.h"
#include "ui/panels.h"

namespace morvane {

namespace {

constexpr float kStartControlHeight = 26.0f;

// The largest rectangle of `aspect` (width / height) inside the area, centred.
void Letterbox(float x, float y, float w, float h, float aspect, ImVec2* a, ImVec2* b) {
    float fw = w, fh = w / aspect;
    if (fh > h) {
        fh = h;
        fw = h * aspect;
    }
    *a = ImVec2(x + (w - fw) * 0.5f, y + (h - fh) * 0.5f);
    *b = ImVec2(a->x + fw, a->y + fh);
}

// Where the message lines sit when there is no picture to show.
void DrawMessage(ImDrawList* draw, const ImVec2& a, const ImVec2& b, const std::string& line1, const char* line2) {
    const ImVec2 s1 = ImGui::CalcTextSize(line1.c_str()), s2 = ImGui::CalcTextSize(line2);
    const float cy = (a.y + b.y) * 0.5f;
    const ImVec4 clip(a.x + 4, a.y, b.x - 4, b.y);
    draw->AddText(nullptr, 0.0f, ImVec2(std::max(a.x + 6, (a.x + b.x - s1.x) * 0.5f), cy - s1.y - 2), IM_COL32(170, 176, 186, 255),
                  line1.c_str(), nullptr, 0.0f, &clip);
    draw->AddText(nullptr, 0.0f, ImVec2(std::max(a.x + 6, (a.x + b.x - s2.x) * 0.5f), cy + 2), IM_COL32(110, 116, 126, 255), line2,
                  nullptr, 0.0f, &clip);
}

// "Video start": where video time 0 lies on the timeline; the picture and its sound move with it.
void DrawStartControl(const PanelRect& rect) {
    Project& project = CurrentProject();
    const float width = 150.0f;
    ImGui::SetCursorScreenPos(ImVec2(rect.x + rect.w - width - 12.0f, rect.y + rect.h - kStartControlHeight));
    ImGui::SetNextItemWidth(width - ImGui::CalcTextSize("Video start").x - 8.0f);
    float start = project.videoStartTime;
    if (ImGui::DragFloat("Video start##vst", &start, 0.01f, -3600.0f, 3600.0f, "%.2f s")) {
        project.videoStartTime = start;
        project.modified = true;
    }
    RegisterLastItem("video-start");
}

}  // namespace

void DrawVideoArea(const PanelRect& rect) {
    BeginRegion("##video", rect, IM_COL32(11, 13, 16, 255));
    const Project& project = CurrentProject();
    const VideoPicture& picture = CurrentVideoPicture();
    ImDrawList* draw = ImGui::GetWindowDrawList();
    // The picture at its own aspect (16:9 until one is loaded), as large as the area allows.
    const float margin = 12.0f;
    const float availW = std::max(10.0f, rect.w - 2 * margin);
    const float availH = std::max(10.0f, rect.h - 2 * margin - kStartControlHeight);
    const bool showing = picture.loaded && picture.texture != 0 && picture.width > 0 && picture.height > 0;
    const float aspect = showing ? static_cast<float>(picture.width) / picture.height : 16.0f / 9.0f;
    ImVec2 a, b;
    Letterbox(rect.x + margin, rect.y + margin, availW, availH, aspect, &a, &b);
    draw->AddRectFilled(a, b, IM_COL32(0, 0, 0, 255));
    RegisterScriptTarget("video", {a.x, a.y, b.x, b.y});
    SetVideoPictureRect(a.x, a.y, b.x, b.y);

    if (showing) {
        draw->AddImage(reinterpret_cast<ImTextureID>(static_cast<intptr_t>(picture.texture)), a, b);
    } else {
        draw->AddRect(a, b, IM_COL32(52, 58, 68, 255));
        const std::string name = std::filesystem::path(project.videoPath).filename().string();
        if (picture.loading) DrawMessage(draw, a, b, name, "Loading the video\xE2\x80\xA6");
        else if (project.videoPath.empty())
            DrawMessage(draw, a, b, "No reference video", "File \xE2\x80\xBA Import Video\xE2\x80\xA6 to load one");
        else DrawMessage(draw, a, b, name, "The video could not be shown");
    }
    // The playhead's timecode burnt into the corner, as on a reference picture.
    const std::string tc = PlayheadTimecode();
    const ImVec2 tcSize = ImGui::CalcTextSize(tc.c_str());
    const ImVec2 tcAt(a.x + 8, b.y - tcSize.y - 6);
    draw->AddRectFilled(ImVec2(tcAt.x - 4, tcAt.y - 2), ImVec2(tcAt.x + tcSize.x + 4, tcAt.y + tcSize.y + 2),
                        IM_COL32(0, 0, 0, 150));
    draw->AddText(tcAt, IM_COL32(220, 224, 230, 235), tc.c_str());
    if (!project.videoPath.empty()) DrawStartControl(rect);
    EndRegion();
}

}  // namespace morvane
