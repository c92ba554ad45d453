#include "app/ui_script.h"

#include <SDL.h>
#include <SDL_opengl.h>
#include <imgui.h>
#include <stb_image_write.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <stdexcept>

#include "app/app_state.h"
#include "app/audio_engine.h"
#include "app/commands.h"
#include "app/editor_state.h"
#include "app/export_session.h"
#include "app/library_session.h"
#include "app/mixer_session.h"
#include "app/timeline_view.h"
#include "app/video_session.h"
#include "edit/selection.h"
#include "engine/event_build.h"
#include "model/event_label.h"
#include "model/preferences.h"
#include "model/project_lifecycle.h"
#include "model/timeline.h"
#include "app/window.h"

namespace morvane {

namespace {

struct Step {
    int line = 0;
    std::string verb;
    std::vector<std::string> args;
    std::string rest;  // the text after the verb, for "type"
};

struct ScriptState {
    bool active = false;
    std::vector<Step> steps;
    size_t next = 0;
    std::string screenshotFolder;
    int waitFrames = 0;
    Uint64 waitUntilMs = 0;  // wall-clock wait; frames go on meanwhile
    Uint64 audioDeadlineMs = 0;  // wait-audio gives up at this time
    bool failed = false;

    // The script's pointer, in interface units.
    float mouseX = 10, mouseY = 300;
    bool mouseDown = false;
    float wheelY = 0;  // wheel notches for the next frame (positive: away from the user)
    // Steps that span several frames queue their remaining frames here.
    std::vector<std::function<void()>> pending;

