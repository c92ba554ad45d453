#include "model/recipes.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "model/json.h"
#include "model/preferences.h"
#include "model/timeline_json.h"
#include "model/undo.h"
#include "platform/folders.h"
#include "version.h"

namespace morvane {

namespace fs = std::filesystem;

namespace {

constexpr const char* kRecipeFormat = "MorvaneRecipe";
constexpr const char* kChainFormat = "MorvaneChain";

// ---------------------------------------------------------------------------------------
// Writing

std::string Hex(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

void WriteTextList(JsonWriter& w, std::string_view key, const std::vector<std::string>& values) {
    w.writeStringArray(key, values);
}

void WriteHashes(JsonWriter& w, const std::vector<uint64_t>& values) {
    std::vector<std::string> texts;
    for (uint64_t value : values) texts.push_back(Hex(value));
    w.writeStringArray("pinnedFileHashes", texts);
}

void WriteSizes(JsonWriter& w, const std::vector<uint64_t>& values) {
    std::vector<std::string> texts;
    for (uint64_t value : values) texts.push_back(std::to_string(value));
    w.writeStringArray("pinnedFileSizes", texts);
}

void WriteBedLists(JsonWriter& w, const EventPreset& p) {
    std::vector<int> loops(p.bedLayerLoop.begin(), p.bedLayerLoop.end());
    w.writeIntArray("bedLayerLoop", loops);
    w.writeFloatArray("bedLayerWeight", p.bedLayerWeight);
}

std::string FormatRecipe(const EventPreset& p) {
    JsonWriter w;
    w.beginObject();
    w.writeString("format", kRecipeFormat);
    w.writeInt("formatVersion", kRecipeFormatVersion);
    w.writeString("createdBy", MORVANE_VERSION);
    w.writeString("name", p.name);
    w.writeString("keywords", p.keywords);
    w.writeInt("shape", static_cast<int>(p.shape));
    w.writeInt("intensityMode", p.intensityMode);
    w.writeFloat("duration", p.duration);
    w.writeFloat("syncOffset", p.syncOffset);
    w.writeFloat("spread", p.spread);
    w.writeFloat("weightCenter", p.weightCenter);
    w.writeFloat("intensityScale", p.intensityScale);
    w.writeFloat("weightOffset", p.weightOffset);
    w.writeFloat("alloyMorph", p.alloyMorph);
    w.writeFloat("pitchVariation", p.pitchVariation);
    w.writeFloat("reverbSend", p.reverbSend);
    w.writeInt("fillLayers", p.fillLayers);
    w.writeInt("groupOverride", p.groupOverride);
    w.writeBool("stereo", p.stereo);
    w.writeString("pinnedFile", p.pinnedFile);
    w.writeString("pinnedFileId", p.pinnedFileId);
    w.writeFloat("clipSourceOffset", p.clipSourceOffset);
    w.writeFloat("clipSourceDuration", p.clipSourceDuration);
    w.writeFloat("clipFadeIn", p.clipFadeIn);
    w.writeFloat("clipFadeOut", p.clipFadeOut);
    w.writeFloat("clipPitchRate", p.clipPitchRate);
    w.writeBool("clipReverse", p.clipReverse);
    w.writeFloat("clipWeight", p.clipWeight);
    w.writeString("libFilter", p.libFilter);
    WriteTextList(w, "pinnedFiles", p.pinnedFiles);
    WriteTextList(w, "pinnedFileIds", p.pinnedFileIds);
    WriteHashes(w, p.pinnedFileHashes);
    WriteSizes(w, p.pinnedFileSizes);
    WriteBedLists(w, p);
    w.writeCurve("weight", p.weight);
    w.writeCurve("intensity", p.intensity);
    w.endObject();
    w.out += '\n';
    return std::move(w.out);
}

void WriteChainEvent(JsonWriter& w, const ChainEvent& c) {
    const EventPreset& p = c.settings;
    w.beginObject();
    w.writeFloat("relTime", c.relTime);
    w.writeFloat("syncOffset", p.syncOffset);
    w.writeString("keywords", p.keywords);
    w.writeInt("shape", static_cast<int>(p.shape));
    w.writeInt("intensityMode", p.intensityMode);
    w.writeFloat("duration", p.duration);
    w.writeFloat("spread", p.spread);
    w.writeFloat("weightCenter", p.weightCenter);
    w.writeFloat("intensityScale", p.intensityScale);
    w.writeFloat("weightOffset", p.weightOffset);
    w.writeFloat("alloyMorph", p.alloyMorph);
    w.writeFloat("pitchVariation", p.pitchVariation);
    w.writeFloat("reverbSend", p.reverbSend);
    w.writeFloat("gain", p.gain);
    w.writeInt("fillLayers", p.fillLayers);
    w.writeInt("groupOverride", p.groupOverride);
    w.writeBool("stereo", p.stereo);
    w.writeBool("hero", c.hero);
    w.writeBool("alloy", c.alloy);
    w.writeString("pinnedFile", p.pinnedFile);
    w.writeString("pinnedFileId", p.pinnedFileId);
    w.writeFloat("clipSourceOffset", p.clipSourceOffset);
    w.writeFloat("clipSourceDuration", p.clipSourceDuration);
    w.writeFloat("clipFadeIn", p.clipFadeIn);
    w.writeFloat("clipFadeOut", p.clipFadeOut);
    w.writeFloat("clipPitchRate", p.clipPitchRate);
    w.writeBool("clipReverse", p.clipReverse);
    WriteTextList(w, "pinnedFiles", p.pinnedFiles);
    WriteTextList(w, "pinnedFileIds", p.pinnedFileIds);
    WriteHashes(w, p.pinnedFileHashes);
    WriteSizes(w, p.pinnedFileSizes);
    WriteBedLists(w, p);
    w.writeString("libFilter", p.libFilter);
    w.writeCurve("weight", p.weight);
    w.writeCurve("intensity", p.intensity);
    w.endObject();
}

std::string FormatChain(const std::string& name, const std::vector<ChainEvent>& events) {
    JsonWriter w;
    w.beginObject();
    w.writeString("format", kChainFormat);
    w.writeInt("formatVersion", kChainFormatVersion);
    w.writeString("createdBy", MORVANE_VERSION);
    w.writeString("name", name);
    w.beginArray("events");
    for (const ChainEvent& event : events) WriteChainEvent(w, event);
    w.endArray();
    w.endObject();
    w.out += '\n';
    return std::move(w.out);
}

bool WriteInto(const std::string& folder, const std::string& name, const char* extension,
               const std::string& text) {
    if (folder.empty()) return false;
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (!IsFolder(folder)) return false;
    return WriteFileAtomically(JoinPath(folder, RecipeFileName(name) + extension), text);
}

// ---------------------------------------------------------------------------------------
// Reading

float Float(const JsonValue& o, std::string_view key, float fallback) {
    return JsonAsFloat(JsonMember(o, key), fallback);
}
int Int(const JsonValue& o, std::string_view key, int fallback) { return JsonAsInt(JsonMember(o, key), fallback); }
bool Bool(const JsonValue& o, std::string_view key, bool fallback) {
    return JsonAsBool(JsonMember(o, key), fallback);
}

// The newer key when it holds a number, else the older one, else the fallback.
float FloatRenamed(const JsonValue& o, std::string_view key, std::string_view oldKey, float fallback) {
    const JsonValue& value = JsonMember(o, key);
    if (value.IsNumber()) return JsonAsFloat(value, fallback);
    return Float(o, oldKey, fallback);
}

// A hexadecimal or decimal text; anything that does not convert whole is 0.
uint64_t ParseUnsigned(const std::string& text, int base) {
    uint64_t value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value, base);
    return (ec == std::errc() && ptr == end) ? value : 0;
}

bool ReadFileText(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) return false;
    text = buffer.str();
    return true;
}

int FileVersion(const JsonValue& root) {
    const JsonValue& formatVersion = JsonMember(root, "formatVersion");
    if (formatVersion.IsNumber()) return JsonAsInt(formatVersion, 0);
    return Int(root, "version", 0);
}

// The preset keys shared by recipes and chain events.
void ReadPresetKeys(const JsonValue& o, EventPreset& p) {
    p.keywords = CutText(JsonAsText(JsonMember(o, "keywords")), kKeywordsMaxBytes);
    p.shape = EventShapeFromInt(Int(o, "shape", static_cast<int>(p.shape)));
    p.intensityMode = std::clamp(Int(o, "intensityMode", p.intensityMode), 0, 2);
    p.duration = Float(o, "duration", p.duration);
    p.syncOffset = Float(o, "syncOffset", p.syncOffset);
    p.spread = Float(o, "spread", p.spread);
    p.weightCenter = Float(o, "weightCenter", p.weightCenter);
    p.intensityScale = Float(o, "intensityScale", p.intensityScale);
    p.weightOffset = Float(o, "weightOffset", p.weightOffset);
    p.alloyMorph = Float(o, "alloyMorph", p.alloyMorph);
    p.pitchVariation = std::clamp(Float(o, "pitchVariation", p.pitchVariation), 0.0f, 1.0f);
    p.reverbSend = Float(o, "reverbSend", p.reverbSend);
    p.gain = std::clamp(Float(o, "gain", p.gain), 0.0f, 1.0f);
    p.fillLayers = std::clamp(Int(o, "fillLayers", p.fillLayers), 0, kMaxFillLayers);
    p.groupOverride = Int(o, "groupOverride", p.groupOverride);
    if (p.groupOverride < 0 || p.groupOverride >= kGroupCount) p.groupOverride = -1;
    p.stereo = Bool(o, "stereo", p.stereo);
    p.pinnedFile = CutText(JsonAsText(JsonMember(o, "pinnedFile")), kPinnedFileMaxBytes);
    p.pinnedFileId = JsonAsText(JsonMember(o, "pinnedFileId"));
    p.clipSourceOffset = FloatRenamed(o, "clipSourceOffset", "placeSourceOffset", p.clipSourceOffset);
    p.clipSourceDuration = FloatRenamed(o, "clipSourceDuration", "placeSourceDuration", p.clipSourceDuration);
    p.clipFadeIn = FloatRenamed(o, "clipFadeIn", "placeFadeIn", p.clipFadeIn);
    p.clipFadeOut = FloatRenamed(o, "clipFadeOut", "placeFadeOut", p.clipFadeOut);
    p.clipPitchRate = Float(o, "clipPitchRate", p.clipPitchRate);
    p.clipReverse = Bool(o, "clipReverse", p.clipReverse);
    p.clipWeight = Float(o, "clipWeight", p.clipWeight);
    p.libFilter = CutText(JsonAsText(JsonMember(o, "libFilter")), kLibFilterMaxBytes);
    for (const JsonValue& item : JsonMember(o, "pinnedFiles").items)
        if (!JsonAsText(item).empty()) p.pinnedFiles.push_back(JsonAsText(item));
    for (const JsonValue& item : JsonMember(o, "pinnedFileIds").items) p.pinnedFileIds.push_back(JsonAsText(item));
    for (const JsonValue& item : JsonMember(o, "pinnedFileHashes").items)
        p.pinnedFileHashes.push_back(ParseUnsigned(JsonAsText(item), 16));
    for (const JsonValue& item : JsonMember(o, "pinnedFileSizes").items)
        p.pinnedFileSizes.push_back(ParseUnsigned(JsonAsText(item), 10));
    for (const JsonValue& item : JsonMember(o, "bedLayerLoop").items)
        p.bedLayerLoop.push_back(JsonAsInt(item, 0) != 0 ? 1 : 0);
    for (const JsonValue& item : JsonMember(o, "bedLayerWeight").items) {
        float weight = JsonAsFloat(item, -1.0f);
        p.bedLayerWeight.push_back(weight >= 0.0f ? std::min(weight, 1.0f) : -1.0f);
    }
    ReadCurveJson(JsonMember(o, "weight"), p.weight, 0.5f);
    ReadCurveJson(JsonMember(o, "intensity"), p.intensity, 0.5f);
}

template <typename List, typename Load>
void LoadFolder(const std::string& folder, const char* extension, List& list, Load load) {
    list.clear();
    if (folder.empty()) return;
    std::error_code ec;
    std::vector<std::string> paths;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code statusError;
        if (!it->is_regular_file(statusError)) continue;
        std::string ext = it->path().extension().string();
        if (ext == extension || ext == ".json") paths.push_back(it->path().string());
    }
    std::sort(paths.begin(), paths.end());
    for (const std::string& path : paths) load(path);
}

