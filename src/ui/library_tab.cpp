// The Library tab: the user's libraries with their settings, scanning folders in
// the background, a browser of one library's files (or all enabled ones) with the
// selection's keyword search, audition and dragging onto the timeline, palettes, and
// the missing sources with relinking. The tab draws and calls app/library_session.h;
// what it keeps itself is only what the user is looking at (the browser's query,
// selection and cursor).
#include <imgui.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/file_browser.h"
#include "app/fonts.h"
#include "app/library_session.h"
#include "app/ui_script.h"
#include "engine/browse.h"
#include "engine/similar.h"
#include "model/preferences.h"
#include "platform/folders.h"
#include "ui/panels.h"
#include "ui/widgets.h"

namespace morvane {

namespace {

const char* const kWeightNames[] = {"any", "0", "1", "2"};

struct BrowserView {
    BrowserQuery query;
    char search[256] = "";
    std::vector<const LibraryEntry*> rows;
    std::string rowsKey;               // what the rows were made from
    std::set<std::string> selected;    // paths
    int cursor = -1;                   // row the arrow keys move
    bool scrollToCursor = false;
    bool focused = false;              // the table had the keyboard last frame
    std::string removeName;            // the library the Remove card asks about
    std::string locateId, locatePath;  // the Locate... waiting for "Use anyway"
    int threads = 0;
    // "Similar": the file asked about and its nearest files, kept as copies so a scan
    // taken over meanwhile cannot leave the list pointing at freed entries.
    std::string similarTo;
    std::string similarKey;  // the libraries the list was made from
    std::vector<LibraryEntry> similar;
};

BrowserView& View() {
    static BrowserView view;
    return view;
}

// The rows are made again only when the query or the libraries behind them change
// (a scan taken over, a library removed or switched off, a palette saved).
std::string LibrariesKey() {
    std::string key;
    for (const Library& library : Libraries().libraries) {
        char part[96];
        std::snprintf(part, sizeof part, "|%p:%zu:%d", static_cast<const void*>(library.entries.data()),
                      library.entries.size(), library.enabled ? 1 : 0);
        key += part;
    }
    return key;
}

std::string RowsKey(const BrowserQuery& query) {
    return query.library + '\n' + query.search + '\n' + std::to_string(static_cast<int>(query.sortBy)) +
           (query.ascending ? "a" : "d") + LibrariesKey();
}

void RefreshRows(BrowserView& view) {
    view.query.search = view.search;
    std::string key = RowsKey(view.query);
    if (key == view.rowsKey) return;
    view.rows = BrowseEntries(Libraries().libraries, view.query);
    view.rowsKey = std::move(key);
    view.cursor = std::min(view.cursor, static_cast<int>(view.rows.size()) - 1);
}

void AddFolderButton() {
    if (ImGui::Button("Add Folder\xE2\x80\xA6")) {
        FileBrowserRequest request;
        request.title = "Add Library Folder";
        request.mode = BrowseMode::ChooseFolder;
        request.folder = DocumentsFolder();
        request.onChosen = [](const std::string& folder) { AddLibraryFolder(folder); };
        OpenFileBrowser(std::move(request));
    }
    RegisterLastItem("lib:add-folder");
    ImGui::SameLine();
    BrowserView& view = View();
    ImGui::SetNextItemWidth(90.0f);
    if (ImGui::InputInt("Scan threads", &view.threads)) {
        view.threads = std::max(0, view.threads);
        SetMaxScanThreads(view.threads);
    }
    if (ImGui::IsItemHovered()) ImGui::SetTooltip("0: as many as the computer has");
}

void DrawScanProgress() {
    const ScanProgressView scan = CurrentScanProgress();
    if (scan.running) {
        ImGui::TextWrapped("Scanning folder: %s", scan.folder.c_str());
        const float fraction = scan.total > 0 ? static_cast<float>(scan.done) / static_cast<float>(scan.total) : 0.0f;
        char overlay[64];
        std::snprintf(overlay, sizeof overlay, "%d / %d", scan.done, scan.total);
        ImGui::ProgressBar(fraction, ImVec2(-90.0f, 0), overlay);
        ImGui::SameLine();
        if (ImGui::Button("Cancel")) CancelLibraryScan();
        RegisterLastItem("lib:cancel-scan");
        ImGui::TextDisabled("%.0f files per second", static_cast<double>(scan.filesPerSecond));
    } else if (!scan.error.empty()) {
        ImGui::TextColored(ImVec4(1.0f, 0.55f, 0.45f, 1.0f), "%s", scan.error.c_str());
    } else if (!scan.status.empty()) {
        ImGui::TextDisabled("%s", scan.status.c_str());
    }
    for (const std::string& folder : scan.queued) ImGui::TextDisabled("%s  queued", folder.c_str());
    if (!scan.failures.empty() && ImGui::TreeNode("##failed", "%zu file%s could not be read", scan.failures.size(),
                                                  scan.failures.size() == 1 ? "" : "s")) {
        for (const ScanFailure& failure : scan.failures) {
            const std::filesystem::path path(failure.path);
            ImGui::TextWrapped("%s  (%s) \xE2\x80\x94 %s", path.filename().c_str(), path.parent_path().c_str(),
                               failure.reason.c_str());
        }
        ImGui::TreePop();
    }
}

// One library in two lines: the enabled check, its name (click to browse it), the
// weight class and a menu of what can be done to it; then its summary.
void DrawLibraryRow(const Library& library, int index) {
    BrowserView& view = View();
    ImGui::PushID(index);
    const std::string id = "lib:" + library.name;
    bool enabled = library.enabled;
    if (ImGui::Checkbox("##enabled", &enabled)) SetLibraryEnabled(library.name, enabled);
    RegisterLastItem((id + ":enabled").c_str());
    if (ImGui::IsItemHovered()) ImGui::SetTooltip("Used by the build");
    ImGui::SameLine();
    const bool shown = view.query.library == library.name;
    if (ImGui::Selectable(library.name.c_str(), shown, 0, ImVec2(ImGui::GetContentRegionAvail().x - 120.0f, 0)))
        view.query.library = shown ? "" : library.name;
    RegisterLastItem(id.c_str());
    if (ImGui::IsItemHovered()) ImGui::SetTooltip("%s", library.savedPalette ? "Saved palette" : library.folder.c_str());
    ImGui::SameLine();
    ImGui::SetNextItemWidth(62.0f);
    int weight = library.weightClass + 1;
    if (ImGui::Combo("##weight", &weight, kWeightNames, 4)) SetLibraryWeightClass(library.name, weight - 1);
    if (ImGui::IsItemHovered()) ImGui::SetTooltip("Weight class: which events draw on it");
    ImGui::SameLine();
    if (ImGui::Button("\xE2\x80\xA6")) ImGui::OpenPopup("##actions");
    RegisterLastItem((id + ":menu").c_str());
    if (ImGui::BeginPopup("##actions")) {
        if (!library.folder.empty()) {
            bool uses = ProjectUsesLibrary(library);
            if (ImGui::Checkbox("Used by this project", &uses)) SetProjectUsesLibrary(library, uses);
            if (ImGui::Selectable("Rescan")) RescanLibrary(library.name, false);
            RegisterLastItem((id + ":rescan").c_str());
            if (ImGui::Selectable("Deep Rescan")) RescanLibrary(library.name, true);
        }
        ImGui::SetNextItemWidth(170.0f);
        int channels = std::clamp(library.channelInterpretation, 0, 3);
        if (ImGui::Combo("Channels", &channels, kChannelInterpretationNames, 4)) SetLibraryChannels(library.name, channels);
        if (ImGui::IsItemHovered()) ImGui::SetTooltip("How the library's multichannel files are read");
        bool separate = library.disableGrouping;
        if (ImGui::Checkbox("Treat as separate files", &separate)) SetLibrarySeparateFiles(library.name, separate);
        RegisterLastItem((id + ":separate").c_str());
        if (ImGui::IsItemHovered()) ImGui::SetTooltip("Mono files named _L, _R, _C ... stay single files, not one group");
        if (ImGui::Selectable("Remove")) view.removeName = library.name;
        RegisterLastItem((id + ":remove").c_str());
        ImGui::EndPopup();
    }
    // Wrapped: the summary is longer than the side panel is wide.
    ImGui::PushStyleColor(ImGuiCol_Text, ImGui::GetStyleColorVec4(ImGuiCol_TextDisabled));
    ImGui::TextWrapped("%s%s", LibrarySummaryLine(library).c_str(), ProjectUsesLibrary(library) ? "  (project)" : "");
    ImGui::PopStyleColor();
    ImGui::PopID();
}

void DrawLibraries() {
    SectionTitle("Libraries");
    AddFolderButton();
    DrawScanProgress();
    const std::vector<Library>& libraries = Libraries().libraries;
    if (LibrariesLoading()) {
        ImGui::TextDisabled("Reading the libraries\xE2\x80\xA6");
        return;
    }
    if (libraries.empty()) {
        ImGui::TextDisabled("No libraries yet. Add a folder of sound files, or drop one on the window.");
        return;
    }
    // The list scrolls on its own so the browser below keeps its room.
    // A row is its controls and a summary that may wrap onto a second line.
    const float rowHeight = ImGui::GetFrameHeightWithSpacing() + 2.0f * ImGui::GetTextLineHeightWithSpacing();
    const float height = std::min(rowHeight * static_cast<float>(libraries.size()), ImGui::GetContentRegionAvail().y * 0.35f);
    ImGui::BeginChild("##libraries", ImVec2(0, std::max(height, rowHeight)));
    for (size_t i = 0; i < libraries.size(); ++i) DrawLibraryRow(libraries[i], static_cast<int>(i));
    ImGui::EndChild();
}

void DrawRemoveCard() {
    BrowserView& view = View();
    if (!view.removeName.empty() && !ImGui::IsPopupOpen("Remove Library")) ImGui::OpenPopup("Remove Library");
    ImGui::SetNextWindowPos(ImGui::GetMainViewport()->GetCenter(), ImGuiCond_Appearing, ImVec2(0.5f, 0.5f));
    if (!ImGui::BeginPopupModal("Remove Library", nullptr, ImGuiWindowFlags_AlwaysAutoResize)) return;
    ImGui::Text("Remove %s?", view.removeName.c_str());
    ImGui::TextDisabled("Its index is forgotten; the sound files stay where they are.");
    const bool remove = ImGui::Button("Remove", ImVec2(100, 0));
    RegisterLastItem("lib:confirm-remove");
    ImGui::SameLine();
    const bool cancel = ImGui::Button("Cancel", ImVec2(100, 0)) || ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Escape), false);
    if (remove) RemoveLibrary(view.removeName);
    if (remove || cancel) {
        if (view.query.library == view.removeName) view.query.library.clear();
        view.removeName.clear();
        ImGui::CloseCurrentPopup();
    }
    ImGui::EndPopup();
}