    int keyUpCode = 0;  // a key pressed last frame, released this frame
    std::string screenshotAfterRender;
    int expectRetries = 0;
    Uint64 expectSinceMs = 0;  // when an expectation that waits by the clock was first tried
    // "frame-times": the durations of the frames since "frame-times start", in ms.
    bool timingFrames = false;
    Uint64 lastFrameCounter = 0;
    std::vector<double> frameMs;
    int finishFrames = -1;  // counts down to the final quit
    bool throwInFrame = false;
    std::string reveal;  // a control whose panel scrolls to it when next drawn
    std::map<std::string, UiRect> targets;
    std::vector<std::function<bool(const std::string&, float&, float&)>> places;
};

ScriptState& S() {
    static ScriptState s;
    return s;
}

void Fail(const Step& step, const std::string& message) {
    std::printf("[UI] script line %d: %s\n", step.line, message.c_str());
    std::fflush(stdout);
    S().failed = true;
}

SDL_Keycode KeyByName(const std::string& name) {
    if (name.size() == 1 && ((name[0] >= 'a' && name[0] <= 'z') || (name[0] >= '0' && name[0] <= '9')))
        return static_cast<SDL_Keycode>(name[0]);
    if (name.size() >= 2 && name[0] == 'f') {
        int n = std::atoi(name.c_str() + 1);
        if (n >= 1 && n <= 12) return SDLK_F1 + (n - 1);
    }
    static const std::map<std::string, SDL_Keycode> named = {
        {"comma", SDLK_COMMA},   {"equals", SDLK_EQUALS},       {"minus", SDLK_MINUS},
        {"period", SDLK_PERIOD}, {"slash", SDLK_SLASH},         {"escape", SDLK_ESCAPE},
        {"enter", SDLK_RETURN},  {"tab", SDLK_TAB},             {"delete", SDLK_DELETE},
        {"backspace", SDLK_BACKSPACE}, {"space", SDLK_SPACE},   {"left", SDLK_LEFT},
        {"right", SDLK_RIGHT},   {"up", SDLK_UP},               {"down", SDLK_DOWN},
        {"home", SDLK_HOME},     {"end", SDLK_END},
    };
    auto it = named.find(name);
    return it == named.end() ? SDLK_UNKNOWN : it->second;
}

// "ctrl+shift+s" -> key and modifiers; false when the key is unknown.
bool ParseChord(const std::string& chord, SDL_Keycode& key, Uint16& mods) {
    mods = KMOD_NONE;
    std::string rest = chord;
    for (;;) {
        size_t plus = rest.find('+');
        if (plus == std::string::npos || plus + 1 >= rest.size()) break;
        std::string mod = rest.substr(0, plus);
        if (mod == "ctrl") mods |= KMOD_LCTRL;
        else if (mod == "shift") mods |= KMOD_LSHIFT;
        else if (mod == "alt") mods |= KMOD_LALT;
        else return false;
        rest = rest.substr(plus + 1);
    }
    key = KeyByName(rest);
    return key != SDLK_UNKNOWN;
}

void PushKey(Uint32 type, SDL_Keycode key, Uint16 mods) {
    SDL_Event e{};
    e.type = type;
    e.key.windowID = App().window ? SDL_GetWindowID(App().window) : 0;
    e.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
    e.key.keysym.sym = key;
    e.key.keysym.scancode = SDL_GetScancodeFromKey(key);
    e.key.keysym.mod = mods;
    // The interface reads the modifiers from SDL's own state, not from the event.
    SDL_SetModState(static_cast<SDL_Keymod>(type == SDL_KEYDOWN ? mods : Uint16{0}));
    SDL_PushEvent(&e);
}

void PushText(const std::string& text) {
    // SDL delivers typed text in pieces of at most 31 bytes.
    for (size_t i = 0; i < text.size(); i += 31) {
        SDL_Event e{};
        e.type = SDL_TEXTINPUT;
        e.text.windowID = App().window ? SDL_GetWindowID(App().window) : 0;
        std::string piece = text.substr(i, 31);
        std::snprintf(e.text.text, sizeof e.text.text, "%s", piece.c_str());
        SDL_PushEvent(&e);
    }
}

bool TargetCentre(const std::string& name, float& x, float& y) {
    auto it = S().targets.find(name);
    if (it == S().targets.end()) {
        for (const auto& place : S().places)
            if (place(name, x, y)) return true;
        return false;
    }
    x = (it->second.x0 + it->second.x1) * 0.5f;
    y = (it->second.y0 + it->second.y1) * 0.5f;
    return true;
}

void QueueClick(float x, float y) {
    ScriptState& s = S();
    s.pending.push_back([x, y] { S().mouseX = x; S().mouseY = y; });
    s.pending.push_back([] { S().mouseDown = true; });
    s.pending.push_back([] { S().mouseDown = false; });
}

// The open project and the window's state as plain lines, for the test to compare:
//   project PATH|-  modified 0|1  playhead SECONDS  workarea IN OUT  layers N (built, unmuted)
//   event INDEX time T duration D shape NAME selected 0|1 locked 0|1 muted 0|1 folder NAME|- label TEXT
//   font FILE                the interface font's file ("ProggyClean.ttf": the built-in one)
//   box event:INDEX X0 Y0 X1 Y1   where the event was drawn (window pixels)
//   scan 0|1  library NAME files N enabled 0|1 weight W palette 0|1 uses 0|1
//   scene INDEX in SECONDS out SECONDS name NAME
//   layer INDEX event E pinned 0|1 history N cursor C file PATH|- name NAME
//   banned PATH
//   video loaded 0|1 frame T size W H fps F duration D rect X0 Y0 X1 Y1
//   export KEY VALUE ...     the project's export choices by their file keys, then
//                            exportWavLUFSIndex, exportWavLayout and the export folder
// (spaces in a folder name or a path become "_"; the label and the scene and layer
// names, last, keep their spaces)
bool DumpState(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (!f) return false;
    const Project& project = CurrentProject();
    const std::string projectPath = CurrentSession().projectPath;
    std::fprintf(f, "project %s\nmodified %d\nplayhead %.3f\nworkarea %.3f %.3f\n",
                 projectPath.empty() ? "-" : projectPath.c_str(), project.modified ? 1 : 0,
                 static_cast<double>(Editor().playhead), static_cast<double>(project.workAreaIn),
                 static_cast<double>(project.workAreaOut));
    int layers = 0;
    for (const Layer& layer : project.timeline.results) layers += layer.muted ? 0 : 1;
    std::fprintf(f, "layers %d\n", layers);
    // The interface font by its file, so a test sees when the shipped fonts were not found
    // (Dear ImGui's own font is then "ProggyClean.ttf").
    const ImFont* font = ImGui::GetIO().FontDefault;
    std::string fontName = font ? font->GetDebugName() : "-";
    fontName = fontName.substr(0, fontName.find(','));
    std::fprintf(f, "font %s\n", fontName.c_str());
    for (size_t i = 0; i < project.timeline.events.size(); ++i) {
        const Event& e = project.timeline.events[i];
        std::string folder = e.folder.empty() ? "-" : e.folder;
        std::replace(folder.begin(), folder.end(), ' ', '_');  // one word per value
        std::fprintf(f, "event %zu time %.3f duration %.3f shape %s selected %d locked %d muted %d folder %s label %s\n", i,
                     static_cast<double>(e.time), static_cast<double>(e.duration), EventShapeName(e.shape),
                     IsSelected(Edits(), static_cast<int>(i)) ? 1 : 0, e.locked ? 1 : 0, e.muted ? 1 : 0,
                     folder.c_str(), EventLabel(e));
    }
    // Where the events were drawn last frame, for tests that look at the pixels.
    for (const auto& [name, rect] : S().targets)
        if (name.rfind("event:", 0) == 0)
            std::fprintf(f, "box %s %.0f %.0f %.0f %.0f\n", name.c_str(), static_cast<double>(rect.x0),
                         static_cast<double>(rect.y0), static_cast<double>(rect.x1), static_cast<double>(rect.y1));
    DumpLibraryState(f);
    DumpVideoState(f);
    DumpMixerState(f);
    for (size_t i = 0; i < project.timeline.scenes.size(); ++i) {
        const Scene& scene = project.timeline.scenes[i];
        std::fprintf(f, "scene %zu in %.3f out %.3f name %s\n", i, static_cast<double>(scene.inTime),
                     static_cast<double>(scene.outTime), scene.name.c_str());
    }
    auto oneWord = [](std::string text) {
        std::replace(text.begin(), text.end(), ' ', '_');
        return text.empty() ? std::string("-") : text;
    };
    for (size_t i = 0; i < project.timeline.results.size(); ++i) {
        const Layer& l = project.timeline.results[i];
        const bool owned = l.eventIdx >= 0 && static_cast<size_t>(l.eventIdx) < project.timeline.events.size();
        const bool pinned = owned && LayerIsPinned(project.timeline.events[static_cast<size_t>(l.eventIdx)], l);
        std::fprintf(f, "layer %zu event %d pinned %d history %zu cursor %d file %s name %s\n", i, l.eventIdx,
                     pinned ? 1 : 0, l.history.entries.size(), l.history.cursor,
                     oneWord(l.filepath).c_str(), l.name.c_str());
    }
    for (const std::string& path : project.timeline.bannedFiles) std::fprintf(f, "banned %s\n", oneWord(path).c_str());
    const ExportSettings& x = project.exportSettings;
    std::fprintf(f,
                 "export exportFormatWAV %d exportFormatAAF %d exportWavMixdown %d exportWavStems %d exportWavTracks %d "
                 "exportWavClips %d exportReverbStem %d exportWithHandles %d handleDuration %.2f handleFullSource %d "
                 "fadeInDuration %.2f fadeOutDuration %.2f snapToFrames %d exportAAFMarkers %d exportAAFVolAuto %d "
                 "exportAAFSourceChannels %d exportFillVirtual %d exportWavLUFSIndex %d exportWavLayout %d folder %s\n",
                 x.exportFormatWAV, x.exportFormatAAF, x.exportWavMixdown, x.exportWavStems, x.exportWavTracks,
                 x.exportWavClips, x.exportReverbStem, x.exportWithHandles, static_cast<double>(x.handleDuration),
                 x.handleFullSource, static_cast<double>(x.fadeInDuration), static_cast<double>(x.fadeOutDuration),
                 x.snapToFrames, x.exportAAFMarkers, x.exportAAFVolAuto, x.exportAAFSourceChannels, x.exportFillVirtual,
                 Prefs().exportWavLUFSIndex, Prefs().exportWavLayout, oneWord(ExportFolder()).c_str());
    return std::fclose(f) == 0;
}

// Runs one step; false when it has to wait for a later frame (expectations retry).
bool RunStep(const Step& step) {
    ScriptState& s = S();
    AppState& app = App();
    const auto& a = step.args;
    auto num = [&](size_t i) { return i < a.size() ? static_cast<float>(std::atof(a[i].c_str())) : 0.0f; };
    if (step.verb == "wait") {
        s.waitFrames = std::max(0, static_cast<int>(num(0)));
    } else if (step.verb == "frame-times") {
        if (!a.empty() && a[0] == "start") {
            s.timingFrames = true;
            s.frameMs.clear();
            s.lastFrameCounter = SDL_GetPerformanceCounter();
        } else {
            // "[Frames] NAME: N frames, median X ms, p95 Y ms, longest Z ms", for benchmarks.
            std::vector<double> ms = s.frameMs;
            std::sort(ms.begin(), ms.end());
            auto at = [&](double q) { return ms.empty() ? 0.0 : ms[std::min(ms.size() - 1, static_cast<size_t>(q * static_cast<double>(ms.size())))]; };
            std::printf("[Frames] %s: %zu frames, median %.1f ms, p95 %.1f ms, longest %.1f ms\n",
                        step.rest.empty() ? "-" : step.rest.c_str(), ms.size(), at(0.5), at(0.95),
                        ms.empty() ? 0.0 : ms.back());
            std::fflush(stdout);
            s.timingFrames = false;
        }
    } else if (step.verb == "wait-ms") {
        s.waitUntilMs = SDL_GetTicks64() + static_cast<Uint64>(std::max(0.0f, num(0)));
    } else if (step.verb == "wait-audio" || step.verb == "wait-export") {
        // Rendering and exporting take as long as the machine needs: wait, up to a limit.
        const Uint64 now = SDL_GetTicks64();
        if (s.audioDeadlineMs == 0) s.audioDeadlineMs = now + static_cast<Uint64>(1000.0f * std::max(1.0f, num(0)));
        const bool audio = step.verb == "wait-audio";
        if (audio ? !AudioSettled() : ExportWorkRunning()) {
            if (now < s.audioDeadlineMs) return false;
            Fail(step, audio ? "the audio was still being rendered" : "the export work was still running");
        }
        s.audioDeadlineMs = 0;
    } else if (step.verb == "key") {
        SDL_Keycode key;
        Uint16 mods;
        ParseChord(a.empty() ? "" : a[0], key, mods);
        PushKey(SDL_KEYDOWN, key, mods);
        s.pending.push_back([key] { PushKey(SDL_KEYUP, key, KMOD_NONE); });
    } else if (step.verb == "press" && !a.empty() && a[0][0] == '@') {
        if (!TargetCentre(a[0].substr(1), s.mouseX, s.mouseY)) {
            if (++s.expectRetries < 10) return false;  // not drawn yet
            s.expectRetries = 0;
            Fail(step, "no control named \"" + a[0].substr(1) + "\"");
            return true;
        }
        s.expectRetries = 0;
        s.pending.push_back([] { S().mouseDown = true; });
    } else if (step.verb == "press") {
        if (a.size() >= 2) {
            s.mouseX = num(0);
            s.mouseY = num(1);
        }
        s.pending.push_back([] { S().mouseDown = true; });
    } else if (step.verb == "release") {
        s.mouseDown = false;
    } else if (step.verb == "wheel") {
        s.wheelY = num(0);
    } else if (step.verb == "hold") {
        // The modifier keys stay down for the steps that follow, until "hold none".
        Uint16 mods = KMOD_NONE;
        for (const std::string& name : a) {
            if (name == "shift") mods |= KMOD_LSHIFT;
            else if (name == "ctrl") mods |= KMOD_LCTRL;
        }
        if (mods & KMOD_LCTRL) PushKey(SDL_KEYDOWN, SDLK_LCTRL, mods);
        if (mods & KMOD_LSHIFT) PushKey(SDL_KEYDOWN, SDLK_LSHIFT, mods);
        if (mods == KMOD_NONE) {
            PushKey(SDL_KEYUP, SDLK_LSHIFT, KMOD_NONE);
            PushKey(SDL_KEYUP, SDLK_LCTRL, KMOD_NONE);
        }
    } else if (step.verb == "type") {
        PushText(step.rest);
    } else if (step.verb == "menu") {
        PostCommand(CommandIdFromName(step.rest));
    } else if (step.verb == "open-menu" || ((step.verb == "click" || step.verb == "move") && !a.empty() && a[0][0] == '@')) {
        const std::string name = step.verb == "open-menu" ? "menu:" + step.rest : step.rest.substr(1);
        float x, y;
        if (!TargetCentre(name, x, y)) {
            if (++s.expectRetries < 10) return false;  // not drawn yet
            s.expectRetries = 0;
            Fail(step, "no control named \"" + name + "\"");
            return true;
        }
        s.expectRetries = 0;
        if (step.verb == "move") {
            s.mouseX = x;
            s.mouseY = y;
        } else {
            QueueClick(x, y);
        }
    } else if (step.verb == "click") {
        QueueClick(num(0), num(1));
    } else if (step.verb == "move") {
        s.mouseX = num(0);
        s.mouseY = num(1);
    } else if (step.verb == "drag") {
        float x1 = num(0), y1 = num(1), x2 = num(2), y2 = num(3);
        int frames = a.size() > 4 ? std::max(1, static_cast<int>(num(4))) : 10;
        if (!a.empty() && a[0][0] == '@') {
            // "drag @NAME DX DY [N]": from the control's centre by DX, DY.
            if (!TargetCentre(a[0].substr(1), x1, y1)) {
                if (++s.expectRetries < 10) return false;
                s.expectRetries = 0;
                Fail(step, "no control named \"" + a[0].substr(1) + "\"");
                return true;
            }
            s.expectRetries = 0;
            x2 = x1 + num(1);
            y2 = y1 + num(2);
            frames = a.size() > 3 ? std::max(1, static_cast<int>(num(3))) : 10;
        }
        s.pending.push_back([x1, y1] { S().mouseX = x1; S().mouseY = y1; });
        s.pending.push_back([] { S().mouseDown = true; });
        for (int i = 1; i <= frames; ++i) {
            const float t = static_cast<float>(i) / static_cast<float>(frames);
            s.pending.push_back([=] { S().mouseX = x1 + (x2 - x1) * t; S().mouseY = y1 + (y2 - y1) * t; });
        }
        s.pending.push_back([] { S().mouseDown = false; });
    } else if (step.verb == "screenshot") {
        s.screenshotAfterRender = a.empty() ? "screenshot" : a[0];
    } else if (step.verb == "expect-command") {
        if (app.lastExecutedCommand != CommandIdFromName(step.rest)) {
            if (++s.expectRetries < 5) return false;
            Fail(step, "expected command " + step.rest + ", last was " + CommandName(app.lastExecutedCommand));
        }
        s.expectRetries = 0;
    } else if (step.verb == "expect-text-focus") {
        if (!ImGui::GetIO().WantTextInput) {
            if (++s.expectRetries < 5) return false;
            Fail(step, "no text field has the keyboard");
        }
        s.expectRetries = 0;
    } else if (step.verb == "expect-popup-open") {
        if (!ImGui::IsPopupOpen("", ImGuiPopupFlags_AnyPopupId | ImGuiPopupFlags_AnyPopupLevel)) {
            if (++s.expectRetries < 5) return false;
            Fail(step, "no menu or pop-up is open");
        }
        s.expectRetries = 0;
    } else if (step.verb == "expect-status") {
        if (app.statusTimer <= 0.0f || app.statusText != step.rest) {
            // A status that follows background work (a scan, a build) may come a few
            // seconds late on a busy machine: it is looked for during 10 s, not 5 frames.
            if (s.expectRetries++ == 0) s.expectSinceMs = SDL_GetTicks64();
            if (SDL_GetTicks64() - s.expectSinceMs < 10000) return false;
            Fail(step, "the status line shows \"" + (app.statusTimer > 0.0f ? app.statusText : std::string()) + "\"");
        }
        s.expectRetries = 0;
    } else if (step.verb == "expect-hit") {
        static const char* const kinds[] = {"normal", "caption", "resize"};
        const int got = MainWindowHitKind(static_cast<int>(num(0)), static_cast<int>(num(1)));
        if (a.size() < 3 || a[2] != kinds[got])
            Fail(step, "the window point is \"" + std::string(kinds[got]) + "\"");
    } else if (step.verb == "drop") {
        // As the desktop delivers a drop: begin, one event per path, complete.
        SDL_Event e{};
        e.type = SDL_DROPBEGIN;
        SDL_PushEvent(&e);
        for (const std::string& path : a) {
            SDL_Event f{};
            f.type = SDL_DROPFILE;
            f.drop.file = SDL_strdup(path.c_str());  // the receiver frees it
            SDL_PushEvent(&f);
        }
        SDL_Event c{};
        c.type = SDL_DROPCOMPLETE;
        SDL_PushEvent(&c);
    } else if (step.verb == "expect-dropped") {
        const int folders = static_cast<int>(num(0)), files = static_cast<int>(num(1));
        const DropTarget& drop = app.drop;
        if (static_cast<int>(drop.droppedFolders.size()) != folders || static_cast<int>(drop.droppedFiles.size()) != files) {
            if (++s.expectRetries < 5) return false;
            Fail(step, "dropped " + std::to_string(drop.droppedFolders.size()) + " folders and " +
                           std::to_string(drop.droppedFiles.size()) + " audio files");
        }
        s.expectRetries = 0;
    } else if (step.verb == "expect-events" || step.verb == "expect-selected") {
        const int want = static_cast<int>(num(0));
        const int got = step.verb == "expect-events" ? static_cast<int>(CurrentProject().timeline.events.size())
                                                     : SelectedCount(CurrentEdit());
        if (got != want) {
            if (++s.expectRetries < 5) return false;
            Fail(step, std::string(step.verb == "expect-events" ? "events: " : "selected: ") + std::to_string(got));
        }
        s.expectRetries = 0;
    } else if (step.verb == "dump-state") {
        if (!DumpState(step.rest)) Fail(step, "could not write " + step.rest);
    } else if (step.verb == "reveal") {
        s.reveal = step.rest.substr(step.rest.starts_with("@") ? 1 : 0);
    } else if (step.verb == "throw") {
        s.throwInFrame = true;
    } else if (step.verb == "quit") {
        app.closeRequested = true;
    }
    return true;
}

const char* const kVerbs[] = {"press", "release", "wheel", "hold",
                              "expect-events", "expect-selected", "dump-state", "wait", "wait-ms", "frame-times", "wait-audio", "wait-export", "reveal", "key", "type", "menu", "open-menu", "click", "move", "drag",
                              "screenshot", "expect-command", "expect-text-focus", "expect-popup-open", "expect-hit", "expect-status", "drop", "expect-dropped", "throw", "quit"};

}  // namespace

bool LoadUiScript(const std::string& path, const std::string& screenshotFolder) {
    std::ifstream in(path);
    if (!in) {
        std::printf("[UI] could not read the script %s\n", path.c_str());
        return false;
    }
    ScriptState& s = S();
    s.screenshotFolder = screenshotFolder;
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (size_t hash = line.find('#'); hash != std::string::npos && line.rfind("type", 0) != 0)
            line.resize(hash);
        std::istringstream words(line);
        Step step;
        step.line = number;
        if (!(words >> step.verb)) continue;
        std::getline(words, step.rest);
        size_t start = step.rest.find_first_not_of(' ');
        step.rest = start == std::string::npos ? "" : step.rest.substr(start);
        std::istringstream args(step.rest);
        for (std::string arg; args >> arg;) step.args.push_back(arg);
        bool known = false;
        for (const char* verb : kVerbs) known = known || step.verb == verb;
        SDL_Keycode key;
        Uint16 mods;
        const auto notModifier = [](const std::string& m) { return m != "ctrl" && m != "shift" && m != "none"; };
        const bool badHold = step.verb == "hold" &&
                             (step.args.empty() || std::any_of(step.args.begin(), step.args.end(), notModifier));
        // Commands are named as the menu table names them; a name it does not know is a
        // mistake in the script, found before anything runs.
        const bool badCommand = (step.verb == "menu" && CommandIdFromName(step.rest) <= 0) ||
                                (step.verb == "expect-command" && CommandIdFromName(step.rest) < 0);
        if (!known || badHold || badCommand || (step.verb == "key" && (step.args.empty() || !ParseChord(step.args[0], key, mods)))) {
            std::printf("[UI] script line %d not understood: %s\n", number, line.c_str());
            return false;
        }
        s.steps.push_back(step);
    }
    s.active = true;
    return true;
}

