#pragma once
// The work DrawUI performs around its panels, in its fixed order. Each step is one
// function so the order stays readable where DrawUI calls them.
namespace morvane {

// 1. Once: user folders, preferences, demo content, recipes and chains; reopen the
//    audio output at the preferred rate; start the daily update check when due.
void RunFirstFrameWork();
// 2. The close request: the "Unsaved" card when the project has unsaved events, else
//    save the preferences and quit.
void HandleCloseRequest();
// 3. A pending project (command line, second start, recent menu): the same card when
//    needed, else open it.
void HandlePendingProject();
// Between the command and the panels: take over what background jobs finished.
void PickUpBackgroundResults();
// 6. The status timer and a worker's posted status text.
void TickStatus(float dt);
// 7. The audio-device check every 2.5 s.
void TickDeviceWatchdog(float dt);
// 8. The autosave timer.
void TickAutosave(float dt);
// Steps 6 to 8 with the time since they last ran: called by every frame, and by the
// frame loop when it skips an idle frame, so the timers run while nothing is drawn.
void ServeTimers();

// The "Unsaved" card's buttons: save (when asked) and carry out the pending action, or
// cancel it (the card's close button).
void ResolveUnsaved(bool save);
void CancelUnsaved();

}  // namespace morvane