std::string UniqueFolderName(const Project& project, const std::string& wanted) {
    std::string base = CutText(wanted.empty() ? std::string("Chain") : wanted, kNameMaxBytes);
    auto used = [&](const std::string& name) {
        const TimelineState& t = project.timeline;
        if (std::find(t.linkedGroups.begin(), t.linkedGroups.end(), name) != t.linkedGroups.end()) return true;
        for (const Event& e : t.events)
            if (e.folder == name) return true;
        return false;
    };
    if (!used(base)) return base;
    for (int n = 2;; ++n) {
        std::string suffix = " " + std::to_string(n);
        std::string candidate = CutText(base, kNameMaxBytes - suffix.size()) + suffix;
        if (!used(candidate)) return candidate;
    }
}

Event EventFromPreset(const EventPreset& preset, float time) {
    Event e;
    e.time = time;
    ApplyRecipe(e, preset);
    return e;
}

}  // namespace

std::string RecipeFileName(std::string_view name) {
    std::string stem;
    for (char c : name) {
        bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ' ||
                    c == '-' || c == '_';
        if (keep) stem += c;
    }
    return stem.empty() ? std::string("recipe") : stem;
}

bool SaveRecipe(const EventPreset& preset, const std::string& folder) {
    return WriteInto(folder.empty() ? RecipesFolder() : folder, preset.name, ".mvrecipe", FormatRecipe(preset));
}