bool UiScriptActive() { return S().active; }

bool UiScriptWantsFrames() {
    const ScriptState& s = S();
    return s.active && (s.waitUntilMs == 0 || !s.pending.empty());
}

void UiScriptBeforeEvents() {
    ScriptState& s = S();
    if (!s.active) return;
    if (s.timingFrames) {
        const Uint64 now = SDL_GetPerformanceCounter();
        s.frameMs.push_back(1000.0 * static_cast<double>(now - s.lastFrameCounter) /
                            static_cast<double>(SDL_GetPerformanceFrequency()));
        s.lastFrameCounter = now;
    }
    if (!s.pending.empty()) {
        auto action = s.pending.front();
        s.pending.erase(s.pending.begin());
        action();
        return;
    }
    if (s.waitFrames > 0) {
        --s.waitFrames;
        return;
    }
    if (s.waitUntilMs != 0) {
        if (SDL_GetTicks64() < s.waitUntilMs) return;
        s.waitUntilMs = 0;
    }
    while (s.next < s.steps.size() && s.pending.empty() && s.waitFrames == 0 && s.waitUntilMs == 0 &&
           s.screenshotAfterRender.empty()) {
        if (!RunStep(s.steps[s.next])) return;  // try again next frame
        ++s.next;
        // Input steps take effect over the next frames; run no further step this frame.
        const std::string& verb = s.steps[s.next - 1].verb;
        if (verb == "key" || verb == "hold" || verb == "press" || verb == "release" || verb == "wheel" ||
            verb == "type" || verb == "menu" || verb == "click" || verb == "open-menu" || verb == "throw" || verb == "drop" ||
            verb == "drag" || verb == "move" || verb == "quit")
            return;
    }
    if (s.next >= s.steps.size() && s.pending.empty() && s.waitFrames == 0 && s.waitUntilMs == 0) {
        // Let the last input show, then end the program.
        if (s.finishFrames < 0) s.finishFrames = 2;
        else if (s.finishFrames-- == 0) App().quit = true;
    }
}

