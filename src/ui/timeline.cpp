// The timeline: a time ruler with the work area and the playhead, the scene lane, the
// marker lane (the work area's in and out points), the trace lane (the picture read and
// its proposals, ui/trace_lane.cpp), and the event lanes. Events are packed into rows so overlapping events stay visible;
// each is drawn by its shape with its label. Click selects (Ctrl toggles, Shift adds),
// dragging moves the selection, dragging an event's right edge resizes it; a drag that
// starts on empty lane space draws a band and selects the events it touches (Shift or
// Ctrl add to the selection), a click there moves the playhead; the wheel scrolls,
// Ctrl+wheel zooms around the pointer, Shift+wheel scrolls the rows.
//
// DrawTimeline lays the lanes out and draws them; HandleTimelineInput turns the pointer
// into view changes and the core's edits (edit/*.h). Neither writes into the project.
#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/editor_state.h"
#include "app/library_session.h"
#include "app/timeline_view.h"
#include "app/trace_session.h"
#include "app/ui_script.h"
#include "app/waveform_cache.h"
#include "edit/selection.h"
#include "edit/timeline_edit.h"
#include "model/event_label.h"
#include "model/timeline.h"
#include "ui/panels.h"
#include "ui/trace_lane.h"

namespace morvane {

namespace {

// Imported session markers can be hidden from the lanes (the Trace tab's switch); they
// stay in the project, play and export as before.
bool HiddenFromLanes(const Event& e) { return !e.markerSource.empty() && !MarkerEventsShown(); }

constexpr float kHeaderWidth = 74.0f;
constexpr float kRulerHeight = 22.0f;
constexpr float kSceneLaneHeight = 22.0f;
constexpr float kMarkerLaneHeight = 16.0f;
constexpr float kRowHeight = 34.0f;
constexpr float kRowGap = 3.0f;
constexpr float kEdgeGrab = 6.0f;  // pixels at an event's right end that resize it
constexpr float kClickSlop = 3.0f; // pointer travel in pixels below which a press is a click
constexpr float kRowPitch = kRowHeight + kRowGap;

ImU32 ShapeColour(EventShape shape, int alpha = 255) {
    static const int rgb[kEventShapeCount][3] = {
        {236, 160, 64},   // Spot
        {96, 170, 240},   // Bloom
        {164, 128, 240},  // Contour
        {80, 184, 130},   // Fill
        {232, 104, 160},  // Scatter
        {176, 180, 188},  // Clip
        {96, 150, 140},   // Bed
    };
    const int* c = rgb[static_cast<int>(EventShapeFromInt(static_cast<int>(shape)))];
    return IM_COL32(c[0], c[1], c[2], alpha);
}

// What a press in the lanes started.
enum class Gesture { None, Pending, Move, Resize, Playhead, BandPending, Band };

struct TimelineView {
    std::vector<int> row;   // per event, its row in the lanes
    int rowCount = 0;
    float firstRow = 0;     // rows scrolled off the top
    Gesture gesture = Gesture::None;
    int gestureEvent = -1;
    float pressX = 0, pressY = 0;
    float lastTime = 0;     // pointer time at the previous drag frame
    float resizeFrom = 0;   // the duration when the resize started
    // Where the selection band was anchored, in lane content: a time, and pixels down
    // from the top of the first row. The band keeps to the same events while the view
    // scrolls or zooms under it.
    float bandTime = 0, bandY = 0;
};

// The band's extent in lane content, ordered: times t0 <= t1, content pixels y0 <= y1.
struct BandExtent {
    float t0, t1, y0, y1;
};

// Whether the band touches the event drawn in the given row. An event shorter than its
// drawn minimum of 3 pixels counts with its drawn width, so what shows can be caught.
bool BandTouches(const BandExtent& band, const Event& e, int row, float pps) {
    const float top = static_cast<float>(row) * kRowPitch;
    if (band.y1 < top || band.y0 > top + kRowHeight) return false;
    const float end = std::max(e.time + e.duration, e.time + 3.0f / pps);
    return e.time <= band.t1 && end >= band.t0;
}

TimelineView& View() {
    static TimelineView view;
    return view;
}

// Greedy packing: events by start time, each into the first row free at its start.
void PackRows(const std::vector<Event>& events, TimelineView& view) {
    const size_t n = events.size();
    view.row.assign(n, 0);
    std::vector<int> order(n);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        return events[static_cast<size_t>(a)].time < events[static_cast<size_t>(b)].time;
    });
    std::vector<float> rowEnd;
    for (int index : order) {
        const Event& e = events[static_cast<size_t>(index)];
        size_t r = 0;
        while (r < rowEnd.size() && rowEnd[r] > e.time + 1e-4f) ++r;
        if (r == rowEnd.size()) rowEnd.push_back(0.0f);
        rowEnd[r] = e.time + std::max(e.duration, kMinEventDuration);
        view.row[static_cast<size_t>(index)] = static_cast<int>(r);
    }
    view.rowCount = static_cast<int>(rowEnd.size());
}

