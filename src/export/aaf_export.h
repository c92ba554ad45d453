#pragma once
// The AAF session of an export: every placed layer as mono Broadcast WAV media in
// "Audio Files" beside the session, and the session itself (aaf/aaf_session.h) with
// each clip where the mixer plays its layer, on the timeline's sample grid.
//
// Options (the project's export settings): handles around each clip taken from its
// source file ("_src_" media), fades as transitions, clip edges snapped to video
// frames, intensity curves as clip gain automation, sync-point markers, multichannel
// sources as one mono track per channel, and "exportFillVirtual": the layers that are
// muted on the timeline (by hand or by the track budget) come along on tracks of
// their own after the audible ones, so the mixer can bring an alternative back.
//
// All or nothing: a failure removes every file and folder this export made.
// Runs on the export thread over a snapshot.
#include <string>

#include "export/export_snapshot.h"

namespace morvane {

// Writes the AAF session of the snapshot into its export folder. Returns false
// with a one-line reason in `error` when no session was written.
// `times`, when given, receives how long the media and the session file took.
struct AafExportTimes {
    double mediaSeconds = 0.0;    // every clip's Broadcast WAV files
    double sessionSeconds = 0.0;  // building and writing the .aaf file
};
bool ExportAAF(const ExportSnapshot& snapshot, std::string* error, AafExportTimes* times = nullptr);

// The media file name of clip `number` ("%s_%03d_%s%s.wav", or "%s_%03d_src_%s%s.wav"
// for media taken from the source with handles); `suffix` is "", ".L", ".R" or ".N".
std::string AafMediaFileName(const std::string& prefix, int number, const std::string& clipName,
                             const std::string& suffix, bool fromSource);

}  // namespace morvane