bool SaveChain(const std::string& name, const std::vector<ChainEvent>& events, const std::string& folder) {
    return WriteInto(folder.empty() ? ChainsFolder() : folder, name, ".mvchain", FormatChain(name, events));
}

EventPreset LoadRecipe(const std::string& path) {
    EventPreset preset;
    std::string text;
    if (!ReadFileText(path, text)) return preset;
    JsonValue root = JsonParse(text);
    if (!root.IsObject()) return preset;
    int version = FileVersion(root);
    if (version > kRecipeFormatVersion)
        std::fprintf(stderr,
                     "Recipe '%s' was saved by a newer version (format %d, this build supports %d). "
                     "Loading what we can.\n",
                     path.c_str(), version, kRecipeFormatVersion);
    preset.name = CutText(JsonAsText(JsonMember(root, "name")), kNameMaxBytes);
    if (preset.name.empty()) preset.name = CutText(fs::path(path).stem().string(), kNameMaxBytes);
    ReadPresetKeys(root, preset);
    preset.filePath = path;
    return preset;
}

Chain LoadChain(const std::string& path) {
    Chain chain;
    std::string text;
    if (!ReadFileText(path, text)) return chain;
    JsonValue root = JsonParse(text);
    if (!root.IsObject()) return chain;
    int version = FileVersion(root);
    if (version > kChainFormatVersion)
        std::fprintf(stderr,
                     "Chain '%s' was saved by a newer version (format %d, this build supports %d). "
                     "Loading what we can.\n",
                     path.c_str(), version, kChainFormatVersion);
    chain.name = CutText(JsonAsText(JsonMember(root, "name")), kNameMaxBytes);
    if (chain.name.empty()) chain.name = CutText(fs::path(path).stem().string(), kNameMaxBytes);
    for (const JsonValue& item : JsonMember(root, "events").items) {
        if (!item.IsObject()) continue;
        ChainEvent event;
        event.relTime = std::max(Float(item, "relTime", 0.0f), 0.0f);
        event.hero = Bool(item, "hero", false);
        event.alloy = Bool(item, "alloy", false);
        ReadPresetKeys(item, event.settings);
        chain.events.push_back(std::move(event));
    }
    chain.filePath = path;
    return chain;
}

