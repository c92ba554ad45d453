#pragma once
// The window's picture read and marker import: reading the picture of the project's
// video on a background job (its progress, cancel, and the trace files written after
// each completed read), taking a finished read into the project's "optical" record,
// importing the proposals the user keeps, and the sets of events imported from session
// markers (shown, hidden and cleared as a set). The Trace tab draws this.
//
// Interface thread only; the read runs on its own threads and TickTraceSession takes a
// finished one over on the frame loop.
#include <string>

#include "trace/analysis.h"

namespace morvane {

// The settings of the next read (copied when it starts).
TraceParams& TraceSettings();

bool PictureReadRunning();
float PictureReadProgress();  // 0..1
// Starts reading the project's video; false (nothing starts) without a video or while
// a read runs.
bool StartPictureRead();
void CancelPictureRead();
// "Clear the picture read": the read and the project's record of it.
void ClearPictureRead();
// Every frame: takes a finished read into the project.
void TickTraceSession();

// The proposals on the kept side of the slice level not imported yet.
int KeptTraceEventCount();
// They join the timeline as events (one undo step); returns how many.
int ImportKeptTraceEvents();

// The trace lane's slice level (0..1, no snapping) and which side of it stays.
void SetSliceLevel(float level);
void FlipSliceSide();
// One proposal judged on the trace lane: accepting adds it to the timeline as an event
// (one undo step), rejecting removes the proposal. Either judgement refits the trace
// model from this read's judgements (the proposals imported count as accepted) and,
// once it is valid, stores it in the preferences. False for a proposal that is gone
// or already accepted.
bool AcceptTraceProposal(int index);
bool RejectTraceProposal(int index);

// Markers of a session text file: read on the blocking job, then replacing the set the
// same file brought before. The status line says what happened.
void ImportMarkersFile(const std::string& path);
// Events imported from session markers, in all sets.
int ImportedMarkerEventCount();
bool MarkerEventsShown();
void ShowMarkerEvents(bool shown);
// "Clear imported markers": removes every imported marker event (one undo step).
void ClearImportedMarkers();

}  // namespace morvane