void Audition(BrowserView& view, int row) {
    if (row < 0 || row >= static_cast<int>(view.rows.size())) return;
    view.cursor = row;
    view.scrollToCursor = true;
    AuditionLibraryFile(view.rows[static_cast<size_t>(row)]->path);
}

// Keys of the browser while its table has the keyboard: Enter plays the cursor's file,
// Space stops, the arrows move and play.
void HandleBrowserKeys(BrowserView& view) {
    if (!view.focused || ImGui::GetIO().WantTextInput) return;
    auto pressed = [](ImGuiKey key) { return ImGui::IsKeyPressed(ImGui::GetKeyIndex(key), true); };
    const int last = static_cast<int>(view.rows.size()) - 1;
    if (pressed(ImGuiKey_DownArrow) && view.cursor < last) Audition(view, view.cursor + 1);
    if (pressed(ImGuiKey_UpArrow) && view.cursor > 0) Audition(view, view.cursor - 1);
    if (pressed(ImGuiKey_Enter)) Audition(view, std::max(0, view.cursor));
    if (pressed(ImGuiKey_Space)) StopAudition();
    if (view.cursor >= 0 && view.cursor <= last) {
        view.selected.clear();
        view.selected.insert(view.rows[static_cast<size_t>(view.cursor)]->path);
    }
}

