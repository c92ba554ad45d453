#include "trace/markers.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "platform/regular_file.h"

namespace morvane {

namespace {

constexpr size_t kMarkerTextMaxBytes = 127;
// The session text of a whole feature runs to a few megabytes; anything far larger is
// not one, and reading it would only fill the memory.
constexpr size_t kSessionTextMaxBytes = size_t{64} << 20;

std::string_view Trim(std::string_view s) {
    const char* ws = " \t\r\n";
    const size_t first = s.find_first_not_of(ws);
    if (first == std::string_view::npos) return {};
    const size_t last = s.find_last_not_of(ws);
    return s.substr(first, last - first + 1);
}

bool Contains(std::string_view line, std::string_view what) { return line.find(what) != std::string_view::npos; }

// The number at the start of text (after blanks); false when there is none or it is not finite.
bool LeadingNumber(std::string_view text, double* value) {
    text = Trim(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    const auto r = std::from_chars(text.data(), text.data() + text.size(), *value);
    return r.ec == std::errc() && std::isfinite(*value);
}

bool LeadingInteger(std::string_view text, long long* value) {
    text = Trim(text);
    const auto r = std::from_chars(text.data(), text.data() + text.size(), *value);
    return r.ec == std::errc();
}

// "hh:mm:ss:ff" (";" also accepted before the frames, as Pro Tools writes drop-frame).
bool ParseTimecode(std::string_view text, double fps, double* seconds) {
    long long parts[4];
    const char* p = text.data();
    const char* end = p + text.size();
    for (int i = 0; i < 4; ++i) {
        while (p < end && (*p == ' ' || *p == '\t')) ++p;
        const auto r = std::from_chars(p, end, parts[i]);
        if (r.ec != std::errc() || std::llabs(parts[i]) > 100000000LL) return false;
        p = r.ptr;
        if (i < 3) {
            if (p >= end || (*p != ':' && *p != ';')) return false;
            ++p;
        }
    }
    *seconds = parts[0] * 3600.0 + parts[1] * 60.0 + parts[2] + parts[3] / fps;
    return true;
}

std::vector<std::string_view> Split(std::string_view line, char separator) {
    std::vector<std::string_view> fields;
    size_t start = 0;
    while (true) {
        const size_t at = line.find(separator, start);
        fields.push_back(Trim(line.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start)));
        if (at == std::string_view::npos) break;
        start = at + 1;
    }
    return fields;
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// A recipe is named in a marker when its name, compared without case, is one of the
// marker's comma-separated parts, or appears in the name as whole words ("Door slam heavy"
// names the recipe "door slam"). The longest such name wins, so "Door slam heavy" beats
// "Door" when both exist.
const MarkerRecipe* RecipeNamedIn(std::string_view name, std::span<const MarkerRecipe> recipes) {
    const std::string lowered = Lower(name);
    const MarkerRecipe* best = nullptr;
    size_t bestLength = 0;
    for (const MarkerRecipe& recipe : recipes) {
        const std::string wanted = Lower(Trim(recipe.name));
        if (wanted.empty() || wanted.size() <= bestLength) continue;
        auto isWordChar = [](char c) {
            return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || static_cast<unsigned char>(c) >= 0x80;
        };
        for (size_t at = lowered.find(wanted); at != std::string::npos; at = lowered.find(wanted, at + 1)) {
            const bool startOk = at == 0 || !isWordChar(lowered[at - 1]);
            const size_t after = at + wanted.size();
            const bool endOk = after >= lowered.size() || !isWordChar(lowered[after]);
            if (startOk && endOk) {
                best = &recipe;
                bestLength = wanted.size();
                break;
            }
        }
    }
    return best;
}

struct ParseState {
    int sampleRate = 48000;
    double frameRate = 25.0;
    bool headerSeen = false;
    bool inMarkers = false;
    int commentsColumn = -1;  // from the column header when it names COMMENTS
};

}  // namespace

void ImportSessionMarkersText(std::string_view text, float defaultFps, std::vector<TraceEvent>& events,
                              std::vector<Scene>* scenes, std::span<const MarkerRecipe> recipes) {
    events.clear();
    if (scenes) scenes->clear();
    ParseState st;
    if (defaultFps > 0 && std::isfinite(defaultFps)) st.frameRate = defaultFps;
    if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    double lastTime = 0;

    size_t pos = 0;
    while (pos < text.size()) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string_view::npos) eol = text.size();
        const std::string_view line = text.substr(pos, eol - pos);
        pos = eol + 1;

