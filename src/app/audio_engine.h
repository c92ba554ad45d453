#pragma once
// The desktop program's sound: the render cache the timeline is built and rendered
// into, the render job slot that does that work off the interface thread, the audio
// output that plays the cache, and the worker that keeps long timelines within their
// memory budget.
//
// Jobs never touch the open project: each works on a copy made when it is
// submitted, and the interface thread takes the copy's layers back when the job is
// done, only if the user did not change the same things meanwhile. So the user can
// go on editing while audio is rendered, without either side seeing the other's
// half-made changes.
#include <string>
#include <vector>

namespace morvane {

struct RenderCache;
class AudioOutput;

// The cache playback mixes and the output it plays through, for the mixer session
// (strip settings, meters, monitoring). Interface thread.
RenderCache& PlaybackCache();
AudioOutput& PlaybackOutput();
// Opens the output again with as many channels as the monitoring format needs.
void ReopenAudioOutput();

// Sets the shell's and the project lifecycle's audio hooks (open, check and close
// the output, busy while playing or rendering, rebuild after an open, clear on new).
void ConnectAudioEngine();

// Once per frame on the interface thread: starts and takes over jobs, runs the
// refresh the timeline asks for, and follows the play position.
void TickAudioEngine();

// After an edit that moves built layers or mutes events: what plays follows at
// once, without new rendering.
void SyncAudioWithEdits();

// After an edit to events whose sounds follow from it (keywords, shape, curves ...):
// those events are built again and rendered in the background, and playback takes
// the new blocks without stopping. Requests made while a job runs wait for it.
void RequestEventRebuild(const std::vector<int>& events);
// "Next sound": a fresh file for one layer, drawn and rendered in the background; the
// change is one undo step when it arrives.
void RequestNextSound(int layerIndex);
// The event's layers changed their sounds in place (a step through a layer's
// history): render them again, without a new choice.
void RequestEventRender(int eventIndex);
// A fresh sound for this layer is being drawn or rendered.
bool NextSoundPending(int layerIndex);
// Plays the layer alone (-1: everything again).
void SoloLayer(int layerIndex);
int SoloedLayer();
// What the render made of a layer: its envelope (peak values over its length) and
// whether its file could not be read. False when it has no rendered block.
struct LayerAudioView {
    std::vector<float> envelope;
    bool missingFile = false;
    bool rendered = false;  // the layer has a block in the cache
};
// The rendered look of these layers (same order), read in one pass over the blocks under
// one hold of the cache's lock, which the audio thread only tries for. The views'
// buffers are reused from frame to frame, so after the first frame nothing is
// allocated while the lock is held.
void LayersAudio(const std::vector<int>& layers, std::vector<LayerAudioView>& views);

// The index files changed (a scan taken over, a palette saved, a library removed,
// files relinked): the next build reads them again.
void LibrariesChangedForBuilds();

// Composition > Render: builds the whole timeline from the project's libraries and
// renders it, with the progress card and Escape to cancel.
void RenderTimelineCommand();

// The transport. Playing without rendered audio plays the video's sound alone.
void StartAudioPlayback(float seconds);
void StopAudioPlayback();
// While playing: the position the listener hears, in seconds: the mixer's position less
// the output's latency, held at a start or seek until its sound comes out. The playhead
// takes it (later moves of the playhead are seeks). False when the playhead is not driven
// by the audio (nothing rendered, no device).
bool AudioPlayheadSeconds(float* seconds);
// The same position, for readers that only look (the frame bench).
bool AudioHeardSeconds(double* seconds);
// While playing: the mixer's position now and at the previous call, in seconds, ahead
// of what is heard by the output's latency. Turns the sound itself must make on time (the
// work area's loop) look at this one. False when the output does not play.
bool AudioMixedSeconds(float* before, float* now);

// The mixer's preview slot: a mono sound heard over whatever plays (the Library tab's
// audition); the old preview is replaced.
void PlaySoundPreview(std::vector<float> mono, int sampleRate);
void StopSoundPreview();

// No render job is running or waiting, what is built is ready to play, and the
// output (when one is open) takes buffers at the device's pace, so play is heard
// as soon as it starts.
bool AudioSettled();

// The rendered audio of the open project, for a copy taken on the interface thread
// (an export's snapshot).
RenderCache& RenderedAudio();
// No render job is running or waiting and every built layer has its sound in the
// cache: a copy taken now is the timeline as it plays.
bool RenderedAudioComplete();

// The render job, for the progress card and the status line.
bool AudioJobBlocking();           // a build the user waits for
std::string AudioJobStatus();      // "" when no job runs
float AudioJobProgress();          // 0..1, negative when unknown
bool AudioJobCancelling();
void CancelAudioJob();

}  // namespace morvane