void ApplySort(BrowserView& view) {
    ImGuiTableSortSpecs* specs = ImGui::TableGetSortSpecs();
    if (!specs || !specs->SpecsDirty || specs->SpecsCount == 0) return;
    view.query.sortBy = static_cast<BrowserColumn>(specs->Specs[0].ColumnIndex);
    view.query.ascending = specs->Specs[0].SortDirection == ImGuiSortDirection_Ascending;
    specs->SpecsDirty = false;
}

// A library file dragged onto the timeline becomes a Clip at the drop time.
void DragFileSource(const LibraryEntry& entry) {
    if (!ImGui::BeginDragDropSource()) return;
    ImGui::SetDragDropPayload(kLibraryFilePayload, entry.path.c_str(), entry.path.size() + 1);
    ImGui::Text("%s", entry.name.c_str());
    ImGui::EndDragDropSource();
}

void DrawFileRow(BrowserView& view, int row) {
    const LibraryEntry& entry = *view.rows[static_cast<size_t>(row)];
    ImGui::TableNextRow();
    ImGui::TableNextColumn();
    ImGui::PushID(row);
    const bool selected = view.selected.count(entry.path) != 0 || row == view.cursor;
    if (ImGui::Selectable(entry.name.c_str(), selected, ImGuiSelectableFlags_SpanAllColumns)) {
        if (!ImGui::GetIO().KeyCtrl) view.selected.clear();
        if (!view.selected.insert(entry.path).second) view.selected.erase(entry.path);
        view.cursor = row;
        AuditionLibraryFile(entry.path);
    }
    // Named by its name cell: the row spans columns scrolled out of sight.
    const ImVec2 a = ImGui::GetItemRectMin(), b = ImGui::GetItemRectMax();
    RegisterScriptTarget("lib:file:" + std::to_string(row), {a.x, a.y, a.x + 80.0f, b.y});
    if (ImGui::IsItemHovered() && !entry.description.empty()) ImGui::SetTooltip("%s", entry.path.c_str());
    DragFileSource(entry);
    if (ImGui::BeginPopupContextItem("##file")) {
        ImGui::TextDisabled("Channels");
        for (int value = 0; value < 4; ++value)
            if (ImGui::MenuItem(kChannelInterpretationNames[value], nullptr, entry.channelInterpretation == value))
                SetFileChannels(entry.path, value);
        ImGui::EndPopup();
    }
    ImGui::PopID();
    ImGui::TableNextColumn();
    ImGui::Text("%.2f s", static_cast<double>(entry.duration));
    ImGui::TableNextColumn();
    ImGui::Text("%.0f", static_cast<double>(entry.sampleRate));
    ImGui::TableNextColumn();
    ImGui::Text("%d", entry.channels);
    ImGui::TableNextColumn();
    ImGui::Text("%d", entry.bitDepth);
    ImGui::TableNextColumn();
    ImGui::TextUnformatted(UcsCatIdOfName(entry.name).c_str());
    ImGui::TableNextColumn();
    ImGui::TextUnformatted(entry.description.c_str());
    ImGui::TableNextColumn();
    ImGui::TextUnformatted(entry.keywords.c_str());
}