// A tick spacing that leaves at least 70 pixels between labels.
float TickStep(float pixelsPerSecond) {
    static const float steps[] = {0.1f, 0.25f, 0.5f, 1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 1800, 3600};
    for (float step : steps)
        if (step * pixelsPerSecond >= 70.0f) return step;
    return 7200.0f;
}

std::string RulerLabel(float seconds, float step) {
    char text[48];
    const double t = std::clamp(static_cast<double>(seconds), 0.0, 1.0e12);
    const long long whole = static_cast<long long>(t);
    if (step < 1.0f) std::snprintf(text, sizeof text, "%lld:%05.2f", whole / 60, t - static_cast<double>(whole / 60 * 60));
    else std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    return text;
}

// The envelope drawn inside an event's box, by shape: the look tells the shapes apart
// at a glance, the intensity curve tells one Contour from another.
void DrawShapeGlyph(ImDrawList* draw, const Event& e, ImVec2 a, ImVec2 b, ImU32 ink) {
    const float w = b.x - a.x, h = b.y - a.y;
    if (w < 4.0f) return;
    // The upper part of the box carries the label; the envelope sits below it.
    const float top = a.y + h * 0.55f, bottom = b.y - 2.0f, span = bottom - top;
    ImVec2 points[34];
    int count = 0;
    switch (e.shape) {
        case EventShape::Spot:
            points[count++] = ImVec2(a.x, bottom);
            points[count++] = ImVec2(a.x + std::min(4.0f, w * 0.1f), top);
            points[count++] = ImVec2(b.x, bottom);
            break;
        case EventShape::Bloom: {
            const float peak = std::clamp(e.weightCenter, 0.05f, 0.95f);
            for (int i = 0; i <= 16; ++i) {
                const float t = static_cast<float>(i) / 16.0f;
                const float rise = t < peak ? t / peak : (1.0f - t) / (1.0f - peak);
                points[count++] = ImVec2(a.x + w * t, bottom - span * std::sqrt(std::max(0.0f, rise)));
            }
            break;
        }
        case EventShape::Contour:
            for (int i = 0; i < 32; ++i) {
                const float t = static_cast<float>(i) / 31.0f;
                const float v = e.intensity[static_cast<size_t>(std::min(kCurvePoints - 1, static_cast<int>(t * (kCurvePoints - 1))))];
                points[count++] = ImVec2(a.x + w * t, bottom - span * std::clamp(v, 0.0f, 1.0f));
            }
            break;
        case EventShape::Scatter:
            for (int i = 0; i < 9; ++i) {
                const float t = (static_cast<float>(i) + 0.5f) / 9.0f;
                const float y = top + span * (0.5f + 0.4f * std::sin(static_cast<float>(i) * 2.3f));
                draw->AddCircleFilled(ImVec2(a.x + w * t, y), 1.8f, ink, 6);
            }
            return;
        case EventShape::Fill:
            draw->AddLine(ImVec2(a.x, top + span * 0.3f), ImVec2(b.x, top + span * 0.3f), ink);
            return;
        case EventShape::Bed:
            for (int i = 0; i < 3; ++i) {
                const float y = top + span * (0.2f + 0.3f * static_cast<float>(i));
                draw->AddLine(ImVec2(a.x, y), ImVec2(b.x, y), ink);
            }
            return;
        case EventShape::Clip:
            for (float x = a.x + 2.0f; x < b.x - 1.0f; x += 3.0f) {
                const float level = 0.3f + 0.7f * std::fabs(std::sin(x * 0.37f));
                draw->AddLine(ImVec2(x, top + span * 0.5f * (1.0f - level)), ImVec2(x, bottom - span * 0.5f * (1.0f - level)), ink);
            }
            return;
    }
    if (count >= 2) draw->AddPolyline(points, count, ink, 0, 1.2f);
}

int HitEvent(const std::vector<Event>& events, const TimelineView& view, float lanesX, float lanesY, float pps,
             float scroll, ImVec2 mouse, bool* onEdge) {
    const float rowF = (mouse.y - lanesY) / kRowPitch + view.firstRow;
    if (rowF < 0.0f) return -1;
    const int row = static_cast<int>(rowF);
    // The event drawn last lies on top: search from the end.
    for (int i = static_cast<int>(events.size()) - 1; i >= 0; --i) {
        if (view.row[static_cast<size_t>(i)] != row) continue;
        const Event& e = events[static_cast<size_t>(i)];
        if (HiddenFromLanes(e)) continue;
        const float x0 = lanesX + (e.time - scroll) * pps;
        const float x1 = std::max(x0 + 3.0f, lanesX + (e.time + e.duration - scroll) * pps);
        if (mouse.x < x0 || mouse.x > x1) continue;
        *onEdge = x1 - x0 > 2.0f * kEdgeGrab && mouse.x >= x1 - kEdgeGrab;
        return i;
    }
    return -1;
}