std::vector<std::shared_ptr<EventPreset>>& Recipes() {
    static std::vector<std::shared_ptr<EventPreset>> recipes;
    return recipes;
}

std::vector<Chain>& Chains() {
    static std::vector<Chain> chains;
    return chains;
}

void LoadAllRecipes(const std::string& folder) {
    auto& list = Recipes();
    LoadFolder(folder.empty() ? RecipesFolder() : folder, ".mvrecipe", list, [&](const std::string& path) {
        EventPreset preset = LoadRecipe(path);
        if (!preset.filePath.empty()) list.push_back(std::make_shared<EventPreset>(std::move(preset)));
    });
    std::stable_sort(list.begin(), list.end(), [](const auto& a, const auto& b) { return a->name < b->name; });
}

void LoadAllChains(const std::string& folder) {
    auto& list = Chains();
    LoadFolder(folder.empty() ? ChainsFolder() : folder, ".mvchain", list, [&](const std::string& path) {
        Chain chain = LoadChain(path);
        if (!chain.filePath.empty()) list.push_back(std::move(chain));
    });
    std::stable_sort(list.begin(), list.end(), [](const Chain& a, const Chain& b) { return a.name < b.name; });
}

EventPreset PresetFromEvent(const Event& e, const std::string& name) {
    EventPreset p;
    p.name = CutText(name, kNameMaxBytes);
    p.keywords = e.keywords;
    p.shape = e.shape;
    p.intensityMode = e.intensityMode;
    p.duration = e.duration;
    p.syncOffset = e.syncOffset;
    p.spread = e.spread;
    p.weightCenter = e.weightCenter;
    p.intensityScale = e.intensityScale;
    p.weightOffset = e.weightOffset;
    p.alloyMorph = e.alloyMorph;
    p.pitchVariation = e.pitchVariation;
    p.reverbSend = e.reverbSend;
    p.gain = e.gain;
    p.fillLayers = e.fillLayers;
    p.groupOverride = e.groupOverride;
    p.stereo = e.stereo;
    if (e.hasPinnedFile) {
        p.pinnedFile = e.pinnedFile;
        p.pinnedFileId = e.pinnedFileId;
    }
    p.clipSourceOffset = e.clipSourceOffset;
    p.clipSourceDuration = e.clipSourceDuration;
    p.clipFadeIn = e.clipFadeIn;
    p.clipFadeOut = e.clipFadeOut;
    p.clipWeight = e.clipWeight;
    p.libFilter = e.libFilter;
    p.pinnedFiles = e.pinnedFiles;
    p.pinnedFileIds = e.pinnedFileIds;
    p.bedLayerLoop = e.bedLayerLoop;
    p.bedLayerWeight = e.bedLayerWeight;
    p.weight = e.weight;
    p.intensity = e.intensity;
    return p;
}