// The room the missing sources take below the table: their heading and buttons and
// up to two files; more scroll inside their own list.
float MissingSectionHeight(size_t missing) {
    if (missing == 0) return 0.0f;
    const float line = ImGui::GetTextLineHeightWithSpacing(), frame = ImGui::GetFrameHeightWithSpacing();
    const float item = 3.0f * line + frame;
    return 2.0f * line + frame + static_cast<float>(std::min<size_t>(missing, 2)) * item + ImGui::GetStyle().ItemSpacing.y * 4.0f;
}

void DrawFileTable(BrowserView& view) {
    const ImGuiTableFlags flags = ImGuiTableFlags_Sortable | ImGuiTableFlags_ScrollY | ImGuiTableFlags_ScrollX |
                                  ImGuiTableFlags_RowBg | ImGuiTableFlags_Resizable | ImGuiTableFlags_BordersInnerV;
    const float below = MissingSectionHeight(MissingSourceViews().size());
    const float height = std::max(160.0f, ImGui::GetContentRegionAvail().y - below);
    if (!ImGui::BeginTable("##files", kBrowserColumnCount, flags, ImVec2(0, height))) return;
    ImGui::TableSetupScrollFreeze(1, 1);
    const char* const names[kBrowserColumnCount] = {"Name", "Length", "Rate", "Ch", "Bits", "Category", "Description", "Keywords"};
    for (int i = 0; i < kBrowserColumnCount; ++i)
        ImGui::TableSetupColumn(names[i], i == 0 ? ImGuiTableColumnFlags_DefaultSort | ImGuiTableColumnFlags_WidthFixed
                                                 : ImGuiTableColumnFlags_WidthFixed,
                                i == 0 ? 150.0f : (i >= 5 ? 120.0f : 50.0f));
    ImGui::TableHeadersRow();
    ApplySort(view);
    RefreshRows(view);
    ImGuiListClipper clipper;
    clipper.Begin(static_cast<int>(view.rows.size()));
    if (view.scrollToCursor && view.cursor >= 0) clipper.ForceDisplayRangeByIndices(view.cursor, view.cursor + 1);
    while (clipper.Step())
        for (int row = clipper.DisplayStart; row < clipper.DisplayEnd; ++row) {
            DrawFileRow(view, row);
            if (view.scrollToCursor && row == view.cursor) {
                ImGui::SetScrollHereY(0.5f);
                view.scrollToCursor = false;
            }
        }
    view.focused = ImGui::IsWindowFocused(ImGuiFocusedFlags_ChildWindows);
    ImGui::EndTable();
}

