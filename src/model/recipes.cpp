#include "model/recipes.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "model/event_fields.h"
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
// The fields of a recipe and a chain event beyond the shared settings, and their files'
// key orders

constexpr FieldRow<EventPreset> kPresetOnlyFields[] = {
    {.key = "clipPitchRate", .member = &EventPreset::clipPitchRate},
    {.key = "clipReverse", .member = &EventPreset::clipReverse},
    {.key = "pinnedFileHashes", .member = &EventPreset::pinnedFileHashes, .rule = FieldRule::Hex},
    {.key = "pinnedFileSizes", .member = &EventPreset::pinnedFileSizes, .rule = FieldRule::Decimal},
};

constexpr FieldRow<ChainEvent> kChainOnlyFields[] = {
    {.key = "relTime", .member = &ChainEvent::relTime, .lo = 0},
    {.key = "hero", .member = &ChainEvent::hero},
    {.key = "alloy", .member = &ChainEvent::alloy},
};

// After format, formatVersion, createdBy and name. gain is read but not written.
constexpr std::string_view kRecipeForm[] = {
    "keywords", "shape", "intensityMode", "duration", "syncOffset", "spread", "weightCenter", "intensityScale",
    "weightOffset", "alloyMorph", "pitchVariation", "reverbSend", "fillLayers", "groupOverride", "stereo",
    "pinnedFile", "pinnedFileId", "clipSourceOffset", "clipSourceDuration", "clipFadeIn", "clipFadeOut",
    "clipPitchRate", "clipReverse", "clipWeight", "libFilter", "pinnedFiles", "pinnedFileIds", "pinnedFileHashes",
    "pinnedFileSizes", "bedLayerLoop", "bedLayerWeight", "weight", "intensity",
};
static_assert(FormKeysHaveRows(kRecipeForm, kPresetOnlyFields), "every key of a recipe has a row");

// Each element of a chain's "events". clipWeight is not kept in chains.
constexpr std::string_view kChainEventForm[] = {
    "relTime", "syncOffset", "keywords", "shape", "intensityMode", "duration", "spread", "weightCenter",
    "intensityScale", "weightOffset", "alloyMorph", "pitchVariation", "reverbSend", "gain", "fillLayers",
    "groupOverride", "stereo", "hero", "alloy", "pinnedFile", "pinnedFileId", "clipSourceOffset",
    "clipSourceDuration", "clipFadeIn", "clipFadeOut", "clipPitchRate", "clipReverse", "pinnedFiles",
    "pinnedFileIds", "pinnedFileHashes", "pinnedFileSizes", "bedLayerLoop", "bedLayerWeight", "libFilter", "weight",
    "intensity",
};
static_assert(FormKeysHaveRows(kChainEventForm, kChainOnlyFields, kPresetOnlyFields),
              "every key of a chain event has a row");

// ---------------------------------------------------------------------------------------
// Writing

std::string FormatRecipe(const EventPreset& p) {
    JsonWriter w;
    w.beginObject();
    w.writeString("format", kRecipeFormat);
    w.writeInt("formatVersion", kRecipeFormatVersion);
    w.writeString("createdBy", MORVANE_VERSION);
    w.writeString("name", p.name);
    for (std::string_view key : kRecipeForm) WriteFieldByKey(w, key, p, kPresetOnlyFields, {});
    w.endObject();
    w.out += '\n';
    return std::move(w.out);
}

void WriteChainEvent(JsonWriter& w, const ChainEvent& c) {
    w.beginObject();
    for (std::string_view key : kChainEventForm) {
        if (const FieldRow<ChainEvent>* row = FindField(kChainOnlyFields, key))
            WriteField(w, *row, c, {});
        else
            WriteFieldByKey(w, key, c.settings, kPresetOnlyFields, {});
    }
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
    return JsonIntAt(root, "version", 0);
}

// The preset keys shared by recipes and chain events.
void ReadPresetKeys(const JsonValue& o, EventPreset& p) {
    ReadFields(kEventSettingsFields, o, static_cast<EventSettings&>(p));
    ReadFields(kPresetOnlyFields, o, p);
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

std::string RecipeFilePath(std::string_view name, const std::string& folder) {
    return JoinPath(folder.empty() ? RecipesFolder() : folder, RecipeFileName(name) + ".mvrecipe");
}

std::string ChainFilePath(std::string_view name, const std::string& folder) {
    return JoinPath(folder.empty() ? ChainsFolder() : folder, RecipeFileName(name) + ".mvchain");
}

bool DeleteSavedFile(const std::string& path) {
    std::error_code ec;
    // Only a file of ours: a folder or anything else under that name is left alone.
    if (path.empty() || !fs::is_regular_file(fs::symlink_status(path, ec))) return false;
    return fs::remove(path, ec) && !ec;
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
    preset.name = CutText(JsonTextAt(root, "name"), kNameMaxBytes);
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
    chain.name = CutText(JsonTextAt(root, "name"), kNameMaxBytes);
    if (chain.name.empty()) chain.name = CutText(fs::path(path).stem().string(), kNameMaxBytes);
    for (const JsonValue& item : JsonMember(root, "events").items) {
        if (!item.IsObject()) continue;
        ChainEvent event;
        ReadFields(kChainOnlyFields, item, event);
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
    static_cast<EventSettings&>(p) = e;
    // A pinned path the event does not use is not part of what it sounds like.
    if (!e.hasPinnedFile) {
        p.pinnedFile.clear();
        p.pinnedFileId.clear();
    }
    p.name = CutText(name, kNameMaxBytes);
    return p;
}

void ApplyRecipe(Event& e, const EventPreset& p) {
    static_cast<EventSettings&>(e) = p;
    ClampEventSettings(e);
    e.hasPinnedFile = !e.pinnedFile.empty();
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
