// The transport and toolbar above the timeline: back to start, play/pause, stop, the
// playhead as timecode, the zoom buttons and draw mode.
#include <imgui.h>

#include <cstdio>

#include "app/app_state.h"
#include "app/editor_state.h"
#include "app/fonts.h"
#include "app/timeline_view.h"
#include "model/timeline.h"
#include "ui/panels.h"

namespace morvane {

namespace {

// An icon button when the icon font is there, else the same button with a word.
bool ToolButton(const char* icon, const char* word, const char* tip, float height) {
    const char* text = IconFontLoaded() ? icon : word;
    ImGui::PushID(tip);
    const bool pressed = ImGui::Button(text, ImVec2(IconFontLoaded() ? height * 1.2f : 0.0f, height));
    ImGui::PopID();
    if (ImGui::IsItemHovered()) ImGui::SetTooltip("%s", tip);
    return pressed;
}

}  // namespace

void DrawTransport(const PanelRect& rect) {
    BeginRegion("##transport", rect, IM_COL32(26, 29, 35, 255));
    EditorState& editor = Editor();
    const float buttonH = ImGui::GetFrameHeight();
    ImGui::SetCursorScreenPos(ImVec2(rect.x + 8, rect.y + (rect.h - buttonH) * 0.5f));
    if (ToolButton("\xef\x81\x88", "|<", "Back to start (Home)", buttonH)) editor.playhead = 0.0f;
    RegisterLastItem("transport:start");
    ImGui::SameLine();
    if (ToolButton(editor.playing ? "\xef\x81\x8c" : "\xef\x81\x8b", editor.playing ? "Pause" : "Play",
                   editor.playing ? "Pause (Space)" : "Play (Space)", buttonH))
        TogglePlay();
    RegisterLastItem("transport:play");
    ImGui::SameLine();
    if (ToolButton("\xef\x81\x8d", "Stop", "Stop and return to start", buttonH)) StopTransport();
    RegisterLastItem("transport:stop");
    ImGui::SameLine();
    if (editor.loopWorkArea) ImGui::PushStyleColor(ImGuiCol_Button, ImGui::GetStyleColorVec4(ImGuiCol_ButtonActive));
    const bool loopPressed = ToolButton("\xef\x80\x9e", "Loop", editor.loopWorkArea ? "Loop the work area: on" : "Loop the work area: off",
                                        buttonH);
    if (editor.loopWorkArea) ImGui::PopStyleColor();
    if (loopPressed) editor.loopWorkArea = !editor.loopWorkArea;
    RegisterLastItem("transport:loop");

    ImGui::SameLine(0, 16);
    ImGui::PushFont(UiFont(3, FontFamily::Medium));
    const std::string tc = PlayheadTimecode();
    ImGui::SetCursorPosY((rect.h - ImGui::GetTextLineHeight()) * 0.5f);
    ImGui::TextUnformatted(tc.c_str());
    ImGui::PopFont();
    ImGui::SameLine(0, 10);
    ImGui::SetCursorPosY((rect.h - ImGui::GetTextLineHeight()) * 0.5f);
    ImGui::TextDisabled("%.3f s", static_cast<double>(editor.playhead));

    // Zoom and draw mode at the right end.
    const float right = rect.x + rect.w - 8;
    const ImGuiStyle& style = ImGui::GetStyle();
    const float zoomW = ImGui::CalcTextSize("Fit").x + style.FramePadding.x * 2;
    const float signW = ImGui::CalcTextSize("+").x + style.FramePadding.x * 2;
    const float drawW = ImGui::CalcTextSize("Draw").x + style.FramePadding.x * 2;
    const float total = signW * 2 + zoomW + drawW + style.ItemSpacing.x * 3 + 12;
    ImGui::SameLine();
    ImGui::SetCursorScreenPos(ImVec2(right - total, rect.y + (rect.h - buttonH) * 0.5f));
    if (ImGui::Button("-")) ZoomBy(1.0f / 1.5f);
    if (ImGui::IsItemHovered()) ImGui::SetTooltip("Zoom out (Ctrl+-)");
    ImGui::SameLine();
    if (ImGui::Button("+")) ZoomBy(1.5f);
    if (ImGui::IsItemHovered()) ImGui::SetTooltip("Zoom in (Ctrl+=)");
    ImGui::SameLine();
    if (ImGui::Button("Fit")) RequestZoomToFit();
    if (ImGui::IsItemHovered()) ImGui::SetTooltip("Zoom to fit (Ctrl+0)");
    ImGui::SameLine(0, style.ItemSpacing.x + 12);
    if (editor.drawMode) ImGui::PushStyleColor(ImGuiCol_Button, IM_COL32(70, 110, 170, 255));
    const bool toggled = ImGui::Button("Draw");
    if (editor.drawMode) ImGui::PopStyleColor();
    if (toggled) editor.drawMode = !editor.drawMode;
    if (ImGui::IsItemHovered()) ImGui::SetTooltip("Draw mode: paint the selected event's curves in the Events tab");
    EndRegion();
}

}  // namespace morvane