void RefreshSimilar(BrowserView& view) {
    std::string key = LibrariesKey();
    if (key == view.similarKey) return;
    view.similarKey = std::move(key);
    view.similar.clear();
    const LibraryEntry* target = nullptr;
    for (const Library& library : Libraries().libraries)
        for (const LibraryEntry& entry : library.entries)
            if (!target && entry.path == view.similarTo) target = &entry;
    if (!target) return;
    for (const SimilarFile& file : SimilarFiles(Libraries().libraries, *target)) view.similar.push_back(*file.entry);
}

// The nearest files to the one asked about: click to audition, drag onto the timeline.
void DrawSimilar(BrowserView& view) {
    if (view.similarTo.empty()) return;
    RefreshSimilar(view);
    ImGui::TextDisabled("Similar to %s", std::filesystem::path(view.similarTo).stem().c_str());
    ImGui::SameLine();
    if (ImGui::SmallButton("Close")) {
        view.similarTo.clear();
        return;
    }
    RegisterLastItem("lib:similar:close");
    const float rowHeight = ImGui::GetTextLineHeightWithSpacing();
    ImGui::BeginChild("##similar", ImVec2(0, rowHeight * 6.5f), true);
    if (view.similar.empty()) ImGui::TextDisabled("No other files in the enabled libraries.");
    for (size_t i = 0; i < view.similar.size(); ++i) {
        const LibraryEntry& entry = view.similar[i];
        ImGui::PushID(static_cast<int>(i));
        if (ImGui::Selectable(entry.name.c_str(), view.selected.count(entry.path) != 0)) {
            view.selected.clear();
            view.selected.insert(entry.path);
            AuditionLibraryFile(entry.path);
        }
        RegisterLastItem(("lib:similar:" + std::to_string(i)).c_str());
        if (ImGui::IsItemHovered()) ImGui::SetTooltip("%s", entry.path.c_str());
        DragFileSource(entry);
        ImGui::SameLine(ImGui::GetContentRegionAvail().x * 0.6f);
        ImGui::TextDisabled("%.2f s  %s", static_cast<double>(entry.duration), UcsCatIdOfName(entry.name).c_str());
        ImGui::PopID();
    }
    ImGui::EndChild();
}

void DrawBrowser() {
    BrowserView& view = View();
    SectionTitle("Files");
    ImGui::SetNextItemWidth(-1.0f);
    ImGui::InputTextWithHint("##search", "Search: door +wood -metal slam*", view.search, sizeof view.search);
    RegisterLastItem("lib:search");
    RefreshRows(view);
    std::vector<std::string> chosen;
    for (const LibraryEntry* entry : view.rows)
        if (view.selected.count(entry->path)) chosen.push_back(entry->path);
    ImGui::BeginDisabled(chosen.empty());
    if (ImGui::Button("Save as Palette")) {
        const std::string folder = std::filesystem::path(chosen[0]).parent_path().string();
        SavePaletteFromFiles(chosen, folder);
    }
    RegisterLastItem("lib:save-palette");
    ImGui::EndDisabled();
    if (ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenDisabled))
        ImGui::SetTooltip("Saves the selected files as a palette; drag a file onto the timeline to place it");
    ImGui::SameLine();
    const LibraryEntry* current =
        view.cursor >= 0 && view.cursor < static_cast<int>(view.rows.size()) ? view.rows[static_cast<size_t>(view.cursor)] : nullptr;
    ImGui::BeginDisabled(current == nullptr);
    if (ImGui::Button("Similar") && current) {
        view.similarTo = current->path;
        view.similarKey.clear();
    }
    RegisterLastItem("lib:similar");
    ImGui::EndDisabled();
    if (ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenDisabled))
        ImGui::SetTooltip("The %d files of the enabled libraries that sound nearest to the selected one", kSimilarCount);
    ImGui::TextDisabled("%zu file%s in %s, %zu selected", view.rows.size(), view.rows.size() == 1 ? "" : "s",
                        view.query.library.empty() ? "all enabled libraries" : view.query.library.c_str(), chosen.size());
    HandleBrowserKeys(view);
    DrawSimilar(view);
    DrawFileTable(view);
}