        if (Contains(line, "SAMPLE RATE:")) {
            double rate = 0;
            // Rates beyond any real session are ignored rather than truncated into nonsense.
            if (LeadingNumber(line.substr(line.find(':') + 1), &rate) && rate > 0 && rate < 1e7)
                st.sampleRate = static_cast<int>(rate);
            continue;
        }
        if (Contains(line, "TIMECODE FORMAT:")) {
            double rate = 0;
            if (LeadingNumber(line.substr(line.find(':') + 1), &rate) && rate > 0 && rate < 1e6) st.frameRate = rate;
            continue;
        }
        if (Contains(line, "M A R K E R S  L I S T I N G") || Contains(line, "MARKERS LISTING")) {
            st.inMarkers = true;
            st.headerSeen = false;
            continue;
        }
        if (st.inMarkers && (Contains(line, "T R A C K") || Contains(line, "P L U G-I N S") || Contains(line, "O N L I N E")))
            break;
        if (Contains(line, "#") && Contains(line, "LOCATION")) {
            st.headerSeen = true;
            st.commentsColumn = -1;
            const std::vector<std::string_view> columns = Split(line, '\t');
            for (size_t i = 0; i < columns.size(); ++i)
                if (columns[i] == "COMMENTS") st.commentsColumn = static_cast<int>(i);
            continue;
        }
        if (!st.headerSeen) continue;

        const std::vector<std::string_view> f = Split(line, '\t');
        if (f.size() < 5 || f[4].empty()) continue;
        const std::string_view name = f[4];
        // The column header tells where the comments are; without it, the position of the
        // comments in the 8-column export.
        std::string_view comment;
        if (st.commentsColumn > 4 && static_cast<size_t>(st.commentsColumn) < f.size()) comment = f[st.commentsColumn];
        else if (st.commentsColumn < 0 && f.size() >= 8) comment = f[7];

        double time = 0;
        long long samples = 0;
        double fromTimecode = 0;
        if (LeadingInteger(f[2], &samples) && st.sampleRate >= 1) time = static_cast<double>(samples) / st.sampleRate;
        else if (ParseTimecode(f[1], st.frameRate, &fromTimecode)) time = fromTimecode;
        // A marker before the session's zero has no place on the timeline.
        if (!std::isfinite(time) || time < 0) time = 0;
        time = std::min(time, static_cast<double>(std::numeric_limits<float>::max()));
        lastTime = std::max(lastTime, time);

        const std::vector<std::string_view> tokens = Split(name, ',');
        if (scenes && Lower(tokens[0]) == "scene") {
            Scene scene;
            scene.name = CutText(tokens.size() > 1 ? tokens[1] : std::string_view("Scene"), kNameMaxBytes);
            if (scene.name.empty()) scene.name = "Scene";
            std::string note;
            for (size_t i = 2; i < tokens.size(); ++i) {
                if (tokens[i].empty()) continue;
                if (!note.empty()) note += ", ";
                note += tokens[i];
            }
            if (!comment.empty()) {
                if (!note.empty()) note += " ";
                note += comment;
            }
            scene.keywords = CutText(note, kSceneKeywordsMaxBytes);
            scene.inTime = scene.outTime = static_cast<float>(time);
            scenes->push_back(std::move(scene));
            continue;
        }