// Where the parts of the timeline are this frame, and the view's time scale. The
// scale and scroll are the view's own (EditorState), so a zoom made by the input is
// seen by what follows in the same frame.
struct TimelineLayout {
    float x0, y0, h;
    float lanesX, lanesW;
    float rulerY, sceneY, markerY, eventsY, eventsH;
    float endTime;
    float& pps;
    float& scroll;
    float TimeToX(float t) const { return lanesX + (t - scroll) * pps; }
    float XToTime(float x) const { return scroll + (x - lanesX) / pps; }
    float ContentTop(const TimelineView& view) const { return eventsY - view.firstRow * kRowPitch; }  // screen y of row 0
};

// The lane area's button as it was this frame.
struct PointerState {
    bool hovered, activated, active, deactivated;
    ImVec2 mouse;
};

// Where a stretch of a sound file plays on the timeline.
struct PlayedSound {
    const WaveformOverview* overview;
    float start, end;    // timeline seconds
    float sourceOffset;  // file seconds at start
    float gain;
    bool loops;
};

// The sounds an event plays: its built layers, or before a build the files a Clip or a
// Bed names. Those whose overview is not read yet are left out (they appear once read).
void CollectPlayedSounds(const Project& project, const Event& e, const std::vector<int>& layers,
                         std::vector<PlayedSound>& out) {
    out.clear();
    for (int index : layers) {
        const Layer& layer = project.timeline.results[static_cast<size_t>(index)];
        if (const WaveformOverview* overview = CachedWaveform(layer.filepath)) {
            const float start = layer.startTime + layer.deconOffset;
            out.push_back({overview, start, start + layer.duration, layer.sourceOffset,
                           std::min(layer.layerGain * layer.normGain, 2.0f), false});
        }
    }
    if (!layers.empty()) return;
    if (e.shape == EventShape::Clip) {
        if (const WaveformOverview* overview = CachedWaveform(e.pinnedFile)) {
            const float length = e.clipSourceDuration > 0.0f ? std::min(e.duration, e.clipSourceDuration) : e.duration;
            out.push_back({overview, e.time, e.time + length, e.clipSourceOffset, e.clipWeight >= 0.0f ? e.clipWeight : 1.0f, false});
        }
    } else if (e.shape == EventShape::Bed) {
        for (size_t f = 0; f < e.pinnedFiles.size(); ++f) {
            const WaveformOverview* overview = CachedWaveform(e.pinnedFiles[f]);
            if (!overview) continue;
            const bool loops = f < e.bedLayerLoop.size() && e.bedLayerLoop[f] != 0;
            const float weight = f < e.bedLayerWeight.size() && e.bedLayerWeight[f] >= 0.0f ? e.bedLayerWeight[f] : 1.0f;
            out.push_back({overview, e.time, e.time + e.duration, 0.0f, weight, loops});
        }
    }
}

// The event's sound as a waveform in the lower part of its box (the upper part carries
// the label), one line every two pixels from the loudest sound there. False when
// nothing of it is known, and the shape's glyph is drawn instead.
bool DrawEventWaveform(ImDrawList* draw, const std::vector<PlayedSound>& sounds, const TimelineLayout& l, ImVec2 a,
                       ImVec2 b, ImU32 ink) {
    if (sounds.empty()) return false;
    const float top = a.y + (b.y - a.y) * 0.45f, bottom = b.y - 2.0f;
    const float middle = (top + bottom) * 0.5f, half = (bottom - top) * 0.5f;
    for (float x = std::max(a.x + 1.0f, l.lanesX); x < std::min(b.x - 1.0f, l.lanesX + l.lanesW); x += 2.0f) {
        const float t = l.XToTime(x);
        float peak = 0.0f;
        for (const PlayedSound& sound : sounds) {
            if (t < sound.start || t >= sound.end) continue;
            float at = sound.sourceOffset + (t - sound.start);
            if (sound.loops && sound.overview->duration > 0.0f) at = std::fmod(at, sound.overview->duration);
            peak = std::max(peak, PeakAt(*sound.overview, at) * sound.gain);
        }
        // On a decibel scale over the lowest 54 dB, as a DAW's log view: a room tone at
        // −40 dBFS shows, where a linear scale would draw it as a flat line.
        const float level = peak > 0.0f ? std::clamp((20.0f * std::log10(peak) + 54.0f) / 54.0f, 0.0f, 1.0f) : 0.0f;
        const float h = std::max(0.5f, half * level);
        draw->AddLine(ImVec2(x, middle - h), ImVec2(x, middle + h), ink);
    }
    return true;
}