void ApplyRecipe(Event& e, const EventPreset& p) {
    e.keywords = CutText(p.keywords, kKeywordsMaxBytes);
    e.shape = EventShapeFromInt(static_cast<int>(p.shape));
    e.intensityMode = std::clamp(p.intensityMode, 0, 2);
    e.duration = p.duration;
    e.syncOffset = p.syncOffset;
    e.spread = p.spread;
    e.weightCenter = p.weightCenter;
    e.intensityScale = p.intensityScale;
    e.weightOffset = p.weightOffset;
    e.alloyMorph = p.alloyMorph;
    e.pitchVariation = std::clamp(p.pitchVariation, 0.0f, 1.0f);
    e.reverbSend = p.reverbSend;
    e.gain = std::clamp(p.gain, 0.0f, 1.0f);
    e.fillLayers = std::clamp(p.fillLayers, 0, kMaxFillLayers);
    e.groupOverride = (p.groupOverride >= 0 && p.groupOverride < kGroupCount) ? p.groupOverride : -1;
    e.stereo = p.stereo;
    e.pinnedFile = CutText(p.pinnedFile, kPinnedFileMaxBytes);
    e.hasPinnedFile = !e.pinnedFile.empty();
    e.pinnedFileId = p.pinnedFileId;
    e.clipSourceOffset = p.clipSourceOffset;
    e.clipSourceDuration = p.clipSourceDuration;
    e.clipFadeIn = p.clipFadeIn;
    e.clipFadeOut = p.clipFadeOut;
    e.clipWeight = p.clipWeight;
    e.libFilter = CutText(p.libFilter, kLibFilterMaxBytes);
    e.pinnedFiles = p.pinnedFiles;
    e.pinnedFileIds = p.pinnedFileIds;
    if (e.pinnedFileIds.size() > e.pinnedFiles.size()) e.pinnedFileIds.resize(e.pinnedFiles.size());
    e.bedLayerLoop = p.bedLayerLoop;
    e.bedLayerWeight = p.bedLayerWeight;
    e.weight = p.weight;
    e.intensity = p.intensity;
    e.presetName = CutText(p.name, kNameMaxBytes);
}

