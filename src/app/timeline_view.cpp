#include "app/timeline_view.h"

#include <algorithm>

#include "app/app_state.h"
#include "app/audio_engine.h"
#include "app/editor_state.h"
#include "edit/timeline_edit.h"
#include "library/audio_file.h"
#include "trace/trace_files.h"

namespace morvane {

EditorState& Editor() {
    static EditorState state;
    return state;
}

EditState& Edits() {
    static EditState state;
    return state;
}

EditContext CurrentEdit() { return {CurrentProject(), Edits(), Editor().playhead}; }

bool FollowEdit(const EditResult& result) {
    if (!result.message.empty()) SetStatus(result.message, result.messageSeconds);
    if (result.layersMoved) SyncAudioWithEdits();
    return result.changed;
}

void PlaceSoundFilesAtPlayhead(const std::vector<std::string>& paths) {
    std::vector<ClipSource> sounds;
    for (const std::string& path : paths) {
        ComputeWaveformOverview(path);
        WaveformOverview overview;
        const bool known = FindWaveformOverview(path, &overview) && overview.duration > 0.0f;
        sounds.push_back({path, known ? overview.duration : 0.0f});
    }
    FollowEdit(PlaceClipsAtPlayhead(CurrentEdit(), sounds));
}

void ZoomBy(float factor) {
    EditorState& editor = Editor();
    editor.pixelsPerSecond = std::clamp(editor.pixelsPerSecond * factor, kMinPixelsPerSecond, kMaxPixelsPerSecond);
}

void RequestZoomToFit() { Editor().fitRequested = true; }

float FitPixelsPerSecond(const Project& project, float width) {
    return std::clamp(std::max(width, 1.0f) / TimelineEnd(project), kMinPixelsPerSecond, kMaxPixelsPerSecond);
}

std::string PlayheadTimecode() {
    const Project& project = CurrentProject();
    return TraceTimecode(Editor().playhead, project.timeline.settings.startTC, project.timeline.settings.fps);
}

void AdvanceTransport(float dt) {
    EditorState& editor = Editor();
    if (!editor.playing) return;
    // With rendered audio playing the output is the clock, so picture and sound
    // cannot drift apart; without it the playhead runs on frame time.
    float heard = 0.0f;
    const float before = editor.playhead;
    if (AudioPlayheadSeconds(&heard)) editor.playhead = heard;
    else editor.playhead += dt;
    float restart = 0.0f;
    // The loop turns where the sound being mixed reaches the work area's end, not where
    // the listener is, so nothing past the end is heard; the playhead turns with the sound.
    float mixedBefore = before, mixedNow = editor.playhead;
    const bool mixing = AudioMixedSeconds(&mixedBefore, &mixedNow);
    if (editor.loopWorkArea && WorkAreaLoopRestart(CurrentProject(), mixedBefore, mixedNow, &restart)) {
        StartAudioPlayback(restart);
        if (!mixing || !AudioPlayheadSeconds(&editor.playhead)) editor.playhead = restart;
        return;
    }
    const float end = TimelineEnd(CurrentProject());
    if (editor.playhead >= end) {
        editor.playhead = end;
        editor.playing = false;
        StopAudioPlayback();
    }
}

void TogglePlay() {
    EditorState& editor = Editor();
    if (!editor.playing && editor.playhead >= TimelineEnd(CurrentProject())) editor.playhead = 0.0f;
    editor.playing = !editor.playing;
    if (editor.playing) StartAudioPlayback(editor.playhead);
    else StopAudioPlayback();
}

void StopTransport() {
    StopAudioPlayback();
    Editor().playing = false;
    Editor().playhead = 0.0f;
}

}  // namespace morvane