TimelineLayout LayOutTimeline(const PanelRect& rect, const Project& project, EditorState& editor, TimelineView& view) {
    const float rulerY = rect.y;
    const float sceneY = rulerY + kRulerHeight;
    const float markerY = sceneY + kSceneLaneHeight;
    const float eventsY = markerY + kMarkerLaneHeight + TraceLaneHeight(project) + 4.0f;
    TimelineLayout l{rect.x, rect.y, rect.h, rect.x + kHeaderWidth, std::max(10.0f, rect.w - kHeaderWidth - 8.0f),
                     rulerY, sceneY, markerY, eventsY, std::max(kRowHeight, rect.y + rect.h - eventsY - 4.0f),
                     TimelineEnd(project), editor.pixelsPerSecond, editor.scrollTime};
    if (editor.fitRequested) {
        editor.fitRequested = false;
        editor.pixelsPerSecond = FitPixelsPerSecond(project, l.lanesW);
        editor.scrollTime = 0.0f;
    }
    const float visibleRows = l.eventsH / kRowPitch;
    view.firstRow = std::clamp(view.firstRow, 0.0f, std::max(0.0f, static_cast<float>(view.rowCount) - std::floor(visibleRows)));
    // While playing, the view follows the playhead a page at a time.
    if (editor.playing && (editor.playhead < l.scroll || editor.playhead > l.scroll + l.lanesW / l.pps))
        l.scroll = std::max(0.0f, editor.playhead - 0.1f * l.lanesW / l.pps);
    l.scroll = std::clamp(l.scroll, 0.0f, std::max(0.0f, l.endTime - 0.5f * l.lanesW / l.pps));
    return l;
}

// The band as it stands with the pointer at mouse: its free corner follows the pointer
// but stays in the event lanes, since what cannot be seen is not selected.
BandExtent CurrentBand(const TimelineLayout& l, const TimelineView& view, ImVec2 mouse) {
    const float x = std::clamp(mouse.x, l.lanesX, l.lanesX + l.lanesW);
    const float t = l.XToTime(x), y = std::clamp(mouse.y, l.eventsY, l.eventsY + l.eventsH) - l.ContentTop(view);
    return {std::min(view.bandTime, t), std::max(view.bandTime, t), std::min(view.bandY, y), std::max(view.bandY, y)};
}

// Places scripted input can name: "ruler" (its middle), "ruler:T" (the ruler at T
// seconds), "row:R:T" (event row R at T) and "lane:T" (the first empty row at T).
void RegisterTimelinePlaces(const TimelineLayout& l, const TimelineView& view) {
    const float lanesX = l.lanesX, lanesW = l.lanesW, pps = l.pps, scroll = l.scroll;
    const float rulerMid = l.rulerY + kRulerHeight * 0.5f, contentTop = l.ContentTop(view);
    const float emptyRow = static_cast<float>(view.rowCount);
    RegisterScriptPlaces([=](const std::string& name, float& x, float& y) {
        auto at = [&](const std::string& text, float& seconds) {
            char* end = nullptr;
            seconds = std::strtof(text.c_str(), &end);
            return !text.empty() && *end == '\0';
        };
        float t = 0.0f, row = 0.0f;
        if (name == "ruler") {
            x = lanesX + lanesW * 0.5f;
            y = rulerMid;
        } else if (name.rfind("ruler:", 0) == 0 && at(name.substr(6), t)) {
            y = rulerMid;
        } else if (name.rfind("lane:", 0) == 0 && at(name.substr(5), t)) {
            y = contentTop + emptyRow * kRowPitch + kRowHeight * 0.5f;
        } else if (const size_t colon = name.find(':', 4);
                   name.rfind("row:", 0) == 0 && colon != std::string::npos && at(name.substr(4, colon - 4), row) &&
                   at(name.substr(colon + 1), t)) {
            y = contentTop + row * kRowPitch + kRowHeight * 0.5f;
        } else {
            return false;
        }
        if (name != "ruler") x = lanesX + (t - scroll) * pps;
        return true;
    });
}

void DrawLaneBackgrounds(ImDrawList* draw, const TimelineLayout& l, const Project& project) {
    const ImU32 nameInk = IM_COL32(150, 156, 166, 255);
    const float right = l.lanesX + l.lanesW, bottom = l.y0 + l.h;
    draw->AddRectFilled(ImVec2(l.x0, l.rulerY), ImVec2(right, l.sceneY), IM_COL32(28, 32, 38, 255));
    draw->AddRectFilled(ImVec2(l.lanesX, l.sceneY), ImVec2(right, l.markerY - 1), IM_COL32(24, 28, 34, 255));
    draw->AddRectFilled(ImVec2(l.lanesX, l.markerY), ImVec2(right, l.markerY + kMarkerLaneHeight - 1), IM_COL32(24, 28, 34, 255));
    const float textH = ImGui::GetTextLineHeight();
    draw->AddText(ImVec2(l.x0 + 8, l.sceneY + (kSceneLaneHeight - textH) * 0.5f), nameInk, "Scenes");
    draw->AddText(ImVec2(l.x0 + 8, l.markerY + (kMarkerLaneHeight - textH) * 0.5f), nameInk, "Markers");
    draw->AddText(ImVec2(l.x0 + 8, l.eventsY + 6), nameInk, "Events");

    draw->PushClipRect(ImVec2(l.lanesX, l.rulerY), ImVec2(right, bottom), true);
    // Work area, behind everything.
    if (project.workAreaIn >= 0.0f || project.workAreaOut >= 0.0f) {
        const float in = project.workAreaIn >= 0.0f ? project.workAreaIn : 0.0f;
        const float out = project.workAreaOut >= 0.0f ? project.workAreaOut : l.endTime;
        draw->AddRectFilled(ImVec2(l.TimeToX(in), l.rulerY), ImVec2(l.TimeToX(out), bottom), IM_COL32(90, 140, 220, 26));
        draw->AddRectFilled(ImVec2(l.TimeToX(in), l.rulerY + kRulerHeight - 5), ImVec2(l.TimeToX(out), l.rulerY + kRulerHeight - 1),
                            IM_COL32(90, 140, 220, 200));
    }
    // The end of the timeline.
    draw->AddRectFilled(ImVec2(l.TimeToX(l.endTime), l.rulerY), ImVec2(right, bottom), IM_COL32(0, 0, 0, 60));
}