ChainEvent ChainEventFromEvent(const Event& event, float chainStart) {
    ChainEvent c;
    c.settings = PresetFromEvent(event, std::string());
    c.relTime = event.time - chainStart;
    c.hero = event.hero;
    c.alloy = event.alloy;
    return c;
}

std::vector<ChainEvent> ChainEventsFromEvents(const std::vector<Event>& events) {
    std::vector<ChainEvent> chain;
    if (events.empty()) return chain;
    float start = events.front().time;
    for (const Event& e : events) start = std::min(start, e.time);
    for (const Event& e : events) chain.push_back(ChainEventFromEvent(e, start));
    return chain;
}

int PlaceRecipe(Project& project, const EventPreset& preset, float playhead) {
    PushUndo(project);
    Event event = EventFromPreset(preset, playhead);
    std::lock_guard<std::mutex> lock(timelineMutex);
    project.timeline.events.push_back(std::move(event));
    return static_cast<int>(project.timeline.events.size()) - 1;
}

std::vector<int> PlaceChain(Project& project, const Chain& chain, float playhead, bool asGroup) {
    std::vector<int> placed;
    if (chain.events.empty()) return placed;
    PushUndo(project);
    std::string folder;
    if (asGroup) folder = UniqueFolderName(project, chain.name);
    std::vector<Event> events;
    for (const ChainEvent& c : chain.events) {
        Event e = EventFromPreset(c.settings, playhead + c.relTime);
        // A chain event is not a recipe application: it names no recipe.
        e.presetName.clear();
        e.hero = c.hero;
        e.alloy = c.alloy;
        if (asGroup) e.folder = folder;
        events.push_back(std::move(e));
    }
    {
        std::lock_guard<std::mutex> lock(timelineMutex);
        for (Event& e : events) {
            placed.push_back(static_cast<int>(project.timeline.events.size()));
            project.timeline.events.push_back(std::move(e));
        }
    }
    if (asGroup) project.timeline.linkedGroups.push_back(folder);
    return placed;
}

std::vector<int> PlaceChain(Project& project, const Chain& chain, float playhead) {
    return PlaceChain(project, chain, playhead, Prefs().chainsImportAsGroup);
}

}  // namespace morvane
