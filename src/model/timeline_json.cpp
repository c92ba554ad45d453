#include "model/timeline_json.h"

#include "model/event_fields.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>

namespace morvane {

namespace {

// The layer, user shape, scene and group readers name their keys one by one.
constexpr auto Float = JsonFloatAt;
constexpr auto Int = JsonIntAt;
constexpr auto Bool = JsonBoolAt;

std::string Text(const JsonValue& object, std::string_view key, size_t maxBytes) {
    return CutText(JsonTextAt(object, key), maxBytes);
}

const std::string& Text(const JsonValue& object, std::string_view key) { return JsonTextAt(object, key); }

// An optional layer curve: present only when the key holds an array. Each element that
// is not a number reads as neutral; the result is clamped to lo..hi.
bool ReadOptionalCurve(const JsonValue& object, std::string_view key, std::span<float> curve, float neutral,
                       float lo, float hi) {
    const JsonValue& value = JsonMember(object, key);
    if (!value.IsArray()) return false;
    size_t count = std::min(value.items.size(), curve.size());
    for (size_t i = 0; i < count; ++i) curve[i] = std::clamp(JsonAsFloat(value.items[i], neutral), lo, hi);
    return true;
}

void WriteAlloyPart(JsonWriter& w, std::string_view key, const AlloyPart& part, const PathMap& paths) {
    w.beginObject(key);
    w.writeString("filepath", MapPath(paths, part.filepath));
    if (!part.fileId.empty()) w.writeString("fileId", part.fileId);
    w.writeFloat("offset", part.offset);
    w.writeFloat("duration", part.duration);
    w.writeString("name", part.name);
    w.endObject();
}

AlloyPart ReadAlloyPart(const JsonValue& object, const std::string& projectFolder) {
    AlloyPart part;
    part.filepath = ResolveProjectPath(Text(object, "filepath"), projectFolder);
    part.fileId = Text(object, "fileId");
    part.offset = Float(object, "offset", 0.0f);
    part.duration = Float(object, "duration", 0.0f);
    part.name = Text(object, "name");
    return part;
}

// Keys written only for the events they mean something for.
enum class EventOnlyIf : uint8_t { Always, SceneLinked, Pinned, BedLayers, Clip, TraceGain };

bool EventHas(const Event& e, EventOnlyIf only) {
    switch (only) {
        case EventOnlyIf::Always: return true;
        case EventOnlyIf::SceneLinked: return e.sceneLink >= 0;
        case EventOnlyIf::Pinned: return e.hasPinnedFile && !e.pinnedFile.empty();
        // The per-layer lists of a Bed only mean something next to its pinned files.
        case EventOnlyIf::BedLayers: return !e.pinnedFiles.empty();
        case EventOnlyIf::Clip: return e.shape == EventShape::Clip;
        case EventOnlyIf::TraceGain: return e.hasTraceGain;
    }
    return true;
}

struct EventFormKey {
    std::string_view key;
    WriteIf when = WriteIf::Always;
    EventOnlyIf only = EventOnlyIf::Always;
};

// An event's object in a project file: its keys in written order, each with the condition
// under which it is written. bounceSource follows, nesting whole events.
constexpr EventFormKey kEventForm[] = {
    {"time"}, {"duration"}, {"spread"}, {"weightCenter"}, {"intensityScale"}, {"weightOffset"}, {"syncOffset"},
    {"shape"}, {"intensityMode"}, {"userShapeIdx"},
    {"locked"}, {"muted", WriteIf::Set}, {"hero"}, {"stereo"},
    {"gain"}, {"alloy"}, {"alloyMorph"},
    {"pitchVariation", WriteIf::Positive}, {"scaleTuneOverride", WriteIf::Set}, {"fillLayers", WriteIf::Positive},
    {"reverbSend", WriteIf::NotNegative},
    {"groupOverride"}, {"sceneLink", WriteIf::NotNegative}, {"sceneCrossfade", WriteIf::Always, EventOnlyIf::SceneLinked},
    {"sceneFill", WriteIf::Set},
    {"keywords"},
    {"pinnedFile", WriteIf::Always, EventOnlyIf::Pinned}, {"pinnedFileId", WriteIf::Set, EventOnlyIf::Pinned},
    {"pinnedFiles", WriteIf::Set}, {"pinnedFileIds", WriteIf::Set, EventOnlyIf::BedLayers},
    {"bedLayerLoop", WriteIf::Set, EventOnlyIf::BedLayers}, {"bedLayerWeight", WriteIf::Set, EventOnlyIf::BedLayers},
    {"clipWeight", WriteIf::NotNegative, EventOnlyIf::Clip}, {"clipSourceOffset", WriteIf::Always, EventOnlyIf::Clip},
    {"clipSourceDuration", WriteIf::Always, EventOnlyIf::Clip}, {"clipFadeIn", WriteIf::Always, EventOnlyIf::Clip},
    {"clipFadeOut", WriteIf::Always, EventOnlyIf::Clip},
    {"folder", WriteIf::Set}, {"libFilter", WriteIf::Set}, {"presetName", WriteIf::Set},
    {"markerSource", WriteIf::Set}, {"weight"}, {"intensity"},
    {"hasTraceGain", WriteIf::Set}, {"traceGain", WriteIf::Always, EventOnlyIf::TraceGain},
};
static_assert(FormKeysHaveRows(kEventForm, kEventOnlyFields), "every key of an event's object has a row");

void WriteEventAt(JsonWriter& w, const Event& e, const PathMap& paths, int bounceDepth);

void WriteEventMembersAt(JsonWriter& w, const Event& e, const PathMap& paths, int bounceDepth) {
    for (const EventFormKey& k : kEventForm)
        if (EventHas(e, k.only)) WriteFieldByKey(w, k.key, e, kEventOnlyFields, paths, k.when);
    if (!e.bounceSource.empty() && bounceDepth < kMaxBounceDepth) {
        w.beginArray("bounceSource");
        for (const Event& source : e.bounceSource) WriteEventAt(w, source, paths, bounceDepth + 1);
        w.endArray();
    }
}

void WriteEventAt(JsonWriter& w, const Event& e, const PathMap& paths, int bounceDepth) {
    w.beginObject();
    WriteEventMembersAt(w, e, paths, bounceDepth);
    w.endObject();
}

Event ReadEventAt(const JsonValue& o, const std::string& projectFolder, bool legacy, int userShapeCount,
                  int bounceDepth) {
    Event e;
    ReadFields(kEventSettingsFields, o, static_cast<EventSettings&>(e), projectFolder);
    ReadFields(kEventOnlyFields, o, e, projectFolder);
    if (legacy && e.shape == EventShape::Contour) {
        // Old projects stored alloyed Blooms as a shape of their own; an "alloy" key of
        // the file still has the last word.
        e.shape = EventShape::Bloom;
        e.alloy = JsonBoolAt(o, "alloy", true);
    }
    ClampEventSettings(e);
    e.hasPinnedFile = !e.pinnedFile.empty();
    if (!e.hasTraceGain) e.traceGain = kNeutralCurve;

    if (bounceDepth < kMaxBounceDepth) {
        for (const JsonValue& item : JsonMember(o, "bounceSource").items)
            if (item.IsObject())
                e.bounceSource.push_back(ReadEventAt(item, projectFolder, legacy, userShapeCount, bounceDepth + 1));
    }

    if (e.userShapeIdx < 0 || e.userShapeIdx >= userShapeCount) e.userShapeIdx = -1;
    return e;
}

}  // namespace

const std::string& MapPath(const PathMap& map, const std::string& path) {
    auto found = map.find(path);
    return found == map.end() ? path : found->second;
}

std::string ResolveProjectPath(const std::string& path, const std::string& projectFolder) {
    if (path.empty() || projectFolder.empty()) return path;
    std::filesystem::path relative(path);
    if (!relative.is_relative()) return path;
    std::filesystem::path joined = std::filesystem::path(projectFolder) / relative;
    std::error_code error;
    if (std::filesystem::exists(joined, error)) return joined.string();
    return path;
}

void ReadCurveJson(const JsonValue& value, std::span<float> curve, float neutral) {
    if (!value.IsArray()) {
        std::fill(curve.begin(), curve.end(), neutral);
        return;
    }
    size_t count = std::min(value.items.size(), curve.size());
    for (size_t i = 0; i < count; ++i) curve[i] = JsonAsFloat(value.items[i], neutral);
}

// ---------------------------------------------------------------------------------------
// Event

void WriteEventJson(JsonWriter& writer, const Event& event, const PathMap& paths) {
    WriteEventAt(writer, event, paths, 0);
}

void WriteEventMembers(JsonWriter& writer, const Event& event, const PathMap& paths) {
    WriteEventMembersAt(writer, event, paths, 0);
}

Event ReadEventJson(const JsonValue& object, const std::string& projectFolder, bool legacy, int userShapeCount) {
    return ReadEventAt(object, projectFolder, legacy, userShapeCount, 0);
}

// ---------------------------------------------------------------------------------------
// Layer

void WriteLayerJson(JsonWriter& writer, const Layer& layer, const PathMap& paths) {
    writer.beginObject();
    WriteLayerMembers(writer, layer, paths);
    writer.endObject();
}

void WriteLayerMembers(JsonWriter& w, const Layer& l, const PathMap& paths) {
    w.writeString("name", l.name);
    w.writeString("filepath", MapPath(paths, l.filepath));
    if (!l.fileId.empty()) w.writeString("fileId", l.fileId);
    w.writeFloat("sourceOffset", l.sourceOffset);
    w.writeFloat("sourceDuration", l.sourceDuration);
    w.writeFloat("startTime", l.startTime);
    w.writeFloat("duration", l.duration);
    w.writeFloat("weight", l.weight);
    w.writeInt("eventIdx", l.eventIdx);
    w.writeInt("track", l.track);
    w.writeInt("group", l.group);
    w.writeInt("groupTrack", l.groupTrack);
    w.writeInt("procMode", static_cast<int>(l.procMode));
    w.writeFloat("fadeIn", l.fadeIn);
    w.writeFloat("fadeOut", l.fadeOut);
    w.writeFloat("audioSyncOffset", l.audioSyncOffset);
    w.writeBool("stereo", l.stereo);
    w.writeBool("muted", l.muted);
    if (l.fillLoop) w.writeBool("fillLoop", true);
    w.writeFloat("layerGain", l.layerGain);
    if (std::fabs(l.userVolume - 1.0f) > 0.001f) w.writeFloat("userVolume", l.userVolume);
    if (std::fabs(l.normGain - 1.0f) > 0.001f) w.writeFloat("normGain", l.normGain);
    if (std::fabs(l.pitchShift) > 0.001f) w.writeFloat("pitchShift", l.pitchShift);
    if (std::fabs(l.pitchVarShift) > 0.001f) w.writeFloat("pitchVarShift", l.pitchVarShift);
    if (std::fabs(l.deconOffset) > 0.0001f) w.writeFloat("deconOffset", l.deconOffset);
    if (l.hasIntGain) w.writeCurve("intGain", l.intGain);
    if (l.hasFillGain) w.writeCurve("fillGain", l.fillGain);
    if (l.hasDeconGain) w.writeCurve("deconGain", l.deconGain);
    if (l.hasEqGains) w.writeCurve("eqGains", l.eqGains);
    if (l.procMode == ProcMode::Fill && !l.fillChunks.empty()) {
        w.beginArray("fillChunks");
        for (const FillChunk& chunk : l.fillChunks) {
            w.beginObject();
            w.writeInt("s", chunk.s);
            w.writeInt("l", chunk.l);
            w.writeInt("x", chunk.x);
            w.endObject();
        }
        w.endArray();
    }
    if (l.procMode == ProcMode::Alloy) {
        w.writeFloat("alloyMorph", l.alloyMorph);
        w.writeInt("alloyAlgo", l.alloyAlgo);
        WriteAlloyPart(w, "alloyMid", l.alloyMid, paths);
        WriteAlloyPart(w, "alloyHigh", l.alloyHigh, paths);
        WriteAlloyPart(w, "alloyEnv", l.alloyEnv, paths);
    }
    // The layer's earlier sounds, so "Previous sound" still works after the project is
    // saved and opened again. Readers that do not know the key skip it. Each entry is
    // a snapshot of a sound and carries no history of its own.
    if (!l.history.entries.empty()) {
        w.beginObject("history");
        w.writeInt("cursor", l.history.cursor);
        w.beginArray("entries");
        for (const Layer& entry : l.history.entries) {
            w.beginObject();
            Layer sound = entry;
            sound.history = {};
            WriteLayerMembers(w, sound, paths);
            w.endObject();
        }
        w.endArray();
        w.endObject();
    }
}

namespace {

// A layer without its history: what a history entry holds.
Layer ReadLayerSound(const JsonValue& o, const std::string& projectFolder) {
    Layer l;
    l.name = Text(o, "name");
    l.filepath = ResolveProjectPath(Text(o, "filepath"), projectFolder);
    l.fileId = Text(o, "fileId");
    l.sourceOffset = Float(o, "sourceOffset", 0.0f);
    l.sourceDuration = Float(o, "sourceDuration", 0.0f);
    l.startTime = Float(o, "startTime", 0.0f);
    l.duration = Float(o, "duration", 0.0f);
    l.weight = Float(o, "weight", 0.0f);
    l.eventIdx = Int(o, "eventIdx", 0);
    l.track = Int(o, "track", 0);
    // The mix group indexes the three group gains and sends; keep it one of them.
    l.group = std::clamp(Int(o, "group", 0), 0, kGroupCount - 1);
    l.groupTrack = Int(o, "groupTrack", 0);
    l.procMode = static_cast<ProcMode>(std::clamp(Int(o, "procMode", 0), 0, kProcModeCount - 1));
    l.fadeIn = Float(o, "fadeIn", 0.01f);
    l.fadeOut = Float(o, "fadeOut", 0.05f);
    l.audioSyncOffset = Float(o, "audioSyncOffset", 0.0f);
    l.stereo = Bool(o, "stereo", false);
    l.muted = Bool(o, "muted", false);
    l.fillLoop = Bool(o, "fillLoop", false);
    l.layerGain = Float(o, "layerGain", 1.0f);
    l.userVolume = std::clamp(Float(o, "userVolume", 1.0f), 0.0f, 2.0f);
    l.normGain = std::clamp(Float(o, "normGain", 1.0f), 0.001f, 8.0f);
    l.pitchShift = Float(o, "pitchShift", 0.0f);
    l.pitchVarShift = Float(o, "pitchVarShift", 0.0f);
    l.deconOffset = Float(o, "deconOffset", 0.0f);
    constexpr float kUnbounded = std::numeric_limits<float>::max();
    l.hasIntGain = ReadOptionalCurve(o, "intGain", l.intGain, 1.0f, -kUnbounded, kUnbounded);
    l.hasFillGain = ReadOptionalCurve(o, "fillGain", l.fillGain, 1.0f, 0.0f, 2.8f);
    l.hasDeconGain = ReadOptionalCurve(o, "deconGain", l.deconGain, 1.0f, -kUnbounded, kUnbounded);
    l.hasEqGains = ReadOptionalCurve(o, "eqGains", l.eqGains, 1.0f, 0.1f, 1.0f);
    for (const JsonValue& item : JsonMember(o, "fillChunks").items) {
        if (!item.IsObject()) continue;
        FillChunk chunk;
        chunk.s = Int(item, "s", 0);
        chunk.l = Int(item, "l", 0);
        chunk.x = Int(item, "x", 0);
        l.fillChunks.push_back(chunk);
    }
    l.alloyMorph = Float(o, "alloyMorph", 1.0f);
    l.alloyAlgo = std::clamp(Int(o, "alloyAlgo", 0), 0, 3);
    l.alloyMid = ReadAlloyPart(JsonMember(o, "alloyMid"), projectFolder);
    l.alloyHigh = ReadAlloyPart(JsonMember(o, "alloyHigh"), projectFolder);
    l.alloyEnv = ReadAlloyPart(JsonMember(o, "alloyEnv"), projectFolder);
    return l;
}

// A cursor that points nowhere in the entries read shows the live sound.
LayerHistory ReadLayerHistory(const JsonValue& o, const std::string& projectFolder) {
    LayerHistory history;
    for (const JsonValue& item : JsonMember(o, "entries").items)
        if (item.IsObject()) history.entries.push_back(ReadLayerSound(item, projectFolder));
    const int cursor = Int(o, "cursor", -1);
    history.cursor = cursor >= 0 && cursor < static_cast<int>(history.entries.size()) ? cursor : -1;
    return history;
}

}  // namespace

Layer ReadLayerJson(const JsonValue& o, const std::string& projectFolder) {
    Layer l = ReadLayerSound(o, projectFolder);
    l.history = ReadLayerHistory(JsonMember(o, "history"), projectFolder);
    return l;
}

// ---------------------------------------------------------------------------------------
// User shape, scene, group

void WriteUserShapeJson(JsonWriter& writer, const UserShape& shape) {
    writer.beginObject();
    WriteUserShapeMembers(writer, shape);
    writer.endObject();
}

void WriteUserShapeMembers(JsonWriter& w, const UserShape& s) {
    w.writeString("name", s.name);
    w.writeString("keywords", s.keywords);
    w.writeFloat("defaultDuration", s.defaultDuration);
    w.writeFloat("spread", s.spread);
    w.writeFloat("weightCenter", s.weightCenter);
    w.writeFloat("intensityScale", s.intensityScale);
    w.writeFloat("weightOffset", s.weightOffset);
    w.writeFloat("syncOffset", s.syncOffset);
    w.writeCurve("weight", s.weight);
    w.writeCurve("intensity", s.intensity);
}

UserShape ReadUserShapeJson(const JsonValue& o) {
    UserShape s;
    s.name = Text(o, "name", kNameMaxBytes);
    s.keywords = Text(o, "keywords", kKeywordsMaxBytes);
    s.defaultDuration = Float(o, "defaultDuration", 2.0f);
    s.spread = Float(o, "spread", 0.3f);
    s.weightCenter = Float(o, "weightCenter", 0.3f);
    s.intensityScale = Float(o, "intensityScale", 1.0f);
    s.weightOffset = Float(o, "weightOffset", 0.0f);
    s.syncOffset = Float(o, "syncOffset", 0.0f);
    ReadCurveJson(JsonMember(o, "weight"), s.weight, 0.5f);
    ReadCurveJson(JsonMember(o, "intensity"), s.intensity, 0.5f);
    return s;
}

void WriteSceneJson(JsonWriter& writer, const Scene& scene) {
    writer.beginObject();
    WriteSceneMembers(writer, scene);
    writer.endObject();
}

void WriteSceneMembers(JsonWriter& w, const Scene& s) {
    w.writeString("name", s.name);
    w.writeFloat("inTime", s.inTime);
    w.writeFloat("outTime", s.outTime);
    w.writeString("keywords", s.keywords);
}

Scene ReadSceneJson(const JsonValue& o) {
    Scene s;
    s.name = Text(o, "name", kNameMaxBytes);
    s.inTime = Float(o, "inTime", 0.0f);
    s.outTime = Float(o, "outTime", 0.0f);
    s.keywords = Text(o, "keywords", kSceneKeywordsMaxBytes);
    return s;
}

void WriteGroupJson(JsonWriter& writer, const Group& group) {
    writer.beginObject();
    WriteGroupMembers(writer, group);
    writer.endObject();
}

void WriteGroupMembers(JsonWriter& w, const Group& g) {
    w.writeString("name", g.name);
    w.writeInt("trackCount", g.trackCount);
    w.writeBool("stereo", g.stereo);
    w.writeFloat("targetLUFS", g.targetLUFS);
}

Group ReadGroupJson(const JsonValue& o) {
    Group g;
    g.name = Text(o, "name", kGroupNameMaxBytes);
    g.trackCount = std::clamp(Int(o, "trackCount", 4), 1, 32);
    g.stereo = Bool(o, "stereo", false);
    g.targetLUFS = std::clamp(Float(o, "targetLUFS", -24.0f), -60.0f, -6.0f);
    return g;
}

// ---------------------------------------------------------------------------------------
// Timeline settings

void ReadTimelineSettingsJson(const JsonValue& o, TimelineSettings& s) {
    s.totalDuration = Float(o, "totalDuration", s.totalDuration);
    s.fps = Float(o, "fps", s.fps);
    s.startTC = Float(o, "startTC", s.startTC);
    s.maxEventDuration = Float(o, "maxEventDuration", s.maxEventDuration);
    s.scaleType = Int(o, "scaleType", s.scaleType);
    s.scaleRoot = Int(o, "scaleRoot", s.scaleRoot);
    s.pitchShiftProb = Int(o, "pitchShiftProb", s.pitchShiftProb);
    s.freqShiftIntensity = Int(o, "freqShiftIntensity", s.freqShiftIntensity);
    s.reverseProb = Int(o, "reverseProb", s.reverseProb);
    s.normalizeLUFS = Bool(o, "normalizeLUFS", s.normalizeLUFS);
    s.alloyAlgorithm = Int(o, "alloyAlgorithm", s.alloyAlgorithm);
    s.alloyTransferDepth = Float(o, "alloyTransferDepth", s.alloyTransferDepth);
    s.alloyAttackGraft = Float(o, "alloyAttackGraft", s.alloyAttackGraft);
    s.alloyMicroPitch = Float(o, "alloyMicroPitch", s.alloyMicroPitch);
    s.alloyFilterBands = Int(o, "alloyFilterBands", s.alloyFilterBands);
    ClampTimelineSettings(s);
}

}  // namespace morvane