void DrawRuler(ImDrawList* draw, const TimelineLayout& l) {
    const ImU32 nameInk = IM_COL32(150, 156, 166, 255);
    const float step = TickStep(l.pps);
    const float firstTick = std::floor(l.scroll / step) * step;
    // Counted, not stepped: far out on a long timeline, adding a step to a float time
    // may not change it.
    const int tickCount = static_cast<int>(l.lanesW / (step * l.pps)) + 2;
    const float rulerBottom = l.rulerY + kRulerHeight;
    for (int k = 0; k < tickCount; ++k) {
        const float t = firstTick + step * static_cast<float>(k);
        const float x = l.TimeToX(t);
        draw->AddLine(ImVec2(x, rulerBottom - 7), ImVec2(x, rulerBottom), nameInk);
        draw->AddLine(ImVec2(x, l.eventsY), ImVec2(x, l.y0 + l.h), IM_COL32(255, 255, 255, 10));
        const std::string label = RulerLabel(t, step);
        draw->AddText(ImVec2(x + 3, l.rulerY + 2), nameInk, label.c_str());
        for (int sub = 1; sub < 5; ++sub) {
            const float xs = l.TimeToX(t + step * static_cast<float>(sub) / 5.0f);
            draw->AddLine(ImVec2(xs, rulerBottom - 4), ImVec2(xs, rulerBottom), IM_COL32(110, 116, 126, 255));
        }
    }
}

// The scene lane, and the marker lane: the work area's ends. The picture read's proposals
// stand in the trace lane below, by strength, with their review.
void DrawScenesAndMarkers(ImDrawList* draw, const TimelineLayout& l, const Project& project) {
    const float textH = ImGui::GetTextLineHeight();
    const float right = l.lanesX + l.lanesW;
    for (const Scene& scene : project.timeline.scenes) {
        const ImVec2 a(l.TimeToX(scene.inTime), l.sceneY + 2), b(l.TimeToX(scene.outTime), l.markerY - 3);
        if (b.x < l.lanesX || a.x > right) continue;
        draw->AddRectFilled(a, b, IM_COL32(70, 90, 120, 200), 3.0f);
        const ImVec4 clip(a.x, a.y, b.x - 2, b.y);
        draw->AddText(nullptr, 0.0f, ImVec2(a.x + 5, a.y + (b.y - a.y - textH) * 0.5f), IM_COL32(230, 234, 240, 255),
                      scene.name.c_str(), nullptr, 0.0f, &clip);
    }
    auto flag = [&](float t, const char* text) {
        const float x = l.TimeToX(t);
        draw->AddLine(ImVec2(x, l.markerY), ImVec2(x, l.markerY + kMarkerLaneHeight), IM_COL32(90, 140, 220, 255), 2.0f);
        draw->AddText(ImVec2(x + 3, l.markerY + (kMarkerLaneHeight - textH) * 0.5f), IM_COL32(140, 180, 240, 255), text);
    };
    if (project.workAreaIn >= 0.0f) flag(project.workAreaIn, "In");
    if (project.workAreaOut >= 0.0f) flag(project.workAreaOut, "Out");
}

