#pragma once
// The regions of the main window and the modal cards. DrawUI lays the regions out and
// calls each once per frame; a region only draws and calls the operations of the part
// that owns what it shows.
struct ImVec2;

namespace morvane {

// A region's place in interface units.
struct PanelRect {
    float x = 0, y = 0, w = 0, h = 0;
};

void DrawVideoArea(const PanelRect& rect);
void DrawTransport(const PanelRect& rect);
void DrawTimeline(const PanelRect& rect);
void DrawStatusLine(const PanelRect& rect);
void DrawFooter(const PanelRect& rect);

// The side panel's tabs.
void DrawEventsTab();
void DrawSettingsTab();
void DrawLibraryTab();
void DrawTraceTab();
void DrawMixerTab();
void DrawExportTab();
// The Library tab's file list has the keyboard (its arrows, Enter and Space).
bool LibraryBrowserHasKeys();
// What a library file dragged from the Library tab carries: its path, zero-terminated.
inline constexpr const char* kLibraryFilePayload = "MV_LIBRARY_FILE";

// The menu of a right-clicked event on the timeline (its commands act on the
// selection); open is true on the frame of the click. Called inside the timeline's window.
void DrawEventContextMenu(bool open);

// Modal cards.
void DrawUnsavedCard();
void DrawAboutCard();
void DrawFileBrowserCard();
void DrawProgressOverlay();

// A fixed, undecorated window at rect for a region's contents; EndRegion closes it.
void BeginRegion(const char* id, const PanelRect& rect, unsigned int background);
void EndRegion();

// Names the item just drawn for scripted input.
void RegisterLastItem(const char* name);

}  // namespace morvane