void UiScriptOverrideMouse() {
    ScriptState& s = S();
    if (!s.active) return;
    ImGuiIO& io = ImGui::GetIO();
    io.MousePos = ImVec2(s.mouseX, s.mouseY);
    io.MouseDown[0] = s.mouseDown;
    if (s.wheelY != 0.0f) {
        io.MouseWheel += s.wheelY;
        s.wheelY = 0.0f;
    }
    s.targets.clear();  // registered afresh while this frame draws
    s.places.clear();
}

void UiScriptAfterRender(int framebufferWidth, int framebufferHeight) {
    ScriptState& s = S();
    if (!s.active || s.screenshotAfterRender.empty()) return;
    if (!s.screenshotFolder.empty()) {
        const std::string path = s.screenshotFolder + "/" + s.screenshotAfterRender + ".png";
        if (!WriteBackBufferPng(path, framebufferWidth, framebufferHeight)) {
            std::printf("[UI] could not write the screenshot %s\n", path.c_str());
            s.failed = true;
        }
    }
    s.screenshotAfterRender.clear();
}

void RegisterScriptTarget(const std::string& name, const UiRect& rect) {
    if (S().active) S().targets[name] = rect;
}

bool UiScriptTakeReveal(const std::string& name) {
    ScriptState& s = S();
    if (!s.active || s.reveal.empty() || s.reveal != name) return false;
    s.reveal.clear();
    return true;
}

void RegisterScriptPlaces(std::function<bool(const std::string& name, float& x, float& y)> resolve) {
    if (S().active) S().places.push_back(std::move(resolve));
}

void UiScriptMaybeThrow() {
    if (!S().throwInFrame) return;
    S().throwInFrame = false;
    throw std::runtime_error("scripted fault");
}

int UiScriptExitCode() { return S().failed ? 3 : 0; }

bool WriteBackBufferPng(const std::string& path, int width, int height) {
    if (width <= 0 || height <= 0) return false;
    std::vector<unsigned char> pixels(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    // GL's rows start at the bottom; a PNG's at the top. Alpha is made opaque so the
    // picture looks like the window, whatever the back buffer keeps in that channel.
    for (size_t i = 3; i < pixels.size(); i += 4) pixels[i] = 255;
    stbi_flip_vertically_on_write(1);
    const int ok = stbi_write_png(path.c_str(), width, height, 4, pixels.data(), width * 4);
    stbi_flip_vertically_on_write(0);
    return ok != 0;
}

}  // namespace morvane