        TraceEvent e;
        e.time = static_cast<float>(time);
        e.imported = true;
        e.name = CutText(name, kMarkerTextMaxBytes);
        std::string keywords(name);
        if (!comment.empty()) keywords += " " + std::string(comment);
        e.keywords = CutText(keywords, kMarkerTextMaxBytes);
        // A marker is a spot the editor placed by hand: full confidence, a 3 s stretch to
        // build into, a low weight centre, and gain, sync and spread left automatic (-1) so
        // the event keeps its own defaults unless a recipe says otherwise.
        e.type = kTraceSpot;
        e.confidence = 1.0f;
        e.intensity = 1.0f;
        e.suggestedShape = 0;
        e.suggestedDuration = 3.0f;
        e.suggestedWeightCenter = 0.3f;
        e.suggestedGain = -1.0f;
        e.suggestedSyncOffset = -1.0f;
        e.suggestedSpread = -1.0f;
        if (const MarkerRecipe* recipe = RecipeNamedIn(name, recipes)) {
            e.presetName = CutText(recipe->name, kNameMaxBytes);
            e.suggestedShape = std::clamp(recipe->shape, 0, 6);
            if (recipe->duration > 0) e.suggestedDuration = recipe->duration;
            e.suggestedSyncOffset = recipe->syncOffset;
            e.suggestedSpread = recipe->spread;
            e.suggestedWeightCenter = recipe->weightCenter;
            e.suggestedGain = recipe->gain;
        }
        events.push_back(std::move(e));
    }

    if (scenes && !scenes->empty()) {
        // A scene runs until the next one begins; the last one until the last marker of the
        // session (the caller stretches it to the timeline's end when it knows it).
        std::stable_sort(scenes->begin(), scenes->end(),
                         [](const Scene& a, const Scene& b) { return a.inTime < b.inTime; });
        for (size_t i = 0; i + 1 < scenes->size(); ++i) (*scenes)[i].outTime = (*scenes)[i + 1].inTime;
        scenes->back().outTime = std::max(scenes->back().inTime, static_cast<float>(lastTime));
    }
    std::stable_sort(events.begin(), events.end(), [](const TraceEvent& a, const TraceEvent& b) { return a.time < b.time; });
}

void ImportSessionMarkers(const std::string& path, float defaultFps, std::vector<TraceEvent>& events,
                          std::vector<Scene>* scenes, std::span<const MarkerRecipe> recipes) {
    events.clear();
    if (scenes) scenes->clear();
    std::string text;
    if (!ReadRegularFile(path, text, nullptr, kSessionTextMaxBytes)) return;
    ImportSessionMarkersText(text, defaultFps, events, scenes, recipes);
}

MarkerRecipe MarkerRecipeFromPreset(const EventPreset& p) {
    MarkerRecipe r;
    r.name = p.name;
    r.keywords = p.keywords;
    r.shape = static_cast<int>(p.shape);
    r.duration = p.duration;
    r.syncOffset = p.syncOffset;
    r.spread = p.spread;
    r.weightCenter = p.weightCenter;
    r.gain = p.gain;
    return r;
}

std::vector<MarkerRecipe> MarkerRecipesFromPresets(const std::vector<std::shared_ptr<EventPreset>>& presets) {
    std::vector<MarkerRecipe> out;
    for (const std::shared_ptr<EventPreset>& p : presets)
        if (p) out.push_back(MarkerRecipeFromPreset(*p));
    return out;
}

Event EventFromTraceEvent(const TraceEvent& p) {
    Event e;
    e.time = p.time;
    if (p.suggestedDuration > 0) e.duration = p.suggestedDuration;
    e.shape = EventShapeFromInt(p.suggestedShape);
    if (p.suggestedSpread >= 0) e.spread = p.suggestedSpread;
    if (p.suggestedWeightCenter >= 0) e.weightCenter = p.suggestedWeightCenter;
    if (p.suggestedSyncOffset >= 0) e.syncOffset = std::min(p.suggestedSyncOffset, e.duration);
    if (p.suggestedGain >= 0) e.gain = std::clamp(p.suggestedGain, 0.0f, 1.0f);
    e.keywords = CutText(p.keywords, kKeywordsMaxBytes);
    e.presetName = CutText(p.presetName, kNameMaxBytes);
    // A fill proposal is a Fill event, which puts it in the background group.
    if (p.type == kTraceFill) e.shape = EventShape::Fill;
    if (p.hasIntensityCurve) {
        e.intensity = p.intensityCurve;
        for (float& v : e.intensity) v = std::clamp(v, 0.0f, 1.0f);
    }
    if (p.intensity > 0) e.intensityScale = std::clamp(p.intensity, 0.05f, 1.0f);
    return e;
}

}  // namespace morvane
