#include "ui/widgets.h"

#include <imgui.h>

#include "app/fonts.h"

namespace morvane {

void SectionTitle(const char* text) {
    ImGui::Spacing();
    ImGui::PushFont(UiFont(1, FontFamily::Medium));
    ImGui::TextUnformatted(text);
    ImGui::PopFont();
    ImGui::Separator();
}

void Tooltip(const char* text) {
    if (ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenDisabled)) ImGui::SetTooltip("%s", text);
}

}  // namespace morvane
