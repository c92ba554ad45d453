#include "edit/scene_edit.h"

#include <algorithm>
#include <cmath>

#include "edit/event_edit.h"
#include "edit/selection.h"
#include "edit/timeline_edit.h"
#include "model/undo.h"

namespace morvane {

namespace {

bool SameWord(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

// A scene name no scene uses yet.
std::string NewSceneName(const std::vector<Scene>& scenes) {
    for (int n = 1;; ++n) {
        const std::string name = "Scene " + std::to_string(n);
        const bool used = std::any_of(scenes.begin(), scenes.end(), [&](const Scene& s) { return s.name == name; });
        if (!used) return name;
    }
}

}  // namespace

std::string JoinSceneKeywords(const std::vector<const Event*>& events) {
    std::vector<std::string> words;
    for (const Event* event : events) {
        const std::string& text = event->keywords;
        size_t at = 0;
        while (at < text.size()) {
            const size_t end = std::min(text.find_first_of(" ,", at), text.size());
            if (end > at) {
                std::string word = text.substr(at, end - at);
                const bool seen = std::any_of(words.begin(), words.end(), [&](const std::string& w) { return SameWord(w, word); });
                if (!seen) words.push_back(std::move(word));
            }
            at = end + 1;
        }
    }
    std::string joined;
    for (const std::string& word : words) {
        if (!joined.empty()) joined += ' ';
        joined += word;
    }
    if (joined.size() <= kSceneKeywordsMaxBytes) return joined;
    std::string cut = CutText(joined, kSceneKeywordsMaxBytes);
    // Half a word searches for something else: end at the last whole word when there
    // is one. A single word longer than the field keeps its cut start.
    if (joined[cut.size()] != ' ') {
        const size_t space = cut.rfind(' ');
        if (space != std::string::npos) cut.resize(space);
    }
    return cut;
}

EditResult SaveSceneFromSelection(const EditContext& edit) {
    Project& project = edit.project;
    const auto& events = project.timeline.events;
    const std::vector<int> selected = SelectedIndices(edit);
    float in = INFINITY, out = -INFINITY;
    std::vector<const Event*> sources;
    for (int index : selected) {
        const Event& e = events[static_cast<size_t>(index)];
        in = std::min(in, e.time);
        out = std::max(out, e.time + std::max(e.duration, 0.0f));
        sources.push_back(&e);
    }
    if (selected.empty() && (project.workAreaIn >= 0.0f || project.workAreaOut >= 0.0f)) {
        // An open end of the work area reaches the timeline's edge, as it is drawn.
        in = project.workAreaIn >= 0.0f ? project.workAreaIn : 0.0f;
        out = project.workAreaOut >= 0.0f ? project.workAreaOut : TimelineEnd(project);
    }
    if (!std::isfinite(in) || !std::isfinite(out)) return {false, false, "Select events or set a work area to save a scene"};
    if (out <= in) return {false, false, "Nothing to save: the scene would have no length"};
    Scene scene;
    scene.name = CutText(NewSceneName(project.timeline.scenes), kNameMaxBytes);
    scene.inTime = std::max(0.0f, in);
    scene.outTime = out;
    scene.keywords = JoinSceneKeywords(sources);
    PushUndo(project);
    project.timeline.scenes.push_back(scene);
    return {true, false, "Scene saved: " + scene.name};
}

namespace {

bool ValidScene(const Project& project, int scene) {
    return scene >= 0 && static_cast<size_t>(scene) < project.timeline.scenes.size();
}

}  // namespace

EditResult RenameScene(const EditContext& edit, int scene, const std::string& name) {
    if (!ValidScene(edit.project, scene)) return {};
    const std::string cut = CutText(name, kNameMaxBytes);
    if (cut.empty()) return {false, false, "A scene needs a name"};
    Scene& s = edit.project.timeline.scenes[static_cast<size_t>(scene)];
    if (s.name == cut) return {};
    PushUndo(edit.project);
    s.name = cut;
    return {true, false, {}};
}

EditResult SetSceneTimes(const EditContext& edit, int scene, float inTime, float outTime, std::vector<int>* affected) {
    if (affected) affected->clear();
    if (!ValidScene(edit.project, scene) || !std::isfinite(inTime) || !std::isfinite(outTime)) return {};
    auto& t = edit.project.timeline;
    Scene moved = t.scenes[static_cast<size_t>(scene)];
    moved.inTime = std::max(0.0f, inTime);
    moved.outTime = std::max(moved.inTime + kMinEventDuration, outTime);
    if (moved == t.scenes[static_cast<size_t>(scene)]) return {};
    PushUndo(edit.project);
    t.scenes[static_cast<size_t>(scene)] = moved;
    for (size_t i = 0; i < t.events.size(); ++i) {
        if (t.events[i].sceneLink != scene) continue;
        LinkEventToScene(t.events[i], t.scenes, scene);
        if (affected) affected->push_back(static_cast<int>(i));
    }
    return {true, false, {}};
}

EditResult DeleteScene(const EditContext& edit, int scene) {
    if (!ValidScene(edit.project, scene)) return {};
    PushUndo(edit.project);
    auto& t = edit.project.timeline;
    std::vector<char> removed(t.events.size(), 0);
    for (size_t i = 0; i < t.events.size(); ++i) {
        Event& e = t.events[i];
        if (e.sceneLink == scene) {
            removed[i] = e.sceneFill;
            e.sceneLink = -1;
        } else if (e.sceneLink > scene) {
            --e.sceneLink;
        }
    }
    const std::string name = t.scenes[static_cast<size_t>(scene)].name;
    t.scenes.erase(t.scenes.begin() + scene);
    RemoveEvents(edit, removed);
    return {true, false, "Scene deleted: " + name};
}

int SceneBackground(const Project& project, int scene) {
    const auto& events = project.timeline.events;
    for (size_t i = 0; i < events.size(); ++i)
        if (events[i].sceneFill && events[i].sceneLink == scene) return static_cast<int>(i);
    return -1;
}

EditResult SetSceneBackground(const EditContext& edit, int scene, EventShape shape) {
    if (!ValidScene(edit.project, scene)) return {};
    if (shape != EventShape::Fill && shape != EventShape::Bed) return {false, false, "A scene's background is a Fill or a Bed"};
    auto& t = edit.project.timeline;
    int index = SceneBackground(edit.project, scene);
    if (index >= 0 && t.events[static_cast<size_t>(index)].shape == shape) return {};
    PushUndo(edit.project);
    if (index < 0) {
        Event background;
        background.keywords = CutText(t.scenes[static_cast<size_t>(scene)].keywords, kKeywordsMaxBytes);
        background.sceneFill = true;
        LinkEventToScene(background, t.scenes, scene);
        t.events.push_back(std::move(background));
        index = static_cast<int>(t.events.size()) - 1;
    }
    t.events[static_cast<size_t>(index)].shape = shape;
    SyncSelection(edit);
    SelectEvent(edit, index, false);
    return {true, false, {}};
}

}  // namespace morvane