void OpenLocate(const std::string& fileId) {
    FileBrowserRequest request;
    request.title = "Locate File";
    request.mode = BrowseMode::OpenFile;
    request.filters = AudioFileFilters();
    request.onChosen = [fileId](const std::string& path) {
        if (!LocateMissingFile(fileId, path, false)) {
            View().locateId = fileId;
            View().locatePath = path;
        }
    };
    OpenFileBrowser(std::move(request));
}

void DrawMissingSources() {
    const std::vector<MissingSourceView>& missing = MissingSourceViews();
    if (missing.empty()) return;
    char title[64];
    std::snprintf(title, sizeof title, "  MISSING SOURCES (%zu)", missing.size());
    SectionTitle(title);
    if (ImGui::Button("Relink all")) RelinkAllMissing();
    RegisterLastItem("lib:relink-all");
    ImGui::SameLine();
    if (ImGui::Button("Locate folder\xE2\x80\xA6")) {
        FileBrowserRequest request;
        request.title = "Locate Folder";
        request.mode = BrowseMode::ChooseFolder;
        request.onChosen = [](const std::string& folder) { LocateMissingFolder(folder); };
        OpenFileBrowser(std::move(request));
    }
    ImGui::BeginChild("##missing", ImVec2(0, std::max(ImGui::GetContentRegionAvail().y, ImGui::GetFrameHeightWithSpacing() * 4.0f)));
    // Only the items in view are drawn: a library on a drive that is not mounted has
    // every one of its files here.
    ImGuiListClipper clipper;
    clipper.Begin(static_cast<int>(missing.size()),
                  3.0f * ImGui::GetTextLineHeightWithSpacing() + ImGui::GetFrameHeightWithSpacing());
    while (clipper.Step()) {
        for (int i = clipper.DisplayStart; i < clipper.DisplayEnd; ++i) {
            const MissingSourceView& item = missing[static_cast<size_t>(i)];
            ImGui::PushID(i);
            ImGui::TextUnformatted(std::filesystem::path(item.source.lastKnownPath).filename().c_str());
            ImGui::TextDisabled("Last-known location: %s", item.source.lastKnownPath.c_str());
            ImGui::TextDisabled("%s", MissingSourceUsage(item).c_str());
            if (ImGui::SmallButton("Locate\xE2\x80\xA6")) OpenLocate(item.source.fileId);
            RegisterLastItem(("lib:locate:" + std::to_string(i)).c_str());
            ImGui::PopID();
        }
    }
    ImGui::EndChild();
}

void DrawDifferentContentCard() {
    BrowserView& view = View();
    if (!view.locateId.empty() && !ImGui::IsPopupOpen("Different Content")) ImGui::OpenPopup("Different Content");
    ImGui::SetNextWindowPos(ImGui::GetMainViewport()->GetCenter(), ImGuiCond_Appearing, ImVec2(0.5f, 0.5f));
    if (!ImGui::BeginPopupModal("Different Content", nullptr, ImGuiWindowFlags_AlwaysAutoResize)) return;
    ImGui::TextUnformatted("Selected file has different content.");
    ImGui::TextDisabled("%s", view.locatePath.c_str());
    const bool use = ImGui::Button("Use anyway", ImVec2(110, 0));
    RegisterLastItem("lib:use-anyway");
    ImGui::SameLine();
    const bool cancel = ImGui::Button("Cancel", ImVec2(110, 0)) || ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Escape), false);
    RegisterLastItem("lib:locate-cancel");
    if (use) LocateMissingFile(view.locateId, view.locatePath, true);
    if (use || cancel) {
        view.locateId.clear();
        view.locatePath.clear();
        ImGui::CloseCurrentPopup();
    }
    ImGui::EndPopup();
}

}  // namespace

bool LibraryBrowserHasKeys() { return View().focused; }

void DrawLibraryTab() {
    DrawLibraries();
    DrawBrowser();
    DrawMissingSources();
    DrawRemoveCard();
    DrawDifferentContentCard();
}

}  // namespace morvane