// The events in view, by shape, with their labels; the selection outlined, and what a
// band in progress will take.
void DrawEvents(ImDrawList* draw, const TimelineLayout& l, const Project& project, const TimelineView& view,
                const BandExtent* band) {
    const auto& events = project.timeline.events;
    const EditState& edits = Edits();
    const float visibleFrom = l.scroll, visibleTo = l.XToTime(l.lanesX + l.lanesW);
    const bool scripted = UiScriptActive();
    draw->PushClipRect(ImVec2(l.lanesX, l.eventsY), ImVec2(l.lanesX + l.lanesW, l.eventsY + l.eventsH), true);
    // Boxes are axis-aligned: without the anti-aliasing fringe they look the same and
    // take a third of the vertices.
    const ImDrawListFlags savedFlags = draw->Flags;
    draw->Flags &= ~ImDrawListFlags_AntiAliasedFill;
    // Each event's built layers, found once for the frame (the lists keep their room).
    static std::vector<std::vector<int>> layersOf;
    static std::vector<PlayedSound> sounds;
    layersOf.resize(events.size());
    for (std::vector<int>& list : layersOf) list.clear();
    const auto& results = project.timeline.results;
    for (size_t k = 0; k < results.size(); ++k) {
        const int owner = results[k].eventIdx;
        if (!results[k].muted && owner >= 0 && static_cast<size_t>(owner) < events.size())
            layersOf[static_cast<size_t>(owner)].push_back(static_cast<int>(k));
    }
    for (size_t i = 0; i < events.size(); ++i) {
        const Event& e = events[i];
        if (e.time > visibleTo || e.time + e.duration < visibleFrom || HiddenFromLanes(e)) continue;
        const float rowTop = l.eventsY + (static_cast<float>(view.row[i]) - view.firstRow) * kRowPitch;
        if (rowTop > l.eventsY + l.eventsH || rowTop + kRowHeight < l.eventsY) continue;
        // Cut to the lanes (plus a margin that hides the rounded ends): a very long event
        // then costs no more than one that fits.
        const ImVec2 a(std::max(l.TimeToX(e.time), l.lanesX - 8.0f), rowTop);
        const ImVec2 b(std::min(std::max(a.x + 3.0f, l.TimeToX(e.time + e.duration)), l.lanesX + l.lanesW + 8.0f), rowTop + kRowHeight);
        const int alpha = e.muted ? 90 : 210;
        // Small boxes (a zoomed-out view of a long film) are drawn plain: rounded
        // corners and envelopes a few pixels wide cost geometry and show nothing.
        const float width = b.x - a.x;
        const float rounding = width > 12.0f ? 3.0f : 0.0f;
        draw->AddRectFilled(a, b, ShapeColour(e.shape, alpha), rounding);
        if (width >= 20.0f) {
            const ImU32 ink = IM_COL32(20, 22, 26, e.muted ? 120 : 200);
            CollectPlayedSounds(project, e, layersOf[i], sounds);
            if (!DrawEventWaveform(draw, sounds, l, a, b, ink))
                DrawShapeGlyph(draw, e, a, b, ink);
        }
        if (IsSelected(edits, static_cast<int>(i))) draw->AddRect(a, b, IM_COL32(255, 255, 255, 255), rounding, 0, 2.0f);
        else if (band && BandTouches(*band, e, view.row[i], l.pps))
            draw->AddRect(a, b, IM_COL32(150, 190, 255, 255), rounding, 0, 1.5f);  // what the band will take
        if (width > 14.0f) {
            std::string label = EventLabel(e, project.timeline.userShapes);
            if (IsEventLocked(e)) label = "\xef\x80\xa3 " + label;  // the lock icon
            if (e.muted) label += " (muted)";
            const ImVec4 clip(a.x + 2, a.y, b.x - 3, b.y);
            draw->AddText(nullptr, 0.0f, ImVec2(a.x + 5, a.y + 2), IM_COL32(16, 18, 22, 255), label.c_str(), nullptr, 0.0f, &clip);
        }
        if (scripted) {
            RegisterScriptTarget("event:" + std::to_string(i), {a.x, a.y, b.x, b.y});
            RegisterScriptTarget("event-end:" + std::to_string(i), {b.x - kEdgeGrab + 1, a.y, b.x - 1, b.y});
        }
    }
    draw->Flags = savedFlags;
    if (band) {
        const float top = l.ContentTop(view);
        const ImVec2 a(l.TimeToX(band->t0), top + band->y0), b(l.TimeToX(band->t1), top + band->y1);
        draw->AddRectFilled(a, b, IM_COL32(110, 160, 240, 44));
        draw->AddRect(a, b, IM_COL32(150, 190, 255, 220), 0.0f, 0, 1.0f);
    }
    draw->PopClipRect();
}

// The playhead over every lane, and the rows' scroll position when they do not all fit.
void DrawPlayheadAndRowBar(ImDrawList* draw, const TimelineLayout& l, const TimelineView& view, float playhead) {
    const float px = l.TimeToX(playhead);
    draw->AddLine(ImVec2(px, l.rulerY), ImVec2(px, l.y0 + l.h), IM_COL32(255, 90, 80, 255), 1.5f);
    draw->AddTriangleFilled(ImVec2(px - 6, l.rulerY), ImVec2(px + 6, l.rulerY), ImVec2(px, l.rulerY + 8), IM_COL32(255, 90, 80, 255));
    draw->PopClipRect();  // the lanes' clip, pushed with their backgrounds
    const float visibleRows = l.eventsH / kRowPitch;
    if (static_cast<float>(view.rowCount) > visibleRows) {
        const float barX = l.lanesX + l.lanesW + 2;
        const float frac = visibleRows / static_cast<float>(view.rowCount);
        const float top = l.eventsY + l.eventsH * view.firstRow / static_cast<float>(view.rowCount);
        draw->AddRectFilled(ImVec2(barX, top), ImVec2(barX + 4, top + l.eventsH * frac), IM_COL32(120, 126, 136, 200), 2.0f);
    }
}

