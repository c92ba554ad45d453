#pragma once
// The AAF session of an export. The session writer is not part of this build yet:
// asking for it gives a clear failure, never a silent success, so the export
// reports "AAF export FAILED" and still writes its WAV files.
#include <string>

#include "export/export_snapshot.h"

namespace morvane {

// Writes the AAF session of the snapshot into its export folder. Returns false
// with a one-line reason in `error` when no session was written.
bool ExportAAF(const ExportSnapshot& snapshot, std::string* error);

}  // namespace morvane
