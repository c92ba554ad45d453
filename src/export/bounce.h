#pragma once
// "Bounce to Clip": built events frozen into one audio file and replaced on the
// timeline by a single Clip event that keeps copies of them, and "Revert to
// Source", which puts those events back.
#include <string>
#include <vector>

#include "engine/event_build.h"
#include "library/libraries.h"
#include "model/timeline.h"

namespace morvane {

struct BounceContext {
    LibrarySet* libraries = nullptr;  // relinking by file id when rendering; may be null
    int channelOrderFallback = 0;
    SoundProbe probe = FileSoundProbe();  // builds the new Clip event from its file
};

struct BounceResult {
    bool ok = false;
    std::string statusText;  // "Nothing to bounce yet", or what was done
    std::string path;        // the bounced file
    int clipEvent = -1;      // index of the new Clip event
};

// The clip's name: the first selected event's label without "/\:*?"<>|" and
// trailing spaces ("Bounce" when nothing is left).
std::string BounceClipName(const Project& project, const std::vector<int>& selection);

// Renders the layers of the selected events over their span into a WAV file in
// the "Bounce" folder beside the project (a name already there gets "_2", "_3",
// ...), then replaces the events by one Clip event at the span's start playing that
// file, whose bounceSource holds the replaced events. The Clip event is built; the
// caller re-renders the cache. Group gains are part of the file, the master gain
// and the reverb are not (playback adds them to the clip as to any event).
BounceResult BounceSelection(Project& project, const std::string& projectPath, const std::vector<int>& selection,
                             const BounceContext& context);

struct RevertResult {
    bool ok = false;
    std::string statusText;
    std::vector<int> restoredEvents;  // indices of the events put back, to be built again
};

// Replaces the bounced Clip event `clipIndex` by the events of its bounceSource,
// in their order, at the clip's place in the list.
RevertResult RevertBounce(Project& project, int clipIndex);

}  // namespace morvane
