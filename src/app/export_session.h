#pragma once
// The window's export work: the WAV and AAF export of the open project as a
// background job over a snapshot of its rendered audio, the export folder, variations
// of the selected events on a worker of their own, and Bounce Selection to Clip and
// Revert to Source. The Export tab and the menu draw and call this.
//
// Interface thread only; the workers run on their own threads and TickExportSession
// takes what they finished over on the frame loop.
#include <string>

#include "model/timeline.h"

namespace morvane {

// Adds the export's and the variations' busy flags to the shell and stops their
// workers at shutdown. Called once at start, after the audio engine is connected.
void ConnectExportSession();
// Every frame: takes a finished export, variations run or bounce over.
void TickExportSession();

// An export, a variations run or a bounce is running.
bool ExportWorkRunning();

// The folder the next export writes into: the one the user typed, else beside the
// project ("<project folder>/<name> Export"), else the documents folder's "Export".
std::string ExportFolder();
// The user's folder for this project ("" returns to the one beside the project).
void SetExportFolder(const std::string& folder);
// The base name of the files: the project's file name, "Morvane" when unsaved.
std::string ExportBaseName();

// A change of the project's export choices: the project is modified, and the
// choices new projects start from (preferences) follow.
void ChangeExportSettings(const ExportSettings& settings);
// The mixdown's loudness target (0 off, 1..4) and the layout of mix and stems (0..3),
// kept in the preferences.
void ChangeExportLoudness(int lufsIndex);
void ChangeExportLayout(int layout);

// Why the export button is disabled now ("Build the timeline first", ...), or "".
std::string ExportBlocker();
const char* ExportButtonText();
bool ExportRunning();
// Starts the export of the open project as it plays now; false when blocked.
bool StartWindowExport();
void CancelWindowExport();
float ExportProgress();  // of the kind being written, 0..1
std::string ExportStatus();

// The last finished export, for the panel: its result text and where it wrote.
struct ExportResultView {
    bool shown = false;
    bool failed = false;  // the AAF part, a kind or the whole export failed or was cancelled
    std::string text;     // "Export complete — 4 files", ...
    std::string failure;  // what failed first and why
    std::string folder;
};
const ExportResultView& LastExportResult();
// "Open Folder": the last export's folder in the desktop's file manager.
void OpenLastExportFolder();

// Variations of the selected events ("Variations" under the export folder).
std::string VariationsBlocker();  // "" when a run can start
bool StartVariations();
bool VariationsRunning();
float VariationsProgress();
std::string VariationsStatus();  // "Rendering 5 variations…", then "Exported 5 variations"
void CancelVariations();

// "Bounce Selection to Clip": the selected events rendered into one file on the
// blocking job, replacing them by a Clip event when the timeline did not change
// meanwhile. The status line says what happened.
void BounceSelectionCommand();
// The selected event when it is a clip made by a bounce; -1 otherwise.
int RevertibleSelection();
// "Revert to Source": that clip replaced by its events, which are built again.
void RevertSelectionCommand();

}  // namespace morvane
