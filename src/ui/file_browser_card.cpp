// The file browser card: the folder shown, its sub-folders and the files of the chosen
// type, a name field (a name in the folder or a full path; Enter accepts), the type
// list, and the buttons. Escape cancels.
#include <imgui.h>

#include <cstdio>
#include <string>

#include "app/file_browser.h"
#include "ui/panels.h"

namespace morvane {

void DrawFileBrowserCard() {
    FileBrowserState& b = FileBrowser();
    const char* const id = "###filebrowser";
    if (!b.open) {
        // A card left open from the last frame is closed with the request.
        if (ImGui::IsPopupOpen(id)) {
            if (ImGui::BeginPopupModal(id)) {
                ImGui::CloseCurrentPopup();
                ImGui::EndPopup();
            }
        }
        return;
    }
    const std::string title = b.request.title + id;
    if (!ImGui::IsPopupOpen(id)) ImGui::OpenPopup(title.c_str());
    const ImGuiViewport* viewport = ImGui::GetMainViewport();
    ImGui::SetNextWindowPos(viewport->GetCenter(), ImGuiCond_Appearing, ImVec2(0.5f, 0.5f));
    ImGui::SetNextWindowSize(ImVec2(620, 440), ImGuiCond_Appearing);
    bool keepOpen = true;
    if (!ImGui::BeginPopupModal(title.c_str(), &keepOpen)) return;

    if (ImGui::Button("Up")) BrowseTo("..");
    ImGui::SameLine();
    ImGui::TextUnformatted(b.folder.c_str());

    const float footer = ImGui::GetFrameHeightWithSpacing() * 3 + ImGui::GetTextLineHeightWithSpacing();
    bool accept = false;
    std::string enter;  // a folder double-clicked this frame
    if (ImGui::BeginChild("##entries", ImVec2(0, -footer), true)) {
        if (b.entries.empty()) ImGui::TextDisabled("Nothing here of this type.");
        for (size_t i = 0; i < b.entries.size(); ++i) {
            const FileBrowserEntry& entry = b.entries[i];
            const std::string label = entry.folder ? entry.name + "/" : entry.name;
            ImGui::PushID(static_cast<int>(i));
            const bool chosen = !entry.folder && b.fileName == entry.name;
            if (ImGui::Selectable(label.c_str(), chosen, ImGuiSelectableFlags_AllowDoubleClick)) {
                if (entry.folder) {
                    if (ImGui::IsMouseDoubleClicked(0)) enter = entry.name;
                } else {
                    b.fileName = entry.name;
                    accept = ImGui::IsMouseDoubleClicked(0);
                }
            }
            RegisterLastItem(("browser:" + entry.name).c_str());
            ImGui::PopID();
        }
    }
    ImGui::EndChild();
    if (!enter.empty()) BrowseTo(b.folder == "/" ? "/" + enter : b.folder + "/" + enter);

    // The name field keeps its own buffer while it has the keyboard.
    static char name[1024];
    static bool editingName = false;
    if (!editingName) std::snprintf(name, sizeof name, "%s", b.fileName.c_str());
    if (b.focusName) {
        ImGui::SetKeyboardFocusHere();
        b.focusName = false;
    }
    ImGui::SetNextItemWidth(-ImGui::CalcTextSize("File name").x - 16.0f);
    if (ImGui::InputText("File name", name, sizeof name, ImGuiInputTextFlags_EnterReturnsTrue)) accept = true;
    editingName = ImGui::IsItemActive();
    if (ImGui::IsItemEdited() || (accept && editingName)) b.fileName = name;
    RegisterLastItem("browser:name");

    std::string filterNames;
    for (const FileFilter& f : b.request.filters) filterNames += f.name + " (" + f.patterns + ")" + '\0';
    filterNames += '\0';
    ImGui::SetNextItemWidth(-ImGui::CalcTextSize("File name").x - 16.0f);
    if (!b.request.filters.empty() && ImGui::Combo("Type", &b.filterIndex, filterNames.c_str())) BrowseTo(b.folder);

    if (!b.error.empty()) ImGui::TextColored(ImVec4(0.95f, 0.45f, 0.40f, 1.0f), "%s", b.error.c_str());
    else ImGui::NewLine();

    const char* action = b.request.mode == BrowseMode::SaveFile ? "Save"
                         : b.request.mode == BrowseMode::ChooseFolder ? "Choose" : "Open";
    if (ImGui::Button(action, ImVec2(100, 0))) accept = true;
    RegisterLastItem("browser:accept");
    ImGui::SameLine();
    const bool cancel = ImGui::Button("Cancel", ImVec2(100, 0)) || ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Escape), false);
    if (cancel || !keepOpen) {
        ImGui::CloseCurrentPopup();
        CloseFileBrowser();
    } else if (accept) {
        if (!AcceptFileBrowser()) b.focusName = true;  // back to the name, to correct it
        else if (!FileBrowser().open) ImGui::CloseCurrentPopup();
    }
    ImGui::EndPopup();
}

}  // namespace morvane