// Hovering an event: the resize cursor over its right end, and what the event is.
void DrawHoverTip(const TimelineLayout& l, const PointerState& pointer, const Project& project, const TimelineView& view) {
    if (!pointer.hovered || pointer.active || pointer.mouse.y < l.eventsY) return;
    bool onEdge = false;
    const int hit = HitEvent(project.timeline.events, view, l.lanesX, l.eventsY, l.pps, l.scroll, pointer.mouse, &onEdge);
    if (hit < 0) return;
    const Event& e = project.timeline.events[static_cast<size_t>(hit)];
    if (onEdge && !IsEventLocked(e) && e.sceneLink < 0) ImGui::SetMouseCursor(ImGuiMouseCursor_ResizeEW);
    ImGui::SetTooltip("%s\n%s, %.3f s, %.3f s long%s", EventLabel(e, project.timeline.userShapes), EventShapeName(e.shape),
                      static_cast<double>(e.time), static_cast<double>(e.duration),
                      IsEventLocked(e) ? ", locked" : (e.sceneLink >= 0 ? ", follows its scene" : ""));
}

void HandleWheel(const TimelineLayout& l, const PointerState& pointer, TimelineView& view) {
    if (!pointer.hovered) return;
    const ImGuiIO& io = ImGui::GetIO();
    if (io.MouseWheel != 0.0f) {
        if (io.KeyCtrl) {
            const float anchor = l.XToTime(pointer.mouse.x);
            ZoomBy(io.MouseWheel > 0 ? 1.25f : 0.8f);
            l.scroll = std::max(0.0f, anchor - (pointer.mouse.x - l.lanesX) / l.pps);
        } else if (io.KeyShift) {
            view.firstRow -= io.MouseWheel;
        } else {
            l.scroll = std::max(0.0f, l.scroll - io.MouseWheel * 60.0f / l.pps);
        }
    }
    if (io.MouseWheelH != 0.0f) l.scroll = std::max(0.0f, l.scroll - io.MouseWheelH * 60.0f / l.pps);
}

// A press in the lanes: on the ruler it takes the playhead, on an event it selects and
// starts a move or a resize, on empty lane space it may become a band.
void BeginPress(const TimelineLayout& l, ImVec2 mouse, TimelineView& view) {
    const EditContext edit = CurrentEdit();
    const auto& events = edit.project.timeline.events;
    const ImGuiIO& io = ImGui::GetIO();
    view.pressX = mouse.x;
    view.pressY = mouse.y;
    view.lastTime = l.XToTime(mouse.x);
    view.gestureEvent = -1;
    view.gesture = Gesture::Playhead;
    if (mouse.y < l.eventsY) return;
    bool onEdge = false;
    const int hit = HitEvent(events, view, l.lanesX, l.eventsY, l.pps, l.scroll, mouse, &onEdge);
    if (hit >= 0) {
        PressEvent(edit, hit, io.KeyCtrl, io.KeyShift);
        view.gesture = onEdge ? Gesture::Resize : Gesture::Pending;
        view.gestureEvent = hit;
        view.resizeFrom = events[static_cast<size_t>(hit)].duration;
    } else {
        // Empty lane space: a click moves the playhead, a drag draws a band.
        view.gesture = Gesture::BandPending;
        view.bandTime = l.XToTime(mouse.x);
        view.bandY = mouse.y - l.ContentTop(view);
    }
}

// The pointer moved with the button held: the gesture the press began goes on. A move
// or resize records its one undo step when the pointer first really moves.
void ContinuePress(const TimelineLayout& l, ImVec2 mouse, TimelineView& view) {
    const float t = l.XToTime(mouse.x);
    switch (view.gesture) {
        case Gesture::Playhead:
            Editor().playhead = std::clamp(t, 0.0f, l.endTime);
            break;
        case Gesture::BandPending:
            if (std::max(std::fabs(mouse.x - view.pressX), std::fabs(mouse.y - view.pressY)) > kClickSlop)
                view.gesture = Gesture::Band;
            break;
        case Gesture::Band:  // drawn with the lanes, applied on release
            break;
        case Gesture::Pending:
            // A press that barely moves is a click, not a move.
            if (std::fabs(mouse.x - view.pressX) <= 3.0f) break;
            BeginTimelineGesture(CurrentEdit());
            view.gesture = Gesture::Move;
            [[fallthrough]];
        case Gesture::Move:
            FollowEdit(MoveSelected(CurrentEdit(), t - view.lastTime));
            view.lastTime = t;
            break;
        case Gesture::Resize:
            if (std::fabs(mouse.x - view.pressX) > 1.0f || view.resizeFrom < 0.0f) {
                if (view.resizeFrom >= 0.0f) {
                    BeginTimelineGesture(CurrentEdit());
                    // From here on the undo step exists; remember that with the sign.
                    view.resizeFrom = -view.resizeFrom - 1.0f;
                }
                const float from = -view.resizeFrom - 1.0f;
                FollowEdit(ResizeEvent(CurrentEdit(), view.gestureEvent, from + (mouse.x - view.pressX) / l.pps));
            }
            break;
        case Gesture::None:
            break;
    }
}

// The button let go: a click on empty lane space moves the playhead, a band selects
// what it touches as drawn this frame. Shift or Ctrl add to the selection.
void EndPress(const TimelineLayout& l, ImVec2 mouse, TimelineView& view) {
    const EditContext edit = CurrentEdit();
    const ImGuiIO& io = ImGui::GetIO();
    const bool add = io.KeyCtrl || io.KeyShift;
    if (view.gesture == Gesture::BandPending) {
        Editor().playhead = std::clamp(l.XToTime(mouse.x), 0.0f, l.endTime);
        if (!add) ClearSelection(edit);
    } else if (view.gesture == Gesture::Band) {
        const BandExtent band = CurrentBand(l, view, mouse);
        const auto& events = edit.project.timeline.events;
        std::vector<int> touched;
        for (size_t i = 0; i < events.size() && i < view.row.size(); ++i)
            if (!HiddenFromLanes(events[i]) && BandTouches(band, events[i], view.row[i], l.pps))
                touched.push_back(static_cast<int>(i));
        SelectEvents(edit, touched, add);
    }
    view.gesture = Gesture::None;
    view.gestureEvent = -1;
}

// The timeline's input: the wheel scrolls and zooms the view, presses and drags edit
// through the core.
void HandleTimelineInput(const TimelineLayout& l, const PointerState& pointer, TimelineView& view) {
    HandleWheel(l, pointer, view);
    if (pointer.activated) BeginPress(l, pointer.mouse, view);
    if (pointer.active) ContinuePress(l, pointer.mouse, view);
    if (pointer.deactivated) EndPress(l, pointer.mouse, view);
}

}  // namespace

void DrawTimeline(const PanelRect& rect) {
    BeginRegion("##timeline", rect, IM_COL32(20, 23, 28, 255));
    const Project& project = CurrentProject();
    EditorState& editor = Editor();
    TimelineView& view = View();
    SyncSelection(CurrentEdit());
    // Rows stay as they are while an event is dragged, so it does not jump between rows
    // under the pointer; they are packed afresh when the drag ends.
    const bool dragging = view.gesture == Gesture::Move || view.gesture == Gesture::Resize;
    if (!dragging || view.row.size() != project.timeline.events.size()) PackRows(project.timeline.events, view);
    const TimelineLayout l = LayOutTimeline(rect, project, editor, view);

    const TraceLaneArea traceLane{l.x0, l.lanesX, l.markerY + kMarkerLaneHeight, l.lanesW, TraceLaneHeight(project), l.scroll, l.pps};
    HandleTraceLane(traceLane);  // its controls take the pointer before the lanes' own area

    // The mouse area: everything right of the lane names.
    ImGui::SetCursorScreenPos(ImVec2(l.lanesX, l.rulerY));
    ImGui::InvisibleButton("##lanes", ImVec2(l.lanesW, rect.h - 2.0f));
    RegisterLastItem("timeline");
    if (ImGui::BeginDragDropTarget()) {  // a file dragged from the Library tab
        if (const ImGuiPayload* payload = ImGui::AcceptDragDropPayload(kLibraryFilePayload))
            QueueLibraryFileDrop(static_cast<const char*>(payload->Data), std::max(0.0f, l.XToTime(ImGui::GetIO().MousePos.x)));
        ImGui::EndDragDropTarget();
    }
    const PointerState pointer{ImGui::IsItemHovered(), ImGui::IsItemActivated(), ImGui::IsItemActive(),
                               ImGui::IsItemDeactivated(), ImGui::GetIO().MousePos};
    if (UiScriptActive()) RegisterTimelinePlaces(l, view);

    ImDrawList* draw = ImGui::GetWindowDrawList();
    DrawLaneBackgrounds(draw, l, project);
    DrawRuler(draw, l);
    DrawScenesAndMarkers(draw, l, project);
    DrawTraceLane(draw, traceLane);
    const bool banding = view.gesture == Gesture::Band;
    const BandExtent band = banding ? CurrentBand(l, view, pointer.mouse) : BandExtent{};
    DrawEvents(draw, l, project, view, banding ? &band : nullptr);
    DrawPlayheadAndRowBar(draw, l, view, editor.playhead);

    HandleTimelineInput(l, pointer, view);
    // A right-click on an event selects it (keeping the selection it is part of) and
    // opens its menu.
    bool openMenu = false;
    if (pointer.hovered && ImGui::IsMouseClicked(ImGuiMouseButton_Right)) {
        bool onEdge = false;
        const int hit = HitEvent(project.timeline.events, view, l.lanesX, l.eventsY, l.pps, l.scroll, pointer.mouse, &onEdge);
        if (hit >= 0 && !IsSelected(Edits(), hit)) SelectEvent(CurrentEdit(), hit, false);
        openMenu = hit >= 0;
    }
    DrawEventContextMenu(openMenu);
    DrawHoverTip(l, pointer, project, view);
    if (project.timeline.events.empty()) {
        const char* hint = "No events yet \xE2\x80\x94 Composition > Create Spot places one at the playhead";
        const ImVec2 size = ImGui::CalcTextSize(hint);
        draw->AddText(ImVec2(l.lanesX + (l.lanesW - size.x) * 0.5f, l.eventsY + (l.eventsH - size.y) * 0.5f),
                      IM_COL32(120, 126, 136, 255), hint);
    }
    EndRegion();
}

}  // namespace morvane
